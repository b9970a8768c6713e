// Errors of the SQL layer, numbered and worded as DAO reports them.
//
// Everything that goes wrong with a statement, a criteria text or a sort clause leaves this
// layer as `SqlError`, a `core::EOleException` whose error code is DAO's error number (3075,
// 3061, 3464, ...) and whose description is DAO's text with the offending name or expression
// filled in. The DAO layer passes these on as they are; it only sets the source when the
// object it reports for differs ("DAO.Recordset" for a Find, "DAO.QueryDef" for a stored
// query). Where DAO's text names "the Microsoft Jet database engine" ours says "the database
// engine".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.h"

namespace jetsql {

// DAO error numbers this layer raises.
namespace dao_error {
inline constexpr int kInvalidProcedureCall = 5;  // VBA: a function argument out of range
inline constexpr int kOverflow = 6;              // VBA: a result too large for its type
inline constexpr int kDivisionByZero = 11;       // VBA
inline constexpr int kInvalidPattern = 93;       // VBA: a malformed LIKE pattern
inline constexpr int kInvalidUseOfNull = 94;     // VBA: Null given to CStr, CLng, ...
inline constexpr int kOutOfStringSpace = 14;     // VBA: a text too long to build
inline constexpr int kObjectExists = 3012;
inline constexpr int kTooFewParameters = 3061;
inline constexpr int kUnknownName = 3070;
inline constexpr int kQueryExpression = 3075;  // "<phrase> in query expression '<text>'."
inline constexpr int kExpression = 3077;       // "<phrase> in expression."
inline constexpr int kInputTableNotFound = 3078;
inline constexpr int kAmbiguousField = 3079;
inline constexpr int kUndefinedFunction = 3085;
inline constexpr int kDistinctOrderBy = 3093;
inline constexpr int kAggregateInWhere = 3096;
inline constexpr int kNotInAggregate = 3122;
inline constexpr int kInvalidName = 3125;
inline constexpr int kInvalidBracketing = 3126;
inline constexpr int kInvalidStatement = 3129;
inline constexpr int kFromClause = 3131;
inline constexpr int kJoinOperation = 3135;
inline constexpr int kOrderByClause = 3138;
inline constexpr int kSelectStatement = 3141;
inline constexpr int kCharactersAfterEnd = 3142;
inline constexpr int kWhereClause = 3145;
inline constexpr int kCannotSortMemo = 3117;
inline constexpr int kInvalidOperation = 3219;
inline constexpr int kInvalidTopArgument = 3308;
inline constexpr int kQueryTooComplex = 3360;
inline constexpr int kConversionError = 3421;
inline constexpr int kTypeMismatch = 3464;
}  // namespace dao_error

inline constexpr std::string_view kSourceDatabase = "DAO.Database";
inline constexpr std::string_view kSourceRecordset = "DAO.Recordset";
inline constexpr std::string_view kSourceQueryDef = "DAO.QueryDef";

class SqlError : public core::EOleException {
 public:
  SqlError(int number, const std::string& description, std::string_view source = kSourceDatabase)
      : core::EOleException(description, number, std::string(source)) {}
  int Number() const { return static_cast<int>(ErrorCode()); }
  // DAO reports error n as HRESULT 0x800A0000 | n.
  std::int32_t HResult() const {
    return static_cast<std::int32_t>(0x800A0000u | static_cast<std::uint32_t>(Number()));
  }
};

// The text of a DAO error with its inserts in order ("Too few parameters. Expected 2.").
// Unknown numbers give "Error <n>."; missing inserts stay empty.
std::string ErrorText(int number, std::string_view insert1 = {}, std::string_view insert2 = {});

[[noreturn]] void ThrowError(int number, std::string_view insert1 = {},
                             std::string_view insert2 = {},
                             std::string_view source = kSourceDatabase);

}  // namespace jetsql

// DAO's error numbers and texts, and the error record DBEngine.Errors keeps.
//
// Callers recognise failures by DAO's numbers (3167 "Record is deleted." above all), and the
// texts reach the user, so both are DAO's own; where DAO's wording names its engine, ours
// says "the database engine". Every failing call of the object model records one `Error` in
// DBEngine.Errors and throws `core::EOleException` with the same number, source and text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.h"

namespace dao {

// The numbers this layer raises (the SQL layer raises its own, passed on unchanged).
namespace err {
inline constexpr int kOutOfMemory = 7;
inline constexpr int kInvalidArgument = 3001;
inline constexpr int kTableExists = 3010;
inline constexpr int kObjectNotFound = 3011;
inline constexpr int kObjectExists = 3012;
inline constexpr int kNotAnIndex = 3015;
inline constexpr int kNoCurrentIndex = 3019;
inline constexpr int kUpdateWithoutEdit = 3020;
inline constexpr int kNoCurrentRecord = 3021;
inline constexpr int kDuplicateKey = 3022;
inline constexpr int kFileNotFound = 3024;
inline constexpr int kDiskFull = 3026;
inline constexpr int kReadOnly = 3027;
inline constexpr int kInvalidPassword = 3031;
inline constexpr int kDiskError = 3043;
inline constexpr int kInvalidPath = 3044;
inline constexpr int kFileInUse = 3045;
inline constexpr int kRecordTooLarge = 3047;
inline constexpr int kCorruptDatabase = 3049;
inline constexpr int kCannotOpenFile = 3051;
inline constexpr int kNullInIndex = 3058;
inline constexpr int kTooFewParameters = 3061;
inline constexpr int kCannotExecuteSelect = 3065;
inline constexpr int kInputTableNotFound = 3078;
inline constexpr int kFieldNotUpdatable = 3113;
inline constexpr int kInvalidName = 3125;
inline constexpr int kNotValidBookmark = 3159;
inline constexpr int kNoInstallableIsam = 3170;
inline constexpr int kFieldTooSmall = 3163;
inline constexpr int kFieldCannotBeUpdated = 3164;
inline constexpr int kRecordDeleted = 3167;
inline constexpr int kDatabaseExists = 3204;
inline constexpr int kTableInUse = 3211;
inline constexpr int kInvalidOperation = 3219;
inline constexpr int kNotSupported = 3251;
inline constexpr int kInvalidFieldType = 3259;
inline constexpr int kNoFieldDefined = 3264;
inline constexpr int kItemNotFound = 3265;
inline constexpr int kFieldAlreadyAppended = 3266;
inline constexpr int kPropertyReadOnlyOnceAppended = 3268;
inline constexpr int kIndexAlreadyAppended = 3269;
inline constexpr int kPropertyNotFound = 3270;
inline constexpr int kTooManyIndexFields = 3277;
inline constexpr int kPrimaryKeyExists = 3283;
inline constexpr int kIndexExists = 3284;
inline constexpr int kPropertyTooLarge = 3309;
inline constexpr int kRequiredNull = 3314;
inline constexpr int kZeroLengthString = 3315;
inline constexpr int kUnrecognizedFormat = 3343;
inline constexpr int kNumericOverflow = 3349;
inline constexpr int kNameExists = 3367;
inline constexpr int kBuiltInProperty = 3384;
inline constexpr int kNullProperty = 3385;
inline constexpr int kObjectInvalid = 3420;
inline constexpr int kConversionError = 3421;
inline constexpr int kInvalidLocale = 3424;
}  // namespace err

// Error.Source of each object kind.
namespace source {
inline constexpr std::string_view kDBEngine = "DAO.DBEngine";
inline constexpr std::string_view kWorkspace = "DAO.Workspace";
inline constexpr std::string_view kDatabase = "DAO.Database";
inline constexpr std::string_view kRecordset = "DAO.Recordset";
inline constexpr std::string_view kField = "DAO.Field";
inline constexpr std::string_view kFields = "DAO.Fields";
inline constexpr std::string_view kTableDef = "DAO.TableDef";
inline constexpr std::string_view kTableDefs = "DAO.TableDefs";
inline constexpr std::string_view kIndex = "DAO.Index";
inline constexpr std::string_view kIndexes = "DAO.Indexes";
inline constexpr std::string_view kQueryDef = "DAO.QueryDef";
inline constexpr std::string_view kQueryDefs = "DAO.QueryDefs";
inline constexpr std::string_view kParameter = "DAO.Parameter";
inline constexpr std::string_view kParameters = "DAO.Parameters";
inline constexpr std::string_view kProperty = "DAO.Property";
inline constexpr std::string_view kProperties = "DAO.Properties";
inline constexpr std::string_view kErrors = "DAO.Errors";
inline constexpr std::string_view kWorkspaces = "DAO.Workspaces";
inline constexpr std::string_view kDatabases = "DAO.Databases";
inline constexpr std::string_view kRecordsets = "DAO.Recordsets";
inline constexpr std::string_view kContainers = "DAO.Containers";
inline constexpr std::string_view kRelations = "DAO.Relations";
inline constexpr std::string_view kUsers = "DAO.Users";
inline constexpr std::string_view kGroups = "DAO.Groups";
}  // namespace source

// The help file DAO names for the engine's messages; each message's context is
// 5,000,000 + its number.
inline constexpr const char* kHelpFile = "jeterr40.chm";
std::int32_t HelpContextOf(int number);

// DAO's text for an error number with its inserts in place ("Table 'T' already exists.").
// Numbers this layer does not know give "Error <n>.".
std::string ErrorText(int number, std::string_view insert1 = {}, std::string_view insert2 = {});

// One entry of DBEngine.Errors.
struct Error {
  std::int32_t Number = 0;
  std::string Source;
  std::string Description;
  std::string HelpFile;
  std::int32_t HelpContext = 0;
};

// The exception of a DAO error with its text, source, help file and context.
core::EOleException MakeError(int number, std::string_view source, std::string_view insert1 = {},
                              std::string_view insert2 = {});

// DAO reports error n as HRESULT 0x800A0000 | n.
inline std::int32_t HResultOf(int number) {
  return static_cast<std::int32_t>(0x800A0000u | static_cast<std::uint32_t>(number));
}

}  // namespace dao

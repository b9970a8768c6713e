#include "jetsql/errors.h"

#include <array>
#include <utility>

namespace jetsql {
namespace {

// '|' marks where the inserts go, in order.
constexpr std::array<std::pair<int, std::string_view>, 35> kTexts{{
    {dao_error::kInvalidProcedureCall, "Invalid procedure call or argument."},
    {dao_error::kOverflow, "Overflow."},
    {dao_error::kDivisionByZero, "Division by zero."},
    {dao_error::kInvalidPattern, "Invalid pattern string."},
    {dao_error::kInvalidUseOfNull, "Invalid use of Null."},
    {dao_error::kOutOfStringSpace, "Out of string space."},
    {dao_error::kQueryTooComplex, "Query is too complex."},
    {3027, "Cannot update. Database or object is read-only."},
    {dao_error::kObjectExists, "Object '|' already exists."},
    {dao_error::kTooFewParameters, "Too few parameters. Expected |."},
    {dao_error::kUnknownName,
     "The database engine does not recognize '|' as a valid field name or expression."},
    {dao_error::kQueryExpression, "| in query expression '|'."},
    {dao_error::kExpression, "| in expression."},
    {dao_error::kInputTableNotFound,
     "The database engine cannot find the input table or query '|'. Make sure it exists and "
     "that its name is spelled correctly."},
    {dao_error::kAmbiguousField,
     "The specified field '|' could refer to more than one table listed in the FROM clause of "
     "your SQL statement."},
    {dao_error::kUndefinedFunction, "Undefined function '|' in expression."},
    {dao_error::kDistinctOrderBy, "ORDER BY clause (|) conflicts with DISTINCT."},
    {dao_error::kAggregateInWhere, "Cannot have aggregate function in WHERE clause (|)."},
    {dao_error::kNotInAggregate,
     "You tried to execute a query that does not include the specified expression '|' as part "
     "of an aggregate function."},
    {dao_error::kInvalidName,
     "'|' is not a valid name. Make sure that it does not include invalid characters or "
     "punctuation and that it is not too long."},
    {dao_error::kInvalidBracketing, "Invalid bracketing of name '|'."},
    {dao_error::kInvalidStatement,
     "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or 'UPDATE'."},
    {dao_error::kFromClause, "Syntax error in FROM clause."},
    {dao_error::kJoinOperation, "Syntax error in JOIN operation."},
    {dao_error::kOrderByClause, "Syntax error in ORDER BY clause."},
    {dao_error::kSelectStatement,
     "The SELECT statement includes a reserved word or an argument name that is misspelled or "
     "missing, or the punctuation is incorrect."},
    {dao_error::kCharactersAfterEnd, "Characters found after end of SQL statement."},
    {dao_error::kWhereClause, "Syntax error in WHERE clause."},
    {dao_error::kCannotSortMemo, "Cannot sort on Memo or OLE Object '|'."},
    {dao_error::kInvalidOperation, "Invalid operation."},
    {dao_error::kInvalidTopArgument, "Invalid TOP argument in select query."},
    {dao_error::kConversionError, "Data type conversion error."},
    {dao_error::kTypeMismatch, "Data type mismatch in criteria expression."},
    {3001, "Invalid argument."},
    {3265, "Item not found in this collection."},
}};

}  // namespace

std::string ErrorText(int number, std::string_view insert1, std::string_view insert2) {
  std::string_view pattern;
  for (const auto& [n, text] : kTexts) {
    if (n == number) {
      pattern = text;
      break;
    }
  }
  if (pattern.empty()) return "Error " + std::to_string(number) + ".";
  std::string out;
  out.reserve(pattern.size() + insert1.size() + insert2.size());
  int used = 0;
  for (char c : pattern) {
    if (c != '|') {
      out += c;
      continue;
    }
    out += used == 0 ? insert1 : insert2;
    ++used;
  }
  return out;
}

void ThrowError(int number, std::string_view insert1, std::string_view insert2,
                std::string_view source) {
  throw SqlError(number, ErrorText(number, insert1, insert2), source);
}

}  // namespace jetsql

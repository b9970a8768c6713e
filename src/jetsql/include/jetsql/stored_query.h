// Stored queries as Access keeps them: one MSysQueries row per part of the statement
// (parameters, options, tables, columns, joins, conditions, groupings, orderings), from which
// Access rebuilds the SQL it shows. We read every kind of query back into SQL text in
// Access's layout (clauses on their own lines, ";" at the end) and write SELECT queries as
// Access writes them, so that Access lists and opens them and mdbtools' mdb-queries reads
// them. This header knows nothing of pages; jet_catalog.h moves the rows in and out of a
// database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jetsql/select.h"

namespace jetsql {

// One MSysQueries row (ObjectId aside).
struct QueryRow {
  std::uint8_t attribute = 0;
  std::uint32_t order = 0;  // 1, 2, ... within the attribute (the Order column, big-endian)
  std::optional<std::string> name1, name2, expression;
  std::optional<std::int16_t> flag;
  std::optional<std::int32_t> lv_extra;
};

// MSysQueries.Attribute values.
namespace query_attribute {
inline constexpr std::uint8_t kStart = 0;
inline constexpr std::uint8_t kType = 1;
inline constexpr std::uint8_t kParameter = 2;
inline constexpr std::uint8_t kOptions = 3;
inline constexpr std::uint8_t kRemoteDatabase = 4;
inline constexpr std::uint8_t kTable = 5;
inline constexpr std::uint8_t kColumn = 6;
inline constexpr std::uint8_t kJoin = 7;
inline constexpr std::uint8_t kWhere = 8;
inline constexpr std::uint8_t kGroupBy = 9;
inline constexpr std::uint8_t kHaving = 10;
inline constexpr std::uint8_t kOrderBy = 11;
inline constexpr std::uint8_t kEnd = 255;
}  // namespace query_attribute

// DAO's QueryDef.Type codes (dbQSelect ... dbQAction); also MSysObjects.Flags of a query.
namespace query_type {
inline constexpr int kSelect = 0;
inline constexpr int kCrosstab = 16;
inline constexpr int kDelete = 32;
inline constexpr int kUpdate = 48;
inline constexpr int kAppend = 64;
inline constexpr int kMakeTable = 80;
inline constexpr int kDataDefinition = 96;
inline constexpr int kPassThrough = 112;
inline constexpr int kUnion = 128;
}  // namespace query_type

// "dbQSelect", "dbQCrosstab", ...; empty for a code DAO does not name.
std::string_view QueryTypeName(int type);

struct StoredQuery {
  std::string name;
  int type = query_type::kSelect;
  std::string sql;
  std::vector<ParameterInfo> parameters;  // from the PARAMETERS rows, direction input
};

// Rebuilds a query's SQL, type and parameters from its rows (in any order). Rows that do
// not fit together (a join naming a table that is not in the query) are left out of the
// text rather than failing: the rest of the query is still shown.
StoredQuery QueryFromRows(std::string name, std::vector<QueryRow> rows);

// The rows Access stores for a SELECT statement. Raises SqlError as parsing does, and 3219
// for statements that are not SELECT (only select queries can be created).
std::vector<QueryRow> RowsForSelect(std::string_view sql);

// A name as SQL needs it: in brackets when it is not a plain word.
std::string QuoteName(std::string_view name);

}  // namespace jetsql

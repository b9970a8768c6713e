// SELECT statements: prepared once against a catalog, executed with parameter values.
//
//   [PARAMETERS p type, ...;] SELECT [ALL|DISTINCT|DISTINCTROW] [TOP n [PERCENT]]
//     *|table.*|expr [AS alias], ... [FROM table [AS] [alias] [INNER|LEFT|RIGHT JOIN ... ON
//     ...], ...] [WHERE ...] [GROUP BY ...] [HAVING ...] [ORDER BY expr [ASC|DESC], ...]
//     [WITH OWNERACCESS OPTION] [;]
//
// A result from one table without DISTINCT or grouping keeps each row's locator, so a dynaset
// can re-read (and update) its rows; every other result holds its values. Equality and range
// conditions on the first column of an index narrow the scan to that index's range.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/variant.h"
#include "jetsql/source.h"
#include "jetsql/types.h"

namespace jetsql {

enum class ResultKind : std::uint8_t {
  kDynaset,   // keep locators where the result comes from one table
  kSnapshot,  // always copy the values
};

struct ParameterInfo {
  std::string name;
  DataType type = DataType::kValue;  // the declared type; kValue for an undeclared name
  int size = 0;                      // Text(n)
  int direction = 1;                 // dbParamInput
  bool declared = false;             // from the PARAMETERS clause
};

struct QueryOptions {
  ResultKind kind = ResultKind::kDynaset;
  // Values by parameter name (case-insensitive). Every parameter needs one, or the execution
  // fails with 3061 "Too few parameters. Expected n.".
  std::vector<std::pair<std::string, core::Variant>> parameters;
  std::int64_t max_records = 0;  // 0: no limit
};

struct ResultColumn {
  std::string name;  // the source column's name, the alias, or Expr1000, Expr1001, ...
  DataType type = DataType::kValue;
  std::string table;          // table (or alias) of a plain column, else empty
  std::string source_column;  // the table's column name for a plain column
  int base_column = -1;       // its position in the base table (one-table results)
  bool updatable = false;
};

class QueryResult {
 public:
  QueryResult();
  ~QueryResult();
  QueryResult(QueryResult&&) noexcept;
  QueryResult& operator=(QueryResult&&) noexcept;

  const std::vector<ResultColumn>& Columns() const;
  std::size_t RowCount() const;
  // A dynaset of one table without DISTINCT, grouping or aggregates.
  bool Updatable() const;
  // For results that keep locators: the table and each row's locator (else null / empty).
  std::shared_ptr<TableSource> BaseTable() const;
  const std::vector<RowLocator>& Locators() const;
  // The values of row i, read now (a locator's row that was deleted reads as all Null).
  std::vector<core::Variant> Row(std::size_t i) const;
  // The result's values for a base-table row (dynasets re-reading a row by locator).
  bool ReadByLocator(RowLocator locator, std::vector<core::Variant>& out) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend class PreparedQuery;
  friend QueryResult Refine(const QueryResult&, std::string_view, std::string_view, ResultKind);
};

class PreparedQuery;
namespace detail {
PreparedQuery PrepareAtDepth(std::string_view sql, Catalog& catalog, int depth);
}

class PreparedQuery {
 public:
  PreparedQuery();
  ~PreparedQuery();
  PreparedQuery(PreparedQuery&&) noexcept;
  PreparedQuery& operator=(PreparedQuery&&) noexcept;

  // Parses and binds the statement: syntax errors, unknown tables (3078), unknown functions
  // (3085), ambiguous names (3079) and misplaced aggregates are reported here.
  static PreparedQuery Prepare(std::string_view sql, Catalog& catalog);

  // Declared parameters first, in declaration order, then names that matched nothing.
  const std::vector<ParameterInfo>& Parameters() const;
  // The columns a result will have.
  const std::vector<ResultColumn>& Columns() const;
  QueryResult Execute(const QueryOptions& options = {}) const;
  const std::string& Sql() const;
  // How the rows will be found: "scan People", "index PrimaryKey of People", "join".
  std::string Plan() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend PreparedQuery detail::PrepareAtDepth(std::string_view, Catalog&, int);
};

// Prepare and execute in one step.
QueryResult ExecuteSelect(std::string_view sql, Catalog& catalog, const QueryOptions& options = {});

// The rows of `source` that satisfy `filter`, in `sort` order (either text may be empty): what
// OpenRecordset on a recordset with Filter and Sort set returns. A dynaset source keeps its
// locators. Errors as for CompiledExpression (kFilter) and SortSpec.
QueryResult Refine(const QueryResult& source, std::string_view filter, std::string_view sort,
                   ResultKind kind);

}  // namespace jetsql

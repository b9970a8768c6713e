// A SELECT statement as the compiler leaves it for the executor: its sources and join tree,
// the compiled clauses, outputs and sort keys, and the index range chosen for a one-table
// scan; and what a run of it produces. The compiler fills these once; running a statement only
// reads them, so a prepared query can run many times and results may keep its program.
// Private to the layer.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"
#include "compile.h"
#include "core/variant.h"
#include "jet/sort_order.h"
#include "jetsql/select.h"
#include "jetsql/source.h"
#include "jetsql/types.h"

namespace jetsql::detail {

// ---- the statement after binding ----

struct Source {
  std::string alias;
  std::shared_ptr<TableSource> table;    // a table of the catalog
  std::shared_ptr<PreparedQuery> query;  // or a stored query run when the statement runs
  std::vector<ColumnInfo> columns;
  std::size_t offset = 0;  // first column in the combined row
};

struct JoinTree {
  bool is_join = false;
  std::size_t source = 0;  // leaf
  JoinType type = JoinType::kInner;
  std::unique_ptr<JoinTree> left, right;
  ExprPtr on;
  int left_key = -1, right_key = -1;  // an equality the join can hash on
  std::vector<std::size_t> sources;   // every source under this node
};

struct Aggregate {
  AggregateKind kind;
  ExprPtr argument;
};

struct Output {
  ExprPtr expr;
  ResultColumn info;
};

struct OrderKey {
  ExprPtr expr;
  bool descending = false;
};

// An index range the scan can use: bounds on the first column of an index.
struct IndexPlan {
  bool use = false;
  std::size_t index = 0;
  DataType type = DataType::kValue;
  ExprPtr low, high;  // null when open
  bool low_inclusive = true, high_inclusive = true;
};

struct Compiled {
  std::string sql;
  jet::SortOrder text_order = jet::kGeneralSortOrder;  // what text compares in
  std::vector<ParameterInfo> parameters;
  std::vector<Source> sources;
  std::vector<std::unique_ptr<JoinTree>> from;  // comma-separated items
  std::vector<ColumnInfo> combined;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  std::vector<Aggregate> aggregates;
  bool grouped = false;  // GROUP BY or aggregates
  std::vector<Output> outputs;
  std::vector<OrderKey> order;
  Predicate predicate = Predicate::kAll;
  bool has_top = false, top_percent = false;
  double top = 0;
  IndexPlan plan;
};

// Parses and binds a statement; `depth` counts the stored queries it is nested in.
std::shared_ptr<Compiled> CompileSelect(std::string_view sql, Catalog& catalog, int depth);

// ---- what running a statement produces ----

using Rows = std::vector<std::vector<core::Variant>>;

struct ResultData {
  std::vector<ResultColumn> columns;
  bool updatable = false;
  std::shared_ptr<TableSource> base;
  std::vector<RowLocator> locators;
  Rows rows;
  bool by_locator = false;
  // What evaluates the outputs of a base row, for results that keep locators.
  std::shared_ptr<const Compiled> program;
  std::vector<core::Variant> parameters;
  double now = 0;
  jet::SortOrder text_order = jet::kGeneralSortOrder;
};

// Runs a compiled statement with the options' parameter values.
ResultData RunSelect(const std::shared_ptr<const Compiled>& compiled, const QueryOptions& options);

}  // namespace jetsql::detail

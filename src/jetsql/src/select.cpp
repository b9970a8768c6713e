#include "jetsql/select.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compile.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"
#include "jetsql/expression.h"
#include "select_plan.h"

namespace jetsql {

using core::Variant;
using detail::Compiled;
using detail::Output;
using detail::ResultData;
using detail::Source;

// ---- QueryResult ----

struct QueryResult::Impl : ResultData {};

QueryResult::QueryResult() : impl_(std::make_unique<Impl>()) {}
QueryResult::~QueryResult() = default;
QueryResult::QueryResult(QueryResult&&) noexcept = default;
QueryResult& QueryResult::operator=(QueryResult&&) noexcept = default;

const std::vector<ResultColumn>& QueryResult::Columns() const {
  return impl_->columns;
}

std::size_t QueryResult::RowCount() const {
  return impl_->by_locator ? impl_->locators.size() : impl_->rows.size();
}

bool QueryResult::Updatable() const {
  return impl_->updatable;
}

std::shared_ptr<TableSource> QueryResult::BaseTable() const {
  return impl_->by_locator ? impl_->base : nullptr;
}

const std::vector<RowLocator>& QueryResult::Locators() const {
  static const std::vector<RowLocator> none;
  return impl_->by_locator ? impl_->locators : none;
}

bool QueryResult::ReadByLocator(RowLocator locator, std::vector<Variant>& out) const {
  if (!impl_->by_locator || !impl_->base) return false;
  const CollationScope collation(impl_->text_order);
  std::vector<Variant> base;
  if (!impl_->base->Read(locator, base)) return false;
  detail::EvalState state;
  state.call.now = impl_->now;
  state.parameters = &impl_->parameters;
  const ValuesRow row(base);
  out.clear();
  for (const Output& o : impl_->program->outputs) out.push_back(o.expr->Eval(row, state));
  return true;
}

std::vector<Variant> QueryResult::Row(std::size_t i) const {
  if (!impl_->by_locator) return i < impl_->rows.size() ? impl_->rows[i] : std::vector<Variant>{};
  std::vector<Variant> out;
  if (i >= impl_->locators.size() || !ReadByLocator(impl_->locators[i], out)) {
    out.assign(impl_->columns.size(), Variant::Null());
  }
  return out;
}

// ---- PreparedQuery ----

struct PreparedQuery::Impl {
  std::shared_ptr<Compiled> compiled;
  std::vector<ResultColumn> columns;
};

PreparedQuery::PreparedQuery() = default;
PreparedQuery::~PreparedQuery() = default;
PreparedQuery::PreparedQuery(PreparedQuery&&) noexcept = default;
PreparedQuery& PreparedQuery::operator=(PreparedQuery&&) noexcept = default;

PreparedQuery PreparedQuery::Prepare(std::string_view sql, Catalog& catalog) {
  return detail::PrepareAtDepth(sql, catalog, 0);
}

const std::vector<ResultColumn>& PreparedQuery::Columns() const {
  static const std::vector<ResultColumn> none;
  return impl_ ? impl_->columns : none;
}

const std::vector<ParameterInfo>& PreparedQuery::Parameters() const {
  static const std::vector<ParameterInfo> none;
  return impl_ ? impl_->compiled->parameters : none;
}

std::string PreparedQuery::Plan() const {
  if (!impl_) return {};
  const Compiled& c = *impl_->compiled;
  if (c.from.empty()) return "none";
  if (c.sources.size() != 1 || c.from[0]->is_join) return "join";
  const Source& s = c.sources[0];
  if (!s.table) return "query " + s.alias;
  if (c.plan.use) {
    return "index " + s.table->Indexes().at(c.plan.index).name + " of " + s.table->Name();
  }
  return "scan " + s.table->Name();
}

const std::string& PreparedQuery::Sql() const {
  static const std::string none;
  return impl_ ? impl_->compiled->sql : none;
}

QueryResult PreparedQuery::Execute(const QueryOptions& options) const {
  if (!impl_) ThrowError(dao_error::kInvalidOperation);
  QueryResult result;
  static_cast<ResultData&>(*result.impl_) = detail::RunSelect(impl_->compiled, options);
  return result;
}

namespace detail {

PreparedQuery PrepareAtDepth(std::string_view sql, Catalog& catalog, int depth) {
  PreparedQuery q;
  q.impl_ = std::make_unique<PreparedQuery::Impl>();
  q.impl_->compiled = CompileSelect(sql, catalog, depth);
  for (const Output& o : q.impl_->compiled->outputs) q.impl_->columns.push_back(o.info);
  return q;
}

}  // namespace detail

QueryResult Refine(const QueryResult& source, std::string_view filter, std::string_view sort,
                   ResultKind kind) {
  std::vector<ColumnInfo> columns;
  const jet::SortOrder text_order = source.impl_->text_order;
  for (const ResultColumn& rc : source.Columns())
    columns.push_back({rc.name, rc.type, rc.table, text_order});
  const auto blank = [](std::string_view t) {
    return t.find_first_not_of(" \t\r\n") == std::string_view::npos;
  };
  CompiledExpression condition;
  if (!blank(filter)) condition = CompiledExpression::Compile(filter, columns, TextKind::kFilter);
  SortSpec order;
  if (!blank(sort)) order = SortSpec::Compile(sort, columns);

  const ResultData& from = *source.impl_;
  const bool keep = from.by_locator && kind == ResultKind::kDynaset;
  struct Item {
    std::string key;
    std::size_t index;
    std::vector<Variant> values;
  };
  std::vector<Item> items;
  for (std::size_t i = 0; i < source.RowCount(); ++i) {
    std::vector<Variant> row = source.Row(i);
    const ValuesRow view(row);
    if (condition.IsValid() && !condition.Matches(view)) continue;
    Item item;
    item.index = i;
    if (!order.IsEmpty()) order.AppendKey(view, item.key);
    if (!keep) item.values = std::move(row);
    items.push_back(std::move(item));
  }
  if (!order.IsEmpty()) {
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.key < b.key; });
  }
  QueryResult result;
  ResultData& r = *result.impl_;
  r.columns = from.columns;
  r.text_order = from.text_order;
  r.by_locator = keep;
  r.updatable = keep && from.updatable;
  if (keep) {
    r.base = from.base;
    r.program = from.program;
    r.parameters = from.parameters;
    r.now = from.now;
    for (const Item& item : items) r.locators.push_back(from.locators[item.index]);
  } else {
    for (ResultColumn& c : r.columns) c.updatable = false;
    for (Item& item : items) r.rows.push_back(std::move(item.values));
  }
  return result;
}

QueryResult ExecuteSelect(std::string_view sql, Catalog& catalog, const QueryOptions& options) {
  return PreparedQuery::Prepare(sql, catalog).Execute(options);
}

}  // namespace jetsql

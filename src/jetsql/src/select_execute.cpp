// Running a compiled SELECT statement: rows from a scan, an index range or the joins, the
// WHERE clause, groups and their aggregates, DISTINCT, ORDER BY and TOP.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compile.h"
#include "core/errors.h"
#include "functions.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"
#include "jetsql/expression.h"
#include "select_plan.h"
#include "values.h"

namespace jetsql {

using core::Variant;
using detail::Aggregate;
using detail::Compiled;
using detail::ExprPtr;
using detail::JoinTree;
using detail::OrderKey;
using detail::Output;
using detail::ResultData;
using detail::Rows;
using detail::Source;

namespace {

// ---- running a statement ----

struct Accumulator {
  std::int64_t count = 0;
  Variant value;  // sum, min, max, first, last
  double sum = 0, mean = 0, m2 = 0;
};

void Accumulate(const Aggregate& a, const Variant& v, Accumulator& acc) {
  if (a.kind == detail::AggregateKind::kCountRows) {
    ++acc.count;
    return;
  }
  if (v.IsNull()) return;
  ++acc.count;
  switch (a.kind) {
    case detail::AggregateKind::kSum:
      acc.value = acc.count == 1 ? detail::ToNumeric(v)
                                 : detail::Arithmetic(detail::Op::kAdd, acc.value, v);
      break;
    case detail::AggregateKind::kMin:
    case detail::AggregateKind::kMax: {
      if (acc.count == 1) {
        acc.value = v;
        break;
      }
      const std::optional<int> c = detail::CompareValues(v, acc.value);
      if (c && ((a.kind == detail::AggregateKind::kMin && *c < 0) ||
                (a.kind == detail::AggregateKind::kMax && *c > 0))) {
        acc.value = v;
      }
      break;
    }
    case detail::AggregateKind::kFirst:
      if (acc.count == 1) acc.value = v;
      break;
    case detail::AggregateKind::kLast:
      acc.value = v;
      break;
    case detail::AggregateKind::kAvg:
    case detail::AggregateKind::kVar:
    case detail::AggregateKind::kVarP:
    case detail::AggregateKind::kStDev:
    case detail::AggregateKind::kStDevP: {
      const double x = detail::NumberOf(detail::ToNumeric(v));
      acc.sum += x;
      const double delta = x - acc.mean;
      acc.mean += delta / static_cast<double>(acc.count);
      acc.m2 += delta * (x - acc.mean);
      break;
    }
    default:
      break;
  }
}

Variant Finish(const Aggregate& a, const Accumulator& acc) {
  const double n = static_cast<double>(acc.count);
  switch (a.kind) {
    case detail::AggregateKind::kCount:
    case detail::AggregateKind::kCountRows:
      return Variant::FromLong(static_cast<std::int32_t>(acc.count));
    case detail::AggregateKind::kAvg:
      return acc.count == 0 ? Variant::Null() : Variant::FromDouble(acc.sum / n);
    case detail::AggregateKind::kVar:
      return acc.count < 2 ? Variant::Null() : Variant::FromDouble(acc.m2 / (n - 1));
    case detail::AggregateKind::kVarP:
      return acc.count == 0 ? Variant::Null() : Variant::FromDouble(acc.m2 / n);
    case detail::AggregateKind::kStDev:
      return acc.count < 2 ? Variant::Null() : Variant::FromDouble(std::sqrt(acc.m2 / (n - 1)));
    case detail::AggregateKind::kStDevP:
      return acc.count == 0 ? Variant::Null() : Variant::FromDouble(std::sqrt(acc.m2 / n));
    default:
      return acc.count == 0 ? Variant::Null() : acc.value;
  }
}

// A row of values (a cursor's row or a joined row) as a full-width vector.
std::vector<Variant> Materialize(const RowView& row, std::size_t width) {
  std::vector<Variant> values(width);
  for (std::size_t i = 0; i < width; ++i) values[i] = row.Get(i);
  return values;
}

class OffsetRow final : public RowView {
 public:
  OffsetRow(const RowView& inner, std::size_t offset, std::size_t width)
      : inner_(inner), offset_(offset), width_(width) {}
  Variant Get(std::size_t column) const override {
    if (column < offset_ || column >= offset_ + width_) return Variant::Null();
    return inner_.Get(column - offset_);
  }

 private:
  const RowView& inner_;
  std::size_t offset_, width_;
};

// Runs a compiled statement.
class Executor {
 public:
  Executor(const Compiled& c, const QueryOptions& options) : c_(c), options_(options) {}

  ResultData Run(std::shared_ptr<const Compiled> self) {
    const CollationScope collation(c_.text_order);
    BindParameters();
    state_.call.now = detail::CurrentDateTime();
    state_.parameters = &parameters_;

    const bool one_table = c_.sources.size() == 1 && c_.sources[0].table != nullptr &&
                           !c_.from.empty() && !c_.from[0]->is_join;
    keep_locators_ = one_table && options_.kind == ResultKind::kDynaset && !c_.grouped &&
                     c_.predicate != detail::Predicate::kDistinct;

    if (c_.from.empty()) {
      const std::vector<Variant> none;
      Process(ValuesRow(none), 0);
    } else if (one_table) {
      ScanOneTable();
    } else {
      Rows joined = JoinAll();
      for (const std::vector<Variant>& row : joined) Process(ValuesRow(row), 0);
    }
    if (c_.grouped) FinishGroups();

    ResultData result;
    ResultData& r = result;
    for (const Output& o : c_.outputs) r.columns.push_back(o.info);
    r.text_order = c_.text_order;
    r.updatable = keep_locators_;
    r.by_locator = keep_locators_;
    if (keep_locators_) {
      r.base = c_.sources[0].table;
      r.program = std::move(self);
      r.parameters = parameters_;
      r.now = state_.call.now;
    }
    if (!keep_locators_) {
      for (auto& col : r.columns) col.updatable = false;
    }

    std::vector<std::size_t> order(collected_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (c_.predicate == detail::Predicate::kDistinct) order = Distinct(order);
    if (!c_.order.empty()) {
      // Sorting moves small entries holding the keys' first sixteen bytes; only rows whose
      // keys agree that far look at the whole keys.
      struct Entry {
        std::uint64_t high, low;
        std::size_t index;
      };
      std::vector<Entry> entries;
      entries.reserve(order.size());
      for (std::size_t i : order) {
        const std::string& key = collected_[i].sort_key;
        entries.push_back(Entry{Head(key, 0), Head(key, 8), i});
      }
      std::stable_sort(entries.begin(), entries.end(), [&](const Entry& x, const Entry& y) {
        if (x.high != y.high) return x.high < y.high;
        if (x.low != y.low) return x.low < y.low;
        return collected_[x.index].sort_key < collected_[y.index].sort_key;
      });
      for (std::size_t i = 0; i < entries.size(); ++i) order[i] = entries[i].index;
    }
    if (c_.has_top) order = Top(order);
    if (options_.max_records > 0 && order.size() > static_cast<std::size_t>(options_.max_records)) {
      order.resize(static_cast<std::size_t>(options_.max_records));
    }
    if (keep_locators_) {
      r.locators.reserve(order.size());
      for (std::size_t i : order) r.locators.push_back(collected_[i].locator);
    } else {
      r.rows.reserve(order.size());
      for (std::size_t i : order) r.rows.push_back(std::move(collected_[i].values));
    }
    return result;
  }

 private:
  struct Collected {
    RowLocator locator = 0;
    std::string sort_key;
    std::vector<Variant> values;
  };

  // Eight bytes of a key from `from` on, big-endian, zeros past its end.
  static std::uint64_t Head(const std::string& key, std::size_t from) {
    std::uint64_t head = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
      head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    }
    return head;
  }
  struct Group {
    std::vector<Variant> row;
    std::vector<Accumulator> accumulators;
  };

  void BindParameters() {
    std::size_t missing = 0;
    parameters_.assign(c_.parameters.size(), Variant::Null());
    for (std::size_t i = 0; i < c_.parameters.size(); ++i) {
      const ParameterInfo& p = c_.parameters[i];
      bool found = false;
      for (const auto& [name, value] : options_.parameters) {
        if (NamesEqual(name, p.name)) {
          parameters_[i] = p.declared ? ConvertToType(value, p.type) : value;
          found = true;
          break;
        }
      }
      if (!found) ++missing;
    }
    if (missing > 0) ThrowError(dao_error::kTooFewParameters, std::to_string(missing));
  }

  void ScanOneTable() {
    TableSource& table = *c_.sources[0].table;
    std::unique_ptr<RowCursor> cursor;
    if (c_.plan.use) cursor = IndexCursor(table);
    if (!cursor) cursor = table.Scan();
    while (cursor->Next()) Process(*cursor, cursor->Locator());
  }

  // The bounds of the planned range, in the column's type. A value that does not convert
  // exactly (12.5 for a Long column) leaves the scan to the WHERE clause alone.
  std::unique_ptr<RowCursor> IndexCursor(TableSource& table) {
    KeyBound low, high;
    auto bound = [&](const ExprPtr& e, bool inclusive, KeyBound& out) {
      if (!e) return true;
      const Variant v = e->Eval(ValuesRow(none_), state_);
      if (v.IsNull()) return false;
      Variant converted;
      try {
        converted = ConvertToType(v, c_.plan.type);
        const std::optional<int> same = detail::CompareValues(converted, v, false, true);
        if (!same || *same != 0) return false;
      } catch (const core::Exception&) {
        return false;
      }
      out.present = true;
      out.inclusive = inclusive;
      out.value = std::move(converted);
      return true;
    };
    if (!bound(c_.plan.low, c_.plan.low_inclusive, low) ||
        !bound(c_.plan.high, c_.plan.high_inclusive, high)) {
      return nullptr;
    }
    return table.ScanIndex(c_.plan.index, low, high);
  }

  void Process(const RowView& row, RowLocator locator) {
    if (c_.where && !detail::IsTrue(c_.where->Eval(row, state_))) return;
    if (c_.grouped) {
      std::string key;
      for (const ExprPtr& g : c_.group_by) AppendSortKey(g->Eval(row, state_), false, key);
      auto [it, inserted] = group_index_.try_emplace(key, groups_.size());
      if (inserted) {
        Group g;
        g.row = Materialize(row, c_.combined.size());
        g.accumulators.resize(c_.aggregates.size());
        groups_.push_back(std::move(g));
      }
      Group& g = groups_[it->second];
      for (std::size_t i = 0; i < c_.aggregates.size(); ++i) {
        const Aggregate& a = c_.aggregates[i];
        const Variant v = a.argument ? a.argument->Eval(row, state_) : Variant();
        Accumulate(a, v, g.accumulators[i]);
      }
      return;
    }
    Collect(row, locator);
  }

  void Collect(const RowView& row, RowLocator locator) {
    Collected item;
    item.locator = locator;
    for (const OrderKey& k : c_.order) {
      AppendSortKey(k.expr->Eval(row, state_), k.descending, item.sort_key);
    }
    if (!keep_locators_) {
      item.values.reserve(c_.outputs.size());
      for (const Output& o : c_.outputs) item.values.push_back(o.expr->Eval(row, state_));
    }
    collected_.push_back(std::move(item));
  }

  void FinishGroups() {
    // Aggregates without GROUP BY make one group even of no rows.
    if (groups_.empty() && c_.group_by.empty()) {
      Group g;
      g.row.assign(c_.combined.size(), Variant::Null());
      g.accumulators.resize(c_.aggregates.size());
      groups_.push_back(std::move(g));
    }
    for (Group& g : groups_) {
      std::vector<Variant> results;
      for (std::size_t i = 0; i < c_.aggregates.size(); ++i) {
        results.push_back(Finish(c_.aggregates[i], g.accumulators[i]));
      }
      state_.aggregates = &results;
      const ValuesRow row(g.row);
      if (c_.having && !detail::IsTrue(c_.having->Eval(row, state_))) continue;
      Collect(row, 0);
    }
    state_.aggregates = nullptr;
  }

  std::vector<std::size_t> Distinct(const std::vector<std::size_t>& order) {
    std::unordered_set<std::string> seen;
    std::vector<std::size_t> out;
    for (std::size_t i : order) {
      std::string key;
      for (const Variant& v : collected_[i].values) AppendSortKey(v, false, key);
      if (seen.insert(std::move(key)).second) out.push_back(i);
    }
    return out;
  }

  // The first n rows (or n percent), and with ORDER BY every row tied with the last of them.
  std::vector<std::size_t> Top(std::vector<std::size_t> order) {
    std::size_t n = static_cast<std::size_t>(c_.top);
    if (c_.top_percent) {
      n = static_cast<std::size_t>(std::ceil(static_cast<double>(order.size()) * c_.top / 100.0));
    }
    if (n >= order.size()) return order;
    std::size_t keep = n;
    if (!c_.order.empty() && n > 0) {
      const std::string& last = collected_[order[n - 1]].sort_key;
      while (keep < order.size() && collected_[order[keep]].sort_key == last) ++keep;
    }
    order.resize(keep);
    return order;
  }

  // ---- joins ----

  Rows Leaf(std::size_t index) {
    const Source& src = c_.sources[index];
    std::shared_ptr<TableSource> table = src.table;
    if (!table) table = RunStoredQuery(src);
    Rows out;
    std::unique_ptr<RowCursor> cursor = table->Scan();
    while (cursor->Next()) {
      out.push_back(
          Materialize(OffsetRow(*cursor, src.offset, src.columns.size()), c_.combined.size()));
    }
    return out;
  }

  std::shared_ptr<TableSource> RunStoredQuery(const Source& src) {
    QueryOptions inner;
    inner.kind = ResultKind::kSnapshot;
    inner.parameters = options_.parameters;
    QueryResult result = src.query->Execute(inner);
    auto table = std::make_shared<MemoryTable>(src.alias, src.columns);
    for (std::size_t i = 0; i < result.RowCount(); ++i) table->AddRow(result.Row(i));
    return table;
  }

  void Merge(std::vector<Variant>& into, const std::vector<Variant>& from, const JoinTree& side) {
    for (std::size_t s : side.sources) {
      const Source& src = c_.sources[s];
      for (std::size_t i = 0; i < src.columns.size(); ++i)
        into[src.offset + i] = from[src.offset + i];
    }
  }

  Rows Evaluate(const JoinTree& node) {
    if (!node.is_join) return Leaf(node.source);
    Rows left = Evaluate(*node.left);
    Rows right = Evaluate(*node.right);
    Rows out;
    std::vector<bool> right_matched(right.size(), false);
    std::unordered_map<std::string, std::vector<std::size_t>> hash;
    const bool hashed = node.left_key >= 0;
    if (hashed) {
      for (std::size_t j = 0; j < right.size(); ++j) {
        const Variant& v = right[j][static_cast<std::size_t>(node.right_key)];
        if (v.IsNull()) continue;
        std::string key;
        AppendSortKey(v, false, key);
        hash[key].push_back(j);
      }
    }
    static const std::vector<std::size_t> kNone;
    std::vector<std::size_t> all;
    if (!hashed) {
      all.resize(right.size());
      for (std::size_t j = 0; j < right.size(); ++j) all[j] = j;
    }
    for (std::vector<Variant>& l : left) {
      const std::vector<std::size_t>* candidates = &all;
      if (hashed) {
        const Variant& v = l[static_cast<std::size_t>(node.left_key)];
        candidates = &kNone;
        if (!v.IsNull()) {
          std::string key;
          AppendSortKey(v, false, key);
          auto it = hash.find(key);
          if (it != hash.end()) candidates = &it->second;
        }
      }
      bool matched = false;
      for (std::size_t j : *candidates) {
        std::vector<Variant> row = l;
        Merge(row, right[j], *node.right);
        if (!detail::IsTrue(node.on->Eval(ValuesRow(row), state_))) continue;
        matched = true;
        right_matched[j] = true;
        out.push_back(std::move(row));
      }
      if (!matched && node.type == detail::JoinType::kLeft) out.push_back(std::move(l));
    }
    if (node.type == detail::JoinType::kRight) {
      for (std::size_t j = 0; j < right.size(); ++j) {
        if (!right_matched[j]) out.push_back(std::move(right[j]));
      }
    }
    return out;
  }

  Rows JoinAll() {
    Rows result;
    bool first = true;
    for (const auto& item : c_.from) {
      Rows part = Evaluate(*item);
      if (first) {
        result = std::move(part);
        first = false;
        continue;
      }
      Rows product;
      product.reserve(result.size() * part.size());
      for (const std::vector<Variant>& a : result) {
        for (const std::vector<Variant>& b : part) {
          std::vector<Variant> row = a;
          Merge(row, b, *item);
          product.push_back(std::move(row));
        }
      }
      result = std::move(product);
    }
    return result;
  }

  const Compiled& c_;
  const QueryOptions& options_;
  detail::EvalState state_;
  std::vector<Variant> parameters_;
  bool keep_locators_ = false;
  std::vector<Collected> collected_;
  std::vector<Group> groups_;
  std::unordered_map<std::string, std::size_t> group_index_;
  const std::vector<Variant> none_;
};

}  // namespace

namespace detail {

ResultData RunSelect(const std::shared_ptr<const Compiled>& compiled, const QueryOptions& options) {
  return Executor(*compiled, options).Run(compiled);
}

}  // namespace detail

}  // namespace jetsql

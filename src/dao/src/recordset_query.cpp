// Recordsets shaped by criteria: Filter, Sort, OpenRecordset from a recordset, Find*, Requery.
#include <algorithm>
#include <atomic>

#include "recordset_impl.h"

namespace dao {
namespace detail {
namespace {

std::uint32_t NewTag() {
  static std::atomic<std::uint32_t> counter{0x0DA0C001u};
  return counter.fetch_add(0x61C88647u);
}

class RowValues final : public jetsql::RowView {
 public:
  explicit RowValues(const std::vector<core::Variant>* values) : values_(values) {}
  void Reset(const std::vector<core::Variant>* values) { values_ = values; }
  core::Variant Get(std::size_t column) const override {
    return column < values_->size() ? (*values_)[column] : core::Variant::Null();
  }

 private:
  const std::vector<core::Variant>* values_;
};

std::string Combine(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return "(" + a + ") AND (" + b + ")";
}

struct Selection {
  std::vector<std::uint32_t> ordinals;
  std::vector<std::vector<core::Variant>> values;  // when copying
};

// The rows of `rows` in `positions` order that pass `filter`, sorted by `sort`.
Selection Select(RecordsetImpl& r, const std::vector<std::size_t>& ordinals,
                 const std::string& filter, const std::string& sort, bool copy) {
  std::vector<jetsql::ColumnInfo> columns = r.SqlColumns();
  std::optional<jetsql::CompiledExpression> where;
  std::optional<jetsql::SortSpec> order;
  if (!filter.empty())
    where = jetsql::CompiledExpression::Compile(filter, columns, jetsql::TextKind::kFilter,
                                                source::kRecordset);
  if (!sort.empty()) order = jetsql::SortSpec::Compile(sort, columns, source::kRecordset);
  Selection out;
  std::vector<std::string> keys;
  std::vector<core::Variant> scratch;
  RowValues view(nullptr);
  for (std::size_t ordinal : ordinals) {
    if (!r.rows->Live(ordinal)) continue;
    const auto& row = r.rows->Row(ordinal, scratch, *r.engine, source::kRecordset);
    view.Reset(&row);
    if (where && !where->Matches(view)) continue;
    out.ordinals.push_back(static_cast<std::uint32_t>(ordinal));
    if (copy) out.values.push_back(row);
    if (order) {
      keys.emplace_back();
      order->AppendKey(view, keys.back());
    }
  }
  if (order) {
    std::vector<std::size_t> idx(out.ordinals.size());
    for (std::size_t i = 0; i < idx.size(); ++i) idx[i] = i;
    std::stable_sort(idx.begin(), idx.end(),
                     [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    Selection sorted;
    for (std::size_t i : idx) {
      sorted.ordinals.push_back(out.ordinals[i]);
      if (copy) sorted.values.push_back(std::move(out.values[i]));
    }
    out = std::move(sorted);
  }
  return out;
}

// A RowSet of the selected rows of `from`.
std::shared_ptr<RowSet> Derive(RowSet& from, Selection&& s, bool copy, bool updatable) {
  auto rows = std::make_shared<RowSet>();
  rows->db = from.db;
  rows->table = from.table;
  rows->columns = from.columns;
  for (auto& c : rows->columns) {
    c.updatable = updatable && !c.auto_increment && c.storage >= 0;
    c.attributes = (c.attributes & ~dbUpdatableField) | (c.updatable ? dbUpdatableField : 0);
  }
  rows->copy_rows = copy && from.table;
  rows->query = from.query;
  rows->tag = NewTag();
  if (from.table) {
    for (std::uint32_t o : s.ordinals) rows->refs.push_back(from.refs[o]);
    if (copy) rows->values = std::move(s.values);
  } else {
    rows->values = std::move(s.values);
  }
  return rows;
}

std::vector<std::size_t> AllOrdinals(RecordsetImpl& r) {
  std::vector<std::size_t> out;
  if (r.OnTree()) {
    // In the index's order: a walk over its entries.
    jet::IndexCursor walk(*r.index->cursor);
    for (bool on = walk.First(); on; on = walk.Next()) {
      const jet::IndexRowPointer row = walk.Row();
      out.push_back(r.OrdinalOfRow((row.page << 8) | row.row));
    }
    return out;
  }
  for (std::size_t p = 0; p < r.PositionCount(); ++p) out.push_back(r.OrdinalAt(p));
  return out;
}

}  // namespace
}  // namespace detail

using detail::Guard;

std::string Recordset::Filter() const {
  return impl_->filter;
}

void Recordset::SetFilter(const std::string& filter) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    impl_->CheckOpen();
    impl_->RequireType(!impl_->IsTable());
    impl_->filter = filter;
  });
}

std::string Recordset::Sort() const {
  return impl_->sort;
}

void Recordset::SetSort(const std::string& sort) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    impl_->CheckOpen();
    impl_->RequireType(!impl_->IsTable() && !impl_->IsForwardOnly());
    impl_->sort = sort;
  });
}

std::shared_ptr<Recordset> Recordset::OpenRecordset(int type, int options) {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    int t = type != 0 ? type : (r.IsTable() ? dbOpenDynaset : r.type);
    if (options & dbForwardOnly) t = dbOpenForwardOnly;
    if (t == dbOpenTable) r.Fail(err::kInvalidOperation);
    if (t != dbOpenDynaset && t != dbOpenSnapshot && t != dbOpenForwardOnly)
      r.Fail(err::kInvalidArgument);
    const bool copy = t != dbOpenDynaset || !r.rows->table;
    const bool updatable = t == dbOpenDynaset && r.updatable && (options & dbReadOnly) == 0;
    detail::Selection s = detail::Select(r, detail::AllOrdinals(r), r.filter, r.sort, copy);
    auto impl = std::make_unique<detail::RecordsetImpl>();
    impl->engine = r.engine;
    impl->db = r.db;
    impl->rows = detail::Derive(*r.rows, std::move(s), copy, updatable);
    impl->name = r.name;
    impl->type = t;
    impl->options = options;
    impl->lock_edit = r.lock_edit;
    impl->lock_edits = r.lock_edits;
    impl->updatable = updatable;
    impl->source_table = r.source_table;
    impl->derived = true;
    impl->source_sql = r.source_sql;
    impl->source_parameters = r.source_parameters;
    impl->max_records = r.max_records;
    impl->filter_text = detail::Combine(r.filter_text, r.filter);
    impl->sort_text = r.sort.empty() ? r.sort_text : r.sort;
    auto rs = std::make_shared<Recordset>(std::move(impl));
    rs->Impl().self = rs;
    rs->Impl().Initialise();
    if (rs->Impl().rows->table) ++rs->Impl().rows->table->open_recordsets;
    r.db->recordsets.push_back(rs);
    return rs;
  });
}

namespace {

enum class FindKind { kFirst, kLast, kNext, kPrevious };

void Find(detail::RecordsetImpl& r, const std::string& criteria, FindKind kind) {
  r.CheckOpen();
  r.RequireType(r.type == dbOpenDynaset || r.type == dbOpenSnapshot);
  jetsql::CompiledExpression where = jetsql::CompiledExpression::Compile(
      criteria, r.SqlColumns(), jetsql::TextKind::kCriteria, source::kRecordset);
  r.DiscardEdit();
  const std::size_t count = r.PositionCount();
  std::vector<core::Variant> scratch;
  detail::RowValues view(nullptr);
  auto matches = [&](std::size_t p) {
    if (!r.LiveAt(p)) return false;
    view.Reset(&r.rows->Row(r.OrdinalAt(p), scratch, *r.engine, source::kRecordset));
    return where.Matches(view);
  };
  std::optional<std::size_t> found;
  const bool on_record = r.positioned && !r.bof && !r.eof;
  switch (kind) {
    case FindKind::kFirst:
      for (std::size_t p = 0; p < count && !found; ++p)
        if (matches(p)) found = p;
      break;
    case FindKind::kLast:
      for (std::size_t p = count; p-- > 0 && !found;)
        if (matches(p)) found = p;
      break;
    case FindKind::kNext: {
      if (r.eof) break;
      std::size_t from = on_record ? r.cur + 1 : 0;
      for (std::size_t p = from; p < count && !found; ++p)
        if (matches(p)) found = p;
      break;
    }
    case FindKind::kPrevious: {
      if (r.bof) break;
      std::size_t before = on_record ? r.cur : count;
      for (std::size_t p = before; p-- > 0 && !found;)
        if (matches(p)) found = p;
      break;
    }
  }
  // A failed Find leaves the position where it was.
  r.no_match = !found;
  if (found) r.Land(*found);
}

}  // namespace

void Recordset::FindFirst(const std::string& criteria) {
  Guard(*impl_->engine, source::kRecordset, [&] { Find(*impl_, criteria, FindKind::kFirst); });
}

void Recordset::FindLast(const std::string& criteria) {
  Guard(*impl_->engine, source::kRecordset, [&] { Find(*impl_, criteria, FindKind::kLast); });
}

void Recordset::FindNext(const std::string& criteria) {
  Guard(*impl_->engine, source::kRecordset, [&] { Find(*impl_, criteria, FindKind::kNext); });
}

void Recordset::FindPrevious(const std::string& criteria) {
  Guard(*impl_->engine, source::kRecordset, [&] { Find(*impl_, criteria, FindKind::kPrevious); });
}

void Recordset::Requery(const std::shared_ptr<QueryDef>& new_query) {
  (void)new_query;
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsTable());
    r.DiscardEdit();
    // Run the source again: the statement or every row of the base table, then the
    // recordset's own filter and sort, so rows added since (by anyone) appear in their place.
    std::shared_ptr<detail::RowSet> base;
    if (!r.source_sql.empty()) {
      base = detail::RunSql(r);
    } else if (r.rows->table) {
      detail::TableState& ts = *r.rows->table;
      base = std::make_shared<detail::RowSet>();
      base->db = r.db;
      base->table = &ts;
      base->columns = r.rows->columns;
      base->copy_rows = r.rows->copy_rows;
      if (!(r.options & dbAppendOnly)) {
        auto scan = ts.table->StartScan();
        while (scan.Next()) base->Append(ts.Ref(scan.Position().ToU32()));
      }
      base->version = 0;
    } else {
      // Copied rows without a statement or table behind them cannot change.
      base = r.rows;
    }
    base->tag = detail::NewTag();
    if (r.derived && (!r.filter_text.empty() || !r.sort_text.empty())) {
      auto columns = r.rows->columns;
      r.rows = base;
      std::vector<std::size_t> all(base->Size());
      for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
      const bool copy = base->copy_rows || !base->table;
      detail::Selection s = detail::Select(r, all, r.filter_text, r.sort_text, copy);
      r.rows = detail::Derive(*base, std::move(s), copy, r.updatable);
      r.rows->columns = columns;
      r.rows->query = base->query;
    } else {
      r.rows = base;
    }
    r.index.reset();
    r.no_match = false;
    r.last_modified = 0;
    r.Initialise();
  });
}

}  // namespace dao

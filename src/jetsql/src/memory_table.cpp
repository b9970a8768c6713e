#include <algorithm>

#include "jetsql/expression.h"
#include "jetsql/source.h"

namespace jetsql {

class MemoryCursor final : public RowCursor {
 public:
  // `order` lists the rows to visit; empty with `all` set means every row in order.
  MemoryCursor(MemoryTable& table, std::vector<RowLocator> order, bool all)
      : table_(table), order_(std::move(order)), all_(all) {}

  bool Next() override {
    while (true) {
      const std::size_t count = all_ ? table_.rows_.size() : order_.size();
      if (next_ >= count) return false;
      current_ = all_ ? static_cast<RowLocator>(next_) : order_[next_];
      ++next_;
      if (!table_.deleted_[current_]) {
        ++table_.visited_;
        return true;
      }
    }
  }
  RowLocator Locator() const override { return current_; }
  core::Variant Get(std::size_t column) const override {
    const std::vector<core::Variant>& row = table_.rows_[current_];
    return column < row.size() ? row[column] : core::Variant::Null();
  }

 private:
  MemoryTable& table_;
  std::vector<RowLocator> order_;
  bool all_;
  std::size_t next_ = 0;
  RowLocator current_ = 0;
};

MemoryTable::MemoryTable(std::string name, std::vector<ColumnInfo> columns)
    : name_(std::move(name)), columns_(std::move(columns)) {
  for (ColumnInfo& c : columns_) {
    if (c.table.empty()) c.table = name_;
  }
}

std::unique_ptr<RowCursor> MemoryTable::Scan() {
  return std::make_unique<MemoryCursor>(*this, std::vector<RowLocator>{}, true);
}

bool MemoryTable::Read(RowLocator locator, std::vector<core::Variant>& values) {
  if (locator >= rows_.size() || deleted_[locator]) return false;
  values = rows_[locator];
  return true;
}

std::vector<IndexInfo> MemoryTable::Indexes() const {
  std::vector<IndexInfo> out;
  for (const Index& index : indexes_) out.push_back(index.info);
  return out;
}

RowLocator MemoryTable::AddRow(std::vector<core::Variant> values) {
  values.resize(columns_.size(), core::Variant::Null());
  rows_.push_back(std::move(values));
  deleted_.push_back(false);
  for (Index& index : indexes_) index.stale = true;
  return static_cast<RowLocator>(rows_.size() - 1);
}

void MemoryTable::DeleteRow(RowLocator locator) {
  if (locator < deleted_.size()) deleted_[locator] = true;
  for (Index& index : indexes_) index.stale = true;
}

void MemoryTable::AddIndex(std::string name, std::vector<int> columns, bool unique) {
  Index index;
  index.info.name = std::move(name);
  index.info.descending.assign(columns.size(), false);
  index.info.columns = std::move(columns);
  index.info.unique = unique;
  indexes_.push_back(std::move(index));
}

std::size_t MemoryTable::TakeRowsVisited() {
  const std::size_t n = visited_;
  visited_ = 0;
  return n;
}

void MemoryTable::Refresh(Index& index) {
  if (!index.stale) return;
  index.order.clear();
  const std::size_t column = static_cast<std::size_t>(index.info.columns[0]);
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (deleted_[i] || rows_[i][column].IsNull()) continue;
    std::string key;
    AppendSortKey(rows_[i][column], false, key);
    index.order.emplace_back(std::move(key), static_cast<RowLocator>(i));
  }
  std::stable_sort(index.order.begin(), index.order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  index.stale = false;
}

std::unique_ptr<RowCursor> MemoryTable::ScanIndex(std::size_t which, const KeyBound& low,
                                                  const KeyBound& high) {
  if (which >= indexes_.size()) return nullptr;
  Index& index = indexes_[which];
  Refresh(index);
  using Entry = std::pair<std::string, RowLocator>;
  auto begin = index.order.begin();
  auto end = index.order.end();
  if (low.present) {
    std::string key;
    AppendSortKey(low.value, false, key);
    begin = low.inclusive
                ? std::lower_bound(begin, end, key,
                                   [](const Entry& e, const std::string& k) { return e.first < k; })
                : std::upper_bound(begin, end, key, [](const std::string& k, const Entry& e) {
                    return k < e.first;
                  });
  }
  if (high.present) {
    std::string key;
    AppendSortKey(high.value, false, key);
    end = high.inclusive
              ? std::upper_bound(begin, end, key,
                                 [](const std::string& k, const Entry& e) { return k < e.first; })
              : std::lower_bound(begin, end, key,
                                 [](const Entry& e, const std::string& k) { return e.first < k; });
  }
  std::vector<RowLocator> order;
  if (begin < end) {
    order.reserve(static_cast<std::size_t>(end - begin));
    for (auto it = begin; it != end; ++it) order.push_back(it->second);
  }
  return std::make_unique<MemoryCursor>(*this, std::move(order), false);
}

void MemoryCatalog::AddTable(std::shared_ptr<TableSource> table) {
  tables_.push_back(std::move(table));
}

void MemoryCatalog::AddQuery(std::string name, std::string sql) {
  queries_.emplace_back(std::move(name), std::move(sql));
}

std::shared_ptr<TableSource> MemoryCatalog::OpenTable(std::string_view name) {
  for (const auto& t : tables_) {
    if (NamesEqual(t->Name(), name)) return t;
  }
  return nullptr;
}

std::optional<std::string> MemoryCatalog::QuerySql(std::string_view name) {
  for (const auto& [n, sql] : queries_) {
    if (NamesEqual(n, name)) return sql;
  }
  return std::nullopt;
}

}  // namespace jetsql

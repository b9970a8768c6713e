// Index B-tree maintenance.
#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <unordered_set>

#include "btree.h"
#include "btree_keys.h"
#include "core/internal_error.h"
#include "database_internal.h"

namespace jet {
namespace {

namespace L = index_page_layout;
using tree::Compare;

}  // namespace

// ---------------------------------------------------------------------------------------
// Maintenance

bool RowKeyAllNull(const IndexDefinition& definition, const RowValues& row) {
  for (const auto& column : definition.columns) {
    if (column.key.type == key_type::kBoolean) return false;  // a Yes/No value is never Null
    if (!row(column.column_number).is_null()) return false;
  }
  return true;
}

void CheckIndexKeyLength(const IndexDefinition& definition, const IndexContext& context,
                         std::span<const std::uint8_t> key) {
  if (key.size() > kMaxKeyLength) {
    ThrowJet(ErrorCode::kValueInvalid,
             context.file + ": table '" + context.table + "', index '" + definition.name +
                 "': the key is " + std::to_string(key.size()) +
                 " bytes long; an index key holds at most " + std::to_string(kMaxKeyLength));
  }
}

std::optional<std::vector<std::uint8_t>> RowKey(const IndexDefinition& definition,
                                                const IndexContext& context, const RowValues& row,
                                                bool check_nulls) {
  if (definition.IgnoreNulls() && RowKeyAllNull(definition, row)) return std::nullopt;
  std::vector<std::uint8_t> key;
  for (const auto& column : definition.columns) {
    const KeyValue value = row(column.column_number);
    if (check_nulls && definition.Required() && value.is_null() &&
        column.key.type != key_type::kBoolean) {
      ThrowJet(ErrorCode::kNullNotAllowed, kNullKeyMessage);
    }
    try {
      AppendKeySegment(column.key, value, key);
    } catch (const KeyEncodingError& e) {
      ThrowJet(ErrorCode::kValueInvalid, context.file + ": table '" + context.table + "', index '" +
                                             definition.name + "', column '" + column.name +
                                             "': " + e.what());
    }
  }
  // Checked here, before a row is written, rather than when the entry goes in.
  CheckIndexKeyLength(definition, context, key);
  return key;
}

std::vector<std::vector<std::uint8_t>> CollectIndexEntries(const IndexDefinition& definition,
                                                           const IndexContext& context,
                                                           const IndexRowWalk& rows,
                                                           IndexCounters* counters) {
  for (const auto& column : definition.columns) {
    if (!CanEncodeColumn(column.key)) {
      ThrowJet(ErrorCode::kGeneral, context.file + ": table '" + context.table + "': index '" +
                                        definition.name + "' would sort column '" + column.name +
                                        "' in the " + SortOrderName(column.key.sort_order) +
                                        " sort order, and " +
                                        TextKeyRefusal(column.key.sort_order));
    }
  }
  struct Item {
    std::vector<std::uint8_t> entry;
    bool all_null;
  };
  std::vector<Item> items;
  rows([&](IndexRowPointer where, const RowValues& row) {
    auto key = RowKey(definition, context, row, true);
    if (!key) return;
    items.push_back({IndexTree::MakeEntry(*key, where), RowKeyAllNull(definition, row)});
  });
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return Compare(a.entry, b.entry) < 0; });
  std::uint32_t distinct = 0;
  const std::size_t tail = L::kRowPointerSize;
  std::vector<std::vector<std::uint8_t>> entries;
  entries.reserve(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    const auto key = std::span(items[k].entry).first(items[k].entry.size() - tail);
    bool same = false;
    if (k > 0) {
      // The previous entry has moved to `entries` already.
      const auto prev = std::span(entries.back()).first(entries.back().size() - tail);
      same = std::ranges::equal(key, prev);
      if (same && definition.Unique() && !items[k].all_null)
        ThrowJet(ErrorCode::kDuplicateKey, kDuplicateKeyMessage);
      if (Compare(entries.back(), items[k].entry) == 0) {
        ThrowCorrupt({.file = context.file, .table = context.table},
                     "two rows share one row pointer");
      }
    }
    distinct += !same;
    entries.push_back(std::move(items[k].entry));
  }
  if (counters) {
    counters->entries = static_cast<std::uint32_t>(entries.size());
    counters->distinct = distinct;
  }
  return entries;
}

IndexDefinition DescribeIndex(const TableDefinition& table, std::size_t real_index,
                              const std::string& file, const std::string& table_name) {
  const RealIndexDefinition& real = table.real_indexes.at(real_index);
  IndexDefinition definition;
  for (const auto& logical : table.indexes) {
    if (logical.real_index != real_index || logical.kind == index_kind::kForeignKey) continue;
    if (!definition.name.empty()) definition.name += "/";
    definition.name += logical.name;
    definition.primary_key = definition.primary_key || logical.kind == index_kind::kPrimaryKey;
  }
  if (definition.name.empty()) {
    for (const auto& logical : table.indexes) {
      if (logical.real_index == real_index) definition.name = logical.name;
    }
  }
  if (definition.name.empty()) definition.name = "#" + std::to_string(real_index);
  for (const auto& column : real.columns) {
    const ColumnDefinition* described = table.ColumnByNumber(column.column_number);
    if (!described) {
      ThrowCorrupt({.file = file, .table = table_name, .page = table.FirstPage()},
                   "index '" + definition.name + "' refers to column number " +
                       std::to_string(column.column_number) + ", which the table does not have");
    }
    if (!IsIndexableType(described->type)) {
      ThrowCorrupt(
          {.file = file, .table = table_name, .page = table.FirstPage(), .field = described->name},
          "index '" + definition.name + "' is on a column of type " +
              std::to_string(described->type) + ", which no index key can hold");
    }
    IndexKeyColumn key_column;
    key_column.column_number = column.column_number;
    key_column.name = described->name;
    key_column.key.type = described->type;
    key_column.key.descending = !column.ascending;
    if (described->IsText()) key_column.key.sort_order = described->TextSortOrder();
    definition.columns.push_back(std::move(key_column));
  }
  definition.flags = real.flags;
  definition.root_page = real.root_page;
  definition.usage_map = real.usage_map;
  definition.table_definition_page = table.FirstPage();
  return definition;
}

IndexMaintainer::IndexMaintainer(Pager& pager, IndexContext context, const TableDefinition& table)
    : pager_(pager), context_(std::move(context)) {
  for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
    trees_.push_back(std::make_unique<IndexTree>(
        pager_, DescribeIndex(table, i, context_.file, context_.table), context_));
    counters_.push_back({table.real_indexes[i].entry_count, table.real_indexes[i].distinct_keys});
  }
}

void IndexMaintainer::StoreCounters(TableDefinition& table) const {
  for (std::size_t i = 0; i < counters_.size() && i < table.real_indexes.size(); ++i) {
    table.real_indexes[i].entry_count = counters_[i].entries;
    table.real_indexes[i].distinct_keys = counters_[i].distinct;
  }
}

IndexMaintainer::IndexMaintainer(Pager& pager, IndexContext context,
                                 std::vector<IndexDefinition> indexes,
                                 std::vector<IndexCounters> counters)
    : pager_(pager), context_(std::move(context)), counters_(std::move(counters)) {
  counters_.resize(indexes.size());
  for (auto& definition : indexes)
    trees_.push_back(std::make_unique<IndexTree>(pager_, std::move(definition), context_));
}

std::string IndexMaintainer::WriteRefusal() const {
  for (const auto& tree : trees_) {
    for (const auto& column : tree->Definition().columns) {
      if (!CanEncodeColumn(column.key)) {
        return context_.file + ": table '" + context_.table + "' cannot be changed: its index '" +
               tree->Definition().name + "' sorts column '" + column.name + "' in the " +
               SortOrderName(column.key.sort_order) + " sort order, and " +
               TextKeyRefusal(column.key.sort_order);
      }
    }
  }
  return {};
}

bool IndexMaintainer::CanEncode(std::size_t i) const {
  for (const auto& column : trees_[i]->Definition().columns) {
    if (!CanEncodeColumn(column.key)) return false;
  }
  return true;
}

void IndexMaintainer::RefuseIfUnwritable(std::size_t i) const {
  for (const auto& column : trees_[i]->Definition().columns) {
    if (!CanEncodeColumn(column.key)) {
      ThrowJet(ErrorCode::kGeneral,
               context_.file + ": table '" + context_.table + "' cannot be changed: its index '" +
                   trees_[i]->Definition().name + "' sorts column '" + column.name + "' in the " +
                   SortOrderName(column.key.sort_order) + " sort order, and " +
                   TextKeyRefusal(column.key.sort_order));
    }
  }
}

bool IndexMaintainer::AllNull(std::size_t i, const RowValues& row) const {
  return RowKeyAllNull(trees_[i]->Definition(), row);
}

std::optional<std::vector<std::uint8_t>> IndexMaintainer::KeyFor(std::size_t i,
                                                                 const RowValues& row,
                                                                 bool check_nulls) const {
  return RowKey(trees_[i]->Definition(), context_, row, check_nulls);
}

bool IndexMaintainer::SameColumns(std::size_t i, const RowValues& a, const RowValues& b) const {
  for (const auto& column : trees_[i]->Definition().columns) {
    const KeyValue x = a(column.column_number), y = b(column.column_number);
    if (x.kind() != y.kind()) return false;
    switch (x.kind()) {
      case KeyValue::Kind::Null:
        break;
      case KeyValue::Kind::Boolean:
        if (x.boolean() != y.boolean()) return false;
        break;
      case KeyValue::Kind::Text:
        if (x.text() != y.text()) return false;
        break;
      case KeyValue::Kind::Stored:
        if (!std::ranges::equal(x.bytes(), y.bytes())) return false;
        break;
    }
  }
  return true;
}

IndexMaintainer::Prepared IndexMaintainer::PrepareInsert(const RowValues& row) {
  Prepared prepared;
  for (std::size_t i = 0; i < trees_.size(); ++i) RefuseIfUnwritable(i);
  for (std::size_t i = 0; i < trees_.size(); ++i) prepared.keys.push_back(KeyFor(i, row, true));
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    const auto& key = prepared.keys[i];
    if (key && trees_[i]->Definition().Unique() && !AllNull(i, row) &&
        trees_[i]->ContainsKey(*key)) {
      ThrowJet(ErrorCode::kDuplicateKey, kDuplicateKeyMessage);
    }
  }
  return prepared;
}

void IndexMaintainer::CommitInsert(const Prepared& prepared, IndexRowPointer where) {
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!prepared.keys[i]) continue;
    if (trees_[i]->Insert(*prepared.keys[i], where)) {
      ++counters_[i].distinct;
      counters_changed_ = true;
    }
  }
}

IndexMaintainer::Prepared IndexMaintainer::PrepareUpdate(const RowValues& old_row,
                                                         const RowValues& new_row,
                                                         IndexRowPointer where) {
  Prepared prepared;
  prepared.update = true;
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    const bool changed = !SameColumns(i, old_row, new_row);
    if (changed) RefuseIfUnwritable(i);
    prepared.changed.push_back(changed);
  }
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!prepared.changed[i]) {
      prepared.keys.emplace_back();
      prepared.old_keys.emplace_back();
      continue;
    }
    prepared.old_keys.push_back(KeyFor(i, old_row, false));
    prepared.keys.push_back(KeyFor(i, new_row, true));
    if (prepared.old_keys[i] == prepared.keys[i])
      prepared.changed[i] = false;  // e.g. only the case changed
  }
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    const auto& key = prepared.keys[i];
    if (!prepared.changed[i] || !key || !trees_[i]->Definition().Unique() || AllNull(i, new_row))
      continue;
    IndexCursor cursor(*trees_[i]);
    for (bool ok = cursor.Seek(SeekComparison::kEqual, *key); ok; ok = cursor.Next()) {
      if (!std::ranges::equal(cursor.Key(), *key)) break;
      if (!(cursor.Row() == where)) ThrowJet(ErrorCode::kDuplicateKey, kDuplicateKeyMessage);
    }
  }
  return prepared;
}

void IndexMaintainer::CommitUpdate(const Prepared& prepared, IndexRowPointer where) {
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!prepared.changed[i]) continue;
    if (prepared.old_keys[i] && !trees_[i]->Remove(*prepared.old_keys[i], where))
      trees_[i]->RemoveRow(where);
    if (prepared.keys[i] && trees_[i]->Insert(*prepared.keys[i], where)) {
      ++counters_[i].distinct;
      counters_changed_ = true;
    }
  }
}

void IndexMaintainer::Delete(const RowValues& old_row, IndexRowPointer where) {
  // Find every entry first, so that a damaged index stops the delete before any change.
  std::vector<std::optional<std::vector<std::uint8_t>>> keys(trees_.size());
  std::vector<bool> by_scan(trees_.size(), false);
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!CanEncode(i)) {
      by_scan[i] = true;  // no key can be built: look for the row pointer
      continue;
    }
    keys[i] = KeyFor(i, old_row, false);
    if (keys[i] && !trees_[i]->Contains(*keys[i], where))
      by_scan[i] = true;  // stale entry: repair path
  }
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (by_scan[i]) {
      trees_[i]->RemoveRow(where);
    } else if (keys[i]) {
      trees_[i]->Remove(*keys[i], where);
    }
  }
}

void IndexMaintainer::BuildFromRows(std::size_t i, const IndexRowWalk& rows) {
  RefuseIfUnwritable(i);
  IndexCounters counters;
  const auto entries = CollectIndexEntries(trees_[i]->Definition(), context_, rows, &counters);
  trees_[i]->Build(entries);
  counters_[i] = counters;
  counters_changed_ = true;
}

}  // namespace jet

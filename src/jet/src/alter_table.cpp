// Changing the design of a table that exists: indexes added and dropped.
//
// The stored definition is edited, not re-serialised: only its index sections are replaced
// (ReplaceIndexSections), so bytes Access wrote that we do not understand stay as they were.
// An added index is filled before the definition changes; when its rows break it (a
// duplicate in a unique index, a Null in a required one) its new pages are given back and
// the table is left exactly as it was.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "btree.h"
#include "catalog_util.h"
#include "changing.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "text_util.h"

namespace jet {
using namespace catalog_util;

namespace {

constexpr std::size_t kMaxIndexes = 32;
constexpr std::size_t kMaxIndexColumns = 10;

bool HasForeignKeys(const TableDefinition& def) {
  return std::any_of(def.indexes.begin(), def.indexes.end(),
                     [](const auto& li) { return li.kind == index_kind::kForeignKey; });
}

// Logical index numbers. mdbtools reads the k-th real index descriptor as the one of the
// non-relationship logical index numbered k, so a table without relationships gets exactly
// that: the first logical index over each real index takes the real index's number, and
// indexes sharing a real index come after them. Relationship descriptors of other tables
// refer to this table's logical numbers, so a table with relationships keeps its numbers;
// a new index there takes the number of its real index when that is free, else the lowest
// free one.
void NumberIndexes(TableDefinition& def, std::ptrdiff_t added) {
  if (HasForeignKeys(def)) {
    if (added < 0) return;
    auto taken = [&](std::uint32_t n) {
      for (std::size_t k = 0; k < def.indexes.size(); ++k)
        if (static_cast<std::ptrdiff_t>(k) != added && def.indexes[k].number == n) return true;
      return false;
    };
    std::uint32_t number = def.indexes[added].real_index;
    if (taken(number)) number = 0;
    while (taken(number)) ++number;
    def.indexes[added].number = number;
    return;
  }
  std::vector<bool> used(def.real_indexes.size(), false);
  auto next = static_cast<std::uint32_t>(def.real_indexes.size());
  for (auto& li : def.indexes) {
    if (li.real_index < used.size() && !used[li.real_index]) {
      used[li.real_index] = true;
      li.number = li.real_index;
    } else {
      li.number = next++;
    }
  }
}

}  // namespace

// ---- usage-map rows ----

RowPointer Database::NewMapRow(std::uint32_t near) {
  Pager& pager = *pager_;
  auto try_page = [&](std::uint32_t number) -> std::optional<RowPointer> {
    if (number < 2 || number >= pager.PageCount() || pager.IsFree(number)) return std::nullopt;
    {
      PageRef p = pager.Read(number);
      const std::uint8_t* d = p.Data();
      if (d[0] != page_type::kData || Le32(d + DataPageLayout::kOwner) != 0) return std::nullopt;
      DataPage view(const_cast<std::uint8_t*>(d), pager.Version());
      if (!view.FitsRepacked(kMapRowLength, DataPage::Slot::kDeleted)) return std::nullopt;
    }
    PageRef p = pager.Write(number);
    DataPage page(p.MutableData(), pager.Version());
    int row;
    // A deleted map row's slot is taken again: nothing refers to it any more.
    if (!page.AddRowRepacking(kMapRowLength, 0, DataPage::Slot::kDeleted, &row))
      return std::nullopt;
    return RowPointer{number, static_cast<std::uint8_t>(row)};
  };
  if (auto row = try_page(near)) return *row;
  PageRef fresh = pager.Allocate(nullptr);
  FormatMapPage(fresh.MutableData(), 1);
  return RowPointer{fresh.Number(), 0};
}

void Database::FreeMapRows(std::vector<RowPointer> rows) {
  Pager& pager = *pager_;
  std::erase_if(rows, [](RowPointer r) { return r.IsNull(); });
  for (RowPointer r : rows) {
    pager.DropMap(r);
    PageRef p = pager.Write(r.page);
    DataPage dp(p.MutableData(), pager.Version());
    if (p.Data()[0] != page_type::kData || r.row >= dp.RowCount()) continue;
    dp.SetSlotFlags(r.row, DataPageLayout::kSlotFlags);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end(),
                         [](RowPointer a, RowPointer b) { return a.page == b.page; }),
             rows.end());
  for (RowPointer r : rows) {
    if (pager.IsFree(r.page)) continue;
    bool empty = true;
    {
      PageRef p = pager.Read(r.page);
      if (p.Data()[0] != page_type::kData || Le32(p.Data() + DataPageLayout::kOwner) != 0) continue;
      DataPage dp(const_cast<std::uint8_t*>(p.Data()), pager.Version());
      for (int i = 0; i < dp.RowCount() && empty; ++i) empty = dp.IsDeleted(i);
    }
    if (empty) pager.Release(r.page, nullptr);
  }
}

// ---- design changes ----

Table& Database::TableForDesign(std::string_view name, const std::string& what) {
  if (ReadOnly()) ThrowJet(ErrorCode::kReadOnly, path_ + ": the database is open for reading only");
  std::optional<CatalogEntry> e = FindObject(name);
  if (!e || !e->IsTable())
    ThrowJet(ErrorCode::kNotFound,
             path_ + ": cannot " + what + ": there is no table '" + std::string(name) + "'");
  if (e->IsSystem())
    ThrowJet(ErrorCode::kInvalidDefinition,
             path_ + ": cannot " + what + ": '" + e->name + "' is a system table");
  Table& table = OpenTable(e->name);
  // Counters not yet stored would be lost with the old bytes; the edit copies the page.
  table.StoreCounters();
  return table;
}

void Database::TouchDesignDate(Table& table) {
  if (table.catalog_row_.IsNull()) return;
  Table& objects = SystemTable("MSysObjects", 2);
  int updated = objects.ColumnIndex("DateUpdate");
  if (updated < 0) return;
  std::vector<core::Variant> values(objects.Definition().columns.size());
  values[updated] = core::Variant::FromDate(NowAsDate());
  objects.Update(table.catalog_row_, values);
}

void Database::AddIndex(std::string_view table_name, const NewIndex& spec) {
  Changing([&] { ApplyAddIndex(table_name, spec); });
}

void Database::DropIndex(std::string_view table_name, std::string_view index_name) {
  Changing([&] { ApplyDropIndex(table_name, index_name); });
}

void Database::ApplyAddIndex(std::string_view table_name, const NewIndex& spec) {
  Table& table = TableForDesign(table_name, "add index '" + spec.name + "'");
  // As stored, with the positions of its sections.
  const TableDefinition old =
      ReadTableDefinition(*pager_, table.Definition().FirstPage(), table.Name());
  auto refuse = [&](ErrorCode code, const std::string& why) {
    ThrowJet(code, path_ + ": cannot add index '" + spec.name + "' to table '" + table.Name() +
                       "': " + why);
  };
  std::string why;
  if (!ValidObjectName(spec.name, why)) refuse(ErrorCode::kInvalidDefinition, why);
  for (const auto& li : old.indexes)
    if (NamesEqual(li.name, spec.name))
      refuse(ErrorCode::kAlreadyExists, "the table has an index of that name already");
  if (old.indexes.size() >= kMaxIndexes)
    refuse(ErrorCode::kInvalidDefinition, "a table has at most 32 indexes");
  if (spec.columns.empty() || spec.columns.size() > kMaxIndexColumns)
    refuse(ErrorCode::kInvalidDefinition, "an index has 1 to 10 columns");
  if (spec.primary_key) {
    for (const auto& li : old.indexes)
      if (li.kind == index_kind::kPrimaryKey)
        refuse(ErrorCode::kAlreadyExists,
               "the table has a primary key already ('" + li.name + "'); drop that one first");
  }

  RealIndexDefinition real;
  for (const auto& [name, ascending] : spec.columns) {
    const ColumnDefinition* col = old.FindColumn(name);
    if (!col) refuse(ErrorCode::kNotFound, "the table has no column '" + name + "'");
    for (const auto& c : real.columns)
      if (c.column_number == col->number)
        refuse(ErrorCode::kInvalidDefinition, "column '" + col->name + "' appears twice");
    if (!IsIndexableType(col->type))
      refuse(ErrorCode::kInvalidDefinition,
             "column '" + col->name + "' (" + ColumnTypeName(col->type) + ") cannot be indexed");
    if (col->IsText() && !CanWriteTextKeys(col->TextSortOrder()))
      refuse(ErrorCode::kGeneral, "column '" + col->name + "' sorts in the " +
                                      SortOrderName(col->TextSortOrder()) + " sort order, and " +
                                      TextKeyRefusal(col->TextSortOrder()));
    real.columns.push_back(IndexColumn{col->number, ascending});
  }
  real.flags = index_flag::kAccess2000;
  if (spec.unique || spec.primary_key) real.flags |= index_flag::kUnique;
  if (spec.ignore_nulls) real.flags |= index_flag::kIgnoreNulls;
  if (spec.required || spec.primary_key) real.flags |= index_flag::kRequired;

  TableDefinition def = old;
  std::vector<int> real_from(old.real_indexes.size());
  std::iota(real_from.begin(), real_from.end(), 0);
  std::vector<int> logical_from(old.indexes.size());
  std::iota(logical_from.begin(), logical_from.end(), 0);

  LogicalIndexDefinition logical;
  logical.name = spec.name;
  logical.fk_cascade_update = 0x04;  // what Access writes on indexes outside relationships
  logical.fk_cascade_delete = 0x04;
  logical.kind = spec.primary_key ? index_kind::kPrimaryKey : index_kind::kNormal;
  std::optional<std::size_t> shared;
  for (std::size_t r = 0; r < old.real_indexes.size() && !shared; ++r)
    if (old.real_indexes[r].columns == real.columns && old.real_indexes[r].flags == real.flags)
      shared = r;
  if (shared) {
    logical.real_index = static_cast<std::uint32_t>(*shared);
  } else {
    logical.real_index = static_cast<std::uint32_t>(def.real_indexes.size());
    def.real_indexes.push_back(real);
    real_from.push_back(-1);
  }
  auto at = std::find_if(def.indexes.begin(), def.indexes.end(),
                         [&](const auto& li) { return IndexNameLess(spec.name, li.name); });
  const std::ptrdiff_t position = at - def.indexes.begin();
  def.indexes.insert(at, logical);
  logical_from.insert(logical_from.begin() + position, -1);
  NumberIndexes(def, position);

  if (!shared) {
    // The new B-tree: a usage-map row beside the table's own maps, an empty root, then
    // every row's entry. Until the definition names them, these pages are ours to undo.
    RealIndexDefinition& added = def.real_indexes.back();
    // The map page as it was, so that a refused build leaves it byte for byte unchanged.
    std::vector<std::uint8_t> map_page_before;
    if (old.owned_map.page >= 2 && old.owned_map.page < pager_->PageCount()) {
      PageRef p = pager_->Read(old.owned_map.page);
      map_page_before.assign(p.Data(), p.Data() + pager_->PageSize());
    }
    added.usage_map = NewMapRow(old.owned_map.page);
    UsageMap& map = pager_->Map(added.usage_map);
    {
      PageRef root = pager_->Allocate(&map);
      FormatEmptyLeaf(root.MutableData(), old.FirstPage());
      added.root_page = root.Number();
    }
    try {
      std::vector<IndexDefinition> described;
      described.push_back(DescribeIndex(def, def.real_indexes.size() - 1, path_, table.Name()));
      IndexMaintainer maintainer(*pager_, IndexContext{path_, table.Name()}, std::move(described));
      table.BuildIndex(maintainer, 0);
      added.entry_count = maintainer.Counters()[0].entries;
      added.distinct_keys = maintainer.Counters()[0].distinct;
    } catch (...) {
      for (std::uint32_t page : map.Pages().ToVector()) pager_->Release(page, &map);
      if (added.usage_map.page == old.owned_map.page && !map_page_before.empty()) {
        pager_->DropMap(added.usage_map);
        PageRef p = pager_->Write(added.usage_map.page);
        std::memcpy(p.MutableData(), map_page_before.data(), map_page_before.size());
      } else {
        FreeMapRows({added.usage_map});
      }
      throw;
    }
  }

  std::vector<std::uint8_t> bytes = ReplaceIndexSections(ReadTableDefinitionBytes(*pager_, old),
                                                         old, def, real_from, logical_from);
  RewriteTableDefinition(*pager_, def, bytes);
  table.Redefine(ReadTableDefinition(*pager_, def.FirstPage(), table.Name()));
  TouchDesignDate(table);
}

void Database::ApplyDropIndex(std::string_view table_name, std::string_view index_name) {
  Table& table = TableForDesign(table_name, "drop index '" + std::string(index_name) + "'");
  const TableDefinition old =
      ReadTableDefinition(*pager_, table.Definition().FirstPage(), table.Name());
  auto refuse = [&](ErrorCode code, const std::string& why) {
    ThrowJet(code, path_ + ": cannot drop index '" + std::string(index_name) + "' of table '" +
                       table.Name() + "': " + why);
  };
  std::size_t j = 0;
  while (j < old.indexes.size() && !NamesEqual(old.indexes[j].name, index_name)) ++j;
  if (j == old.indexes.size()) refuse(ErrorCode::kNotFound, "the table has no such index");
  const LogicalIndexDefinition& dropped = old.indexes[j];
  const std::uint32_t r = dropped.real_index;
  bool still_used = false;
  for (std::size_t k = 0; k < old.indexes.size(); ++k)
    if (k != j && old.indexes[k].real_index == r) still_used = true;
  // The B-tree of a relationship's key is what Access checks the relationship with.
  bool in_relationship = dropped.kind == index_kind::kForeignKey;
  for (const auto& li : old.indexes)
    if (li.real_index == r && li.kind == index_kind::kForeignKey) in_relationship = true;
  if (in_relationship)
    refuse(ErrorCode::kInvalidDefinition,
           "it belongs to a relationship; delete the relationship first");

  TableDefinition def = old;
  std::vector<int> logical_from;
  def.indexes.clear();
  for (std::size_t k = 0; k < old.indexes.size(); ++k) {
    if (k == j) continue;
    def.indexes.push_back(old.indexes[k]);
    logical_from.push_back(static_cast<int>(k));
  }
  std::vector<int> real_from;
  def.real_indexes.clear();
  for (std::size_t k = 0; k < old.real_indexes.size(); ++k) {
    if (k == r && !still_used) continue;
    def.real_indexes.push_back(old.real_indexes[k]);
    real_from.push_back(static_cast<int>(k));
  }
  if (!still_used)
    for (auto& li : def.indexes)
      if (li.real_index > r) --li.real_index;
  NumberIndexes(def, -1);

  if (!still_used) {
    const RealIndexDefinition& gone = old.real_indexes[r];
    try {
      IndexTree tree(*pager_, DescribeIndex(old, r, path_, table.Name()),
                     IndexContext{path_, table.Name()});
      tree.Drop();
    } catch (const CorruptDatabase&) {
      // A tree that cannot be walked still has its pages listed in its usage map.
      if (!gone.usage_map.IsNull()) {
        UsageMap& map = pager_->Map(gone.usage_map);
        for (std::uint32_t page : map.Pages().ToVector()) {
          bool ours = false;
          if (page >= 2 && page < pager_->PageCount() && !pager_->IsFree(page)) {
            PageRef p = pager_->Read(page);
            ours = (p.Data()[0] == page_type::kIndexLeaf || p.Data()[0] == page_type::kIndexNode) &&
                   Le32(p.Data() + 4) == old.FirstPage();
          }
          if (ours)
            pager_->Release(page, &map);
          else
            map.Remove(page);
        }
      }
    }
    FreeMapRows({gone.usage_map});
  }

  std::vector<std::uint8_t> bytes = ReplaceIndexSections(ReadTableDefinitionBytes(*pager_, old),
                                                         old, def, real_from, logical_from);
  RewriteTableDefinition(*pager_, def, bytes);
  table.Redefine(ReadTableDefinition(*pager_, def.FirstPage(), table.Name()));
  TouchDesignDate(table);
}

}  // namespace jet

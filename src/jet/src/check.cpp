#include "jet/check.h"

#include <map>

#include "database_internal.h"
#include "index_check.h"
#include "jet/database.h"
#include "jet/long_value.h"

namespace jet {
namespace {

constexpr std::size_t kProblemsPerTable = 25;

struct Claim {
  std::string owner;
  bool shared = false;  // usage-map pages hold the maps of several structures
};

class Checker {
 public:
  Checker(Database& db, bool before_writing)
      : db_(db), pager_(PageCacheOf(db)), before_writing_(before_writing) {}

  CheckReport Run() {
    report_.pages = pager_.PageCount();
    std::vector<CatalogEntry> catalog;
    try {
      catalog = db_.Catalog();
    } catch (const std::exception& e) {
      Problem(e.what());
      return report_;
    }
    for (const auto& entry : catalog) {
      if (!entry.IsTable()) continue;
      ++report_.tables;
      CheckTable(entry);
    }
    for (const auto& [page, claim] : claims_) {
      if (pager_.IsFree(page))
        Problem(db_.Path() + ": page " + std::to_string(page) + " belongs to " + claim.owner +
                " but the page map lists it as free");
    }
    return report_;
  }

 private:
  void Problem(const std::string& text) { report_.problems.push_back(text); }

  void ClaimPage(std::uint32_t page, const std::string& owner, bool shared = false) {
    if (page < 2 || page >= pager_.PageCount()) {
      Problem(db_.Path() + ": " + owner + " refers to page " + std::to_string(page) +
              ", outside the file's " + std::to_string(pager_.PageCount()) + " pages");
      return;
    }
    auto [it, inserted] = claims_.emplace(page, Claim{owner, shared});
    if (inserted) return;
    if (shared && it->second.shared) return;
    if (it->second.owner == owner) return;
    Problem(db_.Path() + ": page " + std::to_string(page) + " belongs both to " + it->second.owner +
            " and to " + owner);
  }

  // The pages a usage map lists, with the map's own row and bitmap pages claimed.
  std::vector<std::uint32_t> MapPages(RowPointer where, const std::string& what) {
    if (where.IsNull()) return {};  // Access leaves some maps out (free space of old tables)
    ClaimPage(where.page, "the usage maps", true);
    try {
      UsageMap& map = pager_.Map(where);
      for (std::uint32_t b : map.BitmapPages())
        if (b != 0) ClaimPage(b, "a bitmap of " + what);
      return map.Pages().ToVector();
    } catch (const std::exception& e) {
      Problem(e.what());
      return {};
    }
  }

  void CheckTable(const CatalogEntry& entry) {
    const std::string name = entry.name;
    const std::uint32_t page = entry.TableDefinitionPage();
    const std::string label = "table '" + name + "'";
    TableDefinition def;
    try {
      def = ReadTableDefinition(pager_, page, name);
    } catch (const std::exception& e) {
      Problem(e.what());
      return;
    }
    for (std::uint32_t p : def.pages) ClaimPage(p, "the definition of " + label);
    std::size_t before = report_.problems.size();
    auto full = [&]() { return report_.problems.size() - before >= kProblemsPerTable; };

    auto owned = MapPages(def.owned_map, label);
    PageSet owned_set;
    for (std::uint32_t p : owned) {
      owned_set.Insert(p);
      ClaimPage(p, "the rows of " + label);
      if (p >= pager_.PageCount() || before_writing_) continue;
      PageRef ref = pager_.Read(p);
      if (ref.Data()[0] != page_type::kData || Le32(ref.Data() + DataPageLayout::kOwner) != page)
        Problem(db_.Path() + ": page " + std::to_string(p) + " is listed among the rows of " +
                label + " but is not one of its data pages");
    }
    for (std::uint32_t p : MapPages(def.free_map, label + " (free space)"))
      if (!owned_set.Contains(p))
        Problem(db_.Path() + ": " + label + " lists page " + std::to_string(p) +
                " as having room although the page is not one of its own");
    for (std::size_t i = 0; i < def.real_indexes.size(); ++i) {
      std::string what = "index " + std::to_string(i) + " of " + label;
      for (std::uint32_t p : MapPages(def.real_indexes[i].usage_map, what)) {
        ClaimPage(p, what);
        if (p >= pager_.PageCount() || before_writing_) continue;
        PageRef ref = pager_.Read(p);
        std::uint8_t t = ref.Data()[0];
        if (t != page_type::kIndexLeaf && t != page_type::kIndexNode)
          Problem(db_.Path() + ": page " + std::to_string(p) + " is listed as a page of " + what +
                  " but has page type " + std::to_string(t));
      }
    }
    for (const auto& col : def.columns) {
      if (!col.IsLongValue() || !col.has_lv_maps) continue;
      std::string what = "the long values of " + label + ", column '" + col.name + "'";
      auto lv_pages = MapPages(col.lv_owned_map, what);
      PageSet lv_set;
      for (std::uint32_t p : lv_pages) {
        lv_set.Insert(p);
        ClaimPage(p, what);
        if (p >= pager_.PageCount() || before_writing_) continue;
        PageRef ref = pager_.Read(p);
        if (ref.Data()[0] != page_type::kData ||
            Le32(ref.Data() + DataPageLayout::kOwner) != kLongValueOwner)
          Problem(db_.Path() + ": page " + std::to_string(p) + " is listed among " + what +
                  " but is not a long-value page");
      }
      for (std::uint32_t p : MapPages(col.lv_free_map, what + " (free space)"))
        if (!lv_set.Contains(p))
          Problem(db_.Path() + ": " + what + " lists page " + std::to_string(p) +
                  " as having room although it does not own it");
    }
    if (full()) return;
    if (before_writing_) {
      // Of the rows and indexes, only the catalog's that every change of design writes to.
      if (!entry.IsSystem() || (name != "MSysObjects" && name != "MSysACEs")) return;
      try {
        Table& table = db_.OpenTable(name);
        for (const auto& index : CheckTableIndexes(db_, table))
          for (const auto& p : index.problems)
            Problem(db_.Path() + ": " + label + ", index '" + index.index + "': " + p);
      } catch (const std::exception& e) {
        Problem(e.what());
      }
      return;
    }

    // Every row, with every long value read in full.
    Table* table = nullptr;
    try {
      table = &db_.OpenTable(name);
    } catch (const std::exception& e) {
      if (entry.IsSystem()) return;  // system tables are checked through their pages above
      Problem(e.what());
      return;
    }
    std::uint32_t rows = 0;
    std::int64_t max_autonumber = 0;
    auto scan = table->StartScan();
    while (!full()) {
      try {
        if (!scan.Next()) break;
      } catch (const std::exception& e) {
        Problem(e.what());
        continue;
      }
      ++rows;
      try {
        for (std::size_t i = 0; i < def.columns.size(); ++i) {
          core::Variant v = scan.Value(i);
          if (def.columns[i].IsAutoNumber() && def.columns[i].type == column_type::kLong &&
              !v.IsNull())
            max_autonumber = std::max<std::int64_t>(max_autonumber, v.ToLong());
        }
      } catch (const std::exception& e) {
        Problem(e.what());
      }
    }
    report_.rows += rows;
    if (full()) return;
    if (!def.real_indexes.empty()) {
      try {
        for (const auto& index : CheckTableIndexes(db_, *table))
          for (const auto& p : index.problems)
            Problem(db_.Path() + ": " + label + ", index '" + index.index + "': " + p);
      } catch (const std::exception& e) {
        Problem(e.what());
      }
    }
    // Access itself lets the counts of its system tables go stale (MSysQueries especially).
    if (rows != def.row_count && !entry.IsSystem())
      Problem(db_.Path() + ": " + label + " has " + std::to_string(rows) +
              " rows but its definition counts " + std::to_string(def.row_count));
    if (max_autonumber > static_cast<std::int64_t>(def.autonumber))
      Problem(db_.Path() + ": " + label + " holds AutoNumber " + std::to_string(max_autonumber) +
              " but would hand out " + std::to_string(def.autonumber + 1) + " next");
  }

  Database& db_;
  Pager& pager_;
  bool before_writing_;
  CheckReport report_;
  std::map<std::uint32_t, Claim> claims_;
};

}  // namespace

CheckReport CheckDatabase(Database& db) {
  // Counters of open tables reach their pages at Flush; the check reads pages.
  db.Flush();
  return Checker(db, false).Run();
}

CheckReport CheckBeforeWriting(Database& db) {
  return Checker(db, true).Run();
}

}  // namespace jet

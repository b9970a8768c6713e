// Index verification for `mdb check`.
#include "index_check.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "database_internal.h"
#include "index_rows.h"
#include "jet/database.h"

namespace jet {
namespace {

namespace L = index_page_layout;

constexpr std::size_t kMaxProblemsPerIndex = 20;
constexpr std::size_t kMaxDepth = 32;

std::string Where(IndexRowPointer row) {
  return "page " + std::to_string(row.page) + ", row " + std::to_string(row.row);
}

IndexRowPointer RowOfEntry(std::span<const std::uint8_t> entry) {
  const std::uint8_t* p = entry.data() + entry.size() - L::kRowPointerSize;
  return {static_cast<std::uint32_t>((p[0] << 16) | (p[1] << 8) | p[2]), p[3]};
}

std::uint64_t RowKey(IndexRowPointer row) {
  return (std::uint64_t{row.page} << 8) | row.row;
}

class Report {
 public:
  explicit Report(IndexCheck& out) : out_(out) {}
  void Add(std::string problem) {
    ++count_;
    if (out_.problems.size() < kMaxProblemsPerIndex) out_.problems.push_back(std::move(problem));
  }
  void Finish() {
    if (count_ > out_.problems.size()) {
      out_.problems.push_back("... and " + std::to_string(count_ - out_.problems.size()) +
                              " more problems");
    }
  }

 private:
  IndexCheck& out_;
  std::size_t count_ = 0;
};

// Walks one tree page by page, checking its shape, and collects its leaves in key order.
class TreeWalk {
 public:
  TreeWalk(IndexTree& tree, Report& report) : tree_(tree), report_(report) {}

  // False when a page could not be read; what was found is reported.
  bool Run() {
    try {
      Walk(tree_.Definition().root_page, 0);
    } catch (const CorruptDatabase& e) {
      report_.Add(e.what());
      return false;
    }
    return ok_;
  }
  const std::vector<std::uint32_t>& Leaves() const { return leaves_; }
  const std::set<std::uint32_t>& Pages() const { return seen_; }
  std::uint32_t Height() const {
    return leaf_depth_ < 0 ? 0 : static_cast<std::uint32_t>(leaf_depth_ + 1);
  }

 private:
  // Returns the last entry (key + row pointer) of the subtree, empty when it has none.
  std::vector<std::uint8_t> Walk(std::uint32_t number, std::size_t depth) {
    if (depth >= kMaxDepth) {
      Fail("page " + std::to_string(number) + " lies deeper than " + std::to_string(kMaxDepth) +
           " levels (a loop?)");
      return {};
    }
    if (!seen_.insert(number).second) {
      Fail("page " + std::to_string(number) + " is reached twice in the tree");
      return {};
    }
    const IndexPage& page = tree_.ReadPage(number);
    if (page.leaf) {
      if (leaf_depth_ < 0) leaf_depth_ = static_cast<int>(depth);
      if (leaf_depth_ != static_cast<int>(depth))
        Fail("leaf page " + std::to_string(number) + " is at another depth than the first leaf");
      if (page.tail_page != 0) Fail("leaf page " + std::to_string(number) + " has a tail page");
      if (page.empty() && depth > 0) Fail("leaf page " + std::to_string(number) + " is empty");
      leaves_.push_back(number);
      if (page.empty()) return {};
      auto last = page.Last();
      return {last.begin(), last.end()};
    }
    const std::size_t n = page.size();
    const std::uint32_t tail = page.tail_page;
    if (n == 0) Fail("node page " + std::to_string(number) + " has no stored entry");
    if (tail == 0 && n > 1)
      Fail("node page " + std::to_string(number) + " has several children but no tail");
    // Copy what is needed before walking down: the walk reads more pages.
    std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> children;
    for (std::size_t i = 0; i < n; ++i) {
      auto c = page.Comparable(i);
      children.push_back({{c.begin(), c.end()}, page.Child(i)});
    }
    std::vector<std::uint8_t> last;
    for (std::size_t i = 0; i < children.size(); ++i) {
      const auto& [stored, child] = children[i];
      const auto child_last = Walk(child, depth + 1);
      if (child_last != stored) {
        Fail("node page " + std::to_string(number) + ": entry " + std::to_string(i) + " for page " +
             std::to_string(child) + " is not the last entry under that page");
      }
      last = stored;
    }
    if (tail != 0) last = Walk(tail, depth + 1);
    return last;
  }
  void Fail(std::string what) {
    ok_ = false;
    report_.Add("index '" + tree_.Definition().name + "': " + what);
  }

  IndexTree& tree_;
  Report& report_;
  std::vector<std::uint32_t> leaves_;
  std::set<std::uint32_t> seen_;
  int leaf_depth_ = -1;
  bool ok_ = true;
};

bool AllNullKey(const IndexDefinition& definition, std::span<const std::uint8_t> key) {
  if (key.size() != definition.columns.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (key[i] != (definition.columns[i].key.descending ? 0xFF : 0x00)) return false;
  }
  return true;
}

void CheckOne(IndexMaintainer& indexes, std::size_t i, Pager& pager,
              const std::vector<IndexRowPointer>& live,
              const std::vector<std::vector<std::uint8_t>>* expected_entries,
              const std::vector<IndexRowPointer>& expected_rows, IndexCheck& out) {
  IndexTree& tree = indexes.Tree(i);
  const IndexDefinition& definition = tree.Definition();
  const std::string label = "index '" + definition.name + "': ";
  Report report(out);
  out.index = definition.name;

  TreeWalk walk(tree, report);
  const bool readable = walk.Run();
  out.pages.pages = static_cast<std::uint32_t>(walk.Pages().size());
  out.pages.leaves = static_cast<std::uint32_t>(walk.Leaves().size());
  out.pages.height = walk.Height();
  out.expected = expected_entries ? expected_entries->size() : expected_rows.size();
  if (!readable) {
    report.Finish();
    return;
  }

  // The leaf chain and the order of entries along it.
  std::vector<std::vector<std::uint8_t>> entries;
  const auto& leaves = walk.Leaves();
  for (std::size_t k = 0; k < leaves.size(); ++k) {
    const IndexPage& page = tree.ReadPage(leaves[k]);
    const std::uint32_t want_prev = k == 0 ? 0 : leaves[k - 1];
    const std::uint32_t want_next = k + 1 == leaves.size() ? 0 : leaves[k + 1];
    if (page.prev_page != want_prev || page.next_page != want_next) {
      report.Add(label + "leaf page " + std::to_string(leaves[k]) + " links to " +
                 std::to_string(page.prev_page) + " / " + std::to_string(page.next_page) +
                 " instead of " + std::to_string(want_prev) + " / " + std::to_string(want_next));
    }
    for (std::size_t e = 0; e < page.size(); ++e) {
      auto entry = page.Entry(e);
      if (!entries.empty() &&
          !std::lexicographical_compare(entries.back().begin(), entries.back().end(), entry.begin(),
                                        entry.end())) {
        report.Add(label + "entries out of order at the start of leaf page " +
                   std::to_string(leaves[k]));
      }
      entries.emplace_back(entry.begin(), entry.end());
    }
  }
  out.entries = entries.size();

  // Pages against the usage map.
  if (!definition.usage_map.IsNull()) {
    try {
      const PageSet map = pager.LoadMapPages(definition.usage_map);
      for (std::uint32_t p : walk.Pages()) {
        if (!map.Contains(p))
          report.Add(label + "page " + std::to_string(p) +
                     " of the tree is missing from the index's usage map");
      }
      for (std::uint32_t p : map.ToVector()) {
        if (!walk.Pages().count(p))
          report.Add(label + "page " + std::to_string(p) +
                     " is in the index's usage map but not in its tree");
      }
    } catch (const CorruptDatabase& e) {
      report.Add(label + e.what());
    }
  }

  // Uniqueness.
  if (definition.Unique()) {
    for (std::size_t k = 1; k < entries.size(); ++k) {
      const auto a = std::span(entries[k - 1]).first(entries[k - 1].size() - L::kRowPointerSize);
      const auto b = std::span(entries[k]).first(entries[k].size() - L::kRowPointerSize);
      if (std::ranges::equal(a, b) && !AllNullKey(definition, a)) {
        report.Add(label + "the unique index holds the same key for the rows at " +
                   Where(RowOfEntry(entries[k - 1])) + " and " + Where(RowOfEntry(entries[k])));
      }
    }
  }

  // Against the rows.
  std::set<std::uint64_t> live_rows;
  for (auto row : live) live_rows.insert(RowKey(row));
  std::map<std::uint64_t, int> entries_per_row;
  for (const auto& e : entries) ++entries_per_row[RowKey(RowOfEntry(e))];
  for (const auto& [row, count] : entries_per_row) {
    const IndexRowPointer where{static_cast<std::uint32_t>(row >> 8),
                                static_cast<std::uint8_t>(row & 0xFF)};
    if (!live_rows.count(row)) {
      report.Add(label + "an entry points at " + Where(where) + ", where there is no row");
    } else if (count > 1) {
      report.Add(label + "the row at " + Where(where) + " has " + std::to_string(count) +
                 " entries");
    }
  }
  if (expected_entries) {
    std::vector<std::vector<std::uint8_t>> want = *expected_entries;
    std::sort(want.begin(), want.end());
    std::vector<std::vector<std::uint8_t>> have = entries;
    std::sort(have.begin(), have.end());
    std::vector<std::vector<std::uint8_t>> missing, unexpected;
    std::set_difference(want.begin(), want.end(), have.begin(), have.end(),
                        std::back_inserter(missing));
    std::set_difference(have.begin(), have.end(), want.begin(), want.end(),
                        std::back_inserter(unexpected));
    std::set<std::uint64_t> reported;
    for (const auto& e : unexpected) {
      const auto row = RowOfEntry(e);
      if (live_rows.count(RowKey(row))) {
        report.Add(label + "the entry of the row at " + Where(row) +
                   " does not hold the key of its values");
        reported.insert(RowKey(row));
      }
    }
    for (const auto& e : missing) {
      const auto row = RowOfEntry(e);
      if (!reported.count(RowKey(row)))
        report.Add(label + "the row at " + Where(row) + " has no entry");
    }
  } else {
    for (auto row : expected_rows) {
      if (!entries_per_row.count(RowKey(row)))
        report.Add(label + "the row at " + Where(row) + " has no entry");
    }
  }
  if (out.entries != out.expected) {
    report.Add(label + "the index holds " + std::to_string(out.entries) + " entries for " +
               std::to_string(out.expected) + " indexed rows");
  }
  report.Finish();
}

}  // namespace

std::vector<IndexCheck> CheckIndexes(IndexMaintainer& indexes, Pager& pager,
                                     const IndexRowWalk& rows) {
  const std::size_t n = indexes.size();
  std::vector<IndexCheck> results(n);
  std::vector<std::vector<std::vector<std::uint8_t>>> expected(n);
  std::vector<std::vector<IndexRowPointer>> expected_rows(n);
  std::vector<std::vector<std::string>> key_problems(n);
  std::vector<IndexRowPointer> live;
  rows([&](IndexRowPointer where, const RowValues& row) {
    live.push_back(where);
    for (std::size_t i = 0; i < n; ++i) {
      const IndexDefinition& definition = indexes.Tree(i).Definition();
      if (!indexes.CanEncode(i)) {
        // The key cannot be built here; only whether the row has an entry is checked.
        bool all_null = true;
        for (const auto& column : definition.columns) {
          all_null = all_null && column.key.type != key_type::kBoolean &&
                     row(column.column_number).is_null();
        }
        if (!(definition.IgnoreNulls() && all_null)) expected_rows[i].push_back(where);
        continue;
      }
      try {
        auto key = indexes.KeyOf(i, row);
        if (key) expected[i].push_back(IndexTree::MakeEntry(*key, where));
      } catch (const JetError& e) {
        if (key_problems[i].size() < kMaxProblemsPerIndex) {
          key_problems[i].push_back("index '" + definition.name + "': the row at " + Where(where) +
                                    ": " + e.what());
        }
      }
    }
  });
  for (std::size_t i = 0; i < n; ++i) {
    results[i].problems = key_problems[i];
    CheckOne(indexes, i, pager, live, indexes.CanEncode(i) ? &expected[i] : nullptr,
             expected_rows[i], results[i]);
  }
  return results;
}

std::vector<IndexCheck> CheckTableIndexes(Database& database, Table& table) {
  const TableDefinition& def = table.Definition();
  if (def.real_indexes.empty() || database.Version() != JetVersion::kJet4) return {};
  Pager& pager = PageCacheOf(database);
  IndexMaintainer indexes(pager, IndexContext{database.Path(), table.Name()}, def);
  return CheckIndexes(indexes, pager, TableRows(table));
}

}  // namespace jet

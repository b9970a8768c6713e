// Index B-trees on an in-memory database: random changes against a model, splits and root
// growth, one-pass builds, Seek with every comparison, cursors that survive changes, and
// damaged trees refused with a clear message.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

#include "btree.h"
#include "core/file.h"
#include "core/internal_error.h"
#include "jet/pager.h"
#include "test_index_raw.h"
#include "test_index_util.h"

namespace {

using jet::IndexRowPointer;
using jet::IndexTree;
using jet::SeekComparison;
using Bytes = std::vector<std::uint8_t>;
namespace kt = jet::key_type;

constexpr std::uint32_t kTdef = 0x0F;  // pretend table definition page

Bytes LongKey(std::int32_t v, bool desc = false) {
  std::uint8_t le[4];
  std::memcpy(le, &v, 4);
  Bytes key;
  jet::AppendKeySegment({kt::kLong, desc}, jet::KeyValue::Stored(le), key);
  return key;
}

Bytes BinaryKey(std::uint32_t v, std::size_t length) {
  Bytes value(length, 0x5A);
  for (int i = 0; i < 4; ++i) value[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
  Bytes key;
  jet::AppendKeySegment({kt::kBinary}, jet::KeyValue::Stored(value), key);
  return key;
}

IndexRowPointer Row(std::uint32_t n) {
  return {0x100 + n / 200, static_cast<std::uint8_t>(n % 200)};
}

Bytes Entry(const Bytes& key, IndexRowPointer row) {
  return IndexTree::MakeEntry(key, row);
}
Bytes KeyOf(const Bytes& entry) {
  return Bytes(entry.begin(), entry.end() - 4);
}
IndexRowPointer RowOf(const Bytes& entry) {
  const std::uint8_t* p = entry.data() + entry.size() - 4;
  return {static_cast<std::uint32_t>(p[0] << 16 | p[1] << 8 | p[2]), p[3]};
}

// A fresh database in memory with one index whose root is an empty leaf.
class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }

  void Open(std::uint8_t flags = jet::index_flag::kAccess2000) {
    tree_.reset();
    pager_.reset();
    fs_.Remove("t.mdb");
    pager_ = jet::Pager::CreateNew(fs_.Open("t.mdb", core::OpenMode::kCreateNew), {});
    {
      jet::PageRef ref = pager_->Allocate(nullptr);
      root_ = ref.Number();
      jet::IndexPage empty;
      empty.table_definition = kTdef;
      jet::EncodeIndexPage(empty, {ref.MutableData(), 4096});
    }
    definition_.name = "ix";
    definition_.columns = {{0, "k", {kt::kLong}}};
    definition_.flags = flags;
    definition_.root_page = root_;
    definition_.table_definition_page = kTdef;
    tree_ = std::make_unique<IndexTree>(*pager_, definition_, jet::IndexContext{"t.mdb", "T"});
  }

  // A second tree object over the same pages: no cached pages, everything read anew.
  std::unique_ptr<IndexTree> Reopen() {
    return std::make_unique<IndexTree>(*pager_, definition_, jet::IndexContext{"t.mdb", "T"});
  }

  index_test::RawTree Walk() {
    pages_.clear();
    return index_test::WalkRaw(
        [&](std::uint32_t n) -> const std::uint8_t* {
          auto& copy = pages_[n];
          jet::PageRef ref = pager_->Read(n);
          copy.assign(ref.Data(), ref.Data() + 4096);
          return copy.data();
        },
        root_);
  }

  std::vector<Bytes> ScanForward() {
    std::vector<Bytes> out;
    jet::IndexCursor c(*tree_);
    for (bool ok = c.First(); ok; ok = c.Next())
      out.emplace_back(c.Entry().begin(), c.Entry().end());
    return out;
  }
  std::vector<Bytes> ScanBackward() {
    std::vector<Bytes> out;
    jet::IndexCursor c(*tree_);
    for (bool ok = c.Last(); ok; ok = c.Prev())
      out.emplace_back(c.Entry().begin(), c.Entry().end());
    std::reverse(out.begin(), out.end());
    return out;
  }

  core::MemoryFileSystem fs_;
  std::unique_ptr<jet::Pager> pager_;
  std::uint32_t root_ = 0;
  jet::IndexDefinition definition_;
  std::unique_ptr<IndexTree> tree_;
  std::map<std::uint32_t, Bytes> pages_;
};

TEST_F(TreeTest, RandomChangesMatchAModel) {
  struct Case {
    const char* what;
    std::size_t key_bytes;  // 0: Long keys; otherwise Binary keys of this length
    int operations;
    int insert_percent;
    std::uint32_t key_range;
  } cases[] = {
      {"small keys, growing", 0, 30000, 80, 1u << 30},
      {"small keys, many duplicates", 0, 20000, 60, 50},
      {"big keys, deep trees", 900, 3000, 70, 1u << 30},
      {"mid keys, churn", 200, 8000, 50, 400},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    std::mt19937 rng(7);
    std::set<Bytes> model;
    std::vector<std::pair<Bytes, IndexRowPointer>> live;
    std::uint32_t next_row = 0;
    for (int op = 0; op < c.operations; ++op) {
      if (live.empty() || static_cast<int>(rng() % 100) < c.insert_percent) {
        const std::uint32_t v = rng() % c.key_range;
        const Bytes key =
            c.key_bytes == 0 ? LongKey(static_cast<std::int32_t>(v)) : BinaryKey(v, c.key_bytes);
        const IndexRowPointer row = Row(next_row++);
        const auto at = model.lower_bound(key);
        const bool was_new = at == model.end() || at->size() != key.size() + 4 ||
                             !std::equal(key.begin(), key.end(), at->begin());
        if (op % 97 == 0) {
          ASSERT_EQ(tree_->Insert(key, row), was_new) << "distinct-key answer";
        } else {
          tree_->Insert(key, row);
        }
        model.insert(Entry(key, row));
        live.emplace_back(key, row);
      } else {
        const std::size_t pick = rng() % live.size();
        ASSERT_TRUE(tree_->Remove(live[pick].first, live[pick].second));
        model.erase(Entry(live[pick].first, live[pick].second));
        live[pick] = live.back();
        live.pop_back();
      }
      if (op % 5000 == 4999) {
        ASSERT_EQ(Walk().entries.size(), model.size());
      }
    }
    const auto walked = Walk();
    const std::vector<Bytes> expected(model.begin(), model.end());
    ASSERT_EQ(walked.entries, expected);
    ASSERT_EQ(ScanForward(), expected);
    ASSERT_EQ(ScanBackward(), expected);
    EXPECT_EQ(tree_->CountEntries(), expected.size());
    auto fresh = Reopen();
    EXPECT_EQ(fresh->CountEntries(), expected.size());
    if (c.key_bytes == 900) {
      EXPECT_GE(walked.height, 4);
    }
    // Remove everything: the root is an empty leaf again and every other page is free.
    const auto pages = walked.pages;
    for (const auto& [key, row] : live) ASSERT_TRUE(tree_->Remove(key, row));
    const auto empty = Walk();
    EXPECT_TRUE(empty.entries.empty());
    EXPECT_EQ(empty.pages, std::vector<std::uint32_t>{root_});
    for (std::uint32_t p : pages) {
      if (p != root_) {
        EXPECT_TRUE(pager_->IsFree(p)) << "page " << p;
      }
    }
    EXPECT_FALSE(tree_->Remove(LongKey(1), Row(1)));
  }
}

TEST_F(TreeTest, AscendingInsertsLeaveFullPagesLikeAccess) {
  for (std::int32_t v = 0; v < 3000; ++v)
    tree_->Insert(LongKey(v), Row(static_cast<std::uint32_t>(v)));
  const auto walked = Walk();
  ASSERT_EQ(walked.entries.size(), 3000u);
  EXPECT_EQ(walked.height, 2);
  const auto root = index_test::ParseRaw(pages_[root_].data());
  EXPECT_NE(root.tail, 0u);
  EXPECT_EQ(root.level, 1);
  EXPECT_EQ(walked.pages.size(), root.entries.size() + 2);
  // Every leaf but the last is full: not even one more 9-byte entry, compressed, would fit.
  for (const auto& e : root.entries) {
    const std::uint32_t child =
        e[e.size() - 4] << 24 | e[e.size() - 3] << 16 | e[e.size() - 2] << 8 | e.back();
    const std::uint8_t* leaf = pages_[child].data();
    const std::size_t prefix = leaf[0x18] | leaf[0x19] << 8;
    EXPECT_LT(leaf[2] | leaf[3] << 8, 9 - static_cast<int>(prefix)) << "leaf " << child;
  }
}

TEST_F(TreeTest, BuildMakesTheSameEntriesAsInserts) {
  std::mt19937 rng(11);
  std::set<Bytes> model;
  for (int i = 0; i < 5000; ++i)
    model.insert(Entry(BinaryKey(rng() % 3000, 40), Row(static_cast<std::uint32_t>(i))));
  const std::vector<Bytes> sorted(model.begin(), model.end());
  for (const auto& e : sorted) tree_->Insert(KeyOf(e), RowOf(e));
  const auto by_insert = Walk().entries;
  Open();
  tree_->Build(sorted);
  const auto built = Walk();
  EXPECT_EQ(built.entries, by_insert);
  EXPECT_EQ(built.entries, sorted);
  EXPECT_EQ(built.height, 3);
  // A built tree stays maintainable.
  for (int i = 0; i < 2000; ++i) {
    const auto& e = sorted[rng() % sorted.size()];
    tree_->Remove(KeyOf(e), RowOf(e));
    tree_->Insert(BinaryKey(rng() % 3000, 40), Row(100000 + static_cast<std::uint32_t>(i)));
  }
  Walk();
  // Builds of every size: one leaf, exactly full levels, several levels of big keys.
  for (std::size_t n : {0, 1, 401, 402, 2000}) {
    Open();
    std::vector<Bytes> entries;
    for (std::size_t i = 0; i < n; ++i)
      entries.push_back(
          Entry(LongKey(static_cast<std::int32_t>(i)), Row(static_cast<std::uint32_t>(i))));
    tree_->Build(entries);
    EXPECT_EQ(Walk().entries, entries) << n;
  }
  Open();
  std::vector<Bytes> big;
  for (std::uint32_t i = 0; i < 300; ++i) big.push_back(Entry(BinaryKey(i, 1000), Row(i)));
  tree_->Build(big);
  const auto deep = Walk();
  EXPECT_EQ(deep.entries, big);
  EXPECT_GE(deep.height, 4);
  // Building again replaces the content and frees the old pages.
  tree_->Build({Entry(LongKey(5), Row(5))});
  EXPECT_EQ(Walk().pages, std::vector<std::uint32_t>{root_});
  for (std::uint32_t p : deep.pages) {
    if (p != root_) {
      EXPECT_TRUE(pager_->IsFree(p));
    }
  }
}

// Seek against the documented rule, computed by brute force over the sorted entries.
TEST_F(TreeTest, SeekFollowsTheComparisonRules) {
  definition_.columns = {{0, "a", {kt::kLong}}, {1, "b", {kt::kLong, true}}};
  tree_ = Reopen();
  std::vector<Bytes> sorted;
  std::uint32_t row = 0;
  for (std::int32_t a = 0; a < 600; a += 3) {
    for (std::int32_t b : {7, 2, 2}) {
      Bytes key = LongKey(a);
      const Bytes second = LongKey(b, true);
      key.insert(key.end(), second.begin(), second.end());
      tree_->Insert(key, Row(row));
      sorted.push_back(Entry(key, Row(row++)));
    }
  }
  std::sort(sorted.begin(), sorted.end());
  auto starts = [](const Bytes& key, const Bytes& prefix) {
    return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
  };
  std::vector<Bytes> probes;
  for (std::int32_t a : {-5, 0, 1, 3, 299, 300, 301, 597, 598, 1000}) {
    probes.push_back(LongKey(a));
    for (std::int32_t b : {9, 7, 5, 2, 0}) {
      Bytes k = LongKey(a);
      const Bytes second = LongKey(b, true);
      k.insert(k.end(), second.begin(), second.end());
      probes.push_back(k);
    }
  }
  for (const auto& probe : probes) {
    // lo: first entry whose key starts with or sorts after the probe; hi: first after.
    std::size_t lo = 0, hi = 0;
    while (lo < sorted.size() && KeyOf(sorted[lo]) < probe && !starts(KeyOf(sorted[lo]), probe))
      ++lo;
    hi = lo;
    while (hi < sorted.size() && starts(KeyOf(sorted[hi]), probe)) ++hi;
    const struct {
      SeekComparison op;
      long want;  // index into sorted, -1 = NoMatch
    } expected[] = {
        {SeekComparison::kEqual, lo < hi ? static_cast<long>(lo) : -1},
        {SeekComparison::kGreaterEqual, lo < sorted.size() ? static_cast<long>(lo) : -1},
        {SeekComparison::kGreater, hi < sorted.size() ? static_cast<long>(hi) : -1},
        {SeekComparison::kLessEqual, static_cast<long>(hi) - 1},
        {SeekComparison::kLess, static_cast<long>(lo) - 1},
    };
    for (const auto& e : expected) {
      jet::IndexCursor cursor(*tree_);
      const bool found = cursor.Seek(e.op, probe);
      ASSERT_EQ(found, e.want >= 0) << index_test::Hex(probe) << " op " << static_cast<int>(e.op);
      if (found) {
        EXPECT_EQ(Bytes(cursor.Entry().begin(), cursor.Entry().end()), sorted[e.want])
            << index_test::Hex(probe);
      }
    }
  }
  EXPECT_TRUE(tree_->ContainsKey(probes[8]));   // (0, 7)
  EXPECT_FALSE(tree_->ContainsKey(probes[9]));  // (0, 5)
}

TEST_F(TreeTest, SeekEntryFindsAnEntryOrThePlaceWhereItWouldBe) {
  // Keys 0, 10, 20, ... with three rows each, over several leaves.
  std::vector<Bytes> sorted;
  for (std::int32_t v = 0; v < 3000; v += 10) {
    for (std::uint32_t r : {5u, 1u, 9u}) {
      const IndexRowPointer row = Row(static_cast<std::uint32_t>(v) * 10 + r);
      tree_->Insert(LongKey(v), row);
      sorted.push_back(Entry(LongKey(v), row));
    }
  }
  std::sort(sorted.begin(), sorted.end());
  const Bytes last = sorted.back();
  const Bytes probes[] = {
      sorted[0],                            // the first entry
      sorted[400],                          // one in the middle
      last,                                 // the last
      Entry(LongKey(10), Row(103)),         // between two rows of one key
      Entry(LongKey(10), Row(0)),           // before every row of a key
      Entry(LongKey(1490), Row(14999)),     // after every row of a key
      Entry(LongKey(-1), Row(0)),           // before everything
      Entry(LongKey(2995), Row(0)),         // after everything
      Bytes(last.begin(), last.end() - 1),  // a shorter entry: sorts before `last`
  };
  for (const Bytes& probe : probes) {
    SCOPED_TRACE(index_test::Hex(probe));
    const auto at = std::lower_bound(sorted.begin(), sorted.end(), probe);
    jet::IndexCursor c(*tree_);
    ASSERT_EQ(c.SeekEntry(probe), at != sorted.end());
    if (at == sorted.end()) {
      EXPECT_FALSE(c.Valid());
      continue;
    }
    EXPECT_EQ(Bytes(c.Entry().begin(), c.Entry().end()), *at);
    // The cursor goes on from there both ways.
    if (at + 1 != sorted.end()) {
      ASSERT_TRUE(c.Next());
      EXPECT_EQ(Bytes(c.Entry().begin(), c.Entry().end()), *(at + 1));
      ASSERT_TRUE(c.Prev());
    }
    if (at != sorted.begin()) {
      ASSERT_TRUE(c.Prev());
      EXPECT_EQ(Bytes(c.Entry().begin(), c.Entry().end()), *(at - 1));
    }
  }
}

// Skip and Rank pass whole leaves by their entry counts; they must agree with stepping entry
// by entry, from any entry, across leaves, to the end, and after the cursor's entry went.
TEST_F(TreeTest, SkipAndRankAgreeWithSteppingEntryByEntry) {
  std::vector<Bytes> sorted;
  for (std::int32_t v = 0; v < 3000; ++v) {
    const IndexRowPointer row = Row(static_cast<std::uint32_t>(v));
    tree_->Insert(LongKey(v * 7 % 3001), row);
    sorted.push_back(Entry(LongKey(v * 7 % 3001), row));
  }
  std::sort(sorted.begin(), sorted.end());
  ASSERT_GT(tree_->PageStats().leaves, 3u);
  for (std::size_t from : {0u, 1u, 17u, 600u, 2999u}) {
    for (std::uint64_t n : {0u, 1u, 5u, 250u, 1000u, 2998u, 3000u}) {
      jet::IndexCursor c(*tree_);
      ASSERT_TRUE(c.SeekEntry(sorted[from]));
      EXPECT_EQ(c.Rank(), from);
      const bool inside = from + n < sorted.size();
      ASSERT_EQ(c.Skip(n), inside) << from << " + " << n;
      if (!inside) continue;
      EXPECT_EQ(Bytes(c.Entry().begin(), c.Entry().end()), sorted[from + n]) << from << " + " << n;
      EXPECT_EQ(c.Rank(), from + n);
    }
  }
  // The cursor's entry removed: the entry after it is the first step.
  jet::IndexCursor c(*tree_);
  ASSERT_TRUE(c.SeekEntry(sorted[100]));
  Bytes gone = sorted[100];
  tree_->Remove(std::span(gone).first(gone.size() - 4),
                IndexRowPointer{
                    static_cast<std::uint32_t>(gone[gone.size() - 4] << 16 |
                                               gone[gone.size() - 3] << 8 | gone[gone.size() - 2]),
                    gone[gone.size() - 1]});
  ASSERT_TRUE(c.Skip(3));
  EXPECT_EQ(Bytes(c.Entry().begin(), c.Entry().end()), sorted[103]);
  EXPECT_EQ(c.Rank(), 102u);  // one entry fewer before it
}

TEST_F(TreeTest, CursorsSurviveChanges) {
  for (std::int32_t v = 0; v < 3000; ++v)
    tree_->Insert(LongKey(v), Row(static_cast<std::uint32_t>(v)));
  // Walk forward deleting every visited entry and its successor's successor.
  jet::IndexCursor c(*tree_);
  std::vector<std::int32_t> seen;
  for (bool ok = c.First(); ok; ok = c.Next()) {
    const std::int32_t v = static_cast<std::int32_t>((c.Key()[1] ^ 0x80) << 24 | c.Key()[2] << 16 |
                                                     c.Key()[3] << 8 | c.Key()[4]);
    seen.push_back(v);
    tree_->Remove(LongKey(v), Row(static_cast<std::uint32_t>(v)));
    tree_->Remove(LongKey(v + 2), Row(static_cast<std::uint32_t>(v + 2)));
  }
  // Visited 0, 1, 4, 5, 8, 9, ...: each step lands on the entry after the removed one.
  ASSERT_EQ(seen.size(), 1500u);
  for (std::size_t i = 0; i < seen.size(); ++i)
    EXPECT_EQ(seen[i], static_cast<std::int32_t>(i / 2 * 4 + i % 2));
  EXPECT_EQ(tree_->CountEntries(), 0u);
  // Backward with inserts behind the cursor: they are not visited again.
  for (std::int32_t v = 0; v < 1000; v += 2)
    tree_->Insert(LongKey(v), Row(static_cast<std::uint32_t>(v)));
  int steps = 0;
  for (bool ok = c.Last(); ok; ok = c.Prev()) {
    ++steps;
    tree_->Insert(LongKey(2000 + steps), Row(static_cast<std::uint32_t>(2000 + steps)));
  }
  EXPECT_EQ(steps, 500);
}

TEST_F(TreeTest, DamagedTreesAreRefusedWithTheirPlace) {
  for (std::int32_t v = 0; v < 1000; ++v)
    tree_->Insert(LongKey(v), Row(static_cast<std::uint32_t>(v)));
  const auto walked = Walk();
  ASSERT_EQ(walked.height, 2);
  const std::uint32_t leaf = walked.pages[1];
  struct Case {
    const char* what;
    std::uint32_t page;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    const char* message_part;
  } cases[] = {
      {"child beyond the file", root_, 0x14, {0xFF, 0xFF, 0, 0}, "outside the file"},
      {"child loops to the root",
       root_,
       0x14,
       {static_cast<std::uint8_t>(root_), 0, 0, 0},
       "leads back up"},
      {"page of another table",
       leaf,
       0x04,
       {0x33, 0, 0, 0},
       "belongs to the table defined on page 51"},
      {"entry mask past the end", leaf, 0x1B + 452, {0x80}, "past the page end"},
      {"free space", leaf, 0x02, {0x00, 0x00}, "free space"},
      {"not an index page", leaf, 0x00, {0x01}, "not an index page"},
  };
  for (const auto& c : cases) {
    Bytes saved;
    {
      jet::PageRef ref = pager_->Write(c.page);
      saved.assign(ref.Data(), ref.Data() + 4096);
      std::copy(c.bytes.begin(), c.bytes.end(), ref.MutableData() + c.offset);
    }
    auto fresh = Reopen();
    try {
      fresh->CountEntries();
      jet::IndexCursor cursor(*fresh);
      cursor.Last();
      fresh->Pages();
      ADD_FAILURE() << c.what << " not noticed";
    } catch (const jet::CorruptDatabase& e) {
      const std::string message = e.what();
      for (const char* part : {"t.mdb", "'T'", "index 'ix'", c.message_part}) {
        EXPECT_NE(message.find(part), std::string::npos) << c.what << ": " << message;
      }
    }
    jet::PageRef ref = pager_->Write(c.page);
    std::copy(saved.begin(), saved.end(), ref.MutableData());
  }
}

TEST_F(TreeTest, DamagedPagesAreReportedWordForWord) {
  // What a user reads about a page that is no index page: the file, table and page, the
  // index, then what the bytes show.
  tree_->Insert(LongKey(1), Row(1));
  const struct {
    std::size_t offset;
    std::uint8_t byte;
    const char* detail;
  } cases[] = {
      {0x00, 0x01, "page type 1 is not an index page"},
      {0x01, 0x07, "index page marker byte is 7, not 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.detail);
    std::uint8_t saved = 0;
    {
      jet::PageRef ref = pager_->Write(root_);
      saved = ref.Data()[c.offset];
      ref.MutableData()[c.offset] = c.byte;
    }
    try {
      Reopen()->CountEntries();
      ADD_FAILURE() << "not noticed";
    } catch (const jet::CorruptDatabase& e) {
      EXPECT_EQ(std::string(e.what()), "t.mdb: damaged database (table 'T', page " +
                                           std::to_string(root_) + "): index 'ix': " + c.detail);
      EXPECT_EQ(e.File(), "t.mdb");
      EXPECT_EQ(e.Page(), root_);
    }
    pager_->Write(root_).MutableData()[c.offset] = saved;
  }
  EXPECT_EQ(Reopen()->CountEntries(), 1u);
}

TEST_F(TreeTest, BrokenPreconditionsAreInternalErrorsNamingTheirPlace) {
  tree_->Insert(LongKey(1), Row(1));
  const std::vector<Bytes> unsorted = {Entry(LongKey(2), Row(2)), Entry(LongKey(1), Row(1))};
  const struct {
    std::string check;
    const char* file;
    std::function<void()> call;
  } cases[] = {
      {"IndexCursor::Rank needs a cursor on an entry", "src/jet/src/btree_cursor.cpp",
       [&] {
         jet::IndexCursor cursor(*tree_);
         cursor.Rank();
       }},
      {"IndexTree::Build needs sorted, distinct entries", "src/jet/src/btree.cpp",
       [&] { tree_->Build(unsorted); }},
      {"page " + std::to_string(root_) + " was read, not written", "src/jet/src/pager.cpp",
       [&] { pager_->Read(root_).MutableData(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.check);
    try {
      c.call();
      ADD_FAILURE() << "nothing raised";
    } catch (const core::EInternalError& e) {
      EXPECT_EQ(e.Check(), c.check);
      EXPECT_EQ(e.File(), c.file);
      EXPECT_GT(e.Line(), 0u);
      EXPECT_EQ(std::string(e.what()),
                e.File() + ":" + std::to_string(e.Line()) +
                    ": internal check failed (a damaged file or a bug): " + c.check);
    }
  }
  // The refused calls changed nothing.
  EXPECT_EQ(tree_->CountEntries(), 1u);
}

TEST_F(TreeTest, DropFreesEveryPage) {
  for (std::int32_t v = 0; v < 5000; ++v)
    tree_->Insert(LongKey(v), Row(static_cast<std::uint32_t>(v)));
  const auto pages = Walk().pages;
  ASSERT_GT(pages.size(), 10u);
  tree_->Drop();
  for (std::uint32_t p : pages) EXPECT_TRUE(pager_->IsFree(p)) << "page " << p;
}

TEST_F(TreeTest, KeysLongerThanThePageAllowsAreRefused) {
  EXPECT_THROW(tree_->Insert(BinaryKey(1, 2000), Row(1)), jet::JetError);
  EXPECT_NO_THROW(tree_->Insert(BinaryKey(1, 1000), Row(1)));
}

}  // namespace

// Trees encode changed pages late. Whatever looks at the pages next must still see every
// change: another tree over the index, a raw read through the pager, the file after Flush,
// and a tree going away before or after its pager.
TEST_F(TreeTest, ChangedPagesReachEveryoneWhoLooks) {
  std::set<Bytes> model;
  auto other = Reopen();
  std::mt19937 rng(11);
  for (std::uint32_t n = 0; n < 6000; ++n) {
    const Bytes key = BinaryKey(rng() % 100000, 40);
    (n % 7 == 3 ? *other : *tree_).Insert(key, Row(n));
    model.insert(Entry(key, Row(n)));
    if (n % 1000 == 999) {
      const std::vector<Bytes> expected(model.begin(), model.end());
      ASSERT_EQ(Walk().entries, expected);  // raw reads through the pager
    }
  }
  const std::vector<Bytes> expected(model.begin(), model.end());
  EXPECT_EQ(other->CountEntries(), expected.size());
  EXPECT_TRUE(tree_->Remove(KeyOf(expected[10]), RowOf(expected[10])));
  model.erase(expected[10]);

  // The file itself after Flush, read by a new pager.
  EXPECT_TRUE(pager_->HasUnwrittenChanges());
  pager_->Flush();
  EXPECT_FALSE(pager_->HasUnwrittenChanges());
  tree_->Insert(BinaryKey(7, 40), Row(9000));  // changed again, after the flush
  model.insert(Entry(BinaryKey(7, 40), Row(9000)));
  pager_->Flush();
  {
    auto file = fs_.Open("t.mdb", core::OpenMode::kReadOnly);
    jet::Pager fresh(std::move(file), jet::JetVersion::kJet4, {});
    IndexTree reader(fresh, definition_, jet::IndexContext{"t.mdb", "T"});
    std::vector<Bytes> read;
    jet::IndexCursor c(reader);
    for (bool ok = c.First(); ok; ok = c.Next())
      read.emplace_back(c.Entry().begin(), c.Entry().end());
    EXPECT_EQ(read, std::vector<Bytes>(model.begin(), model.end()));
  }

  // A tree that goes while it holds changes writes them into the pager.
  {
    auto short_lived = Reopen();
    short_lived->Insert(BinaryKey(8, 40), Row(9001));
    model.insert(Entry(BinaryKey(8, 40), Row(9001)));
  }
  EXPECT_EQ(Walk().entries, std::vector<Bytes>(model.begin(), model.end()));

  // A tree that outlives its pager neither writes nor touches it.
  auto orphan = Reopen();
  orphan->Insert(BinaryKey(10, 40), Row(9003));
  other.reset();
  tree_.reset();
  pager_.reset();
  orphan.reset();
}

// The index front door as the layers above use it: a cursor opened on a table and one of
// its indexes, with nothing of the tree or the page cache in sight. Checked against the
// keys the test put in (even numbers in shuffled order, so that the physical order is not
// the key order and every odd number falls between two entries).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "core/file.h"
#include "jet/database.h"
#include "jet/index_cursor.h"

namespace {

constexpr int kRows = 3000;  // several leaves of a Long key

class IndexCursorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    jet::OpenOptions options;
    options.file_system = &fs_;
    db_ = jet::Database::Create("cursor.mdb", options);
    jet::NewTable spec;
    spec.name = "Numbers";
    spec.columns = {{.name = "ID", .type = jet::column_type::kLong},
                    {.name = "Note", .type = jet::column_type::kText, .size = 20}};
    spec.indexes = {{.name = "PrimaryKey", .columns = {{"ID", true}}, .primary_key = true}};
    table_ = &db_->CreateTable(spec);
    std::vector<int> ids;
    for (int i = 0; i < kRows; ++i) ids.push_back(2 * i);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    for (int id : ids) Insert(id);
  }

  void Insert(int id) {
    const std::vector<core::Variant> row = {core::Variant::FromLong(id),
                                            core::Variant::FromString("row")};
    where_[id] = table_->Insert(row);
  }

  jet::IndexCursor Open() { return jet::IndexCursor(*table_, 0); }

  // The key prefix of an ID, as a Seek takes it.
  std::vector<std::uint8_t> Key(const jet::IndexCursor& cursor, int id) const {
    const auto v = static_cast<std::uint32_t>(id);
    const std::uint8_t stored[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                    static_cast<std::uint8_t>(v >> 16),
                                    static_cast<std::uint8_t>(v >> 24)};
    std::vector<std::uint8_t> key;
    jet::AppendKeySegment(cursor.Definition().columns.at(0).key, jet::KeyValue::Stored(stored),
                          key);
    return key;
  }

  // The ID of the row the cursor is on.
  int Id(const jet::IndexCursor& cursor) {
    const jet::IndexRowPointer row = cursor.Row();
    return table_->Read(jet::RowPointer{row.page, row.row}).at(0).ToLong();
  }

  core::MemoryFileSystem fs_;
  std::unique_ptr<jet::Database> db_;
  jet::Table* table_ = nullptr;
  std::map<int, jet::RowPointer> where_;
};

TEST_F(IndexCursorTest, WalksBothWaysInKeyOrderAndCountsEveryEntry) {
  jet::IndexCursor cursor = Open();
  EXPECT_FALSE(cursor.Valid());
  EXPECT_EQ(cursor.CountEntries(), static_cast<std::uint64_t>(kRows));
  int expected = 0;
  for (bool on = cursor.First(); on; on = cursor.Next(), expected += 2)
    ASSERT_EQ(Id(cursor), expected);
  EXPECT_EQ(expected, 2 * kRows);
  EXPECT_FALSE(cursor.Valid());
  expected = 2 * kRows - 2;
  for (bool on = cursor.Last(); on; on = cursor.Prev(), expected -= 2)
    ASSERT_EQ(Id(cursor), expected);
  EXPECT_EQ(expected, -2);
}

TEST_F(IndexCursorTest, SeeksWithTheFiveComparisons) {
  using C = jet::SeekComparison;
  struct Case {
    C comparison;
    int key;
    std::optional<int> found;  // nothing: NoMatch
  };
  const int last = 2 * kRows - 2;
  const Case cases[] = {
      {C::kEqual, 1000, 1000},        {C::kEqual, 1001, std::nullopt},
      {C::kGreaterEqual, 1001, 1002}, {C::kGreaterEqual, 1000, 1000},
      {C::kGreater, 1000, 1002},      {C::kGreater, last, std::nullopt},
      {C::kLessEqual, 1001, 1000},    {C::kLessEqual, last + 100, last},
      {C::kLess, 1000, 998},          {C::kLess, 0, std::nullopt},
      {C::kGreaterEqual, -5, 0},      {C::kEqual, last, last},
  };
  jet::IndexCursor cursor = Open();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "comparison " << static_cast<int>(c.comparison) << " key " << c.key);
    const bool found = cursor.Seek(c.comparison, Key(cursor, c.key));
    ASSERT_EQ(found, c.found.has_value());
    ASSERT_EQ(cursor.Valid(), found);
    if (found) {
      EXPECT_EQ(Id(cursor), *c.found);
    }
  }
}

TEST_F(IndexCursorTest, SkipsAndRanksAcrossLeaves) {
  jet::IndexCursor cursor = Open();
  for (std::uint64_t n : {0u, 1u, 299u, 300u, 1234u, 2999u}) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(cursor.First());
    ASSERT_TRUE(cursor.Skip(n));
    EXPECT_EQ(Id(cursor), static_cast<int>(2 * n));
    EXPECT_EQ(cursor.Rank(), n);
  }
  ASSERT_TRUE(cursor.Seek(jet::SeekComparison::kEqual, Key(cursor, 4000)));
  EXPECT_EQ(cursor.Rank(), 2000u);
  EXPECT_TRUE(cursor.Skip(kRows - 2001));
  EXPECT_EQ(Id(cursor), 2 * kRows - 2);
  EXPECT_FALSE(cursor.Skip(1));
  EXPECT_FALSE(cursor.Valid());
}

TEST_F(IndexCursorTest, AnEntryFoundAgainByItsBytes) {
  jet::IndexCursor cursor = Open();
  ASSERT_TRUE(cursor.Seek(jet::SeekComparison::kEqual, Key(cursor, 500)));
  const std::vector<std::uint8_t> entry(cursor.Entry().begin(), cursor.Entry().end());
  const jet::IndexRowPointer row = cursor.Row();
  EXPECT_EQ(jet::IndexCursor::MakeEntry(cursor.Key(), row), entry);
  cursor.First();
  ASSERT_TRUE(cursor.SeekEntry(entry));
  EXPECT_EQ(Id(cursor), 500);
  ASSERT_TRUE(cursor.Find(Key(cursor, 500), row));
  EXPECT_FALSE(cursor.Find(Key(cursor, 502), row));  // that key with another row: not there
  // An entry between two: the one after it.
  ASSERT_TRUE(cursor.SeekEntry(jet::IndexCursor::MakeEntry(Key(cursor, 501), row)));
  EXPECT_EQ(Id(cursor), 502);
}

TEST_F(IndexCursorTest, ACopyIsASecondPositionOverTheSameIndex) {
  jet::IndexCursor first = Open();
  ASSERT_TRUE(first.Seek(jet::SeekComparison::kEqual, Key(first, 10)));
  jet::IndexCursor second = first;
  EXPECT_EQ(Id(second), 10);
  ASSERT_TRUE(second.Next());
  ASSERT_TRUE(second.Next());
  EXPECT_EQ(Id(second), 14);
  EXPECT_EQ(Id(first), 10);
  ASSERT_TRUE(first.Prev());
  EXPECT_EQ(Id(first), 8);
  EXPECT_EQ(second.Rank(), 7u);
}

TEST_F(IndexCursorTest, KeepsItsPlaceWhileRowsChangeThroughTheTable) {
  jet::IndexCursor cursor = Open();
  ASSERT_TRUE(cursor.Seek(jet::SeekComparison::kEqual, Key(cursor, 100)));
  Insert(101);
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(Id(cursor), 101);
  table_->Delete(where_.at(102));
  table_->Delete(where_.at(104));
  ASSERT_TRUE(cursor.Next());
  EXPECT_EQ(Id(cursor), 106);
  // The cursor's own entry goes: the next step lands where it was.
  table_->Delete(where_.at(106));
  ASSERT_TRUE(cursor.Prev());
  EXPECT_EQ(Id(cursor), 101);
  EXPECT_EQ(cursor.CountEntries(), static_cast<std::uint64_t>(kRows - 2));
}

TEST_F(IndexCursorTest, KeyWithinEndsAWalkOverARange) {
  jet::IndexCursor cursor = Open();
  ASSERT_TRUE(cursor.Seek(jet::SeekComparison::kEqual, Key(cursor, 1000)));
  const std::vector<std::uint8_t> key(cursor.Key().begin(), cursor.Key().end());
  std::vector<std::uint8_t> longer = key;
  longer.push_back(0x00);
  struct Case {
    const char* what;
    std::vector<std::uint8_t> bound;
    bool inclusive;
    bool within;
  };
  const Case cases[] = {
      {"the key itself, inclusive", key, true, true},
      {"the key itself, exclusive", key, false, false},
      {"its first bytes, inclusive", {key.begin(), key.begin() + 3}, true, true},
      {"its first bytes, exclusive", {key.begin(), key.begin() + 3}, false, false},
      {"a greater key, exclusive", Key(cursor, 1001), false, true},
      {"a smaller key, inclusive", Key(cursor, 999), true, false},
      {"a longer bound it starts, exclusive", longer, false, true},
  };
  for (const Case& c : cases) EXPECT_EQ(cursor.KeyWithin(c.bound, c.inclusive), c.within) << c.what;

  // A range walk: from 301 up to 411 inclusive.
  std::vector<int> ids;
  const std::vector<std::uint8_t> high = Key(cursor, 411);
  for (bool on = cursor.Seek(jet::SeekComparison::kGreaterEqual, Key(cursor, 301));
       on && cursor.KeyWithin(high, true); on = cursor.Next()) {
    ids.push_back(Id(cursor));
  }
  ASSERT_EQ(ids.size(), 55u);
  EXPECT_EQ(ids.front(), 302);
  EXPECT_EQ(ids.back(), 410);
}

}  // namespace

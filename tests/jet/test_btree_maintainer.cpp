// Per-table index maintenance: a refused row leaves every index as it was; unique,
// required, primary-key and ignore-nulls rules; updates that change nothing in an index
// leave it alone; one-pass builds refuse duplicates without touching the index.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>

#include "btree.h"
#include "core/file.h"
#include "jet/pager.h"
#include "test_index_util.h"

namespace {

namespace kt = jet::key_type;
using Bytes = std::vector<std::uint8_t>;

// A row: column 0 Long, column 1 Text, column 2 Long.
struct Row {
  std::optional<std::int32_t> a;
  std::optional<std::u16string> b;
  std::optional<std::int32_t> c;
};

struct RowSource {
  const Row& row;
  std::uint8_t a[4], c[4];
  jet::KeyValue operator()(std::uint16_t column) {
    if (column == 0) {
      if (!row.a) return jet::KeyValue::Null();
      std::memcpy(a, &*row.a, 4);
      return jet::KeyValue::Stored(a);
    }
    if (column == 1) return row.b ? jet::KeyValue::Text(*row.b) : jet::KeyValue::Null();
    if (!row.c) return jet::KeyValue::Null();
    std::memcpy(c, &*row.c, 4);
    return jet::KeyValue::Stored(c);
  }
};

class MaintainerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pager_ = jet::Pager::CreateNew(fs_.Open("m.mdb", core::OpenMode::kCreateNew), {});
    auto index = [&](const char* name, std::vector<jet::IndexKeyColumn> columns, std::uint8_t flags,
                     bool pk) {
      jet::IndexDefinition d;
      d.name = name;
      d.columns = std::move(columns);
      d.flags = static_cast<std::uint8_t>(jet::index_flag::kAccess2000 | flags);
      d.primary_key = pk;
      d.table_definition_page = 0x0F;
      jet::PageRef ref = pager_->Allocate(nullptr);
      d.root_page = ref.Number();
      jet::IndexPage empty;
      empty.table_definition = 0x0F;
      jet::EncodeIndexPage(empty, {ref.MutableData(), 4096});
      return d;
    };
    const jet::IndexKeyColumn a{0, "a", {kt::kLong}}, b{1, "b", {kt::kText}},
        c_desc{2, "c", {kt::kLong, true}}, c{2, "c", {kt::kLong}};
    indexes_ = std::make_unique<jet::IndexMaintainer>(
        *pager_, jet::IndexContext{"m.mdb", "T"},
        std::vector<jet::IndexDefinition>{
            index("PrimaryKey", {a}, 0, true),
            index("bc", {b, c_desc}, jet::index_flag::kUnique | jet::index_flag::kIgnoreNulls,
                  false),
            index("c", {c}, jet::index_flag::kRequired, false)});
  }

  // Inserts the row at a new address; returns "" or the refusal's code name.
  std::string Insert(const Row& row) {
    RowSource source{row, {}, {}};
    try {
      auto prepared = indexes_->PrepareInsert(std::ref(source));
      const jet::IndexRowPointer where{0x100, static_cast<std::uint8_t>(next_++)};
      indexes_->CommitInsert(prepared, where);
      rows_[where.row] = row;
      return "";
    } catch (const jet::JetError& e) {
      return Code(e);
    }
  }
  std::string Update(std::uint8_t slot, const Row& row) {
    RowSource old_source{rows_.at(slot), {}, {}}, new_source{row, {}, {}};
    try {
      auto prepared =
          indexes_->PrepareUpdate(std::ref(old_source), std::ref(new_source), {0x100, slot});
      indexes_->CommitUpdate(prepared, {0x100, slot});
      rows_[slot] = row;
      return "";
    } catch (const jet::JetError& e) {
      return Code(e);
    }
  }
  void Delete(std::uint8_t slot) {
    RowSource source{rows_.at(slot), {}, {}};
    indexes_->Delete(std::ref(source), {0x100, slot});
    rows_.erase(slot);
  }
  static std::string Code(const jet::JetError& e) {
    switch (e.Code()) {
      case jet::ErrorCode::kDuplicateKey:
        EXPECT_EQ(std::string(e.what()), jet::kDuplicateKeyMessage);
        return "duplicate";
      case jet::ErrorCode::kNullNotAllowed:
        EXPECT_EQ(std::string(e.what()), jet::kNullKeyMessage);
        return "null";
      default:
        return std::string("other: ") + e.what();
    }
  }

  // The row slots each index holds, in index order.
  std::vector<std::vector<int>> Slots() {
    std::vector<std::vector<int>> out;
    for (std::size_t i = 0; i < indexes_->size(); ++i) {
      std::vector<int> slots;
      jet::IndexCursor cursor(indexes_->Tree(i));
      for (bool ok = cursor.First(); ok; ok = cursor.Next()) slots.push_back(cursor.Row().row);
      out.push_back(slots);
    }
    return out;
  }

  core::MemoryFileSystem fs_;
  std::unique_ptr<jet::Pager> pager_;
  std::unique_ptr<jet::IndexMaintainer> indexes_;
  std::map<std::uint8_t, Row> rows_;
  int next_ = 0;
};

TEST_F(MaintainerTest, RulesOfEachIndex) {
  // slot 0..: PrimaryKey(a), bc unique ignore-nulls (b, c desc), c required.
  EXPECT_EQ(Insert({1, u"Novák", 10}), "");
  EXPECT_EQ(Insert({2, u"novák", 11}), "");      // same name, another c: a new key
  EXPECT_EQ(Insert({3, std::nullopt, 12}), "");  // bc partly Null: still indexed
  EXPECT_EQ(Insert({4, std::nullopt, 13}), "");
  const auto before = Slots();
  const struct {
    Row row;
    const char* outcome;
  } refused[] = {
      {{1, u"Jiný", 20}, "duplicate"},     // primary key
      {{5, u"NOVÁK", 10}, "duplicate"},    // bc ignores case
      {{std::nullopt, u"X", 21}, "null"},  // primary key Null
      {{6, u"Y", std::nullopt}, "null"},   // required c Null
  };
  for (const auto& r : refused) {
    EXPECT_EQ(Insert(r.row), r.outcome);
    EXPECT_EQ(Slots(), before) << "a refused row changed an index";
  }
  // Accent-different and all-Null bc keys are fine, the latter several times.
  EXPECT_EQ(Insert({7, u"Nováková", 10}), "");
  EXPECT_EQ(Insert({8, u"Novak", 10}), "");
  const auto slots = Slots();
  // bc: Null b sorts first, c descending (13 before 12); then "Novak" < "Novák" = "novák"
  // (11 before 10) < "Nováková".
  EXPECT_EQ(slots[1], (std::vector<int>{3, 2, 5, 1, 0, 4}));
  // c ascending: 10 (rows 0, 4, 5 in address order), 11, 12, 13.
  EXPECT_EQ(slots[2], (std::vector<int>{0, 4, 5, 1, 2, 3}));
  EXPECT_EQ(indexes_->Counters()[0].distinct, 6u);
  EXPECT_EQ(indexes_->Counters()[2].distinct, 4u);
}

TEST_F(MaintainerTest, UpdatesAndDeletes) {
  ASSERT_EQ(Insert({1, u"Dvořák", 5}), "");
  ASSERT_EQ(Insert({2, u"Smetana", 6}), "");
  ASSERT_EQ(Insert({3, u"Janáček", 7}), "");
  // Only the case of the name changes: the key is the same, nothing moves.
  const auto before = Slots();
  EXPECT_EQ(Update(0, {1, u"DVOŘÁK", 5}), "");
  EXPECT_EQ(Slots(), before);
  // A change that would clash is refused and leaves everything as it was.
  EXPECT_EQ(Update(1, {3, u"Smetana", 6}), "duplicate");
  EXPECT_EQ(Update(1, {2, u"janáček", 7}), "duplicate");
  EXPECT_EQ(Update(1, {2, u"Smetana", std::nullopt}), "null");
  EXPECT_EQ(Slots(), before);
  // A row may keep its own key while other columns change, and take a freed key.
  EXPECT_EQ(Update(2, {3, u"Janáček", 1}), "");
  EXPECT_EQ(Slots()[2], (std::vector<int>{2, 0, 1}));
  Delete(0);
  EXPECT_EQ(Update(1, {1, u"Dvořák", 5}), "");
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{1, 2}, {1, 2}, {2, 1}}));
  Delete(1);
  Delete(2);
  EXPECT_EQ(Slots(), (std::vector<std::vector<int>>{{}, {}, {}}));
}

TEST_F(MaintainerTest, BuildingFromRowsRefusesDuplicatesAndKeepsTheIndex) {
  // Rows 0-3 build fine (row 3 has an all-Null key: no entry); row 4 clashes with row 0.
  const std::vector<Row> rows = {{1, u"a", 1},
                                 {2, u"b", 2},
                                 {4, std::nullopt, 3},
                                 {5, std::nullopt, std::nullopt},
                                 {3, u"A", 1}};
  auto walk = [&](std::size_t count) {
    return [&rows,
            count](const std::function<void(jet::IndexRowPointer, const jet::RowValues&)>& visit) {
      for (std::size_t i = 0; i < count; ++i) {
        RowSource source{rows[i], {}, {}};
        visit({0x200, static_cast<std::uint8_t>(i)}, std::ref(source));
      }
    };
  };
  ASSERT_EQ(Insert({9, u"z", 9}), "");
  const auto before = Slots();
  try {
    indexes_->BuildFromRows(1, walk(rows.size()));
    ADD_FAILURE() << "duplicate accepted";
  } catch (const jet::JetError& e) {
    EXPECT_EQ(Code(e), "duplicate");
  }
  EXPECT_EQ(Slots(), before);
  indexes_->BuildFromRows(1, walk(4));
  EXPECT_EQ(Slots()[1], (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(indexes_->Counters()[1].entries, 3u);
  EXPECT_EQ(indexes_->Counters()[1].distinct, 3u);
}

}  // namespace

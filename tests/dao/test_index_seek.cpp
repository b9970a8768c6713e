// Index order and Seek on table-type recordsets, against the index's B-tree: what a Seek
// and SetIndex touch on a large table, the five comparisons over duplicate keys, key
// prefixes, Null keys and a descending column checked against a plain scan, and the order
// staying right while rows change through the recordset and beside it.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

// White-box: the page counters of the database under the recordset.
#include "../../src/dao/src/recordset_impl.h"
#include "core/file.h"
#include "dao_test_util.h"

namespace {

using namespace dao;

jet::Database& JetOf(Recordset& rs) {
  return *rs.Impl().db->db;
}

int Id(Recordset& rs) {
  return rs.Fields().Item("ID")->Value().ToLong();
}

// Row pointers back to ordinals: the ascending run a scan leaves, searched from a guess.
TEST(IndexSeek, RowRefsFindTheirOrdinalsWhateverTheSpreadOfTheLocators) {
  struct Spread {
    const char* name;
    std::vector<std::uint32_t> locators;  // ascending
  };
  std::vector<Spread> spreads(4);
  spreads[0].name = "even pages";
  for (std::uint32_t page = 10; page < 3010; ++page)
    for (std::uint32_t row = 0; row < 60; ++row) spreads[0].locators.push_back(page << 8 | row);
  spreads[1].name = "clustered";  // a few crowded pages far from many sparse ones
  for (std::uint32_t page = 3; page < 8; ++page)
    for (std::uint32_t row = 0; row < 200; ++row) spreads[1].locators.push_back(page << 8 | row);
  for (std::uint32_t page = 100000; page < 160000; page += 7)
    spreads[1].locators.push_back(page << 8 | (page % 5));
  spreads[2].name = "one row";
  spreads[2].locators = {0x1234};
  spreads[3].name = "two far apart";
  spreads[3].locators = {0x0301, 0xFFFFFF01};
  for (const Spread& spread : spreads) {
    SCOPED_TRACE(spread.name);
    detail::RowRefs refs;
    for (std::uint32_t ptr : spread.locators) refs.push_back({ptr, 0});
    refs.push_back({spread.locators.front(), 0});  // out of order: not in the run
    ASSERT_EQ(refs.Ascending(), spread.locators.size());
    std::vector<std::uint32_t> probes;
    for (std::size_t i = 0; i < spread.locators.size(); i += 1 + i % 97) {
      probes.push_back(spread.locators[i]);
      probes.push_back(spread.locators[i] + 1);
      probes.push_back(spread.locators[i] - 1);
    }
    probes.push_back(spread.locators.back());
    probes.push_back(0);
    probes.push_back(0xFFFFFFFF);
    for (std::uint32_t ptr : probes) {
      const auto it = std::lower_bound(spread.locators.begin(), spread.locators.end(), ptr);
      std::optional<std::size_t> expected;
      if (it != spread.locators.end() && *it == ptr)
        expected = static_cast<std::size_t>(it - spread.locators.begin());
      ASSERT_EQ(refs.FindAscending(ptr), expected) << ptr;
    }
  }
}

// Every ordinal gives back its locator and generation, whether its chunk was packed into runs
// (rows a page at a time) or kept plain (rows in no order); page-ordered rows cost well under
// a byte each.
TEST(IndexSeek, RowRefsGiveBackEveryRowPackedOrPlain) {
  std::vector<detail::RowRef> given;
  std::uint32_t page = 40;
  while (given.size() < 70000) {  // appended rows: 1 to 40 rows per page
    const std::uint32_t rows = 1 + page % 40;
    for (std::uint32_t row = 0; row < rows; ++row) given.push_back({page << 8 | row, 0});
    page += 1 + page % 3;
  }
  std::uint32_t x = 12345;
  for (int i = 0; i < 40000; ++i) {  // a sorted statement's rows: no runs
    x = x * 1103515245u + 12345u;
    given.push_back({x, 0});
  }
  for (std::uint32_t row = 0; row < 20000; ++row)  // one long run across chunk boundaries
    given.push_back({0x00FF0000u + row, 0});
  given[5].gen = 2;
  given[80000].gen = 7;
  given.back().gen = 1;
  detail::RowRefs refs;
  for (const detail::RowRef& r : given) refs.push_back(r);
  ASSERT_EQ(refs.size(), given.size());
  for (std::size_t i = 0; i < given.size(); ++i) {
    ASSERT_EQ(refs[i].ptr, given[i].ptr) << i;
    ASSERT_EQ(refs[i].gen, given[i].gen) << i;
  }
  std::size_t ascending = 1;
  while (ascending < given.size() && given[ascending].ptr > given[ascending - 1].ptr) ++ascending;
  EXPECT_EQ(refs.Ascending(), ascending);

  detail::RowRefs appended;
  for (std::uint32_t n = 0; n < 1000000; ++n) appended.push_back({(100 + n / 27) << 8 | n % 27, 0});
  EXPECT_LT(appended.LocatorBytes(), 1000000u / 2);
  for (std::uint32_t n = 0; n < 1000000; n += 997)
    ASSERT_EQ(appended[n].ptr, (100 + n / 27) << 8 | n % 27) << n;
}

TEST(IndexSeek, SeekAndSetIndexReadAFewPagesOfALargeTable) {
  constexpr int kRows = 200000;
  core::MemoryFileSystem files;
  auto engine = DBEngine::Create(&files);
  auto db = engine->CreateDatabase("/big.mdb", dbLangGeneral);
  {
    auto td = db->CreateTableDef("Big");
    td->Fields().Append(td->CreateField("ID", dbLong));
    td->Fields().Append(td->CreateField("Note", dbText, 30));
    auto pk = td->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->Fields().Append(pk->CreateField("ID"));
    td->Indexes().Append(pk);
    db->TableDefs().Append(td);
    auto rs = db->OpenRecordset("Big", dbOpenTable);
    // Keys go in scattered (a permutation of 0..kRows-1), so that the physical order is
    // not the key order.
    for (int i = 0; i < kRows; ++i) {
      rs->AddNew();
      rs->Fields().Item("ID")->SetValue(core::Variant((i * 7919) % kRows));
      rs->Fields().Item("Note")->SetValue(std::string_view("some text to fill the row"));
      rs->Update();
    }
    rs->Close();
  }
  auto rs = db->OpenRecordset("Big", dbOpenTable);
  jet::Database& file = JetOf(*rs);
  // Nearly all of the file is the table's rows; the index takes a few hundred pages.
  const std::size_t file_pages = file.PageCount();
  ASSERT_GT(file_pages, 1000u);

  std::uint64_t before = file.PagesRead();
  rs->SetIndex("PrimaryKey");
  const std::uint64_t set_index = file.PagesRead() - before;
  EXPECT_EQ(Id(*rs), 0);
  EXPECT_LT(set_index, 20u) << "SetIndex read " << set_index << " of " << file_pages << " pages";

  const int keys[] = {123456, 7, kRows - 1, 99999, 150001};
  for (int key : keys) {
    SCOPED_TRACE(key);
    before = file.PagesRead();
    rs->Seek("=", {core::Variant(key)});
    const std::uint64_t seek = file.PagesRead() - before;
    ASSERT_FALSE(rs->NoMatch());
    EXPECT_EQ(Id(*rs), key);
    EXPECT_LT(seek, 20u) << "Seek read " << seek << " of " << file_pages << " pages";
  }
  before = file.PagesRead();
  rs->Seek(">", {core::Variant(kRows)});
  EXPECT_TRUE(rs->NoMatch());
  rs->Seek("<", {core::Variant(kRows)});
  EXPECT_EQ(Id(*rs), kRows - 1);
  EXPECT_LT(file.PagesRead() - before, 40u);

  // Moving on from a Seek follows the key order, a page of the index at a time.
  rs->Seek(">=", {core::Variant(5000)});
  before = file.PagesRead();
  for (int expected = 5000; expected < 5500; ++expected) {
    ASSERT_EQ(Id(*rs), expected);
    rs->MoveNext();
  }
  rs->MovePrevious();
  rs->MovePrevious();
  EXPECT_EQ(Id(*rs), 5498);
  // 500 rows: about a read per row for the values, plus the index's leaves.
  EXPECT_LT(file.PagesRead() - before, 1200u);
}

// One row of the table the comparisons are checked on.
struct Row {
  int id;
  std::optional<int> a;
  std::optional<std::string> b;
};

// The order of index "AB" (A ascending, B descending) on `a` and `b` alone: Null first in
// an ascending column and last in a descending one.
int CompareA(const std::optional<int>& x, const std::optional<int>& y) {
  if (!x || !y) return (x ? 1 : 0) - (y ? 1 : 0);
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}
int CompareB(const std::optional<std::string>& x, const std::optional<std::string>& y) {
  if (!x || !y) return (y ? 1 : 0) - (x ? 1 : 0);
  return *x < *y ? 1 : (*x > *y ? -1 : 0);
}
// Compares a row with a Seek's key values (one: A only; two: A and B).
int CompareKey(const Row& row, const std::optional<int>& a,
               const std::optional<std::optional<std::string>>& b) {
  if (int c = CompareA(row.a, a)) return c;
  return b ? CompareB(row.b, *b) : 0;
}

core::Variant ValueOf(const std::optional<int>& v) {
  return v ? core::Variant(*v) : core::Variant::Null();
}
core::Variant ValueOf(const std::optional<std::string>& v) {
  return v ? core::Variant(*v) : core::Variant::Null();
}

class IndexOrderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = DBEngine::Create(&files_);
    db_ = engine_->CreateDatabase("/order.mdb", dbLangGeneral);
    auto td = db_->CreateTableDef("T");
    td->Fields().Append(td->CreateField("ID", dbLong));
    td->Fields().Append(td->CreateField("A", dbLong));
    td->Fields().Append(td->CreateField("B", dbText, 10));
    auto pk = td->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->Fields().Append(pk->CreateField("ID"));
    td->Indexes().Append(pk);
    auto ab = td->CreateIndex("AB");
    ab->Fields().Append(ab->CreateField("A"));
    auto b = ab->CreateField("B");
    b->SetAttributes(dbDescending);
    ab->Fields().Append(b);
    td->Indexes().Append(ab);
    db_->TableDefs().Append(td);
    // Duplicates of every (A, B) pair, Nulls in both columns, enough rows for a few index
    // pages.
    const char* words[] = {"alfa", "bravo", "charlie", "delta", "echo"};
    auto rs = db_->OpenRecordset("T", dbOpenTable);
    for (int id = 1; id <= 1500; ++id) {
      const int x = (id * 37) % 13;
      const int y = (id * 11) % 6;
      Row row{id, x == 0 ? std::nullopt : std::optional<int>(x * 10),
              y == 5 ? std::nullopt : std::optional<std::string>(words[y])};
      rs->AddNew();
      rs->Fields().Item("ID")->SetValue(core::Variant(id));
      rs->Fields().Item("A")->SetValue(ValueOf(row.a));
      rs->Fields().Item("B")->SetValue(ValueOf(row.b));
      rs->Update();
    }
  }

  // The rows as a plain scan gives them (physical order), sorted as index AB orders them:
  // equal keys keep the scan's order, as the index's row pointers do.
  std::vector<Row> ModelOrder() {
    std::vector<Row> rows;
    auto rs = db_->OpenRecordset("T", dbOpenTable);
    for (; !rs->Eof(); rs->MoveNext()) {
      Row row{Id(*rs), std::nullopt, std::nullopt};
      core::Variant a = rs->Fields().Item("A")->Value();
      core::Variant b = rs->Fields().Item("B")->Value();
      if (!a.IsNull()) row.a = a.ToLong();
      if (!b.IsNull()) row.b = b.ToString();
      rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) {
      if (int c = CompareA(x.a, y.a)) return c < 0;
      return CompareB(x.b, y.b) < 0;
    });
    return rows;
  }

  static std::vector<int> Walk(Recordset& rs, bool backwards) {
    std::vector<int> out;
    if (backwards) {
      for (rs.MoveLast(); !rs.Bof(); rs.MovePrevious()) out.push_back(Id(rs));
      std::reverse(out.begin(), out.end());
    } else {
      for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) out.push_back(Id(rs));
    }
    return out;
  }
  static std::vector<int> Ids(const std::vector<Row>& rows) {
    std::vector<int> out;
    for (const auto& r : rows) out.push_back(r.id);
    return out;
  }

  core::MemoryFileSystem files_;
  std::shared_ptr<DBEngine> engine_;
  std::shared_ptr<Database> db_;
};

TEST_F(IndexOrderTest, TheFiveComparisonsAgreeWithAPlainScan) {
  const std::vector<Row> model = ModelOrder();
  auto rs = db_->OpenRecordset("T", dbOpenTable);
  rs->SetIndex("AB");
  ASSERT_EQ(Walk(*rs, false), Ids(model));
  ASSERT_EQ(Walk(*rs, true), Ids(model));

  using B = std::optional<std::optional<std::string>>;
  struct Key {
    std::optional<int> a;
    B b;  // absent: a prefix of A alone
  };
  const Key keys[] = {
      {10, {}},
      {70, {}},
      {120, {}},
      {5, {}},    // below every value
      {125, {}},  // above every value
      {65, {}},   // between two values
      {std::nullopt, {}},
      {30, B("charlie")},
      {30, B("alfa")},
      {30, B("echo")},
      {30, B("cobra")},  // between two words
      {30, B("zulu")},   // before every word (descending)
      {30, B("a")},      // after every word
      {30, B(std::nullopt)},
      {std::nullopt, B("delta")},
      {std::nullopt, B(std::nullopt)},
      {120, B(std::nullopt)},
      {120, B("alfa")},
  };
  for (const Key& key : keys) {
    for (const char* comparison : {"=", ">=", ">", "<=", "<"}) {
      const std::string cmp = comparison;
      SCOPED_TRACE(cmp + " A=" + (key.a ? std::to_string(*key.a) : "Null") +
                   (key.b ? " B=" + (*key.b ? **key.b : std::string("Null")) : ""));
      // The model: the first row that qualifies going forwards, or the last going back.
      std::optional<std::size_t> expected;
      for (std::size_t p = 0; p < model.size(); ++p) {
        const int c = CompareKey(model[p], key.a, key.b);
        const bool fits = cmp == "="    ? c == 0
                          : cmp == ">=" ? c >= 0
                          : cmp == ">"  ? c > 0
                          : cmp == "<=" ? c <= 0
                                        : c < 0;
        if (!fits) continue;
        if (cmp == "<=" || cmp == "<")
          expected = p;
        else if (!expected)
          expected = p;
      }
      std::vector<core::Variant> values{ValueOf(key.a)};
      if (key.b) values.push_back(ValueOf(*key.b));
      rs->Seek(cmp, values);
      ASSERT_EQ(rs->NoMatch(), !expected);
      if (!expected) continue;
      ASSERT_EQ(Id(*rs), model[*expected].id);
      // From the record found the order goes on both ways.
      if (*expected + 1 < model.size()) {
        rs->MoveNext();
        EXPECT_EQ(Id(*rs), model[*expected + 1].id);
        rs->MovePrevious();
      }
      if (*expected > 0) {
        rs->MovePrevious();
        EXPECT_EQ(Id(*rs), model[*expected - 1].id);
      }
    }
  }
}

TEST_F(IndexOrderTest, PositionsAndBookmarksFollowTheIndexOrder) {
  const std::vector<Row> model = ModelOrder();
  auto rs = db_->OpenRecordset("T", dbOpenTable);
  rs->SetIndex("AB");
  const std::size_t n = model.size();
  // Move(n) from the first record and from a bookmark; PercentPosition counts in the order.
  rs->MoveFirst();
  rs->Move(100);
  EXPECT_EQ(Id(*rs), model[100].id);
  core::Variant mark = rs->Bookmark();
  rs->Move(-40);
  EXPECT_EQ(Id(*rs), model[60].id);
  EXPECT_NEAR(rs->PercentPosition(), 61.0f * 100.0f / static_cast<float>(n), 0.01f);
  rs->Move(7, mark);
  EXPECT_EQ(Id(*rs), model[107].id);
  rs->SetBookmark(mark);
  EXPECT_EQ(Id(*rs), model[100].id);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), model[101].id);
  rs->Move(static_cast<std::int32_t>(n));
  EXPECT_TRUE(rs->Eof());
  rs->MovePrevious();
  EXPECT_EQ(Id(*rs), model[n - 1].id);
  rs->SetPercentPosition(50.0f);
  EXPECT_EQ(Id(*rs), model[n / 2 - 1].id);
  // Bookmarks stay those of the table-order recordset's records.
  rs->Seek("=", {core::Variant(70)});
  const int found = Id(*rs);
  core::Variant found_mark = rs->Bookmark();
  rs->SetIndex("");
  rs->SetBookmark(found_mark);
  EXPECT_EQ(Id(*rs), found);
  // No index: Seek is refused, as is an index the table does not have.
  EXPECT_EQ(daotest::ErrorOf([&] { rs->Seek("=", {core::Variant(1)}); }), err::kNoCurrentIndex);
  EXPECT_EQ(daotest::ErrorOf([&] { rs->SetIndex("Nope"); }), err::kNotAnIndex);
}

TEST_F(IndexOrderTest, ChangesThroughTheRecordsetAndBesideItKeepTheOrder) {
  auto rs = db_->OpenRecordset("T", dbOpenTable);
  rs->SetIndex("AB");
  rs->Seek(">=", {core::Variant(60)});
  const int first60 = Id(*rs);
  rs->Seek("<=", {core::Variant(50)});
  const int last50 = Id(*rs);
  // A key changed through the recordset: the record stays current at its new place.
  rs->Seek("=", {core::Variant(30), core::Variant("charlie")});
  ASSERT_FALSE(rs->NoMatch());
  const int moved = Id(*rs);
  rs->Edit();
  rs->Fields().Item("A")->SetValue(core::Variant(55));
  rs->Update();
  EXPECT_EQ(Id(*rs), moved);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), first60);
  rs->MovePrevious();
  EXPECT_EQ(Id(*rs), moved);
  rs->MovePrevious();
  EXPECT_EQ(Id(*rs), last50);
  rs->MoveNext();
  // Changed again and deleted: the next moves go on from the place of its last key.
  rs->Edit();
  rs->Fields().Item("A")->SetValue(core::Variant(56));
  rs->Update();
  rs->Delete();
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), first60);
  rs->MovePrevious();
  EXPECT_EQ(Id(*rs), last50);
  // The current record deleted: the next move goes on from where it was.
  rs->Seek("=", {core::Variant(40)});
  const int deleted = Id(*rs);
  rs->MoveNext();
  const int after = Id(*rs);
  rs->MovePrevious();
  rs->Delete();
  EXPECT_EQ(daotest::ErrorOf([&] { (void)Id(*rs); }), err::kRecordDeleted);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), after);
  // Rows added through the recordset (one may take the deleted row's place in the file)
  // and through another recordset of the table both take their places.
  rs->AddNew();
  rs->Fields().Item("ID")->SetValue(core::Variant(5001));
  rs->Fields().Item("A")->SetValue(core::Variant(40));
  rs->Fields().Item("B")->SetValue(core::Variant("zulu"));
  rs->Update();
  EXPECT_EQ(Id(*rs), after);  // AddNew leaves the current record where it was
  {
    auto other = db_->OpenRecordset("T", dbOpenTable);
    other->AddNew();
    other->Fields().Item("ID")->SetValue(core::Variant(5002));
    other->Fields().Item("A")->SetValue(core::Variant(1));
    other->Update();
    other->MoveFirst();
    other->Delete();  // a row the first recordset knows goes away beside it
    // and another one's key changes.
    auto dyn = db_->OpenRecordset("T", dbOpenDynaset);
    dyn->FindFirst("ID = 7");
    ASSERT_FALSE(dyn->NoMatch());
    dyn->Edit();
    dyn->Fields().Item("A")->SetValue(core::Variant(5));
    dyn->Update();
  }
  const std::vector<Row> model = ModelOrder();
  EXPECT_EQ(Walk(*rs, false), Ids(model));
  EXPECT_EQ(Walk(*rs, true), Ids(model));
  rs->Seek("=", {core::Variant(40), core::Variant("zulu")});
  EXPECT_EQ(Id(*rs), 5001);
  rs->Seek("<", {core::Variant(1)});
  EXPECT_FALSE(rs->NoMatch());
  EXPECT_EQ(rs->Fields().Item("A")->Value().IsNull(), true);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), 5002);
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), 7);
  for (const Row& r : model) {
    EXPECT_NE(r.id, deleted);
    EXPECT_NE(r.id, moved);
  }
}

}  // namespace

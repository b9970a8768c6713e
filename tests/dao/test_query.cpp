// Ordering and searching: Index and Seek on table-type recordsets, Filter/Sort and recordsets
// opened from recordsets, the Find methods, SQL statements and stored queries.
#include "core/file.h"
#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::ErrorOf;

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_ = DBEngine::Create(&files_);
    db_ = engine_->CreateDatabase("/q.mdb", dbLangGeneral);
    auto td = db_->CreateTableDef("T");
    td->Fields().Append(td->CreateField("ID", dbLong));
    td->Fields().Append(td->CreateField("NAME", dbText, 20));
    td->Fields().Append(td->CreateField("N", dbLong));
    td->Fields().Append(td->CreateField("NOTE", dbMemo));
    auto pk = td->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->Fields().Append(pk->CreateField("ID"));
    td->Indexes().Append(pk);
    auto by_n = td->CreateIndex("ByN");
    by_n->Fields().Append(by_n->CreateField("N"));
    td->Indexes().Append(by_n);
    auto by_name_n = td->CreateIndex("ByNameN");
    by_name_n->Fields().Append(by_name_n->CreateField("NAME"));
    by_name_n->Fields().Append(by_name_n->CreateField("N"));
    td->Indexes().Append(by_name_n);
    db_->TableDefs().Append(td);
    auto rs = db_->OpenRecordset("T", dbOpenTable);
    const std::pair<const char*, int> rows[] = {
        {"delta", 30}, {"alfa", 10}, {"Charlie", 20}, {"Bravo", 10}, {"O\"Brien", 40}};
    int id = 1;
    for (auto [name, n] : rows) {
      rs->AddNew();
      rs->Fields().Item("ID")->SetValue(core::Variant(id++));
      rs->Fields().Item("NAME")->SetValue(std::string_view(name));
      rs->Fields().Item("N")->SetValue(core::Variant(n));
      rs->Update();
    }
  }

  static std::vector<int> Ids(Recordset& rs) {
    std::vector<int> out;
    if (rs.Bof() && rs.Eof()) return out;
    rs.MoveFirst();
    while (!rs.Eof()) {
      out.push_back(rs.Fields().Item("ID")->Value().ToLong());
      rs.MoveNext();
    }
    return out;
  }
  static int Id(Recordset& rs) { return rs.Fields().Item("ID")->Value().ToLong(); }

  core::MemoryFileSystem files_;
  std::shared_ptr<DBEngine> engine_;
  std::shared_ptr<Database> db_;
};

TEST_F(QueryTest, AnIndexOrdersATableTypeRecordset) {
  auto rs = db_->OpenRecordset("T");  // a local table opens table-type by default
  EXPECT_EQ(rs->Type(), dbOpenTable);
  EXPECT_EQ(rs->Index(), "");
  EXPECT_EQ(Ids(*rs), (std::vector<int>{1, 2, 3, 4, 5}));
  rs->SetIndex("byn");
  EXPECT_EQ(rs->Index(), "ByN");
  EXPECT_EQ(Ids(*rs), (std::vector<int>{2, 4, 3, 1, 5}));
  rs->SetIndex("ByNameN");  // text without regard to case
  EXPECT_EQ(Ids(*rs), (std::vector<int>{2, 4, 3, 1, 5}));
  EXPECT_EQ(ErrorOf([&] { rs->SetIndex("Nope"); }), err::kNotAnIndex);
  EXPECT_EQ(rs->Index(), "ByNameN");
  // A new record takes its place in the index order.
  rs->SetIndex("ByN");
  rs->AddNew();
  rs->Fields().Item("ID")->SetValue(core::Variant(6));
  rs->Fields().Item("N")->SetValue(core::Variant(15));
  rs->Update();
  EXPECT_EQ(Ids(*rs), (std::vector<int>{2, 4, 6, 3, 1, 5}));
  // A clone does not take the index.
  auto clone = rs->Clone();
  EXPECT_EQ(clone->Index(), "");
  EXPECT_EQ(Ids(*clone), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  auto dyn = db_->OpenRecordset("T", dbOpenDynaset);
  EXPECT_EQ(ErrorOf([&] { dyn->SetIndex("ByN"); }), err::kNotSupported);
}

TEST_F(QueryTest, SeekFindsByTheFiveComparisons) {
  auto rs = db_->OpenRecordset("T", dbOpenTable);
  EXPECT_EQ(ErrorOf([&] { rs->Seek("=", {core::Variant(10)}); }), err::kNoCurrentIndex);
  rs->SetIndex("ByN");
  struct Case {
    const char* comparison;
    int key;
    int id;  // 0: no match
  };
  const Case cases[] = {{"=", 10, 2}, {"=", 15, 0}, {">=", 15, 3}, {">=", 10, 2},
                        {">", 20, 1}, {">", 40, 0}, {"<=", 10, 4}, {"<=", 35, 1},
                        {"<", 20, 4}, {"<", 10, 0}, {"=", 40, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.comparison) + " " + std::to_string(c.key));
    rs->Seek(c.comparison, {core::Variant(c.key)});
    EXPECT_EQ(rs->NoMatch(), c.id == 0);
    if (c.id) {
      EXPECT_EQ(Id(*rs), c.id);
    }
  }
  rs->Seek("=", {core::Variant(10)});
  rs->MoveNext();
  EXPECT_EQ(Id(*rs), 4);
  // Keys come as text too; the leading columns of a longer index may be given alone.
  rs->Seek(">", {core::Variant("25")});
  EXPECT_EQ(Id(*rs), 1);
  rs->SetIndex("ByNameN");
  rs->Seek(">=", {core::Variant("CHARLIE")});
  EXPECT_EQ(Id(*rs), 3);
  rs->Seek("=", {core::Variant("bravo"), core::Variant(10)});
  EXPECT_EQ(Id(*rs), 4);
  rs->Seek("=", {core::Variant("bravo"), core::Variant(11)});
  EXPECT_TRUE(rs->NoMatch());
  EXPECT_EQ(ErrorOf([&] { rs->Seek("=>", {core::Variant(1)}); }), err::kInvalidArgument);
  EXPECT_EQ(ErrorOf([&] {
              rs->Seek("=", {core::Variant("x"), core::Variant("not a number")});
            }),
            err::kConversionError);
  auto dyn = db_->OpenRecordset("T", dbOpenDynaset);
  EXPECT_EQ(ErrorOf([&] { dyn->Seek("=", {core::Variant(1)}); }), err::kNotSupported);
}

TEST_F(QueryTest, FilterAndSortShapeTheNextRecordsetOnly) {
  for (int type : {dbOpenDynaset, dbOpenSnapshot}) {
    SCOPED_TRACE(type);
    auto rs = db_->OpenRecordset("T", type);
    rs->SetFilter("N > 15");
    rs->SetSort("N DESC, ID");
    EXPECT_EQ(rs->Filter(), "N > 15");
    EXPECT_EQ(Ids(*rs), (std::vector<int>{1, 2, 3, 4, 5}));
    auto shaped = rs->OpenRecordset();
    EXPECT_EQ(shaped->Type(), type);
    EXPECT_EQ(Ids(*shaped), (std::vector<int>{5, 1, 3}));
    EXPECT_EQ(shaped->Updatable(), type == dbOpenDynaset);
    rs->SetSort("");
    rs->SetFilter("[NAME] LIKE \"*a*\" AND N < 30");
    EXPECT_EQ(Ids(*rs->OpenRecordset()), (std::vector<int>{2, 3, 4}));
  }
  auto table = db_->OpenRecordset("T", dbOpenTable);
  EXPECT_EQ(ErrorOf([&] { table->SetFilter("N > 1"); }), err::kNotSupported);
  EXPECT_EQ(ErrorOf([&] { table->SetSort("N"); }), err::kNotSupported);
  EXPECT_EQ(table->OpenRecordset()->Type(), dbOpenDynaset);
  auto fwd = db_->OpenRecordset("T", dbOpenForwardOnly);
  EXPECT_EQ(ErrorOf([&] { fwd->OpenRecordset(); }), err::kNotSupported);
  // Errors in the texts surface when the next recordset is opened.
  auto dyn = db_->OpenRecordset("T", dbOpenDynaset);
  dyn->SetFilter("N >");
  EXPECT_EQ(ErrorOf([&] { dyn->OpenRecordset(); }), 3075);
  dyn->SetFilter("");
  dyn->SetSort("NOTE");
  EXPECT_EQ(ErrorOf([&] { dyn->OpenRecordset(); }), 3117);
  // An edit through the shaped dynaset reaches the table.
  dyn->SetSort("");
  dyn->SetFilter("ID = 2");
  auto one = dyn->OpenRecordset();
  one->Edit();
  one->Fields().Item("N")->SetValue(core::Variant(11));
  one->Update();
  one->Requery();
  EXPECT_EQ(Ids(*one), (std::vector<int>{2}));
  dyn->SetBookmark(dyn->Bookmark());
  dyn->MoveFirst();
  dyn->MoveNext();
  EXPECT_EQ(dyn->Fields().Item("N")->Value().ToLong(), 11);
}

TEST_F(QueryTest, FindMethodsSearchBothWaysAndReportNoMatch) {
  auto rs = db_->OpenRecordset("T", dbOpenDynaset);
  EXPECT_FALSE(rs->NoMatch());
  rs->FindFirst("N = 10");
  EXPECT_FALSE(rs->NoMatch());
  EXPECT_EQ(Id(*rs), 2);
  rs->FindNext("N = 10");
  EXPECT_EQ(Id(*rs), 4);
  rs->FindNext("N = 10");
  EXPECT_TRUE(rs->NoMatch());
  rs->MoveFirst();  // moves do not change NoMatch
  EXPECT_TRUE(rs->NoMatch());
  rs->FindLast("N = 10");
  EXPECT_EQ(Id(*rs), 4);
  rs->FindPrevious("N = 10");
  EXPECT_EQ(Id(*rs), 2);
  // The criteria forms the table component writes.
  struct Case {
    const char* criteria;
    int id;
  };
  const Case cases[] = {
      {"([NAME] = \"O\"\"Brien\")", 5},       {"([NAME] = LCASE(\"ALFA\"))", 2},
      {"([NAME] LIKE \"ch*\")", 3},           {"([N] = 20) AND ([NAME] = \"Charlie\")", 3},
      {"([NOTE] IS NULL) AND ([ID] = 4)", 4}, {"([N] = 99)", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.criteria);
    rs->FindFirst(c.criteria);
    EXPECT_EQ(rs->NoMatch(), c.id == 0);
    if (c.id) {
      EXPECT_EQ(Id(*rs), c.id);
    }
  }
  EXPECT_EQ(ErrorOf([&] { rs->FindFirst("N = = 1"); }), 3077);
  EXPECT_EQ(ErrorOf([&] { rs->FindFirst("NoSuchField = 1"); }), 3070);
  EXPECT_EQ(engine_->Errors().Item(0).Source, "DAO.Recordset");
  auto table = db_->OpenRecordset("T", dbOpenTable);
  EXPECT_EQ(ErrorOf([&] { table->FindFirst("N = 10"); }), err::kNotSupported);
}

TEST_F(QueryTest, SqlStatementsGiveDynasetsAndSnapshots) {
  auto rs = db_->OpenRecordset("Select * From [T] Where ([N] = 10) Order By NAME;", dbOpenDynaset);
  EXPECT_EQ(rs->Type(), dbOpenDynaset);
  EXPECT_TRUE(rs->Updatable());
  EXPECT_EQ(Ids(*rs), (std::vector<int>{2, 4}));
  rs->MoveFirst();
  rs->Edit();
  rs->Fields().Item("NAME")->SetValue(std::string_view("ALFA!"));
  rs->Update();
  rs->AddNew();
  rs->Fields().Item("ID")->SetValue(core::Variant(7));
  rs->Fields().Item("N")->SetValue(core::Variant(10));
  rs->Update();
  EXPECT_EQ(db_->TableDefs().Item("T")->RecordCount(), 6);
  auto check = db_->OpenRecordset("SELECT NAME FROM T WHERE ID = 2", dbOpenSnapshot);
  EXPECT_FALSE(check->Updatable());
  EXPECT_EQ(check->Fields().Item(0)->Value().ToString(), "ALFA!");
  // A computed column is not updatable; the default type for SQL is a dynaset.
  auto calc = db_->OpenRecordset("SELECT ID, N * 2 AS Twice FROM T ORDER BY ID");
  EXPECT_EQ(calc->Type(), dbOpenDynaset);
  EXPECT_TRUE(calc->Fields().Item("ID")->DataUpdatable());
  EXPECT_FALSE(calc->Fields().Item("Twice")->DataUpdatable());
  EXPECT_EQ(calc->Fields().Item("Twice")->Value().ToLong(), 60);
  calc->Edit();
  EXPECT_EQ(ErrorOf([&] { calc->Fields().Item("Twice")->SetValue(core::Variant(1)); }),
            err::kFieldNotUpdatable);
  calc->CancelUpdate();
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("SELECT * FROM Nowhere"); }), 3078);
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("SELECT * FROM T", dbOpenTable); }),
            err::kInvalidOperation);
  // Requery runs the statement again.
  auto again = db_->OpenRecordset("SELECT * FROM T WHERE N = 10");
  again->MoveLast();
  EXPECT_EQ(again->RecordCount(), 3);
  auto writer = db_->OpenRecordset("T");
  writer->AddNew();
  writer->Fields().Item("ID")->SetValue(core::Variant(8));
  writer->Fields().Item("N")->SetValue(core::Variant(10));
  writer->Update();
  again->Requery();
  again->MoveLast();
  EXPECT_EQ(again->RecordCount(), 4);
}

TEST_F(QueryTest, StoredQueriesWithParameters) {
  auto temp = db_->CreateQueryDef("", "SELECT * FROM T");
  EXPECT_EQ(db_->QueryDefs().Count(), 0);
  EXPECT_EQ(Ids(*temp->OpenRecordset()), (std::vector<int>{1, 2, 3, 4, 5}));

  auto q = db_->CreateQueryDef(
      "ByValue", "PARAMETERS [Value] Long; SELECT * FROM T WHERE N = [Value] ORDER BY ID;");
  ASSERT_EQ(db_->QueryDefs().Count(), 1);
  auto stored = db_->QueryDefs().Item("byvalue");
  EXPECT_EQ(stored->Name(), "ByValue");
  EXPECT_EQ(stored->Type(), dbQSelect);
  EXPECT_NE(stored->SQL().find("SELECT"), std::string::npos);
  ASSERT_EQ(stored->Parameters().Count(), 1);
  auto p = stored->Parameters().Item(0);
  EXPECT_EQ(p->Name(), "Value");
  EXPECT_EQ(p->Type(), dbLong);
  EXPECT_EQ(p->Direction(), dbParamInput);
  EXPECT_EQ(ErrorOf([&] { stored->OpenRecordset(); }), err::kTooFewParameters);
  EXPECT_EQ(engine_->Errors().Item(0).Description, "Too few parameters. Expected 1.");
  EXPECT_EQ(ErrorOf([&] { db_->OpenRecordset("ByValue"); }), err::kTooFewParameters);
  p->SetValue(core::Variant("10"));
  EXPECT_EQ(Ids(*stored->OpenRecordset(dbOpenSnapshot)), (std::vector<int>{2, 4}));
  // The collection keeps the value: the query fetched again by name runs with it.
  EXPECT_EQ(db_->QueryDefs().Item("ByValue")->Parameters().Item("value")->Value().ToLong(), 10);
  EXPECT_EQ(Ids(*db_->OpenRecordset("ByValue", dbOpenDynaset)), (std::vector<int>{2, 4}));
  EXPECT_EQ(stored->OpenRecordset()->Name(), "ByValue");
  stored->SetMaxRecords(1);
  EXPECT_EQ(Ids(*stored->OpenRecordset()), (std::vector<int>{2}));
  EXPECT_EQ(ErrorOf([&] { p->SetValue(core::Variant("ten")); }), err::kConversionError);
  EXPECT_EQ(ErrorOf([&] { stored->OpenRecordset(dbOpenTable); }), err::kInvalidOperation);
  EXPECT_EQ(ErrorOf([&] { db_->CreateQueryDef("T", "SELECT * FROM T"); }), 3012);
  db_->QueryDefs().Delete("BYVALUE");
  EXPECT_EQ(db_->QueryDefs().Count(), 0);
  EXPECT_EQ(ErrorOf([&] { db_->QueryDefs().Item("ByValue"); }), err::kItemNotFound);
}

}  // namespace

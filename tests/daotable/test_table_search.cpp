// The table component's searching and linking: index definitions and the index chosen for a
// field list, Locate / Lookup / the Find operations and the criteria texts behind them, sort
// and filter by DAO, master-detail links, and stored-query and SQL parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/datetime.h"
#include "table_fixture.h"

namespace daotabletest {
namespace {

using core::Variant;

// An index on `table` over fields written "A", "B DESC".
void MakeIndex(dao::Database& db, const std::string& table, const std::string& name,
               const std::vector<std::string>& fields, bool primary = false, bool unique = false) {
  auto td = db.TableDefs().Item(table);
  auto index = td->CreateIndex(name);
  index->SetPrimary(primary);
  index->SetUnique(unique);
  for (const std::string& f : fields) {
    const bool desc = f.size() > 5 && f.substr(f.size() - 5) == " DESC";
    auto field = index->CreateField(desc ? f.substr(0, f.size() - 5) : f);
    if (desc) field->SetAttributes(dao::dbDescending);
    index->Fields().Append(field);
  }
  td->Indexes().Append(index);
}

std::vector<std::string> Column(TMxDaoTable* t, const std::string& field) {
  std::vector<std::string> out;
  for (t->First(); !t->Eof(); t->Next()) out.push_back(t->FieldByName(field).AsString());
  return out;
}

class SearchTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    MakeTable("People", {{"A", dao::dbLong},
                         {"B", dao::dbLong},
                         {"C", dao::dbText, 30},
                         {"D", dao::dbDate},
                         {"Note", dao::dbMemo},
                         {"Pic", dao::dbLongBinary}});
    AddRows("People", {{Variant::FromLong(1), Variant::FromLong(10), Variant::FromString("Ann"),
                        Variant::FromDate(core::EncodeDateTime({2003, 12, 31}))},
                       {Variant::FromLong(2), Variant::FromLong(20),
                        Variant::FromString("Bob \"the\" Builder"), Variant::Null()},
                       {Variant::FromLong(3), Variant::FromLong(30), Variant::FromString("carol"),
                        Variant::FromDate(core::EncodeDateTime({2001, 3, 5}))},
                       {Variant::FromLong(4), Variant::FromLong(40), Variant::Null()},
                       {Variant::FromLong(5), Variant::FromLong(50), Variant::FromString("Dave")}});
    MakeIndex(Dao(), "People", "PrimaryKey", {"A", "B"}, true, true);
    MakeIndex(Dao(), "People", "Mixed", {"C DESC", "A"});
    MakeIndex(Dao(), "People", "ByB", {"B DESC"});
    db->RefreshDefinitions();
  }
};

TEST_F(SearchTest, IndexDefsFollowTheTablesIndexesOnlyForTableTypeRecordsets) {
  TMxDaoTable* t = NewTable("People");
  t->SetTableType(1);
  t->Open();
  ds::TIndexDefs& defs = t->IndexDefs();
  ASSERT_EQ(defs.Count(), 3);
  const ds::TIndexDef& pk = defs.Find("PrimaryKey");
  EXPECT_EQ(pk.Fields(), "A;B");
  EXPECT_TRUE(pk.Options().Contains(ds::ixPrimary));
  EXPECT_TRUE(pk.Options().Contains(ds::ixUnique));
  EXPECT_FALSE(pk.Options().Contains(ds::ixDescending));
  EXPECT_EQ(pk.DescFields(), "");
  const ds::TIndexDef& mixed = defs.Find("Mixed");
  EXPECT_EQ(mixed.Fields(), "C;A");
  EXPECT_FALSE(mixed.Options().Contains(ds::ixDescending));
  EXPECT_EQ(mixed.DescFields(), "C");
  EXPECT_TRUE(defs.Find("ByB").Options().Contains(ds::ixDescending));

  // The index chosen for a field list ("!" = exactly those fields).
  struct Case {
    const char* fields;
    const char* index;
  };
  for (const Case& c :
       {Case{"A;B", "PrimaryKey"}, Case{"!A;B", "PrimaryKey"}, Case{"!b;a", "PrimaryKey"},
        Case{"A", "PrimaryKey"}, Case{"!A", ""}, Case{"C", "Mixed"}, Case{"B", "ByB"},
        Case{"!C;A", "Mixed"}, Case{"D", ""}, Case{"", ""}, Case{"!", ""}}) {
    EXPECT_EQ(t->IndexForFields(c.fields), c.index) << c.fields;
  }
  t->SetIndexName("Mixed");
  EXPECT_EQ(t->IndexFieldCount(), 2);
  EXPECT_EQ(Column(t, "A"), (std::vector<std::string>{"5", "3", "2", "1", "4"}));
  t->Close();

  // Other recordset types have no indexes; an empty IndexName is accepted, another is not.
  TMxDaoTable* d = NewTable("People");
  d->Open();
  EXPECT_EQ(d->IndexDefs().Count(), 0);
  EXPECT_EQ(d->IndexForFields("A"), "");
  d->SetIndexName("");
  EXPECT_EQ(ErrorText([&] { d->SetIndexName("Mixed"); }),
            "TMxDaoTable.F_Set_IndexName: Indexes can be set only on Standard Tables!");
}

TEST_F(SearchTest, AddingAnIndexDefinitionCreatesTheIndexWhenTheFieldsExist) {
  TMxDaoTable* t = NewTable("People");
  t->SetTableType(1);
  t->Open();
  t->Next();
  t->IndexDefs().Add("ByC", "C ; D", {ds::ixDescending});
  EXPECT_TRUE(t->Active());  // closed and opened again around the change
  auto index = Dao().TableDefs().Item("People")->Indexes().Item("ByC");
  ASSERT_EQ(index->Fields().Count(), 2);
  EXPECT_EQ(index->Fields().Item(1)->Name(), "D");
  EXPECT_EQ(index->Fields().Item(0)->Attributes() & dao::dbDescending, dao::dbDescending);

  t->IndexDefs().Add("Ghost", "C;Nope", {});  // a definition, but no index in the database
  EXPECT_EQ(t->IndexDefs().IndexOf("Ghost"), t->IndexDefs().Count() - 1);
  EXPECT_EQ(daotest::ErrorOf([&] { Dao().TableDefs().Item("People")->Indexes().Item("Ghost"); }),
            3265);
  TMxDaoTable* unnamed = NewTable();
  EXPECT_EQ(unnamed->IndexDefs().Add("X", "A", {}), nullptr);
  EXPECT_EQ(unnamed->IndexDefs().Count(), 0);
}

TEST_F(SearchTest, CriteriaQuoteEscapeAndFormatEachKeyByType) {
  TMxDaoTable* t = NewTable("People");
  t->Open();
  struct Case {
    std::vector<std::string> fields, values;
    ds::TLocateOptions options;
    bool brackets;
    const char* criteria;
  };
  const Case cases[] = {
      {{"C"}, {"Bob \"the\" Builder"}, {}, true, "([C]  = \"Bob \"\"the\"\" Builder\")"},
      {{"C"}, {"Ann"}, {}, false, "(C  = \"Ann\")"},
      {{"C"}, {"AnN"}, {ds::loCaseInsensitive}, true, "([C]  = LCASE(\"ann\"))"},
      {{"C"}, {"An"}, {ds::loPartialKey}, true, "([C]  LIKE \"An*\")"},
      {{"C"}, {"A*n"}, {ds::loPartialKey}, true, "([C]  LIKE \"A*n\")"},
      {{"C"},
       {"AN"},
       {ds::loPartialKey, ds::loCaseInsensitive},
       true,
       "([C]  LIKE LCASE(\"an*\"))"},
      {{"C", "A"}, {"NULL", "2"}, {}, true, "([C] IS NULL) AND ([A]  = 2)"},
      {{"A"}, {""}, {}, true, "([A]  IS NULL)"},
      // A date field without a Format is a date-and-time field.
      {{"D"}, {"2003-12-31"}, {}, true, "([D]  = #12/31/2003 00:00:00#)"},
      {{"D"}, {"Wed 2003-12-31  10:05:09"}, {}, true, "([D]  = #12/31/2003 10:05:09#)"},
      {{"Note"}, {"x"}, {}, true, "([Note]  = \"x\")"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> values = c.values;
    t->SetUseBrackets(c.brackets);
    EXPECT_EQ(t->BuildLocateCriteria(c.fields, values, c.options), c.criteria);
  }
  std::vector<std::string> values{"ab"};
  EXPECT_EQ(ErrorText([&] { t->BuildLocateCriteria({"Pic"}, values, {}); }),
            "Unable to build Lookup Key SQL!");
  EXPECT_EQ(ErrorText([&] { t->BuildKeyCriteria({"Pic"}, values); }), "Unable to build Key SQL!");
  values = {"AnN"};
  t->SetUseBrackets(true);
  EXPECT_EQ(t->BuildKeyCriteria({"C"}, values), "([C]  = \"AnN\")");
}

TEST_F(SearchTest, LocateFindsThroughFindFirstOnDynasetsAndSeekOnTables) {
  TMxDaoTable* t = NewTable("People");
  t->Open();
  EXPECT_TRUE(t->Locate("C", Variant::FromString("CAROL"), {ds::loCaseInsensitive}));
  EXPECT_EQ(t->FieldByName("A").AsString(), "3");
  EXPECT_EQ(t->RecNo(), 3);
  EXPECT_TRUE(t->Locate(
      "C;B",
      Variant::FromArray({Variant::FromString("Bob \"the\" Builder"), Variant::FromLong(20)}), {}));
  EXPECT_EQ(t->FieldByName("A").AsString(), "2");
  EXPECT_TRUE(t->Locate("C", Variant::Null(), {}));
  EXPECT_EQ(t->FieldByName("A").AsString(), "4");
  EXPECT_TRUE(t->Locate("D", Variant::FromDate(core::EncodeDateTime({2001, 3, 5})), {}));
  EXPECT_EQ(t->FieldByName("A").AsString(), "3");
  // Nothing found: the position stays.
  EXPECT_FALSE(t->Locate("C", Variant::FromString("Zed"), {}));
  EXPECT_EQ(t->FieldByName("A").AsString(), "3");
  EXPECT_EQ(ErrorText([&] { t->Locate("C;A", Variant::FromString("x"), {}); }),
            "Number of elements in the KeyValues array must be equal to the number of fields.");
  t->Close();

  // A table-type recordset seeks on the index that covers the keys: the first field of a
  // two-field index alone seeks with ">=", so a partial key finds the first key at or after it.
  TMxDaoTable* s = NewTable("People");
  s->SetTableType(1);
  s->Open();
  EXPECT_TRUE(s->Locate("A", Variant::FromLong(3), {}));
  EXPECT_EQ(s->FieldByName("C").AsString(), "carol");
  EXPECT_TRUE(
      s->Locate("B;A", Variant::FromArray({Variant::FromLong(40), Variant::FromLong(4)}), {}));
  EXPECT_EQ(s->FieldByName("A").AsString(), "4");
  s->SetAutoFindIndex(false);
  s->SetIndexName("");
  EXPECT_TRUE(s->Locate("C", Variant::FromString("carol"), {}));  // found by itself: Mixed
  EXPECT_EQ(s->FieldByName("A").AsString(), "3");
  EXPECT_EQ(ErrorText([&] { s->Locate("D", Variant::Null(), {}); }),
            "Index Property is Empty!\r\nYou must set an index before using Locate with "
            "StandardTables");
}

TEST_F(SearchTest, LookupReadsAnotherRecordAndLeavesPositionAndFilterAlone) {
  for (int type : {2, 1}) {
    SCOPED_TRACE(type);
    TMxDaoTable* t = NewTable("People");
    t->SetTableType(type);
    t->Open();
    t->Next();
    const std::string filter = type == 1 ? std::string() : t->Intf()->Filter();
    EXPECT_EQ(t->Lookup("A", Variant::FromLong(3), "C").ToString(), "carol");
    const Variant both = t->Lookup("C", Variant::FromString("Dave"), "A;B");
    ASSERT_TRUE(both.IsArray());
    EXPECT_EQ(both.Elements()[1].ToString(), "50");
    EXPECT_TRUE(t->Lookup("A", Variant::FromLong(99), "C").IsNull());
    EXPECT_EQ(t->FieldByName("A").AsString(), "2");
    if (type != 1) {
      EXPECT_EQ(t->Intf()->Filter(), filter);
    }
    EXPECT_EQ(ErrorText([&] { t->Lookup("A", Variant::FromLong(3), ""); }),
              "ResultFields are not defined");
    EXPECT_EQ(ErrorText([&] { t->Lookup("A", Variant::FromLong(3), "Nope"); }),
              "Invalid field name: Nope");
    t->Close();
  }
}

TEST_F(SearchTest, FindOperationsSearchFromTheCurrentRecordInEitherDirection) {
  TMxDaoTable* t = NewTable("People");
  ds::TStringList sort;
  sort.Add("A");
  t->SetSortedBy(sort);
  t->Open();
  const Variant big = Variant::FromLong(20);
  auto a = [&] { return t->FieldByName("A").AsString(); };
  // B > 20 is what the criteria cannot say; a partial key on text can.
  EXPECT_TRUE(t->FindKeyLast("C", Variant::FromString("*a*"), {ds::loPartialKey}));
  EXPECT_EQ(a(), "5");
  EXPECT_TRUE(t->FindKeyPrior("C", Variant::FromString("*a*"), {ds::loPartialKey}));
  EXPECT_EQ(a(), "3");
  EXPECT_TRUE(t->FindKeyFirst("B", big, {}));
  EXPECT_EQ(a(), "2");
  EXPECT_FALSE(t->FindKeyNext("B", big, {}));
  EXPECT_EQ(a(), "2");
  EXPECT_FALSE(t->FindRecord(true, true));
}

TEST_F(SearchTest, SortAndFilterAreAppliedByDaoAtOpenAndReopenInPlace) {
  TMxDaoTable* t = NewTable("People");
  ds::TStringList sort;
  sort.Add("C DESC");
  sort.Add("A");
  t->SetSortedBy(sort);
  t->Open();
  EXPECT_EQ(t->SortText(), "C DESC, A ");
  EXPECT_EQ(Column(t, "A"), (std::vector<std::string>{"5", "3", "2", "1", "4"}));

  // A filter while Filtered is false reopens nothing: the position stays.
  t->First();
  t->Next();
  t->SetFilter("A > 2");
  EXPECT_EQ(t->FieldByName("A").AsString(), "3");
  t->SetFiltered(true);
  EXPECT_EQ(Column(t, "A"), (std::vector<std::string>{"5", "3", "4"}));
  t->Last();
  t->SetFiltered(true);  // the same value: nothing happens
  EXPECT_EQ(t->FieldByName("A").AsString(), "4");
  // An empty Filter opens everything; only OnFilterRecord filters.
  t->SetFilter("");
  EXPECT_EQ(Column(t, "A").size(), 5u);
  t->SetOnFilterRecord(
      [](ds::TDataSet* d, bool& accept) { accept = d->FieldByName("B").AsInteger() >= 40; });
  EXPECT_EQ(Column(t, "A"), (std::vector<std::string>{"5", "4"}));
  // A filter DAO rejects leaves Filtered as it was.
  t->SetOnFilterRecord(nullptr);
  t->SetFiltered(false);
  t->SetFilter("A >>> 2");
  EXPECT_NE(ErrorText([&] { t->SetFiltered(true); }), "");
  EXPECT_FALSE(t->Filtered());

  t->SetFilter("B < 30");
  t->SetFiltered(true);
  EXPECT_EQ(t->CombineWithFilter("([A]  = 1)"), "(([A]  = 1)) AND (B < 30)");
  EXPECT_EQ(t->CombineWithFilter(""), "B < 30");
  t->SetFiltered(false);
  EXPECT_EQ(t->CombineWithFilter("x"), "x");
}

class MasterDetailTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    MakeTable("Customers", {{"CustNo", dao::dbLong},
                            {"Name", dao::dbText, 20},
                            {"Vip", dao::dbBoolean},
                            {"Since", dao::dbDate}});
    MakeTable("Orders", {{"OrderNo", dao::dbLong},
                         {"CustNo", dao::dbLong},
                         {"Vip", dao::dbBoolean},
                         {"Day", dao::dbDate}});
    AddRows("Customers",
            {{Variant::FromLong(1), Variant::FromString("Ann"), Variant::FromBoolean(true),
              Variant::FromDate(core::EncodeDateTime({2001, 3, 5}))},
             {Variant::FromLong(2), Variant::FromString("Bob"), Variant::FromBoolean(false)},
             {Variant::Null(), Variant::FromString("Nobody"), Variant::FromBoolean(false)}});
    AddRows("Orders", {{Variant::FromLong(10), Variant::FromLong(1), Variant::FromBoolean(true),
                        Variant::FromDate(core::EncodeDateTime({2001, 3, 5}))},
                       {Variant::FromLong(11), Variant::FromLong(1), Variant::FromBoolean(false)},
                       {Variant::FromLong(20), Variant::FromLong(2), Variant::FromBoolean(false)},
                       {Variant::FromLong(30), Variant::Null(), Variant::FromBoolean(true)}});
    master = NewTable("Customers");
    source = new ds::TDataSource(owner.get());
    source->SetDataSet(master);
    detail = NewTable("Orders");
  }
  TMxDaoTable* master = nullptr;
  ds::TDataSource* source = nullptr;
  TMxDaoTable* detail = nullptr;
};

TEST_F(MasterDetailTest, TheDetailFollowsTheMasterAndNewRecordsTakeItsValues) {
  ds::TStringList fields;
  fields.Add("CustNo;");
  detail->SetMasterFields(fields);
  detail->SetMasterSource(source);
  detail->Open();  // opens the master too (MasterAutoActivate)
  ASSERT_TRUE(master->Active());
  EXPECT_EQ(Column(detail, "OrderNo"), (std::vector<std::string>{"10", "11"}));
  EXPECT_EQ(detail->BuildMasterCriteria(), "([CustNo]  = 1)");
  master->Next();
  EXPECT_EQ(Column(detail, "OrderNo"), (std::vector<std::string>{"20"}));
  master->Next();  // a Null master value: the detail rows whose field IS NULL
  EXPECT_EQ(detail->BuildMasterCriteria(), "([CustNo] IS NULL)");
  EXPECT_EQ(Column(detail, "OrderNo"), (std::vector<std::string>{"30"}));

  master->First();
  detail->Append();
  EXPECT_EQ(detail->FieldByName("CustNo").AsString(), "1");
  detail->FieldByName("OrderNo").SetAsInteger(12);
  detail->Post();
  EXPECT_EQ(Column(detail, "OrderNo"), (std::vector<std::string>{"10", "11", "12"}));

  // Pairs of differently named fields; a boolean and a date master field.
  detail->Close();
  ds::TStringList pairs;
  pairs.Add("Vip -> Vip");
  pairs.Add("Day -> Since");
  pairs.Add("ignored line");
  detail->SetMasterFields(pairs);
  detail->Open();
  EXPECT_EQ(detail->BuildMasterCriteria(), "([Vip]  = True) AND ([Day]  = #03/05/2001 00:00:00#)");
  EXPECT_EQ(Column(detail, "OrderNo"), (std::vector<std::string>{"10"}));
  EXPECT_EQ(detail->DetailFieldList().Count(), 2);

  // With a filter, the restriction is both, each in parentheses.
  detail->Close();
  detail->SetMasterFields(fields);
  detail->SetFilter("OrderNo > 10");
  detail->SetFiltered(true);
  detail->Open();
  EXPECT_EQ(Column(detail, "OrderNo"), (std::vector<std::string>{"11", "12"}));
}

// A statement as the detail: the master's values reach same-named parameters, and the rows
// are restricted by a filter on the statement's recordset.
TEST_F(MasterDetailTest, AStatementDetailTakesTheMastersValuesAsParameters) {
  auto* q = NewTable();
  ds::TStringList sql;
  sql.Add("SELECT * FROM Orders WHERE CustNo = :CustNo OR OrderNo = 30");
  q->SetSQL(sql);
  ds::TStringList fields;
  fields.Add("CustNo;");
  q->SetMasterFields(fields);
  q->SetMasterSource(source);
  q->Open();
  EXPECT_EQ(q->Params().ParamByName("CustNo").AsString(), "1");
  // The statement's own rows (1's and order 30), restricted to the master's by the filter.
  EXPECT_EQ(Column(q, "OrderNo"), (std::vector<std::string>{"10", "11"}));
  master->Next();
  EXPECT_EQ(q->Params().ParamByName("CustNo").AsString(), "2");
  EXPECT_EQ(Column(q, "OrderNo"), (std::vector<std::string>{"20"}));
}

TEST_F(MasterDetailTest, LinksThatCannotWorkAreRefused) {
  ds::TStringList fields;
  fields.Add("CustNo;");
  detail->SetMasterFields(fields);
  detail->SetMasterSource(source);
  auto* back = new ds::TDataSource(owner.get());
  back->SetDataSet(detail);
  EXPECT_EQ(ErrorText([&] { master->SetMasterSource(back); }), "Circular links not allowed!");
  detail->Open();
  // Master and detail lists of different length (as a caller could leave them).
  ds::TStringList none;
  detail->SetMasterSource(nullptr);
  EXPECT_EQ(detail->MasterFields().Count(), 0);
}

TEST_F(SearchTest, SqlParametersAreSubstitutedAsLiteralsByWholeWord) {
  TMxDaoTable* t = NewTable();
  ds::TStringList sql;
  sql.Add("SELECT * FROM People");
  sql.Add("WHERE C = :pa OR C = :pab OR C = :PA OR D = :day OR A = :n OR B :nothing");
  t->SetSQL(sql);
  ASSERT_EQ(t->Params().Count(), 5);
  t->Params().ParamByName("pa").SetAsString("Bob \"the\" Builder");
  t->Params().ParamByName("pab").SetAsString("Ann");
  t->Params().ParamByName("day").SetAsDate(core::EncodeDateTime({2001, 3, 5}));
  t->Params().ParamByName("n").SetAsInteger(5);
  t->Params().ParamByName("nothing").Clear();
  EXPECT_EQ(t->SubstitutedSQL(),
            "SELECT * FROM People WHERE C = \"Bob \"\"the\"\" Builder\" OR C = \"Ann\" OR C = "
            "\"Bob \"\"the\"\" Builder\" OR D = #03/05/2001# OR A = 5 OR B  IS NULL");
  t->Open();
  EXPECT_EQ(Column(t, "A"), (std::vector<std::string>{"1", "2", "3", "5"}));
  t->Close();
  t->SetParamCheck(false);
  EXPECT_EQ(t->SubstitutedSQL().find(":pab") != std::string::npos, true);
}

TEST_F(SearchTest, StoredQueriesTakeTheirInputParametersInOrder) {
  auto q = Dao().CreateQueryDef(
      "ByRange", "PARAMETERS lo Long, hi Long; SELECT A FROM People WHERE A >= lo AND A <= hi;");
  (void)q;
  db->RefreshDefinitions();
  TMxDaoTable* t = NewTable();
  t->SetQueryDefName("ByRange");
  EXPECT_EQ(t->QueryDefType(), "dbQSelect");
  EXPECT_NE(t->QueryDefSQLText().Text().find("PARAMETERS"), std::string::npos);
  ds::TStringList values;
  values.Add("2");
  values.Add("4");
  t->SetQueryDefParameters(values);
  t->Open();
  EXPECT_EQ(Column(t, "A"), (std::vector<std::string>{"2", "3", "4"}));
  t->Close();

  const std::string message =
      "TMxDaoTable.OpenDaoRecordset: Invalid number of QueryDef parameters or parameter is not in "
      "valid format!";
  ds::TStringList one;
  one.Add("2");
  t->SetQueryDefParameters(one);
  EXPECT_EQ(ErrorText([&] { t->Open(); }), message);
  EXPECT_FALSE(t->Active());
  ds::TStringList bad;
  bad.Add("null");  // text, not Null: a Long parameter refuses it
  bad.Add("4");
  t->SetQueryDefParameters(bad);
  EXPECT_EQ(ErrorText([&] { t->Open(); }), message);
  ds::TStringList nulls;
  nulls.Add("NULL");
  nulls.Add("4");
  t->SetQueryDefParameters(nulls);
  t->Open();
  EXPECT_EQ(Column(t, "A").size(), 0u);  // A >= Null holds for no row
}

// Stored queries of an Access-made file open by name: its select query over joins, and a query
// with a parameter stored beside them, whose rows mdbtools' own SQL gives as well.
TEST(StoredQueries, AccessMadeQueriesOpenByNameWithTheirParameters) {
  daotest::TempDir dir;
  const std::string path = dir.Path("queries.mdb");
  std::filesystem::copy_file(std::string(DATOVRAT_TESTDATA) + "/dao/queryTestV2000.mdb", path);
  ds::TComponent owner;
  auto* db = new daodb::TMxDaoDatabase(&owner);
  db->Loaded();
  db->SetDatabase(path);
  db->Open();
  dao::Database& dao = *db->DaoDatabase();
  auto add = [&](const char* table, std::vector<std::vector<const char*>> rows) {
    auto rs = dao.OpenRecordset(table, dao::dbOpenDynaset);
    for (const auto& row : rows) {
      rs->AddNew();
      for (std::size_t i = 0; i < row.size(); ++i)
        rs->Fields().Item(static_cast<int>(i))->SetValue(std::string_view(row[i]));
      rs->Update();
    }
    rs->Close();
  };
  add("Table1", {{"a", "1", "x"}, {"b", "2", "y"}, {"c", "3", "x"}, {"foo", "4", "x"}});
  add("Table2", {{"a", "foo", "p"}, {"foo", "foo", "q"}, {"c", "buzz", "r"}});
  add("Table3", {{"a", "s", "t1"}, {"foo", "s", "t2"}});
  dao.CreateQueryDef("ByCol3",
                     "PARAMETERS which Text; SELECT col1, col2 FROM Table1 WHERE col3 = which "
                     "ORDER BY col1;");
  db->RefreshDefinitions();

  auto rows_of = [](daotable::TMxDaoTable* t) {
    std::vector<std::string> out;
    for (t->First(); !t->Eof(); t->Next()) {
      std::string line;
      for (int i = 0; i < t->FieldCount(); ++i) line += (i ? "," : "") + t->Fields()[i].AsString();
      out.push_back(line);
    }
    return out;
  };
  auto* select = new daotable::TMxDaoTable(&owner);
  select->SetDatabase(db);
  select->SetQueryDefName("SelectQuery");
  EXPECT_EQ(select->QueryDefType(), "dbQSelect");
  select->Open();
  // Table2.col2 = "foo" where Table3 matches Table2 on both columns: only "foo".
  EXPECT_EQ(rows_of(select), (std::vector<std::string>{"foo,4,x,foo,foo,t2"}));
  select->Close();

  auto* update = new daotable::TMxDaoTable(&owner);
  update->SetDatabase(db);
  update->SetQueryDefName("UpdateQuery");
  EXPECT_EQ(update->QueryDefType(), "dbQUpdate");

  auto* by = new daotable::TMxDaoTable(&owner);
  by->SetDatabase(db);
  by->SetQueryDefName("ByCol3");
  ds::TStringList values;
  values.Add("x");
  by->SetQueryDefParameters(values);
  by->Open();
  const std::vector<std::string> ours = rows_of(by);
  EXPECT_EQ(ours, (std::vector<std::string>{"a,1", "c,3", "foo,4"}));
  by->Close();
  db->Close();
  if (daotest::HaveMdbTools()) {
    std::string out = daotest::Run(
        "echo \"select col1, col2 from Table1 where col3 = 'x'\" | "
        "mdb-sql -H -F -P -d , '" +
        path + "'");
    std::vector<std::string> theirs;
    std::size_t start = 0;
    while (start < out.size()) {
      std::size_t end = out.find('\n', start);
      if (end == std::string::npos) end = out.size();
      std::string line = out.substr(start, end - start);
      if (!line.empty() && line.back() == ',') line.pop_back();
      if (!line.empty()) theirs.push_back(line);
      start = end + 1;
    }
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(theirs, ours);
  }
}

}  // namespace
}  // namespace daotabletest

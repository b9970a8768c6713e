// The table component: properties and their setters, opening and closing, field definitions
// from DAO fields, and creating a table from definitions.
#include <gtest/gtest.h>

#include "table_fixture.h"

namespace daotabletest {
namespace {

using daotable::TOOption;

TEST_F(TableTest, StartsWithTheDocumentedValuesAndIgnoresWritesToDerivedProperties) {
  TMxDaoTable* t = NewTable();
  EXPECT_TRUE(t->AutoFindIndex());
  EXPECT_EQ(t->ComponentVersion(), "7.20");
  EXPECT_EQ(t->TableType(), 2);
  EXPECT_EQ(t->LockType(), 3);
  EXPECT_TRUE(t->UseBrackets());
  EXPECT_TRUE(t->UseDaoProperties());
  EXPECT_TRUE(t->UseGetRecNo());
  EXPECT_TRUE(t->UseRecordCount());
  EXPECT_TRUE(t->MasterAutoActivate());
  EXPECT_TRUE(t->ParamCheck());
  EXPECT_FALSE(t->CacheMemos() || t->CacheBlobs() || t->CacheLookups() || t->ShowGUID() ||
               t->ReadOnly() || t->UseCaptions() || t->DatabaseAutoActivate() ||
               t->WarnOnBadDatabase() || t->RefreshSorted());
  EXPECT_EQ(&t->SortedByText(), &t->SortedBy());
  EXPECT_EQ(&t->QueryDefParametersText(), &t->QueryDefParameters());

  t->SetComponentVersion("1.0");
  t->SetLockEdits(true);
  t->SetIndexFieldCount(3);
  ds::TStringList sql;
  sql.Add("SELECT 1");
  t->SetQueryDefSQLText(sql);
  EXPECT_EQ(t->ComponentVersion(), "7.20");
  EXPECT_FALSE(t->LockEdits());
  EXPECT_EQ(t->IndexFieldCount(), 0);
  EXPECT_EQ(t->QueryDefSQLText().Count(), 0);
  EXPECT_EQ(daotable::OpenOptionsValue({TOOption::dbDenyWrite, TOOption::dbSeeChanges}), 513);
}

TEST_F(TableTest, SourceSettersClearTheOtherSources) {
  TMxDaoTable* t = NewTable();
  t->SetTableName("A");
  t->FieldDefs().Add("X", ds::ftInteger);
  t->SetTableName("");  // stores, clears nothing
  EXPECT_EQ(t->TableName(), "");
  EXPECT_EQ(t->FieldDefs().Count(), 1);

  t->SetTableType(1);
  t->SetQueryDefName("Q");  // a stored query is never a table-type recordset
  EXPECT_EQ(t->TableType(), 2);
  EXPECT_EQ(t->FieldDefs().Count(), 0);

  ds::TStringList sql;
  sql.Add("SELECT * FROM A");
  t->SetTableName("A");
  t->SetSQL(sql);
  EXPECT_EQ(t->TableName(), "");
  EXPECT_EQ(t->QueryDefName(), "");
  t->SetTableName("B");
  EXPECT_EQ(t->SQL().Count(), 0);

  EXPECT_EQ(ErrorText([&] { t->SetIndexName("PK"); }),
            "TMxDaoTable.F_Set_IndexName: Indexes can be set only on Standard Tables!");
}

TEST_F(TableTest, OpeningRefusesWhatItCannotOpen) {
  MakeTable("T", {{"ID", dao::dbLong}});
  struct Case {
    std::function<void(TMxDaoTable&)> setup;
    std::string message;
  };
  std::vector<Case> cases = {
      {[](TMxDaoTable& t) { t.SetDatabase(nullptr); },
       "TMxDaoTable.OpenDaoRecordset: Missing Database Property"},
      {[](TMxDaoTable& t) { t.SetTableName(""); },
       "TMxDaoTable.OpenDaoRecordset: Missing TableName or QueryDefName, or SQL is empty!"},
      {[](TMxDaoTable& t) { t.SetTableType(16); },
       "TMxDaoTable.OpenDaoRecordset: DynamicTables are for ODBC connections only!"},
  };
  for (const auto& c : cases) {
    TMxDaoTable* t = NewTable("T");
    c.setup(*t);
    EXPECT_EQ(ErrorText([&] { t->Open(); }), c.message);
    EXPECT_FALSE(t->Active());
    EXPECT_FALSE(t->CursorOpen());
    EXPECT_EQ(t->FieldCount(), 0);
    delete t;
    EXPECT_TRUE(db->Connected()) << c.message;
  }
  db->Close();
  TMxDaoTable* t = NewTable("T");
  EXPECT_EQ(ErrorText([&] { t->Open(); }),
            "TMxDaoTable.OpenDaoRecordset: Database is NOT connected");
  t->SetDatabaseAutoActivate(true);
  t->Open();
  EXPECT_TRUE(db->Connected());
}

TEST_F(TableTest, SettersRefusedWhileActiveKeepTheirValue) {
  MakeTable("T", {{"ID", dao::dbLong}});
  TMxDaoTable* t = NewTable("T");
  t->Open();
  struct Case {
    std::function<void()> call;
    std::string message;
  };
  std::vector<Case> cases = {
      {[&] { t->SetDatabase(nullptr); },
       "TMxDaoTable.F_Set_Database: Cannot set Database while Table is Active!"},
      {[&] { t->SetTableName("U"); },
       "TMxDaoTable.F_Set_TableName: Cannot set TableName while Table is active!"},
      {[&] { t->SetQueryDefName("Q"); },
       "TMxDaoTable.F_Set_QueryDefName: Cannot set QueryDefName while Table is Active!"},
      {[&] { t->SetTableType(1); },
       "TMxDaoTable.F_Set_TableType: Cannot set TableType while Table is active!"},
      {[&] { t->SetLockType(2); },
       "TMxDaoTable.F_Set_LockType: Cannot set LockType while Table is active!"},
      {[&] { t->SetReadOnly(true); },
       "TMxDaoTable.F_Set_ReadOnly: Cannot set ReadOnly while table is Active!"},
      {[&] { t->CreateTable(); }, "Cannot create new Table while Table is Active!"},
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorText(c.call), c.message);
  EXPECT_EQ(t->Database(), db);
  EXPECT_EQ(t->TableName(), "T");
  EXPECT_EQ(t->TableType(), 2);
  EXPECT_EQ(t->LockType(), 3);
  EXPECT_FALSE(t->ReadOnly());
}

TEST_F(TableTest, ReadOnlyIsForcedBySnapshotsForwardOnlyAndReadOnlyDatabases) {
  MakeTable("T", {{"ID", dao::dbLong}});
  for (int type : {4, 8}) {
    TMxDaoTable* t = NewTable("T");
    t->SetTableType(type);
    t->Open();
    EXPECT_TRUE(t->ReadOnly()) << type;
    EXPECT_FALSE(t->CanModify()) << type;
    delete t;
  }
  TMxDaoTable* t = NewTable("T");
  t->Open();
  EXPECT_FALSE(t->ReadOnly());
  EXPECT_TRUE(t->CanModify());
}

TEST_F(TableTest, OpenRegistersInActiveTablesUnderAGeneratedNameAndCloseLeaves) {
  MakeTable("T", {{"ID", dao::dbLong}});
  TMxDaoTable* t = NewTable("T");
  t->Open();
  std::string name = t->Name();
  EXPECT_EQ(name.rfind("MxDaoTable_", 0), 0u) << name;
  int i = db->ActiveTables().IndexOf(name);
  ASSERT_GE(i, 0);
  EXPECT_EQ(db->ActiveTables().Objects(i), static_cast<daodb::TMxDaoActiveTable*>(t));
  t->Close();
  EXPECT_EQ(db->ActiveTables().IndexOf(name), -1);
  t->Open();
  EXPECT_EQ(t->Name(), name);

  // Closed by the database: the table leaves the list to the database.
  db->ActiveTables().Add("marker");
  t->SetClosingByDatabase(true);
  t->Close();
  EXPECT_GE(db->ActiveTables().IndexOf(name), 0);
  EXPECT_FALSE(t->ClosingByDatabase());

  t->Open();
  db->Close();
  EXPECT_FALSE(t->Active());
}

TEST_F(TableTest, OpensAnSqlStatement) {
  MakeTable("T", {{"ID", dao::dbLong}, {"NAME", dao::dbText, 20}});
  AddRows("T", {{core::Variant(1), core::Variant("a")}, {core::Variant(2), core::Variant("b")}});
  TMxDaoTable* t = NewTable();
  ds::TStringList sql;
  sql.Add("SELECT NAME FROM T WHERE ID = 2");
  t->SetSQL(sql);
  t->Open();
  EXPECT_EQ(t->FieldCount(), 1);
  EXPECT_EQ(t->FieldByName("NAME").AsString(), "b");
}

TEST_F(TableTest, FieldDefinitionsFollowDaoTypesFormatsAndAttributes) {
  MakeTable("T", {{"ID", dao::dbLong, -1, dao::dbAutoIncrField},
                  {"NAME", dao::dbText, 30, 0, true},
                  {"SHORTD", dao::dbDate},
                  {"MEDT", dao::dbDate},
                  {"GEND", dao::dbDate},
                  {"PLAIN", dao::dbDate},
                  {"G", dao::dbGUID},
                  {"N", dao::dbInteger},
                  {"M", dao::dbMemo},
                  {"B", dao::dbLongBinary},
                  {"C", dao::dbCurrency},
                  {"F", dao::dbBoolean}});
  auto td = Dao().TableDefs().Item("T");
  auto set_format = [&](const char* field, const char* format) {
    auto f = td->Fields().Item(field);
    f->Properties().Append(f->CreateProperty("Format", dao::dbText, core::Variant(format)));
  };
  set_format("SHORTD", "Short Date");
  set_format("MEDT", "medium time");
  set_format("GEND", "General Date");
  td->Fields().Item("G")->SetDefaultValue("GenGUID()");
  TMxDaoTable* t = NewTable("T");
  t->Open();
  const ds::TFieldDefs& defs = t->FieldDefs();
  ASSERT_EQ(defs.Count(), 12);
  struct Expect {
    const char* name;
    ds::TFieldType type;
    int size;
  };
  std::vector<Expect> expect = {
      {"ID", ds::ftAutoInc, 0}, {"NAME", ds::ftString, 30},  {"SHORTD", ds::ftDate, 0},
      {"MEDT", ds::ftTime, 0},  {"GEND", ds::ftDateTime, 0}, {"PLAIN", ds::ftDateTime, 0},
      {"G", ds::ftBytes, 16},   {"N", ds::ftSmallint, 0},    {"M", ds::ftMemo, 0},
      {"B", ds::ftBlob, 0},     {"C", ds::ftCurrency, 0},    {"F", ds::ftBoolean, 0}};
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(defs[i].Name(), expect[i].name);
    EXPECT_EQ(defs[i].DataType(), expect[i].type) << expect[i].name;
    if (expect[i].size) {
      EXPECT_EQ(defs[i].Size(), expect[i].size) << expect[i].name;
    }
  }
  EXPECT_TRUE(defs[1].Required());
  EXPECT_EQ(defs[6].Precision(), daotable::kGuidMarker);
  EXPECT_EQ(t->FieldByName("G").ValidChars(), daotable::GUIDChars());
  EXPECT_EQ(t->FieldUpdatable()[0], 0);
  EXPECT_TRUE(t->FieldByName("ID").ReadOnly());
  EXPECT_EQ(t->FieldUpdatable()[1], 1);
  EXPECT_EQ(t->FieldDefaults()[6], "");  // GenGUID() is DAO's to fill
  EXPECT_EQ(t->FieldByName("GEND").DisplayWidth(), 20);
}

TEST_F(TableTest, DefaultsAndCaptionsComeFromDaoProperties) {
  MakeTable("T", {{"TXT", dao::dbText, 20},
                  {"NUL", dao::dbText, 20},
                  {"D1", dao::dbDate},
                  {"D2", dao::dbDate},
                  {"D3", dao::dbDate},
                  {"NUM", dao::dbLong}});
  auto td = Dao().TableDefs().Item("T");
  td->Fields().Item("TXT")->SetDefaultValue("\"abc\"");
  td->Fields().Item("NUL")->SetDefaultValue("null");
  td->Fields().Item("D1")->SetDefaultValue("#12/31/1999#");
  td->Fields().Item("D2")->SetDefaultValue("#1/2/2000 1:05:09 PM#");
  td->Fields().Item("D3")->SetDefaultValue("#1/2/2000 12:00:00 AM#");
  td->Fields().Item("NUM")->SetDefaultValue("42");
  auto f = td->Fields().Item("NUM");
  f->Properties().Append(f->CreateProperty("Caption", dao::dbText, core::Variant("Počet")));

  TMxDaoTable* t = NewTable("T");
  t->SetUseCaptions(true);
  t->Open();
  std::vector<std::string> expected = {"abc", "", "730119 0", "730121 47109000", "730121 0", "42"};
  EXPECT_EQ(t->FieldDefaults(), expected);
  EXPECT_EQ(t->FieldByName("NUM").DisplayLabel(), "Počet");
  EXPECT_EQ(t->FieldByName("TXT").DisplayLabel(), "TXT");

  // A new record shows the defaults without marking them changed.
  t->Append();
  EXPECT_EQ(t->FieldByName("TXT").AsString(), "abc");
  EXPECT_EQ(t->FieldByName("NUM").AsInteger(), 42);
  EXPECT_TRUE(t->FieldByName("NUL").IsNull());
  const auto& values = *TMxDaoTable::RecInfo(t->GetActiveRecordBuffer()).Values;
  for (const auto& v : values) EXPECT_FALSE(v.Changed);
  t->Cancel();
  t->Close();

  // Without DAO's properties (or read-only) nothing is required and nothing has a default.
  t->SetUseDaoProperties(false);
  t->Open();
  EXPECT_EQ(t->FieldDefaults(), std::vector<std::string>(6));
  EXPECT_EQ(t->FieldUpdatable(), std::vector<std::uint8_t>(6, 1));
}

TEST(DaoDateDefault, ConvertsMonthDayYearWithOptionalTwelveHourTime) {
  struct Case {
    const char* text;
    const char* value;
  };
  for (const Case& c : std::vector<Case>{{"12/31/1999", "730119 0"},
                                         {"1/2/2000 1:05:09 PM", "730121 47109000"},
                                         {"1/2/2000 12:00:00 AM", "730121 0"},
                                         {"1/2/2000 12:30:00 PM", "730121 45000000"},
                                         {"1/2/2000 13:15:00", "730121 47700000"},
                                         {"2/30/2000", ""},
                                         {"nonsense", ""},
                                         {"", ""}})
    EXPECT_EQ(daotable::DaoDateDefaultText(c.text), c.value) << c.text;
}

TEST_F(TableTest, CreateTableRefusesAndBuildsFromDefinitions) {
  TMxDaoTable* t = NewTable();
  EXPECT_EQ(ErrorText([&] { t->CreateTable(); }),
            "Cannot create new Table - TableName is missing!");
  t->SetTableName("NEW");
  t->FieldDefs().Add("NAME", ds::ftString, 25, true);
  t->FieldDefs().Add("DAY", ds::ftDate);
  t->FieldDefs().Add("AT", ds::ftTime);
  t->FieldDefs().Add("ID", ds::ftBytes, 16);
  t->FieldDefs().Add("AMOUNT", ds::ftCurrency);
  t->CreateTable();
  EXPECT_FALSE(t->Active());
  EXPECT_EQ(t->FieldDefs().Count(), 5);  // the component's own definitions stay
  auto td = Dao().TableDefs().Item("NEW");
  EXPECT_EQ(td->Indexes().Count(), 0);
  EXPECT_TRUE(td->Fields().Item("NAME")->Required());

  t->Open();
  const ds::TFieldDefs& defs = t->FieldDefs();
  std::vector<std::string> names;
  for (int i = 0; i < defs.Count(); ++i) names.push_back(defs[i].Name());
  EXPECT_EQ(names, (std::vector<std::string>{"NAME", "DAY", "AT", "ID", "AMOUNT"}));
  EXPECT_EQ(defs[1].DataType(), ds::ftDateTime);
  EXPECT_EQ(defs[2].DataType(), ds::ftDateTime);
  EXPECT_EQ(defs[3].DataType(), ds::ftBytes);
  EXPECT_EQ(defs[3].Precision(), daotable::kGuidMarker);
  EXPECT_EQ(ErrorText([&] { t->CreateTable(); }), "Cannot create new Table while Table is Active!");
  t->Close();
  // The table exists now: DAO's refusal reaches the caller.
  EXPECT_NE(ErrorText([&] { t->CreateTable(); }), "");
}

}  // namespace
}  // namespace daotabletest

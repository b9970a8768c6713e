// Files Access (and the Jet engine) wrote, read through DAO and compared with what mdbtools
// reads from them; and a table added through DAO to a copy of one of them.
#include <algorithm>
#include <filesystem>
#include <set>

#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::ErrorOf;

std::string Fixture(const std::string& name) {
  return std::string(DATOVRAT_TESTDATA) + "/dao/" + name;
}

std::vector<std::string> UserTables(Database& db) {
  std::vector<std::string> out;
  for (int i = 0; i < db.TableDefs().Count(); ++i) {
    auto t = db.TableDefs().Item(i);
    if ((t->Attributes() & dbSystemObject) == 0) out.push_back(t->Name());
  }
  return out;
}

int SnapshotRows(Database& db, const std::string& table) {
  auto rs = db.OpenRecordset(table, dbOpenSnapshot);
  int n = 0;
  while (!rs->Eof()) {
    for (int i = 0; i < rs->Fields().Count(); ++i) rs->Fields().Item(i)->Value();
    rs->MoveNext();
    ++n;
  }
  return n;
}

TEST(AccessFiles, TablesAndRowsAsMdbtoolsSeesThem) {
  if (!daotest::HaveMdbTools()) GTEST_SKIP() << "mdbtools is missing (deps/apt/dao.txt)";
  auto engine = DBEngine::Create();
  for (const char* file :
       {"adox_jet4.mdb", "indexTestV2000.mdb", "queryTestV2000.mdb", "testV1997.mdb"}) {
    SCOPED_TRACE(file);
    auto db = engine->OpenDatabase(Fixture(file), false, true);
    std::vector<std::string> ours = UserTables(*db);
    std::vector<std::string> theirs = daotest::MdbTables(Fixture(file));
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours, theirs);
    for (const auto& table : ours) {
      SCOPED_TRACE(table);
      int status = 0;
      std::string count =
          daotest::Run("mdb-count '" + Fixture(file) + "' '" + table + "'", &status);
      ASSERT_EQ(status, 0);
      EXPECT_EQ(SnapshotRows(*db, table), std::stoi(count));
      EXPECT_EQ(db->TableDefs().Item(table)->RecordCount(), std::stoi(count));
      auto dyn = db->OpenRecordset(table, dbOpenDynaset);
      if (!dyn->Eof()) dyn->MoveLast();
      EXPECT_EQ(dyn->RecordCount(), std::stoi(count));
    }
  }
}

TEST(AccessFiles, AnAccess97FileReadsButTakesNoChanges) {
  auto engine = DBEngine::Create();
  auto db = engine->OpenDatabase(Fixture("testV1997.mdb"));
  EXPECT_EQ(db->Version(), "3.0");
  EXPECT_FALSE(db->Updatable());
  auto rs = db->OpenRecordset("Table1", dbOpenDynaset);
  EXPECT_FALSE(rs->Updatable());
  EXPECT_EQ(ErrorOf([&] { rs->AddNew(); }), err::kReadOnly);
  // The values mdb-export prints for the first rows: "a","b",0,0,0,0,12/12/81,0.0000,0 and
  // "abcdefg","hijklmnop",2,222,333333333,444.555,09/21/74,3.5000,1.
  auto v = [&](const char* name) { return rs->Fields().Item(name)->Value(); };
  EXPECT_EQ(v("A").ToString(), "a");
  EXPECT_EQ(v("B").ToString(), "b");
  EXPECT_EQ(v("G").ToDate(), 29932.0);  // 12 December 1981
  rs->MoveNext();
  EXPECT_EQ(v("A").ToString(), "abcdefg");
  EXPECT_EQ(v("B").ToString(), "hijklmnop");
  EXPECT_EQ(v("C").ToLong(), 2);
  EXPECT_EQ(v("D").ToLong(), 222);
  EXPECT_EQ(v("E").ToLong(), 333333333);
  EXPECT_DOUBLE_EQ(v("F").ToDouble(), 444.555);
  EXPECT_EQ(v("G").ToDate(), 27293.0);  // 21 September 1974
  EXPECT_EQ(core::CurrencyToText(v("H").ToCurrency()), "3.5");
  EXPECT_TRUE(v("I").ToBoolean());
}

TEST(AccessFiles, PrimaryKeysAndDefaultsAsMdbSchemaShowsThem) {
  if (!daotest::HaveMdbTools()) GTEST_SKIP() << "mdbtools is missing (deps/apt/dao.txt)";
  auto engine = DBEngine::Create();
  auto db = engine->OpenDatabase(Fixture("indexTestV2000.mdb"), false, true);
  std::string schema = daotest::Run("mdb-schema --indexes --default-values '" +
                                    Fixture("indexTestV2000.mdb") + "' postgres 2>/dev/null");
  for (const char* table : {"Table1", "Table2", "Table3"}) {
    SCOPED_TRACE(table);
    auto td = db->TableDefs().Item(table);
    std::vector<std::string> primary_fields;
    for (int i = 0; i < td->Indexes().Count(); ++i) {
      auto index = td->Indexes().Item(i);
      if (!index->Primary()) continue;
      EXPECT_TRUE(index->Unique());
      for (int f = 0; f < index->Fields().Count(); ++f)
        primary_fields.push_back(index->Fields().Item(f)->Name());
    }
    std::string lower(table);
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    ASSERT_NE(schema.find("\"" + lower + "_pkey\" PRIMARY KEY (\"id\")"), std::string::npos);
    EXPECT_EQ(primary_fields, std::vector<std::string>{"id"});
    // mdb-schema prints DEFAULT 0 for the id column.
    EXPECT_EQ(td->Fields().Item("id")->DefaultValue(), "0");
  }
}

TEST(AccessFiles, StoredQueriesOfEveryKind) {
  if (!daotest::HaveMdbTools()) GTEST_SKIP() << "mdbtools is missing (deps/apt/dao.txt)";
  auto engine = DBEngine::Create();
  auto db = engine->OpenDatabase(Fixture("queryTestV2000.mdb"), false, true);
  std::set<std::string> ours;
  for (int i = 0; i < db->QueryDefs().Count(); ++i) ours.insert(db->QueryDefs().Item(i)->Name());
  std::set<std::string> theirs;
  {
    std::string line = daotest::Run("mdb-queries '" + Fixture("queryTestV2000.mdb") + "'");
    std::size_t start = 0;
    while (start < line.size()) {
      std::size_t end = line.find_first_of(" \n", start);
      if (end == std::string::npos) end = line.size();
      if (end > start) theirs.insert(line.substr(start, end - start));
      start = end + 1;
    }
  }
  EXPECT_EQ(ours, theirs);
  // DAO's QueryDef.Type for each kind the names tell.
  const std::pair<const char*, int> kinds[] = {
      {"SelectQuery", 0},          {"CrosstabQuery", 16},     {"DeleteQuery", 32},
      {"UpdateQuery", 48},         {"AppendQuery", 64},       {"MakeTableQuery", 80},
      {"DataDefinitionQuery", 96}, {"PassthroughQuery", 112}, {"UnionQuery", 128}};
  for (auto [name, type] : kinds) {
    SCOPED_TRACE(name);
    auto q = db->QueryDefs().Item(name);
    EXPECT_EQ(q->Type(), type);
    EXPECT_FALSE(q->SQL().empty());
  }
  auto select = db->QueryDefs().Item("SelectQuery")->OpenRecordset(dbOpenSnapshot);
  EXPECT_GE(select->Fields().Count(), 1);
}

TEST(AccessFiles, ATableAddedThroughDaoLeavesTheRestAlone) {
  if (!daotest::HaveMdbTools()) GTEST_SKIP() << "mdbtools is missing (deps/apt/dao.txt)";
  daotest::TempDir dir;
  const std::string copy = dir.Path("copy.mdb");
  std::filesystem::copy_file(Fixture("indexTestV2000.mdb"), copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  std::vector<std::vector<std::vector<std::string>>> before;
  for (const char* t : {"Table1", "Table2", "Table3"})
    before.push_back(daotest::MdbExport(copy, t));
  {
    auto engine = DBEngine::Create();
    auto db = engine->OpenDatabase(copy);
    daotest::CreateTable(*db, "Nová", {{"ID", dbLong, -1, dbAutoIncrField}, {"Text", dbText, 30}});
    auto rs = db->OpenRecordset("Nová", dbOpenDynaset);
    for (const char* text : {"první", "druhý", "třetí"}) {
      rs->AddNew();
      rs->Fields().Item("Text")->SetValue(std::string_view(text));
      rs->Update();
    }
    rs->Close();
    // An index added to the table that now has rows, as the table manager adds them.
    auto td = db->TableDefs().Item("Nová");
    auto pk = td->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->Fields().Append(pk->CreateField("ID"));
    td->Indexes().Append(pk);
    auto by_text = td->CreateIndex("Text");
    by_text->SetUnique(true);
    by_text->Fields().Append(by_text->CreateField("Text"));
    td->Indexes().Append(by_text);
    EXPECT_EQ(db->TableDefs().Item("Nová")->Indexes().Count(), 2);
  }
  std::string schema =
      daotest::Run("mdb-schema --indexes -T 'Nová' '" + copy + "' postgres 2>/dev/null");
  EXPECT_NE(schema.find("PRIMARY KEY (\"id\")"), std::string::npos) << schema;
  EXPECT_NE(schema.find("CREATE UNIQUE INDEX"), std::string::npos) << schema;
  int i = 0;
  for (const char* t : {"Table1", "Table2", "Table3"})
    EXPECT_EQ(daotest::MdbExport(copy, t), before[static_cast<std::size_t>(i++)]) << t;
  auto added = daotest::MdbExport(copy, "Nová");
  ASSERT_EQ(added.size(), 4u);
  EXPECT_EQ(added[1], (std::vector<std::string>{"1", "první"}));
  EXPECT_EQ(added[3], (std::vector<std::string>{"3", "třetí"}));
  if (daotest::HaveMdbReader()) {
    auto rows = daotest::MdbReaderRows(copy, "Nová");
    EXPECT_EQ(rows, (std::vector<std::string>{"[1,\"první\"]", "[2,\"druhý\"]", "[3,\"třetí\"]"}));
  }
}

}  // namespace

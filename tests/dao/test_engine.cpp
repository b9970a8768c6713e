// DBEngine and Workspace: settings, workspaces, opening and creating files, with DAO's errors.
#include <fstream>

#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::ErrorOf;

TEST(Engine, DefaultsAndWorkspaces) {
  auto engine = DBEngine::Create();
  EXPECT_EQ(engine->Version(), "3.6");
  EXPECT_EQ(engine->DefaultUser(), "admin");
  EXPECT_EQ(engine->DefaultPassword(), "");
  EXPECT_EQ(engine->DefaultType(), dbUseJet);
  EXPECT_EQ(engine->Workspaces().Count(), 1);
  auto def = engine->Workspaces().Item(0);
  EXPECT_EQ(def->Name(), "#Default Workspace#");
  EXPECT_EQ(def->UserName(), "Admin");
  EXPECT_EQ(def->DefaultCursorDriver(), -1);

  EXPECT_EQ(ErrorOf([&] { engine->SetDefaultUser("a;b"); }), err::kInvalidArgument);
  EXPECT_EQ(ErrorOf([&] { engine->SetDefaultType(3); }), err::kInvalidArgument);
  auto ws = engine->CreateWorkspace("DaoWorkspace", "Admin", "", dbUseJet);
  EXPECT_EQ(engine->Workspaces().Count(), 1);  // not appended yet
  ws->SetName("Renamed");
  engine->Workspaces().Append(ws);
  EXPECT_EQ(engine->Workspaces().Count(), 2);
  EXPECT_EQ(engine->Workspaces().Item("renamed"), ws);
  EXPECT_EQ(ErrorOf([&] { ws->SetName("Again"); }), err::kPropertyReadOnlyOnceAppended);
  auto twin = engine->CreateWorkspace("RENAMED", "Admin", "");
  EXPECT_EQ(ErrorOf([&] { engine->Workspaces().Append(twin); }), err::kNameExists);
  EXPECT_EQ(ErrorOf([&] { engine->CreateWorkspace("x", "Admin", "", 7); }), err::kInvalidArgument);
  // A closed workspace leaves the collection, so one of the same name can be appended again
  // (as the database component does every time it rebuilds its workspace).
  ws->Close();
  EXPECT_EQ(engine->Workspaces().Count(), 1);
  EXPECT_EQ(ErrorOf([&] { engine->Workspaces().Item("Renamed"); }), err::kItemNotFound);
  EXPECT_EQ(ErrorOf([&] { ws->OpenDatabase("/x.mdb"); }), err::kObjectInvalid);
  engine->Workspaces().Append(twin);
  EXPECT_EQ(engine->Workspaces().Item("renamed"), twin);
  engine->Idle(dbFreeLocks);
  engine->Idle(dbRefreshCache);
}

TEST(Engine, OdbcDirectWorkspacesOpenNothing) {
  daotest::TempDir dir;
  auto engine = DBEngine::Create();
  engine->CreateDatabase(dir.Path("a.mdb"), dbLangGeneral);
  auto odbc = engine->CreateWorkspace("Odbc", "Admin", "", dbUseODBC);
  EXPECT_EQ(odbc->Type(), dbUseODBC);
  odbc->SetDefaultCursorDriver(2);
  EXPECT_EQ(odbc->DefaultCursorDriver(), 2);
  EXPECT_EQ(ErrorOf([&] { odbc->OpenDatabase(dir.Path("a.mdb")); }), err::kNotSupported);
  EXPECT_NE(engine->Errors().Item(0).Description.find("ODBCDirect"), std::string::npos);
  EXPECT_EQ(engine->Errors().Item(0).Source, "DAO.Workspace");
  EXPECT_EQ(ErrorOf([&] { odbc->CreateDatabase(dir.Path("b.mdb"), dbLangGeneral); }),
            err::kNotSupported);
}

TEST(Engine, OpenDatabaseReportsWhatIsWrongWithTheFile) {
  daotest::TempDir dir;
  auto engine = DBEngine::Create();
  auto ws = engine->Workspaces().Item(0);
  {
    std::ofstream(dir.Path("text.mdb"))
        << "This is no database, just some text that is long enough.";
    std::ofstream(dir.Path("empty.mdb"));
    // A real database cut after its header page.
    std::ifstream whole(std::string(DATOVRAT_TESTDATA) + "/dao/adox_jet4.mdb", std::ios::binary);
    std::string bytes(4096, '\0');
    whole.read(bytes.data(), 4096);
    std::ofstream(dir.Path("cut.mdb"), std::ios::binary) << bytes;
  }
  engine->CreateDatabase(dir.Path("good.mdb"), dbLangGeneral);
  struct Case {
    std::string path;
    std::string connect;
    int error;
    std::string in_text;
  };
  const Case cases[] = {
      {dir.Path("missing.mdb"), "", err::kFileNotFound,
       "Could not find file '" + dir.Path("missing.mdb") + "'."},
      {dir.Path("no/such/dir/x.mdb"), "", err::kInvalidPath, "is not a valid path"},
      {dir.Path("text.mdb"), "", err::kUnrecognizedFormat,
       "Unrecognized database format '" + dir.Path("text.mdb") + "'."},
      {dir.Path("empty.mdb"), "", err::kUnrecognizedFormat, dir.Path("empty.mdb")},
      {dir.Path("cut.mdb"), "", err::kCorruptDatabase,
       "Cannot open database '" + dir.Path("cut.mdb") + "'"},
      {dir.Path("good.mdb"), "dBASE IV;", err::kNoInstallableIsam,
       "Could not find installable ISAM."},
      {"", "", err::kFileNotFound, "Could not find file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ErrorOf([&] { ws->OpenDatabase(c.path, false, false, c.connect); }), c.error);
    EXPECT_NE(engine->Errors().Item(0).Description.find(c.in_text), std::string::npos)
        << engine->Errors().Item(0).Description;
  }
  // A password and a user in the connect text are accepted for a file that has none.
  auto db = ws->OpenDatabase(dir.Path("good.mdb"), false, false, ";UID=Admin;PWD=secret;");
  EXPECT_EQ(db->Version(), "4.0");
  EXPECT_TRUE(db->Updatable());
  EXPECT_EQ(ws->Databases().Count(), 1);
  // A second writer is kept out while the first has the file.
  EXPECT_EQ(ErrorOf([&] { ws->OpenDatabase(dir.Path("good.mdb")); }), err::kFileInUse);
  db->Close();
  EXPECT_EQ(ErrorOf([&] { db->Close(); }), err::kObjectInvalid);
  EXPECT_EQ(ws->Databases().Count(), 0);
  // Read-only: no changes.
  auto ro = ws->OpenDatabase(dir.Path("good.mdb"), false, true);
  EXPECT_FALSE(ro->Updatable());
  auto td = ro->CreateTableDef("T");
  td->Fields().Append(td->CreateField("A", dbLong));
  EXPECT_EQ(ErrorOf([&] { ro->TableDefs().Append(td); }), err::kReadOnly);
  // The TableDef holds its database as a COM reference would.
  ro.reset();
  EXPECT_EQ(ErrorOf([&] { ws->OpenDatabase(dir.Path("good.mdb")); }), err::kFileInUse);
  td.reset();
  // Releasing the last reference closes the file.
  auto again = ws->OpenDatabase(dir.Path("good.mdb"));
  EXPECT_EQ(again->Name(), dir.Path("good.mdb"));
}

TEST(Engine, CreateDatabaseMakesAJet4FileInTheGeneralOrder) {
  daotest::TempDir dir;
  auto engine = DBEngine::Create();
  struct Case {
    std::string locale;
    int options;
    int error;
  };
  const Case cases[] = {
      {"", 0, err::kInvalidLocale},
      {"nonsense", 0, err::kInvalidLocale},
      {";LANGID=0x040E;CP=1250;COUNTRY=0", 0, err::kInvalidLocale},  // Hungarian
      {";LANGID=0x0411;CP=932;COUNTRY=0", 0, err::kInvalidLocale},   // Japanese
      {dbLangGeneral, dbVersion30, err::kInvalidArgument},
      {dbLangGeneral, dbVersion40 | dbEncrypt, err::kInvalidArgument},
      {std::string(dbLangGeneral) + ";pwd=secret", 0, err::kInvalidArgument},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    EXPECT_EQ(ErrorOf([&] { engine->CreateDatabase(dir.Path("x.mdb"), c.locale, c.options); }),
              c.error);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("x.mdb")));
  }
  EXPECT_EQ(ErrorOf([&] { engine->CreateDatabase(dir.Path("none/x.mdb"), dbLangGeneral); }),
            err::kInvalidPath);
  auto db =
      engine->CreateDatabase(dir.Path("x.mdb"), ";langid=0x0409;cp=1252;country=0", dbVersion40);
  EXPECT_EQ(db->Version(), "4.0");
  EXPECT_EQ(db->CollatingOrder(), dbSortGeneral);
  EXPECT_EQ(db->QueryTimeout(), 60);
  db->SetQueryTimeout(30);
  EXPECT_EQ(db->QueryTimeout(), 30);
  db.reset();
  EXPECT_EQ(ErrorOf([&] { engine->CreateDatabase(dir.Path("x.mdb"), dbLangGeneral); }),
            err::kDatabaseExists);
  EXPECT_EQ(engine->Errors().Item(0).Description, "Database already exists.");
  if (daotest::HaveMdbTools()) {
    int status = 0;
    std::string out = daotest::Run("mdb-ver '" + dir.Path("x.mdb") + "'", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(out.find("JET4"), std::string::npos) << out;
  }
}

TEST(Engine, CommitPutsEveryChangeInTheFileWhileItStaysOpen) {
  daotest::TempDir dir;
  auto engine = DBEngine::Create();
  auto db = engine->CreateDatabase(dir.Path("c.mdb"), dbLangGeneral, dbVersion40);
  daotest::CreateTable(*db, "T", {{"ID", dbLong}, {"NAME", dbText, 50}});
  auto rs = db->OpenRecordset("T", dbOpenTable);
  for (int i = 1; i <= 500; ++i) {
    rs->AddNew();
    rs->Fields().Item("ID")->SetValue(core::Variant(i));
    rs->Fields().Item("NAME")->SetValue(std::string_view("row " + std::to_string(i)));
    rs->Update();
  }
  rs->Close();
  db->Commit();
  // What a crash now would leave: the file as it is, without the program's memory.
  EXPECT_FALSE(std::filesystem::exists(dir.Path("c.mdb-journal")));
  std::filesystem::copy_file(dir.Path("c.mdb"), dir.Path("copy.mdb"));
  auto other = DBEngine::Create();
  auto copy = other->OpenDatabase(dir.Path("copy.mdb"), false, true, "");
  auto read = copy->OpenRecordset("T", dbOpenSnapshot);
  read->MoveLast();
  EXPECT_EQ(read->RecordCount(), 500);
  copy->Close();
  db->Close();
  EXPECT_EQ(ErrorOf([&] { db->Commit(); }), err::kObjectInvalid);
}

}  // namespace

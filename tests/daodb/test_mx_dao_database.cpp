// The database component: its properties and setter rules, the engine and workspace it builds,
// connecting and disconnecting, the login flow through the platform hook, the file and schema
// operations, the engine facts, and tables built through CreateTable and the table manager,
// read back by mdbtools, mdb-reader and our own check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "../dao/dao_test_util.h"
#include "core/errors.h"
#include "daodb/dao_utils.h"
#include "daodb/mx_dao_database.h"
#include "daotable/dummy_dataset.h"
#include "jet/check.h"
#include "jet/database.h"
#include "jet/header_page.h"
#include "platform/com.h"
#include "platform/hooks.h"
#include "platform/settings_store.h"

namespace {

using daodb::TMxDaoDatabase;
using daodb::TMxDaoTableManager;

// The message of the EDatabaseError a call raised; empty when it raised nothing (another
// exception fails the test).
std::string DatabaseErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const core::EDatabaseError& e) {
    return e.what();
  }
  return {};
}

int OleErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const core::EOleException& e) {
    return e.ErrorCode();
  }
  return 0;
}

// A component as the main window's form makes it: stored values applied, then Loaded.
std::unique_ptr<TMxDaoDatabase> LoadedDatabase() {
  auto db = std::make_unique<TMxDaoDatabase>();
  db->BeginLoading();
  db->EndLoading();
  return db;
}

class DatabaseComponent : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = dir_.Path("dest.mdb");
    db_ = LoadedDatabase();
    db_->CreateAccessDatabase(file_);
    db_->SetDatabase(file_);
  }

  daotest::TempDir dir_;
  std::string file_;
  std::unique_ptr<TMxDaoDatabase> db_;
};

// Every hook a test installs is put back when it ends.
class HookScope {
 public:
  explicit HookScope(platform::Hooks hooks) : previous_(platform::InstallHooks(std::move(hooks))) {}
  ~HookScope() { platform::InstallHooks(previous_); }

 private:
  platform::Hooks previous_;
};

TEST(DatabaseComponentState, AfterConstructionAndLoading) {
  int com_before = platform::ComInitializationCount();
  {
    TMxDaoDatabase db;
    EXPECT_EQ(platform::ComInitializationCount(), com_before + 1);
    EXPECT_EQ(db.ComponentVersion(), "7.20");
    EXPECT_EQ(db.Version(), "3.6");
    EXPECT_EQ(db.VersionDetails(), "3.6");
    EXPECT_EQ(db.VersionInfo(), "(In Access'2000 mode)");
    EXPECT_EQ(db.DatabaseType(), "Access");
    EXPECT_EQ(db.UserName(), "Admin");
    EXPECT_EQ(db.Workspace(), "DaoWorkspace");
    EXPECT_EQ(db.EngineType(), 2);
    EXPECT_EQ(db.DefaultCursorDriver(), -1);
    EXPECT_EQ(db.QueryTimeout(), 60);
    EXPECT_TRUE(db.SmartOpen());
    EXPECT_TRUE(db.SaveUserName());
    EXPECT_TRUE(db.TrackTransactions());
    EXPECT_TRUE(db.UseODBCDialog());
    EXPECT_FALSE(db.Connected() || db.ReadOnly() || db.Exclusive() || db.LoginPrompt() ||
                 db.PrivateEngine() || db.MdbVersionAutoDetect() || db.DisableRefresh());
    EXPECT_EQ(db.EngineVersions().Text(), "3.6\r\n");
    EXPECT_EQ(db.DatabaseTypes().Text(), "Access\r\nODBC\r\n");
    ASSERT_TRUE(db.DBEngine());
    EXPECT_EQ(db.DBEngine(), daodb::SharedDaoEngine());
    EXPECT_EQ(db.DaoWorkspace(), nullptr);  // made by the first rebuild

    // Values that are read-only in effect.
    db.SetComponentVersion("1.0");
    db.SetVersion("3.5");
    db.SetVersionDetails("x");
    db.SetVersionInfo("x");
    db.SetDatabaseVersionInfo("x");
    db.SetUsesDynaDao(true);
    EXPECT_EQ(db.ComponentVersion(), "7.20");
    EXPECT_EQ(db.Version(), "3.6");
    EXPECT_EQ(db.VersionDetails(), "3.6");
    EXPECT_EQ(db.VersionInfo(), "(In Access'2000 mode)");
    EXPECT_EQ(db.DatabaseVersionInfo(), "");
    EXPECT_FALSE(db.UsesDynaDao());

    db.Loaded();
    ASSERT_TRUE(db.DaoWorkspace());
    EXPECT_EQ(db.DaoWorkspace()->Name(), "DaoWorkspace");
    EXPECT_EQ(db.DBEngine()->Workspaces().Item("DaoWorkspace"), db.DaoWorkspace());
  }
  EXPECT_EQ(platform::ComInitializationCount(), com_before);
}

TEST_F(DatabaseComponent, SettersRefuseWhileConnected) {
  db_->Open();
  ASSERT_TRUE(db_->Connected());
  struct Case {
    std::function<void()> set;
    const char* message;
  };
  TMxDaoDatabase& d = *db_;
  const Case cases[] = {
      {[&] { d.SetExclusive(true); },
       "TMxDaoDatabase.F_Set_Exclusive: Cannot change Exclusive mode while Database is connected!"},
      {[&] { d.SetDatabaseType("ODBC"); },
       "TMxDaoDatabase.F_Set_DatabaseType: Cannot set Database Type while Database is connected!"},
      {[&] { d.SetDatabase("x.mdb"); },
       "TMxDaoDatabase.F_Set_Database: Cannot set Database while Database is connected!"},
      {[&] { d.SetDatabaseParameters("x"); },
       "TMxDaoDatabase.F_Set_DatabaseParameters: Cannot set DatabaseParameters while Database "
       "is connected!"},
      {[&] { d.SetReadOnly(true); },
       "TMxDaoDatabase.F_Set_ReadOnly: Cannot change mode while Database is connected!"},
      {[&] { d.SetLoginPrompt(true); },
       "TMxDaoDatabase.F_Set_LoginPrompt: Cannot change LoginPrompt while Database is "
       "connected!"},
      {[&] { d.SetUserName("x"); },
       "TMxDaoDatabase.F_Set_UserName: Cannot change User Name while Database is connected!"},
      {[&] { d.SetPassword("x"); },
       "TMxDaoDatabase.F_Set_Password: Cannot change Password while Database is connected!"},
      {[&] { d.SetDatabasePassword("x"); },
       "TMxDaoDatabase.F_Set_DatabasePassword: Cannot change Database Password while Database "
       "is connected!"},
      {[&] { d.SetSystemDatabase("x"); },
       "TMxDaoDatabase.F_Set_SystemDatabase: Cannot set SystemDatabase while Database is "
       "connected!"},
      {[&] { d.SetEngineType(1); },
       "TMxDaoDatabase.F_Set_EngineType: Cannot set EngineType Type while Database is "
       "connected!"},
      {[&] { d.SetPrivateEngine(true); },
       "TMxDaoDatabase.F_Set_EngineType: Cannot set PrivateEngine Type while Database is "
       "connected!"},
      {[&] { d.SetTrackTransactions(false); },
       "Cannot set TrackTransactions property when Database is connected!"},
      {[&] { d.SetWorkspace("x"); },
       "TMxDaoDatabase.F_Set_Workspace: Cannot set Workspace while Database is connected!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(DatabaseErrorOf(c.set), c.message);
  }
  // Nothing changed.
  EXPECT_FALSE(d.Exclusive() || d.ReadOnly() || d.LoginPrompt() || d.PrivateEngine());
  EXPECT_EQ(d.DatabaseType(), "Access");
  EXPECT_EQ(d.Database(), file_);
  EXPECT_EQ(d.DatabaseParameters(), "");
  EXPECT_EQ(d.UserName(), "Admin");
  EXPECT_EQ(d.Password(), "");
  EXPECT_EQ(d.EngineType(), 2);
  EXPECT_TRUE(d.TrackTransactions());
  EXPECT_EQ(d.Workspace(), "DaoWorkspace");
  // Stored-only properties may change while connected.
  d.SetQueryTimeout(30);
  d.SetSmartOpen(false);
  EXPECT_EQ(d.QueryTimeout(), 30);
}

TEST_F(DatabaseComponent, RebuildsAndRestoresTheEngine) {
  auto old_workspace = db_->DaoWorkspace();
  // A workspace name DAO refuses (over 20 characters): the old name is put back and the
  // engine rebuilt with it, and the first error reaches the caller.
  EXPECT_NE(OleErrorOf([&] { db_->SetWorkspace("AWorkspaceNameTooLongForDao"); }), 0);
  EXPECT_EQ(db_->Workspace(), "DaoWorkspace");
  ASSERT_TRUE(db_->DaoWorkspace());
  EXPECT_NE(db_->DaoWorkspace(), old_workspace);
  EXPECT_EQ(db_->DaoWorkspace()->Name(), "DaoWorkspace");

  // An engine type DAO does not know: restored.
  EXPECT_NE(OleErrorOf([&] { db_->SetEngineType(7); }), 0);
  EXPECT_EQ(db_->EngineType(), 2);

  // A good value stays and is what DAO reports.
  db_->SetWorkspace("Second");
  EXPECT_EQ(db_->DaoWorkspace()->Name(), "Second");

  // A private engine is an engine of its own.
  db_->SetPrivateEngine(true);
  EXPECT_NE(db_->DBEngine(), daodb::SharedDaoEngine());
  db_->SetPrivateEngine(false);
  EXPECT_EQ(db_->DBEngine(), daodb::SharedDaoEngine());

  // UserName and Password rebuild too, but a failing rebuild is ignored and the value stays.
  db_->SetUserName("");
  EXPECT_EQ(db_->UserName(), "");
  db_->SetUserName("Admin");
  db_->SetPassword("secret");
  EXPECT_EQ(db_->DBEngine()->DefaultPassword(), "secret");
  db_->SetPassword("");

  // While loading from a stored form, setters only store.
  db_->BeginLoading();
  auto workspace = db_->DaoWorkspace();
  db_->SetWorkspace("Third");
  EXPECT_EQ(db_->DaoWorkspace(), workspace);
  db_->EndLoading();
  EXPECT_EQ(db_->DaoWorkspace()->Name(), "Third");
}

TEST_F(DatabaseComponent, ConnectsAndDisconnectsWithEvents) {
  std::vector<std::string> events;
  db_->OnBeforeConnect = [&](TMxDaoDatabase*) { events.push_back("before connect"); };
  db_->OnAfterConnect = [&](TMxDaoDatabase* d) {
    events.push_back(std::string("after connect ") + (d->Connected() ? "connected" : "not"));
  };
  db_->OnBeforeDisconnect = [&](TMxDaoDatabase*) { events.push_back("before disconnect"); };
  db_->OnAfterDisconnect = [&](TMxDaoDatabase*) { events.push_back("after disconnect"); };

  db_->SetConnected(true);
  db_->SetConnected(true);  // once is enough
  EXPECT_EQ(db_->DatabaseVersionInfo(), "4.0");
  EXPECT_EQ(db_->DaoDatabase()->Connect(), ";UID=Admin;PWD=;");
  EXPECT_EQ(db_->DaoDatabase()->QueryTimeout(), 60);
  db_->SetConnected(false);
  db_->SetConnected(false);  // nothing to do
  EXPECT_EQ(events, (std::vector<std::string>{"before connect", "after connect connected",
                                              "before disconnect", "after disconnect"}));
  EXPECT_TRUE(db_->TableNames().Empty());

  // Each missing property is named before any event fires.
  events.clear();
  TMxDaoDatabase other;
  other.OnBeforeConnect = db_->OnBeforeConnect;
  EXPECT_EQ(DatabaseErrorOf([&] { other.Open(); }),
            "TMxDaoDatabase.F_Set_Active: Database property is not defined!");
  other.SetDatabase(file_);
  other.SetDatabaseType("");
  EXPECT_EQ(other.Database(), "");  // setting the type empties the database
  other.SetDatabase(file_);
  EXPECT_EQ(DatabaseErrorOf([&] { other.Open(); }),
            "TMxDaoDatabase.F_Set_Active: DatabaseType property is not defined!");
  EXPECT_TRUE(events.empty());

  // The query time-out is applied when it is not the default.
  db_->SetQueryTimeout(17);
  db_->Open();
  EXPECT_EQ(db_->DaoDatabase()->QueryTimeout(), 17);
  // Disconnected here, while the events' log still exists (destruction disconnects too).
  db_->Close();
  EXPECT_EQ(events.back(), "after disconnect");
}

TEST(DatabaseComponentConnect, OpenArgumentsForEveryDatabaseType) {
  struct Case {
    const char* type;
    const char* database;
    const char* user;
    const char* password;
    const char* expected_connect;
    bool expected_options;
  };
  const Case cases[] = {
      {"Access", "a.mdb", "Admin", "pw", ";UID=Admin;PWD=dbpw;params", true},
      {"access", "a.mdb", "Admin", "", ";UID=Admin;PWD=dbpw;params", true},
      {"ODBC", "odbc;DSN=Shop", "Admin", "pw", "odbc;DSN=Shop;params", true},
      {"ODBC", "ODBC;DSN=Shop", "Admin", "pw", "ODBC;DSN=Shop;params", true},
      {"ODBC", "Shop", "Admin", "pw", "ODBC;UID=Admin;PWD=pw;DSN=Shop;params", true},
      {"dBASE IV", "/data", "Admin", "pw", "dBASE IV;UID=Admin;PWD=pw;params", true},
      {"dBASE IV", "/data", "Admin", "", "dBASE IV;params", true},
      {"Paradox 5.x", "/data", "", "pw", "Paradox 5.x;params", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + c.database);
    TMxDaoDatabase db;
    db.SetDatabaseType(c.type);
    db.SetDatabase(c.database);
    db.SetExclusive(true);
    db.SetReadOnly(true);
    db.SetDatabaseParameters("params");
    db.SetDatabasePassword("dbpw");
    db.SetUserName(c.user);
    db.SetPassword(c.password);
    auto args = db.DaoOpenArguments();
    EXPECT_EQ(args.name, c.database);
    EXPECT_EQ(args.connect, c.expected_connect);
    EXPECT_EQ(args.options, c.expected_options);
    EXPECT_TRUE(args.read_only);
  }
}

TEST(DatabaseComponentConnect, EveryTypeIsRefusedInAnOdbcDirectWorkspace) {
  daotest::TempDir dir;
  struct Case {
    const char* type;
    const char* message;
  };
  const Case cases[] = {
      {"Access",
       "TMxDaoDatabase.F_Set_Active: ODBC direct workspaces\r\nare NOT supported for MS Access "
       "Databases!"},
      {"ODBC",
       "TMxDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported when DYNADAO is "
       "disabled!"},
      {"Paradox 5.x", "TMxDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    auto db = LoadedDatabase();
    db->SetEngineType(1);
    db->SetDatabaseType(c.type);
    db->SetDatabase(dir.Path("a.mdb"));
    EXPECT_EQ(DatabaseErrorOf([&] { db->Open(); }), c.message);
    EXPECT_FALSE(db->Connected());
  }
}

TEST(DatabaseComponentConnect, OdbcAndIsamTypesFailWithDaosErrorAndStayDisconnected) {
  for (const char* type : {"ODBC", "dBASE IV"}) {
    SCOPED_TRACE(type);
    auto db = LoadedDatabase();
    db->SetDatabaseType(type);
    db->SetDatabase("Shop");
    EXPECT_EQ(OleErrorOf([&] { db->Open(); }), 3170);  // Could not find installable ISAM.
    EXPECT_FALSE(db->Connected());
    daodb::TDaoErrRec error;
    db->GetLastDaoError(error);
    EXPECT_EQ(error.Number, 3170);
    EXPECT_FALSE(error.Description.empty());
  }
}

TEST(DatabaseComponentConnect, SmartOpenLooksBesideTheProgram) {
  daotest::TempDir program_dir;
  daotest::TempDir elsewhere;
  {
    auto maker = LoadedDatabase();
    maker->CreateAccessDatabase(program_dir.Path("a.mdb"));
  }
  TMxDaoDatabase::SetProgramDirectory(program_dir.Path(""));
  auto db = LoadedDatabase();
  db->SetDatabase(elsewhere.Path("missing/a.mdb"));
  db->Open();
  EXPECT_TRUE(db->Connected());
  EXPECT_EQ(std::filesystem::path(db->Database()),
            std::filesystem::path(program_dir.Path("a.mdb")));
  db->Close();

  // Without SmartOpen the missing file is DAO's error.
  db->SetSmartOpen(false);
  db->SetDatabase(elsewhere.Path("a.mdb"));
  EXPECT_EQ(OleErrorOf([&] { db->Open(); }), 3024);
  TMxDaoDatabase::SetProgramDirectory("");
}

// A table component registered with the database, recording what the database asks of it.
class RecordingTable : public daotable::TDummyDataset, public daodb::TMxDaoActiveTable {
 public:
  RecordingTable(std::vector<std::string>& log, std::string name, bool fail)
      : log_(log), name_(std::move(name)), fail_(fail) {}
  void SetClosingByDatabase(bool value) override {
    log_.push_back(name_ + (value ? " closing by database" : " closing by itself"));
  }
  void SetReadOnly(bool value) override { log_.push_back(name_ + (value ? " read-only" : "")); }
  ds::TDataSet& ActiveDataSet() override { return *this; }
  void SetActive(bool value) override {
    log_.push_back(name_ + (value ? " opened" : " closed"));
    if (fail_) throw core::EDatabaseError("cannot close");
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
  bool fail_;
};

TEST_F(DatabaseComponent, DisconnectClosesActiveTablesAndGoesOnPastFailures) {
  std::vector<std::string> log;
  RecordingTable a(log, "A", true), b(log, "B", false);
  db_->Open();
  db_->ActiveTables().AddObject("A", static_cast<daodb::TMxDaoActiveTable*>(&a));
  db_->ActiveTables().AddObject("B", static_cast<daodb::TMxDaoActiveTable*>(&b));
  db_->Close();
  EXPECT_EQ(log, (std::vector<std::string>{"A closing by database", "A closed",
                                           "B closing by database", "B closed"}));
  EXPECT_TRUE(db_->ActiveTables().Empty());
  EXPECT_FALSE(db_->Connected());
}

TEST_F(DatabaseComponent, LoginParametersExchangeAndPrompt) {
  // An OnLogin handler that removes the PASSWORD line empties the password.
  db_->SetPassword("old");
  std::vector<std::string> seen;
  db_->OnLogin = [&](TMxDaoDatabase*, ds::TStringList& params) {
    for (int i = 0; i < params.Count(); ++i) seen.push_back(params[i]);
    params.Delete(params.IndexOfName("PASSWORD"));
    params.SetValues("DBPASSWORD", "");
  };
  db_->SetDatabasePassword("dbold");
  db_->Open();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"USER NAME=Admin", "PASSWORD=old", "DBPASSWORD=dbold"}));
  EXPECT_EQ(db_->Password(), "");
  EXPECT_EQ(db_->DatabasePassword(), "");
  EXPECT_EQ(db_->UserName(), "Admin");
  db_->Close();
  db_->OnLogin = nullptr;

  // The login prompt through the platform hook.
  std::vector<platform::LoginRequest> requests;
  std::vector<std::string> messages;
  bool confirm = true;
  HookScope hooks({.handle_exception = {},
                   .show_message = [&](const std::string& text) { messages.push_back(text); },
                   .login_prompt =
                       [&](platform::LoginRequest& request) {
                         requests.push_back(request);
                         request.user_name = "Admin";
                         request.password = "";
                         request.database_password = "";
                         return confirm;
                       }});
  db_->SetLoginPrompt(true);
  db_->SetPassword("typed");
  db_->Open();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].database_name, file_);
  EXPECT_EQ(requests[0].user_name, "Admin");  // saved user name
  EXPECT_EQ(requests[0].password, "");
  EXPECT_EQ(requests[0].database_password, "");
  EXPECT_TRUE(db_->Connected());
  db_->Close();

  db_->SetSaveUserName(false);
  db_->Open();
  EXPECT_EQ(requests.back().user_name, "");
  db_->Close();

  // Declined: the message, all three values emptied, and with an empty user name the rebuild
  // fails, which ends the connect silently.
  confirm = false;
  requests.clear();
  db_->SetPassword("x");
  db_->SetDatabasePassword("y");
  db_->Open();
  EXPECT_EQ(requests.size(), 1u);
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "If You not enter Username and Password You may not gain access to "
                          "your data!"}));
  EXPECT_FALSE(db_->Connected());
  EXPECT_EQ(db_->UserName(), "");
  EXPECT_EQ(db_->Password(), "");
  EXPECT_EQ(db_->DatabasePassword(), "");
}

TEST_F(DatabaseComponent, LoginPromptShowsAFailedRebuildAndAsksAgain) {
  int asked = 0;
  std::vector<std::string> messages;
  HookScope hooks({.handle_exception = {},
                   .show_message = [&](const std::string& text) { messages.push_back(text); },
                   .login_prompt =
                       [&](platform::LoginRequest& request) {
                         // First a user name DAO refuses, then a good one.
                         request.user_name = ++asked == 1 ? "bad;name" : "Admin";
                         return true;
                       }});
  db_->SetLoginPrompt(true);
  db_->Open();
  EXPECT_EQ(asked, 2);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_FALSE(messages[0].empty());
  EXPECT_TRUE(db_->Connected());
}

TEST_F(DatabaseComponent, FileAndSchemaOperations) {
  // A new database is created without connecting; a second create on it is DAO's error.
  EXPECT_FALSE(db_->Connected());
  EXPECT_TRUE(std::filesystem::exists(file_));
  EXPECT_EQ(OleErrorOf([&] { db_->CreateAccessDatabase(file_); }), 3204);
  {
    TMxDaoDatabase no_workspace;
    EXPECT_NE(DatabaseErrorOf([&] { no_workspace.CreateAccessDatabase(dir_.Path("b.mdb")); }), "");
    EXPECT_FALSE(std::filesystem::exists(dir_.Path("b.mdb")));
  }

  daodb::TDaoErrRec error{7, "s", "d", "h", 9};
  {
    // A fresh engine has no error to report.
    TMxDaoDatabase fresh;
    fresh.SetPrivateEngine(true);
    fresh.GetLastDaoError(error);
    EXPECT_EQ(error.Number, 0);
    EXPECT_EQ(error.Source, "");
    EXPECT_EQ(error.Description, "");
    EXPECT_EQ(error.HelpContext, 0);
  }

  db_->Open();
  EXPECT_TRUE(db_->TableNames().Empty());  // only Jet's own tables
  daotest::CreateTable(*db_->DaoDatabase(), "Zboží", {{"ID", dao::dbLong}});
  daotest::CreateTable(*db_->DaoDatabase(), "Second", {{"ID", dao::dbLong}});
  auto query = db_->DaoDatabase()->CreateQueryDef("Expensive", "SELECT * FROM Second");
  db_->RefreshDefinitions();
  EXPECT_EQ(db_->TableNames().Text(), "Second\r\nZboží\r\n");  // DAO's collection order
  EXPECT_EQ(db_->QueryDefNames().Text(), "Expensive\r\n");
  EXPECT_TRUE(db_->HasTable("SECOND"));
  EXPECT_EQ(db_->GetQueryDefSQL("Expensive").find("SELECT"), 0u);
  EXPECT_EQ(db_->GetQueryDefSQL("Missing"), "");

  db_->DeleteTable("second");
  EXPECT_EQ(db_->TableNames().Text(), "Zboží\r\n");
  EXPECT_EQ(OleErrorOf([&] { db_->DeleteTable("Nothing"); }), 3265);
  db_->GetLastDaoError(error);
  EXPECT_EQ(error.Number, 3265);
  EXPECT_EQ(error.Source, "DAO.TableDefs");

  // With refreshing switched off the names stay as they were.
  db_->SetDisableRefresh(true);
  db_->DeleteTable("Zboží");
  EXPECT_EQ(db_->TableNames().Text(), "Zboží\r\n");
  db_->SetDisableRefresh(false);
  db_->RefreshDefinitions();
  EXPECT_TRUE(db_->TableNames().Empty());
  db_->Idle();

  // The transaction log: nothing happens while it is empty; the newest entry is edited.
  db_->RecordTransactionItem("T", 1);
  EXPECT_EQ(db_->TransactionLevel(), 0);
  db_->TransactionLog().Add("A=1");
  db_->RecordTransactionItem("B", 2);
  db_->RecordTransactionItem("A", 5);
  EXPECT_EQ(db_->TransactionLog()[0], "A=5,B=2");
  db_->Close();
  EXPECT_EQ(db_->TransactionLevel(), 0);
}

// Writes the sort order into a database's header, as Access does for a database created with
// another collating order.
void SetHeaderSortOrder(const std::string& file, std::uint16_t lcid) {
  std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<std::uint8_t> page(jet::kJet4PageSize);
  f.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  jet::ToggleHeaderMask(page.data(), jet::JetVersion::kJet4);
  page[jet::HeaderLayout::kSortOrder] = static_cast<std::uint8_t>(lcid & 0xFF);
  page[jet::HeaderLayout::kSortOrder + 1] = static_cast<std::uint8_t>(lcid >> 8);
  jet::ToggleHeaderMask(page.data(), jet::JetVersion::kJet4);
  f.seekp(0);
  f.write(reinterpret_cast<const char*>(page.data()), static_cast<std::streamsize>(page.size()));
}

TEST_F(DatabaseComponent, DatabaseLanguageFromTheCollatingOrder) {
  EXPECT_EQ(db_->DatabaseLanguage(), "");
  db_->Open();
  EXPECT_EQ(db_->DatabaseLanguage(),
            "General (English, French, German, Portuguese, Italian, and Modern Spanish)");
  EXPECT_EQ(db_->CollatingOrderCode(), 1033);
  db_->Close();
  EXPECT_EQ(db_->DatabaseLanguage(), "");
  EXPECT_EQ(db_->CollatingOrderCode(), 0);

  SetHeaderSortOrder(file_, 1029);
  db_->Open();
  EXPECT_EQ(db_->DatabaseLanguage(), "Czech");
  db_->Close();

  struct Case {
    std::int32_t code;
    const char* name;
  };
  for (const Case& c :
       {Case{1045, "Polish"}, Case{1049, "Bulgarian or Russian"}, Case{2052, "Simplified Chinese"},
        Case{-1, "Undefined or unknown"}, Case{1031, ""}, Case{0, ""}})
    EXPECT_EQ(daodb::CollatingOrderName(c.code), c.name) << c.code;
}

TEST(DatabaseComponentFacts, SystemDatabaseAndMdbVersion) {
  auto machine = std::make_shared<platform::MemorySettingsStore>();
  machine->WriteValue("SOFTWARE\\Microsoft\\JET\\4.0\\Engines", "SystemDB",
                      platform::SettingsValue::String("/srv/system.mdw"));
  machine->WriteValue("SOFTWARE\\Microsoft\\JET\\3.5\\Engines", "SystemDB",
                      platform::SettingsValue::String("/old/system.mda"));
  auto previous = platform::InstallSettingsStore(platform::SettingsRoot::LocalMachine, machine);
  {
    auto db = LoadedDatabase();
    // Version 3.6 reads the 4.0 key.
    EXPECT_EQ(db->SystemDatabase(), "/srv/system.mdw");
    EXPECT_EQ(db->DBEngine()->SystemDB(), "/srv/system.mdw");
    db->SetSystemDatabase("/elsewhere/sys.mdw");
    EXPECT_EQ(db->DBEngine()->SystemDB(), "/elsewhere/sys.mdw");
    db->SetSystemDatabase("");
    EXPECT_EQ(db->SystemDatabase(), "/srv/system.mdw");

    // Only the 3.6 engine exists, so detecting the file's version never changes Version,
    // whatever the file; a file shorter than a header is left alone too.
    daotest::TempDir dir;
    std::ofstream(dir.Path("short.mdb")) << "tiny";
    std::ofstream(dir.Path("long.mdb")) << std::string(4096, 'x');
    db->DetectMdbVersion(dir.Path("short.mdb"));
    db->DetectMdbVersion(dir.Path("long.mdb"));
    EXPECT_EQ(db->Version(), "3.6");
  }
  machine->DeleteKey("SOFTWARE\\Microsoft\\JET\\4.0");
  {
    TMxDaoDatabase db;
    EXPECT_EQ(db.SystemDatabase(), "");
  }
  platform::InstallSettingsStore(platform::SettingsRoot::LocalMachine, previous);
}

TEST(DatabaseComponentFacts, OdbcListsFromUnixOdbcFiles) {
  daotest::TempDir dir;
  std::ofstream(dir.Path("odbcinst.ini")) << "[ODBC]\nTrace = No\n\n"
                                             "[PostgreSQL Unicode]\nDriver = psqlodbcw.so\n"
                                             "; a comment\n[MDBTools]\nDriver=libmdbodbc.so\n";
  std::ofstream(dir.Path("odbc.ini")) << "[Shop]\nDriver = MDBTools\nDatabase = /data/shop.mdb\n"
                                         "[Warehouse]\nDriver = PostgreSQL Unicode\n"
                                         "Servername = localhost\n";
  std::ofstream(dir.Path("user.ini")) << "[Mine]\nDriver=MDBTools\nDBQ=/home/me/mine.mdb\n"
                                         "[NoFile]\nDriver=MDBTools\n";
  daodb::SetOdbcFiles({dir.Path("odbcinst.ini"), dir.Path("odbc.ini"), dir.Path("user.ini")});
  {
    TMxDaoDatabase db;
    EXPECT_EQ(db.OdbcDrivers().Text(), "PostgreSQL Unicode\r\nMDBTools\r\n");
    EXPECT_EQ(db.SystemDsns().Text(), "Shop\r\nWarehouse\r\n");
    EXPECT_EQ(db.UserDsns().Text(), "Mine\r\nNoFile\r\n");
    EXPECT_EQ(db.DsnDatabaseFiles().Text(), "Mine=/home/me/mine.mdb\r\nShop=/data/shop.mdb\r\n");
  }
  daodb::SetOdbcFiles({dir.Path("none1"), dir.Path("none2"), dir.Path("none3")});
  {
    TMxDaoDatabase db;
    EXPECT_TRUE(db.OdbcDrivers().Empty() && db.SystemDsns().Empty() && db.UserDsns().Empty() &&
                db.DsnDatabaseFiles().Empty());
  }
  daodb::SetOdbcFiles({});
}

// ---- Tables built through CreateTable and the table manager

core::Variant Array(std::vector<core::Variant> values) {
  return core::Variant::FromArray(std::move(values));
}
core::Variant Longs(std::initializer_list<std::int32_t> values) {
  std::vector<core::Variant> out;
  for (auto v : values) out.push_back(core::Variant::FromLong(v));
  return Array(std::move(out));
}
core::Variant Texts(std::initializer_list<const char*> values) {
  std::vector<core::Variant> out;
  for (auto v : values) out.push_back(core::Variant::FromString(v));
  return Array(std::move(out));
}

// What mdb-schema prints for a table (PostgreSQL dialect, with indexes and NOT NULL).
std::string MdbSchema(const std::string& file, const std::string& table) {
  return daotest::Run("mdb-schema --indexes --not-null -T '" + table + "' '" + file +
                      "' postgres 2>/dev/null");
}

void ExpectCleanCheck(const std::string& file) {
  auto db = jet::Database::Open(file, jet::OpenOptions{.read_only = true});
  jet::CheckReport report = jet::CheckDatabase(*db);
  EXPECT_TRUE(report.problems.empty()) << (report.problems.empty() ? "" : report.problems[0]);
}

TEST_F(DatabaseComponent, CreateTableRefusesBeforeAnyDaoCall) {
  auto empty = Array({});
  EXPECT_EQ(DatabaseErrorOf([&] { db_->CreateTable("T", empty, empty, empty, empty, empty); }),
            "TMxDaoDatabase.CreateTable: Cannot create table while Database is NOT connected!");
  db_->Open();
  EXPECT_EQ(DatabaseErrorOf([&] { db_->CreateTable("", empty, empty, empty, empty, empty); }),
            "TMxDaoDatabase.CreateTable: TableName parameter is empty!");
  // A failure before the append leaves the database as it was.
  EXPECT_NE(OleErrorOf([&] {
              db_->CreateTable("Bad", Texts({"A"}), Longs({daodb::NoDaoType}), Longs({0}),
                               Longs({0}), Longs({0}));
            }),
            0);
  EXPECT_TRUE(db_->TableNames().Empty());
}

TEST_F(DatabaseComponent, CreateTableFromTheFiveArrays) {
  db_->Open();
  using ds::TFieldType;
  // Field types as the table manager maps them from framework types.
  const TFieldType kinds[] = {TFieldType::ftAutoInc, TFieldType::ftString,   TFieldType::ftInteger,
                              TFieldType::ftBytes,   TFieldType::ftVarBytes, TFieldType::ftFloat};
  std::vector<core::Variant> types, sizes;
  const int def_sizes[] = {0, 20, 0, 16, 30, 0};
  for (int i = 0; i < 6; ++i) {
    int code = daodb::FieldTypeToDaoType(kinds[i]);
    types.push_back(core::Variant::FromLong(code));
    sizes.push_back(core::Variant::FromLong(daodb::DaoFieldSize(code, def_sizes[i])));
  }
  ASSERT_TRUE(db_->CreateTable("Goods", Texts({"ID", "NAME", "QTY", "TAG", "NOTE", "PRICE"}),
                               Array(types), Array(sizes), Longs({1, 2, 4, 0, 0, 1}),
                               Longs({0, 1, 0, 0, 0, 1})));
  EXPECT_EQ(db_->TableNames().Text(), "Goods\r\n");

  auto td = db_->DaoDatabase()->TableDefs().Item("Goods");
  struct Expected {
    const char* name;
    int type;
    std::int32_t size;
    bool auto_increment;
    bool required;
  };
  const Expected fields[] = {
      {"ID", dao::dbLong, 4, true, false},    {"NAME", dao::dbText, 20, false, true},
      {"QTY", dao::dbLong, 4, false, false},  {"TAG", dao::dbGUID, 16, false, false},
      {"NOTE", dao::dbMemo, 0, false, false}, {"PRICE", dao::dbDouble, 8, false, true}};
  for (const Expected& e : fields) {
    SCOPED_TRACE(e.name);
    auto f = td->Fields().Item(e.name);
    EXPECT_EQ(f->Type(), e.type);
    EXPECT_EQ(f->Size(), e.size);
    EXPECT_EQ((f->Attributes() & dao::dbAutoIncrField) != 0, e.auto_increment);
    EXPECT_EQ(f->Required(), e.required);
  }
  // The primary key over the flagged fields in field order, then one index per flagged field.
  ASSERT_EQ(td->Indexes().Count(), 3);
  auto pk = td->Indexes().Item("PrimaryKey");
  EXPECT_TRUE(pk->Primary());
  ASSERT_EQ(pk->Fields().Count(), 2);
  EXPECT_EQ(pk->Fields().Item(0)->Name(), "ID");
  EXPECT_EQ(pk->Fields().Item(1)->Name(), "PRICE");
  EXPECT_TRUE(td->Indexes().Item("NAME")->Unique());
  EXPECT_FALSE(td->Indexes().Item("QTY")->Unique());
  db_->Close();

  ExpectCleanCheck(file_);
  if (daotest::HaveMdbTools()) {
    std::string schema = MdbSchema(file_, "Goods");
    EXPECT_NE(schema.find("\"name\"\t\t\tVARCHAR (20) NOT NULL"), std::string::npos) << schema;
    EXPECT_NE(schema.find("PRIMARY KEY (\"id\", \"price\")"), std::string::npos) << schema;
    EXPECT_NE(schema.find("CREATE UNIQUE INDEX \"goods_name_idx\""), std::string::npos) << schema;
    EXPECT_NE(schema.find("CREATE INDEX \"goods_qty_idx\""), std::string::npos) << schema;
  }
  if (daotest::HaveMdbReader()) {
    EXPECT_EQ(daotest::MdbReaderTables(file_), std::vector<std::string>{"Goods"});
    EXPECT_EQ(daotest::Run("node '" + std::string(DATOVRAT_SOURCE_DIR) +
                           "/tests/daodb/mdb_reader_columns.mjs' '" + file_ + "' Goods"),
              "ID long 4\nNAME text 40\nQTY long 4\nTAG repid 16\nNOTE memo 0\nPRICE double 8\n");
  }
}

TEST(TableManager, CheckReadyMessages) {
  TMxDaoTableManager no_database(nullptr);
  EXPECT_EQ(DatabaseErrorOf([&] { no_database.CheckReady(); }), "Database property not set!");
  auto db = LoadedDatabase();
  TMxDaoTableManager manager(db.get());
  EXPECT_EQ(DatabaseErrorOf([&] { manager.BuildTable(); }), "Database is not connected!");
  daotest::TempDir dir;
  db->CreateAccessDatabase(dir.Path("a.mdb"));
  db->SetDatabase(dir.Path("a.mdb"));
  db->Open();
  EXPECT_EQ(DatabaseErrorOf([&] { manager.BuildTable(); }), "Missing TableName!");
  manager.TableName = "T";
  EXPECT_TRUE(manager.CheckReady());
}

TEST(TableManager, SplitFieldListAndPrimaryIndexName) {
  ds::TStringList list;
  TMxDaoTableManager::SplitFieldList("A ; B;  C D  ", list);
  EXPECT_EQ(list.Text(), "A\r\nB\r\nC D\r\n");
  EXPECT_TRUE(TMxDaoDatabase::IsParadoxType("Paradox 5.x"));
  EXPECT_TRUE(TMxDaoDatabase::IsParadoxType("PARADOX 3.X"));
  EXPECT_FALSE(TMxDaoDatabase::IsParadoxType("Access"));
}

TEST_F(DatabaseComponent, TableManagerBuildsFieldsThenIndexes) {
  db_->Open();
  {
    TMxDaoTableManager manager(db_.get());
    manager.TableName = "People";
    manager.FieldDefs().Add("ID", ds::ftInteger, 0, true);
    manager.FieldDefs().Add("NAME", ds::ftString, 40, true);
    manager.FieldDefs().Add("CITY", ds::ftString, 30);
    manager.FieldDefs().Add("BORN", ds::ftDateTime);
    manager.FieldDefs().Add("CODE", ds::ftString, 10);
    // Primary and unique, so also one of the "other" indexes: named like the primary key, it
    // is created once, as the primary key.
    manager.IndexDefs().Add("PK", "ID", {ds::ixPrimary, ds::ixUnique});
    manager.IndexDefs().Add("NAME", "NAME", {});
    manager.IndexDefs().Add("ByCity", "CITY ; BORN", {ds::ixUnique});
    manager.IndexDefs().Add("Desc", "BORN", {ds::ixDescending});
    manager.IndexDefs().Add("", "CODE", {});
    manager.BuildTable();
  }
  {
    TMxDaoTableManager manager(db_.get());
    manager.TableName = "Pair";
    manager.FieldDefs().Add("ID", ds::ftAutoInc);
    manager.FieldDefs().Add("NAME", ds::ftString, 10);
    manager.IndexDefs().Add("ID", "ID", {ds::ixPrimary});
    manager.IndexDefs().Add("NAME", "NAME", {});
    manager.BuildTable();
    auto pair = db_->DaoDatabase()->TableDefs().Item("Pair");
    ASSERT_EQ(pair->Indexes().Count(), 2);
    EXPECT_TRUE(pair->Indexes().Item("ID")->Primary());
    EXPECT_EQ(pair->Indexes().Item("ID")->Fields().Item(0)->Name(), "ID");
    EXPECT_FALSE(pair->Indexes().Item("NAME")->Unique());
    EXPECT_FALSE(pair->Indexes().Item("NAME")->Primary());
  }
  {
    // A table without index definitions gets none.
    TMxDaoTableManager manager(db_.get());
    manager.TableName = "Plain";
    manager.FieldDefs().Add("A", ds::ftString, 5);
    manager.BuildTable();
  }
  EXPECT_EQ(db_->TableNames().Text(), "Pair\r\nPeople\r\nPlain\r\n");
  auto td = db_->DaoDatabase()->TableDefs().Item("People");
  std::vector<std::string> names;
  for (int i = 0; i < td->Indexes().Count(); ++i) names.push_back(td->Indexes().Item(i)->Name());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"ByCity", "CODE", "NAME", "PK"}));
  EXPECT_TRUE(td->Indexes().Item("PK")->Primary());
  EXPECT_FALSE(td->Indexes().Item("NAME")->Unique());
  EXPECT_TRUE(td->Indexes().Item("ByCity")->Unique());
  EXPECT_EQ(td->Indexes().Item("ByCity")->Fields().Count(), 2);
  EXPECT_TRUE(td->Fields().Item("NAME")->Required());
  EXPECT_FALSE(td->Fields().Item("CITY")->Required());
  EXPECT_EQ(db_->DaoDatabase()->TableDefs().Item("Plain")->Indexes().Count(), 0);

  // Rows go in and the indexes hold them.
  auto rs = db_->DaoDatabase()->OpenRecordset("People", dao::dbOpenDynaset);
  for (int i = 1; i <= 3; ++i) {
    rs->AddNew();
    rs->Fields().Item("ID")->SetValue(core::Variant::FromLong(i));
    rs->Fields().Item("NAME")->SetValue(core::Variant::FromString("Jméno " + std::to_string(i)));
    rs->Fields().Item("CITY")->SetValue(core::Variant::FromString("Brno"));
    rs->Fields().Item("BORN")->SetValue(core::Variant::FromDate(30000.0 + i));
    rs->Update();
  }
  rs->AddNew();
  rs->Fields().Item("ID")->SetValue(core::Variant::FromLong(1));
  rs->Fields().Item("NAME")->SetValue(core::Variant::FromString("again"));
  EXPECT_EQ(OleErrorOf([&] { rs->Update(); }), 3022);
  rs->CancelUpdate();
  rs->Close();
  db_->Close();

  ExpectCleanCheck(file_);
  if (daotest::HaveMdbTools()) {
    std::string schema = MdbSchema(file_, "People");
    EXPECT_NE(schema.find("PRIMARY KEY (\"id\")"), std::string::npos) << schema;
    EXPECT_NE(schema.find("\"name\"\t\t\tVARCHAR (40) NOT NULL"), std::string::npos) << schema;
    EXPECT_NE(schema.find("CREATE UNIQUE INDEX \"people_bycity_idx\" ON \"people\" (\"city\", "
                          "\"born\")"),
              std::string::npos)
        << schema;
    EXPECT_NE(schema.find("CREATE INDEX \"people_name_idx\""), std::string::npos) << schema;
    auto rows = daotest::MdbExport(file_, "People");
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2][1], "Jméno 2");
  }
  if (daotest::HaveMdbReader()) {
    auto rows = daotest::MdbReaderRows(file_, "People");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[0].find("Jméno 1"), std::string::npos);
  }
}

}  // namespace

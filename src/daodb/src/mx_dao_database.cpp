// TMxDaoDatabase: properties, engine and workspace, connecting and disconnecting, and the file
// and schema operations. Table creation is in create_table.cpp, the engine facts (versions,
// database types, ODBC lists, the sort-order language) in engine_facts.cpp.
#include "daodb/mx_dao_database.h"

#include <mutex>
#include <utility>

#include "core/errors.h"
#include "platform/com.h"
#include "platform/hooks.h"
#include "platform/system.h"

namespace daodb {

namespace {

constexpr const char* kLoginDeclined =
    "If You not enter Username and Password You may not gain access to your data!";

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool StartsWithText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

std::string& ProgramDirectoryOverride() {
  static std::string directory;
  return directory;
}

}  // namespace

std::shared_ptr<dao::DBEngine> SharedDaoEngine() {
  // DAO hands every caller the same engine while anybody holds it, and a fresh one after the
  // last reference went away.
  static std::mutex mutex;
  static std::weak_ptr<dao::DBEngine> shared;
  std::lock_guard lock(mutex);
  auto engine = shared.lock();
  if (!engine) {
    engine = dao::DBEngine::Create();
    shared = engine;
  }
  return engine;
}

// ---- Construction and destruction

TMxDaoDatabase::TMxDaoDatabase(ds::TComponent* owner) : ds::TComponent(owner) {
  FComponentVersion = "7.20";
  InitCom();
  FPrivateEngine = false;
  DetectEngineVersions();
  FVersion = "3.6";
  CreateEngine();
  FSystemDatabase = GetDefaultSystemDatabase();
  if (!FSystemDatabase.empty()) F_DBEngine->SetSystemDB(FSystemDatabase);
  FUserName = "Admin";
  FPassword.clear();
  FDatabasePassword.clear();
  FDatabaseParameters.clear();
  FSaveUserName = true;
  FSmartOpen = true;
  F_DBEngine->SetDefaultUser("Admin");
  F_DBEngine->SetDefaultPassword("");
  FEngineType = 2;
  F_DBEngine->SetDefaultType(2);
  FDefaultCursorDriver = -1;
  FWorkspace = "DaoWorkspace";
  FVersionDetails = F_DBEngine->Version();
  FVersionInfo.clear();
  FDatabaseVersionInfo.clear();
  SetVersionInfoFromDetails();
  FDatabaseType = "Access";
  FConnected = false;
  FDatabase.clear();
  FReadOnly = FExclusive = FLoginPrompt = FMdbVersionAutoDetect = false;
  FQueryTimeout = 60;
  FTrackTransactions = true;
  FUseODBCDialog = true;
  FillDatabaseTypes();
  FillOdbcLists();
}

TMxDaoDatabase::~TMxDaoDatabase() {
  if (FConnected) {
    try {
      Disconnect();
    } catch (...) {
      // A destructor cannot report; the engine has rolled back what it could not finish.
    }
  }
  if (FDaoWorkspace) {
    try {
      FDaoWorkspace->Close();
    } catch (...) {
    }
  }
  FDaoDatabase.reset();
  FDaoWorkspace.reset();
  F_DBEngine.reset();
  if (FComInitialized) platform::CoUninitialize();
}

void TMxDaoDatabase::Loaded() {
  ds::TComponent::Loaded();
  if (!FConnected) {
    try {
      ReinitEngine();
    } catch (...) {
      // A broken stored setting leaves no workspace; the first connect rebuilds and reports.
    }
  }
}

void TMxDaoDatabase::InitCom() {
  platform::HResult result = platform::CoInitialize();
  if (result != platform::kSOk && result != platform::kSFalse)
    core::DatabaseError("Unable to init OLE objects!");
  FComInitialized = true;
}

// ---- Engine and workspace

void TMxDaoDatabase::CreateEngine() {
  F_DBEngine.reset();
  try {
    F_DBEngine = FPrivateEngine ? dao::DBEngine::Create() : SharedDaoEngine();
  } catch (const std::exception& e) {
    core::DatabaseError(e.what());
  }
}

void TMxDaoDatabase::SetVersionInfoFromDetails() {
  if (FVersionDetails.size() < 3) return;
  if (FVersionDetails[2] == '5')
    FVersionInfo = "(In Access'97 mode)";
  else if (FVersionDetails[2] == '6')
    FVersionInfo = "(In Access'2000 mode)";
}

void TMxDaoDatabase::ReinitEngine() {
  if (FDaoWorkspace) {
    auto workspace = std::move(FDaoWorkspace);
    FDaoWorkspace.reset();
    F_DBEngine.reset();
    workspace->Close();
  }
  F_DBEngine.reset();
  if (FComInitialized) {
    platform::CoUninitialize();
    FComInitialized = false;
  }
  InitCom();
  CreateEngine();
  F_DBEngine->SetSystemDB(FSystemDatabase);
  FVersionDetails = F_DBEngine->Version();
  SetVersionInfoFromDetails();
  F_DBEngine->SetDefaultUser(FUserName);
  F_DBEngine->SetDefaultPassword(FPassword);
  auto workspace = F_DBEngine->CreateWorkspace(FWorkspace, FUserName, FPassword, FEngineType);
  F_DBEngine->Workspaces().Append(workspace);
  FDaoWorkspace = workspace;
  if (FEngineType == 1) FDaoWorkspace->SetDefaultCursorDriver(FDefaultCursorDriver);
  FWorkspace = FDaoWorkspace->Name();
}

template <typename T>
void TMxDaoDatabase::RebuildRestoring(T& member, T old) {
  if (ComponentState().Contains(ds::csLoading)) return;
  try {
    ReinitEngine();
  } catch (...) {
    std::exception_ptr first = std::current_exception();
    member = std::move(old);
    try {
      ReinitEngine();
    } catch (...) {
      // The first error is the one the caller needs to see.
    }
    std::rethrow_exception(first);
  }
}

void TMxDaoDatabase::RebuildIgnoringErrors() {
  if (ComponentState().Contains(ds::csLoading)) return;
  try {
    ReinitEngine();
  } catch (...) {
  }
}

// ---- Setters

void TMxDaoDatabase::RefuseWhileConnected(const char* message) const {
  if (FConnected) core::DatabaseError(message);
}

void TMxDaoDatabase::F_Set_Exclusive(bool value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_Exclusive: Cannot change Exclusive mode while Database is "
      "connected!");
  FExclusive = value;
}

void TMxDaoDatabase::F_Set_DatabaseType(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_DatabaseType: Cannot set Database Type while Database is connected!");
  FDatabase.clear();
  FDatabaseType = value;
}

void TMxDaoDatabase::F_Set_Database(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_Database: Cannot set Database while Database is connected!");
  FDatabase = value;
}

void TMxDaoDatabase::F_Set_DatabaseParameters(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_DatabaseParameters: Cannot set DatabaseParameters while Database is "
      "connected!");
  FDatabaseParameters = value;
}

void TMxDaoDatabase::F_Set_ReadOnly(bool value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_ReadOnly: Cannot change mode while Database is connected!");
  FReadOnly = value;
  if (value) {
    for (int i = 0; i < FActiveTables.Count(); ++i)
      if (auto* table = static_cast<TMxDaoActiveTable*>(FActiveTables.Objects(i)))
        table->SetReadOnly(true);
  }
}

void TMxDaoDatabase::F_Set_LoginPrompt(bool value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_LoginPrompt: Cannot change LoginPrompt while Database is connected!");
  FLoginPrompt = value;
}

void TMxDaoDatabase::F_Set_UserName(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_UserName: Cannot change User Name while Database is connected!");
  FUserName = value;
  RebuildIgnoringErrors();
}

void TMxDaoDatabase::F_Set_Password(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_Password: Cannot change Password while Database is connected!");
  FPassword = value;
  RebuildIgnoringErrors();
}

void TMxDaoDatabase::F_Set_DatabasePassword(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_DatabasePassword: Cannot change Database Password while Database is "
      "connected!");
  FDatabasePassword = value;
}

void TMxDaoDatabase::F_Set_SystemDatabase(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_SystemDatabase: Cannot set SystemDatabase while Database is "
      "connected!");
  std::string old = FSystemDatabase;
  FSystemDatabase = value.empty() ? GetDefaultSystemDatabase() : value;
  RebuildRestoring(FSystemDatabase, std::move(old));
}

void TMxDaoDatabase::F_Set_EngineType(int value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_EngineType: Cannot set EngineType Type while Database is connected!");
  int old = FEngineType;
  FEngineType = value;
  RebuildRestoring(FEngineType, old);
}

void TMxDaoDatabase::F_Set_PrivateEngine(bool value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_EngineType: Cannot set PrivateEngine Type while Database is "
      "connected!");
  bool old = FPrivateEngine;
  FPrivateEngine = value;
  RebuildRestoring(FPrivateEngine, old);
}

void TMxDaoDatabase::SetTrackTransactions(bool value) {
  RefuseWhileConnected("Cannot set TrackTransactions property when Database is connected!");
  FTrackTransactions = value;
}

void TMxDaoDatabase::SetVersion(const std::string&) {
  if (F_DBEngine) FVersionDetails = F_DBEngine->Version();
}

void TMxDaoDatabase::F_Set_Workspace(const std::string& value) {
  RefuseWhileConnected(
      "TMxDaoDatabase.F_Set_Workspace: Cannot set Workspace while Database is connected!");
  std::string old = FWorkspace;
  FWorkspace = value;
  RebuildRestoring(FWorkspace, std::move(old));
}

void TMxDaoDatabase::SetDefaultCursorDriver(int value) {
  FDefaultCursorDriver = value;
  if (!ComponentState().Contains(ds::csLoading) && FEngineType == 1 && FDaoWorkspace)
    FDaoWorkspace->SetDefaultCursorDriver(value);
}

// ---- Connecting

void TMxDaoDatabase::F_Set_Active(bool value) {
  if (FConnected && value) return;
  if (value && FDatabase.empty())
    core::DatabaseError("TMxDaoDatabase.F_Set_Active: Database property is not defined!");
  if (value && FDatabaseType.empty())
    core::DatabaseError("TMxDaoDatabase.F_Set_Active: DatabaseType property is not defined!");
  if (FConnected && !value)
    Disconnect();
  else if (!FConnected && value)
    Connect();
}

void TMxDaoDatabase::Disconnect() {
  if (OnBeforeDisconnect) OnBeforeDisconnect(this);
  FTableNames.Clear();
  FQueryDefNames.Clear();
  CloseActiveTables();
  FActiveTables.Clear();
  try {
    if (FDaoDatabase) FDaoDatabase->Close();
  } catch (...) {
    // Closing writes what is still pending; when that fails the database object is gone all
    // the same, so the component is disconnected and the error reaches the caller.
    FTransactionLog.Clear();
    FConnected = false;
    throw;
  }
  FTransactionLog.Clear();
  FConnected = false;
  if (OnAfterDisconnect) OnAfterDisconnect(this);
}

void TMxDaoDatabase::CloseActiveTables() {
  for (int i = 0; i < FActiveTables.Count(); ++i) {
    try {
      if (auto* table = static_cast<TMxDaoActiveTable*>(FActiveTables.Objects(i))) {
        table->SetClosingByDatabase(true);
        table->ActiveDataSet().SetActive(false);
      }
    } catch (...) {
      // One table that fails to close must not keep the others open.
    }
  }
}

bool TMxDaoDatabase::AskLogin() {
  if (OnLogin) {
    ExchangeLoginParams();
    return true;
  }
  platform::LoginRequest request;
  request.database_name = FDatabase;
  request.user_name = FSaveUserName ? FUserName : std::string();
  if (platform::PromptLogin(request)) {
    FUserName = request.user_name;
    FPassword = request.password;
    FDatabasePassword = request.database_password;
    return true;
  }
  platform::ShowMessage(kLoginDeclined);
  FUserName.clear();
  FPassword.clear();
  FDatabasePassword.clear();
  return false;
}

void TMxDaoDatabase::ExchangeLoginParams() {
  ds::TStringList params;
  params.Add("USER NAME=" + FUserName);
  params.Add("PASSWORD=" + FPassword);
  params.Add("DBPASSWORD=" + FDatabasePassword);
  OnLogin(this, params);
  FUserName = params.Values("USER NAME");
  FPassword = params.Values("PASSWORD");
  FDatabasePassword = params.Values("DBPASSWORD");
}

void TMxDaoDatabase::Connect() {
  if (OnBeforeConnect) OnBeforeConnect(this);
  for (;;) {
    bool cancelled = false;
    if (FLoginPrompt)
      cancelled = !AskLogin();
    else if (OnLogin)
      ExchangeLoginParams();
    try {
      if (FMdbVersionAutoDetect) DetectMdbVersion(FDatabase);
      ReinitEngine();
      break;
    } catch (const std::exception& e) {
      if (!FLoginPrompt) throw;
      if (cancelled) return;
      platform::ShowMessage(e.what());
    }
  }
  OpenDaoDatabase();
  if (FQueryTimeout != 60) FDaoDatabase->SetQueryTimeout(FQueryTimeout);
  if (FDatabaseType != "ODBC") FDatabaseVersionInfo = FDaoDatabase->Version();
  RefreshDefinitions();
  FConnected = true;
  Idle();
  if (OnAfterConnect) OnAfterConnect(this);
}

void TMxDaoDatabase::OpenDaoDatabase() {
  if (!FDaoWorkspace) core::DatabaseError("TMxDaoDatabase.F_Set_Active: no workspace!");
  if (SameText(FDatabaseType, "Access") && FEngineType == 2 && FSmartOpen &&
      !platform::FileExists(FDatabase)) {
    std::size_t slash = FDatabase.find_last_of("/\\");
    FDatabase =
        ProgramDirectory() + (slash == std::string::npos ? FDatabase : FDatabase.substr(slash + 1));
  }
  OpenArguments args = DaoOpenArguments();
  FDaoDatabase = FDaoWorkspace->OpenDatabase(args.name, args.options, args.read_only, args.connect);
}

TMxDaoDatabase::OpenArguments TMxDaoDatabase::DaoOpenArguments() const {
  OpenArguments args;
  args.name = FDatabase;
  args.read_only = FReadOnly;
  if (SameText(FDatabaseType, "Access")) {
    if (FEngineType != 2)
      core::DatabaseError(
          "TMxDaoDatabase.F_Set_Active: ODBC direct workspaces\r\nare NOT supported for MS "
          "Access Databases!");
    args.options = FExclusive;
    args.connect = ";UID=" + FUserName + ";PWD=" + FDatabasePassword + ";" + FDatabaseParameters;
  } else if (SameText(FDatabaseType, "ODBC")) {
    if (FEngineType != 2)
      core::DatabaseError(
          "TMxDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported when DYNADAO is "
          "disabled!");
    // DAO's "no driver prompt" option for ODBC (1) takes the place of the exclusive switch.
    args.options = true;
    if (StartsWithText(FDatabase, "odbc;"))
      args.connect = FDatabase + ";" + FDatabaseParameters;
    else
      args.connect = FDatabaseType + ";UID=" + FUserName + ";PWD=" + FPassword +
                     ";DSN=" + FDatabase + ";" + FDatabaseParameters;
  } else {
    if (FEngineType != 2)
      core::DatabaseError("TMxDaoDatabase.F_Set_Active: ODBC direct workspaces NOT supported!");
    args.options = FExclusive;
    if (FPassword.empty() || FUserName.empty())
      args.connect = FDatabaseType + ";" + FDatabaseParameters;
    else
      args.connect =
          FDatabaseType + ";UID=" + FUserName + ";PWD=" + FPassword + ";" + FDatabaseParameters;
  }
  return args;
}

bool TMxDaoDatabase::IsParadoxType(const std::string& database_type) {
  std::string lower = database_type;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return lower.find("paradox") != std::string::npos;
}

void TMxDaoDatabase::SetProgramDirectory(std::string directory) {
  ProgramDirectoryOverride() = std::move(directory);
}

std::string TMxDaoDatabase::ProgramDirectory() {
  std::string dir = ProgramDirectoryOverride();
  if (dir.empty()) dir = platform::ProgramDirectory();
  if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
  return dir;
}

// ---- File and schema operations

void TMxDaoDatabase::CreateAccessDatabase(const std::string& file_name) {
  if (!FDaoWorkspace)
    core::DatabaseError(
        "TMxDaoDatabase.CreateAccessDatabase: Cannot create a database without a workspace!");
  std::string locale = ";LANGID=0x0409;CP=1252;COUNTRY=0";
  auto created = FDaoWorkspace->CreateDatabase(file_name, locale, 64);
  // Closing (rather than only letting go) makes a failure to write the new file an error here.
  created->Close();
}

void TMxDaoDatabase::DeleteTable(const std::string& table_name) {
  if (!FDaoDatabase)
    core::DatabaseError(
        "TMxDaoDatabase.DeleteTable: Cannot delete table while Database is NOT "
        "connected!");
  RefreshDefinitions();
  FDaoDatabase->TableDefs().Delete(table_name);
  RefreshDefinitions();
}

void TMxDaoDatabase::RefreshDefinitions() {
  if (FDisableRefresh) return;
  FTableNames.Clear();
  FQueryDefNames.Clear();
  if (!FDaoDatabase) return;
  auto guarded = [](auto&& refresh) {
    try {
      refresh();
    } catch (...) {
    }
  };
  dao::Database& db = *FDaoDatabase;
  if (FEngineType == 2) guarded([&] { db.TableDefs().Refresh(); });
  guarded([&] { db.QueryDefs().Refresh(); });
  if (FDatabaseType == "Access") {
    guarded([&] { db.Containers().Refresh(); });
    guarded([&] { db.Relations().Refresh(); });
  }
  guarded([&] { db.Recordsets().Refresh(); });
  if (FEngineType == 2) guarded([&] { db.Properties().Refresh(); });
  if (F_DBEngine) {
    guarded([&] { F_DBEngine->Errors().Refresh(); });
    guarded([&] { F_DBEngine->Workspaces().Refresh(); });
    guarded([&] { F_DBEngine->Properties().Refresh(); });
  }
  if (FDaoWorkspace) {
    if (FEngineType == 2) {
      guarded([&] { FDaoWorkspace->Users().Refresh(); });
      guarded([&] { FDaoWorkspace->Groups().Refresh(); });
    }
    guarded([&] { FDaoWorkspace->Databases().Refresh(); });
    guarded([&] { FDaoWorkspace->Properties().Refresh(); });
  }
  if (FEngineType == 2) {
    try {
      dao::TableDefs& tables = db.TableDefs();
      int count = tables.Count();
      for (int i = 0; i < count; ++i) {
        auto table = tables.Item(i);
        auto attributes = static_cast<std::uint32_t>(table->Attributes());
        if ((attributes & 0x80000002u) == 0) FTableNames.Add(table->Name());
      }
    } catch (...) {
      // The list stays as far as it got.
    }
  }
  try {
    dao::QueryDefs& queries = db.QueryDefs();
    int count = queries.Count();
    for (int i = 0; i < count; ++i) FQueryDefNames.Add(queries.Item(i)->Name());
  } catch (...) {
  }
}

std::string TMxDaoDatabase::GetQueryDefSQL(const std::string& query_def_name) {
  try {
    if (!FDaoDatabase) return {};
    return FDaoDatabase->QueryDefs().Item(query_def_name)->SQL();
  } catch (...) {
    return {};
  }
}

void TMxDaoDatabase::Idle() {
  if (!F_DBEngine) return;
  F_DBEngine->Idle(dao::dbFreeLocks);
  F_DBEngine->Idle(dao::dbRefreshCache);
}

void TMxDaoDatabase::GetLastDaoError(TDaoErrRec& error) const {
  error = TDaoErrRec{};
  if (!F_DBEngine) return;
  dao::Errors& errors = F_DBEngine->Errors();
  if (errors.Count() == 0) return;
  const dao::Error& first = errors.Item(0);
  error.Number = first.Number;
  error.Source = first.Source;
  error.Description = first.Description;
  error.HelpFile = first.HelpFile;
  error.HelpContext = first.HelpContext;
}

void TMxDaoDatabase::RecordTransactionItem(const std::string& name, int value) {
  if (FTransactionLog.Empty()) return;
  try {
    int last = FTransactionLog.Count() - 1;
    ds::TStringList pairs;
    pairs.SetCommaText(FTransactionLog.Strings(last));
    int at = pairs.IndexOfName(name);
    if (at >= 0)
      pairs.SetStrings(at, name + "=" + std::to_string(value));
    else
      pairs.Add(name + "=" + std::to_string(value));
    FTransactionLog.SetStrings(last, pairs.CommaText());
  } catch (...) {
  }
}

}  // namespace daodb

// TMxDaoDatabase: the connection component of the DAO component family, and the table manager
// that turns free-standing field and index definitions into a new table.
//
// One component owns one DAO engine (the process's shared one, or a private one), one workspace
// made in it, and at most one open DAO database. Table components point at it, ask it for the
// open database, register themselves in ActiveTables while open and are closed by it when it
// disconnects. Everything that reaches the user (the login prompt, a plain message) goes
// through the platform hooks; this layer uses no Qt.
//
// Errors: our own refusals are core::EDatabaseError with the component's texts; DAO failures
// pass through as core::EOleException (DBEngine.Errors holds them, GetLastDaoError reads the
// first).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/variant.h"
#include "dao/dao.h"
#include "dataset/classes.h"
#include "dataset/db.h"

namespace daotable {
class TDummyDataset;
}

namespace daodb {

class TMxDaoDatabase;

// What a table component offers the database it is registered with. The database closes its
// tables through this when it disconnects and passes its read-only switch on to them.
class TMxDaoActiveTable {
 public:
  virtual ~TMxDaoActiveTable() = default;
  // Set before the database deactivates the table, so that the table leaves ActiveTables alone.
  virtual void SetClosingByDatabase(bool value) = 0;
  virtual void SetReadOnly(bool value) = 0;
  virtual ds::TDataSet& ActiveDataSet() = 0;
};

// The record GetLastDaoError fills: the first entry of DBEngine.Errors.
struct TDaoErrRec {
  std::int32_t Number = 0;
  std::string Source;
  std::string Description;
  std::string HelpFile;
  std::int32_t HelpContext = 0;
};

using TLoginEvent = std::function<void(TMxDaoDatabase* database, ds::TStringList& login_params)>;
using TConnectEvent = std::function<void(TMxDaoDatabase* database)>;
// Consulted by the table manager for every field it is about to create, with the DAO type code
// (or AutoIncrementMarker) and size the plain mapping gives; the handler may change both. A
// caller that knows more about its fields than their framework type (the copy, which keeps
// binary and long values whole) sets it.
using TMapFieldEvent = std::function<void(TMxDaoDatabase* database, const ds::TFieldDef& def,
                                          int& dao_type, int& size)>;

// DAO's collating-order codes to the names DatabaseLanguage reports; empty for other codes.
std::string CollatingOrderName(std::int32_t code);

// The process's shared DAO engine (the one every component without PrivateEngine uses).
std::shared_ptr<dao::DBEngine> SharedDaoEngine();

// Where the ODBC lists are read from: unixODBC's driver file, the machine's and the user's
// data-source files. Tests point these at temporary files; an empty text goes back to the
// default (/etc/odbcinst.ini, /etc/odbc.ini, ~/.odbc.ini, or $ODBCSYSINI / $ODBCINI).
struct OdbcFiles {
  std::string drivers;
  std::string system_dsns;
  std::string user_dsns;
};
void SetOdbcFiles(OdbcFiles files);
OdbcFiles CurrentOdbcFiles();

class TMxDaoDatabase : public ds::TComponent {
 public:
  explicit TMxDaoDatabase(ds::TComponent* owner = nullptr);
  ~TMxDaoDatabase() override;

  void Loaded() override;

  // --- Published properties
  const std::string& ComponentVersion() const { return FComponentVersion; }
  void SetComponentVersion(const std::string&) {}
  bool Exclusive() const { return FExclusive; }
  void F_Set_Exclusive(bool value);
  void SetExclusive(bool value) { F_Set_Exclusive(value); }
  // Read from the open database (the collating order) each time.
  std::string DatabaseLanguage();
  void SetDatabaseLanguage(const std::string& value) { FDatabaseLanguage = value; }
  std::int32_t CollatingOrderCode() const { return FCollatingOrder; }
  const std::string& DatabaseType() const { return FDatabaseType; }
  void F_Set_DatabaseType(const std::string& value);
  void SetDatabaseType(const std::string& value) { F_Set_DatabaseType(value); }
  const std::string& Database() const { return FDatabase; }
  void F_Set_Database(const std::string& value);
  void SetDatabase(const std::string& value) { F_Set_Database(value); }
  const std::string& DatabaseParameters() const { return FDatabaseParameters; }
  void F_Set_DatabaseParameters(const std::string& value);
  void SetDatabaseParameters(const std::string& value) { F_Set_DatabaseParameters(value); }
  const std::string& DatabaseVersionInfo() const { return FDatabaseVersionInfo; }
  void SetDatabaseVersionInfo(const std::string&) {}
  bool ReadOnly() const { return FReadOnly; }
  void F_Set_ReadOnly(bool value);
  void SetReadOnly(bool value) { F_Set_ReadOnly(value); }
  bool LoginPrompt() const { return FLoginPrompt; }
  void F_Set_LoginPrompt(bool value);
  void SetLoginPrompt(bool value) { F_Set_LoginPrompt(value); }
  const std::string& UserName() const { return FUserName; }
  void F_Set_UserName(const std::string& value);
  void SetUserName(const std::string& value) { F_Set_UserName(value); }
  bool UseODBCDialog() const { return FUseODBCDialog; }
  void SetUseODBCDialog(bool value) { FUseODBCDialog = value; }
  const std::string& Password() const { return FPassword; }
  void F_Set_Password(const std::string& value);
  void SetPassword(const std::string& value) { F_Set_Password(value); }
  const std::string& DatabasePassword() const { return FDatabasePassword; }
  void F_Set_DatabasePassword(const std::string& value);
  void SetDatabasePassword(const std::string& value) { F_Set_DatabasePassword(value); }
  const std::string& SystemDatabase() const { return FSystemDatabase; }
  void F_Set_SystemDatabase(const std::string& value);
  void SetSystemDatabase(const std::string& value) { F_Set_SystemDatabase(value); }
  bool SaveUserName() const { return FSaveUserName; }
  void SetSaveUserName(bool value) { FSaveUserName = value; }
  bool SmartOpen() const { return FSmartOpen; }
  void SetSmartOpen(bool value) { FSmartOpen = value; }
  int EngineType() const { return FEngineType; }
  void F_Set_EngineType(int value);
  void SetEngineType(int value) { F_Set_EngineType(value); }
  bool PrivateEngine() const { return FPrivateEngine; }
  void F_Set_PrivateEngine(bool value);
  void SetPrivateEngine(bool value) { F_Set_PrivateEngine(value); }
  bool TrackTransactions() const { return FTrackTransactions; }
  void SetTrackTransactions(bool value);
  bool UsesDynaDao() const { return false; }
  void SetUsesDynaDao(bool) {}
  const std::string& Version() const { return FVersion; }
  // The value is ignored; VersionDetails is read again from the engine.
  void SetVersion(const std::string& value);
  const std::string& VersionDetails() const { return FVersionDetails; }
  void SetVersionDetails(const std::string&) {}
  const std::string& VersionInfo() const { return FVersionInfo; }
  void SetVersionInfo(const std::string&) {}
  const std::string& Workspace() const { return FWorkspace; }
  void F_Set_Workspace(const std::string& value);
  void SetWorkspace(const std::string& value) { F_Set_Workspace(value); }
  int DefaultCursorDriver() const { return FDefaultCursorDriver; }
  void SetDefaultCursorDriver(int value);
  int QueryTimeout() const { return FQueryTimeout; }
  void SetQueryTimeout(int value) { FQueryTimeout = value; }
  bool MdbVersionAutoDetect() const { return FMdbVersionAutoDetect; }
  void SetMdbVersionAutoDetect(bool value) { FMdbVersionAutoDetect = value; }
  bool DisableRefresh() const { return FDisableRefresh; }
  void SetDisableRefresh(bool value) { FDisableRefresh = value; }

  TLoginEvent OnLogin;
  TConnectEvent OnBeforeConnect;
  TConnectEvent OnAfterConnect;
  TConnectEvent OnBeforeDisconnect;
  TConnectEvent OnAfterDisconnect;
  TMapFieldEvent OnMapField;

  // --- Connection
  bool Connected() const { return FConnected; }
  void F_Set_Active(bool value);
  void SetConnected(bool value) { F_Set_Active(value); }
  void Open() { F_Set_Active(true); }
  void Close() { F_Set_Active(false); }

  // What connecting hands to Workspace.OpenDatabase for the current properties (SmartOpen
  // not applied): the name, the options switch, the read-only switch and the connect string.
  struct OpenArguments {
    std::string name;
    bool options = false;
    bool read_only = false;
    std::string connect;
  };
  OpenArguments DaoOpenArguments() const;

  // The primary index name CreateTable and the table manager use: the table's name for a
  // Paradox database type, "PrimaryKey" (CreateTable) or the definitions' name otherwise.
  static bool IsParadoxType(const std::string& database_type);

  // --- The DAO objects (null until made)
  const std::shared_ptr<dao::DBEngine>& DBEngine() const { return F_DBEngine; }
  const std::shared_ptr<dao::Workspace>& DaoWorkspace() const { return FDaoWorkspace; }
  const std::shared_ptr<dao::Database>& DaoDatabase() const { return FDaoDatabase; }

  // --- Lists
  ds::TStringList& TableNames() { return FTableNames; }
  ds::TStringList& QueryDefNames() { return FQueryDefNames; }
  // One line per open table: the table component's name, the object slot a TMxDaoActiveTable*.
  ds::TStringList& ActiveTables() { return FActiveTables; }
  ds::TStringList& TransactionLog() { return FTransactionLog; }
  const ds::TStringList& DatabaseTypes() const { return FDatabaseTypes; }
  const ds::TStringList& EngineVersions() const { return FEngineVersions; }
  const ds::TStringList& OdbcDrivers() const { return FOdbcDrivers; }
  const ds::TStringList& SystemDsns() const { return FSystemDsns; }
  const ds::TStringList& UserDsns() const { return FUserDsns; }
  const ds::TStringList& DsnDatabaseFiles() const { return FDsnDatabaseFiles; }

  // True when TableNames holds `name` (compared without regard to case).
  bool HasTable(const std::string& name) const { return FTableNames.IndexOf(name) >= 0; }

  // --- File and schema operations
  void CreateAccessDatabase(const std::string& file_name);
  void DeleteTable(const std::string& table_name);
  void RefreshDefinitions();
  // Empty on any error.
  std::string GetQueryDefSQL(const std::string& query_def_name);
  void Idle();
  void GetLastDaoError(TDaoErrRec& error) const;
  void RecordTransactionItem(const std::string& name, int value);
  int TransactionLevel() const { return FTransactionLog.Count(); }

  // Each argument a one-dimensional variant array from index 0, one element per field.
  bool CreateTable(const std::string& table_name, const core::Variant& field_names,
                   const core::Variant& field_types, const core::Variant& field_sizes,
                   const core::Variant& field_indexes, const core::Variant& field_required);

  // --- Engine facts
  std::string GetDefaultSystemDatabase() const;
  void DetectMdbVersion(const std::string& file_name);

  // The directory of the running program, with a trailing separator (SmartOpen's fallback).
  // Tests may set it; empty goes back to the real one.
  static void SetProgramDirectory(std::string directory);
  static std::string ProgramDirectory();

 private:
  void CreateEngine();
  void ReinitEngine();
  // Runs ReinitEngine unless loading; on failure puts `old` back, rebuilds once more and rethrows.
  template <typename T>
  void RebuildRestoring(T& member, T old);
  void RebuildIgnoringErrors();
  void RefuseWhileConnected(const char* message) const;
  void InitCom();
  void Connect();
  void Disconnect();
  void CloseActiveTables();
  // False when the login was declined.
  bool AskLogin();
  void ExchangeLoginParams();
  void OpenDaoDatabase();
  void DetectEngineVersions();
  void FillDatabaseTypes();
  void FillOdbcLists();
  void SetVersionInfoFromDetails();

  std::string FComponentVersion = "7.20";
  bool FExclusive = false;
  std::string FDatabaseLanguage;
  std::int32_t FCollatingOrder = 0;
  std::string FDatabaseType = "Access";
  std::string FDatabase;
  std::string FDatabaseParameters;
  std::string FDatabaseVersionInfo;
  bool FReadOnly = false;
  bool FLoginPrompt = false;
  std::string FUserName = "Admin";
  bool FUseODBCDialog = true;
  std::string FPassword;
  std::string FDatabasePassword;
  std::string FSystemDatabase;
  bool FSaveUserName = true;
  bool FSmartOpen = true;
  int FEngineType = 2;
  bool FPrivateEngine = false;
  bool FTrackTransactions = true;
  std::string FVersion = "3.6";
  std::string FVersionDetails;
  std::string FVersionInfo;
  std::string FWorkspace = "DaoWorkspace";
  int FDefaultCursorDriver = -1;
  int FQueryTimeout = 60;
  bool FMdbVersionAutoDetect = false;
  bool FDisableRefresh = false;
  bool FConnected = false;

  bool FComInitialized = false;
  std::shared_ptr<dao::DBEngine> F_DBEngine;
  std::shared_ptr<dao::Workspace> FDaoWorkspace;
  std::shared_ptr<dao::Database> FDaoDatabase;

  ds::TStringList FTableNames;
  ds::TStringList FQueryDefNames;
  ds::TStringList FActiveTables;
  ds::TStringList FTransactionLog;
  ds::TStringList FDatabaseTypes;
  ds::TStringList FEngineVersions;
  ds::TStringList FOdbcDrivers;
  ds::TStringList FSystemDsns;
  ds::TStringList FUserDsns;
  ds::TStringList FDsnDatabaseFiles;
};

// Builds a table of a connected database from free-standing field and index definitions: the
// fields through TMxDaoDatabase::CreateTable, then the indexes.
class TMxDaoTableManager {
 public:
  explicit TMxDaoTableManager(TMxDaoDatabase* database);
  ~TMxDaoTableManager();
  TMxDaoTableManager(const TMxDaoTableManager&) = delete;
  TMxDaoTableManager& operator=(const TMxDaoTableManager&) = delete;

  TMxDaoDatabase* Database() const { return FDatabase; }
  ds::TFieldDefs& FieldDefs() { return *FFieldDefs; }
  ds::TIndexDefs& IndexDefs() { return *FIndexDefs; }
  std::string TableName;

  void BuildTable();
  void CreateIndexes();
  bool CheckReady() const;
  // Every ';' starts a new name; names are trimmed of blanks.
  static void SplitFieldList(const std::string& text, ds::TStringList& list);
  static bool HasPrimaryIndex(dao::TableDef& table_def);
  static void DeletePrimaryIndex(dao::TableDef& table_def);

 private:
  TMxDaoDatabase* FDatabase;
  std::unique_ptr<daotable::TDummyDataset> FDummy;
  std::unique_ptr<ds::TFieldDefs> FFieldDefs;
  std::unique_ptr<ds::TIndexDefs> FIndexDefs;
};

}  // namespace daodb

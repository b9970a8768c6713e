// The DAO 3.6 object model over our own Jet engine: the layer's front door.
//
// The database components were written against Microsoft's DAO and rely on its answers:
// recordset positions and counts, bookmarks, EditMode, the record that is current after
// AddNew/Update, error numbers such as 3167 and 3021, and how a text assigned to a field
// becomes a Long or a Currency. This layer gives the same answers over `jet::Database`
// (storage), `jetsql` (criteria, sorts, SQL) and nothing else. It never touches a file
// itself and never reaches past the storage engine's front door.
//
// Objects are shared the way COM references are: every object is held by std::shared_ptr;
// collections live inside their parent and are returned by reference. Names and members
// are DAO's (getters as the property name, setters as Set<Name>). Every failing call records
// DAO's error in DBEngine.Errors and throws core::EOleException with its number, source
// ("DAO.Recordset", ...) and text; calls that succeed leave Errors alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "dao/constants.h"
#include "dao/convert.h"
#include "dao/errors.h"

namespace core {
class FileSystem;
}

namespace dao {

class DBEngine;
class Workspace;
class Database;
class TableDef;
class Field;
class Index;
class QueryDef;
class Parameter;
class Property;
class Recordset;

namespace detail {
struct EngineState;
struct WorkspaceState;
struct DatabaseState;
struct TableDefState;
struct FieldState;
struct IndexState;
struct QueryDefState;
struct PropertyHost;
struct RecordsetImpl;
}  // namespace detail

// ---- Errors ----

class Errors {
 public:
  explicit Errors(std::shared_ptr<detail::EngineState> engine);
  int Count() const;
  // 0-based; 3265 when out of range.
  const Error& Item(int index) const;
  void Refresh() {}

 private:
  std::shared_ptr<detail::EngineState> engine_;
};

// ---- Properties ----

class Property {
 public:
  // An unappended property (CreateProperty).
  Property(std::shared_ptr<detail::EngineState> engine, std::string name, int type,
           core::Variant value, bool ddl);
  // A property of an object.
  Property(std::shared_ptr<detail::PropertyHost> host, std::string name);

  std::string Name() const;
  void SetName(const std::string& name);
  int Type() const;
  void SetType(int type);
  core::Variant Value() const;
  void SetValue(const core::Variant& value);
  bool Inherited() const;

 private:
  friend class Properties;
  std::shared_ptr<detail::EngineState> engine_;
  std::shared_ptr<detail::PropertyHost> host_;  // null while unappended
  std::string name_;
  int type_ = dbText;
  core::Variant value_;
  bool ddl_ = false;
};

class Properties {
 public:
  explicit Properties(std::shared_ptr<detail::PropertyHost> host);
  int Count() const;
  std::shared_ptr<Property> Item(int index) const;
  std::shared_ptr<Property> Item(std::string_view name) const;
  void Refresh() {}
  void Append(const std::shared_ptr<Property>& property);
  void Delete(std::string_view name);

 private:
  std::shared_ptr<detail::PropertyHost> host_;
};

// ---- Fields ----

class Field : public std::enable_shared_from_this<Field> {
 public:
  explicit Field(std::shared_ptr<detail::FieldState> state);
  ~Field();

  std::string Name() const;
  void SetName(const std::string& name);
  int Type() const;
  void SetType(int type);
  std::int32_t Size() const;
  void SetSize(std::int32_t size);
  std::int32_t Attributes() const;
  void SetAttributes(std::int32_t attributes);
  bool Required() const;
  void SetRequired(bool required);
  bool AllowZeroLength() const;
  void SetAllowZeroLength(bool allow);
  std::string DefaultValue() const;
  void SetDefaultValue(const std::string& expression);
  std::string ValidationRule() const;
  std::string ValidationText() const;
  int OrdinalPosition() const;
  void SetOrdinalPosition(int position);
  int CollatingOrder() const;
  // Not in DAO (where only a DDL statement sets them): a Decimal field's digits and the
  // digits after the point, 18 and 0 unless set before the field is appended.
  int Precision() const;
  void SetPrecision(int precision);
  int Scale() const;
  void SetScale(int scale);
  bool DataUpdatable() const;
  std::string SourceField() const;
  std::string SourceTable() const;

  // Recordset fields only (3219 elsewhere).
  core::Variant Value() const;
  void SetValue(const core::Variant& value);
  // The copy run's path: a text converted straight into the field's type.
  void SetValue(std::string_view text);
  std::int32_t FieldSize() const;
  core::Variant GetChunk(std::int32_t offset, std::int32_t bytes) const;
  void AppendChunk(const core::Variant& data);

  dao::Properties& Properties();
  std::shared_ptr<Property> CreateProperty(const std::string& name = {}, int type = dbText,
                                           const core::Variant& value = {}, bool ddl = false);

  // For the collections.
  const std::shared_ptr<detail::FieldState>& State() const { return s_; }

 private:
  std::shared_ptr<detail::FieldState> s_;
  std::unique_ptr<dao::Properties> properties_;
};

class Fields {
 public:
  // The fields of a TableDef, an Index, a QueryDef or a Recordset.
  explicit Fields(std::function<std::vector<std::shared_ptr<Field>>()> list,
                  std::shared_ptr<detail::EngineState> engine,
                  std::function<void(const std::shared_ptr<Field>&)> append = {},
                  std::function<void(std::string_view)> remove = {});
  int Count() const;
  std::shared_ptr<Field> Item(int index) const;
  std::shared_ptr<Field> Item(std::string_view name) const;
  std::shared_ptr<Field> Item(const std::string& name) const {
    return Item(std::string_view(name));
  }
  std::shared_ptr<Field> Item(const char* name) const { return Item(std::string_view(name)); }
  std::shared_ptr<Field> Item(const core::Variant& index) const;
  void Refresh() {}
  void Append(const std::shared_ptr<Field>& field);
  void Delete(std::string_view name);

 private:
  std::function<std::vector<std::shared_ptr<Field>>()> list_;
  std::shared_ptr<detail::EngineState> engine_;
  std::function<void(const std::shared_ptr<Field>&)> append_;
  std::function<void(std::string_view)> remove_;
};

// ---- Indexes ----

class Index {
 public:
  explicit Index(std::shared_ptr<detail::IndexState> state);
  std::string Name() const;
  void SetName(const std::string& name);
  bool Primary() const;
  void SetPrimary(bool primary);
  bool Unique() const;
  void SetUnique(bool unique);
  bool IgnoreNulls() const;
  void SetIgnoreNulls(bool ignore);
  bool Required() const;
  void SetRequired(bool required);
  bool Foreign() const;
  bool Clustered() const { return false; }
  dao::Fields& Fields();
  // A field for this index's Fields (name only; Attributes dbDescending for descending).
  std::shared_ptr<Field> CreateField(const std::string& name = {}, int type = 0,
                                     std::int32_t size = -1);
  dao::Properties& Properties();
  const std::shared_ptr<detail::IndexState>& State() const { return s_; }

 private:
  std::shared_ptr<detail::IndexState> s_;
  std::unique_ptr<dao::Fields> fields_;
  std::unique_ptr<dao::Properties> properties_;
};

class Indexes {
 public:
  explicit Indexes(std::shared_ptr<detail::TableDefState> table);
  int Count() const;
  std::shared_ptr<Index> Item(int index) const;
  std::shared_ptr<Index> Item(std::string_view name) const;
  std::shared_ptr<Index> Item(const std::string& name) const {
    return Item(std::string_view(name));
  }
  std::shared_ptr<Index> Item(const char* name) const { return Item(std::string_view(name)); }
  std::shared_ptr<Index> Item(const core::Variant& index) const;
  void Refresh() {}
  void Append(const std::shared_ptr<Index>& index);
  void Delete(std::string_view name);

 private:
  std::shared_ptr<detail::TableDefState> table_;
};

// ---- TableDefs ----

class TableDef {
 public:
  explicit TableDef(std::shared_ptr<detail::TableDefState> state);
  ~TableDef();
  std::string Name() const;
  void SetName(const std::string& name);
  std::int32_t Attributes() const;
  void SetAttributes(std::int32_t attributes);
  std::string Connect() const;
  std::string SourceTableName() const;
  std::string ValidationRule() const;
  std::string ValidationText() const;
  bool Updatable() const;
  core::Variant DateCreated() const;
  core::Variant LastUpdated() const;
  std::int32_t RecordCount() const;
  dao::Fields& Fields();
  dao::Indexes& Indexes();
  dao::Properties& Properties();
  std::shared_ptr<Field> CreateField(const std::string& name = {}, int type = 0,
                                     std::int32_t size = -1);
  std::shared_ptr<Index> CreateIndex(const std::string& name = {});
  std::shared_ptr<Property> CreateProperty(const std::string& name = {}, int type = dbText,
                                           const core::Variant& value = {}, bool ddl = false);
  std::shared_ptr<Recordset> OpenRecordset(int type = 0, int options = 0, int lock_edit = 0);
  const std::shared_ptr<detail::TableDefState>& State() const { return s_; }

 private:
  std::shared_ptr<detail::TableDefState> s_;
  std::unique_ptr<dao::Fields> fields_;
  std::unique_ptr<dao::Indexes> indexes_;
  std::unique_ptr<dao::Properties> properties_;
};

class TableDefs {
 public:
  explicit TableDefs(std::shared_ptr<detail::DatabaseState> db);
  int Count() const;
  std::shared_ptr<TableDef> Item(int index) const;
  std::shared_ptr<TableDef> Item(std::string_view name) const;
  std::shared_ptr<TableDef> Item(const std::string& name) const {
    return Item(std::string_view(name));
  }
  std::shared_ptr<TableDef> Item(const char* name) const { return Item(std::string_view(name)); }
  std::shared_ptr<TableDef> Item(const core::Variant& index) const;
  void Refresh();
  void Append(const std::shared_ptr<TableDef>& table);
  void Delete(std::string_view name);

 private:
  std::shared_ptr<detail::DatabaseState> db_;
};

// ---- QueryDefs and Parameters ----

class Parameter {
 public:
  Parameter(std::shared_ptr<detail::QueryDefState> query, int index);
  std::string Name() const;
  int Type() const;
  int Direction() const;
  void SetDirection(int direction);
  core::Variant Value() const;
  void SetValue(const core::Variant& value);
  dao::Properties& Properties();

 private:
  std::shared_ptr<detail::QueryDefState> q_;
  int index_;
  std::unique_ptr<dao::Properties> properties_;
};

class Parameters {
 public:
  explicit Parameters(std::shared_ptr<detail::QueryDefState> query);
  int Count() const;
  std::shared_ptr<Parameter> Item(int index) const;
  std::shared_ptr<Parameter> Item(std::string_view name) const;
  std::shared_ptr<Parameter> Item(const std::string& name) const {
    return Item(std::string_view(name));
  }
  std::shared_ptr<Parameter> Item(const char* name) const { return Item(std::string_view(name)); }
  std::shared_ptr<Parameter> Item(const core::Variant& index) const;
  void Refresh() {}

 private:
  std::shared_ptr<detail::QueryDefState> q_;
};

// The name DAO's constants give a QueryDef type code ("dbQSelect", "dbQCrosstab", ...);
// empty for a code that has none.
std::string_view QueryDefTypeName(int type);

class QueryDef {
 public:
  explicit QueryDef(std::shared_ptr<detail::QueryDefState> state);
  ~QueryDef();
  std::string Name() const;
  void SetName(const std::string& name);
  std::string SQL() const;
  void SetSQL(const std::string& sql);
  int Type() const;
  std::int32_t MaxRecords() const;
  void SetMaxRecords(std::int32_t max);
  int ODBCTimeout() const;
  void SetODBCTimeout(int seconds);
  bool Updatable() const;
  core::Variant DateCreated() const;
  core::Variant LastUpdated() const;
  dao::Parameters& Parameters();
  dao::Fields& Fields();
  dao::Properties& Properties();
  std::shared_ptr<Recordset> OpenRecordset(int type = 0, int options = 0, int lock_edit = 0);
  void Close();
  const std::shared_ptr<detail::QueryDefState>& State() const { return s_; }

 private:
  std::shared_ptr<detail::QueryDefState> s_;
  std::unique_ptr<dao::Parameters> parameters_;
  std::unique_ptr<dao::Fields> fields_;
  std::unique_ptr<dao::Properties> properties_;
};

class QueryDefs {
 public:
  explicit QueryDefs(std::shared_ptr<detail::DatabaseState> db);
  int Count() const;
  std::shared_ptr<QueryDef> Item(int index) const;
  std::shared_ptr<QueryDef> Item(std::string_view name) const;
  std::shared_ptr<QueryDef> Item(const std::string& name) const {
    return Item(std::string_view(name));
  }
  std::shared_ptr<QueryDef> Item(const char* name) const { return Item(std::string_view(name)); }
  std::shared_ptr<QueryDef> Item(const core::Variant& index) const;
  void Refresh() {}
  void Append(const std::shared_ptr<QueryDef>& query);
  void Delete(std::string_view name);

 private:
  std::shared_ptr<detail::DatabaseState> db_;
};

// ---- Simple named collections (Containers, Relations, Users, Groups) ----

class NameCollection {
 public:
  NameCollection(std::shared_ptr<detail::EngineState> engine, std::string_view source,
                 std::function<std::vector<std::string>()> names);
  int Count() const;
  // The object's name; 3265 for a bad ordinal.
  std::string Item(int index) const;
  void Refresh() {}

 private:
  std::shared_ptr<detail::EngineState> engine_;
  std::string source_;
  std::function<std::vector<std::string>()> names_;
};
using Containers = NameCollection;
using Relations = NameCollection;
using Users = NameCollection;
using Groups = NameCollection;

// ---- Recordsets ----

class Recordset : public std::enable_shared_from_this<Recordset> {
 public:
  explicit Recordset(std::unique_ptr<detail::RecordsetImpl> impl);
  ~Recordset();

  std::string Name() const;
  int Type() const;
  bool Updatable() const;
  bool Bookmarkable() const;
  bool Restartable() const;
  bool Transactions() const { return true; }
  bool LockEdits() const;
  void SetLockEdits(bool lock);
  int EditMode() const;
  bool NoMatch() const;
  // Bof/Eof: DAO's BOF and EOF (EOF is a macro of the C library).
  bool Bof() const;
  bool Eof() const;
  std::int32_t RecordCount() const;
  std::int32_t AbsolutePosition() const;
  void SetAbsolutePosition(std::int32_t position);
  float PercentPosition() const;
  void SetPercentPosition(float percent);
  // A byte array; the first four bytes, read as a little-endian 32-bit integer, are
  // non-zero and unique per record.
  core::Variant Bookmark() const;
  void SetBookmark(const core::Variant& bookmark);
  core::Variant LastModified() const;
  core::Variant DateCreated() const;
  core::Variant LastUpdated() const;
  std::string ValidationRule() const;
  std::string ValidationText() const;

  dao::Fields& Fields();
  dao::Properties& Properties();

  void MoveFirst();
  void MoveLast(int options = 0);
  void MoveNext();
  void MovePrevious();
  void Move(std::int32_t rows, const core::Variant& start_bookmark = {});

  void AddNew();
  void Edit();
  void Update(int update_type = 1, bool force = false);
  void CancelUpdate(int update_type = 1);
  void Delete();

  // Table-type only.
  std::string Index() const;
  void SetIndex(const std::string& name);
  void Seek(const std::string& comparison, const std::vector<core::Variant>& keys);

  // Dynaset and snapshot (Filter also forward-only): they shape the next OpenRecordset.
  std::string Filter() const;
  void SetFilter(const std::string& filter);
  std::string Sort() const;
  void SetSort(const std::string& sort);
  std::shared_ptr<Recordset> OpenRecordset(int type = 0, int options = 0);

  void FindFirst(const std::string& criteria);
  void FindLast(const std::string& criteria);
  void FindNext(const std::string& criteria);
  void FindPrevious(const std::string& criteria);

  std::shared_ptr<Recordset> Clone();
  void Requery(const std::shared_ptr<QueryDef>& new_query = nullptr);
  void Close();
  // Up to `rows` records from the current one as rows of values.
  std::vector<std::vector<core::Variant>> GetRows(std::int32_t rows = 1);

  // Not in DAO: whether a record being added may be given its AutoNumber values, as an
  // append query may, instead of taking the next number (error 3164 otherwise). A value
  // given moves the column's next number past it; editing a record never changes one.
  bool AutoNumberValues() const;
  void SetAutoNumberValues(bool allow);

  detail::RecordsetImpl& Impl() const { return *impl_; }

 private:
  std::unique_ptr<detail::RecordsetImpl> impl_;
  std::unique_ptr<dao::Fields> fields_;
  std::unique_ptr<dao::Properties> properties_;
};

class Recordsets {
 public:
  explicit Recordsets(std::shared_ptr<detail::DatabaseState> db);
  int Count() const;
  std::shared_ptr<Recordset> Item(int index) const;
  void Refresh() {}

 private:
  std::shared_ptr<detail::DatabaseState> db_;
};

// ---- Database ----

class Database {
 public:
  explicit Database(std::shared_ptr<detail::DatabaseState> state);
  ~Database();
  std::string Name() const;
  std::string Connect() const;
  // "4.0" for Jet 4 files, "3.0" for Jet 3.
  std::string Version() const;
  std::int32_t CollatingOrder() const;
  int QueryTimeout() const;
  void SetQueryTimeout(int seconds);
  bool Updatable() const;
  bool Transactions() const { return true; }
  std::int32_t RecordsAffected() const;

  dao::TableDefs& TableDefs();
  dao::QueryDefs& QueryDefs();
  dao::Recordsets& Recordsets();
  dao::Containers& Containers();
  dao::Relations& Relations();
  dao::Properties& Properties();

  // `source`: a table name, a stored query's name or an SQL statement. Type 0 picks DAO's
  // default: table-type for a local table, dynaset otherwise.
  std::shared_ptr<Recordset> OpenRecordset(const std::string& source, int type = 0, int options = 0,
                                           int lock_edit = 0);
  std::shared_ptr<TableDef> CreateTableDef(const std::string& name = {},
                                           std::int32_t attributes = 0,
                                           const std::string& source_table = {},
                                           const std::string& connect = {});
  std::shared_ptr<QueryDef> CreateQueryDef(const std::string& name = {},
                                           const std::string& sql = {});
  std::shared_ptr<Property> CreateProperty(const std::string& name = {}, int type = dbText,
                                           const core::Variant& value = {}, bool ddl = false);
  void Execute(const std::string& query, int options = 0);
  void Close();
  // Not in DAO: the storage engine's commit. Every change so far is written and synced,
  // so that a crash, a full disk or a later failure cannot take it back; until then a
  // failure undoes it. Call it where a unit of work ends (a table copied). Close and
  // DBEngine::Idle(dbRefreshCache) commit too.
  void Commit();

  const std::shared_ptr<detail::DatabaseState>& State() const { return s_; }

 private:
  std::shared_ptr<detail::DatabaseState> s_;
  std::unique_ptr<dao::TableDefs> tabledefs_;
  std::unique_ptr<dao::QueryDefs> querydefs_;
  std::unique_ptr<dao::Recordsets> recordsets_;
  std::unique_ptr<dao::Containers> containers_;
  std::unique_ptr<dao::Relations> relations_;
  std::unique_ptr<dao::Properties> properties_;
};

class Databases {
 public:
  explicit Databases(std::shared_ptr<detail::WorkspaceState> workspace);
  int Count() const;
  std::shared_ptr<Database> Item(int index) const;
  void Refresh() {}

 private:
  std::shared_ptr<detail::WorkspaceState> w_;
};

// ---- Workspace and DBEngine ----

class Workspace {
 public:
  explicit Workspace(std::shared_ptr<detail::WorkspaceState> state);
  ~Workspace();
  std::string Name() const;
  void SetName(const std::string& name);
  std::string UserName() const;
  int Type() const;
  int DefaultCursorDriver() const;
  void SetDefaultCursorDriver(int driver);
  bool IsolateODBCTrans() const { return false; }

  // `exclusive` opens the file for this process alone; `connect` may carry ";PWD=…"
  // (a database password) and ";UID=…" (ignored for Jet files).
  std::shared_ptr<Database> OpenDatabase(const std::string& name, bool exclusive = false,
                                         bool read_only = false, const std::string& connect = {});
  // `locale` is required (a LanguageConstants text, optionally with ";pwd=…"); option 64
  // (dbVersion40) or 0 gives a Jet 4.0 file.
  std::shared_ptr<Database> CreateDatabase(const std::string& name, const std::string& locale,
                                           int options = 0);
  void Close();

  dao::Databases& Databases();
  dao::Users& Users();
  dao::Groups& Groups();
  dao::Properties& Properties();
  const std::shared_ptr<detail::WorkspaceState>& State() const { return s_; }

 private:
  std::shared_ptr<detail::WorkspaceState> s_;
  std::unique_ptr<dao::Databases> databases_;
  std::unique_ptr<dao::Users> users_;
  std::unique_ptr<dao::Groups> groups_;
  std::unique_ptr<dao::Properties> properties_;
};

class Workspaces {
 public:
  explicit Workspaces(std::shared_ptr<detail::EngineState> engine);
  int Count() const;
  std::shared_ptr<Workspace> Item(int index) const;
  std::shared_ptr<Workspace> Item(std::string_view name) const;
  void Refresh() {}
  void Append(const std::shared_ptr<Workspace>& workspace);
  void Delete(std::string_view name);

 private:
  std::shared_ptr<detail::EngineState> engine_;
};

class DBEngine {
 public:
  // A private engine: its own workspaces, errors and settings. Files are reached through
  // `files` (tests pass an in-memory or fault-injecting one); null is the real file system.
  static std::shared_ptr<DBEngine> Create(core::FileSystem* files = nullptr);
  ~DBEngine();

  std::string Version() const { return "3.6"; }
  std::string SystemDB() const;
  void SetSystemDB(const std::string& path);
  std::string DefaultUser() const;
  void SetDefaultUser(const std::string& user);
  std::string DefaultPassword() const;
  void SetDefaultPassword(const std::string& password);
  int DefaultType() const;
  void SetDefaultType(int type);
  std::string IniPath() const;
  void SetIniPath(const std::string& path);
  int LoginTimeout() const;
  void SetLoginTimeout(int seconds);

  // An unappended workspace; `use_type` 0 takes DefaultType. Type 1 (ODBCDirect) can be
  // created, but nothing can be opened through it.
  std::shared_ptr<Workspace> CreateWorkspace(const std::string& name, const std::string& user,
                                             const std::string& password, int use_type = 0);
  dao::Workspaces& Workspaces();
  dao::Errors& Errors();
  dao::Properties& Properties();
  // dbFreeLocks (1) and dbRefreshCache (8): the pending writes of every open database reach
  // the file; there are no read locks to free in a single-process engine.
  void Idle(int action = 0);

  // Through the default workspace.
  std::shared_ptr<Database> OpenDatabase(const std::string& name, bool exclusive = false,
                                         bool read_only = false, const std::string& connect = {});
  std::shared_ptr<Database> CreateDatabase(const std::string& name, const std::string& locale,
                                           int options = 0);

  const std::shared_ptr<detail::EngineState>& State() const { return s_; }

 private:
  DBEngine();
  std::shared_ptr<detail::EngineState> s_;
  std::unique_ptr<dao::Workspaces> workspaces_;
  std::unique_ptr<dao::Errors> errors_;
  std::unique_ptr<dao::Properties> properties_;
};

}  // namespace dao

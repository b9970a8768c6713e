// The state behind the object model's handles. Private to the layer.
//
// One EngineState per DBEngine (its Errors and settings), one DatabaseState per open
// database (the jet::Database, the per-table bookkeeping every recordset of that database
// shares, the open recordsets), and small states for TableDefs, Fields, Indexes, QueryDefs
// and property lists. Public objects are handles on these, so a TableDef or Field taken
// from a collection stays usable while its database is open and reports 3420 afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/variant.h"
#include "dao/dao.h"
#include "jet/database.h"

namespace dao::detail {

// ---- errors ----

struct EngineState {
  std::vector<Error> errors;
  std::string system_db;
  std::string default_user = "admin";
  std::string default_password;
  std::string ini_path;
  int default_type = dbUseJet;
  int login_timeout = 20;
  core::FileSystem* file_system = nullptr;  // null: the real one
  std::shared_ptr<Workspace> default_workspace;
  std::vector<std::shared_ptr<Workspace>> workspaces;  // appended ones (after the default)
  std::vector<std::weak_ptr<DatabaseState>> databases;

  core::FileSystem& Files() const;
};

// Replaces DBEngine.Errors with the one error of the failing call.
void Record(EngineState& engine, const core::EOleException& error);

// Records and throws DAO error `number` for an object of kind `source`.
[[noreturn]] void Raise(EngineState& engine, int number, std::string_view source,
                        std::string_view insert1 = {}, std::string_view insert2 = {});
// The same with a description of our own where DAO's text would hide what went wrong.
[[noreturn]] void RaiseText(EngineState& engine, int number, std::string_view source,
                            const std::string& description);
// DAO's text for `number`, with what the storage engine said when that adds something.
std::string WithDetail(int number, const std::string& detail);

// Called inside a catch block: turns whatever is in flight into DAO's error for `source`,
// records it and throws it. Storage errors get DAO's numbers (3022 duplicate key, 3027
// read-only, 3049 damaged file, ...); errors already in DAO's shape pass unchanged.
[[noreturn]] void RethrowAsDao(EngineState& engine, std::string_view source);

template <class F>
decltype(auto) Guard(EngineState& engine, std::string_view source, F&& body) {
  try {
    return body();
  } catch (...) {
    RethrowAsDao(engine, source);
  }
}

// ---- per-table bookkeeping of an open database ----

// Rules the engine enforces from a column's properties.
struct ColumnRules {
  bool required = false;
  bool allow_zero_length = true;
  std::string default_value;  // an expression
  std::string validation_rule;
  std::string validation_text;
};

// A row as a recordset remembers it: its locator and the generation of that locator when the
// row was reached. Deleting a row bumps its locator's generation, and so does a new row that
// later takes the same locator, so a remembered row can tell it is gone even then.
struct RowRef {
  std::uint32_t ptr = 0;  // jet::RowPointer::ToU32()
  std::uint32_t gen = 0;
};

struct TableState {
  jet::Table* table = nullptr;  // owned by the jet::Database
  std::string name;
  std::uint32_t page = 0;
  std::unordered_map<std::uint32_t, std::uint32_t> generations;  // only touched locators
  int open_recordsets = 0;
  std::uint64_t version = 0;  // bumped by every row written through this layer
  bool rules_loaded = false;
  std::vector<ColumnRules> rules;  // by position in Definition().columns
  // The table's property blob, decoded once; property lists ask for it again and again.
  std::optional<jet::PropertyBlob> blob;
  const jet::PropertyBlob& Blob() {
    if (!blob) blob = table->Properties();
    return *blob;
  }
  void PropertiesChanged() {
    blob.reset();
    rules_loaded = false;
    if (table) table->PropertiesChanged();  // it enforces Required from the blob itself
  }

  std::uint32_t Generation(std::uint32_t ptr) const {
    if (generations.empty()) return 0;
    auto it = generations.find(ptr);
    return it == generations.end() ? 0 : it->second;
  }
  RowRef Ref(std::uint32_t ptr) const { return RowRef{ptr, Generation(ptr)}; }
  bool Alive(const RowRef& r) const {
    std::uint32_t g = Generation(r.ptr);
    return g == r.gen && (g & 1u) == 0;
  }
  void MarkDeleted(std::uint32_t ptr) {
    std::uint32_t& g = generations[ptr];
    if ((g & 1u) == 0) ++g;
  }
  // A new row at `ptr`: a locator that held a deleted row starts a new generation.
  RowRef MarkInserted(std::uint32_t ptr) {
    if (generations.empty()) return RowRef{ptr, 0};
    auto it = generations.find(ptr);
    if (it == generations.end()) return RowRef{ptr, 0};
    if (it->second & 1u) ++it->second;
    return RowRef{ptr, it->second};
  }
};

// ---- databases ----

struct WorkspaceState {
  std::shared_ptr<EngineState> engine;
  std::string name;
  std::string user;
  std::string password;
  int type = dbUseJet;
  int cursor_driver = dbUseDefaultCursor;
  bool appended = false;
  bool closed = false;
  // Open databases. A database closes when the last object that uses it goes away, as a
  // released COM reference does, so the workspace does not keep it alive.
  std::vector<std::weak_ptr<DatabaseState>> databases;

  void CheckOpen(std::string_view source) const;
  std::vector<std::shared_ptr<DatabaseState>> OpenDatabases();
};

struct DatabaseState : std::enable_shared_from_this<DatabaseState> {
  ~DatabaseState();
  std::shared_ptr<EngineState> engine;
  std::weak_ptr<WorkspaceState> workspace;
  std::unique_ptr<jet::Database> db;
  std::string name;
  std::string connect;
  bool read_only = false;
  bool exclusive = false;
  int query_timeout = 60;
  std::int32_t records_affected = 0;
  std::map<std::uint32_t, std::unique_ptr<TableState>> tables;  // by definition page
  // Parameter values given to stored queries, by query and parameter name: DAO's QueryDefs
  // collection keeps its objects, so a query fetched again by name still has them.
  struct StoredValue {
    std::string query, parameter;
    core::Variant value;
  };
  std::vector<StoredValue> query_values;
  std::vector<std::weak_ptr<Recordset>> recordsets;

  // The open storage; 3420 once the database is closed.
  jet::Database& Jet(std::string_view source);
  // The catalog as the collections show it, read once and again after every change made
  // through this database (and on TableDefs.Refresh): listing a hundred tables must not read
  // the catalog a hundred times.
  const std::vector<jet::CatalogEntry>& Catalog(std::string_view source);
  void CatalogChanged() { catalog_cache.reset(); }
  // An object of the Tables container by name (tables, linked tables, queries).
  std::optional<jet::CatalogEntry> FindObject(std::string_view name, std::string_view source);
  std::vector<jet::CatalogEntry> Tables(std::string_view source);
  std::vector<jet::CatalogEntry> Queries(std::string_view source);
  std::optional<std::vector<jet::CatalogEntry>> catalog_cache;
  std::int32_t tables_container = 0x0F000001;
  bool IsOpen() const { return db != nullptr; }
  // The bookkeeping of a local table, opening it in the storage engine; 3011 when missing.
  TableState& Table(std::string_view name, std::string_view source);
  // Rules from the table's property blob, loaded once.
  const std::vector<ColumnRules>& Rules(TableState& table);
  void ForgetTable(std::uint32_t page);
  // Closes every open recordset, then the storage.
  void Close();
  void CheckWritable(std::string_view source);
  void FlushToFile();
};

// OpenDatabase and CreateDatabase of workspace `w`, with DAO's checks and errors; `source` is
// the object the caller called (DBEngine or Workspace).
std::shared_ptr<Database> OpenFile(const std::shared_ptr<WorkspaceState>& w,
                                   const std::string& name, bool exclusive, bool read_only,
                                   const std::string& connect, std::string_view source);
std::shared_ptr<Database> CreateFile(const std::shared_ptr<WorkspaceState>& w,
                                     const std::string& name, const std::string& locale,
                                     int options, std::string_view source);

// ---- property lists ----

struct PropertyInfo {
  std::string name;
  int type = dbText;
  core::Variant value;
  bool inherited = false;
};

// The object behind a Properties collection: it lists its properties and changes them.
struct PropertyHost {
  std::shared_ptr<EngineState> engine;
  std::string source;  // "DAO.Field", ...

  virtual ~PropertyHost() = default;
  virtual std::vector<PropertyInfo> List() = 0;
  // Built-in properties call the object's setter; others change the stored value.
  virtual void Set(const std::string& name, const core::Variant& value);
  virtual void Append(const std::string& name, int type, const core::Variant& value, bool ddl);
  virtual void Remove(const std::string& name);
};

// A fixed list of read-only built-in properties.
std::shared_ptr<PropertyHost> MakeFixedProperties(std::shared_ptr<EngineState> engine,
                                                  std::string source,
                                                  std::function<std::vector<PropertyInfo>()> list);
// One entry of such a list.
PropertyInfo BuiltInProperty(std::string name, int type, core::Variant value);

// ---- schema objects ----

enum class FieldKind : std::uint8_t {
  kNew,        // made by TableDef.CreateField, not yet part of a table in the file
  kTable,      // a column of an appended TableDef
  kIndex,      // a field of an Index's Fields
  kRecordset,  // a field of an open Recordset
  kQuery,      // a field of a QueryDef
};

struct FieldState {
  std::shared_ptr<EngineState> engine;
  FieldKind kind = FieldKind::kNew;
  // kNew, kIndex, kQuery: the values themselves.
  std::string name;
  int type = 0;
  std::int32_t size = 0;
  bool size_given = false;
  int precision = 18, scale = 0;  // Decimal
  std::int32_t attributes = 0;
  bool required = false;
  bool allow_zero_length = false;
  std::string default_value;
  std::string validation_rule, validation_text;
  int ordinal = 0;
  bool in_collection = false;  // for 3266
  // kTable: the column of an appended table.
  std::shared_ptr<TableDefState> table;
  // kRecordset: the recordset and the field's ordinal in it.
  std::weak_ptr<Recordset> recordset;
  RecordsetImpl* impl = nullptr;  // valid while `recordset` has not expired
  int index = 0;
};

struct IndexState {
  std::shared_ptr<EngineState> engine;
  std::string name;
  bool primary = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
  bool foreign = false;
  std::vector<std::shared_ptr<Field>> fields;
  bool appended = false;  // part of a table in the file (read-only)
};

struct TableDefState : std::enable_shared_from_this<TableDefState> {
  std::shared_ptr<EngineState> engine;
  std::shared_ptr<DatabaseState> db;
  bool appended = false;
  std::string name;
  std::int32_t attributes = 0;
  std::string connect, source_table, validation_rule, validation_text;
  // Unappended: the definition being built.
  std::vector<std::shared_ptr<Field>> fields;
  std::vector<std::shared_ptr<Index>> indexes;

  // Appended: the catalog row and the storage's table.
  std::optional<jet::CatalogEntry> Entry();
  TableState& Table(std::string_view source);
};

// Builds the Field handle of column `position` (storage order) of an appended table.
std::shared_ptr<Field> TableColumnField(const std::shared_ptr<TableDefState>& table,
                                        const std::string& column);

// Writes a table's property blob back to the catalog.
void StoreTableProperties(DatabaseState& db, const std::string& table,
                          const jet::PropertyBlob& blob);

struct QueryParameter {
  std::string name;
  int type = dbText;
  int direction = dbParamInput;
  core::Variant value;
  bool value_set = false;
};

struct QueryDefState {
  std::shared_ptr<EngineState> engine;
  std::shared_ptr<DatabaseState> db;
  std::string name;
  std::string sql;
  int type = dbQSelect;
  std::int32_t max_records = 0;
  int odbc_timeout = 60;
  bool stored = false;  // kept in the database (named)
  bool closed = false;
  double date_created = 0, date_updated = 0;
  std::vector<QueryParameter> parameters;
};

// DAO names compare without regard to letter case.
bool SameName(std::string_view a, std::string_view b);

// The DAO type code of a storage column type, and back; -1 when there is none.
int DaoTypeOfColumn(std::uint8_t column_type);
int ColumnTypeOfDao(int dao_type);
// Field.Size of a storage column (characters for Text).
std::int32_t DaoSizeOfColumn(const jet::ColumnDefinition& column);
// Field.Attributes of a storage column.
std::int32_t DaoAttributesOfColumn(const jet::ColumnDefinition& column);

}  // namespace dao::detail

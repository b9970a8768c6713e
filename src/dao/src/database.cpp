// Database and the state of an open database: opening and creating files, the catalog as the
// collections see it, OpenRecordset and Execute, and the Recordsets collection.
#include <cstdlib>
#include <cstring>

#include "recordset_impl.h"

namespace dao {
namespace detail {

// ---- per-database state ----

DatabaseState::~DatabaseState() {
  try {
    Close();
  } catch (...) {
    // Nobody is left to tell; Database.Close reports the same failure to those who ask.
  }
}

jet::Database& DatabaseState::Jet(std::string_view source) {
  if (!db) Raise(*engine, err::kObjectInvalid, source);
  return *db;
}

const std::vector<jet::CatalogEntry>& DatabaseState::Catalog(std::string_view source) {
  jet::Database& j = Jet(source);
  if (!catalog_cache) {
    catalog_cache = j.Catalog();
    // The Tables container, looked up rather than assumed.
    tables_container = 0x0F000001;
    for (const auto& e : *catalog_cache)
      if (e.parent_id == 0x0F000000 && e.name == "Tables" &&
          (e.type & 0x7F) == jet::object_type::kContainer)
        tables_container = e.id;
  }
  return *catalog_cache;
}

std::optional<jet::CatalogEntry> DatabaseState::FindObject(std::string_view name,
                                                           std::string_view source) {
  for (const auto& e : Catalog(source))
    if (e.parent_id == tables_container && SameName(e.name, name)) return e;
  return std::nullopt;
}

std::vector<jet::CatalogEntry> DatabaseState::Tables(std::string_view source) {
  std::vector<jet::CatalogEntry> out;
  for (const auto& e : Catalog(source)) {
    if (!(e.IsTable() || e.IsLinked())) continue;
    if (e.parent_id != tables_container && e.IsTable() && !e.IsSystem()) continue;
    out.push_back(e);
  }
  return out;
}

std::vector<jet::CatalogEntry> DatabaseState::Queries(std::string_view source) {
  std::vector<jet::CatalogEntry> out;
  for (const auto& e : Catalog(source))
    if (e.IsQuery()) out.push_back(e);
  return out;
}

TableState& DatabaseState::Table(std::string_view table_name, std::string_view source) {
  jet::Database& j = Jet(source);
  for (auto& [page, state] : tables)
    if (SameName(state->name, table_name)) return *state;
  std::optional<jet::CatalogEntry> e = FindObject(table_name, source);
  if (!e || !e->IsTable()) Raise(*engine, err::kObjectNotFound, source, table_name);
  std::uint32_t page = e->TableDefinitionPage();
  auto it = tables.find(page);
  if (it != tables.end()) return *it->second;
  auto state = std::make_unique<TableState>();
  state->table = &j.OpenTable(e->name);
  state->name = e->name;
  state->page = page;
  return *tables.emplace(page, std::move(state)).first->second;
}

const std::vector<ColumnRules>& DatabaseState::Rules(TableState& table) {
  if (table.rules_loaded) return table.rules;
  const jet::TableDefinition& def = table.table->Definition();
  table.rules.assign(def.columns.size(), ColumnRules{});
  const jet::PropertyBlob& blob = table.Blob();
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const jet::PropertyMap* map = blob.Find(def.columns[i].name);
    if (!map) continue;
    ColumnRules& r = table.rules[i];
    if (auto* p = map->Find("Required")) r.required = p->Value().ToBoolean();
    if (auto* p = map->Find("AllowZeroLength")) r.allow_zero_length = p->Value().ToBoolean();
    if (auto* p = map->Find("DefaultValue")) r.default_value = p->Value().ToString();
    if (auto* p = map->Find("ValidationRule")) r.validation_rule = p->Value().ToString();
    if (auto* p = map->Find("ValidationText")) r.validation_text = p->Value().ToString();
  }
  table.rules_loaded = true;
  return table.rules;
}

void DatabaseState::ForgetTable(std::uint32_t page) {
  tables.erase(page);
  CatalogChanged();
}

void DatabaseState::CheckWritable(std::string_view source) {
  if (read_only || Jet(source).ReadOnly()) Raise(*engine, err::kReadOnly, source);
}

void DatabaseState::FlushToFile() {
  if (db && !db->ReadOnly()) db->Flush();
}

void DatabaseState::Close() {
  for (auto& w : recordsets)
    if (auto rs = w.lock()) {
      rs->Impl().closed = true;
      rs->Impl().edit_mode = dbEditNone;
    }
  recordsets.clear();
  tables.clear();
  catalog_cache.reset();
  if (db) {
    std::unique_ptr<jet::Database> closing = std::move(db);
    closing->Close();
  }
}

// ---- opening and creating files ----

namespace {

// What a Connect or Locale text holds: its leading type (an ISAM name) and key=value parts.
struct ConnectParts {
  std::string type;
  std::vector<std::pair<std::string, std::string>> values;
  const std::string* Find(std::string_view key) const {
    for (const auto& [k, v] : values)
      if (SameName(k, key)) return &v;
    return nullptr;
  }
};

std::string TrimBlanks(std::string s) {
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

ConnectParts ParseConnect(const std::string& text) {
  ConnectParts out;
  std::size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    std::string part = text.substr(start, end - start);
    std::size_t eq = part.find('=');
    if (eq == std::string::npos) {
      if (first) out.type = TrimBlanks(part);
    } else {
      out.values.emplace_back(TrimBlanks(part.substr(0, eq)), part.substr(eq + 1));
    }
    first = false;
    start = end + 1;
  }
  return out;
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

// The checks DAO makes before it touches a path: 3044 for a directory that is not there.
void CheckDirectory(EngineState& engine, const std::string& path, std::string_view source) {
  // Only real directories can be checked; other file systems have files alone.
  if (engine.file_system) return;
  std::string dir = DirectoryOf(path);
  if (!dir.empty() && !engine.Files().Exists(dir)) Raise(engine, err::kInvalidPath, source, dir);
}

}  // namespace

std::shared_ptr<Database> OpenFile(const std::shared_ptr<WorkspaceState>& w,
                                   const std::string& name, bool exclusive, bool read_only,
                                   const std::string& connect, std::string_view source) {
  EngineState& engine = *w->engine;
  w->CheckOpen(source);
  if (w->type == dbUseODBC)
    RaiseText(engine, err::kNotSupported, source,
              WithDetail(err::kNotSupported,
                         "an ODBCDirect workspace cannot open Jet databases; use a workspace of "
                         "type 2"));
  ConnectParts parts = ParseConnect(connect);
  if (!parts.type.empty() && !SameName(parts.type, "MS Access"))
    Raise(engine, err::kNoInstallableIsam, source);
  if (name.empty()) Raise(engine, err::kFileNotFound, source, name);
  if (!engine.Files().Exists(name)) {
    CheckDirectory(engine, name, source);
    Raise(engine, err::kFileNotFound, source, name);
  }
  jet::OpenOptions options;
  options.read_only = read_only;
  options.file_system = engine.file_system;
  std::unique_ptr<jet::Database> db;
  try {
    db = jet::Database::Open(name, options);
  } catch (const jet::JetError& e) {
    switch (e.Code()) {
      case jet::ErrorCode::kNotADatabase:
      case jet::ErrorCode::kUnsupportedVersion:
        RaiseText(engine, err::kUnrecognizedFormat, source,
                  ErrorText(err::kUnrecognizedFormat, name) + " (" + e.what() + ")");
      case jet::ErrorCode::kLocked:
        Raise(engine, err::kFileInUse, source, name);
      case jet::ErrorCode::kPasswordProtected:
        RaiseText(engine, err::kInvalidPassword, source,
                  WithDetail(err::kInvalidPassword, e.what()));
      default:
        throw;
    }
  } catch (const jet::CorruptDatabase& e) {
    RaiseText(engine, err::kCorruptDatabase, source,
              ErrorText(err::kCorruptDatabase, name) + " (" + e.what() + ")");
  } catch (const core::EFileError& e) {
    if (std::strstr(e.what(), "ermission") != nullptr)
      Raise(engine, err::kCannotOpenFile, source, name);
    throw;
  }
  auto state = std::make_shared<DatabaseState>();
  state->engine = w->engine;
  state->workspace = w;
  state->db = std::move(db);
  state->name = name;
  state->connect = connect;
  state->read_only = read_only || state->db->ReadOnly();
  state->exclusive = exclusive;
  w->databases.push_back(state);
  engine.databases.push_back(state);
  return std::make_shared<Database>(state);
}

std::shared_ptr<Database> CreateFile(const std::shared_ptr<WorkspaceState>& w,
                                     const std::string& name, const std::string& locale,
                                     int options, std::string_view source) {
  EngineState& engine = *w->engine;
  w->CheckOpen(source);
  if (w->type == dbUseODBC)
    RaiseText(engine, err::kNotSupported, source,
              WithDetail(err::kNotSupported, "an ODBCDirect workspace cannot create databases"));
  ConnectParts parts = ParseConnect(locale);
  const std::string* langid = parts.Find("LANGID");
  const std::string* cp = parts.Find("CP");
  if (!langid || !cp || !parts.type.empty()) Raise(engine, err::kInvalidLocale, source);
  // LANGID names the sort order: General (0x0409) or a national one whose keys are written.
  jet::SortOrder order{0, 0};
  {
    const std::string id = TrimBlanks(*langid);
    unsigned long value = 0;
    char* end = nullptr;
    if (id.size() > 2 && id[0] == '0' && (id[1] == 'x' || id[1] == 'X'))
      value = std::strtoul(id.c_str() + 2, &end, 16);
    if (end && *end == '\0' && value > 0 && value <= 0xFFFF)
      order.locale = static_cast<std::uint16_t>(value);
  }
  if (order.locale == 0 || !jet::CanWriteTextKeys(order))
    RaiseText(engine, err::kInvalidLocale, source,
              WithDetail(err::kInvalidLocale,
                         "this engine creates databases in the General sort order "
                         "(;LANGID=0x0409;CP=1252;COUNTRY=0) and in the Czech, Slovak, Polish, "
                         "Croatian, Slovenian and Turkish ones"));
  (void)cp;
  if (parts.Find("PWD"))
    RaiseText(engine, err::kInvalidArgument, source,
              WithDetail(err::kInvalidArgument, "database passwords are not supported"));
  if (options & dbEncrypt)
    RaiseText(engine, err::kInvalidArgument, source,
              WithDetail(err::kInvalidArgument, "encrypted databases are not supported"));
  if (options & (dbVersion10 | dbVersion11 | dbVersion20 | dbVersion30))
    RaiseText(
        engine, err::kInvalidArgument, source,
        WithDetail(err::kInvalidArgument, "only the Jet 4.0 format (option 64) can be created"));
  if (name.empty()) Raise(engine, err::kInvalidPath, source, name);
  if (engine.Files().Exists(name)) Raise(engine, err::kDatabaseExists, source);
  CheckDirectory(engine, name, source);
  jet::OpenOptions o;
  o.file_system = engine.file_system;
  o.sort_order = order;
  std::unique_ptr<jet::Database> db;
  try {
    db = jet::Database::Create(name, o);
  } catch (const jet::JetError& e) {
    if (e.Code() == jet::ErrorCode::kAlreadyExists) Raise(engine, err::kDatabaseExists, source);
    throw;
  } catch (const core::EFileError& e) {
    if (std::strstr(e.what(), "ermission") != nullptr)
      Raise(engine, err::kCannotOpenFile, source, name);
    throw;
  }
  auto state = std::make_shared<DatabaseState>();
  state->engine = w->engine;
  state->workspace = w;
  state->db = std::move(db);
  state->name = name;
  state->exclusive = true;
  w->databases.push_back(state);
  engine.databases.push_back(state);
  return std::make_shared<Database>(state);
}

}  // namespace detail

using detail::Guard;

// ---- Database ----

Database::Database(std::shared_ptr<detail::DatabaseState> state) : s_(std::move(state)) {}

Database::~Database() = default;

std::string Database::Name() const {
  return s_->name;
}

std::string Database::Connect() const {
  return s_->connect;
}

std::string Database::Version() const {
  return Guard(*s_->engine, source::kDatabase,
               [&] { return s_->Jet(source::kDatabase).VersionText(); });
}

std::int32_t Database::CollatingOrder() const {
  return Guard(*s_->engine, source::kDatabase,
               [&] { return s_->Jet(source::kDatabase).CollatingOrder(); });
}

int Database::QueryTimeout() const {
  return s_->query_timeout;
}

void Database::SetQueryTimeout(int seconds) {
  Guard(*s_->engine, source::kDatabase, [&] {
    s_->Jet(source::kDatabase);
    if (seconds < 0) detail::Raise(*s_->engine, err::kInvalidArgument, source::kDatabase);
    s_->query_timeout = seconds;
  });
}

bool Database::Updatable() const {
  return Guard(*s_->engine, source::kDatabase,
               [&] { return !s_->read_only && !s_->Jet(source::kDatabase).ReadOnly(); });
}

std::int32_t Database::RecordsAffected() const {
  return s_->records_affected;
}

dao::TableDefs& Database::TableDefs() {
  if (!tabledefs_) tabledefs_ = std::make_unique<dao::TableDefs>(s_);
  return *tabledefs_;
}

dao::QueryDefs& Database::QueryDefs() {
  if (!querydefs_) querydefs_ = std::make_unique<dao::QueryDefs>(s_);
  return *querydefs_;
}

dao::Recordsets& Database::Recordsets() {
  if (!recordsets_) recordsets_ = std::make_unique<dao::Recordsets>(s_);
  return *recordsets_;
}

dao::Containers& Database::Containers() {
  if (!containers_) {
    auto s = s_;
    containers_ = std::make_unique<dao::Containers>(s_->engine, source::kContainers, [s] {
      std::vector<std::string> names;
      for (const auto& e : s->Catalog(source::kContainers))
        if ((e.type & 0x7F) == jet::object_type::kContainer) names.push_back(e.name);
      return names;
    });
  }
  return *containers_;
}

dao::Relations& Database::Relations() {
  if (!relations_) {
    auto s = s_;
    relations_ = std::make_unique<dao::Relations>(s_->engine, source::kRelations, [s] {
      std::vector<std::string> names;
      for (const auto& e : s->Catalog(source::kRelations))
        if ((e.type & 0x7F) == jet::object_type::kRelationship) names.push_back(e.name);
      return names;
    });
  }
  return *relations_;
}

dao::Properties& Database::Properties() {
  if (!properties_) {
    auto s = s_;
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(s_->engine, std::string(source::kDatabase), [s] {
          jet::Database& j = s->Jet(source::kDatabase);
          return std::vector<detail::PropertyInfo>{
              detail::BuiltInProperty("Name", dbText, core::Variant(s->name)),
              detail::BuiltInProperty("Connect", dbText, core::Variant(s->connect)),
              detail::BuiltInProperty("Transactions", dbBoolean, core::Variant::FromBoolean(true)),
              detail::BuiltInProperty("Updatable", dbBoolean,
                                      core::Variant::FromBoolean(!s->read_only && !j.ReadOnly())),
              detail::BuiltInProperty("CollatingOrder", dbLong,
                                      core::Variant::FromLong(j.CollatingOrder())),
              detail::BuiltInProperty(
                  "QueryTimeout", dbInteger,
                  core::Variant::FromInteger(static_cast<std::int16_t>(s->query_timeout))),
              detail::BuiltInProperty("Version", dbText, core::Variant(j.VersionText())),
              detail::BuiltInProperty("RecordsAffected", dbLong,
                                      core::Variant::FromLong(s->records_affected)),
          };
        }));
  }
  return *properties_;
}

namespace {

bool LooksLikeSql(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
    ++i;
  text.remove_prefix(i);
  if (!text.empty() && text.front() == '(') return true;
  for (std::string_view word : {"select", "parameters", "transform"}) {
    if (text.size() > word.size() && detail::SameName(text.substr(0, word.size()), word) &&
        (text[word.size()] == ' ' || text[word.size()] == '\t' || text[word.size()] == '\r' ||
         text[word.size()] == '\n' || text[word.size()] == '['))
      return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<Recordset> Database::OpenRecordset(const std::string& source_text, int type,
                                                   int options, int lock_edit) {
  return Guard(*s_->engine, source::kDatabase, [&]() -> std::shared_ptr<Recordset> {
    s_->Jet(source::kDatabase);
    if (type == dbOpenDynamic) detail::Raise(*s_->engine, err::kInvalidArgument, source::kDatabase);
    if (type != 0 && type != dbOpenTable && type != dbOpenDynaset && type != dbOpenSnapshot &&
        type != dbOpenForwardOnly)
      detail::Raise(*s_->engine, err::kInvalidArgument, source::kDatabase);
    if ((options & dbInconsistent) && (options & dbConsistent))
      detail::Raise(*s_->engine, err::kInvalidArgument, source::kDatabase);
    if ((options & dbReadOnly) && lock_edit == dbReadOnly)
      detail::Raise(*s_->engine, err::kInvalidArgument, source::kDatabase);
    if (!LooksLikeSql(source_text)) {
      std::optional<jet::CatalogEntry> e = s_->FindObject(source_text, source::kDatabase);
      if (e && e->IsTable()) {
        int t = type == 0 ? dbOpenTable : type;
        return detail::OpenTableRecordset(s_, e->name, t, options, lock_edit, source::kDatabase);
      }
      if (type == dbOpenTable) {
        if (e) detail::Raise(*s_->engine, err::kInvalidOperation, source::kDatabase);
        detail::Raise(*s_->engine, err::kObjectNotFound, source::kDatabase, source_text);
      }
      if (e && e->IsQuery())
        return QueryDefs().Item(e->name)->OpenRecordset(type, options, lock_edit);
      detail::Raise(*s_->engine, err::kInputTableNotFound, source::kDatabase, source_text);
    }
    if (type == dbOpenTable) detail::Raise(*s_->engine, err::kInvalidOperation, source::kDatabase);
    return detail::OpenSqlRecordset(s_, source_text, type, options, lock_edit, {});
  });
}

std::shared_ptr<TableDef> Database::CreateTableDef(const std::string& name, std::int32_t attributes,
                                                   const std::string& source_table,
                                                   const std::string& connect) {
  return Guard(*s_->engine, source::kDatabase, [&] {
    s_->Jet(source::kDatabase);
    auto t = std::make_shared<detail::TableDefState>();
    t->engine = s_->engine;
    t->db = s_;
    t->name = name;
    t->attributes = attributes;
    t->source_table = source_table;
    t->connect = connect;
    return std::make_shared<TableDef>(t);
  });
}

std::shared_ptr<Property> Database::CreateProperty(const std::string& name, int type,
                                                   const core::Variant& value, bool ddl) {
  return std::make_shared<Property>(s_->engine, name, type, value, ddl);
}

void Database::Execute(const std::string& query, int options) {
  (void)options;
  Guard(*s_->engine, source::kDatabase, [&] {
    s_->Jet(source::kDatabase);
    if (LooksLikeSql(query))
      detail::Raise(*s_->engine, err::kCannotExecuteSelect, source::kDatabase);
    detail::ExecuteSql(s_, query, options);
  });
}

void Database::Commit() {
  Guard(*s_->engine, source::kDatabase, [&] {
    if (!s_->IsOpen()) detail::Raise(*s_->engine, err::kObjectInvalid, source::kDatabase);
    s_->FlushToFile();
  });
}

void Database::Close() {
  Guard(*s_->engine, source::kDatabase, [&] {
    if (!s_->IsOpen()) detail::Raise(*s_->engine, err::kObjectInvalid, source::kDatabase);
    s_->Close();
    if (auto w = s_->workspace.lock()) w->OpenDatabases();
  });
}

// ---- Recordsets ----

Recordsets::Recordsets(std::shared_ptr<detail::DatabaseState> db) : db_(std::move(db)) {}

int Recordsets::Count() const {
  int n = 0;
  for (auto& w : db_->recordsets)
    if (auto rs = w.lock(); rs && !rs->Impl().closed) ++n;
  return n;
}

std::shared_ptr<Recordset> Recordsets::Item(int index) const {
  return Guard(*db_->engine, source::kRecordsets, [&] {
    int n = 0;
    for (auto& w : db_->recordsets)
      if (auto rs = w.lock(); rs && !rs->Impl().closed) {
        if (n == index) return rs;
        ++n;
      }
    detail::Raise(*db_->engine, err::kItemNotFound, source::kRecordsets);
  });
}

}  // namespace dao

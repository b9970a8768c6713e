// DBEngine, Workspace and Database: opening and creating files, errors, Idle.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "core/datetime.h"
#include "jetsql/collation.h"
#include "recordset_impl.h"

namespace dao {
namespace detail {

// ---- errors ----

core::FileSystem& EngineState::Files() const {
  return file_system ? *file_system : core::FileSystem::Native();
}

void Record(EngineState& engine, const core::EOleException& error) {
  engine.errors.clear();
  engine.errors.push_back(Error{error.ErrorCode(), error.Source(), error.Description(),
                                error.HelpFile(), error.HelpContext()});
}

void Raise(EngineState& engine, int number, std::string_view source, std::string_view insert1,
           std::string_view insert2) {
  core::EOleException e = MakeError(number, source, insert1, insert2);
  Record(engine, e);
  throw e;
}

void RaiseText(EngineState& engine, int number, std::string_view source,
               const std::string& description) {
  core::EOleException e(description, number, std::string(source), kHelpFile, HelpContextOf(number));
  Record(engine, e);
  throw e;
}

namespace {

// DAO's text, with what the storage engine said when that adds something.
std::string WithDetail(int number, const std::string& detail) {
  std::string text = ErrorText(number);
  if (detail.empty() || detail == text) return text;
  return text + " (" + detail + ")";
}

int NumberOfJetError(jet::ErrorCode code) {
  switch (code) {
    case jet::ErrorCode::kDuplicateKey:
      return err::kDuplicateKey;
    case jet::ErrorCode::kNullNotAllowed:
      return err::kNullInIndex;
    case jet::ErrorCode::kReadOnly:
      return err::kReadOnly;
    case jet::ErrorCode::kRowTooLarge:
      return err::kRecordTooLarge;
    case jet::ErrorCode::kDatabaseFull:
      return err::kDiskFull;
    case jet::ErrorCode::kValueInvalid:
      return err::kConversionError;
    case jet::ErrorCode::kNotFound:
      return err::kObjectNotFound;
    case jet::ErrorCode::kAlreadyExists:
      return err::kObjectExists;
    case jet::ErrorCode::kLocked:
      return err::kFileInUse;
    case jet::ErrorCode::kPasswordProtected:
      return err::kInvalidPassword;
    case jet::ErrorCode::kNotADatabase:
    case jet::ErrorCode::kUnsupportedVersion:
      return err::kUnrecognizedFormat;
    case jet::ErrorCode::kUnsupportedType:
      return err::kInvalidFieldType;
    case jet::ErrorCode::kInvalidDefinition:
    case jet::ErrorCode::kGeneral:
      return err::kInvalidArgument;
  }
  return err::kInvalidArgument;
}

}  // namespace

void RethrowAsDao(EngineState& engine, std::string_view source) {
  try {
    throw;
  } catch (const core::EOleException& e) {
    Record(engine, e);
    throw;
  } catch (const jet::JetError& e) {
    int number = NumberOfJetError(e.Code());
    // These two are DAO's own words already; the rest keep the engine's explanation.
    std::string text = (number == err::kDuplicateKey || number == err::kNullInIndex)
                           ? ErrorText(number)
                           : WithDetail(number, e.what());
    RaiseText(engine, number, source, text);
  } catch (const jet::CorruptDatabase& e) {
    RaiseText(engine, err::kCorruptDatabase, source,
              ErrorText(err::kCorruptDatabase, e.File()) + " (" + e.what() + ")");
  } catch (const core::EFileError& e) {
    RaiseText(engine, err::kDiskError, source, WithDetail(err::kDiskError, e.what()));
  } catch (const jet::KeyEncodingError& e) {
    RaiseText(engine, err::kInvalidOperation, source, WithDetail(err::kInvalidOperation, e.what()));
  } catch (const std::bad_alloc&) {
    Raise(engine, err::kOutOfMemory, source);
  } catch (const std::exception& e) {
    RaiseText(engine, err::kInvalidArgument, source, WithDetail(err::kInvalidArgument, e.what()));
  }
}

bool SameName(std::string_view a, std::string_view b) {
  return jetsql::NamesEqual(a, b);
}

// ---- per-database state ----

void WorkspaceState::CheckOpen(std::string_view source) const {
  if (closed) Raise(*engine, err::kObjectInvalid, source);
}

std::vector<std::shared_ptr<DatabaseState>> WorkspaceState::OpenDatabases() {
  std::vector<std::shared_ptr<DatabaseState>> out;
  databases.erase(std::remove_if(databases.begin(), databases.end(),
                                 [&](const std::weak_ptr<DatabaseState>& w) {
                                   auto d = w.lock();
                                   if (!d || !d->IsOpen()) return true;
                                   out.push_back(std::move(d));
                                   return false;
                                 }),
                  databases.end());
  return out;
}

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

// ---- property hosts ----

void PropertyHost::Set(const std::string& name, const core::Variant& value) {
  (void)value;
  for (const auto& p : List())
    if (SameName(p.name, name)) Raise(*engine, err::kInvalidOperation, source);
  Raise(*engine, err::kPropertyNotFound, source::kProperties);
}

void PropertyHost::Append(const std::string& name, int type, const core::Variant& value, bool ddl) {
  (void)name;
  (void)type;
  (void)value;
  (void)ddl;
  Raise(*engine, err::kInvalidOperation, source::kProperties);
}

void PropertyHost::Remove(const std::string& name) {
  for (const auto& p : List())
    if (SameName(p.name, name)) Raise(*engine, err::kBuiltInProperty, source::kProperties);
  Raise(*engine, err::kPropertyNotFound, source::kProperties);
}

namespace {

struct FixedHost final : PropertyHost {
  std::function<std::vector<PropertyInfo>()> list;
  std::vector<PropertyInfo> List() override { return list(); }
};

PropertyInfo Info(std::string name, int type, core::Variant value) {
  return PropertyInfo{std::move(name), type, std::move(value), false};
}

}  // namespace

std::shared_ptr<PropertyHost> MakeFixedProperties(std::shared_ptr<EngineState> engine,
                                                  std::string source,
                                                  std::function<std::vector<PropertyInfo>()> list) {
  auto host = std::make_shared<FixedHost>();
  host->engine = std::move(engine);
  host->source = std::move(source);
  host->list = std::move(list);
  return host;
}

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

}  // namespace
}  // namespace detail

using detail::Guard;

// ---- Errors ----

Errors::Errors(std::shared_ptr<detail::EngineState> engine) : engine_(std::move(engine)) {}

int Errors::Count() const {
  return static_cast<int>(engine_->errors.size());
}

const Error& Errors::Item(int index) const {
  if (index < 0 || index >= Count()) {
    // Looking up a missing error is itself an error, but it must not replace the list.
    throw MakeError(err::kItemNotFound, source::kErrors);
  }
  return engine_->errors[static_cast<std::size_t>(index)];
}

// ---- DBEngine ----

DBEngine::DBEngine() : s_(std::make_shared<detail::EngineState>()) {}

DBEngine::~DBEngine() {
  // Workspaces refer back to the engine's state for its Errors; the engine lets go of them
  // so that nothing keeps the other alive once the callers are done.
  s_->default_workspace.reset();
  s_->workspaces.clear();
}

std::shared_ptr<DBEngine> DBEngine::Create(core::FileSystem* files) {
  std::shared_ptr<DBEngine> engine(new DBEngine());
  engine->s_->file_system = files;
  return engine;
}

std::string DBEngine::SystemDB() const {
  return s_->system_db;
}

void DBEngine::SetSystemDB(const std::string& path) {
  s_->system_db = path;
}

std::string DBEngine::DefaultUser() const {
  return s_->default_user;
}

void DBEngine::SetDefaultUser(const std::string& user) {
  Guard(*s_, source::kDBEngine, [&] {
    if (user.empty() || user.size() > 20 || user.front() == ' ' ||
        user.find_first_of("\"/\\[]:|<>+=;,?*") != std::string::npos)
      detail::Raise(*s_, err::kInvalidArgument, source::kDBEngine);
    s_->default_user = user;
  });
}

std::string DBEngine::DefaultPassword() const {
  return s_->default_password;
}

void DBEngine::SetDefaultPassword(const std::string& password) {
  Guard(*s_, source::kDBEngine, [&] {
    if (password.size() > 20) detail::Raise(*s_, err::kInvalidArgument, source::kDBEngine);
    s_->default_password = password;
  });
}

int DBEngine::DefaultType() const {
  return s_->default_type;
}

void DBEngine::SetDefaultType(int type) {
  Guard(*s_, source::kDBEngine, [&] {
    if (type != dbUseJet && type != dbUseODBC)
      detail::Raise(*s_, err::kInvalidArgument, source::kDBEngine);
    s_->default_type = type;
  });
}

std::string DBEngine::IniPath() const {
  return s_->ini_path;
}

void DBEngine::SetIniPath(const std::string& path) {
  s_->ini_path = path;
}

int DBEngine::LoginTimeout() const {
  return s_->login_timeout;
}

void DBEngine::SetLoginTimeout(int seconds) {
  s_->login_timeout = seconds;
}

std::shared_ptr<Workspace> DBEngine::CreateWorkspace(const std::string& name,
                                                     const std::string& user,
                                                     const std::string& password, int use_type) {
  return Guard(*s_, source::kDBEngine, [&] {
    int type = use_type == 0 ? s_->default_type : use_type;
    if (type != dbUseJet && type != dbUseODBC)
      detail::Raise(*s_, err::kInvalidArgument, source::kDBEngine);
    if (name.size() > 20 || password.size() > 20)
      detail::Raise(*s_, err::kInvalidArgument, source::kDBEngine);
    auto w = std::make_shared<detail::WorkspaceState>();
    w->engine = s_;
    w->name = name;
    w->user = user;
    w->password = password;
    w->type = type;
    return std::make_shared<Workspace>(w);
  });
}

dao::Workspaces& DBEngine::Workspaces() {
  if (!workspaces_) workspaces_ = std::make_unique<dao::Workspaces>(s_);
  return *workspaces_;
}

dao::Errors& DBEngine::Errors() {
  if (!errors_) errors_ = std::make_unique<dao::Errors>(s_);
  return *errors_;
}

dao::Properties& DBEngine::Properties() {
  if (!properties_) {
    auto s = s_;
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(s_, std::string(source::kDBEngine), [s] {
          return std::vector<detail::PropertyInfo>{
              detail::Info("Version", dbText, core::Variant("3.6")),
              detail::Info("IniPath", dbText, core::Variant(s->ini_path)),
              detail::Info("LoginTimeout", dbInteger,
                           core::Variant::FromInteger(static_cast<std::int16_t>(s->login_timeout))),
              detail::Info("DefaultType", dbLong, core::Variant::FromLong(s->default_type)),
              detail::Info("SystemDB", dbText, core::Variant(s->system_db)),
          };
        }));
  }
  return *properties_;
}

void DBEngine::Idle(int action) {
  Guard(*s_, source::kDBEngine, [&] {
    if ((action & dbRefreshCache) == 0) return;
    // Writing every page at each call would make a record loop that calls Idle per record
    // crawl; pending writes reach the file at most every two seconds and always at Close.
    // The clock itself is read every 64th call only.
    using clock = std::chrono::steady_clock;
    static thread_local clock::time_point last = clock::now();
    static thread_local unsigned calls = 0;
    if (++calls % 64 != 0) return;
    clock::time_point now = clock::now();
    if (now - last < std::chrono::seconds(2)) return;
    last = now;
    auto& list = s_->databases;
    list.erase(std::remove_if(list.begin(), list.end(), [](const auto& w) { return w.expired(); }),
               list.end());
    for (auto& w : list)
      if (auto db = w.lock()) db->FlushToFile();
  });
}

std::shared_ptr<Database> DBEngine::OpenDatabase(const std::string& name, bool exclusive,
                                                 bool read_only, const std::string& connect) {
  auto w = Workspaces().Item(0);
  return Guard(*s_, source::kDBEngine, [&] {
    return detail::OpenFile(w->State(), name, exclusive, read_only, connect, source::kDBEngine);
  });
}

std::shared_ptr<Database> DBEngine::CreateDatabase(const std::string& name,
                                                   const std::string& locale, int options) {
  auto w = Workspaces().Item(0);
  return Guard(*s_, source::kDBEngine, [&] {
    return detail::CreateFile(w->State(), name, locale, options, source::kDBEngine);
  });
}

// ---- Workspaces ----

Workspaces::Workspaces(std::shared_ptr<detail::EngineState> engine) : engine_(std::move(engine)) {}

namespace {

// Workspaces(0) exists as soon as anyone asks for it.
void EnsureDefault(detail::EngineState& e, const std::shared_ptr<detail::EngineState>& self) {
  if (e.default_workspace) return;
  auto w = std::make_shared<detail::WorkspaceState>();
  w->engine = self;
  w->name = "#Default Workspace#";
  w->user = e.default_user == "admin" ? "Admin" : e.default_user;
  w->password = e.default_password;
  w->type = e.default_type;
  w->appended = true;
  e.default_workspace = std::make_shared<Workspace>(w);
}

}  // namespace

int Workspaces::Count() const {
  EnsureDefault(*engine_, engine_);
  return 1 + static_cast<int>(engine_->workspaces.size());
}

std::shared_ptr<Workspace> Workspaces::Item(int index) const {
  return Guard(*engine_, source::kWorkspaces, [&] {
    EnsureDefault(*engine_, engine_);
    if (index == 0) return engine_->default_workspace;
    if (index < 0 || index > static_cast<int>(engine_->workspaces.size()))
      detail::Raise(*engine_, err::kItemNotFound, source::kWorkspaces);
    return engine_->workspaces[static_cast<std::size_t>(index - 1)];
  });
}

std::shared_ptr<Workspace> Workspaces::Item(std::string_view name) const {
  return Guard(*engine_, source::kWorkspaces, [&] {
    EnsureDefault(*engine_, engine_);
    if (detail::SameName(engine_->default_workspace->Name(), name))
      return engine_->default_workspace;
    for (auto& w : engine_->workspaces)
      if (detail::SameName(w->Name(), name)) return w;
    detail::Raise(*engine_, err::kItemNotFound, source::kWorkspaces);
  });
}

void Workspaces::Append(const std::shared_ptr<Workspace>& workspace) {
  Guard(*engine_, source::kWorkspaces, [&] {
    if (!workspace) detail::Raise(*engine_, err::kInvalidArgument, source::kWorkspaces);
    EnsureDefault(*engine_, engine_);
    auto& s = *workspace->State();
    if (s.appended) detail::Raise(*engine_, err::kNameExists, source::kWorkspaces);
    if (s.name.empty()) detail::Raise(*engine_, err::kInvalidArgument, source::kWorkspaces);
    for (auto& w : engine_->workspaces)
      if (detail::SameName(w->Name(), s.name))
        detail::Raise(*engine_, err::kNameExists, source::kWorkspaces);
    s.appended = true;
    engine_->workspaces.push_back(workspace);
  });
}

void Workspaces::Delete(std::string_view name) {
  Guard(*engine_, source::kWorkspaces, [&] {
    auto& list = engine_->workspaces;
    for (auto it = list.begin(); it != list.end(); ++it)
      if (detail::SameName((*it)->Name(), name)) {
        (*it)->State()->appended = false;
        list.erase(it);
        return;
      }
    detail::Raise(*engine_, err::kItemNotFound, source::kWorkspaces);
  });
}

// ---- Workspace ----

Workspace::Workspace(std::shared_ptr<detail::WorkspaceState> state) : s_(std::move(state)) {}

Workspace::~Workspace() = default;

std::string Workspace::Name() const {
  return s_->name;
}

void Workspace::SetName(const std::string& name) {
  Guard(*s_->engine, source::kWorkspace, [&] {
    if (s_->appended)
      detail::Raise(*s_->engine, err::kPropertyReadOnlyOnceAppended, source::kWorkspace);
    if (name.size() > 20) detail::Raise(*s_->engine, err::kInvalidArgument, source::kWorkspace);
    s_->name = name;
  });
}

std::string Workspace::UserName() const {
  return s_->user;
}

int Workspace::Type() const {
  return s_->type;
}

int Workspace::DefaultCursorDriver() const {
  return s_->cursor_driver;
}

void Workspace::SetDefaultCursorDriver(int driver) {
  Guard(*s_->engine, source::kWorkspace, [&] {
    if (driver < -1 || driver > 4)
      detail::Raise(*s_->engine, err::kInvalidArgument, source::kWorkspace);
    s_->cursor_driver = driver;
  });
}

std::shared_ptr<Database> Workspace::OpenDatabase(const std::string& name, bool exclusive,
                                                  bool read_only, const std::string& connect) {
  return Guard(*s_->engine, source::kWorkspace, [&] {
    return detail::OpenFile(s_, name, exclusive, read_only, connect, source::kWorkspace);
  });
}

std::shared_ptr<Database> Workspace::CreateDatabase(const std::string& name,
                                                    const std::string& locale, int options) {
  return Guard(*s_->engine, source::kWorkspace,
               [&] { return detail::CreateFile(s_, name, locale, options, source::kWorkspace); });
}

void Workspace::Close() {
  Guard(*s_->engine, source::kWorkspace, [&] {
    s_->CheckOpen(source::kWorkspace);
    s_->closed = true;
    std::exception_ptr failure;
    for (auto& db : s_->OpenDatabases()) {
      try {
        db->Close();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    s_->databases.clear();
    // A closed workspace leaves the Workspaces collection; a closed default workspace is made
    // again when next asked for.
    auto& e = *s_->engine;
    if (e.default_workspace && e.default_workspace->State() == s_) e.default_workspace.reset();
    e.workspaces.erase(std::remove_if(e.workspaces.begin(), e.workspaces.end(),
                                      [&](const auto& w) { return w->State() == s_; }),
                       e.workspaces.end());
    s_->appended = false;
    if (failure) std::rethrow_exception(failure);
  });
}

dao::Databases& Workspace::Databases() {
  if (!databases_) databases_ = std::make_unique<dao::Databases>(s_);
  return *databases_;
}

dao::Users& Workspace::Users() {
  if (!users_) {
    auto s = s_;
    users_ = std::make_unique<dao::Users>(s_->engine, source::kUsers, [s] {
      return std::vector<std::string>{"admin", "Creator", "Engine"};
    });
  }
  return *users_;
}

dao::Groups& Workspace::Groups() {
  if (!groups_)
    groups_ = std::make_unique<dao::Groups>(s_->engine, source::kGroups, [] {
      return std::vector<std::string>{"Admins", "Users"};
    });
  return *groups_;
}

dao::Properties& Workspace::Properties() {
  if (!properties_) {
    auto s = s_;
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(s_->engine, std::string(source::kWorkspace), [s] {
          return std::vector<detail::PropertyInfo>{
              detail::Info("Name", dbText, core::Variant(s->name)),
              detail::Info("UserName", dbText, core::Variant(s->user)),
              detail::Info("IsolateODBCTrans", dbBoolean, core::Variant::FromBoolean(false)),
              detail::Info("Type", dbLong, core::Variant::FromLong(s->type)),
          };
        }));
  }
  return *properties_;
}

// ---- Databases ----

Databases::Databases(std::shared_ptr<detail::WorkspaceState> workspace)
    : w_(std::move(workspace)) {}

int Databases::Count() const {
  return static_cast<int>(w_->OpenDatabases().size());
}

std::shared_ptr<Database> Databases::Item(int index) const {
  return Guard(*w_->engine, source::kDatabases, [&] {
    auto open = w_->OpenDatabases();
    if (index < 0 || index >= static_cast<int>(open.size()))
      detail::Raise(*w_->engine, err::kItemNotFound, source::kDatabases);
    return std::make_shared<Database>(open[static_cast<std::size_t>(index)]);
  });
}

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
              detail::Info("Name", dbText, core::Variant(s->name)),
              detail::Info("Connect", dbText, core::Variant(s->connect)),
              detail::Info("Transactions", dbBoolean, core::Variant::FromBoolean(true)),
              detail::Info("Updatable", dbBoolean,
                           core::Variant::FromBoolean(!s->read_only && !j.ReadOnly())),
              detail::Info("CollatingOrder", dbLong, core::Variant::FromLong(j.CollatingOrder())),
              detail::Info("QueryTimeout", dbInteger,
                           core::Variant::FromInteger(static_cast<std::int16_t>(s->query_timeout))),
              detail::Info("Version", dbText, core::Variant(j.VersionText())),
              detail::Info("RecordsAffected", dbLong, core::Variant::FromLong(s->records_affected)),
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

// ---- NameCollection ----

NameCollection::NameCollection(std::shared_ptr<detail::EngineState> engine, std::string_view source,
                               std::function<std::vector<std::string>()> names)
    : engine_(std::move(engine)), source_(source), names_(std::move(names)) {}

int NameCollection::Count() const {
  return Guard(*engine_, source_, [&] { return static_cast<int>(names_().size()); });
}

std::string NameCollection::Item(int index) const {
  return Guard(*engine_, source_, [&] {
    auto names = names_();
    if (index < 0 || index >= static_cast<int>(names.size()))
      detail::Raise(*engine_, err::kItemNotFound, source_);
    return names[static_cast<std::size_t>(index)];
  });
}

}  // namespace dao

// DBEngine, Workspaces, Workspace and Databases, and the collections that only list names
// (Users, Groups, Containers, Relations).
#include <algorithm>
#include <chrono>

#include "jetsql/collation.h"
#include "state.h"

namespace dao {
namespace detail {

core::FileSystem& EngineState::Files() const {
  return file_system ? *file_system : core::FileSystem::Native();
}

bool SameName(std::string_view a, std::string_view b) {
  return jetsql::NamesEqual(a, b);
}

// ---- workspaces ----

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

}  // namespace detail

using detail::Guard;

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
              detail::BuiltInProperty("Version", dbText, core::Variant("3.6")),
              detail::BuiltInProperty("IniPath", dbText, core::Variant(s->ini_path)),
              detail::BuiltInProperty(
                  "LoginTimeout", dbInteger,
                  core::Variant::FromInteger(static_cast<std::int16_t>(s->login_timeout))),
              detail::BuiltInProperty("DefaultType", dbLong,
                                      core::Variant::FromLong(s->default_type)),
              detail::BuiltInProperty("SystemDB", dbText, core::Variant(s->system_db)),
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
              detail::BuiltInProperty("Name", dbText, core::Variant(s->name)),
              detail::BuiltInProperty("UserName", dbText, core::Variant(s->user)),
              detail::BuiltInProperty("IsolateODBCTrans", dbBoolean,
                                      core::Variant::FromBoolean(false)),
              detail::BuiltInProperty("Type", dbLong, core::Variant::FromLong(s->type)),
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

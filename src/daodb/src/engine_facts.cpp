// What the database component knows about the engine and the machine: the DAO engine versions
// that can be created, the default system database, the database types, the ODBC drivers and
// data sources, and the sort-order language of the open database.
//
// Windows keeps these in the registry. Here the engine's class registrations live in the
// class-registration store (filled by this file, as an installer would), the system database
// in the machine's settings store, and the ODBC facts in unixODBC's own files, so that a machine
// with unixODBC shows its real drivers and data sources.
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "daodb/mx_dao_database.h"
#include "platform/registry.h"
#include "platform/settings_store.h"

namespace daodb {

namespace {

struct EngineClass {
  const char* prog_id;
  const char* clsid;
};
// Our engine answers to the DAO 3.6 class names; there is no 3.5 engine.
constexpr EngineClass kEngineClasses[] = {
    {"DAO.DBEngine.36", "{00000100-0000-0010-8000-00AA006D2EA4}"},
    {"DAO.PrivateDBEngine.36", "{00000101-0000-0010-8000-00AA006D2EA4}"},
};

void RegisterEngineClasses() {
  platform::SettingsStore& classes = platform::StoreFor(platform::SettingsRoot::ClassesRoot);
  for (const EngineClass& c : kEngineClasses) {
    std::string key = std::string(c.prog_id) + "\\CLSID";
    if (!classes.KeyExists(key))
      classes.WriteValue(key, "", platform::SettingsValue::String(c.clsid));
  }
}

// An engine made by its class name, as creating a COM object by ProgID would.
std::shared_ptr<dao::DBEngine> CreateEngineByProgId(std::string_view prog_id) {
  if (prog_id == "DAO.DBEngine.36") return SharedDaoEngine();
  if (prog_id == "DAO.PrivateDBEngine.36") return dao::DBEngine::Create();
  return nullptr;
}

std::mutex& OdbcMutex() {
  static std::mutex mutex;
  return mutex;
}
OdbcFiles& OdbcOverride() {
  static OdbcFiles files;
  return files;
}

// One section of an ini file: its name and its key=value lines in order.
struct IniSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
};

std::string Trim(std::string_view text) {
  std::size_t start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  std::size_t end = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(start, end - start + 1));
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// unixODBC's ini files: "[section]" lines, "key = value" lines, comments after ';' or '#' at
// the start of a line. A missing or unreadable file has no sections, as a missing key has none.
std::vector<IniSection> ReadIni(const std::string& path) {
  std::vector<IniSection> sections;
  if (path.empty()) return sections;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text.front() == '[') {
      std::size_t close = text.find(']');
      if (close == std::string::npos) continue;
      sections.push_back({Trim(std::string_view(text).substr(1, close - 1)), {}});
      continue;
    }
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || sections.empty()) continue;
    sections.back().values.emplace_back(Trim(std::string_view(text).substr(0, eq)),
                                        Trim(std::string_view(text).substr(eq + 1)));
  }
  return sections;
}

// Sections that hold settings of the ODBC manager rather than a driver or a data source.
bool IsManagerSection(std::string_view name) {
  return SameText(name, "ODBC") || SameText(name, "ODBC Drivers") ||
         SameText(name, "ODBC Data Sources") || SameText(name, "Default");
}

std::vector<std::string> SectionNames(const std::vector<IniSection>& sections) {
  std::vector<std::string> names;
  for (const IniSection& s : sections)
    if (!IsManagerSection(s.name)) names.push_back(s.name);
  return names;
}

// The file a data source names: its DBQ line (what the Access driver writes), else its
// Database line (what unixODBC's drivers use).
std::string DsnDatabaseFile(const std::vector<IniSection>& sections, std::string_view dsn) {
  for (const IniSection& s : sections) {
    if (!SameText(s.name, dsn)) continue;
    for (const char* key : {"DBQ", "Database"})
      for (const auto& [k, v] : s.values)
        if (SameText(k, key) && !v.empty()) return v;
  }
  return {};
}

std::string EnvOr(const char* name, std::string fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : fallback;
}

}  // namespace

void SetOdbcFiles(OdbcFiles files) {
  std::lock_guard lock(OdbcMutex());
  OdbcOverride() = std::move(files);
}

OdbcFiles CurrentOdbcFiles() {
  OdbcFiles files;
  {
    std::lock_guard lock(OdbcMutex());
    files = OdbcOverride();
  }
  std::string system_dir = EnvOr("ODBCSYSINI", "/etc");
  if (files.drivers.empty()) files.drivers = EnvOr("ODBCINSTINI", system_dir + "/odbcinst.ini");
  if (files.system_dsns.empty()) files.system_dsns = system_dir + "/odbc.ini";
  if (files.user_dsns.empty()) {
    std::string home = EnvOr("HOME", "");
    files.user_dsns = EnvOr("ODBCINI", home.empty() ? std::string() : home + "/.odbc.ini");
  }
  return files;
}

std::string CollatingOrderName(std::int32_t code) {
  switch (code) {
    case 1024:
      return "Neutral";
    case 1025:
      return "Arabic";
    case 1028:
      return "Traditional Chinese";
    case 1029:
      return "Czech";
    case 1030:
      return "Norwegian or Danish";
    case 1032:
      return "Greek";
    case 1033:
      return "General (English, French, German, Portuguese, Italian, and Modern Spanish)";
    case 1034:
      return "Spanish";
    case 1037:
      return "Hebrew";
    case 1038:
      return "Hungarian";
    case 1039:
      return "Icelandic";
    case 1041:
      return "Japanese";
    case 1042:
      return "Korean";
    case 1043:
      return "Dutch";
    case 1045:
      return "Polish";
    case 1049:
      return "Bulgarian or Russian";
    case 1053:
      return "Swedish or Finnish";
    case 1054:
      return "Thai";
    case 1055:
      return "Turkish";
    case 1060:
      return "Slovenian";
    case 2052:
      return "Simplified Chinese";
    case -1:
      return "Undefined or unknown";
    default:
      return {};
  }
}

void TMxDaoDatabase::DetectEngineVersions() {
  RegisterEngineClasses();
  FEngineVersions.Clear();
  platform::SettingsStore& classes = platform::StoreFor(platform::SettingsRoot::ClassesRoot);
  for (const auto& [version, prog_id] :
       {std::pair{"3.5", "DAO.DBEngine.35"}, std::pair{"3.6", "DAO.DBEngine.36"}}) {
    try {
      if (!classes.KeyExists(prog_id)) continue;
      if (auto engine = CreateEngineByProgId(prog_id)) FEngineVersions.Add(version);
    } catch (...) {
      // A version whose engine cannot be made is simply not there.
    }
  }
}

std::string TMxDaoDatabase::GetDefaultSystemDatabase() const {
  std::string key_version = FVersion == "3.6" ? "4.0" : "3.5";
  try {
    platform::Registry registry(platform::SettingsRoot::LocalMachine);
    if (!registry.OpenKeyReadOnly("SOFTWARE\\Microsoft\\JET\\" + key_version + "\\Engines"))
      return {};
    return registry.ReadString("SystemDB");
  } catch (...) {
    return {};
  }
}

void TMxDaoDatabase::DetectMdbVersion(const std::string& file_name) {
  if (FDatabaseType != "Access") return;
  try {
    std::ifstream in(file_name, std::ios::binary);
    if (!in) return;
    char header[160];
    in.read(header, sizeof header);
    if (in.gcount() < static_cast<std::streamsize>(sizeof header)) return;
    if (FEngineVersions.IndexOf("3.5") >= 0) FVersion = "3.5";
  } catch (...) {
  }
}

void TMxDaoDatabase::FillDatabaseTypes() {
  // Our engine opens Access files only; no installable ISAM formats are there to list.
  FDatabaseTypes.Clear();
  FDatabaseTypes.Insert(0, "ODBC");
  FDatabaseTypes.Insert(0, "Access");
}

void TMxDaoDatabase::FillOdbcLists() {
  OdbcFiles files = CurrentOdbcFiles();
  std::vector<IniSection> drivers = ReadIni(files.drivers);
  std::vector<IniSection> system = ReadIni(files.system_dsns);
  std::vector<IniSection> user = ReadIni(files.user_dsns);

  FOdbcDrivers.Clear();
  for (const std::string& name : SectionNames(drivers)) FOdbcDrivers.Add(name);
  FSystemDsns.Clear();
  for (const std::string& name : SectionNames(system)) FSystemDsns.Add(name);
  FUserDsns.Clear();
  for (const std::string& name : SectionNames(user)) FUserDsns.Add(name);

  FDsnDatabaseFiles.Clear();
  for (int i = 0; i < FUserDsns.Count(); ++i) {
    std::string file = DsnDatabaseFile(user, FUserDsns[i]);
    if (!file.empty()) FDsnDatabaseFiles.Add(FUserDsns[i] + "=" + file);
  }
  for (int i = 0; i < FSystemDsns.Count(); ++i) {
    std::string file = DsnDatabaseFile(system, FSystemDsns[i]);
    if (!file.empty()) FDsnDatabaseFiles.Add(FSystemDsns[i] + "=" + file);
  }
}

std::string TMxDaoDatabase::DatabaseLanguage() {
  if (!FConnected || !FDaoDatabase) {
    FCollatingOrder = 0;
    FDatabaseLanguage.clear();
    return FDatabaseLanguage;
  }
  std::int32_t code;
  try {
    code = FDaoDatabase->CollatingOrder();
  } catch (...) {
    code = -1;
  }
  FCollatingOrder = code;
  FDatabaseLanguage = CollatingOrderName(code);
  return FDatabaseLanguage;
}

}  // namespace daodb

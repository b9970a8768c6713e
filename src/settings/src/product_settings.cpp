#include "settings/product_settings.h"

#include <utility>

#include "core/encoding.h"
#include "platform/registry.h"
#include "platform/resource_strings.h"
#include "platform/system.h"

namespace settings {
namespace {

// Paths on this platform end in this character; the settings hold local paths.
#ifdef _WIN32
constexpr char kPathDelimiter = '\\';
#else
constexpr char kPathDelimiter = '/';
#endif

// The 8-bit code page of the user interface's texts.
constexpr int kCentralEuropean = 1250;

bool IsTokenDelimiter(char c) {
  auto u = static_cast<unsigned char>(c);
  return u <= 31 || c == ',' || c == ';';
}

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string AliasesKey() {
  return platform::LoadResString(platform::ResString::ProductKey) + "\\Aliases";
}

struct Module {
  std::unique_ptr<TAliases> aliases;
  std::string data_dir, company, ip_address, spi_user_name, spi_password;
};

Module& TheModule() {
  static Module module;
  return module;
}

}  // namespace

std::string TAlias::NamePart() const {
  auto eq = FText.find('=');
  return eq == std::string::npos ? std::string() : FText.substr(0, eq);
}

std::string TAlias::Value() const {
  auto eq = FText.find('=');
  return eq == std::string::npos ? FText : FText.substr(eq + 1);
}

std::string TAlias::PathPart() const {
  std::string value = Value();
  std::size_t end = 0;
  while (end < value.size() && !IsTokenDelimiter(value[end])) ++end;
  std::string token = value.substr(0, end);
  std::size_t first = 0;
  while (first < token.size() && IsBlankOrControl(token[first])) ++first;
  std::size_t last = token.size();
  while (last > first && IsBlankOrControl(token[last - 1])) --last;
  token = token.substr(first, last - first);
  if (!token.empty() && token.back() == kPathDelimiter) token.pop_back();
  return token;
}

std::string TAlias::RestPart() const {
  std::string value = Value();
  for (std::size_t i = 0; i < value.size(); ++i)
    if (IsTokenDelimiter(value[i])) return value.substr(i + 1);
  return {};
}

TAliases::TAliases() {
  Load();
}

TAliases::~TAliases() {
  Clear();
}

void TAliases::Clear() {
  FList.clear();
}

TAlias& TAliases::Add(std::string text) {
  FList.push_back(std::make_unique<TAlias>(std::move(text)));
  return *FList.back();
}

void TAliases::Load() {
  Clear();
  platform::Registry reg(platform::SettingsRoot::CurrentUser);
  if (!reg.OpenKey(AliasesKey(), false)) return;
  for (const std::string& name : reg.GetValueNames()) {
    if (name.empty()) continue;  // the key's default value is no alias
    Add(name + "=" + reg.ReadString(name));
  }
}

void TAliases::Save() {
  platform::Registry reg(platform::SettingsRoot::CurrentUser);
  reg.DeleteKey(AliasesKey());
  if (!reg.OpenKey(AliasesKey(), true)) return;
  for (const auto& alias : FList)
    reg.WriteString(alias->NamePart(), alias->PathPart() + ";" + alias->RestPart());
}

std::string UnscrambleText(std::string_view text) {
  std::string bytes = core::EncodeFromUtf8(kCentralEuropean, text);
  for (char& c : bytes) c = static_cast<char>((31 - static_cast<unsigned char>(c)) & 0xFF);
  return core::DecodeToUtf8(kCentralEuropean, bytes);
}

void ReadProductSettings() {
  Module& m = TheModule();
  platform::Registry reg(platform::SettingsRoot::LocalMachine);
  if (!reg.OpenKeyReadOnly(platform::LoadResString(platform::ResString::ProductKey))) return;

  m.data_dir = reg.ReadString("DataDir");
  if (!m.data_dir.empty() && m.data_dir.back() != kPathDelimiter) m.data_dir += kPathDelimiter;
  m.company = reg.ReadString("Company");
  m.ip_address = reg.ReadString("IPAddress");
  if (m.ip_address.empty() || m.ip_address == "0.0.0.0") m.ip_address = platform::ComputerName();
  m.spi_user_name = UnscrambleText(reg.ReadString("SPI_UserName"));
  m.spi_password = UnscrambleText(reg.ReadString("SPI_Password"));
}

const std::string& DataDir() {
  return TheModule().data_dir;
}
const std::string& Company() {
  return TheModule().company;
}
const std::string& IPAddress() {
  return TheModule().ip_address;
}
const std::string& SPI_UserName() {
  return TheModule().spi_user_name;
}
const std::string& SPI_Password() {
  return TheModule().spi_password;
}
TAliases* ProductAliases() {
  return TheModule().aliases.get();
}

void InitializeProductSettings() {
  try {
    TheModule().aliases = std::make_unique<TAliases>();
    ReadProductSettings();
  } catch (...) {
    // The program ends on this error; leave nothing half-read behind for the exit path.
    FinalizeProductSettings();
    throw;
  }
}

void FinalizeProductSettings() {
  Module& m = TheModule();
  m.aliases.reset();
  m.data_dir.clear();
  m.company.clear();
  m.ip_address.clear();
  m.spi_user_name.clear();
  m.spi_password.clear();
}

}  // namespace settings

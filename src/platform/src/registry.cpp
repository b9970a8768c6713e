#include "platform/registry.h"

#include <utility>

namespace platform {

namespace {

std::string Quoted(const std::string& name) {
  return "'" + name + "'";
}

[[noreturn]] void InvalidType(const std::string& name) {
  throw ERegistryException("Invalid data type for " + Quoted(name));
}

[[noreturn]] void GetDataFailed(const std::string& name) {
  throw ERegistryException("Failed to get data for " + Quoted(name));
}

}  // namespace

Registry::Registry(SettingsRoot root) : root_(root) {}

void Registry::SetRootKey(SettingsRoot root) {
  CloseKey();
  root_ = root;
}

std::string Registry::Resolve(const std::string& key) const {
  std::string k = key;
  if (k.size() > 1 && k.back() == '\\') k.pop_back();
  if (!k.empty() && k.front() == '\\') return k.substr(1);
  if (k.empty()) return path_;
  if (path_.empty()) return k;
  return path_ + "\\" + k;
}

bool Registry::Open(const std::string& key, bool can_create, Access access) {
  std::string path = Resolve(key);
  SettingsStore& store = StoreFor(root_);
  bool exists = store.KeyExists(path);
  if (!exists && can_create) exists = store.CreateKey(path);
  if (!exists) return false;
  path_ = std::move(path);
  open_ = true;
  access_ = access;
  return true;
}

bool Registry::OpenKey(const std::string& key, bool can_create) {
  return Open(key, can_create, Access::ReadWrite);
}

bool Registry::OpenKeyReadOnly(const std::string& key) {
  return Open(key, false, Access::ReadOnly);
}

void Registry::CloseKey() {
  path_.clear();
  open_ = false;
  access_ = Access::ReadWrite;
}

bool Registry::KeyExists(const std::string& key) const {
  return StoreFor(root_).KeyExists(Resolve(key));
}

bool Registry::DeleteKey(const std::string& key) {
  std::string path = Resolve(key);
  if (path.empty()) return false;
  bool deleted = StoreFor(root_).DeleteKey(path);
  // A deleted open key leaves nothing to read or write; fall back to the root.
  if (deleted && open_ && !StoreFor(root_).KeyExists(path_)) CloseKey();
  return deleted;
}

std::vector<std::string> Registry::GetKeyNames() const {
  return StoreFor(root_).SubkeyNames(path_);
}

std::vector<std::string> Registry::GetValueNames() const {
  return StoreFor(root_).ValueNames(path_);
}

bool Registry::ValueExists(const std::string& name) const {
  return StoreFor(root_).ReadValue(path_, name).has_value();
}

std::string Registry::ReadString(const std::string& name) const {
  auto value = StoreFor(root_).ReadValue(path_, name);
  if (!value) return {};
  if (!value->IsString()) InvalidType(name);
  // A string ends at its first zero character, as the registry's string reads do.
  std::string text = value->text;
  if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return text;
}

std::int32_t Registry::ReadInteger(const std::string& name) const {
  auto value = StoreFor(root_).ReadValue(path_, name);
  if (!value) GetDataFailed(name);
  if (value->type != SettingsValueType::Integer) InvalidType(name);
  return static_cast<std::int32_t>(value->number);
}

std::vector<std::uint8_t> Registry::ReadBinaryData(const std::string& name) const {
  auto value = StoreFor(root_).ReadValue(path_, name);
  if (!value) GetDataFailed(name);
  if (value->type != SettingsValueType::Binary) InvalidType(name);
  return value->bytes;
}

void Registry::Write(const std::string& name, const SettingsValue& value) {
  if (access_ == Access::ReadOnly || path_.empty())
    throw ERegistryException("Failed to set data for " + Quoted(name));
  StoreFor(root_).WriteValue(path_, name, value);
}

void Registry::WriteString(const std::string& name, const std::string& value) {
  Write(name, SettingsValue::String(value));
}

void Registry::WriteExpandString(const std::string& name, const std::string& value) {
  Write(name, SettingsValue::ExpandString(value));
}

void Registry::WriteInteger(const std::string& name, std::int32_t value) {
  Write(name, SettingsValue::Integer(static_cast<std::uint32_t>(value)));
}

void Registry::WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value) {
  Write(name, SettingsValue::Binary(value));
}

bool Registry::DeleteValue(const std::string& name) {
  if (access_ == Access::ReadOnly) return false;
  return StoreFor(root_).DeleteValue(path_, name);
}

}  // namespace platform

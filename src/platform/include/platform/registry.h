// A registry key cursor over the settings stores, with the registry's rules for opening
// keys and reading typed values.
//
// The product settings and the engine's facts were read through a class of this shape
// on Windows; keeping its rules (absolute and relative key paths, a missing string
// reading as empty, a value of the wrong type failing with a registry error) keeps
// the behaviour of those readers the same on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/settings_store.h"

namespace platform {

// A failed registry read or write. The text names the value, as the registry errors did:
// "Invalid data type for 'DataDir'".
class ERegistryException : public core::Exception {
 public:
  using core::Exception::Exception;
};

class Registry {
 public:
  enum class Access { ReadWrite, ReadOnly };

  explicit Registry(SettingsRoot root = SettingsRoot::CurrentUser);

  SettingsRoot RootKey() const { return root_; }
  // Changing the root closes the open key.
  void SetRootKey(SettingsRoot root);

  // A key that begins with "\" is taken from the root, any other from the open key.
  // Opening fails (false) when the key is missing and may not be created; the key that
  // was open stays open then.
  bool OpenKey(const std::string& key, bool can_create);
  bool OpenKeyReadOnly(const std::string& key);
  // Back to the root itself, which is what reads and writes use while no key is open.
  void CloseKey();
  bool HasOpenKey() const { return open_; }
  // Path of the open key relative to the root, without a leading backslash.
  const std::string& CurrentPath() const { return path_; }

  bool KeyExists(const std::string& key) const;
  bool DeleteKey(const std::string& key);
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;
  bool ValueExists(const std::string& name) const;

  // A missing value reads as empty text; a value that is not a (plain or expandable)
  // string raises "Invalid data type for '<name>'".
  std::string ReadString(const std::string& name) const;
  // A missing value raises "Failed to get data for '<name>'"; a non-integer value
  // "Invalid data type for '<name>'".
  std::int32_t ReadInteger(const std::string& name) const;
  std::vector<std::uint8_t> ReadBinaryData(const std::string& name) const;

  // Writes to a key opened read-only raise "Failed to set data for '<name>'".
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteBinaryData(const std::string& name, const std::vector<std::uint8_t>& value);
  bool DeleteValue(const std::string& name);

 private:
  std::string Resolve(const std::string& key) const;
  void Write(const std::string& name, const SettingsValue& value);
  bool Open(const std::string& key, bool can_create, Access access);

  SettingsRoot root_;
  std::string path_;
  bool open_ = false;
  Access access_ = Access::ReadWrite;
};

}  // namespace platform

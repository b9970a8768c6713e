// Settings stores: what the program has instead of the Windows registry.
//
// A store is one root of a tree of keys; each key holds named, typed values and subkeys.
// Key paths are backslash-separated and relative to the root ("Software\KELVA\ORBANE\5.0");
// key and value names compare without regard to ASCII case and keep the case they were
// written with, as the registry's do. Keys and values are listed in the order they were
// created (the order of the file for a file store).
//
// There are three roots, as the program knows them from Windows: the current user's, the
// machine's and the class registrations. On Windows they are the registry itself; elsewhere
// the user's root is a file under $XDG_CONFIG_HOME (or ~/.config), the machine's a file under
// /etc, and the class registrations live in memory, filled by the layers that implement
// classes. The file format is described in docs/settings-files.md.
//
// This layer never shows anything to the user and never uses Qt.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The four kinds of value the program reads or writes; the numbers are the registry's.
enum class SettingsValueType : std::uint32_t {
  String = 1,        // REG_SZ
  ExpandString = 2,  // REG_EXPAND_SZ: a string that may hold %VARIABLE% references
  Binary = 3,        // REG_BINARY
  Integer = 4,       // REG_DWORD
};

struct SettingsValue {
  SettingsValueType type = SettingsValueType::String;
  std::string text;                 // String, ExpandString (UTF-8)
  std::uint32_t number = 0;         // Integer
  std::vector<std::uint8_t> bytes;  // Binary

  static SettingsValue String(std::string text);
  static SettingsValue ExpandString(std::string text);
  static SettingsValue Integer(std::uint32_t number);
  static SettingsValue Binary(std::vector<std::uint8_t> bytes);

  bool IsString() const {
    return type == SettingsValueType::String || type == SettingsValueType::ExpandString;
  }
  bool operator==(const SettingsValue&) const = default;
};

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  virtual bool KeyExists(std::string_view key) const = 0;
  // Names of the direct subkeys, or of the values, of a key; empty when the key is missing.
  virtual std::vector<std::string> SubkeyNames(std::string_view key) const = 0;
  // The default (unnamed) value is listed as "".
  virtual std::vector<std::string> ValueNames(std::string_view key) const = 0;
  virtual std::optional<SettingsValue> ReadValue(std::string_view key,
                                                 std::string_view name) const = 0;

  // Creates the key and any missing parents; true when it exists afterwards.
  virtual bool CreateKey(std::string_view key) = 0;
  // Creates the key when missing; replaces a value of the same name.
  virtual void WriteValue(std::string_view key, std::string_view name,
                          const SettingsValue& value) = 0;
  // False when the value or key was not there.
  virtual bool DeleteValue(std::string_view key, std::string_view name) = 0;
  // Deletes the key with its values and all its subkeys.
  virtual bool DeleteKey(std::string_view key) = 0;
};

// A store held in memory. The file store keeps one of these as its parsed contents.
class MemorySettingsStore : public SettingsStore {
 public:
  MemorySettingsStore();
  ~MemorySettingsStore() override;
  MemorySettingsStore(const MemorySettingsStore&);
  MemorySettingsStore& operator=(const MemorySettingsStore&);
  MemorySettingsStore(MemorySettingsStore&&) noexcept;
  MemorySettingsStore& operator=(MemorySettingsStore&&) noexcept;

  bool KeyExists(std::string_view key) const override;
  std::vector<std::string> SubkeyNames(std::string_view key) const override;
  std::vector<std::string> ValueNames(std::string_view key) const override;
  std::optional<SettingsValue> ReadValue(std::string_view key,
                                         std::string_view name) const override;
  bool CreateKey(std::string_view key) override;
  void WriteValue(std::string_view key, std::string_view name, const SettingsValue& value) override;
  bool DeleteValue(std::string_view key, std::string_view name) override;
  bool DeleteKey(std::string_view key) override;

  // Every key path (parents before children, in creation order), for writing the store out.
  std::vector<std::string> AllKeys() const;

  bool operator==(const MemorySettingsStore& other) const;

  struct Node;  // one key; defined where the store is implemented

 private:
  std::unique_ptr<Node> root_;
};

// Reads the text of a settings file. `file_name` only names the file in error messages.
// Raises core::EFileError naming the file and the line for anything it cannot understand.
MemorySettingsStore ParseSettingsText(std::string_view text, const std::string& file_name);
// The text ParseSettingsText reads back into an equal store.
std::string FormatSettingsText(const MemorySettingsStore& store);

// A store kept in one file. Every read looks at the file as it is now (a missing or
// unreadable file is an empty store, as an unopenable registry key is); every change
// rewrites the file in one step (a new file renamed over the old one), creating its
// directory when needed. Errors name the file.
class FileSettingsStore : public SettingsStore {
 public:
  explicit FileSettingsStore(std::string path);
  const std::string& Path() const { return path_; }

  bool KeyExists(std::string_view key) const override;
  std::vector<std::string> SubkeyNames(std::string_view key) const override;
  std::vector<std::string> ValueNames(std::string_view key) const override;
  std::optional<SettingsValue> ReadValue(std::string_view key,
                                         std::string_view name) const override;
  bool CreateKey(std::string_view key) override;
  void WriteValue(std::string_view key, std::string_view name, const SettingsValue& value) override;
  bool DeleteValue(std::string_view key, std::string_view name) override;
  bool DeleteKey(std::string_view key) override;

 private:
  MemorySettingsStore Load() const;
  void Save(const MemorySettingsStore& store) const;
  std::string path_;
};

enum class SettingsRoot {
  CurrentUser,   // HKEY_CURRENT_USER
  LocalMachine,  // HKEY_LOCAL_MACHINE
  ClassesRoot,   // HKEY_CLASSES_ROOT
};

// The store behind a root: the one installed for it, else the platform's own.
SettingsStore& StoreFor(SettingsRoot root);
// Replaces the store behind a root (nullptr goes back to the platform's own) and returns
// the one installed before, so tests can work on temporary stores and restore.
std::shared_ptr<SettingsStore> InstallSettingsStore(SettingsRoot root,
                                                    std::shared_ptr<SettingsStore> store);

// Where the platform's own file stores live: "<dir>/datovrat/registry.ini" with <dir>
// $XDG_CONFIG_HOME (else $HOME/.config) for the user and /etc for the machine. Tests and
// packagers may move the two directories; an empty text goes back to the default.
void SetSettingsDirectories(std::string user_dir, std::string machine_dir);
std::string SettingsFilePath(SettingsRoot root);

}  // namespace platform

// The settings stores on Windows are the registry itself. Not built on other platforms.
#ifdef _WIN32

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/settings_store.h"

namespace platform {
namespace {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return {};
  int n =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

// Closes a key handle when it goes out of scope.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (handle_) RegCloseKey(handle_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* Out() { return &handle_; }
  HKEY Get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HKEY handle_ = nullptr;
};

class RegistryStore : public SettingsStore {
 public:
  explicit RegistryStore(HKEY root) : root_(root) {}

  bool KeyExists(std::string_view key) const override {
    Key k;
    return RegOpenKeyExW(root_, Wide(key).c_str(), 0, KEY_READ, k.Out()) == ERROR_SUCCESS;
  }

  std::vector<std::string> SubkeyNames(std::string_view key) const override {
    std::vector<std::string> names;
    Key k;
    if (RegOpenKeyExW(root_, Wide(key).c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS)
      return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      LONG rc = RegEnumKeyExW(k.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) break;
      names.push_back(Narrow(name, length));
    }
    return names;
  }

  std::vector<std::string> ValueNames(std::string_view key) const override {
    std::vector<std::string> names;
    Key k;
    if (RegOpenKeyExW(root_, Wide(key).c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS)
      return names;
    std::vector<wchar_t> name(16384);
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      LONG rc = RegEnumValueW(k.Get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc != ERROR_SUCCESS) break;
      names.push_back(Narrow(name.data(), length));
    }
    return names;
  }

  std::optional<SettingsValue> ReadValue(std::string_view key,
                                         std::string_view name) const override {
    Key k;
    if (RegOpenKeyExW(root_, Wide(key).c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS)
      return std::nullopt;
    std::wstring wname = Wide(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.Get(), wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return std::nullopt;
    std::vector<BYTE> data(size + sizeof(wchar_t));
    if (RegQueryValueExW(k.Get(), wname.c_str(), nullptr, &type, data.data(), &size) !=
        ERROR_SUCCESS)
      return std::nullopt;
    data.resize(size);
    switch (type) {
      case REG_SZ:
      case REG_EXPAND_SZ: {
        std::size_t chars = size / sizeof(wchar_t);
        const auto* text = reinterpret_cast<const wchar_t*>(data.data());
        while (chars > 0 && text[chars - 1] == L'\0') --chars;
        std::string utf8 = Narrow(text, chars);
        return type == REG_SZ ? SettingsValue::String(utf8) : SettingsValue::ExpandString(utf8);
      }
      case REG_DWORD: {
        std::uint32_t number = 0;
        for (DWORD i = 0; i < size && i < 4; ++i) number |= std::uint32_t{data[i]} << (8 * i);
        return SettingsValue::Integer(number);
      }
      default:
        // Every other kind is bytes to the program; reading it as text fails as it should.
        return SettingsValue::Binary(std::vector<std::uint8_t>(data.begin(), data.end()));
    }
  }

  bool CreateKey(std::string_view key) override {
    Key k;
    return RegCreateKeyExW(root_, Wide(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Out(),
                           nullptr) == ERROR_SUCCESS;
  }

  void WriteValue(std::string_view key, std::string_view name,
                  const SettingsValue& value) override {
    Key k;
    if (RegCreateKeyExW(root_, Wide(key).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.Out(),
                        nullptr) != ERROR_SUCCESS)
      throw core::Exception("Failed to set data for '" + std::string(name) + "'");
    std::wstring wname = Wide(name);
    LONG rc = ERROR_SUCCESS;
    switch (value.type) {
      case SettingsValueType::String:
      case SettingsValueType::ExpandString: {
        std::wstring text = Wide(value.text);
        rc = RegSetValueExW(k.Get(), wname.c_str(), 0,
                            value.type == SettingsValueType::String ? REG_SZ : REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        break;
      }
      case SettingsValueType::Integer: {
        DWORD number = value.number;
        rc = RegSetValueExW(k.Get(), wname.c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&number), sizeof number);
        break;
      }
      case SettingsValueType::Binary:
        rc = RegSetValueExW(k.Get(), wname.c_str(), 0, REG_BINARY, value.bytes.data(),
                            static_cast<DWORD>(value.bytes.size()));
        break;
    }
    if (rc != ERROR_SUCCESS)
      throw core::Exception("Failed to set data for '" + std::string(name) + "'");
  }

  bool DeleteValue(std::string_view key, std::string_view name) override {
    Key k;
    if (RegOpenKeyExW(root_, Wide(key).c_str(), 0, KEY_SET_VALUE, k.Out()) != ERROR_SUCCESS)
      return false;
    return RegDeleteValueW(k.Get(), Wide(name).c_str()) == ERROR_SUCCESS;
  }

  bool DeleteKey(std::string_view key) override {
    if (key.empty()) return false;
    // With a subkey named, this removes the key itself along with everything below it.
    return RegDeleteTreeW(root_, Wide(key).c_str()) == ERROR_SUCCESS;
  }

 private:
  HKEY root_;
};

}  // namespace

std::shared_ptr<SettingsStore> MakeRegistryStore(SettingsRoot root) {
  switch (root) {
    case SettingsRoot::CurrentUser:
      return std::make_shared<RegistryStore>(HKEY_CURRENT_USER);
    case SettingsRoot::LocalMachine:
      return std::make_shared<RegistryStore>(HKEY_LOCAL_MACHINE);
    case SettingsRoot::ClassesRoot:
      return std::make_shared<RegistryStore>(HKEY_CLASSES_ROOT);
  }
  return nullptr;
}

}  // namespace platform

#endif  // _WIN32

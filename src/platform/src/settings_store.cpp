#include "platform/settings_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <utility>

#include "core/errors.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

SettingsValue SettingsValue::String(std::string text) {
  SettingsValue v;
  v.type = SettingsValueType::String;
  v.text = std::move(text);
  return v;
}

SettingsValue SettingsValue::ExpandString(std::string text) {
  SettingsValue v;
  v.type = SettingsValueType::ExpandString;
  v.text = std::move(text);
  return v;
}

SettingsValue SettingsValue::Integer(std::uint32_t number) {
  SettingsValue v;
  v.type = SettingsValueType::Integer;
  v.number = number;
  return v;
}

SettingsValue SettingsValue::Binary(std::vector<std::uint8_t> bytes) {
  SettingsValue v;
  v.type = SettingsValueType::Binary;
  v.bytes = std::move(bytes);
  return v;
}

namespace {

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Splits a key path into its names. An empty path is the root; an empty name anywhere
// (a doubled, leading or trailing backslash) or a name with a line break in it makes the
// path invalid.
std::optional<std::vector<std::string_view>> SplitKey(std::string_view key) {
  std::vector<std::string_view> parts;
  if (key.empty()) return parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = key.find('\\', start);
    std::string_view part =
        key.substr(start, end == std::string_view::npos ? key.npos : end - start);
    // A line break in a name could not be written to a settings file and read back.
    if (part.empty() || part.find_first_of("\r\n") != std::string_view::npos) return std::nullopt;
    parts.push_back(part);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts;
}

}  // namespace

struct MemorySettingsStore::Node {
  std::string name;
  std::vector<std::pair<std::string, SettingsValue>> values;
  std::vector<std::unique_ptr<Node>> children;

  Node* Child(std::string_view child_name) const {
    for (const auto& c : children)
      if (SameName(c->name, child_name)) return c.get();
    return nullptr;
  }

  std::unique_ptr<Node> Clone() const {
    auto copy = std::make_unique<Node>();
    copy->name = name;
    copy->values = values;
    for (const auto& c : children) copy->children.push_back(c->Clone());
    return copy;
  }

  bool Equals(const Node& other) const {
    if (name != other.name || values != other.values) return false;
    if (children.size() != other.children.size()) return false;
    for (std::size_t i = 0; i < children.size(); ++i)
      if (!children[i]->Equals(*other.children[i])) return false;
    return true;
  }
};

namespace {

using Node = MemorySettingsStore::Node;

}  // namespace

MemorySettingsStore::MemorySettingsStore() : root_(std::make_unique<Node>()) {}
MemorySettingsStore::~MemorySettingsStore() = default;
MemorySettingsStore::MemorySettingsStore(const MemorySettingsStore& other)
    : root_(other.root_->Clone()) {}
MemorySettingsStore& MemorySettingsStore::operator=(const MemorySettingsStore& other) {
  if (this != &other) root_ = other.root_->Clone();
  return *this;
}
MemorySettingsStore::MemorySettingsStore(MemorySettingsStore&& other) noexcept
    : root_(std::move(other.root_)) {
  other.root_ = std::make_unique<Node>();
}
MemorySettingsStore& MemorySettingsStore::operator=(MemorySettingsStore&& other) noexcept {
  std::swap(root_, other.root_);
  return *this;
}

bool MemorySettingsStore::operator==(const MemorySettingsStore& other) const {
  return root_->Equals(*other.root_);
}

namespace {

const Node* Find(const Node* root, std::string_view key) {
  auto parts = SplitKey(key);
  if (!parts) return nullptr;
  const Node* node = root;
  for (std::string_view part : *parts) {
    node = node->Child(part);
    if (!node) return nullptr;
  }
  return node;
}

}  // namespace

bool MemorySettingsStore::KeyExists(std::string_view key) const {
  return Find(root_.get(), key) != nullptr;
}

std::vector<std::string> MemorySettingsStore::SubkeyNames(std::string_view key) const {
  std::vector<std::string> names;
  if (const Node* node = Find(root_.get(), key))
    for (const auto& c : node->children) names.push_back(c->name);
  return names;
}

std::vector<std::string> MemorySettingsStore::ValueNames(std::string_view key) const {
  std::vector<std::string> names;
  if (const Node* node = Find(root_.get(), key))
    for (const auto& v : node->values) names.push_back(v.first);
  return names;
}

std::optional<SettingsValue> MemorySettingsStore::ReadValue(std::string_view key,
                                                            std::string_view name) const {
  const Node* node = Find(root_.get(), key);
  if (!node) return std::nullopt;
  for (const auto& v : node->values)
    if (SameName(v.first, name)) return v.second;
  return std::nullopt;
}

bool MemorySettingsStore::CreateKey(std::string_view key) {
  auto parts = SplitKey(key);
  if (!parts) return false;
  Node* node = root_.get();
  for (std::string_view part : *parts) {
    Node* child = node->Child(part);
    if (!child) {
      node->children.push_back(std::make_unique<Node>());
      child = node->children.back().get();
      child->name = std::string(part);
    }
    node = child;
  }
  return true;
}

void MemorySettingsStore::WriteValue(std::string_view key, std::string_view name,
                                     const SettingsValue& value) {
  auto parts = SplitKey(key);
  if (!parts || parts->empty())
    throw core::Exception("Cannot write the value '" + std::string(name) + "' under the key '" +
                          std::string(key) + "'");
  CreateKey(key);
  Node* node = const_cast<Node*>(Find(root_.get(), key));
  for (auto& v : node->values) {
    if (SameName(v.first, name)) {
      v.second = value;
      return;
    }
  }
  node->values.emplace_back(std::string(name), value);
}

bool MemorySettingsStore::DeleteValue(std::string_view key, std::string_view name) {
  Node* node = const_cast<Node*>(Find(root_.get(), key));
  if (!node) return false;
  auto it = std::find_if(node->values.begin(), node->values.end(),
                         [&](const auto& v) { return SameName(v.first, name); });
  if (it == node->values.end()) return false;
  node->values.erase(it);
  return true;
}

bool MemorySettingsStore::DeleteKey(std::string_view key) {
  auto parts = SplitKey(key);
  if (!parts || parts->empty()) return false;
  Node* parent = root_.get();
  for (std::size_t i = 0; i + 1 < parts->size(); ++i) {
    parent = parent->Child((*parts)[i]);
    if (!parent) return false;
  }
  auto it = std::find_if(parent->children.begin(), parent->children.end(),
                         [&](const auto& c) { return SameName(c->name, parts->back()); });
  if (it == parent->children.end()) return false;
  parent->children.erase(it);
  return true;
}

std::vector<std::string> MemorySettingsStore::AllKeys() const {
  std::vector<std::string> keys;
  // Parents come before their children and siblings keep their order, so writing the
  // keys out in this order and reading them back rebuilds the same tree.
  auto walk = [&keys](auto&& self, const Node& node, const std::string& path) -> void {
    for (const auto& c : node.children) {
      std::string child_path = path.empty() ? c->name : path + "\\" + c->name;
      keys.push_back(child_path);
      self(self, *c, child_path);
    }
  };
  walk(walk, *root_, std::string());
  return keys;
}

// ---------------------------------------------------------------------------------------
// The text form of a store (docs/settings-files.md).

namespace {

class SettingsParser {
 public:
  SettingsParser(std::string_view text, const std::string& file_name)
      : text_(text), file_name_(file_name) {}

  MemorySettingsStore Parse() {
    if (text_.size() >= 2 && ((static_cast<unsigned char>(text_[0]) == 0xFF &&
                               static_cast<unsigned char>(text_[1]) == 0xFE) ||
                              (static_cast<unsigned char>(text_[0]) == 0xFE &&
                               static_cast<unsigned char>(text_[1]) == 0xFF)))
      Fail("the file is UTF-16; settings files are read as UTF-8");
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    bool seen_content = false;
    while (NextLine()) {
      std::string_view line = Trimmed(line_);
      if (line.empty() || line[0] == ';' || line[0] == '#') continue;
      if (!seen_content && (line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00")) {
        seen_content = true;
        continue;
      }
      seen_content = true;
      if (line[0] == '[') {
        SectionHeader(line);
      } else {
        ValueLine();
      }
    }
    return std::move(store_);
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    std::string where = file_name_;
    if (line_number_ > 0) where += ", line " + std::to_string(line_number_);
    throw core::EFileError(where + ": " + what);
  }

  static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

  static std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
  }

  bool NextLine() {
    if (pos_ >= text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line_ = text_.substr(pos_, end - pos_);
    if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
    pos_ = end + 1;
    ++line_number_;
    col_ = 0;
    return true;
  }

  void SectionHeader(std::string_view line) {
    std::size_t close = line.rfind(']');
    if (close == std::string_view::npos || close != line.size() - 1)
      Fail("a key line must end with \"]\"");
    std::string_view key = line.substr(1, close - 1);
    if (key.empty()) Fail("empty key name in \"[]\"");
    if (!store_.CreateKey(key)) Fail("the key path \"" + std::string(key) + "\" has an empty name");
    key_ = std::string(key);
  }

  void SkipBlanks() {
    while (col_ < line_.size() && IsBlank(line_[col_])) ++col_;
  }

  bool AtEnd() const { return col_ >= line_.size(); }

  void Expect(char c, const char* what) {
    if (AtEnd() || line_[col_] != c) Fail(std::string("expected ") + what);
    ++col_;
  }

  static int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  std::string QuotedString() {
    Expect('"', "a text in double quotes");
    std::string out;
    while (true) {
      if (AtEnd()) Fail("the text in double quotes is not closed");
      char c = line_[col_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (AtEnd()) Fail("the text in double quotes is not closed");
      char e = line_[col_++];
      switch (e) {
        case '\\':
          out += '\\';
          break;
        case '"':
          out += '"';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'x': {
          int hi = col_ < line_.size() ? HexDigit(line_[col_]) : -1;
          int lo = col_ + 1 < line_.size() ? HexDigit(line_[col_ + 1]) : -1;
          if (hi < 0 || lo < 0) Fail("\"\\x\" must be followed by two hexadecimal digits");
          out += static_cast<char>(hi * 16 + lo);
          col_ += 2;
          break;
        }
        default:
          Fail(std::string("unknown escape \"\\") + e + "\" in a text");
      }
    }
  }

  bool TakeWord(std::string_view word) {
    if (line_.substr(col_, word.size()) != word) return false;
    col_ += word.size();
    return true;
  }

  std::uint32_t DwordValue() {
    std::uint32_t number = 0;
    int digits = 0;
    while (!AtEnd() && HexDigit(line_[col_]) >= 0) {
      if (++digits > 8) Fail("a dword has at most 8 hexadecimal digits");
      number = number * 16 + static_cast<std::uint32_t>(HexDigit(line_[col_]));
      ++col_;
    }
    if (digits == 0) Fail("\"dword:\" must be followed by hexadecimal digits");
    return number;
  }

  std::vector<std::uint8_t> HexBytes() {
    std::vector<std::uint8_t> bytes;
    while (true) {
      SkipBlanks();
      if (AtEnd()) return bytes;
      if (line_[col_] == '\\' && col_ + 1 == line_.size()) {
        // The list goes on on the next line, as in exported registry files.
        if (!NextLine()) Fail("the byte list ends with \"\\\" but the file ends");
        continue;
      }
      int hi = HexDigit(line_[col_]);
      int lo = col_ + 1 < line_.size() ? HexDigit(line_[col_ + 1]) : -1;
      if (hi < 0 || lo < 0) Fail("expected a byte as two hexadecimal digits");
      bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
      col_ += 2;
      SkipBlanks();
      if (AtEnd()) return bytes;
      if (line_[col_] != ',') Fail("expected \",\" between the bytes");
      ++col_;
      SkipBlanks();
      if (AtEnd()) Fail("a byte list must not end with \",\"");
    }
  }

  void ValueLine() {
    if (key_.empty()) Fail("a value comes before the first [key] line");
    SkipBlanks();
    std::string name;
    if (!AtEnd() && line_[col_] == '@') {
      ++col_;
    } else if (!AtEnd() && line_[col_] == '"') {
      name = QuotedString();
      if (name.empty()) Fail("a value name must not be empty; the default value is written @");
    } else {
      Fail("expected a value name in double quotes, or @");
    }
    SkipBlanks();
    Expect('=', "\"=\" after the value name");
    SkipBlanks();
    SettingsValue value;
    if (!AtEnd() && line_[col_] == '"') {
      value = SettingsValue::String(QuotedString());
    } else if (TakeWord("expand:")) {
      value = SettingsValue::ExpandString(QuotedString());
    } else if (TakeWord("dword:")) {
      value = SettingsValue::Integer(DwordValue());
    } else if (TakeWord("hex:")) {
      value = SettingsValue::Binary(HexBytes());
    } else {
      Fail("expected a value: \"text\", expand:\"text\", dword:digits or hex:bytes");
    }
    SkipBlanks();
    if (!AtEnd()) Fail("unexpected text after the value");
    store_.WriteValue(key_, name, value);
  }

  std::string_view text_;
  const std::string& file_name_;
  std::size_t pos_ = 0;
  std::string_view line_;
  std::size_t col_ = 0;
  int line_number_ = 0;
  std::string key_;
  MemorySettingsStore store_;
};

void AppendQuoted(std::string& out, std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendValue(std::string& out, const SettingsValue& value) {
  static const char kHex[] = "0123456789abcdef";
  switch (value.type) {
    case SettingsValueType::String:
      AppendQuoted(out, value.text);
      break;
    case SettingsValueType::ExpandString:
      out += "expand:";
      AppendQuoted(out, value.text);
      break;
    case SettingsValueType::Integer: {
      char digits[9];
      std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.number));
      out += "dword:";
      out += digits;
      break;
    }
    case SettingsValueType::Binary:
      out += "hex:";
      for (std::size_t i = 0; i < value.bytes.size(); ++i) {
        if (i > 0) out += ',';
        // Long byte lists go on over several lines, 25 bytes to a line.
        if (i > 0 && i % 25 == 0) out += "\\\n  ";
        out += kHex[value.bytes[i] >> 4];
        out += kHex[value.bytes[i] & 15];
      }
      break;
  }
}

}  // namespace

MemorySettingsStore ParseSettingsText(std::string_view text, const std::string& file_name) {
  return SettingsParser(text, file_name).Parse();
}

std::string FormatSettingsText(const MemorySettingsStore& store) {
  std::string out;
  for (const std::string& key : store.AllKeys()) {
    auto names = store.ValueNames(key);
    // A key with neither values nor subkeys still needs its line to exist; a parent
    // comes into being through its children's lines.
    if (names.empty() && !store.SubkeyNames(key).empty()) continue;
    if (!out.empty()) out += '\n';
    out += '[';
    out += key;
    out += "]\n";
    for (const std::string& name : names) {
      if (name.empty()) {
        out += '@';
      } else {
        AppendQuoted(out, name);
      }
      out += '=';
      AppendValue(out, *store.ReadValue(key, name));
      out += '\n';
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------
// File store.

namespace {

// Settings files are a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kMaxSettingsFileSize = 16u << 20;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

}  // namespace

FileSettingsStore::FileSettingsStore(std::string path) : path_(std::move(path)) {}

MemorySettingsStore FileSettingsStore::Load() const {
  std::error_code ec;
  auto status = std::filesystem::status(path_, ec);
  if (ec || status.type() == std::filesystem::file_type::not_found) return {};
  if (status.type() != std::filesystem::file_type::regular)
    throw core::EFileError(path_ + ": not a settings file (it is not a regular file)");
  std::ifstream in(path_, std::ios::binary);
  // An unreadable file is like a registry key the user may not open: there is nothing
  // to read.
  if (!in) return {};
  auto size = std::filesystem::file_size(path_, ec);
  if (!ec && size > kMaxSettingsFileSize)
    throw core::EFileError(path_ + ": the settings file is too large (" + std::to_string(size) +
                           " bytes)");
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) throw core::EFileError(path_ + ": cannot read the settings file");
  return ParseSettingsText(buffer.str(), path_);
}

void FileSettingsStore::Save(const MemorySettingsStore& store) const {
  std::filesystem::path path(path_);
  std::error_code ec;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), ec);
    if (ec)
      throw core::EFileError(path_ + ": cannot create the directory " +
                             path.parent_path().string() + ": " + ec.message());
  }
  std::string temp = path_ + ".new";
#ifndef _WIN32
  temp += "-" + std::to_string(::getpid());
#endif
  std::string text = FormatSettingsText(store);
  {
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) throw core::EFileError(path_ + ": cannot write the settings file: " + ErrnoText(errno));
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    int error = ok ? 0 : errno;
    ok = (std::fflush(f) == 0) && ok;
    if (!ok && error == 0) error = errno;
#ifndef _WIN32
    if (ok && ::fsync(::fileno(f)) != 0) {
      ok = false;
      error = errno;
    }
#endif
    if (std::fclose(f) != 0 && ok) {
      ok = false;
      error = errno;
    }
    if (!ok) {
      std::remove(temp.c_str());
      throw core::EFileError(path_ + ": cannot write the settings file: " + ErrnoText(error));
    }
  }
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::remove(temp.c_str());
    throw core::EFileError(path_ + ": cannot replace the settings file: " + ec.message());
  }
}

bool FileSettingsStore::KeyExists(std::string_view key) const {
  return Load().KeyExists(key);
}

std::vector<std::string> FileSettingsStore::SubkeyNames(std::string_view key) const {
  return Load().SubkeyNames(key);
}

std::vector<std::string> FileSettingsStore::ValueNames(std::string_view key) const {
  return Load().ValueNames(key);
}

std::optional<SettingsValue> FileSettingsStore::ReadValue(std::string_view key,
                                                          std::string_view name) const {
  return Load().ReadValue(key, name);
}

bool FileSettingsStore::CreateKey(std::string_view key) {
  MemorySettingsStore store = Load();
  if (store.KeyExists(key)) return true;
  if (!store.CreateKey(key)) return false;
  Save(store);
  return true;
}

void FileSettingsStore::WriteValue(std::string_view key, std::string_view name,
                                   const SettingsValue& value) {
  MemorySettingsStore store = Load();
  store.WriteValue(key, name, value);
  Save(store);
}

bool FileSettingsStore::DeleteValue(std::string_view key, std::string_view name) {
  MemorySettingsStore store = Load();
  if (!store.DeleteValue(key, name)) return false;
  Save(store);
  return true;
}

bool FileSettingsStore::DeleteKey(std::string_view key) {
  MemorySettingsStore store = Load();
  if (!store.DeleteKey(key)) return false;
  Save(store);
  return true;
}

// ---------------------------------------------------------------------------------------
// The roots.

#ifdef _WIN32
std::shared_ptr<SettingsStore> MakeRegistryStore(SettingsRoot root);  // registry_store_win.cpp
#endif

namespace {

struct Roots {
  std::mutex mutex;
  std::shared_ptr<SettingsStore> installed[3];
  std::string user_dir;
  std::string machine_dir;
  // The platform's own stores, by file; kept for the whole run so that a reference
  // handed out by StoreFor stays valid when the directories change.
  std::map<std::string, std::shared_ptr<SettingsStore>> own;
  std::shared_ptr<SettingsStore> classes = std::make_shared<MemorySettingsStore>();
};

Roots& TheRoots() {
  static Roots roots;
  return roots;
}

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string SettingsFilePathLocked(Roots& roots, SettingsRoot root) {
  std::string dir;
  if (root == SettingsRoot::CurrentUser) {
    dir = roots.user_dir;
    if (dir.empty()) dir = EnvText("XDG_CONFIG_HOME");
    if (dir.empty()) {
      std::string home = EnvText("HOME");
      dir = (home.empty() ? std::string(".") : home) + "/.config";
    }
  } else {
    dir = roots.machine_dir.empty() ? std::string("/etc") : roots.machine_dir;
  }
  return dir + "/datovrat/registry.ini";
}

}  // namespace

std::string SettingsFilePath(SettingsRoot root) {
  Roots& roots = TheRoots();
  std::lock_guard lock(roots.mutex);
  return SettingsFilePathLocked(roots, root);
}

void SetSettingsDirectories(std::string user_dir, std::string machine_dir) {
  Roots& roots = TheRoots();
  std::lock_guard lock(roots.mutex);
  roots.user_dir = std::move(user_dir);
  roots.machine_dir = std::move(machine_dir);
}

SettingsStore& StoreFor(SettingsRoot root) {
  Roots& roots = TheRoots();
  std::lock_guard lock(roots.mutex);
  auto& installed = roots.installed[static_cast<int>(root)];
  if (installed) return *installed;
#ifdef _WIN32
  std::string key = "registry:" + std::to_string(static_cast<int>(root));
  auto& own = roots.own[key];
  if (!own) own = MakeRegistryStore(root);
  return *own;
#else
  if (root == SettingsRoot::ClassesRoot) return *roots.classes;
  std::string path = SettingsFilePathLocked(roots, root);
  auto& own = roots.own[path];
  if (!own) own = std::make_shared<FileSettingsStore>(path);
  return *own;
#endif
}

std::shared_ptr<SettingsStore> InstallSettingsStore(SettingsRoot root,
                                                    std::shared_ptr<SettingsStore> store) {
  Roots& roots = TheRoots();
  std::lock_guard lock(roots.mutex);
  auto& installed = roots.installed[static_cast<int>(root)];
  std::shared_ptr<SettingsStore> previous = std::move(installed);
  installed = std::move(store);
  return previous;
}

}  // namespace platform

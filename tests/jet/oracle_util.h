// The independent readers the storage tests compare against: mdbtools' command-line
// tools and the npm package mdb-reader (through tests/oracles/mdb_reader_dump.mjs), with
// the small parsers their output needs.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/variant.h"
#include "jet/database.h"

namespace jet::oracle {

namespace fs = std::filesystem;

inline std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  std::array<char, 65536> buf;
  std::size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  int rc = pclose(p);
  if (status) *status = rc;
  return out;
}

inline std::string Quote(const std::string& s) {
  return "'" + s + "'";
}

struct TempDir {
  fs::path path;
  TempDir() {
    char t[] = "/tmp/jetoracleXXXXXX";
    path = mkdtemp(t);
  }
  ~TempDir() { fs::remove_all(path); }
};

// RFC 4180 records of mdb-export's output; each field says whether it was quoted.
struct Field {
  std::string text;
  bool quoted = false;
};
inline std::vector<std::vector<Field>> ParseCsv(const std::string& s) {
  std::vector<std::vector<Field>> rows(1);
  Field f;
  std::size_t i = 0;
  auto end_field = [&] {
    rows.back().push_back(f);
    f = Field{};
  };
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' && f.text.empty() && !f.quoted) {
      f.quoted = true;
      ++i;
      while (i < s.size()) {
        if (s[i] == '"' && i + 1 < s.size() && s[i + 1] == '"') {
          f.text += '"';
          i += 2;
        } else if (s[i] == '"') {
          ++i;
          break;
        } else {
          f.text += s[i++];
        }
      }
    } else if (c == ',') {
      end_field();
      ++i;
    } else if (c == '\n') {
      end_field();
      rows.emplace_back();
      ++i;
    } else {
      f.text += c;
      ++i;
    }
  }
  if (!rows.back().empty() || !f.text.empty()) end_field();
  if (rows.back().empty()) rows.pop_back();
  return rows;
}

inline std::string Hex(const std::vector<std::uint8_t>& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (auto x : b) {
    s += d[x >> 4];
    s += d[x & 15];
  }
  return s;
}

inline std::string Unhex(const std::string& h) {
  std::string s;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

inline std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    std::size_t e = s.find(sep, start);
    out.push_back(s.substr(start, e - start));
    if (e == std::string::npos) break;
    start = e + 1;
  }
  return out;
}

inline std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

inline std::string Guid(const core::Variant& v) {
  std::string s = Upper(v.ToString());
  if (s.size() == 38) s = s.substr(1, 36);
  return s;
}

// mdb-reader's tables: name -> rows of tagged values (see the script's header).
inline std::map<std::string, std::vector<std::vector<std::string>>> MdbReaderTables(
    const std::string& file, std::vector<std::string>* names) {
  int status = 0;
  std::string out = Shell(
      "node " + Quote(std::string(DATOVRAT_SOURCE_DIR) + "/tests/oracles/mdb_reader_dump.mjs") +
          " " + Quote(file),
      &status);
  EXPECT_EQ(status, 0) << "mdb-reader failed on " << file;
  std::map<std::string, std::vector<std::vector<std::string>>> tables;
  std::string current;
  for (const auto& line : Split(out, '\n')) {
    if (line.empty()) continue;
    auto cells = Split(line, '\t');
    if (cells[0] == "#tables") {
      if (names) names->assign(cells.begin() + 1, cells.end());
    } else if (cells[0] == "#table") {
      current = cells[1];
      tables[current];
    } else if (cells[0] != "#columns") {
      tables[current].push_back(cells);
    }
  }
  return tables;
}

inline bool ToolsPresent() {
  int a = 0, b = 0;
  Shell("mdb-export --version", &a);
  Shell("node --version", &b);
  return a == 0 && b == 0 &&
         fs::exists(fs::path(DATOVRAT_SOURCE_DIR) / "tests/oracles/node_modules/mdb-reader");
}

// Everything every reader shows of a file's tables, as text.
inline std::map<std::string, std::string> Snapshot(const std::string& file) {
  std::map<std::string, std::string> out;
  for (const auto& name : Split(Shell("mdb-tables -1 " + Quote(file)), '\n')) {
    if (name.empty()) continue;
    out["mdbtools " + name] = Shell("mdb-export -b hex " + Quote(file) + " " + Quote(name));
    out["count " + name] = Shell("mdb-count " + Quote(file) + " " + Quote(name));
  }
  std::vector<std::string> names;
  for (auto& [name, rows] : MdbReaderTables(file, &names)) {
    std::string text;
    for (const auto& r : rows)
      for (const auto& c : r) text += c + "\t";
    out["mdb-reader " + name] = text;
  }
  auto db = Database::Open(file, {.read_only = true});
  for (const auto& e : db->Tables(false)) {
    if (!e.IsTable()) continue;
    Table& t = db->OpenTable(e.name);
    std::string text;
    auto scan = t.StartScan();
    while (scan.Next())
      for (const auto& v : scan.Values()) text += (v.IsNull() ? "<null>" : v.ToString()) + "\t";
    out["ours " + e.name] = text;
  }
  return out;
}

}  // namespace jet::oracle

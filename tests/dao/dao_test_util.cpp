#include "dao_test_util.h"

#include <cstdio>
#include <random>
#include <sstream>

namespace daotest {

TempDir::TempDir() {
  std::random_device rd;
  dir_ = std::filesystem::temp_directory_path() /
         ("datovrat-dao-" + std::to_string(rd()) + "-" + std::to_string(rd()));
  std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string Run(const std::string& command, int* status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int rc = ::pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

std::string OracleDir() {
  return std::string(DATOVRAT_SOURCE_DIR) + "/tests/oracles";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

// RFC 4180 CSV as mdb-export writes it with -q '"' -X '"'.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string cell;
  bool quoted = false, any = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          cell += '"';
          ++i;
        } else {
          quoted = false;
        }
      } else {
        cell += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(cell);
      cell.clear();
      any = true;
    } else if (c == '\n') {
      row.push_back(cell);
      rows.push_back(row);
      row.clear();
      cell.clear();
      any = false;
    } else if (c != '\r') {
      cell += c;
      any = true;
    }
  }
  if (any) {
    row.push_back(cell);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

bool HaveMdbTools() {
  int status = 0;
  Run("command -v mdb-export >/dev/null 2>&1", &status);
  return status == 0;
}

bool HaveMdbReader() {
  int status = 0;
  Run("command -v node >/dev/null 2>&1 && test -d " +
          Quote(OracleDir() + "/node_modules/mdb-reader"),
      &status);
  return status == 0;
}

std::vector<std::vector<std::string>> MdbExport(const std::string& file, const std::string& table) {
  int status = 0;
  std::string out =
      Run("mdb-export -q '\"' -T '%Y-%m-%d %H:%M:%S' " + Quote(file) + " " + Quote(table) + " 2>&1",
          &status);
  EXPECT_EQ(status, 0) << out;
  return ParseCsv(out);
}

std::vector<std::string> MdbTables(const std::string& file) {
  int status = 0;
  std::string out = Run("mdb-tables -1 " + Quote(file) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  return Lines(out);
}

std::vector<std::string> MdbReaderRows(const std::string& file, const std::string& table) {
  int status = 0;
  std::string script = std::string(DATOVRAT_SOURCE_DIR) + "/tests/dao/read_with_mdb_reader.mjs";
  std::string out = Run("NODE_PATH=" + Quote(OracleDir() + "/node_modules") + " node " +
                            Quote(script) + " rows " + Quote(file) + " " + Quote(table) + " 2>&1",
                        &status);
  EXPECT_EQ(status, 0) << out;
  return Lines(out);
}

std::vector<std::string> MdbReaderTables(const std::string& file) {
  int status = 0;
  std::string script = std::string(DATOVRAT_SOURCE_DIR) + "/tests/dao/read_with_mdb_reader.mjs";
  std::string out = Run("node " + Quote(script) + " tables " + Quote(file) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  return Lines(out);
}

int ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const core::EOleException& e) {
    return e.ErrorCode();
  }
  return 0;
}

void CreateTable(dao::Database& db, const std::string& name, const std::vector<Column>& columns) {
  auto td = db.CreateTableDef(name);
  for (const auto& c : columns) {
    auto f = td->CreateField(c.name, c.type, c.size);
    if (c.attributes) f->SetAttributes(c.attributes);
    if (c.required) f->SetRequired(true);
    td->Fields().Append(f);
  }
  db.TableDefs().Append(td);
}

std::uint32_t BookmarkKey(const core::Variant& bookmark) {
  const auto& b = bookmark.Bytes();
  return static_cast<std::uint32_t>(b.at(0)) | (static_cast<std::uint32_t>(b.at(1)) << 8) |
         (static_cast<std::uint32_t>(b.at(2)) << 16) | (static_cast<std::uint32_t>(b.at(3)) << 24);
}

core::Variant ShortBookmark(std::uint32_t key) {
  return core::Variant::FromBytes(
      {static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8),
       static_cast<std::uint8_t>(key >> 16), static_cast<std::uint8_t>(key >> 24)});
}

}  // namespace daotest

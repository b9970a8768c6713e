// Files we write, read back by independent readers: mdbtools (mdb-tables, mdb-count,
// mdb-schema, mdb-export) and the npm package mdb-reader (tests/oracles/mdb_reader_dump.mjs).
// Each value is compared with what was written, allowing only for the readers' documented
// habits (see docs/jet4-format.md, "What the readers show").
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "core/datetime.h"
#include "jet/check.h"
#include "jet/column_spec.h"
#include "jet/database.h"
#include "jet_test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using core::Variant;

std::string Shell(const std::string& command, int* status = nullptr) {
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

std::string Quote(const std::string& s) {
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
std::vector<std::vector<Field>> ParseCsv(const std::string& s) {
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

std::string Hex(const std::vector<std::uint8_t>& b) {
  static const char* d = "0123456789ABCDEF";
  std::string s;
  for (auto x : b) {
    s += d[x >> 4];
    s += d[x & 15];
  }
  return s;
}

std::string Unhex(const std::string& h) {
  std::string s;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    s += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return s;
}

std::string Unescape(const std::string& s) {
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

std::vector<std::string> Split(const std::string& s, char sep) {
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

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Guid(const Variant& v) {
  std::string s = Upper(v.ToString());
  if (s.size() == 38) s = s.substr(1, 36);
  return s;
}

// mdb-reader's tables: name -> rows of tagged values (see the script's header).
std::map<std::string, std::vector<std::vector<std::string>>> MdbReaderTables(
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

bool ToolsPresent() {
  int a = 0, b = 0;
  Shell("mdb-export --version", &a);
  Shell("node --version", &b);
  return a == 0 && b == 0 &&
         fs::exists(fs::path(DATOVRAT_SOURCE_DIR) / "tests/oracles/node_modules/mdb-reader");
}

// What mdb-reader shows for a value we wrote.
void ExpectMdbReaderValue(std::uint8_t type, const Variant& written, const std::string& cell) {
  SCOPED_TRACE("mdb-reader cell " + cell.substr(0, 80));
  if (written.IsNull()) {
    EXPECT_EQ(cell, "N");
    return;
  }
  std::string tag = cell.substr(0, 2), body = cell.size() > 2 ? cell.substr(2) : "";
  switch (type) {
    case column_type::kBoolean:
      EXPECT_EQ(cell, written.ToBoolean() ? "B:true" : "B:false");
      break;
    case column_type::kByte:
    case column_type::kInteger:
    case column_type::kLong:
      EXPECT_EQ(cell, "F:" + std::to_string(written.ToLong()));
      break;
    case column_type::kSingle:
      EXPECT_EQ(tag, "F:");
      EXPECT_EQ(std::strtod(body.c_str(), nullptr), static_cast<double>(written.ToSingle()));
      break;
    case column_type::kDouble:
      EXPECT_EQ(tag, "F:");
      EXPECT_EQ(std::strtod(body.c_str(), nullptr), written.ToDouble());
      break;
    case column_type::kCurrency: {
      core::Currency c;
      ASSERT_TRUE(core::TryTextToCurrency(body, c));
      EXPECT_EQ(c, written.ToCurrency());
      break;
    }
    case column_type::kNumeric: {
      core::Decimal d;
      ASSERT_TRUE(core::TryTextToDecimal(body, d));
      EXPECT_EQ(Variant::FromDecimal(d).ToString(), written.ToString());
      break;
    }
    case column_type::kDateTime: {
      // mdb-reader converts the stored double linearly: (days - 25569) * 86400000 ms.
      EXPECT_EQ(tag, "D:");
      double expected = std::round((written.ToDate() - 25569.0) * 86400000.0);
      EXPECT_NEAR(std::strtod(body.c_str(), nullptr), expected, 1.0);
      break;
    }
    case column_type::kBinary:
    case column_type::kOle:
      EXPECT_EQ(cell, "X:" + Hex(written.Bytes()));
      break;
    case column_type::kGuid:
      EXPECT_EQ(Upper(body), Guid(written));
      break;
    default:
      EXPECT_EQ(cell, "S:" + written.ToString()) << "(escaped on the reader's side)";
  }
}

// What mdb-export (-b hex, -T ISO) shows for a value we wrote.
void ExpectMdbExportValue(std::uint8_t type, const Variant& written, const Field& f) {
  SCOPED_TRACE("mdb-export field " + f.text.substr(0, 80));
  if (written.IsNull()) {
    EXPECT_TRUE(f.text.empty() && !f.quoted);
    return;
  }
  switch (type) {
    case column_type::kBoolean:
      EXPECT_EQ(f.text, written.ToBoolean() ? "1" : "0");
      break;
    case column_type::kByte:
    case column_type::kInteger:
    case column_type::kLong:
      EXPECT_EQ(f.text, std::to_string(written.ToLong()));
      break;
    case column_type::kSingle:
      EXPECT_EQ(std::strtof(f.text.c_str(), nullptr), written.ToSingle());
      break;
    case column_type::kDouble: {
      // Printed with 16 significant digits.
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.16g", written.ToDouble());
      EXPECT_EQ(f.text, buf);
      break;
    }
    case column_type::kCurrency: {
      core::Currency c;
      ASSERT_TRUE(core::TryTextToCurrency(f.text, c));
      EXPECT_EQ(c, written.ToCurrency());
      break;
    }
    case column_type::kNumeric: {
      core::Decimal d;
      ASSERT_TRUE(core::TryTextToDecimal(f.text, d));
      EXPECT_EQ(Variant::FromDecimal(d).ToString(), written.ToString());
      break;
    }
    case column_type::kDateTime: {
      // mdbtools cannot format dates before 1900, nor the last second of 9999 (it prints
      // "1900-01-00" for them).
      core::DateParts p = core::DecodeDateTime(written.ToDate());
      if (p.year < 1900 || p.year == 9999) break;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                    p.hour, p.minute, p.second);
      EXPECT_EQ(f.text, buf);
      break;
    }
    case column_type::kBinary:
      // mdbtools prints Binary (not OLE) columns as C strings: a leading zero byte ends them.
      if (!written.Bytes().empty() && written.Bytes()[0] == 0) break;
      EXPECT_EQ(f.text, Hex(written.Bytes()));
      break;
    case column_type::kOle:
      EXPECT_EQ(f.text, Hex(written.Bytes()));
      break;
    case column_type::kGuid: {
      // mdbtools prints GUIDs as text (hex-encoded by -b hex) and leaves out the last dash.
      auto no_dashes = [](std::string s) {
        s.erase(std::remove(s.begin(), s.end(), '-'), s.end());
        return s;
      };
      EXPECT_EQ(no_dashes(Upper(Unhex(f.text))), "{" + no_dashes(Guid(written)) + "}");
      break;
    }
    default:
      EXPECT_EQ(f.text, written.ToString());
  }
}

TEST(Oracles, EveryTypeReadsBackIdenticallyInMdbtoolsAndMdbReader) {
  ASSERT_TRUE(ToolsPresent())
      << "mdbtools, node and tests/oracles/node_modules are needed (make deps)";
  TempDir dir;
  std::string file = (dir.path / "alltypes.mdb").string();
  {
    auto db = Database::Create(file);
    testing::FillAllTypes(*db);
    db->Close();
  }
  auto tables = testing::AllTypeTables();
  std::set<std::string> expected_names;
  for (const auto& t : tables) expected_names.insert(t.name);
  auto listed = Split(Shell("mdb-tables -1 " + Quote(file)), '\n');
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end() - 1), expected_names);
  std::vector<std::string> reader_names;
  auto reader = MdbReaderTables(file, &reader_names);
  EXPECT_EQ(std::set<std::string>(reader_names.begin(), reader_names.end()), expected_names);

  // mdbtools' names for the column types, from its own type table.
  std::map<std::uint8_t, std::string> schema_type = {{column_type::kBoolean, "Boolean NOT NULL"},
                                                     {column_type::kByte, "Byte"},
                                                     {column_type::kInteger, "Integer"},
                                                     {column_type::kLong, "Long Integer"},
                                                     {column_type::kCurrency, "Currency"},
                                                     {column_type::kSingle, "Single"},
                                                     {column_type::kDouble, "Double"},
                                                     {column_type::kDateTime, "DateTime"},
                                                     {column_type::kBinary, "Binary"},
                                                     {column_type::kText, "Text (255)"},
                                                     {column_type::kOle, "OLE"},
                                                     {column_type::kMemo, "Memo/Hyperlink"},
                                                     {column_type::kGuid, "Replication ID"},
                                                     {column_type::kNumeric, "Numeric (28, 4)"}};
  for (const auto& t : tables) {
    SCOPED_TRACE(t.name);
    EXPECT_EQ(Shell("mdb-count " + Quote(file) + " " + t.name),
              std::to_string(t.values.size()) + "\n");
    std::string schema = Shell("mdb-schema -T " + t.name + " " + Quote(file));
    EXPECT_NE(schema.find("[V]\t\t\t" + schema_type[t.column.type]), std::string::npos) << schema;

    auto csv =
        ParseCsv(Shell("mdb-export -b hex -T '%Y-%m-%d %H:%M:%S' " + Quote(file) + " " + t.name));
    ASSERT_EQ(csv.size(), t.values.size() + 1);
    for (std::size_t i = 0; i < t.values.size(); ++i) {
      ASSERT_EQ(csv[i + 1].size(), 2u);
      EXPECT_EQ(csv[i + 1][0].text, std::to_string(i + 1));
      ExpectMdbExportValue(t.column.type, t.values[i], csv[i + 1][1]);
    }
    const auto& rows = reader[t.name];
    ASSERT_EQ(rows.size(), t.values.size());
    for (std::size_t i = 0; i < t.values.size(); ++i) {
      EXPECT_EQ(rows[i][0], "F:" + std::to_string(i + 1));
      std::string cell = rows[i][1];
      if (cell.rfind("S:", 0) == 0) cell = "S:" + Unescape(cell.substr(2));
      ExpectMdbReaderValue(t.column.type, t.values[i], cell);
    }
  }
}

// Everything every reader shows of a file's tables, as text.
std::map<std::string, std::string> Snapshot(const std::string& file) {
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

TEST(Oracles, AddingATableToAccessMadeFilesLeavesTheirTablesAsTheyWere) {
  ASSERT_TRUE(ToolsPresent())
      << "mdbtools, node and tests/oracles/node_modules are needed (make deps)";
  TempDir dir;
  fs::path corpus = fs::path(DATOVRAT_TESTDATA) / "jet" / "access";
  std::vector<fs::path> files(fs::directory_iterator(corpus), fs::directory_iterator{});
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 16u);
  for (const auto& source : files) {
    SCOPED_TRACE(source.filename().string());
    std::string file = (dir.path / source.filename()).string();
    fs::copy_file(source, file, fs::copy_options::overwrite_existing);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    {
      auto db = Database::Open(file, {.read_only = true});
      for (const auto& p : CheckDatabase(*db).problems) ADD_FAILURE() << "before: " << p;
    }
    auto before = Snapshot(file);
    {
      auto db = Database::Open(file);
      NewTable spec;
      spec.name = "Added By Datovrat";
      ParseColumnList("ID COUNTER, NAME TEXT(40), AMOUNT CURRENCY, NOTE MEMO", spec);
      Table& t = db->CreateTable(spec);
      for (int i = 0; i < 50; ++i)
        t.Insert(std::vector<Variant>{Variant(), Variant::FromString(testing::kCzech),
                                      testing::Cy("1.25"),
                                      Variant::FromString(std::string(i * 97, 'm'))});
      db->Close();
    }
    auto after = Snapshot(file);
    for (const auto& [key, text] : before) {
      auto it = after.find(key);
      ASSERT_NE(it, after.end()) << key << " is gone";
      EXPECT_EQ(it->second, text) << key << " changed";
    }
    EXPECT_EQ(after.count("mdbtools Added By Datovrat"), 1u);
    EXPECT_EQ(after.count("mdb-reader Added By Datovrat"), 1u);
    EXPECT_EQ(after["count Added By Datovrat"], "50\n");
    auto db = Database::Open(file, {.read_only = true});
    for (const auto& p : CheckDatabase(*db).problems) ADD_FAILURE() << "after: " << p;
  }
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

TEST(Oracles, ColumnPropertiesAreWhereMdbtoolsLooksForThem) {
  ASSERT_TRUE(ToolsPresent())
      << "mdbtools, node and tests/oracles/node_modules are needed (make deps)";
  TempDir dir;
  std::string file = (dir.path / "props.mdb").string();
  {
    auto db = Database::Create(file);
    db->CreateTable(
        {"Goods",
         {NewColumn{.name = "Price",
                    .type = column_type::kCurrency,
                    .required = true,
                    .default_value = "0",
                    .format = "Currency",
                    .caption = "Unit price",
                    .description = "Price per piece"},
          NewColumn{
              .name = "Name", .type = column_type::kText, .size = 20, .allow_zero_length = false}},
         {},
         "Things we sell"});
    db->Close();
  }
  std::string table = Shell("mdb-prop " + Quote(file) + " Goods");
  // mdb-prop prints one block per map ("name: ..." and tab-indented properties, in its own order).
  auto block = [&](const std::string& name) {
    std::size_t at = table.find("name: " + name + "\n");
    if (at == std::string::npos) return std::string();
    return table.substr(at, table.find("\n\n", at) - at) + "\n";
  };
  struct Case {
    const char* map;
    const char* line;
  };
  for (const auto& c : std::vector<Case>{{"(none)", "\tDescription: Things we sell\n"},
                                         {"Price", "\tDescription: Price per piece\n"},
                                         {"Price", "\tDefaultValue: 0\n"},
                                         {"Price", "\tRequired: yes\n"},
                                         {"Price", "\tFormat: Currency\n"},
                                         {"Price", "\tCaption: Unit price\n"},
                                         {"Name", "\tAllowZeroLength: no\n"}}) {
    EXPECT_NE(block(c.map).find(c.line), std::string::npos) << c.map << ": " << c.line << table;
  }
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

TEST(Oracles, UpdatedAndMovedRowsReadBackInBothReaders) {
  ASSERT_TRUE(ToolsPresent())
      << "mdbtools, node and tests/oracles/node_modules are needed (make deps)";
  TempDir dir;
  std::string file = (dir.path / "upd.mdb").string();
  std::map<std::int32_t, std::string> expected;  // ID -> T
  {
    auto db = Database::Create(file);
    Table& t = db->CreateTable({"U",
                                {NewColumn{.name = "ID", .type = column_type::kLong},
                                 NewColumn{.name = "T", .type = column_type::kText, .size = 200},
                                 NewColumn{.name = "M", .type = column_type::kMemo}},
                                {},
                                ""});
    std::vector<RowPointer> rows;
    for (int i = 0; i < 60; ++i) {
      rows.push_back(t.Insert(std::vector<Variant>{Variant::FromLong(i),
                                                   Variant::FromString("row " + std::to_string(i)),
                                                   Variant::FromString(std::string(100, 'a'))}));
      expected[i] = "row " + std::to_string(i);
    }
    for (int i = 0; i < 60; i += 3) {  // shorter, in place
      t.Update(rows[i], std::vector<Variant>{Variant(), Variant::FromString("s"), Variant::Null()});
      expected[i] = "s";
    }
    for (int i = 1; i < 60; i += 3) {  // longer: moved behind a forwarding row
      std::string big(100 + i, 'L');
      t.Update(rows[i], std::vector<Variant>{Variant::FromLong(1000 + i), Variant::FromString(big),
                                             Variant()});
      expected.erase(i);
      expected[1000 + i] = big;
    }
    t.Delete(rows[2]);
    expected.erase(2);
    db->Close();
  }
  std::map<std::int32_t, std::string> by_mdbtools, by_reader;
  auto csv = ParseCsv(Shell("mdb-export " + Quote(file) + " U"));
  for (std::size_t i = 1; i < csv.size(); ++i)
    by_mdbtools[std::stoi(csv[i][0].text)] = csv[i][1].text;
  auto reader = MdbReaderTables(file, nullptr);
  for (const auto& row : reader["U"])
    by_reader[std::stoi(row[0].substr(2))] = Unescape(row[1].substr(2));
  EXPECT_EQ(by_mdbtools, expected);
  EXPECT_EQ(by_reader, expected);
  EXPECT_EQ(Shell("mdb-count " + Quote(file) + " U"), std::to_string(expected.size()) + "\n");
}

}  // namespace
}  // namespace jet

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
#include "database_internal.h"
#include "jet/check.h"
#include "jet/column_list.h"
#include "jet/database.h"
#include "jet_test_util.h"
#include "oracle_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using core::Variant;
using namespace oracle;

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

namespace jet {
namespace {

using namespace oracle;

// mdb-schema's PostgreSQL output: the CREATE INDEX and PRIMARY KEY lines of one table.
std::set<std::string> SchemaIndexLines(const std::string& file, const std::string& table) {
  std::set<std::string> out;
  for (const auto& line :
       Split(Shell("mdb-schema -T " + Quote(table) + " " + Quote(file) + " postgres"), '\n'))
    if (line.find("CREATE INDEX") == 0 || line.find("PRIMARY KEY") != std::string::npos)
      out.insert(line);
  return out;
}

// What mdbtools needs to show a table's indexes: with n logical indexes outside
// relationships, it reads real index k (k < n) as the one of such a logical index
// numbered k.
bool IndexesPaired(const TableDefinition& def) {
  std::uint32_t n = 0;
  for (const auto& li : def.indexes) n += li.kind != index_kind::kForeignKey;
  for (std::uint32_t k = 0; k < n; ++k) {
    bool found = false;
    for (const auto& li : def.indexes)
      found = found || (li.kind != index_kind::kForeignKey && li.number == k && li.real_index == k);
    if (!found) return false;
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(Oracles, IndexesAddedToAndDroppedFromAccessMadeTables) {
  ASSERT_TRUE(ToolsPresent())
      << "mdbtools, node and tests/oracles/node_modules are needed (make deps)";
  TempDir dir;
  fs::path corpus = fs::path(DATOVRAT_TESTDATA) / "jet" / "access";
  std::vector<fs::path> files(fs::directory_iterator(corpus), fs::directory_iterator{});
  std::sort(files.begin(), files.end());
  int files_changed = 0;
  for (const auto& source : files) {
    SCOPED_TRACE(source.filename().string());
    std::string file = (dir.path / source.filename()).string();
    fs::copy_file(source, file, fs::copy_options::overwrite_existing);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    auto before = Snapshot(file);
    std::map<std::string, std::vector<std::uint8_t>> definitions;
    std::set<std::string> paired;  // tables whose logical numbers follow their real indexes
    std::set<std::string> shown;   // tables whose new index mdbtools can show
    std::map<std::string, std::set<std::string>> schema;
    std::map<std::string, std::pair<std::string, bool>> added;  // table -> column, ascending
    {
      auto db = Database::Open(file);
      for (const auto& e : db->Tables(false)) {
        if (!e.IsTable()) continue;
        Table& t = db->OpenTable(e.name);
        definitions[e.name] = ReadTableDefinitionBytes(PageCacheOf(*db), t.Definition());
        if (IndexesPaired(t.Definition())) paired.insert(e.name);
        schema[e.name] = SchemaIndexLines(file, e.name);
        for (const auto& c : t.Definition().columns) {
          if (c.IsLongValue() || c.type == column_type::kBinary ||
              (c.IsText() && !IsGeneralSortOrder(c.TextSortOrder())))
            continue;
          // A column list no index has yet: an identical one would share its tree, and
          // mdbtools shows only one logical index per tree.
          bool ascending = false;
          for (const auto& ri : t.Definition().real_indexes)
            if (ri.columns == std::vector<IndexColumn>{{c.number, false}}) ascending = true;
          added[e.name] = {c.name, ascending};  // before the definition is replaced
          NewIndex index;
          index.name = "DatovratIdx";
          index.columns = {added[e.name]};
          db->AddIndex(e.name, index);
          const TableDefinition& def = db->OpenTable(e.name).Definition();
          bool relationships = false;
          for (const auto& li : def.indexes)
            relationships = relationships || li.kind == index_kind::kForeignKey;
          // mdbtools can show the new index unless relationship indexes hold the number
          // it looks for (their numbers are referred to from other tables and stay).
          if (IndexesPaired(def)) shown.insert(e.name);
          EXPECT_TRUE(relationships || shown.count(e.name)) << e.name;
          break;
        }
      }
      db->Close();
    }
    if (added.empty()) continue;  // no user tables
    files_changed++;
    EXPECT_EQ(Snapshot(file), before);
    {
      auto db = Database::Open(file, {.read_only = true});
      for (const auto& p : CheckDatabase(*db).problems) ADD_FAILURE() << "with the index: " << p;
    }
    for (const auto& [table, column] : added) {
      SCOPED_TRACE(table);
      auto lines = SchemaIndexLines(file, table);
      std::string expected = "CREATE INDEX \"" + Lower(table) + "_datovratidx_idx\" ON \"" +
                             Lower(table) + "\" (\"" + Lower(column.first) + "\"" +
                             (column.second ? "" : " DESC") + ");";
      if (!shown.count(table)) continue;
      EXPECT_EQ(lines.count(expected), 1u) << expected;
      // What mdbtools showed before is still there, and the indexes of tables that confused
      // it (logical numbers with gaps, from indexes Access dropped) now show their columns.
      if (paired.count(table)) {
        for (const auto& line : schema[table]) EXPECT_EQ(lines.count(line), 1u) << line;
      } else {
        for (const auto& line : lines) EXPECT_EQ(line.find("()"), std::string::npos) << line;
      }
    }
    {
      auto db = Database::Open(file);
      for (const auto& [table, column] : added) db->DropIndex(table, "DatovratIdx");
      db->Close();
    }
    EXPECT_EQ(Snapshot(file), before);
    auto db = Database::Open(file, {.read_only = true});
    for (const auto& p : CheckDatabase(*db).problems) ADD_FAILURE() << "dropped again: " << p;
    for (const auto& [table, column] : added) {
      SCOPED_TRACE(table);
      Table& t = db->OpenTable(table);
      if (paired.count(table)) {
        EXPECT_TRUE(ReadTableDefinitionBytes(PageCacheOf(*db), t.Definition()) ==
                    definitions[table])
            << "the definition is not what Access wrote";
        EXPECT_EQ(SchemaIndexLines(file, table), schema[table]);
      } else {
        EXPECT_TRUE(IndexesPaired(t.Definition()));
        for (const auto& line : SchemaIndexLines(file, table))
          EXPECT_EQ(line.find("()"), std::string::npos) << line;
      }
    }
  }
  EXPECT_GE(files_changed, 12);
}

}  // namespace
}  // namespace jet

namespace jet {
namespace {

using namespace oracle;

// Pages whose deleted rows gave their bytes to new rows (deleted rows then take no bytes
// at all) read back in both readers.
TEST(Oracles, RowsInTheRoomOfDeletedOnesReadBackInBothReaders) {
  ASSERT_TRUE(ToolsPresent())
      << "mdbtools, node and tests/oracles/node_modules are needed (make deps)";
  TempDir dir;
  std::string file = (dir.path / "reuse.mdb").string();
  std::map<std::int32_t, std::string> expected;  // ID -> T
  {
    auto db = Database::Create(file);
    Table& t = db->CreateTable({"R",
                                {NewColumn{.name = "ID", .type = column_type::kLong},
                                 NewColumn{.name = "T", .type = column_type::kText, .size = 200},
                                 NewColumn{.name = "M", .type = column_type::kMemo}},
                                {},
                                ""});
    std::map<std::int32_t, RowPointer> rows;
    auto insert = [&](std::int32_t id, std::size_t length) {
      std::string text = std::to_string(id) + std::string(length, 'x');
      rows[id] = t.Insert(std::vector<Variant>{Variant::FromLong(id), Variant::FromString(text),
                                               Variant::FromString(std::string(200, 'm'))});
      expected[id] = text;
    };
    for (int i = 0; i < 600; ++i) insert(i, 20 + i % 90);
    for (int i = 0; i < 600; i += 2) {
      t.Delete(rows[i]);
      rows.erase(i);
      expected.erase(i);
    }
    for (int i = 600; i < 900; ++i) insert(i, 10 + i % 120);
    for (int i = 1; i < 600; i += 6) {  // grown: moved into room deleted rows left
      std::string text = std::string(150, 'G') + std::to_string(i);
      t.Update(rows[i], std::vector<Variant>{Variant(), Variant::FromString(text), Variant()});
      expected[i] = text;
    }
    db->Close();
  }
  std::map<std::int32_t, std::string> by_mdbtools, by_reader;
  auto csv = ParseCsv(Shell("mdb-export " + Quote(file) + " R"));
  for (std::size_t i = 1; i < csv.size(); ++i)
    by_mdbtools[std::stoi(csv[i][0].text)] = csv[i][1].text;
  auto reader = MdbReaderTables(file, nullptr);
  for (const auto& row : reader["R"])
    by_reader[std::stoi(row[0].substr(2))] = Unescape(row[1].substr(2));
  EXPECT_EQ(by_mdbtools, expected);
  EXPECT_EQ(by_reader, expected);
  EXPECT_EQ(Shell("mdb-count " + Quote(file) + " R"), std::to_string(expected.size()) + "\n");
  auto db = Database::Open(file, {.read_only = true});
  for (const auto& p : CheckDatabase(*db).problems) ADD_FAILURE() << p;
}

}  // namespace
}  // namespace jet

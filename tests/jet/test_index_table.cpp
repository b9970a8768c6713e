// Indexes of a real table through the storage engine's front door: 200,000 rows of Czech
// text, numbers, dates, Nulls and duplicates under a primary key, a unique index and a
// two-column descending index. Built row by row and in one pass, the entries agree; the
// descending index orders rows as the General sort order (computed here from the code
// table, independently of the engine's key builder) says; after deleting half of the rows
// and updating a quarter, every index still checks clean and mdbtools and mdb-reader read
// every remaining row.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "btree.h"
#include "index_check.h"
#include "jet/database.h"
#include "test_index_util.h"

namespace {

using core::Variant;

// ---- the General order, from the code table's rows for the characters used ----------

struct Weights {
  std::string primary;  // inline bytes
  std::uint8_t accent;  // the diacritic byte; 2 = none
};

std::map<char16_t, Weights> LoadCodes() {
  std::ifstream in(index_test::DataPath("sort-codes-czech.tsv"));
  std::map<char16_t, Weights> codes;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) f.push_back(cell);
    f.resize(8);
    const auto unit = static_cast<char16_t>(std::stoul(f[0], nullptr, 16));
    const auto primary = index_test::Unhex(f[3]);
    codes[unit] = {std::string(primary.begin(), primary.end()),
                   static_cast<std::uint8_t>(f[4].empty() ? 2 : std::stoul(f[4], nullptr, 16))};
  }
  return codes;
}

// Compares two texts the way the General order does for letters, digits and blanks:
// letters first (case ignored, shorter first), then accents position by position.
int CompareGeneral(const std::map<char16_t, Weights>& codes, std::u16string a, std::u16string b) {
  while (!a.empty() && a.back() == u' ') a.pop_back();
  while (!b.empty() && b.back() == u' ') b.pop_back();
  auto split = [&](const std::u16string& s, std::string& primary, std::string& accents) {
    for (char16_t c : s) {
      const Weights& w = codes.at(c);
      primary += w.primary;
      accents += static_cast<char>(w.accent);
    }
    while (!accents.empty() && accents.back() == 2) accents.pop_back();
  };
  std::string pa, aa, pb, ab;
  split(a, pa, aa);
  split(b, pb, ab);
  if (pa != pb) return pa < pb ? -1 : 1;
  if (aa != ab) return aa < ab ? -1 : 1;
  return 0;
}

// ---- the table ----------------------------------------------------------------------

struct RowData {
  std::int32_t id;
  std::u16string code;  // unique
  std::optional<std::u16string> name;
  std::optional<double> born;
  double amount;
};

const char16_t* const kSyllables[] = {u"ča", u"Ře", u"ši", u"Žo", u"ďu", u"Ťá", u"ňé", u"ě",  u"ý",
                                      u"ů",  u"ka", u"LO", u"mi", u"nu", u"Pa", u"se", u"to", u"a ",
                                      u"Ch", u"ch", u"Í",  u"ó",  u"ú",  u"x",  u"7"};

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

RowData MakeRow(std::mt19937& rng, std::int32_t id, const std::string& code_prefix) {
  RowData r;
  r.id = id;
  r.code = index_test::Utf16(code_prefix + std::to_string(id));
  if (rng() % 20 != 0) {
    std::u16string name;
    // Few distinct names: plenty of duplicates, and case/accent variants of each other.
    const int parts = 1 + static_cast<int>(rng() % 3);
    for (int p = 0; p < parts; ++p) name += kSyllables[rng() % 6 + (rng() % 4 == 0 ? 10 : 0)];
    if (rng() % 7 == 0) name += u"  ";
    r.name = name;
  }
  if (rng() % 10 != 0) r.born = 20000.0 + static_cast<double>(rng() % 3000) + (rng() % 4) * 0.25;
  r.amount = static_cast<double>(static_cast<int>(rng() % 200000) - 100000) / 8.0;
  return r;
}

std::vector<Variant> Values(const RowData& r) {
  return {Variant::FromLong(r.id), Variant::FromString(Utf8(r.code)),
          r.name ? Variant::FromString(Utf8(*r.name)) : Variant::Null(),
          r.born ? Variant::FromDate(*r.born) : Variant::Null(), Variant::FromDouble(r.amount)};
}

jet::NewTable Spec(bool with_indexes) {
  jet::NewTable t;
  t.name = "Lide";
  auto column = [](const char* name, std::uint8_t type, std::uint16_t size = 0) {
    jet::NewColumn c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
  };
  t.columns = {column("id", jet::column_type::kLong), column("code", jet::column_type::kText, 20),
               column("name", jet::column_type::kText, 50),
               column("born", jet::column_type::kDateTime),
               column("amount", jet::column_type::kDouble)};
  if (with_indexes) {
    auto index = [](const char* name, std::vector<std::pair<std::string, bool>> columns,
                    bool primary, bool unique) {
      jet::NewIndex x;
      x.name = name;
      x.columns = std::move(columns);
      x.primary_key = primary;
      x.unique = unique;
      return x;
    };
    t.indexes = {index("PrimaryKey", {{"id", true}}, true, true),
                 index("code", {{"code", true}}, false, true),
                 index("NameBorn", {{"name", false}, {"born", false}}, false, false)};
  }
  return t;
}

std::string Problems(jet::Database& db, jet::Table& table) {
  std::string out;
  for (const auto& c : jet::CheckTableIndexes(db, table)) {
    for (const auto& p : c.problems) out += p + "\n";
  }
  return out;
}

using Entries = std::vector<std::vector<std::uint8_t>>;

std::vector<Entries> AllEntries(jet::Table& table) {
  std::vector<Entries> out;
  const auto& def = table.Definition();
  for (std::size_t i = 0; i < def.real_indexes.size(); ++i) {
    Entries entries;
    jet::IndexCursor c(table, i);
    for (bool ok = c.First(); ok; ok = c.Next())
      entries.emplace_back(c.Entry().begin(), c.Entry().end());
    out.push_back(std::move(entries));
  }
  return out;
}

// (key, id) pairs of an index in index order.
std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> KeysAndIds(
    jet::Table& table, const std::string& index, const std::map<std::uint32_t, std::int32_t>& ids) {
  const auto& def = table.Definition();
  std::vector<std::pair<std::vector<std::uint8_t>, std::int32_t>> out;
  for (const auto& logical : def.indexes) {
    if (logical.name != index) continue;
    jet::IndexCursor c(table, logical.real_index);
    for (bool ok = c.First(); ok; ok = c.Next()) {
      const jet::RowPointer at{c.Row().page, c.Row().row};
      out.emplace_back(std::vector<std::uint8_t>(c.Key().begin(), c.Key().end()),
                       ids.at(at.ToU32()));
    }
  }
  return out;
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  pclose(p);
  return out;
}

class IndexTable : public ::testing::Test {
 protected:
  const int kRows =
      std::getenv("INDEX_TABLE_ROWS") ? std::atoi(std::getenv("INDEX_TABLE_ROWS")) : 200000;

  void SetUp() override {
    codes_ = LoadCodes();
    path_ = ::testing::TempDir() + "index_table_" + std::to_string(::getpid()) + ".mdb";
    std::remove(path_.c_str());
  }
  void TearDown() override {
    db_.reset();
    std::remove(path_.c_str());
    std::remove((path_.substr(0, path_.size() - 4) + ".ldb").c_str());
  }

  std::map<char16_t, Weights> codes_;
  std::string path_;
  std::unique_ptr<jet::Database> db_;
};

TEST_F(IndexTable, TwoHundredThousandRows) {
  db_ = jet::Database::Create(path_);
  jet::Table& table = db_->CreateTable(Spec(true));
  std::mt19937 rng(2024);
  std::vector<std::int32_t> ids(kRows);
  for (int i = 0; i < kRows; ++i) ids[i] = i * 3 + 1;
  std::shuffle(ids.begin(), ids.end(), rng);  // keys arrive in no order
  std::map<std::uint32_t, RowData> rows;      // by row pointer
  for (int i = 0; i < kRows; ++i) {
    RowData r = MakeRow(rng, ids[i], "K");
    const auto values = Values(r);
    const jet::RowPointer at = table.Insert(values);
    rows[at.ToU32()] = std::move(r);
  }
  ASSERT_EQ(Problems(*db_, table), "");

  // The descending two-column index against an independent sort: name descending (Null
  // last), then born descending (Null last), then row address ascending.
  {
    std::vector<std::pair<std::uint32_t, const RowData*>> expected;
    for (const auto& [at, r] : rows) expected.push_back({at, &r});
    std::stable_sort(expected.begin(), expected.end(), [&](const auto& x, const auto& y) {
      const RowData& a = *x.second;
      const RowData& b = *y.second;
      if (a.name.has_value() != b.name.has_value()) return a.name.has_value();
      if (a.name) {
        const int c = CompareGeneral(codes_, *a.name, *b.name);
        if (c != 0) return c > 0;
      }
      if (a.born.has_value() != b.born.has_value()) return a.born.has_value();
      if (a.born && *a.born != *b.born) return *a.born > *b.born;
      const jet::RowPointer pa = jet::RowPointer::FromU32(x.first),
                            pb = jet::RowPointer::FromU32(y.first);
      return pa.page != pb.page ? pa.page < pb.page : pa.row < pb.row;
    });
    const auto& def = table.Definition();
    std::size_t name_born = def.real_indexes.size();
    for (const auto& li : def.indexes) {
      if (li.name == "NameBorn") name_born = li.real_index;
    }
    ASSERT_LT(name_born, def.real_indexes.size());
    jet::IndexCursor c(table, name_born);
    std::size_t k = 0;
    for (bool ok = c.First(); ok; ok = c.Next(), ++k) {
      ASSERT_LT(k, expected.size());
      const jet::RowPointer want = jet::RowPointer::FromU32(expected[k].first);
      ASSERT_EQ(c.Row(), (jet::IndexRowPointer{want.page, want.row})) << "position " << k;
    }
    EXPECT_EQ(k, expected.size());
  }

  // The same rows in a table that gets the same indexes afterwards, each built in one pass
  // over the rows already there: every index holds the same keys for the same rows (row
  // addresses differ between the tables; ids do not), and every index checks clean.
  {
    jet::NewTable spec = Spec(false);
    spec.name = "Lide2";
    jet::Table& later = db_->CreateTable(spec);
    std::map<std::uint32_t, std::int32_t> ids, later_ids;
    for (const auto& [at, r] : rows) {
      ids[at] = r.id;
      later_ids[later.Insert(Values(r)).ToU32()] = r.id;
    }
    for (const auto& index : Spec(true).indexes) db_->AddIndex("Lide2", index);
    for (const auto& index : Spec(true).indexes) {
      EXPECT_TRUE(KeysAndIds(later, index.name, later_ids) == KeysAndIds(table, index.name, ids))
          << index.name;
    }
    ASSERT_EQ(Problems(*db_, later), "");
  }

  // A duplicate is refused with DAO's text, and nothing changes.
  {
    RowData dup = MakeRow(rng, kRows * 3 + 10, "K");
    dup.code = rows.begin()->second.code;
    for (auto& ch : dup.code) ch = static_cast<char16_t>(std::tolower(ch));  // keys ignore case
    const auto before = AllEntries(table);
    const std::uint32_t count = table.RowCount();
    try {
      table.Insert(Values(dup));
      ADD_FAILURE() << "duplicate code accepted";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.Code(), jet::ErrorCode::kDuplicateKey);
      EXPECT_EQ(std::string(e.what()), jet::kDuplicateKeyMessage);
    }
    EXPECT_EQ(table.RowCount(), count);
    EXPECT_EQ(AllEntries(table), before);
    ASSERT_EQ(Problems(*db_, table), "") << "after a refused duplicate";
  }

  // Delete half of the rows at random and update a quarter of the rest.
  std::vector<std::uint32_t> addresses;
  for (const auto& [at, r] : rows) addresses.push_back(at);
  std::shuffle(addresses.begin(), addresses.end(), rng);
  for (std::size_t i = 0; i < addresses.size() / 2; ++i) {
    table.Delete(jet::RowPointer::FromU32(addresses[i]));
    rows.erase(addresses[i]);
  }
  ASSERT_EQ(Problems(*db_, table), "") << "after deleting half of the rows";
  for (std::size_t i = addresses.size() / 2; i < addresses.size() / 2 + rows.size() / 4; ++i) {
    RowData& r = rows[addresses[i]];
    RowData changed = MakeRow(rng, r.id, "U");  // new code, name, date, amount; same key
    table.Update(jet::RowPointer::FromU32(addresses[i]), Values(changed));
    r = changed;
  }
  ASSERT_EQ(table.RowCount(), rows.size());
  ASSERT_EQ(Problems(*db_, table), "");
  db_->Close();
  db_.reset();

  // Independent readers see every remaining row, with its text intact.
  std::map<std::int32_t, std::string> want;
  for (const auto& [at, r] : rows) want[r.id] = Utf8(r.code);
  const std::string oracle =
      std::string(DATOVRAT_SOURCE_DIR) + "/tests/oracles/node_modules/mdb-reader/lib/node/index.js";
  const std::string script =
      "import MDBReader from 'file://" + oracle +
      "'; import {readFileSync} from 'fs'; const r = new MDBReader(readFileSync('" + path_ +
      "')); for (const row of r.getTable('Lide').getData()) console.log(row.id + '|' + row.code);";
  const std::string by_reader = RunCommand("node --input-type=module -e \"" + script + "\" 2>&1");
  const std::string by_mdbtools = RunCommand("mdb-export -H -d '|' -Q '" + path_ + "' Lide 2>&1");
  for (const auto& [reader, output] :
       {std::pair{"mdb-reader", by_reader}, {"mdbtools", by_mdbtools}}) {
    std::map<std::int32_t, std::string> got;
    std::stringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
      const auto tab = line.find('|');
      if (tab == std::string::npos) continue;
      std::string code = line.substr(tab + 1);
      code = code.substr(0, code.find('|'));
      got[std::stoi(line.substr(0, tab))] = code;
    }
    EXPECT_EQ(got.size(), want.size()) << reader << ": " << output.substr(0, 500);
    EXPECT_TRUE(got == want) << reader;
  }
  const std::string schema = RunCommand("mdb-schema --indexes '" + path_ + "' postgres 2>&1");
  EXPECT_EQ(schema.find("ERROR"), std::string::npos) << schema;
  for (const char* line :
       {"CREATE INDEX \"lide_nameborn_idx\" ON \"lide\" (\"name\" DESC, \"born\" DESC);",
        "CREATE UNIQUE INDEX \"lide_code_idx\" ON \"lide\" (\"code\");",
        "ADD CONSTRAINT \"lide_pkey\" PRIMARY KEY (\"id\");"}) {
    EXPECT_NE(schema.find(line), std::string::npos) << line << "\n" << schema;
  }
}

}  // namespace

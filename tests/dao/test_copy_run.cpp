// The DAO calls of one copy run, in the order the database and table components make them,
// with the file read back by mdbtools, by mdb-reader and by ourselves.
#include <cmath>
#include <cstdio>

#include "core/datetime.h"
#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::BookmarkKey;
using daotest::ShortBookmark;

constexpr int kRecords = 100000;

// The record r as the source would give it; its text forms are what the components hand to
// Field.Value.
struct Source {
  std::string name;
  std::string amount;  // Currency, four places
  double born;         // date-time
  bool active;
  std::string note;
};

Source MakeSource(int r) {
  Source s;
  s.name = (r % 7 == 0 ? "Žluťoučký kůň " : "Zákazník ") + std::to_string(r);
  long long cents = (static_cast<long long>(r) * 7919) % 100000000 - 50000000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lld.%04lld", cents / 10000, std::llabs(cents % 10000));
  s.amount = (cents < 0 && cents / 10000 == 0 ? "-" : "") + std::string(buf);
  s.born =
      core::EncodeDateTime({1900 + r % 200, 1 + r % 12, 1 + r % 28, r % 24, r % 60, r % 60, 0});
  s.active = r % 3 != 0;
  s.note = r % 5 == 0 ? std::string() : "Poznámka " + std::to_string(r * 3);
  return s;
}

TEST(CopyRun, TheComponentsCallSequenceWritesEveryRecordReadableByEveryReader) {
  daotest::TempDir dir;
  const std::string path = dir.Path("cíl.mdb");
  auto engine = DBEngine::Create();
  engine->SetSystemDB("system.mdb");
  engine->SetDefaultUser("Admin");
  engine->SetDefaultPassword("");
  engine->SetDefaultType(dbUseJet);
  ASSERT_EQ(engine->Version(), "3.6");
  auto ws = engine->CreateWorkspace("DaoWorkspace", "Admin", "", dbUseJet);
  engine->Workspaces().Append(ws);

  // CreateAccessDatabase: the returned database is released at once.
  ws->CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0", 64);

  // Connect, refresh, list the user tables with the system mask.
  auto db = ws->OpenDatabase(path, false, false, ";UID=Admin;PWD=;");
  ASSERT_EQ(db->Version(), "4.0");
  ASSERT_EQ(db->CollatingOrder(), 1033);
  engine->Idle(dbFreeLocks);
  engine->Idle(dbRefreshCache);
  auto user_tables = [&] {
    std::vector<std::string> names;
    db->TableDefs().Refresh();
    for (int i = 0; i < db->TableDefs().Count(); ++i) {
      auto td = db->TableDefs().Item(i);
      if ((td->Attributes() & static_cast<std::int32_t>(0x80000002u)) == 0)
        names.push_back(td->Name());
    }
    return names;
  };
  EXPECT_TRUE(user_tables().empty());
  EXPECT_GT(db->TableDefs().Count(), 0);  // the system tables are there, only masked out

  // CreateTable of the database component: fields in order, auto-increment by attribute,
  // Required set on the appended table.
  struct Def {
    const char* name;
    int type;
    int size;
    bool autoinc;
  };
  const Def defs[] = {{"ID", dbLong, 0, true},          {"NAME", dbText, 40, false},
                      {"AMOUNT", dbCurrency, 0, false}, {"BORN", dbDate, 0, false},
                      {"ACTIVE", dbBoolean, 0, false},  {"NOTE", dbMemo, 0, false},
                      {"NUM", dbLong, 0, false}};
  auto td = db->CreateTableDef("KLIENT");
  for (const auto& d : defs) {
    auto f = td->CreateField(d.name, d.type, d.size);
    td->Fields().Append(f);
    if (d.autoinc) td->Fields().Item(d.name)->SetAttributes(dbAutoIncrField);
  }
  db->TableDefs().Append(td);
  EXPECT_EQ(user_tables(), std::vector<std::string>{"KLIENT"});
  db->TableDefs().Item("KLIENT")->Fields().Item("NAME")->SetRequired(true);
  EXPECT_TRUE(db->TableDefs().Item("KLIENT")->Fields().Item("NAME")->Required());

  // Open the table as the table component does: dynaset, optimistic.
  auto rs = db->OpenRecordset("KLIENT", dbOpenDynaset, 0, dbOptimistic);
  ASSERT_TRUE(rs->Updatable());
  ASSERT_TRUE(rs->Bookmarkable());
  ASSERT_TRUE(rs->Bof() && rs->Eof());
  std::vector<std::shared_ptr<Field>> fields;
  for (int i = 0; i < rs->Fields().Count(); ++i) fields.push_back(rs->Fields().Item(i));
  ASSERT_EQ(fields.size(), 7u);
  EXPECT_EQ(fields[0]->Attributes() & (dbAutoIncrField | dbUpdatableField), dbAutoIncrField);
  EXPECT_EQ(fields[1]->Attributes() & dbUpdatableField, dbUpdatableField);

  std::vector<std::uint32_t> keys;
  keys.reserve(kRecords);
  for (int r = 0; r < kRecords; ++r) {
    Source s = MakeSource(r);
    rs->AddNew();
    ASSERT_EQ(rs->EditMode(), dbEditAdd);
    fields[1]->SetValue(std::string_view(s.name));
    fields[2]->SetValue(std::string_view(s.amount));
    fields[3]->SetValue(core::Variant::FromDate(s.born));
    fields[4]->SetValue(std::string_view(s.active ? "True" : "False"));
    if (s.note.empty())
      fields[5]->SetValue(core::Variant::Null());
    else
      fields[5]->SetValue(std::string_view(s.note));
    fields[6]->SetValue(std::string_view(std::to_string(r)));
    rs->Update();
    rs->MoveLast();
    rs->MoveNext();
    ASSERT_TRUE(rs->Eof());
    std::uint32_t key = BookmarkKey(rs->LastModified());
    ASSERT_NE(key, 0u);
    rs->SetBookmark(ShortBookmark(key));
    keys.push_back(key);
    if (r % 9973 == 0) {
      // The cursor stands on the posted record.
      EXPECT_EQ(rs->Fields().Item("NUM")->Value().ToLong(), r);
      EXPECT_EQ(rs->Fields().Item("ID")->Value().ToLong(), r + 1);
      EXPECT_EQ(rs->RecordCount(), r + 1);
    }
  }
  // Bookmarks are unique per record.
  std::vector<std::uint32_t> sorted = keys;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
  rs->Close();

  // Our own reader: a snapshot walked from the start.
  {
    auto check = db->OpenRecordset("KLIENT", dbOpenSnapshot);
    int r = 0;
    while (!check->Eof()) {
      Source s = MakeSource(r);
      ASSERT_EQ(check->Fields().Item("NAME")->Value().ToString(), s.name) << r;
      ASSERT_EQ(core::CurrencyToText(check->Fields().Item("AMOUNT")->Value().ToCurrency()),
                core::CurrencyToText([&] {
                  core::Currency c;
                  core::TryTextToCurrency(s.amount, c);
                  return c;
                }()))
          << r;
      ASSERT_EQ(check->Fields().Item("BORN")->Value().ToDate(), s.born) << r;
      ASSERT_EQ(check->Fields().Item("ACTIVE")->Value().ToBoolean(), s.active) << r;
      ASSERT_EQ(check->Fields().Item("NOTE")->Value().ToString(), s.note) << r;
      check->MoveNext();
      ++r;
    }
    EXPECT_EQ(r, kRecords);
  }
  db->Close();

  if (daotest::HaveMdbTools()) {
    auto rows = daotest::MdbExport(path, "KLIENT");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecords + 1));
    EXPECT_EQ(rows[0],
              (std::vector<std::string>{"ID", "NAME", "AMOUNT", "BORN", "ACTIVE", "NOTE", "NUM"}));
    for (int r = 0; r < kRecords; r += 97) {
      Source s = MakeSource(r);
      const auto& row = rows[static_cast<std::size_t>(r) + 1];
      ASSERT_EQ(row.size(), 7u);
      EXPECT_EQ(row[0], std::to_string(r + 1));
      EXPECT_EQ(row[1], s.name);
      EXPECT_EQ(std::stod(row[2]), std::stod(s.amount)) << row[2];
      core::DateParts p = core::DecodeDateTime(s.born);
      char when[32];
      std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                    p.hour, p.minute, p.second);
      EXPECT_EQ(row[3], when);
      EXPECT_EQ(row[4], s.active ? "1" : "0");
      EXPECT_EQ(row[5], s.note);
      EXPECT_EQ(row[6], std::to_string(r));
    }
  } else {
    ADD_FAILURE() << "mdbtools is missing (deps/apt/dao.txt)";
  }
  if (daotest::HaveMdbReader()) {
    auto rows = daotest::MdbReaderRows(path, "KLIENT");
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRecords));
    for (int r = 0; r < kRecords; r += 1009) {
      Source s = MakeSource(r);
      const std::string& row = rows[static_cast<std::size_t>(r)];
      EXPECT_NE(row.find("\"" + s.name + "\""), std::string::npos) << row;
      EXPECT_NE(row.find(s.active ? "true" : "false"), std::string::npos) << row;
    }
  } else {
    ADD_FAILURE() << "mdb-reader is missing (tests/oracles)";
  }

  // Dropping the table as DeleteTable does.
  db = ws->OpenDatabase(path);
  db->TableDefs().Refresh();
  db->TableDefs().Delete("KLIENT");
  db->TableDefs().Refresh();
  EXPECT_EQ(daotest::ErrorOf([&] { db->TableDefs().Item("KLIENT"); }), err::kItemNotFound);
  db->Close();
  if (daotest::HaveMdbTools()) {
    EXPECT_TRUE(daotest::MdbTables(path).empty());
  }
}

}  // namespace

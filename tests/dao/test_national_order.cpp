// A database in the Czech sort order, as Czech Access makes it: tables, an index on a text
// column and catalog entries written through DAO, read back in the Czech order by us and
// accepted by our check, mdbtools and mdb-reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dao/dao.h"
#include "dao_test_util.h"
#include "jet/check.h"
#include "jet/database.h"

namespace dao {
namespace {

TEST(NationalOrder, ACzechDatabaseTakesTablesIndexesAndRowsInItsOrder) {
  daotest::TempDir dir;
  const std::string path = dir.Path("cesky.mdb");
  const std::vector<std::string> czech = {"cesta", "Čechy", "hrad", "chata", "CHOMUTOV",
                                          "ideál", "ryba",  "řeka", "šála",  "žába"};
  {
    auto engine = DBEngine::Create();
    auto db = engine->CreateDatabase(path, dbLangCzech);
    EXPECT_EQ(db->CollatingOrder(), 1029);
    // Table names with the Czech letter ch go into the catalog's Czech-ordered index.
    for (const char* name : {"Chaty", "Hrady", "Obce"}) {
      auto td = db->CreateTableDef(name);
      td->Fields().Append(td->CreateField("ID", dbLong));
      td->Fields().Append(td->CreateField("Nazev", dbText, 40));
      auto by_name = td->CreateIndex("PodleNazvu");
      by_name->Fields().Append(by_name->CreateField("Nazev"));
      td->Indexes().Append(by_name);
      db->TableDefs().Append(td);
    }
    EXPECT_EQ(db->TableDefs().Item("Obce")->Fields().Item("Nazev")->CollatingOrder(), 1029);
    auto rs = db->OpenRecordset("Obce", dbOpenTable);
    // Inserted in reverse, so that only the index can give the order back.
    int id = 1;
    for (auto it = czech.rbegin(); it != czech.rend(); ++it) {
      rs->AddNew();
      rs->Fields().Item("ID")->SetValue(core::Variant::FromLong(id++));
      rs->Fields().Item("Nazev")->SetValue(std::string_view(*it));
      rs->Update();
    }
    rs->SetIndex("PodleNazvu");
    std::vector<std::string> order;
    for (rs->MoveFirst(); !rs->Eof(); rs->MoveNext())
      order.push_back(rs->Fields().Item("Nazev")->Value().ToString());
    EXPECT_EQ(order, czech);
    rs->Seek("=", {core::Variant::FromString("CHATA")});
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(rs->Fields().Item("Nazev")->Value().ToString(), "chata");
    rs->Close();
    db->Close();
  }
  // Our own check of every page and index.
  {
    auto db = jet::Database::Open(path, jet::OpenOptions{.read_only = true});
    auto report = jet::CheckDatabase(*db);
    EXPECT_TRUE(report.problems.empty()) << (report.problems.empty() ? "" : report.problems[0]);
  }
  if (daotest::HaveMdbTools()) {
    auto tables = daotest::MdbTables(path);
    std::sort(tables.begin(), tables.end());
    EXPECT_EQ(tables, (std::vector<std::string>{"Chaty", "Hrady", "Obce"}));
    EXPECT_EQ(daotest::MdbExport(path, "Obce").size(), czech.size() + 1);
  }
  if (daotest::HaveMdbReader()) {
    EXPECT_EQ(daotest::MdbReaderRows(path, "Obce").size(), czech.size());
  }
}

// Without an index, text still compares and sorts in the database's order: Jet SQL's ORDER BY
// and WHERE, a recordset's Sort and Filter, and FindFirst. The same words in a General
// database sort as General does ("chata" before "hrad").
TEST(NationalOrder, SqlSortFilterAndFindFollowTheDatabasesOrder) {
  const std::vector<std::string> words = {"žába", "ideál",   "chata",  "cena",     "hrad",
                                          "čára", "Chrudim", "Hradec", "ilustrace"};
  struct Case {
    const char* locale;
    std::vector<std::string> sorted;
    std::vector<std::string> after_hrad;  // > 'hrad', in order
  };
  const Case cases[] = {
      {dbLangCzech,
       {"cena", "čára", "hrad", "Hradec", "chata", "Chrudim", "ideál", "ilustrace", "žába"},
       {"Hradec", "chata", "Chrudim", "ideál", "ilustrace", "žába"}},
      {dbLangGeneral,
       {"čára", "cena", "chata", "Chrudim", "hrad", "Hradec", "ideál", "ilustrace", "žába"},
       {"Hradec", "ideál", "ilustrace", "žába"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.locale);
    daotest::TempDir dir;
    auto engine = DBEngine::Create();
    auto db = engine->CreateDatabase(dir.Path("words.mdb"), c.locale);
    auto td = db->CreateTableDef("Slova");
    td->Fields().Append(td->CreateField("Slovo", dbText, 40));
    db->TableDefs().Append(td);
    {
      auto rs = db->OpenRecordset("Slova", dbOpenTable);
      for (const std::string& w : words) {
        rs->AddNew();
        rs->Fields().Item("Slovo")->SetValue(std::string_view(w));
        rs->Update();
      }
      rs->Close();
    }
    auto column = [](const std::shared_ptr<Recordset>& rs) {
      std::vector<std::string> out;
      for (; !rs->Eof(); rs->MoveNext())
        out.push_back(rs->Fields().Item("Slovo")->Value().ToString());
      return out;
    };
    EXPECT_EQ(column(db->OpenRecordset("SELECT Slovo FROM Slova ORDER BY Slovo", dbOpenSnapshot)),
              c.sorted);
    EXPECT_EQ(column(db->OpenRecordset(
                  "SELECT Slovo FROM Slova WHERE Slovo > 'hrad' ORDER BY Slovo", dbOpenDynaset)),
              c.after_hrad);
    auto all = db->OpenRecordset("Slova", dbOpenDynaset);
    all->SetSort("Slovo");
    EXPECT_EQ(column(all->OpenRecordset()), c.sorted);
    all->SetFilter("Slovo > 'hrad'");
    auto filtered = all->OpenRecordset();
    std::vector<std::string> got = column(filtered);
    std::sort(got.begin(), got.end());
    std::vector<std::string> want = c.after_hrad;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    all->SetFilter("");
    auto sorted = all->OpenRecordset();
    sorted->FindFirst("Slovo > 'hrad'");
    ASSERT_FALSE(sorted->NoMatch());
    EXPECT_EQ(sorted->Fields().Item("Slovo")->Value().ToString(), c.after_hrad.front());
    db->Close();
  }
}

}  // namespace
}  // namespace dao

// SELECT over tables of a real Jet database: index ranges through the table's B-trees must
// find exactly the rows a plain scan finds, and dynasets read their rows by locator.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "jet/database.h"
#include "jetsql/jet_catalog.h"
#include "jetsql/select.h"
#include "test_support.h"

namespace jetsql {
namespace {

using core::Variant;
using testing::Date;

class SqlJetTables : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "jetsql-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    db_ = jet::Database::Create(dir_ + "/people.mdb");
    jet::NewTable spec;
    spec.name = "People";
    spec.columns = {{.name = "ID", .type = jet::column_type::kLong},
                    {.name = "Name", .type = jet::column_type::kText, .size = 50},
                    {.name = "Born", .type = jet::column_type::kDateTime},
                    {.name = "Amount", .type = jet::column_type::kCurrency},
                    {.name = "Score", .type = jet::column_type::kDouble}};
    spec.indexes = {{.name = "PrimaryKey", .columns = {{"ID", true}}, .primary_key = true},
                    {.name = "ByName", .columns = {{"Name", true}}},
                    {.name = "ByBorn", .columns = {{"Born", true}}},
                    {.name = "ByAmount", .columns = {{"Amount", true}}},
                    {.name = "ByScore", .columns = {{"Score", false}}}};
    jet::Table& table = db_->CreateTable(spec);
    memory_ = std::make_shared<MemoryTable>(
        "People", std::vector<ColumnInfo>{{"ID", DataType::kLong, ""},
                                          {"Name", DataType::kText, ""},
                                          {"Born", DataType::kDate, ""},
                                          {"Amount", DataType::kCurrency, ""},
                                          {"Score", DataType::kDouble, ""}});
    const char* names[] = {"Čapek",  "čapek", "Capek", "Chalupa", "Novák", "novak",
                           "Dvořák", "cihla", "Ábel",  "abel",    "Zeman", "Černý"};
    for (int i = 1; i <= 1500; ++i) {
      std::vector<Variant> row = {
          Variant::FromLong(i), i % 50 == 0 ? Variant::Null() : Variant(names[i % 12]),
          i % 40 == 0 ? Variant::Null() : Date(1950 + i % 60, 1 + i % 12, 1),
          Variant::FromCurrency(core::Currency{(i % 100) * 12500}), Variant::FromDouble(i % 7 - 3)};
      table.Insert(row);
      memory_->AddRow(row);
    }
    catalog_ = std::make_unique<JetCatalog>(*db_);
    plain_.AddTable(memory_);
  }
  void TearDown() override {
    catalog_.reset();
    db_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  static std::vector<std::string> Ids(const QueryResult& r, bool sort) {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < r.RowCount(); ++i) ids.push_back(r.Row(i).at(0).ToString());
    if (sort) std::sort(ids.begin(), ids.end());
    return ids;
  }

  std::string dir_;
  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<JetCatalog> catalog_;
  std::shared_ptr<MemoryTable> memory_;
  MemoryCatalog plain_;
};

TEST_F(SqlJetTables, IndexRangesFindTheRowsAScanFinds) {
  struct Case {
    const char* sql;
    const char* plan;
  };
  const Case cases[] = {
      {"SELECT ID FROM People WHERE ID = 700", "index PrimaryKey of People"},
      {"SELECT ID FROM People WHERE ID > 1490", "index PrimaryKey of People"},
      {"SELECT ID FROM People WHERE ID Between 20 And 10 AND Score > 0",
       "index PrimaryKey of People"},
      {"SELECT ID FROM People WHERE ID = 3.5", "index PrimaryKey of People"},
      // Text: the index's General-order keys agree with the comparison (case ignored,
      // accents kept, č with the c's).
      {"SELECT ID FROM People WHERE Name = 'ČAPEK'", "index ByName of People"},
      {"SELECT ID FROM People WHERE Name >= 'c' AND Name < 'd'", "index ByName of People"},
      {"SELECT ID FROM People WHERE 'abel' = Name", "index ByName of People"},
      {"SELECT ID FROM People WHERE Name <= 'B'", "index ByName of People"},
      {"SELECT ID FROM People WHERE Name Like 'ch*'", "scan People"},
      {"SELECT ID FROM People WHERE Born = #7/1/1980#", "index ByBorn of People"},
      {"SELECT ID FROM People WHERE Born >= #1/1/2000# AND Born < #1/1/2001#",
       "index ByBorn of People"},
      {"SELECT ID FROM People WHERE Born > '12/31/2005'", "index ByBorn of People"},
      {"SELECT ID FROM People WHERE Amount = 12.5", "index ByAmount of People"},
      {"SELECT ID FROM People WHERE Amount <= 1.25", "index ByAmount of People"},
      // A descending column: the range is walked from its high end.
      {"SELECT ID FROM People WHERE Score = 2", "index ByScore of People"},
      {"SELECT ID FROM People WHERE Score > 1 AND Score <= 3", "index ByScore of People"},
      {"SELECT ID FROM People WHERE Score < -2", "index ByScore of People"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    PreparedQuery q = PreparedQuery::Prepare(c.sql, *catalog_);
    EXPECT_EQ(q.Plan(), c.plan);
    const std::vector<std::string> found = Ids(q.Execute(), true);
    EXPECT_EQ(found, Ids(ExecuteSelect(c.sql, plain_), true));
    EXPECT_FALSE(found.empty() && std::string(c.sql).find("3.5") == std::string::npos);
  }
  // With ORDER BY the order is the statement's, whichever way the rows were found.
  const char* ordered = "SELECT ID FROM People WHERE Name = 'novak' ORDER BY Amount DESC, ID";
  EXPECT_EQ(Ids(ExecuteSelect(ordered, *catalog_), false),
            Ids(ExecuteSelect(ordered, plain_), false));
  // A parameter bound.
  QueryOptions o;
  o.parameters = {{"Wanted", Variant("42")}};
  EXPECT_EQ(Ids(ExecuteSelect("SELECT ID FROM People WHERE ID = [Wanted]", *catalog_, o), false),
            std::vector<std::string>{"42"});
}

TEST_F(SqlJetTables, DynasetReadsRowsByLocator) {
  QueryResult r =
      ExecuteSelect("SELECT ID, Name, Amount * 2 AS Twice FROM People WHERE ID = 5", *catalog_);
  ASSERT_EQ(r.RowCount(), 1u);
  ASSERT_EQ(r.Locators().size(), 1u);
  EXPECT_TRUE(r.Updatable());
  EXPECT_EQ(r.Row(0)[1].ToString(), "novak");
  // A change made to the table after the statement ran shows through the locator.
  jet::Table& t = db_->OpenTable("People");
  t.Update(jet::RowPointer::FromU32(r.Locators()[0]),
           std::vector<Variant>{Variant(), Variant("Nováková"), Variant(),
                                Variant::FromCurrency(core::Currency{100000}), Variant()});
  EXPECT_EQ(r.Row(0)[1].ToString(), "Nováková");
  EXPECT_EQ(r.Row(0)[2].ToString(), "20");
  t.Delete(jet::RowPointer::FromU32(r.Locators()[0]));
  std::vector<Variant> values;
  EXPECT_FALSE(r.ReadByLocator(r.Locators()[0], values));
}

}  // namespace
}  // namespace jetsql

// Stored queries: Access-made MSysQueries rows read back to SQL, SELECT queries we store read
// by mdbtools' mdb-queries, and both run over real tables.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "jet/check.h"
#include "jet/database.h"
#include "jetsql/jet_catalog.h"
#include "jetsql/select.h"
#include "jetsql/stored_query.h"
#include "test_support.h"

namespace jetsql {
namespace {

using core::Variant;
using testing::ErrorNumberOf;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "jetsql-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string Fixture(const std::string& name) {
  return std::string(DATOVRAT_TESTDATA) + "/jetsql/" + name;
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
  pclose(p);
  return out;
}

bool HaveMdbTools() {
  return std::system("command -v mdb-queries > /dev/null 2>&1") == 0;
}

// What the query definitions of the sample files say, in Access's layout. Checked against
// the parts mdb-queries prints for the same files and against the SQL view other readers of
// these files report.
const std::map<std::string, std::pair<int, std::string>> kAccessQueries = {
    {"SelectQuery",
     {query_type::kSelect,
      "SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3\r\n"
      "FROM (Table1 LEFT JOIN Table3 ON Table1.col1 = Table3.col1) INNER JOIN Table2 ON "
      "(Table3.col1 = Table2.col1) AND (Table3.col1 = Table2.col2)\r\n"
      "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\")))\r\n"
      "ORDER BY Table2.col1;"}},
    {"UpdateQuery",
     {query_type::kUpdate,
      "PARAMETERS [User Name] Text;\r\n"
      "UPDATE Table1\r\n"
      "SET Table1.col1 = \"foo\", Table1.col2 = [Table2].[col3], [Table2].[col1] = [User Name]\r\n"
      "WHERE ((([Table2].[col1]) Is Not Null));"}},
    {"AppendQuery",
     {query_type::kAppend,
      "INSERT INTO Table3 (col2, col2, col3)\r\n"
      "SELECT [Table1].[col2], [Table2].[col2], [Table2].[col3]\r\n"
      "FROM Table3, Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1];"}},
    {"DeleteQuery",
     {query_type::kDelete,
      "DELETE Table1.col1, Table1.col2, Table1.col3\r\nFROM Table1\r\n"
      "WHERE (((Table1.col1)>\"blah\"));"}},
    {"MakeTableQuery",
     {query_type::kMakeTable,
      "SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 INTO Table4\r\n"
      "FROM (Table2 INNER JOIN Table1 ON Table2.col1 = Table1.col2) RIGHT JOIN Table3 ON "
      "Table1.col2 = Table3.col3\r\n"
      "GROUP BY Table2.col2, Table3.col2\r\n"
      "HAVING (((Max(Table2.col1))=\"buzz\") AND ((Table2.col2)<>\"blah\"));"}},
    {"CrosstabQuery",
     {query_type::kCrosstab,
      "TRANSFORM Count([Table2].[col2]) AS CountOfcol2\r\n"
      "SELECT Table2_1.col1, [Table2].[col3], Avg(Table2_1.col2) AS AvgOfcol2\r\n"
      "FROM (Table1 INNER JOIN Table2 ON [Table1].[col1]=[Table2].[col1]) INNER JOIN Table2 AS "
      "Table2_1 ON [Table2].[col1]=Table2_1.col3\r\n"
      "WHERE ((([Table1].[col1])>\"10\") And ((Table2_1.col1) Is Not Null) And "
      "((Avg(Table2_1.col2))>\"10\"))\r\n"
      "GROUP BY Table2_1.col1, [Table2].[col3]\r\n"
      "ORDER BY [Table2].[col3]\r\n"
      "PIVOT [Table1].[col1];"}},
    {"UnionQuery",
     {query_type::kUnion,
      "Select Table1.col1, Table1.col2\r\nwhere Table1.col1 = \"foo\"\r\nUNION\r\n"
      "Select Table2.col1, Table2.col2\r\n"
      "UNION ALL Select Table3.col1, Table3.col2\r\nwhere Table3.col3 > \"blah\";"}},
    {"PassthroughQuery", {query_type::kPassThrough, "ALTER TABLE Table4 DROP COLUMN col5;"}},
    {"DataDefinitionQuery",
     {query_type::kDataDefinition, "CREATE TABLE Table5 (col1 CHAR, col2 CHAR);"}},
};

std::string Unix(std::string s) {
  std::string out;
  for (char c : s) {
    if (c != '\r') out += c;
  }
  return out;
}

TEST(StoredQueries, AccessQueriesReadBackAsSql) {
  for (const char* file : {"queryTestV2000.mdb", "queryTestV2003.mdb"}) {
    SCOPED_TRACE(file);
    jet::OpenOptions read_only;
    read_only.read_only = true;
    auto db = jet::Database::Open(Fixture(file), read_only);
    JetCatalog catalog(*db);
    const std::vector<StoredQuery> queries = catalog.Queries();
    ASSERT_EQ(queries.size(), kAccessQueries.size());
    for (const StoredQuery& q : queries) {
      SCOPED_TRACE(q.name);
      auto it = kAccessQueries.find(q.name);
      ASSERT_NE(it, kAccessQueries.end());
      EXPECT_EQ(q.type, it->second.first);
      // The union's parts keep the line breaks Access stored inside them.
      EXPECT_EQ(Unix(q.sql), Unix(it->second.second));
    }
    const std::optional<StoredQuery> update = catalog.FindQuery("updatequery");
    ASSERT_TRUE(update);
    ASSERT_EQ(update->parameters.size(), 1u);
    EXPECT_EQ(update->parameters[0].name, "User Name");
    EXPECT_EQ(update->parameters[0].type, DataType::kText);
    EXPECT_EQ(update->parameters[0].direction, 1);
    EXPECT_FALSE(catalog.FindQuery("Table1"));
    EXPECT_EQ(QueryTypeName(catalog.FindQuery("CrosstabQuery")->type), "dbQCrosstab");
    // Only select queries can stand for a table in FROM.
    EXPECT_TRUE(catalog.QuerySql("SelectQuery"));
    EXPECT_FALSE(catalog.QuerySql("DeleteQuery"));
  }
}

TEST(StoredQueries, AccessSelectQueryRunsOverFilledTables) {
  TempDir dir;
  const std::string path = dir.File("query.mdb");
  std::filesystem::copy_file(Fixture("queryTestV2000.mdb"), path);
  auto db = jet::Database::Open(path);
  const auto fill = [&](const char* table, std::vector<std::vector<const char*>> rows) {
    jet::Table& t = db->OpenTable(table);
    for (const auto& r : rows) {
      std::vector<Variant> values;
      for (const char* v : r) values.push_back(v ? Variant(v) : Variant::Null());
      t.Insert(values);
    }
  };
  fill("Table1", {{"a", "x", "p"}, {"foo", "y", "q"}, {"buzz", "z", "r"}, {"none", "w", "s"}});
  fill("Table3", {{"foo", nullptr, "T3foo"}, {"buzz", nullptr, "T3buzz"}, {"a", nullptr, "T3a"}});
  fill("Table2", {{"foo", "foo", "c"},
                  {"foo", "foo", "c2"},  // the same selected values: DISTINCT keeps one
                  {"buzz", "buzz", "d"},
                  {"a", "a", "e"},        // joins, but fails the WHERE clause
                  {"foo", "bar", "f"}});  // fails the second join condition

  JetCatalog catalog(*db);
  QueryOptions snapshot;
  snapshot.kind = ResultKind::kSnapshot;
  // By name in FROM, and by its SQL text read back.
  for (const std::string& sql :
       {std::string("SELECT * FROM SelectQuery"), *catalog.QuerySql("SelectQuery")}) {
    SCOPED_TRACE(sql);
    QueryResult r = ExecuteSelect(sql, catalog, snapshot);
    ASSERT_EQ(r.Columns().size(), 6u);
    ASSERT_EQ(r.RowCount(), 2u);
    const std::vector<std::vector<std::string>> expected = {
        {"buzz", "z", "r", "buzz", "buzz", "T3buzz"}, {"foo", "y", "q", "foo", "foo", "T3foo"}};
    for (std::size_t i = 0; i < 2; ++i) {
      std::vector<std::string> row;
      for (const Variant& v : r.Row(i)) row.push_back(v.ToString());
      EXPECT_EQ(row, expected[i]);
    }
  }
}

TEST(StoredQueries, RowsOfTheDocumentedExample) {
  // The SELECT with parameters whose MSysQueries rows the format notes show.
  const std::vector<QueryRow> rows = RowsForSelect(
      "PARAMETERS MinID Long, Who Text(50);\r\nSELECT People.ID, People.Name AS Nm FROM People\r\n"
      "WHERE People.ID>=[MinID] And People.Name Like [Who]\r\nORDER BY People.Name DESC;");
  struct Want {
    std::uint8_t attribute;
    std::uint32_t order;
    const char* name1;
    const char* expression;
    std::optional<std::int16_t> flag;
    std::optional<std::int32_t> extra;
  };
  const Want want[] = {
      {0, 1, nullptr, nullptr, 0, {}},
      {1, 1, nullptr, nullptr, 1, {}},
      {2, 1, "MinID", nullptr, 4, {}},
      {2, 2, "Who", nullptr, 10, 50},
      {3, 1, nullptr, nullptr, 0, {}},
      {5, 1, "People", nullptr, {}, {}},
      {6, 1, nullptr, "People.ID", 0, {}},
      {6, 2, "Nm", "People.Name", 0, {}},
      {8, 1, nullptr, "People.ID>=[MinID] And People.Name Like [Who]", {}, {}},
      {11, 1, "D", "People.Name", {}, {}},
      {255, 1, nullptr, nullptr, {}, {}},
  };
  ASSERT_EQ(rows.size(), std::size(want));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(rows[i].attribute, want[i].attribute);
    EXPECT_EQ(rows[i].order, want[i].order);
    EXPECT_EQ(rows[i].name1.value_or("<null>"), want[i].name1 ? want[i].name1 : "<null>");
    EXPECT_FALSE(rows[i].name2);
    EXPECT_EQ(rows[i].expression.value_or("<null>"),
              want[i].expression ? want[i].expression : "<null>");
    EXPECT_EQ(rows[i].flag, want[i].flag);
    EXPECT_EQ(rows[i].lv_extra, want[i].extra);
  }
  // And back again, in Access's layout.
  EXPECT_EQ(QueryFromRows("q", rows).sql,
            "PARAMETERS MinID Long, Who Text(50);\r\n"
            "SELECT People.ID, People.Name AS Nm\r\nFROM People\r\n"
            "WHERE People.ID>=[MinID] And People.Name Like [Who]\r\n"
            "ORDER BY People.Name DESC;");
}

TEST(StoredQueries, SelectStatementsSurviveTheRoundTrip) {
  // Written as rows and read back, each statement comes out as this text.
  const std::pair<const char*, const char*> cases[] = {
      {"select * from T", "SELECT *\r\nFROM T;"},
      {"SELECT DISTINCT TOP 5 PERCENT a, b AS [My B], T.* FROM [My Table] AS T WHERE a > 1 "
       "ORDER BY a, b DESC",
       "SELECT DISTINCT TOP 5 PERCENT a, b AS [My B], T.*\r\nFROM [My Table] AS T\r\n"
       "WHERE a > 1\r\nORDER BY a, b DESC;"},
      {"SELECT DISTINCTROW a FROM T WITH OWNERACCESS OPTION",
       "SELECT DISTINCTROW a\r\nFROM T\r\nWITH OWNERACCESS OPTION;"},
      {"SELECT City, Count(*) AS N FROM P GROUP BY City HAVING Count(*) > 1",
       "SELECT City, Count(*) AS N\r\nFROM P\r\nGROUP BY City\r\nHAVING Count(*) > 1;"},
      {"SELECT a.x FROM A INNER JOIN (B LEFT JOIN C ON B.k = C.k) ON A.k = B.k, D",
       "SELECT a.x\r\nFROM D, A INNER JOIN (B LEFT JOIN C ON B.k = C.k) ON A.k = B.k;"},
      {"SELECT x FROM (A AS p RIGHT JOIN B ON p.k = B.k) INNER JOIN C ON C.k = B.k",
       "SELECT x\r\nFROM (A AS p RIGHT JOIN B ON p.k = B.k) INNER JOIN C ON C.k = B.k;"},
  };
  for (const auto& [sql, expected] : cases) {
    SCOPED_TRACE(sql);
    const StoredQuery q = QueryFromRows("q", RowsForSelect(sql));
    EXPECT_EQ(q.type, query_type::kSelect);
    EXPECT_EQ(q.sql, expected);
    // What comes back parses and writes the same rows again.
    EXPECT_EQ(QueryFromRows("q", RowsForSelect(q.sql)).sql, q.sql);
  }
  EXPECT_EQ(ErrorNumberOf([] { RowsForSelect("DELETE FROM T"); }), dao_error::kInvalidOperation);
  EXPECT_EQ(ErrorNumberOf([] { RowsForSelect("SELECT a b FROM T"); }), dao_error::kQueryExpression);
  // Join rows name tables by alias, so a FROM clause naming one twice cannot be stored.
  EXPECT_EQ(ErrorNumberOf([] { RowsForSelect("SELECT * FROM T, U AS t"); }),
            dao_error::kFromClause);
}

TEST(StoredQueries, CreatedQueryIsReadByMdbQueriesAndByUs) {
  TempDir dir;
  const std::string path = dir.File("new.mdb");
  {
    auto db = jet::Database::Create(path);
    jet::NewTable spec;
    spec.name = "People";
    spec.columns = {{.name = "ID", .type = jet::column_type::kLong},
                    {.name = "Name", .type = jet::column_type::kText, .size = 50},
                    {.name = "Salary", .type = jet::column_type::kCurrency}};
    jet::Table& t = db->CreateTable(spec);
    t.Insert(std::vector<Variant>{Variant::FromLong(1), Variant("Novák"),
                                  Variant::FromCurrency(core::Currency{25000000})});
    t.Insert(std::vector<Variant>{Variant::FromLong(2), Variant("Dvořák"),
                                  Variant::FromCurrency(core::Currency{15000000})});
    t.Insert(std::vector<Variant>{Variant::FromLong(3), Variant("Čapek"),
                                  Variant::FromCurrency(core::Currency{30000000})});
    JetCatalog catalog(*db);
    const StoredQuery made =
        catalog.CreateQuery("Rich People",
                            "PARAMETERS Minimum Currency; SELECT ID, Name AS Who FROM People WHERE "
                            "Salary >= Minimum ORDER BY Name DESC;");
    EXPECT_EQ(made.sql,
              "PARAMETERS Minimum Currency;\r\nSELECT ID, Name AS Who\r\nFROM People\r\n"
              "WHERE Salary >= Minimum\r\nORDER BY Name DESC;");
    catalog.CreateQuery("Everyone", "SELECT DISTINCT People.* FROM People");

    EXPECT_EQ(ErrorNumberOf([&] { catalog.CreateQuery("People", "SELECT * FROM People"); }),
              dao_error::kObjectExists);
    EXPECT_EQ(ErrorNumberOf([&] { catalog.CreateQuery("rich people", "SELECT 1"); }),
              dao_error::kObjectExists);
    EXPECT_EQ(ErrorNumberOf([&] { catalog.CreateQuery("Bad.Name", "SELECT 1"); }),
              dao_error::kInvalidName);
    EXPECT_EQ(ErrorNumberOf([&] { catalog.CreateQuery(" Lead", "SELECT 1"); }),
              dao_error::kInvalidName);
    EXPECT_EQ(ErrorNumberOf([&] { catalog.CreateQuery("Purge", "DELETE FROM People"); }),
              dao_error::kInvalidOperation);
    EXPECT_EQ(ErrorNumberOf([&] { catalog.CreateQuery("Broken", "SELECT FROM"); }),
              dao_error::kSelectStatement);
    catalog.CreateQuery("Doomed", "SELECT ID FROM People");
    catalog.DeleteQuery("doomed");
    EXPECT_EQ(ErrorNumberOf([&] { catalog.DeleteQuery("Doomed"); }), 3265);
    db->Close();
  }
  {
    jet::OpenOptions read_only;
    read_only.read_only = true;
    auto db = jet::Database::Open(path, read_only);
    EXPECT_TRUE(jet::CheckDatabase(*db).Clean());
    JetCatalog catalog(*db);
    const std::vector<StoredQuery> queries = catalog.Queries();
    ASSERT_EQ(queries.size(), 2u);
    EXPECT_EQ(queries[0].name, "Rich People");
    ASSERT_EQ(queries[0].parameters.size(), 1u);
    EXPECT_EQ(queries[0].parameters[0].type, DataType::kCurrency);
    QueryOptions o;
    o.parameters = {{"Minimum", Variant::FromLong(2000)}};
    QueryResult r = ExecuteSelect(queries[0].sql, catalog, o);
    ASSERT_EQ(r.RowCount(), 2u);
    EXPECT_EQ(r.Columns()[1].name, "Who");
    EXPECT_EQ(r.Row(0)[1].ToString(), "Novák");
    EXPECT_EQ(r.Row(1)[1].ToString(), "Čapek");
    EXPECT_EQ(ExecuteSelect("SELECT * FROM Everyone", catalog).RowCount(), 3u);
  }
  if (!HaveMdbTools()) GTEST_SKIP() << "mdbtools is not installed";
  const std::string listed = RunCommand("mdb-queries -L -1 '" + path + "' 2>&1");
  EXPECT_NE(listed.find("Rich People"), std::string::npos) << listed;
  EXPECT_NE(listed.find("Everyone"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("Doomed"), std::string::npos) << listed;
  // mdb-queries writes the statement in its own plain form (no aliases, "DESCENDING"): the
  // same columns, tables, condition and order.
  std::string text = RunCommand("mdb-queries '" + path + "' 'Rich People' 2>&1");
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  EXPECT_EQ(text, "SELECT ID,Name FROM [People] WHERE Salary >= Minimum ORDER BY Name DESCENDING");
  text = RunCommand("mdb-queries '" + path + "' Everyone 2>&1");
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  EXPECT_EQ(text, "SELECT DISTINCT People.* FROM [People]");
}

}  // namespace
}  // namespace jetsql

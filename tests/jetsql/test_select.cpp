// SELECT statements over in-memory tables: the statements and criteria the dataset components
// build, projections, DISTINCT/TOP/ORDER BY, joins, grouping, parameters, index ranges and
// DAO's errors.
#include <gtest/gtest.h>

#include <algorithm>

#include "jetsql/expression.h"
#include "jetsql/select.h"
#include "test_support.h"

namespace jetsql {
namespace {

using core::Variant;
using testing::Cur;
using testing::Date;
using testing::ErrorNumberOf;
using testing::SameValue;

const Variant N = Variant::Null();

std::vector<std::uint8_t> Guid(std::uint8_t last) {
  return {0x78, 0x56, 0x34, 0x12, 0xAB, 0x90, 0xEF, 0xCD,
          0x12, 0x34, 0x56, 0x78, 0x90, 0xAB, 0xCD, last};
}

std::shared_ptr<MemoryTable> People() {
  auto t = std::make_shared<MemoryTable>(
      "People", std::vector<ColumnInfo>{{"ID", DataType::kLong, ""},
                                        {"Name", DataType::kText, ""},
                                        {"City", DataType::kText, ""},
                                        {"Born", DataType::kDate, ""},
                                        {"Salary", DataType::kCurrency, ""},
                                        {"Active", DataType::kBoolean, ""},
                                        {"Score", DataType::kDouble, ""},
                                        {"Note", DataType::kMemo, ""},
                                        {"Tag", DataType::kGuid, ""},
                                        {"Raw", DataType::kBinary, ""},
                                        {"Alarm", DataType::kDate, ""}});
  const auto v = [](const char* s) { return Variant(s); };
  t->AddRow({Variant::FromLong(1), v("Novák"), v("Praha"), Date(1980, 5, 1), Cur(25000000),
             Variant::FromBoolean(true), Variant::FromDouble(12.5), v("first"),
             Variant::FromBytes(Guid(0xEF)), Variant::FromBytes({'a', 'b', 'c'}),
             Date(1899, 12, 30, 14, 5, 0)});
  t->AddRow({Variant::FromLong(2), v("O\"Brien"), v("Dublin"), Date(2003, 12, 31), Cur(18000000),
             Variant::FromBoolean(false), Variant::FromDouble(7), N, Variant::FromBytes(Guid(1)), N,
             N});
  t->AddRow({Variant::FromLong(3), v("čapek"), v("Brno"), Date(2003, 12, 31, 14, 5, 0), N,
             Variant::FromBoolean(true), N, N, N, N, Date(1899, 12, 30, 9, 0, 0)});
  t->AddRow({Variant::FromLong(4), v("Chalupa"), v("praha"), Date(1975, 1, 2), Cur(30000000),
             Variant::FromBoolean(true), Variant::FromDouble(12.5), N, N, N, N});
  t->AddRow({Variant::FromLong(5), v("Abbot"), N, N, Cur(18000000), N, Variant::FromDouble(-1), N,
             N, N, N});
  t->AddRow({Variant::FromLong(6), v("hrabal"), v("Brno"), Date(1914, 3, 28), Cur(9000000),
             Variant::FromBoolean(false), Variant::FromDouble(3), N, N, N, N});
  return t;
}

std::shared_ptr<MemoryTable> Orders() {
  auto t = std::make_shared<MemoryTable>(
      "Orders", std::vector<ColumnInfo>{{"OrderID", DataType::kLong, ""},
                                        {"PersonID", DataType::kLong, ""},
                                        {"Amount", DataType::kCurrency, ""}});
  t->AddRow({Variant::FromLong(10), Variant::FromLong(1), Cur(10000)});
  t->AddRow({Variant::FromLong(11), Variant::FromLong(1), Cur(20000)});
  t->AddRow({Variant::FromLong(12), Variant::FromLong(3), Cur(5000)});
  t->AddRow({Variant::FromLong(13), Variant::FromLong(9), Cur(1000)});
  return t;
}

struct Fixture {
  MemoryCatalog catalog;
  std::shared_ptr<MemoryTable> people = People();
  std::shared_ptr<MemoryTable> orders = Orders();
  Fixture() {
    catalog.AddTable(people);
    catalog.AddTable(orders);
  }
  QueryResult Run(std::string_view sql, const QueryOptions& options = {}) {
    return ExecuteSelect(sql, catalog, options);
  }
  // Column `col` of every row, as text ("" for Null).
  std::vector<std::string> Column(std::string_view sql, std::size_t col = 0,
                                  const QueryOptions& options = {}) {
    QueryResult r = Run(sql, options);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < r.RowCount(); ++i) out.push_back(r.Row(i).at(col).ToString());
    return out;
  }
};

using Strings = std::vector<std::string>;

TEST(SqlCriteria, EveryShapeTheComponentsBuildSelectsTheRightRows) {
  // The comparison texts the locate, key and master-detail builders produce, each wrapped as
  // "(" + name + " " + comparison + ")" and joined by " AND ".
  struct Case {
    const char* criteria;
    Strings ids;
  };
  const Case cases[] = {
      {"([Name] = \"O\"\"Brien\")", {"2"}},
      {"(Name = \"Novák\")", {"1"}},
      {"([Name] = LCASE(\"čapek\"))", {"3"}},
      {"([Name] = LCASE(\"chalupa\"))", {"4"}},
      {"([Name] LIKE \"ch*\")", {"4"}},
      {"([Name] LIKE LCASE(\"no*\"))", {"1"}},
      // Accents count: "Novák" holds no plain a.
      {"([Name] LIKE \"*a*\")", {"3", "4", "5", "6"}},
      {"([Note] IS NULL)", {"2", "3", "4", "5", "6"}},
      {"([Salary]  IS NULL)", {"3"}},
      {"([Born]  IS NULL)", {"5"}},
      {"([Salary] = 1800)", {"2", "5"}},
      {"([Score] = 12.5)", {"1", "4"}},
      {"([Score] = -1)", {"5"}},
      {"([Born] = #12/31/2003#)", {"2"}},
      {"([Born] = #12/31/2003 14:05:00#)", {"3"}},
      {"([Born] = #05/01/1980 00:00:00#)", {"1"}},
      {"([Alarm] = #14:05:00#)", {"1"}},
      {"([Active] = True)", {"1", "3", "4"}},
      {"([Active] = False)", {"2", "6"}},
      {"([Active] IS NULL)", {"5"}},
      {"([Tag] = {guid {12345678-90AB-CDEF-1234-567890ABCDEF}})", {"1"}},
      {"([Raw] = \"abc\")", {"1"}},
      {"([City] = \"Brno\") AND ([Active] = False)", {"6"}},
      {"([City] = \"praha\") AND ([Score] = 12.5) AND ([Active] = True)", {"1", "4"}},
      // The master condition and a Filter combined.
      {"(([City] = \"Brno\")) AND (Score > 1)", {"6"}},
      {"(Salary >= 1800 And Salary <= 2500) AND (([Name] LIKE \"*a*\"))", {"5"}},
  };
  Fixture f;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.criteria);
    // The detail statement: "Select * From [T] Where <c>;".
    EXPECT_EQ(f.Column(std::string("Select * From [People] Where ") + c.criteria + ";"), c.ids);
    // The same text as a Find criteria over the recordset's fields.
    const CompiledExpression find =
        CompiledExpression::Compile(c.criteria, f.people->Columns(), TextKind::kCriteria);
    Strings found;
    std::unique_ptr<RowCursor> cursor = f.people->Scan();
    while (cursor->Next()) {
      if (find.Matches(*cursor)) found.push_back(cursor->Get(0).ToString());
    }
    EXPECT_EQ(found, c.ids);
  }
}

TEST(SqlSelect, DetailStatementWithSortClause) {
  Fixture f;
  // The sort clause the table builds: lines joined by ", " and ending in one blank.
  EXPECT_EQ(f.Column("Select * From [People] Where ([City] = \"Brno\") Order By Name ;"),
            (Strings{"3", "6"}));
  EXPECT_EQ(f.Column("Select * From [People] Where (Salary > 0) Order By Salary, Name DESC ;"),
            (Strings{"6", "2", "5", "1", "4"}));
  // Text sorts by the General order without regard to case; Null first ascending.
  EXPECT_EQ(f.Column("SELECT Name FROM People ORDER BY Name"),
            (Strings{"Abbot", "čapek", "Chalupa", "hrabal", "Novák", "O\"Brien"}));
  EXPECT_EQ(f.Column("SELECT ID FROM People ORDER BY City, ID"),
            (Strings{"5", "3", "6", "2", "1", "4"}));
  EXPECT_EQ(f.Column("SELECT ID FROM People ORDER BY City DESC, ID"),
            (Strings{"1", "4", "2", "3", "6", "5"}));
  EXPECT_EQ(f.Column("SELECT ID, Score FROM People ORDER BY 2 DESC, 1"),
            (Strings{"1", "4", "2", "6", "5", "3"}));
}

TEST(SqlSelect, ProjectionNamesAndTypes) {
  Fixture f;
  QueryResult r = f.Run("SELECT ID, Name AS Who, Salary * 2, Len(Name), People.City FROM People");
  ASSERT_EQ(r.Columns().size(), 5u);
  const auto& c = r.Columns();
  EXPECT_EQ(c[0].name, "ID");
  EXPECT_EQ(c[1].name, "Who");
  EXPECT_EQ(c[2].name, "Expr1000");
  EXPECT_EQ(c[3].name, "Expr1001");
  EXPECT_EQ(c[4].name, "City");
  EXPECT_EQ(c[0].type, DataType::kLong);
  EXPECT_EQ(c[2].type, DataType::kCurrency);
  EXPECT_EQ(c[3].type, DataType::kLong);
  EXPECT_TRUE(c[0].updatable);
  EXPECT_TRUE(c[1].updatable);
  EXPECT_FALSE(c[2].updatable);
  EXPECT_EQ(c[1].source_column, "Name");
  EXPECT_EQ(c[4].base_column, 2);
  EXPECT_TRUE(r.Updatable());
  EXPECT_TRUE(SameValue(r.Row(0)[2], Cur(50000000)));
  EXPECT_TRUE(SameValue(r.Row(2)[3], Variant::FromLong(5)));

  QueryResult star = f.Run("SELECT People.*, OrderID FROM People, Orders");
  EXPECT_EQ(star.Columns().size(), 12u);
  EXPECT_EQ(star.RowCount(), 24u);
  EXPECT_FALSE(star.Updatable());

  QueryResult both = f.Run("SELECT * FROM People INNER JOIN Orders ON People.ID = Orders.PersonID");
  EXPECT_EQ(both.Columns().size(), 14u);
  EXPECT_EQ(both.Columns()[0].name, "ID");
  EXPECT_EQ(both.Columns()[11].name, "OrderID");

  QueryResult none = f.Run("SELECT 1 + 1 AS Two, 'x' & 'y'");
  ASSERT_EQ(none.RowCount(), 1u);
  EXPECT_TRUE(SameValue(none.Row(0)[0], Variant::FromLong(2)));
  EXPECT_TRUE(SameValue(none.Row(0)[1], Variant("xy")));
}

TEST(SqlSelect, DistinctTopAndMaxRecords) {
  Fixture f;
  // Duplicates differing in case are one value under the sort order.
  EXPECT_EQ(f.Column("SELECT DISTINCT City FROM People ORDER BY City"),
            (Strings{"", "Brno", "Dublin", "Praha"}));
  QueryResult distinct = f.Run("SELECT DISTINCT City FROM People");
  EXPECT_FALSE(distinct.Updatable());
  EXPECT_TRUE(distinct.Locators().empty());
  // TOP keeps every row tied with the last one.
  EXPECT_EQ(f.Column("SELECT TOP 2 ID FROM People ORDER BY Salary DESC"), (Strings{"4", "1"}));
  EXPECT_EQ(f.Column("SELECT TOP 3 ID FROM People ORDER BY Salary DESC"),
            (Strings{"4", "1", "2", "5"}));
  EXPECT_EQ(f.Column("SELECT TOP 1 ID FROM People ORDER BY Score DESC"), (Strings{"1", "4"}));
  EXPECT_EQ(f.Column("SELECT TOP 50 PERCENT ID FROM People ORDER BY ID"), (Strings{"1", "2", "3"}));
  EXPECT_EQ(f.Column("SELECT TOP 20 PERCENT ID FROM People ORDER BY ID"), (Strings{"1", "2"}));
  EXPECT_EQ(f.Column("SELECT TOP 10 ID FROM People"), (Strings{"1", "2", "3", "4", "5", "6"}));
  QueryOptions limit;
  limit.max_records = 2;
  EXPECT_EQ(f.Column("SELECT ID FROM People ORDER BY ID DESC", 0, limit), (Strings{"6", "5"}));
  // ORDER BY may name an output's alias.
  EXPECT_EQ(f.Column("SELECT ID, -ID AS Minus FROM People ORDER BY Minus"),
            (Strings{"6", "5", "4", "3", "2", "1"}));
}

TEST(SqlSelect, Joins) {
  Fixture f;
  EXPECT_EQ(f.Column("SELECT OrderID FROM People INNER JOIN Orders ON People.ID = Orders.PersonID "
                     "ORDER BY OrderID"),
            (Strings{"10", "11", "12"}));
  // Every person, with Nulls where there is no order.
  EXPECT_EQ(f.Column("SELECT People.ID, OrderID FROM People LEFT JOIN Orders ON "
                     "People.ID = Orders.PersonID ORDER BY People.ID, OrderID",
                     1),
            (Strings{"10", "11", "", "12", "", "", ""}));
  // Every order, with Nulls where the person is missing.
  EXPECT_EQ(f.Column("SELECT OrderID, Name FROM People RIGHT JOIN Orders ON "
                     "[People].[ID] = [Orders].[PersonID] ORDER BY OrderID",
                     1),
            (Strings{"Novák", "Novák", "čapek", ""}));
  // A join condition that is not a plain equality, and one combined with And.
  EXPECT_EQ(f.Column("SELECT OrderID FROM Orders AS o INNER JOIN People AS p ON o.PersonID < p.ID "
                     "AND p.City = 'Brno' ORDER BY OrderID, p.ID",
                     0),
            (Strings{"10", "10", "11", "11", "12"}));
  // Nested joins with parentheses, the way Access writes them.
  const char* nested =
      "SELECT o.OrderID, p.Name, o2.OrderID FROM (People AS p INNER JOIN Orders AS o ON p.ID = "
      "o.PersonID) INNER JOIN Orders AS o2 ON o.OrderID = o2.OrderID WHERE p.ID = 1 ORDER BY 1";
  EXPECT_EQ(f.Column(nested, 2), (Strings{"10", "11"}));
  EXPECT_FALSE(f.Run(nested).Updatable());
  // A comma join is a product filtered by WHERE.
  EXPECT_EQ(f.Column("SELECT Name FROM People, Orders WHERE People.ID = Orders.PersonID AND "
                     "Amount > 1.5"),
            (Strings{"Novák"}));
}

TEST(SqlSelect, GroupingAndAggregates) {
  Fixture f;
  QueryResult r = f.Run(
      "SELECT City, Count(*) AS N, Sum(Salary) AS Total, Max(Name), Avg(Score) FROM People "
      "GROUP BY City ORDER BY City");
  ASSERT_EQ(r.RowCount(), 4u);
  // Groups compare like values: "Praha" and "praha" are one group.
  EXPECT_TRUE(SameValue(r.Row(0)[0], N));
  EXPECT_TRUE(SameValue(r.Row(3)[1], Variant::FromLong(2)));
  EXPECT_TRUE(SameValue(r.Row(3)[2], Cur(55000000)));
  EXPECT_TRUE(SameValue(r.Row(1)[3], Variant("hrabal")));
  EXPECT_TRUE(SameValue(r.Row(1)[4], Variant::FromDouble(3)));  // Nulls do not count
  EXPECT_TRUE(SameValue(r.Row(1)[1], Variant::FromLong(2)));
  EXPECT_FALSE(r.Updatable());

  EXPECT_EQ(f.Column("SELECT City FROM People GROUP BY City HAVING Count(*) > 1 ORDER BY City"),
            (Strings{"Brno", "Praha"}));
  QueryResult all = f.Run("SELECT Count(*), Count(Salary), Min(Born), StDev(Score) FROM People");
  ASSERT_EQ(all.RowCount(), 1u);
  EXPECT_TRUE(SameValue(all.Row(0)[0], Variant::FromLong(6)));
  EXPECT_TRUE(SameValue(all.Row(0)[1], Variant::FromLong(5)));
  EXPECT_TRUE(SameValue(all.Row(0)[2], Date(1914, 3, 28)));
  EXPECT_TRUE(SameValue(all.Row(0)[3], Variant::FromDouble(5.922415047934416)));
  // No rows: Count is 0, the others Null; still one row.
  QueryResult empty = f.Run("SELECT Count(*), Sum(Salary) FROM People WHERE ID > 100");
  ASSERT_EQ(empty.RowCount(), 1u);
  EXPECT_TRUE(SameValue(empty.Row(0)[0], Variant::FromLong(0)));
  EXPECT_TRUE(SameValue(empty.Row(0)[1], N));
  EXPECT_EQ(f.Column("SELECT Count(*) FROM People WHERE ID > 100 GROUP BY City").size(), 0u);
}

TEST(SqlSelect, Parameters) {
  Fixture f;
  PreparedQuery q = PreparedQuery::Prepare(
      "PARAMETERS [Min Salary] Currency, Who Text(20); SELECT ID FROM People WHERE Salary >= "
      "[Min Salary] AND Name Like Who & '*' AND Born > [Since] ORDER BY ID",
      f.catalog);
  ASSERT_EQ(q.Parameters().size(), 3u);
  EXPECT_EQ(q.Parameters()[0].name, "Min Salary");
  EXPECT_EQ(q.Parameters()[0].type, DataType::kCurrency);
  EXPECT_TRUE(q.Parameters()[0].declared);
  EXPECT_EQ(q.Parameters()[1].size, 20);
  EXPECT_EQ(q.Parameters()[2].name, "Since");
  EXPECT_FALSE(q.Parameters()[2].declared);
  EXPECT_EQ(q.Parameters()[2].direction, 1);

  std::string text;
  EXPECT_EQ(ErrorNumberOf([&] { q.Execute(); }, &text), dao_error::kTooFewParameters);
  EXPECT_EQ(text, "Too few parameters. Expected 3.");
  QueryOptions o;
  o.parameters = {{"min salary", Variant("1000")}, {"WHO", Variant("")}};
  EXPECT_EQ(ErrorNumberOf([&] { q.Execute(o); }, &text), dao_error::kTooFewParameters);
  EXPECT_EQ(text, "Too few parameters. Expected 1.");
  o.parameters.push_back({"Since", Date(1950, 1, 1)});
  QueryResult r = q.Execute(o);
  std::vector<std::string> ids;
  for (std::size_t i = 0; i < r.RowCount(); ++i) ids.push_back(r.Row(i)[0].ToString());
  EXPECT_EQ(ids, (Strings{"1", "2", "4"}));
  // Declared types convert the value; one that does not convert is 3421.
  o.parameters[0].second = Variant("lots");
  EXPECT_EQ(ErrorNumberOf([&] { q.Execute(o); }), dao_error::kConversionError);
  // A misspelt column is a parameter too.
  EXPECT_EQ(ErrorNumberOf([&] { f.Run("SELECT * FROM People WHERE Nme = 'x'"); }, &text),
            dao_error::kTooFewParameters);
  EXPECT_EQ(text, "Too few parameters. Expected 1.");
}

TEST(SqlSelect, IndexNarrowsTheScanAndGivesTheSameRows) {
  Fixture f;
  // Many rows, then an index on ID: the indexed statement reads only its range.
  for (int i = 7; i <= 2000; ++i) {
    f.people->AddRow({Variant::FromLong(i), Variant("x" + std::to_string(i)), Variant("Ostrava")});
  }
  const char* statements[] = {
      "SELECT ID FROM People WHERE ID = 1500",
      "SELECT ID FROM People WHERE 1500 <= ID AND ID < 1503 ORDER BY ID",
      "SELECT ID FROM People WHERE ID Between 1503 And 1500 ORDER BY ID",
      "SELECT ID FROM People WHERE ID > 1997 AND Name <> 'x1999' ORDER BY ID",
      "SELECT ID FROM People WHERE ID = 12.5",
      "SELECT ID FROM People WHERE ID = '3'",
      "SELECT ID FROM People WHERE ID < 3 OR ID = 2000 ORDER BY ID",
  };
  std::vector<Strings> plain;
  for (const char* sql : statements) plain.push_back(f.Column(sql));
  f.people->TakeRowsVisited();
  f.people->AddIndex("PrimaryKey", {0}, true);
  for (std::size_t i = 0; i < std::size(statements); ++i) {
    SCOPED_TRACE(statements[i]);
    EXPECT_EQ(f.Column(statements[i]), plain[i]);
  }
  EXPECT_EQ(plain[0], (Strings{"1500"}));
  EXPECT_EQ(plain[2], (Strings{"1500", "1501", "1502", "1503"}));
  EXPECT_EQ(plain[3], (Strings{"1998", "2000"}));
  EXPECT_TRUE(plain[4].empty());
  EXPECT_EQ(plain[5], (Strings{"3"}));
  f.people->TakeRowsVisited();
  f.Column("SELECT ID FROM People WHERE ID = 1500");
  EXPECT_EQ(f.people->TakeRowsVisited(), 1u);
  f.Column("SELECT ID FROM People WHERE ID >= 1500 AND ID <= 1509");
  EXPECT_EQ(f.people->TakeRowsVisited(), 10u);
  // A parameter bound works like a literal.
  QueryOptions o;
  o.parameters = {{"Wanted", Variant::FromLong(42)}};
  EXPECT_EQ(f.Column("SELECT Name FROM People WHERE ID = [Wanted]", 0, o), (Strings{"x42"}));
  EXPECT_EQ(f.people->TakeRowsVisited(), 1u);
  // An Or cannot use the range: every row is read.
  f.Column("SELECT ID FROM People WHERE ID < 3 OR ID = 2000");
  EXPECT_EQ(f.people->TakeRowsVisited(), 2000u);
}

TEST(SqlSelect, DynasetKeepsLocatorsSnapshotKeepsValues) {
  Fixture f;
  QueryResult dynaset = f.Run("SELECT Name, ID * 10 AS Ten FROM People WHERE City = 'Brno'");
  QueryOptions snap;
  snap.kind = ResultKind::kSnapshot;
  QueryResult snapshot = f.Run("SELECT Name, ID * 10 AS Ten FROM People WHERE City = 'Brno'", snap);
  ASSERT_EQ(dynaset.Locators().size(), 2u);
  EXPECT_EQ(dynaset.BaseTable(), f.people);
  EXPECT_TRUE(snapshot.Locators().empty());
  EXPECT_FALSE(snapshot.Updatable());
  std::vector<Variant> values;
  ASSERT_TRUE(dynaset.ReadByLocator(dynaset.Locators()[1], values));
  EXPECT_TRUE(SameValue(values[1], Variant::FromLong(60)));
  // A deleted row is gone from the dynaset's reads but not from the snapshot.
  f.people->DeleteRow(dynaset.Locators()[0]);
  EXPECT_TRUE(SameValue(dynaset.Row(0)[0], N));
  EXPECT_TRUE(SameValue(snapshot.Row(0)[0], Variant("čapek")));
}

TEST(SqlSelect, RefineAppliesFilterAndSortToAResult) {
  Fixture f;
  QueryResult base = f.Run("SELECT ID, Name, Salary FROM People");
  QueryResult refined = Refine(base, "Salary > 1000", "Name DESC", ResultKind::kDynaset);
  ASSERT_EQ(refined.RowCount(), 4u);
  EXPECT_EQ(refined.BaseTable(), f.people);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < refined.RowCount(); ++i)
    names.push_back(refined.Row(i)[1].ToString());
  EXPECT_EQ(names, (Strings{"O\"Brien", "Novák", "Chalupa", "Abbot"}));
  QueryResult copy = Refine(base, "", "ID DESC", ResultKind::kSnapshot);
  EXPECT_TRUE(copy.Locators().empty());
  EXPECT_EQ(copy.Row(0)[0].ToString(), "6");
  EXPECT_EQ(ErrorNumberOf([&] { Refine(base, "Salary >", "", ResultKind::kDynaset); }),
            dao_error::kQueryExpression);
  EXPECT_EQ(ErrorNumberOf([&] { Refine(base, "", "City", ResultKind::kDynaset); }),
            dao_error::kTooFewParameters);
}

TEST(SqlSelect, StoredQueryAsATable) {
  Fixture f;
  f.catalog.AddQuery("Rich", "SELECT ID, Name, Salary FROM People WHERE Salary > [Limit];");
  QueryOptions o;
  o.parameters = {{"Limit", Variant::FromLong(2000)}};
  EXPECT_EQ(f.Column("SELECT Name FROM Rich ORDER BY Name", 0, o), (Strings{"Chalupa", "Novák"}));
  PreparedQuery q = PreparedQuery::Prepare("SELECT r.Name FROM Rich AS r", f.catalog);
  ASSERT_EQ(q.Parameters().size(), 1u);
  EXPECT_EQ(q.Parameters()[0].name, "Limit");
  f.catalog.AddQuery("Loop", "SELECT * FROM Loop");
  EXPECT_EQ(ErrorNumberOf([&] { f.Run("SELECT * FROM Loop"); }), dao_error::kInputTableNotFound);
}

TEST(SqlSelect, StatementErrors) {
  struct Case {
    const char* sql;
    int number;
    const char* text;  // the whole message when given
  };
  const Case cases[] = {
      {"SELECT", dao_error::kSelectStatement, nullptr},
      {"SELECT * FROM", dao_error::kFromClause, "Syntax error in FROM clause."},
      {"SELECT * FROM [Nope]", dao_error::kInputTableNotFound,
       "The database engine cannot find the input table or query 'Nope'. Make sure it exists "
       "and that its name is spelled correctly."},
      {"SELECT ID Name FROM People", dao_error::kQueryExpression,
       "Syntax error (missing operator) in query expression 'ID Name'."},
      {"SELECT * FROM People WHERE ID = 1 2 ORDER BY ID", dao_error::kQueryExpression,
       "Syntax error (missing operator) in query expression 'ID = 1 2'."},
      {"SELECT * FROM People WHERE Name = 'x", dao_error::kQueryExpression,
       "Syntax error in string in query expression 'Name = 'x'."},
      {"SELECT * FROM People WHERE (ID = 1", dao_error::kQueryExpression,
       "Missing ), ], or Item in query expression '(ID = 1'."},
      {"SELECT * FROM People WHERE", dao_error::kWhereClause, "Syntax error in WHERE clause."},
      {"SELECT * FROM People ORDER ID", dao_error::kOrderByClause,
       "Syntax error in ORDER BY clause."},
      {"SELECT * FROM People ORDER BY ID,", dao_error::kOrderByClause, nullptr},
      {"SELECT * FROM People; x", dao_error::kCharactersAfterEnd,
       "Characters found after end of SQL statement."},
      {"DELETE FROM People", dao_error::kInvalidOperation, nullptr},
      {"FOO BAR", dao_error::kInvalidStatement,
       "Invalid SQL statement; expected 'DELETE', 'INSERT', 'PROCEDURE', 'SELECT', or "
       "'UPDATE'."},
      {"SELECT TOP 0 * FROM People", dao_error::kInvalidTopArgument,
       "Invalid TOP argument in select query."},
      {"SELECT TOP 1.5 * FROM People", dao_error::kInvalidTopArgument, nullptr},
      {"SELECT DISTINCT Name FROM People ORDER BY City", dao_error::kDistinctOrderBy,
       "ORDER BY clause (City) conflicts with DISTINCT."},
      {"SELECT * FROM People WHERE Count(*) > 1", dao_error::kAggregateInWhere,
       "Cannot have aggregate function in WHERE clause (Count(*) > 1)."},
      {"SELECT Name, Count(*) FROM People", dao_error::kNotInAggregate,
       "You tried to execute a query that does not include the specified expression 'Name' as "
       "part of an aggregate function."},
      {"SELECT City, Name FROM People GROUP BY City", dao_error::kNotInAggregate, nullptr},
      {"SELECT * FROM People ORDER BY Note", dao_error::kCannotSortMemo,
       "Cannot sort on Memo or OLE Object 'Note'."},
      {"SELECT * FROM People INNER JOIN Orders", dao_error::kJoinOperation,
       "Syntax error in JOIN operation."},
      {"SELECT * FROM People JOIN Orders ON ID = PersonID", dao_error::kJoinOperation, nullptr},
      {"SELECT ID FROM People, Orders AS People", dao_error::kFromClause, nullptr},
      {"SELECT Foo(ID) FROM People", dao_error::kUndefinedFunction,
       "Undefined function 'Foo' in expression."},
      {"SELECT OrderID FROM Orders AS a, Orders AS b", dao_error::kAmbiguousField, nullptr},
      {"PARAMETERS x Wombat; SELECT * FROM People", dao_error::kSelectStatement, nullptr},
      {"PARAMETERS x Long SELECT * FROM People", dao_error::kSelectStatement, nullptr},
      {"SELECT * INTO Copy FROM People", dao_error::kInvalidOperation, nullptr},
  };
  Fixture f;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::string text;
    EXPECT_EQ(ErrorNumberOf([&] { f.Run(c.sql); }, &text), c.number);
    if (c.text != nullptr) {
      EXPECT_EQ(text, c.text);
    }
  }
  // Errors while running are DAO's too.
  EXPECT_EQ(ErrorNumberOf([&] { f.Run("SELECT * FROM People WHERE ID / 0 = 1"); }),
            dao_error::kDivisionByZero);
  EXPECT_EQ(ErrorNumberOf([&] { f.Run("SELECT * FROM People WHERE Born = 'later'"); }),
            dao_error::kTypeMismatch);
}

}  // namespace
}  // namespace jetsql

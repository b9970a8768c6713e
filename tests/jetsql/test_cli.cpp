// `datovrat-cli mdb query` and `mdb queries`, run as the built executable.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "core/datetime.h"
#include "jet/database.h"

namespace jetsql {
namespace {

struct CliRun {
  int status = -1;
  std::string out;
};

std::string Cli() {
  return std::string(DATOVRAT_BUILD_DIR) + "/src/cli/datovrat-cli";
}

CliRun RunCli(const std::string& arguments) {
  CliRun r;
  FILE* p = popen((Cli() + " " + arguments + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class QueryCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(Cli())) GTEST_SKIP() << "datovrat-cli is not built";
    std::string pattern = (std::filesystem::temp_directory_path() / "jetsql-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data());
    path_ = dir_ + "/shop.mdb";
    auto db = jet::Database::Create(path_);
    jet::NewTable spec;
    spec.name = "Goods";
    spec.columns = {{.name = "ID", .type = jet::column_type::kLong},
                    {.name = "Name", .type = jet::column_type::kText, .size = 50},
                    {.name = "Price", .type = jet::column_type::kCurrency},
                    {.name = "Added", .type = jet::column_type::kDateTime},
                    {.name = "Ratio", .type = jet::column_type::kDouble}};
    jet::Table& t = db->CreateTable(spec);
    core::DateParts when{2024, 3, 25, 14, 5, 0, 0};
    t.Insert(std::vector<core::Variant>{core::Variant::FromLong(1), core::Variant("Čaj, zelený"),
                                        core::Variant::FromCurrency(core::Currency{12345}),
                                        core::Variant::FromDate(core::EncodeDateTime(when)),
                                        core::Variant::FromDouble(0.5)});
    t.Insert(std::vector<core::Variant>{core::Variant::FromLong(2), core::Variant("Káva \"Extra\""),
                                        core::Variant::Null(), core::Variant::Null(),
                                        core::Variant::FromDouble(-2)});
    db->Close();
  }
  void TearDown() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_, path_;
};

TEST_F(QueryCommands, CsvAndJsonOutput) {
  CliRun r = RunCli("mdb query '" + path_ +
                    "' \"SELECT ID, Name, Price, Added, Ratio * 2 AS R FROM Goods ORDER BY ID\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "ID,Name,Price,Added,R\n"
            "1,\"Čaj, zelený\",1.2345,2024-03-25 14:05:00,1\n"
            "2,\"Káva \"\"Extra\"\"\",,,-4\n");
  r = RunCli("mdb query '" + path_ +
             "' \"SELECT Name, Price, Price > 1 AS Dear FROM Goods WHERE ID = [Which]\" --json "
             "--param Which=1");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"Name\":\"Čaj, zelený\",\"Price\":\"1.2345\",\"Dear\":true}\n");
}

TEST_F(QueryCommands, ErrorsNameTheFileAndDaoNumber) {
  CliRun r = RunCli("mdb query '" + path_ + "' \"SELECT * FROM Goods WHERE Nme = 1\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "datovrat-cli: " + path_ + ": Too few parameters. Expected 1. (error 3061)\n");
  r = RunCli("mdb query '" + path_ + "' \"SELECT * FROM Goods WHERE (ID = 1\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Missing ), ], or Item in query expression '(ID = 1'. (error 3075)"),
            std::string::npos)
      << r.out;
  r = RunCli("mdb query '" + dir_ + "/none.mdb' \"SELECT 1\"");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(dir_ + "/none.mdb"), std::string::npos) << r.out;
  EXPECT_EQ(RunCli("mdb query '" + path_ + "'").status, 2);
}

TEST_F(QueryCommands, QueriesListsStoredQueries) {
  const CliRun r =
      RunCli("mdb queries '" + std::string(DATOVRAT_TESTDATA) + "/jetsql/queryTestV2000.mdb'");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("DeleteQuery\tdbQDelete\nDELETE Table1.col1, Table1.col2, Table1.col3\n"
                       "FROM Table1\nWHERE (((Table1.col1)>\"blah\"));\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("PassthroughQuery\tdbQSQLPassThrough\n"), std::string::npos);
  // A database without queries lists nothing.
  const CliRun none = RunCli("mdb queries '" + path_ + "'");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
}

}  // namespace
}  // namespace jetsql

// `datovrat-cli copy tables`: source tables into an Access database, read back by mdbtools.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cli_support.h"

namespace {

namespace fs = std::filesystem;

using cli_test::Quote;
using cli_test::Result;
using cli_test::Shell;

class CopyTables : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("datovrat-copy-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    db_ = (dir_ / "dest.mdb").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Source(const std::string& relative) {
    return std::string(DATOVRAT_TESTDATA) + "/bde/" + relative;
  }
  Result Copy(const std::string& arguments) {
    return Shell(std::string(DATOVRAT_CLI) + " copy tables " + Quote(db_) + " " + arguments);
  }
  std::string Export(const std::string& table) {
    return Shell("mdb-export " + Quote(db_) + " " + Quote(table)).output;
  }
  std::string Count(const std::string& table) {
    return Shell("mdb-count " + Quote(db_) + " " + Quote(table)).output;
  }
  void ExpectCleanCheck() {
    Result check = Shell(std::string(DATOVRAT_CLI) + " mdb check " + Quote(db_));
    EXPECT_EQ(check.status, 0) << check.output;
  }

  fs::path dir_;
  std::string db_;
};

TEST_F(CopyTables, EverySourceArrivesWholeInANewDatabase) {
  Result r =
      Copy(Quote(Source("synthetic/czech852.dbf")) + " " + Quote(Source("synthetic/czech1250.db")) +
           " " + Quote(Source("synthetic/types4.dbf")) + " " +
           Quote(Source("synthetic/memo3.dbf")) + " " + Quote(Source("synthetic/empty.dbf")));
  ASSERT_EQ(r.status, 0) << r.output;

  std::string tables = Shell("mdb-tables -1 " + Quote(db_)).output;
  for (const char* name : {"czech852", "czech1250", "types4", "memo3", "empty"})
    EXPECT_NE(tables.find(name), std::string::npos) << name << " missing from:\n" << tables;

  // The deleted source record stays behind; the Czech text arrives in every letter.
  EXPECT_EQ(Count("czech852"), "2\n");
  std::string czech = Export("czech852");
  EXPECT_NE(czech.find("Příliš žluťoučký kůň úpěl ďábelské ódy"), std::string::npos) << czech;
  EXPECT_NE(czech.find("PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY"), std::string::npos) << czech;
  // Paradox: memos in the leader, in a suballocated block and a 5,000-byte blob.
  EXPECT_EQ(Count("czech1250"), "4\n");
  // dBase IV numbers, the 200-line memo over eleven blocks, the empty table.
  std::string types = Export("types4");
  EXPECT_NE(types.find("-999,99999,999999999,9999999999,12345.67,-0.125"), std::string::npos)
      << types;
  EXPECT_NE(types.find("line 0200 of a long memo"), std::string::npos);
  EXPECT_EQ(Count("empty"), "0\n");
  ExpectCleanCheck();
}

// A database made in the Czech sort order (as Czech Access makes them) takes copied tables,
// replaced ones included: the catalog's index on table names is in the Czech order.
TEST_F(CopyTables, ADatabaseInTheCzechOrderTakesTheTables) {
  Result made =
      Shell(std::string(DATOVRAT_CLI) + " mdb create " + Quote(db_) + " --sort-order 1029");
  ASSERT_EQ(made.status, 0) << made.output;
  fs::copy_file(Source("synthetic/czech852.dbf"), dir_ / "Chalupy.dbf");
  fs::copy_file(Source("synthetic/czech852.fpt"), dir_ / "Chalupy.fpt");
  const std::string sources = Quote((dir_ / "Chalupy.dbf").string()) + " " +
                              Quote(Source("synthetic/czech1250.db")) + " " +
                              Quote(Source("synthetic/types4.dbf"));
  Result r = Copy(sources);
  ASSERT_EQ(r.status, 0) << r.output;
  r = Copy(Quote((dir_ / "Chalupy.dbf").string()));  // replaced: a catalog delete and insert
  ASSERT_EQ(r.status, 0) << r.output;
  std::string tables = Shell("mdb-tables -1 " + Quote(db_)).output;
  for (const char* name : {"Chalupy", "czech1250", "types4"})
    EXPECT_NE(tables.find(name), std::string::npos) << name << " missing from:\n" << tables;
  EXPECT_NE(Export("Chalupy").find("Příliš žluťoučký kůň úpěl ďábelské ódy"), std::string::npos);
  EXPECT_EQ(Count("czech1250"), "4\n");
  ExpectCleanCheck();
}

TEST_F(CopyTables, ATableOfTheSameNameInAnyCaseIsReplaced) {
  ASSERT_EQ(Copy(Quote(Source("synthetic/czech852.dbf"))).status, 0);
  ASSERT_EQ(Shell("printf 'A\\nx\\n' | " + std::string(DATOVRAT_CLI) + " mdb import " + Quote(db_) +
                  " Other \"A TEXT(5)\"")
                .status,
            0);
  // Copied again, the table is dropped and made anew; other tables stay.
  fs::path upper = dir_ / "CZECH852.DBF";
  fs::copy_file(Source("synthetic/czech852.dbf"), upper);
  fs::copy_file(Source("synthetic/czech852.fpt"), dir_ / "CZECH852.FPT");
  Result r = Copy(Quote(upper.string()));
  ASSERT_EQ(r.status, 0) << r.output;
  std::string tables = Shell("mdb-tables -1 " + Quote(db_)).output;
  EXPECT_EQ(tables.find("czech852"), std::string::npos) << tables;
  EXPECT_NE(tables.find("CZECH852"), std::string::npos) << tables;
  EXPECT_NE(tables.find("Other"), std::string::npos) << tables;
  EXPECT_EQ(Count("CZECH852"), "2\n");
  ExpectCleanCheck();
}

TEST_F(CopyTables, AValueTheDestinationRefusesStopsTheRunUnlessSkipped) {
  // The first file arrives complete; the bad date of the second stops the run there, and the
  // error names the file, the record and the field.
  Result stopped = Copy(Quote(Source("synthetic/czech852.dbf")) + " " +
                        Quote(Source("dbase/dbfread/invalid_value.dbf")) + " " +
                        Quote(Source("synthetic/memo3.dbf")));
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.output.find("invalid_value.dbf"), std::string::npos) << stopped.output;
  EXPECT_NE(stopped.output.find("BIRTHDATE"), std::string::npos) << stopped.output;
  EXPECT_EQ(Count("czech852"), "2\n");
  EXPECT_EQ(Shell("mdb-tables -1 " + Quote(db_)).output.find("memo3"), std::string::npos);

  // Skipping keeps the record with the field left empty.
  Result skipped = Copy("--skip-bad-values " + Quote(Source("dbase/dbfread/invalid_value.dbf")));
  EXPECT_EQ(skipped.status, 0) << skipped.output;
  EXPECT_NE(skipped.output.find("skipped: record 1, field BIRTHDATE"), std::string::npos)
      << skipped.output;
  EXPECT_NE(skipped.output.find("-> invalid_value: 2 records, 1 value skipped"), std::string::npos)
      << skipped.output;
  EXPECT_EQ(Count("invalid_value"), "2\n");
  ExpectCleanCheck();
}

TEST_F(CopyTables, SourcesThatCannotBeReadAreNamedInTheError) {
  Result r = Copy(Quote(Source("dbase/infused-dbf/dbase_83_missing_memo.dbf")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.output.find("dbase_83_missing_memo.dbt"), std::string::npos) << r.output;
  Result wrong = Copy(Quote((dir_ / "notes.txt").string()));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.output.find("notes.txt"), std::string::npos) << wrong.output;
}

TEST_F(CopyTables, UsageErrorsAndHelpCreateNothing) {
  struct Case {
    const char* arguments;
    int status;
    const char* says;
  };
  const std::string good = Quote(Source("synthetic/memo3.dbf"));
  const Case cases[] = {
      {"--help", 0, "usage: datovrat-cli copy tables"},
      {"SRC --frobnicate", 2, "unknown option '--frobnicate'"},
      {"--codepage abc SRC", 2, "--codepage: 'abc' is not a code page number"},
      {"SRC --codepage", 2, "--codepage needs a code page number"},
      {"--yes-to-all --stop-on-error SRC", 2, "exclude each other"},
      {"", 2, "usage:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    std::string arguments = c.arguments;
    if (std::size_t at = arguments.find("SRC"); at != std::string::npos)
      arguments.replace(at, 3, good);
    Result r = Copy(arguments);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.says), std::string::npos) << r.output;
    EXPECT_FALSE(fs::exists(db_));
  }
  // A missing source is named before the destination is created.
  Result missing = Copy(good + " " + Quote((dir_ / "NONE.DBF").string()));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.output.find("NONE.DBF: no such file"), std::string::npos) << missing.output;
  EXPECT_FALSE(fs::exists(db_));
}

TEST_F(CopyTables, WithoutATerminalARefusedValueIsAnsweredNo) {
  // No option and no terminal: the run stops at the refused value, naming file, record and
  // field once.
  Result r = Shell("echo y | " + std::string(DATOVRAT_CLI) + " copy tables " + Quote(db_) + " " +
                   Quote(Source("dbase/dbfread/invalid_value.dbf")));
  EXPECT_EQ(r.status, 1);
  const std::string file = Source("dbase/dbfread/invalid_value.dbf");
  std::size_t first = r.output.find(file);
  ASSERT_NE(first, std::string::npos) << r.output;
  EXPECT_EQ(r.output.find(file + ": " + file), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("record 1, field BIRTHDATE"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("-> invalid_value: 0 records (incomplete)"), std::string::npos)
      << r.output;
}

}  // namespace

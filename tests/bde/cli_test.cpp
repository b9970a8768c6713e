// `datovrat-cli source schema|dump`: what a person sees, and exit statuses.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "support.h"

namespace bde_test {
namespace {

#if defined(BDE_CLI)
int Cli(const std::string& args, std::string& out) {
  return RunCommand(std::string(BDE_CLI) + " " + args + " 2>&1", out);
}
#endif

TEST(SourceCommands, SchemaDumpAndErrors) {
#if !defined(BDE_CLI)
  GTEST_FAIL() << "datovrat-cli is not part of this build";
#else
  std::string out;
  ASSERT_EQ(Cli("source schema " + Quote(Data("synthetic/types4.dbf")), out), 0) << out;
  EXPECT_NE(out.find("dBase IV, code page 1252, marked, 4 records, 10 fields"), std::string::npos)
      << out;
  EXPECT_NE(out.find("S4\tN\tftSmallint\tsize 0\tprecision 4\n"), std::string::npos) << out;
  EXPECT_NE(out.find("TXT\tC\tftString\tsize 20\n"), std::string::npos) << out;

  ASSERT_EQ(Cli("source dump " + Quote(Data("dbase/dbfread/people.dbf")), out), 0) << out;
  EXPECT_EQ(out, "NAME,BIRTHDATE\nAlice,1987-03-01\nBob,1980-11-12\n");

  // Text that needs quoting in CSV; JSON with Czech text, a null and numbers.
  ASSERT_EQ(Cli("source dump " + Quote(Data("synthetic/czech852.dbf")), out), 0) << out;
  EXPECT_NE(out.find("\"PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY\r\nPříliš"), std::string::npos)
      << out;
  ASSERT_EQ(Cli("source dump --json " + Quote(Data("synthetic/czech852.dbf")), out), 0) << out;
  EXPECT_NE(
      out.find("{\"ID\":3,\"JMENO\":\"PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY\",\"POZN\":null}"),
      std::string::npos)
      << out;

  // --codepage is for tables that name none; --force-codepage wins over the file's mark.
  ASSERT_EQ(Cli("source schema --codepage 1250 " + Quote(Data("synthetic/czech852.dbf")), out), 0)
      << out;
  EXPECT_NE(out.find("code page 852, marked"), std::string::npos) << out;
  ASSERT_EQ(Cli("source schema --codepage 1251 " + Quote(Data("dbase/dbfread/people.dbf")), out), 0)
      << out;
  EXPECT_NE(out.find("code page 1251, as given for unmarked tables"), std::string::npos) << out;
  ASSERT_EQ(
      Cli("source schema --force-codepage 1250 " + Quote(Data("synthetic/czech852.dbf")), out), 0)
      << out;
  EXPECT_NE(out.find("code page 1250, forced"), std::string::npos) << out;
  // Pages of the system's converter are accepted; an unknown number names the known ones.
  ASSERT_EQ(
      Cli("source schema --force-codepage 28592 " + Quote(Data("synthetic/czech852.dbf")), out), 0)
      << out;
  EXPECT_EQ(Cli("source dump --codepage 12345 " + Quote(Data("dbase/dbfread/people.dbf")), out), 2);
  EXPECT_NE(out.find("code page 12345 is not supported; supported code pages: 437,"),
            std::string::npos)
      << out;

  // A value error names the field, the dump goes on, the status says something failed.
  EXPECT_EQ(Cli("source dump " + Quote(Data("dbase/dbfread/invalid_value.dbf")), out), 1);
  EXPECT_NE(out.find("record 1, field BIRTHDATE: invalid date \"NotAYear\""), std::string::npos)
      << out;
  EXPECT_NE(out.find("Bob,1980-11-12"), std::string::npos) << out;

  EXPECT_EQ(Cli("source dump " + Quote(Data("foxpro/dbfread/no_memofile.dbf")), out), 1);
  EXPECT_NE(out.find("no_memofile.dbf: the memo file no_memofile.fpt is missing"),
            std::string::npos)
      << out;
  EXPECT_EQ(Cli("source dump --bogus x.dbf", out), 2);
  EXPECT_EQ(Cli("source dump --codepage abc x.dbf", out), 2);
  EXPECT_EQ(Cli("source schema", out), 2);
#endif
}

// Over thousands of records the lines come out in record order, each value error is reported
// for its own record, and a table whose file ends early gives what it holds and a warning.
TEST(SourceCommands, DumpKeepsRecordOrderAndErrorsAcrossManyRecords) {
#if !defined(BDE_CLI)
  GTEST_FAIL() << "datovrat-cli is not part of this build";
#else
  const int records = 5000;
  const std::set<int> bad = {0, 2047, 2048, 4095, 4999};
  std::string s(32 + 64 + 1, '\0');
  s[0] = 0x03;
  const std::uint32_t count = records;
  std::memcpy(&s[4], &count, 4);
  s[8] = 97;   // header length
  s[10] = 15;  // record length: flag + N(6) + D(8)
  s[29] = 0x01;
  std::memcpy(&s[32], "ID", 2);
  s[32 + 11] = 'N';
  s[32 + 16] = 6;
  std::memcpy(&s[64], "BORN", 4);
  s[64 + 11] = 'D';
  s[64 + 16] = 8;
  s[96] = 0x0D;
  std::string expected = "ID,BORN\n", expected_errors;
  for (int i = 0; i < records; ++i) {
    std::string id = std::to_string(i + 1);
    s += ' ' + std::string(6 - id.size(), ' ') + id + (bad.count(i) ? "NotAYear" : "19991231");
    expected += id + (bad.count(i) ? ",\n" : ",1999-12-31\n");
    if (bad.count(i))
      expected_errors += "datovrat-cli: " + std::string("batch_") + std::to_string(getpid()) +
                         ".dbf: record " + id + ", field BORN: invalid date \"NotAYear\"\n";
  }
  const std::string dir = ::testing::TempDir();
  const std::string name = "batch_" + std::to_string(getpid()) + ".dbf";
  std::ofstream(dir + "/" + name, std::ios::binary) << s << '\x1A';
  std::string out, err;
  const std::string run = "cd " + Quote(dir) + " && " + BDE_CLI + " source dump " + name;
  EXPECT_EQ(RunCommand(run + " 2>/dev/null", out), 1);
  EXPECT_EQ(out, expected);
  EXPECT_EQ(RunCommand(run + " 2>&1 >/dev/null", err), 1);
  EXPECT_EQ(err, expected_errors);

  // The header announces more records than the file holds: the complete ones, then a warning.
  std::ofstream(dir + "/" + name, std::ios::binary) << s.substr(0, 97 + 15 * 3000 + 7);
  EXPECT_EQ(RunCommand(run + " 2>/dev/null", out), 1);
  EXPECT_EQ(out, expected.substr(0, expected.find("\n3001,") + 1));
  EXPECT_EQ(RunCommand(run + " 2>&1 >/dev/null", err), 1);
  EXPECT_NE(err.find("announces 5000 records but the file holds only 3000 complete ones"),
            std::string::npos)
      << err;
  std::remove((dir + "/" + name).c_str());
#endif
}

// A dBase III table of one C(10) field with the given values, in a scratch file.
std::string WriteTable(const std::string& name, const std::vector<std::string>& values) {
  std::string s(32 + 32 + 1, '\0');
  s[0] = 0x03;
  s[4] = static_cast<char>(values.size());
  s[8] = 65;
  s[10] = 11;
  s[29] = 0x01;  // cp437
  std::memcpy(&s[32], "TXT", 3);
  s[32 + 11] = 'C';
  s[32 + 16] = 10;
  s[64] = 0x0D;
  for (std::string v : values) {
    v.resize(10, ' ');
    s += ' ' + v;
  }
  s += '\x1A';
  const std::string path = ::testing::TempDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << s;
  return path;
}

TEST(CopyCommand, TextWithNulBytesArrivesWhole) {
#if !defined(BDE_CLI)
  GTEST_FAIL() << "datovrat-cli is not part of this build";
#else
  const std::string source =
      WriteTable("nul_" + std::to_string(getpid()) + ".dbf",
                 {std::string("ab\0cd\0\0", 7), std::string("\0xy", 3), "plain"});
  const std::string dest = ::testing::TempDir() + "/nul_" + std::to_string(getpid()) + ".mdb";
  std::remove(dest.c_str());
  std::string out;
  ASSERT_EQ(Cli("copy tables " + Quote(dest) + " " + Quote(source), out), 0) << out;
  ASSERT_EQ(Cli("mdb export " + Quote(dest) + " nul_" + std::to_string(getpid()) + " --json", out),
            0);
  EXPECT_EQ(out, "{\"TXT\":\"ab\\u0000cd\"}\n{\"TXT\":\"\\u0000xy\"}\n{\"TXT\":\"plain\"}\n");
  // mdb-reader, an independent reader, sees the same texts.
  const std::string oracles = std::string(DATOVRAT_SOURCE_DIR) + "/tests/oracles";
  if (RunCommand(
          "command -v node >/dev/null && test -d " + Quote(oracles + "/node_modules/mdb-reader"),
          out) == 0) {
    ASSERT_EQ(
        RunCommand("node " + Quote(oracles + "/mdb_reader_dump.mjs") + " " + Quote(dest), out), 0);
    const std::string rows = std::string("S:ab") + '\0' + "cd\nS:" + '\0' + "xy\nS:plain\n";
    EXPECT_NE(out.find(rows), std::string::npos) << out;
  } else {
    ADD_FAILURE() << "mdb-reader is not installed (tests/oracles: npm ci)";
  }
  std::remove(dest.c_str());
  std::remove(source.c_str());
#endif
}

}  // namespace
}  // namespace bde_test

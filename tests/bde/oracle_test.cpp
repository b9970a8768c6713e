// Every fixture's dump against an independent reader: Perl's XBase module for the dBase
// family, pxlib for Paradox. The comparison script reports each value that differs.
#include <sys/wait.h>
#include <unistd.h>

#include "support.h"

namespace bde_test {
namespace {

enum class Oracle { XBase, Pxlib };

struct OracleCase {
  const char* file;
  Oracle oracle;
  // False where only the record count can agree: no fields, no records, or only fields the
  // other reader cannot decode.
  bool values = true;
};

// Tables the other readers cannot open are checked against known values in the reader
// tests instead: dBase 7 (inventory, test_delete), a 0x00 deletion flag (mazovia), tables
// whose memo file is missing, dBase II, encrypted Paradox tables.
const OracleCase kCases[] = {
    {"dbase/dbfread/people.dbf", Oracle::XBase},
    {"dbase/deb-python3-geopandas/naturalearth_lowres.dbf", Oracle::XBase},
    {"dbase/deb-r-cran-maptools/fylk-val.dbf", Oracle::XBase},
    {"dbase/deb-r-cran-rgdal/point.dbf", Oracle::XBase},
    {"dbase/deb-r-cran-sf/olinda1.dbf", Oracle::XBase},
    {"dbase/deb-r-cran-sf/storms_xyz.dbf", Oracle::XBase, false},
    {"dbase/deb-r-cran-spdata/NY8_utm18.dbf", Oracle::XBase},
    {"dbase/deb-r-cran-spdata/nyadjwts.dbf", Oracle::XBase},
    {"dbase/deb-r-cran-spdata/world.dbf", Oracle::XBase},
    {"dbase/infused-dbf/dbase_03.dbf", Oracle::XBase},
    {"dbase/infused-dbf/dbase_03_cyrillic.dbf", Oracle::XBase},
    {"dbase/infused-dbf/dbase_83.dbf", Oracle::XBase},
    {"dbase/infused-dbf/dbase_8b.dbf", Oracle::XBase},
    {"dbase/infused-dbf/polygon.dbf", Oracle::XBase, false},
    {"dbase/javadbf/continents_no_header_record_terminator.dbf", Oracle::XBase},
    {"dbase/javadbf/wrong-exented-character-field.dbf", Oracle::XBase},
    {"foxpro/dbfread/memotest.dbf", Oracle::XBase},
    {"foxpro/go-dbase/database/employees.dbf", Oracle::XBase},
    {"foxpro/go-dbase/database/expense categories.dbf", Oracle::XBase},
    {"foxpro/go-dbase/database/expense details.dbf", Oracle::XBase},
    {"foxpro/go-dbase/table/TEST.DBF", Oracle::XBase},
    {"foxpro/go-foxpro-dbf/TEST.DBF", Oracle::XBase},
    {"foxpro/go-foxpro-dbf/dkeza.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/cp1251.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/dbase_30.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/dbase_31.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/dbase_32.dbf", Oracle::XBase, false},
    {"foxpro/infused-dbf/dbase_f5.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/foxprodb/calls.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/foxprodb/contacts.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/foxprodb/setup.dbf", Oracle::XBase},
    {"foxpro/infused-dbf/foxprodb/types.dbf", Oracle::XBase},
    {"synthetic/czech852.dbf", Oracle::XBase},
    {"synthetic/czech1250.dbf", Oracle::XBase},
    {"synthetic/kamenicky_fox.dbf", Oracle::XBase},
    {"synthetic/kamenicky_dbase.dbf", Oracle::XBase},
    {"synthetic/types4.dbf", Oracle::XBase},
    {"synthetic/memo3.dbf", Oracle::XBase},
    {"synthetic/empty.dbf", Oracle::XBase, false},
    {"paradox/paradoxReader/PCLDATA/PAGESIZE.DB", Oracle::Pxlib},
    {"paradox/paradoxReader/PCLDATA/PCL.DB", Oracle::Pxlib},
    {"paradox/paradoxReader/PCLDATA/SYMBOLS.DB", Oracle::Pxlib},
    {"paradox/paradoxReader/PCLDATA/TYPEFACE.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/areas/AREACODE.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/areas/STATES.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/areas/ZIPCODES.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/AREACODE.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/AREACODES.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/CONTACTS.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/CUSTOMER.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/DECIMAL.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/GENERAL.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/HERCULES.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/ORDERS.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/ROMAN8.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/db/SERVER.DB", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/bcd.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/bytes.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/date35.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/date4.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/date5.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/date7.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/fmemo.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/graphic240.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/logical.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/long.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/memo.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/ole.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/time.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/fields/timestamp.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/joins/case.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/joins/fk1.db", Oracle::Pxlib, false},
    {"paradox/paradoxdriver/joins/indexed.db", Oracle::Pxlib, false},
    {"paradox/paradoxdriver/joins/joina.db", Oracle::Pxlib},
    {"paradox/paradoxdriver/joins/two.db", Oracle::Pxlib, false},
    {"synthetic/unmarked852.dbf", Oracle::XBase},
    {"synthetic/unmarked1251.dbf", Oracle::XBase},
    {"synthetic/unmarkedutf8.dbf", Oracle::XBase},
    {"synthetic/czech852.db", Oracle::Pxlib},
    {"synthetic/czech1250.db", Oracle::Pxlib},
    {"synthetic/kamenicky.db", Oracle::Pxlib},
};

class OracleTest : public ::testing::TestWithParam<OracleCase> {};

TEST_P(OracleTest, DumpAgreesWithIndependentReader) {
#if !defined(BDE_CLI)
  GTEST_FAIL() << "datovrat-cli is not part of this build";
#else
  const OracleCase& c = GetParam();
  const std::string file = Data(c.file);
  const std::string dir = ::testing::TempDir();
  // CTest runs the cases in parallel processes: the files carry the process number.
  const std::string tag = std::to_string(getpid());
  const std::string ours = dir + "/bde_ours_" + tag + ".jsonl",
                    theirs = dir + "/bde_theirs_" + tag + ".jsonl";
  std::string out;

  // The code page we decode with is the one the comparison decodes their raw bytes with.
  auto reader = bde::OpenSourceTable(file);
  const int code_page = reader->CodePage();
  reader.reset();

  ASSERT_EQ(
      RunCommand(std::string(BDE_CLI) + " source dump --json " + Quote(file) + " > " + ours, out),
      0)
      << c.file;
  std::string oracle;
  if (c.oracle == Oracle::XBase) {
    oracle = "perl " +
             Quote(std::string(DATOVRAT_SOURCE_DIR) + "/tests/oracles/bde/xbase_dump.pl") + " " +
             Quote(file);
  } else {
#if !defined(BDE_PX_DUMP)
    GTEST_FAIL() << "the pxlib helper was not built (install pxlib-dev and pkg-config)";
#else
    oracle = "ASAN_OPTIONS=detect_leaks=0 " + std::string(BDE_PX_DUMP) + " " + Quote(file);
#endif
  }
  ASSERT_EQ(RunCommand(oracle + " > " + theirs, out), 0)
      << "the independent reader failed on " << c.file;
  const int status = RunCommand(
      "perl " + Quote(std::string(DATOVRAT_SOURCE_DIR) + "/tests/oracles/bde/compare.pl") + " " +
          ours + " " + theirs + " " + std::to_string(code_page),
      out);
  EXPECT_EQ(status, 0) << c.file << ":\n" << out;
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
  if (c.values) {
    EXPECT_EQ(out.find(" 0 values agree"), std::string::npos) << "nothing compared in " << c.file;
  }
#endif
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OracleTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<OracleCase>& info) {
                           std::string name;
                           for (const char* p = info.param.file; *p; ++p)
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           return name;
                         });

}  // namespace
}  // namespace bde_test

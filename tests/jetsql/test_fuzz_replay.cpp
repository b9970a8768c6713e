// Inputs the SQL text fuzzer once failed on, replayed so they stay fixed, and a few texts of
// every kind to show the check itself passes on good and bad input alike.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sql_text_check.h"

namespace jetsql {
namespace {

std::string Check(std::string_view text) {
  return fuzz::CheckSqlText(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

TEST(FuzzReplay, SqlTextFindings) {
  const std::filesystem::path dir = DATOVRAT_TESTDATA "/fuzz/jetsql_sql_text";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no findings kept";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(Check(bytes.str()), "") << entry.path();
  }
}

TEST(FuzzReplay, CheckHoldsForSampleTexts) {
  for (const char* text :
       {"SELECT * FROM T WHERE A = 1 ORDER BY B DESC", "SELECT A, B FROM Q WHERE B Like 'č*'",
        "A > 0 AND B IS NULL", "B, A DESC", "[A] = #3/25/2024#", "SELECT Count(*) FROM T",
        "SELECT T.* FROM T INNER JOIN T AS U ON T.A = U.A", "((", "'", "#", "[", "{guid {",
        "SELECT", "SELECT * FROM T WHERE", "1/0", "F", "Space(99999999)"}) {
    EXPECT_EQ(Check(text), "") << text;
  }
}

}  // namespace
}  // namespace jetsql

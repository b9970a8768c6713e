// Text comparison must order exactly as the index layer's General-order keys do, whichever
// internal path (plain ASCII or full keys) a pair of texts takes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "jet/sort_order.h"
#include "jetsql/collation.h"

namespace jetsql {
namespace {

int KeyOrder(const std::string& a, const std::string& b) {
  std::vector<std::uint8_t> ka, kb;
  jet::AppendGeneralTextKey(core::Utf8ToUtf16(a), false, ka);
  jet::AppendGeneralTextKey(core::Utf8ToUtf16(b), false, kb);
  const int c = std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end())   ? -1
                : std::lexicographical_compare(kb.begin(), kb.end(), ka.begin(), ka.end()) ? 1
                                                                                           : 0;
  return c;
}

TEST(SqlCollation, AgreesWithIndexKeysForEveryPair) {
  const std::vector<std::string> texts = {
      "",        "a",       "A",       "ab",     "aB ",     "a b",       "ab  ",  "abc",
      "b",       "Z",       "z9",      "0",      "10",      "9",         "a-b",   "ab-",
      "a'b",     "a.b",     "a_b",     "a,b",    "(a)",     " a",        "čaj",   "ČAJ",
      "caj",     "cáj",     "chata",   "hrad",   "cihla",   "Žluťoučký", "zluto", "Ábel",
      "abel",    "\tTab",   "x\x7f",   "Straße", "strasse", "ß",         "~",     "@home",
      "ABC def", "abc DEF", "abc-def", "abcdef", "ab cdef", "#1",        "$5",    "ñ",
  };
  for (const std::string& a : texts) {
    for (const std::string& b : texts) {
      SCOPED_TRACE("'" + a + "' vs '" + b + "'");
      EXPECT_EQ(CompareText(a, b), KeyOrder(a, b));
      std::string ka, kb;
      AppendTextSortKey(a, ka);
      AppendTextSortKey(b, kb);
      const int c = ka.compare(kb);
      EXPECT_EQ(c < 0 ? -1 : (c > 0 ? 1 : 0), KeyOrder(a, b));
    }
  }
}

TEST(SqlCollation, LongTextsDifferPastTheKeyLimit) {
  // Index keys keep 255 characters; comparisons look at the rest as well.
  const std::string base(300, 'a');
  EXPECT_LT(CompareText(base + "a", base + "b"), 0);
  EXPECT_EQ(CompareText(base + "X", base + "x"), 0);
  EXPECT_GT(CompareText(base + "č", base + "c"), 0);
  EXPECT_EQ(CompareText(base + "   ", base), 0);
}

}  // namespace
}  // namespace jetsql

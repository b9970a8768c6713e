#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "core/errors.h"
#include "core/variant.h"

namespace core {
namespace {

bool SameDouble(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) ||
         std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Expected texts worked out with Python ('%.15g' when it reads back, else repr), laid out in
// the fixed/exponent form.
TEST(FloatToText, KnownValues) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {0.1, "0.1"},
      {1.0 / 3, "0.3333333333333333"},
      {2.0 / 3, "0.6666666666666666"},
      {0.1 + 0.2, "0.30000000000000004"},
      {100.0, "100"},
      {-1234.5, "-1234.5"},
      {0.000123, "0.000123"},
      {3.141592653589793, "3.141592653589793"},
      {999999999999999.0, "999999999999999"},
      {123456789012345.67, "123456789012345.67"},
      {1e15, "1E+15"},
      {9007199254740993.0, "9.007199254740992E+15"},
      {1e22, "1E+22"},
      {1e23, "1E+23"},
      {1.5e20, "1.5E+20"},
      {1e-5, "0.00001"},
      {9.99e-6, "9.99E-6"},
      {-2.5e-7, "-2.5E-7"},
      {5e-324, "4.94065645841247E-324"},
      {2.2250738585072014e-308, "2.2250738585072014E-308"},
      {2.225073858507201e-308, "2.225073858507201E-308"},
      {1.7976931348623157e308, "1.7976931348623157E+308"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToText(c.value), c.text);
    EXPECT_TRUE(SameDouble(TextToFloat(c.text), c.value)) << c.text;
  }
}

// The significant digits of the C library's printf for the same rule: "%.15g" when strtod
// reads it back, else the fewest digits (16 or 17) that do. This is glibc's conversion, not
// the one the code uses, so the two check each other.
std::string OracleDigits(double v, int& exponent) {
  char buffer[64];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*e", precision - 1, v);
    if (std::strtod(buffer, nullptr) == v) break;
  }
  std::string digits;
  const char* p = buffer + (buffer[0] == '-');
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits.push_back(*p);
  }
  exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return digits;
}

std::string DigitsOfText(const std::string& text, int& exponent) {
  std::string digits;
  std::size_t i = text[0] == '-' ? 1 : 0;
  int point = -1;
  for (; i < text.size() && text[i] != 'E'; ++i) {
    if (text[i] == '.') {
      point = static_cast<int>(digits.size());
    } else {
      digits.push_back(text[i]);
    }
  }
  if (point < 0) point = static_cast<int>(digits.size());
  const std::size_t lead = digits.find_first_not_of('0');
  exponent = point - 1 - static_cast<int>(lead);
  digits.erase(0, lead);
  if (i < text.size()) exponent += std::atoi(text.c_str() + i + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return digits;
}

// Random bit patterns cover every exponent, subnormals and NaN payloads alike.
TEST(FloatToText, RandomBitPatternsReadBackIdenticallyWithTheOracleDigits) {
  std::mt19937_64 rng(20240611);
  int failures = 0;
  for (int i = 0; i < 300000 && failures < 10; ++i) {
    std::uint64_t bits = rng();
    if (i % 4 == 1) bits &= 0x800FFFFFFFFFFFFFull;  // subnormal
    if (i % 4 == 2) {  // everyday magnitudes, 1e-18 to 1e18, where the fixed layout matters
      bits = (bits & 0x800FFFFFFFFFFFFFull) | ((0x3FF - 60 + rng() % 120) << 52);
    }
    const double v = std::bit_cast<double>(bits);
    const std::string text = FloatToText(v);
    double back = 0;
    if (!TryTextToFloat(text, back) || !SameDouble(back, v)) {
      ++failures;
      ADD_FAILURE() << text << " does not read back to bits " << std::hex << bits;
      continue;
    }
    if (!std::isfinite(v) || v == 0) continue;
    int oracle_exp = 0, our_exp = 0;
    const std::string oracle = OracleDigits(v, oracle_exp);
    const std::string ours = DigitsOfText(text, our_exp);
    if (ours != oracle || our_exp != oracle_exp) {
      ++failures;
      ADD_FAILURE() << text << " vs digits " << oracle << "e" << oracle_exp;
    }
    // The layout: fixed notation exactly for magnitudes from 1e-5 up to below 1e15.
    const bool fixed = text.find('E') == std::string::npos;
    if (fixed != (our_exp >= -5 && our_exp < 15)) {
      ++failures;
      ADD_FAILURE() << "layout of " << text;
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(TextToFloat, AcceptsTheLenientForms) {
  struct Case {
    std::string text;
    double value;
  };
  const Case cases[] = {
      {"  1,5  ", 1.5},
      {"+2", 2.0},
      {"-3.5e2", -350.0},
      {"1.5E+20", 1.5e20},
      {"7e-3", 0.007},
      {".5", 0.5},
      {"5.", 5.0},
      {"0004.25", 4.25},
      {"\t-0\t", -0.0},
      {"1e-400", 0.0},  // below the smallest subnormal: zero, as the hardware would round
      {"-1e-400", -0.0},
      {"2.4703282292062328e-324", 5e-324},
      {std::string("17976931348623157") + std::string(292, '0'), 1.7976931348623157e308},
      {"0.30000000000000004", 0.1 + 0.2},
      {"inf", std::numeric_limits<double>::infinity()},
      {"-Infinity", -std::numeric_limits<double>::infinity()},
  };
  for (const Case& c : cases) {
    double v = 1234;
    ASSERT_TRUE(TryTextToFloat(c.text, v)) << c.text;
    EXPECT_TRUE(SameDouble(v, c.value)) << c.text << " gave " << v;
  }
  double nan = 0;
  ASSERT_TRUE(TryTextToFloat("NaN", nan));
  EXPECT_TRUE(std::isnan(nan));
}

TEST(TextToFloat, RejectsWhatIsNotANumber) {
  const char* bad[] = {"",       " ",     "abc",  "1e",   "1e+",   "--1", "+-1",
                       "1.2.3",  "1,2,3", "0x10", "1 2",  "e5",    ".",   "1e400",
                       "-1e400", "1_000", "5%",   "nan1", "1.5 E3"};
  for (const char* text : bad) {
    double v = 1234;
    EXPECT_FALSE(TryTextToFloat(text, v)) << text;
    EXPECT_EQ(v, 1234) << "changed by " << text;
    try {
      TextToFloat(text);
      ADD_FAILURE() << text << " did not raise";
    } catch (const EConvertError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("'") + text + "'"), std::string::npos)
          << e.what();
    }
  }
}

TEST(SingleToText, UsesTheFloatsOwnDigits) {
  struct Case {
    float value;
    const char* text;
  };
  const Case cases[] = {
      {0.1f, "0.1"},
      {1.0f / 3, "0.33333334"},
      {16777217.0f, "16777216"},
      {3.4028235e38f, "3.4028235E+38"},
      {1e-45f, "1.401298E-45"},
      {-2.5f, "-2.5"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SingleToText(c.value), c.text);
    float back = 0;
    ASSERT_TRUE(TryTextToSingle(c.text, back));
    EXPECT_EQ(back, c.value);
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 100000; ++i) {
    const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (std::isnan(f)) continue;
    float back = 0;
    ASSERT_TRUE(TryTextToSingle(SingleToText(f), back)) << SingleToText(f);
    ASSERT_EQ(std::bit_cast<std::uint32_t>(back), std::bit_cast<std::uint32_t>(f))
        << SingleToText(f);
  }
}

TEST(TextToInt64, WholeNumbersOnly) {
  struct Case {
    const char* text;
    bool ok;
    std::int64_t value;
  };
  const Case cases[] = {
      {"0", true, 0},
      {"+7", true, 7},
      {"-42", true, -42},
      {"9223372036854775807", true, INT64_MAX},
      {"-9223372036854775808", true, INT64_MIN},
      {"9223372036854775808", false, 0},
      {"", false, 0},
      {"+", false, 0},
      {"-", false, 0},
      {"+-5", false, 0},
      {"--5", false, 0},
      {" 5", false, 0},
      {"5 ", false, 0},
      {"1.0", false, 0},
      {"1e3", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    std::int64_t v = 99;
    EXPECT_EQ(TryTextToInt64(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

// The quick road for values with few decimals gives FloatToText's text whenever it answers,
// and it answers for the values tables hold.
TEST(FloatToText, FewDecimalsTextIsFloatToTextsText) {
  const double answered[] = {123.45,  -123.45,          0.0001,  12.5,     -7,
                             1,       999999999999.99,  0.00001, 0.000123, 100,
                             1000000, 99999999999999.9, 0.5,     2.0004};
  for (double v : answered) {
    std::string text = "?";
    ASSERT_TRUE(FewDecimalsFloatText(v, text)) << v;
    EXPECT_EQ(text, FloatToText(v)) << v;
  }
  const double declined[] = {0.0,
                             -0.0,
                             1.0 / 3,
                             0.1 + 0.2,
                             1e15,
                             1e-6,
                             0.0000099,
                             1e300,
                             5e-324,
                             std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             0.1234567};
  for (double v : declined) {
    std::string text = "kept";
    EXPECT_FALSE(FewDecimalsFloatText(v, text)) << v;
    EXPECT_EQ(text, "kept");
  }
  std::mt19937_64 random(20261211);
  int agreed = 0;
  for (int i = 0; i < 200000; ++i) {
    const int digits = 1 + static_cast<int>(random() % 17);
    std::uint64_t m = random() % 100000000000000000ull;
    for (int d = digits; d < 17; ++d) m /= 10;
    const int k = static_cast<int>(random() % 9);
    double v = static_cast<double>(m) / std::pow(10.0, k);
    if (random() % 2) v = -v;
    if (i % 7 == 0) v = std::nextafter(v, 1e300);  // a neighbour: rarely a short decimal
    std::string text;
    if (FewDecimalsFloatText(v, text)) {
      ASSERT_EQ(text, FloatToText(v)) << v;
      ++agreed;
    }
  }
  EXPECT_GT(agreed, 100000);
}

}  // namespace
}  // namespace core

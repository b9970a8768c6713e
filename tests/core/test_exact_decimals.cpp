#include <gtest/gtest.h>

#include <cstdint>

#include "core/variant.h"

namespace core {
namespace {

// Rounded results from Python's decimal module (quantize with ROUND_HALF_EVEN).
TEST(CurrencyText, ParsesExactlyAndRoundsHalfToEven) {
  struct Case {
    const char* text;
    std::int64_t scaled;
  };
  const Case cases[] = {
      {"0", 0},
      {"7", 70000},
      {"-12.3456", -123456},
      {"0.5", 5000},
      {"0,1", 1000},
      {" +3.25 ", 32500},
      {"1e3", 10000000},
      {"1.5E-2", 150},
      {"1.00005", 10000},  // tie: down to even
      {"1.00015", 10002},  // tie: up to even
      {"-2.00025", -20002},
      {"0.00005", 0},
      {"0.00004999999999", 0},
      {"0.0000500000000001", 1},
      {"12345678901234.5678", 123456789012345678},  // more digits than a double holds
      {"12345678901234.56785", 123456789012345678},
      {"922337203685477.5807", INT64_MAX},
      {"-922337203685477.5808", INT64_MIN},
      {"0.000000000000000000000000000000000000000001", 0},
  };
  for (const Case& c : cases) {
    Currency out{42};
    ASSERT_TRUE(TryTextToCurrency(c.text, out)) << c.text;
    EXPECT_EQ(out.scaled, c.scaled) << c.text;
  }
  const char* bad[] = {"",
                       "abc",
                       "1.2.3",
                       "922337203685477.5808",
                       "922337203685477.58075",
                       "-922337203685477.5809",
                       "1e15",
                       "1e999999999999",
                       "NaN",
                       "INF",
                       "1 000"};
  for (const char* text : bad) {
    Currency out{42};
    EXPECT_FALSE(TryTextToCurrency(text, out)) << text;
    EXPECT_EQ(out.scaled, 42) << text;
  }
}

TEST(CurrencyText, WritesWithoutTrailingZeros) {
  struct Case {
    std::int64_t scaled;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {70000, "7"},
      {5000, "0.5"},
      {-123456, "-12.3456"},
      {1, "0.0001"},
      {-1, "-0.0001"},
      {10010, "1.001"},
      {INT64_MAX, "922337203685477.5807"},
      {INT64_MIN, "-922337203685477.5808"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CurrencyToText(Currency{c.scaled}), c.text);
    Currency back;
    ASSERT_TRUE(TryTextToCurrency(c.text, back));
    EXPECT_EQ(back.scaled, c.scaled);
  }
}

Decimal MakeDecimal(bool negative, std::uint32_t hi, std::uint64_t lo, std::uint8_t scale) {
  Decimal d;
  d.negative = negative;
  d.hi = hi;
  d.lo = lo;
  d.scale = scale;
  return d;
}

TEST(DecimalText, ParsesTheFull96BitRangeExactly) {
  struct Case {
    const char* text;
    Decimal value;
  };
  const Case cases[] = {
      {"0", MakeDecimal(false, 0, 0, 0)},
      {"1.50", MakeDecimal(false, 0, 150, 2)},  // the written scale is kept
      {"-0.001", MakeDecimal(true, 0, 1, 3)},
      {"1e3", MakeDecimal(false, 0, 1000, 0)},
      {"18446744073709551616", MakeDecimal(false, 1, 0, 0)},  // 2^64
      {"79228162514264337593543950335", MakeDecimal(false, 0xFFFFFFFF, UINT64_MAX, 0)},
      {"-7.9228162514264337593543950335", MakeDecimal(true, 0xFFFFFFFF, UINT64_MAX, 28)},
      // 31 digits: the last place is rounded away (half to even), then one more because the
      // 30-digit mantissa is still wider than 96 bits.
      {"7.92281625142643375935439503355", MakeDecimal(false, 0x19999999, 0x999999999999999A, 27)},
      {"0.00000000000000000000000000015", MakeDecimal(false, 0, 2, 28)},
      {"0.00000000000000000000000000005", MakeDecimal(false, 0, 0, 28)},
      {"-0.000000000000000000000000000001", MakeDecimal(false, 0, 0, 28)},
  };
  for (const Case& c : cases) {
    Decimal out;
    ASSERT_TRUE(TryTextToDecimal(c.text, out)) << c.text;
    EXPECT_EQ(out, c.value) << c.text << " -> " << DecimalToText(out);
  }
  const char* bad[] = {"", "x", "79228162514264337593543950336", "-1e29", "1e100", "1..2"};
  for (const char* text : bad) {
    Decimal out;
    EXPECT_FALSE(TryTextToDecimal(text, out)) << text;
  }
}

TEST(DecimalText, WritesExactDigits) {
  struct Case {
    Decimal value;
    const char* text;
  };
  const Case cases[] = {
      {MakeDecimal(false, 0, 0, 0), "0"},
      {MakeDecimal(true, 0, 0, 5), "0"},
      {MakeDecimal(false, 0, 150, 2), "1.5"},
      {MakeDecimal(true, 0, 1, 28), "-0.0000000000000000000000000001"},
      {MakeDecimal(false, 0xFFFFFFFF, UINT64_MAX, 0), "79228162514264337593543950335"},
      {MakeDecimal(false, 0xFFFFFFFF, UINT64_MAX, 28), "7.9228162514264337593543950335"},
      {MakeDecimal(false, 0x19999999, 0x999999999999999A, 27), "7.922816251426433759354395034"},
      {MakeDecimal(false, 1, 0, 10), "1844674407.3709551616"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecimalToText(c.value), c.text);
}

}  // namespace
}  // namespace core

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

#include "core/errors.h"
#include "core/variant.h"

namespace core {
namespace {

Variant Cur(std::int64_t scaled) {
  return Variant::FromCurrency(Currency{scaled});
}
Variant Dec(const char* text) {
  Decimal d;
  EXPECT_TRUE(TryTextToDecimal(text, d)) << text;
  return Variant::FromDecimal(d);
}

// nullopt: the conversion must raise EVariantError.
struct IntCase {
  Variant value;
  std::optional<std::int64_t> expected;
};

void CheckIntegers(const char* target, const std::vector<IntCase>& cases,
                   const std::function<std::int64_t(const Variant&)>& convert) {
  for (const IntCase& c : cases) {
    const std::string label = std::string(target) + " from " +
                              std::to_string(static_cast<int>(c.value.Type())) + " '" +
                              (c.value.IsArray() ? "array" : c.value.ToString()) + "'";
    if (c.expected) {
      try {
        EXPECT_EQ(convert(c.value), *c.expected) << label;
      } catch (const std::exception& e) {
        ADD_FAILURE() << label << " raised " << e.what();
      }
    } else {
      EXPECT_THROW(convert(c.value), EVariantError) << label;
    }
  }
}

TEST(VariantIntegers, RoundHalfToEvenAndRaiseOnOverflow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  CheckIntegers("Long",
                {
                    {2.5, 2},
                    {3.5, 4},
                    {-2.5, -2},
                    {-3.5, -4},
                    {0.5, 0},
                    {1.5, 2},
                    {2.4999999, 2},
                    {2.5000001, 3},
                    {Variant::FromSingle(2.5f), 2},
                    {Variant::FromDate(1.5), 2},
                    {Cur(25000), 2},
                    {Cur(35000), 4},
                    {Cur(15001), 2},
                    {Cur(-25000), -2},
                    {Dec("2.5"), 2},
                    {Dec("-3.5"), -4},
                    {Dec("2.500000000000000000000001"), 3},
                    {"3.7", 4},
                    {"2.5", 2},
                    {" 42 ", 42},
                    {"1e3", 1000},
                    {"-0,5", 0},
                    {true, -1},
                    {false, 0},
                    {Variant(), 0},
                    {2147483647.4, 2147483647},
                    {2147483647.5, std::nullopt},
                    {-2147483648.5, -2147483648LL},
                    {-2147483648.6, std::nullopt},
                    {nan, std::nullopt},
                    {std::numeric_limits<double>::infinity(), std::nullopt},
                    {"abc", std::nullopt},
                    {"", std::nullopt},
                    {Variant::Null(), std::nullopt},
                    {Variant::FromBytes({1}), std::nullopt},
                    {Variant::FromArray({Variant(1)}), std::nullopt},
                },
                [](const Variant& v) { return v.ToLong(); });
  CheckIntegers("Integer",
                {
                    {32767.4, 32767},
                    {32767.5, std::nullopt},
                    {32766.5, 32766},
                    {-32768.5, -32768},
                    {-32768.6, std::nullopt},
                    {Variant(40000), std::nullopt},
                    {Variant::FromByte(200), 200},
                    {true, -1},
                },
                [](const Variant& v) { return v.ToInteger(); });
  CheckIntegers("Byte",
                {
                    {-0.5, 0},
                    {-0.51, std::nullopt},
                    {254.5, 254},
                    {255.5, std::nullopt},
                    {Variant(-1), std::nullopt},
                    {true, 255},  // OLE hands True to an unsigned byte as all ones
                    {"255", 255},
                },
                [](const Variant& v) { return v.ToByte(); });
  CheckIntegers("Int64",
                {
                    {"9223372036854775807", INT64_MAX},  // exact: no detour through a double
                    {"9223372036854775808", std::nullopt},
                    {"-9223372036854775808", INT64_MIN},
                    {Cur(INT64_MAX), 922337203685478},
                    {9.2233720368547758e18, std::nullopt},
                    {-9.2233720368547758e18, INT64_MIN},
                },
                [](const Variant& v) { return v.ToInt64(); });
}

TEST(VariantBoolean, FromWordsNumbersAndBackToNumbers) {
  struct Case {
    Variant value;
    std::optional<bool> expected;
  };
  const Case cases[] = {
      {"True", true},
      {"false", false},
      {"YES", true},
      {"no", false},
      {"On", true},
      {"OFF", false},
      {" true ", true},
      {"1", true},
      {"-1", true},
      {"0", false},
      {"0.0", false},
      {"2.5", true},
      {0.0, false},
      {-0.0, false},
      {0.001, true},
      {Cur(1), true},
      {Cur(0), false},
      {Dec("0.000"), false},
      {Dec("-1"), true},
      {Variant(), false},
      {Variant::FromDate(0.5), true},
      {"maybe", std::nullopt},
      {"", std::nullopt},
      {Variant::Null(), std::nullopt},
      {Variant::FromBytes({}), std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.expected) {
      EXPECT_EQ(c.value.ToBoolean(), *c.expected) << c.value.ToString();
    } else {
      EXPECT_THROW(c.value.ToBoolean(), EVariantError);
    }
  }
  EXPECT_EQ(Variant(true).ToDouble(), -1.0);
  EXPECT_EQ(Variant(true).ToCurrency().scaled, -10000);
  EXPECT_EQ(Variant(false).ToLong(), 0);
  EXPECT_EQ(DecimalToText(Variant(true).ToDecimal()), "-1");
}

TEST(VariantFloats, ExactWherePossibleAndOverflowChecked) {
  struct Case {
    Variant value;
    double expected;
  };
  const Case cases[] = {
      {Cur(1), 0.0001},
      {Cur(INT64_MAX), 922337203685477.5807},
      {Dec("0.1"), 0.1},
      {Dec("-7.9228162514264337593543950335"), -7.9228162514264337593543950335},
      {"1,5", 1.5},
      {" -2.5E3 ", -2500.0},
      {Variant::FromSingle(0.1f), static_cast<double>(0.1f)},
      {Variant::FromDate(36526.5), 36526.5},
      {Variant(7), 7.0},
      {Variant(), 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.ToDouble(), c.expected) << c.value.ToString();
  EXPECT_THROW(Variant("x").ToDouble(), EVariantError);
  EXPECT_THROW(Variant::Null().ToDouble(), EVariantError);

  EXPECT_EQ(Variant("0.1").ToSingle(), 0.1f);  // read as a float, not rounded twice
  EXPECT_EQ(Variant(3.4028235e38).ToSingle(), std::numeric_limits<float>::max());
  EXPECT_THROW(Variant(1e39).ToSingle(), EVariantError);
  EXPECT_THROW(Variant("1e39").ToSingle(), EVariantError);
  EXPECT_THROW(Variant(-1e300).ToSingle(), EVariantError);
}

TEST(VariantCurrency, RoundsTheDecimalValueToFourPlaces) {
  struct Case {
    Variant value;
    std::optional<std::int64_t> scaled;
  };
  const Case cases[] = {
      {0.1, 1000},
      {1.00005, 10000},  // the double's decimal digits tie, so half to even
      {1.00015, 10002},
      {-0.00015, -2},
      {Variant::FromSingle(0.1f), 1000},
      {Variant(5), 50000},
      {"12.34567", 123457},
      {"922337203685477.5807", INT64_MAX},
      {Dec("1.23456"), 12346},
      {Variant::FromDate(2.25), 22500},
      {1e15, std::nullopt},
      {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
      {"12,34,5", std::nullopt},
      {Variant::Null(), std::nullopt},
  };
  for (const Case& c : cases) {
    if (c.scaled) {
      EXPECT_EQ(c.value.ToCurrency().scaled, *c.scaled) << c.value.ToString();
    } else {
      EXPECT_THROW(c.value.ToCurrency(), EVariantError);
    }
  }
}

TEST(VariantDate, AcceptsDateTextsAndNumbersWithinTheYears1To9999) {
  EXPECT_EQ(Variant("2000-01-01 12:00:00").ToDate(), 36526.5);
  EXPECT_EQ(Variant("1/1/2000 12:00 PM").ToDate(), 36526.5);
  EXPECT_EQ(Variant("36526.5").ToDate(), 36526.5);
  EXPECT_EQ(Variant(36526.5).ToDate(), 36526.5);
  EXPECT_EQ(Cur(15000).ToDate(), 1.5);
  EXPECT_EQ(Variant(true).ToDate(), -1.0);
  EXPECT_EQ(Variant::FromDate(-693593.5).ToDate(), -693593.5);
  EXPECT_THROW(Variant(2958466.0).ToDate(), EVariantError);
  EXPECT_THROW(Variant(-693594.0).ToDate(), EVariantError);
  EXPECT_THROW(Variant("junk").ToDate(), EVariantError);
  EXPECT_THROW(Variant::Null().ToDate(), EVariantError);
  EXPECT_DOUBLE_EQ(Variant::FromDate(2.5).ToDouble(), 2.5);
}

TEST(VariantDecimal, FromEachKind) {
  struct Case {
    Variant value;
    const char* text;
    std::uint8_t scale;
  };
  const Case cases[] = {
      {0.1, "0.1", 1},           {Cur(15000), "1.5", 4},  // keeps currency's four places
      {Variant(-7), "-7", 0},    {Variant::FromSingle(0.1f), "0.1", 1},
      {"123.4500", "123.45", 4}, {1e20, "100000000000000000000", 0},
  };
  for (const Case& c : cases) {
    const Decimal d = c.value.ToDecimal();
    EXPECT_EQ(DecimalToText(d), c.text);
    EXPECT_EQ(d.scale, c.scale) << c.text;
  }
  EXPECT_THROW(Variant(1e30).ToDecimal(), EVariantError);
  EXPECT_THROW(Variant("x").ToDecimal(), EVariantError);
}

TEST(VariantText, EveryKindToText) {
  struct Case {
    Variant value;
    std::string text;
  };
  const Case cases[] = {
      {Variant(), ""},
      {Variant::Null(), ""},
      {true, "True"},
      {false, "False"},
      {Variant::FromByte(255), "255"},
      {Variant::FromInteger(-32768), "-32768"},
      {Variant(-2147483647 - 1), "-2147483648"},
      {Cur(-123456), "-12.3456"},
      {Cur(70000), "7"},
      {Variant::FromSingle(0.1f), "0.1"},
      {0.1 + 0.2, "0.30000000000000004"},
      {1e20, "1E+20"},
      {Variant::FromDate(36526.5), "2000-01-01 12:00:00"},
      {Variant::FromDate(0), "1899-12-30"},
      {Dec("-1.2300"), "-1.23"},
      {"Žluťoučký", "Žluťoučký"},
      {Variant::FromBytes({0x41, 0xE9, 0x00, 0xFF}), std::string("A\xC3\xA9\0\xC3\xBF", 6)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.value.ToString(), c.text);
  EXPECT_THROW(Variant::FromArray({Variant(1)}).ToString(), EVariantError);
  EXPECT_THROW(Variant::FromDate(1e9).ToString(), EVariantError);
}

TEST(VariantKinds, TypeCodesAndNumericKinds) {
  struct Case {
    Variant value;
    VarType type;
    bool numeric;
  };
  const Case cases[] = {
      {Variant(), VarType::Empty, false},
      {Variant::Null(), VarType::Null, false},
      {Variant::FromBoolean(true), VarType::Boolean, false},
      {Variant::FromByte(1), VarType::Byte, true},
      {Variant::FromInteger(1), VarType::Integer, true},
      {Variant::FromLong(1), VarType::Long, true},
      {Variant(1), VarType::Long, true},
      {Cur(1), VarType::Currency, true},
      {Variant::FromSingle(1), VarType::Single, true},
      {Variant::FromDouble(1), VarType::Double, true},
      {Variant::FromDate(1), VarType::Date, false},
      {Variant::FromString("1"), VarType::String, false},
      {Dec("1"), VarType::Decimal, true},
      {Variant::FromBytes({1}), VarType::ByteArray, false},
      {Variant::FromArray({}), VarType::Array, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value.Type(), c.type);
    EXPECT_EQ(c.value.IsNumeric(), c.numeric) << static_cast<int>(c.type);
  }
  EXPECT_EQ(static_cast<int>(VarType::Array), 0x200C);
  EXPECT_EQ(static_cast<int>(VarType::ByteArray), 0x2011);
}

TEST(VariantArrays, CopiesAreIndependentAndCompareByElement) {
  Variant a = Variant::FromArray({Variant(1), Variant("x"), Variant::Null()});
  Variant b = a;
  EXPECT_EQ(a, b);
  b.Elements()[0] = Variant(2);
  EXPECT_EQ(a.Elements()[0], Variant(1));  // changing the copy left the original alone
  EXPECT_NE(a, b);
  b.Elements()[0] = Variant(1);
  EXPECT_EQ(a, b);

  const Variant bytes = Variant::FromBytes({1, 2, 3});
  EXPECT_EQ(bytes.Bytes(), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(bytes, Variant::FromBytes({1, 2, 3}));
  EXPECT_NE(bytes, Variant::FromBytes({1, 2}));
  EXPECT_THROW(bytes.Elements(), EVariantError);
  EXPECT_THROW(a.Bytes(), EVariantError);
  EXPECT_THROW(Variant(1).Elements(), EVariantError);

  EXPECT_EQ(Variant::Null(), Variant::Null());
  EXPECT_NE(Variant::Null(), Variant());
  EXPECT_NE(Variant::FromInteger(1), Variant::FromLong(1));  // same value, other kind
  EXPECT_NE(Variant::FromDate(1), Variant::FromDouble(1));
}

TEST(VariantErrors, NameTheValueAndTheTarget) {
  try {
    Variant(32767.5).ToInteger();
    FAIL();
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Overflow converting Double 32767.5 to Integer");
  }
  try {
    Variant("abc").ToLong();
    FAIL();
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Cannot convert String 'abc' to Long");
  }
  try {
    Variant::Null().ToBoolean();
    FAIL();
  } catch (const EVariantError& e) {
    EXPECT_STREQ(e.what(), "Cannot convert Null to Boolean");
  }
}

}  // namespace
}  // namespace core

// The DAO utility routines against their tables: every field type, every DAO code, the
// name table, bracket quoting, date/time text cleaning and time-stamp texts.
#include <gtest/gtest.h>

#include <cmath>

#include "daodb/dao_utils.h"

namespace {

using namespace daodb;
using ds::TFieldType;

TEST(DaoUtils, FieldTypeToDaoTypeForEveryOrdinal) {
  // Expected DAO codes by framework ordinal 0..37.
  const int expected[38] = {1024, 10,   3,    4,    4,     1,    7,    5,    5,    8,
                            8,    8,    15,   12,   40000, 11,   12,   11,   12,   11,
                            11,   11,   1024, 1024, 1024,  1024, 1024, 1024, 1024, 1024,
                            1024, 1024, 1024, 1024, 1024,  1024, 1024, 1024};
  for (int ordinal = 0; ordinal < 38; ++ordinal) {
    SCOPED_TRACE(ordinal);
    EXPECT_EQ(FieldTypeToDaoType(static_cast<TFieldType>(ordinal)), expected[ordinal]);
    // The ordinal is taken modulo 128.
    EXPECT_EQ(FieldTypeToDaoType(static_cast<TFieldType>(ordinal + 128)), expected[ordinal]);
  }
}

TEST(DaoUtils, DaoFieldSizeKeepsTheSizeOfSizedTypesOnly) {
  for (int code : {9, 10, 11, 12, 15, 17, 18}) EXPECT_EQ(DaoFieldSize(code, 20), 20) << code;
  for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 13, 14, 16, 19, 20, 21, 22, 23, 1024, 40000})
    EXPECT_EQ(DaoFieldSize(code, 20), 0) << code;
}

TEST(DaoUtils, DaoTypeToFieldTypeForEveryCode) {
  struct Case {
    int code;
    TFieldType type;
  };
  const Case cases[] = {
      {1, ds::ftBoolean},   {2, ds::ftSmallint},    {3, ds::ftSmallint},   {4, ds::ftInteger},
      {16, ds::ftInteger},  {5, ds::ftCurrency},    {6, ds::ftFloat},      {7, ds::ftFloat},
      {19, ds::ftFloat},    {20, ds::ftFloat},      {21, ds::ftFloat},     {8, ds::ftDate},
      {9, ds::ftBytes},     {15, ds::ftBytes},      {10, ds::ftString},    {18, ds::ftString},
      {11, ds::ftBlob},     {17, ds::ftBlob},       {12, ds::ftMemo},      {22, ds::ftTime},
      {23, ds::ftDateTime}, {40000, ds::ftAutoInc}, {0, ds::ftUnknown},    {13, ds::ftUnknown},
      {14, ds::ftUnknown},  {24, ds::ftUnknown},    {1024, ds::ftUnknown}, {-1, ds::ftUnknown}};
  for (const auto& c : cases) EXPECT_EQ(DaoTypeToFieldType(c.code), c.type) << c.code;
}

TEST(DaoUtils, FieldTypeNames) {
  const char* expected[38] = {"ftUnknown", "ftString",   "ftSmallInt", "ftInteger", "ftWord",
                              "ftBoolean", "ftFloat",    "ftCurrency", "ftBCD",     "ftDate",
                              "ftTime",    "ftDateTime", "ftUnknown",  "ftUnknown", "ftAutoInc",
                              "ftBlob",    "ftMemo"};
  for (int ordinal = 0; ordinal < 38; ++ordinal) {
    std::string want = ordinal < 17 ? expected[ordinal] : "ftUnknown";
    EXPECT_EQ(daodb::FieldTypeName(static_cast<TFieldType>(ordinal)), want) << ordinal;
  }
}

TEST(DaoUtils, BracketName) {
  EXPECT_EQ(BracketName("Name"), "[Name]");
  EXPECT_EQ(BracketName("a.b.c"), "[a].[b].[c]");
  EXPECT_EQ(BracketName("a..b"), "[a].[].[b]");
  EXPECT_EQ(BracketName(".x."), "[].[x].[]");
  EXPECT_EQ(BracketName(""), "[]");
  EXPECT_EQ(BracketName("Jméno zákazníka"), "[Jméno zákazníka]");
}

TEST(DaoUtils, CleanDateTimeText) {
  struct Case {
    const char* text;
    char date;
    const char* expected;
  };
  const Case cases[] = {
      {"", '.', ""},
      {"12.03.2001", '.', "12.03.2001"},
      // A weekday name, extra blanks in the date and two blanks before the time.
      {"Po 12. 03. 2001  14:30:05", '.', "12.03.2001 14:30:05"},
      {"pondělí 12.03.2001 14:30", '.', "12.03.2001 14:30"},
      {"2001-03-12   8:05", '-', "2001-03-12 8:05"},
      {"3/12/2001 2:30:00 PM", '-', "3/12/2001 2:30:00"},
      // The abbreviation dot after "ă" (byte 0xE3 of the Central European code page) goes.
      {"12.3.2001 14:30 hodă.", '.', "12.3.2001 14:30"},
      {"ă.12.3.2001", '.', "12.3.2001"},
      {"  12 . 3 . 2001 ", '.', "12.3.2001"},
      {"14:30", '.', "14:30"},
      {"abc", '.', ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CleanDateTimeText(c.text, {c.date, ':'}), c.expected) << c.text;
  EXPECT_EQ(CleanDateTimeText("2001-03-12  10:00"), "2001-03-12 10:00");
}

TEST(DaoUtils, TimeStampTextToDate) {
  struct Case {
    const char* text;
    double expected;  // NaN: Null
  };
  const double null = std::nan("");
  const Case cases[] = {
      {"730120 43200000", 36526.5},   // 1 January 2000, noon
      {"730119 0", 36525.0},          // 31 December 1999
      {"693594 30600000", 8.5 / 24},  // 08:30 on 30 December 1899
      {"693593 0", -1.0},
      {"730120", null},
      {"", null},
      {"abc 0", null},
      {"730120 12:00", null},
      {"730120 86400000", null},
      {"0 0", null},
      {"1 2 3", null},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    core::Variant v = core::Variant("stale");
    TimeStampTextToDate(c.text, v);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(v.IsNull());
    } else {
      ASSERT_EQ(v.Type(), core::VarType::Date);
      EXPECT_DOUBLE_EQ(v.ToDate(), c.expected);
    }
  }
}

}  // namespace

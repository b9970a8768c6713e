#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/datetime.h"
#include "core/errors.h"

namespace core {
namespace {

// Anchors from Python's date.toordinal(), which counts days the same way (day 1 = 1 January
// of year 1, proleptic Gregorian).
TEST(DayCount, MatchesIndependentOrdinals) {
  struct Case {
    int y, m, d;
    std::int32_t ordinal;
  };
  const Case cases[] = {
      {1, 1, 1, 1},           {1, 12, 31, 365},       {100, 3, 1, 36219},
      {1582, 10, 15, 577736}, {1899, 12, 30, 693594}, {1900, 3, 1, 693655},
      {1970, 1, 1, 719163},   {2000, 2, 29, 730179},  {9999, 12, 31, 3652059},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDay(c.y, c.m, c.d), c.ordinal) << c.y << "-" << c.m << "-" << c.d;
    int y = 0, m = 0, d = 0;
    DecodeDay(c.ordinal, y, m, d);
    EXPECT_EQ((std::array{y, m, d}), (std::array{c.y, c.m, c.d})) << c.ordinal;
  }
  EXPECT_EQ(EncodeDay(1899, 12, 30), kDateDelta);
}

// Walks the calendar one day at a time with a plain counter, so every day of years 1-9999
// is checked against a count that does not come from the conversion under test; each day
// also round-trips through the date-time double at midnight, at its last millisecond and at
// a time that moves through the day.
TEST(DayCount, EveryDayOfYears1To9999RoundTrips) {
  std::int32_t count = 0;
  int failures = 0;
  for (int y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      const int days = DaysInMonth(y, m);
      for (int d = 1; d <= days; ++d) {
        ++count;
        if (EncodeDay(y, m, d) != count && ++failures < 5)
          ADD_FAILURE() << y << "-" << m << "-" << d;
        int yy = 0, mm = 0, dd = 0;
        DecodeDay(count, yy, mm, dd);
        if ((yy != y || mm != m || dd != d) && ++failures < 5) ADD_FAILURE() << count;
        for (std::int32_t ms :
             {0, kMsPerDay - 1,
              static_cast<std::int32_t>((std::int64_t{count} * 7919) % kMsPerDay)}) {
          const TimeStamp stamp{ms, count};
          if (DateTimeToTimeStamp(TimeStampToDateTime(stamp)) != stamp && ++failures < 5)
            ADD_FAILURE() << count << " " << ms;
        }
      }
    }
  }
  EXPECT_EQ(count, 3652059);
  EXPECT_EQ(failures, 0);
}

// Every millisecond of the first and the last day, where the double has the fewest bits left
// for the fraction (and the first day lies on the negative side).
TEST(DateTime, EveryMillisecondOfTheExtremeDaysRoundTrips) {
  for (std::int32_t day : {1, 3652059}) {
    int failures = 0;
    double previous = -std::numeric_limits<double>::infinity();
    for (std::int32_t ms = 0; ms < kMsPerDay; ++ms) {
      const double v = TimeStampToDateTime(TimeStamp{ms, day});
      const TimeStamp back = DateTimeToTimeStamp(v);
      if ((back.Date != day || back.Time != ms) && ++failures < 5)
        ADD_FAILURE() << day << " " << ms;
      // Later times are larger values even where the integer part counts backwards.
      if (!(std::fabs(v - std::trunc(v)) > std::fabs(previous - std::trunc(previous)) || ms == 0) &&
          ++failures < 5)
        ADD_FAILURE() << "not increasing at " << day << " " << ms;
      previous = v;
    }
    EXPECT_EQ(failures, 0) << day;
  }
}

TEST(DateTime, KnownValues) {
  struct Case {
    double value;
    DateParts parts;
  };
  const Case cases[] = {
      {0.0, {1899, 12, 30, 0, 0, 0, 0}},
      {-1.25, {1899, 12, 29, 6, 0, 0, 0}},  // integer part back, fraction forward
      {-0.25, {1899, 12, 30, 6, 0, 0, 0}},
      {1.5, {1899, 12, 31, 12, 0, 0, 0}},
      {2.0, {1900, 1, 1, 0, 0, 0, 0}},
      {36526.5, {2000, 1, 1, 12, 0, 0, 0}},
      {-693593.0, {1, 1, 1, 0, 0, 0, 0}},
      {2958465.0, {9999, 12, 31, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeDateTime(c.value), c.parts) << c.value;
    if (c.value != -0.25) {  // -0.25 and 0.25 are the same moment; parts encode to 0.25
      EXPECT_EQ(EncodeDateTime(c.parts), c.value) << c.value;
    }
  }
  // The record buffers' examples: 1 January 2000 12:00 and a time alone of 08:30.
  EXPECT_EQ(DateTimeToTimeStamp(36526.5), (TimeStamp{43200000, 730120}));
  EXPECT_EQ(DateTimeToTimeStamp(8.5 / 24), (TimeStamp{30600000, 693594}));
}

TEST(DateTime, RoundsToTheNearestMillisecond) {
  struct Case {
    double value;
    TimeStamp stamp;
  };
  const double ms = 1.0 / kMsPerDay;
  const Case cases[] = {
      {1 + 0.4 * ms, {0, 693595}},        {1 + 0.6 * ms, {1, 693595}},
      {1 - 0.1 * ms, {0, 693595}},         // rounds up into the next day
      {-1 - (1 - 0.1 * ms), {0, 693594}},  // 29 Dec at 23:59:59.9999 is 30 Dec midnight
      {-1 - 0.6 * ms, {1, 693593}},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToTimeStamp(c.value), c.stamp) << c.value;
}

TEST(DateTime, RejectsValuesOutsideTheYears1To9999) {
  const double bad_values[] = {-693594.0,
                               -693594.5,
                               2958466.0,
                               2958465.9999999999,
                               1e300,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity()};
  for (double v : bad_values) {
    EXPECT_THROW(DateTimeToTimeStamp(v), EConvertError) << v;
    EXPECT_THROW(FormatDateTimeText(v), EConvertError) << v;
  }
  const TimeStamp bad_stamps[] = {{0, 0}, {0, 3652060}, {-1, 5}, {kMsPerDay, 5}};
  for (const TimeStamp& s : bad_stamps) EXPECT_THROW(TimeStampToDateTime(s), EConvertError);
  EXPECT_THROW(EncodeDay(2001, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDay(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDay(10000, 1, 1), EConvertError);
  EXPECT_THROW(EncodeDay(2000, 13, 1), EConvertError);
  int y, m, d;
  EXPECT_THROW(DecodeDay(0, y, m, d), EConvertError);
  EXPECT_THROW(DecodeDay(3652060, y, m, d), EConvertError);
  EXPECT_THROW(EncodeDateTime(DateParts{2000, 1, 1, 24, 0, 0, 0}), EConvertError);
  EXPECT_THROW(EncodeDateTime(DateParts{1900, 2, 29, 0, 0, 0, 0}), EConvertError);
}

TEST(Calendar, LeapYearsAndMonthLengths) {
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);
  EXPECT_FALSE(IsValidDateParts(DateParts{2023, 4, 31, 0, 0, 0, 0}));
  EXPECT_FALSE(IsValidDateParts(DateParts{2023, 4, 30, 0, 0, 60, 0}));
  EXPECT_TRUE(IsValidDateParts(DateParts{2023, 4, 30, 23, 59, 59, 999}));
}

TEST(DateTimeText, FormatsTheStableForm) {
  struct Case {
    DateParts parts;
    const char* text;
  };
  const Case cases[] = {
      {{2000, 1, 1, 0, 0, 0, 0}, "2000-01-01"},
      {{2000, 1, 1, 12, 0, 0, 0}, "2000-01-01 12:00:00"},
      {{1899, 12, 29, 6, 0, 0, 0}, "1899-12-29 06:00:00"},
      {{1, 1, 1, 0, 0, 0, 1}, "0001-01-01 00:00:00.001"},
      {{9999, 12, 31, 23, 59, 59, 999}, "9999-12-31 23:59:59.999"},
      {{1969, 7, 20, 20, 17, 40, 50}, "1969-07-20 20:17:40.050"},
  };
  for (const Case& c : cases) {
    const double v = EncodeDateTime(c.parts);
    EXPECT_EQ(FormatDateTimeText(v), c.text);
    double back = 0;
    ASSERT_TRUE(TryParseDateTimeText(c.text, back)) << c.text;
    EXPECT_EQ(back, v) << c.text;
  }
}

TEST(DateTimeText, ParsesIsoUsAndTimeAlone) {
  struct Case {
    const char* text;
    DateParts parts;
  };
  const Case cases[] = {
      {"2000-01-01T12:30", {2000, 1, 1, 12, 30, 0, 0}},
      {"2000-01-01 12:30:15.5", {2000, 1, 1, 12, 30, 15, 500}},
      {"  2000-01-01   08:05:00 ", {2000, 1, 1, 8, 5, 0, 0}},
      {"2000-01-01 00:00:00.0004", {2000, 1, 1, 0, 0, 0, 0}},
      {"2000-01-01 23:59:59.9996", {2000, 1, 2, 0, 0, 0, 0}},
      {"1/2/2003", {2003, 1, 2, 0, 0, 0, 0}},
      {"12/31/1999 23:59", {1999, 12, 31, 23, 59, 0, 0}},
      {"12/31/1999 11:59:59 PM", {1999, 12, 31, 23, 59, 59, 0}},
      {"12/31/1999 12:00 am", {1999, 12, 31, 0, 0, 0, 0}},
      {"12/31/1999 12:00PM", {1999, 12, 31, 12, 0, 0, 0}},
      {"2/29/2000 1:02:03.004 AM", {2000, 2, 29, 1, 2, 3, 4}},
      {"08:30", {1899, 12, 30, 8, 30, 0, 0}},
      {"8:30:00 PM", {1899, 12, 30, 20, 30, 0, 0}},
  };
  for (const Case& c : cases) {
    double v = 0;
    ASSERT_TRUE(TryParseDateTimeText(c.text, v)) << c.text;
    EXPECT_EQ(DecodeDateTime(v), c.parts) << c.text;
  }
}

TEST(DateTimeText, RejectsMalformedAndImpossibleTexts) {
  const char* bad[] = {
      "",
      "2000-1-01",
      "2000-01-01x",
      "2000-02-30",
      "0000-01-01",
      "10000-01-01",
      "2000-01-01 24:00",
      "2000-01-01 12:60",
      "2000-01-01 12:30:61",
      "2000-01-01 12:3",
      "2000-01-01 1:30 PM",
      "2000-01-01T",
      "13/1/2000",
      "2/30/2000",
      "1/1/99",
      "1/1/2000 13:00 PM",
      "1/1/2000 0:00 AM",
      "12:30 XM",
      "9999-12-31 23:59:59.9999",
      "1/1/2000 12:00:00.",
      "2000-01-01 12:00:00.1234567890",
      "abc",
      "12",
  };
  for (const char* text : bad) {
    double v = 0;
    EXPECT_FALSE(TryParseDateTimeText(text, v)) << text;
  }
}

}  // namespace
}  // namespace core

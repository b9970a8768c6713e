// Dates and times in the two forms the program uses.
//
// - The date-time double (`TDateTime`, also OLE's DATE and Jet's stored form): days
//   since 30 December 1899, time of day as the fraction. Before 1899-12-30 the integer
//   part counts back while the fraction still counts forward from midnight, so
//   -1.25 is 29 December 1899, 06:00.
// - The time stamp: a day count where day 1 is 1 January of year 1 (proleptic
//   Gregorian) and milliseconds since midnight. Record buffers keep date and time
//   values as the text "<day> <milliseconds>".
// The whole range of years 1 to 9999 converts both ways, to the millisecond.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Days between 1 January of year 1 (day 1) and 30 December 1899 (date-time 0).
inline constexpr std::int32_t kDateDelta = 693594;
inline constexpr std::int32_t kMsPerDay = 86400000;

struct TimeStamp {
  std::int32_t Time = 0;  // milliseconds since midnight
  std::int32_t Date = 0;  // day 1 = 1 January of year 1
  friend bool operator==(TimeStamp a, TimeStamp b) = default;
};

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  friend bool operator==(const DateParts& a, const DateParts& b) = default;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// False when the date or the time is out of range (years 1..9999).
bool IsValidDateParts(const DateParts& parts);

// Day count (day 1 = 1 January of year 1) from a calendar date and back.
// EncodeDay raises EConvertError for an invalid date.
std::int32_t EncodeDay(int year, int month, int day);
void DecodeDay(std::int32_t day_count, int& year, int& month, int& day);

// Date-time double from parts and back; the time rounds to the nearest millisecond (halves
// to even), and a time that rounds up to midnight belongs to the next day. Values outside
// the years 1..9999, NaN and infinities raise EConvertError, as do invalid parts.
double EncodeDateTime(const DateParts& parts);
DateParts DecodeDateTime(double date_time);

// The same conversions in time-stamp form; EConvertError for a stamp whose day is outside
// 1..3652059 or whose time is outside 0..86399999.
TimeStamp DateTimeToTimeStamp(double date_time);
double TimeStampToDateTime(TimeStamp stamp);

// The local time now as a date-time, to the second (a leap second reads as :59).
double LocalNow();

// Stable text of a date-time: "YYYY-MM-DD HH:MM:SS" (".mmm" when there are
// milliseconds); the time part is left out at midnight. EConvertError out of range.
std::string FormatDateTimeText(double date_time);
// Reads the text of FormatDateTimeText, ISO 8601 with a "T", US "M/D/YYYY [h:mm[:ss] [AM|PM]]"
// and a time alone (which falls on 30 December 1899, day 0 of the double). Seconds may carry
// up to 9 fraction digits, rounded to the millisecond. Blanks around the text are ignored;
// anything else that does not fit, or an impossible date or time, gives false.
bool TryParseDateTimeText(std::string_view text, double& out);

}  // namespace core

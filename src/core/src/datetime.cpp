#include "core/datetime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/errors.h"
#include "number_text.h"

namespace core {

namespace {

constexpr std::int32_t kLastDay = 3652059;  // 31 December 9999
// Day 0 of our count (31 December of year 0) is this many days after 1 March of year 0, where
// the 400-year eras below begin.
constexpr std::int64_t kEraShift = 305;

[[noreturn]] void InvalidDateTime(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  throw EConvertError(std::string("Invalid date-time value ") + text +
                      " (outside the years 1 to 9999)");
}

bool InDateRange(double date_time) {
  // Day 1 is date-time -693593 and counts back from 1899-12-30 with the fraction forward,
  // so the whole first day lies in (-693594, -693593].
  return std::isfinite(date_time) && date_time > -693594.0 && date_time < 2958466.0;
}

}  // namespace

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDateParts(const DateParts& p) {
  return p.year >= 1 && p.year <= 9999 && p.month >= 1 && p.month <= 12 && p.day >= 1 &&
         p.day <= DaysInMonth(p.year, p.month) && p.hour >= 0 && p.hour < 24 && p.minute >= 0 &&
         p.minute < 60 && p.second >= 0 && p.second < 60 && p.millisecond >= 0 &&
         p.millisecond < 1000;
}

std::int32_t EncodeDay(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    throw EConvertError("Invalid date " + std::to_string(year) + "-" + std::to_string(month) + "-" +
                        std::to_string(day));
  }
  // Count in eras of 400 years starting on 1 March, so that the leap day ends a year.
  const std::int64_t y = month <= 2 ? year - 1 : year;
  const std::int64_t era = y / 400;
  const std::int64_t year_of_era = y - era * 400;
  const std::int64_t month_from_march = month > 2 ? month - 3 : month + 9;
  const std::int64_t day_of_year = (153 * month_from_march + 2) / 5 + day - 1;
  const std::int64_t day_of_era =
      year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int32_t>(era * 146097 + day_of_era - kEraShift);
}

void DecodeDay(std::int32_t day_count, int& year, int& month, int& day) {
  if (day_count < 1 || day_count > kLastDay) {
    throw EConvertError("Invalid day count " + std::to_string(day_count) +
                        " (outside the years 1 to 9999)");
  }
  const std::int64_t z = std::int64_t{day_count} + kEraShift;
  const std::int64_t era = z / 146097;
  const std::int64_t day_of_era = z - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t mp = (5 * day_of_year + 2) / 153;
  day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(year_of_era + era * 400 + (month <= 2 ? 1 : 0));
}

double TimeStampToDateTime(TimeStamp stamp) {
  if (stamp.Date < 1 || stamp.Date > kLastDay || stamp.Time < 0 || stamp.Time >= kMsPerDay) {
    throw EConvertError("Invalid time stamp " + std::to_string(stamp.Date) + " " +
                        std::to_string(stamp.Time));
  }
  const double days = static_cast<double>(stamp.Date - kDateDelta);
  const double fraction = static_cast<double>(stamp.Time) / kMsPerDay;
  return days >= 0 ? days + fraction : days - fraction;
}

TimeStamp DateTimeToTimeStamp(double date_time) {
  if (!InDateRange(date_time)) InvalidDateTime(date_time);
  const double whole = std::trunc(date_time);
  // The subtraction is exact, so the time is rounded once, from the value itself.
  const double ms = detail::RoundHalfEven(std::fabs(date_time - whole) * kMsPerDay);
  TimeStamp stamp;
  stamp.Date = static_cast<std::int32_t>(whole) + kDateDelta;
  stamp.Time = static_cast<std::int32_t>(ms);
  if (stamp.Time == kMsPerDay) {  // rounded up to the next midnight
    ++stamp.Date;
    stamp.Time = 0;
    if (stamp.Date > kLastDay) InvalidDateTime(date_time);
  }
  return stamp;
}

double EncodeDateTime(const DateParts& parts) {
  if (!IsValidDateParts(parts)) {
    char text[96];
    std::snprintf(text, sizeof text, "Invalid date and time %04d-%02d-%02d %02d:%02d:%02d.%03d",
                  parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.second,
                  parts.millisecond);
    throw EConvertError(text);
  }
  TimeStamp stamp;
  stamp.Date = EncodeDay(parts.year, parts.month, parts.day);
  stamp.Time = ((parts.hour * 60 + parts.minute) * 60 + parts.second) * 1000 + parts.millisecond;
  return TimeStampToDateTime(stamp);
}

DateParts DecodeDateTime(double date_time) {
  const TimeStamp stamp = DateTimeToTimeStamp(date_time);
  DateParts parts;
  DecodeDay(stamp.Date, parts.year, parts.month, parts.day);
  std::int32_t t = stamp.Time;
  parts.millisecond = t % 1000;
  t /= 1000;
  parts.second = t % 60;
  t /= 60;
  parts.minute = t % 60;
  parts.hour = t / 60;
  return parts;
}

std::string FormatDateTimeText(double date_time) {
  const DateParts p = DecodeDateTime(date_time);
  char text[32];
  int n = std::snprintf(text, sizeof text, "%04d-%02d-%02d", p.year, p.month, p.day);
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.millisecond != 0) {
    n += std::snprintf(text + n, sizeof text - n, " %02d:%02d:%02d", p.hour, p.minute, p.second);
    if (p.millisecond != 0) std::snprintf(text + n, sizeof text - n, ".%03d", p.millisecond);
  }
  return text;
}

namespace {

// A small cursor over the date-time text.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}
  bool AtEnd() const { return pos_ == text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  void SkipBlanks() {
    while (Peek() == ' ' || Peek() == '\t') ++pos_;
  }
  // 1..max_digits decimal digits; false when there are none or more than max_digits.
  bool Number(int min_digits, int max_digits, int& value) {
    int n = 0;
    value = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (++n > max_digits) return false;
      value = value * 10 + (text_[pos_++] - '0');
    }
    return n >= min_digits;
  }
  // Fraction digits after a '.', rounded to milliseconds (0..1000).
  bool FractionMs(int& ms) {
    std::string digits;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      digits.push_back(text_[pos_++]);
    }
    if (digits.empty() || digits.size() > 9) return false;
    detail::DecimalDigits n;
    n.digits = digits;
    n.exponent = -static_cast<std::int64_t>(digits.size());
    const std::size_t first = n.digits.find_first_not_of('0');
    n.digits.erase(0, first == std::string::npos ? n.digits.size() : first);
    std::uint64_t scaled = 0;
    detail::RoundToScaled(n, 3, scaled);
    ms = static_cast<int>(scaled);
    return true;
  }
  // "AM"/"PM" in any case; 0 none, 1 AM, 2 PM.
  int Meridiem() {
    if (text_.size() - pos_ < 2) return 0;
    const char a = static_cast<char>(text_[pos_] | 0x20);
    const char m = static_cast<char>(text_[pos_ + 1] | 0x20);
    if (m != 'm' || (a != 'a' && a != 'p')) return 0;
    pos_ += 2;
    return a == 'a' ? 1 : 2;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// h:mm[:ss[.fff]] with an optional AM/PM; the total in milliseconds (may reach a full day
// when the fraction rounds up).
bool ReadTime(Reader& r, bool allow_meridiem, std::int64_t& ms) {
  int hour = 0, minute = 0, second = 0, milli = 0;
  if (!r.Number(1, 2, hour) || !r.Accept(':') || !r.Number(2, 2, minute)) return false;
  if (r.Accept(':')) {
    if (!r.Number(2, 2, second)) return false;
    if (r.Accept('.') && !r.FractionMs(milli)) return false;
  }
  if (allow_meridiem) {
    r.SkipBlanks();
    const int meridiem = r.Meridiem();
    if (meridiem != 0) {
      if (hour < 1 || hour > 12) return false;
      hour = hour % 12 + (meridiem == 2 ? 12 : 0);
    }
  }
  if (hour > 23 || minute > 59 || second > 59) return false;
  ms = ((std::int64_t{hour} * 60 + minute) * 60 + second) * 1000 + milli;
  return true;
}

bool Finish(std::int32_t day, std::int64_t ms, double& out) {
  if (ms >= kMsPerDay) {
    ++day;
    ms -= kMsPerDay;
  }
  if (day < 1 || day > kLastDay) return false;
  out = TimeStampToDateTime(TimeStamp{static_cast<std::int32_t>(ms), day});
  return true;
}

bool ValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

}  // namespace

bool TryParseDateTimeText(std::string_view text, double& out) {
  text = detail::TrimBlanks(text);
  {
    // ISO: YYYY-MM-DD[( |T)hh:mm[:ss[.fff]]]
    Reader r(text);
    int year = 0, month = 0, day = 0;
    if (r.Number(4, 4, year) && r.Accept('-')) {
      if (!r.Number(2, 2, month) || !r.Accept('-') || !r.Number(2, 2, day)) return false;
      if (!ValidDate(year, month, day)) return false;
      std::int64_t ms = 0;
      if (!r.AtEnd()) {
        if (!r.Accept('T')) {
          if (r.Peek() != ' ') return false;
          r.SkipBlanks();
        }
        if (!ReadTime(r, false, ms) || !r.AtEnd()) return false;
      }
      return Finish(EncodeDay(year, month, day), ms, out);
    }
  }
  {
    // US: M/D/YYYY[ h:mm[:ss[.fff]][ AM|PM]]
    Reader r(text);
    int year = 0, month = 0, day = 0;
    if (r.Number(1, 2, month) && r.Accept('/')) {
      if (!r.Number(1, 2, day) || !r.Accept('/') || !r.Number(4, 4, year)) return false;
      if (!ValidDate(year, month, day)) return false;
      std::int64_t ms = 0;
      if (!r.AtEnd()) {
        if (r.Peek() != ' ') return false;
        r.SkipBlanks();
        if (!ReadTime(r, true, ms) || !r.AtEnd()) return false;
      }
      return Finish(EncodeDay(year, month, day), ms, out);
    }
  }
  {
    // A time alone belongs to day 0 (30 December 1899), as OLE keeps it.
    Reader r(text);
    std::int64_t ms = 0;
    if (ReadTime(r, true, ms) && r.AtEnd()) return Finish(kDateDelta, ms, out);
  }
  return false;
}

double LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  DateParts p;
  p.year = local.tm_year + 1900;
  p.month = local.tm_mon + 1;
  p.day = local.tm_mday;
  p.hour = local.tm_hour;
  p.minute = local.tm_min;
  p.second = local.tm_sec < 60 ? local.tm_sec : 59;
  return EncodeDateTime(p);
}

}  // namespace core

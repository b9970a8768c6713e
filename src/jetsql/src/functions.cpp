#include "functions.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/datetime.h"
#include "core/encoding.h"
#include "core/errors.h"
#include "dates.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"
#include "like.h"
#include "values.h"

namespace jetsql::detail {

using core::Variant;
using core::VarType;
using Args = std::vector<Variant>;

namespace {

[[noreturn]] void InvalidCall() {
  ThrowError(dao_error::kInvalidProcedureCall);
}

[[noreturn]] void InvalidNull() {
  ThrowError(dao_error::kInvalidUseOfNull);
}

bool AnyNull(const Args& a) {
  for (const Variant& v : a) {
    if (v.IsNull()) return true;
  }
  return false;
}

// An integer argument (counts, positions): Null is an error, fractions round half to even.
std::int64_t WholeArgument(const Variant& v) {
  if (v.IsNull()) InvalidNull();
  const Variant n = ToNumeric(v);
  const double d = NumberOf(n);
  if (!(d > -2147483648.5 && d < 2147483647.5)) Overflow();
  return RoundHalfEven(d);
}

std::u16string Units(const Variant& v) {
  return core::Utf8ToUtf16(ToText(v));
}

Variant FromUnits(std::u16string_view units) {
  return Variant::FromString(core::Utf16ToUtf8(units));
}

// ---- case mapping ----

char32_t UpperOf(char32_t c) {
  if (c >= U'a' && c <= U'z') return c - 32;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
  if (c == 0xFF) return 0x178;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return (c % 2 == 1) ? c - 1 : c;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 0) ? c - 1 : c;
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

char32_t LowerOf(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c == 0x178) return 0xFF;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return (c % 2 == 0) ? c + 1 : c;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return c + 32;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

std::string MapCase(std::string_view text, char32_t (*map)(char32_t)) {
  const std::u16string units = core::Utf8ToUtf16(text);
  std::u16string out;
  out.reserve(units.size());
  for (char16_t u : units) {
    const char32_t m = (u >= 0xD800 && u <= 0xDFFF) ? u : map(u);
    out += static_cast<char16_t>(m);
  }
  return core::Utf16ToUtf8(out);
}

// ---- dates ----

// The day of a date-time: the integer part, which counts back before 1899-12-30 while the
// fraction counts forward.
double DayOf(double serial) {
  return std::trunc(serial);
}

double TimeOf(double serial) {
  return std::fabs(serial - std::trunc(serial));
}

double MakeSerial(double day, double time_fraction) {
  return day >= 0 ? day + time_fraction : day - time_fraction;
}

core::DateParts PartsOf(const Variant& v) {
  const double serial = ToDateValue(v);
  if (!(serial > -693594.0 && serial < 2958466.0)) Overflow();
  return core::DecodeDateTime(serial);
}

Variant DateResult(double serial) {
  if (!std::isfinite(serial) || serial <= -693594.0 || serial >= 2958466.0) InvalidCall();
  return Variant::FromDate(serial);
}

// Days since 1899-12-30 of the first of a month; months outside 1..12 move the year.
double FirstOfMonth(std::int64_t year, std::int64_t month) {
  year += (month - 1) >= 0 ? (month - 1) / 12 : -((12 - month) / 12);
  month = ((month - 1) % 12 + 12) % 12 + 1;
  if (year < 100 || year > 9999) InvalidCall();
  return static_cast<double>(core::EncodeDay(static_cast<int>(year), static_cast<int>(month), 1) -
                             core::kDateDelta);
}

int WeekdayOf(double serial, int first_day) {
  // 1899-12-30 (day 0) was a Saturday, weekday 7 counted from Sunday.
  const std::int64_t day = static_cast<std::int64_t>(std::floor(serial));
  const int sunday_based = static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
  return ((sunday_based - first_day) % 7 + 7) % 7 + 1;
}

int FirstDayArgument(const Args& a, std::size_t i) {
  if (a.size() <= i || a[i].IsNull()) return 1;
  const std::int64_t d = WholeArgument(a[i]);
  if (d == 0) return 1;  // vbUseSystem: Sunday here
  if (d < 1 || d > 7) InvalidCall();
  return static_cast<int>(d);
}

std::string Interval(const Variant& v) {
  std::string s = LowerText(ToText(v));
  if (s != "yyyy" && s != "q" && s != "m" && s != "y" && s != "d" && s != "w" && s != "ww" &&
      s != "h" && s != "n" && s != "s") {
    InvalidCall();
  }
  return s;
}

Variant AddMonths(double serial, std::int64_t months) {
  const core::DateParts p = core::DecodeDateTime(serial);
  const std::int64_t total = static_cast<std::int64_t>(p.year) * 12 + (p.month - 1) + months;
  const std::int64_t year = total >= 0 ? total / 12 : -((-total + 11) / 12);
  const int month = static_cast<int>(total - year * 12) + 1;
  if (year < 100 || year > 9999) InvalidCall();
  const int day = std::min(p.day, core::DaysInMonth(static_cast<int>(year), month));
  const double days = core::EncodeDay(static_cast<int>(year), month, day) - core::kDateDelta;
  return DateResult(MakeSerial(days, TimeOf(serial)));
}

// Day number where 1 January of `year` is day 1.
int DayOfYear(const core::DateParts& p) {
  return core::EncodeDay(p.year, p.month, p.day) - core::EncodeDay(p.year, 1, 1) + 1;
}

int WeekOfYear(double serial, int first_day, int first_week) {
  const core::DateParts p = core::DecodeDateTime(serial);
  // The week containing 1 January (rule 1), the first with four days (2), the first full
  // week (3).
  auto week_start_of_year = [&](int year) {
    const double jan1 = core::EncodeDay(year, 1, 1) - core::kDateDelta;
    const int offset = WeekdayOf(jan1, first_day) - 1;  // days since the week began
    double start = jan1 - offset;
    if (first_week == 2 && offset >= 4) start += 7;
    if (first_week == 3 && offset > 0) start += 7;
    return start;
  };
  const double day = std::floor(serial);
  double start = week_start_of_year(p.year);
  if (day < start)
    start = week_start_of_year(p.year - 1);
  else if (p.year < 9999 && day >= week_start_of_year(p.year + 1))
    start = week_start_of_year(p.year + 1);
  return static_cast<int>((day - start) / 7) + 1;
}

// ---- the functions ----

Variant FnAbs(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  const Variant n = ToNumeric(a[0]);
  const std::optional<int> sign = CompareValues(n, Variant::FromLong(0));
  return sign && *sign < 0 ? Negate(n) : n;
}

Variant RoundToWhole(const Variant& in, bool floor_mode) {
  if (in.IsNull()) return in;
  const Variant n = ToNumeric(in);
  auto op = [&](double d) { return floor_mode ? std::floor(d) : std::trunc(d); };
  switch (n.Type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return n;
    case VarType::Single:
      return Variant::FromSingle(static_cast<float>(op(n.ToDouble())));
    case VarType::Currency: {
      const std::int64_t s = n.ToCurrency().scaled;
      std::int64_t whole = s / 10000;
      if (floor_mode && s % 10000 < 0) --whole;
      return Variant::FromCurrency(core::Currency{whole * 10000});
    }
    case VarType::Date:
      return Variant::FromDate(op(n.ToDouble()));
    case VarType::Decimal:
      return Variant::FromDecimal(Variant::FromDouble(op(n.ToDouble())).ToDecimal());
    default:
      return Variant::FromDouble(op(NumberOf(n)));
  }
}

Variant FnInt(const Args& a, const CallContext&) {
  return RoundToWhole(a[0], true);
}

Variant FnFix(const Args& a, const CallContext&) {
  return RoundToWhole(a[0], false);
}

Variant FnSgn(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  const double d = NumberOf(ToNumeric(a[0]));
  return Variant::FromInteger(static_cast<std::int16_t>(d < 0 ? -1 : (d > 0 ? 1 : 0)));
}

Variant FnRound(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  std::int64_t places = 0;
  if (a.size() > 1 && !a[1].IsNull()) places = WholeArgument(a[1]);
  if (places < 0 || places > 22) InvalidCall();
  const Variant n = ToNumeric(a[0]);
  switch (n.Type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return n;
    case VarType::Currency: {
      if (places >= 4) return n;
      std::int64_t unit = 1;
      for (std::int64_t i = places; i < 4; ++i) unit *= 10;
      const std::int64_t s = n.ToCurrency().scaled;
      const double q = std::nearbyint(static_cast<double>(s) / static_cast<double>(unit));
      return Variant::FromCurrency(core::Currency{static_cast<std::int64_t>(q) * unit});
    }
    default: {
      const double scale = std::pow(10.0, static_cast<double>(places));
      const double d = NumberOf(n);
      double r = std::nearbyint(d * scale) / scale;
      if (!std::isfinite(r)) r = d;
      if (n.Type() == VarType::Single) return Variant::FromSingle(static_cast<float>(r));
      if (n.Type() == VarType::Date) return Variant::FromDate(r);
      if (n.Type() == VarType::Decimal)
        return Variant::FromDecimal(Variant::FromDouble(r).ToDecimal());
      return Variant::FromDouble(r);
    }
  }
}

Variant FnVal(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  // Blanks, tabs and line feeds are dropped wherever they stand; reading stops at the first
  // character that cannot continue the number.
  std::string s;
  for (char c : ToText(a[0])) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s += c;
  }
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h' || s[1] == 'O' || s[1] == 'o')) {
    const int base = (s[1] == 'H' || s[1] == 'h') ? 16 : 8;
    std::uint64_t v = 0;
    std::size_t i = 2;
    for (; i < s.size(); ++i) {
      const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
      int digit = -1;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (base == 16 && c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      if (digit < 0 || digit >= base) break;
      v = v * base + static_cast<std::uint64_t>(digit);
      if (v > 0xFFFFFFFFull) Overflow();
    }
    // Up to 16 bits read as Integer, up to 32 as Long, both signed.
    std::int64_t out = static_cast<std::int64_t>(v);
    if (v <= 0xFFFF && i - 2 <= (base == 16 ? 4u : 6u)) {
      out = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
    } else {
      out = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    return Variant::FromDouble(static_cast<double>(out));
  }
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t k = i + 1;
    if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
    if (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) {
      s[i] = 'E';
      while (k < s.size() && std::isdigit(static_cast<unsigned char>(s[k]))) ++k;
      i = k;
    }
  }
  const std::string number = s.substr(0, i);
  double d = 0;
  if (!ParseNumber(number, d)) d = 0;
  return Variant::FromDouble(d);
}

Variant FnStr(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  const Variant n = a[0].Type() == VarType::Date ? a[0] : ToNumeric(a[0]);
  std::string text =
      ToText(n.Type() == VarType::Boolean ? Variant::FromInteger(n.ToBoolean() ? -1 : 0) : n);
  if (text.empty() || text[0] != '-') text.insert(text.begin(), ' ');
  return Variant::FromString(text);
}

Variant FnCStr(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  return Variant::FromString(ToText(a[0]));
}

Variant FnCVar(const Args& a, const CallContext&) {
  return a[0];
}

std::int64_t ConvertWhole(const Variant& v, std::int64_t lo, std::int64_t hi) {
  if (v.IsNull()) InvalidNull();
  Variant n = v;
  if (n.Type() == VarType::String) {
    double d = 0;
    if (!ParseNumber(n.ToString(), d)) {
      if (!ParseDateText(n.ToString(), d)) TypeMismatch();
    }
    n = Variant::FromDouble(d);
  }
  n = ToNumeric(n);
  double d = NumberOf(n);
  if (n.Type() == VarType::Currency) d = static_cast<double>(n.ToCurrency().scaled) / 10000.0;
  if (!(d > static_cast<double>(lo) - 0.5 && d < static_cast<double>(hi) + 0.5)) Overflow();
  const std::int64_t r = RoundHalfEven(d);
  if (r < lo || r > hi) Overflow();
  return r;
}

Variant FnCByte(const Args& a, const CallContext&) {
  return Variant::FromByte(static_cast<std::uint8_t>(ConvertWhole(a[0], 0, 255)));
}

Variant FnCInt(const Args& a, const CallContext&) {
  return Variant::FromInteger(static_cast<std::int16_t>(ConvertWhole(a[0], INT16_MIN, INT16_MAX)));
}

Variant FnCLng(const Args& a, const CallContext&) {
  return Variant::FromLong(static_cast<std::int32_t>(ConvertWhole(a[0], INT32_MIN, INT32_MAX)));
}

Variant NumberArgument(const Variant& v) {
  if (v.IsNull()) InvalidNull();
  if (v.Type() == VarType::String) {
    double d = 0;
    if (ParseNumber(v.ToString(), d)) return Variant::FromDouble(d);
    if (ParseDateText(v.ToString(), d)) return Variant::FromDouble(d);
    TypeMismatch();
  }
  return ToNumeric(v);
}

Variant FnCDbl(const Args& a, const CallContext&) {
  const Variant n = NumberArgument(a[0]);
  return Variant::FromDouble(NumberOf(n));
}

Variant FnCSng(const Args& a, const CallContext&) {
  const Variant n = NumberArgument(a[0]);
  const double d = NumberOf(n);
  if (std::fabs(d) > 3.402823466e38) Overflow();
  return Variant::FromSingle(static_cast<float>(d));
}

Variant FnCCur(const Args& a, const CallContext&) {
  Variant n = a[0];
  if (n.IsNull()) InvalidNull();
  if (n.Type() == VarType::String) {
    core::Currency c;
    const std::string text = n.ToString();
    double d = 0;
    if (!ParseNumber(text, d)) {
      if (!ParseDateText(text, d)) TypeMismatch();
      n = Variant::FromDouble(d);
    } else {
      std::string trimmed(text);
      while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
      while (!trimmed.empty() && trimmed.front() == ' ') trimmed.erase(0, 1);
      if (core::TryTextToCurrency(trimmed, c)) return Variant::FromCurrency(c);
      Overflow();
    }
  }
  try {
    return Variant::FromCurrency(ToNumeric(n).ToCurrency());
  } catch (const core::Exception&) {
    Overflow();
  }
}

Variant FnCDec(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  try {
    if (a[0].Type() == VarType::String) return Variant::FromDecimal(a[0].ToDecimal());
    return Variant::FromDecimal(ToNumeric(a[0]).ToDecimal());
  } catch (const SqlError&) {
    throw;
  } catch (const core::Exception&) {
    TypeMismatch();
  }
}

Variant FnCDate(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  return DateResult(ToDateValue(a[0]));
}

Variant FnCVDate(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  return DateResult(ToDateValue(a[0]));
}

Variant FnCBool(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  if (a[0].Type() == VarType::String) {
    double d = 0;
    if (ParseNumber(a[0].ToString(), d)) return Variant::FromBoolean(d != 0);
    try {
      return Variant::FromBoolean(a[0].ToBoolean());
    } catch (const core::Exception&) {
      TypeMismatch();
    }
  }
  return Variant::FromBoolean(NumberOf(ToNumeric(a[0])) != 0);
}

Variant FnIsNull(const Args& a, const CallContext&) {
  return Variant::FromBoolean(a[0].IsNull());
}

Variant FnIsEmpty(const Args& a, const CallContext&) {
  return Variant::FromBoolean(a[0].IsEmpty());
}

Variant FnIsNumeric(const Args& a, const CallContext&) {
  const VarType t = a[0].Type();
  if (t == VarType::String) {
    double d = 0;
    return Variant::FromBoolean(ParseNumber(a[0].ToString(), d));
  }
  return Variant::FromBoolean(t != VarType::Null && t != VarType::Date && IsNumericKind(t));
}

Variant FnIsDate(const Args& a, const CallContext&) {
  if (a[0].Type() == VarType::Date) return Variant::FromBoolean(true);
  if (a[0].Type() != VarType::String) return Variant::FromBoolean(false);
  double d = 0;
  return Variant::FromBoolean(ParseDateText(a[0].ToString(), d));
}

Variant FnLCase(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  return Variant::FromString(LowerText(ToText(a[0])));
}

Variant FnUCase(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  return Variant::FromString(UpperText(ToText(a[0])));
}

Variant FnLeft(const Args& a, const CallContext&) {
  const std::int64_t n = WholeArgument(a[1]);
  if (n < 0) InvalidCall();
  if (a[0].IsNull()) return a[0];
  const std::u16string s = Units(a[0]);
  return FromUnits(std::u16string_view(s).substr(0, static_cast<std::size_t>(n)));
}

Variant FnRight(const Args& a, const CallContext&) {
  const std::int64_t n = WholeArgument(a[1]);
  if (n < 0) InvalidCall();
  if (a[0].IsNull()) return a[0];
  const std::u16string s = Units(a[0]);
  const std::size_t take =
      static_cast<std::size_t>(n) < s.size() ? static_cast<std::size_t>(n) : s.size();
  return FromUnits(std::u16string_view(s).substr(s.size() - take));
}

Variant FnMid(const Args& a, const CallContext&) {
  const std::int64_t start = WholeArgument(a[1]);
  if (start < 1) InvalidCall();
  std::int64_t length = -1;
  if (a.size() > 2) {
    length = WholeArgument(a[2]);
    if (length < 0) InvalidCall();
  }
  if (a[0].IsNull()) return a[0];
  const std::u16string s = Units(a[0]);
  if (static_cast<std::size_t>(start) > s.size()) return Variant::FromString("");
  const std::u16string_view rest =
      std::u16string_view(s).substr(static_cast<std::size_t>(start - 1));
  return FromUnits(length < 0 ? rest : rest.substr(0, static_cast<std::size_t>(length)));
}

Variant FnLen(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  return Variant::FromLong(static_cast<std::int32_t>(Units(a[0]).size()));
}

Variant Trimmed(const Variant& v, bool left, bool right) {
  if (v.IsNull()) return v;
  std::string s = ToText(v);
  std::size_t b = 0, e = s.size();
  if (left) {
    while (b < e && s[b] == ' ') ++b;
  }
  if (right) {
    while (e > b && s[e - 1] == ' ') --e;
  }
  return Variant::FromString(s.substr(b, e - b));
}

Variant FnTrim(const Args& a, const CallContext&) {
  return Trimmed(a[0], true, true);
}
Variant FnLTrim(const Args& a, const CallContext&) {
  return Trimmed(a[0], true, false);
}
Variant FnRTrim(const Args& a, const CallContext&) {
  return Trimmed(a[0], false, true);
}

// Text search: `binary` compares code units, otherwise characters by the sort order.
std::size_t Find(std::u16string_view haystack, std::u16string_view needle, std::size_t from,
                 bool binary) {
  if (needle.empty()) return from;
  for (std::size_t i = from; i + needle.size() <= haystack.size(); ++i) {
    bool match = true;
    for (std::size_t k = 0; k < needle.size() && match; ++k) {
      match = binary ? haystack[i + k] == needle[k] : SameCharacter(haystack[i + k], needle[k]);
    }
    if (match) return i;
  }
  return std::u16string_view::npos;
}

bool BinaryCompareArgument(const Args& a, std::size_t i) {
  if (a.size() <= i) return false;  // the database's (text) comparison by default
  if (a[i].IsNull()) InvalidNull();
  const std::int64_t mode = WholeArgument(a[i]);
  if (mode < -1 || mode > 2) InvalidCall();
  return mode == 0;
}

Variant FnInStr(const Args& a, const CallContext&) {
  std::size_t first = 0;
  std::int64_t start = 1;
  bool binary = false;
  if (a.size() >= 3) {
    if (a[0].IsNull()) InvalidNull();
    start = WholeArgument(a[0]);
    if (start < 1) InvalidCall();
    first = 1;
    binary = BinaryCompareArgument(a, 3);
  }
  const Variant& s1 = a[first];
  const Variant& s2 = a[first + 1];
  if (s1.IsNull() || s2.IsNull()) return Variant::Null();
  const std::u16string hay = Units(s1), needle = Units(s2);
  if (static_cast<std::size_t>(start) > hay.size()) return Variant::FromLong(0);
  const std::size_t at = Find(hay, needle, static_cast<std::size_t>(start - 1), binary);
  return Variant::FromLong(at == std::u16string_view::npos ? 0 : static_cast<std::int32_t>(at + 1));
}

Variant FnStrComp(const Args& a, const CallContext&) {
  if (a[0].IsNull() || a[1].IsNull()) return Variant::Null();
  const bool binary = BinaryCompareArgument(a, 2);
  int c = 0;
  if (binary) {
    const std::u16string x = Units(a[0]), y = Units(a[1]);
    c = x < y ? -1 : (y < x ? 1 : 0);
  } else {
    c = CompareText(ToText(a[0]), ToText(a[1]));
  }
  return Variant::FromInteger(static_cast<std::int16_t>(c));
}

Variant FnReplace(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  if (a[1].IsNull() || a[2].IsNull()) InvalidNull();
  std::int64_t start = 1, count = -1;
  if (a.size() > 3) start = WholeArgument(a[3]);
  if (a.size() > 4) count = WholeArgument(a[4]);
  if (start < 1 || count < -1) InvalidCall();
  const bool binary = a.size() > 5 ? BinaryCompareArgument(a, 5) : true;
  const std::u16string s = Units(a[0]), find = Units(a[1]), with = Units(a[2]);
  if (static_cast<std::size_t>(start) > s.size()) return Variant::FromString("");
  std::u16string out;
  std::size_t pos = static_cast<std::size_t>(start - 1);
  std::int64_t done = 0;
  while (!find.empty() && (count < 0 || done < count)) {
    const std::size_t at = Find(s, find, pos, binary);
    if (at == std::u16string_view::npos) break;
    out.append(s, pos, at - pos);
    out += with;
    CheckTextLength(out.size());
    pos = at + find.size();
    ++done;
  }
  out.append(s, pos, std::u16string::npos);
  return FromUnits(out);
}

Variant FnSpace(const Args& a, const CallContext&) {
  const std::int64_t n = WholeArgument(a[0]);
  if (n < 0) InvalidCall();
  CheckTextLength(static_cast<std::size_t>(n));
  return Variant::FromString(std::string(static_cast<std::size_t>(n), ' '));
}

Variant FnString(const Args& a, const CallContext&) {
  const std::int64_t n = WholeArgument(a[0]);
  if (n < 0) InvalidCall();
  CheckTextLength(static_cast<std::size_t>(n));
  if (a[1].IsNull()) return a[1];
  char16_t unit = 0;
  if (a[1].Type() == VarType::String) {
    const std::u16string s = Units(a[1]);
    if (s.empty()) InvalidCall();
    unit = s[0];
  } else {
    const std::int64_t code = WholeArgument(a[1]);
    unit = static_cast<char16_t>(((code % 256) + 256) % 256);
  }
  return FromUnits(std::u16string(static_cast<std::size_t>(n), unit));
}

Variant FnAsc(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  const std::u16string s = Units(a[0]);
  if (s.empty()) InvalidCall();
  if (s[0] < 0x80) return Variant::FromInteger(static_cast<std::int16_t>(s[0]));
  // Characters of the Windows ANSI page give its byte, as VBA's Asc does.
  const std::string byte = core::EncodeFromUtf8(1252, core::Utf16ToUtf8(s.substr(0, 1)));
  return Variant::FromInteger(static_cast<std::int16_t>(static_cast<unsigned char>(byte[0])));
}

Variant FnAscW(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  const std::u16string s = Units(a[0]);
  if (s.empty()) InvalidCall();
  return Variant::FromInteger(static_cast<std::int16_t>(s[0]));
}

Variant FnChr(const Args& a, const CallContext&) {
  const std::int64_t code = WholeArgument(a[0]);
  if (code < 0 || code > 255) InvalidCall();
  const std::string byte(1, static_cast<char>(code));
  return Variant::FromString(core::DecodeToUtf8(1252, byte));
}

Variant FnChrW(const Args& a, const CallContext&) {
  const std::int64_t code = WholeArgument(a[0]);
  if (code < -32768 || code > 65535) InvalidCall();
  return FromUnits(std::u16string(1, static_cast<char16_t>(code & 0xFFFF)));
}

Variant RadixText(const Variant& v, int base) {
  if (v.IsNull()) return v;
  std::int64_t n = WholeArgument(v);
  std::uint64_t u = n < 0 ? static_cast<std::uint32_t>(static_cast<std::int32_t>(n))
                          : static_cast<std::uint64_t>(n);
  if (n < 0 && n >= INT16_MIN && v.Type() == VarType::Integer) u &= 0xFFFF;
  char buf[32];
  std::snprintf(buf, sizeof buf, base == 16 ? "%llX" : "%llo", static_cast<unsigned long long>(u));
  return Variant::FromString(buf);
}

Variant FnHex(const Args& a, const CallContext&) {
  return RadixText(a[0], 16);
}
Variant FnOct(const Args& a, const CallContext&) {
  return RadixText(a[0], 8);
}

Variant MathFn(const Args& a, double (*fn)(double), bool positive_only, bool non_negative) {
  if (a[0].IsNull()) return a[0];
  const double d = NumberOf(ToNumeric(a[0]));
  if ((positive_only && d <= 0) || (non_negative && d < 0)) InvalidCall();
  const double r = fn(d);
  if (!std::isfinite(r)) Overflow();
  return Variant::FromDouble(r);
}

Variant FnSqr(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::sqrt(d); }, false, true);
}
Variant FnExp(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::exp(d); }, false, false);
}
Variant FnLog(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::log(d); }, true, false);
}
Variant FnSin(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::sin(d); }, false, false);
}
Variant FnCos(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::cos(d); }, false, false);
}
Variant FnTan(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::tan(d); }, false, false);
}
Variant FnAtn(const Args& a, const CallContext&) {
  return MathFn(
      a, [](double d) { return std::atan(d); }, false, false);
}

Variant FnNow(const Args&, const CallContext& c) {
  return Variant::FromDate(c.now);
}
Variant FnDate(const Args&, const CallContext& c) {
  return Variant::FromDate(DayOf(c.now));
}
Variant FnTime(const Args&, const CallContext& c) {
  return Variant::FromDate(TimeOf(c.now));
}
Variant FnTimer(const Args&, const CallContext& c) {
  return Variant::FromSingle(static_cast<float>(TimeOf(c.now) * 86400.0));
}

Variant DatePartOf(const Variant& v, int which) {
  if (v.IsNull()) return v;
  const core::DateParts p = PartsOf(v);
  const int values[6] = {p.year, p.month, p.day, p.hour, p.minute, p.second};
  return Variant::FromInteger(static_cast<std::int16_t>(values[which]));
}

Variant FnYear(const Args& a, const CallContext&) {
  return DatePartOf(a[0], 0);
}
Variant FnMonth(const Args& a, const CallContext&) {
  return DatePartOf(a[0], 1);
}
Variant FnDay(const Args& a, const CallContext&) {
  return DatePartOf(a[0], 2);
}
Variant FnHour(const Args& a, const CallContext&) {
  return DatePartOf(a[0], 3);
}
Variant FnMinute(const Args& a, const CallContext&) {
  return DatePartOf(a[0], 4);
}
Variant FnSecond(const Args& a, const CallContext&) {
  return DatePartOf(a[0], 5);
}

Variant FnWeekday(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  const double serial = ToDateValue(a[0]);
  return Variant::FromInteger(static_cast<std::int16_t>(WeekdayOf(serial, FirstDayArgument(a, 1))));
}

Variant FnDateValue(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  return DateResult(DayOf(ToDateValue(a[0])));
}

Variant FnTimeValue(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return a[0];
  return DateResult(TimeOf(ToDateValue(a[0])));
}

Variant FnDateSerial(const Args& a, const CallContext&) {
  if (AnyNull(a)) InvalidNull();
  std::int64_t y = WholeArgument(a[0]);
  const std::int64_t m = WholeArgument(a[1]);
  const std::int64_t d = WholeArgument(a[2]);
  for (std::int64_t v : {y, m, d}) {
    if (v < INT16_MIN || v > INT16_MAX) Overflow();
  }
  if (y >= 0 && y <= 29)
    y += 2000;
  else if (y >= 30 && y <= 99)
    y += 1900;
  return DateResult(FirstOfMonth(y, m) + static_cast<double>(d - 1));
}

Variant FnTimeSerial(const Args& a, const CallContext&) {
  if (AnyNull(a)) InvalidNull();
  const std::int64_t h = WholeArgument(a[0]), n = WholeArgument(a[1]), s = WholeArgument(a[2]);
  for (std::int64_t v : {h, n, s}) {
    if (v < INT16_MIN || v > INT16_MAX) Overflow();
  }
  const std::int64_t total = h * 3600 + n * 60 + s;
  const std::int64_t days = total >= 0 ? total / 86400 : -((-total + 86399) / 86400);
  const double fraction = static_cast<double>(total - days * 86400) / 86400.0;
  return DateResult(MakeSerial(static_cast<double>(days), fraction));
}

// A date-time as days on a straight line (the fraction always counts forward) and back.
double Linear(double serial) {
  return DayOf(serial) + TimeOf(serial);
}

Variant FromLinear(double linear) {
  const double day = std::floor(linear);
  return DateResult(MakeSerial(day, linear - day));
}

Variant FnDateAdd(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  const std::string interval = Interval(a[0]);
  if (a[1].IsNull() || a[2].IsNull()) return Variant::Null();
  const std::int64_t n = WholeArgument(a[1]);
  const double serial = ToDateValue(a[2]);
  if (interval == "yyyy") return AddMonths(serial, n * 12);
  if (interval == "q") return AddMonths(serial, n * 3);
  if (interval == "m") return AddMonths(serial, n);
  std::int64_t seconds = 0;
  if (interval == "y" || interval == "d" || interval == "w")
    seconds = n * 86400;
  else if (interval == "ww")
    seconds = n * 7 * 86400;
  else if (interval == "h")
    seconds = n * 3600;
  else if (interval == "n")
    seconds = n * 60;
  else
    seconds = n;
  const double start = std::nearbyint(Linear(serial) * 86400.0);
  return FromLinear((start + static_cast<double>(seconds)) / 86400.0);
}

Variant FnDateDiff(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  const std::string interval = Interval(a[0]);
  if (a[1].IsNull() || a[2].IsNull()) return Variant::Null();
  const double s1 = ToDateValue(a[1]), s2 = ToDateValue(a[2]);
  const int first_day = FirstDayArgument(a, 3);
  const core::DateParts p1 = core::DecodeDateTime(s1), p2 = core::DecodeDateTime(s2);
  const auto day_number = [](const core::DateParts& p) {
    return static_cast<std::int64_t>(core::EncodeDay(p.year, p.month, p.day));
  };
  const auto seconds = [&](const core::DateParts& p) {
    return day_number(p) * 86400 + p.hour * 3600 + p.minute * 60 + p.second;
  };
  std::int64_t r = 0;
  if (interval == "yyyy") {
    r = p2.year - p1.year;
  } else if (interval == "q") {
    r = (p2.year * 4 + (p2.month - 1) / 3) - (p1.year * 4 + (p1.month - 1) / 3);
  } else if (interval == "m") {
    r = (p2.year * 12 + p2.month) - (p1.year * 12 + p1.month);
  } else if (interval == "y" || interval == "d") {
    r = day_number(p2) - day_number(p1);
  } else if (interval == "w") {
    r = (day_number(p2) - day_number(p1)) / 7;
  } else if (interval == "ww") {
    // Week starts crossed between the two dates.
    auto week_start = [&](const core::DateParts& p) {
      const std::int64_t day = day_number(p);
      const double serial = static_cast<double>(day - core::kDateDelta);
      return day - (WeekdayOf(serial, first_day) - 1);
    };
    r = (week_start(p2) - week_start(p1)) / 7;
  } else if (interval == "h") {
    r = (day_number(p2) * 24 + p2.hour) - (day_number(p1) * 24 + p1.hour);
  } else if (interval == "n") {
    r = (day_number(p2) * 1440 + p2.hour * 60 + p2.minute) -
        (day_number(p1) * 1440 + p1.hour * 60 + p1.minute);
  } else {
    r = seconds(p2) - seconds(p1);
  }
  if (r < INT32_MIN || r > INT32_MAX) Overflow();
  return Variant::FromLong(static_cast<std::int32_t>(r));
}

Variant FnDatePart(const Args& a, const CallContext&) {
  if (a[0].IsNull()) InvalidNull();
  const std::string interval = Interval(a[0]);
  if (a[1].IsNull()) return Variant::Null();
  const double serial = ToDateValue(a[1]);
  const core::DateParts p = core::DecodeDateTime(serial);
  const int first_day = FirstDayArgument(a, 2);
  int first_week = 1;
  if (a.size() > 3 && !a[3].IsNull()) {
    first_week = static_cast<int>(WholeArgument(a[3]));
    if (first_week == 0) first_week = 1;
    if (first_week < 1 || first_week > 3) InvalidCall();
  }
  int r = 0;
  if (interval == "yyyy")
    r = p.year;
  else if (interval == "q")
    r = (p.month - 1) / 3 + 1;
  else if (interval == "m")
    r = p.month;
  else if (interval == "y")
    r = DayOfYear(p);
  else if (interval == "d")
    r = p.day;
  else if (interval == "w")
    r = WeekdayOf(serial, first_day);
  else if (interval == "ww")
    r = WeekOfYear(serial, first_day, first_week);
  else if (interval == "h")
    r = p.hour;
  else if (interval == "n")
    r = p.minute;
  else
    r = p.second;
  return Variant::FromInteger(static_cast<std::int16_t>(r));
}

Variant FnSwitch(const Args& a, const CallContext&) {
  if (a.size() % 2 != 0) InvalidCall();
  for (std::size_t i = 0; i + 1 < a.size(); i += 2) {
    if (IsTrue(a[i])) return a[i + 1];
  }
  return Variant::Null();
}

Variant FnChoose(const Args& a, const CallContext&) {
  if (a[0].IsNull()) return Variant::Null();
  const double d = NumberOf(ToNumeric(a[0]));
  const std::int64_t i = static_cast<std::int64_t>(std::trunc(d));
  if (i < 1 || static_cast<std::size_t>(i) >= a.size()) return Variant::Null();
  return a[static_cast<std::size_t>(i)];
}

constexpr int kMany = 64;

constexpr FunctionInfo kFunctions[] = {
    {"Abs", 1, 1, FnAbs, false},
    {"Asc", 1, 1, FnAsc, false},
    {"AscW", 1, 1, FnAscW, false},
    {"Atn", 1, 1, FnAtn, false},
    {"CBool", 1, 1, FnCBool, false},
    {"CByte", 1, 1, FnCByte, false},
    {"CCur", 1, 1, FnCCur, false},
    {"CDate", 1, 1, FnCDate, false},
    {"CDbl", 1, 1, FnCDbl, false},
    {"CDec", 1, 1, FnCDec, false},
    {"Choose", 2, kMany, FnChoose, false},
    {"Chr", 1, 1, FnChr, false},
    {"ChrW", 1, 1, FnChrW, false},
    {"CInt", 1, 1, FnCInt, false},
    {"CLng", 1, 1, FnCLng, false},
    {"Cos", 1, 1, FnCos, false},
    {"CSng", 1, 1, FnCSng, false},
    {"CStr", 1, 1, FnCStr, false},
    {"CVar", 1, 1, FnCVar, false},
    {"CVDate", 1, 1, FnCVDate, false},
    {"Date", 0, 0, FnDate, true},
    {"DateAdd", 3, 3, FnDateAdd, false},
    {"DateDiff", 3, 5, FnDateDiff, false},
    {"DatePart", 2, 4, FnDatePart, false},
    {"DateSerial", 3, 3, FnDateSerial, false},
    {"DateValue", 1, 1, FnDateValue, false},
    {"Day", 1, 1, FnDay, false},
    {"Exp", 1, 1, FnExp, false},
    {"Fix", 1, 1, FnFix, false},
    {"Hex", 1, 1, FnHex, false},
    {"Hour", 1, 1, FnHour, false},
    {"InStr", 2, 4, FnInStr, false},
    {"Int", 1, 1, FnInt, false},
    {"IsDate", 1, 1, FnIsDate, false},
    {"IsEmpty", 1, 1, FnIsEmpty, false},
    {"IsNull", 1, 1, FnIsNull, false},
    {"IsNumeric", 1, 1, FnIsNumeric, false},
    {"LCase", 1, 1, FnLCase, false},
    {"Left", 2, 2, FnLeft, false},
    {"Len", 1, 1, FnLen, false},
    {"Log", 1, 1, FnLog, false},
    {"LTrim", 1, 1, FnLTrim, false},
    {"Mid", 2, 3, FnMid, false},
    {"Minute", 1, 1, FnMinute, false},
    {"Month", 1, 1, FnMonth, false},
    {"Now", 0, 0, FnNow, true},
    {"Oct", 1, 1, FnOct, false},
    {"Replace", 3, 6, FnReplace, false},
    {"Right", 2, 2, FnRight, false},
    {"Round", 1, 2, FnRound, false},
    {"RTrim", 1, 1, FnRTrim, false},
    {"Second", 1, 1, FnSecond, false},
    {"Sgn", 1, 1, FnSgn, false},
    {"Sin", 1, 1, FnSin, false},
    {"Space", 1, 1, FnSpace, false},
    {"Sqr", 1, 1, FnSqr, false},
    {"Str", 1, 1, FnStr, false},
    {"StrComp", 2, 3, FnStrComp, false},
    {"String", 2, 2, FnString, false},
    {"Switch", 2, kMany, FnSwitch, false},
    {"Tan", 1, 1, FnTan, false},
    {"Time", 0, 0, FnTime, true},
    {"Timer", 0, 0, FnTimer, true},
    {"TimeSerial", 3, 3, FnTimeSerial, false},
    {"TimeValue", 1, 1, FnTimeValue, false},
    {"Trim", 1, 1, FnTrim, false},
    {"UCase", 1, 1, FnUCase, false},
    {"Val", 1, 1, FnVal, false},
    {"Weekday", 1, 2, FnWeekday, false},
    {"Year", 1, 1, FnYear, false},
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

const FunctionInfo* FindFunction(std::string_view name) {
  // VBA's string functions also come with a "$" suffix (Left$, Mid$); they take the same
  // arguments here.
  if (!name.empty() && name.back() == '$') name.remove_suffix(1);
  for (const FunctionInfo& f : kFunctions) {
    if (SameName(f.name, name)) return &f;
  }
  return nullptr;
}

double CurrentDateTime() {
  const std::time_t now = std::time(nullptr);
  // Criteria are evaluated row by row; the local time only changes once a second.
  thread_local std::time_t cached_at = -1;
  thread_local double cached = 0;
  if (now == cached_at) return cached;
  cached = core::LocalNow();
  cached_at = now;
  return cached;
}

std::string UpperText(std::string_view text) {
  return MapCase(text, UpperOf);
}

std::string LowerText(std::string_view text) {
  return MapCase(text, LowerOf);
}

}  // namespace jetsql::detail

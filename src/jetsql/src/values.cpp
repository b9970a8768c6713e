#include "values.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/encoding.h"
#include "core/errors.h"
#include "dates.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"

namespace jetsql::detail {

using core::Variant;
using core::VarType;

void Overflow() {
  ThrowError(dao_error::kOverflow);
}

void TypeMismatch() {
  ThrowError(dao_error::kTypeMismatch);
}

void CheckTextLength(std::size_t length) {
  if (length > kMaxTextLength) ThrowError(dao_error::kOutOfStringSpace);
}

namespace {

// Ranks of the numeric types for + and -: the result takes the higher one.
enum Rank : int {
  kRankByte = 0,
  kRankInteger,
  kRankLong,
  kRankSingle,
  kRankDouble,
  kRankCurrency,
  kRankDecimal,
};

int RankOf(VarType t) {
  switch (t) {
    case VarType::Byte:
      return kRankByte;
    case VarType::Empty:
    case VarType::Boolean:
    case VarType::Integer:
      return kRankInteger;
    case VarType::Long:
      return kRankLong;
    case VarType::Single:
      return kRankSingle;
    case VarType::Currency:
      return kRankCurrency;
    case VarType::Decimal:
      return kRankDecimal;
    default:
      return kRankDouble;
  }
}

bool IsIntegral(VarType t) {
  return t == VarType::Byte || t == VarType::Integer || t == VarType::Long ||
         t == VarType::Boolean || t == VarType::Empty;
}

std::int64_t IntegralOf(const Variant& v) {
  if (v.Type() == VarType::Boolean) return v.ToBoolean() ? -1 : 0;
  if (v.Type() == VarType::Empty) return 0;
  return v.ToInt64();
}

std::int64_t ScaledOf(const Variant& v) {
  if (v.Type() == VarType::Currency) return v.ToCurrency().scaled;
  if (IsIntegral(v.Type())) return IntegralOf(v) * 10000;
  try {
    return v.ToCurrency().scaled;  // floats are made Currency (four places) first
  } catch (const core::Exception&) {
    Overflow();
  }
}

// The smallest integer type at or above `rank` that holds r; Double beyond Long.
Variant IntegerResult(std::int64_t r, int rank) {
  if (rank <= kRankByte && r >= 0 && r <= 255)
    return Variant::FromByte(static_cast<std::uint8_t>(r));
  if (rank <= kRankInteger && r >= INT16_MIN && r <= INT16_MAX) {
    return Variant::FromInteger(static_cast<std::int16_t>(r));
  }
  if (r >= INT32_MIN && r <= INT32_MAX) return Variant::FromLong(static_cast<std::int32_t>(r));
  return Variant::FromDouble(static_cast<double>(r));
}

Variant DoubleResult(double r) {
  if (!std::isfinite(r)) Overflow();
  return Variant::FromDouble(r);
}

Variant SingleResult(double r) {
  if (!std::isfinite(r)) Overflow();
  if (std::fabs(r) > FLT_MAX) return Variant::FromDouble(r);
  return Variant::FromSingle(static_cast<float>(r));
}

Variant CurrencyResult(__int128 scaled) {
  if (scaled > INT64_MAX || scaled < INT64_MIN) Overflow();
  return Variant::FromCurrency(core::Currency{static_cast<std::int64_t>(scaled)});
}

Variant DecimalResult(double r) {
  if (!std::isfinite(r)) Overflow();
  try {
    return Variant::FromDecimal(Variant::FromDouble(r).ToDecimal());
  } catch (const core::Exception&) {
    Overflow();
  }
}

// Rounds a scaled product or quotient back to four places, halves to even.
__int128 RoundScaled(__int128 value, __int128 divisor) {
  __int128 q = value / divisor;
  __int128 r = value % divisor;
  if (r < 0) r = -r;
  const __int128 twice = 2 * r;
  const bool negative = (value < 0) != (divisor < 0);
  if (twice > (divisor < 0 ? -divisor : divisor) ||
      (twice == (divisor < 0 ? -divisor : divisor) && (q % 2 != 0))) {
    q += negative ? -1 : 1;
  }
  return q;
}

// Decimal values compared exactly through their digit texts.
int CompareDecimalText(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s, bool& negative, std::string& whole, std::string& frac) {
    std::string_view v = s;
    negative = !v.empty() && v[0] == '-';
    if (negative) v.remove_prefix(1);
    const std::size_t dot = v.find('.');
    whole = std::string(v.substr(0, dot));
    frac = dot == std::string_view::npos ? std::string() : std::string(v.substr(dot + 1));
    while (!whole.empty() && whole[0] == '0') whole.erase(0, 1);
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    if (whole.empty() && frac.empty()) negative = false;
  };
  bool na, nb;
  std::string wa, fa, wb, fb;
  split(a, na, wa, fa);
  split(b, nb, wb, fb);
  if (na != nb) return na ? -1 : 1;
  int magnitude = 0;
  if (wa.size() != wb.size()) {
    magnitude = wa.size() < wb.size() ? -1 : 1;
  } else if (wa != wb) {
    magnitude = wa < wb ? -1 : 1;
  } else if (fa != fb) {
    magnitude = fa < fb ? -1 : 1;
  }
  return na ? -magnitude : magnitude;
}

template <typename T>
int Three(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareNumbers(const Variant& a, const Variant& b) {
  const VarType ta = a.Type(), tb = b.Type();
  if (ta == VarType::Decimal || tb == VarType::Decimal) {
    return CompareDecimalText(core::DecimalToText(a.ToDecimal()),
                              core::DecimalToText(b.ToDecimal()));
  }
  if (IsIntegral(ta) && IsIntegral(tb)) return Three(IntegralOf(a), IntegralOf(b));
  if (ta == VarType::Currency || tb == VarType::Currency) {
    const Variant& other = ta == VarType::Currency ? b : a;
    const bool currency_first = ta == VarType::Currency;
    if (IsIntegral(other.Type()) || other.Type() == VarType::Currency) {
      return Three(ScaledOf(a), ScaledOf(b));
    }
    // A float against Currency is first made Currency.
    const double d = NumberOf(other) * 10000.0;
    if (std::fabs(d) < 9.2e18) {
      const std::int64_t scaled = RoundHalfEven(d);
      const std::int64_t cur = (currency_first ? a : b).ToCurrency().scaled;
      return currency_first ? Three(cur, scaled) : Three(scaled, cur);
    }
    return Three(NumberOf(a), NumberOf(b));
  }
  // Single against Double: the Double is rounded to Single precision first.
  if ((ta == VarType::Single && tb == VarType::Double) ||
      (ta == VarType::Double && tb == VarType::Single)) {
    return Three(static_cast<float>(NumberOf(a)), static_cast<float>(NumberOf(b)));
  }
  return Three(NumberOf(a), NumberOf(b));
}

std::string GuidText(const std::vector<std::uint8_t>& b) {
  char buf[40];
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return buf;
}

int CompareBytes(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return Three(a.size(), b.size());
}

// Operand of a logical operator: nothing for Null, else its bits and whether it was Boolean.
struct LogicOperand {
  bool null = false;
  bool boolean = false;
  std::int64_t bits = 0;
};

LogicOperand LogicOf(const Variant& v) {
  LogicOperand out;
  switch (v.Type()) {
    case VarType::Null:
    case VarType::Empty:
      out.null = v.IsNull();
      return out;
    case VarType::Boolean:
      out.boolean = true;
      out.bits = v.ToBoolean() ? -1 : 0;
      return out;
    case VarType::String: {
      const std::string text = v.ToString();
      double d = 0;
      if (ParseNumber(text, d)) {
        out.bits = RoundHalfEven(d);
        return out;
      }
      try {
        out.bits = v.ToBoolean() ? -1 : 0;
        out.boolean = true;
        return out;
      } catch (const core::Exception&) {
        TypeMismatch();
      }
    }
    case VarType::ByteArray:
    case VarType::Array:
      TypeMismatch();
    default: {
      const double d = NumberOf(v);
      if (!(d >= INT32_MIN - 0.5 && d < INT32_MAX + 0.5)) Overflow();
      out.bits = RoundHalfEven(d);
      return out;
    }
  }
}

Variant LogicResult(std::int64_t bits, bool boolean) {
  if (boolean) return Variant::FromBoolean(bits != 0);
  return IntegerResult(bits, kRankInteger);
}

}  // namespace

// ---- conversions ----

bool IsNumericKind(VarType t) {
  switch (t) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
    case VarType::Decimal:
    case VarType::Boolean:
    case VarType::Date:
    case VarType::Empty:
      return true;
    default:
      return false;
  }
}

double NumberOf(const Variant& v) {
  switch (v.Type()) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      return v.ToBoolean() ? -1 : 0;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return static_cast<double>(v.ToInt64());
    case VarType::Currency:
      return static_cast<double>(v.ToCurrency().scaled) / 10000.0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
    case VarType::Decimal:
      return v.ToDouble();
    default:
      TypeMismatch();
  }
}

std::int64_t RoundHalfEven(double v) {
  const double r = std::nearbyint(v);  // the default rounding mode rounds halves to even
  if (!(r >= -9.2e18 && r <= 9.2e18)) Overflow();
  return static_cast<std::int64_t>(r);
}

bool ParseNumber(std::string_view text, double& out) {
  std::size_t i = 0;
  auto blank = [&](std::size_t k) {
    return k < text.size() &&
           (text[k] == ' ' || text[k] == '\t' || text[k] == '\r' || text[k] == '\n');
  };
  while (blank(i)) ++i;
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t k = i + 1;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) ++k;
    if (k < text.size() && text[k] >= '0' && text[k] <= '9') {
      while (k < text.size() && text[k] >= '0' && text[k] <= '9') ++k;
      i = k;
    }
  }
  const std::size_t end = i;
  while (blank(i)) ++i;
  if (i != text.size()) return false;
  const std::string number(text.substr(start, end - start));
  out = std::strtod(number.c_str(), nullptr);
  return std::isfinite(out);
}

std::string FormatDouble(double value, int significant_digits) {
  if (value == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", significant_digits, value);
  return buf;
}

std::string ToText(const Variant& v) {
  switch (v.Type()) {
    case VarType::Null:
    case VarType::Empty:
      return std::string();
    case VarType::Single:
      return FormatDouble(v.ToDouble(), 7);
    case VarType::Double:
      return FormatDouble(v.ToDouble(), 15);
    case VarType::Date:
      return FormatGeneralDate(v.ToDouble());
    default:
      return v.ToString();
  }
}

double ToDateValue(const Variant& v) {
  if (v.Type() == VarType::String) {
    const std::string text = v.ToString();
    double out = 0;
    if (ParseDateText(text, out) || ParseNumber(text, out)) return out;
    TypeMismatch();
  }
  if (!IsNumericKind(v.Type())) TypeMismatch();
  return NumberOf(v);
}

Variant ToNumeric(const Variant& v) {
  switch (v.Type()) {
    case VarType::String: {
      double d = 0;
      if (!ParseNumber(v.ToString(), d)) TypeMismatch();
      return Variant::FromDouble(d);
    }
    case VarType::Boolean:
      return Variant::FromInteger(v.ToBoolean() ? -1 : 0);
    case VarType::Empty:
      return Variant::FromInteger(0);
    case VarType::ByteArray:
    case VarType::Array:
    case VarType::Null:
      TypeMismatch();
    default:
      return v;
  }
}

// ---- comparison ----

std::optional<int> CompareValues(const Variant& a, const Variant& b, bool left_literal,
                                 bool right_literal) {
  if (a.IsNullOrEmpty() || b.IsNullOrEmpty()) return std::nullopt;
  const VarType ta = a.Type(), tb = b.Type();
  const bool na = IsNumericKind(ta), nb = IsNumericKind(tb);
  if (na && nb) return CompareNumbers(a, b);
  const bool sa = ta == VarType::String, sb = tb == VarType::String;
  if (sa && sb) return CompareText(a.ToString(), b.ToString());
  if ((sa && nb) || (na && sb)) {
    const Variant& text = sa ? a : b;
    const Variant& number = sa ? b : a;
    const bool number_literal = sa ? right_literal : left_literal;
    const bool text_literal = sa ? left_literal : right_literal;
    if (number_literal && !text_literal) {
      // A text column against a constant number compares as text.
      const int c = CompareText(text.ToString(), ToText(number));
      return sa ? c : -c;
    }
    Variant converted;
    if (number.Type() == VarType::Date) {
      converted = Variant::FromDate(ToDateValue(text));
    } else {
      converted = ToNumeric(text);
    }
    const int c = CompareNumbers(converted, number);
    return sa ? c : -c;
  }
  const bool ba = ta == VarType::ByteArray, bb = tb == VarType::ByteArray;
  if (ba && bb) return CompareBytes(a.Bytes(), b.Bytes());
  if ((ba && sb) || (sa && bb)) {
    // A GUID against its text form; other bytes against text holding one character per
    // byte, the form binary values take in record buffers and criteria.
    const Variant& bytes = ba ? a : b;
    const Variant& text = ba ? b : a;
    int c = 0;
    std::vector<std::uint8_t> as_bytes;
    const std::string t = text.ToString();
    if (bytes.Bytes().size() == 16 && t.size() == 38 && t.front() == '{') {
      c = CompareText(GuidText(bytes.Bytes()), t);
    } else {
      for (char32_t cp : core::Utf8ToUtf16(t)) {
        if (cp > 0xFF) return ba ? -1 : 1;  // no byte string spells this text
        as_bytes.push_back(static_cast<std::uint8_t>(cp));
      }
      c = CompareBytes(bytes.Bytes(), as_bytes);
    }
    return ba ? c : -c;
  }
  TypeMismatch();
}

Variant ComparisonResult(Op op, std::optional<int> order) {
  if (!order) return Variant::Null();
  const int c = *order;
  switch (op) {
    case Op::kEq:
      return Variant::FromBoolean(c == 0);
    case Op::kNe:
      return Variant::FromBoolean(c != 0);
    case Op::kLt:
      return Variant::FromBoolean(c < 0);
    case Op::kLe:
      return Variant::FromBoolean(c <= 0);
    case Op::kGt:
      return Variant::FromBoolean(c > 0);
    case Op::kGe:
      return Variant::FromBoolean(c >= 0);
    default:
      return Variant::Null();
  }
}

// ---- arithmetic ----

Variant Arithmetic(Op op, const Variant& a_in, const Variant& b_in) {
  if (a_in.IsNull() || b_in.IsNull()) return Variant::Null();
  if (op == Op::kAdd && a_in.Type() == VarType::String && b_in.Type() == VarType::String) {
    std::string joined = a_in.ToString() + b_in.ToString();
    CheckTextLength(joined.size());
    return Variant::FromString(std::move(joined));
  }
  const Variant a = ToNumeric(a_in);
  const Variant b = ToNumeric(b_in);
  const VarType ta = a.Type(), tb = b.Type();
  const bool date_a = ta == VarType::Date, date_b = tb == VarType::Date;

  if ((op == Op::kAdd || op == Op::kSub) && (date_a || date_b)) {
    const double r = op == Op::kAdd ? NumberOf(a) + NumberOf(b) : NumberOf(a) - NumberOf(b);
    if (op == Op::kSub && date_a && date_b) return DoubleResult(r);
    if (!std::isfinite(r) || r <= -693594.0 || r >= 2958466.0) Overflow();
    return Variant::FromDate(r);
  }

  const int ra = RankOf(date_a ? VarType::Double : ta);
  const int rb = RankOf(date_b ? VarType::Double : tb);

  switch (op) {
    case Op::kAdd:
    case Op::kSub: {
      int rank = ra > rb ? ra : rb;
      if (rank == kRankSingle && (ra == kRankLong || rb == kRankLong)) rank = kRankDouble;
      if (rank <= kRankLong) {
        const std::int64_t x = IntegralOf(a), y = IntegralOf(b);
        return IntegerResult(op == Op::kAdd ? x + y : x - y, rank);
      }
      if (rank == kRankCurrency) {
        const __int128 x = ScaledOf(a);
        const __int128 y = ScaledOf(b);
        return CurrencyResult(op == Op::kAdd ? x + y : x - y);
      }
      const double r = op == Op::kAdd ? NumberOf(a) + NumberOf(b) : NumberOf(a) - NumberOf(b);
      if (rank == kRankDecimal) return DecimalResult(r);
      if (rank == kRankSingle) return SingleResult(r);
      return DoubleResult(r);
    }
    case Op::kMul: {
      // For * Currency ranks below Double.
      auto mul_rank = [](int r) {
        return r == kRankCurrency ? 35 : (r == kRankDouble ? 40 : r * 10);
      };
      const int ma = mul_rank(ra), mb = mul_rank(rb);
      int m = ma > mb ? ma : mb;
      if (m == kRankSingle * 10 && (ra == kRankLong || rb == kRankLong)) m = 40;
      if (m <= kRankLong * 10) {
        const __int128 r = static_cast<__int128>(IntegralOf(a)) * IntegralOf(b);
        if (r > INT64_MAX || r < INT64_MIN) return DoubleResult(NumberOf(a) * NumberOf(b));
        return IntegerResult(static_cast<std::int64_t>(r), m / 10);
      }
      if (m == 35) {
        const __int128 x = ScaledOf(a), y = ScaledOf(b);
        return CurrencyResult(RoundScaled(x * y, 10000));
      }
      const double r = NumberOf(a) * NumberOf(b);
      if (m == kRankDecimal * 10) return DecimalResult(r);
      if (m == kRankSingle * 10) return SingleResult(r);
      return DoubleResult(r);
    }
    case Op::kDiv: {
      const double y = NumberOf(b);
      const double x = NumberOf(a);
      if (y == 0) {
        if (x == 0) Overflow();
        ThrowError(dao_error::kDivisionByZero);
      }
      const double r = x / y;
      if (ra == kRankDecimal || rb == kRankDecimal) return DecimalResult(r);
      const auto small = [](int r) {
        return r == kRankByte || r == kRankInteger || r == kRankSingle;
      };
      if (small(ra) && small(rb) && !date_a && !date_b) return SingleResult(r);
      return DoubleResult(r);
    }
    case Op::kIntDiv:
    case Op::kMod: {
      // Both sides are rounded to whole numbers first; the result keeps the narrower integer
      // type when both were integers, Long otherwise.
      const auto whole = [](const Variant& v) -> std::int64_t {
        if (IsIntegral(v.Type())) return IntegralOf(v);
        const double d = NumberOf(v);
        if (!(d > INT32_MIN - 0.5 && d < INT32_MAX + 0.5)) Overflow();
        return RoundHalfEven(d);
      };
      const std::int64_t x = whole(a), y = whole(b);
      if (y == 0) ThrowError(dao_error::kDivisionByZero);
      const std::int64_t r = op == Op::kIntDiv ? x / y : x % y;
      const int rank = (ra <= kRankLong && rb <= kRankLong) ? (ra > rb ? ra : rb) : kRankLong;
      const Variant out = IntegerResult(r, rank);
      if (out.Type() == VarType::Double) Overflow();
      return out;
    }
    case Op::kPow: {
      const double x = NumberOf(a), y = NumberOf(b);
      if (x < 0 && y != std::floor(y)) ThrowError(dao_error::kInvalidProcedureCall);
      if (x == 0 && y < 0) ThrowError(dao_error::kDivisionByZero);
      return DoubleResult(std::pow(x, y));
    }
    default:
      TypeMismatch();
  }
}

Variant Negate(const Variant& in) {
  if (in.IsNull()) return in;
  const Variant a = ToNumeric(in);
  switch (a.Type()) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return IntegerResult(-a.ToInt64(),
                           RankOf(a.Type()) > kRankInteger ? kRankLong : kRankInteger);
    case VarType::Single:
      return Variant::FromSingle(static_cast<float>(-a.ToDouble()));
    case VarType::Currency:
      return CurrencyResult(-static_cast<__int128>(a.ToCurrency().scaled));
    case VarType::Date: {
      const double r = -a.ToDouble();
      if (r <= -693594.0 || r >= 2958466.0) Overflow();
      return Variant::FromDate(r);
    }
    case VarType::Decimal: {
      core::Decimal d = a.ToDecimal();
      if (d.lo != 0 || d.hi != 0) d.negative = !d.negative;
      return Variant::FromDecimal(d);
    }
    default:
      return DoubleResult(-NumberOf(a));
  }
}

Variant Concatenate(const Variant& a, const Variant& b) {
  if (a.IsNull() && b.IsNull()) return Variant::Null();
  if (a.IsArray() && a.Type() != VarType::ByteArray) TypeMismatch();
  if (b.IsArray() && b.Type() != VarType::ByteArray) TypeMismatch();
  std::string joined = ToText(a) + ToText(b);
  CheckTextLength(joined.size());
  return Variant::FromString(std::move(joined));
}

// ---- logic ----

Variant Logic(Op op, const Variant& a_in, const Variant& b_in) {
  const LogicOperand a = LogicOf(a_in);
  const LogicOperand b = LogicOf(b_in);
  const bool boolean = (a.null || a.boolean) && (b.null || b.boolean);
  if (a.null && b.null) return Variant::Null();
  switch (op) {
    case Op::kAnd:
      if (a.null) return b.bits == 0 ? LogicResult(0, boolean) : Variant::Null();
      if (b.null) return a.bits == 0 ? LogicResult(0, boolean) : Variant::Null();
      return LogicResult(a.bits & b.bits, boolean);
    case Op::kOr:
      if (a.null) return b.bits == -1 ? LogicResult(-1, boolean) : Variant::Null();
      if (b.null) return a.bits == -1 ? LogicResult(-1, boolean) : Variant::Null();
      return LogicResult(a.bits | b.bits, boolean);
    case Op::kXor:
      if (a.null || b.null) return Variant::Null();
      return LogicResult(a.bits ^ b.bits, boolean);
    case Op::kEqv:
      if (a.null || b.null) return Variant::Null();
      return LogicResult(~(a.bits ^ b.bits), boolean);
    case Op::kImp:
      if (a.null) return b.bits == -1 ? LogicResult(-1, boolean) : Variant::Null();
      if (b.null) return a.bits == 0 ? LogicResult(-1, boolean) : Variant::Null();
      return LogicResult(~a.bits | b.bits, boolean);
    default:
      TypeMismatch();
  }
}

Variant LogicalNot(const Variant& in) {
  const LogicOperand a = LogicOf(in);
  if (a.null) return Variant::Null();
  return LogicResult(~a.bits, a.boolean);
}

bool IsTrue(const Variant& v) {
  switch (v.Type()) {
    case VarType::Null:
    case VarType::Empty:
      return false;
    case VarType::Boolean:
      return v.ToBoolean();
    case VarType::String: {
      const std::string text = v.ToString();
      double d = 0;
      if (ParseNumber(text, d)) return d != 0;
      try {
        return v.ToBoolean();
      } catch (const core::Exception&) {
        // A text that is neither a number nor a truth word counts as true.
        return !text.empty();
      }
    }
    case VarType::ByteArray:
    case VarType::Array:
      TypeMismatch();
    default:
      return NumberOf(v) != 0;
  }
}

}  // namespace jetsql::detail

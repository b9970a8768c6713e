// Texts of floats, currency and decimals: the forms record buffers and criteria keep.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

#include "core/errors.h"
#include "core/variant.h"
#include "number_text.h"

namespace core {

namespace {

using detail::DecimalDigits;

// Significant digits and decimal exponent of a finite non-zero value written by to_chars in
// scientific form ("d.ddde+xx"): value = 0.d1d2... * 10^(exponent + 1).
struct SciDigits {
  std::string digits;  // no trailing zeros
  int exponent = 0;    // of the first digit
};

SciDigits SplitScientific(const char* begin, const char* end) {
  SciDigits out;
  const char* p = begin;
  if (*p == '-') ++p;
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') out.digits.push_back(*p);
  }
  if (p != end) std::from_chars(p + 1 + (p[1] == '+'), end, out.exponent);
  const std::size_t last = out.digits.find_last_not_of('0');
  out.digits.erase(last == std::string::npos ? 1 : last + 1);
  return out;
}

// Fixed notation from the smallest value shown as 0.00001 up to below 1e15; scientific
// ("1.5E+20", "1E-6") outside it.
std::string Layout(bool negative, const SciDigits& sci) {
  std::string out;
  if (negative) out.push_back('-');
  const std::string& d = sci.digits;
  const int e = sci.exponent;
  if (e >= -5 && e < 15) {
    if (e >= 0) {
      const std::size_t int_len = static_cast<std::size_t>(e) + 1;
      if (d.size() <= int_len) {
        out.append(d);
        out.append(int_len - d.size(), '0');
      } else {
        out.append(d, 0, int_len);
        out.push_back('.');
        out.append(d, int_len);
      }
    } else {
      out.append("0.");
      out.append(static_cast<std::size_t>(-e - 1), '0');
      out.append(d);
    }
    return out;
  }
  out.push_back(d[0]);
  if (d.size() > 1) {
    out.push_back('.');
    out.append(d, 1);
  }
  out.push_back('E');
  out.push_back(e < 0 ? '-' : '+');
  out.append(std::to_string(e < 0 ? -e : e));
  return out;
}

// `short_digits` significant digits when they read back to the same value, otherwise the
// shortest form that does.
template <typename T>
std::string ShortestText(T value, int short_digits) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return std::signbit(value) ? "-0" : "0";
  char buffer[64];
  auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                         short_digits - 1);
  T back{};
  std::from_chars(buffer, r.ptr, back);
  if (back != value)
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  return Layout(value < 0, SplitScientific(buffer, r.ptr));
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return true;
}

template <typename T>
bool ParseFloating(std::string_view text, T& out) {
  text = detail::TrimBlanks(text);
  {
    std::string_view word = text;
    bool negative = false;
    if (!word.empty() && (word[0] == '+' || word[0] == '-')) {
      negative = word[0] == '-';
      word.remove_prefix(1);
    }
    if (EqualsNoCase(word, "NAN")) {
      out = std::numeric_limits<T>::quiet_NaN();
      return true;
    }
    if (EqualsNoCase(word, "INF") || EqualsNoCase(word, "INFINITY")) {
      out = negative ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
      return true;
    }
  }
  detail::NumberParts parts;
  if (!detail::SplitNumber(text, parts)) return false;
  // The usual short text goes to from_chars as it stands, with ',' read as '.'.
  const std::string_view body = parts.unsigned_text;
  if (body.size() <= 64) {
    char buffer[64];
    for (std::size_t i = 0; i < body.size(); ++i) buffer[i] = body[i] == ',' ? '.' : body[i];
    T value{};
    const auto r = std::from_chars(buffer, buffer + body.size(), value);
    if (r.ec == std::errc() && r.ptr == buffer + body.size()) {
      out = parts.negative ? -value : value;
      return true;
    }
  }
  DecimalDigits n;
  detail::ScanDecimal(text, n);
  if (n.digits.empty()) {
    out = n.negative ? -T(0) : T(0);
    return true;
  }
  std::string normal = n.digits;
  normal.push_back('e');
  normal.append(std::to_string(n.exponent));
  T value{};
  const auto r = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (r.ec == std::errc::result_out_of_range) {
    // Below the smallest subnormal a value reads as zero; above the largest it is an error.
    const std::int64_t magnitude = static_cast<std::int64_t>(n.digits.size()) + n.exponent;
    if (magnitude > 0) return false;
    value = T(0);
  } else if (r.ec != std::errc() || r.ptr != normal.data() + normal.size()) {
    return false;
  }
  out = n.negative ? -value : value;
  return true;
}

}  // namespace

std::string FloatToText(double value) {
  return ShortestText(value, 15);
}

// The shortest text of a value with a few decimals is the fewest decimals k at which
// value × 10^k is a whole number m that reads back, m / 10^k == value. Where m < 10^15 the
// doubles near the value lie less than a quarter of 10^-k apart, so m is the only k-decimal
// number that reads back as the value, and no shorter one does (a smaller k was tried first).
bool FewDecimalsFloatText(double value, std::string& out) {
  static constexpr double kScale[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6};
  const double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-5 && magnitude < 1e15)) return false;
  for (int k = 0; k < static_cast<int>(std::size(kScale)); ++k) {
    const double scaled = magnitude * kScale[k];
    if (scaled >= 1e15) return false;
    // scaled lies within a quarter of m when m reads back, so adding a half and cutting off
    // the fraction finds it.
    const auto m = static_cast<std::uint64_t>(scaled + 0.5);
    if (static_cast<double>(m) / kScale[k] != magnitude) continue;
    char digits[24];
    const char* first = digits;
    const char* end = std::to_chars(digits, digits + sizeof digits, m).ptr;
    const auto n = static_cast<int>(end - first);
    char text[40];
    char* at = text;
    if (value < 0) *at++ = '-';
    if (n <= k) {  // 0.000ddd
      *at++ = '0';
      *at++ = '.';
      at = std::fill_n(at, k - n, '0');
      at = std::copy(first, end, at);
    } else {
      at = std::copy(first, end - k, at);
      if (k > 0) {
        *at++ = '.';
        at = std::copy(end - k, end, at);
      }
    }
    out.assign(text, at);
    return true;
  }
  return false;
}

std::string SingleToText(float value) {
  return ShortestText(value, 7);
}

bool TryTextToInt64(std::string_view text, std::int64_t& out) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') ++b;
  if (b == e || (*b == '-' && b != text.data())) return false;  // "+-5" is no number
  auto r = std::from_chars(b, e, out);
  return r.ec == std::errc() && r.ptr == e;
}

bool TryTextToFloat(std::string_view text, double& out) {
  return ParseFloating(text, out);
}

bool TryTextToSingle(std::string_view text, float& out) {
  return ParseFloating(text, out);
}

double TextToFloat(std::string_view text) {
  double value = 0;
  if (!ParseFloating(text, value)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return value;
}

std::string CurrencyToText(Currency value) {
  const bool negative = value.scaled < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.scaled)
                                           : static_cast<std::uint64_t>(value.scaled);
  return detail::ScaledText(negative, detail::UnsignedDigits(magnitude), 4);
}

bool TryTextToCurrency(std::string_view text, Currency& out) {
  DecimalDigits n;
  if (!detail::ScanDecimal(text, n)) return false;
  std::int64_t scaled = 0;
  if (!detail::RoundToScaledSigned(n, 4, scaled)) return false;
  out.scaled = scaled;
  return true;
}

}  // namespace core

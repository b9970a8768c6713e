#include "number_text.h"

#include <cmath>
#include <limits>

namespace core::detail {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Exponents beyond this are saturated: no double, currency or decimal gets anywhere near
// them, and saturating keeps the arithmetic below free of overflow.
constexpr std::int64_t kExponentLimit = 1'000'000'000;

bool AccumulateDigits(std::string_view digits, std::uint64_t& value) {
  for (char c : digits) {
    const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return false;
    value = value * 10 + d;
  }
  return true;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SplitNumber(std::string_view text, NumberParts& out) {
  text = TrimBlanks(text);
  std::size_t i = 0;
  out.negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    out.negative = text[i] == '-';
    ++i;
  }
  out.unsigned_text = text.substr(i);
  const std::size_t int_begin = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  out.int_digits = text.substr(int_begin, i - int_begin);
  out.frac_digits = {};
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    const std::size_t frac_begin = ++i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    out.frac_digits = text.substr(frac_begin, i - frac_begin);
  }
  if (out.int_digits.empty() && out.frac_digits.empty()) return false;
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
      exp_negative = text[i] == '-';
      ++i;
    }
    if (i == text.size() || !IsDigit(text[i])) return false;
    while (i < text.size() && IsDigit(text[i])) {
      if (exponent < kExponentLimit) exponent = exponent * 10 + (text[i] - '0');
      ++i;
    }
    if (exponent > kExponentLimit) exponent = kExponentLimit;
    if (exp_negative) exponent = -exponent;
  }
  out.exponent = exponent;
  return i == text.size();
}

bool ScanDecimal(std::string_view text, DecimalDigits& out) {
  NumberParts parts;
  if (!SplitNumber(text, parts)) return false;
  out.negative = parts.negative;
  out.digits.clear();
  out.digits.reserve(parts.int_digits.size() + parts.frac_digits.size());
  out.digits.append(parts.int_digits);
  out.digits.append(parts.frac_digits);
  const std::size_t first = out.digits.find_first_not_of('0');
  if (first == std::string::npos) {
    out.digits.clear();
    out.exponent = 0;
    return true;
  }
  out.digits.erase(0, first);
  out.exponent = parts.exponent - static_cast<std::int64_t>(parts.frac_digits.size());
  return true;
}

bool RoundToScaled(const DecimalDigits& value, int places, std::uint64_t& magnitude) {
  magnitude = 0;
  const std::string& d = value.digits;
  if (d.empty()) return true;
  const std::int64_t len = static_cast<std::int64_t>(d.size());
  const std::int64_t shift = value.exponent + places;
  if (shift >= 0) {
    if (len + shift > 20) return false;
    if (!AccumulateDigits(d, magnitude)) return false;
    for (std::int64_t k = 0; k < shift; ++k) {
      if (magnitude > std::numeric_limits<std::uint64_t>::max() / 10) return false;
      magnitude *= 10;
    }
    return true;
  }
  const std::int64_t drop = -shift;
  if (drop > len) return true;  // below 0.1 of the last place: rounds to zero
  const std::int64_t keep = len - drop;
  if (keep > 20) return false;
  if (!AccumulateDigits(std::string_view(d).substr(0, static_cast<std::size_t>(keep)), magnitude))
    return false;
  const char first_dropped = d[static_cast<std::size_t>(keep)];
  bool up = first_dropped > '5';
  if (first_dropped == '5') {
    const bool beyond_half =
        d.find_first_not_of('0', static_cast<std::size_t>(keep) + 1) != std::string::npos;
    up = beyond_half || (magnitude & 1) != 0;
  }
  if (up) {
    if (magnitude == std::numeric_limits<std::uint64_t>::max()) return false;
    ++magnitude;
  }
  return true;
}

bool RoundToScaledSigned(const DecimalDigits& value, int places, std::int64_t& out) {
  std::uint64_t magnitude = 0;
  if (!RoundToScaled(value, places, magnitude)) return false;
  constexpr std::uint64_t kMaxPositive = static_cast<std::uint64_t>(INT64_MAX);
  if (value.negative) {
    if (magnitude > kMaxPositive + 1) return false;
    out = magnitude == kMaxPositive + 1 ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
  } else {
    if (magnitude > kMaxPositive) return false;
    out = static_cast<std::int64_t>(magnitude);
  }
  return true;
}

std::string UnsignedDigits(std::uint64_t value) {
  char buffer[20];
  std::size_t n = 0;
  while (value != 0) {
    buffer[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  std::string out;
  out.reserve(n);
  while (n > 0) out.push_back(buffer[--n]);
  return out;
}

std::string ScaledText(bool negative, std::string digits, std::size_t scale) {
  if (digits.empty()) return "0";
  if (digits.size() <= scale) digits.insert(0, scale - digits.size() + 1, '0');
  const std::size_t int_len = digits.size() - scale;
  std::size_t end = digits.size();
  while (end > int_len && digits[end - 1] == '0') --end;
  std::string out;
  if (negative) out.push_back('-');
  out.append(digits, 0, int_len);
  if (end > int_len) {
    out.push_back('.');
    out.append(digits, int_len, end - int_len);
  }
  return out;
}

double RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double diff = value - floor;
  if (diff > 0.5) return floor + 1;
  if (diff < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

}  // namespace core::detail

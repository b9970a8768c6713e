#include "values.h"

#include <charconv>
#include <cstring>

#include "bytes.h"
#include "core/datetime.h"

namespace bde::values {

bool AllBytes(std::string_view bytes, char c) {
  for (char b : bytes)
    if (b != c) return false;
  return true;
}

bool AllZero(std::string_view bytes) {
  return AllBytes(bytes, '\0');
}

std::int64_t FlippedInteger(const std::uint8_t* p, int size) {
  std::uint64_t u = 0;
  for (int i = 0; i < size; ++i) u = (u << 8) | p[i];
  const std::uint64_t sign = std::uint64_t{1} << (size * 8 - 1);
  u ^= sign;                              // back to two's complement
  if (u & sign) u |= ~((sign << 1) - 1);  // sign-extend (size < 8)
  return static_cast<std::int64_t>(u);
}

double FlippedDouble(const std::uint8_t* p) {
  std::uint64_t u = LoadU64BE(p);
  if (u & 0x8000000000000000ull)
    u &= 0x7FFFFFFFFFFFFFFFull;
  else
    u = ~u;
  return BitsToDouble(u);
}

std::optional<double> ParseNumericText(std::string_view text, bool& ok) {
  ok = true;
  auto blank = [](char c) { return c == ' ' || c == '\0' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.empty() || AllBytes(text, '*')) return std::nullopt;
  char copy[64];
  if (text.size() >= sizeof copy) {
    ok = false;
    return std::nullopt;
  }
  std::size_t n = 0;
  bool negative = false;
  std::size_t i = 0;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
    while (i < text.size() && text[i] == ' ') ++i;  // "- 12" from some writers
  }
  for (; i < text.size(); ++i) copy[n++] = text[i] == ',' ? '.' : text[i];
  if (n == 0 || copy[0] == '-' || copy[0] == '+') {
    ok = false;
    return std::nullopt;
  }
  // from_chars takes neither "inf" nor "nan" as numbers here: a stored N field never means them.
  if ((copy[0] < '0' || copy[0] > '9') && copy[0] != '.') {
    ok = false;
    return std::nullopt;
  }
  double v = 0;
  auto [end, ec] = std::from_chars(copy, copy + n, v, std::chars_format::general);
  if (ec != std::errc() || end != copy + n) {
    ok = false;
    return std::nullopt;
  }
  return negative && v != 0 ? -v : v;
}

std::optional<double> ParseDateText(std::string_view text, bool& ok) {
  ok = true;
  bool blank = true;
  for (char c : text)
    if (c != ' ' && c != '0' && c != '\0') blank = false;
  if (blank) return std::nullopt;
  if (text.size() != 8) {
    ok = false;
    return std::nullopt;
  }
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    if (text[i] < '0' || text[i] > '9') {
      ok = false;
      return std::nullopt;
    }
    digits[i] = text[i] - '0';
  }
  core::DateParts parts;
  parts.year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
  parts.month = digits[4] * 10 + digits[5];
  parts.day = digits[6] * 10 + digits[7];
  if (!core::IsValidDateParts(parts)) {
    ok = false;
    return std::nullopt;
  }
  return core::EncodeDateTime(parts);
}

bool DayAndMsToDateTime(std::int64_t day, std::int64_t ms, double& out) {
  if (day < 1 || day > kLastDay || ms < 0 || ms >= core::kMsPerDay) return false;
  out = core::TimeStampToDateTime(
      core::TimeStamp{static_cast<std::int32_t>(ms), static_cast<std::int32_t>(day)});
  return true;
}

int ParseLogical(std::uint8_t c) {
  switch (c) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      return 1;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      return 0;
    case '?':
    case ' ':
    case '\0':
      return -1;
    default:
      return -2;
  }
}

}  // namespace bde::values

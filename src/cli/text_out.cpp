#include "text_out.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/datetime.h"

namespace cli {

void AppendCsvField(std::string_view s, std::string& out, bool quote_empty) {
  // One pass over the text (find_first_of with a set searches the set for every character).
  bool plain = !(quote_empty && s.empty());
  for (char c : s)
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      plain = false;
      break;
    }
  if (plain) {
    out += s;
    return;
  }
  out += '"';
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendJsonString(std::string_view s, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (auto b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

namespace {

template <typename Number>
std::string Shortest(Number n) {
  if (std::isnan(n)) return "NaN";
  if (std::isinf(n)) return n > 0 ? "Infinity" : "-Infinity";
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, n);
  return std::string(buf, end);
}

}  // namespace

std::string ShortestDouble(double d) {
  return Shortest(d);
}

std::string ShortestFloat(float f) {
  return Shortest(f);
}

std::string IsoDate(double d) {
  const core::DateParts p = core::DecodeDateTime(d);
  char buf[40];
  if (p.hour == 0 && p.minute == 0 && p.second == 0 && p.millisecond == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.year, p.month, p.day);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  return buf;
}

}  // namespace cli

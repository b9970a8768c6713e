// Values as text, as every command writes them: CSV fields, JSON strings, bytes, numbers and
// dates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// A CSV field: quoted (inner quotes doubled) when it holds a comma, a quote or a line break,
// and also when it is empty if `quote_empty` (an empty text as against a Null).
void AppendCsvField(std::string_view s, std::string& out, bool quote_empty = false);
inline std::string CsvField(std::string_view s, bool quote_empty = true) {
  std::string out;
  AppendCsvField(s, out, quote_empty);
  return out;
}

// A JSON string literal; control characters as \n, \r, \t or \u00XX.
void AppendJsonString(std::string_view s, std::string& out);
inline std::string JsonString(std::string_view s) {
  std::string out;
  AppendJsonString(s, out);
  return out;
}

// "0x" and two upper-case hexadecimal digits per byte.
std::string Hex(const std::vector<std::uint8_t>& bytes);
// The shortest text that reads back as the same number; "NaN", "Infinity", "-Infinity".
std::string ShortestDouble(double d);
std::string ShortestFloat(float f);
// ISO 8601: "YYYY-MM-DD", or with " HH:MM:SS" when there is a time of day.
std::string IsoDate(double d);

}  // namespace cli

// Value decoders shared by the dBase and Paradox readers. Each returns false when the
// bytes are not a valid value, so the caller can name the file, record and field.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bde::values {

// Day numbers count 1 January of year 1 as day 1 (proleptic Gregorian).
inline constexpr std::int32_t kLastDay = 3652059;             // 31 December 9999
inline constexpr std::int32_t kJulianDayOfDayZero = 1721425;  // Julian day number of day 0

bool AllBytes(std::string_view bytes, char c);
bool AllZero(std::string_view bytes);

// Paradox and dBase 7 store numbers big-endian with the sign bit flipped so that bytes
// sort like values. All-zero fields are blank.
std::int64_t FlippedInteger(const std::uint8_t* p, int size);
double FlippedDouble(const std::uint8_t* p);

// Numeric text of N and F fields: blanks around it, an optional sign, "," or "." as the
// separator, an exponent. Returns nullopt for blank text or text of '*' (overflow), sets
// `ok` false for text that is no number.
std::optional<double> ParseNumericText(std::string_view text, bool& ok);

// YYYYMMDD. nullopt for blank ("        ", "00000000", NULs); `ok` false for an invalid date.
std::optional<double> ParseDateText(std::string_view text, bool& ok);

// Date-time double of a day number and milliseconds since midnight; false when out of range.
bool DayAndMsToDateTime(std::int64_t day, std::int64_t ms, double& out);

// The three-way boolean of L fields: 1 true, 0 false, -1 blank, -2 not a logical value.
int ParseLogical(std::uint8_t c);

}  // namespace bde::values

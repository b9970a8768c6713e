// Decimal numbers read from text, shared by the float, currency, decimal and integer
// conversions so that all of them accept the same syntax and none goes through a double
// unless a double is what is asked for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core::detail {

// value = (-1)^negative * digits * 10^exponent
struct DecimalDigits {
  bool negative = false;
  std::string digits;  // no leading zeros; empty for zero
  std::int64_t exponent = 0;
};

std::string_view TrimBlanks(std::string_view text);

// The pieces of a number text, pointing into it.
struct NumberParts {
  bool negative = false;
  std::string_view unsigned_text;  // everything after the sign, blanks trimmed
  std::string_view int_digits;
  std::string_view frac_digits;
  std::int64_t exponent = 0;  // as written, saturated far beyond any representable value
};

// [blanks][+|-]digits[(.|,)digits][(e|E)[+|-]digits][blanks], at least one mantissa digit.
bool SplitNumber(std::string_view text, NumberParts& out);
bool ScanDecimal(std::string_view text, DecimalDigits& out);

// |value| rounded half to even to `places` decimals, times 10^places. False when that does
// not fit in 64 bits.
bool RoundToScaled(const DecimalDigits& value, int places, std::uint64_t& magnitude);

// The same, signed; false outside the range of std::int64_t.
bool RoundToScaledSigned(const DecimalDigits& value, int places, std::int64_t& out);

// The digits of an unsigned integer (empty for zero).
std::string UnsignedDigits(std::uint64_t value);

// magnitude / 10^scale as text, without trailing zeros in the fraction; "0" for no digits.
std::string ScaledText(bool negative, std::string digits, std::size_t scale);

// Nearest integer of a finite double, halves to even (the OLE rule), independent of the
// floating-point environment's rounding mode.
double RoundHalfEven(double value);

}  // namespace core::detail

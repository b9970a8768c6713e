// Decimal (96-bit mantissa) to and from the shared digit form.
#pragma once

#include "core/variant.h"
#include "number_text.h"

namespace core::detail {

DecimalDigits DigitsOf(const Decimal& value);
// Rounds half to even to at most 28 places, and further while the mantissa does not fit in
// 96 bits; false when even the integer part does not fit.
bool DecimalFromDigits(const DecimalDigits& digits, Decimal& out);

}  // namespace core::detail

// The 96-bit decimal: exact text in and out. Plain 32-bit limbs keep this portable to
// compilers without a 128-bit integer.
#include <cstring>

#include "decimal_digits.h"

namespace core {

namespace {

constexpr std::size_t kMaxScale = 28;
constexpr std::size_t kMaxMantissaDigits = 29;  // 2^96 - 1 = 79228162514264337593543950335

struct U96 {
  std::uint32_t limb[3] = {0, 0, 0};  // least significant first

  bool IsZero() const { return (limb[0] | limb[1] | limb[2]) == 0; }

  // this = this * mul + add; false on overflow.
  bool MulAdd(std::uint32_t mul, std::uint32_t add) {
    std::uint64_t carry = add;
    for (std::uint32_t& l : limb) {
      const std::uint64_t v = std::uint64_t{l} * mul + carry;
      l = static_cast<std::uint32_t>(v);
      carry = v >> 32;
    }
    return carry == 0;
  }

  // this = this / div; returns the remainder.
  std::uint32_t DivMod(std::uint32_t div) {
    std::uint64_t rem = 0;
    for (int i = 2; i >= 0; --i) {
      const std::uint64_t v = (rem << 32) | limb[i];
      limb[i] = static_cast<std::uint32_t>(v / div);
      rem = v % div;
    }
    return static_cast<std::uint32_t>(rem);
  }
};

U96 FromDecimal(const Decimal& d) {
  U96 u;
  u.limb[0] = static_cast<std::uint32_t>(d.lo);
  u.limb[1] = static_cast<std::uint32_t>(d.lo >> 32);
  u.limb[2] = d.hi;
  return u;
}

std::string Digits(U96 u) {
  std::string out;
  while (!u.IsZero()) {
    std::uint32_t chunk = u.DivMod(1'000'000'000);
    for (int k = 0; k < 9; ++k) {
      out.push_back(static_cast<char>('0' + chunk % 10));
      chunk /= 10;
    }
  }
  while (!out.empty() && out.back() == '0') out.pop_back();
  return std::string(out.rbegin(), out.rend());
}

// The first `keep` digits, rounded half to even by the rest; false when over 96 bits.
bool RoundedMantissa(const std::string& digits, std::size_t keep, U96& out) {
  out = U96{};
  if (keep > digits.size()) keep = digits.size();
  for (std::size_t i = 0; i < keep; ++i) {
    if (!out.MulAdd(10, static_cast<std::uint32_t>(digits[i] - '0'))) return false;
  }
  if (keep == digits.size()) return true;
  const char first = digits[keep];
  bool up = first > '5';
  if (first == '5') {
    up = digits.find_first_not_of('0', keep + 1) != std::string::npos || (out.limb[0] & 1) != 0;
  }
  return !up || out.MulAdd(1, 1);
}

}  // namespace

namespace detail {

DecimalDigits DigitsOf(const Decimal& value) {
  DecimalDigits out;
  out.digits = Digits(FromDecimal(value));
  out.negative = value.negative && !out.digits.empty();
  out.exponent = -static_cast<std::int64_t>(value.scale);
  return out;
}

bool DecimalFromDigits(const DecimalDigits& n, Decimal& out) {
  U96 mantissa;
  std::size_t scale = 0;
  if (!n.digits.empty()) {
    const std::int64_t len = static_cast<std::int64_t>(n.digits.size());
    if (n.exponent >= 0) {
      if (len + n.exponent > static_cast<std::int64_t>(kMaxMantissaDigits)) return false;
      if (!RoundedMantissa(n.digits, n.digits.size(), mantissa)) return false;
      for (std::int64_t k = 0; k < n.exponent; ++k) {
        if (!mantissa.MulAdd(10, 0)) return false;
      }
    } else {
      const std::int64_t places = -n.exponent;
      // Drop the places beyond 28 and, when the mantissa is still too wide, one more at a
      // time; each attempt rounds from the original digits, never twice.
      std::int64_t drop = places - static_cast<std::int64_t>(kMaxScale);
      if (len - static_cast<std::int64_t>(kMaxMantissaDigits) > drop)
        drop = len - static_cast<std::int64_t>(kMaxMantissaDigits);
      if (drop < 0) drop = 0;
      for (;; ++drop) {
        if (drop > places) return false;  // the integer part alone is too wide
        const std::int64_t keep = len - drop;
        if (keep <= 0) {
          // Everything is dropped: rounds to zero unless the first digit is at half or more.
          mantissa = U96{};
          if (keep == 0) RoundedMantissa(n.digits, 0, mantissa);
          break;
        }
        if (RoundedMantissa(n.digits, static_cast<std::size_t>(keep), mantissa)) break;
      }
      scale = static_cast<std::size_t>(places - drop);
    }
  }
  out.scale = static_cast<std::uint8_t>(scale);
  out.negative = n.negative && !mantissa.IsZero();
  out.lo = std::uint64_t{mantissa.limb[0]} | (std::uint64_t{mantissa.limb[1]} << 32);
  out.hi = mantissa.limb[2];
  return true;
}

}  // namespace detail

std::string DecimalToText(const Decimal& value) {
  return detail::ScaledText(value.negative, Digits(FromDecimal(value)), value.scale);
}

bool TryTextToDecimal(std::string_view text, Decimal& out) {
  detail::DecimalDigits n;
  if (!detail::ScanDecimal(text, n)) return false;
  return detail::DecimalFromDigits(n, out);
}

}  // namespace core

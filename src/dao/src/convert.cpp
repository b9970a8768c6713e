#include "dao/convert.h"

#include <cmath>
#include <cstring>

#include "core/datetime.h"
#include "core/encoding.h"
#include "dao/constants.h"
#include "dao/errors.h"
#include "jet/row_codec.h"

namespace dao {
namespace {

constexpr int kOk = 0;

// The date-time doubles Jet stores: 1 January 100 to the last millisecond of 9999.
constexpr double kFirstDate = -657434.0;
constexpr double kDateLimit = 2958466.0;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Whether the text has the shape of a number (sign, digits, one separator, exponent), so
// that a failed read means "too big" (3349) rather than "not a number" (3421).
bool NumberShaped(std::string_view s) {
  s = Trim(s);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exp = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i, ++exp;
    if (exp == 0) return false;
  }
  return i == s.size();
}

// Plain integer texts ("-123") without a detour; false for anything else.
bool SimpleInteger(std::string_view s, std::int64_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size() || s.size() - i > 18) return false;
  std::int64_t v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = negative ? -v : v;
  return true;
}

// Plain currency texts ("-1234.5678", "12,5") read exactly without a detour; false for
// anything else (more than four decimals, exponents, blanks), which the general reader takes.
bool SimpleCurrency(std::string_view s, std::int64_t& out) {
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::size_t int_start = i;
  std::int64_t whole = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (i - int_start >= 15) return false;
    whole = whole * 10 + (s[i++] - '0');
  }
  std::size_t int_digits = i - int_start;
  std::int64_t fraction = 0;
  std::size_t frac_digits = 0;
  if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
      if (++frac_digits > 4) return false;
      fraction = fraction * 10 + (s[i++] - '0');
    }
  }
  if (i != s.size() || int_digits + frac_digits == 0) return false;
  for (std::size_t k = frac_digits; k < 4; ++k) fraction *= 10;
  // 15 integer digits times 10,000 fit in 64 bits only up to the Currency limit.
  const std::int64_t limit_whole = 922337203685477;
  if (whole > limit_whole) return false;
  if (whole == limit_whole && fraction > (negative ? 5808 : 5807)) return false;
  std::int64_t magnitude = whole * 10000;
  out = negative ? -magnitude - fraction : magnitude + fraction;
  return true;
}

// UTF-16 units of a UTF-8 text: Text sizes count them.
std::size_t Utf16Length(std::string_view s) {
  std::size_t n = 0;
  for (unsigned char c : s) {
    if ((c & 0xC0) != 0x80) ++n;
    if (c >= 0xF0) ++n;
  }
  return n;
}

// Whether a conversion error of the core variant is an overflow rather than a mismatch.
int ClassifyVariantError(const core::EVariantError& e) {
  return std::strncmp(e.what(), "Overflow", 8) == 0 ? err::kNumericOverflow : err::kConversionError;
}

int IntegerInRange(std::int64_t v, int dao_type, core::Variant& out) {
  switch (dao_type) {
    case dbByte:
      if (v < 0 || v > 255) return err::kNumericOverflow;
      out = core::Variant::FromByte(static_cast<std::uint8_t>(v));
      return kOk;
    case dbInteger:
      if (v < -32768 || v > 32767) return err::kNumericOverflow;
      out = core::Variant::FromInteger(static_cast<std::int16_t>(v));
      return kOk;
    default:
      if (v < INT32_MIN || v > INT32_MAX) return err::kNumericOverflow;
      out = core::Variant::FromLong(static_cast<std::int32_t>(v));
      return kOk;
  }
}

int CheckDate(double d, core::Variant& out) {
  if (!std::isfinite(d) || d < kFirstDate || d >= kDateLimit) return err::kConversionError;
  out = core::Variant::FromDate(d);
  return kOk;
}

int Utf16Bytes(std::string_view text, std::uint32_t size, int dao_type, core::Variant& out) {
  std::u16string units = core::Utf8ToUtf16(text);
  std::vector<std::uint8_t> bytes(units.size() * 2);
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  if (dao_type == dbBinary && size != 0 && bytes.size() > size) return err::kFieldTooSmall;
  out = core::Variant::FromBytes(std::move(bytes));
  return kOk;
}

}  // namespace

std::string GuidValueText(const std::uint8_t* bytes) {
  return "{guid " + jet::GuidToText(bytes) + "}";
}

bool ParseGuidValueText(std::string_view text, std::uint8_t out[16]) {
  text = Trim(text);
  if (text.size() > 6 && EqualsNoCase(text.substr(0, 6), "{guid ")) {
    text.remove_prefix(6);
    if (text.empty() || text.back() != '}') return false;
    text.remove_suffix(1);
    text = Trim(text);
  }
  return jet::TryParseGuid(text, out);
}

int TextToFieldValue(std::string_view text, int dao_type, std::uint32_t size, core::Variant& out) {
  switch (dao_type) {
    case dbText:
    case dbMemo:
      if (dao_type == dbText && size != 0 && Utf16Length(text) > size) return err::kFieldTooSmall;
      out = core::Variant::FromString(std::string(text));
      return kOk;
    case dbBoolean: {
      std::string_view t = Trim(text);
      if (EqualsNoCase(t, "true") || EqualsNoCase(t, "yes") || EqualsNoCase(t, "on")) {
        out = core::Variant::FromBoolean(true);
        return kOk;
      }
      if (EqualsNoCase(t, "false") || EqualsNoCase(t, "no") || EqualsNoCase(t, "off")) {
        out = core::Variant::FromBoolean(false);
        return kOk;
      }
      double d;
      if (!core::TryTextToFloat(t, d) || std::isnan(d)) return err::kConversionError;
      out = core::Variant::FromBoolean(d != 0);
      return kOk;
    }
    case dbByte:
    case dbInteger:
    case dbLong: {
      std::string_view t = Trim(text);
      std::int64_t v;
      if (SimpleInteger(t, v)) return IntegerInRange(v, dao_type, out);
      if (!NumberShaped(t)) return err::kConversionError;
      try {
        return IntegerInRange(core::Variant(t).ToInt64(), dao_type, out);
      } catch (const core::EVariantError& e) {
        return ClassifyVariantError(e);
      }
    }
    case dbCurrency: {
      core::Currency c;
      if (SimpleCurrency(text, c.scaled)) {
        out = core::Variant::FromCurrency(c);
        return kOk;
      }
      if (core::TryTextToCurrency(text, c)) {
        out = core::Variant::FromCurrency(c);
        return kOk;
      }
      return NumberShaped(text) ? err::kNumericOverflow : err::kConversionError;
    }
    case dbSingle: {
      float f;
      if (NumberShaped(text) && core::TryTextToSingle(text, f)) {
        out = core::Variant::FromSingle(f);
        return kOk;
      }
      return NumberShaped(text) ? err::kNumericOverflow : err::kConversionError;
    }
    case dbDouble: {
      double d;
      if (NumberShaped(text) && core::TryTextToFloat(text, d)) {
        out = core::Variant::FromDouble(d);
        return kOk;
      }
      return NumberShaped(text) ? err::kNumericOverflow : err::kConversionError;
    }
    case dbDecimal: {
      core::Decimal d;
      if (core::TryTextToDecimal(text, d)) {
        out = core::Variant::FromDecimal(d);
        return kOk;
      }
      return NumberShaped(text) ? err::kNumericOverflow : err::kConversionError;
    }
    case dbDate: {
      double d;
      if (!core::TryParseDateTimeText(text, d)) return err::kConversionError;
      return CheckDate(d, out);
    }
    case dbGUID: {
      std::uint8_t g[16];
      if (!ParseGuidValueText(text, g)) return err::kConversionError;
      out = core::Variant::FromBytes(std::vector<std::uint8_t>(g, g + 16));
      return kOk;
    }
    case dbBinary:
    case dbLongBinary:
      return Utf16Bytes(text, size, dao_type, out);
    default:
      return err::kInvalidFieldType;
  }
}

int ConvertToFieldType(const core::Variant& value, int dao_type, std::uint32_t size,
                       core::Variant& out) {
  if (value.IsNullOrEmpty()) {
    out = core::Variant::Null();
    return kOk;
  }
  if (value.Type() == core::VarType::String)
    return TextToFieldValue(value.ToString(), dao_type, size, out);
  if (value.Type() == core::VarType::Array) return err::kConversionError;
  const bool bytes = value.Type() == core::VarType::ByteArray;
  try {
    switch (dao_type) {
      case dbText:
      case dbMemo: {
        if (bytes) return err::kConversionError;
        std::string s = value.ToString();
        if (dao_type == dbText && size != 0 && Utf16Length(s) > size) return err::kFieldTooSmall;
        out = core::Variant::FromString(std::move(s));
        return kOk;
      }
      case dbBinary:
      case dbLongBinary:
        if (!bytes) return err::kConversionError;
        if (dao_type == dbBinary && size != 0 && value.Bytes().size() > size)
          return err::kFieldTooSmall;
        out = value;
        return kOk;
      case dbGUID:
        if (!bytes || value.Bytes().size() != 16) return err::kConversionError;
        out = value;
        return kOk;
      default:
        break;
    }
    if (bytes) return err::kConversionError;
    switch (dao_type) {
      case dbBoolean:
        out = core::Variant::FromBoolean(value.ToBoolean());
        return kOk;
      case dbByte:
        out = core::Variant::FromByte(value.ToByte());
        return kOk;
      case dbInteger:
        out = core::Variant::FromInteger(value.ToInteger());
        return kOk;
      case dbLong:
        out = core::Variant::FromLong(value.ToLong());
        return kOk;
      case dbCurrency:
        out = core::Variant::FromCurrency(value.ToCurrency());
        return kOk;
      case dbSingle:
        out = core::Variant::FromSingle(value.ToSingle());
        return kOk;
      case dbDouble:
        out = core::Variant::FromDouble(value.ToDouble());
        return kOk;
      case dbDecimal:
        out = core::Variant::FromDecimal(value.ToDecimal());
        return kOk;
      case dbDate:
        return CheckDate(value.ToDate(), out);
      default:
        return err::kInvalidFieldType;
    }
  } catch (const core::EVariantError& e) {
    // A date outside the calendar is a conversion error, not an overflow.
    return dao_type == dbDate ? err::kConversionError : ClassifyVariantError(e);
  } catch (const core::EConvertError&) {
    return err::kConversionError;
  }
}

}  // namespace dao

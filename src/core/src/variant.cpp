#include "core/variant.h"

#include <cmath>
#include <limits>

#include "core/datetime.h"
#include "core/encoding.h"
#include "core/errors.h"
#include "decimal_digits.h"
#include "number_text.h"

namespace core {

namespace {

using detail::DecimalDigits;

const char* KindName(VarType type) {
  switch (type) {
    case VarType::Empty:
      return "Empty";
    case VarType::Null:
      return "Null";
    case VarType::Integer:
      return "Integer";
    case VarType::Long:
      return "Long";
    case VarType::Single:
      return "Single";
    case VarType::Double:
      return "Double";
    case VarType::Currency:
      return "Currency";
    case VarType::Date:
      return "Date";
    case VarType::String:
      return "String";
    case VarType::Boolean:
      return "Boolean";
    case VarType::Decimal:
      return "Decimal";
    case VarType::Byte:
      return "Byte";
    case VarType::Array:
      return "Array";
    case VarType::ByteArray:
      return "Byte array";
  }
  return "Unknown";
}

// "Double 1E+20", "String 'abc'", "Null": how a value is named in conversion errors.
std::string Describe(const Variant& v) {
  std::string out = KindName(v.Type());
  if (v.IsNullOrEmpty() || v.IsArray()) return out;
  std::string text;
  try {
    text = v.ToString();
  } catch (const Exception&) {
    return out;
  }
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  if (v.Type() == VarType::String) return out + " '" + text + "'";
  return out + " " + text;
}

[[noreturn]] void CannotConvert(const Variant& v, const char* target) {
  throw EVariantError("Cannot convert " + Describe(v) + " to " + target);
}

[[noreturn]] void Overflow(const Variant& v, const char* target) {
  throw EVariantError("Overflow converting " + Describe(v) + " to " + target);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// The digits a double stands for: its text form (15 digits when they read back exactly),
// so 0.1 converts to the decimal 0.1 and not to its binary expansion.
bool DigitsOfDouble(double value, DecimalDigits& out) {
  if (!std::isfinite(value)) return false;
  return detail::ScanDecimal(FloatToText(value), out);
}

DecimalDigits DigitsOfInteger(std::int64_t value) {
  DecimalDigits out;
  out.negative = value < 0;
  out.digits = detail::UnsignedDigits(out.negative ? 0 - static_cast<std::uint64_t>(value)
                                                   : static_cast<std::uint64_t>(value));
  return out;
}

DecimalDigits DigitsOfCurrency(Currency value) {
  DecimalDigits out = DigitsOfInteger(value.scaled);
  out.exponent = out.digits.empty() ? 0 : -4;
  return out;
}

double DoubleOfDigits(const DecimalDigits& n) {
  std::string text = n.negative ? "-" : "";
  text += n.digits.empty() ? "0" : n.digits;
  text += "E" + std::to_string(n.exponent);
  return TextToFloat(text);
}

}  // namespace

Variant Variant::Null() {
  Variant v;
  v.kind_ = VarType::Null;
  return v;
}

Variant Variant::FromBoolean(bool v) {
  return Variant(v);
}

Variant Variant::FromByte(std::uint8_t v) {
  Variant out;
  out.kind_ = VarType::Byte;
  out.value_ = std::int64_t{v};
  return out;
}

Variant Variant::FromInteger(std::int16_t v) {
  Variant out;
  out.kind_ = VarType::Integer;
  out.value_ = std::int64_t{v};
  return out;
}

Variant Variant::FromLong(std::int32_t v) {
  return Variant(v);
}

Variant Variant::FromCurrency(Currency v) {
  Variant out;
  out.kind_ = VarType::Currency;
  out.value_ = v.scaled;
  return out;
}

Variant Variant::FromSingle(float v) {
  Variant out;
  out.kind_ = VarType::Single;
  out.value_ = static_cast<double>(v);
  return out;
}

Variant Variant::FromDouble(double v) {
  return Variant(v);
}

Variant Variant::FromDate(double date_time) {
  Variant out;
  out.kind_ = VarType::Date;
  out.value_ = date_time;
  return out;
}

Variant Variant::FromString(std::string utf8) {
  return Variant(std::move(utf8));
}

Variant Variant::FromDecimal(const Decimal& v) {
  Variant out;
  out.kind_ = VarType::Decimal;
  out.value_ = v;
  return out;
}

Variant Variant::FromBytes(std::vector<std::uint8_t> bytes) {
  Variant out;
  out.kind_ = VarType::ByteArray;
  out.value_ = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
  return out;
}

Variant Variant::FromArray(std::vector<Variant> elements) {
  Variant out;
  out.kind_ = VarType::Array;
  out.value_ = std::make_shared<std::vector<Variant>>(std::move(elements));
  return out;
}

bool Variant::IsNumeric() const {
  switch (kind_) {
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Currency:
    case VarType::Decimal:
      return true;
    default:
      return false;
  }
}

bool Variant::ToBoolean() const {
  switch (kind_) {
    case VarType::Empty:
      return false;
    case VarType::Boolean:
      return std::get<bool>(value_);
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::Currency:
      return std::get<std::int64_t>(value_) != 0;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return std::get<double>(value_) != 0;
    case VarType::Decimal: {
      const Decimal& d = std::get<Decimal>(value_);
      return d.lo != 0 || d.hi != 0;
    }
    case VarType::String: {
      const std::string_view text = detail::TrimBlanks(std::get<std::string>(value_));
      if (EqualsNoCase(text, "true") || EqualsNoCase(text, "yes") || EqualsNoCase(text, "on"))
        return true;
      if (EqualsNoCase(text, "false") || EqualsNoCase(text, "no") || EqualsNoCase(text, "off"))
        return false;
      double number = 0;
      if (TryTextToFloat(text, number)) return number != 0;
      CannotConvert(*this, "Boolean");
    }
    default:
      CannotConvert(*this, "Boolean");
  }
}

// Every integer kind goes through here: the value as a 64-bit integer, floats and decimals
// rounded half to even, then checked against [lo, hi].
std::int64_t Variant::IntegerIn(std::int64_t lo, std::int64_t hi, const char* target) const {
  const Variant& v = *this;
  const Storage& value = value_;
  std::int64_t result = 0;
  switch (v.Type()) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      // OLE hands True to an unsigned byte as 255, to every signed kind as -1.
      if (!std::get<bool>(value)) return 0;
      return lo == 0 ? 255 : -1;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      result = std::get<std::int64_t>(value);
      break;
    case VarType::Currency:
      if (!detail::RoundToScaledSigned(DigitsOfCurrency(Currency{std::get<std::int64_t>(value)}), 0,
                                       result))
        Overflow(v, target);
      break;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date: {
      const double d = std::get<double>(value);
      if (std::isnan(d)) Overflow(v, target);
      const double r = detail::RoundHalfEven(d);
      if (!(r >= -9223372036854775808.0 && r < 9223372036854775808.0)) Overflow(v, target);
      result = static_cast<std::int64_t>(r);
      break;
    }
    case VarType::Decimal:
      if (!detail::RoundToScaledSigned(detail::DigitsOf(std::get<Decimal>(value)), 0, result))
        Overflow(v, target);
      break;
    case VarType::String: {
      DecimalDigits n;
      if (!detail::ScanDecimal(std::get<std::string>(value), n)) CannotConvert(v, target);
      if (!detail::RoundToScaledSigned(n, 0, result)) Overflow(v, target);
      break;
    }
    default:
      CannotConvert(v, target);
  }
  if (result < lo || result > hi) Overflow(v, target);
  return result;
}

std::uint8_t Variant::ToByte() const {
  return static_cast<std::uint8_t>(IntegerIn(0, 255, "Byte"));
}

std::int16_t Variant::ToInteger() const {
  return static_cast<std::int16_t>(IntegerIn(INT16_MIN, INT16_MAX, "Integer"));
}

std::int32_t Variant::ToLong() const {
  return static_cast<std::int32_t>(IntegerIn(INT32_MIN, INT32_MAX, "Long"));
}

std::int64_t Variant::ToInt64() const {
  return IntegerIn(INT64_MIN, INT64_MAX, "64-bit integer");
}

double Variant::ToDouble() const {
  switch (kind_) {
    case VarType::Empty:
      return 0;
    case VarType::Boolean:
      return std::get<bool>(value_) ? -1.0 : 0.0;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return static_cast<double>(std::get<std::int64_t>(value_));
    case VarType::Currency:
      return DoubleOfDigits(DigitsOfCurrency(Currency{std::get<std::int64_t>(value_)}));
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      return std::get<double>(value_);
    case VarType::Decimal:
      return DoubleOfDigits(detail::DigitsOf(std::get<Decimal>(value_)));
    case VarType::String: {
      double out = 0;
      if (!TryTextToFloat(std::get<std::string>(value_), out)) CannotConvert(*this, "Double");
      return out;
    }
    default:
      CannotConvert(*this, "Double");
  }
}

float Variant::ToSingle() const {
  if (kind_ == VarType::String) {
    float out = 0;
    if (!TryTextToSingle(std::get<std::string>(value_), out)) {
      double wide = 0;
      if (TryTextToFloat(std::get<std::string>(value_), wide)) Overflow(*this, "Single");
      CannotConvert(*this, "Single");
    }
    return out;
  }
  const double d = ToDouble();
  if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) {
    // Up to half a step above the largest float still rounds to it; beyond is an overflow.
    static const double kFloatLimit = std::ldexp(33554431.0, 103);
    if (std::fabs(d) >= kFloatLimit) Overflow(*this, "Single");
    return d < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
  }
  return static_cast<float>(d);
}

Currency Variant::ToCurrency() const {
  DecimalDigits n;
  switch (kind_) {
    case VarType::Empty:
      return Currency{};
    case VarType::Boolean:
      return Currency{std::get<bool>(value_) ? -10000 : 0};
    case VarType::Currency:
      return Currency{std::get<std::int64_t>(value_)};
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      n = DigitsOfInteger(std::get<std::int64_t>(value_));
      break;
    case VarType::Single:
      if (!std::isfinite(std::get<double>(value_))) Overflow(*this, "Currency");
      detail::ScanDecimal(SingleToText(static_cast<float>(std::get<double>(value_))), n);
      break;
    case VarType::Double:
    case VarType::Date:
      if (!DigitsOfDouble(std::get<double>(value_), n)) Overflow(*this, "Currency");
      break;
    case VarType::Decimal:
      n = detail::DigitsOf(std::get<Decimal>(value_));
      break;
    case VarType::String:
      if (!detail::ScanDecimal(std::get<std::string>(value_), n)) CannotConvert(*this, "Currency");
      break;
    default:
      CannotConvert(*this, "Currency");
  }
  std::int64_t scaled = 0;
  if (!detail::RoundToScaledSigned(n, 4, scaled)) Overflow(*this, "Currency");
  return Currency{scaled};
}

double Variant::ToDate() const {
  double out = 0;
  switch (kind_) {
    case VarType::Empty:
      return 0;
    case VarType::String: {
      const std::string& text = std::get<std::string>(value_);
      if (!TryParseDateTimeText(text, out) && !TryTextToFloat(text, out))
        CannotConvert(*this, "Date");
      break;
    }
    case VarType::Array:
    case VarType::ByteArray:
    case VarType::Null:
      CannotConvert(*this, "Date");
    default:
      out = ToDouble();
  }
  // Only the years 1 to 9999 are dates.
  if (!(std::isfinite(out) && out > -693594.0 && out < 2958466.0)) Overflow(*this, "Date");
  return out;
}

Decimal Variant::ToDecimal() const {
  DecimalDigits n;
  switch (kind_) {
    case VarType::Empty:
      return Decimal{};
    case VarType::Decimal:
      return std::get<Decimal>(value_);
    case VarType::Boolean:
      n = DigitsOfInteger(std::get<bool>(value_) ? -1 : 0);
      break;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      n = DigitsOfInteger(std::get<std::int64_t>(value_));
      break;
    case VarType::Currency: {
      // Keeps the four places, as OLE's decimal from currency does.
      const std::int64_t scaled = std::get<std::int64_t>(value_);
      Decimal d;
      d.scale = 4;
      d.negative = scaled < 0;
      d.lo =
          d.negative ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
      return d;
    }
    case VarType::Single:
      if (!std::isfinite(std::get<double>(value_))) Overflow(*this, "Decimal");
      detail::ScanDecimal(SingleToText(static_cast<float>(std::get<double>(value_))), n);
      break;
    case VarType::Double:
    case VarType::Date:
      if (!DigitsOfDouble(std::get<double>(value_), n)) Overflow(*this, "Decimal");
      break;
    case VarType::String:
      if (!detail::ScanDecimal(std::get<std::string>(value_), n)) CannotConvert(*this, "Decimal");
      break;
    default:
      CannotConvert(*this, "Decimal");
  }
  Decimal out;
  if (!detail::DecimalFromDigits(n, out)) Overflow(*this, "Decimal");
  return out;
}

std::string Variant::ToString() const {
  switch (kind_) {
    case VarType::Empty:
    case VarType::Null:
      return std::string();
    case VarType::Boolean:
      return std::get<bool>(value_) ? "True" : "False";
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      return std::to_string(std::get<std::int64_t>(value_));
    case VarType::Currency:
      return CurrencyToText(Currency{std::get<std::int64_t>(value_)});
    case VarType::Single:
      return SingleToText(static_cast<float>(std::get<double>(value_)));
    case VarType::Double:
      return FloatToText(std::get<double>(value_));
    case VarType::Date:
      try {
        return FormatDateTimeText(std::get<double>(value_));
      } catch (const EConvertError&) {
        throw EVariantError("Cannot convert Date " + FloatToText(std::get<double>(value_)) +
                            " to String: outside the years 1 to 9999");
      }
    case VarType::Decimal:
      return DecimalToText(std::get<Decimal>(value_));
    case VarType::String:
      return std::get<std::string>(value_);
    case VarType::ByteArray: {
      std::string out;
      for (std::uint8_t b : *std::get<std::shared_ptr<std::vector<std::uint8_t>>>(value_)) {
        AppendUtf8(b, out);
      }
      return out;
    }
    case VarType::Array:
      CannotConvert(*this, "String");
  }
  CannotConvert(*this, "String");
}

const std::string& Variant::Text() const {
  if (kind_ != VarType::String) CannotConvert(*this, "String");
  return std::get<std::string>(value_);
}

const std::vector<std::uint8_t>& Variant::Bytes() const {
  if (kind_ != VarType::ByteArray) CannotConvert(*this, "Byte array");
  return *std::get<std::shared_ptr<std::vector<std::uint8_t>>>(value_);
}

const std::vector<Variant>& Variant::Elements() const {
  if (kind_ != VarType::Array) CannotConvert(*this, "Array");
  return *std::get<std::shared_ptr<std::vector<Variant>>>(value_);
}

std::vector<Variant>& Variant::Elements() {
  if (kind_ != VarType::Array) CannotConvert(*this, "Array");
  auto& shared = std::get<std::shared_ptr<std::vector<Variant>>>(value_);
  // Copies share their elements until one of them is changed.
  if (shared.use_count() > 1) shared = std::make_shared<std::vector<Variant>>(*shared);
  return *shared;
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case VarType::ByteArray:
      return *std::get<std::shared_ptr<std::vector<std::uint8_t>>>(a.value_) ==
             *std::get<std::shared_ptr<std::vector<std::uint8_t>>>(b.value_);
    case VarType::Array:
      return *std::get<std::shared_ptr<std::vector<Variant>>>(a.value_) ==
             *std::get<std::shared_ptr<std::vector<Variant>>>(b.value_);
    default:
      return a.value_ == b.value_;
  }
}

}  // namespace core

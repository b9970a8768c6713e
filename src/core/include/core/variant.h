// Variant: the value type that crosses between the layers.
//
// It has the kinds an OLE variant takes when DAO hands values around (the type codes
// are the OLE ones, so DAO's `VarType` answers come straight from here). Conversions
// between kinds follow the OLE rules: integers from floats round half to even,
// out-of-range values and unreadable texts raise EVariantError, Null converts to
// nothing but text (which is empty).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace core {

// OLE variant type codes.
enum class VarType : std::uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,  // 16-bit signed
  Long = 3,     // 32-bit signed
  Single = 4,
  Double = 5,
  Currency = 6,  // 64-bit integer scaled by 10,000
  Date = 7,      // days since 30 December 1899, time as the fraction
  String = 8,    // UTF-8 here (a wide string in OLE)
  Boolean = 11,
  Decimal = 14,
  Byte = 17,
  Array = 0x200C,      // array of variants, lower bound 0
  ByteArray = 0x2011,  // array of bytes, lower bound 0
};

// Currency: an exact decimal with four places, stored as value * 10,000.
struct Currency {
  std::int64_t scaled = 0;
  friend bool operator==(Currency a, Currency b) = default;
};

// Decimal: a 96-bit unsigned mantissa, a sign and a power-of-ten scale (0..28),
// as OLE's DECIMAL holds it. Value = (-1)^negative * mantissa / 10^scale.
struct Decimal {
  std::uint8_t scale = 0;
  bool negative = false;
  std::uint32_t hi = 0;  // bits 64..95 of the mantissa
  std::uint64_t lo = 0;  // bits 0..63 of the mantissa
  friend bool operator==(const Decimal& a, const Decimal& b) = default;
};

class Variant {
 public:
  Variant() = default;  // Empty
  Variant(bool v) : kind_(VarType::Boolean), value_(v) {}
  Variant(std::int32_t v) : kind_(VarType::Long), value_(std::int64_t{v}) {}
  Variant(double v) : kind_(VarType::Double), value_(v) {}
  Variant(const char* v) : kind_(VarType::String), value_(std::string(v)) {}
  Variant(std::string v) : kind_(VarType::String), value_(std::move(v)) {}
  Variant(std::string_view v) : kind_(VarType::String), value_(std::string(v)) {}

  static Variant Null();
  static Variant FromBoolean(bool v);
  static Variant FromByte(std::uint8_t v);
  static Variant FromInteger(std::int16_t v);
  static Variant FromLong(std::int32_t v);
  static Variant FromCurrency(Currency v);
  static Variant FromSingle(float v);
  static Variant FromDouble(double v);
  static Variant FromDate(double date_time);
  static Variant FromString(std::string utf8);
  static Variant FromDecimal(const Decimal& v);
  static Variant FromBytes(std::vector<std::uint8_t> bytes);
  static Variant FromArray(std::vector<Variant> elements);

  VarType Type() const { return kind_; }
  bool IsEmpty() const { return kind_ == VarType::Empty; }
  bool IsNull() const { return kind_ == VarType::Null; }
  bool IsNullOrEmpty() const { return IsEmpty() || IsNull(); }
  bool IsArray() const { return kind_ == VarType::Array || kind_ == VarType::ByteArray; }
  // Byte, Integer, Long, Single, Double, Currency, Decimal (not Boolean, not Date).
  bool IsNumeric() const;

  // Conversions to the other kinds, by the OLE rules; raise EVariantError when the
  // value cannot be represented. Empty converts to zero / false / empty text.
  // - Boolean True is -1 for every signed kind and 255 for Byte (OLE's all-ones byte).
  // - Texts are read with the syntax of TextToFloat; integers, Currency and Decimal read
  //   them exactly (no detour through a double), Date also takes TryParseDateTimeText's forms.
  // - Currency and Decimal from a Single or Double take the value's decimal text (so 0.1
  //   becomes exactly 0.1) and round that half to even.
  // - Date accepts only the years 1..9999.
  bool ToBoolean() const;
  std::uint8_t ToByte() const;
  std::int16_t ToInteger() const;
  std::int32_t ToLong() const;
  std::int64_t ToInt64() const;
  float ToSingle() const;
  double ToDouble() const;
  Currency ToCurrency() const;
  double ToDate() const;
  Decimal ToDecimal() const;
  // The variant-to-text conversion: Null and Empty give "", Boolean "True"/"False",
  // Double FloatToText, Single SingleToText, Currency and Decimal exact decimals without
  // trailing zeros, dates FormatDateTimeText, byte arrays their bytes as Latin-1
  // characters; an array of variants raises EVariantError.
  std::string ToString() const;

  // Direct access to a text's or an array's contents; raise EVariantError for other kinds.
  const std::string& Text() const;
  const std::vector<std::uint8_t>& Bytes() const;
  const std::vector<Variant>& Elements() const;
  std::vector<Variant>& Elements();

  // Same kind and same value (arrays element by element). Null equals Null here.
  friend bool operator==(const Variant& a, const Variant& b);

 private:
  using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, Decimal,
                               std::shared_ptr<std::vector<std::uint8_t>>,
                               std::shared_ptr<std::vector<Variant>>>;
  // Byte/Integer/Long/Currency keep std::int64_t (Currency scaled); Single/Double/Date
  // keep double. Arrays are copy-on-write through shared_ptr.
  std::int64_t IntegerIn(std::int64_t lo, std::int64_t hi, const char* target) const;
  VarType kind_ = VarType::Empty;
  Storage value_;
};

// Floating-point text in the form the record buffers keep: at most 15 significant
// digits when that reads back to the same double, otherwise the shortest form that
// does; "." as decimal separator; exponent form "1.5E+20" outside 1e-5..1e15. Negative
// zero is "-0", the others "NAN", "INF", "-INF", so every double reads back identically.
std::string FloatToText(double value);
// FloatToText's text in `out` for the values most tables hold, at a fraction of its cost:
// those from 1e-5 to below 1e15 that read back from at most six decimals. False, and `out`
// untouched, for the others.
bool FewDecimalsFloatText(double value, std::string& out);
// The exact inverse of FloatToText; also accepts leading/trailing blanks, a leading
// sign, "," or "." as separator and lower-case exponents. Values below the smallest
// subnormal read as (signed) zero; values beyond the largest double and anything else
// raise EConvertError naming the text.
double TextToFloat(std::string_view text);
// Parses without raising; false when the text is not a number.
bool TryTextToFloat(std::string_view text, double& out);
// A whole number: an optional "+" or "-" and decimal digits, nothing else (no blanks);
// false when the text is not one or does not fit.
bool TryTextToInt64(std::string_view text, std::int64_t& out);

// The same form for a Single: 7 significant digits when they read back to the same float,
// otherwise the shortest form that does ("0.1" for 0.1f rather than its double digits).
std::string SingleToText(float value);
bool TryTextToSingle(std::string_view text, float& out);

// Currency to and from its exact text ("-12.3456", "7", "0.5"); the parser accepts up
// to four decimals exactly and rounds half to even beyond that, never through a double.
std::string CurrencyToText(Currency value);
bool TryTextToCurrency(std::string_view text, Currency& out);

// Decimal to and from exact text. The parser keeps the written scale ("1.50" has scale 2),
// rounds half to even beyond 28 places and further while the mantissa is wider than 96 bits;
// false when the integer part alone does not fit.
std::string DecimalToText(const Decimal& value);
bool TryTextToDecimal(std::string_view text, Decimal& out);

}  // namespace core

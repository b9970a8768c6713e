// The kinds of field: text, numbers, Yes/No, dates and times, bytes and blobs, each with its
// native form and its text.
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/datetime.h"
#include "core/scope_exit.h"
#include "dataset/db.h"
#include "internal.h"

namespace ds {

namespace {

bool ParseInt64(std::string_view text, std::int64_t& out) {
  return core::TryTextToInt64(detail::TrimBlanks(text), out);
}

std::string TwoDigits(int v) {
  std::string s = std::to_string(v);
  return s.size() < 2 ? "0" + s : s;
}

std::string TimeText(std::int32_t ms) {
  std::string s =
      TwoDigits(ms / 3600000) + ":" + TwoDigits(ms / 60000 % 60) + ":" + TwoDigits(ms / 1000 % 60);
  if (ms % 1000 != 0) {
    std::string frac = std::to_string(ms % 1000);
    s += "." + std::string(3 - frac.size(), '0') + frac;
  }
  return s;
}

// "H:MM[:SS[.mmm]] [AM|PM]" -> milliseconds since midnight.
bool ParseTimeText(std::string_view text, std::int32_t& ms) {
  text = detail::TrimBlanks(text);
  int pm = -1;
  if (text.size() > 2) {
    std::string tail = detail::LowerUtf8(text.substr(text.size() - 2));
    if (tail == "am" || tail == "pm") {
      pm = tail == "pm";
      text = detail::TrimBlanks(text.substr(0, text.size() - 2));
    }
  }
  int parts[3] = {0, 0, 0};
  int millis = 0;
  int count = 0;
  std::size_t p = 0;
  while (count < 3) {
    std::size_t start = p;
    while (p < text.size() && text[p] >= '0' && text[p] <= '9') ++p;
    if (p == start || p - start > 2) return false;
    parts[count++] = std::stoi(std::string(text.substr(start, p - start)));
    if (p == text.size()) break;
    if (text[p] == ':' && count < 3) {
      ++p;
      continue;
    }
    if (text[p] == '.' && count == 3) {
      ++p;
      std::size_t fs = p;
      while (p < text.size() && text[p] >= '0' && text[p] <= '9') ++p;
      std::string frac(text.substr(fs, p - fs));
      if (frac.empty() || frac.size() > 3) return false;
      frac.resize(3, '0');
      millis = std::stoi(frac);
    }
    break;
  }
  if (p != text.size() || count < 2) return false;
  int hour = parts[0];
  if (pm >= 0) {
    if (hour < 1 || hour > 12) return false;
    if (hour == 12) hour = 0;
    if (pm == 1) hour += 12;
  }
  if (hour > 23 || parts[1] > 59 || parts[2] > 59) return false;
  ms = ((hour * 60 + parts[1]) * 60 + parts[2]) * 1000 + millis;
  return true;
}

constexpr std::int32_t kMaxDay = 3652059;  // 31 December 9999

double DayMsToDateTime(std::int64_t day, std::int64_t ms, const TField& field) {
  if (day < 1 || day > kMaxDay || ms < 0 || ms >= core::kMsPerDay)
    throw core::EConvertError("Invalid date and time value in field '" + field.DisplayName() + "'");
  return core::TimeStampToDateTime(
      core::TimeStamp{static_cast<std::int32_t>(ms), static_cast<std::int32_t>(day)});
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TStringField

TStringField::TStringField(TComponent* owner) : TStringField(owner, ftString) {}
TStringField::TStringField(TComponent* owner, TFieldType type) : TField(owner, type, 20) {}

bool TStringField::GetValue(std::string& value) const {
  auto* buffer = reinterpret_cast<char*>(Scratch());
  buffer[0] = '\0';
  if (!GetData(buffer)) return false;
  value.assign(buffer, strnlen(buffer, static_cast<std::size_t>(DataSize())));
  return true;
}

std::string TStringField::GetAsString() const {
  std::string value;
  GetValue(value);
  return value;
}

void TStringField::SetAsStringValue(const std::string& value) {
  std::size_t bytes = strnlen(value.data(), value.size());
  if (detail::CodePointCount(std::string_view(value.data(), bytes)) >
          static_cast<std::size_t>(Size()) ||
      bytes + 1 > static_cast<std::size_t>(DataSize()))
    DatabaseError("Value is too long for field '" + DisplayName() + "' (" + std::to_string(Size()) +
                      " characters allowed)",
                  DataSet());
  auto* buffer = reinterpret_cast<char*>(Scratch());
  std::memcpy(buffer, value.data(), bytes);
  buffer[bytes] = '\0';
  SetData(buffer);
}

std::int32_t TStringField::GetAsInteger() const {
  std::string s = GetAsString();
  std::int64_t v = 0;
  if (s.empty()) return 0;
  if (!ParseInt64(s, v) || v < INT32_MIN || v > INT32_MAX)
    throw core::EConvertError("'" + s + "' is not a valid integer value");
  return static_cast<std::int32_t>(v);
}

void TStringField::SetAsIntegerValue(std::int32_t value) {
  SetAsStringValue(std::to_string(value));
}

double TStringField::GetAsFloat() const {
  std::string s = GetAsString();
  return s.empty() ? 0.0 : core::TextToFloat(s);
}

void TStringField::SetAsFloatValue(double value) {
  SetAsStringValue(core::FloatToText(value));
}

bool TStringField::GetAsBoolean() const {
  std::string s = GetAsString();
  if (s.empty()) return false;
  switch (s[0]) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      return true;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      return false;
    default:
      throw core::EConvertError("'" + s + "' is not a valid boolean value");
  }
}

void TStringField::SetAsBooleanValue(bool value) {
  SetAsStringValue(value ? "T" : "F");
}

double TStringField::GetAsDateTime() const {
  std::string s = GetAsString();
  double dt = 0;
  if (s.empty()) return 0.0;
  if (!core::TryParseDateTimeText(s, dt))
    throw core::EConvertError("'" + s + "' is not a valid date and time");
  return dt;
}

void TStringField::SetAsDateTimeValue(double value) {
  SetAsStringValue(core::FormatDateTimeText(value));
}

Variant TStringField::GetAsVariant() const {
  std::string value;
  if (!GetValue(value)) return Variant::Null();
  return Variant(std::move(value));
}

void TStringField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty()) {
    ClearValue();
  } else if (value.Type() == core::VarType::ByteArray) {
    const auto& bytes = value.Bytes();
    SetAsStringValue(std::string(bytes.begin(), bytes.end()));
  } else {
    SetAsStringValue(value.ToString());
  }
}

// ---------------------------------------------------------------------------------------------
// Numeric fields

TNumericField::TNumericField(TComponent* owner, TFieldType type, int size)
    : TField(owner, type, size) {
  SetAlignment(taRightJustify);
  SetValidChars(FieldChars("+-0123456789"));
}

TIntegerField::TIntegerField(TComponent* owner)
    : TIntegerField(owner, ftInteger, INT32_MIN, INT32_MAX) {}

TIntegerField::TIntegerField(TComponent* owner, TFieldType type, std::int64_t type_min,
                             std::int64_t type_max)
    : TNumericField(owner, type, 0), type_min_(type_min), type_max_(type_max) {}

TSmallintField::TSmallintField(TComponent* owner)
    : TIntegerField(owner, ftSmallint, -32768, 32767) {}
TWordField::TWordField(TComponent* owner) : TIntegerField(owner, ftWord, 0, 65535) {}
TAutoIncField::TAutoIncField(TComponent* owner)
    : TIntegerField(owner, ftAutoInc, INT32_MIN, INT32_MAX) {}

bool TIntegerField::GetValue(std::int32_t& value) const {
  std::int32_t v = 0;
  if (!GetData(&v)) return false;
  value = v;
  return true;
}

void TIntegerField::CheckRange(std::int64_t value) const {
  std::int64_t lo = type_min_, hi = type_max_;
  if (min_value_ != 0 || max_value_ != 0) {
    lo = std::max<std::int64_t>(lo, min_value_);
    hi = std::min<std::int64_t>(hi, max_value_);
  }
  if (value < lo || value > hi)
    DatabaseError(std::to_string(value) + " is not a valid value for field '" + DisplayName() +
                      "'. The allowed range is " + std::to_string(lo) + " to " + std::to_string(hi),
                  DataSet());
}

std::string TIntegerField::GetAsString() const {
  std::int32_t v = 0;
  return GetValue(v) ? std::to_string(v) : std::string();
}

void TIntegerField::SetAsStringValue(const std::string& value) {
  if (detail::TrimBlanks(value).empty()) {
    ClearValue();
    return;
  }
  std::int64_t v = 0;
  if (!ParseInt64(value, v))
    DatabaseError("'" + value + "' is not a valid integer value for field '" + DisplayName() + "'",
                  DataSet());
  CheckRange(v);
  auto native = static_cast<std::int32_t>(v);
  SetData(&native);
}

std::int32_t TIntegerField::GetAsInteger() const {
  std::int32_t v = 0;
  GetValue(v);
  return v;
}

void TIntegerField::SetAsIntegerValue(std::int32_t value) {
  CheckRange(value);
  SetData(&value);
}

double TIntegerField::GetAsFloat() const {
  return GetAsInteger();
}

void TIntegerField::SetAsFloatValue(double value) {
  if (!std::isfinite(value) || value < -9.2e18 || value > 9.2e18)
    RangeError(value, static_cast<double>(type_min_), static_cast<double>(type_max_));
  // Halves go to the even neighbour, as the variant conversions do.
  auto rounded = static_cast<std::int64_t>(std::nearbyint(value));
  CheckRange(rounded);
  auto native = static_cast<std::int32_t>(rounded);
  SetData(&native);
}

Variant TIntegerField::GetAsVariant() const {
  std::int32_t v = 0;
  return GetValue(v) ? Variant::FromLong(v) : Variant::Null();
}

Variant TSmallintField::GetAsVariant() const {
  std::int32_t v = 0;
  return GetValue(v) ? Variant::FromInteger(static_cast<std::int16_t>(v)) : Variant::Null();
}

void TIntegerField::SetVarValue(const Variant& value) {
  using core::VarType;
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null:
      ClearValue();
      return;
    case VarType::String:
      SetAsStringValue(value.ToString());
      return;
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
      SetAsFloatValue(value.ToDouble());
      return;
    default: {
      std::int64_t v = value.ToInt64();
      CheckRange(v);
      auto native = static_cast<std::int32_t>(v);
      SetData(&native);
    }
  }
}

TFloatField::TFloatField(TComponent* owner) : TFloatField(owner, ftFloat) {}
TFloatField::TFloatField(TComponent* owner, TFieldType type) : TNumericField(owner, type, 0) {
  SetValidChars(FieldChars("+-0123456789.,Ee"));
}
TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner, ftCurrency) {
  SetCurrency(true);
}

bool TFloatField::GetValue(double& value) const {
  double v = 0;
  if (!GetData(&v)) return false;
  value = v;
  return true;
}

std::string TFloatField::GetAsString() const {
  double v = 0;
  return GetValue(v) ? core::FloatToText(v) : std::string();
}

void TFloatField::SetAsStringValue(const std::string& value) {
  if (detail::TrimBlanks(value).empty()) {
    ClearValue();
    return;
  }
  double v = 0;
  if (!core::TryTextToFloat(value, v))
    DatabaseError(
        "'" + value + "' is not a valid floating point value for field '" + DisplayName() + "'",
        DataSet());
  SetAsFloatValue(v);
}

std::int32_t TFloatField::GetAsInteger() const {
  double v = 0;
  GetValue(v);
  double r = std::nearbyint(v);
  if (!(r >= INT32_MIN && r <= INT32_MAX))
    throw core::EConvertError(core::FloatToText(v) + " is not a valid integer value");
  return static_cast<std::int32_t>(r);
}

void TFloatField::SetAsIntegerValue(std::int32_t value) {
  SetAsFloatValue(value);
}

double TFloatField::GetAsFloat() const {
  double v = 0;
  GetValue(v);
  return v;
}

void TFloatField::SetAsFloatValue(double value) {
  if (!std::isfinite(value))
    DatabaseError("Invalid floating point value for field '" + DisplayName() + "'", DataSet());
  if ((min_value_ != 0 || max_value_ != 0) && (value < min_value_ || value > max_value_))
    RangeError(value, min_value_, max_value_);
  SetData(&value);
}

Variant TFloatField::GetAsVariant() const {
  double v = 0;
  return GetValue(v) ? Variant::FromDouble(v) : Variant::Null();
}

void TFloatField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty())
    ClearValue();
  else if (value.Type() == core::VarType::String)
    SetAsStringValue(value.ToString());
  else
    SetAsFloatValue(value.ToDouble());
}

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner, ftBCD, 4) {
  SetValidChars(FieldChars("+-0123456789.,"));
}

bool TBCDField::GetValue(double& value) const {
  double v = 0;
  if (!GetData(&v)) return false;
  value = v;
  return true;
}

std::string TBCDField::GetAsString() const {
  double v = 0;
  return GetValue(v) ? core::FloatToText(v) : std::string();
}

void TBCDField::SetAsStringValue(const std::string& value) {
  if (detail::TrimBlanks(value).empty()) {
    ClearValue();
    return;
  }
  double v = 0;
  if (!core::TryTextToFloat(value, v))
    DatabaseError("'" + value + "' is not a valid BCD value for field '" + DisplayName() + "'",
                  DataSet());
  SetAsFloatValue(v);
}

std::int32_t TBCDField::GetAsInteger() const {
  double r = std::nearbyint(GetAsFloat());
  if (!(r >= INT32_MIN && r <= INT32_MAX))
    throw core::EConvertError(core::FloatToText(r) + " is not a valid integer value");
  return static_cast<std::int32_t>(r);
}

void TBCDField::SetAsIntegerValue(std::int32_t value) {
  SetAsFloatValue(value);
}

double TBCDField::GetAsFloat() const {
  double v = 0;
  GetValue(v);
  return v;
}

void TBCDField::SetAsFloatValue(double value) {
  if (!std::isfinite(value))
    DatabaseError("Invalid BCD value for field '" + DisplayName() + "'", DataSet());
  SetData(&value);
}

Variant TBCDField::GetAsVariant() const {
  double v = 0;
  if (!GetValue(v)) return Variant::Null();
  double scaled = v * 10000.0;
  if (std::fabs(scaled) < 9.2e18 && std::nearbyint(scaled) == scaled)
    return Variant::FromCurrency(core::Currency{static_cast<std::int64_t>(scaled)});
  // More than four decimals (or beyond the currency range): keep every digit the double has.
  return Variant::FromDouble(v);
}

void TBCDField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty())
    ClearValue();
  else if (value.Type() == core::VarType::String)
    SetAsStringValue(value.ToString());
  else
    SetAsFloatValue(value.ToDouble());
}

// ---------------------------------------------------------------------------------------------
// TBooleanField

TBooleanField::TBooleanField(TComponent* owner) : TField(owner, ftBoolean, 0) {}

void TBooleanField::SetDisplayValues(std::string values) {
  display_values_ = values;
  auto semi = values.find(';');
  if (values.empty()) {
    true_text_ = "True";
    false_text_ = "False";
  } else if (semi == std::string::npos) {
    true_text_ = values;
    false_text_.clear();
  } else {
    true_text_ = values.substr(0, semi);
    false_text_ = values.substr(semi + 1);
  }
}

bool TBooleanField::GetValue(bool& value) const {
  std::int16_t v = 0;
  if (!GetData(&v)) return false;
  value = v != 0;
  return true;
}

std::string TBooleanField::GetAsString() const {
  bool v = false;
  if (!GetValue(v)) return {};
  return v ? true_text_ : false_text_;
}

void TBooleanField::SetAsStringValue(const std::string& value) {
  std::string_view text = detail::TrimBlanks(value);
  if (text.empty()) {
    ClearValue();
    return;
  }
  auto leading_part_of = [&](const std::string& word) {
    return text.size() <= word.size() &&
           detail::SameName(text, std::string_view(word).substr(0, text.size()));
  };
  if (leading_part_of(false_text_)) {
    SetAsBooleanValue(false);
  } else if (leading_part_of(true_text_)) {
    SetAsBooleanValue(true);
  } else {
    std::int64_t n = 0;
    if (!ParseInt64(text, n))
      DatabaseError(
          "'" + value + "' is not a valid boolean value for field '" + DisplayName() + "'",
          DataSet());
    SetAsBooleanValue(n != 0);
  }
}

bool TBooleanField::GetAsBoolean() const {
  bool v = false;
  GetValue(v);
  return v;
}

void TBooleanField::SetAsBooleanValue(bool value) {
  std::int16_t native = value ? 1 : 0;
  SetData(&native);
}

std::int32_t TBooleanField::GetAsInteger() const {
  return GetAsBoolean() ? 1 : 0;
}
void TBooleanField::SetAsIntegerValue(std::int32_t value) {
  SetAsBooleanValue(value != 0);
}

Variant TBooleanField::GetAsVariant() const {
  bool v = false;
  return GetValue(v) ? Variant::FromBoolean(v) : Variant::Null();
}

void TBooleanField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty())
    ClearValue();
  else if (value.Type() == core::VarType::String)
    SetAsStringValue(value.ToString());
  else
    SetAsBooleanValue(value.ToBoolean());
}

// ---------------------------------------------------------------------------------------------
// Date and time fields

TDateTimeField::TDateTimeField(TComponent* owner) : TDateTimeField(owner, ftDateTime) {}
TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner, type, 0) {}
TDateField::TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}

bool TDateTimeField::GetValue(double& date_time) const {
  switch (DataType()) {
    case ftDate: {
      std::int32_t day = 0;
      if (!GetData(&day)) return false;
      date_time = DayMsToDateTime(day, 0, *this);
      return true;
    }
    case ftTime: {
      std::int32_t ms = 0;
      if (!GetData(&ms)) return false;
      date_time = DayMsToDateTime(core::kDateDelta, ms, *this);
      return true;
    }
    default: {
      double total = 0;
      if (!GetData(&total)) return false;
      if (!std::isfinite(total))
        throw core::EConvertError("Invalid date and time value in field '" + DisplayName() + "'");
      double day = std::floor(total / core::kMsPerDay);
      date_time = DayMsToDateTime(static_cast<std::int64_t>(day),
                                  static_cast<std::int64_t>(total - day * core::kMsPerDay), *this);
      return true;
    }
  }
}

std::string TDateTimeField::GetAsString() const {
  double dt = 0;
  if (!GetValue(dt)) return {};
  core::TimeStamp ts = core::DateTimeToTimeStamp(dt);
  switch (DataType()) {
    case ftTime:
      return TimeText(ts.Time);
    case ftDate:
      return core::FormatDateTimeText(core::TimeStampToDateTime({0, ts.Date}));
    default:
      return core::FormatDateTimeText(dt);
  }
}

void TDateTimeField::SetAsStringValue(const std::string& value) {
  if (detail::TrimBlanks(value).empty()) {
    ClearValue();
    return;
  }
  double dt = 0;
  std::int32_t ms = 0;
  if (DataType() == ftTime && ParseTimeText(value, ms)) {
    SetAsDateTimeValue(core::TimeStampToDateTime({ms, core::kDateDelta}));
    return;
  }
  if (!core::TryParseDateTimeText(value, dt)) {
    const char* what = DataType() == ftDate   ? "date"
                       : DataType() == ftTime ? "time"
                                              : "date and time";
    DatabaseError("'" + value + "' is not a valid " + what + " for field '" + DisplayName() + "'",
                  DataSet());
  }
  SetAsDateTimeValue(dt);
}

double TDateTimeField::GetAsDateTime() const {
  double dt = 0;
  GetValue(dt);
  return dt;
}

void TDateTimeField::SetAsDateTimeValue(double value) {
  if (!std::isfinite(value))
    DatabaseError("Invalid date and time value for field '" + DisplayName() + "'", DataSet());
  core::TimeStamp ts = core::DateTimeToTimeStamp(value);
  switch (DataType()) {
    case ftDate:
      SetData(&ts.Date);
      break;
    case ftTime:
      SetData(&ts.Time);
      break;
    default: {
      double total = static_cast<double>(ts.Date) * core::kMsPerDay + ts.Time;
      SetData(&total);
    }
  }
}

double TDateTimeField::GetAsFloat() const {
  return GetAsDateTime();
}
void TDateTimeField::SetAsFloatValue(double value) {
  SetAsDateTimeValue(value);
}

Variant TDateTimeField::GetAsVariant() const {
  double dt = 0;
  return GetValue(dt) ? Variant::FromDate(dt) : Variant::Null();
}

void TDateTimeField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty())
    ClearValue();
  else if (value.Type() == core::VarType::String)
    SetAsStringValue(value.ToString());
  else
    SetAsDateTimeValue(value.ToDate());
}

// ---------------------------------------------------------------------------------------------
// Binary fields

TBinaryField::TBinaryField(TComponent* owner, TFieldType type, int size)
    : TField(owner, type, size) {}

std::string TBinaryField::GetAsString() const {
  std::string bytes;
  GetBytes(bytes);
  return bytes;
}

void TBinaryField::SetAsStringValue(const std::string& value) {
  if (value.empty())
    ClearValue();
  else
    SetBytes(value);
}

Variant TBinaryField::GetAsVariant() const {
  std::string bytes;
  if (!GetBytes(bytes)) return Variant::Null();
  return Variant::FromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void TBinaryField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty()) {
    ClearValue();
  } else if (value.Type() == core::VarType::ByteArray) {
    const auto& bytes = value.Bytes();
    SetBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  } else {
    SetBytes(value.ToString());
  }
}

TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner, ftBytes, 16) {}

bool TBytesField::GetBytes(std::string& bytes) const {
  std::uint8_t* buffer = Scratch();
  if (!GetData(buffer)) return false;
  bytes.assign(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(Size()));
  return true;
}

void TBytesField::SetBytes(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(Size()))
    DatabaseError("Value is too long for field '" + DisplayName() + "' (" + std::to_string(Size()) +
                      " bytes allowed)",
                  DataSet());
  std::uint8_t* buffer = Scratch();
  std::memset(buffer, 0, static_cast<std::size_t>(Size()));
  std::memcpy(buffer, bytes.data(), bytes.size());
  SetData(buffer);
}

TVarBytesField::TVarBytesField(TComponent* owner) : TBinaryField(owner, ftVarBytes, 16) {}

bool TVarBytesField::GetBytes(std::string& bytes) const {
  std::uint8_t* buffer = Scratch();
  buffer[0] = buffer[1] = 0;
  if (!GetData(buffer)) return false;
  std::size_t length = buffer[0] | (static_cast<std::size_t>(buffer[1]) << 8);
  length = std::min(length, static_cast<std::size_t>(Size()));
  bytes.assign(reinterpret_cast<const char*>(buffer + 2), length);
  return true;
}

void TVarBytesField::SetBytes(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(Size()) || bytes.size() > 0xFFFF)
    DatabaseError("Value is too long for field '" + DisplayName() + "' (" + std::to_string(Size()) +
                      " bytes allowed)",
                  DataSet());
  std::uint8_t* buffer = Scratch();
  buffer[0] = static_cast<std::uint8_t>(bytes.size() & 0xFF);
  buffer[1] = static_cast<std::uint8_t>(bytes.size() >> 8);
  std::memcpy(buffer + 2, bytes.data(), bytes.size());
  SetData(buffer);
}

// ---------------------------------------------------------------------------------------------
// Blob fields

TBlobField::TBlobField(TComponent* owner) : TBlobField(owner, ftBlob) {}
TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner, type, 0) {}
TMemoField::TMemoField(TComponent* owner) : TMemoField(owner, ftMemo) {}
TMemoField::TMemoField(TComponent* owner, TFieldType type) : TBlobField(owner, type) {}
TFmtMemoField::TFmtMemoField(TComponent* owner) : TMemoField(owner, ftFmtMemo) {}
TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner, ftGraphic) {}

void TBlobField::SetBlobType(TFieldType type) {
  if (!IsBlobType(type))
    DatabaseError("Invalid blob type for field '" + DisplayName() + "'", DataSet());
  if (DataSet() != nullptr) DataSet()->CheckInactive();
  SetDataType(type);
}

std::int64_t TBlobField::BlobSize() const {
  if (DataSet() == nullptr) return 0;
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream ? stream->Size() : 0;
}

bool TBlobField::GetIsNull() const {
  if (modified_) return BlobSize() == 0;
  return TField::GetIsNull();
}

namespace {

std::unique_ptr<TStream> OpenWriteStream(TBlobField& field) {
  auto stream = field.DataSet()->CreateBlobStream(&field, bmWrite);
  if (!stream)
    DatabaseError("Field '" + field.DisplayName() + "' cannot be modified", field.DataSet());
  return stream;
}

}  // namespace

void TBlobField::ClearValue() {
  CheckWriteState();
  OpenWriteStream(*this);  // opening for writing empties the content
}

std::string TBlobField::GetAsString() const {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream ? stream->ReadAll() : std::string();
}

void TBlobField::SetAsStringValue(const std::string& value) {
  CheckWriteState();
  auto stream = OpenWriteStream(*this);
  stream->WriteString(value);
}

void TBlobField::LoadFromStream(TStream& source) {
  CheckWriteState();
  auto stream = OpenWriteStream(*this);
  stream->CopyFrom(source, 0);
}

void TBlobField::SaveToStream(TStream& destination) const {
  if (DataSet() == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (stream) destination.CopyFrom(*stream, 0);
}

void TBlobField::LoadFromBlob(const TBlobField& source) {
  CheckWriteState();
  if (source.DataSet() == nullptr)
    DatabaseError("Field '" + source.DisplayName() + "' has no dataset");
  auto from = source.DataSet()->CreateBlobStream(const_cast<TBlobField*>(&source), bmRead);
  auto to = OpenWriteStream(*this);
  if (from) to->CopyFrom(*from, 0);
}

void TBlobField::Assign(const TField& source) {
  if (&source == this) return;
  if (source.IsBlob())
    LoadFromBlob(static_cast<const TBlobField&>(source));
  else
    TField::Assign(source);
}

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  std::string bytes = GetAsString();
  return Variant::FromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

Variant TMemoField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TBlobField::SetVarValue(const Variant& value) {
  if (value.IsNullOrEmpty()) {
    ClearValue();
  } else if (value.Type() == core::VarType::ByteArray) {
    const auto& bytes = value.Bytes();
    SetAsStringValue(std::string(bytes.begin(), bytes.end()));
  } else {
    SetAsStringValue(value.ToString());
  }
}

void TBlobField::GetText(std::string& text, bool) const {
  std::string name = DataType() == ftGraphic ? "graphic" : "blob";
  if (!IsNull())
    for (char& c : name) c = static_cast<char>(c - 'a' + 'A');
  text = "(" + name + ")";
}

void TMemoField::GetText(std::string& text, bool) const {
  text = IsNull() ? "(memo)" : "(MEMO)";
}

}  // namespace ds

#include "daodb/dao_utils.h"

#include <cstdint>

#include "core/datetime.h"

namespace daodb {

using ds::TFieldType;

int FieldTypeToDaoType(TFieldType type) {
  switch (static_cast<int>(type) % 128) {
    case static_cast<int>(TFieldType::ftString):
      return 10;
    case static_cast<int>(TFieldType::ftSmallint):
      return 3;
    case static_cast<int>(TFieldType::ftInteger):
    case static_cast<int>(TFieldType::ftWord):
      return 4;
    case static_cast<int>(TFieldType::ftBoolean):
      return 1;
    case static_cast<int>(TFieldType::ftFloat):
      return 7;
    case static_cast<int>(TFieldType::ftCurrency):
    case static_cast<int>(TFieldType::ftBCD):
      return 5;
    case static_cast<int>(TFieldType::ftDate):
    case static_cast<int>(TFieldType::ftTime):
    case static_cast<int>(TFieldType::ftDateTime):
      return 8;
    case static_cast<int>(TFieldType::ftBytes):
      return 15;  // GUID, not Binary
    case static_cast<int>(TFieldType::ftVarBytes):
    case static_cast<int>(TFieldType::ftMemo):
    case static_cast<int>(TFieldType::ftFmtMemo):
      return 12;
    case static_cast<int>(TFieldType::ftAutoInc):
      return AutoIncrementMarker;
    case static_cast<int>(TFieldType::ftBlob):
    case static_cast<int>(TFieldType::ftGraphic):
    case static_cast<int>(TFieldType::ftParadoxOle):
    case static_cast<int>(TFieldType::ftDBaseOle):
    case static_cast<int>(TFieldType::ftTypedBinary):
      return 11;
    default:
      return NoDaoType;
  }
}

int DaoFieldSize(int dao_type, int definition_size) {
  switch (dao_type) {
    case 9:
    case 10:
    case 11:
    case 12:
    case 15:
    case 17:
    case 18:
      return definition_size;
    default:
      return 0;
  }
}

TFieldType DaoTypeToFieldType(int code) {
  switch (code) {
    case 1:
      return TFieldType::ftBoolean;
    case 2:
    case 3:
      return TFieldType::ftSmallint;
    case 4:
    case 16:
      return TFieldType::ftInteger;
    case 5:
      return TFieldType::ftCurrency;
    case 6:
    case 7:
    case 19:
    case 20:
    case 21:
      return TFieldType::ftFloat;
    case 8:
      return TFieldType::ftDate;
    case 9:
    case 15:
      return TFieldType::ftBytes;
    case 10:
    case 18:
      return TFieldType::ftString;
    case 11:
    case 17:
      return TFieldType::ftBlob;
    case 12:
      return TFieldType::ftMemo;
    case 22:
      return TFieldType::ftTime;
    case 23:
      return TFieldType::ftDateTime;
    case AutoIncrementMarker:
      return TFieldType::ftAutoInc;
    default:
      return TFieldType::ftUnknown;
  }
}

std::string FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "ftUnknown", "ftString",   "ftSmallInt", "ftInteger", "ftWord", "ftBoolean",
      "ftFloat",   "ftCurrency", "ftBCD",      "ftDate",    "ftTime", "ftDateTime",
      "ftUnknown", "ftUnknown",  "ftAutoInc",  "ftBlob",    "ftMemo"};
  const int ordinal = static_cast<int>(type);
  if (ordinal < 0 || ordinal >= static_cast<int>(sizeof kNames / sizeof kNames[0]))
    return "ftUnknown";
  return kNames[ordinal];
}

std::string BracketName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    if (c == '.')
      out += "].[";
    else
      out += c;
  }
  out += ']';
  return out;
}

namespace {

// Bytes of the UTF-8 character that starts at `i` (1 for a byte that starts none).
std::size_t CharLength(std::string_view s, std::size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
  if (i + n > s.size()) return 1;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 1;
  return n;
}

}  // namespace

std::string CleanDateTimeText(std::string_view text, DateTimeSeparators separators) {
  if (text.empty()) return std::string();
  std::string s(text);
  // The abbreviation dot after the character 0xE3 of the Central European code page ("ă"),
  // in UTF-8 or as the raw byte, goes first (only its first occurrence).
  {
    std::size_t utf8 = s.find("\xC4\x83.");
    std::size_t raw = s.find("\xE3.");
    if (utf8 != std::string::npos && (raw == std::string::npos || utf8 <= raw))
      s.erase(utf8, 3);
    else if (raw != std::string::npos)
      s.erase(raw, 2);
  }
  auto allowed = [&](char c) {
    return (c >= '0' && c <= '9') || c == '/' || c == separators.date || c == separators.time;
  };
  std::string kept;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t n = CharLength(s, i);
    kept += (n == 1 && allowed(s[i])) ? s[i] : ' ';
    i += n;
  }
  // Single blanks, trimmed.
  std::string single;
  for (char c : kept) {
    if (c == ' ' && (single.empty() || single.back() == ' ')) continue;
    single += c;
  }
  while (!single.empty() && single.back() == ' ') single.pop_back();
  // The blank nearest to the left of the first time separator parts the date from the time;
  // every other blank goes.
  std::size_t marked = std::string::npos;
  std::size_t time = single.find(separators.time);
  if (time != std::string::npos) {
    std::size_t blank = single.rfind(' ', time);
    if (blank != std::string::npos) marked = blank;
  }
  std::string out;
  for (std::size_t i = 0; i < single.size(); ++i)
    if (single[i] != ' ' || i == marked) out += single[i];
  return out;
}

namespace {

// As the framework's string-to-integer conversion reads it: leading blanks, a sign, digits.
bool DecimalInteger(std::string_view s, std::int64_t& out) {
  std::size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  s.remove_prefix(i);
  i = 0;
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

}  // namespace

void TimeStampTextToDate(std::string_view text, core::Variant& value) {
  value = core::Variant::Null();
  std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return;
  std::int64_t day = 0, ms = 0;
  if (!DecimalInteger(text.substr(0, blank), day) || !DecimalInteger(text.substr(blank + 1), ms))
    return;
  if (day < INT32_MIN || day > INT32_MAX || ms < INT32_MIN || ms > INT32_MAX) return;
  try {
    core::TimeStamp stamp{static_cast<std::int32_t>(ms), static_cast<std::int32_t>(day)};
    value = core::Variant::FromDate(core::TimeStampToDateTime(stamp));
  } catch (const core::EConvertError&) {
    value = core::Variant::Null();
  }
}

}  // namespace daodb

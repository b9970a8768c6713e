// The DAO utility routines the table dataset and the table manager share: field types to and
// from DAO's type codes, DAO's field-size rule, field-type names, bracket quoting of dotted
// names for criteria, and two conversions of date/time texts.
//
// Stateless and never raising: unknown codes map to ftUnknown / "ftUnknown" / 1024, and texts
// that do not convert give Null.
#pragma once

#include <string>
#include <string_view>

#include "core/variant.h"
#include "dataset/db.h"

namespace daodb {

// Stands for a Long field with DAO's auto-increment attribute in table-creation arrays; no
// DAO data type has this code.
inline constexpr int AutoIncrementMarker = 40000;
// The code of framework types DAO has no data type for.
inline constexpr int NoDaoType = 1024;

// Framework field type (its ordinal taken modulo 128) to DAO data type code.
int FieldTypeToDaoType(ds::TFieldType type);
// DAO's size for a field: the definition size for Binary, Text, Long binary, Memo, GUID,
// VarBinary and Char, 0 for every other code (AutoIncrementMarker included).
int DaoFieldSize(int dao_type, int definition_size);
// DAO data type code (or AutoIncrementMarker) to framework field type; ftUnknown otherwise.
ds::TFieldType DaoTypeToFieldType(int code);
// "ftString", "ftSmallInt", ... for the types of ordinals 1 to 11 and 14 to 16; "ftUnknown" for
// every other type. (Call it qualified: the framework has a FieldTypeName of its own.)
std::string FieldTypeName(ds::TFieldType type);
// "a.b.c" -> "[a].[b].[c]"; empty parts stay as empty brackets.
std::string BracketName(std::string_view name);

// The separators CleanDateTimeText allows besides the digits and "/": the program's date and
// time separators. Our date-time texts are "YYYY-MM-DD HH:MM:SS", so "-" and ":".
struct DateTimeSeparators {
  char date = '-';
  char time = ':';
};
// Keeps a date and a time out of a text with stray letters and spacing: one blank between the
// date and the time, no other blanks. An empty text stays empty.
std::string CleanDateTimeText(std::string_view text, DateTimeSeparators separators = {});

// "<day count> <milliseconds>" (day 1 = 1 January of year 1) to a Date variant; Null for a
// text without a blank or with a part that is no decimal integer or out of range.
void TimeStampTextToDate(std::string_view text, core::Variant& value);

}  // namespace daodb

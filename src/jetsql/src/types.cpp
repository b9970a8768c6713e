#include "jetsql/types.h"

#include <cctype>

#include "core/errors.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"
#include "values.h"

namespace jetsql {
namespace {

struct TypeName {
  std::string_view name;
  DataType type;
};

// The first name of each type is the one a PARAMETERS clause is written with.
constexpr TypeName kTypeNames[] = {
    {"Bit", DataType::kBoolean},
    {"Boolean", DataType::kBoolean},
    {"Logical", DataType::kBoolean},
    {"Logical1", DataType::kBoolean},
    {"YesNo", DataType::kBoolean},
    {"Byte", DataType::kByte},
    {"Integer1", DataType::kByte},
    {"TinyInt", DataType::kByte},
    {"Short", DataType::kInteger},
    {"Integer2", DataType::kInteger},
    {"SmallInt", DataType::kInteger},
    {"Long", DataType::kLong},
    {"Int", DataType::kLong},
    {"Integer", DataType::kLong},
    {"Integer4", DataType::kLong},
    {"Counter", DataType::kLong},
    {"AutoIncrement", DataType::kLong},
    {"Currency", DataType::kCurrency},
    {"Money", DataType::kCurrency},
    {"IEEESingle", DataType::kSingle},
    {"Single", DataType::kSingle},
    {"Real", DataType::kSingle},
    {"Float4", DataType::kSingle},
    {"IEEEDouble", DataType::kDouble},
    {"Double", DataType::kDouble},
    {"Float", DataType::kDouble},
    {"Float8", DataType::kDouble},
    {"Number", DataType::kDouble},
    {"DateTime", DataType::kDate},
    {"Date", DataType::kDate},
    {"Time", DataType::kDate},
    {"TimeStamp", DataType::kDate},
    {"Binary", DataType::kBinary},
    {"VarBinary", DataType::kBinary},
    {"Text", DataType::kText},
    {"Char", DataType::kText},
    {"Character", DataType::kText},
    {"VarChar", DataType::kText},
    {"String", DataType::kText},
    {"Alphanumeric", DataType::kText},
    {"NChar", DataType::kText},
    {"NVarChar", DataType::kText},
    {"LongBinary", DataType::kLongBinary},
    {"General", DataType::kLongBinary},
    {"OLEObject", DataType::kLongBinary},
    {"Image", DataType::kLongBinary},
    {"Memo", DataType::kMemo},
    {"LongText", DataType::kMemo},
    {"LongChar", DataType::kMemo},
    {"Note", DataType::kMemo},
    {"NText", DataType::kMemo},
    {"Guid", DataType::kGuid},
    {"UniqueIdentifier", DataType::kGuid},
    {"Decimal", DataType::kDecimal},
    {"Numeric", DataType::kDecimal},
    {"Dec", DataType::kDecimal},
    {"Value", DataType::kValue},
};

bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string_view DataTypeSqlName(DataType type) {
  for (const TypeName& entry : kTypeNames) {
    if (entry.type == type) return entry.name;
  }
  return "Value";
}

bool DataTypeFromSqlName(std::string_view name, DataType& out) {
  for (const TypeName& entry : kTypeNames) {
    if (AsciiEqualNoCase(entry.name, name)) {
      out = entry.type;
      return true;
    }
  }
  return false;
}

core::Variant ConvertToType(const core::Variant& value, DataType type) {
  if (value.IsNull()) return value;
  try {
    switch (type) {
      case DataType::kValue:
      case DataType::kBinary:
      case DataType::kLongBinary:
      case DataType::kGuid:
        return value;
      case DataType::kBoolean:
        return core::Variant::FromBoolean(value.ToBoolean());
      case DataType::kByte:
        return core::Variant::FromByte(value.ToByte());
      case DataType::kInteger:
        return core::Variant::FromInteger(value.ToInteger());
      case DataType::kLong:
        return core::Variant::FromLong(value.ToLong());
      case DataType::kCurrency:
        return core::Variant::FromCurrency(value.ToCurrency());
      case DataType::kSingle:
        return core::Variant::FromSingle(value.ToSingle());
      case DataType::kDouble:
        return core::Variant::FromDouble(value.ToDouble());
      case DataType::kDate:
        return core::Variant::FromDate(detail::ToDateValue(value));
      case DataType::kText:
      case DataType::kMemo:
        return core::Variant::FromString(detail::ToText(value));
      case DataType::kDecimal:
        return core::Variant::FromDecimal(value.ToDecimal());
    }
  } catch (const SqlError&) {
    ThrowError(dao_error::kConversionError);
  } catch (const core::Exception&) {
    ThrowError(dao_error::kConversionError);
  }
  return value;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (IsAscii(a) && IsAscii(b)) return AsciiEqualNoCase(a, b);
  return CompareText(a, b) == 0;
}

}  // namespace jetsql

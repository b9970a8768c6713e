// The vocabulary the SQL layer shares with its callers: data types by DAO's codes, column
// descriptions, and the one-method view of a row through which every expression reads values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "jet/sort_order.h"

namespace jetsql {

// DAO's field and parameter type codes (`dbBoolean` 1 ... `dbDecimal` 20). `kValue` (0) is an
// untyped parameter ("Value" in a PARAMETERS clause) or a column whose type is not known.
enum class DataType : std::uint8_t {
  kValue = 0,
  kBoolean = 1,
  kByte = 2,
  kInteger = 3,
  kLong = 4,
  kCurrency = 5,
  kSingle = 6,
  kDouble = 7,
  kDate = 8,
  kBinary = 9,
  kText = 10,
  kLongBinary = 11,
  kMemo = 12,
  kGuid = 15,
  kDecimal = 20,
};

// The Jet SQL name of a type as a PARAMETERS clause writes it ("Long", "Text", "DateTime").
std::string_view DataTypeSqlName(DataType type);
// Reads a Jet SQL type name or one of its synonyms (case-insensitive); false when unknown.
bool DataTypeFromSqlName(std::string_view name, DataType& out);

// Converts a value to a type the way a parameter or field assignment does; Null stays Null.
// A value that cannot be converted raises SqlError 3421.
core::Variant ConvertToType(const core::Variant& value, DataType type);

// One column visible to an expression. `table` is the name (or alias) that qualifies it in
// "[table].[column]"; it may be empty when the column has no table.
struct ColumnInfo {
  std::string name;
  DataType type = DataType::kValue;
  std::string table;
  // The order its text compares and sorts in (the column's, which is the database's).
  jet::SortOrder sort_order = jet::kGeneralSortOrder;
};

// A row as expressions see it: values by column position in the list of columns the
// expression was compiled against.
class RowView {
 public:
  virtual ~RowView() = default;
  virtual core::Variant Get(std::size_t column) const = 0;
};

// A row held as a vector of values.
class ValuesRow final : public RowView {
 public:
  explicit ValuesRow(const std::vector<core::Variant>& values) : values_(&values) {}
  core::Variant Get(std::size_t column) const override {
    return column < values_->size() ? (*values_)[column] : core::Variant::Null();
  }

 private:
  const std::vector<core::Variant>* values_;
};

// Jet names compare without regard to case (ASCII letters; other characters as they are).
bool NamesEqual(std::string_view a, std::string_view b);

}  // namespace jetsql

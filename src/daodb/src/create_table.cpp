// TMxDaoDatabase::CreateTable: a new table from five parallel arrays (names, DAO types, sizes,
// index flags, required flags; a Decimal's size may be the pair precision, scale), built with DAO's
// TableDef, Field and Index objects in a fixed order. Required flags are set only after the table
// exists, as the callers expect: a failure there leaves the table in place without them.
#include <string>
#include <vector>

#include "core/errors.h"
#include "dao/constants.h"
#include "daodb/dao_utils.h"
#include "daodb/mx_dao_database.h"

namespace daodb {

namespace {

constexpr std::int32_t kPrimaryKeyFlag = 1;
constexpr std::int32_t kUniqueIndexFlag = 2;
constexpr std::int32_t kIndexFlag = 4;

const std::vector<core::Variant>& ElementsOf(const core::Variant& array, const char* what) {
  if (array.Type() != core::VarType::Array)
    core::DatabaseError(std::string("TMxDaoDatabase.CreateTable: ") + what +
                        " parameter is not an array!");
  return array.Elements();
}

const core::Variant& ElementAt(const std::vector<core::Variant>& elements, std::size_t i,
                               const char* what) {
  if (i >= elements.size())
    core::DatabaseError(std::string("TMxDaoDatabase.CreateTable: ") + what +
                        " parameter has fewer elements than FieldTypes!");
  return elements[i];
}

}  // namespace

bool TMxDaoDatabase::CreateTable(const std::string& table_name, const core::Variant& field_names,
                                 const core::Variant& field_types, const core::Variant& field_sizes,
                                 const core::Variant& field_indexes,
                                 const core::Variant& field_required) {
  if (!FConnected)
    core::DatabaseError(
        "TMxDaoDatabase.CreateTable: Cannot create table while Database is NOT connected!");
  if (table_name.empty())
    core::DatabaseError("TMxDaoDatabase.CreateTable: TableName parameter is empty!");

  dao::Database& db = *FDaoDatabase;
  auto table = db.CreateTableDef(table_name);

  const auto& types_in = ElementsOf(field_types, "FieldTypes");
  const auto& names = ElementsOf(field_names, "FieldNames");
  const auto& sizes = ElementsOf(field_sizes, "FieldSizes");
  const auto& index_flags = ElementsOf(field_indexes, "FieldIndexes");
  const auto& required = ElementsOf(field_required, "FieldRequired");
  const std::size_t count = types_in.size();
  std::vector<std::int32_t> types(count);
  for (std::size_t i = 0; i < count; ++i) types[i] = types_in[i].ToLong();

  const std::string primary_name = IsParadoxType(FDatabaseType) ? table_name : "PrimaryKey";
  std::shared_ptr<dao::Index> primary;

  for (std::size_t i = 0; i < count; ++i) {
    bool auto_increment = false;
    if (types[i] == AutoIncrementMarker) {
      types[i] = dao::dbLong;
      auto_increment = true;
    }
    std::string name = ElementAt(names, i, "FieldNames").ToString();
    const core::Variant& size_element = ElementAt(sizes, i, "FieldSizes");
    const bool decimal_pair =
        types[i] == dao::dbDecimal && size_element.Type() == core::VarType::Array;
    const std::int32_t size = decimal_pair ? -1 : size_element.ToLong();
    std::shared_ptr<dao::Field> field;
    if (decimal_pair && size_element.Type() == core::VarType::Array) {
      field = table->CreateField(name, types[i]);
      // A Decimal's size is its precision and scale.
      const auto& digits = size_element.Elements();
      if (digits.size() != 2)
        core::DatabaseError("TMxDaoDatabase.CreateTable: the size of Decimal field '" + name +
                            "' is not a pair of precision and scale!");
      field->SetPrecision(digits[0].ToLong());
      field->SetScale(digits[1].ToLong());
    } else {
      field = table->CreateField(name, types[i], size);
    }
    table->Fields().Append(field);
    if (auto_increment) table->Fields().Item(name)->SetAttributes(dao::dbAutoIncrField);
    std::int32_t flags = ElementAt(index_flags, i, "FieldIndexes").ToLong();
    if (flags > 0 && (flags & kPrimaryKeyFlag) != 0) {
      if (!primary) {
        primary = table->CreateIndex(primary_name);
        primary->SetPrimary(true);
        primary->SetUnique(true);
      }
      primary->Fields().Append(table->CreateField(name, types[i], size));
    }
  }
  if (primary) table->Indexes().Append(primary);

  for (std::size_t i = 0; i < count; ++i) {
    std::int32_t flags = index_flags[i].ToLong();
    if ((flags & (kUniqueIndexFlag | kIndexFlag)) == 0) continue;
    std::string name = names[i].ToString();
    auto index = table->CreateIndex(name);
    if ((flags & kUniqueIndexFlag) != 0) index->SetUnique(true);
    const std::int32_t size =
        sizes[i].Type() == core::VarType::Array ? -1 : static_cast<std::int32_t>(sizes[i].ToLong());
    index->Fields().Append(table->CreateField(name, types[i], size));
    table->Indexes().Append(index);
  }

  db.TableDefs().Append(table);
  RefreshDefinitions();

  for (std::size_t i = 0; i < count; ++i) {
    if (ElementAt(required, i, "FieldRequired").ToLong() != 1) continue;
    db.TableDefs().Item(table_name)->Fields().Item(names[i].ToString())->SetRequired(true);
  }
  RefreshDefinitions();
  return true;
}

}  // namespace daodb

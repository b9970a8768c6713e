// TMxDaoTableManager: a new table from a dataset's field and index definitions. The fields go
// through TMxDaoDatabase::CreateTable; the indexes are added afterwards, one DAO Index each.
#include <algorithm>

#include "core/errors.h"
#include "dao/constants.h"
#include "daodb/dao_utils.h"
#include "daodb/mx_dao_database.h"
#include "daotable/dummy_dataset.h"

namespace daodb {

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

bool SameText(const std::string& a, const std::string& b) {
  return Lower(a) == Lower(b);
}

}  // namespace

TMxDaoTableManager::TMxDaoTableManager(TMxDaoDatabase* database)
    : FDatabase(database),
      FDummy(std::make_unique<daotable::TDummyDataset>()),
      FFieldDefs(std::make_unique<ds::TFieldDefs>(FDummy.get())),
      FIndexDefs(std::make_unique<ds::TIndexDefs>(FDummy.get())) {}

TMxDaoTableManager::~TMxDaoTableManager() {
  FFieldDefs.reset();
  FIndexDefs.reset();
  FDummy.reset();
}

bool TMxDaoTableManager::CheckReady() const {
  if (!FDatabase) core::DatabaseError("Database property not set!");
  if (!FDatabase->Connected()) core::DatabaseError("Database is not connected!");
  if (TableName.empty()) core::DatabaseError("Missing TableName!");
  return true;
}

void TMxDaoTableManager::BuildTable() {
  CheckReady();
  const int count = FFieldDefs->Count();
  std::vector<core::Variant> names, types, sizes, indexes, required;
  names.reserve(static_cast<std::size_t>(count));
  types.reserve(static_cast<std::size_t>(count));
  sizes.reserve(static_cast<std::size_t>(count));
  indexes.reserve(static_cast<std::size_t>(count));
  required.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const ds::TFieldDef& def = FFieldDefs->Items(i);
    int type = FieldTypeToDaoType(def.DataType());
    int size = DaoFieldSize(type, def.Size());
    if (FDatabase->OnMapField) FDatabase->OnMapField(FDatabase, def, type, size);
    names.push_back(core::Variant::FromString(def.Name()));
    types.push_back(core::Variant::FromLong(type));
    if (type == dao::dbDecimal) {
      // The definition's precision (28 at most, all Jet holds) and its size as the scale.
      const int precision = def.Precision() > 0 && def.Precision() < 28 ? def.Precision() : 28;
      const int scale = std::clamp(def.Size(), 0, precision);
      sizes.push_back(core::Variant::FromArray(
          {core::Variant::FromLong(precision), core::Variant::FromLong(scale)}));
    } else {
      sizes.push_back(core::Variant::FromLong(size));
    }
    indexes.push_back(core::Variant::FromLong(0));
    required.push_back(core::Variant::FromLong(def.Required() ? 1 : 0));
  }
  FDatabase->CreateTable(
      TableName, core::Variant::FromArray(std::move(names)),
      core::Variant::FromArray(std::move(types)), core::Variant::FromArray(std::move(sizes)),
      core::Variant::FromArray(std::move(indexes)), core::Variant::FromArray(std::move(required)));
  CreateIndexes();
}

void TMxDaoTableManager::CreateIndexes() {
  if (FIndexDefs->Empty()) return;
  CheckReady();
  auto table = FDatabase->DaoDatabase()->TableDefs().Item(TableName);

  bool has_primary = false;
  std::string primary_name;
  for (int i = 0; i < FIndexDefs->Count(); ++i) {
    const ds::TIndexDef& def = FIndexDefs->Items(i);
    if (def.Options().Contains(ds::ixPrimary)) {
      has_primary = true;
      primary_name = def.Name();
    }
  }
  if (TMxDaoDatabase::IsParadoxType(FDatabase->DatabaseType())) primary_name = TableName;

  if (has_primary) {
    if (HasPrimaryIndex(*table)) DeletePrimaryIndex(*table);
    auto primary = table->CreateIndex(primary_name);
    primary->SetPrimary(true);
    ds::TStringList fields;
    for (int i = 0; i < FIndexDefs->Count(); ++i) {
      const ds::TIndexDef& def = FIndexDefs->Items(i);
      if (!def.Options().Contains(ds::ixPrimary)) continue;
      SplitFieldList(def.Fields(), fields);
      for (int f = 0; f < fields.Count(); ++f)
        primary->Fields().Append(primary->CreateField(fields[f]));
    }
    table->Indexes().Append(primary);
  }

  const ds::TIndexOptions plain{};
  const ds::TIndexOptions unique{ds::ixUnique};
  const ds::TIndexOptions primary_unique{ds::ixPrimary, ds::ixUnique};
  for (int i = 0; i < FIndexDefs->Count(); ++i) {
    const ds::TIndexDef& def = FIndexDefs->Items(i);
    ds::TIndexOptions options = def.Options();
    if (!(options == plain || options == unique || options == primary_unique)) continue;
    ds::TStringList fields;
    SplitFieldList(def.Fields(), fields);
    std::string name = def.Name();
    if (name.empty() && fields.Count() > 0) name = fields[0];
    if (has_primary && SameText(name, primary_name)) continue;
    auto index = table->CreateIndex(name);
    if (options.Contains(ds::ixUnique)) index->SetUnique(true);
    for (int f = 0; f < fields.Count(); ++f) index->Fields().Append(index->CreateField(fields[f]));
    table->Indexes().Append(index);
  }
  FDatabase->RefreshDefinitions();
}

void TMxDaoTableManager::SplitFieldList(const std::string& text, ds::TStringList& list) {
  std::string lines = text;
  for (char& c : lines)
    if (c == ';') c = '\n';
  list.SetText(lines);
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& line = list[i];
    std::size_t start = line.find_first_not_of(' ');
    std::size_t end = line.find_last_not_of(' ');
    list.SetStrings(
        i, start == std::string::npos ? std::string() : line.substr(start, end - start + 1));
  }
}

bool TMxDaoTableManager::HasPrimaryIndex(dao::TableDef& table_def) {
  dao::Indexes& indexes = table_def.Indexes();
  for (int i = 0; i < indexes.Count(); ++i)
    if (indexes.Item(i)->Primary()) return true;
  return false;
}

void TMxDaoTableManager::DeletePrimaryIndex(dao::TableDef& table_def) {
  dao::Indexes& indexes = table_def.Indexes();
  for (int i = 0; i < indexes.Count(); ++i) {
    auto index = indexes.Item(i);
    if (index->Primary()) {
      indexes.Delete(index->Name());
      return;
    }
  }
}

}  // namespace daodb

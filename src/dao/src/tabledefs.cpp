// Making tables real: TableDefs.Append, and design changes to a table that exists.
#include <algorithm>

#include "recordset_impl.h"

namespace dao::detail {
namespace {

jet::NewColumn ColumnOfField(EngineState& e, const FieldState& f) {
  jet::NewColumn c;
  c.name = f.name;
  int type = ColumnTypeOfDao(f.type);
  if (f.type == 0 || type < 0) Raise(e, err::kInvalidFieldType, source::kTableDefs);
  c.type = static_cast<std::uint8_t>(type);
  if (f.type == dbText || f.type == dbBinary) {
    std::int32_t size = f.size_given && f.size > 0 ? f.size : 255;
    if (size > 255)
      RaiseText(e, err::kInvalidArgument, source::kTableDefs,
                ErrorText(err::kInvalidArgument) + " (field '" + f.name + "' of " +
                    std::to_string(size) + " characters; Text and Binary hold at most 255)");
    c.size = static_cast<std::uint16_t>(size);
  }
  if (f.type == dbDecimal) {
    if (f.scale > f.precision)
      RaiseText(e, err::kInvalidArgument, source::kTableDefs,
                ErrorText(err::kInvalidArgument) + " (field '" + f.name + "' has scale " +
                    std::to_string(f.scale) + " above its precision " +
                    std::to_string(f.precision) + ")");
    c.precision = static_cast<std::uint8_t>(f.precision);
    c.scale = static_cast<std::uint8_t>(f.scale);
  }
  c.required = f.required;
  c.allow_zero_length = f.allow_zero_length;
  c.default_value = f.default_value;
  c.auto_increment =
      (f.attributes & dbAutoIncrField) != 0 && (f.type == dbLong || f.type == dbGUID);
  c.unicode_compression = true;
  return c;
}

}  // namespace

void AppendTableDef(const std::shared_ptr<DatabaseState>& db,
                    const std::shared_ptr<TableDefState>& t) {
  EngineState& e = *db->engine;
  jet::Database& j = db->Jet(source::kTableDefs);
  if (t->appended) Raise(e, err::kNameExists, source::kTableDefs);
  if (t->db != db) Raise(e, err::kInvalidOperation, source::kTableDefs);
  if (t->name.empty()) Raise(e, err::kInvalidName, source::kTableDefs, "");
  if (!t->connect.empty() || (t->attributes & (dbAttachedTable | dbAttachedODBC)))
    RaiseText(e, err::kNoInstallableIsam, source::kTableDefs,
              ErrorText(err::kNoInstallableIsam) + " (linked tables cannot be created)");
  if (t->fields.empty()) Raise(e, err::kNoFieldDefined, source::kTableDefs);
  db->CheckWritable(source::kTableDefs);
  if (auto existing = db->FindObject(t->name, source::kTableDefs)) {
    if (existing->IsTable() || existing->IsLinked())
      Raise(e, err::kTableExists, source::kTableDefs, t->name);
    Raise(e, err::kObjectExists, source::kTableDefs, t->name);
  }
  jet::NewTable spec;
  spec.name = t->name;
  std::vector<std::shared_ptr<Field>> fields = t->fields;
  std::stable_sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) {
    return a->State()->ordinal < b->State()->ordinal;
  });
  for (const auto& f : fields) spec.columns.push_back(ColumnOfField(e, *f->State()));
  for (const auto& index : t->indexes) {
    const IndexState& s = *index->State();
    jet::NewIndex ni;
    ni.name = s.name;
    if (s.fields.empty()) Raise(e, err::kNoFieldDefined, source::kTableDefs);
    for (const auto& f : s.fields) {
      const FieldState& fs = *f->State();
      bool known = std::any_of(spec.columns.begin(), spec.columns.end(),
                               [&](const jet::NewColumn& c) { return SameName(c.name, fs.name); });
      if (!known) Raise(e, err::kItemNotFound, source::kTableDefs);
      ni.columns.emplace_back(fs.name, (fs.attributes & dbDescending) == 0);
    }
    ni.primary_key = s.primary;
    ni.unique = s.unique || s.primary;
    ni.ignore_nulls = s.ignore_nulls;
    ni.required = s.required;
    spec.indexes.push_back(std::move(ni));
  }
  j.CreateTable(spec);
  db->CatalogChanged();
  // The objects the caller holds now stand for the table in the file.
  t->appended = true;
  for (auto& f : t->fields) {
    f->State()->kind = FieldKind::kTable;
    f->State()->table = t;
  }
  for (auto& index : t->indexes) {
    index->State()->appended = true;
    for (auto& f : index->State()->fields) f->State()->table = t;
  }
  t->fields.clear();
  t->indexes.clear();
}

}  // namespace dao::detail

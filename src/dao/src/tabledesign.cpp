// Design changes to a table that exists: an index or a column added or removed.
//
// Indexes are added and dropped in place by the storage engine. Columns it cannot add or
// drop in place yet, so for those the table is made again: the new definition is created under a
// scratch name and filled with the rows (which also proves a new unique index holds), the
// old table is dropped, the table is created again under its own name, filled, and given back
// its property blob; the scratch table goes. A table without rows (the table manager adds its
// indexes right after creating the table) skips the copying. A table that an open recordset
// uses cannot change (3211), as in DAO.
#include <algorithm>
#include <atomic>

#include "recordset_impl.h"

namespace dao::detail {
namespace {

// The definition of an existing table as the storage engine takes a new one.
jet::NewTable SpecOf(jet::Table& table) {
  const jet::TableDefinition& def = table.Definition();
  jet::NewTable spec;
  spec.name = table.Name();
  for (int pos : table.ColumnOrder()) {
    const jet::ColumnDefinition& c = def.columns[static_cast<std::size_t>(pos)];
    jet::NewColumn n;
    n.name = c.name;
    n.type = c.type;
    if (c.type == jet::column_type::kText) n.size = static_cast<std::uint16_t>(c.length / 2);
    if (c.type == jet::column_type::kBinary) n.size = c.length;
    n.auto_increment = c.IsAutoNumber() || c.IsGuidAutoNumber();
    n.unicode_compression = c.IsText() ? c.CompressedUnicode() : true;
    if (c.type == jet::column_type::kNumeric) {
      n.precision = c.Precision();
      n.scale = c.Scale();
    }
    spec.columns.push_back(std::move(n));
  }
  for (const auto& li : def.indexes) {
    if (li.kind == jet::index_kind::kForeignKey || li.real_index >= def.real_indexes.size())
      continue;
    const jet::RealIndexDefinition& ri = def.real_indexes[li.real_index];
    jet::NewIndex ni;
    ni.name = li.name;
    for (const auto& ic : ri.columns)
      if (const jet::ColumnDefinition* c = def.ColumnByNumber(ic.column_number))
        ni.columns.emplace_back(c->name, ic.ascending);
    ni.primary_key = li.kind == jet::index_kind::kPrimaryKey;
    ni.unique = (ri.flags & jet::index_flag::kUnique) != 0;
    ni.ignore_nulls = (ri.flags & jet::index_flag::kIgnoreNulls) != 0;
    ni.required = (ri.flags & jet::index_flag::kRequired) != 0 && !ni.primary_key;
    spec.indexes.push_back(std::move(ni));
  }
  return spec;
}

// Copies every row of `from` into `to`, column by column name.
void CopyRows(jet::Table& from, jet::Table& to) {
  const auto& src = from.Definition().columns;
  const auto& dst = to.Definition().columns;
  std::vector<int> source_of(dst.size(), -1);
  for (std::size_t i = 0; i < dst.size(); ++i)
    for (std::size_t k = 0; k < src.size(); ++k)
      if (SameName(dst[i].name, src[k].name)) source_of[i] = static_cast<int>(k);
  std::vector<core::Variant> row(dst.size());
  auto scan = from.StartScan();
  while (scan.Next()) {
    for (std::size_t i = 0; i < dst.size(); ++i)
      row[i] = source_of[i] >= 0 ? scan.Value(static_cast<std::size_t>(source_of[i]))
                                 : core::Variant::Null();
    to.Insert(row);
  }
}

std::string ScratchName() {
  static std::atomic<unsigned> counter{0};
  return "~TMPCLP" + std::to_string(100000 + counter.fetch_add(1));
}

// Makes `table` anew with `change` applied to its definition; `properties` changes the kept
// property blob the same way.
void Rebuild(TableDefState& t, std::string_view source,
             const std::function<void(jet::NewTable&)>& change,
             const std::function<void(jet::PropertyBlob&)>& properties = {}) {
  DatabaseState& db = *t.db;
  EngineState& e = *t.engine;
  jet::Database& j = db.Jet(source);
  db.CheckWritable(source);
  TableState& ts = t.Table(source);
  if (ts.open_recordsets > 0) Raise(e, err::kTableInUse, source, ts.name);
  const std::string name = ts.name;
  jet::NewTable spec = SpecOf(*ts.table);
  change(spec);
  jet::PropertyBlob blob = ts.Blob();
  if (properties) properties(blob);
  const bool has_rows = ts.table->RowCount() > 0;
  std::string scratch;
  if (has_rows) {
    // Prove the new definition takes every row before the old table goes.
    jet::NewTable trial = spec;
    trial.name = scratch = ScratchName();
    jet::Table& copy = j.CreateTable(trial);
    db.CatalogChanged();
    try {
      CopyRows(*ts.table, copy);
    } catch (...) {
      j.DropTable(scratch);
      db.CatalogChanged();
      throw;
    }
  }
  db.ForgetTable(ts.page);
  j.DropTable(name);
  db.CatalogChanged();
  jet::Table& made = j.CreateTable(spec);
  db.CatalogChanged();
  if (has_rows) {
    CopyRows(j.OpenTable(scratch), made);
    j.DropTable(scratch);
    db.CatalogChanged();
  }
  blob.maps.erase(std::remove_if(blob.maps.begin(), blob.maps.end(),
                                 [](const jet::PropertyMap& m) { return m.properties.empty(); }),
                  blob.maps.end());
  StoreTableProperties(db, name, blob);
}

}  // namespace

void AddIndexToTable(TableDefState& t, const std::shared_ptr<Index>& index) {
  EngineState& e = *t.engine;
  DatabaseState& db = *t.db;
  const IndexState& s = *index->State();
  jet::Database& j = db.Jet(source::kIndexes);
  db.CheckWritable(source::kIndexes);
  TableState& ts = t.Table(source::kIndexes);
  if (ts.open_recordsets > 0) Raise(e, err::kTableInUse, source::kIndexes, ts.name);
  if (s.fields.size() > 10) Raise(e, err::kTooManyIndexFields, source::kIndexes);
  jet::NewIndex ni;
  ni.name = s.name;
  for (const auto& f : s.fields) {
    const FieldState& fs = *f->State();
    if (!ts.table->Definition().FindColumn(fs.name)) Raise(e, err::kItemNotFound, source::kIndexes);
    ni.columns.emplace_back(fs.name, (fs.attributes & dbDescending) == 0);
  }
  ni.primary_key = s.primary;
  ni.unique = s.unique || s.primary;
  ni.ignore_nulls = s.ignore_nulls;
  ni.required = s.required;
  // Built in place over the rows there are; rows that break a unique index refuse it.
  j.AddIndex(ts.name, ni);
  db.CatalogChanged();
  index->State()->appended = true;
}

void DropIndexFromTable(TableDefState& t, const std::string& name) {
  DatabaseState& db = *t.db;
  jet::Database& j = db.Jet(source::kIndexes);
  db.CheckWritable(source::kIndexes);
  TableState& ts = t.Table(source::kIndexes);
  if (ts.open_recordsets > 0) Raise(*t.engine, err::kTableInUse, source::kIndexes, ts.name);
  j.DropIndex(ts.name, name);
  db.CatalogChanged();
}

void AddFieldToTable(TableDefState& t, const std::shared_ptr<Field>& field) {
  EngineState& e = *t.engine;
  FieldState& fs = *field->State();
  jet::Property required = jet::Property::Boolean("Required", true, true);
  Rebuild(
      t, source::kFields,
      [&](jet::NewTable& spec) {
        for (const auto& c : spec.columns)
          if (SameName(c.name, fs.name)) Raise(e, err::kNameExists, source::kFields);
        int type = ColumnTypeOfDao(fs.type);
        if (fs.type == 0 || type < 0) Raise(e, err::kInvalidFieldType, source::kFields);
        jet::NewColumn c;
        c.name = fs.name;
        c.type = static_cast<std::uint8_t>(type);
        if (fs.type == dbText || fs.type == dbBinary) {
          std::int32_t size = fs.size_given && fs.size > 0 ? fs.size : 255;
          if (size > 255) Raise(e, err::kInvalidArgument, source::kFields);
          c.size = static_cast<std::uint16_t>(size);
        }
        c.auto_increment =
            (fs.attributes & dbAutoIncrField) != 0 && (fs.type == dbLong || fs.type == dbGUID);
        spec.columns.push_back(std::move(c));
      },
      [&](jet::PropertyBlob& blob) {
        auto& props = blob.Get(fs.name).properties;
        if (fs.required) props.push_back(required);
        if (fs.type == dbText || fs.type == dbMemo)
          props.push_back(jet::Property::Boolean("AllowZeroLength", fs.allow_zero_length, true));
        if (!fs.default_value.empty())
          props.push_back(jet::Property::Text("DefaultValue", fs.default_value, true, true));
      });
  fs.kind = FieldKind::kTable;
  fs.table = t.shared_from_this();
  fs.in_collection = true;
}

void DropFieldFromTable(TableDefState& t, const std::string& name) {
  EngineState& e = *t.engine;
  std::string stored;
  Rebuild(
      t, source::kFields,
      [&](jet::NewTable& spec) {
        auto it = std::find_if(spec.columns.begin(), spec.columns.end(),
                               [&](const jet::NewColumn& c) { return SameName(c.name, name); });
        if (it == spec.columns.end()) Raise(e, err::kItemNotFound, source::kFields);
        if (spec.columns.size() == 1) Raise(e, err::kNoFieldDefined, source::kFields);
        stored = it->name;
        spec.columns.erase(it);
        // An index over the column goes with it, as in Jet.
        spec.indexes.erase(std::remove_if(spec.indexes.begin(), spec.indexes.end(),
                                          [&](const jet::NewIndex& ni) {
                                            return std::any_of(ni.columns.begin(), ni.columns.end(),
                                                               [&](const auto& c) {
                                                                 return SameName(c.first, name);
                                                               });
                                          }),
                           spec.indexes.end());
      },
      [&](jet::PropertyBlob& blob) {
        blob.maps.erase(std::remove_if(blob.maps.begin(), blob.maps.end(),
                                       [&](const jet::PropertyMap& m) {
                                         return !m.name.empty() && SameName(m.name, name);
                                       }),
                        blob.maps.end());
      });
}

}  // namespace dao::detail

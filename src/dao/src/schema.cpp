// The schema as DAO shows it: column types, a table's columns and their properties, Field and
// Fields. Indexes are in schema_indexes.cpp, TableDef, TableDefs and Properties in
// schema_tabledefs.cpp.
#include <algorithm>

#include "core/datetime.h"
#include "jetsql/collation.h"
#include "recordset_impl.h"
#include "schema_internal.h"

namespace dao {
namespace detail {

// ---- type mapping ----

int DaoTypeOfColumn(std::uint8_t column_type) {
  if (column_type >= jet::column_type::kBoolean && column_type <= jet::column_type::kMemo)
    return column_type;
  if (column_type == jet::column_type::kGuid) return dbGUID;
  if (column_type == jet::column_type::kNumeric) return dbDecimal;
  return 0;
}

int ColumnTypeOfDao(int dao_type) {
  if (dao_type >= dbBoolean && dao_type <= dbMemo) return dao_type;
  if (dao_type == dbGUID) return jet::column_type::kGuid;
  if (dao_type == dbDecimal) return jet::column_type::kNumeric;
  return -1;
}

namespace {

std::int32_t FixedSizeOf(int dao_type) {
  switch (dao_type) {
    case dbBoolean:
    case dbByte:
      return 1;
    case dbInteger:
      return 2;
    case dbLong:
    case dbSingle:
      return 4;
    case dbCurrency:
    case dbDouble:
    case dbDate:
      return 8;
    case dbGUID:
    case dbDecimal:
      return 16;
    case dbText:
      return 255;
    case dbBinary:
      return 255;
    default:
      return 0;
  }
}

}  // namespace

std::int32_t DaoSizeOfColumn(const jet::ColumnDefinition& column) {
  switch (column.type) {
    case jet::column_type::kText:
      return column.length / 2;
    case jet::column_type::kBinary:
      return column.length;
    case jet::column_type::kMemo:
    case jet::column_type::kOle:
      return 0;
    default:
      return FixedSizeOf(DaoTypeOfColumn(column.type));
  }
}

std::int32_t DaoAttributesOfColumn(const jet::ColumnDefinition& column) {
  std::int32_t a = column.IsFixed() ? dbFixedField : dbVariableField;
  if (column.IsAutoNumber() || column.IsGuidAutoNumber()) a |= dbAutoIncrField;
  if (column.flags & jet::column_flag::kHyperlink) a |= dbHyperlinkField;
  return a;
}

// ---- tables ----

std::optional<jet::CatalogEntry> TableDefState::Entry() {
  auto e = db->FindObject(name, source::kTableDef);
  if (e && (e->IsTable() || e->IsLinked())) return e;
  return std::nullopt;
}

TableState& TableDefState::Table(std::string_view source) {
  return db->Table(name, source);
}

void StoreTableProperties(DatabaseState& db, const std::string& table,
                          const jet::PropertyBlob& blob) {
  jet::Database& j = db.Jet(source::kTableDef);
  std::optional<jet::CatalogEntry> e = db.FindObject(table, source::kTableDef);
  if (!e) Raise(*db.engine, err::kObjectNotFound, source::kTableDef, table);
  db.CheckWritable(source::kTableDef);
  // The catalog row keeps the blob in LvProp; only that and the design date change.
  jet::Table& objects = j.OpenTable("MSysObjects");
  std::vector<core::Variant> values(objects.Definition().columns.size());
  int lvprop = objects.ColumnIndex("LvProp");
  int updated = objects.ColumnIndex("DateUpdate");
  if (lvprop < 0) Raise(*db.engine, err::kInvalidOperation, source::kTableDef);
  values[lvprop] = blob.maps.empty() ? core::Variant::Null()
                                     : core::Variant::FromBytes(jet::EncodePropertyBlob(blob));
  if (updated >= 0) values[updated] = core::Variant::FromDate(core::LocalNow());
  objects.Update(e->row, values);
  db.CatalogChanged();
  auto it = db.tables.find(e->TableDefinitionPage());
  if (it != db.tables.end()) it->second->PropertiesChanged();
}

namespace {

// The column definition of an appended table's field.
const jet::ColumnDefinition& ColumnOf(FieldState& f, std::string_view source) {
  TableState& ts = f.table->Table(source);
  const jet::ColumnDefinition* c = ts.table->Definition().FindColumn(f.name);
  if (!c) Raise(*f.engine, err::kItemNotFound, source::kFields);
  return *c;
}

int PositionOf(FieldState& f, std::string_view source) {
  TableState& ts = f.table->Table(source);
  const auto& order = ts.table->ColumnOrder();
  for (std::size_t i = 0; i < order.size(); ++i)
    if (SameName(ts.table->Definition().columns[order[i]].name, f.name)) return static_cast<int>(i);
  Raise(*f.engine, err::kItemNotFound, source::kFields);
}

const ColumnRules& RulesOf(FieldState& f, std::string_view source) {
  TableState& ts = f.table->Table(source);
  const auto& rules = f.table->db->Rules(ts);
  const jet::ColumnDefinition& c = ColumnOf(f, source);
  return rules[static_cast<std::size_t>(&c - ts.table->Definition().columns.data())];
}

// Properties stored in the blob that DAO shows as the field's own properties.
bool IsRuleProperty(std::string_view name) {
  for (std::string_view n :
       {"Required", "AllowZeroLength", "DefaultValue", "ValidationRule", "ValidationText"})
    if (SameName(n, name)) return true;
  return false;
}

}  // namespace

// Changes one property of an appended table's column (or of the table itself when `column`
// is empty) in the catalog's blob; a Null value removes it.
void SetStoredProperty(TableDefState& t, const std::string& column, const jet::Property* value,
                       const std::string& name) {
  TableState& ts = t.Table(source::kTableDef);
  jet::PropertyBlob blob = ts.Blob();
  std::string map_name = column;
  if (!column.empty())
    if (const jet::ColumnDefinition* c = ts.table->Definition().FindColumn(column))
      map_name = c->name;
  jet::PropertyMap& map = blob.Get(map_name);
  auto& props = map.properties;
  auto it = std::find_if(props.begin(), props.end(),
                         [&](const jet::Property& p) { return SameName(p.name, name); });
  if (value) {
    if (it != props.end())
      *it = *value;
    else
      props.push_back(*value);
  } else if (it != props.end()) {
    props.erase(it);
  }
  blob.maps.erase(std::remove_if(blob.maps.begin(), blob.maps.end(),
                                 [](const jet::PropertyMap& m) { return m.properties.empty(); }),
                  blob.maps.end());
  StoreTableProperties(*t.db, ts.name, blob);
}

jet::Property StoredProperty(const std::string& name, int type, const core::Variant& value,
                             bool ddl) {
  switch (type) {
    case dbBoolean:
      return jet::Property::Boolean(name, value.ToBoolean(), ddl);
    case dbByte:
    case dbInteger:
    case dbLong:
      return jet::Property::Long(name, value.ToLong(), ddl);
    case dbMemo:
      return jet::Property::Text(name, value.ToString(), ddl, true);
    default:
      return jet::Property::Text(name, value.ToString(), ddl);
  }
}

int DaoTypeOfProperty(std::uint8_t type) {
  int t = DaoTypeOfColumn(type);
  return t == 0 ? dbText : t;
}

std::shared_ptr<Field> TableColumnField(const std::shared_ptr<TableDefState>& table,
                                        const std::string& column) {
  auto s = std::make_shared<FieldState>();
  s->engine = table->engine;
  s->kind = FieldKind::kTable;
  s->name = column;
  s->table = table;
  s->in_collection = true;
  return std::make_shared<Field>(s);
}

// ---- the property host of a field ----

namespace {

struct FieldHost final : PropertyHost {
  std::weak_ptr<Field> field;
  std::shared_ptr<FieldState> s;

  std::vector<PropertyInfo> List() override {
    auto f = field.lock();
    if (!f) Raise(*engine, err::kObjectInvalid, source::kField);
    std::vector<PropertyInfo> out;
    auto add = [&](std::string name, int type, core::Variant v) {
      out.push_back(PropertyInfo{std::move(name), type, std::move(v), false});
    };
    if (s->kind == FieldKind::kRecordset) {
      // Listing must not fail for want of a current record; Value is then Null.
      std::vector<Error> kept = engine->errors;
      core::Variant v;
      try {
        v = f->Value();
      } catch (const core::EOleException&) {
        v = core::Variant::Null();
        engine->errors = std::move(kept);
      }
      add("Value", f->Type(), std::move(v));
    }
    add("Attributes", dbLong, core::Variant::FromLong(f->Attributes()));
    add("CollatingOrder", dbLong, core::Variant::FromLong(f->CollatingOrder()));
    add("Type", dbInteger, core::Variant::FromInteger(static_cast<std::int16_t>(f->Type())));
    add("Name", dbText, core::Variant(f->Name()));
    add("OrdinalPosition", dbInteger,
        core::Variant::FromInteger(static_cast<std::int16_t>(f->OrdinalPosition())));
    add("Size", dbLong, core::Variant::FromLong(f->Size()));
    add("SourceField", dbText, core::Variant(f->SourceField()));
    add("SourceTable", dbText, core::Variant(f->SourceTable()));
    if (s->kind == FieldKind::kRecordset)
      add("DataUpdatable", dbBoolean, core::Variant::FromBoolean(f->DataUpdatable()));
    if (s->kind != FieldKind::kIndex) {
      add("DefaultValue", dbText, core::Variant(f->DefaultValue()));
      add("ValidationRule", dbText, core::Variant(f->ValidationRule()));
      add("ValidationText", dbText, core::Variant(f->ValidationText()));
      add("Required", dbBoolean, core::Variant::FromBoolean(f->Required()));
      add("AllowZeroLength", dbBoolean, core::Variant::FromBoolean(f->AllowZeroLength()));
    }
    // Properties kept with the table (Format, Caption, Description, ...).
    std::shared_ptr<TableDefState> table = s->table;
    std::string column = s->name;
    bool inherited = false;
    if (s->kind == FieldKind::kRecordset) {
      auto rs = s->recordset.lock();
      if (rs && rs->Impl().rows->table) {
        const auto& col = rs->Impl().rows->columns[s->index];
        if (col.storage >= 0) {
          table = std::make_shared<TableDefState>();
          table->engine = engine;
          table->db = rs->Impl().db;
          table->appended = true;
          table->name = rs->Impl().rows->table->name;
          column = col.source_field;
          inherited = true;
        }
      }
    }
    if (table && table->appended) {
      TableState& ts = table->Table(source::kField);
      const jet::PropertyBlob& blob = ts.Blob();
      if (const jet::PropertyMap* map = blob.Find(column))
        for (const auto& p : map->properties)
          if (!IsRuleProperty(p.name))
            out.push_back(PropertyInfo{p.name, DaoTypeOfProperty(p.type), p.Value(), inherited});
    }
    return out;
  }

  void Set(const std::string& name, const core::Variant& value) override {
    auto f = field.lock();
    if (!f) Raise(*engine, err::kObjectInvalid, source::kField);
    if (SameName(name, "Value")) return f->SetValue(value);
    if (SameName(name, "Name")) return f->SetName(value.ToString());
    if (SameName(name, "Type")) return f->SetType(value.ToLong());
    if (SameName(name, "Size")) return f->SetSize(value.ToLong());
    if (SameName(name, "Attributes")) return f->SetAttributes(value.ToLong());
    if (SameName(name, "Required")) return f->SetRequired(value.ToBoolean());
    if (SameName(name, "AllowZeroLength")) return f->SetAllowZeroLength(value.ToBoolean());
    if (SameName(name, "DefaultValue")) return f->SetDefaultValue(value.ToString());
    if (SameName(name, "OrdinalPosition")) return f->SetOrdinalPosition(value.ToLong());
    for (const auto& p : List()) {
      if (!SameName(p.name, name)) continue;
      if (s->kind != FieldKind::kTable || p.inherited)
        Raise(*engine, err::kInvalidOperation, source::kProperty);
      if (value.IsNullOrEmpty()) Raise(*engine, err::kNullProperty, source::kProperty);
      jet::Property stored = StoredProperty(p.name, p.type, value, true);
      SetStoredProperty(*s->table, s->name, &stored, p.name);
      return;
    }
    Raise(*engine, err::kPropertyNotFound, source::kProperties);
  }

  void Append(const std::string& name, int type, const core::Variant& value, bool ddl) override {
    if (s->kind != FieldKind::kTable) Raise(*engine, err::kInvalidOperation, source::kProperties);
    for (const auto& p : List())
      if (SameName(p.name, name)) Raise(*engine, err::kNameExists, source::kProperties);
    if (value.IsNullOrEmpty()) Raise(*engine, err::kNullProperty, source::kProperties);
    if (value.ToString().size() > 2048) Raise(*engine, err::kPropertyTooLarge, source::kProperties);
    jet::Property stored = StoredProperty(name, type, value, ddl);
    SetStoredProperty(*s->table, s->name, &stored, name);
  }

  void Remove(const std::string& name) override {
    for (const auto& p : List()) {
      if (!SameName(p.name, name)) continue;
      bool stored = s->kind == FieldKind::kTable && !p.inherited && !IsRuleProperty(name) &&
                    p.name != "Value";
      static const char* builtins[] = {"Attributes",   "CollatingOrder",  "Type",
                                       "Name",         "OrdinalPosition", "Size",
                                       "SourceField",  "SourceTable",     "DataUpdatable",
                                       "DefaultValue", "ValidationRule",  "ValidationText",
                                       "Required",     "AllowZeroLength", "Value"};
      for (const char* b : builtins)
        if (SameName(b, name)) stored = false;
      if (!stored) Raise(*engine, err::kBuiltInProperty, source::kProperties);
      SetStoredProperty(*s->table, s->name, nullptr, p.name);
      return;
    }
    Raise(*engine, err::kPropertyNotFound, source::kProperties);
  }
};

}  // namespace
}  // namespace detail

using detail::FieldKind;
using detail::Guard;

// ---- Field ----

Field::Field(std::shared_ptr<detail::FieldState> state) : s_(std::move(state)) {}

Field::~Field() = default;

namespace {

detail::RecordsetImpl& RecordsetOf(detail::FieldState& s, std::shared_ptr<Recordset>& keep) {
  keep = s.recordset.lock();
  if (!keep || keep->Impl().closed) detail::Raise(*s.engine, err::kObjectInvalid, source::kField);
  return keep->Impl();
}

// The value reads and assignments of a record loop: everything runs on one thread, so a
// recordset that has not expired stays alive for the call without taking a reference.
detail::RecordsetImpl& LiveRecordset(detail::FieldState& s) {
  if (s.recordset.expired() || s.impl->closed)
    detail::Raise(*s.engine, err::kObjectInvalid, source::kField);
  return *s.impl;
}

const detail::ColumnInfo& ColumnInfoOf(detail::FieldState& s, std::shared_ptr<Recordset>& keep) {
  return RecordsetOf(s, keep).rows->columns[static_cast<std::size_t>(s.index)];
}

[[noreturn]] void ReadOnlyOnceAppended(detail::FieldState& s) {
  detail::Raise(*s.engine, err::kPropertyReadOnlyOnceAppended, source::kField);
}

}  // namespace

std::string Field::Name() const {
  return s_->name;
}

void Field::SetName(const std::string& name) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind == FieldKind::kRecordset || s_->kind == FieldKind::kTable ||
        (s_->kind == FieldKind::kIndex && s_->in_collection && s_->table))
      ReadOnlyOnceAppended(*s_);
    if (name.size() > 64) detail::Raise(*s_->engine, err::kInvalidName, source::kField, name);
    s_->name = name;
  });
}

int Field::Type() const {
  return Guard(*s_->engine, source::kField, [&]() -> int {
    std::shared_ptr<Recordset> keep;
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::DaoTypeOfColumn(detail::ColumnOf(*s_, source::kField).type);
      case FieldKind::kRecordset:
        return ColumnInfoOf(*s_, keep).type;
      default:
        return s_->type;
    }
  });
}

void Field::SetType(int type) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kNew && s_->kind != FieldKind::kIndex) ReadOnlyOnceAppended(*s_);
    s_->type = type;
  });
}

std::int32_t Field::Size() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::int32_t {
    std::shared_ptr<Recordset> keep;
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::DaoSizeOfColumn(detail::ColumnOf(*s_, source::kField));
      case FieldKind::kRecordset:
        return ColumnInfoOf(*s_, keep).size;
      default:
        if (s_->type == dbText || s_->type == dbBinary)
          return s_->size_given && s_->size > 0 ? s_->size : 255;
        if (s_->size_given && (s_->type == 0 || s_->type == dbVarBinary || s_->type == dbChar))
          return s_->size;
        return detail::FixedSizeOf(s_->type);
    }
  });
}

void Field::SetSize(std::int32_t size) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kNew) ReadOnlyOnceAppended(*s_);
    if (size < 0) detail::Raise(*s_->engine, err::kInvalidArgument, source::kField);
    s_->size = size;
    s_->size_given = true;
  });
}

std::int32_t Field::Attributes() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::int32_t {
    std::shared_ptr<Recordset> keep;
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::DaoAttributesOfColumn(detail::ColumnOf(*s_, source::kField));
      case FieldKind::kRecordset:
        return ColumnInfoOf(*s_, keep).attributes;
      default:
        return s_->attributes;
    }
  });
}

void Field::SetAttributes(std::int32_t attributes) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kNew && s_->kind != FieldKind::kIndex) ReadOnlyOnceAppended(*s_);
    if (s_->kind == FieldKind::kIndex && s_->table) ReadOnlyOnceAppended(*s_);
    s_->attributes = attributes;
  });
}

bool Field::Required() const {
  return Guard(*s_->engine, source::kField, [&]() -> bool {
    std::shared_ptr<Recordset> keep;
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::RulesOf(*s_, source::kField).required;
      case FieldKind::kRecordset: {
        auto& r = RecordsetOf(*s_, keep);
        const auto& c = r.rows->columns[s_->index];
        if (!r.rows->table || c.storage < 0) return false;
        return r.db->Rules(*r.rows->table)[c.storage].required;
      }
      case FieldKind::kIndex:
        return false;
      default:
        return s_->required;
    }
  });
}

void Field::SetRequired(bool required) {
  Guard(*s_->engine, source::kField, [&] {
    switch (s_->kind) {
      case FieldKind::kNew:
        s_->required = required;
        return;
      case FieldKind::kTable: {
        // Required is a property of the column kept with the table; it can change at any time.
        if (required) {
          jet::Property p = jet::Property::Boolean("Required", true, true);
          detail::SetStoredProperty(*s_->table, s_->name, &p, "Required");
        } else {
          detail::SetStoredProperty(*s_->table, s_->name, nullptr, "Required");
        }
        return;
      }
      default:
        detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    }
  });
}

bool Field::AllowZeroLength() const {
  return Guard(*s_->engine, source::kField, [&]() -> bool {
    std::shared_ptr<Recordset> keep;
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::RulesOf(*s_, source::kField).allow_zero_length;
      case FieldKind::kRecordset: {
        auto& r = RecordsetOf(*s_, keep);
        const auto& c = r.rows->columns[s_->index];
        if (!r.rows->table || c.storage < 0) return false;
        return r.db->Rules(*r.rows->table)[c.storage].allow_zero_length;
      }
      default:
        return s_->allow_zero_length;
    }
  });
}

void Field::SetAllowZeroLength(bool allow) {
  Guard(*s_->engine, source::kField, [&] {
    switch (s_->kind) {
      case FieldKind::kNew:
        s_->allow_zero_length = allow;
        return;
      case FieldKind::kTable: {
        jet::Property p = jet::Property::Boolean("AllowZeroLength", allow, true);
        detail::SetStoredProperty(*s_->table, s_->name, &p, "AllowZeroLength");
        return;
      }
      default:
        detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    }
  });
}

std::string Field::DefaultValue() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::string {
    std::shared_ptr<Recordset> keep;
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::RulesOf(*s_, source::kField).default_value;
      case FieldKind::kRecordset: {
        auto& r = RecordsetOf(*s_, keep);
        const auto& c = r.rows->columns[s_->index];
        if (!r.rows->table || c.storage < 0) return {};
        return r.db->Rules(*r.rows->table)[c.storage].default_value;
      }
      default:
        return s_->default_value;
    }
  });
}

void Field::SetDefaultValue(const std::string& expression) {
  Guard(*s_->engine, source::kField, [&] {
    if (expression.size() > 255) detail::Raise(*s_->engine, err::kInvalidArgument, source::kField);
    switch (s_->kind) {
      case FieldKind::kNew:
        s_->default_value = expression;
        return;
      case FieldKind::kTable: {
        if (expression.empty()) {
          detail::SetStoredProperty(*s_->table, s_->name, nullptr, "DefaultValue");
        } else {
          jet::Property p = jet::Property::Text("DefaultValue", expression, true, true);
          detail::SetStoredProperty(*s_->table, s_->name, &p, "DefaultValue");
        }
        return;
      }
      default:
        detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    }
  });
}

std::string Field::ValidationRule() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::string {
    if (s_->kind == FieldKind::kTable) return detail::RulesOf(*s_, source::kField).validation_rule;
    return s_->validation_rule;
  });
}

std::string Field::ValidationText() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::string {
    if (s_->kind == FieldKind::kTable) return detail::RulesOf(*s_, source::kField).validation_text;
    return s_->validation_text;
  });
}

int Field::OrdinalPosition() const {
  return Guard(*s_->engine, source::kField, [&]() -> int {
    switch (s_->kind) {
      case FieldKind::kTable:
        return detail::PositionOf(*s_, source::kField);
      case FieldKind::kRecordset:
        return s_->index;
      default:
        return s_->ordinal;
    }
  });
}

void Field::SetOrdinalPosition(int position) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kNew)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    s_->ordinal = position;
  });
}

int Field::CollatingOrder() const {
  return Guard(*s_->engine, source::kField, [&]() -> int {
    std::shared_ptr<Recordset> keep;
    if (s_->kind == FieldKind::kTable) return s_->table->db->Jet(source::kField).CollatingOrder();
    if (s_->kind == FieldKind::kRecordset)
      return RecordsetOf(*s_, keep).db->Jet(source::kField).CollatingOrder();
    return dbSortGeneral;
  });
}

int Field::Precision() const {
  return Guard(*s_->engine, source::kField, [&]() -> int {
    if (s_->kind == FieldKind::kTable) {
      const jet::ColumnDefinition& c = detail::ColumnOf(*s_, source::kField);
      return c.type == jet::column_type::kNumeric ? c.Precision() : 0;
    }
    return s_->type == dbDecimal ? s_->precision : 0;
  });
}

void Field::SetPrecision(int precision) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kNew) ReadOnlyOnceAppended(*s_);
    if (precision < 1 || precision > 28)
      detail::Raise(*s_->engine, err::kInvalidArgument, source::kField);
    s_->precision = precision;
  });
}

int Field::Scale() const {
  return Guard(*s_->engine, source::kField, [&]() -> int {
    if (s_->kind == FieldKind::kTable) {
      const jet::ColumnDefinition& c = detail::ColumnOf(*s_, source::kField);
      return c.type == jet::column_type::kNumeric ? c.Scale() : 0;
    }
    return s_->type == dbDecimal ? s_->scale : 0;
  });
}

void Field::SetScale(int scale) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kNew) ReadOnlyOnceAppended(*s_);
    if (scale < 0 || scale > 28) detail::Raise(*s_->engine, err::kInvalidArgument, source::kField);
    s_->scale = scale;
  });
}

bool Field::DataUpdatable() const {
  return Guard(*s_->engine, source::kField, [&]() -> bool {
    std::shared_ptr<Recordset> keep;
    if (s_->kind != FieldKind::kRecordset) return false;
    return ColumnInfoOf(*s_, keep).updatable;
  });
}

std::string Field::SourceField() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::string {
    std::shared_ptr<Recordset> keep;
    if (s_->kind == FieldKind::kRecordset) return ColumnInfoOf(*s_, keep).source_field;
    if (s_->kind == FieldKind::kTable) return s_->name;
    return {};
  });
}

std::string Field::SourceTable() const {
  return Guard(*s_->engine, source::kField, [&]() -> std::string {
    std::shared_ptr<Recordset> keep;
    if (s_->kind == FieldKind::kRecordset) return ColumnInfoOf(*s_, keep).source_table;
    if (s_->kind == FieldKind::kTable) return s_->table->name;
    return {};
  });
}

core::Variant Field::Value() const {
  return Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kRecordset)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    return LiveRecordset(*s_).Value(s_->index);
  });
}

void Field::SetValue(const core::Variant& value) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kRecordset)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    LiveRecordset(*s_).SetValue(s_->index, value);
  });
}

void Field::SetValue(std::string_view text) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kRecordset)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    LiveRecordset(*s_).SetText(s_->index, text);
  });
}

std::int32_t Field::FieldSize() const {
  return Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kRecordset)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    return LiveRecordset(*s_).FieldSize(s_->index);
  });
}

core::Variant Field::GetChunk(std::int32_t offset, std::int32_t bytes) const {
  return Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kRecordset)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    std::shared_ptr<Recordset> keep;
    auto& r = RecordsetOf(*s_, keep);
    int type = r.rows->columns[s_->index].type;
    if (type != dbMemo && type != dbLongBinary)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    if (offset < 0 || bytes < 0) detail::Raise(*s_->engine, err::kInvalidArgument, source::kField);
    core::Variant v = r.Value(s_->index);
    if (v.IsNullOrEmpty()) return core::Variant::Null();
    if (type == dbMemo) {
      std::string s = v.ToString();
      if (static_cast<std::size_t>(offset) >= s.size()) return core::Variant(std::string());
      return core::Variant(
          s.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(bytes)));
    }
    const auto& b = v.Bytes();
    std::size_t from = std::min(b.size(), static_cast<std::size_t>(offset));
    std::size_t to = std::min(b.size(), from + static_cast<std::size_t>(bytes));
    return core::Variant::FromBytes(std::vector<std::uint8_t>(b.begin() + from, b.begin() + to));
  });
}

void Field::AppendChunk(const core::Variant& data) {
  Guard(*s_->engine, source::kField, [&] {
    if (s_->kind != FieldKind::kRecordset)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    std::shared_ptr<Recordset> keep;
    auto& r = RecordsetOf(*s_, keep);
    int c = s_->index;
    int type = r.rows->columns[c].type;
    if (type != dbMemo && type != dbLongBinary)
      detail::Raise(*s_->engine, err::kInvalidOperation, source::kField);
    r.CheckAssignable(c);
    // The first chunk after Edit/AddNew replaces the value; later ones append.
    core::Variant piece;
    if (ConvertToFieldType(data, type, 0, piece) != 0)
      detail::Raise(*s_->engine, err::kConversionError, source::kField);
    core::Variant& v = r.buffer[c];
    if (!r.chunked[c] || v.IsNullOrEmpty() || piece.IsNullOrEmpty()) {
      v = piece;
    } else if (type == dbMemo) {
      v = core::Variant::FromString(v.ToString() + piece.ToString());
    } else {
      std::vector<std::uint8_t> joined = v.Bytes();
      joined.insert(joined.end(), piece.Bytes().begin(), piece.Bytes().end());
      v = core::Variant::FromBytes(std::move(joined));
    }
    r.chunked[c] = 1;
    r.touched[c] = 1;
    r.filled[c] = 1;
  });
}

dao::Properties& Field::Properties() {
  if (!properties_) {
    auto host = std::make_shared<detail::FieldHost>();
    host->engine = s_->engine;
    host->source = std::string(source::kField);
    host->field = weak_from_this();
    host->s = s_;
    properties_ = std::make_unique<dao::Properties>(host);
  }
  return *properties_;
}

std::shared_ptr<Property> Field::CreateProperty(const std::string& name, int type,
                                                const core::Variant& value, bool ddl) {
  return std::make_shared<Property>(s_->engine, name, type, value, ddl);
}

// ---- Fields ----

Fields::Fields(std::function<std::vector<std::shared_ptr<Field>>()> list,
               std::shared_ptr<detail::EngineState> engine,
               std::function<void(const std::shared_ptr<Field>&)> append,
               std::function<void(std::string_view)> remove)
    : list_(std::move(list)),
      engine_(std::move(engine)),
      append_(std::move(append)),
      remove_(std::move(remove)) {}

int Fields::Count() const {
  return Guard(*engine_, source::kFields, [&] { return static_cast<int>(list_().size()); });
}

std::shared_ptr<Field> Fields::Item(int index) const {
  return Guard(*engine_, source::kFields, [&] {
    auto all = list_();
    if (index < 0 || index >= static_cast<int>(all.size()))
      detail::Raise(*engine_, err::kItemNotFound, source::kFields);
    return all[static_cast<std::size_t>(index)];
  });
}

std::shared_ptr<Field> Fields::Item(std::string_view name) const {
  return Guard(*engine_, source::kFields, [&] {
    for (auto& f : list_())
      if (detail::SameName(f->State()->name, name)) return f;
    detail::Raise(*engine_, err::kItemNotFound, source::kFields);
  });
}

std::shared_ptr<Field> Fields::Item(const core::Variant& index) const {
  if (index.Type() == core::VarType::String) return Item(std::string_view(index.ToString()));
  return Guard(*engine_, source::kFields, [&] {
    if (!index.IsNumeric()) detail::Raise(*engine_, err::kItemNotFound, source::kFields);
    return Item(index.ToLong());
  });
}

void Fields::Append(const std::shared_ptr<Field>& field) {
  Guard(*engine_, source::kFields, [&] {
    if (!append_) detail::Raise(*engine_, err::kInvalidOperation, source::kFields);
    if (!field) detail::Raise(*engine_, err::kInvalidArgument, source::kFields);
    append_(field);
  });
}

void Fields::Delete(std::string_view name) {
  Guard(*engine_, source::kFields, [&] {
    if (!remove_) detail::Raise(*engine_, err::kInvalidOperation, source::kFields);
    remove_(name);
  });
}

}  // namespace dao

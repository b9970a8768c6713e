// TableDefs, Fields, Indexes and Properties: the schema as DAO shows it.
#include <algorithm>

#include "core/datetime.h"
#include "jetsql/collation.h"
#include "recordset_impl.h"

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

// Properties stored in the blob that DAO shows as the field's own properties.
bool IsRuleProperty(std::string_view name) {
  for (std::string_view n :
       {"Required", "AllowZeroLength", "DefaultValue", "ValidationRule", "ValidationText"})
    if (SameName(n, name)) return true;
  return false;
}

}  // namespace

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

// ---- Index ----

Index::Index(std::shared_ptr<detail::IndexState> state) : s_(std::move(state)) {}

namespace {

void CheckIndexWritable(detail::IndexState& s) {
  if (s.appended) detail::Raise(*s.engine, err::kPropertyReadOnlyOnceAppended, source::kIndex);
}

}  // namespace

std::string Index::Name() const {
  return s_->name;
}

void Index::SetName(const std::string& name) {
  Guard(*s_->engine, source::kIndex, [&] {
    CheckIndexWritable(*s_);
    if (name.size() > 64) detail::Raise(*s_->engine, err::kInvalidName, source::kIndex, name);
    s_->name = name;
  });
}

bool Index::Primary() const {
  return s_->primary;
}

void Index::SetPrimary(bool primary) {
  Guard(*s_->engine, source::kIndex, [&] {
    CheckIndexWritable(*s_);
    s_->primary = primary;
  });
}

bool Index::Unique() const {
  return s_->unique || s_->primary;
}

void Index::SetUnique(bool unique) {
  Guard(*s_->engine, source::kIndex, [&] {
    CheckIndexWritable(*s_);
    s_->unique = unique;
  });
}

bool Index::IgnoreNulls() const {
  return s_->ignore_nulls;
}

void Index::SetIgnoreNulls(bool ignore) {
  Guard(*s_->engine, source::kIndex, [&] {
    CheckIndexWritable(*s_);
    s_->ignore_nulls = ignore;
  });
}

bool Index::Required() const {
  return s_->required || s_->primary;
}

void Index::SetRequired(bool required) {
  Guard(*s_->engine, source::kIndex, [&] {
    CheckIndexWritable(*s_);
    s_->required = required;
  });
}

bool Index::Foreign() const {
  return s_->foreign;
}

dao::Fields& Index::Fields() {
  if (!fields_) {
    auto s = s_;
    fields_ = std::make_unique<dao::Fields>(
        [s] { return s->fields; }, s_->engine,
        [s](const std::shared_ptr<Field>& f) {
          if (s->appended)
            detail::Raise(*s->engine, err::kPropertyReadOnlyOnceAppended, source::kFields);
          if (f->State()->in_collection)
            detail::Raise(*s->engine, err::kFieldAlreadyAppended, source::kFields);
          if (f->State()->name.empty())
            detail::Raise(*s->engine, err::kInvalidName, source::kFields, "");
          for (auto& g : s->fields)
            if (detail::SameName(g->State()->name, f->State()->name))
              detail::Raise(*s->engine, err::kNameExists, source::kFields);
          if (s->fields.size() >= 10)
            detail::Raise(*s->engine, err::kTooManyIndexFields, source::kFields);
          // A field made by TableDef.CreateField serves the index by its name and attributes.
          f->State()->kind = detail::FieldKind::kIndex;
          f->State()->in_collection = true;
          s->fields.push_back(f);
        },
        [s](std::string_view name) {
          if (s->appended)
            detail::Raise(*s->engine, err::kPropertyReadOnlyOnceAppended, source::kFields);
          for (auto it = s->fields.begin(); it != s->fields.end(); ++it)
            if (detail::SameName((*it)->State()->name, name)) {
              (*it)->State()->in_collection = false;
              s->fields.erase(it);
              return;
            }
          detail::Raise(*s->engine, err::kItemNotFound, source::kFields);
        });
  }
  return *fields_;
}

std::shared_ptr<Field> Index::CreateField(const std::string& name, int type, std::int32_t size) {
  return Guard(*s_->engine, source::kIndex, [&] {
    auto f = std::make_shared<detail::FieldState>();
    f->engine = s_->engine;
    f->kind = detail::FieldKind::kIndex;
    f->name = name;
    f->type = type;
    if (size >= 0) {
      f->size = size;
      f->size_given = true;
    }
    return std::make_shared<Field>(f);
  });
}

dao::Properties& Index::Properties() {
  if (!properties_) {
    auto s = s_;
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(s_->engine, std::string(source::kIndex), [s] {
          return std::vector<detail::PropertyInfo>{
              {"Name", dbText, core::Variant(s->name), false},
              {"Primary", dbBoolean, core::Variant::FromBoolean(s->primary), false},
              {"Unique", dbBoolean, core::Variant::FromBoolean(s->unique || s->primary), false},
              {"IgnoreNulls", dbBoolean, core::Variant::FromBoolean(s->ignore_nulls), false},
              {"Required", dbBoolean, core::Variant::FromBoolean(s->required || s->primary), false},
              {"Foreign", dbBoolean, core::Variant::FromBoolean(s->foreign), false},
              {"Clustered", dbBoolean, core::Variant::FromBoolean(false), false},
          };
        }));
  }
  return *properties_;
}

// ---- Indexes ----

namespace detail {
namespace {

// The indexes of an appended table, as DAO shows them.
std::vector<std::shared_ptr<dao::Index>> IndexesOfTable(TableDefState& t) {
  TableState& ts = t.Table(source::kIndexes);
  const jet::TableDefinition& def = ts.table->Definition();
  std::vector<std::shared_ptr<dao::Index>> out;
  for (const auto& li : def.indexes) {
    if (li.real_index >= def.real_indexes.size()) continue;
    const jet::RealIndexDefinition& ri = def.real_indexes[li.real_index];
    auto s = std::make_shared<IndexState>();
    s->engine = t.engine;
    s->name = li.name;
    s->primary = li.kind == jet::index_kind::kPrimaryKey;
    s->foreign = li.kind == jet::index_kind::kForeignKey;
    s->unique = (ri.flags & jet::index_flag::kUnique) != 0 || s->primary;
    s->ignore_nulls = (ri.flags & jet::index_flag::kIgnoreNulls) != 0;
    s->required = (ri.flags & jet::index_flag::kRequired) != 0;
    for (const auto& ic : ri.columns) {
      const jet::ColumnDefinition* c = def.ColumnByNumber(ic.column_number);
      auto f = std::make_shared<FieldState>();
      f->engine = t.engine;
      f->kind = FieldKind::kIndex;
      f->name = c ? c->name : std::string();
      f->type = c ? DaoTypeOfColumn(c->type) : 0;
      f->attributes = ic.ascending ? 0 : dbDescending;
      f->in_collection = true;
      f->table = t.shared_from_this();
      s->fields.push_back(std::make_shared<Field>(f));
    }
    s->appended = true;
    out.push_back(std::make_shared<dao::Index>(s));
  }
  return out;
}

}  // namespace
}  // namespace detail

Indexes::Indexes(std::shared_ptr<detail::TableDefState> table) : table_(std::move(table)) {}

namespace {

std::vector<std::shared_ptr<Index>> IndexList(detail::TableDefState& t) {
  if (t.appended) return detail::IndexesOfTable(t);
  return t.indexes;
}

}  // namespace

int Indexes::Count() const {
  return Guard(*table_->engine, source::kIndexes,
               [&] { return static_cast<int>(IndexList(*table_).size()); });
}

std::shared_ptr<Index> Indexes::Item(int index) const {
  return Guard(*table_->engine, source::kIndexes, [&] {
    auto all = IndexList(*table_);
    if (index < 0 || index >= static_cast<int>(all.size()))
      detail::Raise(*table_->engine, err::kItemNotFound, source::kIndexes);
    return all[static_cast<std::size_t>(index)];
  });
}

std::shared_ptr<Index> Indexes::Item(std::string_view name) const {
  return Guard(*table_->engine, source::kIndexes, [&] {
    for (auto& i : IndexList(*table_))
      if (detail::SameName(i->Name(), name)) return i;
    detail::Raise(*table_->engine, err::kItemNotFound, source::kIndexes);
  });
}

std::shared_ptr<Index> Indexes::Item(const core::Variant& index) const {
  if (index.Type() == core::VarType::String) return Item(std::string_view(index.ToString()));
  return Guard(*table_->engine, source::kIndexes, [&] {
    if (!index.IsNumeric()) detail::Raise(*table_->engine, err::kItemNotFound, source::kIndexes);
    return Item(index.ToLong());
  });
}

void Indexes::Append(const std::shared_ptr<Index>& index) {
  Guard(*table_->engine, source::kIndexes, [&] {
    auto& e = *table_->engine;
    if (!index) detail::Raise(e, err::kInvalidArgument, source::kIndexes);
    auto& s = *index->State();
    if (s.appended) detail::Raise(e, err::kIndexAlreadyAppended, source::kIndexes);
    for (auto& i : table_->indexes)
      if (i == index) detail::Raise(e, err::kIndexAlreadyAppended, source::kIndexes);
    if (s.fields.empty()) detail::Raise(e, err::kNoFieldDefined, source::kIndexes);
    if (s.name.empty()) detail::Raise(e, err::kInvalidName, source::kIndexes, "");
    for (auto& i : IndexList(*table_)) {
      if (detail::SameName(i->Name(), s.name))
        detail::Raise(e, err::kIndexExists, source::kIndexes);
      if (s.primary && i->Primary()) detail::Raise(e, err::kPrimaryKeyExists, source::kIndexes);
    }
    if (table_->appended)
      detail::AddIndexToTable(*table_, index);
    else
      table_->indexes.push_back(index);
  });
}

void Indexes::Delete(std::string_view name) {
  Guard(*table_->engine, source::kIndexes, [&] {
    auto& e = *table_->engine;
    if (table_->appended) {
      bool found = false;
      for (auto& i : IndexList(*table_))
        if (detail::SameName(i->Name(), name)) found = true;
      if (!found) detail::Raise(e, err::kItemNotFound, source::kIndexes);
      detail::DropIndexFromTable(*table_, std::string(name));
      return;
    }
    auto& list = table_->indexes;
    for (auto it = list.begin(); it != list.end(); ++it)
      if (detail::SameName((*it)->Name(), name)) {
        list.erase(it);
        return;
      }
    detail::Raise(e, err::kItemNotFound, source::kIndexes);
  });
}

// ---- TableDef ----

TableDef::TableDef(std::shared_ptr<detail::TableDefState> state) : s_(std::move(state)) {}

TableDef::~TableDef() = default;

std::string TableDef::Name() const {
  return s_->name;
}

void TableDef::SetName(const std::string& name) {
  Guard(*s_->engine, source::kTableDef, [&] {
    if (s_->appended)
      detail::Raise(*s_->engine, err::kPropertyReadOnlyOnceAppended, source::kTableDef);
    if (name.size() > 64) detail::Raise(*s_->engine, err::kInvalidName, source::kTableDef, name);
    s_->name = name;
  });
}

std::int32_t TableDef::Attributes() const {
  return Guard(*s_->engine, source::kTableDef, [&]() -> std::int32_t {
    if (!s_->appended) return s_->attributes;
    auto e = s_->Entry();
    if (!e) detail::Raise(*s_->engine, err::kObjectNotFound, source::kTableDef, s_->name);
    return e->DaoAttributes();
  });
}

void TableDef::SetAttributes(std::int32_t attributes) {
  Guard(*s_->engine, source::kTableDef, [&] {
    if (s_->appended)
      detail::Raise(*s_->engine, err::kPropertyReadOnlyOnceAppended, source::kTableDef);
    s_->attributes = attributes;
  });
}

std::string TableDef::Connect() const {
  return Guard(*s_->engine, source::kTableDef, [&]() -> std::string {
    if (!s_->appended) return s_->connect;
    auto e = s_->Entry();
    return e ? e->connect : std::string();
  });
}

std::string TableDef::SourceTableName() const {
  return Guard(*s_->engine, source::kTableDef, [&]() -> std::string {
    if (!s_->appended) return s_->source_table;
    auto e = s_->Entry();
    return e ? e->foreign_name : std::string();
  });
}

std::string TableDef::ValidationRule() const {
  return s_->validation_rule;
}

std::string TableDef::ValidationText() const {
  return s_->validation_text;
}

bool TableDef::Updatable() const {
  return Guard(*s_->engine, source::kTableDef, [&]() -> bool {
    if (!s_->appended) return true;
    auto e = s_->Entry();
    return e && !e->IsLinked() && !s_->db->read_only;
  });
}

core::Variant TableDef::DateCreated() const {
  return Guard(*s_->engine, source::kTableDef, [&] {
    auto e = s_->appended ? s_->Entry() : std::nullopt;
    return e ? core::Variant::FromDate(e->date_create) : core::Variant::Null();
  });
}

core::Variant TableDef::LastUpdated() const {
  return Guard(*s_->engine, source::kTableDef, [&] {
    auto e = s_->appended ? s_->Entry() : std::nullopt;
    return e ? core::Variant::FromDate(e->date_update) : core::Variant::Null();
  });
}

std::int32_t TableDef::RecordCount() const {
  return Guard(*s_->engine, source::kTableDef, [&]() -> std::int32_t {
    if (!s_->appended) return 0;
    auto e = s_->Entry();
    if (!e) detail::Raise(*s_->engine, err::kObjectNotFound, source::kTableDef, s_->name);
    if (e->IsLinked()) return -1;
    return static_cast<std::int32_t>(s_->Table(source::kTableDef).table->RowCount());
  });
}

dao::Fields& TableDef::Fields() {
  if (!fields_) {
    auto s = s_;
    fields_ = std::make_unique<dao::Fields>(
        [s]() -> std::vector<std::shared_ptr<Field>> {
          if (!s->appended) return s->fields;
          detail::TableState& ts = s->Table(source::kFields);
          std::vector<std::shared_ptr<Field>> out;
          for (int pos : ts.table->ColumnOrder())
            out.push_back(detail::TableColumnField(s, ts.table->Definition().columns[pos].name));
          return out;
        },
        s_->engine,
        [s](const std::shared_ptr<Field>& f) {
          auto& e = *s->engine;
          auto& fs = *f->State();
          if (fs.in_collection) detail::Raise(e, err::kFieldAlreadyAppended, source::kFields);
          if (fs.kind != detail::FieldKind::kNew)
            detail::Raise(e, err::kInvalidOperation, source::kFields);
          if (fs.name.empty()) detail::Raise(e, err::kInvalidName, source::kFields, "");
          if (s->appended) {
            detail::AddFieldToTable(*s, f);
            return;
          }
          for (auto& g : s->fields)
            if (detail::SameName(g->State()->name, fs.name))
              detail::Raise(e, err::kNameExists, source::kFields);
          if (fs.ordinal == 0) fs.ordinal = static_cast<int>(s->fields.size());
          fs.in_collection = true;
          s->fields.push_back(f);
        },
        [s](std::string_view name) {
          auto& e = *s->engine;
          if (s->appended) {
            detail::DropFieldFromTable(*s, std::string(name));
            return;
          }
          for (auto it = s->fields.begin(); it != s->fields.end(); ++it)
            if (detail::SameName((*it)->State()->name, name)) {
              (*it)->State()->in_collection = false;
              s->fields.erase(it);
              return;
            }
          detail::Raise(e, err::kItemNotFound, source::kFields);
        });
  }
  return *fields_;
}

dao::Indexes& TableDef::Indexes() {
  if (!indexes_) indexes_ = std::make_unique<dao::Indexes>(s_);
  return *indexes_;
}

namespace detail {
namespace {

struct TableDefHost final : PropertyHost {
  std::shared_ptr<TableDefState> t;

  std::vector<PropertyInfo> List() override {
    dao::TableDef view(t);
    std::vector<PropertyInfo> out = {
        {"Name", dbText, core::Variant(t->name), false},
        {"Updatable", dbBoolean, core::Variant::FromBoolean(view.Updatable()), false},
        {"DateCreated", dbDate, view.DateCreated(), false},
        {"LastUpdated", dbDate, view.LastUpdated(), false},
        {"Connect", dbMemo, core::Variant(view.Connect()), false},
        {"Attributes", dbLong, core::Variant::FromLong(view.Attributes()), false},
        {"SourceTableName", dbText, core::Variant(view.SourceTableName()), false},
        {"RecordCount", dbLong, core::Variant::FromLong(view.RecordCount()), false},
        {"ValidationRule", dbText, core::Variant(t->validation_rule), false},
        {"ValidationText", dbText, core::Variant(t->validation_text), false},
    };
    if (t->appended && t->Entry() && t->Entry()->IsTable()) {
      TableState& ts = t->Table(source::kTableDef);
      const jet::PropertyBlob& blob = ts.Blob();
      if (const jet::PropertyMap* map = blob.Find(""))
        for (const auto& p : map->properties)
          out.push_back(PropertyInfo{p.name, DaoTypeOfProperty(p.type), p.Value(), false});
    }
    return out;
  }

  void Set(const std::string& name, const core::Variant& value) override {
    dao::TableDef view(t);
    if (SameName(name, "Name")) return view.SetName(value.ToString());
    if (SameName(name, "Attributes")) return view.SetAttributes(value.ToLong());
    for (const auto& p : List()) {
      if (!SameName(p.name, name)) continue;
      if (p.name == "Name" || !t->appended)
        Raise(*engine, err::kInvalidOperation, source::kProperty);
      static const char* builtins[] = {"Updatable",      "DateCreated",     "LastUpdated",
                                       "Connect",        "SourceTableName", "RecordCount",
                                       "ValidationRule", "ValidationText"};
      for (const char* b : builtins)
        if (SameName(b, name)) Raise(*engine, err::kInvalidOperation, source::kProperty);
      if (value.IsNullOrEmpty()) Raise(*engine, err::kNullProperty, source::kProperty);
      jet::Property stored = StoredProperty(p.name, p.type, value, true);
      SetStoredProperty(*t, "", &stored, p.name);
      return;
    }
    Raise(*engine, err::kPropertyNotFound, source::kProperties);
  }

  void Append(const std::string& name, int type, const core::Variant& value, bool ddl) override {
    if (!t->appended) Raise(*engine, err::kInvalidOperation, source::kProperties);
    for (const auto& p : List())
      if (SameName(p.name, name)) Raise(*engine, err::kNameExists, source::kProperties);
    if (value.IsNullOrEmpty()) Raise(*engine, err::kNullProperty, source::kProperties);
    if (value.ToString().size() > 2048) Raise(*engine, err::kPropertyTooLarge, source::kProperties);
    jet::Property stored = StoredProperty(name, type, value, ddl);
    SetStoredProperty(*t, "", &stored, name);
  }

  void Remove(const std::string& name) override {
    static const char* builtins[] = {
        "Name",       "Updatable",       "DateCreated", "LastUpdated",    "Connect",
        "Attributes", "SourceTableName", "RecordCount", "ValidationRule", "ValidationText"};
    for (const char* b : builtins)
      if (SameName(b, name)) Raise(*engine, err::kBuiltInProperty, source::kProperties);
    for (const auto& p : List())
      if (SameName(p.name, name)) {
        SetStoredProperty(*t, "", nullptr, p.name);
        return;
      }
    Raise(*engine, err::kPropertyNotFound, source::kProperties);
  }
};

}  // namespace
}  // namespace detail

dao::Properties& TableDef::Properties() {
  if (!properties_) {
    auto host = std::make_shared<detail::TableDefHost>();
    host->engine = s_->engine;
    host->source = std::string(source::kTableDef);
    host->t = s_;
    properties_ = std::make_unique<dao::Properties>(host);
  }
  return *properties_;
}

std::shared_ptr<Field> TableDef::CreateField(const std::string& name, int type, std::int32_t size) {
  return Guard(*s_->engine, source::kTableDef, [&] {
    if (name.size() > 64) detail::Raise(*s_->engine, err::kInvalidName, source::kTableDef, name);
    auto f = std::make_shared<detail::FieldState>();
    f->engine = s_->engine;
    f->kind = detail::FieldKind::kNew;
    f->name = name;
    f->type = type;
    if (size >= 0) {
      f->size = size;
      f->size_given = true;
    }
    f->attributes = (type == dbText || type == dbMemo || type == dbBinary || type == dbLongBinary)
                        ? dbVariableField
                        : dbFixedField;
    return std::make_shared<Field>(f);
  });
}

std::shared_ptr<Index> TableDef::CreateIndex(const std::string& name) {
  return Guard(*s_->engine, source::kTableDef, [&] {
    if (name.size() > 64) detail::Raise(*s_->engine, err::kInvalidName, source::kTableDef, name);
    auto i = std::make_shared<detail::IndexState>();
    i->engine = s_->engine;
    i->name = name;
    return std::make_shared<Index>(i);
  });
}

std::shared_ptr<Property> TableDef::CreateProperty(const std::string& name, int type,
                                                   const core::Variant& value, bool ddl) {
  return std::make_shared<Property>(s_->engine, name, type, value, ddl);
}

std::shared_ptr<Recordset> TableDef::OpenRecordset(int type, int options, int lock_edit) {
  return Guard(*s_->engine, source::kTableDef, [&] {
    if (!s_->appended) detail::Raise(*s_->engine, err::kInvalidOperation, source::kTableDef);
    return detail::OpenTableRecordset(s_->db, s_->name, type == 0 ? dbOpenTable : type, options,
                                      lock_edit, source::kTableDef);
  });
}

// ---- TableDefs ----

TableDefs::TableDefs(std::shared_ptr<detail::DatabaseState> db) : db_(std::move(db)) {}

namespace {

// Tables as DAO lists them: by name in the database's sort order.
std::vector<jet::CatalogEntry> TableEntries(detail::DatabaseState& db) {
  std::vector<jet::CatalogEntry> all = db.Tables(source::kTableDefs);
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return jetsql::CompareText(a.name, b.name) < 0;
  });
  return all;
}

std::shared_ptr<TableDef> Appended(const std::shared_ptr<detail::DatabaseState>& db,
                                   const jet::CatalogEntry& e) {
  auto t = std::make_shared<detail::TableDefState>();
  t->engine = db->engine;
  t->db = db;
  t->appended = true;
  t->name = e.name;
  t->attributes = e.DaoAttributes();
  return std::make_shared<TableDef>(t);
}

}  // namespace

int TableDefs::Count() const {
  return Guard(*db_->engine, source::kTableDefs,
               [&] { return static_cast<int>(TableEntries(*db_).size()); });
}

std::shared_ptr<TableDef> TableDefs::Item(int index) const {
  return Guard(*db_->engine, source::kTableDefs, [&] {
    auto all = TableEntries(*db_);
    if (index < 0 || index >= static_cast<int>(all.size()))
      detail::Raise(*db_->engine, err::kItemNotFound, source::kTableDefs);
    return Appended(db_, all[static_cast<std::size_t>(index)]);
  });
}

std::shared_ptr<TableDef> TableDefs::Item(std::string_view name) const {
  return Guard(*db_->engine, source::kTableDefs, [&] {
    auto e = db_->FindObject(name, source::kTableDefs);
    if (!e || !(e->IsTable() || e->IsLinked()))
      detail::Raise(*db_->engine, err::kItemNotFound, source::kTableDefs);
    return Appended(db_, *e);
  });
}

std::shared_ptr<TableDef> TableDefs::Item(const core::Variant& index) const {
  if (index.Type() == core::VarType::String) return Item(std::string_view(index.ToString()));
  return Guard(*db_->engine, source::kTableDefs, [&] {
    if (!index.IsNumeric()) detail::Raise(*db_->engine, err::kItemNotFound, source::kTableDefs);
    return Item(index.ToLong());
  });
}

void TableDefs::Refresh() {
  Guard(*db_->engine, source::kTableDefs, [&] {
    db_->Jet(source::kTableDefs);
    db_->CatalogChanged();
  });
}

void TableDefs::Append(const std::shared_ptr<TableDef>& table) {
  Guard(*db_->engine, source::kTableDefs, [&] {
    if (!table) detail::Raise(*db_->engine, err::kInvalidArgument, source::kTableDefs);
    detail::AppendTableDef(db_, table->State());
  });
}

void TableDefs::Delete(std::string_view name) {
  Guard(*db_->engine, source::kTableDefs, [&] {
    jet::Database& j = db_->Jet(source::kTableDefs);
    auto e = db_->FindObject(name, source::kTableDefs);
    if (!e || !(e->IsTable() || e->IsLinked()))
      detail::Raise(*db_->engine, err::kItemNotFound, source::kTableDefs);
    db_->CheckWritable(source::kTableDefs);
    std::uint32_t page = e->TableDefinitionPage();
    auto it = db_->tables.find(page);
    if (it != db_->tables.end() && it->second->open_recordsets > 0)
      detail::Raise(*db_->engine, err::kTableInUse, source::kTableDefs, e->name);
    db_->ForgetTable(page);
    j.DropTable(e->name);
    db_->CatalogChanged();
  });
}

// ---- Property / Properties ----

Property::Property(std::shared_ptr<detail::EngineState> engine, std::string name, int type,
                   core::Variant value, bool ddl)
    : engine_(std::move(engine)),
      name_(std::move(name)),
      type_(type),
      value_(std::move(value)),
      ddl_(ddl) {}

Property::Property(std::shared_ptr<detail::PropertyHost> host, std::string name)
    : engine_(host->engine), host_(std::move(host)), name_(std::move(name)) {}

std::string Property::Name() const {
  return name_;
}

void Property::SetName(const std::string& name) {
  Guard(*engine_, source::kProperty, [&] {
    if (host_) detail::Raise(*engine_, err::kPropertyReadOnlyOnceAppended, source::kProperty);
    name_ = name;
  });
}

namespace {

const detail::PropertyInfo* FindInfo(const std::vector<detail::PropertyInfo>& list,
                                     std::string_view name) {
  for (const auto& p : list)
    if (detail::SameName(p.name, name)) return &p;
  return nullptr;
}

}  // namespace

int Property::Type() const {
  return Guard(*engine_, source::kProperty, [&]() -> int {
    if (!host_) return type_;
    auto list = host_->List();
    const auto* p = FindInfo(list, name_);
    if (!p) detail::Raise(*engine_, err::kPropertyNotFound, source::kProperty);
    return p->type;
  });
}

void Property::SetType(int type) {
  Guard(*engine_, source::kProperty, [&] {
    if (host_) detail::Raise(*engine_, err::kPropertyReadOnlyOnceAppended, source::kProperty);
    type_ = type;
  });
}

core::Variant Property::Value() const {
  return Guard(*engine_, source::kProperty, [&]() -> core::Variant {
    if (!host_) return value_;
    auto list = host_->List();
    const auto* p = FindInfo(list, name_);
    if (!p) detail::Raise(*engine_, err::kPropertyNotFound, source::kProperty);
    return p->value;
  });
}

void Property::SetValue(const core::Variant& value) {
  Guard(*engine_, source::kProperty, [&] {
    if (!host_) {
      value_ = value;
      return;
    }
    host_->Set(name_, value);
  });
}

bool Property::Inherited() const {
  return Guard(*engine_, source::kProperty, [&]() -> bool {
    if (!host_) return false;
    auto list = host_->List();
    const auto* p = FindInfo(list, name_);
    return p && p->inherited;
  });
}

Properties::Properties(std::shared_ptr<detail::PropertyHost> host) : host_(std::move(host)) {}

int Properties::Count() const {
  return Guard(*host_->engine, source::kProperties,
               [&] { return static_cast<int>(host_->List().size()); });
}

std::shared_ptr<Property> Properties::Item(int index) const {
  return Guard(*host_->engine, source::kProperties, [&] {
    auto list = host_->List();
    if (index < 0 || index >= static_cast<int>(list.size()))
      detail::Raise(*host_->engine, err::kItemNotFound, source::kProperties);
    return std::make_shared<Property>(host_, list[static_cast<std::size_t>(index)].name);
  });
}

std::shared_ptr<Property> Properties::Item(std::string_view name) const {
  return Guard(*host_->engine, source::kProperties, [&] {
    auto list = host_->List();
    const auto* p = FindInfo(list, name);
    if (!p) detail::Raise(*host_->engine, err::kPropertyNotFound, source::kProperties);
    return std::make_shared<Property>(host_, p->name);
  });
}

void Properties::Append(const std::shared_ptr<Property>& property) {
  Guard(*host_->engine, source::kProperties, [&] {
    if (!property) detail::Raise(*host_->engine, err::kInvalidArgument, source::kProperties);
    if (property->host_) detail::Raise(*host_->engine, err::kNameExists, source::kProperties);
    if (property->name_.empty())
      detail::Raise(*host_->engine, err::kInvalidName, source::kProperties, "");
    host_->Append(property->name_, property->type_, property->value_, property->ddl_);
    property->host_ = host_;
  });
}

void Properties::Delete(std::string_view name) {
  Guard(*host_->engine, source::kProperties, [&] { host_->Remove(std::string(name)); });
}

}  // namespace dao

// The schema as DAO shows it: TableDef, TableDefs, Property and Properties, and the hosts
// behind Properties (the fixed lists of built-in properties among them).
#include <algorithm>

#include "core/datetime.h"
#include "jetsql/collation.h"
#include "recordset_impl.h"
#include "schema_internal.h"

namespace dao {

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

// ---- property hosts ----

namespace detail {

void PropertyHost::Set(const std::string& name, const core::Variant& value) {
  (void)value;
  for (const auto& p : List())
    if (SameName(p.name, name)) Raise(*engine, err::kInvalidOperation, source);
  Raise(*engine, err::kPropertyNotFound, source::kProperties);
}

void PropertyHost::Append(const std::string& name, int type, const core::Variant& value, bool ddl) {
  (void)name;
  (void)type;
  (void)value;
  (void)ddl;
  Raise(*engine, err::kInvalidOperation, source::kProperties);
}

void PropertyHost::Remove(const std::string& name) {
  for (const auto& p : List())
    if (SameName(p.name, name)) Raise(*engine, err::kBuiltInProperty, source::kProperties);
  Raise(*engine, err::kPropertyNotFound, source::kProperties);
}

namespace {

struct FixedHost final : PropertyHost {
  std::function<std::vector<PropertyInfo>()> list;
  std::vector<PropertyInfo> List() override { return list(); }
};

}  // namespace

PropertyInfo BuiltInProperty(std::string name, int type, core::Variant value) {
  return PropertyInfo{std::move(name), type, std::move(value), false};
}

std::shared_ptr<PropertyHost> MakeFixedProperties(std::shared_ptr<EngineState> engine,
                                                  std::string source,
                                                  std::function<std::vector<PropertyInfo>()> list) {
  auto host = std::make_shared<FixedHost>();
  host->engine = std::move(engine);
  host->source = std::move(source);
  host->list = std::move(list);
  return host;
}

}  // namespace detail

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

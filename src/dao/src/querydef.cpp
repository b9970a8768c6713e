// QueryDefs and their Parameters.
#include <algorithm>

#include "jetsql/collation.h"
#include "jetsql/stored_query.h"
#include "recordset_impl.h"

namespace dao {
namespace detail {
namespace {

std::shared_ptr<QueryDef> StoredQuery(const std::shared_ptr<DatabaseState>& db,
                                      const jet::CatalogEntry& e) {
  auto q = std::make_shared<QueryDefState>();
  q->engine = db->engine;
  q->db = db;
  q->name = e.name;
  q->stored = true;
  q->type = static_cast<int>(e.flags & 0xF0u);
  q->date_created = e.date_create;
  q->date_updated = e.date_update;
  LoadStoredQuery(*q);
  for (auto& p : q->parameters)
    for (const auto& v : db->query_values)
      if (SameName(v.query, q->name) && SameName(v.parameter, p.name)) {
        p.value = v.value;
        p.value_set = true;
      }
  return std::make_shared<QueryDef>(q);
}

std::vector<jet::CatalogEntry> QueryEntries(DatabaseState& db) {
  std::vector<jet::CatalogEntry> all = db.Queries(source::kQueryDefs);
  std::stable_sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return jetsql::CompareText(a.name, b.name) < 0;
  });
  return all;
}

void CheckQueryOpen(const QueryDefState& q) {
  if (q.closed || !q.db->IsOpen()) Raise(*q.engine, err::kObjectInvalid, source::kQueryDef);
}

}  // namespace
}  // namespace detail

using detail::Guard;

// ---- QueryDefs ----

QueryDefs::QueryDefs(std::shared_ptr<detail::DatabaseState> db) : db_(std::move(db)) {}

int QueryDefs::Count() const {
  return Guard(*db_->engine, source::kQueryDefs,
               [&] { return static_cast<int>(detail::QueryEntries(*db_).size()); });
}

std::shared_ptr<QueryDef> QueryDefs::Item(int index) const {
  return Guard(*db_->engine, source::kQueryDefs, [&] {
    auto all = detail::QueryEntries(*db_);
    if (index < 0 || index >= static_cast<int>(all.size()))
      detail::Raise(*db_->engine, err::kItemNotFound, source::kQueryDefs);
    return detail::StoredQuery(db_, all[static_cast<std::size_t>(index)]);
  });
}

std::shared_ptr<QueryDef> QueryDefs::Item(std::string_view name) const {
  return Guard(*db_->engine, source::kQueryDefs, [&] {
    for (const auto& e : db_->Queries(source::kQueryDefs))
      if (detail::SameName(e.name, name)) return detail::StoredQuery(db_, e);
    detail::Raise(*db_->engine, err::kItemNotFound, source::kQueryDefs);
  });
}

std::shared_ptr<QueryDef> QueryDefs::Item(const core::Variant& index) const {
  if (index.Type() == core::VarType::String) return Item(std::string_view(index.ToString()));
  return Guard(*db_->engine, source::kQueryDefs, [&] {
    if (!index.IsNumeric()) detail::Raise(*db_->engine, err::kItemNotFound, source::kQueryDefs);
    return Item(index.ToLong());
  });
}

void QueryDefs::Append(const std::shared_ptr<QueryDef>& query) {
  Guard(*db_->engine, source::kQueryDefs, [&] {
    if (!query) detail::Raise(*db_->engine, err::kInvalidArgument, source::kQueryDefs);
    auto& q = *query->State();
    if (q.stored) detail::Raise(*db_->engine, err::kNameExists, source::kQueryDefs);
    if (q.name.empty()) detail::Raise(*db_->engine, err::kInvalidOperation, source::kQueryDefs);
    detail::StoreQuery(db_, q);
  });
}

void QueryDefs::Delete(std::string_view name) {
  Guard(*db_->engine, source::kQueryDefs, [&] {
    for (const auto& e : db_->Queries(source::kQueryDefs))
      if (detail::SameName(e.name, name)) {
        detail::DeleteStoredQuery(db_, e.name);
        return;
      }
    detail::Raise(*db_->engine, err::kItemNotFound, source::kQueryDefs);
  });
}

std::shared_ptr<QueryDef> Database::CreateQueryDef(const std::string& name,
                                                   const std::string& sql) {
  return Guard(*s_->engine, source::kDatabase, [&] {
    s_->Jet(source::kDatabase);
    auto q = std::make_shared<detail::QueryDefState>();
    q->engine = s_->engine;
    q->db = s_;
    q->name = name;
    q->sql = sql;
    detail::ParseQueryParameters(*q);
    auto query = std::make_shared<QueryDef>(q);
    // A named QueryDef is saved at once; an unnamed one is temporary for good.
    if (!name.empty()) QueryDefs().Append(query);
    return query;
  });
}

// ---- QueryDef ----

QueryDef::QueryDef(std::shared_ptr<detail::QueryDefState> state) : s_(std::move(state)) {}

QueryDef::~QueryDef() = default;

std::string QueryDef::Name() const {
  return s_->name;
}

void QueryDef::SetName(const std::string& name) {
  Guard(*s_->engine, source::kQueryDef, [&] {
    detail::CheckQueryOpen(*s_);
    if (s_->stored)
      detail::Raise(*s_->engine, err::kPropertyReadOnlyOnceAppended, source::kQueryDef);
    s_->name = name;
  });
}

std::string QueryDef::SQL() const {
  return s_->sql;
}

void QueryDef::SetSQL(const std::string& sql) {
  Guard(*s_->engine, source::kQueryDef, [&] {
    detail::CheckQueryOpen(*s_);
    std::string old = s_->sql;
    s_->sql = sql;
    try {
      detail::ParseQueryParameters(*s_);
      if (s_->stored) detail::StoreQuery(s_->db, *s_);
    } catch (...) {
      s_->sql = old;
      throw;
    }
  });
}

int QueryDef::Type() const {
  return s_->type;
}

std::int32_t QueryDef::MaxRecords() const {
  return s_->max_records;
}

void QueryDef::SetMaxRecords(std::int32_t max) {
  Guard(*s_->engine, source::kQueryDef, [&] {
    if (max < 0) detail::Raise(*s_->engine, err::kInvalidArgument, source::kQueryDef);
    s_->max_records = max;
  });
}

int QueryDef::ODBCTimeout() const {
  return s_->odbc_timeout;
}

void QueryDef::SetODBCTimeout(int seconds) {
  s_->odbc_timeout = seconds;
}

bool QueryDef::Updatable() const {
  return !s_->db->read_only;
}

core::Variant QueryDef::DateCreated() const {
  return s_->stored ? core::Variant::FromDate(s_->date_created) : core::Variant::Null();
}

core::Variant QueryDef::LastUpdated() const {
  return s_->stored ? core::Variant::FromDate(s_->date_updated) : core::Variant::Null();
}

dao::Parameters& QueryDef::Parameters() {
  if (!parameters_) parameters_ = std::make_unique<dao::Parameters>(s_);
  return *parameters_;
}

dao::Fields& QueryDef::Fields() {
  if (!fields_) {
    auto s = s_;
    fields_ = std::make_unique<dao::Fields>(
        [s] {
          std::vector<std::shared_ptr<Field>> out;
          for (const auto& c : detail::QueryColumns(*s)) {
            auto f = std::make_shared<detail::FieldState>();
            f->engine = s->engine;
            f->kind = detail::FieldKind::kQuery;
            f->name = c.name;
            f->type = c.type;
            f->size = c.size;
            f->size_given = true;
            f->attributes = c.attributes;
            f->in_collection = true;
            out.push_back(std::make_shared<Field>(f));
          }
          return out;
        },
        s_->engine);
  }
  return *fields_;
}

dao::Properties& QueryDef::Properties() {
  if (!properties_) {
    auto s = s_;
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(s_->engine, std::string(source::kQueryDef), [s] {
          return std::vector<detail::PropertyInfo>{
              {"Name", dbText, core::Variant(s->name), false},
              {"SQL", dbMemo, core::Variant(s->sql), false},
              {"Type", dbInteger, core::Variant::FromInteger(static_cast<std::int16_t>(s->type)),
               false},
              {"MaxRecords", dbLong, core::Variant::FromLong(s->max_records), false},
              {"ODBCTimeout", dbInteger,
               core::Variant::FromInteger(static_cast<std::int16_t>(s->odbc_timeout)), false},
          };
        }));
  }
  return *properties_;
}

std::shared_ptr<Recordset> QueryDef::OpenRecordset(int type, int options, int lock_edit) {
  return Guard(*s_->engine, source::kQueryDef, [&] {
    detail::CheckQueryOpen(*s_);
    if (type == dbOpenTable) detail::Raise(*s_->engine, err::kInvalidOperation, source::kQueryDef);
    int missing = 0;
    for (const auto& p : s_->parameters)
      if (!p.value_set && (p.direction == dbParamInput || p.direction == dbParamInputOutput))
        ++missing;
    if (missing > 0)
      detail::Raise(*s_->engine, err::kTooFewParameters, source::kQueryDef,
                    std::to_string(missing));
    auto rs = detail::OpenSqlRecordset(s_->db, s_->sql, type, options, lock_edit, s_->parameters,
                                       s_->max_records);
    // A stored query's recordset carries the query's name.
    if (s_->stored) rs->Impl().name = s_->name;
    return rs;
  });
}

void QueryDef::Close() {
  Guard(*s_->engine, source::kQueryDef, [&] {
    if (s_->closed) detail::Raise(*s_->engine, err::kObjectInvalid, source::kQueryDef);
    s_->closed = true;
  });
}

// ---- Parameters ----

Parameters::Parameters(std::shared_ptr<detail::QueryDefState> query) : q_(std::move(query)) {}

int Parameters::Count() const {
  return static_cast<int>(q_->parameters.size());
}

std::shared_ptr<Parameter> Parameters::Item(int index) const {
  return Guard(*q_->engine, source::kParameters, [&] {
    if (index < 0 || index >= Count())
      detail::Raise(*q_->engine, err::kItemNotFound, source::kParameters);
    return std::make_shared<Parameter>(q_, index);
  });
}

std::shared_ptr<Parameter> Parameters::Item(std::string_view name) const {
  return Guard(*q_->engine, source::kParameters, [&] {
    for (std::size_t i = 0; i < q_->parameters.size(); ++i)
      if (detail::SameName(q_->parameters[i].name, name))
        return std::make_shared<Parameter>(q_, static_cast<int>(i));
    detail::Raise(*q_->engine, err::kItemNotFound, source::kParameters);
  });
}

std::shared_ptr<Parameter> Parameters::Item(const core::Variant& index) const {
  if (index.Type() == core::VarType::String) return Item(std::string_view(index.ToString()));
  return Guard(*q_->engine, source::kParameters, [&] {
    if (!index.IsNumeric()) detail::Raise(*q_->engine, err::kItemNotFound, source::kParameters);
    return Item(index.ToLong());
  });
}

Parameter::Parameter(std::shared_ptr<detail::QueryDefState> query, int index)
    : q_(std::move(query)), index_(index) {}

std::string Parameter::Name() const {
  return q_->parameters[static_cast<std::size_t>(index_)].name;
}

int Parameter::Type() const {
  // A name the statement does not declare takes any value; DAO reports it as Text.
  int type = q_->parameters[static_cast<std::size_t>(index_)].type;
  return type == 0 ? dbText : type;
}

int Parameter::Direction() const {
  return q_->parameters[static_cast<std::size_t>(index_)].direction;
}

void Parameter::SetDirection(int direction) {
  Guard(*q_->engine, source::kParameter, [&] {
    if (direction < dbParamInput || direction > dbParamReturnValue)
      detail::Raise(*q_->engine, err::kInvalidArgument, source::kParameter);
    q_->parameters[static_cast<std::size_t>(index_)].direction = direction;
  });
}

core::Variant Parameter::Value() const {
  return q_->parameters[static_cast<std::size_t>(index_)].value;
}

void Parameter::SetValue(const core::Variant& value) {
  Guard(*q_->engine, source::kParameter, [&] {
    auto& p = q_->parameters[static_cast<std::size_t>(index_)];
    core::Variant converted;
    if (p.type == 0 || value.IsNullOrEmpty()) {
      converted = value.IsEmpty() ? core::Variant::Null() : value;
    } else if (int e = ConvertToFieldType(value, p.type, 0, converted); e != 0) {
      detail::Raise(*q_->engine, e, source::kParameter);
    }
    p.value = std::move(converted);
    p.value_set = true;
    if (q_->stored && q_->db) {
      auto& kept = q_->db->query_values;
      auto it = std::find_if(kept.begin(), kept.end(), [&](const auto& v) {
        return detail::SameName(v.query, q_->name) && detail::SameName(v.parameter, p.name);
      });
      if (it == kept.end())
        kept.push_back({q_->name, p.name, p.value});
      else
        it->value = p.value;
    }
  });
}

dao::Properties& Parameter::Properties() {
  if (!properties_) {
    auto q = q_;
    int i = index_;
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(q_->engine, std::string(source::kParameter), [q, i] {
          const auto& p = q->parameters[static_cast<std::size_t>(i)];
          return std::vector<detail::PropertyInfo>{
              {"Name", dbText, core::Variant(p.name), false},
              {"Type", dbInteger, core::Variant::FromInteger(static_cast<std::int16_t>(p.type)),
               false},
              {"Direction", dbInteger,
               core::Variant::FromInteger(static_cast<std::int16_t>(p.direction)), false},
              {"Value", p.type == 0 ? dbText : p.type, p.value, false},
          };
        }));
  }
  return *properties_;
}

std::string_view QueryDefTypeName(int type) {
  return jetsql::QueryTypeName(type);
}

}  // namespace dao

// The schema as DAO shows it: Index and Indexes.
#include <algorithm>

#include "core/datetime.h"
#include "jetsql/collation.h"
#include "recordset_impl.h"
#include "schema_internal.h"

namespace dao {

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

}  // namespace dao

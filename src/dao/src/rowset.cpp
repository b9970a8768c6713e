// Rows of a recordset family, and the columns of a base table as recordset fields.
#include <algorithm>

#include "recordset_impl.h"

namespace dao::detail {

bool RowSet::Live(std::size_t ordinal) {
  if (KnownDead(ordinal)) return false;
  if (table && !table->Alive(refs[ordinal])) {
    // A snapshot keeps what it copied.
    if (copy_rows && !values[ordinal].empty()) return true;
    MarkDead(ordinal);
    return false;
  }
  return true;
}

void RowSet::MarkDead(std::size_t ordinal) {
  auto it =
      std::lower_bound(dead_sorted.begin(), dead_sorted.end(), static_cast<std::uint32_t>(ordinal));
  if (it != dead_sorted.end() && *it == ordinal) return;
  dead_sorted.insert(it, static_cast<std::uint32_t>(ordinal));
}

std::size_t RowSet::DeadBelow(std::size_t ordinal) const {
  return static_cast<std::size_t>(std::lower_bound(dead_sorted.begin(), dead_sorted.end(),
                                                   static_cast<std::uint32_t>(ordinal)) -
                                  dead_sorted.begin());
}

std::size_t RowSet::Append(RowRef ref) {
  refs.push_back(ref);
  if (copy_rows) values.emplace_back();
  ++version;
  return refs.size() - 1;
}

const std::vector<core::Variant>& RowSet::Row(std::size_t ordinal,
                                              std::vector<core::Variant>& scratch,
                                              EngineState& engine, std::string_view source) {
  if (!table || (copy_rows && !values[ordinal].empty())) return values[ordinal];
  if (KnownDead(ordinal) || !table->Alive(refs[ordinal])) {
    MarkDead(ordinal);
    Raise(engine, err::kRecordDeleted, source);
  }
  std::vector<core::Variant> stored;
  try {
    if (query) {
      if (!query->ReadByLocator(refs[ordinal].ptr, stored)) {
        MarkDead(ordinal);
        Raise(engine, err::kRecordDeleted, source);
      }
    } else {
      stored = table->table->Read(jet::RowPointer::FromU32(refs[ordinal].ptr));
    }
  } catch (const jet::JetError& e) {
    if (e.Code() != jet::ErrorCode::kNotFound) throw;
    MarkDead(ordinal);
    Raise(engine, err::kRecordDeleted, source);
  }
  FromStorage(stored, scratch);
  if (copy_rows) {
    values[ordinal] = scratch;
    return values[ordinal];
  }
  return scratch;
}

void RowSet::FromStorage(std::vector<core::Variant>& stored,
                         std::vector<core::Variant>& out) const {
  out.resize(columns.size());
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const ColumnInfo& col = columns[c];
    core::Variant& v = out[c];
    if (query)
      v = c < stored.size() ? std::move(stored[c]) : core::Variant::Null();
    else
      v = col.storage >= 0 ? std::move(stored[col.storage]) : core::Variant::Null();
    // The storage engine gives GUIDs as text; the recordset keeps their bytes.
    if (col.type == dbGUID && v.Type() == core::VarType::String) {
      std::uint8_t g[16];
      if (jet::TryParseGuid(v.ToString(), g))
        v = core::Variant::FromBytes(std::vector<std::uint8_t>(g, g + 16));
    }
  }
}

std::vector<ColumnInfo> TableColumns(DatabaseState& db, TableState& table, bool updatable) {
  (void)db;
  const jet::TableDefinition& def = table.table->Definition();
  std::vector<ColumnInfo> out;
  for (int pos : table.table->ColumnOrder()) {
    const jet::ColumnDefinition& c = def.columns[pos];
    ColumnInfo info;
    info.name = c.name;
    info.type = DaoTypeOfColumn(c.type);
    info.size = DaoSizeOfColumn(c);
    info.auto_increment = c.IsAutoNumber() || c.IsGuidAutoNumber();
    info.updatable = updatable && !info.auto_increment && info.type > 0;
    info.attributes = DaoAttributesOfColumn(c) | (info.updatable ? dbUpdatableField : 0);
    info.storage = pos;
    info.source_table = table.name;
    info.source_field = c.name;
    out.push_back(std::move(info));
  }
  return out;
}

}  // namespace dao::detail

// Where recordsets meet the SQL layer's statements and stored queries, and where tables that
// exist change their design.
#include "recordset_impl.h"

namespace dao::detail {
namespace {

[[noreturn]] void Unavailable(EngineState& engine, std::string_view source, const char* what) {
  RaiseText(engine, err::kInvalidOperation, source,
            ErrorText(err::kInvalidOperation) + " (" + what + ")");
}

}  // namespace

std::shared_ptr<Recordset> OpenSqlRecordset(const std::shared_ptr<DatabaseState>& db,
                                            const std::string& sql, int type, int options,
                                            int lock_edit,
                                            const std::vector<QueryParameter>& parameters) {
  (void)sql;
  (void)type;
  (void)options;
  (void)lock_edit;
  (void)parameters;
  Unavailable(*db->engine, source::kDatabase, "SQL statements cannot be run by this engine");
}

void ExecuteSql(const std::shared_ptr<DatabaseState>& db, const std::string& sql, int options) {
  (void)sql;
  (void)options;
  Unavailable(*db->engine, source::kDatabase, "action queries cannot be run by this engine");
}

void LoadStoredQuery(QueryDefState& query) {
  (void)query;
}

void StoreQuery(const std::shared_ptr<DatabaseState>& db, QueryDefState& query) {
  (void)query;
  Unavailable(*db->engine, source::kQueryDefs, "stored queries cannot be saved by this engine");
}

void DeleteStoredQuery(const std::shared_ptr<DatabaseState>& db, const std::string& name) {
  (void)name;
  Unavailable(*db->engine, source::kQueryDefs, "stored queries cannot be deleted by this engine");
}

void ParseQueryParameters(QueryDefState& query) {
  (void)query;
}

std::vector<ColumnInfo> QueryColumns(QueryDefState& query) {
  (void)query;
  return {};
}

void LimitRows(Recordset& recordset, std::size_t count) {
  RowSet& rows = *recordset.Impl().rows;
  if (rows.Size() <= count) return;
  if (rows.table) {
    rows.refs.resize(count);
    if (rows.copy_rows) rows.values.resize(count);
  } else {
    rows.values.resize(count);
  }
  rows.dead.resize(count);
  while (!rows.dead_sorted.empty() && rows.dead_sorted.back() >= count) rows.dead_sorted.pop_back();
  recordset.Impl().Initialise();
}

void AddIndexToTable(TableDefState& table, const std::shared_ptr<Index>& index) {
  (void)index;
  Unavailable(*table.engine, source::kIndexes,
              "the storage engine cannot add an index to a table that exists");
}

void DropIndexFromTable(TableDefState& table, const std::string& name) {
  (void)name;
  Unavailable(*table.engine, source::kIndexes,
              "the storage engine cannot remove an index from a table that exists");
}

void AddFieldToTable(TableDefState& table, const std::shared_ptr<Field>& field) {
  (void)field;
  Unavailable(*table.engine, source::kFields,
              "the storage engine cannot add a column to a table that exists");
}

void DropFieldFromTable(TableDefState& table, const std::string& name) {
  (void)name;
  Unavailable(*table.engine, source::kFields,
              "the storage engine cannot remove a column from a table that exists");
}

}  // namespace dao::detail

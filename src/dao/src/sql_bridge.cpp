// Where recordsets meet the SQL layer: statements, stored queries and their parameters.
#include <atomic>

#include "jetsql/jet_catalog.h"
#include "recordset_impl.h"

namespace dao::detail {
namespace {

[[noreturn]] void Unavailable(EngineState& engine, std::string_view source, const char* what) {
  RaiseText(engine, err::kInvalidOperation, source,
            ErrorText(err::kInvalidOperation) + " (" + what + ")");
}

std::uint32_t SqlTag() {
  static std::atomic<std::uint32_t> counter{0x51E0001u};
  return counter.fetch_add(0x7F4A7C15u);
}

// A value of a GUID column as recordsets keep it: its 16 bytes.
void GuidToBytes(core::Variant& v) {
  if (v.Type() != core::VarType::String) return;
  std::uint8_t g[16];
  if (ParseGuidValueText(v.ToString(), g))
    v = core::Variant::FromBytes(std::vector<std::uint8_t>(g, g + 16));
}

bool IsReadOnly(const DatabaseState& db, int options, int lock_edit) {
  return db.read_only || (options & dbReadOnly) != 0 || lock_edit == dbReadOnly;
}

// The rows of a statement's result as a RowSet: by locator when the result comes from one
// table (a dynaset re-reads and updates them), copied values otherwise.
std::shared_ptr<RowSet> RowsOfResult(const std::shared_ptr<DatabaseState>& db,
                                     std::shared_ptr<jetsql::QueryResult> result, bool updatable,
                                     std::string_view source) {
  auto rows = std::make_shared<RowSet>();
  rows->db = db;
  rows->tag = SqlTag();
  TableState* ts = nullptr;
  if (auto base = result->BaseTable()) {
    ts = &db->Table(base->Name(), source);
    rows->table = ts;
    rows->query = result;
  }
  for (const auto& c : result->Columns()) {
    ColumnInfo info;
    info.name = c.name;
    info.type = static_cast<int>(c.type) == 0 ? dbText : static_cast<int>(c.type);
    info.source_table = c.table;
    info.source_field = c.source_column;
    info.size = info.type == dbText ? 255 : 0;
    if (ts && c.base_column >= 0 &&
        static_cast<std::size_t>(c.base_column) < ts->table->ColumnOrder().size()) {
      int storage = ts->table->ColumnOrder()[static_cast<std::size_t>(c.base_column)];
      const jet::ColumnDefinition& col = ts->table->Definition().columns[storage];
      info.storage = storage;
      info.size = DaoSizeOfColumn(col);
      info.auto_increment = col.IsAutoNumber() || col.IsGuidAutoNumber();
      info.updatable = updatable && c.updatable && !info.auto_increment;
      info.attributes = DaoAttributesOfColumn(col);
    } else {
      info.attributes = info.type == dbText || info.type == dbMemo || info.type == dbBinary ||
                                info.type == dbLongBinary
                            ? dbVariableField
                            : dbFixedField;
    }
    if (info.updatable) info.attributes |= dbUpdatableField;
    rows->columns.push_back(std::move(info));
  }
  if (ts) {
    for (jetsql::RowLocator loc : result->Locators()) rows->Append(ts->Ref(loc));
  } else {
    const std::size_t n = result->RowCount();
    rows->values.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<core::Variant> row = result->Row(i);
      for (std::size_t c = 0; c < row.size() && c < rows->columns.size(); ++c)
        if (rows->columns[c].type == dbGUID) GuidToBytes(row[c]);
      rows->values.push_back(std::move(row));
    }
  }
  rows->version = 0;
  return rows;
}

std::shared_ptr<jetsql::QueryResult> Execute(DatabaseState& db, const std::string& sql, int type,
                                             const std::vector<QueryParameter>& parameters,
                                             std::int64_t max_records, std::string_view source) {
  jetsql::JetCatalog catalog(db.Jet(source));
  jetsql::PreparedQuery prepared = jetsql::PreparedQuery::Prepare(sql, catalog);
  jetsql::QueryOptions o;
  o.kind = type == dbOpenDynaset ? jetsql::ResultKind::kDynaset : jetsql::ResultKind::kSnapshot;
  for (const auto& p : parameters)
    if (p.value_set) o.parameters.emplace_back(p.name, p.value);
  o.max_records = max_records;
  return std::make_shared<jetsql::QueryResult>(prepared.Execute(o));
}

}  // namespace

std::shared_ptr<Recordset> OpenSqlRecordset(const std::shared_ptr<DatabaseState>& db,
                                            const std::string& sql, int type, int options,
                                            int lock_edit,
                                            const std::vector<QueryParameter>& parameters,
                                            std::int64_t max_records) {
  int t = type == 0 ? dbOpenDynaset : type;
  if (options & dbForwardOnly) t = dbOpenForwardOnly;
  if (t == dbOpenTable) Raise(*db->engine, err::kInvalidOperation, source::kDatabase);
  auto result = Execute(*db, sql, t, parameters, max_records, source::kDatabase);
  const bool updatable =
      t == dbOpenDynaset && result->Updatable() && !IsReadOnly(*db, options, lock_edit);
  auto impl = std::make_unique<RecordsetImpl>();
  impl->engine = db->engine;
  impl->db = db;
  impl->name = sql.substr(0, 256);
  impl->type = t;
  impl->options = options;
  impl->lock_edit = lock_edit == 0 ? dbPessimistic : lock_edit;
  impl->lock_edits = impl->lock_edit == dbPessimistic;
  impl->updatable = updatable;
  impl->source_sql = sql;
  impl->source_parameters = parameters;
  impl->max_records = max_records;
  impl->rows = RowsOfResult(db, std::move(result), updatable, source::kDatabase);
  if (impl->rows->table) impl->source_table = impl->rows->table->name;
  auto rs = std::make_shared<Recordset>(std::move(impl));
  rs->Impl().self = rs;
  rs->Impl().Initialise();
  if (rs->Impl().rows->table) ++rs->Impl().rows->table->open_recordsets;
  db->recordsets.push_back(rs);
  return rs;
}

std::shared_ptr<RowSet> RunSql(RecordsetImpl& r) {
  auto result =
      Execute(*r.db, r.source_sql, r.type, r.source_parameters, r.max_records, source::kRecordset);
  auto rows = RowsOfResult(r.db, std::move(result), r.updatable, source::kRecordset);
  rows->columns = r.rows->columns;
  return rows;
}

void ExecuteSql(const std::shared_ptr<DatabaseState>& db, const std::string& sql, int options) {
  (void)sql;
  (void)options;
  Unavailable(*db->engine, source::kDatabase, "action queries cannot be run by this engine");
}

// ---- stored queries ----

namespace {

void TakeParameters(QueryDefState& q, const std::vector<jetsql::ParameterInfo>& found) {
  std::vector<QueryParameter> next;
  for (const auto& p : found) {
    QueryParameter qp;
    qp.name = p.name;
    qp.type = static_cast<int>(p.type);
    qp.direction = p.direction;
    // Values already given to a parameter of the same name stay.
    for (const auto& old : q.parameters)
      if (SameName(old.name, p.name)) {
        qp.value = old.value;
        qp.value_set = old.value_set;
      }
    next.push_back(std::move(qp));
  }
  q.parameters = std::move(next);
}

}  // namespace

void LoadStoredQuery(QueryDefState& q) {
  jetsql::JetCatalog catalog(q.db->Jet(source::kQueryDefs));
  std::optional<jetsql::StoredQuery> found = catalog.FindQuery(q.name);
  if (!found) return;
  q.sql = found->sql;
  q.type = found->type;
  TakeParameters(q, found->parameters);
}

void StoreQuery(const std::shared_ptr<DatabaseState>& db, QueryDefState& q) {
  jet::Database& j = db->Jet(source::kQueryDefs);
  db->CheckWritable(source::kQueryDefs);
  jetsql::JetCatalog catalog(j);
  if (q.stored) {
    catalog.DeleteQuery(q.name);
    db->CatalogChanged();
  }
  jetsql::StoredQuery stored = catalog.CreateQuery(q.name, q.sql);
  db->CatalogChanged();
  q.stored = true;
  q.type = stored.type;
  if (auto e = db->FindObject(q.name, source::kQueryDefs)) {
    q.date_created = e->date_create;
    q.date_updated = e->date_update;
  }
}

void DeleteStoredQuery(const std::shared_ptr<DatabaseState>& db, const std::string& name) {
  jet::Database& j = db->Jet(source::kQueryDefs);
  db->CheckWritable(source::kQueryDefs);
  jetsql::JetCatalog(j).DeleteQuery(name);
  db->CatalogChanged();
}

void ParseQueryParameters(QueryDefState& q) {
  if (q.sql.empty()) {
    q.parameters.clear();
    return;
  }
  jetsql::JetCatalog catalog(q.db->Jet(source::kQueryDef));
  TakeParameters(q, jetsql::PreparedQuery::Prepare(q.sql, catalog).Parameters());
}

std::vector<ColumnInfo> QueryColumns(QueryDefState& q) {
  std::vector<ColumnInfo> out;
  if (q.sql.empty()) return out;
  jetsql::JetCatalog catalog(q.db->Jet(source::kQueryDef));
  for (const auto& c : jetsql::PreparedQuery::Prepare(q.sql, catalog).Columns()) {
    ColumnInfo info;
    info.name = c.name;
    info.type = static_cast<int>(c.type) == 0 ? dbText : static_cast<int>(c.type);
    info.source_table = c.table;
    info.source_field = c.source_column;
    out.push_back(std::move(info));
  }
  return out;
}

}  // namespace dao::detail

// The SQL layer over a Jet database: its tables as row sources (scans, reads by locator,
// index ranges through the table's B-trees) and its stored queries (read back to SQL,
// created and deleted as Access keeps them in MSysObjects, MSysACEs and MSysQueries).
//
// The catalog borrows the database; it must not outlive it. Everything it writes goes
// through the storage engine's tables, so catalog and MSysQueries indexes stay in step.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database.h"
#include "jetsql/source.h"
#include "jetsql/stored_query.h"

namespace jetsql {

// DAO's type code for a Jet column type code (the same numbers, Decimal 0x10 -> 20).
DataType DataTypeOfColumn(std::uint8_t jet_column_type);

class JetCatalog : public Catalog {
 public:
  explicit JetCatalog(jet::Database& db);
  ~JetCatalog() override;

  // User and system tables by name; nullptr for anything else.
  std::shared_ptr<TableSource> OpenTable(std::string_view name) override;
  // The SQL of a stored select query.
  std::optional<std::string> QuerySql(std::string_view name) override;
  // The database's sort order (Jet 4; General for Jet 3).
  jet::SortOrder TextOrder() const override;

  // Every stored query, in catalog order, with its type, SQL and parameters.
  std::vector<StoredQuery> Queries();
  std::optional<StoredQuery> FindQuery(std::string_view name);
  // Stores a SELECT query under `name`, as Access would (CreateQueryDef with a name).
  // Errors: 3125 for a name Jet does not allow, 3012 when an object of that name exists,
  // the statement's syntax errors, 3219 for statements other than SELECT, 3027 when the
  // database is read-only.
  StoredQuery CreateQuery(std::string_view name, std::string_view sql);
  // Removes a stored query with its permissions and rows; 3265 when there is none.
  void DeleteQuery(std::string_view name);

 private:
  // The MSysQueries rows of one query, or of every query when `object_id` is empty.
  std::map<std::int32_t, std::vector<QueryRow>> RowsOf(std::optional<std::int32_t> object_id);
  jet::Database& db_;
  std::vector<std::shared_ptr<TableSource>> open_;
};

}  // namespace jetsql

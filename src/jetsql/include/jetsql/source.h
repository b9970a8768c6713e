// Where a SELECT gets its rows: tables by name from a catalog, scanned in physical order or
// over an index range, each row reachable again by a 4-byte locator (what a dynaset keeps and
// DAO hands out as a bookmark).
//
// The Jet storage engine implements these over .mdb files (jet_catalog.h); MemoryTable holds
// rows in memory for snapshots of stored queries used as tables, and for tests.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "jetsql/types.h"

namespace jetsql {

using RowLocator = std::uint32_t;

// A position in a table's rows; the row's values are read through RowView::Get.
class RowCursor : public RowView {
 public:
  // Moves to the next row (the first on the first call); false past the last.
  virtual bool Next() = 0;
  virtual RowLocator Locator() const = 0;
};

struct IndexInfo {
  std::string name;
  std::vector<int> columns;  // positions in the table's columns, in key order
  std::vector<bool> descending;
  bool unique = false;
  bool primary = false;
};

// One end of a range over an index's first column. An absent bound is open.
struct KeyBound {
  bool present = false;
  bool inclusive = true;
  core::Variant value;  // already of the column's type
};

class TableSource {
 public:
  virtual ~TableSource() = default;
  virtual const std::string& Name() const = 0;
  virtual const std::vector<ColumnInfo>& Columns() const = 0;
  // Every row in physical order.
  virtual std::unique_ptr<RowCursor> Scan() = 0;
  // The row's values by locator; false when the row no longer exists.
  virtual bool Read(RowLocator locator, std::vector<core::Variant>& values) = 0;
  virtual std::vector<IndexInfo> Indexes() const { return {}; }
  // Rows whose first key column lies between the bounds, in index order (Null keys excluded).
  // nullptr when the source cannot do it; the caller then scans.
  virtual std::unique_ptr<RowCursor> ScanIndex(std::size_t index, const KeyBound& low,
                                               const KeyBound& high) {
    (void)index, (void)low, (void)high;
    return nullptr;
  }
};

class Catalog {
 public:
  virtual ~Catalog() = default;
  // The table of that name (case-insensitive), or nullptr.
  // The order text compares in when no column says (the database's).
  virtual jet::SortOrder TextOrder() const { return jet::kGeneralSortOrder; }
  virtual std::shared_ptr<TableSource> OpenTable(std::string_view name) = 0;
  // The SQL of a stored SELECT query of that name, which a FROM clause may name like a table.
  virtual std::optional<std::string> QuerySql(std::string_view name) {
    (void)name;
    return std::nullopt;
  }
};

// Rows held in memory. Locators are row numbers; deleted rows keep their number.
class MemoryTable : public TableSource {
 public:
  MemoryTable(std::string name, std::vector<ColumnInfo> columns);

  const std::string& Name() const override { return name_; }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  std::unique_ptr<RowCursor> Scan() override;
  bool Read(RowLocator locator, std::vector<core::Variant>& values) override;
  std::vector<IndexInfo> Indexes() const override;
  std::unique_ptr<RowCursor> ScanIndex(std::size_t index, const KeyBound& low,
                                       const KeyBound& high) override;

  RowLocator AddRow(std::vector<core::Variant> values);
  void DeleteRow(RowLocator locator);
  // An ascending index over the columns; its order is rebuilt when it is first used after a
  // change.
  void AddIndex(std::string name, std::vector<int> columns, bool unique = false);
  std::size_t RowCount() const { return rows_.size(); }
  // How many rows cursors have handed out since the last call (shows whether an index
  // narrowed a search).
  std::size_t TakeRowsVisited();

 private:
  struct Index {
    IndexInfo info;
    std::vector<std::pair<std::string, RowLocator>> order;  // (key of the first column, row)
    bool stale = true;
  };
  void Refresh(Index& index);

  std::string name_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::vector<core::Variant>> rows_;
  std::vector<bool> deleted_;
  std::vector<Index> indexes_;
  std::size_t visited_ = 0;
  friend class MemoryCursor;
};

class MemoryCatalog : public Catalog {
 public:
  void AddTable(std::shared_ptr<TableSource> table);
  void AddQuery(std::string name, std::string sql);
  std::shared_ptr<TableSource> OpenTable(std::string_view name) override;
  std::optional<std::string> QuerySql(std::string_view name) override;

 private:
  std::vector<std::shared_ptr<TableSource>> tables_;
  std::vector<std::pair<std::string, std::string>> queries_;
};

}  // namespace jetsql

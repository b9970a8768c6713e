// Index definitions as a user sees them (name, columns with their direction, kind and
// flags), read from a table definition; the column-list text the command line takes to
// create one ("NAME, BORN DESC"); and adding one where a new primary key replaces the old.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "jet/database.h"
#include "jet/table_definition.h"

namespace jet {

struct IndexInfo {
  std::string name;
  std::vector<std::pair<std::string, bool>> columns;  // column name, ascending
  bool primary_key = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
  bool foreign_key = false;              // a relationship's reference
  std::uint32_t foreign_table_page = 0;  // the other table's definition page
  bool referenced = false;               // this table is the relationship's "one" side
  std::uint32_t real_index = 0;
  std::uint32_t root_page = 0;
};

// Every logical index of the table, in stored order (Access keeps them sorted by name).
// Raises CorruptDatabase naming `file` and `table_name` when an index refers to a real
// index or a column the table does not have.
std::vector<IndexInfo> ListIndexes(const TableDefinition& table, const std::string& file,
                                   const std::string& table_name);

// "name DESC, born DESC" and "primary key, unique, required" (empty when plain).
std::string IndexColumnsText(const IndexInfo& index);
std::string IndexFlagsText(const IndexInfo& index);

// Parses "COL [ASC|DESC], ..." (names may be in [brackets]; blanks around commas are
// ignored; ASC and DESC in any case). Raises JetError kInvalidDefinition saying what is
// wrong: an empty list, an empty name, more than 10 columns, a column named twice.
std::vector<std::pair<std::string, bool>> ParseIndexColumns(std::string_view text);

// Database::AddIndex, except that a new primary key replaces the table's old one instead of
// being refused: the old one is dropped first and put back if the new one is refused (the
// refusal is then raised). Returns the name of the primary key replaced, or "".
std::string AddIndexReplacingPrimaryKey(Database& db, std::string_view table, const NewIndex& spec);

}  // namespace jet

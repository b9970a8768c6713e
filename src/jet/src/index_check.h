// Verification of a table's indexes against their own pages and against the rows, for
// `mdb check` and for tests.
//
// For every real index: each page decodes; every node entry is the last leaf entry under
// its child; tails, leaf depth and the leaf chain are as Jet requires; entries ascend
// strictly; the tree's pages and the index's usage map list the same pages. Against the
// rows: every row that should be indexed has exactly one entry, with the key its values
// give; no entry points at a row that does not exist; a unique index holds no two equal
// keys (except all-Null ones); the entry count equals the number of indexed rows.
//
// Problems are collected, never thrown: a check reports everything it can see, and a
// damaged page becomes a problem naming it. The statistics block is not judged: Access
// itself leaves it stale.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "btree.h"

namespace jet {

class Database;
class Table;

struct IndexCheck {
  std::string index;           // logical index name(s)
  std::uint64_t entries = 0;   // entries found in the leaves
  std::uint64_t expected = 0;  // rows that should have an entry
  IndexPageStats pages;
  std::vector<std::string> problems;  // empty when the index is consistent
  bool Ok() const { return problems.empty(); }
};

// Checks every index `indexes` keeps against the rows `rows` gives.
std::vector<IndexCheck> CheckIndexes(IndexMaintainer& indexes, Pager& pager,
                                     const IndexRowWalk& rows);

// The same for a table of an open database, reading its rows itself.
std::vector<IndexCheck> CheckTableIndexes(Database& database, Table& table);

}  // namespace jet

// A consistency check of a whole database: every page's ownership, every table's
// definition, rows, long values and counters, and every index. It reads only; each problem
// becomes one line of the report naming where it was found.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

class Database;

struct CheckReport {
  std::vector<std::string> problems;
  std::size_t tables = 0;
  std::size_t rows = 0;
  std::size_t pages = 0;
  bool Clean() const { return problems.empty(); }
};

// A database open for writing is flushed first, so that the check sees every change.
CheckReport CheckDatabase(Database& db);

// What a change to an existing file relies on, cheaply enough to run before the first one:
// the page map against the pages every table's definition and usage maps claim (no page
// twice, none marked free, none outside the file) and the indexes of the catalog tables
// the engine writes to (MSysObjects, MSysACEs). Rows and user indexes are not read.
CheckReport CheckBeforeWriting(Database& db);

}  // namespace jet

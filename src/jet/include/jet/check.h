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

}  // namespace jet

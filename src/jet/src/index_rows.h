// The rows of a table as index code sees them: each live row's address and its column
// values as key material (stored bytes, UTF-16 text, Booleans). Private to the index
// module.
#pragma once

#include "btree.h"

namespace jet {

class Table;

// Walks `table`'s live rows in physical order. The table must stay open meanwhile.
IndexRowWalk TableRows(Table& table);

}  // namespace jet

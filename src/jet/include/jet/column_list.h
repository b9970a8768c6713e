// Column definitions as Jet's data-definition language writes them:
//   ID COUNTER, [Full Name] TEXT(50) NOT NULL, PRICE CURRENCY, AMOUNT DECIMAL(12,2),
//   CODE LONG PRIMARY KEY, NOTE MEMO
// parsed into a NewTable, and the same text produced from a stored table definition.
#pragma once

#include <string>
#include <string_view>

#include "jet/database.h"

namespace jet {

// Fills spec.columns (and spec.indexes for PRIMARY KEY / UNIQUE columns). Raises JetError
// kInvalidDefinition naming the offending definition.
void ParseColumnList(std::string_view text, NewTable& spec);

// "TEXT(50)", "COUNTER", "DECIMAL(12,2)", ... for a stored column.
std::string ColumnTypeDdl(const ColumnDefinition& column);
// [name] with closing brackets doubled.
std::string QuoteName(std::string_view name);

}  // namespace jet

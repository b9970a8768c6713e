#include "binders.h"

#include "jetsql/errors.h"

namespace jetsql::detail {

std::string JoinName(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += '.';
    out += p;
  }
  return out;
}

int FindColumn(const std::vector<ColumnInfo>& columns, const std::vector<std::string>& parts) {
  if (parts.empty() || parts.size() > 2) return -1;
  const std::string& name = parts.back();
  const std::string* table = parts.size() == 2 ? &parts[0] : nullptr;
  int found = -1;
  int untabled = -1;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnInfo& c = columns[i];
    if (!NamesEqual(c.name, name)) continue;
    if (table != nullptr) {
      if (NamesEqual(c.table, *table)) return static_cast<int>(i);
      if (c.table.empty() && untabled < 0) untabled = static_cast<int>(i);
      continue;
    }
    if (found >= 0) {
      if (!NamesEqual(columns[static_cast<std::size_t>(found)].table, c.table)) {
        ThrowError(dao_error::kAmbiguousField, name);
      }
      continue;
    }
    found = static_cast<int>(i);
  }
  // A qualified name still finds a column that carries no table name at all.
  return table != nullptr ? untabled : found;
}

int ColumnListBinder::ResolveColumn(const std::vector<std::string>& parts) {
  return FindColumn(columns_, parts);
}

int ColumnListBinder::ResolveUnknown(const std::vector<std::string>& parts) {
  const std::string name = JoinName(parts);
  if (criteria_) ThrowError(dao_error::kUnknownName, name);
  for (std::size_t i = 0; i < unknown_.size(); ++i) {
    if (NamesEqual(unknown_[i], name)) return static_cast<int>(i);
  }
  unknown_.push_back(name);
  return static_cast<int>(unknown_.size() - 1);
}

DataType ColumnListBinder::ColumnType(int column) const {
  return columns_[static_cast<std::size_t>(column)].type;
}

void ColumnListBinder::CheckNoParameters() const {
  if (!unknown_.empty()) ThrowError(dao_error::kTooFewParameters, std::to_string(unknown_.size()));
}

}  // namespace jetsql::detail

// Name resolution against a plain list of columns (a recordset's fields). Private to the layer.
#pragma once

#include <string>
#include <vector>

#include "compile.h"
#include "jetsql/types.h"

namespace jetsql::detail {

// The column a name refers to in `columns`: "name" or "table.name"; -1 when none. An
// unqualified name found in two tables raises 3079.
int FindColumn(const std::vector<ColumnInfo>& columns, const std::vector<std::string>& parts);

// "a.b" as a name is shown in messages.
std::string JoinName(const std::vector<std::string>& parts);

class ColumnListBinder : public Binder {
 public:
  // In criteria an unknown name is an error at once (3070); elsewhere it is a parameter,
  // which a recordset cannot supply: CheckNoParameters then raises 3061.
  ColumnListBinder(const std::vector<ColumnInfo>& columns, bool criteria)
      : columns_(columns), criteria_(criteria) {}

  int ResolveColumn(const std::vector<std::string>& parts) override;
  int ResolveUnknown(const std::vector<std::string>& parts) override;
  DataType ColumnType(int column) const override;
  void CheckNoParameters() const;

 private:
  const std::vector<ColumnInfo>& columns_;
  bool criteria_;
  std::vector<std::string> unknown_;
};

}  // namespace jetsql::detail

// Fuzz target: a whole database file, changed. Opens it for writing from memory and, in
// every user table, inserts a row, updates and deletes rows, and adds and drops an index;
// then checks the result and opens it again. A damaged file must end in a reported error or
// a file that still opens, never a crash, a hang or a write outside a page.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/check.h"
#include "jet/database.h"

namespace {

void ChangeTable(jet::Database& db, const std::string& name) {
  jet::Table& table = db.OpenTable(name);
  const auto& columns = table.Definition().columns;
  std::vector<core::Variant> values(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    switch (columns[i].type) {
      case jet::column_type::kText:
      case jet::column_type::kMemo:
        values[i] = core::Variant::FromString(std::string(i % 2 ? 3 : 300, 'x'));
        break;
      case jet::column_type::kLong:
        values[i] = core::Variant::FromLong(static_cast<std::int32_t>(i) + 7);
        break;
      default:
        break;  // Null
    }
  }
  std::vector<jet::RowPointer> rows;
  {
    auto scan = table.StartScan();
    for (int n = 0; n < 50 && scan.Next(); ++n) rows.push_back(scan.Position());
  }
  try {
    table.Insert(values);
  } catch (const std::exception&) {
  }
  for (std::size_t k = 0; k < rows.size(); ++k) {
    try {
      if (k % 2)
        table.Delete(rows[k]);
      else
        table.Update(rows[k], values);
    } catch (const std::exception&) {
    }
  }
  try {
    for (std::size_t i = 0; i < 3; ++i) table.Insert(values);
  } catch (const std::exception&) {
  }
  for (const auto& column : std::vector<jet::ColumnDefinition>(columns)) {
    if (column.IsLongValue()) continue;
    try {
      db.AddIndex(name, {.name = "FuzzIndex", .columns = {{column.name, true}}});
      db.DropIndex(name, "FuzzIndex");
    } catch (const std::exception&) {
    }
    break;
  }
  const auto indexes = db.OpenTable(name).Definition().indexes;
  if (!indexes.empty()) {
    try {
      db.DropIndex(name, indexes.front().name);
    } catch (const std::exception&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  core::MemoryFileSystem fs;
  fs.SetContents("fuzz.mdb", std::vector<std::uint8_t>(data, data + size));
  try {
    auto db = jet::Database::Open("fuzz.mdb", {.file_system = &fs, .cache_pages = 64});
    int tables = 0;
    for (const auto& entry : db->Tables(false)) {
      if (!entry.IsTable() || ++tables > 4) continue;
      try {
        ChangeTable(*db, entry.name);
      } catch (const std::exception&) {
      }
    }
    jet::CheckDatabase(*db);
    db->Close();
  } catch (const std::exception&) {
  }
  try {
    auto again = jet::Database::Open("fuzz.mdb", {.read_only = true, .file_system = &fs});
    jet::CheckDatabase(*again);
  } catch (const std::exception&) {
  }
  return 0;
}

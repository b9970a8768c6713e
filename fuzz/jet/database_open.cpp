// Fuzz target: a whole database file. Opens it read-only from memory, lists the catalog,
// reads every row and value of every table and runs the checker. Any input must end in a
// clean result or a reported error, never a crash, a hang or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/check.h"
#include "jet/database.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;  // a few hundred pages are plenty to reach every path
  core::MemoryFileSystem fs;
  fs.SetContents("fuzz.mdb", std::vector<std::uint8_t>(data, data + size));
  try {
    auto db =
        jet::Database::Open("fuzz.mdb", {.read_only = true, .file_system = &fs, .cache_pages = 64});
    for (const auto& entry : db->Tables(true)) {
      if (!entry.IsTable()) continue;
      try {
        jet::Table& table = db->OpenTable(entry.name);
        auto scan = table.StartScan();
        for (int rows = 0; rows < 2000 && scan.Next(); ++rows) scan.Values();
        table.Properties();
      } catch (const std::exception&) {
      }
    }
    jet::CheckDatabase(*db);
  } catch (const std::exception&) {
  }
  return 0;
}

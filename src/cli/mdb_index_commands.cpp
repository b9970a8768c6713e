// `datovrat-cli mdb indexes ...`: the index definitions of an Access database's tables.
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "core/errors.h"
#include "jet/btree.h"
#include "jet/database.h"
#include "jet/index_info.h"

namespace cli {
namespace {

int Usage(std::ostream& err, const char* usage) {
  err << "datovrat-cli: usage: " << usage << "\n";
  return 2;
}

// Runs `body`, turning the engine's errors into a message on stderr and status 1.
template <typename Body>
int Reporting(std::ostream& err, Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    err << "datovrat-cli: " << e.what() << "\n";
    return 1;
  }
}

void PrintTable(jet::Database& db, jet::Table& table,
                const std::map<std::uint32_t, std::string>& names, std::ostream& out) {
  out << table.Name() << "\n";
  const auto& def = table.Definition();
  const auto indexes = jet::ListIndexes(def, db.Path(), table.Name());
  if (indexes.empty()) out << "  (no indexes)\n";
  for (const auto& index : indexes) {
    out << "  " << index.name << ": " << jet::IndexColumnsText(index);
    std::string flags = jet::IndexFlagsText(index);
    if (index.foreign_key) {
      auto other = names.find(index.foreign_table_page);
      flags += std::string(index.referenced ? "; referenced by " : "; references ") +
               (other != names.end() ? other->second
                                     : "table " + std::to_string(index.foreign_table_page));
    }
    if (!flags.empty()) out << " (" << flags << ")";
    if (db.Version() == jet::JetVersion::kJet4) {
      jet::IndexTree tree(db.PageCache(),
                          jet::DescribeIndex(def, index.real_index, db.Path(), table.Name()),
                          {db.Path(), table.Name()});
      const std::uint64_t entries = tree.CountEntries();
      out << " [" << entries << (entries == 1 ? " entry]" : " entries]");
    }
    out << "\n";
  }
}

int Indexes(const std::vector<std::string>& args, std::istream&, std::ostream& out,
            std::ostream& err) {
  if (args.empty() || args.size() > 2) return Usage(err, "mdb indexes FILE [TABLE]");
  return Reporting(err, [&] {
    auto db = jet::Database::Open(args[0], {.read_only = true});
    std::map<std::uint32_t, std::string> names;
    for (const auto& object : db->Tables(true)) {
      if (object.IsTable() && !object.IsLinked()) names[object.TableDefinitionPage()] = object.name;
    }
    if (args.size() == 2) {
      PrintTable(*db, db->OpenTable(args[1]), names, out);
      return 0;
    }
    for (const auto& object : db->Tables(false)) {
      if (!object.IsTable() || object.IsLinked()) continue;
      PrintTable(*db, db->OpenTable(object.name), names, out);
    }
    return 0;
  });
}

const bool registered = [] {
  RegisterCommand({"mdb", "indexes", "FILE [TABLE]",
                   "list the indexes of every table (or one): columns, direction, kind, entries",
                   Indexes});
  return true;
}();

}  // namespace
}  // namespace cli

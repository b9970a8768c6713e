// `datovrat-cli mdb indexes ...` and `mdb index ...`: the index definitions of an Access
// database's tables, and a new index on a table that may already have rows.
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "core/errors.h"
#include "jet/database.h"
#include "jet/index_cursor.h"
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
      const std::uint64_t entries = jet::IndexCursor(table, index.real_index).CountEntries();
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

int Index(const std::vector<std::string>& args, std::istream&, std::ostream& out,
          std::ostream& err) {
  static const char* usage =
      "mdb index FILE TABLE NAME \"COL [DESC], ...\" [--unique] [--primary] [--ignore-nulls] "
      "[--required]";
  std::vector<std::string> positional;
  jet::NewIndex spec;
  for (const auto& a : args) {
    if (a == "--unique") {
      spec.unique = true;
    } else if (a == "--primary") {
      spec.primary_key = true;
    } else if (a == "--ignore-nulls") {
      spec.ignore_nulls = true;
    } else if (a == "--required") {
      spec.required = true;
    } else if (a.size() > 2 && a.rfind("--", 0) == 0) {
      err << "datovrat-cli: unknown option '" << a << "'\n";
      return Usage(err, usage);
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 4) return Usage(err, usage);
  const std::string& file = positional[0];
  return Reporting(err, [&] {
    spec.name = positional[2];
    try {
      spec.columns = jet::ParseIndexColumns(positional[3]);
    } catch (const jet::JetError& e) {
      throw jet::JetError(e.Code(), file + ": table '" + positional[1] + "', index '" + spec.name +
                                        "': " + e.what());
    }
    auto db = jet::Database::Open(file);
    const std::string table_name = db->OpenTable(positional[1]).Name();
    std::string replaced;
    try {
      replaced = jet::AddIndexReplacingPrimaryKey(*db, table_name, spec);
    } catch (const jet::JetError& e) {
      db->Close();
      // DAO's texts (duplicates, Nulls) say nothing of where: add it.
      const std::string message = e.what();
      if (message.rfind(file, 0) == 0) throw;
      throw jet::JetError(
          e.Code(), file + ": table '" + table_name + "', index '" + spec.name + "': " + message);
    }
    std::uint64_t entries = 0;
    {
      jet::Table& changed = db->OpenTable(table_name);
      const auto& def = changed.Definition();
      for (const auto& logical : def.indexes) {
        if (logical.name != spec.name) continue;
        entries = jet::IndexCursor(changed, logical.real_index).CountEntries();
      }
    }
    db->Close();
    out << table_name << ": index " << spec.name << " on " << positional[3] << ", " << entries
        << (entries == 1 ? " entry" : " entries");
    if (!replaced.empty()) out << " (replaces the primary key " << replaced << ")";
    out << "\n";
    return 0;
  });
}

const bool registered = [] {
  RegisterCommand(
      {"mdb", "index",
       "FILE TABLE NAME \"COL [DESC], ...\" [--unique] [--primary] [--ignore-nulls] [--required]",
       "create an index on a table, rows already there included; a primary key replaces the old "
       "one",
       Index});
  RegisterCommand({"mdb", "indexes", "FILE [TABLE]",
                   "list the indexes of every table (or one): columns, direction, kind, entries",
                   Indexes});
  return true;
}();

}  // namespace
}  // namespace cli

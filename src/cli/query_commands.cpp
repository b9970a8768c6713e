// `datovrat-cli mdb query` and `mdb queries`: run a SELECT statement over an Access database
// and list the stored queries with their SQL, through the SQL layer.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "command.h"
#include "core/datetime.h"
#include "core/errors.h"
#include "core/variant.h"
#include "jet/database.h"
#include "jetsql/errors.h"
#include "jetsql/jet_catalog.h"
#include "jetsql/select.h"
#include "jetsql/stored_query.h"
#include "text_out.h"

namespace cli {
namespace {

int Usage(std::ostream& err, const char* usage) {
  err << "datovrat-cli: usage: " << usage << "\n";
  return 2;
}

// Runs `body`, reporting a failure with the file it concerns (and DAO's number).
template <typename F>
int Reported(const std::string& file, std::ostream& err, F&& body) {
  try {
    return body();
  } catch (const jetsql::SqlError& e) {
    err << "datovrat-cli: " << file << ": " << e.Description() << " (error " << e.Number() << ")\n";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    err << "datovrat-cli: " << (what.rfind(file, 0) == 0 ? "" : file + ": ") << what << "\n";
  }
  return 1;
}

// A value's text; `number` says whether JSON may write it bare.
std::string ValueText(const core::Variant& v, bool& number) {
  number = false;
  switch (v.Type()) {
    case core::VarType::Boolean:
      number = true;
      return v.ToBoolean() ? "true" : "false";
    case core::VarType::Byte:
    case core::VarType::Integer:
    case core::VarType::Long:
      number = true;
      return v.ToString();
    case core::VarType::Single:
      number = true;
      return ShortestFloat(v.ToSingle());
    case core::VarType::Double: {
      const double d = v.ToDouble();
      number = std::isfinite(d);
      return ShortestDouble(d);
    }
    case core::VarType::Date:
      return IsoDate(v.ToDouble());
    case core::VarType::ByteArray:
      return Hex(v.Bytes());
    default:
      return v.ToString();  // text, Currency and Decimal as exact decimals
  }
}

constexpr const char* kQueryUsage = "mdb query FILE \"SQL\" [--json] [--param NAME=VALUE]...";

int Query(const std::vector<std::string>& args, std::istream&, std::ostream& out,
          std::ostream& err) {
  std::vector<std::string> rest;
  bool json = false;
  jetsql::QueryOptions options;
  options.kind = jetsql::ResultKind::kSnapshot;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "--param") {
      if (i + 1 >= args.size()) return Usage(err, kQueryUsage);
      const std::string& p = args[++i];
      const std::size_t eq = p.find('=');
      if (eq == std::string::npos || eq == 0) return Usage(err, kQueryUsage);
      options.parameters.emplace_back(p.substr(0, eq), core::Variant(p.substr(eq + 1)));
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.size() != 2) return Usage(err, kQueryUsage);
  return Reported(rest[0], err, [&] {
    auto db = jet::Database::Open(rest[0], {.read_only = true});
    jetsql::JetCatalog catalog(*db);
    const jetsql::QueryResult result = jetsql::ExecuteSelect(rest[1], catalog, options);
    const auto& columns = result.Columns();
    if (!json) {
      for (std::size_t k = 0; k < columns.size(); ++k) {
        out << (k ? "," : "") << CsvField(columns[k].name);
      }
      out << "\n";
    }
    std::string line;
    for (std::size_t i = 0; i < result.RowCount(); ++i) {
      const std::vector<core::Variant> row = result.Row(i);
      line.clear();
      if (json) line += "{";
      for (std::size_t k = 0; k < columns.size(); ++k) {
        if (k) line += ",";
        if (json) line += JsonString(columns[k].name) + ":";
        const core::Variant& v = row[k];
        if (v.IsNullOrEmpty()) {
          if (json) line += "null";
          continue;
        }
        bool number = false;
        const std::string text = ValueText(v, number);
        if (json) {
          line += number ? text : JsonString(text);
        } else {
          line += text.empty() ? std::string("\"\"") : CsvField(text);
        }
      }
      line += json ? "}\n" : "\n";
      out << line;
    }
    return 0;
  });
}

int Queries(const std::vector<std::string>& args, std::istream&, std::ostream& out,
            std::ostream& err) {
  if (args.size() != 1) return Usage(err, "mdb queries FILE");
  return Reported(args[0], err, [&] {
    auto db = jet::Database::Open(args[0], {.read_only = true});
    jetsql::JetCatalog catalog(*db);
    bool first = true;
    for (const jetsql::StoredQuery& q : catalog.Queries()) {
      if (!first) out << "\n";
      first = false;
      std::string type(jetsql::QueryTypeName(q.type));
      if (type.empty()) type = "type " + std::to_string(q.type);
      out << q.name << "\t" << type << "\n";
      for (char c : q.sql) {
        if (c != '\r') out << c;
      }
      out << "\n";
    }
    return 0;
  });
}

const bool registered = [] {
  RegisterCommand({"mdb", "query", "FILE \"SQL\" [--json] [--param NAME=VALUE]...",
                   "run a SELECT statement and write its rows as CSV or JSON lines", Query});
  RegisterCommand(
      {"mdb", "queries", "FILE", "list the stored queries with their type and SQL", Queries});
  return true;
}();

}  // namespace
}  // namespace cli

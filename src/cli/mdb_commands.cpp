// `datovrat-cli mdb ...`: create, list, describe, fill, dump and check Access databases
// with the storage engine alone.
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
#include "jet/check.h"
#include "jet/column_list.h"
#include "jet/database.h"
#include "jet/row_codec.h"
#include "text_out.h"

namespace cli {
namespace {

using jet::ColumnDefinition;
namespace ct = jet::column_type;

// ---- value text ----

bool ParseHex(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  text.remove_prefix(2);
  if (text.size() % 2) return false;
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, v, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return false;
    out.push_back(static_cast<std::uint8_t>(v));
  }
  return true;
}

bool ParseIsoDate(std::string_view t, double& out) {
  core::DateParts p;
  int n = 0;
  std::string s(t);
  if (std::sscanf(s.c_str(), "%4d-%2d-%2d%n", &p.year, &p.month, &p.day, &n) != 3 || n != 10)
    return false;
  if (s.size() > 10) {
    int m = 0;
    if ((s[10] != ' ' && s[10] != 'T') ||
        std::sscanf(s.c_str() + 11, "%2d:%2d:%2d%n", &p.hour, &p.minute, &p.second, &m) != 3 ||
        11 + static_cast<std::size_t>(m) != s.size())
      return false;
  }
  if (!core::IsValidDateParts(p)) return false;
  out = core::EncodeDateTime(p);
  return true;
}

// Text of a value for CSV (and, quoted, for JSON). `number` tells JSON to write it bare.
std::string ValueText(const ColumnDefinition& c, const core::Variant& v, bool& number) {
  number = false;
  switch (c.type) {
    case ct::kBoolean:
      number = true;
      return v.ToBoolean() ? "true" : "false";
    case ct::kByte:
    case ct::kInteger:
    case ct::kLong:
      number = true;
      return std::to_string(v.ToLong());
    case ct::kSingle:
      number = true;
      return ShortestFloat(v.ToSingle());
    case ct::kDouble:
      number = true;
      return ShortestDouble(v.ToDouble());
    case ct::kCurrency:
      return core::CurrencyToText(v.ToCurrency());
    case ct::kNumeric:
      return core::DecimalToText(v.ToDecimal());
    case ct::kDateTime:
      return IsoDate(v.ToDate());
    case ct::kBinary:
    case ct::kOle:
      return Hex(v.Bytes());
    default:
      return v.ToString();
  }
}

core::Variant ParseValue(const ColumnDefinition& c, const std::string& text) {
  if (text.empty()) return core::Variant::Null();
  auto bad = [&](const char* what) -> core::Variant {
    throw core::EConvertError("column '" + c.name + "': '" + text + "' is not " + what);
  };
  switch (c.type) {
    case ct::kBoolean:
      if (text == "true" || text == "True" || text == "TRUE" || text == "1" || text == "-1")
        return core::Variant::FromBoolean(true);
      if (text == "false" || text == "False" || text == "FALSE" || text == "0")
        return core::Variant::FromBoolean(false);
      return bad("true or false");
    case ct::kByte:
    case ct::kInteger:
    case ct::kLong: {
      long long v = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec != std::errc() || end != text.data() + text.size()) return bad("a whole number");
      if (v < INT32_MIN || v > INT32_MAX) return bad("within the range of a Long");
      return core::Variant::FromLong(static_cast<std::int32_t>(v));
    }
    case ct::kSingle:
    case ct::kDouble: {
      double d = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec != std::errc() || end != text.data() + text.size()) return bad("a number");
      return core::Variant::FromDouble(d);
    }
    case ct::kCurrency: {
      core::Currency cy;
      if (!core::TryTextToCurrency(text, cy)) return bad("a currency amount");
      return core::Variant::FromCurrency(cy);
    }
    case ct::kNumeric: {
      core::Decimal d;
      if (!core::TryTextToDecimal(text, d)) return bad("a decimal number");
      return core::Variant::FromDecimal(d);
    }
    case ct::kDateTime: {
      double d;
      if (!ParseIsoDate(text, d))
        return bad("an ISO 8601 date (YYYY-MM-DD or YYYY-MM-DD HH:MM:SS)");
      return core::Variant::FromDate(d);
    }
    case ct::kBinary:
    case ct::kOle: {
      std::vector<std::uint8_t> bytes;
      if (!ParseHex(text, bytes)) return bad("hexadecimal bytes with a 0x prefix");
      return core::Variant::FromBytes(std::move(bytes));
    }
    case ct::kGuid: {
      std::vector<std::uint8_t> bytes;
      std::uint8_t g[16];
      if (ParseHex(text, bytes) && bytes.size() == 16)
        return core::Variant::FromBytes(std::move(bytes));
      if (jet::TryParseGuid(text, g))
        return core::Variant::FromBytes(std::vector<std::uint8_t>(g, g + 16));
      return bad("a GUID");
    }
    default:
      return core::Variant::FromString(text);
  }
}

// ---- CSV ----

// Reads one record; false at the end of input. `line` counts physical lines read.
bool ReadCsvRecord(std::istream& in, std::vector<std::string>& fields, std::vector<bool>& quoted,
                   long& line) {
  fields.clear();
  quoted.clear();
  int c = in.get();
  if (c == EOF) return false;
  ++line;
  std::string field;
  bool was_quoted = false;
  while (true) {
    if (c == '"' && field.empty() && !was_quoted) {
      was_quoted = true;
      while (true) {
        c = in.get();
        if (c == EOF) throw core::EConvertError("a quoted field is not closed");
        if (c == '"') {
          if (in.peek() == '"') {
            in.get();
            field += '"';
            continue;
          }
          break;
        }
        if (c == '\n') ++line;
        field += static_cast<char>(c);
      }
      c = in.get();
      continue;
    }
    if (c == ',' || c == '\n' || c == EOF) {
      if (!field.empty() && field.back() == '\r' && !was_quoted) field.pop_back();
      fields.push_back(std::move(field));
      quoted.push_back(was_quoted);
      field.clear();
      was_quoted = false;
      if (c != ',') return true;
      c = in.get();
      continue;
    }
    if (c == '\r' && (in.peek() == '\n' || in.peek() == EOF)) {
      c = in.get();
      continue;
    }
    field += static_cast<char>(c);
    c = in.get();
  }
}

// ---- commands ----

int Fail(std::ostream& err, const std::string& message) {
  err << "datovrat-cli: " << message << "\n";
  return 2;
}

template <typename F>
int Guarded(std::ostream& err, F&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    err << "datovrat-cli: " << e.what() << "\n";
    return 1;
  }
}

int Create(const std::vector<std::string>& args, std::istream&, std::ostream& out,
           std::ostream& err) {
  std::string file;
  jet::OpenOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--sort-order") {
      std::int64_t locale = 0;
      if (i + 1 >= args.size() || !core::TryTextToInt64(args[i + 1], locale) || locale <= 0 ||
          locale > 0xFFFF)
        return Fail(err, "--sort-order needs a locale number (1033 General, 1029 Czech, ...)");
      options.sort_order = jet::SortOrder{static_cast<std::uint16_t>(locale), 0};
      ++i;
    } else if (file.empty()) {
      file = args[i];
    } else {
      return Fail(err, "usage: mdb create FILE [--sort-order LOCALE]");
    }
  }
  if (file.empty()) return Fail(err, "usage: mdb create FILE [--sort-order LOCALE]");
  if (!jet::CanWriteTextKeys(options.sort_order))
    return Fail(err, "--sort-order: " + jet::TextKeyRefusal(options.sort_order));
  return Guarded(err, [&] {
    auto db = jet::Database::Create(file, options);
    db->Close();
    out << "created " << file << "\n";
    return 0;
  });
}

int Tables(const std::vector<std::string>& args, std::istream&, std::ostream& out,
           std::ostream& err) {
  std::string file;
  bool system = false;
  for (const auto& a : args) {
    if (a == "--system")
      system = true;
    else if (file.empty())
      file = a;
    else
      return Fail(err, "usage: mdb tables FILE [--system]");
  }
  if (file.empty()) return Fail(err, "usage: mdb tables FILE [--system]");
  return Guarded(err, [&] {
    auto db = jet::Database::Open(file, {.read_only = true});
    for (const auto& e : db->Tables(system)) {
      const char* kind = e.IsLinked() ? "linked" : e.IsSystem() ? "system" : "table";
      out << kind << "\t" << e.name << "\t" << e.DaoAttributes() << "\n";
    }
    for (const auto& q : db->Queries()) out << "query\t" << q.name << "\t" << q.flags << "\n";
    return 0;
  });
}

void PrintSchema(jet::Table& t, std::ostream& out) {
  const auto& def = t.Definition();
  jet::PropertyBlob props;
  try {
    props = t.Properties();
  } catch (const std::exception&) {
  }
  out << "CREATE TABLE " << jet::QuoteName(t.Name()) << " (\n";
  bool first = true;
  for (int i : t.ColumnOrder()) {
    const ColumnDefinition& c = def.columns[i];
    out << (first ? "" : ",\n") << "  " << jet::QuoteName(c.name) << " " << jet::ColumnTypeDdl(c);
    const jet::PropertyMap* m = props.Find(c.name);
    const jet::Property* req = m ? m->Find("Required") : nullptr;
    if (req && req->Value().ToBoolean()) out << " NOT NULL";
    first = false;
  }
  out << "\n);\n";
  for (const auto& li : def.indexes) {
    if (li.kind == jet::index_kind::kForeignKey) continue;
    const auto& ri = def.real_indexes[li.real_index];
    bool unique = (ri.flags & jet::index_flag::kUnique) != 0;
    out << "CREATE " << (unique ? "UNIQUE " : "") << "INDEX " << jet::QuoteName(li.name) << " ON "
        << jet::QuoteName(t.Name()) << " (";
    for (std::size_t k = 0; k < ri.columns.size(); ++k) {
      const ColumnDefinition* c = def.ColumnByNumber(ri.columns[k].column_number);
      out << (k ? ", " : "") << jet::QuoteName(c ? c->name : "?")
          << (ri.columns[k].ascending ? "" : " DESC");
    }
    out << ")";
    if (li.kind == jet::index_kind::kPrimaryKey)
      out << " WITH PRIMARY";
    else if (ri.flags & jet::index_flag::kIgnoreNulls)
      out << " WITH IGNORE NULL";
    else if (ri.flags & jet::index_flag::kRequired)
      out << " WITH DISALLOW NULL";
    out << ";\n";
  }
}

int Schema(const std::vector<std::string>& args, std::istream&, std::ostream& out,
           std::ostream& err) {
  if (args.empty() || args.size() > 2) return Fail(err, "usage: mdb schema FILE [TABLE]");
  return Guarded(err, [&] {
    auto db = jet::Database::Open(args[0], {.read_only = true});
    if (args.size() == 2) {
      PrintSchema(db->OpenTable(args[1]), out);
      return 0;
    }
    bool first = true;
    for (const auto& e : db->Tables(false)) {
      if (!e.IsTable()) continue;
      if (!first) out << "\n";
      PrintSchema(db->OpenTable(e.name), out);
      first = false;
    }
    return 0;
  });
}

int Import(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
           std::ostream& err) {
  if (args.size() != 3) return Fail(err, "usage: mdb import FILE TABLE \"COLUMNS\" < data.csv");
  return Guarded(err, [&] {
    jet::NewTable spec;
    spec.name = args[1];
    try {
      jet::ParseColumnList(args[2], spec);
    } catch (const jet::JetError& e) {
      throw jet::JetError(e.Code(), args[0] + ": table '" + args[1] + "': " + e.what());
    }
    auto db = jet::Database::Open(args[0]);
    jet::Table& table = db->CreateTable(spec);
    const auto& columns = table.Definition().columns;
    std::vector<std::string> fields;
    std::vector<bool> quoted;
    long line = 0;
    long rows = 0;
    std::vector<int> target;
    try {
      if (!ReadCsvRecord(in, fields, quoted, line))
        throw core::EConvertError("the input is empty; a header row is expected");
      for (const auto& name : fields) {
        int i = table.ColumnIndex(name);
        if (i < 0)
          throw core::EConvertError("the header names '" + name +
                                    "', which is not a column of the table");
        target.push_back(i);
      }
      std::vector<core::Variant> values(columns.size());
      while (ReadCsvRecord(in, fields, quoted, line)) {
        if (fields.size() == 1 && fields[0].empty() && !quoted[0]) continue;  // blank line
        if (fields.size() != target.size())
          throw core::EConvertError("the row has " + std::to_string(fields.size()) +
                                    " fields, the header " + std::to_string(target.size()));
        for (auto& v : values) v = core::Variant();
        for (std::size_t k = 0; k < fields.size(); ++k) {
          const ColumnDefinition& c = columns[target[k]];
          // A quoted empty field is an empty string; an unquoted one is Null.
          if (fields[k].empty() && quoted[k] && c.IsText())
            values[target[k]] = core::Variant::FromString("");
          else
            values[target[k]] = ParseValue(c, fields[k]);
        }
        table.Insert(values);
        ++rows;
      }
    } catch (const std::exception& e) {
      db->Close();
      throw core::EConvertError(args[0] + ": table '" + args[1] + "', input line " +
                                std::to_string(line) + ": " + e.what() + " (" +
                                Plural(rows, "row") + " stored before it)");
    }
    db->Close();
    out << "imported " << Plural(rows, "row") << " into " << args[1] << "\n";
    return 0;
  });
}

int Export(const std::vector<std::string>& args, std::istream&, std::ostream& out,
           std::ostream& err) {
  std::vector<std::string> rest;
  bool json = false;
  for (const auto& a : args) {
    if (a == "--json")
      json = true;
    else
      rest.push_back(a);
  }
  if (rest.size() != 2) return Fail(err, "usage: mdb export FILE TABLE [--json]");
  return Guarded(err, [&] {
    auto db = jet::Database::Open(rest[0], {.read_only = true});
    jet::Table& t = db->OpenTable(rest[1]);
    const auto& columns = t.Definition().columns;
    const auto& order = t.ColumnOrder();
    if (!json) {
      for (std::size_t k = 0; k < order.size(); ++k)
        out << (k ? "," : "") << CsvField(columns[order[k]].name);
      out << "\n";
    }
    auto scan = t.StartScan();
    std::string line;
    while (scan.Next()) {
      line.clear();
      if (json) line += "{";
      for (std::size_t k = 0; k < order.size(); ++k) {
        const ColumnDefinition& c = columns[order[k]];
        core::Variant v = scan.Value(order[k]);
        if (k) line += ",";
        if (json) line += JsonString(c.name) + ":";
        if (v.IsNull()) {
          if (json) line += "null";
          continue;
        }
        bool number;
        std::string text = ValueText(c, v, number);
        if (json)
          line += number && text != "NaN" && text.find("Infinity") == std::string::npos
                      ? text
                      : JsonString(text);
        else
          line += (text.empty() ? std::string("\"\"") : CsvField(text));
      }
      if (json) line += "}";
      line += "\n";
      out << line;
    }
    return 0;
  });
}

int Check(const std::vector<std::string>& args, std::istream&, std::ostream& out,
          std::ostream& err) {
  if (args.size() != 1) return Fail(err, "usage: mdb check FILE");
  return Guarded(err, [&] {
    // Opening would undo an interrupted change at once; a check only reports it.
    jet::JournalInfo journal = jet::InspectJournal(core::FileSystem::Native(), args[0]);
    if (journal.hot) {
      out << args[0] << ": a change to the database was interrupted: " << jet::JournalPath(args[0])
          << " holds the original bytes of " << journal.pages << " pages and its length of "
          << journal.original_pages << " pages; `datovrat-cli mdb recover " << args[0]
          << "` puts them back (any other open does too)\n";
      out << args[0] << ": not checked further, 1 problems\n";
      return 1;
    }
    auto db = jet::Database::Open(args[0], {.read_only = true});
    jet::CheckReport report = jet::CheckDatabase(*db);
    for (const auto& p : report.problems) out << p << "\n";
    out << args[0] << ": " << Plural(report.tables, "table") << ", " << Plural(report.rows, "row")
        << ", " << Plural(report.pages, "page") << ", "
        << Plural(static_cast<std::int64_t>(report.problems.size()), "problem") << "\n";
    return report.Clean() ? 0 : 1;
  });
}

int Recover(const std::vector<std::string>& args, std::istream&, std::ostream& out,
            std::ostream& err) {
  if (args.size() != 1) return Fail(err, "usage: mdb recover FILE");
  return Guarded(err, [&] {
    jet::JournalInfo journal = jet::Database::Recover(args[0]);
    if (!journal.hot) {
      out << args[0] << ": no interrupted change to undo"
          << (journal.exists ? " (a journal that never took effect was removed)" : "") << "\n";
    } else if (journal.original_pages == 0) {
      out << args[0] << ": the database was being created when it was interrupted; removed\n";
    } else {
      out << args[0] << ": an interrupted change was undone: " << journal.pages
          << " pages put back, the file is " << journal.original_pages << " pages long again\n";
    }
    return 0;
  });
}

const bool registered = [] {
  RegisterCommand({"mdb", "create", "FILE [--sort-order LOCALE]",
                   "create a new, empty Access (Jet 4) database (sort order General, or e.g. "
                   "1029 Czech, 1045 Polish)",
                   Create});
  RegisterCommand(
      {"mdb", "tables", "FILE [--system]", "list the tables and queries of a database", Tables});
  RegisterCommand({"mdb", "schema", "FILE [TABLE]", "show table definitions as Jet DDL", Schema});
  RegisterCommand(
      {"mdb", "import", "FILE TABLE \"COLUMNS\"",
       "create TABLE (e.g. \"ID COUNTER, NAME TEXT(50) NOT NULL\") and fill it from CSV on stdin",
       Import});
  RegisterCommand({"mdb", "export", "FILE TABLE [--json]",
                   "write a table's rows as CSV or JSON lines", Export});
  RegisterCommand(
      {"mdb", "check", "FILE", "check every page, table and index; exit 1 on problems", Check});
  RegisterCommand({"mdb", "recover", "FILE",
                   "undo a change a crash interrupted (the FILE-journal beside it)", Recover});
  return true;
}();

}  // namespace
}  // namespace cli

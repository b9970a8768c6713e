// `datovrat-cli source ...`: look at dBase/FoxPro and Paradox source tables the way the
// copy sees them (field definitions, decoded values).
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "bde/code_pages.h"
#include "bde/dbf_reader.h"
#include "bde/source_reader.h"
#include "command.h"
#include "core/datetime.h"
#include "core/errors.h"
#include "core/variant.h"
#include "text_out.h"

namespace cli {
namespace {

struct SourceArgs {
  std::string file;
  bool json = false;
  bde::ReaderOptions options;
};

bool ParseSourceArgs(const std::vector<std::string>& args, bool allow_dump_flags, SourceArgs& out,
                     std::ostream& err) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (allow_dump_flags && a == "--json") {
      out.json = true;
    } else if (a == "--codepage" || a == "--force-codepage") {
      if (i + 1 >= args.size()) {
        err << "datovrat-cli: " << a << " needs a code page number\n";
        return false;
      }
      const std::string& v = args[++i];
      int cp = 0;
      auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), cp);
      if (ec != std::errc() || end != v.data() + v.size() || cp <= 0) {
        err << "datovrat-cli: invalid code page '" << v << "'\n";
        return false;
      }
      if (!bde::CanDecodeCodePage(cp)) {
        err << "datovrat-cli: code page " << cp
            << " is not supported; supported code pages: " << bde::DecodableCodePagesText() << "\n";
        return false;
      }
      (a == "--codepage" ? out.options.code_page : out.options.force_code_page) = cp;
    } else if (a == "--read-past-count") {
      out.options.read_past_count = true;
    } else if (a == "--missing-memo=null") {
      out.options.missing_memo_null = true;
    } else if (!a.empty() && a[0] == '-') {
      err << "datovrat-cli: unknown option '" << a << "'\n";
      return false;
    } else if (out.file.empty()) {
      out.file = a;
    } else {
      err << "datovrat-cli: unexpected argument '" << a << "'\n";
      return false;
    }
  }
  if (out.file.empty()) {
    err << "datovrat-cli: missing FILE\n";
    return false;
  }
  return true;
}

// A Visual FoxPro database container (.dbc) is itself a table and can be looked at too.
std::unique_ptr<bde::SourceReader> Open(const SourceArgs& a) {
  if (core::EqualsIgnoringCase(core::ExtensionOf(a.file), ".dbc"))
    return std::make_unique<bde::DbfReader>(a.file, a.options);
  return bde::OpenSourceTable(a.file, a.options);
}

// `digits` decimal digits of n, zero-padded.
void AppendDigits(std::string& out, int n, int digits) {
  if (n < 0 || n >= 10000) {
    out += std::to_string(n);
    return;
  }
  char buf[12];
  for (int i = digits - 1; i >= 0; --i, n /= 10) buf[i] = static_cast<char>('0' + n % 10);
  out.append(buf, static_cast<std::size_t>(digits));
}

std::string DateText(double value, bde::SourceFieldType type) {
  const core::DateParts p = core::DecodeDateTime(value);
  std::string text;
  if (type != bde::SourceFieldType::Time) {
    AppendDigits(text, p.year, 4);
    text += '-';
    AppendDigits(text, p.month, 2);
    text += '-';
    AppendDigits(text, p.day, 2);
    if (type == bde::SourceFieldType::Date) return text;
    text += 'T';
  }
  AppendDigits(text, p.hour, 2);
  text += ':';
  AppendDigits(text, p.minute, 2);
  text += ':';
  AppendDigits(text, p.second, 2);
  if (p.millisecond != 0) {
    text += '.';
    AppendDigits(text, p.millisecond, 3);
  }
  return text;
}

std::string NumberText(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "NaN" : (v > 0 ? "Infinity" : "-Infinity");
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, end);
}

// A value as the dump shows it; `quoted` says whether JSON needs it as a string.
std::string ValueText(const core::Variant& v, bde::SourceFieldType type, bool& quoted) {
  quoted = false;
  switch (v.Type()) {
    case core::VarType::Empty:
    case core::VarType::Null:
      return "";
    case core::VarType::Boolean:
      return v.ToBoolean() ? "true" : "false";
    case core::VarType::Byte:
    case core::VarType::Integer:
    case core::VarType::Long:
      return std::to_string(v.ToInt64());
    case core::VarType::Single:
    case core::VarType::Double: {
      const double d = v.ToDouble();
      quoted = !std::isfinite(d);
      return NumberText(d);
    }
    case core::VarType::Currency:
      quoted = true;
      return core::CurrencyToText(v.ToCurrency());
    case core::VarType::Decimal:
      quoted = true;
      return core::DecimalToText(v.ToDecimal());
    case core::VarType::Date:
      quoted = true;
      return DateText(v.ToDate(), type);
    case core::VarType::ByteArray: {
      quoted = true;
      static const char* digits = "0123456789abcdef";
      std::string out = "0x";
      for (std::uint8_t b : v.Bytes()) {
        out += digits[b >> 4];
        out += digits[b & 15];
      }
      return out;
    }
    default:
      quoted = true;
      return v.ToString();
  }
}

int RunSchema(const std::vector<std::string>& args, std::istream&, std::ostream& out,
              std::ostream& err) {
  SourceArgs a;
  if (!ParseSourceArgs(args, false, a, err)) return 2;
  auto reader = Open(a);
  out << a.file << ": " << reader->FormatName() << ", code page " << reader->CodePageText() << ", "
      << Plural(reader->RecordCount(), "record") << ", "
      << Plural(static_cast<std::int64_t>(reader->Fields().size()), "field") << "\n";
  for (const bde::FieldDescription& f : reader->Fields()) {
    out << f.name << "\t" << f.native_type << "\t" << bde::SourceFieldTypeName(f.type) << "\tsize "
        << f.size;
    if (f.precision) out << "\tprecision " << f.precision;
    if (f.decimals) out << "\tdecimals " << f.decimals;
    if (f.required) out << "\trequired";
    if (f.binary) out << "\tbinary";
    out << "\n";
  }
  for (const std::string& w : reader->Warnings()) err << "datovrat-cli: warning: " << w << "\n";
  return 0;
}

int RunDump(const std::vector<std::string>& args, std::istream&, std::ostream& out,
            std::ostream& err) {
  SourceArgs a;
  if (!ParseSourceArgs(args, true, a, err)) return 2;
  auto reader = Open(a);
  const auto& fields = reader->Fields();
  std::string line;
  if (!a.json) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i) line += ',';
      AppendCsvField(fields[i].name, line);
    }
    out << line << "\n";
  }
  int status = 0;
  while (reader->Next()) {
    line.clear();
    if (a.json) line += '{';
    for (std::size_t i = 0; i < fields.size(); ++i) {
      core::Variant v;
      try {
        v = reader->Value(static_cast<int>(i));
      } catch (const core::Exception& e) {
        err << "datovrat-cli: " << e.what() << "\n";
        status = 1;
        v = core::Variant::Null();
      }
      bool quoted = false;
      const std::string text = ValueText(v, fields[i].type, quoted);
      if (a.json) {
        if (i) line += ',';
        AppendJsonString(fields[i].name, line);
        line += ':';
        if (v.IsNullOrEmpty())
          line += "null";
        else if (quoted)
          AppendJsonString(text, line);
        else
          line += text;
      } else {
        if (i) line += ',';
        AppendCsvField(text, line);
      }
    }
    if (a.json) line += '}';
    line += '\n';
    out << line;
  }
  for (const std::string& w : reader->Warnings()) err << "datovrat-cli: warning: " << w << "\n";
  return status;
}

const bool registered = [] {
  RegisterCommand(
      {"source", "schema", "FILE [--codepage CP] [--force-codepage CP] [--missing-memo=null]",
       "show the fields of a dBase/FoxPro (.dbf) or Paradox (.db) table as the copy sees them",
       RunSchema});
  RegisterCommand(
      {"source", "dump",
       "FILE [--json] [--codepage CP] [--force-codepage CP] [--read-past-count] "
       "[--missing-memo=null]",
       "print the live records of a .dbf or .db table (CSV, or one JSON object per record)",
       RunDump});
  return true;
}();

}  // namespace
}  // namespace cli

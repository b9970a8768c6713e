// `datovrat-cli source ...`: look at dBase/FoxPro and Paradox source tables the way the
// copy sees them (field definitions, decoded values).
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
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

// Records read ahead of the writing: a second thread reads and decodes a batch of records while
// this one writes the text of the batch before it. What is written, and where a read error
// shows, is what reading and writing in turn gives.
class ReadAhead {
 public:
  struct Batch {
    std::vector<core::Variant> values;                        // records × fields
    std::vector<std::pair<std::size_t, std::string>> errors;  // value index, message
    std::size_t records = 0;
    std::exception_ptr failure;  // reading stopped after `records` with this error
    bool end = false;            // no records after these
  };

  ReadAhead(bde::SourceReader& reader, std::size_t fields) : reader_(reader), fields_(fields) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ReadAhead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The next batch, in order; the one handed out before goes back to be filled again.
  Batch& Next() {
    std::unique_lock lock(mutex_);
    if (current_) free_.push_back(std::move(current_));
    changed_.notify_all();
    changed_.wait(lock, [this] { return !full_.empty(); });
    current_ = std::move(full_.front());
    full_.pop_front();
    return *current_;
  }

 private:
  static constexpr std::size_t kRecords = 2048;

  void Run() {
    for (;;) {
      std::unique_ptr<Batch> b;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return stop_ || !free_.empty() || made_ < 3; });
        if (stop_) return;
        if (!free_.empty()) {
          b = std::move(free_.back());
          free_.pop_back();
        } else {
          b = std::make_unique<Batch>();
          ++made_;
        }
      }
      Fill(*b);
      const bool done = b->end || b->failure;
      {
        std::lock_guard lock(mutex_);
        full_.push_back(std::move(b));
      }
      changed_.notify_all();
      if (done) return;
    }
  }

  void Fill(Batch& b) {
    b.values.resize(kRecords * fields_);
    b.errors.clear();
    b.records = 0;
    b.failure = nullptr;
    b.end = false;
    try {
      while (b.records < kRecords) {
        if (!reader_.Next()) {
          b.end = true;
          return;
        }
        core::Variant* row = &b.values[b.records * fields_];
        for (std::size_t i = 0; i < fields_; ++i) {
          try {
            row[i] = reader_.Value(static_cast<int>(i));
          } catch (const core::Exception& e) {
            b.errors.emplace_back(b.records * fields_ + i, e.what());
            row[i] = core::Variant::Null();
          }
        }
        ++b.records;
      }
    } catch (...) {
      // Values of a record left half read are dropped with it.
      while (!b.errors.empty() && b.errors.back().first >= b.records * fields_) b.errors.pop_back();
      b.failure = std::current_exception();
    }
  }

  bde::SourceReader& reader_;
  const std::size_t fields_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Batch>> full_;
  std::vector<std::unique_ptr<Batch>> free_;
  std::unique_ptr<Batch> current_;
  int made_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

int RunDump(const std::vector<std::string>& args, std::istream&, std::ostream& out,
            std::ostream& err) {
  SourceArgs a;
  if (!ParseSourceArgs(args, true, a, err)) return 2;
  auto reader = Open(a);
  const auto& fields = reader->Fields();
  const std::size_t n = fields.size();
  std::string line;
  if (!a.json) {
    for (std::size_t i = 0; i < n; ++i) {
      if (i) line += ',';
      AppendCsvField(fields[i].name, line);
    }
    out << line << "\n";
  }
  int status = 0;
  {
    ReadAhead ahead(*reader, n);
    for (;;) {
      const ReadAhead::Batch& b = ahead.Next();
      std::size_t next_error = 0;
      for (std::size_t r = 0; r < b.records; ++r) {
        line.clear();
        if (a.json) line += '{';
        for (std::size_t i = 0; i < n; ++i) {
          const std::size_t at = r * n + i;
          if (next_error < b.errors.size() && b.errors[next_error].first == at) {
            err << "datovrat-cli: " << b.errors[next_error++].second << "\n";
            status = 1;
          }
          const core::Variant& v = b.values[at];
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
      if (b.failure) std::rethrow_exception(b.failure);
      if (b.end) break;
    }
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

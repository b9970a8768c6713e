// The least a copy through the table components must do per value, and nothing else: read the
// source value, write it as the destination record buffer's value text, turn that text into the
// DAO field's typed value, and after the post write the stored value as text again for the
// buffer the dataset re-reads. No recordset, no row encoding, no page is involved, so this is a
// floor under the whole copy, whatever the engine below does.
//
//   bench_copy_floor TABLE.dbf
//
// It makes three passes over the table and prints the seconds of each: reading the source values
// alone (what a second core could take over), the conversions, and the conversions with each
// record inserted into a new database by the storage engine directly (no DAO, no dataset),
// the row the engine stores giving the texts read back.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bde/source_reader.h"
#include "core/datetime.h"
#include "core/variant.h"
#include "dao/constants.h"
#include "dao/convert.h"
#include "jet/database.h"

namespace {

void Append(std::string& out, std::int64_t v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

void Append(std::string& out, double v) {
  if (core::FewDecimalsFloatText(v, out)) return;  // `out` is empty here
  char buf[40];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// The value text of a stored value (after the post), as the buffer holds it.
void StoredText(const core::Variant& v, std::string& out) {
  out.clear();
  switch (v.Type()) {
    case core::VarType::Null:
    case core::VarType::Empty:
      break;
    case core::VarType::Boolean:
      out = v.ToBoolean() ? "True" : "False";
      break;
    case core::VarType::Double:
      Append(out, v.ToDouble());
      break;
    case core::VarType::Date: {
      const core::TimeStamp t = core::DateTimeToTimeStamp(v.ToDate());
      Append(out, std::int64_t{t.Date});
      out += ' ';
      Append(out, std::int64_t{t.Time});
      break;
    }
    case core::VarType::String:
      out = v.Text();
      break;
    default:
      Append(out, v.ToInt64());
  }
}

std::uint8_t ColumnType(bde::SourceFieldType type) {
  switch (type) {
    case bde::SourceFieldType::String:
      return jet::column_type::kText;
    case bde::SourceFieldType::Memo:
      return jet::column_type::kMemo;
    case bde::SourceFieldType::Float:
    case bde::SourceFieldType::Currency:
    case bde::SourceFieldType::BCD:
      return jet::column_type::kDouble;
    case bde::SourceFieldType::Boolean:
      return jet::column_type::kBoolean;
    case bde::SourceFieldType::Date:
    case bde::SourceFieldType::Time:
    case bde::SourceFieldType::DateTime:
      return jet::column_type::kDateTime;
    default:
      return jet::column_type::kLong;
  }
}

// One pass over the table; with `convert` false only the source values are read; with
// `database` set the records also go into a table there.
double Pass(const char* path, bool convert, const std::string& database, std::int64_t& records,
            std::int64_t& sizes) {
  const auto start = std::chrono::steady_clock::now();
  auto reader = bde::OpenSourceTable(path, {});
  const auto& fields = reader->Fields();
  std::unique_ptr<jet::Database> db;
  jet::Table* table = nullptr;
  std::vector<int> column_of(fields.size());
  std::vector<core::Variant> row, stored;
  if (!database.empty()) {
    std::filesystem::remove(database);
    db = jet::Database::Create(database);
    jet::NewTable spec;
    spec.name = "T";
    for (const bde::FieldDescription& f : fields) {
      jet::NewColumn c;
      c.name = f.name;
      c.type = ColumnType(f.type);
      if (c.type == jet::column_type::kText)
        c.size = static_cast<std::uint16_t>(std::clamp(f.size, 1, 255));
      spec.columns.push_back(c);
    }
    table = &db->CreateTable(spec);
    for (std::size_t i = 0; i < fields.size(); ++i)
      column_of[i] = table->ColumnIndex(fields[i].name);
    row.resize(table->Definition().columns.size());
  }
  std::vector<std::string> texts(fields.size()), reread(fields.size());
  std::vector<core::Variant> typed(fields.size());
  std::string s;
  records = sizes = 0;
  while (reader->Next()) {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const int f = static_cast<int>(i);
      std::string& text = texts[i];
      text.clear();
      int dao_type = dao::dbText;
      switch (fields[i].type) {
        case bde::SourceFieldType::String:
        case bde::SourceFieldType::Memo:
          if (reader->TextValue(f, s) && convert) text = s;
          dao_type = fields[i].type == bde::SourceFieldType::Memo ? dao::dbMemo : dao::dbText;
          break;
        case bde::SourceFieldType::Float:
        case bde::SourceFieldType::Currency:
        case bde::SourceFieldType::BCD: {
          double d;
          if (reader->NumberValue(f, d) && convert) Append(text, d);
          dao_type = dao::dbDouble;
          break;
        }
        case bde::SourceFieldType::Boolean: {
          const core::Variant v = reader->Value(f);
          if (!v.IsNullOrEmpty() && convert) text = v.ToBoolean() ? "True" : "False";
          dao_type = dao::dbBoolean;
          break;
        }
        case bde::SourceFieldType::Date:
        case bde::SourceFieldType::Time:
        case bde::SourceFieldType::DateTime: {
          core::TimeStamp t;
          if (reader->DateTimeValue(f, t) && convert) {
            Append(text, std::int64_t{t.Date});
            text += ' ';
            Append(text, std::int64_t{t.Time});
          }
          dao_type = dao::dbDate;
          break;
        }
        default: {
          std::int32_t n;
          if (reader->IntegerValue(f, n) && convert) Append(text, std::int64_t{n});
          dao_type = dao::dbLong;
        }
      }
      if (!convert) continue;
      if (text.empty()) {
        typed[i] = core::Variant::Null();
      } else if (dao_type == dao::dbDate) {
        const auto blank = text.find(' ');
        core::TimeStamp t;
        std::from_chars(text.data(), text.data() + blank, t.Date);
        std::from_chars(text.data() + blank + 1, text.data() + text.size(), t.Time);
        typed[i] = core::Variant::FromDate(core::TimeStampToDateTime(t));
      } else {
        dao::TextToFieldValue(text, dao_type, 255, typed[i]);
      }
    }
    if (convert) {
      if (table) {
        for (std::size_t i = 0; i < fields.size(); ++i) row[column_of[i]] = std::move(typed[i]);
        table->Insert(row, &stored);
        for (std::size_t i = 0; i < fields.size(); ++i) typed[i] = std::move(stored[column_of[i]]);
      }
      for (std::size_t i = 0; i < fields.size(); ++i) {
        StoredText(typed[i], reread[i]);
        sizes += static_cast<std::int64_t>(reread[i].size());
      }
    }
    ++records;
  }
  if (db) {
    db->Close();
    std::filesystem::remove(database);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_copy_floor TABLE.dbf\n");
    return 2;
  }
  std::int64_t records = 0, sizes = 0;
  const double read = Pass(argv[1], false, {}, records, sizes);
  const double floor = Pass(argv[1], true, {}, records, sizes);
  const double engine = Pass(argv[1], true, std::string(argv[1]) + ".floor.mdb", records, sizes);
  std::printf(
      "%lld records, %lld text bytes: source values %.3f s, floor %.3f s, with inserts %.3f s\n",
      static_cast<long long>(records), static_cast<long long>(sizes), read, floor, engine);
  return 0;
}

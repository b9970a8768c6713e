// The copy run: destination created when missing and connected, then per source file: the
// gauge reset, the source opened, the destination table dropped when it exists, created from
// the source's field definitions, filled record by record, both closed. The clean-up (source
// closed, destination disconnected, controls restored) runs however the run ends.
#include "copy/copy_run.h"

#include <algorithm>
#include <exception>
#include <map>
#include <string_view>

#include "bde/table.h"
#include "core/errors.h"
#include "dao/constants.h"
#include "daodb/dao_utils.h"
#include "daodb/mx_dao_database.h"
#include "daotable/mx_dao_table.h"
#include "platform/system.h"

namespace copy {

namespace {

bool IsDelimiter(char c) {
  return c == '/' || c == '\\';
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return text;
}

std::string DirectoryPart(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NamePart(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TypeText(int dao_type, int size) {
  switch (dao_type) {
    case dao::dbBinary:
      return "Binary(" + std::to_string(size) + ")";
    case dao::dbLongBinary:
      return "Long binary";
    case dao::dbMemo:
      return "Memo";
    case dao::dbText:
      return "Text(" + std::to_string(size) + ")";
    case dao::dbGUID:
      return "GUID";
    case dao::dbCurrency:
      return "Currency";
    default:
      return "type " + std::to_string(dao_type);
  }
}

// Where the plain mapping of framework types to DAO types would lose values, the copy stores the
// field in a type that holds them whole. Each change is noted for the table's report.
void KeepValuesWhole(const ds::TFieldDef& def, int& dao_type, int& size,
                     std::vector<std::string>& notes) {
  const int plain_type = dao_type;
  const int plain_size = size;
  switch (def.DataType()) {
    case ds::ftBytes:
      // A GUID column takes exactly 16 bytes; any other length would refuse every value.
      if (def.Size() != 16) {
        dao_type = def.Size() <= 255 ? dao::dbBinary : dao::dbLongBinary;
        size = dao_type == dao::dbBinary ? def.Size() : 0;
      }
      break;
    case ds::ftVarBytes:
      // Bytes written into a text column are refused or garbled; a Binary column would read
      // back as a fixed-size field padded with zeros, so the value goes whole into a Long
      // binary one.
      dao_type = dao::dbLongBinary;
      size = 0;
      break;
    case ds::ftFmtMemo:
      // A Paradox formatted memo is text inside a layout of its own; a Memo column would take
      // its bytes as characters and garble them. Kept unchanged in a Long binary column.
      dao_type = dao::dbLongBinary;
      size = 0;
      break;
    case ds::ftBCD: {
      // Currency keeps four decimals and fifteen digits before the point; a BCD field with
      // more decimals, or that declares more digits (Paradox's 32 is the format's own, not a
      // declaration), goes into a Decimal column of its precision and scale instead.
      const int declared = def.Precision() > 0 && def.Precision() < 32 ? def.Precision() : 0;
      if (def.Size() > 4 || (declared > 0 && declared - def.Size() > 15)) {
        dao_type = dao::dbDecimal;
        size = 0;
        const int precision = declared > 0 && declared < 28 ? declared : 28;
        notes.push_back(def.Name() + ": stored as Decimal(" + std::to_string(precision) + "," +
                        std::to_string(std::min(def.Size(), precision)) + ") instead of " +
                        TypeText(plain_type, plain_size) + " so that its values are kept whole");
        return;
      }
      break;
    }
    case ds::ftString:
    case ds::ftFixedChar:
      // A Text column holds at most 255 characters.
      if (def.Size() > 255) {
        dao_type = dao::dbMemo;
        size = 0;
      }
      break;
    default:
      break;
  }
  if (dao_type != plain_type || size != plain_size)
    notes.push_back(def.Name() + ": stored as " + TypeText(dao_type, size) + " instead of " +
                    TypeText(plain_type, plain_size) + " so that its values are kept whole");
}

}  // namespace

std::string TableNameFromFile(const std::string& file_name) {
  std::string name = NamePart(file_name);
  std::size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ShortenPath(const std::string& path, int limit,
                        const std::function<int(const std::string&)>& width) {
  if (width(path) <= limit) return path;
  std::string drive;
  std::string rest = path;
  if (rest.size() >= 2 && rest[1] == ':') {
    drive = rest.substr(0, 2);
    rest = rest.substr(2);
  }
  std::string dir = DirectoryPart(rest);
  const std::string name = NamePart(rest);
  // The delimiter the path itself uses.
  const char delim = dir.empty() ? '/' : dir.back();
  const std::string dots_root = std::string(1, delim) + "..." + delim;  // "\...\"
  const std::string dots = std::string("...") + delim;                  // "...\"
  while (width(drive + dir + name) > limit && (!drive.empty() || !dir.empty())) {
    if (dir.empty()) {
      drive.clear();
    } else if (dir == dots_root) {
      dir = dots;
      drive.clear();
    } else if (dir == dots) {
      dir.clear();
    } else if (dir.size() == 1 && IsDelimiter(dir[0])) {
      dir.clear();
    } else {
      // The first directory gives way to "...": \data\old\ -> \...\old\ -> \...\.
      const bool rooted = IsDelimiter(dir[0]);
      const std::string& prefix = rooted ? dots_root : dots;
      std::string body = dir.compare(0, prefix.size(), prefix) == 0 ? dir.substr(prefix.size())
                                                                    : dir.substr(rooted ? 1 : 0);
      std::size_t next = body.find_first_of("/\\");
      dir = prefix + (next == std::string::npos ? std::string() : body.substr(next + 1));
    }
  }
  return drive + dir + name;
}

void CopyTables(CopyView& view, const CopyComponents& c, const std::string& destination,
                const std::vector<std::string>& files, const CopyOptions& options,
                CopyResult& result) {
  result = CopyResult{};
  bde::TTable& source = *c.SourceTable;
  daodb::TMxDaoDatabase& db = *c.DestDatabase;
  daotable::TMxDaoTable& table = *c.DestTable;

  db.SetDatabase(destination);
  if (!platform::FileExists(destination)) db.CreateAccessDatabase(destination);
  db.Open();

  // The table being copied notes here how its fields were mapped.
  std::vector<std::string>* type_notes = nullptr;
  db.OnMapField = [&type_notes](daodb::TMxDaoDatabase*, const ds::TFieldDef& def, int& dao_type,
                                int& size) {
    std::vector<std::string> ignored;
    KeepValuesWhole(def, dao_type, size, type_notes ? *type_notes : ignored);
  };
  // Which source made each table of this run, by the table's name in lower case.
  std::map<std::string, std::string> made_by;

  std::exception_ptr failure;
  try {
    view.EnterCopying();
    view.ProcessMessages();
    for (const std::string& file : files) {
      view.SetGaugeProgress(0);
      view.SetGaugeCaption(file);
      std::string dir = DirectoryPart(file);
      source.SetDatabaseName(dir.empty() ? std::string("./") : dir);
      source.SetTableName(NamePart(file));
      source.SetOptions(options.reader);
      result.tables.push_back(TableReport{});
      TableReport& report = result.tables.back();
      report.source = file;
      source.Open();
      report.code_page = source.CodePageText();
      view.SetGaugeMax(source.RecordCount());

      table.SetTableName(TableNameFromFile(source.TableName()));
      report.table = table.TableName();
      table.FieldDefs().Assign(source.FieldDefs());
      if (db.HasTable(table.TableName())) db.DeleteTable(table.TableName());
      auto [earlier, fresh] = made_by.try_emplace(Lower(table.TableName()), file);
      if (!fresh) {
        report.replaced_source = earlier->second;
        earlier->second = file;
      }
      type_notes = &report.type_changes;
      table.CreateTable();
      type_notes = nullptr;
      table.SetKeepAutoNumbers(true);
      table.Open();

      const int field_count = table.FieldCount();
      // Yes/No columns cannot hold Null: a blank logical arrives as No, which is counted.
      std::vector<bool> boolean(static_cast<std::size_t>(field_count), false);
      std::vector<std::int64_t> blank_logicals(static_cast<std::size_t>(field_count), 0);
      for (int i = 0; i < field_count && i < source.FieldCount(); ++i)
        boolean[static_cast<std::size_t>(i)] = source.Fields()[i].DataType() == ds::ftBoolean &&
                                               table.Fields()[i].DataType() == ds::ftBoolean;
      // AutoNumber values are kept; a record without one is numbered by the destination, and
      // the report says how many were.
      std::vector<int> counters;
      for (int i = 0; i < field_count && i < source.FieldCount(); ++i)
        if (source.Fields()[i].DataType() == ds::ftAutoInc) counters.push_back(i);
      std::vector<std::int64_t> renumbered(counters.size(), 0);

      int last_answer = 0;
      while (!view.InterruptRequested() && !source.Eof()) {
        table.Append();
        for (int i = 0; i < field_count; ++i) {
          try {
            ds::TField& from = source.Fields()[i];
            ds::TField& to = table.Fields()[i];
            if (boolean[static_cast<std::size_t>(i)] && from.IsNull())
              ++blank_logicals[static_cast<std::size_t>(i)];
            to.Assign(from);
          } catch (const core::Exception& e) {
            view.NoteFieldError(
                file, report.records + 1,
                i < source.FieldCount() ? source.Fields()[i].FieldName() : std::to_string(i + 1));
            if (last_answer < kAnswerYesToAll)
              last_answer = view.AskFieldError(std::string(e.what()) + "\r\nPokračovat?");
            if (last_answer != kAnswerYes && last_answer != kAnswerYesToAll) throw;
            std::string field =
                i < source.FieldCount() ? source.Fields()[i].FieldName() : std::to_string(i + 1);
            report.skipped.push_back({report.records + 1, field, e.what()});
          }
        }
        for (std::size_t k = 0; k < counters.size(); ++k) {
          const ds::TField& from = source.Fields()[counters[k]];
          if (from.IsNull()) ++renumbered[k];
        }
        table.Post();
        ++report.records;
        source.Next();
        view.SetGaugeProgress(view.GaugeProgress() + 1);
        if (view.GaugeProgress() % 10 == 0) view.ProcessMessages();
      }
      for (int i = 0; i < field_count; ++i)
        if (blank_logicals[static_cast<std::size_t>(i)] > 0)
          report.changes.push_back(
              table.Fields()[i].FieldName() + ": " +
              std::to_string(blank_logicals[static_cast<std::size_t>(i)]) + " blank logical value" +
              (blank_logicals[static_cast<std::size_t>(i)] == 1 ? "" : "s") + " stored as No");
      for (std::size_t k = 0; k < counters.size(); ++k)
        if (renumbered[k] > 0)
          report.changes.push_back(source.Fields()[counters[k]].FieldName() + ": " +
                                   std::to_string(renumbered[k]) + " of " +
                                   std::to_string(report.records) +
                                   " AutoNumber values were blank and numbered by the "
                                   "destination");
      // Some warnings come only as reading reaches what they are about (a cut block chain,
      // records past the header's count).
      report.warnings = source.Warnings();
      const bool whole = source.Eof();
      table.Close();
      source.Close();
      // What was posted is committed to the file before the table counts as copied.
      db.DaoDatabase()->Commit();
      report.complete = whole;
      if (view.InterruptRequested()) {
        result.ending = CopyEnding::Interrupted;
        break;
      }
    }
    if (result.ending == CopyEnding::Completed) view.HideGauge();
  } catch (...) {
    failure = std::current_exception();
    result.ending = CopyEnding::Failed;
  }

  // Clean-up on every ending.
  type_notes = nullptr;
  db.OnMapField = nullptr;
  try {
    source.Close();
  } catch (...) {
  }
  try {
    db.Close();
  } catch (...) {
    // A failure to write what was copied must not pass for success.
    if (!failure) {
      failure = std::current_exception();
      result.ending = CopyEnding::Failed;
      for (TableReport& t : result.tables) t.complete = false;
    }
  }
  view.LeaveCopying();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace copy

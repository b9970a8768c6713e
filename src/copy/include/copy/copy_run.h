// The copy run: every chosen source table into the destination Access database, through the
// destination database and table components, record by record.
//
// The window and the command line drive the same run. What the run needs of whoever shows it
// (controls that change with the copying state, the gauge, pending events, the interrupt
// request, the field-error question) is the CopyView interface; nothing here knows Qt or a
// terminal.
//
// Beyond the plain run, the copy keeps values whole where the plain type mapping would lose
// them (binary fields of any size, long texts, auto-increment values) and reports, per table,
// what it could not store unchanged and what the source reader warned about.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bde/source_reader.h"

namespace bde {
class TTable;
}
namespace daodb {
class TMxDaoDatabase;
}
namespace daotable {
class TMxDaoTable;
}

namespace copy {

// Modal results the field-error question may give (those of the message dialog).
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;
inline constexpr int kAnswerYesToAll = 10;
inline constexpr int kAnswerClosed = 2;

class CopyView {
 public:
  virtual ~CopyView() = default;
  // Controls into the copying state: edit and browse button disabled, the copy button becomes
  // the interrupt button (and the cancel button); the gauge at 0 with no caption, shown.
  virtual void EnterCopying() = 0;
  // Controls back to idle (the gauge's visibility is left as it is).
  virtual void LeaveCopying() = 0;
  virtual void SetGaugeMax(std::int32_t max) = 0;
  virtual void SetGaugeProgress(std::int32_t progress) = 0;
  // The gauge's progress as it holds it (clamped to its range).
  virtual std::int32_t GaugeProgress() const = 0;
  // The file being copied; the view shortens it to what fits (ShortenPath).
  virtual void SetGaugeCaption(const std::string& path) = 0;
  virtual void HideGauge() = 0;
  // Lets the user act: a click on the interrupt button is served here.
  virtual void ProcessMessages() = 0;
  virtual bool InterruptRequested() const = 0;
  // The field-error question ("<message>\r\nPokračovat?", Yes / No / Yes to all); the modal
  // result.
  virtual int AskFieldError(const std::string& prompt) = 0;
  // Where the error about to be asked about happened (record 1-based in source order); a view
  // that reports errors in words of its own uses it.
  virtual void NoteFieldError(const std::string& /*file*/, std::int64_t /*record*/,
                              const std::string& /*field*/) {}
};

// A value the destination could not take: the field was left empty.
struct SkippedValue {
  std::int64_t record = 0;  // 1-based, in source order
  std::string field;
  std::string message;
};

// What one source table became.
struct TableReport {
  std::string source;        // the source file's path
  std::string table;         // the destination table's name
  std::int64_t records = 0;  // records posted
  bool complete = false;     // every source record posted and the table closed
  std::vector<SkippedValue> skipped;
  // Values stored other than they were read, counted per field and kind
  // ("LOGICAL: 3 blank logical values stored as No").
  std::vector<std::string> changes;
  // Field definitions stored in another type than the plain mapping gives, and why.
  std::vector<std::string> type_changes;
  std::vector<std::string> warnings;  // what the source reader noticed
  std::string code_page;              // the source's code page and how it was settled
  std::string replaced_source;        // an earlier source of this run that made this table
};

enum class CopyEnding { Completed, Interrupted, Failed };

struct CopyResult {
  CopyEnding ending = CopyEnding::Completed;
  std::vector<TableReport> tables;
};

struct CopyOptions {
  // How the source tables are read (code pages, record counts, missing memo files).
  bde::ReaderOptions reader;
};

// The components the run works with; the window owns them, the command line makes its own.
struct CopyComponents {
  bde::TTable* SourceTable = nullptr;
  daodb::TMxDaoDatabase* DestDatabase = nullptr;
  daotable::TMxDaoTable* DestTable = nullptr;
};

// The destination table's name: the file name up to its first ".".
std::string TableNameFromFile(const std::string& file_name);

// Shortens a path to `limit` by replacing leading directories with "...", keeping the file
// name whole; `width` measures a text. Both "/" and "\" delimit.
std::string ShortenPath(const std::string& path, int limit,
                        const std::function<int(const std::string&)>& width);

// The run. `destination` is used as given; `files` are full paths, copied in order. Errors leave
// as exceptions after the clean-up (controls restored, destination disconnected); `result`
// holds what was done up to then, so the caller can report it either way.
void CopyTables(CopyView& view, const CopyComponents& components, const std::string& destination,
                const std::vector<std::string>& files, const CopyOptions& options,
                CopyResult& result);

}  // namespace copy

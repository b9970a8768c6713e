// Source tables: the readers of dBase/FoxPro (.dbf + .dbt/.fpt) and Paradox (.db + .mb)
// files behind one interface.
//
// A reader walks the live records of one table front to back and decodes a field only
// when it is asked for, straight from the record bytes it holds. It never writes to any
// file and never assumes a byte from the file is sane: a broken header or descriptor is
// an error at open, naming the file; a value that cannot be decoded is an error for that
// one field of that one record, naming the file, the record and the field, so the copy
// can ask whether to go on; a table whose data end early yields every complete record
// and a warning.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bde/code_pages.h"
#include "core/datetime.h"
#include "core/file.h"
#include "core/variant.h"

namespace bde {

// The field types the original engine reported to programs (the dataset framework's
// ftXxx values with the same names and ordinals).
enum class SourceFieldType : int {
  Unknown = 0,
  String = 1,
  Smallint = 2,
  Integer = 3,
  Word = 4,
  Boolean = 5,
  Float = 6,
  Currency = 7,
  BCD = 8,
  Date = 9,
  Time = 10,
  DateTime = 11,
  Bytes = 12,
  VarBytes = 13,
  AutoInc = 14,
  Blob = 15,
  Memo = 16,
  Graphic = 17,
  FmtMemo = 18,
  ParadoxOle = 19,
  DBaseOle = 20,
};

const char* SourceFieldTypeName(SourceFieldType type);  // "ftString", ...
bool IsBlobType(SourceFieldType type);                  // Blob .. DBaseOle

enum class SourceFormat { DBase, Paradox };

struct FieldDescription {
  std::string name;      // UTF-8
  char native_type = 0;  // the type letter in the file ('C', 'N', '+', 'A', '$', ...)
  SourceFieldType type = SourceFieldType::Unknown;
  int size = 0;       // characters or bytes for strings, bytes, blobs' in-record part; BCD scale
  int precision = 0;  // total digits of numbers stored as text; 0 where it means nothing
  int decimals = 0;   // decimal places of numbers stored as text
  bool required = false;  // a value is required (Paradox validity checks)
  bool binary = false;    // text kept without code-page translation
};

struct ReaderOptions {
  // Code page for tables that name none (dBase language driver 0, Paradox code page 0 with
  // no known sort order) and have no .cpg file: used instead of guessing from the bytes.
  // 0 = guess. Raises at open when the number is not a code page we can decode.
  int code_page = 0;
  // Code page for every table, whatever it names; 0 = none.
  int force_code_page = 0;
  // Code page for unmarked tables whose bytes do not show which one they use.
  int default_code_page = 1250;
  // Code page meant by dBase's "current Windows ANSI" mark and used for fields flagged as
  // not translated: the Windows code page of the machine that wrote the file, which for
  // the Czech users of this program is 1250.
  int ansi_code_page = 1250;
  // Read every complete dBase record the file holds, also past the header's record count
  // (by default the count is followed, as dBase does, with a warning naming what follows).
  bool read_past_count = false;
  // A missing memo or blob file makes the table's memo and blob fields Null (with a
  // warning) instead of refusing the table.
  bool missing_memo_null = false;
};

class SourceReader {
 public:
  virtual ~SourceReader() = default;

  virtual SourceFormat Format() const = 0;
  const std::string& Path() const { return path_; }
  const std::vector<FieldDescription>& Fields() const { return fields_; }
  // The code page texts are decoded with (65001 for UTF-8) and how it was settled.
  int CodePage() const { return code_page_; }
  CodePageOrigin CodePageSource() const { return code_page_origin_; }
  // "852, detected", "1250, marked", ... for messages and summaries.
  std::string CodePageText() const;
  // The number of records the header announces (deleted dBase records included), or
  // fewer when the file cannot hold that many. Used for progress, not as a limit.
  std::int64_t RecordCount() const { return record_count_; }
  // Short description of the file's format ("dBase III", "Visual FoxPro", "Paradox 7", ...).
  const std::string& FormatName() const { return format_name_; }

  // Moves to the next live record; false once there is none (then the reader stays at the
  // end). The first call moves to the first record.
  virtual bool Next() = 0;
  // 1-based position of the current record in the file (deleted records counted), for
  // messages.
  std::int64_t RecordNumber() const { return record_number_; }

  // The value of a field of the current record: Null when the field is empty; memo text
  // as a String, other blobs as bytes. Raises core::EFileError naming the file, record and
  // field when the stored bytes cannot be decoded.
  virtual core::Variant Value(int field) = 0;
  // The raw bytes of a blob field (memo text untranslated); empty when the field is empty.
  virtual std::vector<std::uint8_t> BlobBytes(int field) = 0;
  // Whether the field of the current record is empty, without decoding it fully.
  virtual bool IsNull(int field) = 0;

  // The same values as Value() without a Variant, for the table's hot path: each returns
  // false for Null and raises like Value(). TextValue replaces `out` with the text of a text
  // field; NumberValue takes any numeric field; IntegerValue integer fields; DateTimeValue
  // date, time and date-time fields (day 1 = 1 January of year 1, milliseconds).
  virtual bool TextValue(int field, std::string& out);
  virtual bool NumberValue(int field, double& out);
  virtual bool IntegerValue(int field, std::int32_t& out);
  virtual bool DateTimeValue(int field, core::TimeStamp& out);

  // The raw bytes of the current record, RecordSize() of them (null when there is none).
  // A table keeps such copies in its record buffers and decodes a field only when it is
  // read: Select makes a copy taken earlier the record Value, IsNull and BlobBytes decode.
  virtual std::size_t RecordSize() const = 0;
  const std::uint8_t* RecordBytes() const { return record_; }
  void Select(const std::uint8_t* record, std::int64_t record_number) {
    record_ = record;
    record_number_ = record_number;
  }

  // Things a reader noticed that do not stop it (a record count beyond the data, records
  // past the count, a cut block chain, a code page guessed, a stale validity file, a memo
  // file left out, ...), each naming the file. Those found at open are there once the reader
  // exists; the others accumulate while reading, so a reader of every record should look
  // again at the end.
  const std::vector<std::string>& Warnings() const { return warnings_; }

 protected:
  explicit SourceReader(std::string path) : path_(std::move(path)) {}
  void Warn(const std::string& what) { warnings_.push_back(path_ + ": " + what); }
  [[noreturn]] void Fail(const std::string& what) const;
  [[noreturn]] void FailField(int field, const std::string& what) const;
  // Settles the code page: the user's forced page, else `marked` (what the file says, 0 for
  // nothing), else the .cpg file's (when `cpg` names one), else the user's page for unmarked
  // tables, else a guess from the texts `sample` adds, else the default. Warns where the
  // choice is a guess or a default over bytes above 127.
  int SettleCodePage(int marked, int cpg, const ReaderOptions& options,
                     const std::function<void(CodePageGuesser&)>& sample);

  std::string path_;
  std::vector<FieldDescription> fields_;
  int code_page_ = 0;
  CodePageOrigin code_page_origin_ = CodePageOrigin::Marked;
  std::int64_t record_count_ = 0;
  std::int64_t record_number_ = 0;
  const std::uint8_t* record_ = nullptr;  // the record being decoded
  std::string format_name_;
  std::vector<std::string> warnings_;
};

// Opens a table by its extension: ".dbf" (any letter case) for the dBase family, ".db" for
// Paradox; any other extension is an error naming the file.
std::unique_ptr<SourceReader> OpenSourceTable(const std::string& path,
                                              const ReaderOptions& options = {},
                                              core::FileSystem& fs = core::FileSystem::Native());

}  // namespace bde

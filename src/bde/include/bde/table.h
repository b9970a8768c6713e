// TTable: a dBase/FoxPro or Paradox table file as a dataset, the way the copy reads its
// sources.
//
// `DatabaseName` is the directory and `TableName` the file name; the extension picks the
// format (".dbf" dBase family, ".db" Paradox). The table is read-only: nothing can be
// edited, and the files are only ever opened for reading. Record buffers keep raw record
// copies; a field is decoded only when it is read, and a value that cannot be decoded
// raises for that field alone, naming the file, the record and the field.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bde/source_reader.h"
#include "core/file.h"
#include "dataset/db.h"

namespace bde {

class TTable : public ds::TDataSet {
 public:
  explicit TTable(ds::TComponent* owner = nullptr);
  ~TTable() override;

  // The directory the table file is in; a missing trailing delimiter is supplied.
  const std::string& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const std::string& name);
  // The table file's name with its extension.
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  // Code page choices (an override for files whose mark is wrong or missing).
  const ReaderOptions& Options() const { return options_; }
  void SetOptions(const ReaderOptions& options);
  // The files are read through this file system (the operating system's by default).
  void SetFileSystem(core::FileSystem* fs);

  // The path the table is opened from.
  std::string TablePath() const;
  // The code page the table's text is read in and how it was settled, as "852, detected"
  // (see SourceReader::CodePageText); "" while the table is closed.
  std::string CodePageText() const { return reader_ ? reader_->CodePageText() : std::string(); }
  // What the reader noticed and read past (a record count beyond the data, records past the
  // count, a cut block chain, a code page guessed, a memo file left out, a stale validity
  // file, ...), each naming the file; also reported through OnWarning as it happens: those
  // found at open during Open, the others as the records that show them are reached (the
  // end of the table included). A copy that reads every record and then looks here has
  // them all.
  const std::vector<std::string>& Warnings() const { return warnings_; }
  std::function<void(TTable* table, const std::string& warning)> OnWarning;

  // The whole text of a text field in the current record, NUL bytes included (the text the
  // field's Value and AsString give); false for Null.
  bool FieldText(const ds::TField* field, std::string& text) const;

  std::unique_ptr<ds::TStream> CreateBlobStream(ds::TField* field,
                                                ds::TBlobStreamMode mode) override;
  bool GetFieldData(ds::TField* field, void* buffer) const override;
  void SetFieldData(ds::TField* field, const void* buffer) override;

 protected:
  ds::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(ds::TRecordBuffer& buffer) override;
  int GetRecordSize() const override;
  void InternalInitRecord(ds::TRecordBuffer buffer) override;
  ds::TGetResult GetRecord(ds::TRecordBuffer buffer, ds::TGetMode mode, bool check) override;
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return reader_ != nullptr; }
  void InternalInitFieldDefs() override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(ds::TRecordBuffer buffer) override;
  void InternalGotoBookmark(const std::uint8_t* bookmark) override;
  ds::TBookmarkFlag GetBookmarkFlag(ds::TRecordBuffer buffer) const override;
  void SetBookmarkFlag(ds::TRecordBuffer buffer, ds::TBookmarkFlag flag) override;
  void GetBookmarkData(ds::TRecordBuffer buffer, void* data) const override;
  void SetBookmarkData(ds::TRecordBuffer buffer, const void* data) override;
  int GetRecordCount() const override;
  int GetRecNo() const override;
  bool GetIsSequenced() const override { return true; }
  bool GetCanModify() const override { return false; }
  void ClearCalcFields(ds::TRecordBuffer buffer) override;

 private:
  static constexpr std::int32_t kBeforeFirst = -1;
  static constexpr std::int32_t kAfterLast = 0x7FFFFFFF;

  std::unique_ptr<SourceReader> OpenReader() const;
  bool MoveReaderTo(std::int32_t index);
  void CopyRecord(ds::TRecordBuffer buffer) const;
  ds::TRecordBuffer StateBuffer() const;
  void CollectWarnings();
  void CreateSourceFields();

  std::string database_name_;
  std::string table_name_;
  ReaderOptions options_;
  core::FileSystem* fs_ = nullptr;

  std::unique_ptr<SourceReader> reader_;
  std::int32_t reader_index_ = kBeforeFirst;  // live-record index the reader is on
  std::int32_t total_ = -1;                   // live records, once the reader has seen the end
  std::int32_t cursor_ = kBeforeFirst;        // live-record index of the dataset's cursor
  std::size_t raw_size_ = 0;
  std::vector<std::string> warnings_;
  std::set<std::string> warned_;
  mutable std::string text_;  // reused for every text value, so reading allocates nothing
};

}  // namespace bde

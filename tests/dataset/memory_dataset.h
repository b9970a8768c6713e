// An in-memory dataset written for the tests: rows of native values behind the framework's
// record buffers, with bookmarks (the row id), filtering through OnFilterRecord, old values
// while editing, calculated fields and blob streams. A recording variant logs every dataset
// operation the framework calls, with the state at that moment.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "dataset/db.h"

namespace dstest {

using namespace ds;

class TMemoryDataset : public TDataSet {
 public:
  using Values = std::vector<std::optional<std::string>>;
  struct Row {
    std::int32_t id;
    Values values;
  };

  explicit TMemoryDataset(TComponent* owner = nullptr) : TDataSet(owner), schema_(this) {}
  ~TMemoryDataset() override {
    Destroying();
    Close();
  }

  // The table's columns; copied into FieldDefs at open.
  TFieldDefs& Schema() { return schema_; }
  const std::vector<Row>& Rows() const { return rows_; }
  bool read_only = false;

  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  bool GetFieldData(TField* field, void* buffer) const override;
  void SetFieldData(TField* field, const void* buffer) override;
  bool GetCurrentRecord(TRecordBuffer buffer) override;
  void SetFiltered(bool value) override {
    TDataSet::SetFiltered(value);
    if (Active()) First();
  }
  void SetOnFilterRecord(TFilterRecordEvent handler) override {
    TDataSet::SetOnFilterRecord(std::move(handler));
    if (Active() && Filtered()) First();
  }
  void SetRecNo(int value) override;

  struct Record {
    std::int32_t row_id = -1;
    TBookmarkFlag flag = bfCurrent;
    Values values;
    std::vector<std::uint8_t> calc;
  };
  static Record& Rec(TRecordBuffer buffer) { return *reinterpret_cast<Record*>(buffer); }
  // The buffer the dataset's state addresses (none when there is none).
  Record* StateRecord() const;

 protected:
  TRecordBuffer AllocRecordBuffer() override {
    auto* rec = new Record;
    rec->calc.assign(static_cast<std::size_t>(CalcFieldsSize()), 0);
    ++live_buffers;
    return reinterpret_cast<TRecordBuffer>(rec);
  }
  void FreeRecordBuffer(TRecordBuffer& buffer) override {
    if (buffer != nullptr) --live_buffers;
    delete reinterpret_cast<Record*>(buffer);
    buffer = nullptr;
  }
  int GetRecordSize() const override { return static_cast<int>(sizeof(Record)); }
  void InternalInitRecord(TRecordBuffer buffer) override {
    Record& rec = Rec(buffer);
    rec.values.assign(static_cast<std::size_t>(FieldDefs().Count()), std::nullopt);
    rec.row_id = -1;
  }
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool check) override;
  void InternalOpen() override {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(4);
    open_ = true;
    InternalFirst();
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    old_.reset();
    open_ = false;
  }
  bool IsCursorOpen() const override { return open_; }
  void InternalInitFieldDefs() override { FieldDefs().Assign(schema_); }
  void InternalFirst() override { cursor_ = -1; }
  void InternalLast() override { cursor_ = static_cast<int>(rows_.size()); }
  void InternalSetToRecord(TRecordBuffer buffer) override {
    int i = IndexOfRow(Rec(buffer).row_id);
    if (i >= 0) cursor_ = i;
  }
  void InternalGotoBookmark(const std::uint8_t* bookmark) override {
    std::int32_t id = 0;
    std::memcpy(&id, bookmark, 4);
    int i = IndexOfRow(id);
    if (i < 0) DatabaseError("Record not found", this);
    cursor_ = i;
  }
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) const override { return Rec(buffer).flag; }
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override {
    Rec(buffer).flag = flag;
  }
  void GetBookmarkData(TRecordBuffer buffer, void* data) const override {
    if (buffer && data) std::memcpy(data, &Rec(buffer).row_id, 4);
  }
  void SetBookmarkData(TRecordBuffer buffer, const void* data) override {
    if (buffer && data) std::memcpy(&Rec(buffer).row_id, data, 4);
  }
  int GetRecordCount() const override;
  int GetRecNo() const override;
  void InternalEdit() override { old_ = Rec(ActiveBuffer()); }
  void InternalCancel() override { old_.reset(); }
  void InternalPost() override;
  void InternalDelete() override {
    rows_.erase(rows_.begin() + cursor_);
    if (cursor_ > static_cast<int>(rows_.size())) cursor_ = static_cast<int>(rows_.size());
  }
  bool GetCanModify() const override { return !read_only; }
  void ClearCalcFields(TRecordBuffer buffer) override {
    std::fill(Rec(buffer).calc.begin(), Rec(buffer).calc.end(), 0);
  }
  bool GetIsSequenced() const override { return true; }

 public:
  int live_buffers = 0;

 private:
  friend class MemoryBlobStream;
  int IndexOfRow(std::int32_t id) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
      if (rows_[i].id == id) return static_cast<int>(i);
    return -1;
  }
  bool Accepts(const Row& row) const;

  TFieldDefs schema_;
  std::vector<Row> rows_;
  std::int32_t next_id_ = 1;
  int cursor_ = -1;
  bool open_ = false;
  std::optional<Record> old_;
  mutable Record scratch_;
};

// Logs each dataset operation the framework calls, with the state it was called in.
class TRecordingDataset : public TMemoryDataset {
 public:
  using TMemoryDataset::TMemoryDataset;
  ~TRecordingDataset() override {
    Destroying();
    Close();
  }
  std::vector<std::string> log;
  void Clear() { log.clear(); }

 protected:
  void Note(const std::string& what) { log.push_back(what + "@" + StateName(State())); }
  static std::string StateName(TDataSetState s);
  void InternalInitRecord(TRecordBuffer b) override {
    Note("InternalInitRecord");
    TMemoryDataset::InternalInitRecord(b);
  }
  TGetResult GetRecord(TRecordBuffer b, TGetMode mode, bool check) override {
    Note(mode == gmCurrent ? "GetRecord(current)"
         : mode == gmNext  ? "GetRecord(next)"
                           : "GetRecord(prior)");
    return TMemoryDataset::GetRecord(b, mode, check);
  }
  void InternalFirst() override {
    Note("InternalFirst");
    TMemoryDataset::InternalFirst();
  }
  void InternalLast() override {
    Note("InternalLast");
    TMemoryDataset::InternalLast();
  }
  void InternalSetToRecord(TRecordBuffer b) override {
    Note("InternalSetToRecord");
    TMemoryDataset::InternalSetToRecord(b);
  }
  void InternalEdit() override {
    Note("InternalEdit");
    TMemoryDataset::InternalEdit();
  }
  void InternalCancel() override {
    Note("InternalCancel");
    TMemoryDataset::InternalCancel();
  }
  void InternalPost() override {
    Note("InternalPost");
    TMemoryDataset::InternalPost();
  }
  void InternalDelete() override {
    Note("InternalDelete");
    TMemoryDataset::InternalDelete();
  }
  void InternalRefresh() override { Note("InternalRefresh"); }
  void InternalOpen() override {
    Note("InternalOpen");
    TMemoryDataset::InternalOpen();
  }
  void InternalClose() override {
    Note("InternalClose");
    TMemoryDataset::InternalClose();
  }
};

// The values of the record the dataset's state addresses, in native form.
inline const TMemoryDataset::Values& MemoryRecordValues(const TMemoryDataset& ds) {
  return ds.StateRecord()->values;
}

// Builds a dataset with the given columns and rows (each row: one value per column, Null or
// Empty for null) and opens it.
void Fill(TMemoryDataset& ds, const std::vector<std::vector<Variant>>& rows);

}  // namespace dstest

// A dataset that has no data and never opens a cursor.
//
// Field-definition and index-definition collections always belong to a dataset; this one lets
// them exist outside any real table (the table manager builds a table from such free-standing
// definitions). Every dataset operation answers "nothing here": it must never refresh or replace
// definitions that its owner put in.
#pragma once

#include <memory>
#include <string>

#include "dataset/db.h"

namespace daotable {

class TDummyDataset : public ds::TDataSet {
 public:
  explicit TDummyDataset(ds::TComponent* owner = nullptr);
  ~TDummyDataset() override;

  void DataEvent(ds::TDataEvent event, std::intptr_t info) override;
  bool BookmarkValid(const ds::TBookmark& bookmark) override;
  int CompareBookmarks(const ds::TBookmark& a, const ds::TBookmark& b) override;
  std::unique_ptr<ds::TStream> CreateBlobStream(ds::TField* field,
                                                ds::TBlobStreamMode mode) override;
  bool GetFieldData(ds::TField* field, void* buffer) const override;
  void SetFieldData(ds::TField* field, const void* buffer) override;
  bool Locate(const std::string& key_fields, const ds::Variant& key_values,
              ds::TLocateOptions options) override;
  ds::Variant Lookup(const std::string& key_fields, const ds::Variant& key_values,
                     const std::string& result_fields) override;

 protected:
  ds::TBookmarkStr GetBookmarkStr() const override;
  bool GetCanModify() const override;
  int GetRecordCount() const override;
  int GetRecNo() const override;
  void InternalEdit() override;
  void InternalRefresh() override;
  void SetBookmarkStr(const ds::TBookmarkStr& bookmark) override;
  ds::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(ds::TRecordBuffer& buffer) override;
  void GetBookmarkData(ds::TRecordBuffer buffer, void* data) const override;
  ds::TBookmarkFlag GetBookmarkFlag(ds::TRecordBuffer buffer) const override;
  int GetRecordSize() const override;
  void InternalAddRecord(ds::TRecordBuffer buffer, bool append) override;
  void InternalDelete() override;
  void InternalFirst() override;
  void InternalGotoBookmark(const std::uint8_t* bookmark) override;
  void InternalInitRecord(ds::TRecordBuffer buffer) override;
  void InternalLast() override;
  void InternalPost() override;
  void InternalSetToRecord(ds::TRecordBuffer buffer) override;
  void SetBookmarkFlag(ds::TRecordBuffer buffer, ds::TBookmarkFlag flag) override;
  void SetBookmarkData(ds::TRecordBuffer buffer, const void* data) override;
  ds::TGetResult GetRecord(ds::TRecordBuffer buffer, ds::TGetMode mode, bool check) override;
  void InternalClose() override;
  void InternalHandleException() override;
  void InternalInitFieldDefs() override;
  void InternalOpen() override;
  bool IsCursorOpen() const override;
};

}  // namespace daotable

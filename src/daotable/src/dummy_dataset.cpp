#include "daotable/dummy_dataset.h"

#include <exception>

#include "platform/hooks.h"

namespace daotable {

TDummyDataset::TDummyDataset(ds::TComponent* owner) : ds::TDataSet(owner) {}
TDummyDataset::~TDummyDataset() = default;

// Nothing is passed on: the definitions it carries must not be refreshed by anyone listening.
void TDummyDataset::DataEvent(ds::TDataEvent, std::intptr_t) {}
bool TDummyDataset::BookmarkValid(const ds::TBookmark&) {
  return false;
}
int TDummyDataset::CompareBookmarks(const ds::TBookmark&, const ds::TBookmark&) {
  return 0;
}
std::unique_ptr<ds::TStream> TDummyDataset::CreateBlobStream(ds::TField*, ds::TBlobStreamMode) {
  return nullptr;
}
bool TDummyDataset::GetFieldData(ds::TField*, void*) const {
  return false;
}
void TDummyDataset::SetFieldData(ds::TField*, const void*) {}
bool TDummyDataset::Locate(const std::string&, const ds::Variant&, ds::TLocateOptions) {
  return false;
}
ds::Variant TDummyDataset::Lookup(const std::string&, const ds::Variant&, const std::string&) {
  return ds::Variant::Null();
}
ds::TBookmarkStr TDummyDataset::GetBookmarkStr() const {
  return {};
}
bool TDummyDataset::GetCanModify() const {
  return false;
}
int TDummyDataset::GetRecordCount() const {
  return -1;
}
int TDummyDataset::GetRecNo() const {
  return -1;
}
void TDummyDataset::InternalEdit() {
  ds::TDataSet::InternalEdit();
}
void TDummyDataset::InternalRefresh() {}
void TDummyDataset::SetBookmarkStr(const ds::TBookmarkStr&) {}
ds::TRecordBuffer TDummyDataset::AllocRecordBuffer() {
  return nullptr;
}
void TDummyDataset::FreeRecordBuffer(ds::TRecordBuffer&) {}
void TDummyDataset::GetBookmarkData(ds::TRecordBuffer, void*) const {}
ds::TBookmarkFlag TDummyDataset::GetBookmarkFlag(ds::TRecordBuffer) const {
  return ds::bfCurrent;
}
int TDummyDataset::GetRecordSize() const {
  return 0;
}
void TDummyDataset::InternalAddRecord(ds::TRecordBuffer, bool) {}
void TDummyDataset::InternalDelete() {}
void TDummyDataset::InternalFirst() {}
void TDummyDataset::InternalGotoBookmark(const std::uint8_t*) {}
void TDummyDataset::InternalInitRecord(ds::TRecordBuffer) {}
void TDummyDataset::InternalLast() {}
void TDummyDataset::InternalPost() {}
void TDummyDataset::InternalSetToRecord(ds::TRecordBuffer) {}
void TDummyDataset::SetBookmarkFlag(ds::TRecordBuffer, ds::TBookmarkFlag) {}
void TDummyDataset::SetBookmarkData(ds::TRecordBuffer, const void*) {}
ds::TGetResult TDummyDataset::GetRecord(ds::TRecordBuffer, ds::TGetMode, bool) {
  return ds::grOK;
}
void TDummyDataset::InternalClose() {}
void TDummyDataset::InternalHandleException() {
  platform::HandleApplicationException(std::current_exception());
}
void TDummyDataset::InternalInitFieldDefs() {}
void TDummyDataset::InternalOpen() {}
bool TDummyDataset::IsCursorOpen() const {
  return false;
}

}  // namespace daotable

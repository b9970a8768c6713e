// Dataset editing: Edit, Insert, Append, Post, Cancel, Delete, Refresh and setting a record's
// fields in one call.
#include <algorithm>
#include <cstring>
#include <exception>

#include "core/scope_exit.h"
#include "dataset/db.h"
#include "internal.h"
#include "platform/hooks.h"

namespace ds {

using detail::IsEditMode;

// ---------------------------------------------------------------------------------------------
// Editing

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(state_)) DatabaseError("Dataset not in edit or insert mode", this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckOperation(const std::function<void()>& operation,
                              const TDataSetErrorEvent& event) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EDatabaseError& error) {
      TDataAction action = daFail;
      if (event) event(this, error, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::DoOnNewRecord() {
  Fire(OnNewRecord);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  Fire(AfterInsert);
  DoAfterScroll();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  EndInsertAppend();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmarkStr old_current = GetBookmarkStr();
  MoveBuffer(record_count_, active_record_);
  CursorPosChanged();
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else if (!old_current.empty())
    SetBookmarkData(buffer, old_current.data());
  if (record_count_ < buffer_count_) ++record_count_;
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit);
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  Fire(AfterEdit);
}

void TDataSet::InternalPost() {
  for (TField* f : fields_.list_) {
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->IsNull())
      DatabaseError("Field '" + f->DisplayName() + "' must have a value", this);
  }
}

void TDataSet::InternalAddRecord(TRecordBuffer buffer, bool append) {
  if (append) {
    InternalLast();
    SetBookmarkFlag(buffer, bfEOF);
  }
  InternalPost();
}

void TDataSet::Post() {
  UpdateRecord();
  switch (state_) {
    case dsEdit:
    case dsInsert:
      DataEvent(deCheckBrowseMode, 0);
      Fire(BeforePost);
      CheckOperation([this] { InternalPost(); }, OnPostError);
      FreeFieldBuffers();
      SetState(dsBrowse);
      Resync({});
      Fire(AfterPost);
      break;
    case dsSetKey:
      SetState(dsBrowse);
      DataEvent(deDataSetChange, 0);
      break;
    default:
      break;
  }
}

void TDataSet::Cancel() {
  switch (state_) {
    case dsEdit:
    case dsInsert: {
      DataEvent(deCheckBrowseMode, 0);
      Fire(BeforeCancel);
      bool scroll = state_ == dsInsert;
      if (scroll) DoBeforeScroll();
      UpdateCursorPos();
      InternalCancel();
      FreeFieldBuffers();
      SetState(dsBrowse);
      Resync({});
      Fire(AfterCancel);
      if (scroll) DoAfterScroll();
      break;
    }
    case dsSetKey:
      SetState(dsBrowse);
      DataEvent(deDataSetChange, 0);
      break;
    default:
      break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError("Cannot perform this operation on an empty dataset", this);
  CheckCanModify();
  DataEvent(deCheckBrowseMode, 0);
  Fire(BeforeDelete);
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  Fire(AfterDelete);
  DoAfterScroll();
}

void TDataSet::Refresh() {
  Fire(BeforeRefresh);
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
  Fire(AfterRefresh);
}

void TDataSet::SetFields(const std::vector<Variant>& values) {
  std::size_t n = std::min(values.size(), static_cast<std::size_t>(FieldCount()));
  for (std::size_t i = 0; i < n; ++i)
    if (!values[i].IsEmpty()) fields_[static_cast<int>(i)].SetValue(values[i]);
}

void TDataSet::ClearFields() {
  if (!IsEditMode(state_)) DatabaseError("Dataset not in edit or insert mode", this);
  DataEvent(deCheckBrowseMode, 0);
  FreeFieldBuffers();
  InternalInitRecord(ActiveBuffer());
  if (state_ != dsSetKey) GetCalcFields(ActiveBuffer());
  DataEvent(deRecordChange, 0);
}

void TDataSet::AppendRecord(const std::vector<Variant>& values) {
  Append();
  try {
    SetFields(values);
    Post();
  } catch (...) {
    if (state_ == dsInsert) Cancel();
    throw;
  }
}

void TDataSet::InsertRecord(const std::vector<Variant>& values) {
  Insert();
  try {
    SetFields(values);
    Post();
  } catch (...) {
    if (state_ == dsInsert) Cancel();
    throw;
  }
}

}  // namespace ds

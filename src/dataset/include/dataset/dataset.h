// TDataSet: the record-buffered dataset, its state machine and the operations a dataset class
// supplies.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/defs.h"
#include "dataset/fields.h"
#include "dataset/params.h"

namespace ds {

// ---------------------------------------------------------------------------------------------
// Datasets

using TDataSetNotifyEvent = std::function<void(TDataSet* dataset)>;
// The exception is the one raised (core::EDatabaseError from the framework; a dataset class may
// pass its own, such as core::EOleException); the action comes in as daFail.
using TDataSetErrorEvent =
    std::function<void(TDataSet* dataset, core::Exception& error, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataset, bool& accept)>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  // A dataset class that can be open when destroyed calls Close() in its own destructor; this
  // one can no longer reach the class's InternalClose or FreeRecordBuffer.
  ~TDataSet() override;

  // --- State
  bool Active() const { return state_ != dsInactive; }
  virtual void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  bool CanModify() const { return GetCanModify(); }
  bool DefaultFields() const { return default_fields_; }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }
  // Raise "Cannot perform this operation on a closed dataset" / "... on an open dataset".
  void CheckActive() const;
  void CheckInactive() const;
  // Posts or cancels a pending edit (posts when something was changed).
  void CheckBrowseMode();

  // --- Definitions and fields
  TFieldDefs& FieldDefs() { return *field_defs_; }
  const TFieldDefs& FieldDefs() const { return *field_defs_; }
  void SetFieldDefs(const TFieldDefs& defs);
  TFields& Fields() { return fields_; }
  const TFields& Fields() const { return fields_; }
  int FieldCount() const { return fields_.Count(); }
  TField* FindField(std::string_view name) const { return fields_.FindField(name); }
  TField& FieldByName(std::string_view name) const { return fields_.FieldByName(name); }
  TField* FieldByNumber(int field_no) const { return fields_.FieldByNumber(field_no); }
  // The fields named in a ";"-separated list, in order; raises for an unknown name.
  std::vector<TField*> GetFieldList(std::string_view names) const;
  std::vector<std::string> GetFieldNames() const;
  Variant FieldValues(std::string_view names) const;
  void SetFieldValues(std::string_view names, const Variant& values);
  // Rebuilds FieldDefs from the cursor (InternalInitFieldDefs; for a closed dataset inside an
  // OpenCursor(true)/CloseCursor pair).
  virtual void InitFieldDefs();

  // --- Navigation
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return active_record_ >= record_count_; }
  int RecordCount() const { return GetRecordCount(); }
  int RecNo() const { return GetRecNo(); }
  // Moves to record number `value` (1-based); what a dataset supports is its own.
  virtual void SetRecNo(int /*value*/) {}
  int RecordSize() const { return GetRecordSize(); }
  // The record the cursor is on is copied into `buffer` (dataset-defined; false by default).
  virtual bool GetCurrentRecord(TRecordBuffer buffer);

  // --- Editing
  void Append();
  void Insert();
  void Edit();
  virtual void Post();
  void Cancel();
  void Delete();
  void Refresh();
  void AppendRecord(const std::vector<Variant>& values);
  void InsertRecord(const std::vector<Variant>& values);
  // Assigns the values to the fields in order (Empty leaves a field alone).
  void SetFields(const std::vector<Variant>& values);
  void ClearFields();
  // Asks the data links to write pending control edits (the deUpdateRecord event).
  void UpdateRecord();

  // --- Buffers
  // Refills the ring around the cursor. rmExact: the current record must still be there
  // ("Record not found" otherwise); rmCenter: the active record goes to the middle.
  void Resync(TResyncMode mode);
  void ClearBuffers();
  void ActivateBuffers();
  // Puts the cursor on the active record (when known to be elsewhere).
  void UpdateCursorPos();
  // Forgets where the cursor is, so the next UpdateCursorPos moves it.
  void CursorPosChanged() { current_record_ = -1; }
  int BufferCount() const { return buffer_count_; }

  // --- Bookmarks
  TBookmarkStr Bookmark() const { return GetBookmarkStr(); }
  void SetBookmark(const TBookmarkStr& bookmark) { SetBookmarkStr(bookmark); }
  bool BookmarkAvailable() const;
  TBookmark GetBookmark() const;
  void GotoBookmark(const TBookmark& bookmark);
  void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0 or 1; a missing (empty) bookmark sorts first. The default compares the bytes.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
  int BookmarkSize() const { return bookmark_size_; }

  // --- Searching
  // The defaults scan the records in order (with controls disabled) and compare field values:
  // strings with loCaseInsensitive / loPartialKey (prefix), other kinds by value; Null matches
  // Null. `key_values` is one value or a variant array with one element per key field.
  virtual bool Locate(const std::string& key_fields, const Variant& key_values,
                      TLocateOptions options);
  // The result field(s) of the first matching record (Null when none); the position is kept.
  virtual Variant Lookup(const std::string& key_fields, const Variant& key_values,
                         const std::string& result_fields);
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  bool Found() const { return found_; }
  // Moves to the next record (forward or backward, from an end when `restart`) that the current
  // filter condition accepts; the default answers false.
  virtual bool FindRecord(bool restart, bool go_forward);

  // --- Filtering
  // The defaults store the values; a dataset class applies them (filtering happens in its
  // GetRecord, which may use RecordFilterAccepts).
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  virtual void SetFilterText(const std::string& text);
  TFilterOptions FilterOptions() const { return filter_options_; }
  void SetFilterOptions(TFilterOptions options);
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler);

  // --- Controls and events
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }
  // Broadcasts an event to the data sources (and through them to the data links), updating
  // the modified flag and calculated fields on field changes. `info` is a TField* for field
  // events and a distance for deDataSetScroll.
  virtual void DataEvent(TDataEvent event, std::intptr_t info);
  // True when this dataset is `source`'s dataset or a master of it, directly or through other
  // datasets (used to refuse circular master-detail links).
  bool IsLinkedTo(const TDataSource* source) const;
  // The data source of this dataset's master, if any.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  // The dataset creates a blob stream for a field in the given mode; the caller owns it.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  bool IsSequenced() const { return GetIsSequenced(); }

  void Loaded() override;

  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

 protected:
  // --- Operations a dataset class supplies (defaults do nothing / answer "no").
  virtual TRecordBuffer AllocRecordBuffer() { return nullptr; }
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) { buffer = nullptr; }
  virtual int GetRecordSize() const { return 0; }
  virtual void InternalInitRecord(TRecordBuffer) {}
  virtual TGetResult GetRecord(TRecordBuffer, TGetMode, bool) { return grError; }
  virtual void InternalOpen() {}
  virtual void InternalClose() {}
  virtual bool IsCursorOpen() const { return false; }
  virtual void InternalInitFieldDefs() {}
  virtual void InternalFirst() {}
  virtual void InternalLast() {}
  virtual void InternalSetToRecord(TRecordBuffer) {}
  virtual void InternalGotoBookmark(const std::uint8_t* /*bookmark*/) {}
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer) const { return bfCurrent; }
  virtual void SetBookmarkFlag(TRecordBuffer, TBookmarkFlag) {}
  // `data` points to BookmarkSize() bytes (either may be null).
  virtual void GetBookmarkData(TRecordBuffer, void* /*data*/) const {}
  virtual void SetBookmarkData(TRecordBuffer, const void* /*data*/) {}
  virtual TBookmarkStr GetBookmarkStr() const;
  virtual void SetBookmarkStr(const TBookmarkStr& bookmark);
  virtual int GetRecordCount() const { return -1; }
  virtual int GetRecNo() const { return -1; }
  virtual bool GetIsSequenced() const { return false; }

 public:
  // Field values of the record the dataset's state addresses (public so field objects and
  // blob streams can reach them).
  virtual bool GetFieldData(TField* field, void* buffer) const;
  virtual void SetFieldData(TField* field, const void* buffer);

 protected:
  virtual void InternalEdit() {}
  virtual void InternalCancel() {}
  // The default refuses a record whose Required data fields are null
  // ("Field '<name>' must have a value").
  virtual void InternalPost();
  virtual void InternalAddRecord(TRecordBuffer buffer, bool append);
  virtual void InternalDelete() {}
  virtual void InternalRefresh() {}
  virtual bool GetCanModify() const { return true; }
  virtual void InternalHandleException();
  virtual void ClearCalcFields(TRecordBuffer) {}
  // Computes lookup fields and runs OnCalcFields for the buffer (in the calc-fields state).
  virtual void CalculateFields(TRecordBuffer buffer);
  virtual void UpdateIndexDefs() {}
  virtual void DoOnNewRecord();
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();

  // --- Helpers for dataset classes
  void CreateFields();
  void DestroyFields();
  // Binding computes FieldNo of data fields from FieldDefs (raising for a missing definition
  // or a type mismatch) and the calculated-field layout (CalcFieldsSize, offsets).
  void BindFields(bool binding);
  int CalcFieldsSize() const { return calc_fields_size_; }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  // Sets the state, fires deUpdateState and clears Modified when it changes.
  void SetState(TDataSetState value);
  // A passing state (calc-fields, filter, old-value, ...) without notifications; returns the
  // previous state for RestoreState.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState previous);
  void SetModified(bool value) { modified_ = value; }
  void CheckCanModify() const;
  // Clears the buffer's calculated fields and computes them (calc-fields state, CalcBuffer set)
  // when the dataset has calculated or lookup fields.
  void GetCalcFields(TRecordBuffer buffer);
  TRecordBuffer ActiveBuffer() const;
  // The spare buffer beyond the active ones, free for a dataset's own use.
  TRecordBuffer TempBuffer() const;
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  TRecordBuffer Buffers(int index) const { return buffers_.at(static_cast<std::size_t>(index)); }
  int ActiveRecord() const { return active_record_; }
  int CurrentRecord() const { return current_record_; }
  // Records held in the ring (not the dataset's record count).
  int BufferedRecordCount() const { return record_count_; }
  void SetBufferCount(int value);
  void UpdateBufferCount();
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void SetCurrentRecord(int index);
  // Runs `operation` with the cursor on the active record; an EDatabaseError goes to the error
  // event: retry runs it again, abort raises EAbort, fail re-raises.
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& event);

  void DoBeforeScroll();
  void DoAfterScroll();
  // Runs OnFilterRecord for a buffer the dataset has just fetched, with the dataset in the
  // filter state and `buffer` recorded as FilterBuffer() (where GetFieldData should read).
  // True when Filtered is off or no handler is assigned.
  bool RecordFilterAccepts(TRecordBuffer buffer);
  TRecordBuffer FilterBuffer() const { return filter_buffer_; }

 private:
  friend class TField;
  friend class TFields;
  friend class TDataSource;
  friend class TDataLink;
  friend class TFieldDefs;
  friend class TIndexDefs;

  void DoInternalOpen();
  void OpenCursorComplete();
  void BeginInsertAppend();
  void EndInsertAppend();
  void FreeFieldBuffers();
  void MoveBuffer(int from, int to);
  void SetBufListSize(int size);
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }
  void NotifyDataSources(TDataEvent event, std::intptr_t info);
  bool MatchesKeys(const std::vector<TField*>& fields, const std::vector<Variant>& keys,
                   TLocateOptions options) const;
  bool LocateQuietly(const std::vector<TField*>& fields, const std::vector<Variant>& keys,
                     TLocateOptions options);

  TDataSetState state_ = dsInactive;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
  bool modified_ = false;
  bool default_fields_ = false;
  bool internal_open_complete_ = false;
  bool auto_calc_fields_ = true;
  bool streamed_active_ = false;
  bool bof_ = true;
  bool eof_ = true;
  bool found_ = false;
  bool filtered_ = false;
  std::string filter_text_;
  TFilterOptions filter_options_;
  TFilterRecordEvent on_filter_record_;
  int disable_count_ = 0;
  int temp_state_depth_ = 0;
  int bookmark_size_ = 0;
  int calc_fields_size_ = 0;
  int calc_field_count_ = 0;
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  std::vector<TRecordBuffer> buffers_;
  TRecordBuffer calc_buffer_ = nullptr;
  TRecordBuffer filter_buffer_ = nullptr;
  int scroll_events_suppressed_ = 0;
  std::unique_ptr<TFieldDefs> field_defs_;
  TFields fields_;
  std::vector<TDataSource*> data_sources_;
};

}  // namespace ds

#include <algorithm>
#include <cstring>
#include <exception>

#include "core/scope_exit.h"
#include "dataset/db.h"
#include "internal.h"
#include "platform/hooks.h"

namespace ds {

namespace {

using detail::IsEditMode;

bool CompatibleTypes(TFieldType def, TFieldType field) {
  if (def == field) return true;
  auto text = [](TFieldType t) { return t == ftString || t == ftFixedChar; };
  auto integer = [](TFieldType t) { return t == ftInteger || t == ftAutoInc; };
  return (text(def) && text(field)) || (integer(def) && integer(field)) ||
         (IsBlobType(def) && IsBlobType(field));
}

// Restores a passing state however the block is left.
class TempState {
 public:
  TempState(TDataSet& dataset, TDataSetState state, TDataSetState (TDataSet::*set)(TDataSetState),
            void (TDataSet::*restore)(TDataSetState))
      : dataset_(dataset), restore_(restore), previous_((dataset.*set)(state)) {}
  ~TempState() { (dataset_.*restore_)(previous_); }

 private:
  TDataSet& dataset_;
  void (TDataSet::*restore_)(TDataSetState);
  TDataSetState previous_;
};

}  // namespace

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner), field_defs_(std::make_unique<TFieldDefs>(this)), fields_(this) {}

TDataSet::~TDataSet() {
  Destroying();
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_)) {
    source->dataset_ = nullptr;
    source->UpdateState();
  }
  data_sources_.clear();
  // Default fields are owned by this component and deleted after this body; persistent fields
  // owned elsewhere stay alive without a dataset.
  for (TField* f : fields_.list_) f->dataset_ = nullptr;
  fields_.list_.clear();
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TDataSet::SetActive(bool value) {
  if (ComponentState().Contains(csReading)) {
    streamed_active_ = value;
    return;
  }
  if (Active() == value) return;
  if (value) {
    Fire(BeforeOpen);
    internal_open_complete_ = false;
    {
      // A half-open cursor is closed again so that the dataset stays plainly closed; the
      // error that stopped the opening is the one reported.
      core::OnFailure close_again([this] {
        try {
          CloseCursor();
        } catch (...) {
        }
      });
      OpenCursor(false);
    }
    OpenCursorComplete();
  } else {
    bool destroying = ComponentState().Contains(csDestroying);
    if (!destroying) Fire(BeforeClose);
    SetState(dsInactive);
    CloseCursor();
    if (!destroying) Fire(AfterClose);
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query)
    InternalInitFieldDefs();
  else
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  default_fields_ = FieldCount() == 0;
  InternalOpen();
  internal_open_complete_ = true;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::OpenCursorComplete() {
  SetState(dsBrowse);
  Fire(AfterOpen);
  if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::CloseCursor() {
  internal_open_complete_ = false;
  FreeFieldBuffers();
  ClearBuffers();
  SetBufListSize(0);
  buffer_count_ = 0;
  InternalClose();
  default_fields_ = false;
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
    return;
  }
  try {
    OpenCursor(true);
  } catch (...) {
    CloseCursor();
    throw;
  }
  CloseCursor();
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (!streamed_active_) return;
  try {
    SetActive(true);
  } catch (...) {
    if (!ComponentState().Contains(csDesigning)) throw;
    InternalHandleException();
  }
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset", this);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
}

void TDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
}

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState previous = state_;
  state_ = value;
  ++temp_state_depth_;
  return previous;
}

void TDataSet::RestoreState(TDataSetState previous) {
  state_ = previous;
  if (temp_state_depth_ > 0) --temp_state_depth_;
}

void TDataSet::InternalHandleException() {
  platform::HandleApplicationException(std::current_exception());
}

// ---------------------------------------------------------------------------------------------
// Fields

void TDataSet::SetFieldDefs(const TFieldDefs& defs) {
  CheckInactive();
  field_defs_->Assign(defs);
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_->Count(); ++i) {
    const TFieldDef& def = field_defs_->Items(i);
    if (def.DataType() == ftUnknown || def.Attributes().Contains(faHiddenCol)) continue;
    def.CreateField(this, this);
  }
}

void TDataSet::DestroyFields() {
  std::vector<TField*> list = fields_.list_;
  for (TField* f : list) {
    if (f->Owner() == this || f->Owner() == nullptr) {
      delete f;
    } else {
      f->dataset_ = nullptr;
      fields_.Remove(f);
    }
  }
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  calc_field_count_ = 0;
  for (TField* f : fields_.list_) {
    if (!binding) continue;
    if (f->field_kind_ == fkCalculated || f->field_kind_ == fkLookup) {
      f->field_no_ = 0;
      f->offset_ = calc_fields_size_;
      calc_fields_size_ += f->DataSize() + 1;
      ++calc_field_count_;
      continue;
    }
    if (f->field_kind_ != fkData && f->field_kind_ != fkInternalCalc) continue;
    TFieldDef* def = field_defs_->FindDef(f->FieldName());
    if (def == nullptr) DatabaseError("Field '" + f->FieldName() + "' not found", this);
    if (!CompatibleTypes(def->DataType(), f->DataType()))
      DatabaseError("Type mismatch for field '" + f->FieldName() + "', expecting: " +
                        FieldTypeName(f->DataType()) + " actual: " + FieldTypeName(def->DataType()),
                    this);
    f->field_no_ = def->FieldNo();
  }
}

std::vector<TField*> TDataSet::GetFieldList(std::string_view names) const {
  std::vector<TField*> list;
  for (const std::string& name : detail::SplitNames(names)) list.push_back(&FieldByName(name));
  return list;
}

std::vector<std::string> TDataSet::GetFieldNames() const {
  std::vector<std::string> names;
  if (!fields_.Empty()) {
    for (TField* f : fields_) names.push_back(f->FieldName());
  } else {
    for (int i = 0; i < field_defs_->Count(); ++i) names.push_back(field_defs_->Items(i).Name());
  }
  return names;
}

Variant TDataSet::FieldValues(std::string_view names) const {
  std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1) return list[0]->Value();
  std::vector<Variant> values;
  values.reserve(list.size());
  for (TField* f : list) values.push_back(f->Value());
  return Variant::FromArray(std::move(values));
}

void TDataSet::SetFieldValues(std::string_view names, const Variant& values) {
  std::vector<TField*> list = GetFieldList(names);
  if (list.size() == 1 && !(values.Type() == core::VarType::Array)) {
    list[0]->SetValue(values);
    return;
  }
  const auto& elements = values.Elements();
  if (elements.size() != list.size())
    DatabaseError("Number of values does not match the number of fields", this);
  for (std::size_t i = 0; i < list.size(); ++i) list[i]->SetValue(elements[i]);
}

bool TDataSet::GetFieldData(TField*, void*) const {
  return false;
}
void TDataSet::SetFieldData(TField*, const void*) {}
bool TDataSet::GetCurrentRecord(TRecordBuffer) {
  return false;
}
std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) {
  return nullptr;
}

void TDataSet::FreeFieldBuffers() {
  for (TField* f : fields_.list_) f->FreeBuffers();
}

// ---------------------------------------------------------------------------------------------
// The buffer ring

TRecordBuffer TDataSet::ActiveBuffer() const {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<std::size_t>(active_record_)];
}

TRecordBuffer TDataSet::TempBuffer() const {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<std::size_t>(record_count_)];
}

void TDataSet::SetBufListSize(int size) {
  while (static_cast<int>(buffers_.size()) > size) {
    TRecordBuffer b = buffers_.back();
    buffers_.pop_back();
    FreeRecordBuffer(b);
  }
  buffers_.reserve(static_cast<std::size_t>(std::max(size, 0)));
  while (static_cast<int>(buffers_.size()) < size) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::SetBufferCount(int value) {
  if (value == buffer_count_) return;
  bool had_records = record_count_ > 0;
  if (value < buffer_count_ && record_count_ > 0) {
    // Keep the records the links look at, and the active one, inside the smaller ring.
    int delta = active_record_;
    for (TDataSource* source : data_sources_)
      for (TDataLink* link : source->links_) delta = std::min(delta, link->first_record_);
    delta = std::max(delta, active_record_ - value + 1);
    for (int i = 0; i < value; ++i)
      if (i + delta < static_cast<int>(buffers_.size())) MoveBuffer(i + delta, i);
    active_record_ -= delta;
    if (current_record_ != -1) current_record_ -= delta;
    if (current_record_ >= value) current_record_ = -1;
    record_count_ = std::min(record_count_ - delta, value);
    for (TDataSource* source : data_sources_)
      for (TDataLink* link : source->links_)
        link->first_record_ = std::max(0, link->first_record_ - delta);
  }
  SetBufListSize(value + 1);
  buffer_count_ = value;
  if (!ComponentState().Contains(csDestroying)) {
    GetNextRecords();
    if (had_records && record_count_ < buffer_count_) GetPriorRecords();
  }
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int count = 1;
  for (TDataSource* source : data_sources_)
    for (TDataLink* link : source->links_) count = std::max(count, link->BufferCount());
  SetBufferCount(count);
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  TRecordBuffer buffer = buffers_[static_cast<std::size_t>(from)];
  if (from < to)
    std::copy(buffers_.begin() + from + 1, buffers_.begin() + to + 1, buffers_.begin() + from);
  else
    std::copy_backward(buffers_.begin() + to, buffers_.begin() + from, buffers_.begin() + from + 1);
  buffers_[static_cast<std::size_t>(to)] = buffer;
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  TRecordBuffer buffer = buffers_[static_cast<std::size_t>(index)];
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    // A record inserted in place of the current one: the cursor record itself comes next.
    if (state_ == dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  TGetResult result = GetRecord(buffers_[static_cast<std::size_t>(record_count_)], mode, true);
  if (result == grError) {
    CursorPosChanged();
    DatabaseError("Record not found", this);
  }
  if (result != grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else if (record_count_ < buffer_count_) {
    ++record_count_;
  } else {
    MoveBuffer(0, record_count_);
  }
  current_record_ = record_count_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  TGetResult result = GetRecord(buffers_[static_cast<std::size_t>(record_count_)], gmPrior, true);
  if (result == grError) {
    CursorPosChanged();
    DatabaseError("Record not found", this);
  }
  if (result != grOK) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(record_count_, 0);
    if (record_count_ < buffer_count_) {
      ++record_count_;
      ++active_record_;
    }
  }
  current_record_ = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++n;
  return n;
}

int TDataSet::GetPriorRecords() {
  int n = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::Resync(TResyncMode mode) {
  TRecordBuffer spare = buffers_[static_cast<std::size_t>(record_count_)];
  if (mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError("Record not found", this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK &&
             GetRecord(spare, gmNext, false) != grOK && GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int count = mode.Contains(rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

// ---------------------------------------------------------------------------------------------
// Navigation

void TDataSet::DoBeforeScroll() {
  if (scroll_events_suppressed_ == 0) Fire(BeforeScroll);
}

void TDataSet::DoAfterScroll() {
  if (scroll_events_suppressed_ == 0) Fire(AfterScroll);
}

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    if (GetNextRecord()) GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    if (GetPriorRecord()) GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int result = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int scroll_count = 0;
    // Links shift their windows by the number of records the ring rotated.
    auto finish = [&] { DataEvent(deDataSetScroll, scroll_count); };
    try {
      while (distance > 0) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else {
          int shift = record_count_ < buffer_count_ ? 0 : 1;
          if (GetNextRecord()) {
            scroll_count -= shift;
            if (shift == 0) active_record_ = record_count_ - 1;
          } else {
            eof_ = true;
            break;
          }
        }
        --distance;
        ++result;
      }
      while (distance < 0) {
        if (active_record_ > 0) {
          --active_record_;
        } else {
          int shift = record_count_ < buffer_count_ ? 0 : 1;
          if (GetPriorRecord()) {
            scroll_count += shift;
            active_record_ = 0;
          } else {
            bof_ = true;
            break;
          }
        }
        ++distance;
        --result;
      }
    } catch (...) {
      finish();
      throw;
    }
    finish();
  }
  DoAfterScroll();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Calculated fields and filtering

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_field_count_ == 0 || buffer == nullptr) return;
  TRecordBuffer saved = calc_buffer_;
  TempState temp(*this, dsCalcFields, &TDataSet::SetTempState, &TDataSet::RestoreState);
  calc_buffer_ = buffer;
  core::ScopeExit restore([this, saved] { calc_buffer_ = saved; });
  ClearCalcFields(buffer);
  CalculateFields(buffer);
}

void TDataSet::CalculateFields(TRecordBuffer) {
  for (TField* f : fields_.list_) {
    if (f->FieldKind() != fkLookup) continue;
    TDataSet* other = f->LookupDataSet();
    if (other == nullptr || !other->Active()) continue;
    Variant keys = FieldValues(f->KeyFields());
    f->SetValue(other->Lookup(f->LookupKeyFields(), keys, f->LookupResultField()));
  }
  Fire(OnCalcFields);
}

bool TDataSet::RecordFilterAccepts(TRecordBuffer buffer) {
  if (!filtered_ || !on_filter_record_) return true;
  TRecordBuffer saved = filter_buffer_;
  TempState temp(*this, dsFilter, &TDataSet::SetTempState, &TDataSet::RestoreState);
  filter_buffer_ = buffer;
  core::ScopeExit restore([this, saved] { filter_buffer_ = saved; });
  bool accept = true;
  on_filter_record_(this, accept);
  return accept;
}

void TDataSet::SetFiltered(bool value) {
  filtered_ = value;
}
void TDataSet::SetFilterText(const std::string& text) {
  filter_text_ = text;
}
void TDataSet::SetFilterOptions(TFilterOptions options) {
  filter_options_ = options;
}
void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  on_filter_record_ = std::move(handler);
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

bool TDataSet::BookmarkAvailable() const {
  return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() const {
  if (bookmark_size_ <= 0 || !BookmarkAvailable()) return {};
  TBookmark bookmark(static_cast<std::size_t>(bookmark_size_));
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

TBookmarkStr TDataSet::GetBookmarkStr() const {
  if (bookmark_size_ <= 0 || !BookmarkAvailable()) return {};
  TBookmarkStr bookmark(static_cast<std::size_t>(bookmark_size_), '\0');
  GetBookmarkData(ActiveBuffer(), bookmark.data());
  return bookmark;
}

void TDataSet::SetBookmarkStr(const TBookmarkStr& bookmark) {
  GotoBookmark(TBookmark(bookmark.begin(), bookmark.end()));
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) {
  return false;
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c == 0) c = a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------
// Controls and events

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ == 0) {
    if (disable_state_ != state_) DataEvent(deUpdateState, 0);
    if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_, 0);
  }
}

void TDataSet::DataEvent(TDataEvent event, std::intptr_t info) {
  bool notify = disable_count_ == 0 && temp_state_depth_ == 0 && state_ != dsBlockRead;
  switch (event) {
    case deFieldChange: {
      auto* field = reinterpret_cast<TField*>(info);
      if (field == nullptr) break;
      if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) modified_ = true;
      if (state_ != dsSetKey) {
        if (calc_field_count_ > 0 && auto_calc_fields_ && field->FieldKind() == fkData &&
            (state_ == dsEdit || state_ == dsInsert))
          GetCalcFields(ActiveBuffer());
        field->Change();
      }
      break;
    }
    case dePropertyChange:
      field_defs_->SetUpdated(false);
      break;
    default:
      break;
  }
  if (notify)
    NotifyDataSources(event, info);
  else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange)
    enable_event_ = deLayoutChange;
}

void TDataSet::NotifyDataSources(TDataEvent event, std::intptr_t info) {
  if (data_sources_.empty()) return;
  for (TDataSource* source : std::vector<TDataSource*>(data_sources_))
    source->DataEvent(event, info);
}

bool TDataSet::IsLinkedTo(const TDataSource* source) const {
  // Bounded, so that a chain that already loops elsewhere cannot hang the check.
  for (int steps = 0; source != nullptr && steps < 4096; ++steps) {
    const TDataSet* dataset = source->DataSet();
    if (dataset == nullptr) break;
    if (dataset == this) return true;
    source = dataset->GetDataSource();
  }
  return false;
}

}  // namespace ds

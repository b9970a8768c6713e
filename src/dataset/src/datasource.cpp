#include <algorithm>

#include "dataset/db.h"
#include "internal.h"

namespace ds {

// ---------------------------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  Destroying();
  for (TDataLink* link : std::vector<TDataLink*>(links_)) {
    link->data_source_ = nullptr;
    link->UpdateState();
  }
  links_.clear();
  if (dataset_ != nullptr) {
    auto& list = dataset_->data_sources_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    TDataSet* old = dataset_;
    dataset_ = nullptr;
    if (!old->ComponentState().Contains(csDestroying)) old->UpdateBufferCount();
  }
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset != nullptr && IsLinkedTo(dataset))
    DatabaseError("Circular datalinks are not allowed", this);
  if (dataset_ != nullptr) {
    auto& list = dataset_->data_sources_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    RemoveFreeNotification(dataset_);
    TDataSet* old = dataset_;
    dataset_ = nullptr;
    old->UpdateBufferCount();
  }
  dataset_ = dataset;
  if (dataset_ != nullptr) {
    dataset_->data_sources_.push_back(this);
    FreeNotification(dataset_);
    dataset_->UpdateBufferCount();
  }
  UpdateState();
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == dataset_) SetDataSet(nullptr);
}

void TDataSource::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  UpdateState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_ != nullptr) dataset_->Edit();
}

bool TDataSource::IsLinkedTo(const TDataSet* dataset) const {
  for (int steps = 0; dataset != nullptr && steps < 4096; ++steps) {
    const TDataSource* source = dataset->GetDataSource();
    if (source == nullptr) break;
    if (source == this) return true;
    dataset = source->DataSet();
  }
  return false;
}

void TDataSource::UpdateState() {
  TDataSetState state = (enabled_ && dataset_ != nullptr) ? dataset_->State() : dsInactive;
  if (state == state_) return;
  bool was_editing = state_ == dsEdit || state_ == dsInsert;
  state_ = state;
  if (was_editing && dataset_ != nullptr && dataset_->ComponentState().Contains(csDestroying))
    return;
  NotifyLinks(deUpdateState, 0);
  if (OnStateChange) OnStateChange(this);
}

void TDataSource::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyLinks(event, info);
  switch (event) {
    case deFieldChange:
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange)
        OnDataChange(this, event == deFieldChange ? reinterpret_cast<TField*>(info) : nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default:
      break;
  }
}

void TDataSource::NotifyLinks(TDataEvent event, std::intptr_t info) {
  for (TDataLink* link : std::vector<TDataLink*>(links_)) {
    // A link may have left while an earlier one was told.
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) link->DataEvent(event, info);
  }
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
  if (dataset_ != nullptr && !dataset_->ComponentState().Contains(csDestroying))
    dataset_->UpdateBufferCount();
}

// ---------------------------------------------------------------------------------------------
// TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this);
  data_source_ = nullptr;
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == data_source_) return;
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this);
  data_source_ = source;
  if (data_source_ != nullptr) data_source_->AddDataLink(this);
  UpdateState();
}

TDataSet* TDataLink::DataSet() const {
  return data_source_ ? data_source_->DataSet() : nullptr;
}

void TDataLink::SetReadOnly(bool value) {
  if (read_only_ == value) return;
  read_only_ = value;
  UpdateState();
}

void TDataLink::SetBufferCount(int value) {
  if (value < 1) value = 1;
  if (value == buffer_count_) return;
  buffer_count_ = value;
  TDataSet* dataset = DataSet();
  if (active_ && dataset != nullptr) {
    dataset->UpdateBufferCount();
    UpdateRange();
  }
}

int TDataLink::ActiveRecord() const {
  TDataSet* dataset = DataSet();
  if (!active_ || dataset == nullptr) return 0;
  return dataset->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int value) {
  TDataSet* dataset = DataSet();
  if (!active_ || dataset == nullptr) return;
  int target = first_record_ + value;
  if (target >= 0 && target < dataset->record_count_) dataset->active_record_ = target;
}

int TDataLink::RecordCount() const {
  TDataSet* dataset = DataSet();
  if (!active_ || dataset == nullptr) return 0;
  int count = dataset->record_count_ - first_record_;
  return std::clamp(count, 0, buffer_count_);
}

bool TDataLink::Eof() const {
  return active_ && DataSet()->Eof();
}
bool TDataLink::Bof() const {
  return active_ && DataSet()->Bof();
}

bool TDataLink::Edit() {
  if (!read_only_ && data_source_ != nullptr) data_source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::UpdateRange() {
  TDataSet* dataset = DataSet();
  if (dataset == nullptr) return;
  int min = std::max(0, dataset->active_record_ - buffer_count_ + 1);
  int max = std::max(0, dataset->buffer_count_ - buffer_count_);
  max = std::min(max, dataset->active_record_);
  first_record_ = std::clamp(first_record_, min, std::max(min, max));
}

void TDataLink::SetActive(bool value) {
  if (active_ == value) return;
  active_ = value;
  if (value)
    UpdateRange();
  else
    first_record_ = 0;
  ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
  if (editing_ == value) return;
  editing_ = value;
  EditingChanged();
}

void TDataLink::UpdateState() {
  bool active =
      data_source_ != nullptr && data_source_->Enabled() && data_source_->State() != dsInactive;
  SetActive(active);
  TDataSetState state = data_source_ ? data_source_->State() : dsInactive;
  SetEditing(active && !read_only_ && (state == dsEdit || state == dsInsert || state == dsSetKey));
}

void TDataLink::DataEvent(TDataEvent event, std::intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int count = 0;
      TDataSet* dataset = DataSet();
      if (dataset != nullptr && data_source_->State() != dsSetKey) {
        int active = dataset->active_record_;
        int first = first_record_ + (event == deDataSetScroll ? static_cast<int>(info) : 0);
        int last = first + buffer_count_ - 1;
        if (active > last)
          count = active - last;
        else if (active < first)
          count = active - first;
        first_record_ = std::max(0, first + count);
      }
      if (event == deDataSetChange)
        DataSetChanged();
      else if (event == deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord:
      UpdateRecord();
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    case deFocusControl:
      FocusControl(reinterpret_cast<TField**>(info));
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// TMasterDataLink

TMasterDataLink::TMasterDataLink(TDataSet* detail) : detail_(detail) {}

void TMasterDataLink::SetFieldNames(const std::string& names) {
  if (names == field_names_) return;
  field_names_ = names;
  ActiveChanged();
}

void TMasterDataLink::ActiveChanged() {
  fields_.clear();
  if (Active() && DataSet() != nullptr) {
    try {
      fields_ = DataSet()->GetFieldList(field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
  if (detail_ != nullptr && detail_->Active() &&
      !detail_->ComponentState().Contains(csDestroying)) {
    if (Active() && !fields_.empty())
      DoMasterChange();
    else
      DoMasterDisable();
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ != nullptr && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() {
  ActiveChanged();
}

void TMasterDataLink::RecordChanged(TField* field) {
  if (DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
  if (detail_ == nullptr || !detail_->Active() || fields_.empty()) return;
  if (field == nullptr || std::find(fields_.begin(), fields_.end(), field) != fields_.end())
    DoMasterChange();
}

void TMasterDataLink::DoMasterChange() {
  if (OnMasterChange) OnMasterChange(detail_);
}

void TMasterDataLink::DoMasterDisable() {
  if (OnMasterDisable) OnMasterDisable(detail_);
}

}  // namespace ds

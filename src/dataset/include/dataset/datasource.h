// Data sources and data links: how controls and detail datasets follow a dataset.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dataset/dataset.h"

namespace ds {

// ---------------------------------------------------------------------------------------------
// Data sources and links

using TDataChangeEvent = std::function<void(TDataSource* sender, TField* field)>;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner = nullptr);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool value) { auto_edit_ = value; }
  // The dataset's state, or dsInactive without a dataset or while disabled.
  TDataSetState State() const { return state_; }
  // Puts the dataset into edit state when AutoEdit allows and it is browsing.
  void Edit();
  bool IsLinkedTo(const TDataSet* dataset) const;
  int DataLinkCount() const { return static_cast<int>(links_.size()); }

  void Notification(TComponent* component, TOperation operation) override;

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void NotifyLinks(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

// The connection of a control (or of a detail dataset) to a data source. A link sees a window
// of BufferCount() records of the dataset's ring; ActiveRecord() is relative to that window.
class TDataLink {
 public:
  TDataLink();
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const;
  // The source is enabled and its dataset open.
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int value);
  int ActiveRecord() const;
  void SetActiveRecord(int value);
  int RecordCount() const;
  bool Eof() const;
  bool Bof() const;
  // Puts the dataset into edit state (through the source); true when it is editing afterwards.
  bool Edit();
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField** /*field*/) {}
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent event, std::intptr_t info);
  void UpdateState();
  void SetActive(bool value);
  void SetEditing(bool value);
  void UpdateRange();

  TDataSource* data_source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
  int buffer_count_ = 1;
  int first_record_ = 0;
};

// The link of a detail dataset to its master: it keeps the master fields named in FieldNames
// and calls OnMasterChange when the master scrolls or one of those fields changes, and
// OnMasterDisable when the link goes inactive.
class TMasterDataLink : public TDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail);
  TDataSet* DetailDataSet() const { return detail_; }
  const std::string& FieldNames() const { return field_names_; }
  void SetFieldNames(const std::string& names);
  const std::vector<TField*>& Fields() const { return fields_; }

  TNotifyEvent OnMasterChange;
  TNotifyEvent OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;

 private:
  void DoMasterChange();
  void DoMasterDisable();
  TDataSet* detail_;
  std::string field_names_;
  std::vector<TField*> fields_;
};

}  // namespace ds

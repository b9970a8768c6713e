#include "memory_dataset.h"

#include <algorithm>

namespace dstest {

namespace {

bool IsCalc(const TField* f) {
  return f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup;
}

}  // namespace

TMemoryDataset::Record* TMemoryDataset::StateRecord() const {
  switch (State()) {
    case dsBrowse:
    case dsBlockRead:
      return IsEmpty() ? nullptr : &Rec(ActiveBuffer());
    case dsEdit:
    case dsInsert:
    case dsNewValue:
    case dsCurValue:
      return &Rec(ActiveBuffer());
    case dsCalcFields:
      return CalcBuffer() ? &Rec(CalcBuffer()) : nullptr;
    case dsFilter:
      return FilterBuffer() ? &Rec(FilterBuffer()) : nullptr;
    case dsOldValue:
      if (old_) return const_cast<Record*>(&*old_);
      return IsEmpty() ? nullptr : &Rec(ActiveBuffer());
    default:
      return nullptr;
  }
}

bool TMemoryDataset::GetFieldData(TField* field, void* buffer) const {
  Record* rec = StateRecord();
  if (rec == nullptr) return false;
  if (IsCalc(field)) {
    const std::uint8_t* at = rec->calc.data() + field->Offset();
    if (at[0] == 0) return false;
    if (buffer) std::memcpy(buffer, at + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }
  const auto& value = rec->values.at(static_cast<std::size_t>(field->FieldNo() - 1));
  if (!value) return false;
  if (field->IsBlob()) return !value->empty();
  if (buffer) {
    if (field->DataType() == ftString || field->DataType() == ftFixedChar) {
      std::memcpy(buffer, value->data(), value->size());
      static_cast<char*>(buffer)[value->size()] = '\0';
    } else {
      std::memcpy(buffer, value->data(), value->size());
    }
  }
  return true;
}

void TMemoryDataset::SetFieldData(TField* field, const void* buffer) {
  Record* rec = StateRecord();
  if (rec == nullptr) DatabaseError("No current record", this);
  if (field->ReadOnly() && !IsCalc(field) && State() != dsSetKey)
    DatabaseError("Field '" + field->DisplayName() + "' cannot be modified", this);
  field->Validate(buffer);
  if (IsCalc(field)) {
    std::uint8_t* at = rec->calc.data() + field->Offset();
    at[0] = buffer ? 1 : 0;
    if (buffer) std::memcpy(at + 1, buffer, static_cast<std::size_t>(field->DataSize()));
  } else {
    auto& value = rec->values.at(static_cast<std::size_t>(field->FieldNo() - 1));
    if (buffer == nullptr) {
      value.reset();
    } else if (field->DataType() == ftString || field->DataType() == ftFixedChar) {
      value = std::string(static_cast<const char*>(buffer));
    } else {
      value = std::string(static_cast<const char*>(buffer),
                          static_cast<std::size_t>(field->DataSize()));
    }
  }
  if (State() != dsCalcFields && State() != dsFilter && State() != dsNewValue &&
      State() != dsInternalCalc)
    DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(field));
}

bool TMemoryDataset::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || buffer == nullptr) return false;
  Rec(buffer) = Rec(ActiveBuffer());
  return true;
}

bool TMemoryDataset::Accepts(const Row& row) const {
  if (!Filtered() || !OnFilterRecord()) return true;
  scratch_.row_id = row.id;
  scratch_.values = row.values;
  scratch_.calc.assign(static_cast<std::size_t>(CalcFieldsSize()), 0);
  auto* self = const_cast<TMemoryDataset*>(this);
  self->GetCalcFields(reinterpret_cast<TRecordBuffer>(&scratch_));
  return self->RecordFilterAccepts(reinterpret_cast<TRecordBuffer>(&scratch_));
}

TGetResult TMemoryDataset::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  const int n = static_cast<int>(rows_.size());
  for (;;) {
    if (mode == gmNext) {
      if (cursor_ < n) ++cursor_;
      if (cursor_ >= n) return grEOF;
    } else if (mode == gmPrior) {
      if (cursor_ >= 0) --cursor_;
      if (cursor_ < 0) return grBOF;
    } else if (cursor_ < 0 || cursor_ >= n) {
      return grError;
    }
    const Row& row = rows_[static_cast<std::size_t>(cursor_)];
    Record& rec = Rec(buffer);
    rec.row_id = row.id;
    rec.flag = bfCurrent;
    rec.values = row.values;
    rec.values.resize(static_cast<std::size_t>(FieldDefs().Count()));
    if (rec.calc.size() != static_cast<std::size_t>(CalcFieldsSize()))
      rec.calc.assign(static_cast<std::size_t>(CalcFieldsSize()), 0);
    GetCalcFields(buffer);
    if (RecordFilterAccepts(buffer)) return grOK;
    if (mode == gmCurrent) return grError;
  }
}

int TMemoryDataset::GetRecordCount() const {
  return static_cast<int>(
      std::count_if(rows_.begin(), rows_.end(), [this](const Row& r) { return Accepts(r); }));
}

int TMemoryDataset::GetRecNo() const {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return -1;
  std::int32_t id = Rec(ActiveBuffer()).row_id;
  int n = 0;
  for (const Row& r : rows_) {
    if (!Accepts(r)) continue;
    ++n;
    if (r.id == id) return n;
  }
  return -1;
}

void TMemoryDataset::SetRecNo(int value) {
  CheckBrowseMode();
  int n = 0;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (!Accepts(rows_[i])) continue;
    if (++n == value) {
      DoBeforeScroll();
      cursor_ = static_cast<int>(i);
      Resync({rmCenter});
      DoAfterScroll();
      return;
    }
  }
}

void TMemoryDataset::InternalPost() {
  TDataSet::InternalPost();
  Record& rec = Rec(ActiveBuffer());
  if (State() == dsEdit) {
    rows_.at(static_cast<std::size_t>(cursor_)).values = rec.values;
  } else {
    Row row{next_id_++, rec.values};
    int at = static_cast<int>(rows_.size());
    if (rec.flag == bfBOF)
      at = 0;
    else if (rec.flag == bfInserted && cursor_ >= 0 && cursor_ < at)
      at = cursor_;
    rows_.insert(rows_.begin() + at, std::move(row));
    cursor_ = at;
  }
  old_.reset();
}

// A stream over one value of the addressed record buffer.
class MemoryBlobStream : public TStream {
 public:
  MemoryBlobStream(TMemoryDataset& ds, TField& field, TBlobStreamMode mode)
      : ds_(ds), field_(field), rec_(ds.StateRecord()) {
    if (rec_ == nullptr) return;
    if (mode != bmRead && ds.read_only) DatabaseError("Cannot write to ReadOnly table!");
    auto& value = Slot();
    if (mode == bmWrite) {
      value.reset();
      modified_ = true;
    } else if (value) {
      data_ = *value;
    }
  }
  ~MemoryBlobStream() override {
    if (modified_) ds_.DataEvent(deFieldChange, reinterpret_cast<std::intptr_t>(&field_));
  }
  std::int32_t Read(void* buffer, std::int32_t count) override {
    auto size = static_cast<std::int64_t>(data_.size());
    if (count <= 0 || pos_ >= size || pos_ < 0) return 0;
    auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, size - pos_));
    std::memcpy(buffer, data_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  std::int32_t Write(const void* buffer, std::int32_t count) override {
    if (rec_ == nullptr) DatabaseError("No current record");
    data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(pos_, 0)));
    data_.append(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    pos_ += count;
    if (data_.empty())
      Slot().reset();
    else
      Slot() = data_;
    modified_ = true;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override {
    if (origin == soFromBeginning) pos_ = offset;
    if (origin == soFromCurrent) pos_ += offset;
    if (origin == soFromEnd) pos_ = static_cast<std::int64_t>(data_.size()) + offset;
    return pos_;
  }

 private:
  std::optional<std::string>& Slot() {
    return rec_->values.at(static_cast<std::size_t>(field_.FieldNo() - 1));
  }
  TMemoryDataset& ds_;
  TField& field_;
  TMemoryDataset::Record* rec_;
  std::string data_;
  std::int64_t pos_ = 0;
  bool modified_ = false;
};

std::unique_ptr<TStream> TMemoryDataset::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<MemoryBlobStream>(*this, *field, mode);
}

std::string TRecordingDataset::StateName(TDataSetState s) {
  switch (s) {
    case dsInactive:
      return "inactive";
    case dsBrowse:
      return "browse";
    case dsEdit:
      return "edit";
    case dsInsert:
      return "insert";
    case dsCalcFields:
      return "calc";
    case dsFilter:
      return "filter";
    default:
      return "other";
  }
}

void Fill(TMemoryDataset& ds, const std::vector<std::vector<Variant>>& rows) {
  ds.Open();
  for (const auto& values : rows) ds.AppendRecord(values);
  ds.First();
}

}  // namespace dstest

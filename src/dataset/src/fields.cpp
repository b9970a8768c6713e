#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/datetime.h"
#include "core/scope_exit.h"
#include "dataset/db.h"
#include "internal.h"

namespace ds {

namespace detail {

std::string LowerUtf8(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

std::size_t CodePointCount(std::string_view s) {
  std::size_t n = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace detail

namespace {

bool InWriteState(TDataSetState state) {
  switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TComponent* owner) : TField(owner, ftUnknown, 0) {}

TField::TField(TComponent* owner, TFieldType type, int size)
    : TComponent(owner), data_type_(type), size_(size), valid_chars_(AllFieldChars()) {}

TField::~TField() {
  if (dataset_ != nullptr) dataset_->fields_.Remove(this);
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (dataset != nullptr) {
    dataset->CheckInactive();
    dataset->fields_.Add(this);  // raises for a duplicate name
  }
  if (dataset_ != nullptr) dataset_->fields_.Remove(this);
  dataset_ = dataset;
}

void TField::SetFieldName(std::string name) {
  if (name == field_name_) return;
  if (dataset_ != nullptr && !name.empty()) {
    TField* other = dataset_->FindField(name);
    if (other != nullptr && other != this)
      DatabaseError("Duplicate field name '" + name + "'", dataset_);
  }
  field_name_ = std::move(name);
}

void TField::SetFieldKind(TFieldKind kind) {
  if (kind == field_kind_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = kind;
}

int TField::Index() const {
  return dataset_ ? dataset_->fields_.IndexOf(this) : -1;
}

void TField::SetSize(int size) {
  if (size < 0) DatabaseError("Invalid field size", dataset_);
  if (dataset_ != nullptr) dataset_->CheckInactive();
  size_ = size;
}

int TField::DataSize() const {
  return 0;
}

void TField::SetDisplayLabel(std::string label) {
  display_label_ = label == field_name_ ? std::string() : std::move(label);
}

int TField::DisplayWidth() const {
  return display_width_ > 0 ? display_width_ : DefaultDisplayWidth();
}
void TField::SetDisplayWidth(int width) {
  display_width_ = width < 0 ? 0 : width;
}

bool TField::CanModify() const {
  return !read_only_ && dataset_ != nullptr && dataset_->CanModify() &&
         (field_kind_ == fkData || field_kind_ == fkInternalCalc);
}

void TField::SetLookupDataSet(TDataSet* dataset) {
  if (dataset == lookup_dataset_) return;
  if (lookup_dataset_ != nullptr) RemoveFreeNotification(lookup_dataset_);
  lookup_dataset_ = dataset;
  if (dataset != nullptr) FreeNotification(dataset);
}

void TField::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == lookup_dataset_) lookup_dataset_ = nullptr;
}

std::uint8_t* TField::Scratch() const {
  std::size_t need = static_cast<std::size_t>(std::max(DataSize(), 1));
  if (scratch_.size() < need) scratch_.assign(need, 0);
  return scratch_.data();
}

void TField::AccessError(const char* type_name) const {
  DatabaseError("Cannot access field '" + DisplayName() + "' as type " + type_name, dataset_);
}

void TField::RangeError(double value, double min, double max) const {
  DatabaseError(core::FloatToText(value) + " is not a valid value for field '" + DisplayName() +
                    "'. The allowed range is " + core::FloatToText(min) + " to " +
                    core::FloatToText(max),
                dataset_);
}

void TField::CheckWriteState() const {
  if (dataset_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  dataset_->CheckActive();
  if (!InWriteState(dataset_->State()))
    DatabaseError("Dataset not in edit or insert mode", dataset_);
}

bool TField::GetData(void* buffer) const {
  if (dataset_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  if (validating_) {
    if (validating_buffer_ == nullptr) return false;
    if (buffer != nullptr && buffer != validating_buffer_)
      std::memmove(buffer, validating_buffer_, static_cast<std::size_t>(DataSize()));
    return true;
  }
  return dataset_->GetFieldData(const_cast<TField*>(this), buffer);
}

void TField::SetData(const void* buffer) {
  CheckWriteState();
  dataset_->SetFieldData(this, buffer);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  struct Guard {
    TField* f;
    ~Guard() {
      f->validating_ = false;
      f->validating_buffer_ = nullptr;
    }
  } guard{this};
  validating_buffer_ = buffer;
  validating_ = true;
  OnValidate(this);
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

bool TField::GetIsNull() const {
  return !GetData(nullptr);
}
void TField::ClearValue() {
  SetData(nullptr);
}
std::string TField::GetAsString() const {
  AccessError("String");
}
bool TField::GetTextUnlessNull(std::string& out) const {
  out.clear();
  if (GetIsNull()) return false;
  out = GetAsString();
  return true;
}
void TField::SetAsStringValue(const std::string&) {
  AccessError("String");
}
std::int32_t TField::GetAsInteger() const {
  AccessError("Integer");
}
void TField::SetAsIntegerValue(std::int32_t) {
  AccessError("Integer");
}
double TField::GetAsFloat() const {
  AccessError("Float");
}
void TField::SetAsFloatValue(double) {
  AccessError("Float");
}
double TField::GetAsCurrency() const {
  return GetAsFloat();
}
void TField::SetAsCurrencyValue(double value) {
  SetAsFloatValue(value);
}
bool TField::GetAsBoolean() const {
  AccessError("Boolean");
}
void TField::SetAsBooleanValue(bool) {
  AccessError("Boolean");
}
double TField::GetAsDateTime() const {
  AccessError("DateTime");
}
void TField::SetAsDateTimeValue(double) {
  AccessError("DateTime");
}
Variant TField::GetAsVariant() const {
  AccessError("Variant");
}

void TField::SetVarValue(const Variant& value) {
  using core::VarType;
  switch (value.Type()) {
    case VarType::Empty:
    case VarType::Null:
      ClearValue();
      return;
    case VarType::Boolean:
      SetAsBooleanValue(value.ToBoolean());
      return;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
      SetAsIntegerValue(value.ToLong());
      return;
    case VarType::Date:
      SetAsDateTimeValue(value.ToDate());
      return;
    case VarType::ByteArray: {
      const auto& bytes = value.Bytes();
      SetAsStringValue(std::string(bytes.begin(), bytes.end()));
      return;
    }
    case VarType::String:
      SetAsStringValue(value.ToString());
      return;
    default:
      SetAsFloatValue(value.ToDouble());
      return;
  }
}

void TField::GetText(std::string& text, bool) const {
  text = GetAsString();
}
void TField::SetTextValue(const std::string& text) {
  SetAsStringValue(text);
}

std::string TField::Text() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, false);
  else
    GetText(text, false);
  return text;
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, true);
  else
    GetText(text, true);
  return text;
}

void TField::SetText(const std::string& text) {
  if (OnSetText)
    OnSetText(this, text);
  else
    SetTextValue(text);
}

Variant TField::StateValue(TDataSetState state) const {
  if (dataset_ == nullptr) DatabaseError("Field '" + DisplayName() + "' has no dataset");
  TDataSetState previous = dataset_->SetTempState(state);
  core::ScopeExit restore([this, previous] { dataset_->RestoreState(previous); });
  return GetAsVariant();
}

Variant TField::OldValue() const {
  return StateValue(dsOldValue);
}
Variant TField::NewValue() const {
  return StateValue(dsNewValue);
}
Variant TField::CurValue() const {
  return StateValue(dsCurValue);
}

void TField::Assign(const TField& source) {
  if (&source == this) return;
  TFieldType type = DataType();
  bool native =
      type == source.DataType() && !IsBlob() && DataSize() > 0 && DataSize() == source.DataSize();
  if (native && (type == ftString || type == ftFixedChar)) {
    // Texts go as strings: a field class may hold NULs inside a value, which the zero-ended
    // native form would cut off.
    if (source.GetTextUnlessNull(text_scratch_))
      SetAsStringValue(text_scratch_);
    else
      ClearValue();
    return;
  }
  if (native) {
    // Same native form: no conversion and no allocation per record.
    std::uint8_t* buffer = Scratch();
    if (source.GetData(buffer))
      SetData(buffer);
    else
      ClearValue();
    return;
  }
  SetVarValue(source.GetAsVariant());
}

void TField::AssignProperties(const TField& source) {
  display_label_ = source.display_label_;
  display_width_ = source.display_width_;
  visible_ = source.visible_;
  alignment_ = source.alignment_;
  read_only_ = source.read_only_;
  required_ = source.required_;
  default_expression_ = source.default_expression_;
  valid_chars_ = source.valid_chars_;
  OnGetText = source.OnGetText;
  OnSetText = source.OnSetText;
  OnValidate = source.OnValidate;
  OnChange = source.OnChange;
  SetLookupDataSet(source.lookup_dataset_);
  key_fields_ = source.key_fields_;
  lookup_key_fields_ = source.lookup_key_fields_;
  lookup_result_field_ = source.lookup_result_field_;
  lookup_cache_ = source.lookup_cache_;
}

// ---------------------------------------------------------------------------------------------
// TFields

TField& TFields::operator[](int index) const {
  if (index < 0 || index >= Count())
    DatabaseError("List index out of bounds (" + std::to_string(index) + ")", dataset_);
  return *list_[static_cast<std::size_t>(index)];
}

int TFields::IndexOf(const TField* field) const {
  for (std::size_t i = 0; i < list_.size(); ++i)
    if (list_[i] == field) return static_cast<int>(i);
  return -1;
}

TField* TFields::FindField(std::string_view name) const {
  for (TField* f : list_)
    if (detail::SameName(f->FieldName(), name)) return f;
  return nullptr;
}

TField& TFields::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseError("Field '" + std::string(name) + "' not found", dataset_);
  return *f;
}

TField* TFields::FieldByNumber(int field_no) const {
  for (TField* f : list_)
    if (f->FieldNo() == field_no) return f;
  return nullptr;
}

void TFields::Add(TField* field) {
  if (!field->FieldName().empty() && FindField(field->FieldName()) != nullptr)
    DatabaseError("Duplicate field name '" + field->FieldName() + "'", dataset_);
  list_.push_back(field);
}

void TFields::Remove(TField* field) {
  auto it = std::find(list_.begin(), list_.end(), field);
  if (it != list_.end()) list_.erase(it);
}

}  // namespace ds

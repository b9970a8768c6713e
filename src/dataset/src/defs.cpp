#include <algorithm>

#include "dataset/db.h"
#include "internal.h"

namespace ds {

using detail::SameName;

const char* FieldTypeName(TFieldType type) {
  static const char* const kNames[] = {
      "Unknown",     "String",    "SmallInt",  "Integer",    "Word",     "Boolean",    "Float",
      "Currency",    "BCD",       "Date",      "Time",       "DateTime", "Bytes",      "VarBytes",
      "AutoInc",     "Blob",      "Memo",      "Graphic",    "FmtMemo",  "ParadoxOle", "DBaseOle",
      "TypedBinary", "Cursor",    "FixedChar", "WideString", "Largeint", "ADT",        "Array",
      "Reference",   "DataSet",   "OraBlob",   "OraClob",    "Variant",  "Interface",  "IDispatch",
      "Guid",        "TimeStamp", "FMTBcd"};
  auto i = static_cast<int>(type);
  if (i < 0 || i >= static_cast<int>(std::size(kNames))) return "Unknown";
  return kNames[i];
}

bool IsBlobType(TFieldType type) {
  switch (type) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return true;
    default:
      return false;
  }
}

TFieldChars FieldChars(std::string_view characters) {
  TFieldChars set;
  for (char c : characters) set.set(static_cast<unsigned char>(c));
  return set;
}

TFieldChars AllFieldChars() {
  return TFieldChars().set();
}

// ---------------------------------------------------------------------------------------------
// TFieldDef / TFieldDefs

TFieldDef::TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required,
                     int field_no)
    : owner_(owner), name_(std::move(name)), data_type_(type), size_(size), field_no_(field_no) {
  SetRequired(required);
}

TFieldDef::~TFieldDef() = default;

TDataSet* TFieldDef::DataSet() const {
  return owner_ ? owner_->DataSet() : nullptr;
}

int TFieldDef::Index() const {
  if (owner_ == nullptr) return -1;
  for (int i = 0; i < owner_->Count(); ++i)
    if (&owner_->Items(i) == this) return i;
  return -1;
}

void TFieldDef::SetName(std::string name) {
  if (owner_ != nullptr && !name.empty()) {
    int other = owner_->IndexOf(name);
    if (other >= 0 && &owner_->Items(other) != this)
      DatabaseError("Duplicate field name '" + name + "'", owner_->DataSet());
  }
  name_ = std::move(name);
}

void TFieldDef::SetRequired(bool required) {
  if (required)
    attributes_.Include(faRequired);
  else
    attributes_.Exclude(faRequired);
}

bool TFieldDef::HasChildDefs() const {
  return child_defs_ && child_defs_->Count() > 0;
}

TFieldDefs& TFieldDef::ChildDefs() {
  if (!child_defs_)
    child_defs_ = std::make_unique<TFieldDefs>(owner_ ? owner_->DataSet() : nullptr, this);
  return *child_defs_;
}

void TFieldDef::Assign(const TFieldDef& source) {
  if (&source == this) return;
  name_ = source.name_;
  data_type_ = source.data_type_;
  size_ = source.size_;
  precision_ = source.precision_;
  attributes_ = source.attributes_;
  internal_calc_ = source.internal_calc_;
  if (source.HasChildDefs())
    ChildDefs().Assign(*source.child_defs_);
  else if (child_defs_)
    child_defs_->Clear();
}

TFieldDefs::TFieldDefs(TDataSet* dataset, TFieldDef* parent) : dataset_(dataset), parent_(parent) {}
TFieldDefs::~TFieldDefs() = default;

TFieldDef& TFieldDefs::Items(int index) const {
  if (index < 0 || index >= Count())
    DatabaseError("List index out of bounds (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
  if (name.empty()) DatabaseError("Field name missing", dataset_);
  if (IndexOf(name) >= 0) DatabaseError("Duplicate field name '" + name + "'", dataset_);
  items_.push_back(std::make_unique<TFieldDef>(this, name, type, size, required, Count() + 1));
  updated_ = false;
  return *items_.back();
}

TFieldDef& TFieldDefs::AddFieldDef() {
  items_.push_back(
      std::make_unique<TFieldDef>(this, std::string(), ftUnknown, 0, false, Count() + 1));
  updated_ = false;
  return *items_.back();
}

void TFieldDefs::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
  Renumber();
  updated_ = false;
}

void TFieldDefs::Clear() {
  items_.clear();
  updated_ = false;
}

void TFieldDefs::Assign(const TFieldDefs& source) {
  if (&source == this) return;
  // Copies first, so a failure leaves the old definitions in place.
  std::vector<std::unique_ptr<TFieldDef>> copies;
  copies.reserve(source.items_.size());
  for (const auto& def : source.items_) {
    auto copy = std::make_unique<TFieldDef>(this, std::string(), ftUnknown, 0, false,
                                            static_cast<int>(copies.size()) + 1);
    copy->Assign(*def);
    copies.push_back(std::move(copy));
  }
  items_ = std::move(copies);
  updated_ = false;
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TFieldDef* TFieldDefs::FindDef(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
}

TFieldDef& TFieldDefs::Find(std::string_view name) const {
  TFieldDef* def = FindDef(name);
  if (def == nullptr) DatabaseError("Field '" + std::string(name) + "' not found", dataset_);
  return *def;
}

void TFieldDefs::Update() {
  if (updated_ || dataset_ == nullptr) return;
  dataset_->InitFieldDefs();
  updated_ = true;
}

void TFieldDefs::Renumber() {
  for (std::size_t i = 0; i < items_.size(); ++i) items_[i]->SetFieldNo(static_cast<int>(i) + 1);
}

TField* TFieldDef::CreateField(TComponent* owner, TDataSet* dataset) const {
  TField* field = nullptr;
  switch (data_type_) {
    case ftString:
      field = new TStringField(owner);
      break;
    case ftFixedChar:
      field = new TStringField(owner, ftFixedChar);
      break;
    case ftSmallint:
      field = new TSmallintField(owner);
      break;
    case ftInteger:
      field = new TIntegerField(owner);
      break;
    case ftWord:
      field = new TWordField(owner);
      break;
    case ftAutoInc:
      field = new TAutoIncField(owner);
      break;
    case ftBoolean:
      field = new TBooleanField(owner);
      break;
    case ftFloat:
      field = new TFloatField(owner);
      break;
    case ftCurrency:
      field = new TCurrencyField(owner);
      break;
    case ftBCD:
      field = new TBCDField(owner);
      break;
    case ftDate:
      field = new TDateField(owner);
      break;
    case ftTime:
      field = new TTimeField(owner);
      break;
    case ftDateTime:
      field = new TDateTimeField(owner);
      break;
    case ftBytes:
      field = new TBytesField(owner);
      break;
    case ftVarBytes:
      field = new TVarBytesField(owner);
      break;
    case ftMemo:
      field = new TMemoField(owner);
      break;
    case ftFmtMemo:
      field = new TFmtMemoField(owner);
      break;
    case ftGraphic:
      field = new TGraphicField(owner);
      break;
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary: {
      auto* blob = new TBlobField(owner);
      blob->SetBlobType(data_type_);
      field = blob;
      break;
    }
    default:
      DatabaseError("Field '" + name_ + "' is of an unknown type", dataset);
  }
  try {
    field->SetSize(size_);
    if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->SetPrecision(precision_);
    if (auto* flt = dynamic_cast<TFloatField*>(field); flt && precision_ > 0)
      flt->SetPrecision(precision_);
    field->SetFieldName(name_);
    field->SetRequired(Required());
    field->SetReadOnly(attributes_.Contains(faReadonly));
    if (internal_calc_) field->SetFieldKind(fkInternalCalc);
    field->field_no_ = field_no_;
    field->SetDataSet(dataset);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

// ---------------------------------------------------------------------------------------------
// TIndexDef / TIndexDefs

TIndexDef::TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options)
    : owner_(owner), name_(std::move(name)), fields_(std::move(fields)), options_(options) {}

int TIndexDef::Index() const {
  if (owner_ == nullptr) return -1;
  for (int i = 0; i < owner_->Count(); ++i)
    if (&owner_->Items(i) == this) return i;
  return -1;
}

void TIndexDef::SetName(std::string name) {
  if (owner_ != nullptr && !name.empty()) {
    int other = owner_->IndexOf(name);
    if (other >= 0 && &owner_->Items(other) != this)
      DatabaseError("Duplicate index name '" + name + "'", owner_->DataSet());
  }
  name_ = std::move(name);
}

void TIndexDef::Assign(const TIndexDef& source) {
  if (&source == this) return;
  name_ = source.name_;
  fields_ = source.fields_;
  desc_fields_ = source.desc_fields_;
  case_ins_fields_ = source.case_ins_fields_;
  options_ = source.options_;
  expression_ = source.expression_;
  source_ = source.source_;
  grouping_level_ = source.grouping_level_;
}

TIndexDefs::TIndexDefs(TDataSet* dataset) : dataset_(dataset) {}
TIndexDefs::~TIndexDefs() = default;

TIndexDef& TIndexDefs::Items(int index) const {
  if (index < 0 || index >= Count())
    DatabaseError("List index out of bounds (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields,
                           TIndexOptions options) {
  if (IndexOf(name) >= 0) DatabaseError("Duplicate index name '" + name + "'", dataset_);
  items_.push_back(std::make_unique<TIndexDef>(this, name, fields, options));
  updated_ = false;
  return *items_.back();
}

TIndexDef& TIndexDefs::AddIndexDef() {
  items_.push_back(
      std::make_unique<TIndexDef>(this, std::string(), std::string(), TIndexOptions()));
  updated_ = false;
  return *items_.back();
}

void TIndexDefs::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
  updated_ = false;
}

void TIndexDefs::Clear() {
  items_.clear();
  updated_ = false;
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TIndexDef>> copies;
  copies.reserve(source.items_.size());
  for (const auto& def : source.items_) {
    auto copy = std::make_unique<TIndexDef>(this, std::string(), std::string(), TIndexOptions());
    copy->Assign(*def);
    copies.push_back(std::move(copy));
  }
  items_ = std::move(copies);
  updated_ = false;
}

int TIndexDefs::IndexOf(std::string_view name) const {
  // An unnamed index is never "the index called ''".
  if (name.empty()) return -1;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (SameName(items_[i]->Name(), name)) return static_cast<int>(i);
  return -1;
}

TIndexDef* TIndexDefs::FindIndexDef(std::string_view name) const {
  int i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<std::size_t>(i)].get();
}

TIndexDef& TIndexDefs::Find(std::string_view name) const {
  TIndexDef* def = FindIndexDef(name);
  if (def == nullptr) DatabaseError("Index '" + std::string(name) + "' not found", dataset_);
  return *def;
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) const {
  std::vector<std::string> wanted = detail::SplitNames(fields);
  if (wanted.empty()) return nullptr;
  TIndexDef* partial = nullptr;
  for (const auto& def : items_) {
    if (def->Options().Contains(ixExpression)) continue;
    if (case_insensitive && !def->Options().Contains(ixCaseInsensitive)) continue;
    std::vector<std::string> have = detail::SplitNames(def->Fields());
    if (have.size() < wanted.size()) continue;
    bool leading =
        std::equal(wanted.begin(), wanted.end(), have.begin(),
                   [](const std::string& a, const std::string& b) { return SameName(a, b); });
    if (!leading) continue;
    if (have.size() == wanted.size() || def->Options().Contains(ixPrimary)) return def.get();
    if (partial == nullptr) partial = def.get();
  }
  return partial;
}

void TIndexDefs::Update() {
  if (dataset_ == nullptr) return;
  dataset_->UpdateIndexDefs();
  updated_ = true;
}

}  // namespace ds

#include <cctype>

#include "dataset/db.h"
#include "internal.h"

namespace ds {

using detail::SameName;

namespace {

TFieldType TypeOfVariant(const Variant& v) {
  switch (v.Type()) {
    case core::VarType::Integer:
      return ftSmallint;
    case core::VarType::Byte:
      return ftSmallint;
    case core::VarType::Long:
      return ftInteger;
    case core::VarType::Single:
    case core::VarType::Double:
      return ftFloat;
    case core::VarType::Currency:
      return ftCurrency;
    case core::VarType::Decimal:
      return ftBCD;
    case core::VarType::Date:
      return ftDateTime;
    case core::VarType::String:
      return ftString;
    case core::VarType::Boolean:
      return ftBoolean;
    case core::VarType::ByteArray:
      return ftBlob;
    default:
      return ftUnknown;
  }
}

}  // namespace

TParam::TParam(TParams* owner, std::string name, TParamType type)
    : owner_(owner), name_(std::move(name)), param_type_(type) {}

void TParam::SetDataType(TFieldType type) {
  data_type_ = type;
}

void TParam::SetValue(const Variant& value) {
  if (data_type_ == ftUnknown) data_type_ = TypeOfVariant(value);
  value_ = value;
  bound_ = true;
}

void TParam::Clear() {
  value_ = Variant::Null();
}

std::string TParam::AsString() const {
  return IsNull() ? std::string() : value_.ToString();
}
void TParam::SetAsString(std::string value) {
  data_type_ = ftString;
  SetValue(Variant(std::move(value)));
}
std::int32_t TParam::AsInteger() const {
  return IsNull() ? 0 : value_.ToLong();
}
void TParam::SetAsInteger(std::int32_t value) {
  data_type_ = ftInteger;
  SetValue(Variant::FromLong(value));
}
void TParam::SetAsSmallInt(std::int32_t value) {
  data_type_ = ftSmallint;
  SetValue(Variant::FromLong(value));
}
void TParam::SetAsWord(std::int32_t value) {
  data_type_ = ftWord;
  SetValue(Variant::FromLong(value));
}
double TParam::AsFloat() const {
  return IsNull() ? 0.0 : value_.ToDouble();
}
void TParam::SetAsFloat(double value) {
  data_type_ = ftFloat;
  SetValue(Variant::FromDouble(value));
}
double TParam::AsCurrency() const {
  return AsFloat();
}
void TParam::SetAsCurrency(double value) {
  data_type_ = ftCurrency;
  SetValue(Variant::FromDouble(value));
}
void TParam::SetAsBCD(double value) {
  data_type_ = ftBCD;
  SetValue(Variant::FromDouble(value));
}
bool TParam::AsBoolean() const {
  return IsNull() ? false : value_.ToBoolean();
}
void TParam::SetAsBoolean(bool value) {
  data_type_ = ftBoolean;
  SetValue(Variant::FromBoolean(value));
}
double TParam::AsDateTime() const {
  return IsNull() ? 0.0 : value_.ToDate();
}
void TParam::SetAsDate(double value) {
  data_type_ = ftDate;
  SetValue(Variant::FromDate(value));
}
void TParam::SetAsTime(double value) {
  data_type_ = ftTime;
  SetValue(Variant::FromDate(value));
}
void TParam::SetAsDateTime(double value) {
  data_type_ = ftDateTime;
  SetValue(Variant::FromDate(value));
}
void TParam::SetAsMemo(std::string value) {
  data_type_ = ftMemo;
  SetValue(Variant(std::move(value)));
}
void TParam::SetAsBlob(std::vector<std::uint8_t> value) {
  data_type_ = ftBlob;
  SetValue(Variant::FromBytes(std::move(value)));
}
void TParam::SetText(std::string value) {
  SetValue(Variant(std::move(value)));
}

void TParam::Assign(const TParam& source) {
  if (&source == this) return;
  name_ = source.name_;
  data_type_ = source.data_type_;
  param_type_ = source.param_type_;
  value_ = source.value_;
  bound_ = source.bound_;
  size_ = source.size_;
  precision_ = source.precision_;
  numeric_scale_ = source.numeric_scale_;
}

void TParam::AssignField(const TField& field) {
  data_type_ = field.DataType();
  if (data_type_ == ftAutoInc) data_type_ = ftInteger;
  SetValue(field.Value());
}

void TParam::AssignFieldValue(const TField& field, const Variant& value) {
  if (data_type_ == ftUnknown) data_type_ = field.DataType();
  SetValue(value);
}

TParams::TParams(TComponent* owner) : owner_(owner) {}

TParam& TParams::Items(int index) const {
  if (index < 0 || index >= Count())
    DatabaseError("List index out of bounds (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

TParam& TParams::CreateParam(TFieldType type, const std::string& name, TParamType param_type) {
  items_.push_back(std::make_unique<TParam>(this, name, param_type));
  items_.back()->SetDataType(type);
  return *items_.back();
}

TParam& TParams::AddParam() {
  items_.push_back(std::make_unique<TParam>(this));
  return *items_.back();
}

void TParams::Delete(int index) {
  Items(index);
  items_.erase(items_.begin() + index);
}

void TParams::Clear() {
  items_.clear();
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  std::vector<std::unique_ptr<TParam>> copies;
  for (const auto& p : source.items_) {
    auto copy = std::make_unique<TParam>(this);
    copy->Assign(*p);
    copies.push_back(std::move(copy));
  }
  items_ = std::move(copies);
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& p : source.items_) {
    TParam* mine = FindParam(p->Name());
    if (mine == nullptr || mine == p.get()) continue;
    mine->SetDataType(p->DataType());
    if (p->Bound())
      mine->SetValue(p->Value());
    else
      mine->Clear();
  }
}

bool TParams::IsEqual(const TParams& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i) {
    const TParam& a = Items(i);
    const TParam& b = other.Items(i);
    if (a.Name() != b.Name() || a.DataType() != b.DataType() || a.ParamType() != b.ParamType() ||
        a.Bound() != b.Bound() || !(a.Value() == b.Value()))
      return false;
  }
  return true;
}

TParam* TParams::FindParam(std::string_view name) const {
  for (const auto& p : items_)
    if (SameName(p->Name(), name)) return p.get();
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) {
    const auto* component = owner_;
    DatabaseError("Parameter '" + std::string(name) + "' not found", component);
  }
  return *p;
}

Variant TParams::ParamValues(std::string_view names) const {
  std::vector<std::string> list = detail::SplitNames(names);
  if (list.size() == 1) return ParamByName(list[0]).Value();
  std::vector<Variant> values;
  for (const auto& n : list) values.push_back(ParamByName(n).Value());
  return Variant::FromArray(std::move(values));
}

void TParams::SetParamValues(std::string_view names, const Variant& values) {
  std::vector<std::string> list = detail::SplitNames(names);
  if (list.size() == 1 && !values.IsArray()) {
    ParamByName(list[0]).SetValue(values);
    return;
  }
  const auto& elements = values.Elements();
  for (std::size_t i = 0; i < list.size() && i < elements.size(); ++i)
    ParamByName(list[i]).SetValue(elements[i]);
}

namespace {

bool NameStart(char c) {
  auto u = static_cast<unsigned char>(c);
  return std::isalpha(u) || c == '_' || u >= 0x80;
}
bool NameChar(char c) {
  auto u = static_cast<unsigned char>(c);
  return std::isalnum(u) || c == '_' || u >= 0x80;
}

}  // namespace

std::string TParams::ParseSQL(std::string_view sql, bool do_create) {
  std::string out;
  out.reserve(sql.size());
  std::size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (c == '\'' || c == '"' || c == '[') {
      // Literals and bracketed identifiers are copied untouched (doubled quotes stay inside).
      char close = c == '[' ? ']' : c;
      out += c;
      ++i;
      while (i < sql.size()) {
        out += sql[i];
        if (sql[i] == close) {
          if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
            out += sql[i + 1];
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      continue;
    }
    if (c == ':' && i + 1 < sql.size() && sql[i + 1] == ':') {
      out += ':';
      i += 2;
      continue;
    }
    if (c == ':' && i + 1 < sql.size() && (NameStart(sql[i + 1]) || sql[i + 1] == '"')) {
      std::string name;
      std::size_t j = i + 1;
      if (sql[j] == '"') {
        std::size_t close = sql.find('"', j + 1);
        if (close == std::string_view::npos) {
          // An unterminated quoted name is text, not a parameter.
          out.append(sql.substr(i));
          break;
        }
        name = std::string(sql.substr(j + 1, close - j - 1));
        j = close + 1;
      } else {
        while (j < sql.size() && NameChar(sql[j])) ++j;
        name = std::string(sql.substr(i + 1, j - i - 1));
      }
      if (do_create && !name.empty() && FindParam(name) == nullptr)
        CreateParam(ftUnknown, name, ptInput);
      out += '?';
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

}  // namespace ds

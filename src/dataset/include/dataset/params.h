// Query parameters: named values with a type and a direction.
#pragma once

#include <string>
#include <vector>

#include "dataset/types.h"

namespace ds {

// ---------------------------------------------------------------------------------------------
// Parameters

class TParams;

class TParam {
 public:
  explicit TParam(TParams* owner = nullptr, std::string name = {}, TParamType type = ptUnknown);

  TParams* Collection() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type);
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType type) { param_type_ = type; }
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  int Precision() const { return precision_; }
  void SetPrecision(int value) { precision_ = value; }
  int NumericScale() const { return numeric_scale_; }
  void SetNumericScale(int value) { numeric_scale_ = value; }
  // True once a value has been assigned (also a null one).
  bool Bound() const { return bound_; }
  void SetBound(bool value) { bound_ = value; }

  const Variant& Value() const { return value_; }
  // Stores the value; a parameter without a data type takes one from the variant's kind.
  void SetValue(const Variant& value);
  bool IsNull() const { return value_.IsNullOrEmpty(); }
  void Clear();

  // Each setter also sets the data type named after it.
  std::string AsString() const;
  void SetAsString(std::string value);
  std::int32_t AsInteger() const;
  void SetAsInteger(std::int32_t value);
  void SetAsSmallInt(std::int32_t value);
  void SetAsWord(std::int32_t value);
  double AsFloat() const;
  void SetAsFloat(double value);
  double AsCurrency() const;
  void SetAsCurrency(double value);
  void SetAsBCD(double value);
  bool AsBoolean() const;
  void SetAsBoolean(bool value);
  double AsDateTime() const;
  void SetAsDate(double value);
  void SetAsTime(double value);
  void SetAsDateTime(double value);
  void SetAsMemo(std::string value);
  void SetAsBlob(std::vector<std::uint8_t> value);
  std::string Text() const { return AsString(); }
  void SetText(std::string value);

  // Name, data type, parameter type, value, bound flag, size and precision.
  void Assign(const TParam& source);
  // Data type and value (null included) of a field.
  void AssignField(const TField& field);
  // The field's data type when this parameter has none, then the given value.
  void AssignFieldValue(const TField& field, const Variant& value);

 private:
  TParams* owner_;
  std::string name_;
  TFieldType data_type_ = ftUnknown;
  TParamType param_type_;
  int size_ = 0;
  int precision_ = 0;
  int numeric_scale_ = 0;
  bool bound_ = false;
  Variant value_;
};

class TParams {
 public:
  explicit TParams(TComponent* owner = nullptr);
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  TComponent* Owner() const { return owner_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  TParam& Items(int index) const;
  TParam& operator[](int index) const { return Items(index); }

  TParam& CreateParam(TFieldType type, const std::string& name, TParamType param_type);
  TParam& AddParam();
  void Delete(int index);
  void Clear();
  // Replaces the contents with copies of `source`.
  void Assign(const TParams& source);
  // For every parameter of `source`, the parameter of the same name here (if any) takes its
  // data type and value.
  void AssignValues(const TParams& source);
  bool IsEqual(const TParams& other) const;

  TParam* FindParam(std::string_view name) const;
  // Raises "Parameter '<name>' not found".
  TParam& ParamByName(std::string_view name) const;
  // Values of the ";"-separated names (one value, or a variant array for several).
  Variant ParamValues(std::string_view names) const;
  void SetParamValues(std::string_view names, const Variant& values);

  // Collects the ":name" parameters of an SQL text and returns the text with each replaced by
  // "?". With `do_create`, one input parameter of unknown type is appended per distinct name
  // (names compare without regard to case). Colons inside '...' or "..." literals and
  // [bracketed] identifiers are text; "::" stands for one literal colon; a name starts with a
  // letter, "_" or a non-ASCII character (so times like 12:30 are left alone) and runs over
  // letters, digits, "_" and non-ASCII characters; ":\"any text\"" is a quoted name.
  std::string ParseSQL(std::string_view sql, bool do_create);

 private:
  TComponent* owner_;
  std::vector<std::unique_ptr<TParam>> items_;
};

}  // namespace ds

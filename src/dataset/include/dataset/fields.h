// Field objects: a dataset's columns, reading and writing the current record's values in their
// native forms, and the list of a dataset's fields.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/defs.h"

namespace ds {

// ---------------------------------------------------------------------------------------------
// Fields

using TFieldNotifyEvent = std::function<void(TField* sender)>;
using TFieldGetTextEvent =
    std::function<void(TField* sender, std::string& text, bool display_text)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const std::string& text)>;

// A field object: one column of a dataset. Reading and writing go through the dataset's
// GetFieldData/SetFieldData in the field's native form; the As* accessors convert.
class TField : public TComponent {
 public:
  explicit TField(TComponent* owner);
  ~TField() override;

  // Identity and layout.
  TDataSet* DataSet() const { return dataset_; }
  // Joins or leaves a dataset's field list (allowed only while that dataset is closed).
  void SetDataSet(TDataSet* dataset);
  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(std::string name);
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return field_kind_ == fkCalculated; }
  bool Lookup() const { return field_kind_ == fkLookup; }
  // 1-based number of the field's definition; 0 for calculated and lookup fields.
  int FieldNo() const { return field_no_; }
  // Position in the dataset's field list, -1 outside one.
  int Index() const;
  int Size() const { return size_; }
  void SetSize(int size);
  // Bytes of the native form (0 for blobs).
  virtual int DataSize() const;
  // Offset of the presence byte in the calculated-field area (calculated and lookup fields).
  int Offset() const { return offset_; }
  virtual bool IsBlob() const { return false; }

  // Presentation and rules.
  std::string DisplayLabel() const { return display_label_.empty() ? field_name_ : display_label_; }
  void SetDisplayLabel(std::string label);
  std::string DisplayName() const { return DisplayLabel(); }
  int DisplayWidth() const;
  void SetDisplayWidth(int width);
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { alignment_ = value; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value) { read_only_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  const std::string& DefaultExpression() const { return default_expression_; }
  void SetDefaultExpression(std::string value) { default_expression_ = std::move(value); }
  const TFieldChars& ValidChars() const { return valid_chars_; }
  void SetValidChars(const TFieldChars& chars) { valid_chars_ = chars; }
  bool IsValidChar(char ch) const { return valid_chars_.test(static_cast<unsigned char>(ch)); }
  // True when the dataset can modify and the field is not read-only.
  bool CanModify() const;

  // Lookup fields: the value of LookupResultField in the record of LookupDataSet whose
  // LookupKeyFields equal this dataset's KeyFields.
  TDataSet* LookupDataSet() const { return lookup_dataset_; }
  void SetLookupDataSet(TDataSet* dataset);
  const std::string& KeyFields() const { return key_fields_; }
  void SetKeyFields(std::string value) { key_fields_ = std::move(value); }
  const std::string& LookupKeyFields() const { return lookup_key_fields_; }
  void SetLookupKeyFields(std::string value) { lookup_key_fields_ = std::move(value); }
  const std::string& LookupResultField() const { return lookup_result_field_; }
  void SetLookupResultField(std::string value) { lookup_result_field_ = std::move(value); }
  bool LookupCache() const { return lookup_cache_; }
  void SetLookupCache(bool value) { lookup_cache_ = value; }

  // Values.
  bool IsNull() const { return GetIsNull(); }
  void Clear() { ClearValue(); }
  std::string AsString() const { return GetAsString(); }
  void SetAsString(const std::string& value) { SetAsStringValue(value); }
  std::int32_t AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(std::int32_t value) { SetAsIntegerValue(value); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double value) { SetAsFloatValue(value); }
  double AsCurrency() const { return GetAsCurrency(); }
  void SetAsCurrency(double value) { SetAsCurrencyValue(value); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool value) { SetAsBooleanValue(value); }
  // The date-time double (days since 30 December 1899).
  double AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(double value) { SetAsDateTimeValue(value); }
  // Null when the field is null, else a variant of the field's kind.
  Variant AsVariant() const { return GetAsVariant(); }
  void SetAsVariant(const Variant& value) { SetVarValue(value); }
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& value) { SetVarValue(value); }
  // Display and edit texts: OnGetText when assigned, else the field's own text.
  std::string Text() const;
  void SetText(const std::string& text);
  std::string DisplayText() const;
  // Values of the record as it was before editing, as it is being edited, and as stored.
  Variant OldValue() const;
  Variant NewValue() const;
  Variant CurValue() const;

  // Copies value and null of another field: same-typed scalars through the native form, blobs
  // through streams, anything else through the variant value. A null source clears.
  virtual void Assign(const TField& source);
  // Copies presentation properties (label, width, visibility, alignment, read-only, required,
  // default expression, valid characters, events, lookup settings) of another field.
  void AssignProperties(const TField& source);
  void Notification(TComponent* component, TOperation operation) override;

  // Native access. GetData answers whether the field has a value and copies it when a buffer
  // is given; SetData hands a native value (null buffer: null) to the dataset's SetFieldData,
  // and raises "Dataset not in edit or insert mode" unless the dataset's state allows writing
  // (edit, insert, set-key, calc-fields, filter, new-value, internal-calc). Read-only fields
  // are the dataset's business: its SetFieldData decides whether to refuse or ignore them.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);
  // Runs OnValidate (a dataset's SetFieldData calls it before storing); while it runs, reading
  // this field gives the value being stored.
  virtual void Validate(const void* buffer);
  // Runs OnChange (the dataset calls it on a field-change event).
  virtual void Change();

  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;
  TFieldNotifyEvent OnValidate;
  TFieldNotifyEvent OnChange;

 protected:
  TField(TComponent* owner, TFieldType type, int size);
  void SetDataType(TFieldType type) { data_type_ = type; }
  // Raises "Cannot access field '<name>' as type <type>".
  [[noreturn]] void AccessError(const char* type_name) const;
  [[noreturn]] void RangeError(double value, double min, double max) const;
  // Raises "Dataset not in edit or insert mode" (or the closed-dataset error) when values cannot
  // be written now.
  void CheckWriteState() const;

  virtual bool GetIsNull() const;
  virtual void ClearValue();
  virtual std::string GetAsString() const;
  // The value as text into `out`, or false (and `out` empty) when it is null: the two
  // questions answered with one read, for copying a value to another field.
  virtual bool GetTextUnlessNull(std::string& out) const;
  virtual void SetAsStringValue(const std::string& value);
  virtual std::int32_t GetAsInteger() const;
  virtual void SetAsIntegerValue(std::int32_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloatValue(double value);
  virtual double GetAsCurrency() const;
  virtual void SetAsCurrencyValue(double value);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBooleanValue(bool value);
  virtual double GetAsDateTime() const;
  virtual void SetAsDateTimeValue(double value);
  virtual Variant GetAsVariant() const;
  virtual void SetVarValue(const Variant& value);
  virtual void GetText(std::string& text, bool display_text) const;
  virtual void SetTextValue(const std::string& text);
  virtual int DefaultDisplayWidth() const { return size_; }
  // Blob fields drop pending stream state here after post and cancel.
  virtual void FreeBuffers() {}
  // A scratch block of DataSize() bytes, kept for the field's lifetime so that reads and
  // writes of variable-size native forms allocate nothing per record.
  std::uint8_t* Scratch() const;

 private:
  friend class TDataSet;
  friend class TFields;
  friend class TFieldDef;
  Variant StateValue(TDataSetState state) const;

  TDataSet* dataset_ = nullptr;
  std::string field_name_;
  TFieldType data_type_ = ftUnknown;
  TFieldKind field_kind_ = fkData;
  int field_no_ = 0;
  int size_ = 0;
  int offset_ = 0;
  std::string display_label_;
  int display_width_ = 0;
  bool visible_ = true;
  TAlignment alignment_ = taLeftJustify;
  bool read_only_ = false;
  bool required_ = false;
  std::string default_expression_;
  TFieldChars valid_chars_;
  TDataSet* lookup_dataset_ = nullptr;
  std::string key_fields_;
  std::string lookup_key_fields_;
  std::string lookup_result_field_;
  bool lookup_cache_ = false;
  // Set while Validate runs: reads of this field come from here.
  const void* validating_buffer_ = nullptr;
  bool validating_ = false;
  mutable std::vector<std::uint8_t> scratch_;
  mutable std::string text_scratch_;  // a text on its way to another field
};

// Text of up to Size() characters (code points).
class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner);
  int DataSize() const override { return Size() * 4 + 1; }
  bool FixedChar() const { return DataType() == ftFixedChar; }

 protected:
  bool GetValue(std::string& value) const;
  std::string GetAsString() const override;
  // Raises when the text has more than Size() characters.
  void SetAsStringValue(const std::string& value) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerValue(std::int32_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  double GetAsDateTime() const override;
  void SetAsDateTimeValue(double value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;

 private:
  friend class TFieldDef;
  TStringField(TComponent* owner, TFieldType type);
};

class TNumericField : public TField {
 public:
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(std::string format) { display_format_ = std::move(format); }
  const std::string& EditFormat() const { return edit_format_; }
  void SetEditFormat(std::string format) { edit_format_ = std::move(format); }

 protected:
  TNumericField(TComponent* owner, TFieldType type, int size);

 private:
  std::string display_format_;
  std::string edit_format_;
};

// Integer kinds share the 32-bit native form; each has its range.
class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner);
  int DataSize() const override { return 4; }
  std::int32_t MinValue() const { return min_value_; }
  std::int32_t MaxValue() const { return max_value_; }
  // 0..0 means the type's whole range.
  void SetMinValue(std::int32_t value) { min_value_ = value; }
  void SetMaxValue(std::int32_t value) { max_value_ = value; }

 protected:
  TIntegerField(TComponent* owner, TFieldType type, std::int64_t type_min, std::int64_t type_max);
  bool GetValue(std::int32_t& value) const;
  void CheckRange(std::int64_t value) const;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerValue(std::int32_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return 11; }

 private:
  std::int64_t type_min_;
  std::int64_t type_max_;
  std::int32_t min_value_ = 0;
  std::int32_t max_value_ = 0;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner);

 protected:
  Variant GetAsVariant() const override;
  int DefaultDisplayWidth() const override { return 6; }
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner);

 protected:
  int DefaultDisplayWidth() const override { return 5; }
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner);
};

class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool value) { currency_ = value; }
  // Significant digits of the text form (default 15).
  int Precision() const { return precision_; }
  void SetPrecision(int value) { precision_ = value; }
  double MinValue() const { return min_value_; }
  double MaxValue() const { return max_value_; }
  void SetMinValue(double value) { min_value_ = value; }
  void SetMaxValue(double value) { max_value_ = value; }

 protected:
  TFloatField(TComponent* owner, TFieldType type);
  bool GetValue(double& value) const;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerValue(std::int32_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  double GetAsCurrency() const override { return GetAsFloat(); }
  void SetAsCurrencyValue(double value) override { SetAsFloatValue(value); }
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return 10; }

 private:
  bool currency_ = false;
  int precision_ = 15;
  double min_value_ = 0;
  double max_value_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner);
};

// Exact decimals with Size() digits after the point; the native form is a double, the variant
// value a Currency (four places) when it fits, otherwise a Double.
class TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* owner);
  int DataSize() const override { return 8; }
  int Precision() const { return precision_; }
  void SetPrecision(int value) { precision_ = value; }
  bool Currency() const { return currency_; }
  void SetCurrency(bool value) { currency_ = value; }

 protected:
  bool GetValue(double& value) const;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerValue(std::int32_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  double GetAsCurrency() const override { return GetAsFloat(); }
  void SetAsCurrencyValue(double value) override { SetAsFloatValue(value); }
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return precision_ > 0 ? precision_ + 2 : 10; }

 private:
  int precision_ = 0;
  bool currency_ = false;
};

// "True"/"False" unless DisplayValues says otherwise ("Yes;No"); setting a text accepts any
// leading part of either word, without regard to case.
class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner);
  int DataSize() const override { return 2; }
  const std::string& DisplayValues() const { return display_values_; }
  void SetDisplayValues(std::string values);

 protected:
  bool GetValue(bool& value) const;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  std::int32_t GetAsInteger() const override;
  void SetAsIntegerValue(std::int32_t value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return 5; }

 private:
  std::string display_values_;
  std::string true_text_ = "True";
  std::string false_text_ = "False";
};

// Date, time and date-time kinds. Text forms: "YYYY-MM-DD", "HH:MM:SS[.mmm]" and both joined
// by a blank; setting a text also accepts the US form M/D/YYYY and ISO 8601.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner);
  int DataSize() const override { return 8; }
  const std::string& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(std::string format) { display_format_ = std::move(format); }

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  bool GetValue(double& date_time) const;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  double GetAsDateTime() const override;
  void SetAsDateTimeValue(double value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  int DefaultDisplayWidth() const override { return 23; }

 private:
  std::string display_format_;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner);
  int DataSize() const override { return 4; }

 protected:
  int DefaultDisplayWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner);
  int DataSize() const override { return 4; }

 protected:
  int DefaultDisplayWidth() const override { return 12; }
};

// Fixed (TBytesField) and variable (TVarBytesField) binary values of at most Size() bytes.
// AsString gives the bytes unchanged; the variant value is a byte array.
class TBinaryField : public TField {
 protected:
  TBinaryField(TComponent* owner, TFieldType type, int size);
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  virtual bool GetBytes(std::string& bytes) const = 0;
  // Raises when the bytes do not fit.
  virtual void SetBytes(std::string_view bytes) = 0;
};

class TBytesField : public TBinaryField {
 public:
  explicit TBytesField(TComponent* owner);
  int DataSize() const override { return Size(); }

 protected:
  bool GetBytes(std::string& bytes) const override;
  // Shorter values are padded with zero bytes.
  void SetBytes(std::string_view bytes) override;
};

class TVarBytesField : public TBinaryField {
 public:
  explicit TVarBytesField(TComponent* owner);
  int DataSize() const override { return Size() + 2; }

 protected:
  bool GetBytes(std::string& bytes) const override;
  void SetBytes(std::string_view bytes) override;
};

// Blob kinds: the content is read and written only through the dataset's blob streams.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner);
  int DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  TFieldType BlobType() const { return DataType(); }
  void SetBlobType(TFieldType type);
  // Set by a dataset's blob stream when it changed the content; cleared after post/cancel.
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }
  std::int64_t BlobSize() const;

  // Replaces the content with the rest of `stream`; writes the content to `stream`.
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  // Copies the content of another blob field, stream to stream.
  void LoadFromBlob(const TBlobField& source);
  void Assign(const TField& source) override;

 protected:
  TBlobField(TComponent* owner, TFieldType type);
  bool GetIsNull() const override;
  void ClearValue() override;
  std::string GetAsString() const override;
  void SetAsStringValue(const std::string& value) override;
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& value) override;
  void GetText(std::string& text, bool display_text) const override;
  void FreeBuffers() override { modified_ = false; }
  int DefaultDisplayWidth() const override { return 10; }

 private:
  bool modified_ = false;
};

// Memo: text content; the variant value is a String.
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner);

 protected:
  TMemoField(TComponent* owner, TFieldType type);
  Variant GetAsVariant() const override;
  void GetText(std::string& text, bool display_text) const override;
};

class TFmtMemoField : public TMemoField {
 public:
  explicit TFmtMemoField(TComponent* owner);
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner);
};

// The field objects of a dataset, in order. Fields are owned by their owner component; the
// list only refers to them.
class TFields {
 public:
  explicit TFields(TDataSet* dataset) : dataset_(dataset) {}
  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(list_.size()); }
  bool Empty() const { return list_.empty(); }
  // Raises "List index out of bounds (i)" outside the list.
  TField& operator[](int index) const;
  TField* Fields(int index) const { return &(*this)[index]; }
  int IndexOf(const TField* field) const;
  TField* FindField(std::string_view name) const;
  // Raises "Field '<name>' not found".
  TField& FieldByName(std::string_view name) const;
  TField* FieldByNumber(int field_no) const;
  std::vector<TField*>::const_iterator begin() const { return list_.begin(); }
  std::vector<TField*>::const_iterator end() const { return list_.end(); }

 private:
  friend class TField;
  friend class TDataSet;
  void Add(TField* field);
  void Remove(TField* field);

  TDataSet* dataset_;
  std::vector<TField*> list_;
};

}  // namespace ds

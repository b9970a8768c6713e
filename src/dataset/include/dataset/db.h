// The record-buffered dataset framework: datasets, fields, field and index definitions,
// parameters, data sources and data links.
//
// A dataset class supplies data through the protected virtual operations of TDataSet (open,
// close, record buffers, navigation, field values, editing, bookmarks); the framework owns the
// state machine, the ring of record buffers, the field objects and the events, and calls those
// operations at fixed moments:
//   Open        -> InternalOpen (which builds FieldDefs, creates and binds the fields)
//   First/Last  -> InternalFirst / InternalLast, then GetRecord(next / prior) to fill the ring
//   Append      -> InternalInitRecord on a fresh buffer (flag bfEOF); no other call
//   Insert      -> InternalInitRecord (flag bfInserted, bookmark of the record it goes before)
//   Edit        -> InternalEdit while the state is still browse
//   Post        -> InternalPost in edit or insert state; then the state becomes browse and the
//                  buffers are refilled from the cursor (Resync with no options)
//   Cancel      -> InternalCancel; the pending buffer is dropped by the same refill
//   Delete      -> InternalDelete, then the refill
//   Refresh     -> InternalRefresh, then the refill
// Before each of InternalPost, InternalEdit, InternalDelete and InternalCancel the cursor is put
// on the active record (UpdateCursorPos: InternalSetToRecord, or InternalLast for an appended
// buffer, or InternalFirst for one inserted into an empty dataset).
//
// Native buffer forms exchanged through GetFieldData/SetFieldData (a null buffer pointer in
// SetFieldData means "set to null"):
//   ftString, ftFixedChar         UTF-8 text and a terminating zero, at most DataSize() bytes
//   ftSmallint, ftInteger, ftWord, ftAutoInc   32-bit signed integer
//   ftBoolean                     16-bit integer, non-zero is true
//   ftFloat, ftCurrency, ftBCD    64-bit IEEE double
//   ftDate                        32-bit day count, day 1 = 1 January of year 1
//   ftTime                        32-bit milliseconds since midnight
//   ftDateTime                    64-bit double: day count * 86400000 + milliseconds
//   ftBytes                       Size() bytes
//   ftVarBytes                    16-bit little-endian length, then up to Size() bytes
//   blob types                    none: read and written through CreateBlobStream
// Calculated and lookup fields live in the record buffer's calculated-field area: at the
// field's Offset() one presence byte (0 = null) followed by the native data.
//
// Errors are core::EDatabaseError raised through DatabaseError. This layer uses no Qt and
// touches no file.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "core/variant.h"
#include "dataset/classes.h"

namespace ds {

using core::EDatabaseError;
using core::Variant;

// Raises EDatabaseError with the message, prefixed with "<Name>: " when a named component is
// given.
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component = nullptr);

// ---------------------------------------------------------------------------------------------
// Enumerations

// The ordinals are fixed: DAO type mapping and stored settings depend on them.
enum class TFieldType : int {
  ftUnknown = 0,
  ftString = 1,
  ftSmallint = 2,
  ftInteger = 3,
  ftWord = 4,
  ftBoolean = 5,
  ftFloat = 6,
  ftCurrency = 7,
  ftBCD = 8,
  ftDate = 9,
  ftTime = 10,
  ftDateTime = 11,
  ftBytes = 12,
  ftVarBytes = 13,
  ftAutoInc = 14,
  ftBlob = 15,
  ftMemo = 16,
  ftGraphic = 17,
  ftFmtMemo = 18,
  ftParadoxOle = 19,
  ftDBaseOle = 20,
  ftTypedBinary = 21,
  ftCursor = 22,
  ftFixedChar = 23,
  ftWideString = 24,
  ftLargeint = 25,
  ftADT = 26,
  ftArray = 27,
  ftReference = 28,
  ftDataSet = 29,
  ftOraBlob = 30,
  ftOraClob = 31,
  ftVariant = 32,
  ftInterface = 33,
  ftIDispatch = 34,
  ftGuid = 35,
  ftTimeStamp = 36,
  ftFMTBcd = 37,
};
using enum TFieldType;
// "String", "SmallInt", ... as messages name the types.
const char* FieldTypeName(TFieldType type);
bool IsBlobType(TFieldType type);

enum class TDataSetState : int {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsCurValue,
  dsBlockRead,
  dsInternalCalc,
  dsOpening,
};
using enum TDataSetState;

enum class TDataEvent : int {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFieldListChange,
  deFocusControl,
  deParentScroll,
  deConnectChange,
  deReconcileError,
  deDisabledStateChange,
};
using enum TDataEvent;

enum class TGetMode : int { gmCurrent, gmNext, gmPrior };
using enum TGetMode;
// Values as the dataset operations answer them: ok 0, at beginning 1, at end 2, error 3.
enum class TGetResult : int { grOK = 0, grBOF = 1, grEOF = 2, grError = 3 };
using enum TGetResult;
// Values as record buffers store them: current 0, before first 1, after last 2, inserted 3.
enum class TBookmarkFlag : int { bfCurrent = 0, bfBOF = 1, bfEOF = 2, bfInserted = 3 };
using enum TBookmarkFlag;

enum class TResyncModeFlag : int { rmExact, rmCenter };
using enum TResyncModeFlag;
using TResyncMode = TSet<TResyncModeFlag>;

// Answer of an error event: fail 0 (raise), abort 1 (leave quietly), retry 2.
enum class TDataAction : int { daFail = 0, daAbort = 1, daRetry = 2 };
using enum TDataAction;

enum class TLocateOption : int { loCaseInsensitive, loPartialKey };
using enum TLocateOption;
using TLocateOptions = TSet<TLocateOption>;

enum class TFilterOption : int { foCaseInsensitive, foNoPartialCompare };
using enum TFilterOption;
using TFilterOptions = TSet<TFilterOption>;

enum class TFieldKind : int { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
using enum TFieldKind;

enum class TFieldAttribute : int {
  faHiddenCol,
  faReadonly,
  faRequired,
  faLink,
  faUnNamed,
  faFixed
};
using enum TFieldAttribute;
using TFieldAttributes = TSet<TFieldAttribute>;

enum class TIndexOption : int {
  ixPrimary = 0,
  ixUnique = 1,
  ixDescending = 2,
  ixCaseInsensitive = 3,
  ixExpression = 4,
  ixNonMaintained = 5,
};
using enum TIndexOption;
using TIndexOptions = TSet<TIndexOption>;

enum class TBlobStreamMode : int { bmRead = 0, bmWrite = 1, bmReadWrite = 2 };
using enum TBlobStreamMode;

enum class TParamType : int { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };
using enum TParamType;

enum class TAlignment : int { taLeftJustify, taRightJustify, taCenter };
using enum TAlignment;

// A record buffer is a block whose layout belongs to the dataset class; the framework only
// keeps, rotates and hands back the pointers AllocRecordBuffer gave it.
using TRecordBuffer = std::uint8_t*;
// A bookmark: BookmarkSize() bytes of the dataset's choosing; empty means "no bookmark".
using TBookmark = std::vector<std::uint8_t>;
// The same bytes as a string (the `Bookmark` property).
using TBookmarkStr = std::string;

// The characters a field accepts as input (bytes; UTF-8 continuation bytes count as themselves).
using TFieldChars = std::bitset<256>;
TFieldChars FieldChars(std::string_view characters);
TFieldChars AllFieldChars();

class TDataSet;
class TField;
class TFields;
class TFieldDefs;
class TIndexDefs;
class TDataSource;
class TDataLink;

// ---------------------------------------------------------------------------------------------
// Field definitions

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, std::string name, TFieldType type, int size, bool required,
            int field_no);
  ~TFieldDef();

  TFieldDefs* Collection() const { return owner_; }
  TDataSet* DataSet() const;
  int Index() const;

  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  const std::string& DisplayName() const { return name_; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType type) { data_type_ = type; }
  int Size() const { return size_; }
  void SetSize(int size) { size_ = size; }
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  TFieldAttributes Attributes() const { return attributes_; }
  void SetAttributes(TFieldAttributes attributes) { attributes_ = attributes; }
  // Required is the faRequired attribute.
  bool Required() const { return attributes_.Contains(faRequired); }
  void SetRequired(bool required);
  int FieldNo() const { return field_no_; }
  void SetFieldNo(int field_no) { field_no_ = field_no; }
  bool InternalCalcField() const { return internal_calc_; }
  void SetInternalCalcField(bool value) { internal_calc_ = value; }

  bool HasChildDefs() const;
  // Created on first use; owned by this definition.
  TFieldDefs& ChildDefs();
  const TFieldDefs* ChildDefsIfAny() const { return child_defs_.get(); }

  // Copies name, data type, size, precision, attributes, the internal-calc flag and the
  // child definitions (deeply). FieldNo stays the position of this definition.
  void Assign(const TFieldDef& source);

  // Creates the field object of this definition's type for `dataset`, owned by `owner`;
  // raises "Field '<name>' is of an unknown type" for types without a field class.
  TField* CreateField(TComponent* owner, TDataSet* dataset) const;

 private:
  TFieldDefs* owner_;
  std::string name_;
  TFieldType data_type_;
  int size_;
  int precision_ = 0;
  TFieldAttributes attributes_;
  int field_no_;
  bool internal_calc_ = false;
  std::unique_ptr<TFieldDefs> child_defs_;
};

// An ordered collection of field definitions belonging to a dataset (a free-standing one may
// belong to a dataset that never opens, such as TDummyDataset).
class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset, TFieldDef* parent = nullptr);
  ~TFieldDefs();
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  TFieldDef* ParentDef() const { return parent_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  TFieldDef& Items(int index) const;
  TFieldDef& operator[](int index) const { return Items(index); }

  // Appends a definition. Raises "Field name missing" for an empty name and
  // "Duplicate field name '<name>'" when the name is taken (without regard to case).
  TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
  // Appends an unnamed definition of type ftUnknown (its properties are then set one by one).
  TFieldDef& AddFieldDef();
  void Delete(int index);
  void Clear();
  // Replaces the contents with copies of every definition of `source`, in order.
  void Assign(const TFieldDefs& source);

  int IndexOf(std::string_view name) const;
  TFieldDef* FindDef(std::string_view name) const;
  // Raises "Field '<name>' not found".
  TFieldDef& Find(std::string_view name) const;

  // Asks the dataset to rebuild the definitions (its InitFieldDefs) unless they are up to date.
  void Update();
  bool Updated() const { return updated_; }
  void SetUpdated(bool value) { updated_ = value; }
  // Renumbers FieldNo as position + 1.
  void Renumber();

 private:
  TDataSet* dataset_;
  TFieldDef* parent_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
};

// ---------------------------------------------------------------------------------------------
// Index definitions

class TIndexDefs;

class TIndexDef {
 public:
  TIndexDef(TIndexDefs* owner, std::string name, std::string fields, TIndexOptions options);

  TIndexDefs* Collection() const { return owner_; }
  int Index() const;
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  // Field names separated by ";".
  const std::string& Fields() const { return fields_; }
  void SetFields(std::string fields) { fields_ = std::move(fields); }
  const std::string& DescFields() const { return desc_fields_; }
  void SetDescFields(std::string fields) { desc_fields_ = std::move(fields); }
  const std::string& CaseInsFields() const { return case_ins_fields_; }
  void SetCaseInsFields(std::string fields) { case_ins_fields_ = std::move(fields); }
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions options) { options_ = options; }
  const std::string& Expression() const { return expression_; }
  void SetExpression(std::string expression) { expression_ = std::move(expression); }
  const std::string& Source() const { return source_; }
  void SetSource(std::string source) { source_ = std::move(source); }
  int GroupingLevel() const { return grouping_level_; }
  void SetGroupingLevel(int level) { grouping_level_ = level; }

  // Copies name, fields, descending and case-insensitive fields, options, expression, source
  // and grouping level.
  void Assign(const TIndexDef& source);

 private:
  TIndexDefs* owner_;
  std::string name_;
  std::string fields_;
  std::string desc_fields_;
  std::string case_ins_fields_;
  TIndexOptions options_;
  std::string expression_;
  std::string source_;
  int grouping_level_ = 0;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet* dataset);
  virtual ~TIndexDefs();
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  TIndexDef& Items(int index) const;
  TIndexDef& operator[](int index) const { return Items(index); }

  // Appends a definition; raises "Duplicate index name '<name>'" when a definition of that
  // name (without regard to case) exists. A derived collection may hide this with its own Add.
  TIndexDef& Add(const std::string& name, const std::string& fields, TIndexOptions options);
  // Appends an unnamed definition without the duplicate check (used by Assign).
  TIndexDef& AddIndexDef();
  void Delete(int index);
  void Clear();
  // Replaces the contents with copies of every definition of `source`, in order; never goes
  // through Add, so a derived Add with side effects is not triggered.
  void Assign(const TIndexDefs& source);

  int IndexOf(std::string_view name) const;
  TIndexDef* FindIndexDef(std::string_view name) const;
  // Raises "Index '<name>' not found".
  TIndexDef& Find(std::string_view name) const;
  // The first index whose leading fields are `fields` (";"-separated), preferring a primary
  // or an exact match; null when none.
  TIndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive) const;

  // Asks the dataset to rebuild the definitions (UpdateIndexDefs).
  void Update();
  bool Updated() const { return updated_; }
  void SetUpdated(bool value) { updated_ = value; }

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
};

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

// Field and index definitions: what a dataset's table has, apart from the field objects.
#pragma once

#include <string>
#include <vector>

#include "dataset/types.h"

namespace ds {

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

}  // namespace ds

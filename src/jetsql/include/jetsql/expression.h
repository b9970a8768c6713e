// Criteria, filters and sort clauses over the rows of a recordset.
//
// A recordset compiles its Filter text, a Find criteria or its Sort clause once against its
// list of fields, then applies it to as many rows as it likes through RowView. Compiling
// reports every error DAO would report when the text is first used:
//  - a Find criteria (TextKind::kCriteria): syntax errors are 3077 "... in expression.",
//    an unknown field is 3070;
//  - a Filter or Sort (TextKind::kFilter): syntax errors are 3075 "... in query expression
//    '<text>'.", unknown names are parameters nobody can supply, so 3061 "Too few
//    parameters. Expected n.".
// Evaluation raises 3464 when a row's value cannot be compared with the criteria's (text
// that is no number against a number column), and VBA's errors for arithmetic faults.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "jetsql/errors.h"
#include "jetsql/types.h"

namespace jetsql {

enum class TextKind : std::uint8_t {
  kCriteria,  // Find*, validation rules: a stand-alone expression
  kFilter,    // Filter, and expressions cut from an SQL statement
};

class CompiledExpression {
 public:
  CompiledExpression();
  ~CompiledExpression();
  CompiledExpression(const CompiledExpression&);
  CompiledExpression& operator=(const CompiledExpression&);

  static CompiledExpression Compile(std::string_view text, const std::vector<ColumnInfo>& columns,
                                    TextKind kind = TextKind::kFilter,
                                    std::string_view source = kSourceRecordset);

  // The expression's value for a row.
  core::Variant Evaluate(const RowView& row) const;
  // Whether the row satisfies it as a condition: only True counts, Null and False do not.
  bool Matches(const RowView& row) const;

  const std::string& Text() const;
  // The type of the value, when it can be known without a row (kValue otherwise).
  DataType Type() const;
  bool IsValid() const { return impl_ != nullptr; }

 private:
  struct Impl;
  std::shared_ptr<const Impl> impl_;
};

// A compiled Sort clause ("LastName, HireDate DESC") or ORDER BY list. Text sorts by the
// database's sort order without regard to case, Null first ascending and last descending,
// numbers before text. Sorting a Memo or OLE column raises 3117.
class SortSpec {
 public:
  SortSpec();
  ~SortSpec();
  SortSpec(const SortSpec&);
  SortSpec& operator=(const SortSpec&);

  static SortSpec Compile(std::string_view sort_text, const std::vector<ColumnInfo>& columns,
                          std::string_view source = kSourceRecordset);

  // Appends the row's key: byte strings whose memcmp order is the sort order.
  void AppendKey(const RowView& row, std::string& key) const;
  // -1, 0 or 1.
  int Compare(const RowView& a, const RowView& b) const;
  const std::string& Text() const;
  bool IsEmpty() const;

 private:
  struct Impl;
  std::shared_ptr<const Impl> impl_;
};

// Appends one value's sort-key segment (see SortSpec); shared with the SELECT engine.
void AppendSortKey(const core::Variant& value, bool descending, std::string& key);

}  // namespace jetsql

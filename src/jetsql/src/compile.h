// Compiled expressions: the parsed tree with names bound to column positions or parameter
// slots, functions looked up, constant parts folded and LIKE patterns prepared, so that a
// filter runs over a million rows without re-reading anything. Private to the layer.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"
#include "functions.h"
#include "jetsql/types.h"

namespace jetsql::detail {

// What an evaluation may read besides the row.
struct EvalState {
  CallContext call;
  const std::vector<core::Variant>* parameters = nullptr;
  const std::vector<core::Variant>* aggregates = nullptr;  // the current group's results
};

class Expr {
 public:
  virtual ~Expr() = default;
  virtual core::Variant Eval(const RowView& row, const EvalState& state) const = 0;

  bool constant = false;             // a literal, or folded from literals
  bool literal_like = false;         // constant or parameter: a value given with the statement
  int column = -1;                   // >= 0 for a plain column reference
  DataType type = DataType::kValue;  // what it yields, when known
};
using ExprPtr = std::unique_ptr<Expr>;

enum class AggregateKind : std::uint8_t {
  kCount,      // Count(expr): non-Null values
  kCountRows,  // Count(*)
  kSum,
  kAvg,
  kMin,
  kMax,
  kFirst,
  kLast,
  kStDev,
  kStDevP,
  kVar,
  kVarP,
};

// Name resolution for one compilation.
class Binder {
 public:
  virtual ~Binder() = default;
  // The column for a (possibly qualified) name, or -1 when no column has it. Raises 3079 when
  // an unqualified name is in more than one table.
  virtual int ResolveColumn(const std::vector<std::string>& parts) = 0;
  // A name that is no column: a parameter slot, or an error (3070 in criteria).
  virtual int ResolveUnknown(const std::vector<std::string>& parts) = 0;
  // An aggregate call; returns its slot in EvalState::aggregates. The default refuses it.
  virtual int AddAggregate(AggregateKind kind, ExprPtr argument, const Node& call);
  // The type of a column, for result types.
  virtual DataType ColumnType(int column) const { return (void)column, DataType::kValue; }
};

// Compiles a parsed expression. Raises SyntaxError for malformed use (wrong number of
// arguments, a misplaced *), SqlError 3085 for an unknown function and whatever the binder
// raises for names.
ExprPtr Compile(const Node& node, Binder& binder, std::string_view source);

// A column reference, for callers that build expressions themselves.
ExprPtr MakeColumn(int column, DataType type);

// Whether the tree contains an aggregate call (Count, Sum, ...).
bool IsAggregateName(std::string_view name, AggregateKind* kind = nullptr);

}  // namespace jetsql::detail

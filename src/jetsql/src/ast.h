// Parsed forms of expressions and SELECT statements. Private to the layer.
//
// Nodes keep the byte range of the text they came from, so errors can quote the expression
// as written and stored queries can keep each part's text as the user wrote it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/variant.h"
#include "jetsql/types.h"

namespace jetsql::detail {

enum class NodeKind : std::uint8_t {
  kLiteral,  // `value` (a GUID literal has `guid` set and sixteen bytes)
  kName,     // `parts`: column, table.column, ...
  kStar,     // "*" or "table.*" (`parts` holds the table) in a select list or Count(*)
  kUnary,    // `op` kNeg, kPlus or kNot on children[0]
  kBinary,   // `op` on children[0] and children[1]
  kLike,     // children[0] [Not] Like children[1]
  kBetween,  // children[0] [Not] Between children[1] And children[2]
  kIn,       // children[0] [Not] In (children[1], ...)
  kIsNull,   // children[0] Is [Not] Null
  kCall,     // `function`(children...)
};

enum class Op : std::uint8_t {
  kNone,
  kNeg,
  kPlus,
  kNot,
  kPow,
  kMul,
  kDiv,
  kIntDiv,
  kMod,
  kAdd,
  kSub,
  kConcat,
  kEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kAnd,
  kOr,
  kXor,
  kEqv,
  kImp,
};

struct Node;
using NodePtr = std::unique_ptr<Node>;

struct Node {
  NodeKind kind = NodeKind::kLiteral;
  Op op = Op::kNone;
  bool negated = false;
  bool guid = false;
  core::Variant value;
  std::vector<std::string> parts;
  std::string function;
  std::size_t begin = 0;
  std::size_t end = 0;
  int height = 1;  // levels of nodes down to the deepest leaf
  std::vector<NodePtr> children;
};

enum class JoinType : std::uint8_t { kInner = 1, kLeft = 2, kRight = 3 };

struct FromItem;
using FromItemPtr = std::unique_ptr<FromItem>;

// A table (or stored query) with its alias, or a join of two items.
struct FromItem {
  bool is_join = false;
  std::string name;   // table or query name
  std::string alias;  // empty when none was given
  JoinType join = JoinType::kInner;
  FromItemPtr left, right;
  NodePtr on;
  std::string on_text;
};

struct SelectItem {
  NodePtr expr;
  std::string alias;
  std::string text;  // the expression as written
};

struct OrderItem {
  NodePtr expr;
  bool descending = false;
  std::string text;
};

struct ParameterDecl {
  std::string name;
  DataType type = DataType::kValue;
  int size = 0;  // Text(n); 0 when not given
};

enum class Predicate : std::uint8_t { kAll, kDistinct, kDistinctRow };

struct SelectStatement {
  std::vector<ParameterDecl> parameters;
  Predicate predicate = Predicate::kAll;
  bool has_top = false;
  bool top_percent = false;
  double top = 0;
  std::string top_text;
  std::vector<SelectItem> items;
  std::vector<FromItemPtr> from;
  NodePtr where;
  std::string where_text;
  std::vector<NodePtr> group_by;
  std::vector<std::string> group_texts;
  NodePtr having;
  std::string having_text;
  std::vector<OrderItem> order_by;
  bool owner_access = false;
};

}  // namespace jetsql::detail

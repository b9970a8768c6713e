#include "jetsql/select.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "binders.h"
#include "compile.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"
#include "jetsql/expression.h"
#include "parser.h"
#include "values.h"

namespace jetsql {

using core::Variant;
using detail::ExprPtr;
using detail::Node;
using detail::NodeKind;

namespace {

// ---- the statement after binding ----

struct Source {
  std::string alias;
  std::shared_ptr<TableSource> table;    // a table of the catalog
  std::shared_ptr<PreparedQuery> query;  // or a stored query run when the statement runs
  std::vector<ColumnInfo> columns;
  std::size_t offset = 0;  // first column in the combined row
};

struct JoinTree {
  bool is_join = false;
  std::size_t source = 0;  // leaf
  detail::JoinType type = detail::JoinType::kInner;
  std::unique_ptr<JoinTree> left, right;
  ExprPtr on;
  int left_key = -1, right_key = -1;  // an equality the join can hash on
  std::vector<std::size_t> sources;   // every source under this node
};

struct Aggregate {
  detail::AggregateKind kind;
  ExprPtr argument;
};

struct Output {
  ExprPtr expr;
  ResultColumn info;
};

struct OrderKey {
  ExprPtr expr;
  bool descending = false;
};

// An index range the scan can use: bounds on the first column of an index.
struct IndexPlan {
  bool use = false;
  std::size_t index = 0;
  DataType type = DataType::kValue;
  ExprPtr low, high;  // null when open
  bool low_inclusive = true, high_inclusive = true;
};

struct Compiled {
  std::string sql;
  jet::SortOrder text_order = jet::kGeneralSortOrder;  // what text compares in
  std::vector<ParameterInfo> parameters;
  std::vector<Source> sources;
  std::vector<std::unique_ptr<JoinTree>> from;  // comma-separated items
  std::vector<ColumnInfo> combined;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
  std::vector<Aggregate> aggregates;
  bool grouped = false;  // GROUP BY or aggregates
  std::vector<Output> outputs;
  std::vector<OrderKey> order;
  detail::Predicate predicate = detail::Predicate::kAll;
  bool has_top = false, top_percent = false;
  double top = 0;
  IndexPlan plan;
};

// ---- name resolution for a statement ----

class SelectBinder final : public detail::Binder {
 public:
  SelectBinder(Compiled& c) : c_(c) {}

  void AllowAggregates(bool allow, std::string clause_text) {
    allow_aggregates_ = allow;
    clause_text_ = std::move(clause_text);
  }

  int ResolveColumn(const std::vector<std::string>& parts) override {
    return detail::FindColumn(c_.combined, parts);
  }

  int ResolveUnknown(const std::vector<std::string>& parts) override {
    const std::string name = detail::JoinName(parts);
    for (std::size_t i = 0; i < c_.parameters.size(); ++i) {
      if (NamesEqual(c_.parameters[i].name, name)) return static_cast<int>(i);
    }
    ParameterInfo p;
    p.name = name;
    c_.parameters.push_back(std::move(p));
    return static_cast<int>(c_.parameters.size() - 1);
  }

  int AddAggregate(detail::AggregateKind kind, ExprPtr argument, const Node& call) override {
    (void)call;
    if (!allow_aggregates_) ThrowError(dao_error::kAggregateInWhere, clause_text_);
    c_.aggregates.push_back(Aggregate{kind, std::move(argument)});
    c_.grouped = true;
    return static_cast<int>(c_.aggregates.size() - 1);
  }

  DataType ColumnType(int column) const override {
    return c_.combined[static_cast<std::size_t>(column)].type;
  }

 private:
  Compiled& c_;
  bool allow_aggregates_ = false;
  std::string clause_text_;
};

// Compiles one expression of the statement; syntax errors quote its text (3075).
ExprPtr CompileClause(const Node& node, SelectBinder& binder, std::string_view sql,
                      std::string_view text) {
  try {
    return detail::Compile(node, binder, sql);
  } catch (const detail::SyntaxError& e) {
    ThrowError(dao_error::kQueryExpression, e.phrase, text);
  }
}

// The ways two texts of an expression count as the same in GROUP BY and DISTINCT checks.
std::string Normalized(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' || c == '[' || c == ']' || c == '(' || c == ')') continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// Raises 3122 when a column is used outside an aggregate without being grouped.
void CheckGrouped(const Node& n, std::string_view sql, const std::vector<int>& grouped_columns,
                  const std::vector<std::string>& grouped_texts, SelectBinder& binder,
                  std::string_view item_text) {
  if (n.kind == NodeKind::kCall && detail::IsAggregateName(n.function)) return;
  const std::string text = Normalized(detail::NodeText(sql, n));
  for (const std::string& g : grouped_texts) {
    if (g == text) return;
  }
  if (n.kind == NodeKind::kName) {
    const int column = binder.ResolveColumn(n.parts);
    if (column < 0) return;  // a parameter
    if (std::find(grouped_columns.begin(), grouped_columns.end(), column) ==
        grouped_columns.end()) {
      ThrowError(dao_error::kNotInAggregate, item_text);
    }
    return;
  }
  if (n.kind == NodeKind::kStar) ThrowError(dao_error::kNotInAggregate, item_text);
  for (const auto& child : n.children) {
    CheckGrouped(*child, sql, grouped_columns, grouped_texts, binder, item_text);
  }
}

void Flatten(const Node& n, std::vector<const Node*>& conjuncts) {
  if (n.kind == NodeKind::kBinary && n.op == detail::Op::kAnd) {
    Flatten(*n.children[0], conjuncts);
    Flatten(*n.children[1], conjuncts);
    return;
  }
  conjuncts.push_back(&n);
}

// ---- compiling a statement ----

class StatementCompiler {
 public:
  StatementCompiler(Catalog& catalog, int depth) : catalog_(catalog), depth_(depth) {}

  std::shared_ptr<Compiled> Run(std::string_view sql) {
    auto c = std::make_shared<Compiled>();
    c->sql = std::string(sql);
    detail::SelectStatement s = detail::ParseSelect(sql);
    for (const detail::ParameterDecl& d : s.parameters) {
      ParameterInfo p;
      p.name = d.name;
      p.type = d.type;
      p.size = d.size;
      p.declared = true;
      c->parameters.push_back(std::move(p));
    }
    c->predicate = s.predicate;
    c->has_top = s.has_top;
    c->top_percent = s.top_percent;
    c->top = s.top;

    for (const detail::FromItemPtr& item : s.from) c->from.push_back(BuildTree(*c, *item));
    SelectBinder binder(*c);
    BindJoins(*c, binder, s.from);

    const std::string_view text = c->sql;
    if (s.where) {
      binder.AllowAggregates(false, s.where_text);
      c->where = CompileClause(*s.where, binder, text, s.where_text);
    }
    for (std::size_t i = 0; i < s.group_by.size(); ++i) {
      binder.AllowAggregates(false, s.group_texts[i]);
      c->group_by.push_back(CompileClause(*s.group_by[i], binder, text, s.group_texts[i]));
    }
    c->grouped = !s.group_by.empty();
    BindOutputs(*c, binder, s);
    if (s.having) {
      binder.AllowAggregates(true, s.having_text);
      c->having = CompileClause(*s.having, binder, text, s.having_text);
      c->grouped = true;
    }
    BindOrder(*c, binder, s);
    if (c->grouped) CheckGrouping(*c, binder, s);
    PlanIndex(*c, binder, s);
    c->text_order = CollationOf(c->combined);
    if (jet::IsGeneralSortOrder(c->text_order)) c->text_order = catalog_.TextOrder();
    return c;
  }

 private:
  std::unique_ptr<JoinTree> BuildTree(Compiled& c, const detail::FromItem& item) {
    auto node = std::make_unique<JoinTree>();
    if (item.is_join) {
      node->is_join = true;
      node->type = item.join;
      node->left = BuildTree(c, *item.left);
      node->right = BuildTree(c, *item.right);
      node->sources = node->left->sources;
      node->sources.insert(node->sources.end(), node->right->sources.begin(),
                           node->right->sources.end());
      return node;
    }
    Source src;
    src.alias = item.alias.empty() ? item.name : item.alias;
    for (const Source& other : c.sources) {
      if (NamesEqual(other.alias, src.alias)) ThrowError(dao_error::kFromClause);
    }
    src.table = catalog_.OpenTable(item.name);
    if (src.table) {
      src.columns = src.table->Columns();
    } else {
      std::optional<std::string> sql = catalog_.QuerySql(item.name);
      if (!sql || depth_ > 16) ThrowError(dao_error::kInputTableNotFound, item.name);
      src.query = std::make_shared<PreparedQuery>(PrepareNested(*sql));
      for (const ResultColumn& rc : PreparedColumns(*src.query)) {
        src.columns.push_back(ColumnInfo{rc.name, rc.type, src.alias, catalog_.TextOrder()});
      }
      for (const ParameterInfo& p : src.query->Parameters()) {
        const bool known =
            std::any_of(c.parameters.begin(), c.parameters.end(),
                        [&](const ParameterInfo& q) { return NamesEqual(q.name, p.name); });
        if (!known) c.parameters.push_back(p);
      }
    }
    for (ColumnInfo& col : src.columns) col.table = src.alias;
    src.offset = c.combined.size();
    c.combined.insert(c.combined.end(), src.columns.begin(), src.columns.end());
    node->source = c.sources.size();
    node->sources.push_back(node->source);
    c.sources.push_back(std::move(src));
    return node;
  }

  PreparedQuery PrepareNested(const std::string& sql) {
    return detail::PrepareAtDepth(sql, catalog_, depth_ + 1);
  }
  static const std::vector<ResultColumn>& PreparedColumns(const PreparedQuery& q) {
    return q.Columns();
  }

  void BindJoins(Compiled& c, SelectBinder& binder, const std::vector<detail::FromItemPtr>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) BindJoin(c, binder, *items[i], *c.from[i]);
  }

  void BindJoin(Compiled& c, SelectBinder& binder, const detail::FromItem& item, JoinTree& node) {
    if (!item.is_join) return;
    BindJoin(c, binder, *item.left, *node.left);
    BindJoin(c, binder, *item.right, *node.right);
    binder.AllowAggregates(false, item.on_text);
    node.on = CompileClause(*item.on, binder, c.sql, item.on_text);
    // An equality between a column of each side lets the join hash instead of looping.
    std::vector<const Node*> conjuncts;
    Flatten(*item.on, conjuncts);
    for (const Node* n : conjuncts) {
      if (n->kind != NodeKind::kBinary || n->op != detail::Op::kEq ||
          n->children[0]->kind != NodeKind::kName || n->children[1]->kind != NodeKind::kName) {
        continue;
      }
      const int a = binder.ResolveColumn(n->children[0]->parts);
      const int b = binder.ResolveColumn(n->children[1]->parts);
      if (a < 0 || b < 0) continue;
      const auto side = [&](int column, const JoinTree& t) {
        for (std::size_t s : t.sources) {
          const Source& src = c.sources[s];
          if (static_cast<std::size_t>(column) >= src.offset &&
              static_cast<std::size_t>(column) < src.offset + src.columns.size()) {
            return true;
          }
        }
        return false;
      };
      int l = -1, r = -1;
      if (side(a, *node.left) && side(b, *node.right))
        l = a, r = b;
      else if (side(b, *node.left) && side(a, *node.right))
        l = b, r = a;
      if (l < 0 || !HashCompatible(c.combined[l].type, c.combined[r].type)) continue;
      node.left_key = l;
      node.right_key = r;
      break;
    }
  }

  static int TypeClass(DataType t) {
    switch (t) {
      case DataType::kText:
      case DataType::kMemo:
        return 1;
      case DataType::kBinary:
      case DataType::kGuid:
      case DataType::kLongBinary:
      case DataType::kValue:
        return 0;
      default:
        return 2;
    }
  }

  static bool HashCompatible(DataType a, DataType b) {
    return TypeClass(a) != 0 && TypeClass(a) == TypeClass(b);
  }

  void BindOutputs(Compiled& c, SelectBinder& binder, const detail::SelectStatement& s) {
    int expression_number = 1000;
    std::vector<Output> outputs;
    for (const detail::SelectItem& item : s.items) {
      if (item.expr->kind == NodeKind::kStar) {
        bool any = false;
        for (const Source& src : c.sources) {
          if (!item.expr->parts.empty() && !NamesEqual(item.expr->parts.back(), src.alias))
            continue;
          any = true;
          for (std::size_t i = 0; i < src.columns.size(); ++i) {
            Output o;
            const int column = static_cast<int>(src.offset + i);
            o.expr = detail::MakeColumn(column, src.columns[i].type);
            o.info.name = src.columns[i].name;
            o.info.type = src.columns[i].type;
            o.info.table = src.alias;
            o.info.source_column = src.columns[i].name;
            o.info.base_column = static_cast<int>(i);
            outputs.push_back(std::move(o));
          }
        }
        if (!any) ThrowError(dao_error::kSelectStatement);
        continue;
      }
      binder.AllowAggregates(true, item.text);
      Output o;
      o.expr = CompileClause(*item.expr, binder, c.sql, item.text);
      o.info.type = o.expr->type;
      if (o.expr->column >= 0) {
        const ColumnInfo& col = c.combined[static_cast<std::size_t>(o.expr->column)];
        o.info.table = col.table;
        o.info.source_column = col.name;
        o.info.base_column = static_cast<int>(static_cast<std::size_t>(o.expr->column) -
                                              SourceOf(c, o.expr->column).offset);
        o.info.name = col.name;
      }
      if (!item.alias.empty()) {
        o.info.name = item.alias;
      } else if (o.expr->column < 0) {
        o.info.name = "Expr" + std::to_string(expression_number++);
      }
      outputs.push_back(std::move(o));
    }
    // Two outputs of the same name from different tables are told apart by the table.
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      for (std::size_t j = 0; j < outputs.size(); ++j) {
        if (i != j && NamesEqual(outputs[i].info.name, outputs[j].info.name) &&
            !outputs[i].info.table.empty() && !outputs[j].info.table.empty() &&
            !NamesEqual(outputs[i].info.table, outputs[j].info.table) &&
            outputs[i].info.name == outputs[i].info.source_column) {
          outputs[i].info.name = outputs[i].info.table + "." + outputs[i].info.source_column;
          break;
        }
      }
    }
    const bool single = c.sources.size() == 1 && c.sources[0].table != nullptr;
    for (Output& o : outputs) o.info.updatable = single && o.expr->column >= 0;
    c.outputs = std::move(outputs);
  }

  static const Source& SourceOf(const Compiled& c, int column) {
    for (const Source& s : c.sources) {
      if (static_cast<std::size_t>(column) >= s.offset &&
          static_cast<std::size_t>(column) < s.offset + s.columns.size()) {
        return s;
      }
    }
    return c.sources.front();
  }

  void BindOrder(Compiled& c, SelectBinder& binder, const detail::SelectStatement& s) {
    for (const detail::OrderItem& item : s.order_by) {
      OrderKey key;
      key.descending = item.descending;
      const Node& n = *item.expr;
      if (n.kind == NodeKind::kLiteral && n.value.Type() == core::VarType::Long) {
        const std::int64_t k = n.value.ToInt64();
        if (k < 1 || static_cast<std::size_t>(k) > c.outputs.size()) {
          ThrowError(dao_error::kOrderByClause);
        }
        key.expr = CloneOutput(c, static_cast<std::size_t>(k - 1), binder, s);
      } else if (n.kind == NodeKind::kName && n.parts.size() == 1 &&
                 binder.ResolveColumn(n.parts) < 0 && OutputByAlias(c, n.parts[0]) >= 0) {
        key.expr =
            CloneOutput(c, static_cast<std::size_t>(OutputByAlias(c, n.parts[0])), binder, s);
      } else {
        binder.AllowAggregates(c.grouped, item.text);
        key.expr = CompileClause(n, binder, c.sql, item.text);
      }
      if (key.expr->column >= 0) {
        const ColumnInfo& col = c.combined[static_cast<std::size_t>(key.expr->column)];
        if (col.type == DataType::kMemo || col.type == DataType::kLongBinary) {
          ThrowError(dao_error::kCannotSortMemo, col.name);
        }
      }
      if (c.predicate == detail::Predicate::kDistinct && !IsSelected(c, s, *key.expr, item.text)) {
        ThrowError(dao_error::kDistinctOrderBy, item.text);
      }
      c.order.push_back(std::move(key));
    }
  }

  static int OutputByAlias(const Compiled& c, const std::string& name) {
    for (std::size_t i = 0; i < c.outputs.size(); ++i) {
      if (NamesEqual(c.outputs[i].info.name, name)) return static_cast<int>(i);
    }
    return -1;
  }

  // A second compiled copy of output k (outputs own their expressions).
  ExprPtr CloneOutput(Compiled& c, std::size_t k, SelectBinder& binder,
                      const detail::SelectStatement& s) {
    const Output& o = c.outputs[k];
    if (o.expr->column >= 0) return detail::MakeColumn(o.expr->column, o.info.type);
    // Find the select item that produced it.
    std::size_t index = 0;
    for (const detail::SelectItem& item : s.items) {
      if (item.expr->kind == NodeKind::kStar) {
        for (const Source& src : c.sources) {
          if (item.expr->parts.empty() || NamesEqual(item.expr->parts.back(), src.alias)) {
            index += src.columns.size();
          }
        }
        continue;
      }
      if (index == k) {
        binder.AllowAggregates(true, item.text);
        return CompileClause(*item.expr, binder, c.sql, item.text);
      }
      ++index;
    }
    ThrowError(dao_error::kOrderByClause);
  }

  static bool IsSelected(const Compiled& c, const detail::SelectStatement& s, const detail::Expr& e,
                         const std::string& text) {
    for (const Output& o : c.outputs) {
      if (e.column >= 0 && o.expr->column == e.column) return true;
    }
    const std::string wanted = Normalized(text);
    for (const detail::SelectItem& item : s.items) {
      if (Normalized(item.text) == wanted ||
          (!item.alias.empty() && Normalized(item.alias) == wanted)) {
        return true;
      }
    }
    return false;
  }

  void CheckGrouping(Compiled& c, SelectBinder& binder, const detail::SelectStatement& s) {
    std::vector<int> columns;
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < c.group_by.size(); ++i) {
      if (c.group_by[i]->column >= 0) columns.push_back(c.group_by[i]->column);
      texts.push_back(Normalized(s.group_texts[i]));
    }
    for (const detail::SelectItem& item : s.items) {
      CheckGrouped(*item.expr, c.sql, columns, texts, binder, item.text);
    }
    if (s.having) CheckGrouped(*s.having, c.sql, columns, texts, binder, s.having_text);
    for (const detail::OrderItem& item : s.order_by) {
      if (item.expr->kind == NodeKind::kLiteral) continue;
      if (item.expr->kind == NodeKind::kName && item.expr->parts.size() == 1 &&
          binder.ResolveColumn(item.expr->parts) < 0) {
        continue;  // an output alias, checked with its item
      }
      CheckGrouped(*item.expr, c.sql, columns, texts, binder, item.text);
    }
  }

  // Chooses an index range for a one-table statement from the WHERE clause's conjuncts of
  // the form column op constant.
  void PlanIndex(Compiled& c, SelectBinder& binder, const detail::SelectStatement& s) {
    if (!s.where || c.sources.size() != 1 || !c.sources[0].table) return;
    const std::vector<IndexInfo> indexes = c.sources[0].table->Indexes();
    if (indexes.empty()) return;
    std::vector<const Node*> conjuncts;
    Flatten(*s.where, conjuncts);

    struct Candidate {
      int column = -1;
      const Node* low = nullptr;
      const Node* high = nullptr;
      bool low_inclusive = true, high_inclusive = true;
      bool equality = false;
    };
    auto is_value = [&](const Node& n) {
      if (n.kind == NodeKind::kLiteral) return !n.value.IsNull();
      if (n.kind == NodeKind::kUnary && n.op == detail::Op::kNeg) {
        return n.children[0]->kind == NodeKind::kLiteral;
      }
      return n.kind == NodeKind::kName && binder.ResolveColumn(n.parts) < 0;
    };
    auto column_of = [&](const Node& n) {
      return n.kind == NodeKind::kName ? binder.ResolveColumn(n.parts) : -1;
    };
    std::vector<Candidate> found;
    for (const Node* n : conjuncts) {
      Candidate cand;
      if (n->kind == NodeKind::kBinary &&
          (n->op == detail::Op::kEq || n->op == detail::Op::kLt || n->op == detail::Op::kLe ||
           n->op == detail::Op::kGt || n->op == detail::Op::kGe)) {
        detail::Op op = n->op;
        const Node* col = n->children[0].get();
        const Node* val = n->children[1].get();
        if (column_of(*col) < 0 || !is_value(*val)) {
          std::swap(col, val);
          if (op == detail::Op::kLt)
            op = detail::Op::kGt;
          else if (op == detail::Op::kLe)
            op = detail::Op::kGe;
          else if (op == detail::Op::kGt)
            op = detail::Op::kLt;
          else if (op == detail::Op::kGe)
            op = detail::Op::kLe;
        }
        cand.column = column_of(*col);
        if (cand.column < 0 || !is_value(*val)) continue;
        switch (op) {
          case detail::Op::kEq:
            cand.low = cand.high = val;
            cand.equality = true;
            break;
          case detail::Op::kGt:
          case detail::Op::kGe:
            cand.low = val;
            cand.low_inclusive = op == detail::Op::kGe;
            break;
          default:
            cand.high = val;
            cand.high_inclusive = op == detail::Op::kLe;
            break;
        }
      } else if (n->kind == NodeKind::kBetween && !n->negated) {
        cand.column = column_of(*n->children[0]);
        if (cand.column < 0 || n->children[1]->kind != NodeKind::kLiteral ||
            n->children[2]->kind != NodeKind::kLiteral) {
          continue;
        }
        // Literal bounds only, so their order is known now.
        const std::optional<int> order =
            detail::CompareValues(n->children[1]->value, n->children[2]->value, true, true);
        if (!order) continue;
        cand.low = n->children[*order > 0 ? 2 : 1].get();
        cand.high = n->children[*order > 0 ? 1 : 2].get();
      } else {
        continue;
      }
      found.push_back(cand);
    }
    // Equalities first, then ranges; the first index led by such a column wins.
    std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
      return a.equality > b.equality;
    });
    for (const Candidate& cand : found) {
      const ColumnInfo& col = c.combined[static_cast<std::size_t>(cand.column)];
      if (col.type == DataType::kValue || col.type == DataType::kMemo ||
          col.type == DataType::kLongBinary) {
        continue;
      }
      for (std::size_t i = 0; i < indexes.size(); ++i) {
        if (indexes[i].columns.empty() || indexes[i].columns[0] != cand.column) continue;
        c.plan.use = true;
        c.plan.index = i;
        c.plan.type = col.type;
        binder.AllowAggregates(false, s.where_text);
        if (cand.low) c.plan.low = CompileClause(*cand.low, binder, c.sql, s.where_text);
        if (cand.high) c.plan.high = CompileClause(*cand.high, binder, c.sql, s.where_text);
        c.plan.low_inclusive = cand.low_inclusive;
        c.plan.high_inclusive = cand.high_inclusive;
        // Further conjuncts on the same column narrow the range.
        for (const Candidate& other : found) {
          if (&other == &cand || other.column != cand.column || other.equality) continue;
          if (cand.equality) break;
          if (other.low && !c.plan.low) {
            c.plan.low = CompileClause(*other.low, binder, c.sql, s.where_text);
            c.plan.low_inclusive = other.low_inclusive;
          }
          if (other.high && !c.plan.high) {
            c.plan.high = CompileClause(*other.high, binder, c.sql, s.where_text);
            c.plan.high_inclusive = other.high_inclusive;
          }
        }
        return;
      }
    }
  }

  Catalog& catalog_;
  int depth_;
};

// ---- running a statement ----

struct Accumulator {
  std::int64_t count = 0;
  Variant value;  // sum, min, max, first, last
  double sum = 0, mean = 0, m2 = 0;
};

void Accumulate(const Aggregate& a, const Variant& v, Accumulator& acc) {
  if (a.kind == detail::AggregateKind::kCountRows) {
    ++acc.count;
    return;
  }
  if (v.IsNull()) return;
  ++acc.count;
  switch (a.kind) {
    case detail::AggregateKind::kSum:
      acc.value = acc.count == 1 ? detail::ToNumeric(v)
                                 : detail::Arithmetic(detail::Op::kAdd, acc.value, v);
      break;
    case detail::AggregateKind::kMin:
    case detail::AggregateKind::kMax: {
      if (acc.count == 1) {
        acc.value = v;
        break;
      }
      const std::optional<int> c = detail::CompareValues(v, acc.value);
      if (c && ((a.kind == detail::AggregateKind::kMin && *c < 0) ||
                (a.kind == detail::AggregateKind::kMax && *c > 0))) {
        acc.value = v;
      }
      break;
    }
    case detail::AggregateKind::kFirst:
      if (acc.count == 1) acc.value = v;
      break;
    case detail::AggregateKind::kLast:
      acc.value = v;
      break;
    case detail::AggregateKind::kAvg:
    case detail::AggregateKind::kVar:
    case detail::AggregateKind::kVarP:
    case detail::AggregateKind::kStDev:
    case detail::AggregateKind::kStDevP: {
      const double x = detail::NumberOf(detail::ToNumeric(v));
      acc.sum += x;
      const double delta = x - acc.mean;
      acc.mean += delta / static_cast<double>(acc.count);
      acc.m2 += delta * (x - acc.mean);
      break;
    }
    default:
      break;
  }
}

Variant Finish(const Aggregate& a, const Accumulator& acc) {
  const double n = static_cast<double>(acc.count);
  switch (a.kind) {
    case detail::AggregateKind::kCount:
    case detail::AggregateKind::kCountRows:
      return Variant::FromLong(static_cast<std::int32_t>(acc.count));
    case detail::AggregateKind::kAvg:
      return acc.count == 0 ? Variant::Null() : Variant::FromDouble(acc.sum / n);
    case detail::AggregateKind::kVar:
      return acc.count < 2 ? Variant::Null() : Variant::FromDouble(acc.m2 / (n - 1));
    case detail::AggregateKind::kVarP:
      return acc.count == 0 ? Variant::Null() : Variant::FromDouble(acc.m2 / n);
    case detail::AggregateKind::kStDev:
      return acc.count < 2 ? Variant::Null() : Variant::FromDouble(std::sqrt(acc.m2 / (n - 1)));
    case detail::AggregateKind::kStDevP:
      return acc.count == 0 ? Variant::Null() : Variant::FromDouble(std::sqrt(acc.m2 / n));
    default:
      return acc.count == 0 ? Variant::Null() : acc.value;
  }
}

using Rows = std::vector<std::vector<Variant>>;

// A row of values (a cursor's row or a joined row) as a full-width vector.
std::vector<Variant> Materialize(const RowView& row, std::size_t width) {
  std::vector<Variant> values(width);
  for (std::size_t i = 0; i < width; ++i) values[i] = row.Get(i);
  return values;
}

class OffsetRow final : public RowView {
 public:
  OffsetRow(const RowView& inner, std::size_t offset, std::size_t width)
      : inner_(inner), offset_(offset), width_(width) {}
  Variant Get(std::size_t column) const override {
    if (column < offset_ || column >= offset_ + width_) return Variant::Null();
    return inner_.Get(column - offset_);
  }

 private:
  const RowView& inner_;
  std::size_t offset_, width_;
};

}  // namespace

// ---- QueryResult ----

namespace {

struct ResultData {
  std::vector<ResultColumn> columns;
  bool updatable = false;
  std::shared_ptr<TableSource> base;
  std::vector<RowLocator> locators;
  Rows rows;
  bool by_locator = false;
  // What evaluates the outputs of a base row, for results that keep locators.
  std::shared_ptr<const Compiled> program;
  std::vector<Variant> parameters;
  double now = 0;
  jet::SortOrder text_order = jet::kGeneralSortOrder;
};

}  // namespace

struct QueryResult::Impl : ResultData {};

QueryResult::QueryResult() : impl_(std::make_unique<Impl>()) {}
QueryResult::~QueryResult() = default;
QueryResult::QueryResult(QueryResult&&) noexcept = default;
QueryResult& QueryResult::operator=(QueryResult&&) noexcept = default;

const std::vector<ResultColumn>& QueryResult::Columns() const {
  return impl_->columns;
}

std::size_t QueryResult::RowCount() const {
  return impl_->by_locator ? impl_->locators.size() : impl_->rows.size();
}

bool QueryResult::Updatable() const {
  return impl_->updatable;
}

std::shared_ptr<TableSource> QueryResult::BaseTable() const {
  return impl_->by_locator ? impl_->base : nullptr;
}

const std::vector<RowLocator>& QueryResult::Locators() const {
  static const std::vector<RowLocator> none;
  return impl_->by_locator ? impl_->locators : none;
}

bool QueryResult::ReadByLocator(RowLocator locator, std::vector<Variant>& out) const {
  if (!impl_->by_locator || !impl_->base) return false;
  const CollationScope collation(impl_->text_order);
  std::vector<Variant> base;
  if (!impl_->base->Read(locator, base)) return false;
  detail::EvalState state;
  state.call.now = impl_->now;
  state.parameters = &impl_->parameters;
  const ValuesRow row(base);
  out.clear();
  for (const Output& o : impl_->program->outputs) out.push_back(o.expr->Eval(row, state));
  return true;
}

std::vector<Variant> QueryResult::Row(std::size_t i) const {
  if (!impl_->by_locator) return i < impl_->rows.size() ? impl_->rows[i] : std::vector<Variant>{};
  std::vector<Variant> out;
  if (i >= impl_->locators.size() || !ReadByLocator(impl_->locators[i], out)) {
    out.assign(impl_->columns.size(), Variant::Null());
  }
  return out;
}

// ---- PreparedQuery ----

struct PreparedQuery::Impl {
  std::shared_ptr<Compiled> compiled;
  std::vector<ResultColumn> columns;
};

PreparedQuery::PreparedQuery() = default;
PreparedQuery::~PreparedQuery() = default;
PreparedQuery::PreparedQuery(PreparedQuery&&) noexcept = default;
PreparedQuery& PreparedQuery::operator=(PreparedQuery&&) noexcept = default;

PreparedQuery PreparedQuery::Prepare(std::string_view sql, Catalog& catalog) {
  return detail::PrepareAtDepth(sql, catalog, 0);
}

const std::vector<ResultColumn>& PreparedQuery::Columns() const {
  static const std::vector<ResultColumn> none;
  return impl_ ? impl_->columns : none;
}

const std::vector<ParameterInfo>& PreparedQuery::Parameters() const {
  static const std::vector<ParameterInfo> none;
  return impl_ ? impl_->compiled->parameters : none;
}

std::string PreparedQuery::Plan() const {
  if (!impl_) return {};
  const Compiled& c = *impl_->compiled;
  if (c.from.empty()) return "none";
  if (c.sources.size() != 1 || c.from[0]->is_join) return "join";
  const Source& s = c.sources[0];
  if (!s.table) return "query " + s.alias;
  if (c.plan.use) {
    return "index " + s.table->Indexes().at(c.plan.index).name + " of " + s.table->Name();
  }
  return "scan " + s.table->Name();
}

const std::string& PreparedQuery::Sql() const {
  static const std::string none;
  return impl_ ? impl_->compiled->sql : none;
}

namespace {

// Runs a compiled statement.
class Executor {
 public:
  Executor(const Compiled& c, const QueryOptions& options) : c_(c), options_(options) {}

  ResultData Run(std::shared_ptr<const Compiled> self) {
    const CollationScope collation(c_.text_order);
    BindParameters();
    state_.call.now = detail::CurrentDateTime();
    state_.parameters = &parameters_;

    const bool one_table = c_.sources.size() == 1 && c_.sources[0].table != nullptr &&
                           !c_.from.empty() && !c_.from[0]->is_join;
    keep_locators_ = one_table && options_.kind == ResultKind::kDynaset && !c_.grouped &&
                     c_.predicate != detail::Predicate::kDistinct;

    if (c_.from.empty()) {
      const std::vector<Variant> none;
      Process(ValuesRow(none), 0);
    } else if (one_table) {
      ScanOneTable();
    } else {
      Rows joined = JoinAll();
      for (const std::vector<Variant>& row : joined) Process(ValuesRow(row), 0);
    }
    if (c_.grouped) FinishGroups();

    ResultData result;
    ResultData& r = result;
    for (const Output& o : c_.outputs) r.columns.push_back(o.info);
    r.text_order = c_.text_order;
    r.updatable = keep_locators_;
    r.by_locator = keep_locators_;
    if (keep_locators_) {
      r.base = c_.sources[0].table;
      r.program = std::move(self);
      r.parameters = parameters_;
      r.now = state_.call.now;
    }
    if (!keep_locators_) {
      for (auto& col : r.columns) col.updatable = false;
    }

    std::vector<std::size_t> order(collected_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (c_.predicate == detail::Predicate::kDistinct) order = Distinct(order);
    if (!c_.order.empty()) {
      // Sorting moves small entries holding the keys' first sixteen bytes; only rows whose
      // keys agree that far look at the whole keys.
      struct Entry {
        std::uint64_t high, low;
        std::size_t index;
      };
      std::vector<Entry> entries;
      entries.reserve(order.size());
      for (std::size_t i : order) {
        const std::string& key = collected_[i].sort_key;
        entries.push_back(Entry{Head(key, 0), Head(key, 8), i});
      }
      std::stable_sort(entries.begin(), entries.end(), [&](const Entry& x, const Entry& y) {
        if (x.high != y.high) return x.high < y.high;
        if (x.low != y.low) return x.low < y.low;
        return collected_[x.index].sort_key < collected_[y.index].sort_key;
      });
      for (std::size_t i = 0; i < entries.size(); ++i) order[i] = entries[i].index;
    }
    if (c_.has_top) order = Top(order);
    if (options_.max_records > 0 && order.size() > static_cast<std::size_t>(options_.max_records)) {
      order.resize(static_cast<std::size_t>(options_.max_records));
    }
    if (keep_locators_) {
      r.locators.reserve(order.size());
      for (std::size_t i : order) r.locators.push_back(collected_[i].locator);
    } else {
      r.rows.reserve(order.size());
      for (std::size_t i : order) r.rows.push_back(std::move(collected_[i].values));
    }
    return result;
  }

 private:
  struct Collected {
    RowLocator locator = 0;
    std::string sort_key;
    std::vector<Variant> values;
  };

  // Eight bytes of a key from `from` on, big-endian, zeros past its end.
  static std::uint64_t Head(const std::string& key, std::size_t from) {
    std::uint64_t head = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
      head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    }
    return head;
  }
  struct Group {
    std::vector<Variant> row;
    std::vector<Accumulator> accumulators;
  };

  void BindParameters() {
    std::size_t missing = 0;
    parameters_.assign(c_.parameters.size(), Variant::Null());
    for (std::size_t i = 0; i < c_.parameters.size(); ++i) {
      const ParameterInfo& p = c_.parameters[i];
      bool found = false;
      for (const auto& [name, value] : options_.parameters) {
        if (NamesEqual(name, p.name)) {
          parameters_[i] = p.declared ? ConvertToType(value, p.type) : value;
          found = true;
          break;
        }
      }
      if (!found) ++missing;
    }
    if (missing > 0) ThrowError(dao_error::kTooFewParameters, std::to_string(missing));
  }

  void ScanOneTable() {
    TableSource& table = *c_.sources[0].table;
    std::unique_ptr<RowCursor> cursor;
    if (c_.plan.use) cursor = IndexCursor(table);
    if (!cursor) cursor = table.Scan();
    while (cursor->Next()) Process(*cursor, cursor->Locator());
  }

  // The bounds of the planned range, in the column's type. A value that does not convert
  // exactly (12.5 for a Long column) leaves the scan to the WHERE clause alone.
  std::unique_ptr<RowCursor> IndexCursor(TableSource& table) {
    KeyBound low, high;
    auto bound = [&](const ExprPtr& e, bool inclusive, KeyBound& out) {
      if (!e) return true;
      const Variant v = e->Eval(ValuesRow(none_), state_);
      if (v.IsNull()) return false;
      Variant converted;
      try {
        converted = ConvertToType(v, c_.plan.type);
        const std::optional<int> same = detail::CompareValues(converted, v, false, true);
        if (!same || *same != 0) return false;
      } catch (const core::Exception&) {
        return false;
      }
      out.present = true;
      out.inclusive = inclusive;
      out.value = std::move(converted);
      return true;
    };
    if (!bound(c_.plan.low, c_.plan.low_inclusive, low) ||
        !bound(c_.plan.high, c_.plan.high_inclusive, high)) {
      return nullptr;
    }
    return table.ScanIndex(c_.plan.index, low, high);
  }

  void Process(const RowView& row, RowLocator locator) {
    if (c_.where && !detail::IsTrue(c_.where->Eval(row, state_))) return;
    if (c_.grouped) {
      std::string key;
      for (const ExprPtr& g : c_.group_by) AppendSortKey(g->Eval(row, state_), false, key);
      auto [it, inserted] = group_index_.try_emplace(key, groups_.size());
      if (inserted) {
        Group g;
        g.row = Materialize(row, c_.combined.size());
        g.accumulators.resize(c_.aggregates.size());
        groups_.push_back(std::move(g));
      }
      Group& g = groups_[it->second];
      for (std::size_t i = 0; i < c_.aggregates.size(); ++i) {
        const Aggregate& a = c_.aggregates[i];
        const Variant v = a.argument ? a.argument->Eval(row, state_) : Variant();
        Accumulate(a, v, g.accumulators[i]);
      }
      return;
    }
    Collect(row, locator);
  }

  void Collect(const RowView& row, RowLocator locator) {
    Collected item;
    item.locator = locator;
    for (const OrderKey& k : c_.order) {
      AppendSortKey(k.expr->Eval(row, state_), k.descending, item.sort_key);
    }
    if (!keep_locators_) {
      item.values.reserve(c_.outputs.size());
      for (const Output& o : c_.outputs) item.values.push_back(o.expr->Eval(row, state_));
    }
    collected_.push_back(std::move(item));
  }

  void FinishGroups() {
    // Aggregates without GROUP BY make one group even of no rows.
    if (groups_.empty() && c_.group_by.empty()) {
      Group g;
      g.row.assign(c_.combined.size(), Variant::Null());
      g.accumulators.resize(c_.aggregates.size());
      groups_.push_back(std::move(g));
    }
    for (Group& g : groups_) {
      std::vector<Variant> results;
      for (std::size_t i = 0; i < c_.aggregates.size(); ++i) {
        results.push_back(Finish(c_.aggregates[i], g.accumulators[i]));
      }
      state_.aggregates = &results;
      const ValuesRow row(g.row);
      if (c_.having && !detail::IsTrue(c_.having->Eval(row, state_))) continue;
      Collect(row, 0);
    }
    state_.aggregates = nullptr;
  }

  std::vector<std::size_t> Distinct(const std::vector<std::size_t>& order) {
    std::unordered_set<std::string> seen;
    std::vector<std::size_t> out;
    for (std::size_t i : order) {
      std::string key;
      for (const Variant& v : collected_[i].values) AppendSortKey(v, false, key);
      if (seen.insert(std::move(key)).second) out.push_back(i);
    }
    return out;
  }

  // The first n rows (or n percent), and with ORDER BY every row tied with the last of them.
  std::vector<std::size_t> Top(std::vector<std::size_t> order) {
    std::size_t n = static_cast<std::size_t>(c_.top);
    if (c_.top_percent) {
      n = static_cast<std::size_t>(std::ceil(static_cast<double>(order.size()) * c_.top / 100.0));
    }
    if (n >= order.size()) return order;
    std::size_t keep = n;
    if (!c_.order.empty() && n > 0) {
      const std::string& last = collected_[order[n - 1]].sort_key;
      while (keep < order.size() && collected_[order[keep]].sort_key == last) ++keep;
    }
    order.resize(keep);
    return order;
  }

  // ---- joins ----

  Rows Leaf(std::size_t index) {
    const Source& src = c_.sources[index];
    std::shared_ptr<TableSource> table = src.table;
    if (!table) table = RunStoredQuery(src);
    Rows out;
    std::unique_ptr<RowCursor> cursor = table->Scan();
    while (cursor->Next()) {
      out.push_back(
          Materialize(OffsetRow(*cursor, src.offset, src.columns.size()), c_.combined.size()));
    }
    return out;
  }

  std::shared_ptr<TableSource> RunStoredQuery(const Source& src) {
    QueryOptions inner;
    inner.kind = ResultKind::kSnapshot;
    inner.parameters = options_.parameters;
    QueryResult result = src.query->Execute(inner);
    auto table = std::make_shared<MemoryTable>(src.alias, src.columns);
    for (std::size_t i = 0; i < result.RowCount(); ++i) table->AddRow(result.Row(i));
    return table;
  }

  void Merge(std::vector<Variant>& into, const std::vector<Variant>& from, const JoinTree& side) {
    for (std::size_t s : side.sources) {
      const Source& src = c_.sources[s];
      for (std::size_t i = 0; i < src.columns.size(); ++i)
        into[src.offset + i] = from[src.offset + i];
    }
  }

  Rows Evaluate(const JoinTree& node) {
    if (!node.is_join) return Leaf(node.source);
    Rows left = Evaluate(*node.left);
    Rows right = Evaluate(*node.right);
    Rows out;
    std::vector<bool> right_matched(right.size(), false);
    std::unordered_map<std::string, std::vector<std::size_t>> hash;
    const bool hashed = node.left_key >= 0;
    if (hashed) {
      for (std::size_t j = 0; j < right.size(); ++j) {
        const Variant& v = right[j][static_cast<std::size_t>(node.right_key)];
        if (v.IsNull()) continue;
        std::string key;
        AppendSortKey(v, false, key);
        hash[key].push_back(j);
      }
    }
    static const std::vector<std::size_t> kNone;
    std::vector<std::size_t> all;
    if (!hashed) {
      all.resize(right.size());
      for (std::size_t j = 0; j < right.size(); ++j) all[j] = j;
    }
    for (std::vector<Variant>& l : left) {
      const std::vector<std::size_t>* candidates = &all;
      if (hashed) {
        const Variant& v = l[static_cast<std::size_t>(node.left_key)];
        candidates = &kNone;
        if (!v.IsNull()) {
          std::string key;
          AppendSortKey(v, false, key);
          auto it = hash.find(key);
          if (it != hash.end()) candidates = &it->second;
        }
      }
      bool matched = false;
      for (std::size_t j : *candidates) {
        std::vector<Variant> row = l;
        Merge(row, right[j], *node.right);
        if (!detail::IsTrue(node.on->Eval(ValuesRow(row), state_))) continue;
        matched = true;
        right_matched[j] = true;
        out.push_back(std::move(row));
      }
      if (!matched && node.type == detail::JoinType::kLeft) out.push_back(std::move(l));
    }
    if (node.type == detail::JoinType::kRight) {
      for (std::size_t j = 0; j < right.size(); ++j) {
        if (!right_matched[j]) out.push_back(std::move(right[j]));
      }
    }
    return out;
  }

  Rows JoinAll() {
    Rows result;
    bool first = true;
    for (const auto& item : c_.from) {
      Rows part = Evaluate(*item);
      if (first) {
        result = std::move(part);
        first = false;
        continue;
      }
      Rows product;
      product.reserve(result.size() * part.size());
      for (const std::vector<Variant>& a : result) {
        for (const std::vector<Variant>& b : part) {
          std::vector<Variant> row = a;
          Merge(row, b, *item);
          product.push_back(std::move(row));
        }
      }
      result = std::move(product);
    }
    return result;
  }

  const Compiled& c_;
  const QueryOptions& options_;
  detail::EvalState state_;
  std::vector<Variant> parameters_;
  bool keep_locators_ = false;
  std::vector<Collected> collected_;
  std::vector<Group> groups_;
  std::unordered_map<std::string, std::size_t> group_index_;
  const std::vector<Variant> none_;
};

}  // namespace

QueryResult PreparedQuery::Execute(const QueryOptions& options) const {
  if (!impl_) ThrowError(dao_error::kInvalidOperation);
  QueryResult result;
  static_cast<ResultData&>(*result.impl_) =
      Executor(*impl_->compiled, options).Run(impl_->compiled);
  return result;
}

namespace detail {

PreparedQuery PrepareAtDepth(std::string_view sql, Catalog& catalog, int depth) {
  PreparedQuery q;
  q.impl_ = std::make_unique<PreparedQuery::Impl>();
  q.impl_->compiled = StatementCompiler(catalog, depth).Run(sql);
  for (const Output& o : q.impl_->compiled->outputs) q.impl_->columns.push_back(o.info);
  return q;
}

}  // namespace detail

QueryResult Refine(const QueryResult& source, std::string_view filter, std::string_view sort,
                   ResultKind kind) {
  std::vector<ColumnInfo> columns;
  const jet::SortOrder text_order = source.impl_->text_order;
  for (const ResultColumn& rc : source.Columns())
    columns.push_back({rc.name, rc.type, rc.table, text_order});
  const auto blank = [](std::string_view t) {
    return t.find_first_not_of(" \t\r\n") == std::string_view::npos;
  };
  CompiledExpression condition;
  if (!blank(filter)) condition = CompiledExpression::Compile(filter, columns, TextKind::kFilter);
  SortSpec order;
  if (!blank(sort)) order = SortSpec::Compile(sort, columns);

  const ResultData& from = *source.impl_;
  const bool keep = from.by_locator && kind == ResultKind::kDynaset;
  struct Item {
    std::string key;
    std::size_t index;
    std::vector<Variant> values;
  };
  std::vector<Item> items;
  for (std::size_t i = 0; i < source.RowCount(); ++i) {
    std::vector<Variant> row = source.Row(i);
    const ValuesRow view(row);
    if (condition.IsValid() && !condition.Matches(view)) continue;
    Item item;
    item.index = i;
    if (!order.IsEmpty()) order.AppendKey(view, item.key);
    if (!keep) item.values = std::move(row);
    items.push_back(std::move(item));
  }
  if (!order.IsEmpty()) {
    std::stable_sort(items.begin(), items.end(),
                     [](const Item& a, const Item& b) { return a.key < b.key; });
  }
  QueryResult result;
  ResultData& r = *result.impl_;
  r.columns = from.columns;
  r.text_order = from.text_order;
  r.by_locator = keep;
  r.updatable = keep && from.updatable;
  if (keep) {
    r.base = from.base;
    r.program = from.program;
    r.parameters = from.parameters;
    r.now = from.now;
    for (const Item& item : items) r.locators.push_back(from.locators[item.index]);
  } else {
    for (ResultColumn& c : r.columns) c.updatable = false;
    for (Item& item : items) r.rows.push_back(std::move(item.values));
  }
  return result;
}

QueryResult ExecuteSelect(std::string_view sql, Catalog& catalog, const QueryOptions& options) {
  return PreparedQuery::Prepare(sql, catalog).Execute(options);
}

}  // namespace jetsql

// Compiling a SELECT statement: names bound to the FROM clause's columns or to parameters,
// each clause compiled, the grouping rules checked, and an index range chosen for a
// one-table WHERE clause.
#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binders.h"
#include "compile.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"
#include "parser.h"
#include "select_plan.h"
#include "values.h"

namespace jetsql {

using detail::Aggregate;
using detail::Compiled;
using detail::ExprPtr;
using detail::JoinTree;
using detail::Node;
using detail::NodeKind;
using detail::OrderKey;
using detail::Output;
using detail::Source;

namespace {

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

}  // namespace

namespace detail {

std::shared_ptr<Compiled> CompileSelect(std::string_view sql, Catalog& catalog, int depth) {
  return StatementCompiler(catalog, depth).Run(sql);
}

}  // namespace detail

}  // namespace jetsql

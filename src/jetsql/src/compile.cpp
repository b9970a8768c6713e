#include "compile.h"

#include <cctype>
#include <optional>

#include "core/errors.h"
#include "jetsql/errors.h"
#include "like.h"
#include "parser.h"
#include "values.h"

namespace jetsql::detail {

using core::Variant;

namespace {

class ConstantExpr final : public Expr {
 public:
  explicit ConstantExpr(Variant v) : value_(std::move(v)) {
    constant = true;
    literal_like = true;
    switch (value_.Type()) {
      case core::VarType::Boolean:
        type = DataType::kBoolean;
        break;
      case core::VarType::Byte:
        type = DataType::kByte;
        break;
      case core::VarType::Integer:
        type = DataType::kInteger;
        break;
      case core::VarType::Long:
        type = DataType::kLong;
        break;
      case core::VarType::Currency:
        type = DataType::kCurrency;
        break;
      case core::VarType::Single:
        type = DataType::kSingle;
        break;
      case core::VarType::Double:
        type = DataType::kDouble;
        break;
      case core::VarType::Date:
        type = DataType::kDate;
        break;
      case core::VarType::String:
        type = DataType::kText;
        break;
      case core::VarType::Decimal:
        type = DataType::kDecimal;
        break;
      case core::VarType::ByteArray:
        type = DataType::kBinary;
        break;
      default:
        break;
    }
  }
  Variant Eval(const RowView&, const EvalState&) const override { return value_; }

 private:
  Variant value_;
};

class ColumnExpr final : public Expr {
 public:
  ColumnExpr(int index, DataType t) {
    column = index;
    type = t;
  }
  Variant Eval(const RowView& row, const EvalState&) const override {
    return row.Get(static_cast<std::size_t>(column));
  }
};

class ParameterExpr final : public Expr {
 public:
  explicit ParameterExpr(int slot) : slot_(slot) { literal_like = true; }
  Variant Eval(const RowView&, const EvalState& state) const override {
    if (state.parameters == nullptr ||
        static_cast<std::size_t>(slot_) >= state.parameters->size()) {
      return Variant::Null();
    }
    return (*state.parameters)[static_cast<std::size_t>(slot_)];
  }

 private:
  int slot_;
};

class AggregateRefExpr final : public Expr {
 public:
  AggregateRefExpr(int slot, DataType t) : slot_(slot) { type = t; }
  Variant Eval(const RowView&, const EvalState& state) const override {
    if (state.aggregates == nullptr ||
        static_cast<std::size_t>(slot_) >= state.aggregates->size()) {
      return Variant::Null();
    }
    return (*state.aggregates)[static_cast<std::size_t>(slot_)];
  }

 private:
  int slot_;
};

class UnaryExpr final : public Expr {
 public:
  UnaryExpr(Op op, ExprPtr operand) : op_(op), operand_(std::move(operand)) {
    type = op == Op::kNot && operand_->type == DataType::kBoolean ? DataType::kBoolean
                                                                  : operand_->type;
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    const Variant v = operand_->Eval(row, state);
    switch (op_) {
      case Op::kNeg:
        return Negate(v);
      case Op::kNot:
        return LogicalNot(v);
      default:
        return v.IsNull() ? v : ToNumeric(v);
    }
  }

 private:
  Op op_;
  ExprPtr operand_;
};

bool IsComparison(Op op) {
  return op == Op::kEq || op == Op::kNe || op == Op::kLt || op == Op::kLe || op == Op::kGt ||
         op == Op::kGe;
}

bool IsLogic(Op op) {
  return op == Op::kAnd || op == Op::kOr || op == Op::kXor || op == Op::kEqv || op == Op::kImp;
}

DataType ArithmeticType(Op op, DataType a, DataType b) {
  auto numeric = [](DataType t) {
    return t == DataType::kByte || t == DataType::kInteger || t == DataType::kLong ||
           t == DataType::kSingle || t == DataType::kDouble || t == DataType::kCurrency ||
           t == DataType::kDecimal || t == DataType::kBoolean;
  };
  if (a == DataType::kValue || b == DataType::kValue) return DataType::kValue;
  if (op == Op::kAdd && a == DataType::kText && b == DataType::kText) return DataType::kText;
  if ((op == Op::kAdd || op == Op::kSub) && (a == DataType::kDate || b == DataType::kDate)) {
    return op == Op::kSub && a == DataType::kDate && b == DataType::kDate ? DataType::kDouble
                                                                          : DataType::kDate;
  }
  if (!numeric(a) || !numeric(b)) return DataType::kDouble;
  if (op == Op::kDiv || op == Op::kPow) return DataType::kDouble;
  if (op == Op::kIntDiv || op == Op::kMod) return DataType::kLong;
  if (a == DataType::kCurrency || b == DataType::kCurrency) {
    return (a == DataType::kDouble || b == DataType::kDouble) && op == Op::kMul
               ? DataType::kDouble
               : DataType::kCurrency;
  }
  if (a == DataType::kDecimal || b == DataType::kDecimal) return DataType::kDecimal;
  if (a == DataType::kDouble || b == DataType::kDouble || a == DataType::kSingle ||
      b == DataType::kSingle) {
    return DataType::kDouble;
  }
  return DataType::kLong;
}

class BinaryExpr final : public Expr {
 public:
  BinaryExpr(Op op, ExprPtr a, ExprPtr b) : op_(op), a_(std::move(a)), b_(std::move(b)) {
    if (IsComparison(op) ||
        ((IsLogic(op)) && a_->type == DataType::kBoolean && b_->type == DataType::kBoolean)) {
      type = DataType::kBoolean;
    } else if (op == Op::kConcat) {
      type = DataType::kText;
    } else if (!IsLogic(op)) {
      type = ArithmeticType(op, a_->type, b_->type);
    }
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    const Variant x = a_->Eval(row, state);
    // And/Or decide early where the other side cannot change the result.
    if (op_ == Op::kAnd && x.Type() == core::VarType::Boolean && !x.ToBoolean() &&
        b_->type == DataType::kBoolean) {
      return x;
    }
    if (op_ == Op::kOr && x.Type() == core::VarType::Boolean && x.ToBoolean() &&
        b_->type == DataType::kBoolean) {
      return x;
    }
    const Variant y = b_->Eval(row, state);
    if (IsComparison(op_)) {
      return ComparisonResult(op_, CompareValues(x, y, a_->literal_like, b_->literal_like));
    }
    if (IsLogic(op_)) return Logic(op_, x, y);
    if (op_ == Op::kConcat) return Concatenate(x, y);
    return Arithmetic(op_, x, y);
  }

 private:
  Op op_;
  ExprPtr a_, b_;
};

class LikeExpr final : public Expr {
 public:
  LikeExpr(ExprPtr subject, ExprPtr pattern, bool negated)
      : subject_(std::move(subject)), pattern_(std::move(pattern)), negated_(negated) {
    type = DataType::kBoolean;
    if (pattern_->constant) {
      const Variant p = pattern_->Eval(ValuesRow(empty_), EvalState{});
      if (!p.IsNull()) fixed_ = std::make_unique<LikePattern>(ToText(p));
      constant_null_pattern_ = p.IsNull();
    }
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    const Variant s = subject_->Eval(row, state);
    if (s.IsNull() || constant_null_pattern_) return Variant::Null();
    bool match = false;
    if (fixed_) {
      match = fixed_->Matches(ToText(s));
    } else {
      const Variant p = pattern_->Eval(row, state);
      if (p.IsNull()) return Variant::Null();
      match = LikePattern(ToText(p)).Matches(ToText(s));
    }
    return Variant::FromBoolean(match != negated_);
  }

 private:
  ExprPtr subject_, pattern_;
  bool negated_;
  bool constant_null_pattern_ = false;
  std::unique_ptr<LikePattern> fixed_;
  static inline const std::vector<Variant> empty_{};
};

class BetweenExpr final : public Expr {
 public:
  BetweenExpr(ExprPtr x, ExprPtr lo, ExprPtr hi, bool negated)
      : x_(std::move(x)), lo_(std::move(lo)), hi_(std::move(hi)), negated_(negated) {
    type = DataType::kBoolean;
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    const Variant x = x_->Eval(row, state);
    const Variant lo = lo_->Eval(row, state);
    const Variant hi = hi_->Eval(row, state);
    if (x.IsNull() || lo.IsNull() || hi.IsNull()) return Variant::Null();
    // The bounds may come in either order.
    const std::optional<int> order = CompareValues(lo, hi, lo_->literal_like, hi_->literal_like);
    const bool swapped = order && *order > 0;
    const Variant& low = swapped ? hi : lo;
    const Variant& high = swapped ? lo : hi;
    const bool low_literal = swapped ? hi_->literal_like : lo_->literal_like;
    const bool high_literal = swapped ? lo_->literal_like : hi_->literal_like;
    const std::optional<int> a = CompareValues(x, low, x_->literal_like, low_literal);
    const std::optional<int> b = CompareValues(x, high, x_->literal_like, high_literal);
    if (!a || !b) return Variant::Null();
    return Variant::FromBoolean((*a >= 0 && *b <= 0) != negated_);
  }

 private:
  ExprPtr x_, lo_, hi_;
  bool negated_;
};

class InExpr final : public Expr {
 public:
  InExpr(ExprPtr x, std::vector<ExprPtr> values, bool negated)
      : x_(std::move(x)), values_(std::move(values)), negated_(negated) {
    type = DataType::kBoolean;
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    const Variant x = x_->Eval(row, state);
    if (x.IsNull()) return Variant::Null();
    bool saw_null = false;
    for (const ExprPtr& e : values_) {
      const Variant v = e->Eval(row, state);
      const std::optional<int> c = CompareValues(x, v, x_->literal_like, e->literal_like);
      if (!c) {
        saw_null = true;
      } else if (*c == 0) {
        return Variant::FromBoolean(!negated_);
      }
    }
    if (saw_null) return Variant::Null();
    return Variant::FromBoolean(negated_);
  }

 private:
  ExprPtr x_;
  std::vector<ExprPtr> values_;
  bool negated_;
};

class IsNullExpr final : public Expr {
 public:
  IsNullExpr(ExprPtr x, bool negated) : x_(std::move(x)), negated_(negated) {
    type = DataType::kBoolean;
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    return Variant::FromBoolean(x_->Eval(row, state).IsNull() != negated_);
  }

 private:
  ExprPtr x_;
  bool negated_;
};

class IIfExpr final : public Expr {
 public:
  IIfExpr(ExprPtr c, ExprPtr a, ExprPtr b) : c_(std::move(c)), a_(std::move(a)), b_(std::move(b)) {
    type = a_->type == b_->type ? a_->type : DataType::kValue;
  }
  // Only the chosen branch is evaluated, so IIf(x = 0, 0, 1 / x) never divides by zero.
  Variant Eval(const RowView& row, const EvalState& state) const override {
    return IsTrue(c_->Eval(row, state)) ? a_->Eval(row, state) : b_->Eval(row, state);
  }

 private:
  ExprPtr c_, a_, b_;
};

DataType FunctionType(std::string_view name) {
  static constexpr struct {
    std::string_view name;
    DataType type;
  } kTypes[] = {
      {"Asc", DataType::kInteger},       {"AscW", DataType::kInteger},
      {"CBool", DataType::kBoolean},     {"CByte", DataType::kByte},
      {"CCur", DataType::kCurrency},     {"CDate", DataType::kDate},
      {"CDbl", DataType::kDouble},       {"CDec", DataType::kDecimal},
      {"Chr", DataType::kText},          {"ChrW", DataType::kText},
      {"CInt", DataType::kInteger},      {"CLng", DataType::kLong},
      {"CSng", DataType::kSingle},       {"CStr", DataType::kText},
      {"CVDate", DataType::kDate},       {"Date", DataType::kDate},
      {"DateAdd", DataType::kDate},      {"DateDiff", DataType::kLong},
      {"DatePart", DataType::kInteger},  {"DateSerial", DataType::kDate},
      {"DateValue", DataType::kDate},    {"Day", DataType::kInteger},
      {"Hex", DataType::kText},          {"Hour", DataType::kInteger},
      {"InStr", DataType::kLong},        {"IsDate", DataType::kBoolean},
      {"IsEmpty", DataType::kBoolean},   {"IsNull", DataType::kBoolean},
      {"IsNumeric", DataType::kBoolean}, {"LCase", DataType::kText},
      {"Left", DataType::kText},         {"Len", DataType::kLong},
      {"LTrim", DataType::kText},        {"Mid", DataType::kText},
      {"Minute", DataType::kInteger},    {"Month", DataType::kInteger},
      {"Now", DataType::kDate},          {"Oct", DataType::kText},
      {"Replace", DataType::kText},      {"Right", DataType::kText},
      {"RTrim", DataType::kText},        {"Second", DataType::kInteger},
      {"Sgn", DataType::kInteger},       {"Space", DataType::kText},
      {"Str", DataType::kText},          {"StrComp", DataType::kInteger},
      {"String", DataType::kText},       {"Time", DataType::kDate},
      {"TimeSerial", DataType::kDate},   {"TimeValue", DataType::kDate},
      {"Trim", DataType::kText},         {"UCase", DataType::kText},
      {"Val", DataType::kDouble},        {"Weekday", DataType::kInteger},
      {"Year", DataType::kInteger},      {"Sqr", DataType::kDouble},
      {"Exp", DataType::kDouble},        {"Log", DataType::kDouble},
      {"Sin", DataType::kDouble},        {"Cos", DataType::kDouble},
      {"Tan", DataType::kDouble},        {"Atn", DataType::kDouble},
  };
  for (const auto& entry : kTypes) {
    if (NamesEqual(entry.name, name)) return entry.type;
  }
  return DataType::kValue;
}

class CallExpr final : public Expr {
 public:
  CallExpr(const FunctionInfo* f, std::vector<ExprPtr> args) : f_(f), args_(std::move(args)) {
    type = FunctionType(f->name);
    if (type == DataType::kValue && (NamesEqual(f->name, "Abs") || NamesEqual(f->name, "Int") ||
                                     NamesEqual(f->name, "Fix") || NamesEqual(f->name, "Round"))) {
      type = args_.empty() ? DataType::kValue : args_[0]->type;
    }
  }
  Variant Eval(const RowView& row, const EvalState& state) const override {
    std::vector<Variant> values;
    values.reserve(args_.size());
    for (const ExprPtr& e : args_) values.push_back(e->Eval(row, state));
    return f_->fn(values, state.call);
  }

 private:
  const FunctionInfo* f_;
  std::vector<ExprPtr> args_;
};

struct AggregateName {
  std::string_view name;
  AggregateKind kind;
};

constexpr AggregateName kAggregates[] = {
    {"Count", AggregateKind::kCount},   {"Sum", AggregateKind::kSum},
    {"Avg", AggregateKind::kAvg},       {"Min", AggregateKind::kMin},
    {"Max", AggregateKind::kMax},       {"First", AggregateKind::kFirst},
    {"Last", AggregateKind::kLast},     {"StDev", AggregateKind::kStDev},
    {"StDevP", AggregateKind::kStDevP}, {"Var", AggregateKind::kVar},
    {"VarP", AggregateKind::kVarP},
};

// Replaces a subtree by its value when it depends on nothing that changes between rows.
ExprPtr Fold(ExprPtr e, bool all_constant) {
  if (!all_constant || e->constant) return e;
  try {
    static const std::vector<Variant> none;
    EvalState state;
    state.call.now = CurrentDateTime();
    Variant v = e->Eval(ValuesRow(none), state);
    auto folded = std::make_unique<ConstantExpr>(std::move(v));
    if (e->type != DataType::kValue) folded->type = e->type;
    return folded;
  } catch (const core::Exception&) {
    // Errors such as 1/0 are raised when the statement runs, not when it is read.
    return e;
  }
}

class Compiler {
 public:
  Compiler(Binder& binder, std::string_view source) : binder_(binder), source_(source) {}

  ExprPtr Build(const Node& n) {
    switch (n.kind) {
      case NodeKind::kLiteral:
        return std::make_unique<ConstantExpr>(n.value);
      case NodeKind::kName: {
        const int column = binder_.ResolveColumn(n.parts);
        if (column >= 0) return std::make_unique<ColumnExpr>(column, binder_.ColumnType(column));
        return std::make_unique<ParameterExpr>(binder_.ResolveUnknown(n.parts));
      }
      case NodeKind::kStar:
        throw SyntaxError{std::string(kMissingOperator), n.begin};
      case NodeKind::kUnary: {
        ExprPtr operand = Build(*n.children[0]);
        const bool c = operand->constant;
        return Fold(std::make_unique<UnaryExpr>(n.op, std::move(operand)), c);
      }
      case NodeKind::kBinary: {
        ExprPtr a = Build(*n.children[0]);
        ExprPtr b = Build(*n.children[1]);
        const bool c = a->constant && b->constant;
        return Fold(std::make_unique<BinaryExpr>(n.op, std::move(a), std::move(b)), c);
      }
      case NodeKind::kLike: {
        ExprPtr a = Build(*n.children[0]);
        ExprPtr b = Build(*n.children[1]);
        const bool c = a->constant && b->constant;
        return Fold(std::make_unique<LikeExpr>(std::move(a), std::move(b), n.negated), c);
      }
      case NodeKind::kBetween: {
        ExprPtr x = Build(*n.children[0]);
        ExprPtr lo = Build(*n.children[1]);
        ExprPtr hi = Build(*n.children[2]);
        const bool c = x->constant && lo->constant && hi->constant;
        return Fold(
            std::make_unique<BetweenExpr>(std::move(x), std::move(lo), std::move(hi), n.negated),
            c);
      }
      case NodeKind::kIn: {
        ExprPtr x = Build(*n.children[0]);
        bool c = x->constant;
        std::vector<ExprPtr> values;
        for (std::size_t i = 1; i < n.children.size(); ++i) {
          values.push_back(Build(*n.children[i]));
          c = c && values.back()->constant;
        }
        return Fold(std::make_unique<InExpr>(std::move(x), std::move(values), n.negated), c);
      }
      case NodeKind::kIsNull: {
        ExprPtr x = Build(*n.children[0]);
        const bool c = x->constant;
        return Fold(std::make_unique<IsNullExpr>(std::move(x), n.negated), c);
      }
      case NodeKind::kCall:
        return BuildCall(n);
    }
    throw SyntaxError{std::string(kMissingOperator), n.begin};
  }

 private:
  ExprPtr BuildCall(const Node& n) {
    const std::size_t argc = n.children.size();
    AggregateKind aggregate;
    if (IsAggregateName(n.function, &aggregate)) {
      if (argc != 1) throw SyntaxError{std::string(kWrongArgumentCount), n.begin};
      ExprPtr argument;
      if (n.children[0]->kind == NodeKind::kStar) {
        if (aggregate != AggregateKind::kCount || !n.children[0]->parts.empty()) {
          throw SyntaxError{std::string(kMissingOperator), n.children[0]->begin};
        }
        aggregate = AggregateKind::kCountRows;
      } else {
        argument = Build(*n.children[0]);
      }
      DataType t = DataType::kDouble;
      if (aggregate == AggregateKind::kCount || aggregate == AggregateKind::kCountRows) {
        t = DataType::kLong;
      } else if (argument &&
                 (aggregate == AggregateKind::kMin || aggregate == AggregateKind::kMax ||
                  aggregate == AggregateKind::kFirst || aggregate == AggregateKind::kLast)) {
        t = argument->type;
      } else if (argument && aggregate == AggregateKind::kSum &&
                 argument->type == DataType::kCurrency) {
        t = DataType::kCurrency;
      }
      const int slot = binder_.AddAggregate(aggregate, std::move(argument), n);
      return std::make_unique<AggregateRefExpr>(slot, t);
    }
    for (const NodePtr& child : n.children) {
      if (child->kind == NodeKind::kStar) {
        throw SyntaxError{std::string(kMissingOperator), child->begin};
      }
    }
    if (NamesEqual(n.function, "IIf")) {
      if (argc != 3) throw SyntaxError{std::string(kWrongArgumentCount), n.begin};
      ExprPtr c = Build(*n.children[0]);
      ExprPtr a = Build(*n.children[1]);
      ExprPtr b = Build(*n.children[2]);
      const bool all = c->constant && a->constant && b->constant;
      return Fold(std::make_unique<IIfExpr>(std::move(c), std::move(a), std::move(b)), all);
    }
    const FunctionInfo* f = FindFunction(n.function);
    if (f == nullptr) ThrowError(dao_error::kUndefinedFunction, n.function);
    if (static_cast<int>(argc) < f->min_args || static_cast<int>(argc) > f->max_args) {
      throw SyntaxError{std::string(kWrongArgumentCount), n.begin};
    }
    std::vector<ExprPtr> args;
    bool all = !f->volatile_result;
    for (const NodePtr& child : n.children) {
      args.push_back(Build(*child));
      all = all && args.back()->constant;
    }
    return Fold(std::make_unique<CallExpr>(f, std::move(args)), all);
  }

  Binder& binder_;
  std::string_view source_;
};

}  // namespace

int Binder::AddAggregate(AggregateKind, ExprPtr, const Node& call) {
  (void)call;
  ThrowError(dao_error::kAggregateInWhere, "");
}

bool IsAggregateName(std::string_view name, AggregateKind* kind) {
  for (const AggregateName& a : kAggregates) {
    if (NamesEqual(a.name, name)) {
      if (kind != nullptr) *kind = a.kind;
      return true;
    }
  }
  return false;
}

ExprPtr Compile(const Node& node, Binder& binder, std::string_view source) {
  return Compiler(binder, source).Build(node);
}

ExprPtr MakeColumn(int column, DataType type) {
  return std::make_unique<ColumnExpr>(column, type);
}

}  // namespace jetsql::detail

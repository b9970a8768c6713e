#include "parser.h"

#include <cmath>

#include "jetsql/errors.h"

namespace jetsql::detail {
namespace {

// Words that never name a column or table without brackets.
constexpr std::string_view kReserved[] = {
    "ALL",        "AND",      "AS",          "ASC",   "BETWEEN", "BY",     "CREATE", "DELETE",
    "DESC",       "DISTINCT", "DISTINCTROW", "DROP",  "EQV",     "EXISTS", "FROM",   "GROUP",
    "HAVING",     "IMP",      "IN",          "INNER", "INSERT",  "INTO",   "IS",     "JOIN",
    "LEFT",       "LIKE",     "MOD",         "NOT",   "ON",      "OR",     "ORDER",  "OUTER",
    "PARAMETERS", "PERCENT",  "PIVOT",       "RIGHT", "SELECT",  "SET",    "TOP",    "TRANSFORM",
    "UNION",      "UPDATE",   "VALUES",      "WHERE", "WITH",    "XOR",    "ALTER",
};

bool IsReserved(const Token& t) {
  if (t.kind != TokenKind::kWord) return false;
  for (std::string_view word : kReserved) {
    if (IsKeyword(t, word)) return true;
  }
  return false;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() &&
         (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
    s.remove_prefix(1);
  }
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text), tokens_(Tokenize(text)) {}

  // ---- token access ----
  const Token& Peek(std::size_t ahead = 0) const {
    const std::size_t i = pos_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
  }
  const Token& Take() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  bool AtEnd() const { return Peek().kind == TokenKind::kEnd; }
  bool AcceptKeyword(std::string_view word) {
    if (!IsKeyword(Peek(), word)) return false;
    Take();
    return true;
  }
  bool AcceptSymbol(std::string_view symbol) {
    if (!IsSymbol(Peek(), symbol)) return false;
    Take();
    return true;
  }
  std::size_t Position() const { return pos_; }
  std::string_view Text() const { return text_; }

  [[noreturn]] void FailAt(const Token& t, std::string_view phrase) const {
    if (t.kind == TokenKind::kError) throw SyntaxError{t.text, t.begin};
    throw SyntaxError{std::string(phrase), t.begin};
  }

  // The phrase for a token that cannot continue or start what was expected.
  [[noreturn]] void Unexpected(const Token& t) const {
    if (IsSymbol(t, ",")) FailAt(t, kComma);
    FailAt(t, kMissingOperator);
  }

  // ---- expressions, lowest precedence first ----
  // Nesting is limited so that no text can exhaust the stack of the parser, the compiler or
  // the evaluator, all of which recurse along it.
  static constexpr int kMaxDepth = 200;
  struct Nested {
    explicit Nested(int& depth) : depth_(depth) {
      if (++depth_ > kMaxDepth) {
        --depth_;
        ThrowError(dao_error::kQueryTooComplex);
      }
    }
    ~Nested() { --depth_; }
    int& depth_;
  };

  NodePtr Expression() {
    Nested guard(depth_);
    return Imp();
  }

  NodePtr Imp() { return LeftChain(&Parser::Eqv, "IMP", Op::kImp); }
  NodePtr Eqv() { return LeftChain(&Parser::Xor, "EQV", Op::kEqv); }
  NodePtr Xor() { return LeftChain(&Parser::Or, "XOR", Op::kXor); }
  NodePtr Or() { return LeftChain(&Parser::And, "OR", Op::kOr); }
  NodePtr And() { return LeftChain(&Parser::Not, "AND", Op::kAnd); }

  NodePtr Not() {
    if (IsKeyword(Peek(), "NOT")) {
      Nested guard(depth_);
      const Token& t = Take();
      NodePtr operand = Not();
      return Unary(Op::kNot, t.begin, std::move(operand));
    }
    return Comparison();
  }

  NodePtr Comparison() {
    NodePtr left = Concat();
    while (true) {
      const Token& t = Peek();
      Op op = Op::kNone;
      if (t.kind == TokenKind::kSymbol) {
        if (t.text == "=")
          op = Op::kEq;
        else if (t.text == "<>")
          op = Op::kNe;
        else if (t.text == "<")
          op = Op::kLt;
        else if (t.text == "<=")
          op = Op::kLe;
        else if (t.text == ">")
          op = Op::kGt;
        else if (t.text == ">=")
          op = Op::kGe;
      }
      if (op != Op::kNone) {
        Take();
        left = Binary(op, std::move(left), Concat());
        continue;
      }
      bool negated = false;
      if (IsKeyword(t, "NOT") && (IsKeyword(Peek(1), "LIKE") || IsKeyword(Peek(1), "IN") ||
                                  IsKeyword(Peek(1), "BETWEEN"))) {
        Take();
        negated = true;
      }
      const Token& k = Peek();
      if (IsKeyword(k, "LIKE")) {
        Take();
        std::vector<NodePtr> pattern;
        pattern.push_back(Concat());
        left = Special(NodeKind::kLike, negated, std::move(left), std::move(pattern));
      } else if (IsKeyword(k, "BETWEEN")) {
        Take();
        NodePtr low = Concat();
        if (!AcceptKeyword("AND")) FailAt(Peek(), kBetweenWithoutAnd);
        NodePtr high = Concat();
        std::vector<NodePtr> bounds;
        bounds.push_back(std::move(low));
        bounds.push_back(std::move(high));
        left = Special(NodeKind::kBetween, negated, std::move(left), std::move(bounds));
      } else if (IsKeyword(k, "IN")) {
        Take();
        if (!AcceptSymbol("(")) FailAt(Peek(), kInWithoutParens);
        if (IsKeyword(Peek(), "SELECT")) {
          FailAt(Peek(), "Subqueries are not supported");
        }
        std::vector<NodePtr> values;
        do {
          values.push_back(Expression());
        } while (AcceptSymbol(","));
        const std::size_t close = Peek().end;
        if (!AcceptSymbol(")")) {
          if (AtEnd()) FailAt(Peek(), kMissingParen);
          Unexpected(Peek());
        }
        left = Special(NodeKind::kIn, negated, std::move(left), std::move(values));
        left->end = close;
      } else if (!negated && IsKeyword(k, "IS")) {
        Take();
        const bool is_not = AcceptKeyword("NOT");
        if (!IsKeyword(Peek(), "NULL")) FailAt(Peek(), kMissingOperator);
        const std::size_t end = Take().end;
        auto node = std::make_unique<Node>();
        node->kind = NodeKind::kIsNull;
        node->negated = is_not;
        node->begin = left->begin;
        node->end = end;
        node->children.push_back(std::move(left));
        Adopt(*node);
        left = std::move(node);
      } else {
        break;
      }
    }
    return left;
  }

  NodePtr Concat() {
    NodePtr left = Additive();
    while (IsSymbol(Peek(), "&")) {
      Take();
      left = Binary(Op::kConcat, std::move(left), Additive());
    }
    return left;
  }

  NodePtr Additive() {
    NodePtr left = Modulo();
    while (IsSymbol(Peek(), "+") || IsSymbol(Peek(), "-")) {
      const Op op = Take().text == "+" ? Op::kAdd : Op::kSub;
      left = Binary(op, std::move(left), Modulo());
    }
    return left;
  }

  NodePtr Modulo() { return LeftChain(&Parser::IntDivide, "MOD", Op::kMod); }

  NodePtr IntDivide() {
    NodePtr left = Multiplicative();
    while (IsSymbol(Peek(), "\\")) {
      Take();
      left = Binary(Op::kIntDiv, std::move(left), Multiplicative());
    }
    return left;
  }

  NodePtr Multiplicative() {
    NodePtr left = Negation();
    while (IsSymbol(Peek(), "*") || IsSymbol(Peek(), "/")) {
      const Op op = Take().text == "*" ? Op::kMul : Op::kDiv;
      left = Binary(op, std::move(left), Negation());
    }
    return left;
  }

  // Unary minus binds less tightly than ^: -2^2 is -4.
  NodePtr Negation() {
    if (IsSymbol(Peek(), "-") || IsSymbol(Peek(), "+")) {
      Nested guard(depth_);
      const Token& t = Take();
      NodePtr operand = Negation();
      return Unary(t.text == "-" ? Op::kNeg : Op::kPlus, t.begin, std::move(operand));
    }
    return Power();
  }

  NodePtr Power() {
    NodePtr left = Primary();
    while (IsSymbol(Peek(), "^")) {
      Take();
      left = Binary(Op::kPow, std::move(left), PowerOperand());
    }
    return left;
  }

  // The right side of ^ may carry its own sign: 2^-1.
  NodePtr PowerOperand() {
    if (IsSymbol(Peek(), "-") || IsSymbol(Peek(), "+")) {
      Nested guard(depth_);
      const Token& t = Take();
      NodePtr operand = PowerOperand();
      return Unary(t.text == "-" ? Op::kNeg : Op::kPlus, t.begin, std::move(operand));
    }
    return Primary();
  }

  NodePtr Primary() {
    const Token& t = Peek();
    auto node = std::make_unique<Node>();
    node->begin = t.begin;
    node->end = t.end;
    switch (t.kind) {
      case TokenKind::kInteger:
        Take();
        node->value = t.integer >= INT32_MIN && t.integer <= INT32_MAX
                          ? core::Variant::FromLong(static_cast<std::int32_t>(t.integer))
                          : core::Variant::FromDouble(t.number);
        return node;
      case TokenKind::kFloat:
        Take();
        node->value = core::Variant::FromDouble(t.number);
        return node;
      case TokenKind::kString:
        Take();
        node->value = core::Variant::FromString(t.text);
        return node;
      case TokenKind::kDate:
        Take();
        node->value = core::Variant::FromDate(t.number);
        return node;
      case TokenKind::kGuid:
        Take();
        node->guid = true;
        node->value =
            core::Variant::FromBytes(std::vector<std::uint8_t>(t.guid.begin(), t.guid.end()));
        return node;
      case TokenKind::kSymbol:
        if (t.text == "(") {
          Take();
          if (IsKeyword(Peek(), "SELECT")) FailAt(Peek(), "Subqueries are not supported");
          NodePtr inner = Expression();
          const Token& close = Peek();
          if (!IsSymbol(close, ")")) {
            if (close.kind == TokenKind::kEnd) FailAt(close, kMissingParen);
            Unexpected(close);
          }
          Take();
          inner->begin = node->begin;
          inner->end = close.end;
          return inner;
        }
        Unexpected(t);
      case TokenKind::kWord:
        if (IsKeyword(t, "NULL")) {
          Take();
          node->value = core::Variant::Null();
          return node;
        }
        if (IsKeyword(t, "TRUE") || IsKeyword(t, "YES") || IsKeyword(t, "ON")) {
          Take();
          node->value = core::Variant::FromBoolean(true);
          return node;
        }
        if (IsKeyword(t, "FALSE") || IsKeyword(t, "NO") || IsKeyword(t, "OFF")) {
          Take();
          node->value = core::Variant::FromBoolean(false);
          return node;
        }
        if (IsKeyword(t, "NOT")) {
          Take();
          NodePtr operand = Not();
          return Unary(Op::kNot, t.begin, std::move(operand));
        }
        // Left(, Right( and Asc( are functions although LEFT, RIGHT and ASC are keywords.
        if (IsSymbol(Peek(1), "(")) return Call();
        if (IsReserved(t)) FailAt(t, kMissingOperator);
        return Name();
      case TokenKind::kBracketName:
        return Name();
      case TokenKind::kError:
      case TokenKind::kEnd:
        FailAt(t, kMissingOperator);
    }
    FailAt(t, kMissingOperator);
  }

  NodePtr Call() {
    const Token& name = Take();
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kCall;
    node->function = name.text;
    node->begin = name.begin;
    Take();  // (
    if (!IsSymbol(Peek(), ")")) {
      do {
        if (IsSymbol(Peek(), "*") && IsSymbol(Peek(1), ")")) {
          const Token& star = Take();
          auto s = std::make_unique<Node>();
          s->kind = NodeKind::kStar;
          s->begin = star.begin;
          s->end = star.end;
          node->children.push_back(std::move(s));
          break;
        }
        node->children.push_back(Expression());
      } while (AcceptSymbol(","));
    }
    const Token& close = Peek();
    if (!IsSymbol(close, ")")) {
      if (close.kind == TokenKind::kEnd) FailAt(close, kMissingParen);
      Unexpected(close);
    }
    Take();
    node->end = close.end;
    Adopt(*node);
    return node;
  }

  // name, [name], a.b, [a].[b], a!b; "a.*" only where the caller allows a star.
  NodePtr Name(bool allow_star = false) {
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kName;
    const Token& first = Take();
    node->begin = first.begin;
    node->end = first.end;
    node->parts.push_back(first.text);
    while (IsSymbol(Peek(), ".") || IsSymbol(Peek(), "!")) {
      const Token& dot = Take();
      const Token& part = Peek();
      if (part.kind == TokenKind::kBracketName ||
          (part.kind == TokenKind::kWord && !IsReserved(part))) {
        Take();
        node->parts.push_back(part.text);
        node->end = part.end;
      } else if (allow_star && IsSymbol(part, "*")) {
        Take();
        node->kind = NodeKind::kStar;
        node->end = part.end;
        return node;
      } else {
        FailAt(part.kind == TokenKind::kError ? part : dot, kBadDot);
      }
    }
    if (IsSymbol(Peek(), "(")) FailAt(Peek(), kBadDot);
    return node;
  }

  // ---- helpers ----
  using Level = NodePtr (Parser::*)();

  NodePtr LeftChain(Level next, std::string_view keyword, Op op) {
    NodePtr left = (this->*next)();
    while (IsKeyword(Peek(), keyword)) {
      Take();
      left = Binary(op, std::move(left), (this->*next)());
    }
    return left;
  }

  // Long chains (1+1+1+...) make deep trees without any parentheses; their height is limited
  // as well.
  static constexpr int kMaxHeight = 1000;
  static void Adopt(Node& parent) {
    for (const NodePtr& child : parent.children) {
      if (child->height + 1 > parent.height) parent.height = child->height + 1;
    }
    if (parent.height > kMaxHeight) ThrowError(dao_error::kQueryTooComplex);
  }

  static NodePtr Binary(Op op, NodePtr left, NodePtr right) {
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kBinary;
    node->op = op;
    node->begin = left->begin;
    node->end = right->end;
    node->children.push_back(std::move(left));
    node->children.push_back(std::move(right));
    Adopt(*node);
    return node;
  }

  static NodePtr Unary(Op op, std::size_t begin, NodePtr operand) {
    auto node = std::make_unique<Node>();
    node->kind = NodeKind::kUnary;
    node->op = op;
    node->begin = begin;
    node->end = operand->end;
    node->children.push_back(std::move(operand));
    Adopt(*node);
    return node;
  }

  static NodePtr Special(NodeKind kind, bool negated, NodePtr subject, std::vector<NodePtr> rest) {
    auto node = std::make_unique<Node>();
    node->kind = kind;
    node->negated = negated;
    node->begin = subject->begin;
    node->end = rest.empty() ? subject->end : rest.back()->end;
    node->children.push_back(std::move(subject));
    for (NodePtr& n : rest) node->children.push_back(std::move(n));
    Adopt(*node);
    return node;
  }

  // ---- statements ----

  // Where the text of a clause that starts at token `from` ends: at a clause keyword (or, for
  // list items, a comma) outside parentheses.
  std::size_t ClauseEnd(std::size_t from, bool stop_at_comma, bool stop_at_from) const {
    int depth = 0;
    for (std::size_t i = from; i < tokens_.size(); ++i) {
      const Token& t = tokens_[i];
      if (t.kind == TokenKind::kEnd || t.kind == TokenKind::kError) return t.end;
      if (IsSymbol(t, "(")) ++depth;
      if (IsSymbol(t, ")")) {
        if (depth == 0) return t.begin;
        --depth;
      }
      if (depth > 0) continue;
      if (IsSymbol(t, ";") || IsKeyword(t, "WHERE") || IsKeyword(t, "GROUP") ||
          IsKeyword(t, "HAVING") || IsKeyword(t, "ORDER") || IsKeyword(t, "WITH") ||
          (stop_at_comma && IsSymbol(t, ",")) ||
          (stop_at_from && (IsKeyword(t, "FROM") || IsKeyword(t, "INTO") || IsKeyword(t, "AS")))) {
        return t.begin;
      }
    }
    return text_.size();
  }

  // Parses one expression of a statement; a syntax error becomes 3075 quoting the clause text.
  NodePtr ClauseExpression(bool stop_at_comma, bool stop_at_from, std::string* text_out) {
    const std::size_t start = pos_;
    try {
      NodePtr node = Expression();
      if (text_out != nullptr) *text_out = std::string(NodeText(text_, *node));
      return node;
    } catch (const SyntaxError& e) {
      const std::size_t begin = tokens_[start].begin;
      const std::size_t end = ClauseEnd(start, stop_at_comma, stop_at_from);
      const std::string_view quoted = Trim(text_.substr(begin, end > begin ? end - begin : 0));
      ThrowError(dao_error::kQueryExpression, e.phrase, quoted);
    }
  }

  // The text of an expression that parsed but is followed by something it cannot join.
  [[noreturn]] void ExpressionFollowedBy(std::size_t start, bool stop_at_comma,
                                         bool stop_at_from) const {
    const Token& t = Peek();
    const std::size_t begin = tokens_[start].begin;
    const std::size_t end = ClauseEnd(start, stop_at_comma, stop_at_from);
    std::string phrase(IsSymbol(t, ")") ? kExtraParen : kMissingOperator);
    if (t.kind == TokenKind::kError) phrase = t.text;
    ThrowError(dao_error::kQueryExpression, phrase,
               Trim(text_.substr(begin, end > begin ? end - begin : 0)));
  }

  bool AtClauseBoundary() const {
    const Token& t = Peek();
    return t.kind == TokenKind::kEnd || IsSymbol(t, ";") || IsKeyword(t, "WHERE") ||
           IsKeyword(t, "GROUP") || IsKeyword(t, "HAVING") || IsKeyword(t, "ORDER") ||
           IsKeyword(t, "WITH");
  }

  SelectStatement Select() {
    SelectStatement s;
    if (IsKeyword(Peek(), "PARAMETERS")) {
      Take();
      Parameters(s);
    }
    if (!AcceptKeyword("SELECT")) {
      const Token& t = Peek();
      if (IsKeyword(t, "INSERT") || IsKeyword(t, "UPDATE") || IsKeyword(t, "DELETE") ||
          IsKeyword(t, "TRANSFORM") || IsKeyword(t, "CREATE") || IsKeyword(t, "ALTER") ||
          IsKeyword(t, "DROP")) {
        ThrowError(dao_error::kInvalidOperation);
      }
      ThrowError(dao_error::kInvalidStatement);
    }
    if (AcceptKeyword("DISTINCT"))
      s.predicate = Predicate::kDistinct;
    else if (AcceptKeyword("DISTINCTROW"))
      s.predicate = Predicate::kDistinctRow;
    else
      AcceptKeyword("ALL");
    if (AcceptKeyword("TOP")) {
      const Token& n = Peek();
      if (n.kind != TokenKind::kInteger && n.kind != TokenKind::kFloat) {
        ThrowError(dao_error::kSelectStatement);
      }
      Take();
      s.has_top = true;
      s.top = n.number;
      s.top_text = n.text;
      s.top_percent = AcceptKeyword("PERCENT");
      if (!(s.top > 0) || (!s.top_percent && s.top != std::floor(s.top)) ||
          (s.top_percent && s.top > 100)) {
        ThrowError(dao_error::kInvalidTopArgument);
      }
    }
    SelectList(s);
    if (IsKeyword(Peek(), "INTO")) ThrowError(dao_error::kInvalidOperation);
    if (AcceptKeyword("FROM")) FromList(s);
    if (AcceptKeyword("WHERE")) {
      if (AtClauseBoundary()) ThrowError(dao_error::kWhereClause);
      const std::size_t start = pos_;
      s.where = ClauseExpression(false, false, &s.where_text);
      if (!AtClauseBoundary()) ExpressionFollowedBy(start, false, false);
    }
    if (AcceptKeyword("GROUP")) {
      if (!AcceptKeyword("BY") || AtClauseBoundary()) ThrowError(dao_error::kSelectStatement);
      do {
        const std::size_t start = pos_;
        std::string text;
        s.group_by.push_back(ClauseExpression(true, false, &text));
        s.group_texts.push_back(std::move(text));
        if (!AtClauseBoundary() && !IsSymbol(Peek(), ",")) ExpressionFollowedBy(start, true, false);
      } while (AcceptSymbol(","));
    }
    if (AcceptKeyword("HAVING")) {
      if (AtClauseBoundary()) ThrowError(dao_error::kSelectStatement);
      const std::size_t start = pos_;
      s.having = ClauseExpression(false, false, &s.having_text);
      if (!AtClauseBoundary()) ExpressionFollowedBy(start, false, false);
    }
    if (AcceptKeyword("ORDER")) {
      if (!AcceptKeyword("BY")) ThrowError(dao_error::kOrderByClause);
      s.order_by = OrderList();
    }
    if (AcceptKeyword("WITH")) {
      if (!AcceptKeyword("OWNERACCESS") || !AcceptKeyword("OPTION")) {
        ThrowError(dao_error::kSelectStatement);
      }
      s.owner_access = true;
    }
    AcceptSymbol(";");
    if (!AtEnd()) {
      if (Peek().kind == TokenKind::kError) {
        ThrowError(dao_error::kQueryExpression, Peek().text, Trim(text_.substr(Peek().begin)));
      }
      ThrowError(dao_error::kCharactersAfterEnd);
    }
    return s;
  }

  void Parameters(SelectStatement& s) {
    do {
      const Token& name = Peek();
      if (!(name.kind == TokenKind::kBracketName ||
            (name.kind == TokenKind::kWord && !IsReserved(name)))) {
        ThrowError(dao_error::kSelectStatement);
      }
      Take();
      ParameterDecl p;
      p.name = name.text;
      const Token& type = Peek();
      if (type.kind != TokenKind::kWord || !DataTypeFromSqlName(type.text, p.type)) {
        ThrowError(dao_error::kSelectStatement);
      }
      Take();
      if (AcceptSymbol("(")) {
        const Token& size = Peek();
        if (size.kind != TokenKind::kInteger || size.integer < 1 || size.integer > 255 ||
            p.type != DataType::kText) {
          ThrowError(dao_error::kSelectStatement);
        }
        Take();
        p.size = static_cast<int>(size.integer);
        if (!AcceptSymbol(")")) ThrowError(dao_error::kSelectStatement);
      }
      for (const ParameterDecl& other : s.parameters) {
        if (NamesEqual(other.name, p.name)) ThrowError(dao_error::kSelectStatement);
      }
      s.parameters.push_back(std::move(p));
    } while (AcceptSymbol(","));
    if (!AcceptSymbol(";")) ThrowError(dao_error::kSelectStatement);
  }

  void SelectList(SelectStatement& s) {
    do {
      const Token& t = Peek();
      if (t.kind == TokenKind::kEnd || IsReserved(t) || IsSymbol(t, ",") || IsSymbol(t, ";")) {
        // "SELECT FROM T", "SELECT a, FROM T", but "SELECT Not a" is an expression.
        if (!IsKeyword(t, "NOT")) ThrowError(dao_error::kSelectStatement);
      }
      SelectItem item;
      if (IsSymbol(t, "*")) {
        Take();
        item.expr = std::make_unique<Node>();
        item.expr->kind = NodeKind::kStar;
        item.expr->begin = t.begin;
        item.expr->end = t.end;
        item.text.assign(1, '*');
      } else if ((t.kind == TokenKind::kWord || t.kind == TokenKind::kBracketName) &&
                 IsStarName()) {
        item.expr = Name(true);
        item.text = std::string(NodeText(text_, *item.expr));
      } else {
        const std::size_t start = pos_;
        item.expr = ClauseExpression(true, true, &item.text);
        if (AcceptKeyword("AS")) {
          const Token& alias = Peek();
          if (alias.kind != TokenKind::kBracketName &&
              (alias.kind != TokenKind::kWord || IsReserved(alias))) {
            ThrowError(dao_error::kSelectStatement);
          }
          Take();
          item.alias = alias.text;
        }
        if (!IsSymbol(Peek(), ",") && !IsKeyword(Peek(), "FROM") && !IsKeyword(Peek(), "INTO") &&
            !AtClauseBoundary()) {
          ExpressionFollowedBy(start, true, true);
        }
      }
      s.items.push_back(std::move(item));
    } while (AcceptSymbol(","));
  }

  // Whether the name starting here ends in ".*".
  bool IsStarName() const {
    std::size_t k = 0;
    while (true) {
      const Token& t = Peek(k);
      if (t.kind != TokenKind::kWord && t.kind != TokenKind::kBracketName) return false;
      const Token& sep = Peek(k + 1);
      if (!IsSymbol(sep, ".") && !IsSymbol(sep, "!")) return false;
      if (IsSymbol(Peek(k + 2), "*")) return true;
      k += 2;
    }
  }

  void FromList(SelectStatement& s) {
    if (AtClauseBoundary()) ThrowError(dao_error::kFromClause);
    do {
      s.from.push_back(FromTerm());
    } while (AcceptSymbol(","));
    if (!AtClauseBoundary()) ThrowError(dao_error::kFromClause);
  }

  FromItemPtr FromTerm() {
    FromItemPtr left = FromPrimary();
    while (true) {
      JoinType type;
      if (AcceptKeyword("INNER")) {
        type = JoinType::kInner;
      } else if (AcceptKeyword("LEFT")) {
        type = JoinType::kLeft;
        AcceptKeyword("OUTER");
      } else if (AcceptKeyword("RIGHT")) {
        type = JoinType::kRight;
        AcceptKeyword("OUTER");
      } else if (IsKeyword(Peek(), "JOIN")) {
        ThrowError(dao_error::kJoinOperation);
      } else {
        break;
      }
      if (!AcceptKeyword("JOIN")) ThrowError(dao_error::kJoinOperation);
      FromItemPtr right = FromPrimary();
      if (!AcceptKeyword("ON")) ThrowError(dao_error::kJoinOperation);
      auto join = std::make_unique<FromItem>();
      join->is_join = true;
      join->join = type;
      join->left = std::move(left);
      join->right = std::move(right);
      const std::size_t start = pos_;
      join->on = ClauseExpression(true, false, &join->on_text);
      const Token& next = Peek();
      if (!(AtClauseBoundary() || IsSymbol(next, ",") || IsSymbol(next, ")") ||
            IsKeyword(next, "INNER") || IsKeyword(next, "LEFT") || IsKeyword(next, "RIGHT"))) {
        ExpressionFollowedBy(start, true, false);
      }
      left = std::move(join);
    }
    return left;
  }

  FromItemPtr FromPrimary() {
    if (AcceptSymbol("(")) {
      Nested guard(depth_);
      if (IsKeyword(Peek(), "SELECT")) ThrowError(dao_error::kFromClause);
      FromItemPtr inner = FromTerm();
      if (!AcceptSymbol(")")) ThrowError(dao_error::kFromClause);
      return inner;
    }
    const Token& t = Peek();
    if (!(t.kind == TokenKind::kBracketName || (t.kind == TokenKind::kWord && !IsReserved(t)))) {
      ThrowError(dao_error::kFromClause);
    }
    Take();
    auto item = std::make_unique<FromItem>();
    item->name = t.text;
    if (IsSymbol(Peek(), ".") || IsSymbol(Peek(), "!")) ThrowError(dao_error::kFromClause);
    const bool as = AcceptKeyword("AS");
    const Token& alias = Peek();
    if (alias.kind == TokenKind::kBracketName ||
        (alias.kind == TokenKind::kWord && !IsReserved(alias))) {
      Take();
      item->alias = alias.text;
    } else if (as) {
      ThrowError(dao_error::kFromClause);
    }
    return item;
  }

 public:
  std::vector<OrderItem> OrderList() {
    std::vector<OrderItem> items;
    do {
      if (AtClauseBoundary() || IsSymbol(Peek(), ",")) ThrowError(dao_error::kOrderByClause);
      OrderItem item;
      const std::size_t start = pos_;
      item.expr = ClauseExpression(true, false, &item.text);
      if (AcceptKeyword("DESC"))
        item.descending = true;
      else
        AcceptKeyword("ASC");
      if (!IsSymbol(Peek(), ",") && !AtClauseBoundary()) {
        if (IsKeyword(Peek(), "ASC") || IsKeyword(Peek(), "DESC") || IsReserved(Peek())) {
          ThrowError(dao_error::kOrderByClause);
        }
        ExpressionFollowedBy(start, true, false);
      }
      items.push_back(std::move(item));
    } while (AcceptSymbol(","));
    return items;
  }

  SelectStatement Statement() { return Select(); }

  NodePtr WholeExpression() {
    NodePtr node = Expression();
    const Token& t = Peek();
    if (t.kind != TokenKind::kEnd) {
      if (IsSymbol(t, ")")) FailAt(t, kExtraParen);
      Unexpected(t);
    }
    return node;
  }

 private:
  std::string_view text_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

NodePtr ParseExpression(std::string_view text) {
  Parser p(text);
  if (p.AtEnd()) throw SyntaxError{std::string(kMissingOperator), 0};
  return p.WholeExpression();
}

std::vector<OrderItem> ParseOrderList(std::string_view text) {
  Parser p(text);
  std::vector<OrderItem> items = p.OrderList();
  if (!p.AtEnd()) ThrowError(dao_error::kOrderByClause);
  return items;
}

SelectStatement ParseSelect(std::string_view sql) {
  Parser p(sql);
  return p.Statement();
}

bool IsReservedWord(std::string_view word) {
  Token t;
  t.kind = TokenKind::kWord;
  t.text = std::string(word);
  return IsReserved(t) || IsKeyword(t, "NULL") || IsKeyword(t, "TRUE") || IsKeyword(t, "FALSE");
}

std::string_view NodeText(std::string_view source, const Node& node) {
  if (node.begin >= source.size() || node.end <= node.begin) return {};
  return Trim(source.substr(node.begin, node.end - node.begin));
}

}  // namespace jetsql::detail

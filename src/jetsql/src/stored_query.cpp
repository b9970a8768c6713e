#include "jetsql/stored_query.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "jetsql/errors.h"
#include "parser.h"

namespace jetsql {
namespace {

constexpr std::string_view kLine = "\r\n";

// Attribute 1's Flag for each kind of query, and the DAO type it stands for.
constexpr std::pair<int, int> kKinds[] = {
    {1, query_type::kSelect},         {2, query_type::kMakeTable},   {3, query_type::kAppend},
    {4, query_type::kUpdate},         {5, query_type::kDelete},      {6, query_type::kCrosstab},
    {7, query_type::kDataDefinition}, {8, query_type::kPassThrough}, {9, query_type::kUnion},
};

// Option bits of attribute 3.
constexpr int kOptionAllColumns = 0x01;
constexpr int kOptionDistinct = 0x02;
constexpr int kOptionOwnerAccess = 0x04;
constexpr int kOptionDistinctRow = 0x08;
constexpr int kOptionTop = 0x10;
constexpr int kOptionPercent = 0x20;

std::string Text(const std::optional<std::string>& s) {
  return s ? *s : std::string();
}

// DDL and pass-through texts come with a trailing NUL from Access.
std::string WithoutNul(std::string s) {
  while (!s.empty() && s.back() == '\0') s.pop_back();
  return s;
}

std::string Join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += separator;
    out += p;
  }
  return out;
}

const char* JoinWord(int flag) {
  switch (flag) {
    case 2:
      return "LEFT";
    case 3:
      return "RIGHT";
    default:
      return "INNER";
  }
}

// The FROM clause from the table and join rows: unjoined tables first, in their order, then
// each group of joined tables, nested the way the joins were stored.
std::string FromClause(const std::vector<const QueryRow*>& tables,
                       const std::vector<const QueryRow*>& joins) {
  struct Component {
    std::string text;
    bool composite = false;
    bool alive = true;
  };
  std::vector<std::string> ids;
  std::vector<std::string> texts;
  for (const QueryRow* t : tables) {
    const std::string name = Text(t->name1);
    const std::string alias = Text(t->name2);
    ids.push_back(alias.empty() ? name : alias);
    texts.push_back(QuoteName(name) + (alias.empty() ? "" : " AS " + QuoteName(alias)));
  }
  // Conditions of the same pair of tables form one ON clause.
  struct Pair {
    std::string left, right;
    int flag;
    std::vector<std::string> conditions;
  };
  std::vector<Pair> pairs;
  for (const QueryRow* j : joins) {
    const std::string l = Text(j->name1), r = Text(j->name2);
    auto it = std::find_if(pairs.begin(), pairs.end(), [&](const Pair& p) {
      return NamesEqual(p.left, l) && NamesEqual(p.right, r);
    });
    if (it == pairs.end()) {
      pairs.push_back(Pair{l, r, j->flag.value_or(1), {}});
      it = pairs.end() - 1;
    }
    it->conditions.push_back(Text(j->expression));
  }
  std::vector<Component> components;
  std::vector<int> owner(ids.size(), -1);
  auto find_table = [&](const std::string& id) -> int {
    for (std::size_t i = 0; i < ids.size(); ++i) {
      if (NamesEqual(ids[i], id)) return static_cast<int>(i);
    }
    return -1;
  };
  auto component_of = [&](int table) {
    if (owner[table] < 0) {
      owner[table] = static_cast<int>(components.size());
      components.push_back(Component{texts[table], false, true});
    }
    return owner[table];
  };
  for (const Pair& p : pairs) {
    const int lt = find_table(p.left), rt = find_table(p.right);
    if (lt < 0 || rt < 0) continue;
    const int lc = component_of(lt), rc = component_of(rt);
    if (lc == rc) continue;
    std::string condition;
    if (p.conditions.size() == 1) {
      condition = p.conditions[0];
    } else {
      std::vector<std::string> wrapped;
      for (const std::string& c : p.conditions) wrapped.push_back("(" + c + ")");
      condition = Join(wrapped, " AND ");
    }
    auto wrap = [&](const Component& c) { return c.composite ? "(" + c.text + ")" : c.text; };
    Component merged{wrap(components[lc]) + " " + JoinWord(p.flag) + " JOIN " +
                         wrap(components[rc]) + " ON " + condition,
                     true, true};
    components[lc].alive = components[rc].alive = false;
    const int index = static_cast<int>(components.size());
    components.push_back(std::move(merged));
    for (int& o : owner) {
      if (o == lc || o == rc) o = index;
    }
  }
  std::vector<std::string> parts;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (owner[i] < 0 || !components[owner[i]].composite) parts.push_back(texts[i]);
  }
  for (const Component& c : components) {
    if (c.alive && c.composite) parts.push_back(c.text);
  }
  return Join(parts, ", ");
}

std::string ParameterClause(const std::vector<ParameterInfo>& parameters) {
  if (parameters.empty()) return {};
  std::vector<std::string> parts;
  for (const ParameterInfo& p : parameters) {
    std::string type(DataTypeSqlName(p.type));
    if (p.type == DataType::kText && p.size > 0 && p.size != 255) {
      type += "(" + std::to_string(p.size) + ")";
    }
    parts.push_back(QuoteName(p.name) + " " + type);
  }
  return "PARAMETERS " + Join(parts, ", ") + ";" + std::string(kLine);
}

}  // namespace

std::string_view QueryTypeName(int type) {
  switch (type) {
    case 0:
      return "dbQSelect";
    case 16:
      return "dbQCrosstab";
    case 32:
      return "dbQDelete";
    case 48:
      return "dbQUpdate";
    case 64:
      return "dbQAppend";
    case 80:
      return "dbQMakeTable";
    case 96:
      return "dbQDDL";
    case 112:
      return "dbQSQLPassThrough";
    case 128:
      return "dbQSetOperation";
    case 144:
      return "dbQSPTBulk";
    case 160:
      return "dbQCompound";
    case 224:
      return "dbQProcedure";
    case 240:
      return "dbQAction";
    default:
      return {};
  }
}

std::string QuoteName(std::string_view name) {
  bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || c == '_' || u >= 0x80)) plain = false;
  }
  if (plain && !detail::IsReservedWord(name)) return std::string(name);
  return "[" + std::string(name) + "]";
}

namespace {

// The rows of one stored query, in attribute order and, within an attribute, in their order.
class QueryRows {
 public:
  explicit QueryRows(std::vector<QueryRow> rows) : rows_(std::move(rows)) {
    std::stable_sort(rows_.begin(), rows_.end(), [](const QueryRow& a, const QueryRow& b) {
      return a.attribute != b.attribute ? a.attribute < b.attribute : a.order < b.order;
    });
  }
  std::vector<const QueryRow*> All(std::uint8_t attribute) const {
    std::vector<const QueryRow*> out;
    for (const QueryRow& r : rows_) {
      if (r.attribute == attribute) out.push_back(&r);
    }
    return out;
  }
  const QueryRow* First(std::uint8_t attribute) const {
    for (const QueryRow& r : rows_) {
      if (r.attribute == attribute) return &r;
    }
    return nullptr;
  }

 private:
  std::vector<QueryRow> rows_;
};

std::vector<ParameterInfo> ParametersOf(const QueryRows& rows) {
  std::vector<ParameterInfo> out;
  for (const QueryRow* p : rows.All(query_attribute::kParameter)) {
    ParameterInfo info;
    info.name = Text(p->name1);
    info.type = static_cast<DataType>(p->flag.value_or(0));
    if (DataTypeSqlName(info.type) == "Value") info.type = DataType::kValue;
    info.size = info.type == DataType::kText ? p->lv_extra.value_or(0) : 0;
    info.declared = true;
    out.push_back(std::move(info));
  }
  return out;
}

// A union: each side's own SQL, joined.
std::string UnionSql(const QueryRows& rows, const StoredQuery& q, int option_bits) {
  std::vector<std::string> sides;
  for (const QueryRow* t : rows.All(query_attribute::kTable)) {
    std::string side = Text(t->expression);
    while (!side.empty() && (side.back() == '\n' || side.back() == '\r' || side.back() == ' ' ||
                             side.back() == ';')) {
      side.pop_back();
    }
    sides.push_back(side);
  }
  const std::string joiner =
      std::string(kLine) + ((option_bits & kOptionAllColumns) ? "UNION ALL " : "UNION ");
  return ParameterClause(q.parameters) + Join(sides, joiner) + ";";
}

// The clauses of the other kinds of query, as their rows give them.
struct QueryClauses {
  std::vector<std::string> columns;      // SELECT list (row headings for a crosstab)
  std::vector<std::string> transform;    // crosstab value
  std::string pivot;                     // crosstab column heading
  std::vector<std::string> targets;      // append / update target columns
  std::vector<std::string> assignments;  // update SET items
  std::string predicate;                 // DISTINCT, TOP ...
  std::string from;
  std::vector<std::string> groups, orders;
};

QueryClauses ClausesOf(const QueryRows& rows, int type, const QueryRow* options, int option_bits) {
  QueryClauses c;
  for (const QueryRow* col : rows.All(query_attribute::kColumn)) {
    std::string item = Text(col->expression);
    const std::string alias = Text(col->name1);
    if (!alias.empty()) item += " AS " + QuoteName(alias);
    if (type == query_type::kCrosstab) {
      const int role = col->flag.value_or(0);
      if (role == 1)
        c.pivot = Text(col->expression);
      else if (role == 2)
        c.columns.push_back(item);
      else
        c.transform.push_back(item);
      continue;
    }
    if (type == query_type::kUpdate) {
      c.assignments.push_back(Text(col->name2) + " = " + Text(col->expression));
      continue;
    }
    if (col->name2) c.targets.push_back(*col->name2);
    c.columns.push_back(item);
  }
  if (option_bits & kOptionAllColumns) c.columns.push_back("*");

  if (option_bits & kOptionDistinct) c.predicate += "DISTINCT ";
  if (option_bits & kOptionDistinctRow) c.predicate += "DISTINCTROW ";
  if (option_bits & kOptionTop) {
    c.predicate += "TOP " + Text(options->name1) + " ";
    if (option_bits & kOptionPercent) c.predicate += "PERCENT ";
  }

  c.from = FromClause(rows.All(query_attribute::kTable), rows.All(query_attribute::kJoin));
  if (const QueryRow* remote = rows.First(query_attribute::kRemoteDatabase)) {
    c.from += " IN '" + Text(remote->name1) + "'";
    if (remote->expression) c.from += " [" + *remote->expression + "]";
  }
  for (const QueryRow* g : rows.All(query_attribute::kGroupBy)) {
    if (type == query_type::kCrosstab && g->flag.value_or(0) == 1) continue;  // the pivot
    c.groups.push_back(Text(g->expression));
  }
  for (const QueryRow* o : rows.All(query_attribute::kOrderBy)) {
    std::string item = Text(o->expression);
    if (o->name1 && (*o->name1 == "D" || *o->name1 == "d")) item += " DESC";
    c.orders.push_back(item);
  }
  return c;
}

std::string StatementSql(const QueryRows& rows, const StoredQuery& q, const QueryRow* type_row,
                         int option_bits, const QueryClauses& c) {
  const QueryRow* where = rows.First(query_attribute::kWhere);
  const QueryRow* having = rows.First(query_attribute::kHaving);
  const std::string target = type_row ? Text(type_row->name1) : std::string();
  const std::string list = Join(c.columns, ", ");
  const std::string line(kLine);

  std::string sql = ParameterClause(q.parameters);
  switch (q.type) {
    case query_type::kDelete:
      sql += "DELETE " + c.predicate + list + line + "FROM " + c.from;
      break;
    case query_type::kUpdate:
      sql += "UPDATE " + c.from + line + "SET " + Join(c.assignments, ", ");
      break;
    case query_type::kAppend: {
      sql += "INSERT INTO " + QuoteName(target);
      if (!c.targets.empty()) sql += " (" + Join(c.targets, ", ") + ")";
      sql += line + "SELECT " + c.predicate + list + line + "FROM " + c.from;
      break;
    }
    case query_type::kMakeTable:
      sql +=
          "SELECT " + c.predicate + list + " INTO " + QuoteName(target) + line + "FROM " + c.from;
      break;
    case query_type::kCrosstab:
      sql += "TRANSFORM " + Join(c.transform, ", ") + line + "SELECT " + c.predicate + list + line +
             "FROM " + c.from;
      break;
    default:
      sql += "SELECT " + c.predicate + list;
      if (!c.from.empty()) sql += line + "FROM " + c.from;
      break;
  }
  if (where) sql += line + "WHERE " + Text(where->expression);
  if (!c.groups.empty()) sql += line + "GROUP BY " + Join(c.groups, ", ");
  if (having) sql += line + "HAVING " + Text(having->expression);
  if (!c.orders.empty()) sql += line + "ORDER BY " + Join(c.orders, ", ");
  if (q.type == query_type::kCrosstab && !c.pivot.empty()) sql += line + "PIVOT " + c.pivot;
  if (option_bits & kOptionOwnerAccess) sql += line + "WITH OWNERACCESS OPTION";
  return sql + ";";
}

}  // namespace

StoredQuery QueryFromRows(std::string name, std::vector<QueryRow> stored) {
  const QueryRows rows(std::move(stored));
  StoredQuery q;
  q.name = std::move(name);
  const QueryRow* type_row = rows.First(query_attribute::kType);
  int kind = type_row ? type_row->flag.value_or(1) : 1;
  q.type = query_type::kSelect;
  for (const auto& [flag, type] : kKinds) {
    if (flag == kind) q.type = type;
  }
  q.parameters = ParametersOf(rows);

  if (q.type == query_type::kDataDefinition || q.type == query_type::kPassThrough) {
    q.sql = type_row ? WithoutNul(Text(type_row->expression)) : std::string();
    return q;
  }
  const QueryRow* options = rows.First(query_attribute::kOptions);
  const int option_bits = options ? options->flag.value_or(0) : 0;
  if (q.type == query_type::kUnion) {
    q.sql = UnionSql(rows, q, option_bits);
    return q;
  }
  q.sql =
      StatementSql(rows, q, type_row, option_bits, ClausesOf(rows, q.type, options, option_bits));
  return q;
}

namespace {

// The name a join row uses for a FROM item: its alias, else its name.
std::string ItemId(const detail::FromItem& item) {
  return item.alias.empty() ? item.name : item.alias;
}

void Leaves(const detail::FromItem& item, std::vector<const detail::FromItem*>& out) {
  if (!item.is_join) {
    out.push_back(&item);
    return;
  }
  Leaves(*item.left, out);
  Leaves(*item.right, out);
}

// A table of `side` that the join condition names, else the side's first table: what lets
// the rows be put back together in the same nesting.
std::string SideId(const detail::FromItem& side, const std::string& condition) {
  std::vector<const detail::FromItem*> leaves;
  Leaves(side, leaves);
  std::string lowered;
  for (char c : condition)
    lowered += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const detail::FromItem* leaf : leaves) {
    std::string id;
    for (char c : ItemId(*leaf))
      id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lowered.find(id + ".") != std::string::npos ||
        lowered.find("[" + id + "].") != std::string::npos) {
      return ItemId(*leaf);
    }
  }
  return ItemId(*leaves.front());
}

void JoinRows(const detail::FromItem& item, std::vector<QueryRow>& out) {
  if (!item.is_join) return;
  // Inner joins first, so that reading the rows back nests them the same way.
  JoinRows(*item.left, out);
  JoinRows(*item.right, out);
  QueryRow r;
  r.attribute = query_attribute::kJoin;
  r.name1 = SideId(*item.left, item.on_text);
  r.name2 = SideId(*item.right, item.on_text);
  r.expression = item.on_text;
  r.flag = static_cast<std::int16_t>(item.join);
  out.push_back(std::move(r));
}

}  // namespace

std::vector<QueryRow> RowsForSelect(std::string_view sql) {
  const detail::SelectStatement s = detail::ParseSelect(sql);
  std::vector<QueryRow> rows;
  auto add = [&](QueryRow r) { rows.push_back(std::move(r)); };

  add(QueryRow{query_attribute::kStart, 0, {}, {}, {}, std::int16_t{0}, {}});
  add(QueryRow{query_attribute::kType, 0, {}, {}, {}, std::int16_t{1}, {}});
  for (const detail::ParameterDecl& p : s.parameters) {
    QueryRow r;
    r.attribute = query_attribute::kParameter;
    r.name1 = p.name;
    r.flag = static_cast<std::int16_t>(p.type);
    if (p.type == DataType::kText && p.size > 0) r.lv_extra = p.size;
    add(std::move(r));
  }
  int options = 0;
  if (s.predicate == detail::Predicate::kDistinct) options |= kOptionDistinct;
  if (s.predicate == detail::Predicate::kDistinctRow) options |= kOptionDistinctRow;
  if (s.owner_access) options |= kOptionOwnerAccess;
  if (s.has_top) options |= kOptionTop | (s.top_percent ? kOptionPercent : 0);
  for (const detail::SelectItem& item : s.items) {
    if (item.expr->kind == detail::NodeKind::kStar && item.expr->parts.empty()) {
      options |= kOptionAllColumns;
    }
  }
  QueryRow opt;
  opt.attribute = query_attribute::kOptions;
  opt.flag = static_cast<std::int16_t>(options);
  if (s.has_top) opt.name1 = s.top_text;
  add(std::move(opt));

  std::vector<const detail::FromItem*> leaves;
  for (const detail::FromItemPtr& item : s.from) Leaves(*item, leaves);
  // Join rows name their tables by alias or name, so two tables may not share one.
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (NamesEqual(ItemId(*leaves[i]), ItemId(*leaves[j]))) ThrowError(dao_error::kFromClause);
    }
  }
  for (const detail::FromItem* leaf : leaves) {
    QueryRow r;
    r.attribute = query_attribute::kTable;
    r.name1 = leaf->name;
    if (!leaf->alias.empty()) r.name2 = leaf->alias;
    add(std::move(r));
  }
  for (const detail::SelectItem& item : s.items) {
    if (item.expr->kind == detail::NodeKind::kStar && item.expr->parts.empty()) continue;
    QueryRow r;
    r.attribute = query_attribute::kColumn;
    r.expression = item.text;
    if (!item.alias.empty()) r.name1 = item.alias;
    r.flag = 0;
    add(std::move(r));
  }
  std::vector<QueryRow> joins;
  for (const detail::FromItemPtr& item : s.from) JoinRows(*item, joins);
  for (QueryRow& j : joins) add(std::move(j));
  if (s.where) {
    QueryRow r;
    r.attribute = query_attribute::kWhere;
    r.expression = s.where_text;
    add(std::move(r));
  }
  for (const std::string& g : s.group_texts) {
    QueryRow r;
    r.attribute = query_attribute::kGroupBy;
    r.expression = g;
    r.flag = 0;
    add(std::move(r));
  }
  if (s.having) {
    QueryRow r;
    r.attribute = query_attribute::kHaving;
    r.expression = s.having_text;
    add(std::move(r));
  }
  for (const detail::OrderItem& o : s.order_by) {
    QueryRow r;
    r.attribute = query_attribute::kOrderBy;
    r.expression = o.text;
    if (o.descending) r.name1 = "D";
    add(std::move(r));
  }
  add(QueryRow{query_attribute::kEnd, 0, {}, {}, {}, {}, {}});

  // Each attribute numbers its rows from 1.
  std::map<std::uint8_t, std::uint32_t> next;
  for (QueryRow& r : rows) r.order = ++next[r.attribute];
  return rows;
}

}  // namespace jetsql

#include "jetsql/jet_catalog.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "core/encoding.h"
#include "functions.h"
#include "jet/index_cursor.h"
#include "jet/index_key.h"
#include "jet/row_codec.h"
#include "jetsql/errors.h"
#include "jetsql/expression.h"

namespace jetsql {
namespace {

constexpr std::int32_t kRootId = 0x0F000000;
constexpr std::int32_t kTablesId = 0x0F000001;  // where Jet puts the Tables container
constexpr std::int32_t kDatabaseObjectId = 0x10000000;
// Rights Access gives the accounts of the Tables container on a new query.
constexpr std::int32_t kQueryRights = 0x000FFEFF;

// ---- a table as a row source ----

class JetTableSource;

class JetScanCursor final : public RowCursor {
 public:
  JetScanCursor(jet::Table& table, const std::vector<int>& positions)
      : scan_(table.StartScan()), positions_(positions) {}
  bool Next() override { return scan_.Next(); }
  RowLocator Locator() const override { return scan_.Position().ToU32(); }
  core::Variant Get(std::size_t column) const override {
    if (column >= positions_.size()) return core::Variant::Null();
    return scan_.Value(static_cast<std::size_t>(positions_[column]));
  }

 private:
  mutable jet::Table::Scan scan_;
  const std::vector<int>& positions_;
};

// Rows in the order of an index, between two bounds on its first column. The bounds are key
// segments in the index's own direction: for a descending column the range's high end comes
// first in the tree.
class JetIndexCursor final : public RowCursor {
 public:
  JetIndexCursor(jet::Table& table, const std::vector<int>& positions, jet::IndexCursor cursor,
                 std::vector<std::uint8_t> start, bool start_inclusive,
                 std::vector<std::uint8_t> stop, bool stop_inclusive, std::uint8_t null_flag)
      : table_(table),
        positions_(positions),
        cursor_(std::move(cursor)),
        start_(std::move(start)),
        stop_(std::move(stop)),
        start_inclusive_(start_inclusive),
        stop_inclusive_(stop_inclusive),
        null_flag_(null_flag) {}

  bool Next() override {
    while (true) {
      bool ok;
      if (!started_) {
        started_ = true;
        ok = start_.empty() ? cursor_.First()
                            : cursor_.Seek(start_inclusive_ ? jet::SeekComparison::kGreaterEqual
                                                            : jet::SeekComparison::kGreater,
                                           start_);
      } else {
        ok = cursor_.Next();
      }
      if (!ok) return false;
      const std::span<const std::uint8_t> key = cursor_.Key();
      // Null keys match no range: first in an ascending column, last in a descending one.
      if (!key.empty() && key[0] == null_flag_) {
        if (null_flag_ == 0x00) continue;
        return false;
      }
      if (!stop_.empty() && !cursor_.KeyWithin(stop_, stop_inclusive_)) return false;
      const jet::IndexRowPointer where = cursor_.Row();
      current_ = jet::RowPointer{where.page, where.row};
      try {
        values_ = table_.Read(current_);
      } catch (const jet::JetError& e) {
        if (e.Code() == jet::ErrorCode::kNotFound) continue;
        throw;
      }
      return true;
    }
  }
  RowLocator Locator() const override { return current_.ToU32(); }
  core::Variant Get(std::size_t column) const override {
    if (column >= positions_.size()) return core::Variant::Null();
    return values_[static_cast<std::size_t>(positions_[column])];
  }

 private:
  jet::Table& table_;
  const std::vector<int>& positions_;
  jet::IndexCursor cursor_;
  std::vector<std::uint8_t> start_, stop_;
  bool start_inclusive_, stop_inclusive_;
  std::uint8_t null_flag_;
  bool started_ = false;
  jet::RowPointer current_;
  std::vector<core::Variant> values_;
};

class JetTableSource final : public TableSource {
 public:
  JetTableSource(jet::Database& db, jet::Table& table)
      : db_(db), table_(table), name_(table.Name()) {
    const jet::TableDefinition& def = table.Definition();
    for (int position : table.ColumnOrder()) {
      const jet::ColumnDefinition& c = def.columns[static_cast<std::size_t>(position)];
      ColumnInfo info{c.name, DataTypeOfColumn(c.type), name_};
      if (c.IsText() && db.Version() == jet::JetVersion::kJet4) info.sort_order = c.TextSortOrder();
      columns_.push_back(std::move(info));
      positions_.push_back(position);
    }
    // One entry per real index, named after its first logical index.
    for (std::size_t r = 0; r < def.real_indexes.size(); ++r) {
      IndexInfo info;
      for (const jet::LogicalIndexDefinition& li : def.indexes) {
        if (li.real_index != r) continue;
        if (info.name.empty()) info.name = li.name;
        info.primary = info.primary || li.kind == jet::index_kind::kPrimaryKey;
      }
      bool usable = true;
      for (const jet::IndexColumn& ic : def.real_indexes[r].columns) {
        const int ours = OurColumn(ic.column_number);
        if (ours < 0) usable = false;
        info.columns.push_back(ours);
        info.descending.push_back(!ic.ascending);
      }
      info.unique = (def.real_indexes[r].flags & jet::index_flag::kUnique) != 0 || info.primary;
      if (!usable || info.columns.empty()) continue;
      indexes_.push_back(info);
      real_of_.push_back(r);
    }
  }

  const std::string& Name() const override { return name_; }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  std::unique_ptr<RowCursor> Scan() override {
    return std::make_unique<JetScanCursor>(table_, positions_);
  }

  bool Read(RowLocator locator, std::vector<core::Variant>& values) override {
    std::vector<core::Variant> raw;
    try {
      raw = table_.Read(jet::RowPointer::FromU32(locator));
    } catch (const jet::JetError& e) {
      if (e.Code() == jet::ErrorCode::kNotFound) return false;
      throw;
    }
    values.clear();
    for (int p : positions_) values.push_back(raw[static_cast<std::size_t>(p)]);
    return true;
  }

  std::vector<IndexInfo> Indexes() const override { return indexes_; }

  std::unique_ptr<RowCursor> ScanIndex(std::size_t index, const KeyBound& low,
                                       const KeyBound& high) override {
    if (index >= indexes_.size()) return nullptr;
    const jet::TableDefinition& def = table_.Definition();
    jet::IndexDefinition definition = jet::DescribeIndex(def, real_of_[index], db_.Path(), name_);
    const jet::IndexKeyColumn& first = definition.columns.at(0);
    if (!jet::CanEncodeColumn(first.key)) return nullptr;
    const jet::ColumnDefinition* column = def.ColumnByNumber(first.column_number);
    if (column == nullptr) return nullptr;
    std::vector<std::uint8_t> low_key, high_key;
    if ((low.present && !Prefix(*column, first.key, low.value, low_key)) ||
        (high.present && !Prefix(*column, first.key, high.value, high_key))) {
      return nullptr;
    }
    const bool descending = first.key.descending;
    jet::IndexCursor cursor(table_, real_of_[index]);
    if (descending) {
      return std::make_unique<JetIndexCursor>(table_, positions_, std::move(cursor),
                                              std::move(high_key), high.inclusive,
                                              std::move(low_key), low.inclusive, 0xFF);
    }
    return std::make_unique<JetIndexCursor>(table_, positions_, std::move(cursor),
                                            std::move(low_key), low.inclusive, std::move(high_key),
                                            high.inclusive, 0x00);
  }

 private:
  int OurColumn(std::uint16_t number) const {
    const jet::TableDefinition& def = table_.Definition();
    for (std::size_t i = 0; i < positions_.size(); ++i) {
      if (def.columns[static_cast<std::size_t>(positions_[i])].number == number) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  // The key segment of a bound value; false when it cannot be one.
  static bool Prefix(const jet::ColumnDefinition& column, const jet::KeyColumn& key_column,
                     const core::Variant& value, std::vector<std::uint8_t>& out) {
    try {
      std::vector<std::uint8_t> scratch;
      std::u16string text;
      jet::KeyValue key = jet::KeyValue::Null();
      if (column.IsBoolean()) {
        key = jet::KeyValue::Boolean(value.ToBoolean());
      } else if (column.IsText()) {
        text = core::Utf8ToUtf16(value.ToString());
        key = jet::KeyValue::Text(text);
      } else {
        const jet::EncodedValue e = jet::EncodeColumnValue(column, value, scratch);
        if (e.null) return false;
        key = jet::KeyValue::Stored({scratch.data() + e.offset, e.size});
      }
      jet::AppendKeySegment(key_column, key, out);
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  jet::Database& db_;
  jet::Table& table_;
  std::string name_;
  std::vector<ColumnInfo> columns_;
  std::vector<int> positions_;  // our column i is the definition's column positions_[i]
  std::vector<IndexInfo> indexes_;
  std::vector<std::size_t> real_of_;
};

// ---- catalog helpers ----

int Column(jet::Table& t, const char* name) {
  const int i = t.ColumnIndex(name);
  if (i < 0) {
    jet::ThrowCorrupt({.file = "", .table = t.Name()},
                      std::string("the system table has no column '") + name + "'");
  }
  return i;
}

std::optional<std::string> OptionalText(const core::Variant& v) {
  if (v.IsNullOrEmpty()) return std::nullopt;
  return v.ToString();
}

std::int32_t TablesContainer(jet::Table& objects) {
  const int id = Column(objects, "Id"), parent = Column(objects, "ParentId"),
            name = Column(objects, "Name");
  auto scan = objects.StartScan();
  while (scan.Next()) {
    const core::Variant p = scan.Value(static_cast<std::size_t>(parent));
    if (p.IsNull() || p.ToLong() != kRootId) continue;
    const core::Variant n = scan.Value(static_cast<std::size_t>(name));
    if (!n.IsNull() && n.ToString() == "Tables") {
      return scan.Value(static_cast<std::size_t>(id)).ToLong();
    }
  }
  return kTablesId;
}

bool ValidObjectName(std::string_view name) {
  if (name.empty() || name.front() == ' ') return false;
  if (core::Utf8Length(name) > 64 || !core::IsValidUtf8(name)) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']') return false;
  }
  return true;
}

[[noreturn]] void ReadOnlyDatabase() {
  throw SqlError(3027, "Cannot update. Database or object is read-only.", kSourceDatabase);
}

}  // namespace

DataType DataTypeOfColumn(std::uint8_t type) {
  switch (type) {
    case jet::column_type::kBoolean:
      return DataType::kBoolean;
    case jet::column_type::kByte:
      return DataType::kByte;
    case jet::column_type::kInteger:
      return DataType::kInteger;
    case jet::column_type::kLong:
      return DataType::kLong;
    case jet::column_type::kCurrency:
      return DataType::kCurrency;
    case jet::column_type::kSingle:
      return DataType::kSingle;
    case jet::column_type::kDouble:
      return DataType::kDouble;
    case jet::column_type::kDateTime:
      return DataType::kDate;
    case jet::column_type::kBinary:
      return DataType::kBinary;
    case jet::column_type::kText:
      return DataType::kText;
    case jet::column_type::kOle:
      return DataType::kLongBinary;
    case jet::column_type::kMemo:
      return DataType::kMemo;
    case jet::column_type::kGuid:
      return DataType::kGuid;
    case jet::column_type::kNumeric:
      return DataType::kDecimal;
    default:
      return DataType::kValue;
  }
}

JetCatalog::JetCatalog(jet::Database& db) : db_(db) {}
JetCatalog::~JetCatalog() = default;

jet::SortOrder JetCatalog::TextOrder() const {
  return db_.Version() == jet::JetVersion::kJet4 ? db_.DefaultSortOrder() : jet::kGeneralSortOrder;
}

std::shared_ptr<TableSource> JetCatalog::OpenTable(std::string_view name) {
  for (const auto& t : open_) {
    if (NamesEqual(t->Name(), name)) return t;
  }
  const std::optional<jet::CatalogEntry> entry = db_.FindObject(name);
  if (!entry || !entry->IsTable()) return nullptr;
  auto source = std::make_shared<JetTableSource>(db_, db_.OpenTable(entry->name));
  open_.push_back(source);
  return source;
}

std::optional<std::string> JetCatalog::QuerySql(std::string_view name) {
  std::optional<StoredQuery> q = FindQuery(name);
  if (!q || q->type != query_type::kSelect) return std::nullopt;
  return q->sql;
}

std::map<std::int32_t, std::vector<QueryRow>> JetCatalog::RowsOf(
    std::optional<std::int32_t> object_id) {
  jet::Table& queries = db_.OpenTable("MSysQueries");
  const int oid = Column(queries, "ObjectId"), attribute = Column(queries, "Attribute"),
            order = Column(queries, "Order"), name1 = Column(queries, "Name1"),
            name2 = Column(queries, "Name2"), expression = Column(queries, "Expression"),
            flag = Column(queries, "Flag"), extra = Column(queries, "LvExtra");
  std::map<std::int32_t, std::vector<QueryRow>> rows;
  auto scan = queries.StartScan();
  while (scan.Next()) {
    const core::Variant id = scan.Value(static_cast<std::size_t>(oid));
    if (id.IsNull() || (object_id && id.ToLong() != *object_id)) continue;
    QueryRow r;
    const core::Variant a = scan.Value(static_cast<std::size_t>(attribute));
    r.attribute = a.IsNull() ? 0 : a.ToByte();
    const core::Variant o = scan.Value(static_cast<std::size_t>(order));
    if (o.Type() == core::VarType::ByteArray) {
      for (std::size_t i = 0; i < o.Bytes().size() && i < 4; ++i)
        r.order = (r.order << 8) | o.Bytes()[i];
    }
    r.name1 = OptionalText(scan.Value(static_cast<std::size_t>(name1)));
    r.name2 = OptionalText(scan.Value(static_cast<std::size_t>(name2)));
    r.expression = OptionalText(scan.Value(static_cast<std::size_t>(expression)));
    const core::Variant f = scan.Value(static_cast<std::size_t>(flag));
    if (!f.IsNull()) r.flag = f.ToInteger();
    const core::Variant x = scan.Value(static_cast<std::size_t>(extra));
    if (!x.IsNull()) r.lv_extra = x.ToLong();
    rows[id.ToLong()].push_back(std::move(r));
  }
  return rows;
}

std::vector<StoredQuery> JetCatalog::Queries() {
  std::vector<StoredQuery> out;
  std::map<std::int32_t, std::vector<QueryRow>> rows = RowsOf(std::nullopt);
  for (const jet::CatalogEntry& e : db_.Queries()) {
    out.push_back(QueryFromRows(e.name, std::move(rows[e.id])));
  }
  return out;
}

std::optional<StoredQuery> JetCatalog::FindQuery(std::string_view name) {
  const std::optional<jet::CatalogEntry> entry = db_.FindObject(name);
  if (!entry || !entry->IsQuery()) return std::nullopt;
  return QueryFromRows(entry->name, std::move(RowsOf(entry->id)[entry->id]));
}

StoredQuery JetCatalog::CreateQuery(std::string_view name, std::string_view sql) {
  if (!ValidObjectName(name)) ThrowError(dao_error::kInvalidName, name);
  if (db_.FindObject(name)) ThrowError(dao_error::kObjectExists, name);
  std::vector<QueryRow> rows = RowsForSelect(sql);
  if (db_.ReadOnly()) ReadOnlyDatabase();

  jet::Table& objects = db_.OpenTable("MSysObjects");
  const int c_id = Column(objects, "Id"), c_owner = Column(objects, "Owner");
  // A query has no definition page: its Id is the next of the synthetic negative ones.
  std::int32_t highest_negative = 0;
  bool any_negative = false;
  std::vector<std::uint8_t> owner;
  {
    auto scan = objects.StartScan();
    while (scan.Next()) {
      const core::Variant v = scan.Value(static_cast<std::size_t>(c_id));
      if (v.IsNull()) continue;
      const std::int32_t id = v.ToLong();
      if (id < 0 && (!any_negative || id > highest_negative)) {
        highest_negative = id;
        any_negative = true;
      }
      if (id == kDatabaseObjectId) {
        const core::Variant o = scan.Value(static_cast<std::size_t>(c_owner));
        if (o.Type() == core::VarType::ByteArray) owner = o.Bytes();
      }
    }
  }
  const std::int32_t id = any_negative ? highest_negative + 1 : INT32_MIN;
  const std::int32_t container = TablesContainer(objects);
  const double now = detail::CurrentDateTime();

  std::vector<core::Variant> v(objects.Definition().columns.size());
  v[static_cast<std::size_t>(c_id)] = core::Variant::FromLong(id);
  v[static_cast<std::size_t>(Column(objects, "ParentId"))] = core::Variant::FromLong(container);
  v[static_cast<std::size_t>(Column(objects, "Name"))] =
      core::Variant::FromString(std::string(name));
  v[static_cast<std::size_t>(Column(objects, "Type"))] =
      core::Variant::FromInteger(jet::object_type::kQuery);
  v[static_cast<std::size_t>(Column(objects, "DateCreate"))] = core::Variant::FromDate(now);
  v[static_cast<std::size_t>(Column(objects, "DateUpdate"))] = core::Variant::FromDate(now);
  if (!owner.empty()) v[static_cast<std::size_t>(c_owner)] = core::Variant::FromBytes(owner);
  v[static_cast<std::size_t>(Column(objects, "Flags"))] =
      core::Variant::FromLong(query_type::kSelect);
  objects.Insert(v);

  // Permissions: what every account of the Tables container has on a new object.
  jet::Table& aces = db_.OpenTable("MSysACEs");
  const int a_oid = Column(aces, "ObjectId"), a_sid = Column(aces, "SID"),
            a_acm = Column(aces, "ACM"), a_inh = Column(aces, "FInheritable");
  std::vector<std::vector<std::uint8_t>> sids;
  {
    auto scan = aces.StartScan();
    while (scan.Next()) {
      const core::Variant o = scan.Value(static_cast<std::size_t>(a_oid));
      if (o.IsNull() || o.ToLong() != container) continue;
      const core::Variant s = scan.Value(static_cast<std::size_t>(a_sid));
      if (s.Type() != core::VarType::ByteArray) continue;
      if (std::find(sids.begin(), sids.end(), s.Bytes()) == sids.end()) sids.push_back(s.Bytes());
    }
  }
  for (const auto& sid : sids) {
    std::vector<core::Variant> row(aces.Definition().columns.size());
    row[static_cast<std::size_t>(a_oid)] = core::Variant::FromLong(id);
    row[static_cast<std::size_t>(a_sid)] = core::Variant::FromBytes(sid);
    row[static_cast<std::size_t>(a_acm)] = core::Variant::FromLong(kQueryRights);
    row[static_cast<std::size_t>(a_inh)] = core::Variant::FromBoolean(false);
    aces.Insert(row);
  }

  jet::Table& queries = db_.OpenTable("MSysQueries");
  const int q_oid = Column(queries, "ObjectId"), q_attribute = Column(queries, "Attribute"),
            q_order = Column(queries, "Order"), q_name1 = Column(queries, "Name1"),
            q_name2 = Column(queries, "Name2"), q_expression = Column(queries, "Expression"),
            q_flag = Column(queries, "Flag"), q_extra = Column(queries, "LvExtra");
  for (const QueryRow& r : rows) {
    std::vector<core::Variant> row(queries.Definition().columns.size());
    row[static_cast<std::size_t>(q_oid)] = core::Variant::FromLong(id);
    row[static_cast<std::size_t>(q_attribute)] = core::Variant::FromByte(r.attribute);
    row[static_cast<std::size_t>(q_order)] = core::Variant::FromBytes(
        {static_cast<std::uint8_t>(r.order >> 24), static_cast<std::uint8_t>(r.order >> 16),
         static_cast<std::uint8_t>(r.order >> 8), static_cast<std::uint8_t>(r.order)});
    if (r.name1) row[static_cast<std::size_t>(q_name1)] = core::Variant::FromString(*r.name1);
    if (r.name2) row[static_cast<std::size_t>(q_name2)] = core::Variant::FromString(*r.name2);
    if (r.expression) {
      row[static_cast<std::size_t>(q_expression)] = core::Variant::FromString(*r.expression);
    }
    if (r.flag) row[static_cast<std::size_t>(q_flag)] = core::Variant::FromInteger(*r.flag);
    if (r.lv_extra) row[static_cast<std::size_t>(q_extra)] = core::Variant::FromLong(*r.lv_extra);
    queries.Insert(row);
  }
  return QueryFromRows(std::string(name), std::move(rows));
}

void JetCatalog::DeleteQuery(std::string_view name) {
  const std::optional<jet::CatalogEntry> entry = db_.FindObject(name);
  if (!entry || !entry->IsQuery()) {
    throw SqlError(3265, ErrorText(3265), kSourceDatabase);
  }
  if (db_.ReadOnly()) ReadOnlyDatabase();
  auto remove_where = [&](const char* table, const char* column) {
    jet::Table& t = db_.OpenTable(table);
    const int c = Column(t, column);
    std::vector<jet::RowPointer> doomed;
    auto scan = t.StartScan();
    while (scan.Next()) {
      const core::Variant v = scan.Value(static_cast<std::size_t>(c));
      if (!v.IsNull() && v.ToLong() == entry->id) doomed.push_back(scan.Position());
    }
    for (jet::RowPointer p : doomed) t.Delete(p);
  };
  remove_where("MSysQueries", "ObjectId");
  remove_where("MSysACEs", "ObjectId");
  db_.OpenTable("MSysObjects").Delete(entry->row);
}

}  // namespace jetsql

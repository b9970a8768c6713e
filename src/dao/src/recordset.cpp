// Recordsets: opening, field values, positions, counts, bookmarks, moves and clones. Editing is
// in recordset_editing.cpp; the index order of table-type recordsets (keys, the B-tree walk,
// SetIndex and Seek) in recordset_indexes.cpp.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/encoding.h"
#include "recordset_impl.h"

namespace dao {
namespace detail {
namespace {

std::uint32_t NextTag() {
  static std::atomic<std::uint32_t> counter{0x5EED0001u};
  return counter.fetch_add(0x9E3779B1u);
}

// A row as expressions see it: values in recordset column order.
class RowValues final : public jetsql::RowView {
 public:
  explicit RowValues(const std::vector<core::Variant>& values) : values_(values) {}
  core::Variant Get(std::size_t column) const override {
    return column < values_.size() ? values_[column] : core::Variant::Null();
  }

 private:
  const std::vector<core::Variant>& values_;
};

// What Field.Value gives for a value kept in storage form.
core::Variant OutputForm(const core::Variant& v, int type) {
  if (type == dbGUID && v.Type() == core::VarType::ByteArray && v.Bytes().size() == 16)
    return core::Variant::FromString(GuidValueText(v.Bytes().data()));
  return v;
}

}  // namespace

void RecordsetImpl::CheckOpen() const {
  if (closed || !db->IsOpen()) Raise(*engine, err::kObjectInvalid, source::kRecordset);
}

void RecordsetImpl::Fail(int number, std::string_view source, std::string_view insert1) {
  Raise(*engine, number, source.empty() ? source::kRecordset : source, insert1);
}

void RecordsetImpl::RequireType(bool allowed) const {
  if (!allowed) Raise(*engine, err::kNotSupported, source::kRecordset);
}

void RecordsetImpl::RequireCurrent(std::string_view source) {
  if (!positioned || bof || eof) Fail(err::kNoCurrentRecord, source);
  if (deleted_current) Fail(IsTable() ? err::kRecordDeleted : err::kNoCurrentRecord, source);
}

std::optional<std::size_t> RecordsetImpl::PositionOf(std::size_t ordinal) {
  if (!index || index->cursor) return ordinal;
  if (index->positions_stale) {
    index->position_of.assign(rows->Size(), UINT32_MAX);
    for (std::size_t p = 0; p < index->order.size(); ++p)
      index->position_of[index->order[p]] = static_cast<std::uint32_t>(p);
    index->positions_stale = false;
  }
  if (ordinal >= index->position_of.size() || index->position_of[ordinal] == UINT32_MAX)
    return std::nullopt;
  return index->position_of[ordinal];
}

void RecordsetImpl::Reach(std::size_t position) {
  if (position + 1 > high) high = position + 1;
}

void RecordsetImpl::Land(std::size_t position) {
  cur = position;
  bof = eof = false;
  deleted_current = false;
  positioned = true;
  Reach(position);
}

std::optional<std::size_t> RecordsetImpl::NextLive(std::size_t from) {
  for (std::size_t p = from; p < PositionCount(); ++p)
    if (LiveAt(p)) return p;
  return std::nullopt;
}

std::optional<std::size_t> RecordsetImpl::PrevLive(std::size_t before) {
  for (std::size_t p = std::min(before, PositionCount()); p-- > 0;)
    if (LiveAt(p)) return p;
  return std::nullopt;
}

bool RecordsetImpl::AnyLive() {
  return NextLive(0).has_value();
}

const std::vector<core::Variant>& RecordsetImpl::CurrentRow(std::string_view source) {
  std::size_t ordinal = OrdinalAt(cur);
  std::uint64_t version = rows->version + (rows->table ? rows->table->version : 0);
  if (current_ordinal != ordinal || current_version != version) {
    current_ordinal = SIZE_MAX;
    const auto& row = rows->Row(ordinal, row_scratch, *engine, source);
    current.assign(row.begin(), row.end());
    current_ordinal = ordinal;
    current_version = version;
  }
  return current;
}

core::Variant RecordsetImpl::BookmarkOf(std::size_t ordinal) const {
  std::vector<std::uint8_t> b(8);
  std::uint32_t n = static_cast<std::uint32_t>(ordinal + 1);
  for (int i = 0; i < 4; ++i) {
    b[i] = static_cast<std::uint8_t>(n >> (8 * i));
    b[4 + i] = static_cast<std::uint8_t>(rows->tag >> (8 * i));
  }
  return core::Variant::FromBytes(std::move(b));
}

std::size_t RecordsetImpl::OrdinalOfBookmark(const core::Variant& bookmark) {
  if (bookmark.Type() != core::VarType::ByteArray) Fail(err::kNotValidBookmark);
  const auto& b = bookmark.Bytes();
  if (b.size() < 4) Fail(err::kNotValidBookmark);
  std::uint32_t n = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                    (static_cast<std::uint32_t>(b[2]) << 16) |
                    (static_cast<std::uint32_t>(b[3]) << 24);
  // A full bookmark names its recordset family; the four-byte form callers keep does not.
  if (b.size() >= 8) {
    std::uint32_t tag = static_cast<std::uint32_t>(b[4]) | (static_cast<std::uint32_t>(b[5]) << 8) |
                        (static_cast<std::uint32_t>(b[6]) << 16) |
                        (static_cast<std::uint32_t>(b[7]) << 24);
    if (tag != rows->tag) Fail(err::kNotValidBookmark);
  }
  if (n == 0 || n > rows->Size()) Fail(err::kNotValidBookmark);
  return n - 1;
}

std::vector<jetsql::ColumnInfo> RecordsetImpl::SqlColumns() const {
  std::vector<jetsql::ColumnInfo> out;
  // Text compares in the database's order (the order its text columns take).
  jet::SortOrder order = jet::kGeneralSortOrder;
  if (db && db->db && db->db->Version() == jet::JetVersion::kJet4)
    order = db->db->DefaultSortOrder();
  for (const auto& c : rows->columns)
    out.push_back(
        jetsql::ColumnInfo{c.name, static_cast<jetsql::DataType>(c.type), c.source_table, order});
  return out;
}

// ---- field values ----

core::Variant RecordsetImpl::Value(int column) {
  CheckOpen();
  if (edit_mode != dbEditNone)
    return filled[column] ? OutputForm(buffer[column], rows->columns[column].type)
                          : core::Variant::Null();
  RequireCurrent(source::kField);
  return OutputForm(CurrentRow(source::kField)[column], rows->columns[column].type);
}

void RecordsetImpl::CheckAssignable(int column) {
  CheckOpen();
  if (edit_mode == dbEditNone) Fail(err::kUpdateWithoutEdit, source::kField);
  const ColumnInfo& c = rows->columns[column];
  if (!c.updatable) {
    if (c.auto_increment && auto_number_values && edit_mode == dbEditAdd && updatable &&
        c.storage >= 0)
      return;
    if (c.auto_increment) Fail(err::kFieldCannotBeUpdated, source::kField);
    Fail(err::kFieldNotUpdatable, source::kField, c.name);
  }
}

void RecordsetImpl::SetText(int column, std::string_view text) {
  CheckAssignable(column);
  const ColumnInfo& c = rows->columns[column];
  int e = TextToFieldValue(text, c.type, static_cast<std::uint32_t>(c.size), buffer[column]);
  if (e != 0) Fail(e, source::kField);
  touched[column] = 1;
  filled[column] = 1;
  empty_text[column] = text.empty() && (c.type == dbText || c.type == dbMemo);
}

void RecordsetImpl::SetValue(int column, const core::Variant& value) {
  CheckAssignable(column);
  const ColumnInfo& c = rows->columns[column];
  int e = ConvertToFieldType(value, c.type, static_cast<std::uint32_t>(c.size), buffer[column]);
  if (e != 0) Fail(e, source::kField);
  touched[column] = 1;
  filled[column] = 1;
  empty_text[column] = buffer[column].Type() == core::VarType::String &&
                       (c.type == dbText || c.type == dbMemo) && buffer[column].ToString().empty();
}

std::int32_t RecordsetImpl::FieldSize(int column) {
  core::Variant v = Value(column);
  if (v.IsNullOrEmpty()) return 0;
  int type = rows->columns[column].type;
  if (type == dbMemo) {
    if (v.Type() != core::VarType::String)
      return static_cast<std::int32_t>(core::Utf8ToUtf16(v.ToString()).size() * 2);
    const std::string& text = v.Text();
    if (!core::IsValidUtf8(text))
      return static_cast<std::int32_t>(core::Utf8ToUtf16(text).size() * 2);
    // UTF-16 units of valid UTF-8: one per leading byte, two for four-byte sequences.
    std::size_t units = 0;
    for (unsigned char c : text) units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return static_cast<std::int32_t>(units * 2);
  }
  if (type == dbLongBinary && v.Type() == core::VarType::ByteArray)
    return static_cast<std::int32_t>(v.Bytes().size());
  return rows->columns[column].size;
}

// ---- opening ----

void RecordsetImpl::Initialise() {
  const std::size_t n = rows->columns.size();
  if (fields.size() != n) {
    // Field objects live as long as the recordset, so callers may keep them (the copy run
    // assigns through the same objects for every record).
    fields.clear();
    for (std::size_t c = 0; c < n; ++c) {
      auto st = std::make_shared<FieldState>();
      st->engine = engine;
      st->kind = FieldKind::kRecordset;
      st->name = rows->columns[c].name;
      st->recordset = self;
      st->impl = this;
      st->index = static_cast<int>(c);
      st->in_collection = true;
      fields.push_back(std::make_shared<Field>(st));
    }
  }
  buffer.assign(n, core::Variant::Null());
  touched.assign(n, 0);
  chunked.assign(n, 0);
  filled.assign(n, 0);
  empty_text.assign(n, 0);
  storage_order = rows->table && rows->table->table->Definition().columns.size() == n;
  for (std::size_t c = 0; c < n && storage_order; ++c)
    storage_order = rows->columns[c].storage == static_cast<int>(c);
  defaults.assign(n, std::nullopt);
  if (rows->table && updatable) {
    const auto& rules = db->Rules(*rows->table);
    for (std::size_t c = 0; c < n; ++c) {
      int st = rows->columns[c].storage;
      if (st < 0 || rules[st].default_value.empty() || rows->columns[c].auto_increment) continue;
      try {
        defaults[c] = jetsql::CompiledExpression::Compile(rules[st].default_value, {},
                                                          jetsql::TextKind::kCriteria);
      } catch (const std::exception&) {
        // A default this engine cannot evaluate leaves the field Null, as no default does.
      }
    }
  }
  high = 0;
  bof = eof = true;
  positioned = true;
  deleted_current = false;
  current_ordinal = SIZE_MAX;
  if (auto p = NextLive(0)) Land(*p);
}

// ---- opening over a table ----

std::shared_ptr<Recordset> OpenTableRecordset(const std::shared_ptr<DatabaseState>& db,
                                              const std::string& table, int type, int options,
                                              int lock_edit, std::string_view source) {
  TableState& ts = db->Table(table, source);
  bool read_only = db->read_only || (options & dbReadOnly) != 0 || lock_edit == dbReadOnly;
  if (options & dbForwardOnly) type = dbOpenForwardOnly;
  auto impl = std::make_unique<RecordsetImpl>();
  impl->engine = db->engine;
  impl->db = db;
  impl->name = ts.name;
  impl->type = type;
  impl->options = options;
  impl->lock_edit = lock_edit == 0 ? dbPessimistic : lock_edit;
  impl->lock_edits = impl->lock_edit == dbPessimistic;
  impl->updatable = (type == dbOpenTable || type == dbOpenDynaset) && !read_only;
  impl->source_table = ts.name;
  auto rows = std::make_shared<RowSet>();
  rows->db = db;
  rows->table = &ts;
  rows->columns = TableColumns(*db, ts, impl->updatable);
  rows->copy_rows = type == dbOpenSnapshot || type == dbOpenForwardOnly;
  rows->tag = NextTag();
  if (!(options & dbAppendOnly)) {
    auto scan = ts.table->StartScan();
    while (scan.Next()) rows->Append(ts.Ref(scan.Position().ToU32()));
  }
  rows->version = 0;
  impl->rows = std::move(rows);
  auto rs = std::make_shared<Recordset>(std::move(impl));
  rs->Impl().self = rs;
  rs->Impl().Initialise();
  ++ts.open_recordsets;
  db->recordsets.push_back(rs);
  return rs;
}

}  // namespace detail

using detail::Guard;
using detail::RecordsetImpl;

// ---- Recordset ----

Recordset::Recordset(std::unique_ptr<detail::RecordsetImpl> impl) : impl_(std::move(impl)) {}

Recordset::~Recordset() {
  if (impl_ && !impl_->closed && impl_->rows && impl_->rows->table && impl_->db->IsOpen())
    --impl_->rows->table->open_recordsets;
}

std::string Recordset::Name() const {
  return impl_->name;
}

int Recordset::Type() const {
  return impl_->type;
}

bool Recordset::Updatable() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    impl_->CheckOpen();
    return impl_->updatable;
  });
}

bool Recordset::AutoNumberValues() const {
  return impl_->auto_number_values;
}

void Recordset::SetAutoNumberValues(bool allow) {
  impl_->auto_number_values = allow;
}

bool Recordset::Bookmarkable() const {
  return !impl_->IsForwardOnly();
}

bool Recordset::Restartable() const {
  return !impl_->IsTable();
}

bool Recordset::LockEdits() const {
  return impl_->lock_edits;
}

void Recordset::SetLockEdits(bool lock) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    impl_->CheckOpen();
    if (impl_->edit_mode == dbEditInProgress) impl_->Fail(err::kInvalidOperation);
    impl_->lock_edits = lock;
  });
}

int Recordset::EditMode() const {
  return impl_->edit_mode;
}

bool Recordset::NoMatch() const {
  return impl_->no_match;
}

bool Recordset::Bof() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    impl_->CheckOpen();
    return impl_->bof;
  });
}

bool Recordset::Eof() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    impl_->CheckOpen();
    return impl_->eof;
  });
}

std::int32_t Recordset::RecordCount() const {
  return Guard(*impl_->engine, source::kRecordset, [&]() -> std::int32_t {
    auto& r = *impl_;
    r.CheckOpen();
    if (r.IsTable()) return static_cast<std::int32_t>(r.rows->table->table->RowCount());
    return static_cast<std::int32_t>(r.high - r.rows->DeadBelow(r.high));
  });
}

std::int32_t Recordset::AbsolutePosition() const {
  return Guard(*impl_->engine, source::kRecordset, [&]() -> std::int32_t {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsTable() && !r.IsForwardOnly());
    if (!r.positioned || r.bof || r.eof) return -1;
    if (r.deleted_current) r.Fail(err::kRecordDeleted);
    return static_cast<std::int32_t>(r.cur - r.rows->DeadBelow(r.cur));
  });
}

void Recordset::SetAbsolutePosition(std::int32_t position) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsTable() && !r.IsForwardOnly());
    if (position < 0 || position >= RecordCount()) r.Fail(err::kInvalidArgument);
    // The position-th live row: skip the dead rows known below it, then any found on the way.
    std::size_t p = static_cast<std::size_t>(position);
    for (std::uint32_t d : r.rows->dead_sorted)
      if (d <= p) ++p;
    auto live = r.NextLive(p);
    if (!live) r.Fail(err::kInvalidArgument);
    r.DiscardEdit();
    r.Land(*live);
  });
}

float Recordset::PercentPosition() const {
  return Guard(*impl_->engine, source::kRecordset, [&]() -> float {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    if (!r.positioned || r.bof || r.eof) return 0.0f;
    std::int32_t count = RecordCount();
    if (count <= 0) return 0.0f;
    std::size_t before = r.OnTree()    ? r.TreeRank()
                         : r.IsTable() ? r.cur
                                       : r.cur - r.rows->DeadBelow(r.cur);
    float pct = static_cast<float>(before + 1) * 100.0f / static_cast<float>(count);
    return std::min(pct, 100.0f);
  });
}

void Recordset::SetPercentPosition(float percent) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    if (!(percent >= 0.0f && percent <= 100.0f)) r.Fail(err::kInvalidArgument);
    std::int32_t count = RecordCount();
    if (count <= 0) return;
    long target = std::lround(percent / 100.0f * static_cast<float>(count)) - 1;
    target = std::clamp<long>(target, 0, count - 1);
    if (r.OnTree()) {
      // Counted off from the first entry (a walk over the index).
      jet::IndexCursor& c = *r.index->cursor;
      bool on = c.First();
      for (long i = 0; on && i < target; ++i) {
        if (!c.Next()) {
          on = c.Last();  // an IgnoreNulls index has fewer entries than the table has rows
          break;
        }
      }
      if (!on) return;
      r.DiscardEdit();
      r.LandOnCursor();
    } else if (r.IsTable()) {
      auto live = r.NextLive(static_cast<std::size_t>(target));
      if (!live) live = r.PrevLive(static_cast<std::size_t>(target));
      if (!live) return;
      r.DiscardEdit();
      r.Land(*live);
    } else {
      SetAbsolutePosition(static_cast<std::int32_t>(target));
    }
  });
}

core::Variant Recordset::Bookmark() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    r.RequireCurrent(source::kRecordset);
    return r.BookmarkOf(r.OrdinalAt(r.cur));
  });
}

void Recordset::SetBookmark(const core::Variant& bookmark) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    std::size_t ordinal = r.OrdinalOfBookmark(bookmark);
    auto position = r.PositionOf(ordinal);
    if (!position || !r.rows->Live(ordinal)) r.Fail(err::kRecordDeleted);
    r.DiscardEdit();
    if (r.OnTree())
      r.LandOnRow(ordinal);
    else
      r.Land(*position);
  });
}

core::Variant Recordset::LastModified() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.type == dbOpenTable || r.type == dbOpenDynaset);
    if (r.last_modified == 0) r.Fail(err::kNoCurrentRecord);
    return r.BookmarkOf(r.last_modified - 1);
  });
}

core::Variant Recordset::DateCreated() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.IsTable());
    auto e = r.db->FindObject(r.source_table, source::kRecordset);
    return e ? core::Variant::FromDate(e->date_create) : core::Variant::Null();
  });
}

core::Variant Recordset::LastUpdated() const {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.IsTable());
    auto e = r.db->FindObject(r.source_table, source::kRecordset);
    return e ? core::Variant::FromDate(e->date_update) : core::Variant::Null();
  });
}

std::string Recordset::ValidationRule() const {
  return {};
}

std::string Recordset::ValidationText() const {
  return {};
}

// ---- moving ----

void Recordset::MoveFirst() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    r.DiscardEdit();
    if (r.OnTree() && r.TreeStep(true, true)) {
      r.LandOnCursor();
      return;
    }
    auto p = r.OnTree() ? std::nullopt : r.NextLive(0);
    if (!p) {
      bool was_empty = r.bof && r.eof;
      r.bof = r.eof = true;
      r.deleted_current = false;
      if (was_empty) r.Fail(err::kNoCurrentRecord);
      return;
    }
    r.Land(*p);
  });
}

void Recordset::MoveLast(int options) {
  (void)options;
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    r.DiscardEdit();
    if (r.OnTree() && r.TreeStep(false, true)) {
      r.LandOnCursor();
      return;
    }
    auto p = r.OnTree() ? std::nullopt : r.PrevLive(r.PositionCount());
    if (!p) {
      bool was_empty = r.bof && r.eof;
      r.bof = r.eof = true;
      r.deleted_current = false;
      if (was_empty) r.Fail(err::kNoCurrentRecord);
      return;
    }
    r.Land(*p);
    // MoveLast populates the whole recordset.
    r.high = std::max(r.high, r.PositionCount());
  });
}

void Recordset::MoveNext() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    if (r.eof || (r.bof && r.eof)) r.Fail(err::kNoCurrentRecord);
    r.DiscardEdit();
    std::size_t from = (r.bof || !r.positioned) ? 0 : r.cur + 1;
    if (r.OnTree() && r.TreeStep(true, r.bof || !r.positioned)) {
      r.LandOnCursor();
      return;
    }
    auto p = r.OnTree() ? std::nullopt : r.NextLive(from);
    if (!p) {
      r.eof = true;
      r.deleted_current = false;
      r.positioned = true;
      r.high = std::max(r.high, r.PositionCount());
      return;
    }
    r.Land(*p);
  });
}

void Recordset::MovePrevious() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    if (r.bof) r.Fail(err::kNoCurrentRecord);
    r.DiscardEdit();
    std::size_t before = (r.eof || !r.positioned) ? r.PositionCount() : r.cur;
    if (r.OnTree() && r.TreeStep(false, r.eof || !r.positioned)) {
      r.LandOnCursor();
      return;
    }
    auto p = r.OnTree() ? std::nullopt : r.PrevLive(before);
    if (!p) {
      r.bof = true;
      r.deleted_current = false;
      r.positioned = true;
      return;
    }
    r.Land(*p);
  });
}

void Recordset::Move(std::int32_t rows, const core::Variant& start_bookmark) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    const bool with_bookmark = !start_bookmark.IsNullOrEmpty();
    if (r.IsForwardOnly() && (rows < 0 || with_bookmark)) r.Fail(err::kNotSupported);
    // Where the count starts: a record's position, or a crack before/after the rows.
    enum class From { kRecord, kBefore, kAfter } from = From::kRecord;
    std::size_t base = 0;
    if (with_bookmark) {
      std::size_t ordinal = r.OrdinalOfBookmark(start_bookmark);
      auto position = r.PositionOf(ordinal);
      if (!position || !r.rows->Live(ordinal)) r.Fail(err::kRecordDeleted);
      base = *position;
      // In index order the count starts from the record's entry.
      if (r.OnTree() && rows != 0) {
        r.DiscardEdit();
        r.LandOnRow(ordinal);
      }
    } else if (r.bof && r.eof) {
      r.Fail(err::kNoCurrentRecord);
    } else if (r.bof || !r.positioned) {
      if (rows <= 0) r.Fail(err::kNoCurrentRecord);
      from = From::kBefore;
    } else if (r.eof) {
      if (rows >= 0) r.Fail(err::kNoCurrentRecord);
      from = From::kAfter;
    } else {
      base = r.cur;
    }
    if (rows == 0) {
      // Move 0 re-reads the current record and drops a pending edit.
      if (!with_bookmark) r.RequireCurrent(source::kRecordset);
      r.DiscardEdit();
      r.current_ordinal = SIZE_MAX;
      if (r.OnTree() && with_bookmark)
        r.LandOnRow(base);
      else
        r.Land(base);
      return;
    }
    r.DiscardEdit();
    if (r.OnTree()) {
      // Step by step through the index from the record or crack the count starts at.
      jet::IndexCursor& c = *r.index->cursor;
      const bool forward = rows > 0;
      bool on = r.TreeStep(forward, from != From::kRecord);
      const std::int64_t steps = forward ? rows : -static_cast<std::int64_t>(rows);
      if (forward && on && steps > 1) {
        on = c.Skip(static_cast<std::uint64_t>(steps - 1));  // leaf by leaf
      } else {
        for (std::int64_t i = 1; on && i < steps; ++i) on = c.Prev();
      }
      if (on) {
        r.LandOnCursor();
      } else {
        (forward ? r.eof : r.bof) = true;
        r.deleted_current = false;
        r.positioned = true;
      }
      return;
    }
    if (rows > 0) {
      std::size_t next = from == From::kBefore ? 0 : base + 1;
      std::optional<std::size_t> p;
      for (std::int32_t i = 0; i < rows; ++i) {
        p = r.NextLive(next);
        if (!p) break;
        next = *p + 1;
      }
      if (!p) {
        r.eof = true;
        r.deleted_current = false;
        r.positioned = true;
        r.high = std::max(r.high, r.PositionCount());
        return;
      }
      r.Land(*p);
    } else {
      std::size_t before = from == From::kAfter ? r.PositionCount() : base;
      std::optional<std::size_t> p;
      for (std::int32_t i = 0; i > rows; --i) {
        p = r.PrevLive(before);
        if (!p) break;
        before = *p;
      }
      if (!p) {
        r.bof = true;
        r.deleted_current = false;
        r.positioned = true;
        return;
      }
      r.Land(*p);
    }
  });
}

// ---- clone, requery, close ----

std::shared_ptr<Recordset> Recordset::Clone() {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(!r.IsForwardOnly());
    auto impl = std::make_unique<RecordsetImpl>();
    impl->engine = r.engine;
    impl->db = r.db;
    impl->rows = r.rows;
    impl->name = r.name;
    impl->type = r.type;
    impl->options = r.options;
    impl->lock_edit = r.lock_edit;
    impl->lock_edits = r.lock_edits;
    impl->updatable = r.updatable;
    impl->source_table = r.source_table;
    impl->filter_text = r.filter_text;
    impl->sort_text = r.sort_text;
    impl->derived = r.derived;
    impl->source_sql = r.source_sql;
    impl->source_parameters = r.source_parameters;
    impl->max_records = r.max_records;
    auto rs = std::make_shared<Recordset>(std::move(impl));
    auto& c = rs->Impl();
    c.self = rs;
    c.Initialise();
    // A clone has no current record until it is positioned; it counts as far as its original.
    c.positioned = false;
    c.bof = c.eof = false;
    c.high = r.high;
    if (c.rows->Size() == 0) c.bof = c.eof = true;
    if (c.rows->table) ++c.rows->table->open_recordsets;
    r.db->recordsets.push_back(rs);
    return rs;
  });
}

void Recordset::Close() {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    if (r.closed) r.Fail(err::kObjectInvalid);
    r.closed = true;
    r.edit_mode = dbEditNone;
    if (r.rows && r.rows->table && r.db->IsOpen()) --r.rows->table->open_recordsets;
    auto& list = r.db->recordsets;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const std::weak_ptr<Recordset>& w) {
                                auto p = w.lock();
                                return !p || p.get() == this;
                              }),
               list.end());
  });
}

dao::Fields& Recordset::Fields() {
  if (!fields_) {
    detail::RecordsetImpl* r = impl_.get();
    fields_ = std::make_unique<dao::Fields>([r] { return r->fields; }, impl_->engine);
  }
  return *fields_;
}

dao::Properties& Recordset::Properties() {
  if (!properties_) {
    detail::RecordsetImpl* r = impl_.get();
    properties_ = std::make_unique<dao::Properties>(
        detail::MakeFixedProperties(impl_->engine, std::string(source::kRecordset), [r] {
          return std::vector<detail::PropertyInfo>{
              {"Name", dbText, core::Variant(r->name), false},
              {"Type", dbInteger, core::Variant::FromInteger(static_cast<std::int16_t>(r->type)),
               false},
              {"Updatable", dbBoolean, core::Variant::FromBoolean(r->updatable), false},
              {"Bookmarkable", dbBoolean, core::Variant::FromBoolean(!r->IsForwardOnly()), false},
              {"LockEdits", dbBoolean, core::Variant::FromBoolean(r->lock_edits), false},
              {"EditMode", dbInteger,
               core::Variant::FromInteger(static_cast<std::int16_t>(r->edit_mode)), false},
              {"Filter", dbText, core::Variant(r->filter), false},
              {"Sort", dbText, core::Variant(r->sort), false},
              {"Restartable", dbBoolean, core::Variant::FromBoolean(!r->IsTable()), false},
          };
        }));
  }
  return *properties_;
}

std::vector<std::vector<core::Variant>> Recordset::GetRows(std::int32_t count) {
  return Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    std::vector<std::vector<core::Variant>> out;
    while (count-- > 0 && r.positioned && !r.bof && !r.eof) {
      std::vector<core::Variant> row;
      for (std::size_t c = 0; c < r.rows->columns.size(); ++c)
        row.push_back(r.Value(static_cast<int>(c)));
      out.push_back(std::move(row));
      MoveNext();
    }
    return out;
  });
}

}  // namespace dao

// Rows of one table: scan, read, insert, update, delete.
#include <algorithm>
#include <cstring>
#include <deque>
#include <random>

#include "btree.h"
#include "changing.h"
#include "core/encoding.h"
#include "core/internal_error.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/long_value.h"
#include "text_util.h"

namespace jet {

namespace {

constexpr std::uint16_t kForwardPointerSize = 4;

bool IsDeleted(std::uint16_t flags) {
  return flags == DataPageLayout::kSlotFlags;
}
bool IsForwardPointer(std::uint16_t flags) {
  return flags == DataPageLayout::kSlotOverflow;
}
bool IsForwardTarget(std::uint16_t flags) {
  return flags == DataPageLayout::kSlotDeleted;
}

void RandomGuid(std::uint8_t out[16]) {
  static std::random_device device;
  static std::mt19937_64 engine(device());
  std::uint64_t a = engine(), b = engine();
  std::memcpy(out, &a, 8);
  std::memcpy(out + 8, &b, 8);
  out[7] = static_cast<std::uint8_t>((out[7] & 0x0F) | 0x40);  // version 4
  out[8] = static_cast<std::uint8_t>((out[8] & 0x3F) | 0x80);  // RFC 4122 variant
}

}  // namespace

// The pieces of a row being written: encoded values, long-value payloads and the slices
// that point at them. Inserts reuse one, so that a row costs no allocation once warm.
struct Table::RowDraft {
  std::vector<EncodedValue> encoded;
  std::vector<ColumnSlice> slices;
  std::vector<std::vector<std::uint8_t>> payloads;           // long values: the payload
  std::vector<std::span<const std::uint8_t>> payload_views;  // Insert: payloads in scratch_
  std::vector<std::vector<std::uint8_t>> in_row;             // long values: header (+ inline data)
  std::vector<bool> keep_old;  // Update: the column keeps its old bytes

  void Reset(std::size_t n) {
    encoded.assign(n, EncodedValue{});
    slices.assign(n, ColumnSlice{});
    payloads.resize(n);
    payload_views.assign(n, {});
    in_row.resize(n);
    for (auto& p : payloads) p.clear();
    for (auto& r : in_row) r.clear();
    keep_old.assign(n, false);
  }
};

struct Table::Content {
  RowPointer origin;
  RowPointer content;
  bool forwarded = false;
  std::uint16_t offset = 0;
  std::uint16_t length = 0;
  std::vector<std::uint8_t> bytes;  // a copy of the row's content
};

Table::Table(Database& db, std::string name, TableDefinition def, RowPointer catalog_row)
    : db_(db),
      name_(std::move(name)),
      def_(std::move(def)),
      catalog_row_(catalog_row),
      format_(def_) {
  for (std::size_t i = 0; i < def_.columns.size(); ++i) order_.push_back(static_cast<int>(i));
  std::stable_sort(order_.begin(), order_.end(),
                   [&](int a, int b) { return def_.columns[a].number < def_.columns[b].number; });
  by_number_.assign(def_.max_columns, -1);
  for (std::size_t i = 0; i < def_.columns.size(); ++i)
    if (def_.columns[i].number < by_number_.size())
      by_number_[def_.columns[i].number] = static_cast<int>(i);
  std::vector<ColumnSlice> nulls(def_.columns.size());
  min_row_size_ = format_.EncodedSize(nulls.data());
  for (std::size_t i = 0; i < def_.columns.size(); ++i) {
    if (def_.columns[i].IsBoolean()) booleans_.push_back(i);
    if (def_.columns[i].IsLongValue()) long_values_at_.push_back(i);
  }
}

Table::~Table() = default;

void Table::Redefine(TableDefinition def) {
  // The caller stored the counters before the definition's bytes changed; storing them
  // now would write the old index statistics over the new layout.
  counters_dirty_ = false;
  def_ = std::move(def);
  indexes_.reset();
  write_refusal_.clear();
  long_values_.clear();
  free_map_ = nullptr;
  free_cursor_ = 0;
}

int Table::ColumnIndex(std::string_view name) const {
  for (std::size_t i = 0; i < def_.columns.size(); ++i)
    if (NamesEqual(def_.columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

void Table::CheckWritable() {
  if (db_.ReadOnly())
    ThrowJet(ErrorCode::kReadOnly, db_.Path() + ": the database is open for reading only");
}

IndexMaintainer* Table::Indexes() {
  if (def_.real_indexes.empty()) return nullptr;
  if (!indexes_) {
    indexes_ =
        std::make_unique<IndexMaintainer>(db_.PageCache(), IndexContext{db_.Path(), name_}, def_);
    write_refusal_ = indexes_->WriteRefusal();
  }
  return indexes_.get();
}

LongValueStore& Table::LongValues(std::size_t column) {
  if (long_values_.size() <= column) long_values_.resize(def_.columns.size());
  auto& store = long_values_[column];
  if (!store) {
    Location at{.file = db_.Path(), .table = name_};
    store = std::make_unique<LongValueStore>(db_.PageCache(), def_.columns[column], at);
  }
  return *store;
}

core::Variant Table::ToVariant(std::size_t column, const ColumnSlice& slice, int row,
                               std::uint32_t page) {
  const ColumnDefinition& col = def_.columns[column];
  Location at{.file = db_.Path(), .table = name_, .page = page, .row = row, .field = col.name};
  ValueContext context{db_.Version(), db_.CodePage()};
  if (col.IsLongValue() && !slice.null) {
    std::vector<std::uint8_t> payload =
        ReadLongValue(db_.PageCache(), {slice.data, slice.size}, at);
    ColumnSlice whole{false, false, payload.data(), static_cast<std::uint32_t>(payload.size())};
    return DecodeColumnValue(col, whole, context, at);
  }
  return DecodeColumnValue(col, slice, context, at);
}

// ---- scanning ----

Table::Scan::Scan(Table& table) : table_(&table) {
  pages_ = table.db_.PageCache().Map(table.def_.owned_map).Pages().ToVector();
  slices_.resize(table.def_.columns.size());
}

bool Table::Scan::Next() {
  Pager& pager = table_->db_.PageCache();
  const std::uint32_t owner = table_->def_.FirstPage();
  while (true) {
    if (!page_) {
      if (page_index_ >= pages_.size()) return false;
      std::uint32_t number = pages_[page_index_++];
      PageRef p = pager.Read(number);  // a page beyond the file's end is reported here
      // The owned map may list pages that are no longer this table's (damage that
      // Access's repair would fix): those are skipped, as other readers do.
      if (p.Data()[0] != page_type::kData || Le32(p.Data() + DataPageLayout::kOwner) != owner)
        continue;
      page_ = std::move(p);
      row_ = -1;
    }
    const auto layout = DataPageLayout::For(pager.Version());
    std::uint16_t count = Le16(page_.Data() + layout.row_count_offset);
    while (++row_ < count) {
      std::uint16_t flags =
          Le16(page_.Data() + layout.first_slot + 2 * row_) & DataPageLayout::kSlotFlags;
      if (IsDeleted(flags) || IsForwardTarget(flags)) continue;
      Pager::RowSpan span =
          Pager::LocateRow(page_.Data(), page_.Number(), row_, pager.Version(), pager.FileName());
      const std::uint8_t* bytes = page_.Data() + span.offset;
      std::uint16_t length = span.length;
      Location at{
          .file = pager.FileName(), .table = table_->name_, .page = page_.Number(), .row = row_};
      if (IsForwardPointer(flags)) {
        if (length < kForwardPointerSize) ThrowCorrupt(at, "a forwarding row is too short");
        RowPointer target = RowPointer::Read(bytes);
        target_ = pager.Read(target.page);
        if (target_.Data()[0] != page_type::kData)
          ThrowCorrupt(at, "a forwarding row points to a page that holds no rows");
        Pager::RowSpan t = Pager::LocateRow(target_.Data(), target.page, target.row,
                                            pager.Version(), pager.FileName());
        if (IsDeleted(t.flags)) ThrowCorrupt(at, "a forwarding row points to a deleted row");
        bytes = target_.Data() + t.offset;
        length = t.length;
      }
      table_->format_.Decode({bytes, length}, slices_.data(), at);
      position_ = RowPointer{page_.Number(), static_cast<std::uint8_t>(row_)};
      return true;
    }
    page_ = PageRef();
    target_ = PageRef();
  }
}

core::Variant Table::Scan::Value(std::size_t column) {
  return table_->ToVariant(column, slices_.at(column), position_.row, position_.page);
}

std::vector<core::Variant> Table::Scan::Values() {
  std::vector<core::Variant> out;
  out.reserve(slices_.size());
  for (std::size_t i = 0; i < slices_.size(); ++i) out.push_back(Value(i));
  return out;
}

// ---- locating a row ----

Table::Content Table::Locate(RowPointer where, bool for_write) {
  (void)for_write;
  Pager& pager = db_.PageCache();
  Location at{.file = db_.Path(), .table = name_, .page = where.page, .row = where.row};
  auto not_found = [&]() {
    ThrowJet(ErrorCode::kNotFound, db_.Path() + ": table '" + name_ + "' has no row at page " +
                                       std::to_string(where.page) + ", row " +
                                       std::to_string(where.row));
  };
  if (where.page < 2 || where.page >= pager.PageCount()) not_found();
  PageRef page = pager.Read(where.page);
  if (page.Data()[0] != page_type::kData ||
      Le32(page.Data() + DataPageLayout::kOwner) != def_.FirstPage())
    not_found();
  const auto layout = DataPageLayout::For(pager.Version());
  if (where.row >= Le16(page.Data() + layout.row_count_offset)) not_found();
  Pager::RowSpan span =
      Pager::LocateRow(page.Data(), where.page, where.row, pager.Version(), pager.FileName());
  if (IsDeleted(span.flags) || IsForwardTarget(span.flags)) not_found();
  Content c;
  c.origin = where;
  c.content = where;
  c.offset = span.offset;
  c.length = span.length;
  const std::uint8_t* bytes = page.Data() + span.offset;
  PageRef target_page;
  if (IsForwardPointer(span.flags)) {
    if (span.length < kForwardPointerSize) ThrowCorrupt(at, "a forwarding row is too short");
    c.forwarded = true;
    c.content = RowPointer::Read(bytes);
    if (c.content.page < 2 || c.content.page >= pager.PageCount())
      ThrowCorrupt(at, "a forwarding row points outside the file");
    target_page = pager.Read(c.content.page);
    if (target_page.Data()[0] != page_type::kData)
      ThrowCorrupt(at, "a forwarding row points to a page that holds no rows");
    Pager::RowSpan t = Pager::LocateRow(target_page.Data(), c.content.page, c.content.row,
                                        pager.Version(), pager.FileName());
    if (IsDeleted(t.flags)) ThrowCorrupt(at, "a forwarding row points to a deleted row");
    c.offset = t.offset;
    c.length = t.length;
    bytes = target_page.Data() + t.offset;
  }
  c.bytes.assign(bytes, bytes + c.length);
  return c;
}

std::vector<core::Variant> Table::Read(RowPointer where) {
  Content c = Locate(where, false);
  std::vector<ColumnSlice> slices(def_.columns.size());
  Location at{.file = db_.Path(), .table = name_, .page = where.page, .row = where.row};
  format_.Decode(c.bytes, slices.data(), at);
  std::vector<core::Variant> out;
  out.reserve(slices.size());
  for (std::size_t i = 0; i < slices.size(); ++i)
    out.push_back(ToVariant(i, slices[i], where.row, where.page));
  return out;
}

PropertyBlob Table::Properties() {
  Table& objects = db_.SystemTable("MSysObjects", 2);
  int lvprop = objects.ColumnIndex("LvProp");
  if (lvprop < 0 || catalog_row_.IsNull()) return {};
  std::vector<core::Variant> row = objects.Read(catalog_row_);
  if (row[lvprop].IsNull()) return {};
  const auto& bytes = row[lvprop].Bytes();
  Location at{.file = db_.Path(), .table = name_};
  return DecodePropertyBlob(bytes, db_.Version(), at);
}

// ---- writing ----

namespace {

// The keys' view of a row: column values by column number. Long values come from
// `payloads` (owned bytes or views), by column position.
template <typename Payloads>
class KeyValues {
 public:
  KeyValues(const TableDefinition& def, const std::vector<int>& by_number,
            const ColumnSlice* slices, const Payloads* payloads)
      : def_(def), by_number_(by_number), slices_(slices), payloads_(payloads) {}

  KeyValue operator()(std::uint16_t number) {
    if (number >= by_number_.size() || by_number_[number] < 0) return KeyValue::Null();
    int pos = by_number_[number];
    const ColumnDefinition& col = def_.columns[pos];
    const ColumnSlice& s = slices_[pos];
    if (col.IsBoolean()) return KeyValue::Boolean(!s.null && s.boolean);
    if (s.null) return KeyValue::Null();
    if (col.IsText()) {
      const std::uint8_t* data = s.data;
      std::size_t size = s.size;
      if (col.IsLongValue()) {
        if (!payloads_) return KeyValue::Null();
        data = (*payloads_)[pos].data();
        size = (*payloads_)[pos].size();
      }
      texts_.push_back(DecodeJet4Text(data, size));
      return KeyValue::Text(texts_.back());
    }
    return KeyValue::Stored({s.data, s.size});
  }

 private:
  const TableDefinition& def_;
  const std::vector<int>& by_number_;
  const ColumnSlice* slices_;
  const Payloads* payloads_;
  std::deque<std::u16string> texts_;
};

}  // namespace

void Table::BuildIndex(IndexMaintainer& indexes, std::size_t i) {
  // Memo columns of the index need their whole text; nothing else is read beyond the row.
  std::vector<std::size_t> memos;
  for (const auto& column : indexes.Tree(i).Definition().columns) {
    int pos = column.column_number < by_number_.size() ? by_number_[column.column_number] : -1;
    if (pos >= 0 && def_.columns[pos].IsLongValue()) memos.push_back(static_cast<std::size_t>(pos));
  }
  std::vector<std::vector<std::uint8_t>> payloads(def_.columns.size());
  indexes.BuildFromRows(i, [&](const auto& each) {
    Scan scan = StartScan();
    while (scan.Next()) {
      const RowPointer where = scan.Position();
      const auto& slices = scan.Slices();
      for (std::size_t pos : memos) {
        payloads[pos].clear();
        if (slices[pos].null) continue;
        Location at{.file = db_.Path(), .table = name_, .page = where.page, .row = where.row};
        payloads[pos] = ReadLongValue(db_.PageCache(), {slices[pos].data, slices[pos].size}, at);
      }
      KeyValues keys(def_, by_number_, slices.data(), &payloads);
      each(IndexRowPointer{where.page, where.row}, std::ref(keys));
    }
  });
}

UsageMap* Table::FreeMap() {
  // Some Access tables have no free-space map; nothing is recorded for them then.
  if (!free_map_ && !def_.free_map.IsNull()) free_map_ = &db_.PageCache().Map(def_.free_map);
  return free_map_;
}

std::size_t Table::RoomOn(std::uint32_t number) {
  Pager& pager = db_.PageCache();
  if (number == 0 || number == kNoPage || number >= pager.PageCount()) return 0;
  PageRef p = pager.Read(number);
  const std::uint8_t* d = p.Data();
  if (d[0] != page_type::kData || Le32(d + DataPageLayout::kOwner) != def_.FirstPage()) return 0;
  return DataPage(const_cast<std::uint8_t*>(d), pager.Version()).RoomRepacked(DataPage::Slot::kNew);
}

std::uint32_t Table::PageForInsert(std::size_t length) {
  Pager& pager = db_.PageCache();
  UsageMap& owned = pager.Map(def_.owned_map);
  UsageMap* free = FreeMap();
  auto room = [&](std::uint32_t number) -> std::size_t {
    return number != 0 && number != kNoPage && owned.Contains(number) ? RoomOn(number) : 0;
  };
  // A page stays in the free-space map while it has room worth coming back for; pages
  // filled by inserts leave it when full, and deletes put pages with room back.
  const std::size_t worth = std::max<std::size_t>(min_row_size_, kRoomWorthKeeping);
  const std::size_t room_here = room(insert_page_);
  if (room_here >= length) return insert_page_;
  if (free) {
    // The page appends were going to is left for good: taking up the room at its end later
    // would put a later row before earlier ones in a scan, and a copied table must read back in
    // its source's order. Room that deletes make is noted again (NoteRoom).
    if (insert_page_ != 0) free->Remove(insert_page_);
    // Pages with room, walked downwards from where the last search stopped (so that pages
    // too full for one long row are not the only ones ever looked at); a few too full for
    // this row are passed over before a new page is taken.
    int passed = 0;
    std::uint32_t candidate = free_cursor_ == 0 ? kNoPage : free->Pages().Prev(free_cursor_ - 1);
    if (candidate == kNoPage) candidate = free->Pages().Max();
    while (candidate != kNoPage && passed < 8) {
      const std::size_t here = room(candidate);
      if (here >= length) return insert_page_ = free_cursor_ = candidate;
      std::uint32_t next = candidate == 0 ? kNoPage : free->Pages().Prev(candidate - 1);
      if (next == kNoPage) next = free->Pages().Max();  // round again from the top
      if (here >= worth)
        ++passed;
      else
        free->Remove(candidate);
      free_cursor_ = candidate;
      if (next == candidate) break;
      candidate = next;
    }
  } else {
    const std::uint32_t last = owned.Pages().Max();
    if (room(last) >= length) return insert_page_ = last;
  }
  PageRef fresh = pager.Allocate(&owned);
  DataPage::Format(fresh.MutableData(), pager.Version(), def_.FirstPage());
  if (free) free->Add(fresh.Number());
  return insert_page_ = fresh.Number();
}

void Table::NoteRoom(std::uint32_t number) {
  UsageMap* free = FreeMap();
  if (!free || free->Contains(number) || !db_.PageCache().Map(def_.owned_map).Contains(number))
    return;
  if (RoomOn(number) >= std::max<std::size_t>(min_row_size_, kRoomWorthKeeping)) free->Add(number);
}

RowPointer Table::PlaceRow(std::span<const std::uint8_t> row, std::uint16_t flags) {
  return PlaceEncoded(row.size(), flags,
                      [&](std::uint8_t* dest) { std::memcpy(dest, row.data(), row.size()); });
}

template <typename Fill>
RowPointer Table::PlaceEncoded(std::size_t length, std::uint16_t flags, Fill&& fill) {
  Pager& pager = db_.PageCache();
  // The common case: the page the last row went to still has room.
  if (insert_page_ != 0 && insert_page_ < pager.PageCount()) {
    PageRef p = pager.Write(insert_page_);
    std::uint8_t* d = p.MutableData();
    DataPage page(d, db_.Version());
    if (d[0] == page_type::kData && Le32(d + DataPageLayout::kOwner) == def_.FirstPage() &&
        page.Fits(length)) {
      int slot;
      fill(page.AddRow(length, flags, &slot));
      if (!page.Fits(min_row_size_) && !page.FitsRepacked(min_row_size_, DataPage::Slot::kNew) &&
          FreeMap())
        FreeMap()->Remove(insert_page_);
      return RowPointer{insert_page_, static_cast<std::uint8_t>(slot)};
    }
  }
  std::uint32_t number = PageForInsert(length);
  PageRef p = db_.PageCache().Write(number);
  DataPage page(p.MutableData(), db_.Version());
  int slot;
  // Room that deleted rows left is taken back by moving the other rows together; every row
  // keeps its slot, so nothing that points at rows changes.
  std::uint8_t* dest = page.AddRowRepacking(length, flags, DataPage::Slot::kNew, &slot);
  if (!dest) core::ThrowInternal("a page chosen for a row has no room for it");
  fill(dest);
  if (!page.Fits(min_row_size_) && !page.FitsRepacked(min_row_size_, DataPage::Slot::kNew) &&
      FreeMap())
    FreeMap()->Remove(number);
  return RowPointer{number, static_cast<std::uint8_t>(slot)};
}

void Table::CheckRequired(const std::vector<ColumnSlice>& slices) {
  // Jet refuses Null in a column whose Required property is set; the property lives in the
  // catalog row's blob, read once.
  if (!required_loaded_) {
    required_loaded_ = true;
    required_.clear();
    PropertyBlob blob;
    try {
      blob = Properties();
    } catch (const CorruptDatabase&) {
      // A damaged blob only costs the check; the rows themselves are fine.
    }
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
      const PropertyMap* map = blob.Find(def_.columns[i].name);
      const Property* p = map ? map->Find("Required") : nullptr;
      if (p && p->Value().ToBoolean() && !def_.columns[i].IsBoolean()) required_.push_back(i);
    }
  }
  for (std::size_t i : required_)
    if (slices[i].null)
      ThrowJet(ErrorCode::kNullNotAllowed, db_.Path() + ": table '" + name_ + "': the field '" +
                                               def_.columns[i].name +
                                               "' is required and cannot be left empty (Null)");
}

void Table::StoreCounters() {
  if (indexes_ && indexes_->CountersChanged()) {
    indexes_->StoreCounters(def_);
    indexes_->ClearCountersChanged();
    counters_dirty_ = true;
  }
  if (!counters_dirty_) return;
  StoreTableCounters(db_.PageCache(), def_);
  counters_dirty_ = false;
}

RowPointer Table::Insert(std::span<const core::Variant> values,
                         std::vector<core::Variant>* stored) {
  return db_.Changing([&] { return ApplyInsert(values, stored); });
}

void Table::Update(RowPointer where, std::span<const core::Variant> values) {
  db_.Changing([&] { ApplyUpdate(where, values); });
}

void Table::Delete(RowPointer where) {
  db_.Changing([&] { ApplyDelete(where); });
}

RowPointer Table::ApplyInsert(std::span<const core::Variant> values,
                              std::vector<core::Variant>* stored) {
  CheckWritable();
  const std::size_t n = def_.columns.size();
  if (values.size() != n)
    ThrowJet(ErrorCode::kValueInvalid, db_.Path() + ": table '" + name_ + "' has " +
                                           std::to_string(n) + " columns, " +
                                           std::to_string(values.size()) + " values given");
  IndexMaintainer* indexes = Indexes();
  if (indexes && !write_refusal_.empty()) ThrowJet(ErrorCode::kReadOnly, write_refusal_);
  if (!insert_draft_) {
    // One draft for every insert: each row overwrites what it uses, nothing is cleared.
    insert_draft_ = std::make_unique<RowDraft>();
    insert_draft_->Reset(n);
  }
  RowDraft& d = *insert_draft_;
  scratch_.clear();
  std::uint32_t next_autonumber = def_.autonumber;
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnDefinition& col = def_.columns[i];
    const core::Variant* v = &values[i];
    if (v->IsNullOrEmpty() && col.IsAutoNumber() && col.type == column_type::kLong) {
      if (next_autonumber >= 0x7FFFFFFFu)
        ThrowJet(ErrorCode::kValueInvalid, db_.Path() + ": table '" + name_ +
                                               "': the AutoNumber column '" + col.name +
                                               "' is exhausted");
      ++next_autonumber;
      d.encoded[i] = EncodedValue{false, false, scratch_.size(), 4};
      PutLe32(scratch_.Append(4), next_autonumber);
      continue;
    }
    try {
      if (v->IsNullOrEmpty() && col.IsGuidAutoNumber() && col.type == column_type::kGuid) {
        std::uint8_t g[16];
        RandomGuid(g);
        d.encoded[i] = EncodeColumnValue(
            col, core::Variant::FromBytes(std::vector<std::uint8_t>(g, g + 16)), scratch_);
      } else {
        d.encoded[i] = EncodeColumnValue(col, *v, scratch_);
      }
    } catch (const JetError& e) {
      ThrowJet(e.Code(), db_.Path() + ": table '" + name_ + "', " + e.what());
    }
    if (col.IsAutoNumber() && col.type == column_type::kLong && !d.encoded[i].null) {
      std::int32_t value = static_cast<std::int32_t>(Le32(scratch_.data() + d.encoded[i].offset));
      if (value > 0 && static_cast<std::uint32_t>(value) > next_autonumber)
        next_autonumber = static_cast<std::uint32_t>(value);
    }
  }
  // Slices, now that scratch_ no longer moves; each long value is first counted at its
  // 12-byte out-of-row size.
  const std::uint8_t* base = scratch_.data();
  for (std::size_t i = 0; i < n; ++i) {
    const EncodedValue& e = d.encoded[i];
    d.slices[i] = ColumnSlice{e.null, e.boolean, base + e.offset, e.size};
  }
  for (std::size_t i : booleans_) d.slices[i].null = false;  // a Jet Boolean is never Null
  for (std::size_t i : long_values_at_) {
    ColumnSlice& s = d.slices[i];
    if (s.null) continue;
    d.payload_views[i] = {s.data, s.size};
    s.size = LongValueLayout::kHeaderSize;
  }
  CheckRequired(d.slices);
  std::size_t size = format_.EncodedSize(d.slices.data());
  if (size > kMaxRowSize)
    ThrowJet(ErrorCode::kRowTooLarge, db_.Path() + ": table '" + name_ + "': a row of " +
                                          std::to_string(size) + " bytes is larger than the " +
                                          std::to_string(kMaxRowSize) + " a page holds");
  std::optional<IndexMaintainer::Prepared> prepared;
  if (indexes) {
    KeyValues keys(def_, by_number_, d.slices.data(), &d.payload_views);
    prepared = indexes->PrepareInsert(std::ref(keys));
  }
  // Long values: small ones inline while the row stays within its limit.
  for (std::size_t i : long_values_at_) {
    if (d.slices[i].null) continue;
    const auto payload = d.payload_views[i];
    bool inline_ok = size + payload.size() <= kMaxRowSize;
    LongValues(i).Store(payload, inline_ok, d.in_row[i]);
    size += d.in_row[i].size() - LongValueLayout::kHeaderSize;
    d.slices[i].data = d.in_row[i].data();
    d.slices[i].size = static_cast<std::uint32_t>(d.in_row[i].size());
  }
  // Straight into the page.
  RowPointer where = PlaceEncoded(
      size, 0, [&](std::uint8_t* dest) { format_.Encode(d.slices.data(), dest, size); });
  if (indexes) indexes->CommitInsert(*prepared, IndexRowPointer{where.page, where.row});
  ++def_.row_count;
  def_.autonumber = next_autonumber;
  MarkChanged();
  if (stored) StoredValues(values, where, *stored);
  return where;
}

// The inserted row as Read gives it, from what was just encoded: fixed-size values decoded
// from their bytes, texts that were valid UTF-8 taken as they came (their stored UTF-16 reads
// back as the same text), long values from their payload.
void Table::StoredValues(std::span<const core::Variant> values, RowPointer where,
                         std::vector<core::Variant>& out) {
  const RowDraft& d = *insert_draft_;
  const std::size_t n = def_.columns.size();
  out.resize(n);
  ValueContext context{db_.Version(), db_.CodePage()};
  Location at{.file = db_.Path(), .table = name_, .page = where.page, .row = where.row};
  const std::uint8_t* base = scratch_.data();
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnDefinition& col = def_.columns[i];
    const EncodedValue& e = d.encoded[i];
    ColumnSlice slice{e.null, e.boolean, base + e.offset, e.size};
    if (col.type == column_type::kBoolean) slice.null = false;
    const core::Variant& given = values[i];
    const bool text = col.type == column_type::kText || col.type == column_type::kMemo;
    if (!slice.null && text && context.version == JetVersion::kJet4 &&
        given.Type() == core::VarType::String && core::IsValidUtf8(given.Text())) {
      out[i] = given;
    } else if (!slice.null && col.type == column_type::kOle &&
               given.Type() == core::VarType::ByteArray) {
      out[i] = given;
    } else {
      at.field = col.name;
      out[i] = DecodeColumnValue(col, slice, context, at);
    }
  }
}

void Table::ApplyUpdate(RowPointer where, std::span<const core::Variant> values) {
  CheckWritable();
  const std::size_t n = def_.columns.size();
  if (values.size() != n)
    ThrowJet(ErrorCode::kValueInvalid, db_.Path() + ": table '" + name_ + "' has " +
                                           std::to_string(n) + " columns, " +
                                           std::to_string(values.size()) + " values given");
  IndexMaintainer* indexes = Indexes();
  if (indexes && !write_refusal_.empty()) ThrowJet(ErrorCode::kReadOnly, write_refusal_);
  Content old = Locate(where, true);
  Location at{.file = db_.Path(), .table = name_, .page = where.page, .row = where.row};
  std::vector<ColumnSlice> old_slices(n);
  format_.Decode(old.bytes, old_slices.data(), at);

  RowDraft d;
  d.Reset(n);
  std::vector<std::vector<std::uint8_t>> old_payloads(n);
  scratch_.clear();
  std::uint32_t next_autonumber = def_.autonumber;
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnDefinition& col = def_.columns[i];
    if (values[i].IsEmpty()) {
      d.keep_old[i] = true;
      continue;
    }
    try {
      d.encoded[i] = EncodeColumnValue(col, values[i], scratch_);
    } catch (const JetError& e) {
      ThrowJet(e.Code(), db_.Path() + ": table '" + name_ + "', " + e.what());
    }
    if (col.IsAutoNumber() && col.type == column_type::kLong && !d.encoded[i].null) {
      std::int32_t value = static_cast<std::int32_t>(Le32(scratch_.data() + d.encoded[i].offset));
      if (value > 0 && static_cast<std::uint32_t>(value) > next_autonumber)
        next_autonumber = static_cast<std::uint32_t>(value);
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnDefinition& col = def_.columns[i];
    ColumnSlice& s = d.slices[i];
    if (d.keep_old[i]) {
      s = old_slices[i];
      if (col.IsLongValue() && !s.null && col.IsText() && indexes)
        old_payloads[i] = ReadLongValue(db_.PageCache(), {s.data, s.size}, at);
      d.payloads[i] = old_payloads[i];
      continue;
    }
    const EncodedValue& e = d.encoded[i];
    s.null = e.null;
    s.boolean = e.boolean;
    if (col.IsBoolean()) s.null = false;
    if (e.null || col.IsBoolean()) continue;
    if (col.IsLongValue()) {
      d.payloads[i].assign(scratch_.data() + e.offset, scratch_.data() + e.offset + e.size);
      d.in_row[i].assign(LongValueLayout::kHeaderSize, 0);
      s.data = d.in_row[i].data();
      s.size = LongValueLayout::kHeaderSize;
    } else {
      s.data = scratch_.data() + e.offset;
      s.size = e.size;
    }
  }
  CheckRequired(d.slices);
  std::size_t size = format_.EncodedSize(d.slices.data());
  if (size > kMaxRowSize)
    ThrowJet(ErrorCode::kRowTooLarge, db_.Path() + ": table '" + name_ + "': a row of " +
                                          std::to_string(size) + " bytes is larger than the " +
                                          std::to_string(kMaxRowSize) + " a page holds");
  std::optional<IndexMaintainer::Prepared> prepared;
  IndexRowPointer index_where{where.page, where.row};
  if (indexes) {
    for (std::size_t i = 0; i < n; ++i)
      if (def_.columns[i].IsLongValue() && def_.columns[i].IsText() && !old_slices[i].null &&
          old_payloads[i].empty())
        old_payloads[i] =
            ReadLongValue(db_.PageCache(), {old_slices[i].data, old_slices[i].size}, at);
    KeyValues old_keys(def_, by_number_, old_slices.data(), &old_payloads);
    KeyValues new_keys(def_, by_number_, d.slices.data(), &d.payloads);
    prepared = indexes->PrepareUpdate(std::ref(old_keys), std::ref(new_keys), index_where);
  }
  for (std::size_t i = 0; i < n; ++i) {
    const ColumnDefinition& col = def_.columns[i];
    if (!col.IsLongValue() || d.keep_old[i] || d.slices[i].null) continue;
    bool inline_ok = size + d.payloads[i].size() <= kMaxRowSize;
    LongValues(i).Store(d.payloads[i], inline_ok, d.in_row[i]);
    size += d.in_row[i].size() - LongValueLayout::kHeaderSize;
    d.slices[i].data = d.in_row[i].data();
    d.slices[i].size = static_cast<std::uint32_t>(d.in_row[i].size());
  }
  row_buffer_.resize(size);
  format_.Encode(d.slices.data(), row_buffer_.data(), size);

  Pager& pager = db_.PageCache();
  if (row_buffer_.size() <= old.length) {
    // In place. The slot keeps its length, and readers find the null mask and the
    // variable-column offsets at the slot's end, so the row is encoded to fill the whole
    // slot: the spare bytes go between the data and that trailer, as zeros.
    PageRef p = pager.Write(old.content.page);
    std::uint8_t* dest = p.MutableData() + old.offset;
    std::memset(dest, 0, old.length);
    format_.Encode(d.slices.data(), dest, old.length);
  } else {
    // The row outgrows its place: its content moves to a page with room and the original
    // slot forwards to it, so that the row keeps its address.
    RowPointer target = PlaceRow(row_buffer_, DataPageLayout::kSlotDeleted);
    if (old.forwarded) {
      {
        PageRef t = pager.Write(old.content.page);
        DataPage(t.MutableData(), db_.Version())
            .SetSlotFlags(old.content.row, DataPageLayout::kSlotFlags);
      }
      NoteRoom(old.content.page);
    }
    PageRef p = pager.Write(where.page);
    Pager::RowSpan span =
        Pager::LocateRow(p.Data(), where.page, where.row, pager.Version(), pager.FileName());
    if (span.length < kForwardPointerSize)
      ThrowJet(ErrorCode::kRowTooLarge, db_.Path() + ": table '" + name_ + "': row " +
                                            std::to_string(where.row) + " cannot grow");
    std::uint8_t* dest = p.MutableData() + span.offset;
    std::memset(dest, 0, span.length);
    target.Write(dest);
    DataPage(p.MutableData(), db_.Version()).SetSlotFlags(where.row, DataPageLayout::kSlotOverflow);
  }
  // The old long values of replaced columns go only now that the new row is in place.
  for (std::size_t i = 0; i < n; ++i)
    if (def_.columns[i].IsLongValue() && !d.keep_old[i] && !old_slices[i].null)
      LongValues(i).Free({old_slices[i].data, old_slices[i].size});
  if (indexes) indexes->CommitUpdate(*prepared, index_where);
  if (next_autonumber != def_.autonumber) {
    def_.autonumber = next_autonumber;
    MarkChanged();
  }
}

void Table::ApplyDelete(RowPointer where) {
  CheckWritable();
  IndexMaintainer* indexes = Indexes();
  Content old = Locate(where, true);
  const std::size_t n = def_.columns.size();
  Location at{.file = db_.Path(), .table = name_, .page = where.page, .row = where.row};
  std::vector<ColumnSlice> slices(n);
  format_.Decode(old.bytes, slices.data(), at);
  if (indexes) {
    std::vector<std::vector<std::uint8_t>> payloads(n);
    for (std::size_t i = 0; i < n; ++i)
      if (def_.columns[i].IsLongValue() && def_.columns[i].IsText() && !slices[i].null)
        payloads[i] = ReadLongValue(db_.PageCache(), {slices[i].data, slices[i].size}, at);
    KeyValues keys(def_, by_number_, slices.data(), &payloads);
    indexes->Delete(std::ref(keys), IndexRowPointer{where.page, where.row});
  }
  for (std::size_t i = 0; i < n; ++i)
    if (def_.columns[i].IsLongValue() && !slices[i].null)
      LongValues(i).Free({slices[i].data, slices[i].size});
  Pager& pager = db_.PageCache();
  if (old.forwarded) {
    PageRef t = pager.Write(old.content.page);
    DataPage(t.MutableData(), db_.Version())
        .SetSlotFlags(old.content.row, DataPageLayout::kSlotFlags);
  }
  {
    PageRef p = pager.Write(where.page);
    DataPage(p.MutableData(), db_.Version()).SetSlotFlags(where.row, DataPageLayout::kSlotFlags);
  }
  // The freed bytes can take new rows.
  NoteRoom(where.page);
  if (old.forwarded) NoteRoom(old.content.page);
  if (def_.row_count > 0) --def_.row_count;
  MarkChanged();
}

}  // namespace jet

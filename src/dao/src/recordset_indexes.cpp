// Recordset index order: the keys of a table-type recordset's current index (sorted in memory
// for Jet 3, walked through its B-tree for Jet 4), SetIndex and Seek.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/encoding.h"
#include "recordset_impl.h"

namespace dao {
namespace detail {

// ---- index order (table-type) ----

std::vector<std::uint8_t> RecordsetImpl::KeyOfRow(const std::vector<core::Variant>& storage_row) {
  const jet::TableDefinition& def = rows->table->table->Definition();
  const auto& cols = index->definition.columns;
  std::vector<std::uint8_t> scratch;
  std::vector<std::u16string> texts;
  texts.reserve(cols.size());
  struct Piece {
    int kind = 0;  // 0 null, 1 stored, 2 text, 3 boolean
    std::size_t offset = 0, size = 0;
    bool boolean = false;
  };
  std::vector<Piece> pieces(cols.size());
  for (std::size_t i = 0; i < cols.size(); ++i) {
    const jet::ColumnDefinition* col = def.ColumnByNumber(cols[i].column_number);
    int pos = col ? static_cast<int>(col - def.columns.data()) : -1;
    const core::Variant v = pos >= 0 ? storage_row[pos] : core::Variant::Null();
    if (v.IsNullOrEmpty()) continue;
    if (col->IsBoolean()) {
      pieces[i].kind = 3;
      pieces[i].boolean = v.ToBoolean();
    } else if (col->IsText()) {
      texts.push_back(core::Utf8ToUtf16(v.ToString()));
      pieces[i].kind = 2;
      pieces[i].offset = texts.size() - 1;
    } else {
      jet::EncodedValue e = jet::EncodeColumnValue(*col, v, scratch);
      pieces[i].kind = e.null ? 0 : 1;
      pieces[i].offset = e.offset;
      pieces[i].size = e.size;
    }
  }
  std::vector<jet::KeyColumn> key_columns;
  std::vector<jet::KeyValue> values;
  for (std::size_t i = 0; i < cols.size(); ++i) {
    key_columns.push_back(cols[i].key);
    switch (pieces[i].kind) {
      case 1:
        values.push_back(
            jet::KeyValue::Stored({scratch.data() + pieces[i].offset, pieces[i].size}));
        break;
      case 2:
        values.push_back(jet::KeyValue::Text(texts[pieces[i].offset]));
        break;
      case 3:
        values.push_back(jet::KeyValue::Boolean(pieces[i].boolean));
        break;
      default:
        values.push_back(jet::KeyValue::Null());
    }
  }
  return jet::EncodeKey(key_columns, values);
}

void RecordsetImpl::LoadIndex(const std::string& name) {
  jet::Table& table = *rows->table->table;
  const jet::TableDefinition& def = table.Definition();
  const jet::LogicalIndexDefinition* found = nullptr;
  for (const auto& li : def.indexes)
    if (li.kind != jet::index_kind::kForeignKey && SameName(li.name, name)) found = &li;
  if (!found) Fail(err::kNotAnIndex, source::kRecordset, name);
  IndexOrder order;
  order.name = found->name;
  order.definition = jet::DescribeIndex(def, found->real_index, db->name, table.Name());
  if (db->db->Version() == jet::JetVersion::kJet4) {
    // The index's own B-tree gives the order; nothing is read until the recordset moves.
    order.cursor = std::make_unique<jet::IndexCursor>(table, found->real_index);
    // Seeks and walks keep the upper levels decoded; leaves come and go (a few MiB at most).
    order.cursor->SetCacheLimit(512);
    index = std::move(order);
    return;
  }
  // Jet 3 index pages are not read: every row's key, sorted in memory.
  index = std::move(order);
  std::vector<std::pair<std::vector<std::uint8_t>, std::uint32_t>> entries;
  for (std::size_t ordinal = 0; ordinal < rows->Size(); ++ordinal) {
    if (!rows->Live(ordinal)) continue;
    std::vector<core::Variant> stored =
        table.Read(jet::RowPointer::FromU32(rows->refs[ordinal].ptr));
    entries.emplace_back(KeyOfRow(stored), static_cast<std::uint32_t>(ordinal));
  }
  // Equal keys keep storage order, as the index's row pointers order them.
  std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
    if (a.first != b.first) return a.first < b.first;
    return rows->refs[a.second].ptr < rows->refs[b.second].ptr;
  });
  for (auto& [key, ordinal] : entries) {
    index->keys.push_back(std::move(key));
    index->order.push_back(ordinal);
  }
  index->positions_stale = true;
}

void RecordsetImpl::PlaceInIndex(std::size_t ordinal,
                                 const std::vector<core::Variant>& storage_row) {
  std::vector<std::uint8_t> key = KeyOfRow(storage_row);
  auto it = std::upper_bound(index->keys.begin(), index->keys.end(), key);
  std::size_t at = static_cast<std::size_t>(it - index->keys.begin());
  index->keys.insert(it, std::move(key));
  index->order.insert(index->order.begin() + at, static_cast<std::uint32_t>(ordinal));
  index->positions_stale = true;
  if (!bof && !eof && positioned && at <= cur) ++cur;
}

void RecordsetImpl::RemoveFromIndex(std::size_t ordinal) {
  auto p = PositionOf(ordinal);
  if (!p) return;
  index->keys.erase(index->keys.begin() + *p);
  index->order.erase(index->order.begin() + *p);
  index->positions_stale = true;
  if (!bof && !eof && positioned && *p < cur) --cur;
}

// ---- index order through the B-tree (Jet 4) ----

std::size_t RecordsetImpl::OrdinalOfRow(std::uint32_t ptr) {
  IndexOrder& ix = *index;
  // Ordinals added out of locator order since the last call join `late`.
  for (std::size_t o = std::max(ix.late_seen, rows->refs.Ascending()); o < rows->Size(); ++o)
    ix.late[rows->refs[o].ptr] = o;
  ix.late_seen = rows->Size();
  // The newest ordinal of a locator first: an older one may be a deleted row whose place a
  // new row took.
  if (auto it = ix.late.find(ptr); it != ix.late.end() && rows->Live(it->second)) return it->second;
  if (auto o = rows->refs.FindAscending(ptr); o && rows->Live(*o)) return *o;
  return rows->Append(rows->table->Ref(ptr));
}

std::vector<std::uint8_t> RecordsetImpl::EntryOfRow(std::size_t ordinal,
                                                    const std::vector<core::Variant>& storage_row) {
  const std::uint32_t ptr = rows->refs[ordinal].ptr;
  return jet::IndexCursor::MakeEntry(
      KeyOfRow(storage_row), jet::IndexRowPointer{ptr >> 8, static_cast<std::uint8_t>(ptr)});
}

void RecordsetImpl::LandOnCursor() {
  const jet::IndexCursor& c = *index->cursor;
  const jet::IndexRowPointer row = c.Row();
  const std::size_t ordinal = OrdinalOfRow((row.page << 8) | row.row);
  index->entry.assign(c.Entry().begin(), c.Entry().end());
  Land(ordinal);
}

void RecordsetImpl::LandOnRow(std::size_t ordinal) {
  const auto stored = rows->table->table->Read(jet::RowPointer::FromU32(rows->refs[ordinal].ptr));
  index->entry = EntryOfRow(ordinal, stored);
  Land(ordinal);
}

bool RecordsetImpl::TreeStep(bool forward, bool from_start) {
  jet::IndexCursor& c = *index->cursor;
  if (from_start) return forward ? c.First() : c.Last();
  const std::vector<std::uint8_t>& here = index->entry;
  // While the cursor is still on the current entry it steps on its own (finding its place
  // again if the tree changed); otherwise one descent finds the place.
  if (!c.Valid() || !std::ranges::equal(c.Entry(), here)) {
    if (!c.SeekEntry(here)) return forward ? false : c.Last();
    // On the entry after the place: that is the next one.
    if (forward && !std::ranges::equal(c.Entry(), here)) return true;
  }
  return forward ? c.Next() : c.Prev();
}

std::size_t RecordsetImpl::TreeRank() {
  // The leaves before the entry's leaf, counted by their sizes: a B-tree that keeps no
  // counts answers a rank with one page per leaf.
  jet::IndexCursor walk(*index->cursor);
  if (walk.SeekEntry(index->entry)) return static_cast<std::size_t>(walk.Rank());
  return static_cast<std::size_t>(walk.CountEntries());  // every entry precedes it
}

}  // namespace detail

// ---- indexes ----

std::string Recordset::Index() const {
  return impl_->index ? impl_->index->name : std::string();
}

void Recordset::SetIndex(const std::string& name) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.IsTable());
    r.DiscardEdit();
    if (name.empty()) {
      r.index.reset();
    } else {
      std::optional<detail::IndexOrder> old = std::move(r.index);
      r.index.reset();
      try {
        r.LoadIndex(name);
      } catch (...) {
        r.index = std::move(old);
        throw;
      }
    }
    // A new order starts at its first record.
    r.bof = r.eof = true;
    if (r.OnTree()) {
      if (r.TreeStep(true, true)) r.LandOnCursor();
    } else if (auto p = r.NextLive(0)) {
      r.Land(*p);
    }
  });
}

void Recordset::Seek(const std::string& comparison, const std::vector<core::Variant>& keys) {
  Guard(*impl_->engine, source::kRecordset, [&] {
    auto& r = *impl_;
    r.CheckOpen();
    r.RequireType(r.IsTable());
    if (!r.index) r.Fail(err::kNoCurrentIndex);
    jet::SeekComparison cmp;
    if (comparison == "=")
      cmp = jet::SeekComparison::kEqual;
    else if (comparison == ">=")
      cmp = jet::SeekComparison::kGreaterEqual;
    else if (comparison == ">")
      cmp = jet::SeekComparison::kGreater;
    else if (comparison == "<=")
      cmp = jet::SeekComparison::kLessEqual;
    else if (comparison == "<")
      cmp = jet::SeekComparison::kLess;
    else
      r.Fail(err::kInvalidArgument);
    const auto& cols = r.index->definition.columns;
    if (keys.empty() || keys.size() > 13) r.Fail(err::kInvalidArgument);
    // Keys beyond the index's columns are ignored; missing ones leave a shorter prefix.
    const jet::TableDefinition& def = r.rows->table->table->Definition();
    std::vector<std::uint8_t> prefix;
    std::vector<std::uint8_t> scratch;
    for (std::size_t i = 0; i < keys.size() && i < cols.size(); ++i) {
      const jet::ColumnDefinition* col = def.ColumnByNumber(cols[i].column_number);
      core::Variant v;
      int type = col ? detail::DaoTypeOfColumn(col->type) : dbText;
      if (ConvertToFieldType(keys[i], type, 0, v) != 0) r.Fail(err::kConversionError);
      if (v.IsNullOrEmpty()) {
        jet::AppendKeySegment(cols[i].key, jet::KeyValue::Null(), prefix);
      } else if (col->IsBoolean()) {
        jet::AppendKeySegment(cols[i].key, jet::KeyValue::Boolean(v.ToBoolean()), prefix);
      } else if (col->IsText()) {
        std::u16string units = core::Utf8ToUtf16(v.ToString());
        jet::AppendKeySegment(cols[i].key, jet::KeyValue::Text(units), prefix);
      } else {
        scratch.clear();
        jet::EncodedValue e = jet::EncodeColumnValue(*col, v, scratch);
        jet::AppendKeySegment(cols[i].key,
                              jet::KeyValue::Stored({scratch.data() + e.offset, e.size}), prefix);
      }
    }
    r.DiscardEdit();
    if (r.OnTree()) {
      // A descent of the index: the pages on one path from the root, and the row found.
      const bool found = r.index->cursor->Seek(cmp, prefix);
      r.no_match = !found;
      if (found) r.LandOnCursor();
      return;
    }
    const auto& ks = r.index->keys;
    auto starts_with = [&](const std::vector<std::uint8_t>& key) {
      return key.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), key.begin());
    };
    auto less_prefix = [&](const std::vector<std::uint8_t>& key,
                           const std::vector<std::uint8_t>& p) {
      return std::lexicographical_compare(key.begin(), key.begin() + std::min(key.size(), p.size()),
                                          p.begin(), p.end());
    };
    std::size_t lo = static_cast<std::size_t>(
        std::partition_point(ks.begin(), ks.end(),
                             [&](const auto& k) { return less_prefix(k, prefix); }) -
        ks.begin());
    std::size_t hi = lo;
    while (hi < ks.size() && starts_with(ks[hi])) ++hi;
    std::optional<std::size_t> found;
    auto forward = [&](std::size_t from, bool must_match) {
      for (std::size_t p = from; p < ks.size(); ++p) {
        if (must_match && !starts_with(ks[p])) return;
        if (r.LiveAt(p)) {
          found = p;
          return;
        }
      }
    };
    auto backward = [&](std::size_t before) {
      for (std::size_t p = before; p-- > 0;)
        if (r.LiveAt(p)) {
          found = p;
          return;
        }
    };
    switch (cmp) {
      case jet::SeekComparison::kEqual:
        forward(lo, true);
        break;
      case jet::SeekComparison::kGreaterEqual:
        forward(lo, false);
        break;
      case jet::SeekComparison::kGreater:
        forward(hi, false);
        break;
      case jet::SeekComparison::kLessEqual:
        backward(hi);
        break;
      case jet::SeekComparison::kLess:
        backward(lo);
        break;
    }
    r.no_match = !found;
    if (found) r.Land(*found);
  });
}

}  // namespace dao

#include "jet/long_value.h"

#include <cstring>
#include <set>

#include "core/internal_error.h"
#include "jet/data_page.h"

namespace jet {
namespace {

// Room a long-value page keeps in the column's free-space map.
constexpr std::uint16_t kUsefulRoom = 64;

// One LVAL row, checked to be a live row on a long-value page.
std::span<const std::uint8_t> LongValueRow(const PageRef& page, RowPointer where, Pager& pager,
                                           const Location& at) {
  Location here = at;
  here.page = where.page;
  here.row = where.row;
  const std::uint8_t* d = page.Data();
  if (d[0] != page_type::kData || Le32(d + DataPageLayout::kOwner) != kLongValueOwner)
    ThrowCorrupt(here, "a long value points to a page that is not a long-value page");
  Pager::RowSpan span =
      Pager::LocateRow(d, where.page, where.row, pager.Version(), pager.FileName());
  if (span.flags != 0) ThrowCorrupt(here, "a long value points to a deleted row");
  return {d + span.offset, span.length};
}

}  // namespace

std::uint32_t LongValueLength(std::span<const std::uint8_t> in_row, const Location& at) {
  if (in_row.size() < LongValueLayout::kHeaderSize)
    ThrowCorrupt(
        at, "a long value's header has " + std::to_string(in_row.size()) + " bytes instead of 12");
  return Le32(in_row.data()) & LongValueLayout::kLengthMask;
}

std::vector<std::uint8_t> ReadLongValue(Pager& pager, std::span<const std::uint8_t> in_row,
                                        const Location& at) {
  std::uint32_t length = LongValueLength(in_row, at);
  std::uint32_t kind = Le32(in_row.data()) & LongValueLayout::kKindMask;
  std::vector<std::uint8_t> out;
  if (kind == LongValueLayout::kInline) {
    if (in_row.size() - LongValueLayout::kHeaderSize < length)
      ThrowCorrupt(at, "an inline long value of " + std::to_string(length) + " bytes has only " +
                           std::to_string(in_row.size() - LongValueLayout::kHeaderSize) +
                           " in the row");
    out.assign(in_row.begin() + LongValueLayout::kHeaderSize,
               in_row.begin() + LongValueLayout::kHeaderSize + length);
    return out;
  }
  RowPointer where = RowPointer::Read(in_row.data() + LongValueLayout::kFirstRow);
  if (kind == LongValueLayout::kSingle) {
    PageRef page = pager.Read(where.page);
    auto row = LongValueRow(page, where, pager, at);
    if (row.size() < length)
      ThrowCorrupt(at, "a long value of " + std::to_string(length) + " bytes points to a row of " +
                           std::to_string(row.size()));
    out.assign(row.begin(), row.begin() + length);
    return out;
  }
  if (kind != LongValueLayout::kChain)
    ThrowCorrupt(at, "a long value has the unknown storage kind 0xC0");
  // A chain cannot have more links than the value has bytes (every link carries one).
  out.reserve(std::min<std::uint32_t>(length, 64u << 20));
  std::set<std::uint32_t> seen;
  while (out.size() < length) {
    if (where.IsNull())
      ThrowCorrupt(at, "a long value's chain ends after " + std::to_string(out.size()) + " of " +
                           std::to_string(length) + " bytes");
    if (!seen.insert(where.ToU32()).second) ThrowCorrupt(at, "a long value's chain of pages loops");
    PageRef page = pager.Read(where.page);
    auto row = LongValueRow(page, where, pager, at);
    if (row.size() < LongValueLayout::kChainLink)
      ThrowCorrupt(at, "a long value's chain row is shorter than its link");
    RowPointer next = RowPointer::Read(row.data());
    std::size_t take =
        std::min<std::size_t>(row.size() - LongValueLayout::kChainLink, length - out.size());
    out.insert(out.end(), row.begin() + LongValueLayout::kChainLink,
               row.begin() + LongValueLayout::kChainLink + take);
    where = next;
  }
  return out;
}

LongValueStore::LongValueStore(Pager& pager, const ColumnDefinition& column, Location at)
    : pager_(pager), at_(at), column_name_(column.name) {
  at_.field = column_name_;
  if (!column.has_lv_maps)
    ThrowJet(ErrorCode::kReadOnly,
             pager.FileName() + ": column '" + column.name +
                 "' keeps its long values without usage maps; it cannot be written");
  owned_ = &pager.Map(column.lv_owned_map);
  free_ = column.lv_free_map.IsNull() ? nullptr : &pager.Map(column.lv_free_map);
}

RowPointer LongValueStore::AddRow(std::span<const std::uint8_t> link,
                                  std::span<const std::uint8_t> bytes, bool own_page) {
  const std::size_t length = link.size() + bytes.size();
  const JetVersion version = pager_.Version();
  auto try_page = [&](std::uint32_t number) -> int {
    PageRef p = pager_.Read(number);
    const std::uint8_t* d = p.Data();
    if (d[0] != page_type::kData || Le32(d + DataPageLayout::kOwner) != kLongValueOwner) return -1;
    DataPage view(const_cast<std::uint8_t*>(d), version);
    if (!view.Fits(length) && !view.FitsRepacked(length, DataPage::Slot::kDeleted)) return -1;
    PageRef w = pager_.Write(number);
    DataPage page(w.MutableData(), version);
    int row;
    // Deleted rows give their bytes and slots back: nothing refers to them any more.
    std::uint8_t* dest = page.AddRowRepacking(length, 0, DataPage::Slot::kDeleted, &row);
    if (!dest) return -1;
    if (!link.empty()) std::memcpy(dest, link.data(), link.size());
    if (!bytes.empty()) std::memcpy(dest + link.size(), bytes.data(), bytes.size());
    if (free_ && !page.Fits(kUsefulRoom) &&
        !page.FitsRepacked(kUsefulRoom, DataPage::Slot::kDeleted))
      free_->Remove(number);
    return row;
  };
  if (!own_page) {
    if (current_page_ != 0 && owned_->Contains(current_page_)) {
      int row = try_page(current_page_);
      if (row >= 0) return RowPointer{current_page_, static_cast<std::uint8_t>(row)};
    }
    // Pages with room (from earlier sessions, or that deletes left): a few, most recent
    // first. Those without useful room leave the map.
    // Walked downwards from where the last search stopped, round again from the top.
    int tried = 0, examined = 0;
    std::uint32_t candidate = kNoPage;
    if (free_) {
      candidate = cursor_ == 0 ? kNoPage : free_->Pages().Prev(cursor_ - 1);
      if (candidate == kNoPage) candidate = free_->Pages().Max();
    }
    while (candidate != kNoPage && tried < 8 && ++examined <= 32) {
      std::uint32_t next = candidate == 0 ? kNoPage : free_->Pages().Prev(candidate - 1);
      if (next == kNoPage) next = free_->Pages().Max();
      if (next == candidate) next = kNoPage;
      cursor_ = candidate;
      if (candidate != current_page_ && owned_->Contains(candidate) &&
          candidate < pager_.PageCount()) {
        ++tried;
        int row = try_page(candidate);
        if (row >= 0) {
          current_page_ = candidate;
          return RowPointer{candidate, static_cast<std::uint8_t>(row)};
        }
        PageRef p = pager_.Read(candidate);
        DataPage view(const_cast<std::uint8_t*>(p.Data()), pager_.Version());
        if (p.Data()[0] != page_type::kData ||
            (!view.Fits(kUsefulRoom) && !view.FitsRepacked(kUsefulRoom, DataPage::Slot::kDeleted)))
          free_->Remove(candidate);
      } else if (!owned_->Contains(candidate)) {
        free_->Remove(candidate);
      }
      candidate = next;
    }
  }
  PageRef fresh = pager_.Allocate(owned_);
  std::uint32_t number = fresh.Number();
  DataPage::Format(fresh.MutableData(), version, kLongValueOwner);
  fresh = PageRef();
  if (free_) free_->Add(number);
  int row = try_page(number);
  if (row < 0) core::ThrowInternal("a long-value row does not fit an empty page");
  if (!own_page) current_page_ = number;
  return RowPointer{number, static_cast<std::uint8_t>(row)};
}

void LongValueStore::Store(std::span<const std::uint8_t> payload, bool inline_ok,
                           std::vector<std::uint8_t>& in_row) {
  if (payload.size() > kMaxLongValue)
    ThrowJet(ErrorCode::kValueInvalid,
             "column '" + column_name_ + "': a value of " + std::to_string(payload.size()) +
                 " bytes is larger than the 16 MiB that Access files can hold readably");
  const std::uint32_t page_size = pager_.PageSize();
  const auto layout = DataPageLayout::For(pager_.Version());
  const std::size_t single_max = page_size - layout.first_slot - 2 - LongValueLayout::kChainLink;
  const std::size_t chunk_max = single_max - LongValueLayout::kChainLink;
  in_row.assign(LongValueLayout::kHeaderSize, 0);
  std::uint32_t length = static_cast<std::uint32_t>(payload.size());
  if (inline_ok && payload.size() <= LongValueLayout::kMaxInline) {
    PutLe32(in_row.data(), length | LongValueLayout::kInline);
    in_row.insert(in_row.end(), payload.begin(), payload.end());
    return;
  }
  if (payload.size() <= single_max) {
    RowPointer where = AddRow({}, payload, false);
    PutLe32(in_row.data(), length | LongValueLayout::kSingle);
    where.Write(in_row.data() + LongValueLayout::kFirstRow);
    return;
  }
  // A chain, written back to front so that each row can name its successor; every chunk
  // gets a page of its own, as Access lays chains out.
  std::size_t chunks = (payload.size() + chunk_max - 1) / chunk_max;
  RowPointer next{};
  for (std::size_t i = chunks; i-- > 0;) {
    std::size_t start = i * chunk_max;
    std::size_t n = std::min(chunk_max, payload.size() - start);
    std::uint8_t link[4];
    next.Write(link);
    next = AddRow(link, payload.subspan(start, n), true);
  }
  PutLe32(in_row.data(), length | LongValueLayout::kChain);
  next.Write(in_row.data() + LongValueLayout::kFirstRow);
}

void LongValueStore::DeleteRow(RowPointer where) {
  PageRef w = pager_.Write(where.page);
  std::uint8_t* d = w.MutableData();
  if (d[0] != page_type::kData || Le32(d + DataPageLayout::kOwner) != kLongValueOwner) return;
  DataPage page(d, pager_.Version());
  if (where.row >= page.RowCount()) return;
  page.SetSlotFlags(where.row, DataPageLayout::kSlotFlags);
  bool live = false;
  for (int r = 0; r < page.RowCount() && !live; ++r) live = !page.IsDeleted(r);
  if (live) {
    // The page keeps other values; its freed bytes can take new ones.
    if (free_ && owned_->Contains(where.page) && !free_->Contains(where.page) &&
        page.FitsRepacked(kUsefulRoom, DataPage::Slot::kDeleted))
      free_->Add(where.page);
    return;
  }
  // Nothing live is left on the page: give it back.
  w = PageRef();
  if (free_) free_->Remove(where.page);
  if (current_page_ == where.page) current_page_ = 0;
  if (owned_->Contains(where.page)) pager_.Release(where.page, owned_);
}

void LongValueStore::Free(std::span<const std::uint8_t> in_row) {
  if (in_row.size() < LongValueLayout::kHeaderSize) return;
  std::uint32_t head = Le32(in_row.data());
  std::uint32_t kind = head & LongValueLayout::kKindMask;
  if (kind == LongValueLayout::kInline) return;
  RowPointer where = RowPointer::Read(in_row.data() + LongValueLayout::kFirstRow);
  if (kind == LongValueLayout::kSingle) {
    DeleteRow(where);
    return;
  }
  std::set<std::uint32_t> seen;
  while (!where.IsNull() && seen.insert(where.ToU32()).second) {
    RowPointer next{};
    {
      PageRef p = pager_.Read(where.page);
      auto row = LongValueRow(p, where, pager_, at_);
      if (row.size() >= LongValueLayout::kChainLink) next = RowPointer::Read(row.data());
    }
    DeleteRow(where);
    where = next;
  }
}

}  // namespace jet

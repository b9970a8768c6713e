#include "jet/data_page.h"

#include <array>
#include <cstring>

namespace jet {

void DataPage::Format(std::uint8_t* page, JetVersion version, std::uint32_t owner) {
  const auto layout = DataPageLayout::For(version);
  std::memset(page, 0, layout.page_size);
  page[DataPageLayout::kType] = page_type::kData;
  page[DataPageLayout::kMagic] = 0x01;
  PutLe16(page + DataPageLayout::kFreeSpace,
          static_cast<std::uint16_t>(layout.page_size - layout.first_slot));
  PutLe32(page + DataPageLayout::kOwner, owner);
}

bool DataPage::Fits(std::size_t length) const {
  std::uint16_t count = RowCount();
  if (count >= kMaxRowsPerPage || length + 2 > FreeSpace()) return false;
  std::uint32_t end =
      count == 0
          ? layout_.page_size
          : (Le16(page_ + layout_.first_slot + 2 * (count - 1)) & DataPageLayout::kSlotOffsetMask);
  return layout_.first_slot + 2u * (count + 1u) + length <= end;
}

std::uint8_t* DataPage::AddRow(std::size_t length, std::uint16_t flags, int* row) {
  std::uint16_t count = RowCount();
  std::uint32_t end =
      count == 0
          ? layout_.page_size
          : (Le16(page_ + layout_.first_slot + 2 * (count - 1)) & DataPageLayout::kSlotOffsetMask);
  std::uint32_t start = end - static_cast<std::uint32_t>(length);
  PutLe16(page_ + layout_.first_slot + 2 * count, static_cast<std::uint16_t>(start | flags));
  PutLe16(page_ + layout_.row_count_offset, static_cast<std::uint16_t>(count + 1));
  PutLe16(page_ + DataPageLayout::kFreeSpace, static_cast<std::uint16_t>(FreeSpace() - length - 2));
  std::memset(page_ + start, 0, length);
  *row = count;
  return page_ + start;
}

int DataPage::AddRow(std::span<const std::uint8_t> bytes, std::uint16_t flags) {
  int row;
  std::uint8_t* dest = AddRow(bytes.size(), flags, &row);
  if (!bytes.empty()) std::memcpy(dest, bytes.data(), bytes.size());
  return row;
}

void DataPage::SetSlotFlags(int row, std::uint16_t flags) {
  std::uint8_t* slot = page_ + layout_.first_slot + 2 * row;
  PutLe16(slot, static_cast<std::uint16_t>((Le16(slot) & DataPageLayout::kSlotOffsetMask) | flags));
}

namespace {

// One slot as the repacking code sees it.
struct Piece {
  std::uint16_t start = 0;
  std::uint16_t length = 0;
  std::uint16_t flags = 0;
};

// The slots of a page with their byte ranges; deleted rows count as empty. False when the
// row count or a live row's range is impossible.
bool Measure(const std::uint8_t* page, const DataPageLayout& layout,
             std::array<Piece, kMaxRowsPerPage>& pieces, std::uint16_t* count,
             std::size_t* live_bytes, std::size_t* deleted_bytes) {
  const std::uint16_t n = Le16(page + layout.row_count_offset);
  if (n > kMaxRowsPerPage) return false;
  const std::uint32_t table_end = layout.first_slot + 2u * n;
  std::size_t live = 0, deleted = 0;
  for (int i = 0; i < n; ++i) {
    const std::uint16_t slot = Le16(page + layout.first_slot + 2 * i);
    const std::uint32_t start = slot & DataPageLayout::kSlotOffsetMask;
    const std::uint32_t end =
        i == 0 ? layout.page_size
               : (Le16(page + layout.first_slot + 2 * (i - 1)) & DataPageLayout::kSlotOffsetMask);
    const std::uint16_t flags = slot & DataPageLayout::kSlotFlags;
    const bool consistent = start >= table_end && start <= end && end <= layout.page_size;
    if (flags == DataPageLayout::kSlotFlags) {
      pieces[i] = Piece{0, 0, flags};
      if (consistent) deleted += end - start;
      continue;
    }
    if (!consistent) return false;
    pieces[i] =
        Piece{static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(end - start), flags};
    live += end - start;
  }
  *count = n;
  *live_bytes = live;
  *deleted_bytes = deleted;
  return true;
}

}  // namespace

std::size_t DataPage::DeletedBytes() const {
  std::array<Piece, kMaxRowsPerPage> pieces;
  std::uint16_t count;
  std::size_t live, deleted;
  if (!Measure(page_, layout_, pieces, &count, &live, &deleted)) return 0;
  return deleted;
}

int DataPage::ChooseSlot(Slot slot) const {
  const int count = RowCount();
  if (count > kMaxRowsPerPage) return -1;
  int first_deleted = -1;
  for (int i = 0; i < count && first_deleted < 0; ++i)
    if (IsDeleted(i)) first_deleted = i;
  if (slot == Slot::kDeleted && first_deleted >= 0) return first_deleted;
  if (count < kMaxRowsPerPage) return count;
  return first_deleted;
}

std::size_t DataPage::RoomRepacked(Slot slot) const {
  const int target = ChooseSlot(slot);
  if (target < 0) return 0;
  std::array<Piece, kMaxRowsPerPage> pieces;
  std::uint16_t count;
  std::size_t live, deleted;
  if (!Measure(page_, layout_, pieces, &count, &live, &deleted)) return 0;
  const std::size_t rows = target == count ? count + 1u : count;
  const std::size_t used = layout_.first_slot + 2 * rows + live;
  return used < layout_.page_size ? layout_.page_size - used : 0;
}

bool DataPage::FitsRepacked(std::size_t length, Slot slot) const {
  return length > 0 && RoomRepacked(slot) >= length;
}

bool DataPage::Repack(int grow, std::size_t length, std::uint16_t flags) {
  std::array<Piece, kMaxRowsPerPage> pieces;
  std::uint16_t count;
  std::size_t live, deleted;
  if (!Measure(page_, layout_, pieces, &count, &live, &deleted)) return false;
  const int rows = grow == count ? count + 1 : count;
  const std::size_t table_end = layout_.first_slot + 2u * rows;
  if (grow >= 0 && grow < count && pieces[grow].flags != DataPageLayout::kSlotFlags) return false;
  if (table_end + live + (grow >= 0 ? length : 0) > layout_.page_size) return false;

  std::array<std::uint8_t, kJet4PageSize> copy;
  std::memcpy(copy.data(), page_, layout_.page_size);
  std::size_t pos = layout_.page_size;
  for (int i = 0; i < rows; ++i) {
    std::uint16_t slot_flags;
    if (i == grow) {
      pos -= length;
      std::memset(page_ + pos, 0, length);
      slot_flags = flags;
    } else {
      pos -= pieces[i].length;
      std::memmove(page_ + pos, copy.data() + pieces[i].start, pieces[i].length);
      slot_flags = pieces[i].flags;
    }
    PutLe16(page_ + layout_.first_slot + 2 * i, static_cast<std::uint16_t>(pos | slot_flags));
  }
  std::memset(page_ + table_end, 0, pos - table_end);
  PutLe16(page_ + layout_.row_count_offset, static_cast<std::uint16_t>(rows));
  PutLe16(page_ + DataPageLayout::kFreeSpace, static_cast<std::uint16_t>(pos - table_end));
  return true;
}

std::uint8_t* DataPage::AddRowRepacking(std::size_t length, std::uint16_t flags, Slot slot,
                                        int* row) {
  const int target = ChooseSlot(slot);
  if (target < 0) return nullptr;
  if (target == RowCount() && Fits(length)) return AddRow(length, flags, row);
  if (!Repack(target, length, flags)) return nullptr;
  *row = target;
  return page_ + (Le16(page_ + layout_.first_slot + 2 * target) & DataPageLayout::kSlotOffsetMask);
}

}  // namespace jet

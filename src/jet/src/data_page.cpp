#include "jet/data_page.h"

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

}  // namespace jet

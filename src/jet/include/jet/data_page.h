// Data pages (type 0x01): a header, a slot table growing up from the header and rows packed
// down from the end of the page. Table rows, usage-map rows and long-value rows all live on
// such pages. This is a view over a page buffer: it never reads or writes the file and
// never decides which page a row goes to.
#pragma once

#include <cstdint>
#include <span>

#include "jet/format.h"

namespace jet {

inline constexpr int kMaxRowsPerPage = 255;  // row numbers are one byte in row pointers

class DataPage {
 public:
  DataPage(std::uint8_t* page, JetVersion version)
      : page_(page), layout_(DataPageLayout::For(version)) {}

  // Initialises an empty data page owned by `owner` (TDEF page, kLongValueOwner, 0).
  static void Format(std::uint8_t* page, JetVersion version, std::uint32_t owner);

  std::uint16_t RowCount() const { return Le16(page_ + layout_.row_count_offset); }
  std::uint16_t FreeSpace() const { return Le16(page_ + DataPageLayout::kFreeSpace); }
  std::uint32_t Owner() const { return Le32(page_ + DataPageLayout::kOwner); }
  std::uint16_t SlotFlags(int row) const {
    return Le16(page_ + layout_.first_slot + 2 * row) & DataPageLayout::kSlotFlags;
  }

  // Whether a row of `length` bytes fits: its bytes plus its two-byte slot.
  // The free-space field and the actual gap between slot table and rows must both agree.
  bool Fits(std::size_t length) const;
  // Appends a row in the next slot and returns where its bytes go (already the right
  // length, zero-filled); `row` receives the slot number. The caller checked Fits.
  std::uint8_t* AddRow(std::size_t length, std::uint16_t flags, int* row);
  int AddRow(std::span<const std::uint8_t> bytes, std::uint16_t flags = 0);
  // Changes a slot's flag bits, keeping its offset.
  void SetSlotFlags(int row, std::uint16_t flags);

 private:
  std::uint8_t* page_;
  DataPageLayout layout_;
};

}  // namespace jet

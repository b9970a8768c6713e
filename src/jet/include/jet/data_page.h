// Data pages (type 0x01): a header, a slot table growing up from the header and rows packed
// down from the end of the page. Table rows, usage-map rows and long-value rows all live on
// such pages. This is a view over a page buffer: it never reads or writes the file and
// never decides which page a row goes to.
//
// A row's length is implied by where its neighbour starts, so deleted rows keep their bytes
// until the page is repacked. Repacking moves bytes only: every slot keeps its number and
// its flags, which is all that index entries, forwarding rows and long-value pointers refer
// to. A deleted row then takes no bytes at all (its offset equals its neighbour's).
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
  bool IsDeleted(int row) const { return SlotFlags(row) == DataPageLayout::kSlotFlags; }

  // Whether a row of `length` bytes fits: its bytes plus its two-byte slot.
  // The free-space field and the actual gap between slot table and rows must both agree.
  bool Fits(std::size_t length) const;
  // Appends a row in the next slot and returns where its bytes go (already the right
  // length, zero-filled); `row` receives the slot number. The caller checked Fits.
  std::uint8_t* AddRow(std::size_t length, std::uint16_t flags, int* row);
  int AddRow(std::span<const std::uint8_t> bytes, std::uint16_t flags = 0);
  // Changes a slot's flag bits, keeping its offset.
  void SetSlotFlags(int row, std::uint16_t flags);

  // Where a row may go when the page is repacked first.
  enum class Slot {
    kNew,      // a new slot at the end of the slot table; a deleted row's slot only when
               // the table is full (rows keep their insertion order while they can)
    kDeleted,  // the lowest deleted row's slot first (nothing refers to deleted rows)
  };
  // Bytes deleted rows still occupy.
  std::size_t DeletedBytes() const;
  // Whether a row of `length` bytes fits once the page is repacked.
  bool FitsRepacked(std::size_t length, Slot slot) const;
  // The longest row that fits once the page is repacked (0 when none does).
  std::size_t RoomRepacked(Slot slot) const;
  // Adds a row as Fits + AddRow do, repacking the page first when it does not fit
  // otherwise; nullptr (and nothing changed) when it does not fit even then, or when the
  // slot table is inconsistent (a damaged page is never rearranged).
  std::uint8_t* AddRowRepacking(std::size_t length, std::uint16_t flags, Slot slot, int* row);

 private:
  // The slot a repacked row would take: RowCount() for a new one, -1 when none is free.
  int ChooseSlot(Slot slot) const;
  // Rewrites the row area in slot order with deleted rows at zero length and slot `grow`
  // (if >= 0) given `length` zeroed bytes and `flags`. False when a live row's offsets are
  // inconsistent.
  bool Repack(int grow, std::size_t length, std::uint16_t flags);

  std::uint8_t* page_;
  DataPageLayout layout_;
};

}  // namespace jet

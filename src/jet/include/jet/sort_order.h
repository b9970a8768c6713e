// Text sort orders of Jet 4: which one a text column uses, and the General order's keys.
//
// Every text column carries the sort order (a Windows locale id plus a version byte) that
// its index keys were built with. We can build keys in the General order (1033, version 0,
// what Access 2000-2003 calls "General") only; a column in any other order (Czech 1029,
// Polish 1045, ...) can be read, but a write that would have to encode its text key must be
// refused before anything changes, or the index would no longer match what Access expects.
//
// The General keys come from the code table Access used (one entry per UTF-16 code unit,
// generated into sort_general_table.cpp by scripts/gen_sort_table.py). This header knows
// nothing of pages, rows or files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

// The sort order stored with a text column (column descriptor +11 locale id, +14 version)
// and, as the database default, in the header page.
struct SortOrder {
  std::uint16_t locale = 0x0409;
  std::uint8_t version = 0;
  friend bool operator==(SortOrder, SortOrder) = default;
};

inline constexpr SortOrder kGeneralSortOrder{0x0409, 0};

// True for the one order whose text keys we can build.
inline bool IsGeneralSortOrder(SortOrder order) {
  return order == kGeneralSortOrder;
}

// "General (1033)", "Czech (1029)", "Polish (1045)", ...; an unknown locale gives
// "locale 1234" and a version other than 0 is added ("General (1033, version 1)").
std::string SortOrderName(SortOrder order);

// Longest text a key holds, in UTF-16 code units; longer texts are cut before encoding.
inline constexpr std::size_t kMaxTextKeyUnits = 255;

// Appends the key bytes of a text value in the General order, without the segment's flag
// byte: case is dropped, accents go to a second level after the letters, hyphens and
// apostrophes to a third level, trailing blanks do not count. A descending key is the
// complement of the ascending one plus a final 00, so it sorts in reverse under memcmp.
void AppendGeneralTextKey(std::u16string_view text, bool descending,
                          std::vector<std::uint8_t>& out);

}  // namespace jet

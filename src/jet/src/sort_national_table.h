// The national sort orders' substitutions in the form the generator writes. Private to the
// sort-order code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet::sort_detail {

enum class NationalKind : std::uint8_t {
  kLetter,  // its own primary bytes, and a diacritic byte unless `diacritic` is 2
  kMark,    // a combining mark: the General row with `diacritic` as its modifier
};

struct NationalUnit {
  std::uint16_t locale;
  std::uint8_t length;  // code units matched: 1, or 2-3 for a contraction
  char16_t units[3];
  NationalKind kind;
  std::uint8_t inline_length;
  std::uint8_t inline_bytes[2];
  std::uint8_t diacritic;  // the Windows diacritic weight
};

// Sorted by locale, then by code units.
extern const NationalUnit kNationalUnits[];
extern const std::size_t kNationalUnitCount;

}  // namespace jet::sort_detail

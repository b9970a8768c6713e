// The General sort order's code table in the compact form the generator writes.
// Private to the sort-order code; sort_order.cpp expands it once into a flat table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet::sort_detail {

// How a UTF-16 code unit contributes to a text key.
enum class SortClass : std::uint8_t {
  S,  // simple: primary bytes only
  I,  // international: primary bytes plus a diacritic byte
  U,  // unprintable: recorded in the key's unprintable part only
  P,  // modifier: adjusts the previous diacritic byte
  Z,  // kana: like I plus a kana flag
  X,  // ignored
  Q,  // surrogate half: like I with computed codes
};

// A stretch of consecutive code units. Unit i of the run (0-based) has primary bytes
// `inline_value + i * inline_step` (inline_length bytes, big-endian) and auxiliary byte
// `aux + i * aux_step`; everything else is shared. The auxiliary byte is the unprintable
// code (class U), the modifier (P) or the kana flag (Z).
struct GeneralRun {
  std::uint16_t count;
  SortClass cls;
  std::uint8_t inline_length;  // 0..4
  std::uint32_t inline_value;
  std::int32_t inline_step;
  std::uint8_t extra_length;  // 0..2
  std::uint16_t extra;        // big-endian when two bytes
  std::uint8_t aux;
  std::int16_t aux_step;
};

extern const GeneralRun kGeneralRuns[];
extern const std::size_t kGeneralRunCount;

}  // namespace jet::sort_detail

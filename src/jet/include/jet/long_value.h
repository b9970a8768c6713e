// Long values: the payload of Memo and OLE columns.
//
// In the row a long value is a 12-byte header, followed by the payload itself when it is
// stored inline. Larger payloads live on long-value pages (data pages whose owner field is
// "LVAL"): in one row of such a page, or as a chain of rows, each starting with the row
// pointer of the next. Every page a column's values occupy is listed in that column's two
// usage maps (owned pages, pages with room).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "jet/errors.h"
#include "jet/pager.h"
#include "jet/table_definition.h"

namespace jet {

struct LongValueLayout {
  static constexpr std::uint16_t kLength = 0;    // u32: bits 0-29 length, 30-31 kind
  static constexpr std::uint16_t kFirstRow = 4;  // row pointer; 0 when inline
  static constexpr std::uint16_t kUnknown = 8;   // u32, written as 0
  static constexpr std::uint16_t kHeaderSize = 12;
  static constexpr std::uint32_t kLengthMask = 0x3FFFFFFF;
  static constexpr std::uint32_t kInline = 0x80000000;  // payload follows the header
  static constexpr std::uint32_t kSingle = 0x40000000;  // payload is one LVAL row
  static constexpr std::uint32_t kChain = 0x00000000;   // rows: next pointer + chunk
  static constexpr std::uint32_t kKindMask = 0xC0000000;
  static constexpr std::uint32_t kChainLink = 4;  // next-row pointer before each chunk
  static constexpr std::size_t kMaxInline = 64;
};

// Readers built on 24-bit lengths (mdb-reader) cannot read 16 MiB or more.
inline constexpr std::size_t kMaxLongValue = 16 * 1024 * 1024 - 1;

// The whole payload of a value whose in-row bytes are `in_row`.
std::vector<std::uint8_t> ReadLongValue(Pager& pager, std::span<const std::uint8_t> in_row,
                                        const Location& at);
// Only the payload length the header states (no page is read).
std::uint32_t LongValueLength(std::span<const std::uint8_t> in_row, const Location& at);

// Stores and frees the values of one Memo/OLE column.
class LongValueStore {
 public:
  LongValueStore(Pager& pager, const ColumnDefinition& column, Location at);

  // Writes the in-row bytes for `payload` into `in_row` (replacing its content). Inline when
  // `inline_ok` and the payload has at most 64 bytes; otherwise on LVAL pages.
  void Store(std::span<const std::uint8_t> payload, bool inline_ok,
             std::vector<std::uint8_t>& in_row);
  // Marks the LVAL rows of a stored value deleted; pages left with no live row are released.
  void Free(std::span<const std::uint8_t> in_row);

 private:
  RowPointer AddRow(std::span<const std::uint8_t> link, std::span<const std::uint8_t> bytes,
                    bool own_page);
  void DeleteRow(RowPointer where);

  Pager& pager_;
  UsageMap* owned_;
  UsageMap* free_;
  Location at_;
  std::string column_name_;
  std::uint32_t current_page_ = 0;  // the page single-row values go to while it has room
  std::uint32_t cursor_ = 0;        // where the last search of the free-space map stopped
};

}  // namespace jet

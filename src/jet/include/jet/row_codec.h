// Rows as they sit on data pages, and the stored form of each column type.
//
// `RowFormat` is computed once per table definition. `Decode` splits a stored row into one
// `ColumnSlice` per column (views into the row bytes, nothing copied); `Encode` builds a row
// from slices straight into the caller's buffer. Both check every offset and length that
// comes from the row before using it.
//
// `EncodeColumnValue` / `DecodeColumnValue` convert between `core::Variant` and the stored
// bytes of one column (little-endian numbers, OLE dates, UCS-2 or compressed text, Decimal's
// sign-and-magnitude, GUIDs in Windows order). Long values (Memo, OLE) are converted to and
// from their payload here; where the payload lives (in the row or on long-value pages) is
// the table layer's business.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/variant.h"
#include "jet/errors.h"
#include "jet/table_definition.h"

namespace jet {

// A stored row, read from both ends, declared once for the decoder and the encoder.
//
// From the front: the column count (max_columns when the row was written), then the fixed
// area (fixed columns at their fixed_offset), then the variable data. From the end
// backwards: the null mask (one bit per column number; a Boolean column's value is its
// bit), the count of variable offsets, the offsets themselves (variable slot 0 nearest the
// count) and last the offset where the variable data ends. Offsets count from the start of
// the row. Jet 3 offsets are single bytes: a jump table between the count and the offsets
// (one entry per 256 bytes of row) says from which slot on 256 is to be added.
struct RowLayout {
  std::uint8_t column_count_size;  // u16 (Jet 4) / u8 (Jet 3) at the start of the row
  std::uint8_t var_count_size;     // u16 / u8 just before the null mask
  std::uint8_t var_offset_size;    // u16 / u8 per variable offset

  static constexpr std::size_t kColumnCount = 0;

  static constexpr RowLayout For(JetVersion v) {
    return v == JetVersion::kJet3 ? RowLayout{1, 1, 1} : RowLayout{2, 2, 2};
  }
  static constexpr std::size_t MaskSize(std::uint32_t columns) { return (columns + 7) / 8; }
  // Where the fixed area starts.
  constexpr std::size_t FixedArea() const { return column_count_size; }
  // Distance back from the null mask to the count of variable offsets...
  constexpr std::size_t VarCountBack() const { return var_count_size; }
  // ...and to variable offset k (k = count: the end of the variable data), past `jumps`
  // jump-table bytes (Jet 3; 0 for Jet 4).
  constexpr std::size_t VarOffsetBack(std::size_t k, std::size_t jumps = 0) const {
    return var_count_size + jumps + var_offset_size * (k + 1);
  }
  // Jet 3: jump-table entry j.
  constexpr std::size_t JumpBack(std::size_t j) const { return var_count_size + 1 + j; }
  // Bytes of the count and the offsets of `count` variable slots (without jump table).
  constexpr std::size_t VarTableSize(std::size_t count) const { return VarOffsetBack(count); }
};

// One column of a decoded row, or one value to encode.
struct ColumnSlice {
  bool null = true;
  bool boolean = false;  // Boolean columns: the value (never null on disk)
  const std::uint8_t* data = nullptr;
  std::uint32_t size = 0;
};

class RowFormat {
 public:
  explicit RowFormat(const TableDefinition& def);

  std::size_t ColumnCount() const { return columns_.size(); }
  // Splits `row`; `out` has ColumnCount() entries, in the definition's column order.
  // Raises CorruptDatabase (located by `at`) when the row's structure is inconsistent.
  void Decode(std::span<const std::uint8_t> row, ColumnSlice* out, const Location& at) const;
  // Size of the row `Encode` writes for these values (Jet 4).
  std::size_t EncodedSize(const ColumnSlice* values) const;
  // `size` is at least EncodedSize(values); a larger size (a row rewritten in a longer
  // slot) leaves the gap between the data and the trailer of mask and offsets, which sits
  // at the end, as the caller filled it (zeros).
  void Encode(const ColumnSlice* values, std::uint8_t* out, std::size_t size) const;

 private:
  struct Column {
    std::uint8_t type;
    bool fixed;
    bool boolean;
    std::uint16_t number;
    std::uint16_t var_index;
    std::uint16_t fixed_offset;
    std::uint16_t length;
  };
  // What Encode walks, worked out once: where each value goes and which mask bit it sets.
  struct Placement {
    std::uint16_t pos = 0;     // column position; kNoColumn for a deleted variable slot
    std::uint16_t offset = 0;  // fixed columns: offset in the fixed area
    std::uint16_t length = 0;  // fixed columns: bytes
    std::uint16_t mask_byte = 0;
    std::uint8_t mask_bit = 0;
  };
  static constexpr std::uint16_t kNoColumn = 0xFFFF;
  JetVersion version_;
  std::uint16_t max_columns_;
  std::uint16_t var_columns_;
  std::uint16_t fixed_size_;
  std::vector<Column> columns_;
  std::vector<int> by_var_index_;     // column position of each variable slot, -1 for gaps
  std::vector<Placement> fixed_;      // fixed columns other than Boolean
  std::vector<Placement> booleans_;   // Boolean columns (their mask bit is the value)
  std::vector<Placement> variables_;  // by variable index
};

// Largest row Jet accepts.
inline constexpr std::size_t kMaxRowSize = 4060;

// Text decoding needs the code page for Jet 3 files.
struct ValueContext {
  JetVersion version = JetVersion::kJet4;
  int code_page = 1252;
};

// Converts a Variant into the stored bytes of `column`, appended to `scratch` (the bytes
// start at `offset`; slices are made once every value of a row is in, since `scratch`
// may move). Boolean values come back in `boolean`; Null or Empty give `null`. For
// Memo/OLE the bytes are the payload. Raises JetError kValueInvalid naming the column when
// the value does not fit.
struct EncodedValue {
  bool null = true;
  bool boolean = false;
  std::size_t offset = 0;
  std::uint32_t size = 0;
};
EncodedValue EncodeColumnValue(const ColumnDefinition& column, const core::Variant& value,
                               std::vector<std::uint8_t>& scratch);

// A byte buffer that does not zero what it grows by: the row encoder writes every byte it
// appends, once per value of every row inserted.
class EncodeBuffer {
 public:
  std::size_t size() const { return size_; }
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }
  void clear() { size_ = 0; }
  // n more bytes, uninitialised; earlier pointers into the buffer may be invalidated.
  std::uint8_t* Append(std::size_t n) {
    if (capacity_ - size_ < n) Grow(n);
    std::uint8_t* p = data_.get() + size_;
    size_ += n;
    return p;
  }
  void Truncate(std::size_t n) { size_ = n < size_ ? n : size_; }

 private:
  void Grow(std::size_t n);
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};
EncodedValue EncodeColumnValue(const ColumnDefinition& column, const core::Variant& value,
                               EncodeBuffer& scratch);
// The Variant of a stored value (for Memo/OLE: of the whole payload).
// Raises CorruptDatabase (located by `at`) when the stored bytes cannot be this type.
core::Variant DecodeColumnValue(const ColumnDefinition& column, const ColumnSlice& slice,
                                const ValueContext& context, const Location& at);

// GUID text "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" from the 16 stored bytes and back
// (braces optional when parsing).
std::string GuidToText(const std::uint8_t* bytes);
bool TryParseGuid(std::string_view text, std::uint8_t out[16]);

}  // namespace jet

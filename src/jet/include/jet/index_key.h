// Index keys: the byte strings Jet compares with memcmp to order index entries.
//
// A key is one segment per index column, in the index's column order. A segment is a flag
// byte (7F a value in an ascending column, 80 in a descending one; 00 / FF for Null) and
// the value's bytes arranged so that memcmp sorts them as Access does. Everything inside
// a key is big-endian. The functions here are pure: they take column values as the row
// layer holds them (the stored little-endian bytes of fixed columns, the UTF-16 units of
// text) and never touch a page or a file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/errors.h"
#include "jet/sort_order.h"

namespace jet {

// Column type codes of the table definition that can be part of an index key.
namespace key_type {
inline constexpr std::uint8_t kBoolean = 0x01;
inline constexpr std::uint8_t kByte = 0x02;
inline constexpr std::uint8_t kInteger = 0x03;
inline constexpr std::uint8_t kLong = 0x04;
inline constexpr std::uint8_t kCurrency = 0x05;
inline constexpr std::uint8_t kSingle = 0x06;
inline constexpr std::uint8_t kDouble = 0x07;
inline constexpr std::uint8_t kDateTime = 0x08;
inline constexpr std::uint8_t kBinary = 0x09;
inline constexpr std::uint8_t kText = 0x0A;
inline constexpr std::uint8_t kOle = 0x0B;
inline constexpr std::uint8_t kMemo = 0x0C;
inline constexpr std::uint8_t kGuid = 0x0F;
inline constexpr std::uint8_t kNumeric = 0x10;
}  // namespace key_type

// True for the column types a key can hold (everything but OLE objects and unknown codes).
bool IsIndexableType(std::uint8_t type);

// One column of an index as the key encoder needs it.
struct KeyColumn {
  std::uint8_t type = key_type::kLong;  // table-definition type code
  bool descending = false;
  SortOrder sort_order = kGeneralSortOrder;  // text and memo columns only
};

// One column's value. Views only: the bytes must outlive the call that encodes them.
class KeyValue {
 public:
  enum class Kind : std::uint8_t { Null, Stored, Text, Boolean };

  static KeyValue Null() { return KeyValue(Kind::Null); }
  // A fixed-size or Binary value exactly as stored in the row: little-endian integers and
  // floats, GUIDs in row order, Decimal as its 17 row bytes.
  static KeyValue Stored(std::span<const std::uint8_t> bytes) {
    KeyValue v(Kind::Stored);
    v.bytes_ = bytes;
    return v;
  }
  static KeyValue Text(std::u16string_view units) {
    KeyValue v(Kind::Text);
    v.text_ = units;
    return v;
  }
  static KeyValue Boolean(bool value) {
    KeyValue v(Kind::Boolean);
    v.boolean_ = value;
    return v;
  }

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::Null; }
  std::span<const std::uint8_t> bytes() const { return bytes_; }
  std::u16string_view text() const { return text_; }
  bool boolean() const { return boolean_; }

 private:
  explicit KeyValue(Kind kind) : kind_(kind) {}
  Kind kind_;
  bool boolean_ = false;
  std::span<const std::uint8_t> bytes_;
  std::u16string_view text_;
};

// Raised when a value cannot be put into a key: a text column in a sort order other than
// General (the message names the order), a value of the wrong size or kind for its
// column, an unindexable type. Callers add the file, table and index to the message.
class KeyEncodingError : public core::Exception {
 public:
  using core::Exception::Exception;
};

// Appends one column's segment to `key`.
void AppendKeySegment(const KeyColumn& column, const KeyValue& value,
                      std::vector<std::uint8_t>& key);

// The whole key of an index. `values` may be shorter than `columns` (a prefix for a
// search); it must not be longer.
std::vector<std::uint8_t> EncodeKey(std::span<const KeyColumn> columns,
                                    std::span<const KeyValue> values);

// Whether writing a key of this column is possible; false only for text and memo columns
// in a sort order other than General. Callers check every column of every index a write
// touches before they change anything.
bool CanEncodeColumn(const KeyColumn& column);

}  // namespace jet

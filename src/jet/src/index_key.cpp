// Index key segments for every indexable column type.
#include "jet/index_key.h"

#include <array>

namespace jet {
namespace {

std::string Hex4(char16_t c) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(4, '0');
  for (int i = 3; i >= 0; --i, c = static_cast<char16_t>(c >> 4)) out[i] = kDigits[c & 15];
  return out;
}

constexpr std::uint8_t kAscendingValue = 0x7F;
constexpr std::uint8_t kDescendingValue = 0x80;
constexpr std::uint8_t kAscendingNull = 0x00;
constexpr std::uint8_t kDescendingNull = 0xFF;

// Binary values are cut into groups of this many bytes; a group that is not the last is
// followed by kMoreGroups, the last one (zero-padded) by its real length.
constexpr std::size_t kBinaryGroup = 8;
constexpr std::uint8_t kMoreGroups = 0x09;

std::string TypeName(std::uint8_t type) {
  switch (type) {
    case key_type::kBoolean:
      return "Yes/No";
    case key_type::kByte:
      return "Byte";
    case key_type::kInteger:
      return "Integer";
    case key_type::kLong:
      return "Long Integer";
    case key_type::kCurrency:
      return "Currency";
    case key_type::kSingle:
      return "Single";
    case key_type::kDouble:
      return "Double";
    case key_type::kDateTime:
      return "Date/Time";
    case key_type::kBinary:
      return "Binary";
    case key_type::kText:
      return "Text";
    case key_type::kOle:
      return "OLE Object";
    case key_type::kMemo:
      return "Memo";
    case key_type::kGuid:
      return "Replication ID";
    case key_type::kNumeric:
      return "Decimal";
  }
  return "type " + std::to_string(type);
}

std::size_t FixedSize(std::uint8_t type) {
  switch (type) {
    case key_type::kByte:
      return 1;
    case key_type::kInteger:
      return 2;
    case key_type::kLong:
      return 4;
    case key_type::kCurrency:
      return 8;
    case key_type::kSingle:
      return 4;
    case key_type::kDouble:
      return 8;
    case key_type::kDateTime:
      return 8;
    case key_type::kGuid:
      return 16;
    case key_type::kNumeric:
      return 17;
  }
  return 0;
}

std::span<const std::uint8_t> StoredBytes(const KeyColumn& column, const KeyValue& value) {
  if (value.kind() != KeyValue::Kind::Stored) {
    throw KeyEncodingError("a " + TypeName(column.type) + " key column needs its stored bytes");
  }
  const std::size_t want = FixedSize(column.type);
  if (want != 0 && value.bytes().size() != want) {
    throw KeyEncodingError("a " + TypeName(column.type) + " value has " + std::to_string(want) +
                           " bytes, not " + std::to_string(value.bytes().size()));
  }
  return value.bytes();
}

// Two's complement little-endian integer: big-endian with the sign bit flipped, so that
// negative numbers sort before positive ones.
void AppendSigned(std::span<const std::uint8_t> le, bool descending,
                  std::vector<std::uint8_t>& key) {
  const std::uint8_t mask = descending ? 0xFF : 0x00;
  for (std::size_t i = le.size(); i-- > 0;) {
    std::uint8_t b = le[i];
    if (i == le.size() - 1) b ^= 0x80;
    key.push_back(b ^ mask);
  }
}

// IEEE float little-endian: big-endian; positives get the sign bit set, negatives are
// inverted whole, which turns the sign-magnitude order into an unsigned one.
void AppendFloat(std::span<const std::uint8_t> le, bool descending,
                 std::vector<std::uint8_t>& key) {
  const bool negative = (le.back() & 0x80) != 0;
  std::uint8_t mask = descending ? 0xFF : 0x00;
  if (negative) mask ^= 0xFF;
  for (std::size_t i = le.size(); i-- > 0;) {
    std::uint8_t b = le[i];
    if (!negative && i == le.size() - 1) b ^= 0x80;
    key.push_back(b ^ mask);
  }
}

void AppendBinary(std::span<const std::uint8_t> data, bool descending,
                  std::vector<std::uint8_t>& key) {
  const std::uint8_t mask = descending ? 0xFF : 0x00;
  std::size_t offset = 0;
  while (offset < data.size()) {
    const std::size_t n = std::min(kBinaryGroup, data.size() - offset);
    for (std::size_t i = 0; i < kBinaryGroup; ++i) {
      key.push_back((i < n ? data[offset + i] : 0x00) ^ mask);
    }
    offset += n;
    if (offset < data.size()) {
      key.push_back(kMoreGroups);  // never inverted, also in descending keys
    } else {
      key.push_back(static_cast<std::uint8_t>(n) ^ mask);
    }
  }
}

// The stored GUID has its first three groups little-endian; keys use the order in which
// the digits are written.
void AppendGuid(std::span<const std::uint8_t> row, bool descending,
                std::vector<std::uint8_t>& key) {
  const std::array<std::uint8_t, 16> text_order = {
      row[3], row[2], row[1],  row[0],  row[5],  row[4],  row[7],  row[6],
      row[8], row[9], row[10], row[11], row[12], row[13], row[14], row[15]};
  AppendBinary(text_order, descending, key);
}

// Decimal: the row holds a sign byte and the 128-bit magnitude as four little-endian
// 32-bit words, most significant first. Jet 4 keys put FF before a non-negative magnitude
// and 00 before the complement of a negative one. A descending key complements only the
// magnitude, so negatives still sort before positives there: that is what Jet 4 does and
// what its own lookups expect.
void AppendDecimal(std::span<const std::uint8_t> row, bool descending,
                   std::vector<std::uint8_t>& key) {
  std::array<std::uint8_t, 16> magnitude{};
  bool zero = true;
  for (std::size_t word = 0; word < 4; ++word) {
    for (std::size_t b = 0; b < 4; ++b) {
      magnitude[word * 4 + b] = row[1 + word * 4 + (3 - b)];
      zero = zero && magnitude[word * 4 + b] == 0;
    }
  }
  const bool negative = (row[0] & 0x80) != 0 && !zero;
  key.push_back(negative ? 0x00 : 0xFF);
  const std::uint8_t mask = (negative != descending) ? 0xFF : 0x00;
  for (std::uint8_t b : magnitude) key.push_back(b ^ mask);
}

}  // namespace

bool IsIndexableType(std::uint8_t type) {
  switch (type) {
    case key_type::kBoolean:
    case key_type::kByte:
    case key_type::kInteger:
    case key_type::kLong:
    case key_type::kCurrency:
    case key_type::kSingle:
    case key_type::kDouble:
    case key_type::kDateTime:
    case key_type::kBinary:
    case key_type::kText:
    case key_type::kMemo:
    case key_type::kGuid:
    case key_type::kNumeric:
      return true;
  }
  return false;
}

bool CanEncodeColumn(const KeyColumn& column) {
  if (!IsIndexableType(column.type)) return false;
  if (column.type == key_type::kText || column.type == key_type::kMemo) {
    return CanWriteTextKeys(column.sort_order);
  }
  return true;
}

void AppendKeySegment(const KeyColumn& column, const KeyValue& value,
                      std::vector<std::uint8_t>& key) {
  const bool desc = column.descending;
  if (!IsIndexableType(column.type)) {
    throw KeyEncodingError("a " + TypeName(column.type) + " column cannot be part of an index");
  }
  if (column.type == key_type::kBoolean) {
    // A Yes/No column is never Null; Null counts as No.
    bool v = false;
    if (value.kind() == KeyValue::Kind::Boolean) {
      v = value.boolean();
    } else if (value.kind() == KeyValue::Kind::Stored) {
      if (value.bytes().size() != 1) throw KeyEncodingError("a Yes/No value has 1 byte");
      v = value.bytes()[0] != 0;
    } else if (!value.is_null()) {
      throw KeyEncodingError("a Yes/No key column needs a Boolean value");
    }
    key.push_back(desc ? kDescendingValue : kAscendingValue);
    key.push_back((v ? 0x00 : 0xFF) ^ (desc ? 0xFF : 0x00));
    return;
  }
  if ((column.type == key_type::kText || column.type == key_type::kMemo) &&
      !CanWriteTextKeys(column.sort_order)) {
    // Checked before Null too: a caller must not get a key for some rows and a refusal for
    // others of the same index.
    throw KeyEncodingError("text " + TextKeyRefusal(column.sort_order));
  }
  if (value.is_null()) {
    key.push_back(desc ? kDescendingNull : kAscendingNull);
    return;
  }
  if (column.type == key_type::kText || column.type == key_type::kMemo) {
    if (value.kind() != KeyValue::Kind::Text) {
      throw KeyEncodingError("a " + TypeName(column.type) + " key column needs a text value");
    }
    if (char16_t c = UnkeyableUnit(column.sort_order, value.text())) {
      throw KeyEncodingError("the key of the character U+" + Hex4(c) + " in the " +
                             SortOrderName(column.sort_order) + " sort order is not known");
    }
    key.push_back(desc ? kDescendingValue : kAscendingValue);
    AppendTextKey(column.sort_order, value.text(), desc, key);
    return;
  }
  const std::span<const std::uint8_t> bytes = StoredBytes(column, value);
  key.push_back(desc ? kDescendingValue : kAscendingValue);
  switch (column.type) {
    case key_type::kByte:
      key.push_back(bytes[0] ^ (desc ? 0xFF : 0x00));
      return;
    case key_type::kInteger:
    case key_type::kLong:
    case key_type::kCurrency:
      AppendSigned(bytes, desc, key);
      return;
    case key_type::kSingle:
    case key_type::kDouble:
    case key_type::kDateTime:
      AppendFloat(bytes, desc, key);
      return;
    case key_type::kBinary:
      AppendBinary(bytes, desc, key);
      return;
    case key_type::kGuid:
      AppendGuid(bytes, desc, key);
      return;
    case key_type::kNumeric:
      AppendDecimal(bytes, desc, key);
      return;
  }
}

std::vector<std::uint8_t> EncodeKey(std::span<const KeyColumn> columns,
                                    std::span<const KeyValue> values) {
  if (values.size() > columns.size()) {
    throw KeyEncodingError(std::to_string(values.size()) + " key values for an index of " +
                           std::to_string(columns.size()) + " columns");
  }
  std::vector<std::uint8_t> key;
  for (std::size_t i = 0; i < values.size(); ++i) AppendKeySegment(columns[i], values[i], key);
  return key;
}

}  // namespace jet

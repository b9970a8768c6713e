#include "jet/row_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/encoding.h"
#include "text_util.h"

namespace jet {
namespace {

[[noreturn]] void BadValue(const ColumnDefinition& column, const std::string& why) {
  ThrowJet(ErrorCode::kValueInvalid,
           "column '" + column.name + "' (" + ColumnTypeName(column.type) + "): " + why);
}

using u128 = unsigned __int128;

u128 Pow10(int n) {
  u128 v = 1;
  for (int i = 0; i < n; ++i) v *= 10;
  return v;
}

int DigitCount(u128 v) {
  int n = 0;
  while (v != 0) {
    v /= 10;
    ++n;
  }
  return n;
}

}  // namespace

RowFormat::RowFormat(const TableDefinition& def)
    : version_(def.version),
      max_columns_(def.max_columns),
      var_columns_(def.var_columns),
      fixed_size_(def.FixedAreaSize()) {
  by_var_index_.assign(def.var_columns, -1);
  for (const auto& c : def.columns) {
    Column col{c.type, c.IsFixed(), c.IsBoolean(), c.number, c.var_index, c.fixed_offset, c.length};
    if (!col.fixed && !col.boolean && c.var_index < def.var_columns)
      by_var_index_[c.var_index] = static_cast<int>(columns_.size());
    columns_.push_back(col);
  }
  variables_.assign(var_columns_, Placement{kNoColumn});
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    Placement p{static_cast<std::uint16_t>(i), c.fixed_offset, c.length,
                static_cast<std::uint16_t>(c.number / 8),
                static_cast<std::uint8_t>(1u << (c.number % 8))};
    if (c.number >= max_columns_) continue;  // outside the mask: never written
    if (c.boolean) {
      booleans_.push_back(p);
    } else if (c.fixed) {
      if (std::uint32_t{c.fixed_offset} + c.length <= fixed_size_) fixed_.push_back(p);
    } else if (c.var_index < var_columns_) {
      variables_[c.var_index] = p;
    }
  }
}

void RowFormat::Decode(std::span<const std::uint8_t> row, ColumnSlice* out,
                       const Location& at) const {
  const std::size_t len = row.size();
  const std::uint8_t* r = row.data();
  const bool jet3 = version_ == JetVersion::kJet3;
  const RowLayout layout = RowLayout::For(version_);
  const std::size_t count_size = layout.FixedArea();
  if (len < count_size + 1)
    ThrowCorrupt(at, "the row is only " + std::to_string(len) + " bytes long");
  const std::uint32_t ncols = jet3 ? r[RowLayout::kColumnCount] : Le16(r + RowLayout::kColumnCount);
  const std::size_t mask_len = RowLayout::MaskSize(ncols);
  if (count_size + mask_len > len)
    ThrowCorrupt(at, "the row claims " + std::to_string(ncols) + " columns, too many for its " +
                         std::to_string(len) + " bytes");
  const std::uint8_t* mask = r + len - mask_len;
  const std::size_t data_end = len - mask_len;  // bytes before the null mask

  // Variable-column offsets: off[k] for k < nvar, and off[nvar] = end of variable data.
  std::uint32_t nvar = 0;
  std::uint16_t offsets_stack[256];
  std::vector<std::uint16_t> offsets_heap;
  std::uint16_t* off = offsets_stack;
  std::size_t var_limit = data_end;  // variable data must end before the offset table
  if (var_columns_ > 0) {
    if (data_end < layout.VarTableSize(0))
      ThrowCorrupt(at, "the row is too short for its variable columns");
    if (!jet3) {
      nvar = Le16(r + data_end - layout.VarCountBack());
      const std::size_t table = layout.VarTableSize(nvar);
      if (table + count_size > data_end)
        ThrowCorrupt(at, "the row claims " + std::to_string(nvar) +
                             " variable columns, more than its bytes hold");
      if (nvar + 1 > 256) {
        offsets_heap.resize(nvar + 1);
        off = offsets_heap.data();
      }
      for (std::uint32_t k = 0; k <= nvar; ++k)
        off[k] = Le16(r + data_end - layout.VarOffsetBack(k));
      var_limit = data_end - table;
    } else {
      nvar = r[data_end - layout.VarCountBack()];
      const std::size_t table_jumps = (len - 1) / 256;
      if (data_end < layout.VarOffsetBack(nvar, table_jumps) + 1)
        ThrowCorrupt(at, "the row is too short for its variable-column offsets");
      const std::size_t first_offset = data_end - layout.VarOffsetBack(0, table_jumps);
      std::size_t jumps = table_jumps;
      if ((first_offset - nvar) / 256 < jumps) --jumps;  // the last jump entry is a dummy
      std::size_t used = 0;
      for (std::uint32_t i = 0; i <= nvar; ++i) {
        while (used < jumps && i == r[data_end - layout.JumpBack(used)]) ++used;
        off[i] = static_cast<std::uint16_t>(r[data_end - layout.VarOffsetBack(i, table_jumps)] +
                                            256 * used);
      }
      var_limit = data_end - layout.VarOffsetBack(nvar, table_jumps);
    }
    if (off[nvar] > var_limit)
      ThrowCorrupt(at, "the row's variable data ends at " + std::to_string(off[nvar]) +
                           ", past its offset table at " + std::to_string(var_limit));
  }

  for (std::size_t i = 0; i < columns_.size(); ++i) {
    const Column& c = columns_[i];
    ColumnSlice& s = out[i];
    s = ColumnSlice{};
    bool present = c.number < ncols && ((mask[c.number / 8] >> (c.number % 8)) & 1);
    if (c.boolean) {
      if (c.number < ncols) {
        s.null = false;
        s.boolean = present;
      }
      continue;
    }
    if (!present) continue;
    if (c.fixed) {
      std::size_t start = count_size + c.fixed_offset;
      if (start + c.length > data_end)
        ThrowCorrupt(at, "a fixed column at offset " + std::to_string(c.fixed_offset) +
                             " runs past the row's end");
      s.null = false;
      s.data = r + start;
      s.size = c.length;
    } else {
      if (c.var_index >= nvar) continue;  // added after this row was written
      std::uint16_t a = off[c.var_index], b = off[c.var_index + 1];
      if (a < count_size || a > b || b > var_limit)
        ThrowCorrupt(at, "a variable column's offsets " + std::to_string(a) + ".." +
                             std::to_string(b) + " lie outside the row's variable data");
      s.null = false;
      s.data = r + a;
      s.size = static_cast<std::uint32_t>(b - a);
    }
  }
}

std::size_t RowFormat::EncodedSize(const ColumnSlice* values) const {
  constexpr RowLayout kLayout = RowLayout::For(JetVersion::kJet4);
  std::size_t size = kLayout.FixedArea() + fixed_size_ + RowLayout::MaskSize(max_columns_);
  if (var_columns_ > 0) {
    size += kLayout.VarTableSize(var_columns_);
    for (int pos : by_var_index_)
      if (pos >= 0 && !values[pos].null) size += values[pos].size;
  }
  return size;
}

namespace {

// Fixed values are 1 to 17 bytes: copies of a known size compile to plain moves.
inline void CopyFixed(std::uint8_t* to, const std::uint8_t* from, std::size_t n) {
  switch (n) {
    case 1:
      *to = *from;
      break;
    case 2:
      std::memcpy(to, from, 2);
      break;
    case 4:
      std::memcpy(to, from, 4);
      break;
    case 8:
      std::memcpy(to, from, 8);
      break;
    case 16:
      std::memcpy(to, from, 16);
      break;
    default:
      std::memcpy(to, from, n);
  }
}

}  // namespace

void RowFormat::Encode(const ColumnSlice* values, std::uint8_t* out, std::size_t total) const {
  constexpr RowLayout kLayout = RowLayout::For(JetVersion::kJet4);
  const std::size_t mask_len = RowLayout::MaskSize(max_columns_);
  PutLe16(out + RowLayout::kColumnCount, max_columns_);
  std::uint8_t* fixed = out + kLayout.FixedArea();
  std::memset(fixed, 0, fixed_size_);
  std::uint8_t* mask = out + total - mask_len;
  std::memset(mask, 0, mask_len);
  for (const Placement& f : fixed_) {
    const ColumnSlice& v = values[f.pos];
    if (v.null) continue;
    mask[f.mask_byte] |= f.mask_bit;
    CopyFixed(fixed + f.offset, v.data, std::min<std::uint32_t>(v.size, f.length));
  }
  for (const Placement& b : booleans_) {
    const ColumnSlice& v = values[b.pos];
    if (!v.null && v.boolean) mask[b.mask_byte] |= b.mask_bit;
  }
  if (var_columns_ == 0) return;
  std::size_t pos = kLayout.FixedArea() + fixed_size_;
  PutLe16(mask - kLayout.VarCountBack(), var_columns_);
  std::uint8_t* offsets = mask - kLayout.VarOffsetBack(0);
  for (const Placement& p : variables_) {
    PutLe16(offsets, static_cast<std::uint16_t>(pos));
    offsets -= kLayout.var_offset_size;
    if (p.pos == kNoColumn) continue;
    const ColumnSlice& v = values[p.pos];
    if (v.null) continue;
    mask[p.mask_byte] |= p.mask_bit;
    if (v.size > 0) {
      std::memcpy(out + pos, v.data, v.size);
      pos += v.size;
    }
  }
  PutLe16(offsets, static_cast<std::uint16_t>(pos));
}

// ---- values ----

std::string GuidToText(const std::uint8_t* b) {
  static const char* hex = "0123456789ABCDEF";
  // Windows GUID order: u32, u16, u16 little-endian, then 8 bytes as stored.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  std::string s = "{";
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += hex[b[order[i]] >> 4];
    s += hex[b[order[i]] & 15];
  }
  s += '}';
  return s;
}

bool TryParseGuid(std::string_view text, std::uint8_t out[16]) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return false;
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  int byte = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return false;
      ++i;
      continue;
    }
    auto nibble = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[order[byte++]] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return byte == 16;
}

namespace {

// Where encoded values go: a vector (callers outside the row layer) or an EncodeBuffer.
struct VectorSink {
  std::vector<std::uint8_t>& bytes;
  std::size_t size() const { return bytes.size(); }
  std::uint8_t* Append(std::size_t n) {
    bytes.resize(bytes.size() + n);
    return bytes.data() + bytes.size() - n;
  }
  void Truncate(std::size_t n) { bytes.resize(n); }
};

struct BufferSink {
  EncodeBuffer& bytes;
  std::size_t size() const { return bytes.size(); }
  std::uint8_t* Append(std::size_t n) { return bytes.Append(n); }
  void Truncate(std::size_t n) { bytes.Truncate(n); }
};

template <typename Sink>
EncodedValue EncodeValue(const ColumnDefinition& column, const core::Variant& value, Sink scratch) {
  EncodedValue r;
  r.offset = scratch.size();
  if (value.IsNullOrEmpty()) return r;
  r.null = false;
  auto put = [&](std::size_t n) {
    r.size = static_cast<std::uint32_t>(n);
    return scratch.Append(n);
  };
  try {
    switch (column.type) {
      case column_type::kBoolean:
        r.boolean = value.ToBoolean();
        break;
      case column_type::kByte:
        *put(1) = value.ToByte();
        break;
      case column_type::kInteger:
        PutLe16(put(2), static_cast<std::uint16_t>(value.ToInteger()));
        break;
      case column_type::kLong:
        PutLe32(put(4), static_cast<std::uint32_t>(value.ToLong()));
        break;
      case column_type::kCurrency:
        PutLe64(put(8), static_cast<std::uint64_t>(value.ToCurrency().scaled));
        break;
      case column_type::kSingle:
        PutLeFloat(put(4), value.ToSingle());
        break;
      case column_type::kDouble:
        PutLeDouble(put(8), value.ToDouble());
        break;
      case column_type::kDateTime: {
        double d = value.ToDate();
        if (!std::isfinite(d) || d < -657434.0 || d >= 2958466.0)
          BadValue(column, "the date lies outside the years 100 to 9999");
        PutLeDouble(put(8), d);
        break;
      }
      case column_type::kGuid: {
        std::uint8_t g[16];
        if (value.Type() == core::VarType::ByteArray && value.Bytes().size() == 16) {
          std::memcpy(g, value.Bytes().data(), 16);
        } else if (!TryParseGuid(value.ToString(), g)) {
          BadValue(column, "'" + value.ToString() + "' is not a GUID");
        }
        std::memcpy(put(16), g, 16);
        break;
      }
      case column_type::kNumeric: {
        core::Decimal d = value.ToDecimal();
        int scale = column.Scale();
        int precision = column.Precision() == 0 ? 18 : column.Precision();
        u128 mag = (u128{d.hi} << 64) | d.lo;
        if (d.scale < scale) {
          mag *= Pow10(scale - d.scale);
        } else if (d.scale > scale) {
          // Round half away from zero, as Jet does when a value has more decimals than the column.
          u128 div = Pow10(d.scale - scale);
          u128 q = mag / div, rem = mag % div;
          if (rem * 2 >= div) ++q;
          mag = q;
        }
        if (DigitCount(mag) > precision)
          BadValue(column, "the value " + value.ToString() + " has more than " +
                               std::to_string(precision) + " digits at scale " +
                               std::to_string(scale));
        std::uint8_t* p = put(17);
        std::memset(p, 0, 17);
        p[0] = (d.negative && mag != 0) ? 0x80 : 0x00;
        // Four 32-bit groups, most significant first, each little-endian.
        for (int g = 0; g < 4; ++g)
          PutLe32(p + 1 + 4 * g, static_cast<std::uint32_t>(mag >> (32 * (3 - g))));
        break;
      }
      case column_type::kText:
      case column_type::kMemo: {
        const std::string utf8 = value.ToString();
        // Compressed memo text is limited to 1024 characters (what Access reads back); the
        // character count is known only after conversion, so a long memo is redone plainly.
        const bool compress = column.CompressedUnicode();
        std::size_t written = 0;
        std::uint8_t* out = scratch.Append(Jet4TextBound(utf8.size()));
        std::size_t chars = WriteJet4TextUtf8(utf8, compress, out, &written);
        if (column.type == column_type::kMemo && compress && chars > 1024)
          WriteJet4TextUtf8(utf8, false, out, &written);
        scratch.Truncate(r.offset + written);
        if (column.type == column_type::kText && chars * 2 > column.length)
          BadValue(column, "the text has " + std::to_string(chars) +
                               " characters; the column holds " +
                               std::to_string(column.length / 2));
        r.size = static_cast<std::uint32_t>(written);
        break;
      }
      case column_type::kBinary:
      case column_type::kOle: {
        const std::uint8_t* src;
        std::size_t n;
        std::u16string text;
        if (value.Type() == core::VarType::ByteArray) {
          src = value.Bytes().data();
          n = value.Bytes().size();
        } else if (value.Type() == core::VarType::String) {
          // As OLE turns a string into a byte array: its UTF-16 units.
          text = core::Utf8ToUtf16(value.ToString());
          src = reinterpret_cast<const std::uint8_t*>(text.data());
          n = text.size() * 2;
        } else {
          BadValue(column, "a binary column takes bytes, not a " + value.ToString());
        }
        if (column.type == column_type::kBinary && n > column.length)
          BadValue(column, std::to_string(n) + " bytes do not fit a column of " +
                               std::to_string(column.length));
        std::uint8_t* p = put(n);
        if (n) std::memcpy(p, src, n);
        break;
      }
      default:
        ThrowJet(ErrorCode::kUnsupportedType, "column '" + column.name + "' has type " +
                                                  ColumnTypeName(column.type) +
                                                  ", which cannot be written");
    }
  } catch (const core::EVariantError& e) {
    scratch.Truncate(r.offset);
    BadValue(column, e.what());
  } catch (const core::EConvertError& e) {
    scratch.Truncate(r.offset);
    BadValue(column, e.what());
  }
  return r;
}

}  // namespace

EncodedValue EncodeColumnValue(const ColumnDefinition& column, const core::Variant& value,
                               std::vector<std::uint8_t>& scratch) {
  return EncodeValue(column, value, VectorSink{scratch});
}

EncodedValue EncodeColumnValue(const ColumnDefinition& column, const core::Variant& value,
                               EncodeBuffer& scratch) {
  return EncodeValue(column, value, BufferSink{scratch});
}

void EncodeBuffer::Grow(std::size_t n) {
  std::size_t capacity = std::max<std::size_t>({capacity_ * 2, size_ + n, 4096});
  auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
  if (size_) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

core::Variant DecodeColumnValue(const ColumnDefinition& column, const ColumnSlice& slice,
                                const ValueContext& context, const Location& at) {
  if (slice.null) return core::Variant::Null();
  if (column.type == column_type::kBoolean) return core::Variant::FromBoolean(slice.boolean);
  const std::size_t need = FixedColumnLength(column.type);
  if (need != 0 && slice.size < need)
    ThrowCorrupt(at, ColumnTypeName(column.type) + " value of " + std::to_string(slice.size) +
                         " bytes; " + std::to_string(need) + " expected");
  const std::uint8_t* p = slice.data;
  switch (column.type) {
    case column_type::kByte:
      return core::Variant::FromByte(p[0]);
    case column_type::kInteger:
      return core::Variant::FromInteger(static_cast<std::int16_t>(Le16(p)));
    case column_type::kLong:
      return core::Variant::FromLong(static_cast<std::int32_t>(Le32(p)));
    case column_type::kCurrency:
      return core::Variant::FromCurrency(core::Currency{static_cast<std::int64_t>(Le64(p))});
    case column_type::kSingle:
      return core::Variant::FromSingle(LeFloat(p));
    case column_type::kDouble:
      return core::Variant::FromDouble(LeDouble(p));
    case column_type::kDateTime:
      return core::Variant::FromDate(LeDouble(p));
    case column_type::kGuid:
      return core::Variant::FromString(GuidToText(p));
    case column_type::kNumeric: {
      if (Le32(p + 1) != 0) ThrowCorrupt(at, "a Decimal value wider than 96 bits");
      core::Decimal d;
      d.negative = (p[0] & 0x80) != 0;
      d.hi = Le32(p + 5);
      d.lo = (std::uint64_t{Le32(p + 9)} << 32) | Le32(p + 13);
      std::uint8_t scale = context.version == JetVersion::kJet3 ? column.Scale() : column.Scale();
      if (scale > 28) ThrowCorrupt(at, "a Decimal column with scale " + std::to_string(scale));
      d.scale = scale;
      if (d.hi == 0 && d.lo == 0) d.negative = false;
      return core::Variant::FromDecimal(d);
    }
    case column_type::kText:
    case column_type::kMemo:
      if (context.version == JetVersion::kJet3)
        return core::Variant::FromString(core::DecodeToUtf8(
            context.code_page, std::string_view(reinterpret_cast<const char*>(p), slice.size)));
      return core::Variant::FromString(DecodeJet4TextUtf8(p, slice.size));
    case column_type::kBinary:
    case column_type::kOle:
      return core::Variant::FromBytes(std::vector<std::uint8_t>(p, p + slice.size));
  }
  // Types this engine does not write (the 0x11 column of Access's own tables and the
  // like) are handed out as their stored bytes, so tables holding them stay readable.
  return core::Variant::FromBytes(std::vector<std::uint8_t>(p, p + slice.size));
}

}  // namespace jet

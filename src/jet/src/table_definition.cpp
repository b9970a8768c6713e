#include "jet/table_definition.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "core/encoding.h"
#include "core/internal_error.h"
#include "jet/errors.h"
#include "jet/pager.h"
#include "text_util.h"

namespace jet {
namespace {

// Jet 3 definition block offsets and sizes (read only).
struct Jet3TdefLayout {
  // u32 definition length at 0x08, as in Jet 4.
  static constexpr std::uint16_t kRowCount = 0x0C;
  static constexpr std::uint16_t kAutoNumber = 0x10;
  static constexpr std::uint16_t kTableType = 0x14;
  static constexpr std::uint16_t kMaxColumns = 0x15;
  static constexpr std::uint16_t kVarColumns = 0x17;
  static constexpr std::uint16_t kColumnCount = 0x19;
  static constexpr std::uint16_t kLogicalCount = 0x1B;
  static constexpr std::uint16_t kRealCount = 0x1F;
  static constexpr std::uint16_t kOwnedMap = 0x23;
  static constexpr std::uint16_t kFreeMap = 0x27;
  static constexpr std::uint16_t kSections = 0x2B;
  static constexpr std::uint16_t kStatsSize = 8;
  static constexpr std::uint16_t kColumnSize = 18;
  static constexpr std::uint16_t kRealIndexSize = 39;
  static constexpr std::uint16_t kLogicalIndexSize = 20;
};

// Column descriptor fields (Jet 4 / Jet 3).
struct ColumnLayout {
  std::uint16_t type, number, var_index, unknown9, misc, flags, ext_flags, fixed_offset, length;
};
constexpr ColumnLayout kJet4Column{0, 5, 7, 9, 11, 15, 16, 21, 23};
constexpr ColumnLayout kJet3Column{0, 1, 3, 5, 9, 13, 0xFF, 14, 16};

constexpr int kIndexColumnSlots = 10;
constexpr std::uint16_t kUnusedIndexColumn = 0xFFFF;
constexpr std::uint16_t kLvListEnd = 0xFFFF;
constexpr std::size_t kMaxTdefPages = 256;

class Cursor {
 public:
  Cursor(std::span<const std::uint8_t> bytes, const Location& at) : bytes_(bytes), at_(at) {}
  const std::uint8_t* Take(std::size_t n, const char* what) {
    if (pos_ + n > bytes_.size())
      ThrowCorrupt(at_, std::string("the table definition ends inside ") + what + " (needs " +
                            std::to_string(n) + " bytes at offset " + std::to_string(pos_) +
                            " of " + std::to_string(bytes_.size()) + ")");
    const std::uint8_t* p = bytes_.data() + pos_;
    pos_ += n;
    return p;
  }
  std::size_t Pos() const { return pos_; }
  void Seek(std::size_t pos) { pos_ = pos; }
  std::size_t Remaining() const { return bytes_.size() - pos_; }

 private:
  std::span<const std::uint8_t> bytes_;
  Location at_;
  std::size_t pos_ = 0;
};

std::string ReadName(Cursor& c, JetVersion version, const char* what) {
  if (version == JetVersion::kJet3) {
    std::uint8_t n = *c.Take(1, what);
    const std::uint8_t* p = c.Take(n, what);
    return core::DecodeToUtf8(1252, std::string_view(reinterpret_cast<const char*>(p), n));
  }
  std::uint16_t n = Le16(c.Take(2, what));
  const std::uint8_t* p = c.Take(n, what);
  return Ucs2ToUtf8(p, n);
}

void AppendName(std::vector<std::uint8_t>& out, const std::string& name) {
  std::u16string units = core::Utf8ToUtf16(name);
  std::size_t n = units.size() * 2;
  out.push_back(static_cast<std::uint8_t>(n));
  out.push_back(static_cast<std::uint8_t>(n >> 8));
  for (char16_t u : units) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
}

// Jet 4 real-index descriptor (52 bytes).
struct RealIndexLayout {
  static constexpr std::uint16_t kMagic = 0;      // u32 1923
  static constexpr std::uint16_t kColumns = 4;    // 10 x (u16 column number, u8 1 = ascending)
  static constexpr std::uint16_t kUsageMap = 34;  // row pointer
  static constexpr std::uint16_t kRoot = 38;      // u32 first page, never moves
  static constexpr std::uint16_t kUnknown = 42;   // u32, Access leaves junk here
  static constexpr std::uint16_t kFlags = 46;     // u8 index_flag bits; 5 zero bytes follow
};

// Jet 4 logical-index descriptor (28 bytes).
struct LogicalIndexLayout {
  static constexpr std::uint16_t kMagic = 0;           // u32 1625
  static constexpr std::uint16_t kNumber = 4;          // u32 logical number
  static constexpr std::uint16_t kRealIndex = 8;       // u32 position of its real index
  static constexpr std::uint16_t kFkRole = 12;         // u8
  static constexpr std::uint16_t kFkOtherIndex = 13;   // u32
  static constexpr std::uint16_t kFkOtherTable = 17;   // u32
  static constexpr std::uint16_t kCascadeUpdate = 21;  // u8
  static constexpr std::uint16_t kCascadeDelete = 22;  // u8
  static constexpr std::uint16_t kKind = 23;           // u8 index_kind; 4 zero bytes follow
};

void PutRealIndex(std::uint8_t* d, const RealIndexDefinition& ri) {
  PutLe32(d + RealIndexLayout::kMagic, TdefLayout::kMagic1923);
  for (int i = 0; i < kIndexColumnSlots; ++i) {
    std::uint8_t* slot = d + RealIndexLayout::kColumns + 3 * i;
    if (i < static_cast<int>(ri.columns.size())) {
      PutLe16(slot, ri.columns[i].column_number);
      slot[2] = ri.columns[i].ascending ? 0x01 : 0x00;
    } else {
      PutLe16(slot, kUnusedIndexColumn);
      slot[2] = 0;
    }
  }
  ri.usage_map.Write(d + RealIndexLayout::kUsageMap);
  PutLe32(d + RealIndexLayout::kRoot, ri.root_page);
  PutLe32(d + RealIndexLayout::kUnknown, ri.unknown42);
  d[RealIndexLayout::kFlags] = ri.flags;
}

void PutLogicalIndex(std::uint8_t* d, const LogicalIndexDefinition& li) {
  PutLe32(d + LogicalIndexLayout::kMagic, TdefLayout::kMagic1625);
  PutLe32(d + LogicalIndexLayout::kNumber, li.number);
  PutLe32(d + LogicalIndexLayout::kRealIndex, li.real_index);
  d[LogicalIndexLayout::kFkRole] = li.fk_role;
  PutLe32(d + LogicalIndexLayout::kFkOtherIndex, li.fk_other_index);
  PutLe32(d + LogicalIndexLayout::kFkOtherTable, li.fk_other_table);
  d[LogicalIndexLayout::kCascadeUpdate] = li.fk_cascade_update;
  d[LogicalIndexLayout::kCascadeDelete] = li.fk_cascade_delete;
  d[LogicalIndexLayout::kKind] = li.kind;
}

}  // namespace

std::string ColumnTypeName(std::uint8_t type) {
  switch (type) {
    case column_type::kBoolean:
      return "Boolean";
    case column_type::kByte:
      return "Byte";
    case column_type::kInteger:
      return "Integer";
    case column_type::kLong:
      return "Long";
    case column_type::kCurrency:
      return "Currency";
    case column_type::kSingle:
      return "Single";
    case column_type::kDouble:
      return "Double";
    case column_type::kDateTime:
      return "DateTime";
    case column_type::kBinary:
      return "Binary";
    case column_type::kText:
      return "Text";
    case column_type::kOle:
      return "LongBinary";
    case column_type::kMemo:
      return "Memo";
    case column_type::kGuid:
      return "GUID";
    case column_type::kNumeric:
      return "Decimal";
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "type 0x%02X", type);
  return buf;
}

bool IsSupportedColumnType(std::uint8_t type) {
  return (type >= column_type::kBoolean && type <= column_type::kMemo) ||
         type == column_type::kGuid || type == column_type::kNumeric;
}

const ColumnDefinition* TableDefinition::FindColumn(std::string_view name) const {
  for (const auto& c : columns)
    if (NamesEqual(c.name, name)) return &c;
  return nullptr;
}

const ColumnDefinition* TableDefinition::ColumnByNumber(std::uint16_t number) const {
  for (const auto& c : columns)
    if (c.number == number) return &c;
  return nullptr;
}

std::uint16_t TableDefinition::FixedAreaSize() const {
  std::uint32_t size = 0;
  for (const auto& c : columns)
    if (c.IsFixed() && !c.IsBoolean())
      size = std::max<std::uint32_t>(size, std::uint32_t{c.fixed_offset} + c.length);
  return static_cast<std::uint16_t>(size);
}

TableDefinition ParseTableDefinition(std::span<const std::uint8_t> bytes, JetVersion version,
                                     const std::string& file, std::string_view table,
                                     std::uint32_t first_page) {
  Location at{.file = file, .table = table, .page = first_page};
  const bool jet3 = version == JetVersion::kJet3;
  TableDefinition def;
  def.version = version;
  Cursor c(bytes, at);
  const std::size_t header = jet3 ? Jet3TdefLayout::kSections : TdefLayout::kSections;
  const std::uint8_t* h = c.Take(header, "its header");
  if (h[TdefLayout::kPageType] != page_type::kTableDefinition)
    ThrowCorrupt(at,
                 "expected a table definition page (type 2), found type " + std::to_string(h[0]));
  std::uint32_t n_logical, n_real;
  std::uint16_t n_columns;
  if (jet3) {
    def.row_count = Le32(h + Jet3TdefLayout::kRowCount);
    def.autonumber = Le32(h + Jet3TdefLayout::kAutoNumber);
    def.table_type = h[Jet3TdefLayout::kTableType];
    def.max_columns = Le16(h + Jet3TdefLayout::kMaxColumns);
    def.var_columns = Le16(h + Jet3TdefLayout::kVarColumns);
    n_columns = Le16(h + Jet3TdefLayout::kColumnCount);
    n_logical = Le32(h + Jet3TdefLayout::kLogicalCount);
    n_real = Le32(h + Jet3TdefLayout::kRealCount);
    def.owned_map = RowPointer::Read(h + Jet3TdefLayout::kOwnedMap);
    def.free_map = RowPointer::Read(h + Jet3TdefLayout::kFreeMap);
  } else {
    def.row_count = Le32(h + TdefLayout::kRowCount);
    def.autonumber = Le32(h + TdefLayout::kAutoNumber);
    std::memcpy(def.unknown18, h + TdefLayout::kUnknown18, 16);
    def.table_type = h[TdefLayout::kTableType];
    def.max_columns = Le16(h + TdefLayout::kMaxColumns);
    def.var_columns = Le16(h + TdefLayout::kVarColumns);
    n_columns = Le16(h + TdefLayout::kColumnCount);
    n_logical = Le32(h + TdefLayout::kLogicalCount);
    n_real = Le32(h + TdefLayout::kRealCount);
    def.owned_map = RowPointer::Read(h + TdefLayout::kOwnedMap);
    def.free_map = RowPointer::Read(h + TdefLayout::kFreeMap);
  }
  // Jet caps these far below what the fields can hold; larger counts are damage, and
  // checking them first keeps a bad count from asking for gigabytes.
  if (n_columns > 4096 || n_real > 1000 || n_logical > 1000)
    ThrowCorrupt(at, "implausible counts: " + std::to_string(n_columns) + " columns, " +
                         std::to_string(n_real) + " real and " + std::to_string(n_logical) +
                         " logical indexes");

  const std::size_t stats_size = jet3 ? Jet3TdefLayout::kStatsSize : TdefLayout::kStatsSize;
  def.sections.stats = c.Pos();
  def.real_indexes.resize(n_real);
  for (auto& ri : def.real_indexes) {
    const std::uint8_t* s = c.Take(stats_size, "the index statistics");
    ri.entry_count = Le32(s);
    ri.distinct_keys = Le32(s + 4);
  }

  const ColumnLayout& cl = jet3 ? kJet3Column : kJet4Column;
  const std::size_t column_size = jet3 ? Jet3TdefLayout::kColumnSize : TdefLayout::kColumnSize;
  def.columns.resize(n_columns);
  def.sections.columns = c.Pos();
  for (auto& col : def.columns) {
    const std::uint8_t* d = c.Take(column_size, "a column descriptor");
    col.type = d[cl.type];
    col.number = Le16(d + cl.number);
    col.var_index = Le16(d + cl.var_index);
    col.unknown9 = Le16(d + cl.unknown9);
    if (jet3) {
      // Jet 3 keeps u16 sort order at 9 and precision/scale (or a code page) at 11.
      col.misc[0] = d[9];
      col.misc[1] = d[10];
      if (col.type == column_type::kNumeric) {
        col.misc[0] = d[11];
        col.misc[1] = d[12];
      }
    } else {
      std::memcpy(col.misc, d + cl.misc, 4);
      col.ext_flags = d[cl.ext_flags];
    }
    col.flags = d[cl.flags];
    col.fixed_offset = Le16(d + cl.fixed_offset);
    col.length = Le16(d + cl.length);
  }
  def.sections.column_names = c.Pos();
  for (auto& col : def.columns) col.name = ReadName(c, version, "the column names");
  def.sections.real_indexes = c.Pos();

  const std::size_t real_size = jet3 ? Jet3TdefLayout::kRealIndexSize : TdefLayout::kRealIndexSize;
  for (auto& ri : def.real_indexes) {
    const std::uint8_t* d = c.Take(real_size, "a real index descriptor");
    const std::uint8_t* slots = jet3 ? d : d + 4;
    for (int i = 0; i < kIndexColumnSlots; ++i) {
      std::uint16_t number = Le16(slots + 3 * i);
      if (number == kUnusedIndexColumn) continue;
      ri.columns.push_back(IndexColumn{number, slots[3 * i + 2] != 0});
    }
    const std::uint8_t* tail = slots + 3 * kIndexColumnSlots;
    ri.usage_map = RowPointer::Read(tail);
    ri.root_page = Le32(tail + 4);
    if (jet3) {
      ri.flags = tail[8];
    } else {
      ri.unknown42 = Le32(tail + 8);
      ri.flags = tail[12];
    }
  }

  const std::size_t logical_size =
      jet3 ? Jet3TdefLayout::kLogicalIndexSize : TdefLayout::kLogicalIndexSize;
  def.indexes.resize(n_logical);
  def.sections.logical_indexes = c.Pos();
  for (auto& li : def.indexes) {
    const std::uint8_t* d = c.Take(logical_size, "a logical index descriptor");
    const std::uint8_t* p = jet3 ? d : d + 4;
    li.number = Le32(p);
    li.real_index = Le32(p + 4);
    li.fk_role = p[8];
    li.fk_other_index = Le32(p + 9);
    li.fk_other_table = Le32(p + 13);
    li.fk_cascade_update = p[17];
    li.fk_cascade_delete = p[18];
    li.kind = p[19];
  }
  def.sections.logical_names = c.Pos();
  for (auto& li : def.indexes) li.name = ReadName(c, version, "the index names");
  def.sections.lv_list = c.Pos();
  def.sections.end = bytes.size();

  // Long-value column maps, then FF FF. Old files may end without the list.
  def.has_lv_list = false;
  if (!jet3) {
    while (c.Remaining() >= 2) {
      std::uint16_t number = Le16(c.Take(2, "the long-value map list"));
      if (number == kLvListEnd) {
        def.has_lv_list = true;
        break;
      }
      const std::uint8_t* e = c.Take(8, "a long-value map entry");
      for (auto& col : def.columns) {
        if (col.number == number) {
          col.has_lv_maps = true;
          col.lv_owned_map = RowPointer::Read(e);
          col.lv_free_map = RowPointer::Read(e + 4);
        }
      }
    }
  }

  // Cross-checks that keep the row decoder and the index module on safe ground.
  std::set<std::uint16_t> numbers;
  for (const auto& col : def.columns) {
    if (!numbers.insert(col.number).second)
      ThrowCorrupt(at, "two columns share number " + std::to_string(col.number));
    if (col.number >= def.max_columns)
      ThrowCorrupt(at, "column '" + col.name + "' has number " + std::to_string(col.number) +
                           " but rows have only " + std::to_string(def.max_columns) + " columns");
    if (!col.IsFixed() && col.var_index >= def.var_columns)
      ThrowCorrupt(at, "variable column '" + col.name + "' uses slot " +
                           std::to_string(col.var_index) + " of " +
                           std::to_string(def.var_columns));
  }
  for (const auto& li : def.indexes)
    if (li.real_index >= def.real_indexes.size())
      ThrowCorrupt(at, "index '" + li.name + "' refers to real index " +
                           std::to_string(li.real_index) + " of " +
                           std::to_string(def.real_indexes.size()));
  return def;
}

TableDefinition ReadTableDefinition(Pager& pager, std::uint32_t first_page,
                                    std::string_view table) {
  const std::uint32_t ps = pager.PageSize();
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> pages;
  std::uint32_t page = first_page;
  std::set<std::uint32_t> seen;
  while (true) {
    Location at{.file = pager.FileName(), .table = table, .page = page};
    if (!seen.insert(page).second || pages.size() >= kMaxTdefPages)
      ThrowCorrupt(at, "the table definition's pages form a loop");
    PageRef p = pager.Read(page);
    if (p.Data()[0] != page_type::kTableDefinition)
      ThrowCorrupt(at, "expected a table definition page (type 2), found type " +
                           std::to_string(p.Data()[0]));
    pages.push_back(page);
    if (bytes.empty())
      bytes.insert(bytes.end(), p.Data(), p.Data() + ps);
    else
      bytes.insert(bytes.end(), p.Data() + TdefLayout::kPageHeaderSize, p.Data() + ps);
    std::uint32_t next = Le32(p.Data() + TdefLayout::kNextPage);
    if (next == 0) break;
    page = next;
  }
  std::uint32_t length = Le32(bytes.data() + TdefLayout::kLength);
  if (length < TdefLayout::kSections - 16 || length > bytes.size())
    ThrowCorrupt({.file = pager.FileName(), .table = table, .page = first_page},
                 "the table definition claims " + std::to_string(length) + " bytes but its " +
                     std::to_string(pages.size()) + " pages hold " + std::to_string(bytes.size()));
  bytes.resize(length);
  TableDefinition def =
      ParseTableDefinition(bytes, pager.Version(), pager.FileName(), table, first_page);
  def.pages = std::move(pages);
  return def;
}

std::vector<std::uint8_t> SerializeTableDefinition(const TableDefinition& def) {
  std::vector<std::uint8_t> out(TdefLayout::kSections, 0);
  std::uint8_t* h = out.data();
  h[TdefLayout::kPageType] = page_type::kTableDefinition;
  h[1] = 0x01;
  PutLe32(h + TdefLayout::kConstant, TdefLayout::kMagic1625);
  PutLe32(h + TdefLayout::kRowCount, def.row_count);
  PutLe32(h + TdefLayout::kAutoNumber, def.autonumber);
  std::memcpy(h + TdefLayout::kUnknown18, def.unknown18, 16);
  h[TdefLayout::kAutoNumberOn] = 0x01;
  h[TdefLayout::kTableType] = def.table_type;
  PutLe16(h + TdefLayout::kMaxColumns, def.max_columns);
  PutLe16(h + TdefLayout::kVarColumns, def.var_columns);
  PutLe16(h + TdefLayout::kColumnCount, static_cast<std::uint16_t>(def.columns.size()));
  PutLe32(h + TdefLayout::kLogicalCount, static_cast<std::uint32_t>(def.indexes.size()));
  PutLe32(h + TdefLayout::kRealCount, static_cast<std::uint32_t>(def.real_indexes.size()));
  def.owned_map.Write(h + TdefLayout::kOwnedMap);
  def.free_map.Write(h + TdefLayout::kFreeMap);

  auto put = [&](std::size_t n) {
    out.resize(out.size() + n, 0);
    return out.data() + out.size() - n;
  };
  for (const auto& ri : def.real_indexes) {
    std::uint8_t* s = put(TdefLayout::kStatsSize);
    PutLe32(s, ri.entry_count);
    PutLe32(s + 4, ri.distinct_keys);
  }
  for (const auto& col : def.columns) {
    std::uint8_t* d = put(TdefLayout::kColumnSize);
    d[kJet4Column.type] = col.type;
    PutLe32(d + 1, TdefLayout::kMagic1625);
    PutLe16(d + kJet4Column.number, col.number);
    PutLe16(d + kJet4Column.var_index, col.var_index);
    PutLe16(d + kJet4Column.unknown9, col.unknown9);
    std::memcpy(d + kJet4Column.misc, col.misc, 4);
    d[kJet4Column.flags] = col.flags;
    d[kJet4Column.ext_flags] = col.ext_flags;
    PutLe16(d + kJet4Column.fixed_offset, col.fixed_offset);
    PutLe16(d + kJet4Column.length, col.length);
  }
  for (const auto& col : def.columns) AppendName(out, col.name);
  for (const auto& ri : def.real_indexes) PutRealIndex(put(TdefLayout::kRealIndexSize), ri);
  for (const auto& li : def.indexes) PutLogicalIndex(put(TdefLayout::kLogicalIndexSize), li);
  for (const auto& li : def.indexes) AppendName(out, li.name);
  for (const auto& col : def.columns) {
    if (!col.IsLongValue() || !col.has_lv_maps) continue;
    std::uint8_t* d = put(TdefLayout::kLvEntrySize);
    PutLe16(d, col.number);
    col.lv_owned_map.Write(d + 2);
    col.lv_free_map.Write(d + 6);
  }
  std::uint8_t* end = put(2);
  PutLe16(end, kLvListEnd);
  PutLe32(out.data() + TdefLayout::kLength, static_cast<std::uint32_t>(out.size()));
  return out;
}

void WriteTableDefinition(Pager& pager, TableDefinition& def) {
  std::vector<std::uint8_t> bytes = SerializeTableDefinition(def);
  RewriteTableDefinition(pager, def, bytes);
}

std::vector<std::uint8_t> ReadTableDefinitionBytes(Pager& pager, const TableDefinition& def) {
  const std::uint32_t ps = pager.PageSize();
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < def.pages.size(); ++i) {
    PageRef p = pager.Read(def.pages[i]);
    const std::size_t skip = i == 0 ? 0 : TdefLayout::kPageHeaderSize;
    bytes.insert(bytes.end(), p.Data() + skip, p.Data() + ps);
  }
  const std::uint32_t length =
      bytes.size() >= TdefLayout::kLength + 4 ? Le32(bytes.data() + TdefLayout::kLength) : 0;
  if (length < TdefLayout::kSections || length > bytes.size())
    ThrowCorrupt({.file = pager.FileName(), .page = def.FirstPage()},
                 "the table definition claims " + std::to_string(length) + " bytes but its " +
                     std::to_string(def.pages.size()) + " pages hold " +
                     std::to_string(bytes.size()));
  bytes.resize(length);
  return bytes;
}

void RewriteTableDefinition(Pager& pager, TableDefinition& def,
                            std::span<const std::uint8_t> bytes) {
  const std::uint32_t ps = pager.PageSize();
  const std::uint32_t body = ps - TdefLayout::kPageHeaderSize;
  std::size_t pages_needed = 1;
  if (bytes.size() > ps) pages_needed += (bytes.size() - ps + body - 1) / body;
  if (pages_needed > kMaxTdefPages)
    ThrowJet(ErrorCode::kInvalidDefinition, pager.FileName() + ": a table definition of " +
                                                std::to_string(bytes.size()) +
                                                " bytes is longer than Jet can chain");
  while (def.pages.size() < pages_needed) def.pages.push_back(pager.Allocate(nullptr).Number());
  while (def.pages.size() > pages_needed) {
    pager.Release(def.pages.back(), nullptr);
    def.pages.pop_back();
  }
  std::size_t pos = 0;
  for (std::size_t i = 0; i < def.pages.size(); ++i) {
    PageRef p = pager.Write(def.pages[i]);
    std::uint8_t* d = p.MutableData();
    std::memset(d, 0, ps);
    std::size_t used;
    if (i == 0) {
      std::size_t n = std::min<std::size_t>(bytes.size(), ps);
      std::memcpy(d, bytes.data(), n);
      pos = n;
      used = n;
    } else {
      std::size_t n = std::min<std::size_t>(bytes.size() - pos, body);
      std::memcpy(d + TdefLayout::kPageHeaderSize, bytes.data() + pos, n);
      pos += n;
      used = n + TdefLayout::kPageHeaderSize;
    }
    d[TdefLayout::kPageType] = page_type::kTableDefinition;
    d[1] = 0x01;
    bool last = i + 1 == def.pages.size();
    // Jet fills the free-space field of the last page only; full pages show 0.
    std::int64_t free_space = last ? std::int64_t{ps} - static_cast<std::int64_t>(used) - 8 : 0;
    PutLe16(d + TdefLayout::kFreeSpace,
            static_cast<std::uint16_t>(std::max<std::int64_t>(free_space, 0)));
    PutLe32(d + TdefLayout::kNextPage, last ? 0 : def.pages[i + 1]);
  }
}

namespace {

// The byte ranges of the logical-index names, in stored order.
std::vector<std::pair<std::size_t, std::size_t>> NameRanges(std::span<const std::uint8_t> bytes,
                                                            std::size_t from, std::size_t count) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  std::size_t pos = from;
  for (std::size_t i = 0; i < count; ++i) {
    if (pos + 2 > bytes.size()) core::ThrowInternal("index names beyond the definition");
    std::size_t n = 2 + Le16(bytes.data() + pos);
    out.emplace_back(pos, n);
    pos += n;
  }
  return out;
}

}  // namespace

std::vector<std::uint8_t> ReplaceIndexSections(std::span<const std::uint8_t> old_bytes,
                                               const TableDefinition& old_def,
                                               const TableDefinition& new_def,
                                               std::span<const int> real_from,
                                               std::span<const int> logical_from) {
  if (old_def.version != JetVersion::kJet4 || old_def.sections.end != old_bytes.size() ||
      real_from.size() != new_def.real_indexes.size() ||
      logical_from.size() != new_def.indexes.size())
    core::ThrowInternal("ReplaceIndexSections: arguments do not match");
  const TdefSections& at = old_def.sections;
  const auto old_names = NameRanges(old_bytes, at.logical_names, old_def.indexes.size());
  std::vector<std::uint8_t> out(old_bytes.begin(), old_bytes.begin() + at.stats);
  auto put = [&](std::size_t n) {
    out.resize(out.size() + n, 0);
    return out.data() + out.size() - n;
  };
  auto copy = [&](std::size_t from, std::size_t n) {
    out.insert(out.end(), old_bytes.begin() + from, old_bytes.begin() + from + n);
    return out.data() + out.size() - n;
  };
  for (std::size_t k = 0; k < new_def.real_indexes.size(); ++k) {
    const RealIndexDefinition& ri = new_def.real_indexes[k];
    std::uint8_t* s = real_from[k] >= 0 ? copy(at.stats + real_from[k] * TdefLayout::kStatsSize,
                                               TdefLayout::kStatsSize)
                                        : put(TdefLayout::kStatsSize);
    PutLe32(s, ri.entry_count);
    PutLe32(s + 4, ri.distinct_keys);
  }
  copy(at.columns, at.real_indexes - at.columns);  // column descriptors and names
  for (std::size_t k = 0; k < new_def.real_indexes.size(); ++k) {
    if (real_from[k] >= 0)
      copy(at.real_indexes + real_from[k] * TdefLayout::kRealIndexSize, TdefLayout::kRealIndexSize);
    else
      PutRealIndex(put(TdefLayout::kRealIndexSize), new_def.real_indexes[k]);
  }
  for (std::size_t k = 0; k < new_def.indexes.size(); ++k) {
    const LogicalIndexDefinition& li = new_def.indexes[k];
    if (logical_from[k] >= 0) {
      std::uint8_t* d = copy(at.logical_indexes + logical_from[k] * TdefLayout::kLogicalIndexSize,
                             TdefLayout::kLogicalIndexSize);
      PutLe32(d + LogicalIndexLayout::kNumber, li.number);
      PutLe32(d + LogicalIndexLayout::kRealIndex, li.real_index);
    } else {
      PutLogicalIndex(put(TdefLayout::kLogicalIndexSize), li);
    }
  }
  for (std::size_t k = 0; k < new_def.indexes.size(); ++k) {
    if (logical_from[k] >= 0)
      copy(old_names[logical_from[k]].first, old_names[logical_from[k]].second);
    else
      AppendName(out, new_def.indexes[k].name);
  }
  copy(at.lv_list, at.end - at.lv_list);
  std::uint8_t* h = out.data();
  PutLe32(h + TdefLayout::kLogicalCount, static_cast<std::uint32_t>(new_def.indexes.size()));
  PutLe32(h + TdefLayout::kRealCount, static_cast<std::uint32_t>(new_def.real_indexes.size()));
  PutLe32(h + TdefLayout::kLength, static_cast<std::uint32_t>(out.size()));
  return out;
}

void StoreTableCounters(Pager& pager, const TableDefinition& def) {
  if (def.version != JetVersion::kJet4)
    ThrowJet(ErrorCode::kReadOnly, pager.FileName() + ": Access 97 databases are read-only");
  PageRef p = pager.Write(def.FirstPage());
  std::uint8_t* d = p.MutableData();
  PutLe32(d + TdefLayout::kRowCount, def.row_count);
  PutLe32(d + TdefLayout::kAutoNumber, def.autonumber);
  for (std::size_t i = 0; i < def.real_indexes.size(); ++i) {
    std::size_t at = TdefLayout::kSections + i * TdefLayout::kStatsSize;
    if (at + TdefLayout::kStatsSize > pager.PageSize()) break;
    PutLe32(d + at, def.real_indexes[i].entry_count);
    PutLe32(d + at + 4, def.real_indexes[i].distinct_keys);
  }
}

}  // namespace jet

#include "jet/table_definition.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <type_traits>

#include "core/encoding.h"
#include "core/internal_error.h"
#include "jet/errors.h"
#include "jet/pager.h"
#include "text_util.h"

namespace jet {
namespace {

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

template <class L>
std::string ReadName(Cursor& c, const char* what) {
  const std::uint8_t* length = c.Take(L::kNameLengthSize, what);
  const std::size_t n = L::kNameLengthSize == 1 ? length[0] : Le16(length);
  const std::uint8_t* p = c.Take(n, what);
  if constexpr (std::is_same_v<L, Jet3TdefLayout>)
    return core::DecodeToUtf8(1252, std::string_view(reinterpret_cast<const char*>(p), n));
  else
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

void PutStats(std::uint8_t* s, const RealIndexDefinition& ri) {
  using L = TdefLayout::Stats;
  PutLe32(s + L::kEntryCount, ri.entry_count);
  PutLe32(s + L::kDistinctKeys, ri.distinct_keys);
}

void PutColumn(std::uint8_t* d, const ColumnDefinition& col) {
  using L = TdefLayout::Column;
  d[L::kType] = col.type;
  PutLe32(d + L::kMagic, TdefLayout::kMagic1625);
  PutLe16(d + L::kNumber, col.number);
  PutLe16(d + L::kVarIndex, col.var_index);
  PutLe16(d + L::kUnknown9, col.unknown9);
  std::memcpy(d + L::kMisc, col.misc, L::kMiscSize);
  d[L::kFlags] = col.flags;
  d[L::kExtFlags] = col.ext_flags;
  PutLe16(d + L::kFixedOffset, col.fixed_offset);
  PutLe16(d + L::kLength, col.length);
}

void PutRealIndex(std::uint8_t* d, const RealIndexDefinition& ri) {
  using L = TdefLayout::RealIndex;
  using S = IndexColumnSlotLayout;
  PutLe32(d + L::kMagic, TdefLayout::kMagic1923);
  for (int i = 0; i < S::kCount; ++i) {
    std::uint8_t* slot = d + L::kColumns + S::kSize * i;
    if (i < static_cast<int>(ri.columns.size())) {
      PutLe16(slot + S::kColumnNumber, ri.columns[i].column_number);
      slot[S::kAscending] = ri.columns[i].ascending ? 0x01 : 0x00;
    } else {
      PutLe16(slot + S::kColumnNumber, S::kUnused);
      slot[S::kAscending] = 0;
    }
  }
  ri.usage_map.Write(d + L::kUsageMap);
  PutLe32(d + L::kRoot, ri.root_page);
  PutLe32(d + L::kUnknown, ri.unknown42);
  d[L::kFlags] = ri.flags;
}

void PutLogicalIndex(std::uint8_t* d, const LogicalIndexDefinition& li) {
  using L = TdefLayout::LogicalIndex;
  PutLe32(d + L::kMagic, TdefLayout::kMagic1625);
  PutLe32(d + L::kNumber, li.number);
  PutLe32(d + L::kRealIndex, li.real_index);
  d[L::kFkRole] = li.fk_role;
  PutLe32(d + L::kFkOtherIndex, li.fk_other_index);
  PutLe32(d + L::kFkOtherTable, li.fk_other_table);
  d[L::kCascadeUpdate] = li.fk_cascade_update;
  d[L::kCascadeDelete] = li.fk_cascade_delete;
  d[L::kKind] = li.kind;
}

void PutLvMapEntry(std::uint8_t* d, const ColumnDefinition& col) {
  using L = LvMapEntryLayout;
  PutLe16(d + L::kColumnNumber, col.number);
  col.lv_owned_map.Write(d + L::kOwnedMap);
  col.lv_free_map.Write(d + L::kFreeMap);
}

// ---- parsing, one section at a time; L is TdefLayout or Jet3TdefLayout ----

struct SectionCounts {
  std::uint16_t columns = 0;
  std::uint32_t real_indexes = 0;
  std::uint32_t logical_indexes = 0;
};

template <class L>
SectionCounts ParseHeader(Cursor& c, TableDefinition& def, const Location& at) {
  const std::uint8_t* h = c.Take(L::kSections, "its header");
  if (h[L::kPageType] != page_type::kTableDefinition)
    ThrowCorrupt(at, "expected a table definition page (type 2), found type " +
                         std::to_string(h[L::kPageType]));
  def.row_count = Le32(h + L::kRowCount);
  def.autonumber = Le32(h + L::kAutoNumber);
  if constexpr (L::kUnknown18 != kNoField) {
    static_assert(L::kUnknown18Size == sizeof def.unknown18);
    std::memcpy(def.unknown18, h + L::kUnknown18, L::kUnknown18Size);
  }
  def.table_type = h[L::kTableType];
  def.max_columns = Le16(h + L::kMaxColumns);
  def.var_columns = Le16(h + L::kVarColumns);
  def.owned_map = RowPointer::Read(h + L::kOwnedMap);
  def.free_map = RowPointer::Read(h + L::kFreeMap);
  SectionCounts n{Le16(h + L::kColumnCount), Le32(h + L::kRealCount), Le32(h + L::kLogicalCount)};
  // Jet caps these far below what the fields can hold; larger counts are damage, and
  // checking them first keeps a bad count from asking for gigabytes.
  if (n.columns > 4096 || n.real_indexes > 1000 || n.logical_indexes > 1000)
    ThrowCorrupt(at, "implausible counts: " + std::to_string(n.columns) + " columns, " +
                         std::to_string(n.real_indexes) + " real and " +
                         std::to_string(n.logical_indexes) + " logical indexes");
  return n;
}

template <class L>
void ParseStats(Cursor& c, TableDefinition& def) {
  using S = typename L::Stats;
  def.sections.stats = c.Pos();
  for (auto& ri : def.real_indexes) {
    const std::uint8_t* s = c.Take(S::kSize, "the index statistics");
    ri.entry_count = Le32(s + S::kEntryCount);
    ri.distinct_keys = Le32(s + S::kDistinctKeys);
  }
}

template <class L>
void ParseColumns(Cursor& c, TableDefinition& def) {
  using C = typename L::Column;
  def.sections.columns = c.Pos();
  for (auto& col : def.columns) {
    const std::uint8_t* d = c.Take(C::kSize, "a column descriptor");
    col.type = d[C::kType];
    col.number = Le16(d + C::kNumber);
    col.var_index = Le16(d + C::kVarIndex);
    col.unknown9 = Le16(d + C::kUnknown9);
    std::memcpy(col.misc, d + C::kMisc, C::kMiscSize);
    if (col.type == column_type::kNumeric) {
      // Jet 3 keeps precision and scale apart from the sort order; Jet 4 shares the bytes.
      col.misc[0] = d[C::kPrecision];
      col.misc[1] = d[C::kScale];
    }
    col.flags = d[C::kFlags];
    if constexpr (C::kExtFlags != kNoField) col.ext_flags = d[C::kExtFlags];
    col.fixed_offset = Le16(d + C::kFixedOffset);
    col.length = Le16(d + C::kLength);
  }
  def.sections.column_names = c.Pos();
  for (auto& col : def.columns) col.name = ReadName<L>(c, "the column names");
}

template <class L>
void ParseRealIndexes(Cursor& c, TableDefinition& def) {
  using R = typename L::RealIndex;
  using S = IndexColumnSlotLayout;
  def.sections.real_indexes = c.Pos();
  for (auto& ri : def.real_indexes) {
    const std::uint8_t* d = c.Take(R::kSize, "a real index descriptor");
    for (int i = 0; i < S::kCount; ++i) {
      const std::uint8_t* slot = d + R::kColumns + S::kSize * i;
      std::uint16_t number = Le16(slot + S::kColumnNumber);
      if (number == S::kUnused) continue;
      ri.columns.push_back(IndexColumn{number, slot[S::kAscending] != 0});
    }
    ri.usage_map = RowPointer::Read(d + R::kUsageMap);
    ri.root_page = Le32(d + R::kRoot);
    if constexpr (R::kUnknown != kNoField) ri.unknown42 = Le32(d + R::kUnknown);
    ri.flags = d[R::kFlags];
  }
}

template <class L>
void ParseLogicalIndexes(Cursor& c, TableDefinition& def) {
  using G = typename L::LogicalIndex;
  def.sections.logical_indexes = c.Pos();
  for (auto& li : def.indexes) {
    const std::uint8_t* d = c.Take(G::kSize, "a logical index descriptor");
    li.number = Le32(d + G::kNumber);
    li.real_index = Le32(d + G::kRealIndex);
    li.fk_role = d[G::kFkRole];
    li.fk_other_index = Le32(d + G::kFkOtherIndex);
    li.fk_other_table = Le32(d + G::kFkOtherTable);
    li.fk_cascade_update = d[G::kCascadeUpdate];
    li.fk_cascade_delete = d[G::kCascadeDelete];
    li.kind = d[G::kKind];
  }
  def.sections.logical_names = c.Pos();
  for (auto& li : def.indexes) li.name = ReadName<L>(c, "the index names");
}

// Jet 4: long-value column maps, then the end mark. Old files may end without the list.
void ParseLvMapList(Cursor& c, TableDefinition& def) {
  using E = LvMapEntryLayout;
  def.sections.lv_list = c.Pos();
  def.has_lv_list = false;
  while (c.Remaining() >= 2) {
    const std::size_t start = c.Pos();
    if (Le16(c.Take(2, "the long-value map list")) == E::kEnd) {
      def.has_lv_list = true;
      break;
    }
    c.Seek(start);
    const std::uint8_t* e = c.Take(E::kSize, "a long-value map entry");
    const std::uint16_t number = Le16(e + E::kColumnNumber);
    for (auto& col : def.columns) {
      if (col.number == number) {
        col.has_lv_maps = true;
        col.lv_owned_map = RowPointer::Read(e + E::kOwnedMap);
        col.lv_free_map = RowPointer::Read(e + E::kFreeMap);
      }
    }
  }
}

// Cross-checks that keep the row decoder and the index module on safe ground.
void CheckDefinition(const TableDefinition& def, const Location& at) {
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
}

template <class L>
void ParseSections(Cursor& c, TableDefinition& def, const Location& at) {
  const SectionCounts n = ParseHeader<L>(c, def, at);
  def.real_indexes.resize(n.real_indexes);
  def.columns.resize(n.columns);
  def.indexes.resize(n.logical_indexes);
  ParseStats<L>(c, def);
  ParseColumns<L>(c, def);
  ParseRealIndexes<L>(c, def);
  ParseLogicalIndexes<L>(c, def);
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

std::uint16_t FixedColumnLength(std::uint8_t type) {
  switch (type) {
    case column_type::kBoolean:
    case column_type::kByte:
      return 1;
    case column_type::kInteger:
      return 2;
    case column_type::kLong:
    case column_type::kSingle:
      return 4;
    case column_type::kCurrency:
    case column_type::kDouble:
    case column_type::kDateTime:
      return 8;
    case column_type::kGuid:
      return 16;
    case column_type::kNumeric:
      return 17;
    default:
      return 0;
  }
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
  TableDefinition def;
  def.version = version;
  Cursor c(bytes, at);
  if (version == JetVersion::kJet3) {
    ParseSections<Jet3TdefLayout>(c, def, at);
    def.sections.lv_list = c.Pos();
    def.has_lv_list = false;
  } else {
    ParseSections<TdefLayout>(c, def, at);
    ParseLvMapList(c, def);
  }
  def.sections.end = bytes.size();
  CheckDefinition(def, at);
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
  h[TdefLayout::kPageMagic] = 0x01;
  PutLe32(h + TdefLayout::kConstant, TdefLayout::kMagic1625);
  PutLe32(h + TdefLayout::kRowCount, def.row_count);
  PutLe32(h + TdefLayout::kAutoNumber, def.autonumber);
  std::memcpy(h + TdefLayout::kUnknown18, def.unknown18, TdefLayout::kUnknown18Size);
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
  for (const auto& ri : def.real_indexes) PutStats(put(TdefLayout::kStatsSize), ri);
  for (const auto& col : def.columns) PutColumn(put(TdefLayout::kColumnSize), col);
  for (const auto& col : def.columns) AppendName(out, col.name);
  for (const auto& ri : def.real_indexes) PutRealIndex(put(TdefLayout::kRealIndexSize), ri);
  for (const auto& li : def.indexes) PutLogicalIndex(put(TdefLayout::kLogicalIndexSize), li);
  for (const auto& li : def.indexes) AppendName(out, li.name);
  for (const auto& col : def.columns) {
    if (!col.IsLongValue() || !col.has_lv_maps) continue;
    PutLvMapEntry(put(TdefLayout::kLvEntrySize), col);
  }
  PutLe16(put(2), LvMapEntryLayout::kEnd);
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
    d[TdefLayout::kPageMagic] = 0x01;
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
    if (pos + TdefLayout::kNameLengthSize > bytes.size())
      core::ThrowInternal("index names beyond the definition");
    std::size_t n = TdefLayout::kNameLengthSize + Le16(bytes.data() + pos);
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
    PutStats(real_from[k] >= 0
                 ? copy(at.stats + real_from[k] * TdefLayout::kStatsSize, TdefLayout::kStatsSize)
                 : put(TdefLayout::kStatsSize),
             ri);
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
      PutLe32(d + TdefLayout::LogicalIndex::kNumber, li.number);
      PutLe32(d + TdefLayout::LogicalIndex::kRealIndex, li.real_index);
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
    PutStats(d + at, def.real_indexes[i]);
  }
}

}  // namespace jet

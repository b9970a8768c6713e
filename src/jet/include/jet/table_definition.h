// Table definitions (TDEF pages, type 0x02): columns, real and logical index descriptors,
// counters and usage-map references of one table.
//
// A definition may span several pages; `ReadTableDefinition` joins the chain and
// `ParseTableDefinition` decodes the joined bytes (Jet 3 and Jet 4). New tables get their
// bytes from `SerializeTableDefinition` (Jet 4 only) and are written by
// `WriteTableDefinition`. Existing definitions are never re-serialised: `StoreTableCounters`
// patches the row count, the AutoNumber and the index statistics in place, and an index
// added or dropped replaces only the index sections of the stored bytes
// (`ReplaceIndexSections`), so bytes Access left that we do not understand stay exactly as
// they were.
//
// The index module reads index descriptors through these types; it owns the B-trees that
// `RealIndexDefinition::root_page` and `usage_map` point at.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format.h"
#include "jet/sort_order.h"

namespace jet {

class Pager;

// Column type codes of the table definition.
namespace column_type {
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
inline constexpr std::uint8_t kOle = 0x0B;  // long binary
inline constexpr std::uint8_t kMemo = 0x0C;
inline constexpr std::uint8_t kGuid = 0x0F;     // replication ID
inline constexpr std::uint8_t kNumeric = 0x10;  // Decimal
}  // namespace column_type

// "Text", "Long", ...; "type 0x11" for codes we do not know.
std::string ColumnTypeName(std::uint8_t type);
// Types this engine reads and writes.
bool IsSupportedColumnType(std::uint8_t type);
// The stored length of a fixed-size type; 0 for variable-size ones, whose length is their own.
std::uint16_t FixedColumnLength(std::uint8_t type);

// Column descriptor flag bits (byte 15).
namespace column_flag {
inline constexpr std::uint8_t kFixed = 0x01;
inline constexpr std::uint8_t kUpdatable = 0x02;  // on every column Jet writes
inline constexpr std::uint8_t kAutoNumber = 0x04;
inline constexpr std::uint8_t kSystem = 0x10;     // columns of the system tables
inline constexpr std::uint8_t kSystemSid = 0x20;  // MSysObjects.Owner, MSysACEs.SID
inline constexpr std::uint8_t kGuidAutoNumber = 0x40;
inline constexpr std::uint8_t kHyperlink = 0x80;
}  // namespace column_flag
inline constexpr std::uint8_t kExtFlagCompressedUnicode = 0x01;  // byte 16

struct ColumnDefinition {
  std::string name;
  std::uint8_t type = 0;
  std::uint16_t number = 0;     // identifies the null-mask bit; gaps after deletions
  std::uint16_t var_index = 0;  // slot in the row's offset table (variable columns)
  std::uint16_t unknown9 = 0;   // descriptor bytes 9-10, kept as found
  // Bytes 11-14: Text/Memo sort order (u16 locale, u8 0, u8 version); Decimal precision
  // and scale; other types as found (Jet writes 09 04 00 00 on system columns).
  std::uint8_t misc[4] = {0, 0, 0, 0};
  std::uint8_t flags = 0;
  std::uint8_t ext_flags = 0;
  std::uint16_t fixed_offset = 0;  // in the row's fixed area (fixed columns)
  std::uint16_t length = 0;        // bytes (Text: 2 per character), 0 for Memo/OLE
  // Long-value (Memo/OLE) columns: their pages' usage maps, from the TDEF's trailing list.
  bool has_lv_maps = false;
  RowPointer lv_owned_map;
  RowPointer lv_free_map;

  bool IsFixed() const { return (flags & column_flag::kFixed) != 0; }
  bool IsBoolean() const { return type == column_type::kBoolean; }
  bool IsLongValue() const { return type == column_type::kMemo || type == column_type::kOle; }
  bool IsText() const { return type == column_type::kText || type == column_type::kMemo; }
  bool IsAutoNumber() const { return (flags & column_flag::kAutoNumber) != 0; }
  bool IsGuidAutoNumber() const { return (flags & column_flag::kGuidAutoNumber) != 0; }
  bool CompressedUnicode() const { return (ext_flags & kExtFlagCompressedUnicode) != 0; }
  SortOrder TextSortOrder() const {
    return SortOrder{static_cast<std::uint16_t>(misc[0] | (misc[1] << 8)), misc[3]};
  }
  std::uint8_t Precision() const { return misc[0]; }
  std::uint8_t Scale() const { return misc[1]; }
};

struct IndexColumn {
  std::uint16_t column_number = 0;  // ColumnDefinition::number
  bool ascending = true;
  friend bool operator==(const IndexColumn&, const IndexColumn&) = default;
};

namespace index_flag {
inline constexpr std::uint8_t kUnique = 0x01;
inline constexpr std::uint8_t kIgnoreNulls = 0x02;
inline constexpr std::uint8_t kRequired = 0x08;
inline constexpr std::uint8_t kAccess2000 = 0x80;  // set on every index Access 2000+ made
}  // namespace index_flag

// One B-tree.
struct RealIndexDefinition {
  std::vector<IndexColumn> columns;  // at most 10, in key order
  RowPointer usage_map;              // the index's pages
  std::uint32_t root_page = 0;       // never changes for the life of the index
  std::uint8_t flags = index_flag::kAccess2000;
  std::uint32_t unknown42 = 0;  // descriptor +42, kept as found
  // Statistics block: entry count (often stale) and distinct keys (never decreases).
  std::uint32_t entry_count = 0;
  std::uint32_t distinct_keys = 0;
};

namespace index_kind {
inline constexpr std::uint8_t kNormal = 0;
inline constexpr std::uint8_t kPrimaryKey = 1;
inline constexpr std::uint8_t kForeignKey = 2;
}  // namespace index_kind

// What Access shows as an index (or a foreign-key reference); backed by a real index.
struct LogicalIndexDefinition {
  std::string name;
  std::uint32_t number = 0;
  std::uint32_t real_index = 0;
  std::uint8_t fk_role = 0;  // 1 primary side, 2 foreign side
  std::uint32_t fk_other_index = 0xFFFFFFFFu;
  std::uint32_t fk_other_table = 0;
  std::uint8_t fk_cascade_update = 0;  // non-FK: Access writes 0x04
  std::uint8_t fk_cascade_delete = 0;  // non-FK: Access writes 0x04
  std::uint8_t kind = index_kind::kNormal;
};

// Where the sections of a definition start in its joined bytes, as parsing found them.
struct TdefSections {
  std::size_t stats = 0;            // real-index statistics
  std::size_t columns = 0;          // column descriptors
  std::size_t column_names = 0;     // column names
  std::size_t real_indexes = 0;     // real-index descriptors
  std::size_t logical_indexes = 0;  // logical-index descriptors
  std::size_t logical_names = 0;    // logical-index names
  std::size_t lv_list = 0;          // Jet 4: long-value map list and what follows it
  std::size_t end = 0;              // the definition's length
};

inline constexpr std::uint8_t kUserTable = 0x4E;    // 'N'
inline constexpr std::uint8_t kSystemTable = 0x53;  // 'S'

struct TableDefinition {
  JetVersion version = JetVersion::kJet4;
  std::vector<std::uint32_t> pages;  // the TDEF chain; pages[0] identifies the table
  std::uint32_t row_count = 0;
  std::uint32_t autonumber = 0;  // last AutoNumber handed out
  std::uint8_t table_type = kUserTable;
  std::uint16_t max_columns = 0;          // highest column number + 1, deleted ones included
  std::uint16_t var_columns = 0;          // variable slots, deleted ones included
  RowPointer owned_map;                   // the table's data pages
  std::uint8_t unknown18[16] = {};        // 0x18..0x27 (Jet 4), kept as found
  std::vector<ColumnDefinition> columns;  // in stored order
  std::vector<RealIndexDefinition> real_indexes;
  std::vector<LogicalIndexDefinition> indexes;
  RowPointer free_map;  // data pages with room for rows
  bool has_lv_list = true;
  TdefSections sections;  // filled by ParseTableDefinition

  std::uint32_t FirstPage() const { return pages.empty() ? 0 : pages[0]; }
  // Case-insensitive, as Jet compares names.
  const ColumnDefinition* FindColumn(std::string_view name) const;
  const ColumnDefinition* ColumnByNumber(std::uint16_t number) const;
  // Bytes of the fixed area a full row carries.
  std::uint16_t FixedAreaSize() const;
};

// ---- the definition's on-disk layout ----
//
// A definition is a header, then sections stored back to back: index statistics (one per
// real index), column descriptors, column names, real-index descriptors, logical-index
// descriptors, logical-index names and (Jet 4) the long-value map list. The parser and the
// serialiser both read offsets and sizes from the structs below; Jet 3 has its own set,
// chosen by the parser at run time.

// A field one version's layout does not have.
inline constexpr std::uint16_t kNoField = 0xFFFF;

// Index statistics, one block per real index.
struct Jet4IndexStatsLayout {
  static constexpr std::uint16_t kEntryCount = 0;    // u32 entries (often stale)
  static constexpr std::uint16_t kDistinctKeys = 4;  // u32 distinct keys
  static constexpr std::uint16_t kSize = 12;         // u32 0 follows
};
struct Jet3IndexStatsLayout {
  static constexpr std::uint16_t kEntryCount = 0;
  static constexpr std::uint16_t kDistinctKeys = 4;
  static constexpr std::uint16_t kSize = 8;
};

// Column descriptor.
struct Jet4ColumnLayout {
  static constexpr std::uint16_t kType = 0;      // u8 column_type
  static constexpr std::uint16_t kMagic = 1;     // u32 1625
  static constexpr std::uint16_t kNumber = 5;    // u16 ColumnDefinition::number
  static constexpr std::uint16_t kVarIndex = 7;  // u16 slot in the row's offset table
  static constexpr std::uint16_t kUnknown9 = 9;  // u16, kept as found
  static constexpr std::uint16_t kMisc = 11;     // ColumnDefinition::misc
  static constexpr std::uint16_t kMiscSize = 4;
  static constexpr std::uint16_t kPrecision = 11;    // u8 (Decimal)
  static constexpr std::uint16_t kScale = 12;        // u8 (Decimal)
  static constexpr std::uint16_t kFlags = 15;        // u8 column_flag bits
  static constexpr std::uint16_t kExtFlags = 16;     // u8; 4 unknown bytes follow (zeros)
  static constexpr std::uint16_t kFixedOffset = 21;  // u16 offset in the fixed area
  static constexpr std::uint16_t kLength = 23;       // u16 bytes
  static constexpr std::uint16_t kSize = 25;
};
struct Jet3ColumnLayout {
  static constexpr std::uint16_t kType = 0;
  static constexpr std::uint16_t kMagic = kNoField;
  static constexpr std::uint16_t kNumber = 1;
  static constexpr std::uint16_t kVarIndex = 3;
  static constexpr std::uint16_t kUnknown9 = 5;  // u16, then 2 unknown bytes
  static constexpr std::uint16_t kMisc = 9;      // u16 sort order (Text, Memo)
  static constexpr std::uint16_t kMiscSize = 2;
  static constexpr std::uint16_t kPrecision = 11;  // u8 (Decimal)
  static constexpr std::uint16_t kScale = 12;      // u8 (Decimal)
  static constexpr std::uint16_t kFlags = 13;
  static constexpr std::uint16_t kExtFlags = kNoField;
  static constexpr std::uint16_t kFixedOffset = 14;
  static constexpr std::uint16_t kLength = 16;
  static constexpr std::uint16_t kSize = 18;
};

// One of the ten key-column slots of a real-index descriptor.
struct IndexColumnSlotLayout {
  static constexpr std::uint16_t kColumnNumber = 0;  // u16, kUnused for an empty slot
  static constexpr std::uint16_t kAscending = 2;     // u8 1 ascending, 0 descending
  static constexpr std::uint16_t kSize = 3;
  static constexpr int kCount = 10;
  static constexpr std::uint16_t kUnused = 0xFFFF;
};

// Real-index descriptor (one B-tree).
struct Jet4RealIndexLayout {
  static constexpr std::uint16_t kMagic = 0;      // u32 1923
  static constexpr std::uint16_t kColumns = 4;    // IndexColumnSlotLayout x 10
  static constexpr std::uint16_t kUsageMap = 34;  // row pointer
  static constexpr std::uint16_t kRoot = 38;      // u32 first page, never moves
  static constexpr std::uint16_t kUnknown = 42;   // u32, Access leaves junk here
  static constexpr std::uint16_t kFlags = 46;     // u8 index_flag bits; 5 zero bytes follow
  static constexpr std::uint16_t kSize = 52;
};
struct Jet3RealIndexLayout {
  static constexpr std::uint16_t kMagic = kNoField;
  static constexpr std::uint16_t kColumns = 0;
  static constexpr std::uint16_t kUsageMap = 30;
  static constexpr std::uint16_t kRoot = 34;
  static constexpr std::uint16_t kUnknown = kNoField;
  static constexpr std::uint16_t kFlags = 38;
  static constexpr std::uint16_t kSize = 39;
};

// Logical-index descriptor (what Access shows as an index).
struct Jet4LogicalIndexLayout {
  static constexpr std::uint16_t kMagic = 0;           // u32 1625
  static constexpr std::uint16_t kNumber = 4;          // u32 logical number
  static constexpr std::uint16_t kRealIndex = 8;       // u32 position of its real index
  static constexpr std::uint16_t kFkRole = 12;         // u8
  static constexpr std::uint16_t kFkOtherIndex = 13;   // u32
  static constexpr std::uint16_t kFkOtherTable = 17;   // u32
  static constexpr std::uint16_t kCascadeUpdate = 21;  // u8
  static constexpr std::uint16_t kCascadeDelete = 22;  // u8
  static constexpr std::uint16_t kKind = 23;           // u8 index_kind; 4 zero bytes follow
  static constexpr std::uint16_t kSize = 28;
};
struct Jet3LogicalIndexLayout {
  static constexpr std::uint16_t kMagic = kNoField;
  static constexpr std::uint16_t kNumber = 0;
  static constexpr std::uint16_t kRealIndex = 4;
  static constexpr std::uint16_t kFkRole = 8;
  static constexpr std::uint16_t kFkOtherIndex = 9;
  static constexpr std::uint16_t kFkOtherTable = 13;
  static constexpr std::uint16_t kCascadeUpdate = 17;
  static constexpr std::uint16_t kCascadeDelete = 18;
  static constexpr std::uint16_t kKind = 19;
  static constexpr std::uint16_t kSize = 20;
};

// Jet 4 long-value map list entry; the list ends with a u16 kEnd.
struct LvMapEntryLayout {
  static constexpr std::uint16_t kColumnNumber = 0;  // u16
  static constexpr std::uint16_t kOwnedMap = 2;      // row pointer
  static constexpr std::uint16_t kFreeMap = 6;       // row pointer
  static constexpr std::uint16_t kSize = 10;
  static constexpr std::uint16_t kEnd = 0xFFFF;
};

// The Jet 4 definition header (from the start of the first TDEF page) and its sections.
struct TdefLayout {
  static constexpr std::uint16_t kPageType = 0x00;      // u8 0x02
  static constexpr std::uint16_t kPageMagic = 0x01;     // u8 0x01
  static constexpr std::uint16_t kFreeSpace = 0x02;     // u16 (Jet 3: "VC")
  static constexpr std::uint16_t kNextPage = 0x04;      // u32 next TDEF page, 0 = last
  static constexpr std::uint16_t kPageHeaderSize = 8;   // continuation pages skip this much
  static constexpr std::uint16_t kLength = 0x08;        // u32 length of the whole definition
  static constexpr std::uint16_t kConstant = 0x0C;      // u32 1625
  static constexpr std::uint16_t kRowCount = 0x10;      // u32 live rows
  static constexpr std::uint16_t kAutoNumber = 0x14;    // u32 last AutoNumber
  static constexpr std::uint16_t kAutoNumberOn = 0x18;  // u8 1
  static constexpr std::uint16_t kUnknown18 = 0x18;     // 16 bytes incl. the flag above
  static constexpr std::uint16_t kUnknown18Size = 16;
  static constexpr std::uint16_t kTableType = 0x28;     // u8 'N' or 'S'
  static constexpr std::uint16_t kMaxColumns = 0x29;    // u16
  static constexpr std::uint16_t kVarColumns = 0x2B;    // u16
  static constexpr std::uint16_t kColumnCount = 0x2D;   // u16
  static constexpr std::uint16_t kLogicalCount = 0x2F;  // u32
  static constexpr std::uint16_t kRealCount = 0x33;     // u32
  static constexpr std::uint16_t kOwnedMap = 0x37;      // row pointer
  static constexpr std::uint16_t kFreeMap = 0x3B;       // row pointer
  static constexpr std::uint16_t kSections = 0x3F;
  static constexpr std::uint16_t kNameLengthSize = 2;  // names: u16 byte length + UCS-2

  using Stats = Jet4IndexStatsLayout;
  using Column = Jet4ColumnLayout;
  using RealIndex = Jet4RealIndexLayout;
  using LogicalIndex = Jet4LogicalIndexLayout;
  static constexpr std::uint16_t kStatsSize = Stats::kSize;
  static constexpr std::uint16_t kColumnSize = Column::kSize;
  static constexpr std::uint16_t kRealIndexSize = RealIndex::kSize;
  static constexpr std::uint16_t kLogicalIndexSize = LogicalIndex::kSize;
  static constexpr std::uint16_t kLvEntrySize = LvMapEntryLayout::kSize;
  static constexpr std::uint32_t kMagic1625 = 1625;
  static constexpr std::uint32_t kMagic1923 = 1923;
};

// The Jet 3 definition header (read only). The page header and the length field are
// those of Jet 4.
struct Jet3TdefLayout {
  static constexpr std::uint16_t kPageType = TdefLayout::kPageType;
  static constexpr std::uint16_t kLength = TdefLayout::kLength;
  static constexpr std::uint16_t kRowCount = 0x0C;
  static constexpr std::uint16_t kAutoNumber = 0x10;
  static constexpr std::uint16_t kUnknown18 = kNoField;
  static constexpr std::uint16_t kUnknown18Size = 0;
  static constexpr std::uint16_t kTableType = 0x14;
  static constexpr std::uint16_t kMaxColumns = 0x15;
  static constexpr std::uint16_t kVarColumns = 0x17;
  static constexpr std::uint16_t kColumnCount = 0x19;
  static constexpr std::uint16_t kLogicalCount = 0x1B;
  static constexpr std::uint16_t kRealCount = 0x1F;
  static constexpr std::uint16_t kOwnedMap = 0x23;
  static constexpr std::uint16_t kFreeMap = 0x27;
  static constexpr std::uint16_t kSections = 0x2B;
  static constexpr std::uint16_t kNameLengthSize = 1;  // names: u8 byte length + code page

  using Stats = Jet3IndexStatsLayout;
  using Column = Jet3ColumnLayout;
  using RealIndex = Jet3RealIndexLayout;
  using LogicalIndex = Jet3LogicalIndexLayout;
};

// Decodes a joined definition. `table` names it in errors.
TableDefinition ParseTableDefinition(std::span<const std::uint8_t> bytes, JetVersion version,
                                     const std::string& file, std::string_view table,
                                     std::uint32_t first_page);
// Follows the TDEF chain from `first_page` and parses it.
TableDefinition ReadTableDefinition(Pager& pager, std::uint32_t first_page,
                                    std::string_view table = {});
// The joined bytes of a new definition (Jet 4), including the first page's 8-byte header.
std::vector<std::uint8_t> SerializeTableDefinition(const TableDefinition& def);
// Writes a new definition: allocates its pages (def.pages is filled in) and links them.
void WriteTableDefinition(Pager& pager, TableDefinition& def);
// The joined bytes of a stored definition (its `length` bytes, first page header included).
std::vector<std::uint8_t> ReadTableDefinitionBytes(Pager& pager, const TableDefinition& def);
// Writes `bytes` over the definition's pages, chaining more pages on when it has grown and
// releasing the pages it no longer needs; def.pages follows.
void RewriteTableDefinition(Pager& pager, TableDefinition& def,
                            std::span<const std::uint8_t> bytes);
// Jet 4: the stored bytes `old_bytes` of `old_def` with the index sections (statistics,
// real and logical descriptors, logical names) replaced by those of `new_def`, whose columns
// must be the old ones. `real_from[k]` / `logical_from[k]` give the old position of new real
// / logical index k, or -1 for a new one: an old descriptor is copied byte for byte (a
// logical one with its number and real index patched, statistics with the counters of
// `new_def`), a new one is written from `new_def`. Everything outside those sections is kept.
std::vector<std::uint8_t> ReplaceIndexSections(std::span<const std::uint8_t> old_bytes,
                                               const TableDefinition& old_def,
                                               const TableDefinition& new_def,
                                               std::span<const int> real_from,
                                               std::span<const int> logical_from);
// Patches row count, AutoNumber and index statistics in the first TDEF page.
void StoreTableCounters(Pager& pager, const TableDefinition& def);

}  // namespace jet

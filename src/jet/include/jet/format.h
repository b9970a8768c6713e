// The byte-level vocabulary every Jet page format shares: the two file versions with their
// page sizes, little-endian field access, row pointers, and the data-page header that the
// page cache (usage-map rows), the row layer and the long-value layer all read.
//
// On-disk structures are declared here and in the page-format headers as named offsets and
// read with these explicit little-endian helpers. No code casts a page buffer to a struct.
#pragma once

#include <cstdint>
#include <cstring>

namespace jet {

enum class JetVersion : std::uint8_t {
  kJet3 = 0,  // Access 97: 2 KiB pages, code-page text; opened read-only
  kJet4 = 1,  // Access 2000-2003
};

inline constexpr std::uint32_t kJet4PageSize = 4096;
inline constexpr std::uint32_t kJet3PageSize = 2048;
// 2 GiB: the largest file Jet 4 can address.
inline constexpr std::uint32_t kMaxJet4Pages = 0x80000000u / kJet4PageSize;

inline std::uint32_t PageSizeOf(JetVersion v) {
  return v == JetVersion::kJet3 ? kJet3PageSize : kJet4PageSize;
}

// ---- little-endian access ----
inline std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Le24(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t Le64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(Le32(p)) | (static_cast<std::uint64_t>(Le32(p + 4)) << 32);
}
inline void PutLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}
inline void PutLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void PutLe64(std::uint8_t* p, std::uint64_t v) {
  PutLe32(p, static_cast<std::uint32_t>(v));
  PutLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}
inline double LeDouble(const std::uint8_t* p) {
  std::uint64_t bits = Le64(p);
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}
inline void PutLeDouble(std::uint8_t* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  PutLe64(p, bits);
}
inline float LeFloat(const std::uint8_t* p) {
  std::uint32_t bits = Le32(p);
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}
inline void PutLeFloat(std::uint8_t* p, float f) {
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  PutLe32(p, bits);
}

// A row's address: data page number and slot. On disk (TDEF map references, long-value
// pointers, overflow rows) it is 4 bytes: the slot, then the page as 24-bit little-endian,
// so that read as a u32 it equals (page << 8) | slot. Index entries use another order.
struct RowPointer {
  std::uint32_t page = 0;
  std::uint8_t row = 0;

  static RowPointer FromU32(std::uint32_t v) {
    return RowPointer{v >> 8, static_cast<std::uint8_t>(v & 0xFF)};
  }
  std::uint32_t ToU32() const { return (page << 8) | row; }
  static RowPointer Read(const std::uint8_t* p) { return FromU32(Le32(p)); }
  void Write(std::uint8_t* p) const { PutLe32(p, ToU32()); }
  bool IsNull() const { return page == 0 && row == 0; }
  friend bool operator==(RowPointer, RowPointer) = default;
  friend auto operator<=>(RowPointer a, RowPointer b) { return a.ToU32() <=> b.ToU32(); }
};

// Page type codes (byte 0 of every page).
namespace page_type {
inline constexpr std::uint8_t kHeader = 0x00;
inline constexpr std::uint8_t kData = 0x01;
inline constexpr std::uint8_t kTableDefinition = 0x02;
inline constexpr std::uint8_t kIndexNode = 0x03;
inline constexpr std::uint8_t kIndexLeaf = 0x04;
inline constexpr std::uint8_t kUsageBitmap = 0x05;
}  // namespace page_type

// Data page header (type 0x01: table rows, usage-map rows, long-value rows).
struct DataPageLayout {
  std::uint32_t page_size;
  std::uint16_t row_count_offset;  // u16 number of slots, live and deleted
  std::uint16_t first_slot;        // u16 slot table, one entry per row, from here on

  static constexpr std::uint16_t kType = 0x00;       // u8 0x01
  static constexpr std::uint16_t kMagic = 0x01;      // u8 0x01
  static constexpr std::uint16_t kFreeSpace = 0x02;  // u16 bytes still free
  static constexpr std::uint16_t kOwner = 0x04;      // u32 TDEF page, "LVAL", 0 or 1
  // Jet 4 only: u32 at 0x08, unknown, 0 on ordinary pages.
  static constexpr std::uint16_t kJet4Unknown = 0x08;

  static constexpr std::uint16_t kSlotOffsetMask = 0x1FFF;
  static constexpr std::uint16_t kSlotDeleted = 0x8000;   // with 0x4000: deleted row
  static constexpr std::uint16_t kSlotOverflow = 0x4000;  // alone: pointer to moved content
  static constexpr std::uint16_t kSlotFlags = 0xC000;

  static DataPageLayout For(JetVersion v) {
    return v == JetVersion::kJet3 ? DataPageLayout{kJet3PageSize, 0x08, 0x0A}
                                  : DataPageLayout{kJet4PageSize, 0x0C, 0x0E};
  }
};

// "LVAL" in the owner field marks a long-value page.
inline constexpr std::uint32_t kLongValueOwner = 0x4C41564Cu;

}  // namespace jet

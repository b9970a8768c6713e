// Page 0: the database header.
//
// Part of page 0 (0x18..0x97 in Jet 4, 0x18..0x95 in Jet 3) is stored XOR-ed with a fixed
// key stream; everything here reads and writes the unmasked values. `DecodeHeader` decides
// whether a file is a database we can open at all, so every check of an outside file's
// identity lives here: not a Jet file, an ACE (.accdb) or Works file, a password set.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "jet/format.h"
#include "jet/sort_order.h"

namespace jet {

struct HeaderLayout {
  static constexpr std::uint16_t kPageType = 0x00;    // u8 0x00
  static constexpr std::uint16_t kMagic = 0x01;       // u8 0x01, then u16 0
  static constexpr std::uint16_t kEngineName = 0x04;  // 16 bytes ASCII, "Standard Jet DB\0"
  static constexpr std::uint16_t kVersion = 0x14;     // u32: 0 Jet 3, 1 Jet 4, 2+ ACE
  static constexpr std::uint16_t kMaskedStart = 0x18;
  static constexpr std::uint16_t kJet4MaskedLength = 128;
  static constexpr std::uint16_t kJet3MaskedLength = 126;
  // 24 bytes copied from every Jet file: meaning unknown.
  static constexpr std::uint16_t kConstantTable = 0x18;
  static constexpr std::uint16_t kJet3SortOrder = 0x3A;     // u16 (Jet 3 only)
  static constexpr std::uint16_t kCodePage = 0x3C;          // u16, 1252
  static constexpr std::uint16_t kDatabaseKey = 0x3E;       // u32, 0 = pages not encrypted
  static constexpr std::uint16_t kPassword = 0x42;          // 40 bytes Jet 4 (UCS-2), 20 Jet 3
  static constexpr std::uint16_t kEngineBuild = 0x6A;       // u16, unknown; engine build?
  static constexpr std::uint16_t kSortOrder = 0x6E;         // u16 collation LCID (Jet 4)
  static constexpr std::uint16_t kSortVersion = 0x71;       // u8 (Jet 4)
  static constexpr std::uint16_t kCreationDate = 0x72;      // f64; keys the password mask
  static constexpr std::uint16_t kPlain654 = 0x98;          // u32 0x654, unmasked, unknown
  static constexpr std::uint16_t kPlainVersionText = 0x9C;  // "4.0\0", unmasked
  static constexpr std::uint16_t kJet4CommitSlots = 0xE00;  // 256 two-byte slots
  static constexpr std::uint16_t kJet3CommitSlots = 0x600;
};

struct DatabaseHeader {
  JetVersion version = JetVersion::kJet4;
  std::uint16_t code_page = 1252;
  std::uint32_t database_key = 0;  // non-zero: RC4-encrypted pages
  std::uint16_t sort_order = 0x0409;
  std::uint8_t sort_version = 0;
  double creation_date = 0;
  bool has_password = false;
};

// XORs the masked region of a header page with the fixed key stream (the operation is
// its own inverse). `page` holds at least 0x98 bytes.
void ToggleHeaderMask(std::uint8_t* page, JetVersion version);

// Checks and decodes a raw (masked) header page. `file` names the file in errors.
// Raises JetError kNotADatabase / kUnsupportedVersion / kPasswordProtected, or
// CorruptDatabase for a file too short to hold a header.
DatabaseHeader DecodeHeader(std::span<const std::uint8_t> raw, const std::string& file);

// The header page of a new Jet 4 database in the given sort order, masked and ready to
// write.
std::array<std::uint8_t, kJet4PageSize> NewJet4HeaderPage(SortOrder order = kGeneralSortOrder);

}  // namespace jet

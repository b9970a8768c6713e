// The on-disk layout of dBase, FoxPro and Visual FoxPro tables and their memo files,
// declared once. Offsets are from the start of the structure named by the namespace.
// Integers in the .dbf and .dbt are little-endian; in the .fpt they are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bde::dbf {

// Main header, 32 bytes at offset 0 of the .dbf.
namespace header {
inline constexpr std::size_t kVersion = 0x00;       // u8: writer family and memo style
inline constexpr std::size_t kUpdateDate = 0x01;    // 3 x u8: year, month, day (informational)
inline constexpr std::size_t kRecordCount = 0x04;   // u32: records, deleted ones included
inline constexpr std::size_t kHeaderLength = 0x08;  // u16: offset of the first record
inline constexpr std::size_t kRecordLength = 0x0A;  // u16: bytes per record, deletion flag included
inline constexpr std::size_t kTransaction = 0x0E;   // u8: dBase IV transaction left open
inline constexpr std::size_t kEncrypted = 0x0F;     // u8: dBase IV PROTECT encryption
inline constexpr std::size_t kTableFlags = 0x1C;    // u8: VFP 0x01 .cdx, 0x02 memo, 0x04 .dbc
inline constexpr std::size_t kLanguageDriver = 0x1D;  // u8: code page mark
inline constexpr std::size_t kSize = 32;
// dBase 7 only: language-driver name, then 4 reserved bytes, then 48-byte descriptors.
inline constexpr std::size_t kDriverName = 0x20;
inline constexpr std::size_t kDriverNameSize = 32;
inline constexpr std::size_t kLevel7Descriptors = 0x44;
}  // namespace header

inline constexpr std::uint8_t kHeaderTerminator = 0x0D;  // after the last descriptor
inline constexpr std::uint8_t kEndOfFile = 0x1A;         // after the last record, optional
inline constexpr std::uint8_t kDeletedFlag = '*';        // first byte of a deleted record
inline constexpr std::size_t kBacklinkSize = 263;        // VFP: path of the owning .dbc

// Field descriptor of dBase III to 5, FoxPro and Visual FoxPro: 32 bytes from 0x20.
namespace field {
inline constexpr std::size_t kName = 0x00;  // 11 bytes, NUL-padded
inline constexpr std::size_t kNameSize = 11;
inline constexpr std::size_t kType = 0x0B;      // u8: type letter
inline constexpr std::size_t kOffset = 0x0C;    // u32: VFP offset in the record (not trusted)
inline constexpr std::size_t kLength = 0x10;    // u8: bytes in the record
inline constexpr std::size_t kDecimals = 0x11;  // u8: decimals; Clipper: high byte of a C length
inline constexpr std::size_t kFlags = 0x12;     // u8: VFP field flags (below)
inline constexpr std::size_t kSize = 32;
}  // namespace field

// Field descriptor of dBase 7: 48 bytes from 0x44.
namespace field7 {
inline constexpr std::size_t kName = 0x00;  // 32 bytes, NUL-padded
inline constexpr std::size_t kNameSize = 32;
inline constexpr std::size_t kType = 0x20;      // u8: type letter
inline constexpr std::size_t kLength = 0x21;    // u8
inline constexpr std::size_t kDecimals = 0x22;  // u8
inline constexpr std::size_t kSize = 48;
}  // namespace field7

// VFP field flags.
inline constexpr std::uint8_t kFlagSystem = 0x01;    // hidden column (_NullFlags)
inline constexpr std::uint8_t kFlagNullable = 0x02;  // has a bit in _NullFlags
inline constexpr std::uint8_t kFlagBinary = 0x04;    // no code-page translation
inline constexpr std::uint8_t kFlagAutoInc = 0x08;

// dBase III .dbt: 512-byte blocks; a memo runs from its block to the first 0x1A.
namespace dbt3 {
inline constexpr std::size_t kNextFreeBlock = 0;  // u32
inline constexpr std::uint32_t kBlockSize = 512;
}  // namespace dbt3

// dBase IV/5/7 .dbt: header block with the block size; every memo starts with a block
// header whose length counts the header itself.
namespace dbt4 {
inline constexpr std::size_t kNextFreeBlock = 0;  // u32
inline constexpr std::size_t kBlockSize = 20;     // u16; 0 means 512
inline constexpr std::uint8_t kMemoSignature[4] = {0xFF, 0xFF, 0x08, 0x00};
inline constexpr std::size_t kMemoLength = 4;  // u32 in the memo block: length + 8
inline constexpr std::size_t kMemoHeaderSize = 8;
}  // namespace dbt4

// FoxPro .fpt (big-endian): 512-byte header, then blocks of the header's block size.
namespace fpt {
inline constexpr std::size_t kNextFreeBlock = 0;  // u32 BE
inline constexpr std::size_t kBlockSize = 6;      // u16 BE
inline constexpr std::size_t kHeaderSize = 512;
inline constexpr std::size_t kMemoType =
    0;  // u32 BE in the memo block: 0 picture, 1 text, 2 object
inline constexpr std::size_t kMemoLength = 4;  // u32 BE: data bytes after this 8-byte header
inline constexpr std::size_t kMemoHeaderSize = 8;
}  // namespace fpt

}  // namespace bde::dbf

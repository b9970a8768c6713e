// The on-disk layout of Paradox tables (.db), blob files (.mb) and validity files (.val),
// declared once. Header and block integers are little-endian; values inside records are
// big-endian with the sign bit flipped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bde::px {

// Table header, from offset 0 of the .db.
namespace header {
inline constexpr std::size_t kRecordSize = 0x00;  // u16: bytes per record
inline constexpr std::size_t kHeaderSize = 0x02;  // u16: offset of data block 1
inline constexpr std::size_t kFileType =
    0x04;  // u8: 0 keyed table, 2 unkeyed table (others: index files)
inline constexpr std::size_t kBlockSizeCode = 0x05;  // u8: data block size in KiB
inline constexpr std::size_t kRecordCount = 0x06;    // u32
inline constexpr std::size_t kFileBlocks =
    0x0C;  // u16: data blocks in the file, free ones included
inline constexpr std::size_t kFirstBlock = 0x0E;     // u16: first block of the chain, 0 = none
inline constexpr std::size_t kLastBlock = 0x10;      // u16: last block of the chain
inline constexpr std::size_t kModified1 = 0x14;      // u8: nonzero = left open, rebuild needed
inline constexpr std::size_t kFieldCount = 0x21;     // u16
inline constexpr std::size_t kKeyFieldCount = 0x23;  // u16: the first n fields form the key
inline constexpr std::size_t kEncryption3 = 0x25;    // u32: 3.x encryption word; 0xFF00FF00 in 4.x+
inline constexpr std::size_t kSortOrder = 0x29;      // u8: short sort-order code (not unique)
inline constexpr std::size_t kModified2 = 0x2A;      // u8: nonzero = rebuild needed
inline constexpr std::size_t kChangeCount = 0x2E;    // u8: repeated in byte 0 of the .val
inline constexpr std::size_t kFileVersion =
    0x39;  // u8: 3 = 3.0, 4 = 3.5, 5-9 = 4.x, 10-11 = 5.x, 12+ = 7.x
inline constexpr std::size_t kAutoIncrement = 0x49;  // u32: last autoincrement value handed out
inline constexpr std::size_t kFixedSize = 0x58;      // end of the part every version has
// Paradox 4 and later tables only:
inline constexpr std::size_t kEncryption4 = 0x5C;   // u32: encryption word
inline constexpr std::size_t kCodePage = 0x6A;      // u16: DOS/Windows code page, 0 = none
inline constexpr std::size_t kExtendedSize = 0x78;  // field array of 4.x+ tables starts here
}  // namespace header

inline constexpr std::uint32_t kEncryptionMovedMark = 0xFF00FF00u;  // 0x25 of 4.x+ tables
inline constexpr std::uint8_t kFileTypeKeyed = 0;
inline constexpr std::uint8_t kFileTypeUnkeyed = 2;
inline constexpr int kFirstExtendedVersion = 5;   // fileVersionID of Paradox 4
inline constexpr int kLongTableNameVersion = 12;  // Paradox 7: 261-byte table name
inline constexpr std::size_t kTableNameSize = 79;
inline constexpr std::size_t kLongTableNameSize = 261;
inline constexpr std::size_t kPointerSize = 4;  // in-memory pointers kept in the header

// Field type codes (the first byte of each field's (type, size) pair).
enum FieldCode : std::uint8_t {
  kAlpha = 0x01,          // A
  kDate = 0x02,           // D
  kShort = 0x03,          // S
  kLong = 0x04,           // I
  kMoney = 0x05,          // $
  kNumber = 0x06,         // N
  kLogical = 0x09,        // L
  kMemo = 0x0C,           // M
  kBinary = 0x0D,         // B
  kFormattedMemo = 0x0E,  // F
  kOle = 0x0F,            // O
  kGraphic = 0x10,        // G
  kTime = 0x14,           // T
  kTimestamp = 0x15,      // @
  kAutoIncrement = 0x16,  // +
  kBcd = 0x17,            // #: the size byte is the scale; 17 bytes in the record
  kBytes = 0x18,          // Y
};
inline constexpr int kBcdStorage = 17;

// Data block header, at the start of every data block.
namespace block {
inline constexpr std::size_t kNext = 0;      // u16: next block of the chain, 0 = last
inline constexpr std::size_t kPrevious = 2;  // u16
inline constexpr std::size_t kLastOffset =
    4;  // i16: offset of the last record from byte 6; negative = empty
inline constexpr std::size_t kRecords = 6;
}  // namespace block

// The last 10 bytes of a blob field in the record; the bytes before them are the leader.
namespace blob_ref {
inline constexpr std::size_t kTailSize = 10;
inline constexpr std::size_t kLocation =
    0;  // u32: low byte = entry index (0xFF whole block), rest = .mb offset
inline constexpr std::size_t kLength = 4;     // u32: value length
inline constexpr std::size_t kModNumber = 8;  // u16
inline constexpr std::uint8_t kWholeBlock = 0xFF;
}  // namespace blob_ref

// Blob file (.mb): blocks of 4 KiB chunks.
namespace mb {
inline constexpr std::size_t kChunk = 4096;
inline constexpr std::size_t kType = 0;  // u8: 0 header, 2 single blob, 3 suballocated, 4 free
inline constexpr std::size_t kChunkCount = 1;  // u16
inline constexpr std::uint8_t kTypeSingle = 2;
inline constexpr std::uint8_t kTypeSuballocated = 3;
// Single-blob block:
inline constexpr std::size_t kSingleLength = 3;  // u32: blob length
inline constexpr std::size_t kSingleData = 9;
// Suballocated block: 64 entries of 5 bytes from 12.
inline constexpr std::size_t kEntries = 12;
inline constexpr std::size_t kEntrySize = 5;
inline constexpr std::size_t kEntryCount = 64;
inline constexpr std::size_t kEntryOffset = 0;  // u8: data offset / 16 from the block start
inline constexpr std::size_t kEntryChunks = 1;  // u8: length in 16-byte chunks, rounded up
inline constexpr std::size_t kEntryLastChunk =
    4;  // u8: bytes used in the last chunk (1-16), 0 = free
inline constexpr std::size_t kSubChunk = 16;
}  // namespace mb

// Validity-check file (.val).
namespace val {
inline constexpr std::size_t kChangeCount = 0x00;  // u8: the table's change count when written
inline constexpr std::size_t kRecordCount = 0x02;  // u8: field validity records
inline constexpr std::size_t kFooter = 0x09;       // u32: offset of the footer (end of the records)
inline constexpr std::size_t kFirstRecord = 0x35;
// Field validity record (fixed part).
inline constexpr std::size_t kFieldIndex = 0x00;     // u8: 0-based
inline constexpr std::size_t kPictureLength = 0x01;  // u8: including its NUL
inline constexpr std::size_t kRequired = 0x02;       // u8: 1 = a value is required
inline constexpr std::size_t kLookup = 0x04;         // u32: nonzero = lookup table present
inline constexpr std::size_t kMinimum = 0x0C;        // u32: nonzero = minimum present
inline constexpr std::size_t kMaximum = 0x10;        // u32
inline constexpr std::size_t kDefault = 0x14;        // u32
inline constexpr std::size_t kFixedSize = 0x1C;
inline constexpr std::size_t kLookupSize = 0x1A + 0x36;
}  // namespace val

}  // namespace bde::px

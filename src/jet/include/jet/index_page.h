// Index pages (types 0x03 node and 0x04 leaf) decoded into entries and encoded back.
//
// An index page is a header, a 453-byte entry mask whose set bits mark where each entry
// ends, and up to 3616 bytes of entries stored back to back. Entries are compared with
// memcmp and sorted ascending on the page and along each level of the tree. A page may
// store every entry after the first without the first `prefix_length` bytes, which they
// share with the first entry.
//
// Entry layout (big-endian inside, unlike every header field):
//   leaf entry: key | data page (3 bytes) | row (1 byte)
//   node entry: key | data page (3 bytes) | row (1 byte) | child page (4 bytes)
// A node entry is a copy of the last leaf entry under its child plus the child's number;
// the node's right-most child has no entry and is named by the tail field instead.
//
// These are pure functions over one page buffer: they know nothing of files, trees or the
// page cache. Decoding checks everything the page alone can show (type, mask, prefix,
// free-space field, entry order) and raises IndexPageError saying what is wrong; callers
// add the file, table and page number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/errors.h"
#include "jet/format.h"

namespace jet {

// The page header, declared once for the decoder and the encoder.
namespace index_page_layout {
inline constexpr std::size_t kPageSize = kJet4PageSize;
inline constexpr std::size_t kType = 0x00;             // u8: 0x03 node, 0x04 leaf
inline constexpr std::size_t kMagic = 0x01;            // u8: always 0x01
inline constexpr std::size_t kFreeSpace = 0x02;        // u16 LE: 3616 - bytes of stored entries
inline constexpr std::size_t kTableDefinition = 0x04;  // u32 LE: TDEF page of the owning table
inline constexpr std::size_t kUnknown08 = 0x08;        // u32 LE: unknown, 0 in every page seen
inline constexpr std::size_t kPrevPage = 0x0C;      // u32 LE: previous page of this level, 0 = none
inline constexpr std::size_t kNextPage = 0x10;      // u32 LE: next page of this level, 0 = none
inline constexpr std::size_t kTailPage = 0x14;      // u32 LE: node pages: right-most child; leaf: 0
inline constexpr std::size_t kPrefixLength = 0x18;  // u16 LE: bytes shared with the first entry
inline constexpr std::size_t kLevel = 0x1A;         // u8: 0 on leaves, 1 on parents of leaves, ...
inline constexpr std::size_t kEntryMask = 0x1B;     // 453 bytes: bit i = an entry ends at byte i
inline constexpr std::size_t kEntryMaskSize = 453;
inline constexpr std::size_t kEntries = 0x1E0;  // entry area, to the end of the page
inline constexpr std::size_t kEntryAreaSize = kPageSize - kEntries;  // 3616

inline constexpr std::uint8_t kNodeType = 0x03;
inline constexpr std::uint8_t kLeafType = 0x04;
inline constexpr std::uint8_t kMagicValue = 0x01;

inline constexpr std::size_t kRowPointerSize = 4;  // data page (3) + row (1)
inline constexpr std::size_t kChildSize = 4;       // node entries only
}  // namespace index_page_layout

// A page buffer that is no well-formed index page, or entries that do not fit one. The
// message says only what is wrong with the bytes; the B-tree reports a damaged page as
// CorruptDatabase with the file, table and page added.
class IndexPageError : public core::Exception {
 public:
  using core::Exception::Exception;
};

// Where an index entry points: the row's data page and slot.
struct IndexRowPointer {
  std::uint32_t page = 0;  // 24 bits on disk
  std::uint8_t row = 0;
  friend bool operator==(IndexRowPointer, IndexRowPointer) = default;
};

// One decoded index page. Entries are kept whole (prefix restored) in one buffer.
class IndexPage {
 public:
  bool leaf = true;
  std::uint32_t table_definition = 0;
  std::uint32_t unknown08 = 0;  // kept as read
  std::uint32_t prev_page = 0;
  std::uint32_t next_page = 0;
  std::uint32_t tail_page = 0;
  std::uint8_t level = 0;
  // The prefix length the page is encoded with. Decoding sets it to what the page had;
  // FitPrefix chooses it for a page that is about to be written.
  std::uint16_t prefix_length = 0;

  std::size_t size() const { return ends_.size(); }
  bool empty() const { return ends_.empty(); }
  std::span<const std::uint8_t> Entry(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {data_.data() + begin, ends_[i] - begin};
  }
  std::span<const std::uint8_t> Last() const { return Entry(size() - 1); }
  // Bytes of all entries, uncompressed, and where entry i ends among them.
  std::size_t DataSize() const { return data_.size(); }
  std::size_t EntryEnd(std::size_t i) const { return ends_[i]; }

  void Insert(std::size_t i, std::span<const std::uint8_t> entry);
  void Erase(std::size_t i);
  void Replace(std::size_t i, std::span<const std::uint8_t> entry);
  void Append(std::span<const std::uint8_t> entry) { Insert(size(), entry); }
  // Moves entries [0, count) to the end of `to`.
  void MoveFrontTo(std::size_t count, IndexPage& to);
  void ClearEntries() {
    data_.clear();
    ends_.clear();
    shortest_ = 0;
    synced_entries_ = 0;
  }

  // Part of an entry: what the tree compares (key and row pointer), the key alone, the row
  // pointer, and the child page of a node entry.
  std::span<const std::uint8_t> Comparable(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {data_.data() + begin, ends_[i] - begin - (leaf ? 0 : index_page_layout::kChildSize)};
  }
  std::span<const std::uint8_t> Key(std::size_t i) const {
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    return {data_.data() + begin, ends_[i] - begin - index_page_layout::kRowPointerSize -
                                      (leaf ? 0 : index_page_layout::kChildSize)};
  }
  IndexRowPointer RowPointer(std::size_t i) const;
  std::uint32_t Child(std::size_t i) const;

  // Bytes the entries take on the page with the given prefix length.
  std::size_t StoredSize(std::size_t prefix) const;
  // Longest prefix this page may use: what the first and last entries share, but never the
  // row byte (and on node pages never the row byte or the child page).
  std::size_t MaxPrefix() const;
  // Sets prefix_length to 0 if the entries fit uncompressed, else to MaxPrefix(). Returns
  // whether the page then fits.
  bool FitPrefix();

  // Records that page `page` of the file holds exactly these entries, header and prefix
  // (just decoded from it or encoded into it); EncodeIndexPageChanges then rewrites only
  // what changed since.
  void MarkSynced(std::uint32_t page);

 private:
  friend void DecodeIndexPage(std::span<const std::uint8_t> page, IndexPage& into);
  friend void EncodeIndexPageChanges(IndexPage& page, std::uint32_t number,
                                     std::span<std::uint8_t> out);
  std::vector<std::uint8_t> data_;
  std::vector<std::uint32_t> ends_;  // end of entry i in data_
  // Length of the shortest entry, kept while entries are only added (0 = recompute).
  mutable std::size_t shortest_ = 0;
  // What MarkSynced recorded: the page number (0 = none), how many leading entries are
  // unchanged since (every change lowers it), and the prefix and kind then.
  std::uint32_t synced_page_ = 0;
  std::size_t synced_entries_ = 0;
  std::uint16_t synced_prefix_ = 0;
  bool synced_leaf_ = true;
  std::size_t synced_bytes_ = 0;  // bytes of stored entries then
};

// Decodes a page; raises IndexPageError when it is not a well-formed index page.
IndexPage DecodeIndexPage(std::span<const std::uint8_t> page);
// The same into an existing page object, whose buffers are reused (its old content goes).
void DecodeIndexPage(std::span<const std::uint8_t> page, IndexPage& into);

// Writes the page (all 4096 bytes, zeros after the last entry) with the page's
// prefix_length. Raises IndexPageError if the entries do not fit or the prefix is not
// shared by every entry.
void EncodeIndexPage(const IndexPage& page, std::span<std::uint8_t> out);
// The same into `out`, which holds page `number` as the page object last recorded with
// MarkSynced: with no prefix, only the bytes of the changed entries and the header are
// rewritten (an append touches a few bytes, not the page); otherwise the whole page.
// Records the result with MarkSynced.
void EncodeIndexPageChanges(IndexPage& page, std::uint32_t number, std::span<std::uint8_t> out);

// Entry building helpers.
void AppendRowPointer(std::vector<std::uint8_t>& entry, IndexRowPointer where);
void AppendChild(std::vector<std::uint8_t>& entry, std::uint32_t child);

}  // namespace jet

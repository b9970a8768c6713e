// Reading a table's indexes in key order: the engine's front door for everything above it
// that walks or seeks an index (DAO's table-type recordsets, the SQL layer's index scans,
// the command line's entry counts).
//
// An `IndexCursor` is opened on a table and one of its real indexes. It seeks with DAO's
// five comparisons, steps both ways, positions on an exact entry, passes whole leaves when
// moving far forward, tells how many entries precede its own, and ends a walk over a range
// of keys. Positions survive changes to the table: after rows were added, changed or
// deleted (through any table object), the cursor finds its entry again, or the place where
// that entry was. A copy of a cursor is a second position over the same index sharing the
// pages it has decoded.
//
// What the cursor stands on (the page cache and the index's B-tree) stays inside the
// engine; nothing here gives it away. Steps and seeks allocate nothing per call beyond
// what the tree itself needs to decode a page it has not seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/table_definition.h"

namespace jet {

class IndexTree;
class Table;

// One column of a real index, with what its key segment needs.
struct IndexKeyColumn {
  std::uint16_t column_number = 0;  // the column descriptor's number (not its position)
  std::string name;                 // for messages
  KeyColumn key;                    // type, direction, sort order
};

// What the trees need to know about one real index; filled from the table definition.
struct IndexDefinition {
  std::string name;  // the logical index name(s) using it, for messages
  std::vector<IndexKeyColumn> columns;
  std::uint8_t flags = index_flag::kAccess2000;
  bool primary_key = false;  // a primary-key logical index uses it: unique and required
  std::uint32_t root_page = 0;
  RowPointer usage_map;  // row holding the map of the index's pages
  std::uint32_t table_definition_page = 0;

  bool Unique() const { return primary_key || (flags & index_flag::kUnique) != 0; }
  bool Required() const { return primary_key || (flags & index_flag::kRequired) != 0; }
  bool IgnoreNulls() const { return (flags & index_flag::kIgnoreNulls) != 0; }
};

// The index definition of real index `real_index` of a table: its columns with their
// types and sort orders, flags, root and map, and whether a primary key uses it. Raises
// CorruptDatabase when the index names a column the table does not have or one whose type
// no key can hold.
IndexDefinition DescribeIndex(const TableDefinition& table, std::size_t real_index,
                              const std::string& file, const std::string& table_name);

// Names for messages: "file", "table", and the tree's index.
struct IndexContext {
  std::string file;
  std::string table;
};

enum class SeekComparison { kEqual, kLess, kLessEqual, kGreater, kGreaterEqual };

// A position in an index's entry order. Survives changes to the tree: after one, the
// cursor finds its entry again (or, if that entry is gone, the place where it was).
class IndexCursor {
 public:
  // A cursor over real index `real_index` of `table`, off the index until it is first
  // positioned. Nothing is read until then. The table must stay open while the cursor
  // (or a copy of it) lives.
  IndexCursor(Table& table, std::size_t real_index);
  // A cursor over a tree the engine keeps alive itself.
  explicit IndexCursor(IndexTree& tree) : tree_(&tree) {}

  // The definition the cursor was opened with (columns and their key segments).
  const IndexDefinition& Definition() const;
  // How many decoded pages the index keeps between operations (at least 16): a reader that
  // only seeks and walks needs far fewer than the default, which suits writing.
  void SetCacheLimit(std::size_t pages);
  // Every entry of the index (walks the leaves).
  std::uint64_t CountEntries();
  // The entry bytes of a key and row pointer, as Entry() gives them and SeekEntry takes them.
  static std::vector<std::uint8_t> MakeEntry(std::span<const std::uint8_t> key,
                                             IndexRowPointer row);

  bool First();
  bool Last();
  bool Next();  // false past the last entry (the cursor is then off the index)
  bool Prev();
  // Positions on the entry the comparison selects among entries whose key starts with
  // `prefix`: kEqual and kGreaterEqual the first entry at or after the prefix (kEqual only
  // one that starts with it), kGreater the first after every entry that starts with it,
  // kLessEqual the last entry at or before them, kLess the last one before the prefix.
  // False (NoMatch) leaves the cursor off the index.
  bool Seek(SeekComparison comparison, std::span<const std::uint8_t> prefix);
  // Positions on this exact entry; false if it is not in the index.
  bool Find(std::span<const std::uint8_t> key, IndexRowPointer row);
  // Positions on the first entry at or after `entry` (key and row pointer, as Entry() gives
  // them): the entry itself when it is there, else the one that follows where it would be;
  // false (off the index) when no entry does.
  bool SeekEntry(std::span<const std::uint8_t> entry);
  // Moves `count` entries forward, skipping whole leaves by their sizes: one page per leaf
  // passed, not one step per entry. False (off the index) when the index ends first.
  bool Skip(std::uint64_t count);
  // How many entries precede the cursor's entry: the sizes of the leaves before its leaf
  // plus its slot (one page per leaf from the first). The cursor must be on an entry.
  std::uint64_t Rank();
  // The end test of a walk over a range of keys: whether the cursor's key is before
  // `bound` (or equal to it, when `inclusive`), comparing only the key's first
  // `bound.size()` bytes, so that a bound on the leading columns takes every key that
  // starts with it. The cursor must be on an entry.
  bool KeyWithin(std::span<const std::uint8_t> bound, bool inclusive) const;

  bool Valid() const { return valid_; }
  std::span<const std::uint8_t> Key() const;
  IndexRowPointer Row() const;
  // Key and row pointer as stored.
  std::span<const std::uint8_t> Entry() const { return entry_; }

 private:
  friend class IndexTree;
  bool Resync();
  bool StillHere();
  std::shared_ptr<IndexTree> owned_;  // the tree of a cursor opened on a table, shared by copies
  IndexTree* tree_;
  bool valid_ = false;
  std::uint32_t leaf_ = 0;
  std::size_t slot_ = 0;
  std::uint64_t version_ = 0;
  std::vector<std::uint8_t> entry_;
};

}  // namespace jet

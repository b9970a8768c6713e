// Index B-trees on the page cache, and the per-table maintenance that keeps them in step
// with the rows.
//
// One `IndexTree` is one real index: a tree of index pages whose root page never moves.
// It finds, inserts and removes entries (key + row pointer), splits pages and grows the
// root in place, frees pages that empty, scans in order both ways, seeks with the five DAO
// comparisons, and builds a whole tree in one pass from sorted entries. It reads and
// writes pages only through the Pager, and every page it allocates or frees joins or
// leaves the index's usage map in the same step. The Pager owns the bytes of every page:
// the tree keeps decoded views of the pages it used, and every page an operation changed
// is encoded into the Pager before the operation returns, so the page cache, its write
// order and the journal see each change before anything else can. Every tree over the
// same index (same Pager, same root) shares one write counter: a tree whose counter moved
// since its last operation drops its decoded pages, so a second tree (a check, a rebuild,
// a Seek cursor) never leaves another acting on stale pages. An operation that fails
// part-way leaves its changed pages out of the Pager (the failure marks the Pager failed,
// so nothing of it is committed) and the tree drops them at its next operation. Pages
// changed by anything else than an IndexTree are not noticed: keep all index writes in
// this module.
//
// `IndexMaintainer` is what the row layer calls: it turns a row's column values into the
// key of every real index of the table, checks uniqueness, Nulls and sort orders of all of
// them before anything is written, and then applies the change to every tree.
//
// Shape of a tree (what Access writes and what every change here keeps):
// - leaves on one level, linked in key order through prev/next; node levels linked the
//   same way;
// - a node stores an entry (copy of its child's last leaf entry + child page) for every
//   child but the right-most, which is the node's tail; a node with one child stores it as
//   an entry and has no tail;
// - byte 0x1A of a page is its height above the leaves;
// - an empty index is one empty leaf, the root.
//
// Internal to the engine: the layers above read an index through `IndexCursor`
// (jet/index_cursor.h), which owns its tree, and never see a tree or the page cache.
//
// Nothing here knows DAO: errors are jet::JetError / jet::CorruptDatabase; the DAO layer
// maps ErrorCode::kDuplicateKey to its error 3022 and kNullNotAllowed raised here to 3058.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/errors.h"
#include "jet/format.h"
#include "jet/index_cursor.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/pager.h"
#include "jet/table_definition.h"

namespace jet {

// DAO's texts for the two refusals an index makes.
inline constexpr const char* kDuplicateKeyMessage =
    "The changes you requested to the table were not successful because they would create "
    "duplicate values in the index, primary key, or relationship. Change the data in the field "
    "or fields that contain duplicate data, remove the index, or redefine the index to permit "
    "duplicate entries and try again.";
inline constexpr const char* kNullKeyMessage = "Index or primary key cannot contain a Null value.";

// Longest key an entry may carry: three node entries must fit on a page so that splits
// always leave both halves valid.
inline constexpr std::size_t kMaxKeyLength = index_page_layout::kEntryAreaSize / 3 - 8;

struct IndexPageStats {
  std::uint32_t pages = 0;
  std::uint32_t leaves = 0;
  std::uint32_t height = 0;  // 1 = the root is a leaf
};

class IndexTree {
 public:
  IndexTree(Pager& pager, IndexDefinition definition, IndexContext context);
  IndexTree(const IndexTree&) = delete;
  IndexTree& operator=(const IndexTree&) = delete;
  ~IndexTree();

  const IndexDefinition& Definition() const { return definition_; }

  // The entry bytes of a key and row pointer.
  static std::vector<std::uint8_t> MakeEntry(std::span<const std::uint8_t> key,
                                             IndexRowPointer row);

  // Whether some entry has exactly this key.
  bool ContainsKey(std::span<const std::uint8_t> key);
  bool Contains(std::span<const std::uint8_t> key, IndexRowPointer row);

  // Adds the entry; returns whether its key was new to the index (for the distinct-key
  // count). Uniqueness is the caller's business (IndexMaintainer checks before writing).
  // Raises JetError for a key longer than kMaxKeyLength and CorruptDatabase when the
  // entry is there already or the pages are damaged.
  bool Insert(std::span<const std::uint8_t> key, IndexRowPointer row);
  // Removes the entry; false if it was not there.
  bool Remove(std::span<const std::uint8_t> key, IndexRowPointer row);
  // Removes the entry of this row whatever its key (walks the leaves); false if none.
  bool RemoveRow(IndexRowPointer row);

  // Replaces the whole content with these entries, which must be sorted and distinct
  // (key + row pointer): leaves filled left to right, node levels above them, the top
  // page written into the root. Old pages other than the root are freed first.
  void Build(const std::vector<std::vector<std::uint8_t>>& sorted_entries);
  // Frees every page but the root, which becomes an empty leaf.
  void Clear();
  // Frees every page including the root (the index is being dropped).
  void Drop();

  // Every page of the tree, root first (walks the whole tree).
  std::vector<std::uint32_t> Pages();
  IndexPageStats PageStats();
  std::uint64_t CountEntries();

  // The decoded page (cached). Raises CorruptDatabase naming the file, table, index and
  // page when the page is not a valid index page of this index.
  const IndexPage& ReadPage(std::uint32_t page);

  // Bumped by every change; cursors use it to notice that they must find their place again.
  std::uint64_t Version() const { return version_; }

  // How many decoded pages the tree keeps between operations (at least 16): a tree that
  // only seeks and walks for one reader needs far fewer than one that writes.
  void SetCacheLimit(std::size_t pages) { cache_limit_ = pages < 16 ? 16 : pages; }

  [[noreturn]] void Corrupt(std::uint32_t page, const std::string& what) const;
  // Raises JetError kValueInvalid, naming the index, for a key longer than kMaxKeyLength.
  void CheckKeyLength(std::span<const std::uint8_t> key) const;

 private:
  friend class IndexCursor;
  struct CachedPage {
    IndexPage page;
    bool dirty = false;
    std::uint64_t used = 0;
  };
  // Pages from the root down to a leaf, and the slot taken at each node (slot == size()
  // means the tail).
  struct Path {
    std::vector<std::uint32_t> pages;
    std::vector<std::size_t> slots;  // slots[d] leads from pages[d] to pages[d+1]
    std::size_t leaf_slot = 0;
    // Depth of the leaf level; pages may end above it once an emptied leaf is freed.
    std::size_t leaf_depth = 0;
    std::size_t LeafDepth() const { return leaf_depth; }
  };
  enum class Target { kEntry, kKeyAtLeast, kKeyAbove };

  // A leaf's entry count and next leaf: from its decoded page when cached, else straight
  // from its bytes in the Pager (which always hold every change), without decoding.
  std::pair<std::size_t, std::uint32_t> LeafSizeAndNext(std::uint32_t leaf);
  // Encodes the pages changed by the operation under way into the Pager.
  void WriteDirty();
  // Forgets the pages a failed operation changed.
  void DropDirty();
  void MarkDirty(std::uint32_t page, CachedPage& cached);
  void Encode(std::uint32_t page, CachedPage& cached);

  IndexPage& Mutable(std::uint32_t page);
  CachedPage& Load(std::uint32_t page);
  CachedPage* Cached(std::uint32_t page) {
    return page < cache_.size() ? cache_[page].get() : nullptr;
  }
  // A cache slot for the page, holding an empty page object.
  CachedPage& Emplace(std::uint32_t page);
  void Forget(std::uint32_t page);
  void ForgetAll();
  std::uint32_t NewPage();
  void FreePage(std::uint32_t page);
  // Called at the end of every change: moves the write counters (pages stay cached).
  void EndChange();
  // Called at the start of every public operation: drops what a failed operation left and
  // the cache if another tree wrote this index since, and trims it.
  void Begin();
  void Trim();
  void CheckChild(std::uint32_t parent, std::uint32_t child, std::size_t depth) const;

  Path Descend(std::span<const std::uint8_t> target, Target mode);
  void Descend(std::span<const std::uint8_t> target, Target mode, Path& path);
  // Whether Descend(entry, kEntry) would give this path (the pages have not changed since).
  bool LeadsTo(const Path& path, std::span<const std::uint8_t> entry);
  static std::size_t Search(const IndexPage& page, std::span<const std::uint8_t> target,
                            Target mode);
  // First position at or after (leaf, slot) that holds an entry; leaf 0 when none.
  void Normalize(std::uint32_t& leaf, std::size_t& slot);
  std::vector<std::uint8_t> SubtreeMax(std::uint32_t page);
  void PropagateMax(Path& path, std::size_t depth, std::span<const std::uint8_t> max);
  void FixOverflow(Path& path, bool appending);
  void NestRoot(Path& path);
  void Split(Path& path, std::size_t depth, bool appending);
  void RemoveEmpty(Path& path, std::size_t depth);
  std::span<const std::uint8_t> NeighbourKey(std::uint32_t leaf, std::size_t slot, bool before);

  Pager& pager_;
  UsageMap* map_;
  IndexDefinition definition_;
  IndexContext context_;
  // Decoded pages by page number (null = not decoded), how many there are, and page objects
  // dropped from the cache, kept for their buffers.
  std::vector<std::unique_ptr<CachedPage>> cache_;
  std::size_t cached_ = 0;
  std::vector<std::unique_ptr<CachedPage>> spare_;
  std::vector<std::uint32_t> dirty_;  // pages the operation under way changed
  std::uint64_t clock_ = 0;
  std::uint64_t version_ = 0;
  std::uint64_t* writes_;  // this index's write count, shared by every tree over it
  std::uint64_t seen_writes_ = 0;
  std::size_t cache_limit_ = 8192;  // decoded pages (about 5 KiB each)
  // Reused by Insert and ContainsKey; ContainsKey leaves its walk for the Insert that
  // usually follows, valid while version_ is hint_version_ and the key is the same.
  Path path_;
  std::vector<std::uint8_t> entry_;
  std::vector<std::uint8_t> hint_key_;
  std::uint64_t hint_version_ = 0;
  bool hint_valid_ = false;
};

// A row's values as the maintainer asks for them: the value of the column with this
// number (its descriptor's number). The returned views must stay valid until the
// maintainer call returns.
using RowValues = std::function<KeyValue(std::uint16_t column_number)>;
using IndexRowVisitor = std::function<void(IndexRowPointer, const RowValues&)>;
// Calls its argument once for every live row of a table.
using IndexRowWalk = std::function<void(const IndexRowVisitor&)>;

// The per-index counters kept in the table definition's statistics block.
struct IndexCounters {
  std::uint32_t entries = 0;   // first word: entries as of the last build (0 if unknown)
  std::uint32_t distinct = 0;  // second word: never decreases
};

// Keeps every real index of one table in step with its rows.
//
// Insert: PrepareInsert computes every key and checks every unique index, required and
// primary-key Nulls and sort orders; it raises before the caller writes anything. The
// caller then writes the row and calls CommitInsert with its row pointer. Update works the
// same way with the old and the new values; Delete removes the row's entries.
class IndexMaintainer {
 public:
  IndexMaintainer(Pager& pager, IndexContext context, std::vector<IndexDefinition> indexes,
                  std::vector<IndexCounters> counters = {});
  // Every real index of the table, with the counters of its statistics block.
  IndexMaintainer(Pager& pager, IndexContext context, const TableDefinition& table);
  // Copies the counters into the definition (for StoreTableCounters).
  void StoreCounters(TableDefinition& table) const;

  std::size_t size() const { return trees_.size(); }
  IndexTree& Tree(std::size_t i) { return *trees_[i]; }
  const std::vector<IndexCounters>& Counters() const { return counters_; }
  // True when a counter changed since the last call to ClearCountersChanged (the table
  // definition's statistics block needs rewriting).
  bool CountersChanged() const { return counters_changed_; }
  void ClearCountersChanged() { counters_changed_ = false; }

  // Empty when rows can be inserted; otherwise why not (an index sorting text in an order
  // other than General), naming the file, table, index, column and sort order.
  std::string WriteRefusal() const;

  // The key index i gives this row, or nothing when the row gets no entry (ignore-nulls
  // and every index column Null). Raises JetError when a value cannot be encoded.
  std::optional<std::vector<std::uint8_t>> KeyOf(std::size_t i, const RowValues& row) const {
    return KeyFor(i, row, false);
  }
  // Whether index i's keys can be built (false: text in a sort order other than General).
  bool CanEncode(std::size_t i) const;

  struct Prepared {
    // Per index: the new key, or nothing when the row gets no entry (ignore-nulls).
    std::vector<std::optional<std::vector<std::uint8_t>>> keys;
    // Update only: per index, the old key and whether the entry changes at all.
    std::vector<std::optional<std::vector<std::uint8_t>>> old_keys;
    std::vector<bool> changed;
    bool update = false;
  };

  Prepared PrepareInsert(const RowValues& row);
  void CommitInsert(const Prepared& prepared, IndexRowPointer where);
  // `where` is the row being changed: its own entries never count as duplicates.
  Prepared PrepareUpdate(const RowValues& old_row, const RowValues& new_row, IndexRowPointer where);
  void CommitUpdate(const Prepared& prepared, IndexRowPointer where);
  void Delete(const RowValues& old_row, IndexRowPointer where);

  // Builds index i from every row of the table (an index added to a table that has rows):
  // `rows` calls its argument once per live row. Raises the duplicate-key error, leaving
  // the index empty, when a unique index would get two equal keys.
  void BuildFromRows(
      std::size_t i,
      const std::function<void(const std::function<void(IndexRowPointer, const RowValues&)>&)>&
          rows);

 private:
  // The key of index i for this row; nothing when the row gets no entry.
  std::optional<std::vector<std::uint8_t>> KeyFor(std::size_t i, const RowValues& row,
                                                  bool check_nulls) const;
  bool AllNull(std::size_t i, const RowValues& row) const;
  void RefuseIfUnwritable(std::size_t i) const;
  bool SameColumns(std::size_t i, const RowValues& a, const RowValues& b) const;

  Pager& pager_;
  IndexContext context_;
  std::vector<std::unique_ptr<IndexTree>> trees_;
  std::vector<IndexCounters> counters_;
  bool counters_changed_ = false;
};

// The key a row gives an index (nothing when ignore-nulls leaves the row out); with
// `check_nulls`, a Null in a required or primary-key index raises kNullNotAllowed. Raises
// kValueInvalid for a value no key can hold or a key longer than kMaxKeyLength.
std::optional<std::vector<std::uint8_t>> RowKey(const IndexDefinition& definition,
                                                const IndexContext& context, const RowValues& row,
                                                bool check_nulls);
bool RowKeyAllNull(const IndexDefinition& definition, const RowValues& row);
void CheckIndexKeyLength(const IndexDefinition& definition, const IndexContext& context,
                         std::span<const std::uint8_t> key);

// The sorted entries the rows give an index, checked as a one-pass build checks them
// (sort order, Nulls, key length, duplicates in a unique index) before anything is
// written. `counters` receives the entry and distinct-key counts.
std::vector<std::vector<std::uint8_t>> CollectIndexEntries(const IndexDefinition& definition,
                                                           const IndexContext& context,
                                                           const IndexRowWalk& rows,
                                                           IndexCounters* counters);

}  // namespace jet

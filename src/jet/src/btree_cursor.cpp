// Index B-tree cursors: positions in key order, moves, skips and ranks.
#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <unordered_set>

#include "btree.h"
#include "btree_keys.h"
#include "core/internal_error.h"
#include "database_internal.h"

namespace jet {
namespace {

namespace L = index_page_layout;
using tree::Compare;
using tree::ComparePrefix;

}  // namespace

// ---------------------------------------------------------------------------------------
// Cursor

IndexCursor::IndexCursor(Table& table, std::size_t real_index)
    : owned_(std::make_shared<IndexTree>(
          PageCacheOf(table.db_),
          DescribeIndex(table.Definition(), real_index, table.db_.Path(), table.Name()),
          IndexContext{table.db_.Path(), table.Name()})),
      tree_(owned_.get()) {}

const IndexDefinition& IndexCursor::Definition() const {
  return tree_->Definition();
}

void IndexCursor::SetCacheLimit(std::size_t pages) {
  tree_->SetCacheLimit(pages);
}

std::uint64_t IndexCursor::CountEntries() {
  return tree_->CountEntries();
}

std::vector<std::uint8_t> IndexCursor::MakeEntry(std::span<const std::uint8_t> key,
                                                 IndexRowPointer row) {
  return IndexTree::MakeEntry(key, row);
}

bool IndexCursor::KeyWithin(std::span<const std::uint8_t> bound, bool inclusive) const {
  const std::span<const std::uint8_t> key = Key();
  const std::size_t n = std::min(key.size(), bound.size());
  int c = n == 0 ? 0 : std::memcmp(key.data(), bound.data(), n);
  if (c == 0 && key.size() < bound.size()) c = -1;
  return c < 0 || (c == 0 && inclusive);
}

std::span<const std::uint8_t> IndexCursor::Key() const {
  return std::span(entry_).first(entry_.size() - L::kRowPointerSize);
}

IndexRowPointer IndexCursor::Row() const {
  const std::uint8_t* p = entry_.data() + entry_.size() - L::kRowPointerSize;
  return {static_cast<std::uint32_t>((p[0] << 16) | (p[1] << 8) | p[2]), p[3]};
}

namespace {
void Remember(std::vector<std::uint8_t>& into, std::span<const std::uint8_t> entry) {
  into.assign(entry.begin(), entry.end());
}
}  // namespace

bool IndexCursor::First() {
  tree_->Begin();
  // The smallest entry: descend with an empty target.
  IndexTree::Path path = tree_->Descend({}, IndexTree::Target::kKeyAtLeast);
  leaf_ = path.pages.back();
  slot_ = 0;
  tree_->Normalize(leaf_, slot_);
  valid_ = leaf_ != 0;
  if (valid_) Remember(entry_, tree_->Load(leaf_).page.Comparable(slot_));
  version_ = tree_->Version();
  return valid_;
}

bool IndexCursor::Last() {
  tree_->Begin();
  std::uint32_t number = tree_->definition_.root_page;
  for (std::size_t depth = 0;; ++depth) {
    const IndexPage& page = tree_->Load(number).page;
    if (page.leaf) break;
    std::uint32_t child =
        page.tail_page != 0 ? page.tail_page : (page.empty() ? 0 : page.Child(page.size() - 1));
    if (child == 0) tree_->Corrupt(number, "a node page without children");
    tree_->CheckChild(number, child, depth + 1);
    number = child;
  }
  // Empty leaves at the right end (not written by us, but possible) are skipped backwards.
  std::size_t hops = 0;
  while (number != 0 && tree_->Load(number).page.empty()) {
    number = tree_->Load(number).page.prev_page;
    if (++hops > tree_->pager_.PageCount()) tree_->Corrupt(number, "the leaf chain loops");
  }
  valid_ = number != 0;
  leaf_ = number;
  if (valid_) {
    slot_ = tree_->Load(number).page.size() - 1;
    Remember(entry_, tree_->Load(number).page.Comparable(slot_));
  }
  version_ = tree_->Version();
  return valid_;
}

// After a change to the tree, finds the remembered entry again. Returns whether the entry
// itself is still there; if not, the cursor is on the first entry after it (or invalid).
bool IndexCursor::Resync() {
  if (version_ == tree_->Version() && StillHere()) {
    version_ = tree_->Version();
    return true;
  }
  version_ = tree_->Version();
  IndexTree::Path path = tree_->Descend(entry_, IndexTree::Target::kEntry);
  leaf_ = path.pages.back();
  slot_ = path.leaf_slot;
  tree_->Normalize(leaf_, slot_);
  if (leaf_ == 0) return false;
  const auto here = tree_->Load(leaf_).page.Comparable(slot_);
  return std::equal(here.begin(), here.end(), entry_.begin(), entry_.end());
}

// Whether the remembered leaf still holds the remembered entry at the remembered slot.
bool IndexCursor::StillHere() {
  try {
    const IndexPage& page = tree_->Load(leaf_).page;
    if (!page.leaf || slot_ >= page.size()) return false;
    const auto here = page.Comparable(slot_);
    return std::equal(here.begin(), here.end(), entry_.begin(), entry_.end());
  } catch (const CorruptDatabase&) {
    return false;  // the page is no longer ours; the descent from the root decides
  }
}

bool IndexCursor::Next() {
  tree_->Begin();
  if (!valid_) return false;
  if (Resync()) {
    ++slot_;
    tree_->Normalize(leaf_, slot_);
  }
  valid_ = leaf_ != 0;
  if (valid_) Remember(entry_, tree_->Load(leaf_).page.Comparable(slot_));
  return valid_;
}

bool IndexCursor::Skip(std::uint64_t count) {
  tree_->Begin();
  if (!valid_) return false;
  if (!Resync()) {
    // The entry went; the cursor is on the one after it, which counts as the first step.
    if (leaf_ == 0) return valid_ = false;
    if (count > 0) --count;
  }
  std::size_t hops = 0;
  while (leaf_ != 0) {
    const auto [size, next] = tree_->LeafSizeAndNext(leaf_);
    const std::size_t remaining = size > slot_ ? size - slot_ : 0;
    if (count < remaining) {
      slot_ += static_cast<std::size_t>(count);
      const IndexPage& page = tree_->Load(leaf_).page;  // only the leaf it stops on is decoded
      Remember(entry_, page.Comparable(slot_));
      return valid_ = true;
    }
    count -= remaining;
    leaf_ = next;
    slot_ = 0;
    if (++hops > tree_->pager_.PageCount()) tree_->Corrupt(leaf_, "the leaf chain loops");
  }
  return valid_ = false;
}

std::pair<std::size_t, std::uint32_t> IndexTree::LeafSizeAndNext(std::uint32_t leaf) {
  if (const CachedPage* cached = Cached(leaf)) {
    if (!cached->page.leaf) Corrupt(leaf, "the leaf chain reaches a node page");
    return {cached->page.size(), cached->page.next_page};
  }
  if (leaf < 2 || leaf >= pager_.PageCount()) {
    Corrupt(leaf, "points to page " + std::to_string(leaf) + ", outside the file (" +
                      std::to_string(pager_.PageCount()) + " pages)");
  }
  PageRef ref = pager_.Read(leaf);
  const std::uint8_t* p = ref.Data();
  if (p[L::kType] != L::kLeafType) Corrupt(leaf, "the leaf chain reaches a page that is no leaf");
  std::size_t count = 0;
  for (std::size_t i = 0; i < L::kEntryMaskSize; ++i) count += std::popcount(p[L::kEntryMask + i]);
  return {count, Le32(p + L::kNextPage)};
}

std::uint64_t IndexCursor::Rank() {
  tree_->Begin();
  if (!valid_) core::ThrowInternal("IndexCursor::Rank needs a cursor on an entry");
  Resync();
  if (leaf_ == 0) core::ThrowInternal("IndexCursor::Rank needs a cursor on an entry");
  IndexTree::Path path = tree_->Descend({}, IndexTree::Target::kKeyAtLeast);
  std::uint32_t leaf = path.pages.back();
  std::uint64_t before = 0;
  std::size_t hops = 0;
  while (leaf != leaf_) {
    if (leaf == 0) tree_->Corrupt(leaf_, "the leaf is not on the leaf chain");
    const auto [size, next] = tree_->LeafSizeAndNext(leaf);
    before += size;
    leaf = next;
    if (++hops > tree_->pager_.PageCount()) tree_->Corrupt(leaf, "the leaf chain loops");
  }
  return before + slot_;
}

bool IndexCursor::Prev() {
  tree_->Begin();
  if (!valid_) return false;
  const bool found = Resync();
  if (!found && leaf_ == 0)
    return Last();  // everything after it is gone: the last entry precedes it
  std::size_t hops = 0;
  while (slot_ == 0) {
    leaf_ = tree_->Load(leaf_).page.prev_page;
    if (leaf_ == 0) {
      valid_ = false;
      return false;
    }
    slot_ = tree_->Load(leaf_).page.size();
    if (++hops > tree_->pager_.PageCount()) tree_->Corrupt(leaf_, "the leaf chain loops");
  }
  --slot_;
  Remember(entry_, tree_->Load(leaf_).page.Comparable(slot_));
  return valid_ = true;
}

bool IndexCursor::Find(std::span<const std::uint8_t> key, IndexRowPointer row) {
  tree_->Begin();
  const auto entry = IndexTree::MakeEntry(key, row);
  IndexTree::Path path = tree_->Descend(entry, IndexTree::Target::kEntry);
  leaf_ = path.pages.back();
  slot_ = path.leaf_slot;
  tree_->Normalize(leaf_, slot_);
  version_ = tree_->Version();
  valid_ = leaf_ != 0 && Compare(tree_->Load(leaf_).page.Comparable(slot_), entry) == 0;
  if (valid_) entry_ = entry;
  return valid_;
}

bool IndexCursor::SeekEntry(std::span<const std::uint8_t> entry) {
  tree_->Begin();
  IndexTree::Path path = tree_->Descend(entry, IndexTree::Target::kEntry);
  leaf_ = path.pages.back();
  slot_ = path.leaf_slot;
  tree_->Normalize(leaf_, slot_);
  version_ = tree_->Version();
  valid_ = leaf_ != 0;
  if (valid_) Remember(entry_, tree_->Load(leaf_).page.Comparable(slot_));
  return valid_;
}

bool IndexCursor::Seek(SeekComparison comparison, std::span<const std::uint8_t> prefix) {
  tree_->Begin();
  version_ = tree_->Version();
  const bool upper =
      comparison == SeekComparison::kGreater || comparison == SeekComparison::kLessEqual;
  IndexTree::Path path =
      tree_->Descend(prefix, upper ? IndexTree::Target::kKeyAbove : IndexTree::Target::kKeyAtLeast);
  leaf_ = path.pages.back();
  slot_ = path.leaf_slot;
  tree_->Normalize(leaf_, slot_);
  const bool at_end = leaf_ == 0;
  switch (comparison) {
    case SeekComparison::kEqual:
      valid_ = !at_end && ComparePrefix(tree_->Load(leaf_).page.Key(slot_), prefix) == 0;
      break;
    case SeekComparison::kGreaterEqual:
    case SeekComparison::kGreater:
      valid_ = !at_end;
      break;
    case SeekComparison::kLess:
    case SeekComparison::kLessEqual:
      // The entry before the bound.
      if (at_end) return Last();
      valid_ = true;
      Remember(entry_, tree_->Load(leaf_).page.Comparable(slot_));
      return Prev();
  }
  if (valid_) Remember(entry_, tree_->Load(leaf_).page.Comparable(slot_));
  return valid_;
}

}  // namespace jet

// Index B-trees: search, insert with splits and root growth, delete, one-pass build.
#include "btree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <unordered_set>

#include "btree_keys.h"
#include "core/internal_error.h"
#include "database_internal.h"

namespace jet {
namespace {

namespace L = index_page_layout;

using tree::Compare;
using tree::ComparePrefix;
using tree::kMaxDepth;

// Pages this module writes are never prefix-compressed: a page whose entries do not fit
// whole is split instead. Encoding stays one copy, and readers see the layout most Access
// pages have. Compressed pages in a file are read, and rewritten whole when they change.
bool Fits(IndexPage& page) {
  page.prefix_length = 0;
  return page.StoredSize(0) <= L::kEntryAreaSize;
}

std::vector<std::uint8_t> WithChild(std::span<const std::uint8_t> comparable, std::uint32_t child) {
  std::vector<std::uint8_t> entry(comparable.begin(), comparable.end());
  AppendChild(entry, child);
  return entry;
}

// A node with two or more children names the right-most one in its tail only.
void NormalizeTail(IndexPage& node) {
  if (!node.leaf && node.tail_page == 0 && node.size() >= 2) {
    node.tail_page = node.Child(node.size() - 1);
    node.Erase(node.size() - 1);
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Pages

IndexTree::IndexTree(Pager& pager, IndexDefinition definition, IndexContext context)
    : pager_(pager),
      map_(nullptr),
      definition_(std::move(definition)),
      context_(std::move(context)) {
  // One counter per index of one open database; the engine is single-threaded.
  static std::map<std::pair<const Pager*, std::uint32_t>, std::uint64_t> write_counts;
  writes_ = &write_counts[{&pager_, definition_.root_page}];
  seen_writes_ = *writes_;
  if (pager_.Version() != JetVersion::kJet4) {
    ThrowJet(ErrorCode::kUnsupportedVersion,
             context_.file + ": indexes of Jet 3 databases are not read or written");
  }
  // A null map pointer means the index keeps no usage map (only tests build such trees).
  if (pager_.Writable() && !definition_.usage_map.IsNull())
    map_ = &pager_.Map(definition_.usage_map);
}

void IndexTree::Corrupt(std::uint32_t page, const std::string& what) const {
  ThrowCorrupt({.file = context_.file, .table = context_.table, .page = page},
               "index '" + definition_.name + "': " + what);
}

IndexTree::CachedPage& IndexTree::Emplace(std::uint32_t number) {
  if (number >= cache_.size()) cache_.resize(std::max<std::size_t>(number + 1, cache_.size() * 2));
  auto& slot = cache_[number];
  if (!slot) {
    if (!spare_.empty()) {
      slot = std::move(spare_.back());
      spare_.pop_back();
    } else {
      slot = std::make_unique<CachedPage>();
    }
    ++cached_;
  }
  slot->page.ClearEntries();
  slot->dirty = false;
  return *slot;
}

void IndexTree::Forget(std::uint32_t number) {
  if (number >= cache_.size() || !cache_[number]) return;
  spare_.push_back(std::move(cache_[number]));
  --cached_;
}

void IndexTree::ForgetAll() {
  for (auto& slot : cache_) {
    if (slot) spare_.push_back(std::move(slot));
  }
  cached_ = 0;
  // Spare objects hold page buffers: keep no more than a cache's worth.
  if (spare_.size() > cache_limit_) spare_.resize(cache_limit_);
}

IndexTree::CachedPage& IndexTree::Load(std::uint32_t number) {
  CachedPage* cached = Cached(number);
  if (!cached) {
    if (number < 2 || number >= pager_.PageCount()) {
      Corrupt(number, "points to page " + std::to_string(number) + ", outside the file (" +
                          std::to_string(pager_.PageCount()) + " pages)");
    }
    PageRef ref = pager_.Read(number);
    cached = &Emplace(number);
    try {
      DecodeIndexPage(ref.Bytes(), cached->page);
    } catch (const IndexPageError& e) {
      Forget(number);
      Corrupt(number, e.what());
    }
    if (cached->page.table_definition != definition_.table_definition_page) {
      const std::uint32_t owner = cached->page.table_definition;
      Forget(number);
      Corrupt(number, "the page belongs to the table defined on page " + std::to_string(owner) +
                          ", not " + std::to_string(definition_.table_definition_page));
    }
    cached->page.MarkSynced(number);
  }
  cached->used = ++clock_;
  return *cached;
}

const IndexPage& IndexTree::ReadPage(std::uint32_t page) {
  return Load(page).page;
}

IndexTree::~IndexTree() = default;

void IndexTree::MarkDirty(std::uint32_t page, CachedPage& cached) {
  if (cached.dirty) return;
  dirty_.push_back(page);
  cached.dirty = true;
}

void IndexTree::Encode(std::uint32_t number, CachedPage& cached) {
  if (!Fits(cached.page)) Corrupt(number, "internal error: a page was left overfull");
  PageRef ref = pager_.Write(number);
  EncodeIndexPageChanges(cached.page, number, {ref.MutableData(), L::kPageSize});
  cached.dirty = false;
}

void IndexTree::WriteDirty() {
  for (std::uint32_t number : dirty_) {
    CachedPage* cached = Cached(number);
    if (cached && cached->dirty) Encode(number, *cached);  // else freed meanwhile
  }
  dirty_.clear();
}

void IndexTree::DropDirty() {
  for (std::uint32_t number : dirty_) {
    CachedPage* cached = Cached(number);
    if (cached && cached->dirty) Forget(number);
  }
  dirty_.clear();
}

IndexPage& IndexTree::Mutable(std::uint32_t page) {
  CachedPage& cached = Load(page);
  MarkDirty(page, cached);
  return cached.page;
}

std::uint32_t IndexTree::NewPage() {
  PageRef ref = pager_.Allocate(map_);
  const std::uint32_t number = ref.Number();
  CachedPage& cached = Emplace(number);
  cached.page = IndexPage();
  cached.page.table_definition = definition_.table_definition_page;
  cached.used = ++clock_;
  MarkDirty(number, cached);
  return number;
}

void IndexTree::FreePage(std::uint32_t page) {
  Forget(page);
  pager_.Release(page, map_);
}

void IndexTree::EndChange() {
  WriteDirty();
  seen_writes_ = ++*writes_;
  ++version_;
}

void IndexTree::Begin() {
  // A change that failed part-way left pages that never reached the Pager (which the
  // failure marked failed): they are not the index any more.
  if (!dirty_.empty()) DropDirty();
  if (seen_writes_ != *writes_) {
    // Another tree over this index changed pages in the Pager since: the decoded ones here
    // may be stale.
    ForgetAll();
    seen_writes_ = *writes_;
    ++version_;  // cursors find their place again
  }
  Trim();
}

void IndexTree::Trim() {
  if (cached_ <= cache_limit_) return;
  // Keep the most recently used half. Only called between operations, when every change
  // is in the Pager and nobody holds a reference into the cache.
  std::vector<std::uint64_t> uses;
  uses.reserve(cached_);
  for (const auto& slot : cache_) {
    if (slot) uses.push_back(slot->used);
  }
  std::nth_element(uses.begin(), uses.begin() + static_cast<std::ptrdiff_t>(uses.size() / 2),
                   uses.end());
  const std::uint64_t cut = uses[uses.size() / 2];
  for (std::uint32_t number = 0; number < cache_.size(); ++number) {
    const auto& slot = cache_[number];
    if (slot && slot->used < cut && !slot->dirty) Forget(number);
  }
}

void IndexTree::CheckChild(std::uint32_t parent, std::uint32_t child, std::size_t depth) const {
  if (depth >= kMaxDepth)
    Corrupt(parent, "the tree is deeper than " + std::to_string(kMaxDepth) + " levels (a loop?)");
  if (child == parent || child == definition_.root_page)
    Corrupt(parent, "a child pointer leads back up the tree");
}

void IndexTree::CheckKeyLength(std::span<const std::uint8_t> key) const {
  CheckIndexKeyLength(definition_, context_, key);
}

std::vector<std::uint8_t> IndexTree::MakeEntry(std::span<const std::uint8_t> key,
                                               IndexRowPointer row) {
  std::vector<std::uint8_t> entry(key.begin(), key.end());
  AppendRowPointer(entry, row);
  return entry;
}

// ---------------------------------------------------------------------------------------
// Searching

std::size_t IndexTree::Search(const IndexPage& page, std::span<const std::uint8_t> target,
                              Target mode) {
  std::size_t lo = 0, hi = page.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    bool before;  // entry mid lies before the target position
    switch (mode) {
      case Target::kEntry:
        before = Compare(page.Comparable(mid), target) < 0;
        break;
      case Target::kKeyAtLeast:
        before = ComparePrefix(page.Key(mid), target) < 0;
        break;
      default:
        before = ComparePrefix(page.Key(mid), target) <= 0;
        break;
    }
    if (before) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

IndexTree::Path IndexTree::Descend(std::span<const std::uint8_t> target, Target mode) {
  Path path;
  Descend(target, mode, path);
  return path;
}

void IndexTree::Descend(std::span<const std::uint8_t> target, Target mode, Path& path) {
  path.pages.clear();
  path.slots.clear();
  std::uint32_t number = definition_.root_page;
  for (;;) {
    const IndexPage& page = Load(number).page;
    path.pages.push_back(number);
    const std::size_t slot = Search(page, target, mode);
    if (page.leaf) {
      path.leaf_slot = slot;
      path.leaf_depth = path.pages.size() - 1;
      return;
    }
    std::uint32_t child;
    std::size_t taken = slot;
    if (slot < page.size()) {
      child = page.Child(slot);
    } else if (page.tail_page != 0) {
      child = page.tail_page;
    } else if (!page.empty()) {
      taken = page.size() - 1;
      child = page.Child(taken);
    } else {
      Corrupt(number, "a node page without children");
    }
    CheckChild(number, child, path.pages.size());
    path.slots.push_back(taken);
    number = child;
  }
}

bool IndexTree::LeadsTo(const Path& path, std::span<const std::uint8_t> entry) {
  // What Descend(entry, kEntry) checks at each page, from the slots taken: every entry
  // before the slot is smaller, the one at the slot is not (a node's right-most entry,
  // when the node has no tail, also takes everything above it).
  if (path.pages.empty() || path.slots.size() + 1 != path.pages.size() ||
      path.leaf_depth + 1 != path.pages.size())
    return false;
  for (std::size_t depth = 0; depth < path.pages.size(); ++depth) {
    const IndexPage& page = Load(path.pages[depth]).page;
    const bool leaf = depth + 1 == path.pages.size();
    if (page.leaf != leaf) return false;
    const std::size_t slot = leaf ? path.leaf_slot : path.slots[depth];
    if (slot > page.size()) return false;
    if (slot > 0 && Compare(page.Comparable(slot - 1), entry) >= 0) return false;
    const bool open_above =
        slot == page.size() || (!leaf && page.tail_page == 0 && slot + 1 == page.size());
    if (!open_above && Compare(page.Comparable(slot), entry) < 0) return false;
    if (!leaf) {
      const std::uint32_t child = slot < page.size() ? page.Child(slot) : page.tail_page;
      if (child == 0 || child != path.pages[depth + 1]) return false;
    }
  }
  return true;
}

void IndexTree::Normalize(std::uint32_t& leaf, std::size_t& slot) {
  std::size_t hops = 0;
  while (leaf != 0) {
    const IndexPage& page = Load(leaf).page;
    if (!page.leaf) Corrupt(leaf, "the leaf chain reaches a node page");
    if (slot < page.size()) return;
    leaf = page.next_page;
    slot = 0;
    if (++hops > pager_.PageCount()) Corrupt(leaf, "the leaf chain loops");
  }
}

std::span<const std::uint8_t> IndexTree::NeighbourKey(std::uint32_t leaf, std::size_t slot,
                                                      bool before) {
  if (before) {
    std::size_t hops = 0;
    while (slot == 0) {
      leaf = Load(leaf).page.prev_page;
      if (leaf == 0) return {};
      slot = Load(leaf).page.size();
      if (++hops > pager_.PageCount()) Corrupt(leaf, "the leaf chain loops");
    }
    return Load(leaf).page.Key(slot - 1);
  }
  Normalize(leaf, slot);
  if (leaf == 0) return {};
  return Load(leaf).page.Key(slot);
}

bool IndexTree::ContainsKey(std::span<const std::uint8_t> key) {
  Begin();
  Path& path = path_;
  Descend(key, Target::kKeyAtLeast, path);
  // Kept for an Insert of this key that follows before anything changes.
  hint_key_.assign(key.begin(), key.end());
  hint_version_ = version_;
  hint_valid_ = true;
  std::uint32_t leaf = path.pages.back();
  std::size_t slot = path.leaf_slot;
  Normalize(leaf, slot);
  if (leaf == 0) return false;
  return Compare(Load(leaf).page.Key(slot), key) == 0;
}

bool IndexTree::Contains(std::span<const std::uint8_t> key, IndexRowPointer row) {
  Begin();
  const auto entry = MakeEntry(key, row);
  Path path = Descend(entry, Target::kEntry);
  std::uint32_t leaf = path.pages.back();
  std::size_t slot = path.leaf_slot;
  Normalize(leaf, slot);
  return leaf != 0 && Compare(Load(leaf).page.Comparable(slot), entry) == 0;
}

std::vector<std::uint8_t> IndexTree::SubtreeMax(std::uint32_t number) {
  for (std::size_t depth = 0;; ++depth) {
    const IndexPage& page = Load(number).page;
    if (page.leaf) {
      if (page.empty()) Corrupt(number, "an empty leaf below a node");
      auto last = page.Last();
      return {last.begin(), last.end()};
    }
    std::uint32_t child = page.tail_page;
    if (child == 0) {
      if (page.empty()) Corrupt(number, "a node page without children");
      auto c = page.Comparable(page.size() - 1);
      return {c.begin(), c.end()};
    }
    CheckChild(number, child, depth + 1);
    number = child;
  }
}

// ---------------------------------------------------------------------------------------
// Changing

void IndexTree::PropagateMax(Path& path, std::size_t depth, std::span<const std::uint8_t> max_in) {
  const std::vector<std::uint8_t> max(max_in.begin(), max_in.end());
  while (depth > 0) {
    IndexPage& parent = Mutable(path.pages[depth - 1]);
    const std::size_t slot = path.slots[depth - 1];
    if (slot < parent.size()) {
      parent.Replace(slot, WithChild(max, path.pages[depth]));
      if (slot + 1 < parent.size() || parent.tail_page != 0) return;
    }
    --depth;  // the parent's own last entry changed too
  }
}

void IndexTree::NestRoot(Path& path) {
  const std::uint32_t root = path.pages[0];
  const std::uint32_t child = NewPage();
  IndexPage& old_root = Mutable(root);
  IndexPage moved = old_root;  // entries, tail, leaf flag
  moved.prev_page = moved.next_page = 0;
  moved.level = static_cast<std::uint8_t>(path.LeafDepth());
  IndexPage& fresh = Mutable(child);
  fresh = std::move(moved);
  IndexPage& top = Mutable(root);
  top.ClearEntries();
  top.leaf = false;
  top.tail_page = 0;
  top.prev_page = top.next_page = 0;
  top.level = static_cast<std::uint8_t>(path.LeafDepth() + 1);
  top.Append(WithChild(SubtreeMax(child), child));
  path.pages.insert(path.pages.begin() + 1, child);
  path.slots.insert(path.slots.begin(), 0);
  ++path.leaf_depth;
}

void IndexTree::Split(Path& path, std::size_t depth, bool appending) {
  const std::uint32_t right_number = path.pages[depth];
  const std::uint32_t parent_number = path.pages[depth - 1];
  const std::size_t slot = path.slots[depth - 1];
  const std::uint32_t left_number = NewPage();

  IndexPage& right = Mutable(right_number);
  const std::size_t n = right.size();
  // Entries that move to the new left page: half the bytes, or all but the last when keys
  // arrive in order at the right end (the left page stays full, as Access leaves it).
  std::size_t count = 0;
  bool all_but_last = false;
  if (appending && right.next_page == 0) {
    IndexPage probe = right;
    probe.Erase(n - 1);
    all_but_last = Fits(probe);
  }
  if (all_but_last) {
    count = n - 1;
  } else {
    std::size_t bytes = 0;
    while (count < n && bytes + right.Entry(count).size() <= right.DataSize() / 2)
      bytes += right.Entry(count++).size();
  }
  count = std::clamp<std::size_t>(count, 1, n - 1);

  IndexPage left;
  left.leaf = right.leaf;
  left.table_definition = definition_.table_definition_page;
  left.level = static_cast<std::uint8_t>(path.LeafDepth() - depth);
  right.level = left.level;
  right.MoveFrontTo(count, left);
  std::vector<std::uint8_t> left_max;
  {
    auto c = left.Comparable(left.size() - 1);
    left_max.assign(c.begin(), c.end());
  }
  NormalizeTail(left);
  NormalizeTail(right);

  left.prev_page = right.prev_page;
  left.next_page = right_number;
  const std::uint32_t before = right.prev_page;
  right.prev_page = left_number;
  Mutable(left_number) = std::move(left);
  if (before != 0) Mutable(before).next_page = left_number;

  IndexPage& parent = Mutable(parent_number);
  parent.Insert(slot, WithChild(left_max, left_number));
  NormalizeTail(parent);
  // Where the parent refers to the right page now.
  path.slots[depth - 1] = parent.size();
  if (parent.tail_page != right_number) {
    for (std::size_t i = 0; i < parent.size(); ++i) {
      if (parent.Child(i) == right_number) path.slots[depth - 1] = i;
    }
  }
}

void IndexTree::FixOverflow(Path& path, bool appending) {
  for (std::size_t depth = path.pages.size(); depth-- > 0;) {
    while (!Fits(Mutable(path.pages[depth]))) {
      if (depth == 0) {
        NestRoot(path);
        depth = 1;
      }
      Split(path, depth, appending);
    }
  }
}

void IndexTree::RemoveEmpty(Path& path, std::size_t depth) {
  const std::uint32_t number = path.pages[depth];
  if (depth == 0) {
    // The root stays; with nothing under it it is an empty leaf again.
    IndexPage& root = Mutable(number);
    root.ClearEntries();
    root.leaf = true;
    root.tail_page = root.prev_page = root.next_page = 0;
    root.level = 0;
    return;
  }
  {
    const IndexPage& page = Load(number).page;
    const std::uint32_t prev = page.prev_page, next = page.next_page;
    if (prev != 0) Mutable(prev).next_page = next;
    if (next != 0) Mutable(next).prev_page = prev;
  }
  FreePage(number);

  const std::uint32_t parent_number = path.pages[depth - 1];
  IndexPage& parent = Mutable(parent_number);
  const std::size_t slot = path.slots[depth - 1];
  // The freed page and everything below it leave the path.
  path.pages.resize(depth);
  path.slots.resize(depth - 1);
  const bool was_last =
      slot >= parent.size() || (slot + 1 == parent.size() && parent.tail_page == 0);
  if (slot >= parent.size()) {
    parent.tail_page = 0;
  } else {
    parent.Erase(slot);
  }
  if (parent.empty() && parent.tail_page == 0) {
    RemoveEmpty(path, depth - 1);
    return;
  }
  if (parent.empty()) {
    // Only a tail left: a single child is stored as an entry.
    const std::uint32_t only = parent.tail_page;
    auto max = SubtreeMax(only);
    IndexPage& p = Mutable(parent_number);
    p.tail_page = 0;
    p.Append(WithChild(max, only));
    return;  // the parent's largest entry is unchanged
  }
  if (was_last && parent.tail_page == 0) {
    std::vector<std::uint8_t> max;
    auto c = parent.Comparable(parent.size() - 1);
    max.assign(c.begin(), c.end());
    NormalizeTail(parent);
    PropagateMax(path, depth - 1, max);
  }
}

bool IndexTree::Insert(std::span<const std::uint8_t> key, IndexRowPointer row) {
  Begin();
  CheckKeyLength(key);
  entry_.assign(key.begin(), key.end());
  AppendRowPointer(entry_, row);
  const std::span<const std::uint8_t> entry = entry_;
  Path& path = path_;
  // A uniqueness check of this key just walked down to its place: reuse that walk when
  // nothing changed since and it leads exactly where this entry belongs.
  const bool hinted = hint_valid_ && hint_version_ == version_ &&
                      std::ranges::equal(hint_key_, key) && LeadsTo(path, entry);
  hint_valid_ = false;
  if (!hinted) Descend(entry, Target::kEntry, path);
  const std::uint32_t leaf_number = path.pages.back();
  const std::size_t slot = path.leaf_slot;
  {
    const IndexPage& leaf = Load(leaf_number).page;
    if (slot < leaf.size() && Compare(leaf.Comparable(slot), entry) == 0) {
      Corrupt(leaf_number, "the row on page " + std::to_string(row.page) + ", slot " +
                               std::to_string(row.row) + " has this key already");
    }
  }
  const bool new_key = Compare(NeighbourKey(leaf_number, slot, true), key) != 0 &&
                       Compare(NeighbourKey(leaf_number, slot, false), key) != 0;
  IndexPage& leaf = Mutable(leaf_number);
  leaf.Insert(slot, entry);
  const bool last = slot + 1 == leaf.size();
  if (last) PropagateMax(path, path.LeafDepth(), entry);
  FixOverflow(path, last);
  EndChange();
  return new_key;
}

bool IndexTree::Remove(std::span<const std::uint8_t> key, IndexRowPointer row) {
  Begin();
  const auto entry = MakeEntry(key, row);
  Path path = Descend(entry, Target::kEntry);
  const std::uint32_t leaf_number = path.pages.back();
  const std::size_t slot = path.leaf_slot;
  {
    const IndexPage& leaf = Load(leaf_number).page;
    if (slot >= leaf.size() || Compare(leaf.Comparable(slot), entry) != 0) return false;
  }
  IndexPage& leaf = Mutable(leaf_number);
  leaf.Erase(slot);
  if (leaf.empty()) {
    RemoveEmpty(path, path.LeafDepth());
  } else if (slot == leaf.size()) {
    auto last = leaf.Last();
    const std::vector<std::uint8_t> max(last.begin(), last.end());
    PropagateMax(path, path.LeafDepth(), max);
  }
  FixOverflow(path, false);
  EndChange();
  return true;
}

bool IndexTree::RemoveRow(IndexRowPointer row) {
  IndexCursor cursor(*this);
  for (bool ok = cursor.First(); ok; ok = cursor.Next()) {
    if (cursor.Row() == row) {
      const std::vector<std::uint8_t> key(cursor.Key().begin(), cursor.Key().end());
      return Remove(key, row);
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------
// Whole trees

std::vector<std::uint32_t> IndexTree::Pages() {
  Begin();
  std::vector<std::uint32_t> pages;
  std::unordered_set<std::uint32_t> seen;
  std::vector<std::pair<std::uint32_t, std::size_t>> todo = {{definition_.root_page, 0}};
  while (!todo.empty()) {
    auto [number, depth] = todo.back();
    todo.pop_back();
    if (!seen.insert(number).second) Corrupt(number, "a page is reached twice");
    pages.push_back(number);
    const IndexPage& page = Load(number).page;
    if (page.leaf) continue;
    std::vector<std::uint32_t> children;
    for (std::size_t i = 0; i < page.size(); ++i) children.push_back(page.Child(i));
    if (page.tail_page != 0) children.push_back(page.tail_page);
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      CheckChild(number, *it, depth + 1);
      todo.push_back({*it, depth + 1});
    }
  }
  return pages;
}

IndexPageStats IndexTree::PageStats() {
  IndexPageStats stats;
  for (std::uint32_t number : Pages()) {
    ++stats.pages;
    stats.leaves += ReadPage(number).leaf;
  }
  std::uint32_t number = definition_.root_page;
  for (stats.height = 1;; ++stats.height) {
    const IndexPage& page = ReadPage(number);
    if (page.leaf) break;
    const std::uint32_t child = page.empty() ? page.tail_page : page.Child(0);
    if (child == 0) Corrupt(number, "a node page without children");
    CheckChild(number, child, stats.height);
    number = child;
  }
  return stats;
}

std::uint64_t IndexTree::CountEntries() {
  std::uint64_t count = 0;
  IndexCursor cursor(*this);
  if (!cursor.First()) return 0;
  // Walk the leaf chain directly: a cursor step per entry would be slower.
  std::uint32_t leaf = cursor.leaf_;
  std::size_t hops = 0;
  while (leaf != 0) {
    const IndexPage& page = Load(leaf).page;
    count += page.size();
    leaf = page.next_page;
    if (++hops > pager_.PageCount()) Corrupt(leaf, "the leaf chain loops");
  }
  return count;
}

void IndexTree::Clear() {
  for (std::uint32_t number : Pages()) {
    if (number != definition_.root_page) FreePage(number);
  }
  IndexPage& root = Mutable(definition_.root_page);
  root = IndexPage();
  root.table_definition = definition_.table_definition_page;
  EndChange();
}

void IndexTree::Drop() {
  for (std::uint32_t number : Pages()) FreePage(number);
  ForgetAll();
  ++version_;
}

void IndexTree::Build(const std::vector<std::vector<std::uint8_t>>& sorted) {
  for (const auto& entry : sorted)
    CheckKeyLength(std::span(entry).first(entry.size() - L::kRowPointerSize));
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    if (Compare(sorted[i - 1], sorted[i]) >= 0)
      core::ThrowInternal("IndexTree::Build needs sorted, distinct entries");
  }
  Clear();

  struct Built {
    std::uint32_t number;
    std::vector<std::uint8_t> max;  // key + row pointer of its last leaf entry
  };
  // Writes the pages of one level left to right, holding back only the latest so that its
  // successor's number can go into its next link. A level of one page is the top: it goes
  // into the root, whose number never changes.
  class LevelWriter {
   public:
    LevelWriter(IndexTree& tree, std::uint8_t height) : tree_(tree), height_(height) {}
    void Add(IndexPage page, std::vector<std::uint8_t> max) {
      if (held_) {
        if (built_.back().number == 0) built_.back().number = tree_.NewPage();
        const std::uint32_t number = tree_.NewPage();
        held_->next_page = number;
        Write(built_.back().number);
        page.prev_page = built_.back().number;
        built_.push_back({number, {}});
      } else {
        built_.push_back({0, {}});  // decided once we know whether more pages follow
      }
      built_.back().max = std::move(max);
      held_ = std::move(page);
    }
    std::vector<Built> Finish() {
      if (held_) {
        if (built_.back().number == 0) built_.back().number = tree_.definition_.root_page;
        held_->next_page = 0;
        Write(built_.back().number);
      }
      return std::move(built_);
    }

   private:
    void Write(std::uint32_t number) {
      held_->table_definition = tree_.definition_.table_definition_page;
      held_->level = height_;
      tree_.Mutable(number) = std::move(*held_);
      held_.reset();
      tree_.EndChange();
      tree_.Trim();  // a build touches every page once: keep the cache bounded
    }
    IndexTree& tree_;
    std::uint8_t height_;
    std::optional<IndexPage> held_;
    std::vector<Built> built_;
  };

  // Leaves, filled up to the page size.
  LevelWriter leaves(*this, 0);
  IndexPage page;
  for (const auto& entry : sorted) {
    if (!page.empty() && page.DataSize() + entry.size() > L::kEntryAreaSize) {
      auto last = page.Last();
      std::vector<std::uint8_t> max(last.begin(), last.end());
      leaves.Add(std::move(page), std::move(max));
      page = IndexPage();
    }
    page.Append(entry);
  }
  if (page.empty()) return;  // no entries: Clear left the empty root
  {
    auto last = page.Last();
    leaves.Add(std::move(page), std::vector<std::uint8_t>(last.begin(), last.end()));
  }
  std::vector<Built> built = leaves.Finish();

  // Node levels: every child but the last of a group gets an entry; the last is the tail.
  for (std::uint8_t height = 1; built.size() > 1; ++height) {
    // Greedy groups: a child joins the current group while the group's stored entries (all
    // its children but the last) still fit.
    std::vector<std::vector<std::size_t>> fitted;
    std::vector<std::size_t> current;
    std::size_t stored = 0;
    for (std::size_t i = 0; i < built.size(); ++i) {
      if (!current.empty()) {
        // Adding child i makes the current last child a stored entry.
        const std::size_t extra = built[current.back()].max.size() + L::kChildSize;
        if (stored + extra > L::kEntryAreaSize) {
          fitted.push_back(std::move(current));
          current.clear();
          stored = 0;
        } else {
          stored += extra;
        }
      }
      current.push_back(i);
    }
    fitted.push_back(std::move(current));
    // A lone child at the end joins the previous group when that group can store its
    // current tail as an entry.
    if (fitted.size() >= 2 && fitted.back().size() == 1) {
      auto& prev = fitted[fitted.size() - 2];
      std::size_t prev_stored = 0;
      for (std::size_t k = 0; k + 1 < prev.size(); ++k)
        prev_stored += built[prev[k]].max.size() + L::kChildSize;
      if (prev_stored + built[prev.back()].max.size() + L::kChildSize <= L::kEntryAreaSize) {
        prev.push_back(fitted.back()[0]);
        fitted.pop_back();
      }
    }
    LevelWriter nodes(*this, height);
    for (const auto& group : fitted) {
      IndexPage node;
      node.leaf = false;
      for (std::size_t k = 0; k + 1 < group.size(); ++k)
        node.Append(WithChild(built[group[k]].max, built[group[k]].number));
      if (group.size() == 1) {
        node.Append(WithChild(built[group[0]].max, built[group[0]].number));
      } else {
        node.tail_page = built[group.back()].number;
      }
      nodes.Add(std::move(node), built[group.back()].max);
    }
    built = nodes.Finish();
  }
}

}  // namespace jet

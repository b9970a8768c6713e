// Index B-trees: search, insert with splits and root growth, delete, one-pass build.
#include "btree.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <map>
#include <unordered_set>

#include "core/internal_error.h"
#include "database_internal.h"

namespace jet {
namespace {

namespace L = index_page_layout;

// Deeper than any real tree: 3 entries per page would need 3^32 rows. A deeper walk means
// the child pointers loop.
constexpr std::size_t kMaxDepth = 32;

int Compare(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Compares the first |prefix| bytes of a key with the prefix; a key shorter than the prefix
// that matches as far as it goes is smaller.
int ComparePrefix(std::span<const std::uint8_t> key, std::span<const std::uint8_t> prefix) {
  const std::size_t n = std::min(key.size(), prefix.size());
  const int c = n == 0 ? 0 : std::memcmp(key.data(), prefix.data(), n);
  if (c != 0) return c;
  return key.size() < prefix.size() ? -1 : 0;
}

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
  const std::uint32_t next = static_cast<std::uint32_t>(p[L::kNextPage]) |
                             (static_cast<std::uint32_t>(p[L::kNextPage + 1]) << 8) |
                             (static_cast<std::uint32_t>(p[L::kNextPage + 2]) << 16) |
                             (static_cast<std::uint32_t>(p[L::kNextPage + 3]) << 24);
  return {count, next};
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

// ---------------------------------------------------------------------------------------
// Maintenance

bool RowKeyAllNull(const IndexDefinition& definition, const RowValues& row) {
  for (const auto& column : definition.columns) {
    if (column.key.type == key_type::kBoolean) return false;  // a Yes/No value is never Null
    if (!row(column.column_number).is_null()) return false;
  }
  return true;
}

void CheckIndexKeyLength(const IndexDefinition& definition, const IndexContext& context,
                         std::span<const std::uint8_t> key) {
  if (key.size() > kMaxKeyLength) {
    ThrowJet(ErrorCode::kValueInvalid,
             context.file + ": table '" + context.table + "', index '" + definition.name +
                 "': the key is " + std::to_string(key.size()) +
                 " bytes long; an index key holds at most " + std::to_string(kMaxKeyLength));
  }
}

std::optional<std::vector<std::uint8_t>> RowKey(const IndexDefinition& definition,
                                                const IndexContext& context, const RowValues& row,
                                                bool check_nulls) {
  if (definition.IgnoreNulls() && RowKeyAllNull(definition, row)) return std::nullopt;
  std::vector<std::uint8_t> key;
  for (const auto& column : definition.columns) {
    const KeyValue value = row(column.column_number);
    if (check_nulls && definition.Required() && value.is_null() &&
        column.key.type != key_type::kBoolean) {
      ThrowJet(ErrorCode::kNullNotAllowed, kNullKeyMessage);
    }
    try {
      AppendKeySegment(column.key, value, key);
    } catch (const KeyEncodingError& e) {
      ThrowJet(ErrorCode::kValueInvalid, context.file + ": table '" + context.table + "', index '" +
                                             definition.name + "', column '" + column.name +
                                             "': " + e.what());
    }
  }
  // Checked here, before a row is written, rather than when the entry goes in.
  CheckIndexKeyLength(definition, context, key);
  return key;
}

std::vector<std::vector<std::uint8_t>> CollectIndexEntries(const IndexDefinition& definition,
                                                           const IndexContext& context,
                                                           const IndexRowWalk& rows,
                                                           IndexCounters* counters) {
  for (const auto& column : definition.columns) {
    if (!CanEncodeColumn(column.key)) {
      ThrowJet(ErrorCode::kGeneral, context.file + ": table '" + context.table + "': index '" +
                                        definition.name + "' would sort column '" + column.name +
                                        "' in the " + SortOrderName(column.key.sort_order) +
                                        " sort order, and " +
                                        TextKeyRefusal(column.key.sort_order));
    }
  }
  struct Item {
    std::vector<std::uint8_t> entry;
    bool all_null;
  };
  std::vector<Item> items;
  rows([&](IndexRowPointer where, const RowValues& row) {
    auto key = RowKey(definition, context, row, true);
    if (!key) return;
    items.push_back({IndexTree::MakeEntry(*key, where), RowKeyAllNull(definition, row)});
  });
  std::sort(items.begin(), items.end(),
            [](const Item& a, const Item& b) { return Compare(a.entry, b.entry) < 0; });
  std::uint32_t distinct = 0;
  const std::size_t tail = L::kRowPointerSize;
  std::vector<std::vector<std::uint8_t>> entries;
  entries.reserve(items.size());
  for (std::size_t k = 0; k < items.size(); ++k) {
    const auto key = std::span(items[k].entry).first(items[k].entry.size() - tail);
    bool same = false;
    if (k > 0) {
      // The previous entry has moved to `entries` already.
      const auto prev = std::span(entries.back()).first(entries.back().size() - tail);
      same = std::ranges::equal(key, prev);
      if (same && definition.Unique() && !items[k].all_null)
        ThrowJet(ErrorCode::kDuplicateKey, kDuplicateKeyMessage);
      if (Compare(entries.back(), items[k].entry) == 0) {
        ThrowCorrupt({.file = context.file, .table = context.table},
                     "two rows share one row pointer");
      }
    }
    distinct += !same;
    entries.push_back(std::move(items[k].entry));
  }
  if (counters) {
    counters->entries = static_cast<std::uint32_t>(entries.size());
    counters->distinct = distinct;
  }
  return entries;
}

IndexDefinition DescribeIndex(const TableDefinition& table, std::size_t real_index,
                              const std::string& file, const std::string& table_name) {
  const RealIndexDefinition& real = table.real_indexes.at(real_index);
  IndexDefinition definition;
  for (const auto& logical : table.indexes) {
    if (logical.real_index != real_index || logical.kind == index_kind::kForeignKey) continue;
    if (!definition.name.empty()) definition.name += "/";
    definition.name += logical.name;
    definition.primary_key = definition.primary_key || logical.kind == index_kind::kPrimaryKey;
  }
  if (definition.name.empty()) {
    for (const auto& logical : table.indexes) {
      if (logical.real_index == real_index) definition.name = logical.name;
    }
  }
  if (definition.name.empty()) definition.name = "#" + std::to_string(real_index);
  for (const auto& column : real.columns) {
    const ColumnDefinition* described = table.ColumnByNumber(column.column_number);
    if (!described) {
      ThrowCorrupt({.file = file, .table = table_name, .page = table.FirstPage()},
                   "index '" + definition.name + "' refers to column number " +
                       std::to_string(column.column_number) + ", which the table does not have");
    }
    if (!IsIndexableType(described->type)) {
      ThrowCorrupt(
          {.file = file, .table = table_name, .page = table.FirstPage(), .field = described->name},
          "index '" + definition.name + "' is on a column of type " +
              std::to_string(described->type) + ", which no index key can hold");
    }
    IndexKeyColumn key_column;
    key_column.column_number = column.column_number;
    key_column.name = described->name;
    key_column.key.type = described->type;
    key_column.key.descending = !column.ascending;
    if (described->IsText()) key_column.key.sort_order = described->TextSortOrder();
    definition.columns.push_back(std::move(key_column));
  }
  definition.flags = real.flags;
  definition.root_page = real.root_page;
  definition.usage_map = real.usage_map;
  definition.table_definition_page = table.FirstPage();
  return definition;
}

IndexMaintainer::IndexMaintainer(Pager& pager, IndexContext context, const TableDefinition& table)
    : pager_(pager), context_(std::move(context)) {
  for (std::size_t i = 0; i < table.real_indexes.size(); ++i) {
    trees_.push_back(std::make_unique<IndexTree>(
        pager_, DescribeIndex(table, i, context_.file, context_.table), context_));
    counters_.push_back({table.real_indexes[i].entry_count, table.real_indexes[i].distinct_keys});
  }
}

void IndexMaintainer::StoreCounters(TableDefinition& table) const {
  for (std::size_t i = 0; i < counters_.size() && i < table.real_indexes.size(); ++i) {
    table.real_indexes[i].entry_count = counters_[i].entries;
    table.real_indexes[i].distinct_keys = counters_[i].distinct;
  }
}

IndexMaintainer::IndexMaintainer(Pager& pager, IndexContext context,
                                 std::vector<IndexDefinition> indexes,
                                 std::vector<IndexCounters> counters)
    : pager_(pager), context_(std::move(context)), counters_(std::move(counters)) {
  counters_.resize(indexes.size());
  for (auto& definition : indexes)
    trees_.push_back(std::make_unique<IndexTree>(pager_, std::move(definition), context_));
}

std::string IndexMaintainer::WriteRefusal() const {
  for (const auto& tree : trees_) {
    for (const auto& column : tree->Definition().columns) {
      if (!CanEncodeColumn(column.key)) {
        return context_.file + ": table '" + context_.table + "' cannot be changed: its index '" +
               tree->Definition().name + "' sorts column '" + column.name + "' in the " +
               SortOrderName(column.key.sort_order) + " sort order, and " +
               TextKeyRefusal(column.key.sort_order);
      }
    }
  }
  return {};
}

bool IndexMaintainer::CanEncode(std::size_t i) const {
  for (const auto& column : trees_[i]->Definition().columns) {
    if (!CanEncodeColumn(column.key)) return false;
  }
  return true;
}

void IndexMaintainer::RefuseIfUnwritable(std::size_t i) const {
  for (const auto& column : trees_[i]->Definition().columns) {
    if (!CanEncodeColumn(column.key)) {
      ThrowJet(ErrorCode::kGeneral,
               context_.file + ": table '" + context_.table + "' cannot be changed: its index '" +
                   trees_[i]->Definition().name + "' sorts column '" + column.name + "' in the " +
                   SortOrderName(column.key.sort_order) + " sort order, and " +
                   TextKeyRefusal(column.key.sort_order));
    }
  }
}

bool IndexMaintainer::AllNull(std::size_t i, const RowValues& row) const {
  return RowKeyAllNull(trees_[i]->Definition(), row);
}

std::optional<std::vector<std::uint8_t>> IndexMaintainer::KeyFor(std::size_t i,
                                                                 const RowValues& row,
                                                                 bool check_nulls) const {
  return RowKey(trees_[i]->Definition(), context_, row, check_nulls);
}

bool IndexMaintainer::SameColumns(std::size_t i, const RowValues& a, const RowValues& b) const {
  for (const auto& column : trees_[i]->Definition().columns) {
    const KeyValue x = a(column.column_number), y = b(column.column_number);
    if (x.kind() != y.kind()) return false;
    switch (x.kind()) {
      case KeyValue::Kind::Null:
        break;
      case KeyValue::Kind::Boolean:
        if (x.boolean() != y.boolean()) return false;
        break;
      case KeyValue::Kind::Text:
        if (x.text() != y.text()) return false;
        break;
      case KeyValue::Kind::Stored:
        if (!std::ranges::equal(x.bytes(), y.bytes())) return false;
        break;
    }
  }
  return true;
}

IndexMaintainer::Prepared IndexMaintainer::PrepareInsert(const RowValues& row) {
  Prepared prepared;
  for (std::size_t i = 0; i < trees_.size(); ++i) RefuseIfUnwritable(i);
  for (std::size_t i = 0; i < trees_.size(); ++i) prepared.keys.push_back(KeyFor(i, row, true));
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    const auto& key = prepared.keys[i];
    if (key && trees_[i]->Definition().Unique() && !AllNull(i, row) &&
        trees_[i]->ContainsKey(*key)) {
      ThrowJet(ErrorCode::kDuplicateKey, kDuplicateKeyMessage);
    }
  }
  return prepared;
}

void IndexMaintainer::CommitInsert(const Prepared& prepared, IndexRowPointer where) {
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!prepared.keys[i]) continue;
    if (trees_[i]->Insert(*prepared.keys[i], where)) {
      ++counters_[i].distinct;
      counters_changed_ = true;
    }
  }
}

IndexMaintainer::Prepared IndexMaintainer::PrepareUpdate(const RowValues& old_row,
                                                         const RowValues& new_row,
                                                         IndexRowPointer where) {
  Prepared prepared;
  prepared.update = true;
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    const bool changed = !SameColumns(i, old_row, new_row);
    if (changed) RefuseIfUnwritable(i);
    prepared.changed.push_back(changed);
  }
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!prepared.changed[i]) {
      prepared.keys.emplace_back();
      prepared.old_keys.emplace_back();
      continue;
    }
    prepared.old_keys.push_back(KeyFor(i, old_row, false));
    prepared.keys.push_back(KeyFor(i, new_row, true));
    if (prepared.old_keys[i] == prepared.keys[i])
      prepared.changed[i] = false;  // e.g. only the case changed
  }
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    const auto& key = prepared.keys[i];
    if (!prepared.changed[i] || !key || !trees_[i]->Definition().Unique() || AllNull(i, new_row))
      continue;
    IndexCursor cursor(*trees_[i]);
    for (bool ok = cursor.Seek(SeekComparison::kEqual, *key); ok; ok = cursor.Next()) {
      if (!std::ranges::equal(cursor.Key(), *key)) break;
      if (!(cursor.Row() == where)) ThrowJet(ErrorCode::kDuplicateKey, kDuplicateKeyMessage);
    }
  }
  return prepared;
}

void IndexMaintainer::CommitUpdate(const Prepared& prepared, IndexRowPointer where) {
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!prepared.changed[i]) continue;
    if (prepared.old_keys[i] && !trees_[i]->Remove(*prepared.old_keys[i], where))
      trees_[i]->RemoveRow(where);
    if (prepared.keys[i] && trees_[i]->Insert(*prepared.keys[i], where)) {
      ++counters_[i].distinct;
      counters_changed_ = true;
    }
  }
}

void IndexMaintainer::Delete(const RowValues& old_row, IndexRowPointer where) {
  // Find every entry first, so that a damaged index stops the delete before any change.
  std::vector<std::optional<std::vector<std::uint8_t>>> keys(trees_.size());
  std::vector<bool> by_scan(trees_.size(), false);
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (!CanEncode(i)) {
      by_scan[i] = true;  // no key can be built: look for the row pointer
      continue;
    }
    keys[i] = KeyFor(i, old_row, false);
    if (keys[i] && !trees_[i]->Contains(*keys[i], where))
      by_scan[i] = true;  // stale entry: repair path
  }
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (by_scan[i]) {
      trees_[i]->RemoveRow(where);
    } else if (keys[i]) {
      trees_[i]->Remove(*keys[i], where);
    }
  }
}

void IndexMaintainer::BuildFromRows(std::size_t i, const IndexRowWalk& rows) {
  RefuseIfUnwritable(i);
  IndexCounters counters;
  const auto entries = CollectIndexEntries(trees_[i]->Definition(), context_, rows, &counters);
  trees_[i]->Build(entries);
  counters_[i] = counters;
  counters_changed_ = true;
}

}  // namespace jet

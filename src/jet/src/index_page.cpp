// Index page decoding and encoding.
#include "jet/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace jet {
namespace {

namespace L = index_page_layout;

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

int Compare(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Bytes reserved for a page's entries: a full page and a long entry beyond it.
constexpr std::size_t kReserve = L::kEntryAreaSize + 1280;

std::size_t MinimumEntry(bool leaf) {
  // At least one key byte (a segment's flag), the row pointer and, on nodes, the child.
  return 1 + L::kRowPointerSize + (leaf ? 0 : L::kChildSize);
}

// The header fields a page's entries and links decide (type, marker and prefix length are
// written by the caller).
void PutHeaderFields(std::uint8_t* p, const IndexPage& page, std::size_t stored) {
  Put16(p + L::kFreeSpace, static_cast<std::uint16_t>(L::kEntryAreaSize - stored));
  Put32(p + L::kTableDefinition, page.table_definition);
  Put32(p + L::kUnknown08, page.unknown08);
  Put32(p + L::kPrevPage, page.prev_page);
  Put32(p + L::kNextPage, page.next_page);
  Put32(p + L::kTailPage, page.tail_page);
  p[L::kLevel] = page.level;
}

}  // namespace

void IndexPage::Insert(std::size_t i, std::span<const std::uint8_t> entry) {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  if (data_.size() + entry.size() > data_.capacity())
    data_.reserve(std::max(data_.size() + entry.size(), kReserve));
  data_.insert(data_.begin() + static_cast<std::ptrdiff_t>(begin), entry.begin(), entry.end());
  ends_.insert(ends_.begin() + static_cast<std::ptrdiff_t>(i), static_cast<std::uint32_t>(begin));
  for (std::size_t k = i; k < ends_.size(); ++k)
    ends_[k] += static_cast<std::uint32_t>(entry.size());
  if (shortest_ != 0) shortest_ = std::min(shortest_, entry.size());
  synced_entries_ = std::min(synced_entries_, i);
}

void IndexPage::Erase(std::size_t i) {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  const std::size_t length = ends_[i] - begin;
  data_.erase(data_.begin() + static_cast<std::ptrdiff_t>(begin),
              data_.begin() + static_cast<std::ptrdiff_t>(begin + length));
  ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(i));
  for (std::size_t k = i; k < ends_.size(); ++k) ends_[k] -= static_cast<std::uint32_t>(length);
  shortest_ = 0;
  synced_entries_ = std::min(synced_entries_, i);
}

void IndexPage::Replace(std::size_t i, std::span<const std::uint8_t> entry) {
  const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
  const std::size_t length = ends_[i] - begin;
  if (entry.size() == length) {
    std::copy(entry.begin(), entry.end(), data_.begin() + static_cast<std::ptrdiff_t>(begin));
    synced_entries_ = std::min(synced_entries_, i);
    return;
  }
  Erase(i);
  Insert(i, entry);
}

void IndexPage::MoveFrontTo(std::size_t count, IndexPage& to) {
  if (count == 0) return;
  const std::size_t bytes = ends_[count - 1];
  const std::uint32_t base = static_cast<std::uint32_t>(to.data_.size());
  to.data_.insert(to.data_.end(), data_.begin(),
                  data_.begin() + static_cast<std::ptrdiff_t>(bytes));
  for (std::size_t k = 0; k < count; ++k) to.ends_.push_back(base + ends_[k]);
  data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(bytes));
  ends_.erase(ends_.begin(), ends_.begin() + static_cast<std::ptrdiff_t>(count));
  for (auto& e : ends_) e -= static_cast<std::uint32_t>(bytes);
  shortest_ = 0;
  to.shortest_ = 0;
  synced_entries_ = 0;
  to.synced_entries_ = std::min(to.synced_entries_, to.ends_.size() - count);
}

IndexRowPointer IndexPage::RowPointer(std::size_t i) const {
  auto c = Comparable(i);
  const std::uint8_t* p = c.data() + c.size() - L::kRowPointerSize;
  return {static_cast<std::uint32_t>((p[0] << 16) | (p[1] << 8) | p[2]), p[3]};
}

std::uint32_t IndexPage::Child(std::size_t i) const {
  auto e = Entry(i);
  const std::uint8_t* p = e.data() + e.size() - L::kChildSize;
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

std::size_t IndexPage::StoredSize(std::size_t prefix) const {
  if (ends_.empty()) return 0;
  return data_.size() - prefix * (ends_.size() - 1);
}

std::size_t IndexPage::MaxPrefix() const {
  if (ends_.size() < 2) return 0;
  const std::uint8_t* first = data_.data();
  const std::size_t first_size = ends_[0];
  const std::uint8_t* last = data_.data() + ends_[ends_.size() - 2];
  const std::size_t last_size = ends_.back() - ends_[ends_.size() - 2];
  std::size_t common = 0;
  const std::size_t n = std::min(first_size, last_size);
  while (common < n && first[common] == last[common]) ++common;
  // Stop before the row byte (and a node's child page): entries differing only there keep
  // it stored.
  if (shortest_ == 0) {
    shortest_ = first_size;
    for (std::size_t i = 1; i < ends_.size(); ++i)
      shortest_ = std::min<std::size_t>(shortest_, ends_[i] - ends_[i - 1]);
  }
  const std::size_t limit = shortest_ - 1 - (leaf ? 0 : L::kChildSize);
  return std::min(common, limit);
}

bool IndexPage::FitPrefix() {
  if (StoredSize(0) <= L::kEntryAreaSize) {
    prefix_length = 0;
    return true;
  }
  prefix_length = static_cast<std::uint16_t>(MaxPrefix());
  return StoredSize(prefix_length) <= L::kEntryAreaSize;
}

IndexPage DecodeIndexPage(std::span<const std::uint8_t> bytes) {
  IndexPage page;
  DecodeIndexPage(bytes, page);
  return page;
}

void DecodeIndexPage(std::span<const std::uint8_t> bytes, IndexPage& page) {
  if (bytes.size() != L::kPageSize) {
    throw IndexPageError("an index page has " + std::to_string(L::kPageSize) + " bytes, not " +
                         std::to_string(bytes.size()));
  }
  const std::uint8_t* p = bytes.data();
  if (p[L::kType] != L::kLeafType && p[L::kType] != L::kNodeType) {
    throw IndexPageError("page type " + std::to_string(p[L::kType]) + " is not an index page");
  }
  if (p[L::kMagic] != L::kMagicValue) {
    throw IndexPageError("index page marker byte is " + std::to_string(p[L::kMagic]) + ", not 1");
  }
  page.ClearEntries();
  page.synced_page_ = 0;
  page.leaf = p[L::kType] == L::kLeafType;
  page.table_definition = Get32(p + L::kTableDefinition);
  page.unknown08 = Get32(p + L::kUnknown08);
  page.prev_page = Get32(p + L::kPrevPage);
  page.next_page = Get32(p + L::kNextPage);
  page.tail_page = Get32(p + L::kTailPage);
  page.prefix_length = Get16(p + L::kPrefixLength);
  page.level = p[L::kLevel];

  // Entry ends from the mask, in offset order (stored offsets; the prefix is added below).
  std::vector<std::uint32_t>& ends = page.ends_;
  for (std::size_t byte = 0; byte < L::kEntryMaskSize; ++byte) {
    unsigned bits = p[L::kEntryMask + byte];
    while (bits != 0) {
      const unsigned bit = static_cast<unsigned>(std::countr_zero(bits));
      bits &= bits - 1;
      const std::uint32_t end = static_cast<std::uint32_t>(byte * 8 + bit);
      if (end == 0) throw IndexPageError("the entry mask marks an empty first entry");
      if (end > L::kEntryAreaSize) {
        throw IndexPageError("the entry mask marks an entry ending at byte " + std::to_string(end) +
                             ", past the page end");
      }
      ends.push_back(end);
    }
  }
  const std::size_t stored = ends.empty() ? 0 : ends.back();
  const std::size_t free_space = Get16(p + L::kFreeSpace);
  if (free_space != L::kEntryAreaSize - stored) {
    throw IndexPageError("free space field is " + std::to_string(free_space) +
                         " but the entries leave " + std::to_string(L::kEntryAreaSize - stored));
  }
  const std::size_t prefix = page.prefix_length;
  const std::uint8_t* area = p + L::kEntries;
  if (!ends.empty() && prefix > ends[0]) {
    throw IndexPageError("prefix length " + std::to_string(prefix) +
                         " is longer than the first entry (" + std::to_string(ends[0]) + " bytes)");
  }
  std::vector<std::uint8_t>& data = page.data_;
  data.reserve(kReserve);  // so that the inserts that follow do not move the entries
  if (prefix == 0) {
    data.assign(area, area + stored);  // stored as kept: one copy
  } else {
    data.reserve(stored + prefix * ends.size());
    std::uint32_t begin = 0;
    for (std::size_t i = 0; i < ends.size(); ++i) {
      if (i > 0) data.insert(data.end(), area, area + prefix);
      data.insert(data.end(), area + begin, area + ends[i]);
      begin = ends[i];
      ends[i] = static_cast<std::uint32_t>(data.size());
    }
  }
  const std::size_t minimum = MinimumEntry(page.leaf);
  for (std::size_t i = 0; i < ends.size(); ++i) {
    const std::size_t size = ends[i] - (i == 0 ? 0 : ends[i - 1]);
    if (size < minimum) {
      throw IndexPageError("entry " + std::to_string(i) + " has " + std::to_string(size) +
                           " bytes, too short for a" + (page.leaf ? " leaf" : " node") + " entry");
    }
    if (i > 0 && Compare(page.Comparable(i - 1), page.Comparable(i)) >= 0) {
      throw IndexPageError("entries " + std::to_string(i - 1) + " and " + std::to_string(i) +
                           " are out of order");
    }
  }
}

void EncodeIndexPage(const IndexPage& page, std::span<std::uint8_t> out) {
  if (out.size() != L::kPageSize) throw IndexPageError("index page buffer has the wrong size");
  const std::size_t prefix = page.prefix_length;
  const std::size_t stored = page.StoredSize(prefix);
  if (stored > L::kEntryAreaSize) {
    throw IndexPageError("index entries need " + std::to_string(stored) + " bytes; a page holds " +
                         std::to_string(L::kEntryAreaSize));
  }
  if (!page.empty() && prefix > page.MaxPrefix() && prefix != 0) {
    // A prefix must be common to every entry; MaxPrefix is the largest that is.
    auto first = page.Entry(0);
    for (std::size_t i = 1; i < page.size(); ++i) {
      auto e = page.Entry(i);
      if (e.size() <= prefix ||
          !std::equal(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(prefix),
                      e.begin())) {
        throw IndexPageError("prefix length " + std::to_string(prefix) +
                             " is not shared by every entry");
      }
    }
  }
  std::uint8_t* p = out.data();
  std::memset(p, 0, L::kEntries);  // header and entry mask
  p[L::kType] = page.leaf ? L::kLeafType : L::kNodeType;
  p[L::kMagic] = L::kMagicValue;
  Put16(p + L::kPrefixLength, static_cast<std::uint16_t>(prefix));
  PutHeaderFields(p, page, stored);
  std::uint8_t* area = p + L::kEntries;
  std::uint8_t* mask = p + L::kEntryMask;
  if (prefix == 0 || page.empty()) {
    // Entries are stored as they are kept: one copy, then the end bits. (An empty page keeps
    // whatever prefix length it was read with; there is nothing to share it.)
    if (page.DataSize() != 0) std::memcpy(area, page.Entry(0).data(), page.DataSize());
    for (std::size_t i = 0; i < page.size(); ++i) {
      const std::size_t end = page.EntryEnd(i);
      mask[end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
    }
  } else {
    // The first entry whole, then every other without the shared prefix. Entries are a
    // few bytes each: a plain loop beats a memcpy call per entry.
    const std::uint8_t* data = page.Entry(0).data();
    std::size_t at = 0;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
      const std::size_t end = page.EntryEnd(i);
      for (std::size_t k = begin + (i == 0 ? 0 : prefix); k < end; ++k) area[at++] = data[k];
      mask[at / 8] |= static_cast<std::uint8_t>(1u << (at % 8));
      begin = end;
    }
  }
  std::memset(area + stored, 0, L::kEntryAreaSize - stored);
}

void IndexPage::MarkSynced(std::uint32_t page) {
  synced_page_ = page;
  synced_entries_ = size();
  synced_prefix_ = prefix_length;
  synced_leaf_ = leaf;
  synced_bytes_ = prefix_length == 0 ? DataSize() : StoredSize(prefix_length);
}

void EncodeIndexPageChanges(IndexPage& page, std::uint32_t number, std::span<std::uint8_t> out) {
  const std::size_t from = page.synced_entries_;
  if (page.synced_page_ != number || page.prefix_length != 0 || page.synced_prefix_ != 0 ||
      page.synced_leaf_ != page.leaf || from == 0 || out.size() != L::kPageSize) {
    EncodeIndexPage(page, out);
    page.MarkSynced(number);
    return;
  }
  // Entries [0, from) are on the page as they are here; with no prefix an entry's bytes
  // sit at the same offset in the entry area as in data_.
  const std::size_t stored = page.DataSize();
  if (stored > L::kEntryAreaSize) {
    throw IndexPageError("index entries need " + std::to_string(stored) + " bytes; a page holds " +
                         std::to_string(L::kEntryAreaSize));
  }
  std::uint8_t* p = out.data();
  // What the page holds, from the page object rather than the page: the page's bytes are
  // usually not in the processor's cache, and only stores go there.
  const std::size_t old_stored = page.synced_bytes_;
  PutHeaderFields(p, page, stored);
  std::uint8_t* area = p + L::kEntries;
  std::uint8_t* mask = p + L::kEntryMask;
  const std::size_t begin = page.EntryEnd(from - 1);  // first byte that may change
  // Mask bits for ends after `begin`: the byte holding `begin` keeps its lower bits.
  const std::size_t clear_to = std::max(old_stored, stored);
  if (clear_to > begin) {
    const std::size_t first_byte = (begin + 1) / 8;
    const std::size_t last_byte = clear_to / 8;
    if ((begin + 1) % 8 != 0) {
      mask[first_byte] &= static_cast<std::uint8_t>((1u << ((begin + 1) % 8)) - 1);
      if (last_byte > first_byte) std::memset(mask + first_byte + 1, 0, last_byte - first_byte);
    } else {
      std::memset(mask + first_byte, 0, last_byte - first_byte + 1);
    }
  }
  for (std::size_t i = from; i < page.size(); ++i) {
    const std::size_t end = page.EntryEnd(i);
    mask[end / 8] |= static_cast<std::uint8_t>(1u << (end % 8));
  }
  if (stored > begin) std::memcpy(area + begin, page.Entry(0).data() + begin, stored - begin);
  if (old_stored > stored) std::memset(area + stored, 0, old_stored - stored);
  page.MarkSynced(number);
}

void AppendRowPointer(std::vector<std::uint8_t>& entry, IndexRowPointer where) {
  entry.push_back(static_cast<std::uint8_t>(where.page >> 16));
  entry.push_back(static_cast<std::uint8_t>(where.page >> 8));
  entry.push_back(static_cast<std::uint8_t>(where.page));
  entry.push_back(where.row);
}

void AppendChild(std::vector<std::uint8_t>& entry, std::uint32_t child) {
  for (int shift = 24; shift >= 0; shift -= 8)
    entry.push_back(static_cast<std::uint8_t>(child >> shift));
}

}  // namespace jet

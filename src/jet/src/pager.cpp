#include "jet/pager.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "core/internal_error.h"
#include "jet/journal.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace jet {

struct PageFrame {
  std::uint32_t number = 0;
  std::uint32_t pins = 0;
  bool dirty = false;
  bool referenced = false;
  std::size_t resident_index = 0;
  std::uint8_t* data = nullptr;  // one page in one of the pager's frame blocks
};

namespace {

// Usage-map rows: byte 0 is the map type.
constexpr std::uint8_t kMapInline = 0x00;     // u32 start page at 1, bitmap from 5
constexpr std::uint8_t kMapReference = 0x01;  // u32 bitmap-page numbers from 1
constexpr std::uint16_t kMapInlineStart = 1;
constexpr std::uint16_t kMapInlineBits = 5;
constexpr std::uint16_t kMapReferenceEntries = 1;
// A type-0x05 bitmap page: 05 01 00 00, bitmap from offset 4.
constexpr std::uint16_t kBitmapPageBits = 4;
// The rows of page 1 Jet creates: the global map and a second, always empty one.
constexpr std::uint16_t kStandardMapRowLength = 69;

// RC4 as used for encrypted databases (key: the page number mixed with the database key).
void Rc4(const std::uint8_t* key, std::size_t key_length, std::uint8_t* data, std::size_t n) {
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + key[i % key_length]);
    std::swap(s[i], s[j]);
  }
  std::uint8_t a = 0, b = 0;
  for (std::size_t k = 0; k < n; ++k) {
    a = static_cast<std::uint8_t>(a + 1);
    b = static_cast<std::uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    data[k] ^= s[static_cast<std::uint8_t>(s[a] + s[b])];
  }
}

}  // namespace

// ---- PageSet ----

void PageSet::Insert(std::uint32_t page) {
  std::size_t w = page / 64;
  if (w >= words_.size()) words_.resize(w + 1, 0);
  words_[w] |= std::uint64_t{1} << (page % 64);
}

void PageSet::Erase(std::uint32_t page) {
  std::size_t w = page / 64;
  if (w < words_.size()) words_[w] &= ~(std::uint64_t{1} << (page % 64));
}

std::uint32_t PageSet::Next(std::uint32_t from) const {
  std::size_t w = from / 64;
  if (w >= words_.size()) return kNoPage;
  std::uint64_t bits = words_[w] & (~std::uint64_t{0} << (from % 64));
  while (true) {
    if (bits != 0) return static_cast<std::uint32_t>(w * 64 + std::countr_zero(bits));
    if (++w >= words_.size()) return kNoPage;
    bits = words_[w];
  }
}

std::uint32_t PageSet::Prev(std::uint32_t from) const {
  if (words_.empty()) return kNoPage;
  std::size_t w = std::min<std::size_t>(from / 64, words_.size() - 1);
  std::uint64_t bits = words_[w];
  if (w == from / 64 && from % 64 != 63) bits &= (std::uint64_t{2} << (from % 64)) - 1;
  while (true) {
    if (bits != 0) return static_cast<std::uint32_t>(w * 64 + 63 - std::countl_zero(bits));
    if (w == 0) return kNoPage;
    bits = words_[--w];
  }
}

std::uint32_t PageSet::Max() const {
  for (std::size_t w = words_.size(); w-- > 0;)
    if (words_[w] != 0)
      return static_cast<std::uint32_t>(w * 64 + 63 - std::countl_zero(words_[w]));
  return kNoPage;
}

std::size_t PageSet::Count() const {
  std::size_t n = 0;
  for (auto w : words_) n += static_cast<std::size_t>(std::popcount(w));
  return n;
}

std::vector<std::uint32_t> PageSet::ToVector() const {
  std::vector<std::uint32_t> out;
  for (std::uint32_t p = Next(0); p != kNoPage; p = Next(p + 1)) out.push_back(p);
  return out;
}

bool operator==(const PageSet& a, const PageSet& b) {
  std::size_t n = std::max(a.words_.size(), b.words_.size());
  for (std::size_t i = 0; i < n; ++i) {
    std::uint64_t x = i < a.words_.size() ? a.words_[i] : 0;
    std::uint64_t y = i < b.words_.size() ? b.words_[i] : 0;
    if (x != y) return false;
  }
  return true;
}

// ---- UsageMap ----

void UsageMap::Add(std::uint32_t page) {
  if (!pages_.Contains(page)) {
    pages_.Insert(page);
    dirty_ = true;
  }
}

void UsageMap::Remove(std::uint32_t page) {
  if (pages_.Contains(page)) {
    pages_.Erase(page);
    dirty_ = true;
  }
}

// ---- PageRef ----

PageRef::PageRef(Pager* pager, PageFrame* frame, bool writable)
    : pager_(pager), frame_(frame), writable_(writable) {
  ++frame_->pins;
}

PageRef::PageRef(PageRef&& other) noexcept
    : pager_(other.pager_), frame_(other.frame_), writable_(other.writable_) {
  other.frame_ = nullptr;
}

PageRef& PageRef::operator=(PageRef&& other) noexcept {
  if (this != &other) {
    if (frame_) pager_->Unpin(frame_);
    pager_ = other.pager_;
    frame_ = other.frame_;
    writable_ = other.writable_;
    other.frame_ = nullptr;
  }
  return *this;
}

PageRef::~PageRef() {
  if (frame_) pager_->Unpin(frame_);
}

std::uint32_t PageRef::Number() const {
  return frame_->number;
}
const std::uint8_t* PageRef::Data() const {
  return frame_->data;
}
std::uint8_t* PageRef::MutableData() {
  if (!writable_)
    core::ThrowInternal("page " + std::to_string(Number()) + " was read, not written");
  return frame_->data;
}
std::span<const std::uint8_t> PageRef::Bytes() const {
  return {frame_->data, pager_->PageSize()};
}

// ---- Pager ----

Pager::Pager(std::unique_ptr<core::File> file, JetVersion version, const PagerOptions& options)
    : Pager(std::move(file), version, options, false) {}

Pager::Pager(std::unique_ptr<core::File> file, JetVersion version, const PagerOptions& options,
             bool fresh)
    : file_(std::move(file)),
      version_(version),
      page_size_(PageSizeOf(version)),
      options_(options) {
  if (options_.cache_pages < 16) options_.cache_pages = 16;
  if (fresh) {
    page_count_ = 2;
    frames_.resize(2);
    PageFrame* header = Fetch(0, false);
    std::memset(header->data, 0, page_size_);
    header->dirty = true;
    PageFrame* map_frame = Fetch(1, false);
    map_frame->dirty = true;
    std::uint8_t* p = map_frame->data;
    std::memset(p, 0, page_size_);
    const auto layout = DataPageLayout::For(version_);
    p[DataPageLayout::kType] = page_type::kData;
    p[DataPageLayout::kMagic] = 0x01;
    PutLe32(p + DataPageLayout::kOwner, 1);
    PutLe16(p + layout.row_count_offset, 2);
    std::uint16_t row0 = static_cast<std::uint16_t>(page_size_ - kStandardMapRowLength);
    std::uint16_t row1 = static_cast<std::uint16_t>(row0 - kStandardMapRowLength);
    PutLe16(p + layout.first_slot, row0);
    PutLe16(p + layout.first_slot + 2, row1);
    PutLe16(p + DataPageLayout::kFreeSpace,
            static_cast<std::uint16_t>(row1 - layout.first_slot - 4));
    global_.where_ = RowPointer{1, 0};
    global_.row_length_ = kStandardMapRowLength;
    global_dirty_ = true;
    return;
  }
  std::uint64_t size = file_->Size();
  if (size % page_size_ != 0)
    ThrowCorrupt({.file = FileName()}, "the file is " + std::to_string(size) +
                                           " bytes long, not a whole number of " +
                                           std::to_string(page_size_) + "-byte pages (truncated?)");
  if (size / page_size_ > kMaxJet4Pages)
    ThrowCorrupt({.file = FileName()}, "the file is larger than 2 GiB");
  page_count_ = static_cast<std::uint32_t>(size / page_size_);
  if (page_count_ < 3)
    ThrowCorrupt({.file = FileName()},
                 "the file has " + std::to_string(page_count_) +
                     " pages; a database has at least the header, the page map and the catalog");
  frames_.resize(page_count_);
  LoadGlobalMap();
}

std::unique_ptr<Pager> Pager::CreateNew(std::unique_ptr<core::File> file,
                                        const PagerOptions& options) {
  PagerOptions o = options;
  o.writable = true;
  return std::unique_ptr<Pager>(new Pager(std::move(file), JetVersion::kJet4, o, true));
}

Pager::~Pager() = default;

void Pager::UseJournal(core::FileSystem& fs) {
  journal_fs_ = &fs;
  journal_ = std::make_unique<Journal>(fs, FileName(), page_size_);
  // What the file holds now is committed; a new database is empty until its first commit.
  committed_pages_ = static_cast<std::uint32_t>(file_->Size() / page_size_);
}

std::uint64_t Pager::JournalBytes() const {
  return journal_ ? journal_->Bytes() : 0;
}

void Pager::CheckNotFailed() const {
  if (failed_)
    throw core::EFileError(FileName() +
                           ": an earlier write to the database failed; nothing more is written, "
                           "and the changes since the last commit are undone when it is closed");
}

void Pager::JournalBeforeWriting(const std::vector<PageFrame*>& frames) {
  if (!journal_) return;
  if (!journal_->Active()) journal_->Begin(committed_pages_);
  original_.resize(page_size_);
  for (const PageFrame* f : frames) {
    if (f->number >= committed_pages_ || journal_->Holds(f->number)) continue;
    // Not yet written in this transaction, so the file still has the page as committed.
    std::size_t got = file_->ReadAt(std::uint64_t{f->number} * page_size_, original_);
    if (got != page_size_) std::memset(original_.data() + got, 0, page_size_ - got);
    journal_->Add(f->number, original_);
  }
  journal_->Sync();
}

void Pager::RollBack() {
  failed_ = true;
  if (!journal_ || !journal_->Active()) return;  // nothing reached the file
  journal_->Close();
  RollBackJournal(*journal_fs_, *file_);
}

void Pager::FreeBlock::operator()(std::uint8_t* p) const {
  std::free(p);
}

std::uint8_t* Pager::NewFrameData() {
  if (block_used_ == frames_per_block_) {
    // Frames come in blocks of 2 MiB (fewer for small caches). A bulk load fills the whole
    // cache once: memory the kernel can back with large pages costs a fraction of the
    // faults that single 4 KiB allocations take.
    constexpr std::size_t kBlockBytes = 2u << 20;
    frames_per_block_ =
        std::clamp<std::size_t>(options_.cache_pages + 8, 16, kBlockBytes / page_size_);
    const std::size_t bytes = frames_per_block_ * page_size_;
    const std::size_t alignment = bytes == kBlockBytes ? kBlockBytes : page_size_;
    auto* block = static_cast<std::uint8_t*>(std::aligned_alloc(alignment, bytes));
    if (!block) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes == kBlockBytes) madvise(block, bytes, MADV_HUGEPAGE);
#endif
    blocks_.emplace_back(block);
    block_used_ = 0;
  }
  return blocks_.back().get() + page_size_ * block_used_++;
}

PageFrame* Pager::Fetch(std::uint32_t page, bool load) {
  if (load) ++pages_read_;
  if (page >= page_count_)
    ThrowCorrupt({.file = FileName(), .page = page}, "the page lies beyond the end of the file (" +
                                                         std::to_string(page_count_) + " pages)");
  if (frames_.size() < page_count_) frames_.resize(page_count_);
  PageFrame* frame = frames_[page].get();
  if (frame) {
    frame->referenced = true;
    return frame;
  }
  EvictIfNeeded();
  // Frames of evicted pages are reused: a bulk load cycles through the cache constantly.
  std::unique_ptr<PageFrame> owned;
  if (!spare_frames_.empty()) {
    owned = std::move(spare_frames_.back());
    spare_frames_.pop_back();
    *owned = PageFrame{page, 0, false, false, 0, owned->data};
  } else {
    owned = std::make_unique<PageFrame>();
    owned->number = page;
    owned->data = NewFrameData();
  }
  if (load) {
    std::size_t got = file_->ReadAt(std::uint64_t{page} * page_size_, {owned->data, page_size_});
    if (got != page_size_)
      ThrowCorrupt({.file = FileName(), .page = page}, "the file ends inside this page");
    if (encryption_key_ != 0 && page > 0) {
      std::uint8_t key[4];
      PutLe32(key, encryption_key_ ^ page);
      Rc4(key, 4, owned->data, page_size_);
    }
  }  // otherwise the caller fills the whole page
  frame = owned.get();
  frame->referenced = true;
  frame->resident_index = resident_.size();
  resident_.push_back(frame);
  frames_[page] = std::move(owned);
  return frame;
}

void Pager::Unpin(PageFrame* frame) {
  --frame->pins;
}

void Pager::EvictIfNeeded() {
  if (resident_.size() < options_.cache_pages) return;
  // Changed pages that the file held when the transaction began stay in memory while
  // anything else can go: until the commit the file then holds the last commit plus pages
  // past its end, which any reader (one that knows nothing of the journal, too) reads as
  // that commit, and the journal stays empty. Only a cache full of them writes them early.
  for (const bool keep_originals : {journal_ != nullptr, false}) {
    auto held = [&](const PageFrame* f) {
      return f->dirty && (failed_ || (keep_originals && f->number < committed_pages_));
    };
    std::size_t budget = resident_.size() * 2 + 1;
    std::vector<PageFrame*> to_write;
    while (resident_.size() >= options_.cache_pages && budget-- > 0) {
      if (clock_hand_ >= resident_.size()) clock_hand_ = 0;
      PageFrame* f = resident_[clock_hand_];
      // A failed pager writes nothing: its changed pages stay until it is rolled back.
      if (f->pins > 0 || f->referenced || held(f)) {
        f->referenced = false;
        ++clock_hand_;
        continue;
      }
      if (f->dirty) {
        // Write back every dirty unpinned page in one ordered pass rather than one by one.
        to_write.clear();
        for (PageFrame* d : resident_)
          if (d->dirty && d->pins == 0 && !held(d)) to_write.push_back(d);
        WriteFrames(to_write);
      }
      // Remove f: swap with the last resident frame.
      std::size_t i = f->resident_index;
      resident_[i] = resident_.back();
      resident_[i]->resident_index = i;
      resident_.pop_back();
      spare_frames_.push_back(std::move(frames_[f->number]));
    }
    if (resident_.size() < options_.cache_pages || !keep_originals) return;
  }
}

void Pager::WriteFrames(std::vector<PageFrame*>& frames) {
  if (frames.empty()) return;
  CheckNotFailed();
  std::sort(frames.begin(), frames.end(),
            [](const PageFrame* a, const PageFrame* b) { return a->number < b->number; });
  try {
    JournalBeforeWriting(frames);
    WriteSortedFrames(frames);
  } catch (...) {
    failed_ = true;
    throw;
  }
  written_ = true;
}

void Pager::WriteSortedFrames(std::vector<PageFrame*>& frames) {
  std::vector<std::span<const std::uint8_t>> run;
  std::size_t i = 0;
  while (i < frames.size()) {
    std::size_t j = i + 1;
    while (j < frames.size() && frames[j]->number == frames[j - 1]->number + 1 && j - i < 256) ++j;
    if (j - i == 1) {
      file_->WriteAt(std::uint64_t{frames[i]->number} * page_size_, {frames[i]->data, page_size_});
    } else {
      // Consecutive pages go out in one write, straight from their frames.
      run.clear();
      for (std::size_t k = i; k < j; ++k) run.emplace_back(frames[k]->data, page_size_);
      file_->WriteAtGathered(std::uint64_t{frames[i]->number} * page_size_, run);
    }
    for (std::size_t k = i; k < j; ++k) frames[k]->dirty = false;
    i = j;
  }
}

PageRef Pager::Read(std::uint32_t page) {
  return PageRef(this, Fetch(page, true), false);
}

PageRef Pager::Write(std::uint32_t page) {
  if (!options_.writable)
    ThrowJet(ErrorCode::kReadOnly, FileName() + ": the database is open for reading only");
  CheckNotFailed();
  PageFrame* f = Fetch(page, true);
  f->dirty = true;
  return PageRef(this, f, true);
}

std::uint32_t Pager::AppendRawPage() {
  std::uint32_t limit = version_ == JetVersion::kJet3 ? kMaxJet4Pages * 2 : kMaxJet4Pages;
  limit = std::min(limit, options_.max_pages);
  if (page_count_ >= limit)
    ThrowJet(ErrorCode::kDatabaseFull, FileName() + ": the database has reached its 2 GiB limit");
  return page_count_++;
}

void Pager::MarkUsed(std::uint32_t page) {
  free_.Erase(page);
  global_dirty_ = true;
}

PageRef Pager::Allocate(UsageMap* owner) {
  if (!options_.writable)
    ThrowJet(ErrorCode::kReadOnly, FileName() + ": the database is open for reading only");
  CheckNotFailed();
  std::uint32_t page = free_.Next(2);
  if (page == kNoPage || page >= page_count_) page = AppendRawPage();
  MarkUsed(page);
  PageFrame* f = Fetch(page, false);
  std::memset(f->data, 0, page_size_);
  f->dirty = true;
  if (owner) owner->Add(page);
  return PageRef(this, f, true);
}

void Pager::Release(std::uint32_t page, UsageMap* owner) {
  if (!options_.writable)
    ThrowJet(ErrorCode::kReadOnly, FileName() + ": the database is open for reading only");
  CheckNotFailed();
  if (page < 2 || page >= page_count_)
    core::ThrowInternal("releasing page " + std::to_string(page) + " of " + FileName());
  if (owner) owner->Remove(page);
  PageFrame* f = Fetch(page, false);
  std::memset(f->data, 0, page_size_);
  f->dirty = true;
  free_.Insert(page);
  global_dirty_ = true;
}

Pager::RowSpan Pager::LocateRow(const std::uint8_t* page, std::uint32_t page_number, int row,
                                JetVersion version, const std::string& file) {
  const auto layout = DataPageLayout::For(version);
  std::uint16_t count = Le16(page + layout.row_count_offset);
  std::uint32_t table_end = layout.first_slot + 2u * count;
  if (table_end > layout.page_size)
    ThrowCorrupt({.file = file, .page = page_number},
                 "the page claims " + std::to_string(count) + " rows, more than it can hold");
  if (row < 0 || row >= count)
    ThrowCorrupt({.file = file, .page = page_number, .row = row},
                 "the row does not exist (the page has " + std::to_string(count) + " rows)");
  std::uint16_t slot = Le16(page + layout.first_slot + 2 * row);
  std::uint32_t start = slot & DataPageLayout::kSlotOffsetMask;
  std::uint32_t end =
      row == 0 ? layout.page_size
               : (Le16(page + layout.first_slot + 2 * (row - 1)) & DataPageLayout::kSlotOffsetMask);
  std::uint16_t flags = slot & DataPageLayout::kSlotFlags;
  if (start < table_end || start > end || end > layout.page_size) {
    if ((flags & DataPageLayout::kSlotFlags) == DataPageLayout::kSlotFlags)
      return RowSpan{static_cast<std::uint16_t>(std::min<std::uint32_t>(start, layout.page_size)),
                     0, flags};  // a deleted row's bytes are never read
    ThrowCorrupt({.file = file, .page = page_number, .row = row},
                 "the row's offset " + std::to_string(start) + ".." + std::to_string(end) +
                     " lies outside the page's row area");
  }
  return RowSpan{static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(end - start), flags};
}

void Pager::DecodeMapRow(const std::uint8_t* row, std::uint16_t length, RowPointer where,
                         UsageMap& into, bool global) {
  Location at{.file = FileName(), .page = where.page, .row = where.row};
  if (length < 1) ThrowCorrupt(at, "a usage map row is empty");
  into.where_ = where;
  into.row_length_ = length;
  into.pages_.Clear();
  into.bitmap_pages_.clear();
  // Page numbers are 24 bits wide in row pointers; anything beyond cannot be a page.
  constexpr std::uint64_t kPageLimit = 0x1000000;
  auto add = [&](std::uint64_t page) {
    if (page >= kPageLimit) return;
    if (global && page >= page_count_) return;  // beyond the file end: free anyway
    into.pages_.Insert(static_cast<std::uint32_t>(page));
  };
  if (row[0] == kMapInline) {
    if (length < kMapInlineBits)
      ThrowCorrupt(at, "an inline usage map row is shorter than 5 bytes");
    into.reference_type_ = false;
    std::uint32_t start = Le32(row + kMapInlineStart);
    into.inline_start_ = start;
    for (std::uint32_t i = kMapInlineBits; i < length; ++i) {
      std::uint8_t b = row[i];
      for (int bit = 0; b != 0; ++bit, b >>= 1)
        if (b & 1) add(std::uint64_t{start} + (i - kMapInlineBits) * 8u + bit);
    }
  } else if (row[0] == kMapReference) {
    into.reference_type_ = true;
    std::uint32_t entries = (length - 1u) / 4u;
    into.bitmap_pages_.assign(entries, 0);
    for (std::uint32_t e = 0; e < entries; ++e) {
      std::uint32_t bitmap = Le32(row + kMapReferenceEntries + 4 * e);
      // Access fills the entries after the last map page it needed with 0 or with
      // 0xFFFFFF80; neither names a page (a page number never has the top bit set).
      if (bitmap == 0 || (bitmap & 0x80000000u) != 0) continue;
      if (bitmap < 2 || bitmap >= page_count_)
        ThrowCorrupt(at, "the usage map refers to bitmap page " + std::to_string(bitmap) +
                             ", outside the file");
      into.bitmap_pages_[e] = bitmap;
      PageRef bp = Read(bitmap);
      if (bp.Data()[0] != page_type::kUsageBitmap)
        ThrowCorrupt({.file = FileName(), .page = bitmap},
                     "expected a usage-map bitmap page (type 5), found type " +
                         std::to_string(bp.Data()[0]));
      std::uint64_t base = std::uint64_t{e} * BitsPerBitmapPage();
      for (std::uint32_t i = kBitmapPageBits; i < page_size_; ++i) {
        std::uint8_t b = bp.Data()[i];
        for (int bit = 0; b != 0; ++bit, b >>= 1)
          if (b & 1) add(base + (i - kBitmapPageBits) * 8u + bit);
      }
    }
  } else {
    ThrowCorrupt(at, "unknown usage map type " + std::to_string(row[0]));
  }
  into.dirty_ = false;
}

void Pager::LoadGlobalMap() {
  PageRef p = Read(1);
  if (p.Data()[0] != page_type::kData)
    ThrowCorrupt({.file = FileName(), .page = 1},
                 "expected the global page map (a data page), found page type " +
                     std::to_string(p.Data()[0]));
  RowSpan span = LocateRow(p.Data(), 1, 0, version_, FileName());
  DecodeMapRow(p.Data() + span.offset, span.length, RowPointer{1, 0}, global_, true);
  free_ = global_.pages_;
  global_.pages_.Clear();
}

UsageMap& Pager::Map(RowPointer where) {
  auto it = maps_.find(where.ToU32());
  if (it != maps_.end()) return *it->second;
  auto map = std::make_unique<UsageMap>();
  {
    PageRef p = Read(where.page);
    if (p.Data()[0] != page_type::kData)
      ThrowCorrupt({.file = FileName(), .page = where.page, .row = where.row},
                   "a usage map should be here, on a data page, but the page has type " +
                       std::to_string(p.Data()[0]));
    RowSpan span = LocateRow(p.Data(), where.page, where.row, version_, FileName());
    if (span.flags != 0)
      ThrowCorrupt({.file = FileName(), .page = where.page, .row = where.row},
                   "the usage map row is marked deleted");
    DecodeMapRow(p.Data() + span.offset, span.length, where, *map, false);
  }
  return *maps_.emplace(where.ToU32(), std::move(map)).first->second;
}

PageSet Pager::LoadMapPages(RowPointer where) {
  auto it = maps_.find(where.ToU32());
  if (it != maps_.end()) return it->second->pages_;
  UsageMap scratch;
  PageRef p = Read(where.page);
  if (p.Data()[0] != page_type::kData)
    ThrowCorrupt({.file = FileName(), .page = where.page, .row = where.row},
                 "a usage map should be here, on a data page, but the page has type " +
                     std::to_string(p.Data()[0]));
  RowSpan span = LocateRow(p.Data(), where.page, where.row, version_, FileName());
  DecodeMapRow(p.Data() + span.offset, span.length, where, scratch, false);
  return scratch.pages_;
}

void Pager::DropMap(RowPointer where) {
  UsageMap& map = Map(where);
  for (std::uint32_t bitmap : map.bitmap_pages_)
    if (bitmap != 0) Release(bitmap, nullptr);
  maps_.erase(where.ToU32());
}

void Pager::StoreMap(UsageMap& map) {
  const std::uint16_t length = map.row_length_;
  std::vector<std::uint8_t> row(length, 0);
  const PageSet& pages = map.pages_;
  if (!map.reference_type_ && length >= kMapInlineBits) {
    std::uint64_t span = std::uint64_t{length} * 8 - kMapInlineBits * 8u;
    std::uint32_t lo = pages.Min(), hi = pages.Max();
    std::uint32_t candidates[3] = {map.inline_start_, 0, lo == kNoPage ? 0 : (lo & ~7u)};
    bool placed = false;
    for (std::uint32_t start : candidates) {
      if (lo == kNoPage || (lo >= start && std::uint64_t{hi} < start + span)) {
        map.inline_start_ =
            lo == kNoPage ? (map.inline_start_ % 8 == 0 ? map.inline_start_ : 0) : start;
        placed = true;
        break;
      }
    }
    if (placed) {
      row[0] = kMapInline;
      PutLe32(row.data() + kMapInlineStart, map.inline_start_);
      for (std::uint32_t p = pages.Min(); p != kNoPage; p = pages.Next(p + 1)) {
        std::uint32_t k = p - map.inline_start_;
        row[kMapInlineBits + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
      }
    } else {
      // Too many pages for the inline window: the map turns into references to bitmap
      // pages, the form Jet uses for large tables.
      map.reference_type_ = true;
      map.bitmap_pages_.assign((length - 1u) / 4u, 0);
    }
  }
  if (map.reference_type_) {
    const std::uint32_t per_page = BitsPerBitmapPage();
    const std::uint32_t entries = (length - 1u) / 4u;
    map.bitmap_pages_.resize(entries, 0);
    std::uint32_t hi = pages.Max();
    if (hi != kNoPage && hi / per_page >= entries)
      ThrowJet(ErrorCode::kDatabaseFull,
               FileName() + ": a usage map cannot list page " + std::to_string(hi));
    row[0] = kMapReference;
    for (std::uint32_t e = 0; e < entries; ++e) {
      std::uint32_t first = e * per_page;
      std::uint32_t next = pages.Next(first);
      bool any = next != kNoPage && next < first + per_page;
      if (!any && map.bitmap_pages_[e] == 0) continue;
      if (map.bitmap_pages_[e] == 0) {
        PageRef fresh = Allocate(nullptr);
        map.bitmap_pages_[e] = fresh.Number();
      }
      PageRef bp = Write(map.bitmap_pages_[e]);
      std::uint8_t* d = bp.MutableData();
      std::memset(d, 0, page_size_);
      d[0] = page_type::kUsageBitmap;
      d[1] = 0x01;
      for (std::uint32_t p = next; p != kNoPage && p < first + per_page; p = pages.Next(p + 1)) {
        std::uint32_t k = p - first;
        d[kBitmapPageBits + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
      }
      PutLe32(row.data() + kMapReferenceEntries + 4 * e, map.bitmap_pages_[e]);
    }
  }
  PageRef p = Write(map.where_.page);
  RowSpan span = LocateRow(p.Data(), map.where_.page, map.where_.row, version_, FileName());
  if (span.length != length)
    ThrowCorrupt({.file = FileName(), .page = map.where_.page, .row = map.where_.row},
                 "the usage map row changed length while the database was open");
  std::memcpy(p.MutableData() + span.offset, row.data(), length);
  map.dirty_ = false;
}

void Pager::StoreGlobalMap() {
  const auto layout = DataPageLayout::For(version_);
  const std::uint32_t per_page = BitsPerBitmapPage();
  // Other rows of page 1 are kept as they are.
  std::vector<std::vector<std::uint8_t>> rows;
  std::vector<std::uint16_t> flags;
  {
    PageRef p = Read(1);
    std::uint16_t count = Le16(p.Data() + layout.row_count_offset);
    for (int r = 0; r < count; ++r) {
      RowSpan s = LocateRow(p.Data(), 1, r, version_, FileName());
      rows.emplace_back(p.Data() + s.offset, p.Data() + s.offset + s.length);
      flags.push_back(s.flags);
    }
    if (rows.empty())
      ThrowCorrupt({.file = FileName(), .page = 1}, "the global page map row is missing");
  }
  std::uint32_t others = 0;
  for (std::size_t r = 1; r < rows.size(); ++r)
    others += static_cast<std::uint32_t>(rows[r].size());
  const std::uint32_t room = page_size_ - layout.first_slot - 2u * rows.size() - others;

  std::vector<std::uint8_t> row0;
  if (!global_.reference_type_) {
    std::uint32_t old_bits =
        global_.row_length_ >= kMapInlineBits ? global_.row_length_ - kMapInlineBits : 0;
    std::uint32_t needed = (page_count_ + 7) / 8;
    needed = (needed + 7) / 8 * 8;
    std::uint32_t bytes = std::max(old_bits, needed);
    if (kMapInlineBits + bytes <= room && global_.inline_start_ == 0) {
      row0.assign(kMapInlineBits + bytes, 0);
      row0[0] = kMapInline;
      for (std::uint32_t k = 0; k < bytes * 8; ++k)
        if (k >= page_count_ || free_.Contains(k))
          row0[kMapInlineBits + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
      global_.row_length_ = static_cast<std::uint16_t>(row0.size());
    } else {
      global_.reference_type_ = true;
      global_.row_length_ = std::max<std::uint16_t>(kStandardMapRowLength, 1);
      global_.bitmap_pages_.assign((global_.row_length_ - 1u) / 4u, 0);
    }
  }
  if (global_.reference_type_) {
    std::uint32_t entries = (global_.row_length_ - 1u) / 4u;
    global_.bitmap_pages_.resize(entries, 0);
    // Allocating a bitmap page can grow the file into the next block: repeat until every
    // block up to the end of the file has its page.
    for (bool grew = true; grew;) {
      grew = false;
      std::uint32_t blocks = (page_count_ + per_page - 1) / per_page;
      if (blocks > entries)
        ThrowJet(ErrorCode::kDatabaseFull, FileName() + ": the page map cannot grow further");
      for (std::uint32_t e = 0; e < blocks; ++e) {
        if (global_.bitmap_pages_[e] != 0) continue;
        std::uint32_t page = free_.Next(2);
        if (page == kNoPage || page >= page_count_) page = AppendRawPage();
        free_.Erase(page);
        global_.bitmap_pages_[e] = page;
        grew = true;
      }
    }
    row0.assign(global_.row_length_, 0);
    row0[0] = kMapReference;
    for (std::uint32_t e = 0; e < entries; ++e) {
      std::uint32_t bitmap = global_.bitmap_pages_[e];
      if (bitmap == 0) continue;
      PutLe32(row0.data() + kMapReferenceEntries + 4 * e, bitmap);
      PageFrame* f = Fetch(bitmap, false);
      std::uint8_t* d = f->data;
      std::memset(d, 0, page_size_);
      d[0] = page_type::kUsageBitmap;
      d[1] = 0x01;
      for (std::uint32_t k = 0; k < per_page; ++k) {
        std::uint64_t page = std::uint64_t{e} * per_page + k;
        if (page >= page_count_ || free_.Contains(static_cast<std::uint32_t>(page)))
          d[kBitmapPageBits + k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
      }
      f->dirty = true;
    }
  }
  rows[0] = std::move(row0);

  PageRef p = Write(1);
  std::uint8_t* d = p.MutableData();
  std::uint8_t head[16];
  std::memcpy(head, d, layout.first_slot);
  std::memset(d, 0, page_size_);
  std::memcpy(d, head, layout.first_slot);
  PutLe16(d + layout.row_count_offset, static_cast<std::uint16_t>(rows.size()));
  std::uint32_t end = page_size_;
  std::uint32_t used = layout.first_slot;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    end -= static_cast<std::uint32_t>(rows[r].size());
    std::memcpy(d + end, rows[r].data(), rows[r].size());
    PutLe16(d + layout.first_slot + 2 * r, static_cast<std::uint16_t>(end | flags[r]));
    used += static_cast<std::uint32_t>(rows[r].size()) + 2;
  }
  if (version_ == JetVersion::kJet4)
    PutLe16(d + DataPageLayout::kFreeSpace, static_cast<std::uint16_t>(page_size_ - used));
  global_dirty_ = false;
}

bool Pager::HasUnwrittenChanges() const {
  if (global_dirty_) return true;
  for (const auto& [key, map] : maps_)
    if (map->dirty_) return true;
  for (const PageFrame* f : resident_)
    if (f->dirty) return true;
  return false;
}

void Pager::Flush() {
  if (!options_.writable) return;
  CheckNotFailed();
  try {
    for (auto& [key, map] : maps_)
      if (map->dirty_) StoreMap(*map);
    if (global_dirty_) StoreGlobalMap();
    std::vector<PageFrame*> dirty;
    for (PageFrame* f : resident_)
      if (f->dirty) dirty.push_back(f);
    WriteFrames(dirty);
    if (!written_) return;  // nothing changed since the last commit
    file_->Sync();
    // The commit point: once the journal is gone, the change stays.
    if (journal_) journal_->Retire();
  } catch (...) {
    failed_ = true;
    throw;
  }
  written_ = false;
  committed_pages_ = page_count_;
}

}  // namespace jet

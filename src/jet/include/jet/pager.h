// The page cache: the only way above the file seam to read, change, allocate and release
// pages of a database.
//
// - Pages are read through `Read` (a const view) or `Write` (marks the page dirty). Both
//   return a `PageRef` that pins the page in memory while it lives; pages not pinned may be
//   evicted (dirty ones are written back first) when the cache is over its budget.
// - Nothing reaches the file until `Flush` (or eviction); `Flush` writes the usage maps
//   that changed, then every dirty page in page order, then syncs. The owner of the Pager
//   calls Flush before closing; the destructor does not write.
// - With a journal (`UseJournal`), everything between two Flushes is one transaction: the
//   original bytes of a page the file held when the transaction began reach the journal,
//   synced, before the page is first overwritten, whether by eviction or by Flush; Flush
//   syncs the file and then retires the journal (the commit). A failed write or sync leaves
//   the pager failed: it refuses further changes, and `RollBack` puts the file back as the
//   last commit left it (or, if that fails too, the journal stays for the next open).
// - Page ownership is kept in usage maps, held in memory while the file is open. The global
//   map (page 1, row 0) says which pages are free; `Allocate` takes the lowest free page (or
//   appends one), `Release` gives it back. Every other map (a table's data pages, an index's
//   pages, a memo column's long-value pages) is a `UsageMap` obtained from `Map(where)` and
//   passed to Allocate/Release so that the page joins or leaves it in the same step.
//
// The pager knows the data-page header (map rows live on data pages) and the usage-map
// row formats, nothing else. It never interprets table, index or long-value pages.
//
// Internal to the engine: a Database hands its Pager only to the engine's own modules
// (database_internal.h). The header is among the public ones because a table scan pins
// its page by value; the layers above read through Database, Table and IndexCursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/file.h"
#include "jet/errors.h"
#include "jet/format.h"

namespace jet {

class Journal;
class Pager;
struct PageFrame;

// A set of page numbers as a growable bitmap.
class PageSet {
 public:
  bool Contains(std::uint32_t page) const {
    std::size_t w = page / 64;
    return w < words_.size() && ((words_[w] >> (page % 64)) & 1u);
  }
  void Insert(std::uint32_t page);
  void Erase(std::uint32_t page);
  // The smallest member >= from, or kNoPage.
  std::uint32_t Next(std::uint32_t from) const;
  // The largest member <= from, or kNoPage.
  std::uint32_t Prev(std::uint32_t from) const;
  std::uint32_t Min() const { return Next(0); }
  std::uint32_t Max() const;  // kNoPage when empty
  std::size_t Count() const;
  bool Empty() const { return Next(0) == kNoPage; }
  std::vector<std::uint32_t> ToVector() const;
  void Clear() { words_.clear(); }
  friend bool operator==(const PageSet& a, const PageSet& b);

 private:
  std::vector<std::uint64_t> words_;
};

// One usage map of a table, index or long-value column, as the pager holds it while the
// file is open. Changes are written back to the map's row at Flush.
class UsageMap {
 public:
  RowPointer Where() const { return where_; }
  bool Contains(std::uint32_t page) const { return pages_.Contains(page); }
  // Adds or removes a page without allocating or releasing it (e.g. a data page that
  // gains or loses free space moves in and out of a table's free-space map).
  void Add(std::uint32_t page);
  void Remove(std::uint32_t page);
  std::uint32_t Next(std::uint32_t from) const { return pages_.Next(from); }
  const PageSet& Pages() const { return pages_; }
  // The type-0x05 pages a reference-type map keeps its bitmap on.
  const std::vector<std::uint32_t>& BitmapPages() const { return bitmap_pages_; }
  bool IsReferenceType() const { return reference_type_; }

 private:
  friend class Pager;
  RowPointer where_;
  PageSet pages_;
  bool reference_type_ = false;  // map type 1
  std::uint32_t inline_start_ = 0;
  std::vector<std::uint32_t> bitmap_pages_;  // entry i of a type-1 map, 0 = none
  std::uint16_t row_length_ = 0;
  bool dirty_ = false;
};

// A pinned page. Move-only; the pin is dropped when it is destroyed.
class PageRef {
 public:
  PageRef() = default;
  PageRef(PageRef&& other) noexcept;
  PageRef& operator=(PageRef&& other) noexcept;
  PageRef(const PageRef&) = delete;
  PageRef& operator=(const PageRef&) = delete;
  ~PageRef();

  explicit operator bool() const { return frame_ != nullptr; }
  std::uint32_t Number() const;
  const std::uint8_t* Data() const;
  // Only on a page obtained through Write or Allocate.
  std::uint8_t* MutableData();
  std::span<const std::uint8_t> Bytes() const;

 private:
  friend class Pager;
  PageRef(Pager* pager, PageFrame* frame, bool writable);
  Pager* pager_ = nullptr;
  PageFrame* frame_ = nullptr;
  bool writable_ = false;
};

struct PagerOptions {
  bool writable = false;
  // Pages kept in memory before clean (then dirty) unpinned pages are evicted.
  std::size_t cache_pages = 16384;  // 64 MiB of 4 KiB pages
  // The file may grow to this many pages (Jet's 2 GiB); tests lower it to reach the limit.
  std::uint32_t max_pages = kMaxJet4Pages;
};

class Pager {
 public:
  // Opens the pages of an existing database whose version the caller read from page 0.
  // Loads the global usage map; the file length must be a whole number of pages.
  Pager(std::unique_ptr<core::File> file, JetVersion version, const PagerOptions& options);
  // A new database: page 0 (zeros, for the caller to fill) and page 1 with an empty global
  // map, both dirty; the next page allocated is page 2. Jet 4 only.
  static std::unique_ptr<Pager> CreateNew(std::unique_ptr<core::File> file,
                                          const PagerOptions& options);
  ~Pager();
  Pager(const Pager&) = delete;
  Pager& operator=(const Pager&) = delete;

  JetVersion Version() const { return version_; }
  std::uint32_t PageSize() const { return page_size_; }
  std::uint32_t PageCount() const { return page_count_; }
  const std::string& FileName() const { return file_->Path(); }
  bool Writable() const { return options_.writable; }
  core::File& Underlying() { return *file_; }

  // Pages of an RC4-encrypted database are decrypted as they are read (key from the
  // header; 0 = not encrypted). Such files are opened read-only.
  void SetEncryptionKey(std::uint32_t key) { encryption_key_ = key; }

  // Raises CorruptDatabase for a page beyond the end of the file.
  PageRef Read(std::uint32_t page);
  PageRef Write(std::uint32_t page);
  // Pages asked for with their content (Read and Write) since the pager opened, whether
  // the cache had them or the file was read: how much of the file an operation touched.
  std::uint64_t PagesRead() const { return pages_read_; }

  // A zero-filled page, taken from the free pages of the global map or appended, marked
  // used and added to `owner` (if any). Raises JetError kDatabaseFull at 2 GiB.
  PageRef Allocate(UsageMap* owner);
  // Removes the page from `owner` (if any), zero-fills it and marks it free for reuse.
  void Release(std::uint32_t page, UsageMap* owner);
  bool IsFree(std::uint32_t page) const { return free_.Contains(page); }
  const PageSet& FreePages() const { return free_; }

  // The usage map whose row is at `where`, loaded on first use. Raises CorruptDatabase when
  // the row is not a usage map.
  UsageMap& Map(RowPointer where);
  // Forgets a map whose row is going away, releasing its type-0x05 bitmap pages.
  void DropMap(RowPointer where);
  // Decodes a map row without keeping it (for checks and for read-only walks).
  PageSet LoadMapPages(RowPointer where);

  // Writes every change to the file and syncs it; with a journal this is the commit.
  void Flush();

  // Journals every transaction from now on (NAME-journal beside the file, through `fs`).
  void UseJournal(core::FileSystem& fs);
  // Bytes in the journal of the transaction under way (0 when it has none yet).
  std::uint64_t JournalBytes() const;
  // A write, sync or change failed part-way: the pages in memory may hold half a change, so
  // nothing more may be written or committed. Set by the pager itself on file errors and by
  // the layers above when an operation failed in the middle.
  bool Failed() const { return failed_; }
  void MarkFailed() { failed_ = true; }
  // Undoes the transaction under way in the file (through the journal) and leaves the
  // pager failed: its pages in memory no longer match the file. The owner closes it next.
  void RollBack();
  // Changes not yet written (for tests and for the close path's error handling).
  bool HasUnwrittenChanges() const;

  // Data-page row access shared with the layers above (usage maps are rows too): the
  // byte range of slot `row` on a data page; raises CorruptDatabase when the slot table
  // is inconsistent. `flags` receives the slot's flag bits.
  struct RowSpan {
    std::uint16_t offset;
    std::uint16_t length;
    std::uint16_t flags;
  };
  static RowSpan LocateRow(const std::uint8_t* page, std::uint32_t page_number, int row,
                           JetVersion version, const std::string& file);

 private:
  friend class PageRef;
  Pager(std::unique_ptr<core::File> file, JetVersion version, const PagerOptions& options,
        bool fresh);
  // The frame of a page, read from the file when `load`; otherwise a page not yet cached
  // comes with undefined bytes, for a caller that fills all of them.
  PageFrame* Fetch(std::uint32_t page, bool load);
  void Unpin(PageFrame* frame);
  void EvictIfNeeded();
  void WriteFrames(std::vector<PageFrame*>& frames);
  void WriteSortedFrames(std::vector<PageFrame*>& frames);
  void LoadGlobalMap();
  void DecodeMapRow(const std::uint8_t* row, std::uint16_t length, RowPointer where, UsageMap& into,
                    bool global);
  void StoreMap(UsageMap& map);
  void StoreGlobalMap();
  std::uint32_t BitsPerBitmapPage() const { return (page_size_ - 4) * 8; }
  std::uint32_t AppendRawPage();
  void MarkUsed(std::uint32_t page);
  // Raised by every change once the pager failed.
  void CheckNotFailed() const;
  // Journals the original bytes of the frames' pages that the file held when the
  // transaction began, and syncs the journal, before they are overwritten.
  void JournalBeforeWriting(const std::vector<PageFrame*>& frames);

  std::unique_ptr<core::File> file_;
  JetVersion version_;
  std::uint32_t page_size_;
  PagerOptions options_;
  std::uint32_t page_count_ = 0;
  std::uint32_t encryption_key_ = 0;
  std::uint64_t pages_read_ = 0;

  // Memory for one more frame; frames are never given back before the pager goes.
  std::uint8_t* NewFrameData();
  struct FreeBlock {
    void operator()(std::uint8_t* p) const;
  };
  std::vector<std::unique_ptr<std::uint8_t, FreeBlock>> blocks_;
  std::size_t frames_per_block_ = 0;
  std::size_t block_used_ = 0;
  std::vector<std::unique_ptr<PageFrame>> frames_;        // by page number; null = not cached
  std::vector<PageFrame*> resident_;                      // clock list for eviction
  std::vector<std::unique_ptr<PageFrame>> spare_frames_;  // evicted, ready for reuse
  std::size_t clock_hand_ = 0;

  PageSet free_;  // the global map: set = free
  UsageMap global_;
  bool global_dirty_ = false;
  std::map<std::uint32_t, std::unique_ptr<UsageMap>> maps_;  // by RowPointer::ToU32

  core::FileSystem* journal_fs_ = nullptr;
  std::unique_ptr<Journal> journal_;
  std::uint32_t committed_pages_ = 0;  // the file's length in pages when the transaction began
  bool written_ = false;               // pages reached the file since the last commit
  bool failed_ = false;
  std::vector<std::uint8_t> original_;  // a page read back for the journal
};

}  // namespace jet

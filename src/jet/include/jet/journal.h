// The rollback journal: what makes a change to a database all-or-nothing.
//
// Before a page that the database held when a change began is overwritten in the file, its
// original bytes go to `NAME-journal` beside the database (NAME.mdb -> NAME.mdb-journal) and
// the journal is synced. Pages added past the database's original end are not journaled: a
// rollback cuts the file back to its original length. A change commits when the database
// file is synced and the journal removed; a journal found beside a database ("hot") means a
// change was interrupted, and putting its pages back restores the database as it was before.
//
// Layout (little-endian), declared once here for the writer and the rollback:
//   header, 32 bytes:
//     0  8  magic "DVJRNL01"
//     8  4  page size of the database
//    12  4  the database's length in pages when the change began
//    16  4  salt: a random number chosen per journal, mixed into every checksum
//    20  4  CRC-32 of bytes 0..19
//    24  8  zero
//   then one record per page:
//     0  4  page number
//     4  n  the page's original bytes (n = page size)
//   4+n  4  CRC-32 of the salt, the page number and the bytes
// A record that is incomplete or whose checksum fails ends the journal: it was being
// written when the process stopped, so the database page it would restore was not yet
// overwritten (the journal is synced before any page is).
//
// This layer only reads and writes through the file seam. It never interprets pages.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/file.h"
#include "jet/pager.h"

namespace jet {

namespace journal_layout {
inline constexpr char kMagic[8] = {'D', 'V', 'J', 'R', 'N', 'L', '0', '1'};
inline constexpr std::uint32_t kPageSize = 8;
inline constexpr std::uint32_t kOriginalPages = 12;
inline constexpr std::uint32_t kSalt = 16;
inline constexpr std::uint32_t kHeaderChecksum = 20;
inline constexpr std::uint32_t kHeaderSize = 32;
inline constexpr std::uint32_t kRecordOverhead = 8;  // page number + checksum
}  // namespace journal_layout

// NAME-journal for the database at NAME.
std::string JournalPath(const std::string& database);

struct JournalInfo {
  bool exists = false;      // a journal file is there
  bool hot = false;         // it has a valid header: the database may hold part of a change
  std::uint32_t pages = 0;  // original pages it holds (complete, valid records)
  std::uint32_t original_pages = 0;  // the database's length in pages before the change
  std::uint32_t page_size = 0;
};

// Looks at the journal beside a database without changing anything.
JournalInfo InspectJournal(core::FileSystem& fs, const std::string& database);

// Puts back every page a hot journal holds and the database's original length, syncs the
// database, then removes the journal; a journal that is not hot is only removed. `database`
// is the database file open for writing and locked exclusively by the caller. A database
// whose original length was 0 was being created: it is left empty (the caller removes it).
// Returns the number of pages put back. Errors leave the journal in place.
std::uint32_t RollBackJournal(core::FileSystem& fs, core::File& database);

// The journal of one database while it is open for writing (used by the Pager).
class Journal {
 public:
  Journal(core::FileSystem& fs, std::string database, std::uint32_t page_size);
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;
  ~Journal();

  const std::string& Path() const { return path_; }
  // A journal file exists for the change under way.
  bool Active() const { return file_ != nullptr; }
  // Starts the journal of a change to a database of `original_pages` pages.
  void Begin(std::uint32_t original_pages);
  std::uint32_t OriginalPages() const { return original_pages_; }
  bool Holds(std::uint32_t page) const { return held_.Contains(page); }
  // Appends the original bytes of a page (one record); durable only after Sync.
  void Add(std::uint32_t page, std::span<const std::uint8_t> original);
  // Makes everything added durable, the journal's directory entry included.
  void Sync();
  // The change is committed (the database synced): the journal goes.
  void Retire();
  // Closes the file without removing it (a rollback reads it afresh).
  void Close();
  std::uint64_t Bytes() const { return end_; }

 private:
  core::FileSystem& fs_;
  std::string database_;
  std::string path_;
  std::uint32_t page_size_;
  std::unique_ptr<core::File> file_;
  std::uint32_t original_pages_ = 0;
  std::uint32_t salt_ = 0;
  std::uint64_t end_ = 0;
  bool unsynced_ = false;
  bool directory_synced_ = false;
  PageSet held_;
  std::vector<std::uint8_t> record_;
};

}  // namespace jet

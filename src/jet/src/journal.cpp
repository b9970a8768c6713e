#include "jet/journal.h"

#include <array>
#include <cstring>
#include <random>

#include "jet/format.h"

namespace jet {
namespace {

namespace L = journal_layout;

std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t n) {
  static const std::array<std::uint32_t, 256> table = MakeCrcTable();
  crc = ~crc;
  for (std::size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::uint32_t RecordChecksum(std::uint32_t salt, const std::uint8_t* record,
                             std::uint32_t page_size) {
  std::uint8_t s[4];
  PutLe32(s, salt);
  return Crc32(Crc32(0, s, 4), record, 4 + std::size_t{page_size});
}

struct Header {
  bool valid = false;
  std::uint32_t page_size = 0;
  std::uint32_t original_pages = 0;
  std::uint32_t salt = 0;
};

Header ReadHeader(core::File& file) {
  std::uint8_t h[L::kHeaderSize];
  Header out;
  if (file.ReadAt(0, h) != L::kHeaderSize) return out;
  if (std::memcmp(h, L::kMagic, sizeof L::kMagic) != 0) return out;
  if (Le32(h + L::kHeaderChecksum) != Crc32(0, h, L::kHeaderChecksum)) return out;
  out.page_size = Le32(h + L::kPageSize);
  if (out.page_size != kJet4PageSize && out.page_size != kJet3PageSize) return out;
  out.original_pages = Le32(h + L::kOriginalPages);
  out.salt = Le32(h + L::kSalt);
  out.valid = true;
  return out;
}

// Calls `each(page, bytes)` for every valid record, in order; returns how many there were.
template <typename Each>
std::uint32_t ForEachRecord(core::File& file, const Header& header, Each&& each) {
  std::vector<std::uint8_t> record(L::kRecordOverhead + header.page_size);
  std::uint64_t at = L::kHeaderSize;
  std::uint32_t count = 0;
  while (file.ReadAt(at, record) == record.size()) {
    if (Le32(record.data() + 4 + header.page_size) !=
        RecordChecksum(header.salt, record.data(), header.page_size))
      break;
    each(Le32(record.data()), std::span<const std::uint8_t>(record.data() + 4, header.page_size));
    ++count;
    at += record.size();
  }
  return count;
}

}  // namespace

std::string JournalPath(const std::string& database) {
  return database + "-journal";
}

JournalInfo InspectJournal(core::FileSystem& fs, const std::string& database) {
  JournalInfo info;
  const std::string path = JournalPath(database);
  if (!fs.Exists(path)) return info;
  info.exists = true;
  std::unique_ptr<core::File> file = fs.Open(path, core::OpenMode::kReadOnly);
  Header header = ReadHeader(*file);
  if (!header.valid) return info;
  info.hot = true;
  info.page_size = header.page_size;
  info.original_pages = header.original_pages;
  info.pages = ForEachRecord(*file, header, [](std::uint32_t, std::span<const std::uint8_t>) {});
  return info;
}

std::uint32_t RollBackJournal(core::FileSystem& fs, core::File& database) {
  const std::string path = JournalPath(database.Path());
  if (!fs.Exists(path)) return 0;
  std::uint32_t restored = 0;
  {
    std::unique_ptr<core::File> file = fs.Open(path, core::OpenMode::kReadOnly);
    Header header = ReadHeader(*file);
    if (header.valid) {
      restored = ForEachRecord(*file, header, [&](std::uint32_t page, auto bytes) {
        // Only pages inside the original file were journaled; anything else is cut off.
        if (page < header.original_pages)
          database.WriteAt(std::uint64_t{page} * header.page_size, bytes);
      });
      const std::uint64_t length = std::uint64_t{header.original_pages} * header.page_size;
      if (database.Size() != length) database.Truncate(length);
      database.Sync();
    }
  }
  fs.Remove(path);
  fs.SyncDirectory(path);
  return restored;
}

Journal::Journal(core::FileSystem& fs, std::string database, std::uint32_t page_size)
    : fs_(fs),
      database_(std::move(database)),
      path_(JournalPath(database_)),
      page_size_(page_size) {}

Journal::~Journal() = default;

void Journal::Begin(std::uint32_t original_pages) {
  // A journal left by a change that was rolled back or never became hot.
  if (fs_.Exists(path_)) fs_.Remove(path_);
  file_ = fs_.Open(path_, core::OpenMode::kCreateNew);
  original_pages_ = original_pages;
  std::random_device random;
  salt_ = random();
  std::uint8_t h[L::kHeaderSize] = {};
  std::memcpy(h, L::kMagic, sizeof L::kMagic);
  PutLe32(h + L::kPageSize, page_size_);
  PutLe32(h + L::kOriginalPages, original_pages_);
  PutLe32(h + L::kSalt, salt_);
  PutLe32(h + L::kHeaderChecksum, Crc32(0, h, L::kHeaderChecksum));
  held_.Clear();
  directory_synced_ = false;
  end_ = 0;
  file_->WriteAt(0, h);
  end_ = L::kHeaderSize;
  unsynced_ = true;
}

void Journal::Add(std::uint32_t page, std::span<const std::uint8_t> original) {
  record_.resize(L::kRecordOverhead + page_size_);
  PutLe32(record_.data(), page);
  std::memcpy(record_.data() + 4, original.data(), page_size_);
  PutLe32(record_.data() + 4 + page_size_, RecordChecksum(salt_, record_.data(), page_size_));
  file_->WriteAt(end_, record_);
  end_ += record_.size();
  held_.Insert(page);
  unsynced_ = true;
}

void Journal::Sync() {
  if (!file_ || !unsynced_) return;
  file_->Sync();
  if (!directory_synced_) {
    // The journal's name must survive a crash as surely as its bytes.
    fs_.SyncDirectory(path_);
    directory_synced_ = true;
  }
  unsynced_ = false;
}

void Journal::Retire() {
  if (!file_) return;
  file_.reset();
  fs_.Remove(path_);
  fs_.SyncDirectory(path_);
  held_.Clear();
  end_ = 0;
  unsynced_ = false;
}

void Journal::Close() {
  file_.reset();
  held_.Clear();
  end_ = 0;
  unsynced_ = false;
}

}  // namespace jet

#include "jet/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

namespace jet {

void File::WriteAtGathered(std::uint64_t offset,
                           std::span<const std::span<const std::uint8_t>> pieces) {
  std::vector<std::uint8_t> joined;
  for (const auto& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
  WriteAt(offset, joined);
}
namespace {

[[noreturn]] void ThrowOs(const std::string& path, const char* action, int error) {
  throw core::EFileError(path + ": cannot " + action + ": " + std::strerror(error));
}

class PosixFile : public File {
 public:
  PosixFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }

  const std::string& Path() const override { return path_; }

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowOs(path_, "read", errno);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n =
          ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowOs(path_, "write", errno);
      }
      Written(offset + done, static_cast<std::uint64_t>(n));
      done += static_cast<std::size_t>(n);
    }
  }
  void WriteAtGathered(std::uint64_t offset,
                       std::span<const std::span<const std::uint8_t>> pieces) override {
    // Straight from the callers' buffers (the page cache's frames): no copy into one run.
    std::vector<iovec> io;
    io.reserve(pieces.size());
    for (const auto& piece : pieces)
      if (!piece.empty()) io.push_back({const_cast<std::uint8_t*>(piece.data()), piece.size()});
    std::size_t first = 0;
    while (first < io.size()) {
      const int count = static_cast<int>(std::min<std::size_t>(io.size() - first, IOV_MAX));
      ssize_t n = ::pwritev(fd_, io.data() + first, count, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowOs(path_, "write", errno);
      }
      Written(offset, static_cast<std::uint64_t>(n));
      offset += static_cast<std::uint64_t>(n);
      // Skip what was written; a piece written in part continues where it stopped.
      auto left = static_cast<std::size_t>(n);
      while (first < io.size() && left >= io[first].iov_len) left -= io[first++].iov_len;
      if (first < io.size() && left > 0) {
        io[first].iov_base = static_cast<std::uint8_t*>(io[first].iov_base) + left;
        io[first].iov_len -= left;
      }
    }
  }

  std::uint64_t Size() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) ThrowOs(path_, "read the size of", errno);
    return static_cast<std::uint64_t>(st.st_size);
  }

  void Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) ThrowOs(path_, "resize", errno);
  }

  void Sync() override {
    if (::fdatasync(fd_) != 0) ThrowOs(path_, "flush", errno);
    unsent_ = 0;
  }

  bool TryLock(LockKind kind) override {
    int op = (kind == LockKind::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    while (::flock(fd_, op) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return false;
      ThrowOs(path_, "lock", errno);
    }
    return true;
  }

  void Unlock() override { ::flock(fd_, LOCK_UN); }

 private:
  // Bulk writes (a page cache writing back thousands of pages) are handed to the disk as
  // they come rather than all at the final sync: the sync then has little left to wait for.
  void Written(std::uint64_t offset, std::uint64_t length) {
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
    if (unsent_ == 0) unsent_from_ = offset;
    unsent_from_ = std::min(unsent_from_, offset);
    unsent_ += length;
    if (unsent_ < kSendEvery) return;
    ::sync_file_range(fd_, static_cast<off_t>(unsent_from_), 0, SYNC_FILE_RANGE_WRITE);
    unsent_ = 0;
#else
    (void)offset;
    (void)length;
#endif
  }
  static constexpr std::uint64_t kSendEvery = 8u << 20;
  std::uint64_t unsent_ = 0;
  std::uint64_t unsent_from_ = 0;
  std::string path_;
  int fd_;
};

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kReadOnly:
        flags |= O_RDONLY;
        break;
      case OpenMode::kReadWrite:
        flags |= O_RDWR;
        break;
      case OpenMode::kCreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    }
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      int error = errno;
      if (mode == OpenMode::kCreateNew && error == EEXIST)
        throw core::EFileError(path + ": cannot create: the file exists already");
      ThrowOs(path, mode == OpenMode::kCreateNew ? "create" : "open", error);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw core::EFileError(path + ": cannot open: it is a directory");
    }
    return std::make_unique<PosixFile>(path, fd);
  }

  bool Exists(const std::string& path) override {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) ThrowOs(path, "remove", errno);
  }

  void SyncDirectory(const std::string& path) override {
    std::size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd;
    do {
      fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) ThrowOs(dir, "open the directory", errno);
    // Some file systems refuse to sync a directory (EINVAL); their entries are durable anyway.
    int rc = ::fsync(fd);
    int error = errno;
    ::close(fd);
    if (rc != 0 && error != EINVAL && error != EROFS) ThrowOs(dir, "flush the directory", error);
  }
};

}  // namespace

FileSystem& FileSystem::Posix() {
  static PosixFileSystem posix;
  return posix;
}

// ---- memory ----

struct MemoryFileSystem::Node {
  std::mutex mutex;
  std::vector<std::uint8_t> bytes;
  int shared_locks = 0;
  bool exclusive_lock = false;
};

namespace {

class MemoryFile : public File {
 public:
  MemoryFile(std::string path, std::shared_ptr<MemoryFileSystem::Node> node, bool writable)
      : path_(std::move(path)), node_(std::move(node)), writable_(writable) {}
  ~MemoryFile() override { Unlock(); }

  const std::string& Path() const override { return path_; }

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::lock_guard lock(node_->mutex);
    if (offset >= node_->bytes.size()) return 0;
    std::size_t n = std::min<std::uint64_t>(out.size(), node_->bytes.size() - offset);
    std::memcpy(out.data(), node_->bytes.data() + offset, n);
    return n;
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    if (!writable_) ThrowOs(path_, "write", EBADF);
    std::lock_guard lock(node_->mutex);
    if (node_->bytes.size() < offset + data.size()) node_->bytes.resize(offset + data.size());
    if (!data.empty()) std::memcpy(node_->bytes.data() + offset, data.data(), data.size());
  }

  std::uint64_t Size() override {
    std::lock_guard lock(node_->mutex);
    return node_->bytes.size();
  }

  void Truncate(std::uint64_t size) override {
    if (!writable_) ThrowOs(path_, "resize", EBADF);
    std::lock_guard lock(node_->mutex);
    node_->bytes.resize(size);
  }

  void Sync() override {}

  bool TryLock(LockKind kind) override {
    std::lock_guard lock(node_->mutex);
    ReleaseLocked();
    if (kind == LockKind::kExclusive) {
      if (node_->exclusive_lock || node_->shared_locks > 0) return false;
      node_->exclusive_lock = true;
    } else {
      if (node_->exclusive_lock) return false;
      ++node_->shared_locks;
    }
    held_ = kind;
    holding_ = true;
    return true;
  }

  void Unlock() override {
    std::lock_guard lock(node_->mutex);
    ReleaseLocked();
  }

 private:
  void ReleaseLocked() {
    if (!holding_) return;
    if (held_ == LockKind::kExclusive)
      node_->exclusive_lock = false;
    else
      --node_->shared_locks;
    holding_ = false;
  }

  std::string path_;
  std::shared_ptr<MemoryFileSystem::Node> node_;
  bool writable_;
  bool holding_ = false;
  LockKind held_ = LockKind::kShared;
};

}  // namespace

std::unique_ptr<File> MemoryFileSystem::Open(const std::string& path, OpenMode mode) {
  std::lock_guard lock(mutex_);
  auto it = files_.find(path);
  if (mode == OpenMode::kCreateNew) {
    if (it != files_.end())
      throw core::EFileError(path + ": cannot create: the file exists already");
    it = files_.emplace(path, std::make_shared<Node>()).first;
  } else if (it == files_.end()) {
    ThrowOs(path, "open", ENOENT);
  }
  return std::make_unique<MemoryFile>(path, it->second, mode != OpenMode::kReadOnly);
}

bool MemoryFileSystem::Exists(const std::string& path) {
  std::lock_guard lock(mutex_);
  return files_.count(path) != 0;
}

void MemoryFileSystem::Remove(const std::string& path) {
  std::lock_guard lock(mutex_);
  files_.erase(path);
}

std::vector<std::uint8_t> MemoryFileSystem::Contents(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = files_.find(path);
  if (it == files_.end()) return {};
  std::lock_guard node_lock(it->second->mutex);
  return it->second->bytes;
}

void MemoryFileSystem::SetContents(const std::string& path, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  auto& node = files_[path];
  if (!node) node = std::make_shared<Node>();
  std::lock_guard node_lock(node->mutex);
  node->bytes = std::move(bytes);
}

// ---- fault injection ----

struct FaultInjectingFileSystem::State {
  std::mutex mutex;
  FaultPlan plan;
  std::int64_t writes = 0;
  std::int64_t syncs = 0;
  std::int64_t reads = 0;
};

namespace {

class FaultyFile : public File {
 public:
  FaultyFile(std::unique_ptr<File> base, std::shared_ptr<FaultInjectingFileSystem::State> state)
      : base_(std::move(base)), state_(std::move(state)) {}

  const std::string& Path() const override { return base_->Path(); }

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    {
      std::lock_guard lock(state_->mutex);
      std::int64_t n = state_->reads++;
      if (state_->plan.fail_read_from != FaultPlan::kNever && n >= state_->plan.fail_read_from)
        ThrowOs(Path(), "read", EIO);
    }
    return base_->ReadAt(offset, out);
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    FaultPlan plan;
    std::int64_t n;
    {
      std::lock_guard lock(state_->mutex);
      plan = state_->plan;
      n = state_->writes++;
    }
    if (plan.crash_from_write != FaultPlan::kNever && n >= plan.crash_from_write) return;
    if (plan.fail_write_from != FaultPlan::kNever && n >= plan.fail_write_from) {
      std::size_t keep = std::min(plan.short_write_bytes, data.size());
      if (keep > 0) base_->WriteAt(offset, data.first(keep));
      ThrowOs(Path(), "write", plan.write_errno);
    }
    base_->WriteAt(offset, data);
  }

  std::uint64_t Size() override { return base_->Size(); }

  void Truncate(std::uint64_t size) override {
    {
      std::lock_guard lock(state_->mutex);
      const FaultPlan& plan = state_->plan;
      if (plan.crash_from_write != FaultPlan::kNever && state_->writes >= plan.crash_from_write)
        return;
    }
    base_->Truncate(size);
  }

  void Sync() override {
    {
      std::lock_guard lock(state_->mutex);
      std::int64_t n = state_->syncs++;
      if (state_->plan.fail_sync_from != FaultPlan::kNever && n >= state_->plan.fail_sync_from)
        ThrowOs(Path(), "flush", EIO);
    }
    base_->Sync();
  }

  bool TryLock(LockKind kind) override { return base_->TryLock(kind); }
  void Unlock() override { base_->Unlock(); }

 private:
  std::unique_ptr<File> base_;
  std::shared_ptr<FaultInjectingFileSystem::State> state_;
};

}  // namespace

FaultInjectingFileSystem::FaultInjectingFileSystem(FileSystem& base)
    : base_(base), state_(std::make_shared<State>()) {}
FaultInjectingFileSystem::~FaultInjectingFileSystem() = default;

void FaultInjectingFileSystem::SetPlan(const FaultPlan& plan) {
  std::lock_guard lock(state_->mutex);
  state_->plan = plan;
  state_->writes = 0;
  state_->syncs = 0;
  state_->reads = 0;
}

std::int64_t FaultInjectingFileSystem::Writes() const {
  std::lock_guard lock(state_->mutex);
  return state_->writes;
}

std::int64_t FaultInjectingFileSystem::Syncs() const {
  std::lock_guard lock(state_->mutex);
  return state_->syncs;
}

std::unique_ptr<File> FaultInjectingFileSystem::Open(const std::string& path, OpenMode mode) {
  return std::make_unique<FaultyFile>(base_.Open(path, mode), state_);
}

bool FaultInjectingFileSystem::Exists(const std::string& path) {
  return base_.Exists(path);
}

void FaultInjectingFileSystem::SyncDirectory(const std::string& path) {
  base_.SyncDirectory(path);
}

void FaultInjectingFileSystem::Remove(const std::string& path) {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->plan.crash_from_write != FaultPlan::kNever &&
        state_->writes >= state_->plan.crash_from_write)
      return;
  }
  base_.Remove(path);
}

}  // namespace jet

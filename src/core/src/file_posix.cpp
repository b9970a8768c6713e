// The operating system's files on POSIX systems.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/errors.h"
#include "core/file.h"
#include "file_internal.h"

namespace core {
namespace {

using file_detail::ThrowOs;
using file_detail::ThrowReadError;

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
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
        ThrowReadError(path_, offset + done, errno);
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
    int fd = OpenRetrying(path.c_str(), flags);
    if (fd < 0) {
      int error = errno;
      if (mode == OpenMode::kCreateNew && error == EEXIST)
        throw EFileError(path + ": cannot create: the file exists already");
      ThrowOs(path, mode == OpenMode::kCreateNew ? "create" : "open", error);
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw EFileError(path + ": cannot open: it is a directory");
    }
    return std::make_unique<PosixFile>(path, fd);
  }

  // Source tables: their messages speak of table files, and reads go through a window.
  std::unique_ptr<ReadOnlyFile> OpenForRead(const std::string& path) override {
    int fd = OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw EFileError(path + ": cannot open file: " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      int e = errno;
      ::close(fd);
      throw EFileError(path + ": cannot read file status: " + std::strerror(e));
    }
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw EFileError(path + ": is a directory, not a table file");
    }
    return std::make_unique<ReadAheadFile>(std::make_unique<PosixFile>(path, fd));
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
    int fd = OpenRetrying(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) ThrowOs(dir, "open the directory", errno);
    // Some file systems refuse to sync a directory (EINVAL); their entries are durable anyway.
    int rc = ::fsync(fd);
    int error = errno;
    ::close(fd);
    if (rc != 0 && error != EINVAL && error != EROFS) ThrowOs(dir, "flush the directory", error);
  }

  std::vector<std::string> ListDirectory(const std::string& directory) override {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(directory.empty() ? "." : directory, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
      names.push_back(it->path().filename().string());
    return names;
  }
};

}  // namespace

FileSystem& FileSystem::Native() {
  static PosixFileSystem posix;
  return posix;
}

}  // namespace core

#endif  // !_WIN32

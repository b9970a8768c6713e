#include "bde/file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/errors.h"

#if defined(_WIN32)
#include <cstdio>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bde {
namespace {

bool IsDelimiter(char c) {
#if defined(_WIN32)
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

std::size_t LastDelimiter(const std::string& path) {
  for (std::size_t i = path.size(); i > 0; --i)
    if (IsDelimiter(path[i - 1])) return i;
  return 0;
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

#if defined(_WIN32)
class StdioFile : public RandomAccessFile {
 public:
  StdioFile(std::string path, std::FILE* f, std::uint64_t size)
      : path_(std::move(path)), f_(f), size_(size) {}
  ~StdioFile() override { std::fclose(f_); }
  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (offset >= size_) return 0;
    if (_fseeki64(f_, static_cast<long long>(offset), SEEK_SET) != 0)
      throw core::EFileError(path_ + ": cannot seek to offset " + std::to_string(offset));
    std::size_t got = std::fread(buffer, 1, size, f_);
    if (got < size && std::ferror(f_))
      throw core::EFileError(path_ + ": read error at offset " + std::to_string(offset));
    return got;
  }

 private:
  std::string path_;
  std::FILE* f_;
  std::uint64_t size_;
};
#else
class PosixFile : public RandomAccessFile {
 public:
  PosixFile(std::string path, int fd, std::uint64_t size)
      : path_(std::move(path)), fd_(fd), size_(size) {}
  ~PosixFile() override { ::close(fd_); }
  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return size_; }
  // Small reads (a memo's header, its blocks one by one) are served from a window read ahead
  // of them: a memo file is read front to back, and one system call per memo costs more
  // than the memo itself.
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (size >= kWindow / 4 || offset >= size_) return ReadDirect(offset, buffer, size);
    if (offset < window_start_ || offset + size > window_start_ + window_.size()) {
      window_.resize(kWindow);
      window_.resize(ReadDirect(offset, window_.data(), kWindow));
      window_start_ = offset;
    }
    const std::size_t available =
        std::min<std::uint64_t>(size, window_start_ + window_.size() - offset);
    std::memcpy(buffer, window_.data() + (offset - window_start_), available);
    return available;
  }

 private:
  static constexpr std::size_t kWindow = 256 * 1024;

  std::size_t ReadDirect(std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < size) {
      ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw core::EFileError(path_ + ": read error at offset " + std::to_string(offset + done) +
                               ": " + std::strerror(errno));
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  std::string path_;
  int fd_;
  std::uint64_t size_;
  std::vector<char> window_;
  std::uint64_t window_start_ = 0;
};
#endif

class OsFileSystem : public FileSystem {
 public:
  std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path) override {
#if defined(_WIN32)
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw core::EFileError(path + ": cannot open file: " + std::strerror(errno));
    _fseeki64(f, 0, SEEK_END);
    long long size = _ftelli64(f);
    return std::make_unique<StdioFile>(path, f, static_cast<std::uint64_t>(size));
#else
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw core::EFileError(path + ": cannot open file: " + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      int e = errno;
      ::close(fd);
      throw core::EFileError(path + ": cannot read file status: " + std::strerror(e));
    }
    if (S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw core::EFileError(path + ": is a directory, not a table file");
    }
    return std::make_unique<PosixFile>(path, fd, static_cast<std::uint64_t>(st.st_size));
#endif
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

class MemoryFile : public RandomAccessFile {
 public:
  MemoryFile(std::string path, const std::string& bytes, std::optional<std::uint64_t> fail_at)
      : path_(std::move(path)), bytes_(bytes), fail_at_(fail_at) {}
  const std::string& Path() const override { return path_; }
  std::uint64_t Size() const override { return bytes_.size(); }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) override {
    if (fail_at_ && offset + size > *fail_at_)
      throw core::EFileError(path_ + ": read error at offset " + std::to_string(offset) +
                             ": input/output error");
    if (offset >= bytes_.size() || size == 0) return 0;
    std::size_t n = std::min<std::uint64_t>(size, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, n);
    return n;
  }

 private:
  std::string path_;
  std::string bytes_;  // a copy: the file system may change while a reader is open
  std::optional<std::uint64_t> fail_at_;
};

}  // namespace

std::string DirectoryOf(const std::string& path) {
  return path.substr(0, LastDelimiter(path));
}

std::string FileNameOf(const std::string& path) {
  return path.substr(LastDelimiter(path));
}

std::string ExtensionOf(const std::string& path) {
  std::string name = FileNameOf(path);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::optional<std::string> FileSystem::FindCompanion(const std::string& path,
                                                     const std::vector<std::string>& extensions) {
  const std::string directory = DirectoryOf(path);
  const std::string name = FileNameOf(path);
  const std::string ext = ExtensionOf(path);
  const std::string base = name.substr(0, name.size() - ext.size());
  const std::vector<std::string> entries = ListDirectory(directory);
  for (const std::string& wanted : extensions) {
    const std::string exact = base + wanted;
    std::optional<std::string> other;
    for (const std::string& entry : entries) {
      if (entry == exact) return directory + entry;
      if (!other && EqualsIgnoringCase(entry, exact)) other = directory + entry;
    }
    if (other) return other;
  }
  return std::nullopt;
}

FileSystem& FileSystem::Default() {
  static OsFileSystem fs;
  return fs;
}

std::unique_ptr<RandomAccessFile> MemoryFileSystem::OpenForRead(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) throw core::EFileError(path + ": cannot open file: no such file");
  auto fail = failures_.find(path);
  return std::make_unique<MemoryFile>(
      path, it->second,
      fail == failures_.end() ? std::nullopt : std::optional<std::uint64_t>(fail->second));
}

std::vector<std::string> MemoryFileSystem::ListDirectory(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& [path, bytes] : files_) {
    if (DirectoryOf(path) == directory) names.push_back(FileNameOf(path));
  }
  return names;
}

}  // namespace bde

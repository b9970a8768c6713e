// The operating system's files on Windows. Paths are UTF-8 and reach the system as UTF-16
// (the wide functions), so names outside the ANSI code page work.
#if defined(_WIN32)

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/encoding.h"
#include "core/errors.h"
#include "core/file.h"

namespace core {
namespace {

std::wstring Wide(const std::string& utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

// The system's text for an error code, as UTF-8 without the trailing line break.
std::string Reason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (n == 0 || text == nullptr) return "system error " + std::to_string(error);
  std::u16string units(text, text + n);
  ::LocalFree(text);
  while (!units.empty() && (units.back() == u'\n' || units.back() == u'\r' || units.back() == u'.'))
    units.pop_back();
  return Utf16ToUtf8(units);
}

[[noreturn]] void ThrowWin(const std::string& path, const char* action, DWORD error) {
  throw EFileError(path + ": cannot " + action + ": " + Reason(error));
}

[[noreturn]] void ThrowReadError(const std::string& path, std::uint64_t offset, DWORD error) {
  throw EFileError(path + ": read error at offset " + std::to_string(offset) + ": " +
                   Reason(error));
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

// Locks are taken on one byte far past any data: Windows locks are mandatory, and a lock on
// the file's bytes themselves would keep other processes from reading it.
constexpr std::uint64_t kLockByte = 0x7FFFFFFFFFFFFFF0ull;

// ReadFile and WriteFile take at most 4 GiB less one byte per call.
constexpr std::size_t kMaxChunk = 1u << 30;

class WindowsFile : public File {
 public:
  WindowsFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~WindowsFile() override {
    Unlock();
    ::CloseHandle(handle_);
  }

  const std::string& Path() const override { return path_; }

  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      OVERLAPPED o = At(offset + done);
      DWORD got = 0;
      const auto want = static_cast<DWORD>(std::min(out.size() - done, kMaxChunk));
      if (!::ReadFile(handle_, out.data() + done, want, &got, &o)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF) break;
        ThrowReadError(path_, offset + done, error);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      OVERLAPPED o = At(offset + done);
      DWORD put = 0;
      const auto want = static_cast<DWORD>(std::min(data.size() - done, kMaxChunk));
      if (!::WriteFile(handle_, data.data() + done, want, &put, &o))
        ThrowWin(path_, "write", ::GetLastError());
      if (put == 0) ThrowWin(path_, "write", ERROR_WRITE_FAULT);
      done += put;
    }
  }

  std::uint64_t Size() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle_, &size)) ThrowWin(path_, "read the size of", ::GetLastError());
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  void Truncate(std::uint64_t size) override {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(handle_, FileEndOfFileInfo, &end, sizeof end))
      ThrowWin(path_, "resize", ::GetLastError());
  }

  void Sync() override {
    if (!::FlushFileBuffers(handle_)) ThrowWin(path_, "flush", ::GetLastError());
  }

  bool TryLock(LockKind kind) override {
    // flock() replaces a held lock; LockFileEx would stack a second one.
    Unlock();
    OVERLAPPED o = At(kLockByte);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (kind == LockKind::kExclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    if (!::LockFileEx(handle_, flags, 0, 1, 0, &o)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
      ThrowWin(path_, "lock", error);
    }
    locked_ = true;
    return true;
  }

  void Unlock() override {
    if (!locked_) return;
    OVERLAPPED o = At(kLockByte);
    ::UnlockFileEx(handle_, 0, 1, 0, &o);
    locked_ = false;
  }

 private:
  std::string path_;
  HANDLE handle_;
  bool locked_ = false;
};

bool IsDirectory(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

HANDLE OpenHandle(const std::wstring& path, DWORD access, DWORD disposition) {
  // Others may read, write and delete meanwhile, as with POSIX files; the locks say who may.
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class WindowsFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override {
    const std::wstring wide = Wide(path);
    if (mode != OpenMode::kCreateNew && IsDirectory(wide))
      throw EFileError(path + ": cannot open: it is a directory");
    const DWORD access = mode == OpenMode::kReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == OpenMode::kCreateNew ? CREATE_NEW : OPEN_EXISTING;
    HANDLE handle = OpenHandle(wide, access, disposition);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (mode == OpenMode::kCreateNew &&
          (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS))
        throw EFileError(path + ": cannot create: the file exists already");
      ThrowWin(path, mode == OpenMode::kCreateNew ? "create" : "open", error);
    }
    return std::make_unique<WindowsFile>(path, handle);
  }

  std::unique_ptr<ReadOnlyFile> OpenForRead(const std::string& path) override {
    const std::wstring wide = Wide(path);
    if (IsDirectory(wide)) throw EFileError(path + ": is a directory, not a table file");
    HANDLE handle = OpenHandle(wide, GENERIC_READ, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE)
      throw EFileError(path + ": cannot open file: " + Reason(::GetLastError()));
    return std::make_unique<ReadAheadFile>(std::make_unique<WindowsFile>(path, handle));
  }

  bool Exists(const std::string& path) override {
    return ::GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  void Remove(const std::string& path) override {
    if (::DeleteFileW(Wide(path).c_str())) return;
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
      ThrowWin(path, "remove", error);
  }

  // NTFS journals its directories: a created or removed name is durable once the call
  // returns, and Windows has no call to flush a directory. Nothing to do.
  void SyncDirectory(const std::string&) override {}

  std::vector<std::string> ListDirectory(const std::string& directory) override {
    std::vector<std::string> names;
    std::error_code ec;
    const std::filesystem::path where(directory.empty() ? std::wstring(L".") : Wide(directory));
    std::filesystem::directory_iterator it(where, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
      const std::wstring name = it->path().filename().wstring();
      names.push_back(Utf16ToUtf8(std::u16string(name.begin(), name.end())));
    }
    return names;
  }
};

}  // namespace

FileSystem& FileSystem::Native() {
  static WindowsFileSystem windows;
  return windows;
}

}  // namespace core

#endif  // _WIN32

// The one seam through which the engine touches files.
//
// Every read, write, sync, lock, existence test, removal and directory listing of the
// storage engine (databases, their `.ldb` lock files and rollback journals) and of the
// source readers (tables, memo, blob, validity and code-page files) goes through a
// `FileSystem` and the files it opens. Production code uses `FileSystem::Native()`; tests
// swap in `MemoryFileSystem` (no disk at all) or wrap either in `FaultInjectingFileSystem`
// to make reads or writes fail, writes fall short, or stop reaching the "disk" as if the
// machine had crashed at that moment.
//
// Source tables are opened with `OpenForRead`, which hands out a `ReadOnlyFile`: a type
// with no way to write, resize or lock, so a copy can never damage the user's originals.
//
// Nothing above this header calls the operating system's file functions directly. Errors
// are `core::EFileError` whose message names the path and the operating system's reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace core {

enum class OpenMode {
  kReadOnly,   // existing file, reading only
  kReadWrite,  // existing file, reading and writing
  kCreateNew,  // a new file for reading and writing; fails if the path exists
};

enum class LockKind { kShared, kExclusive };

// A file that can only be read, at any offset.
class ReadOnlyFile {
 public:
  virtual ~ReadOnlyFile() = default;
  // The path the file was opened with (used in every message about it).
  virtual const std::string& Path() const = 0;
  virtual std::uint64_t Size() = 0;
  // Reads up to out.size() bytes at `offset`; fewer only at the end of the file.
  virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // The same into a plain buffer (the readers fill byte arrays and structures' images).
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) {
    return ReadAt(offset, std::span<std::uint8_t>(static_cast<std::uint8_t*>(buffer), size));
  }
};

// A file opened for reading and writing (or for reading with OpenMode::kReadOnly).
class File : public ReadOnlyFile {
 public:
  // Writes every byte or raises.
  virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  // Writes the pieces one after another from `offset`, as one write: every byte or raises.
  // This one joins them and calls WriteAt; a file that can hand the system all pieces at
  // once does that instead.
  virtual void WriteAtGathered(std::uint64_t offset,
                               std::span<const std::span<const std::uint8_t>> pieces);
  virtual void Truncate(std::uint64_t size) = 0;
  virtual void Sync() = 0;
  // An advisory lock on the whole file, held until Unlock or until the File is destroyed.
  // False when someone else holds a conflicting lock (never waits).
  virtual bool TryLock(LockKind kind) = 0;
  virtual void Unlock() = 0;
};

// Serves small reads of a file read front to back from a window read ahead of them (a
// memo file is read memo by memo, and one system call per memo costs more than the memo).
// The size is taken once, when wrapping: the file must not change while it is read.
// Reads of a quarter window or more, and reads at or past the end, go straight through.
class ReadAheadFile : public ReadOnlyFile {
 public:
  static constexpr std::size_t kWindow = 256 * 1024;

  explicit ReadAheadFile(std::unique_ptr<ReadOnlyFile> base);
  const std::string& Path() const override { return base_->Path(); }
  std::uint64_t Size() override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) override;
  using ReadOnlyFile::ReadAt;

 private:
  std::unique_ptr<ReadOnlyFile> base_;
  std::uint64_t size_;
  std::vector<std::uint8_t> window_;
  std::uint64_t window_start_ = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
  // Opens an existing file for reading only, the way the source readers want it. This one
  // opens it with OpenMode::kReadOnly; the operating system's files add a read-ahead window.
  virtual std::unique_ptr<ReadOnlyFile> OpenForRead(const std::string& path);
  virtual bool Exists(const std::string& path) = 0;
  // Removes a file; a missing file is not an error.
  virtual void Remove(const std::string& path) = 0;
  // Makes the creation or removal of the file at `path` durable (syncs its directory).
  // File systems without directories have nothing to do.
  virtual void SyncDirectory(const std::string& path) { (void)path; }
  // Names (not paths) of the entries of a directory; empty when it cannot be listed.
  // "" is the current directory.
  virtual std::vector<std::string> ListDirectory(const std::string& directory) = 0;

  // The file beside `path` whose name is `path`'s base name with one of `extensions`
  // (each with its dot), compared without regard to letter case, the way a table's memo,
  // blob and validity files are found. Extensions are tried in the order given; within
  // one extension the exact spelling wins over other spellings.
  std::optional<std::string> FindCompanion(const std::string& path,
                                           const std::vector<std::string>& extensions);

  // The operating system's files.
  static FileSystem& Native();
};

// Files kept in memory, shared by every File opened on the same path. Locks behave as
// flock() does between two opens: each File is a separate holder. The directory of a path
// is everything up to its last delimiter (see DirectoryOf).
class MemoryFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;
  std::vector<std::string> ListDirectory(const std::string& directory) override;

  // Test access to the stored bytes.
  std::vector<std::uint8_t> Contents(const std::string& path) const;
  void SetContents(const std::string& path, std::vector<std::uint8_t> bytes);
  void SetContents(const std::string& path, std::string_view bytes);
  // Makes every read of `path` that reaches `offset` fail with an I/O error.
  void FailReadsFrom(const std::string& path, std::uint64_t offset);

  struct Node;  // shared state of one path

 private:
  std::shared_ptr<Node> NodeFor(const std::string& path);  // creates it; mutex_ held

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> files_;
};

// What a FaultInjectingFileSystem does to reads, writes and syncs. Counters run over every
// file opened through it, so "the 5th write" means the 5th write anywhere.
struct FaultPlan {
  static constexpr std::int64_t kNever = -1;
  // From the n-th write (0-based) on, writes raise: errno `write_errno` (ENOSPC, EIO, ...).
  std::int64_t fail_write_from = kNever;
  int write_errno = 28;  // ENOSPC
  // The failing write first stores this many of its bytes (a short write), then raises.
  std::size_t short_write_bytes = 0;
  // From the n-th write on, writes report success but store nothing, as if the power went
  // out after write n-1: what is on "disk" is what a crash would leave.
  std::int64_t crash_from_write = kNever;
  // From the n-th sync on, Sync raises EIO.
  std::int64_t fail_sync_from = kNever;
  // From the n-th read on, reads raise EIO.
  std::int64_t fail_read_from = kNever;
};

// Wraps another file system. Files opened for reading only (OpenForRead) are opened with
// OpenMode::kReadOnly through this one, so they count and fail like the others.
class FaultInjectingFileSystem : public FileSystem {
 public:
  explicit FaultInjectingFileSystem(FileSystem& base);
  ~FaultInjectingFileSystem() override;
  void SetPlan(const FaultPlan& plan);
  std::int64_t Writes() const;  // writes attempted so far
  std::int64_t Syncs() const;
  std::int64_t Reads() const;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;
  void SyncDirectory(const std::string& path) override;
  std::vector<std::string> ListDirectory(const std::string& directory) override;

  struct State;

 private:
  FileSystem& base_;
  std::shared_ptr<State> state_;
};

// Path helpers. A delimiter is '/' (and on Windows also '\' and ':').
std::string DirectoryOf(const std::string& path);  // up to and including the last delimiter
std::string FileNameOf(const std::string& path);   // after the last delimiter
std::string ExtensionOf(const std::string& path);  // from the last '.' of the file name, or ""
// ASCII letters compared without regard to case; other bytes exactly.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace core

// The one seam through which the storage engine touches files.
//
// Every read, write, sync, lock, existence test and removal of a database (and of its
// `.ldb` lock file) goes through a `FileSystem` and the `File`s it opens. Production code
// uses `FileSystem::Posix()`; tests swap in `MemoryFileSystem` (no disk at all) or wrap
// either in `FaultInjectingFileSystem` to make writes fail short, fail with ENOSPC/EIO, or
// stop reaching the "disk" as if the machine had crashed at that moment.
//
// Nothing above this header calls the C library's file functions directly. Errors are
// `core::EFileError` whose message names the path and the operating-system reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/errors.h"

namespace jet {

enum class OpenMode {
  kReadOnly,   // existing file, reading only
  kReadWrite,  // existing file, reading and writing
  kCreateNew,  // a new file for reading and writing; fails if the path exists
};

enum class LockKind { kShared, kExclusive };

class File {
 public:
  virtual ~File() = default;
  virtual const std::string& Path() const = 0;
  // Reads up to out.size() bytes at `offset`; fewer only at the end of the file.
  virtual std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // Writes every byte or raises.
  virtual void WriteAt(std::uint64_t offset, std::span<const std::uint8_t> data) = 0;
  // Writes the pieces one after another from `offset`, as one write: every byte or raises.
  // This one joins them and calls WriteAt; a file that can hand the system all pieces at
  // once does that instead.
  virtual void WriteAtGathered(std::uint64_t offset,
                               std::span<const std::span<const std::uint8_t>> pieces);
  virtual std::uint64_t Size() = 0;
  virtual void Truncate(std::uint64_t size) = 0;
  virtual void Sync() = 0;
  // An advisory lock on the whole file, held until Unlock or until the File is destroyed.
  // False when someone else holds a conflicting lock (never waits).
  virtual bool TryLock(LockKind kind) = 0;
  virtual void Unlock() = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<File> Open(const std::string& path, OpenMode mode) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Removes a file; a missing file is not an error.
  virtual void Remove(const std::string& path) = 0;
  // Makes the creation or removal of the file at `path` durable (syncs its directory).
  // File systems without directories have nothing to do.
  virtual void SyncDirectory(const std::string& path) { (void)path; }

  static FileSystem& Posix();
};

// Files kept in memory, shared by every File opened on the same path. Locks behave as
// flock() does between two opens: each File is a separate holder.
class MemoryFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;

  // Test access to the stored bytes.
  std::vector<std::uint8_t> Contents(const std::string& path) const;
  void SetContents(const std::string& path, std::vector<std::uint8_t> bytes);

  struct Node;  // shared state of one path

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Node>> files_;
};

// What a FaultInjectingFileSystem does to writes and syncs. Counters run over every file
// opened through it, so "the 5th write" means the 5th write anywhere.
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

class FaultInjectingFileSystem : public FileSystem {
 public:
  explicit FaultInjectingFileSystem(FileSystem& base);
  ~FaultInjectingFileSystem() override;
  void SetPlan(const FaultPlan& plan);
  std::int64_t Writes() const;  // writes attempted so far
  std::int64_t Syncs() const;

  std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
  bool Exists(const std::string& path) override;
  void Remove(const std::string& path) override;
  void SyncDirectory(const std::string& path) override;

  struct State;

 private:
  FileSystem& base_;
  std::shared_ptr<State> state_;
};

}  // namespace jet

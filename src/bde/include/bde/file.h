// The one door through which the source readers touch files.
//
// Source tables are only ever read: nothing here can write, truncate or lock a file, so
// a copy can never damage the user's originals. Every read of a table, memo or companion
// file goes through a FileSystem, which lets tests hand the readers in-memory files and
// files that fail on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bde {

// A file opened for reading at arbitrary offsets.
class RandomAccessFile {
 public:
  virtual ~RandomAccessFile() = default;
  // The path the file was opened with (used in every message about it).
  virtual const std::string& Path() const = 0;
  virtual std::uint64_t Size() const = 0;
  // Reads up to `size` bytes at `offset`; returns how many were read, fewer only at the
  // end of the file. Raises core::EFileError naming the file when the system fails.
  virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t size) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opens an existing file read-only; raises core::EFileError naming it on failure.
  virtual std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path) = 0;
  // Names (not paths) of the entries of a directory; empty when it cannot be listed.
  virtual std::vector<std::string> ListDirectory(const std::string& directory) = 0;

  // The file beside `path` whose name is `path`'s base name with one of `extensions`
  // (each with its dot), compared without regard to letter case, the way a table's memo,
  // blob and validity files are found. Extensions are tried in the order given; within
  // one extension the exact spelling wins over other spellings.
  std::optional<std::string> FindCompanion(const std::string& path,
                                           const std::vector<std::string>& extensions);

  // The operating system's files.
  static FileSystem& Default();
};

// Files kept in memory, for tests and fuzzing. Paths are plain keys; the directory of a
// path is everything up to its last '/'.
class MemoryFileSystem : public FileSystem {
 public:
  void Add(const std::string& path, std::string bytes) { files_[path] = std::move(bytes); }
  // Makes reads of `path` fail with an I/O error once `offset` is reached.
  void FailReadsFrom(const std::string& path, std::uint64_t offset) { failures_[path] = offset; }

  std::unique_ptr<RandomAccessFile> OpenForRead(const std::string& path) override;
  std::vector<std::string> ListDirectory(const std::string& directory) override;

 private:
  std::map<std::string, std::string> files_;
  std::map<std::string, std::uint64_t> failures_;
};

// Path helpers shared by the readers.
std::string DirectoryOf(const std::string& path);  // up to and including the last delimiter
std::string FileNameOf(const std::string& path);   // after the last delimiter
std::string ExtensionOf(const std::string& path);  // from the last '.' of the file name, or ""
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace bde

// The parts of the file seam that touch no operating system: the read-ahead window, path
// helpers, companion lookup, the in-memory file system and fault injection. The operating
// systems' files are in file_posix.cpp and file_windows.cpp.
#include "core/file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "file_internal.h"

namespace core {

namespace file_detail {

void ThrowOs(const std::string& path, const char* action, int error) {
  throw EFileError(path + ": cannot " + action + ": " + std::strerror(error));
}

void ThrowReadError(const std::string& path, std::uint64_t offset, int error) {
  throw EFileError(path + ": read error at offset " + std::to_string(offset) + ": " +
                   std::strerror(error));
}

}  // namespace file_detail

using file_detail::ThrowOs;
using file_detail::ThrowReadError;

void File::WriteAtGathered(std::uint64_t offset,
                           std::span<const std::span<const std::uint8_t>> pieces) {
  std::vector<std::uint8_t> joined;
  for (const auto& piece : pieces) joined.insert(joined.end(), piece.begin(), piece.end());
  WriteAt(offset, joined);
}

// ---- read-ahead ----

ReadAheadFile::ReadAheadFile(std::unique_ptr<ReadOnlyFile> base)
    : base_(std::move(base)), size_(base_->Size()) {}

std::size_t ReadAheadFile::ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (out.size() >= kWindow / 4 || offset >= size_) return base_->ReadAt(offset, out);
  if (offset < window_start_ || offset + out.size() > window_start_ + window_.size()) {
    window_.resize(kWindow);
    window_.resize(base_->ReadAt(offset, window_));
    window_start_ = offset;
  }
  const std::size_t available =
      std::min<std::uint64_t>(out.size(), window_start_ + window_.size() - offset);
  std::memcpy(out.data(), window_.data() + (offset - window_start_), available);
  return available;
}

// ---- paths ----

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

// ---- file system ----

std::unique_ptr<ReadOnlyFile> FileSystem::OpenForRead(const std::string& path) {
  return Open(path, OpenMode::kReadOnly);
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

// ---- memory ----

struct MemoryFileSystem::Node {
  std::mutex mutex;
  std::vector<std::uint8_t> bytes;
  int shared_locks = 0;
  bool exclusive_lock = false;
  std::optional<std::uint64_t> fail_reads_from;
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
    if (node_->fail_reads_from && offset + out.size() > *node_->fail_reads_from)
      ThrowReadError(path_, offset, EIO);
    if (offset >= node_->bytes.size()) return 0;
    std::size_t n = std::min<std::uint64_t>(out.size(), node_->bytes.size() - offset);
    if (n > 0) std::memcpy(out.data(), node_->bytes.data() + offset, n);
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
    if (it != files_.end()) throw EFileError(path + ": cannot create: the file exists already");
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

std::vector<std::string> MemoryFileSystem::ListDirectory(const std::string& directory) {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& entry : files_)
    if (DirectoryOf(entry.first) == directory) names.push_back(FileNameOf(entry.first));
  return names;
}

std::vector<std::uint8_t> MemoryFileSystem::Contents(const std::string& path) const {
  std::lock_guard lock(mutex_);
  auto it = files_.find(path);
  if (it == files_.end()) return {};
  std::lock_guard node_lock(it->second->mutex);
  return it->second->bytes;
}

std::shared_ptr<MemoryFileSystem::Node> MemoryFileSystem::NodeFor(const std::string& path) {
  auto& node = files_[path];
  if (!node) node = std::make_shared<Node>();
  return node;
}

void MemoryFileSystem::SetContents(const std::string& path, std::vector<std::uint8_t> bytes) {
  std::lock_guard lock(mutex_);
  auto node = NodeFor(path);
  std::lock_guard node_lock(node->mutex);
  node->bytes = std::move(bytes);
}

void MemoryFileSystem::SetContents(const std::string& path, std::string_view bytes) {
  SetContents(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
}

void MemoryFileSystem::FailReadsFrom(const std::string& path, std::uint64_t offset) {
  std::lock_guard lock(mutex_);
  auto node = NodeFor(path);
  std::lock_guard node_lock(node->mutex);
  node->fail_reads_from = offset;
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
        ThrowReadError(Path(), offset, EIO);
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

std::int64_t FaultInjectingFileSystem::Reads() const {
  std::lock_guard lock(state_->mutex);
  return state_->reads;
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

std::vector<std::string> FaultInjectingFileSystem::ListDirectory(const std::string& directory) {
  return base_.ListDirectory(directory);
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

}  // namespace core

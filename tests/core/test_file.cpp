// The file seam: the operating system's files and the in-memory ones behave alike, the
// read-ahead window serves small reads without changing what they return, companion files
// are found whatever their letter case, and injected faults look like the system's own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/file.h"

namespace core {
namespace {

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EFileError& e) {
    return e.what();
  }
  return "";
}

// A scratch directory removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/corefsXXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempDir() {
    for (const std::string& entry : FileSystem::Native().ListDirectory(path_))
      FileSystem::Native().Remove(path_ + "/" + entry);
    rmdir(path_.c_str());
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return bytes;
}

TEST(FileSystem, CreateRefusesAnExistingFileAndLocksExcludeEachOther) {
  char dir_template[] = "/tmp/jetfsXXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  std::string path = std::string(dir_template) + "/x.mdb";
  MemoryFileSystem memory;
  for (FileSystem* fs : {&FileSystem::Native(), static_cast<FileSystem*>(&memory)}) {
    auto a = fs->Open(path, OpenMode::kCreateNew);
    std::uint8_t byte = 42;
    a->WriteAt(0, {&byte, 1});
    EXPECT_THROW(fs->Open(path, OpenMode::kCreateNew), EFileError);
    auto b = fs->Open(path, OpenMode::kReadOnly);
    EXPECT_TRUE(a->TryLock(LockKind::kExclusive));
    EXPECT_FALSE(b->TryLock(LockKind::kShared));
    a->Unlock();
    EXPECT_TRUE(b->TryLock(LockKind::kShared));
    std::uint8_t back = 0;
    EXPECT_EQ(b->ReadAt(0, {&back, 1}), 1u);
    EXPECT_EQ(back, 42);
    a.reset();
    b.reset();
    fs->Remove(path);
    EXPECT_FALSE(fs->Exists(path));
    EXPECT_THROW(fs->Open(path, OpenMode::kReadOnly), EFileError);
  }
  rmdir(dir_template);
}

// Pages written in one go from several buffers land where a plain write would put them,
// on a real file and in memory, including more pieces than one system call takes.
TEST(FileSystem, GatheredWritesEqualTheBytesWrittenOneAfterAnother) {
  char dir_template[] = "/tmp/jetfsXXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  std::string path = std::string(dir_template) + "/g.mdb";
  MemoryFileSystem memory;
  std::vector<std::vector<std::uint8_t>> buffers;
  for (int i = 0; i < 1500; ++i)
    buffers.emplace_back(static_cast<std::size_t>(1 + i % 7 * 300), static_cast<std::uint8_t>(i));
  buffers[10].clear();  // an empty piece among them
  std::vector<std::span<const std::uint8_t>> pieces(buffers.begin(), buffers.end());
  std::vector<std::uint8_t> expected(5, 0xEE);
  for (const auto& b : buffers) expected.insert(expected.end(), b.begin(), b.end());
  for (FileSystem* fs : {&FileSystem::Native(), static_cast<FileSystem*>(&memory)}) {
    auto f = fs->Open(path, OpenMode::kCreateNew);
    f->WriteAt(0, std::vector<std::uint8_t>(5, 0xEE));
    f->WriteAtGathered(5, pieces);
    std::vector<std::uint8_t> back(expected.size() + 10, 0);
    EXPECT_EQ(f->ReadAt(0, back), expected.size());
    back.resize(expected.size());
    EXPECT_TRUE(back == expected);
    f.reset();
    fs->Remove(path);
  }
  rmdir(dir_template);
}

// Small reads come from a window read ahead of them; what they return is exactly what
// direct reads return, and the file underneath is asked once per window.
TEST(ReadAheadFile, ServesSmallReadsFromOneWindowAndLargeOnesDirectly) {
  constexpr std::size_t kWindow = ReadAheadFile::kWindow;
  const std::vector<std::uint8_t> bytes = Pattern(2 * kWindow + 1000);
  MemoryFileSystem memory;
  memory.SetContents("m/t.fpt", std::vector<std::uint8_t>(bytes));
  FaultInjectingFileSystem counting(memory);
  struct Read {
    std::uint64_t offset;
    std::size_t size;
    std::int64_t underlying;  // reads of the file underneath so far
  };
  const std::vector<Read> reads = {
      {0, 512, 1},                  // fills the window [0, 256 KiB)
      {512, 4000, 1},               // inside it
      {kWindow - 10, 10, 1},        // its last bytes
      {kWindow - 10, 20, 2},        // runs past it: a new window from here
      {kWindow + 100, 64, 2},       // inside the new one
      {100, 8, 3},                  // before it: a new window again
      {0, kWindow / 4, 4},          // a quarter window or more goes straight through
      {200, 8, 4},                  // and leaves the window as it was
      {2 * kWindow + 900, 500, 5},  // near the end: a short window, a short read
      {2 * kWindow + 1000, 16, 6},  // at the end: straight through, nothing read
      {5 * kWindow, 16, 7},         // far past it too
  };
  ReadAheadFile file(counting.OpenForRead("m/t.fpt"));
  EXPECT_EQ(file.Size(), bytes.size());
  EXPECT_EQ(file.Path(), "m/t.fpt");
  for (const Read& r : reads) {
    SCOPED_TRACE(std::to_string(r.offset) + "+" + std::to_string(r.size));
    std::vector<std::uint8_t> out(r.size, 0xCC);
    const std::size_t expected =
        r.offset >= bytes.size() ? 0 : std::min<std::uint64_t>(r.size, bytes.size() - r.offset);
    ASSERT_EQ(file.ReadAt(r.offset, out), expected);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected),
                           bytes.begin() + static_cast<std::ptrdiff_t>(r.offset)));
    EXPECT_EQ(counting.Reads(), r.underlying);
  }
}

// The operating system's files for source tables are read through the window, and their
// failures name the file the way a user reads it.
TEST(FileSystem, NativeOpenForReadReadsAheadAndNamesWhatItCannotOpen) {
  TempDir dir;
  const std::vector<std::uint8_t> bytes = Pattern(ReadAheadFile::kWindow + 3000);
  FileSystem::Native().Open(dir.File("t.dbt"), OpenMode::kCreateNew)->WriteAt(0, bytes);
  auto file = FileSystem::Native().OpenForRead(dir.File("t.dbt"));
  ASSERT_NE(dynamic_cast<ReadAheadFile*>(file.get()), nullptr);
  EXPECT_EQ(file->Size(), bytes.size());
  std::vector<std::uint8_t> back;
  for (std::uint64_t at = 0; at < bytes.size(); at += 700) {
    std::uint8_t chunk[700];
    back.insert(back.end(), chunk, chunk + file->ReadAt(at, chunk, sizeof chunk));
  }
  EXPECT_TRUE(back == bytes);

  EXPECT_EQ(ErrorOf([&] { FileSystem::Native().OpenForRead(dir.File("none.dbf")); }),
            dir.File("none.dbf") + ": cannot open file: No such file or directory");
  EXPECT_EQ(ErrorOf([&] { FileSystem::Native().OpenForRead(dir.Path()); }),
            dir.Path() + ": is a directory, not a table file");
  EXPECT_EQ(ErrorOf([&] { FileSystem::Native().Open(dir.Path(), OpenMode::kReadOnly); }),
            dir.Path() + ": cannot open: it is a directory");
}

// A table's memo, blob, validity and code-page files are found beside it on every file
// system: exact spelling first, then any letter case, extensions in the order asked.
TEST(FileSystem, CompanionsAreFoundWhateverTheirLetterCase) {
  TempDir dir;
  MemoryFileSystem memory;
  for (FileSystem* fs : {&FileSystem::Native(), static_cast<FileSystem*>(&memory)}) {
    const std::string d = fs == &memory ? std::string("m/") : dir.Path() + "/";
    for (const char* name : {"PEOPLE.DBF", "people.Dbt", "PEOPLE.FPT", "people.fpt", "x.cpg"})
      fs->Open(d + name, OpenMode::kCreateNew);
    std::vector<std::string> listed = fs->ListDirectory(d);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::string>{"PEOPLE.DBF", "PEOPLE.FPT", "people.Dbt",
                                                "people.fpt", "x.cpg"}));
    struct Case {
      const char* table;
      std::vector<std::string> extensions;
      std::optional<std::string> found;
    };
    const std::vector<Case> cases = {
        {"PEOPLE.DBF", {".dbt"}, d + "people.Dbt"},          // the only spelling there is
        {"PEOPLE.DBF", {".FPT"}, d + "PEOPLE.FPT"},          // exact spelling wins ...
        {"people.dbf", {".fpt"}, d + "people.fpt"},          // ... in either direction
        {"PEOPLE.DBF", {".cpg", ".dbt"}, d + "people.Dbt"},  // first one missing: the next
        {"PEOPLE.DBF", {".FPT", ".dbt"}, d + "PEOPLE.FPT"},  // first one present: it wins
        {"PEOPLE.DBF", {".cpg"}, std::nullopt},              // x.cpg is another table's
    };
    for (const Case& c : cases)
      EXPECT_EQ(fs->FindCompanion(d + c.table, c.extensions), c.found)
          << c.table << " " << c.extensions[0];
  }
  EXPECT_TRUE(memory.ListDirectory("elsewhere/").empty());
  EXPECT_TRUE(FileSystem::Native().ListDirectory(dir.File("missing")).empty());
}

TEST(Paths, SplitAtTheLastDelimiterAndTheLastDotOfTheName) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
    const char* extension;
  };
  for (const Case& c : std::vector<Case>{{"a/b/t.dbf", "a/b/", "t.dbf", ".dbf"},
                                         {"t.x.DB", "", "t.x.DB", ".DB"},
                                         {"/t", "/", "t", ""},
                                         {"d.ir/t", "d.ir/", "t", ""},
                                         {"d/", "d/", "", ""}}) {
    EXPECT_EQ(DirectoryOf(c.path), c.directory) << c.path;
    EXPECT_EQ(FileNameOf(c.path), c.name) << c.path;
    EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
  }
  EXPECT_TRUE(EqualsIgnoringCase("Memo.FPT", "memo.fpt"));
  EXPECT_FALSE(EqualsIgnoringCase("memo.fpt", "memo.fp"));
  EXPECT_FALSE(EqualsIgnoringCase("\xC3\x89", "\xC3\xA9"));  // only ASCII letters fold
}

// Failures made on purpose read like the system's own: they name the file and the reason,
// and a crash leaves on "disk" what reached it before.
TEST(FaultInjectingFileSystem, FailuresNameTheFileAndACrashKeepsWhatCameBefore) {
  MemoryFileSystem memory;
  memory.SetContents("r.mdb", std::string_view("0123456789"));
  memory.FailReadsFrom("bad.dbf", 6);
  memory.SetContents("bad.dbf", std::string_view("abcdefgh"));
  std::uint8_t buffer[4];
  auto bad = memory.OpenForRead("bad.dbf");
  EXPECT_EQ(bad->ReadAt(2, buffer, 4), 4u);  // ends at the failing offset: still readable
  EXPECT_EQ(ErrorOf([&] { bad->ReadAt(3, buffer, 4); }),
            "bad.dbf: read error at offset 3: Input/output error");
  EXPECT_EQ(ErrorOf([&] {
              memory.Open("r.mdb", OpenMode::kReadOnly)->WriteAt(0, {buffer, 1});
            }),
            "r.mdb: cannot write: Bad file descriptor");

  FaultInjectingFileSystem fs(memory);
  FaultPlan reads;
  reads.fail_read_from = 1;
  fs.SetPlan(reads);
  auto r = fs.OpenForRead("r.mdb");
  EXPECT_EQ(r->ReadAt(0, buffer, 4), 4u);
  EXPECT_EQ(ErrorOf([&] { r->ReadAt(4, buffer, 4); }),
            "r.mdb: read error at offset 4: Input/output error");
  EXPECT_EQ(fs.Reads(), 2);

  FaultPlan full;
  full.fail_write_from = 1;
  full.short_write_bytes = 2;
  fs.SetPlan(full);
  auto w = fs.Open("r.mdb", OpenMode::kReadWrite);
  w->WriteAt(0, std::vector<std::uint8_t>{'A', 'B'});
  EXPECT_EQ(ErrorOf([&] {
              w->WriteAt(4, std::vector<std::uint8_t>{'W', 'X', 'Y'});
            }),
            "r.mdb: cannot write: No space left on device");
  EXPECT_EQ(memory.Contents("r.mdb"),
            (std::vector<std::uint8_t>{'A', 'B', '2', '3', 'W', 'X', '6', '7', '8', '9'}));
  EXPECT_EQ(fs.Writes(), 2);

  FaultPlan crash;
  crash.crash_from_write = 1;
  crash.fail_sync_from = 1;
  fs.SetPlan(crash);
  w->WriteAt(0, std::vector<std::uint8_t>{'a'});
  w->WriteAt(1, std::vector<std::uint8_t>{'b'});  // after the "crash": never stored
  w->Truncate(3);
  fs.Remove("r.mdb");
  w->Sync();
  EXPECT_EQ(ErrorOf([&] { w->Sync(); }), "r.mdb: cannot flush: Input/output error");
  EXPECT_EQ(fs.Syncs(), 2);
  EXPECT_EQ(memory.Contents("r.mdb"),
            (std::vector<std::uint8_t>{'a', 'B', '2', '3', 'W', 'X', '6', '7', '8', '9'}));
  EXPECT_TRUE(fs.Exists("r.mdb"));
  EXPECT_EQ(fs.ListDirectory(""), (std::vector<std::string>{"bad.dbf", "r.mdb"}));
}

}  // namespace
}  // namespace core

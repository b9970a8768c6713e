// The page cache: allocation through the global map, usage maps that outgrow their inline
// form, write-back under a tiny cache, and failures of the file under it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "core/file.h"
#include "jet/pager.h"

namespace jet {
namespace {

std::vector<std::uint8_t> ReadFixture(const std::string& name) {
  std::ifstream in(std::string(DATOVRAT_TESTDATA) + "/jet/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Writes a data page holding `rows` map rows of `length` bytes (all inline, empty).
void FormatMapPage(Pager& pager, std::uint32_t page, int rows, int length = 69) {
  PageRef p = pager.Write(page);
  std::uint8_t* d = p.MutableData();
  std::memset(d, 0, 4096);
  d[0] = 1;
  d[1] = 1;
  PutLe16(d + 0x0C, static_cast<std::uint16_t>(rows));
  int end = 4096;
  for (int r = 0; r < rows; ++r) {
    end -= length;
    PutLe16(d + 0x0E + 2 * r, static_cast<std::uint16_t>(end));
  }
  PutLe16(d + 2, static_cast<std::uint16_t>(end - 0x0E - 2 * rows));
}

TEST(Pager, GlobalMapOfSixteenPagesMatchesTheEngineMadeFile) {
  // The engine wrote page 1 of adox_jet4.mdb for a 16-page file: our map must be the same.
  core::MemoryFileSystem fs;
  auto pager = Pager::CreateNew(fs.Open("a.mdb", core::OpenMode::kCreateNew), {});
  for (std::uint32_t expect = 2; expect < 16; ++expect)
    EXPECT_EQ(pager->Allocate(nullptr).Number(), expect);
  pager->Flush();
  auto written = fs.Contents("a.mdb");
  auto reference = ReadFixture("adox_jet4.mdb");
  ASSERT_EQ(written.size(), 16u * 4096);
  ASSERT_GE(reference.size(), 2u * 4096);
  EXPECT_TRUE(std::equal(written.begin() + 4096, written.begin() + 8192, reference.begin() + 4096));
}

TEST(Pager, ReleasedPagesAreReusedLowestFirstAndSurviveReopening) {
  core::MemoryFileSystem fs;
  {
    auto pager = Pager::CreateNew(fs.Open("a.mdb", core::OpenMode::kCreateNew), {});
    for (int i = 0; i < 10; ++i) pager->Allocate(nullptr);  // pages 2..11
    PageRef w = pager->Write(9);
    w.MutableData()[100] = 0xAB;
    w = PageRef();
    pager->Release(9, nullptr);
    pager->Release(5, nullptr);
    pager->Flush();
  }
  auto pager = std::make_unique<Pager>(fs.Open("a.mdb", core::OpenMode::kReadWrite),
                                       JetVersion::kJet4, PagerOptions{.writable = true});
  EXPECT_EQ(pager->PageCount(), 12u);
  EXPECT_TRUE(pager->IsFree(5));
  EXPECT_TRUE(pager->IsFree(9));
  EXPECT_FALSE(pager->IsFree(6));
  EXPECT_EQ(pager->Read(9).Data()[100], 0) << "a released page is cleared";
  EXPECT_EQ(pager->Allocate(nullptr).Number(), 5u);
  EXPECT_EQ(pager->Allocate(nullptr).Number(), 9u);
  EXPECT_EQ(pager->Allocate(nullptr).Number(), 12u);
}

TEST(Pager, UsageMapsKeepTheirPagesInlineOrThroughBitmapPages) {
  // 0..1000 pages spread beyond the 512 an inline map covers force the reference form.
  struct Case {
    const char* name;
    std::vector<std::uint32_t> pages;
  };
  std::vector<Case> cases = {
      {"empty", {}},
      {"a few low pages", {3, 4, 17}},
      {"window that starts high", {600, 700, 1000}},
      {"wider than an inline map", {3, 600, 1100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    core::MemoryFileSystem fs;
    {
      auto pager = Pager::CreateNew(fs.Open("m.mdb", core::OpenMode::kCreateNew), {});
      PageRef map_page = pager->Allocate(nullptr);  // page 2
      map_page = PageRef();
      FormatMapPage(*pager, 2, 1);
      while (pager->PageCount() < 1200) pager->Allocate(nullptr);
      UsageMap& map = pager->Map({2, 0});
      for (auto p : c.pages) map.Add(p);
      pager->Flush();
    }
    auto pager = std::make_unique<Pager>(fs.Open("m.mdb", core::OpenMode::kReadOnly),
                                         JetVersion::kJet4, PagerOptions{});
    EXPECT_EQ(pager->Map({2, 0}).Pages().ToVector(), c.pages);
    for (std::uint32_t bitmap : pager->Map({2, 0}).BitmapPages()) {
      EXPECT_TRUE(bitmap == 0 || !pager->IsFree(bitmap)) << "bitmap page " << bitmap;
    }
  }
}

TEST(Pager, GlobalMapGrowsPastWhatPageOneHoldsInline) {
  core::MemoryFileSystem fs;
  constexpr std::uint32_t kPages = 33000;  // beyond the ~32000 an inline row on page 1 covers
  {
    auto pager =
        Pager::CreateNew(fs.Open("g.mdb", core::OpenMode::kCreateNew), {.cache_pages = 64});
    while (pager->PageCount() < kPages) pager->Allocate(nullptr);
    for (std::uint32_t p : {20000u, 25000u, 30000u, 32999u}) pager->Release(p, nullptr);
    pager->Flush();
  }
  auto pager = std::make_unique<Pager>(fs.Open("g.mdb", core::OpenMode::kReadWrite),
                                       JetVersion::kJet4, PagerOptions{.writable = true});
  EXPECT_GE(pager->PageCount(), kPages);
  // The map now lives on two bitmap pages (one per 32736 pages), taken from the free ones.
  EXPECT_EQ(pager->FreePages().ToVector(), (std::vector<std::uint32_t>{30000, 32999}));
  EXPECT_EQ(pager->Read(20000).Data()[0], page_type::kUsageBitmap);
  EXPECT_EQ(pager->Read(25000).Data()[0], page_type::kUsageBitmap);
  EXPECT_EQ(pager->Allocate(nullptr).Number(), 30000u);
}

TEST(Pager, EvictedDirtyPagesAreWrittenBack) {
  core::MemoryFileSystem fs;
  {
    auto pager =
        Pager::CreateNew(fs.Open("e.mdb", core::OpenMode::kCreateNew), {.cache_pages = 16});
    for (int i = 0; i < 300; ++i) {
      PageRef p = pager->Allocate(nullptr);
      PutLe32(p.MutableData() + 8, p.Number() * 7);
    }
    for (std::uint32_t pg = 2; pg < 302; pg += 3) PutLe32(pager->Write(pg).MutableData() + 12, pg);
    pager->Flush();
  }
  auto bytes = fs.Contents("e.mdb");
  ASSERT_EQ(bytes.size(), 302u * 4096);
  for (std::uint32_t pg = 2; pg < 302; ++pg) {
    EXPECT_EQ(Le32(bytes.data() + pg * 4096 + 8), pg * 7);
    EXPECT_EQ(Le32(bytes.data() + pg * 4096 + 12), (pg - 2) % 3 == 0 ? pg : 0u);
  }
}

TEST(Pager, BadFilesAreReportedWithTheirName) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* expected;
  };
  auto reference = ReadFixture("adox_jet4.mdb");
  std::vector<std::uint8_t> cut(reference.begin(), reference.begin() + 3 * 4096 + 100);
  std::vector<std::uint8_t> bad_map = reference;
  bad_map[4096 + 0xFBB] = 7;  // unknown map type in page 1, row 0
  std::vector<std::uint8_t> bad_slots = reference;
  PutLe16(bad_slots.data() + 4096 + 0x0C, 3000);  // more rows than fit on the page
  std::vector<Case> cases = {
      {"truncated inside a page", cut, "not a whole number"},
      {"too short", std::vector<std::uint8_t>(reference.begin(), reference.begin() + 8192),
       "at least"},
      {"unknown map type", bad_map, "unknown usage map type 7"},
      {"slot table overflows", bad_slots, "more than it can hold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    core::MemoryFileSystem fs;
    fs.SetContents("bad.mdb", c.bytes);
    try {
      Pager pager(fs.Open("bad.mdb", core::OpenMode::kReadOnly), JetVersion::kJet4, {});
      ADD_FAILURE() << "no error";
    } catch (const CorruptDatabase& e) {
      EXPECT_NE(std::string(e.what()).find("bad.mdb"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
  core::MemoryFileSystem fs;
  fs.SetContents("r.mdb", reference);
  Pager pager(fs.Open("r.mdb", core::OpenMode::kReadOnly), JetVersion::kJet4, {});
  EXPECT_THROW(pager.Read(16), CorruptDatabase);
  EXPECT_THROW(pager.Write(3), JetError);
}

TEST(Pager, FileFailuresSurfaceAsErrorsNamingTheFile) {
  struct Case {
    const char* name;
    core::FaultPlan plan;
    const char* expected;
  };
  core::FaultPlan nospace;
  nospace.fail_write_from = 0;
  nospace.short_write_bytes = 100;
  core::FaultPlan eio = nospace;
  eio.write_errno = EIO;
  core::FaultPlan sync;
  sync.fail_sync_from = 0;
  std::vector<Case> cases = {{"disk full", nospace, "No space left"},
                             {"write error", eio, "Input/output error"},
                             {"sync error", sync, "cannot flush"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    core::MemoryFileSystem memory;
    core::FaultInjectingFileSystem fs(memory);
    auto pager = Pager::CreateNew(fs.Open("f.mdb", core::OpenMode::kCreateNew), {});
    pager->Allocate(nullptr);
    fs.SetPlan(c.plan);
    try {
      pager->Flush();
      ADD_FAILURE() << "no error";
    } catch (const core::EFileError& e) {
      EXPECT_NE(std::string(e.what()).find("f.mdb"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace jet

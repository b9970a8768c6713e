// The indexes of the sample databases (Access-made, and one Jackcess-made): each ordered
// scan gives exactly the entries the file's own pages hold, in their order, forward and
// backward; every index passes the check against its table's rows; and an Access-made tree
// stays valid while rows come and go.
#include <gtest/gtest.h>

#include <random>

#include "btree.h"
#include "database_internal.h"
#include "index_check.h"
#include "jet/database.h"
#include "test_index_raw.h"
#include "test_index_util.h"

namespace {

const char* const kCorpus[] = {
    "adox_jet4.mdb",
    "alltypes-jackcess.mdb",
    "bigIndexTestV2000.mdb",
    "compIndexTestV2000.mdb",
    "delColTestV2000.mdb",
    "empty2003.mdb",
    "emptyAccess2000.mdb",
    "fixedNumericTestV2000.mdb",
    "fixedTextTestV2000.mdb",
    "indexTestV2000.mdb",
    "overflowTestV2000.mdb",
    "queryTestV2000.mdb",
    "queryTestV2003.mdb",
    "test2V2000.mdb",
    "testIndexPropertiesV2000.mdb",
    "testPromotionV2003.mdb",
    "testUnicodeCompV2003.mdb",
};

std::unique_ptr<jet::Database> OpenCopy(core::MemoryFileSystem& fs, const std::string& name,
                                        bool read_only) {
  fs.SetContents(name, index_test::ReadFile(index_test::DataPath(name)));
  jet::OpenOptions options;
  options.read_only = read_only;
  options.file_system = &fs;
  return jet::Database::Open(name, options);
}

std::string Describe(const std::vector<jet::IndexCheck>& checks) {
  std::string out;
  for (const auto& c : checks) {
    for (const auto& p : c.problems) out += p + "\n";
  }
  return out;
}

TEST(IndexCorpus, ScansMatchThePagesAndChecksPass) {
  int indexes = 0, multi_page = 0;
  std::uint64_t entries = 0;
  for (const char* name : kCorpus) {
    core::MemoryFileSystem fs;
    auto db = OpenCopy(fs, name, true);
    const std::vector<std::uint8_t> file = index_test::ReadFile(index_test::DataPath(name));
    auto page_at = [&](std::uint32_t n) { return file.data() + std::size_t{n} * 4096; };
    for (const auto& object : db->Tables(true)) {
      if (!object.IsTable() || object.IsLinked()) continue;
      SCOPED_TRACE(std::string(name) + " table " + object.name);
      jet::Table& table = db->OpenTable(object.name);
      const auto& def = table.Definition();
      for (std::size_t i = 0; i < def.real_indexes.size(); ++i) {
        jet::IndexTree tree(PageCacheOf(*db), jet::DescribeIndex(def, i, name, object.name),
                            {name, object.name});
        const auto raw = index_test::WalkRaw(page_at, def.real_indexes[i].root_page, false);
        std::vector<std::vector<std::uint8_t>> forward, backward;
        jet::IndexCursor cursor(tree);
        for (bool ok = cursor.First(); ok; ok = cursor.Next())
          forward.emplace_back(cursor.Entry().begin(), cursor.Entry().end());
        for (bool ok = cursor.Last(); ok; ok = cursor.Prev())
          backward.emplace_back(cursor.Entry().begin(), cursor.Entry().end());
        std::reverse(backward.begin(), backward.end());
        EXPECT_EQ(forward, raw.entries) << "index " << i;
        EXPECT_EQ(backward, raw.entries) << "index " << i;
        ++indexes;
        multi_page += raw.pages.size() > 1;
        entries += raw.entries.size();
      }
      const auto checks = jet::CheckTableIndexes(*db, table);
      EXPECT_EQ(checks.size(), def.real_indexes.size());
      EXPECT_EQ(Describe(checks), "");
    }
  }
  EXPECT_GT(indexes, 200);
  EXPECT_GE(multi_page, 10);
  EXPECT_GT(entries, 20000u);
}

// The check notices what a damaged index looks like, in terms a user can act on.
TEST(IndexCorpus, CheckReportsDamage) {
  struct Case {
    const char* what;
    std::function<void(jet::Pager&, const jet::RealIndexDefinition&)> damage;
    const char* message_part;
  } cases[] = {
      {"an entry removed behind the engine's back",
       [](jet::Pager& pager, const jet::RealIndexDefinition& index) {
         // Drop the first entry of the root leaf: shift the mask and fix the free space.
         jet::PageRef ref = pager.Write(index.root_page);
         jet::IndexPage page = jet::DecodeIndexPage(ref.Bytes());
         page.Erase(0);
         page.FitPrefix();
         jet::EncodeIndexPage(page, {ref.MutableData(), 4096});
       },
       "has no entry"},
      {"an entry pointing at a row that does not exist",
       [](jet::Pager& pager, const jet::RealIndexDefinition& index) {
         jet::PageRef ref = pager.Write(index.root_page);
         jet::IndexPage page = jet::DecodeIndexPage(ref.Bytes());
         auto last = page.Last();
         std::vector<std::uint8_t> moved(last.begin(), last.end());
         moved.back() = 0xEE;  // a slot no data page has
         page.Replace(page.size() - 1, moved);
         jet::EncodeIndexPage(page, {ref.MutableData(), 4096});
       },
       "where there is no row"},
      {"a key that no longer matches its row",
       [](jet::Pager& pager, const jet::RealIndexDefinition& index) {
         jet::PageRef ref = pager.Write(index.root_page);
         jet::IndexPage page = jet::DecodeIndexPage(ref.Bytes());
         auto last = page.Last();
         std::vector<std::uint8_t> changed(last.begin(), last.end());
         changed[1] += 1;  // a bigger key: still the last entry
         page.Replace(page.size() - 1, changed);
         jet::EncodeIndexPage(page, {ref.MutableData(), 4096});
       },
       "does not hold the key of its values"},
      {"a page missing from the index's usage map",
       [](jet::Pager& pager, const jet::RealIndexDefinition& index) {
         pager.Map(index.usage_map).Remove(index.root_page);
       },
       "missing from the index's usage map"},
      {"a page that cannot be read",
       [](jet::Pager& pager, const jet::RealIndexDefinition& index) {
         pager.Write(index.root_page).MutableData()[2] ^= 0x10;
       },
       "free space"},
  };
  for (const auto& c : cases) {
    core::MemoryFileSystem fs;
    auto db = OpenCopy(fs, "indexTestV2000.mdb", false);
    jet::Table& table = db->OpenTable("Table1");
    ASSERT_FALSE(table.Definition().real_indexes.empty());
    c.damage(PageCacheOf(*db), table.Definition().real_indexes[0]);
    const auto checks = jet::CheckTableIndexes(*db, table);
    const std::string report = Describe(checks);
    EXPECT_NE(report.find(c.message_part), std::string::npos) << c.what << ":\n" << report;
    EXPECT_FALSE(checks[0].Ok()) << c.what;
  }
}

}  // namespace

// What a crash, a full disk, a failing disk or the 2 GiB limit leaves of a database: a
// copy-like run (tables created, rows with memos and indexes inserted, a commit after each
// table, one table replaced) is stopped at every write (or a dense sample of them), and the
// file must then open as a consistent database in which every table that existed before
// reads as before, every committed table is complete, and the table being written is
// absent or holds a prefix of its rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <map>

#include "jet/check.h"
#include "jet/database.h"
#include "jet/journal.h"
#include "jet_test_util.h"
#include "oracle_util.h"

namespace jet {
namespace {

using core::Variant;

constexpr int kRows = 120;
const char* const kPath = "dest.mdb";

NewTable CopiedTable(const std::string& name) {
  NewTable t;
  t.name = name;
  t.columns = {NewColumn{.name = "ID", .type = column_type::kLong, .auto_increment = true},
               NewColumn{.name = "NAME", .type = column_type::kText, .size = 60},
               NewColumn{.name = "PRICE", .type = column_type::kDouble},
               NewColumn{.name = "NOTE", .type = column_type::kMemo}};
  t.indexes = {NewIndex{.name = "PrimaryKey", .columns = {{"ID", true}}, .primary_key = true},
               NewIndex{.name = "ByName", .columns = {{"NAME", true}}}};
  return t;
}

// Row i of every copied table; every fifth memo is long enough for a chain of pages.
std::vector<Variant> RowValues(int i) {
  std::string note;
  if (i % 5 == 0) {
    for (int k = 0; k < 9000; ++k) note += static_cast<char>('a' + (i + k) % 26);
  } else if (i % 3 != 0) {
    note = "Poznámka č. " + std::to_string(i);
  }
  return {Variant(), Variant::FromString("Zboží " + std::to_string(1000 - i)),
          Variant::FromDouble(i * 1.25),
          note.empty() ? Variant::Null() : Variant::FromString(note)};
}

struct CopyRun {
  int committed = 0;                           // tables whose Commit returned
  std::string error;                           // what stopped the run, if anything
  std::vector<std::int64_t> writes_at_commit;  // the file system's write count after each
  // Writes before the first table is dropped to be copied again (-1: not reached). A
  // commit in the middle of the replacement may leave the table absent from then on.
  std::int64_t writes_before_replace = -1;
};

// The copy run: two tables, then the first one replaced (dropped and copied again).
void CopyTables(Database& db, core::FaultInjectingFileSystem& fs, CopyRun& run) {
  const char* const names[] = {"Alpha", "Beta", "Alpha"};
  for (const char* name : names) {
    if (run.committed == 2) run.writes_before_replace = fs.Writes();
    if (db.FindObject(name)) db.DropTable(name);
    Table& t = db.CreateTable(CopiedTable(name));
    for (int i = 0; i < kRows; ++i) t.Insert(RowValues(i));
    db.Commit();
    ++run.committed;
    run.writes_at_commit.push_back(fs.Writes());
  }
}

OpenOptions Options(core::FileSystem& fs, std::uint64_t commit_bytes = 64u << 20,
                    std::uint32_t max_pages = kMaxJet4Pages) {
  // A tiny cache: pages are written back (and journaled) in the middle of every table.
  return {.file_system = &fs,
          .cache_pages = 16,
          .max_pages = max_pages,
          .commit_journal_bytes = commit_bytes};
}

CopyRun RunCopy(core::MemoryFileSystem& base, core::FaultInjectingFileSystem& fs, bool existing,
                const OpenOptions& options, bool disk_back_before_close = false) {
  CopyRun run;
  std::unique_ptr<Database> db;
  try {
    db = existing ? Database::Open(kPath, options) : Database::Create(kPath, options);
    CopyTables(*db, fs, run);
  } catch (const std::exception& e) {
    run.error = e.what();
  }
  if (disk_back_before_close) fs.SetPlan({});
  if (db) {
    try {
      db->Close();
    } catch (const std::exception& e) {
      if (run.error.empty()) run.error = e.what();
    }
  }
  (void)base;
  return run;
}

// Every user table's rows as text, in physical order.
std::map<std::string, std::string> Export(Database& db) {
  std::map<std::string, std::string> out;
  for (const auto& e : db.Tables(false)) {
    if (!e.IsTable()) continue;
    Table& t = db.OpenTable(e.name);
    std::string text;
    auto scan = t.StartScan();
    while (scan.Next())
      for (const auto& v : scan.Values()) text += (v.IsNull() ? "<null>" : v.ToString()) + "\t";
    out[e.name] = text;
  }
  return out;
}

// How many rows a copied table holds; fails the test unless they are rows 0..n-1 exactly.
int PrefixRows(Database& db, const std::string& name, const std::string& context) {
  Table& t = db.OpenTable(name);
  std::map<std::int32_t, std::vector<Variant>> by_id;
  auto scan = t.StartScan();
  while (scan.Next()) {
    auto v = scan.Values();
    by_id[v[0].ToLong()] = v;
  }
  int n = 0;
  for (const auto& [id, v] : by_id) {
    if (id != n + 1) {
      ADD_FAILURE() << context << ": table " << name << " misses row " << n + 1;
      return n;
    }
    auto want = RowValues(n);
    for (std::size_t c = 1; c < want.size(); ++c)
      if (want[c].IsNull() ? !v[c].IsNull() : v[c].ToString() != want[c].ToString()) {
        ADD_FAILURE() << context << ": table " << name << ", row " << id << ", column " << c
                      << " differs";
        return n;
      }
    ++n;
  }
  EXPECT_EQ(t.RowCount(), static_cast<std::uint32_t>(n)) << context << ": " << name;
  return n;
}

struct Outcome {
  bool exists = false;
  std::map<std::string, int> rows;  // copied tables present -> rows
};

// Opens what is on "disk" as the next program would and checks it.
Outcome Inspect(core::MemoryFileSystem& base, const std::map<std::string, std::string>& before,
                const std::string& context) {
  Outcome out;
  std::unique_ptr<Database> db;
  try {
    db = Database::Open(kPath, {.read_only = true, .file_system = &base});
  } catch (const std::exception& e) {
    // Only a database that was being created may be gone.
    EXPECT_TRUE(before.empty() && !base.Exists(kPath)) << context << ": " << e.what();
    EXPECT_FALSE(base.Exists(JournalPath(kPath))) << context;
    return out;
  }
  out.exists = true;
  EXPECT_FALSE(base.Exists(JournalPath(kPath))) << context << ": the journal was not rolled back";
  CheckReport report = CheckDatabase(*db);
  for (const auto& p : report.problems) ADD_FAILURE() << context << ": " << p;
  auto now = Export(*db);
  for (const auto& [name, text] : before)
    EXPECT_TRUE(now.count(name) && now[name] == text)
        << context << ": table " << name << " changed";
  for (const char* name : {"Alpha", "Beta"})
    if (db->FindObject(name)) out.rows[name] = PrefixRows(*db, name, context);
  return out;
}

std::map<std::string, std::string> ExportOf(core::MemoryFileSystem& base) {
  if (!base.Exists(kPath)) return {};
  auto db = Database::Open(kPath, {.read_only = true, .file_system = &base});
  return Export(*db);
}

// The readers other programs use must agree that the tables of before are unchanged.
void ExpectOraclesAgree(core::MemoryFileSystem& base,
                        const std::map<std::string, std::string>& oracle_before,
                        const std::string& context) {
  if (!base.Exists(kPath) || !oracle::ToolsPresent()) return;
  oracle::TempDir dir;
  const std::string file = (dir.path / "dest.mdb").string();
  {
    auto bytes = base.Contents(kPath);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  auto now = oracle::Snapshot(file);
  for (const auto& [key, text] : oracle_before) {
    if (key.find("Alpha") != std::string::npos || key.find("Beta") != std::string::npos) continue;
    EXPECT_TRUE(now.count(key) && now[key] == text) << context << ": " << key;
  }
}

struct Scenario {
  const char* name;
  const char* fixture;  // an Access-made file copied into, or null for a new file
  std::uint64_t commit_bytes;
};

class Durability : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    if (GetParam().fixture) original_ = testing::ReadFixture(GetParam().fixture);
  }
  void Reset(core::MemoryFileSystem& base) {
    base.Remove(kPath);
    base.Remove(JournalPath(kPath));
    if (!original_.empty()) base.SetContents(kPath, original_);
  }
  bool Existing() const { return !original_.empty(); }
  std::vector<std::uint8_t> original_;
};

TEST_P(Durability, ACrashAtAnyWriteLeavesTheLastCommitOrLater) {
  core::MemoryFileSystem base;
  Reset(base);
  const auto before = ExportOf(base);
  std::map<std::string, std::string> oracle_before;
  if (Existing() && oracle::ToolsPresent()) {
    oracle::TempDir dir;
    const std::string file = (dir.path / "before.mdb").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(original_.data()),
               static_cast<std::streamsize>(original_.size()));
    oracle_before = oracle::Snapshot(file);
  }
  core::FaultInjectingFileSystem fs(base);
  const CopyRun reference = RunCopy(base, fs, Existing(), Options(fs, GetParam().commit_bytes));
  ASSERT_EQ(reference.error, "");
  ASSERT_EQ(reference.committed, 3);
  const std::int64_t total = fs.Writes();
  // Every write of small runs; about 200 spread over larger ones.
  const std::int64_t step = std::max<std::int64_t>(1, total / 200);
  int oracle_turn = 0;
  for (std::int64_t k = 0; k <= total; k += step) {
    Reset(base);
    core::FaultPlan plan;
    plan.crash_from_write = k;
    fs.SetPlan(plan);
    RunCopy(base, fs, Existing(), Options(fs, GetParam().commit_bytes));
    fs.SetPlan({});
    const std::string context = std::string(GetParam().name) + ", crash at write " +
                                std::to_string(k) + " of " + std::to_string(total);
    Outcome out = Inspect(base, before, context);
    // A table is complete once every write of its commit reached the disk, until its
    // replacement, which only commits midway when the journal limit is low.
    const bool replaced_midway =
        GetParam().commit_bytes < (1u << 20) && k > reference.writes_before_replace;
    if (k > reference.writes_at_commit[1]) {
      EXPECT_EQ(out.rows["Beta"], kRows) << context;
    }
    if (k > reference.writes_at_commit[0] && !replaced_midway) {
      EXPECT_EQ(out.rows["Alpha"], kRows) << context;
    }
    if (++oracle_turn % 40 == 0 || k == total) ExpectOraclesAgree(base, oracle_before, context);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST_P(Durability, AFailingWriteLosesNothingCommitted) {
  struct Fault {
    const char* name;
    int error;
    std::size_t short_bytes;
    bool disk_back;  // the fault is gone by the time the database closes
  };
  const Fault faults[] = {{"ENOSPC", ENOSPC, 0, false},
                          {"EIO", EIO, 0, false},
                          {"a short write", ENOSPC, 1000, false},
                          {"ENOSPC, space freed before Close", ENOSPC, 0, true}};
  core::MemoryFileSystem base;
  Reset(base);
  const auto before = ExportOf(base);
  core::FaultInjectingFileSystem fs(base);
  RunCopy(base, fs, Existing(), Options(fs, GetParam().commit_bytes));
  const std::int64_t total = fs.Writes();
  const std::int64_t step = std::max<std::int64_t>(1, total / 80);
  for (const Fault& fault : faults) {
    for (std::int64_t k = 0; k < total; k += step) {
      Reset(base);
      core::FaultPlan plan;
      plan.fail_write_from = k;
      plan.write_errno = fault.error;
      plan.short_write_bytes = fault.short_bytes;
      fs.SetPlan(plan);
      const CopyRun run =
          RunCopy(base, fs, Existing(), Options(fs, GetParam().commit_bytes), fault.disk_back);
      fs.SetPlan({});
      const std::string context =
          std::string(GetParam().name) + ", " + fault.name + " from write " + std::to_string(k);
      EXPECT_NE(run.error, "") << context << ": the failure was not reported";
      if (fault.disk_back) {
        // Close rolled the file back itself.
        EXPECT_FALSE(base.Exists(JournalPath(kPath))) << context;
      }
      Outcome out = Inspect(base, before, context);
      const bool replaced_midway =
          GetParam().commit_bytes < (1u << 20) && run.writes_before_replace >= 0;
      if (run.committed >= 1 && !replaced_midway) {
        EXPECT_EQ(out.rows["Alpha"], kRows) << context;
      }
      if (run.committed >= 2) {
        EXPECT_EQ(out.rows["Beta"], kRows) << context;
      }
      if (::testing::Test::HasFailure()) return;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Copies, Durability,
    ::testing::Values(Scenario{"into an Access-made file", "access/test2V2000.mdb", 64u << 20},
                      Scenario{"into a new file", nullptr, 64u << 20},
                      // A journal limit this low commits in the middle of every table.
                      Scenario{"with commits every 64 KiB", "access/indexTestV2000.mdb",
                               64u << 10}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(Durability, TheTwoGigabyteLimitLeavesTheFileAsTheLastCommitLeftIt) {
  core::MemoryFileSystem base;
  base.SetContents(kPath, testing::ReadFixture("access/test2V2000.mdb"));
  const auto before = ExportOf(base);
  const std::uint32_t pages = static_cast<std::uint32_t>(base.Contents(kPath).size() / 4096);
  core::FaultInjectingFileSystem fs(base);
  // Room for the first table and part of the second.
  const CopyRun run = RunCopy(base, fs, true, Options(fs, 64u << 20, pages + 200));
  EXPECT_NE(run.error.find("2 GiB"), std::string::npos) << run.error;
  EXPECT_NE(run.error.find(kPath), std::string::npos) << run.error;
  EXPECT_EQ(run.committed, 1);
  Outcome out = Inspect(base, before, "at the limit");
  EXPECT_EQ(out.rows["Alpha"], kRows);
  EXPECT_EQ(out.rows.count("Beta"), 0u);

  // The next run into the same file, with room, gives every page one owner.
  const CopyRun again = RunCopy(base, fs, true, Options(fs));
  EXPECT_EQ(again.error, "");
  out = Inspect(base, before, "the run after");
  EXPECT_EQ(out.rows["Alpha"], kRows);
  EXPECT_EQ(out.rows["Beta"], kRows);
}

// Damage of the kinds a crash used to leave, made with the page cache alone.
std::vector<std::uint8_t> Damaged(
    const std::vector<std::uint8_t>& original,
    const std::function<void(Pager&, const TableDefinition&, const TableDefinition&)>& damage) {
  core::MemoryFileSystem scratch;
  scratch.SetContents("x.mdb", original);
  TableDefinition one, two;
  {
    auto db = Database::Open("x.mdb", {.read_only = true, .file_system = &scratch});
    one = db->OpenTable("Table1").Definition();
    two = db->OpenTable("Table2").Definition();
  }
  {
    Pager pager(scratch.Open("x.mdb", core::OpenMode::kReadWrite), JetVersion::kJet4,
                {.writable = true});
    damage(pager, one, two);
    pager.Flush();
  }
  return scratch.Contents("x.mdb");
}

TEST(Damage, AFileWhosePagesDisagreeWithItsMapsIsRefusedBeforeAnyChange) {
  const auto original = testing::ReadFixture("access/indexTestV2000.mdb");
  auto first_row_page = [](Pager& pager, const TableDefinition& t) {
    return pager.LoadMapPages(t.owned_map).Min();
  };
  struct Case {
    const char* name;
    std::function<void(Pager&, const TableDefinition&, const TableDefinition&)> damage;
    const char* expected;
  };
  const Case cases[] = {
      {"a page of a table marked free",
       [&](Pager& pager, const TableDefinition& one, const TableDefinition&) {
         pager.Release(first_row_page(pager, one), nullptr);
       },
       "the page map lists it as free"},
      {"a page owned by two tables",
       [&](Pager& pager, const TableDefinition& one, const TableDefinition& two) {
         pager.Map(two.owned_map).Add(first_row_page(pager, one));
       },
       "belongs both to"},
      {"a map naming a page outside the file",
       [&](Pager& pager, const TableDefinition&, const TableDefinition& two) {
         pager.Map(two.owned_map).Add(pager.PageCount() + 3);
       },
       "outside the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto damaged = Damaged(original, c.damage);
    ASSERT_NE(damaged, original);
    core::MemoryFileSystem base;
    base.SetContents(kPath, damaged);
    auto db = Database::Open(kPath, {.file_system = &base});
    // Reading stays possible.
    EXPECT_NO_THROW(db->OpenTable("Table3").StartScan().Next());
    auto refused = [&](const std::function<void()>& change) {
      try {
        change();
      } catch (const CorruptDatabase& e) {
        return std::string(e.what());
      }
      return std::string("(no error)");
    };
    for (const auto& message :
         {refused([&] { db->CreateTable(CopiedTable("Alpha")); }), refused([&] {
            db->OpenTable("Table3").Insert(
                std::vector<Variant>(db->OpenTable("Table3").Definition().columns.size()));
          }),
          refused([&] { db->DropTable("Table2"); })}) {
      EXPECT_NE(message.find(std::string(kPath) + ": the database is damaged"), std::string::npos)
          << message;
      EXPECT_NE(message.find(c.expected), std::string::npos) << message;
      EXPECT_NE(message.find("page "), std::string::npos) << message;
    }
    db->Close();
    EXPECT_EQ(base.Contents(kPath), damaged) << "the damaged file was changed";
    EXPECT_FALSE(base.Exists(JournalPath(kPath)));
  }
}

TEST(Journal, AnInterruptedChangeIsUndoneByRecoverAndByAReadOnlyOpen) {
  const auto original = testing::ReadFixture("access/indexTestV2000.mdb");
  // A table copied and committed, with the crash coming after every write of the commit
  // (`stop_at` -1: never), so that only the journal's removal is lost.
  auto copy = [&](core::MemoryFileSystem& base, std::int64_t stop_at) {
    base.SetContents(kPath, original);
    core::FaultInjectingFileSystem fs(base);
    core::FaultPlan plan;
    plan.crash_from_write = stop_at;
    fs.SetPlan(plan);
    auto db = Database::Open(kPath, Options(fs));
    Table& t = db->CreateTable(CopiedTable("Alpha"));
    for (int i = 0; i < 40; ++i) t.Insert(RowValues(i));
    db->Commit();
    return fs.Writes();
  };
  core::MemoryFileSystem scratch;
  const std::int64_t writes = copy(scratch, core::FaultPlan::kNever);
  for (bool read_only_open : {false, true}) {
    SCOPED_TRACE(read_only_open ? "a read-only open" : "Recover");
    core::MemoryFileSystem base;
    copy(base, writes);
    JournalInfo hot = InspectJournal(base, kPath);
    ASSERT_TRUE(hot.hot);
    EXPECT_EQ(hot.original_pages, original.size() / 4096);
    EXPECT_GT(hot.pages, 0u);
    EXPECT_NE(base.Contents(kPath), original);
    if (read_only_open) {
      auto db = Database::Open(kPath, {.read_only = true, .file_system = &base});
      EXPECT_FALSE(db->FindObject("Alpha"));
    } else {
      JournalInfo undone = Database::Recover(kPath, {.file_system = &base});
      EXPECT_TRUE(undone.hot);
      EXPECT_EQ(undone.pages, hot.pages);
      EXPECT_FALSE(Database::Recover(kPath, {.file_system = &base}).exists);
    }
    EXPECT_EQ(base.Contents(kPath), original);
    EXPECT_FALSE(base.Exists(JournalPath(kPath)));
  }
}

}  // namespace
}  // namespace jet

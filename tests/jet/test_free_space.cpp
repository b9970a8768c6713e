// Space that deleted rows leave is used again: on a data page the other rows move together
// (every slot keeps its number, so row addresses, index entries and forwarding rows stay
// valid), and pages with room go back into the table's free-space map.
#include <gtest/gtest.h>

#include <array>
#include <map>

#include "jet/check.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet_test_util.h"

namespace jet {
namespace {

using core::Variant;
namespace ct = column_type;

// A page built through the slot table by hand, read back independently of DataPage.
struct Page {
  std::array<std::uint8_t, kJet4PageSize> bytes{};
  Page() { DataPage::Format(bytes.data(), JetVersion::kJet4, 77); }
  DataPage View() { return DataPage(bytes.data(), JetVersion::kJet4); }
  int Add(std::size_t length, std::uint8_t fill, std::uint16_t flags = 0) {
    int row;
    std::memset(View().AddRow(length, flags, &row), fill, length);
    return row;
  }
  std::uint16_t Count() const { return Le16(bytes.data() + 0x0C); }
  std::uint16_t Slot(int row) const { return Le16(bytes.data() + 0x0E + 2 * row); }
  std::uint16_t Start(int row) const { return Slot(row) & 0x1FFF; }
  std::uint16_t End(int row) const { return row == 0 ? 4096 : Start(row - 1); }
  // Row bytes as every reader computes them: up to where the previous row starts.
  std::vector<std::uint8_t> Row(int row) const {
    return {bytes.begin() + Start(row), bytes.begin() + End(row)};
  }
  std::uint16_t FreeField() const { return Le16(bytes.data() + 2); }
  std::size_t Gap() const { return Start(Count() - 1) - (0x0E + 2u * Count()); }
};

TEST(DataPageRepack, DeletedRowsGiveTheirBytesBackAndEveryRowKeepsItsSlot) {
  struct Case {
    const char* what;
    std::vector<std::size_t> lengths;  // rows on the page
    std::vector<int> deleted;          // rows then deleted
    std::size_t add;                   // a row added after
    DataPage::Slot slot;
    int expected_row;  // -1: the row does not fit
  };
  const std::vector<Case> cases = {
      {"full page, middle rows deleted",
       {1000, 1000, 1000, 1000},
       {1, 2},
       1500,
       DataPage::Slot::kNew,
       4},
      {"deleted slot taken when asked",
       {1000, 1000, 1000, 1000},
       {2, 1},
       1500,
       DataPage::Slot::kDeleted,
       1},
      {"first row deleted", {2000, 1000, 1000}, {0}, 1900, DataPage::Slot::kNew, 3},
      {"last row deleted", {1000, 1000, 2000}, {2}, 2000, DataPage::Slot::kNew, 3},
      {"not enough even then", {1000, 1000, 2000}, {0}, 1100, DataPage::Slot::kNew, -1},
      {"nothing deleted", {1000, 1000, 2000}, {}, 60, DataPage::Slot::kDeleted, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Page page;
    std::vector<std::vector<std::uint8_t>> before;
    for (std::size_t i = 0; i < c.lengths.size(); ++i)
      page.Add(c.lengths[i], static_cast<std::uint8_t>(0x10 + i));
    // A forwarding row and a moved row's content: live rows with flags that must stay.
    page.View().SetSlotFlags(0, 0x4000);
    for (int row = 0; row < page.Count(); ++row) before.push_back(page.Row(row));
    for (int row : c.deleted) page.View().SetSlotFlags(row, 0xC000);
    const std::uint16_t flags_of_0 = page.Slot(0) & 0xC000;
    EXPECT_EQ(page.View().Fits(c.add), c.deleted.empty());
    EXPECT_EQ(page.View().FitsRepacked(c.add, c.slot), c.expected_row >= 0);

    int row = -1;
    std::uint8_t* dest = page.View().AddRowRepacking(c.add, 0, c.slot, &row);
    if (c.expected_row < 0) {
      EXPECT_EQ(dest, nullptr);
      continue;
    }
    ASSERT_NE(dest, nullptr);
    EXPECT_EQ(row, c.expected_row);
    std::memset(dest, 0xAB, c.add);
    EXPECT_EQ(page.Row(row), std::vector<std::uint8_t>(c.add, 0xAB));
    EXPECT_EQ(page.Slot(0) & 0xC000, flags_of_0);
    for (int r = 0; r < static_cast<int>(before.size()); ++r) {
      if (r == row) continue;
      bool deleted = std::find(c.deleted.begin(), c.deleted.end(), r) != c.deleted.end();
      if (deleted) {
        EXPECT_EQ(page.Slot(r) & 0xC000, 0xC000) << r;
        EXPECT_TRUE(page.Row(r).empty()) << r;
      } else {
        EXPECT_EQ(page.Row(r), before[r]) << r;
      }
    }
    // Rows packed against the end in slot order, the free-space field exact.
    std::size_t used = 0;
    for (int r = 0; r < page.Count(); ++r) {
      EXPECT_LE(page.Start(r), page.End(r));
      used += page.End(r) - page.Start(r);
    }
    EXPECT_EQ(page.FreeField(), 4096 - 0x0E - 2 * page.Count() - used);
    EXPECT_EQ(page.FreeField(), page.Gap());
  }
}

TEST(DataPageRepack, AFullSlotTableReusesADeletedSlotAndADamagedPageIsLeftAlone) {
  Page full;
  for (int i = 0; i < kMaxRowsPerPage; ++i) full.Add(8, static_cast<std::uint8_t>(i));
  full.View().SetSlotFlags(100, 0xC000);
  int row = -1;
  ASSERT_NE(full.View().AddRowRepacking(8, 0, DataPage::Slot::kNew, &row), nullptr);
  EXPECT_EQ(row, 100);
  EXPECT_EQ(full.Count(), kMaxRowsPerPage);
  EXPECT_EQ(full.Row(101), std::vector<std::uint8_t>(8, 101));

  Page damaged;
  damaged.Add(1000, 1);
  damaged.Add(1000, 2);
  damaged.Add(1000, 3);
  damaged.View().SetSlotFlags(0, 0xC000);
  PutLe16(damaged.bytes.data() + 0x0E + 2, 0x0F00);  // row 1 now starts past row 0's start
  const auto before = damaged.bytes;
  EXPECT_FALSE(damaged.View().FitsRepacked(1500, DataPage::Slot::kNew));
  EXPECT_EQ(damaged.View().AddRowRepacking(1500, 0, DataPage::Slot::kNew, &row), nullptr);
  EXPECT_TRUE(damaged.bytes == before);
}

struct Memory {
  core::MemoryFileSystem fs;
  OpenOptions Options() { return {.file_system = &fs}; }
};

std::vector<Variant> Row(int id, std::size_t text, std::size_t memo) {
  return {
      Variant::FromLong(id), Variant::FromString(std::string(text, 'a' + id % 26)),
      memo ? Variant::FromString(std::string(memo, 'M') + std::to_string(id)) : Variant::Null()};
}

TEST(FreeSpace, RowsDeletedAndInsertedAgainKeepTheFileAndEveryAddress) {
  Memory m;
  auto db = Database::Create("f.mdb", m.Options());
  Table& t = db->CreateTable({"T",
                              {{.name = "ID", .type = ct::kLong},
                               {.name = "Text", .type = ct::kText, .size = 255},
                               {.name = "Note", .type = ct::kMemo}},
                              {{.name = "ById", .columns = {{"ID", true}}, .unique = true}},
                              ""});
  std::map<int, std::pair<RowPointer, std::vector<Variant>>> rows;
  int next_id = 0;
  auto insert = [&](std::size_t text) {
    std::vector<Variant> values = Row(next_id, text, next_id % 3 ? 0 : 300 + next_id % 1000);
    rows[next_id] = {t.Insert(values), values};
    ++next_id;
  };
  while (next_id < 3000) insert(20 + next_id % 150);
  db->Flush();
  const std::size_t size = m.fs.Contents("f.mdb").size();
  for (int round = 0; round < 6; ++round) {
    // Every other row of a third of the table goes; as many new rows come, of other lengths.
    std::vector<int> gone;
    for (const auto& [id, row] : rows)
      if ((id + round) % 2 == 0 && gone.size() < 1000) gone.push_back(id);
    for (int id : gone) {
      t.Delete(rows[id].first);
      rows.erase(id);
    }
    for (int k = 0; k < 1000; ++k) insert(10 + next_id % 170);
    db->Flush();
  }
  // Freed bytes on the data pages and on the memo pages are used again: six rounds of new
  // rows would otherwise have made the file more than half as large again.
  EXPECT_LE(m.fs.Contents("f.mdb").size(), size + size / 5);
  EXPECT_EQ(t.RowCount(), rows.size());
  for (const auto& [id, row] : rows) EXPECT_EQ(t.Read(row.first), row.second) << id;
  std::size_t scanned = 0;
  for (auto scan = t.StartScan(); scan.Next(); ++scanned)
    EXPECT_EQ(scan.Values(), rows.at(scan.Values()[0].ToLong()).second);
  EXPECT_EQ(scanned, rows.size());
  for (const auto& p : CheckDatabase(*db).problems) ADD_FAILURE() << p;
}

}  // namespace
}  // namespace jet

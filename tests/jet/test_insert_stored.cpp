// What an insert says it stored must be what reading the row gives: the copy and DAO take a
// new row from the insert instead of reading it back, so any difference would be shown (and
// indexed) wrongly.
#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet_test_util.h"

namespace jet {
namespace {

using core::Variant;
namespace ct = column_type;

TEST(InsertStored, EqualsTheRowReadBackForEveryType) {
  core::MemoryFileSystem fs;
  auto db = Database::Create("s.mdb", {.file_system = &fs});
  NewTable spec{
      "T",
      {NewColumn{.name = "Id", .type = ct::kLong, .auto_increment = true},
       NewColumn{.name = "Guid", .type = ct::kGuid, .auto_increment = true},
       NewColumn{.name = "Yes", .type = ct::kBoolean}, NewColumn{.name = "B", .type = ct::kByte},
       NewColumn{.name = "I", .type = ct::kInteger},
       NewColumn{.name = "Cur", .type = ct::kCurrency},
       NewColumn{.name = "Sng", .type = ct::kSingle}, NewColumn{.name = "Dbl", .type = ct::kDouble},
       NewColumn{.name = "When", .type = ct::kDateTime},
       NewColumn{.name = "Bin", .type = ct::kBinary, .size = 6},
       NewColumn{.name = "Txt", .type = ct::kText, .size = 40},
       NewColumn{.name = "Ole", .type = ct::kOle}, NewColumn{.name = "Memo", .type = ct::kMemo},
       NewColumn{.name = "Dec", .type = ct::kNumeric, .precision = 10, .scale = 3}},
      {},
      ""};
  Table& t = db->CreateTable(spec);
  const std::string long_text(5000, 'x');
  // Values given in other kinds than the column's, values the column rounds, texts that are
  // not valid UTF-8, Nulls and Empties (numbers to be assigned).
  const std::vector<std::vector<Variant>> rows = {
      {Variant(), Variant(), Variant::FromBoolean(true), Variant::FromLong(7),
       Variant::FromString("12"), Variant::FromDouble(1.23456), Variant::FromDouble(0.1),
       Variant::FromString("2.5"), Variant::FromDate(45000.25), Variant::FromBytes({1, 2, 3}),
       Variant::FromString("Žluťoučký kůň 😀"), Variant::FromBytes({0, 255}),
       Variant::FromString(long_text), Variant::FromString("13.12345")},
      {Variant::FromLong(100), Variant::FromString("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
       Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null(),
       Variant::Null(), Variant::Null(), Variant::Null(), Variant::FromString("bad \xC3("),
       Variant::FromString("text into OLE"), Variant::FromLong(42), Variant::FromLong(-5)},
      {Variant(), Variant(), Variant::FromBoolean(false), Variant::FromByte(0),
       Variant::FromInteger(-1), Variant::FromCurrency(core::Currency{-15000}),
       Variant::FromSingle(3.5f), Variant::FromDouble(-0.0), Variant::FromString("2001-02-03"),
       Variant::FromBytes({}), Variant::FromString(""), Variant::Null(), Variant::FromString(""),
       Variant::FromDouble(0.0005)},
  };
  for (const auto& values : rows) {
    std::vector<Variant> stored;
    RowPointer where = t.Insert(values, &stored);
    std::vector<Variant> read = t.Read(where);
    ASSERT_EQ(stored.size(), read.size());
    for (std::size_t c = 0; c < read.size(); ++c) {
      EXPECT_TRUE(stored[c] == read[c]) << "column " << spec.columns[c].name << ": stored "
                                        << stored[c].ToString() << ", read " << read[c].ToString();
    }
  }
}

}  // namespace
}  // namespace jet

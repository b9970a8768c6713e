// The Paradox reader against the values the format notes decode from the same files, and
// the fixtures pxlib wrote.
#include "bde/paradox_reader.h"

#include "support.h"

namespace bde_test {
namespace {

using bde::SourceFieldType;
using core::VarType;

std::vector<std::string> Column(bde::SourceReader& r, const std::string& name) {
  std::vector<std::string> out;
  const int f = FieldIndex(r, name);
  while (r.Next()) {
    core::Variant v = r.Value(f);
    out.push_back(v.IsNull() ? "<null>" : v.Type() == VarType::Date ? DateText(v) : v.ToString());
  }
  return out;
}

TEST(ParadoxValues, EveryFixedType) {
  struct Case {
    const char* file;
    const char* field;
    std::vector<std::string> values;
  };
  const Case cases[] = {
      {"paradox/paradoxdriver/joins/joina.db", "ID", {"1", "2", "3"}},
      {"paradox/paradoxdriver/fields/long.db", "LONG", {"1", "2", "<null>"}},
      {"paradox/paradoxdriver/fields/logical.db", "BOOL", {"True", "False", "True", "True"}},
      {"paradox/paradoxdriver/fields/time.db",
       "Time",
       {"1899-12-30 01:00:01.000", "<null>", "1899-12-30 03:00:03.000"}},
      {"paradox/paradoxdriver/fields/timestamp.db",
       "Timestamp",
       {"<null>", "2020-02-01 01:00:01.000"}},
      {"paradox/paradoxdriver/fields/bcd.db", "A", {"1.23", "-1.23", "0"}},
      {"paradox/paradoxdriver/fields/bcd.db", "B", {"1", "-1", "<null>"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Column(*Open(c.file), c.field), c.values) << c.file;

  auto orders = Open("paradox/paradoxdriver/db/ORDERS.DB");
  ASSERT_TRUE(orders->Next());
  EXPECT_EQ(ValueOf(*orders, "Order No").ToDouble(), 1001.0);
  EXPECT_EQ(DateText(ValueOf(*orders, "Sale Date")), "1988-04-03 00:00:00.000");
  EXPECT_EQ(orders->Fields()[FieldIndex(*orders, "Total Invoice")].type, SourceFieldType::Currency);

  auto decimal = Open("paradox/paradoxdriver/db/DECIMAL.DB");
  ASSERT_TRUE(decimal->Next());
  EXPECT_EQ(ValueOf(*decimal, "DECIMAL").ToDouble(), -200.0);

  // BCD digits past those a double could hold are garbage in the file: read as zeros.
  auto bcd = Open("paradox/paradoxdriver/fields/bcd.db");
  ASSERT_TRUE(bcd->Next());
  EXPECT_EQ(ValueOf(*bcd, "C").Type(), VarType::Decimal);
  EXPECT_NEAR(ValueOf(*bcd, "C").ToDouble(), 0.123, 0.001);

  auto bytes = Open("paradox/paradoxdriver/fields/bytes.db");
  ASSERT_TRUE(bytes->Next());
  std::vector<std::uint8_t> b = ValueOf(*bytes, "BYTES").Bytes();
  ASSERT_EQ(b.size(), 255u);
  EXPECT_EQ(std::vector<std::uint8_t>(b.begin(), b.begin() + 6), Bytes({'1', 0, '2', 0, '3', 0}));
}

TEST(ParadoxValues, BlobsInTheRecordAndInTheBlobFile) {
  auto memo = Open("paradox/paradoxdriver/fields/memo.db");
  ASSERT_TRUE(memo->Next());  // 555 bytes in a suballocated block of memo.mb
  std::string m = ValueOf(*memo, "MEMO").ToString();
  EXPECT_EQ(m.size(), 555u);
  EXPECT_EQ(m.substr(0, 16), "0123456789001234");
  ASSERT_TRUE(memo->Next());  // short enough for the record's own leader
  EXPECT_EQ(ValueOf(*memo, "MEMO").ToString(), "01234567890\n");

  // Graphic and OLE values keep the engine's 8-byte prefix; the formatted memo is binary.
  struct Case {
    const char* file;
    const char* field;
    SourceFieldType type;
    std::vector<std::uint8_t> starts;
  };
  const Case cases[] = {
      {"paradox/paradoxdriver/fields/graphic240.db", "Graph", SourceFieldType::Graphic,
       Bytes({0x01, 0x00, 0x00, 0x01, 0x6e, 0x4e, 0x00, 0x00, 'B', 'M'})},
      {"paradox/paradoxdriver/fields/ole.db", "OLE", SourceFieldType::ParadoxOle,
       Bytes({1, 0, 0, 2})},
      {"paradox/paradoxdriver/fields/fmemo.db", "FMEMO", SourceFieldType::FmtMemo,
       Bytes({7, 0, 0, 0})},
  };
  for (const Case& c : cases) {
    auto r = Open(c.file);
    EXPECT_EQ(r->Fields()[FieldIndex(*r, c.field)].type, c.type) << c.file;
    ASSERT_TRUE(r->Next());
    std::vector<std::uint8_t> v = ValueOf(*r, c.field).Bytes();
    ASSERT_GE(v.size(), c.starts.size()) << c.file;
    EXPECT_EQ(std::vector<std::uint8_t>(v.begin(), v.begin() + c.starts.size()), c.starts)
        << c.file;
  }
  auto ole = Open("paradox/paradoxdriver/fields/ole.db");
  ASSERT_TRUE(ole->Next());
  EXPECT_EQ(ole->BlobBytes(FieldIndex(*ole, "OLE")).size(), 0x059560u + 8);

  // pxlib's tables: leader, suballocated block, a block of its own, NULL.
  auto px = Open("synthetic/czech1250.db");
  std::vector<std::string> memos = Column(*px, "POZN");
  ASSERT_EQ(memos.size(), 4u);
  EXPECT_EQ(memos[0], "kratke");
  EXPECT_EQ(memos[1], "úpěl ďábelské ódy / úpěl ďábelské ódy / úpěl ďábelské ódy");
  ASSERT_EQ(memos[2].size(), 5000u);
  EXPECT_EQ(memos[2].substr(0, 27), "abcdefghijklmnopqrstuvwxyza");
  EXPECT_EQ(memos[3], "<null>");

  auto customer = Open("paradox/paradoxdriver/db/CUSTOMER.DB");
  EXPECT_EQ(customer->Fields()[FieldIndex(*customer, "Comments")].size, 100);  // leader bytes
  std::vector<std::string> comments = Column(*customer, "Comments");
  ASSERT_EQ(comments.size(), 20u);
  for (std::size_t i = 5; i < 20; ++i) EXPECT_EQ(comments[i], "<null>") << i;
}

TEST(ParadoxTables, StructureVersionsAndValidity) {
  struct Case {
    const char* file;
    const char* format;
    int records;
    int code_page;
  };
  const Case cases[] = {
      {"paradox/paradoxReader/PCLDATA/PCL.DB", "Paradox 3.0", 161, 437},  // blocks out of order
      {"paradox/paradoxdriver/fields/date35.db", "Paradox 3.5", 3, 437},
      {"paradox/paradoxdriver/areas/ZIPCODES.DB", "Paradox 4", 43185, 437},  // last block cut short
      {"paradox/paradoxdriver/db/GENERAL.DB", "Paradox 5", 3, 936},
      {"paradox/paradoxdriver/db/AREACODES.DB", "Paradox 7", 370, 1252},  // 16 KiB blocks
      {"paradox/paradoxdriver/joins/fk1.db", "Paradox 5", 0, 850},
      {"paradox/paradoxdriver/joins/two.db", "Paradox 5", 0, 850},
  };
  for (const Case& c : cases) {
    auto r = Open(c.file);
    EXPECT_EQ(r->FormatName(), c.format) << c.file;
    EXPECT_EQ(r->CodePage(), c.code_page) << c.file;
    int n = 0;
    while (r->Next()) ++n;
    EXPECT_EQ(n, c.records) << c.file;
    EXPECT_EQ(r->RecordCount(), c.records) << c.file;
    EXPECT_TRUE(r->Warnings().empty()) << c.file << ": " << r->Warnings().front();
  }
  auto customer = Open("paradox/paradoxdriver/db/CUSTOMER.DB");
  EXPECT_EQ(customer->Fields()[0].type, SourceFieldType::AutoInc);
  EXPECT_EQ(Column(*customer, "CustNo").front(), "1");
  auto server = Open("paradox/paradoxdriver/db/SERVER.DB");
  EXPECT_EQ(static_cast<bde::ParadoxReader&>(*server).KeyFieldCount(), 2);

  // Required flags come from the validity file.
  auto logical = Open("paradox/paradoxdriver/fields/logical.db");
  EXPECT_TRUE(logical->Fields()[0].required);
  auto area = Open("paradox/paradoxdriver/db/AREACODE.DB");
  for (const auto& f : area->Fields()) EXPECT_FALSE(f.required) << f.name;
}

TEST(ParadoxTables, ProtectedAndIncompleteTablesFailClearly) {
  for (const char* file : {"paradox/paradoxdriver/encrypt/encrypted.db",
                           "paradox/paradoxdriver/encrypt/encrypted35.db",
                           "paradox/paradoxdriver/encrypt/encryptedmemo.db"}) {
    std::string e = ErrorOf([&] { Open(file); });
    EXPECT_NE(e.find(file), std::string::npos) << e;
    EXPECT_NE(e.find("password"), std::string::npos) << e;
  }
  std::string e = ErrorOf([] { Open("paradox/paradoxdriver/fields/graphic.db"); });
  EXPECT_NE(e.find("graphic.db"), std::string::npos) << e;
  EXPECT_NE(e.find("graphic.mb is missing"), std::string::npos) << e;
}

}  // namespace
}  // namespace bde_test

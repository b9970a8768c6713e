// The dBase family reader against values known from the files' own documentation, the
// format notes and the fixtures' generators.
#include "bde/dbf_reader.h"

#include <algorithm>

#include "support.h"

namespace bde_test {
namespace {

using bde::SourceFieldType;
using core::VarType;

std::vector<std::string> Column(bde::SourceReader& r, const std::string& name) {
  std::vector<std::string> out;
  const int f = FieldIndex(r, name);
  while (r.Next()) out.push_back(r.Value(f).IsNull() ? "<null>" : r.Value(f).ToString());
  return out;
}

TEST(DbfRecords, DeletedRecordsAreSkippedButCounted) {
  struct Case {
    const char* file;
    const char* field;
    std::int64_t header_count;
    std::vector<std::string> live;
  };
  const Case cases[] = {
      {"dbase/dbfread/people.dbf", "NAME", 3, {"Alice", "Bob"}},
      {"dbase/javadbf/test_delete.dbf", "FNAME", 3, {"john", "suzy"}},
      {"synthetic/types4.dbf", "TXT", 4, {"first", "<null>", " lead"}},
      // Deletion flag 0x00 written by some tools: the records are live.
      {"foxpro/infused-dbf/mazovia.dbf", "A1", 2, {"2020-01-04", "2020-01-04"}},
  };
  for (const Case& c : cases) {
    auto r = Open(c.file);
    EXPECT_EQ(r->RecordCount(), c.header_count) << c.file;
    EXPECT_EQ(Column(*r, c.field), c.live) << c.file;
    EXPECT_FALSE(r->Next()) << "stays at the end: " << c.file;
    EXPECT_TRUE(r->Warnings().empty()) << c.file;
  }
}

TEST(DbfRecords, OddHeaders) {
  // No 0x0D after the descriptors; an Excel C(8,2) whose decimals byte means nothing;
  // tables without fields.
  auto cont = Open("dbase/javadbf/continents_no_header_record_terminator.dbf");
  ASSERT_EQ(cont->Fields().size(), 1u);
  EXPECT_EQ(cont->Fields()[0].name, "name");
  EXPECT_EQ(Column(*cont, "name").size(), 7u);

  auto excel = Open("dbase/javadbf/wrong-exented-character-field.dbf");
  EXPECT_EQ(excel->Fields()[FieldIndex(*excel, "FLUGHOEHE")].size, 8);
  EXPECT_EQ(Column(*excel, "NAME").size(), 16u);

  for (auto [file, records] : {std::pair{"dbase/deb-r-cran-sf/storms_xyz.dbf", 71},
                               std::pair{"dbase/infused-dbf/polygon.dbf", 1}}) {
    auto r = Open(file);
    EXPECT_TRUE(r->Fields().empty());
    int n = 0;
    while (r->Next()) ++n;
    EXPECT_EQ(n, records) << file;
  }
  auto empty = Open("synthetic/empty.dbf");
  EXPECT_EQ(empty->Fields().size(), 2u);
  EXPECT_FALSE(empty->Next());
}

TEST(DbfFieldTypes, AsTheEngineReportedThem) {
  struct Case {
    const char* file;
    const char* field;
    SourceFieldType type;
    int size;
  };
  const Case cases[] = {
      {"synthetic/types4.dbf", "S4", SourceFieldType::Smallint, 0},
      {"synthetic/types4.dbf", "I5", SourceFieldType::Integer, 0},
      {"synthetic/types4.dbf", "I9", SourceFieldType::Integer, 0},
      {"synthetic/types4.dbf", "F10", SourceFieldType::Float, 0},
      {"synthetic/types4.dbf", "D2", SourceFieldType::Float, 0},
      {"synthetic/types4.dbf", "FL", SourceFieldType::Float, 0},
      {"synthetic/types4.dbf", "DAT", SourceFieldType::Date, 0},
      {"synthetic/types4.dbf", "LOG", SourceFieldType::Boolean, 0},
      {"synthetic/types4.dbf", "TXT", SourceFieldType::String, 20},
      {"synthetic/types4.dbf", "MEMO", SourceFieldType::Memo, 0},
      {"foxpro/go-dbase/table/TEST.DBF", "PRODUCTID", SourceFieldType::Integer, 0},
      {"foxpro/go-dbase/table/TEST.DBF", "PRICE", SourceFieldType::Currency, 0},
      {"foxpro/go-dbase/table/TEST.DBF", "DOUBLE", SourceFieldType::Float, 0},
      {"foxpro/go-dbase/table/TEST.DBF", "DATETIME", SourceFieldType::DateTime, 0},
      {"foxpro/go-dbase/table/TEST.DBF", "INTEGER", SourceFieldType::Float, 0},  // really F(4,2)
      {"foxpro/go-dbase/table/TEST.DBF", "BLOB", SourceFieldType::Blob, 0},
      {"foxpro/go-dbase/table/TEST.DBF", "VARBIN_NIL", SourceFieldType::VarBytes, 10},
      {"foxpro/go-dbase/table/TEST.DBF", "VAR_NIL", SourceFieldType::String, 254},
      {"dbase/javadbf/inventory.dbf", "Item ID", SourceFieldType::AutoInc, 0},
      {"dbase/javadbf/inventory.dbf", "Qty", SourceFieldType::Integer, 0},
      {"dbase/javadbf/inventory.dbf", "Picture", SourceFieldType::Blob, 0},
      {"dbase/infused-dbf/dbase_8b.dbf", "FLOAT", SourceFieldType::Float, 0},
  };
  for (const Case& c : cases) {
    auto r = Open(c.file);
    const bde::FieldDescription& f = r->Fields()[FieldIndex(*r, c.field)];
    EXPECT_EQ(f.type, c.type) << c.file << " " << c.field;
    EXPECT_EQ(f.size, c.size) << c.file << " " << c.field;
  }
  // The hidden _NullFlags column is never a field.
  auto vfp = Open("foxpro/go-dbase/table/TEST.DBF");
  EXPECT_EQ(vfp->Fields().size(), 16u);
  for (const auto& f : vfp->Fields()) EXPECT_NE(f.name, "_NullFlags");
}

TEST(DbfValues, TextNumbersDatesLogicals) {
  auto r = Open("synthetic/types4.dbf");
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(ValueOf(*r, "S4").Type(), VarType::Integer);
  EXPECT_EQ(ValueOf(*r, "S4").ToInt64(), -999);
  EXPECT_EQ(ValueOf(*r, "I5").Type(), VarType::Long);
  EXPECT_EQ(ValueOf(*r, "I5").ToInt64(), 99999);
  EXPECT_EQ(ValueOf(*r, "I9").ToInt64(), 999999999);
  EXPECT_EQ(ValueOf(*r, "F10").ToDouble(), 9999999999.0);
  EXPECT_EQ(ValueOf(*r, "D2").ToDouble(), 12345.67);
  EXPECT_EQ(ValueOf(*r, "FL").ToDouble(), -0.125);
  EXPECT_EQ(DateText(ValueOf(*r, "DAT")), "2024-02-29 00:00:00.000");
  EXPECT_EQ(ValueOf(*r, "LOG").Type(), VarType::Boolean);
  EXPECT_TRUE(ValueOf(*r, "LOG").ToBoolean());
  EXPECT_EQ(ValueOf(*r, "TXT").ToString(), "first");

  ASSERT_TRUE(r->Next());  // every field blank: all Null
  EXPECT_EQ(r->RecordNumber(), 3);
  for (int i = 0; i < static_cast<int>(r->Fields().size()); ++i) {
    EXPECT_TRUE(r->Value(i).IsNull()) << r->Fields()[i].name;
    EXPECT_TRUE(r->IsNull(i)) << r->Fields()[i].name;
  }
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(ValueOf(*r, "TXT").ToString(), " lead");  // leading blanks are data
  EXPECT_EQ(DateText(ValueOf(*r, "DAT")), "1800-01-01 00:00:00.000");

  // F in exponent form; "?" and blank logicals; N filled with '*' on overflow.
  auto fylk = Open("dbase/deb-r-cran-maptools/fylk-val.dbf");
  bool exponent = false;
  while (fylk->Next()) exponent |= ValueOf(*fylk, "LENGTH").ToDouble() == 7.85660795095193E+04;
  EXPECT_TRUE(exponent);
  auto world = Open("dbase/deb-r-cran-spdata/world.dbf");
  int stars = 0;
  while (world->Next())
    for (int i = 0; i < static_cast<int>(world->Fields().size()); ++i)
      if (world->Fields()[i].native_type == 'N' && world->IsNull(i)) ++stars;
  EXPECT_GT(stars, 0);
}

TEST(DbfValues, VisualFoxProBinaryTypesAndNullFlags) {
  auto r = Open("foxpro/go-dbase/table/TEST.DBF");
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(ValueOf(*r, "PRODUCTID").ToInt64(), 1);
  EXPECT_EQ(ValueOf(*r, "PRICE").Type(), VarType::Currency);
  EXPECT_EQ(ValueOf(*r, "PRICE").ToCurrency().scaled, 123456);
  EXPECT_EQ(ValueOf(*r, "DOUBLE").ToDouble(), 78.9);
  EXPECT_EQ(DateText(ValueOf(*r, "DATETIME")), "2022-04-10 00:00:00.000");
  EXPECT_EQ(ValueOf(*r, "VARBIN_NIL").Bytes(),
            Bytes({0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa}));
  EXPECT_EQ(ValueOf(*r, "VAR_NIL").ToString(), "Test value with variable length");
  EXPECT_TRUE(ValueOf(*r, "VAR").IsNull());
  EXPECT_EQ(ValueOf(*r, "DESC").ToString(), "PRODUCT DESCRIPTION");

  ASSERT_TRUE(r->Next());
  EXPECT_EQ(DateText(ValueOf(*r, "DATETIME")), "2022-10-10 21:04:25.332");
  EXPECT_EQ(ValueOf(*r, "VARBIN_NIL").Bytes(), Bytes({0xaa, 0xbb, 0xcc}));
  const std::string full = ValueOf(*r, "VAR_NIL").ToString();
  EXPECT_EQ(full.size(), 254u);
  EXPECT_EQ(full.back(), 'a');
  EXPECT_FALSE(r->Next()) << "record 3 is deleted";

  auto v32 = Open("foxpro/infused-dbf/dbase_32.dbf");
  ASSERT_TRUE(v32->Next());
  EXPECT_EQ(ValueOf(*v32, "NAME").ToString(), "Bad Meets Evil");

  auto products = Open("foxpro/infused-dbf/dbase_31.dbf");
  ASSERT_TRUE(products->Next());
  EXPECT_EQ(ValueOf(*products, "PRODUCTNAM").ToString(), "Chai");
  EXPECT_EQ(ValueOf(*products, "UNITPRICE").ToCurrency().scaled, 180000);

  // An Access export's time-only values sit on 1899-12-30; the stored millisecond is kept.
  auto calls = Open("foxpro/infused-dbf/foxprodb/calls.dbf");
  ASSERT_TRUE(calls->Next());
  EXPECT_EQ(DateText(ValueOf(*calls, "CALL_DATE")), "1994-11-21 13:35:39.000");
  EXPECT_EQ(DateText(ValueOf(*calls, "CALL_TIME")), "1899-12-30 13:35:38.999");
}

TEST(DbfValues, DBase7BigEndianIntegersAndBinaryMemo) {
  auto r = Open("dbase/javadbf/inventory.dbf");
  std::vector<std::int64_t> ids;
  while (r->Next()) {
    ids.push_back(ValueOf(*r, "Item ID").ToInt64());
    if (ValueOf(*r, "Description").ToString() == "Dartboard") {
      EXPECT_EQ(ValueOf(*r, "Qty").ToInt64(), 53);
      std::vector<std::uint8_t> picture = r->BlobBytes(FieldIndex(*r, "Picture"));
      ASSERT_GT(picture.size(), 14u);
      EXPECT_EQ(std::vector<std::uint8_t>(picture.begin(), picture.begin() + 4),
                Bytes({1, 0, 0, 1}));
      EXPECT_EQ(std::string(picture.begin() + 8, picture.begin() + 14), "GIF87a");
    }
  }
  EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(DbfMemos, EveryMemoFileKind) {
  // dBase III: 512-byte blocks to the end mark.
  auto d3 = Open("dbase/infused-dbf/dbase_83.dbf");
  ASSERT_TRUE(d3->Next());
  const int desc = FieldIndex(*d3, "DESC");
  std::vector<std::uint8_t> memo = d3->BlobBytes(desc);
  EXPECT_EQ(memo.size(), 524u);
  EXPECT_EQ(std::string(memo.begin(), memo.begin() + 12), "Our Original");
  EXPECT_EQ(std::string(memo.end() - 6, memo.end()), "Blanc.");

  auto m3 = Open("synthetic/memo3.dbf");
  ASSERT_TRUE(m3->Next());
  const std::string long_memo = ValueOf(*m3, "M").ToString();
  EXPECT_EQ(long_memo, std::string(1500, 'x') + "END");
  ASSERT_TRUE(m3->Next());
  EXPECT_EQ(ValueOf(*m3, "M").ToString(), "two\r\nlines");

  // dBase IV: the length in the block header counts; stale bytes after it are not data.
  auto d4 = Open("dbase/infused-dbf/dbase_8b.dbf");
  EXPECT_EQ(Column(*d4, "MEMO"),
            (std::vector<std::string>{"First memo\r\n", "Second memo", "Thierd memo", "Fourth memo",
                                      "Fifth memo", "Sixth memo", "Seventh memo", "Eigth memo",
                                      "Nineth memo", "<null>"}));
  auto t4 = Open("synthetic/types4.dbf");
  ASSERT_TRUE(t4->Next());
  const std::string lines = ValueOf(*t4, "MEMO").ToString();
  EXPECT_EQ(lines.size(), 5200u);
  EXPECT_EQ(lines.substr(0, 26), "line 0001 of a long memo\r\n");
  EXPECT_EQ(lines.substr(5200 - 26), "line 0200 of a long memo\r\n");

  // FoxPro: big-endian block headers, 64-byte blocks; the memo file's extension in capitals.
  auto f5 = Open("foxpro/infused-dbf/dbase_f5.dbf");
  bool found = false;
  const int obs = FieldIndex(*f5, "OBSE");
  while (f5->Next() && !found)
    found = !f5->IsNull(obs) && f5->Value(obs).ToString().rfind("El meu pare.", 0) == 0;
  EXPECT_TRUE(found);
  auto memotest = Open("foxpro/dbfread/memotest.dbf");
  EXPECT_EQ(core::FileNameOf(static_cast<bde::DbfReader&>(*memotest).MemoPath()), "memotest.FPT");
}

TEST(DbfRecords, DatabaseContainersReadAsTables) {
  // A Visual FoxPro .dbc is a table of its own (memos in .DCT); it holds the long field names
  // of the tables bound to it.
  struct Case {
    const char* file;
    int live;
  };
  for (const Case& c : {Case{"foxpro/go-dbase/database/EXPENSES.DBC", 57},
                        Case{"foxpro/infused-dbf/foxprodb/FOXPRO-DB-TEST.DBC", 56}}) {
    bde::DbfReader r(Data(c.file));
    EXPECT_EQ(core::FileNameOf(r.MemoPath()).substr(core::FileNameOf(r.MemoPath()).size() - 4),
              ".DCT");
    std::vector<std::string> names = Column(r, "OBJECTNAME");
    EXPECT_EQ(static_cast<int>(names.size()), c.live) << c.file;
    if (std::string(c.file).find("FOXPRO") != std::string::npos) {
      EXPECT_NE(std::find(names.begin(), names.end(), "contact_type_id"), names.end());
      EXPECT_NE(std::find(names.begin(), names.end(), "contact_type"), names.end());
    }
  }
}

}  // namespace
}  // namespace bde_test

// Values assigned to fields, converted per DAO type, with DAO's error numbers; and the same
// through a recordset into a file and back.
#include <cmath>

#include "core/datetime.h"
#include "core/file.h"
#include "dao/convert.h"
#include "dao_test_util.h"

namespace {

using namespace dao;
using daotest::ErrorOf;

struct TextCase {
  int type;
  std::uint32_t size;
  const char* text;
  core::Variant expected;  // Empty when an error is expected
  int error = 0;
};

core::Variant Cur(std::int64_t scaled) {
  return core::Variant::FromCurrency(core::Currency{scaled});
}

core::Variant Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return core::Variant::FromDate(core::EncodeDateTime({y, mo, d, h, mi, s, 0}));
}

core::Variant Bytes(std::vector<std::uint8_t> b) {
  return core::Variant::FromBytes(std::move(b));
}

TEST(Convert, TextToEveryType) {
  const core::Variant no;
  const TextCase cases[] = {
      // Boolean: the words in any case, numbers by their value.
      {dbBoolean, 0, "True", core::Variant::FromBoolean(true)},
      {dbBoolean, 0, "fALSE", core::Variant::FromBoolean(false)},
      {dbBoolean, 0, "Yes", core::Variant::FromBoolean(true)},
      {dbBoolean, 0, "no", core::Variant::FromBoolean(false)},
      {dbBoolean, 0, "ON", core::Variant::FromBoolean(true)},
      {dbBoolean, 0, "Off", core::Variant::FromBoolean(false)},
      {dbBoolean, 0, "-1", core::Variant::FromBoolean(true)},
      {dbBoolean, 0, "0", core::Variant::FromBoolean(false)},
      {dbBoolean, 0, "2", core::Variant::FromBoolean(true)},
      {dbBoolean, 0, "maybe", no, err::kConversionError},
      {dbBoolean, 0, "", no, err::kConversionError},
      // Integers: ranges per type, halves to even, "." or "," as separator.
      {dbByte, 0, "255", core::Variant::FromByte(255)},
      {dbByte, 0, "256", no, err::kNumericOverflow},
      {dbByte, 0, "-1", no, err::kNumericOverflow},
      {dbByte, 0, "2.5", core::Variant::FromByte(2)},
      {dbByte, 0, "3.5", core::Variant::FromByte(4)},
      {dbInteger, 0, "-32768", core::Variant::FromInteger(-32768)},
      {dbInteger, 0, "32768", no, err::kNumericOverflow},
      {dbInteger, 0, "1,5", core::Variant::FromInteger(2)},
      {dbInteger, 0, "0.5", core::Variant::FromInteger(0)},
      {dbInteger, 0, "1e3", core::Variant::FromInteger(1000)},
      {dbLong, 0, "2147483647", core::Variant::FromLong(2147483647)},
      {dbLong, 0, "-2147483648", core::Variant::FromLong(INT32_MIN)},
      {dbLong, 0, "2147483648", no, err::kNumericOverflow},
      {dbLong, 0, "1E20", no, err::kNumericOverflow},
      {dbLong, 0, " 42 ", core::Variant::FromLong(42)},
      {dbLong, 0, "-2.5", core::Variant::FromLong(-2)},
      {dbLong, 0, "12abc", no, err::kConversionError},
      {dbLong, 0, "", no, err::kConversionError},
      // Currency: exact to four places, rounded half to even beyond them.
      {dbCurrency, 0, "922337203685477.5807", Cur(INT64_MAX)},
      {dbCurrency, 0, "-922337203685477.5808", Cur(INT64_MIN)},
      {dbCurrency, 0, "922337203685477.5808", no, err::kNumericOverflow},
      {dbCurrency, 0, "0.1", Cur(1000)},
      {dbCurrency, 0, "1.00005", Cur(10000)},
      {dbCurrency, 0, "1.00015", Cur(10002)},
      {dbCurrency, 0, "-12,3456", Cur(-123456)},
      {dbCurrency, 0, "12.", Cur(120000)},
      {dbCurrency, 0, "-.5", Cur(-5000)},
      {dbCurrency, 0, "+7", Cur(70000)},
      {dbCurrency, 0, "-", no, err::kConversionError},
      {dbCurrency, 0, "1.2.3", no, err::kConversionError},
      {dbCurrency, 0, "12 Kč", no, err::kConversionError},
      // Floating point.
      {dbSingle, 0, "1.5", core::Variant::FromSingle(1.5f)},
      {dbSingle, 0, "3.4E38", core::Variant::FromSingle(3.4e38f)},
      {dbSingle, 0, "3.5E38", no, err::kNumericOverflow},
      {dbDouble, 0, "-0,25", core::Variant::FromDouble(-0.25)},
      {dbDouble, 0, "1.7976931348623157E308", core::Variant::FromDouble(1.7976931348623157e308)},
      {dbDouble, 0, "1E309", no, err::kNumericOverflow},
      {dbDouble, 0, "one", no, err::kConversionError},
      // Dates.
      {dbDate, 0, "2001-03-05", Date(2001, 3, 5)},
      {dbDate, 0, "3/5/2001 2:30:15 PM", Date(2001, 3, 5, 14, 30, 15)},
      {dbDate, 0, "1899-12-30 06:00:00", core::Variant::FromDate(0.25)},
      {dbDate, 0, "0050-01-01", no, err::kConversionError},
      {dbDate, 0, "2001-13-01", no, err::kConversionError},
      // Text counts characters (UTF-16 units), not bytes.
      {dbText, 5, "abcde", core::Variant("abcde")},
      {dbText, 5, "abcdef", no, err::kFieldTooSmall},
      {dbText, 4, "žluť", core::Variant("žluť")},
      {dbText, 1, "\xF0\x9F\x98\x80", no, err::kFieldTooSmall},
      {dbText, 0, "", core::Variant("")},
      {dbMemo, 0, "dlouhý text", core::Variant("dlouhý text")},
      // GUIDs in DAO's text form or bare, stored in Windows memory order.
      {dbGUID, 0, "{guid {12345678-90AB-CDEF-1234-567890ABCDEF}}",
       Bytes({0x78, 0x56, 0x34, 0x12, 0xAB, 0x90, 0xEF, 0xCD, 0x12, 0x34, 0x56, 0x78, 0x90, 0xAB,
              0xCD, 0xEF})},
      {dbGUID, 0, "{12345678-90ab-cdef-1234-567890abcdef}",
       Bytes({0x78, 0x56, 0x34, 0x12, 0xAB, 0x90, 0xEF, 0xCD, 0x12, 0x34, 0x56, 0x78, 0x90, 0xAB,
              0xCD, 0xEF})},
      {dbGUID, 0, "{guid {12345678-90AB}}", no, err::kConversionError},
      // Binary takes a string as its UTF-16 units, as OLE makes bytes of it.
      {dbBinary, 4, "ab", Bytes({0x61, 0x00, 0x62, 0x00})},
      {dbBinary, 3, "ab", no, err::kFieldTooSmall},
      {dbLongBinary, 0, "Ž", Bytes({0x7D, 0x01})},
      {dbDecimal, 0, "123.45", core::Variant::FromDecimal(core::Decimal{2, false, 0, 12345})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("type ") + std::to_string(c.type) + " text '" + c.text + "'");
    core::Variant out;
    int e = TextToFieldValue(c.text, c.type, c.size, out);
    EXPECT_EQ(e, c.error);
    if (c.error == 0) {
      EXPECT_TRUE(out == c.expected) << out.ToString();
    }
    // The variant path gives the same answer for a string.
    core::Variant out2;
    EXPECT_EQ(ConvertToFieldType(core::Variant(c.text), c.type, c.size, out2), c.error);
  }
}

TEST(Convert, OtherVariantKinds) {
  struct Case {
    core::Variant in;
    int type;
    std::uint32_t size;
    core::Variant expected;
    int error;
  };
  const core::Variant no;
  const Case cases[] = {
      {core::Variant(2.5), dbLong, 0, core::Variant::FromLong(2), 0},
      {core::Variant(3.5), dbInteger, 0, core::Variant::FromInteger(4), 0},
      {core::Variant(1e10), dbLong, 0, no, err::kNumericOverflow},
      {core::Variant::FromBoolean(true), dbLong, 0, core::Variant::FromLong(-1), 0},
      {core::Variant::FromBoolean(true), dbText, 0, core::Variant("True"), 0},
      {core::Variant(0.1), dbCurrency, 0, Cur(1000), 0},
      {core::Variant(1.5), dbText, 0, core::Variant("1.5"), 0},
      {core::Variant(123456), dbText, 3, no, err::kFieldTooSmall},
      {core::Variant(36526.5), dbDate, 0, core::Variant::FromDate(36526.5), 0},
      {core::Variant::FromDate(-700000.0), dbDate, 0, no, err::kConversionError},
      {core::Variant(7), dbBinary, 0, no, err::kConversionError},
      {Bytes({1, 2, 3}), dbLong, 0, no, err::kConversionError},
      {Bytes({1, 2, 3, 4, 5}), dbBinary, 4, no, err::kFieldTooSmall},
      {Bytes({1, 2, 3, 4}), dbBinary, 4, Bytes({1, 2, 3, 4}), 0},
      {Bytes(std::vector<std::uint8_t>(16, 7)), dbGUID, 0, Bytes(std::vector<std::uint8_t>(16, 7)),
       0},
      {Bytes({1, 2}), dbGUID, 0, no, err::kConversionError},
      {core::Variant::Null(), dbLong, 0, core::Variant::Null(), 0},
      {core::Variant(), dbText, 0, core::Variant::Null(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " from " + std::to_string(static_cast<int>(c.in.Type())));
    core::Variant out;
    EXPECT_EQ(ConvertToFieldType(c.in, c.type, c.size, out), c.error);
    if (c.error == 0) {
      EXPECT_TRUE(out == c.expected);
    }
  }
}

TEST(Convert, GuidValueTextRoundTrips) {
  std::uint8_t g[16];
  ASSERT_TRUE(ParseGuidValueText("{guid {00000101-0000-0010-8000-00AA006D2EA4}}", g));
  EXPECT_EQ(GuidValueText(g), "{guid {00000101-0000-0010-8000-00AA006D2EA4}}");
  EXPECT_FALSE(ParseGuidValueText("{guid {0000010G-0000-0010-8000-00AA006D2EA4}}", g));
}

// Every DAO type through a recordset into a file and back: what is written is what reads.
TEST(Convert, ValuesSurviveTheFileAndErrorsAriseAtAssignment) {
  core::MemoryFileSystem files;
  auto engine = DBEngine::Create(&files);
  auto db = engine->CreateDatabase("/v.mdb", dbLangGeneral);
  daotest::CreateTable(*db, "V",
                       {{"B", dbBoolean},
                        {"Y", dbByte},
                        {"I", dbInteger},
                        {"L", dbLong},
                        {"C", dbCurrency},
                        {"S", dbSingle},
                        {"D", dbDouble},
                        {"T", dbDate},
                        {"BIN", dbBinary, 8},
                        {"TXT", dbText, 10},
                        {"OLE", dbLongBinary},
                        {"M", dbMemo},
                        {"G", dbGUID},
                        {"R", dbText, 10, 0, true}});
  auto rs = db->OpenRecordset("V", dbOpenDynaset);
  rs->AddNew();
  const std::pair<const char*, const char*> texts[] = {
      {"B", "Yes"},
      {"Y", "200"},
      {"I", "-300"},
      {"L", "123456789"},
      {"C", "922337203685477.5807"},
      {"S", "0.1"},
      {"D", "3,25"},
      {"T", "12/31/1999 23:59:59"},
      {"TXT", "Příliš"},
      {"G", "{guid {12345678-90AB-CDEF-1234-567890ABCDEF}}"},
      {"R", "r"}};
  // Two-byte, three-byte and four-byte characters count as one, one and two UTF-16 units.
  const std::string memo = std::string(69990, 'x') + "Žluť€😀";
  for (auto [name, text] : texts) rs->Fields().Item(name)->SetValue(std::string_view(text));
  rs->Fields().Item("M")->SetValue(std::string_view(memo));
  rs->Fields().Item("BIN")->SetValue(Bytes({0, 1, 2, 255}));
  rs->Fields().Item("OLE")->SetValue(Bytes({9, 8, 7}));
  // Conversion and size errors arise at the assignment and leave the buffer alone.
  struct Bad {
    const char* field;
    const char* text;
    int error;
  };
  for (Bad b :
       {Bad{"Y", "256", err::kNumericOverflow}, Bad{"L", "abc", err::kConversionError},
        Bad{"TXT", "12345678901", err::kFieldTooSmall}, Bad{"C", "1e20", err::kNumericOverflow},
        Bad{"T", "31.12.1999", err::kConversionError},
        Bad{"G", "not a guid", err::kConversionError}}) {
    SCOPED_TRACE(b.field);
    EXPECT_EQ(ErrorOf([&] { rs->Fields().Item(b.field)->SetValue(std::string_view(b.text)); }),
              b.error);
    EXPECT_EQ(engine->Errors().Item(0).Source, "DAO.Field");
    EXPECT_EQ(engine->Errors().Item(0).Number, b.error);
  }
  EXPECT_EQ(
      ErrorOf([&] { rs->Fields().Item("BIN")->SetValue(Bytes(std::vector<std::uint8_t>(9))); }),
      err::kFieldTooSmall);
  rs->Update();
  rs->Close();

  db->Close();
  db = engine->OpenDatabase("/v.mdb");
  auto back = db->OpenRecordset("V", dbOpenSnapshot);
  auto v = [&](const char* name) { return back->Fields().Item(name)->Value(); };
  EXPECT_TRUE(v("B") == core::Variant::FromBoolean(true));
  EXPECT_TRUE(v("Y") == core::Variant::FromByte(200));
  EXPECT_TRUE(v("I") == core::Variant::FromInteger(-300));
  EXPECT_TRUE(v("L") == core::Variant::FromLong(123456789));
  EXPECT_TRUE(v("C") == Cur(INT64_MAX));
  EXPECT_TRUE(v("S") == core::Variant::FromSingle(0.1f));
  EXPECT_TRUE(v("D") == core::Variant::FromDouble(3.25));
  EXPECT_TRUE(v("T") == Date(1999, 12, 31, 23, 59, 59));
  EXPECT_TRUE(v("BIN") == Bytes({0, 1, 2, 255}));
  EXPECT_EQ(v("TXT").ToString(), "Příliš");
  EXPECT_TRUE(v("OLE") == Bytes({9, 8, 7}));
  EXPECT_EQ(v("M").ToString(), memo);
  EXPECT_EQ(v("G").ToString(), "{guid {12345678-90AB-CDEF-1234-567890ABCDEF}}");
  EXPECT_EQ(back->Fields().Item("M")->FieldSize(), 2 * (69990 + 5 + 2));
  EXPECT_EQ(back->Fields().Item("OLE")->FieldSize(), 3);
  EXPECT_EQ(back->Fields().Item("TXT")->Size(), 10);
}

TEST(Convert, UpdateChecksRequiredKeysAndZeroLength) {
  core::MemoryFileSystem files;
  auto engine = DBEngine::Create(&files);
  auto db = engine->CreateDatabase("/u.mdb", dbLangGeneral);
  auto td = db->CreateTableDef("U");
  for (auto [name, type] :
       {std::pair{"K", dbLong}, std::pair{"NAME", dbText}, std::pair{"Z", dbText}}) {
    auto f = td->CreateField(name, type);
    td->Fields().Append(f);
  }
  td->Fields().Item("Z")->SetAllowZeroLength(false);
  auto pk = td->CreateIndex("PrimaryKey");
  pk->SetPrimary(true);
  pk->Fields().Append(pk->CreateField("K"));
  td->Indexes().Append(pk);
  db->TableDefs().Append(td);
  db->TableDefs().Item("U")->Fields().Item("NAME")->SetRequired(true);

  auto rs = db->OpenRecordset("U", dbOpenDynaset);
  rs->AddNew();
  rs->Fields().Item("K")->SetValue(core::Variant(1));
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }), err::kRequiredNull);
  EXPECT_NE(engine->Errors().Item(0).Description.find("'NAME'"), std::string::npos);
  // The add stays pending: fix the value and try again.
  EXPECT_EQ(rs->EditMode(), dbEditAdd);
  rs->Fields().Item("NAME")->SetValue(std::string_view("one"));
  rs->Fields().Item("Z")->SetValue(std::string_view(""));
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }), err::kZeroLengthString);
  rs->Fields().Item("Z")->SetValue(core::Variant::Null());
  rs->Update();
  EXPECT_EQ(rs->EditMode(), dbEditNone);

  rs->AddNew();
  rs->Fields().Item("K")->SetValue(core::Variant(1));
  rs->Fields().Item("NAME")->SetValue(std::string_view("two"));
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }), err::kDuplicateKey);
  EXPECT_EQ(engine->Errors().Item(0).Description, ErrorText(err::kDuplicateKey));
  EXPECT_EQ(rs->EditMode(), dbEditAdd);
  EXPECT_EQ(rs->Fields().Item("NAME")->Value().ToString(), "two");
  rs->Fields().Item("K")->SetValue(core::Variant(2));
  rs->Update();
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 2);
  // Nulls in a primary key come from the index: 3058.
  rs->AddNew();
  rs->Fields().Item("NAME")->SetValue(std::string_view("three"));
  EXPECT_EQ(ErrorOf([&] { rs->Update(); }), err::kNullInIndex);
  rs->CancelUpdate();
  rs->Close();

  // Required switched off on the table that now has rows: a Null name is taken.
  db->TableDefs().Item("U")->Fields().Item("NAME")->SetRequired(false);
  rs = db->OpenRecordset("U", dbOpenDynaset);
  rs->AddNew();
  rs->Fields().Item("K")->SetValue(core::Variant(3));
  rs->Update();
  rs->MoveLast();
  EXPECT_EQ(rs->RecordCount(), 3);
  EXPECT_TRUE(rs->Fields().Item("NAME")->Value().IsNull());
}

}  // namespace

// TTable as the copy uses it: open by directory and file name, field definitions, values by
// position, memo and blob streams, Eof/Next/Close, errors and warnings.
#include "bde/table.h"

#include "bde/dbf_format.h"
#include "support.h"

namespace bde_test {
namespace {

using ds::TFieldType;

struct Opened {
  bde::TTable table;
  explicit Opened(const std::string& relative, bool trailing_delimiter = true) {
    const std::string path = Data(relative);
    std::string dir = core::DirectoryOf(path);
    if (!trailing_delimiter) dir.pop_back();
    table.SetDatabaseName(dir);
    table.SetTableName(core::FileNameOf(path));
    table.Open();
  }
};

TEST(TTable, ReadsLikeTheCopyLoopDoes) {
  for (bool delimiter : {true, false}) {
    Opened o("dbase/dbfread/people.dbf", delimiter);
    bde::TTable& t = o.table;
    ASSERT_EQ(t.FieldDefs().Count(), 2);
    EXPECT_EQ(t.FieldDefs()[0].Name(), "NAME");
    EXPECT_EQ(t.FieldDefs()[0].DataType(), TFieldType::ftString);
    EXPECT_EQ(t.FieldDefs()[0].Size(), 16);
    EXPECT_EQ(t.FieldDefs()[1].DataType(), TFieldType::ftDate);
    EXPECT_EQ(t.RecordCount(), 3);  // deleted records counted, as the engine did
    std::vector<std::string> rows;
    while (!t.Eof()) {
      rows.push_back(t.Fields()[0].AsVariant().ToString() + " " +
                     DateText(t.Fields()[1].AsVariant()));
      t.Next();
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"Alice 1987-03-01 00:00:00.000",
                                              "Bob 1980-11-12 00:00:00.000"}));
    t.Close();
    t.Close();  // closing a closed table does nothing
    EXPECT_FALSE(t.Active());
  }
}

TEST(TTable, EmptyTablesAreAtTheirEndAtOnce) {
  for (const char* file : {"synthetic/empty.dbf", "paradox/paradoxdriver/joins/fk1.db"}) {
    Opened o(file);
    EXPECT_TRUE(o.table.Eof()) << file;
    EXPECT_EQ(o.table.FieldCount(), 2) << file;
  }
}

TEST(TTable, ValuesOfEveryKindThroughTheFields) {
  Opened vfp("foxpro/go-dbase/table/TEST.DBF");
  bde::TTable& t = vfp.table;
  EXPECT_EQ(t.FieldByName("PRICE").DataType(), TFieldType::ftCurrency);
  EXPECT_DOUBLE_EQ(t.FieldByName("PRICE").AsFloat(), 12.3456);
  EXPECT_EQ(DateText(t.FieldByName("DATETIME").AsVariant()), "2022-04-10 00:00:00.000");
  EXPECT_EQ(t.FieldByName("PRODUCTID").AsInteger(), 1);
  EXPECT_TRUE(t.FieldByName("ACTIVE").AsBoolean());
  EXPECT_EQ(t.FieldByName("VAR_NIL").AsString(), "Test value with variable length");
  EXPECT_TRUE(t.FieldByName("VAR").IsNull());
  EXPECT_TRUE(t.FieldByName("BLOB").IsNull());
  EXPECT_EQ(t.FieldByName("DESC").AsVariant().ToString(), "PRODUCT DESCRIPTION");
  t.Next();
  EXPECT_EQ(DateText(t.FieldByName("DATETIME").AsVariant()), "2022-10-10 21:04:25.332");

  Opened times("paradox/paradoxdriver/fields/date5.db");
  EXPECT_EQ(times.table.FieldByName("TIME").DataType(), TFieldType::ftTime);
  EXPECT_EQ(DateText(times.table.FieldByName("DATE").AsVariant()), "2018-01-01 00:00:00.000");
  EXPECT_EQ(DateText(times.table.FieldByName("TIME").AsVariant()), "1899-12-30 10:00:00.000");

  Opened bcd("paradox/paradoxdriver/fields/bcd.db");
  EXPECT_EQ(bcd.table.FieldByName("A").DataType(), TFieldType::ftBCD);
  EXPECT_DOUBLE_EQ(bcd.table.FieldByName("A").AsFloat(), 1.23);

  // Czech text longer in UTF-8 than the field's size in bytes is not cut.
  Opened czech("synthetic/czech852.db");
  EXPECT_EQ(czech.table.FieldByName("JMENO").AsString(), "Příliš žluťoučký kůň úpěl ďábelské ódy");
}

TEST(TTable, MemosAndBlobsThroughStreams) {
  Opened memo("synthetic/memo3.dbf");
  ds::TField& m = memo.table.FieldByName("M");
  EXPECT_EQ(m.DataType(), TFieldType::ftMemo);
  EXPECT_EQ(m.AsString(), std::string(1500, 'x') + "END");
  auto stream = memo.table.CreateBlobStream(&m, ds::bmRead);
  EXPECT_EQ(stream->Size(), 1503);
  EXPECT_THROW(memo.table.CreateBlobStream(&m, ds::bmWrite), core::EDatabaseError);

  Opened czech("synthetic/czech852.dbf");  // memo text arrives decoded
  EXPECT_EQ(czech.table.FieldByName("POZN").AsString(),
            "PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY\r\nPříliš žluťoučký kůň úpěl ďábelské ódy");

  Opened graphic("paradox/paradoxdriver/fields/graphic240.db");
  ds::TField& g = graphic.table.FieldByName("Graph");
  EXPECT_EQ(g.DataType(), TFieldType::ftGraphic);
  const std::string bytes = graphic.table.CreateBlobStream(&g, ds::bmRead)->ReadAll();
  ASSERT_GT(bytes.size(), 10u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\x01\x00\x00\x01", 4));
  EXPECT_EQ(bytes.substr(8, 2), "BM");
  EXPECT_EQ(g.AsVariant().Bytes().size(), bytes.size());
}

TEST(TTable, NavigationAndBookmarks) {
  Opened o("paradox/paradoxReader/PCLDATA/PCL.DB");
  bde::TTable& t = o.table;
  ds::TField& first = *t.Fields().Fields(0);
  const std::string record1 = first.AsString();
  t.Next();
  const std::string record2 = first.AsString();
  EXPECT_EQ(t.RecNo(), 2);
  ds::TBookmark mark = t.GetBookmark();
  t.Last();
  EXPECT_EQ(t.RecNo(), 161);
  const std::string last = first.AsString();
  t.Prior();
  EXPECT_EQ(t.RecNo(), 160);
  t.GotoBookmark(mark);
  EXPECT_EQ(first.AsString(), record2);
  t.First();
  EXPECT_EQ(first.AsString(), record1);
  t.Last();
  EXPECT_EQ(first.AsString(), last);
  t.Next();
  EXPECT_TRUE(t.Eof());

  EXPECT_THROW(t.Edit(), core::EDatabaseError);
  EXPECT_THROW(t.Append(), core::EDatabaseError);
}

TEST(TTable, DefinitionsCarryRequiredAndPrecision) {
  Opened logical("paradox/paradoxdriver/fields/logical.db");
  EXPECT_TRUE(logical.table.FieldDefs()[0].Required());
  Opened types("synthetic/types4.dbf");
  EXPECT_EQ(types.table.FieldDefs().Find("S4").DataType(), TFieldType::ftSmallint);
  EXPECT_EQ(types.table.FieldDefs().Find("D2").Precision(), 8);
  EXPECT_FALSE(types.table.FieldDefs().Find("TXT").Required());

  // Definitions can be had without opening (as a copy's field-definition assignment may).
  bde::TTable closed;
  closed.SetDatabaseName(core::DirectoryOf(Data("synthetic/types4.dbf")));
  closed.SetTableName("types4.dbf");
  closed.FieldDefs().Update();
  EXPECT_EQ(closed.FieldDefs().Count(), 10);
}

TEST(TTable, ErrorsNameTheFileAndValueErrorsOnlyTheirField) {
  struct Case {
    const char* dir;
    const char* table;
    const char* message;
  };
  const Case cases[] = {
      {"synthetic", "README.md", "README.md: unknown table type"},
      {"synthetic", "nothere.dbf", "nothere.dbf: cannot open file"},
      {"synthetic", "", "Missing TableName property"},
      {"paradox/paradoxdriver/encrypt", "encrypted.db",
       "encrypted.db: the table is password-protected"},
  };
  for (const Case& c : cases) {
    bde::TTable t;
    t.SetDatabaseName(Data(c.dir) + "/");
    t.SetTableName(c.table);
    std::string e = ErrorOf([&] { t.Open(); });
    EXPECT_NE(e.find(c.message), std::string::npos) << e;
    EXPECT_FALSE(t.Active());
  }

  Opened bad("dbase/dbfread/invalid_value.dbf");
  bde::TTable& t = bad.table;
  EXPECT_EQ(t.Fields()[0].AsString(), "Alice");  // the other field of the record is fine
  std::string e = ErrorOf([&] { t.Fields()[1].AsVariant(); });
  EXPECT_NE(e.find("invalid_value.dbf: record 1, field BIRTHDATE: invalid date \"NotAYear\""),
            std::string::npos)
      << e;
  t.Next();
  EXPECT_FALSE(t.Eof());
  EXPECT_FALSE(t.Fields()[1].IsNull());

  // The table cannot be reconfigured while open.
  EXPECT_THROW(t.SetTableName("other.dbf"), core::EDatabaseError);
}

TEST(TTable, AFieldNamedLikeAnEarlierOneIsNumberedAndTheFileNamed) {
  core::MemoryFileSystem fs;
  std::string bytes = ReadBytes(Data("dbase/dbfread/people.dbf"));
  bytes.replace(64, 9, std::string("NAME\0\0\0\0\0", 9));  // BIRTHDATE renamed NAME
  fs.SetContents("m/twice.dbf", bytes);
  bde::TTable t;
  t.SetFileSystem(&fs);
  t.SetDatabaseName("m");
  t.SetTableName("twice.dbf");
  t.Open();
  ASSERT_EQ(t.FieldCount(), 2);
  EXPECT_EQ(t.Fields()[1].FieldName(), "NAME_2");
  ASSERT_FALSE(t.Warnings().empty());
  EXPECT_NE(t.Warnings()[0].find("m/twice.dbf: field 2 is named 'NAME'"), std::string::npos)
      << t.Warnings()[0];
}

TEST(TTable, WarningsReachTheCaller) {
  core::MemoryFileSystem fs;
  std::string bytes = ReadBytes(Data("dbase/dbfread/people.dbf"));
  bytes[bde::dbf::header::kRecordCount] = 50;  // more records than the file holds
  fs.SetContents("m/people.dbf", bytes);
  bde::TTable t;
  std::vector<std::string> heard;
  t.OnWarning = [&](bde::TTable*, const std::string& w) { heard.push_back(w); };
  t.SetFileSystem(&fs);
  t.SetDatabaseName("m/");
  t.SetTableName("people.dbf");
  t.Open();
  int n = 0;
  for (; !t.Eof(); t.Next()) ++n;
  EXPECT_EQ(n, 2);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(t.Warnings(), heard);
  EXPECT_NE(heard[0].find("m/people.dbf: the header announces 50 records"), std::string::npos)
      << heard[0];
}

}  // namespace
}  // namespace bde_test

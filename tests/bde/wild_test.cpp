// Tables as people really have them: no code page named, NUL padding, long character fields,
// record counts and header lengths that lie, memo files that are missing or lie about their
// block size. The small tables here are laid out byte by byte (see MakeDbf); their text is
// encoded with the system's converter (glibc iconv), not with our own tables.
#include <iconv.h>

#include <cstring>
#include <functional>

#include "bde/code_pages.h"
#include "bde/dbf_format.h"
#include "bde/paradox_format.h"
#include "bde/table.h"
#include "support.h"

namespace bde_test {
namespace {

namespace h = bde::dbf::header;

struct Field {
  std::string name;
  char type;
  int length;
  int decimals = 0;  // for C: the high byte of a long length when `length` is above 255
};

// A dBase table: version byte, language driver, descriptors, terminator, the records (each a
// string of field bytes without the deletion flag, padded with blanks to the record length),
// an end-of-file mark. `count` overrides the header's record count.
std::string MakeDbf(std::uint8_t version, std::uint8_t ldid, const std::vector<Field>& fields,
                    const std::vector<std::string>& records, int count = -1,
                    const std::string& flags = "") {
  int record_length = 1;
  for (const Field& f : fields) record_length += f.length;
  const bool vfp = version == 0x30;
  const int header_length = 32 + 32 * static_cast<int>(fields.size()) + 1 + (vfp ? 263 : 0);
  std::string s(header_length, '\0');
  s[h::kVersion] = static_cast<char>(version);
  const std::uint32_t n = count >= 0 ? static_cast<std::uint32_t>(count) : records.size();
  for (int i = 0; i < 4; ++i) s[h::kRecordCount + i] = static_cast<char>(n >> (8 * i));
  s[h::kHeaderLength] = static_cast<char>(header_length & 0xFF);
  s[h::kHeaderLength + 1] = static_cast<char>(header_length >> 8);
  s[h::kRecordLength] = static_cast<char>(record_length & 0xFF);
  s[h::kRecordLength + 1] = static_cast<char>(record_length >> 8);
  s[h::kLanguageDriver] = static_cast<char>(ldid);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    char* d = s.data() + 32 + 32 * i;
    std::memcpy(d, fields[i].name.data(), fields[i].name.size());
    d[bde::dbf::field::kType] = fields[i].type;
    d[bde::dbf::field::kLength] = static_cast<char>(fields[i].length & 0xFF);
    d[bde::dbf::field::kDecimals] =
        static_cast<char>(fields[i].length > 255 ? fields[i].length >> 8 : fields[i].decimals);
  }
  s[32 + 32 * fields.size()] = bde::dbf::kHeaderTerminator;
  for (std::size_t r = 0; r < records.size(); ++r) {
    std::string rec = records[r];
    rec.resize(record_length - 1, ' ');
    s += r < flags.size() ? flags[r] : ' ';
    s += rec;
  }
  s += static_cast<char>(bde::dbf::kEndOfFile);
  return s;
}

// UTF-8 text in a code page, by the C library's converter.
std::string Encode(const char* code_page, const std::string& utf8) {
  iconv_t cd = iconv_open(code_page, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << code_page;
  std::string out(utf8.size() * 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t in_left = utf8.size();
  char* o = out.data();
  std::size_t o_left = out.size();
  EXPECT_NE(iconv(cd, &in, &in_left, &o, &o_left), static_cast<std::size_t>(-1)) << utf8;
  iconv_close(cd);
  out.resize(out.size() - o_left);
  return out;
}

const std::vector<std::string> kCzech = {
    "Příliš žluťoučký kůň úpěl ďábelské ódy",
    "Jiří Dvořák",
    "České Budějovice",
    "Ústí nad Labem",
    "Kateřina Nováková",
    "Plzeň",
    "Hradec Králové",
    "Žďár nad Sázavou",
    "Účetní doklad č. 15",
};
const std::vector<std::string> kRussian = {
    "Съешь же ещё этих мягких французских булок, да выпей чаю",
    "Иванов Пётр Сергеевич",
    "Москва",
    "Санкт-Петербург",
    "Бухгалтерия",
    "Накладная № 15",
    "Склад готовой продукции",
};
const std::vector<std::string> kFrenchPortuguese = {
    "Café crème",        "Ça va très bien", "São Paulo",      "Conceição",
    "Françoise Lefèvre", "Île-de-France",   "Ação de graças", "Pâtisserie à côté",
};
const std::vector<std::string> kBoxes = {
    "╔══════════════════╗", "║ Price list       ║", "╠══════════════════╣",
    "║ Apples     12.50 ║", "║ Pears       8.00 ║", "╚══════════════════╝",
};

struct Table {
  core::MemoryFileSystem fs;
  std::string path = "w/t.dbf";
  explicit Table(const std::string& bytes) { fs.SetContents(path, bytes); }
  std::unique_ptr<bde::SourceReader> Open(const bde::ReaderOptions& o = {}) {
    return bde::OpenSourceTable(path, o, fs);
  }
};

std::vector<std::string> Texts(bde::SourceReader& r, int field = 0) {
  std::vector<std::string> out;
  while (r.Next()) {
    core::Variant v = r.Value(field);
    out.push_back(v.IsNull() ? "<null>" : v.ToString());
  }
  return out;
}

TEST(CodePageDetection, UnmarkedTablesAreReadInThePageTheirBytesShow) {
  struct Case {
    const char* what;
    std::vector<std::string> texts;
    const char* encoding;  // iconv's name; nullptr: the bytes are the UTF-8 text itself
    const char* cpg;       // a .cpg file beside the table, or nullptr
    int code_page;
    bde::CodePageOrigin origin;
  };
  using O = bde::CodePageOrigin;
  const Case cases[] = {
      {"UTF-8 Czech", kCzech, nullptr, nullptr, bde::kUtf8CodePage, O::Detected},
      {"cp852 Czech", kCzech, "CP852", nullptr, 852, O::Detected},
      {"cp1250 Czech", kCzech, "CP1250", nullptr, 1250, O::Detected},
      {"cp866 Russian", kRussian, "CP866", nullptr, 866, O::Detected},
      {"cp1251 Russian", kRussian, "CP1251", nullptr, 1251, O::Detected},
      {"cp1252 French and Portuguese", kFrenchPortuguese, "CP1252", nullptr, 1252, O::Detected},
      {"cp850 French and Portuguese", kFrenchPortuguese, "CP850", nullptr, 850, O::Detected},
      {"cp437 English with box drawing", kBoxes, "CP437", nullptr, 437, O::Detected},
      {"plain ASCII", {"Hello", "World", "Brno 15"}, nullptr, nullptr, 1250, O::Default},
      {".cpg against the bytes", kCzech, "CP1250", "ANSI 1251", 1251, O::CompanionFile},
      {".cpg naming UTF-8", kCzech, nullptr, "UTF-8", bde::kUtf8CodePage, O::CompanionFile},
  };
  for (const Case& c : cases) {
    std::vector<std::string> records;
    for (const std::string& t : c.texts) records.push_back(c.encoding ? Encode(c.encoding, t) : t);
    Table t(MakeDbf(0x03, 0x00, {{"TEXT", 'C', 80}}, records));
    if (c.cpg) t.fs.SetContents("w/t.cpg", c.cpg);
    auto r = t.Open();
    EXPECT_EQ(r->CodePage(), c.code_page) << c.what;
    EXPECT_EQ(r->CodePageSource(), c.origin) << c.what;
    if (c.origin == O::Detected) {
      EXPECT_EQ(Texts(*r), c.texts) << c.what;
      // Whoever reads the table learns that the page was guessed.
      ASSERT_EQ(r->Warnings().size(), 1u) << c.what;
      EXPECT_NE(r->Warnings()[0].find("w/t.dbf: the table names no code page"), std::string::npos)
          << r->Warnings()[0];
    }
    if (c.origin == O::Default) {
      EXPECT_TRUE(r->Warnings().empty()) << c.what;
    }
  }
}

TEST(CodePageDetection, MemosCountAndWeakEvidenceGivesTheDefault) {
  // One accented letter says nothing: the configured default is used, with a warning.
  Table weak(MakeDbf(0x03, 0x00, {{"TEXT", 'C', 20}}, {"Caf\xE9", "Bar"}));
  bde::ReaderOptions o;
  o.default_code_page = 1252;
  auto r = weak.Open(o);
  EXPECT_EQ(r->CodePage(), 1252);
  EXPECT_EQ(r->CodePageSource(), bde::CodePageOrigin::Default);
  ASSERT_EQ(r->Warnings().size(), 1u);
  EXPECT_NE(r->Warnings()[0].find("does not show which"), std::string::npos) << r->Warnings()[0];

  // --codepage is the user's answer for unmarked tables; it is not asked of marked ones.
  o.code_page = 866;
  EXPECT_EQ(weak.Open(o)->CodePage(), 866);
  EXPECT_EQ(weak.Open(o)->CodePageSource(), bde::CodePageOrigin::Option);
  Table marked(MakeDbf(0x03, 0x64, {{"TEXT", 'C', 20}}, {"Caf\xE9"}));
  EXPECT_EQ(marked.Open(o)->CodePage(), 852);
  o.force_code_page = 1251;
  EXPECT_EQ(marked.Open(o)->CodePage(), 1251);
  EXPECT_EQ(marked.Open(o)->CodePageSource(), bde::CodePageOrigin::Forced);
  o.force_code_page = 4242;
  EXPECT_NE(ErrorOf([&] { marked.Open(o); }).find("code page 4242 is not supported; supported"),
            std::string::npos);

  // The table tells whoever copies it which page it chose, how, and that it guessed.
  Table guessed(MakeDbf(0x03, 0x00, {{"TEXT", 'C', 80}},
                        {Encode("CP866", kRussian[0]), Encode("CP866", kRussian[1])}));
  bde::TTable table;
  std::vector<std::string> heard;
  table.OnWarning = [&](bde::TTable*, const std::string& w) { heard.push_back(w); };
  table.SetFileSystem(&guessed.fs);
  table.SetDatabaseName("w/");
  table.SetTableName("t.dbf");
  table.Open();
  EXPECT_EQ(table.CodePageText(), "866, detected");
  EXPECT_EQ(table.Fields()[0].AsString(), kRussian[0]);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_NE(heard[0].find("reads as code page 866"), std::string::npos) << heard[0];

  // A Paradox table whose header names neither a code page nor a sort order: its Alpha
  // field and memos (cp852 Czech, written by pxlib) show the page.
  core::MemoryFileSystem fs;
  std::string db = ReadBytes(Data("synthetic/czech852.db"));
  db[bde::px::header::kCodePage] = 0;
  db[bde::px::header::kCodePage + 1] = 0;
  const std::size_t sort = db.find("ANSIINTL");
  ASSERT_NE(sort, std::string::npos);
  db.replace(sort, 8, 8, '\0');
  fs.SetContents("p/czech852.db", db);
  fs.SetContents("p/czech852.mb", ReadBytes(Data("synthetic/czech852.mb")));
  auto px = bde::OpenSourceTable("p/czech852.db", {}, fs);
  EXPECT_EQ(px->CodePage(), 852);
  EXPECT_EQ(px->CodePageText(), "852, detected");
  ASSERT_TRUE(px->Next());
  EXPECT_EQ(px->Value(1).ToString(), "Příliš žluťoučký kůň úpěl ďábelské ódy");
}

// Unmarked tables written by Perl's XBase module with their text in a long C field.
TEST(CodePageDetection, TablesOfAnIndependentWriter) {
  struct Case {
    const char* file;
    const char* code_page;
    std::string first;  // the first record's text, written four times over
  };
  const Case cases[] = {{"synthetic/unmarked852.dbf", "852, detected", kCzech[0]},
                        {"synthetic/unmarked1251.dbf", "1251, detected", kRussian[0]},
                        {"synthetic/unmarkedutf8.dbf", "UTF-8, detected", kCzech[0]}};
  for (const Case& c : cases) {
    auto r = Open(c.file);
    EXPECT_EQ(r->CodePageText(), c.code_page) << c.file;
    EXPECT_EQ(r->Fields()[1].size, 300) << c.file;
    ASSERT_TRUE(r->Next());
    EXPECT_EQ(r->Value(1).ToString(), c.first + c.first + c.first + c.first) << c.file;
    EXPECT_EQ(r->Value(2).ToString(), "end") << c.file;
  }
}

TEST(CodePages, SystemConverterPagesAndNames) {
  struct Case {
    int code_page;
    std::string bytes;
    const char* text;
  };
  const Case cases[] = {
      {28592, "\xB1\xB6\xBC", "ąśź"},  // ISO 8859-2
      {28605, "\xA4", "€"},            // ISO 8859-15
      {775, "\xD0", "ą"},              // Baltic DOS
      {855, "\xA0\xA1", "аА"},         // Cyrillic DOS
      {858, "\xD5", "€"},              // 850 with the euro
      {1258, "\xD0", "Đ"},             // Vietnamese
      {20866, "\xC1\xC2", "аб"},       // KOI8-R
      {895, "\x87\x88", "čě"},         // Kamenický: our own table
      {720, "\xA0\xA1", "بة"},         // Arabic DOS: our own table, glibc has none
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(bde::CanDecodeCodePage(c.code_page)) << c.code_page;
    EXPECT_EQ(bde::TextDecoder(c.code_page).Decode(c.bytes), c.text) << c.code_page;
  }
  const std::string all = bde::DecodableCodePagesText();
  for (const char* page : {"437", "775", "855", "1258", "28592 (ISO 8859-2)", "65001 (UTF-8)"})
    EXPECT_NE(all.find(page), std::string::npos) << page << " in " << all;
  EXPECT_FALSE(bde::CanDecodeCodePage(4242));
  for (auto [text, page] : std::vector<std::pair<const char*, int>>{{"UTF-8", bde::kUtf8CodePage},
                                                                    {"1252", 1252},
                                                                    {"ANSI 1251", 1251},
                                                                    {"88591", 1252},
                                                                    {"8859-2", 28592},
                                                                    {"ISO-8859-5", 28595},
                                                                    {"OEM", 852},
                                                                    {"CP866", 866},
                                                                    {"xyz", 0}})
    EXPECT_EQ(bde::CodePageFromCpgText(text), page) << text;
}

TEST(NulBytes, TrailingNulsArePaddingAndInnerNulsAreKept) {
  Table t(MakeDbf(0x03, 0x01, {{"TEXT", 'C', 10}},
                  {std::string("ab\0cd\0\0\0\0\0", 10), std::string("\0\0 \0 \0\0\0  ", 10),
                   std::string("\0xy", 3), std::string("plain", 5)}));
  auto r = t.Open();
  const std::vector<std::string> expected = {std::string("ab\0cd", 5), "<null>",
                                             std::string("\0xy", 3), "plain"};
  EXPECT_EQ(Texts(*r), expected);

  // The table's fields hand over the whole value too: the copy reads them.
  bde::TTable table;
  table.SetFileSystem(&t.fs);
  table.SetDatabaseName("w/");
  table.SetTableName("t.dbf");
  table.Open();
  std::vector<std::string> values, strings;
  for (; !table.Eof(); table.Next()) {
    const core::Variant v = table.Fields()[0].Value();
    values.push_back(v.IsNull() ? "<null>" : v.ToString());
    strings.push_back(table.Fields()[0].IsNull() ? "<null>" : table.Fields()[0].AsString());
  }
  EXPECT_EQ(values, expected);
  EXPECT_EQ(strings, expected);
}

TEST(LongCharacterFields, LengthHighByteInTheDecimalsByte) {
  const std::string long_text(300, 'x');
  for (std::uint8_t version : {0x03, 0xF5, 0x30}) {
    Table t(MakeDbf(version, 0x01, {{"ID", 'N', 3}, {"BODY", 'C', 300}, {"TAIL", 'C', 4}},
                    {"  1" + long_text.substr(0, 299) + "yEND", "  2end"}));
    auto r = t.Open();
    ASSERT_EQ(r->Fields()[1].size, 300) << version;
    ASSERT_TRUE(r->Next());
    EXPECT_EQ(r->Value(1).ToString(), long_text.substr(0, 299) + "y");
    EXPECT_EQ(r->Value(2).ToString(), "END");
    ASSERT_TRUE(r->Next());
    EXPECT_EQ(r->Value(1).ToString(), "end");

    // The table keeps all 300 characters too.
    bde::TTable table;
    table.SetFileSystem(&t.fs);
    table.SetDatabaseName("w/");
    table.SetTableName("t.dbf");
    table.Open();
    EXPECT_EQ(table.Fields()[1].AsString(), long_text.substr(0, 299) + "y");
    EXPECT_EQ(table.Fields()[2].AsString(), "END");
  }
}

TEST(FieldTypes, DoublesInAnyDBaseTableAndFieldsWeCannotReadByName) {
  // O holds a double big-endian with the sign bit flipped, as dBase 7 and Paradox keep
  // numbers: 1.5 is 3FF8 0000 0000 0000 stored with its top bit set; -2 (C000 ...) is stored
  // with every bit inverted.
  Table t(MakeDbf(0x03, 0x01, {{"D", 'O', 8}},
                  {std::string("\xBF\xF8\0\0\0\0\0\0", 8),
                   std::string("\x3F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8), std::string(8, '\0')}));
  auto r = t.Open();
  EXPECT_EQ(r->Fields()[0].type, bde::SourceFieldType::Float);
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(r->Value(0).ToDouble(), 1.5);
  ASSERT_TRUE(r->Next());
  EXPECT_EQ(r->Value(0).ToDouble(), -2.0);
  ASSERT_TRUE(r->Next());
  EXPECT_TRUE(r->Value(0).IsNull());

  // Visual FoxPro's own types in another family are refused naming the field and its type.
  for (char type : {'W', 'Q', 'V'}) {
    Table other(MakeDbf(0x03, 0x01, {{"OK", 'C', 2}, {"ODD", type, 4}}, {"a"}));
    EXPECT_NE(ErrorOf([&] {
                other.Open();
              }).find("field ODD has type " + std::string(1, type) + ", which only Visual"),
              std::string::npos)
        << type;
  }
}

TEST(RecordCounts, RecordsPastTheCountAreNamedAndReadOnRequest) {
  Table t(MakeDbf(0x03, 0x01, {{"NAME", 'C', 8}}, {"one", "two", "three", "four"}, 2, "  * "));
  auto r = t.Open();
  EXPECT_EQ(Texts(*r), (std::vector<std::string>{"one", "two"}));
  ASSERT_EQ(r->Warnings().size(), 1u);
  EXPECT_NE(r->Warnings()[0].find("announces 2 records, and 2 further complete records follow"),
            std::string::npos)
      << r->Warnings()[0];
  EXPECT_NE(r->Warnings()[0].find("--read-past-count"), std::string::npos);
  bde::ReaderOptions o;
  o.read_past_count = true;
  r = t.Open(o);
  EXPECT_EQ(Texts(*r), (std::vector<std::string>{"one", "two", "four"}));  // "three" is deleted
  EXPECT_EQ(r->RecordCount(), 4);
}

// Every value of every live record, as text (bytes by their count).
std::vector<std::string> Dump(bde::SourceReader& r) {
  std::vector<std::string> out;
  while (r.Next())
    for (int i = 0; i < static_cast<int>(r.Fields().size()); ++i) {
      const core::Variant v = r.Value(i);
      out.push_back(v.IsNull()                             ? "<null>"
                    : v.Type() == core::VarType::ByteArray ? std::to_string(v.Bytes().size())
                                                           : v.ToString());
    }
  return out;
}

void Put16(std::string& s, std::size_t at, unsigned v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

TEST(DamagedHeaders, ShiftedRecordsAndMemoBlocksAreFoundWithAWarning) {
  struct Case {
    const char* what;
    const char* file;
    const char* companion;
    std::function<void(std::string&)> patch, companion_patch;
    const char* warning;
  };
  auto header_length = [](int delta) {
    return [delta](std::string& s) {
      Put16(s, h::kHeaderLength,
            static_cast<unsigned>(static_cast<unsigned char>(s[h::kHeaderLength]) |
                                  static_cast<unsigned char>(s[h::kHeaderLength + 1]) << 8) +
                delta);
    };
  };
  auto block_size = [](unsigned size) {
    return [size](std::string& s) { Put16(s, bde::dbf::dbt4::kBlockSize, size); };
  };
  const Case cases[] = {
      {"Visual FoxPro header length without the backlink", "foxpro/dbfread/memotest.dbf",
       "foxpro/dbfread/memotest.FPT", header_length(-263), nullptr,
       "with the 263-byte backlink puts the first record at byte 392"},
      {"dBase 7 header one byte too long", "dbase/javadbf/test_delete.dbf", nullptr,
       header_length(1), nullptr, "puts the first record at byte 117"},
      {"dBase III header one byte too short", "dbase/dbfread/people.dbf", nullptr,
       header_length(-1), nullptr, "puts the first record at byte 97"},
      {"memo block size 1", "dbase/infused-dbf/dbase_8b.dbf", "dbase/infused-dbf/dbase_8b.dbt",
       nullptr, block_size(1), "memos start at blocks of 512 bytes"},
      {"memo block size 7", "dbase/infused-dbf/dbase_8b.dbf", "dbase/infused-dbf/dbase_8b.dbt",
       nullptr, block_size(7), "gives the block size 7"},
      {"memo block size 33", "dbase/infused-dbf/dbase_8b.dbf", "dbase/infused-dbf/dbase_8b.dbt",
       nullptr, block_size(33), "gives the block size 33"},
      {"end-of-file mark on a record before the count", "dbase/dbfread/people.dbf", nullptr,
       [](std::string& s) { s[97] = 0x1A; }, nullptr,
       "record 1 starts with an end-of-file mark, but all 3 announced records follow"},
  };
  for (const Case& c : cases) {
    auto load = [&](bool patched) {
      auto fs = std::make_unique<core::MemoryFileSystem>();
      std::string bytes = ReadBytes(Data(c.file));
      if (patched && c.patch) c.patch(bytes);
      fs->SetContents("d/" + core::FileNameOf(c.file), bytes);
      if (c.companion) {
        std::string more = ReadBytes(Data(c.companion));
        if (patched && c.companion_patch) c.companion_patch(more);
        fs->SetContents("d/" + core::FileNameOf(c.companion), more);
      }
      return fs;
    };
    auto good_fs = load(false), bad_fs = load(true);
    auto good = bde::OpenSourceTable("d/" + core::FileNameOf(c.file), {}, *good_fs);
    std::unique_ptr<bde::SourceReader> bad;
    const std::string e =
        ErrorOf([&] { bad = bde::OpenSourceTable("d/" + core::FileNameOf(c.file), {}, *bad_fs); });
    ASSERT_EQ(e, "") << c.what;
    const std::vector<std::string> expected = Dump(*good);
    ASSERT_FALSE(expected.empty()) << c.what;
    EXPECT_EQ(Dump(*bad), expected) << c.what;
    bool warned = false;
    for (const std::string& w : bad->Warnings()) warned |= w.find(c.warning) != std::string::npos;
    EXPECT_TRUE(warned) << c.what << ": " << ::testing::PrintToString(bad->Warnings());
  }
}

TEST(DamagedHeaders, AmbiguousOrImplausibleAreRefusedByName) {
  // Every record starts with a blank, so one byte further on the records look as good.
  std::string bytes = MakeDbf(0x03, 0x01, {{"NAME", 'C', 8}}, {" one", " two"});
  Put16(bytes, h::kHeaderLength, 32 + 32 + 1 + 1);
  Table ambiguous(bytes);
  std::string e = ErrorOf([&] { ambiguous.Open(); });
  EXPECT_NE(e.find("w/t.dbf: the header length 66 does not fit the header"), std::string::npos)
      << e;

  // A block size no memo fits.
  core::MemoryFileSystem fs;
  fs.SetContents("d/dbase_8b.dbf", ReadBytes(Data("dbase/infused-dbf/dbase_8b.dbf")));
  std::string dbt = ReadBytes(Data("dbase/infused-dbf/dbase_8b.dbt"));
  Put16(dbt, bde::dbf::dbt4::kBlockSize, 7);
  for (std::size_t at = 512; at + 4 <= dbt.size(); at += 512)
    if (dbt.compare(at, 4, std::string("\xFF\xFF\x08\x00", 4)) == 0) dbt[at] = 0;
  fs.SetContents("d/dbase_8b.dbt", dbt);
  e = ErrorOf([&] { bde::OpenSourceTable("d/dbase_8b.dbf", {}, fs); });
  EXPECT_NE(e.find("d/dbase_8b.dbt: the block size 7 is implausible"), std::string::npos) << e;
}

TEST(MissingMemoFiles, FoundWhateverTheCaseAndNullOnRequest) {
  // Companion files are found whatever the letter case of their names.
  core::MemoryFileSystem fs;
  fs.SetContents("m/DBASE_83.DBF", ReadBytes(Data("dbase/infused-dbf/dbase_83.dbf")));
  fs.SetContents("m/dbase_83.Dbt", ReadBytes(Data("dbase/infused-dbf/dbase_83.dbt")));
  fs.SetContents("m/NOTES.DBF",
                 MakeDbf(0x03, 0x00, {{"TEXT", 'C', 80}}, {Encode("CP1250", kCzech[0])}));
  fs.SetContents("m/notes.Cpg", "1250");
  fs.SetContents("m/CZECH.DB", ReadBytes(Data("synthetic/czech852.db")));
  fs.SetContents("m/czech.mB", ReadBytes(Data("synthetic/czech852.mb")));
  EXPECT_EQ(bde::OpenSourceTable("m/DBASE_83.DBF", {}, fs)->RecordCount(), 67);
  EXPECT_EQ(bde::OpenSourceTable("m/NOTES.DBF", {}, fs)->CodePageText(),
            "1250, from the .cpg file");
  auto px = bde::OpenSourceTable("m/CZECH.DB", {}, fs);
  const std::vector<std::string> with_blobs = Dump(*px);

  // Missing: refused, unless memo values may become Null.
  bde::ReaderOptions o;
  o.missing_memo_null = true;
  for (const char* file : {"dbase/infused-dbf/dbase_83_missing_memo.dbf",
                           "foxpro/dbfread/no_memofile.dbf", "dbase/infused-dbf/dbase_8c.dbf"}) {
    EXPECT_NE(ErrorOf([&] { Open(file); }).find("--missing-memo=null"), std::string::npos);
    auto r = Open(file, o);
    ASSERT_EQ(r->Warnings().size(), 1u) << file;
    EXPECT_NE(r->Warnings()[0].find("is missing; the memo fields are read as Null"),
              std::string::npos);
    int memos = 0;
    while (r->Next())
      for (int i = 0; i < static_cast<int>(r->Fields().size()); ++i)
        if (bde::IsBlobType(r->Fields()[i].type)) {
          EXPECT_TRUE(r->IsNull(i));
          EXPECT_TRUE(r->Value(i).IsNull());
          ++memos;
        }
    EXPECT_GT(memos, 0) << file;
  }
  // Paradox keeps the memos short enough for the record; the others become Null.
  core::MemoryFileSystem no_mb;
  no_mb.SetContents("m/czech.db", ReadBytes(Data("synthetic/czech852.db")));
  auto cut = bde::OpenSourceTable("m/czech.db", o, no_mb);
  const std::vector<std::string> without = Dump(*cut);
  ASSERT_EQ(without.size(), with_blobs.size());
  int kept = 0, lost = 0;
  for (std::size_t i = 0; i < without.size(); ++i) {
    if (without[i] == with_blobs[i])
      ++kept;
    else if (without[i] == "<null>")
      ++lost;
    else
      ADD_FAILURE() << i << ": " << without[i];
  }
  EXPECT_GT(lost, 0);
  EXPECT_GT(kept, lost);
}

}  // namespace
}  // namespace bde_test

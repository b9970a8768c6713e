// Which code page a table's text is read in, and Czech text in each code page Czech data
// come in.
#include "bde/code_pages.h"

#include "support.h"

namespace bde_test {
namespace {

const std::string kPangram = "Příliš žluťoučký kůň úpěl ďábelské ódy";
const std::string kUpper = "PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY";

TEST(CodePages, LanguageDriverMarks) {
  struct Case {
    int ldid;
    int code_page;
  };
  // Values from Microsoft's FoxPro list and the engine's dBase drivers; 0x57 means the
  // writer's Windows code page (the setting, 1250 here).
  const Case cases[] = {{0x01, 437}, {0x02, 850},  {0x03, 1252}, {0x1F, 852},  {0x20, 895},
                        {0x26, 866}, {0x57, 1250}, {0x64, 852},  {0x65, 866},  {0x66, 865},
                        {0x68, 895}, {0x69, 620},  {0x87, 852},  {0xC8, 1250}, {0xC9, 1251},
                        {0x00, 0},   {0xFE, 0}};
  for (const Case& c : cases)
    EXPECT_EQ(bde::CodePageFromLanguageDriver(static_cast<std::uint8_t>(c.ldid), 1250), c.code_page)
        << std::hex << c.ldid;

  struct Named {
    const char* name;
    int code_page;
  };
  const Named names[] = {{"DB852CZ0", 852},  {"DB867CZ0", 895},
                         {"db852po0", 852},  {"DBWINUS0", 1252},
                         {"DB437US0", 437},  {"cskamen", 895},
                         {"czech", 852},     {"anczech", 1250},
                         {"ANSII850", 1252}, {"BLROM800", 1051},  // HP Roman-8
                         {"DB0", 0},         {"", 0}};
  for (const Named& n : names)
    EXPECT_EQ(bde::CodePageFromDriverName(n.name), n.code_page) << n.name;

  const Named cpg[] = {{"852", 852},        {"1250\n", 1250}, {"UTF-8", bde::kUtf8CodePage},
                       {"ANSI 1250", 1250}, {"Big5", 950},    {"nonsense", 0}};
  for (const Named& n : cpg) EXPECT_EQ(bde::CodePageFromCpgText(n.name), n.code_page) << n.name;
}

TEST(CodePages, CzechTextInEveryCodePage) {
  struct Case {
    const char* file;
    int code_page;
  };
  const Case cases[] = {
      {"synthetic/czech852.dbf", 852},      {"synthetic/czech1250.dbf", 1250},
      {"synthetic/kamenicky_fox.dbf", 895}, {"synthetic/kamenicky_dbase.dbf", 895},
      {"synthetic/czech852.db", 852},       {"synthetic/czech1250.db", 1250},
  };
  for (const Case& c : cases) {
    auto r = Open(c.file);
    EXPECT_EQ(r->CodePage(), c.code_page) << c.file;
    ASSERT_TRUE(r->Next()) << c.file;
    EXPECT_EQ(ValueOf(*r, "JMENO").ToString(), kPangram) << c.file;
    if (r->Format() == bde::SourceFormat::DBase) {
      EXPECT_EQ(ValueOf(*r, "POZN").ToString(), kUpper + "\r\n" + kPangram) << c.file;
      ASSERT_TRUE(r->Next());
      EXPECT_EQ(ValueOf(*r, "JMENO").ToString(), kUpper) << c.file;
    }
  }
  auto kam = Open("synthetic/kamenicky.db");
  EXPECT_EQ(kam->CodePage(), 895);  // the header says 867: Borland's number for Kamenický
  ASSERT_TRUE(kam->Next());
  EXPECT_EQ(ValueOf(*kam, "JMENO").ToString(), "Příliš žluťoučký kůň");
}

TEST(CodePages, MarksSideFilesAndOverrides) {
  // "Current ANSI" with Czech Windows text; the side file's 852 is wrong and not used.
  auto point = Open("dbase/deb-r-cran-rgdal/point.dbf");
  EXPECT_EQ(point->CodePage(), 1250);
  ASSERT_TRUE(point->Next());
  EXPECT_EQ(ValueOf(*point, "NAZEV").ToString(), "Střítež nad Ludinou");

  auto mazovia = Open("foxpro/infused-dbf/mazovia.dbf");
  EXPECT_EQ(mazovia->CodePage(), 620);
  ASSERT_TRUE(mazovia->Next());
  ASSERT_TRUE(mazovia->Next());
  EXPECT_EQ(ValueOf(*mazovia, "A2").ToString().substr(0, 2), "Ś");

  auto utf8 = Open("dbase/infused-dbf/dbase_03_cyrillic.dbf");
  EXPECT_EQ(utf8->Fields()[0].name, "ШАР");

  // dBase 7 names its driver; an unmarked table takes the configured default.
  EXPECT_EQ(Open("dbase/javadbf/inventory.dbf")->CodePage(), 437);
  bde::ReaderOptions latin;
  latin.default_code_page = 1252;
  auto natural = Open("dbase/deb-python3-geopandas/naturalearth_lowres.dbf", latin);
  EXPECT_EQ(natural->CodePage(), 1252);
  bool found = false;
  while (natural->Next())
    if (ValueOf(*natural, "name").ToString() == "Côte d'Ivoire") found = true;
  EXPECT_TRUE(found);

  // A forced page wins over the mark; an undecodable one is refused.
  bde::ReaderOptions as1250;
  as1250.force_code_page = 1250;
  auto wrong = Open("synthetic/czech852.dbf", as1250);
  EXPECT_EQ(wrong->CodePage(), 1250);
  ASSERT_TRUE(wrong->Next());
  EXPECT_NE(ValueOf(*wrong, "JMENO").ToString(), kPangram);
  bde::ReaderOptions bogus;
  bogus.code_page = 4242;
  std::string e = ErrorOf([&] { Open("synthetic/czech852.dbf", bogus); });
  EXPECT_NE(e.find("code page 4242"), std::string::npos) << e;
}

}  // namespace
}  // namespace bde_test

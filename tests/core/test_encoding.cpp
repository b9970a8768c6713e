#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "core/encoding.h"
#include "core/errors.h"

namespace core {
namespace {

std::string FromHex(std::string_view hex) {
  std::string out;
  std::istringstream in{std::string(hex)};
  unsigned value;
  while (in >> std::hex >> value) out.push_back(static_cast<char>(value));
  return out;
}

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

// Text in each code page, with the bytes glibc iconv produced for it.
TEST(CodePages, SampleTextsMatchIconv) {
  struct Case {
    int code_page;
    const char* text;
    const char* hex;
  };
  const Case cases[] = {
      {437, "Ça coûte 5 ¢, ½ £ ñ ░▒▓",
       "80 61 20 63 6f 96 74 65 20 35 20 9b 2c 20 ab 20 9c 20 a4 20 b0 b1 b2"},
      // glibc has no 720 (Arabic DOS): its bytes are Python's codec's.
      {720, "مرحبا بالعالم", "ea a9 a5 a0 9f 20 a0 9f e9 e3 9f e9 ea"},
      // Nor 1098 (Farsi DOS): IBM's table, whose letters are presentation forms.
      {1098, "۱۳۸۵ × \uFEB1\uFEE1 \uFE8D", "f5 f7 fc f9 20 9e 20 a8 e6 20 89"},
      {737, "Καλημέρα κόσμε", "89 98 a2 9e a3 e2 a8 98 20 a1 e6 a9 a3 9c"},
      {850, "Ærø Straße ÿ ÀÉÎÕÜ ©®",
       "92 72 9b 20 53 74 72 61 e1 65 20 98 20 b7 90 d7 e5 9a 20 b8 a9"},
      {852, "Příliš žluťoučký kůň úpěl ďábelské ódy",
       "50 fd a1 6c 69 e7 20 a7 6c 75 9c 6f 75 9f 6b ec 20 6b 85 e5 20 a3 70 d8 6c 20 d4 a0 62 65 "
       "6c 73 6b 82 20 a2 64 79"},
      {857, "Ağaç İstanbul şişe ğüŞ",
       "41 a7 61 87 20 98 73 74 61 6e 62 75 6c 20 9f 69 9f 65 20 a7 81 9e"},
      {860, "Não à ação, Ó Ê", "4e 84 6f 20 85 20 61 87 84 6f 2c 20 9f 20 89"},
      {861, "Þetta er íslenska, ðÐ Ý",
       "8d 65 74 74 61 20 65 72 20 a1 73 6c 65 6e 73 6b 61 2c 20 8c 8b 20 97"},
      {862, "שלום עולם", "99 8c 85 8d 20 92 85 8c 8d"},
      {863, "Ça été très ¶ ¤", "80 61 20 82 74 82 20 74 72 8a 73 20 86 20 98"},
      {865, "Blåbær øl Ø ¤", "42 6c 86 62 91 72 20 9b 6c 20 9d 20 af"},
      {866, "Съешь же ещё этих мягких французских булок",
       "91 ea a5 e8 ec 20 a6 a5 20 a5 e9 f1 20 ed e2 a8 e5 20 ac ef a3 aa a8 e5 20 e4 e0 a0 ad e6 "
       "e3 a7 e1 aa a8 e5 20 a1 e3 ab ae aa"},
      {869, "Ελληνικά ΆΈΉ ΐ", "a8 e5 e5 e1 e7 e3 e4 9b 20 86 8d 8f 20 a1"},
      {874, "ภาษาไทย ๑๒๓", "c0 d2 c9 d2 e4 b7 c2 20 f1 f2 f3"},
      {1250, "Příliš žluťoučký kůň úpěl ďábelské ódy",
       "50 f8 ed 6c 69 9a 20 9e 6c 75 9d 6f 75 e8 6b fd 20 6b f9 f2 20 fa 70 ec 6c 20 ef e1 62 65 "
       "6c 73 6b e9 20 f3 64 79"},
      {1251, "Съешь же ещё этих булок",
       "d1 fa e5 f8 fc 20 e6 e5 20 e5 f9 b8 20 fd f2 e8 f5 20 e1 f3 eb ee ea"},
      {1252, "Café € „quoted“ — Œuvre",
       "43 61 66 e9 20 80 20 84 71 75 6f 74 65 64 93 20 97 20 8c 75 76 72 65"},
      {1253, "Ελληνικά Άλφα ΐ", "c5 eb eb e7 ed e9 ea dc 20 a2 eb f6 e1 20 c0"},
      {1254, "Ağaç İstanbul şişe", "41 f0 61 e7 20 dd 73 74 61 6e 62 75 6c 20 fe 69 fe 65"},
      {1255, "שָׁלוֹם ₪", "f9 c8 d1 ec e5 c9 ed 20 a4"},
      {1256, "مرحبا بالعالم گ", "e3 d1 cd c8 c7 20 c8 c7 e1 da c7 e1 e3 20 90"},
      {1257, "Ąžuolas ēriks Ļ ū", "c0 fe 75 6f 6c 61 73 20 e7 72 69 6b 73 20 cf 20 fb"},
      {10000, "Café ∑ π ƒ ‰", "43 61 66 8e 20 b7 20 b9 20 c4 20 e4"},
      {10007, "Съешь ещё ї Ґ", "91 fa e5 f8 fc 20 e5 f9 de 20 bb 20 a2"},
      {10029, "Žluťoučký kůň Łódź", "eb 6c 75 e9 6f 75 8b 6b f9 20 6b f3 cb 20 fc 97 64 90"},
  };
  for (const Case& c : cases) {
    const std::string bytes = FromHex(c.hex);
    bool lossless = false;
    EXPECT_EQ(EncodeFromUtf8(c.code_page, c.text, &lossless), bytes) << c.code_page;
    EXPECT_TRUE(lossless) << c.code_page;
    EXPECT_EQ(DecodeToUtf8(c.code_page, bytes), c.text) << c.code_page;
  }
}

// Kamenický and Mazovia are in neither glibc nor Python: the published pangram vectors.
TEST(CodePages, KamenickyAndMazoviaVectors) {
  struct Case {
    int code_page;
    const char* text;
    const char* hex;
  };
  const Case cases[] = {
      {895, "Příliš žluťoučký kůň úpěl ďábelské ódy",
       "50 a9 a1 6c 69 a8 20 91 6c 75 9f 6f 75 87 6b 98 20 6b 96 a4 20 a3 70 88 6c 20 83 a0 62 65 "
       "6c 73 6b 82 20 a2 64 79"},
      {895, "PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY",
       "50 9e 8b 4c 49 9b 20 92 4c 55 86 4f 55 80 4b 9d 20 4b a6 a5 20 97 50 89 4c 20 85 8f 42 45 "
       "4c 53 4b 90 20 95 44 59"},
      {895, "ĹĺĽľŔŕÄäÖöÜüôÔ§«»░█■", "8a 8d 9c 8c ab aa 8e 84 99 94 9a 81 93 a7 ad ae af b0 db fe"},
      {620, "Zażółć gęślą jaźń", "5a 61 a7 a2 92 8d 20 67 91 9e 6c 86 20 6a 61 a6 a4"},
      {620, "ZAŻÓŁĆ GĘŚLĄ JAŹŃ", "5a 41 a1 a3 9c 95 20 47 90 98 4c 8f 20 4a 41 a0 a5"},
  };
  for (const Case& c : cases) {
    const std::string bytes = FromHex(c.hex);
    bool lossless = false;
    EXPECT_EQ(EncodeFromUtf8(c.code_page, c.text, &lossless), bytes) << c.text;
    EXPECT_TRUE(lossless);
    EXPECT_EQ(DecodeToUtf8(c.code_page, bytes), c.text);
  }
}

// Every upper-half byte of every page glibc knows, against glibc's answer (stored by
// tests/core/make_iconv_expectations.sh). Bytes iconv rejects must decode to the fallback.
TEST(CodePages, UpperHalvesMatchIconvTables) {
  std::ifstream in(DATOVRAT_TESTDATA "/core/iconv_upper_halves.tsv");
  ASSERT_TRUE(in) << "missing iconv_upper_halves.tsv";
  // Where Python's codecs (our source) and glibc disagree, we follow Apple's current tables.
  const std::map<std::pair<int, int>, char32_t> known_differences = {
      {{10000, 0xC6}, 0x2206}, {{10000, 0xF0}, 0xF8FF}, {{10007, 0xFF}, 0x20AC}};
  std::set<int> pages_seen;
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int code_page = 0;
    std::string byte_hex, cp_hex;
    fields >> code_page >> byte_hex >> cp_hex;
    const int byte = std::stoi(byte_hex, nullptr, 16);
    const SingleByteCodec& codec = SingleByteCodec::For(code_page);
    pages_seen.insert(code_page);
    ++rows;
    char32_t expected;
    if (auto it = known_differences.find({code_page, byte}); it != known_differences.end()) {
      expected = it->second;
    } else if (cp_hex != "-") {
      expected = static_cast<char32_t>(std::stoul(cp_hex, nullptr, 16));
    } else {
      // Undefined: the same number, unless the page already has that character elsewhere.
      const std::string latin1 = [&] {
        std::string s;
        AppendUtf8(static_cast<char32_t>(byte), s);
        return s;
      }();
      const std::string encoded = codec.Encode(latin1);
      expected = static_cast<unsigned char>(encoded[0]) == byte ? byte : 0xF000 + byte;
    }
    EXPECT_EQ(codec.ToUnicode(static_cast<std::uint8_t>(byte)), expected)
        << code_page << " byte " << byte_hex;
  }
  EXPECT_EQ(rows, 24 * 128);
  EXPECT_EQ(pages_seen.size(), 24u);
}

TEST(CodePages, EveryByteRoundTripsAndAsciiIsAscii) {
  const std::string all = AllBytes();
  for (int code_page : SupportedCodePages()) {
    const SingleByteCodec& codec = SingleByteCodec::For(code_page);
    EXPECT_EQ(codec.CodePage(), code_page);
    const std::string utf8 = codec.Decode(all);
    EXPECT_TRUE(IsValidUtf8(utf8)) << code_page;
    EXPECT_EQ(Utf8Length(utf8), 256u) << code_page;
    EXPECT_EQ(utf8.substr(0, 128), all.substr(0, 128)) << code_page;
    bool lossless = false;
    EXPECT_EQ(codec.Encode(utf8, &lossless), all) << code_page;
    EXPECT_TRUE(lossless) << code_page;
    // Decode appends; it does not replace.
    std::string appended = "x";
    codec.Decode("\x80", appended);
    EXPECT_EQ(appended, "x" + codec.Decode("\x80"));
  }
}

TEST(CodePages, UndefinedBytesKeepTheirNumber) {
  EXPECT_EQ(SingleByteCodec::For(1252).ToUnicode(0x81), 0x81u);
  EXPECT_EQ(SingleByteCodec::For(1252).ToUnicode(0x80), 0x20ACu);
  EXPECT_EQ(SingleByteCodec::For(874).ToUnicode(0xFF), 0xFFu);
  // cp857 has Õ at 0xE5, so its undefined 0xD5 cannot use U+00D5.
  EXPECT_EQ(SingleByteCodec::For(857).ToUnicode(0xE5), 0xD5u);
  EXPECT_EQ(SingleByteCodec::For(857).ToUnicode(0xD5), 0xF0D5u);
  EXPECT_EQ(EncodeFromUtf8(857, DecodeToUtf8(857, "\xD5\xE5")), "\xD5\xE5");
}

TEST(CodePages, UnmappableCharactersBecomeQuestionMarks) {
  struct Case {
    int code_page;
    std::string utf8;
    std::string bytes;
    bool lossless;
  };
  const Case cases[] = {
      {437, "a€b", "a?b", false},
      {1250, "日本", "??", false},
      {852, "😀x", "?x", false},
      {1252, "\xC3", "?", false},            // truncated UTF-8
      {1252, "\xED\xA0\x80", "???", false},  // an encoded surrogate: three bad bytes
      {1252, "\xF0\x9F\x98", "?", false},    // truncated four-byte sequence
      {1252, "x?y", "x?y", true},            // a real question mark is not a loss
      {1252, std::string("a\0b", 3), std::string("a\0b", 3), true},
  };
  for (const Case& c : cases) {
    bool lossless = !c.lossless;
    EXPECT_EQ(EncodeFromUtf8(c.code_page, c.utf8, &lossless), c.bytes) << c.utf8;
    EXPECT_EQ(lossless, c.lossless) << c.utf8;
  }
}

TEST(CodePages, SupportedListAndUnknownPages) {
  const std::vector<int> expected = {437,  620,  720,  737,  850,  852,   857,   860,  861,  862,
                                     863,  865,  866,  869,  874,  895,   1098,  1250, 1251, 1252,
                                     1253, 1254, 1255, 1256, 1257, 10000, 10007, 10029};
  EXPECT_EQ(SupportedCodePages(), expected);
  for (int cp : expected) EXPECT_TRUE(IsSupportedCodePage(cp)) << cp;
  for (int cp : {0, 65001, 867, 932, 10006, -1}) {
    EXPECT_FALSE(IsSupportedCodePage(cp)) << cp;
    try {
      SingleByteCodec::For(cp);
      ADD_FAILURE() << cp;
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find(std::to_string(cp)), std::string::npos) << e.what();
    }
  }
}

TEST(Utf, Utf8ToUtf16AndBack) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
    bool valid;
  };
  const Case cases[] = {
      {"", u"", true},
      {"abc", u"abc", true},
      {"Žluťoučký", u"Žluťoučký", true},
      {"€", u"\u20AC", true},
      {"\xEF\xBF\xBD", u"\uFFFD", true},            // a real U+FFFD is valid
      {"😀", u"\xD83D\xDE00", true},                 // outside the BMP: a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF", true},  // U+10FFFF
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},  // past U+10FFFF
      {"\xC0\xAF", u"\uFFFD\uFFFD", false},                      // overlong '/'
      {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", false},            // overlong
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},            // encoded surrogate
      {"a\x80z", u"a\uFFFDz", false},                            // stray continuation byte
      {"\xE2\x82", u"\uFFFD", false},                            // truncated at the end
      {"\xE2\x82x", u"\uFFFDx", false},                          // truncated before an ASCII byte
      {"\xFF\xFE", u"\uFFFD\uFFFD", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(IsValidUtf8(c.utf8), c.valid) << c.utf8;
    // Each replacement counts as one code point, the same as in the UTF-16 result.
    EXPECT_EQ(Utf8Length(c.utf8), Utf8Length(Utf16ToUtf8(c.utf16))) << c.utf8;
    if (c.valid) {
      EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8);
    }
  }
}

TEST(Utf, LoneSurrogatesAndAppend) {
  EXPECT_EQ(Utf16ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u"\xDC00z"), "\xEF\xBF\xBDz");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), "\xEF\xBF\xBD\xEF\xBF\xBD");  // reversed
  struct Case {
    char32_t cp;
    const char* utf8;
  };
  const Case cases[] = {{0x41, "A"},
                        {0x7FF, "\xDF\xBF"},
                        {0x800, "\xE0\xA0\x80"},
                        {0xFFFF, "\xEF\xBF\xBF"},
                        {0x10000, "\xF0\x90\x80\x80"},
                        {0xD800, "\xEF\xBF\xBD"},
                        {0x110000, "\xEF\xBF\xBD"}};
  for (const Case& c : cases) {
    std::string out = ">";
    AppendUtf8(c.cp, out);
    EXPECT_EQ(out, std::string(">") + c.utf8) << static_cast<std::uint32_t>(c.cp);
  }
  EXPECT_EQ(Utf8Length("Příliš😀"), 7u);
}

}  // namespace
}  // namespace core

// The General sort order: single characters against the published code table, and the
// ordering rules a user sees (case, accents, punctuation, trailing blanks, length limit).
#include <gtest/gtest.h>

#include "jet/sort_order.h"
#include "test_index_util.h"

namespace {

using index_test::Hex;
using index_test::Utf16;

std::string AscBody(const std::u16string& text) {
  std::vector<std::uint8_t> out;
  jet::AppendGeneralTextKey(text, false, out);
  return Hex(out);
}

std::vector<std::uint8_t> Key(const std::string& utf8, bool desc = false) {
  std::vector<std::uint8_t> out;
  jet::AppendGeneralTextKey(Utf16(utf8), desc, out);
  return out;
}

// A letter alone: its primary bytes, 01, then its diacritic byte if it has one.
TEST(GeneralSortOrder, LettersMatchTheCodeTable) {
  const struct {
    char16_t unit;
    const char* body;
  } cases[] = {
      // Czech letters, capital and small alike.
      {u'Á', "4A010E00"},
      {u'č', "4D011400"},
      {u'Č', "4D011400"},
      {u'ď', "4F011400"},
      {u'é', "51010E00"},
      {u'ě', "51011400"},
      {u'í', "59010E00"},
      {u'ň', "62011400"},
      {u'ó', "64010E00"},
      {u'ř', "69011400"},
      {u'Ř', "69011400"},
      {u'š', "6B011400"},
      {u'ť', "6D011400"},
      {u'ú', "6F010E00"},
      {u'ů', "6F011A00"},
      {u'ý', "76010E00"},
      {u'ž', "78011400"},
      {u'Ž', "78011400"},
      // Polish, German and others from the same table.
      {u'ł', "5E011F00"},
      {u'ą', "4A011B00"},
      {u'ő', "64011D00"},
      {u'ö', "64011300"},
      {u'ß', "6B6B0100"},
      {u'Æ', "4A510100"},
      {u'ŧ', "6E06011E00"},
      // Plain ASCII, digits, symbols; NBSP and tab are primary characters.
      {u'a', "4A0100"},
      {u'Z', "780100"},
      {u'0', "360100"},
      {u'^', "2B020100"},
      {u'\u00A0', "08020100"},
      {u'\t', "08030100"},
      // Ignored altogether.
      {u'\0', "0100"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AscBody(std::u16string(1, c.unit)), c.body) << "U+" << std::hex << +c.unit;
  }
}

TEST(GeneralSortOrder, PunctuationAndControlsGoToTheLastLevel) {
  const struct {
    const char* text;
    const char* body;
  } cases[] = {
      {"a-b", "4A4C01010101800B068200"},
      {"-1",
       "3801010101800706"
       "8200"},
      {"O'Brien", "644C6959516201010101800B068000"},
      {"é-a", "514A010E010101800B068200"},
      {"\x01",
       "01010101800706"
       "0300"},
  };
  for (const auto& c : cases) EXPECT_EQ(AscBody(Utf16(c.text)), c.body) << c.text;
}

TEST(GeneralSortOrder, SurrogatePairsGetComputedCodes) {
  // U+1F600 = D83D DE00.
  EXPECT_EQ(AscBody(u"\xD83D\xDE00"),
            "B03FB6FC01"
            "3F3F00");
}

TEST(GeneralSortOrder, OrderingRules) {
  // Each row: a sorts strictly before b (ascending keys).
  const std::pair<const char*, const char*> before[] = {
      {"a", "á"},
      {"á", "ab"},
      {"coop", "co-op"},
      {"co-op", "coopa"},
      {"cote", "coté"},
      {"coté", "côte"},
      {"Zak", "Žák"},
      {"Žák", "Zaky"},
      {"rada", "řada"},
      {"řada", "radar"},
      {"", "a"},
      // General is not the Czech order: Č is a C with an accent here, not a letter after C.
      {"Čech", "Cyril"},
      {"Chata", "Dana"},
      {"a", "a a"},
      {"9", "A"},
      {"abc", "abd"},
      {"ab", "abc"},
  };
  for (auto [a, b] : before) {
    EXPECT_LT(Key(a), Key(b)) << a << " < " << b;
    EXPECT_GT(Key(a, true), Key(b, true)) << a << " > " << b << " descending";
  }
  // Equal keys: case and trailing blanks do not count.
  const std::pair<const char*, const char*> same[] = {
      {"klient", "KLIENT"},
      {"Příliš", "PŘÍLIŠ"},
      {"abc", "abc   "},
      {"ÁČĎ", "áčď"},
  };
  for (auto [a, b] : same) {
    EXPECT_EQ(Key(a), Key(b)) << a << " = " << b;
    EXPECT_EQ(Key(a, true), Key(b, true)) << a << " = " << b << " descending";
  }
  // Leading and inner blanks do count.
  EXPECT_NE(Key(" abc"), Key("abc"));
}

TEST(GeneralSortOrder, KeysHoldTheFirst255Units) {
  const std::string a255(255, 'a');
  EXPECT_EQ(Key(a255 + "b"), Key(a255));
  EXPECT_EQ(Key(a255 + std::string(100, 'z')), Key(a255));
  EXPECT_NE(Key(std::string(254, 'a') + "b"), Key(a255));
  // Cut first, then trailing blanks go: 250 letters and blanks up to the limit.
  EXPECT_EQ(Key(std::string(250, 'a') + std::string(10, ' ') + "x"), Key(std::string(250, 'a')));
  EXPECT_EQ(Key(a255).size(), 255u + 2);
}

TEST(GeneralSortOrder, DescendingIsTheComplementPlusATerminator) {
  const auto asc = Key("Žluťoučký kůň");
  const auto desc = Key("Žluťoučký kůň", true);
  ASSERT_EQ(desc.size(), asc.size() + 1);
  for (std::size_t i = 0; i < asc.size(); ++i)
    EXPECT_EQ(desc[i], static_cast<std::uint8_t>(~asc[i]));
  EXPECT_EQ(desc.back(), 0);
}

TEST(GeneralSortOrder, NamesOfSortOrders) {
  EXPECT_EQ(jet::SortOrderName({1033, 0}), "General (1033)");
  EXPECT_EQ(jet::SortOrderName({1029, 0}), "Czech (1029)");
  EXPECT_EQ(jet::SortOrderName({1045, 0}), "Polish (1045)");
  EXPECT_EQ(jet::SortOrderName({1033, 1}), "General (1033, version 1)");
  EXPECT_EQ(jet::SortOrderName({4242, 0}), "locale (4242)");
  EXPECT_TRUE(jet::IsGeneralSortOrder({1033, 0}));
  EXPECT_FALSE(jet::IsGeneralSortOrder({1029, 0}));
}

}  // namespace

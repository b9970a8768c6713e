// Text keys in the national sort orders: every key read from Access-made Czech, Slovak,
// Polish, Croatian and Turkish files, every re-weighted unit alone, the orders they give,
// and the orders and values whose keys are refused.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "jet/index_key.h"
#include "jet/sort_order.h"
#include "test_index_util.h"

namespace jet {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (auto b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// The key of a one-column text index holding `text`, flag byte included.
std::vector<std::uint8_t> Key(std::uint16_t locale, const std::string& text,
                              bool descending = false) {
  std::vector<std::uint8_t> key{static_cast<std::uint8_t>(descending ? 0x80 : 0x7F)};
  AppendTextKey(SortOrder{locale, 0}, core::Utf8ToUtf16(text), descending, key);
  return key;
}

// Rows of a tab-separated file after its header (and a leading "#" comment line).
std::vector<std::vector<std::string>> Rows(const std::string& name) {
  std::ifstream in(index_test::DataPath(name));
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      header = false;
      continue;
    }
    std::vector<std::string> fields;
    std::stringstream s(line);
    for (std::string f; std::getline(s, f, '\t');) fields.push_back(f);
    rows.push_back(fields);
  }
  return rows;
}

TEST(NationalKeys, EveryKeyReadFromAnAccessFileIsReproduced) {
  const auto rows = Rows("jet4-national-key-vectors.tsv");
  ASSERT_EQ(rows.size(), 666u);
  int written = 0, refused = 0, differ_from_general = 0;
  for (const auto& r : rows) {
    const auto locale = static_cast<std::uint16_t>(std::stoi(r[0]));
    SCOPED_TRACE(r[0] + " " + r[1]);
    if (!CanWriteTextKeys({locale, 0})) {
      EXPECT_EQ(locale, 1038);  // Hungarian only: its doubled contractions are not known
      ++refused;
      continue;
    }
    EXPECT_EQ(Hex(Key(locale, r[1])), r[2]);
    differ_from_general += Hex(Key(1033, r[1])) != r[2];
    ++written;
  }
  EXPECT_EQ(written, 666 - 75);
  EXPECT_EQ(refused, 75);
  EXPECT_GT(differ_from_general, 30);
}

TEST(NationalKeys, EveryReweightedUnitAloneGivesItsKey) {
  int checked = 0;
  for (const auto& r : Rows("jet4-national-sort-exceptions.tsv")) {
    const auto locale = static_cast<std::uint16_t>(std::stoi(r[0]));
    if (!CanWriteTextKeys({locale, 0})) continue;
    SCOPED_TRACE(r[0] + " " + r[2]);
    EXPECT_EQ(Hex(Key(locale, r[1])), r[7]);
    ++checked;
  }
  // Czech, Slovak, Polish, Croatian, Slovenian and Turkish.
  EXPECT_EQ(checked, 66 + 70 + 34 + 83 + 26 + 23);
}

TEST(NationalKeys, WordsSortAsTheLanguageDoes) {
  struct Case {
    std::uint16_t locale;
    std::vector<std::string> ascending;
  };
  const Case cases[] = {
      // Czech: č after c, ch after h, ř after r, š after s, ž after z; case and the
      // acute accent do not separate letters.
      {1029,
       {"cesta", "čáp", "Čechy", "dům", "hrad", "HUSA", "chata", "CHOMUTOV", "ideál", "ryba",
        "řeka", "sova", "šála", "zebra", "žába"}},
      // Croatian: c < č < ć < d < dž < đ; lj after l, nj after n.
      {1050,
       {"Celje", "Čelinac", "Ćuprija", "Doboj", "džep", "Đakovo", "lopta", "ljubav", "noga",
        "njiva"}},
      // Polish: ł after l, ó after o.
      {1045, {"lampa", "łąka", "ostry", "ósmy", "pies"}},
      // Turkish: dotless ı (and capital I) before i.
      {1055, {"ılık", "Irmak", "ipek", "İzmir"}},
  };
  for (const auto& c : cases) {
    for (std::size_t i = 1; i < c.ascending.size(); ++i) {
      const auto a = Key(c.locale, c.ascending[i - 1]), b = Key(c.locale, c.ascending[i]);
      EXPECT_LT(a, b) << c.locale << ": " << c.ascending[i - 1] << " < " << c.ascending[i];
      // Descending keys sort the other way.
      EXPECT_GT(Key(c.locale, c.ascending[i - 1], true), Key(c.locale, c.ascending[i], true))
          << c.locale << " descending: " << c.ascending[i - 1];
    }
  }
  // Case does not separate keys, "cH" is not the Czech letter ch, and General knows none.
  EXPECT_EQ(Key(1029, "CHATA"), Key(1029, "chata"));
  EXPECT_EQ(Key(1029, "Chata"), Key(1029, "chata"));
  EXPECT_NE(Key(1029, "cHata"), Key(1029, "chata"));
  EXPECT_LT(Key(1033, "chata"), Key(1033, "hrad"));
}

TEST(NationalKeys, WorkedExamplesBothWays) {
  EXPECT_EQ(Hex(Key(1050, "Čelinac")), "7F4E02515E59624A4D0100");
  EXPECT_EQ(Hex(Key(1050, "Čelinac", true)), "80B1FDAEA1A69DB5B2FEFF00");
  EXPECT_EQ(Hex(Key(1029, "Třebíč")), "7F6D6A04514C594E0301020202020E00");
  EXPECT_EQ(Hex(Key(1029, "Třebíč", true)),
            "8092"
            "95FBAEB3A6B1FCFEFDFDFDFDF1FF00");
  EXPECT_EQ(Hex(Key(1055, "SummaryInfo")),
            "7F6B6F60604A69765806625364"
            "0100");
}

TEST(NationalKeys, OrdersAndValuesWithoutKnownKeysAreRefused) {
  EXPECT_TRUE(CanWriteTextKeys(kGeneralSortOrder));
  EXPECT_TRUE(CanWriteTextKeys({1029, 0}));
  EXPECT_FALSE(CanWriteTextKeys({1029, 1}));  // no national order with version 1 is known
  EXPECT_FALSE(CanWriteTextKeys({1038, 0}));
  EXPECT_FALSE(CanWriteTextKeys({1041, 0}));
  EXPECT_NE(TextKeyRefusal({1038, 0}).find("\"ccs\""), std::string::npos);
  EXPECT_NE(TextKeyRefusal({1041, 0}).find("Japanese (1041)"), std::string::npos);
  EXPECT_EQ(TextKeyRefusal({1029, 0}), "");

  // A ligature that holds a national letter: its key is not known, so no key is made.
  KeyColumn czech{key_type::kText, false, SortOrder{1029, 0}};
  const std::u16string ligature = u"Ǆem";
  std::vector<std::uint8_t> key;
  EXPECT_THROW(AppendKeySegment(czech, KeyValue::Text(ligature), key), KeyEncodingError);
  EXPECT_EQ(UnkeyableUnit({1029, 0}, ligature), u'Ǆ');
  EXPECT_EQ(UnkeyableUnit({1050, 0}, ligature), 0);  // Croatian lists the ligature itself
  KeyColumn hungarian{key_type::kText, false, SortOrder{1038, 0}};
  EXPECT_THROW(AppendKeySegment(hungarian, KeyValue::Null(), key), KeyEncodingError);
}

}  // namespace
}  // namespace jet

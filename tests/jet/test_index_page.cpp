// Index page codec: every index page of the sample databases decodes and encodes back to
// the same bytes; hand-made pages show the layout; damaged pages are refused with a reason.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "jet/index_page.h"
#include "test_index_util.h"

namespace {

using index_test::Unhex;
using jet::DecodeIndexPage;
using jet::EncodeIndexPage;
using jet::EncodeIndexPageChanges;
using jet::IndexPage;
using jet::IndexPageError;
namespace L = jet::index_page_layout;

// The Jet 4 files of the sample set (Access-made, plus one written by Jackcess).
const char* const kCorpus[] = {
    "adox_jet4.mdb",
    "alltypes-jackcess.mdb",
    "bigIndexTestV2000.mdb",
    "compIndexTestV2000.mdb",
    "delColTestV2000.mdb",
    "empty2003.mdb",
    "emptyAccess2000.mdb",
    "fixedNumericTestV2000.mdb",
    "fixedTextTestV2000.mdb",
    "indexTestV2000.mdb",
    "overflowTestV2000.mdb",
    "queryTestV2000.mdb",
    "queryTestV2003.mdb",
    "test2V2000.mdb",
    "testIndexPropertiesV2000.mdb",
    "testPromotionV2003.mdb",
    "testUnicodeCompV2003.mdb",
};

TEST(IndexPageCodec, EverySamplePageRoundTrips) {
  int pages = 0, compressed = 0, nodes = 0;
  for (const char* name : kCorpus) {
    const auto file = index_test::ReadFile(index_test::DataPath(name));
    ASSERT_EQ(file.size() % L::kPageSize, 0u) << name;
    for (std::size_t n = 0; n < file.size() / L::kPageSize; ++n) {
      std::vector<std::uint8_t> original(file.begin() + n * L::kPageSize,
                                         file.begin() + (n + 1) * L::kPageSize);
      if (original[0] != L::kLeafType && original[0] != L::kNodeType) continue;
      SCOPED_TRACE(std::string(name) + " page " + std::to_string(n));
      IndexPage page;
      ASSERT_NO_THROW(page = DecodeIndexPage(original));
      ++pages;
      compressed += page.prefix_length != 0;
      nodes += !page.leaf;
      // The bytes past the last entry are whatever was there before; Access leaves junk.
      const std::size_t used = L::kEntryAreaSize - (original[2] | original[3] << 8);
      std::fill(original.begin() + L::kEntries + used, original.end(), 0);
      std::vector<std::uint8_t> encoded(L::kPageSize);
      EncodeIndexPage(page, encoded);
      ASSERT_EQ(encoded, original);
      // Entry boundaries: as many entries as mask bits.
      int bits = 0;
      for (std::size_t b = 0; b < L::kEntryMaskSize; ++b)
        bits += __builtin_popcount(original[L::kEntryMask + b]);
      EXPECT_EQ(static_cast<int>(page.size()), bits);
    }
  }
  // The set has compressed leaves and node pages (Access's and Jackcess's).
  EXPECT_GT(pages, 300);
  EXPECT_GE(compressed, 5);
  EXPECT_GE(nodes, 10);
}

// The one Access-made multi-page index of the set: a descending Long index over 512 rows.
TEST(IndexPageCodec, AccessTwoLevelDescendingIndex) {
  const auto file = index_test::ReadFile(index_test::DataPath("compIndexTestV2000.mdb"));
  auto page_at = [&](std::uint32_t n) {
    return DecodeIndexPage({file.data() + n * L::kPageSize, L::kPageSize});
  };
  const IndexPage root = page_at(29);
  EXPECT_FALSE(root.leaf);
  EXPECT_EQ(root.level, 1);
  ASSERT_EQ(root.size(), 1u);
  EXPECT_EQ(root.Child(0), 32u);
  EXPECT_EQ(root.tail_page, 33u);
  const IndexPage left = page_at(32), right = page_at(33);
  EXPECT_TRUE(left.leaf);
  EXPECT_EQ(left.prefix_length, 3);
  EXPECT_EQ(left.size(), 510u);
  EXPECT_EQ(right.size(), 2u);
  EXPECT_EQ(left.next_page, 33u);
  EXPECT_EQ(right.prev_page, 32u);
  // The node's entry is the left leaf's last entry, byte for byte.
  const auto stored = root.Comparable(0), last = left.Last();
  EXPECT_TRUE(std::equal(stored.begin(), stored.end(), last.begin(), last.end()));
  // First entry as documented: key of 4813 descending, row 0x38 of page 0x14.
  EXPECT_EQ(index_test::Hex({left.Entry(0).begin(), left.Entry(0).end()}), "807FFFED3200001438");
  EXPECT_EQ(left.RowPointer(0), (jet::IndexRowPointer{0x14, 0x38}));
}

std::vector<std::uint8_t> EntryBytes(std::uint32_t key, std::uint32_t page, std::uint8_t row) {
  std::vector<std::uint8_t> e = {
      0x7F, static_cast<std::uint8_t>(key >> 24 ^ 0x80), static_cast<std::uint8_t>(key >> 16),
      static_cast<std::uint8_t>(key >> 8), static_cast<std::uint8_t>(key)};
  jet::AppendRowPointer(e, {page, row});
  return e;
}

TEST(IndexPageCodec, EncodesTheDocumentedLayout) {
  IndexPage page;
  page.table_definition = 0x0F;
  page.prev_page = 0x21;
  page.next_page = 0x22;
  for (std::uint32_t k = 1; k <= 3; ++k)
    page.Append(EntryBytes(k, 0x10, static_cast<std::uint8_t>(k)));
  std::vector<std::uint8_t> out(L::kPageSize);
  EncodeIndexPage(page, out);
  EXPECT_EQ(index_test::Hex({out.begin(), out.begin() + 0x1B}),
            std::string("0401") + "050E" /* 3616 - 27 */ + "0F000000" + "00000000" + "21000000" +
                "22000000" + "00000000" + "0000" + "00");
  // Entries of 9 bytes end at 9, 18 and 27: bits 9, 18, 27.
  EXPECT_EQ(index_test::Hex({out.begin() + 0x1B, out.begin() + 0x1F}), "00020408");
  EXPECT_EQ(index_test::Hex({out.begin() + 0x1E0, out.begin() + 0x1E0 + 9}),
            "7F800000010000100"
            "1");
  EXPECT_TRUE(
      std::all_of(out.begin() + 0x1E0 + 27, out.end(), [](std::uint8_t b) { return b == 0; }));

  // An empty root as a new table has it.
  IndexPage empty;
  empty.table_definition = 0x0F;
  EncodeIndexPage(empty, out);
  EXPECT_EQ(index_test::Hex({out.begin(), out.begin() + 8}), "0401200E0F000000");
  EXPECT_TRUE(std::all_of(out.begin() + 8, out.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(IndexPageCodec, CompressesOnlyWhenThePageWouldOverflow) {
  IndexPage page;
  std::uint32_t k = 0;
  while (page.StoredSize(0) + 9 <= L::kEntryAreaSize) {
    page.Append(EntryBytes(k, 0x100, static_cast<std::uint8_t>(k)));
    ++k;
  }
  ASSERT_TRUE(page.FitPrefix());
  EXPECT_EQ(page.prefix_length, 0);
  page.Append(EntryBytes(k++, 0x100, 0));
  ASSERT_TRUE(page.FitPrefix());
  // Keys 0..401 share 7F 80 00 (0x00..0x191 differ from the third byte on) .
  EXPECT_EQ(page.prefix_length, 3);
  std::vector<std::uint8_t> out(L::kPageSize);
  EncodeIndexPage(page, out);
  const IndexPage back = DecodeIndexPage(out);
  ASSERT_EQ(back.size(), page.size());
  for (std::size_t i = 0; i < page.size(); ++i) {
    EXPECT_TRUE(std::ranges::equal(back.Entry(i), page.Entry(i))) << i;
  }
  // Entries that share page and key bytes never share the row byte through the prefix.
  IndexPage same;
  for (int r = 0; r < 2; ++r) same.Append(EntryBytes(7, 0x100, static_cast<std::uint8_t>(r)));
  EXPECT_EQ(same.MaxPrefix(), 8u);
}

TEST(IndexPageCodec, RefusesDamagedPages) {
  IndexPage page;
  for (std::uint32_t k = 1; k <= 3; ++k) page.Append(EntryBytes(k, 0x10, 1));
  std::vector<std::uint8_t> good(L::kPageSize);
  EncodeIndexPage(page, good);
  ASSERT_NO_THROW(DecodeIndexPage(good));
  struct Case {
    const char* what;
    void (*damage)(std::vector<std::uint8_t>&);
    const char* message_part;
  } cases[] = {
      {"data page", [](auto& p) { p[0] = 0x01; }, "not an index page"},
      {"marker", [](auto& p) { p[1] = 0x00; }, "marker"},
      {"free space", [](auto& p) { p[2] ^= 1; }, "free space"},
      {"mask past the end", [](auto& p) { p[L::kEntryMask + 452] = 0x80; }, "past the page end"},
      {"empty first entry", [](auto& p) { p[L::kEntryMask] |= 1; }, "empty first entry"},
      {"short entry", [](auto& p) { p[L::kEntryMask] = 0x08; }, "too short"},
      {"order", [](auto& p) { p[L::kEntries + 4] = 0x09; }, "out of order"},
      {"prefix", [](auto& p) { p[L::kPrefixLength] = 10; }, "prefix length"},
  };
  for (const auto& c : cases) {
    auto bad = good;
    c.damage(bad);
    try {
      DecodeIndexPage(bad);
      ADD_FAILURE() << c.what << " accepted";
    } catch (const IndexPageError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos)
          << c.what << ": " << e.what();
    }
  }
  EXPECT_THROW(DecodeIndexPage(std::span(good).first(100)), IndexPageError);
}

// Found by the fuzzer: an empty page whose header still names a prefix length encoded the
// first (missing) entry. It writes back as it was read.
TEST(IndexPageCodec, EmptyPageWithAPrefixLengthRoundTrips) {
  std::vector<std::uint8_t> bytes(L::kPageSize);
  EncodeIndexPage(IndexPage{}, bytes);
  bytes[L::kPrefixLength] = 241;
  const IndexPage page = DecodeIndexPage(bytes);
  ASSERT_TRUE(page.empty());
  EXPECT_EQ(page.prefix_length, 241);
  std::vector<std::uint8_t> again(L::kPageSize);
  EncodeIndexPage(page, again);
  EXPECT_EQ(again, bytes);
}

// The tree rewrites only the entries that changed since a page was last encoded or decoded.
// Whatever the mix of inserts, erases, replacements, moves between pages and header
// changes, the bytes must be the ones a whole encode gives, and a page object recorded
// for another page number must be encoded whole.
TEST(IndexPageCodec, EncodingOnlyTheChangesGivesTheWholeEncoding) {
  std::mt19937 random(20261211);
  auto entry = [&](std::size_t length) {
    std::vector<std::uint8_t> e(length);
    for (auto& b : e) b = static_cast<std::uint8_t>(random() % 7);  // many near-equal keys
    return e;
  };
  auto sorted_place = [](const IndexPage& page, const std::vector<std::uint8_t>& e) {
    std::size_t i = 0;
    while (i < page.size()) {
      const auto c = page.Entry(i);
      if (!std::lexicographical_compare(c.begin(), c.end(), e.begin(), e.end())) break;
      ++i;
    }
    return i;
  };
  for (const bool leaf : {true, false}) {
    IndexPage page;
    page.leaf = leaf;
    IndexPage other;
    other.leaf = leaf;
    std::vector<std::uint8_t> bytes(L::kPageSize, 0xEE);  // garbage until the first encode
    std::vector<std::uint8_t> whole(L::kPageSize);
    for (int step = 0; step < 3000; ++step) {
      const unsigned op = random() % 10;
      const std::size_t length = 9 + random() % 40;
      if (op < 5 && page.DataSize() + length <= L::kEntryAreaSize) {
        const auto e = entry(length);
        const std::size_t at = sorted_place(page, e);
        if (at < page.size() && std::ranges::equal(page.Entry(at), e)) continue;
        page.Insert(at, e);
      } else if (op < 8 && !page.empty()) {
        page.Erase(random() % page.size());
      } else if (op == 8 && !page.empty()) {
        // Same length and a different length, in place.
        const std::size_t at = random() % page.size();
        auto e = std::vector<std::uint8_t>(page.Entry(at).begin(), page.Entry(at).end());
        if (random() % 2 && page.DataSize() < L::kEntryAreaSize)
          e.push_back(6);
        else
          e.back() ^= 1;
        page.Replace(at, e);
      } else if (!page.empty()) {
        // Entries move to the end of another page, and back.
        const std::size_t count = 1 + random() % page.size();
        if (other.DataSize() + page.EntryEnd(count - 1) <= L::kEntryAreaSize)
          page.MoveFrontTo(count, other);
        if (!other.empty() && page.empty()) other.MoveFrontTo(other.size(), page);
        page.next_page = static_cast<std::uint32_t>(random());
        page.level = static_cast<std::uint8_t>(random() % 3);
      }
      page.prefix_length = 0;
      // Every 97th step the object claims another page's bytes: a whole encode follows.
      EncodeIndexPageChanges(page, step % 97 == 0 ? 9 : 7, bytes);
      EncodeIndexPage(page, whole);
      ASSERT_EQ(bytes, whole) << "step " << step << (leaf ? " (leaf)" : " (node)");
    }
  }
}

// A page decoded from bytes with a prefix is written whole without one.
TEST(IndexPageCodec, EncodingTheChangesOfACompressedPageWritesItWhole) {
  IndexPage page;
  for (int i = 0; i < 100; ++i) {
    std::vector<std::uint8_t> e(30, 0x41);
    e[25] = static_cast<std::uint8_t>(i);
    page.Append(e);
  }
  page.prefix_length = static_cast<std::uint16_t>(page.MaxPrefix());
  ASSERT_GT(page.prefix_length, 0);
  std::vector<std::uint8_t> bytes(L::kPageSize);
  EncodeIndexPage(page, bytes);
  IndexPage decoded = DecodeIndexPage(bytes);
  decoded.MarkSynced(5);
  decoded.Erase(99);
  decoded.prefix_length = 0;
  ASSERT_LE(decoded.DataSize(), L::kEntryAreaSize);
  EncodeIndexPageChanges(decoded, 5, bytes);
  std::vector<std::uint8_t> whole(L::kPageSize);
  EncodeIndexPage(decoded, whole);
  EXPECT_EQ(bytes, whole);
}

}  // namespace

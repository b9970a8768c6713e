// Values as rows store them: text in Access's two forms, checked against the bytes Access
// itself wrote for the same texts, and against the core UTF-8 converter and the rule for
// when Access compresses (every character U+0001..U+00FF, at least three of them, and Memo
// text no longer than 1024 characters).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/encoding.h"
#include "jet/database.h"
#include "jet/row_codec.h"
#include "jet_test_util.h"

namespace jet {
namespace {

// The stored bytes Access would write, worked out from the converter's UTF-16.
std::vector<std::uint8_t> Expected(const std::string& utf8, bool compress, bool memo) {
  const std::u16string units = core::Utf8ToUtf16(utf8);
  bool one_byte = compress && units.size() >= 3 && !(memo && units.size() > 1024);
  for (char16_t u : units) one_byte = one_byte && u != 0 && u <= 0xFF;
  std::vector<std::uint8_t> out;
  if (one_byte) {
    out = {0xFF, 0xFE};
    for (char16_t u : units) out.push_back(static_cast<std::uint8_t>(u));
    return out;
  }
  for (char16_t u : units) {
    out.push_back(static_cast<std::uint8_t>(u));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

ColumnDefinition TextColumn(std::uint8_t type, bool compress) {
  ColumnDefinition c;
  c.name = "T";
  c.type = type;
  c.length = type == column_type::kText ? 510 : 0;
  c.ext_flags = compress ? kExtFlagCompressedUnicode : 0;
  return c;
}

// A file Access wrote with texts in Latin, Finnish, Cyrillic, Greek, Japanese and the ASCII
// characters: each one, encoded by us for its own column, gives bytes that stand in the file.
TEST(RowCodec, TextEncodesToTheBytesAccessWrote) {
  const std::string name = "access/testUnicodeCompV2003.mdb";
  const std::vector<std::uint8_t> file = testing::ReadFixture(name);
  core::MemoryFileSystem fs;
  fs.SetContents(name, file);
  auto db = Database::Open(name, {.read_only = true, .file_system = &fs});
  Table& table = db->OpenTable("Table");
  const ColumnDefinition& column = table.Definition().columns[1];
  ASSERT_EQ(column.type, column_type::kText);
  int texts = 0, compressed = 0;
  for (auto scan = table.StartScan(); scan.Next();) {
    const core::Variant value = scan.Value(1);
    if (value.IsNull()) continue;
    std::vector<std::uint8_t> bytes;
    const EncodedValue e = EncodeColumnValue(column, value, bytes);
    const std::vector<std::uint8_t> ours(
        bytes.begin() + static_cast<std::ptrdiff_t>(e.offset),
        bytes.begin() + static_cast<std::ptrdiff_t>(e.offset + e.size));
    EXPECT_NE(std::search(file.begin(), file.end(), ours.begin(), ours.end()), file.end())
        << value.ToString();
    ++texts;
    compressed += ours.size() >= 2 && ours[0] == 0xFF && ours[1] == 0xFE;
  }
  EXPECT_EQ(texts, 8);
  // Five are compressed (ASCII, Finnish, "¥", "ü", the ASCII run); Cyrillic, Greek and
  // Japanese stay two bytes a character.
  EXPECT_EQ(compressed, 5);
}

TEST(RowCodec, TextIsStoredInTheFormAccessUsesForAnyBytes) {
  // Pieces that together make valid text in every UTF-8 length, NULs, and every kind of
  // broken sequence: stray continuations, overlong forms, surrogates, cut sequences.
  const std::vector<std::string> pieces = {"a",
                                           "Z",
                                           " ",
                                           std::string(1, '\0'),
                                           "\xC3\xA9",
                                           "\xC2\xA0",
                                           "\xC5\x99",
                                           "\xD0\x96",
                                           "\xE2\x82\xAC",
                                           "\xE3\x81\x82",
                                           "\xF0\x9F\x98\x80",
                                           "\x80",
                                           "\xBF",
                                           "\xC0\xAF",
                                           "\xC1",
                                           "\xE0\x80\x80",
                                           "\xED\xA0\x80",
                                           "\xF4\x90\x80\x80",
                                           "\xF5",
                                           "\xFF",
                                           "\xE2\x82",
                                           "\xF0\x9F",
                                           "\xC3"};
  std::mt19937 random(20261210);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const int n = static_cast<int>(random() % (round < 3000 ? 8 : 1100));
    for (int k = 0; k < n; ++k) text += pieces[random() % (k % 3 == 0 ? pieces.size() : 4)];
    for (std::uint8_t type : {column_type::kText, column_type::kMemo}) {
      for (bool compress : {true, false}) {
        const ColumnDefinition column = TextColumn(type, compress);
        const bool memo = type == column_type::kMemo;
        const std::vector<std::uint8_t> expected = Expected(text, compress, memo);
        if (!memo && expected.size() > 512 + 2) continue;  // longer than the column
        std::vector<std::uint8_t> into_vector = {0x55};
        EncodeBuffer into_buffer;
        into_buffer.Append(3);
        EncodedValue a, b;
        try {
          a = EncodeColumnValue(column, core::Variant::FromString(text), into_vector);
          b = EncodeColumnValue(column, core::Variant::FromString(text), into_buffer);
        } catch (const JetError&) {
          // Only a Text value longer than its column is refused.
          EXPECT_FALSE(memo);
          EXPECT_GT(core::Utf8ToUtf16(text).size(), 255u);
          continue;
        }
        SCOPED_TRACE("round " + std::to_string(round) + (memo ? " memo" : " text") +
                     (compress ? " compressed" : ""));
        ASSERT_EQ(a.offset, 1u);
        ASSERT_EQ(b.offset, 3u);
        EXPECT_EQ(std::vector<std::uint8_t>(into_vector.begin() + 1, into_vector.end()), expected);
        ASSERT_EQ(b.size, expected.size());
        EXPECT_EQ(
            std::vector<std::uint8_t>(into_buffer.data() + 3, into_buffer.data() + 3 + b.size),
            expected);
        EXPECT_EQ(into_buffer.size(), 3 + expected.size());
      }
    }
  }
}

}  // namespace
}  // namespace jet

// On-disk layouts read and written from one declaration: rows, property blobs and table
// definitions, each checked against bytes laid out by hand from the format write-ups
// (mdbtools' HACKING notes, Jackcess' format notes) and decoded back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "jet/property_blob.h"
#include "jet/row_codec.h"
#include "jet/table_definition.h"

namespace jet {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Location kAt{.file = "layouts.mdb", .table = "T"};

// Long (fixed, number 0), Text (variable slot 0), Boolean, Text (variable slot 1).
TableDefinition FourColumns(JetVersion version) {
  TableDefinition def;
  def.version = version;
  def.max_columns = 4;
  def.var_columns = 2;
  auto add = [&](std::uint8_t type, std::uint16_t number, bool fixed, std::uint16_t var_index,
                 std::uint16_t length) {
    ColumnDefinition c;
    c.name = "C" + std::to_string(number);
    c.type = type;
    c.number = number;
    c.var_index = var_index;
    c.flags =
        static_cast<std::uint8_t>((fixed ? column_flag::kFixed : 0) | column_flag::kUpdatable);
    c.length = length;
    def.columns.push_back(c);
  };
  add(column_type::kLong, 0, true, 0, 4);
  add(column_type::kText, 1, false, 0, 510);
  add(column_type::kBoolean, 2, true, 0, 0);
  add(column_type::kText, 3, false, 1, 510);
  return def;
}

ColumnSlice Slice(const Bytes& b) {
  return ColumnSlice{false, false, b.data(), static_cast<std::uint32_t>(b.size())};
}

void ExpectSlices(const RowFormat& format, const Bytes& row) {
  std::vector<ColumnSlice> out(format.ColumnCount());
  format.Decode(row, out.data(), kAt);
  ASSERT_FALSE(out[0].null);
  EXPECT_EQ(Bytes(out[0].data, out[0].data + out[0].size), (Bytes{0x44, 0x33, 0x22, 0x11}));
  ASSERT_FALSE(out[1].null);
  EXPECT_EQ(std::string(out[1].data, out[1].data + out[1].size), "ab");
  EXPECT_FALSE(out[2].null);
  EXPECT_TRUE(out[2].boolean);
  EXPECT_TRUE(out[3].null);
}

TEST(RowLayout, Jet4RowsHaveTheirTrailerAtTheEndOfTheSlot) {
  const TableDefinition def = FourColumns(JetVersion::kJet4);
  const RowFormat format(def);
  const Bytes fixed = {0x44, 0x33, 0x22, 0x11}, text = {'a', 'b'};
  std::vector<ColumnSlice> values = {Slice(fixed), Slice(text), ColumnSlice{false, true}, {}};
  // count | Long | "ab" | end of data, slot 1, slot 0 (counting back) | 2 slots | mask 0b0111
  const Bytes expected = {0x04, 0x00, 0x44, 0x33, 0x22, 0x11, 'a',  'b', 0x08,
                          0x00, 0x08, 0x00, 0x06, 0x00, 0x02, 0x00, 0x07};
  ASSERT_EQ(format.EncodedSize(values.data()), expected.size());
  Bytes row(expected.size());
  format.Encode(values.data(), row.data(), row.size());
  EXPECT_EQ(row, expected);
  ExpectSlices(format, row);

  // In a longer slot the spare bytes sit between the data and the trailer.
  Bytes longer(expected.size() + 3, 0);
  format.Encode(values.data(), longer.data(), longer.size());
  EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 8),
            Bytes(expected.begin(), expected.begin() + 8));
  EXPECT_EQ(Bytes(longer.begin() + 8, longer.begin() + 11), Bytes(3, 0));
  EXPECT_EQ(Bytes(longer.begin() + 11, longer.end()), Bytes(expected.begin() + 8, expected.end()));
  ExpectSlices(format, longer);
}

TEST(RowLayout, Jet3RowsUseByteOffsetsAndAJumpTablePast256Bytes) {
  const RowFormat format(FourColumns(JetVersion::kJet3));
  // count | Long | "ab" | end of data, slot 1, slot 0 | 2 slots | mask
  const Bytes short_row = {0x04, 0x44, 0x33, 0x22, 0x11, 'a', 'b', 0x07, 0x07, 0x05, 0x02, 0x07};
  ExpectSlices(format, short_row);

  // 300 bytes of text: the end of data (305) and slot 1 are stored as 305 - 256, and the one
  // jump-table entry says that from slot 1 on 256 is to be added.
  Bytes row = {0x04, 0x44, 0x33, 0x22, 0x11};
  for (int i = 0; i < 300; ++i) row.push_back(static_cast<std::uint8_t>('a' + i % 26));
  const Bytes trailer = {49, 49, 5, 1, 0x02, 0x03};  // eod, slot 1, slot 0, jump, count, mask
  row.insert(row.end(), trailer.begin(), trailer.end());
  std::vector<ColumnSlice> out(format.ColumnCount());
  format.Decode(row, out.data(), kAt);
  ASSERT_FALSE(out[1].null);
  EXPECT_EQ(out[1].data, row.data() + 5);
  EXPECT_EQ(out[1].size, 300u);
  EXPECT_FALSE(out[2].boolean);
  EXPECT_TRUE(out[3].null);
}

TEST(RowLayout, OffsetsOutsideTheRowAreReportedNotFollowed) {
  const RowFormat format(FourColumns(JetVersion::kJet4));
  const struct {
    const char* what;
    Bytes row;
  } cases[] = {
      {"slot 0 past the end of data",
       {0x04, 0x00, 0x44, 0x33, 0x22, 0x11, 'a', 'b', 0x08, 0x00, 0x08, 0x00, 0x09, 0x00, 0x02,
        0x00, 0x07}},
      {"end of data inside the trailer",
       {0x04, 0x00, 0x44, 0x33, 0x22, 0x11, 'a', 'b', 0x0A, 0x00, 0x08, 0x00, 0x06, 0x00, 0x02,
        0x00, 0x07}},
      {"more slots than bytes",
       {0x04, 0x00, 0x44, 0x33, 0x22, 0x11, 'a', 'b', 0x08, 0x00, 0x08, 0x00, 0x06, 0x00, 0x09,
        0x00, 0x07}},
  };
  for (const auto& c : cases) {
    std::vector<ColumnSlice> out(format.ColumnCount());
    EXPECT_THROW(format.Decode(c.row, out.data(), kAt), CorruptDatabase) << c.what;
  }
}

Bytes Ucs2(const std::string& ascii) {
  Bytes out;
  for (char ch : ascii) {
    out.push_back(static_cast<std::uint8_t>(ch));
    out.push_back(0);
  }
  return out;
}

TEST(PropertyBlobLayout, Jet4BlobsAreNamesThenTheObjectThenItsParts) {
  PropertyBlob blob;
  blob.Get("Col").properties.push_back(Property::Boolean("Required", true, true));
  blob.Get("").properties.push_back(Property::Text("Caption", "Hi", false));

  Bytes expected = {'M', 'R', '2', 0};
  auto append = [&](const Bytes& b) { expected.insert(expected.end(), b.begin(), b.end()); };
  // Names block: 6 + (2 + 14) + (2 + 16) bytes, in the order the records use them.
  append({40, 0, 0, 0, 0x80, 0x00, 14, 0});
  append(Ucs2("Caption"));
  append({16, 0});
  append(Ucs2("Required"));
  // The object: empty name part, one record of 8 + 4 bytes (not DDL, Text, name 0).
  append({24, 0, 0, 0, 0x00, 0x00, 6, 0, 0, 0, 0, 0, 12, 0, 0, 0x0A, 0, 0, 4, 0});
  append(Ucs2("Hi"));
  // The column: name part of 6 + 6 bytes, one record of 8 + 1 bytes (DDL, Boolean, name 1).
  append({27, 0, 0, 0, 0x01, 0x00, 12, 0, 0, 0, 6, 0});
  append(Ucs2("Col"));
  append({9, 0, 1, 0x01, 1, 0, 1, 0, 0x01});

  const Bytes encoded = EncodePropertyBlob(blob);
  EXPECT_EQ(encoded, expected);

  const PropertyBlob back = DecodePropertyBlob(encoded, JetVersion::kJet4, kAt);
  ASSERT_NE(back.Find(""), nullptr);
  ASSERT_NE(back.Find("")->Find("Caption"), nullptr);
  EXPECT_EQ(back.Find("")->Find("Caption")->Value().ToString(), "Hi");
  EXPECT_FALSE(back.Find("")->Find("Caption")->ddl);
  ASSERT_NE(back.Find("Col"), nullptr);
  const Property* required = back.Find("Col")->Find("Required");
  ASSERT_NE(required, nullptr);
  EXPECT_TRUE(required->ddl);
  EXPECT_EQ(required->type, 0x01);
  EXPECT_TRUE(required->Value().ToBoolean());
}

TEST(PropertyBlobLayout, Jet3BlobsKeepNamesInTheCodePage) {
  // "KKD", a names block with one one-byte name, the object with one 2-byte value.
  const Bytes blob = {'K', 'K', 'D', 0,   15,  0,  0,    0, 0x80, 0x00, 7,    0,    'C', 'a',
                      'p', 't', 'i', 'o', 'n', 22, 0,    0, 0,    0x00, 0x00, 6,    0,   0,
                      0,   0,   0,   10,  0,   0,  0x0A, 0, 0,    2,    0,    0xE9, 0x41};
  const PropertyBlob back = DecodePropertyBlob(blob, JetVersion::kJet3, kAt);
  ASSERT_NE(back.Find(""), nullptr);
  const Property* caption = back.Find("")->Find("Caption");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->value, (Bytes{0xE9, 0x41}));
}

TEST(PropertyBlobLayout, RecordsRunningPastTheirBlockAreReported) {
  Bytes blob = EncodePropertyBlob([] {
    PropertyBlob b;
    b.Get("").properties.push_back(Property::Long("Width", 7, false));
    return b;
  }());
  // The object block's record is the last 12 bytes; claim a value longer than the record.
  blob[blob.size() - 12 + PropertyRecordLayout::kValueSize] = 9;
  EXPECT_THROW(DecodePropertyBlob(blob, JetVersion::kJet4, kAt), CorruptDatabase);
}

// A Jet 4 definition with every descriptor kind and unusual values in every field.
TableDefinition EveryField() {
  TableDefinition def = FourColumns(JetVersion::kJet4);
  def.row_count = 0x01020304;
  def.autonumber = 77;
  def.unknown18[0] = 1;
  def.unknown18[15] = 0xAB;
  def.max_columns = 6;  // a deleted column leaves a gap
  def.var_columns = 3;
  def.owned_map = RowPointer{9, 2};
  def.free_map = RowPointer{9, 3};
  def.columns[1].misc[0] = 0x09;  // General sort order 1033, version 1
  def.columns[1].misc[1] = 0x04;
  def.columns[1].misc[3] = 0x01;
  def.columns[1].ext_flags = kExtFlagCompressedUnicode;
  def.columns[1].unknown9 = 0x1234;
  ColumnDefinition dec;
  dec.name = "Amount";
  dec.type = column_type::kNumeric;
  dec.number = 5;
  dec.flags = column_flag::kFixed | column_flag::kUpdatable;
  dec.fixed_offset = 4;
  dec.length = 17;
  dec.misc[0] = 18;  // precision
  dec.misc[1] = 4;   // scale
  def.columns.push_back(dec);
  ColumnDefinition memo;
  memo.name = "Notes";
  memo.type = column_type::kMemo;
  memo.number = 4;
  memo.var_index = 2;
  memo.flags = column_flag::kUpdatable;
  memo.has_lv_maps = true;
  memo.lv_owned_map = RowPointer{9, 4};
  memo.lv_free_map = RowPointer{9, 5};
  def.columns.push_back(memo);

  RealIndexDefinition pk;
  pk.columns = {IndexColumn{0, true}};
  pk.usage_map = RowPointer{9, 6};
  pk.root_page = 12;
  pk.flags = index_flag::kAccess2000 | index_flag::kUnique | index_flag::kRequired;
  pk.unknown42 = 0xDEADBEEF;
  pk.entry_count = 3;
  pk.distinct_keys = 3;
  RealIndexDefinition pair;
  pair.columns = {IndexColumn{1, false}, IndexColumn{5, true}};
  pair.usage_map = RowPointer{9, 7};
  pair.root_page = 13;
  pair.entry_count = 8;
  pair.distinct_keys = 5;
  def.real_indexes = {pk, pair};

  LogicalIndexDefinition primary;
  primary.name = "PrimaryKey";
  primary.number = 0;
  primary.real_index = 0;
  primary.kind = index_kind::kPrimaryKey;
  primary.fk_cascade_update = 4;
  primary.fk_cascade_delete = 4;
  LogicalIndexDefinition foreign;
  foreign.name = "ParentT";
  foreign.number = 1;
  foreign.real_index = 1;
  foreign.kind = index_kind::kForeignKey;
  foreign.fk_role = 2;
  foreign.fk_other_index = 3;
  foreign.fk_other_table = 0x0200;
  foreign.fk_cascade_update = 1;
  def.indexes = {primary, foreign};
  return def;
}

TEST(TableDefinitionLayout, Jet4FieldsSitWhereTheWriteUpsPutThem) {
  const TableDefinition def = EveryField();
  const Bytes b = SerializeTableDefinition(def);
  auto u16 = [&](std::size_t at) { return b[at] | (b[at + 1] << 8); };
  auto u32 = [&](std::size_t at) {
    return static_cast<std::uint32_t>(u16(at) | (u16(at + 2) << 16));
  };
  EXPECT_EQ(b[0], 0x02);
  EXPECT_EQ(u32(0x08), b.size());
  EXPECT_EQ(u32(0x0C), 1625u);
  EXPECT_EQ(u32(0x10), 0x01020304u);
  EXPECT_EQ(u32(0x14), 77u);
  EXPECT_EQ(b[0x28], 'N');
  EXPECT_EQ(u16(0x29), 6);
  EXPECT_EQ(u16(0x2B), 3);
  EXPECT_EQ(u16(0x2D), 6);
  EXPECT_EQ(u32(0x2F), 2u);  // logical indexes
  EXPECT_EQ(u32(0x33), 2u);  // real indexes
  EXPECT_EQ(u32(0x37), (9u << 8) | 2);
  // Statistics: 12 bytes per real index from 0x3F, distinct keys second.
  EXPECT_EQ(u32(0x3F + 12 + 4), 5u);
  // Column 1 (25-byte descriptors after the statistics).
  const std::size_t col1 = 0x3F + 2 * 12 + 25;
  EXPECT_EQ(b[col1], column_type::kText);
  EXPECT_EQ(u16(col1 + 5), 1);
  EXPECT_EQ(u16(col1 + 11), 1033);
  EXPECT_EQ(b[col1 + 16], kExtFlagCompressedUnicode);
  EXPECT_EQ(u16(col1 + 23), 510);
  // The real indexes follow the column names; the second one's slots, root and flags.
  std::size_t pos = 0x3F + 2 * 12 + 6 * 25;
  for (const auto& c : def.columns) pos += 2 + 2 * c.name.size();
  const std::size_t real1 = pos + 52;
  EXPECT_EQ(u32(real1), 1923u);
  EXPECT_EQ(u16(real1 + 4), 1);
  EXPECT_EQ(b[real1 + 6], 0);  // descending
  EXPECT_EQ(u16(real1 + 7), 5);
  EXPECT_EQ(u16(real1 + 10), 0xFFFF);
  EXPECT_EQ(u32(real1 + 38), 13u);
  EXPECT_EQ(u32(pos + 42), 0xDEADBEEFu);
  EXPECT_EQ(b[pos + 46], index_flag::kAccess2000 | index_flag::kUnique | index_flag::kRequired);
  const std::size_t logical1 = pos + 2 * 52 + 28;
  EXPECT_EQ(u32(logical1 + 4), 1u);
  EXPECT_EQ(b[logical1 + 12], 2);
  EXPECT_EQ(u32(logical1 + 13), 3u);
  EXPECT_EQ(u32(logical1 + 17), 0x0200u);
  EXPECT_EQ(b[logical1 + 23], index_kind::kForeignKey);
  // Last: the memo's map entry and the end mark.
  EXPECT_EQ(Bytes(b.end() - 12, b.end()), (Bytes{4, 0, 4, 9, 0, 0, 5, 9, 0, 0, 0xFF, 0xFF}));
}

TEST(TableDefinitionLayout, Jet4DefinitionsParseBackFieldForField) {
  const TableDefinition def = EveryField();
  const Bytes b = SerializeTableDefinition(def);
  const TableDefinition back = ParseTableDefinition(b, JetVersion::kJet4, "f.mdb", "T", 2);
  EXPECT_EQ(back.row_count, def.row_count);
  EXPECT_EQ(back.autonumber, def.autonumber);
  EXPECT_EQ(std::memcmp(back.unknown18, def.unknown18, sizeof def.unknown18), 0);
  EXPECT_EQ(back.max_columns, def.max_columns);
  EXPECT_EQ(back.var_columns, def.var_columns);
  EXPECT_EQ(back.owned_map, def.owned_map);
  EXPECT_EQ(back.free_map, def.free_map);
  EXPECT_TRUE(back.has_lv_list);
  ASSERT_EQ(back.columns.size(), def.columns.size());
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDefinition &a = def.columns[i], &c = back.columns[i];
    SCOPED_TRACE(a.name);
    EXPECT_EQ(c.name, a.name);
    EXPECT_EQ(c.type, a.type);
    EXPECT_EQ(c.number, a.number);
    EXPECT_EQ(c.var_index, a.var_index);
    EXPECT_EQ(c.unknown9, a.unknown9);
    EXPECT_EQ(std::memcmp(c.misc, a.misc, 4), 0);
    EXPECT_EQ(c.flags, a.flags);
    EXPECT_EQ(c.ext_flags, a.ext_flags);
    EXPECT_EQ(c.fixed_offset, a.fixed_offset);
    EXPECT_EQ(c.length, a.length);
    EXPECT_EQ(c.has_lv_maps, a.has_lv_maps);
    EXPECT_EQ(c.lv_owned_map, a.lv_owned_map);
    EXPECT_EQ(c.lv_free_map, a.lv_free_map);
  }
  EXPECT_EQ(back.columns[4].Precision(), 18);
  EXPECT_EQ(back.columns[4].Scale(), 4);
  ASSERT_EQ(back.real_indexes.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const RealIndexDefinition &a = def.real_indexes[i], &c = back.real_indexes[i];
    EXPECT_EQ(c.columns, a.columns);
    EXPECT_EQ(c.usage_map, a.usage_map);
    EXPECT_EQ(c.root_page, a.root_page);
    EXPECT_EQ(c.flags, a.flags);
    EXPECT_EQ(c.unknown42, a.unknown42);
    EXPECT_EQ(c.entry_count, a.entry_count);
    EXPECT_EQ(c.distinct_keys, a.distinct_keys);
  }
  ASSERT_EQ(back.indexes.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const LogicalIndexDefinition &a = def.indexes[i], &c = back.indexes[i];
    EXPECT_EQ(c.name, a.name);
    EXPECT_EQ(c.number, a.number);
    EXPECT_EQ(c.real_index, a.real_index);
    EXPECT_EQ(c.fk_role, a.fk_role);
    EXPECT_EQ(c.fk_other_index, a.fk_other_index);
    EXPECT_EQ(c.fk_other_table, a.fk_other_table);
    EXPECT_EQ(c.fk_cascade_update, a.fk_cascade_update);
    EXPECT_EQ(c.fk_cascade_delete, a.fk_cascade_delete);
    EXPECT_EQ(c.kind, a.kind);
  }
  // The sections are where the parser found them, so index changes can splice them.
  EXPECT_EQ(back.sections.stats, TdefLayout::kSections);
  EXPECT_EQ(back.sections.columns, TdefLayout::kSections + 2 * TdefLayout::kStatsSize);
  EXPECT_EQ(back.sections.lv_list, b.size() - 12);
  EXPECT_EQ(back.sections.end, b.size());
}

}  // namespace
}  // namespace jet

// Shared pieces of the storage tests: fixtures, and the all-types database whose values
// every reader must give back.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/datetime.h"
#include "core/encoding.h"
#include "core/variant.h"
#include "jet/database.h"

namespace jet::testing {

inline std::vector<std::uint8_t> ReadFixture(const std::string& name) {
  std::ifstream in(std::string(DATOVRAT_TESTDATA) + "/jet/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline double Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return core::EncodeDateTime(core::DateParts{y, mo, d, h, mi, s, 0});
}

inline core::Variant Bytes(std::vector<std::uint8_t> b) {
  return core::Variant::FromBytes(std::move(b));
}

inline std::vector<std::uint8_t> AllByteValues() {
  std::vector<std::uint8_t> v(256);
  for (int i = 0; i < 256; ++i) v[i] = static_cast<std::uint8_t>(i);
  return v;
}

inline core::Variant Dec(const char* text) {
  core::Decimal d;
  core::TryTextToDecimal(text, d);
  return core::Variant::FromDecimal(d);
}

inline core::Variant Cy(const char* text) {
  core::Currency c;
  core::TryTextToCurrency(text, c);
  return core::Variant::FromCurrency(c);
}

inline const std::string kCzech = "Žluťoučký kůň úpěl ďábelské ódy";

inline std::string LongMemo() {
  // 70,000 characters, not all Latin-1, so the value is stored as UCS-2 in a page chain.
  std::string s;
  for (int i = 0; i < 70000; ++i)
    s += (i % 7 == 0) ? "č" : std::string(1, static_cast<char>('a' + i % 26));
  return s;
}

// One table per column type: the values written, in row order.
struct TypeTable {
  std::string name;
  NewColumn column;
  std::vector<core::Variant> values;
};

inline std::vector<TypeTable> AllTypeTables() {
  using core::Variant;
  namespace ct = column_type;
  auto col = [](std::uint8_t type, std::uint16_t size = 255) {
    NewColumn c;
    c.name = "V";
    c.type = type;
    c.size = size;
    return c;
  };
  NewColumn dec = col(ct::kNumeric);
  dec.precision = 28;
  dec.scale = 4;
  std::vector<std::uint8_t> first255(255);
  for (int i = 0; i < 255; ++i) first255[i] = static_cast<std::uint8_t>(i);
  std::vector<std::uint8_t> big(70000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return {
      {"T_Boolean", col(ct::kBoolean), {Variant::FromBoolean(true), Variant::FromBoolean(false)}},
      {"T_Byte",
       col(ct::kByte),
       {Variant::FromByte(0), Variant::FromByte(255), Variant::FromByte(17), Variant::Null()}},
      {"T_Integer",
       col(ct::kInteger),
       {Variant::FromInteger(-32768), Variant::FromInteger(32767), Variant::FromInteger(0),
        Variant::Null()}},
      {"T_Long",
       col(ct::kLong),
       {Variant::FromLong(INT32_MIN), Variant::FromLong(INT32_MAX), Variant::FromLong(0),
        Variant::Null()}},
      {"T_Currency",
       col(ct::kCurrency),
       {Cy("-922337203685477.5808"), Cy("922337203685477.5807"), Cy("12.3456"), Cy("0"),
        Variant::Null()}},
      {"T_Single",
       col(ct::kSingle),
       {Variant::FromSingle(-3.4028235e38f), Variant::FromSingle(3.4028235e38f),
        Variant::FromSingle(1.17549435e-38f), Variant::FromSingle(1.5f), Variant::Null()}},
      {"T_Double",
       col(ct::kDouble),
       {Variant::FromDouble(-1.7976931348623157e308), Variant::FromDouble(1.7976931348623157e308),
        Variant::FromDouble(4.9406564584124654e-324), Variant::FromDouble(0.1), Variant::Null()}},
      {"T_DateTime",
       col(ct::kDateTime),
       {Variant::FromDate(0), Variant::FromDate(Date(1850, 1, 2, 3, 4, 5)),
        Variant::FromDate(Date(2150, 6, 7, 8, 9, 10)), Variant::FromDate(Date(100, 1, 1)),
        Variant::FromDate(Date(9999, 12, 31, 23, 59, 59)), Variant::Null()}},
      {"T_Binary",
       col(ct::kBinary, 255),
       {Bytes(first255), Bytes({0xFF}), Bytes({}), Variant::Null()}},
      {"T_Text",
       col(ct::kText, 255),
       {Variant::FromString(""), Variant::FromString(kCzech),
        Variant::FromString(std::string(255, 'x')), Variant::FromString("Жук"),
        Variant::FromString("a\tb\nc\"d,e €"), Variant::FromString("ab"), Variant::Null()}},
      {"T_LongBinary",
       col(ct::kOle),
       {Bytes(AllByteValues()), Bytes(big), Bytes({1, 2, 3}), Bytes({}), Variant::Null()}},
      {"T_Memo",
       col(ct::kMemo),
       {Variant::FromString(LongMemo()), Variant::FromString(kCzech), Variant::FromString(""),
        Variant::FromString(std::string(1000, 'y')), Variant::FromString(std::string(64, 'z')),
        Variant::FromString(std::string(3000, 'q') + "€"), Variant::Null()}},
      {"T_GUID",
       col(ct::kGuid),
       {Variant::FromString("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"),
        Variant::FromString("{00000000-0000-0000-0000-000000000000}"), Variant::Null()}},
      {"T_Decimal",
       dec,
       {Dec("999999999999999999999999.9999"), Dec("-999999999999999999999999.9999"), Dec("0"),
        Dec("1.5"), Dec("-0.0001"), Variant::Null()}},
  };
}

// Creates the all-types tables in `db` (column ID COUNTER, then V) and fills them.
inline void FillAllTypes(Database& db) {
  for (const auto& t : AllTypeTables()) {
    NewTable spec;
    spec.name = t.name;
    NewColumn id;
    id.name = "ID";
    id.type = column_type::kLong;
    id.auto_increment = true;
    spec.columns = {id, t.column};
    Table& table = db.CreateTable(spec);
    int v = table.ColumnIndex("V");
    for (const auto& value : t.values) {
      std::vector<core::Variant> row(2);
      row[v] = value;
      table.Insert(row);
    }
  }
}

}  // namespace jet::testing

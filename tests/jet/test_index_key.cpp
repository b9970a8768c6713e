// Index keys against known bytes: the vector file (most rows read from Access-made files),
// plus order properties that a wrong sign or complement rule would break.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "jet/index_key.h"
#include "jet/sort_order.h"
#include "test_index_util.h"

namespace {

using index_test::Hex;
using index_test::Unhex;
using index_test::Utf16;
using jet::KeyColumn;
using jet::KeyValue;
namespace kt = jet::key_type;

// --- a minimal reader for the JSON arrays of the vector file -------------------------

struct JsonValue {
  enum Kind { Null, String, Number, True, False } kind = Null;
  std::string text;  // string contents (UTF-8) or the number as written
};

std::vector<JsonValue> ParseJsonArray(const std::string& s) {
  std::vector<JsonValue> out;
  std::size_t i = 0;
  auto skip = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == ',')) ++i;
  };
  if (s.at(i++) != '[') throw std::runtime_error("not an array: " + s);
  for (skip(); s.at(i) != ']'; skip()) {
    JsonValue v;
    if (s[i] == '"') {
      v.kind = JsonValue::String;
      for (++i; s.at(i) != '"'; ++i) {
        if (s[i] != '\\') {
          v.text += s[i];
          continue;
        }
        const char e = s.at(++i);
        if (e == 'u') {
          const unsigned cp = std::stoul(s.substr(i + 1, 4), nullptr, 16);
          i += 4;
          if (cp < 0x80) {
            v.text += static_cast<char>(cp);
          } else if (cp < 0x800) {
            v.text += static_cast<char>(0xC0 | (cp >> 6));
            v.text += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            v.text += static_cast<char>(0xE0 | (cp >> 12));
            v.text += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            v.text += static_cast<char>(0x80 | (cp & 0x3F));
          }
        } else {
          const std::string from = "bfnrt", to = "\b\f\n\r\t";
          const auto k = from.find(e);
          v.text += k == std::string::npos ? e : to[k];
        }
      }
      ++i;
    } else if (s.compare(i, 4, "null") == 0) {
      i += 4;
    } else if (s.compare(i, 4, "true") == 0) {
      v.kind = JsonValue::True;
      i += 4;
    } else if (s.compare(i, 5, "false") == 0) {
      v.kind = JsonValue::False;
      i += 5;
    } else {
      v.kind = JsonValue::Number;
      while (i < s.size() && s[i] != ',' && s[i] != ']') v.text += s[i++];
    }
    out.push_back(v);
  }
  return out;
}

// --- row bytes of a value, written from the storage format, not from the key code -----

template <typename T>
std::vector<std::uint8_t> LittleEndian(T value) {
  std::vector<std::uint8_t> out(sizeof(T));
  std::memcpy(out.data(), &value, sizeof(T));  // the test machine is little-endian
  return out;
}

// "12.34" with `scale` places -> the unscaled integer as a magnitude and a sign.
std::pair<unsigned __int128, bool> ParseScaled(std::string text, int scale) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  std::string whole = text, frac;
  if (auto dot = text.find('.'); dot != std::string::npos) {
    whole = text.substr(0, dot);
    frac = text.substr(dot + 1);
  }
  frac.resize(scale, '0');
  unsigned __int128 v = 0;
  for (char c : whole + frac) v = v * 10 + static_cast<unsigned>(c - '0');
  return {v, negative};
}

struct TypedColumn {
  KeyColumn column;
  std::string name;
  int scale = 0;
};

TypedColumn ParseColumn(std::string spec) {
  TypedColumn c;
  if (spec.size() > 5 && spec.substr(spec.size() - 5) == " desc") {
    c.column.descending = true;
    spec.resize(spec.size() - 5);
  }
  c.name = spec;
  static const std::pair<const char*, std::uint8_t> types[] = {
      {"Boolean", kt::kBoolean}, {"Byte", kt::kByte},         {"Integer", kt::kInteger},
      {"Long", kt::kLong},       {"Currency", kt::kCurrency}, {"Single", kt::kSingle},
      {"Double", kt::kDouble},   {"DateTime", kt::kDateTime}, {"Binary", kt::kBinary},
      {"Text", kt::kText},       {"GUID", kt::kGuid}};
  for (auto [name, type] : types) {
    if (spec == name) c.column.type = type;
  }
  if (spec.rfind("Numeric(", 0) == 0) {
    c.column.type = kt::kNumeric;
    c.scale = std::stoi(spec.substr(spec.find(',') + 1));
  } else if (std::none_of(std::begin(types), std::end(types),
                          [&](auto t) { return spec == t.first; })) {
    throw std::runtime_error("unknown column type " + spec);
  }
  return c;
}

// Owns the bytes a KeyValue views.
struct OwnedValue {
  bool null = false;
  bool is_bool = false;
  bool boolean = false;
  std::vector<std::uint8_t> stored;
  std::u16string text;
  bool is_text = false;
  KeyValue View() const {
    if (null) return KeyValue::Null();
    if (is_bool) return KeyValue::Boolean(boolean);
    if (is_text) return KeyValue::Text(text);
    return KeyValue::Stored(stored);
  }
};

OwnedValue RowValue(const TypedColumn& c, const JsonValue& v) {
  OwnedValue out;
  if (v.kind == JsonValue::Null) {
    out.null = true;
    return out;
  }
  switch (c.column.type) {
    case kt::kBoolean:
      out.is_bool = true;
      out.boolean = v.kind == JsonValue::True;
      break;
    case kt::kByte:
      out.stored = {static_cast<std::uint8_t>(std::stoi(v.text))};
      break;
    case kt::kInteger:
      out.stored = LittleEndian(static_cast<std::int16_t>(std::stoi(v.text)));
      break;
    case kt::kLong:
      out.stored = LittleEndian(static_cast<std::int32_t>(std::stoll(v.text)));
      break;
    case kt::kSingle:
      out.stored = LittleEndian(std::stof(v.text));
      break;
    case kt::kDouble:
    case kt::kDateTime:
      out.stored = LittleEndian(std::stod(v.text));
      break;
    case kt::kCurrency: {
      auto [mag, neg] = ParseScaled(v.text, 4);
      const auto scaled = static_cast<std::int64_t>(mag);
      out.stored = LittleEndian(neg ? -scaled : scaled);
      break;
    }
    case kt::kNumeric: {
      auto [mag, neg] = ParseScaled(v.text, c.scale);
      out.stored.push_back(neg ? 0x80 : 0x00);
      for (int word = 3; word >= 0; --word) {
        auto w = LittleEndian(static_cast<std::uint32_t>(mag >> (32 * word)));
        out.stored.insert(out.stored.end(), w.begin(), w.end());
      }
      break;
    }
    case kt::kBinary:
      out.stored = Unhex(v.text.substr(2));
      break;
    case kt::kGuid: {
      std::string digits;
      for (char ch : v.text) {
        if (std::isxdigit(static_cast<unsigned char>(ch))) digits += ch;
      }
      auto b = Unhex(digits);
      // Row order: first three groups little-endian.
      std::reverse(b.begin(), b.begin() + 4);
      std::reverse(b.begin() + 4, b.begin() + 6);
      std::reverse(b.begin() + 6, b.begin() + 8);
      out.stored = b;
      break;
    }
    case kt::kText:
      out.is_text = true;
      out.text = Utf16(v.text);
      break;
  }
  return out;
}

struct Vector {
  std::string columns, values, key, status;
};

std::vector<Vector> LoadVectors() {
  std::ifstream in(index_test::DataPath("jet4-index-key-vectors.tsv"));
  std::vector<Vector> out;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    Vector v;
    std::getline(fields, v.columns, '\t');
    std::getline(fields, v.values, '\t');
    std::getline(fields, v.key, '\t');
    std::getline(fields, v.status, '\t');
    out.push_back(v);
  }
  return out;
}

TEST(IndexKey, EveryVectorEncodesToItsKnownBytes) {
  const auto vectors = LoadVectors();
  ASSERT_GT(vectors.size(), 200u);
  int observed = 0;
  for (const auto& v : vectors) {
    std::vector<TypedColumn> typed;
    std::stringstream specs(v.columns);
    for (std::string spec; std::getline(specs, spec, '|');) typed.push_back(ParseColumn(spec));
    const auto json = ParseJsonArray(v.values);
    ASSERT_EQ(json.size(), typed.size()) << v.columns << " " << v.values;
    std::vector<OwnedValue> owned;
    for (std::size_t i = 0; i < typed.size(); ++i) owned.push_back(RowValue(typed[i], json[i]));
    std::vector<KeyColumn> columns;
    std::vector<KeyValue> values;
    for (std::size_t i = 0; i < typed.size(); ++i) {
      columns.push_back(typed[i].column);
      values.push_back(owned[i].View());
    }
    EXPECT_EQ(Hex(jet::EncodeKey(columns, values)), v.key)
        << v.columns << " " << v.values << " (" << v.status << ")";
    observed += v.status == "observed";
  }
  EXPECT_GE(observed, 120);
}

// --- order properties --------------------------------------------------------------

std::vector<std::uint8_t> Key(std::uint8_t type, bool desc,
                              const std::vector<std::uint8_t>& stored) {
  KeyColumn c{type, desc};
  std::vector<std::uint8_t> key;
  jet::AppendKeySegment(c, KeyValue::Stored(stored), key);
  return key;
}

template <typename T, typename Gen>
void CheckNumericOrder(std::uint8_t type, Gen gen) {
  std::mt19937_64 rng(12345 + type);
  for (int i = 0; i < 20000; ++i) {
    const T a = gen(rng), b = gen(rng);
    for (bool desc : {false, true}) {
      const auto ka = Key(type, desc, LittleEndian(a)), kb = Key(type, desc, LittleEndian(b));
      const int cmp = std::lexicographical_compare(ka.begin(), ka.end(), kb.begin(), kb.end()) ? -1
                      : ka == kb                                                               ? 0
                                                                                               : 1;
      const int want = a < b ? -1 : (a == b ? 0 : 1);
      ASSERT_EQ(cmp, desc ? -want : want)
          << +type << " " << a << " vs " << b << (desc ? " desc" : "");
    }
  }
}

TEST(IndexKey, NumericKeysSortLikeTheirValuesBothWays) {
  CheckNumericOrder<std::int16_t>(kt::kInteger,
                                  [](auto& r) { return static_cast<std::int16_t>(r()); });
  CheckNumericOrder<std::int32_t>(kt::kLong,
                                  [](auto& r) { return static_cast<std::int32_t>(r()); });
  CheckNumericOrder<std::int64_t>(kt::kCurrency,
                                  [](auto& r) { return static_cast<std::int64_t>(r()); });
  CheckNumericOrder<std::uint8_t>(kt::kByte,
                                  [](auto& r) { return static_cast<std::uint8_t>(r()); });
  auto real = [](auto& r) {
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-300, 300);
    return std::ldexp(mantissa(r), exponent(r));
  };
  CheckNumericOrder<double>(kt::kDouble, real);
  CheckNumericOrder<double>(kt::kDateTime, [](auto& r) {
    return std::uniform_real_distribution<double>(-700000.0, 3000000.0)(r);
  });
  CheckNumericOrder<float>(kt::kSingle, [&](auto& r) {
    return static_cast<float>(std::ldexp(std::uniform_real_distribution<double>(-1, 1)(r),
                                         std::uniform_int_distribution<int>(-120, 120)(r)));
  });
}

TEST(IndexKey, NullsSortFirstAscendingAndLastDescending) {
  for (std::uint8_t type : {kt::kLong, kt::kText, kt::kBinary, kt::kDouble}) {
    for (bool desc : {false, true}) {
      KeyColumn c{type, desc};
      std::vector<std::uint8_t> null_key, value_key;
      jet::AppendKeySegment(c, KeyValue::Null(), null_key);
      const std::vector<std::uint8_t> zeros(type == kt::kDouble ? 8 : 4, 0);
      const std::u16string empty;
      jet::AppendKeySegment(c, type == kt::kText ? KeyValue::Text(empty) : KeyValue::Stored(zeros),
                            value_key);
      EXPECT_EQ(null_key < value_key, !desc) << +type;
    }
  }
}

TEST(IndexKey, BooleanNullCountsAsNo) {
  std::vector<std::uint8_t> null_key, no_key;
  jet::AppendKeySegment({kt::kBoolean, false}, KeyValue::Null(), null_key);
  jet::AppendKeySegment({kt::kBoolean, false}, KeyValue::Boolean(false), no_key);
  EXPECT_EQ(null_key, no_key);
}

TEST(IndexKey, RefusesWhatAKeyCannotHold) {
  const std::vector<std::uint8_t> three(3, 0);
  const std::u16string text = u"x";
  struct Case {
    KeyColumn column;
    KeyValue value;
    std::string message_part;
  } cases[] = {
      {{kt::kLong}, KeyValue::Stored(three), "4 bytes"},
      {{kt::kLong}, KeyValue::Text(text), "stored bytes"},
      {{kt::kText}, KeyValue::Stored(three), "text value"},
      {{kt::kOle}, KeyValue::Stored(three), "OLE Object column cannot"},
      {{kt::kText, false, {1038, 0}}, KeyValue::Text(text), "Hungarian (1038)"},
      {{kt::kMemo, true, {1041, 0}}, KeyValue::Null(), "Japanese (1041)"},
      {{kt::kText, false, {1033, 1}}, KeyValue::Text(text), "General (1033, version 1)"},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> key;
    try {
      jet::AppendKeySegment(c.column, c.value, key);
      ADD_FAILURE() << "accepted: " << c.message_part;
    } catch (const jet::KeyEncodingError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
    }
  }
  EXPECT_FALSE(jet::CanEncodeColumn({kt::kText, false, {1038, 0}}));
  EXPECT_TRUE(jet::CanEncodeColumn({kt::kText, false, {1029, 0}}));
  EXPECT_TRUE(jet::CanEncodeColumn({kt::kLong, false, {1038, 0}}));
  EXPECT_THROW(
      jet::EncodeKey(std::vector<KeyColumn>(1), std::vector<KeyValue>(2, KeyValue::Null())),
      jet::KeyEncodingError);
}

}  // namespace

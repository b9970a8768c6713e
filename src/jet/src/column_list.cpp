#include "jet/column_list.h"

#include <cctype>
#include <charconv>
#include <vector>

#include "core/errors.h"

namespace jet {
namespace {

// A column list the lexer cannot read further; ParseColumnList turns it into a JetError that
// names the column definition.
class LexError : public core::Exception {
 public:
  using core::Exception::Exception;
};

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  void SkipSpace() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
  }
  bool AtEnd() {
    SkipSpace();
    return pos_ >= text_.size();
  }
  char Peek() {
    SkipSpace();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  bool Accept(char c) {
    if (Peek() != c) return false;
    ++pos_;
    return true;
  }
  // A bare word or a [bracketed name]; empty when there is none.
  std::string Name(bool* bracketed = nullptr) {
    SkipSpace();
    if (bracketed) *bracketed = false;
    if (pos_ < text_.size() && text_[pos_] == '[') {
      std::string out;
      ++pos_;
      while (pos_ < text_.size()) {
        if (text_[pos_] == ']') {
          if (pos_ + 1 < text_.size() && text_[pos_ + 1] == ']') {
            out += ']';
            pos_ += 2;
            continue;
          }
          ++pos_;
          if (bracketed) *bracketed = true;
          return out;
        }
        out += text_[pos_++];
      }
      throw LexError("a name in brackets is not closed");
    }
    std::size_t start = pos_;
    while (pos_ < text_.size()) {
      unsigned char c = static_cast<unsigned char>(text_[pos_]);
      if (std::isalnum(c) || c == '_' || c >= 0x80)
        ++pos_;
      else
        break;
    }
    return std::string(text_.substr(start, pos_ - start));
  }
  int Number() {
    SkipSpace();
    int v = 0;
    auto [end, ec] = std::from_chars(text_.data() + pos_, text_.data() + text_.size(), v);
    if (ec != std::errc()) throw LexError("a number is expected");
    pos_ = static_cast<std::size_t>(end - text_.data());
    return v;
  }
  // The rest of one column definition (up to a comma outside parentheses), for messages.
  std::string_view Rest() const { return text_.substr(pos_); }
  std::string Quoted() {
    SkipSpace();
    char q = text_[pos_];
    std::string out;
    ++pos_;
    while (pos_ < text_.size()) {
      if (text_[pos_] == q) {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == q) {
          out += q;
          pos_ += 2;
          continue;
        }
        ++pos_;
        return out;
      }
      out += text_[pos_++];
    }
    throw LexError("a quoted value is not closed");
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

struct TypeWord {
  const char* word;
  std::uint8_t type;
  bool counter;
};

constexpr TypeWord kTypes[] = {
    {"BIT", column_type::kBoolean, false},       {"YESNO", column_type::kBoolean, false},
    {"BOOLEAN", column_type::kBoolean, false},   {"LOGICAL", column_type::kBoolean, false},
    {"BYTE", column_type::kByte, false},         {"TINYINT", column_type::kByte, false},
    {"SHORT", column_type::kInteger, false},     {"SMALLINT", column_type::kInteger, false},
    {"INTEGER2", column_type::kInteger, false},  {"LONG", column_type::kLong, false},
    {"INT", column_type::kLong, false},          {"INTEGER", column_type::kLong, false},
    {"INTEGER4", column_type::kLong, false},     {"COUNTER", column_type::kLong, true},
    {"AUTOINCREMENT", column_type::kLong, true}, {"CURRENCY", column_type::kCurrency, false},
    {"MONEY", column_type::kCurrency, false},    {"SINGLE", column_type::kSingle, false},
    {"REAL", column_type::kSingle, false},       {"FLOAT4", column_type::kSingle, false},
    {"IEEESINGLE", column_type::kSingle, false}, {"DOUBLE", column_type::kDouble, false},
    {"FLOAT", column_type::kDouble, false},      {"FLOAT8", column_type::kDouble, false},
    {"IEEEDOUBLE", column_type::kDouble, false}, {"NUMBER", column_type::kDouble, false},
    {"DATETIME", column_type::kDateTime, false}, {"DATE", column_type::kDateTime, false},
    {"TIME", column_type::kDateTime, false},     {"TIMESTAMP", column_type::kDateTime, false},
    {"BINARY", column_type::kBinary, false},     {"VARBINARY", column_type::kBinary, false},
    {"TEXT", column_type::kText, false},         {"CHAR", column_type::kText, false},
    {"VARCHAR", column_type::kText, false},      {"STRING", column_type::kText, false},
    {"ALPHANUMERIC", column_type::kText, false}, {"CHARACTER", column_type::kText, false},
    {"MEMO", column_type::kMemo, false},         {"LONGTEXT", column_type::kMemo, false},
    {"LONGCHAR", column_type::kMemo, false},     {"NOTE", column_type::kMemo, false},
    {"LONGBINARY", column_type::kOle, false},    {"OLEOBJECT", column_type::kOle, false},
    {"GENERAL", column_type::kOle, false},       {"IMAGE", column_type::kOle, false},
    {"GUID", column_type::kGuid, false},         {"UNIQUEIDENTIFIER", column_type::kGuid, false},
    {"DECIMAL", column_type::kNumeric, false},   {"NUMERIC", column_type::kNumeric, false},
    {"DEC", column_type::kNumeric, false},
};

}  // namespace

void ParseColumnList(std::string_view text, NewTable& spec) {
  Lexer lex(text);
  int position = 0;
  auto fail = [&](const std::string& why) {
    ThrowJet(ErrorCode::kInvalidDefinition, "column definition " + std::to_string(position) + " (" +
                                                std::string(lex.Rest().substr(0, 40)) +
                                                "): " + why);
  };
  try {
    if (lex.AtEnd()) fail("no columns are given");
    while (true) {
      ++position;
      NewColumn col;
      col.name = lex.Name();
      if (col.name.empty()) fail("a column name is expected");
      std::string word = Upper(lex.Name());
      if (word.empty()) fail("column '" + col.name + "' has no type");
      const TypeWord* type = nullptr;
      for (const auto& t : kTypes)
        if (word == t.word) type = &t;
      if (!type) fail("column '" + col.name + "': unknown type '" + word + "'");
      col.type = type->type;
      col.auto_increment = type->counter;
      if (col.type == column_type::kNumeric) {
        col.precision = 18;
        col.scale = 0;
      }
      if (lex.Accept('(')) {
        int a = lex.Number();
        int b = -1;
        if (lex.Accept(',')) b = lex.Number();
        if (!lex.Accept(')')) fail("')' is expected");
        if (col.type == column_type::kText || col.type == column_type::kBinary) {
          if (a < 1 || a > 255 || b >= 0)
            fail("column '" + col.name + "': the size must be 1 to 255");
          col.size = static_cast<std::uint16_t>(a);
        } else if (col.type == column_type::kNumeric) {
          if (a < 1 || a > 28 || b > a)
            fail("column '" + col.name + "': DECIMAL(precision 1-28, scale)");
          col.precision = static_cast<std::uint8_t>(a);
          col.scale = static_cast<std::uint8_t>(b < 0 ? 0 : b);
        } else if (!col.auto_increment) {
          fail("column '" + col.name + "': type " + word + " takes no size");
        }
      }
      // Constraints and options.
      while (!lex.AtEnd() && lex.Peek() != ',') {
        std::string opt = Upper(lex.Name());
        if (opt == "NOT") {
          if (Upper(lex.Name()) != "NULL") fail("NOT must be followed by NULL");
          col.required = true;
        } else if (opt == "NULL") {
          col.required = false;
        } else if (opt == "PRIMARY") {
          if (Upper(lex.Name()) != "KEY") fail("PRIMARY must be followed by KEY");
          spec.indexes.push_back(
              NewIndex{"PrimaryKey", {{col.name, true}}, true, true, false, true});
        } else if (opt == "UNIQUE") {
          spec.indexes.push_back(NewIndex{col.name, {{col.name, true}}, false, true, false, false});
        } else if (opt == "WITH") {
          std::string what = Upper(lex.Name());
          if (what != "COMPRESSION" && what != "COMP") fail("WITH COMPRESSION is expected");
          col.unicode_compression = true;
        } else if (opt == "DEFAULT") {
          char q = lex.Peek();
          if (q == '\'' || q == '"') {
            std::string v = lex.Quoted();
            col.default_value = "\"" + v + "\"";
          } else {
            std::string v = lex.Name();
            if (v.empty()) {
              if (lex.Accept('-')) v = "-" + lex.Name();
            }
            if (v.empty()) fail("a default value is expected");
            col.default_value = v;
          }
        } else if (opt.empty()) {
          fail("unexpected text");
        } else {
          fail("unknown option '" + opt + "'");
        }
      }
      spec.columns.push_back(std::move(col));
      if (lex.AtEnd()) break;
      if (!lex.Accept(',')) fail("',' is expected");
    }
  } catch (const LexError& e) {
    fail(e.what());
  }
}

std::string ColumnTypeDdl(const ColumnDefinition& c) {
  switch (c.type) {
    case column_type::kBoolean:
      return "BIT";
    case column_type::kByte:
      return "BYTE";
    case column_type::kInteger:
      return "SHORT";
    case column_type::kLong:
      return c.IsAutoNumber() ? "COUNTER" : "LONG";
    case column_type::kCurrency:
      return "CURRENCY";
    case column_type::kSingle:
      return "SINGLE";
    case column_type::kDouble:
      return "DOUBLE";
    case column_type::kDateTime:
      return "DATETIME";
    case column_type::kBinary:
      return "BINARY(" + std::to_string(c.length) + ")";
    case column_type::kText:
      return "TEXT(" + std::to_string(c.length / 2) + ")";
    case column_type::kOle:
      return "LONGBINARY";
    case column_type::kMemo:
      return "MEMO";
    case column_type::kGuid:
      return "GUID";
    case column_type::kNumeric:
      return "DECIMAL(" + std::to_string(c.Precision()) + "," + std::to_string(c.Scale()) + ")";
  }
  return ColumnTypeName(c.type);
}

std::string QuoteName(std::string_view name) {
  std::string out = "[";
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

}  // namespace jet

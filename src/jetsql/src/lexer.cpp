#include "lexer.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

#include "dates.h"

namespace jetsql::detail {
namespace {

bool IsNameStart(unsigned char c) {
  return std::isalpha(c) || c == '_' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
  return std::isalnum(c) || c == '_' || c >= 0x80;
}

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void Fail(std::string_view phrase, std::size_t position) {
  throw SyntaxError{std::string(phrase), position};
}

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  std::vector<Token> Run() {
    std::vector<Token> out;
    while (true) {
      while (pos_ < text_.size() && IsBlank(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      if (pos_ >= text_.size()) break;
      const std::size_t start = pos_;
      try {
        out.push_back(Next(out.empty() ? nullptr : &out.back()));
      } catch (const SyntaxError& e) {
        Token bad;
        bad.kind = TokenKind::kError;
        bad.begin = start < e.position ? start : e.position;
        bad.end = text_.size();
        bad.text = e.phrase;
        out.push_back(std::move(bad));
        break;
      }
    }
    Token end;
    end.kind = TokenKind::kEnd;
    end.begin = end.end = text_.size();
    out.push_back(std::move(end));
    return out;
  }

 private:
  Token Next(const Token* previous) {
    Token t;
    t.begin = pos_;
    const unsigned char c = static_cast<unsigned char>(text_[pos_]);
    if (IsNameStart(c)) {
      while (pos_ < text_.size() && IsNameChar(static_cast<unsigned char>(text_[pos_]))) ++pos_;
      t.kind = TokenKind::kWord;
      t.text = std::string(text_.substr(t.begin, pos_ - t.begin));
    } else if (c == '[') {
      ReadBracketName(t);
    } else if (c == '"' || c == '\'') {
      ReadString(t, static_cast<char>(c));
    } else if (std::isdigit(c) || (c == '.' && pos_ + 1 < text_.size() &&
                                   std::isdigit(static_cast<unsigned char>(text_[pos_ + 1])) &&
                                   !FollowsName(previous))) {
      ReadNumber(t);
    } else if (c == '#') {
      ReadDate(t);
    } else if (c == '{') {
      ReadGuid(t);
    } else {
      ReadSymbol(t);
    }
    t.end = pos_;
    return t;
  }

  // "T.5" never occurs, but "[T].[5]" and "T.col" do: a '.' right after a name is a qualifier.
  static bool FollowsName(const Token* previous) {
    return previous != nullptr &&
           (previous->kind == TokenKind::kWord || previous->kind == TokenKind::kBracketName ||
            (previous->kind == TokenKind::kSymbol && previous->text == ")"));
  }

  void ReadBracketName(Token& t) {
    const std::size_t close = text_.find(']', pos_ + 1);
    if (close == std::string_view::npos) Fail(kMissingParen, pos_);
    t.kind = TokenKind::kBracketName;
    t.text = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
    if (t.text.empty() || t.text.find('[') != std::string::npos) {
      Fail("Invalid bracketing of name '" + std::string(text_.substr(pos_, close + 1 - pos_)) + "'",
           pos_);
    }
    pos_ = close + 1;
  }

  void ReadString(Token& t, char quote) {
    ++pos_;
    std::string value;
    while (true) {
      if (pos_ >= text_.size()) Fail(kBadString, t.begin);
      const char c = text_[pos_++];
      if (c == quote) {
        if (pos_ < text_.size() && text_[pos_] == quote) {
          value += quote;
          ++pos_;
          continue;
        }
        break;
      }
      value += c;
    }
    t.kind = TokenKind::kString;
    t.text = std::move(value);
  }

  void ReadNumber(Token& t) {
    const std::size_t start = pos_;
    bool is_float = false;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      is_float = true;
      ++pos_;
      while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    }
    if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
      std::size_t k = pos_ + 1;
      if (k < text_.size() && (text_[k] == '+' || text_[k] == '-')) ++k;
      if (k < text_.size() && std::isdigit(static_cast<unsigned char>(text_[k]))) {
        is_float = true;
        pos_ = k;
        while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
          ++pos_;
        }
      }
    }
    // "12abc" is neither a number nor a name.
    if (pos_ < text_.size() && IsNameChar(static_cast<unsigned char>(text_[pos_]))) {
      Fail(kMissingOperator, start);
    }
    const std::string digits(text_.substr(start, pos_ - start));
    if (!is_float) {
      // Up to 18 digits always fit; longer integers become floats.
      std::size_t first = digits.find_first_not_of('0');
      if (first == std::string::npos) first = digits.size();
      if (digits.size() - first <= 18) {
        t.kind = TokenKind::kInteger;
        t.integer = std::strtoll(digits.c_str(), nullptr, 10);
        t.number = static_cast<double>(t.integer);
        t.text = digits;
        return;
      }
    }
    t.kind = TokenKind::kFloat;
    t.number = std::strtod(digits.c_str(), nullptr);
    if (!std::isfinite(t.number)) Fail(kBadNumber, start);
    t.text = digits;
  }

  void ReadDate(Token& t) {
    const std::size_t close = text_.find('#', pos_ + 1);
    if (close == std::string_view::npos) Fail(kBadDate, pos_);
    double value = 0;
    if (!ParseDateText(text_.substr(pos_ + 1, close - pos_ - 1), value)) Fail(kBadDate, pos_);
    t.kind = TokenKind::kDate;
    t.number = value;
    t.text = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
    pos_ = close + 1;
  }

  // {guid {12345678-90AB-CDEF-1234-567890ABCDEF}}
  void ReadGuid(Token& t) {
    const std::size_t start = pos_;
    std::size_t k = pos_ + 1;
    auto skip_blanks = [&] {
      while (k < text_.size() && IsBlank(static_cast<unsigned char>(text_[k]))) ++k;
    };
    skip_blanks();
    if (text_.size() - k < 4) Fail(kBadGuid, start);
    std::string word(text_.substr(k, 4));
    for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (word != "guid") Fail(kBadGuid, start);
    k += 4;
    skip_blanks();
    if (k >= text_.size() || text_[k] != '{') Fail(kBadGuid, start);
    ++k;
    // 8-4-4-4-12 hexadecimal digits.
    static constexpr int kGroups[5] = {8, 4, 4, 4, 12};
    std::uint8_t raw[16];
    int byte = 0;
    for (int g = 0; g < 5; ++g) {
      if (g > 0) {
        if (k >= text_.size() || text_[k] != '-') Fail(kBadGuid, start);
        ++k;
      }
      for (int i = 0; i < kGroups[g]; i += 2) {
        if (k + 1 >= text_.size()) Fail(kBadGuid, start);
        const int hi = HexValue(text_[k]), lo = HexValue(text_[k + 1]);
        if (hi < 0 || lo < 0) Fail(kBadGuid, start);
        raw[byte++] = static_cast<std::uint8_t>(hi * 16 + lo);
        k += 2;
      }
    }
    if (k >= text_.size() || text_[k] != '}') Fail(kBadGuid, start);
    ++k;
    skip_blanks();
    if (k >= text_.size() || text_[k] != '}') Fail(kBadGuid, start);
    ++k;
    // Rows keep the first three groups little-endian, the rest as written.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (int i = 0; i < 16; ++i) t.guid[i] = raw[kOrder[i]];
    t.kind = TokenKind::kGuid;
    t.text = std::string(text_.substr(start, k - start));
    pos_ = k;
  }

  void ReadSymbol(Token& t) {
    const char c = text_[pos_];
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    t.kind = TokenKind::kSymbol;
    if ((c == '<' && (next == '>' || next == '=')) || (c == '>' && next == '=')) {
      t.text = std::string{c, next};
      pos_ += 2;
      return;
    }
    // "=<", "=>" and "><" are accepted by Jet as the same operators written the other way.
    if ((c == '=' && (next == '<' || next == '>')) || (c == '>' && next == '<')) {
      t.text = c == '>' ? "<>" : std::string{next, c};
      pos_ += 2;
      return;
    }
    static constexpr std::string_view kSingles = "(),;.!=<>+-*/\\^&";
    if (kSingles.find(c) == std::string_view::npos) Fail(kInvalidCharacter, pos_);
    t.text = std::string(1, c);
    ++pos_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view text) {
  return Lexer(text).Run();
}

bool IsKeyword(const Token& token, std::string_view keyword) {
  if (token.kind != TokenKind::kWord || token.text.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(token.text[i])) !=
        std::toupper(static_cast<unsigned char>(keyword[i]))) {
      return false;
    }
  }
  return true;
}

bool IsSymbol(const Token& token, std::string_view symbol) {
  return token.kind == TokenKind::kSymbol && token.text == symbol;
}

}  // namespace jetsql::detail

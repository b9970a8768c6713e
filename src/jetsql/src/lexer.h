// Tokens of Jet SQL text. Private to the layer.
//
// The lexer reads the whole text at once into a token list so the parser can look ahead
// freely. Names keep their spelling (keywords are recognised by the parser, and only in bare
// names, never in brackets). Literals are decoded here: strings with their doubled quotes
// undone, dates between # signs to date-time numbers, {guid {...}} to sixteen bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jetsql::detail {

enum class TokenKind : std::uint8_t {
  kEnd,
  kWord,         // a bare name or keyword: letters, digits, '_' and non-ASCII characters
  kBracketName,  // [any text]
  kString,       // "..." or '...'
  kInteger,      // digits only, fits in 64 bits
  kFloat,        // digits with a fraction or an exponent
  kDate,         // #...#
  kGuid,         // {guid {...}}
  kSymbol,       // punctuation and operators: ( ) , ; . ! = <> < <= > >= + - * / \ ^ &
  kError,        // text that cannot be read: `text` is the phrase, the token runs to the end
};

struct Token {
  TokenKind kind = TokenKind::kEnd;
  std::size_t begin = 0;  // byte offsets into the source text
  std::size_t end = 0;
  std::string text;  // the name, the string's content or the symbol
  std::int64_t integer = 0;
  double number = 0;                    // float value or date-time
  std::array<std::uint8_t, 16> guid{};  // as stored in a row: first three groups little-endian
};

// A syntax error found while reading text: the phrase DAO puts before "in query expression"
// ("Syntax error in string", "Missing ), ], or Item", ...) and where it was found.
struct SyntaxError {
  std::string phrase;
  std::size_t position = 0;
};

// Phrases DAO uses.
inline constexpr std::string_view kMissingOperator = "Syntax error (missing operator)";
inline constexpr std::string_view kBadString = "Syntax error in string";
inline constexpr std::string_view kBadDate = "Syntax error in date";
inline constexpr std::string_view kBadNumber = "Syntax error in number";
inline constexpr std::string_view kBadGuid = "Malformed GUID";
inline constexpr std::string_view kComma = "Syntax error (comma)";
inline constexpr std::string_view kExtraParen = "Extra )";
inline constexpr std::string_view kMissingParen = "Missing ), ], or Item";
inline constexpr std::string_view kBadDot = "Invalid use of '.', '!', or '()'";
inline constexpr std::string_view kInWithoutParens = "In operator without ()";
inline constexpr std::string_view kBetweenWithoutAnd = "Between operator without And";
inline constexpr std::string_view kWrongArgumentCount =
    "Wrong number of arguments used with function";
inline constexpr std::string_view kInvalidCharacter = "Invalid character";

// Reads every token of `text`; the list ends with a kEnd token at text.size(). Text that
// cannot be read becomes one kError token (the parser reports it with the clause it is in).
std::vector<Token> Tokenize(std::string_view text);

// True for a bare word equal to `keyword` (ASCII, case-insensitive).
bool IsKeyword(const Token& token, std::string_view keyword);
bool IsSymbol(const Token& token, std::string_view symbol);

}  // namespace jetsql::detail

// LIKE patterns as DAO (ANSI-89) has them: * any run, ? one character, # one digit,
// [abc] [a-z] [!a-z] one character from (or not from) a set; [*] [?] [#] [[] are the
// characters themselves; % and _ are ordinary characters. Matching covers the whole text and
// ignores case by the database's sort order; ranges are ranges of that order. Private to the
// layer.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace jetsql::detail {

class LikePattern {
 public:
  // Raises SqlError 93 ("Invalid pattern string.") for an unclosed [ or a range written
  // backwards ([z-a]).
  explicit LikePattern(std::string_view pattern);
  bool Matches(std::string_view text) const;

 private:
  struct Range {
    std::string low, high;  // character keys, inclusive
  };
  struct Element {
    enum Kind : unsigned char { kChar, kAny, kMany, kDigit, kSet, kEmpty } kind;
    char16_t unit = 0;
    bool negated = false;
    std::vector<char16_t> units;  // single characters of a set
    std::vector<Range> ranges;
  };
  bool Match(const Element& e, char16_t c) const;

  std::vector<Element> elements_;
};

// Whether two UTF-16 units are the same character by the sort order (case ignored).
bool SameCharacter(char16_t a, char16_t b);

}  // namespace jetsql::detail

// Text comparison as Jet does it in expressions, sorts and LIKE: by the database's sort order,
// without regard to case. We compare General-order sort keys, the same keys the index layer
// writes, so a WHERE on text selects exactly the rows an index on that text would find, and
// ORDER BY agrees with an index scan. Accents count (second level), case does not, trailing
// blanks do not.
//
// A sort key covers at most 255 UTF-16 units; longer texts are compared in successive
// 255-unit pieces, each piece by its own key, so no difference is lost past the key limit.
#pragma once

#include <string>
#include <string_view>

namespace jetsql {

// -1, 0 or 1 as a sorts before, equal to or after b (UTF-8 texts).
int CompareText(std::string_view a, std::string_view b);
inline bool TextEqual(std::string_view a, std::string_view b) {
  return CompareText(a, b) == 0;
}

// Appends bytes whose memcmp order is CompareText's order; two texts with equal keys compare
// equal. Used to sort many rows without recomputing keys per comparison.
void AppendTextSortKey(std::string_view utf8, std::string& out);

// One character's key (case-free) for LIKE; `unit` is a UTF-16 code unit.
const std::string& CharacterKey(char16_t unit);

}  // namespace jetsql

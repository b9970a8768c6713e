// Text comparison as Jet does it in expressions, sorts and LIKE: by the database's sort order,
// without regard to case. We compare sort keys of that order, the same keys the index layer
// writes, so a WHERE on text selects exactly the rows an index on that text would find, and
// ORDER BY agrees with an index scan. Accents count (second level), case does not, trailing
// blanks do not.
//
// The order is the calling thread's current one: General, unless a CollationScope names
// another. Compiled expressions, sorts and query results remember the order of the columns
// they were made over and set it while they evaluate. An order whose keys we do not build
// (Hungarian, say) compares as General, as does a text holding a character the order has no
// key for.
//
// A sort key covers at most 255 UTF-16 units; longer texts are compared in successive
// 255-unit pieces, each piece by its own key, so no difference is lost past the key limit.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "jet/sort_order.h"
#include "jetsql/types.h"

namespace jetsql {

// The order text compares in on this thread.
jet::SortOrder CurrentCollation();

// Sets the thread's order until it goes (and restores the one before).
class CollationScope {
 public:
  explicit CollationScope(jet::SortOrder order);
  ~CollationScope();
  CollationScope(const CollationScope&) = delete;
  CollationScope& operator=(const CollationScope&) = delete;

 private:
  jet::SortOrder saved_;
};

// The order of an expression over these columns: the first one in a national order, else
// General.
jet::SortOrder CollationOf(const std::vector<ColumnInfo>& columns);

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

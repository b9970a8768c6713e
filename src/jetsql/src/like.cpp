#include "like.h"

#include "core/encoding.h"
#include "jetsql/collation.h"
#include "jetsql/errors.h"

namespace jetsql::detail {
namespace {

bool IsAsciiLetter(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

char16_t AsciiLower(char16_t c) {
  return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

[[noreturn]] void InvalidPattern() {
  ThrowError(dao_error::kInvalidPattern);
}

}  // namespace

bool SameCharacter(char16_t a, char16_t b) {
  if (a == b) return true;
  if (a < 0x80 && b < 0x80) {
    return IsAsciiLetter(a) && IsAsciiLetter(b) && AsciiLower(a) == AsciiLower(b);
  }
  // Characters without a key of their own (ignored ones) never stand for anything else.
  const std::string& ka = CharacterKey(a);
  const std::string& kb = CharacterKey(b);
  return ka.size() > 2 && ka == kb;
}

LikePattern::LikePattern(std::string_view pattern) {
  const std::u16string p = core::Utf8ToUtf16(pattern);
  for (std::size_t i = 0; i < p.size(); ++i) {
    const char16_t c = p[i];
    Element e{};
    switch (c) {
      case u'*':
        // Runs of * are one *.
        if (!elements_.empty() && elements_.back().kind == Element::kMany) continue;
        e.kind = Element::kMany;
        break;
      case u'?':
        e.kind = Element::kAny;
        break;
      case u'#':
        e.kind = Element::kDigit;
        break;
      case u'[': {
        std::size_t k = i + 1;
        if (k < p.size() && p[k] == u']') {  // [] matches nothing
          e.kind = Element::kEmpty;
          i = k;
          break;
        }
        e.kind = Element::kSet;
        if (k < p.size() && p[k] == u'!' && k + 1 < p.size() && p[k + 1] != u']') {
          e.negated = true;
          ++k;
        }
        const std::size_t first = k;
        while (k < p.size() && p[k] != u']') {
          const char16_t lo = p[k];
          // A '-' first or last in the set is the character itself.
          if (k + 2 < p.size() && p[k + 1] == u'-' && p[k + 2] != u']' &&
              !(k == first && lo == u'-')) {
            const char16_t hi = p[k + 2];
            const std::string& klo = CharacterKey(lo);
            const std::string& khi = CharacterKey(hi);
            if (khi < klo) InvalidPattern();
            e.ranges.push_back(Range{klo, khi});
            k += 3;
          } else {
            e.units.push_back(lo);
            ++k;
          }
        }
        if (k >= p.size()) InvalidPattern();
        i = k;
        break;
      }
      default:
        e.kind = Element::kChar;
        e.unit = c;
        break;
    }
    elements_.push_back(std::move(e));
  }
}

bool LikePattern::Match(const Element& e, char16_t c) const {
  switch (e.kind) {
    case Element::kChar:
      return SameCharacter(e.unit, c);
    case Element::kAny:
      return true;
    case Element::kDigit:
      return c >= u'0' && c <= u'9';
    case Element::kSet: {
      bool in = false;
      for (char16_t u : e.units) {
        if (SameCharacter(u, c)) {
          in = true;
          break;
        }
      }
      if (!in && !e.ranges.empty()) {
        const std::string& key = CharacterKey(c);
        for (const Range& r : e.ranges) {
          if (key >= r.low && key <= r.high) {
            in = true;
            break;
          }
        }
      }
      return in != e.negated;
    }
    default:
      return false;
  }
}

bool LikePattern::Matches(std::string_view text_utf8) const {
  const std::u16string text = core::Utf8ToUtf16(text_utf8);
  // Elements that take no character are dropped for matching; each of the others takes
  // exactly one, except *, so the usual backtracking over the last * is enough.
  std::vector<const Element*> el;
  el.reserve(elements_.size());
  for (const Element& e : elements_) {
    if (e.kind != Element::kEmpty) el.push_back(&e);
  }
  std::size_t t = 0, p = 0;
  std::size_t star = std::string::npos, star_t = 0;
  while (t < text.size()) {
    if (p < el.size() && el[p]->kind != Element::kMany && Match(*el[p], text[t])) {
      ++t;
      ++p;
    } else if (p < el.size() && el[p]->kind == Element::kMany) {
      star = p++;
      star_t = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++star_t;
    } else {
      return false;
    }
  }
  while (p < el.size() && el[p]->kind == Element::kMany) ++p;
  return p == el.size();
}

}  // namespace jetsql::detail

// Guessing the code page of a table that names none.
//
// Each candidate page reads the sampled bytes; the reading is scored for how much it looks
// like text of a language the page was made for: letters of that language inside words,
// case as words have it (no capital after a small letter), box drawing standing apart from
// letters, no control characters, no symbols inside words, no letter tripled. Pages that
// read every sampled byte alike cannot be told apart and need not be: they give the same
// text. A guess must beat every page that reads the bytes differently by a clear margin,
// else the table's text is left to the configured default.
#include <algorithm>
#include <array>

#include "bde/code_pages.h"
#include "core/encoding.h"

namespace bde {
namespace {

enum Language : unsigned {
  kCzech = 1u << 0,
  kSlovak = 1u << 1,
  kPolish = 1u << 2,
  kHungarian = 1u << 3,
  kSlovene = 1u << 4,  // and Croatian
  kRomanian = 1u << 5,
  kGerman = 1u << 6,
  kFrench = 1u << 7,
  kPortuguese = 1u << 8,
  kSpanish = 1u << 9,
  kNordic = 1u << 10,
  kRussian = 1u << 11,
  kUkrainian = 1u << 12,  // and Belarusian
  kCatalan = 1u << 13,
  kItalian = 1u << 14,
  kLanguageCount = 15,
};

// The small letters each language writes beyond ASCII.
constexpr std::u16string_view kLetters[kLanguageCount] = {
    u"áčďéěíňóřšťúůýž",
    u"áäčďéíĺľňóôŕšťúýž",
    u"ąćęłńóśźż",
    u"áéíóöőúüű",
    u"čćđšž",
    u"ăâîşţșț",
    u"äöüß",
    u"àâçéèêëîïôùûüÿœæ",
    u"áàâãçéêíóôõú",
    u"áéíóúñü",
    u"åæøäöéðþý",
    u"абвгдеёжзийклмнопрстуфхцчшщъыьэюя",
    u"абвгґдеєжзиіїйклмнопрстуўфхцчшщьюя",
    u"àçèéíïòóúü",
    u"àèéìíîòóù",
};

struct Candidate {
  int code_page;
  unsigned languages;
};

// In the order ties between pages that read the sample alike are settled (after the
// configured default): DOS before Windows, Latin before Central European before Cyrillic.
constexpr Candidate kCandidates[] = {
    {437, kGerman | kFrench | kSpanish | kNordic | kCatalan | kItalian},
    {850, kGerman | kFrench | kPortuguese | kSpanish | kNordic | kCatalan | kItalian},
    {852, kCzech | kSlovak | kPolish | kHungarian | kSlovene | kRomanian | kGerman},
    {866, kRussian | kUkrainian},
    {895, kCzech | kSlovak | kGerman},
    {1250, kCzech | kSlovak | kPolish | kHungarian | kSlovene | kRomanian | kGerman},
    {1251, kRussian | kUkrainian},
    {1252, kGerman | kFrench | kPortuguese | kSpanish | kNordic | kCatalan | kItalian},
};

bool IsUpper(char32_t c) {
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 0xC0 && c <= 0xDE) return c != 0xD7;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 1;
  if (c >= 0x100 && c <= 0x177) return c % 2 == 0 && c != 0x138;
  if (c == 0x178 || c == 0x218 || c == 0x21A) return true;
  if (c >= 0x391 && c <= 0x3A9) return true;
  return c >= 0x400 && c <= 0x42F;
}

bool IsLetter(char32_t c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c >= 0xC0 && c <= 0xFF) return c != 0xD7 && c != 0xF7;
  if (c >= 0x100 && c <= 0x24F) return true;
  if (c >= 0x391 && c <= 0x3C9) return true;
  return c >= 0x400 && c <= 0x45F;
}

char32_t ToLower(char32_t c) {
  if (!IsUpper(c)) return c;
  if (c < 0x80 || (c >= 0xC0 && c <= 0xDE)) return c + 0x20;
  if (c == 0x178) return 0xFF;
  if (c >= 0x100 && c <= 0x24F) return c + 1;
  if (c >= 0x391 && c <= 0x3A9) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  return c + 0x20;
}

bool IsAsciiLetter(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsOtherScript(char32_t c) {
  return c >= 0x370 && c <= 0x4FF;
}

bool IsBoxDrawing(char32_t c) {
  return c >= 0x2500 && c <= 0x25FF;
}

bool IsControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0xF000 && c <= 0xF0FF) || c == 0xFFFD;
}

// A value whose only fault is a character cut at its end (a writer filling a field byte by
// byte) still counts as UTF-8.
bool LooksUtf8(std::string_view value) {
  if (core::IsValidUtf8(value)) return true;
  for (std::size_t cut = 1; cut <= 3 && cut < value.size(); ++cut) {
    const auto lead = static_cast<unsigned char>(value[value.size() - cut]);
    if (lead < 0xC0) continue;
    const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    const std::string_view whole = value.substr(0, value.size() - cut);
    // The rest must hold a character of its own: one lone byte above 127 proves nothing.
    bool multibyte = false;
    for (unsigned char c : whole) multibyte |= c >= 0x80;
    return need > cut && multibyte && core::IsValidUtf8(whole);
  }
  return false;
}

struct Scores {
  long common = 0;  // what every language of the page shares
  std::array<long, kLanguageCount> language{};
};

Scores Score(const core::SingleByteCodec& codec, std::string_view sample) {
  Scores s;
  std::vector<char32_t> cps;
  std::size_t start = 0;
  while (start < sample.size()) {
    std::size_t end = sample.find('\n', start);
    if (end == std::string_view::npos) end = sample.size();
    cps.clear();
    for (std::size_t i = start; i < end; ++i)
      cps.push_back(codec.ToUnicode(static_cast<std::uint8_t>(sample[i])));
    for (std::size_t i = 0; i < cps.size(); ++i) {
      if (static_cast<unsigned char>(sample[start + i]) < 0x80) continue;
      const char32_t c = cps[i];
      const char32_t prev = i > 0 ? cps[i - 1] : U' ';
      const char32_t next = i + 1 < cps.size() ? cps[i + 1] : U' ';
      const int letters_beside = IsLetter(prev) + IsLetter(next);
      if (IsControl(c)) {
        s.common -= 6;
      } else if (IsLetter(c)) {
        if (IsUpper(c) && IsLetter(prev) && !IsUpper(prev)) s.common -= 2;
        // Words keep to one script: a Cyrillic or Greek letter beside a Latin one is Latin
        // text read in the wrong page.
        if (IsOtherScript(c) && (IsAsciiLetter(prev) || IsAsciiLetter(next))) s.common -= 3;
        if (prev == c && next == c) s.common -= 3;
        const char32_t lower = ToLower(c);
        for (unsigned l = 0; l < kLanguageCount; ++l)
          s.language[l] +=
              kLetters[l].find(static_cast<char16_t>(lower)) != std::u16string_view::npos ? 2 : -1;
      } else if (IsBoxDrawing(c)) {
        s.common += letters_beside ? -3 : 1;
      } else {
        s.common -= letters_beside == 2 ? 4 : letters_beside;
      }
    }
    start = end + 1;
  }
  return s;
}

}  // namespace

void CodePageGuesser::Add(std::string_view value) {
  std::size_t high = 0;
  for (unsigned char c : value) high += c >= 0x80;
  if (high == 0) return;
  if (utf8_ && !LooksUtf8(value)) utf8_ = false;
  if (Full()) return;
  high_bytes_ += high;
  sample_.append(value.substr(0, std::min(value.size(), kMaxSample)));
  sample_ += '\n';
}

int CodePageGuesser::Guess(int preferred) const {
  if (high_bytes_ == 0) return 0;
  if (utf8_) return kUtf8CodePage;
  std::array<bool, 128> present{};
  for (unsigned char c : sample_)
    if (c >= 0x80) present[c - 0x80] = true;

  struct Result {
    int code_page;
    const core::SingleByteCodec* codec;
    long score;
  };
  std::vector<Result> results;
  for (const Candidate& cand : kCandidates) {
    const core::SingleByteCodec& codec = core::SingleByteCodec::For(cand.code_page);
    const Scores s = Score(codec, sample_);
    long best = -(1L << 60);
    for (unsigned l = 0; l < kLanguageCount; ++l)
      if (cand.languages & (1u << l)) best = std::max(best, s.language[l]);
    results.push_back({cand.code_page, &codec, s.common + best});
  }
  // The preferred page first, so that it wins among pages that read the sample alike.
  std::stable_sort(results.begin(), results.end(), [&](const Result& a, const Result& b) {
    if (a.score != b.score) return a.score > b.score;
    return a.code_page == preferred && b.code_page != preferred;
  });
  auto same_reading = [&](const Result& a, const Result& b) {
    for (int i = 0; i < 128; ++i)
      if (present[i] && a.codec->ToUnicode(static_cast<std::uint8_t>(0x80 + i)) !=
                            b.codec->ToUnicode(static_cast<std::uint8_t>(0x80 + i)))
        return false;
    return true;
  };
  const Result& best = results.front();
  // Eight points are four letters of the language in place; fewer is no evidence.
  if (best.score < 8) return 0;
  for (const Result& other : results) {
    if (same_reading(best, other)) continue;
    if (best.score - other.score < 4) return 0;
    break;
  }
  return best.code_page;
}

}  // namespace bde

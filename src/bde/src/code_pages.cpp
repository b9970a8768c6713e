#include "bde/code_pages.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>

#include "core/encoding.h"
#include "core/errors.h"

#if defined(__has_include)
#if __has_include(<iconv.h>) && !defined(_WIN32)
#include <iconv.h>
#define DATOVRAT_HAVE_ICONV 1
#endif
#endif

namespace bde {
namespace {

struct LdidEntry {
  std::uint8_t ldid;
  int code_page;
};

// Language-driver byte → code page. Where written descriptions disagree (0x65/0x66) the
// values follow Microsoft's FoxPro list, which the files in circulation were written by.
constexpr LdidEntry kLanguageDrivers[] = {
    {0x01, 437},
    {0x02, 850},
    {0x03, 1252},
    {0x04, 10000},
    {0x08, 865},
    {0x09, 437},
    {0x0A, 850},
    {0x0B, 437},
    {0x0C, 850},
    {0x0D, 437},
    {0x0E, 850},
    {0x0F, 437},
    {0x10, 850},
    {0x11, 437},
    {0x12, 850},
    {0x13, 932},
    {0x14, 850},
    {0x15, 437},
    {0x16, 850},
    {0x17, 865},
    {0x18, 437},
    {0x19, 437},
    {0x1A, 850},
    {0x1B, 437},
    {0x1C, 863},
    {0x1D, 850},
    {0x1F, 852},
    {0x20, 895},
    {0x22, 852},
    {0x23, 852},
    {0x24, 860},
    {0x25, 850},
    {0x26, 866},
    {0x37, 850},
    {0x40, 852},
    {0x4D, 936},
    {0x4E, 949},
    {0x4F, 950},
    {0x50, 874},
    {0x56, 932},
    {0x58, 1252},
    {0x59, 1252},
    {0x5E, 437},
    {0x5F, 437},
    {0x60, 850},
    {0x61, 1252},
    {0x62, 1252},
    {0x64, 852},
    {0x65, 866},
    {0x66, 865},
    {0x67, 861},
    {0x68, 895},
    {0x69, 620},
    {0x6A, 737},
    {0x6B, 857},
    {0x6C, 863},
    {0x78, 950},
    {0x79, 949},
    {0x7A, 936},
    {0x7B, 932},
    {0x7C, 874},
    {0x7D, 1255},
    {0x7E, 1256},
    {0x85, 862},
    {0x86, 737},
    {0x87, 852},
    {0x88, 857},
    {0x96, 10007},
    {0x97, 10029},
    {0x98, 10006},
    {0x9B, 1250},
    {0x9C, 850},
    {0xC8, 1250},
    {0xC9, 1251},
    {0xCA, 1254},
    {0xCB, 1253},
    {0xCC, 1257},
    // Not a dBase value: some tools mark UTF-8 tables with it.
    {0xF0, kUtf8CodePage},
};

struct NamedDriver {
  const char* name;
  int code_page;
};

// Paradox sort orders and engine driver names that do not spell their code page.
constexpr NamedDriver kNamedDrivers[] = {
    {"ascii", 437},
    {"intl", 437},
    {"intl850", 850},
    {"nordan", 865},
    {"nordan40", 865},
    {"swedfin", 437},
    {"spanish", 437},
    {"ANSII850", 1252},
    {"ANSIINTL", 1252},
    {"ANSISPAN", 1252},
    {"ANSISWFN", 1252},
    {"ANSINOR4", 1252},
    {"czech", 852},
    {"cskamen", 895},
    {"anczech", 1250},
    {"polish", 852},
    {"anpolish", 1250},
    {"hun852dc", 852},
    {"anhundc", 1250},
    {"slovene", 852},
    {"ansislov", 1250},
    {"cyrr", 866},
    {"ancyrr", 1251},
    {"china", 936},
    {"taiwan", 950},
    {"korea", 949},
    {"japan", 932},
    {"turk", 857},
    {"anturk", 1254},
    {"greek", 737},
    {"angreek1", 1253},
    {"hebrew", 862},
    {"thai", 874},
    // SQL Links' HP Roman-8 order (Windows numbers that page 1051).
    {"BLROM800", 1051},
};

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' ||
                        s.front() == '\n' || s.front() == '\0'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' ||
                        s.back() == '\n' || s.back() == '\0'))
    s.remove_suffix(1);
  return s;
}

int ParseNumber(std::string_view s) {
  if (s.empty() || s.size() > 5) return 0;
  int n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

int CodePageFromLanguageDriver(std::uint8_t ldid, int ansi_code_page) {
  if (ldid == 0x57) return ansi_code_page;
  for (const LdidEntry& e : kLanguageDrivers)
    if (e.ldid == ldid) return e.code_page;
  return 0;
}

int CodePageFromDriverName(std::string_view name) {
  name = Trim(name);
  if (name.empty()) return 0;
  for (const NamedDriver& d : kNamedDrivers)
    if (EqualsNoCase(name, d.name)) return NormalizeCodePage(d.code_page);
  // Engine drivers: "DB" + code page digits or "WIN" + locale ("DB852CZ0", "DBWINUS0");
  // FoxPro drivers: "FOX" + locale + code page digits or "WIN" ("FOXCZ852", "FOXWIN").
  std::string upper;
  for (char c : name) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() == 8 && upper.compare(0, 2, "DB") == 0) {
    if (upper.compare(2, 3, "WIN") == 0) return 1252;
    int cp = ParseNumber(std::string_view(upper).substr(2, 3));
    return cp ? NormalizeCodePage(cp) : 0;
  }
  if (upper.compare(0, 3, "FOX") == 0 && upper.size() > 3) {
    if (upper.size() >= 6 && upper.compare(upper.size() - 3, 3, "WIN") == 0) return 1252;
    std::size_t digits = upper.size();
    while (digits > 3 && std::isdigit(static_cast<unsigned char>(upper[digits - 1]))) --digits;
    int cp = ParseNumber(std::string_view(upper).substr(digits));
    return cp ? NormalizeCodePage(cp) : 0;
  }
  return 0;
}

int CodePageFromCpgText(std::string_view text, int ansi_code_page) {
  text = Trim(text);
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text = Trim(text.substr(3));
  if (EqualsNoCase(text, "UTF-8") || EqualsNoCase(text, "UTF8")) return kUtf8CodePage;
  if (EqualsNoCase(text, "ANSI")) return ansi_code_page;
  if (EqualsNoCase(text, "OEM")) {
    // The DOS page that goes with the Windows one of the writer's machine.
    switch (ansi_code_page) {
      case 1250:
        return 852;
      case 1251:
        return 866;
      case 1252:
        return 850;
      default:
        return 437;
    }
  }
  if (EqualsNoCase(text, "KOI8-R") || EqualsNoCase(text, "KOI8R")) return 20866;
  if (EqualsNoCase(text, "KOI8-U") || EqualsNoCase(text, "KOI8U")) return 21866;
  if (EqualsNoCase(text, "Big5")) return 950;
  if (EqualsNoCase(text, "LATIN1")) return 1252;
  for (std::string_view prefix : {"ANSI ", "windows-", "CP ", "CP", "IBM", "OEM "})
    if (text.size() > prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix)) {
      text.remove_prefix(prefix.size());
      break;
    }
  for (std::string_view prefix : {"ISO-8859-", "ISO8859-", "ISO_8859-", "8859-", "ISO8859", "8859"})
    if (text.size() > prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix)) {
      const int part = ParseNumber(text.substr(prefix.size()));
      // Latin-1 as Windows writes it: 1252 reads every Latin-1 letter the same and also
      // the printable characters Windows put at 0x80-0x9F.
      if (part == 1) return 1252;
      return part >= 2 && part <= 16 && part != 12 ? 28590 + part : 0;
    }
  return NormalizeCodePage(ParseNumber(text));
}

int NormalizeCodePage(int code_page) {
  return code_page == 867 ? 895 : code_page;
}

namespace {

// The system converter's name for a code page number, "" when it has none.
std::string IconvName(int code_page) {
  if (code_page >= 28591 && code_page <= 28606 && code_page != 28602)
    return "ISO-8859-" + std::to_string(code_page - 28590);
  if (code_page == 20866) return "KOI8-R";
  if (code_page == 21866) return "KOI8-U";
  if (code_page == 1051) return "HP-ROMAN8";
  if (code_page <= 0 || code_page > 65535) return "";
  return "CP" + std::to_string(code_page);
}

// Pages worth offering beyond our own tables, if the system converter has them.
constexpr int kSystemPages[] = {720,   737,   775,   850,   852,   855,   857,   858,   860,
                                861,   862,   863,   864,   865,   866,   869,   874,   932,
                                936,   949,   950,   1051,  1098,  1125,  1250,  1251,  1252,
                                1253,  1254,  1255,  1256,  1257,  1258,  10000, 10006, 10007,
                                10029, 20866, 21866, 28591, 28592, 28593, 28594, 28595, 28596,
                                28597, 28598, 28599, 28600, 28601, 28603, 28604, 28605, 28606};

bool SystemHas(int code_page) {
#if defined(DATOVRAT_HAVE_ICONV)
  const std::string name = IconvName(code_page);
  if (name.empty()) return false;
  iconv_t cd = iconv_open("UTF-8", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  iconv_close(cd);
  return true;
#else
  (void)code_page;
  return false;
#endif
}

}  // namespace

bool CanDecodeCodePage(int code_page) {
  code_page = NormalizeCodePage(code_page);
  if (code_page == kUtf8CodePage) return true;
  if (core::IsSupportedCodePage(code_page)) return true;
  return SystemHas(code_page);
}

std::vector<int> DecodableCodePages() {
  std::vector<int> pages = core::SupportedCodePages();
  for (int cp : kSystemPages)
    if (!core::IsSupportedCodePage(cp) && SystemHas(cp)) pages.push_back(cp);
  pages.push_back(kUtf8CodePage);
  std::sort(pages.begin(), pages.end());
  return pages;
}

std::string DecodableCodePagesText() {
  std::string out;
  for (int cp : DecodableCodePages()) {
    if (!out.empty()) out += ", ";
    out += std::to_string(cp);
    if (cp == 895) out += " (Kamenický; also 867)";
    if (cp == 620) out += " (Mazovia)";
    if (cp >= 28591 && cp <= 28606) out += " (ISO 8859-" + std::to_string(cp - 28590) + ")";
    if (cp == kUtf8CodePage) out += " (UTF-8)";
  }
  return out;
}

void CheckCodePage(int code_page) {
  if (!CanDecodeCodePage(code_page))
    throw core::Exception("code page " + std::to_string(code_page) +
                          " is not supported; supported code pages: " + DecodableCodePagesText());
}

const char* CodePageOriginText(CodePageOrigin origin) {
  switch (origin) {
    case CodePageOrigin::Marked:
      return "marked";
    case CodePageOrigin::CompanionFile:
      return "from the .cpg file";
    case CodePageOrigin::Detected:
      return "detected";
    case CodePageOrigin::Option:
      return "as given for unmarked tables";
    case CodePageOrigin::Default:
      return "default";
    case CodePageOrigin::Forced:
      return "forced";
  }
  return "";
}

struct TextDecoder::MultiByte {
  // Single-byte pages of the system converter: the UTF-8 form of every byte, built once.
  std::vector<std::string> single;
#if defined(DATOVRAT_HAVE_ICONV)
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  ~MultiByte() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
#endif
};

TextDecoder::TextDecoder(int code_page) : code_page_(NormalizeCodePage(code_page)) {
  if (code_page_ == kUtf8CodePage) return;
  if (core::IsSupportedCodePage(code_page_)) {
    single_ = &core::SingleByteCodec::For(code_page_);
    return;
  }
#if defined(DATOVRAT_HAVE_ICONV)
  const std::string name = IconvName(code_page_);
  if (!name.empty()) {
    multi_ = std::make_unique<MultiByte>();
    multi_->cd = iconv_open("UTF-8", name.c_str());
    if (multi_->cd != reinterpret_cast<iconv_t>(-1)) {
      // A page where every byte converts alone (or not at all) is single-byte: a table of
      // the 256 answers decodes it without the converter's per-call cost. A byte the page
      // leaves undefined becomes the character of the same number, as in our own tables.
      std::vector<std::string> table(256);
      bool single = true;
      for (int b = 0; b < 256 && single; ++b) {
        iconv(multi_->cd, nullptr, nullptr, nullptr, nullptr);
        char in_byte = static_cast<char>(b);
        char* in = &in_byte;
        std::size_t in_left = 1;
        char buffer[16];
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        std::size_t r = iconv(multi_->cd, &in, &in_left, &o, &o_left);
        // Pages with combining marks (1258) hold a letter back until they see what follows.
        if (r != static_cast<std::size_t>(-1)) r = iconv(multi_->cd, nullptr, nullptr, &o, &o_left);
        if (r == static_cast<std::size_t>(-1) && errno == EINVAL) {
          single = false;
        } else if (r == static_cast<std::size_t>(-1) || o == buffer) {
          core::AppendUtf8(static_cast<char32_t>(b), table[b]);
        } else {
          table[b].assign(buffer, o);
        }
      }
      iconv(multi_->cd, nullptr, nullptr, nullptr, nullptr);
      if (single) multi_->single = std::move(table);
      return;
    }
    multi_.reset();
  }
#endif
  throw core::Exception("code page " + std::to_string(code_page) +
                        " is not supported; supported code pages: " + DecodableCodePagesText());
}

TextDecoder::~TextDecoder() = default;

void TextDecoder::Decode(std::string_view bytes, std::string& out) const {
  if (single_) {
    static_cast<const core::SingleByteCodec*>(single_)->Decode(bytes, out);
    return;
  }
  if (code_page_ == kUtf8CodePage) {
    if (core::IsValidUtf8(bytes))
      out.append(bytes);
    else
      out += core::Utf16ToUtf8(core::Utf8ToUtf16(bytes));
    return;
  }
  if (!multi_->single.empty()) {
    for (unsigned char b : bytes) {
      if (b < 0x80 && multi_->single[b].size() == 1 && multi_->single[b][0] == static_cast<char>(b))
        out += static_cast<char>(b);
      else
        out += multi_->single[b];
    }
    return;
  }
#if defined(DATOVRAT_HAVE_ICONV)
  // Shared state: reset before every conversion; invalid sequences become U+FFFD.
  iconv(multi_->cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  char buffer[1024];
  while (in_left > 0) {
    char* o = buffer;
    std::size_t o_left = sizeof buffer;
    std::size_t r = iconv(multi_->cd, &in, &in_left, &o, &o_left);
    out.append(buffer, o - buffer);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (a lead byte cut off at the end): skip one byte.
      out += "\xEF\xBF\xBD";
      ++in;
      --in_left;
      iconv(multi_->cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
#endif
}

}  // namespace bde

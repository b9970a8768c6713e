#include "bde/code_pages.h"

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
    {"ascii", 437},     {"intl", 437},      {"intl850", 850},   {"nordan", 865},
    {"nordan40", 865},  {"swedfin", 437},   {"spanish", 437},   {"ANSII850", 1252},
    {"ANSIINTL", 1252}, {"ANSISPAN", 1252}, {"ANSISWFN", 1252}, {"ANSINOR4", 1252},
    {"czech", 852},     {"cskamen", 895},   {"anczech", 1250},  {"polish", 852},
    {"anpolish", 1250}, {"hun852dc", 852},  {"anhundc", 1250},  {"slovene", 852},
    {"ansislov", 1250}, {"cyrr", 866},      {"ancyrr", 1251},   {"china", 936},
    {"taiwan", 950},    {"korea", 949},     {"japan", 932},     {"turk", 857},
    {"anturk", 1254},   {"greek", 737},     {"angreek1", 1253}, {"hebrew", 862},
    {"thai", 874},
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

bool IsDoubleByte(int code_page) {
  return code_page == 932 || code_page == 936 || code_page == 949 || code_page == 950;
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

int CodePageFromCpgText(std::string_view text) {
  text = Trim(text);
  if (EqualsNoCase(text, "UTF-8") || EqualsNoCase(text, "UTF8")) return kUtf8CodePage;
  if (text.size() > 5 && EqualsNoCase(text.substr(0, 5), "ANSI ")) text.remove_prefix(5);
  if (text.size() > 3 && EqualsNoCase(text.substr(0, 3), "CP ")) text.remove_prefix(3);
  if (text.size() > 2 && EqualsNoCase(text.substr(0, 2), "CP")) text.remove_prefix(2);
  if (text == "88591" || text == "8859-1" || EqualsNoCase(text, "ISO-8859-1")) return 1252;
  if (text == "88592" || text == "8859-2") return 0;  // ISO Latin-2 is not one of ours
  return NormalizeCodePage(ParseNumber(text));
}

int NormalizeCodePage(int code_page) {
  return code_page == 867 ? 895 : code_page;
}

bool CanDecodeCodePage(int code_page) {
  code_page = NormalizeCodePage(code_page);
  if (code_page == kUtf8CodePage) return true;
  if (core::IsSupportedCodePage(code_page)) return true;
#if defined(DATOVRAT_HAVE_ICONV)
  if (IsDoubleByte(code_page)) {
    std::string name = "CP" + std::to_string(code_page);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
  }
#endif
  return false;
}

struct TextDecoder::MultiByte {
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
  if (IsDoubleByte(code_page_)) {
    multi_ = std::make_unique<MultiByte>();
    std::string name = "CP" + std::to_string(code_page_);
    multi_->cd = iconv_open("UTF-8", name.c_str());
    if (multi_->cd != reinterpret_cast<iconv_t>(-1)) return;
  }
#endif
  throw core::Exception("code page " + std::to_string(code_page) + " is not supported");
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

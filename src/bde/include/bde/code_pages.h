// Which code page a source table's text is in, and turning its bytes into UTF-8.
//
// dBase and FoxPro mark a table with a language-driver byte, dBase 7 with a driver name,
// Paradox with a code page number and a sort-order name. The tables below map those marks
// to Windows code page numbers; 895 stands for Kamenický (Borland calls it 867) and 620
// for Mazovia.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace bde {

inline constexpr int kUtf8CodePage = 65001;

// The code page of a dBase/FoxPro language-driver byte; `ansi_code_page` for 0x57
// ("current Windows ANSI"); 0 for 0x00 (unmarked) and for values nobody defined.
int CodePageFromLanguageDriver(std::uint8_t ldid, int ansi_code_page);
// The code page of a dBase 7 / engine language-driver name ("DB852CZ0", "DBWINUS0") or a
// Paradox sort-order name ("czech", "cskamen", "ANSII850"); 0 when unknown. Case-insensitive.
int CodePageFromDriverName(std::string_view name);
// The code page a `.cpg` side file names ("852", "1250", "UTF-8", "ANSI 1250", "88591",
// "8859-2"); "ANSI" and "OEM" alone mean the writer's Windows page and its DOS partner.
// 0 if unknown.
int CodePageFromCpgText(std::string_view text, int ansi_code_page = 1250);
// Borland's 867 is Kamenický, not IBM's Hebrew 867: numbers are brought to our numbering.
int NormalizeCodePage(int code_page);
// True when TextDecoder can decode the code page.
bool CanDecodeCodePage(int code_page);
// The code pages TextDecoder can decode, as a sorted list and as text for messages
// ("437, 620, 737, ..."). Numbers follow Windows: ISO 8859-n is 28590 + n, UTF-8 65001.
std::vector<int> DecodableCodePages();
std::string DecodableCodePagesText();
// Raises core::Exception naming the supported code pages when `code_page` is not one.
void CheckCodePage(int code_page);

// How the code page of a table was settled, for messages ("code page 852, detected").
enum class CodePageOrigin {
  Marked,         // the table's header names it
  CompanionFile,  // a .cpg file beside the table names it
  Detected,       // the table names none; its bytes showed which
  Option,         // the table names none; the user said which (--codepage)
  Default,        // the table names none and its bytes did not show which
  Forced,         // the user's choice over whatever the table says (--force-codepage)
};
const char* CodePageOriginText(CodePageOrigin origin);  // "marked", "from the .cpg file", ...

// Guesses the code page of a table that names none from the bytes of its texts. Values are
// added one by one (padding removed); the guess is UTF-8 when every value is valid UTF-8 and
// some use bytes above 127, else the DOS or Windows code page of the Latin, Central European
// or Cyrillic families whose reading of the bytes looks most like the words of a language it
// serves (letters in words, case as words have it, box drawing apart from letters, no
// control characters).
class CodePageGuesser {
 public:
  void Add(std::string_view value);
  // Enough text has been seen to stop sampling.
  bool Full() const { return high_bytes_ >= kEnoughHighBytes || sample_.size() >= kMaxSample; }
  bool HasHighBytes() const { return high_bytes_ > 0; }
  // The guess, or 0 when no byte is above 127 or the evidence does not single out one page
  // (pages that read the sample alike count as one; among them `preferred` wins).
  int Guess(int preferred = 0) const;

 private:
  static constexpr std::size_t kEnoughHighBytes = 20000;
  static constexpr std::size_t kMaxSample = 1 << 20;
  std::string sample_;  // values with bytes above 127, each followed by a newline
  std::size_t high_bytes_ = 0;
  bool utf8_ = true;  // every value so far is valid UTF-8
};

// Decodes text of one code page to UTF-8. Single-byte code pages go through our own
// tables where we have one, else through a table built once from the system's converter
// (glibc iconv: 775, 855, 858, 864, 1258, ISO 8859-n, KOI8, ...); UTF-8 is checked and
// passed through; double-byte code pages (932, 936, 949, 950) use the system's converter.
class TextDecoder {
 public:
  // Raises core::Exception naming the number when the code page cannot be decoded.
  explicit TextDecoder(int code_page);
  ~TextDecoder();
  TextDecoder(const TextDecoder&) = delete;
  TextDecoder& operator=(const TextDecoder&) = delete;

  int CodePage() const { return code_page_; }
  // Appends the UTF-8 form of `bytes` to `out`.
  void Decode(std::string_view bytes, std::string& out) const;
  std::string Decode(std::string_view bytes) const {
    std::string out;
    Decode(bytes, out);
    return out;
  }

 private:
  struct MultiByte;
  int code_page_;
  const void* single_ = nullptr;  // core::SingleByteCodec
  std::unique_ptr<MultiByte> multi_;
};

}  // namespace bde

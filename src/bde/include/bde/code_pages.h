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

namespace bde {

inline constexpr int kUtf8CodePage = 65001;

// The code page of a dBase/FoxPro language-driver byte; `ansi_code_page` for 0x57
// ("current Windows ANSI"); 0 for 0x00 (unmarked) and for values nobody defined.
int CodePageFromLanguageDriver(std::uint8_t ldid, int ansi_code_page);
// The code page of a dBase 7 / engine language-driver name ("DB852CZ0", "DBWINUS0") or a
// Paradox sort-order name ("czech", "cskamen", "ANSII850"); 0 when unknown. Case-insensitive.
int CodePageFromDriverName(std::string_view name);
// The code page a `.cpg` side file names ("852", "1250", "UTF-8", "ANSI 1250"); 0 if unknown.
int CodePageFromCpgText(std::string_view text);
// Borland's 867 is Kamenický, not IBM's Hebrew 867: numbers are brought to our numbering.
int NormalizeCodePage(int code_page);
// True when TextDecoder can decode the code page.
bool CanDecodeCodePage(int code_page);

// Decodes text of one code page to UTF-8. Single-byte code pages go through our own
// tables; UTF-8 is checked and passed through; the East Asian double-byte code pages
// (932, 936, 949, 950) use the system's converter where there is one.
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

// Text encodings: legacy single-byte code pages and UTF-16, to and from UTF-8.
//
// Strings inside the program are UTF-8. Source tables bring bytes in DOS and Windows
// code pages; Jet keeps text as UTF-16 (UCS-2). The single-byte tables are our own,
// so results are the same on every platform and no text ever goes through the C
// library's locale.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Code pages by their Windows numbers. 895 is Kamenický (KEYBCS2), 620 Mazovia.
// Supported: 437, 620, 720, 737, 850, 852, 857, 860, 861, 862, 863, 865, 866, 869, 874,
// 895, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 10000 (Mac Roman),
// 10007 (Mac Cyrillic), 10029 (Mac Central European).
bool IsSupportedCodePage(int code_page);
std::vector<int> SupportedCodePages();

// A single-byte code page with its decode table computed once; the per-record path
// of a copy decodes through this without lookups.
class SingleByteCodec {
 public:
  int CodePage() const { return code_page_; }
  // Appends the UTF-8 form of the bytes. Bytes the code page leaves undefined become
  // the Unicode character with the same number in the C1/Latin-1 range, so nothing is lost;
  // where the page already has that character at another byte (cp857's 0xD5, 0xE7, 0xF2),
  // U+F000 + byte from the private use area instead. Every byte therefore encodes back.
  void Decode(std::string_view bytes, std::string& out) const;
  std::string Decode(std::string_view bytes) const;
  // Code point of one byte.
  char32_t ToUnicode(std::uint8_t byte) const { return table_[byte]; }
  // Characters without a byte in this code page become '?', as do invalid UTF-8 sequences;
  // `lossless` reports whether none did.
  std::string Encode(std::string_view utf8, bool* lossless = nullptr) const;

  // The codec of a supported code page; raises core::Exception naming the number otherwise.
  static const SingleByteCodec& For(int code_page);

 private:
  SingleByteCodec(int code_page, const std::array<char32_t, 256>& table);
  // Every code point of these pages is in the Basic Multilingual Plane: at most 3 bytes.
  struct Utf8Form {
    char bytes[3];
    std::uint8_t length;
  };
  int code_page_;
  std::array<char32_t, 256> table_;
  std::array<Utf8Form, 256> utf8_;
  // Encoding: code point -> byte + 1 (0 = none) in blocks of 256 code points; block_of_[n]
  // is the block of U+nn00..U+nnFF, block 0 is empty. All these pages stay in the BMP.
  std::array<std::uint8_t, 256> block_of_{};
  std::vector<std::array<std::uint16_t, 256>> blocks_;
};

std::string DecodeToUtf8(int code_page, std::string_view bytes);
std::string EncodeFromUtf8(int code_page, std::string_view utf8, bool* lossless = nullptr);

// UTF-8 <-> UTF-16. Invalid UTF-8 sequences become U+FFFD; unpaired surrogates in
// UTF-16 become U+FFFD as well.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
void AppendUtf8(char32_t code_point, std::string& out);
bool IsValidUtf8(std::string_view text);
// Decodes the code point at p (p < end) and returns how many bytes it took. An invalid or
// truncated sequence gives U+FFFD and takes its longest valid-looking prefix (at least one
// byte), the way Unicode recommends. Inline because text encoders call it per character.
inline std::size_t DecodeUtf8At(const unsigned char* p, const unsigned char* end, char32_t& cp) {
  const unsigned char lead = p[0];
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    cp = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // no overlong forms
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    cp = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    cp = 0xFFFD;
    return 1;
  }
  std::size_t used = 1;
  for (std::size_t k = 0; k < need; ++k) {
    if (p + used == end) {
      cp = 0xFFFD;
      return used;
    }
    const unsigned char c = p[used];
    const bool ok = k == 0 ? (c >= lo && c <= hi) : (c & 0xC0) == 0x80;
    if (!ok) {
      cp = 0xFFFD;
      return used;
    }
    cp = (cp << 6) | (c & 0x3F);
    ++used;
  }
  return used;
}
// Number of code points (not bytes).
std::size_t Utf8Length(std::string_view utf8);

}  // namespace core

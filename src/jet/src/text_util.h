// Text as Jet stores it: UCS-2 little-endian, optionally in Access's "Unicode compression"
// form (FF FE, then one byte per character, 00 switching between one- and two-byte mode).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

// UCS-2LE bytes (an odd last byte is ignored) to UTF-8.
std::string Ucs2ToUtf8(const std::uint8_t* bytes, std::size_t length);
// A stored Jet 4 text value, compressed or not, to UTF-16 / UTF-8.
std::u16string DecodeJet4Text(const std::uint8_t* bytes, std::size_t length);
std::string DecodeJet4TextUtf8(const std::uint8_t* bytes, std::size_t length);

// Whether the compressed form can hold the text: 3+ characters, all U+0001..U+00FF.
// (A 00 byte means "switch mode", and readers take values of 2 bytes or less as UCS-2.)
bool CanCompress(std::u16string_view text);
// Appends the stored form: compressed when `compress` and CanCompress, else UCS-2LE.
void AppendJet4Text(std::u16string_view text, bool compress, std::vector<std::uint8_t>& out);

// The same from UTF-8 text; returns the number of characters (UTF-16 units). Invalid
// UTF-8 becomes U+FFFD, one for each maximal invalid part, as Unicode recommends.
std::size_t AppendJet4TextUtf8(std::string_view utf8, bool compress,
                               std::vector<std::uint8_t>& out);
// The same into `out`, which has room for Jet4TextBound(utf8.size()) bytes; `written`
// receives the bytes used.
std::size_t WriteJet4TextUtf8(std::string_view utf8, bool compress, std::uint8_t* out,
                              std::size_t* written);
// Never more than two bytes per UTF-8 byte (plus the compression mark).
inline std::size_t Jet4TextBound(std::size_t utf8_bytes) {
  return 2 * utf8_bytes + 2;
}

// Jet compares object names without regard to case.
bool NamesEqual(std::string_view a, std::string_view b);
std::u16string FoldCase(std::u16string_view text);

}  // namespace jet

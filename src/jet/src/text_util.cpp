#include "text_util.h"

#include "core/encoding.h"

namespace jet {

std::string Ucs2ToUtf8(const std::uint8_t* bytes, std::size_t length) {
  std::u16string units(length / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return core::Utf16ToUtf8(units);
}

std::u16string DecodeJet4Text(const std::uint8_t* bytes, std::size_t length) {
  std::u16string out;
  if (length > 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    out.reserve(length - 2);
    bool one_byte = true;
    std::size_t i = 2;
    while (i < length) {
      if (bytes[i] == 0x00) {
        one_byte = !one_byte;
        ++i;
      } else if (one_byte) {
        out.push_back(static_cast<char16_t>(bytes[i]));
        ++i;
      } else {
        if (i + 1 >= length) break;
        out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
        i += 2;
      }
    }
    return out;
  }
  out.resize(length / 2);
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

std::string DecodeJet4TextUtf8(const std::uint8_t* bytes, std::size_t length) {
  if (!(length > 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)) return Ucs2ToUtf8(bytes, length);
  return core::Utf16ToUtf8(DecodeJet4Text(bytes, length));
}

bool CanCompress(std::u16string_view text) {
  if (text.size() < 3) return false;
  for (char16_t c : text)
    if (c == 0 || c > 0xFF) return false;
  return true;
}

void AppendJet4Text(std::u16string_view text, bool compress, std::vector<std::uint8_t>& out) {
  std::size_t at = out.size();
  if (compress && CanCompress(text)) {
    out.resize(at + 2 + text.size());
    std::uint8_t* p = out.data() + at;
    *p++ = 0xFF;
    *p++ = 0xFE;
    for (char16_t c : text) *p++ = static_cast<std::uint8_t>(c);
    return;
  }
  out.resize(at + 2 * text.size());
  std::uint8_t* p = out.data() + at;
  for (char16_t c : text) {
    *p++ = static_cast<std::uint8_t>(c);
    *p++ = static_cast<std::uint8_t>(c >> 8);
  }
}

std::size_t WriteJet4TextUtf8(std::string_view utf8, bool compress, std::uint8_t* out,
                              std::size_t* written) {
  const auto* begin = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = begin + utf8.size();
  // Most texts qualify for the one-byte form: write it straight away and fall back to
  // UCS-2 at the first character that does not fit it.
  if (compress && utf8.size() >= 3) {
    std::uint8_t* q = out;
    *q++ = 0xFF;
    *q++ = 0xFE;
    const unsigned char* p = begin;
    bool fits = true;
    while (p != end) {
      if (*p < 0x80) {
        if (*p == 0) {
          fits = false;
          break;
        }
        *q++ = *p++;
        continue;
      }
      char32_t cp;
      const std::size_t n = core::DecodeUtf8At(p, end, cp);
      if (cp > 0xFF) {
        fits = false;
        break;
      }
      *q++ = static_cast<std::uint8_t>(cp);
      p += n;
    }
    const std::size_t units = static_cast<std::size_t>(q - out) - 2;
    if (fits && units >= 3) {
      *written = static_cast<std::size_t>(q - out);
      return units;
    }
  }
  std::uint8_t* q = out;
  const unsigned char* p = begin;
  while (p != end) {
    char32_t cp = *p;
    if (cp < 0x80) {
      ++p;
    } else {
      p += core::DecodeUtf8At(p, end, cp);
    }
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      const auto high = static_cast<char16_t>(0xD800 + (v >> 10));
      const auto low = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
      *q++ = static_cast<std::uint8_t>(high);
      *q++ = static_cast<std::uint8_t>(high >> 8);
      *q++ = static_cast<std::uint8_t>(low);
      *q++ = static_cast<std::uint8_t>(low >> 8);
    } else {
      *q++ = static_cast<std::uint8_t>(cp);
      *q++ = static_cast<std::uint8_t>(cp >> 8);
    }
  }
  *written = static_cast<std::size_t>(q - out);
  return *written / 2;
}

std::size_t AppendJet4TextUtf8(std::string_view utf8, bool compress,
                               std::vector<std::uint8_t>& out) {
  const std::size_t at = out.size();
  out.resize(at + Jet4TextBound(utf8.size()));
  std::size_t written = 0;
  const std::size_t units = WriteJet4TextUtf8(utf8, compress, out.data() + at, &written);
  out.resize(at + written);
  return units;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) {
    if (c >= u'A' && c <= u'Z') {
      c = static_cast<char16_t>(c + 32);
    } else if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
      c = static_cast<char16_t>(c + 32);
    } else if (c >= 0x100 && c <= 0x17F) {
      // Latin Extended-A pairs upper/lower case as even/odd, except two runs that are shifted.
      bool shifted = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
      if (shifted ? (c % 2 == 1) : (c % 2 == 0 && c != 0x130 && c != 0x138))
        c = static_cast<char16_t>(c + 1);
    } else if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
      c = static_cast<char16_t>(c + 32);
    } else if (c >= 0x410 && c <= 0x42F) {
      c = static_cast<char16_t>(c + 32);
    } else if (c >= 0x400 && c <= 0x40F) {
      c = static_cast<char16_t>(c + 80);
    }
  }
  return out;
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    bool ascii_equal = true;
    for (std::size_t i = 0; i < a.size() && ascii_equal; ++i) {
      unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (x >= 0x80 || y >= 0x80) {
        ascii_equal = false;
        break;
      }
      if (x != y && (x | 0x20) != (y | 0x20)) return false;
      if (x != y && !((x | 0x20) >= 'a' && (x | 0x20) <= 'z')) return false;
    }
    if (ascii_equal) return true;
  }
  return FoldCase(core::Utf8ToUtf16(a)) == FoldCase(core::Utf8ToUtf16(b));
}

}  // namespace jet

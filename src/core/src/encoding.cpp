#include "core/encoding.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "codepage_tables.h"
#include "core/errors.h"

namespace core {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// UTF-8 bytes of a code point; returns the length (surrogates and values past U+10FFFF
// are written as U+FFFD).
std::size_t WriteUtf8(char32_t cp, char* out) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacement;
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

}  // namespace

bool IsSupportedCodePage(int code_page) {
  for (std::size_t i = 0; i < detail::kCodePageTableCount; ++i) {
    if (detail::kCodePageTables[i].code_page == code_page) return true;
  }
  return false;
}

std::vector<int> SupportedCodePages() {
  std::vector<int> pages;
  for (std::size_t i = 0; i < detail::kCodePageTableCount; ++i) {
    pages.push_back(detail::kCodePageTables[i].code_page);
  }
  std::sort(pages.begin(), pages.end());
  return pages;
}

SingleByteCodec::SingleByteCodec(int code_page, const std::array<char32_t, 256>& table)
    : code_page_(code_page), table_(table) {
  for (std::size_t b = 0; b < 256; ++b) {
    char bytes[4];
    const std::size_t n = WriteUtf8(table_[b], bytes);
    std::memcpy(utf8_[b].bytes, bytes, 3);
    utf8_[b].length = static_cast<std::uint8_t>(n);
  }
  blocks_.emplace_back();  // block 0: nothing maps
  blocks_.back().fill(0);
  for (std::size_t b = 0; b < 256; ++b) {
    const char32_t cp = table_[b];
    std::uint8_t& block = block_of_[(cp >> 8) & 0xFF];
    if (block == 0) {
      block = static_cast<std::uint8_t>(blocks_.size());
      blocks_.emplace_back();
      blocks_.back().fill(0);
    }
    blocks_[block][cp & 0xFF] = static_cast<std::uint16_t>(b + 1);
  }
}

const SingleByteCodec& SingleByteCodec::For(int code_page) {
  // Built once, on first use, for every page together (thread-safe static initialisation).
  static const std::vector<std::unique_ptr<SingleByteCodec>> codecs = [] {
    std::vector<std::unique_ptr<SingleByteCodec>> all;
    for (std::size_t i = 0; i < detail::kCodePageTableCount; ++i) {
      const detail::CodePageTable& t = detail::kCodePageTables[i];
      std::array<char32_t, 256> table;
      for (std::size_t b = 0; b < 128; ++b) table[b] = static_cast<char32_t>(b);
      for (std::size_t b = 0; b < 128; ++b) table[128 + b] = t.high[b];
      all.push_back(std::unique_ptr<SingleByteCodec>(new SingleByteCodec(t.code_page, table)));
    }
    return all;
  }();
  for (const auto& codec : codecs) {
    if (codec->code_page_ == code_page) return *codec;
  }
  throw Exception("Code page " + std::to_string(code_page) + " is not supported");
}

void SingleByteCodec::Decode(std::string_view bytes, std::string& out) const {
  const std::size_t start = out.size();
  out.resize(start + bytes.size() * 3);
  char* p = out.data() + start;
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      *p++ = static_cast<char>(b);
    } else {
      const Utf8Form& f = utf8_[b];
      std::memcpy(p, f.bytes, 3);
      p += f.length;
    }
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
}

std::string SingleByteCodec::Decode(std::string_view bytes) const {
  std::string out;
  Decode(bytes, out);
  return out;
}

std::string SingleByteCodec::Encode(std::string_view utf8, bool* lossless) const {
  std::string out(utf8.size(), '\0');  // one byte per code point at most
  char* q = out.data();
  bool all_mapped = true;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p != end) {
    if (*p < 0x80) {  // ASCII is the same in every supported page
      *q++ = static_cast<char>(*p++);
      continue;
    }
    char32_t cp;
    p += DecodeUtf8At(p, end, cp);
    const std::uint16_t mapped = cp < 0x10000 ? blocks_[block_of_[cp >> 8]][cp & 0xFF] : 0;
    if (mapped != 0) {
      *q++ = static_cast<char>(mapped - 1);
    } else {
      *q++ = '?';
      all_mapped = false;
    }
  }
  out.resize(static_cast<std::size_t>(q - out.data()));
  if (lossless != nullptr) *lossless = all_mapped;
  return out;
}

std::string DecodeToUtf8(int code_page, std::string_view bytes) {
  return SingleByteCodec::For(code_page).Decode(bytes);
}

std::string EncodeFromUtf8(int code_page, std::string_view utf8, bool* lossless) {
  return SingleByteCodec::For(code_page).Encode(utf8, lossless);
}

void AppendUtf8(char32_t code_point, std::string& out) {
  char bytes[4];
  out.append(bytes, WriteUtf8(code_point, bytes));
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  // Never more UTF-16 units than UTF-8 bytes: size once, write through a pointer.
  std::u16string out(utf8.size(), u'\0');
  char16_t* q = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p != end) {
    if (*p < 0x80) {
      *q++ = static_cast<char16_t>(*p++);
      continue;
    }
    char32_t cp;
    p += DecodeUtf8At(p, end, cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *q++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *q++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *q++ = static_cast<char16_t>(cp);
    }
  }
  out.resize(static_cast<std::size_t>(q - out.data()));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  char bytes[4];
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    }
    out.append(bytes, WriteUtf8(cp, bytes));  // a lone surrogate comes out as U+FFFD
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p != end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    char32_t cp;
    const std::size_t n = DecodeUtf8At(p, end, cp);
    // U+FFFD written out in full is valid; the replacement for a bad sequence is not.
    if (cp == kReplacement && n != 3) return false;
    if (cp == kReplacement && !(p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD)) return false;
    p += n;
  }
  return true;
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t count = 0;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p != end) {
    char32_t cp;
    p += *p < 0x80 ? 1 : DecodeUtf8At(p, end, cp);
    ++count;
  }
  return count;
}

}  // namespace core

#include "jetsql/collation.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "core/encoding.h"
#include "jet/sort_order.h"

namespace jetsql {
namespace {

constexpr std::size_t kPiece = jet::kMaxTextKeyUnits;

thread_local jet::SortOrder current_order = jet::kGeneralSortOrder;

// The order keys are built in: the current one when we build its keys, else General.
jet::SortOrder KeyOrder() {
  const jet::SortOrder order = current_order;
  if (jet::IsGeneralSortOrder(order)) return order;
  static thread_local jet::SortOrder checked{};
  static thread_local bool checked_ok = false;
  if (!(checked == order)) {
    checked = order;
    checked_ok = jet::CanWriteTextKeys(order);
  }
  return checked_ok ? order : jet::kGeneralSortOrder;
}

void AppendOrderKey(jet::SortOrder order, std::u16string_view piece,
                    std::vector<std::uint8_t>& key) {
  if (jet::IsGeneralSortOrder(order) || jet::UnkeyableUnit(order, piece) != 0) {
    jet::AppendGeneralTextKey(piece, false, key);
  } else {
    jet::AppendTextKey(order, piece, false, key);
  }
}

// Most texts in real tables are plain ASCII letters, digits and blanks. For those the General
// key is one primary byte per character followed by 01 00, so comparing the primary bytes
// gives the key order without building keys. The table is derived from the key function
// itself at first use: a character qualifies only if its key has exactly that shape.
struct AsciiPrimaries {
  std::array<std::uint8_t, 128> primary{};  // 0 = not simple, take the key path
};

std::vector<std::uint8_t> KeyOf(std::u16string_view text) {
  std::vector<std::uint8_t> key;
  jet::AppendGeneralTextKey(text, false, key);
  return key;
}

AsciiPrimaries BuildAsciiPrimaries() {
  AsciiPrimaries out;
  // A blank only counts before other characters, so every character is keyed followed by a
  // reference character whose own key is simple.
  const std::vector<std::uint8_t> zero = KeyOf(u"0");
  if (zero.size() != 3 || zero[1] != 0x01 || zero[2] != 0x00 || zero[0] <= 0x01) return out;
  for (char16_t c = 0x20; c < 0x7F; ++c) {
    const char16_t pair[2] = {c, u'0'};
    const std::vector<std::uint8_t> key = KeyOf(std::u16string_view(pair, 2));
    if (key.size() == 4 && key[0] > 0x01 && key[1] == zero[0] && key[2] == 0x01 && key[3] == 0x00) {
      out.primary[c] = key[0];
    }
  }
  return out;
}

const AsciiPrimaries& Primaries() {
  static const AsciiPrimaries table = BuildAsciiPrimaries();
  return table;
}

// The text without trailing blanks, when every character has a simple primary.
bool SimpleAscii(std::string_view text, std::string_view& trimmed) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.size() > kPiece) return false;
  const AsciiPrimaries& p = Primaries();
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x80 || p.primary[u] == 0) return false;
  }
  trimmed = text;
  return true;
}

int CompareSimple(std::string_view a, std::string_view b) {
  const AsciiPrimaries& p = Primaries();
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t x = p.primary[static_cast<unsigned char>(a[i])];
    const std::uint8_t y = p.primary[static_cast<unsigned char>(b[i])];
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

void AppendPieces(std::u16string_view units, std::string& out) {
  // Trailing blanks of the whole text do not count; inside a long text they stay.
  while (!units.empty() && units.back() == u' ') units.remove_suffix(1);
  std::vector<std::uint8_t> key;
  const jet::SortOrder order = KeyOrder();
  do {
    const std::u16string_view piece = units.substr(0, kPiece);
    units.remove_prefix(piece.size());
    key.clear();
    AppendOrderKey(order, piece, key);
    out.append(reinterpret_cast<const char*>(key.data()), key.size());
  } while (!units.empty());
}

int CompareBytes(const std::string& a, const std::string& b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace

jet::SortOrder CurrentCollation() {
  return current_order;
}

CollationScope::CollationScope(jet::SortOrder order) : saved_(current_order) {
  current_order = order;
}

CollationScope::~CollationScope() {
  current_order = saved_;
}

jet::SortOrder CollationOf(const std::vector<ColumnInfo>& columns) {
  for (const ColumnInfo& c : columns) {
    if (!jet::IsGeneralSortOrder(c.sort_order)) return c.sort_order;
  }
  return jet::kGeneralSortOrder;
}

int CompareText(std::string_view a, std::string_view b) {
  std::string_view ta, tb;
  const bool general = jet::IsGeneralSortOrder(KeyOrder());
  if (general && SimpleAscii(a, ta) && SimpleAscii(b, tb)) return CompareSimple(ta, tb);
  if (a == b) return 0;
  std::string ka, kb;
  AppendTextSortKey(a, ka);
  AppendTextSortKey(b, kb);
  return CompareBytes(ka, kb);
}

void AppendTextSortKey(std::string_view utf8, std::string& out) {
  std::string_view trimmed;
  if (jet::IsGeneralSortOrder(KeyOrder()) && SimpleAscii(utf8, trimmed)) {
    const AsciiPrimaries& p = Primaries();
    // The same bytes the key function would give: primaries, then 01 00.
    for (char c : trimmed) out += static_cast<char>(p.primary[static_cast<unsigned char>(c)]);
    out += '\x01';
    out += '\0';
    return;
  }
  const std::u16string units = core::Utf8ToUtf16(utf8);
  AppendPieces(units, out);
}

namespace {

using CharacterKeys = std::array<std::string, 65536>;

std::unique_ptr<CharacterKeys> BuildCharacterKeys(jet::SortOrder order) {
  auto table = std::make_unique<CharacterKeys>();
  std::vector<std::uint8_t> key;
  for (std::uint32_t u = 0; u < 65536; ++u) {
    key.clear();
    const char16_t unit16 = static_cast<char16_t>(u);
    AppendOrderKey(order, std::u16string_view(&unit16, 1), key);
    (*table)[u].assign(reinterpret_cast<const char*>(key.data()), key.size());
  }
  return table;
}

}  // namespace

const std::string& CharacterKey(char16_t unit) {
  const jet::SortOrder order = KeyOrder();
  if (jet::IsGeneralSortOrder(order)) {
    static const std::unique_ptr<CharacterKeys> general = BuildCharacterKeys(order);
    return (*general)[unit];
  }
  // One table per national order, built on first use and kept.
  static std::mutex mutex;
  static std::map<std::uint32_t, std::unique_ptr<CharacterKeys>> tables;
  const std::uint32_t id = (std::uint32_t{order.locale} << 8) | order.version;
  std::lock_guard<std::mutex> lock(mutex);
  auto& table = tables[id];
  if (!table) table = BuildCharacterKeys(order);
  return (*table)[unit];
}

}  // namespace jetsql

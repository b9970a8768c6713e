// General sort order text keys.
//
// A key has up to four parts: the primary bytes of every letter (case folded), a
// diacritic part (one byte per letter position, 02 = no accent), an "unprintable" part
// recording where hyphens, apostrophes and control characters stood, and a kana part.
// The layout and the position arithmetic follow the keys found in Access-made files.
#include "jet/sort_order.h"

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <unordered_map>

#include "core/internal_error.h"
#include "sort_general_table.h"
#include "sort_national_table.h"

namespace jet {
namespace {

using sort_detail::SortClass;

struct CodeInfo {
  SortClass cls;
  std::uint8_t inline_length;
  std::uint8_t extra_length;
  std::uint8_t aux;
  std::array<std::uint8_t, 4> inline_bytes;
  std::array<std::uint8_t, 2> extra_bytes;
};

using CodeTable = std::array<CodeInfo, 65536>;

std::unique_ptr<CodeTable> ExpandRuns() {
  auto table = std::make_unique<CodeTable>();
  std::size_t unit = 0;
  for (std::size_t r = 0; r < sort_detail::kGeneralRunCount; ++r) {
    const auto& run = sort_detail::kGeneralRuns[r];
    for (std::uint32_t i = 0; i < run.count && unit < table->size(); ++i, ++unit) {
      CodeInfo& info = (*table)[unit];
      info.cls = run.cls;
      info.inline_length = run.inline_length;
      info.extra_length = run.extra_length;
      info.aux = static_cast<std::uint8_t>(run.aux + static_cast<std::int32_t>(i) * run.aux_step);
      const std::uint32_t value =
          run.inline_value +
          static_cast<std::uint32_t>(static_cast<std::int64_t>(i) * run.inline_step);
      for (std::uint8_t b = 0; b < run.inline_length; ++b) {
        info.inline_bytes[b] =
            static_cast<std::uint8_t>(value >> (8 * (run.inline_length - 1 - b)));
      }
      for (std::uint8_t b = 0; b < run.extra_length; ++b) {
        info.extra_bytes[b] =
            static_cast<std::uint8_t>(run.extra >> (8 * (run.extra_length - 1 - b)));
      }
    }
  }
  return table;
}

const CodeTable& Codes() {
  static const std::unique_ptr<CodeTable> table = ExpandRuns();
  return *table;
}

struct LocaleName {
  std::uint16_t locale;
  const char* name;
};

// The collating orders DAO knows for Jet 4 files.
constexpr LocaleName kLocaleNames[] = {
    {1024, "Neutral"},
    {1025, "Arabic"},
    {1028, "Chinese (Traditional)"},
    {1029, "Czech"},
    {1030, "Norwegian/Danish"},
    {1032, "Greek"},
    {1033, "General"},
    {1034, "Spanish"},
    {1037, "Hebrew"},
    {1038, "Hungarian"},
    {1039, "Icelandic"},
    {1041, "Japanese"},
    {1042, "Korean"},
    {1043, "Dutch"},
    {1045, "Polish"},
    {1049, "Cyrillic"},
    {1051, "Slovak"},
    {1053, "Swedish/Finnish"},
    {1054, "Thai"},
    {1055, "Turkish"},
    {1060, "Slovenian"},
    {2052, "Chinese (Simplified)"},
};

// One national order's substitutions, by their first code unit, longest first.
class NationalTable {
 public:
  void Add(const sort_detail::NationalUnit* unit) {
    auto& list = by_first_[unit->units[0]];
    list.push_back(unit);
    std::stable_sort(list.begin(), list.end(),
                     [](const auto* a, const auto* b) { return a->length > b->length; });
  }
  // The longest entry that `text` starts with, compared code unit by code unit.
  const sort_detail::NationalUnit* Match(std::u16string_view text) const {
    auto it = by_first_.find(text[0]);
    if (it == by_first_.end()) return nullptr;
    for (const auto* unit : it->second) {
      if (unit->length > text.size()) continue;
      if (std::equal(unit->units, unit->units + unit->length, text.begin())) return unit;
    }
    return nullptr;
  }

 private:
  std::unordered_map<char16_t, std::vector<const sort_detail::NationalUnit*>> by_first_;
};

const NationalTable* FindNational(SortOrder order) {
  static const std::map<std::uint16_t, NationalTable> tables = [] {
    std::map<std::uint16_t, NationalTable> t;
    for (std::size_t i = 0; i < sort_detail::kNationalUnitCount; ++i)
      t[sort_detail::kNationalUnits[i].locale].Add(&sort_detail::kNationalUnits[i]);
    return t;
  }();
  if (order.version != 0) return nullptr;
  auto it = tables.find(order.locale);
  return it == tables.end() ? nullptr : &it->second;
}

}  // namespace

std::string SortOrderName(SortOrder order) {
  std::string name;
  for (const auto& entry : kLocaleNames) {
    if (entry.locale == order.locale) {
      name = std::string(entry.name) + " (" + std::to_string(order.locale);
      break;
    }
  }
  if (name.empty()) name = "locale (" + std::to_string(order.locale);
  if (order.version != 0) name += ", version " + std::to_string(order.version);
  return name + ")";
}

void AppendTextKey(SortOrder order, std::u16string_view text, bool descending,
                   std::vector<std::uint8_t>& out) {
  const CodeTable& codes = Codes();
  const NationalTable* national = IsGeneralSortOrder(order) ? nullptr : FindNational(order);
  if (!IsGeneralSortOrder(order) && !national)
    core::ThrowInternal("no text keys in the " + SortOrderName(order) + " sort order");
  if (text.size() > kMaxTextKeyUnits) text = text.substr(0, kMaxTextKeyUnits);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);

  const std::size_t start = out.size();
  // Scratch parts reused between calls: keys are built for every row that is written.
  thread_local std::vector<std::uint8_t> diacritics, unprintables, kana;
  diacritics.clear();
  unprintables.clear();
  kana.clear();
  std::size_t diacritic_positions = 0;  // letter positions the diacritic part covers
  bool leading_modifier = false;        // the part began with a bare modifier
  std::size_t position = 0;             // letters that produced primary bytes so far

  for (std::size_t i = 0; i < text.size();) {
    const char16_t unit = text[i];
    CodeInfo info = codes[unit];
    // A national letter or contraction takes the place of the General row.
    std::size_t matched = 1;
    if (national) {
      if (const sort_detail::NationalUnit* n = national->Match(text.substr(i))) {
        matched = n->length;
        if (n->kind == sort_detail::NationalKind::kLetter) {
          info = CodeInfo{n->diacritic == 2 ? SortClass::S : SortClass::I,      n->inline_length,
                          static_cast<std::uint8_t>(n->diacritic == 2 ? 0 : 1), 0,
                          {n->inline_bytes[0], n->inline_bytes[1], 0, 0},       {n->diacritic, 0}};
        } else {
          info.aux = n->diacritic;
        }
      }
    }
    i += matched;
    const std::size_t here = position;
    if (info.inline_length != 0) {
      out.insert(out.end(), info.inline_bytes.begin(),
                 info.inline_bytes.begin() + info.inline_length);
      ++position;
    }
    if (info.cls == SortClass::S || info.cls == SortClass::X) continue;

    const bool has_extra = info.extra_length != 0;
    const bool is_modifier = info.cls == SortClass::P;
    if (has_extra || is_modifier) {
      while (diacritic_positions < here) {
        diacritics.push_back(0x02);
        ++diacritic_positions;
      }
      if (has_extra) {
        diacritics.insert(diacritics.end(), info.extra_bytes.begin(),
                          info.extra_bytes.begin() + info.extra_length);
        ++diacritic_positions;
      } else if (!diacritics.empty()) {
        diacritics.back() = static_cast<std::uint8_t>(diacritics.back() + info.aux);
      } else {
        diacritics.push_back(info.aux);
        leading_modifier = true;
      }
    }
    if (info.cls == SortClass::U) {
      const std::size_t p = diacritics.empty() ? here
                                               : diacritics.size() + (here - diacritic_positions) -
                                                     (leading_modifier ? 1 : 0);
      const std::uint16_t v = static_cast<std::uint16_t>(0x8000 | ((7 + 4 * p) & 0x7FFF));
      unprintables.push_back(static_cast<std::uint8_t>(v >> 8));
      unprintables.push_back(static_cast<std::uint8_t>(v));
      unprintables.push_back(0x06);
      unprintables.push_back(info.aux);
    } else if (info.cls == SortClass::Z) {
      kana.push_back(info.aux);
    }
  }

  out.push_back(0x01);
  while (!diacritics.empty() && diacritics.back() <= 0x02) diacritics.pop_back();
  out.insert(out.end(), diacritics.begin(), diacritics.end());
  if (!unprintables.empty() || !kana.empty()) {
    out.push_back(0x01);
    out.push_back(0x01);
    if (!kana.empty()) {
      while (!kana.empty() && kana.back() == 3) kana.pop_back();
      for (std::size_t i = 0; i < kana.size(); i += 3) {
        std::uint8_t packed = 0x80 | static_cast<std::uint8_t>(kana[i] << 4);
        if (i + 1 < kana.size()) packed |= static_cast<std::uint8_t>(kana[i + 1] << 2);
        if (i + 2 < kana.size()) packed |= kana[i + 2];
        out.push_back(packed);
      }
      for (std::uint8_t b : {0xFF, 0x02, 0x80, 0xFF, 0x80}) out.push_back(b);
      if (!unprintables.empty()) out.push_back(0xFF);
    }
    if (!unprintables.empty()) {
      out.push_back(0x01);
      out.insert(out.end(), unprintables.begin(), unprintables.end());
    }
  }
  out.push_back(0x00);

  if (descending) {
    for (std::size_t i = start; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    out.push_back(0x00);
  }
}

void AppendGeneralTextKey(std::u16string_view text, bool descending,
                          std::vector<std::uint8_t>& out) {
  AppendTextKey(kGeneralSortOrder, text, descending, out);
}

bool CanWriteTextKeys(SortOrder order) {
  return IsGeneralSortOrder(order) || FindNational(order) != nullptr;
}

std::string TextKeyRefusal(SortOrder order) {
  if (CanWriteTextKeys(order)) return {};
  if (order.locale == 1038 && order.version == 0)
    return "keys in the " + SortOrderName(order) +
           " sort order cannot be written: how it keys doubled letters such as \"ccs\" and "
           "\"ssz\" is not known";
  return "keys in the " + SortOrderName(order) +
         " sort order cannot be written; the General, Czech, Slovak, Polish, Croatian, "
         "Slovenian and Turkish orders can";
}

char16_t UnkeyableUnit(SortOrder order, std::u16string_view text) {
  if (order.version != 0) return 0;
  // Expansions that hold a national letter: how Jet keys them is not known.
  std::u16string_view open;
  switch (order.locale) {
    case 1029:
    case 1051:
    case 1060:
      open = u"\u01C4\u01C5\u01C6";
      break;
    case 1055:
      open = u"\u0132";
      break;
    default:
      return 0;
  }
  for (char16_t c : text)
    if (open.find(c) != std::u16string_view::npos) return c;
  return 0;
}

}  // namespace jet

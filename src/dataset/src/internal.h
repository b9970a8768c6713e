// Small helpers shared by the framework's sources.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dataset/types.h"

namespace ds::detail {

inline char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names of fields, indexes and parameters compare without regard to ASCII letter case.
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

inline std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// "A; B;;C" -> {"A", "B", "C"}: ";"-separated names, trimmed, empty parts dropped.
inline std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view part = TrimBlanks(list.substr(start, end - start));
    if (!part.empty()) out.emplace_back(part);
    start = end + 1;
  }
  return out;
}

std::string LowerUtf8(std::string_view s);
std::size_t CodePointCount(std::string_view s);

// Edit, insert and key setting: the states in which a record's values are being changed.
inline bool IsEditMode(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey;
}

// Field types whose values are text.
inline bool IsTextType(TFieldType type) {
  return type == ftString || type == ftFixedChar || type == ftWideString || type == ftMemo ||
         type == ftFmtMemo;
}

}  // namespace ds::detail

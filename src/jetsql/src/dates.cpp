#include "dates.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "core/datetime.h"

namespace jetsql::detail {
namespace {

struct Piece {
  enum Kind { kNumber, kWord, kSeparator } kind;
  std::string text;
  int value = 0;
  int digits = 0;
};

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int MonthFromName(std::string_view word) {
  static constexpr const char* kMonths[12] = {"january",   "february", "march",    "april",
                                              "may",       "june",     "july",     "august",
                                              "september", "october",  "november", "december"};
  const std::string w = Lower(word);
  if (w.size() < 3) return 0;
  for (int m = 0; m < 12; ++m) {
    const std::string_view full = kMonths[m];
    if (w == full || (w.size() == 3 && full.substr(0, 3) == w) || (m == 8 && w == "sept")) {
      return m + 1;
    }
  }
  return 0;
}

bool IsWeekday(std::string_view word) {
  static constexpr const char* kDays[7] = {"sunday",   "monday", "tuesday", "wednesday",
                                           "thursday", "friday", "saturday"};
  const std::string w = Lower(word);
  if (w.size() < 3) return false;
  for (const char* day : kDays) {
    const std::string_view full = day;
    if (w == full || (w.size() == 3 && full.substr(0, 3) == w)) return true;
  }
  return false;
}

bool Split(std::string_view text, std::vector<Piece>& out) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (std::isdigit(c)) {
      Piece p{Piece::kNumber, {}, 0, 0};
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (p.digits >= 9) return false;
        p.value = p.value * 10 + (text[i] - '0');
        p.text += text[i];
        ++p.digits;
        ++i;
      }
      out.push_back(p);
    } else if (std::isalpha(c)) {
      Piece p{Piece::kWord, {}, 0, 0};
      while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
        p.text += text[i++];
      }
      out.push_back(p);
    } else if (c == ' ' || c == '\t') {
      ++i;
      // Blanks separate, but only matter between two numbers or words.
      if (!out.empty() && out.back().kind != Piece::kSeparator) {
        out.push_back(Piece{Piece::kSeparator, " ", 0, 0});
      }
    } else if (c == '/' || c == '-' || c == '.' || c == ',' || c == ':') {
      if (!out.empty() && out.back().kind == Piece::kSeparator && out.back().text == " ") {
        out.back().text = std::string(1, static_cast<char>(c));
      } else {
        out.push_back(Piece{Piece::kSeparator, std::string(1, static_cast<char>(c)), 0, 0});
      }
      ++i;
    } else {
      return false;
    }
  }
  if (!out.empty() && out.back().kind == Piece::kSeparator && out.back().text == " ") {
    out.pop_back();
  }
  return true;
}

int ExpandYear(const Piece& year) {
  if (year.digits <= 2) return year.value < 30 ? 2000 + year.value : 1900 + year.value;
  return year.value;
}

int CurrentYear() {
  return core::DecodeDateTime(core::LocalNow()).year;
}

bool ValidDate(int y, int m, int d) {
  return y >= 100 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= core::DaysInMonth(y, m);
}

// The time part: pieces[start..] holding h:m[:s] [AM|PM] or h AM|PM. Consumes what it reads.
bool ReadTime(const std::vector<Piece>& p, std::size_t& i, core::DateParts& parts) {
  auto is_sep = [&](std::size_t k, char c) {
    return k < p.size() && p[k].kind == Piece::kSeparator && p[k].text[0] == c;
  };
  auto is_num = [&](std::size_t k) { return k < p.size() && p[k].kind == Piece::kNumber; };
  int h = p[i].value, m = 0, s = 0;
  std::size_t k = i + 1;
  bool has_colon = false;
  if (is_sep(k, ':') && is_num(k + 1)) {
    has_colon = true;
    m = p[k + 1].value;
    k += 2;
    if (is_sep(k, ':') && is_num(k + 1)) {
      s = p[k + 1].value;
      k += 2;
    }
  }
  std::size_t j = k;
  if (j < p.size() && p[j].kind == Piece::kSeparator && p[j].text == " ") ++j;
  bool am = false, pm = false;
  if (j < p.size() && p[j].kind == Piece::kWord) {
    const std::string w = Lower(p[j].text);
    am = w == "am" || w == "a";
    pm = w == "pm" || w == "p";
    if (am || pm) k = j + 1;
  }
  if (!has_colon && !am && !pm) return false;
  if (am || pm) {
    if (h < 1 || h > 12) return false;
    if (am && h == 12) h = 0;
    if (pm && h != 12) h += 12;
  }
  if (h > 23 || m > 59 || s > 59) return false;
  parts.hour = h;
  parts.minute = m;
  parts.second = s;
  i = k;
  return true;
}

bool ReadDate(const std::vector<Piece>& p, core::DateParts& parts) {
  std::vector<Piece> numbers;
  int month_word = 0;
  int month_word_at = -1;
  for (const Piece& piece : p) {
    if (piece.kind == Piece::kNumber) {
      numbers.push_back(piece);
    } else if (piece.kind == Piece::kWord) {
      const int m = MonthFromName(piece.text);
      if (m != 0 && month_word == 0) {
        month_word = m;
        month_word_at = static_cast<int>(numbers.size());
      } else if (!IsWeekday(piece.text)) {
        return false;
      }
    }
  }
  int y = 0, m = 0, d = 0;
  if (month_word != 0) {
    m = month_word;
    if (numbers.size() == 2) {
      d = numbers[0].value;
      y = ExpandYear(numbers[1]);
      if (month_word_at == 0 && numbers[0].digits > 2) {  // "Mar 2024 25" is no date
        return false;
      }
    } else if (numbers.size() == 1) {
      if (numbers[0].digits > 2 || numbers[0].value > 31) {
        y = ExpandYear(numbers[0]);
        d = 1;
      } else {
        d = numbers[0].value;
        y = CurrentYear();
      }
    } else {
      return false;
    }
    if (!ValidDate(y, m, d)) return false;
  } else if (numbers.size() == 3) {
    if (numbers[0].digits >= 3) {
      y = numbers[0].value;
      m = numbers[1].value;
      d = numbers[2].value;
      if (!ValidDate(y, m, d)) return false;
    } else {
      y = ExpandYear(numbers[2]);
      m = numbers[0].value;
      d = numbers[1].value;
      if (!ValidDate(y, m, d)) {
        std::swap(m, d);
        if (!ValidDate(y, m, d)) return false;
      }
    }
  } else if (numbers.size() == 2) {
    y = CurrentYear();
    m = numbers[0].value;
    d = numbers[1].value;
    if (!ValidDate(y, m, d)) {
      std::swap(m, d);
      if (!ValidDate(y, m, d)) return false;
    }
  } else {
    return false;
  }
  parts.year = y;
  parts.month = m;
  parts.day = d;
  return true;
}

}  // namespace

bool ParseDateText(std::string_view text, double& date_time) {
  std::vector<Piece> pieces;
  if (!Split(text, pieces)) return false;
  while (!pieces.empty() && pieces.front().kind == Piece::kSeparator) {
    if (pieces.front().text != " ") return false;
    pieces.erase(pieces.begin());
  }
  if (pieces.empty()) return false;

  // Find the time: the first number followed by ':' or by AM/PM.
  core::DateParts parts;
  bool has_time = false;
  std::vector<Piece> date_pieces;
  for (std::size_t i = 0; i < pieces.size();) {
    if (!has_time && pieces[i].kind == Piece::kNumber) {
      std::size_t k = i;
      if (ReadTime(pieces, k, parts)) {
        has_time = true;
        i = k;
        continue;
      }
    }
    date_pieces.push_back(pieces[i]);
    ++i;
  }
  // Separators are only allowed between the parts of the date.
  while (!date_pieces.empty() && date_pieces.back().kind == Piece::kSeparator) {
    if (date_pieces.back().text != " " && date_pieces.back().text != ",") return false;
    date_pieces.pop_back();
  }
  const bool has_date = !date_pieces.empty();
  if (!has_date && !has_time) return false;
  if (has_date) {
    // Numeric dates use one kind of separator throughout ("1/2/2003", "2003-01-02").
    char numeric_sep = 0;
    bool has_word = false;
    for (const Piece& piece : date_pieces) has_word |= piece.kind == Piece::kWord;
    for (const Piece& piece : date_pieces) {
      if (piece.kind != Piece::kSeparator) continue;
      if (piece.text == ":") return false;
      if (!has_word) {
        if (numeric_sep == 0) numeric_sep = piece.text[0];
        if (piece.text[0] != numeric_sep || piece.text == " " || piece.text == ",") return false;
      }
    }
    if (!ReadDate(date_pieces, parts)) return false;
  }
  if (!has_date) {
    date_time = (parts.hour * 3600.0 + parts.minute * 60.0 + parts.second) / 86400.0;
    return true;
  }
  if (!core::IsValidDateParts(parts)) return false;
  date_time = core::EncodeDateTime(parts);
  return true;
}

std::string FormatGeneralDate(double date_time) {
  const core::DateParts p = core::DecodeDateTime(date_time);
  std::string out;
  const bool has_date = !(p.year == 1899 && p.month == 12 && p.day == 30);
  // Day 0 at midnight shows as a time, the way VBA shows it.
  const bool has_time = p.hour != 0 || p.minute != 0 || p.second != 0 || !has_date;
  if (has_date) {
    out = std::to_string(p.month) + "/" + std::to_string(p.day) + "/" + std::to_string(p.year);
  }
  if (has_time) {
    if (!out.empty()) out += ' ';
    const int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, p.minute, p.second,
                  p.hour < 12 ? "AM" : "PM");
    out += buf;
  }
  return out;
}

}  // namespace jetsql::detail

// Index definitions for listing, and the command line's column-list text.
#include "jet/index_info.h"

#include <cctype>
#include <optional>

#include "jet/errors.h"
#include "text_util.h"

namespace jet {

std::vector<IndexInfo> ListIndexes(const TableDefinition& table, const std::string& file,
                                   const std::string& table_name) {
  std::vector<IndexInfo> out;
  for (const auto& logical : table.indexes) {
    if (logical.real_index >= table.real_indexes.size()) {
      ThrowCorrupt({.file = file, .table = table_name, .page = table.FirstPage()},
                   "index '" + logical.name + "' refers to real index " +
                       std::to_string(logical.real_index) + ", but the table has " +
                       std::to_string(table.real_indexes.size()));
    }
    const RealIndexDefinition& real = table.real_indexes[logical.real_index];
    IndexInfo info;
    info.name = logical.name;
    for (const auto& column : real.columns) {
      const ColumnDefinition* c = table.ColumnByNumber(column.column_number);
      if (!c) {
        ThrowCorrupt({.file = file, .table = table_name, .page = table.FirstPage()},
                     "index '" + logical.name + "' refers to column number " +
                         std::to_string(column.column_number) + ", which the table does not have");
      }
      info.columns.emplace_back(c->name, column.ascending);
    }
    info.primary_key = logical.kind == index_kind::kPrimaryKey;
    info.foreign_key = logical.kind == index_kind::kForeignKey;
    if (info.foreign_key) {
      info.foreign_table_page = logical.fk_other_table;
      info.referenced = logical.fk_role == 1;
    }
    info.unique = info.primary_key || (real.flags & index_flag::kUnique) != 0;
    info.ignore_nulls = (real.flags & index_flag::kIgnoreNulls) != 0;
    info.required = info.primary_key || (real.flags & index_flag::kRequired) != 0;
    info.real_index = logical.real_index;
    info.root_page = real.root_page;
    out.push_back(std::move(info));
  }
  return out;
}

std::string IndexColumnsText(const IndexInfo& index) {
  std::string out;
  for (const auto& [name, ascending] : index.columns) {
    if (!out.empty()) out += ", ";
    out += name;
    if (!ascending) out += " DESC";
  }
  return out;
}

std::string IndexFlagsText(const IndexInfo& index) {
  std::string out;
  auto add = [&](const char* what) {
    if (!out.empty()) out += ", ";
    out += what;
  };
  if (index.primary_key) add("primary key");
  if (index.foreign_key) add("foreign key");
  if (index.unique) add("unique");
  if (index.required) add("required");
  if (index.ignore_nulls) add("ignore nulls");
  return out;
}

std::vector<std::pair<std::string, bool>> ParseIndexColumns(std::string_view text) {
  auto refuse = [&](const std::string& why) {
    ThrowJet(ErrorCode::kInvalidDefinition, "index columns \"" + std::string(text) + "\": " + why);
  };
  auto trim = [](std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
  };
  auto upper = [](std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
  };
  std::vector<std::pair<std::string, bool>> columns;
  std::size_t start = 0;
  while (start <= text.size()) {
    // A comma inside [brackets] belongs to the name.
    std::size_t end = start;
    bool bracket = false;
    while (end < text.size() && (bracket || text[end] != ',')) {
      if (text[end] == '[') bracket = true;
      if (text[end] == ']') bracket = false;
      ++end;
    }
    if (bracket) refuse("a [ without its ]");
    std::string_view part = trim(text.substr(start, end - start));
    bool ascending = true;
    const std::size_t blank = part.find_last_of(" \t");
    if (blank != std::string_view::npos && part.back() != ']') {
      const std::string word = upper(part.substr(blank + 1));
      if (word == "DESC" || word == "ASC") {
        ascending = word == "ASC";
        part = trim(part.substr(0, blank));
      }
    }
    if (part.size() >= 2 && part.front() == '[' && part.back() == ']')
      part = part.substr(1, part.size() - 2);
    if (part.empty())
      refuse(columns.empty() && end >= text.size() ? "no column given" : "an empty column name");
    for (const auto& [name, asc] : columns) {
      if (NamesEqual(name, part)) refuse("column '" + std::string(part) + "' is named twice");
    }
    columns.emplace_back(std::string(part), ascending);
    start = end + 1;
  }
  if (columns.size() > 10) refuse("an index has at most 10 columns");
  return columns;
}

std::string AddIndexReplacingPrimaryKey(Database& db, std::string_view table_name,
                                        const NewIndex& spec) {
  std::optional<NewIndex> old;
  if (spec.primary_key) {
    Table& table = db.OpenTable(table_name);
    for (const auto& info : ListIndexes(table.Definition(), db.Path(), table.Name())) {
      if (!info.primary_key) continue;
      NewIndex back;
      back.name = info.name;
      back.columns = info.columns;
      back.primary_key = true;
      back.unique = info.unique;
      back.ignore_nulls = info.ignore_nulls;
      back.required = info.required;
      old = back;
    }
  }
  if (old) db.DropIndex(table_name, old->name);
  try {
    db.AddIndex(table_name, spec);
  } catch (...) {
    if (old) db.AddIndex(table_name, *old);  // it held before, so it holds again
    throw;
  }
  return old ? old->name : std::string();
}

}  // namespace jet

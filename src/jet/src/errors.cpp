#include "jet/errors.h"

namespace jet {

std::string DescribeLocation(const Location& at) {
  std::string parts;
  auto add = [&](const std::string& part) {
    if (!parts.empty()) parts += ", ";
    parts += part;
  };
  if (!at.table.empty()) add("table '" + std::string(at.table) + "'");
  if (at.page != kNoPage) add("page " + std::to_string(at.page));
  if (at.row >= 0) add("row " + std::to_string(at.row));
  if (!at.field.empty()) add("field '" + std::string(at.field) + "'");
  std::string text = at.file.empty() ? std::string("database") : std::string(at.file);
  text += ": damaged database";
  if (!parts.empty()) text += " (" + parts + ")";
  return text;
}

void ThrowCorrupt(const Location& at, std::string_view what) {
  throw CorruptDatabase(DescribeLocation(at) + ": " + std::string(what), std::string(at.file),
                        at.page);
}

void ThrowJet(ErrorCode code, const std::string& message) {
  throw JetError(code, message);
}

}  // namespace jet

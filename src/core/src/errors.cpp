#include "core/internal_error.h"

namespace core {

namespace {

// The compiler names sources by the path it was given. This file's own path tells where the
// project's root is, so that a reported place reads "src/jet/src/table.cpp" wherever the
// tree was built.
std::string_view RelativeSourcePath(std::string_view path) {
  constexpr std::string_view kThisFile = "src/core/src/errors.cpp";
  const std::string_view self = std::source_location::current().file_name();
  if (self.size() >= kThisFile.size() && self.ends_with(kThisFile)) {
    const std::string_view root = self.substr(0, self.size() - kThisFile.size());
    if (path.starts_with(root)) path.remove_prefix(root.size());
  }
  return path;
}

std::string InternalMessage(std::string_view file, std::uint32_t line, std::string_view what) {
  std::string text(file);
  text += ':';
  text += std::to_string(line);
  text += ": internal check failed (a damaged file or a bug): ";
  text += what;
  return text;
}

}  // namespace

EInternalError::EInternalError(std::string_view what, const std::source_location& where)
    : Exception(InternalMessage(RelativeSourcePath(where.file_name()), where.line(), what)),
      file_(RelativeSourcePath(where.file_name())),
      line_(where.line()),
      check_(what) {}

void ThrowInternal(std::string_view what, std::source_location where) {
  throw EInternalError(what, where);
}

}  // namespace core

// The error for a failed check of the program's own invariants.
//
// Such a check fails when a damaged file got past the checks that should have refused it, or
// when this program has a bug; which of the two, only the place can tell. `ThrowInternal`
// therefore names the source line that calls it, the way a corruption report in a storage
// engine names the line that noticed it. Nothing a valid file or a caller's request can make
// happen may end here: those have errors of their own with the texts users see.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <string_view>

#include "core/errors.h"

namespace core {

// The message reads "<source file>:<line>: internal check failed (a damaged file or a bug):
// <what>", the source file relative to the project's root.
class EInternalError : public Exception {
 public:
  EInternalError(std::string_view what, const std::source_location& where);

  const std::string& File() const { return file_; }
  std::uint32_t Line() const { return line_; }
  const std::string& Check() const { return check_; }

 private:
  std::string file_;
  std::uint32_t line_;
  std::string check_;
};

// Raises EInternalError naming the line that calls it.
[[noreturn]] void ThrowInternal(std::string_view what,
                                std::source_location where = std::source_location::current());

}  // namespace core

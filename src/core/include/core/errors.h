// The exception hierarchy shared by every layer.
//
// Errors are exceptions throughout the program. `Exception` is the root; the dataset
// framework and our own components raise `EDatabaseError`; the DAO layer raises
// `EOleException` carrying DAO's error number and text. Everything a file can make
// happen is reported through one of these, never through an assert.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace core {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Raised by the dataset framework and by the database components.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
};

// A text could not be turned into a number, a date or another value.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A variant could not be converted to the kind asked for.
class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

// An outside file could not be read, written or understood. The message names the file.
class EFileError : public Exception {
 public:
  using Exception::Exception;
};

// A failure reported by an automation object, with the fields of its error record.
class EOleException : public Exception {
 public:
  EOleException(const std::string& description, std::int32_t error_code, const std::string& source,
                const std::string& help_file = {}, std::int32_t help_context = 0)
      : Exception(description),
        error_code_(error_code),
        source_(source),
        help_file_(help_file),
        help_context_(help_context) {}

  std::int32_t ErrorCode() const { return error_code_; }
  const std::string& Source() const { return source_; }
  std::string Description() const { return what(); }
  const std::string& HelpFile() const { return help_file_; }
  std::int32_t HelpContext() const { return help_context_; }

 private:
  std::int32_t error_code_;
  std::string source_;
  std::string help_file_;
  std::int32_t help_context_;
};

// Raised to leave an operation quietly (an error event answered "abort"). The
// application's top-level handler shows nothing for it.
class EAbort : public Exception {
 public:
  EAbort() : Exception("Operation aborted") {}
};

// Raises EDatabaseError with the given message.
[[noreturn]] inline void DatabaseError(const std::string& message) {
  throw EDatabaseError(message);
}

}  // namespace core

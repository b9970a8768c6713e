// Errors of the Jet storage engine.
//
// Two kinds of failure leave this layer:
// - `CorruptDatabase`: the bytes of a file are not what a Jet database can hold. Every such
//   error is raised through `ThrowCorrupt`, which names the file and, where known, the
//   table, page, row and field, then says what was expected. Nothing a file contains may
//   reach an assert or undefined behaviour instead.
// - `JetError`: a request the engine refuses (a table that exists already, a value that does
//   not fit its column, a write to a read-only file). It carries a code the DAO layer maps
//   to its own error numbers.
// Operating-system failures of the file seam are `core::EFileError` (see core/file.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/errors.h"

namespace jet {

inline constexpr std::uint32_t kNoPage = 0xFFFFFFFFu;

// Where in a database a problem was noticed; empty parts are left out of the message.
struct Location {
  std::string_view file = {};
  std::string_view table = {};
  std::uint32_t page = kNoPage;
  int row = -1;
  std::string_view field = {};
};

class CorruptDatabase : public core::EFileError {
 public:
  CorruptDatabase(const std::string& message, std::string file, std::uint32_t page)
      : core::EFileError(message), file_(std::move(file)), page_(page) {}
  const std::string& File() const { return file_; }
  std::uint32_t Page() const { return page_; }

 private:
  std::string file_;
  std::uint32_t page_;
};

// "<file>: damaged database (table 'T', page 12, row 3, field 'F'): <what>"
std::string DescribeLocation(const Location& at);
[[noreturn]] void ThrowCorrupt(const Location& at, std::string_view what);

enum class ErrorCode {
  kGeneral,
  kNotADatabase,        // the file is no Jet database at all
  kUnsupportedVersion,  // a Jet/ACE version we do not handle
  kPasswordProtected,   // a database password is set
  kReadOnly,            // a write to a database opened for reading
  kAlreadyExists,       // create over an existing file, a table name in use
  kNotFound,            // no such table or column
  kLocked,              // another writer has the file
  kInvalidDefinition,   // a table or column definition Jet cannot store
  kUnsupportedType,     // a column type code this engine cannot read or write
  kValueInvalid,        // a value does not fit its column
  kNullNotAllowed,      // a required column left Null
  kRowTooLarge,         // the encoded row exceeds what a page holds
  kDatabaseFull,        // the 2 GiB limit
  kDuplicateKey,        // a unique index refused the row (raised by the index module)
};

class JetError : public core::EDatabaseError {
 public:
  JetError(ErrorCode code, const std::string& message)
      : core::EDatabaseError(message), code_(code) {}
  ErrorCode Code() const { return code_; }

 private:
  ErrorCode code_;
};

[[noreturn]] void ThrowJet(ErrorCode code, const std::string& message);

}  // namespace jet

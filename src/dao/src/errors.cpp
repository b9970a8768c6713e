// DAO's errors: the texts of its numbers, how a failure of this layer or of the storage
// engine becomes one and is recorded, and DBEngine.Errors.
#include "dao/errors.h"

#include <algorithm>
#include <array>
#include <new>

#include "jet/errors.h"
#include "jet/index_key.h"
#include "state.h"

namespace dao {
namespace {

struct Text {
  int number;
  const char* pattern;  // '|' is the first insert, '^' the second
};

// DAO 3.6's messages; "the Microsoft Jet database engine" reads "the database engine".
constexpr std::array kTexts = {
    Text{7, "Out of memory."},
    Text{3001, "Invalid argument."},
    Text{3010, "Table '|' already exists."},
    Text{3011,
         "The database engine could not find the object '|'. Make sure the object exists and "
         "that you spell its name and the path name correctly."},
    Text{3012, "Object '|' already exists."},
    Text{3015,
         "'|' is not an index in this table. Look in the Indexes collection of the TableDef "
         "object to determine the valid index names."},
    Text{3018, "Could not find field '|'."},
    Text{3019, "Operation invalid without a current index."},
    Text{3020, "Update or CancelUpdate without AddNew or Edit."},
    Text{3021, "No current record."},
    Text{3022,
         "The changes you requested to the table were not successful because they would create "
         "duplicate values in the index, primary key, or relationship. Change the data in the "
         "field or fields that contain duplicate data, remove the index, or redefine the index "
         "to permit duplicate entries and try again."},
    Text{3023, "AddNew or Edit already used."},
    Text{3024, "Could not find file '|'."},
    Text{3026, "Not enough space on disk."},
    Text{3027, "Cannot update. Database or object is read-only."},
    Text{3031, "Not a valid password."},
    Text{3034, "You tried to commit or roll back a transaction without first using BeginTrans."},
    Text{3043, "Disk or network error."},
    Text{3044,
         "'|' is not a valid path. Make sure that the path name is spelled correctly and that "
         "you are connected to the server on which the file resides."},
    Text{3045, "Could not use '|'; file already in use."},
    Text{3047, "Record is too large."},
    Text{3049,
         "Cannot open database '|'. It may not be a database that your application recognizes, "
         "or the file may be corrupt."},
    Text{3051,
         "The database engine cannot open the file '|'. It is already opened exclusively by "
         "another user, or you need permission to view its data."},
    Text{3058, "Index or primary key cannot contain a Null value."},
    Text{3061, "Too few parameters. Expected |."},
    Text{3065, "Cannot execute a select query."},
    Text{3078,
         "The database engine cannot find the input table or query '|'. Make sure it exists "
         "and that its name is spelled correctly."},
    Text{3113, "Cannot update '|'; field not updatable."},
    Text{3125,
         "'|' is not a valid name. Make sure that it does not include invalid characters "
         "or punctuation and that it is not too long."},
    Text{3159, "Not a valid bookmark."},
    Text{3170, "Could not find installable ISAM."},
    Text{3163,
         "The field is too small to accept the amount of data you attempted to add. Try "
         "inserting or pasting less data."},
    Text{3164, "Field cannot be updated."},
    Text{3167, "Record is deleted."},
    Text{3204, "Database already exists."},
    Text{3211,
         "The database engine could not lock table '|' because it is already in use by another "
         "person or process."},
    Text{3219, "Invalid operation."},
    Text{3251, "Operation is not supported for this type of object."},
    Text{3259, "Invalid field data type."},
    Text{3264, "No field defined --cannot append TableDef or Index."},
    Text{3265, "Item not found in this collection."},
    Text{3266, "Cannot append a Field that is already a part of a Fields collection."},
    Text{3268, "Cannot set this property once the object is part of a collection."},
    Text{3269, "Cannot append an Index that is already a part of an Indexes collection."},
    Text{3270, "Property not found."},
    Text{3277, "Cannot have more than 10 fields in an index."},
    Text{3283, "Primary key already exists."},
    Text{3284, "Index already exists."},
    Text{3309, "Property setting cannot be larger than 2K."},
    Text{3314,
         "The field '|' cannot contain a Null value because the Required property for this "
         "field is set to True. Enter a value in this field."},
    Text{3315, "Field '|' cannot be a zero-length string."},
    Text{3343, "Unrecognized database format '|'."},
    Text{3349, "Numeric field overflow."},
    Text{3367, "Cannot append. An object with that name already exists in the collection."},
    Text{3384, "Cannot delete a built-in property."},
    Text{3385, "User-defined properties don't support a Null value."},
    Text{3420, "Object invalid or no longer set."},
    Text{3421, "Data type conversion error."},
    Text{3424, "Cannot create database because the locale is invalid."},
};

}  // namespace

std::int32_t HelpContextOf(int number) {
  return 5000000 + number;
}

std::string ErrorText(int number, std::string_view insert1, std::string_view insert2) {
  auto it =
      std::find_if(kTexts.begin(), kTexts.end(), [&](const Text& t) { return t.number == number; });
  if (it == kTexts.end()) return "Error " + std::to_string(number) + ".";
  std::string out;
  for (const char* p = it->pattern; *p; ++p) {
    if (*p == '|')
      out += insert1;
    else if (*p == '^')
      out += insert2;
    else
      out += *p;
  }
  return out;
}

core::EOleException MakeError(int number, std::string_view source, std::string_view insert1,
                              std::string_view insert2) {
  return core::EOleException(ErrorText(number, insert1, insert2), number, std::string(source),
                             kHelpFile, HelpContextOf(number));
}

namespace detail {

// ---- recording and raising ----

void Record(EngineState& engine, const core::EOleException& error) {
  engine.errors.clear();
  engine.errors.push_back(Error{error.ErrorCode(), error.Source(), error.Description(),
                                error.HelpFile(), error.HelpContext()});
}

void Raise(EngineState& engine, int number, std::string_view source, std::string_view insert1,
           std::string_view insert2) {
  core::EOleException e = MakeError(number, source, insert1, insert2);
  Record(engine, e);
  throw e;
}

void RaiseText(EngineState& engine, int number, std::string_view source,
               const std::string& description) {
  core::EOleException e(description, number, std::string(source), kHelpFile, HelpContextOf(number));
  Record(engine, e);
  throw e;
}

std::string WithDetail(int number, const std::string& detail) {
  std::string text = ErrorText(number);
  if (detail.empty() || detail == text) return text;
  return text + " (" + detail + ")";
}

namespace {

int NumberOfJetError(jet::ErrorCode code) {
  switch (code) {
    case jet::ErrorCode::kDuplicateKey:
      return err::kDuplicateKey;
    case jet::ErrorCode::kNullNotAllowed:
      return err::kNullInIndex;
    case jet::ErrorCode::kReadOnly:
      return err::kReadOnly;
    case jet::ErrorCode::kRowTooLarge:
      return err::kRecordTooLarge;
    case jet::ErrorCode::kDatabaseFull:
      return err::kDiskFull;
    case jet::ErrorCode::kValueInvalid:
      return err::kConversionError;
    case jet::ErrorCode::kNotFound:
      return err::kObjectNotFound;
    case jet::ErrorCode::kAlreadyExists:
      return err::kObjectExists;
    case jet::ErrorCode::kLocked:
      return err::kFileInUse;
    case jet::ErrorCode::kPasswordProtected:
      return err::kInvalidPassword;
    case jet::ErrorCode::kNotADatabase:
    case jet::ErrorCode::kUnsupportedVersion:
      return err::kUnrecognizedFormat;
    case jet::ErrorCode::kUnsupportedType:
      return err::kInvalidFieldType;
    case jet::ErrorCode::kInvalidDefinition:
    case jet::ErrorCode::kGeneral:
      return err::kInvalidArgument;
  }
  return err::kInvalidArgument;
}

}  // namespace

void RethrowAsDao(EngineState& engine, std::string_view source) {
  try {
    throw;
  } catch (const core::EOleException& e) {
    Record(engine, e);
    throw;
  } catch (const jet::JetError& e) {
    int number = NumberOfJetError(e.Code());
    // These two are DAO's own words already; the rest keep the engine's explanation.
    std::string text = (number == err::kDuplicateKey || number == err::kNullInIndex)
                           ? ErrorText(number)
                           : WithDetail(number, e.what());
    RaiseText(engine, number, source, text);
  } catch (const jet::CorruptDatabase& e) {
    RaiseText(engine, err::kCorruptDatabase, source,
              ErrorText(err::kCorruptDatabase, e.File()) + " (" + e.what() + ")");
  } catch (const core::EFileError& e) {
    RaiseText(engine, err::kDiskError, source, WithDetail(err::kDiskError, e.what()));
  } catch (const jet::KeyEncodingError& e) {
    RaiseText(engine, err::kInvalidOperation, source, WithDetail(err::kInvalidOperation, e.what()));
  } catch (const std::bad_alloc&) {
    Raise(engine, err::kOutOfMemory, source);
  } catch (const std::exception& e) {
    RaiseText(engine, err::kInvalidArgument, source, WithDetail(err::kInvalidArgument, e.what()));
  }
}

}  // namespace detail

// ---- Errors ----

Errors::Errors(std::shared_ptr<detail::EngineState> engine) : engine_(std::move(engine)) {}

int Errors::Count() const {
  return static_cast<int>(engine_->errors.size());
}

const Error& Errors::Item(int index) const {
  if (index < 0 || index >= Count()) {
    // Looking up a missing error is itself an error, but it must not replace the list.
    throw MakeError(err::kItemNotFound, source::kErrors);
  }
  return engine_->errors[static_cast<std::size_t>(index)];
}

}  // namespace dao

#include "bde/source_reader.h"

#include "bde/dbf_reader.h"
#include "bde/paradox_reader.h"
#include "core/errors.h"

namespace bde {

const char* SourceFieldTypeName(SourceFieldType type) {
  switch (type) {
    case SourceFieldType::Unknown:
      return "ftUnknown";
    case SourceFieldType::String:
      return "ftString";
    case SourceFieldType::Smallint:
      return "ftSmallint";
    case SourceFieldType::Integer:
      return "ftInteger";
    case SourceFieldType::Word:
      return "ftWord";
    case SourceFieldType::Boolean:
      return "ftBoolean";
    case SourceFieldType::Float:
      return "ftFloat";
    case SourceFieldType::Currency:
      return "ftCurrency";
    case SourceFieldType::BCD:
      return "ftBCD";
    case SourceFieldType::Date:
      return "ftDate";
    case SourceFieldType::Time:
      return "ftTime";
    case SourceFieldType::DateTime:
      return "ftDateTime";
    case SourceFieldType::Bytes:
      return "ftBytes";
    case SourceFieldType::VarBytes:
      return "ftVarBytes";
    case SourceFieldType::AutoInc:
      return "ftAutoInc";
    case SourceFieldType::Blob:
      return "ftBlob";
    case SourceFieldType::Memo:
      return "ftMemo";
    case SourceFieldType::Graphic:
      return "ftGraphic";
    case SourceFieldType::FmtMemo:
      return "ftFmtMemo";
    case SourceFieldType::ParadoxOle:
      return "ftParadoxOle";
    case SourceFieldType::DBaseOle:
      return "ftDBaseOle";
  }
  return "ftUnknown";
}

bool IsBlobType(SourceFieldType type) {
  return type >= SourceFieldType::Blob && type <= SourceFieldType::DBaseOle;
}

bool SourceReader::TextValue(int field, std::string& out) {
  const core::Variant v = Value(field);
  if (v.IsNullOrEmpty()) return false;
  out = v.ToString();
  return true;
}

bool SourceReader::NumberValue(int field, double& out) {
  const core::Variant v = Value(field);
  if (v.IsNullOrEmpty()) return false;
  out = v.ToDouble();
  return true;
}

bool SourceReader::IntegerValue(int field, std::int32_t& out) {
  const core::Variant v = Value(field);
  if (v.IsNullOrEmpty()) return false;
  out = v.ToLong();
  return true;
}

bool SourceReader::DateTimeValue(int field, core::TimeStamp& out) {
  const core::Variant v = Value(field);
  if (v.IsNullOrEmpty()) return false;
  out = core::DateTimeToTimeStamp(v.ToDate());
  return true;
}

std::string SourceReader::CodePageText() const {
  return (code_page_ == kUtf8CodePage ? std::string("UTF-8") : std::to_string(code_page_)) + ", " +
         CodePageOriginText(code_page_origin_);
}

int SourceReader::SettleCodePage(int marked, int cpg, const ReaderOptions& options,
                                 const std::function<void(CodePageGuesser&)>& sample) {
  auto checked = [&](int cp) {
    try {
      CheckCodePage(cp);
    } catch (const core::Exception& e) {
      Fail(e.what());
    }
    return NormalizeCodePage(cp);
  };
  // A page the user names must exist even where it is not needed.
  if (options.code_page != 0) checked(options.code_page);
  if (options.force_code_page != 0) {
    code_page_origin_ = CodePageOrigin::Forced;
    return code_page_ = checked(options.force_code_page);
  }
  if (marked != 0 && !CanDecodeCodePage(marked)) {
    Warn("the table's code page " + std::to_string(marked) +
         " cannot be decoded; it is read as a table that names none");
    marked = 0;
  }
  if (marked != 0) {
    code_page_origin_ = CodePageOrigin::Marked;
    return code_page_ = NormalizeCodePage(marked);
  }
  if (cpg != 0 && CanDecodeCodePage(cpg)) {
    code_page_origin_ = CodePageOrigin::CompanionFile;
    return code_page_ = NormalizeCodePage(cpg);
  }
  if (options.code_page != 0) {
    code_page_origin_ = CodePageOrigin::Option;
    return code_page_ = checked(options.code_page);
  }
  const int fallback = checked(options.default_code_page);
  CodePageGuesser guesser;
  if (sample) sample(guesser);
  const int guess = guesser.Guess(fallback);
  if (guess != 0) {
    code_page_origin_ = CodePageOrigin::Detected;
    code_page_ = guess;
    Warn("the table names no code page; its text reads as " +
         (guess == kUtf8CodePage ? std::string("UTF-8") : "code page " + std::to_string(guess)) +
         " and is read so (--force-codepage chooses another)");
    return code_page_;
  }
  code_page_origin_ = CodePageOrigin::Default;
  code_page_ = fallback;
  if (guesser.HasHighBytes())
    Warn(
        "the table names no code page and its text does not show which; it is read as code "
        "page " +
        std::to_string(fallback) + " (--codepage chooses another)");
  return code_page_;
}

void SourceReader::Fail(const std::string& what) const {
  throw core::EFileError(path_ + ": " + what);
}

void SourceReader::FailField(int field, const std::string& what) const {
  std::string name = field >= 0 && field < static_cast<int>(fields_.size()) ? fields_[field].name
                                                                            : std::to_string(field);
  throw core::EFileError(path_ + ": record " + std::to_string(record_number_) + ", field " + name +
                         ": " + what);
}

std::unique_ptr<SourceReader> OpenSourceTable(const std::string& path, const ReaderOptions& options,
                                              core::FileSystem& fs) {
  const std::string ext = core::ExtensionOf(path);
  if (core::EqualsIgnoringCase(ext, ".dbf")) return std::make_unique<DbfReader>(path, options, fs);
  if (core::EqualsIgnoringCase(ext, ".db"))
    return std::make_unique<ParadoxReader>(path, options, fs);
  throw core::EFileError(
      path + ": unknown table type: the file name must end in .dbf (dBase) or .db (Paradox)");
}

}  // namespace bde

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
                                              FileSystem& fs) {
  const std::string ext = ExtensionOf(path);
  if (EqualsIgnoringCase(ext, ".dbf")) return std::make_unique<DbfReader>(path, options, fs);
  if (EqualsIgnoringCase(ext, ".db")) return std::make_unique<ParadoxReader>(path, options, fs);
  throw core::EFileError(
      path + ": unknown table type: the file name must end in .dbf (dBase) or .db (Paradox)");
}

}  // namespace bde

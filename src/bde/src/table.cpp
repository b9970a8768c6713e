#include "bde/table.h"

#include <cstring>

#include "core/datetime.h"
#include "dataset/classes.h"

namespace bde {
namespace {

// Record buffer: this header, the raw record copy, then the calculated-field area.
struct BufferHeader {
  std::int32_t index;          // live-record index
  std::int32_t flag;           // TBookmarkFlag
  std::int64_t record_number;  // position in the file, for messages
};
constexpr std::size_t kHeaderSize = sizeof(BufferHeader);

BufferHeader Header(const std::uint8_t* buffer) {
  BufferHeader h;
  std::memcpy(&h, buffer, sizeof h);
  return h;
}
void PutHeader(std::uint8_t* buffer, const BufferHeader& h) {
  std::memcpy(buffer, &h, sizeof h);
}

bool IsCalculated(const ds::TField* f) {
  return f->FieldKind() == ds::fkCalculated || f->FieldKind() == ds::fkLookup ||
         f->FieldKind() == ds::fkInternalCalc;
}

// The longest prefix of `s` of at most `max` bytes that does not cut a UTF-8 sequence.
std::size_t Utf8Prefix(const std::string& s, std::size_t max) {
  if (s.size() <= max) return s.size();
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

// The text fields of a source table hand over their whole value. The framework keeps text in
// record buffers that end at the first NUL, while a NUL inside a dBase text is part of the
// value ("ab<NUL>cd" would reach the destination as "ab", and "<NUL>xy" as an empty text).
class SourceStringField : public ds::TStringField {
 public:
  using ds::TStringField::TStringField;

 protected:
  std::string GetAsString() const override {
    std::string text;
    static_cast<const TTable*>(DataSet())->FieldText(this, text);
    return text;
  }
  bool GetTextUnlessNull(std::string& out) const override {
    if (FieldKind() != ds::fkData) return ds::TStringField::GetTextUnlessNull(out);
    return static_cast<const TTable*>(DataSet())->FieldText(this, out);
  }
  ds::Variant GetAsVariant() const override {
    std::string text;
    if (!static_cast<const TTable*>(DataSet())->FieldText(this, text)) return ds::Variant::Null();
    return ds::Variant(std::move(text));
  }
};

}  // namespace

TTable::TTable(ds::TComponent* owner) : ds::TDataSet(owner) {}

TTable::~TTable() {
  Close();
}

void TTable::SetDatabaseName(const std::string& name) {
  if (name == database_name_) return;
  CheckInactive();
  database_name_ = name;
}

void TTable::SetTableName(const std::string& name) {
  if (name == table_name_) return;
  CheckInactive();
  table_name_ = name;
}

void TTable::SetOptions(const ReaderOptions& options) {
  CheckInactive();
  options_ = options;
}

void TTable::SetFileSystem(core::FileSystem* fs) {
  CheckInactive();
  fs_ = fs;
}

std::string TTable::TablePath() const {
  if (database_name_.empty()) return table_name_;
  const char last = database_name_.back();
  const bool delimited = last == '/'
#if defined(_WIN32)
                         || last == '\\' || last == ':'
#endif
      ;
  return delimited ? database_name_ + table_name_ : database_name_ + "/" + table_name_;
}

std::unique_ptr<SourceReader> TTable::OpenReader() const {
  if (table_name_.empty()) ds::DatabaseError("Missing TableName property", this);
  return OpenSourceTable(TablePath(), options_, fs_ ? *fs_ : core::FileSystem::Native());
}

void TTable::CollectWarnings() {
  if (!reader_) return;
  for (const std::string& w : reader_->Warnings()) {
    if (!warned_.insert(w).second) continue;  // a reopened reader says it again
    warnings_.push_back(w);
    if (OnWarning) OnWarning(this, w);
  }
}

void TTable::InternalOpen() {
  warnings_.clear();
  warned_.clear();
  reader_ = OpenReader();
  raw_size_ = reader_->RecordSize();
  reader_index_ = kBeforeFirst;
  total_ = -1;
  cursor_ = kBeforeFirst;
  try {
    InternalInitFieldDefs();
    if (DefaultFields()) CreateSourceFields();
    BindFields(true);
  } catch (...) {
    reader_.reset();
    throw;
  }
  SetBookmarkSize(sizeof(std::int32_t));
  CollectWarnings();
}

void TTable::CreateSourceFields() {
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    const ds::TFieldDef& def = FieldDefs()[i];
    if (def.DataType() != ds::ftString) {
      def.CreateField(this, this);
      continue;
    }
    auto field = std::make_unique<SourceStringField>(this);
    field->SetSize(def.Size());
    field->SetFieldName(def.Name());
    field->SetRequired(def.Required());
    field->SetDataSet(this);
    field.release();  // owned by the table from here on
  }
}

bool TTable::FieldText(const ds::TField* field, std::string& text) const {
  text.clear();
  const ds::TRecordBuffer record = StateBuffer();
  const int i = field->FieldNo() - 1;
  if (!record || !reader_ || i < 0 || i >= static_cast<int>(reader_->Fields().size())) return false;
  reader_->Select(record + kHeaderSize, Header(record).record_number);
  return reader_->TextValue(i, text);
}

void TTable::InternalClose() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  reader_.reset();
}

void TTable::InternalInitFieldDefs() {
  std::unique_ptr<SourceReader> temporary;
  SourceReader* r = reader_.get();
  if (!r) {
    temporary = OpenReader();
    r = temporary.get();
  }
  FieldDefs().Clear();
  for (const FieldDescription& f : r->Fields()) {
    const auto type = static_cast<ds::TFieldType>(f.type);
    // dBase cuts names to ten characters, so two fields may share one; the later one gets a
    // number after its name, and the table says so, rather than the whole table being refused.
    std::string name = f.name;
    if (!name.empty() && FieldDefs().IndexOf(name) >= 0) {
      std::string unique;
      for (int n = 2; unique.empty() || FieldDefs().IndexOf(unique) >= 0; ++n)
        unique = name + "_" + std::to_string(n);
      const std::string warning = r->Path() + ": field " + std::to_string(FieldDefs().Count() + 1) +
                                  " is named '" + name + "' like an earlier one; it is read as '" +
                                  unique + "'";
      if (warned_.insert(warning).second) {
        warnings_.push_back(warning);
        if (OnWarning) OnWarning(this, warning);
      }
      name = unique;
    }
    try {
      ds::TFieldDef& def = FieldDefs().Add(name, type, f.size, f.required);
      def.SetPrecision(f.precision);
    } catch (const core::EDatabaseError& e) {
      // A nameless field: say which file has it.
      throw core::EFileError(r->Path() + ": " + e.what());
    }
  }
  FieldDefs().SetUpdated(true);
}

ds::TRecordBuffer TTable::AllocRecordBuffer() {
  auto* buffer = new std::uint8_t[static_cast<std::size_t>(GetRecordSize())]();
  PutHeader(buffer, BufferHeader{kBeforeFirst, static_cast<std::int32_t>(ds::bfCurrent), 0});
  return buffer;
}

void TTable::FreeRecordBuffer(ds::TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

int TTable::GetRecordSize() const {
  return static_cast<int>(kHeaderSize + raw_size_ + static_cast<std::size_t>(CalcFieldsSize()));
}

void TTable::InternalInitRecord(ds::TRecordBuffer buffer) {
  std::memset(buffer + kHeaderSize, 0, raw_size_ + static_cast<std::size_t>(CalcFieldsSize()));
}

bool TTable::MoveReaderTo(std::int32_t index) {
  if (index < reader_index_) {
    reader_ = OpenReader();
    reader_index_ = kBeforeFirst;
  }
  while (reader_index_ < index) {
    if (!reader_->Next()) {
      total_ = reader_index_ + 1;
      reader_index_ = total_;  // past the end: the reader has no current record
      CollectWarnings();
      return false;
    }
    ++reader_index_;
  }
  if (!reader_->RecordBytes()) return false;
  return true;
}

void TTable::CopyRecord(ds::TRecordBuffer buffer) const {
  PutHeader(buffer, BufferHeader{reader_index_, static_cast<std::int32_t>(ds::bfCurrent),
                                 reader_->RecordNumber()});
  std::memcpy(buffer + kHeaderSize, reader_->RecordBytes(), raw_size_);
}

ds::TGetResult TTable::GetRecord(ds::TRecordBuffer buffer, ds::TGetMode mode, bool) {
  for (;;) {
    std::int32_t target = 0;
    if (mode == ds::gmNext) {
      if (cursor_ == kAfterLast) return ds::grEOF;
      target = cursor_ == kBeforeFirst ? 0 : cursor_ + 1;
      if (!MoveReaderTo(target)) {
        cursor_ = kAfterLast;
        return ds::grEOF;
      }
    } else if (mode == ds::gmPrior) {
      if (cursor_ == kBeforeFirst) return ds::grBOF;
      if (cursor_ == kAfterLast) {
        if (total_ < 0) MoveReaderTo(kAfterLast - 1);  // learn how many records there are
        target = total_ - 1;
      } else {
        target = cursor_ - 1;
      }
      if (target < 0 || !MoveReaderTo(target)) {
        cursor_ = kBeforeFirst;
        return ds::grBOF;
      }
    } else {
      if (cursor_ == kBeforeFirst || cursor_ == kAfterLast) return ds::grError;
      target = cursor_;
      if (!MoveReaderTo(target)) return ds::grError;
    }
    cursor_ = target;
    CopyRecord(buffer);
    GetCalcFields(buffer);
    if (RecordFilterAccepts(buffer)) return ds::grOK;
    if (mode == ds::gmCurrent) return ds::grError;
  }
}

void TTable::ClearCalcFields(ds::TRecordBuffer buffer) {
  std::memset(buffer + kHeaderSize + raw_size_, 0, static_cast<std::size_t>(CalcFieldsSize()));
}

void TTable::InternalFirst() {
  cursor_ = kBeforeFirst;
}

void TTable::InternalLast() {
  cursor_ = kAfterLast;
}

void TTable::InternalSetToRecord(ds::TRecordBuffer buffer) {
  cursor_ = Header(buffer).index;
}

void TTable::InternalGotoBookmark(const std::uint8_t* bookmark) {
  std::int32_t index = 0;
  std::memcpy(&index, bookmark, sizeof index);
  if (index < 0 || !MoveReaderTo(index)) ds::DatabaseError("Record not found", this);
  cursor_ = index;
}

ds::TBookmarkFlag TTable::GetBookmarkFlag(ds::TRecordBuffer buffer) const {
  return static_cast<ds::TBookmarkFlag>(Header(buffer).flag);
}

void TTable::SetBookmarkFlag(ds::TRecordBuffer buffer, ds::TBookmarkFlag flag) {
  BufferHeader h = Header(buffer);
  h.flag = static_cast<std::int32_t>(flag);
  PutHeader(buffer, h);
}

void TTable::GetBookmarkData(ds::TRecordBuffer buffer, void* data) const {
  if (buffer && data) {
    const std::int32_t index = Header(buffer).index;
    std::memcpy(data, &index, sizeof index);
  }
}

void TTable::SetBookmarkData(ds::TRecordBuffer buffer, const void* data) {
  if (buffer && data) {
    BufferHeader h = Header(buffer);
    std::memcpy(&h.index, data, sizeof h.index);
    PutHeader(buffer, h);
  }
}

int TTable::GetRecordCount() const {
  if (!reader_) return -1;
  const std::int64_t n = reader_->RecordCount();
  return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
}

int TTable::GetRecNo() const {
  if (!reader_ || IsEmpty()) return -1;
  const ds::TRecordBuffer buffer = ActiveBuffer();
  if (GetBookmarkFlag(buffer) != ds::bfCurrent) return -1;
  return Header(buffer).index + 1;
}

ds::TRecordBuffer TTable::StateBuffer() const {
  switch (State()) {
    case ds::dsCalcFields:
    case ds::dsInternalCalc:
      return CalcBuffer();
    case ds::dsFilter:
      return FilterBuffer();
    case ds::dsInactive:
    case ds::dsOpening:
      return nullptr;
    default:
      return IsEmpty() ? nullptr : ActiveBuffer();
  }
}

bool TTable::GetFieldData(ds::TField* field, void* buffer) const {
  const ds::TRecordBuffer record = StateBuffer();
  if (!record || !reader_) return false;
  if (IsCalculated(field)) {
    const std::uint8_t* at = record + kHeaderSize + raw_size_ + field->Offset();
    if (at[0] == 0) return false;
    if (buffer) std::memcpy(buffer, at + 1, static_cast<std::size_t>(field->DataSize()));
    return true;
  }
  const int i = field->FieldNo() - 1;
  if (i < 0 || i >= static_cast<int>(reader_->Fields().size())) return false;
  reader_->Select(record + kHeaderSize, Header(record).record_number);
  if (field->IsBlob()) return !reader_->IsNull(i);
  switch (field->DataType()) {
    case ds::ftString:
    case ds::ftFixedChar: {
      if (!reader_->TextValue(i, text_)) return false;
      if (buffer) {
        const std::size_t n = Utf8Prefix(text_, static_cast<std::size_t>(field->DataSize()) - 1);
        std::memcpy(buffer, text_.data(), n);
        static_cast<char*>(buffer)[n] = '\0';
      }
      return true;
    }
    case ds::ftSmallint:
    case ds::ftInteger:
    case ds::ftWord:
    case ds::ftAutoInc: {
      std::int32_t n = 0;
      if (!reader_->IntegerValue(i, n)) return false;
      if (buffer) std::memcpy(buffer, &n, sizeof n);
      return true;
    }
    case ds::ftFloat:
    case ds::ftCurrency:
    case ds::ftBCD: {
      double d = 0;
      if (!reader_->NumberValue(i, d)) return false;
      if (buffer) std::memcpy(buffer, &d, sizeof d);
      return true;
    }
    case ds::ftDate:
    case ds::ftTime:
    case ds::ftDateTime: {
      core::TimeStamp t;
      if (!reader_->DateTimeValue(i, t)) return false;
      if (!buffer) return true;
      if (field->DataType() == ds::ftDate) {
        std::memcpy(buffer, &t.Date, sizeof t.Date);
      } else if (field->DataType() == ds::ftTime) {
        std::memcpy(buffer, &t.Time, sizeof t.Time);
      } else {
        const double ms = static_cast<double>(t.Date) * core::kMsPerDay + t.Time;
        std::memcpy(buffer, &ms, sizeof ms);
      }
      return true;
    }
    default:
      break;
  }
  const core::Variant v = reader_->Value(i);
  if (v.IsNullOrEmpty()) return false;
  if (!buffer) return true;
  switch (field->DataType()) {
    case ds::ftBoolean: {
      const std::int16_t b = v.ToBoolean() ? 1 : 0;
      std::memcpy(buffer, &b, sizeof b);
      break;
    }
    case ds::ftBytes: {
      const auto& bytes = v.Bytes();
      const std::size_t size = static_cast<std::size_t>(field->DataSize());
      std::memset(buffer, 0, size);
      std::memcpy(buffer, bytes.data(), std::min(size, bytes.size()));
      break;
    }
    case ds::ftVarBytes: {
      const auto& bytes = v.Bytes();
      const std::uint16_t n = static_cast<std::uint16_t>(
          std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(field->Size())));
      auto* out = static_cast<std::uint8_t*>(buffer);
      out[0] = static_cast<std::uint8_t>(n & 0xFF);
      out[1] = static_cast<std::uint8_t>(n >> 8);
      std::memcpy(out + 2, bytes.data(), n);
      break;
    }
    default:
      return false;
  }
  return true;
}

void TTable::SetFieldData(ds::TField* field, const void* buffer) {
  // Only calculated fields take values: the table itself is read-only.
  const ds::TRecordBuffer record = StateBuffer();
  if (!IsCalculated(field) || !record ||
      (State() != ds::dsCalcFields && State() != ds::dsInternalCalc))
    ds::DatabaseError("Cannot modify a read-only dataset", this);
  std::uint8_t* at = record + kHeaderSize + raw_size_ + field->Offset();
  at[0] = buffer ? 1 : 0;
  if (buffer) std::memcpy(at + 1, buffer, static_cast<std::size_t>(field->DataSize()));
}

std::unique_ptr<ds::TStream> TTable::CreateBlobStream(ds::TField* field, ds::TBlobStreamMode mode) {
  if (mode != ds::bmRead) ds::DatabaseError("Cannot modify a read-only dataset", this);
  const ds::TRecordBuffer record = StateBuffer();
  std::string bytes;
  const int i = field->FieldNo() - 1;
  if (record && reader_ && i >= 0 && i < static_cast<int>(reader_->Fields().size())) {
    reader_->Select(record + kHeaderSize, Header(record).record_number);
    if (field->DataType() == ds::ftMemo) {
      // Memo text is handed on as UTF-8; every other blob as the bytes stored.
      const core::Variant v = reader_->Value(i);
      if (!v.IsNullOrEmpty()) bytes = v.ToString();
    } else {
      const std::vector<std::uint8_t> raw = reader_->BlobBytes(i);
      bytes.assign(raw.begin(), raw.end());
    }
  }
  return std::make_unique<ds::TMemoryStream>(bytes);
}

}  // namespace bde

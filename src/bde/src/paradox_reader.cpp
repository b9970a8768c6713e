#include "bde/paradox_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "bde/paradox_format.h"
#include "bytes.h"
#include "core/errors.h"
#include "values.h"

namespace bde {
namespace {

using namespace px;

struct TypeInfo {
  std::uint8_t code;
  char letter;
  SourceFieldType type;
  int fixed;  // bytes in the record, 0 = the size byte says
};

constexpr TypeInfo kTypes[] = {
    {kAlpha, 'A', SourceFieldType::String, 0},
    {kDate, 'D', SourceFieldType::Date, 4},
    {kShort, 'S', SourceFieldType::Smallint, 2},
    {kLong, 'I', SourceFieldType::Integer, 4},
    {kMoney, '$', SourceFieldType::Currency, 8},
    {kNumber, 'N', SourceFieldType::Float, 8},
    {kLogical, 'L', SourceFieldType::Boolean, 1},
    {kMemo, 'M', SourceFieldType::Memo, 0},
    {kBinary, 'B', SourceFieldType::Blob, 0},
    {kFormattedMemo, 'F', SourceFieldType::FmtMemo, 0},
    {kOle, 'O', SourceFieldType::ParadoxOle, 0},
    {kGraphic, 'G', SourceFieldType::Graphic, 0},
    {kTime, 'T', SourceFieldType::Time, 4},
    {kTimestamp, '@', SourceFieldType::DateTime, 8},
    {kAutoIncrement, '+', SourceFieldType::AutoInc, 4},
    {kBcd, '#', SourceFieldType::BCD, kBcdStorage},
    {kBytes, 'Y', SourceFieldType::Bytes, 0},
};

const TypeInfo* FindType(std::uint8_t code) {
  for (const TypeInfo& t : kTypes)
    if (t.code == code) return &t;
  return nullptr;
}

bool IsBlobCode(std::uint8_t code) {
  return code == kMemo || code == kBinary || code == kFormattedMemo || code == kOle ||
         code == kGraphic;
}

std::string Hex(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", v);
  return buf;
}

}  // namespace

ParadoxReader::ParadoxReader(const std::string& path, const ReaderOptions& options,
                             core::FileSystem& fs)
    : SourceReader(path), fs_(fs) {
  file_ = fs_.OpenForRead(path);
  ReadHeader(options);
  OpenBlobFile(options.missing_memo_null);
  SettleCodePage(marked_, 0, options, [&](CodePageGuesser& g) { SampleText(g); });
  decoder_ = std::make_unique<TextDecoder>(code_page_);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i].name.clear();
    decoder_->Decode(raw_names_[i], fields_[i].name);
  }
  ReadValidity();
}

void ParadoxReader::SampleText(CodePageGuesser& guesser) {
  for (const std::string& name : raw_names_) guesser.Add(name);
  std::vector<int> texts;
  for (std::size_t i = 0; i < layouts_.size(); ++i)
    if (layouts_[i].code == kAlpha || (layouts_[i].code == kMemo && blob_))
      texts.push_back(static_cast<int>(i));
  if (texts.empty()) return;
  constexpr std::size_t kMemoBudget = 512 * 1024;
  std::size_t memo_bytes = 0;
  const std::size_t warnings = warnings_.size();
  try {
    // The first 8 MiB of records say enough; the copy reads the whole table anyway.
    const std::int64_t most = std::max<std::int64_t>(1, (8 << 20) / record_size_);
    while (!guesser.Full() && records_seen_ < most && Next()) {
      for (int f : texts) {
        const std::uint8_t* p = FieldBytes(f);
        if (layouts_[f].code == kAlpha) {
          const char* text = reinterpret_cast<const char*>(p);
          guesser.Add(std::string_view(text, strnlen(text, layouts_[f].length)));
        } else if (memo_bytes < kMemoBudget) {
          try {
            const std::vector<std::uint8_t> memo = BlobBytes(f);
            memo_bytes += memo.size();
            guesser.Add(std::string_view(reinterpret_cast<const char*>(memo.data()), memo.size()));
          } catch (const core::Exception&) {
          }
        }
      }
    }
  } catch (const core::Exception&) {
    // A damaged chain is reported when the records are read.
  }
  // Back to the start; what the walk noticed is said again by the real one.
  warnings_.resize(warnings);
  visited_.assign(visited_.size(), false);
  started_ = at_end_ = false;
  block_pos_ = block_records_ = 0;
  records_seen_ = 0;
  current_block_ = next_block_ = 0;
  record_ = nullptr;
  record_number_ = 0;
}

ParadoxReader::~ParadoxReader() = default;

void ParadoxReader::ReadHeader(const ReaderOptions& options) {
  const std::uint64_t size = file_->Size();
  if (size < header::kFixedSize)
    Fail("the file is too short for a Paradox header (" + std::to_string(size) + " of " +
         std::to_string(header::kFixedSize) + " bytes)");
  std::uint8_t fixed[header::kFixedSize];
  if (file_->ReadAt(0, fixed, sizeof fixed) != sizeof fixed) Fail("cannot read the header");
  const int field_count = ReadFixedHeader(fixed, size);

  std::vector<std::uint8_t> head(header_size_);
  if (file_->ReadAt(0, head.data(), head.size()) != head.size()) Fail("cannot read the header");
  const bool extended = file_version_ >= kFirstExtendedVersion;
  std::uint32_t encryption = LoadU32LE(head.data() + header::kEncryption3);
  if (extended && encryption == kEncryptionMovedMark)
    encryption = LoadU32LE(head.data() + header::kEncryption4);
  if (encryption != 0)
    Fail(
        "the table is password-protected; open it in Paradox with its password and save an "
        "unprotected copy to copy it");

  std::vector<std::string> raw_names;
  const std::vector<FieldSpec> specs = ReadFieldList(head, field_count, raw_names);
  ReadMarkedCodePage(head);
  const int provisional = options.force_code_page ? options.force_code_page
                          : marked_               ? marked_
                                                  : options.default_code_page;
  decoder_ = std::make_unique<TextDecoder>(CanDecodeCodePage(provisional) ? provisional : 1252);
  raw_names_ = raw_names;
  DescribeFields(specs, raw_names);

  blocks_in_file_ =
      static_cast<std::uint32_t>((size - header_size_ + block_size_ - 1) / block_size_);
  record_count_ = header_count_;
  const std::uint64_t most = static_cast<std::uint64_t>(blocks_in_file_) *
                             ((block_size_ - block::kRecords) / record_size_);
  if (record_count_ > static_cast<std::int64_t>(most))
    record_count_ = static_cast<std::int64_t>(most);
  if (fixed[header::kModified1] != 0 || head[header::kModified2] != 0)
    Warn("the table was not closed properly; its header may be out of date");
  visited_.assign(blocks_in_file_ + 1, false);
}

// The fixed part of the header: sizes, counts, the file type and version, each checked against
// the file's size. Gives the number of fields.
int ParadoxReader::ReadFixedHeader(const std::uint8_t* fixed, std::uint64_t size) {
  record_size_ = LoadU16LE(fixed + header::kRecordSize);
  header_size_ = LoadU16LE(fixed + header::kHeaderSize);
  const std::uint8_t file_type = fixed[header::kFileType];
  const std::uint8_t block_code = fixed[header::kBlockSizeCode];
  header_count_ = LoadU32LE(fixed + header::kRecordCount);
  first_block_ = LoadU16LE(fixed + header::kFirstBlock);
  const int field_count = LoadU16LE(fixed + header::kFieldCount);
  key_fields_ = LoadU16LE(fixed + header::kKeyFieldCount);
  change_count_ = fixed[header::kChangeCount];
  file_version_ = fixed[header::kFileVersion];

  if (file_type == 1) Fail("this is a Paradox primary index (.px), not a table");
  if (file_type >= 3 && file_type <= 8) Fail("this is a Paradox secondary index, not a table");
  if (file_type != kFileTypeKeyed && file_type != kFileTypeUnkeyed)
    Fail("unknown Paradox file type " + std::to_string(file_type) + ": not a Paradox table");
  if (file_version_ < 3 || file_version_ > 15)
    Fail("unknown Paradox file version " + std::to_string(file_version_));
  if (block_code < 1 || block_code > 32)
    Fail("invalid block size code " + std::to_string(block_code));
  block_size_ = block_code * 1024u;
  if (file_version_ <= 4)
    format_name_ = file_version_ == 3 ? "Paradox 3.0" : "Paradox 3.5";
  else if (file_version_ <= 9)
    format_name_ = "Paradox 4";
  else if (file_version_ <= 11)
    format_name_ = "Paradox 5";
  else
    format_name_ = "Paradox 7";
  const bool extended = file_version_ >= kFirstExtendedVersion;
  const std::size_t fields_at = extended ? header::kExtendedSize : header::kFixedSize;
  if (record_size_ == 0) Fail("the record size is 0");
  if (header_size_ < fields_at || header_size_ > size)
    Fail("invalid header size " + std::to_string(header_size_) + " (file of " +
         std::to_string(size) + " bytes)");
  if (field_count == 0) Fail("the table has no fields");
  if (record_size_ + block::kRecords > block_size_)
    Fail("records of " + std::to_string(record_size_) + " bytes do not fit in blocks of " +
         std::to_string(block_size_));
  return field_count;
}

// Field types and sizes, then pointers and the table name, then the field names, and in the
// extended header the field numbers and the sort order's name.
std::vector<ParadoxReader::FieldSpec> ParadoxReader::ReadFieldList(
    const std::vector<std::uint8_t>& head, int field_count, std::vector<std::string>& raw_names) {
  const bool extended = file_version_ >= kFirstExtendedVersion;
  std::size_t pos = extended ? header::kExtendedSize : header::kFixedSize;
  auto need = [&](std::size_t n, const char* what) {
    if (pos + n > head.size()) Fail(std::string("the header ends inside the ") + what);
  };
  need(2u * field_count, "field list");
  std::vector<FieldSpec> specs;
  for (int i = 0; i < field_count; ++i, pos += 2) specs.push_back({head[pos], head[pos + 1]});
  pos += kPointerSize + kPointerSize * field_count;
  pos += file_version_ >= kLongTableNameVersion ? kLongTableNameSize : kTableNameSize;
  for (int i = 0; i < field_count; ++i) {
    need(1, "field names");
    const char* start = reinterpret_cast<const char*>(head.data() + pos);
    const std::size_t len = strnlen(start, head.size() - pos);
    if (pos + len >= head.size()) Fail("the header ends inside the field names");
    raw_names.emplace_back(start, len);
    pos += len + 1;
  }
  if (extended) {
    pos += 2u * field_count;  // field numbers
    if (pos < head.size()) {
      const char* start = reinterpret_cast<const char*>(head.data() + pos);
      sort_order_.assign(start, strnlen(start, head.size() - pos));
    }
  }
  return specs;
}

// The code page the header names: its number, else the sort order's. It is settled once the
// records can be sampled (a table that names none is guessed from its text).
void ParadoxReader::ReadMarkedCodePage(const std::vector<std::uint8_t>& head) {
  if (file_version_ >= kFirstExtendedVersion) {
    marked_ = NormalizeCodePage(LoadU16LE(head.data() + header::kCodePage));
    if (marked_ == 0) marked_ = CodePageFromDriverName(sort_order_);
  } else {
    // Paradox 3 names only its sort order, by a short code; the engine read the text with
    // that driver's code page. Only codes no other driver shares are taken.
    switch (head[header::kSortOrder]) {
      case 0x00:  // ascii
      case 0xB7:  // intl
        marked_ = 437;
        break;
      case 0x0D:  // czech
      case 0xB1:  // hun852dc
        marked_ = 852;
        break;
      case 0xE2:  // cskamen
        marked_ = 895;
        break;
      default:
        break;
    }
  }
}

// The field descriptions and their places in a record, which must fill the record exactly.
void ParadoxReader::DescribeFields(const std::vector<FieldSpec>& specs,
                                   const std::vector<std::string>& raw_names) {
  int offset = 0;
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const auto [code, size_byte] = specs[i];
    FieldDescription fd;
    fd.name = decoder_->Decode(raw_names[i]);
    const TypeInfo* t = FindType(code);
    if (!t) Fail("field " + fd.name + " has the unknown type code " + Hex(code));
    fd.native_type = t->letter;
    fd.type = t->type;
    Layout l;
    l.code = code;
    l.offset = offset;
    if (code == kBcd) {
      l.length = kBcdStorage;
      if (size_byte > 32)
        Fail("BCD field " + fd.name + " has " + std::to_string(size_byte) + " decimals");
      fd.size = size_byte;
      fd.decimals = size_byte;
      fd.precision = 32;
    } else if (t->fixed != 0) {
      l.length = t->fixed;
      if (size_byte != t->fixed)
        Fail("field " + fd.name + " of type " + std::string(1, t->letter) + " has size " +
             std::to_string(size_byte) + " instead of " + std::to_string(t->fixed));
    } else {
      l.length = size_byte;
      if (size_byte == 0) Fail("field " + fd.name + " has size 0");
      if (IsBlobCode(code)) {
        if (size_byte < blob_ref::kTailSize)
          Fail("blob field " + fd.name + " has size " + std::to_string(size_byte) +
               ", less than the 10 bytes of its reference");
        fd.size = size_byte - static_cast<int>(blob_ref::kTailSize);
      } else {
        fd.size = size_byte;
      }
    }
    offset += l.length;
    fields_.push_back(std::move(fd));
    layouts_.push_back(l);
  }
  if (static_cast<std::uint32_t>(offset) != record_size_)
    Fail("the field sizes add up to " + std::to_string(offset) +
         " bytes per record but the header says " + std::to_string(record_size_));
}

void ParadoxReader::OpenBlobFile(bool null_if_missing) {
  bool needed = false;
  for (const Layout& l : layouts_)
    if (IsBlobCode(l.code)) needed = true;
  if (!needed) return;
  auto found = fs_.FindCompanion(path_, {".mb"});
  if (!found) {
    const std::string name = core::FileNameOf(path_);
    const std::string ext = core::ExtensionOf(path_);
    const bool lower = !ext.empty() && ext.back() >= 'a' && ext.back() <= 'z';
    const std::string mb = name.substr(0, name.size() - ext.size()) + (lower ? ".mb" : ".MB");
    if (null_if_missing) {
      Warn("the blob file " + mb + " is missing; memo and blob values kept in it are read as Null");
      return;
    }
    Fail("the blob file " + mb +
         " is missing (the table has memo or blob fields; --missing-memo=null reads them as "
         "Null)");
  }
  blob_path_ = *found;
  blob_ = fs_.OpenForRead(blob_path_);
}

void ParadoxReader::ReadValidity() {
  auto found = fs_.FindCompanion(path_, {".val"});
  if (!found) return;
  auto file = fs_.OpenForRead(*found);
  const std::uint64_t size = file->Size();
  const std::string name = core::FileNameOf(*found);
  if (size < val::kFirstRecord || size > (1u << 20)) {
    Warn("the validity file " + name + " is not readable; required flags are not known");
    return;
  }
  std::vector<std::uint8_t> v(size);
  if (file->ReadAt(0, v.data(), v.size()) != v.size()) return;
  if (v[val::kChangeCount] != change_count_) {
    Warn("the validity file " + name + " belongs to an older version of the table; ignored");
    return;
  }
  const int count = v[val::kRecordCount];
  const std::uint64_t end = std::min<std::uint64_t>(LoadU32LE(v.data() + val::kFooter), size);
  std::vector<bool> required(fields_.size(), false);
  std::size_t pos = val::kFirstRecord;
  for (int i = 0; i < count; ++i) {
    if (pos + val::kFixedSize > end) {
      Warn("the validity file " + name + " is damaged; required flags are not known");
      return;
    }
    const std::uint8_t* r = v.data() + pos;
    const int index = r[val::kFieldIndex];
    if (index >= static_cast<int>(fields_.size())) {
      Warn("the validity file " + name + " names a field the table does not have; ignored");
      return;
    }
    required[index] = r[val::kRequired] == 1;
    std::size_t next = pos + val::kFixedSize;
    for (std::size_t at : {val::kMinimum, val::kMaximum, val::kDefault})
      if (LoadU32LE(r + at) != 0) next += layouts_[index].length;
    next += r[val::kPictureLength];
    if (LoadU32LE(r + val::kLookup) != 0) next += val::kLookupSize;
    pos = next;
  }
  if (pos > end) {
    Warn("the validity file " + name + " is damaged; required flags are not known");
    return;
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) fields_[i].required = required[i];
}

bool ParadoxReader::LoadBlock(std::uint16_t number) {
  if (number > blocks_in_file_) {
    Warn("the block chain continues to block " + std::to_string(number) +
         ", past the end of the file; the data end after record " + std::to_string(records_seen_));
    return false;
  }
  if (visited_[number]) Fail("the block chain loops back to block " + std::to_string(number));
  visited_[number] = true;
  block_.resize(block_size_);
  const std::uint64_t offset = header_size_ + static_cast<std::uint64_t>(number - 1) * block_size_;
  const std::size_t got = file_->ReadAt(offset, block_.data(), block_.size());
  if (got < block::kRecords) {
    Warn("the file ends inside block " + std::to_string(number) + "; the data end after record " +
         std::to_string(records_seen_));
    return false;
  }
  current_block_ = number;
  next_block_ = LoadU16LE(block_.data() + block::kNext);
  const int last = static_cast<std::int16_t>(LoadU16LE(block_.data() + block::kLastOffset));
  block_pos_ = 0;
  block_records_ = 0;
  if (last >= 0) {
    if (last % record_size_ != 0 || block::kRecords + last + record_size_ > block_size_)
      Fail("block " + std::to_string(number) + " has the invalid last-record offset " +
           std::to_string(last));
    block_records_ = last / static_cast<int>(record_size_) + 1;
    const int whole = static_cast<int>((got - block::kRecords) / record_size_);
    if (whole < block_records_) {
      Warn("the file ends inside block " + std::to_string(number) + "; the data end after record " +
           std::to_string(records_seen_ + whole));
      block_records_ = whole;
      next_block_ = 0;
    }
  }
  return true;
}

bool ParadoxReader::Next() {
  if (at_end_) return false;
  if (!started_) {
    started_ = true;
    next_block_ = first_block_;
  }
  for (;;) {
    if (block_pos_ < block_records_) {
      record_ =
          block_.data() + block::kRecords + static_cast<std::size_t>(block_pos_) * record_size_;
      ++block_pos_;
      ++records_seen_;
      record_number_ = records_seen_;
      return true;
    }
    if (next_block_ == 0 || !LoadBlock(next_block_)) break;
  }
  if (records_seen_ != header_count_)
    Warn("the header announces " + std::to_string(header_count_) + " records but the table holds " +
         std::to_string(records_seen_));
  at_end_ = true;
  record_ = nullptr;
  return false;
}

bool ParadoxReader::IsNull(int field) {
  if (!record_) Fail("there is no current record");
  if (field < 0 || field >= static_cast<int>(fields_.size()))
    Fail("no field number " + std::to_string(field));
  const Layout& l = layouts_[field];
  const std::uint8_t* p = FieldBytes(field);
  if (IsBlobCode(l.code)) {
    const std::uint32_t length = LoadU32LE(p + l.length - blob_ref::kTailSize + blob_ref::kLength);
    // Without the blob file only values short enough for the record are there.
    return length == 0 || (!blob_ && length > l.length - blob_ref::kTailSize);
  }
  if (l.code == kAlpha) return p[0] == 0;
  return values::AllZero(std::string_view(reinterpret_cast<const char*>(p), l.length));
}

std::vector<std::uint8_t> ParadoxReader::BlobBytes(int field) {
  if (!record_) Fail("there is no current record");
  if (field < 0 || field >= static_cast<int>(fields_.size()))
    Fail("no field number " + std::to_string(field));
  const Layout& l = layouts_[field];
  if (!IsBlobCode(l.code)) FailField(field, "is not a memo or blob field");
  const std::uint8_t* p = FieldBytes(field);
  const std::size_t leader = l.length - blob_ref::kTailSize;
  const std::uint8_t* tail = p + leader;
  const std::uint32_t location = LoadU32LE(tail + blob_ref::kLocation);
  const std::uint32_t length = LoadU32LE(tail + blob_ref::kLength);
  std::vector<std::uint8_t> out;
  if (length == 0) return out;
  if (length <= leader) return std::vector<std::uint8_t>(p, p + length);
  if (!blob_) return out;

  const std::uint64_t block = location & 0xFFFFFF00u;
  const unsigned index = location & 0xFFu;
  const std::uint64_t size = blob_->Size();
  const std::string mb = core::FileNameOf(blob_path_);
  auto fail = [&](const std::string& what) {
    FailField(field, "blob at offset " + std::to_string(block) + " of " + mb + ": " + what);
  };
  if (block == 0) fail("the reference points at the blob file's header");
  std::uint8_t head[mb::kSingleData];
  if (block + sizeof head > size || blob_->ReadAt(block, head, sizeof head) != sizeof head)
    fail("lies past the end of the blob file (" + std::to_string(size) + " bytes)");
  std::uint64_t data = 0;
  if (index == blob_ref::kWholeBlock) {
    if (head[mb::kType] != mb::kTypeSingle)
      fail("expected a single-blob block, found type " + std::to_string(head[mb::kType]));
    const std::uint32_t stored = LoadU32LE(head + mb::kSingleLength);
    if (stored != length)
      fail("the block holds " + std::to_string(stored) + " bytes but the record says " +
           std::to_string(length));
    data = block + mb::kSingleData;
  } else {
    if (head[mb::kType] != mb::kTypeSuballocated)
      fail("expected a suballocated block, found type " + std::to_string(head[mb::kType]));
    if (index >= mb::kEntryCount) fail("entry " + std::to_string(index) + " does not exist");
    std::uint8_t e[mb::kEntrySize];
    const std::uint64_t at = block + mb::kEntries + index * mb::kEntrySize;
    if (blob_->ReadAt(at, e, sizeof e) != sizeof e) fail("the entry table is cut off");
    const unsigned chunks = e[mb::kEntryChunks];
    const unsigned last = e[mb::kEntryLastChunk];
    if (last == 0 || last > mb::kSubChunk || chunks == 0)
      fail("entry " + std::to_string(index) + " is free");
    const std::uint32_t stored = (chunks - 1) * static_cast<std::uint32_t>(mb::kSubChunk) + last;
    if (stored != length)
      fail("entry " + std::to_string(index) + " holds " + std::to_string(stored) +
           " bytes but the record says " + std::to_string(length));
    data = block + e[mb::kEntryOffset] * static_cast<std::uint64_t>(mb::kSubChunk);
    if (data + length > block + mb::kChunk)
      fail("entry " + std::to_string(index) + " runs out of its block");
  }
  if (data + length > size) fail("runs past the end of the blob file");
  out.resize(length);
  if (blob_->ReadAt(data, out.data(), length) != length) fail("cannot be read");
  return out;
}

core::Variant ParadoxReader::Value(int field) {
  if (IsNull(field)) return core::Variant::Null();
  const Layout& l = layouts_[field];
  const std::uint8_t* p = FieldBytes(field);
  switch (l.code) {
    case kAlpha: {
      const char* s = reinterpret_cast<const char*>(p);
      std::string out;
      decoder_->Decode(std::string_view(s, strnlen(s, l.length)), out);
      return core::Variant::FromString(std::move(out));
    }
    case kShort:
      return core::Variant::FromInteger(static_cast<std::int16_t>(values::FlippedInteger(p, 2)));
    case kLong:
    case kAutoIncrement:
      return core::Variant::FromLong(static_cast<std::int32_t>(values::FlippedInteger(p, 4)));
    case kMoney:
    case kNumber:
      return core::Variant::FromDouble(values::FlippedDouble(p));
    case kLogical:
      if (p[0] == 0x80) return core::Variant::FromBoolean(false);
      if (p[0] == 0x81) return core::Variant::FromBoolean(true);
      FailField(field, "invalid logical value " + Hex(p[0]));
    case kDate: {
      const std::int64_t day = values::FlippedInteger(p, 4);
      double dt = 0;
      if (!values::DayAndMsToDateTime(day, 0, dt))
        FailField(field, "invalid date (day " + std::to_string(day) + ")");
      return core::Variant::FromDate(dt);
    }
    case kTime: {
      const std::int64_t ms = values::FlippedInteger(p, 4);
      if (ms < 0 || ms >= 86400000)
        FailField(field, "invalid time (" + std::to_string(ms) + " ms)");
      return core::Variant::FromDate(static_cast<double>(ms) / 86400000.0);
    }
    case kTimestamp: {
      const double ms = values::FlippedDouble(p);
      double dt = 0;
      if (!(ms >= 0 && ms < 1e15) ||
          !values::DayAndMsToDateTime(static_cast<std::int64_t>(ms / 86400000.0),
                                      static_cast<std::int64_t>(std::fmod(ms, 86400000.0)), dt))
        FailField(field, "invalid timestamp");
      return core::Variant::FromDate(dt);
    }
    case kBcd:
      return DecodeBcd(field, p);
    case kBytes:
      return core::Variant::FromBytes(std::vector<std::uint8_t>(p, p + l.length));
    case kMemo: {
      std::vector<std::uint8_t> bytes = BlobBytes(field);
      std::string out;
      decoder_->Decode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       out);
      return core::Variant::FromString(std::move(out));
    }
    default:
      return core::Variant::FromBytes(BlobBytes(field));
  }
}

core::Variant ParadoxReader::DecodeBcd(int field, const std::uint8_t* p) {
  const bool negative = (p[0] & 0x80) == 0;
  int scale = p[0] & 0x3F;
  if (scale != fields_[field].decimals)
    FailField(field, "BCD value with " + std::to_string(scale) + " decimals in a field of " +
                         std::to_string(fields_[field].decimals));
  // 32 digits; digits past the first nibble above 9 are what a double left behind: zeros.
  unsigned __int128 mantissa = 0;
  bool stopped = false;
  for (int i = 0; i < 32; ++i) {
    std::uint8_t byte = p[1 + i / 2];
    if (negative) byte ^= 0xFF;
    unsigned digit = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (digit > 9) stopped = true;
    mantissa = mantissa * 10 + (stopped ? 0 : digit);
  }
  const unsigned __int128 limit = (static_cast<unsigned __int128>(1) << 96) - 1;
  while ((mantissa > limit || scale > 28) && scale > 0) {
    const unsigned remainder = static_cast<unsigned>(mantissa % 10);
    mantissa /= 10;
    if (remainder >= 5) ++mantissa;
    --scale;
  }
  if (mantissa > limit) FailField(field, "BCD value too large");
  core::Decimal d;
  d.scale = static_cast<std::uint8_t>(scale);
  d.negative = negative && mantissa != 0;
  d.lo = static_cast<std::uint64_t>(mantissa);
  d.hi = static_cast<std::uint32_t>(mantissa >> 64);
  return core::Variant::FromDecimal(d);
}

}  // namespace bde

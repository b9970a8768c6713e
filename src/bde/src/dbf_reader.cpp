#include "bde/dbf_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "bde/dbf_format.h"
#include "bytes.h"
#include "core/errors.h"
#include "values.h"

namespace bde {
namespace {

using namespace dbf;

std::string Hex2(unsigned v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", v & 0xFF);
  return buf;
}

std::string Quoted(std::string_view bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    }
  }
  return out + "\"";
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

constexpr std::size_t kReadSlice = 256 * 1024;

}  // namespace

struct DbfReader::RawDescriptor {
  std::string name_bytes;
  char type = 0;
  int length = 0;
  int decimals = 0;
  std::uint8_t flags = 0;
};

DbfReader::DbfReader(const std::string& path, const ReaderOptions& options, core::FileSystem& fs)
    : SourceReader(path), fs_(fs), ansi_code_page_(options.ansi_code_page) {
  file_ = fs_.OpenForRead(path);
  const std::uint64_t size = file_->Size();
  if (size < header::kSize)
    Fail("the file is too short for a dBase header (" + std::to_string(size) + " of " +
         std::to_string(header::kSize) + " bytes)");
  std::uint8_t fixed[header::kSize];
  if (file_->ReadAt(0, fixed, sizeof fixed) != sizeof fixed) Fail("cannot read the header");

  version_ = fixed[header::kVersion];
  switch (version_) {
    case 0x03:
    case 0x83:
      format_name_ = version_ == 0x83 ? "dBase III+ with memo" : "dBase III";
      break;
    case 0x02:
      // dBase II (or FoxBASE) has its own header; it gets a chance only when the dBase III
      // reading of the header is consistent (checked below).
      format_name_ = "FoxBASE";
      break;
    case 0x05:
      format_name_ = "dBase 5";
      break;
    case 0x07:
    case 0x87:
      format_name_ = "CA-Visual Objects";
      break;
    case 0x43:
    case 0x63:
    case 0x7B:
    case 0x8B:
    case 0x8E:
    case 0xCB:
      format_name_ = "dBase IV";
      break;
    case 0x04:
    case 0x8C:
      family_ = Family::DBase7;
      format_name_ = "dBase 7";
      break;
    case 0x30:
    case 0x31:
    case 0x32:
      family_ = Family::VisualFoxPro;
      format_name_ = "Visual FoxPro";
      break;
    case 0xF5:
    case 0xFB:
      family_ = Family::FoxPro;
      format_name_ = "FoxPro 2.x";
      break;
    case 0x06:
    case 0x86:
    case 0xE6:
    case 0xF6:
      Fail("the table is encrypted by the SIx driver (version byte " + Hex2(version_) +
           "); decrypt it with the program that wrote it");
    case 0xE5:
      Fail("HiPer-SIx tables with .smt memo files (version byte 0xE5) are not supported");
    default:
      Fail("unknown version byte " + Hex2(version_) + ": not a dBase or FoxPro table");
  }
  const bool dbase_line = family_ == Family::DBase || family_ == Family::DBase7;
  if (dbase_line && fixed[header::kEncrypted] == 1)
    Fail("the table is encrypted (dBase PROTECT); decrypt it in dBase before copying");
  if (dbase_line && fixed[header::kTransaction] == 1)
    Warn("an unfinished dBase IV transaction is marked in the header; the data may be incomplete");

  header_count_ = LoadU32LE(fixed + header::kRecordCount);
  header_length_ = LoadU16LE(fixed + header::kHeaderLength);
  record_length_ = LoadU16LE(fixed + header::kRecordLength);
  const std::uint32_t first_descriptor =
      family_ == Family::DBase7 ? header::kLevel7Descriptors : header::kSize;
  auto not_dbase2 = [&](const std::string& what) {
    if (version_ == 0x02) Fail("dBase II tables are not supported (" + what + ")");
    Fail(what);
  };
  if (header_length_ < first_descriptor + 1)
    not_dbase2("the header length " + std::to_string(header_length_) +
               " is too small for a table header");
  if (header_length_ > size)
    not_dbase2("the header length " + std::to_string(header_length_) +
               " runs past the end of the file (" + std::to_string(size) + " bytes)");
  if (record_length_ == 0) not_dbase2("the record length is 0");

  std::vector<std::uint8_t> head(header_length_);
  if (file_->ReadAt(0, head.data(), head.size()) != head.size()) Fail("cannot read the header");
  const int marked = MarkedCodePage(head, options);
  // Field names are decoded once the code page is settled; until then messages name fields
  // as the file's marked page (or the default) reads them.
  const int provisional = options.force_code_page ? options.force_code_page
                          : marked                ? marked
                                                  : options.default_code_page;
  decoder_ = std::make_unique<TextDecoder>(CanDecodeCodePage(provisional) ? provisional : 1252);
  try {
    ReadDescriptors(head);
  } catch (const core::EFileError&) {
    if (version_ == 0x02) Fail("dBase II tables are not supported");
    throw;
  }
  CheckHeaderLength(size);

  physical_count_ = static_cast<std::int64_t>((size - header_length_) / record_length_);
  if (version_ == 0x02 && header_count_ > physical_count_)
    Fail("dBase II tables are not supported");
  record_count_ = header_count_;
  if (physical_count_ < header_count_) {
    record_count_ = physical_count_;
    Warn("the header announces " + std::to_string(header_count_) +
         " records but the file holds only " + std::to_string(physical_count_) +
         " complete ones; reading those");
  } else if (physical_count_ > header_count_) {
    CountRecordsPastCount(options.read_past_count);
  }
  OpenMemo(options.missing_memo_null);

  // A shapefile's table names its code page in a side file; a specific mark in the header
  // wins over it because such side files are often wrong.
  int cpg = 0;
  if (marked == 0 && head[header::kLanguageDriver] == 0) {
    if (auto found = fs_.FindCompanion(path_, {".cpg"})) {
      auto f = fs_.OpenForRead(*found);
      char text[64] = {};
      const std::size_t n = f->ReadAt(0, text, std::min<std::uint64_t>(f->Size(), sizeof text - 1));
      cpg = CodePageFromCpgText(std::string_view(text, n), options.ansi_code_page);
      if (cpg == 0 || !CanDecodeCodePage(cpg))
        Warn("the code page file " + core::FileNameOf(*found) + " names no code page we know (" +
             Quoted(std::string_view(text, n)) + "); it is ignored");
    }
  }
  SettleCodePage(marked, cpg, options, [&](CodePageGuesser& g) { SampleText(g); });
  decoder_ = std::make_unique<TextDecoder>(code_page_);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i].name.clear();
    decoder_->Decode(TrimRight(raw_names_[i]), fields_[i].name);
  }
  binary_decoder_ = std::make_unique<TextDecoder>(
      CanDecodeCodePage(options.ansi_code_page) ? options.ansi_code_page : 1252);
}

int DbfReader::MarkedCodePage(const std::vector<std::uint8_t>& head, const ReaderOptions& options) {
  const std::uint8_t ldid = head[header::kLanguageDriver];
  int cp = 0;
  if (family_ == Family::DBase7 && head.size() >= header::kDriverName + header::kDriverNameSize) {
    const char* name = reinterpret_cast<const char*>(head.data() + header::kDriverName);
    cp = CodePageFromDriverName(std::string_view(name, strnlen(name, header::kDriverNameSize)));
  }
  if (cp == 0) cp = CodePageFromLanguageDriver(ldid, options.ansi_code_page);
  if (cp == 0 && ldid != 0 && options.force_code_page == 0)
    Warn("unknown language driver " + Hex2(ldid) +
         "; the table is read as one that names no "
         "code page");
  return cp;
}

void DbfReader::SampleText(CodePageGuesser& guesser) {
  for (const std::string& name : raw_names_) guesser.Add(TrimRight(name));
  std::vector<int> texts, memos;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    if (fields_[i].binary) continue;
    const char t = fields_[i].native_type;
    if (t == 'C' || t == 'V') texts.push_back(static_cast<int>(i));
    if (fields_[i].type == SourceFieldType::Memo && memo_) memos.push_back(static_cast<int>(i));
  }
  if (texts.empty() && memos.empty()) return;
  // Memo texts are read a few at a time: long ones say much, and a table with a damaged
  // memo file must still open (its errors come when the values are read).
  constexpr std::size_t kMemoBudget = 512 * 1024;
  std::size_t memo_bytes = 0;
  std::vector<std::uint8_t> chunk;
  std::vector<std::uint8_t> memo;
  const std::int64_t last = std::min(record_count_, physical_count_);
  const std::size_t slice = std::max<std::size_t>(1, kReadSlice / record_length_);
  // The first slices, then slices spread over the rest: a large table's text is sampled at
  // a bounded cost, wherever its letters are.
  constexpr std::int64_t kLeadingSlices = 32, kSpreadSlices = 16;
  std::vector<std::int64_t> starts;
  for (std::int64_t i = 0; i < kLeadingSlices; ++i)
    starts.push_back(i * static_cast<std::int64_t>(slice));
  const std::int64_t rest = last - kLeadingSlices * static_cast<std::int64_t>(slice);
  for (std::int64_t i = 0; rest > 0 && i < kSpreadSlices; ++i)
    starts.push_back(kLeadingSlices * static_cast<std::int64_t>(slice) + rest * i / kSpreadSlices);
  for (std::int64_t first : starts) {
    if (first >= last || guesser.Full()) break;
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(slice, last - first));
    chunk.resize(n * record_length_);
    const std::size_t got =
        file_->ReadAt(header_length_ + static_cast<std::uint64_t>(first) * record_length_,
                      chunk.data(), chunk.size());
    for (std::size_t k = 0; k < got / record_length_ && !guesser.Full(); ++k) {
      record_ = chunk.data() + k * record_length_;
      record_number_ = first + static_cast<std::int64_t>(k) + 1;
      for (int f : texts)
        guesser.Add(TrimRight(
            std::string_view(reinterpret_cast<const char*>(FieldBytes(f)), layouts_[f].length)));
      for (int f : memos) {
        if (memo_bytes >= kMemoBudget) break;
        try {
          const std::uint32_t block = MemoBlock(f);
          if (block == 0) continue;
          ReadMemo(f, block, memo);
        } catch (const core::Exception&) {
          continue;
        }
        memo_bytes += memo.size();
        guesser.Add(std::string_view(reinterpret_cast<const char*>(memo.data()), memo.size()));
      }
    }
  }
  record_ = nullptr;
  record_number_ = 0;
}

DbfReader::~DbfReader() = default;

// The descriptors as stored, up to the terminator (or the zero padding some writers leave in
// its place); notes where the terminator is.
std::vector<DbfReader::RawDescriptor> DbfReader::ScanDescriptors(
    const std::vector<std::uint8_t>& head) {
  const bool level7 = family_ == Family::DBase7;
  const std::size_t step = level7 ? field7::kSize : field::kSize;
  std::size_t pos = level7 ? header::kLevel7Descriptors : header::kSize;
  std::vector<RawDescriptor> raw;
  while (pos + step <= head.size() && head[pos] != kHeaderTerminator) {
    const std::uint8_t* d = head.data() + pos;
    RawDescriptor r;
    const std::size_t name_size = level7 ? field7::kNameSize : field::kNameSize;
    const char* name = reinterpret_cast<const char*>(d);
    r.name_bytes.assign(name, strnlen(name, name_size));
    r.type = static_cast<char>(d[level7 ? field7::kType : field::kType]);
    r.length = d[level7 ? field7::kLength : field::kLength];
    r.decimals = d[level7 ? field7::kDecimals : field::kDecimals];
    r.flags = level7 ? 0 : d[field::kFlags];
    if (r.name_bytes.empty() && r.type == 0) break;  // zero padding where the terminator belongs
    raw.push_back(std::move(r));
    pos += step;
  }
  if (pos < head.size() && head[pos] == kHeaderTerminator)
    terminator_ = static_cast<std::int64_t>(pos);
  // A header length one short puts the terminator just past it.
  std::uint8_t next = 0;
  if (pos == head.size() && file_->ReadAt(pos, &next, 1) == 1 && next == kHeaderTerminator)
    terminator_ = static_cast<std::int64_t>(pos);
  return raw;
}

// Whether C fields are long ones. Offsets come from the lengths, never from the descriptors
// (some writers store nonsense there). Clipper stores long C fields with the decimals byte as
// the high byte of the length; Excel puts unrelated values there, so the long reading is taken
// only when it is the one that matches the record length.
bool DbfReader::LongCharacterFields(const std::vector<RawDescriptor>& raw) {
  auto total = [&](bool extended) {
    std::uint64_t sum = 1;
    for (const RawDescriptor& r : raw)
      sum += r.type == 'C' && extended ? r.length + 256u * r.decimals : r.length;
    return sum;
  };
  if (total(false) == record_length_) return false;
  if (total(true) == record_length_) return true;
  Fail("the field lengths add up to " + std::to_string(total(false)) +
       " bytes per record but the header says " + std::to_string(record_length_));
}

// The field type, size and memo pointer form of one descriptor; refuses a length or a type the
// table's family does not allow.
void DbfReader::DescribeField(const RawDescriptor& r, int length, FieldDescription& fd,
                              Layout& layout) {
  const bool vfp = family_ == Family::VisualFoxPro;
  auto need_length = [&](int want) {
    if (length != want)
      Fail("field " + fd.name + " of type " + std::string(1, r.type) + " has length " +
           std::to_string(length) + " instead of " + std::to_string(want));
  };
  auto memo_pointer = [&] {
    if (length == 4) {
      layout.memo_pointer_binary = true;
    } else if (length != 10) {
      Fail("memo field " + fd.name + " has length " + std::to_string(length) +
           " instead of 10 (or 4)");
    }
  };
  switch (r.type) {
    case 'C':
      fd.type = SourceFieldType::String;
      fd.size = length;
      break;
    case 'N':
      fd.precision = length;
      fd.decimals = r.decimals;
      if (r.decimals == 0 && length <= 4)
        fd.type = SourceFieldType::Smallint;
      else if (r.decimals == 0 && length <= 9)
        fd.type = SourceFieldType::Integer;
      else
        fd.type = SourceFieldType::Float;
      break;
    case 'F':
      fd.type = SourceFieldType::Float;
      fd.precision = length;
      fd.decimals = r.decimals;
      break;
    case 'D':
      fd.type = SourceFieldType::Date;
      need_length(8);
      break;
    case 'L':
      fd.type = SourceFieldType::Boolean;
      need_length(1);
      break;
    case 'M':
      fd.type = SourceFieldType::Memo;
      memo_pointer();
      break;
    case 'G':
      fd.type = SourceFieldType::DBaseOle;
      memo_pointer();
      break;
    case 'P':
      fd.type = SourceFieldType::Graphic;
      memo_pointer();
      break;
    case 'B':
      if (vfp) {
        fd.type = SourceFieldType::Float;
        fd.decimals = r.decimals;
        need_length(8);
      } else {
        fd.type = SourceFieldType::Blob;
        memo_pointer();
      }
      break;
    case 'W':
      if (!vfp) Fail("field " + fd.name + " has type W, which only Visual FoxPro tables have");
      fd.type = SourceFieldType::Blob;
      memo_pointer();
      break;
    case 'I':
      fd.type = SourceFieldType::Integer;
      need_length(4);
      break;
    case '+':
      if (family_ != Family::DBase7)
        Fail("field " + fd.name + " has type +, which only dBase 7 tables have");
      fd.type = SourceFieldType::AutoInc;
      need_length(4);
      break;
    case 'O':  // dBase 7's double; Harbour and others write it into any dBase version
      fd.type = SourceFieldType::Float;
      need_length(8);
      break;
    case '@':
      if (family_ != Family::DBase7)
        Fail("field " + fd.name + " has type @, which only dBase 7 tables have");
      fd.type = SourceFieldType::DateTime;
      need_length(8);
      break;
    case 'T':  // Visual FoxPro's; other writers (Harbour, XBase.pm) use it the same way
      fd.type = SourceFieldType::DateTime;
      need_length(8);
      break;
    case 'Y':  // as T
      fd.type = SourceFieldType::Currency;
      fd.decimals = 4;
      need_length(8);
      break;
    case 'V':
      if (!vfp) Fail("field " + fd.name + " has type V, which only Visual FoxPro tables have");
      fd.type = SourceFieldType::String;
      fd.size = length;
      break;
    case 'Q':
      if (!vfp) Fail("field " + fd.name + " has type Q, which only Visual FoxPro tables have");
      fd.type = SourceFieldType::VarBytes;
      fd.size = length;
      break;
    default:
      Fail("field " + fd.name + " has the unknown type " + Quoted(std::string(1, r.type)));
  }
  if (length == 0) Fail("field " + fd.name + " has length 0");
}

void DbfReader::ReadDescriptors(const std::vector<std::uint8_t>& head) {
  const std::vector<RawDescriptor> raw = ScanDescriptors(head);
  const bool extended = LongCharacterFields(raw);
  const bool vfp = family_ == Family::VisualFoxPro;
  int offset = 1;
  int null_bits = 0;
  bool has_null_flags = false;
  for (const RawDescriptor& r : raw)
    if (vfp && r.type == '0') has_null_flags = true;
  for (const RawDescriptor& r : raw) {
    const int length = r.type == 'C' && extended ? r.length + 256 * r.decimals : r.length;
    if (vfp && r.type == '0') {
      null_flags_offset_ = offset;
      null_flags_length_ = length;
      offset += length;
      continue;
    }
    FieldDescription fd;
    fd.name = decoder_->Decode(TrimRight(r.name_bytes));
    raw_names_.push_back(r.name_bytes);
    fd.native_type = r.type;
    Layout layout;
    layout.offset = offset;
    layout.length = length;
    // Only text can be translated; numbers in binary form carry the flag too.
    fd.binary = vfp && (r.flags & kFlagBinary) && (r.type == 'C' || r.type == 'V' || r.type == 'M');
    if (vfp && has_null_flags) {
      if (r.type == 'V' || r.type == 'Q') layout.varlen_bit = null_bits++;
      if (r.flags & kFlagNullable) layout.null_bit = null_bits++;
    }
    DescribeField(r, length, fd, layout);
    offset += length;
    fields_.push_back(std::move(fd));
    layouts_.push_back(layout);
  }
  if (null_bits > null_flags_length_ * 8)
    Fail("the _NullFlags field has " + std::to_string(null_flags_length_ * 8) + " bits but " +
         std::to_string(null_bits) + " are needed");
  if (!has_null_flags) null_flags_length_ = 0;
}

void DbfReader::OpenMemo(bool null_if_missing) {
  bool needed = false;
  for (const FieldDescription& f : fields_)
    if (IsBlobType(f.type)) needed = true;
  if (!needed) return;
  std::vector<std::string> extensions;
  if (family_ == Family::FoxPro || family_ == Family::VisualFoxPro) {
    // A database container keeps its memos in .dct.
    extensions = core::EqualsIgnoringCase(core::ExtensionOf(path_), ".dbc")
                     ? std::vector<std::string>{".dct"}
                     : std::vector<std::string>{".fpt"};
    memo_style_ = MemoStyle::Fpt;
  } else {
    extensions = {".dbt"};
    memo_style_ = version_ == 0x83 || version_ == 0x87 || version_ == 0x03 ? MemoStyle::Dbt3
                                                                           : MemoStyle::Dbt4;
  }
  auto found = fs_.FindCompanion(path_, extensions);
  const std::string ext = extensions.front();
  if (!found) {
    const std::string name = core::FileNameOf(path_);
    const std::string base = name.substr(0, name.size() - core::ExtensionOf(path_).size());
    if (null_if_missing) {
      Warn("the memo file " + base + ext + " is missing; the memo fields are read as Null");
      memo_style_ = MemoStyle::None;
      return;
    }
    Fail("the memo file " + base + ext +
         " is missing (the table has memo fields; --missing-memo=null reads them as Null)");
  }
  memo_path_ = *found;
  memo_ = fs_.OpenForRead(memo_path_);
  const std::uint64_t size = memo_->Size();
  auto fail_memo = [&](const std::string& what) {
    throw core::EFileError(memo_path_ + ": " + what);
  };
  if (memo_style_ == MemoStyle::Fpt) {
    std::uint8_t h[8];
    if (size < fpt::kHeaderSize || memo_->ReadAt(0, h, sizeof h) != sizeof h)
      fail_memo("the memo file is too short for its header (" + std::to_string(size) + " bytes)");
    memo_block_size_ = LoadU16BE(h + fpt::kBlockSize);
    // Visual FoxPro's SET BLOCKSIZE TO 0 allocates memo space byte by byte.
    if (memo_block_size_ == 0) memo_block_size_ = 1;
  } else if (memo_style_ == MemoStyle::Dbt4) {
    std::uint8_t h[24];
    if (size < sizeof h || memo_->ReadAt(0, h, sizeof h) != sizeof h)
      fail_memo("the memo file is too short for its header (" + std::to_string(size) + " bytes)");
    memo_block_size_ = LoadU16LE(h + dbt4::kBlockSize);
    if (memo_block_size_ == 0) memo_block_size_ = 512;
    CheckMemoBlockSize();
  } else {
    memo_block_size_ = dbt3::kBlockSize;
  }
}

// The deletion flags of records from `first` to `last` (exclusive) are all a live or deleted
// mark: what real records start with, unlike the bytes of a shifted or garbage record.
bool DbfReader::FlagsValid(std::uint64_t start, std::int64_t first, std::int64_t last,
                           std::int64_t* valid_run) {
  std::vector<std::uint8_t> chunk;
  const std::size_t slice = std::max<std::size_t>(1, kReadSlice / record_length_);
  std::int64_t run = 0;
  for (std::int64_t at = first; at < last; at += static_cast<std::int64_t>(slice)) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(slice, last - at));
    chunk.resize(n * record_length_);
    const std::size_t got = file_->ReadAt(start + static_cast<std::uint64_t>(at) * record_length_,
                                          chunk.data(), chunk.size());
    for (std::size_t k = 0; k < got / record_length_; ++k) {
      const std::uint8_t flag = chunk[k * record_length_];
      if (flag != ' ' && flag != kDeletedFlag) {
        if (valid_run) *valid_run = run;
        return false;
      }
      ++run;
    }
    if (got < chunk.size()) break;
  }
  if (valid_run) *valid_run = run;
  return run == last - first;
}

void DbfReader::CheckHeaderLength(std::uint64_t size) {
  if (terminator_ < 0) return;
  const std::uint64_t after = static_cast<std::uint64_t>(terminator_) + 1;
  const std::uint64_t expected = family_ == Family::VisualFoxPro ? after + kBacklinkSize : after;
  if (header_length_ == expected) return;
  // Records fill the file to its end (an end-of-file mark aside) and start with flags.
  const std::uint64_t need = static_cast<std::uint64_t>(header_count_) * record_length_;
  auto fits = [&](std::uint64_t start) {
    if (start > size || size - start < need || size - start - need > 1) return false;
    if (size - start - need == 1) {
      std::uint8_t mark = 0;
      if (file_->ReadAt(size - 1, &mark, 1) != 1 || mark != kEndOfFile) return false;
    }
    const std::int64_t count = header_count_;
    return FlagsValid(start, 0, std::min<std::int64_t>(count, 64)) &&
           FlagsValid(start, std::max<std::int64_t>(0, count - 1), count);
  };
  const bool given = fits(header_length_);
  const bool other = fits(expected);
  const std::string where = "the field descriptors end at byte " + std::to_string(terminator_) +
                            (family_ == Family::VisualFoxPro ? ", which with the 263-byte backlink"
                                                               " puts"
                                                             : ", which puts") +
                            " the first record at byte " + std::to_string(expected);
  if (other && !given) {
    Warn("the header length " + std::to_string(header_length_) +
         " does not fit the header: " + where + "; the records are there and are read from there");
    header_length_ = static_cast<std::uint32_t>(expected);
  } else if (other && given) {
    Fail("the header length " + std::to_string(header_length_) + " does not fit the header (" +
         where + ") and the records fit both places; the table cannot be read safely");
  }
  // Otherwise the header length stands: writers may keep data of their own after the
  // descriptors (dBase 7's field properties do).
}

void DbfReader::CountRecordsPastCount(bool read_them) {
  std::int64_t run = 0;
  FlagsValid(header_length_, header_count_, physical_count_, &run);
  if (run == 0) return;
  if (read_them) {
    record_count_ = header_count_ + run;
    Warn("the header announces " + std::to_string(header_count_) + " records and " +
         std::to_string(run) + " further complete records follow them; all are read");
  } else {
    Warn("the header announces " + std::to_string(header_count_) + " records, and " +
         std::to_string(run) +
         " further complete records follow them in the file; they are left out as dBase leaves "
         "them (--read-past-count reads them)");
  }
}

void DbfReader::CheckMemoBlockSize() {
  // The memo block pointers of the first records say where memos start; every dBase IV memo
  // starts with its signature, so the block size that puts signatures there is the true one.
  std::vector<std::uint32_t> pointers;
  std::vector<int> memo_fields;
  for (std::size_t i = 0; i < fields_.size(); ++i)
    if (IsBlobType(fields_[i].type)) memo_fields.push_back(static_cast<int>(i));
  std::vector<std::uint8_t> rec(record_length_);
  const std::int64_t last = std::min<std::int64_t>({record_count_, physical_count_, 4096});
  for (std::int64_t i = 0; i < last && pointers.size() < 8; ++i) {
    if (file_->ReadAt(header_length_ + static_cast<std::uint64_t>(i) * record_length_, rec.data(),
                      rec.size()) != rec.size())
      break;
    record_ = rec.data();
    for (int f : memo_fields) {
      try {
        const std::uint32_t block = MemoBlock(f);
        if (block != 0 && pointers.size() < 8) pointers.push_back(block);
      } catch (const core::Exception&) {
      }
    }
  }
  record_ = nullptr;
  const std::uint64_t size = memo_->Size();
  auto signed_at = [&](std::uint32_t block_size) {
    if (pointers.empty()) return false;
    for (std::uint32_t p : pointers) {
      std::uint8_t h[4];
      const std::uint64_t at = static_cast<std::uint64_t>(p) * block_size;
      if (at == 0 || at + sizeof h > size || memo_->ReadAt(at, h, sizeof h) != sizeof h ||
          std::memcmp(h, dbt4::kMemoSignature, sizeof h) != 0)
        return false;
    }
    return true;
  };
  const bool plausible = memo_block_size_ >= 64 && memo_block_size_ % 64 == 0;
  if (signed_at(memo_block_size_) || (plausible && pointers.empty())) return;
  std::vector<std::uint32_t> fitting;
  for (std::uint32_t candidate = 64; candidate <= 32768; candidate *= 2)
    if (candidate != memo_block_size_ && signed_at(candidate)) fitting.push_back(candidate);
  const std::string name = core::FileNameOf(memo_path_);
  if (fitting.size() == 1) {
    Warn("the memo file " + name + " gives the block size " + std::to_string(memo_block_size_) +
         ", but its memos start at blocks of " + std::to_string(fitting.front()) +
         " bytes; reading it so");
    memo_block_size_ = fitting.front();
    return;
  }
  if (!plausible && pointers.empty()) {
    Warn("the memo file " + name + " gives the implausible block size " +
         std::to_string(memo_block_size_) + "; no memo is in use, 512 is assumed");
    memo_block_size_ = 512;
    return;
  }
  if (!plausible)
    throw core::EFileError(memo_path_ + ": the block size " + std::to_string(memo_block_size_) +
                           " is implausible and no usual block size puts the table's memos at "
                           "memo block starts");
  // A plausible size without signatures: memos of the dBase III kind in a later file, read
  // as text up to their end mark.
}

bool DbfReader::FillBuffer() {
  if (next_index_ >= record_count_) return false;
  const std::size_t slice = std::max<std::size_t>(1, kReadSlice / record_length_);
  const std::size_t want =
      static_cast<std::size_t>(std::min<std::int64_t>(slice, record_count_ - next_index_));
  buffer_.resize(want * record_length_);
  const std::uint64_t offset =
      header_length_ + static_cast<std::uint64_t>(next_index_) * record_length_;
  const std::size_t got = file_->ReadAt(offset, buffer_.data(), buffer_.size());
  buffer_records_ = got / record_length_;
  buffer_pos_ = 0;
  next_index_ += static_cast<std::int64_t>(buffer_records_);
  if (buffer_records_ < want) {
    // The file shrank under us or lied about its size: keep what is whole.
    Warn("the data end after record " + std::to_string(next_index_) + " of " +
         std::to_string(record_count_));
    record_count_ = next_index_;
  }
  return buffer_records_ > 0;
}

bool DbfReader::Next() {
  while (!at_end_) {
    if (buffer_pos_ >= buffer_records_ && !FillBuffer()) break;
    const std::uint8_t* rec = buffer_.data() + buffer_pos_ * record_length_;
    const std::int64_t index =
        next_index_ - static_cast<std::int64_t>(buffer_records_ - buffer_pos_);
    ++buffer_pos_;
    if (rec[0] == kEndOfFile && record_length_ > 1 && index + 1 < record_count_ &&
        FlagsValid(header_length_, index + 1, record_count_)) {
      // The announced records are all there behind it with their flags: a damaged flag, not
      // the end of the table.
      Warn("record " + std::to_string(index + 1) + " starts with an end-of-file mark, but all " +
           std::to_string(record_count_) +
           " announced records follow in the file; it is read "
           "as a live record");
    } else if (rec[0] == kEndOfFile && record_length_ > 1) {
      Warn("an end-of-file mark stands where record " + std::to_string(index + 1) + " of " +
           std::to_string(record_count_) + " should start; reading stops there");
      break;
    }
    if (rec[0] == kDeletedFlag) continue;
    record_ = rec;
    record_number_ = index + 1;
    return true;
  }
  at_end_ = true;
  record_ = nullptr;
  return false;
}

bool DbfReader::NullBit(int bit) const {
  if (bit < 0 || null_flags_length_ == 0) return false;
  return (record_[null_flags_offset_ + bit / 8] >> (bit % 8)) & 1;
}

std::string_view DbfReader::VarBytes(int field) const {
  const Layout& l = layouts_[field];
  const char* p = reinterpret_cast<const char*>(FieldBytes(field));
  if (!NullBit(l.varlen_bit)) return std::string_view(p, l.length);
  const int n = static_cast<std::uint8_t>(p[l.length - 1]);
  if (n >= l.length)
    FailField(field, "the stored length " + std::to_string(n) + " exceeds the field length " +
                         std::to_string(l.length - 1));
  return std::string_view(p, n);
}

std::uint32_t DbfReader::MemoBlock(int field) const {
  const Layout& l = layouts_[field];
  const std::uint8_t* p = FieldBytes(field);
  if (l.memo_pointer_binary) return LoadU32LE(p);
  std::string_view text(reinterpret_cast<const char*>(p), l.length);
  std::uint64_t block = 0;
  bool digits = false;
  for (char c : text) {
    if (c == ' ' || c == '\0') {
      if (digits) break;
      continue;
    }
    if (c < '0' || c > '9') FailField(field, "invalid memo block number " + Quoted(text));
    block = block * 10 + static_cast<std::uint64_t>(c - '0');
    digits = true;
  }
  if (block > 0xFFFFFFFFu) FailField(field, "invalid memo block number " + Quoted(text));
  return static_cast<std::uint32_t>(block);
}

void DbfReader::ReadMemo(int field, std::uint32_t block, std::vector<std::uint8_t>& out) {
  out.clear();
  const std::uint64_t size = memo_->Size();
  const std::uint64_t offset = static_cast<std::uint64_t>(block) * memo_block_size_;
  auto fail = [&](const std::string& what) {
    FailField(field, "memo block " + std::to_string(block) + " in " + core::FileNameOf(memo_path_) +
                         ": " + what);
  };
  if (offset >= size)
    fail("lies past the end of the memo file (" + std::to_string(size) + " bytes)");
  if (memo_style_ == MemoStyle::Fpt) {
    if (offset < fpt::kHeaderSize) fail("lies inside the memo file's header");
    std::uint8_t h[fpt::kMemoHeaderSize];
    if (memo_->ReadAt(offset, h, sizeof h) != sizeof h)
      fail("is cut off by the end of the memo file");
    const std::uint64_t length = LoadU32BE(h + fpt::kMemoLength);
    if (offset + sizeof h + length > size)
      fail("claims " + std::to_string(length) + " bytes, running past the end of the memo file");
    out.resize(length);
    if (memo_->ReadAt(offset + sizeof h, out.data(), length) != length) fail("cannot be read");
    return;
  }
  if (offset == 0) fail("lies inside the memo file's header");
  std::uint8_t h[dbt4::kMemoHeaderSize] = {};
  const std::size_t got = memo_->ReadAt(offset, h, sizeof h);
  if (got == sizeof h && std::memcmp(h, dbt4::kMemoSignature, 4) == 0) {
    const std::uint64_t length = LoadU32LE(h + dbt4::kMemoLength);
    if (length < dbt4::kMemoHeaderSize) fail("has the invalid length " + std::to_string(length));
    if (offset + length > size)
      fail("claims " + std::to_string(length) + " bytes, running past the end of the memo file");
    out.resize(length - dbt4::kMemoHeaderSize);
    if (memo_->ReadAt(offset + sizeof h, out.data(), out.size()) != out.size())
      fail("cannot be read");
    return;
  }
  // dBase III style: text up to the first end-of-file mark (the second one that dBase
  // writes after it is not needed).
  std::uint8_t chunk[4096];
  std::uint64_t pos = offset;
  while (pos < size) {
    const std::size_t n =
        memo_->ReadAt(pos, chunk, std::min<std::uint64_t>(sizeof chunk, size - pos));
    if (n == 0) break;
    const std::uint8_t* end = static_cast<const std::uint8_t*>(std::memchr(chunk, kEndOfFile, n));
    if (end) {
      out.insert(out.end(), static_cast<const std::uint8_t*>(chunk), end);
      return;
    }
    out.insert(out.end(), chunk, chunk + n);
    pos += n;
  }
  fail("has no end mark before the end of the memo file");
}

void DbfReader::DecodeText(int field, std::string_view bytes, std::string& out) const {
  (fields_[field].binary ? binary_decoder_ : decoder_)->Decode(bytes, out);
}

bool DbfReader::IsNull(int field) {
  if (!record_) Fail("there is no current record");
  if (field < 0 || field >= static_cast<int>(fields_.size()))
    Fail("no field number " + std::to_string(field));
  const Layout& l = layouts_[field];
  if (NullBit(l.null_bit)) return true;
  const FieldDescription& f = fields_[field];
  std::string_view raw(reinterpret_cast<const char*>(FieldBytes(field)), l.length);
  switch (f.native_type) {
    case 'C':
      return TrimRight(raw).empty();
    case 'V':
    case 'Q':
      return VarBytes(field).empty();
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      return MemoBlock(field) == 0 || BlobBytes(field).empty();
    case 'B':
      if (family_ == Family::VisualFoxPro) return false;
      return MemoBlock(field) == 0 || BlobBytes(field).empty();
    default:
      return Value(field).IsNull();
  }
}

std::vector<std::uint8_t> DbfReader::BlobBytes(int field) {
  if (!record_) Fail("there is no current record");
  if (field < 0 || field >= static_cast<int>(fields_.size()))
    Fail("no field number " + std::to_string(field));
  std::vector<std::uint8_t> out;
  if (!IsBlobType(fields_[field].type)) FailField(field, "is not a memo or binary field");
  if (NullBit(layouts_[field].null_bit) || !memo_) return out;
  const std::uint32_t block = MemoBlock(field);
  if (block != 0) ReadMemo(field, block, out);
  return out;
}

core::Variant DbfReader::Value(int field) {
  if (!record_) Fail("there is no current record");
  if (field < 0 || field >= static_cast<int>(fields_.size()))
    Fail("no field number " + std::to_string(field));
  if (NullBit(layouts_[field].null_bit)) return core::Variant::Null();
  return Decode(field);
}

core::Variant DbfReader::Decode(int field) {
  const FieldDescription& f = fields_[field];
  const Layout& l = layouts_[field];
  const std::uint8_t* p = FieldBytes(field);
  const std::string_view raw(reinterpret_cast<const char*>(p), l.length);
  switch (f.native_type) {
    case 'C': {
      std::string_view text = TrimRight(raw);
      if (text.empty()) return core::Variant::Null();
      std::string out;
      DecodeText(field, text, out);
      return core::Variant::FromString(std::move(out));
    }
    case 'V': {
      std::string_view text = VarBytes(field);
      if (text.empty()) return core::Variant::Null();
      std::string out;
      DecodeText(field, text, out);
      return core::Variant::FromString(std::move(out));
    }
    case 'Q': {
      std::string_view bytes = VarBytes(field);
      if (bytes.empty()) return core::Variant::Null();
      return core::Variant::FromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    case 'N':
    case 'F': {
      bool ok = true;
      std::optional<double> v = values::ParseNumericText(raw, ok);
      if (!ok) FailField(field, "invalid number " + Quoted(raw));
      if (!v) return core::Variant::Null();
      if (f.type == SourceFieldType::Float) return core::Variant::FromDouble(*v);
      if (*v != std::floor(*v))
        FailField(field, "the value " + Quoted(raw) + " is not a whole number");
      if (f.type == SourceFieldType::Smallint) {
        if (*v < -32768 || *v > 32767)
          FailField(field, "the value " + Quoted(raw) + " is out of range");
        return core::Variant::FromInteger(static_cast<std::int16_t>(*v));
      }
      if (*v < -2147483648.0 || *v > 2147483647.0)
        FailField(field, "the value " + Quoted(raw) + " is out of range");
      return core::Variant::FromLong(static_cast<std::int32_t>(*v));
    }
    case 'D': {
      bool ok = true;
      std::optional<double> v = values::ParseDateText(raw, ok);
      if (!ok) FailField(field, "invalid date " + Quoted(raw));
      if (!v) return core::Variant::Null();
      return core::Variant::FromDate(*v);
    }
    case 'L': {
      const int b = values::ParseLogical(p[0]);
      if (b == -2) FailField(field, "invalid logical value " + Quoted(raw));
      if (b < 0) return core::Variant::Null();
      return core::Variant::FromBoolean(b == 1);
    }
    case 'I':
    case '+': {
      if (family_ == Family::DBase7) {
        if (values::AllZero(raw)) return core::Variant::Null();
        return core::Variant::FromLong(static_cast<std::int32_t>(values::FlippedInteger(p, 4)));
      }
      return core::Variant::FromLong(static_cast<std::int32_t>(LoadU32LE(p)));
    }
    case 'O': {
      if (values::AllZero(raw)) return core::Variant::Null();
      return core::Variant::FromDouble(values::FlippedDouble(p));
    }
    case '@': {
      if (values::AllZero(raw)) return core::Variant::Null();
      const double ms = values::FlippedDouble(p);
      double dt = 0;
      if (!(ms >= 0 && ms < 1e15) ||
          !values::DayAndMsToDateTime(static_cast<std::int64_t>(ms / 86400000.0),
                                      static_cast<std::int64_t>(std::fmod(ms, 86400000.0)), dt))
        FailField(field, "invalid timestamp");
      return core::Variant::FromDate(dt);
    }
    case 'T': {
      if (values::AllZero(raw) || values::AllBytes(raw, ' ')) return core::Variant::Null();
      const std::int64_t jdn = LoadU32LE(p);
      const std::int64_t ms = LoadU32LE(p + 4);
      double dt = 0;
      if (!values::DayAndMsToDateTime(jdn - values::kJulianDayOfDayZero, ms, dt))
        FailField(field, "invalid date-time (Julian day " + std::to_string(jdn) + ", " +
                             std::to_string(ms) + " ms)");
      return core::Variant::FromDate(dt);
    }
    case 'Y':
      return core::Variant::FromCurrency(core::Currency{static_cast<std::int64_t>(LoadU64LE(p))});
    case 'B':
      if (family_ == Family::VisualFoxPro)
        return core::Variant::FromDouble(BitsToDouble(LoadU64LE(p)));
      [[fallthrough]];
    case 'M':
    case 'G':
    case 'P':
    case 'W': {
      std::vector<std::uint8_t> bytes = BlobBytes(field);
      if (bytes.empty()) return core::Variant::Null();
      if (f.type == SourceFieldType::Memo) {
        std::string out;
        DecodeText(field,
                   std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                   out);
        return core::Variant::FromString(std::move(out));
      }
      return core::Variant::FromBytes(std::move(bytes));
    }
    default:
      FailField(field, "unsupported field type");
  }
}

}  // namespace bde

namespace bde {

// The table's hot path: the common dBase types decoded without a Variant. Anything unusual
// takes the general path, which also produces the error messages.

void DbfReader::CheckField(int field) const {
  if (!record_) Fail("there is no current record");
  if (field < 0 || field >= static_cast<int>(fields_.size()))
    Fail("no field number " + std::to_string(field));
}

bool DbfReader::TextValue(int field, std::string& out) {
  CheckField(field);
  const char type = fields_[field].native_type;
  if (type != 'C' && type != 'V') return SourceReader::TextValue(field, out);
  const Layout& l = layouts_[field];
  if (NullBit(l.null_bit)) return false;
  const std::string_view text =
      type == 'C'
          ? TrimRight(std::string_view(reinterpret_cast<const char*>(FieldBytes(field)), l.length))
          : VarBytes(field);
  if (text.empty()) return false;
  out.clear();
  DecodeText(field, text, out);
  return true;
}

bool DbfReader::NumberValue(int field, double& out) {
  CheckField(field);
  const char type = fields_[field].native_type;
  if (type != 'N' && type != 'F') return SourceReader::NumberValue(field, out);
  const Layout& l = layouts_[field];
  if (NullBit(l.null_bit)) return false;
  const std::string_view raw(reinterpret_cast<const char*>(FieldBytes(field)), l.length);
  bool ok = true;
  const std::optional<double> v = values::ParseNumericText(raw, ok);
  if (!ok) FailField(field, "invalid number " + Quoted(raw));
  if (!v) return false;
  out = *v;
  return true;
}

bool DbfReader::IntegerValue(int field, std::int32_t& out) {
  CheckField(field);
  const FieldDescription& f = fields_[field];
  const Layout& l = layouts_[field];
  if (f.native_type != 'N' || NullBit(l.null_bit)) return SourceReader::IntegerValue(field, out);
  const char* p = reinterpret_cast<const char*>(FieldBytes(field));
  const char* end = p + l.length;
  while (p < end && *p == ' ') ++p;
  while (end > p && (end[-1] == ' ' || end[-1] == '\0')) --end;
  if (p == end) return false;
  const bool negative = *p == '-';
  if (negative || *p == '+') ++p;
  if (p == end || end - p > 9) return SourceReader::IntegerValue(field, out);
  std::int32_t n = 0;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return SourceReader::IntegerValue(field, out);
    n = n * 10 + (*p - '0');
  }
  n = negative ? -n : n;
  if (f.type == SourceFieldType::Smallint && (n < -32768 || n > 32767))
    return SourceReader::IntegerValue(field, out);
  out = n;
  return true;
}

bool DbfReader::DateTimeValue(int field, core::TimeStamp& out) {
  CheckField(field);
  const Layout& l = layouts_[field];
  if (fields_[field].native_type != 'D' || NullBit(l.null_bit))
    return SourceReader::DateTimeValue(field, out);
  const std::uint8_t* p = FieldBytes(field);
  int d[8];
  for (int i = 0; i < 8; ++i) {
    if (p[i] < '0' || p[i] > '9') return SourceReader::DateTimeValue(field, out);
    d[i] = p[i] - '0';
  }
  const int year = d[0] * 1000 + d[1] * 100 + d[2] * 10 + d[3];
  const int month = d[4] * 10 + d[5];
  const int day = d[6] * 10 + d[7];
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > core::DaysInMonth(year, month))
    return SourceReader::DateTimeValue(field, out);
  out.Date = core::EncodeDay(year, month, day);
  out.Time = 0;
  return true;
}

}  // namespace bde

// Reader of dBase III to 7, Clipper, FoxBASE+/FoxPro 2.x and Visual FoxPro tables with
// their .dbt/.fpt memo files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bde/code_pages.h"
#include "bde/source_reader.h"
#include "core/file.h"

namespace bde {

class DbfReader : public SourceReader {
 public:
  // Opens the table and its memo file (found beside it whatever the extension's case);
  // raises core::EFileError naming the file when the table cannot be read.
  DbfReader(const std::string& path, const ReaderOptions& options = {},
            core::FileSystem& fs = core::FileSystem::Native());
  ~DbfReader() override;

  SourceFormat Format() const override { return SourceFormat::DBase; }
  bool Next() override;
  core::Variant Value(int field) override;
  std::vector<std::uint8_t> BlobBytes(int field) override;
  bool IsNull(int field) override;
  std::size_t RecordSize() const override { return record_length_; }
  bool TextValue(int field, std::string& out) override;
  bool NumberValue(int field, double& out) override;
  bool IntegerValue(int field, std::int32_t& out) override;
  bool DateTimeValue(int field, core::TimeStamp& out) override;

  std::uint8_t VersionByte() const { return version_; }
  // The memo file in use, or "" when the table has no memo fields or it is missing and
  // was allowed to be.
  const std::string& MemoPath() const { return memo_path_; }
  bool IsVisualFoxPro() const { return family_ == Family::VisualFoxPro; }

 private:
  enum class Family { DBase, DBase7, FoxPro, VisualFoxPro };
  enum class MemoStyle { None, Dbt3, Dbt4, Fpt };
  struct Layout {
    int offset = 0;
    int length = 0;
    int null_bit = -1;                 // VFP _NullFlags bit saying the value is NULL
    int varlen_bit = -1;               // VFP _NullFlags bit saying the length is in the last byte
    bool memo_pointer_binary = false;  // 4-byte LE block number instead of 10 ASCII digits
  };

  void ReadHeader();
  struct RawDescriptor;
  void ReadDescriptors(const std::vector<std::uint8_t>& header);
  std::vector<RawDescriptor> ScanDescriptors(const std::vector<std::uint8_t>& header);
  bool LongCharacterFields(const std::vector<RawDescriptor>& raw);
  void DescribeField(const RawDescriptor& raw, int length, FieldDescription& fd, Layout& layout);
  void AssignTypes();
  int MarkedCodePage(const std::vector<std::uint8_t>& header, const ReaderOptions& options);
  void SampleText(CodePageGuesser& guesser);
  bool FlagsValid(std::uint64_t start, std::int64_t first, std::int64_t last,
                  std::int64_t* valid_run = nullptr);
  void CheckHeaderLength(std::uint64_t size);
  void CountRecordsPastCount(bool read_them);
  void OpenMemo(bool null_if_missing);
  void CheckMemoBlockSize();
  bool FillBuffer();
  const std::uint8_t* FieldBytes(int field) const { return record_ + layouts_[field].offset; }
  bool NullBit(int bit) const;
  std::string_view VarBytes(int field) const;
  std::uint32_t MemoBlock(int field) const;
  void ReadMemo(int field, std::uint32_t block, std::vector<std::uint8_t>& out);
  core::Variant Decode(int field);
  void CheckField(int field) const;
  void DecodeText(int field, std::string_view bytes, std::string& out) const;

  core::FileSystem& fs_;
  std::unique_ptr<core::ReadOnlyFile> file_;
  std::unique_ptr<core::ReadOnlyFile> memo_;
  std::string memo_path_;
  std::unique_ptr<TextDecoder> decoder_;
  std::unique_ptr<TextDecoder> binary_decoder_;  // fields flagged as not translated

  std::uint8_t version_ = 0;
  Family family_ = Family::DBase;
  MemoStyle memo_style_ = MemoStyle::None;
  std::uint32_t memo_block_size_ = 512;
  std::uint32_t header_length_ = 0;
  std::uint32_t record_length_ = 0;
  std::uint32_t header_count_ = 0;
  std::int64_t physical_count_ = 0;  // records the file can hold
  std::int64_t terminator_ = -1;     // offset of the descriptors' terminator, -1 if none
  std::vector<Layout> layouts_;
  std::vector<std::string> raw_names_;  // field names as stored
  std::vector<bool> field_binary_;
  int null_flags_field_ = -1;  // index in the descriptor list (not exposed), or -1
  int null_flags_offset_ = 0;
  int null_flags_length_ = 0;

  // Records are read in large slices; record_ points at the current one.
  std::vector<std::uint8_t> buffer_;
  std::size_t buffer_records_ = 0;
  std::size_t buffer_pos_ = 0;
  std::int64_t next_index_ = 0;  // 0-based index of the first record not yet in the buffer
  bool at_end_ = false;
  bool ended_early_ = false;
  int ansi_code_page_ = 1250;
};

}  // namespace bde

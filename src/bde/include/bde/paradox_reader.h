// Reader of Paradox 3.0 to 7 tables with their .mb blob and .val validity files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bde/code_pages.h"
#include "bde/source_reader.h"
#include "core/file.h"

namespace bde {

class ParadoxReader : public SourceReader {
 public:
  // Opens the table; raises core::EFileError naming the file when it cannot be read, and
  // for password-protected tables.
  ParadoxReader(const std::string& path, const ReaderOptions& options = {},
                core::FileSystem& fs = core::FileSystem::Native());
  ~ParadoxReader() override;

  SourceFormat Format() const override { return SourceFormat::Paradox; }
  bool Next() override;
  core::Variant Value(int field) override;
  std::vector<std::uint8_t> BlobBytes(int field) override;
  bool IsNull(int field) override;
  std::size_t RecordSize() const override { return record_size_; }

  int FileVersion() const { return file_version_; }
  int KeyFieldCount() const { return key_fields_; }
  const std::string& SortOrder() const { return sort_order_; }

 private:
  struct Layout {
    std::uint8_t code = 0;
    int offset = 0;
    int length = 0;
  };

  struct FieldSpec {
    std::uint8_t code = 0;
    std::uint8_t size = 0;
  };

  void ReadHeader(const ReaderOptions& options);
  int ReadFixedHeader(const std::uint8_t* fixed, std::uint64_t size);
  std::vector<FieldSpec> ReadFieldList(const std::vector<std::uint8_t>& head, int field_count,
                                       std::vector<std::string>& raw_names);
  void ReadMarkedCodePage(const std::vector<std::uint8_t>& head);
  void DescribeFields(const std::vector<FieldSpec>& specs,
                      const std::vector<std::string>& raw_names);
  void ReadValidity();
  bool LoadBlock(std::uint16_t number);
  void OpenBlobFile(bool null_if_missing);
  void SampleText(CodePageGuesser& guesser);
  const std::uint8_t* FieldBytes(int field) const { return record_ + layouts_[field].offset; }
  core::Variant DecodeBcd(int field, const std::uint8_t* p);

  core::FileSystem& fs_;
  std::unique_ptr<core::ReadOnlyFile> file_;
  std::unique_ptr<core::ReadOnlyFile> blob_;
  std::string blob_path_;
  std::unique_ptr<TextDecoder> decoder_;

  int file_version_ = 0;
  int key_fields_ = 0;
  std::uint8_t change_count_ = 0;
  std::string sort_order_;
  int marked_ = 0;                      // the code page the header names, 0 for none
  std::vector<std::string> raw_names_;  // field names as stored
  std::uint32_t record_size_ = 0;
  std::uint32_t header_size_ = 0;
  std::uint32_t block_size_ = 0;
  std::uint32_t header_count_ = 0;
  std::uint32_t blocks_in_file_ = 0;  // whole or partial blocks present after the header
  std::uint16_t first_block_ = 0;
  std::vector<Layout> layouts_;

  // The current data block.
  std::vector<std::uint8_t> block_;
  std::vector<bool> visited_;
  std::uint16_t current_block_ = 0;
  std::uint16_t next_block_ = 0;
  int block_records_ = 0;
  int block_pos_ = 0;
  std::int64_t records_seen_ = 0;
  bool started_ = false;
  bool at_end_ = false;
};

}  // namespace bde

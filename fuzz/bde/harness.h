// What each source-table fuzz target does with its input, shared with the test that replays
// the inputs the fuzzers found (tests/data/fuzz/<target>/). Errors about the input are the
// expected outcome; anything else (a crash, a hang, another exception) is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bde/code_pages.h"
#include "bde/source_reader.h"
#include "core/encoding.h"
#include "core/errors.h"

namespace bde_fuzz {

// Opens the table and reads every value and blob of every record.
inline void ReadEverything(core::MemoryFileSystem& fs, const std::string& path,
                           const bde::ReaderOptions& options = {}) {
  try {
    auto reader = bde::OpenSourceTable(path, options, fs);
    while (reader->Next()) {
      for (int i = 0; i < static_cast<int>(reader->Fields().size()); ++i) {
        try {
          reader->IsNull(i);
          reader->Value(i);
          if (bde::IsBlobType(reader->Fields()[i].type)) reader->BlobBytes(i);
        } catch (const core::Exception&) {
        }
      }
    }
  } catch (const core::Exception&) {
  }
}

// Input: u16 length n, n bytes of table, the rest is the memo/blob file.
inline void SplitTableAndMemo(const std::uint8_t* data, std::size_t size, std::string& table,
                              std::string& memo) {
  if (size < 2) {
    table.assign(reinterpret_cast<const char*>(data), size);
    return;
  }
  std::size_t n = data[0] | (data[1] << 8);
  data += 2;
  size -= 2;
  if (n > size) n = size;
  table.assign(reinterpret_cast<const char*>(data), n);
  memo.assign(reinterpret_cast<const char*>(data) + n, size - n);
}

// fuzz_bde_dbf: a whole .dbf and its memo file (found under either memo extension). The
// input's length picks the reading options: records past the count, a missing memo file
// read as Null, and a .cpg companion holding the memo part's first line.
inline void FuzzDbf(const std::uint8_t* data, std::size_t size) {
  std::string table, memo;
  SplitTableAndMemo(data, size, table, memo);
  core::MemoryFileSystem fs;
  fs.SetContents("f/t.dbf", table);
  bde::ReaderOptions options;
  options.read_past_count = size & 1;
  options.missing_memo_null = size & 2;
  if (!options.missing_memo_null || (size & 4)) {
    fs.SetContents("f/t.dbt", memo);
    fs.SetContents("f/t.fpt", memo);
  }
  if (size & 8) fs.SetContents("f/t.cpg", memo.substr(0, memo.find('\n')));
  ReadEverything(fs, "f/t.dbf", options);
}

// fuzz_bde_code_page: texts (separated by newlines) for the code page guesser, then decoded
// with the guess and with a page the first byte picks among every page we decode.
inline void FuzzCodePage(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  bde::CodePageGuesser guesser;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    guesser.Add(text.substr(start, end - start));
    start = end + 1;
  }
  static const std::vector<int> pages = bde::DecodableCodePages();
  for (int page : {guesser.Guess(1250), pages[data[0] % pages.size()]}) {
    if (page == 0) continue;
    const std::string utf8 = bde::TextDecoder(page).Decode(text);
    if (!core::IsValidUtf8(utf8)) __builtin_trap();
  }
}

// fuzz_bde_dbf_memo: a well-formed table of each memo style whose memo pointers and memo
// file come from the input, so the fuzzer spends its time in the memo decoders.
inline void FuzzDbfMemo(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return;
  static const std::uint8_t kVersions[] = {0x83, 0x8B, 0xF5, 0x30};
  const std::uint8_t version = kVersions[data[0] % 4];
  const bool vfp = version == 0x30;
  const int pointer = vfp ? 4 : 10;
  const int records = 2;
  const int record_length = 1 + pointer + 2;
  const int header_length = 32 + 2 * 32 + 1 + (vfp ? 263 : 0);
  std::string t(static_cast<std::size_t>(header_length), '\0');
  t[0] = static_cast<char>(version);
  t[4] = records;
  t[8] = static_cast<char>(header_length & 0xFF);
  t[9] = static_cast<char>(header_length >> 8);
  t[10] = static_cast<char>(record_length);
  t[0x1D] = 0x03;
  auto field = [&](int at, const char* name, char type, int length) {
    for (int i = 0; name[i]; ++i) t[at + i] = name[i];
    t[at + 11] = type;
    t[at + 16] = static_cast<char>(length);
  };
  field(32, "M", 'M', pointer);
  field(64, "C", 'C', 2);
  t[96] = 0x0D;
  for (int r = 0; r < records; ++r) {
    std::string rec(static_cast<std::size_t>(record_length), ' ');
    const std::uint8_t* p = data + 1 + 4 * r;
    const std::uint32_t block =
        p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    if (vfp) {
      for (int i = 0; i < 4; ++i) rec[1 + i] = static_cast<char>(block >> (8 * i));
    } else {
      std::string digits = std::to_string(block % 100000);
      rec.replace(1 + 10 - digits.size(), digits.size(), digits);
    }
    t += rec;
  }
  core::MemoryFileSystem fs;
  fs.SetContents("f/t.dbf", t);
  std::string memo(reinterpret_cast<const char*>(data) + 9, size - 9);
  fs.SetContents("f/t.dbt", memo);
  fs.SetContents("f/t.fpt", memo);
  ReadEverything(fs, "f/t.dbf");
}

// fuzz_bde_paradox: a whole .db and its .mb (left out, to be read as Null, when the input's
// length is odd).
inline void FuzzParadox(const std::uint8_t* data, std::size_t size) {
  std::string table, blobs;
  SplitTableAndMemo(data, size, table, blobs);
  core::MemoryFileSystem fs;
  fs.SetContents("f/t.db", table);
  bde::ReaderOptions options;
  options.missing_memo_null = size & 1;
  if (!options.missing_memo_null) fs.SetContents("f/t.mb", blobs);
  ReadEverything(fs, "f/t.db", options);
}

}  // namespace bde_fuzz

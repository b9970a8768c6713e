// The generated single-byte tables (codepage_tables.cpp, written by
// scripts/gen_codepage_tables.py). Every supported page is ASCII below 0x80, so only the
// upper half is stored.
#pragma once

#include <cstddef>

namespace core::detail {

struct CodePageTable {
  int code_page;
  char16_t high[128];  // code point of byte 0x80 + i
};

extern const CodePageTable kCodePageTables[];
extern const std::size_t kCodePageTableCount;

}  // namespace core::detail

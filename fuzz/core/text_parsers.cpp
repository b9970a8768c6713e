// Fuzzes the core text parsers: float, single, currency, decimal and date-time texts, the
// variant conversions of a text, and the code-page and UTF conversions.
#include <cstdio>
#include <cstdlib>

#include "text_parsers_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failure = core::fuzz::CheckTextParsers(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "core text parsers: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}

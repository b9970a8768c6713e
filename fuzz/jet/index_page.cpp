// Fuzz target: the index page decoder, and the encoder on whatever it accepts. Any input
// must either be refused with IndexPageError or decode into a page that encodes back and
// decodes to the same entries.
#include "jet/index_page.h"

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> page(jet::index_page_layout::kPageSize, 0);
  std::memcpy(page.data(), data, size < page.size() ? size : page.size());
  jet::IndexPage decoded;
  try {
    decoded = jet::DecodeIndexPage(page);
  } catch (const jet::IndexPageError&) {
    return 0;
  }
  std::vector<std::uint8_t> encoded(page.size());
  jet::EncodeIndexPage(decoded, encoded);
  const jet::IndexPage again = jet::DecodeIndexPage(encoded);
  if (again.size() != decoded.size()) __builtin_trap();
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    auto a = decoded.Entry(i), b = again.Entry(i);
    if (a.size() != b.size() || std::memcmp(a.data(), b.data(), a.size()) != 0) __builtin_trap();
    if (!decoded.leaf) (void)decoded.Child(i);
    (void)decoded.RowPointer(i);
    (void)decoded.Key(i);
  }
  // Choosing a prefix for a page that is about to be written never breaks it either.
  if (decoded.FitPrefix()) {
    jet::EncodeIndexPage(decoded, encoded);
    if (jet::DecodeIndexPage(encoded).size() != decoded.size()) __builtin_trap();
  }
  return 0;
}

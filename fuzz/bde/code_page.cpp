// libFuzzer entry: see harness.h for what the input is.
#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  bde_fuzz::FuzzCodePage(data, size);
  return 0;
}

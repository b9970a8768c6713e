// Fuzz target: any bytes opened as a database through DAO and walked as the components walk
// it; every failure must be a DAO error (see dao_checks.h).
#include "dao_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::CheckOpenFile(data, size)) __builtin_trap();
  return 0;
}

// Fuzz target: source texts assigned to fields of every DAO type (see dao_checks.h).
#include "dao_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!fuzz::CheckValueText(data, size)) __builtin_trap();
  return 0;
}

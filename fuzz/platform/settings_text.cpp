// Settings files come from outside: any bytes must give a store or a clear error, and a
// store that was read must read back the same after being written out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/errors.h"
#include "platform/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  platform::MemorySettingsStore store;
  try {
    store = platform::ParseSettingsText(text, "fuzz.ini");
  } catch (const core::EFileError&) {
    return 0;
  }
  const std::string written = platform::FormatSettingsText(store);
  const platform::MemorySettingsStore back = platform::ParseSettingsText(written, "written.ini");
  if (!(back == store)) std::abort();
  if (platform::FormatSettingsText(back) != written) std::abort();
  return 0;
}

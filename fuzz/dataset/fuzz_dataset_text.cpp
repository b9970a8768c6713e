// SQL parameter parsing and string-list text forms on arbitrary bytes: they must never crash,
// and a list written as comma text must read back to the same items.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dataset/db.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  ds::TParams params;
  params.ParseSQL(text, true);
  ds::TStringList list;
  list.SetCommaText(text);
  ds::TStringList again;
  again.SetCommaText(list.CommaText());
  if (!again.Equals(list)) __builtin_trap();
  list.SetText(text);
  list.Values("a");
  return 0;
}

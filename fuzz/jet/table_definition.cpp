// Fuzz target: the bytes of a table definition (first byte: Jet 3 or Jet 4), parsed, and,
// when they parse, serialised again and parsed back.
#include "jet/table_definition.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  jet::JetVersion version = (data[0] & 1) ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;
  try {
    jet::TableDefinition def =
        jet::ParseTableDefinition({data + 1, size - 1}, version, "fuzz", "t", 2);
    if (version == jet::JetVersion::kJet4) {
      auto bytes = jet::SerializeTableDefinition(def);
      jet::ParseTableDefinition(bytes, version, "fuzz", "t", 2);
    }
  } catch (const std::exception&) {
  }
  return 0;
}

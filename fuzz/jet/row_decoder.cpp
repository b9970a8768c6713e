// Fuzz target: one stored row decoded against a table definition. The first byte picks
// the definition (Jet 4 or Jet 3, with or without variable columns); the rest is the row.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/long_value.h"
#include "jet/property_blob.h"
#include "jet/row_codec.h"

namespace {

jet::TableDefinition Definition(std::uint8_t pick) {
  namespace ct = jet::column_type;
  jet::TableDefinition def;
  def.version = (pick & 1) ? jet::JetVersion::kJet3 : jet::JetVersion::kJet4;
  const std::uint8_t types[] = {
      ct::kLong, ct::kText,    ct::kBoolean,  ct::kDouble, ct::kMemo, ct::kCurrency, ct::kBinary,
      ct::kGuid, ct::kNumeric, ct::kDateTime, ct::kOle,    ct::kByte, ct::kInteger,  ct::kSingle};
  std::uint16_t fixed = 0, var = 0;
  bool fixed_only = (pick & 2) != 0;
  for (std::uint16_t i = 0; i < sizeof types; ++i) {
    jet::ColumnDefinition c;
    c.type = types[i];
    c.number = static_cast<std::uint16_t>(i * 2);  // gaps, as after deleted columns
    c.name = "c" + std::to_string(i);
    bool variable =
        c.type == ct::kText || c.type == ct::kMemo || c.type == ct::kBinary || c.type == ct::kOle;
    if (variable && fixed_only) continue;
    c.length = c.type == ct::kText                                                           ? 100
               : c.type == ct::kBinary                                                       ? 50
               : c.type == ct::kNumeric                                                      ? 17
               : c.type == ct::kGuid                                                         ? 16
               : c.type == ct::kCurrency || c.type == ct::kDouble || c.type == ct::kDateTime ? 8
               : c.type == ct::kLong || c.type == ct::kSingle                                ? 4
               : c.type == ct::kInteger                                                      ? 2
                                                                                             : 1;
    if (variable) {
      c.var_index = var++;
    } else {
      c.flags = jet::column_flag::kFixed;
      if (c.type != ct::kBoolean) {
        c.fixed_offset = fixed;
        fixed = static_cast<std::uint16_t>(fixed + c.length);
      }
    }
    c.misc[0] = 18;
    c.misc[1] = 4;
    def.columns.push_back(c);
  }
  def.max_columns = 2 * sizeof types;
  def.var_columns = static_cast<std::uint16_t>(var + 1);  // one deleted variable slot
  return def;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  jet::TableDefinition def = Definition(data[0]);
  jet::RowFormat format(def);
  std::vector<jet::ColumnSlice> slices(format.ColumnCount());
  jet::Location at{.file = "fuzz"};
  try {
    format.Decode({data + 1, size - 1}, slices.data(), at);
    for (std::size_t i = 0; i < slices.size(); ++i) {
      const auto& col = def.columns[i];
      if (col.IsLongValue()) {
        if (!slices[i].null) jet::LongValueLength({slices[i].data, slices[i].size}, at);
        continue;
      }
      jet::DecodeColumnValue(col, slices[i], {def.version, 1252}, at).ToString();
    }
  } catch (const std::exception&) {
  }
  try {
    jet::DecodePropertyBlob({data + 1, size - 1}, def.version, at);
  } catch (const std::exception&) {
  }
  return 0;
}

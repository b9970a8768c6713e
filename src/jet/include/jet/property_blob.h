// Property blobs: the LvProp long value of a catalog row, holding the properties of an
// object and of its named parts (a table's columns).
//
//   blob  := "MR2\0" (Jet 4) | "KKD\0" (Jet 3), then blocks
//   block := u32 length (with this header) ; u16 type ; body
//   type 0x80: the property names, each u16 byte length + UCS-2
//   type 0x00 (the object) / 0x01 (a named part): u32 name-part length ; u16 + UCS-2 name ;
//              records: u16 length ; u8 ddl ; u8 type ; u16 name index ; u16 size ; value
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/variant.h"
#include "jet/errors.h"
#include "jet/format.h"

namespace jet {

struct Property {
  std::string name;
  std::uint8_t type = 0;  // column type code: 0x01 Boolean, 0x04 Long, 0x0A Text, 0x0C Memo...
  bool ddl = false;       // defined through the engine's data definition (Required, Format...)
  std::vector<std::uint8_t> value;  // stored bytes (text as UCS-2)

  // The value as a Variant (Boolean, integers, text, bytes for the rest).
  core::Variant Value() const;
  static Property Text(std::string name, const std::string& utf8, bool ddl, bool memo = false);
  static Property Boolean(std::string name, bool value, bool ddl);
  static Property Long(std::string name, std::int32_t value, bool ddl);
};

struct PropertyMap {
  std::string name;  // empty for the object itself; the column name otherwise
  std::vector<Property> properties;
  const Property* Find(std::string_view property) const;
};

struct PropertyBlob {
  std::vector<PropertyMap> maps;
  const PropertyMap* Find(std::string_view name) const;  // "" = the object itself
  PropertyMap& Get(const std::string& name);             // creates it when missing
};

// Raises CorruptDatabase (located by `at`) for a blob whose structure is broken.
PropertyBlob DecodePropertyBlob(std::span<const std::uint8_t> bytes, JetVersion version,
                                const Location& at);
// Jet 4 form. The object's own block is written first, then one block per column.
std::vector<std::uint8_t> EncodePropertyBlob(const PropertyBlob& blob);

}  // namespace jet

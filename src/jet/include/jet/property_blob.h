// Property blobs: the LvProp long value of a catalog row, holding the properties of an
// object and of its named parts (a table's columns).
//
//   blob  := "MR2\0" (Jet 4) | "KKD\0" (Jet 3), then blocks
//   block := u32 length (with this header) ; u16 type ; body
//   type 0x80: the property names, each u16 byte length + UCS-2
//   type 0x00 (the object) / 0x01 (a named part): u32 name-part length ; u16 + UCS-2 name ;
//              records: u16 length ; u8 ddl ; u8 type ; u16 name index ; u16 size ; value
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/variant.h"
#include "jet/errors.h"
#include "jet/format.h"

namespace jet {

// The blob's pieces, declared once for the decoder and the encoder.
struct PropertyBlobLayout {
  static constexpr std::size_t kSignatureSize = 4;
  static constexpr char kJet4Signature[kSignatureSize] = {'M', 'R', '2', '\0'};
  static constexpr char kJet3Signature[kSignatureSize] = {'K', 'K', 'D', '\0'};
};

// Every block starts with this header; its length counts the header.
struct PropertyBlockLayout {
  static constexpr std::size_t kLength = 0;  // u32 bytes of the block, header included
  static constexpr std::size_t kType = 4;    // u16 one of the types below
  static constexpr std::size_t kBody = 6;    // header size

  static constexpr std::uint16_t kNamesType = 0x0080;   // body: the property names
  static constexpr std::uint16_t kObjectType = 0x0000;  // body: the object's properties
  static constexpr std::uint16_t kPartType = 0x0001;    // body: a named part's properties

  // Names block body: one entry after another.
  static constexpr std::size_t kNameLengthSize = 2;  // u16 byte length, then the name
};

// Body of an object or part block: the name part, then property records.
struct PropertyMapLayout {
  static constexpr std::size_t kNamePartLength = 0;  // u32 bytes of the name part
  static constexpr std::size_t kNameLength = 4;      // u16 byte length of the name
  static constexpr std::size_t kName = 6;            // the name (UCS-2; Jet 3: code page)
};

// One property record; its length counts the header.
struct PropertyRecordLayout {
  static constexpr std::size_t kLength = 0;     // u16 bytes of the record
  static constexpr std::size_t kDdl = 2;        // u8 1 = a data-definition property
  static constexpr std::size_t kType = 3;       // u8 column type code of the value
  static constexpr std::size_t kNameIndex = 4;  // u16 position in the names block
  static constexpr std::size_t kValueSize = 6;  // u16 bytes of the value
  static constexpr std::size_t kValue = 8;      // header size; the value follows
};

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

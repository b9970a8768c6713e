#include "jet/property_blob.h"

#include <cstring>
#include <iterator>

#include "core/encoding.h"
#include "text_util.h"

namespace jet {
namespace {

using Block = PropertyBlockLayout;
using Map = PropertyMapLayout;
using Record = PropertyRecordLayout;

std::vector<std::uint8_t> Ucs2(const std::string& utf8) {
  std::u16string u = core::Utf8ToUtf16(utf8);
  std::vector<std::uint8_t> out;
  for (char16_t c : u) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return out;
}

std::string NameText(const std::uint8_t* p, std::size_t n, JetVersion v) {
  if (v == JetVersion::kJet3)
    return core::DecodeToUtf8(1252, std::string_view(reinterpret_cast<const char*>(p), n));
  return Ucs2ToUtf8(p, n);
}

}  // namespace

core::Variant Property::Value() const {
  const std::uint8_t* p = value.data();
  std::size_t n = value.size();
  switch (type) {
    case 0x01:
      return core::Variant::FromBoolean(n > 0 && p[0] != 0);
    case 0x02:
      if (n >= 1) return core::Variant::FromByte(p[0]);
      break;
    case 0x03:
      if (n >= 2) return core::Variant::FromInteger(static_cast<std::int16_t>(Le16(p)));
      break;
    case 0x04:
      if (n >= 4) return core::Variant::FromLong(static_cast<std::int32_t>(Le32(p)));
      break;
    case 0x0A:
    case 0x0C:
      return core::Variant::FromString(Ucs2ToUtf8(p, n));
  }
  return core::Variant::FromBytes(value);
}

Property Property::Text(std::string name, const std::string& utf8, bool ddl, bool memo) {
  return Property{std::move(name), static_cast<std::uint8_t>(memo ? 0x0C : 0x0A), ddl, Ucs2(utf8)};
}

Property Property::Boolean(std::string name, bool value, bool ddl) {
  return Property{std::move(name), 0x01, ddl, {static_cast<std::uint8_t>(value ? 0x01 : 0x00)}};
}

Property Property::Long(std::string name, std::int32_t value, bool ddl) {
  std::vector<std::uint8_t> v(4);
  PutLe32(v.data(), static_cast<std::uint32_t>(value));
  return Property{std::move(name), 0x04, ddl, v};
}

const Property* PropertyMap::Find(std::string_view property) const {
  for (const auto& p : properties)
    if (NamesEqual(p.name, property)) return &p;
  return nullptr;
}

const PropertyMap* PropertyBlob::Find(std::string_view name) const {
  for (const auto& m : maps)
    if (NamesEqual(m.name, name)) return &m;
  return nullptr;
}

PropertyMap& PropertyBlob::Get(const std::string& name) {
  for (auto& m : maps)
    if (NamesEqual(m.name, name)) return m;
  maps.push_back(PropertyMap{name, {}});
  return maps.back();
}

PropertyBlob DecodePropertyBlob(std::span<const std::uint8_t> bytes, JetVersion version,
                                const Location& at) {
  using Sig = PropertyBlobLayout;
  PropertyBlob blob;
  if (bytes.size() < Sig::kSignatureSize)
    ThrowCorrupt(at, "a property blob is shorter than its signature");
  bool mr2 = std::memcmp(bytes.data(), Sig::kJet4Signature, Sig::kSignatureSize) == 0;
  bool kkd = std::memcmp(bytes.data(), Sig::kJet3Signature, Sig::kSignatureSize) == 0;
  if (!mr2 && !kkd) ThrowCorrupt(at, "a property blob does not start with MR2 or KKD");
  const JetVersion text = kkd ? JetVersion::kJet3 : JetVersion::kJet4;
  (void)version;
  std::vector<std::string> names;
  std::size_t pos = Sig::kSignatureSize;
  while (pos + Block::kBody <= bytes.size()) {
    std::uint32_t length = Le32(bytes.data() + pos + Block::kLength);
    std::uint16_t type = Le16(bytes.data() + pos + Block::kType);
    if (length < Block::kBody || length > bytes.size() - pos)
      ThrowCorrupt(
          at, "a property block of " + std::to_string(length) + " bytes does not fit the blob");
    const std::uint8_t* b = bytes.data() + pos + Block::kBody;
    std::size_t n = length - Block::kBody;
    if (type == Block::kNamesType) {
      std::size_t i = 0;
      while (i + Block::kNameLengthSize <= n) {
        std::size_t len = Le16(b + i);
        std::size_t head = Block::kNameLengthSize;
        if (i + head + len > n) ThrowCorrupt(at, "a property name runs past its block");
        names.push_back(NameText(b + i + head, len, text));
        i += head + len;
      }
    } else if (type == Block::kObjectType || type == Block::kPartType) {
      if (n < Map::kName) ThrowCorrupt(at, "a property block is too short for its name");
      std::uint32_t name_part = Le32(b + Map::kNamePartLength);
      std::uint16_t name_len = Le16(b + Map::kNameLength);
      if (name_part < Map::kName || name_part > n || Map::kName + name_len > name_part)
        ThrowCorrupt(at, "a property block's name does not fit it");
      PropertyMap map;
      map.name = NameText(b + Map::kName, name_len, text);
      std::size_t i = name_part;
      while (i + Record::kValue <= n) {
        const std::uint8_t* r = b + i;
        std::uint16_t rlen = Le16(r + Record::kLength);
        std::uint16_t size = Le16(r + Record::kValueSize);
        if (rlen < Record::kValue || i + rlen > n || Record::kValue + std::size_t{size} > rlen)
          ThrowCorrupt(at, "a property record runs past its block");
        Property prop;
        prop.ddl = r[Record::kDdl] != 0;
        prop.type = r[Record::kType];
        std::uint16_t name_index = Le16(r + Record::kNameIndex);
        if (name_index >= names.size())
          ThrowCorrupt(at, "a property refers to name " + std::to_string(name_index) + " of " +
                               std::to_string(names.size()));
        prop.name = names[name_index];
        prop.value.assign(r + Record::kValue, r + Record::kValue + size);
        map.properties.push_back(std::move(prop));
        i += rlen;
      }
      blob.maps.push_back(std::move(map));
    }
    pos += length;
  }
  return blob;
}

std::vector<std::uint8_t> EncodePropertyBlob(const PropertyBlob& blob) {
  std::vector<std::string> names;
  auto name_index = [&](const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i)
      if (names[i] == name) return static_cast<std::uint16_t>(i);
    names.push_back(name);
    return static_cast<std::uint16_t>(names.size() - 1);
  };
  std::vector<const PropertyMap*> order;
  for (const auto& m : blob.maps)
    if (m.name.empty()) order.push_back(&m);
  for (const auto& m : blob.maps)
    if (!m.name.empty()) order.push_back(&m);
  std::vector<std::vector<std::uint8_t>> blocks;
  for (const PropertyMap* m : order) {
    std::vector<std::uint8_t> body;
    std::vector<std::uint8_t> name = Ucs2(m->name);
    body.resize(Map::kName);
    PutLe32(body.data() + Map::kNamePartLength,
            static_cast<std::uint32_t>(Map::kName + name.size()));
    PutLe16(body.data() + Map::kNameLength, static_cast<std::uint16_t>(name.size()));
    body.insert(body.end(), name.begin(), name.end());
    for (const auto& p : m->properties) {
      std::size_t at = body.size();
      body.resize(at + Record::kValue);
      std::uint8_t* r = body.data() + at;
      PutLe16(r + Record::kLength, static_cast<std::uint16_t>(Record::kValue + p.value.size()));
      r[Record::kDdl] = p.ddl ? 1 : 0;
      r[Record::kType] = p.type;
      PutLe16(r + Record::kNameIndex, name_index(p.name));
      PutLe16(r + Record::kValueSize, static_cast<std::uint16_t>(p.value.size()));
      body.insert(body.end(), p.value.begin(), p.value.end());
    }
    std::vector<std::uint8_t> block(Block::kBody);
    PutLe32(block.data() + Block::kLength, static_cast<std::uint32_t>(Block::kBody + body.size()));
    PutLe16(block.data() + Block::kType, m->name.empty() ? Block::kObjectType : Block::kPartType);
    block.insert(block.end(), body.begin(), body.end());
    blocks.push_back(std::move(block));
  }
  std::vector<std::uint8_t> names_body;
  for (const auto& n : names) {
    std::vector<std::uint8_t> u = Ucs2(n);
    std::uint8_t len[Block::kNameLengthSize];
    PutLe16(len, static_cast<std::uint16_t>(u.size()));
    names_body.insert(names_body.end(), len, len + Block::kNameLengthSize);
    names_body.insert(names_body.end(), u.begin(), u.end());
  }
  std::vector<std::uint8_t> out(std::begin(PropertyBlobLayout::kJet4Signature),
                                std::end(PropertyBlobLayout::kJet4Signature));
  std::uint8_t head[Block::kBody];
  PutLe32(head + Block::kLength, static_cast<std::uint32_t>(Block::kBody + names_body.size()));
  PutLe16(head + Block::kType, Block::kNamesType);
  out.insert(out.end(), head, head + Block::kBody);
  out.insert(out.end(), names_body.begin(), names_body.end());
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace jet

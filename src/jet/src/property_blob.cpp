#include "jet/property_blob.h"

#include <cstring>

#include "core/encoding.h"
#include "text_util.h"

namespace jet {
namespace {

constexpr std::uint16_t kNamesBlock = 0x0080;
constexpr std::uint16_t kObjectBlock = 0x0000;
constexpr std::uint16_t kPartBlock = 0x0001;
constexpr std::size_t kBlockHeader = 6;   // u32 length, u16 type
constexpr std::size_t kRecordHeader = 8;  // u16 length, u8 ddl, u8 type, u16 name, u16 size

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
  PropertyBlob blob;
  if (bytes.size() < 4) ThrowCorrupt(at, "a property blob is shorter than its signature");
  bool mr2 = std::memcmp(bytes.data(), "MR2\0", 4) == 0;
  bool kkd = std::memcmp(bytes.data(), "KKD\0", 4) == 0;
  if (!mr2 && !kkd) ThrowCorrupt(at, "a property blob does not start with MR2 or KKD");
  const JetVersion text = kkd ? JetVersion::kJet3 : JetVersion::kJet4;
  (void)version;
  std::vector<std::string> names;
  std::size_t pos = 4;
  while (pos + kBlockHeader <= bytes.size()) {
    std::uint32_t length = Le32(bytes.data() + pos);
    std::uint16_t type = Le16(bytes.data() + pos + 4);
    if (length < kBlockHeader || length > bytes.size() - pos)
      ThrowCorrupt(
          at, "a property block of " + std::to_string(length) + " bytes does not fit the blob");
    const std::uint8_t* b = bytes.data() + pos + kBlockHeader;
    std::size_t n = length - kBlockHeader;
    if (type == kNamesBlock) {
      std::size_t i = 0;
      while (i + 2 <= n) {
        std::size_t len = Le16(b + i);
        std::size_t head = 2;
        if (i + head + len > n) ThrowCorrupt(at, "a property name runs past its block");
        names.push_back(NameText(b + i + head, len, text));
        i += head + len;
      }
    } else if (type == kObjectBlock || type == kPartBlock) {
      if (n < 6) ThrowCorrupt(at, "a property block is too short for its name");
      std::uint32_t name_part = Le32(b);
      std::uint16_t name_len = Le16(b + 4);
      if (name_part < 6 || name_part > n || 6u + name_len > name_part)
        ThrowCorrupt(at, "a property block's name does not fit it");
      PropertyMap map;
      map.name = NameText(b + 6, name_len, text);
      std::size_t i = name_part;
      while (i + kRecordHeader <= n) {
        std::uint16_t rlen = Le16(b + i);
        std::uint16_t size = Le16(b + i + 6);
        if (rlen < kRecordHeader || i + rlen > n || kRecordHeader + std::size_t{size} > rlen)
          ThrowCorrupt(at, "a property record runs past its block");
        Property prop;
        prop.ddl = b[i + 2] != 0;
        prop.type = b[i + 3];
        std::uint16_t name_index = Le16(b + i + 4);
        if (name_index >= names.size())
          ThrowCorrupt(at, "a property refers to name " + std::to_string(name_index) + " of " +
                               std::to_string(names.size()));
        prop.name = names[name_index];
        prop.value.assign(b + i + kRecordHeader, b + i + kRecordHeader + size);
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
    body.resize(6);
    PutLe32(body.data(), static_cast<std::uint32_t>(6 + name.size()));
    PutLe16(body.data() + 4, static_cast<std::uint16_t>(name.size()));
    body.insert(body.end(), name.begin(), name.end());
    for (const auto& p : m->properties) {
      std::size_t at = body.size();
      body.resize(at + kRecordHeader);
      PutLe16(body.data() + at, static_cast<std::uint16_t>(kRecordHeader + p.value.size()));
      body[at + 2] = p.ddl ? 1 : 0;
      body[at + 3] = p.type;
      PutLe16(body.data() + at + 4, name_index(p.name));
      PutLe16(body.data() + at + 6, static_cast<std::uint16_t>(p.value.size()));
      body.insert(body.end(), p.value.begin(), p.value.end());
    }
    std::vector<std::uint8_t> block(kBlockHeader);
    PutLe32(block.data(), static_cast<std::uint32_t>(kBlockHeader + body.size()));
    PutLe16(block.data() + 4, m->name.empty() ? kObjectBlock : kPartBlock);
    block.insert(block.end(), body.begin(), body.end());
    blocks.push_back(std::move(block));
  }
  std::vector<std::uint8_t> names_body;
  for (const auto& n : names) {
    std::vector<std::uint8_t> u = Ucs2(n);
    std::uint8_t len[2];
    PutLe16(len, static_cast<std::uint16_t>(u.size()));
    names_body.insert(names_body.end(), len, len + 2);
    names_body.insert(names_body.end(), u.begin(), u.end());
  }
  std::vector<std::uint8_t> out = {'M', 'R', '2', 0};
  std::uint8_t head[kBlockHeader];
  PutLe32(head, static_cast<std::uint32_t>(kBlockHeader + names_body.size()));
  PutLe16(head + 4, kNamesBlock);
  out.insert(out.end(), head, head + kBlockHeader);
  out.insert(out.end(), names_body.begin(), names_body.end());
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace jet

// Explicit-endian loads from byte buffers. File layouts are never cast to structs.
#pragma once

#include <cstdint>
#include <cstring>

namespace bde {

inline std::uint16_t LoadU16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32LE(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t LoadU64LE(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(LoadU32LE(p)) |
         (static_cast<std::uint64_t>(LoadU32LE(p + 4)) << 32);
}
inline std::uint16_t LoadU16BE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t LoadU32BE(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t LoadU64BE(const std::uint8_t* p) {
  return (static_cast<std::uint64_t>(LoadU32BE(p)) << 32) | LoadU32BE(p + 4);
}
inline double BitsToDouble(std::uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

}  // namespace bde

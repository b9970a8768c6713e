// Key comparisons the B-tree's files share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

namespace jet::tree {

// Deeper than any real tree: 3 entries per page would need 3^32 rows. A deeper walk means
// the child pointers loop.
inline constexpr std::size_t kMaxDepth = 32;

inline int Compare(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Compares the first |prefix| bytes of a key with the prefix; a key shorter than the prefix
// that matches as far as it goes is smaller.
inline int ComparePrefix(std::span<const std::uint8_t> key, std::span<const std::uint8_t> prefix) {
  const std::size_t n = std::min(key.size(), prefix.size());
  const int c = n == 0 ? 0 : std::memcmp(key.data(), prefix.data(), n);
  if (c != 0) return c;
  return key.size() < prefix.size() ? -1 : 0;
}

}  // namespace jet::tree

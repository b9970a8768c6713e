// An index tree walker for the tests, written from the page layout alone (it shares no
// code with the engine's page codec): it reads raw page bytes, restores prefixes from the
// entry mask, and checks the shape rules every Jet index tree must keep. It returns the
// entries in leaf order so that tests can compare them with what the engine says.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace index_test {

struct RawPage {
  int type = 0;
  std::uint16_t free_space = 0;
  std::uint32_t tdef = 0, prev = 0, next = 0, tail = 0;
  std::uint8_t level = 0;
  std::vector<std::vector<std::uint8_t>> entries;
  std::size_t stored = 0;
};

inline std::uint32_t RawLe32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline RawPage ParseRaw(const std::uint8_t* p) {
  RawPage page;
  page.type = p[0];
  page.free_space = static_cast<std::uint16_t>(p[2] | p[3] << 8);
  page.tdef = RawLe32(p + 4);
  page.prev = RawLe32(p + 12);
  page.next = RawLe32(p + 16);
  page.tail = RawLe32(p + 20);
  const std::size_t prefix = p[24] | p[25] << 8;
  page.level = p[26];
  std::size_t start = 0;
  for (std::size_t bit = 0; bit < 453 * 8; ++bit) {
    if (!(p[27 + bit / 8] >> (bit % 8) & 1)) continue;
    std::vector<std::uint8_t> e;
    if (!page.entries.empty()) e.assign(page.entries[0].begin(), page.entries[0].begin() + prefix);
    e.insert(e.end(), p + 0x1E0 + start, p + 0x1E0 + bit);
    page.entries.push_back(e);
    start = bit;
  }
  page.stored = start;
  return page;
}

struct RawTree {
  std::vector<std::vector<std::uint8_t>> entries;  // leaf entries in order (key + row pointer)
  std::vector<std::uint32_t> pages;                // every page of the tree
  int height = 0;
};

// Walks the tree below `root`, checking with gtest assertions:
// - free-space fields; node entries = last entry of the child's subtree + child number;
// - a node with a tail has at least one entry, one without has exactly one;
// - all leaves at one depth, only the root may be an empty leaf;
// - each level chained by prev/next in order, ends at 0;
// - entries strictly ascending along the leaves;
// - when `ours` (a tree this program wrote): byte 0x1A is the height above the leaves
//   and node levels are chained too (Access and Jackcess leave those links to chance).
inline RawTree WalkRaw(const std::function<const std::uint8_t*(std::uint32_t)>& page_at,
                       std::uint32_t root, bool ours = true) {
  const bool check_levels = ours;
  RawTree tree;
  std::map<int, std::vector<std::uint32_t>> by_depth;
  int leaf_depth = -1;
  // Returns the subtree's last entry.
  std::function<std::vector<std::uint8_t>(std::uint32_t, int)> walk = [&](std::uint32_t n,
                                                                          int depth) {
    EXPECT_LT(depth, 32) << "too deep at page " << n;
    if (depth >= 32) return std::vector<std::uint8_t>{};
    const RawPage page = ParseRaw(page_at(n));
    tree.pages.push_back(n);
    by_depth[depth].push_back(n);
    EXPECT_EQ(page.free_space, 3616 - page.stored) << "page " << n;
    if (page.type == 4) {
      if (leaf_depth < 0) leaf_depth = depth;
      EXPECT_EQ(depth, leaf_depth) << "leaf " << n << " at another depth";
      EXPECT_EQ(page.tail, 0u) << "leaf " << n;
      EXPECT_TRUE(!page.entries.empty() || n == root) << "empty leaf " << n;
      if (check_levels) {
        EXPECT_EQ(page.level, 0) << "leaf " << n;
      }
      for (const auto& e : page.entries) tree.entries.push_back(e);
      return page.entries.empty() ? std::vector<std::uint8_t>{} : page.entries.back();
    }
    EXPECT_EQ(page.type, 3) << "page " << n;
    if (page.type != 3) return std::vector<std::uint8_t>{};
    if (page.tail == 0) {
      EXPECT_EQ(page.entries.size(), 1u) << "node " << n << " without tail";
    } else {
      EXPECT_GE(page.entries.size(), 1u) << "node " << n << " has only a tail";
    }
    std::vector<std::uint8_t> last;
    for (const auto& e : page.entries) {
      const std::uint32_t child =
          e[e.size() - 4] << 24 | e[e.size() - 3] << 16 | e[e.size() - 2] << 8 | e.back();
      const auto child_last = walk(child, depth + 1);
      EXPECT_TRUE(std::equal(e.begin(), e.end() - 4, child_last.begin(), child_last.end()))
          << "node " << n << " entry for child " << child << " is not the child's last entry";
      last.assign(e.begin(), e.end() - 4);
    }
    if (page.tail != 0) last = walk(page.tail, depth + 1);
    return last;
  };
  walk(root, 0);
  tree.height = leaf_depth + 1;
  for (auto& [depth, pages] : by_depth) {
    // Pages were visited left to right: the chain must follow that order.
    for (std::size_t i = 0; i < pages.size(); ++i) {
      const RawPage page = ParseRaw(page_at(pages[i]));
      if (!ours && page.type == 3) continue;
      EXPECT_EQ(page.prev, i == 0 ? 0u : pages[i - 1]) << "prev of page " << pages[i];
      EXPECT_EQ(page.next, i + 1 == pages.size() ? 0u : pages[i + 1])
          << "next of page " << pages[i];
      if (check_levels && page.type == 3) {
        EXPECT_EQ(page.level, leaf_depth - depth) << "level of node " << pages[i];
      }
    }
  }
  for (std::size_t i = 1; i < tree.entries.size(); ++i) {
    EXPECT_LT(tree.entries[i - 1], tree.entries[i])
        << "leaf entries " << i - 1 << " and " << i << " out of order";
  }
  return tree;
}

}  // namespace index_test

// Replays the inputs that once made the core text-parser fuzzer fail, so they stay fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../fuzz/core/text_parsers_check.h"

namespace core {
namespace {

TEST(FuzzReplay, TextParserFindingsStayFixed) {
  const std::filesystem::path dir = DATOVRAT_TESTDATA "/fuzz/core_text_parsers";
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  int replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(
        fuzz::CheckTextParsers(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        "")
        << entry.path().filename();
    ++replayed;
  }
  EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace core

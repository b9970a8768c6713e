// Replays the inputs that once made the DAO fuzz targets fail, so they stay fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../../fuzz/dao/dao_checks.h"

namespace {

std::vector<std::filesystem::path> Inputs(const char* target) {
  std::vector<std::filesystem::path> out;
  const std::filesystem::path dir = std::filesystem::path(DATOVRAT_TESTDATA) / "fuzz" / target;
  if (!std::filesystem::exists(dir)) return out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.is_regular_file() && e.path().filename() != "README.md") out.push_back(e.path());
  return out;
}

std::string Read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FuzzReplay, ValueTexts) {
  for (const auto& p : Inputs("dao_values")) {
    std::string bytes = Read(p);
    EXPECT_TRUE(
        fuzz::CheckValueText(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
        << p;
  }
}

TEST(FuzzReplay, OpenedFiles) {
  for (const auto& p : Inputs("dao_open_file")) {
    std::string bytes = Read(p);
    EXPECT_TRUE(
        fuzz::CheckOpenFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()))
        << p;
  }
}

}  // namespace

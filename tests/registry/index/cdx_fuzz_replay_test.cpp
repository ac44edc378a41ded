// Replays the index fuzzer's saved corpus, and damaged copies of the fixture
// indexes (truncated, bytes flipped), through the fuzzer's entry function.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace ravelto::registry {
int FuzzCdxReader(const uint8_t* data, std::size_t size);
namespace {

std::vector<uint8_t> Read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(CdxFuzzReplay, SavedCorpusRunsClean) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(RAVELTO_CDX_CORPUS)) {
    auto bytes = Read(e.path());
    FuzzCdxReader(bytes.data(), bytes.size());
    ++n;
  }
  EXPECT_GT(n, 0);
}

TEST(CdxFuzzReplay, DamagedFixtureIndexesRunClean) {
  for (const char* table : {"ci007", "m1042", "ci003"}) {
    auto bytes = Read(std::string(RAVELTO_TEST_DATA) + "/registry-cdx/" + table + ".cdx");
    for (std::size_t cut = 0; cut < bytes.size(); cut += 97) FuzzCdxReader(bytes.data(), cut);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
      for (uint8_t flip : {0x01, 0x80, 0xFF}) {
        bytes[at] ^= flip;
        FuzzCdxReader(bytes.data(), bytes.size());
        bytes[at] ^= flip;
      }
    }
  }
}

}  // namespace
}  // namespace ravelto::registry

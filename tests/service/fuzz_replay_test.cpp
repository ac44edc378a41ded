// Replays the fuzzers' saved corpora through the same entry functions, so
// that every input that once mattered stays checked in the normal build.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int FuzzHttpAnswer(const std::uint8_t* data, std::size_t size);
int FuzzProtocolAnswers(const std::uint8_t* data, std::size_t size);

namespace {

std::size_t ReplayCorpus(const std::string& name, int (*entry)(const std::uint8_t*, std::size_t)) {
  std::size_t count = 0;
  for (const auto& file : std::filesystem::directory_iterator(std::string(RAVELTO_FUZZ_CORPUS) + "/" + name)) {
    std::ifstream in(file.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  return count;
}

TEST(FuzzCorpus, HttpAnswerReplaysClean) { EXPECT_GT(ReplayCorpus("http_answer", FuzzHttpAnswer), 0u); }

TEST(FuzzCorpus, ProtocolAnswersReplayClean) {
  EXPECT_GT(ReplayCorpus("protocol_answers", FuzzProtocolAnswers), 0u);
}

}  // namespace

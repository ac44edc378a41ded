// Replays the saved fuzzing corpora of the table reader and the SQL parser
// through the fuzzers' own entry functions.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int FuzzDbfReader(const std::uint8_t* data, std::size_t size);
int FuzzSqlParser(const std::uint8_t* data, std::size_t size);

namespace {

void Replay(const char* corpus, int (*entry)(const std::uint8_t*, std::size_t)) {
  int files = 0;
  for (const auto& file : std::filesystem::directory_iterator(std::string(RAVELTO_FUZZ_CORPUS) + "/" + corpus)) {
    std::ifstream in(file.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    SCOPED_TRACE(file.path().string());
    entry(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++files;
  }
  EXPECT_GT(files, 0);
}

TEST(RegistryFuzzCorpus, TableReaderReplays) { Replay("dbf_reader", FuzzDbfReader); }
TEST(RegistryFuzzCorpus, SqlParserReplays) { Replay("sql_parser", FuzzSqlParser); }

}  // namespace

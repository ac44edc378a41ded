#include "tests/registry/index/cdx_test_util.h"

#include <atomic>
#include <random>
#include <vector>

#include "registry/index/cdx_store.h"

namespace ravelto::registry::testing {

namespace {

// Removes the folders this process made when it exits.
struct Cleanup {
  std::vector<std::filesystem::path> dirs;
  ~Cleanup() {
    std::error_code ec;
    for (const auto& d : dirs) std::filesystem::remove_all(d, ec);
  }
};
Cleanup& Made() {
  static Cleanup c;
  return c;
}

}  // namespace

std::filesystem::path CopyFixtures() {
  static std::atomic<int> n{0};
  static const unsigned run = std::random_device{}();
  auto dir = std::filesystem::temp_directory_path() /
             ("cdx-test-" + std::to_string(run) + "-" + std::to_string(n++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Made().dirs.push_back(dir);
  for (const auto& e : std::filesystem::directory_iterator(std::string(RAVELTO_TEST_DATA) + "/registry-cdx")) {
    std::filesystem::copy_file(e.path(), dir / e.path().filename());
    std::filesystem::permissions(dir / e.path().filename(), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
  }
  return dir;
}

std::filesystem::path Dbf(const std::filesystem::path& folder, const std::string& table) {
  return folder / (table + ".dbf");
}
std::filesystem::path Cdx(const std::filesystem::path& folder, const std::string& table) {
  return folder / (table + ".cdx");
}

CdxRecordSource Source(const DbfImage& image) {
  CdxRecordSource s;
  s.count = image.record_count;
  s.record = [&image](uint32_t r) { return image.Record(r); };
  return s;
}

std::string CheckTable(const std::filesystem::path& folder, const std::string& table) {
  DbfImage image = ReadDbfImage(Dbf(folder, table));
  FileCdxStore store(Cdx(folder, table), false);
  CdxCheckReport report = CheckIndex(store, image.layout, Source(image));
  std::string out;
  for (const auto& p : report.problems) out += p + "\n";
  return out;
}

}  // namespace ravelto::registry::testing

#include "tests/registry/index/cdx_test_util.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
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

std::filesystem::path CopyFixtures(const std::string& set) {
  static std::atomic<int> n{0};
  static const unsigned run = std::random_device{}();
  auto dir = std::filesystem::temp_directory_path() /
             ("cdx-test-" + std::to_string(run) + "-" + std::to_string(n++));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Made().dirs.push_back(dir);
  for (const auto& e : std::filesystem::directory_iterator(std::string(RAVELTO_TEST_DATA) + "/" + set)) {
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

std::vector<CdxNode> LeafChain(const CdxIndex& index, const CdxTagHeader& tag, uint8_t pad) {
  CdxNode node = index.ReadNode(tag.root, tag.key_length, pad);
  while (!node.IsLeaf()) node = index.ReadNode(node.entries.front().child, tag.key_length, pad);
  std::vector<CdxNode> out;
  for (;;) {
    out.push_back(node);
    if (!cdx::IsPageOffset(node.right)) return out;
    node = index.ReadNode(node.right, tag.key_length, pad);
  }
}

std::vector<uint8_t> FileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool PackTightly(const CdxNode& node, std::size_t key_length, uint8_t pad, std::span<uint8_t> page) {
  if (!node.IsLeaf()) return EncodeNode(node, key_length, pad, page);
  std::size_t max_dup = 0, max_trail = 0;
  uint32_t max_recno = 0;
  for (std::size_t i = 0; i < node.entries.size(); ++i) {
    const std::string& key = node.entries[i].key;
    const std::size_t trail = TrailCount(key, pad);
    max_trail = std::max(max_trail, trail);
    if (i > 0) max_dup = std::max(max_dup, DuplicateCount(key, node.entries[i - 1].key, trail));
    max_recno = std::max(max_recno, node.entries[i].recno);
  }
  CdxLeafWidths widths{BitWidth(max_dup), BitWidth(max_trail), 1};
  while (widths.entry_bytes * 8 < widths.dup_bits + widths.trail_bits + std::max(1u, BitWidth(max_recno))) {
    ++widths.entry_bytes;
  }
  return EncodeLeaf(node, key_length, pad, widths, page);
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

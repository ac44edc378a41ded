#include "registry/index/cdx_folder_learning.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "platform/files.h"
#include "registry/index/cdx_store.h"

namespace ravelto::registry {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A table file read one record at a time, with the layout of its header.
class TableRecords {
 public:
  explicit TableRecords(const std::filesystem::path& dbf) : file_(platform::Open(dbf, platform::OpenMode::kRead)) {
    if (file_ < 0) throw CdxError("cannot open " + platform::PathText(dbf));
    std::vector<uint8_t> head(32);
    if (platform::ReadAt(file_, head.data(), head.size(), 0) != 32) throw CdxError("short table header");
    const uint32_t header_length = head[8] | (head[9] << 8);
    head.resize(header_length);
    if (platform::ReadAt(file_, head.data(), head.size(), 0) != static_cast<int64_t>(head.size())) {
      throw CdxError("short table header");
    }
    layout_ = ParseDbfLayout(head, &header_length_, &count_);
    buffer_.resize(layout_.record_length);
  }
  ~TableRecords() {
    if (file_ >= 0) platform::Close(file_);
  }
  TableRecords(const TableRecords&) = delete;
  TableRecords& operator=(const TableRecords&) = delete;

  const CdxLayout& Layout() const { return layout_; }
  CdxRecordSource Source() {
    CdxRecordSource s;
    s.count = count_;
    s.record = [this](uint32_t recno) {
      const uint64_t at = header_length_ + uint64_t{recno - 1} * layout_.record_length;
      if (platform::ReadAt(file_, buffer_.data(), buffer_.size(), at) != static_cast<int64_t>(buffer_.size())) {
        throw CdxError("record " + std::to_string(recno) + " cannot be read");
      }
      return std::span<const uint8_t>(buffer_);
    };
    return s;
  }

 private:
  platform::File file_;
  CdxLayout layout_;
  uint32_t header_length_ = 0;
  uint32_t count_ = 0;
  std::vector<uint8_t> buffer_;
};

std::string KeyOf(const std::filesystem::path& p) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(p, ec);
  return platform::PathText(ec ? p : canonical);
}

void LearnIndex(const CdxKnowledgePlace& place, const std::filesystem::path& cdx, const std::filesystem::path& dbf,
                const std::string& collation, int lock_retry_ms) {
  FileCdxStore store(cdx, true);  // writable only to take the registry program's lock: nothing is written
  store.Lock(lock_retry_ms);
  try {
    TableRecords table(dbf);  // counted under the lock: the index lists no record beyond it
    const CdxIndex index(store);
    const std::string key = KeyOf(cdx);
    for (const CdxTagHeader& tag : index.Tags()) {
      if (tag.CollationName() != collation || !IsCollatedTextTag(tag, table.Layout())) continue;
      const std::optional<CdxKnownTag> known = KnownTag(place, key, tag, index.ChangeCounter());
      if (known && known->full) continue;
      try {
        RememberTag(place, key, tag, index.ChangeCounter(),
                    LearnTagCollation(index, tag, table.Layout(), table.Source()));
      } catch (const CdxError&) {
        // This tag teaches nothing; the others still may.
      }
    }
  } catch (...) {
    store.Unlock();
    throw;
  }
  store.Unlock();
}

}  // namespace

void LearnFolderTags(const CdxKnowledgePlace& place, const std::filesystem::path& own_cdx,
                     const std::string& collation, int lock_retry_ms) {
  const std::filesystem::path folder = own_cdx.parent_path().empty() ? "." : own_cdx.parent_path();
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) files.push_back(entry.path());
  std::error_code ignored;
  for (const std::filesystem::path& cdx : files) {
    if (Lower(platform::PathText(cdx.extension())) != ".cdx" || std::filesystem::equivalent(cdx, own_cdx, ignored)) {
      continue;
    }
    const std::string stem = Lower(platform::PathText(cdx.stem()));
    auto dbf = std::find_if(files.begin(), files.end(), [&](const std::filesystem::path& p) {
      return Lower(platform::PathText(p.stem())) == stem && Lower(platform::PathText(p.extension())) == ".dbf";
    });
    if (dbf == files.end()) continue;
    try {
      LearnIndex(place, cdx, *dbf, collation, lock_retry_ms);
    } catch (const CdxError&) {
      // A table that cannot be read or locked now teaches nothing.
    }
  }
  MarkFolderTagsLearned(place, collation);
}

}  // namespace ravelto::registry

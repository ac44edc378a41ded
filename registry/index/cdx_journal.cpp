#include "registry/index/cdx_journal.h"

#include <cstring>

#include "platform/files.h"
#include "registry/table/file_io.h"

namespace ravelto::registry {
namespace {

constexpr char kMagic[8] = {'R', 'C', 'D', 'X', 'J', 'R', 'N', '1'};
// A journal that asks only for the full check before the next write.
constexpr char kCheckOnly[8] = {'R', 'C', 'D', 'X', 'C', 'H', 'K', '1'};
constexpr uint64_t kSizeRecord = ~uint64_t{0};
constexpr uint64_t kCounterRecord = ~uint64_t{0} - 1;

void AppendTo(std::string& out, const void* data, std::size_t n) { out.append(static_cast<const char*>(data), n); }

}  // namespace

void SyncDirectory(const std::filesystem::path& dir) {
  // A folder that cannot be flushed still holds the entry.
  platform::FlushFolder(dir.empty() ? std::string(".") : platform::PathText(dir));
}

void WriteJournalBytes(const std::filesystem::path& journal, const std::string& bytes, bool create) {
  const std::string name = platform::PathText(journal);
  const platform::File file =
      platform::Open(journal, create ? platform::OpenMode::kCreateOrEmpty : platform::OpenMode::kReadWrite);
  if (file < 0) throw CdxError("Cannot write " + name + ": " + platform::LastErrorText());
  std::uint64_t end = 0;
  bool ok = platform::SizeOf(file, &end) && platform::WriteAt(file, bytes.data(), bytes.size(), end);
  std::string reason = ok ? std::string() : platform::LastErrorText();
  try {
    if (ok) FlushFile(file, name);
  } catch (const std::exception& e) {
    ok = false;
    reason = e.what();
  }
  platform::Close(file);
  if (!ok) throw CdxError("Cannot write " + name + ": " + reason);
  if (create) SyncDirectory(journal.parent_path());
}

JournalContents ReadJournal(const std::filesystem::path& journal) {
  std::vector<uint8_t> b;
  const platform::File file = platform::Open(journal, platform::OpenMode::kRead);
  if (file < 0) throw CdxError("Cannot read " + platform::PathText(journal) + ": " + platform::LastErrorText());
  std::uint64_t size = 0;
  if (platform::SizeOf(file, &size)) {
    b.resize(static_cast<std::size_t>(size));
    const std::int64_t got = platform::ReadAt(file, b.data(), b.size(), 0);
    b.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  platform::Close(file);
  JournalContents j;
  std::size_t at = 0;
  auto take = [&](void* out, std::size_t n) {
    if (b.size() - at < n) return false;
    std::memcpy(out, b.data() + at, n);
    at += n;
    return true;
  };
  auto take_bytes = [&](std::vector<uint8_t>& out, std::size_t n) {
    if (b.size() - at < n) return false;
    out.assign(b.begin() + static_cast<std::ptrdiff_t>(at), b.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    return true;
  };
  char magic[8];
  uint32_t old_len = 0, new_len = 0;
  if (!take(magic, 8) || std::memcmp(magic, kMagic, 8) != 0 || !take(&j.recno, 4) || !take(&old_len, 4) ||
      !take_bytes(j.old_record, old_len) || !take(&new_len, 4) || !take_bytes(j.new_record, new_len)) {
    return j;
  }
  j.header_ok = true;
  for (;;) {
    uint64_t offset = 0;
    uint32_t len = 0;
    std::vector<uint8_t> bytes;
    if (!take(&offset, 8) || !take(&len, 4) || !take_bytes(bytes, len)) break;  // a torn tail was never acted on
    if (offset == kCounterRecord && len == 4) {
      uint32_t counter;
      std::memcpy(&counter, bytes.data(), 4);
      j.counter_before = counter;
    } else if (offset == kSizeRecord && len == 8) {
      uint64_t size;
      std::memcpy(&size, bytes.data(), 8);
      j.original_size = size;
    } else {
      j.pages.push_back({offset, std::move(bytes)});
    }
  }
  return j;
}


void WriteCheckOnlyJournal(const std::filesystem::path& journal) {
  WriteJournalBytes(journal, std::string(kCheckOnly, sizeof kCheckOnly), true);
}

std::string EncodeJournal(bool with_row, uint32_t recno, std::span<const uint8_t> old_record,
                          std::span<const uint8_t> new_record, const CdxTree::Plan& plan) {
  std::string bytes;
  auto put_record = [&bytes](uint64_t offset, const void* data, uint32_t len) {
    AppendTo(bytes, &offset, 8);
    AppendTo(bytes, &len, 4);
    AppendTo(bytes, data, len);
  };
  if (with_row) {
    AppendTo(bytes, kMagic, 8);
    AppendTo(bytes, &recno, 4);
    uint32_t n = static_cast<uint32_t>(old_record.size());
    AppendTo(bytes, &n, 4);
    AppendTo(bytes, old_record.data(), old_record.size());
    n = static_cast<uint32_t>(new_record.size());
    AppendTo(bytes, &n, 4);
    AppendTo(bytes, new_record.data(), new_record.size());
  }
  put_record(kCounterRecord, &plan.counter_before, 4);
  for (const CdxTree::PageImage& p : plan.before) {
    put_record(p.offset, p.bytes.data(), static_cast<uint32_t>(p.bytes.size()));
  }
  put_record(kSizeRecord, &plan.original_size, 8);
  return bytes;
}

std::filesystem::path PendingMarkerPath(const std::filesystem::path& cdx_path) {
  std::filesystem::path journal = cdx_path;
  journal += ".pending";
  return journal;
}

}  // namespace ravelto::registry

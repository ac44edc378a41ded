#include "registry/table/dbf_table.h"

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "registry/table/byte_codec.h"
#include "registry/table/database_error.h"
#include "registry/table/file_io.h"

namespace ravelto::registry {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

bool KnownVersion(std::uint8_t v) {
  switch (v) {
    case 0x30: case 0x31: case 0x32:  // Visual FoxPro
    case 0x02: case 0xFB:             // FoxBASE
    case 0x03: case 0x83: case 0xF5:  // FoxBASE+/dBASE III, FoxPro 2.x
      return true;
    default:
      return false;
  }
}

// Width a field of this type must have; 0 when any width from 1 to 255 is fine.
std::uint32_t FixedWidth(char type, bool vfp) {
  switch (type) {
    case 'I': return 4;
    case 'B': return vfp ? 8 : 10;
    case 'Y': case 'T': case 'D': return 8;
    case 'L': return 1;
    case 'M': case 'G': case 'W': case 'P': return vfp ? 4 : 10;
    default: return 0;
  }
}

using platform::FileExists;

constexpr std::size_t kScanChunkBytes = 1 << 20;

}  // namespace

TableSchema ParseSchema(std::span<const unsigned char> head, std::uint64_t fileSize,
                        std::string_view tableName) {
  const std::string table(tableName);
  auto damaged = [&](const std::string& what) {
    return DatabaseError("Table '" + table + "' is damaged: " + what, DatabaseFailure::kDamaged);
  };
  if (head.size() < 32) throw damaged("its header is truncated");
  TableSchema s;
  s.version = head[0];
  if (!KnownVersion(s.version)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", s.version);
    throw DatabaseError("Table '" + table + "' has an unknown file type " + hex, DatabaseFailure::kRefused);
  }
  const bool vfp = s.IsVisualFoxPro();
  s.headerCount = GetLe32(head.data() + 4);
  s.headerLength = GetLe16(head.data() + 8);
  s.recordLength = GetLe16(head.data() + 10);
  s.tableFlags = vfp ? head[28] : static_cast<std::uint8_t>(head[28] & kTableHasCdx);
  s.codePage = head[29];
  if (s.headerLength < 33) throw damaged("its header length is too small");
  if (s.recordLength < 2) throw damaged("its record length is too small");
  if (head.size() < s.headerLength || fileSize < s.headerLength) throw damaged("its header is truncated");

  bool terminated = false;
  for (std::size_t pos = 32; pos + 1 <= s.headerLength; pos += 32) {
    if (head[pos] == 0x0D) {
      terminated = true;
      break;
    }
    if (pos + 32 > s.headerLength) break;
    const unsigned char* d = head.data() + pos;
    FieldDescriptor f;
    std::size_t n = 0;
    while (n < 11 && d[n] != 0) ++n;
    f.name = LowerAscii(std::string_view(reinterpret_cast<const char*>(d), n));
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    f.type = static_cast<char>(d[11] >= 'a' && d[11] <= 'z' ? d[11] - 32 : d[11]);
    f.offset = GetLe32(d + 12);
    f.length = d[16];
    f.decimals = d[17];
    f.flags = vfp ? d[18] : 0;
    if (f.name.empty()) throw damaged("a field has no name");
    s.fields.push_back(std::move(f));
    if (s.fields.size() > 2048) throw damaged("it lists too many fields");
  }
  if (!terminated) throw damaged("its field list has no terminator");
  if (s.fields.empty()) throw damaged("it has no fields");

  // dBASE-style writers leave every displacement 0: lay the fields out in order.
  const bool allZero = std::all_of(s.fields.begin(), s.fields.end(),
                                   [](const FieldDescriptor& f) { return f.offset == 0; });
  if (allZero) {
    std::uint32_t at = 1;
    for (auto& f : s.fields) {
      f.offset = at;
      at += f.length;
    }
  }

  std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;
  int bit = 0;
  for (std::size_t i = 0; i < s.fields.size(); ++i) {
    FieldDescriptor& f = s.fields[i];
    if (f.length == 0) throw damaged("field '" + f.name + "' has length 0");
    if (f.offset < 1 || f.offset + static_cast<std::uint64_t>(f.length) > s.recordLength)
      throw damaged("field '" + f.name + "' lies outside the record");
    const std::uint32_t width = FixedWidth(f.type, vfp);
    if (width != 0 && f.length != width)
      throw damaged("field '" + f.name + "' of type " + std::string(1, f.type) + " has width " +
                    std::to_string(f.length));
    if ((f.type == 'N' || f.type == 'F') && f.length > 20)
      throw damaged("numeric field '" + f.name + "' is wider than 20");
    spans.emplace_back(f.offset, f.offset + f.length);
    if (f.type == '0') {
      if (s.nullFlagsField >= 0) throw damaged("it has two null-flag fields");
      s.nullFlagsField = static_cast<int>(i);
      continue;
    }
    if (!vfp) continue;
    if (f.type == 'V' || f.type == 'Q') f.varLengthBit = bit++;
    if (f.flags & kFieldNullable) f.nullBit = bit++;
  }
  std::sort(spans.begin(), spans.end());
  for (std::size_t i = 1; i < spans.size(); ++i)
    if (spans[i].first < spans[i - 1].second) throw damaged("two fields overlap");
  if (bit > 0) {
    if (s.nullFlagsField < 0) throw damaged("nullable or varying fields but no null flags");
    if (static_cast<std::uint64_t>(s.fields[static_cast<std::size_t>(s.nullFlagsField)].length) * 8 <
        static_cast<std::uint64_t>(bit))
      throw damaged("its null flags are too short");
  }
  return s;
}

std::uint32_t ReadableRecordCount(const TableSchema& schema, std::uint64_t fileSize) {
  if (fileSize <= schema.headerLength || schema.recordLength == 0) return 0;
  const std::uint64_t whole = (fileSize - schema.headerLength) / schema.recordLength;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(whole, schema.headerCount));
}

std::string FindFileNoCase(const std::string& folder, std::string_view base, std::string_view extension) {
  const std::string dir = folder.empty() ? std::string(".") : folder;
  const std::string sep = (dir.back() == '/' || dir.back() == '\\') ? "" : "/";
  const std::string wanted = LowerAscii(std::string(base) + "." + std::string(extension));
  for (const std::string& candidate : {std::string(base) + "." + std::string(extension), wanted}) {
    if (FileExists(dir + sep + candidate)) return dir + sep + candidate;
  }
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(platform::NativePath(dir), ec)) {
    const std::string name = platform::PathText(entry.path().filename());
    if (LowerAscii(name) == wanted && FileExists(dir + sep + name)) return dir + sep + name;
  }
  return {};
}

TableFile::TableFile(const std::string& folder, std::string_view name, bool forWrite) : name_(name) {
  dbfPath_ = FindFileNoCase(folder, name, "dbf");
  if (dbfPath_.empty())
    throw DatabaseError("Table '" + name_ + "' not found in folder '" + folder + "'", DatabaseFailure::kMissing,
                        name_ + ".dbf");
  fd_ = OpenShared(dbfPath_, forWrite);
  if (fd_ < 0) throw DatabaseError("Cannot open table '" + name_ + "' (" + dbfPath_ + ")", DatabaseFailure::kMissing, dbfPath_);
  try {
    std::vector<unsigned char> head(32);
    const std::uint64_t size = FileSize();
    head.resize(ReadAt(fd_, head.data(), head.size(), 0, dbfPath_));
    if (head.size() == 32) {
      const std::size_t headerLength = GetLe16(head.data() + 8);
      head.resize(std::max<std::size_t>(32, headerLength));
      head.resize(ReadAt(fd_, head.data(), head.size(), 0, dbfPath_));
    }
    schema_ = ParseSchema(head, size, name_);
    const std::size_t slash = dbfPath_.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : dbfPath_.substr(0, slash);
    std::string base = dbfPath_.substr(slash == std::string::npos ? 0 : slash + 1);
    base.resize(base.size() - 4);
    cdxPath_ = FindFileNoCase(dir, base, "cdx");
    if (schema_.HasMemoFields()) {
      // Found by name, never by the table flag: some writers leave it 0.
      const std::string fpt = FindFileNoCase(dir, base, "fpt");
      if (!fpt.empty()) {
        const int mfd = OpenShared(fpt, forWrite);
        if (mfd < 0)
          throw DatabaseError("Cannot open the memo file of table '" + name_ + "' (" + fpt + ")", DatabaseFailure::kMissing, fpt);
        memo_ = std::make_unique<MemoFile>(mfd, fpt, name_);
      }
    }
  } catch (...) {
    CloseFile(fd_);
    throw;
  }
}

TableFile::~TableFile() { CloseFile(fd_); }

std::uint64_t TableFile::FileSize() const { return FileSizeOf(fd_); }

std::uint32_t TableFile::RecordCount() const { return ReadableRecordCount(schema_, FileSize()); }

std::uint32_t TableFile::ReadRecords(std::uint32_t first, std::uint32_t count,
                                     std::vector<unsigned char>& buffer) const {
  const std::size_t len = schema_.recordLength;
  buffer.resize(static_cast<std::size_t>(count) * len);
  const std::uint64_t offset = schema_.headerLength + static_cast<std::uint64_t>(first - 1) * len;
  const std::size_t got = ReadAt(fd_, buffer.data(), buffer.size(), offset, dbfPath_);
  return static_cast<std::uint32_t>(got / len);
}

bool TableFile::ReadRecord(std::uint32_t recno, std::vector<unsigned char>& record) const {
  return recno >= 1 && ReadRecords(recno, 1, record) == 1;
}

void TableFile::ReadHeader(unsigned char header[32]) const {
  if (ReadAt(fd_, header, 32, 0, dbfPath_) != 32)
    throw DatabaseError("Table '" + name_ + "' is damaged: its header is truncated", DatabaseFailure::kDamaged, dbfPath_);
}

RecordScanner::RecordScanner(const TableFile& table) : table_(table), total_(table.RecordCount()) {}

bool RecordScanner::Next(const unsigned char** record, std::uint32_t* recno) {
  const std::size_t len = table_.Schema().recordLength;
  for (;;) {
    if (index_ >= chunkCount_) {
      if (nextToRead_ > total_) return false;
      const std::uint32_t want = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(std::max<std::size_t>(1, kScanChunkBytes / len), total_ - nextToRead_ + 1));
      chunkFirst_ = nextToRead_;
      chunkCount_ = table_.ReadRecords(nextToRead_, want, buffer_);
      index_ = 0;
      nextToRead_ += want;
      if (chunkCount_ == 0) return false;
    }
    const unsigned char* r = buffer_.data() + static_cast<std::size_t>(index_) * len;
    const std::uint32_t n = chunkFirst_ + index_;
    ++index_;
    if (r[0] == '*') continue;  // deleted
    *record = r;
    *recno = n;
    return true;
  }
}

}  // namespace ravelto::registry

#include "registry/table/create_table.h"

#include <cstring>
#include <ctime>

#include "registry/table/byte_codec.h"
#include "registry/table/database_error.h"
#include "registry/table/dbf_schema.h"
#include "registry/table/file_io.h"
#include "registry/table/memo_file.h"

namespace ravelto::registry {

namespace {

int WidthOf(const FieldSpec& f) {
  switch (f.type) {
    case 'I': return 4;
    case 'B': case 'Y': case 'D': case 'T': return 8;
    case 'L': return 1;
    case 'M': case 'G': case 'W': return 4;
    default: return f.length;
  }
}

}  // namespace

void CreateTable(const std::string& folder, std::string_view name, const std::vector<FieldSpec>& fields) {
  const std::string table(name);
  if (fields.empty()) throw DatabaseError("Table '" + table + "' needs at least one field");
  int bits = 0;
  bool memo = false, varying = false;
  std::uint32_t recordLength = 1;
  for (const FieldSpec& f : fields) {
    const int width = WidthOf(f);
    if (f.name.empty() || f.name.size() > 10) throw DatabaseError("Field name '" + f.name + "' must have 1 to 10 characters");
    if (std::strchr("CVNFIBYDTLMQWG", f.type) == nullptr || f.type == 0)
      throw DatabaseError("Field '" + f.name + "' has an unknown type");
    if (width < 1 || width > 254 || ((f.type == 'N' || f.type == 'F') && width > 20))
      throw DatabaseError("Field '" + f.name + "' has an invalid width");
    if (f.decimals < 0 || f.decimals > 18 || ((f.type == 'N' || f.type == 'F') && f.decimals > 0 && f.decimals > width - 2))
      throw DatabaseError("Field '" + f.name + "' has invalid decimals");
    if (f.type == 'V' || f.type == 'Q') {
      ++bits;
      varying = true;
    }
    if (f.nullable) ++bits;
    if (f.type == 'M' || f.type == 'G' || f.type == 'W') memo = true;
    if (f.type == 'W') varying = true;
    recordLength += static_cast<std::uint32_t>(width);
  }
  const int nullBytes = (bits + 7) / 8;
  const std::size_t count = fields.size() + (nullBytes ? 1 : 0);
  const std::uint32_t headerLength = static_cast<std::uint32_t>(32 + 32 * count + 1 + 263);
  recordLength += static_cast<std::uint32_t>(nullBytes);
  if (recordLength > 65500) throw DatabaseError("Table '" + table + "' has records that are too long");

  std::vector<unsigned char> head(headerLength + 1, 0);
  head[0] = varying ? 0x32 : 0x30;
  TodayHeaderDate(head.data() + 1);
  PutLe16(head.data() + 8, static_cast<std::uint16_t>(headerLength));
  PutLe16(head.data() + 10, static_cast<std::uint16_t>(recordLength));
  head[28] = memo ? kTableHasMemo : 0;
  head[29] = 0xC9;
  std::uint32_t offset = 1;
  unsigned char* d = head.data() + 32;
  for (const FieldSpec& f : fields) {
    for (std::size_t i = 0; i < f.name.size(); ++i) {
      char c = f.name[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      d[i] = static_cast<unsigned char>(c);
    }
    d[11] = static_cast<unsigned char>(f.type);
    PutLe32(d + 12, offset);
    d[16] = static_cast<unsigned char>(WidthOf(f));
    d[17] = static_cast<unsigned char>(f.decimals);
    std::uint8_t flags = 0;
    if (f.nullable) flags |= kFieldNullable;
    if (f.binary || f.type == 'Q' || f.type == 'W' || f.type == 'G') flags |= kFieldBinary;
    d[18] = flags;
    offset += static_cast<std::uint32_t>(WidthOf(f));
    d += 32;
  }
  if (nullBytes) {
    std::memcpy(d, "_NullFlags", 10);
    d[11] = '0';
    PutLe32(d + 12, offset);
    d[16] = static_cast<unsigned char>(nullBytes);
    d[18] = kFieldSystem | kFieldBinary;
    d += 32;
  }
  *d = 0x0D;
  head[headerLength] = 0x1A;

  const std::string dir = folder.empty() ? "." : folder;
  const std::string base = dir + "/" + table;
  if (memo) {
    const int mfd = CreateExclusive(base + ".fpt");
    if (mfd < 0) throw DatabaseError("Cannot create the memo file of table '" + table + "' in '" + dir + "'");
    MemoFile::WriteEmpty(mfd, 64);
    CloseFile(mfd);
  }
  const int fd = CreateExclusive(base + ".dbf");
  if (fd < 0) throw DatabaseError("Cannot create table '" + table + "' in '" + dir + "'");
  try {
    WriteAt(fd, head.data(), head.size(), 0, base + ".dbf");
    FlushFile(fd, base + ".dbf");
  } catch (...) {
    CloseFile(fd);
    throw;
  }
  CloseFile(fd);
}

}  // namespace ravelto::registry

#include "registry/index/cdx_report.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_maintainer.h"

namespace ravelto::registry {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct IndexedTableFiles {
  std::string name;
  fs::path dbf;
  fs::path cdx;  // empty when missing
};

// Tables of the folder whose header flag says they have a structural index.
std::vector<IndexedTableFiles> Find(const std::string& folder) {
  std::vector<IndexedTableFiles> out;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& p : files) {
    if (Lower(p.extension().string()) != ".dbf") continue;
    std::ifstream in(p, std::ios::binary);
    char head[32] = {};
    if (!in.read(head, sizeof head) || (head[28] & 0x01) == 0) continue;
    IndexedTableFiles t{Lower(p.stem().string()), p, {}};
    for (const fs::path& q : files) {
      if (Lower(q.stem().string()) == Lower(p.stem().string()) && Lower(q.extension().string()) == ".cdx") t.cdx = q;
    }
    out.push_back(std::move(t));
  }
  return out;
}

CdxLayout ReadLayout(const fs::path& dbf) {
  std::ifstream in(dbf, std::ios::binary);
  std::vector<uint8_t> head(32);
  in.read(reinterpret_cast<char*>(head.data()), 32);
  std::size_t length = static_cast<std::size_t>(head[8] | (head[9] << 8));
  head.resize(std::max<std::size_t>(length, 32));
  in.read(reinterpret_cast<char*>(head.data() + 32), static_cast<std::streamsize>(head.size() - 32));
  head.resize(32 + static_cast<std::size_t>(in.gcount()));
  return ParseDbfLayout(head);
}

CdxRecordSource RecordsOf(const DbfImage& image) {
  CdxRecordSource source;
  source.count = image.record_count;
  source.record = [&image](uint32_t r) { return image.Record(r); };
  return source;
}

std::string Options(const CdxTagHeader& tag) {
  std::string o = tag.descending ? "descending" : "ascending";
  if (tag.Unique()) o += ", unique";
  if (tag.Candidate()) o += ", candidate";
  return o;
}

}  // namespace

int DescribeIndexes(const std::string& folder, std::ostream& out) {
  int code = 0;
  for (const IndexedTableFiles& t : Find(folder)) {
    if (t.cdx.empty()) {
      out << t.name << ": structural index file missing; writes refused\n";
      code = 1;
      continue;
    }
    try {
      const CdxLayout layout = ReadLayout(t.dbf);
      FileCdxStore store(t.cdx, false);
      CdxIndex index(store);
      // The table is read only when a tag must be learned from its records.
      std::optional<DbfImage> image;
      for (const CdxTagHeader& tag : index.Tags()) {
        if (!image && IsCollatedTextTag(tag, layout)) image = ReadDbfImage(t.dbf);
      }
      const CdxRecordSource records = image ? RecordsOf(*image) : CdxRecordSource{};
      out << t.name << " (" << t.cdx.filename().string() << "): " << index.Tags().size() << " tags\n";
      for (const CdxTagSupport& s : DescribeTags(index, layout, image ? &records : nullptr)) {
        out << "  " << s.tag.name << ": key " << s.tag.key_expr;
        if (!s.tag.for_expr.empty()) out << " for " << s.tag.for_expr;
        out << "; key length " << s.tag.key_length << "; " << Options(s.tag) << "; collation "
            << s.tag.CollationName() << "; " << (s.supported ? "supported" : "refused: " + s.reason);
        if (s.collation) out << " (" << s.collation->Describe() << ")";
        out << "\n";
      }
    } catch (const std::exception& e) {
      out << t.name << ": " << e.what() << "\n";
      code = 1;
    }
  }
  return code;
}

int CheckIndexes(const std::string& folder, std::ostream& out) {
  int code = 0;
  for (const IndexedTableFiles& t : Find(folder)) {
    if (t.cdx.empty()) {
      out << t.name << ": structural index file missing\n";
      code = 1;
      continue;
    }
    try {
      DbfImage image = ReadDbfImage(t.dbf);
      FileCdxStore store(t.cdx, false);
      CdxCheckReport report = CheckIndex(store, image.layout, RecordsOf(image));
      out << t.name << ": " << (report.Ok() ? "ok" : "DAMAGED") << "\n";
      for (const std::string& p : report.problems) out << "  " << p << "\n";
      for (const std::string& n : report.notes) out << "  note: " << n << "\n";
      if (fs::exists(PendingMarkerPath(t.cdx))) out << "  note: an interrupted write left " << PendingMarkerPath(t.cdx).filename().string() << "\n";
      if (!report.Ok()) code = 1;
    } catch (const std::exception& e) {
      out << t.name << ": " << e.what() << "\n";
      code = 1;
    }
  }
  return code;
}

}  // namespace ravelto::registry

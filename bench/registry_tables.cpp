#include "bench/registry_tables.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "registry/table/byte_codec.h"
#include "registry/table/create_table.h"
#include "registry/table/dbf_table.h"
#include "registry/table/file_io.h"

namespace registry_bench {

namespace {

using namespace ravelto::registry;

std::vector<FieldSpec> VisitFields() {
  std::vector<FieldSpec> f = {
      {"kl", 'N', 10},       {"data_vizc", 'C', 10}, {"kto", 'C', 4},       {"prich_v", 'M'},
      {"telef", 'C', 20},    {"stree1_f", 'N', 6},   {"street_f", 'C', 40}, {"house_f", 'C', 10},
      {"kv_f", 'C', 10},     {"kr_f", 'N', 4},       {"knacp_f", 'N', 6},   {"nnacp_f", 'C', 40},
      {"kw", 'N', 6},        {"tosh", 'N', 1},       {"odish", 'N', 1},     {"bol_sp", 'N', 1},
      {"bol_gol", 'N', 1},   {"pov_nar", 'N', 1},    {"data_z", 'D'},       {"vr_z", 'T'},
  };
  for (int i = 1; f.size() < 40; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "x%02d", i);
    f.push_back(i % 3 == 0 ? FieldSpec{name, 'N', 8, 2} : (i % 3 == 1 ? FieldSpec{name, 'C', 12} : FieldSpec{name, 'D'}));
  }
  return f;
}

std::vector<FieldSpec> PatientFields() {
  std::vector<FieldSpec> f = {
      {"kl", 'N', 10},      {"fiol", 'C', 30},    {"im", 'C', 20},      {"ot", 'C', 20},
      {"nnacp", 'C', 30},   {"street1", 'C', 40}, {"house", 'C', 10},   {"kv", 'C', 10},
      {"nnacp_f", 'C', 30}, {"street_f", 'C', 40}, {"house_f", 'C', 10}, {"kv_f", 'C', 10},
      {"stree1_f", 'N', 6}, {"kr_f", 'N', 4},     {"knacp_f", 'N', 6},  {"uch", 'N', 3},
      {"data_r", 'D'},      {"telef", 'C', 20},   {"prim", 'M'},
  };
  for (int i = 1; f.size() < 30; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "y%02d", i);
    f.push_back(i % 2 ? FieldSpec{name, 'C', 15} : FieldSpec{name, 'N', 10, 2});
  }
  return f;
}

void PutText(unsigned char* p, std::size_t width, const std::string& text) {
  std::memset(p, ' ', width);
  std::memcpy(p, text.data(), std::min(width, text.size()));
}

void PutNumber(unsigned char* p, std::size_t width, long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%*lld", static_cast<int>(width), value);
  std::memcpy(p, buf, width);
}

bool HasRows(const std::string& path, std::uint32_t rows) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  unsigned char head[12];
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  const bool ok = std::fread(head, 1, sizeof head, f) == sizeof head;
  std::fclose(f);
  return ok && GetLe32(head + 4) == rows &&
         static_cast<std::uint64_t>(st.st_size) >= GetLe16(head + 8) + static_cast<std::uint64_t>(rows) * GetLe16(head + 10);
}

// Creates the table and fills `rows` records with `fill(record, schema, i)`.
template <typename Fill>
void Generate(const std::string& folder, const std::string& name, const std::vector<FieldSpec>& fields,
              std::uint32_t rows, Fill fill) {
  const std::string base = folder + "/" + name;
  if (HasRows(base + ".dbf", rows)) return;
  std::remove((base + ".dbf").c_str());
  std::remove((base + ".fpt").c_str());
  CreateTable(folder, name, fields);
  TableFile table(folder, name, true);
  const TableSchema& s = table.Schema();
  const int fd = table.Descriptor();
  std::vector<unsigned char> chunk;
  const std::uint32_t perChunk = 4096;
  std::uint64_t at = s.headerLength;
  for (std::uint32_t first = 0; first < rows; first += perChunk) {
    const std::uint32_t n = std::min(perChunk, rows - first);
    chunk.assign(static_cast<std::size_t>(n) * s.recordLength, ' ');
    for (std::uint32_t k = 0; k < n; ++k) fill(chunk.data() + static_cast<std::size_t>(k) * s.recordLength, s, first + k);
    WriteAt(fd, chunk.data(), chunk.size(), at, table.DbfPath());
    at += chunk.size();
  }
  const unsigned char eof = 0x1A;
  WriteAt(fd, &eof, 1, at, table.DbfPath());
  unsigned char count[4];
  PutLe32(count, rows);
  WriteAt(fd, count, 4, 4, table.DbfPath());
}

const FieldDescriptor& F(const TableSchema& s, const char* name) { return *s.Find(name); }

}  // namespace

void EnsureVisitsTable(const std::string& folder, const std::string& name, std::uint32_t rows) {
  Generate(folder, name, VisitFields(), rows, [rows](unsigned char* r, const TableSchema& s, std::uint32_t i) {
    r[0] = ' ';
    for (const FieldDescriptor& f : s.fields) {
      unsigned char* p = r + f.offset;
      switch (f.type) {
        case 'N': PutNumber(p, f.length, f.decimals ? 0 : static_cast<long long>((i * 37u) % 97u)); break;
        case 'M': std::memset(p, 0, 4); break;
        case 'T': PutLe32(p, 2459000 + i % 1000); PutLe32(p + 4, (i % 86400) * 1000); break;
        case 'D': std::memcpy(p, "20230115", 8); break;
        default: PutText(p, f.length, "text " + std::to_string(i % 1000)); break;
      }
    }
    PutNumber(r + F(s, "kl").offset, 10, static_cast<long long>(rows - i) * 7);
    PutText(r + F(s, "data_vizc").offset, 10, i == rows / 2 ? "112233" : "0");
    PutText(r + F(s, "kto").offset, 4, "ZUVA");
    PutNumber(r + F(s, "kw").offset, 6, 61000 + i % 25);
  });
}

void EnsurePatientsTable(const std::string& folder, const std::string& name, std::uint32_t rows) {
  Generate(folder, name, PatientFields(), rows, [](unsigned char* r, const TableSchema& s, std::uint32_t i) {
    r[0] = (i % 50 == 49) ? '*' : ' ';
    for (const FieldDescriptor& f : s.fields) {
      unsigned char* p = r + f.offset;
      switch (f.type) {
        case 'N': PutNumber(p, f.length, f.decimals ? 0 : static_cast<long long>(i % 100)); break;
        case 'M': std::memset(p, 0, 4); break;
        case 'D': std::memcpy(p, "19700101", 8); break;
        default: PutText(p, f.length, "name " + std::to_string(i)); break;
      }
    }
    PutNumber(r + F(s, "kl").offset, 10, static_cast<long long>(i + 1) * 7);
  });
}

}  // namespace registry_bench

// fuzz_dbf_reader: arbitrary bytes as a table file and its memo file, opened
// and scanned fully through the gateway. The first two bytes say where the
// .dbf bytes end and the .fpt bytes begin.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "registry/gateway.h"

namespace {

std::string Folder() {
  static const std::string folder = [] {
    // Memory-backed when available: every run writes two files.
    std::error_code ec;
    const std::filesystem::path base =
        std::filesystem::is_directory("/dev/shm", ec) ? std::filesystem::path("/dev/shm")
                                                      : std::filesystem::temp_directory_path();
    const std::filesystem::path path = base / ("ravelto-fuzz-dbf-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path, ec);
    return path.generic_string();
  }();
  return folder;
}

void Write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  // A new file each time: rewriting a truncated file makes the file system
  // flush it on close, which would slow every run down.
  std::remove(path.c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

int FuzzDbfReader(const std::uint8_t* data, std::size_t size) {
  using namespace ravelto::registry;
  if (size < 2) return 0;
  const std::size_t split = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string folder = Folder();
  Write(folder + "/f.dbf", data + 2, split);
  Write(folder + "/f.fpt", data + 2 + split, size - 2 - split);
  Connection connection;
  connection.SetConnectionString("Provider=VFPOLEDB;Data Source=" + folder + ";Mode=ReadWrite");
  connection.SetConnected(true);
  Query query(connection);
  auto readAll = [&](const std::string& sql) {
    try {
      query.Clear();
      query.Add(sql);
      query.Open();
      for (query.First(); !query.Eof(); query.Next()) {
        for (int i = 0; i < query.FieldCount(); ++i) {
          const std::string name = query.FieldName(i);
          query.AsText(name);
          try {
            query.AsInteger(name);
          } catch (const DatabaseError&) {
          }
          try {
            query.AsDateTime(name);
          } catch (const DatabaseError&) {
          }
        }
      }
      return query.FieldCount() > 0 ? query.FieldName(0) : std::string();
    } catch (const DatabaseError&) {
      return std::string();
    }
  };
  const std::string first = readAll("select * from f");
  if (!first.empty()) {
    readAll("select top 2 * from f order by " + first + " desc");
    readAll("select * from f where " + first + " = " + first);
  }
  return 0;
}

#ifndef RAVELTO_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzDbfReader(data, size);
}
#endif

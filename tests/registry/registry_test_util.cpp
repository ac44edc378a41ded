#include "tests/registry/registry_test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <random>
#include <stdexcept>

#include "common/cp1251.h"

namespace registry_test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path() / ("ravelto-registry-" + std::to_string(random()));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) path_ = candidate.generic_string();
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void CopyFixtures(const std::string& subfolder, const std::string& folder) {
  const fs::path from = fs::path(RAVELTO_TEST_DATA) / "registry" / subfolder;
  for (const auto& entry : fs::directory_iterator(from)) {
    const fs::path to = fs::path(folder) / entry.path().filename();
    fs::copy_file(entry.path(), to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  }
}

std::string Cp(std::string_view utf8) { return ravelto::Utf8ToCp1251(utf8); }

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

void SetByte(const std::string& path, std::uint64_t offset, unsigned char value) {
  std::string b = ReadBytes(path);
  b.at(offset) = static_cast<char>(value);
  WriteBytes(path, b);
}

void TruncateFile(const std::string& path, std::uint64_t size) { fs::resize_file(path, size); }

#ifdef _WIN32
// The Windows tests run under wine, where the Linux side's python3 cannot be
// started: commands report failure and the python checks stay off.
std::string Python() { return "python3"; }

int RunCommand(const std::string&, std::string* output) {
  if (output) output->clear();
  return -1;
}
#else
std::string Python() {
  struct stat st {};
  return ::stat("/usr/bin/python3", &st) == 0 ? "/usr/bin/python3" : "python3";
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int status = ::pclose(p);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

Gateway::Gateway(const std::string& folder) : query(connection) {
  connection.SetConnectionString("Provider=VFPOLEDB;Data Source=" + folder +
                                 ";Mode=ReadWrite;Password=\"\";Collating Sequence=RUSSIAN");
  connection.SetRegionalFormats(ravelto::registry::RegionalFormats{"dd.MM.yyyy", "H:mm:ss", ','});
  connection.SetConnected(true);
}

int Gateway::Execute(std::string_view sql) {
  query.Clear();
  query.Add(sql);
  return query.Execute();
}

void Gateway::Open(std::string_view sql) {
  Execute(sql);
  query.Open();
}

std::string Gateway::ExecuteError(std::string_view sql) {
  try {
    Execute(sql);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::string Gateway::OpenError(std::string_view sql) {
  try {
    Open(sql);
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

std::vector<std::string> Gateway::Column(std::string_view name) {
  std::vector<std::string> out;
  for (query.First(); !query.Eof(); query.Next()) out.push_back(query.AsText(name));
  return out;
}

}  // namespace registry_test

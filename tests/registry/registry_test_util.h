#pragma once
// Helpers of the registry tests: temporary folders, fixture copies, damage
// helpers, Cyrillic text in Windows-1251 and a one-call gateway.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/gateway.h"

namespace registry_test {

// A fresh folder under the temporary directory, removed with its files.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

// Copies every file of tests/data/registry/<subfolder> into `folder`.
void CopyFixtures(const std::string& subfolder, const std::string& folder);

// UTF-8 to Windows-1251 bytes through the product's one table.
std::string Cp(std::string_view utf8);

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
void SetByte(const std::string& path, std::uint64_t offset, unsigned char value);
void TruncateFile(const std::string& path, std::uint64_t size);

// The Python interpreter that has the dbf and dbfread modules.
std::string Python();
// Runs a shell command; returns its exit status and fills `output` with stdout.
int RunCommand(const std::string& command, std::string* output = nullptr);

// A connection and a statement object over `folder`, with pinned formats.
struct Gateway {
  explicit Gateway(const std::string& folder);
  int Execute(std::string_view sql);
  // Execute, then Open, as the desk runs its queries.
  void Open(std::string_view sql);
  // The message of the failure of `Execute` (or "" when it succeeds).
  std::string ExecuteError(std::string_view sql);
  std::string OpenError(std::string_view sql);
  // Column `name` of every row, as text.
  std::vector<std::string> Column(std::string_view name);

  ravelto::registry::Connection connection;
  ravelto::registry::Query query;
};

}  // namespace registry_test

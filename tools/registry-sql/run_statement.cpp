#include "tools/registry-sql/run_statement.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "platform/files.h"
#include "registry/gateway.h"

namespace ravelto::tools {

namespace {

// What was learned of a registry's collated tags is kept per user and per
// registry folder in the user's cache folder (never inside the registry
// folder, which belongs to the registry program); "" when there is none.
std::string KnowledgeFile(const std::string& folder) {
  const std::string cache = platform::UserCacheFolder();
  if (cache.empty()) return "";
  std::error_code ec;
  const auto canonical = std::filesystem::weakly_canonical(platform::NativePath(folder), ec);
  const std::string key = ec ? folder : platform::PathText(canonical);
  uint64_t h = 1469598103934665603ull;
  for (char c : key) {
    h ^= static_cast<uint8_t>(c);
    h *= 1099511628211ull;
  }
  char name[40];
  std::snprintf(name, sizeof name, "collations-%016llx.bin", static_cast<unsigned long long>(h));
  return platform::PathText(platform::NativePath(cache) / "ravelto" / name);
}

bool IsQuery(const std::string& statement) {
  std::size_t i = 0;
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  std::string word;
  while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i])))
    word += static_cast<char>(std::toupper(static_cast<unsigned char>(statement[i++])));
  return word == "SELECT";
}
}  // namespace

int RunStatementMode(const std::string& folder, const std::string& statement, std::ostream& out,
                     std::ostream& err) {
  using namespace ravelto::registry;
  Connection connection;
  try {
    connection.SetConnectionString("Provider=VFPOLEDB;Data Source=" + folder +
                                   ";Mode=ReadWrite;Password=\"\";Collating Sequence=RUSSIAN");
    connection.SetRegionalFormats(RegionalFormats{});
    connection.SetCollationKnowledgeFile(KnowledgeFile(folder));
    connection.SetConnected(true);
    Query query(connection);
    query.Clear();
    query.Add(statement);
    if (!IsQuery(statement)) {
      out << query.Execute() << " row(s) affected\n";
      return 0;
    }
    query.Open();
    for (int i = 0; i < query.FieldCount(); ++i) out << query.FieldName(i) << '\t' << query.FieldType(i) << '\n';
    out << '\n';
    std::vector<std::string> names;
    for (int i = 0; i < query.FieldCount(); ++i) names.push_back(query.FieldName(i));
    for (query.First(); !query.Eof(); query.Next()) {
      for (std::size_t i = 0; i < names.size(); ++i) out << (i ? "\t" : "") << query.AsText(names[i]);
      out << '\n';
    }
    out << query.RecordCount() << " row(s)\n";
    return 0;
  } catch (const std::exception& e) {
    err << e.what() << '\n';
    return 1;
  }
}

}  // namespace ravelto::tools

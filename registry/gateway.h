#pragma once
// The registry gateway: the connection to the registry folder (the window's
// `ADO`) and the statement object that runs one statement at a time over it
// (the window's `SQL`). Text in and out is Windows-1251 bytes.
//
// Every failure is raised as DatabaseError whose what() is the exact message.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "registry/sql/result_set.h"
#include "registry/table/database_error.h"

namespace ravelto::registry {

// Date, time and number formats used when values are read as text or text is
// read as a date-time. Patterns use the letters d dd M MM yy yyyy h hh H HH m
// mm s ss; every other character is literal. The window passes the system
// locale's values; the defaults are the Russian ones.
struct RegionalFormats {
  std::string shortDate = "dd.MM.yyyy";
  std::string longTime = "H:mm:ss";
  char decimalSeparator = ',';
};

// The connection to the registry folder.
class Connection {
 public:
  Connection() = default;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Sets the connection string. Only while closed: on an open connection it
  // fails and nothing changes. The value of "Data Source=" (up to the next
  // ";" or the end) names the folder; the rest is kept as given.
  void SetConnectionString(std::string_view text);
  const std::string& ConnectionString() const { return connectionString_; }

  // Opens (true) or closes (false) the connection. Setting the state it
  // already has does nothing. Opening fails when the connection string names
  // no folder, or the folder does not exist or cannot be read.
  void SetConnected(bool on);
  bool Connected() const { return connected_; }

  // The file that keeps what was learned of the registry's collated index
  // tags from one process to the next ("" : none).
  void SetCollationKnowledgeFile(std::string path) { collationKnowledge_ = std::move(path); }
  const std::string& CollationKnowledgeFile() const { return collationKnowledge_; }

  void SetRegionalFormats(const RegionalFormats& formats) { formats_ = formats; }
  const RegionalFormats& Formats() const { return formats_; }

  // The folder named by "Data Source=" in the connection string ("" if none).
  std::string Folder() const;

 private:
  std::string connectionString_;
  bool connected_ = false;
  RegionalFormats formats_;
  std::string collationKnowledge_;
};

// Runs one statement over a Connection and holds the rows of the last query.
// The Connection must outlive the Query.
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Empties the statement text; discards the open result.
  void Clear();
  // Appends one line (after the named-parameter scan: outside ' " ` quotes
  // "::" becomes ":" and ":name" becomes "?"). Discards the open result.
  void Add(std::string_view line);
  // The statement as handed to the engine: each line followed by CR LF.
  std::string Text() const;

  // Runs the statement and keeps no rows; returns the number of rows
  // affected (0 for a query). Needs an open connection.
  int Execute();
  // Runs a query and makes its rows the open result, first row current.
  void Open();
  // Closes the open result (if any).
  void Close();
  bool Active() const { return result_ != nullptr; }

  // Row count of the open result; fails "Cannot perform this operation on a
  // closed dataset" when none is open.
  int RecordCount() const;
  // Cursor: First makes row 0 current, Next moves on; Eof is true when there
  // is no current row (past the last row, or at once for an empty result).
  void First();
  void Next();
  bool Eof() const;

  // The field list of the open result (0 columns when none is open).
  int FieldCount() const;
  std::string FieldName(int i) const;
  // Field type code: 1 text, 11 date-time, 16 memo, other codes for the rest.
  int FieldType(int i) const;

  // The named column (letter case ignored) of the current row, read as the
  // reading rules say; failures as DatabaseError with the exact messages.
  std::string AsText(std::string_view name) const;
  int AsInteger(std::string_view name) const;
  // Days since 1899-12-30, time of day as the fraction.
  double AsDateTime(std::string_view name) const;

 private:
  const ResultColumn& ColumnAt(int i) const;
  const Cell& CurrentCell(std::string_view name, size_t* column) const;

  Connection& connection_;
  std::vector<std::string> lines_;
  std::unique_ptr<ResultSet> result_;
  size_t current_ = 0;
};

}  // namespace ravelto::registry

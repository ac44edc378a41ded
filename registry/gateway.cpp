#include "registry/gateway.h"

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "registry/cell_reading.h"
#include "registry/sql/parameter_scan.h"
#include "registry/sql/statement_runner.h"

namespace ravelto::registry {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

const char kClosedDataset[] = "Cannot perform this operation on a closed dataset";

}  // namespace

// ---- Connection ----------------------------------------------------------

void Connection::SetConnectionString(std::string_view text) {
  if (connected_)
    throw DatabaseError("Operation is not allowed when the object is open");
  connectionString_ = std::string(text);
}

std::string Connection::Folder() const {
  static constexpr std::string_view kKey = "data source=";
  const std::string& s = connectionString_;
  for (size_t i = 0; i + kKey.size() <= s.size(); ++i) {
    // The key starts the string or follows a ";".
    if (i != 0 && s[i - 1] != ';') continue;
    if (!EqualsNoCase(std::string_view(s).substr(i, kKey.size()), kKey)) continue;
    const size_t start = i + kKey.size();
    const size_t end = s.find(';', start);
    return s.substr(start, end == std::string::npos ? std::string::npos : end - start);
  }
  return {};
}

void Connection::SetConnected(bool on) {
  if (on == connected_) return;
  if (!on) {
    connected_ = false;
    return;
  }
  const std::string folder = Folder();
  if (folder.empty())
    throw DatabaseError("Cannot open the registry: the connection string names no data source",
                        DatabaseFailure::kNoRegistry);
  if (!platform::FolderExists(folder))
    throw DatabaseError("Cannot open the registry: folder '" + folder + "' does not exist", DatabaseFailure::kNoRegistry,
                        folder);
  if (!platform::FolderReadable(folder))
    throw DatabaseError("Cannot open the registry: folder '" + folder + "' cannot be read", DatabaseFailure::kNoRegistry,
                        folder);
  connected_ = true;
}

// ---- Query ----------------------------------------------------------------

Query::Query(Connection& connection) : connection_(connection) {}
Query::~Query() = default;

void Query::Clear() {
  lines_.clear();
  Close();
}

void Query::Add(std::string_view line) {
  lines_.push_back(ScanParameters(line));
  Close();
}

std::string Query::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

int Query::Execute() {
  if (!connection_.Connected())
    throw DatabaseError("Operation is not allowed when the object is closed");
  return RunStatement(connection_.Folder(), Text(), false, {connection_.CollationKnowledgeFile()}).rowsAffected;
}

void Query::Open() {
  if (!connection_.Connected())
    throw DatabaseError("Operation is not allowed when the object is closed");
  Close();
  StatementOutcome outcome = RunStatement(connection_.Folder(), Text(), true);
  if (!outcome.result)
    throw DatabaseError("The statement returns no rows to open");
  result_ = std::move(outcome.result);
  current_ = 0;
}

void Query::Close() {
  result_.reset();
  current_ = 0;
}

int Query::RecordCount() const {
  if (!result_) throw DatabaseError(kClosedDataset);
  return static_cast<int>(result_->rows.size());
}

void Query::First() {
  if (!result_) throw DatabaseError(kClosedDataset);
  current_ = 0;
}

void Query::Next() {
  if (!result_) throw DatabaseError(kClosedDataset);
  if (current_ < result_->rows.size()) ++current_;
}

bool Query::Eof() const {
  if (!result_) return true;
  return current_ >= result_->rows.size();
}

int Query::FieldCount() const { return result_ ? static_cast<int>(result_->columns.size()) : 0; }

const ResultColumn& Query::ColumnAt(int i) const {
  if (!result_ || i < 0 || static_cast<size_t>(i) >= result_->columns.size())
    throw DatabaseError("List index out of bounds (" + std::to_string(i) + ")");
  return result_->columns[static_cast<size_t>(i)];
}

std::string Query::FieldName(int i) const { return ColumnAt(i).name; }

int Query::FieldType(int i) const { return ColumnAt(i).typeCode; }

const Cell& Query::CurrentCell(std::string_view name, size_t* column) const {
  if (!result_) throw DatabaseError(kClosedDataset);
  const auto& cols = result_->columns;
  auto it = std::find_if(cols.begin(), cols.end(),
                         [&](const ResultColumn& c) { return EqualsNoCase(c.name, name); });
  if (it == cols.end()) throw DatabaseError("Field '" + std::string(name) + "' not found");
  *column = static_cast<size_t>(it - cols.begin());
  // Past the last row the last row stays current; an empty result reads
  // every column as null.
  if (result_->rows.empty()) {
    static const Cell kNull{true, 0, 0, {}};
    return kNull;
  }
  const size_t row = std::min(current_, result_->rows.size() - 1);
  return result_->rows[row][*column];
}

std::string Query::AsText(std::string_view name) const {
  size_t col = 0;
  const Cell& cell = CurrentCell(name, &col);
  return CellAsText(cell, result_->columns[col], connection_.Formats());
}

int Query::AsInteger(std::string_view name) const {
  size_t col = 0;
  const Cell& cell = CurrentCell(name, &col);
  return CellAsInteger(cell, result_->columns[col]);
}

double Query::AsDateTime(std::string_view name) const {
  size_t col = 0;
  const Cell& cell = CurrentCell(name, &col);
  return CellAsDateTime(cell, result_->columns[col], connection_.Formats());
}

}  // namespace ravelto::registry

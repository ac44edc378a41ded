#pragma once
// The registry subsystem's failure: what() is the exact message text
// (Windows-1251 bytes) naming what failed and where. Kind() says what sort of
// failure it is, so that the desk can tell the operator in its own words
// without reading the English text; File() is the file concerned, when one is.

#include <stdexcept>
#include <string>

namespace ravelto::registry {

enum class DatabaseFailure {
  kOther,        // statements, columns, values: the message says it all
  kLocked,       // a table, record or memo lock held by another program
  kDamaged,      // a table or memo file whose contents cannot be right
  kDiskFull,     // the disk has no room for the write
  kWriteFailed,  // a write or flush the system refused for another reason
  kReadFailed,   // a read the system refused
  kMissing,      // a table or one of its files not found or not openable
  kNoRegistry,   // the registry folder itself cannot be opened
  kFull,         // a table or memo file at its format's size limit
  kRefused,      // a table this program does not write (file type)
  kIndex,        // the table's structural index stopped the write
};

class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& message, DatabaseFailure kind = DatabaseFailure::kOther,
                         std::string file = {})
      : std::runtime_error(message), kind_(kind), file_(std::move(file)) {}
  DatabaseFailure Kind() const noexcept { return kind_; }
  const std::string& File() const noexcept { return file_; }

 private:
  DatabaseFailure kind_;
  std::string file_;
};

}  // namespace ravelto::registry

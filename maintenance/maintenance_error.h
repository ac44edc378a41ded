#pragma once
// The one failure class of the maintenance library. what() is the exact text
// (Windows-1251 bytes). Most texts are the operator's already; a failure of
// kReplaceFailed carries the system's English reason, and the window says it
// in its own words, naming File().

#include <stdexcept>
#include <string>

namespace ravelto::maintenance {

enum class MaintenanceFailure {
  kShownAsIs,      // the text is the one the operator sees
  kReplaceFailed,  // the written file could not be put in place of File()
};

class MaintenanceError : public std::runtime_error {
 public:
  explicit MaintenanceError(const std::string& message, MaintenanceFailure kind = MaintenanceFailure::kShownAsIs,
                            std::string file = {})
      : std::runtime_error(message), kind_(kind), file_(std::move(file)) {}
  MaintenanceFailure Kind() const noexcept { return kind_; }
  const std::string& File() const noexcept { return file_; }

 private:
  MaintenanceFailure kind_;
  std::string file_;
};

}  // namespace ravelto::maintenance

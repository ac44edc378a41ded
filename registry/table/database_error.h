#pragma once
// The registry subsystem's failure: what() is the exact message text
// (Windows-1251 bytes) naming what failed and where.

#include <stdexcept>
#include <string>

namespace ravelto::registry {

class DatabaseError : public std::runtime_error {
 public:
  explicit DatabaseError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace ravelto::registry

#pragma once
// The one failure class of the maintenance library. what() is the exact text
// the window shows in its error box (Windows-1251 bytes).

#include <stdexcept>
#include <string>

namespace ravelto::maintenance {

class MaintenanceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace ravelto::maintenance

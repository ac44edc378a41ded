#pragma once
// The local calendar time of the machine.

#include <ctime>

namespace ravelto::platform {

// The broken-down local time of t (localtime_r / localtime_s).
std::tm LocalTime(std::time_t t);

}  // namespace ravelto::platform

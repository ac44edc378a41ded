// HTML of the service's two human pages: the patient's request form at "/"
// (UTF-8) and the clinic's administration page (Windows-1251).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/request-service/state.h"

namespace ravelto::reqsvc {

// What the form shows around its fields. Texts are UTF-8; `notice` is a
// success line, `error` a failure line; either may be empty.
struct FormView {
  std::string notice;
  std::string error;
  std::string clinic;   // preselected clinic code (cp1251)
  std::string patient;  // previous input, shown again after an error (UTF-8)
  std::string phone;
  std::string text;
};

std::string FormPage(const std::vector<Clinic>& clinics, const FormView& view);

std::string AdminPage(const Clinic& clinic, const std::vector<Request>& requests);

// The page for a wrong client code or password (Windows-1251).
std::string AdminDeniedPage();

}  // namespace ravelto::reqsvc

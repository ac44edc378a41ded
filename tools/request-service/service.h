// The request service's endpoints as plain functions of a raw request target:
// no sockets here, so tests and the HTTP glue (server.h) share one code path.
//
// Answer rules the desk relies on: login answers exactly "1" on success; ping
// answers a non-empty body; the list answers "id,status#" records; the item
// answers the 11 "|"-separated slots; save answers exactly "ok" on success.
// Failures the desk should show to its operator (wrong password, unknown
// request, a decision that could not be stored) come back with status 200 and
// a Russian text, because the desk shows only a success answer's body.
// Malformed queries get 400 with a text naming what is wrong. Every text
// answer is Windows-1251; the patient form at "/" is UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tools/request-service/raw_query.h"
#include "tools/request-service/state.h"

namespace ravelto::reqsvc {

inline constexpr std::string_view kTextCp1251 = "text/html; charset=windows-1251";
inline constexpr std::string_view kHtmlUtf8 = "text/html; charset=utf-8";
inline constexpr std::string_view kBinary = "application/octet-stream";

struct Answer {
  int status = 200;
  std::string body;
  std::string content_type = std::string(kTextCp1251);
  std::string location;  // set only for the form's redirect after filing
};

struct ServiceConfig {
  std::string state_path;  // empty: keep the state in memory only
  std::string files_dir;   // folder of the two downloads; empty: none
  // Current local time as "dd.mm.yyyy hh:mm:ss"; the default reads the clock.
  std::function<std::string()> clock;
};

// A request as the patient files it. Texts are Windows-1251.
struct NewRequest {
  std::string clinic;
  std::string patient;
  std::string phone;
  std::string text;
  std::vector<std::string> symptoms;  // column names from kSymptoms
};

class RequestService {
 public:
  RequestService(State initial, ServiceConfig config);

  // Every GET endpoint; `raw_target` is the request target as received.
  Answer Get(std::string_view raw_target);

  // The patient form's POST (application/x-www-form-urlencoded, UTF-8).
  Answer PostForm(std::string_view body);

  // Checks and stores a new request; returns its id, or throws
  // std::invalid_argument with a Russian (UTF-8) text for the form, or
  // StateError when the state could not be written (nothing is then kept).
  std::int64_t File(const NewRequest& request);

  State Snapshot() const;

 private:
  Answer Login(const RawTarget& t);
  Answer List(const RawTarget& t);
  Answer Item(const RawTarget& t);
  Answer Save(const RawTarget& t);
  Answer Version();
  Answer Download(const std::string& name);
  Answer Admin(const RawTarget& t);
  Answer Form(const RawTarget& t);

  // Caller holds mu_.
  const Clinic* Authenticate(const std::string& code, const std::string& pass) const;
  void Persist();

  ServiceConfig config_;
  mutable std::mutex mu_;
  State state_;
};

// Local time in the service's text format.
std::string LocalTimeText();

}  // namespace ravelto::reqsvc

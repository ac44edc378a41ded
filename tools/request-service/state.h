// The request service's whole state: clinics, requests and decisions, and the
// latest desk version it announces. All texts are Windows-1251 bytes.
//
// On disk the state is a UTF-8 text of "key=value" lines grouped in [clinic]
// and [request] sections (see sample-state.txt); the same format seeds a fresh
// service. SaveStateFile replaces the file atomically, so a reader (or a
// restart after a kill) always finds either the old or the new complete state.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ravelto::reqsvc {

// Failure to read, parse or write a state file; what() names the file and,
// for parse failures, the line.
class StateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Clinic {
  std::string code;  // the desk's client code ("id" / "obj" in queries)
  std::string pass;
  std::string name;
};

// Request status codes as the list answer carries them.
inline constexpr std::string_view kStatusNew = "0";
inline constexpr std::string_view kStatusAccepted = "1";
inline constexpr std::string_view kStatusRejected = "2";

struct Request {
  std::int64_t id = 0;
  std::string clinic;   // Clinic::code
  std::string status;   // "0" new, "1" accepted, "2" rejected
  std::string patient;  // patient code in the clinic's registry (digits)
  std::string filed;    // when the request was filed, "dd.mm.yyyy hh:mm:ss"
  std::string edited;   // last change of the request (filing or decision)
  std::string phone;
  std::string text;
  std::string marked;    // display text of the marked symptoms
  std::string fragment;  // ",flag=1,..." assignments for the desk's update
  std::string reason;    // rejection reason, as the desk sent it
  std::string slot;      // accepted: part of the day, as sent
  std::string doctor;    // accepted: doctor text, as sent
  std::string decided;   // time of the last decision, empty while new
};

struct State {
  int latest_version = 21;
  std::int64_t next_id = 1;
  std::vector<Clinic> clinics;
  std::vector<Request> requests;  // ascending id

  const Clinic* FindClinic(std::string_view code) const;
  Request* FindRequest(std::int64_t id);
  const Request* FindRequest(std::int64_t id) const;
};

std::string SerializeState(const State& state);

// Reads 1 to 18 decimal digits (no sign, nothing else) into out.
bool ParseInt64(std::string_view text, std::int64_t& out);

// Parses the text form. `origin` names the source in error messages. Checks:
// known keys only, clinic codes non-empty and unique, request ids positive and
// unique, every request's clinic known, status one of 0/1/2. next-id is raised
// above the largest id when needed; requests are sorted by id.
State ParseState(std::string_view text, const std::string& origin);

State LoadStateFile(const std::string& path);

// Writes path + ".tmp", flushes it to disk, renames it over `path` and flushes
// the directory. Throws StateError on any failure (the old file then stays).
void SaveStateFile(const std::string& path, const State& state);

}  // namespace ravelto::reqsvc

#include "tools/request-service/state.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "tools/request-service/text_codec.h"

namespace ravelto::reqsvc {
namespace {

// Escapes a cp1251 value into one UTF-8 line: backslash, line breaks, tabs
// and other control bytes become backslash sequences.
std::string EscapeValue(std::string_view cp1251) {
  std::string raw;
  for (char c : cp1251) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '\\') {
      raw += "\\\\";
    } else if (c == '\n') {
      raw += "\\n";
    } else if (c == '\r') {
      raw += "\\r";
    } else if (c == '\t') {
      raw += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      raw += "\\x";
      raw += kHex[b >> 4];
      raw += kHex[b & 15];
    } else {
      raw += c;
    }
  }
  return Cp1251ToUtf8(raw);
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reverse of EscapeValue; returns false on a malformed escape.
bool UnescapeValue(std::string_view utf8, std::string& out) {
  const std::string cp = Utf8ToCp1251(utf8);
  out.clear();
  for (std::size_t i = 0; i < cp.size(); ++i) {
    if (cp[i] != '\\') {
      out += cp[i];
      continue;
    }
    if (++i >= cp.size()) return false;
    switch (cp[i]) {
      case '\\': out += '\\'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (i + 2 >= cp.size() || Hex(cp[i + 1]) < 0 || Hex(cp[i + 2]) < 0) return false;
        out += static_cast<char>(Hex(cp[i + 1]) * 16 + Hex(cp[i + 2]));
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

void Put(std::ostringstream& os, const char* key, std::string_view value) {
  os << key << '=' << EscapeValue(value) << '\n';
}

[[noreturn]] void Fail(const std::string& origin, int line, const std::string& what) {
  throw StateError(origin + ":" + std::to_string(line) + ": " + what);
}

}  // namespace

const Clinic* State::FindClinic(std::string_view code) const {
  for (const auto& c : clinics) {
    if (c.code == code) return &c;
  }
  return nullptr;
}

Request* State::FindRequest(std::int64_t id) {
  auto it = std::lower_bound(requests.begin(), requests.end(), id,
                             [](const Request& r, std::int64_t v) { return r.id < v; });
  return it != requests.end() && it->id == id ? &*it : nullptr;
}

const Request* State::FindRequest(std::int64_t id) const {
  return const_cast<State*>(this)->FindRequest(id);
}

std::string SerializeState(const State& state) {
  std::ostringstream os;
  os << "# Request service state: UTF-8, key=value lines; \\n \\r \\t \\\\ \\xHH escapes.\n"
     << "# Edit only while the service is stopped.\n";
  os << "latest-version=" << state.latest_version << '\n';
  os << "next-id=" << state.next_id << '\n';
  for (const auto& c : state.clinics) {
    os << "\n[clinic]\n";
    Put(os, "code", c.code);
    Put(os, "pass", c.pass);
    Put(os, "name", c.name);
  }
  for (const auto& r : state.requests) {
    os << "\n[request]\n";
    os << "id=" << r.id << '\n';
    Put(os, "clinic", r.clinic);
    Put(os, "status", r.status);
    Put(os, "patient", r.patient);
    Put(os, "filed", r.filed);
    Put(os, "edited", r.edited);
    Put(os, "phone", r.phone);
    Put(os, "text", r.text);
    Put(os, "marked", r.marked);
    Put(os, "fragment", r.fragment);
    Put(os, "reason", r.reason);
    Put(os, "slot", r.slot);
    Put(os, "doctor", r.doctor);
    Put(os, "decided", r.decided);
  }
  return os.str();
}

State ParseState(std::string_view text, const std::string& origin) {
  State state;
  enum class Section { kTop, kClinic, kRequest } section = Section::kTop;
  std::int64_t given_next = 0;
  int line_no = 0;
  while (!text.empty()) {
    ++line_no;
    const auto nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (line == "[clinic]") {
      section = Section::kClinic;
      state.clinics.emplace_back();
      continue;
    }
    if (line == "[request]") {
      section = Section::kRequest;
      state.requests.emplace_back();
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) Fail(origin, line_no, "expected key=value or a [section]");
    const std::string_view key = line.substr(0, eq);
    std::string value;
    if (!UnescapeValue(line.substr(eq + 1), value)) Fail(origin, line_no, "bad escape in value");
    bool known = true;
    switch (section) {
      case Section::kTop: {
        std::int64_t n = 0;
        if (key == "latest-version") {
          if (!ParseInt64(value, n) || n > 1000000) Fail(origin, line_no, "latest-version is not a number");
          state.latest_version = static_cast<int>(n);
        } else if (key == "next-id") {
          if (!ParseInt64(value, n)) Fail(origin, line_no, "next-id is not a number");
          given_next = n;
        } else {
          known = false;
        }
        break;
      }
      case Section::kClinic: {
        Clinic& c = state.clinics.back();
        if (key == "code") c.code = value;
        else if (key == "pass") c.pass = value;
        else if (key == "name") c.name = value;
        else known = false;
        break;
      }
      case Section::kRequest: {
        Request& r = state.requests.back();
        if (key == "id") {
          if (!ParseInt64(value, r.id) || r.id <= 0) Fail(origin, line_no, "id is not a positive number");
        } else if (key == "clinic") r.clinic = value;
        else if (key == "status") r.status = value;
        else if (key == "patient") r.patient = value;
        else if (key == "filed") r.filed = value;
        else if (key == "edited") r.edited = value;
        else if (key == "phone") r.phone = value;
        else if (key == "text") r.text = value;
        else if (key == "marked") r.marked = value;
        else if (key == "fragment") r.fragment = value;
        else if (key == "reason") r.reason = value;
        else if (key == "slot") r.slot = value;
        else if (key == "doctor") r.doctor = value;
        else if (key == "decided") r.decided = value;
        else known = false;
        break;
      }
    }
    if (!known) Fail(origin, line_no, "unknown key \"" + std::string(key) + "\"");
  }

  std::set<std::string> codes;
  for (const auto& c : state.clinics) {
    if (c.code.empty()) throw StateError(origin + ": a clinic without a code");
    if (!codes.insert(c.code).second) throw StateError(origin + ": clinic " + Cp1251ToUtf8(c.code) + " twice");
  }
  std::sort(state.requests.begin(), state.requests.end(),
            [](const Request& a, const Request& b) { return a.id < b.id; });
  std::int64_t max_id = 0;
  for (std::size_t i = 0; i < state.requests.size(); ++i) {
    const auto& r = state.requests[i];
    const std::string name = origin + ": request " + std::to_string(r.id);
    if (r.id <= 0) throw StateError(origin + ": a request without an id");
    if (i > 0 && state.requests[i - 1].id == r.id) throw StateError(name + " twice");
    if (!codes.count(r.clinic)) throw StateError(name + " names an unknown clinic");
    if (r.status != kStatusNew && r.status != kStatusAccepted && r.status != kStatusRejected) {
      throw StateError(name + " has a status other than 0, 1 or 2");
    }
    max_id = std::max(max_id, r.id);
  }
  state.next_id = std::max({given_next, max_id + 1, std::int64_t{1}});
  return state;
}

State LoadStateFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw StateError("cannot open state file " + path + ": " + std::strerror(errno));
  std::ostringstream os;
  os << in.rdbuf();
  if (in.bad()) throw StateError("cannot read state file " + path);
  return ParseState(os.str(), path);
}

void SaveStateFile(const std::string& path, const State& state) {
  const std::string text = SerializeState(state);
  const std::string tmp = path + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw StateError("cannot create " + tmp + ": " + std::strerror(errno));
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string err = std::strerror(errno);
      ::close(fd);
      ::unlink(tmp.c_str());
      throw StateError("cannot write " + tmp + ": " + err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const std::string err = std::strerror(errno);
    ::close(fd);
    ::unlink(tmp.c_str());
    throw StateError("cannot flush " + tmp + ": " + err);
  }
  ::close(fd);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    const std::string err = std::strerror(errno);
    ::unlink(tmp.c_str());
    throw StateError("cannot replace " + path + ": " + err);
  }
  // The rename itself is durable only once the directory is flushed.
  const auto slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

bool ParseInt64(std::string_view text, std::int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

}  // namespace ravelto::reqsvc

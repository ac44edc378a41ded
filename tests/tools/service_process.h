// Test helpers: runs the request-service program on a free loopback port and
// talks to it with raw request lines over plain sockets, byte for byte as the
// desk sends them.
#pragma once

#include <string>
#include <vector>

namespace ravelto::reqsvc::testing {

class ServiceProcess {
 public:
  // Starts `binary --port 0 --state state --seed seed [extra...]` and waits
  // (up to 10 s) for its "listening on" line. Throws std::runtime_error when
  // the program does not come up.
  ServiceProcess(const std::string& binary, const std::string& state, const std::string& seed,
                 const std::vector<std::string>& extra = {});
  ~ServiceProcess();  // SIGTERM, then waits
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  int port() const { return port_; }
  int pid() const { return pid_; }
  bool Alive() const;
  // Ends the process with `signal` and reaps it; returns its wait status.
  int Kill(int signal);

 private:
  int pid_ = -1;
  int port_ = 0;
};

struct RawAnswer {
  int status = 0;          // 0 when no status line arrived
  std::string head;        // status line and headers
  std::string body;
};

// Sends "GET <target> HTTP/1.1" with the desk's header lines and reads until
// the server closes the connection. `target` is sent as raw bytes.
RawAnswer RawGet(int port, const std::string& target);

// Sends arbitrary bytes and reads the answer until close, or until no byte
// has come for `wait_ms`.
RawAnswer RawExchange(int port, const std::string& bytes, int wait_ms = 10000);

// A POST of an application/x-www-form-urlencoded body to "/".
RawAnswer PostForm(int port, const std::string& body);

// A unique empty folder under the system's temporary folder.
std::string MakeTempDir();

// Windows-1251 bytes of a UTF-8 literal (tests write Russian in UTF-8).
std::string Cp(const std::string& utf8);

}  // namespace ravelto::reqsvc::testing

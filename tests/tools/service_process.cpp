#include "tests/tools/service_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "tools/request-service/text_codec.h"

namespace ravelto::reqsvc::testing {

ServiceProcess::ServiceProcess(const std::string& binary, const std::string& state, const std::string& seed,
                               const std::vector<std::string>& extra) {
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> args = {binary, "--port", "0", "--state", state, "--seed", seed};
  args.insert(args.end(), extra.begin(), extra.end());
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  const auto colon = line.rfind(':');
  if (line.rfind("listening on http://", 0) != 0 || colon == std::string::npos) {
    Kill(SIGKILL);
    throw std::runtime_error("request-service did not start: \"" + line + "\"");
  }
  port_ = std::atoi(line.c_str() + colon + 1);
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0) Kill(SIGTERM);
}

bool ServiceProcess::Alive() const {
  if (pid_ <= 0) return false;
  int status = 0;
  return ::waitpid(pid_, &status, WNOHANG) == 0;
}

int ServiceProcess::Kill(int signal) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

RawAnswer RawExchange(int port, const std::string& bytes, int wait_ms) {
  RawAnswer answer;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return answer;
  }
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  std::string all;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0) break;
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  const auto end = all.find("\r\n\r\n");
  answer.head = all.substr(0, end);
  answer.body = end == std::string::npos ? std::string() : all.substr(end + 4);
  if (answer.head.rfind("HTTP/1.", 0) == 0 && answer.head.size() > 12) {
    answer.status = std::atoi(answer.head.c_str() + 9);
  }
  return answer;
}

RawAnswer RawGet(int port, const std::string& target) {
  return RawExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                               "\r\nAccept: text/html, */*\r\n"
                               "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
}

RawAnswer PostForm(int port, const std::string& body) {
  return RawExchange(port, "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                               std::to_string(body.size()) + "\r\n\r\n" + body);
}

std::string MakeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/reqsvc-test-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return templ;
}

std::string Cp(const std::string& utf8) { return Utf8ToCp1251(utf8); }

}  // namespace ravelto::reqsvc::testing

#pragma once
// A loopback HTTP server for tests: it accepts connections on 127.0.0.1 on a
// free port and runs a script for each, one connection at a time, on its own
// thread. Scripts read request heads and write canned bytes.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace ravelto::service::testing {

class ScriptedServer;

// One accepted connection, as seen by a script.
class Peer {
 public:
  Peer(ScriptedServer& server, ravelto::testing::SocketHandle fd, int index) : server_(server), fd_(fd), index_(index) {}
  // Reads one request head (up to the empty line) and records it. Returns
  // the empty text if the client closed first or the server is stopping.
  std::string ReadHead();
  void Send(std::string_view bytes);
  // Closes the connection now (both directions).
  void Close();
  // Waits until the client closes or the server stops (a silent server).
  void Hold();
  // Sleeps up to d, returning early when the server stops.
  void Pause(std::chrono::milliseconds d);
  // 0 for the first connection the server accepted, 1 for the next...
  int Index() const { return index_; }

 private:
  ScriptedServer& server_;
  ravelto::testing::SocketHandle fd_;
  int index_;
  std::string pending_;
};

class ScriptedServer {
 public:
  using Script = std::function<void(Peer&)>;
  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:<port>" + path.
  std::string Url(std::string_view path) const;
  int Connections() const { return connections_.load(); }
  std::vector<std::string> Requests() const;
  bool Stopping() const { return stop_.load(); }

 private:
  friend class Peer;
  void Run();
  void Record(std::string head);

  Script script_;
  ravelto::testing::SocketHandle listener_ = ravelto::testing::kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 on which nothing listens.
int UnusedPort();

// A simple answer: status line, headers as given, then body.
std::string Answer(std::string_view statusLine, std::string_view headers, std::string_view body);

}  // namespace ravelto::service::testing

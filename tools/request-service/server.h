// HTTP front of the request service on cpp-httplib: one port for every
// endpoint. Request targets are handed to RequestService untouched (httplib's
// own query decoding is not used: the desk's values are raw Windows-1251).
// A request line that httplib cannot parse (a raw space inside the target, a
// second '?') is answered 400 with a text, and the server keeps running.
#pragma once

#include <memory>
#include <string>

#include "tools/request-service/service.h"

namespace ravelto::reqsvc {

struct ServerConfig {
  std::string host = "127.0.0.1";
  int port = 8380;        // 0: any free port (see HttpServer::port)
  int threads = 16;       // worker threads
  int keep_alive = 1;     // requests per connection before "Connection: close"
  int backlog = 512;      // pending connections the listening socket queues
  bool log = false;       // one line per request on stdout (passwords masked)
};

class HttpServer {
 public:
  HttpServer(RequestService& service, ServerConfig config);
  ~HttpServer();

  // Binds; returns false when the address cannot be bound.
  bool Bind();
  int port() const;
  // Serves until Stop(); call after Bind().
  void Run();
  // Safe from any thread.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace ravelto::reqsvc

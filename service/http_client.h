#pragma once
// Client: the desk's one HTTP/1.1 client. Plain-http GET only, one request
// at a time, at most one reusable TCP connection, optional HTTP proxy with
// Basic authentication. URLs, heads and bodies are Windows-1251 bytes.
//
// Failure handling: every failure throws HttpError whose what() is the exact
// message. An exchange that fails before its answer has been read completely
// closes the connection, so that the rest of that answer is never read as the
// next one; so does a connection that received bytes while idle.

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "service/answer_parser.h"
#include "service/stream.h"

namespace ravelto::service {

struct Timeouts {
  std::chrono::milliseconds connect{3000};
  std::chrono::milliseconds read{10000};       // each wait for incoming data
  std::chrono::milliseconds errorBody{2000};   // while reading an error answer's body
};

struct ProxySettings {
  std::string server;     // empty: no proxy
  int port = 8080;
  std::string user;
  std::string password;
  bool basicAuth = false;
};

// A failed exchange. what() is the exact message shown to the operator
// ("Read Timeout", "Socket Error # 10061\r\nConnection refused.", a status line...).
class HttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Client {
 public:
  explicit Client(Timeouts timeouts = {});
  // Opens its connections through connector instead of TCP sockets (tests,
  // the fuzzer).
  Client(Timeouts timeouts, Connector connector);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  ProxySettings& Proxy();
  const ProxySettings& Proxy() const;
  const Timeouts& GetTimeouts() const;
  void SetTimeouts(const Timeouts& timeouts);
  // Bounds on answer heads and bodies (defaults: see AnswerLimits).
  void SetLimits(const AnswerLimits& limits);
  // True while a connection is open (kept from the last exchange).
  bool Connected() const;

  // GET the URL. On success returns the whole body. On failure throws
  // HttpError; before throwing, *partialBody (when given) receives what had
  // arrived of a success answer's body (empty in every other case).
  std::string Get(const std::string& url, std::string* partialBody = nullptr);

  // The body as text; failures are thrown to the caller.
  std::string FetchText(const std::string& url);
  // The body's bytes into the caller's (emptied) buffer; failures are thrown.
  void FetchToBuffer(const std::string& url, std::vector<char>& buffer);

  // Closes the connection if one is open.
  void Disconnect();

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace ravelto::service

#pragma once
// The byte transport under Client: a connected, bidirectional byte stream.
// The socket layer implements it for TCP; tests and the fuzzer replay bytes
// through an in-memory implementation, without a socket.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace ravelto::service {

class Stream {
 public:
  enum class ReadStatus {
    Data,      // size bytes were stored (size > 0)
    Closed,    // the peer closed the connection (a receive returned no bytes)
    TimedOut,  // nothing arrived within the wait
    Failed,    // the socket layer failed; error holds the Windows Sockets number
  };
  struct ReadResult {
    ReadStatus status = ReadStatus::Failed;
    std::size_t size = 0;
    int error = 0;
  };

  virtual ~Stream() = default;

  // One wait for incoming bytes of at most timeout, then one receive of at
  // most capacity bytes.
  virtual ReadResult Read(char* buffer, std::size_t capacity, std::chrono::milliseconds timeout) = 0;

  // Sends all bytes. Returns 0, or the Windows Sockets error number of the
  // failure.
  virtual int Write(std::string_view bytes) = 0;
};

// Opens a stream to host:port, bounding the connection attempt by timeout.
// Throws HttpError with the exact failure message ("Connect timed out.",
// "Socket Error # 11001\r\nHost not found.", ...).
using Connector = std::function<std::unique_ptr<Stream>(const std::string& host, int port,
                                                        std::chrono::milliseconds timeout)>;

}  // namespace ravelto::service

#pragma once
// The TCP socket layer: IPv4 name resolution, a connection attempt bounded by
// a time-out, and a Stream over the connected socket. BSD sockets on POSIX,
// Winsock on Windows. Failures carry Windows Sockets numbers on both.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "service/stream.h"

namespace ravelto::service {

// "LOCALHOST" in any letter case is 127.0.0.1; a dotted IPv4 address is used
// as it stands; any other name goes to the system's resolver, whose first
// IPv4 address is taken. Returns the address in network byte order. Throws
// HttpError "Socket Error # 11001\r\nHost not found." when nothing is found.
std::uint32_t ResolveIpv4(const std::string& host);

// Resolves host (not counted in the time-out), then connects. The attempt is
// abandoned after timeout: its socket is closed, then HttpError
// "Connect timed out." is thrown. A port outside 1..65535 fails with socket
// error 10049. Other failures throw the socket error.
std::unique_ptr<Stream> ConnectTcp(const std::string& host, int port,
                                   std::chrono::milliseconds timeout);

}  // namespace ravelto::service

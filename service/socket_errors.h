#pragma once
// Socket failures are reported with Windows Sockets error numbers on every
// platform, so that the operator sees the same message everywhere.

#include <string>
#include <string_view>

namespace ravelto::service {

// Windows Sockets numbers the socket layer reports.
inline constexpr int kWsaInterrupted = 10004;
inline constexpr int kWsaAddressNotAvailable = 10049;
inline constexpr int kWsaConnectionAborted = 10053;
inline constexpr int kWsaNotConnected = 10057;
inline constexpr int kWsaShutdown = 10058;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaHostNotFound = 11001;

// The text for a Windows Sockets number; empty for a number without one.
std::string_view SocketErrorText(int code);

// "Socket Error # <code>\r\n<text>".
std::string SocketErrorMessage(int code);

// Maps a POSIX errno onto its Windows Sockets number (unknown values map to
// 10000 + errno, which has no text).
int WsaFromErrno(int err);

}  // namespace ravelto::service

#include "service/http_client.h"

#include <memory>
#include <utility>

#include "common/int_text.h"
#include "service/request_head.h"
#include "service/socket_errors.h"
#include "service/socket_stream.h"

namespace ravelto::service {

namespace {

constexpr std::size_t kReceiveChunk = 32768;
// The liveness check may wait at most 1 ms. A close that has already arrived
// is seen without waiting, so the check does not wait at all: waiting would
// add a millisecond to every request on a kept connection.
constexpr std::chrono::milliseconds kLivenessWait{0};

// The status line as the failure message: CR and LF removed.
std::string StatusMessage(const std::string& statusLine) {
  std::string message;
  message.reserve(statusLine.size());
  for (char c : statusLine) {
    if (c != '\r' && c != '\n') message += c;
  }
  return message;
}

}  // namespace

struct Client::Impl {
  Timeouts timeouts;
  ProxySettings proxy;
  Connector connector;

  std::unique_ptr<Stream> stream;
  std::string connectedHost;
  int connectedPort = 0;
  AnswerParser parser;
  std::unique_ptr<char[]> chunk{new char[kReceiveChunk]};

  void Close() {
    stream.reset();
    parser.ClearBuffer();
  }

  // Receives until the parser can say more than "need more bytes".
  AnswerParser::Status Pump(std::chrono::milliseconds timeout) {
    for (;;) {
      const AnswerParser::Status status = parser.Step();
      if (status != AnswerParser::Status::NeedMore) return status;
      if (parser.PeerClosed()) throw HttpError(std::string(kClosedGracefully));
      const Stream::ReadResult got = stream->Read(chunk.get(), kReceiveChunk, timeout);
      switch (got.status) {
        case Stream::ReadStatus::Data:
          receivedAny = true;
          parser.Feed(chunk.get(), got.size);
          break;
        case Stream::ReadStatus::Closed: parser.FeedClose(); break;
        case Stream::ReadStatus::TimedOut: throw HttpError("Read Timeout");
        case Stream::ReadStatus::Failed:
          // An abort while bytes wait in the buffer ends the stream like a close.
          if ((got.error == kWsaConnectionAborted || got.error == kWsaShutdown) &&
              parser.HasBuffered()) {
            parser.FeedClose();
            break;
          }
          throw HttpError(SocketErrorMessage(got.error));
      }
    }
  }

  void Expect(AnswerParser::Status status, AnswerParser::Status wanted) {
    if (status == AnswerParser::Status::Failed) throw HttpError(parser.Error());
    if (status != wanted) throw HttpError("Undefined situation");
  }

  // Keeps the open connection only if it leads to host:port, is idle with
  // nothing unread, and the peer has not closed it. Returns true when a kept
  // connection is used.
  bool ReuseOrOpen(const std::string& host, int port) {
    if (stream && (connectedHost != host || connectedPort != port || parser.HasBuffered())) Close();
    if (stream) {
      const Stream::ReadResult got = stream->Read(chunk.get(), kReceiveChunk, kLivenessWait);
      // Bytes arriving on an idle connection answer no request of ours.
      if (got.status != Stream::ReadStatus::TimedOut) Close();
    }
    if (stream) return true;
    stream = connector(host, port, timeouts.connect);
    connectedHost = host;
    connectedPort = port;
    parser.ClearBuffer();
    return false;
  }

  // One GET. A kept connection that the peer closed just as the request went
  // out (the close raced the liveness check: a proxy that closes after each
  // answer, a server's idle time-out) fails before a single byte of answer
  // arrives; the request is then sent once more on a new connection, as no
  // server has seen it answered. Any other failure ends the exchange.
  void Exchange(const std::string& url, std::string& body) {
    try {
      Attempt(url, body);
    } catch (const HttpError&) {
      if (!usedKeptConnection || receivedAny) throw;
      Close();
      body.clear();
      Attempt(url, body);
    }
  }

  bool usedKeptConnection = false;
  bool receivedAny = false;

  void Attempt(const std::string& url, std::string& body) {
    usedKeptConnection = false;
    receivedAny = false;
    const UrlParts parts = SplitUrl(url);
    const bool viaProxy = !proxy.server.empty();
    const std::string host = viaProxy ? proxy.server : parts.host;
    int port = proxy.port;
    if (!viaProxy) {
      if (parts.port < 0) throw HttpError(ConversionError(parts.portText).what());
      port = parts.port;
    }
    usedKeptConnection = ReuseOrOpen(host, port);

    const std::string head = BuildRequestHead(parts, proxy);
    if (const int error = stream->Write(head); error != 0) {
      Close();
      throw HttpError(SocketErrorMessage(error));
    }

    bool answerRead = false;
    try {
      parser.StartAnswer();
      Expect(Pump(timeouts.read), AnswerParser::Status::HeadDone);
      const AnswerHead& answer = parser.Head();
      const int code = answer.statusCode;
      const bool redirect = (code >= 300 && code <= 399 && code != 304) || !answer.location.empty();
      if (!redirect && code >= 200 && code <= 299) {
        if (answer.closedInHead) throw HttpError("Undefined situation");
        if (code == 204) {
          parser.SkipBody();
        } else {
          parser.BeginBody(&body);
        }
        Expect(Pump(timeouts.read), AnswerParser::Status::BodyDone);
        answerRead = true;
      } else {
        if (answer.closedInHead) {
          if (answer.AnnouncesBody()) throw HttpError("Not Connected");
          parser.SkipBody();
        } else {
          // The error answer's body is read and dropped, with a shorter wait.
          parser.BeginBody(nullptr);
        }
        Expect(Pump(timeouts.errorBody), AnswerParser::Status::BodyDone);
        answerRead = true;
        throw HttpError(StatusMessage(answer.statusLine));
      }
    } catch (...) {
      if (!answerRead || !KeepAlive()) Close();
      throw;
    }
    if (!KeepAlive()) Close();
  }

  bool KeepAlive() const { return stream && !parser.PeerClosed() && parser.Head().AllowsKeepAlive(); }
};

Client::Client(Timeouts timeouts) : Client(timeouts, ConnectTcp) {}

Client::Client(Timeouts timeouts, Connector connector) : impl_(new Impl) {
  impl_->timeouts = timeouts;
  impl_->connector = std::move(connector);
}

Client::~Client() { delete impl_; }

ProxySettings& Client::Proxy() { return impl_->proxy; }
const ProxySettings& Client::Proxy() const { return impl_->proxy; }
const Timeouts& Client::GetTimeouts() const { return impl_->timeouts; }
void Client::SetTimeouts(const Timeouts& timeouts) { impl_->timeouts = timeouts; }
void Client::SetLimits(const AnswerLimits& limits) { impl_->parser.SetLimits(limits); }
bool Client::Connected() const { return impl_->stream != nullptr; }

std::string Client::Get(const std::string& url, std::string* partialBody) {
  std::string body;
  try {
    impl_->Exchange(url, body);
  } catch (const HttpError&) {
    // Only a success answer's body is ever written to body.
    if (partialBody != nullptr) *partialBody = std::move(body);
    throw;
  }
  return body;
}

std::string Client::FetchText(const std::string& url) { return Get(url); }

void Client::FetchToBuffer(const std::string& url, std::vector<char>& buffer) {
  buffer.clear();
  const std::string body = Get(url);
  buffer.assign(body.begin(), body.end());
}

void Client::Disconnect() { impl_->Close(); }

}  // namespace ravelto::service

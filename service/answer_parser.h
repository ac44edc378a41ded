#pragma once
// AnswerParser: reads an HTTP/1.1 answer from bytes, independent of any
// socket. The caller feeds the bytes it receives (and the peer's close) and
// calls Step(), which says whether more bytes are needed, the head is
// complete, the body is complete, or the answer failed with a message.
//
// Bytes fed but not consumed by one answer stay buffered for the next answer
// on the same connection; ClearBuffer() drops them when the connection closes.
//
// Head rules: lines end at LF (a CR just before it is dropped); a line longer
// than maxLine bytes fails; interim 100 heads are skipped; header values are
// trimmed of blanks and continuation lines (leading space or tab) join the
// previous value with one space. Body modes: a positive Content-Length, else
// chunked Transfer-Encoding, else read to close when no length was given,
// else no body.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ravelto::service {

// Bounds that keep a broken or hostile answer from exhausting memory.
struct AnswerLimits {
  std::size_t maxLine = 16384;              // bytes of one head line, line end not counted
  std::size_t maxHeadBytes = 1 << 20;        // all lines of one head together
  int maxInterimHeads = 32;                  // "100 Continue" heads skipped before the answer
  std::uint64_t maxBody = 256ull << 20;      // bytes of one body
};

// The answer head. Values are those of the first header line of that name
// (letter case ignored), trimmed; absent headers give the empty text.
struct AnswerHead {
  std::string statusLine;
  int statusCode = -1;                 // -1 when unreadable
  std::vector<std::string> lines;      // header lines in arrival order, continuations joined
  std::string location;
  std::string connection;
  std::string proxyConnection;
  std::string transferEncoding;
  std::int64_t contentLength = -1;     // -1 when absent or unreadable
  bool hasContentLength = false;       // contentLength >= 0
  bool closedInHead = false;           // the peer closed the connection before the empty line

  // The value of the first header named name (letter case ignored); empty if none.
  std::string Value(std::string_view name) const;
  // True when the head announces a body: a length above 0, chunking, or no length.
  bool AnnouncesBody() const;
  // True when the head does not forbid keeping the connection open.
  bool AllowsKeepAlive() const;
};

// Failure messages of the parser (besides those shared with the transport).
inline constexpr std::string_view kClosedGracefully = "Connection Closed Gracefully.";
inline constexpr std::string_view kMaxLineExceeded = "Max line length exceeded.";
inline constexpr std::string_view kHeadTooLarge = "Answer head too large.";
inline constexpr std::string_view kTooManyInterimHeads = "Too many interim (100) answers.";
inline constexpr std::string_view kBadChunkSize = "Chunk size out of range.";
// "Answer body larger than <maxBody> bytes."
std::string BodyTooLargeMessage(std::uint64_t maxBody);

class AnswerParser {
 public:
  enum class Status { NeedMore, HeadDone, BodyDone, Failed };

  explicit AnswerParser(AnswerLimits limits = {});

  void SetLimits(const AnswerLimits& limits) { limits_ = limits; }

  // Begins a new answer on the same connection; buffered bytes are kept.
  void StartAnswer();
  // Forgets buffered bytes and the close flag (the connection was dropped).
  void ClearBuffer();
  bool HasBuffered() const { return pos_ < buffer_.size(); }
  bool PeerClosed() const { return closed_; }

  // Adds received bytes. While a body is being read, bytes go straight to
  // the body where possible.
  void Feed(const char* data, std::size_t size);
  // The peer has closed the connection; no more bytes will come.
  void FeedClose() { closed_ = true; }

  // Advances as far as the buffered bytes allow.
  //  NeedMore  - feed more bytes (or the close) and call again;
  //  HeadDone  - Head() is complete; call BeginBody or SkipBody;
  //  BodyDone  - the answer is complete;
  //  Failed    - Error() holds the message; the connection must be closed.
  Status Step();

  // After HeadDone: reads the body into *sink (appended), or counts and drops
  // it when sink is null.
  void BeginBody(std::string* sink);
  // After HeadDone: the answer has no body (status 204).
  void SkipBody();

  const AnswerHead& Head() const { return head_; }
  const std::string& Error() const { return error_; }

 private:
  enum class Phase { StatusLine, HeaderLines, HeadDone, Length, ChunkSize, ChunkData, ChunkEnd,
                     Trailer, ToClose, Done, Failed };

  // Takes one line from the buffer. Returns false when no full line is there
  // (or the line is too long; then the parser has failed).
  bool TakeLine(std::string_view& line);
  Status Fail(std::string_view message);
  Status StepHead();
  Status StepBody();
  void FinishHead();
  // Moves up to max buffered bytes to the body; returns how many.
  std::size_t TakeBody(std::size_t max);
  bool AddToBody(const char* data, std::size_t size);

  AnswerLimits limits_;
  std::string buffer_;
  std::size_t pos_ = 0;
  bool closed_ = false;

  Phase phase_ = Phase::StatusLine;
  AnswerHead head_;
  std::size_t headBytes_ = 0;
  int interimHeads_ = 0;
  std::string* sink_ = nullptr;
  std::uint64_t bodyBytes_ = 0;
  std::uint64_t remaining_ = 0;
  std::string error_;
};

}  // namespace ravelto::service

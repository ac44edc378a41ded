#include "service/answer_parser.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include "common/int_text.h"

namespace ravelto::service {

namespace {

// Removes leading and trailing characters up to the space (control
// characters included), as the head's values are read.
std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The status code: the text between the first space and the next space (or
// the line's end) as a decimal integer; -1 for anything else.
int ParseStatusCode(std::string_view line) {
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return -1;
  std::string_view rest = line.substr(first + 1);
  rest = rest.substr(0, rest.find(' '));
  return ParseInt(rest).value_or(-1);
}

// A content length: optional sign and decimal digits, 64-bit; -1 when the
// text is not such a number.
std::int64_t ParseLength(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return -1;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    if (value > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return -1;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

// A chunk size: the text before the first space as a hexadecimal number.
// Text that is not a hexadecimal number counts as 0. Returns false when the
// number does not fit in 60 bits.
bool ParseChunkSize(std::string_view line, std::uint64_t& size) {
  size = 0;
  line = line.substr(0, line.find(' '));
  if (line.empty()) return true;
  std::uint64_t value = 0;
  for (char c : line) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return true;  // not a hexadecimal number: 0
    }
    if (value >> 56) return false;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  size = value;
  return true;
}

}  // namespace

std::string BodyTooLargeMessage(std::uint64_t maxBody) {
  return "Answer body larger than " + std::to_string(maxBody) + " bytes.";
}

std::string AnswerHead::Value(std::string_view name) const {
  for (const std::string& line : lines) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (EqualsNoCase(std::string_view(line).substr(0, colon), name)) {
      return std::string(TrimBlanks(std::string_view(line).substr(colon + 1)));
    }
  }
  return {};
}

bool AnswerHead::AnnouncesBody() const {
  return contentLength > 0 || Lower(transferEncoding).find("chunked") != std::string::npos ||
         !hasContentLength;
}

bool AnswerHead::AllowsKeepAlive() const {
  return !EqualsNoCase(TrimBlanks(connection), "close") &&
         !EqualsNoCase(TrimBlanks(proxyConnection), "close");
}

AnswerParser::AnswerParser(AnswerLimits limits) : limits_(limits) {}

void AnswerParser::StartAnswer() {
  phase_ = Phase::StatusLine;
  head_ = AnswerHead{};
  headBytes_ = 0;
  interimHeads_ = 0;
  sink_ = nullptr;
  bodyBytes_ = 0;
  remaining_ = 0;
  error_.clear();
}

void AnswerParser::ClearBuffer() {
  buffer_.clear();
  pos_ = 0;
  closed_ = false;
}

void AnswerParser::Feed(const char* data, std::size_t size) {
  if (pos_ == buffer_.size()) {
    buffer_.clear();
    pos_ = 0;
    // Body bytes with nothing buffered before them go straight to the body.
    if (phase_ == Phase::Length || phase_ == Phase::ChunkData || phase_ == Phase::ToClose) {
      std::size_t take = size;
      if (phase_ != Phase::ToClose) take = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size));
      if (!AddToBody(data, take)) return;
      if (phase_ != Phase::ToClose) remaining_ -= take;
      data += take;
      size -= take;
    }
  } else if (pos_ > (64u << 10) && pos_ > buffer_.size() / 2) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  buffer_.append(data, size);
}

AnswerParser::Status AnswerParser::Fail(std::string_view message) {
  phase_ = Phase::Failed;
  error_ = std::string(message);
  return Status::Failed;
}

bool AnswerParser::TakeLine(std::string_view& line) {
  const std::size_t newline = buffer_.find('\n', pos_);
  if (newline == std::string::npos) {
    // No line end yet: a pending line already past the limit can only fail
    // (one byte of slack for a CR that may precede the LF).
    const std::size_t pending = buffer_.size() - pos_;
    if (pending > limits_.maxLine + 1 || (pending == limits_.maxLine + 1 && buffer_.back() != '\r')) {
      Fail(kMaxLineExceeded);
    }
    return false;
  }
  std::size_t length = newline - pos_;
  if (length > 0 && buffer_[newline - 1] == '\r') --length;
  if (length > limits_.maxLine) {
    Fail(kMaxLineExceeded);
    return false;
  }
  line = std::string_view(buffer_).substr(pos_, length);
  pos_ = newline + 1;
  return true;
}

AnswerParser::Status AnswerParser::Step() {
  switch (phase_) {
    case Phase::StatusLine:
    case Phase::HeaderLines: return StepHead();
    case Phase::HeadDone: return Status::HeadDone;
    case Phase::Done: return Status::BodyDone;
    case Phase::Failed: return Status::Failed;
    default: return StepBody();
  }
}

AnswerParser::Status AnswerParser::StepHead() {
  for (;;) {
    std::string_view line;
    if (!TakeLine(line)) {
      if (phase_ == Phase::Failed) return Status::Failed;
      if (!closed_) return Status::NeedMore;
      // The peer closed within the head; an unfinished line is dropped.
      if (phase_ == Phase::StatusLine || head_.statusCode == 100) return Fail(kClosedGracefully);
      head_.closedInHead = true;
      FinishHead();
      return Status::HeadDone;
    }
    headBytes_ += line.size() + 1;
    if (headBytes_ > limits_.maxHeadBytes) return Fail(kHeadTooLarge);
    if (phase_ == Phase::StatusLine) {
      head_.statusLine = std::string(line);
      head_.statusCode = ParseStatusCode(line);
      phase_ = Phase::HeaderLines;
      continue;
    }
    if (line.empty()) {
      if (head_.statusCode == 100) {
        // An interim answer: skip it and read the real one.
        if (++interimHeads_ > limits_.maxInterimHeads) return Fail(kTooManyInterimHeads);
        head_ = AnswerHead{};
        headBytes_ = 0;
        phase_ = Phase::StatusLine;
        continue;
      }
      FinishHead();
      return Status::HeadDone;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !head_.lines.empty()) {
      std::string& previous = head_.lines.back();
      previous += ' ';
      previous += TrimBlanks(line);
    } else {
      head_.lines.emplace_back(line);
    }
  }
}

void AnswerParser::FinishHead() {
  phase_ = Phase::HeadDone;
  head_.location = head_.Value("Location");
  head_.connection = head_.Value("Connection");
  head_.proxyConnection = head_.Value("Proxy-Connection");
  head_.transferEncoding = head_.Value("Transfer-Encoding");
  const std::string length = head_.Value("Content-Length");
  head_.contentLength = length.empty() ? -1 : ParseLength(length);
  head_.hasContentLength = head_.contentLength >= 0;
}

void AnswerParser::BeginBody(std::string* sink) {
  sink_ = sink;
  bodyBytes_ = 0;
  if (head_.contentLength > 0) {
    if (static_cast<std::uint64_t>(head_.contentLength) > limits_.maxBody) {
      Fail(BodyTooLargeMessage(limits_.maxBody));
      return;
    }
    remaining_ = static_cast<std::uint64_t>(head_.contentLength);
    phase_ = Phase::Length;
  } else if (Lower(head_.transferEncoding).find("chunked") != std::string::npos) {
    phase_ = Phase::ChunkSize;
  } else if (!head_.hasContentLength) {
    phase_ = Phase::ToClose;
  } else {
    phase_ = Phase::Done;
  }
}

void AnswerParser::SkipBody() { phase_ = Phase::Done; }

bool AnswerParser::AddToBody(const char* data, std::size_t size) {
  if (size > limits_.maxBody - bodyBytes_) {
    // The body keeps what fits; the answer fails.
    if (sink_ != nullptr) sink_->append(data, static_cast<std::size_t>(limits_.maxBody - bodyBytes_));
    bodyBytes_ = limits_.maxBody;
    Fail(BodyTooLargeMessage(limits_.maxBody));
    return false;
  }
  bodyBytes_ += size;
  if (sink_ != nullptr) sink_->append(data, size);
  return true;
}

std::size_t AnswerParser::TakeBody(std::size_t max) {
  const std::size_t take = std::min(max, buffer_.size() - pos_);
  if (take == 0 || !AddToBody(buffer_.data() + pos_, take)) return 0;
  pos_ += take;
  return take;
}

AnswerParser::Status AnswerParser::StepBody() {
  for (;;) {
    std::string_view line;
    switch (phase_) {
      case Phase::Length: {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining_, std::numeric_limits<std::size_t>::max()));
        remaining_ -= TakeBody(want);
        if (phase_ == Phase::Failed) return Status::Failed;
        // A peer that closes before the announced length has sent the body.
        if (remaining_ == 0 || (closed_ && !HasBuffered())) {
          phase_ = Phase::Done;
          return Status::BodyDone;
        }
        return Status::NeedMore;
      }
      case Phase::ChunkSize: {
        if (!TakeLine(line)) {
          if (phase_ == Phase::Failed) return Status::Failed;
          return closed_ ? Fail(kClosedGracefully) : Status::NeedMore;
        }
        std::uint64_t size = 0;
        if (!ParseChunkSize(line, size)) return Fail(kBadChunkSize);
        if (size > limits_.maxBody - bodyBytes_) return Fail(BodyTooLargeMessage(limits_.maxBody));
        remaining_ = size;
        phase_ = size > 0 ? Phase::ChunkData : Phase::Trailer;
        continue;
      }
      case Phase::ChunkData: {
        remaining_ -= TakeBody(static_cast<std::size_t>(remaining_));
        if (phase_ == Phase::Failed) return Status::Failed;
        if (remaining_ == 0) {
          phase_ = Phase::ChunkEnd;
          continue;
        }
        return closed_ && !HasBuffered() ? Fail(kClosedGracefully) : Status::NeedMore;
      }
      case Phase::ChunkEnd: {
        if (!TakeLine(line)) {
          if (phase_ == Phase::Failed) return Status::Failed;
          return closed_ ? Fail(kClosedGracefully) : Status::NeedMore;
        }
        phase_ = Phase::ChunkSize;
        continue;
      }
      case Phase::Trailer: {
        // The line after the last chunk; a close here ends the body as well.
        if (!TakeLine(line)) {
          if (phase_ == Phase::Failed) return Status::Failed;
          if (!closed_) return Status::NeedMore;
        }
        phase_ = Phase::Done;
        return Status::BodyDone;
      }
      case Phase::ToClose: {
        TakeBody(buffer_.size() - pos_);
        if (phase_ == Phase::Failed) return Status::Failed;
        if (closed_) {
          phase_ = Phase::Done;
          return Status::BodyDone;
        }
        return Status::NeedMore;
      }
      case Phase::Done: return Status::BodyDone;
      case Phase::Failed: return Status::Failed;
      default: return Status::NeedMore;
    }
  }
}

}  // namespace ravelto::service

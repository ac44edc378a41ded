#pragma once
// ReplayStream: a Stream that plays back canned answer bytes without a
// socket, handing them out in pieces of a fixed size. When the bytes run out
// it reports the peer's close, or a time-out when told to hold the
// connection open. What the client writes is kept for inspection.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "service/stream.h"

namespace ravelto::service {

class ReplayStream final : public Stream {
 public:
  ReplayStream(std::string_view answer, std::size_t pieceSize, bool holdOpen = false)
      : answer_(answer), pieceSize_(std::max<std::size_t>(1, pieceSize)), holdOpen_(holdOpen) {}

  ReadResult Read(char* buffer, std::size_t capacity, std::chrono::milliseconds) override {
    if (at_ == answer_.size()) {
      return {holdOpen_ ? ReadStatus::TimedOut : ReadStatus::Closed, 0, 0};
    }
    const std::size_t n = std::min({capacity, pieceSize_, answer_.size() - at_});
    std::memcpy(buffer, answer_.data() + at_, n);
    at_ += n;
    return {ReadStatus::Data, n, 0};
  }

  int Write(std::string_view bytes) override {
    written_.append(bytes);
    return 0;
  }

  const std::string& Written() const { return written_; }

 private:
  std::string answer_;
  std::size_t at_ = 0;
  std::size_t pieceSize_;
  bool holdOpen_;
  std::string written_;
};

}  // namespace ravelto::service

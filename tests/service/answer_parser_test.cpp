// The answer parser on bytes alone: every answer gives the same result
// however its bytes are cut into pieces, and the head's values are read by
// their rules.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/answer_parser.h"

namespace ravelto::service {
namespace {

struct Outcome {
  std::string body;
  std::string error;  // empty: success
  int statusCode = 0;
  bool operator==(const Outcome&) const = default;
};

// Feeds the answer in the given pieces, then the close; reads the body of
// every answer whose head is complete.
Outcome Parse(const std::vector<std::string>& pieces, bool closeAtEnd) {
  AnswerParser parser;
  parser.StartAnswer();
  Outcome out;
  std::size_t next = 0;
  for (;;) {
    const AnswerParser::Status status = parser.Step();
    if (status == AnswerParser::Status::HeadDone) {
      out.statusCode = parser.Head().statusCode;
      parser.BeginBody(&out.body);
      continue;
    }
    if (status == AnswerParser::Status::BodyDone) return out;
    if (status == AnswerParser::Status::Failed) {
      out.error = parser.Error();
      return out;
    }
    if (next < pieces.size()) {
      parser.Feed(pieces[next].data(), pieces[next].size());
      ++next;
    } else if (closeAtEnd && !parser.PeerClosed()) {
      parser.FeedClose();
    } else {
      out.error = "need more";
      return out;
    }
  }
}

struct Case {
  const char* name;
  std::string answer;
  bool close;
  Outcome expected;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"Length", "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcEXTRA", false, {"abc", "", 200}},
      {"ShortLength", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", true, {"abc", "", 200}},
      {"BareLineFeeds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nhi", false, {"hi", "", 200}},
      {"Chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, CHUNKED\r\n\r\n3\r\nabc\r\n2 ext\r\nde\r\n0\r\n\r\n",
       false,
       {"abcde", "", 200}},
      {"ChunkedClosedEarly", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nab", true,
       {"ab", "Connection Closed Gracefully.", 200}},
      {"ChunkedCloseAfterLastChunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n", true,
       {"x", "", 200}},
      {"NotHexChunkSizeEndsBody", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;a\r\nabc\r\n", false,
       {"", "", 200}},
      {"ReadToClose", "HTTP/1.1 200 OK\r\n\r\nall of it", true, {"all of it", "", 200}},
      {"ZeroLength", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, {"", "", 200}},
      {"InterimSkipped", "HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 201 Made\r\nContent-Length: 1\r\n\r\nz",
       false,
       {"z", "", 201}},
      {"ClosedBeforeStatus", "HTTP/1.1 20", true, {"", "Connection Closed Gracefully.", 0}},
      {"ClosedWithinInterim", "HTTP/1.1 100 Continue\r\n", true, {"", "Connection Closed Gracefully.", 0}},
      {"OverlongLine", "HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'a'), false,
       {"", "Max line length exceeded.", 0}},
      {"OverflowingChunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7FFFFFFFFFFFFFFFF\r\n", false,
       {"", "Chunk size out of range.", 200}},
      {"ChunkPastBodyCap", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n10000000\r\n", false,
       {"ab", "Answer body larger than 268435456 bytes.", 200}},
  };
  return cases;
}

TEST(AnswerParser, SameResultAtEveryCut) {
  for (const Case& c : Cases()) {
    const Outcome whole = Parse({c.answer}, c.close);
    EXPECT_EQ(whole, c.expected) << c.name << ": body '" << whole.body << "' error '" << whole.error << "'";
    for (std::size_t cut = 1; cut < c.answer.size(); ++cut) {
      const Outcome split = Parse({c.answer.substr(0, cut), c.answer.substr(cut)}, c.close);
      ASSERT_EQ(split, whole) << c.name << " cut at " << cut;
    }
    std::vector<std::string> bytes;
    for (char ch : c.answer) bytes.emplace_back(1, ch);
    EXPECT_EQ(Parse(bytes, c.close), whole) << c.name << " byte by byte";
  }
}

TEST(AnswerParser, StatusCodeIsTheTextBetweenTheFirstTwoSpaces) {
  const std::vector<std::pair<std::string, int>> lines = {
      {"HTTP/1.1 200 OK", 200}, {"HTTP/1.1 404", 404},        {"HTTP/1.1 OK", -1},
      {"HTTP/1.1", -1},         {"HTTP/1.1  200 OK", -1},     {"HTTP/1.1 2x0 OK", -1},
      {"HTTP/1.0 99999999999 Big", -1}, {"HTTP/1.1 -5 Odd", -5}};
  for (const auto& [line, code] : lines) {
    AnswerParser parser;
    parser.StartAnswer();
    const std::string answer = line + "\r\n\r\n";
    parser.Feed(answer.data(), answer.size());
    ASSERT_EQ(parser.Step(), AnswerParser::Status::HeadDone) << line;
    EXPECT_EQ(parser.Head().statusCode, code) << line;
    EXPECT_EQ(parser.Head().statusLine, line);
  }
}

TEST(AnswerParser, HeaderValuesFirstWinsTrimmedFoldedAnyCase) {
  const std::string answer =
      "HTTP/1.1 200 OK\r\n"
      "content-LENGTH:   12  \r\n"
      "Content-Length: 99\r\n"
      "X-Folded: one\r\n"
      " \t two  \r\n"
      "\tthree\r\n"
      "Location:\r\n"
      "Connection : close\r\n"
      "Proxy-Connection: Keep-Alive\r\n"
      "\r\n";
  AnswerParser parser;
  parser.StartAnswer();
  parser.Feed(answer.data(), answer.size());
  ASSERT_EQ(parser.Step(), AnswerParser::Status::HeadDone);
  const AnswerHead& head = parser.Head();
  EXPECT_EQ(head.contentLength, 12);
  EXPECT_TRUE(head.hasContentLength);
  EXPECT_EQ(head.Value("x-folded"), "one two three");
  EXPECT_EQ(head.lines.size(), 6u);
  EXPECT_EQ(head.location, "");
  // "Connection " (with the blank) is another name: the connection may stay.
  EXPECT_EQ(head.connection, "");
  EXPECT_TRUE(head.AllowsKeepAlive());
}

TEST(AnswerParser, ContentLengthValues) {
  const std::vector<std::tuple<std::string, std::int64_t, bool, bool>> cases = {
      // value, contentLength, hasContentLength, announces a body
      {"0", 0, true, false},     {"17", 17, true, true},  {"-1", -1, false, true},
      {"abc", -1, false, true},  {"12a", -1, false, true}, {"99999999999", 99999999999, true, true},
      {"99999999999999999999", -1, false, true}};
  for (const auto& [value, length, given, announces] : cases) {
    AnswerParser parser;
    parser.StartAnswer();
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + value + "\r\n\r\n";
    parser.Feed(answer.data(), answer.size());
    ASSERT_EQ(parser.Step(), AnswerParser::Status::HeadDone);
    EXPECT_EQ(parser.Head().contentLength, length) << value;
    EXPECT_EQ(parser.Head().hasContentLength, given) << value;
    EXPECT_EQ(parser.Head().AnnouncesBody(), announces) << value;
  }
}

TEST(AnswerParser, LineLimitCountsNoLineEnd) {
  for (const char* end : {"\r\n", "\n"}) {
    for (std::size_t length : {std::size_t{16384}, std::size_t{16385}}) {
      AnswerParser parser;
      parser.StartAnswer();
      const std::string answer = "HTTP/1.1 200 OK\r\nX:" + std::string(length - 2, 'a') + end + "\r\n";
      parser.Feed(answer.data(), answer.size());
      const AnswerParser::Status status = parser.Step();
      if (length == 16384) {
        EXPECT_EQ(status, AnswerParser::Status::HeadDone);
      } else {
        EXPECT_EQ(status, AnswerParser::Status::Failed);
        EXPECT_EQ(parser.Error(), "Max line length exceeded.");
      }
    }
  }
}

TEST(AnswerParser, BytesAfterAnAnswerStayForTheNext) {
  const std::string two =
      "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nA"
      "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nB";
  AnswerParser parser;
  parser.Feed(two.data(), two.size());
  for (const char* expected : {"A", "B"}) {
    parser.StartAnswer();
    ASSERT_EQ(parser.Step(), AnswerParser::Status::HeadDone);
    std::string body;
    parser.BeginBody(&body);
    ASSERT_EQ(parser.Step(), AnswerParser::Status::BodyDone);
    EXPECT_EQ(body, expected);
  }
  EXPECT_FALSE(parser.HasBuffered());
}

TEST(AnswerParser, HeadSizeAndInterimCountAreBounded) {
  AnswerParser parser;
  parser.StartAnswer();
  std::string answer = "HTTP/1.1 200 OK\r\n";
  while (answer.size() < (1u << 20) + (64u << 10)) answer += "X-Filler: " + std::string(100, 'f') + "\r\n";
  parser.Feed(answer.data(), answer.size());
  EXPECT_EQ(parser.Step(), AnswerParser::Status::Failed);
  EXPECT_EQ(parser.Error(), "Answer head too large.");

  AnswerLimits limits;
  limits.maxInterimHeads = 2;
  AnswerParser interim(limits);
  interim.StartAnswer();
  const std::string three = "HTTP/1.1 100 A\r\n\r\nHTTP/1.1 100 B\r\n\r\nHTTP/1.1 100 C\r\n\r\n";
  interim.Feed(three.data(), three.size());
  EXPECT_EQ(interim.Step(), AnswerParser::Status::Failed);
  EXPECT_EQ(interim.Error(), "Too many interim (100) answers.");
}

}  // namespace
}  // namespace ravelto::service

// fuzz_http_answer: arbitrary bytes as a server's answer, played to the
// client through ReplayStream (no socket). The first byte chooses how the
// bytes are cut into receives and whether the server then closes or stays
// silent; two exchanges run so that connection reuse is exercised too.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "service/http_client.h"
#include "service/http_get.h"
#include "service/replay_stream.h"

int FuzzHttpAnswer(const std::uint8_t* data, std::size_t size) {
  using namespace ravelto::service;
  if (size == 0) return 0;
  const std::size_t piece = (data[0] & 0x3F) + 1;
  const bool holdOpen = (data[0] & 0x80) != 0;
  const std::string_view answer(reinterpret_cast<const char*>(data + 1), size - 1);
  Client client(Timeouts{}, [&](const std::string&, int, std::chrono::milliseconds) {
    return std::make_unique<ReplayStream>(answer, piece, holdOpen);
  });
  AnswerLimits limits;
  limits.maxBody = 1 << 20;  // keeps memory small while still reaching the cap
  client.SetLimits(limits);
  HttpGet(client, "http://desk.example/medic/home/list.php?id=1");
  HttpGet(client, "http://desk.example/medic/home/list.php?id=2");
  return 0;
}

#ifndef RAVELTO_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzHttpAnswer(data, size);
}
#endif

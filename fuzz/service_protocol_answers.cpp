// fuzz_protocol_answers: arbitrary bytes as the list and item answers, and
// through the field splitter with the first byte as the separator.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/protocol.h"

int FuzzProtocolAnswers(const std::uint8_t* data, std::size_t size) {
  using namespace ravelto::service;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const ListAnswer list = ReadListAnswer(body);
  if (list.newIds.size() + list.processedIds.size() > body.size()) __builtin_trap();
  const Fields item = ReadItemAnswer(body);
  std::size_t total = 0;
  for (const std::string& field : item) total += field.size();
  if (total > body.size()) __builtin_trap();
  if (size > 0) {
    std::string text(body.substr(1));
    SplitFields(text, static_cast<char>(data[0]));
  }
  return 0;
}

#ifndef RAVELTO_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzProtocolAnswers(data, size);
}
#endif

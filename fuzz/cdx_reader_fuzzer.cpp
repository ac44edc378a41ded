#include <cstddef>
#include <cstdint>

namespace ravelto::registry {
int FuzzCdxReader(const uint8_t* data, std::size_t size);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  return ravelto::registry::FuzzCdxReader(data, size);
}

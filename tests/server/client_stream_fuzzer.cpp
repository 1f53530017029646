// libFuzzer entry: random client byte streams through the frame cutter and the dispatcher.
#include <cstddef>
#include <cstdint>

#include "tests/server/client_stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ecr::testing_support::FuzzClientStream(data, size);
  return 0;
}

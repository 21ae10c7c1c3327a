// Feeds the frame assembler arbitrary chunk sequences: one input byte gives the next chunk's length.
// Every dispatched frame must carry at most 100 payload bytes and must stand, with a checksum that
// matches its bytes, in what was received.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "link/framecodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dovu::Bytes received;
  dovu::FrameAssembler a;
  a.setHandler([&received](std::uint8_t code, const dovu::Bytes& payload) {
    if (payload.size() > dovu::kMaxRxPayload) std::abort();
    const dovu::Bytes frame = dovu::buildFrame(code, payload, dovu::kControllerStart);
    if (received.find(frame) == dovu::Bytes::npos) std::abort();
  });
  std::size_t i = 0;
  while (i < size) {
    const std::size_t n = std::min<std::size_t>(data[i] * 4u + 1u, size - i - 1);
    ++i;
    const dovu::Bytes chunk(reinterpret_cast<const char*>(data + i), n);
    received += chunk;
    a.feed(chunk);
    i += n;
  }
  return 0;
}

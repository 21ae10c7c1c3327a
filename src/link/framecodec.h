#pragma once
// Frames spoken with the controller: start byte, command code, payload length, payload and an
// 8-bit additive checksum of everything before it.  The PC starts its frames with 0x54 ("T"),
// the controller with 0x74 ("t").
#include <cstdint>
#include <functional>

#include "base/bytes.h"

namespace dovu {

constexpr std::uint8_t kPcStart = 0x54;
constexpr std::uint8_t kControllerStart = 0x74;
// Frames from the controller never carry more; a larger length byte is line noise.
constexpr std::size_t kMaxRxPayload = 100;

// Sum of all bytes modulo 256.
std::uint8_t additiveChecksum(const Bytes& b);

// Builds a whole frame. The length byte is the payload length modulo 256, as the controller reads it.
Bytes buildFrame(std::uint8_t code, const Bytes& payload, std::uint8_t start = kPcStart);

// Collects received bytes and finds one frame per buffer.
//
// The first 0x74 in the buffer is taken as the start.  A length byte over 100 drops the whole
// buffer, a bad checksum drops the buffer too (the search does not resume at a later 0x74 of the
// same bytes), and whatever follows a good frame in the same buffer is discarded with it.  The
// session's time-out and repetition is the only recovery from a lost frame.
//
// Positions are ordinary sizes, so a chunk of any length is searched without reading or writing
// outside the buffer.
class FrameAssembler {
 public:
  using Handler = std::function<void(std::uint8_t code, const Bytes& payload)>;

  explicit FrameAssembler(std::uint8_t start = kControllerStart, std::size_t maxPayload = kMaxRxPayload)
      : start_(start), maxPayload_(maxPayload) {}

  // Called for every good frame, before feed() returns; the buffer is emptied after it returns.
  void setHandler(Handler h) { handler_ = std::move(h); }

  // Appends a chunk and assembles.  Returns true when a good frame was dispatched.
  bool feed(const Bytes& chunk);

  void reset();
  const Bytes& buffer() const { return buffer_; }
  bool startFound() const { return startFound_; }

 private:
  bool assemble();

  std::uint8_t start_;
  std::size_t maxPayload_;
  Handler handler_;
  Bytes buffer_;
  bool startFound_ = false;
  std::size_t startPos_ = 0;  // 0-based index of the start byte while startFound_
};

}  // namespace dovu

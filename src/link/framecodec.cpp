#include "link/framecodec.h"

namespace dovu {

std::uint8_t additiveChecksum(const Bytes& b) {
  std::uint8_t sum = 0;
  for (char c : b) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
  return sum;
}

Bytes buildFrame(std::uint8_t code, const Bytes& payload, std::uint8_t start) {
  Bytes f;
  f.reserve(payload.size() + 4);
  f.push_back(static_cast<char>(start));
  f.push_back(static_cast<char>(code));
  f.push_back(static_cast<char>(payload.size() & 0xFF));
  f += payload;
  f.push_back(static_cast<char>(additiveChecksum(f)));
  return f;
}

void FrameAssembler::reset() {
  buffer_.clear();
  startFound_ = false;
  startPos_ = 0;
}

bool FrameAssembler::feed(const Bytes& chunk) {
  buffer_ += chunk;
  return assemble();
}

bool FrameAssembler::assemble() {
  const std::size_t len = buffer_.size();
  if (!startFound_) {
    const auto pos = buffer_.find(static_cast<char>(start_));
    if (pos == Bytes::npos) {
      buffer_.clear();  // bytes without a start byte are thrown away
      return false;
    }
    startPos_ = pos;
    startFound_ = true;
  }
  // Command and length bytes must both be there.
  if (len < startPos_ + 3) return false;
  const std::size_t n = byteAt(buffer_, startPos_ + 2);
  if (n > maxPayload_) {
    reset();
    return false;
  }
  const std::size_t checkPos = startPos_ + 3 + n;
  if (len <= checkPos) return false;
  const Bytes framed = buffer_.substr(startPos_, 3 + n);
  if (additiveChecksum(framed) != byteAt(buffer_, checkPos)) {
    reset();
    return false;
  }
  const std::uint8_t code = byteAt(buffer_, startPos_ + 1);
  const Bytes payload = buffer_.substr(startPos_ + 3, n);
  // The buffer still holds the frame while the handler runs; the frame and anything after it
  // are discarded afterwards.
  if (handler_) handler_(code, payload);
  reset();
  return true;
}

}  // namespace dovu

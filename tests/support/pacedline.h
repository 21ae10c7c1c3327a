#pragma once
// A serial device whose writes take the bytes' time on a real line.  A pseudo-terminal passes the
// bytes on at once and its output queue is always empty, so a write through it never waits for
// the line as a USB adapter's does.  This stand-in lets the bytes in and then waits, as the
// driver's drain would, until they would have left a UART at the line's speed (10 bits a byte).
// Header-only and free of Qt: the tests and the benchmarks share it.
#include <chrono>
#include <thread>

#include "link/serialdevice.h"

namespace dovu::test {

class PacedLineDevice : public SerialDevice {
 public:
  explicit PacedLineDevice(int bitsPerSecond = 4800) : bitsPerSecond_(bitsPerSecond) {}

  int write(const Bytes& data, const Timeouts& timeouts) override {
    const auto start = std::chrono::steady_clock::now();
    const int n = SerialDevice::write(data, timeouts);
    std::this_thread::sleep_until(start + std::chrono::microseconds(static_cast<long long>(n) * 10'000'000LL /
                                                                     bitsPerSecond_));
    return n;
  }

 private:
  int bitsPerSecond_;
};

}  // namespace dovu::test

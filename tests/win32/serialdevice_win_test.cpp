// The Win32 serial layer against the simulated controller, run under wine: scripts/wine-test.sh
// maps COM ports to the simulators' pseudo-terminals and names them in the environment:
//   DOVU_TEST_COM          a healthy controller
//   DOVU_TEST_COM_UNPLUG   a controller that hangs up after a few answers
//   DOVU_TEST_COM_STALLED  a controller that has stopped reading the line
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>

#include "link/comports.h"
#include "link/framecodec.h"
#include "link/serialdevice.h"

using namespace dovu;
using namespace std::chrono_literals;

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

LineSettings controllerLine() {
  LineSettings s;
  s.baudRate = 4800;
  return s;
}

// CPU time of this process in milliseconds.
double processCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

// Ends every wait of the device after a time limit, so that a missed line event fails a test
// instead of hanging it.
class Watchdog {
 public:
  Watchdog(SerialDevice& dev, DWORD ms) {
    ::CreateTimerQueueTimer(&timer_, nullptr, &Watchdog::fire, &dev, ms, 0, WT_EXECUTEONLYONCE);
  }
  ~Watchdog() { ::DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE); }

 private:
  static void CALLBACK fire(void* dev, BOOLEAN) { static_cast<SerialDevice*>(dev)->stopWaiting(); }
  HANDLE timer_ = nullptr;
};

// Requests and answers through the device and the frame codec.  The test's thread waits for the
// line events itself and reads after each, as SerialPort's owner does inside a hand-over.
class Exchange {
 public:
  explicit Exchange(SerialDevice& dev) : dev_(dev) {
    rx_.setHandler([this](std::uint8_t code, const Bytes& payload) { frames_.push_back({code, payload}); });
  }

  struct Frame {
    std::uint8_t code;
    Bytes payload;
  };

  // Writes one request and waits for the answer with its code; nullopt without one (the line was
  // lost, or the watchdog ended the wait).
  std::optional<Frame> request(std::uint8_t code, const Bytes& payload) {
    frames_.clear();
    dev_.write(buildFrame(code, payload), Timeouts{});
    for (;;) {
      const auto e = dev_.waitForInput();
      if (e.what != SerialDevice::Wait::Input) {
        ++(e.what == SerialDevice::Wait::Lost ? lost : stopped);
        return std::nullopt;
      }
      try {
        Bytes chunk;
        dev_.read(chunk, dev_.inputCount());
        rx_.feed(chunk);
      } catch (const SerialPortError&) {
        ++lost;
        return std::nullopt;
      }
      for (const Frame& f : frames_)
        if (f.code == code) return f;
    }
  }

  int lost = 0;
  int stopped = 0;

 private:
  SerialDevice& dev_;
  FrameAssembler rx_;
  std::vector<Frame> frames_;
};

class Win32Serial : public ::testing::Test {
 protected:
  void SetUp() override {
    port = env("DOVU_TEST_COM");
    if (port.empty()) GTEST_SKIP() << "DOVU_TEST_COM is not set (run through scripts/wine-test.sh)";
  }
  std::string port;
};

TEST_F(Win32Serial, OpensAt4800WithoutFlowControlThenLogsInAndReadsEveryParameter) {
  SerialDevice dev;
  dev.open(port, controllerLine());
  ASSERT_TRUE(dev.isOpen());

  // A line without modem lines takes DTR and RTS as done.
  EXPECT_NO_THROW(dev.setModemLine(SerialDevice::Line::Dtr, true));
  EXPECT_NO_THROW(dev.setModemLine(SerialDevice::Line::Rts, true));

  Watchdog watchdog(dev, 30000);
  Exchange x(dev);
  const auto login = x.request(1, "8617");
  ASSERT_TRUE(login);
  ASSERT_FALSE(login->payload.empty());
  EXPECT_EQ(login->payload[0], 'T');

  int answered = 0;
  for (int code = 4; code <= 104; code += 2) {
    const auto answer = x.request(static_cast<std::uint8_t>(code), "T");
    EXPECT_TRUE(answer) << "no answer to code " << code;
    answered += answer.has_value();
  }
  EXPECT_EQ(answered, 51);

  // Reads never wait: nothing more is queued.
  Bytes out = "junk";
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(dev.read(out, 100), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
  EXPECT_EQ(x.lost + x.stopped, 0);
  dev.close();
  EXPECT_FALSE(dev.isOpen());
}

TEST_F(Win32Serial, MissingPortIsErrorOneWithTheSystemsErrorAndStaysClosed) {
  SerialDevice dev;
  try {
    dev.open("COM42", controllerLine());
    FAIL() << "COM42 opened";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kErrOpen);
    EXPECT_EQ(e.systemError(), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
  }
  EXPECT_FALSE(dev.isOpen());
  EXPECT_NO_THROW(dev.close());
}

TEST_F(Win32Serial, CloseWhileTheEventThreadWaitsEndsAtOnceWithoutALateEvent) {
  SerialDevice dev;
  for (int round = 0; round < 3; ++round) {
    // A stop while the wait is pending on a quiet line.
    dev.open(port, controllerLine());
    auto waiting = std::async(std::launch::async, [&] { return dev.waitForInput(); });
    EXPECT_EQ(waiting.wait_for(300ms), std::future_status::timeout) << "an event on a quiet line";
    dev.stopWaiting();
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready) << "stopping the wait deadlocked";
    EXPECT_EQ(waiting.get().what, SerialDevice::Wait::Stopped);
    // Every later wait of this open period ends at once, and so does the close.
    EXPECT_EQ(dev.waitForInput().what, SerialDevice::Wait::Stopped);
    auto closing = std::async(std::launch::async, [&] { dev.close(); });
    ASSERT_EQ(closing.wait_for(5s), std::future_status::ready) << "closing hung";
    EXPECT_FALSE(dev.isOpen());
    // A stop asked before the wait starts ends it too.
    dev.open(port, controllerLine());
    dev.stopWaiting();
    EXPECT_EQ(dev.waitForInput().what, SerialDevice::Wait::Stopped);
    dev.close();
  }
}

TEST_F(Win32Serial, WriteThatCannotCompleteFailsAtItsTimeLimit) {
  const std::string stalled = env("DOVU_TEST_COM_STALLED");
  if (stalled.empty()) GTEST_SKIP() << "DOVU_TEST_COM_STALLED is not set";
  SerialDevice dev;
  dev.open(stalled, controllerLine());
  const auto t0 = std::chrono::steady_clock::now();
  try {
    dev.write(Bytes(200000, '\0'), Timeouts{0, 300});  // nobody reads the line
    FAIL() << "write completed";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kErrWrite);
    EXPECT_EQ(e.systemError(), ERROR_TIMEOUT);
  }
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 5s);
  // The port is still usable and closes at once.
  EXPECT_NO_THROW(dev.inputCount());
  dev.close();
}

TEST_F(Win32Serial, ControllerGoneMidExchangeIsReportedWithoutSpinning) {
  const std::string unplug = env("DOVU_TEST_COM_UNPLUG");
  if (unplug.empty()) GTEST_SKIP() << "DOVU_TEST_COM_UNPLUG is not set";
  SerialDevice dev;
  dev.open(unplug, controllerLine());
  Watchdog watchdog(dev, 20000);
  const double cpu0 = processCpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  Exchange x(dev);
  int answered = 0;
  bool writeFailed = false;
  for (int code = 4; code <= 104 && x.lost == 0 && x.stopped == 0; code += 2) {
    try {
      answered += x.request(static_cast<std::uint8_t>(code), "T").has_value();
    } catch (const SerialPortError& e) {
      EXPECT_EQ(e.code(), kErrWrite);
      writeFailed = true;
      break;
    }
  }
  EXPECT_LT(answered, 51);
  // The loss is seen by the wait (or by the next write), not by the watchdog.
  EXPECT_TRUE(x.lost == 1 || writeFailed) << "lost " << x.lost << ", stopped " << x.stopped;
  EXPECT_EQ(x.stopped, 0);
  // Once lost, a wait ends at once instead of reporting the dead line again and again.
  if (x.lost) {
    EXPECT_NE(dev.waitForInput().what, SerialDevice::Wait::Input);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 15s);
  EXPECT_LT(processCpuMs() - cpu0, 1000.0);
  dev.close();
}

TEST_F(Win32Serial, RegistryListShowsTheMappedPort) {
  const auto ports = listRegistryComPorts();
  ASSERT_TRUE(ports);
  bool found = false;
  for (const RegistryPort& p : *ports) {
    EXPECT_FALSE(p.device.empty()) << p.port;
    found = found || p.port == port;
  }
  EXPECT_TRUE(found) << port << " not in HARDWARE\\DEVICEMAP\\SERIALCOMM";
}

}  // namespace

// The Win32 serial layer against the simulated controller, run under wine: scripts/wine-test.sh
// maps COM ports to the simulators' pseudo-terminals and names them in the environment:
//   DOVU_TEST_COM          a healthy controller
//   DOVU_TEST_COM_UNPLUG   a controller that hangs up after a few answers
//   DOVU_TEST_COM_STALLED  a controller that has stopped reading the line
//   DOVU_TEST_COM_PULLED   a controller that has stopped reading and is pulled out once the file
//                          DOVU_TEST_PULL is created
//   DOVU_TEST_COM_PACED    a controller that keeps to 4800 bit/s (mapped as COM12), logging the
//                          frames it receives to the file DOVU_TEST_PACED_LOG
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// initguid.h makes devguid.h define the class GUIDs instead of only declaring them.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

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
  // A change of speed keeps them raised, which such a line takes as done as well.
  LineSettings faster = controllerLine();
  faster.baudRate = 9600;
  EXPECT_NO_THROW(dev.applyLineSettings(faster, false));
  EXPECT_NO_THROW(dev.applyLineSettings(controllerLine(), false));

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
    EXPECT_EQ(e.code(), kOpenFailed);
    EXPECT_EQ(e.systemError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(e.fault(), SerialFault::NotFound);
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
    const auto how = waiting.get();
    EXPECT_EQ(how.what, SerialDevice::Wait::Stopped) << "system error " << how.systemError;
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
    EXPECT_EQ(e.code(), kWriteFailed);
    EXPECT_EQ(e.systemError(), ERROR_TIMEOUT);
    EXPECT_EQ(e.fault(), SerialFault::WriteTimedOut);
  }
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 5s);
  // The port is still usable and closes at once: the bytes the controller never took are dropped.
  EXPECT_NO_THROW(dev.inputCount());
  const auto closing = std::chrono::steady_clock::now();
  dev.close();
  EXPECT_LT(std::chrono::steady_clock::now() - closing, 500ms);
}

// The event thread as SerialPort runs it: it waits, hands each arrival over to the owner and
// blocks until the owner has read, and ends at the first Lost or Stopped.  It measures its own CPU
// time over its whole run, quiet waits and the loss included.
class EventThread {
 public:
  explicit EventThread(SerialDevice& dev) : dev_(dev), arrived_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
                                            handled_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
                                            done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this] { run(); });
  }
  ~EventThread() {
    dev_.stopWaiting();
    ::SetEvent(handled_);
    thread_.join();
    ::CloseHandle(arrived_);
    ::CloseHandle(handled_);
    ::CloseHandle(done_);
  }

  // Owner: the next answer with this code, read after the event thread's hand-overs; false when
  // the thread has ended or nothing came within ms.
  bool awaitAnswer(std::uint8_t code, DWORD ms) {
    FrameAssembler rx;
    bool answered = false;
    rx.setHandler([&](std::uint8_t c, const Bytes&) { answered = answered || c == code; });
    const ULONGLONG deadline = ::GetTickCount64() + ms;
    while (!answered && !ended_) {
      const ULONGLONG now = ::GetTickCount64();
      if (now >= deadline || ::WaitForSingleObject(arrived_, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
        return false;
      if (!ended_) {
        Bytes chunk;
        dev_.read(chunk, dev_.inputCount());
        rx.feed(chunk);
      }
      ::SetEvent(handled_);
    }
    return answered;
  }
  // Owner: waits up to ms for the thread to end.
  bool ended(DWORD ms) { return ::WaitForSingleObject(done_, ms) == WAIT_OBJECT_0; }

  std::atomic<bool> ended_{false};
  SerialDevice::Wait how = SerialDevice::Wait::Input;
  double cpuMs = -1;

 private:
  void run() {
    for (;;) {
      const auto r = dev_.waitForInput();
      if (r.what != SerialDevice::Wait::Input) {
        how = r.what;
        break;
      }
      ::SetEvent(arrived_);
      ::WaitForSingleObject(handled_, INFINITE);
    }
    FILETIME created, exited, kernel, user;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
      return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    cpuMs = ms(kernel) + ms(user);
    ended_ = true;
    ::SetEvent(done_);
    ::SetEvent(arrived_);
  }

  SerialDevice& dev_;
  HANDLE arrived_;
  HANDLE handled_;
  HANDLE done_;
  std::thread thread_;
};

TEST_F(Win32Serial, AdapterPulledOutDuringAWriteIsALostDeviceNotATimeOut) {
  const std::string pulled = env("DOVU_TEST_COM_PULLED"), pull = env("DOVU_TEST_PULL");
  if (pulled.empty() || pull.empty()) GTEST_SKIP() << "DOVU_TEST_COM_PULLED or DOVU_TEST_PULL is not set";
  SerialDevice dev;
  dev.open(pulled, controllerLine());
  // The write waits for a controller that does not read; 200 ms into it the adapter is pulled out.
  std::thread puller([&] {
    ::Sleep(200);
    std::ofstream(pull) << "now\n";
  });
  const auto t0 = std::chrono::steady_clock::now();
  try {
    dev.write(Bytes(200000, '\0'), Timeouts{0, 10000});
    ADD_FAILURE() << "write completed";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kWriteFailed);
    EXPECT_EQ(e.systemError(), ERROR_DEVICE_NOT_CONNECTED) << e.what();
    EXPECT_EQ(e.fault(), SerialFault::DeviceLost);
  }
  puller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s) << "the write waited for its time limit";
  dev.close();
}

TEST_F(Win32Serial, ControllerGoneMidExchangeEndsTheWaitingEventThreadWithoutSpinning) {
  const std::string unplug = env("DOVU_TEST_COM_UNPLUG");
  if (unplug.empty()) GTEST_SKIP() << "DOVU_TEST_COM_UNPLUG is not set";
  SerialDevice dev;
  dev.open(unplug, controllerLine());
  Watchdog watchdog(dev, 20000);
  const double cpu0 = processCpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  int answered = 0;
  {
    EventThread events(dev);
    // The simulator hangs up once its fifth answer has been read.  Before each request the line
    // stays quiet for a while with the event thread waiting, and after the loss the owner leaves
    // the port open for as long again.
    for (int code = 4; code <= 20 && !events.ended_; code += 2) {
      ::Sleep(100);
      try {
        dev.write(buildFrame(static_cast<std::uint8_t>(code), "T"), Timeouts{});
      } catch (const SerialPortError& e) {
        EXPECT_EQ(e.code(), kWriteFailed);
        break;
      }
      answered += events.awaitAnswer(static_cast<std::uint8_t>(code), 5000);
    }
    EXPECT_EQ(answered, 5);
    // The waiting thread sees the loss by itself, not through the watchdog.
    ASSERT_TRUE(events.ended(3000)) << "the event thread still waits after the loss";
    EXPECT_EQ(events.how, SerialDevice::Wait::Lost);
    EXPECT_LT(events.cpuMs, 150.0) << "the event thread spun";
    ::Sleep(400);
  }
  // Once lost, a wait ends at once instead of reporting the dead line as input.
  EXPECT_NE(dev.waitForInput().what, SerialDevice::Wait::Input);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 15s);
  EXPECT_LT(processCpuMs() - cpu0, 600.0);
  dev.close();
}

// Frames with this code the paced simulator has logged as received.
int loggedFrames(const std::string& log, std::uint8_t code) {
  std::ifstream in(log);
  const std::string tag = "  code " + std::to_string(code);
  int n = 0;
  for (std::string line; std::getline(in, line);)
    n += line.find(" > ") != std::string::npos && line.size() >= tag.size() &&
         line.compare(line.size() - tag.size(), tag.size(), tag) == 0;
  return n;
}

TEST_F(Win32Serial, CloseRightAfterTheLastFrameOfAFlashLetsItReachTheController) {
  const std::string paced = env("DOVU_TEST_COM_PACED"), log = env("DOVU_TEST_PACED_LOG");
  if (paced.empty() || log.empty()) GTEST_SKIP() << "DOVU_TEST_COM_PACED or DOVU_TEST_PACED_LOG is not set";
  // dovu-cli flash writes the end frame "K" and closes the port at once.  A write is done once the
  // driver's queue is empty, but a USB adapter's own FIFO still holds the bytes for as long as
  // they take on the line: the line keeps its settings and nothing is purged until then.
  const Bytes end = buildFrame(102, "K");
  const auto onTheLine = std::chrono::microseconds(end.size() * 10 * 1000000 / 4800);
  constexpr int kRounds = 3;
  SerialDevice dev;
  for (int round = 0; round < kRounds; ++round) {
    dev.open(paced, controllerLine());
    EXPECT_EQ(dev.write(end, Timeouts{}), static_cast<int>(end.size()));
    const auto written = std::chrono::steady_clock::now();
    dev.close();
    const auto closed = std::chrono::steady_clock::now();
    EXPECT_GE(closed - written, onTheLine) << "the line was reset before the frame had left it";
    EXPECT_LT(closed - written, 1s);
  }
  // The simulator has received every frame whole.
  const ULONGLONG deadline = ::GetTickCount64() + 3000;
  while (loggedFrames(log, 102) < kRounds && ::GetTickCount64() < deadline) ::Sleep(20);
  EXPECT_EQ(loggedFrames(log, 102), kRounds);
}

TEST_F(Win32Serial, RegistryListShowsTheMappedPortsWithTheirFriendlyNames) {
  // A device of the Ports class for COM12, as an adapter's driver installs it, with a friendly name
  // outside ASCII.  Wine keeps such a device in its registry.
  const wchar_t kFriendly[] = L"Port szeregowy USB – łącze Żółw (COM12)";
  const char kFriendlyUtf8[] = "Port szeregowy USB \u2013 \u0142\u0105cze \u017b\u00f3\u0142w (COM12)";
  const HDEVINFO set = ::SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_PORTS, nullptr);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA info{};
  info.cbSize = sizeof info;
  bool made = ::SetupDiCreateDeviceInfoW(set, L"Ports", &GUID_DEVCLASS_PORTS, nullptr, nullptr, DICD_GENERATE_ID, &info) &&
              ::SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr) &&
              ::SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(kFriendly),
                                                  sizeof kFriendly);
  if (made) {
    const HKEY key = ::SetupDiCreateDevRegKeyW(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
    made = key != INVALID_HANDLE_VALUE &&
           ::RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"COM12"), sizeof L"COM12") ==
               ERROR_SUCCESS;
    if (key != INVALID_HANDLE_VALUE) ::RegCloseKey(key);
  }

  const auto ports = listRegistryComPorts();
  if (made) ::SetupDiRemoveDevice(set, &info);
  ::SetupDiDestroyDeviceInfoList(set);
  ASSERT_TRUE(ports);
  const RegistryPort* com12 = nullptr;
  bool healthy = false;
  for (const RegistryPort& p : *ports) {
    EXPECT_FALSE(p.device.empty()) << p.port;
    healthy = healthy || p.port == port;
    if (p.port == "COM12") com12 = &p;
  }
  EXPECT_TRUE(healthy) << port << " not in HARDWARE\\DEVICEMAP\\SERIALCOMM";
  ASSERT_TRUE(com12) << "COM12 not in HARDWARE\\DEVICEMAP\\SERIALCOMM";
  if (!made) GTEST_SKIP() << "wine made no device for the friendly name: error " << ::GetLastError();
  EXPECT_EQ(com12->friendlyName, kFriendlyUtf8);
}

}  // namespace

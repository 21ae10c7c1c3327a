// The serial port against a real pseudo-terminal: the test holds the master side, SerialPort opens
// the slave path like a serial device.
#include <gtest/gtest.h>

#include <optional>

#include <cstring>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <string>
#include <thread>

#include "link/framecodec.h"
#include "link/link.h"
#include "link/serialport.h"
#include "session/session.h"
#include "support/pacedline.h"
#include "support/pty.h"
#include "support/testapp.h"

using namespace dovu;
using dovu::test::Pty;
using dovu::test::waitFor;

namespace {

// CPU time the whole process has used, in milliseconds.
double processCpuMs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
}

// Runs the event loop for ms milliseconds, as the program's waits do; a timer ends it.
void runEventLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// How many of this process's descriptors are open on path.
int descriptorsOn(const QString& path) {
  int n = 0;
  const QFileInfoList fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::Files);
  for (const QFileInfo& fd : fds) n += fd.symLinkTarget() == path;
  return n;
}

// Sees the queued calls that hand notifications to the owner thread.  With onHandOver set, the
// first one runs that instead of (swallow) or before the hand-over itself.
class HandOverSpy : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() != QEvent::MetaCall || seen++ > 0 || !onHandOver) return false;
    onHandOver();
    return swallow;
  }
  int seen = 0;
  bool swallow = false;
  std::function<void()> onHandOver;
};

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dovu::test::app();
    ASSERT_TRUE(pty.ok());
    port.setBaudRate(4800);
    port.setPort(pty.slavePath());
  }

  Pty pty;
  SerialPort port;  // closed before the master goes
};

}  // namespace

TEST(SerialPortError, MessageCarriesTheSystemErrorWhenThereIsOne) {
  EXPECT_STREQ(SerialPortError(kOpenFailed, 2).what(), "Unable to open com port (Error: 2)");
  EXPECT_STREQ(SerialPortError(kNotOpen).what(), "Port Not Open");
  EXPECT_STREQ(SerialPortError::text(kConfigureFailed), "SetCommState function failed");
  EXPECT_STREQ(SerialPortError::text(kQueueStatusFailed), "ClearCommError function failed");
  EXPECT_EQ(SerialPortError(kWriteFailed, 5).systemError(), 5);
  EXPECT_EQ(SerialPortError(kWriteFailed).systemError(), -1);
}

TEST_F(SerialPortTest, OpenFailuresLeaveThePortClosed) {
  port.setPort(QStringLiteral("/dev/dovu-no-such-port"));
  try {
    port.open();
    FAIL() << "open succeeded";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kOpenFailed);
    EXPECT_EQ(e.systemError(), ENOENT);
    EXPECT_EQ(e.fault(), SerialFault::NotFound);
    EXPECT_TRUE(std::string(e.what()).ends_with(" (Error: 2)")) << e.what();
  }
  EXPECT_FALSE(port.isOpen());

  // Not a terminal.
  const int nullBefore = descriptorsOn(QStringLiteral("/dev/null"));
  port.setPort(QStringLiteral("/dev/null"));
  EXPECT_THROW(port.open(), SerialPortError);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(descriptorsOn(QStringLiteral("/dev/null")), nullBefore);

  // Line settings the terminal refuses: code 7, and the device is closed again.
  port.setPort(pty.slavePath());
  port.setBaudRate(12345);
  try {
    port.open();
    FAIL() << "open succeeded";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kConfigureFailed);
  }
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(descriptorsOn(pty.slavePath()), 0);

  // Transfers on a closed port.
  Bytes out;
  try {
    port.write("x");
    FAIL() << "write on a closed port";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kNotOpen);
  }
  EXPECT_THROW(port.read(out, 1), SerialPortError);

  port.setBaudRate(4800);
  port.open();
  EXPECT_TRUE(port.isOpen());
}

TEST_F(SerialPortTest, OpensRawExclusive4800WithoutFlowControlAndClosingRestoresTheLine) {
  // The line as someone left it: a canonical terminal at 9600 bit/s.
  termios before{};
  ASSERT_EQ(tcgetattr(pty.master(), &before), 0);
  before.c_lflag |= ICANON | ECHO;
  cfsetospeed(&before, B9600);
  cfsetispeed(&before, B9600);
  ASSERT_EQ(tcsetattr(pty.master(), TCSANOW, &before), 0);

  port.open();
  termios t{};
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);  // the master reports the slave's settings
  EXPECT_EQ(cfgetospeed(&t), speed_t(B4800));
  EXPECT_EQ(cfgetispeed(&t), speed_t(B4800));
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (CRTSCTS | PARENB | CSTOPB), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);

  // Exclusive: a second open fails with EBUSY, except for root, who may; then the flag shows.
  const QByteArray slave = pty.slavePath().toLocal8Bit();
  int again = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (again < 0) {
    EXPECT_EQ(errno, EBUSY);
  } else {
    int excl = 0;
    EXPECT_EQ(ioctl(again, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
  }

  // A pseudo-terminal has no modem lines: raising and lowering them counts as done.
  EXPECT_NO_THROW(port.setDtrLine(true));
  EXPECT_NO_THROW(port.setRtsLine(true));
  EXPECT_NO_THROW(port.setDtrLine(false));
  EXPECT_NO_THROW(port.setRtsLine(false));

  // A setter re-applies at once while open.
  port.setBaudRate(9600);
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));

  // The exclusive mark goes with the close, although another descriptor keeps the line open:
  // otherwise no ordinary user could open the port again.
  port.close();
  if (again < 0) again = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(again, 0) << std::strerror(errno);
  int excl = 1;
  EXPECT_EQ(ioctl(again, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0);
  ::close(again);

  // Closing gave the line back its own settings.
  ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
  EXPECT_EQ(t.c_oflag & OPOST, before.c_oflag & OPOST);
}

// One program on the line: a second opener is refused with "in use by another program", root
// included, and neither it nor its failed open takes the holder's exclusivity away.
TEST_F(SerialPortTest, ASecondProgramIsRefusedAndLeavesTheHolderExclusive) {
  port.open();
  const QByteArray slave = pty.slavePath().toLocal8Bit();
  auto marked = [&] {
    // Root may open an exclusive terminal; others see EBUSY, which says as much.
    const int fd = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == EBUSY;
    int excl = 0;
    ::ioctl(fd, TIOCGEXCL, &excl);
    ::close(fd);
    return excl == 1;
  };
  SerialPort second;
  second.setPort(pty.slavePath());
  try {
    second.open();
    ADD_FAILURE() << "the second open succeeded";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.systemError(), EBUSY);
    EXPECT_EQ(e.fault(), SerialFault::InUse);
    EXPECT_EQ(Session::portErrorCause(e), Cause::PortInUse);
  }
  EXPECT_FALSE(second.isOpen());
  EXPECT_TRUE(marked());
  ASSERT_TRUE(pty.write("ok"));
  EXPECT_TRUE(waitFor([&] { return port.waitingInputCount() == 2; }, 3000));

  // Once the holder is gone, the line is free again.
  port.close();
  EXPECT_FALSE(marked());
  EXPECT_NO_THROW(second.open());
  second.close();

  // A program that only marks the line exclusive (no lock): not joined, and its mark stays.
  const int other = ::open(slave.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
  if (::geteuid() == 0) {
    EXPECT_THROW(second.open(), SerialPortError);
    int excl = 0;
    EXPECT_EQ(::ioctl(other, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
  }
  ::ioctl(other, TIOCNXCL);
  ::close(other);
}

TEST_F(SerialPortTest, ReadTakesOnlyWhatWaitsAndWriteDeliversEverything) {
  std::vector<int> counts;
  port.onRxChar = [&](int n) { counts.push_back(n); };  // leaves the bytes queued
  port.open();
  ASSERT_TRUE(pty.write("12345"));
  ASSERT_TRUE(waitFor([&] { return !counts.empty(); }, 3000));
  EXPECT_EQ(port.waitingInputCount(), 5);

  Bytes out = "junk";
  QElapsedTimer clock;
  clock.start();
  EXPECT_EQ(port.read(out, 100), 5);
  EXPECT_EQ(out, "12345");
  EXPECT_EQ(port.read(out, 100), 0);
  EXPECT_TRUE(out.empty());
  EXPECT_LT(clock.elapsed(), 1000);  // never waits for more

  EXPECT_EQ(port.write(Bytes()), 0);
  const Bytes frame("\x54\x01\x04" "1234\x00", 8);
  EXPECT_EQ(port.write(frame), 8);
  EXPECT_EQ(pty.read(8, 3000), frame);

  // More than the terminal buffers at once: the write goes on as the reader drains it.
  Bytes big(50000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  std::string got;
  std::thread reader([&] { got = pty.read(big.size(), 10000); });
  EXPECT_EQ(port.write(big), static_cast<int>(big.size()));
  reader.join();
  EXPECT_EQ(got, big);
}

TEST_F(SerialPortTest, WriteThatCannotCompleteFailsAtItsTimeLimit) {
  port.setTimeouts({0, 200});
  port.open();
  QElapsedTimer clock;
  clock.start();
  try {
    port.write(Bytes(200000, 'x'));  // nobody reads the master
    FAIL() << "write completed";
  } catch (const SerialPortError& e) {
    EXPECT_EQ(e.code(), kWriteFailed);
    EXPECT_EQ(e.systemError(), ETIMEDOUT);
    EXPECT_EQ(e.fault(), SerialFault::WriteTimedOut);
  }
  EXPECT_GE(clock.elapsed(), 150);
  EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(SerialPortTest, NotificationsNeverOverlapAndCoverBytesFromDuringTheHandler) {
  const Bytes first(300, 'a'), second(500, 'b');
  bool inside = false, overlapped = false, shortRead = false;
  std::vector<int> counts;
  Bytes got;
  port.onRxChar = [&](int n) {
    overlapped |= inside;
    inside = true;
    counts.push_back(n);
    Bytes b;
    shortRead |= port.read(b, n) != n;
    got += b;
    if (counts.size() == 1) {
      pty.write(second);
      runEventLoop(150);  // the program's waits process messages inside handlers like this
    }
    inside = false;
  };
  port.open();
  ASSERT_TRUE(pty.write(first));
  ASSERT_TRUE(waitFor([&] { return got.size() >= first.size() + second.size(); }, 5000));
  EXPECT_FALSE(overlapped);
  EXPECT_FALSE(shortRead);  // each count was all there
  EXPECT_GE(counts.size(), 2u);
  EXPECT_EQ(got, first + second);
  EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), static_cast<int>(got.size()));
}

TEST_F(SerialPortTest, BytesLeftUnreadWaitForTheNextArrivalWithoutSpinning) {
  std::vector<int> counts;
  port.onRxChar = [&](int n) { counts.push_back(n); };
  port.open();
  ASSERT_TRUE(pty.write("abc"));
  ASSERT_TRUE(waitFor([&] { return !counts.empty(); }, 3000));
  const double cpu = processCpuMs();
  runEventLoop(300);
  EXPECT_LT(processCpuMs() - cpu, 100.0);
  EXPECT_LE(counts.size(), 2u);

  const std::size_t before = counts.size();
  ASSERT_TRUE(pty.write("d"));
  ASSERT_TRUE(waitFor([&] { return counts.size() > before; }, 3000));
  EXPECT_EQ(counts.back(), 4);  // the whole queue
}

TEST_F(SerialPortTest, SamePortNameKeepsTheDeviceAnotherReopens) {
  int notified = 0;
  port.onRxChar = [&](int) { ++notified; };
  port.open();
  ASSERT_TRUE(pty.write("xy"));
  ASSERT_TRUE(waitFor([&] { return notified > 0; }, 3000));
  ASSERT_EQ(port.waitingInputCount(), 2);
  port.setPort(pty.slavePath());
  EXPECT_EQ(port.waitingInputCount(), 2);  // a reopen would have dropped them

  Pty other;
  ASSERT_TRUE(other.ok());
  port.setPort(other.slavePath());
  EXPECT_TRUE(port.isOpen());
  EXPECT_EQ(port.port(), other.slavePath());
  EXPECT_EQ(descriptorsOn(pty.slavePath()), 0);
  EXPECT_EQ(port.write("z"), 1);
  EXPECT_EQ(other.read(1, 3000), "z");
  port.close();
}

TEST_F(SerialPortTest, CloseWhileDataStreamsInReturnsPromptly) {
  std::size_t received = 0;
  bool afterClose = false;
  port.onRxChar = [&](int n) {
    afterClose |= !port.isOpen();
    Bytes b;
    received += static_cast<std::size_t>(port.read(b, n));
  };
  port.open();
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    const std::string chunk(1024, 'q');
    while (!stop && pty.write(chunk)) {
    }
  });
  EXPECT_TRUE(waitFor([&] { return received >= 20000; }, 5000));
  QElapsedTimer clock;
  clock.start();
  port.close();
  EXPECT_LT(clock.elapsed(), 3000);
  stop = true;
  writer.join();  // the master's writes fail once the slave is closed
  const std::size_t atClose = received;
  QCoreApplication::processEvents();  // a hand-over queued before the close does nothing
  EXPECT_EQ(received, atClose);
  EXPECT_FALSE(afterClose);
}

TEST_F(SerialPortTest, CloseWhileAHandOverWaitsForTheOwnerDoesNotDeadlock) {
  // The owner closes just before it would run the hand-over: the event thread is blocked
  // waiting for it, and the queued call runs after the close.
  HandOverSpy spy;
  port.installEventFilter(&spy);
  int notified = 0;
  port.onRxChar = [&](int) { ++notified; };
  QElapsedTimer clock;
  spy.onHandOver = [&] {
    clock.start();
    port.close();
  };
  port.open();
  ASSERT_TRUE(pty.write("hello"));
  ASSERT_TRUE(waitFor([&] { return spy.seen > 0; }, 3000));
  EXPECT_LT(clock.elapsed(), 3000);
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(notified, 0);

  // And from inside a receive handler, with more bytes coming.
  port.open();
  port.onRxChar = [&](int) {
    ++notified;
    pty.write("more");
    port.close();
  };
  ASSERT_TRUE(pty.write("again"));
  ASSERT_TRUE(waitFor([&] { return notified > 0; }, 3000));
  EXPECT_FALSE(port.isOpen());
  runEventLoop(50);
  EXPECT_EQ(notified, 1);
}

TEST_F(SerialPortTest, DestroyingAnOpenPortWithAPendingHandOverWorks) {
  auto owned = std::make_unique<SerialPort>();
  HandOverSpy spy;
  spy.swallow = true;  // the owner never runs it
  spy.onHandOver = [] {};
  owned->installEventFilter(&spy);
  owned->setPort(pty.slavePath());
  owned->onRxChar = [](int) { ADD_FAILURE() << "hand-over ran"; };
  owned->open();
  ASSERT_TRUE(pty.write("pending"));
  ASSERT_TRUE(waitFor([&] { return spy.seen > 0; }, 3000));
  QElapsedTimer clock;
  clock.start();
  owned.reset();
  EXPECT_LT(clock.elapsed(), 3000);
  QCoreApplication::processEvents();
}

TEST_F(SerialPortTest, UnplugIsReportedOnceAndTheEventThreadStopsWaiting) {
  int lost = 0;
  QString reason;
  QObject::connect(&port, &SerialPort::deviceLost, [&](const QString& r) {
    ++lost;
    reason = r;
  });
  Bytes got;
  port.onRxChar = [&](int n) {
    Bytes b;
    port.read(b, n);
    got += b;
  };
  port.open();
  ASSERT_TRUE(pty.write("before"));
  ASSERT_TRUE(waitFor([&] { return got == "before"; }, 3000));

  pty.closeMaster();
  ASSERT_TRUE(waitFor([&] { return lost > 0; }, 3000));
  EXPECT_FALSE(reason.isEmpty());
  const double cpu = processCpuMs();
  runEventLoop(300);
  EXPECT_LT(processCpuMs() - cpu, 100.0);
  EXPECT_EQ(lost, 1);

  EXPECT_TRUE(port.isOpen());  // the owner decides when to close
  EXPECT_THROW(port.write("x"), SerialPortError);
  port.close();
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(lost, 1);
}

// The link over the port: a frame nobody asked for that was still unread when the request went
// out arrives in one read with the answer.  The assembler keeps one frame per buffer, so the
// answer must be assembled apart from the bytes that were waiting before it, and both are seen.
TEST_F(SerialPortTest, AnswerReadTogetherWithAFrameFromBeforeTheRequestIsNotLost) {
  Link link(&port);
  link.timer().setInterval(10);  // a lost answer fails after three short attempts
  std::vector<int> dispatched;
  QObject::connect(&link, &Link::frameTaken, [&](std::uint8_t code, const Bytes&) { dispatched.push_back(code); });
  port.open();

  // Noise and an unasked frame arrive while the owner leaves them unread (the pause before a
  // request); the edge-triggered notification does not come again for them.
  const auto bound = port.onRxChar;
  int notified = 0;
  port.onRxChar = [&](int) { ++notified; };
  const Bytes stale = Bytes("\x8E\xDC\x29", 3) + buildFrame(60, Bytes(), kControllerStart);
  ASSERT_TRUE(pty.write(stale));
  ASSERT_TRUE(waitFor([&] { return notified > 0; }, 3000));
  ASSERT_EQ(port.waitingInputCount(), static_cast<int>(stale.size()));
  port.onRxChar = bound;

  bool written = false;
  QObject::connect(&link, &Link::frameTraced, [&](bool out, const Bytes&) { written = written || out; });
  std::optional<Request::Outcome> outcome;
  Request request;
  request.code = 6;
  request.payload = "T";
  request.ticks = 5;
  request.done = [&](Request::Outcome o) { outcome = o; };
  link.send(std::move(request));
  ASSERT_TRUE(waitFor([&] { return written; }, 3000));
  ASSERT_EQ(pty.read(5, 3000), buildFrame(6, "T"));
  ASSERT_TRUE(pty.write(buildFrame(6, "+48601", kControllerStart)));
  ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }, 3000));
  EXPECT_EQ(outcome, Request::Outcome::Answered);
  EXPECT_EQ(link.rxPayload(), "+48601");
  EXPECT_EQ(dispatched, (std::vector<int>{60, 6}));
}

namespace {

// A device whose writer thread runs late: before the bytes go out, a frame the controller sent
// earlier has come in behind the owner's back (the master side writes it and it is waiting in
// the input queue), as when a busy machine lets the write run only after the owner queued it.
// The owner may read those bytes before the write goes on, so the device waits until they are
// either waiting or read (the port's count of bytes read is taken first: the sum can only fall
// short, never count a byte twice).
class LateWriterDevice : public SerialDevice {
 public:
  LateWriterDevice(int master, Bytes ahead) : master_(master), ahead_(std::move(ahead)) {}
  void setPort(const SerialPort* port) { port_ = port; }
  void takingUpWrite() override {
    if (ahead_.empty()) return;
    const Bytes ahead = std::exchange(ahead_, Bytes());
    const std::uint64_t before = port_->inputPosition();
    if (::write(master_, ahead.data(), ahead.size()) != static_cast<ssize_t>(ahead.size())) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < deadline) {
      const std::uint64_t read = port_->inputPosition() - before;
      if (read + static_cast<std::uint64_t>(std::max(inputCount(), 0)) >= ahead.size()) break;
      std::this_thread::yield();
    }
  }

 private:
  int master_;
  Bytes ahead_;
  const SerialPort* port_ = nullptr;
};

}  // namespace

// A frame of the awaited code that was on its way in before the request's bytes left is no
// answer, though the owner reads it only after it queued the write.
TEST(SerialPortLateWriter, AFrameWaitingWhenTheWriteBeganAnswersNothing) {
  dovu::test::app();
  Pty pty;
  ASSERT_TRUE(pty.ok());
  const Bytes stray = buildFrame(6, "+48999", kControllerStart);
  auto device = std::make_unique<LateWriterDevice>(pty.master(), stray);
  LateWriterDevice* late = device.get();
  SerialPort port(std::move(device));
  late->setPort(&port);
  port.setBaudRate(4800);
  port.setPort(pty.slavePath());
  port.open();
  Link link(&port);
  link.timer().stop();
  std::vector<Bytes> dropped;
  QObject::connect(&link, &Link::frameDropped, [&](std::uint8_t, const Bytes& payload) { dropped.push_back(payload); });
  std::optional<Request::Outcome> outcome;
  Request request;
  request.code = 6;
  request.payload = "T";
  request.done = [&](Request::Outcome o) { outcome = o; };
  link.send(std::move(request));
  ASSERT_TRUE(waitFor([&] { return !dropped.empty() || outcome.has_value(); }, 3000));
  ASSERT_EQ(pty.read(5, 3000), buildFrame(6, "T"));
  ASSERT_TRUE(pty.write(buildFrame(6, "+48601", kControllerStart)));
  ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }, 3000));
  EXPECT_EQ(outcome, Request::Outcome::Answered);
  EXPECT_EQ(link.rxPayload(), "+48601");
  EXPECT_EQ(dropped, std::vector<Bytes>{"+48999"});
  port.close();
}

namespace {

// The longest gap between two runs of a 10 ms timer while it lives: how long the event loop was
// kept from running.
class LoopGapProbe {
 public:
  LoopGapProbe() {
    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longest_ = std::max(longest_, clock_.restart());
    });
    timer_.start(10);
  }
  qint64 longestMs() const { return std::max(longest_, clock_.elapsed()); }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 longest_ = 0;
};

}  // namespace

// A firmware block on a 4800 bit/s line takes 277 ms to leave.  The event loop runs meanwhile, an
// answer that comes before the port has said the bytes left still answers, and the request's
// pause counts from when they left, not from when they were queued.
TEST(SerialPortPacedLine, LinkWritesWithoutBlockingTheEventLoop) {
  dovu::test::app();
  Pty pty;
  ASSERT_TRUE(pty.ok());
  SerialPort port(std::make_unique<dovu::test::PacedLineDevice>(4800));
  port.setBaudRate(4800);
  port.setPort(pty.slavePath());
  port.open();
  Link link(&port, nullptr);

  // The controller answers each request the moment its bytes arrive: on a pseudo-terminal, long
  // before they would have left a real line.
  const Bytes block(128, '\x5A');
  std::string seen;
  std::thread controller([&] {
    seen = pty.read(buildFrame(42, block).size(), 5000);
    pty.write(buildFrame(42, "ok", kControllerStart));
    seen += pty.read(buildFrame(43, block).size(), 5000);
  });
  std::vector<std::pair<Request::Outcome, qint64>> outcomes;
  QElapsedTimer clock;
  for (std::uint8_t code : {42, 43}) {
    Request r;
    r.code = code;
    r.payload = block;
    r.awaits = code == 42 ? Request::Awaits::Answer : Request::Awaits::Nothing;
    r.ticks = 3;
    r.repetitions = 0;
    r.pauseAfterMs = 0;
    r.done = [&](Request::Outcome o) { outcomes.emplace_back(o, clock.elapsed()); };
    link.send(std::move(r));
  }
  LoopGapProbe probe;
  clock.start();
  ASSERT_TRUE(waitFor([&] { return outcomes.size() == 2; }, 5000));
  controller.join();
  const qint64 lineMs = static_cast<qint64>(buildFrame(42, block).size()) * 10 * 1000 / 4800;  // 277
  EXPECT_LT(probe.longestMs(), 100) << "the event loop waited for the line";
  EXPECT_EQ(outcomes[0].first, Request::Outcome::Answered);
  EXPECT_EQ(outcomes[1].first, Request::Outcome::Answered);
  EXPECT_GE(outcomes[0].second, lineMs - 5);
  EXPECT_GE(outcomes[1].second - outcomes[0].second, lineMs - 5);
  EXPECT_EQ(seen, buildFrame(42, block) + buildFrame(43, block));
}

// A write that cannot get out (nobody reads the line) fails at its time limit, reported from the
// event loop, which keeps running; a close drops the writes not yet out and says so only after it
// has returned, without waiting for their time limits.
TEST_F(SerialPortTest, QueuedWritesReportTheirEndFromTheEventLoop) {
  port.setTimeouts({0, 200});
  port.open();
  std::vector<std::pair<quint64, int>> failed;  // id, code
  std::vector<quint64> written;
  QObject::connect(&port, &SerialPort::written, [&](quint64 id) { written.push_back(id); });
  QObject::connect(&port, &SerialPort::writeFailed, [&](quint64 id, const SerialPortError& e) {
    failed.emplace_back(id, e.code());
    if (e.code() == kWriteFailed) {
      EXPECT_EQ(e.systemError(), ETIMEDOUT);
      EXPECT_EQ(e.fault(), SerialFault::WriteTimedOut);
    }
  });
  const quint64 small = port.queueWrite("hello");
  const quint64 stuck = port.queueWrite(Bytes(200000, 'x'));
  EXPECT_TRUE(written.empty() && failed.empty()) << "an outcome came from inside queueWrite";
  LoopGapProbe probe;
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(waitFor([&] { return !failed.empty(); }, 5000));
  EXPECT_GE(clock.elapsed(), 150);
  EXPECT_LT(probe.longestMs(), 100);
  EXPECT_EQ(written, std::vector<quint64>{small});
  EXPECT_EQ(failed, (std::vector<std::pair<quint64, int>>{{stuck, kWriteFailed}}));

  // Cannot get out either; the second waits behind the first.
  port.setTimeouts({0, 10000});
  const quint64 a = port.queueWrite(Bytes(200000, 'y'));
  const quint64 b = port.queueWrite("z");
  clock.restart();
  port.close();
  EXPECT_LT(clock.elapsed(), 2000) << "the close waited for the write's time limit";
  EXPECT_EQ(failed.size(), 1u) << "an outcome came from inside close()";
  ASSERT_TRUE(waitFor([&] { return failed.size() == 3; }, 3000));
  EXPECT_EQ(failed[1], std::make_pair(a, static_cast<int>(kNotOpen)));
  EXPECT_EQ(failed[2], std::make_pair(b, static_cast<int>(kNotOpen)));
  EXPECT_EQ(written.size(), 1u);
}

// The frames go to the latest reader still subscribed: one subscribed later stands in front of the
// window's until its token goes (even from inside its own handler), and what it refuses is
// dropped, not handed to the one behind it.  Observers of frameTaken see every frame taken.
TEST_F(SerialPortTest, TheLatestReaderTakesTheFramesUntilItGoes) {
  port.open();
  Link link(&port, nullptr);
  std::vector<std::string> got;
  std::vector<int> dropped, observed;
  QObject::connect(&link, &Link::frameDropped, [&](std::uint8_t code) { dropped.push_back(code); });
  QObject::connect(&link, &Link::frameTaken, [&](std::uint8_t code, const Bytes&) { observed.push_back(code); });
  const auto window = link.addReader({{}, [&](std::uint8_t code, const Bytes& payload) {
                                        got.push_back("window " + std::to_string(code) + " " + payload);
                                      }});
  std::shared_ptr<void> read;
  read = link.addReader({[](std::uint8_t code, const Bytes&) { return code != 9; },
                         [&](std::uint8_t code, const Bytes& payload) {
                           got.push_back("read " + std::to_string(code) + " " + payload);
                           read.reset();  // the read ends inside its last answer
                         }});
  ASSERT_TRUE(pty.write(buildFrame(9, "a", kControllerStart) + buildFrame(7, "b", kControllerStart) +
                        buildFrame(8, "c", kControllerStart)));
  ASSERT_TRUE(waitFor([&] { return got.size() + dropped.size() >= 3; }, 3000));
  EXPECT_EQ(got, (std::vector<std::string>{"read 7 b", "window 8 c"}));
  EXPECT_EQ(dropped, std::vector<int>{9});
  EXPECT_EQ(observed, (std::vector<int>{7, 8}));
}

// A frame arriving at the line's pace wakes the link a few times, not once a byte, and its answer
// is taken as its last byte comes rather than when the port's bound for it runs out.  The bytes of
// a frame cut short are still handed over once their time is past, and a line hung up under such a
// wait is reported.
TEST_F(SerialPortTest, AFrameAtTheLinesPaceIsHandedOverOnceItsRestHasCome) {
  using Clock = std::chrono::steady_clock;
  Link link(&port);
  const auto toLink = port.onRxChar;
  std::vector<int> counts;
  port.onRxChar = [&](int n) {
    counts.push_back(n);
    toLink(n);
  };
  int lost = 0;
  QObject::connect(&port, &SerialPort::deviceLost, [&] { ++lost; });
  port.open();
  // One byte every 2.1 ms, as a 4800 bit/s line brings them.
  auto paced = [&](const Bytes& bytes, Clock::time_point& last) {
    return std::thread([&, bytes] {
      for (char c : bytes) {
        std::this_thread::sleep_for(std::chrono::microseconds(2100));
        pty.write(std::string(1, c));
      }
      last = Clock::now();
    });
  };

  std::optional<Request::Outcome> outcome;
  Clock::time_point answeredAt;
  Request request;
  request.code = 6;
  request.done = [&](Request::Outcome o) {
    outcome = o;
    answeredAt = Clock::now();
  };
  bool written = false;
  QObject::connect(&link, &Link::frameTraced, [&](bool out, const Bytes&) { written = written || out; });
  link.send(std::move(request));
  ASSERT_TRUE(waitFor([&] { return written; }, 3000));
  ASSERT_EQ(pty.read(4, 3000), buildFrame(6, Bytes()));
  const Bytes payload(kMaxRxPayload, 'p');
  const Bytes answer = buildFrame(6, payload, kControllerStart);
  Clock::time_point lastByte;
  std::thread line = paced(answer, lastByte);
  ASSERT_TRUE(waitFor([&] { return outcome.has_value(); }, 5000));
  line.join();
  EXPECT_EQ(outcome, Request::Outcome::Answered);
  EXPECT_EQ(link.rxPayload(), payload);
  EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), static_cast<int>(answer.size()));
  EXPECT_LE(counts.size(), 10u) << "woken per byte";
  // The port's bound for the last 101 bytes is 220 ms: an answer taken only then was overlooked.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(answeredAt - lastByte).count(), 110);

  // A frame that announces 50 bytes and brings 5: they are read once their time is past.
  counts.clear();
  const Bytes cut = buildFrame(7, Bytes(50, 'c'), kControllerStart).substr(0, 8);
  std::thread cutLine = paced(cut, lastByte);
  cutLine.join();
  ASSERT_TRUE(waitFor([&] { return std::accumulate(counts.begin(), counts.end(), 0) == 8; }, 3000));
  EXPECT_EQ(port.waitingInputCount(), 0);

  // Two more come, and the line is hung up while the port waits for the rest.
  counts.clear();
  std::thread more = paced(Bytes(2, 'c'), lastByte);
  more.join();
  pty.closeMaster();
  ASSERT_TRUE(waitFor([&] { return lost > 0; }, 3000));
  EXPECT_EQ(lost, 1);
}

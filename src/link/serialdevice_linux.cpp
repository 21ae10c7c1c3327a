// SerialDevice on a Linux terminal device (termios, epoll, eventfd).
//
// The device is opened non-blocking, locked, exclusively and without becoming the controlling terminal.
// The event thread waits in epoll for arriving bytes.  The wait is edge-triggered, like the
// received-characters event of a serial driver: arriving bytes raise one report, bytes a reader
// leaves unread are reported again with the next arrival.  A level-triggered wait would
// ping-pong with the owner for as long as a handler leaves bytes in the queue.  An eventfd in
// the same epoll set lets stopWaiting() end the wait from another thread.
//
// A wait for several bytes raises the terminal's VMIN: with VTIME 0 the line discipline reports
// the device readable only once that many bytes are queued, so the thread sleeps through a
// frame's bytes instead of waking at each, while a non-blocking read still returns whatever is
// there.
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "link/serialdevice.h"

namespace dovu {

namespace {

using Clock = std::chrono::steady_clock;

void closeQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A bare port name such as "ttyUSB0" lives in /dev, never in the working folder.
std::string devicePath(const std::string& port) {
  if (port.empty() || port.front() == '/') return port;
  return "/dev/" + port;
}

speed_t speedFor(int bitsPerSecond) {
  static const struct {
    int rate;
    speed_t code;
  } kRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
  };
  for (const auto& r : kRates)
    if (r.rate == bitsPerSecond) return r.code;
  return B0;
}

// A pseudo-terminal has no modem lines: the kernel answers ENOTTY (EINVAL before 5.13).
bool noModemLines(int err) { return err == ENOTTY || err == EINVAL; }

// Raises or lowers one modem line; 0 or the error number.
int driveModemLine(int fd, int bit, bool on) {
  if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return 0;
  return noModemLines(errno) ? 0 : errno;
}

// Milliseconds left until deadline, at least 0; nullopt without a deadline.
std::optional<int> msLeft(const std::optional<Clock::time_point>& deadline) {
  if (!deadline) return std::nullopt;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

}  // namespace

struct SerialDevice::Os {
  int fd = -1;
  int wakeFd = -1;   // eventfd: stopWaiting() wakes the event thread through it
  int epollFd = -1;  // the device (edge-triggered input) and the wake-up descriptor
  std::atomic<int> baudRate{9600};  // read by the writer thread
  std::optional<termios> original;  // the line's settings when it was opened
  Bytes pushback;  // a byte taken by the end-of-file probe, handed out before the queue
  bool hungUp = false;  // the line hung up after bytes that are still being handed out
  bool outputStuck = false;  // a write missed its time-out with bytes still queued
  bool exclusive = false;    // the terminal's exclusive mark is ours
  // The terminal's settings are changed by the owner (line settings) and by the event thread (the
  // wait's byte threshold): one at a time, so that neither undoes the other's change.
  std::mutex termiosLock;
  termios applied{};  // the settings last applied, under termiosLock
  int minBytes = 1;   // their VMIN, under termiosLock

  // Event thread: sets VMIN.  A failure keeps the threshold as it was: it only saves wake-ups.
  void setThreshold(int bytes) {
    std::lock_guard<std::mutex> lock(termiosLock);
    if (bytes == minBytes) return;
    termios t = applied;
    t.c_cc[VMIN] = static_cast<cc_t>(bytes);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return;
    applied = t;
    minBytes = bytes;
  }

  void closeAll() {
    closeQuietly(epollFd);
    closeQuietly(wakeFd);
    if (fd >= 0) {
      // Drop what came in: the owner is done with the line.  Output is dropped only after a write
      // that missed its time-out, the one way unsent bytes can be left (a tty close would wait up
      // to 30 s for them on a stuck line); every other write has drained.  Flushing drained output
      // anyway would, on a pseudo-terminal, discard the last frame before the other end read it.
      ::tcflush(fd, outputStuck ? TCIOFLUSH : TCIFLUSH);
      if (original) ::tcsetattr(fd, TCSANOW, &*original);
      // The exclusive mark belongs to the terminal, not to this descriptor: it would outlive the
      // close while anyone else (the simulator) holds the line, and keep every later open out.
      if (exclusive) ::ioctl(fd, TIOCNXCL);
    }
    exclusive = false;
    closeQuietly(fd);
    original.reset();
    pushback.clear();
    hungUp = false;
    outputStuck = false;
    minBytes = 1;
  }
};

SerialDevice::SerialDevice() : os_(std::make_unique<Os>()) {}

SerialDevice::~SerialDevice() { close(); }

bool SerialDevice::isOpen() const { return os_->fd >= 0; }

void SerialDevice::open(const std::string& name, const LineSettings& settings) {
  Os& v = *os_;
  if (v.fd >= 0) return;
  v.fd = ::open(devicePath(name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (v.fd < 0) throw SerialPortError(kOpenFailed, errno);
  auto fail = [&v](int code, int err) {
    v.closeAll();
    throw SerialPortError(code, err);
  };
  // One program on the line at a time.  The lock is on the device and dies with its holder, so
  // a killed program leaves none behind; it keeps out root and every program that locks too.  The
  // terminal's exclusive mark keeps out the other programs (root excepted): a mark already set
  // means another holder, whose mark is never cleared.  A path that is not a terminal fails here,
  // before anything was changed on it.
  auto busy = [&v](int err) {
    closeQuietly(v.fd);
    throw SerialPortError(kOpenFailed, err);
  };
  if (::flock(v.fd, LOCK_EX | LOCK_NB) != 0) busy(errno == EWOULDBLOCK ? EBUSY : errno);
  int marked = 0;
  if (::ioctl(v.fd, TIOCGEXCL, &marked) == 0 && marked) busy(EBUSY);
  if (::ioctl(v.fd, TIOCEXCL) != 0) busy(errno);
  v.exclusive = true;
  termios found{};
  if (::tcgetattr(v.fd, &found) != 0) fail(kConfigureFailed, errno);
  v.original = found;
  ::tcflush(v.fd, TCIOFLUSH);  // nothing left over from an earlier user
  try {
    applyLineSettings(settings, true);
  } catch (const SerialPortError& e) {
    fail(e.code(), e.systemError());
  }

  v.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (v.wakeFd < 0) fail(kOpenFailed, errno);
  v.epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (v.epollFd < 0) fail(kOpenFailed, errno);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLET;
  ev.data.fd = v.fd;
  if (::epoll_ctl(v.epollFd, EPOLL_CTL_ADD, v.fd, &ev) != 0) fail(kOpenFailed, errno);
  ev.events = EPOLLIN;
  ev.data.fd = v.wakeFd;
  if (::epoll_ctl(v.epollFd, EPOLL_CTL_ADD, v.wakeFd, &ev) != 0) fail(kOpenFailed, errno);
}

void SerialDevice::close() { os_->closeAll(); }

void SerialDevice::applyLineSettings(const LineSettings& settings, bool modemLines) {
  const int fd = os_->fd;
  std::lock_guard<std::mutex> lock(os_->termiosLock);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) throw SerialPortError(kConfigureFailed, errno);
  // Raw bytes both ways, VTIME 0 and VMIN the event thread's threshold (1 but within a frame):
  // with O_NONBLOCK a read returns what is queued or EAGAIN, so a 0-byte read only ever means the
  // line was hung up.
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  switch (settings.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: throw SerialPortError(kConfigureFailed, EINVAL);
  }
  if (settings.stopBits != StopBits::One) t.c_cflag |= CSTOPB;  // 1.5 exists only with 5 bits: 2
  switch (settings.parity) {
    case Parity::None: break;
    case Parity::Odd: t.c_cflag |= PARENB | PARODD; break;
    case Parity::Even: t.c_cflag |= PARENB; break;
    case Parity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case Parity::Space: t.c_cflag |= PARENB | CMSPAR; break;
  }
  // CTS output flow and RTS handshake are one switch here; DSR output flow has no termios
  // counterpart and is left to the line.
  const FlowControl& f = settings.flow;
  if (f.outCtsFlow || f.controlRts == RtsControl::Handshake) t.c_cflag |= CRTSCTS;
  t.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (f.xonXoffOut) t.c_iflag |= IXON;
  if (f.xonXoffIn) t.c_iflag |= IXOFF;
  t.c_cc[VSTART] = 0x11;
  t.c_cc[VSTOP] = 0x13;
  t.c_cc[VMIN] = static_cast<cc_t>(os_->minBytes);
  t.c_cc[VTIME] = 0;
  const speed_t speed = speedFor(settings.baudRate);
  if (speed == B0) throw SerialPortError(kConfigureFailed, EINVAL);
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) throw SerialPortError(kConfigureFailed, errno);
  os_->applied = t;
  os_->baudRate = settings.baudRate;

  if (modemLines) {
    // Opening a terminal raises DTR and RTS; "Disable" means low from the start.
    const bool dtr = f.controlDtr != DtrControl::Disable;
    const bool rts = f.controlRts == RtsControl::Enable || f.controlRts == RtsControl::Handshake;
    if (int err = driveModemLine(fd, TIOCM_DTR, dtr)) throw SerialPortError(kConfigureFailed, err);
    if (int err = driveModemLine(fd, TIOCM_RTS, rts)) throw SerialPortError(kConfigureFailed, err);
  }
}

int SerialDevice::write(const Bytes& data, const Timeouts& timeouts) {
  const int fd = os_->fd;
  std::optional<Clock::time_point> deadline;
  if (const long long limit = timeouts.limitMs(data.size()); limit > 0)
    deadline = Clock::now() + std::chrono::milliseconds(limit);

  // Until the bytes have drained, a failure leaves them queued.
  os_->outputStuck = true;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throw SerialPortError(kWriteFailed, errno);
    // The driver's queue is full: wait until it takes more, within the write's time limit.
    const std::optional<int> left = msLeft(deadline);
    if (left && *left == 0) throw SerialPortError(kWriteFailed, ETIMEDOUT);
    pollfd p[2] = {{fd, POLLOUT, 0}, {os_->wakeFd, POLLIN, 0}};
    const int r = ::poll(p, 2, left.value_or(-1));
    if (r < 0 && errno != EINTR) throw SerialPortError(kWriteFailed, errno);
    if (r == 0) throw SerialPortError(kWriteFailed, ETIMEDOUT);
    if (r > 0 && (p[1].revents & POLLIN)) throw SerialPortError(kWriteFailed, ECANCELED);
    if (r > 0 && !(p[0].revents & POLLOUT)) throw SerialPortError(kWriteFailed, EIO);
  }

  // Done means sent: wait until the driver has put the bytes on the line, within the same limit.
  // tcdrain() cannot be bounded, so the queue is measured and the wait sized by the bytes still
  // in it at the line's speed.
  const int msPerKiloByte = std::max(1, 10 * 1000 * 1000 / std::max(1, os_->baudRate.load()));
  for (;;) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0) {
      if (noModemLines(errno)) break;  // a terminal without an output queue to measure
      throw SerialPortError(kWriteFailed, errno);
    }
    if (queued <= 0) break;
    const std::optional<int> left = msLeft(deadline);
    if (left && *left == 0) throw SerialPortError(kWriteFailed, ETIMEDOUT);
    const int drainMs = std::max(1, static_cast<int>(static_cast<long long>(queued) * msPerKiloByte / 1000));
    // Sleeps on the wake-up descriptor: closing the device ends the wait (the write fails).
    pollfd wake{os_->wakeFd, POLLIN, 0};
    const int r = ::poll(&wake, 1, std::min(drainMs, left.value_or(drainMs)));
    if (r < 0 && errno != EINTR) throw SerialPortError(kWriteFailed, errno);
    if (r > 0) throw SerialPortError(kWriteFailed, ECANCELED);
  }
  os_->outputStuck = false;
  return static_cast<int>(done);
}

int SerialDevice::read(Bytes& out, int count) {
  Os& v = *os_;
  const std::size_t want = static_cast<std::size_t>(count);
  out = v.pushback.substr(0, want);
  v.pushback.erase(0, out.size());
  if (out.size() == want) return static_cast<int>(out.size());
  std::size_t have = out.size();
  out.resize(want);
  // A raised VMIN makes the line discipline end a read at 64 bytes: read again for the rest.
  while (have < want) {
    ssize_t n;
    do n = ::read(v.fd, out.data() + have, want - have);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
      const int err = errno;
      out.resize(have);
      if (err == EAGAIN || err == EWOULDBLOCK || have > 0) return static_cast<int>(have);
      throw SerialPortError(kReadFailed, err);
    }
    if (n == 0) break;  // hung up
    have += static_cast<std::size_t>(n);
  }
  out.resize(have);
  return static_cast<int>(have);
}

int SerialDevice::inputCount() {
  int n = 0;
  if (::ioctl(os_->fd, FIONREAD, &n) != 0) throw SerialPortError(kQueueStatusFailed, errno);
  return n + static_cast<int>(os_->pushback.size());
}

void SerialDevice::setModemLine(Line line, bool on) {
  if (int err = driveModemLine(os_->fd, line == Line::Dtr ? TIOCM_DTR : TIOCM_RTS, on))
    throw SerialPortError(kModemLineFailed, err);
}

SerialDevice::WaitResult SerialDevice::waitForInput(int minBytes, int timeoutMs) {
  if (os_->hungUp) return {Wait::Lost};
  // VMIN is a byte: a larger threshold waits for what a byte can say, and the bound for the rest.
  os_->setThreshold(std::clamp(minBytes, 1, 255));
  std::optional<Clock::time_point> deadline;
  if (timeoutMs >= 0) deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    epoll_event events[2];
    const int n = ::epoll_wait(os_->epollFd, events, 2, msLeft(deadline).value_or(-1));
    if (n == 0) return {Wait::TimedOut};
    if (n < 0) {
      if (errno == EINTR) continue;
      return {Wait::Lost, errno};
    }
    bool input = false, gone = false;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == os_->wakeFd) return {Wait::Stopped};
      if (events[i].events & EPOLLIN) input = true;
      if (events[i].events & (EPOLLHUP | EPOLLERR)) gone = true;
    }
    // Bytes that came with the hang-up are handed out first; the next wait reports the end
    // (an edge-triggered hang-up is not reported twice).
    if (input) {
      os_->hungUp = gone;
      return {Wait::Input};
    }
    // Bytes below the threshold may still be queued: handed out before the end is reported.
    if (gone && os_->minBytes > 1) {
      os_->hungUp = true;
      return {Wait::Input};
    }
    // A hung-up terminal stays "ready" for ever: the caller stops waiting on it.
    if (gone) return {Wait::Lost};
  }
}

void SerialDevice::stopWaiting() {
  const std::uint64_t one = 1;
  // The counter stays raised until the device closes, so a wait that starts later ends too.
  [[maybe_unused]] ssize_t r = ::write(os_->wakeFd, &one, sizeof one);
}

// Non-blocking, an idle terminal answers a 1-byte read with EAGAIN whatever its VMIN; 0 bytes or
// EIO mean the line is gone.  A byte that did arrive is kept for the next read.
int SerialDevice::probeEnd() {
  char c;
  ssize_t n;
  do n = ::read(os_->fd, &c, 1);
  while (n < 0 && errno == EINTR);
  if (n == 1) {
    os_->pushback.push_back(c);
    return 0;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return n == 0 ? -1 : errno;
}

SerialFault faultFromSystemError(int, int systemError) {
  switch (systemError) {
    case ENOENT: return SerialFault::NotFound;
    case ENODEV:
    case ENXIO:
    case EIO:
    case EPIPE: return SerialFault::DeviceLost;
    case EACCES:
    case EPERM: return SerialFault::PermissionDenied;
    case EBUSY:
    case EWOULDBLOCK: return SerialFault::InUse;  // the exclusive mark, or another holder's lock
    case ETIMEDOUT: return SerialFault::WriteTimedOut;
    case ENOTTY: return SerialFault::NotASerialPort;
    case EINVAL: return SerialFault::SettingsRefused;
    default: return SerialFault::Unknown;
  }
}

}  // namespace dovu

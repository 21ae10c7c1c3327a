// SerialPort on a POSIX terminal device (termios).
//
// The device is opened non-blocking, exclusively and without becoming the controlling terminal.
// An event thread waits in epoll for arriving bytes and hands each arrival synchronously to the
// thread that owns the SerialPort: it posts a queued call and blocks until that call has run (or
// until close() asks it to stop), so receive handlers never overlap and the count they get is
// the whole input queue.  The thread never reads or writes data itself.
//
// The wait is edge-triggered, like the received-characters event of a serial driver: arriving
// bytes raise a notification, bytes a handler leaves unread are reported again with the next
// arrival.  A level-triggered wait would ping-pong with the owner for as long as a handler
// leaves bytes in the queue.  (epoll and eventfd are Linux; another Unix would use kqueue with
// EV_CLEAR here.)
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "link/serialport_p.h"

namespace dovu {

namespace {

void closeQuietly(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Path of a port name: a bare name such as "ttyUSB0" lives in /dev, never in the working folder.
QByteArray devicePath(const QString& port) {
  if (port.isEmpty() || port.startsWith(QLatin1Char('/'))) return port.toLocal8Bit();
  return QByteArrayLiteral("/dev/") + port.toLocal8Bit();
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

}  // namespace

struct SerialPort::Impl::Device {
  // State of one open period, shared by the owner, the event thread and the queued calls.  A new
  // session starts with every open, so a call queued before a close never touches a later one.
  struct Session {
    // Owner thread only.
    Impl* owner = nullptr;  // null once the port is closed: queued calls then do nothing
    bool lostReported = false;

    // Shared with the event thread, under m.
    std::mutex m;
    std::condition_variable cv;
    bool stop = false;       // close() asks the thread to end
    bool delivered = false;  // the owner has finished the current hand-over
    bool finished = false;   // the device is gone: the thread ends after the hand-over
  };

  int fd = -1;
  int wakeFd = -1;   // eventfd: close() wakes the event thread through it
  int epollFd = -1;  // the device (edge-triggered input) and the wake-up descriptor
  std::thread thread;
  std::shared_ptr<Session> session;
  Bytes pushback;  // a byte taken by the end-of-file probe, handed out before the queue

  // Event thread: waits for line events until close() or until the device is gone.
  static void eventLoop(std::shared_ptr<Session> s, SerialPort* receiver, int epollFd, int wakeFd);
  // Owner thread: one hand-over; takes the whole waiting count and calls the receive handler.
  static void deliverInput(const std::shared_ptr<Session>& s);
  // Owner thread: the device is gone.  Reported once per open period; the event thread ends.
  static void reportLost(Session& s, const QString& reason);

  // Owner thread, inside a hand-over: a notification with an empty queue.  Either someone
  // read the bytes already, or the device reached its end, which a 1-byte read tells apart.
  // With VMIN 1 an idle terminal answers EAGAIN; 0 bytes or EIO mean the line is gone.
  int probeEnd() {
    char c;
    ssize_t n;
    do n = ::read(fd, &c, 1);
    while (n < 0 && errno == EINTR);
    if (n == 1) {
      pushback.push_back(c);
      return 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return n == 0 ? -1 : errno;
  }
};

void SerialPort::Impl::Device::reportLost(Session& s, const QString& reason) {
  if (!s.owner || s.lostReported) return;
  s.lostReported = true;
  {
    std::lock_guard<std::mutex> lock(s.m);
    s.finished = true;
  }
  s.cv.notify_all();
  emit s.owner->q->deviceLost(reason);  // the handler may close or even delete the port
}

void SerialPort::Impl::Device::eventLoop(std::shared_ptr<Session> s, SerialPort* receiver, int epollFd, int wakeFd) {
  auto postLost = [&](const QString& reason) {
    QMetaObject::invokeMethod(receiver, [s, reason] { reportLost(*s, reason); }, Qt::QueuedConnection);
  };
  for (;;) {
    epoll_event events[2];
    const int n = ::epoll_wait(epollFd, events, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      postLost(QString::fromUtf8(SerialPortError(kErrRead, errno).what()));
      return;
    }
    bool input = false, gone = false;
    for (int i = 0; i < n; ++i) {
      if (events[i].data.fd == wakeFd) return;
      if (events[i].events & EPOLLIN) input = true;
      if (events[i].events & (EPOLLHUP | EPOLLERR)) gone = true;
    }
    if (input) {
      {
        std::lock_guard<std::mutex> lock(s->m);
        if (s->stop) return;
        s->delivered = false;
      }
      QMetaObject::invokeMethod(receiver, [s] { deliverInput(s); }, Qt::QueuedConnection);
      std::unique_lock<std::mutex> lock(s->m);
      s->cv.wait(lock, [&] { return s->delivered || s->stop; });
      if (s->stop || s->finished) return;
    }
    if (gone) {
      // A hung-up terminal stays "ready" for ever: report it once and stop waiting on it.
      postLost(QStringLiteral("Device disconnected"));
      return;
    }
  }
}

void SerialPort::Impl::Device::deliverInput(const std::shared_ptr<Session>& s) {
  // Whatever happens below (even a throwing handler), the event thread may go on afterwards.
  struct Release {
    Session& s;
    ~Release() {
      {
        std::lock_guard<std::mutex> lock(s.m);
        s.delivered = true;
      }
      s.cv.notify_all();
    }
  } release{*s};

  SerialPort::Impl* d = s->owner;
  if (!d) return;  // queued before a close
  int count = 0;
  try {
    count = d->inputCount();
    if (count == 0) {
      const int end = d->dev->probeEnd();
      if (end != 0) {
        reportLost(*s, end < 0 ? QStringLiteral("Device disconnected")
                               : QString::fromUtf8(SerialPortError(kErrRead, end).what()));
        return;
      }
      count = d->inputCount();
    }
  } catch (const SerialPortError& e) {
    reportLost(*s, QString::fromUtf8(e.what()));
    return;
  }
  if (count <= 0) return;
  // A copy: the handler may replace onRxChar, close the port or delete it.
  const auto handler = d->q->onRxChar;
  if (handler) handler(count);
}

SerialPort::Impl::Impl(SerialPort* owner) : q(owner), dev(std::make_unique<Device>()) {}

SerialPort::Impl::~Impl() = default;

bool SerialPort::Impl::deviceOpen() const { return dev->fd >= 0; }

void SerialPort::Impl::openDevice() {
  Device& v = *dev;
  v.fd = ::open(devicePath(settings.port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (v.fd < 0) throw SerialPortError(kErrOpen, errno);
  auto fail = [&v](int code, int err) {
    closeQuietly(v.epollFd);
    closeQuietly(v.wakeFd);
    ::ioctl(v.fd, TIOCNXCL);
    closeQuietly(v.fd);
    throw SerialPortError(code, err);
  };
  // No second open of the line while it is ours (root may still do it).  A path that is not a
  // terminal fails here.
  if (::ioctl(v.fd, TIOCEXCL) != 0) fail(kErrOpen, errno);
  ::tcflush(v.fd, TCIOFLUSH);  // nothing left over from an earlier user
  try {
    applyLineSettings(true);
  } catch (const SerialPortError& e) {
    fail(e.code(), e.systemError());
  }

  v.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (v.wakeFd < 0) fail(kErrOpen, errno);
  v.epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  if (v.epollFd < 0) fail(kErrOpen, errno);
  epoll_event ev{};
  ev.events = EPOLLIN | EPOLLET;
  ev.data.fd = v.fd;
  if (::epoll_ctl(v.epollFd, EPOLL_CTL_ADD, v.fd, &ev) != 0) fail(kErrOpen, errno);
  ev.events = EPOLLIN;
  ev.data.fd = v.wakeFd;
  if (::epoll_ctl(v.epollFd, EPOLL_CTL_ADD, v.wakeFd, &ev) != 0) fail(kErrOpen, errno);

  v.pushback.clear();
  v.session = std::make_shared<Device::Session>();
  v.session->owner = this;
  try {
    v.thread = std::thread(Device::eventLoop, v.session, q, v.epollFd, v.wakeFd);
  } catch (const std::system_error& e) {
    v.session.reset();
    fail(kErrOpen, e.code().value());
  }
  pthread_setname_np(v.thread.native_handle(), "dovu-serial");
}

void SerialPort::Impl::closeDevice() {
  Device& v = *dev;
  if (v.session) {
    {
      std::lock_guard<std::mutex> lock(v.session->m);
      v.session->stop = true;  // also ends a hand-over the owner has not run yet
    }
    v.session->cv.notify_all();
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(v.wakeFd, &one, sizeof one);
    if (v.thread.joinable()) v.thread.join();
    v.session->owner = nullptr;
    v.session.reset();
  }
  // Drop both queues: the owner is done with the line, and a tty close would otherwise wait
  // (up to 30 s) for unsent output on a line that may be stuck.  Fails harmlessly on a device
  // that is already gone.
  ::tcflush(v.fd, TCIOFLUSH);
  // The exclusive mark belongs to the terminal, not to this descriptor: it would outlive the close
  // while anyone else (the simulator) holds the line, and keep every later open out.
  ::ioctl(v.fd, TIOCNXCL);
  v.pushback.clear();
  closeQuietly(v.epollFd);
  closeQuietly(v.wakeFd);
  closeQuietly(v.fd);
}

void SerialPort::Impl::applyLineSettings(bool modemLines) {
  const int fd = dev->fd;
  termios t{};
  if (::tcgetattr(fd, &t) != 0) throw SerialPortError(kErrSetState, errno);
  // Raw bytes both ways, VMIN 1 / VTIME 0: with O_NONBLOCK a read returns what is queued or
  // EAGAIN, so a 0-byte read only ever means the line was hung up.
  ::cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= CLOCAL | CREAD;
  switch (settings.dataBits) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: throw SerialPortError(kErrSetState, EINVAL);
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
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  const speed_t speed = speedFor(settings.baudRate);
  if (speed == B0) throw SerialPortError(kErrSetState, EINVAL);
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) throw SerialPortError(kErrSetState, errno);

  if (modemLines) {
    // Opening a terminal raises DTR and RTS; "Disable" means low from the start.
    const bool dtr = f.controlDtr != DtrControl::Disable;
    const bool rts = f.controlRts == RtsControl::Enable || f.controlRts == RtsControl::Handshake;
    if (int err = driveModemLine(fd, TIOCM_DTR, dtr)) throw SerialPortError(kErrSetState, err);
    if (int err = driveModemLine(fd, TIOCM_RTS, rts)) throw SerialPortError(kErrSetState, err);
  }
}

int SerialPort::Impl::writeDevice(const Bytes& data) {
  using Clock = std::chrono::steady_clock;
  const int fd = dev->fd;
  const Timeouts& t = settings.timeouts;
  // Both parts zero: no limit, as with a serial driver's write time-outs.
  const bool limited = t.writeTotalMultiplier > 0 || t.writeTotalConstant > 0;
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(static_cast<long long>(t.writeTotalMultiplier) *
                                                   static_cast<long long>(data.size()) +
                                               t.writeTotalConstant);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throw SerialPortError(kErrWrite, errno);
    // The driver's queue is full: wait until it takes more, within the write's time limit.
    int waitMs = -1;
    if (limited) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) throw SerialPortError(kErrWrite, ETIMEDOUT);
      waitMs = static_cast<int>(std::min<long long>(left, 1 << 30));
    }
    pollfd p{fd, POLLOUT, 0};
    const int r = ::poll(&p, 1, waitMs);
    if (r < 0 && errno != EINTR) throw SerialPortError(kErrWrite, errno);
    if (r == 0) throw SerialPortError(kErrWrite, ETIMEDOUT);
    if (r > 0 && !(p.revents & POLLOUT)) throw SerialPortError(kErrWrite, EIO);
  }
  // Done means sent: wait until the driver has put the bytes on the line.
  while (::tcdrain(fd) != 0)
    if (errno != EINTR) throw SerialPortError(kErrWrite, errno);
  return static_cast<int>(done);
}

int SerialPort::Impl::readDevice(Bytes& out, int count) {
  Device& v = *dev;
  const std::size_t want = static_cast<std::size_t>(count);
  out = v.pushback.substr(0, want);
  v.pushback.erase(0, out.size());
  if (out.size() == want) return static_cast<int>(out.size());
  const std::size_t have = out.size();
  out.resize(want);
  ssize_t n;
  do n = ::read(v.fd, out.data() + have, want - have);
  while (n < 0 && errno == EINTR);
  if (n < 0) {
    const int err = errno;
    out.resize(have);
    if (err == EAGAIN || err == EWOULDBLOCK || have > 0) return static_cast<int>(have);
    throw SerialPortError(kErrRead, err);
  }
  out.resize(have + static_cast<std::size_t>(n));
  return static_cast<int>(out.size());
}

int SerialPort::Impl::inputCount() {
  int n = 0;
  if (::ioctl(dev->fd, FIONREAD, &n) != 0) throw SerialPortError(kErrClearCommError, errno);
  return n + static_cast<int>(dev->pushback.size());
}

void SerialPort::Impl::setModemLine(Line line, bool on) {
  if (int err = driveModemLine(dev->fd, line == Line::Dtr ? TIOCM_DTR : TIOCM_RTS, on))
    throw SerialPortError(kErrEscape, err);
}

}  // namespace dovu

// The OS-neutral half of SerialPort: settings, the event thread and its synchronous hand-over to
// the thread that owns the object.
//
// The event thread waits in SerialDevice::waitForInput() and hands each arrival over: it posts a
// queued call and blocks until that call has run (or until close() asks it to stop), so receive
// handlers never overlap and the count they get is the whole input queue.  The thread never
// reads or writes data itself.
#include "link/serialport.h"

#include <QMetaObject>
#include <QThread>
#include <condition_variable>
#include <mutex>

namespace dovu {

namespace {

const char* const kDisconnectedText = "Device disconnected";

}  // namespace

struct SerialPort::Impl {
  // State of one open period, shared by the owner, the event thread and the queued calls.  A new
  // one starts with every open, so a call queued before a close never touches a later period.
  struct Period {
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

  explicit Impl(SerialPort* owner) : q(owner) {}

  SerialPort* q;
  QString port;
  LineSettings line;
  Timeouts timeouts;
  SerialDevice dev;
  std::unique_ptr<QThread> thread;
  std::shared_ptr<Period> period;

  void openDevice();
  void closeDevice();

  // Event thread: waits for line events until close() or until the device is gone.
  static void eventLoop(std::shared_ptr<Period> p, SerialPort* receiver, SerialDevice* dev);
  // Owner thread: one hand-over; takes the whole waiting count and calls the receive handler.
  static void deliverInput(const std::shared_ptr<Period>& p);
  // Owner thread: the device is gone.  Reported once per open period; the event thread ends.
  static void reportLost(Period& p, const QString& reason);
};

void SerialPort::Impl::reportLost(Period& p, const QString& reason) {
  if (!p.owner || p.lostReported) return;
  p.lostReported = true;
  {
    std::lock_guard<std::mutex> lock(p.m);
    p.finished = true;
  }
  p.cv.notify_all();
  emit p.owner->q->deviceLost(reason);  // the handler may close or even delete the port
}

void SerialPort::Impl::eventLoop(std::shared_ptr<Period> p, SerialPort* receiver, SerialDevice* dev) {
  for (;;) {
    const SerialDevice::WaitResult r = dev->waitForInput();
    if (r.what == SerialDevice::Wait::Stopped) return;
    if (r.what == SerialDevice::Wait::Lost) {
      // A line that is gone stays "ready" for ever: report it once and stop waiting on it.
      const QString reason = r.systemError == -1 ? QString::fromLatin1(kDisconnectedText)
                                                 : QString::fromUtf8(SerialPortError(kReadFailed, r.systemError).what());
      QMetaObject::invokeMethod(receiver, [p, reason] { reportLost(*p, reason); }, Qt::QueuedConnection);
      return;
    }
    {
      std::lock_guard<std::mutex> lock(p->m);
      if (p->stop) return;
      p->delivered = false;
    }
    QMetaObject::invokeMethod(receiver, [p] { deliverInput(p); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(p->m);
    p->cv.wait(lock, [&] { return p->delivered || p->stop; });
    if (p->stop || p->finished) return;
  }
}

void SerialPort::Impl::deliverInput(const std::shared_ptr<Period>& p) {
  // Whatever happens below (even a throwing handler), the event thread may go on afterwards.
  struct Release {
    Period& p;
    ~Release() {
      {
        std::lock_guard<std::mutex> lock(p.m);
        p.delivered = true;
      }
      p.cv.notify_all();
    }
  } release{*p};

  Impl* d = p->owner;
  if (!d) return;  // queued before a close
  int count = 0;
  try {
    count = d->dev.inputCount();
    if (count == 0) {
      // Either someone read the bytes already, or the line has reached its end.
      const int end = d->dev.probeEnd();
      if (end != 0) {
        reportLost(*p, end < 0 ? QString::fromLatin1(kDisconnectedText)
                               : QString::fromUtf8(SerialPortError(kReadFailed, end).what()));
        return;
      }
      count = d->dev.inputCount();
    }
  } catch (const SerialPortError& e) {
    reportLost(*p, QString::fromUtf8(e.what()));
    return;
  }
  if (count <= 0) return;
  // A copy: the handler may replace onRxChar, close the port or delete it.
  const auto handler = d->q->onRxChar;
  if (handler) handler(count);
}

void SerialPort::Impl::openDevice() {
  dev.open(port.toStdString(), line);
  period = std::make_shared<Period>();
  period->owner = this;
  thread.reset(QThread::create(eventLoop, period, q, &dev));
  thread->setObjectName(QStringLiteral("dovu-serial"));
  thread->start();
}

void SerialPort::Impl::closeDevice() {
  if (period) {
    {
      std::lock_guard<std::mutex> lock(period->m);
      period->stop = true;  // also ends a hand-over the owner has not run yet
    }
    period->cv.notify_all();
    dev.stopWaiting();
    thread->wait();
    thread.reset();
    period->owner = nullptr;
    period.reset();
  }
  dev.close();
}

SerialPort::SerialPort(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this)) {}

SerialPort::~SerialPort() {
  // A destructor must not throw; closing only fails on a device that is already gone.
  try {
    close();
  } catch (const SerialPortError&) {
  }
}

void SerialPort::setPort(const QString& name) {
  if (name == d->port) return;
  d->port = name;
  if (isOpen()) {
    close();
    open();
  }
}

QString SerialPort::port() const { return d->port; }

// Each line setter stores the value and, when it changed on an open port, applies the line
// settings again at once.
template <typename T>
static bool storeChanged(T& slot, const T& value) {
  if (slot == value) return false;
  slot = value;
  return true;
}

void SerialPort::setBaudRate(int bitsPerSecond) {
  if (storeChanged(d->line.baudRate, bitsPerSecond) && isOpen()) d->dev.applyLineSettings(d->line, false);
}

int SerialPort::baudRate() const { return d->line.baudRate; }

void SerialPort::setDataBits(int bits) {
  if (storeChanged(d->line.dataBits, bits) && isOpen()) d->dev.applyLineSettings(d->line, false);
}

void SerialPort::setParity(Parity p) {
  if (storeChanged(d->line.parity, p) && isOpen()) d->dev.applyLineSettings(d->line, false);
}

void SerialPort::setStopBits(StopBits s) {
  if (storeChanged(d->line.stopBits, s) && isOpen()) d->dev.applyLineSettings(d->line, false);
}

void SerialPort::setFlowControl(const FlowControl& f) {
  if (storeChanged(d->line.flow, f) && isOpen()) d->dev.applyLineSettings(d->line, true);
}

// The write time-out is handed to the device with every write.
void SerialPort::setTimeouts(const Timeouts& t) { d->timeouts = t; }

void SerialPort::open() {
  if (isOpen()) return;
  d->openDevice();
}

void SerialPort::close() {
  if (!isOpen()) return;
  d->closeDevice();
}

bool SerialPort::isOpen() const { return d->dev.isOpen(); }

int SerialPort::write(const Bytes& data) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  if (data.empty()) return 0;
  return d->dev.write(data, d->timeouts);
}

int SerialPort::read(Bytes& out, int count) {
  out.clear();
  if (!isOpen()) throw SerialPortError(kNotOpen);
  if (count <= 0) return 0;
  return d->dev.read(out, count);
}

int SerialPort::waitingInputCount() {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  return d->dev.inputCount();
}

void SerialPort::setDtrLine(bool on) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  d->dev.setModemLine(SerialDevice::Line::Dtr, on);
}

void SerialPort::setRtsLine(bool on) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  d->dev.setModemLine(SerialDevice::Line::Rts, on);
}

}  // namespace dovu

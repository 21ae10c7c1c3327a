// The OS-neutral half of SerialPort: settings, the event thread and its synchronous hand-over to
// the thread that owns the object.
//
// The event thread waits in SerialDevice::waitForInput() and hands each arrival over: it posts a
// queued call and blocks until that call has run (or until close() asks it to stop), so receive
// handlers never overlap and the count they get is the whole input queue.  The thread never
// reads or writes data itself.  When the owner's handler has said how many bytes are still to come
// (the rest of a frame), the next wait asks the device for that many at once, bounded by the
// time they take on the line, so a paced frame costs one hand-over rather than one a byte.
//
// Queued writes go to a writer thread, which runs the device's write (the bytes handed over and
// their drain waited for, within the write's time-out) one after another and posts each outcome
// to the owner.  The owner's event loop keeps running while a block takes its time on a slow
// line; the device's own write stays as it is on every system.  Just before each write the writer
// notes where the input stream stands (the bytes the owner has read plus those waiting), so the
// owner learns which bytes came before the write however late the writer thread ran.
#include "link/serialport.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

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
    int expectBytes = 0;     // the handler's expectation for the next wait: bytes, and its bound
    int expectMs = -1;
    std::uint64_t readTotal = 0;  // bytes the owner has read in this open period

    // The writer thread's queue, under m; writeCv wakes the writer and the blocking writes.
    struct Outcome {
      bool done = false;
      int bytes = 0;
      std::uint64_t inputAt = 0;  // readTotal plus the bytes waiting, just before the write
      std::optional<SerialPortError> error;
    };
    struct Job {
      quint64 id = 0;
      Bytes data;
      Timeouts timeouts;
      std::shared_ptr<Outcome> waiter;  // a blocking write waits for this instead of a signal
    };
    std::deque<Job> jobs;
    std::condition_variable writeCv;
  };

  Impl(SerialPort* owner, std::unique_ptr<SerialDevice> device) : q(owner), dev(std::move(device)) {}

  SerialPort* q;
  QString port;
  LineSettings line;
  Timeouts timeouts;
  std::unique_ptr<SerialDevice> dev;
  std::unique_ptr<QThread> thread;
  std::unique_ptr<QThread> writer;
  std::shared_ptr<Period> period;
  // Owner thread: queued writes whose outcome has not been signalled yet, oldest first.
  std::vector<quint64> unreported;
  quint64 lastId = 0;
  bool blockingWrites = false;

  void openDevice();
  void closeDevice();

  // Event thread: waits for line events until close() or until the device is gone.
  static void eventLoop(std::shared_ptr<Period> p, SerialPort* receiver, SerialDevice* dev);
  // Owner thread: one hand-over; takes the whole waiting count and calls the receive handler.
  static void deliverInput(const std::shared_ptr<Period>& p);
  // Owner thread: the device is gone.  Reported once per open period; the event thread ends.
  static void reportLost(Period& p, const QString& reason);

  // Writer thread: runs the queued writes until close() asks it to end.
  static void writeLoop(std::shared_ptr<Period> p, SerialPort* receiver, SerialDevice* dev);
  // Owner thread: signals a write's outcome, unless its open period has ended meanwhile (the
  // close has reported the write as dropped then).
  static void reportWrite(const Period& p, quint64 id, const std::optional<SerialPortError>& error,
                          std::uint64_t inputAt);
  // Writer thread: where the input stream stands now, as one reading against the owner's reads.
  static std::uint64_t inputPosition(Period& p, SerialDevice* dev);
  // Owner thread: runs a write through the writer and waits for its outcome.
  int writeAndWait(const Bytes& data, std::uint64_t* inputAt = nullptr);
  // Owner thread: the input position noted before the last write reported as written.
  std::uint64_t inputAtWrite = 0;
};

std::uint64_t SerialPort::Impl::inputPosition(Period& p, SerialDevice* dev) {
  std::lock_guard<std::mutex> lock(p.m);
  int waiting = 0;
  try {
    waiting = dev->inputCount();
  } catch (const SerialPortError&) {
    waiting = 0;  // the write that follows reports the device's failure
  }
  return p.readTotal + static_cast<std::uint64_t>(std::max(waiting, 0));
}

void SerialPort::Impl::writeLoop(std::shared_ptr<Period> p, SerialPort* receiver, SerialDevice* dev) {
  for (;;) {
    Period::Job job;
    {
      std::unique_lock<std::mutex> lock(p->m);
      p->writeCv.wait(lock, [&] { return p->stop || !p->jobs.empty(); });
      if (p->stop) return;
      job = std::move(p->jobs.front());
      p->jobs.pop_front();
    }
    Period::Outcome outcome;
    dev->takingUpWrite();
    outcome.inputAt = inputPosition(*p, dev);
    try {
      outcome.bytes = dev->write(job.data, job.timeouts);
    } catch (const SerialPortError& e) {
      outcome.error = e;
    }
    if (job.waiter) {
      {
        std::lock_guard<std::mutex> lock(p->m);
        outcome.done = true;
        *job.waiter = outcome;
      }
      p->writeCv.notify_all();
      continue;
    }
    QMetaObject::invokeMethod(
        receiver, [p, id = job.id, error = outcome.error, at = outcome.inputAt] { reportWrite(*p, id, error, at); },
        Qt::QueuedConnection);
  }
}

void SerialPort::Impl::reportWrite(const Period& p, quint64 id, const std::optional<SerialPortError>& error,
                                   std::uint64_t inputAt) {
  Impl* d = p.owner;
  if (!d) return;
  const auto it = std::find(d->unreported.begin(), d->unreported.end(), id);
  if (it == d->unreported.end()) return;
  d->unreported.erase(it);
  if (error) {
    emit d->q->writeFailed(id, *error);
    return;
  }
  d->inputAtWrite = inputAt;
  emit d->q->written(id);
}

int SerialPort::Impl::writeAndWait(const Bytes& data, std::uint64_t* inputAt) {
  const auto outcome = std::make_shared<Period::Outcome>();
  {
    std::lock_guard<std::mutex> lock(period->m);
    period->jobs.push_back({0, data, timeouts, outcome});
  }
  period->writeCv.notify_all();
  std::unique_lock<std::mutex> lock(period->m);
  period->writeCv.wait(lock, [&] { return outcome->done; });
  if (inputAt) *inputAt = outcome->inputAt;
  if (outcome->error) throw *outcome->error;
  return outcome->bytes;
}

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
  int expectBytes = 0, expectMs = -1;
  for (;;) {
    const SerialDevice::WaitResult r = dev->waitForInput(std::max(expectBytes, 1), expectBytes > 1 ? expectMs : -1);
    if (r.what == SerialDevice::Wait::Stopped) return;
    // TimedOut: the expected bytes have not all come in their time; what has is handed over.
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
    expectBytes = std::exchange(p->expectBytes, 0);
    expectMs = p->expectMs;
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
  {
    // An expectation holds for the wait after the hand-over whose handler set it.
    std::lock_guard<std::mutex> lock(p->m);
    p->expectBytes = 0;
  }
  int count = 0;
  try {
    count = d->dev->inputCount();
    if (count == 0) {
      // Either someone read the bytes already, or the line has reached its end.
      const int end = d->dev->probeEnd();
      if (end != 0) {
        reportLost(*p, end < 0 ? QString::fromLatin1(kDisconnectedText)
                               : QString::fromUtf8(SerialPortError(kReadFailed, end).what()));
        return;
      }
      count = d->dev->inputCount();
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
  dev->open(port.toStdString(), line);
  period = std::make_shared<Period>();
  period->owner = this;
  thread.reset(QThread::create(eventLoop, period, q, dev.get()));
  thread->setObjectName(QStringLiteral("dovu-serial"));
  thread->start();
  writer.reset(QThread::create(writeLoop, period, q, dev.get()));
  writer->setObjectName(QStringLiteral("dovu-serial-write"));
  writer->start();
}

void SerialPort::Impl::closeDevice() {
  if (period) {
    {
      std::lock_guard<std::mutex> lock(period->m);
      period->stop = true;  // also ends a hand-over the owner has not run yet, and the writer
      period->jobs.clear();
    }
    period->cv.notify_all();
    period->writeCv.notify_all();
    // Also ends a write under way on Linux; on Windows that one runs to its end or time-out.
    dev->stopWaiting();
    thread->wait();
    thread.reset();
    writer->wait();
    writer.reset();
    period->owner = nullptr;
    period.reset();
  }
  dev->close();
  // The writes that had not ended are dropped: their owner hears so from the event loop, never
  // from inside close().
  if (!unreported.empty()) {
    QMetaObject::invokeMethod(
        q,
        [q = q, ids = std::move(unreported)] {
          for (const quint64 id : ids) emit q->writeFailed(id, SerialPortError(kNotOpen));
        },
        Qt::QueuedConnection);
    unreported.clear();
  }
}

SerialPort::SerialPort(QObject* parent) : SerialPort(std::make_unique<SerialDevice>(), parent) {}

SerialPort::SerialPort(std::unique_ptr<SerialDevice> device, QObject* parent)
    : QObject(parent), d(std::make_unique<Impl>(this, std::move(device))) {}

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
  if (storeChanged(d->line.baudRate, bitsPerSecond) && isOpen()) d->dev->applyLineSettings(d->line, false);
}

int SerialPort::baudRate() const { return d->line.baudRate; }

void SerialPort::setDataBits(int bits) {
  if (storeChanged(d->line.dataBits, bits) && isOpen()) d->dev->applyLineSettings(d->line, false);
}

void SerialPort::setParity(Parity p) {
  if (storeChanged(d->line.parity, p) && isOpen()) d->dev->applyLineSettings(d->line, false);
}

void SerialPort::setStopBits(StopBits s) {
  if (storeChanged(d->line.stopBits, s) && isOpen()) d->dev->applyLineSettings(d->line, false);
}

void SerialPort::setFlowControl(const FlowControl& f) {
  if (storeChanged(d->line.flow, f) && isOpen()) d->dev->applyLineSettings(d->line, true);
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

bool SerialPort::isOpen() const { return d->dev->isOpen(); }

int SerialPort::write(const Bytes& data) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  if (data.empty()) return 0;
  return d->writeAndWait(data);
}

quint64 SerialPort::queueWrite(const Bytes& data) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  const quint64 id = ++d->lastId;
  d->unreported.push_back(id);
  const std::shared_ptr<Impl::Period> p = d->period;
  if (data.empty() || d->blockingWrites) {
    std::optional<SerialPortError> error;
    std::uint64_t inputAt = Impl::inputPosition(*p, d->dev.get());
    try {
      if (!data.empty()) d->writeAndWait(data, &inputAt);
    } catch (const SerialPortError& e) {
      error = e;
    }
    QMetaObject::invokeMethod(
        this, [p, id, error, inputAt] { Impl::reportWrite(*p, id, error, inputAt); }, Qt::QueuedConnection);
    return id;
  }
  {
    std::lock_guard<std::mutex> lock(p->m);
    p->jobs.push_back({id, data, d->timeouts, nullptr});
  }
  p->writeCv.notify_all();
  return id;
}

void SerialPort::setBlockingWrites(bool on) { d->blockingWrites = on; }

void SerialPort::expectInput(int bytes) {
  if (!d->period) return;
  // A character's time on the line: start bit, data bits, parity and stop bits (1.5 counts as 2).
  const LineSettings& l = d->line;
  const int bits = 1 + l.dataBits + (l.parity == Parity::None ? 0 : 1) + (l.stopBits == StopBits::One ? 1 : 2);
  const double charMs = 1000.0 * bits / std::max(l.baudRate, 1);
  // Slack for a sender's jitter: two characters and 10 ms.  Running out of it costs only an
  // early hand-over of the bytes that have come.
  const int ms = static_cast<int>(std::ceil(charMs * (std::max(bytes, 0) + 2))) + 10;
  std::lock_guard<std::mutex> lock(d->period->m);
  d->period->expectBytes = bytes;
  d->period->expectMs = ms;
}

int SerialPort::read(Bytes& out, int count) {
  out.clear();
  if (!isOpen()) throw SerialPortError(kNotOpen);
  if (count <= 0) return 0;
  // Counted under the lock the writer's reading of the input position takes, so that reading
  // never sees the bytes both gone from the device and not yet counted.
  std::lock_guard<std::mutex> lock(d->period->m);
  const int n = d->dev->read(out, count);
  d->period->readTotal += static_cast<std::uint64_t>(std::max(n, 0));
  return n;
}

std::uint64_t SerialPort::inputPosition() const {
  if (!d->period) return 0;
  std::lock_guard<std::mutex> lock(d->period->m);
  return d->period->readTotal;
}

std::uint64_t SerialPort::inputPositionAtWrite() const { return d->inputAtWrite; }

int SerialPort::waitingInputCount() {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  return d->dev->inputCount();
}

void SerialPort::setDtrLine(bool on) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  d->dev->setModemLine(SerialDevice::Line::Dtr, on);
}

void SerialPort::setRtsLine(bool on) {
  if (!isOpen()) throw SerialPortError(kNotOpen);
  d->dev->setModemLine(SerialDevice::Line::Rts, on);
}

}  // namespace dovu

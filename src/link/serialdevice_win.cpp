// SerialDevice on the Windows communications functions.
//
// The device is opened for overlapped I/O, so that the event thread's WaitCommEvent and the
// owner's ReadFile/WriteFile run side by side, each with a completion record and an event of its
// own.  A manual-reset stop event ends the event thread's wait from any thread, so closing never
// waits for a line event that will not come.  Every wait on the driver is bounded: a request it
// does not give back after a cancel leaves its record (and buffer) abandoned, never reused.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

#include "link/serialdevice.h"

namespace dovu {

namespace {

using Clock = std::chrono::steady_clock;

// Driver queue sizes in bytes; the XON and XOFF limits are a quarter of the input queue.
constexpr DWORD kQueueSize = 1024;
// How often the input queue is looked at while line events cannot be waited for, and while a
// line-event wait is pending (a wait that misses an arrival is not left alone for long).
constexpr DWORD kRecheckMs = 100;
// After a line-event wait that ended without cause, events are given up for this long, doubled
// with every further such wait up to kMaxPollSpanMs, before the next wait is tried.
constexpr DWORD kFirstPollSpanMs = 200;
constexpr DWORD kMaxPollSpanMs = 6400;
// A wait that completes with nothing arrived is normal now and then (a mask change completes
// it); more in a row than this and events are taken as broken.
constexpr int kEmptyWakesTolerated = 2;
// How long a driver gets to give back a record after its request was cancelled, and how long
// a read that should complete at once may take.  A record not given back by then is abandoned.
constexpr DWORD kCancelGraceMs = 500;
constexpr DWORD kReadLimitMs = 2000;
// After the last write, closing waits its bytes' time on the line plus this margin (the
// adapter's own FIFO, the USB frame), at most kCloseDrainCapMs, before the line is reset.
constexpr long long kCloseMarginMs = 30;
constexpr long long kCloseDrainCapMs = 2000;

// GetLastError() as the component's system error number.
int lastError() { return static_cast<int>(::GetLastError()); }

// "COM7" -> "\\.\COM7"; a name that already starts with "\\" is taken as it is.
std::wstring devicePath(const std::string& port) {
  std::string path = port.rfind("\\\\", 0) == 0 ? port : "\\\\.\\" + port;
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), n);
  return wide;
}

void closeHandle(HANDLE& h) {
  if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  h = nullptr;
}

// A line without modem control lines (wine's emulation of a pseudo-terminal) refuses them.
bool noModemLines(DWORD err) { return err == ERROR_NOT_SUPPORTED; }

// An overlapped request's record, its completion event and its data.  The driver owns record and
// data from the request until it completes: a record it has not given back in time is abandoned
// (never freed, never reused), and the next request gets a new one.
struct IoRecord {
  OVERLAPPED ov{};
  Bytes buffer;
  IoRecord() : event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~IoRecord() { closeHandle(event); }
  IoRecord(const IoRecord&) = delete;
  IoRecord& operator=(const IoRecord&) = delete;
  // A fresh record for the next request.
  OVERLAPPED* start() {
    ov = OVERLAPPED{};
    ov.hEvent = event;
    ::ResetEvent(event);
    return &ov;
  }
  HANDLE event;
};

// The record in slot, made when there is none; nullptr when no event can be made.
IoRecord* record(std::unique_ptr<IoRecord>& slot) {
  if (!slot) slot = std::make_unique<IoRecord>();
  return slot->event ? slot.get() : nullptr;
}

// The driver may still write into the record: it outlives the device.
void abandon(std::unique_ptr<IoRecord>& slot) { (void)slot.release(); }

// How an overlapped request ended.
struct Completion {
  bool done = false;       // the driver gave the record back
  bool cancelled = false;  // ended here: it was still pending when its time was up
  DWORD error = ERROR_SUCCESS;
  DWORD bytes = 0;
};

// Waits up to ms (or INFINITE) for the driver to give the record back.  The event alone is not
// proof: under wine it can be signalled before the result is in the record.
bool awaitRecord(IoRecord& r, DWORD ms) {
  const ULONGLONG deadline = ::GetTickCount64() + ms;
  for (;;) {
    if (HasOverlappedIoCompleted(&r.ov)) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (ms != INFINITE && now >= deadline) return false;
    const DWORD left = ms == INFINITE ? INFINITE : static_cast<DWORD>(deadline - now);
    if (::WaitForSingleObject(r.event, left) == WAIT_OBJECT_0 && !HasOverlappedIoCompleted(&r.ov)) ::Sleep(1);
  }
}

// Waits up to waitMs for a pending request, then cancels it and gives the driver kCancelGraceMs
// more.  done is false when the driver kept the record even then.
Completion finish(HANDLE h, IoRecord& r, DWORD waitMs) {
  Completion c;
  if (!awaitRecord(r, waitMs)) {
    c.cancelled = true;
    ::CancelIoEx(h, &r.ov);
    if (!awaitRecord(r, kCancelGraceMs)) return c;
  }
  c.done = true;
  if (!::GetOverlappedResult(h, &r.ov, &c.bytes, FALSE)) c.error = ::GetLastError();
  return c;
}

}  // namespace

struct SerialDevice::Os {
  HANDLE h = INVALID_HANDLE_VALUE;
  HANDLE stopEvent = nullptr;  // manual reset: set by stopWaiting() until the device closes
  std::unique_ptr<IoRecord> waitRec;   // the event thread's WaitCommEvent
  std::unique_ptr<IoRecord> readRec;   // the owner's reads
  std::unique_ptr<IoRecord> writeRec;  // the owner's writes
  std::optional<DCB> original;  // the line's settings when it was opened
  std::optional<COMMTIMEOUTS> originalTimeouts;
  std::optional<Timeouts> applied;  // the write time-out the driver holds
  std::atomic<int> baudRate{9600};  // read by the writer thread
  double charTimeMs = 10000.0 / 9600;  // one character with its start, parity and stop bits
  // DTR and RTS as last set, kept when the line settings change without touching them.
  bool dtrOn = false;
  bool rtsOn = false;
  // The last write: its size and when it was done.  Bytes the driver counts as sent may still be
  // in the adapter's own FIFO for as long as they take on the line.
  std::size_t lastWriteBytes = 0;
  Clock::time_point lastWriteDone{};
  bool outputStuck = false;  // a write ended before its bytes had left the driver
  // Every byte that has arrived is either read or still queued, so the two together count the
  // arrivals: the event thread reports when that count has grown since its last report.
  std::atomic<unsigned long long> totalRead{0};
  unsigned long long reported = 0;  // event thread: arrivals at the last report
  // The event thread's WaitCommEvent, which may stay pending from one call to the next.
  DWORD waitMask = 0;
  bool waitPending = false;
  bool waitCompleted = false;  // a wait ended normally since the queue was last looked at
  // Line events that cannot be waited for (wine ends waits on a pseudo-terminal as aborted; a
  // broken driver may complete each at once): the queue is looked at every kRecheckMs until
  // pollUntil, then a wait is tried again.  idleWakes counts waits in a row that brought nothing.
  int idleWakes = 0;
  Clock::time_point pollUntil{};

  bool open() const { return h != INVALID_HANDLE_VALUE; }

  // The time-outs of the driver: reads return at once with what has arrived; writes end at
  // their limit.
  void applyTimeouts(const Timeouts& t) {
    if (applied == t) return;
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = MAXDWORD;
    ct.ReadTotalTimeoutMultiplier = 0;
    ct.ReadTotalTimeoutConstant = 0;
    ct.WriteTotalTimeoutMultiplier = static_cast<DWORD>(std::max(0, t.writeTotalMultiplier));
    ct.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(0, t.writeTotalConstant));
    if (!::SetCommTimeouts(h, &ct)) throw SerialPortError(kTimeoutsFailed, lastError());
    applied = t;
  }

  // Bytes in the input and output queues; false when the device no longer answers.
  bool queues(DWORD& in, DWORD& out) {
    COMSTAT st{};
    DWORD errors = 0;
    if (!::ClearCommError(h, &errors, &st)) return false;
    in = st.cbInQue;
    out = st.cbOutQue;
    return true;
  }

  bool answers() {
    DWORD in = 0, out = 0;
    return queues(in, out);
  }

  // A write's error as the user should read it: a device pulled out cancels or fails its pending
  // requests and answers nothing more, which is a lost device whatever the request reported.
  int writeError(DWORD err) { return answers() ? static_cast<int>(err) : ERROR_DEVICE_NOT_CONNECTED; }

  // Bytes that have arrived since the device was opened; false when the device no longer
  // answers.  The read count is taken first: a read in between can only make this too low,
  // which delays a report, never too high, which would swallow one.
  bool arrivals(unsigned long long& count) {
    const unsigned long long read = totalRead.load();
    DWORD in = 0, out = 0;
    if (!queues(in, out)) return false;
    count = read + in;
    return true;
  }

  // A line-event wait brought nothing: after a few in a row, or at once when it was aborted,
  // events are given up for a span that doubles each time.
  void idleWake(bool aborted) {
    ++idleWakes;
    if (!aborted && idleWakes <= kEmptyWakesTolerated) return;
    const int doublings = std::min(idleWakes - 1, 5);
    const DWORD span = std::min<DWORD>(kFirstPollSpanMs << std::max(doublings, 0), kMaxPollSpanMs);
    pollUntil = Clock::now() + std::chrono::milliseconds(span);
  }

  // Lets the last write leave the adapter before the line is reset: a purge would drop it, and
  // other line settings would garble it.  A write that ended early left bytes that may never go
  // out (a controller that stopped reading): those are dropped instead.
  void settleOutput() {
    if (outputStuck) {
      ::PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
      return;
    }
    if (lastWriteBytes == 0) return;
    const auto onLine = std::chrono::microseconds(
        static_cast<long long>(static_cast<double>(lastWriteBytes) * charTimeMs * 1000.0) + kCloseMarginMs * 1000);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastWriteDone + onLine - Clock::now()).count();
    if (left > 0) ::Sleep(static_cast<DWORD>(std::min(left, kCloseDrainCapMs)));
  }

  // Ends a line-event wait that is still pending: an event mask of 0 completes it, a cancel
  // follows, and a record the driver keeps even then is abandoned.
  void endWait() {
    if (!waitPending) return;
    waitPending = false;
    if (!finish(h, *waitRec, kCancelGraceMs).done) abandon(waitRec);
  }

  void closeAll() {
    if (open()) {
      settleOutput();
      ::SetCommMask(h, 0);
      endWait();
      ::PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR);
      if (original) ::SetCommState(h, &*original);
      if (originalTimeouts) ::SetCommTimeouts(h, &*originalTimeouts);
      ::CloseHandle(h);
    }
    h = INVALID_HANDLE_VALUE;
    // Every record still here was given back; the next open period starts with new ones.
    waitRec.reset();
    readRec.reset();
    writeRec.reset();
    waitPending = false;
    waitCompleted = false;
    idleWakes = 0;
    pollUntil = {};
    closeHandle(stopEvent);
    original.reset();
    originalTimeouts.reset();
    applied.reset();
    totalRead = 0;
    reported = 0;
    lastWriteBytes = 0;
    outputStuck = false;
    dtrOn = rtsOn = false;
  }
};

SerialDevice::SerialDevice() : os_(std::make_unique<Os>()) {}

SerialDevice::~SerialDevice() { close(); }

bool SerialDevice::isOpen() const { return os_->open(); }

void SerialDevice::open(const std::string& name, const LineSettings& settings) {
  Os& v = *os_;
  if (v.open()) return;
  v.h = ::CreateFileW(devicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OVERLAPPED, nullptr);
  if (v.h == INVALID_HANDLE_VALUE) throw SerialPortError(kOpenFailed, lastError());
  auto fail = [&v](int code, int err) {
    v.closeAll();
    throw SerialPortError(code, err);
  };
  v.stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!v.stopEvent || !record(v.waitRec) || !record(v.readRec) || !record(v.writeRec)) fail(kOpenFailed, lastError());
  if (!::SetupComm(v.h, kQueueSize, kQueueSize)) fail(kBuffersFailed, lastError());
  DCB found{};
  found.DCBlength = sizeof found;
  if (!::GetCommState(v.h, &found)) fail(kConfigureFailed, lastError());
  v.original = found;
  COMMTIMEOUTS foundTimeouts{};
  if (::GetCommTimeouts(v.h, &foundTimeouts)) v.originalTimeouts = foundTimeouts;
  // Nothing left over from an earlier user.
  ::PurgeComm(v.h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  try {
    applyLineSettings(settings, true);
    v.applyTimeouts(Timeouts{});
  } catch (const SerialPortError& e) {
    fail(e.code(), e.systemError());
  }
  if (!::SetCommMask(v.h, EV_RXCHAR)) fail(kOpenFailed, lastError());
}

void SerialDevice::close() { os_->closeAll(); }

void SerialDevice::applyLineSettings(const LineSettings& settings, bool modemLines) {
  Os& v = *os_;
  // The DCB carries DTR and RTS control as well: SetCommState drives both lines by it at once.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(v.h, &dcb)) throw SerialPortError(kConfigureFailed, lastError());
  if (settings.dataBits < 5 || settings.dataBits > 8 || settings.baudRate <= 0)
    throw SerialPortError(kConfigureFailed, ERROR_INVALID_PARAMETER);
  dcb.fBinary = TRUE;
  dcb.BaudRate = static_cast<DWORD>(settings.baudRate);
  dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
  switch (settings.parity) {
    case Parity::None: dcb.Parity = NOPARITY; break;
    case Parity::Odd: dcb.Parity = ODDPARITY; break;
    case Parity::Even: dcb.Parity = EVENPARITY; break;
    case Parity::Mark: dcb.Parity = MARKPARITY; break;
    case Parity::Space: dcb.Parity = SPACEPARITY; break;
  }
  dcb.fParity = settings.parity != Parity::None;
  double stopBits = 1;
  switch (settings.stopBits) {
    case StopBits::One: dcb.StopBits = ONESTOPBIT; break;
    case StopBits::OneAndHalf: dcb.StopBits = ONE5STOPBITS; stopBits = 1.5; break;
    case StopBits::Two: dcb.StopBits = TWOSTOPBITS; stopBits = 2; break;
  }
  const FlowControl& f = settings.flow;
  dcb.fOutxCtsFlow = f.outCtsFlow;
  dcb.fOutxDsrFlow = f.outDsrFlow;
  // Without modemLines, a line under the session's own control stays as the session set it.
  const bool dtr = modemLines ? f.controlDtr == DtrControl::Enable : v.dtrOn;
  const bool rts = modemLines ? f.controlRts == RtsControl::Enable : v.rtsOn;
  switch (f.controlDtr) {
    case DtrControl::Disable:
    case DtrControl::Enable: dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE; break;
    case DtrControl::Handshake: dcb.fDtrControl = DTR_CONTROL_HANDSHAKE; break;
  }
  switch (f.controlRts) {
    case RtsControl::Disable:
    case RtsControl::Enable: dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE; break;
    case RtsControl::Handshake: dcb.fRtsControl = RTS_CONTROL_HANDSHAKE; break;
    case RtsControl::Toggle: dcb.fRtsControl = RTS_CONTROL_TOGGLE; break;
  }
  dcb.fOutX = f.xonXoffOut;
  dcb.fInX = f.xonXoffIn;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.XonLim = static_cast<WORD>(kQueueSize / 4);
  dcb.XoffLim = static_cast<WORD>(kQueueSize / 4);
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.EvtChar = 0;
  if (!::SetCommState(v.h, &dcb)) throw SerialPortError(kConfigureFailed, lastError());
  v.baudRate = settings.baudRate;
  const double bits = 1 + settings.dataBits + (dcb.fParity ? 1 : 0) + stopBits;
  v.charTimeMs = bits * 1000.0 / settings.baudRate;
  v.dtrOn = dtr;
  v.rtsOn = rts;
}

int SerialDevice::write(const Bytes& data, const Timeouts& timeouts) {
  Os& v = *os_;
  v.applyTimeouts(timeouts);
  const long long limit = timeouts.limitMs(data.size());
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0LL, limit));
  auto msLeft = [&]() -> DWORD {
    if (limit <= 0) return INFINITE;
    const ULONGLONG now = ::GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, INFINITE - 1));
  };
  IoRecord* r = record(v.writeRec);
  if (!r) throw SerialPortError(kWriteFailed, lastError());
  r->buffer = data;

  // Until the driver has sent them, a failure leaves bytes queued.
  v.outputStuck = true;
  Completion c;
  if (::WriteFile(v.h, r->buffer.data(), static_cast<DWORD>(r->buffer.size()), nullptr, r->start())) {
    c.done = true;
    ::GetOverlappedResult(v.h, &r->ov, &c.bytes, FALSE);
  } else {
    const DWORD err = ::GetLastError();
    if (err != ERROR_IO_PENDING) throw SerialPortError(kWriteFailed, v.writeError(err));
    // The driver ends the write at the same limit; this wait holds it to it where it does not.
    c = finish(v.h, *r, msLeft());
  }
  if (!c.done) abandon(v.writeRec);
  // Only a write that ran out of time is a time-out; one the driver aborted by itself was not.
  if (!c.done || c.error != ERROR_SUCCESS)
    throw SerialPortError(kWriteFailed, v.writeError(c.cancelled ? ERROR_TIMEOUT : c.error));
  if (c.bytes < data.size()) throw SerialPortError(kWriteFailed, ERROR_TIMEOUT);

  // Done means sent: wait until the driver's output queue is empty, within the same limit,
  // sleeping for as long as the bytes still in it take at the line's speed.
  const DWORD msPerKiloByte = static_cast<DWORD>(std::max(1, 10 * 1000 * 1000 / std::max(1, v.baudRate.load())));
  for (;;) {
    DWORD in = 0, out = 0;
    if (!v.queues(in, out)) throw SerialPortError(kWriteFailed, ERROR_DEVICE_NOT_CONNECTED);
    if (out == 0) break;
    const DWORD left = msLeft();
    if (left == 0) throw SerialPortError(kWriteFailed, ERROR_TIMEOUT);
    ::Sleep(std::min(left, std::max<DWORD>(1, out * msPerKiloByte / 1000)));
  }
  v.outputStuck = false;
  v.lastWriteBytes = c.bytes;
  v.lastWriteDone = Clock::now();
  return static_cast<int>(c.bytes);
}

int SerialDevice::read(Bytes& out, int count) {
  Os& v = *os_;
  // Only what has arrived: a read of an empty queue could stay pending (it does under wine,
  // whatever the time-outs say).
  out.clear();
  DWORD in = 0, queued = 0;
  if (!v.queues(in, queued)) throw SerialPortError(kReadFailed, lastError());
  count = static_cast<int>(std::min<DWORD>(in, static_cast<DWORD>(count)));
  if (count == 0) return 0;
  IoRecord* r = record(v.readRec);
  if (!r) throw SerialPortError(kReadFailed, lastError());
  r->buffer.assign(static_cast<std::size_t>(count), '\0');
  // With the read time-outs of the driver the read completes at once with what has arrived.
  Completion c;
  if (::ReadFile(v.h, r->buffer.data(), static_cast<DWORD>(count), nullptr, r->start())) {
    c.done = true;
    ::GetOverlappedResult(v.h, &r->ov, &c.bytes, FALSE);
  } else {
    const DWORD err = ::GetLastError();
    if (err != ERROR_IO_PENDING) throw SerialPortError(kReadFailed, static_cast<int>(err));
    c = finish(v.h, *r, kReadLimitMs);
  }
  if (!c.done) abandon(v.readRec);
  // A read cut short here still hands out what it got.
  if (!c.done || (c.error != ERROR_SUCCESS && !(c.cancelled && c.error == ERROR_OPERATION_ABORTED)))
    throw SerialPortError(kReadFailed, !v.answers() ? ERROR_DEVICE_NOT_CONNECTED
                                    : c.done    ? static_cast<int>(c.error)
                                                : ERROR_TIMEOUT);
  out.assign(r->buffer, 0, c.bytes);
  v.totalRead += c.bytes;
  return static_cast<int>(c.bytes);
}

int SerialDevice::inputCount() {
  DWORD in = 0, out = 0;
  if (!os_->queues(in, out)) throw SerialPortError(kQueueStatusFailed, lastError());
  return static_cast<int>(in);
}

void SerialDevice::setModemLine(Line line, bool on) {
  const DWORD fn = line == Line::Dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
  if (!::EscapeCommFunction(os_->h, fn)) {
    const DWORD err = ::GetLastError();
    if (!noModemLines(err)) throw SerialPortError(kModemLineFailed, static_cast<int>(err));
  }
  (line == Line::Dtr ? os_->dtrOn : os_->rtsOn) = on;
}

// WaitCommEvent reports only bytes that arrive while it is pending, and under wine it may miss
// some or complete with an empty mask.  So the count of arrivals decides: checked before a wait is
// started, once more after (bytes that came in between), now and then while it is pending and
// after it completes.  A wait that is still pending when an arrival is reported stays pending for
// the next call; closing the device ends it.  Every arrival is reported: the byte threshold and
// the bound of the Linux wait are only hints, left out here.
SerialDevice::WaitResult SerialDevice::waitForInput(int, int) {
  Os& v = *os_;
  for (;;) {
    if (::WaitForSingleObject(v.stopEvent, 0) == WAIT_OBJECT_0) return {Wait::Stopped};
    unsigned long long now = 0;
    if (!v.arrivals(now)) return {Wait::Lost, lastError()};
    const bool completed = std::exchange(v.waitCompleted, false);
    if (now > v.reported) {
      if (completed) v.idleWakes = 0;  // line events work
      v.reported = now;
      return {Wait::Input};
    }
    if (completed) v.idleWake(false);
    if (!v.waitPending && Clock::now() < v.pollUntil) {
      // Events are broken for now: the queue is looked at every kRecheckMs instead; a device that
      // is really gone fails ClearCommError at the top of the loop.
      if (::WaitForSingleObject(v.stopEvent, kRecheckMs) == WAIT_FAILED) return {Wait::Lost, lastError()};
      continue;
    }
    if (!v.waitPending) {
      if (::WaitCommEvent(v.h, &v.waitMask, v.waitRec->start())) {
        v.waitCompleted = true;
        continue;
      }
      const DWORD err = ::GetLastError();
      if (err != ERROR_IO_PENDING) return {Wait::Lost, static_cast<int>(err)};
      v.waitPending = true;
      continue;  // bytes that came before the wait started are counted at the top
    }
    const HANDLE events[2] = {v.stopEvent, v.waitRec->event};
    const DWORD r = ::WaitForMultipleObjects(2, events, FALSE, kRecheckMs);
    if (r == WAIT_OBJECT_0) continue;
    if (r != WAIT_TIMEOUT && r != WAIT_OBJECT_0 + 1) return {Wait::Lost, lastError()};
    if (!HasOverlappedIoCompleted(&v.waitRec->ov)) {
      // Signalled before the result is in the record (wine): looked at again after kRecheckMs
      // instead of at once, which would spin for as long as that takes.
      if (r == WAIT_OBJECT_0 + 1) ::ResetEvent(v.waitRec->event);
      continue;
    }
    v.waitPending = false;
    DWORD n = 0;
    if (::GetOverlappedResult(v.h, &v.waitRec->ov, &n, FALSE)) {
      v.waitCompleted = true;
      continue;
    }
    const DWORD err = ::GetLastError();
    // Wine ends every wait on a line without modem lines (a pseudo-terminal) as aborted, and a
    // driver may do so now and then: the queue is polled for a while before the next wait.
    if (err == ERROR_OPERATION_ABORTED) {
      v.idleWake(true);
      continue;
    }
    if (::WaitForSingleObject(v.stopEvent, 0) == WAIT_OBJECT_0) return {Wait::Stopped};
    return {Wait::Lost, static_cast<int>(err)};
  }
}

void SerialDevice::stopWaiting() { ::SetEvent(os_->stopEvent); }

// A device that has gone away no longer answers ClearCommError.
int SerialDevice::probeEnd() { return os_->answers() ? 0 : lastError(); }

SerialFault faultFromSystemError(int code, int systemError) {
  switch (static_cast<DWORD>(systemError)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return SerialFault::NotFound;
    // At opening, a port held by another program and one the user may not open look the same;
    // later, it is what an unplugged adapter gives.
    case ERROR_ACCESS_DENIED: return code == kOpenFailed ? SerialFault::InUseOrDenied : SerialFault::DeviceLost;
    // USB serial drivers report a pulled adapter in their own words: "not ready" and "bad
    // command" as well as the general failure.
    case ERROR_NOT_READY:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED: return SerialFault::DeviceLost;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT: return SerialFault::WriteTimedOut;
    case ERROR_INVALID_PARAMETER: return SerialFault::SettingsRefused;
    default: return SerialFault::Unknown;
  }
}

}  // namespace dovu

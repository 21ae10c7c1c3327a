// SerialDevice on the Windows communications functions.
//
// The device is opened for overlapped I/O, so that the event thread's WaitCommEvent and the
// owner's ReadFile/WriteFile run side by side, each with a completion record and an event of its
// own.  A manual-reset stop event ends the event thread's wait from any thread, so closing never
// waits for a line event that will not come.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <optional>

#include "link/serialdevice.h"

namespace dovu {

namespace {

// Driver queue sizes in bytes; the XON and XOFF limits are a quarter of the input queue.
constexpr DWORD kQueueSize = 1024;
// How often a pending line-event wait looks at the input queue itself.
constexpr DWORD kRecheckMs = 100;
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

}  // namespace

struct SerialDevice::Os {
  HANDLE h = INVALID_HANDLE_VALUE;
  HANDLE stopEvent = nullptr;   // manual reset: set by stopWaiting() until the device closes
  HANDLE waitEvent = nullptr;   // completion of the event thread's WaitCommEvent
  HANDLE readEvent = nullptr;   // completion of the owner's reads
  HANDLE writeEvent = nullptr;  // completion of the owner's writes
  std::optional<DCB> original;  // the line's settings when it was opened
  std::optional<COMMTIMEOUTS> originalTimeouts;
  std::optional<Timeouts> applied;  // the write time-out the driver holds
  int baudRate = 9600;
  // Every byte that has arrived is either read or still queued, so the two together count the
  // arrivals: the event thread reports when that count has grown since its last report.
  std::atomic<unsigned long long> totalRead{0};
  unsigned long long reported = 0;  // event thread: arrivals at the last report
  // The event thread's WaitCommEvent, which may stay pending from one call to the next.
  OVERLAPPED waitRecord{};
  DWORD waitMask = 0;
  bool waitPending = false;
  bool lineEventsBroken = false;  // the driver cannot wait for line events on this device

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
    if (!::SetCommTimeouts(h, &ct)) throw SerialPortError(kErrSetTimeouts, lastError());
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

  void closeAll() {
    if (open()) {
      ::SetCommMask(h, 0);
      ::PurgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
      if (original) ::SetCommState(h, &*original);
      if (originalTimeouts) ::SetCommTimeouts(h, &*originalTimeouts);
      ::CloseHandle(h);
      // Closing ends a pending line-event wait; its record must outlive it.
      if (waitPending) ::WaitForSingleObject(waitEvent, 1000);
    }
    waitPending = false;
    lineEventsBroken = false;
    h = INVALID_HANDLE_VALUE;
    closeHandle(stopEvent);
    closeHandle(waitEvent);
    closeHandle(readEvent);
    closeHandle(writeEvent);
    original.reset();
    originalTimeouts.reset();
    applied.reset();
    totalRead = 0;
    reported = 0;
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
  if (v.h == INVALID_HANDLE_VALUE) throw SerialPortError(kErrOpen, lastError());
  auto fail = [&v](int code, int err) {
    v.closeAll();
    throw SerialPortError(code, err);
  };
  for (HANDLE* e : {&v.stopEvent, &v.waitEvent, &v.readEvent, &v.writeEvent}) {
    *e = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!*e) fail(kErrOpen, lastError());
  }
  if (!::SetupComm(v.h, kQueueSize, kQueueSize)) fail(kErrSetup, lastError());
  DCB found{};
  found.DCBlength = sizeof found;
  if (!::GetCommState(v.h, &found)) fail(kErrSetState, lastError());
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
  if (!::SetCommMask(v.h, EV_RXCHAR)) fail(kErrOpen, lastError());
}

void SerialDevice::close() { os_->closeAll(); }

void SerialDevice::applyLineSettings(const LineSettings& settings, bool /*modemLines*/) {
  // The DCB carries DTR and RTS control as well: the driver drives both lines by it.
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(os_->h, &dcb)) throw SerialPortError(kErrSetState, lastError());
  if (settings.dataBits < 5 || settings.dataBits > 8 || settings.baudRate <= 0)
    throw SerialPortError(kErrSetState, ERROR_INVALID_PARAMETER);
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
  switch (settings.stopBits) {
    case StopBits::One: dcb.StopBits = ONESTOPBIT; break;
    case StopBits::OneAndHalf: dcb.StopBits = ONE5STOPBITS; break;
    case StopBits::Two: dcb.StopBits = TWOSTOPBITS; break;
  }
  const FlowControl& f = settings.flow;
  dcb.fOutxCtsFlow = f.outCtsFlow;
  dcb.fOutxDsrFlow = f.outDsrFlow;
  switch (f.controlDtr) {
    case DtrControl::Disable: dcb.fDtrControl = DTR_CONTROL_DISABLE; break;
    case DtrControl::Enable: dcb.fDtrControl = DTR_CONTROL_ENABLE; break;
    case DtrControl::Handshake: dcb.fDtrControl = DTR_CONTROL_HANDSHAKE; break;
  }
  switch (f.controlRts) {
    case RtsControl::Disable: dcb.fRtsControl = RTS_CONTROL_DISABLE; break;
    case RtsControl::Enable: dcb.fRtsControl = RTS_CONTROL_ENABLE; break;
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
  if (!::SetCommState(os_->h, &dcb)) throw SerialPortError(kErrSetState, lastError());
  os_->baudRate = settings.baudRate;
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

  OVERLAPPED ov{};
  ov.hEvent = v.writeEvent;
  ::ResetEvent(v.writeEvent);
  DWORD written = 0;
  if (!::WriteFile(v.h, data.data(), static_cast<DWORD>(data.size()), nullptr, &ov)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_IO_PENDING) throw SerialPortError(kErrWrite, static_cast<int>(err));
    // The driver ends the write at the same limit; this wait holds it to it where it does not.
    if (::WaitForSingleObject(v.writeEvent, msLeft()) != WAIT_OBJECT_0) ::CancelIoEx(v.h, &ov);
  }
  // The record lives on this stack: always wait for the write's end.
  if (!::GetOverlappedResult(v.h, &ov, &written, TRUE)) {
    const DWORD err = ::GetLastError();
    throw SerialPortError(kErrWrite, static_cast<int>(err == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : err));
  }
  if (written < data.size()) throw SerialPortError(kErrWrite, ERROR_TIMEOUT);

  // Done means sent: wait until the driver's output queue is empty, within the same limit,
  // sleeping for as long as the bytes still in it take at the line's speed.
  const DWORD msPerKiloByte = static_cast<DWORD>(std::max(1, 10 * 1000 * 1000 / std::max(1, v.baudRate)));
  for (;;) {
    DWORD in = 0, out = 0;
    if (!v.queues(in, out)) throw SerialPortError(kErrWrite, lastError());
    if (out == 0) break;
    const DWORD left = msLeft();
    if (left == 0) throw SerialPortError(kErrWrite, ERROR_TIMEOUT);
    ::Sleep(std::min(left, std::max<DWORD>(1, out * msPerKiloByte / 1000)));
  }
  return static_cast<int>(written);
}

int SerialDevice::read(Bytes& out, int count) {
  Os& v = *os_;
  // Only what has arrived: a read of an empty queue could stay pending (it does under wine,
  // whatever the time-outs say).
  out.clear();
  DWORD in = 0, queued = 0;
  if (!v.queues(in, queued)) throw SerialPortError(kErrRead, lastError());
  count = static_cast<int>(std::min<DWORD>(in, static_cast<DWORD>(count)));
  if (count == 0) return 0;
  out.assign(static_cast<std::size_t>(count), '\0');
  OVERLAPPED ov{};
  ov.hEvent = v.readEvent;
  ::ResetEvent(v.readEvent);
  DWORD got = 0;
  // With the read time-outs of the driver the read completes at once with what has arrived.
  if (!::ReadFile(v.h, out.data(), static_cast<DWORD>(count), nullptr, &ov)) {
    const DWORD err = ::GetLastError();
    if (err != ERROR_IO_PENDING) {
      out.clear();
      throw SerialPortError(kErrRead, static_cast<int>(err));
    }
  }
  if (!::GetOverlappedResult(v.h, &ov, &got, TRUE)) {
    out.clear();
    throw SerialPortError(kErrRead, lastError());
  }
  out.resize(got);
  v.totalRead += got;
  return static_cast<int>(got);
}

int SerialDevice::inputCount() {
  DWORD in = 0, out = 0;
  if (!os_->queues(in, out)) throw SerialPortError(kErrClearCommError, lastError());
  return static_cast<int>(in);
}

void SerialDevice::setModemLine(Line line, bool on) {
  const DWORD fn = line == Line::Dtr ? (on ? SETDTR : CLRDTR) : (on ? SETRTS : CLRRTS);
  if (::EscapeCommFunction(os_->h, fn)) return;
  const DWORD err = ::GetLastError();
  if (!noModemLines(err)) throw SerialPortError(kErrEscape, static_cast<int>(err));
}

// WaitCommEvent reports only bytes that arrive while it is pending, and under wine it may miss
// some or complete with an empty mask.  So the count of arrivals decides: checked before a wait is
// started, once more after (bytes that came in between), now and then while it is pending and
// after it completes.  A wait that is still pending when an arrival is reported stays pending for
// the next call; closing the device ends it.
SerialDevice::WaitResult SerialDevice::waitForInput() {
  Os& v = *os_;
  for (;;) {
    if (::WaitForSingleObject(v.stopEvent, 0) == WAIT_OBJECT_0) return {Wait::Stopped};
    unsigned long long now = 0;
    if (!v.arrivals(now)) return {Wait::Lost, lastError()};
    if (now > v.reported) {
      v.reported = now;
      return {Wait::Input};
    }
    if (v.lineEventsBroken) {
      if (::WaitForSingleObject(v.stopEvent, kRecheckMs) == WAIT_FAILED) return {Wait::Lost, lastError()};
      continue;
    }
    if (!v.waitPending) {
      v.waitRecord = OVERLAPPED{};
      v.waitRecord.hEvent = v.waitEvent;
      ::ResetEvent(v.waitEvent);
      if (::WaitCommEvent(v.h, &v.waitMask, &v.waitRecord)) continue;
      const DWORD err = ::GetLastError();
      if (err != ERROR_IO_PENDING) return {Wait::Lost, static_cast<int>(err)};
      v.waitPending = true;
      continue;  // bytes that came before the wait started are counted at the top
    }
    const HANDLE events[2] = {v.stopEvent, v.waitEvent};
    const DWORD r = ::WaitForMultipleObjects(2, events, FALSE, kRecheckMs);
    if (r == WAIT_TIMEOUT || r == WAIT_OBJECT_0) continue;
    if (r != WAIT_OBJECT_0 + 1) return {Wait::Lost, lastError()};
    v.waitPending = false;
    DWORD n = 0;
    if (!::GetOverlappedResult(v.h, &v.waitRecord, &n, FALSE)) {
      const DWORD err = ::GetLastError();
      // Wine ends every wait on a line without modem lines (a pseudo-terminal) as aborted.  From
      // then on the queue is looked at every kRecheckMs instead; a device that is really gone
      // fails ClearCommError at the top of the loop.
      if (err == ERROR_OPERATION_ABORTED) {
        v.lineEventsBroken = true;
        continue;
      }
      if (::WaitForSingleObject(v.stopEvent, 0) == WAIT_OBJECT_0) return {Wait::Stopped};
      return {Wait::Lost, static_cast<int>(err)};
    }
  }
}

void SerialDevice::stopWaiting() { ::SetEvent(os_->stopEvent); }

// A device that has gone away no longer answers ClearCommError.
int SerialDevice::probeEnd() {
  DWORD in = 0, out = 0;
  return os_->queues(in, out) ? 0 : lastError();
}

}  // namespace dovu

#pragma once
// The platform layer beneath SerialPort: one serial device of the operating system, in plain C++
// without Qt, so that each system's layer can be built and tested on its own.  Implemented once
// per system (serialdevice_linux.cpp, serialdevice_win.cpp); SerialPort adds the event thread's
// hand-over to the owning thread on top.
//
// Three threads use an open device: the event thread only calls waitForInput(), the writer thread
// write() and, just before it, inputCount(); the owner calls everything else, stopWaiting()
// included, and closes only after both threads have ended.
#include <memory>
#include <string>

#include "base/bytes.h"
#include "link/serialerror.h"

namespace dovu {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };
enum class DtrControl { Disable, Enable, Handshake };
enum class RtsControl { Disable, Enable, Handshake, Toggle };

struct FlowControl {
  bool outCtsFlow = false;
  bool outDsrFlow = false;
  DtrControl controlDtr = DtrControl::Disable;
  RtsControl controlRts = RtsControl::Disable;
  bool xonXoffOut = false;
  bool xonXoffIn = false;
  bool operator==(const FlowControl&) const = default;
};

struct Timeouts {
  // A write may last at most writeTotalMultiplier ms per byte plus writeTotalConstant ms; both
  // zero: no limit.
  int writeTotalMultiplier = 100;
  int writeTotalConstant = 1000;
  bool operator==(const Timeouts&) const = default;
  // The limit of a write of n bytes in milliseconds; 0 when there is none.
  long long limitMs(std::size_t n) const {
    return static_cast<long long>(writeTotalMultiplier) * static_cast<long long>(n) + writeTotalConstant;
  }
};

struct LineSettings {
  int baudRate = 9600;
  int dataBits = 8;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  FlowControl flow;
};

class SerialDevice {
 public:
  SerialDevice();
  virtual ~SerialDevice();  // closes
  SerialDevice(const SerialDevice&) = delete;
  SerialDevice& operator=(const SerialDevice&) = delete;

  // Opens the device for reading and writing, exclusively, drops whatever an earlier user left in
  // its queues, applies the line settings and drives DTR and RTS as the flow control asks.  The
  // line's own settings found at open are kept for close().  Names: "/dev/ttyUSB0" or "ttyUSB0"
  // (found in /dev); "COM7" or "\\.\COM7".  Throws SerialPortError and stays closed on failure.
  void open(const std::string& name, const LineSettings& settings);
  // Drops the input queue, gives the line back the settings found at open and closes.  The last
  // write's bytes reach the line first; only those of a write that failed are dropped.  Nothing
  // when closed; never throws (a device that is already gone cannot be restored).
  void close();
  bool isOpen() const;

  // Speed, framing and flow control; modemLines also sets DTR and RTS as the flow control asks.
  void applyLineSettings(const LineSettings& settings, bool modemLines);
  // Writes every byte and waits until the driver has sent them, all within the time-out; a write
  // that cannot finish in time fails with code 2 and the system's time-out error.  Called on a
  // writer thread of its own, beside the owner's reads.  On Linux stopWaiting() also ends a write
  // under way, which then fails; on Windows a write runs to its end or its time-out.  Virtual so
  // that a stand-in can add a line's pace to a pseudo-terminal, which has none.
  virtual int write(const Bytes& data, const Timeouts& timeouts);
  // Called on the writer thread as it takes up a write, before it notes where the input stands:
  // nothing here.  A stand-in may run late there, as a busy machine's writer thread does.
  virtual void takingUpWrite() {}
  // Up to count bytes that have already arrived, at once; out gets exactly the bytes read.
  int read(Bytes& out, int count);
  // Bytes waiting in the input queue.
  int inputCount();
  // A line without modem control (a pseudo-terminal) takes these as done.
  enum class Line { Dtr, Rts };
  void setModemLine(Line line, bool on);

  // Event thread: blocks until bytes arrive (Input), stopWaiting() is called (Stopped) or the
  // device is gone (Lost, with the system's error number or -1).  Every arrival is reported once;
  // bytes a reader leaves in the queue are reported again only with the next arrival.
  //
  // With minBytes above 1 the arrivals are reported only once that many bytes are waiting, so
  // that a frame arriving at a line's pace wakes the reader once rather than once a byte; bytes
  // that came before a hang-up are still reported first.  timeoutMs bounds such a wait (TimedOut,
  // whatever is waiting; negative: no bound).  Both are hints: on Windows every arrival is
  // reported and a wait is not bounded.
  enum class Wait { Input, Stopped, Lost, TimedOut };
  struct WaitResult {
    Wait what;
    int systemError = -1;
  };
  WaitResult waitForInput(int minBytes = 1, int timeoutMs = -1);
  // Makes the current and every later waitForInput() of this open period return Stopped.
  void stopWaiting();
  // A notification found the input queue empty: 0 when the line is only quiet, -1 when it has
  // reached its end (hung up), else the system's error number.
  int probeEnd();

 private:
  struct Os;
  std::unique_ptr<Os> os_;
};

}  // namespace dovu

#pragma once
// Serial port component: opens a device at the controller's line settings, waits for line events
// in a thread of its own and hands every characters-received notification synchronously to the
// thread that owns the object (the GUI/main thread).  Reads are non-blocking, writes return once
// the bytes have been written.  Every failure of a system call raises SerialPortError.
//
// The platform part lives in serialport_<os>.cpp.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <stdexcept>

#include "base/bytes.h"

namespace dovu {

// ESerialPort: the component's error code (1..24) and the system's error number (-1: none).
class SerialPortError : public std::runtime_error {
 public:
  SerialPortError(int code, int systemError = -1);
  int code() const { return code_; }
  int systemError() const { return systemError_; }
  // The numbered text alone, e.g. "Unable to open com port".
  static const char* text(int code);

 private:
  int code_;
  int systemError_;
};

// Error codes used by the component (the full table is in SerialPortError::text).
enum SerialPortErrorCode : int {
  kErrOpen = 1,
  kErrWrite = 2,
  kErrRead = 3,
  kErrPurge = 5,
  kErrSetState = 7,
  kErrSetTimeouts = 8,
  kErrSetup = 9,
  kErrClearCommError = 10,
  kErrEscape = 12,
  kErrConnected = 14,
  kErrNotOpen = 24,
};

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
  // A write may last at most writeTotalMultiplier ms per byte plus writeTotalConstant ms.
  int writeTotalMultiplier = 100;
  int writeTotalConstant = 1000;
  bool operator==(const Timeouts&) const = default;
};

class SerialPort : public QObject {
  Q_OBJECT
 public:
  explicit SerialPort(QObject* parent = nullptr);
  ~SerialPort() override;  // closes the port

  // Device path, e.g. "/dev/ttyUSB0".  Changing it while open closes and reopens under the new name;
  // setting the same name does nothing.
  void setPort(const QString& name);
  QString port() const;

  // Line settings: stored while closed, applied again at once while open.
  void setBaudRate(int bitsPerSecond);
  int baudRate() const;
  void setDataBits(int bits);
  void setParity(Parity p);
  void setStopBits(StopBits s);
  void setFlowControl(const FlowControl& f);
  void setTimeouts(const Timeouts& t);

  void open();   // OpenPort; nothing when already open
  void close();  // ClosePort; nothing when closed; never deadlocks against a pending notification
  bool isOpen() const;

  // PortWrite: all bytes, returns after the write completed; 0 for an empty string.
  int write(const Bytes& data);
  // PortRead: up to count bytes that have already arrived; out gets exactly the bytes read.
  int read(Bytes& out, int count);
  // Bytes waiting in the driver's input queue.
  int waitingInputCount();

  // Lines without modem control (a pseudo-terminal) take these as done.
  void setDtrLine(bool on);
  void setRtsLine(bool on);

  // OnRxChar: runs on the owning thread with the whole count waiting; the next notification is
  // delivered only after this returns.
  std::function<void(int count)> onRxChar;

 signals:
  // The device went away (USB adapter unplugged, simulator closed its side).  Emitted once; the
  // port stops notifying.  The owner decides when to close it.
  void deviceLost(const QString& reason);

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace dovu

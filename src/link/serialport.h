#pragma once
// Serial port component: opens a device at the controller's line settings, waits for line events
// in a thread of its own and hands every characters-received notification synchronously to the
// thread that owns the object (the GUI/main thread).  Reads are non-blocking, writes return once
// the bytes have been written.  Every failure of a system call raises SerialPortError.
//
// The system's device lies beneath in SerialDevice (serialdevice_<os>.cpp); this class adds the event
// thread and its hand-over, which are the same on every system.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "base/bytes.h"
#include "link/serialdevice.h"
#include "link/serialerror.h"

namespace dovu {

class SerialPort : public QObject {
  Q_OBJECT
 public:
  explicit SerialPort(QObject* parent = nullptr);
  ~SerialPort() override;  // closes the port

  // Device path, e.g. "/dev/ttyUSB0" or "COM3".  Changing it while open closes and reopens under the new name;
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

  // Lines without modem control (a pseudo-terminal) take these as done.  Closing gives the line
  // back the settings it had when it was opened.
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

#pragma once
// Serial port component: opens a device at the controller's line settings, waits for line events
// in a thread of its own and hands every characters-received notification synchronously to the
// thread that owns the object (the GUI/main thread).  Reads are non-blocking; queued writes run
// on a writer thread and report their end as a signal, so the owner never waits for a slow line.
// Every failure of a system call raises SerialPortError.
//
// The system's device lies beneath in SerialDevice (serialdevice_<os>.cpp); this class adds the event
// and writer threads and their hand-over, which are the same on every system.
#include <QObject>
#include <QString>
#include <cstdint>
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
  // Over a device of the caller's making (a stand-in with a line's pace); the port owns it.
  explicit SerialPort(std::unique_ptr<SerialDevice> device, QObject* parent = nullptr);
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

  // Queues the bytes for the writer thread and returns at once with the write's number (never 0).
  // Once every byte has left the driver, written(id) follows on the owning thread; a write that
  // fails or misses its time-out gives writeFailed(id, error) instead, and so does one that a
  // close or a change of port dropped (code kNotOpen).  Writes go out one after another, in
  // the order queued.  Throws SerialPortError(kNotOpen) on a closed port.
  quint64 queueWrite(const Bytes& data);
  // PortWrite: all bytes, returns after the write completed (after the queued writes before it);
  // 0 for an empty string.  Blocks the calling thread for the bytes' time on the line.
  int write(const Bytes& data);
  // Makes queueWrite() write on the calling thread, blocking it until the bytes have left, as
  // ports did before they had a writer thread; the outcome still arrives as a signal.  The
  // yardstick of the event-loop benchmark; off by default.
  void setBlockingWrites(bool on);
  // PortRead: up to count bytes that have already arrived; out gets exactly the bytes read.
  int read(Bytes& out, int count);
  // Bytes waiting in the driver's input queue.
  int waitingInputCount();
  // Where the input stream stands: the bytes read() has taken since the port was opened.
  std::uint64_t inputPosition() const;
  // Valid in a written() handler: where the input stream stood just before that write went to
  // the driver (the bytes read by then plus those waiting).  The bytes before this position were
  // on their way in before the write began, however late the writer thread ran.
  std::uint64_t inputPositionAtWrite() const;

  // Lines without modem control (a pseudo-terminal) take these as done.  Closing gives the line
  // back the settings it had when it was opened.
  void setDtrLine(bool on);
  void setRtsLine(bool on);

  // OnRxChar: runs on the owning thread with the whole count waiting; the next notification is
  // delivered only after this returns.
  std::function<void(int count)> onRxChar;
  // Called from onRxChar: the next `bytes` bytes belong together (the rest of a frame whose length
  // is known).  The next notification then comes once they are all there, or once they can have
  // arrived at the line's speed (with some slack) with whatever has come, so that a frame on a
  // slow line wakes the owner about once rather than once a byte.  0 or 1, or not called: every
  // arrival is notified.  Applies to the next notification only.
  void expectInput(int bytes);

 signals:
  // The device went away (USB adapter unplugged, simulator closed its side).  Emitted once; the
  // port stops notifying.  The owner decides when to close it.
  void deviceLost(const QString& reason);
  // The queued write `id` has left the driver, every byte of it.
  void written(quint64 id);
  // The queued write `id` failed: error says why (code kWriteFailed, or kNotOpen when a close
  // dropped it).
  void writeFailed(quint64 id, const dovu::SerialPortError& error);

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace dovu

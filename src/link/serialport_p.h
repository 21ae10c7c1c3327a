#pragma once
// Private half of SerialPort: the settings every platform keeps, and the device operations each
// platform provides in serialport_<os>.cpp.  Only serialport*.cpp include this.
#include <memory>

#include "link/serialport.h"

namespace dovu {

struct SerialPortSettings {
  QString port;
  int baudRate = 9600;
  int dataBits = 8;
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  FlowControl flow;
  Timeouts timeouts;
};

struct SerialPort::Impl {
  explicit Impl(SerialPort* owner);
  ~Impl();

  SerialPort* q;
  SerialPortSettings settings;

  // Device operations of the platform.  The public methods check the open state before
  // calling them, so every one of these runs on an open device (except openDevice).
  bool deviceOpen() const;
  void openDevice();   // opens, configures, starts the event thread; throws and stays closed on failure
  void closeDevice();  // stops the event thread, drops both queues, closes
  // Line settings (speed, framing, flow control); modemLines also sets DTR and RTS as the flow
  // control asks, which happens at open and when the flow control changes.
  void applyLineSettings(bool modemLines);
  int writeDevice(const Bytes& data);
  int readDevice(Bytes& out, int count);
  int inputCount();
  enum class Line { Dtr, Rts };
  void setModemLine(Line line, bool on);

  struct Device;  // the platform's state
  std::unique_ptr<Device> dev;
};

}  // namespace dovu

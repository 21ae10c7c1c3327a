#include "link/serialport.h"

#include <cstdio>

#include "link/serialport_p.h"

namespace dovu {

namespace {

std::string composeMessage(int code, int systemError) {
  std::string msg = SerialPortError::text(code);
  if (systemError != -1) {
    char tmp[32];
    std::snprintf(tmp, sizeof tmp, " (Error: %d)", systemError);
    msg += tmp;
  }
  return msg;
}

}  // namespace

SerialPortError::SerialPortError(int code, int systemError)
    : std::runtime_error(composeMessage(code, systemError)), code_(code), systemError_(systemError) {}

const char* SerialPortError::text(int code) {
  static const char* const kTexts[] = {
      "Unable to open com port",
      "WriteFile function failed",
      "ReadFile function failed",
      "Invalid Async parameter",
      "PurgeComm function failed",
      "Unable to get async status",
      "SetCommState function failed",
      "SetCommTimeouts failed",
      "SetupComm function failed",
      "ClearCommError function failed",
      "GetCommModemStatus function failed",
      "EscapeCommFunction function failed",
      "TransmitCommChar function failed",
      "Cannot set property while connected",
      "EnumPorts function failed",
      "Failed to store settings",
      "Failed to load settings",
      "Link (un)registration failed",
      "Cannot change led state if SerialPort is selected",
      "Cannot wait for event if event thread is created",
      "WaitForEvent method failed",
      "A component is linked to OnRxBuf event",
      "Registry error",
      "Port Not Open",
  };
  constexpr int kCount = static_cast<int>(sizeof kTexts / sizeof kTexts[0]);
  if (code < 1 || code > kCount) return "Unknown com port error";
  return kTexts[code - 1];
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
  if (name == d->settings.port) return;
  d->settings.port = name;
  if (isOpen()) {
    close();
    open();
  }
}

QString SerialPort::port() const { return d->settings.port; }

// Each line setter stores the value and, when it changed on an open port, applies the line
// settings again at once.
template <typename T>
static bool storeChanged(T& slot, const T& value) {
  if (slot == value) return false;
  slot = value;
  return true;
}

void SerialPort::setBaudRate(int bitsPerSecond) {
  if (storeChanged(d->settings.baudRate, bitsPerSecond) && isOpen()) d->applyLineSettings(false);
}

int SerialPort::baudRate() const { return d->settings.baudRate; }

void SerialPort::setDataBits(int bits) {
  if (storeChanged(d->settings.dataBits, bits) && isOpen()) d->applyLineSettings(false);
}

void SerialPort::setParity(Parity p) {
  if (storeChanged(d->settings.parity, p) && isOpen()) d->applyLineSettings(false);
}

void SerialPort::setStopBits(StopBits s) {
  if (storeChanged(d->settings.stopBits, s) && isOpen()) d->applyLineSettings(false);
}

void SerialPort::setFlowControl(const FlowControl& f) {
  if (storeChanged(d->settings.flow, f) && isOpen()) d->applyLineSettings(true);
}

// The write time-out is read by every write; nothing to hand to the device.
void SerialPort::setTimeouts(const Timeouts& t) { d->settings.timeouts = t; }

void SerialPort::open() {
  if (isOpen()) return;
  d->openDevice();
}

void SerialPort::close() {
  if (!isOpen()) return;
  d->closeDevice();
}

bool SerialPort::isOpen() const { return d->deviceOpen(); }

int SerialPort::write(const Bytes& data) {
  if (!isOpen()) throw SerialPortError(kErrNotOpen);
  if (data.empty()) return 0;
  return d->writeDevice(data);
}

int SerialPort::read(Bytes& out, int count) {
  out.clear();
  if (!isOpen()) throw SerialPortError(kErrNotOpen);
  if (count <= 0) return 0;
  return d->readDevice(out, count);
}

int SerialPort::waitingInputCount() {
  if (!isOpen()) throw SerialPortError(kErrNotOpen);
  return d->inputCount();
}

void SerialPort::setDtrLine(bool on) {
  if (!isOpen()) throw SerialPortError(kErrNotOpen);
  d->setModemLine(Impl::Line::Dtr, on);
}

void SerialPort::setRtsLine(bool on) {
  if (!isOpen()) throw SerialPortError(kErrNotOpen);
  d->setModemLine(Impl::Line::Rts, on);
}

}  // namespace dovu

#include "link/comport.h"

#include <cstdio>

#include "link/comport_p.h"

namespace dovu {

namespace {

std::string composeMessage(int code, int systemError) {
  std::string msg = ComPortError::text(code);
  if (systemError != -1) {
    char tmp[32];
    std::snprintf(tmp, sizeof tmp, " (Error: %d)", systemError);
    msg += tmp;
  }
  return msg;
}

}  // namespace

ComPortError::ComPortError(int code, int systemError)
    : std::runtime_error(composeMessage(code, systemError)), code_(code), systemError_(systemError) {}

const char* ComPortError::text(int code) {
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
      "Cannot change led state if ComPort is selected",
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

ComPort::ComPort(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(this)) {}

ComPort::~ComPort() {
  // A destructor must not throw; closing only fails on a device that is already gone.
  try {
    close();
  } catch (const ComPortError&) {
  }
}

void ComPort::setPort(const QString& name) {
  if (name == d->settings.port) return;
  d->settings.port = name;
  if (isOpen()) {
    close();
    open();
  }
}

QString ComPort::port() const { return d->settings.port; }

// Each line setter stores the value and, when it changed on an open port, applies the line
// settings again at once.
template <typename T>
static bool storeChanged(T& slot, const T& value) {
  if (slot == value) return false;
  slot = value;
  return true;
}

void ComPort::setBaudRate(int bitsPerSecond) {
  if (storeChanged(d->settings.baudRate, bitsPerSecond) && isOpen()) d->applyLineSettings(false);
}

int ComPort::baudRate() const { return d->settings.baudRate; }

void ComPort::setDataBits(int bits) {
  if (storeChanged(d->settings.dataBits, bits) && isOpen()) d->applyLineSettings(false);
}

void ComPort::setParity(Parity p) {
  if (storeChanged(d->settings.parity, p) && isOpen()) d->applyLineSettings(false);
}

void ComPort::setStopBits(StopBits s) {
  if (storeChanged(d->settings.stopBits, s) && isOpen()) d->applyLineSettings(false);
}

void ComPort::setFlowControl(const FlowControl& f) {
  if (storeChanged(d->settings.flow, f) && isOpen()) d->applyLineSettings(true);
}

// The write time-out is read by every write; nothing to hand to the device.
void ComPort::setTimeouts(const Timeouts& t) { d->settings.timeouts = t; }

void ComPort::open() {
  if (isOpen()) return;
  d->openDevice();
}

void ComPort::close() {
  if (!isOpen()) return;
  d->closeDevice();
}

bool ComPort::isOpen() const { return d->deviceOpen(); }

int ComPort::write(const Bytes& data) {
  if (!isOpen()) throw ComPortError(kErrNotOpen);
  if (data.empty()) return 0;
  return d->writeDevice(data);
}

int ComPort::read(Bytes& out, int count) {
  out.clear();
  if (!isOpen()) throw ComPortError(kErrNotOpen);
  if (count <= 0) return 0;
  return d->readDevice(out, count);
}

int ComPort::waitingInputCount() {
  if (!isOpen()) throw ComPortError(kErrNotOpen);
  return d->inputCount();
}

void ComPort::setDtrLine(bool on) {
  if (!isOpen()) throw ComPortError(kErrNotOpen);
  d->setModemLine(Impl::Line::Dtr, on);
}

void ComPort::setRtsLine(bool on) {
  if (!isOpen()) throw ComPortError(kErrNotOpen);
  d->setModemLine(Impl::Line::Rts, on);
}

}  // namespace dovu

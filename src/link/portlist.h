#pragma once
// The system's serial ports with a name that tells the user what each one is, in the system's
// order, followed by the ports that running simulators advertise.  The platform part lives in
// portlist_<os>.cpp.
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace dovu {

struct PortEntry {
  QString port;    // what SerialPort::setPort() takes, e.g. "/dev/ttyUSB0"
  QString device;  // what the user reads, e.g. "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 (ftdi_sio)"
};

class PortSource {
 public:
  virtual ~PortSource() = default;
  // nullopt when the system's list cannot be read at all: callers keep their previous list.
  virtual std::optional<std::vector<PortEntry>> list() = 0;
};

// The source of this platform.
std::unique_ptr<PortSource> systemPortSource();

// The port names a device that exists now: "/dev/ttyUSB0" or "ttyUSB0" (found in /dev) on Linux,
// "COM3" on Windows.  Lets a tool say "no such port" before trying to open it.
bool portExists(const QString& port);

// ListComPorts: the system's ports followed by the advertised simulator ports.
std::optional<std::vector<PortEntry>> listComPorts(PortSource& source);

// Where simulators advertise their ports: $DOVU_SIM_DIR, else $XDG_RUNTIME_DIR/dovu-sim,
// else /tmp/dovu-sim-<uid>.  One file per simulator, "<pid>.port", holding two lines:
// the port path and the device name to show.
QString simulatorAdvertDir();
// The live advertisements, ordered by process id.  Files of simulators that have ended, or whose
// port is gone, are skipped and deleted.  A folder that is not private to this user is ignored.
std::vector<PortEntry> advertisedSimulatorPorts();

// Used by the simulator: writes "<getpid()>.port" into simulatorAdvertDir() (created 0700), and
// removes it again.
bool advertiseSimulatorPort(const QString& path, const QString& device, QString* error = nullptr);
void withdrawSimulatorPort();

}  // namespace dovu

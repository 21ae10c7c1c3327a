#pragma once
// The system's serial ports with a name that tells the user what each one is, in the system's
// order, followed by the ports that running simulators advertise.  The platform part lives in
// portlist_<os>.cpp.
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace dovu {

// What stands behind a port, for choosing which one to select first.
enum class PortKind {
  BuiltIn,    // a UART of the machine, or a port of unknown kind
  Adapter,    // a USB or ACM adapter: the installer's cable
  Simulator,  // a running simulator's pseudo-terminal
};

struct PortEntry {
  QString port;    // what SerialPort::setPort() takes, e.g. "/dev/ttyUSB0"
  QString device;  // what the user reads, e.g. "FT232R USB UART (FTDI)", "port płyty głównej"
  PortKind kind = PortKind::BuiltIn;
};

// What the user reads beside a port's name: a running simulator is "symulator DOVU", any other
// port shows its device name.
QString portLabel(const PortEntry& entry);

// Shown while the port list is empty, so that the greyed POŁĄCZ explains itself.
inline const char* kNoPortsText = "Nie znaleziono portów COM — podłącz adapter i naciśnij COM?";

// The entry to select once the list has been read (at start, after COM? or a hot-plug): the
// current port while it is listed and keepCurrent holds (the port is open, or the user chose it);
// otherwise the first USB or ACM adapter, else the first running simulator, else the first entry.
// -1 for an empty list, and for an open port that is no longer listed (the selection then shows
// nothing rather than switch the open port to another line).  The list keeps its order.
int preferredPortIndex(const std::vector<PortEntry>& ports, const QString& current, bool keepCurrent,
                       bool currentOpen);

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

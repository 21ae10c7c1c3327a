#pragma once
// The system's serial ports from sysfs.  The roots can be moved so that a fake tree stands in
// for /sys and /dev.
#include "link/portlist.h"

namespace dovu {

class LinuxPortSource : public PortSource {
 public:
  explicit LinuxPortSource(QString sysfsRoot = QStringLiteral("/sys"),
                           QString devRoot = QStringLiteral("/dev"));

  // Every tty of /sys/class/tty backed by a driver, in natural name order (ttyACM0, ttyACM1,
  // ttyS0, ttyS1, ttyS10, ttyUSB0).  port is the node in the /dev root; device is the
  // /dev/serial/by-id name pointing to it plus the driver in brackets, or the driver alone.
  std::optional<std::vector<PortEntry>> list() override;

 private:
  QString sysfsRoot_;
  QString devRoot_;
};

}  // namespace dovu

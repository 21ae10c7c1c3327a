// The system's serial ports on Linux, read from sysfs.
//
// /sys/class/tty lists every tty, most of them virtual consoles and pseudo-terminals without a
// driver behind them; those are dropped.  The 8250 driver registers a fixed number of ttyS*
// whether or not a UART answers; such phantoms have the UART type "unknown" (0), which the
// tty's "type" attribute shows without opening the device.  Where that attribute is missing,
// TIOCGSERIAL on the device gives the same; if the device cannot be opened (no permission),
// a ttyS* is kept unless it hangs off the serial8250 platform device, the home of the phantoms.
//
// Since Linux 6.5 a serial port sits on "serial-base" port and controller devices (drivers
// "port" and "ctrl") below the actual hardware; the driver shown is the hardware's.
#include "link/portlist_linux.h"
#include "link/portlist_p.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <cerrno>

namespace dovu {

namespace {

// Last path component of where a sysfs link points, or "" when it does not exist.
QString linkTargetName(const QString& path) {
  const QString target = QFileInfo(path).canonicalFilePath();
  return target.isEmpty() ? QString() : QFileInfo(target).fileName();
}

struct Hardware {
  QString driver;
  QString subsystem;
};

// The driver and bus of the device behind a tty ("device" link of its sysfs folder).
Hardware hardwareOf(const QString& deviceLink) {
  QString dir = QFileInfo(deviceLink).canonicalFilePath();
  // Port device -> controller device -> hardware: a few steps at most.
  for (int step = 0; step < 4 && !dir.isEmpty(); ++step) {
    const QString subsystem = linkTargetName(dir + QStringLiteral("/subsystem"));
    if (subsystem != QLatin1String("serial-base"))
      return {linkTargetName(dir + QStringLiteral("/driver")), subsystem};
    dir = QFileInfo(dir).absolutePath();
  }
  return {};
}

// "Product (maker)" of the USB device a tty hangs off, from its sysfs attributes; "" when the
// tty is not on USB or the device names neither.
QString usbProductOf(const QString& deviceLink) {
  QString dir = QFileInfo(deviceLink).canonicalFilePath();
  // Interface (or usb-serial port) -> interface -> USB device: a few steps at most.
  for (int step = 0; step < 4 && !dir.isEmpty(); ++step, dir = QFileInfo(dir).absolutePath()) {
    if (!QFileInfo::exists(dir + QStringLiteral("/idVendor"))) continue;
    auto read = [&dir](const char* attribute) {
      QFile f(dir + QLatin1Char('/') + QLatin1String(attribute));
      return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.read(256)).trimmed() : QString();
    };
    const QString product = read("product");
    const QString maker = read("manufacturer");
    if (product.isEmpty() || maker.isEmpty()) return product.isEmpty() ? maker : product;
    return QStringLiteral("%1 (%2)").arg(product, maker);
  }
  return {};
}

// False for a serial-core port without a UART behind it.
bool uartPresent(const QString& name, const QString& ttyDir, const QString& node, const Hardware& hw) {
  QFile typeFile(ttyDir + QStringLiteral("/type"));
  if (typeFile.open(QIODevice::ReadOnly)) {
    bool ok = false;
    const int type = typeFile.readAll().trimmed().toInt(&ok);
    if (ok) return type != PORT_UNKNOWN;
  }
  if (!name.startsWith(QLatin1String("ttyS"))) return true;

  const int fd = ::open(QFile::encodeName(node).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == EBUSY) return true;  // held exclusively by someone: it exists
    if (errno == ENXIO || errno == ENODEV || errno == EIO) return false;
    return !(hw.driver == QLatin1String("serial8250") && hw.subsystem == QLatin1String("platform"));
  }
  serial_struct info{};
  const bool known = ::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
  ::close(fd);
  return known;
}

// Names compared with their digit runs as numbers: ttyS2 < ttyS10 < ttyUSB0.
bool naturalLess(const QString& a, const QString& b) {
  qsizetype i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (a[i].isDigit() && b[j].isDigit()) {
      qsizetype ei = i, ej = j;
      while (ei < a.size() && a[ei].isDigit()) ++ei;
      while (ej < b.size() && b[ej].isDigit()) ++ej;
      // Compare the numbers without converting them: strip leading zeros, then length, then text.
      qsizetype zi = i, zj = j;
      while (zi + 1 < ei && a[zi] == QLatin1Char('0')) ++zi;
      while (zj + 1 < ej && b[zj] == QLatin1Char('0')) ++zj;
      const auto na = a.mid(zi, ei - zi), nb = b.mid(zj, ej - zj);
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
  return a < b;  // equal by value ("ttyS01" and "ttyS1"): keep a fixed order
}

}  // namespace

LinuxPortSource::LinuxPortSource(QString sysfsRoot, QString devRoot)
    : sysfsRoot_(std::move(sysfsRoot)), devRoot_(std::move(devRoot)) {}

std::optional<std::vector<PortEntry>> LinuxPortSource::list() {
  const QString classDir = sysfsRoot_ + QStringLiteral("/class/tty");
  const QFileInfo classInfo(classDir);
  if (!classInfo.isDir() || !classInfo.isReadable()) return std::nullopt;

  struct Found {
    QString name;
    QString node;
    QString driver;
    PortKind kind;
    QString product;  // a USB adapter's product and maker
  };
  std::vector<Found> found;
  const QStringList names = QDir(classDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
  for (const QString& name : names) {
    const QString ttyDir = classDir + QLatin1Char('/') + name;
    const Hardware hw = hardwareOf(ttyDir + QStringLiteral("/device"));
    if (hw.driver.isEmpty()) continue;  // virtual: consoles, pseudo-terminals
    const QString node = QDir::cleanPath(devRoot_ + QLatin1Char('/') + name);
    if (!QFileInfo::exists(node)) continue;  // nothing to open
    if (!uartPresent(name, ttyDir, node, hw)) continue;
    // USB serial converters sit on "usb-serial", ACM modems and adapters on "usb" itself.
    const bool usb = hw.subsystem == QLatin1String("usb-serial") || hw.subsystem == QLatin1String("usb");
    QString product;
    if (usb) product = usbProductOf(ttyDir + QStringLiteral("/device"));
    // A UART of the machine itself (ACPI/PnP or a platform device), not a card or an adapter.
    else if (hw.subsystem == QLatin1String("pnp") || hw.subsystem == QLatin1String("platform"))
      product = QStringLiteral("port płyty głównej");
    found.push_back({name, node, hw.driver, usb ? PortKind::Adapter : PortKind::BuiltIn, product});
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return naturalLess(a.name, b.name); });

  // udev's stable names: /dev/serial/by-id/<bus>-<vendor>_<model>_<serial>-if<NN>... -> ../../ttyUSB0
  QHash<QString, QString> byId;
  const QFileInfoList links = QDir(devRoot_ + QStringLiteral("/serial/by-id"))
                                  .entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  for (const QFileInfo& link : links) {
    const QString target = link.canonicalFilePath();
    if (!target.isEmpty() && !byId.contains(target)) byId.insert(target, link.fileName());
  }

  std::vector<PortEntry> ports;
  ports.reserve(found.size());
  for (const Found& f : found) {
    const QString id = byId.value(QFileInfo(f.node).canonicalFilePath());
    const QString device = !f.product.isEmpty() ? f.product
                           : id.isEmpty()       ? f.driver
                                                : QStringLiteral("%1 (%2)").arg(id, f.driver);
    ports.push_back({f.node, device, f.kind});
  }
  return ports;
}

namespace {

// The roots can be moved for trying the program against a prepared tree.
QString devRoot() {
  const QString dev = qEnvironmentVariable("DOVU_DEV_ROOT");
  return dev.isEmpty() ? QStringLiteral("/dev") : dev;
}

}  // namespace

std::unique_ptr<PortSource> systemPortSource() {
  const QString sys = qEnvironmentVariable("DOVU_SYSFS_ROOT");
  return std::make_unique<LinuxPortSource>(sys.isEmpty() ? QStringLiteral("/sys") : sys, devRoot());
}

bool portExists(const QString& port) {
  if (port.isEmpty()) return false;
  return QFileInfo::exists(port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port);
}

namespace detail {

// udev (or devtmpfs) makes and removes the nodes of ttyUSB*, ttyACM* and friends in /dev.
QStringList deviceFolders() { return {devRoot()}; }

std::shared_ptr<void> hookDeviceChanges(std::function<void()>) { return nullptr; }

}  // namespace detail

}  // namespace dovu

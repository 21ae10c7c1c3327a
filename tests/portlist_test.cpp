// The port list: sysfs and /dev stand-ins in a temporary folder, simulator advertisements in
// another.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "link/portlist.h"
#include "link/portlist_linux.h"
#include "link/portwatcher.h"
#include "support/pty.h"
#include "support/testapp.h"

using namespace dovu;

namespace {

void touch(const QString& path, const QByteArray& content = {}) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  f.write(content);
}

void link(const QString& target, const QString& at) {
  QDir().mkpath(QFileInfo(at).absolutePath());
  ASSERT_TRUE(QFile::link(target, at)) << at.toStdString();
}

// A sysfs tree laid out like the kernel's: /sys/class/tty/<name> links to the tty's folder under
// /sys/devices, whose "device" link leads to the hardware with its "driver" and "subsystem".
class FakeSystem {
 public:
  QString sys() const { return root_.filePath(QStringLiteral("sys")); }
  QString dev() const { return root_.filePath(QStringLiteral("dev")); }

  // A hardware device with driver and bus; returns its folder.
  QString hardware(const QString& path, const QString& driver, const QString& bus) {
    const QString dir = sys() + QStringLiteral("/devices/") + path;
    QDir().mkpath(dir);
    QDir().mkpath(sys() + QStringLiteral("/bus/%1/drivers/%2").arg(bus, driver));
    link(sys() + QStringLiteral("/bus/%1/drivers/%2").arg(bus, driver), dir + QStringLiteral("/driver"));
    link(sys() + QStringLiteral("/bus/") + bus, dir + QStringLiteral("/subsystem"));
    return dir;
  }

  // A tty below device (empty: a virtual one) with its /dev node unless node is false.
  void tty(const QString& name, const QString& device, bool node = true, const QByteArray& type = {}) {
    const QString dir = (device.isEmpty() ? sys() + QStringLiteral("/devices/virtual") : device) +
                        QStringLiteral("/tty/") + name;
    QDir().mkpath(dir);
    if (!device.isEmpty()) link(device, dir + QStringLiteral("/device"));
    if (!type.isEmpty()) touch(dir + QStringLiteral("/type"), type + '\n');
    link(dir, sys() + QStringLiteral("/class/tty/") + name);
    if (node) touch(dev() + QLatin1Char('/') + name);
  }

  // Since Linux 6.5 a UART's tty hangs off serial-base controller and port devices.
  QString serialBase(const QString& hw, const QString& name) {
    const QString ctrl = hw + QStringLiteral("/%1:0").arg(name);
    const QString portDir = ctrl + QStringLiteral("/%1:0.0").arg(name);
    for (const auto& [d, drv] : {std::pair{ctrl, QStringLiteral("ctrl")}, std::pair{portDir, QStringLiteral("port")}}) {
      QDir().mkpath(d);
      QDir().mkpath(sys() + QStringLiteral("/bus/serial-base/drivers/") + drv);
      link(sys() + QStringLiteral("/bus/serial-base/drivers/") + drv, d + QStringLiteral("/driver"));
      link(sys() + QStringLiteral("/bus/serial-base"), d + QStringLiteral("/subsystem"));
    }
    return portDir;
  }

  void byId(const QString& id, const QString& name) {
    link(QStringLiteral("../../") + name, dev() + QStringLiteral("/serial/by-id/") + id);
  }

 private:
  QTemporaryDir root_;
};

class SourceStub : public PortSource {
 public:
  std::optional<std::vector<PortEntry>> list() override { return ports; }
  std::optional<std::vector<PortEntry>> ports;
};

// Sets an environment variable for one test and restores it afterwards.
class EnvGuard {
 public:
  EnvGuard(const char* name, const QByteArray& value) : name_(name), had_(qEnvironmentVariableIsSet(name)) {
    old_ = qgetenv(name);
    if (value.isNull()) qunsetenv(name);
    else qputenv(name, value);
  }
  ~EnvGuard() {
    if (had_) qputenv(name_, old_);
    else qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

std::vector<QString> ports(const std::vector<PortEntry>& list) {
  std::vector<QString> out;
  for (const auto& e : list) out.push_back(e.port);
  return out;
}

}  // namespace

TEST(LinuxPortSource, ListsDriverBackedPortsInNaturalOrder) {
  FakeSystem fs;
  const QString ftdi = fs.hardware(QStringLiteral("pci0000:00/usb1/1-2/1-2:1.0/ttyUSB0"), QStringLiteral("ftdi_sio"),
                                   QStringLiteral("usb-serial"));
  fs.tty(QStringLiteral("ttyUSB0"), ftdi);
  // The USB device above the interface names itself.
  const QString usbDevice = fs.sys() + QStringLiteral("/devices/pci0000:00/usb1/1-2");
  touch(usbDevice + QStringLiteral("/idVendor"), "0403\n");
  touch(usbDevice + QStringLiteral("/product"), "FT232R USB UART\n");
  touch(usbDevice + QStringLiteral("/manufacturer"), "FTDI\n");
  fs.byId(QStringLiteral("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"), QStringLiteral("ttyUSB0"));
  // Unplugged meanwhile: sysfs still has it, /dev no longer.
  fs.tty(QStringLiteral("ttyUSB1"), fs.hardware(QStringLiteral("usb1/1-3/ttyUSB1"), QStringLiteral("pl2303"),
                                                QStringLiteral("usb-serial")), false);
  fs.tty(QStringLiteral("ttyACM10"), fs.hardware(QStringLiteral("usb1/1-4/1-4:1.0"), QStringLiteral("cdc_acm"),
                                                 QStringLiteral("usb")));
  fs.tty(QStringLiteral("ttyACM2"), fs.hardware(QStringLiteral("usb1/1-5/1-5:1.0"), QStringLiteral("cdc_acm"),
                                                QStringLiteral("usb")));
  // A real UART and a phantom, both behind serial-base devices.
  const QString pnp = fs.hardware(QStringLiteral("pnp0/00:04"), QStringLiteral("serial"), QStringLiteral("pnp"));
  fs.tty(QStringLiteral("ttyS0"), fs.serialBase(pnp, QStringLiteral("00:04")), true, "4");
  const QString platform =
      fs.hardware(QStringLiteral("platform/serial8250"), QStringLiteral("serial8250"), QStringLiteral("platform"));
  fs.tty(QStringLiteral("ttyS1"), fs.serialBase(platform, QStringLiteral("serial8250")), true, "0");
  // Without a type attribute and without a way to open the node (a folder here, standing in for
  // a node without permission): only the platform phantom is dropped.
  fs.tty(QStringLiteral("ttyS3"), platform, false);
  QDir().mkpath(fs.dev() + QStringLiteral("/ttyS3"));
  fs.tty(QStringLiteral("ttyS4"), fs.hardware(QStringLiteral("pnp0/00:05"), QStringLiteral("serial"), QStringLiteral("pnp")),
         false);
  QDir().mkpath(fs.dev() + QStringLiteral("/ttyS4"));
  // No driver at all, and virtual ttys.
  fs.tty(QStringLiteral("ttyS2"), QString());
  fs.tty(QStringLiteral("tty0"), QString());
  fs.tty(QStringLiteral("ptmx"), QString());

  LinuxPortSource source(fs.sys(), fs.dev());
  const auto list = source.list();
  ASSERT_TRUE(list);
  const QString d = fs.dev() + QLatin1Char('/');
  EXPECT_EQ(ports(*list), (std::vector<QString>{d + "ttyACM2", d + "ttyACM10", d + "ttyS0", d + "ttyS4", d + "ttyUSB0"}));
  ASSERT_EQ(list->size(), 5u);
  EXPECT_EQ((*list)[0].device, QStringLiteral("cdc_acm"));
  EXPECT_EQ((*list)[2].device, QStringLiteral("port płyty głównej"));
  EXPECT_EQ((*list)[4].device, QStringLiteral("FT232R USB UART (FTDI)"));
  EXPECT_EQ(portLabel((*list)[4]), QStringLiteral("FT232R USB UART (FTDI)"));
  EXPECT_EQ(portLabel({QStringLiteral("/dev/pts/3"), QStringLiteral("DOVU simulator A"), PortKind::Simulator}),
            QStringLiteral("symulator DOVU"));

  const auto again = source.list();
  ASSERT_TRUE(again);
  EXPECT_EQ(ports(*again), ports(*list));
}

TEST(LinuxPortSource, UnreadableTreeGivesNoList) {
  QTemporaryDir empty;
  LinuxPortSource source(empty.filePath(QStringLiteral("sys")), empty.filePath(QStringLiteral("dev")));
  EXPECT_FALSE(source.list());
  EXPECT_FALSE(listComPorts(source));

  QDir().mkpath(empty.filePath(QStringLiteral("sys/class/tty")));
  const auto list = source.list();
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->empty());
}

TEST(SimulatorAdvert, FolderFollowsTheEnvironment) {
  EnvGuard sim("DOVU_SIM_DIR", "/x/sim");
  EnvGuard xdg("XDG_RUNTIME_DIR", "/run/user/1000");
  EXPECT_EQ(simulatorAdvertDir(), QStringLiteral("/x/sim"));
  {
    EnvGuard none("DOVU_SIM_DIR", QByteArray());
    EXPECT_EQ(simulatorAdvertDir(), QStringLiteral("/run/user/1000/dovu-sim"));
    EnvGuard noXdg("XDG_RUNTIME_DIR", QByteArray());
    EXPECT_EQ(simulatorAdvertDir(), QStringLiteral("/tmp/dovu-sim-%1").arg(getuid()));
  }
}

TEST(SimulatorAdvert, LiveAdvertsFollowTheSystemPortsStaleOnesAreRemoved) {
  QTemporaryDir tmp;
  const QString dir = tmp.filePath(QStringLiteral("advert"));
  EnvGuard env("DOVU_SIM_DIR", QFile::encodeName(dir));
  const QString portA = tmp.filePath(QStringLiteral("ptyA")), portB = tmp.filePath(QStringLiteral("ptyB"));
  touch(portA);
  touch(portB);

  // This process advertises through the helper; the folder is created private.
  QString error;
  ASSERT_TRUE(advertiseSimulatorPort(portB, QStringLiteral("DOVU simulator B"), &error)) << error.toStdString();
  struct stat st {};
  ASSERT_EQ(stat(QFile::encodeName(dir).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // pid 1 is always alive; a reaped child is not.
  touch(dir + QStringLiteral("/1.port"), QFile::encodeName(portA) + "\nDOVU simulator A\n");
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  waitpid(child, nullptr, 0);
  const QString dead = dir + QStringLiteral("/%1.port").arg(child);
  touch(dead, QFile::encodeName(portA) + "\nended\n");
  // A live process whose port has gone.
  int hold[2];
  ASSERT_EQ(pipe(hold), 0);
  const pid_t alive = fork();
  if (alive == 0) {
    char c;
    ::close(hold[1]);
    [[maybe_unused]] auto r = ::read(hold[0], &c, 1);  // until the test closes its end
    _exit(0);
  }
  ASSERT_GT(alive, 0);
  ::close(hold[0]);
  const QString gone = dir + QStringLiteral("/%1.port").arg(alive);
  touch(gone, QFile::encodeName(tmp.filePath(QStringLiteral("no-such-pty"))) + "\nport gone\n");
  touch(dir + QStringLiteral("/notes.txt"), "not an advert");

  SourceStub system;
  system.ports = std::vector<PortEntry>{{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("ftdi_sio")}};
  const auto list = listComPorts(system);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u);
  EXPECT_EQ((*list)[0].port, QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ((*list)[1].port, portA);  // by process id
  EXPECT_EQ((*list)[1].device, QStringLiteral("DOVU simulator A"));
  EXPECT_EQ((*list)[2].port, portB);
  EXPECT_EQ((*list)[2].device, QStringLiteral("DOVU simulator B"));
  EXPECT_FALSE(QFile::exists(dead));
  EXPECT_FALSE(QFile::exists(gone));
  ::close(hold[1]);
  waitpid(alive, nullptr, 0);

  withdrawSimulatorPort();
  const auto left = advertisedSimulatorPorts();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].port, portA);

  // No system list: nothing, not even the simulators (callers keep their previous list).
  system.ports.reset();
  EXPECT_FALSE(listComPorts(system));
}

TEST(SimulatorAdvert, FolderOpenToOthersIsNotTrusted) {
  QTemporaryDir tmp;
  const QString dir = tmp.filePath(QStringLiteral("advert"));
  EnvGuard env("DOVU_SIM_DIR", QFile::encodeName(dir));
  const QString port = tmp.filePath(QStringLiteral("pty"));
  touch(port);
  ASSERT_TRUE(advertiseSimulatorPort(port, QStringLiteral("sim")));
  ASSERT_EQ(advertisedSimulatorPorts().size(), 1u);

  ASSERT_EQ(chmod(QFile::encodeName(dir).constData(), 0777), 0);
  EXPECT_TRUE(advertisedSimulatorPorts().empty());
  QString error;
  EXPECT_FALSE(advertiseSimulatorPort(port, QStringLiteral("sim"), &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_FALSE(advertiseSimulatorPort(QStringLiteral("/dev/pts/1\n/dev/evil"), QStringLiteral("sim")));
}

// Which port is selected first, for each mix of a built-in UART, a USB adapter and a running
// simulator: the adapter, else the simulator, else the first entry; the list keeps its order.  A
// port that is open, or that the user chose, stays selected while it is listed.
TEST(PortSelection, AdaptersThenSimulatorsThenBuiltInUarts) {
  QTemporaryDir tmp;
  EnvGuard env("DOVU_SIM_DIR", QFile::encodeName(tmp.filePath(QStringLiteral("advert"))));
  const QString pty = tmp.filePath(QStringLiteral("pty"));
  touch(pty);
  for (int mix = 1; mix < 8; ++mix) {
    const bool uart = mix & 1, usb = mix & 2, sim = mix & 4;
    SCOPED_TRACE(mix);
    FakeSystem fs;
    QDir().mkpath(fs.sys() + QStringLiteral("/class/tty"));
    if (uart) {
      const QString pnp = fs.hardware(QStringLiteral("pnp0/00:04"), QStringLiteral("serial"), QStringLiteral("pnp"));
      fs.tty(QStringLiteral("ttyS0"), fs.serialBase(pnp, QStringLiteral("00:04")), true, "4");
    }
    if (usb)
      fs.tty(QStringLiteral("ttyUSB0"), fs.hardware(QStringLiteral("usb1/1-2/1-2:1.0/ttyUSB0"),
                                                    QStringLiteral("ftdi_sio"), QStringLiteral("usb-serial")));
    if (sim) {
      ASSERT_TRUE(advertiseSimulatorPort(pty, QStringLiteral("sim")));
    }
    LinuxPortSource source(fs.sys(), fs.dev());
    const auto list = listComPorts(source);
    withdrawSimulatorPort();
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), static_cast<std::size_t>(uart + usb + sim));
    const QString expected = usb ? fs.dev() + QStringLiteral("/ttyUSB0") : sim ? pty : fs.dev() + QStringLiteral("/ttyS0");
    const int picked = preferredPortIndex(*list, QString(), false, false);
    ASSERT_GE(picked, 0);
    EXPECT_EQ((*list)[static_cast<std::size_t>(picked)].port, expected);
    if (uart) {
      EXPECT_EQ(list->front().port, fs.dev() + QStringLiteral("/ttyS0")) << "the system's order stays";
    }

    // The user's choice, or an open port, stays; a chosen port that went away gives way.
    const QString last = list->back().port;
    EXPECT_EQ(preferredPortIndex(*list, last, true, false), static_cast<int>(list->size()) - 1);
    EXPECT_EQ(preferredPortIndex(*list, last, false, true), static_cast<int>(list->size()) - 1);
    EXPECT_EQ(preferredPortIndex(*list, QStringLiteral("/dev/gone"), true, false), picked);
    EXPECT_EQ(preferredPortIndex(*list, QStringLiteral("/dev/gone"), false, true), -1) << "an open port is not switched";
  }
  EXPECT_EQ(preferredPortIndex({}, QString(), false, false), -1);
}

TEST(PortWatcher, SignalsWhenAdaptersAndSimulatorsComeAndGo) {
  test::app();
  FakeSystem fake;
  QDir().mkpath(fake.dev());
  QTemporaryDir runtime;
  const QString adverts = runtime.filePath(QStringLiteral("dovu-sim"));  // made by the first simulator
  EnvGuard sys("DOVU_SYSFS_ROOT", QFile::encodeName(fake.sys()));
  EnvGuard dev("DOVU_DEV_ROOT", QFile::encodeName(fake.dev()));
  EnvGuard sim("DOVU_SIM_DIR", QFile::encodeName(adverts));

  PortWatcher watcher;
  int changes = 0;
  QObject::connect(&watcher, &PortWatcher::portsChanged, [&] { ++changes; });
  auto ports = [] {
    QStringList names;
    for (const PortEntry& p : listComPorts(*systemPortSource()).value_or(std::vector<PortEntry>{})) names << p.port;
    return names;
  };
  // Each step is seen by a change signal, after which the list shows it.
  auto seen = [&](const QStringList& expected) {
    const int before = changes;
    return test::waitFor([&] { return changes > before && ports() == expected; }, 5000);
  };

  const QString usb = fake.dev() + QStringLiteral("/ttyUSB0");
  fake.tty(QStringLiteral("ttyUSB0"), fake.hardware(QStringLiteral("usb1/1-1/1-1:1.0"), QStringLiteral("ftdi_sio"),
                                                    QStringLiteral("usb-serial")));
  EXPECT_TRUE(seen({usb})) << "adapter plugged in";

  test::Pty pty;
  ASSERT_TRUE(advertiseSimulatorPort(pty.slavePath(), QStringLiteral("sim")));
  EXPECT_TRUE(seen({usb, pty.slavePath()})) << "simulator started (its folder new)";
  withdrawSimulatorPort();
  EXPECT_TRUE(seen({usb})) << "simulator ended";
  ASSERT_TRUE(advertiseSimulatorPort(pty.slavePath(), QStringLiteral("sim")));
  EXPECT_TRUE(seen({usb, pty.slavePath()})) << "simulator started again (folder watched)";

  ASSERT_TRUE(QFile::remove(usb));
  EXPECT_TRUE(seen({pty.slavePath()})) << "adapter pulled out";
  withdrawSimulatorPort();
}

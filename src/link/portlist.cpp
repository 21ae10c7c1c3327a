#include "link/portlist.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "link/portlist_p.h"

namespace dovu {

QString portLabel(const PortEntry& entry) {
  return entry.kind == PortKind::Simulator ? QStringLiteral("symulator DOVU") : entry.device;
}

namespace {

// An advertisement is two short lines; anything longer is not one of ours.
constexpr qint64 kMaxAdvertSize = 4096;

QString advertFileName(qint64 pid) { return QString::number(pid) + QStringLiteral(".port"); }

}  // namespace

std::optional<std::vector<PortEntry>> listComPorts(PortSource& source) {
  auto ports = source.list();
  if (!ports) return std::nullopt;
  for (auto& p : advertisedSimulatorPorts()) ports->push_back(std::move(p));
  return ports;
}

int preferredPortIndex(const std::vector<PortEntry>& ports, const QString& current, bool keepCurrent,
                       bool currentOpen) {
  auto indexOf = [&ports](auto&& match) {
    const auto it = std::find_if(ports.begin(), ports.end(), match);
    return it == ports.end() ? -1 : static_cast<int>(it - ports.begin());
  };
  if (keepCurrent || currentOpen) {
    const int kept = indexOf([&current](const PortEntry& e) { return e.port == current; });
    if (kept >= 0 || currentOpen) return kept;
  }
  for (PortKind kind : {PortKind::Adapter, PortKind::Simulator}) {
    const int first = indexOf([kind](const PortEntry& e) { return e.kind == kind; });
    if (first >= 0) return first;
  }
  return ports.empty() ? -1 : 0;
}

QString simulatorAdvertDir() {
  const QString dir = qEnvironmentVariable("DOVU_SIM_DIR");
  if (!dir.isEmpty()) return dir;
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty()) return runtime + QStringLiteral("/dovu-sim");
  return detail::fallbackAdvertDir();
}

std::vector<PortEntry> advertisedSimulatorPorts() {
  const QString dir = simulatorAdvertDir();
  if (!detail::isPrivateDir(dir)) return {};

  std::vector<std::pair<qint64, QString>> files;
  const QStringList names = QDir(dir).entryList({QStringLiteral("*.port")}, QDir::Files | QDir::System);
  for (const QString& name : names) {
    bool ok = false;
    const qint64 pid = name.chopped(5).toLongLong(&ok);
    if (ok && pid > 0) files.emplace_back(pid, dir + QLatin1Char('/') + name);
  }
  std::sort(files.begin(), files.end());

  std::vector<PortEntry> ports;
  for (const auto& [pid, file] : files) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) continue;
    const QList<QByteArray> lines = f.read(kMaxAdvertSize).split('\n');
    f.close();
    PortEntry e;
    e.port = QFile::decodeName(lines.value(0).trimmed());
    e.device = QString::fromUtf8(lines.value(1).trimmed());
    if (!detail::processAlive(pid) || e.port.isEmpty() || !QFileInfo::exists(e.port)) {
      QFile::remove(file);  // the simulator ended without withdrawing, or its port is gone
      continue;
    }
    if (e.device.isEmpty()) e.device = QStringLiteral("DOVU simulator");
    e.kind = PortKind::Simulator;
    ports.push_back(std::move(e));
  }
  return ports;
}

bool advertiseSimulatorPort(const QString& path, const QString& device, QString* error) {
  auto failed = [error](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const auto lineBreak = [](const QString& s) { return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r')); };
  if (path.isEmpty() || lineBreak(path) || lineBreak(device))
    return failed(QStringLiteral("Port path and device name must be single non-empty lines"));

  const QString dir = simulatorAdvertDir();
  if (!detail::makePrivateDir(dir, error)) return false;
  QSaveFile f(dir + QLatin1Char('/') + advertFileName(QCoreApplication::applicationPid()));
  if (!f.open(QIODevice::WriteOnly)) return failed(f.errorString());
  f.write(QFile::encodeName(path) + '\n' + device.toUtf8() + '\n');
  if (!f.commit()) return failed(f.errorString());
  return true;
}

void withdrawSimulatorPort() {
  QFile::remove(simulatorAdvertDir() + QLatin1Char('/') + advertFileName(QCoreApplication::applicationPid()));
}

}  // namespace dovu

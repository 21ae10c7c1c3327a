// The port list on Windows: the registry's serial-device map with SetupAPI's friendly names, and
// the helpers of the simulator advertisements.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <dbt.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "link/comports.h"
#include "link/portlist.h"
#include "link/portlist_p.h"

namespace dovu {

namespace {

class WindowsPortSource : public PortSource {
 public:
  // "COM3" with "USB Serial Port (COM3) (\Device\VCP0)", or the kernel's device name alone.
  std::optional<std::vector<PortEntry>> list() override {
    const auto ports = listRegistryComPorts();
    if (!ports) return std::nullopt;
    std::vector<PortEntry> entries;
    entries.reserve(ports->size());
    for (const RegistryPort& p : *ports) {
      const QString device = QString::fromStdString(p.device);
      entries.push_back({QString::fromStdString(p.port),
                         p.friendlyName.empty()
                             ? device
                             : QStringLiteral("%1 (%2)").arg(QString::fromStdString(p.friendlyName), device)});
    }
    return entries;
  }
};

}  // namespace

std::unique_ptr<PortSource> systemPortSource() { return std::make_unique<WindowsPortSource>(); }

// "COM3" or "\\.\COM3": the name is a DOS device of this session.
bool portExists(const QString& port) {
  QString name = port;
  if (name.startsWith(QLatin1String("\\\\.\\"))) name = name.mid(4);
  if (name.isEmpty()) return false;
  wchar_t target[512];
  return ::QueryDosDeviceW(reinterpret_cast<const wchar_t*>(name.utf16()), target, 512) != 0;
}

namespace detail {

bool processAlive(qint64 pid) {
  if (pid <= 0) return false;
  const HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!h) return ::GetLastError() == ERROR_ACCESS_DENIED;  // exists, but is someone else's
  DWORD code = 0;
  const bool alive = ::GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  ::CloseHandle(h);
  return alive;
}

// The user's own temporary folder.
QString fallbackAdvertDir() { return QDir::tempPath() + QStringLiteral("/dovu-sim"); }

// A folder below the user's profile is closed to other users by its inherited permissions; a
// link or junction is not trusted.
bool isPrivateDir(const QString& dir) {
  const QFileInfo info(dir);
  return info.isDir() && !info.isSymLink() && !info.isJunction();
}

bool makePrivateDir(const QString& dir, QString* error) {
  if (QDir().mkpath(dir) && isPrivateDir(dir)) return true;
  if (error) *error = QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(dir));
  return false;
}

// Windows announces devices with WM_DEVICECHANGE rather than nodes in a folder.
QStringList deviceFolders() { return {}; }

namespace {

// Arrivals and removals of ports are broadcast to every top-level window, so no registration is
// needed: the application's native event filter sees them.
class DeviceChangeFilter : public QAbstractNativeEventFilter {
 public:
  explicit DeviceChangeFilter(std::function<void()> changed) : changed_(std::move(changed)) {}
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    if (type != "windows_generic_MSG") return false;
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_DEVICECHANGE &&
        (msg->wParam == DBT_DEVICEARRIVAL || msg->wParam == DBT_DEVICEREMOVECOMPLETE))
      changed_();
    return false;
  }

 private:
  std::function<void()> changed_;
};

}  // namespace

std::shared_ptr<void> hookDeviceChanges(std::function<void()> changed) {
  auto* app = QCoreApplication::instance();
  if (!app) return nullptr;
  auto* filter = new DeviceChangeFilter(std::move(changed));
  app->installNativeEventFilter(filter);
  return std::shared_ptr<void>(filter, [](void* f) {
    auto* filter = static_cast<DeviceChangeFilter*>(f);
    if (auto* app = QCoreApplication::instance()) app->removeNativeEventFilter(filter);
    delete filter;
  });
}

}  // namespace detail

}  // namespace dovu

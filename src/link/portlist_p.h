#pragma once
// Platform helpers of the port list (portlist_<os>.cpp).
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace dovu::detail {

// The process exists (possibly owned by another user).
bool processAlive(qint64 pid);
// Fallback folder for simulator advertisements when no runtime folder is set.
QString fallbackAdvertDir();
// The folder is a real folder (not a link), owned by this user and closed to everyone else:
// only then are the ports advertised in it trusted.
bool isPrivateDir(const QString& dir);
// Creates the folder with mode 0700 (its parents as needed) or accepts an existing private one.
bool makePrivateDir(const QString& dir, QString* error);

// Folders in which device nodes appear and vanish as adapters come and go (none where the
// system announces devices otherwise).
QStringList deviceFolders();
// Calls changed on the owning thread whenever the system announces a device change, for as long as
// the returned hook is kept; null where device folders tell instead.
std::shared_ptr<void> hookDeviceChanges(std::function<void()> changed);

}  // namespace dovu::detail

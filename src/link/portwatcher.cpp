#include "link/portwatcher.h"

#include <QFileInfo>

#include "link/portlist.h"
#include "link/portlist_p.h"

namespace dovu {

PortWatcher::PortWatcher(QObject* parent) : QObject(parent) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] {
    rewatch();  // the advertisement folder may have come or gone
    emit portsChanged();
  });
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &PortWatcher::changed);
  rewatch();
  deviceHook_ = detail::hookDeviceChanges([this] { changed(); });
}

PortWatcher::~PortWatcher() = default;

void PortWatcher::changed() { settle_.start(); }

void PortWatcher::rewatch() {
  QStringList wanted = detail::deviceFolders();
  // Until the first simulator makes it, the folder that will hold the advertisement folder.
  const QString adverts = simulatorAdvertDir();
  wanted << (QFileInfo(adverts).isDir() ? adverts : QFileInfo(adverts).absolutePath());
  const QStringList watched = watcher_.directories();
  for (const QString& dir : watched)
    if (!wanted.contains(dir)) watcher_.removePath(dir);
  for (const QString& dir : wanted)
    if (!watched.contains(dir) && QFileInfo(dir).isDir()) watcher_.addPath(dir);
}

}  // namespace dovu

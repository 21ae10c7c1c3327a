// POSIX helpers of the port list: process liveness and the private advertisement folder.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "link/portlist_p.h"

namespace dovu::detail {

bool processAlive(qint64 pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

QString fallbackAdvertDir() { return QStringLiteral("/tmp/dovu-sim-%1").arg(::getuid()); }

bool isPrivateDir(const QString& dir) {
  struct stat st {};
  if (::lstat(QFile::encodeName(dir).constData(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool makePrivateDir(const QString& dir, QString* error) {
  const QString parent = QFileInfo(dir).absolutePath();
  QDir().mkpath(parent);
  const QByteArray path = QFile::encodeName(dir);
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = QStringLiteral("Cannot create %1: %2").arg(dir, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
  }
  if (!isPrivateDir(dir)) {
    // Someone else's folder in /tmp must not carry our advertisements.
    if (error) *error = QStringLiteral("%1 is not a folder private to this user").arg(dir);
    return false;
  }
  return true;
}

}  // namespace dovu::detail

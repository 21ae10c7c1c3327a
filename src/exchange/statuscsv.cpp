#include "exchange/statuscsv.h"

#include <QStringList>
#include <optional>
#ifndef Q_OS_WIN
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "base/filename.h"
#include "model/sensors.h"

namespace dovu {

namespace {

// Tenths with a decimal point, whatever the locale: "-0.3", "25.0"; empty for no reading.
QString tenths(std::optional<int> t) {
  if (!t) return {};
  const int a = *t < 0 ? -*t : *t;
  return QStringLiteral("%1%2.%3").arg(*t < 0 ? QStringLiteral("-") : QString()).arg(a / 10).arg(a % 10);
}

}  // namespace

QString statusCsvRow(const QDateTime& when, const StatusRecord& s) {
  // The offset is written out even for UTC, so that rows from different machines compare.
  const QDateTime t = when.toOffsetFromUtc(when.offsetFromUtc());
  const QStringList cells{
      t.toString(Qt::ISODate),
      tenths(analogTemperatureTenths(s.t1Raw)),
      tenths(analogTemperatureTenths(s.t2Raw)),
      tenths(signedTenths(s.t3)),
      tenths(humidityTenths(s.humidity)),
      tenths(s.exVolts),
      tenths(s.dcVolts),
      s.rssi == 99 ? QString() : QString::number(s.rssi),
  };
  return cells.join(QLatin1Char(','));
}

bool StatusCsvLog::open(const QString& path, const QString& header, QString* error) {
  file_.close();
  path_ = path;
#ifdef Q_OS_WIN
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
    *error = QStringLiteral("%1: %2").arg(displayFileName(path), file_.errorString());
    return false;
  }
#else
  // As every file the program writes: a symbolic link is not followed (it could steer the rows
  // onto another file of the user's), a new file is readable and writable by its owner only and
  // an existing one keeps its mode.  Only a regular file is appended to; O_NONBLOCK keeps a FIFO
  // from stopping the open.
  const int fd = ::open(nativeFileName(path).constData(),
                        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  // The log is the window's: its reasons are in Polish (the system's in the system's language).
  auto fail = [&](const QString& reason) {
    *error = QStringLiteral("%1: %2").arg(displayFileName(path), reason);
    return false;
  };
  if (fd < 0)
    return fail(errno == ELOOP ? QStringLiteral("to dowiązanie symboliczne, zapisywany jest tylko zwykły plik")
                               : QString::fromLocal8Bit(std::strerror(errno)));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(QStringLiteral("to nie jest zwykły plik"));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!file_.open(fd, QIODevice::WriteOnly | QIODevice::Append, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return fail(file_.errorString());
  }
#endif
  return file_.size() > 0 || write(header, error);
}

bool StatusCsvLog::append(const QDateTime& when, const StatusRecord& s, QString* error) {
  return write(statusCsvRow(when, s), error);
}

bool StatusCsvLog::write(const QString& line, QString* error) {
  const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
  if (file_.write(bytes) == bytes.size() && file_.flush()) return true;
  *error = QStringLiteral("%1: %2").arg(displayFileName(path_), file_.errorString());
  file_.close();
  return false;
}

}  // namespace dovu

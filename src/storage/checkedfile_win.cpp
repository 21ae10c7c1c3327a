// The Windows half of the file access.  Links, owners and modes are the file system's business
// there: the save writes to the named file (QSaveFile replaces it with ReplaceFile semantics), and
// only a regular file is read or replaced.
#include <QFileInfo>

#include "storage/checkedfile_p.h"

namespace dovu::detail {
namespace {

bool fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

bool openRegularFile(QFile& file, const QString& path, QString* error) {
  // A device name (COM1, a named pipe) is no file to read: refused before it is opened, since
  // opening it could wait for the device.
  const QFileInfo info(path);
  if (!info.isFile())
    return fail(error, info.exists() ? QStringLiteral("%1: to nie jest zwykły plik").arg(path)
                                     : QStringLiteral("%1: plik nie istnieje").arg(path));
  file.setFileName(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
  return true;
}

std::optional<SaveTarget> saveTarget(const QString& path, QString* error) {
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    fail(error, QStringLiteral("%1: to nie jest zwykły plik").arg(path));
    return std::nullopt;
  }
  if (info.exists() && !info.isWritable()) {
    fail(error, QStringLiteral("%1: plik jest tylko do odczytu").arg(path));
    return std::nullopt;
  }
  return SaveTarget{info.absoluteFilePath(), info.exists()};
}

bool openPrivately(QSaveFile& file) { return file.open(QIODevice::WriteOnly); }

bool takeOverAttributes(QSaveFile&, const SaveTarget&, QString*) { return true; }

void syncFolder(const QString&) {}

}  // namespace dovu::detail

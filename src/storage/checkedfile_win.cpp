// The Windows half of the file access.  Links, owners and modes are the file system's business
// there: the save writes to the named file (QSaveFile replaces it with ReplaceFile semantics), and
// only a regular file is read or replaced.
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include "storage/checkedfile.h"
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

}  // namespace dovu::detail

namespace dovu {

bool canSaveFile(const QString& path, QString* error) {
  const QFileInfo info(path);
  auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("%1: %2").arg(path, why);
    return false;
  };
  if (info.exists() && !info.isFile()) return fail(QStringLiteral("to nie jest zwykły plik"));
  if (info.exists() && !info.isWritable()) return fail(QStringLiteral("plik jest tylko do odczytu"));
  if (!info.absoluteDir().exists()) return fail(QStringLiteral("folder nie istnieje"));
  return true;
}

bool saveFileAtomically(const QString& path, const Bytes& data, QString* error, const FileWriteFn& write) {
  if (!canSaveFile(path, error)) return false;
  const QFileInfo info(path);
  auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("%1: %2").arg(path, why);
    return false;
  };
  // QSaveFile writes a temporary file and replaces the target only on commit(); without commit()
  // the temporary file is removed.  Its writes are buffered and commit() renames even after a
  // failed one, so the buffer is flushed and its error checked first.
  QSaveFile file(info.absoluteFilePath());
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  std::size_t done = 0;
  while (done < data.size()) {
    const long n = write ? write(file.handle(), data.data() + done, data.size() - done)
                         : static_cast<long>(file.write(data.data() + done, static_cast<qint64>(data.size() - done)));
    if (n <= 0) {
      const QString why = file.errorString();
      file.cancelWriting();
      return fail(why);
    }
    done += static_cast<std::size_t>(n);
  }
  if (!file.flush() || file.error() != QFileDevice::NoError) {
    const QString why = file.errorString();
    file.cancelWriting();
    return fail(why);
  }
  return file.commit() || fail(file.errorString());
}

}  // namespace dovu

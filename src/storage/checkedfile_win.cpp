// The Windows half of the file access.  Links, owners and modes are the file system's business
// there: the save writes a temporary file beside the named file and ReplaceFileW moves it over the
// target, which keeps the target's attributes and permissions; only a regular file is read or
// replaced.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <windows.h>

#include "storage/checkedfile.h"
#include "storage/checkedfile_p.h"
#include "storage/replacefile_win.h"

namespace dovu::detail {
namespace {

bool fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

std::wstring nativePath(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

// The system's own text for an error, in the user's language.
QString systemText(DWORD err) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, err, 0,
      reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const QString s = n ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                      : QStringLiteral("błąd systemu %1").arg(err);
  if (text) ::LocalFree(text);
  return s;
}

// The temporary file of a save, beside its target, which commit() moves over the target with
// ReplaceFileW: the file keeps the replaced one's attributes, permissions and creation time, which
// QSaveFile's rename (MoveFileEx) drops, and a target another process holds for a moment (an
// indexer, a virus scanner) is tried again.  A plain QFile created with a fresh name: QTemporaryFile
// keeps its handle open after close() (to hold the name), and an open handle makes the flush and
// the replace fail with a sharing violation.
class SaveFile : public QFile {
 public:
  explicit SaveFile(const QString& target) : target_(target) {}
  ~SaveFile() override { cancelWriting(); }

  // Creates the file under a name no other file has; false with the reason in errorString().
  bool create() {
    for (int attempt = 0; attempt < 100; ++attempt) {
      setFileName(target_ + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16,
                                                        QLatin1Char('0')));
      if (QFile::open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        owned_ = true;
        return true;
      }
      if (!QFile::exists(fileName())) return false;  // not a name clash: the reason is in errorString()
    }
    return false;
  }

  // false with the reason in errorString(); the target is then as it was, or, when it could not be
  // put back, the new content stays in fileName() and the reason says so.
  bool commit() {
    if (!isOpen()) return false;
    auto giveUp = [this](const QString& why) {
      cancelWriting();
      setErrorString(why);  // closing may have cleared it
      return false;
    };
    // A write that failed in the buffer must not replace the target.
    if (!flush() || error() != QFileDevice::NoError) return giveUp(errorString());
    const QString written = fileName();
    close();
    if (error() != QFileDevice::NoError) return giveUp(errorString());
    if (const DWORD err = syncToDisk(nativePath(written))) return giveUp(systemText(err));
    if (const DWORD err = replaceKeepingAttributes(nativePath(target_), nativePath(written))) {
      if (QFileInfo::exists(target_) || !QFileInfo::exists(written)) return giveUp(systemText(err));
      // The old file is gone and the new one could not take its name: it is kept where it is.
      owned_ = false;
      setErrorString(QStringLiteral("%1; zapisane dane są w pliku %2").arg(systemText(err), QDir::toNativeSeparators(written)));
      return false;
    }
    owned_ = false;
    return true;
  }

  // Closes and removes the temporary file unless it has become the target.
  void cancelWriting() {
    close();
    if (owned_) QFile::remove(fileName());
    owned_ = false;
  }

 private:
  QString target_;
  bool owned_ = false;  // the temporary file exists and is ours to remove
};

}  // namespace

bool openRegularFile(QFile& file, const QString& path, QString* error, Problem* why) {
  // A device name (COM1, a named pipe) is no file to read: refused before it is opened, since
  // opening it could wait for the device.
  const QFileInfo info(path);
  if (!info.isFile()) {
    if (why && info.exists()) *why = Problem(Cause::None, Cause::NotRegularFile, path);
    else if (why) *why = Problem(Cause::None, Cause::NoSuchFile, path);
    return fail(error, info.exists() ? QStringLiteral("%1: to nie jest zwykły plik").arg(path)
                                     : QStringLiteral("%1: plik nie istnieje").arg(path));
  }
  file.setFileName(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (why) *why = Problem(Cause::None, Cause::None, {}, {}, QStringLiteral("%1: %2").arg(path, file.errorString()));
    return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
  }
  return true;
}

}  // namespace dovu::detail

namespace dovu {

bool canSaveFile(const QString& path, QString* error, Problem* why) {
  const QFileInfo info(path);
  auto fail = [&](const QString& text) {
    if (error) *error = QStringLiteral("%1: %2").arg(path, text);
    if (why) *why = Problem(Cause::None, Cause::None, {}, {}, QStringLiteral("%1: %2").arg(path, text));
    return false;
  };
  if (info.exists() && !info.isFile()) {
    fail(QStringLiteral("to nie jest zwykły plik"));
    if (why) *why = Problem(Cause::None, Cause::NotRegularFile, path);
    return false;
  }
  if (info.exists() && !info.isWritable()) {
    fail(QStringLiteral("plik jest tylko do odczytu"));
    if (why) *why = Problem(Cause::None, Cause::FileReadOnly, path);
    return false;
  }
  if (!info.absoluteDir().exists()) {
    fail(QStringLiteral("folder nie istnieje"));
    if (why) *why = Problem(Cause::None, Cause::NoSuchFolder, path);
    return false;
  }
  return true;
}

bool saveFileAtomically(const QString& path, const Bytes& data, QString* error, const FileWriteFn& write, Problem* why) {
  if (!canSaveFile(path, error, why)) return false;
  const QFileInfo info(path);
  auto fail = [&](const QString& text) {
    if (error) *error = QStringLiteral("%1: %2").arg(path, text);
    if (why) *why = Problem(Cause::None, Cause::None, {}, {}, QStringLiteral("%1: %2").arg(path, text));
    return false;
  };
  // The temporary file replaces the target only on commit(), which checks the buffered writes
  // first; without commit() it is removed.
  detail::SaveFile file(info.absoluteFilePath());
  if (!file.create()) return fail(file.errorString());
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
  return file.commit() || fail(file.errorString());
}

}  // namespace dovu

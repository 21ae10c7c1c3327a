// The Windows half of the file access.  Links, owners and modes are the file system's business
// there: the save writes a temporary file beside the named file and ReplaceFileW moves it over the
// target, which keeps the target's attributes and permissions; only a regular file is read or
// replaced.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <QDir>
#include <QFileInfo>

#include <windows.h>

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

}  // namespace

SaveFile::SaveFile(const QString& target) : QTemporaryFile(target + QStringLiteral(".XXXXXX")), target_(target) {}

bool SaveFile::commit() {
  if (!isOpen()) return false;
  auto giveUp = [this](const QString& why) {
    close();
    remove();
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
    setAutoRemove(false);
    setErrorString(QStringLiteral("%1; zapisane dane są w pliku %2").arg(systemText(err), QDir::toNativeSeparators(written)));
    return false;
  }
  setAutoRemove(false);
  return true;
}

void SaveFile::cancelWriting() {
  close();
  remove();
}

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

bool openPrivately(SaveFile& file) { return file.open(); }

// ReplaceFileW gives the file the target's attributes and permissions when it replaces it; a new
// file gets those of its folder.
bool takeOverAttributes(SaveFile&, const SaveTarget&, QString*) { return true; }

void syncFolder(const QString&) {}

}  // namespace dovu::detail

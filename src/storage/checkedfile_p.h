#pragma once
// The per-system half of the file access in checkedfile.cpp: opening a file for reading without
// hanging on a FIFO or device, and what a save must do about links, owners and modes.
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <optional>
#ifdef Q_OS_WIN
#include <QTemporaryFile>
#endif

namespace dovu::detail {

// Opens path for reading, refusing anything that is not a regular file (a FIFO, a device, a
// folder) without waiting for it.  false with the reason in *error.
bool openRegularFile(QFile& file, const QString& path, QString* error);

// What a save to path replaces or creates.
struct SaveTarget {
  QString path;           // the file the rename replaces: path itself, or where its links lead
  bool exists = false;    // a regular file is there now
  unsigned ownerId = 0;   // of the existing file (POSIX)
  unsigned groupId = 0;
  unsigned mode = 0;      // permission bits of the existing file (POSIX)
};

// Follows symbolic links only where the system itself would, and refuses a folder, a device, a
// FIFO or a read-only file.  nullopt with the reason in *error.
std::optional<SaveTarget> saveTarget(const QString& path, QString* error);

#ifdef Q_OS_WIN
// The temporary file of a save, beside its target, which commit() moves over the target with
// ReplaceFileW: the file keeps the replaced one's attributes, permissions and creation time, which
// QSaveFile's rename (MoveFileEx) drops, and a target another process holds for a moment (an
// indexer, a virus scanner) is tried again.
class SaveFile : public QTemporaryFile {
 public:
  explicit SaveFile(const QString& target);
  // false with the reason in errorString(); the target is then as it was, or, when it could not be
  // put back, the new content stays in fileName() and the reason says so.
  bool commit();
  void cancelWriting();

 private:
  QString target_;
};
#else
using SaveFile = QSaveFile;
#endif

// Opens the temporary file of a save so that nobody else can read it at any moment.
bool openPrivately(SaveFile& file);

// Gives the temporary file the owner, group and mode of the file it replaces, or owner-only
// access for a new file, before any byte is written.  false with the reason in *error.
bool takeOverAttributes(SaveFile& file, const SaveTarget& target, QString* error);

// Makes the rename itself durable (the folder's entry).
void syncFolder(const QString& folder);

}  // namespace dovu::detail

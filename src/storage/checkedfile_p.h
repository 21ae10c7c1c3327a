#pragma once
// The per-system half of the file access in checkedfile.cpp: opening a file for reading without
// hanging on a FIFO or device, and what a save must do about links, owners and modes.
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <optional>

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

// Opens the temporary file of a save so that nobody else can read it at any moment.
bool openPrivately(QSaveFile& file);

// Gives the temporary file the owner, group and mode of the file it replaces, or owner-only
// access for a new file, before any byte is written.  false with the reason in *error.
bool takeOverAttributes(QSaveFile& file, const SaveTarget& target, QString* error);

// Makes the rename itself durable (the folder's entry).
void syncFolder(const QString& folder);

}  // namespace dovu::detail

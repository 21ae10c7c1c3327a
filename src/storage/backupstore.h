#pragma once
// The history of controller configurations kept before every write to a controller: one .dvc file
// per backup in a folder of its own, and an index (index.json) that says for each one when it was
// taken, why, from which port, the controller's firmware version and a one-line summary.
//
// Every file is written with the atomic save, the backup's file before the index that names it, so
// that a failure at any step leaves the previous history whole and the index never names a file
// that is not there.  The newest backups are kept up to a limit; an older one goes only while
// another backup of the same controller stays.  The index does not know a controller's serial
// number, so a controller is told by its summary (first input's text and telephone 1, the client's
// own data): a port is shared by every controller an installer attaches, a firmware version by
// every controller of a batch.  A changed telephone 1 makes a second "controller", which keeps more
// backups, never fewer.
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "model/form.h"

namespace dovu {

enum class BackupReason { BeforeUpload, BeforeFirmware, Manual };

// "before upload", "before firmware update", "manual" for the command-line tool; the Polish words
// for the window.
QString backupReasonText(BackupReason reason);
QString backupReasonPolish(BackupReason reason);

struct BackupEntry {
  int number = 0;    // given once, never reused: "backups show N" keeps meaning the same backup
  QString file;      // the .dvc file's name inside the folder
  QDateTime date;    // local time with its offset
  BackupReason reason = BackupReason::Manual;
  QString port;
  QString firmware;  // as the controller's status showed it; empty when unknown
  QString summary;   // the first input's text and telephone 1
};

// The summary line of a configuration: "<first input's text> | <telephone 1>", control
// characters as spaces.
QString backupSummary(const Form& form);

class BackupStore {
 public:
  static constexpr int kDefaultLimit = 100;
  // The limit in use: the environment variable DOVU_BACKUP_LIMIT when it holds a whole number of at
  // least 1, else kDefaultLimit.
  static int configuredLimit();
  // The folder used by the window and the tool: QStandardPaths::AppDataLocation of "dovu-konfig"
  // and "backups" ($XDG_DATA_HOME/dovu-konfig/backups on Linux), whichever program asks.
  static QString defaultFolder();

  explicit BackupStore(QString folder = defaultFolder(), int limit = configuredLimit());
  const QString& folder() const { return folder_; }
  int limit() const { return limit_; }

  // The backups, newest first.  An empty or absent folder holds none; an index that cannot be read
  // or is malformed fails with the reason.
  std::optional<std::vector<BackupEntry>> list(QString* error) const;
  // The backup with that number, or nullopt with the reason.
  std::optional<BackupEntry> find(int number, QString* error) const;
  // The full path of a backup's file.
  QString pathOf(const BackupEntry& entry) const;

  // Stores the form's configuration as a new backup (the firmware version given, else as the form
  // shows it),
  // then removes the oldest ones beyond the limit that are not a controller's only backup.  On
  // failure (the folder cannot be made, a file cannot be written, the index is unreadable, another
  // program is storing a backup there at the same moment) nothing
  // of the history has changed and *error says why: the write that asked for the backup must not
  // start.
  std::optional<BackupEntry> add(const Form& form, BackupReason reason, const QString& port, QString* error,
                                 const QDateTime& when = QDateTime::currentDateTime(), const QString& firmware = {});

 private:
  QString indexPath() const;
  QString lockPath() const;
  bool saveIndex(const std::vector<BackupEntry>& entries, int next, QString* error) const;
  std::optional<std::vector<BackupEntry>> readIndex(int* next, QString* error) const;

  QString folder_;
  int limit_;
};

}  // namespace dovu

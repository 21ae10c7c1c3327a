#pragma once
// The history of controller configurations kept before every write to a controller: one .dvc file
// per backup in a folder of its own, and an index (index.json) that says for each one when it was
// taken, why, from which port, the controller's firmware version and a one-line summary.
//
// Every file is written with the atomic save, the backup's file before the index that names it, so
// that a failure at any step leaves the previous history whole and the index never names a file
// that is not there.  Backups are ordered by their number, which the index gives out in sequence:
// a controller's clock that is wrong or was set back changes no order.  The newest backups are kept
// up to a limit; an older one goes only while a newer backup holds the same configuration.  Nothing
// a controller reports tells one unit from another (a port is shared by every controller an
// installer attaches, a firmware version by a batch, a summary by every unit set up from one
// template), so the configuration's own content stands for the controller: a configuration that no
// other backup holds is never removed, whatever the limit.  The newest backup and the one a restore
// puts back are never removed either.
#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "base/cause.h"
#include "model/configuration.h"

class QLockFile;

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
  QString content;   // SHA-256 of the .dvc file, hex; empty in indexes written before it was kept
};

// The summary line of a configuration: "<first input's text> | <telephone 1>", control
// characters as spaces.
QString backupSummary(const Configuration& c);

class BackupStore {
 public:
  static constexpr int kDefaultLimit = 100;
  // The limit asked for by the environment variable DOVU_BACKUP_LIMIT (decimal digits, at least 1),
  // kDefaultLimit when it is not set; nullopt with the reason when it holds anything else.
  static std::optional<int> configuredLimit(QString* error);
  // How long add() waits for another program's store to end, by default.
  static constexpr int kDefaultLockWaitMs = 10000;
  // The folder used by the window and the tool: QStandardPaths::AppDataLocation of "dovu-konfig"
  // and "backups" ($XDG_DATA_HOME/dovu-konfig/backups on Linux), whichever program asks.
  static QString defaultFolder();

  // limit 0: configuredLimit(); a limit the environment spoils makes add() fail with the reason.
  explicit BackupStore(QString folder = defaultFolder(), int limit = 0);
  const QString& folder() const { return folder_; }
  int limit() const { return limit_; }
  // The backup with this number (the one a restore puts back) is never removed by the rotation:
  // neither by this store nor, while this store and its copies live, by another program's.  Call
  // it before looking the backup up: a store under way when it is called has ended once it returns.
  void keep(int number);
  // Why add() would fail before looking at anything (a malformed DOVU_BACKUP_LIMIT); empty if not.
  const QString& problem() const { return limitError_; }
  // The last failure of list(), find() or add() as what happened, for a surface that words it in
  // its own language; *error holds it in the tool's English words.
  const Problem& lastProblem() const { return last_; }
  // How long add() waits while another program stores a backup (0: not at all).
  void setLockWait(int ms) { lockWaitMs_ = ms; }

  // The backups, newest first.  An empty or absent folder holds none; an index that cannot be read
  // or is malformed fails with the reason.
  std::optional<std::vector<BackupEntry>> list(QString* error) const;
  // The backup with that number, or nullopt with the reason.
  std::optional<BackupEntry> find(int number, QString* error) const;
  // The full path of a backup's file.
  QString pathOf(const BackupEntry& entry) const;

  // Stores a configuration as a new backup (the firmware version given, else the configuration's
  // own),
  // then removes the oldest ones beyond the limit whose configuration a newer backup still holds.
  // Another program storing a backup at the same moment is waited for (up to the lock wait); a lock
  // left by a program that is gone, an empty one or one from another machine is cleared.  The
  // folder is made for the user alone; one that is a symbolic link, or that others may write, is
  // refused.  On failure (the folder cannot be made or is refused, a file cannot be written, the
  // index is unreadable, the limit is malformed, the lock stays taken) nothing of the history has
  // changed and *error says why: the write that asked for the backup must not start.
  std::optional<BackupEntry> add(const Configuration& c, BackupReason reason, const QString& port, QString* error,
                                 const QDateTime& when = QDateTime::currentDateTime(), const QString& firmware = {});

 private:
  QString indexPath() const;
  QString lockPath() const;
  bool saveIndex(const std::vector<BackupEntry>& entries, qint64 next, QString* error, Problem* why = nullptr) const;
  std::optional<std::vector<BackupEntry>> readIndex(qint64* next, QString* error) const;
  QString contentOf(const BackupEntry& entry) const;
  QString pinPath(int number) const;
  bool pinned(int number) const;

  QString folder_;
  int limit_ = kDefaultLimit;
  QString limitError_;
  Problem limitProblem_;
  mutable Problem last_;
  int kept_ = 0;
  std::shared_ptr<QLockFile> pin_;  // held while a restore runs: keep-N.lock
  int lockWaitMs_ = kDefaultLockWaitMs;
};

}  // namespace dovu

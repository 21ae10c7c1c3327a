#pragma once
// What the controller holds, taken without touching the window: a download of its own (the
// window's fields, colours and edits stay as they are, its bar shows the progress), and the backup
// kept before every write from the window.
#include <QObject>
#include <functional>
#include <memory>
#include <optional>

#include "model/configuration.h"
#include "base/bytes.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "storage/backupstore.h"

namespace dovu {

// %1: why the backup failed.
inline const char* kWriteWithoutBackupQuestion =
    "Nie zapisano kopii zapasowej konfiguracji sterownika: %1.\nKontynuować bez kopii zapasowej?";

class ControllerRead : public QObject {
  Q_OBJECT
 public:
  // The read's own dispatcher stands in front of the one attached to the link while the read runs.
  ControllerRead(Link& link, Session& session, QObject* parent = nullptr);
  ~ControllerRead() override;

  // Starts the read once the exchange under way is over; false, with nothing done, when logged out
  // or already reading.  finished() follows: true when every parameter was answered, result()
  // then holds them.
  bool start();
  bool busy() const { return queued_ || transfer_ != nullptr; }
  const Configuration& result() const { return result_; }
  // The firmware version of the controller read (the session's, as it logged in).
  QString firmware() const { return session_.firmwareVersion(); }

 signals:
  // The read runs (its progress is worth showing), or has ended.
  void reading(bool on);
  void progress(int value);
  // The read's own transfer has something to tell (a noisy line), before finished().
  void notice(const dovu::Notice& notice);
  void finished(bool ok);

 private:
  bool begin();
  void end(bool ok);

  bool queued_ = false;
  Link& link_;
  Session& session_;
  Configuration result_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<ConfigTransfer> transfer_;
};

class BackupBeforeWrite : public QObject {
  Q_OBJECT
 public:
  BackupBeforeWrite(Link& link, Session& session, QObject* parent = nullptr);

  // What the controller holds (a download has just completed, held with the window's access
  // password): a backup taken before the next write needs no read of its own.
  void remember(const Configuration& held);
  // Something was written to the controller (an upload, a password, a firmware): what was
  // remembered is no longer what it holds.
  void forget() { known_.reset(); }
  bool busy() const { return read_.busy(); }
  // The read a backup takes when nothing is remembered (its progress is shown like a transfer's).
  ControllerRead& read() { return read_; }

  // Keeps what the controller on port holds in the backup history, then calls done(true).  When it
  // cannot be read or stored, reports why (Cause::BackupNotSaved) and calls done(false): the write must
  // not start.  Ignored while a backup is under way.
  void take(BackupReason reason, const QString& port, std::function<void(bool)> done);
  // Asked when the backup failed, with what happened: true goes on without it (the user's explicit
  // choice; done(true) then follows with no backup).  Unset: the failure is reported, done(false).
  std::function<bool(const Problem& why)> writeWithout;

 signals:
  // Why a backup failed when nobody was asked (writeWithout unset), and what its read had to tell.
  void notice(const dovu::Notice& notice);

 private:
  void store_(const Configuration& c, const QString& firmware);
  void fail(const Problem& why);
  // A failure before the store was asked: known only in the window's words.
  void fail(const QString& why) { fail(Problem(Cause::BackupNotSaved, Cause::None, {}, {}, why)); }

  ControllerRead read_;
  struct Known {
    Bytes file;
    QString firmware;
  };
  std::optional<Known> known_;
  BackupReason reason_ = BackupReason::Manual;
  QString port_;
  std::function<void(bool)> done_;
};

}  // namespace dovu

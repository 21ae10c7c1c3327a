#include "exchange/controllercopy.h"

#include <QTimer>

#include "storage/configfile.h"
#include "storage/configjson.h"

namespace dovu {

ControllerRead::ControllerRead(Link& link, Session& session, QObject* parent)
    : QObject(parent), link_(link), session_(session) {}

ControllerRead::~ControllerRead() = default;

bool ControllerRead::start() {
  if (busy() || link_.aborted() || !session_.loggedIn()) return false;
  // Runs once the exchange under way is over; dropped when that logged the window out.
  queued_ = true;
  link_.submit(
      [this] {
        queued_ = false;
        if (!begin()) emit finished(false);
      },
      Link::Queued::DropIfSessionChanged,
      [this] {
        queued_ = false;
        emit finished(false);
      });
  return true;
}

bool ControllerRead::begin() {
  // The transfer refuses a line that is busy; a window logged out meanwhile has nothing to read.
  if (!session_.loggedIn()) return false;
  dispatcher_ = std::make_unique<Dispatcher>();
  transfer_ = std::make_unique<ConfigTransfer>(link_, session_);
  // The read's own dispatcher, without listeners, stands in front of the window's while it lives:
  // a status record that arrives meanwhile is not drawn.  The window shows how far the read is.
  dispatcher_->attach(link_);
  emit reading(true);
  emit progress(0);
  connect(transfer_.get(), &ConfigTransfer::progress, this, &ControllerRead::progress);
  connect(transfer_.get(), &ConfigTransfer::notice, this, &ControllerRead::notice);
  connect(transfer_.get(), &ConfigTransfer::downloaded, this, [this](const Configuration& c) { result_ = c; });
  connect(transfer_.get(), &ConfigTransfer::finished, this, [this](bool ok) {
    // Ended from inside the transfer's own callback: the transfer goes once that has returned.
    QTimer::singleShot(0, this, [this, ok] { end(ok); });
  });
  if (!transfer_->startDownload()) {
    transfer_.reset();
    dispatcher_.reset();
    emit reading(false);
    return false;
  }
  return true;
}

void ControllerRead::end(bool ok) {
  transfer_.reset();
  dispatcher_.reset();
  emit reading(false);
  emit finished(ok);
}

BackupBeforeWrite::BackupBeforeWrite(Link& link, Session& session, QObject* parent)
    : QObject(parent), read_(link, session) {
  connect(&read_, &ControllerRead::notice, this, &BackupBeforeWrite::notice);
  connect(&read_, &ControllerRead::finished, this, [this](bool ok) {
    if (!ok) return fail(QStringLiteral("sterownik nie oddał całej konfiguracji"));
    store_(read_.result(), read_.firmware());
  });
}

void BackupBeforeWrite::remember(const Configuration& held) {
  QString why;
  // Kept as the file it would be stored as: a configuration the file cannot hold is not remembered.
  const auto file = buildConfigFile(held, &why);
  if (file) known_ = Known{*file, read_.firmware()};
  else known_.reset();
}

void BackupBeforeWrite::take(BackupReason reason, const QString& port, std::function<void(bool)> done) {
  if (busy() || done_) return;
  reason_ = reason;
  port_ = port;
  done_ = std::move(done);
  if (known_) {
    const auto c = readConfigFile(known_->file);
    if (!c) return fail(QStringLiteral("pamiętana konfiguracja jest nieczytelna"));
    return store_(*c, known_->firmware);
  }
  if (!read_.start()) fail(QStringLiteral("sterownik nie jest zalogowany"));
}

void BackupBeforeWrite::store_(const Configuration& c, const QString& firmware) {
  QString why;
  // The window waits only briefly for another program's store: its thread draws the window.
  BackupStore store;
  store.setLockWait(500);
  Configuration kept = c;
  kept.firmware.clear();  // the version goes with the entry
  kept.port.clear();
  if (!store.add(kept, reason_, port_, &why, QDateTime::currentDateTime(), firmware)) return fail(store.lastProblem());
  auto done = std::move(done_);
  done_ = nullptr;
  done(true);
}

void BackupBeforeWrite::fail(const Problem& why) {
  auto done = std::move(done_);
  done_ = nullptr;
  if (writeWithout) {
    const bool goOn = writeWithout(why);
    if (done) done(goOn);
    return;
  }
  emit notice(Notice{MessageKind::Error, why, false});
  if (done) done(false);
}

}  // namespace dovu

#include "exchange/controllercopy.h"

#include <QTimer>

#include "model/form.h"
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
  form_ = std::make_unique<Form>();
  dispatcher_ = std::make_unique<Dispatcher>(*form_);
  transfer_ = std::make_unique<ConfigTransfer>(*form_, link_, session_);
  // The answers go to the read's own form while its dispatcher lives (it stands in front of the
  // window's); the window shows how far it is.
  dispatcher_->attach(link_);
  emit reading(true);
  emit progress(0);
  connect(transfer_.get(), &ConfigTransfer::progress, this, &ControllerRead::progress);
  connect(transfer_.get(), &ConfigTransfer::notice, this, &ControllerRead::notice);
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

BackupBeforeWrite::BackupBeforeWrite(Form& window, Link& link, Session& session, Dispatcher&,
                                     QObject* parent)
    : QObject(parent), window_(window), read_(link, session) {
  connect(&read_, &ControllerRead::notice, this, &BackupBeforeWrite::notice);
  connect(&read_, &ControllerRead::finished, this, [this](bool ok) {
    if (!ok) return fail(QStringLiteral("sterownik nie oddał całej konfiguracji"));
    store_(read_.result(), read_.firmware());
  });
}

void BackupBeforeWrite::remember() {
  QString why;
  const auto file = buildConfigFile(configurationOf(window_), &why);
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
    Form form;
    showConfiguration(form, *c);
    return store_(form, known_->firmware);
  }
  if (!read_.start()) fail(QStringLiteral("sterownik nie jest zalogowany"));
}

void BackupBeforeWrite::store_(const Form& form, const QString& firmware) {
  QString why;
  // The window waits only briefly for another program's store: its thread draws the window.
  BackupStore store;
  store.setLockWait(500);
  if (!store.add(shownConfiguration(form), reason_, port_, &why, QDateTime::currentDateTime(), firmware)) return fail(store.lastProblem());
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

#include "exchange/provision.h"

#include <QTimer>

#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "link/commands.h"
#include "link/link.h"
#include "link/portlist.h"
#include "link/portwatcher.h"
#include "link/serialport.h"
#include "model/params.h"
#include "session/session.h"
#include "storage/configjson.h"

namespace dovu {

ProvisionJob::ProvisionJob(int siteIndex, const Site& site, const QString& port, const QString& defaultPassword,
                           BackupStore* backups, QObject* parent)
    : QObject(parent), site_(site), defaultPassword_(defaultPassword), backups_(backups) {
  outcome_.site = siteIndex;
  outcome_.port = port;
}

ProvisionJob::~ProvisionJob() {
  // The transfer and the dispatcher refer to the link, the link to the port.
  transfer_.reset();
  dispatcher_.reset();
  session_.reset();
  link_.reset();
  if (port_ && port_->isOpen()) port_->close();
}

void ProvisionJob::setStage(SiteOutcome::Stage stage) {
  outcome_.stage = stage;
  emit stageChanged(stage);
}

void ProvisionJob::start() {
  clock_.start();
  setStage(SiteOutcome::Stage::Login);
  port_ = std::make_unique<SerialPort>();
  port_->setPort(outcome_.port);
  port_->setBaudRate(kLineBitsPerSecond);
  link_ = std::make_unique<Link>(port_.get());
  connect(link_.get(), &Link::notice, this, [this](const Notice& n) { recorder_.take(n); });
  session_ = std::make_unique<Session>(*link_);
  session_->setPassword(site_.password.isEmpty() ? defaultPassword_ : site_.password);
  connect(session_.get(), &Session::notice, this, [this](const Notice& n) { recorder_.take(n); });
  connect(session_.get(), &Session::loginFinished, this,
          [this](Session::ConnectResult r) { loggedIn(static_cast<int>(r)); });
  const Session::ConnectResult r = session_->connectAndLogin();
  if (r != Session::ConnectResult::Started) loggedIn(static_cast<int>(r));
}

Problem ProvisionJob::lineProblem() const {
  if (transfer_ && transfer_->portError()) return Problem{Session::portErrorCause(*transfer_->portError())};
  if (recorder_.last.cause == Cause::PortUnavailable && recorder_.last.reason != Cause::None)
    return Problem{recorder_.last.reason};
  if (recorder_.last.cause != Cause::None) return recorder_.last;
  return Problem{Cause::NoAnswer};
}

void ProvisionJob::loggedIn(int result) {
  if (ended_) return;
  switch (static_cast<Session::ConnectResult>(result)) {
    case Session::ConnectResult::LoggedIn: break;
    case Session::ConnectResult::Refused:
      return fail(recorder_.last.cause != Cause::None ? recorder_.last : Problem{Cause::WrongPassword});
    case Session::ConnectResult::PortUnavailable:
      return fail(recorder_.last.cause != Cause::None ? recorder_.last : Problem{Cause::PortUnavailable});
    case Session::ConnectResult::NoAnswer:
    case Session::ConnectResult::Started:
      return fail(lineProblem());
  }
  session_->liveOff();  // nothing polls between the steps
  if (!backups_) return backupRead(true);
  setStage(SiteOutcome::Stage::Backup);
  startTransfer(false);
}

void ProvisionJob::startTransfer(bool up) {
  dispatcher_ = std::make_unique<Dispatcher>();
  dispatcher_->attach(*link_);
  transfer_ = std::make_unique<ConfigTransfer>(*link_, *session_);
  connect(transfer_.get(), &ConfigTransfer::downloaded, this, [this](const Configuration& c) { read_ = c; });
  connect(transfer_.get(), &ConfigTransfer::notice, this, [this](const Notice& n) { recorder_.take(n); });
  // Only what has written nothing may end early.
  if (outcome_.stage == SiteOutcome::Stage::Backup) transfer_->stopRequested = [this] { return stopAsked_; };
  connect(transfer_.get(), &ConfigTransfer::progress, this, &ProvisionJob::progress);
  connect(transfer_.get(), &ConfigTransfer::finished, this, [this](bool ok) {
    // Ended inside the transfer's own callback: the next step starts once that has returned.
    QTimer::singleShot(0, this, [this, ok] { transferEnded(ok); });
  });
  const bool started = up ? transfer_->startUpload(meant_) : transfer_->startDownload();
  if (!started) QTimer::singleShot(0, this, [this] { transferEnded(false); });
}

void ProvisionJob::transferEnded(bool ok) {
  if (ended_) return;
  switch (outcome_.stage) {
    case SiteOutcome::Stage::Backup: return backupRead(ok);
    case SiteOutcome::Stage::Upload: return uploaded(ok);
    case SiteOutcome::Stage::Verify: return verified(ok);
    default: return;
  }
}

void ProvisionJob::backupRead(bool ok) {
  if (backups_) {
    if (!ok) {
      if (transfer_ && transfer_->stopped()) return finish(SiteOutcome::Result::Stopped);
      return fail(lineProblem());
    }
    QString why;
    Configuration kept = read_;
    kept.port.clear();  // the entry keeps the port and the version itself
    kept.firmware.clear();
    const auto entry = backups_->add(kept, BackupReason::BeforeUpload, outcome_.port, &why,
                                     QDateTime::currentDateTime(), session_->firmwareVersion());
    if (!entry) return fail(backups_->lastProblem());
    outcome_.backup = entry->number;
  }
  if (stopAsked_) return finish(SiteOutcome::Result::Stopped);
  setStage(SiteOutcome::Stage::Upload);
  meant_ = site_.config;
  if (const auto tooLong = textTooLong(meant_)) return fail(*tooLong);
  startTransfer(true);
}

void ProvisionJob::uploaded(bool ok) {
  outcome_.written = static_cast<int>(transfer_->acknowledged());
  outcome_.total = static_cast<int>(transfer_->toSend());
  if (!ok) {
    outcome_.inFlight = outcome_.written < outcome_.total;
    return fail(lineProblem());
  }
  setStage(SiteOutcome::Stage::Verify);
  startTransfer(false);
}

void ProvisionJob::verified(bool ok) {
  if (!ok) return fail(lineProblem());
  // The controller holds what was meant when every parameter reads back as it was sent.
  for (const ParamDef& p : paramTable()) {
    if (encodeParameter(meant_, p) == encodeParameter(read_, p)) continue;
    const qsizetype before = outcome_.differing.size();
    // Named as the site table and the JSON files name it.
    for (const ConfigField* f : parameterFields(p))
      if (differsForController(meant_, read_, *f)) outcome_.differing << f->name;
    if (outcome_.differing.size() == before) outcome_.differing << QStringLiteral("parameter %1").arg(p.readCode);
  }
  outcome_.firmware = session_->firmwareVersion();
  if (!outcome_.differing.isEmpty()) return fail(Problem{});
  outcome_.held = read_;
  outcome_.held.password = session_->password();
  outcome_.held.port.clear();
  outcome_.held.firmware.clear();
  finish(SiteOutcome::Result::Verified);
}

void ProvisionJob::fail(const Problem& problem) {
  outcome_.problem = problem;
  finish(SiteOutcome::Result::Failed);
}

void ProvisionJob::finish(SiteOutcome::Result result) {
  if (ended_) return;
  ended_ = true;
  outcome_.result = result;
  if (result == SiteOutcome::Result::Verified) setStage(SiteOutcome::Stage::Done);
  auto end = [this] {
    outcome_.ms = clock_.elapsed();
    if (port_ && port_->isOpen()) port_->close();
    emit finished();
  };
  // A controller that still answers is logged out; a silent or lost one is not waited for again.
  if (!port_ || !port_->isOpen() || !session_ || !session_->loggedIn()) {
    QTimer::singleShot(0, this, end);
    return;
  }
  session_->showLoggedOut();
  Request logout;
  logout.code = kCodeLogout;
  logout.payload = kLogoutPayload;
  logout.ticks = kSessionTicks;
  logout.repetitions = 0;
  logout.pauseAfterMs = 0;
  logout.showNoAnswer = false;
  logout.logOutOnNoAnswer = false;
  logout.done = [this, end](Request::Outcome) { QTimer::singleShot(0, this, end); };
  link_->send(std::move(logout));
}

Provisioner::Provisioner(std::vector<Site> sites, Options options, QObject* parent)
    : QObject(parent), sites_(std::move(sites)), options_(std::move(options)) {
  outcomes_.resize(sites_.size());
  for (std::size_t i = 0; i < sites_.size(); ++i) {
    outcomes_[i].site = static_cast<int>(i);
    pending_.push_back(static_cast<int>(i));
  }
}

Provisioner::~Provisioner() = default;

bool Provisioner::allVerified() const {
  return std::all_of(outcomes_.begin(), outcomes_.end(),
                     [](const SiteOutcome& o) { return o.result == SiteOutcome::Result::Verified; });
}

namespace {
// The ports a series may use by itself: adapters and running simulators, never the machine's own
// UARTs.
QStringList listedPorts() {
  QStringList ports;
  const auto source = systemPortSource();
  if (const auto list = listComPorts(*source))
    for (const PortEntry& e : *list)
      if (e.kind != PortKind::BuiltIn) ports << e.port;
  return ports;
}
}  // namespace

void Provisioner::start() {
  if (started_) return;
  started_ = true;
  if (options_.wait) {
    watcher_ = std::make_unique<PortWatcher>();
    connect(watcher_.get(), &PortWatcher::portsChanged, this, &Provisioner::refreshPorts);
  }
  takePorts(options_.autoPorts ? listedPorts() : options_.ports);
  QTimer::singleShot(0, this, &Provisioner::checkEnd);
}

void Provisioner::refreshPorts() {
  if (ended_) return;
  const QStringList now = listedPorts();
  // A port that went away holds no controller of this series any more: when it comes back, it is
  // another one.
  for (auto it = used_.begin(); it != used_.end();) {
    const bool busy = std::any_of(jobs_.begin(), jobs_.end(),
                                  [&](const auto& j) { return j->outcome().port == *it; });
    if (!now.contains(*it) && !busy) it = used_.erase(it);
    else ++it;
  }
  takePorts(now);
}

void Provisioner::takePorts(const QStringList& ports) {
  for (const QString& port : ports) {
    if (stopping_ || pending_.empty()) return;
    if (used_.contains(port)) continue;
    used_.insert(port);
    const int site = pending_.front();
    pending_.pop_front();
    auto job = std::make_unique<ProvisionJob>(site, sites_[static_cast<std::size_t>(site)], port,
                                              options_.defaultPassword, options_.backups);
    ProvisionJob* j = job.get();
    connect(j, &ProvisionJob::stageChanged, this, [this, site](SiteOutcome::Stage s) { emit siteStage(site, s); });
    connect(j, &ProvisionJob::progress, this, [this, site](int v) { emit siteProgress(site, v); });
    connect(j, &ProvisionJob::finished, this, [this, j] {
      const auto it = std::find_if(jobs_.begin(), jobs_.end(), [j](const auto& p) { return p.get() == j; });
      if (it == jobs_.end()) return;
      const int site = j->outcome().site;
      outcomes_[static_cast<std::size_t>(site)] = j->outcome();
      it->release()->deleteLater();
      jobs_.erase(it);
      emit siteFinished(site);
      checkEnd();
    });
    jobs_.push_back(std::move(job));
    emit siteStarted(site, port);
    j->start();
  }
}

void Provisioner::stop() {
  if (stopping_) return;
  stopping_ = true;
  for (const auto& j : jobs_) j->stop();
  checkEnd();
}

void Provisioner::checkEnd() {
  if (ended_ || !started_ || !jobs_.empty()) return;
  if (options_.wait && !stopping_ && !pending_.empty()) {
    emit waitingForPort();
    return;
  }
  ended_ = true;
  watcher_.reset();
  for (const int site : pending_) outcomes_[static_cast<std::size_t>(site)].result = SiteOutcome::Result::NotStarted;
  emit finished();
}

}  // namespace dovu

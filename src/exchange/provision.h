#pragma once
// A series of controllers programmed at once: one job per port, each a chain of the link's requests
// on the one event loop (log in, keep the backup, upload the site's configuration, read it back and
// compare, log out).  A site counts as done only when the controller holds exactly what was meant.
//
// Each port takes one site: a port stands for the controller on it.  Without waiting for ports, the
// sites beyond the ports given stay not started; while waiting, a port that goes away and comes back
// (another adapter plugged in) takes the next site.
#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "model/configuration.h"
#include "base/cause.h"
#include "base/outcome.h"
#include "storage/backupstore.h"
#include "storage/sitetable.h"

namespace dovu {

// How long a series' backup waits for another program's store of a backup: the store runs on the
// event loop that every port of the series shares, so a long wait would stall them all.
constexpr int kSeriesLockWaitMs = 250;

class Dispatcher;
class ConfigTransfer;
class Link;
class PortWatcher;
class SerialPort;
class Session;

struct SiteOutcome {
  enum class Result { Verified, Failed, Stopped, NotStarted };
  // Where a job was when it ended.
  enum class Stage { Login, Backup, Upload, Verify, Done };
  int site = -1;        // index into the sites
  QString port;
  Result result = Result::NotStarted;
  Stage stage = Stage::Login;
  Problem problem;       // why it failed (cause None when the read-back differs)
  int backup = 0;        // the backup's number; 0 when none was kept
  qint64 ms = 0;         // from the first request to the end
  // The upload: parameters acknowledged, of how many, and whether one was under way when it ended
  // (the controller may or may not have stored it).
  int written = 0;
  int total = 0;
  bool inFlight = false;
  // Fields whose read-back differs from what was meant.
  QStringList differing;
  // What the controller holds, read back (a verified site), and its firmware version.
  Configuration held;
  QString firmware;
};

class ProvisionJob : public QObject {
  Q_OBJECT
 public:
  ProvisionJob(int siteIndex, const Site& site, const QString& port, const QString& defaultPassword,
               BackupStore* backups, QObject* parent = nullptr);
  ~ProvisionJob() override;
  void start();
  // Ends the job between two parameters while nothing has been written yet; a job that writes
  // carries on to its end.
  void stop() { stopAsked_ = true; }
  const SiteOutcome& outcome() const { return outcome_; }
  SiteOutcome::Stage stage() const { return outcome_.stage; }

 signals:
  void stageChanged(dovu::SiteOutcome::Stage stage);
  void progress(int value);  // the bar value of the transfer under way
  void finished();

 private:
  // The last error or warning the link, the session or a transfer told of.
  struct Recorder {
    void take(const Notice& n) {
      if (n.kind == MessageKind::Error || n.kind == MessageKind::Warning) last = n.problem;
    }
    Problem last;
  };
  void setStage(SiteOutcome::Stage stage);
  void loggedIn(int result);
  // up: sends meant_; else reads into read_.
  void startTransfer(bool up);
  void transferEnded(bool ok);
  void backupRead(bool ok);
  void uploaded(bool ok);
  void verified(bool ok);
  void fail(const Problem& problem);
  void finish(SiteOutcome::Result result);
  Problem lineProblem() const;

  Site site_;
  QString defaultPassword_;
  BackupStore* backups_;
  Recorder recorder_;
  std::unique_ptr<SerialPort> port_;
  Configuration meant_;
  Configuration read_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<ConfigTransfer> transfer_;
  bool stopAsked_ = false;
  bool ended_ = false;
  QElapsedTimer clock_;
  SiteOutcome outcome_;
};

class Provisioner : public QObject {
  Q_OBJECT
 public:
  struct Options {
    QStringList ports;          // the ports to use; empty with autoPorts
    bool autoPorts = false;     // every adapter and simulator listed
    bool wait = false;          // keep taking ports as they appear until the sites are done or stop()
    QString defaultPassword;    // the login of a site whose row gives none
    BackupStore* backups = nullptr;  // null: no backup before the upload
  };
  Provisioner(std::vector<Site> sites, Options options, QObject* parent = nullptr);
  ~Provisioner() override;

  // Starts the ports there are now; finished() follows once every site has an outcome, or the
  // ports are used up (not waiting), or after stop() once the jobs under way have ended.
  void start();
  // No further site starts; a job that is writing finishes, one that has written nothing ends.
  void stop();
  bool stopping() const { return stopping_; }

  const std::vector<Site>& sites() const { return sites_; }
  // One per site, in table order; NotStarted until its job ends.
  const std::vector<SiteOutcome>& outcomes() const { return outcomes_; }
  bool allVerified() const;
  int running() const { return static_cast<int>(jobs_.size()); }

 signals:
  void siteStarted(int site, const QString& port);
  void siteStage(int site, dovu::SiteOutcome::Stage stage);
  void siteProgress(int site, int value);
  void siteFinished(int site);
  // A port that is listed but was not used (waiting: it holds a controller already programmed).
  void waitingForPort();
  void finished();

 private:
  void takePorts(const QStringList& ports);
  void refreshPorts();
  void checkEnd();

  std::vector<Site> sites_;
  Options options_;
  std::vector<SiteOutcome> outcomes_;
  std::deque<int> pending_;
  std::vector<std::unique_ptr<ProvisionJob>> jobs_;
  QSet<QString> used_;  // ports listed that have taken a site (waiting: until they go away)
  std::unique_ptr<PortWatcher> watcher_;
  bool started_ = false;
  bool stopping_ = false;
  bool ended_ = false;
};

}  // namespace dovu

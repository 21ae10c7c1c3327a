// provision: a template and a site table programmed onto several controllers at once, each read
// back and compared, with a line per site, a summary, a results table and configuration sheets.
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "cli.h"
#include "configfiles.h"
#include "dovu/version.h"
#include "exchange/provision.h"
#include "model/params.h"
#include "report/sheet.h"
#include "storage/checkedfile.h"
#include "storage/configjson.h"
#include "storage/sitetable.h"
#include "wording.h"

namespace dovu::cli {

namespace {

const QStringList kReportHeader = {QStringLiteral("site"), QStringLiteral("port"), QStringLiteral("result"),
                                   QStringLiteral("seconds"), QStringLiteral("backup"), QStringLiteral("detail")};

QString resultWord(SiteOutcome::Result r) {
  switch (r) {
    case SiteOutcome::Result::Verified: return QStringLiteral("verified");
    case SiteOutcome::Result::Failed: return QStringLiteral("failed");
    case SiteOutcome::Result::Stopped: return QStringLiteral("stopped");
    case SiteOutcome::Result::NotStarted: break;
  }
  return QStringLiteral("not started");
}

QString span(int from, int to) {
  return from == to ? QString::number(from) : QStringLiteral("%1–%2").arg(from).arg(to);
}

// What the controller holds after a site that did not verify.
QString heldText(const SiteOutcome& o) {
  using Stage = SiteOutcome::Stage;
  if (o.result == SiteOutcome::Result::NotStarted) return {};
  if (o.stage == Stage::Login || o.stage == Stage::Backup || o.result == SiteOutcome::Result::Stopped)
    return QStringLiteral("nothing was written: the controller keeps what it had");
  if (o.stage == Stage::Upload) {
    if (o.written == 0 && !o.inFlight) return QStringLiteral("nothing was written: the controller keeps what it had");
    QStringList parts;
    if (o.written > 0) parts << QStringLiteral("%1 written").arg(span(1, o.written));
    int next = o.written + 1;
    if (o.inFlight && next <= o.total) parts << QStringLiteral("%1 uncertain").arg(next++);
    if (next <= o.total) parts << QStringLiteral("%1 unchanged").arg(span(next, o.total));
    return QStringLiteral("the controller holds parameters ") + parts.join(QStringLiteral(", "));
  }
  if (!o.differing.isEmpty())
    return QStringLiteral("every parameter was acknowledged but the controller holds other values in ") +
           o.differing.join(QStringLiteral(", "));
  return QStringLiteral("every parameter was written; the read-back did not finish");
}

QString detailOf(const SiteOutcome& o, bool stopping) {
  switch (o.result) {
    case SiteOutcome::Result::Verified: return {};
    case SiteOutcome::Result::NotStarted:
      return stopping ? QStringLiteral("stopped before it started") : QStringLiteral("no free port");
    case SiteOutcome::Result::Stopped: return heldText(o);
    case SiteOutcome::Result::Failed: break;
  }
  const QString why = o.problem.cause == Cause::None ? o.problem.detail : englishLine(o.problem);
  return why.isEmpty() ? heldText(o) : why + QStringLiteral("; ") + heldText(o);
}

QString seconds(qint64 ms) { return QString::number(static_cast<double>(ms) / 1000.0, 'f', 1); }

// A file name for a site's sheet: its name with what no file name may hold replaced.
QString sheetName(const QString& site) {
  QString name;
  for (const QChar c : site)
    name += c.category() == QChar::Other_Control || QStringLiteral("/\\:*?\"<>|").contains(c) ? QChar(u'_') : c;
  if (name.startsWith(QLatin1Char('.'))) name.replace(0, 1, QLatin1Char('_'));
  return name + QStringLiteral(".pdf");
}

// The rows of an earlier results table by site; nullopt with the reason when it is not one.
std::optional<QHash<QString, QStringList>> readResults(const QString& path, QString* why) {
  const auto bytes = readWholeFile(path, why);
  if (!bytes) return std::nullopt;
  const auto rows = parseCsv(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())), why);
  if (!rows) return std::nullopt;
  if (rows->empty() || rows->front().cells.mid(0, 3) != kReportHeader.mid(0, 3)) {
    *why = QStringLiteral("%1: not a results table of 'dovu-cli provision' (its header is %2)")
               .arg(displayName(path), kReportHeader.join(QLatin1Char(',')));
    return std::nullopt;
  }
  QHash<QString, QStringList> results;
  for (std::size_t i = 1; i < rows->size(); ++i)
    if (!(*rows)[i].cells.isEmpty()) results.insert((*rows)[i].cells.first(), (*rows)[i].cells);
  return results;
}

}  // namespace

int cmdProvision(const QStringList& args) {
  Command cmd("provision",
              "Program a series of controllers: a template configuration with each site's values from a\n"
              "CSV table, one site per port, several ports at once.  Each controller is logged in to (the\n"
              "table's password, else the password given, else 8617), its configuration kept in the\n"
              "backup history, the site's configuration uploaded and read back; a site is verified only\n"
              "when the controller holds exactly what was meant.  The table has a 'site' column and one\n"
              "column per field, named as in JSON (password, pin, telephones[0], inputs[2].alarmText,\n"
              "outputs[0].drivenBy, sensors.t1.max, ...; the earlier names such as Edit_Tel1 too); an\n"
              "empty cell keeps the template's value.  Every cell is checked before anything is sent.\n"
              "Exit status 0 only when every site was verified.");
  cmd.parser.addOption({QStringLiteral("template"), QStringLiteral("the configuration every site starts from, .dvc or .json"),
                        QStringLiteral("FILE")});
  cmd.parser.addOption({QStringLiteral("sites"), QStringLiteral("the site table, CSV (UTF-8, ';' or ',')"),
                        QStringLiteral("FILE.csv")});
  cmd.parser.addOption({QStringLiteral("port"), QStringLiteral("a port with a controller; repeat for each"),
                        QStringLiteral("P")});
  cmd.parser.addOption({QStringLiteral("ports"),
                        QStringLiteral("'auto': every adapter and simulator listed, one controller each"),
                        QStringLiteral("auto")});
  cmd.parser.addOption({QStringLiteral("wait"),
                        QStringLiteral("with --ports auto: program the next site on each adapter plugged in, until "
                                       "the table is done or SIGINT")});
  cmd.addPasswordOptions();
  cmd.addBackupOption();
  cmd.parser.addOption({QStringLiteral("report"), QStringLiteral("write the results as CSV"), QStringLiteral("FILE.csv")});
  cmd.parser.addOption({QStringLiteral("sheets"), QStringLiteral("write each verified site's configuration sheet (PDF) here"),
                        QStringLiteral("DIR")});
  cmd.parser.addOption({QStringLiteral("only-failed"),
                        QStringLiteral("skip the sites an earlier --report file lists as verified"),
                        QStringLiteral("FILE.csv")});
  cmd.allowRepeated(QStringLiteral("port"));
  if (const auto exit = cmd.parse(args, 0, 0)) return *exit;
  const auto value = [&](const char* name) { return cmd.parser.value(QString::fromLatin1(name)); };
  const auto given = [&](const char* name) { return cmd.parser.isSet(QString::fromLatin1(name)); };
  for (const char* name : {"template", "sites", "ports", "report", "sheets", "only-failed"})
    if (cmd.parser.values(QString::fromLatin1(name)).size() > 1) {
      err(QStringLiteral("provision: --%1 given more than once").arg(QLatin1String(name)));
      return kUsage;
    }
  if (!given("template") || !given("sites")) {
    err(QStringLiteral("provision needs --template FILE and --sites FILE.csv"));
    return kUsage;
  }
  const bool autoPorts = given("ports");
  if (autoPorts && value("ports") != QLatin1String("auto")) {
    err(QStringLiteral("provision: --ports takes only 'auto'"));
    return kUsage;
  }
  QStringList ports = cmd.parser.values(QStringLiteral("port"));
  if (autoPorts == !ports.isEmpty()) {
    err(QStringLiteral("provision needs --port P (once per port) or --ports auto"));
    return kUsage;
  }
  const bool wait = given("wait");
  if (wait && !autoPorts) {
    err(QStringLiteral("provision: --wait needs --ports auto"));
    return kUsage;
  }
  const auto password = cmd.password();
  if (password && !checkPassword(*password)) return kUsage;

  // Everything is checked before a port is touched: the template, every cell, the files to write.
  QString why;
  const auto templ = readConfigAny(value("template"), &why);
  if (!templ) {
    err(why);
    return kFailure;
  }
  const auto table = readWholeFile(value("sites"), &why);
  if (!table) {
    err(why);
    return kFailure;
  }
  std::vector<SiteFault> faults;
  auto sites = readSiteTable(QByteArray(table->data(), static_cast<qsizetype>(table->size())), *templ, &faults);
  if (!sites) {
    for (const SiteFault& f : faults) err(QStringLiteral("%1: %2").arg(displayName(value("sites")), siteFaultText(f)));
    err(QStringLiteral("nothing was sent"));
    return kFailure;
  }
  // An earlier run's verified sites are kept as they were, rows and all.
  QHash<QString, QStringList> earlier;
  if (given("only-failed")) {
    const auto results = readResults(value("only-failed"), &why);
    if (!results) {
      err(why);
      return kFailure;
    }
    std::vector<Site> rest;
    for (Site& s : *sites) {
      const auto row = results->constFind(s.name);
      if (row != results->constEnd() && row->value(2) == QLatin1String("verified")) earlier.insert(s.name, *row);
      else rest.push_back(std::move(s));
    }
    sites = std::move(rest);
  }
  if (given("report") && !canSaveFile(value("report"), &why)) {
    err(why);
    return kFailure;
  }
  const QString sheets = value("sheets");
  if (given("sheets") && !QDir().mkpath(sheets)) {
    err(QStringLiteral("%1: the folder cannot be made").arg(displayName(sheets)));
    return kFailure;
  }
  QSet<QString> seen;
  for (QString& p : ports) {
    if (!checkPortExists(p)) return kFailure;
#ifndef Q_OS_WIN
    if (!p.contains(QLatin1Char('/'))) p = QStringLiteral("/dev/") + p;
#endif
    if (seen.contains(p)) {
      err(QStringLiteral("provision: the port %1 is given twice").arg(p));
      return kUsage;
    }
    seen.insert(p);
  }
  BackupStore store;
  // The ports share the one event loop: a backup waits only briefly for another program's store.
  store.setLockWait(kSeriesLockWaitMs);
  if (!cmd.backupSkipped() && !store.problem().isEmpty()) {
    err(store.problem());
    return kFailure;
  }

  Provisioner::Options options;
  options.ports = ports;
  options.autoPorts = autoPorts;
  options.wait = wait;
  options.defaultPassword = password.value_or(QLatin1String(kDefaultPassword));
  options.backups = cmd.backupSkipped() ? nullptr : &store;
  const std::size_t toDo = sites->size();
  Provisioner series(std::move(*sites), options);

  StopSignals stop;
  QEventLoop loop;
  stop.onSignal = [&] {
    if (series.stopping()) return;
    std::fprintf(stderr, "%s: finishing the controllers being written\n",
                 StopSignals::name(stop.signal()).toUtf8().constData());
    series.stop();
  };
  bool waitingSaid = false, anyStarted = false;
  QObject::connect(&series, &Provisioner::siteStarted, [&](int, const QString&) {
    waitingSaid = false;
    anyStarted = true;
  });
  QObject::connect(&series, &Provisioner::waitingForPort, [&] {
    if (!waitingSaid) std::fprintf(stderr, "waiting for an adapter to be plugged in (SIGINT ends)\n");
    waitingSaid = true;
  });
  QObject::connect(&series, &Provisioner::siteFinished, [&](int i) {
    const SiteOutcome& o = series.outcomes()[static_cast<std::size_t>(i)];
    QString line = QStringLiteral("%1: %2 %3 in %4 s").arg(printable(series.sites()[static_cast<std::size_t>(i)].name),
                                                         printable(o.port), resultWord(o.result), seconds(o.ms));
    if (o.backup) line += QStringLiteral(", backup %1").arg(o.backup);
    const QString detail = detailOf(o, false);
    if (!detail.isEmpty()) line += QStringLiteral(": ") + detail;
    out(line);
    std::fflush(stdout);
  });
  QObject::connect(&series, &Provisioner::finished, &loop, &QEventLoop::quit);
  if (toDo > 0) {
    series.start();
    loop.exec();
  }
  if (toDo > 0 && autoPorts && !wait && !anyStarted)
    err(QStringLiteral("no adapter or simulator is listed (see 'dovu-cli ports'); nothing was sent"));

  // Sheets of what each verified controller holds, as it was read back.
  int verified = 0, failed = 0, stopped = 0, notStarted = 0;
  for (const SiteOutcome& o : series.outcomes()) {
    const Site& site = series.sites()[static_cast<std::size_t>(o.site)];
    if (o.result != SiteOutcome::Result::Verified) {
      ++(o.result == SiteOutcome::Result::NotStarted ? notStarted
         : o.result == SiteOutcome::Result::Stopped  ? stopped
                                                     : failed);
      if (o.result == SiteOutcome::Result::NotStarted)
        out(QStringLiteral("%1: %2").arg(printable(site.name), detailOf(o, series.stopping())));
      continue;
    }
    ++verified;
    if (sheets.isEmpty()) continue;
    report::SheetOptions so;
    so.site = site.name;
    so.programVersion = QStringLiteral(DOVU_VERSION);
    so.firmware = o.firmware;
    const QByteArray pdf = report::sheetPdf(o.held, so);
    const QString path = QDir(sheets).filePath(sheetName(site.name));
    if (pdf.isEmpty() || !saveFileAtomically(path, Bytes(pdf.constData(), static_cast<std::size_t>(pdf.size())), &why)) {
      err(QStringLiteral("%1: the sheet was not written: %2").arg(printable(site.name), pdf.isEmpty() ? QStringLiteral("no PDF") : why));
      ++failed;
    }
  }
  if (given("report")) {
    QStringList lines{csvLine(kReportHeader)};
    // The table's order; sites verified by an earlier run keep their row.
    QHash<QString, const SiteOutcome*> now;
    for (const SiteOutcome& o : series.outcomes()) now.insert(series.sites()[static_cast<std::size_t>(o.site)].name, &o);
    const auto all = readSiteTable(QByteArray(table->data(), static_cast<qsizetype>(table->size())), *templ, &faults);
    for (const Site& s : all.value_or(std::vector<Site>{})) {
      if (earlier.contains(s.name)) {
        lines << csvLine(earlier.value(s.name));
      } else if (const SiteOutcome* o = now.value(s.name)) {
        lines << csvLine({s.name, o->port, resultWord(o->result),
                          o->result == SiteOutcome::Result::NotStarted ? QString() : seconds(o->ms),
                          o->backup ? QString::number(o->backup) : QString(), detailOf(*o, series.stopping())});
      }
    }
    const QByteArray text = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (!saveFileAtomically(value("report"), Bytes(text.constData(), static_cast<std::size_t>(text.size())), &why)) {
      err(why);
      ++failed;
    }
  }
  QString summary = QStringLiteral("%1 of %2 sites verified").arg(verified).arg(toDo);
  if (failed) summary += QStringLiteral(", %1 failed").arg(failed);
  if (stopped) summary += QStringLiteral(", %1 stopped").arg(stopped);
  if (notStarted) summary += QStringLiteral(", %1 not started").arg(notStarted);
  if (!earlier.isEmpty()) summary += QStringLiteral(" (%1 verified before)").arg(earlier.size());
  out(summary);
  if (const int sig = stop.signal()) return StopSignals::exitCode(sig);
  return verified == static_cast<int>(toDo) && failed == 0 ? kOk : kFailure;
}

}  // namespace dovu::cli

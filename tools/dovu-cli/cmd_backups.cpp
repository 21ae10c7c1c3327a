// backups: the history of configurations kept before each write to a controller.
#include <QDir>
#include <cstdio>

#include "cli.h"
#include "wording.h"
#include "storage/backupstore.h"

namespace dovu::cli {

namespace {

QString dateText(const BackupEntry& e) { return e.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

// Index texts may have been edited by anyone who could write the file: shown without control
// characters.
QString orDash(const QString& s) { return s.isEmpty() ? QStringLiteral("-") : printable(s); }

}  // namespace

bool backupBeforeWrite(const QString& port, const QString& password, BackupReason reason, const char* verb,
                       StopSignals& stop, BackupStore& store) {
  const QString notStarted = QStringLiteral("%1 not started: ").arg(QLatin1String(verb));
  // A controller left in its bootloader by a failed update answers no login: the option is its way.
  const QString skip = QStringLiteral(" (--no-backup writes without it, as a controller left in its bootloader needs)");
  QString why, firmware;
  // A history that would refuse the backup is found before the controller is read.
  if (!store.problem().isEmpty()) {
    err(notStarted + QStringLiteral("the backup could not be saved: ") + store.problem() + skip);
    return false;
  }
  std::unique_ptr<Controller> c;
  {
    HeldErrors held;  // the download's own failure becomes part of the one line below
    c = downloadFromController(port, password, &why, &firmware, [&stop] { return stop.signal() != 0; });
    if (why.isEmpty()) why = held.lines.join(QStringLiteral("; "));
  }
  if (const int sig = stop.signal()) {
    const bool flash = reason == BackupReason::BeforeFirmware;
    err(QStringLiteral("%1 interrupted by %2 during the backup, before it started: the controller is unchanged%3")
            .arg(QLatin1String(verb), StopSignals::name(sig),
                 flash ? QStringLiteral(" and still runs its firmware") : QString()));
    return false;
  }
  if (!c) {
    err(notStarted + QStringLiteral("what the controller holds could not be read for the backup") +
        (why.isEmpty() ? QString() : QStringLiteral(": ") + why) + skip);
    return false;
  }
  const auto entry = store.add(c->config, reason, port, &why, QDateTime::currentDateTime(), firmware);
  if (!entry) {
    // Worded from the cause: a file the system refused to write names its reason in English too.
    err(notStarted + englishLine(store.lastProblem()) + skip);
    return false;
  }
  // A note, not an error: the errors stay one "dovu-cli:" line each.
  std::fprintf(stderr, "%s\n", QStringLiteral("backup %1 keeps what the controller held: %2")
                                    .arg(entry->number).arg(QDir::toNativeSeparators(store.pathOf(*entry)))
                                    .toUtf8().constData());
  return true;
}

int cmdBackups(const QStringList& args) {
  Command cmd("backups",
              "The configurations kept before each upload and firmware update, newest first.\n"
              "  list       one line a backup: number, date, reason, port, firmware, summary\n"
              "  show N     backup N's date, reason and origin, then every field in words as 'show' prints\n"
              "  restore N  upload backup N to the controller on --port (after a backup of what it holds)\n"
              "The newest 100 are kept (DOVU_BACKUP_LIMIT sets another number), but never the newest backup\n"
              "of a configuration nor the one being restored.",
              "list | show N | restore N --port P");
  cmd.parser.addPositionalArgument(QStringLiteral("ACTION"), QStringLiteral("list, show or restore"),
                                   QStringLiteral("list | show N | restore N"));
  cmd.parser.addOption({QStringLiteral("json"), QStringLiteral("show: print the JSON form instead")});
  cmd.parser.addOption({QStringLiteral("folder"),
                        // Not the folder itself: the manual page is made from this help.
                        QStringLiteral("the backup folder (default: $XDG_DATA_HOME/dovu-konfig/backups)"),
                        QStringLiteral("DIR")});
  cmd.addPortOption();
  cmd.addPasswordOptions();
  cmd.addTraceOption();
  cmd.addTimeLimitOption();
  cmd.addBackupOption();
  // Only restore needs a port, which is asked for once the action is known: options may come first.
  cmd.portOptional();
  if (const auto exit = cmd.parse(args, 1, 2)) return *exit;
  const QStringList pos = cmd.positional();
  const bool restore = pos.at(0) == QLatin1String("restore");
  if (restore && !cmd.parser.isSet(QStringLiteral("port"))) {
    err(QStringLiteral("backups restore needs --port P"));
    return kUsage;
  }
  BackupStore store(cmd.parser.isSet(QStringLiteral("folder")) ? cmd.parser.value(QStringLiteral("folder"))
                                                               : BackupStore::defaultFolder());
  QString why;
  if (pos.at(0) == QLatin1String("list") && pos.size() == 1) {
    const auto entries = store.list(&why);
    if (!entries) {
      err(why);
      return kFailure;
    }
    if (entries->empty()) out(QStringLiteral("no backups in %1").arg(QDir::toNativeSeparators(store.folder())));
    for (const BackupEntry& e : *entries)
      out(QStringLiteral("%1  %2  %3  %4  %5  %6")
              .arg(e.number, 4)
              .arg(dateText(e))
              .arg(backupReasonText(e.reason), -22)
              .arg(orDash(e.port), -14)
              .arg(orDash(e.firmware), -11)
              .arg(printable(e.summary)));
    return kOk;
  }
  if ((pos.at(0) == QLatin1String("show") || restore) && pos.size() == 2) {
    bool number = false;
    const int n = pos.at(1).toInt(&number);
    if (!number || n < 1) {
      err(QStringLiteral("backups %1: %2 is not a backup number (see 'dovu-cli backups list')")
              .arg(pos.at(0), displayName(pos.at(1))));
      return kUsage;
    }
    // The backup taken before the restore goes into the same history, and neither it nor another
    // program's store rotates out the one being put back: a restore that fails half-way can be run
    // again.
    if (restore) store.keep(n);
    const auto e = store.find(n, &why);
    if (!e) {
      err(why);
      return kFailure;
    }
    if (restore) return uploadFile(cmd, store.pathOf(*e), "restore", store);
    const bool json = cmd.parser.isSet(QStringLiteral("json"));
    if (!json) {
      out(QStringLiteral("backup %1, %2, %3").arg(e->number).arg(dateText(*e), backupReasonText(e->reason)));
      out(QStringLiteral("port %1, firmware %2, file %3")
              .arg(orDash(e->port), orDash(e->firmware), printable(QDir::toNativeSeparators(store.pathOf(*e)))));
      out(QString());
    }
    return showConfig(store.pathOf(*e), json);
  }
  err(QStringLiteral("backups: expected 'list', 'show N' or 'restore N' (see 'dovu-cli backups --help')"));
  return kUsage;
}

}  // namespace dovu::cli

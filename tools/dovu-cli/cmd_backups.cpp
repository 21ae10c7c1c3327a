// backups: the history of configurations kept before each write to a controller.
#include <QDir>
#include <cstdio>

#include "cli.h"
#include "storage/backupstore.h"

namespace dovu::cli {

namespace {

void out(const QString& line) { std::printf("%s\n", line.toUtf8().constData()); }

QString dateText(const BackupEntry& e) { return e.date.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString orDash(const QString& s) { return s.isEmpty() ? QStringLiteral("-") : s; }

}  // namespace

int cmdBackups(const QStringList& args) {
  Command cmd("backups",
              "The configurations kept before each upload and firmware update, newest first.\n"
              "  list     one line a backup: number, date, reason, port, firmware, summary\n"
              "  show N   backup N's date, reason and origin, then every field in words as 'show' prints",
              "list | show N");
  cmd.parser.addPositionalArgument(QStringLiteral("ACTION"), QStringLiteral("list or show"), QStringLiteral("list | show N"));
  cmd.parser.addOption({QStringLiteral("json"), QStringLiteral("show: print the JSON form instead")});
  cmd.parser.addOption({QStringLiteral("folder"),
                        // Not the folder itself: the manual page is made from this help.
                        QStringLiteral("the backup folder (default: $XDG_DATA_HOME/dovu-konfig/backups)"),
                        QStringLiteral("DIR")});
  if (const auto exit = cmd.parse(args, 1, 2)) return *exit;
  const QStringList pos = cmd.positional();
  const BackupStore store(cmd.parser.isSet(QStringLiteral("folder")) ? cmd.parser.value(QStringLiteral("folder"))
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
              .arg(e.summary));
    return kOk;
  }
  if (pos.at(0) == QLatin1String("show") && pos.size() == 2) {
    bool number = false;
    const int n = pos.at(1).toInt(&number);
    if (!number || n < 1) {
      err(QStringLiteral("backups show: %1 is not a backup number (see 'dovu-cli backups list')").arg(displayName(pos.at(1))));
      return kUsage;
    }
    const auto e = store.find(n, &why);
    if (!e) {
      err(why);
      return kFailure;
    }
    const bool json = cmd.parser.isSet(QStringLiteral("json"));
    if (!json) {
      out(QStringLiteral("backup %1, %2, %3").arg(e->number).arg(dateText(*e), backupReasonText(e->reason)));
      out(QStringLiteral("port %1, firmware %2, file %3")
              .arg(orDash(e->port), orDash(e->firmware), QDir::toNativeSeparators(store.pathOf(*e))));
      out(QString());
    }
    return showConfig(store.pathOf(*e), json);
  }
  err(QStringLiteral("backups: expected 'list' or 'show N' (see 'dovu-cli backups --help')"));
  return kUsage;
}

}  // namespace dovu::cli

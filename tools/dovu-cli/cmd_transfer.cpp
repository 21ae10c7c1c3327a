// download / upload: the whole configuration between the controller and a file, over the same
// parameter table, dispatcher and transfer as the window.
#include <algorithm>
#include <csignal>
#include <functional>

#include "cli.h"
#include "configfiles.h"
#include "wording.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "model/params.h"
#include "storage/checkedfile.h"
#include "storage/configdiff.h"
#include "storage/configjson.h"

namespace dovu::cli {

namespace {

// How a transfer ended, for its one line.
struct Outcome {
  bool ok = false;
  QString why;  // what was reported when it failed
};

// Runs a transfer with the waits' messages held back, so that a failure is one line worded by the
// caller: what was reported, or the port's reason when the line itself failed.
Outcome runTransfer(Controller& c, Progress& line, const std::function<bool()>& transfer) {
  c.notifier.quiet = true;
  c.notifier.lastText.clear();
  c.notifier.lastDetail.clear();
  Outcome o;
  try {
    o.ok = transfer();
  } catch (const SerialPortError& e) {
    c.notifier.lastText = englishText(Session::portErrorCause(e));
    c.notifier.lastDetail.clear();
  }
  c.notifier.quiet = false;
  line.finish();
  if (!o.ok) {
    o.why = c.notifier.lastText.isEmpty() ? QStringLiteral("no answer from the controller") : c.notifier.lastText;
    if (!c.notifier.lastDetail.isEmpty())
      o.why += QStringLiteral(": ") + QString(c.notifier.lastDetail).replace(QLatin1Char('\n'), QLatin1Char(' '));
  }
  return o;
}

QString range(int from, int to) {
  return from == to ? QString::number(from) : QStringLiteral("%1–%2").arg(from).arg(to);
}

// What the controller holds after an upload that ended early: the parameters acknowledged, the
// one whose exchange did not finish (it may or may not have been stored), and those never sent.
QString heldAfterUpload(int written, bool inFlight) {
  const int total = static_cast<int>(paramTable().size());
  QStringList parts;
  if (written > 0) parts << QStringLiteral("%1 written").arg(range(1, written));
  int next = written + 1;
  if (inFlight && next <= total) parts << QStringLiteral("%1 uncertain").arg(next++);
  if (next <= total) parts << QStringLiteral("%1 unchanged").arg(range(next, total));
  return QStringLiteral("the controller holds parameters ") + parts.join(QStringLiteral(", "));
}

}  // namespace

int cmdDownload(const QStringList& args) {
  Command cmd("download", "Read the whole configuration from the controller into a file.", "FILE.json|FILE.dvc");
  cmd.parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the file to write, .json or .dvc"),
                                   QStringLiteral("FILE.json|FILE.dvc"));
  cmd.parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("the file to write"),
                        QStringLiteral("FILE")});
  // The file is named by -o, or as the one argument.
  cmd.addLinkOptions();
  if (const auto exit = cmd.parse(args, 0, 1)) return *exit;
  const QStringList files = cmd.positional() + cmd.parser.values(QStringLiteral("o"));
  if (files.size() != 1) {
    err(QStringLiteral("usage: dovu-cli download [options] -o FILE.json|FILE.dvc"));
    return kUsage;
  }
  const QString out = files.first();
  if (configFormatOf(out) == ConfigFormat::Unknown) {
    err(unsupportedFormat(out));
    return kUsage;
  }
  const QString password = cmd.password().value_or(QLatin1String(kDefaultPassword));
  if (!checkPassword(password)) return kUsage;
  // A file that could not be saved fails at once, not after the whole transfer.
  Problem why;
  if (!canSaveFile(out, nullptr, &why)) {
    err(englishFileReason(why));
    return kFailure;
  }

  StopSignals stop;
  stop.limitWork(workBoundMs(downloadRequests(), 0));
  Controller c(cmd.port(), password);
  Dispatcher dispatcher;
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;

  ConfigTransfer transfer(*c.link, *c.session);
  QObject::connect(&transfer, &ConfigTransfer::notice, [&c](const Notice& n) { c.notifier.show(n); });
  transfer.stopRequested = [&stop] { return stop.signal() != 0; };
  Progress line("download", 100);
  int reached = 0;  // the transfer's progress, 0..100
  QObject::connect(&transfer, &ConfigTransfer::progress, [&line, &reached](int v) {
    reached = v;
    line.show(v);
  });
  const Outcome o = runTransfer(c, line, [&transfer] { return runToEnd(transfer, nullptr); });
  if (const int sig = stop.signal(); sig && !o.ok) {
    c.logoutQuietly();
    err(QStringLiteral("download interrupted by %1 at the bar value %2: no file written")
            .arg(StopSignals::name(sig)).arg(reached));
    return StopSignals::exitCode(sig);
  }
  if (!o.ok) {
    err(QStringLiteral("download stopped at the bar value %1: %2").arg(reached).arg(o.why));
    return kFailure;
  }
  c.session->liveOff();  // the tool does not poll
  Configuration read = transfer.configuration();
  read.firmware = c.session->firmwareVersion();  // the logout clears the version
  read.port = cmd.port();
  if (!c.logout()) return kFailure;
  if (QString text; !writeConfigAny(out, read, &text)) {
    err(text);
    return kFailure;
  }
  return kOk;
}

int cmdUpload(const QStringList& args) {
  Command cmd("upload",
              "Write the whole configuration from a file to the controller, or with --only the parameters\n"
              "that hold the named fields.  Before it, what the controller holds is kept in the backup\n"
              "history (see 'dovu-cli backups').  The login uses the password given (option, standard\n"
              "input or DOVU_PASSWORD), else the access password the file holds.",
              "FILE.json|FILE.dvc");
  cmd.parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the file to send, .json or .dvc"),
                                   QStringLiteral("FILE.json|FILE.dvc"));
  cmd.addLinkOptions();
  cmd.addBackupOption();
  cmd.parser.addOption({QStringLiteral("only"),
                        QStringLiteral("send only the parameters holding these fields (JSON names such as "
                                       "telephones[0] or a group such as telephones, or names as 'diff' "
                                       "prints them; comma-separated); a block goes whole"),
                        QStringLiteral("FIELD,...")});
  if (const auto exit = cmd.parse(args, 1, 1)) return *exit;
  BackupStore store;
  return uploadFile(cmd, cmd.positional().first(), "upload", store);
}

int uploadFile(Command& cmd, const QString& file, const char* verb, BackupStore& store) {
  const QString what = QString::fromLatin1(verb);
  const auto given = cmd.password();
  if (given && !checkPassword(*given)) return kUsage;
  // Every --only counts, each a comma-separated list.
  std::vector<std::size_t> only;
  QStringList names;  // the fields as the user named them
  std::vector<std::vector<std::size_t>> paramsOfName;  // a group of fields may span several
  if (cmd.parser.optionNames().contains(QStringLiteral("only"))) {
    QString why;
    for (const QString& value : cmd.parser.values(QStringLiteral("only")))
      for (const QString& name : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const auto chosen = paramsHolding({name}, &why);
        if (!chosen) {
          err(QStringLiteral("%1 --only: %2").arg(what, why));
          return kUsage;
        }
        if (chosen->empty()) continue;
        names << name.trimmed();
        paramsOfName.push_back(*chosen);
        for (std::size_t k : *chosen)
          if (std::find(only.begin(), only.end(), k) == only.end()) only.push_back(k);
      }
    if (only.empty()) {
      err(QStringLiteral("%1 --only: no field named").arg(what));
      return kUsage;
    }
    std::sort(only.begin(), only.end());
  }

  StopSignals stop;
  // The backup's read, then the writes.
  stop.limitWork(workBoundMs((cmd.backupSkipped() ? 0 : downloadRequests()) + static_cast<int>(paramTable().size()), 0));
  Controller c(cmd.port(), QLatin1String(kDefaultPassword));
  // The file is checked before the port is touched.
  QString why;
  auto wanted = readConfigAny(file, &why);
  if (!wanted) {
    err(why);
    return kFailure;
  }
  // The login uses the password given, else the one the file holds.
  if (given) wanted->password = *given;
  if (const auto tooLong = textTooLong(*wanted)) {
    err(QStringLiteral("%1: %2").arg(displayName(file), englishReason(*tooLong)));
    return kFailure;
  }
  if (!checkPassword(wanted->password)) return kFailure;
  if (!cmd.backupSkipped() &&
      !backupBeforeWrite(cmd.port(), wanted->password, BackupReason::BeforeUpload, verb, stop, store))
    return stop.signal() ? StopSignals::exitCode(stop.signal()) : kFailure;

  Dispatcher dispatcher;
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;

  ConfigTransfer transfer(*c.link, *c.session);
  QObject::connect(&transfer, &ConfigTransfer::notice, [&c](const Notice& n) { c.notifier.show(n); });
  transfer.stopRequested = [&stop] { return stop.signal() != 0; };
  const int total = only.empty() ? static_cast<int>(paramTable().size()) : static_cast<int>(only.size());
  Progress line(verb, total);
  int written = 0;
  QObject::connect(&transfer, &ConfigTransfer::progress, [&](int v) {
    written = v;
    line.show(v);
  });
  const Outcome o = runTransfer(c, line, [&transfer, &wanted, &only] { return runToEnd(transfer, &*wanted, only); });
  if (o.ok) {
    c.session->liveOff();
    return c.logout() ? kOk : kFailure;
  }
  // Which parameters the controller holds is told by their place in the whole table; a selective
  // upload names the fields it was given, each as written, uncertain or unchanged.
  const auto held = [&](bool inFlight) {
    if (only.empty()) return heldAfterUpload(written, inFlight);
    QStringList fields[3];  // written, uncertain, unchanged
    for (int i = 0; i < names.size(); ++i) {
      // A name whose parameters are not all in one state is uncertain.
      int state = -1;
      for (std::size_t k : paramsOfName[static_cast<std::size_t>(i)]) {
        const auto place = std::find(only.begin(), only.end(), k) - only.begin();
        const int one = place < written ? 0 : inFlight && place == written ? 1 : 2;
        state = state < 0 || state == one ? one : 1;
      }
      fields[state] << names[i];
    }
    QStringList parts;
    const char* const kWords[] = {"written", "uncertain", "unchanged"};
    for (int k = 0; k < 3; ++k)
      if (!fields[k].isEmpty()) parts << QStringLiteral("%1 %2").arg(fields[k].join(QStringLiteral(", ")), QLatin1String(kWords[k]));
    return QStringLiteral("%1 of the %2 chosen parameters written (%3)").arg(written).arg(total).arg(parts.join(QStringLiteral("; ")));
  };
  if (transfer.stopped()) {
    // Stopped between two parameters: every exchange that started has finished.
    const int sig = stop.signal();
    c.logoutQuietly();
    err(QStringLiteral("%1 interrupted by %2: %3").arg(what, StopSignals::name(sig), held(false)));
    return StopSignals::exitCode(sig);
  }
  err(QStringLiteral("%1 stopped after %2 of %3 parameters: %4; %5")
          .arg(what).arg(written).arg(total).arg(o.why, held(true)));
  const int sig = stop.signal();
  return sig ? StopSignals::exitCode(sig) : kFailure;
}

}  // namespace dovu::cli

// download / upload: the whole configuration between the controller and a file, over the same
// parameter table, dispatcher and transfer as the window.
#include <functional>

#include "cli.h"
#include "configfiles.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "model/params.h"
#include "storage/checkedfile.h"
#include "storage/configjson.h"

namespace dovu::cli {

namespace {

// Runs a transfer with the waits' messages held back, so that a failure is one line: where the
// transfer stopped, then what was reported (the threshold block's read fails without a message).
bool transferOrSay(Controller& c, Progress& line, const std::function<bool()>& transfer,
                   const std::function<QString()>& where) {
  c.notifier.quiet = true;
  c.notifier.lastText.clear();
  c.notifier.lastDetail.clear();
  bool ok = false;
  try {
    ok = transfer();
  } catch (const SerialPortError&) {
    c.notifier.quiet = false;
    line.finish();
    if (c.notifier.lastText.isEmpty()) throw;  // nothing said yet: the tool's own line names it
  }
  c.notifier.quiet = false;
  line.finish();
  if (ok) return true;
  QString why = c.notifier.lastText.isEmpty() ? QStringLiteral("no answer from the controller") : c.notifier.lastText;
  if (!c.notifier.lastDetail.isEmpty()) why += QStringLiteral(": ") + QString(c.notifier.lastDetail).replace(QLatin1Char('\n'), QLatin1Char(' '));
  err(QStringLiteral("%1: %2").arg(where(), why));
  return false;
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
  QString why;
  if (!canSaveFile(out, &why)) {
    err(why);
    return kFailure;
  }

  Controller c(cmd.port(), password);
  Dispatcher dispatcher(c.form);
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;

  ConfigTransfer transfer(c.form, *c.link, *c.session);
  Progress line("download", 100);
  QObject::connect(&transfer, &ConfigTransfer::progress, [&line](int v) { line.show(v); });
  const bool ok = transferOrSay(c, line, [&transfer] { return runTransfer(transfer, false); }, [&c] {
    return QStringLiteral("download stopped at the bar value %1").arg(c.form.state("Bar").value);
  });
  if (!ok) return kFailure;
  c.session->liveOff();  // the tool does not poll
  if (!c.logout()) return kFailure;
  if (!writeConfigAny(out, c.form, &why)) {
    err(why);
    return kFailure;
  }
  return kOk;
}

int cmdUpload(const QStringList& args) {
  Command cmd("upload",
              "Write the whole configuration from a file to the controller.  The login uses the password\n"
              "given (option, standard input or DOVU_PASSWORD), else the access password the file holds.",
              "FILE.json|FILE.dvc");
  cmd.parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("the file to send, .json or .dvc"),
                                   QStringLiteral("FILE.json|FILE.dvc"));
  cmd.addLinkOptions();
  if (const auto exit = cmd.parse(args, 1, 1)) return *exit;
  const QString file = cmd.positional().first();
  const auto given = cmd.password();
  if (given && !checkPassword(*given)) return kUsage;

  Controller c(cmd.port(), QLatin1String(kDefaultPassword));
  // The file is checked before the port is touched.
  QString why;
  if (!readConfigAny(file, c.form, &why)) {
    err(why);
    return kFailure;
  }
  if (const auto tooLong = textTooLong(c.form)) {
    err(QStringLiteral("%1: %2").arg(file, *tooLong));
    return kFailure;
  }
  // The login uses the password given, else the one the file holds.
  if (given) c.form.setText("Edit_haslo", *given);
  if (!checkPassword(c.form.text("Edit_haslo"))) return kFailure;

  Dispatcher dispatcher(c.form);
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;

  ConfigTransfer transfer(c.form, *c.link, *c.session);
  Progress line("upload", static_cast<int>(paramTable().size()));
  QObject::connect(&transfer, &ConfigTransfer::progress, [&line](int v) { line.show(v); });
  const bool ok = transferOrSay(c, line, [&transfer] { return runTransfer(transfer, true); }, [&c] {
    return QStringLiteral("upload stopped after %1 of %2 parameters").arg(c.form.state("Bar").value).arg(paramTable().size());
  });
  if (!ok) return kFailure;
  c.session->liveOff();
  return c.logout() ? kOk : kFailure;
}

}  // namespace dovu::cli

// dovu-cli: the DOVU controller from the command line, on the same core as the window.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli.h"
#include "dovu/version.h"
#include "link/serialport.h"
#include "session/session.h"
#include "wording.h"

namespace {

struct CommandEntry {
  const char* name;
  int (*run)(const QStringList&);
  const char* summary;
};

const CommandEntry kCommands[] = {
    {"ports", dovu::cli::cmdPorts, "list serial ports: port, tab, device name"},
    {"status", dovu::cli::cmdStatus, "log in, read the live status, log out"},
    {"download", dovu::cli::cmdDownload, "read the whole configuration into a .json or .dvc file"},
    {"upload", dovu::cli::cmdUpload, "write the whole configuration from a .json or .dvc file"},
    {"show", dovu::cli::cmdShow, "every field of a configuration file in words"},
    {"convert", dovu::cli::cmdConvert, "convert a configuration between .dvc and .json"},
    {"diff", dovu::cli::cmdDiff, "the fields that differ between two files or controllers"},
    {"backups", dovu::cli::cmdBackups, "the configurations kept before each write: list, show N, restore N"},
    {"flash", dovu::cli::cmdFlash, "replace the controller's firmware from a .dvf file"},
    {"report", dovu::cli::cmdReport, "the configuration sheet of a file or controller as a PDF"},
    {"provision", dovu::cli::cmdProvision, "program a template with per-site values onto several controllers"},
};

QString description() {
  QString d = QStringLiteral(
      "The DOVU controller from the command line: live status, configuration download and upload,\n"
      "configuration files and firmware update.\n\nCommands (each has --help):\n");
  for (const CommandEntry& c : kCommands)
    d += QStringLiteral("  %1 %2\n").arg(QLatin1String(c.name), -10).arg(QLatin1String(c.summary));
  d += QStringLiteral(
      "\nErrors go to stderr as one line; the exit status is 0 on success, 1 when a step failed\n"
      "and 2 on a usage error (diff: 1 when the sides differ, 2 when a side cannot be read).\n"
      "The access password may also come from the environment variable DOVU_PASSWORD or from\n"
      "standard input (--password-stdin).");
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  dovu::cli::StopSignals::catchEarly();
#ifdef SIGXFSZ
  // A file size limit fails the save's write with EFBIG and the save reports it, instead of the
  // signal ending the tool half-way.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  // The configuration sheet lays out text, which needs Qt Gui's fonts: that command alone runs
  // a QGuiApplication, on the offscreen platform unless another is asked for, so no display is
  // needed.  Windows always has its desktop and fonts: the windows platform serves there (the
  // offscreen one would find no fonts, and the text of the sheet would be missing).
  const bool gui = argc > 1 && (std::strcmp(argv[1], "report") == 0 || std::strcmp(argv[1], "provision") == 0);
#ifndef Q_OS_WIN
  if (gui && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  const std::unique_ptr<QCoreApplication> app =
      gui ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("dovu-cli"));
  QCoreApplication::setApplicationVersion(QStringLiteral(DOVU_VERSION));
  // The session's log names the port component's error; the user reads the reason in the one
  // error line instead.  --trace (or QT_LOGGING_RULES) brings the log back.
  QLoggingCategory::setFilterRules(QStringLiteral("dovu.session.warning=false"));
  const QStringList args = dovu::cli::argumentsOf(argc, argv);

  dovu::cli::Command top("", "");
  top.parser.setApplicationDescription(description());
  top.parser.addVersionOption();
  top.parser.addOption({QStringLiteral("help-all"), QStringLiteral("this help and every command's options")});
  top.parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("one of the commands above"),
                                   QStringLiteral("COMMAND [options]"));
  // Everything after the command belongs to the command.
  top.parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
  if (const auto exit = top.parse(args.mid(1), 0, 1 << 20)) return *exit;
  // The manual page is made from this.
  if (top.parser.isSet(QStringLiteral("help-all"))) {
    std::fputs(top.helpText().toUtf8().constData(), stdout);
    dovu::cli::showHelpAsDetail();
    for (const CommandEntry& c : kCommands) {
      std::fputc('\n', stdout);
      std::fflush(stdout);
      c.run({QStringLiteral("--help")});
    }
    return dovu::cli::kOk;
  }
  if (top.parser.isSet(QStringLiteral("version"))) {
    std::printf("dovu-cli %s\n", DOVU_VERSION);
    return dovu::cli::checkOutput() ? dovu::cli::kOk : dovu::cli::kFailure;
  }
  QStringList rest = top.positional();
  if (rest.isEmpty()) {
    std::fputs(top.helpText().toUtf8().constData(), stderr);
    return dovu::cli::kUsage;
  }
  const QString name = rest.takeFirst();
  for (const CommandEntry& c : kCommands) {
    if (name == QLatin1String(c.name)) {
      try {
        // Output that did not arrive (a full disk, a closed reader) fails the command with the reason.
        const int code = c.run(rest);
        dovu::cli::StopSignals::raiseUntaken();
        return dovu::cli::checkOutput() || code != dovu::cli::kOk ? code : dovu::cli::kFailure;
      } catch (const dovu::SerialPortError& e) {
        dovu::cli::err(dovu::cli::englishLine(
            dovu::Problem{dovu::Cause::PortUnavailable, dovu::Session::portErrorCause(e), {}, {}, {}}));
        return dovu::cli::kFailure;
      } catch (const std::exception& e) {
        dovu::cli::err(QString::fromLocal8Bit(e.what()));
        return dovu::cli::kFailure;
      }
    }
  }
  dovu::cli::err(QStringLiteral("unknown command: %1 (see 'dovu-cli --help')").arg(name));
  return dovu::cli::kUsage;
}

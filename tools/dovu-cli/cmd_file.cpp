// show / convert / diff: configuration files (.dvc, .json) and controllers, item by item in the
// order of the configuration file.
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>

#include "cli.h"
#include "configfiles.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "model/cp1250.h"
#include "report/sheet.h"
#include "storage/checkedfile.h"
#include "storage/configdiff.h"
#include "storage/configfile.h"
#include "storage/configjson.h"
#include "storage/configtext.h"

namespace dovu::cli {

namespace {

using F = ConfigItemForm;

// A controller's text may hold anything.  Escaped, its control characters show as \xNN (a
// backslash as \\, a quote as \"), so that an escape sequence can neither retitle the terminal nor
// forge a line.  show escapes on a terminal and gives a pipe the text as it is; diff always
// escapes, since its "name: A | B" lines are read by scripts.
QString quote(const Bytes& text, bool escape) {
  QString t = fromCp1250(text);
  if (escape) {
    QString shown;
    for (const QChar c : t) {
      const char16_t u = c.unicode();
      if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
        shown += QStringLiteral("\\x%1").arg(QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0')));
      else if (u == '\\')
        shown += QLatin1String("\\\\");
      else if (u == '"')
        shown += QLatin1String("\\\"");
      else
        shown += c;
    }
    t = shown;
  }
  return QLatin1Char('"') + t + QLatin1Char('"');
}

QString quoted(const Bytes& text) {
  static const bool terminal = ::isatty(STDOUT_FILENO) == 1;
  return quote(text, terminal);
}

QString escaped(const Bytes& text) { return quote(text, true); }

// One side of a diff: a file, or "port:DEVICE" for the configuration a controller holds.
std::optional<ConfigValues> readSide(const QString& side, const QString& password, QString* error,
                                     StopSignals& stop) {
  if (!side.startsWith(QLatin1String("port:"))) {
    const auto c = readConfigAny(side, error);
    if (!c) return std::nullopt;
    return fileItemsOf(*c, error);
  }
  const auto c = downloadFromController(side.mid(5), password, error, nullptr, [&stop] { return stop.signal() != 0; });
  if (!c) return std::nullopt;
  return fileItemsOf(c->config, error);
}

}  // namespace

std::unique_ptr<Controller> downloadFromController(const QString& port, const QString& password, QString* error,
                                                  QString* firmware, const std::function<bool()>& stop) {
  auto c = std::make_unique<Controller>(port, password);
  const auto stopped = [&stop] { return stop && stop(); };
  // The dispatcher ends here: the controller handed back takes no more frames (the refusing reader
  // behind it reads from then on).
  c->refuseFrames = c->link->addReader({[](std::uint8_t, const Bytes&) { return false; }, {}});
  Dispatcher dispatcher;
  dispatcher.attach(*c->link);
  if (!c->login()) {
    error->clear();  // the login said why
    return nullptr;
  }
  ConfigTransfer transfer(*c->link, *c->session);
  QObject::connect(&transfer, &ConfigTransfer::notice, [&c](const Notice& n) { c->notifier.show(n); });
  transfer.stopRequested = stop;
  // A stop during the login ends the command here; the download would not start anyway.
  const bool ok = !stopped() && runToEnd(transfer, nullptr);
  c->session->liveOff();
  if (!ok && (transfer.stopped() || stopped())) {
    c->logoutQuietly();
    *error = QStringLiteral("%1: the download was interrupted").arg(port);
    return nullptr;
  }
  if (!ok) {
    *error = QStringLiteral("%1: the download stopped, no answer from the controller").arg(port);
    return nullptr;
  }
  c->config = transfer.configuration();
  c->config.firmware.clear();  // the callers take the version and the port as they need them
  c->config.port.clear();
  if (firmware) *firmware = c->session->firmwareVersion();  // the logout clears it
  if (!c->logout()) {
    error->clear();  // the logout said so
    return nullptr;
  }
  return c;
}

int cmdShow(const QStringList& args) {
  Command cmd("show", "Every field of a configuration file in words, item by item in file order.",
              "FILE.dvc|FILE.json");
  cmd.parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("a .dvc or .json file"),
                                   QStringLiteral("FILE.dvc|FILE.json"));
  cmd.parser.addOption({QStringLiteral("json"), QStringLiteral("print the JSON form instead")});
  if (const auto exit = cmd.parse(args, 1, 1)) return *exit;
  return showConfig(cmd.positional().first(), cmd.parser.isSet(QStringLiteral("json")));
}

int showConfig(const QString& path, bool json) {
  QString why;
  const auto c = readConfigAny(path, &why);
  if (!c) {
    err(why);
    return kFailure;
  }
  if (json) {
    outBytes(configToJsonText(*c));
    return kOk;
  }
  const auto values = fileItemsOf(*c, &why);
  if (!values) {
    err(why);
    return kFailure;
  }
  for (const QString& line : describeConfig(*values, quoted)) out(line);
  return kOk;
}

int cmdConvert(const QStringList& args) {
  Command cmd("convert",
              "Convert a configuration between .dvc and .json.  A .dvc file comes back byte for byte except\n"
              "for list indexes beyond their list (saved as 255, no selection) and flag bits without a\n"
              "check box (cleared); a warning names each such item.",
              "IN OUT");
  cmd.parser.addPositionalArgument(QStringLiteral("IN"), QStringLiteral("the file to read, .dvc or .json"));
  cmd.parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("the file to write, .dvc or .json"));
  if (const auto exit = cmd.parse(args, 2, 2)) return *exit;
  const QString in = cmd.positional().at(0), outPath = cmd.positional().at(1);
  if (configFormatOf(outPath) == ConfigFormat::Unknown) {
    err(unsupportedFormat(outPath));
    return kUsage;
  }
  QString why;
  const auto c = readConfigAny(in, &why);
  if (!c) {
    err(why);
    return kFailure;
  }
  // Say what the configuration cannot carry when it does not give the same bytes back.
  if (configFormatOf(in) == ConfigFormat::Dvc) {
    if (const auto original = readWholeFile(in, &why))
      for (const QString& line : configNormalisations(*original, *c))
        err(QStringLiteral("%1: %2").arg(displayName(in), line));
  }
  if (!writeConfigAny(outPath, *c, &why)) {
    err(why);
    return kFailure;
  }
  return kOk;
}

int cmdDiff(const QStringList& args) {
  Command cmd("diff",
              "The fields that differ between two configurations, one \"name: A | B\" line each.  A side is\n"
              "a .dvc or .json file, or port:DEVICE for the configuration a controller holds.  Exit status\n"
              "0: the same, 1: different, 2: trouble.",
              "A B");
  cmd.parser.addPositionalArgument(QStringLiteral("A"), QStringLiteral("FILE.dvc, FILE.json or port:DEVICE"));
  cmd.parser.addPositionalArgument(QStringLiteral("B"), QStringLiteral("FILE.dvc, FILE.json or port:DEVICE"));
  // A controller side names its port itself.
  cmd.addPasswordOptions();
  cmd.addTraceOption();
  if (const auto exit = cmd.parse(args, 2, 2)) return *exit;
  const QStringList sides = cmd.positional();
  // Only a controller side logs in.
  const bool controller = std::any_of(sides.begin(), sides.end(), [](const QString& s) {
    return s.startsWith(QLatin1String("port:"));
  });
  const QString password = controller ? cmd.password().value_or(QLatin1String(kDefaultPassword)) : QString();
  if (controller && !checkPassword(password)) return kUsage;
  QString why;
  // A controller side ends in order on a signal: the session logs out first.
  StopSignals stop;
  const auto va = readSide(sides.at(0), password, &why, stop);
  const auto vb = va && !stop.signal() ? readSide(sides.at(1), password, &why, stop) : std::nullopt;
  if (const int sig = stop.signal()) {
    err(QStringLiteral("diff interrupted by %1: nothing compared").arg(StopSignals::name(sig)));
    return StopSignals::exitCode(sig);
  }
  if (!va || !vb) {
    if (!why.isEmpty()) err(why);
    return kUsage;  // trouble, as diff(1) has it
  }

  const auto differences = diffConfigs(*va, *vb, escaped);
  for (const FieldDifference& d : differences) out(QStringLiteral("%1: %2 | %3").arg(d.name, d.a, d.b));
  // Lines that did not arrive are trouble too, not a difference.
  if (!checkOutput()) return kUsage;
  return differences.empty() ? kOk : kFailure;
}

}  // namespace dovu::cli

// report: the configuration sheet of a file or a controller as a PDF.
#include "cli.h"
#include "wording.h"
#include "configfiles.h"
#include "report/sheet.h"
#include "storage/checkedfile.h"

namespace dovu::cli {

int cmdReport(const QStringList& args) {
  Command cmd("report",
              "The configuration sheet (one or two A4 pages, in Polish) of a configuration file or of\n"
              "the configuration a controller holds (port:DEVICE), as a PDF.  The access password and\n"
              "the SIM PIN are masked unless --show-secrets is given.",
              "FILE.dvc|FILE.json|port:DEVICE -o SHEET.pdf");
  cmd.parser.addPositionalArgument(QStringLiteral("SOURCE"), QStringLiteral("FILE.dvc, FILE.json or port:DEVICE"));
  cmd.parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("the PDF file to write (- for standard output)"),
                        QStringLiteral("FILE")});
  cmd.parser.addOption({QStringLiteral("site"), QStringLiteral("client or site name for the header"),
                        QStringLiteral("NAME")});
  cmd.parser.addOption({QStringLiteral("show-secrets"), QStringLiteral("print the access password and the SIM PIN")});
  cmd.addPasswordOptions();
  cmd.addTraceOption();
  if (const auto exit = cmd.parse(args, 1, 1)) return *exit;
  const QStringList outs = cmd.parser.values(QStringLiteral("o"));
  if (outs.size() != 1) {
    err(QStringLiteral("usage: dovu-cli report SOURCE -o SHEET.pdf"));
    return kUsage;
  }
  const QString source = cmd.positional().first();
  const QString out = outs.first();
  // "-o -" is standard output, as for most tools; a file named "-" is "-o ./-".
  const bool toStdout = out == QLatin1String("-");
  QString why;
  // Before a controller is asked for anything, the output must be writable.
  Problem cause;
  if (!toStdout && !canSaveFile(out, nullptr, &cause)) {
    err(englishFileReason(cause));
    return kFailure;
  }

  report::SheetOptions options;
  options.site = cmd.parser.value(QStringLiteral("site"));
  options.programVersion = QCoreApplication::applicationVersion();
  options.showSecrets = cmd.parser.isSet(QStringLiteral("show-secrets"));
  QByteArray pdf;
  if (source.startsWith(QLatin1String("port:"))) {
    const QString password = cmd.password().value_or(QLatin1String(kDefaultPassword));
    if (!checkPassword(password)) return kUsage;
    StopSignals stop;
    const auto c = downloadFromController(source.mid(5), password, &why, &options.firmware,
                                          [&stop] { return stop.signal() != 0; });
    if (const int sig = stop.signal()) {
      err(QStringLiteral("report interrupted by %1: no sheet written").arg(StopSignals::name(sig)));
      return StopSignals::exitCode(sig);
    }
    if (!c) {
      if (!why.isEmpty()) err(why);
      return kFailure;
    }
    pdf = report::sheetPdf(c->config, options);
  } else {
    const auto c = readConfigAny(source, &why);
    if (!c) {
      err(why);
      return kFailure;
    }
    pdf = report::sheetPdf(*c, options);
  }
  if (pdf.isEmpty()) {
    err(QStringLiteral("%1: the sheet could not be made").arg(displayName(out)));
    return kFailure;
  }
  if (toStdout) {
    outBytes(pdf);
    return checkOutput() ? kOk : kFailure;
  }
  if (!saveFileAtomically(out, Bytes(pdf.constData(), pdf.size()), nullptr, {}, &cause)) {
    err(englishFileReason(cause));
    return kFailure;
  }
  return kOk;
}

}  // namespace dovu::cli

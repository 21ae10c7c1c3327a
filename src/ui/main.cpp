// dovu-konfig: the DOVU controller configurator.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QIcon>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "dovu/version.h"
#include "ui/application.h"
#include "ui/mainwindow.h"

namespace {

// The window takes no arguments of its own beyond --help and --version (Qt's own, such as
// -platform or -style, are taken by the application object first).  Returns the exit status when
// the program ends here.
std::optional<int> handleArguments(const QStringList& args, bool strict) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Configures the DOVU GSM alarm controller over a serial port at 4800 bit/s: live state,\n"
      "configuration download, editing and upload, configuration files, password change, restart\n"
      "and firmware update.  The window is in Polish; dovu-cli does the same from the command line."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                QStringLiteral("Displays this help."));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("Displays the program's version."));
  parser.addOption(help);
  parser.addOption(version);
  const bool parsed = parser.parse(args);
  if (parser.isSet(version)) {
    std::printf("dovu-konfig %s\n", DOVU_VERSION);
    return EXIT_SUCCESS;
  }
  if (parser.isSet(help)) {
    // Qt names the program by the path it was started with; the manual page wants its name.
    QString text = parser.helpText();
    text.replace(0, text.indexOf(QLatin1Char('\n')), QStringLiteral("Usage: dovu-konfig [options]"));
    std::fputs(text.toUtf8().constData(), stdout);
    return EXIT_SUCCESS;
  }
  if (!strict) return std::nullopt;
  // In English like the help, though Qt's own texts are already Polish here.
  QString error;
  if (!parser.unknownOptionNames().isEmpty())
    error = QStringLiteral("unknown option '%1'").arg(parser.unknownOptionNames().constFirst());
  else if (!parsed)
    error = parser.errorText();
  else if (!parser.positionalArguments().isEmpty())
    error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().constFirst());
  else
    return std::nullopt;
  std::fprintf(stderr, "dovu-konfig: %s\nTry dovu-konfig --help.\n", error.toLocal8Bit().constData());
  return 2;
}

// --help and --version are answered before the window's application object exists, so they work
// without a display (help2man makes the manual page from them at build time).
bool asksForText(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    for (const char* o : {"-h", "--help", "-?", "-v", "--version"})
      if (std::strcmp(argv[i], o) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file size limit fails a save with EFBIG, reported like a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  QCoreApplication::setApplicationName(QStringLiteral("dovu-konfig"));
  QCoreApplication::setApplicationVersion(QStringLiteral(DOVU_VERSION));
  if (asksForText(argc, argv)) {
    QCoreApplication text(argc, argv);
    if (const auto exit = handleArguments(QCoreApplication::arguments(), false)) return *exit;
  }
  dovu::ui::Application app(argc, argv);
  if (const auto exit = handleArguments(QCoreApplication::arguments(), true)) return *exit;
  // The installed desktop entry and icon theme, with the built-in pictures when not installed.
  app.setDesktopFileName(QStringLiteral("dovu-konfig"));
  QIcon icon;
  for (int size : {16, 32, 48, 256}) icon.addFile(QStringLiteral(":/dovu/icon-%1.png").arg(size));
  app.setWindowIcon(QIcon::fromTheme(QStringLiteral("dovu-konfig"), icon));
  dovu::ui::MainWindow window;
  window.createDialogs();
  window.show();
  // For the start-up benchmark: report once the window is up and leave.
  if (std::getenv("DOVU_BENCH_EXIT_ON_SHOW")) {
    QTimer::singleShot(0, &app, [&window] {
      std::printf("SHOWN %d\n", window.isVisible() ? 1 : 0);
      std::fflush(stdout);
      QCoreApplication::exit(0);
    });
  }
  return app.exec();
}

// dovu-konfig: the DOVU controller configurator.
#include <QIcon>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "ui/application.h"
#include "ui/mainwindow.h"

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // A file size limit fails a save with EFBIG, reported like a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  dovu::ui::Application app(argc, argv);
  app.setApplicationName(QStringLiteral("dovu-konfig"));
  // The installed desktop entry and icon theme, with the built-in pictures when not installed.
  app.setDesktopFileName(QStringLiteral("dovu-konfig"));
  QIcon icon;
  for (int size : {16, 32, 48, 256}) icon.addFile(QStringLiteral(":/dovu/icon-%1.png").arg(size));
  app.setWindowIcon(QIcon::fromTheme(QStringLiteral("dovu-konfig"), icon));
  dovu::ui::Main window;
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

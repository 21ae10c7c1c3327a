// The yardstick of the start-up benchmark: a bare Qt main window (a menu bar and one label, the
// same size as the configurator's), reporting "SHOWN" the way dovu-konfig does under
// DOVU_BENCH_EXIT_ON_SHOW and leaving.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("bare"));
  window.menuBar()->addMenu(QStringLiteral("Plik"));
  window.setCentralWidget(new QLabel(QStringLiteral("bare")));
  window.resize(1172, 663);
  window.show();
  QTimer::singleShot(0, &app, [&window] {
    std::printf("SHOWN %d\n", window.isVisible() ? 1 : 0);
    std::fflush(stdout);
    QCoreApplication::exit(0);
  });
  return app.exec();
}

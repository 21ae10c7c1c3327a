#include "support/testapp.h"

#include <QElapsedTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace dovu::test {

namespace {

// Every test process keeps its backups (the tool's and the window's, in $XDG_DATA_HOME) in a
// folder of its own that goes with it: never in the user's data, never shared by two tests that
// run at once.
struct OwnDataHome {
  OwnDataHome() {
    if (dir.isValid()) qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
  }
  QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/dovu-test-data-XXXXXX")};
} ownDataHome;

}  // namespace

QCoreApplication* app() {
  if (QCoreApplication::instance()) return QCoreApplication::instance();
  static int argc = 1;
  static char name[] = "dovu-test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication a(argc, argv);
  return &a;
}

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
  app();
  if (cond()) return true;
  QElapsedTimer clock;
  clock.start();
  // A coarse timer guarantees a wake-up so the deadline is seen even when nothing else happens.
  QTimer wake;
  wake.start(20);
  while (!cond()) {
    if (clock.elapsed() >= timeoutMs) return cond();
    // Blocks until an event (the wake timer at the latest) has been processed.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

}  // namespace dovu::test

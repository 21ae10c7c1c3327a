#include "support/testapp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace dovu::test {

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

// dovu-screenshot: starts a simulated controller, logs the main window in to it, lets a few status
// polls arrive and saves a picture of the window.  With --idle it instead stays logged in and idle
// for the given time and reports the processor time the window used meanwhile (start-up benchmark).
//
// With --chart-out it then also shows the "Wykres" dock for --chart-seconds (default 90) of status
// polls and saves a picture of the chart.
//
//   dovu-screenshot --sim PATH/dovu-sim [--out FILE.png] [--download] [--idle SECONDS]
//                   [--chart-out FILE.png [--chart-seconds N]]
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <sys/resource.h>

#include <cstdio>
#include <functional>

#include "ui/application.h"
#include "ui/chartview.h"
#include "ui/mainwindow.h"
#include "ui/wording.h"

namespace {

class StderrNotifier : public dovu::Notifier {
 public:
  void beep() override {}
  void message(dovu::MessageKind, const QString& text, const QString& detail) override {
    std::fprintf(stderr, "dovu-screenshot: %s %s\n", qPrintable(text), qPrintable(detail));
  }
  // In the window's words, as its boxes would show them.
  void report(dovu::MessageKind kind, const dovu::Problem& problem) override {
    message(kind, dovu::ui::polishText(problem.cause), dovu::ui::polishDetail(problem));
  }
};

bool waitFor(const std::function<bool()>& cond, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  // The timer guarantees a wake-up to see the deadline; in between the loop sleeps.  (The
  // overload of processEvents() with a time limit drops WaitForMoreEvents and would spin.)
  QTimer wake;
  wake.start(50);
  while (!cond()) {
    if (clock.elapsed() >= timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int usage() {
  std::fprintf(stderr, "usage: dovu-screenshot --sim PATH [--out FILE.png] [--download] [--idle SECONDS]\n"
                       "                       [--chart-out FILE.png [--chart-seconds N]]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QString simPath, outPath = QStringLiteral("screenshot.png");
  bool download = false;
  int idleSeconds = 0;
  QString chartOut;
  int chartSeconds = 90;
  for (int i = 1; i < argc; ++i) {
    const QString a = QString::fromLocal8Bit(argv[i]);
    if (a == QLatin1String("--sim") && i + 1 < argc) simPath = QString::fromLocal8Bit(argv[++i]);
    else if (a == QLatin1String("--out") && i + 1 < argc) outPath = QString::fromLocal8Bit(argv[++i]);
    else if (a == QLatin1String("--idle") && i + 1 < argc) idleSeconds = QString::fromLocal8Bit(argv[++i]).toInt();
    else if (a == QLatin1String("--download")) download = true;
    else if (a == QLatin1String("--chart-out") && i + 1 < argc) chartOut = QString::fromLocal8Bit(argv[++i]);
    else if (a == QLatin1String("--chart-seconds") && i + 1 < argc) chartSeconds = QString::fromLocal8Bit(argv[++i]).toInt();
    else return usage();
  }
  if (simPath.isEmpty()) return usage();

  // The simulator advertises its port in a folder of our own, so that the window lists it.
  QTemporaryDir simDir;
  qputenv("DOVU_SIM_DIR", QFile::encodeName(simDir.path()));
  dovu::ui::Application app(argc, argv);

  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start(simPath, {});
  QString port;
  waitFor([&] {
    if (sim.canReadLine()) {
      const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
      if (line.startsWith(QLatin1String("PORT "))) port = line.mid(5);
    }
    return !port.isEmpty() || sim.state() == QProcess::NotRunning;
  }, 10000);
  if (port.isEmpty()) {
    std::fprintf(stderr, "dovu-screenshot: the simulator did not start\n");
    return 1;
  }

  StderrNotifier notifier;
  int status = 1;
  {
    dovu::ui::MainWindow window(nullptr, &notifier);
    window.createDialogs();
    window.show();
    // The offscreen screen is small; show the window at the size it asks for.
    window.resize(window.preferredSize());
    std::fprintf(stderr, "dovu-screenshot: window %dx%d\n", window.width(), window.height());
    int polls = 0;
    QObject::connect(&window.link(), &dovu::Link::frameTaken, &window, [&](std::uint8_t code, const dovu::Bytes&) {
      if (code == 253) ++polls;
    });
    const int index = window.comCombo()->findText(port);
    if (index < 0) {
      std::fprintf(stderr, "dovu-screenshot: %s is not in the port list\n", qPrintable(port));
    } else {
      window.comCombo()->setCurrentIndex(index);
      window.comComboChange(index);
      window.connectClick();
      if (!window.session().loggedIn()) {
        std::fprintf(stderr, "dovu-screenshot: login failed\n");
      } else {
        if (download) window.downloadClick();
        const int before = polls;
        waitFor([&] { return polls >= before + 3; }, 8000);
        if (idleSeconds > 0) {
          const int pollsBefore = polls;
          const double cpuBefore = cpuSeconds();
          QElapsedTimer wall;
          wall.start();
          QEventLoop idle;
          QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
          idle.exec();
          const double cpu = cpuSeconds() - cpuBefore;
          const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
          std::printf("IDLE seconds=%.1f cpu=%.3f percent=%.3f polls=%d\n", seconds, cpu,
                      100.0 * cpu / seconds, polls - pollsBefore);
          status = 0;
        } else if (window.grab().save(outPath)) {
          std::printf("saved %s\n", qPrintable(outPath));
          status = 0;
        }
        if (status == 0 && !chartOut.isEmpty()) {
          // The chart in its own floating dock, filled by the polls that keep arriving.
          auto* dock = window.findChild<QDockWidget*>(QStringLiteral("DockWykres"));
          dock->setFloating(true);
          dock->show();
          dock->resize(960, 440);
          QEventLoop collect;
          QTimer::singleShot(chartSeconds * 1000, &collect, &QEventLoop::quit);
          collect.exec();
          window.chart()->redrawNow();
          status = window.chart()->grab().save(chartOut) ? 0 : 1;
          if (status == 0) std::printf("saved %s\n", qPrintable(chartOut));
        }
      }
    }
    window.close();
  }
  sim.terminate();
  sim.waitForFinished(3000);
  return status;
}

// The "Wykres" panel with a full day of records: feeding 24 h of status records at speed, the
// time of one redraw (series rebuilt and the chart painted), the peak memory, and the processor
// load while the chart is shown and a record arrives each second as the poll brings them.
//
//   bench_chart [--seconds S]
//
// Targets on the 2-core development machine: a redraw well under the one-second pace, and a load
// below 1 % of one core while shown.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <sys/resource.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/notifier.h"
#include "common.h"
#include "ui/chartview.h"

namespace {

class Quiet : public dovu::Notifier {
 public:
  void beep() override {}
  void message(dovu::MessageKind, const QString&, const QString&) override {}
  void report(dovu::MessageKind, const dovu::Problem&) override {}
};

dovu::StatusRecord record(int i) {
  dovu::StatusRecord s;
  s.t1Raw = static_cast<std::uint16_t>(300 + i % 97);
  s.t2Raw = static_cast<std::uint16_t>(310 + i % 53);
  s.t3 = static_cast<std::uint16_t>(200 + i % 71);
  s.humidity = static_cast<std::uint16_t>(500 + i % 200);
  s.exVolts = static_cast<std::uint8_t>(220 + i % 20);
  s.dcVolts = static_cast<std::uint8_t>(130 + i % 8);
  s.rssi = 10 + i % 16;
  return s;
}

double peakMegabytes() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 30;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = std::max(1, std::atoi(argv[++i]));
    else {
      std::fprintf(stderr, "usage: bench_chart [--seconds S]\n");
      return 2;
    }
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  Quiet quiet;
  dovu::ui::ChartPanel panel(quiet);
  panel.resize(1000, 420);
  panel.show();
  QCoreApplication::processEvents();
  const double baseMb = peakMegabytes();

  constexpr int kDay = 24 * 3600;
  const QDateTime start = QDateTime::currentDateTime().addSecs(-kDay);
  QElapsedTimer feed;
  feed.start();
  for (int i = 0; i < kDay; ++i) panel.addRecord(start.addSecs(i), record(i));
  const double feedMs = static_cast<double>(feed.nsecsElapsed()) / 1e6;

  std::vector<double> redraws;
  for (int r = 0; r < 20; ++r) {
    panel.addRecord(start.addSecs(kDay + r), record(kDay + r));
    QElapsedTimer t;
    t.start();
    panel.redrawNow();
    const QPixmap shown = panel.grab();  // the paint the screen would get
    redraws.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    if (shown.isNull()) return 1;
  }
  std::sort(redraws.begin(), redraws.end());
  double sum = 0;
  for (double r : redraws) sum += r;
  std::printf("feed 24 h (%d records): %.0f ms, %.2f us a record; held %zu\n", kDay, feedMs, feedMs * 1000 / kDay,
              panel.history().size());
  std::printf("redraw with a full day (series rebuilt, %d points a series at most, chart painted): "
              "mean %.1f ms, median %.1f ms, max %.1f ms\n",
              dovu::ui::ChartPanel::kMaxPoints, sum / static_cast<double>(redraws.size()),
              redraws[redraws.size() / 2], redraws.back());
  std::printf("peak memory: %.1f MB (%.1f MB before the day was fed)\n", peakMegabytes(), baseMb);

  // Shown, a record a second as the poll delivers them: the load of keeping the chart current.
  int fed = kDay + 20;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] { panel.addRecord(QDateTime::currentDateTime(), record(fed++)); });
  const int redrawsBefore = panel.redraws();
  const double cpu0 = dovu::bench::cpuSeconds();
  QElapsedTimer wall;
  wall.start();
  poll.start(1000);
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  const double cpu = dovu::bench::cpuSeconds() - cpu0;
  const double percent = 100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0);
  std::printf("shown, a record a second for %d s: %.2f %% of one core, %d redraws (target below 1 %%)\n", seconds,
              percent, panel.redraws() - redrawsBefore);

  // Shown with nothing arriving (logged out): no timer runs at all.
  poll.stop();
  const double cpu1 = dovu::bench::cpuSeconds();
  wall.restart();
  QTimer::singleShot(std::min(seconds, 10) * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  std::printf("shown, no records for %d s: %.3f %% of one core\n", std::min(seconds, 10),
              100.0 * (dovu::bench::cpuSeconds() - cpu1) / (static_cast<double>(wall.elapsed()) / 1000.0));
  std::printf("peak memory at the end: %.1f MB\n", peakMegabytes());
  return 0;
}

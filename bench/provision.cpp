// A series of controllers at once: one site on one paced simulator, then four sites on four paced
// simulators (dovu-sim --baud-pace, a real 4800 bit/s line each), each site logged in, backed up,
// uploaded and read back.  Prints both times, their ratio and the CPU this process used while the
// four ran, against the goals (ratio <= 1.3, CPU below 5 % of one core on average).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

#include "common.h"
#include "exchange/provision.h"
#include "model/configuration.h"
#include "storage/configjson.h"

using namespace dovu;
using bench::cpuSeconds;

namespace {

struct Run {
  double seconds = 0;
  double cpu = 0;
  bool verified = false;
};

Run provision(const QStringList& ports, const QString& backups) {
  Configuration templ = defaultConfiguration();
  templ.telephones[1] = QStringLiteral("+48700800900");
  std::vector<Site> sites;
  for (int i = 0; i < ports.size(); ++i) {
    Site s;
    s.name = QStringLiteral("site %1").arg(i + 1);
    s.config = templ;
    s.config.telephones[0] = QStringLiteral("+4860100000%1").arg(i + 1);
    s.config.inputs[0].alarmText = QStringLiteral("Włamanie %1").arg(i + 1);
    sites.push_back(s);
  }
  BackupStore store(backups);
  Provisioner::Options options;
  options.ports = ports;
  options.defaultPassword = QString::fromLatin1(kDefaultPassword);
  options.backups = &store;
  Provisioner series(sites, options);
  QEventLoop loop;
  QObject::connect(&series, &Provisioner::finished, &loop, &QEventLoop::quit);
  QElapsedTimer clock;
  const double cpu0 = cpuSeconds();
  clock.start();
  series.start();
  loop.exec();
  Run r;
  r.seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  r.cpu = cpuSeconds() - cpu0;
  r.verified = series.allVerified();
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  constexpr int kSims = 4;
  QTemporaryDir dir;
  std::vector<std::unique_ptr<QProcess>> sims;
  QStringList ports;
  for (int i = 0; i < kSims; ++i) {
    sims.push_back(std::make_unique<QProcess>());
    const QString port = bench::startPacedSim(*sims.back(), dir, {}, "bench_provision");
    if (port.isEmpty()) return 1;
    ports << port;
  }

  const Run one = provision(ports.mid(0, 1), dir.filePath(QStringLiteral("backups1")));
  const Run four = provision(ports, dir.filePath(QStringLiteral("backups4")));
  const double ratio = four.seconds / one.seconds;
  const double cpuShare = four.cpu / four.seconds;
  std::printf("1 site : %6.2f s  CPU %.3f s (%.1f %% of a core)%s\n", one.seconds, one.cpu,
              100.0 * one.cpu / one.seconds, one.verified ? "" : "  NOT VERIFIED");
  std::printf("4 sites: %6.2f s  CPU %.3f s (%.1f %% of a core)%s\n", four.seconds, four.cpu, 100.0 * cpuShare,
              four.verified ? "" : "  NOT VERIFIED");
  std::printf("ratio %.3f (goal <= 1.3), CPU %.1f %% of one core (goal < 5 %%)\n", ratio, 100.0 * cpuShare);

  for (auto& sim : sims) {
    sim->terminate();
    sim->waitForFinished(3000);
  }
  return one.verified && four.verified && ratio <= 1.3 && cpuShare < 0.05 ? 0 : 1;
}

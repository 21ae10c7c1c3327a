// Full upload and full download of a configuration with every text at its limit, against
// dovu-sim --baud-pace (a real 4800 bit/s line).  Prints each transfer's time, its ratio to the
// least possible time (every byte on the wire at 4800 bit/s, 10 bits a byte, in both directions,
// plus the 10 ms pause per parameter), and the CPU time the program used during the download.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "common.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "link/serialport.h"
#include "link/link.h"
#include "session/session.h"
#include "model/configuration.h"
#include "model/cp1250.h"
#include "model/params.h"

using namespace dovu;
using bench::cpuSeconds;
using bench::kSecondsPerByte;

namespace {

constexpr double kPauseSeconds = 0.010;

// Every text at its limit, with Polish letters so that the Windows-1250 path is exercised.
Configuration filledToLimits() {
  const QString letters = QStringLiteral("Zażółć gęślą jaźń 0123456789 ABCDEFGHIJ");
  Configuration c = defaultConfiguration();
  for (const ParamDef& p : paramTable()) {
    if (p.kind != PayloadKind::Text) continue;
    QString t;
    for (int i = 0; i < p.limit; ++i) t += letters.at((i + p.readCode) % letters.size());
    decodeParameter(c, p, toCp1250(t));
  }
  return c;
}

struct Measure {
  std::size_t wireBytes = 0;
  int frames = 0;
};

void report(const char* what, double seconds, const Measure& m) {
  const double least = static_cast<double>(m.wireBytes) * kSecondsPerByte + kParamCount * kPauseSeconds;
  // The simulator hands each answer byte over at the start of its 2.083 ms slot, so each answer
  // is complete one byte time sooner than on a real line.
  const double simLeast = least - kParamCount * kSecondsPerByte;
  std::printf("%-9s %7.3f s   least possible %7.3f s (%zu bytes on the wire in %d frames)   ratio %.3f"
              "   (%.3f against the simulator's own least %.3f s)\n",
              what, seconds, least, m.wireBytes, m.frames, seconds / least, seconds / simLeast, simLeast);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);

  QTemporaryDir dir;
  QProcess sim;
  const QString portName = bench::startPacedSim(sim, dir, {}, "bench_transfer");
  if (portName.isEmpty()) return 1;

  SerialPort port;
  port.setPort(portName);
  port.setBaudRate(4800);
  Link link(&port);
  Session session(link);
  session.setPassword(QString::fromLatin1(kDefaultPassword));
  Dispatcher dispatcher;
  dispatcher.attach(link);
  Measure m;
  QObject::connect(&link, &Link::frameTraced, [&](bool, const Bytes& frame) {
    m.wireBytes += frame.size();
    ++m.frames;
  });
  auto login = session.connectAndLogin();
  if (login == Session::ConnectResult::Started) {
    QEventLoop loop;
    QObject::connect(&session, &Session::loginFinished, &loop, [&](Session::ConnectResult r) {
      login = r;
      loop.quit();
    });
    loop.exec();
  }
  if (login != Session::ConnectResult::LoggedIn) {
    std::fprintf(stderr, "bench_transfer: login failed\n");
    return 1;
  }
  ConfigTransfer transfer(link, session);
  const Configuration filled = filledToLimits();
  auto run = [&](bool up) { return bench::runTransferToEnd(transfer, up ? &filled : nullptr); };

  int rc = 0;
  m = {};
  QElapsedTimer clock;
  clock.start();
  if (!run(true)) {
    std::fprintf(stderr, "bench_transfer: upload failed\n");
    rc = 1;
  }
  report("upload", static_cast<double>(clock.nsecsElapsed()) / 1e9, m);
  session.liveOff();

  m = {};
  const double cpu0 = cpuSeconds();
  clock.restart();
  if (!run(false)) {
    std::fprintf(stderr, "bench_transfer: download failed\n");
    rc = 1;
  }
  const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  const double cpu = cpuSeconds() - cpu0;
  report("download", wall, m);
  std::printf("CPU during the download: %.3f s of %.3f s = %.1f %% of one core\n", cpu, wall, 100.0 * cpu / wall);
  std::fflush(stdout);

  session.liveOff();
  link.abortWaits();
  port.close();
  sim.terminate();
  sim.waitForFinished(3000);
  return rc;
}

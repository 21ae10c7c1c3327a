// Full upload and full download of a configuration with every text at its limit, against
// dovu-sim --baud-pace (a real 4800 bit/s line).  Prints each transfer's time, its ratio to the
// least possible time (every byte on the wire at 4800 bit/s, 10 bits a byte, in both directions,
// plus the 10 ms pause per parameter), and the CPU time the program used during the download.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <cstdio>

#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "link/comport.h"
#include "link/link.h"
#include "link/session.h"
#include "model/form.h"
#include "model/params.h"

using namespace dovu;

namespace {

constexpr double kSecondsPerByte = 10.0 / 4800.0;
constexpr double kPauseSeconds = 0.010;

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Every text at its limit, with Polish letters so that the Windows-1250 path is exercised.
void fillToLimits(Form& form) {
  const QString letters = QStringLiteral("Zażółć gęślą jaźń 0123456789 ABCDEFGHIJ");
  for (const ParamDef& p : paramTable()) {
    if (p.kind != PayloadKind::Text) continue;
    QString t;
    for (int i = 0; i < p.limit; ++i) t += letters.at((i + p.readCode) % letters.size());
    form.setText(p.field, t);
  }
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
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DOVU_SIM_DIR"), dir.filePath(QStringLiteral("advert")));
  sim.setProcessEnvironment(env);
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start(QStringLiteral(DOVU_SIM_PATH), {QStringLiteral("--baud-pace"), QStringLiteral("--no-advertise")});
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "bench_transfer: cannot start %s\n", DOVU_SIM_PATH);
    return 1;
  }
  const QString line = QString::fromUtf8(sim.readLine()).trimmed();
  if (!line.startsWith(QLatin1String("PORT "))) {
    std::fprintf(stderr, "bench_transfer: unexpected first line from the simulator: %s\n", qPrintable(line));
    return 1;
  }

  SilentNotifier notifier;
  Form form;
  ComPort port;
  port.setPort(line.mid(5));
  port.setBaudRate(4800);
  Link link(&port, &notifier);
  Session session(form, link);
  Dispatcher dispatcher(form);
  link.dispatch = [&](std::uint8_t code, const Bytes& payload) { dispatcher.dispatch(code, payload); };
  Measure m;
  link.trace = [&](bool, const Bytes& frame) {
    m.wireBytes += frame.size();
    ++m.frames;
  };
  if (session.connectAndLogin() != Session::ConnectResult::LoggedIn) {
    std::fprintf(stderr, "bench_transfer: login failed\n");
    return 1;
  }
  ConfigTransfer transfer(form, link, session);
  fillToLimits(form);

  int rc = 0;
  m = {};
  QElapsedTimer clock;
  clock.start();
  if (!transfer.upload()) {
    std::fprintf(stderr, "bench_transfer: upload failed\n");
    rc = 1;
  }
  report("upload", static_cast<double>(clock.nsecsElapsed()) / 1e9, m);
  session.liveOff();

  m = {};
  const double cpu0 = cpuSeconds();
  clock.restart();
  if (!transfer.download()) {
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

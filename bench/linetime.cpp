// The link's timing on a paced line, both transfers side by side in one run: the full download of
// a configuration with every text at its limit, and a 16 KiB firmware update without a backup,
// each against its own dovu-sim --baud-pace.  Prints each time and its ratio to the least time
// the simulated line allows (see Ratio), and whether it meets its goal:
//   download: every byte on the wire (2.083 ms each) plus the 10 ms pause per parameter, goal 1.03;
//   flash:    every block frame and acknowledgement on the wire plus the two 2000 ms pauses of the
//             bootloader (from "B" to "K"), goal 1.005.
// Exit 1 when a transfer fails; the goals are printed, not enforced (a loaded machine misses them).
//
//   bench_linetime [--runs N]   (N of each, median printed; default 3)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "common.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "firmware/bootloader.h"
#include "link/link.h"
#include "link/serialport.h"
#include "model/configuration.h"
#include "model/cp1250.h"
#include "model/params.h"
#include "session/session.h"
#include "storage/checkedfile.h"

using namespace dovu;
using bench::kSecondsPerByte;

namespace {

constexpr double kDownloadGoal = 1.03;
constexpr double kFlashGoal = 1.005;
constexpr double kPauseSeconds = 0.010;
constexpr std::size_t kBlockFrameBytes = 4 + 1 + kFirmwareBlockSize;

// least: what the line allows.  The simulator hands each answer byte over at the start of its
// 2.083 ms slot, so each answer (and acknowledgement) is complete one byte time sooner than on a
// real line: simLeast takes that off, and the goals hold against it, the stricter of the two.
struct Ratio {
  double seconds = 0;
  double least = 0;
  double simLeast = 0;
  double ratio() const { return seconds / simLeast; }
};

// A controller with every text at its limit (Polish letters included), filled by an upload.
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

std::optional<Ratio> download(const QString& portName) {
  SerialPort port;
  port.setPort(portName);
  port.setBaudRate(4800);
  Link link(&port);
  Session session(link);
  session.setPassword(QString::fromLatin1(kDefaultPassword));
  Dispatcher dispatcher;
  dispatcher.attach(link);
  std::size_t wireBytes = 0;
  QObject::connect(&link, &Link::frameTraced, [&](bool, const Bytes& frame) { wireBytes += frame.size(); });
  auto login = session.connectAndLogin();
  if (login == Session::ConnectResult::Started) {
    QEventLoop loop;
    QObject::connect(&session, &Session::loginFinished, &loop, [&](Session::ConnectResult r) {
      login = r;
      loop.quit();
    });
    loop.exec();
  }
  if (login != Session::ConnectResult::LoggedIn) return std::nullopt;
  ConfigTransfer transfer(link, session);
  const Configuration filled = filledToLimits();
  auto run = [&](bool up) { return bench::runTransferToEnd(transfer, up ? &filled : nullptr); };
  if (!run(true)) return std::nullopt;
  session.liveOff();
  wireBytes = 0;
  QElapsedTimer clock;
  clock.start();
  const bool ok = run(false);
  const double least = static_cast<double>(wireBytes) * kSecondsPerByte + kParamCount * kPauseSeconds;
  Ratio r{static_cast<double>(clock.nsecsElapsed()) / 1e9, least, least - kParamCount * kSecondsPerByte};
  session.liveOff();
  link.abortWaits();
  port.close();
  if (!ok) return std::nullopt;
  return r;
}

std::optional<Ratio> flash(const QString& portName, std::size_t kib) {
  Bytes image(kib * 1024, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 151 + i / 97) & 0xFF);
  Bytes file = "dvf" + image;
  file.push_back(static_cast<char>(xorChecksum(file, file.size())));
  const auto fw = checkFirmwareFile(file);
  if (!fw) return std::nullopt;
  SerialPort port;
  port.setPort(portName);
  port.setBaudRate(4800);
  port.open();
  Link link(&port);
  QElapsedTimer clock;
  clock.start();
  qint64 restartAt = -1, endAt = -1;
  QObject::connect(&link, &Link::frameTraced, [&](bool out, const Bytes& frame) {
    if (!out) return;
    if (byteAt(frame, 1) == kCodeRestart) restartAt = clock.nsecsElapsed();
    if (byteAt(frame, 1) == kCodeEndTransfer) endAt = clock.nsecsElapsed();
  });
  FirmwareUpdate update(link);
  QEventLoop loop;
  auto result = FirmwareUpdate::Result::Busy;
  update.onFinished = [&](FirmwareUpdate::Result r) {
    result = r;
    loop.quit();
  };
  if (update.start(*fw) && update.running()) loop.exec();
  QObject::disconnect(&link, &Link::frameTraced, nullptr, nullptr);
  port.close();
  if (result != FirmwareUpdate::Result::Done || restartAt < 0 || endAt < 0) return std::nullopt;
  const std::size_t blocks = firmwareBlocks(fw->image).size();
  const double least = static_cast<double>(blocks * (kBlockFrameBytes + 1)) * kSecondsPerByte +
                       (kBootloaderStartMs + kBeforeEndMs) / 1000.0;
  return Ratio{static_cast<double>(endAt - restartAt) / 1e9, least,
               least - static_cast<double>(blocks) * kSecondsPerByte};
}

Ratio median(std::vector<Ratio> runs) {
  std::sort(runs.begin(), runs.end(), [](const Ratio& a, const Ratio& b) { return a.ratio() < b.ratio(); });
  return runs[runs.size() / 2];
}

void report(const char* what, const std::vector<Ratio>& runs, double goal) {
  const Ratio m = median(runs);
  std::printf("%-24s median %7.3f s, least %7.3f s (simulator's %7.3f s): ratio %.4f (%.4f to the line's)"
              "   goal <= %.3f: %s   (runs:",
              what, m.seconds, m.least, m.simLeast, m.ratio(), m.seconds / m.least, goal,
              m.ratio() <= goal ? "met" : "MISSED");
  for (const Ratio& r : runs) std::printf(" %.4f", r.ratio());
  std::printf(")\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  int runs = 3;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
  if (runs < 1 || runs > 50) {
    std::fprintf(stderr, "bench_linetime: --runs takes 1..50\n");
    return 2;
  }
  std::vector<Ratio> downloads, flashes;
  for (int i = 0; i < runs; ++i) {
    // Each transfer on a simulator of its own, one after the other, so that the two are measured
    // on the same machine at nearly the same moment.
    for (const bool isFlash : {false, true}) {
      QTemporaryDir dir;
      QProcess sim;
      const QStringList extra =
          isFlash ? QStringList{QStringLiteral("--image-out"), dir.filePath(QStringLiteral("image.bin"))} : QStringList{};
      const QString portName = bench::startPacedSim(sim, dir, extra, "bench_linetime");
      if (portName.isEmpty()) return 1;
      const auto r = isFlash ? flash(portName, 16) : download(portName);
      sim.terminate();
      sim.waitForFinished(3000);
      if (!r) {
        std::fprintf(stderr, "bench_linetime: the %s failed\n", isFlash ? "flash" : "download");
        return 1;
      }
      (isFlash ? flashes : downloads).push_back(*r);
    }
  }
  report("download (51, longest)", downloads, kDownloadGoal);
  report("flash 16 KiB, no backup", flashes, kFlashGoal);
  std::fflush(stdout);
  return 0;
}

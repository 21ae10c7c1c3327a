// How long the event loop is blocked at most during a download and during a firmware update,
// against dovu-sim --baud-pace through a device whose writes take their bytes' time on a
// 4800 bit/s line (a bare pseudo-terminal drains at once and cannot show a blocking write).  A
// 1 ms timer runs beside the exchange; its longest gap is the longest time the loop did not run,
// and the gaps over 20 ms are counted (on a loaded machine the scheduler adds a few of its own).
// Each flow runs twice: with the port's writer thread, and with writes on the event-loop thread as
// before the writer thread existed (the yardstick).  Target: no block over 20 ms with the writer.
//
//   bench_eventloop [--kib N]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "common.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "firmware/bootloader.h"
#include "link/link.h"
#include "link/serialport.h"
#include "model/configuration.h"
#include "pacedline.h"
#include "session/session.h"
#include "storage/checkedfile.h"

using namespace dovu;

namespace {

// The longest gap between two runs of a 1 ms timer while it is on, and how many exceeded 20 ms.
class BlockProbe {
 public:
  BlockProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const qint64 now = clock_.nsecsElapsed();
      longestNs_ = std::max(longestNs_, now - lastNs_);
      overLimit_ += now - lastNs_ > kLimitNs;
      lastNs_ = now;
    });
  }
  void start() {
    longestNs_ = 0;
    overLimit_ = 0;
    clock_.start();
    lastNs_ = 0;
    timer_.start();
  }
  double stopMs() {
    timer_.stop();
    return static_cast<double>(longestNs_) / 1e6;
  }
  int overLimit() const { return overLimit_; }
  static constexpr qint64 kLimitNs = 20'000'000;

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 lastNs_ = 0;
  qint64 longestNs_ = 0;
  int overLimit_ = 0;
};

struct Figures {
  double downloadMs = -1;
  double updateMs = -1;
  int downloadOver = 0;
  int updateOver = 0;
};

Bytes firmwareFile(std::size_t kib) {
  Bytes image(kib * 1024, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 151 + i / 97) & 0xFF);
  Bytes file = "dvf" + image;
  file.push_back(static_cast<char>(xorChecksum(file, file.size())));
  return file;
}

// Logs in, downloads and updates the firmware against a fresh paced simulator; false on failure.
bool measure(bool blockingWrites, std::size_t kib, Figures& out) {
  QTemporaryDir dir;
  QProcess sim;
  const QString portName = bench::startPacedSim(sim, dir, {}, "bench_eventloop");
  if (portName.isEmpty()) return false;
  SerialPort port(std::make_unique<test::PacedLineDevice>(4800));
  port.setBlockingWrites(blockingWrites);
  port.setPort(portName);
  port.setBaudRate(4800);
  Link link(&port);
  Session session(link);
  session.setPassword(QString::fromLatin1(kDefaultPassword));
  Dispatcher dispatcher;
  dispatcher.attach(link);
  BlockProbe probe;
  bool ok = false;

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
    std::fprintf(stderr, "bench_eventloop: login failed\n");
  } else {
    ConfigTransfer transfer(link, session);
    probe.start();
    ok = bench::runTransferToEnd(transfer, nullptr);
    out.downloadMs = probe.stopMs();
    out.downloadOver = probe.overLimit();
    if (!ok) std::fprintf(stderr, "bench_eventloop: download failed\n");
  }
  session.liveOff();

  if (ok) {
    const auto fw = checkFirmwareFile(firmwareFile(kib));
    FirmwareUpdate update(link, &session);
    QEventLoop loop;
    auto result = FirmwareUpdate::Result::Busy;
    update.onFinished = [&](FirmwareUpdate::Result r) {
      result = r;
      loop.quit();
    };
    probe.start();
    if (fw && update.start(*fw) && update.running()) loop.exec();
    out.updateMs = probe.stopMs();
    out.updateOver = probe.overLimit();
    ok = result == FirmwareUpdate::Result::Done;
    if (!ok) std::fprintf(stderr, "bench_eventloop: the firmware update failed\n");
  }
  link.abortWaits();
  port.close();
  sim.terminate();
  sim.waitForFinished(3000);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::size_t kib = 4;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--kib") == 0) kib = static_cast<std::size_t>(std::atoi(argv[i + 1]));
  if (kib < 1 || kib > 63) {
    std::fprintf(stderr, "bench_eventloop: --kib takes 1..63\n");
    return 2;
  }
  int rc = 0;
  for (const bool blocking : {false, true}) {
    Figures f;
    if (!measure(blocking, kib, f)) rc = 1;
    std::printf("%-36s longest block: download %6.1f ms (%d over 20 ms), firmware update (%zu KiB) %6.1f ms "
                "(%d over 20 ms)\n",
                blocking ? "writes on the event-loop thread:" : "writes on the port's writer thread:", f.downloadMs,
                f.downloadOver, kib, f.updateMs, f.updateOver);
    std::fflush(stdout);
  }
  return rc;
}

// Firmware update of a 16 KiB image against dovu-sim --baud-pace (a real 4800 bit/s line).  Prints
// the time from the restart frame "B" to the end frame "K" and its ratio to the least possible
// time: every block frame (133 bytes) and every acknowledgement (1 byte) on the wire at 4800 bit/s,
// 10 bits a byte, plus the two 2000 ms pauses.  Target: ratio at most 1.05.
//
//   bench_flash [--kib N]
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <cstring>

#include "common.h"
#include "firmware/bootloader.h"
#include "link/serialport.h"
#include "link/link.h"
#include "storage/checkedfile.h"

using namespace dovu;
using bench::cpuSeconds;
using bench::kSecondsPerByte;

namespace {

constexpr std::size_t kBlockFrameBytes = 4 + 1 + kFirmwareBlockSize;  // header, number, block, checksum

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::size_t kib = 16;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], "--kib") == 0) kib = static_cast<std::size_t>(std::atoi(argv[i + 1]));
  if (kib < 1 || kib > 63) {
    std::fprintf(stderr, "bench_flash: --kib takes 1..63\n");
    return 2;
  }

  QTemporaryDir dir;
  QProcess sim;
  const QString portName = bench::startPacedSim(
      sim, dir, {QStringLiteral("--image-out"), dir.filePath(QStringLiteral("image.bin"))}, "bench_flash");
  if (portName.isEmpty()) return 1;

  Bytes image(kib * 1024, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 151 + i / 97) & 0xFF);
  Bytes file = "dvf" + image;
  file.push_back(static_cast<char>(xorChecksum(file, file.size())));

  const auto fw = checkFirmwareFile(file);
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
  const double cpu0 = cpuSeconds();
  QEventLoop loop;
  auto result = FirmwareUpdate::Result::Busy;
  update.onFinished = [&](FirmwareUpdate::Result r) {
    result = r;
    loop.quit();
  };
  if (update.start(*fw) && update.running()) loop.exec();
  const double cpu = cpuSeconds() - cpu0;

  int rc = 0;
  if (result != FirmwareUpdate::Result::Done || restartAt < 0 || endAt < 0) {
    std::fprintf(stderr, "bench_flash: the transfer failed\n");
    rc = 1;
  } else {
    const std::size_t blocks = firmwareBlocks(fw->image).size();
    const double seconds = static_cast<double>(endAt - restartAt) / 1e9;
    const double least = static_cast<double>(blocks * (kBlockFrameBytes + 1)) * kSecondsPerByte +
                         (kBootloaderStartMs + kBeforeEndMs) / 1000.0;
    // The simulator hands each acknowledgement over at the start of its byte slot, one byte time
    // sooner than a real line would complete it.
    const double simLeast = least - static_cast<double>(blocks) * kSecondsPerByte;
    std::printf("flash %zu KiB: %zu blocks in %.3f s, least possible %.3f s, ratio %.3f "
                "(%.3f against the simulator's own least %.3f s); "
                "%.4f s per block against %.4f s on the wire; CPU %.3f s\n",
                kib, blocks, seconds, least, seconds / least, seconds / simLeast, simLeast,
                (seconds - (kBootloaderStartMs + kBeforeEndMs) / 1000.0) / static_cast<double>(blocks),
                static_cast<double>(kBlockFrameBytes + 1) * kSecondsPerByte, cpu);
  }
  std::fflush(stdout);

  QObject::disconnect(&link, &Link::frameTraced, nullptr, nullptr);
  port.close();  // the request of "K" ended once its bytes had left
  sim.terminate();
  sim.waitForFinished(3000);
  return rc;
}

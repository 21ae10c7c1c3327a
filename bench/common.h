#pragma once
// Shared by the benchmarks that run against dovu-sim --baud-pace: the wire time of one byte, the
// process's processor time, and starting the paced simulator.
#include <sys/resource.h>

#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdio>

#include "exchange/transfer.h"

namespace dovu::bench {

// One byte on a 4800 bit/s line: start bit, 8 data bits, stop bit.
constexpr double kSecondsPerByte = 10.0 / 4800.0;

// User and system time this process has used so far.
inline double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Starts dovu-sim paced like a real line, unadvertised (its advert folder is inside `dir`), with
// `extraArgs` after the pacing options.  Returns the port it answers on; on failure says why on
// stderr, prefixed with `who`, and returns an empty string.
inline QString startPacedSim(QProcess& sim, const QTemporaryDir& dir, const QStringList& extraArgs,
                             const char* who) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DOVU_SIM_DIR"), dir.filePath(QStringLiteral("advert")));
  sim.setProcessEnvironment(env);
  sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  sim.start(QStringLiteral(DOVU_SIM_PATH),
            QStringList{QStringLiteral("--baud-pace"), QStringLiteral("--no-advertise")} + extraArgs);
  if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
    std::fprintf(stderr, "%s: cannot start %s\n", who, DOVU_SIM_PATH);
    return {};
  }
  const QString line = QString::fromUtf8(sim.readLine()).trimmed();
  if (!line.startsWith(QLatin1String("PORT "))) {
    std::fprintf(stderr, "%s: unexpected first line from the simulator: %s\n", who, qPrintable(line));
    return {};
  }
  return line.mid(5);
}

// Runs an upload or a download to its end in an event loop of its own; true when it completed.  A
// transfer that ends inside its start has already said so before the loop would wait.
// upload: what to send; null downloads.
inline bool runTransferToEnd(ConfigTransfer& transfer, const Configuration* upload) {
  QEventLoop loop;
  bool ok = false, ended = false;
  const auto connection = QObject::connect(&transfer, &ConfigTransfer::finished, &loop, [&](bool result) {
    ok = result;
    ended = true;
    loop.quit();
  });
  if ((upload ? transfer.startUpload(*upload) : transfer.startDownload()) && !ended) loop.exec();
  QObject::disconnect(connection);
  return ok;
}

}  // namespace dovu::bench

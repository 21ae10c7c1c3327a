// dovu-cli status --csv against the simulated controller: one row per status record it sent.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QProcess>
#include <csignal>

#include "base/bytes.h"
#include "support/sim.h"

namespace dovu {
namespace {

int word(const Bytes& f, std::size_t at) { return byteAt(f, at) | byteAt(f, at + 1) << 8; }

// The cells a record's payload must give, worked out from its bytes (payload starts at frame byte 3).
QStringList expectedCells(const Bytes& frame) {
  const auto p = [&frame](std::size_t i) { return static_cast<std::size_t>(3 + i); };
  const auto fixed = [](double v) { return QString::number(v, 'f', 1); };
  const int t1 = word(frame, p(8)), t2 = word(frame, p(10)), h = word(frame, p(13)), t3 = word(frame, p(15));
  const int rssi = byteAt(frame, p(3));
  return {
      t1 ? fixed((t1 * 2500 / 1024 - 500) / 10.0) : QString(),
      t2 ? fixed((t2 * 2500 / 1024 - 500) / 10.0) : QString(),
      t3 == 65000 ? QString() : fixed((t3 & 0x8000 ? -(t3 & 0x7FFF) : t3) / 10.0),
      h > 64000 ? QString() : fixed(h / 10.0),
      fixed(byteAt(frame, p(7)) / 10.0),
      fixed(byteAt(frame, p(6)) / 10.0),
      rssi == 99 ? QString() : QString::number(rssi),
  };
}

TEST(CliStatusCsv, RowsEqualTheRecordsTheSimulatorSent) {
  test::SimProcess sim;
  ASSERT_TRUE(sim.started());
  QProcess cli;
  cli.start(QStringLiteral(DOVU_CLI_PATH), {QStringLiteral("status"), QStringLiteral("--port"), sim.port(),
                                           QStringLiteral("--password"), QStringLiteral("8617"), QStringLiteral("--csv")});
  ASSERT_TRUE(cli.waitForStarted());
  // A few records, then SIGINT: the stream ends after the logout.
  QByteArray out;
  QDeadlineTimer deadline(30000);
  while (out.count('\n') < 4 && !deadline.hasExpired() && cli.state() == QProcess::Running) {
    cli.waitForReadyRead(500);
    out += cli.readAllStandardOutput();
  }
  ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ASSERT_TRUE(cli.waitForFinished(10000));
  EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
  out += cli.readAllStandardOutput();

  QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 4);
  const QStringList header = lines.takeFirst().split(QLatin1Char(','));
  EXPECT_EQ(header.size(), 8);
  EXPECT_EQ(header.first(), QStringLiteral("time"));

  std::vector<Bytes> records;
  for (const test::LoggedFrame& f : sim.frames())
    if (!f.fromPc && f.code() == 253) records.push_back(f.bytes);
  ASSERT_EQ(static_cast<std::size_t>(lines.size()), records.size());
  bool sawNoSignal = false;
  for (int i = 0; i < lines.size(); ++i) {
    QStringList cells = lines.at(i).split(QLatin1Char(','));
    ASSERT_EQ(cells.size(), 8) << lines.at(i).toStdString();
    const QDateTime when = QDateTime::fromString(cells.takeFirst(), Qt::ISODate);
    EXPECT_TRUE(when.isValid()) << lines.at(i).toStdString();
    EXPECT_LT(std::abs(when.secsTo(QDateTime::currentDateTime())), 60);
    EXPECT_EQ(cells, expectedCells(records[static_cast<std::size_t>(i)])) << lines.at(i).toStdString();
    sawNoSignal |= cells.last().isEmpty();
  }
  // The modem reports no level in its first seconds: that reading is an empty cell.
  EXPECT_TRUE(sawNoSignal);
}

}  // namespace
}  // namespace dovu

// dovu-cli ports and status against the simulated controller, including its fault modes.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "support/sim.h"
#include "support/testapp.h"
#include "support/tool.h"

using dovu::test::SimProcess;

namespace {

using CliResult = dovu::test::ToolResult;

CliResult cli(const QStringList& args, const QString& simDir = {}) {
  QProcessEnvironment env;
  if (!simDir.isEmpty()) env.insert(QStringLiteral("DOVU_SIM_DIR"), simDir);
  return dovu::test::runCli(args, env);
}

}  // namespace

TEST(CliPorts, ListsTheAdvertisedSimulator) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  const CliResult r = cli({QStringLiteral("ports")}, sim.dir() + QStringLiteral("/advert"));
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(sim.port() + QLatin1Char('\t'))) << r.out.toStdString();
}

TEST(CliStatus, PrintsTheRecordInWords) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  const CliResult r = cli({QStringLiteral("status"), QStringLiteral("--port"), sim.port(), QStringLiteral("--trace")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  for (const char* key : {"IN1: ", "OUT4: ", "GSM modem: ", "GSM signal: ", "DC: ", "EX: ", "T1: ", "T3: ", "Humidity: "})
    EXPECT_TRUE(r.out.contains(QString::fromUtf8(key))) << key;
  // The trace shows login, poll and logout in both directions; the password's digits stay out of
  // it, its length and check byte do not.
  EXPECT_TRUE(r.err.contains(QStringLiteral("-> code   1: 54 01 04 ** ** ** ** 2F"))) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(QStringLiteral("38 36 31 37"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("<- code 253:")));
  EXPECT_TRUE(r.err.contains(QStringLiteral("-> code   2: 54 02 01 57 AE")));
}

TEST(CliStatus, SurvivesLineFaults) {
  for (const QStringList& fault : {QStringList{QStringLiteral("--split")}, QStringList{QStringLiteral("--noise")},
                                   QStringList{QStringLiteral("--drop-code"), QStringLiteral("253:1")},
                                   QStringList{QStringLiteral("--short-answer"), QStringLiteral("253:1")}}) {
    SimProcess sim(fault);
    ASSERT_TRUE(sim.started());
    const CliResult r = cli({QStringLiteral("status"), QStringLiteral("--port"), sim.port()});
    EXPECT_EQ(r.code, 0) << fault.join(' ').toStdString() << ": " << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("GSM modem: "))) << fault.join(' ').toStdString();
  }
}

// A record garbled on the line into 18 other bytes (every byte inverted: signal level 156, T1 far
// beyond its converter) is refused, not printed as readings; the next good one is shown again.
TEST(CliStatus, ARecordWithImpossibleReadingsIsRefused) {
  SimProcess sim({QStringLiteral("--garbled-answer"), QStringLiteral("253:1")});
  ASSERT_TRUE(sim.started());
  CliResult r = cli({QStringLiteral("status"), QStringLiteral("--port"), sim.port(), QStringLiteral("--csv"),
                     QStringLiteral("--once")});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("status record refused: GSM signal level 156"))) << r.err.toStdString();
  EXPECT_EQ(r.out.count(QLatin1Char('\n')), 1) << "the header alone: " << r.out.toStdString();
  r = cli({QStringLiteral("status"), QStringLiteral("--port"), sim.port(), QStringLiteral("--json"), QStringLiteral("--once")});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
}

TEST(CliStatus, ErrorsGiveOneLineReasons) {
  CliResult r = cli({QStringLiteral("status"), QStringLiteral("--port"), QStringLiteral("/dev/no-such-dovu-port")});
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("no such port"))) << r.err.toStdString();

  SimProcess refusing({QStringLiteral("--refuse-password")});
  r = cli({QStringLiteral("status"), QStringLiteral("--port"), refusing.port()});
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("wrong password"))) << r.err.toStdString();
  EXPECT_EQ(r.err.trimmed().count(QLatin1Char('\n')), 0) << r.err.toStdString();

  // A login answer that is neither yes nor no is not a wrong password.
  SimProcess garbled({QStringLiteral("--garbled-answer"), QStringLiteral("1")});
  r = cli({QStringLiteral("status"), QStringLiteral("--port"), garbled.port()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("not understood"))) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(QStringLiteral("wrong password"))) << r.err.toStdString();

  // A second program on a port in use is told so (root included), and the first one goes on.
  {
    SimProcess held;
    QProcess first;
    first.start(QStringLiteral(DOVU_CLI_PATH), {QStringLiteral("status"), QStringLiteral("--port"), held.port(),
                                                QStringLiteral("--json")});
    ASSERT_TRUE(dovu::test::waitFor([&] { return first.canReadLine(); }, 10000));
    r = cli({QStringLiteral("status"), QStringLiteral("--port"), held.port()});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("the port is in use by another program"))) << r.err.toStdString();
    first.readAll();
    ASSERT_TRUE(dovu::test::waitFor([&] { return first.canReadLine(); }, 5000)) << "the first program goes on";
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitCode(), 0);
  }

  SimProcess silent({QStringLiteral("--silent")});
  r = cli({QStringLiteral("status"), QStringLiteral("--port"), silent.port()});
  EXPECT_NE(r.code, 0);
  EXPECT_TRUE(r.err.contains(QStringLiteral("no answer"))) << r.err.toStdString();
  EXPECT_EQ(r.err.trimmed().count(QLatin1Char('\n')), 0) << r.err.toStdString();

  // A controller unplugged under a running command: one line in the user's words, exit 1.
  for (const char* command : {"status", "download"}) {
    SimProcess unplugging({QStringLiteral("--unplug-after"), QStringLiteral("4")});
    QStringList args{QString::fromLatin1(command), QStringLiteral("--port"), unplugging.port()};
    args << (args.first() == QLatin1String("status") ? QStringList{QStringLiteral("--json")}
                                                     : QStringList{QStringLiteral("-o"), unplugging.dir() + QStringLiteral("/c.json")});
    r = cli(args);
    EXPECT_EQ(r.code, 1) << command;
    const QString errors = r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:")).join(QLatin1Char('\n'));
    EXPECT_TRUE(errors.contains(QStringLiteral("the device was unplugged"))) << command << ": " << r.err.toStdString();
    EXPECT_EQ(errors.count(QLatin1Char('\n')), 0) << command << ": " << r.err.toStdString();
    EXPECT_FALSE(r.err.contains(QStringLiteral("function failed"))) << command << ": " << r.err.toStdString();
  }

  r = cli({QStringLiteral("status")});
  EXPECT_EQ(r.code, 2);
}

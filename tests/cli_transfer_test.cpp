// dovu-cli download and upload against the simulated controller: the round trip, and files that
// are refused before the port is touched.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "support/sim.h"
#include "support/tool.h"

using dovu::test::SimProcess;

namespace {

using CliRun = dovu::test::ToolResult;
using dovu::test::runCli;

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int setFrames(const SimProcess& sim) {
  int n = 0;
  for (const auto& f : sim.framesFromPc()) n += f.code() >= 5 && f.code() <= 105 && f.code() % 2;
  return n;
}

}  // namespace

TEST(CliTransfer, DownloadUploadDownloadRoundTrip) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  const QString a = dir.filePath("a.json"), b = dir.filePath("b.json");

  CliRun r = runCli({"download", "--port", sim.port(), "-o", a});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("] 100%"))) << r.err.toStdString();
  const auto held = sim.dump();

  r = runCli({"upload", "--port", sim.port(), a});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("] 51/51"))) << r.err.toStdString();
  EXPECT_EQ(setFrames(sim), 51);
  EXPECT_EQ(sim.dump(), held);

  r = runCli({"download", "--port", sim.port(), "--password", "8617", "-o", b});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_FALSE(readAll(a).isEmpty());
  EXPECT_EQ(readAll(a), readAll(b));
}

TEST(CliTransfer, BadFilesAndUsageAreRefusedBeforeTheLine) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  const QString good = dir.filePath("good.json");
  ASSERT_EQ(runCli({"download", "--port", sim.port(), "-o", good}).code, 0);
  const std::size_t framesBefore = sim.framesFromPc().size();

  QByteArray text = readAll(good);
  text.replace("\"BoxCA\": true", "\"BoxCA\": 1");
  const QString bad = dir.filePath("bad.json");
  {
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  CliRun r = runCli({"upload", "--port", sim.port(), bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("BoxCA"))) << r.err.toStdString();
  // Number fields as strings beyond a byte or no number at all: refused by every command.  A text
  // longer than the controller keeps still shows and converts, but is never sent.
  struct Edit {
    const char* field;
    const char* value;
    bool fileOk;
  };
  for (const Edit& e : {Edit{"Edit_LimitSMS", "\"300\"", false}, Edit{"EditT1opu", "\"999999999\"", false},
                        Edit{"IleTest", "\"abc\"", false}, Edit{"Edit_pin", "\"12345678\"", true}}) {
    const QByteArray edited = QString::fromUtf8(readAll(good))
                                  .replace(QRegularExpression(QStringLiteral("\"%1\": [^,\n]*").arg(e.field)),
                                           QStringLiteral("\"%1\": %2").arg(e.field, e.value))
                                  .toUtf8();
    const QString path = dir.filePath(QStringLiteral("%1.json").arg(e.field));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(edited);
    f.close();
    for (const QStringList& args : {QStringList{"show", path}, QStringList{"convert", path, dir.filePath("out.dvc")},
                                    QStringList{"upload", "--port", sim.port(), path}}) {
      r = runCli(args);
      const bool refused = !e.fileOk || args.first() == QLatin1String("upload");
      EXPECT_EQ(r.code, refused ? 1 : 0) << e.field << " " << args.first().toStdString();
      EXPECT_TRUE(!refused || r.err.contains(QLatin1String(e.field))) << r.err.toStdString();
    }
  }
  r = runCli({"upload", "--port", sim.port(), dir.filePath("absent.json")});
  EXPECT_EQ(r.code, 1);
  r = runCli({"download", "--port", sim.port(), "-o", dir.filePath("x.txt")});
  EXPECT_EQ(r.code, 2);
  r = runCli({"download", "--port", sim.port()});
  EXPECT_EQ(r.code, 2);
  // A file that could not be saved is found before the transfer, not after it.
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.json")));
  for (const QString& target : {QStringLiteral("/nonexistent/x.json"), dir.filePath(QStringLiteral("folder.json")),
                                QStringLiteral("/proc/version.json")}) {
    r = runCli({"download", "--port", sim.port(), "-o", target});
    EXPECT_EQ(r.code, 1) << target.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
  }
  EXPECT_EQ(sim.framesFromPc().size(), framesBefore);

  // A controller that stops answering: the upload fails with the controller's message.
  SimProcess silent({"--silent-from", "9"});
  ASSERT_TRUE(silent.started());
  r = runCli({"upload", "--port", silent.port(), good});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("Brak odpowiedzi z Sterownika DOVU"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("upload stopped after 2 of 51"))) << r.err.toStdString();
  EXPECT_EQ(r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:")).size(), 1) << r.err.toStdString();
}

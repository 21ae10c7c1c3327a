// dovu-cli provision against several simulated controllers at once: a table with bad cells sends
// nothing; a seeded series where one controller goes silent mid-upload, one adapter is pulled out
// and there are more sites than ports, checked against what every simulator holds.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <random>

#include "model/configuration.h"
#include "model/params.h"
#include "model/params.h"
#include "model/sensors.h"
#include "storage/configjson.h"
#include "storage/sitetable.h"
#include "support/sim.h"
#include "support/tool.h"

using dovu::test::SimProcess;
using dovu::test::runCli;

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  f.write(bytes);
}

// The parameter payloads a configuration puts on the wire, by read code.
std::map<int, dovu::Bytes> payloads(const dovu::Configuration& config) {
  std::map<int, dovu::Bytes> out;
  for (const dovu::ParamDef& p : dovu::paramTable()) out[p.readCode] = dovu::encodeParameter(config, p);
  return out;
}

std::map<int, dovu::Bytes> held(const SimProcess& sim) {
  std::map<int, dovu::Bytes> out;
  for (const auto& [code, bytes] : sim.dump()) out[code] = bytes;
  return out;
}

// The results table's rows by site.
std::map<QString, QStringList> results(const QString& path) {
  QString why;
  const auto rows = dovu::parseCsv(readAll(path), &why);
  EXPECT_TRUE(rows && !rows->empty()) << why.toStdString();
  std::map<QString, QStringList> out;
  if (rows)
    for (std::size_t i = 1; i < rows->size(); ++i) out[(*rows)[i].cells.value(0)] = (*rows)[i].cells;
  return out;
}

QProcessEnvironment backupsIn(const QTemporaryDir& dir) {
  QProcessEnvironment env;
  env.insert(QStringLiteral("XDG_DATA_HOME"), dir.filePath(QStringLiteral("data")));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
  return env;
}

QString cell(const QString& text) {
  if (!text.contains(u';') && !text.contains(u'"') && text == text.trimmed()) return text;
  return QLatin1Char('"') + QString(text).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + QLatin1Char('"');
}

}  // namespace

TEST(CliProvision, BadCellsAreNamedAndNothingIsSent) {
  SimProcess a, b;
  ASSERT_TRUE(a.started() && b.started());
  QTemporaryDir dir;
  const QString templ = dir.filePath("t.json");
  ASSERT_EQ(runCli({"download", "--port", a.port(), "-o", templ}).code, 0);
  const auto framesBefore = a.framesFromPc().size();
  const auto heldA = held(a), heldB = held(b);

  // One good site among faults of every kind; ',' separated, the way some spreadsheets save.  The
  // last column has its earlier name.
  const QString sites = dir.filePath("sites.csv");
  writeAll(sites,
           "site,telephones[0],miniCa,outputs[0].drivenBy,limits.sms,sensors.t1.min,password,Edit_IN1A\n"
           "good,+48601000001,tak,3,5,120,1234,Wejście\n"
           "bad1,+48 601,maybe,9,256,-1,12a4,\"日 sign\"\n"
           "good,,,,,,,\n"
           ",+48601000003,,,,,,\n"
           "short,+48601000004\n");
  const auto r = runCli({"provision", "--template", templ, "--sites", sites, "--port", a.port(), "--port", b.port()},
                        backupsIn(dir));
  EXPECT_EQ(r.code, 1);
  for (const char* fault : {"line 3, column telephones[0]", "line 3, column miniCa", "line 3, column outputs[0].drivenBy",
                            "line 3, column limits.sms", "line 3, column sensors.t1.min",
                            "line 3, column password", "line 3, column Edit_IN1A", "line 4, column site",
                            "line 5, column site", "line 6: 2 cells"})
    EXPECT_TRUE(r.err.contains(QLatin1String(fault))) << fault << "\n" << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("nothing was sent")) << r.err.toStdString();
  EXPECT_EQ(a.framesFromPc().size(), framesBefore);
  EXPECT_TRUE(b.framesFromPc().empty());
  EXPECT_EQ(held(a), heldA);
  EXPECT_EQ(held(b), heldB);

  // A column no field answers to, a group of fields and one field under two names are named too,
  // with the line and the place.
  writeAll(sites, "site;Edit_Tel9;telephones;SensorSettings.T1Min;sensors.t1.min\nx;1;2;3;4\n");
  const auto unknown = runCli({"provision", "--template", templ, "--sites", sites, "--port", a.port()}, backupsIn(dir));
  EXPECT_EQ(unknown.code, 1);
  for (const char* fault : {"line 1, column 2: no configuration field is named \"Edit_Tel9\"",
                            "line 1, column 3: \"telephones\" names 8 fields, a column one (such as \"telephones[0]\")",
                            "line 1, column 5: \"sensors.t1.min\" is named twice"})
    EXPECT_TRUE(unknown.err.contains(QLatin1String(fault))) << fault << "\n" << unknown.err.toStdString();
  EXPECT_TRUE(b.framesFromPc().empty());
}

// Five controllers: three healthy, one that falls silent after the 19th parameter's set frame, one
// whose adapter goes away after 80 answers; six sites, so the last has no port.  Then a second run
// with --only-failed on fresh controllers does the rest.  The simulators' dumps are the oracle.
TEST(CliProvision, SeriesHoldsWhatTheReportSays) {
  const unsigned seed = qEnvironmentVariableIsSet("DOVU_PROVISION_SEED")
                            ? qEnvironmentVariable("DOVU_PROVISION_SEED").toUInt() : 2812u;
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

  std::vector<std::unique_ptr<SimProcess>> sims;
  const QStringList modes[] = {{}, {"--silent-from", "41"}, {}, {"--unplug-after", "80"}, {}};
  for (const QStringList& m : modes) {
    sims.push_back(std::make_unique<SimProcess>(m));
    ASSERT_TRUE(sims.back()->started());
  }
  QTemporaryDir dir;
  const QString templPath = dir.filePath("t.json");
  ASSERT_EQ(runCli({"download", "--port", sims[0]->port(), "-o", templPath}).code, 0);
  QString why;
  auto read = dovu::configFromJsonText(readAll(templPath), &why);
  ASSERT_TRUE(read) << why.toStdString();
  dovu::Configuration templ = *read;
  templ.telephones[1] = "+48700800900";  // every site gets this from the template
  writeAll(templPath, dovu::configToJsonText(templ));

  // Random overrides, some cells empty; texts with the separator, quotes and Polish letters.
  const QString letters = QStringLiteral("aąbcćeęlłnńoóśzźżAĄŁŻ ;\"-1");
  std::vector<dovu::Configuration> meant;
  // Spreadsheets on Windows end lines with CR LF.
  const QString eol = pick(0, 1) ? QStringLiteral("\r\n") : QStringLiteral("\n");
  // Current names and two earlier ones, as a table written before may have them.
  QString csv = QStringLiteral("\xFEFFsite;telephones[0];Edit_IN1A;miniCa;outputs[0].drivenBy;SensorSettings.T1Min") + eol;
  const std::size_t t1Min = static_cast<std::size_t>(dovu::sensorNamed(QStringLiteral("sensors.t1.min"))->byte);
  for (int s = 0; s < 6; ++s) {
    dovu::Configuration c = templ;
    const QString name = QStringLiteral("Obiekt %1").arg(s + 1);
    QString tel = QStringLiteral("+48");
    for (int i = 0; i < 9; ++i) tel += QChar(u'0' + pick(0, 9));
    QString text;
    for (int i = pick(1, 12); i > 0; --i) text += letters.at(pick(0, static_cast<int>(letters.size()) - 1));
    text = text.trimmed().isEmpty() ? QStringLiteral("x") : text;
    const bool box = pick(0, 1);
    const int combo = pick(-1, 8), t1 = pick(0, 255);
    const bool keepText = pick(0, 3) == 0, keepBox = pick(0, 3) == 0;
    c.telephones[0] = tel;
    if (!keepText) c.inputs[0].alarmText = text;
    if (!keepBox) c.miniCa = box;
    c.outputs[0].drivenBy = combo;
    c.thresholds.bytes[t1Min] = static_cast<std::uint8_t>(t1);
    meant.push_back(c);
    csv += QStringList{cell(name), tel, keepText ? QString() : cell(text), keepBox ? QString() : (box ? "tak" : "nie"),
                       QString::number(combo), QString::number(t1)}
               .join(u';') + eol;
  }
  const QString sites = dir.filePath("sites.csv");
  writeAll(sites, csv.toUtf8());
  std::vector<std::map<int, dovu::Bytes>> before;
  for (const auto& sim : sims) before.push_back(held(*sim));

  const QString report = dir.filePath("results.csv"), sheets = dir.filePath("sheets");
  QStringList args{"provision", "--template", templPath, "--sites", sites, "--report", report, "--sheets", sheets};
  for (const auto& sim : sims) args << "--port" << sim->port();
  const auto r = runCli(args, backupsIn(dir));
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  auto rows = results(report);
  ASSERT_EQ(rows.size(), 6u) << readAll(report).toStdString();

  for (int s = 0; s < 5; ++s) {
    const QStringList row = rows[QStringLiteral("Obiekt %1").arg(s + 1)];
    ASSERT_EQ(row.size(), 6) << s;
    EXPECT_EQ(row[1], sims[static_cast<std::size_t>(s)]->port());
    EXPECT_TRUE(r.out.contains(QStringLiteral("Obiekt %1: %2 %3").arg(s + 1).arg(row[1], row[2]))) << r.out.toStdString();
    const auto want = payloads(meant[static_cast<std::size_t>(s)]);
    const auto got = held(*sims[static_cast<std::size_t>(s)]);
    if (s == 1 || s == 3) {
      // Failed alone, saying what the controller holds: the first k parameters new, the one
      // after them either, the rest as they were.
      EXPECT_EQ(row[2], "failed") << row.join('|').toStdString();
      const auto m = QRegularExpression(QStringLiteral("parameters 1–(\\d+) written, (\\d+) uncertain, (\\d+)–51 unchanged"))
                         .match(row[5]);
      ASSERT_TRUE(m.hasMatch()) << row[5].toStdString();
      const int written = m.captured(1).toInt();
      EXPECT_EQ(m.captured(2).toInt(), written + 1);
      if (s == 1) {
        EXPECT_EQ(written, 18);  // silent from the 19th set frame (code 41)
      }
      int place = 0;
      for (const dovu::ParamDef& p : dovu::paramTable()) {
        ++place;
        const auto& old = before[static_cast<std::size_t>(s)].at(p.readCode);
        if (place <= written) {
          EXPECT_EQ(got.at(p.readCode), want.at(p.readCode)) << place;
        } else if (place == written + 1) {
          EXPECT_TRUE(got.at(p.readCode) == want.at(p.readCode) || got.at(p.readCode) == old) << place;
        } else {
          EXPECT_EQ(got.at(p.readCode), old) << place;
        }
      }
      EXPECT_FALSE(QFile::exists(QDir(sheets).filePath(QStringLiteral("Obiekt %1.pdf").arg(s + 1))));
    } else {
      EXPECT_EQ(row[2], "verified") << row.join('|').toStdString();
      EXPECT_FALSE(row[4].isEmpty());  // the backup's number
      EXPECT_EQ(got, want) << s;
      // The sheet shows the telephone the controller holds.
      QProcess text;
      text.start("pdftotext", {QDir(sheets).filePath(QStringLiteral("Obiekt %1.pdf").arg(s + 1)), "-"});
      if (text.waitForStarted(5000) && text.waitForFinished(20000)) {
        EXPECT_TRUE(QString::fromUtf8(text.readAllStandardOutput()).contains(meant[static_cast<std::size_t>(s)].telephones[0]));
      }
    }
  }
  EXPECT_EQ(rows["Obiekt 6"][2], "not started");
  EXPECT_TRUE(r.out.contains("3 of 6 sites verified, 2 failed, 1 not started")) << r.out.toStdString();

  // The second run: fresh controllers for the three sites that are left; the report keeps the rest.
  std::vector<std::unique_ptr<SimProcess>> fresh;
  QStringList again{"provision", "--template", templPath, "--sites", sites, "--report", report, "--only-failed", report};
  for (int i = 0; i < 3; ++i) {
    fresh.push_back(std::make_unique<SimProcess>());
    ASSERT_TRUE(fresh.back()->started());
    again << "--port" << fresh.back()->port();
  }
  const auto r2 = runCli(again, backupsIn(dir));
  EXPECT_EQ(r2.code, 0) << r2.out.toStdString() << r2.err.toStdString();
  rows = results(report);
  ASSERT_EQ(rows.size(), 6u);
  for (const auto& [name, row] : rows) EXPECT_EQ(row.value(2), "verified") << name.toStdString();
  const int rest[] = {1, 3, 5};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[QStringLiteral("Obiekt %1").arg(rest[i] + 1)][1], fresh[static_cast<std::size_t>(i)]->port());
    EXPECT_EQ(held(*fresh[static_cast<std::size_t>(i)]), payloads(meant[static_cast<std::size_t>(rest[i])]));
  }
}

// The production line: --ports auto --wait takes each controller as its simulator appears, and
// SIGINT ends the series with a report in which the sites not reached were not started.
TEST(CliProvision, WaitTakesEachPortAsItAppearsUntilSigint) {
  QTemporaryDir dir;
  const QString adverts = dir.filePath("adverts"), templ = dir.filePath("t.json"), sites = dir.filePath("s.csv"),
                report = dir.filePath("r.csv");
  {
    SimProcess source;
    ASSERT_TRUE(source.started());
    ASSERT_EQ(runCli({"download", "--port", source.port(), "-o", templ}).code, 0);
  }
  writeAll(sites, "site,telephones[0]\nA,+48601000001\nB,+48601000002\nC,+48601000003\n");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DOVU_SIM_DIR", adverts);
  const QProcessEnvironment backups = backupsIn(dir);
  for (const QString& k : backups.keys()) env.insert(k, backups.value(k));
  QProcess cli;
  cli.setProcessEnvironment(env);
  cli.start(QStringLiteral(DOVU_CLI_PATH),
            {"provision", "--template", templ, "--sites", sites, "--ports", "auto", "--wait", "--report", report});
  ASSERT_TRUE(cli.waitForStarted(5000));
  QString out;
  const auto waitForLines = [&](int n) {
    QDeadlineTimer deadline(30000);
    while (out.count(u'\n') < n && !deadline.hasExpired()) {
      cli.waitForReadyRead(200);
      out += QString::fromUtf8(cli.readAllStandardOutput());
    }
    return out.count(u'\n') >= n;
  };
  // Two controllers plugged in one after the other, each taking the next site.
  std::vector<std::unique_ptr<QProcess>> sims;
  QStringList ports;
  for (int i = 0; i < 2; ++i) {
    sims.push_back(std::make_unique<QProcess>());
    sims.back()->setProcessEnvironment(env);
    sims.back()->start(QStringLiteral(DOVU_SIM_PATH), {"--dump", dir.filePath(QStringLiteral("dump%1.txt").arg(i))});
    ASSERT_TRUE(sims.back()->waitForStarted(5000) && sims.back()->waitForReadyRead(5000));
    ports << QString::fromUtf8(sims.back()->readLine()).trimmed().mid(5);
    ASSERT_TRUE(waitForLines(i + 1)) << out.toStdString() << cli.readAllStandardError().toStdString();
  }
  ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
  ASSERT_TRUE(cli.waitForFinished(20000));
  out += QString::fromUtf8(cli.readAllStandardOutput());
  EXPECT_EQ(cli.exitCode(), 128 + SIGINT) << out.toStdString();
  const auto rows = results(report);
  ASSERT_EQ(rows.size(), 3u) << readAll(report).toStdString();
  EXPECT_EQ(rows.at("A").value(1), ports[0]);
  EXPECT_EQ(rows.at("A").value(2), "verified");
  EXPECT_EQ(rows.at("B").value(1), ports[1]);
  EXPECT_EQ(rows.at("B").value(2), "verified");
  EXPECT_EQ(rows.at("C").value(2), "not started");
  EXPECT_TRUE(out.contains("2 of 3 sites verified, 1 not started")) << out.toStdString();
  for (auto& sim : sims) {
    sim->terminate();
    sim->waitForFinished(3000);
  }
}

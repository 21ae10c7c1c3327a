// dovu-cli download and upload against the simulated controller: the round trip, and files that
// are refused before the port is touched.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

#include "model/configuration.h"
#include "model/params.h"
#include "storage/backupstore.h"
#include "storage/checkedfile.h"
#include "storage/configdiff.h"
#include "storage/configfile.h"
#include "support/jsonpath.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/tool.h"

using dovu::test::SimProcess;

namespace {

using CliRun = dovu::test::ToolResult;
using dovu::test::runCli;

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes an edited configuration back as a JSON file; false when the file cannot be written.
bool writeJson(const QString& path, const QJsonObject& json) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(QJsonDocument(json).toJson()) > 0;
}

// The JSON file from, with each field (by its JSON name) set to its value, written to to.
bool writeEdited(const QString& from, const QString& to,
                 std::initializer_list<std::pair<const char*, QJsonValue>> edits) {
  QJsonObject json = QJsonDocument::fromJson(readAll(from)).object();
  for (const auto& [field, value] : edits) json = dovu::test::withJsonAt(json, QLatin1String(field), value);
  return writeJson(to, json);
}

// A downloaded file's fields; its meta object (which holds the time of the download) apart.
QJsonObject fieldsOf(const QString& path, QJsonObject* meta = nullptr) {
  QJsonObject o = QJsonDocument::fromJson(readAll(path)).object();
  if (meta) *meta = o.value("meta").toObject();
  o.remove("meta");
  return o;
}

// Writes a firmware file of n image bytes (byte i is i * step) with its check byte; its bytes.
dovu::Bytes writeFirmware(const QString& path, int n, int step) {
  dovu::Bytes fw = "dvf";
  for (int i = 0; i < n; ++i) fw.push_back(static_cast<char>(i * step));
  fw.push_back(static_cast<char>(dovu::xorChecksum(fw, fw.size())));
  QFile w(path);
  EXPECT_TRUE(w.open(QIODevice::WriteOnly)) << path.toStdString();
  w.write(fw.data(), static_cast<qint64>(fw.size()));
  return fw;
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
  QJsonObject meta;
  EXPECT_FALSE(fieldsOf(a, &meta).isEmpty());
  EXPECT_EQ(fieldsOf(a), fieldsOf(b));
  EXPECT_TRUE(meta.value("program").toString().startsWith(QLatin1String("dovu-konfig "))) << meta.size();
}

TEST(CliTransfer, BadFilesAndUsageAreRefusedBeforeTheLine) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  const QString good = dir.filePath("good.json");
  ASSERT_EQ(runCli({"download", "--port", sim.port(), "-o", good}).code, 0);
  const std::size_t framesBefore = sim.framesFromPc().size();

  QByteArray text = readAll(good);
  text.replace("\"miniCa\": true", "\"miniCa\": 1");
  const QString bad = dir.filePath("bad.json");
  {
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
  }
  CliRun r = runCli({"upload", "--port", sim.port(), bad});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("miniCa"))) << r.err.toStdString();
  // Numbers beyond a byte or no number at all: refused by every command.  A text longer than the
  // controller keeps still shows and converts, but is never sent.
  struct Edit {
    const char* field;
    QJsonValue value;
    bool fileOk;
  };
  for (const Edit& e : {Edit{"limits.sms", 300, false}, Edit{"sensors.t1.delay", 999999999, false},
                        Edit{"autoTest.hours", QStringLiteral("abc"), false}, Edit{"pin", QStringLiteral("12345678"), true}}) {
    const QByteArray edited =
        QJsonDocument(dovu::test::withJsonAt(QJsonDocument::fromJson(readAll(good)).object(), QLatin1String(e.field), e.value))
            .toJson();
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
  EXPECT_TRUE(r.err.contains(QStringLiteral("no answer from the controller"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("upload stopped after 2 of 51"))) << r.err.toStdString();
  EXPECT_EQ(r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:")).size(), 1) << r.err.toStdString();
}

namespace {

// Starts dovu-cli, sends it sig once cond holds, and collects how it ended.
CliRun interrupt(const QStringList& args, int sig, const std::function<bool()>& cond) {
  QProcess p;
  p.start(QStringLiteral(DOVU_CLI_PATH), args);
  CliRun r;
  if (!p.waitForStarted(10000)) return r;
  const bool reached = dovu::test::waitFor(cond, 60000);
  ::kill(static_cast<pid_t>(p.processId()), sig);
  if (!p.waitForFinished(20000)) {
    p.kill();
    p.waitForFinished();
  }
  r.code = reached && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

}  // namespace

// SIGINT or SIGTERM in the middle of an upload: the exchange under way finishes, the session logs
// out, and one line says which parameters the controller now holds, which the controller confirms.
// The same for a flash: the controller stays in its bootloader, and the update run again recovers it.
TEST(CliTransfer, ASignalEndsTheTransferSayingWhatTheControllerHolds) {
  QTemporaryDir dir;
  // The new configuration, and what a controller holds once it is uploaded whole.
  SimProcess reference;
  ASSERT_TRUE(reference.started());
  const QString file = dir.filePath("new.json");
  ASSERT_EQ(runCli({"download", "--port", reference.port(), "-o", file}).code, 0);
  ASSERT_TRUE(writeEdited(file, file,
                          {{"pin", QStringLiteral("4321")}, {"inputs[0].alarmText", QStringLiteral("Nowy")},
                           {"telephones[7]", QStringLiteral("+48123")}, {"limits.sms", 7}}));
  const CliRun up = runCli({"upload", "--port", reference.port(), file});
  ASSERT_EQ(up.code, 0) << up.err.toStdString();
  const auto whole = reference.dump();

  for (const int sig : {SIGINT, SIGTERM}) {
    SimProcess sim({"--baud-pace", "--delay", "20"});
    ASSERT_TRUE(sim.started());
    const auto old = sim.dump();
    ASSERT_NE(old, whole);
    const CliRun r = interrupt({"upload", "--port", sim.port(), file}, sig, [&] { return setFrames(sim) >= 20; });
    ASSERT_EQ(r.code, 128 + sig) << r.err.toStdString();
    const QStringList lines = r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:"));
    ASSERT_EQ(lines.size(), 1) << r.err.toStdString();
    const auto m = QRegularExpression(QStringLiteral("parameters 1–(\\d+) written, (\\d+)–51 unchanged$")).match(lines[0]);
    ASSERT_TRUE(m.hasMatch()) << lines[0].toStdString();
    const int written = m.captured(1).toInt();
    EXPECT_EQ(m.captured(2).toInt(), written + 1);
    EXPECT_GE(written, 20);
    const auto now = sim.dump();
    ASSERT_EQ(now.size(), whole.size());
    for (std::size_t i = 0; i < now.size(); ++i)
      EXPECT_EQ(now[i], static_cast<int>(i) < written ? whole[i] : old[i]) << "parameter " << i + 1;
    const auto frames = sim.framesFromPc();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().code(), 2) << "the session logged out last";
    // The port is free again, the line usable.
    EXPECT_EQ(runCli({"download", "--port", sim.port(), "-o", dir.filePath("after.json")}).code, 0);
  }

  // A flash interrupted half-way leaves the controller in its bootloader; the update again
  // recovers it.
  SimProcess sim({"--baud-pace"});
  ASSERT_TRUE(sim.started());
  const QString fwPath = dir.filePath("fw.dvf");
  const dovu::Bytes fw = writeFirmware(fwPath, 3000, 7);
  auto blocks = [&] {
    int n = 0;
    for (const auto& fr : sim.framesFromPc()) n += fr.code() == 101;
    return n;
  };
  CliRun r = interrupt({"flash", "--port", sim.port(), fwPath}, SIGINT, [&] { return blocks() >= 5; });
  EXPECT_EQ(r.code, 130) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("stays in its bootloader"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("running the update again"))) << r.err.toStdString();
  EXPECT_FALSE(QFile::exists(sim.imagePath()));
  r = runCli({"flash", "--no-backup", "--port", sim.port(), fwPath});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  ASSERT_TRUE(dovu::test::waitFor([&] { return QFile::exists(sim.imagePath()); }, 5000));
  dovu::Bytes expected = fw.substr(3, 3000);
  expected.resize(24 * 128, static_cast<char>(0xFF));
  const QByteArray image = readAll(sim.imagePath());
  EXPECT_EQ(dovu::Bytes(image.constData(), static_cast<std::size_t>(image.size())), expected);
}

// A controller that answers just slowly enough for a transfer to outlast its --time-limit: the
// command stops between two parameters, logs out and says in one line what the controller holds;
// a limit the transfer stays within changes nothing.
TEST(CliTransfer, ATimeLimitStopsTheCommandSayingWhatTheControllerHolds) {
  QTemporaryDir dir;
  SimProcess reference;
  ASSERT_TRUE(reference.started());
  const QString file = dir.filePath("new.json");
  ASSERT_EQ(runCli({"download", "--port", reference.port(), "-o", file}).code, 0);
  ASSERT_TRUE(writeEdited(file, file, {{"telephones[7]", QStringLiteral("+48123")}, {"pin", QStringLiteral("4321")}}));
  ASSERT_EQ(runCli({"upload", "--no-backup", "--port", reference.port(), file}).code, 0);
  const auto whole = reference.dump();

  SimProcess sim({"--baud-pace", "--delay", "60"});
  ASSERT_TRUE(sim.started());
  const auto old = sim.dump();
  const QString out = dir.filePath("out.json");
  const auto oneLine = [](const CliRun& r) { return r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:")); };
  QElapsedTimer clock;
  clock.start();
  CliRun r = runCli({"download", "--time-limit", "2", "--port", sim.port(), "-o", out});
  EXPECT_LT(clock.elapsed(), 6000);
  ASSERT_EQ(r.code, 1) << r.err.toStdString();
  ASSERT_EQ(oneLine(r).size(), 1) << r.err.toStdString();
  EXPECT_TRUE(oneLine(r)[0].contains(QStringLiteral("time limit of 2 s"))) << r.err.toStdString();
  EXPECT_FALSE(QFile::exists(out));
  EXPECT_EQ(sim.framesFromPc().back().code(), 2) << "the session logged out last";

  clock.restart();
  r = runCli({"upload", "--no-backup", "--time-limit=2", "--port", sim.port(), file});
  EXPECT_LT(clock.elapsed(), 6000);
  ASSERT_EQ(r.code, 1) << r.err.toStdString();
  ASSERT_EQ(oneLine(r).size(), 1) << r.err.toStdString();
  const auto m = QRegularExpression(QStringLiteral("time limit of 2 s: .*parameters 1–(\\d+) written, (\\d+)–51 unchanged$"))
                     .match(oneLine(r)[0]);
  ASSERT_TRUE(m.hasMatch()) << r.err.toStdString();
  const int written = m.captured(1).toInt();
  EXPECT_EQ(m.captured(2).toInt(), written + 1);
  const auto now = sim.dump();
  ASSERT_EQ(now.size(), whole.size());
  for (std::size_t i = 0; i < now.size(); ++i)
    EXPECT_EQ(now[i], static_cast<int>(i) < written ? whole[i] : old[i]) << "parameter " << i + 1;

  r = runCli({"download", "--time-limit", "60", "--port", sim.port(), "-o", out});
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  for (const char* bad : {"0", "1.5", "soon"})
    EXPECT_EQ(runCli({"download", "--time-limit", bad, "--port", sim.port(), "-o", out}).code, 2) << bad;
}

// A signal while a login is under way (the controller answers it after 0.6 s): every command that
// opens the port ends within seconds with 128 + the signal's number and one line, after a logout,
// and the line is free again.  The stop was pending when the transfer started, whose end then came
// before its event loop waited for it: the tool hung for good.
TEST(CliTransfer, ASignalDuringALoginEndsEveryCommandInOrder) {
  QTemporaryDir dir;
  SimProcess sim({"--delay-code", "1:600"});
  ASSERT_TRUE(sim.started());
  const QString file = dir.filePath("held.json"), fw = dir.filePath("fw.dvf");
  ASSERT_EQ(runCli({"download", "--port", sim.port(), "-o", file}).code, 0);
  ASSERT_EQ(runCli({"upload", "--port", sim.port(), file}).code, 0);  // backup 1, for the restore
  writeFirmware(fw, 300, 3);
  const auto logins = [&] {
    int n = 0;
    for (const auto& f : sim.framesFromPc()) n += f.code() == 1;
    return n;
  };
  struct Case {
    QStringList args;
    int login;  // which login of the command the signal meets
  };
  const std::vector<Case> cases = {
      {{"download", "--port", sim.port(), "-o", dir.filePath("x.json")}, 1},
      {{"upload", "--port", sim.port(), file}, 1},  // the backup's login
      {{"upload", "--port", sim.port(), file}, 2},  // its own
      {{"upload", "--no-backup", "--port", sim.port(), file}, 1},
      {{"flash", "--port", sim.port(), fw}, 1},
      {{"backups", "restore", "1", "--port", sim.port()}, 2},
      {{"diff", "port:" + sim.port(), file}, 1},
      {{"report", "port:" + sim.port(), "-o", dir.filePath("r.pdf")}, 1},
  };
  const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  const auto held = sim.dump();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const int sig = kSignals[i % 3];
    const std::string name = cases[i].args.join(' ').toStdString() + " / signal " + std::to_string(sig);
    const int before = logins();
    const CliRun r = interrupt(cases[i].args, sig, [&] { return logins() >= before + cases[i].login; });
    ASSERT_EQ(r.code, 128 + sig) << name << ": " << r.err.toStdString();
    const QStringList lines = r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:"));
    EXPECT_EQ(lines.size(), 1) << name << ": " << r.err.toStdString();
    EXPECT_TRUE(lines.value(0).contains(QStringLiteral("interrupted"))) << name << ": " << r.err.toStdString();
    EXPECT_EQ(sim.framesFromPc().back().code(), 2) << name << ": the session logged out last";
    EXPECT_EQ(sim.dump(), held) << name;
  }
  EXPECT_FALSE(QFile::exists(dir.filePath("x.json")));
  EXPECT_FALSE(QFile::exists(dir.filePath("r.pdf")));
  EXPECT_EQ(runCli({"download", "--port", sim.port(), "-o", dir.filePath("after.json")}).code, 0);
}

// Every --only counts; a selective upload that fails names the fields it was given, each as
// written, uncertain or unchanged.
TEST(CliTransfer, EveryOnlyIsSentAndAFailureNamesTheFields) {
  QTemporaryDir dir;
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  const QString file = dir.filePath("new.json");
  ASSERT_EQ(runCli({"download", "--port", sim.port(), "-o", file}).code, 0);
  ASSERT_TRUE(writeEdited(file, file,
                          {{"telephones[0]", QStringLiteral("+48500100200")},
                           {"telephones[1]", QStringLiteral("+48500100300")},
                           {"telephones[2]", QStringLiteral("+48500100400")}}));
  const auto before = sim.dump();
  const int sets = setFrames(sim);
  CliRun r = runCli({"upload", "--no-backup", "--only", "telephones[0]", "--only", "Edit_Tel2,telephones[2]", "--port", sim.port(), file});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(setFrames(sim) - sets, 3);
  int changed = 0;
  const auto now = sim.dump();
  for (std::size_t i = 0; i < now.size(); ++i) changed += now[i] != before[i];
  EXPECT_EQ(changed, 3);

  // The controller stops answering at Edit_Tel2's set code.
  QString why;
  const auto tel2 = dovu::paramsHolding({QStringLiteral("Edit_Tel2")}, &why);
  ASSERT_TRUE(tel2 && tel2->size() == 1);
  SimProcess failing({"--silent-from", QString::number(dovu::paramTable()[tel2->front()].setCode())});
  ASSERT_TRUE(failing.started());
  r = runCli({"upload", "--no-backup", "--only", "Edit_Tel3", "--only", "Edit_Tel1", "--only", "Edit_Tel2", "--port",
              failing.port(), file});
  EXPECT_EQ(r.code, 1);
  const QStringList lines = r.err.split(QLatin1Char('\n')).filter(QStringLiteral("dovu-cli:"));
  ASSERT_EQ(lines.size(), 1) << r.err.toStdString();
  EXPECT_TRUE(lines[0].contains(QStringLiteral("Edit_Tel1 written; Edit_Tel2 uncertain; Edit_Tel3 unchanged")))
      << lines[0].toStdString();
}

TEST(CliBackup, EveryWriteKeepsWhatTheControllerHeldAndOneCommandPutsItBack) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  const QString original = dir.filePath("original.json"), edited = dir.filePath("edited.json");
  CliRun r = runCli({"download", "--port", sim.port(), "-o", original});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  QJsonObject meta;
  fieldsOf(original, &meta);
  EXPECT_EQ(meta.value("port").toString(), sim.port());
  EXPECT_FALSE(meta.value("firmware").toString().isEmpty());
  const auto held = sim.dump();

  // Two telephones changed: two parameters that differ.
  ASSERT_TRUE(writeEdited(original, edited,
                          {{"telephones[0]", QStringLiteral("+48500100200")},
                           {"telephones[1]", QStringLiteral("+48500100300")}}));
  const auto backupOf = [](const CliRun& run) {
    const auto m = QRegularExpression(QStringLiteral("backup (\\d+) keeps what the controller held: (.*)")).match(run.err);
    return m.hasMatch() ? m.captured(2).trimmed() : QString();
  };
  const auto changed = [&held](const std::vector<std::pair<int, dovu::Bytes>>& now) {
    std::vector<int> codes;
    for (std::size_t i = 0; i < now.size() && i < held.size(); ++i)
      if (now[i] != held[i]) codes.push_back(now[i].first);
    return codes;
  };

  // A selective upload sends the chosen field's parameter alone, after a backup of the controller.
  const int setsBefore = setFrames(sim);
  r = runCli({"upload", "--only", "Edit_Tel1", "--port", sim.port(), edited});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(setFrames(sim) - setsBefore, 1);
  EXPECT_EQ(changed(sim.dump()).size(), 1u);
  QString kept = backupOf(r);
  ASSERT_FALSE(kept.isEmpty()) << r.err.toStdString();
  EXPECT_EQ(runCli({"diff", kept, original}).code, 0) << "the backup is what the controller held";
  EXPECT_EQ(runCli({"upload", "--only", "Edit_Nothing", "--port", sim.port(), edited}).code, 2);

  // The whole file next, then the first backup back: the controller holds exactly what it held.
  r = runCli({"upload", "--port", sim.port(), edited});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(changed(sim.dump()).size(), 2u);
  r = runCli({"backups", "list"});
  EXPECT_EQ(r.out.count(QStringLiteral("before upload")), 2) << r.out.toStdString();
  r = runCli({"backups", "restore", "1", "--port", sim.port()});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(sim.dump(), held);
  EXPECT_FALSE(backupOf(r).isEmpty()) << "a restore is a write: what it replaced is kept too";

  // A flash keeps one too, with the firmware version the controller reported.
  writeFirmware(dir.filePath("fw.dvf"), 300, 1);
  r = runCli({"flash", "--port", sim.port(), dir.filePath("fw.dvf")});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  // Its news is a note, not an error line.
  EXPECT_TRUE(r.err.contains(QStringLiteral("\nupdate complete"))) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(QStringLiteral("dovu-cli: update complete"))) << r.err.toStdString();
  kept = backupOf(r);
  EXPECT_EQ(runCli({"diff", kept, original}).code, 0);
  r = runCli({"backups", "list"});
  EXPECT_TRUE(r.out.split(QLatin1Char('\n')).value(0).contains(QStringLiteral("before firmware update"))) << r.out.toStdString();
  EXPECT_TRUE(r.out.split(QLatin1Char('\n')).value(0).contains(meta.value("firmware").toString())) << r.out.toStdString();

  // A history that cannot be written stops the write before anything is sent.
  QFile blocker(dir.filePath("not-a-folder"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  QProcessEnvironment env;
  env.insert("XDG_DATA_HOME", blocker.fileName());
  const int setsNow = setFrames(sim);
  const auto now = sim.dump();
  r = runCli({"upload", "--port", sim.port(), edited}, env);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("upload not started: the backup could not be saved"))) << r.err.toStdString();
  EXPECT_EQ(setFrames(sim), setsNow);
  EXPECT_EQ(sim.dump(), now);
  r = runCli({"upload", "--no-backup", "--port", sim.port(), edited}, env);
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
}

// A restore from a history at its limit: the backup taken before it goes into the folder asked
// for and never rotates out the one being put back, so a restore that fails half-way can be run
// again.  Options may come before the action, as the usage shows; the index's texts print
// without control characters.
TEST(CliBackup, ARestoreKeepsItsSourceInTheFolderAsked) {
  dovu::test::app();
  QTemporaryDir dir;
  const QString folder = dir.filePath("history");
  SimProcess reference;
  ASSERT_TRUE(reference.started());
  const QString file = dir.filePath("held.json");
  ASSERT_EQ(runCli({"download", "--port", reference.port(), "-o", file}).code, 0);
  const CliRun converted = runCli({"convert", file, dir.filePath("held.dvc")});
  ASSERT_EQ(converted.code, 0) << converted.err.toStdString();
  // Backups 1 and 2 hold one configuration (a copy may go), 3 another; the limit is 3.
  dovu::BackupStore store(folder, 3);
  QString why;
  auto other = dovu::readConfigFile(dir.filePath("held.dvc"));
  ASSERT_TRUE(other);
  other->telephones[4] = QStringLiteral("+48999");
  ASSERT_TRUE(store.add(*other, dovu::BackupReason::BeforeUpload, QStringLiteral("/dev/tty\x1b]0;x\x07\nforged"), &why));
  ASSERT_TRUE(store.add(*other, dovu::BackupReason::BeforeUpload, QStringLiteral("p"), &why));
  ASSERT_TRUE(store.add(*other, dovu::BackupReason::BeforeUpload, QStringLiteral("p"), &why));

  // The controller stops answering half-way through the restore.
  SimProcess sim({"--silent-from", "41"});
  ASSERT_TRUE(sim.started());
  QProcessEnvironment env;
  env.insert("DOVU_BACKUP_LIMIT", "3");
  const std::size_t defaultBefore = dovu::BackupStore().list(&why).value_or(std::vector<dovu::BackupEntry>{}).size();
  CliRun r = runCli({"backups", "--folder", folder, "--port", sim.port(), "restore", "1"}, env);
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("restore stopped"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("backup 4 keeps"))) << r.err.toStdString();
  std::vector<int> numbers;
  const auto listed = store.list(&why);
  ASSERT_TRUE(listed) << why.toStdString();
  for (const dovu::BackupEntry& e : *listed) numbers.push_back(e.number);
  EXPECT_EQ(numbers, (std::vector<int>{4, 3, 1}));
  EXPECT_EQ(dovu::BackupStore().list(&why).value_or(std::vector<dovu::BackupEntry>{}).size(), defaultBefore);

  r = runCli({"backups", "--folder", folder, "list"});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_EQ(r.out.count(QLatin1Char('\n')), 3) << r.out.toStdString();
  EXPECT_FALSE(r.out.contains(QChar(0x1b))) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains(QStringLiteral("/dev/tty\\x1B]0;x\\x07\\x0Aforged"))) << r.out.toStdString();
}

// dovu-cli show / convert / diff / flash and .dvc files in download / upload, against files and
// the simulated controller.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <unistd.h>

#include "model/configuration.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "support/jsonpath.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/tool.h"

namespace dovu {
namespace {

using test::SimProcess;

using CliResult = test::ToolResult;

CliResult cli(const QStringList& args) { return test::runCli(args); }

Bytes readAll(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  const QByteArray a = f.readAll();
  return Bytes(a.constData(), static_cast<std::size_t>(a.size()));
}

void writeAll(const QString& path, const Bytes& data) {
  QFile f(path);
  f.open(QIODevice::WriteOnly);
  f.write(data.data(), static_cast<qint64>(data.size()));
}

// A configuration with a few values that differ from the window's defaults.
Bytes sampleFile() {
  Configuration c = defaultConfiguration();
  c.telephones[2] = QStringLiteral("+48600700800");
  c.inputs[1].alarmText = QStringLiteral("Drzwi otwarte – ż");
  c.matrix.voice[9][7] = true;  // EX, telephone 8
  c.miniCa = true;
  c.out1Siren = true;
  c.thresholds[SensorByte::T1Max] = 140;
  c.outputs[1].drivenBy = 3;
  c.sensors[1].delay = 15;
  QString why;
  return *buildConfigFile(c, &why);
}

TEST(CliFile, ShowConvertAndDiffFiles) {
  QTemporaryDir dir;
  const QString dvc = dir.filePath(QStringLiteral("a.dvc"));
  writeAll(dvc, sampleFile());

  const CliResult show = cli({QStringLiteral("show"), dvc});
  ASSERT_EQ(show.code, 0) << show.err.toStdString();
  EXPECT_TRUE(show.out.contains(QStringLiteral("Edit_Tel3                  \"+48600700800\"")));
  EXPECT_TRUE(show.out.contains(QStringLiteral("\"Drzwi otwarte – ż\"")));
  EXPECT_TRUE(show.out.contains(QStringLiteral("SensorSettings.T1Max       140 (+12)")));
  EXPECT_TRUE(show.out.contains(QStringLiteral("ComboOut2                  3 (T2 MIN)")));
  EXPECT_TRUE(show.out.contains(QStringLiteral("BoxCA yes")));
  EXPECT_TRUE(show.out.contains(QStringLiteral("voice: 8")));

  const CliResult json = cli({QStringLiteral("show"), dvc, QStringLiteral("--json")});
  ASSERT_EQ(json.code, 0);
  const QJsonObject o = QJsonDocument::fromJson(json.out.toUtf8()).object();
  EXPECT_EQ(dovu::test::jsonAt(o, QStringLiteral("telephones[2]")).toString(), QStringLiteral("+48600700800"));
  EXPECT_TRUE(dovu::test::jsonAt(o, QStringLiteral("matrix.voice.ex[7]")).toBool());

  // .dvc -> .json -> .dvc gives the same bytes.
  const QString js = dir.filePath(QStringLiteral("a.json")), back = dir.filePath(QStringLiteral("b.dvc"));
  ASSERT_EQ(cli({QStringLiteral("convert"), dvc, js}).code, 0);
  const CliResult conv = cli({QStringLiteral("convert"), js, back});
  ASSERT_EQ(conv.code, 0) << conv.err.toStdString();
  EXPECT_EQ(readAll(back), readAll(dvc));

  // diff: same configuration in either form, then one field and one matrix cell changed.
  const CliResult same = cli({QStringLiteral("diff"), dvc, js});
  EXPECT_EQ(same.code, 0);
  EXPECT_TRUE(same.out.isEmpty()) << same.out.toStdString();
  auto f = readConfigFile(dvc);
  ASSERT_TRUE(f);
  f->telephones[2] = QStringLiteral("+48111");
  f->matrix.sms[6][4] = true;  // T2, telephone 5
  const QString other = dir.filePath(QStringLiteral("c.dvc"));
  ASSERT_TRUE(saveConfigFile(*f, other));
  const CliResult d = cli({QStringLiteral("diff"), dvc, other});
  EXPECT_EQ(d.code, 1);
  EXPECT_EQ(d.out, QStringLiteral("Edit_Tel3: \"+48600700800\" | \"+48111\"\nBoxT2T5: no | yes\n"));

  // A refused file: the reason, and nothing written.
  Bytes bad = readAll(dvc);
  bad[10] = static_cast<char>(bad[10] ^ 4);
  writeAll(dvc, bad);
  const QString never = dir.filePath(QStringLiteral("never.json"));
  const CliResult refused = cli({QStringLiteral("convert"), dvc, never});
  EXPECT_EQ(refused.code, 1);
  EXPECT_TRUE(refused.err.contains(QStringLiteral("wrong check byte in the configuration file"))) << refused.err.toStdString();
  EXPECT_FALSE(QFile::exists(never));
  EXPECT_EQ(cli({QStringLiteral("convert"), js, dir.filePath(QStringLiteral("x.txt"))}).code, 2);
}

TEST(CliFile, NamesAsTheSystemGivesThemAndWhatConvertNormalises) {
  QTemporaryDir dir;
  // A file whose bytes differ from what its fields give back: a list index beyond its list and a
  // flag bit without a check box.
  QString why;
  const auto& items = configItems();
  auto values = *configValuesOf(defaultConfiguration(), &why);
  std::size_t choice = 0, flags = 0;
  int spareBit = -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].form == ConfigItemForm::Choice && std::string_view(items[i].field) == "outputs[0].drivenBy") choice = i;
    for (int b = 0; b < 8 && spareBit < 0; ++b)
      if (items[i].form == ConfigItemForm::Flags && !items[i].bits[static_cast<std::size_t>(b)]) {
        flags = i;
        spareBit = b;
      }
  }
  ASSERT_GE(spareBit, 0);
  values.values[choice] = Bytes(1, 12);
  values.values[flags][0] = static_cast<char>(values.values[flags][0] | (1 << spareBit));
  const Bytes odd = serializeConfig(values);

  // Names that are not UTF-8 are found and written by their own bytes.
  const QByteArray in = QFile::encodeName(dir.path()) + "/bad\xff.dvc";
  const QByteArray out = QFile::encodeName(dir.path()) + "/out\xfe.dvc";
  {
    QFile f;
    const int fd = ::open(in.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(f.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    f.write(odd.data(), static_cast<qint64>(odd.size()));
  }
  // QProcess hands arguments over as local 8-bit text, which cannot carry the bad bytes: go
  // through the shell, which passes them as they are.
  auto sh = [](const QByteArray& line) {
    return test::runTool(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(line)});
  };
  const QByteArray cli = "'" DOVU_CLI_PATH "' ";
  const QByteArray hexIn = "\"$(printf '" + QFile::encodeName(dir.path()) + "/bad\\377.dvc')\"";
  const QByteArray hexOut = "\"$(printf '" + QFile::encodeName(dir.path()) + "/out\\376.dvc')\"";
  const CliResult show = sh(cli + "show " + hexIn);
  EXPECT_EQ(show.code, 0) << show.err.toStdString();
  EXPECT_TRUE(show.out.contains(QStringLiteral("ComboOut1"))) << show.out.toStdString();

  // convert writes exactly the name asked for, and names each item it could not keep.
  const CliResult conv = sh(cli + "convert " + hexIn + " " + hexOut);
  EXPECT_EQ(conv.code, 0) << conv.err.toStdString();
  EXPECT_EQ(::access(out.constData(), F_OK), 0);
  EXPECT_TRUE(conv.err.contains(QStringLiteral("list index 12"))) << conv.err.toStdString();
  EXPECT_TRUE(conv.err.contains(QStringLiteral("ComboOut1"))) << conv.err.toStdString();
  EXPECT_TRUE(conv.err.contains(QStringLiteral("bits without a check box"))) << conv.err.toStdString();
  EXPECT_EQ(conv.err.count(QLatin1Char('\n')), 2) << conv.err.toStdString();
  // QTemporaryDir cannot spell these names to remove them.
  ::unlink(in.constData());
  ::unlink(out.constData());
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST(CliFile, DvcThroughTheController) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  const QString up = dir.filePath(QStringLiteral("up.dvc"));
  Bytes sample = sampleFile();
  writeAll(up, sample);
  // The sample keeps the default password 8617, which the simulator expects.
  const CliResult u = cli({QStringLiteral("upload"), QStringLiteral("--port"), sim.port(), up});
  ASSERT_EQ(u.code, 0) << u.err.toStdString();

  const CliResult d = cli({QStringLiteral("diff"), up, QStringLiteral("port:") + sim.port()});
  EXPECT_EQ(d.code, 0) << d.out.toStdString() << d.err.toStdString();

  const QString down = dir.filePath(QStringLiteral("down.dvc"));
  const CliResult g = cli({QStringLiteral("download"), QStringLiteral("--port"), sim.port(), QStringLiteral("-o"), down});
  ASSERT_EQ(g.code, 0) << g.err.toStdString();
  EXPECT_EQ(readAll(down), sample);
}

TEST(CliFlash, SendsTheImageWithAProgressBar) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  Bytes f = "dvf";
  for (int i = 0; i < 700; ++i) f.push_back(static_cast<char>(i * 31));
  f.push_back(static_cast<char>(xorChecksum(f, f.size())));
  const QString path = dir.filePath(QStringLiteral("fw.dvf"));
  writeAll(path, f);

  const CliResult r = cli({QStringLiteral("flash"), QStringLiteral("--port"), sim.port(), path});
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("] 100%"))) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("update complete")));
  ASSERT_TRUE(test::waitFor([&] { return QFile::exists(sim.imagePath()); }, 3000));
  Bytes expected = f.substr(3, 700);
  expected.resize(768, static_cast<char>(0xFF));
  EXPECT_EQ(readAll(sim.imagePath()), expected);

  // A file that fails the check never reaches the port.
  f[5] = static_cast<char>(f[5] ^ 1);
  writeAll(path, f);
  const CliResult bad = cli({QStringLiteral("flash"), QStringLiteral("--port"), QStringLiteral("/nonexistent"), path});
  EXPECT_EQ(bad.code, 1);
  EXPECT_TRUE(bad.err.contains(QStringLiteral("wrong check byte in the firmware file"))) << bad.err.toStdString();
  EXPECT_TRUE(bad.err.contains(path)) << bad.err.toStdString();
  EXPECT_EQ(bad.err.count(QLatin1Char('\n')), 1) << bad.err.toStdString();
  EXPECT_FALSE(bad.err.contains(QStringLiteral("no such port")));
}

}  // namespace
}  // namespace dovu

namespace dovu {
namespace {

// Runs a shell line: QProcess cannot hand over arguments whose bytes are not UTF-8, and ulimit
// applies to what the shell starts.
test::ToolResult sh(const QByteArray& line, int timeoutMs = 60000) {
  return test::runTool(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(line)}, {}, {},
                       timeoutMs);
}

QStringList filesIn(const QString& dir) {
  return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A save that cannot be written (a file size limit, a full disk) fails with the system's reason,
// the old file stays byte for byte, and no temporary file is left: convert and download -o.
TEST(CliFile, ASaveThatCannotBeWrittenKeepsTheOldFileWhole) {
  QTemporaryDir dir;
  const QString in = dir.filePath(QStringLiteral("in.dvc"));
  writeAll(in, sampleFile());
  const QString keep = dir.filePath(QStringLiteral("keep.json"));
  const Bytes old("{\"old\": true}\n");
  writeAll(keep, old);
  const QByteArray limited = "ulimit -f 1; exec '" DOVU_CLI_PATH "' ";  // 512 bytes: the JSON form is larger
  const QByteArray keepArg = " '" + QFile::encodeName(keep) + "'";

  auto r = sh(limited + "convert '" + QFile::encodeName(in) + "'" + keepArg);
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << r.err.toStdString();
  EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
  EXPECT_EQ(readAll(keep), old);
  EXPECT_EQ(filesIn(dir.path()), (QStringList{QStringLiteral("in.dvc"), QStringLiteral("keep.json")}));

  SimProcess sim;
  ASSERT_TRUE(sim.started());
  r = sh(limited + "download --port '" + QFile::encodeName(sim.port()) + "' -o" + keepArg);
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QString::fromLocal8Bit(std::strerror(EFBIG)))) << r.err.toStdString();
  EXPECT_EQ(readAll(keep), old);
  EXPECT_EQ(filesIn(dir.path()), (QStringList{QStringLiteral("in.dvc"), QStringLiteral("keep.json")}));

  // A really full file system: a small tmpfs, filled up (mounting needs root, as in CI).
  QTemporaryDir mountDir;
  const QByteArray mnt = QFile::encodeName(mountDir.path());
  if (::geteuid() != 0 || sh("mount -t tmpfs -o size=64k dovu-full '" + mnt + "'").code != 0)
    GTEST_SKIP() << "mounting a small tmpfs needs root";
  const QString full = mountDir.filePath(QStringLiteral("keep.json"));
  writeAll(full, old);
  sh("cat /dev/zero > '" + mnt + "/filler' 2>/dev/null");
  r = cli({QStringLiteral("convert"), in, full});
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << r.err.toStdString();
  EXPECT_EQ(readAll(full), old);
  EXPECT_EQ(filesIn(mountDir.path()), (QStringList{QStringLiteral("filler"), QStringLiteral("keep.json")}));
  sh("umount '" + mnt + "'");
}

// A name that is not UTF-8 takes the same path as any other: a read-only target is refused, a
// link is followed and stays a link, a FIFO is refused at once, a foreign file keeps its owner.
TEST(CliFile, NamesThatAreNotUtf8KeepTheSavingRules) {
  QTemporaryDir dir;
  const QByteArray d = QFile::encodeName(dir.path());
  const QString in = dir.filePath(QStringLiteral("in.dvc"));
  writeAll(in, sampleFile());
  const QByteArray convert = "'" DOVU_CLI_PATH "' convert '" + QFile::encodeName(in) + "' ";
  auto named = [&](const char* name) { return "\"$(printf '" + d + "/" + name + "')\""; };
  auto raw = [&](const char* name) { return d + "/" + QByteArray(name).replace("\\377", "\xff"); };
  auto bytesOf = [](const QByteArray& path) {
    QFile f;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return QByteArray("<none>");
    return f.readAll();
  };

  // Read-only: refused, unchanged.
  ASSERT_EQ(sh("printf old > " + named("ro\\377.json") + " && chmod 0444 " + named("ro\\377.json")).code, 0);
  auto r = sh(convert + named("ro\\377.json"));
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_EQ(bytesOf(raw("ro\\377.json")), QByteArray("old"));

  // A link: its target is written, the link stays.
  ASSERT_EQ(sh("printf old > " + named("target\\377.json") + " && ln -s " + named("target\\377.json") + " " +
               named("link\\377.json"))
                .code,
            0);
  r = sh(convert + named("link\\377.json"));
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  struct stat st {};
  ASSERT_EQ(::lstat(raw("link\\377.json").constData(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_TRUE(bytesOf(raw("target\\377.json")).startsWith("{"));

  // A FIFO: show and convert refuse it at once instead of waiting for a writer.
  ASSERT_EQ(::mkfifo(raw("fifo\\377.dvc").constData(), 0600), 0);
  r = sh("'" DOVU_CLI_PATH "' show " + named("fifo\\377.dvc"), 10000);
  EXPECT_EQ(r.code, 1) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("fifo\uFFFD.dvc"))) << r.err.toStdString();
  r = sh(convert + named("fifo\\377.dvc"), 10000);
  EXPECT_EQ(r.code, 1) << r.err.toStdString();

  if (::geteuid() == 0) {
    // Root saving over another user's file leaves it that user's.
    ASSERT_EQ(sh("printf old > " + named("theirs\\377.json") + " && chown 4321:4322 " + named("theirs\\377.json")).code,
              0);
    r = sh(convert + named("theirs\\377.json"));
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_EQ(::stat(raw("theirs\\377.json").constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  sh("rm -f '" + d + "'/*");
}

}  // namespace
}  // namespace dovu

namespace dovu {
namespace {

// A controller's text holding terminal escapes is shown escaped on a terminal by show and diff;
// show gives a pipe the text as it is, diff escapes there too (its lines are read by scripts, and a
// value must not forge one).  A file name in an error line is escaped as well.
TEST(CliFile, ControlCharactersAreEscapedOnATerminal) {
  QTemporaryDir dir;
  Configuration f = defaultConfiguration();
  f.inputs[0].alarmText = QStringLiteral("\x1b]0;owned\x07line\nforged\\");
  QString why;
  const QString odd = dir.filePath(QStringLiteral("odd.dvc")), plain = dir.filePath(QStringLiteral("plain.dvc"));
  writeAll(odd, *buildConfigFile(f, &why));
  writeAll(plain, *buildConfigFile(defaultConfiguration(), &why));
  const QString shown = QStringLiteral("\"\\x1B]0;owned\\x07line\\x0Aforged\\\\\"");
  for (const QStringList& args : {QStringList{QStringLiteral("show"), odd}, QStringList{QStringLiteral("diff"), plain, odd}}) {
    // script(1) gives the tool a terminal for its standard output.
    const auto r = test::runTool(QStringLiteral("script"),
                                 {QStringLiteral("-qec"), QStringLiteral("'" DOVU_CLI_PATH "' ") + args.join(QLatin1Char(' ')),
                                  QStringLiteral("/dev/null")});
    EXPECT_TRUE(r.out.contains(shown)) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QChar(0x1b))) << args.first().toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("\nforged"))) << args.first().toStdString();
    const bool diff = args.first() == QLatin1String("diff");
    const CliResult piped = cli(args);
    EXPECT_EQ(piped.out.contains(QStringLiteral("\x1b]0;owned\x07")), !diff) << args.first().toStdString();
    EXPECT_EQ(piped.out.contains(shown), diff) << piped.out.toStdString();
  }
  // A quote inside a value cannot close it early.
  Configuration q = defaultConfiguration();
  q.inputs[0].alarmText = QStringLiteral("a\" | \"b");
  const QString quotes = dir.filePath(QStringLiteral("quotes.dvc"));
  writeAll(quotes, *buildConfigFile(q, &why));
  EXPECT_TRUE(cli({QStringLiteral("diff"), plain, quotes}).out.contains(QStringLiteral("\"a\\\" | \\\"b\"")));
  const CliResult named = cli({QStringLiteral("show"), dir.filePath(QStringLiteral("no\nsuch\x1b.dvc"))});
  EXPECT_EQ(named.code, 1);
  EXPECT_EQ(named.err.count(QLatin1Char('\n')), 1) << named.err.toStdString();
  EXPECT_TRUE(named.err.contains(QStringLiteral("no\\x0Asuch\\x1B.dvc"))) << named.err.toStdString();
}

}  // namespace
}  // namespace dovu

// dovu-cli show / convert / diff / flash and .dvc files in download / upload, against files and
// the simulated controller.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "model/form.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
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
  Form f;
  f.setText("Edit_Tel3", QStringLiteral("+48600700800"));
  f.setText("Edit_IN2A", QStringLiteral("Drzwi otwarte – ż"));
  f.setChecked("BoxACS8", true);
  f.setChecked("BoxCA", true);
  f.setChecked("BoxOut1sygn", true);
  f.setSensor(SensorByte::T1Max, 140);
  f.setIndex("ComboOut2", 3);
  f.setText("EditT2opu", QStringLiteral("15"));
  QString why;
  return *buildConfigFile(f, &why);
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
  EXPECT_EQ(o.value(QStringLiteral("Edit_Tel3")).toString(), QStringLiteral("+48600700800"));
  EXPECT_TRUE(o.value(QStringLiteral("BoxACS8")).toBool());

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
  Form f;
  QString why;
  SilentNotifier silent;
  ASSERT_TRUE(loadConfigFile(f, dvc, silent));
  f.setText("Edit_Tel3", QStringLiteral("+48111"));
  f.setChecked("BoxT2T5", true);
  const QString other = dir.filePath(QStringLiteral("c.dvc"));
  ASSERT_TRUE(saveConfigFile(f, other, silent));
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
  EXPECT_TRUE(refused.err.contains(QString::fromUtf8(kBadCrcText))) << refused.err.toStdString();
  EXPECT_FALSE(QFile::exists(never));
  EXPECT_EQ(cli({QStringLiteral("convert"), js, dir.filePath(QStringLiteral("x.txt"))}).code, 2);
}

TEST(CliFile, NamesAsTheSystemGivesThemAndWhatConvertNormalises) {
  QTemporaryDir dir;
  // A file whose bytes differ from what its fields give back: a list index beyond its list and a
  // flag bit without a check box.
  QString why;
  const auto& items = configItems();
  auto values = *configFromForm(Form(), &why);
  std::size_t choice = 0, flags = 0;
  int spareBit = -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].form == ConfigItemForm::Choice && std::string_view(items[i].field) == "ComboOut1") choice = i;
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
  EXPECT_TRUE(r.err.contains(QStringLiteral("Aktualizacja zakończona")));
  ASSERT_TRUE(test::waitFor([&] { return QFile::exists(sim.imagePath()); }, 3000));
  Bytes expected = f.substr(3, 700);
  expected.resize(768, static_cast<char>(0xFF));
  EXPECT_EQ(readAll(sim.imagePath()), expected);

  // A file that fails the check never reaches the port.
  f[5] = static_cast<char>(f[5] ^ 1);
  writeAll(path, f);
  const CliResult bad = cli({QStringLiteral("flash"), QStringLiteral("--port"), QStringLiteral("/nonexistent"), path});
  EXPECT_EQ(bad.code, 1);
  EXPECT_TRUE(bad.err.contains(QString::fromUtf8(kBadCrcText)));
  EXPECT_FALSE(bad.err.contains(QStringLiteral("no such port")));
}

}  // namespace
}  // namespace dovu

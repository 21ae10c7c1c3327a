// dovu-cli report: the configuration sheet as a PDF, read back with poppler's pdftotext and pdfinfo.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "model/configuration.h"
#include "storage/configfile.h"
#include "support/sim.h"
#include "support/tool.h"

namespace dovu {
namespace {

constexpr const char* kPassword = "4729";
constexpr const char* kPin = "3051";

// Every text at its full length, Polish letters in each, every box ticked: the longest sheet.
Configuration fullLength() {
  static const QString polish = QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ zażółć gęślą jaźń");
  Configuration c = defaultConfiguration();
  int n = 0;
  for (const ConfigField& f : configFields()) {
    if (f.type == ConfigFieldType::Text && f.limit > 0 && (f.chars == TextChars::Any || f.chars == TextChars::NoSpace)) {
      // A number first makes each text its own; no space in a switching word.
      const QString t = QString::number(++n) + (f.chars == TextChars::NoSpace ? QStringLiteral("ż") : polish);
      setConfigValue(c, f, t.left(f.limit));
    } else if (f.type == ConfigFieldType::Flag) {
      setConfigValue(c, f, true);
    }
  }
  for (std::size_t t = 0; t < c.telephones.size(); ++t) c.telephones[t] = QStringLiteral("+486011122%1%1").arg(t + 1);
  c.password = QString::fromLatin1(kPassword);
  c.pin = QString::fromLatin1(kPin);
  for (Configuration::Output& o : c.outputs) o.drivenBy = 8;
  return c;
}

QString run(const QString& program, const QStringList& args) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000)) return {};
  return QString::fromUtf8(p.readAllStandardOutput());
}

QString squeezed(QString s) { return s.remove(QRegularExpression(QStringLiteral("\\s+"))); }

struct Sheet {
  int code = -1;
  QString err;
  QString text;  // pdftotext
  int pages = 0;
};

// dovu-cli report with no display at all: the command picks the offscreen platform itself.
Sheet report(const QStringList& args, const QString& pdf) {
  QProcessEnvironment env;
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
  env.insert(QStringLiteral("DISPLAY"), QString());
  env.insert(QStringLiteral("WAYLAND_DISPLAY"), QString());
  const auto r = test::runCli(QStringList{QStringLiteral("report")} + args + QStringList{QStringLiteral("-o"), pdf}, env);
  Sheet s{r.code, r.err, {}, 0};
  if (r.code != 0) return s;
  s.text = run(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
  const auto m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(run(QStringLiteral("pdfinfo"), {pdf}));
  s.pages = m.hasMatch() ? m.captured(1).toInt() : 0;
  return s;
}

TEST(CliReport, FullLengthSheetHoldsEveryPhoneAndInputTextOnTwoPagesAtMost) {
  QTemporaryDir dir;
  const Configuration c = fullLength();
  QString why;
  const auto file = buildConfigFile(c, &why);
  ASSERT_TRUE(file) << why.toStdString();
  const QString dvc = dir.filePath(QStringLiteral("pełna.dvc"));
  QFile out(dvc);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(file->data(), static_cast<qint64>(file->size()));
  out.close();

  const QString pdf = dir.filePath(QStringLiteral("karta.pdf"));
  const Sheet masked = report({dvc, QStringLiteral("--site"), QStringLiteral("Chłodnia Łódź")}, pdf);
  ASSERT_EQ(masked.code, 0) << masked.err.toStdString();
  EXPECT_GE(masked.pages, 1);
  EXPECT_LE(masked.pages, 2);
  const QString text = squeezed(masked.text);
  for (const QString& phone : c.telephones) EXPECT_TRUE(text.contains(phone)) << phone.toStdString();
  std::vector<Configuration::Input> inputs(c.inputs.begin(), c.inputs.end());
  inputs.push_back(c.dc);
  inputs.push_back(c.ex);
  for (const Configuration::Input& in : inputs)
    for (const QString& t : {in.alarmText, in.normalText})
      EXPECT_TRUE(text.contains(squeezed(t))) << t.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("ChłodniaŁódź")));
  EXPECT_FALSE(masked.text.contains(QLatin1String(kPassword)));
  EXPECT_FALSE(masked.text.contains(QLatin1String(kPin)));

  const Sheet shown = report({dvc, QStringLiteral("--show-secrets")}, pdf);
  ASSERT_EQ(shown.code, 0) << shown.err.toStdString();
  EXPECT_TRUE(shown.text.contains(QLatin1String(kPassword)));
  EXPECT_TRUE(shown.text.contains(QLatin1String(kPin)));
  EXPECT_LE(shown.pages, 2);
}

// From a controller: the sheet names the firmware version the login reported, and a sheet that
// cannot be saved fails before anything is sent.
TEST(CliReport, ControllerSheetNamesItsFirmwareAndUnwritableOutputFailsFirst) {
  test::SimProcess sim({QStringLiteral("--firmware-version"), QStringLiteral("5")});
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  const QString pdf = dir.filePath(QStringLiteral("karta.pdf"));
  const Sheet s = report({QStringLiteral("port:") + sim.port(), QStringLiteral("--password"), QStringLiteral("8617")}, pdf);
  ASSERT_EQ(s.code, 0) << s.err.toStdString();
  EXPECT_TRUE(s.text.contains(QStringLiteral("DOVU v 1.5"))) << s.text.toStdString();
  EXPECT_FALSE(s.text.contains(QStringLiteral("8617")));

  const std::size_t framesBefore = sim.framesFromPc().size();
  const Sheet bad = report({QStringLiteral("port:") + sim.port()}, dir.filePath(QStringLiteral("brak/karta.pdf")));
  EXPECT_EQ(bad.code, 1);
  EXPECT_FALSE(bad.err.isEmpty());
  EXPECT_EQ(sim.framesFromPc().size(), framesBefore);
}

}  // namespace
}  // namespace dovu

// dovu-cli report: the configuration sheet as a PDF, read back with poppler's pdftotext and pdfinfo.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <span>

#include "model/form.h"
#include "model/layout.h"
#include "storage/configfile.h"
#include "support/formfiles.h"
#include "support/sim.h"
#include "support/tool.h"

namespace dovu {
namespace {

constexpr const char* kPassword = "4729";
constexpr const char* kPin = "3051";

// Every text at its full length, Polish letters in each, every box ticked: the longest sheet.
Form& fillFullLength(Form& f) {
  static const QString polish = QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ zażółć gęślą jaźń");
  int n = 0;
  for (const FieldDef& d : Form::catalogue()) {
    const Form::Id id = Form::idOf(d.name);
    if ((d.kind == FieldKind::Text || d.kind == FieldKind::NoSpaceText) && d.maxLength > 0 &&
        d.marker != Marker::None) {
      // A number first makes each text its own; no space in a switching word.
      QString t = QString::number(++n) + (d.kind == FieldKind::NoSpaceText ? QStringLiteral("ż") : polish);
      f.setText(id, t.left(d.maxLength));
    } else if (d.kind == FieldKind::Check && d.marker != Marker::None) {
      f.setChecked(id, true);
    }
  }
  for (int t = 1; t <= kPhones; ++t)
    f.setText("Edit_Tel" + std::to_string(t), QStringLiteral("+486011122%1%1").arg(t));
  f.setText("Edit_haslo", QString::fromLatin1(kPassword));
  f.setText("Edit_pin", QString::fromLatin1(kPin));
  for (const char* out : {"ComboOut1", "ComboOut2", "ComboOut3", "ComboOut4"}) f.setIndex(out, 8);
  return f;
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
  Form f;
  fillFullLength(f);
  QString why;
  const auto file = buildConfigFile(f, &why);
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
  for (int t = 1; t <= kPhones; ++t) {
    const QString phone = f.text("Edit_Tel" + std::to_string(t));
    EXPECT_TRUE(text.contains(phone)) << phone.toStdString();
  }
  for (const std::span<const layout::InputRow> rows : {std::span<const layout::InputRow>(layout::kInputRows), std::span<const layout::InputRow>(layout::kSupplyRows)})
    for (const layout::InputRow& row : rows)
      for (const char* field : {row.active, row.inactive}) {
        const QString t = f.text(field);
        EXPECT_TRUE(text.contains(squeezed(t))) << field << ": " << t.toStdString();
      }
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

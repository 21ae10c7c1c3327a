// The sheet from the window: the options a person types in its dialog reach the PDF, and an
// export that cannot be saved says why.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/sim.h"
#include "support/uiapp.h"
#include "ui/reportui.h"

namespace dovu {
namespace {

QString pdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
  return p.waitForFinished(60000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

TEST(SheetFromWindow, TypedOptionsReachThePdfAndAFailedSaveSaysWhy) {
  test::uiApp("ui_report_test");
  ui::SheetOptionsDialog dialog(nullptr);
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  // Key events carrying their text, as a keyboard layout with Polish letters sends them.
  for (const QChar c : QStringLiteral("Piekarnia Żółw"))
    QTest::sendKeyEvent(QTest::Click, dialog.site(), Qt::Key_unknown, QString(c), Qt::NoModifier);
  QTest::mouseClick(dialog.secrets(), Qt::LeftButton);
  auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  QTest::mouseClick(ok, Qt::LeftButton);
  ASSERT_EQ(dialog.result(), QDialog::Accepted);
  const report::SheetOptions options = dialog.options();

  Configuration c = defaultConfiguration();
  c.password = QStringLiteral("5294");
  c.firmware = QStringLiteral("DOVU v 1.7");  // as a login tells it
  test::RecordingNotifier notes;
  QTemporaryDir dir;
  const QString pdf = dir.filePath(QStringLiteral("karta.pdf"));
  ASSERT_TRUE(ui::exportSheet(c, notes, pdf, options));
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral("Piekarnia Żółw"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("DOVU v 1.7")));
  EXPECT_TRUE(text.contains(QStringLiteral("5294")));  // asked for in the dialog
  EXPECT_TRUE(notes.events.empty());

  EXPECT_FALSE(ui::exportSheet(c, notes, dir.filePath(QStringLiteral("brak/karta.pdf")), options));
  ASSERT_EQ(notes.events.size(), 1u);
  EXPECT_EQ(notes.events.front().kind, MessageKind::Error);
  EXPECT_FALSE(notes.events.front().detail.isEmpty());
}

}  // namespace
}  // namespace dovu

// "Seria sterowników" driven by real input: a table with a bad cell offers nothing to start; a good
// table of three sites on two simulated controllers programs two, each holding what was meant (the
// simulators' dumps as the oracle), with a sheet each, and leaves the third not started.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

#include "ui/formview.h"
#include "ui/form.h"
#include "model/params.h"
#include "storage/configjson.h"
#include "support/formfiles.h"
#include "support/sim.h"
#include "support/uiapp.h"
#include "support/uiinput.h"
#include "ui/seriesdialog.h"

namespace {

dovu::Bytes fromHex(const QString& s) {
  dovu::Bytes b;
  for (const QString& h : s.split(' ', Qt::SkipEmptyParts)) b.push_back(static_cast<char>(h.toUInt(nullptr, 16)));
  return b;
}

// dovu-sim advertised where the window's port list looks (the test's own DOVU_SIM_DIR).
struct ListedSim {
  QTemporaryDir dir;
  QProcess proc;
  QString port;
  explicit ListedSim(const QStringList& extra = {}) {
    proc.start(QStringLiteral(DOVU_SIM_PATH), QStringList{"--dump", dir.filePath("dump.txt")} + extra);
    if (proc.waitForStarted(5000) && proc.waitForReadyRead(5000)) {
      const QString line = QString::fromUtf8(proc.readLine()).trimmed();
      if (line.startsWith("PORT ")) port = line.mid(5);
    }
  }
  ~ListedSim() {
    proc.terminate();
    proc.waitForFinished(3000);
  }
  std::map<int, dovu::Bytes> held() const {
    std::map<int, dovu::Bytes> out;
    QFile f(dir.filePath("dump.txt"));
    if (!f.open(QIODevice::ReadOnly)) return out;
    while (!f.atEnd()) {
      const QString line = QString::fromUtf8(f.readLine()).trimmed();
      const int sp = line.indexOf(' ');
      if (!line.isEmpty()) out[(sp < 0 ? line : line.left(sp)).toInt()] = sp < 0 ? dovu::Bytes() : fromHex(line.mid(sp + 1));
    }
    return out;
  }
};

std::map<int, dovu::Bytes> payloads(const dovu::Form& form) {
  std::map<int, dovu::Bytes> out;
  for (const dovu::ParamDef& p : dovu::paramTable()) out[p.readCode] = dovu::buildPayload(form, p);
  return out;
}

bool waitFor(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

void enterPath(QLineEdit* edit, const QString& path) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Delete);
  dovu::test::typeText(edit, path);
  QTest::keyClick(edit, Qt::Key_Return);
}

}  // namespace

TEST(SeriesDialog, ProgramsTwoSitesOnTwoPortsAndNamesBadCells) {
  dovu::test::uiApp("ui_series_test");
  QTemporaryDir home;
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
  ListedSim a, b;
  ASSERT_FALSE(a.port.isEmpty());
  ASSERT_FALSE(b.port.isEmpty());

  dovu::Form window;
  window.setText("Edit_Tel2", QStringLiteral("+48700800900"));  // the template: the window's configuration
  dovu::ui::SeriesDialog d(window, QString(), nullptr);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  auto* table = d.findChild<QLineEdit*>("TabelaSerii");
  auto* sites = d.findChild<QTableWidget*>("ObiektySerii");
  auto* start = d.findChild<QPushButton*>("RozpocznijSerie");
  auto* problem = d.findChild<QLabel*>("BladSerii");

  // A bad cell or a column naming a group of fields: named in Polish with its line and column, and
  // nothing can be started.
  QFile bad(home.filePath("bad.csv"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("site;telephones[0];miniCa;inputs[0]\nA;+48 601;nie;\nB;+48601;może;\n");
  bad.close();
  enterPath(table, bad.fileName());
  EXPECT_TRUE(problem->isVisible());
  EXPECT_TRUE(problem->text().contains(QStringLiteral("wiersz 2, kolumna telephones[0]: znak „ ” jest w tym polu niedozwolony")))
      << problem->text().toStdString();
  EXPECT_TRUE(problem->text().contains(QStringLiteral("wiersz 3, kolumna miniCa"))) << problem->text().toStdString();
  EXPECT_TRUE(problem->text().contains(QStringLiteral("wiersz 1, kolumna 4: „inputs[0]” oznacza grupę pól")))
      << problem->text().toStdString();
  EXPECT_EQ(sites->rowCount(), 0);
  EXPECT_FALSE(start->isEnabled());

  QFile good(home.filePath("sites.csv"));
  ASSERT_TRUE(good.open(QIODevice::WriteOnly));
  good.write("site;telephones[0];Edit_IN1A\nSklep 1;+48601000001;Włamanie A\nSklep 2;+48601000002;\nSklep 3;+48601000003;x\n");
  good.close();
  enterPath(table, good.fileName());
  EXPECT_FALSE(problem->isVisible());
  ASSERT_EQ(sites->rowCount(), 3);
  EXPECT_EQ(sites->item(0, 1)->text(), QStringLiteral("telephones[0]=+48601000001; Edit_IN1A=Włamanie A"));
  auto* ports = d.findChild<QListWidget*>("PortySerii");
  ASSERT_EQ(ports->count(), 2);
  const QStringList order{ports->item(0)->data(Qt::UserRole).toString(), ports->item(1)->data(Qt::UserRole).toString()};
  ASSERT_TRUE(order.contains(a.port) && order.contains(b.port));

  ASSERT_TRUE(start->isEnabled());
  QTest::mouseClick(start, Qt::LeftButton);
  auto* summary = d.findChild<QLabel*>("PodsumowanieSerii");
  ASSERT_TRUE(waitFor([&] { return summary->text().startsWith(QStringLiteral("Zweryfikowane")); }, 60000))
      << summary->text().toStdString();
  EXPECT_EQ(summary->text(), QStringLiteral("Zweryfikowane obiekty: 2 z 3."));
  EXPECT_TRUE(sites->item(2, 4)->text().startsWith(QStringLiteral("nie rozpoczęto"))) << sites->item(2, 4)->text().toStdString();

  // Each controller holds its site: the template with the row's values.
  const char* tel[] = {"+48601000001", "+48601000002"};
  for (int row = 0; row < 2; ++row) {
    EXPECT_TRUE(sites->item(row, 4)->text().startsWith(QStringLiteral("zweryfikowano"))) << sites->item(row, 4)->text().toStdString();
    dovu::Form meant;
    QString why;
    ASSERT_TRUE(dovu::configFromJson(meant, dovu::configToJson(window), &why)) << why.toStdString();
    meant.setText("Edit_Tel1", QString::fromLatin1(tel[row]));
    if (row == 0) meant.setText("Edit_IN1A", QStringLiteral("Włamanie A"));
    const ListedSim& sim = sites->item(row, 2)->text() == a.port ? a : b;
    EXPECT_EQ(sim.held(), payloads(meant)) << row;
    auto* sheet = d.findChild<QPushButton*>(QStringLiteral("KartaObiektu%1").arg(row + 1));
    ASSERT_NE(sheet, nullptr);
    EXPECT_TRUE(sheet->isEnabled());
  }
  EXPECT_EQ(d.findChild<QPushButton*>("KartaObiektu3"), nullptr);
  // The sheets go to a folder of the day.
  QStringList written;
  const QDir sheets(dovu::ui::SeriesDialog::sheetFolder());
  for (const QString& day : sheets.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
    written += QDir(sheets.filePath(day)).entryList({"*.pdf"}, QDir::Files);
  EXPECT_EQ(written, (QStringList{"Sklep 1.pdf", "Sklep 2.pdf"}));
  qunsetenv("XDG_DATA_HOME");
}

// Closing the dialog during a series stops it cleanly: controllers still being read are left as they
// were, and the dialog goes only once every exchange has ended.
TEST(SeriesDialog, ClosingDuringTheBackupWritesNothingAndWaitsForTheEnd) {
  dovu::test::uiApp("ui_series_test");
  QTemporaryDir home;
  qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
  ListedSim a({"--baud-pace"}), b({"--baud-pace"});
  ASSERT_FALSE(a.port.isEmpty());
  ASSERT_FALSE(b.port.isEmpty());
  const auto heldA = a.held(), heldB = b.held();

  dovu::Form window;
  auto* d = new dovu::ui::SeriesDialog(window, QString(), nullptr);
  d->setAttribute(Qt::WA_DeleteOnClose);
  QPointer<dovu::ui::SeriesDialog> alive(d);
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  QFile good(home.filePath("sites.csv"));
  ASSERT_TRUE(good.open(QIODevice::WriteOnly));
  good.write("site,telephones[0]\nA,+48601000001\nB,+48601000002\n");
  good.close();
  enterPath(d->findChild<QLineEdit*>("TabelaSerii"), good.fileName());
  auto* sites = d->findChild<QTableWidget*>("ObiektySerii");
  ASSERT_EQ(sites->rowCount(), 2);
  QTest::mouseClick(d->findChild<QPushButton*>("RozpocznijSerie"), Qt::LeftButton);
  // The paced backup read takes seconds: the close comes while both are being read.
  ASSERT_TRUE(waitFor([&] { return sites->item(0, 3)->text().startsWith(QStringLiteral("Kopia")) &&
                                   sites->item(1, 3)->text().startsWith(QStringLiteral("Kopia")); }, 10000));
  QTest::mouseClick(d->findChild<QPushButton*>("ZamknijSerie"), Qt::LeftButton);
  EXPECT_TRUE(d->isVisible());
  for (int row = 0; row < 2; ++row) EXPECT_TRUE(sites->item(row, 4)->text().isEmpty());
  ASSERT_TRUE(waitFor([&] { return alive.isNull(); }, 20000));
  EXPECT_EQ(a.held(), heldA);
  EXPECT_EQ(b.held(), heldB);
  qunsetenv("XDG_DATA_HOME");
}

// The "Wykres" panel: the records it keeps and draws, its redraw pace, and its two CSV controls.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QLineSeries>

#include <QAction>
#include <QDockWidget>

#include "support/sim.h"
#include "support/testapp.h"
#include "support/uiapp.h"
#include "ui/chartview.h"
#include "ui/mainwindow.h"

namespace dovu {
namespace {

using ui::ChartPanel;

StatusRecord record(int i) {
  StatusRecord s;
  s.t1Raw = static_cast<std::uint16_t>(300 + i % 50);
  s.t2Raw = 0;  // T2 not connected
  s.t3 = i % 2 ? 65000 : static_cast<std::uint16_t>(0x8000 | 15);  // every other T3 reading missing; -1.5 °C
  s.humidity = static_cast<std::uint16_t>(550 + i % 10);
  s.exVolts = 230;
  s.dcVolts = 135;
  s.rssi = i < 3 ? 99 : 17;
  return s;
}

QStringList lines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

TEST(ChartPanel, DrawsEachRecordOnceASecondAndThinsALongHistory) {
  test::uiApp("ui_chart_test");
  test::RecordingNotifier notes;
  ChartPanel panel(notes);
  panel.resize(800, 400);
  panel.show();
  const QDateTime start = QDateTime::currentDateTime();
  constexpr int kN = 40;
  for (int i = 0; i < kN; ++i) panel.addRecord(start.addSecs(i), record(i));
  // A burst of records is one redraw, within the second.
  QTRY_COMPARE_WITH_TIMEOUT(panel.series(0)->count(), kN, 3000);
  EXPECT_EQ(panel.redraws(), 1);
  EXPECT_EQ(panel.series(1)->count(), 0);       // T2 missing throughout
  EXPECT_EQ(panel.series(2)->count(), kN / 2);  // T3 missing in every other record
  EXPECT_DOUBLE_EQ(panel.series(2)->at(0).y(), -1.5);
  EXPECT_EQ(panel.series(6)->count(), kN - 3);  // no signal level in the first three
  EXPECT_DOUBLE_EQ(panel.series(4)->at(0).y(), 23.0);
  EXPECT_EQ(panel.series(0)->at(kN - 1).x(), static_cast<double>(start.addSecs(kN - 1).toMSecsSinceEpoch()));

  // A day of records a second apart: drawn thinned, the newest point always among them.
  for (int i = kN; i < 24 * 3600; ++i) panel.addRecord(start.addSecs(i), record(i));
  panel.redrawNow();
  EXPECT_LE(panel.series(0)->count(), ChartPanel::kMaxPoints + 1);
  EXPECT_GE(panel.series(0)->count(), ChartPanel::kMaxPoints / 2);
  EXPECT_EQ(panel.series(0)->at(panel.series(0)->count() - 1).x(),
            static_cast<double>(start.addSecs(24 * 3600 - 1).toMSecsSinceEpoch()));
  EXPECT_TRUE(notes.events.empty());
}

TEST(StatusHistory, KeepsTheLastDayAndDropsTheOldest) {
  StatusHistory h;
  const qint64 minute = 60'000;
  for (qint64 m = 0; m <= 25 * 60; ++m) h.add(m * minute, record(static_cast<int>(m)));
  ASSERT_EQ(h.size(), static_cast<std::size_t>(24 * 60 + 1));
  EXPECT_EQ(h.entries().front().msecs, 60 * minute);
  EXPECT_EQ(h.entries().back().msecs, 25 * 60 * minute);

  // Faster than expected: the count bound drops the oldest too.
  StatusHistory small(StatusHistory::kDaySpan, 100);
  for (int i = 0; i < 250; ++i) small.add(i, record(i));
  ASSERT_EQ(small.size(), 100u);
  EXPECT_EQ(small.entries().front().msecs, 150);

  // A clock set back starts anew rather than drawing time backwards.
  small.add(10, record(0));
  EXPECT_EQ(small.size(), 1u);
}

TEST(ChartPanel, SavesWhatItHoldsAndLogsEveryRecordWhileTicked) {
  test::uiApp("ui_chart_test");
  test::RecordingNotifier notes;
  ChartPanel panel(notes);
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  QTemporaryDir dir;
  const QString logPath = dir.filePath(QStringLiteral("log.csv"));
  const QString savePath = dir.filePath(QStringLiteral("saved.csv"));
  panel.askLogPath = [&] { return logPath; };
  panel.askSavePath = [&] { return savePath; };
  const QDateTime start = QDateTime::currentDateTime();

  panel.addRecord(start, record(0));  // before the log is on: not logged
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  ASSERT_TRUE(panel.logBox()->isChecked());
  for (int i = 1; i <= 3; ++i) panel.addRecord(start.addSecs(i), record(i));
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  ASSERT_FALSE(panel.logBox()->isChecked());
  panel.addRecord(start.addSecs(4), record(4));  // after: not logged
  QStringList logged = lines(logPath);
  ASSERT_EQ(logged.size(), 4);
  EXPECT_TRUE(logged.first().startsWith(QStringLiteral("czas,")));
  EXPECT_TRUE(logged.at(2).contains(QStringLiteral(",-1.5,"))) << logged.at(2).toStdString();

  // Ticked again: the same file grows, without a second header.
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  panel.addRecord(start.addSecs(5), record(5));
  logged = lines(logPath);
  ASSERT_EQ(logged.size(), 5);
  EXPECT_EQ(logged.filter(QStringLiteral("czas,")).size(), 1);

  QTest::mouseClick(panel.saveButton(), Qt::LeftButton);
  const QStringList saved = lines(savePath);
  ASSERT_EQ(saved.size(), 1 + 6);
  EXPECT_EQ(saved.mid(2, 3), logged.mid(1, 3));  // the same rows for the same records

  // A log that cannot be written unticks itself and says why.
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  ASSERT_FALSE(panel.logBox()->isChecked());
  panel.askLogPath = [&] { return dir.filePath(QStringLiteral("brak/log.csv")); };
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  EXPECT_FALSE(panel.logBox()->isChecked());
  EXPECT_EQ(notes.events.size(), 1u);

  // The log is private when new, keeps the mode of a file it extends, and never follows a link:
  // a planted one is refused and the file it points to stays as it was.
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(logPath).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  const QString shared = dir.filePath(QStringLiteral("shared.csv"));
  ASSERT_TRUE(QFile(shared).open(QIODevice::WriteOnly));
  ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0644), 0);
  panel.askLogPath = [&] { return shared; };
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  ASSERT_TRUE(panel.logBox()->isChecked());
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  ASSERT_EQ(::stat(QFile::encodeName(shared).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  const QString link = dir.filePath(QStringLiteral("link.csv"));
  ASSERT_TRUE(QFile::link(savePath, link));
  const QStringList before = lines(savePath);
  panel.askLogPath = [&] { return link; };
  QTest::mouseClick(panel.logBox(), Qt::LeftButton);
  EXPECT_FALSE(panel.logBox()->isChecked());
  ASSERT_EQ(notes.events.size(), 2u);
  EXPECT_TRUE(notes.events.back().detail.contains(QStringLiteral("dowiązanie"))) << notes.events.back().detail.toStdString();
  EXPECT_EQ(lines(savePath), before);
}

// Logged in to the simulator: every status record it sends is one point of each series and one
// row of the running log, until the logout.
TEST(ChartWindow, PollsOfTheSessionReachTheChartAndTheLog) {
  test::uiApp("ui_chart_test");
  test::SimProcess sim;
  ASSERT_TRUE(sim.started());
  test::RecordingNotifier notes;
  ui::MainWindow window(std::make_unique<test::FixedPorts>(std::vector<PortEntry>{
                      {sim.port(), QStringLiteral("dovu-sim"), PortKind::Simulator}}),
                  &notes);
  window.createDialogs();
  window.show();
  auto* dock = window.findChild<QDockWidget*>(QStringLiteral("DockWykres"));
  ASSERT_TRUE(dock);
  EXPECT_TRUE(dock->isHidden());
  window.findChild<QAction*>(QStringLiteral("PokazWykres1"))->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(dock));
  ChartPanel* panel = window.chart();
  QTemporaryDir dir;
  const QString logPath = dir.filePath(QStringLiteral("na-bieżąco.csv"));
  panel->askLogPath = [&] { return logPath; };
  QTest::mouseClick(panel->logBox(), Qt::LeftButton);
  ASSERT_TRUE(panel->logBox()->isChecked());

  window.findChild<QPushButton*>(QStringLiteral("Button_polacz"))->click();
  ASSERT_TRUE(test::waitFor([&] { return panel->history().size() >= 3; }, 8000));
  window.findChild<QPushButton*>(QStringLiteral("Button_rozlacz"))->click();
  ASSERT_TRUE(test::waitFor([&] { return !window.port().isOpen(); }, 5000));

  int sent = 0;
  for (const test::LoggedFrame& f : sim.frames()) sent += !f.fromPc && f.code() == 253;
  EXPECT_EQ(panel->history().size(), static_cast<std::size_t>(sent));
  EXPECT_EQ(lines(logPath).size(), sent + 1);
  panel->redrawNow();
  EXPECT_EQ(panel->series(4)->count(), sent);  // AC: a reading in every record
  EXPECT_EQ(notes.count(Cause::LoggedOut), 1);
  EXPECT_EQ(notes.texts().size(), 1);
}

}  // namespace
}  // namespace dovu

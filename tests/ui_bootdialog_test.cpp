// The firmware dialog: its controls, the file check that gates START, and transfers through it
// against the simulated controller, including presses and closing while a transfer runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <optional>
#include <thread>

#include "firmware/bootloader.h"
#include "link/serialport.h"
#include "link/link.h"
#include "session/session.h"
#include "ui/form.h"
#include "storage/checkedfile.h"
#include "support/sim.h"
#include "support/simsession.h"
#include "support/testapp.h"
#include "wording.h"
#include "ui/bootdialog.h"

namespace dovu {
namespace {

using test::RecordingNotifier;
using test::SimProcess;
using ui::FirmwareDialog;

void widgetApp() {
  if (QCoreApplication::instance()) return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "ui_bootdialog_test";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);
}

QString writeFirmware(const QTemporaryDir& dir, const char* name, std::size_t imageSize, bool good = true) {
  Bytes f = "dvf";
  for (std::size_t i = 0; i < imageSize; ++i) f.push_back(static_cast<char>(i * 13));
  f.push_back(static_cast<char>(xorChecksum(f, f.size()) ^ (good ? 0 : 1)));
  const QString path = dir.filePath(QString::fromLatin1(name));
  QFile out(path);
  out.open(QIODevice::WriteOnly);
  out.write(f.data(), static_cast<qint64>(f.size()));
  return path;
}

// Comes first in a rig: the simulator's helper would otherwise create a plain QCoreApplication.
struct WidgetApp {
  WidgetApp() { widgetApp(); }
};

// The session rig on an open port, recording the code of every frame the link writes.
struct Rig : WidgetApp, test::SimSession {
  explicit Rig(QStringList simArgs = {}) : SimSession(std::move(simArgs)) {
    port.open();
    QObject::connect(link.get(), &Link::frameTraced, [this](bool out, const Bytes& f) {
      if (out) sentCodes.push_back(byteAt(f, 1));
    });
  }
  ~Rig() { QObject::disconnect(link.get(), &Link::frameTraced, nullptr, nullptr); }
  int sent(int code) const { return static_cast<int>(std::count(sentCodes.begin(), sentCodes.end(), code)); }

  std::vector<int> sentCodes;
  QTemporaryDir dir;
};

template <typename W>
W* child(QWidget& parent, const char* name) {
  W* w = parent.findChild<W*>(QString::fromLatin1(name));
  EXPECT_NE(w, nullptr) << name;
  return w;
}

TEST(FirmwareDialog, ControlsAndTheFileCheckThatGatesStart) {
  widgetApp();
  Form form;
  Link link(nullptr);
  Session session(link);
  session.setPassword(QString::fromLatin1(kDefaultPassword));
  session.liveOn();
  link.timer().stop();
  RecordingNotifier n;
  QTemporaryDir dir;
  {
    FirmwareDialog dlg(session, link, n, nullptr);
    EXPECT_FALSE(session.liveDisplay()) << "the poll stops while the dialog is open";
    EXPECT_TRUE(link.timer().isActive());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Aktualizacja firmware sterownika"));
    EXPECT_EQ(child<QLabel>(dlg, "Label1")->text(), QStringLiteral("Aktualizacja firmware"));
    auto* plik = child<QPushButton>(dlg, "Button1");
    auto* start = child<QPushButton>(dlg, "ButtonStart");
    auto* label = child<QLabel>(dlg, "LabelNazwaPliku");
    auto* bar = child<QProgressBar>(dlg, "BarBoot");
    EXPECT_EQ(plik->text(), QStringLiteral("Plik"));
    EXPECT_EQ(plik->accessibleName(), QStringLiteral("Plik"));
    EXPECT_EQ(start->text(), QStringLiteral("START"));
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(label->text().isEmpty());
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 100);

    // Cancelling the file dialog changes nothing.
    dlg.fileChooser = [] { return QString(); };
    plik->click();
    EXPECT_TRUE(label->text().isEmpty());

    const QString good = writeFirmware(dir, "good.dvf", 300);
    dlg.fileChooser = [&] { return good; };
    plik->click();
    EXPECT_EQ(label->text(), good);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(n.events.empty());

    // A file that fails the check disables START: the earlier file is not sent either.
    const QString bad = writeFirmware(dir, "bad.dvf", 300, false);
    EXPECT_FALSE(dlg.chooseFile(bad));
    EXPECT_EQ(label->text(), bad);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::BadFirmwareCrc)});
    start->click();  // disabled: nothing happens
    dlg.buttonStartClick();
    EXPECT_FALSE(dlg.lastResult().has_value());

    EXPECT_FALSE(dlg.chooseFile(writeFirmware(dir, "empty.dvf", 0)));
    EXPECT_EQ(n.texts().last(), cli::englishText(Cause::FirmwareEmpty));
    EXPECT_FALSE(dlg.chooseFile(writeFirmware(dir, "huge.dvf", 65532)));
    EXPECT_EQ(n.texts().last(), cli::englishText(Cause::FirmwareTooLarge));
    EXPECT_FALSE(start->isEnabled());
  }
  EXPECT_TRUE(session.liveDisplay()) << "closing switches the live display on again";
}

TEST(FirmwareDialog, PressesDuringATransferDoNothing) {
  // Block 0 waits two attempts, which leaves time to press the buttons.
  Rig r({QStringLiteral("--miss-ack"), QStringLiteral("0:2")});
  ASSERT_TRUE(r.sim.started());
  FirmwareDialog dlg(*r.session, *r.link, r.notifier, nullptr);
  dlg.show();
  const QString path = writeFirmware(r.dir, "fw.dvf", 300);
  ASSERT_TRUE(dlg.chooseFile(path));
  auto* bar = child<QProgressBar>(dlg, "BarBoot");

  int chooserCalls = 0;
  bool pressedDuring = false;
  QTimer::singleShot(3000, [&] {
    pressedDuring = dlg.transferRunning();
    dlg.fileChooser = [&] {
      ++chooserCalls;
      return path;
    };
    child<QPushButton>(dlg, "Button1")->click();
    EXPECT_FALSE(dlg.chooseFile(writeFirmware(r.dir, "other.dvf", 10, false)));
    child<QPushButton>(dlg, "ButtonStart")->click();
  });
  child<QPushButton>(dlg, "ButtonStart")->click();
  ASSERT_TRUE(test::waitFor([&] { return dlg.lastResult().has_value() && !dlg.isVisible(); }, 30000));

  EXPECT_TRUE(pressedDuring);
  EXPECT_EQ(chooserCalls, 0);
  EXPECT_EQ(dlg.lastResult(), FirmwareUpdate::Result::Done);
  EXPECT_EQ(r.sent(255), 1) << "one transfer only";
  EXPECT_EQ(r.sent(101), 5);  // three blocks, the first of them three times
  EXPECT_EQ(r.sent(102), 1);
  EXPECT_FALSE(bar->isHidden()) << "the bar was shown";
  EXPECT_EQ(bar->value(), 100);
  EXPECT_FALSE(dlg.isVisible()) << "the dialog closes after the transfer";
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_TRUE(r.session->liveDisplay());
  EXPECT_EQ(r.notifier.count(Cause::FlashDone), 1);

  // The bootloader got the file's bytes 3 .. S-2, filled up to whole blocks.
  ASSERT_TRUE(test::waitFor([&] { return QFile::exists(r.sim.imagePath()); }, 3000));
  QFile sent(path), got(r.sim.imagePath());
  ASSERT_TRUE(sent.open(QIODevice::ReadOnly) && got.open(QIODevice::ReadOnly));
  const QByteArray file = sent.readAll();
  EXPECT_EQ(got.readAll(), file.mid(3, file.size() - 4) + QByteArray(84, '\xFF'));
}

TEST(FirmwareDialog, EscCloseAndZamknijDuringATransferAreRefusedAndTheTransferCompletes) {
  // Block 0 waits one attempt: the presses land in that wait.
  Rig r({QStringLiteral("--miss-ack"), QStringLiteral("0:1")});
  ASSERT_TRUE(r.sim.started());
  FirmwareDialog dlg(*r.session, *r.link, r.notifier, nullptr);
  dlg.show();
  ASSERT_TRUE(dlg.chooseFile(writeFirmware(r.dir, "fw.dvf", 300)));
  bool openAfter = false;
  QTimer::singleShot(2500, [&] {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dlg, &esc);
    dlg.close();
    QTest::mouseClick(child<QPushButton>(dlg, "ButtonZamknij"), Qt::LeftButton);
    openAfter = dlg.isVisible() && dlg.transferRunning();
  });
  child<QPushButton>(dlg, "ButtonStart")->click();
  ASSERT_TRUE(test::waitFor([&] { return dlg.lastResult().has_value() && !dlg.isVisible(); }, 30000));

  EXPECT_TRUE(openAfter);
  EXPECT_EQ(dlg.lastResult(), FirmwareUpdate::Result::Done);
  EXPECT_EQ(r.sent(101), 4);
  EXPECT_EQ(r.sent(102), 1);
  EXPECT_EQ(r.notifier.count(Cause::FlashDone), 1);
  EXPECT_FALSE(dlg.isVisible()) << "closed once the transfer is over";
  EXPECT_TRUE(r.session->liveDisplay());
}

// Counts the paint events a widget receives and when the first one after a request came.
struct PaintWatch : QObject {
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint && requested && !painted) painted = std::chrono::steady_clock::now();
    return false;
  }
  std::optional<std::chrono::steady_clock::time_point> requested, painted;
};

TEST(FirmwareDialog, TheDialogRepaintsWhileTheTransferPauses) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  FirmwareDialog dlg(*r.session, *r.link, r.notifier, nullptr);
  dlg.show();
  ASSERT_TRUE(dlg.chooseFile(writeFirmware(r.dir, "fw.dvf", 300)));
  auto* bar = child<QProgressBar>(dlg, "BarBoot");
  PaintWatch watch;
  bar->installEventFilter(&watch);
  child<QPushButton>(dlg, "ButtonStart")->click();
  // 700 ms into the 2000 ms pause before the first block, another thread asks for a repaint.
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const auto posted = std::chrono::steady_clock::now();
    QMetaObject::invokeMethod(
        bar,
        [&, posted] {
          watch.requested = posted;
          bar->update();
        },
        Qt::QueuedConnection);
  });
  const bool ended = test::waitFor([&] { return dlg.lastResult().has_value() && !dlg.isVisible(); }, 30000);
  poster.join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(dlg.lastResult(), FirmwareUpdate::Result::Done);
  ASSERT_TRUE(watch.requested && watch.painted);
  EXPECT_LT(*watch.painted - *watch.requested, std::chrono::milliseconds(100));
  EXPECT_EQ(r.sent(101), 3);
}

}  // namespace
}  // namespace dovu

// The window's session against the simulated controller on a pseudo-terminal: login accepted and
// refused, no answer, an answer during the second attempt, the once-a-second poll (never while
// the password dialog is open), connecting again while connected, logout, and closing the window
// while logged in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QImage>
#include <utility>

#include "ui/formview.h"
#include "ui/form.h"
#include "support/formfiles.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/uiapp.h"
#include "exchange/controllercopy.h"
#include "exchange/transfer.h"
#include "model/params.h"
#include "storage/backupstore.h"
#include "storage/configfile.h"
#include "ui/application.h"
#include "ui/comparedialog.h"
#include "ui/configfileui.h"
#include "ui/mainwindow.h"
#include "ui/sessionview.h"

using namespace dovu;
using dovu::test::SimProcess;
using dovu::test::waitFor;

namespace {

// The read code of the parameter that carries a field (by the window's name).
int codeOf(const char* field) {
  return static_cast<int>(parameterOf(*configFieldShownIn(QString::fromLatin1(field)))->readCode);
}

int countFrames(const SimProcess& sim, int code, const Bytes& payload = {}) {
  int n = 0;
  for (const auto& f : sim.framesFromPc())
    if (f.code() == code && (payload.empty() || f.bytes.substr(3, payload.size()) == payload)) ++n;
  return n;
}

void idle(int ms) { waitFor([] { return false; }, ms); }

class Session : public ::testing::Test {
 protected:
  // The simulator's port is listed after `before` (a built-in UART, say).
  void start(QStringList simArgs = {}, std::vector<PortEntry> before = {}) {
    test::uiApp("ui_session_test");
    sim_ = std::make_unique<SimProcess>(std::move(simArgs));
    ASSERT_TRUE(sim_->started());
    before.push_back({sim_->port(), QStringLiteral("dovu-sim"), PortKind::Simulator});
    main_ = std::make_unique<ui::MainWindow>(std::make_unique<test::FixedPorts>(std::move(before)), &notes_);
    main_->createDialogs();
    main_->show();
  }
  void TearDown() override {
    main_.reset();
    sim_.reset();
  }
  template <class T = QWidget>
  T* find(const char* name) {
    auto* w = main_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(w) << name;
    return w;
  }
  QString text(const char* name) { return find<QLineEdit>(name)->text(); }
  // POŁĄCZ, and the login request run to its end.
  void connectClick() {
    find<QPushButton>("Button_polacz")->click();
    waitFor([&] { return !main_->link().exchanging(); }, 10000);
    boxesShown();
  }
  // A box opens once the exchange step that raised it has returned to the event loop: the calls
  // already posted run now.
  void boxesShown() { QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); }
  // Frames reach the simulator's log a moment after they are written.
  // The parameter set frames the simulator received.
  int sets() const {
    int n = 0;
    for (const auto& f : sim_->framesFromPc()) n += f.code() >= 5 && f.code() <= 105 && f.code() % 2 == 1;
    return n;
  }
  bool logged(int code, int count) {
    return waitFor([&] { return countFrames(*sim_, code) >= count; }, 2000);
  }

  test::RecordingNotifier notes_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<ui::MainWindow> main_;
};

TEST_F(Session, LoginPollAndLogout) {
  start();
  connectClick();
  EXPECT_EQ(text("Edit_status"), "POŁĄCZONY");
  EXPECT_EQ(text("Edit_logon"), "ZALOGOWANY");
  EXPECT_FALSE(find("Edit_haslo")->isEnabled());
  EXPECT_FALSE(find("Button_polacz")->isEnabled());
  EXPECT_TRUE(find("Button_zmiana_hasla")->isEnabled());
  EXPECT_TRUE(find<QAction>("Pobierz1")->isEnabled());
  EXPECT_EQ(find<QLabel>("TextWersja")->text(), "DOVU v 1.1");

  // The first status answer brings the live view and the transfer buttons.
  ASSERT_TRUE(waitFor([this] { return find("Icon_get")->isEnabled(); }, 3000));
  EXPECT_FALSE(find("StatusBar")->isHidden());
  EXPECT_FALSE(text("Udc").isEmpty());

  // About one poll every ten ticks.
  const int before = countFrames(*sim_, 253);
  int ticks = 0;
  QObject::connect(&main_->link().timer(), &QTimer::timeout, main_.get(), [&] { ++ticks; });
  idle(3200);
  const int polls = countFrames(*sim_, 253) - before;
  EXPECT_GE(polls, ticks / 10 - 1);
  EXPECT_LE(polls, ticks / 10 + 1);
  EXPECT_TRUE(notes_.events.empty());

  find<QPushButton>("Button_rozlacz")->click();
  EXPECT_TRUE(waitFor([&] { return notes_.count(Cause::LoggedOut) == 1; }, 3000));
  EXPECT_EQ(countFrames(*sim_, 2), 1);
  EXPECT_TRUE(waitFor([&] { return !main_->port().isOpen(); }, 3000));
  EXPECT_EQ(text("Edit_status"), "ROZŁĄCZONY");
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_FALSE(find("Icon_get")->isEnabled());
  EXPECT_EQ(find<QLabel>("TextWersja")->text(), "DOVU v ...");
}

TEST_F(Session, RefusedPasswordStaysConnectedAndConnectAgainOnlyRepeatsTheLogin) {
  start({QStringLiteral("--refuse-password")});
  connectClick();
  EXPECT_EQ(notes_.count(Cause::WrongPassword), 1);
  EXPECT_GE(notes_.beeps(), 1);
  EXPECT_EQ(text("Edit_status"), "POŁĄCZONY");
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_TRUE(find("Button_polacz")->isEnabled());
  EXPECT_TRUE(main_->port().isOpen());

  connectClick();
  EXPECT_EQ(notes_.count(Cause::WrongPassword), 2);
  EXPECT_TRUE(logged(1, 2));
  EXPECT_EQ(countFrames(*sim_, 1), 2);
  EXPECT_TRUE(main_->port().isOpen());
  idle(1300);
  EXPECT_EQ(countFrames(*sim_, 253), 0);  // no poll before a login
}

TEST_F(Session, NoAnswerAfterThreeIdenticalLoginFrames) {
  start({QStringLiteral("--silent")});
  // Three attempts of ten ticks each, counted on the window's own 100 ms tick.
  int ticks = 0;
  QObject::connect(&main_->link().timer(), &QTimer::timeout, main_.get(), [&] { ++ticks; });
  connectClick();
  EXPECT_GE(ticks, 29);
  EXPECT_LE(ticks, 31);
  ASSERT_TRUE(logged(1, 3));
  const auto frames = sim_->framesFromPc();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].bytes, frames[1].bytes);
  EXPECT_EQ(frames[1].bytes, frames[2].bytes);
  EXPECT_EQ(notes_.count(Cause::NoAnswer), 1);
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_EQ(text("Edit_status"), "POŁĄCZONY");
  EXPECT_TRUE(main_->port().isOpen());
}

// A box opens only once the exchange step that raised it has ended: never from inside a wait, where
// the box's own event loop would run the next exchange beneath the one still waiting.  Both a
// login that goes unanswered and a download cut short by a controller that falls silent.
TEST_F(Session, ABoxOpensOnlyOnceTheExchangeStepHasEnded) {
  start({QStringLiteral("--silent-from"), QStringLiteral("20")});
  struct Seen {
    bool waiting, busy, transferring;
  };
  std::vector<Seen> seen;
  notes_.whenShown = [&] {
    seen.push_back({main_->link().waiting(), main_->link().busy(), main_->transfer().busy()});
  };
  QTest::mouseClick(find<QPushButton>("Button_polacz"), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return text("Edit_logon") == "ZALOGOWANY"; }, 10000));
  ASSERT_TRUE(waitFor([this] { return find("Icon_get")->isEnabled(); }, 3000));
  main_->link().timer().setInterval(10);  // the silence is given up quickly
  QTest::mouseClick(find<QToolButton>("Icon_get"), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return notes_.count(Cause::DownloadInterrupted) == 1; }, 20000));
  EXPECT_EQ(notes_.count(Cause::NoAnswer), 1);
  ASSERT_EQ(seen.size(), 2u);
  for (const Seen& s : seen) {
    EXPECT_FALSE(s.waiting) << "a box inside the wait for an answer";
    EXPECT_FALSE(s.transferring) << "a box inside the transfer";
    EXPECT_FALSE(s.busy) << "a box while the line was held";
  }
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
}

TEST_F(Session, AnswerDuringTheSecondAttemptEndsTheWait) {
  start({QStringLiteral("--drop-code"), QStringLiteral("1:1")});
  connectClick();
  EXPECT_EQ(text("Edit_logon"), "ZALOGOWANY");
  idle(300);
  EXPECT_EQ(countFrames(*sim_, 1), 2);
  EXPECT_TRUE(notes_.events.empty());
}

TEST_F(Session, NoPollWhileThePasswordDialogIsOpenAndThePasswordChanges) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  ASSERT_TRUE(logged(253, 1));

  // Pressed while the line is idle, the dialog opens at once (a press during a poll would wait
  // for it).
  ASSERT_TRUE(waitFor([&] { return !main_->link().busy(); }, 3000));
  int pollsInside = -1;
  QTimer::singleShot(0, [&] {
    waitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000);
    QWidget* d = QApplication::activeModalWidget();
    ASSERT_TRUE(d);
    idle(300);  // a poll already on its way may still be answered
    const int before = countFrames(*sim_, 253);
    idle(2500);
    pollsInside = countFrames(*sim_, 253) - before;
    auto* edit = d->findChild<QLineEdit*>(QStringLiteral("Edit_haslo_nowe"));
    edit->setText(QStringLiteral("4321"));
    d->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  });
  find<QPushButton>("Button_zmiana_hasla")->click();
  boxesShown();
  EXPECT_EQ(pollsInside, 0);
  EXPECT_EQ(countFrames(*sim_, 3, "4321"), 1);
  EXPECT_EQ(notes_.count(Cause::PasswordChanged), 1);
  EXPECT_EQ(text("Edit_haslo"), "4321");
  EXPECT_TRUE(main_->session().liveDisplay());
  // The poll comes back once the dialog has closed.
  const int after = countFrames(*sim_, 253);
  EXPECT_TRUE(waitFor([&] { return countFrames(*sim_, 253) > after; }, 2500));
}

// Closing while logged in logs out first, without a box, and then the window and the port go.
TEST_F(Session, ClosingWhileLoggedInLogsOutFirst) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  main_->close();
  EXPECT_TRUE(waitFor([&] { return !main_->isVisible(); }, 5000));
  EXPECT_TRUE(waitFor([&] { return !main_->port().isOpen(); }, 3000));
  EXPECT_TRUE(logged(2, 1)) << "a logout request";
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_TRUE(notes_.events.empty()) << notes_.texts().join("/").toStdString();
}

TEST_F(Session, DownloadFromTheWindowStartsNoSecondTransferWhileItRuns) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  ASSERT_TRUE(waitFor([this] { return find("Icon_get")->isEnabled(); }, 3000));
  bool progressShown = false;
  int clicks = 0;
  QObject::connect(&main_->transfer(), &ConfigTransfer::progress, main_.get(), [&](int) {
    progressShown = progressShown || main_->progressDialog()->isVisible();
    if (clicks++ == 2) {
      // Whatever is still clickable must not start another transfer.
      if (find("Icon_get")->isEnabled()) find<QAbstractButton>("Icon_get")->click();
      if (find("Icon_put")->isEnabled()) find<QAbstractButton>("Icon_put")->click();
      find<QAction>("Pobierz1")->trigger();
      find<QAction>("Zapisz1")->trigger();
    }
  });
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy(); }, 30000));
  EXPECT_TRUE(progressShown);
  EXPECT_FALSE(main_->progressDialog()->isVisible());
  EXPECT_GT(clicks, 2);
  EXPECT_EQ(countFrames(*sim_, 8), 1);  // Edit_Tel1 read once
  EXPECT_EQ(sets(), 0);
  EXPECT_FALSE(text("Edit_Tel1").isEmpty());
  EXPECT_EQ(sim_->dumped(8), text("Edit_Tel1").toStdString());
}

TEST_F(Session, UploadOfTheWindowDefaultsAsksFirstAnUploadOfALoadedFileDoesNot) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  ASSERT_TRUE(waitFor([this] { return find("Icon_put")->isEnabled(); }, 3000));
  QStringList asked;
  main_->confirm = [&](const QString& t) {
    asked << t;
    return false;
  };
  find<QAbstractButton>("Icon_put")->click();
  EXPECT_EQ(asked, QStringList{QString::fromUtf8(ui::kUploadDefaultsText)});
  idle(200);
  EXPECT_EQ(sets(), 0);

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("k.dvc"));
  Form file;
  file.setText("Edit_Tel1", QStringLiteral("+48500600700"));
  ASSERT_TRUE(saveConfigFile(file, path, notes_.collect()));
  ASSERT_TRUE(ui::loadConfigFileFromPath(main_->form(), notes_, path));
  find<QAction>("Zapisz1")->trigger();
  ASSERT_TRUE(waitFor([&] { return sets() > 0 && !main_->transfer().busy(); }, 30000));
  EXPECT_EQ(asked.size(), 1);
  EXPECT_EQ(sim_->dumped(8), "+48500600700");
}

TEST_F(Session, OneShotCommandsAndARestartAskedFor) {
  start();
  QStringList asked;
  bool agree = false;
  main_->confirm = [&](const QString& t) {
    asked << t;
    return agree;
  };
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  find<QPushButton>("ButtonResetlimit")->click();
  EXPECT_TRUE(logged(254, 1));
  ASSERT_TRUE(waitFor([&] { return !main_->link().busy(); }, 2000));
  find<QPushButton>("ButtonRestart")->click();  // asked, refused: nothing sent
  EXPECT_EQ(asked, QStringList{QStringLiteral("Uruchomić sterownik ponownie?")});
  agree = true;
  find<QPushButton>("ButtonRestart")->click();
  EXPECT_TRUE(logged(255, 1));
  EXPECT_EQ(countFrames(*sim_, 254, "G"), 1);
  EXPECT_EQ(countFrames(*sim_, 255, "B"), 1);
  // The controller boots (the simulator's bootloader stays silent for 3 s): the window says so,
  // does not poll meanwhile, and logs in again once the controller answers, without a box.
  const int polls = countFrames(*sim_, 253);
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_EQ(find<QStatusBar>("StatusBar")->findChild<QLabel*>("panel")->text(), "Sterownik uruchamia się ponownie…");
  EXPECT_FALSE(find("StatusBar")->isHidden());
  EXPECT_FALSE(find("Button_polacz")->isEnabled());
  ASSERT_TRUE(waitFor([&] { return text("Edit_logon") == "ZALOGOWANY"; }, 15000));
  EXPECT_EQ(countFrames(*sim_, 253), polls);
  EXPECT_TRUE(notes_.events.empty()) << notes_.texts().join(QLatin1Char('/')).toStdString();
  EXPECT_TRUE(logged(253, polls + 1)) << "the poll runs again";
}

// A controller that does not come back: after the bound the window shows logged out, without
// the no-answer box, and POŁĄCZ can be pressed again.
TEST_F(Session, ARestartWithoutAnAnswerEndsLoggedOutWithoutABox) {
  start({QStringLiteral("--boot-ms"), QStringLiteral("600000")});
  main_->confirm = [](const QString&) { return true; };
  main_->session().restartTiming = {1, 1};
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  find<QPushButton>("ButtonRestart")->click();
  ASSERT_TRUE(waitFor([&] { return !main_->session().restarting(); }, 15000));
  EXPECT_TRUE(logged(1, 2 + 2)) << "the login and one attempt of three writes";
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_TRUE(find("Button_polacz")->isEnabled());
  EXPECT_TRUE(find("StatusBar")->isHidden());
  EXPECT_TRUE(notes_.events.empty()) << notes_.texts().join(QLatin1Char('/')).toStdString();
}

// Each press lands 0.2 s into a status poll whose answer comes 1.5 s late (the poll writes its
// request again after one second).  The press must run once that wait is over: nothing but the
// poll goes out before the poll's answer, the controller gets exactly one frame of a one-shot
// command, and the session stays on its port without a box.
TEST_F(Session, PressesInsideThePollsWaitRunOnceItIsOver) {
  start({QStringLiteral("--delay-code"), QStringLiteral("253:1500"), QStringLiteral("--baud-pace")},
        {{QStringLiteral("/dev/ttyS0"), QStringLiteral("serial"), PortKind::BuiltIn}});
  ASSERT_EQ(main_->port().port(), sim_->port()) << "the running simulator is preferred to a built-in UART";
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");

  std::function<void()> pressNow;
  QObject::connect(&main_->link(), &Link::frameTraced, [&](bool out, const Bytes& f) {
    if (out && byteAt(f, 1) == 253 && pressNow) QTimer::singleShot(200, main_.get(), std::exchange(pressNow, nullptr));
  });
  // Answers the password dialog once the deferred press has opened it.
  QTimer dialogWatch;
  QObject::connect(&dialogWatch, &QTimer::timeout, [&] {
    auto* d = QApplication::activeModalWidget();
    if (!d) return;
    dialogWatch.stop();
    d->findChild<QLineEdit*>(QStringLiteral("Edit_haslo_nowe"))->setText(QStringLiteral("4321"));
    d->findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  });

  main_->confirm = [](const QString&) { return true; };
  const struct {
    const char* button;
    int code;  // the frame the press sends, 0: none
  } presses[] = {{"ButtonResetlimit", 254}, {"ButtonCom", 0}, {"Button_zmiana_hasla", 3}, {"ButtonRestart", 255}};
  for (const auto& p : presses) {
    SCOPED_TRACE(p.button);
    std::size_t logAtPress = 0;
    std::function<void()> press = [&] {
      // A stale answer may have ended this poll's wait at once: then the next poll hosts the press.
      if (!main_->link().waiting()) {
        pressNow = press;
        return;
      }
      logAtPress = sim_->frames().size();
      if (p.code == 3) dialogWatch.start(50);
      find<QPushButton>(p.button)->click();
    };
    pressNow = press;
    const std::uint8_t awaited = p.code ? p.code : 253;
    ASSERT_TRUE(waitFor([&] { return logAtPress && countFrames(*sim_, awaited) > 0 && !main_->link().busy(); }, 8000));
    if (p.code) {
      ASSERT_TRUE(logged(p.code, 1));
    }
    // Up to the poll's answer, nothing but the poll went out.
    const auto frames = sim_->frames();
    for (std::size_t i = logAtPress; i < frames.size() && frames[i].fromPc; ++i) EXPECT_EQ(frames[i].code(), 253) << i;
    if (p.code != 0 && p.code != 3) {
      EXPECT_EQ(countFrames(*sim_, p.code), 1);
    }
    boxesShown();
    EXPECT_EQ(notes_.events.size(), p.code == 3 ? 1u : 0u) << notes_.texts().join(QLatin1Char('/')).toStdString();
    notes_.events.clear();
    EXPECT_EQ(main_->port().port(), sim_->port());
    EXPECT_TRUE(main_->port().isOpen());
    // A restart logs in again once the controller has booted.
    EXPECT_TRUE(waitFor([&] { return text("Edit_logon") == "ZALOGOWANY"; }, 15000));
  }
  EXPECT_EQ(text("Edit_haslo"), "4321");
  QObject::disconnect(&main_->link(), &Link::frameTraced, nullptr, nullptr);
}


// Before the window writes to the controller, what it holds goes to the backup history: read
// afresh (the window's own fields untouched) or taken from the last complete download.  A history
// that cannot be written stops the write before anything is sent, unless the user chooses to go on.
TEST_F(Session, EveryWriteFromTheWindowFirstKeepsWhatTheControllerHeld) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  ASSERT_TRUE(waitFor([this] { return find("Icon_put")->isEnabled(); }, 3000));
  // What a backup holds, parameter by parameter as the controller's dump has them.
  auto holds = [](const BackupEntry& e, const std::vector<std::pair<int, Bytes>>& dump) {
    Form kept;
    if (!loadConfigFile(kept, BackupStore().pathOf(e)) || dump.size() != paramTable().size()) return false;
    for (std::size_t i = 0; i < dump.size(); ++i)
      if (buildPayload(kept, paramTable()[i]) != dump[i].second) return false;
    return true;
  };
  const auto before = sim_->dump();

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("k.dvc"));
  Form file;
  file.setText("Edit_Tel1", QStringLiteral("+48500600700"));
  ASSERT_TRUE(saveConfigFile(file, path, notes_.collect()));
  ASSERT_TRUE(ui::loadConfigFileFromPath(main_->form(), notes_, path));
  // The user is still in the hours of the automatic SMS and has typed 0 there: the field's exit
  // check runs before anything is sent.
  auto* hours = find<QLineEdit>("IleTest");
  hours->setFocus(Qt::TabFocusReason);
  hours->selectAll();
  QTest::keyClicks(hours, "0");
  ASSERT_EQ(hours->text(), "0");
  find<QAbstractButton>("Icon_put")->click();
  ASSERT_TRUE(waitFor([&] { return sets() == 51 && !main_->transfer().busy(); }, 60000))
      << sets() << " sets; " << notes_.texts().join("/").toStdString() << " reads " << countFrames(*sim_, 8);
  EXPECT_EQ(sim_->dumped(8), "+48500600700");
  EXPECT_EQ(text("IleTest"), "1");
  EXPECT_EQ(byteAt(sim_->dumped(54), 8), 1);
  EXPECT_EQ(text("Edit_Tel1"), "+48500600700") << "the backup's read left the window's fields alone";
  QString why;
  auto entries = BackupStore().list(&why);
  ASSERT_TRUE(entries && entries->size() == 1) << why.toStdString();
  EXPECT_EQ(entries->front().reason, BackupReason::BeforeUpload);
  EXPECT_EQ(entries->front().port, sim_->port());
  EXPECT_TRUE(holds(entries->front(), before));

  // After a download the backup before the firmware update needs no read: no parameter is asked
  // for twice.  The update's dialog then opens with the live view off.
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 30000));
  const int reads = countFrames(*sim_, 8);
  bool liveInside = true;
  QString title;
  QTimer::singleShot(0, [&] {
    waitFor([] { return QApplication::activeModalWidget() != nullptr; }, 30000);
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      liveInside = main_->session().liveDisplay();
      title = d->windowTitle();
      d->reject();
    }
  });
  QTest::mouseClick(find("ButtonFirmware"), Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return !title.isEmpty(); }, 30000));
  EXPECT_FALSE(liveInside);
  EXPECT_EQ(title, "Aktualizacja firmware sterownika");
  EXPECT_EQ(countFrames(*sim_, 8), reads);
  entries = BackupStore().list(&why);
  ASSERT_TRUE(entries && entries->size() == 2) << why.toStdString();
  EXPECT_EQ(entries->front().reason, BackupReason::BeforeFirmware);
  EXPECT_TRUE(holds(entries->front(), sim_->dump()));

  QFile blocker(dir.filePath(QStringLiteral("not-a-folder")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  const QByteArray home = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(blocker.fileName()));
  // The user is asked; "Nie" sends nothing, "Tak" sends without a backup.
  QStringList asked;
  bool answer = false;
  main_->confirm = [&](const QString& t) {
    asked << t;
    return answer;
  };
  const int setsBefore = sets();
  ASSERT_TRUE(waitFor([this] { return find("Icon_put")->isEnabled(); }, 3000));
  find<QAbstractButton>("Icon_put")->click();
  ASSERT_TRUE(waitFor([&] { return asked.size() == 1; }, 30000));
  EXPECT_TRUE(asked.value(0).startsWith("Nie zapisano kopii zapasowej konfiguracji sterownika: ")) << asked.value(0).toStdString();
  EXPECT_TRUE(asked.value(0).contains(QStringLiteral(": nie można utworzyć folderu."))) << asked.value(0).toStdString();
  EXPECT_TRUE(asked.value(0).endsWith("Kontynuować bez kopii zapasowej?"));
  idle(300);
  EXPECT_EQ(sets(), setsBefore);
  answer = true;
  find<QAbstractButton>("Icon_put")->click();
  ASSERT_TRUE(waitFor([&] { return sets() == setsBefore + 51 && !main_->transfer().busy(); }, 30000));
  EXPECT_EQ(asked.size(), 2);
  qputenv("XDG_DATA_HOME", home);
}

}  // namespace

namespace {

// Compared with the controller, the window lists the two telephones it changed; the user checks
// one by mouse and keyboard and sends it: the controller takes that parameter alone.
TEST_F(Session, ACheckedDifferenceIsSentAloneAfterItsBackup) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 30000));
  const Bytes tel2 = sim_->dumped(codeOf("Edit_Tel2"));
  for (const char* name : {"Edit_Tel1", "Edit_Tel2"}) {
    auto* edit = find<QLineEdit>(name);
    edit->setFocus(Qt::TabFocusReason);
    edit->selectAll();
    QTest::keyClicks(edit, name == std::string_view("Edit_Tel1") ? "+48500111222" : "+48500333444");
  }
  const int setsBefore = sets();
  QString why;
  const std::size_t backupsBefore = BackupStore().list(&why)->size();

  find<QAction>("PorownajZeSterownikiemMenu")->trigger();
  ui::CompareDialog* d = nullptr;
  ASSERT_TRUE(waitFor([&] { return (d = main_->findChild<ui::CompareDialog*>("Porownanie")) && d->isVisible(); }, 30000));
  auto* table = d->findChild<QTableWidget*>("TabelaRoznic");
  ASSERT_EQ(table->rowCount(), 2);
  int row = -1;
  for (int r = 0; r < table->rowCount(); ++r)
    if (table->item(r, 0)->text().contains("Edit_Tel1")) row = r;
  ASSERT_GE(row, 0);
  EXPECT_EQ(table->item(row, 1)->text(), "\"+48500111222\"");
  auto* send = d->findChild<QPushButton*>("WyslijZaznaczone");
  EXPECT_FALSE(send->isEnabled());
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(row, 0)).center());
  QTest::keyClick(table->viewport(), Qt::Key_Space);
  ASSERT_EQ(table->item(row, 0)->checkState(), Qt::Checked);
  ASSERT_TRUE(send->isEnabled());
  QTest::mouseClick(send, Qt::LeftButton);
  ASSERT_TRUE(waitFor([&] { return sets() > setsBefore && !main_->transfer().busy(); }, 30000));
  idle(300);
  EXPECT_EQ(sets(), setsBefore + 1);
  EXPECT_EQ(sim_->dumped(codeOf("Edit_Tel1")), "+48500111222");
  EXPECT_EQ(sim_->dumped(codeOf("Edit_Tel2")), tel2);
  EXPECT_EQ(text("Edit_Tel2"), "+48500333444") << "the unsent edit stays in the window";
  EXPECT_EQ(BackupStore().list(&why)->size(), backupsBefore + 1);
}

}  // namespace

namespace {

// Share of a widget's drawn pixels that are the mark's red.
double redShare(QWidget* w) {
  const QImage image = w->grab().toImage();
  qsizetype n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor p = image.pixelColor(x, y);
      n += p.red() > 200 && p.green() < 60 && p.blue() < 60;
    }
  return image.isNull() ? 0.0 : static_cast<double>(n) / static_cast<double>(image.width() * image.height());
}

// Red is drawn from one comparison with what the controller holds: a loaded file marks every
// field that differs, lists and boxes too; a field typed back to the controller's value is not
// red; before anything is read the window says that it does not know; a download over red fields
// asks first and leaves nothing to undo or redo.
TEST_F(Session, RedIsWhatDiffersFromTheControllerWhateverChangedIt) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  ASSERT_TRUE(waitFor([this] { return find("Icon_get")->isEnabled(); }, 3000));
  EXPECT_TRUE(find("LabelStanWiedzy")->isVisible()) << "nothing read since connecting";
  QStringList asked;
  main_->confirm = [&](const QString& t) {
    asked << t;
    return true;
  };
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 30000));
  EXPECT_TRUE(asked.isEmpty()) << "nothing red: nothing to ask";
  EXPECT_FALSE(find("LabelStanWiedzy")->isVisible());

  // A file that differs in a text, a number, an output box, an option box and a list.
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("k.dvc"));
  {
    Form file;
    QString why;
    const auto now = buildConfigFile(main_->form(), &why);
    ASSERT_TRUE(now && loadConfigFile(file, *now));
    file.setText("Edit_Tel3", file.text("Edit_Tel3") + QStringLiteral("9"));
    file.setText("Edit_LimitSMS", QString::number((file.number("Edit_LimitSMS") + 1) % 100));
    file.setChecked("BoxOut1NC", !file.checked("BoxOut1NC"));
    file.setChecked("BoxWyslijStan", !file.checked("BoxWyslijStan"));
    file.setIndex("ComboOut1", (file.index("ComboOut1") + 1) % 3);
    ASSERT_TRUE(saveConfigFile(file, path, notes_.collect()));
  }
  main_->loadFile = [&] { ui::loadConfigFileFromPath(main_->form(), notes_, path); };
  find<QAction>("Odczyt1")->trigger();
  const std::vector<const char*> changed = {"Edit_Tel3", "Edit_LimitSMS", "BoxOut1NC", "BoxWyslijStan", "ComboOut1"};
  for (const char* name : changed) EXPECT_GT(redShare(find(name)), 0.2) << name;
  for (const char* name : {"Edit_Tel2", "BoxOut2NC", "ComboOut2"}) EXPECT_LT(redShare(find(name)), 0.02) << name;

  // Typed back to what the controller holds: no longer red.
  auto* tel1 = find<QLineEdit>("Edit_Tel1");
  const QString held = tel1->text();
  tel1->setFocus(Qt::TabFocusReason);
  tel1->selectAll();
  QTest::keyClicks(tel1, "+48600700800");
  EXPECT_GT(redShare(tel1), 0.2);
  tel1->selectAll();
  QTest::keyClicks(tel1, held.isEmpty() ? QString() : held);
  if (held.isEmpty()) QTest::keyClick(tel1, Qt::Key_Backspace);
  EXPECT_EQ(tel1->text(), held);
  EXPECT_LT(redShare(tel1), 0.02);

  // Undo, then a download: asked first ("Nie" keeps the edits), then nothing to redo.
  QTest::keyClick(tel1, Qt::Key_Z, Qt::ControlModifier);
  main_->confirm = [&](const QString& t) {
    asked << t;
    return false;
  };
  find<QAction>("Pobierz1")->trigger();
  EXPECT_EQ(asked, QStringList{QString::fromUtf8(ui::kDownloadOverEditsText)});
  idle(300);
  EXPECT_EQ(countFrames(*sim_, 8), 1) << "no second download";
  EXPECT_GT(redShare(find("Edit_Tel3")), 0.2);
  main_->confirm = [&](const QString& t) {
    asked << t;
    return true;
  };
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 30000));
  EXPECT_EQ(asked.size(), 2);
  EXPECT_FALSE(main_->form().hasUnsentEdits());
  EXPECT_FALSE(find<QAction>("Cofnij")->isEnabled());
  EXPECT_FALSE(find<QAction>("Ponow")->isEnabled());
  QTest::keyClick(tel1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  for (const char* name : changed) EXPECT_LT(redShare(find(name)), 0.02) << name;

  // An edit taken back before a download that reads nothing new: nothing is red, nothing asked,
  // and still the download ends the history, so a redo cannot put the edit into the values read.
  auto* box = find<QCheckBox>("BoxWyslijStan");
  const bool was = box->isChecked();
  box->setFocus(Qt::TabFocusReason);
  QTest::keyClick(box, Qt::Key_Space);
  ASSERT_NE(box->isChecked(), was);
  QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier);
  ASSERT_EQ(box->isChecked(), was);
  ASSERT_TRUE(find<QAction>("Ponow")->isEnabled());
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 30000));
  EXPECT_EQ(asked.size(), 2) << "nothing red: nothing to ask";
  EXPECT_FALSE(find<QAction>("Ponow")->isEnabled());
  QTest::keyClick(box, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(box->isChecked(), was);
  EXPECT_LT(redShare(box), 0.02);
}

// Closing during an upload on a paced line asks whether to close once it has ended; "Tak" lets
// every parameter in, logs out and closes.  Closing during the backup's read sends nothing and
// closes without another question.
TEST_F(Session, ClosingNeverCutsAnUploadNorLeavesAProcessWithoutAWindow) {
  for (bool duringBackup : {false, true}) {
    SCOPED_TRACE(duringBackup ? "during the backup's read" : "during the upload");
    start({QStringLiteral("--baud-pace")});
    connectClick();
    ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
    ASSERT_TRUE(waitFor([this] { return find("Icon_get")->isEnabled(); }, 3000));
    if (!duringBackup) {
      find<QAction>("Pobierz1")->trigger();  // the backup then needs no read
      ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 60000));
    }
    QStringList asked;
    main_->confirm = [&](const QString& t) {
      asked << t;
      return true;
    };
    main_->form().setText("Edit_Tel2", QStringLiteral("+48511222333"));
    main_->form().setText("Edit_Tel7", QStringLiteral("+48577888999"));
    const Bytes tel2 = sim_->dumped(codeOf("Edit_Tel2"));
    find<QAbstractButton>("Icon_put")->click();
    if (duringBackup) ASSERT_TRUE(waitFor([&] { return countFrames(*sim_, 8) >= 1; }, 10000));
    else ASSERT_TRUE(waitFor([&] { return sets() >= 2; }, 20000));
    const qsizetype before = asked.size();  // the question about uploading the defaults, if any
    main_->close();
    ASSERT_EQ(asked.size(), before + 1);
    EXPECT_EQ(asked.last(), QString::fromUtf8(duringBackup ? ui::kCloseDuringReadText : ui::kCloseDuringUploadText));
    EXPECT_TRUE(main_->isVisible()) << "not while the exchange runs";
    ASSERT_TRUE(waitFor([&] { return !main_->isVisible(); }, 90000));
    EXPECT_TRUE(logged(2, 1)) << "logged out";
    // Once the read has ended, the unsent red fields are asked about as at any close.
    EXPECT_EQ(asked.size(), before + (duringBackup ? 2 : 1)) << asked.join("/").toStdString();
    EXPECT_TRUE(notes_.events.empty()) << notes_.texts().join("/").toStdString();
    if (duringBackup) {
      EXPECT_EQ(sets(), 0);
      EXPECT_EQ(sim_->dumped(codeOf("Edit_Tel2")), tel2);
    } else {
      EXPECT_EQ(sets(), 51);
      EXPECT_EQ(sim_->dumped(codeOf("Edit_Tel2")), "+48511222333");
      EXPECT_EQ(sim_->dumped(codeOf("Edit_Tel7")), "+48577888999");
    }
    main_.reset();
    sim_.reset();
  }
}

// A line that goes away mid-upload: the window says that the controller now holds a mix and how
// much of it is new; red is exactly the fields the controller did not take.
TEST_F(Session, AnInterruptedUploadSaysWhatTheControllerHolds) {
  start({QStringLiteral("--unplug-after"), QStringLiteral("75")});
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  main_->confirm = [](const QString&) { return true; };
  find<QAction>("Pobierz1")->trigger();
  ASSERT_TRUE(waitFor([this] { return !main_->transfer().busy() && find("Icon_get")->isEnabled(); }, 30000));
  for (const char* f : {"Edit_Tel1", "Edit_Tel8"}) main_->form().setText(f, QStringLiteral("+48500000001"));
  find<QAbstractButton>("Icon_put")->click();
  ASSERT_TRUE(waitFor([&] { return notes_.count(Cause::UploadInterrupted) == 1; }, 30000))
      << notes_.texts().join("/").toStdString();
  EXPECT_NE(main_->form().colour("Edit_Tel1"), kRed) << "acknowledged";
  EXPECT_EQ(main_->form().colour("Edit_Tel8"), kRed) << "never sent";
  for (const test::Recorded& e : notes_.events) {
    if (e.problem.cause == Cause::UploadInterrupted) {
      EXPECT_EQ(e.problem.args.value(1), QStringLiteral("51")) << "sent";
    }
  }
}

// A port list that changes while a port is open is taken up once the port has closed.
TEST_F(Session, ThePortListFollowsNewPortsAfterAPortWasOpen) {
  test::uiApp("ui_session_test");
  sim_ = std::make_unique<SimProcess>();
  ASSERT_TRUE(sim_->started());
  auto ports = std::make_shared<std::vector<PortEntry>>(
      std::vector<PortEntry>{{sim_->port(), QStringLiteral("dovu-sim"), PortKind::Simulator}});
  struct Shared : PortSource {
    std::shared_ptr<std::vector<PortEntry>> list_;
    std::optional<std::vector<PortEntry>> list() override { return *list_; }
  };
  auto source = std::make_unique<Shared>();
  source->list_ = ports;
  main_ = std::make_unique<ui::MainWindow>(std::move(source), &notes_);
  main_->createDialogs();
  main_->show();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  ports->push_back({QStringLiteral("/dev/ttyNOWY"), QStringLiteral("nowy"), PortKind::Simulator});
  find<QPushButton>("Button_rozlacz")->click();
  EXPECT_TRUE(waitFor([&] { return main_->comCombo()->findData(QStringLiteral("/dev/ttyNOWY")) >= 0; }, 5000));
}

}  // namespace

namespace {

Bytes statusRecord() {
  Bytes r(18, '\0');
  r[2] = 19;   // connected
  r[3] = 15;   // signal
  r[6] = 125;  // DC 12,5V
  r[7] = 230;  // EX 23,0V
  return r;
}

void setWord(Bytes& r, std::size_t at, int w) {
  r[at] = static_cast<char>(w & 0xFF);
  r[at + 1] = static_cast<char>(w >> 8);
}

void show(Form& form, const Bytes& record) {
  const auto r = StatusRecord::decode(record);
  ASSERT_TRUE(r.has_value());
  dovu::ui::SessionView::showStatus(form, *r);
}

}  // namespace

// ---- the live status view ------------------------------------------------------------------------

TEST(SessionView, StatusRecordDrawsTheLiveView) {
  dovu::test::app();
  Form form;
  Bytes r = statusRecord();
  r[0] = static_cast<char>(0x01 | 0x04 | 0x20 | 0x80);  // IN1, IN3, OUT1, OUT3
  r[1] = 0x3F;                                          // 63 events, OUT4 off, flag clear
  r[4] = 7;
  r[5] = 2;
  setWord(r, 8, 256);  // T1 +12,5
  setWord(r, 10, 0);   // T2 no reading
  r[12] = static_cast<char>(0x40 | 0x20 | 0x08 | 0x03);  // T1 green, T2 red, EX ok, DC alarm, T3 blue
  setWord(r, 13, 565);
  setWord(r, 15, 251);
  r[17] = 0x02;
  show(form, r);

  EXPECT_EQ(form.colour("PanelIN1"), kBrightGreen);
  EXPECT_EQ(form.colour("PanelIN2"), kRed);
  EXPECT_EQ(form.colour("PanelIN3"), kBrightGreen);
  EXPECT_EQ(form.colour("PanelPK"), kRed);
  EXPECT_EQ(form.colour("PanelOut2"), kBrightGreen);
  EXPECT_EQ(form.colour("PanelOut3"), kRed);
  EXPECT_EQ(form.colour("PanelOut4"), kBrightGreen);
  EXPECT_EQ(form.colour("PanelFab"), kRed);
  EXPECT_EQ(form.text("LabelZd"), QStringLiteral("Zd: 63"));
  EXPECT_EQ(form.text("StatusBar"), QStringLiteral("Połączony z siecią GSM"));
  EXPECT_EQ(form.state("BarRSSI").value, 15);
  EXPECT_EQ(form.text("LabelSMS"), QStringLiteral("7 z"));
  EXPECT_EQ(form.text("LabelVoice"), QStringLiteral("2 z"));
  EXPECT_EQ(form.text("Udc"), QStringLiteral("12,5V"));
  EXPECT_EQ(form.text("Uac"), QStringLiteral("23,0V"));
  EXPECT_EQ(form.colour("Udc"), kRed);
  EXPECT_EQ(form.colour("Uac"), kBrightGreen);
  EXPECT_EQ(form.text("Temp1"), QStringLiteral("+12,5"));
  EXPECT_EQ(form.colour("Temp1"), kBrightGreen);
  EXPECT_EQ(form.text("Temp2"), QString());  // no reading, still coloured
  EXPECT_EQ(form.colour("Temp2"), kRed);
  EXPECT_EQ(form.text("Temp3"), QStringLiteral("+25,1"));
  EXPECT_EQ(form.colour("Temp3"), kSkyBlue);
  EXPECT_EQ(form.text("Wilg"), QStringLiteral("56,5%"));
  EXPECT_EQ(form.colour("Wilg"), kRed);
  EXPECT_TRUE(form.state("Icon_get").enabled);
  EXPECT_TRUE(form.state("Icon_put").enabled);
}

TEST(SessionView, StatusRecordEdgeValues) {
  dovu::test::app();
  Form form;
  struct Case {
    int rssi, bar;
  };
  for (Case c : {Case{99, 0}, Case{21, 20}, Case{23, 20}, Case{22, 20}, Case{0, 0}}) {
    Bytes r = statusRecord();
    r[3] = static_cast<char>(c.rssi);
    show(form, r);
    EXPECT_EQ(form.state("BarRSSI").value, c.bar) << c.rssi;
  }

  Bytes r = statusRecord();
  setWord(r, 15, 65000);
  setWord(r, 13, 64000);
  r[1] = static_cast<char>(0xC0);
  show(form, r);
  EXPECT_EQ(form.text("Temp3"), QString());
  EXPECT_EQ(form.text("Wilg"), QStringLiteral("6400,0%"));
  EXPECT_EQ(form.text("LabelZd"), QStringLiteral("Zd: 0"));
  EXPECT_EQ(form.colour("PanelFab"), kBrightGreen);
  EXPECT_EQ(form.colour("PanelOut4"), kRed);

  setWord(r, 15, 65001);
  setWord(r, 13, 64001);
  r[2] = 100;
  show(form, r);
  EXPECT_EQ(form.text("Temp3"), QStringLiteral("-3223,3"));
  EXPECT_EQ(form.text("Wilg"), QString());
  EXPECT_EQ(form.text("StatusBar"), QStringLiteral("RESET modemu GSM"));
  r[2] = 20;
  show(form, r);
  EXPECT_EQ(form.text("StatusBar"), QString());
}

// The window's session against the simulated controller on a pseudo-terminal: login accepted and
// refused, no answer, an answer during the second attempt, the once-a-second poll (never while
// the password dialog is open), connecting again while connected, logout, and closing the window
// while logged in.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "support/sim.h"
#include "support/testapp.h"
#include "support/uiapp.h"
#include "exchange/transfer.h"
#include "storage/configfile.h"
#include "ui/application.h"
#include "ui/configfileui.h"
#include "ui/mainwindow.h"

using namespace dovu;
using dovu::test::SimProcess;
using dovu::test::waitFor;

namespace {

int countFrames(const SimProcess& sim, int code, const Bytes& payload = {}) {
  int n = 0;
  for (const auto& f : sim.framesFromPc())
    if (f.code() == code && (payload.empty() || f.bytes.substr(3, payload.size()) == payload)) ++n;
  return n;
}

void idle(int ms) { waitFor([] { return false; }, ms); }

class Session : public ::testing::Test {
 protected:
  void start(QStringList simArgs = {}) {
    test::uiApp("ui_session_test");
    sim_ = std::make_unique<SimProcess>(std::move(simArgs));
    ASSERT_TRUE(sim_->started());
    main_ = std::make_unique<ui::Main>(
        std::make_unique<test::FixedPorts>(std::vector<PortEntry>{{sim_->port(), QStringLiteral("dovu-sim")}}),
        &notes_);
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
  void connectClick() { find<QPushButton>("Button_polacz")->click(); }
  // Frames reach the simulator's log a moment after they are written.
  bool logged(int code, int count) {
    return waitFor([&] { return countFrames(*sim_, code) >= count; }, 2000);
  }

  test::RecordingNotifier notes_;
  std::unique_ptr<SimProcess> sim_;
  std::unique_ptr<ui::Main> main_;
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

  // About one poll a second.
  const int before = countFrames(*sim_, 253);
  QElapsedTimer clock;
  clock.start();
  idle(3200);
  const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
  const int polls = countFrames(*sim_, 253) - before;
  EXPECT_GE(polls, static_cast<int>(seconds) - 1);
  EXPECT_LE(polls, static_cast<int>(seconds) + 1);
  EXPECT_TRUE(notes_.events.empty());

  find<QPushButton>("Button_rozlacz")->click();
  EXPECT_EQ(countFrames(*sim_, 2), 1);
  EXPECT_EQ(notes_.count("Wylogowano ze sterownika DOVU"), 1);
  EXPECT_FALSE(main_->port().isOpen());
  EXPECT_EQ(text("Edit_status"), "ROZŁĄCZONY");
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_FALSE(find("Icon_get")->isEnabled());
  EXPECT_EQ(find<QLabel>("TextWersja")->text(), "DOVU v ...");
}

TEST_F(Session, RefusedPasswordStaysConnectedAndConnectAgainOnlyRepeatsTheLogin) {
  start({QStringLiteral("--refuse-password")});
  connectClick();
  EXPECT_EQ(notes_.count("Błędne hasło"), 1);
  EXPECT_GE(notes_.beeps(), 1);
  EXPECT_EQ(text("Edit_status"), "POŁĄCZONY");
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_TRUE(find("Button_polacz")->isEnabled());
  EXPECT_TRUE(main_->port().isOpen());

  connectClick();
  EXPECT_EQ(notes_.count("Błędne hasło"), 2);
  EXPECT_TRUE(logged(1, 2));
  EXPECT_EQ(countFrames(*sim_, 1), 2);
  EXPECT_TRUE(main_->port().isOpen());
  idle(1300);
  EXPECT_EQ(countFrames(*sim_, 253), 0);  // no poll before a login
}

TEST_F(Session, NoAnswerAfterThreeIdenticalLoginFrames) {
  start({QStringLiteral("--silent")});
  QElapsedTimer clock;
  clock.start();
  connectClick();
  const qint64 ms = clock.elapsed();
  EXPECT_GE(ms, 2500);
  EXPECT_LE(ms, 4500);
  ASSERT_TRUE(logged(1, 3));
  const auto frames = sim_->framesFromPc();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].bytes, frames[1].bytes);
  EXPECT_EQ(frames[1].bytes, frames[2].bytes);
  EXPECT_EQ(notes_.count("Brak odpowiedzi z Sterownika DOVU"), 1);
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
  EXPECT_EQ(text("Edit_status"), "POŁĄCZONY");
  EXPECT_TRUE(main_->port().isOpen());
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
  EXPECT_EQ(pollsInside, 0);
  EXPECT_EQ(countFrames(*sim_, 3, "4321"), 1);
  EXPECT_EQ(notes_.count("Hasło zmienione"), 1);
  EXPECT_EQ(text("Edit_haslo"), "4321");
  EXPECT_TRUE(main_->session().liveDisplay());
  // The poll comes back once the dialog has closed.
  const int after = countFrames(*sim_, 253);
  EXPECT_TRUE(waitFor([&] { return countFrames(*sim_, 253) > after; }, 2500));
}

TEST_F(Session, ClosingWhileLoggedInSendsNoLogout) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  QElapsedTimer clock;
  clock.start();
  main_->close();
  EXPECT_GE(clock.elapsed(), 900);
  EXPECT_FALSE(main_->port().isOpen());
  idle(300);
  EXPECT_EQ(countFrames(*sim_, 2), 0);
  EXPECT_EQ(text("Edit_logon"), "WYLOGOWANY");
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
  int sets = 0;
  for (const auto& f : sim_->framesFromPc())
    if (f.code() >= 5 && f.code() <= 105 && f.code() % 2 == 1) ++sets;
  EXPECT_EQ(sets, 0);
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
  auto sets = [this] {
    int n = 0;
    for (const auto& f : sim_->framesFromPc())
      if (f.code() >= 5 && f.code() <= 105 && f.code() % 2 == 1) ++n;
    return n;
  };
  find<QAbstractButton>("Icon_put")->click();
  EXPECT_EQ(asked, QStringList{QString::fromUtf8(ui::kUploadDefaultsText)});
  idle(200);
  EXPECT_EQ(sets(), 0);

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("k.dvc"));
  Form file;
  file.setText("Edit_Tel1", QStringLiteral("+48500600700"));
  ASSERT_TRUE(saveConfigFile(file, path, notes_));
  ASSERT_TRUE(ui::loadConfigFileFromPath(main_->form(), notes_, path));
  find<QAction>("Zapisz1")->trigger();
  ASSERT_TRUE(waitFor([&] { return sets() > 0 && !main_->transfer().busy(); }, 30000));
  EXPECT_EQ(asked.size(), 1);
  EXPECT_EQ(sim_->dumped(8), "+48500600700");
}

TEST_F(Session, OneShotCommands) {
  start();
  connectClick();
  ASSERT_EQ(text("Edit_logon"), "ZALOGOWANY");
  find<QPushButton>("ButtonResetlimit")->click();
  find<QPushButton>("ButtonRestart")->click();
  EXPECT_TRUE(logged(254, 1));
  EXPECT_TRUE(logged(255, 1));
  EXPECT_EQ(countFrames(*sim_, 254, "G"), 1);
  EXPECT_EQ(countFrames(*sim_, 255, "B"), 1);
}

}  // namespace

// The login session against the simulated controller over a pseudo-terminal, without widgets.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>

#include "exchange/dispatcher.h"
#include "link/serialport.h"
#include "link/link.h"
#include "session/session.h"
#include "support/sim.h"
#include "support/simsession.h"
#include "support/testapp.h"
#include "wording.h"

using namespace dovu;
using dovu::test::SimProcess;
using dovu::test::waitFor;

namespace {

struct Rig : dovu::test::SimSession {
  using SimSession::SimSession;
  int countFromPc(int code) const {
    int n = 0;
    for (const auto& f : sim.framesFromPc()) n += f.code() == code;
    return n;
  }
};

}  // namespace

TEST(Session, LoginAcceptedShowsLoggedInAndPolls) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
  EXPECT_TRUE(r.session->connected());
  EXPECT_TRUE(r.session->loggedIn());
  EXPECT_TRUE(r.session->liveDisplay());
  // The simulator's version byte, as the window and the files show it.
  EXPECT_TRUE(r.session->firmwareVersion().startsWith(QStringLiteral("DOVU v "))) << r.session->firmwareVersion().toStdString();
  EXPECT_TRUE(r.notifier.events.empty());

  // The poll goes out about once a second while logged in and idle.
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(waitFor([&] { return r.countFromPc(253) >= 3; }, 6000));
  EXPECT_GE(t.elapsed(), 1800);
  // Never while a dialog holds the live display off.
  r.session->dialogOpened();
  const int before = r.countFromPc(253);
  waitFor([] { return false; }, 1500);
  EXPECT_LE(r.countFromPc(253), before + 1);  // at most the one already under way
  const int frozen = r.countFromPc(253);
  waitFor([] { return false; }, 1200);
  EXPECT_EQ(r.countFromPc(253), frozen);
  r.session->dialogClosed();
  EXPECT_TRUE(waitFor([&] { return r.countFromPc(253) > frozen; }, 3000));
}

TEST(Session, RefusedPasswordStaysConnected) {
  Rig r({QStringLiteral("--refuse-password")});
  ASSERT_TRUE(r.sim.started());
  EXPECT_EQ(r.connect(), Session::ConnectResult::Refused);
  EXPECT_EQ(r.notifier.count(Cause::WrongPassword), 1);
  EXPECT_EQ(r.notifier.beeps(), 1);
  EXPECT_TRUE(r.session->connected());
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_TRUE(r.port.isOpen());
}

TEST(Session, NoAnswerWritesLoginThreeTimes) {
  Rig r({QStringLiteral("--silent")});
  ASSERT_TRUE(r.sim.started());
  // Three attempts of ten ticks each, counted on the link's own tick.
  int ticks = 0;
  QObject::connect(&r.link->timer(), &QTimer::timeout, [&] { ++ticks; });
  EXPECT_EQ(r.connect(), Session::ConnectResult::NoAnswer);
  EXPECT_GE(ticks, 29);
  EXPECT_LE(ticks, 31);
  const auto sent = r.sim.framesFromPc();
  ASSERT_TRUE(waitFor([&] { return r.sim.framesFromPc().size() >= 3; }, 2000));
  const auto frames = r.sim.framesFromPc();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].bytes, frames[1].bytes);
  EXPECT_EQ(frames[1].bytes, frames[2].bytes);
  EXPECT_EQ(r.notifier.count(Cause::NoAnswer), 1);
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_TRUE(r.session->connected());
}

TEST(Session, AnswerDuringSecondAttemptEndsWait) {
  Rig r({QStringLiteral("--drop-code"), QStringLiteral("1:1")});
  ASSERT_TRUE(r.sim.started());
  EXPECT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
  r.session->liveOff();
  waitFor([] { return false; }, 300);
  EXPECT_EQ(r.countFromPc(1), 2);
  EXPECT_TRUE(r.notifier.events.empty());
}

TEST(Session, ConnectAgainRepeatsOnlyTheLoginAndCloseSendsNoLogout) {
  Rig r({QStringLiteral("--refuse-password")});
  ASSERT_TRUE(r.sim.started());
  r.connect();
  r.connect();
  EXPECT_EQ(r.countFromPc(1), 2);
  EXPECT_TRUE(r.port.isOpen());
  QElapsedTimer t;
  t.start();
  r.session->formClose();
  EXPECT_TRUE(r.port.isOpen()) << "open while the notifications drain";
  ASSERT_TRUE(waitFor([&] { return !r.port.isOpen(); }, 3000));
  EXPECT_GE(t.elapsed(), 900);
  EXPECT_EQ(r.countFromPc(2), 0);
}

TEST(Session, LogoutAnsweredShowsInformationAndCloses) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
  r.logout();
  EXPECT_EQ(r.countFromPc(2), 1);
  EXPECT_EQ(r.notifier.count(Cause::LoggedOut), 1);
  EXPECT_TRUE(waitFor([&] { return !r.port.isOpen(); }, 3000));
  EXPECT_FALSE(r.session->connected());
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_TRUE(r.session->firmwareVersion().isEmpty());
  EXPECT_FALSE(r.session->status().has_value());
}

TEST(Session, PasswordChangeTakesOnlyFourDigits) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
  r.session->liveOff();
  EXPECT_FALSE(r.changePassword(QStringLiteral("12345")));
  EXPECT_FALSE(r.changePassword(QStringLiteral("12a4")));
  EXPECT_FALSE(r.changePassword(QString()));
  EXPECT_EQ(r.countFromPc(3), 0);
  EXPECT_TRUE(r.changePassword(QStringLiteral("4321")));
  EXPECT_EQ(r.session->password(), QStringLiteral("4321"));
  EXPECT_EQ(r.notifier.count(Cause::PasswordChanged), 1);
  // The controller now takes the new password only.
  r.session->formClose();
  r.session->setPassword(QStringLiteral("8617"));
  EXPECT_EQ(r.connect(), Session::ConnectResult::Refused);
  r.session->setPassword(QStringLiteral("4321"));
  EXPECT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
}

TEST(Session, PortThatCannotOpenSaysWhy) {
  dovu::test::app();
  dovu::test::RecordingNotifier notifier;
  SerialPort port;
  port.setPort(QStringLiteral("/dev/does-not-exist-dovu"));
  Link link(&port);
  Session session(link);
  session.setPassword(QString::fromLatin1(kDefaultPassword));
  notifier.listen(&link);
  notifier.listen(&session);
  EXPECT_EQ(session.connectAndLogin(), Session::ConnectResult::PortUnavailable);
  ASSERT_EQ(notifier.count(Cause::PortUnavailable), 1);
  EXPECT_TRUE(notifier.events.back().detail.contains(QStringLiteral("/dev/does-not-exist-dovu")));
  EXPECT_FALSE(session.connected());
}

TEST(Session, FailedPortSwitchWhileLoggedInLeavesDisconnectedWithTheReason) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
  EXPECT_FALSE(r.session->selectPort(QStringLiteral("/dev/does-not-exist-dovu")));
  ASSERT_EQ(r.notifier.count(Cause::PortUnavailable), 1);
  EXPECT_EQ(r.notifier.events.back().problem.subject, QStringLiteral("/dev/does-not-exist-dovu"));
  EXPECT_EQ(r.notifier.events.back().problem.reason, Cause::PortNotFound);
  EXPECT_FALSE(r.port.isOpen());
  EXPECT_FALSE(r.session->connected());
  EXPECT_FALSE(r.session->loggedIn());
  // Nothing keeps talking to the closed port.
  const auto before = r.notifier.events.size();
  const int polls = r.countFromPc(253);
  waitFor([] { return false; }, 1300);
  EXPECT_EQ(r.notifier.events.size(), before);
  EXPECT_EQ(r.countFromPc(253), polls);
}

// A port error reaches the user as its reason, never the component's numbered text; a refused
// port gets the group hint only for a group other than root that may read and write it.
TEST(Session, PortErrorsInTheUsersWords) {
  EXPECT_EQ(Session::portErrorCause(SerialPortError(kQueueStatusFailed, EIO)), Cause::PortDeviceLost);
  EXPECT_EQ(Session::portErrorCause(SerialPortError(kWriteFailed, ETIMEDOUT)), Cause::PortWriteTimedOut);
  EXPECT_EQ(Session::portErrorCause(SerialPortError(kNotOpen)), Cause::PortNotOpen);
  auto detail = [](const SerialPortError& e, const QString& port) {
    const Problem p = Session::portProblem(e, port);
    EXPECT_EQ(p.reason, Cause::PortPermissionDenied);
    return cli::englishReason(p);
  };

  QTemporaryDir dir;
  const QString device = dir.filePath(QStringLiteral("ttyFake"));
  QFile(device).open(QIODevice::WriteOnly);
  const QByteArray path = QFile::encodeName(device);
  const SerialPortError refused(kOpenFailed, EACCES);
  ASSERT_EQ(::chmod(path.constData(), 0600), 0);
  QString words = detail(refused, device);
  EXPECT_FALSE(words.contains(QStringLiteral("usermod"))) << words.toStdString();
  EXPECT_TRUE(words.contains(QStringLiteral("only user "))) << words.toStdString();

  // A group that may open the port, and is not root: joining it is the advice.
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(path.constData(), static_cast<uid_t>(-1), 20), 0);
  }
  ASSERT_EQ(::chmod(path.constData(), 0660), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.constData(), &st), 0);
  words = detail(refused, device);
  EXPECT_EQ(words.contains(QStringLiteral("sudo usermod -a -G")), st.st_gid != 0) << words.toStdString();
  // Root's group, even with read and write: never the advice to join it.
  if (::getuid() == 0) {
    ASSERT_EQ(::chown(path.constData(), static_cast<uid_t>(-1), 0), 0);
    words = detail(refused, device);
    EXPECT_FALSE(words.contains(QStringLiteral("usermod"))) << words.toStdString();
    EXPECT_TRUE(words.contains(QStringLiteral("group root"))) << words.toStdString();
  }
}

TEST(Session, UnplugIsReportedOnceAndLeavesDisconnected) {
  Rig r({QStringLiteral("--unplug-after"), QStringLiteral("2")});
  ASSERT_TRUE(r.sim.started());
  ASSERT_EQ(r.connect(), Session::ConnectResult::LoggedIn);
  ASSERT_TRUE(waitFor([&] { return !r.port.isOpen(); }, 8000));
  EXPECT_FALSE(r.session->connected());
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_EQ(r.notifier.count(Cause::PortUnavailable), 1);
  EXPECT_EQ(r.notifier.events.back().problem.subject, r.sim.port());
  EXPECT_EQ(r.notifier.events.back().problem.reason, Cause::PortDeviceLost);
}

TEST(Session, VersionFromTheLoginAnswer) {
  auto version = [](std::initializer_list<int> b) {
    Bytes p;
    for (int c : b) p.push_back(static_cast<char>(c));
    return Session::versionOf(p);
  };
  EXPECT_EQ(version({0x54}), QString());  // too short
  EXPECT_EQ(version({0x54, 0x2F}), QString());
  EXPECT_EQ(version({0x4E, 0x30}), QStringLiteral("DOVU v 1.0"));  // also with a refused password
  EXPECT_EQ(version({0x54, 0x31}), QStringLiteral("DOVU v 1.1"));
  EXPECT_EQ(version({0x54, 0x3A}), QStringLiteral("DOVU v 2.0"));
}

// What goes on the wire in each flow, frame by frame with the tick it went out on, compared with
// the traces recorded in tests/data/wire.  Set DOVU_RECORD_WIRE=1 to write them anew.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QTimer>

#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "firmware/bootloader.h"
#include "link/framecodec.h"
#include "link/link.h"
#include "model/params.h"
#include "session/session.h"
#include "storage/checkedfile.h"
#include "support/simsession.h"
#include "support/testapp.h"

using namespace dovu;
using dovu::test::waitFor;

namespace {

// The rig with every frame in either direction, stamped with the time since the flow's first frame
// in ticks of 100 ms (of the clock: the link's own tick count stood still while the event loop
// was blocked).  A frame from the controller is kept by its code only: the status record changes
// with the simulator's clock.  As in the window, a completed download becomes what the window holds
// (its access password kept) and an upload sends that.
struct Rig : dovu::test::SimSession {
  explicit Rig(QStringList simArgs = {}) : SimSession(std::move(simArgs)) {
    dispatcher.attach(*link);
    transfer = std::make_unique<ConfigTransfer>(*link, *session);
    notifier.listen(transfer.get());
    QObject::connect(transfer.get(), &ConfigTransfer::downloaded,
                     [this](const Configuration& c) {
                       const QString password = window.password;
                       window = c;
                       window.password = password;
                     });
    QObject::connect(&link->timer(), &QTimer::timeout, [this] { ++ticks; });
    clock.start();
    QObject::connect(link.get(), &Link::frameTraced, [this](bool out, const Bytes& frame) {
      if (lines.empty()) first = clock.elapsed();
      const qint64 at = (clock.elapsed() - first + 50) / 100;
      lines << (out ? QStringLiteral("%1 > %2").arg(at).arg(QString::fromStdString(toHex(frame)))
                    : QStringLiteral("%1 < %2").arg(at).arg(byteAt(frame, 1)));
    });
  }
  bool login() {
    return connect() == Session::ConnectResult::LoggedIn;
  }
  bool runTransfer(bool up) {
    bool done = false, ok = false;
    QObject::connect(transfer.get(), &ConfigTransfer::finished, [&](bool result) {
      done = true;
      ok = result;
    });
    up ? transfer->requestUpload(window) : transfer->requestDownload();
    return waitFor([&] { return done; }, 60000) && ok;
  }
  // Waits until no frame has gone out or come in for `quietMs`.
  void settle(int quietMs = 1500) {
    int seen = -1;
    while (seen != lines.size()) {
      seen = lines.size();
      const int at = ticks;
      waitFor([&] { return lines.size() != seen || ticks - at >= quietMs / 100; }, quietMs + 1000);
    }
  }

  Dispatcher dispatcher;
  std::unique_ptr<ConfigTransfer> transfer;
  int ticks = 0;
  QElapsedTimer clock;
  qint64 first = 0;
  QStringList lines;
};

QString tracePath(const char* flow) {
  return QStringLiteral(DOVU_TEST_DATA "/wire/%1.trace").arg(QString::fromLatin1(flow));
}

// Compares with the recorded trace: the same frames in the same order, each following the one
// before after the same time within two ticks (a loaded machine delays single steps, and a long
// flow's total time varies with it).
void expectTrace(const char* flow, const QStringList& lines) {
  const QString path = tracePath(flow);
  if (qEnvironmentVariableIsSet("DOVU_RECORD_WIRE")) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QTextStream(&f) << lines.join(QLatin1Char('\n')) << '\n';
    return;
  }
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  const QStringList want = QString::fromLatin1(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), want.size()) << flow << "\n" << lines.join(QLatin1Char('\n')).toStdString();
  auto at = [](const QString& line) { return line.left(line.indexOf(QLatin1Char(' '))).toInt(); };
  auto what = [](const QString& line) { return line.mid(line.indexOf(QLatin1Char(' '))).toStdString(); };
  for (int i = 0; i < want.size(); ++i) {
    EXPECT_EQ(what(lines[i]), what(want[i])) << flow << " line " << i;
    if (i > 0) {
      EXPECT_NEAR(at(lines[i]) - at(lines[i - 1]), at(want[i]) - at(want[i - 1]), 2) << flow << " line " << i;
    }
  }
}

Bytes firmwareImage() {
  Bytes image(300, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
  Bytes file = "dvf" + image;
  file.push_back(static_cast<char>(xorChecksum(file, file.size())));
  return file;
}

}  // namespace

TEST(Wire, SessionFlows) {
  {
    // Log in, two polls, change the password, reset the counters, log out.
    Rig r;
    ASSERT_TRUE(r.sim.started());
    ASSERT_TRUE(r.login());
    ASSERT_TRUE(waitFor([&] { return r.lines.size() >= 6; }, 5000));
    ASSERT_TRUE(r.changePassword(QStringLiteral("8617")));
    r.session->resetCounters();
    r.settle(300);
    r.logout();
    ASSERT_TRUE(waitFor([&] { return !r.session->portOpen(); }, 5000));
    expectTrace("session", r.lines);
  }
  {
    // The controller answers again 3.5 s after the restart: between two login attempts.
    Rig r({QStringLiteral("--boot-ms"), QStringLiteral("3500")});
    ASSERT_TRUE(r.sim.started());
    ASSERT_TRUE(r.login());
    // The restart the window asks for: two silent seconds, then logins until the controller has
    // booted and answers.
    r.session->restartDevice();
    ASSERT_TRUE(waitFor([&] { return r.session->loggedIn(); }, 20000));
    expectTrace("restart", r.lines);
  }
  {
    // A controller that never answers: three attempts, then the window is logged out.
    Rig r({QStringLiteral("--silent")});
    ASSERT_TRUE(r.sim.started());
    EXPECT_FALSE(r.login());
    r.settle();
    expectTrace("login-no-answer", r.lines);
  }
  {
    Rig r({QStringLiteral("--refuse-password")});
    ASSERT_TRUE(r.sim.started());
    EXPECT_FALSE(r.login());
    r.settle();
    expectTrace("login-refused", r.lines);
  }
}

TEST(Wire, TransferFlows) {
  {
    Rig r;
    ASSERT_TRUE(r.sim.started());
    ASSERT_TRUE(r.login());
    r.session->liveOff();  // no polls between the flows: their phase is not the flows'
    r.settle(300);
    r.lines.clear();
    ASSERT_TRUE(r.runTransfer(false));
    expectTrace("download", r.lines);
    r.lines.clear();
    r.window.telephones[0] = QStringLiteral("+48500100200");
    ASSERT_TRUE(r.runTransfer(true));
    expectTrace("upload", r.lines);
  }
  {
    // A lost answer is asked again; one that never comes ends the download.
    Rig r({QStringLiteral("--drop-code"), QStringLiteral("10:1"), QStringLiteral("--silent-from"), QStringLiteral("20")});
    ASSERT_TRUE(r.sim.started());
    ASSERT_TRUE(r.login());
    r.session->liveOff();
    r.settle(300);
    r.lines.clear();
    EXPECT_FALSE(r.runTransfer(false));
    r.settle();
    expectTrace("download-no-answer", r.lines);
  }
}

TEST(Wire, FirmwareFlows) {
  for (const char* flow : {"flash", "flash-missed-ack", "flash-no-answer"}) {
    QStringList args;
    if (QByteArray(flow) == "flash-missed-ack") args = {QStringLiteral("--miss-ack"), QStringLiteral("1:1")};
    if (QByteArray(flow) == "flash-no-answer") args = {QStringLiteral("--never-ack")};
    Rig r(args);
    ASSERT_TRUE(r.sim.started());
    ASSERT_TRUE(r.login());
    r.session->liveOff();
    r.settle(300);
    r.lines.clear();
    FirmwareUpdate update(*r.link, r.session.get());
    update.onNotice = r.notifier.shows();
    bool done = false;
    const auto file = checkFirmwareFile(firmwareImage(), r.notifier.collect());
    ASSERT_TRUE(file);
    update.onFinished = [&](FirmwareUpdate::Result) { done = true; };
    ASSERT_TRUE(update.start(*file));
    ASSERT_TRUE(waitFor([&] { return done; }, 30000));
    r.settle(500);
    expectTrace(flow, r.lines);
  }
}

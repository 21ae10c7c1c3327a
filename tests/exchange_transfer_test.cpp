// Download and upload of the whole configuration against the simulated controller over a
// pseudo-terminal, with its failure modes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>
#include <optional>

#include "support/bytes.h"

#include <QSocketNotifier>
#include <QTimer>

#include "dovu-sim/simcontroller.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "link/serialport.h"
#include "link/link.h"
#include "session/session.h"
#include "model/configuration.h"
#include "model/params.h"
#include "support/pty.h"
#include "support/sim.h"
#include "support/simsession.h"
#include "support/testapp.h"
#include "wording.h"

using namespace dovu;
using dovu::test::SimProcess;
using dovu::test::waitFor;

namespace {

const QString kNoAnswer = cli::englishText(Cause::NoAnswer);

const auto bytes = dovu::test::bytesOf;

Bytes payloadOf(const dovu::test::LoggedFrame& f) { return f.bytes.size() >= 4 ? f.bytes.substr(3, f.bytes.size() - 4) : Bytes(); }

// The session rig with the answer dispatch, the transfer, and every frame the link writes.  It
// keeps what the window does: the configuration it shows (a completed download replaces it, its
// access password kept) and the one the controller is known to hold (a completed download, each
// acknowledged parameter of an upload); an upload sends what the window shows.
struct Rig : dovu::test::SimSession {
  explicit Rig(QStringList simArgs = {}) : SimSession(std::move(simArgs)) {
    dispatcher.attach(*link);
    QObject::connect(link.get(), &Link::frameTraced, [this](bool out, const Bytes& frame) {
      if (out) sent.push_back(frame);
    });
    transfer = std::make_unique<ConfigTransfer>(*link, *session);
    notifier.listen(transfer.get());
    QObject::connect(transfer.get(), &ConfigTransfer::downloaded, [this](const Configuration& c) {
      ++downloads;
      const QString password = window.password;
      window = c;
      window.password = password;
      held = c;
      known = true;
    });
    QObject::connect(transfer.get(), &ConfigTransfer::parameterHeld, [this](std::size_t k) {
      for (const ConfigField* f : parameterFields(paramTable()[k])) setConfigValue(held, *f, configValue(transfer->uploaded(), *f));
    });
  }
  Configuration shown() const { return window; }
  // The fields the window shows otherwise than the controller is known to hold them (drawn red).
  std::vector<std::string> differing() const {
    std::vector<std::string> out;
    for (const ParamDef& p : paramTable())
      for (const ConfigField* f : parameterFields(p))
        if (differsForController(held, window, *f)) out.push_back(f->name.toStdString());
    return out;
  }
  // Time-outs are counted in ticks; a shorter tick keeps the no-answer cases quick.
  void tickMs(int ms) { link->timer().setInterval(ms); }
  bool login() { return connect() == Session::ConnectResult::LoggedIn; }
  // Runs a transfer to its end; false when it was refused or did not finish.
  bool run(bool up) {
    bool done = false, ok = false;
    QObject context;
    QObject::connect(transfer.get(), &ConfigTransfer::finished, &context, [&](bool result) {
      done = true;
      ok = result;
    });
    if (!(up ? transfer->startUpload(shown()) : transfer->startDownload())) return false;
    return waitFor([&] { return done; }, 120000) && ok;
  }
  // One status request run to its end; true when answered.
  bool poll() {
    std::optional<Request::Outcome> outcome;
    Request status;
    status.code = 253;
    status.payload = "G";
    status.ticks = kSessionTicks;
    status.done = [&](Request::Outcome o) { outcome = o; };
    link->send(std::move(status));
    waitFor([&] { return outcome.has_value(); }, 30000);
    return outcome == Request::Outcome::Answered;
  }
  bool download() { return run(false); }
  bool upload() { return run(true); }
  // Parameter requests the simulator received (session and poll codes left out), in order.
  std::vector<int> paramCodes() const {
    std::vector<int> out;
    for (const auto& f : sim.framesFromPc())
      if (f.code() >= 4 && f.code() <= 105) out.push_back(f.code());
    return out;
  }

  Dispatcher dispatcher;
  std::unique_ptr<ConfigTransfer> transfer;
  std::vector<Bytes> sent;
  int downloads = 0;  // configurations handed over
  Configuration held = defaultConfiguration();
  bool known = false;  // the whole configuration was read
};

std::vector<int> evenCodes(int from, int to) {
  std::vector<int> v;
  for (int c = from; c <= to; c += 2) v.push_back(c);
  return v;
}

// The download read what the simulator holds, the window shows it, and no field differs from it.
void expectFieldsMatchSim(const Rig& r) {
  for (const ParamDef& p : paramTable()) {
    EXPECT_EQ(toHex(encodeParameter(r.transfer->configuration(), p)), toHex(r.sim.dumped(p.readCode))) << int(p.readCode);
    EXPECT_EQ(toHex(encodeParameter(r.window, p)), toHex(r.sim.dumped(p.readCode))) << int(p.readCode);
  }
  EXPECT_EQ(r.differing(), std::vector<std::string>{});
  EXPECT_TRUE(r.known);
}

// A configuration unlike the simulator's: every text at its limit with Polish letters (one
// telephone empty), a matrix pattern and chosen block values.
const char* const kLetters = "Zażółć gęślą jaźń ĄĆĘŁŃÓŚŹŻ 0123456789 abcdefghij";

std::string textFor(const ParamDef& p) {
  const std::u32string all = QString::fromUtf8(kLetters).toStdU32String();
  std::u32string t;
  for (int i = 0; i < p.limit; ++i) t += all[(static_cast<std::size_t>(i) + p.readCode) % all.size()];
  return QString::fromStdU32String(t).toStdString();
}

void fillDistinct(Configuration& c) {
  for (const ParamDef& p : paramTable())
    if (p.kind == PayloadKind::Text) setConfigValue(c, *configFieldNamed(QString::fromLatin1(p.field)), QString::fromStdString(textFor(p)));
  c.telephones[4] = QString();
  const auto& cells = matrixFieldsInImageOrder();
  for (std::size_t i = 0; i < cells.size(); ++i) setConfigValue(c, *configFieldNamed(QString::fromLatin1(cells[i])), i % 3 == 0);
  c.outputs[1].normallyClosed = true;
  c.outputs[2].monostable = true;
  c.confirm = c.miniCa = c.out1Siren = true;
  c.reply.t2 = c.reply.humidity = true;
  c.smsLimit = 42;
  c.voiceLimit = 7;
  c.outputs[0].time = 1;
  c.outputs[1].time = 2;
  c.outputs[2].time = 33;
  c.outputs[3].time = 99;
  c.autoTestHours = 1;
  c.outputs[0].drivenBy = 3;
  c.outputs[1].drivenBy = 8;
  c.outputs[2].drivenBy = -1;
  c.outputs[3].drivenBy = 0;
  const std::uint8_t sensors[13] = {100, 200, 129, 140, 7, 135, 33, 120, 60, 190, 250, 10, 95};
  for (int i = 0; i < 13; ++i) c.thresholds[static_cast<SensorByte>(i)] = sensors[i];
  c.sensors[0].delay = 254;
  c.sensors[1].delay = 1;
  c.sensors[2].delay = 0;
  c.sensors[3].delay = 60;
}

// What the controller must hold after an upload of fillDistinct(), computed independently of the
// program's payload builders (the simulator's own Windows-1250 table for the texts).
Bytes expectedAfterFill(const ParamDef& p) {
  switch (p.kind) {
    case PayloadKind::Text:
      return p.readCode == 82 ? Bytes() : dovu::sim::toCp1250(textFor(p));
    case PayloadKind::Matrix: {
      Bytes b;
      for (int i = 0; i < 22; ++i) b.push_back(static_cast<char>(std::array<int, 3>{0x92, 0x49, 0x24}[i % 3]));
      return b;
    }
    case PayloadKind::OutputBlock:
      return bytes({0x42, 42, 7, 1, 2, 33, 99, 0x19, 1, 3, 8, 255, 0, 0x22});
    case PayloadKind::SensorBlock:
      return bytes({100, 200, 129, 140, 7, 135, 33, 120, 60, 190, 250, 10, 95});
    case PayloadKind::DelayBlock:
      return bytes({254, 1, 0, 60});
  }
  return {};
}

bool pollAfterLastParameter(const Rig& r) {
  const auto frames = r.sim.framesFromPc();
  bool seenLast = false;
  for (const auto& f : frames) {
    if (f.code() == 104 || f.code() == 105) seenLast = true;
    else if (seenLast && f.code() == 253) return true;
  }
  return false;
}

}  // namespace

TEST(Transfer, FullDownload) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_TRUE(r.login());
  std::vector<int> bars;
  QObject::connect(r.transfer.get(), &ConfigTransfer::progress, [&](int v) {
    bars.push_back(v);
    EXPECT_TRUE(r.transfer->busy());
    EXPECT_FALSE(r.transfer->resumedLive());
    EXPECT_FALSE(r.session->liveDisplay());
  });
  ASSERT_TRUE(r.download());

  EXPECT_EQ(r.paramCodes(), evenCodes(4, 104));
  for (const auto& f : r.sim.framesFromPc())
    if (f.code() >= 4 && f.code() <= 104) {
      EXPECT_EQ(payloadOf(f), Bytes("T"));
    }
  ASSERT_EQ(bars.size(), 52u);
  EXPECT_EQ(bars[1], 3);
  EXPECT_EQ(bars[25], 50);
  EXPECT_EQ(bars[50], 98);
  EXPECT_EQ(r.transfer->reached(), 100);
  EXPECT_FALSE(r.transfer->busy());

  expectFieldsMatchSim(r);
  const Configuration& read = r.transfer->configuration();
  EXPECT_EQ(read.inputs[1].normalText, QStringLiteral("Drzwi zamknięte"));
  EXPECT_EQ(read.sensors[1].lowText, QStringLiteral("Kotłownia: grozi zamarznięcie"));
  EXPECT_EQ(read.firmware, r.session->firmwareVersion());
  EXPECT_EQ(read.port, r.port.port());
  EXPECT_EQ(r.downloads, 1);
  EXPECT_EQ(operatorIndexOf(read.smsCentre), 1);
  EXPECT_TRUE(read.miniCa);  // the simulator runs in mini CA mode

  EXPECT_TRUE(r.transfer->resumedLive());
  EXPECT_TRUE(r.session->liveDisplay());
  EXPECT_TRUE(r.notifier.events.empty());
  EXPECT_TRUE(waitFor([&] { return pollAfterLastParameter(r); }, 3000)) << "the status poll resumes";
}

TEST(Transfer, DownloadStopsWhereTheControllerFallsSilent) {
  Rig r({QStringLiteral("--silent-from"), QStringLiteral("40")});
  ASSERT_TRUE(r.sim.started());
  r.tickMs(10);
  ASSERT_TRUE(r.login());
  EXPECT_FALSE(r.download());

  std::vector<int> expect = evenCodes(4, 40);
  expect.push_back(40);
  expect.push_back(40);
  EXPECT_EQ(r.paramCodes(), expect);
  EXPECT_EQ(r.notifier.count(kNoAnswer), 1);
  EXPECT_EQ(r.notifier.beeps(), 1);
  EXPECT_EQ(r.transfer->reached(), 36);
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_FALSE(r.session->liveDisplay());
  EXPECT_FALSE(r.transfer->busy());
  EXPECT_FALSE(r.transfer->resumedLive());
  EXPECT_FALSE(r.transfer->busy());
}

// A download that does not finish hands over nothing, so the window's configuration and what the
// controller is known to hold stay as they were, whether the controller falls silent or the line
// goes away; asked for from the window, it says so.
TEST(Transfer, AnUnfinishedDownloadLeavesTheWindowAsItWas) {
  for (const QStringList& fault : {QStringList{QStringLiteral("--silent-from"), QStringLiteral("40")},
                                   QStringList{QStringLiteral("--unplug-after"), QStringLiteral("20")}}) {
    SCOPED_TRACE(fault.join(QLatin1Char(' ')).toStdString());
    Rig r(fault);
    ASSERT_TRUE(r.sim.started());
    r.tickMs(10);
    ASSERT_TRUE(r.login());
    fillDistinct(r.window);
    for (const ParamDef& p : paramTable())
      if (p.readCode % 4 == 0)
        for (const ConfigField* f : parameterFields(p)) setConfigValue(r.held, *f, configValue(r.window, *f));
    const Configuration window = r.window, held = r.held;
    bool finished = false, ok = true;
    QObject::connect(r.transfer.get(), &ConfigTransfer::finished, [&](bool result) {
      finished = true;
      ok = result;
    });
    r.transfer->requestDownload();
    ASSERT_TRUE(waitFor([&] { return finished; }, 10000));
    EXPECT_FALSE(ok);
    EXPECT_GT(r.paramCodes().size(), 10u);
    EXPECT_EQ(r.downloads, 0);
    EXPECT_EQ(r.window, window);
    EXPECT_EQ(r.held, held);
    EXPECT_FALSE(r.known);
    EXPECT_TRUE(r.notifier.count(Cause::DownloadInterrupted) == 1);
    EXPECT_TRUE(waitFor([&] { return !r.session->loggedIn(); }, 3000));
  }
}

TEST(Transfer, NoAnswerToTheThresholdBlockLogsOutSilently) {
  Rig r({QStringLiteral("--drop-code"), QStringLiteral("80")});
  ASSERT_TRUE(r.sim.started());
  r.tickMs(10);
  ASSERT_TRUE(r.login());
  EXPECT_FALSE(r.download());
  const auto codes = r.paramCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 80), 3);
  EXPECT_EQ(codes.back(), 80);
  EXPECT_TRUE(r.notifier.events.empty());
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_EQ(r.transfer->reached(), 75);
  EXPECT_FALSE(r.transfer->busy());
}

TEST(Transfer, FullUpload) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_TRUE(r.login());
  // A text longer than the controller keeps (a loaded file may hold 255 characters): nothing is sent.
  r.window.telephones[2] = QString(14, QLatin1Char('1'));
  EXPECT_FALSE(r.upload());
  EXPECT_TRUE(r.paramCodes().empty());
  ASSERT_EQ(r.notifier.count(Cause::TextTooLong), 1);
  EXPECT_TRUE(r.notifier.events.back().detail.contains(QStringLiteral("Edit_Tel3")));
  r.notifier.events.clear();
  fillDistinct(r.window);
  ASSERT_TRUE(r.upload());

  const auto frames = r.sim.framesFromPc();
  std::vector<int> codes;
  for (const auto& f : frames) {
    if (f.code() < 4 || f.code() > 105) continue;
    codes.push_back(f.code());
    const ParamDef& p = *paramByCode(static_cast<std::uint8_t>(f.code()));
    EXPECT_EQ(toHex(payloadOf(f)), toHex(expectedAfterFill(p))) << f.code();
    EXPECT_EQ(toHex(r.sim.dumped(p.readCode)), toHex(expectedAfterFill(p))) << f.code();
  }
  EXPECT_EQ(codes, evenCodes(5, 105));
  EXPECT_EQ(r.sim.dumped(82), Bytes());

  EXPECT_EQ(r.transfer->reached(), 51);
  EXPECT_EQ(r.differing(), std::vector<std::string>{});
  EXPECT_FALSE(r.transfer->busy());
  EXPECT_TRUE(r.transfer->resumedLive());
  EXPECT_TRUE(r.session->liveDisplay());
  EXPECT_TRUE(r.notifier.events.empty());
  EXPECT_TRUE(waitFor([&] { return pollAfterLastParameter(r); }, 3000)) << "the status poll resumes";
}

// An upload sends the configuration it was given, whatever the window shows meanwhile, and says
// after each acknowledgement which parameter the controller now holds.
TEST(Transfer, AnUploadSendsTheConfigurationGivenAndTellsEachParameterHeld) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_TRUE(r.login());
  Configuration c = r.shown();
  c.telephones[0] = QStringLiteral("+48500100200");
  c.smsLimit = 9;
  c.pin = QStringLiteral("4321");
  std::vector<std::size_t> held;
  QObject::connect(r.transfer.get(), &ConfigTransfer::parameterHeld, [&](std::size_t k) {
    held.push_back(k);
    EXPECT_EQ(r.transfer->acknowledged(), held.size());
  });
  // The user types into telephone 1 while the upload runs.
  QObject::connect(r.transfer.get(), &ConfigTransfer::started, [&] { r.window.telephones[0] = QStringLiteral("+48777"); });
  bool done = false, ok = false;
  QObject::connect(r.transfer.get(), &ConfigTransfer::finished, [&](bool result) {
    done = true;
    ok = result;
  });
  const std::vector<std::size_t> only{0, 2, 25};
  ASSERT_TRUE(r.transfer->startUpload(c, only));
  ASSERT_TRUE(waitFor([&] { return done; }, 30000));
  EXPECT_TRUE(ok);
  EXPECT_EQ(held, only);
  EXPECT_EQ(r.paramCodes(), (std::vector<int>{5, 9, 55}));
  EXPECT_EQ(r.sim.dumped(4), Bytes("4321"));
  EXPECT_EQ(r.sim.dumped(8), Bytes("+48500100200"));
  EXPECT_EQ(byteAt(r.sim.dumped(54), 1), 9);
  EXPECT_EQ(r.transfer->toSend(), 3u);
  // The window knows what the controller holds: the value sent, not the one typed since.
  EXPECT_EQ(r.held.telephones[0], QStringLiteral("+48500100200"));
  // It differs from the window where the window was not sent (the PIN and the SMS limit came from
  // the configuration given) or was typed into since.
  EXPECT_EQ(r.differing(), (std::vector<std::string>{"pin", "telephones[0]", "limits.sms"}));
  EXPECT_FALSE(r.known) << "three parameters are not the whole configuration";
}

TEST(Transfer, UploadStopsWhereTheControllerFallsSilent) {
  Rig r({QStringLiteral("--silent-from"), QStringLiteral("63")});
  ASSERT_TRUE(r.sim.started());
  r.tickMs(10);
  ASSERT_TRUE(r.login());
  fillDistinct(r.window);
  EXPECT_FALSE(r.upload());

  std::vector<int> expect = evenCodes(5, 63);
  expect.push_back(63);
  expect.push_back(63);
  EXPECT_EQ(r.paramCodes(), expect);
  EXPECT_EQ(r.notifier.count(kNoAnswer), 1);
  EXPECT_EQ(r.transfer->reached(), 29);
  // What was acknowledged is held; every free text and threshold after it still differs.
  for (const ParamDef& p : paramTable()) {
    for (const ConfigField* f : parameterFields(p)) {
      if (p.setCode() < 63) {
        EXPECT_FALSE(differsForController(r.held, r.window, *f)) << f->name.toStdString();
      } else if ((f->type == ConfigFieldType::Text && f->chars == TextChars::Any) || f->type == ConfigFieldType::Byte) {
        EXPECT_TRUE(differsForController(r.held, r.window, *f)) << f->name.toStdString();
      }
    }
  }
  EXPECT_TRUE(differsForController(r.held, r.window, *configFieldNamed(QStringLiteral("ex.normalText"))));
  EXPECT_FALSE(r.session->loggedIn());
  EXPECT_FALSE(r.session->liveDisplay());
  EXPECT_FALSE(r.transfer->busy());
  EXPECT_FALSE(r.transfer->resumedLive());
}

TEST(Transfer, ClosingTheWindowEndsARunningTransfer) {
  Rig r({QStringLiteral("--delay"), QStringLiteral("150")});
  ASSERT_TRUE(r.sim.started());
  ASSERT_TRUE(r.login());
  r.session->liveOff();
  std::size_t sentAtClose = 0;
  // The window closes while the download waits for an answer.
  QTimer::singleShot(400, [&] {
    EXPECT_TRUE(r.link->waiting());
    sentAtClose = r.sent.size();
    r.link->abortWaits();
    r.session->formClose();
  });
  EXPECT_FALSE(r.download());
  EXPECT_GT(sentAtClose, 1u);
  EXPECT_EQ(r.sent.size(), sentAtClose) << "no frame after the close";
  EXPECT_FALSE(r.transfer->busy());
  EXPECT_FALSE(r.transfer->busy());
  EXPECT_TRUE(waitFor([&] { return !r.port.isOpen(); }, 3000));
  EXPECT_TRUE(r.notifier.events.empty());
  EXPECT_FALSE(r.upload());
  EXPECT_EQ(r.sent.size(), sentAtClose);
}

TEST(Transfer, ARunningExchangeRefusesAnother) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  ASSERT_TRUE(r.login());
  r.session->liveOff();
  int refused = 0;
  QObject::connect(r.transfer.get(), &ConfigTransfer::progress, [&](int v) {
    if (v == 0 || v == 50) {
      refused += !r.transfer->startUpload(r.shown());
      refused += !r.transfer->startDownload();
    }
  });
  // Started from the menu while the download waits for an answer.
  QTimer::singleShot(100, [&] { refused += !r.transfer->startUpload(r.shown()); });
  ASSERT_TRUE(r.download());
  EXPECT_EQ(refused, 5);
  for (int c : r.paramCodes()) EXPECT_EQ(c % 2, 0) << c;

  // Nor does a transfer start inside another wait (a poll under way): its waits would take over
  // the poll's answer and time-out.
  bool started = true;
  QTimer::singleShot(0, [&] { started = r.transfer->startDownload(); });
  EXPECT_TRUE(r.poll());
  EXPECT_FALSE(started);

  // A click there is kept and runs once the poll's wait is over.
  std::vector<bool> finished;
  QObject::connect(r.transfer.get(), &ConfigTransfer::finished, [&](bool ok) { finished.push_back(ok); });
  const std::size_t before = r.sent.size();
  QTimer::singleShot(0, [&] {
    r.transfer->requestUpload(r.shown());
    r.transfer->requestDownload();  // ignored: one is waiting to run
    EXPECT_TRUE(r.transfer->busy());
  });
  EXPECT_TRUE(r.poll());
  EXPECT_EQ(r.sent.size(), before + 1) << "nothing but the poll inside its wait";
  ASSERT_TRUE(waitFor([&] { return !finished.empty(); }, 5000));
  EXPECT_EQ(finished, std::vector<bool>{true});
  EXPECT_EQ(r.sent.size(), before + 1 + 51);
  EXPECT_TRUE(r.notifier.events.empty());
}

TEST(Transfer, AClickKeptDuringAFailingPollIsDroppedWithTheLogout) {
  Rig r({QStringLiteral("--drop-code"), QStringLiteral("253:3")});
  ASSERT_TRUE(r.sim.started());
  r.tickMs(20);
  ASSERT_TRUE(r.login());
  r.session->liveOff();
  QTimer::singleShot(0, [&] { r.transfer->requestDownload(); });
  // The poll goes unanswered three times: the window logs out, so the kept click must not run.
  EXPECT_FALSE(r.poll());
  EXPECT_FALSE(r.session->loggedIn());
  waitFor([] { return false; }, 300);
  EXPECT_FALSE(r.transfer->busy());
  EXPECT_TRUE(r.paramCodes().empty());
}

// The exchange on a poor line: answers in single bytes, noise in front of answers, one answer lost
// in each direction.
class TransferOnFaultyLine : public ::testing::TestWithParam<QStringList> {};

TEST_P(TransferOnFaultyLine, DownloadAndUploadComplete) {
  Rig r(GetParam());
  ASSERT_TRUE(r.sim.started());
  r.tickMs(20);
  ASSERT_TRUE(r.login());
  ASSERT_TRUE(r.download());
  expectFieldsMatchSim(r);
  fillDistinct(r.window);
  ASSERT_TRUE(r.upload()) << r.notifier.texts().join(QStringLiteral("; ")).toStdString() << " busy " << r.transfer->busy();
  for (const ParamDef& p : paramTable())
    EXPECT_EQ(toHex(r.sim.dumped(p.readCode)), toHex(encodeParameter(r.transfer->uploaded(), p))) << int(p.readCode);
  EXPECT_EQ(r.differing(), std::vector<std::string>{});
  EXPECT_TRUE(r.notifier.events.empty());
  EXPECT_TRUE(r.session->loggedIn());
}

const std::vector<QStringList> kLineFaults = {
    {QStringLiteral("--split")},
    {QStringLiteral("--noise")},
    {QStringLiteral("--drop-code"), QStringLiteral("40:1"), QStringLiteral("--drop-code"), QStringLiteral("41:1")},
    {QStringLiteral("--short-answer"), QStringLiteral("54:1"), QStringLiteral("--short-answer"), QStringLiteral("104:2")},
    {QStringLiteral("--unsolicited"), QStringLiteral("8"), QStringLiteral("--unsolicited"), QStringLiteral("54")},
    {QStringLiteral("--noisy-line")},
    // On a paced line the unasked frame is still arriving when the next request is due.
    {QStringLiteral("--baud-pace"), QStringLiteral("--unasked-at-once"), QStringLiteral("8")},
};
const char* const kLineFaultNames[] = {"Split", "Noise", "DroppedAnswers", "ShortBlocks", "Unsolicited", "NoisyLine",
                                       "UnaskedFrameStillArriving"};

INSTANTIATE_TEST_SUITE_P(Modes, TransferOnFaultyLine, ::testing::ValuesIn(kLineFaults),
                         [](const ::testing::TestParamInfo<QStringList>& info) {
                           return std::string(kLineFaultNames[info.index]);
                         });

TEST(Transfer, AShortBlockAnswerIsNoAnswer) {
  Rig r({QStringLiteral("--short-answer"), QStringLiteral("104")});
  ASSERT_TRUE(r.sim.started());
  r.tickMs(10);
  ASSERT_TRUE(r.login());
  const Configuration before = r.window;
  EXPECT_FALSE(r.download());
  EXPECT_EQ(r.downloads, 0);
  const auto codes = r.paramCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 104), 3);
  EXPECT_EQ(r.notifier.count(kNoAnswer), 1);
  EXPECT_EQ(r.transfer->reached(), 98);
  EXPECT_EQ(r.window, before);
  EXPECT_FALSE(r.session->loggedIn());
}

TEST(Transfer, AnIdleWindowKeepsTheUsersEditWhenAFrameComesUnasked) {
  Rig r({QStringLiteral("--unsolicited"), QStringLiteral("6")});
  ASSERT_TRUE(r.sim.started());
  r.tickMs(20);
  ASSERT_TRUE(r.login());
  r.window.smsCentre = QStringLiteral("+48111222333");
  ASSERT_EQ(r.differing(), std::vector<std::string>{"smsCentre"});
  // Status polls, each followed by a code-6 frame with another number, which the link drops.
  int dropped = 0;
  QObject::connect(r.link.get(), &Link::frameDropped, [&](std::uint8_t code) { dropped += code == 6; });
  ASSERT_TRUE(waitFor([&] { return dropped >= 2; }, 5000));
  EXPECT_EQ(r.window.smsCentre, QStringLiteral("+48111222333"));
  EXPECT_EQ(r.differing(), std::vector<std::string>{"smsCentre"});
  EXPECT_TRUE(r.session->loggedIn());
  EXPECT_TRUE(r.notifier.events.empty());
}

// A controller scripted on the master side of a pseudo-terminal: it answers each read with the
// simulator's value, and for chosen codes writes other bytes ahead of the answer in the same
// write, so that the program reads them in one piece.
struct ScriptedController {
  explicit ScriptedController(dovu::test::Pty& pty) : pty_(pty), notifier_(pty.master(), QSocketNotifier::Read) {
    assembler_.setHandler([this](std::uint8_t code, const Bytes&) {
      ++asked[code];
      const Bytes answer = buildFrame(code, dovu::sim::initialParameterValue(code), kControllerStart);
      const auto ahead = before.find(code);
      Bytes out = ahead != before.end() && asked[code] <= static_cast<int>(ahead->second.size())
                      ? ahead->second[static_cast<std::size_t>(asked[code] - 1)] + answer
                      : answer;
      pty_.write(out + behind);
    });
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] {
      char buf[512];
      const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
      if (n > 0) assembler_.feed(Bytes(buf, static_cast<std::size_t>(n)));
    });
  }
  // Per code, what goes ahead of its first, second, ... answer; what goes behind every answer.
  std::map<int, std::vector<Bytes>> before;
  Bytes behind;
  std::map<int, int> asked;

 private:
  dovu::test::Pty& pty_;
  QSocketNotifier notifier_;
  FrameAssembler assembler_{kPcStart, 255};
};

// What a read takes must not depend on how the bytes were split into reads, and a value the line
// may have doubled is only taken once two answers agree:
// - an over-long header right ahead of the answer (a broken frame) does not take the answer with it;
// - a well-formed frame of the awaited code ahead of the answer cannot be told from it, but the
//   frame behind it shows that the line was disturbed: the parameter is read again until two
//   answers agree, and the field ends with the controller's value;
// - the parameters far from the disturbance are read once.
// A download against the scripted controller, one answer a read: no time-out, no repetition.
struct ScriptedRig {
  ScriptedRig() {
    port.setPort(pty.slavePath());
    port.setBaudRate(4800);
    port.open();
    link.timer().stop();
    session.setPassword(QString::fromLatin1(kDefaultPassword));
    dispatcher.attach(link);
    QObject::connect(&transfer, &ConfigTransfer::finished, [this](bool result) {
      done = true;
      ok = result;
    });
  }
  ~ScriptedRig() { port.close(); }
  bool download() { return transfer.startDownload() && waitFor([this] { return done; }, 30000); }

  bool appMade = (test::app(), true);
  dovu::test::Pty pty;
  ScriptedController controller{pty};
  SerialPort port;
  Link link{&port};
  Session session{link};
  Dispatcher dispatcher;
  ConfigTransfer transfer{link, session};
  bool done = false, ok = false;
};

TEST(Transfer, AnswersAreFoundWhateverTheReadsAndADoubledValueIsReadAgain) {
  ScriptedRig r;
  ScriptedController& controller = r.controller;
  const Bytes wrongTel = buildFrame(8, "+48000000000", kControllerStart);
  controller.before[8] = {wrongTel};  // the first answer to code 8 comes behind a double
  controller.before[12] = {bytes({0x74, 12, 0x70})};  // a header whose length is over the limit
  ASSERT_TRUE(r.download());
  EXPECT_TRUE(r.ok);
  for (const ParamDef& p : paramTable())
    EXPECT_EQ(toHex(encodeParameter(r.transfer.configuration(), p)), toHex(dovu::sim::initialParameterValue(p.readCode)))
        << int(p.readCode);
  // The double taken, then two right answers that agree.
  EXPECT_EQ(controller.asked[8], 3);
  EXPECT_EQ(controller.asked[12], 2);
  int readOnce = 0;
  for (const ParamDef& p : paramTable()) readOnce += controller.asked[p.readCode] == 1;
  EXPECT_GE(readOnce, 45);
}

// A frame of code 8 nobody asked for comes behind every answer, and (as on a busy machine, where
// it lands behind the next request) ahead of every answer to code 8: each read of 8 takes it, so
// two reads agree on it.  It came far more often than code 8 was asked for: it is no answer, and
// the download says the line is too noisy rather than hand over a wrong telephone.
TEST(Transfer, AFrameRepeatedBehindEveryAnswerNeverPassesForTwoAgreeingAnswers) {
  ScriptedRig r;
  const Bytes stray = buildFrame(8, "+48999999999", kControllerStart);
  r.controller.behind = stray;
  r.controller.before[8] = std::vector<Bytes>(8, stray);
  std::vector<Notice> notices;
  QObject::connect(&r.transfer, &ConfigTransfer::notice, [&](const Notice& n) { notices.push_back(n); });
  int handedOver = 0;
  QObject::connect(&r.transfer, &ConfigTransfer::downloaded, [&] { ++handedOver; });
  ASSERT_TRUE(r.download());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(handedOver, 0);
  EXPECT_EQ(r.controller.asked[8], kMostReadsOfParameter);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].problem.cause, Cause::NoisyLine);
  // Every other parameter agreed with itself at once: the stray value alone is held back.
  EXPECT_LE(r.controller.asked[10], 2);
}

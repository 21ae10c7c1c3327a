// The simulated controller: in-process through SimController, and end to end through the dovu-sim
// program on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>

#include "support/bytes.h"
#include <set>

#include "dovu-sim/replay.h"
#include "dovu-sim/simcontroller.h"
#include "link/commands.h"
#include "link/framecodec.h"
#include "support/sim.h"
#include "support/testapp.h"

using namespace dovu;
using namespace dovu::sim;

namespace {

struct Frame {
  std::uint8_t code = 0;
  Bytes payload;
  bool ok = false;
};

// Decodes what the controller wrote the way the program does (at most 100 payload bytes).
Frame decode(const Bytes& wire) {
  Frame f;
  FrameAssembler a(kControllerStart, kMaxRxPayload);
  a.setHandler([&](std::uint8_t c, const Bytes& p) { f = {c, p, true}; });
  a.feed(wire);
  return f;
}

const auto bytes = dovu::test::bytesOf;

// A controller on a clock the test moves.
struct Sim {
  long long ms = 0;
  SimController c;
  explicit Sim(ControllerOptions o = {}) : c(std::move(o), [this] { return std::chrono::milliseconds(ms); }) {}
  // Exactly one answer frame, decoded.
  Frame ask(std::uint8_t code, const Bytes& payload = "T") {
    const auto out = c.onFrame(code, payload);
    if (out.size() != 1) return {};
    return decode(out[0]);
  }
  Bytes status() { return ask(kCodeStatus, "G").payload; }
  Bytes block(unsigned index, char fill) { return Bytes(1, static_cast<char>(index & 0xFF)) + Bytes(kBlockSize, fill); }
};

unsigned word(const Bytes& r, std::size_t at) { return byteAt(r, at) | byteAt(r, at + 1) << 8; }

}  // namespace

TEST(SimParameters, EveryReadCodeAnswersItsLayoutWithDistinctValues) {
  Sim s;
  ASSERT_EQ(parameterLayouts().size(), 51u);
  std::set<Bytes> seen;
  for (const auto& p : parameterLayouts()) {
    SCOPED_TRACE(p.field);
    const Frame f = s.ask(p.readCode);
    ASSERT_TRUE(f.ok) << "code " << int(p.readCode);
    EXPECT_EQ(f.code, p.readCode);
    EXPECT_FALSE(f.payload.empty());
    if (p.text)
      EXPECT_LE(f.payload.size(), p.size);
    else
      EXPECT_EQ(f.payload.size(), p.size);
    EXPECT_TRUE(seen.insert(f.payload).second) << "value repeated";
  }
  // A few values spelled out in the controller's code page.
  EXPECT_EQ(s.ask(6).payload, "+48602951111");
  EXPECT_EQ(s.ask(26).payload, "W\xB3" "amanie strefa 1");
  EXPECT_EQ(s.ask(28).payload.size(), 30u);  // a text at its limit
  EXPECT_EQ(s.ask(64).payload, "Niskie napi\xEA" "cie");
  EXPECT_EQ(s.ask(80).payload, bytes({125, 155, 131, 150, 2, 130, 140, 110, 123, 143, 5, 25, 85}));
  EXPECT_EQ(s.ask(104).payload, bytes({5, 10, 0, 30}));
  EXPECT_EQ(byteAt(s.ask(54).payload, 7) & 0x18, 0x18);  // BoxCA and BoxOut1sygn
}

TEST(SimParameters, CodePageCoversThePolishLetters) {
  EXPECT_EQ(toCp1250("ąćęłńóśźż"), bytes({0xB9, 0xE6, 0xEA, 0xB3, 0xF1, 0xF3, 0x9C, 0x9F, 0xBF}));
  EXPECT_EQ(toCp1250("ĄĆĘŁŃÓŚŹŻ"), bytes({0xA5, 0xC6, 0xCA, 0xA3, 0xD1, 0xD3, 0x8C, 0x8F, 0xAF}));
  EXPECT_EQ(toCp1250("a€b"), "a?b");
}

TEST(SimParameters, SetThenReadReturnsTheStoredValueWithinItsLimit) {
  Sim s;
  int changes = 0;
  s.c.setParametersChangedHandler([&] { ++changes; });
  for (const auto& p : parameterLayouts()) {
    SCOPED_TRACE(p.field);
    const Bytes value(p.size, static_cast<char>(0x80 + p.readCode / 2));
    const Frame ack = s.ask(p.readCode + 1, value);
    ASSERT_TRUE(ack.ok);
    EXPECT_EQ(ack.code, p.readCode + 1);
    EXPECT_EQ(s.ask(p.readCode).payload, value);
    EXPECT_EQ(s.c.parameter(p.readCode), value);
  }
  EXPECT_EQ(changes, 51);
  // Nothing beyond the field's limit is kept; an empty text is kept as empty.
  s.ask(9, "+48123456789012");
  EXPECT_EQ(s.ask(8).payload, "+481234567890");
  s.ask(57, "");
  EXPECT_EQ(s.ask(56).payload, "");
  const std::string dump = s.c.dump();
  EXPECT_NE(dump.find("\n56\n"), std::string::npos);
  EXPECT_NE(dump.find("8 2B 34 38 31 32 33 34 35 36 37 38 39 30\n"), std::string::npos);
}

TEST(SimSession, LoginLogoutAndPasswordChange) {
  ControllerOptions o;
  o.version = ':';
  Sim s(o);
  EXPECT_EQ(s.ask(kCodeLogin, "8617").payload, bytes({0x54, ':'}));
  EXPECT_EQ(s.ask(kCodeLogin, "8618").payload, bytes({0x4E, ':'}));
  EXPECT_EQ(s.ask(kCodeLogin, "86171").payload.at(0), 0x4E);
  EXPECT_EQ(s.ask(kCodeLogout, "W").code, kCodeLogout);

  EXPECT_EQ(s.ask(kCodePassword, "1234").code, kCodePassword);
  EXPECT_EQ(s.ask(kCodeLogin, "8617").payload.at(0), 0x4E);
  EXPECT_EQ(s.ask(kCodeLogin, "1234").payload.at(0), 0x54);

  o.refusePassword = true;
  Sim refusing(o);
  EXPECT_EQ(refusing.ask(kCodeLogin, "8617").payload.at(0), 0x4E);
}

TEST(SimStatus, ModemClimbsToStage19AndReadingsStayPlausible) {
  Sim s;
  Bytes r = s.status();
  ASSERT_EQ(r.size(), kStatusSize);
  EXPECT_EQ(byteAt(r, 2), 0);
  EXPECT_EQ(byteAt(r, 3), 99);  // no signal level before the modem asked for it
  int previous = -1;
  std::set<int> inputs, t1;
  for (s.ms = 0; s.ms <= 600'000; s.ms += 1000) {
    r = s.status();
    ASSERT_EQ(r.size(), kStatusSize);
    const int stage = byteAt(r, 2);
    EXPECT_GE(stage, previous);
    EXPECT_LE(stage, 19);
    previous = stage;
    if (stage >= 18) {
      EXPECT_GE(byteAt(r, 3), 10);
      EXPECT_LE(byteAt(r, 3), 25);
    }
    EXPECT_GE(word(r, 8), 200u);
    EXPECT_LE(word(r, 8), 300u);
    EXPECT_GE(word(r, 10), 200u);
    EXPECT_LE(word(r, 10), 300u);
    EXPECT_LE(word(r, 13), 1000u);  // tenths of a percent
    EXPECT_NE(word(r, 15), 65000u);
    EXPECT_LT(word(r, 15) & 0x7FFF, 500u);
    inputs.insert(byteAt(r, 0) & 0x1F);
    t1.insert(static_cast<int>(word(r, 8)));
  }
  EXPECT_EQ(previous, 19);
  EXPECT_GT(inputs.size(), 1u);
  EXPECT_GT(t1.size(), 10u);
}

TEST(SimStatus, SensorStatesFollowTheStoredThresholds) {
  Sim s;
  s.ms = 30'000;
  EXPECT_EQ(byteAt(s.status(), 12) >> 6, 1);  // T1 within -3..+27
  Bytes limits = s.c.parameter(80);
  limits[1] = static_cast<char>(128);  // T1 above +0 is too warm
  limits[6] = static_cast<char>(200);  // EX below 20,0V is a failure
  s.ask(81, limits);
  const Bytes r = s.status();
  EXPECT_EQ(byteAt(r, 12) >> 6, 2);
  EXPECT_EQ(byteAt(r, 12) & 0x08, 0);
  EXPECT_NE(byteAt(r, 12) & 0x04, 0);  // DC still above its threshold
}

TEST(SimStatus, CounterResetAndRestart) {
  Sim s;
  Bytes r = s.status();
  EXPECT_EQ(byteAt(r, 4), 3);
  EXPECT_EQ(byteAt(r, 5), 1);
  EXPECT_TRUE(s.c.onFrame(kCodeResetCounters, "G").empty());
  r = s.status();
  EXPECT_EQ(byteAt(r, 4), 0);
  EXPECT_EQ(byteAt(r, 5), 0);
  s.ms = 100'000;
  r = s.status();
  EXPECT_EQ(byteAt(r, 4), 2);  // one SMS every 40 s
  EXPECT_EQ(byteAt(r, 5), 1);  // one call every 100 s
  EXPECT_EQ(byteAt(r, 2), 19);

  EXPECT_TRUE(s.c.onFrame(kCodeRestart, "B").empty());
  EXPECT_TRUE(s.c.inBootloader());
  // Nothing but firmware blocks is answered until the application has booted again.
  s.ms += ControllerOptions{}.bootMs - 1;
  EXPECT_TRUE(s.c.onFrame(kCodeStatus, "G").empty());
  EXPECT_TRUE(s.c.onFrame(kCodeLogin, "8617").empty());
  s.ms += 1;
  EXPECT_EQ(byteAt(s.status(), 2), ControllerOptions{}.bootMs / 1000);  // the modem started over
  EXPECT_FALSE(s.c.inBootloader());
}

TEST(SimBootloader, ImageWithRepetitionAndNumberWrap) {
  Sim s;
  Bytes received;
  s.c.setImageHandler([&](const Bytes& image) { received = image; });
  s.c.onFrame(kCodeRestart, "B");
  Bytes expected;
  for (unsigned i = 0; i < 300; ++i) {
    const char fill = static_cast<char>('A' + i % 50);
    ASSERT_EQ(s.c.onFrame(kCodeBlock, s.block(i, fill)), std::vector<Bytes>{"!"}) << "block " << i;
    expected += Bytes(kBlockSize, fill);
    if (i == 3 || i == 256) {
      // The acknowledgement was lost: the same block number again replaces the block.
      ASSERT_EQ(s.c.onFrame(kCodeBlock, s.block(i, 'z')), std::vector<Bytes>{"!"});
      expected.replace(i * kBlockSize, kBlockSize, kBlockSize, 'z');
    }
  }
  // Neither a skipped number nor a short block is taken.
  EXPECT_TRUE(s.c.onFrame(kCodeBlock, s.block(302, 'x')).empty());
  EXPECT_TRUE(s.c.onFrame(kCodeBlock, Bytes(5, '\0')).empty());
  EXPECT_EQ(s.c.rejectedBlocks(), 2u);
  EXPECT_TRUE(s.c.onFrame(kCodeEndTransfer, "K").empty());
  EXPECT_FALSE(s.c.inBootloader());
  EXPECT_EQ(s.c.completedTransfers(), 1u);
  EXPECT_EQ(received.size(), 300 * kBlockSize);
  EXPECT_EQ(received, expected);
  // Out of the bootloader, 101 is the set code of Edit_T3ok again.
  EXPECT_EQ(s.ask(kCodeBlock, "abc").code, kCodeBlock);
  EXPECT_EQ(s.c.parameter(100), "abc");
}

TEST(SimBootloader, MissedAndWithheldAcknowledgements) {
  ControllerOptions o;
  o.missAckBlock = 257;  // counted over the transfer, not by the wrapped number 1
  o.missAckTimes = 2;
  Sim s(o);
  s.c.onFrame(kCodeRestart, "B");
  for (unsigned i = 0; i < 257; ++i) ASSERT_EQ(s.c.onFrame(kCodeBlock, s.block(i, 'a')).size(), 1u) << i;
  EXPECT_TRUE(s.c.onFrame(kCodeBlock, s.block(257, 'b')).empty());
  EXPECT_TRUE(s.c.onFrame(kCodeBlock, s.block(257, 'c')).empty());
  EXPECT_EQ(s.c.onFrame(kCodeBlock, s.block(257, 'd')).size(), 1u);
  EXPECT_EQ(s.c.image().size(), 258 * kBlockSize);
  EXPECT_EQ(s.c.image().back(), 'd');

  ControllerOptions never;
  never.neverAck = true;
  Sim n(never);
  n.c.onFrame(kCodeRestart, "B");
  EXPECT_TRUE(n.c.onFrame(kCodeBlock, n.block(0, 'a')).empty());
  EXPECT_EQ(n.c.image().size(), kBlockSize);
}

TEST(SimFailureModes, AnswersAreLostOrDamagedAsTold) {
  ControllerOptions o;
  o.dropCode = {{253, 2}};
  o.longLength = {8};
  o.badChecksum = {10};
  o.silentFrom = 12;
  Sim s(o);
  EXPECT_FALSE(s.ask(253, "G").ok);
  EXPECT_FALSE(s.ask(253, "G").ok);
  EXPECT_TRUE(s.ask(253, "G").ok);
  const auto longOnce = s.c.onFrame(8, "T");
  ASSERT_EQ(longOnce.size(), 1u);
  EXPECT_GT(byteAt(longOnce[0], 2), 100);
  EXPECT_FALSE(decode(longOnce[0]).ok);
  EXPECT_TRUE(s.ask(8).ok);
  EXPECT_EQ(s.c.onFrame(10, "T").size(), 1u);
  EXPECT_FALSE(s.ask(10).ok);
  EXPECT_TRUE(s.ask(4).ok);
  EXPECT_TRUE(s.c.onFrame(12, "T").empty());
  EXPECT_TRUE(s.c.onFrame(4, "T").empty());

  ControllerOptions every;
  every.dropEvery = 3;
  every.noise = true;
  Sim e(every);
  int answered = 0;
  for (int i = 0; i < 9; ++i) {
    const auto out = e.c.onFrame(4, "T");
    if (out.empty()) continue;
    ++answered;
    const auto start = out[0].find(static_cast<char>(kControllerStart));
    EXPECT_GE(start, 1u);  // noise ahead of the frame, never a start byte
    EXPECT_LE(start, 4u);
    EXPECT_TRUE(decode(out[0]).ok);
  }
  EXPECT_EQ(answered, 6);
}

// Frames that answer nothing: they follow the answer, are well formed, and never carry the code
// the program asks next (no receiver could tell them from its answer).  A short block comes as
// often as told.
TEST(SimFailureModes, ShortBlocksAndFramesNobodyAskedFor) {
  ControllerOptions o;
  o.shortAnswer = {{54, 1}};
  o.unsolicited = 8;
  o.noisyLine = true;
  Sim s(o);
  EXPECT_EQ(decode(s.c.onFrame(54, "T").front()).payload.size(), 7u);
  EXPECT_EQ(decode(s.c.onFrame(54, "T").front()).payload.size(), 14u);
  for (int code = 4; code <= 105; ++code) {
    const auto out = s.c.handle(static_cast<std::uint8_t>(code), code % 2 ? Bytes("x") : Bytes("T"));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(decode(out.front().wire()).code, code);
    const std::size_t unasked = out.size() - 1;
    EXPECT_EQ(unasked, code == 6 ? 1u : 2u) << code;
    for (std::size_t i = 1; i < out.size(); ++i) {
      const Frame f = decode(out[i].wire());
      EXPECT_TRUE(f.ok && out[i].sentBy) << code;
      EXPECT_NE(f.code, code + 2) << code;
      if (f.code == 8) {
        EXPECT_NE(f.payload, s.c.parameter(8)) << "a value unlike the stored one";
      }
    }
  }
}

TEST(SimOptions, ParsesFailureModesAndRejectsBadValues) {
  const auto r = parseArguments({"--drop-code", "80:2", "--drop-code", "4", "--miss-ack", "300:3", "--bad-checksum",
                                 "all", "--password=1111", "--firmware-version", "2", "--baud-pace", "--split",
                                 "--delay-code", "253:1500", "--boot-ms", "5000", "--"});
  ASSERT_TRUE(r.options) << r.error;
  const auto& c = r.options->controller;
  ASSERT_EQ(c.dropCode.size(), 2u);
  EXPECT_EQ(c.dropCode[0].count, 2);
  EXPECT_LT(c.dropCode[1].count, 0);
  EXPECT_EQ(*c.missAckBlock, 300u);
  EXPECT_EQ(c.missAckTimes, 3);
  EXPECT_EQ(c.badChecksum, std::vector<int>{kAllCodes});
  EXPECT_EQ(c.password, "1111");
  EXPECT_EQ(c.version, '2');
  EXPECT_TRUE(r.options->baudPace && r.options->split);
  ASSERT_EQ(r.options->delayCode.size(), 1u);
  EXPECT_EQ(r.options->delayCode[0].code, 253);
  EXPECT_EQ(r.options->delayCode[0].ms, 1500);
  EXPECT_EQ(c.bootMs, 5000);
  for (auto bad : std::vector<std::vector<std::string>>{
           {"--drop-code", "256"}, {"--drop-every", "0"}, {"--firmware-version", "12"}, {"--delay"},
           {"--delay-code", "253"}, {"--frobnicate"}, {"--", "--split"}})
    EXPECT_FALSE(parseArguments(bad).options) << bad[0];
  const std::string help = usageText();
  for (const auto& f : failureModes()) EXPECT_NE(help.find(f.option), std::string::npos) << f.option;
}

// ---- End to end: the dovu-sim program on a pseudo-terminal ----

namespace {

// The program's side of the pseudo-terminal, read with poll() and a deadline.
struct Port {
  int fd = -1;
  Bytes pending;  // read but not yet taken into a frame

  ~Port() {
    if (fd >= 0) ::close(fd);
  }
  bool open(const QString& path) {
    fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) < 0) return false;
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
  }
  bool write(const Bytes& b) { return ::write(fd, b.data(), b.size()) == static_cast<ssize_t>(b.size()); }

  // Reads until one controller frame is complete or the time is up, keeping every read apart.
  // Bytes after the frame wait for the next call.
  Frame readFrame(std::vector<Bytes>& reads, int timeoutMs = 5000) {
    Frame f;
    FrameAssembler a(kControllerStart, kMaxRxPayload);
    a.setHandler([&](std::uint8_t c, const Bytes& p) { f = {c, p, true}; });
    auto consume = [&] {
      while (!f.ok && !pending.empty()) {
        a.feed(pending.substr(0, 1));
        pending.erase(0, 1);
      }
    };
    consume();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!f.ok) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0 || !(p.revents & POLLIN)) break;
      char buf[256];
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) break;
      reads.emplace_back(buf, static_cast<std::size_t>(n));
      pending += reads.back();
      consume();
    }
    return f;
  }
};

QString advertFile(test::SimProcess& sim) {
  return sim.dir() + QString("/advert/%1.port").arg(sim.process().processId());
}

const Bytes kLogin = buildFrame(kCodeLogin, "8617");
const Bytes kLoginAcceptedFrame = bytes({0x74, 0x01, 0x02, 0x54, 0x31, 0xFC});

}  // namespace

TEST(SimProgram, AdvertisesAnswersLogsDumpsAndWithdrawsOnSigterm) {
  test::SimProcess sim;
  ASSERT_TRUE(sim.port().startsWith("/dev/pts/")) << sim.port().toStdString();
  const QString advertPath = advertFile(sim);
  QFile advert(advertPath);
  ASSERT_TRUE(advert.open(QIODevice::ReadOnly));
  EXPECT_EQ(QString::fromLocal8Bit(advert.readLine()).trimmed(), sim.port());
  EXPECT_TRUE(advert.readLine().startsWith("DOVU simulator"));
  EXPECT_EQ(sim.dumped(6), "+48602951111");

  Port port;
  ASSERT_TRUE(port.open(sim.port()));
  ASSERT_TRUE(port.write(kLogin));
  std::vector<Bytes> reads;
  const Frame f = port.readFrame(reads);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.payload, bytes({0x54, '1'}));
  // Two requests in one write are both answered.
  ASSERT_TRUE(port.write(buildFrame(9, "+48111222333") + buildFrame(8, "T")));
  EXPECT_EQ(port.readFrame(reads).code, 9);
  const Frame tel1 = port.readFrame(reads);
  EXPECT_EQ(tel1.code, 8);
  EXPECT_EQ(tel1.payload, "+48111222333");
  EXPECT_TRUE(test::waitFor([&] { return sim.dumped(8) == "+48111222333"; }, 5000));

  const auto logged = sim.frames();
  ASSERT_GE(logged.size(), 2u);
  EXPECT_TRUE(logged[0].fromPc);
  EXPECT_EQ(logged[0].bytes, kLogin);
  EXPECT_FALSE(logged[1].fromPc);
  EXPECT_EQ(logged[1].bytes, kLoginAcceptedFrame);
  QFile log(sim.logPath());
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  EXPECT_TRUE(log.readAll().contains((" < " + toHex(kLoginAcceptedFrame) + "  code 1\n").c_str()));

  sim.process().terminate();
  ASSERT_TRUE(test::waitFor([&] { return sim.process().state() == QProcess::NotRunning; }, 5000));
  EXPECT_EQ(sim.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(sim.process().exitCode(), 0);
  EXPECT_FALSE(QFile::exists(advertPath));
}

TEST(SimProgram, SplitAndNoiseStillDeliverTheFrame) {
  test::SimProcess sim({"--split", "--noise", "--no-advertise"});
  Port port;
  ASSERT_TRUE(port.open(sim.port())) << sim.port().toStdString();
  EXPECT_FALSE(QFile::exists(advertFile(sim)));
  ASSERT_TRUE(port.write(kLogin));
  std::vector<Bytes> reads;
  const Frame f = port.readFrame(reads);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.payload, bytes({0x54, '1'}));
  Bytes all;
  for (const auto& r : reads) all += r;
  const auto start = all.find(static_cast<char>(kControllerStart));
  EXPECT_GE(start, 1u);
  EXPECT_EQ(all.substr(start), kLoginAcceptedFrame);
  EXPECT_GT(reads.size(), 1u);
}

TEST(SimProgram, PacedAnswerThenUnplug) {
  test::SimProcess sim({"--baud-pace", "--unplug-after", "1", "--no-advertise"});
  Port port;
  ASSERT_TRUE(port.open(sim.port())) << sim.port().toStdString();
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(port.write(kLogin));
  std::vector<Bytes> reads;
  ASSERT_TRUE(port.readFrame(reads).ok);
  // The 8 request bytes, then the answer's 6 bytes 2.083 ms apart.
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::microseconds((8 + 5) * 2083));
  pollfd p{port.fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  ASSERT_TRUE(test::waitFor([&] { return sim.process().state() == QProcess::NotRunning; }, 5000));
  EXPECT_EQ(sim.process().exitCode(), 0);
}

TEST(SimProgram, ReplayAnswersAsRecordedAndLiveBeyondTheRecording) {
  const Bytes read4 = buildFrame(4, "T"), read6 = buildFrame(6, "T"), read8 = buildFrame(8, "T");
  const Bytes recorded4 = buildFrame(4, "9999", kControllerStart);
  const Bytes unasked = buildFrame(32, "?", kControllerStart);
  // A login, a lost answer and a note (skipped), then code 4 answered late with a value the
  // controller does not hold and a frame nobody asked for behind noise; then 6, which the replayed
  // program does not ask, and 8, the recording's last.
  const std::string log = "100 > " + toHex(kLogin) + "  code 1\n" +
                          "130 < " + toHex(kLoginAcceptedFrame) + "  code 1\n" +
                          "140 x " + toHex(kLoginAcceptedFrame) + "  code 1 lost by --drop-every\n" +
                          "150 # a note\n" +
                          "200 > " + toHex(read4) + "  code 4\n" +
                          "500 < " + toHex(recorded4) + "  code 4\n" +
                          "505 < " + toHex(unasked) + "  code 4 unasked, by --unsolicited, after noise 01 02\n" +
                          "600 > " + toHex(read6) + "  code 6\n" +
                          "620 < " + toHex(buildFrame(6, "+48000000000", kControllerStart)) + "  code 6\n" +
                          "700 > " + toHex(read8) + "  code 8\n" +
                          "720 < " + toHex(buildFrame(8, "+48111111111", kControllerStart)) + "  code 8\n";
  std::string why;
  auto parsed = Recording::parse(log, &why);
  ASSERT_TRUE(parsed) << why;
  ASSERT_EQ(parsed->size(), 4u);
  EXPECT_EQ(Recording::parse("12 # nothing asked\n", &why)->size(), 0u);
  EXPECT_FALSE(Recording::parse("12 > zz\n", &why));

  QTemporaryDir dir;
  QFile f(dir.filePath("run.frames.log"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(log.data(), static_cast<qint64>(log.size())) > 0);
  f.close();
  test::SimProcess sim({"--replay", f.fileName(), "--no-advertise"});
  Port port;
  ASSERT_TRUE(port.open(sim.port())) << sim.port().toStdString();
  std::vector<Bytes> reads;
  ASSERT_TRUE(port.write(kLogin));
  EXPECT_EQ(port.readFrame(reads).payload, bytes({0x54, '1'}));
  // At the recorded delay, not at once; the unasked frame after its noise.
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(port.write(read4));
  const Frame answer = port.readFrame(reads);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(280));
  EXPECT_EQ(answer.code, 4);
  EXPECT_EQ(answer.payload, "9999");
  // The noise may have come in the answer's read already.
  const Frame extra = port.readFrame(reads);
  EXPECT_EQ(extra.code, 32);
  Bytes all;
  for (const Bytes& r : reads) all += r;
  EXPECT_NE(all.find(bytes({0x01, 0x02, 0x74})), Bytes::npos);
  // A program that skips a request still gets the recorded answers of the next one it asks.
  ASSERT_TRUE(port.write(read8));
  EXPECT_EQ(port.readFrame(reads).payload, "+48111111111");
  // Beyond the recording the controller answers: what it holds, which the login before set up.
  ASSERT_TRUE(port.write(read6));
  EXPECT_EQ(port.readFrame(reads).payload, "+48602951111");
}

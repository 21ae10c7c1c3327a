// Firmware update: the file check and block splitting in-process, and whole transfers against the
// simulated controller's bootloader over a pseudo-terminal.  Each transfer lasts at least the two
// 2000 ms pauses, so only a handful run end to end.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include "firmware/bootloader.h"
#include "model/configuration.h"
#include "link/serialport.h"
#include "link/framecodec.h"
#include "link/link.h"
#include "session/session.h"
#include "storage/checkedfile.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "wording.h"

namespace dovu {
namespace {

using test::RecordingNotifier;
using test::SimProcess;

// A firmware file around an image: "dvf", the image, the XOR check byte.
Bytes firmwareFile(const Bytes& image) {
  Bytes f = "dvf" + image;
  f.push_back(static_cast<char>(xorChecksum(f, f.size())));
  return f;
}

Bytes pattern(std::size_t n) {
  Bytes b(n, '\0');
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
  return b;
}

// Messages with the link tick at which they were shown.
class TimedNotifier : public RecordingNotifier {
 public:
  TimedNotifier() { clock.start(); }
  void message(MessageKind kind, const QString& text, const QString& detail) override {
    at.push_back(ticks);
    RecordingNotifier::message(kind, text, detail);
  }
  void report(MessageKind kind, const Problem& problem) override {
    at.push_back(ticks);
    RecordingNotifier::report(kind, problem);
  }
  qint64 tickOf(const QString& text) const {
    int i = 0;
    for (const auto& e : events) {
      if (e.beep) continue;
      if (e.text == text) return at[static_cast<std::size_t>(i)];
      ++i;
    }
    return -1;
  }
  QElapsedTimer clock;
  int ticks = 0;  // of the link's 100 ms timer
  std::vector<qint64> at;
};

struct SentFrame {
  qint64 at;    // ms
  int tick;     // of the link's timer
  Bytes bytes;
  int code() const { return byteAt(bytes, 1); }
};

// The simulator, a link on its port, and every frame the link writes.
struct Rig {
  explicit Rig(QStringList simArgs = {}) : sim(std::move(simArgs)) {
    test::app();
    port.setPort(sim.port());
    port.setBaudRate(4800);
    port.open();
    link = std::make_unique<Link>(&port);
    QObject::connect(link.get(), &Link::frameTraced, [this](bool out, const Bytes& frame) {
      if (out) sent.push_back({notifier.clock.elapsed(), notifier.ticks, frame});
    });
    QObject::connect(&link->timer(), &QTimer::timeout, [this] { ++notifier.ticks; });
    update = std::make_unique<FirmwareUpdate>(*link);
    update->onNotice = notifier.shows();
    update->onProgress = [this](int v) { bar.push_back(v); };
  }
  ~Rig() {
    QObject::disconnect(link.get(), &Link::frameTraced, nullptr, nullptr);
    if (port.isOpen()) port.close();
  }
  std::vector<SentFrame> framesWithCode(int code) const {
    std::vector<SentFrame> out;
    for (const auto& f : sent)
      if (f.code() == code) out.push_back(f);
    return out;
  }
  // The image the bootloader kept when "K" arrived.
  Bytes receivedImage() {
    QFile f(sim.imagePath());
    if (!test::waitFor([&] { return f.exists(); }, 3000) || !f.open(QIODevice::ReadOnly)) return {};
    const QByteArray a = f.readAll();
    return Bytes(a.constData(), static_cast<std::size_t>(a.size()));
  }

  SimProcess sim;
  TimedNotifier notifier;
  SerialPort port;
  std::unique_ptr<Link> link;
  std::unique_ptr<FirmwareUpdate> update;
  std::vector<SentFrame> sent;
  std::vector<int> bar;
};

// Runs a transfer to its end in the event loop.
FirmwareUpdate::Result runToEnd(FirmwareUpdate& update, const FirmwareFile& file) {
  std::optional<FirmwareUpdate::Result> result;
  update.onFinished = [&](FirmwareUpdate::Result r) { result = r; };
  if (!update.start(file)) return FirmwareUpdate::Result::Busy;
  test::waitFor([&] { return result.has_value(); }, 120000);
  update.onFinished = nullptr;
  return result.value_or(FirmwareUpdate::Result::Busy);
}

Bytes padded(const Bytes& image) {
  Bytes p = image;
  p.resize((image.size() + 127) / 128 * 128, static_cast<char>(0xFF));
  return p;
}

// As the recorder keeps them: the causes' words.
const QString kFailed = cli::englishText(Cause::FlashFailed);
const QString kDone = cli::englishText(Cause::FlashDone);
const QString kWarning = cli::englishText(Cause::KeepPowered);

TEST(FirmwareFileCheck, RefusesWhatCannotBeSent) {
  test::app();
  {
    RecordingNotifier n;
    const auto f = checkFirmwareFile(firmwareFile(pattern(300)), n.collect());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->image, pattern(300));
    EXPECT_EQ(f->fileSize, 304u);
    EXPECT_TRUE(n.events.empty());
  }
  struct Case {
    const char* name;
    Bytes file;
    QStringList texts;
  };
  Bytes badSum = firmwareFile(pattern(50));
  badSum[20] = static_cast<char>(badSum[20] ^ 1);
  Bytes config = firmwareFile(pattern(50));
  config[2] = 'c';
  config.back() = static_cast<char>(xorChecksum(config, config.size() - 1));
  const QString format = cli::englishText(Cause::BadFormat), crc = cli::englishText(Cause::BadFirmwareCrc);
  const std::vector<Case> cases = {
      {"check byte", badSum, {crc}},
      {"configuration tag", config, {format}},
      {"empty image", firmwareFile({}), {cli::englishText(Cause::FirmwareEmpty)}},
      {"65,536 bytes", firmwareFile(pattern(65532)), {cli::englishText(Cause::FirmwareTooLarge)}},
      {"beyond the buffer", firmwareFile(pattern(70000)), {cli::englishText(Cause::FirmwareTooLarge)}},
      {"nothing", Bytes(), {format, crc}},
  };
  for (const Case& c : cases) {
    RecordingNotifier n;
    EXPECT_FALSE(checkFirmwareFile(c.file, n.collect())) << c.name;
    EXPECT_EQ(n.texts(), c.texts) << c.name;
  }
  RecordingNotifier n;
  EXPECT_TRUE(checkFirmwareFile(firmwareFile(pattern(65531)), n.collect())) << "65,535 bytes is the largest file";
  EXPECT_TRUE(checkFirmwareFile(firmwareFile(pattern(1)), n.collect()));
}

TEST(FirmwareFileCheck, BlocksAreNumberedAndFilled) {
  const auto blocks = firmwareBlocks(pattern(300));
  ASSERT_EQ(blocks.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(blocks[i].size(), 129u);
    EXPECT_EQ(byteAt(blocks[i], 0), i);
  }
  EXPECT_EQ(blocks[2].substr(1, 44), pattern(300).substr(256));
  EXPECT_EQ(blocks[2].substr(45), Bytes(84, static_cast<char>(0xFF)));
  EXPECT_EQ(firmwareBlocks(pattern(256)).size(), 2u);
  const auto many = firmwareBlocks(pattern(32769));
  ASSERT_EQ(many.size(), 257u);
  EXPECT_EQ(byteAt(many[255], 0), 255);
  EXPECT_EQ(byteAt(many[256], 0), 0);
  EXPECT_EQ(firmwareBarValue(128, 304), 42);
  EXPECT_EQ(firmwareBarValue(300, 304), 98);
}

TEST(FirmwareFileCheck, ALineThatIsGoneIsReportedAsSuch) {
  test::app();
  RecordingNotifier n;
  Link link(nullptr);  // no port: every write fails
  FirmwareUpdate update(link);
  update.onNotice = n.shows();
  EXPECT_EQ(runToEnd(update, FirmwareFile{pattern(10), 14}), FirmwareUpdate::Result::PortError);
  ASSERT_EQ(n.count(Cause::KeepPowered), 1);
  ASSERT_EQ(n.count(Cause::FlashPortFailed), 1);
  EXPECT_EQ(n.events.back().problem.reason, Cause::PortNotOpen);
  EXPECT_FALSE(update.running());
}

TEST(FirmwareTransfer, SendsTheImageInFilledBlocks) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  Session session(*r.link);
  session.setPassword(QString::fromLatin1(kDefaultPassword));
  session.showLoggedIn();
  ASSERT_TRUE(session.loggedIn());
  FirmwareUpdate update(*r.link, &session);
  update.onNotice = r.notifier.shows();
  update.onProgress = [&](int v) {
    r.bar.push_back(v);
    // Started again while it runs, a transfer refuses.
    if (v == 42) {
      EXPECT_FALSE(update.start(FirmwareFile{pattern(10), 14}));
    }
  };

  const Bytes image = pattern(300);
  EXPECT_EQ(runToEnd(update, *checkFirmwareFile(firmwareFile(image), r.notifier.collect())), FirmwareUpdate::Result::Done);
  EXPECT_FALSE(update.running());
  EXPECT_FALSE(session.loggedIn());

  // 255 "B", three blocks, 102 "K" and nothing else.
  ASSERT_EQ(r.sent.size(), 5u);
  EXPECT_EQ(r.sent.front().bytes, buildFrame(255, "B"));
  EXPECT_EQ(r.sent.back().bytes, buildFrame(102, "K"));
  const auto blocks = r.framesWithCode(101);
  ASSERT_EQ(blocks.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(blocks[i].bytes.size(), 133u);
    EXPECT_EQ(byteAt(blocks[i].bytes, 2), 0x81);
    EXPECT_EQ(byteAt(blocks[i].bytes, 3), i);
  }
  EXPECT_EQ(blocks[2].bytes.substr(4, 44), image.substr(256));
  EXPECT_EQ(blocks[2].bytes.substr(48, 84), Bytes(84, static_cast<char>(0xFF)));
  // The controller restarts for 2000 ms before the first block, and "K" waits as long again.
  EXPECT_GE(blocks.front().at - r.sent.front().at, 1990);
  EXPECT_GE(r.sent.back().at - blocks.back().at, 1990);

  EXPECT_EQ(r.bar, (std::vector<int>{0, 42, 84, 98, 100}));
  EXPECT_EQ(r.notifier.texts(), (QStringList{kWarning, kDone}));
  EXPECT_TRUE(r.notifier.events.front().beep);
  EXPECT_EQ(r.receivedImage(), padded(image));
}

TEST(FirmwareTransfer, ExactMultipleOfTheBlockSizeSendsNoExtraBlock) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  const Bytes image = pattern(256);
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(image), r.notifier.collect())), FirmwareUpdate::Result::Done);
  EXPECT_EQ(r.framesWithCode(101).size(), 2u);
  EXPECT_EQ(r.receivedImage(), image);
}

TEST(FirmwareTransfer, BlockNumbersWrapAfter256) {
  Rig r;
  ASSERT_TRUE(r.sim.started());
  const Bytes image = pattern(33000);
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(image), r.notifier.collect())), FirmwareUpdate::Result::Done);
  const auto blocks = r.framesWithCode(101);
  ASSERT_EQ(blocks.size(), 258u);
  EXPECT_EQ(byteAt(blocks[255].bytes, 3), 255);
  EXPECT_EQ(byteAt(blocks[256].bytes, 3), 0);
  EXPECT_EQ(byteAt(blocks[257].bytes, 3), 1);
  EXPECT_EQ(r.receivedImage(), padded(image));
  EXPECT_EQ(r.bar.back(), 100);
  EXPECT_LT(r.bar[r.bar.size() - 2], 100);
}

TEST(FirmwareTransfer, TwoMissedAcknowledgementsAreToleratedInTheWholeTransfer) {
  // The fifth block is acknowledged only on its third attempt: the image still gets through.
  Rig r({QStringLiteral("--miss-ack"), QStringLiteral("4:2")});
  ASSERT_TRUE(r.sim.started());
  const Bytes image = pattern(1000);
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(image), r.notifier.collect())), FirmwareUpdate::Result::Done);
  const auto blocks = r.framesWithCode(101);
  ASSERT_EQ(blocks.size(), 10u);  // 8 blocks, the fifth three times
  for (int i : {4, 5, 6}) EXPECT_EQ(blocks[static_cast<std::size_t>(i)].bytes, blocks[4].bytes);
  EXPECT_NEAR(blocks[6].tick - blocks[4].tick, 20, 2);  // two attempts of ten ticks
  EXPECT_EQ(r.receivedImage(), padded(image));
  EXPECT_EQ(r.notifier.count(kFailed), 0);
}

TEST(FirmwareTransfer, ALaterMissAfterBothRepetitionsFails) {
  // The same, and then the seventh acknowledgement is lost as well.
  Rig r({QStringLiteral("--miss-ack"), QStringLiteral("4:2"), QStringLiteral("--drop-every"), QStringLiteral("7")});
  ASSERT_TRUE(r.sim.started());
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(pattern(1000)), r.notifier.collect())),
            FirmwareUpdate::Result::NoAnswer);
  const auto blocks = r.framesWithCode(101);
  ASSERT_EQ(blocks.size(), 9u);  // blocks 0..6, the fifth three times; the seventh is not repeated
  EXPECT_EQ(byteAt(blocks.back().bytes, 3), 6);
  EXPECT_TRUE(r.framesWithCode(102).empty());
  EXPECT_EQ(r.notifier.texts(), (QStringList{kWarning, kFailed}));
  EXPECT_EQ(r.notifier.beeps(), 2);
  EXPECT_LT(r.bar.back(), 100);
}

TEST(FirmwareTransfer, ALateAcknowledgementNeverCountsForTheNextBlock) {
  // Block 5 is acknowledged 1.3 s late, after its repetition went out; the first copy of block 6
  // is lost on the line.  The second late acknowledgement of block 5 must not pass for block 6's.
  Rig r({QStringLiteral("--late-ack"), QStringLiteral("5:1300"), QStringLiteral("--garble-block"), QStringLiteral("6")});
  ASSERT_TRUE(r.sim.started());
  const Bytes image = pattern(1000);
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(image), r.notifier.collect())), FirmwareUpdate::Result::Done);
  EXPECT_TRUE(r.receivedImage() == padded(image));
  std::vector<int> numbers;
  for (const auto& b : r.framesWithCode(101)) numbers.push_back(byteAt(b.bytes, 3));
  EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2, 3, 4, 5, 5, 6, 6, 7}));
}

TEST(FirmwareTransfer, NeverAcknowledgedFailsAfterAboutThreeSeconds) {
  Rig r({QStringLiteral("--never-ack")});
  ASSERT_TRUE(r.sim.started());
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(pattern(300)), r.notifier.collect())),
            FirmwareUpdate::Result::NoAnswer);
  const auto blocks = r.framesWithCode(101);
  ASSERT_EQ(blocks.size(), 3u);  // the first block, written three times
  for (const auto& b : blocks) EXPECT_EQ(b.bytes, blocks[0].bytes);
  const qint64 failedAt = r.notifier.tickOf(kFailed);
  ASSERT_GE(failedAt, 0);
  EXPECT_NEAR(failedAt - blocks[0].tick, 30, 2);  // three attempts of ten ticks
  EXPECT_TRUE(r.framesWithCode(102).empty());
  EXPECT_EQ(r.notifier.count(kDone), 0);
}

TEST(FirmwareTransfer, StopEndsATransferWithoutTheEndFrame) {
  Rig r({QStringLiteral("--never-ack")});
  ASSERT_TRUE(r.sim.started());
  QTimer::singleShot(2500, [&] { r.update->stop(); });
  EXPECT_EQ(runToEnd(*r.update, *checkFirmwareFile(firmwareFile(pattern(300)), r.notifier.collect())),
            FirmwareUpdate::Result::Stopped);
  EXPECT_EQ(r.framesWithCode(101).size(), 1u) << "stopped in the first block's first attempt";
  EXPECT_TRUE(r.framesWithCode(102).empty());
  EXPECT_EQ(r.notifier.count(kFailed), 0);
}

}  // namespace
}  // namespace dovu

#include <gtest/gtest.h>

#include "support/bytes.h"

#include <vector>

#include "link/framecodec.h"
#include "link/frametrace.h"

using namespace dovu;

namespace {

const auto hex = dovu::test::bytesOf;

struct Got {
  std::uint8_t code;
  Bytes payload;
};

struct Rx {
  FrameAssembler a;
  std::vector<Got> got;
  Rx() {
    a.setHandler([this](std::uint8_t c, const Bytes& p) { got.push_back({c, p}); });
  }
};

Bytes controllerFrame(std::uint8_t code, const Bytes& payload) { return buildFrame(code, payload, kControllerStart); }

}  // namespace

TEST(FrameBuild, WorkedExamples) {
  EXPECT_EQ(buildFrame(2, "W"), hex({0x54, 0x02, 0x01, 0x57, 0xAE}));
  EXPECT_EQ(buildFrame(253, "G"), hex({0x54, 0xFD, 0x01, 0x47, 0x99}));
  EXPECT_EQ(controllerFrame(1, hex({0x54, 0x31})), hex({0x74, 0x01, 0x02, 0x54, 0x31, 0xFC}));
}

TEST(FrameBuild, FirmwareBlockIs133Bytes) {
  const Bytes payload(129, '\xFF');
  const Bytes f = buildFrame(101, payload);
  ASSERT_EQ(f.size(), 133u);
  EXPECT_EQ(byteAt(f, 2), 0x81);
  EXPECT_EQ(byteAt(f, 132), additiveChecksum(f.substr(0, 132)));
}

TEST(FrameAssemble, WorkedAnswerAndEmptyPayload) {
  Rx rx;
  EXPECT_TRUE(rx.a.feed(hex({0x74, 0x01, 0x02, 0x54, 0x31, 0xFC})));
  ASSERT_EQ(rx.got.size(), 1u);
  EXPECT_EQ(rx.got[0].code, 1);
  EXPECT_EQ(rx.got[0].payload, hex({0x54, 0x31}));
  EXPECT_TRUE(rx.a.buffer().empty());

  EXPECT_TRUE(rx.a.feed(controllerFrame(5, "")));
  ASSERT_EQ(rx.got.size(), 2u);
  EXPECT_EQ(rx.got[1].code, 5);
  EXPECT_TRUE(rx.got[1].payload.empty());
}

TEST(FrameAssemble, SplitOverReadsAndNoise) {
  Rx rx;
  const Bytes f = controllerFrame(8, "+48600100200");
  // Start byte alone, then byte by byte.
  EXPECT_FALSE(rx.a.feed(f.substr(0, 1)));
  for (std::size_t i = 1; i + 1 < f.size(); ++i) EXPECT_FALSE(rx.a.feed(f.substr(i, 1)));
  EXPECT_TRUE(rx.a.feed(f.substr(f.size() - 1)));
  ASSERT_EQ(rx.got.size(), 1u);
  EXPECT_EQ(rx.got[0].payload, "+48600100200");

  // Noise before the start in the same read is skipped.
  EXPECT_TRUE(rx.a.feed(hex({0x00, 0x13, 0xFF}) + f));
  EXPECT_EQ(rx.got.size(), 2u);
  // Noise without any 0x74 empties the buffer.
  EXPECT_FALSE(rx.a.feed(hex({0x01, 0x02, 0x03})));
  EXPECT_TRUE(rx.a.buffer().empty());
}

TEST(FrameAssemble, LengthLimitIs100) {
  Rx rx;
  EXPECT_TRUE(rx.a.feed(controllerFrame(60, Bytes(100, 'x'))));
  EXPECT_EQ(rx.got.size(), 1u);
  EXPECT_FALSE(rx.a.feed(controllerFrame(60, Bytes(101, 'x'))));
  EXPECT_EQ(rx.got.size(), 1u);
  EXPECT_TRUE(rx.a.buffer().empty());
  EXPECT_FALSE(rx.a.startFound());
}

TEST(FrameAssemble, BadChecksumDropsBufferThenGoodFrameIsTaken) {
  Rx rx;
  Bytes bad = controllerFrame(18, "abc");
  bad.back() = static_cast<char>(bad.back() + 1);
  // A good frame in the same read after the bad one is lost with the buffer.
  EXPECT_FALSE(rx.a.feed(bad + controllerFrame(18, "abc")));
  EXPECT_TRUE(rx.got.empty());
  EXPECT_TRUE(rx.a.buffer().empty());
  EXPECT_TRUE(rx.a.feed(controllerFrame(18, "abc")));
  ASSERT_EQ(rx.got.size(), 1u);
}

TEST(FrameAssemble, SecondFrameInSameReadIsDiscarded) {
  Rx rx;
  EXPECT_TRUE(rx.a.feed(controllerFrame(4, "1234") + controllerFrame(6, "+48")));
  ASSERT_EQ(rx.got.size(), 1u);
  EXPECT_EQ(rx.got[0].code, 4);
  EXPECT_TRUE(rx.a.buffer().empty());
}

TEST(FrameAssemble, LargeChunksStayInBounds) {
  Rx rx;
  // A frame far beyond 256 bytes into an ordinary chunk of noise is found.
  Bytes chunk(700, '\x01');
  chunk += controllerFrame(253, Bytes(18, '\x10'));
  chunk += Bytes(300, '\x02');
  EXPECT_TRUE(rx.a.feed(chunk));
  ASSERT_EQ(rx.got.size(), 1u);
  EXPECT_EQ(rx.got[0].payload.size(), 18u);
  // A start byte at the very end of a huge chunk waits for the rest.
  EXPECT_FALSE(rx.a.feed(Bytes(5000, '\x03') + "\x74\x09"));
  EXPECT_TRUE(rx.a.startFound());
  EXPECT_TRUE(rx.a.feed(hex({0x01, 'Z', static_cast<int>(additiveChecksum(hex({0x74, 0x09, 0x01, 'Z'})))})));
  EXPECT_EQ(rx.got.back().code, 9);
}

// The trace never shows the password or the PIN: their bytes are starred in either direction,
// with the length and the check byte kept; other frames, and the login's answer, show whole.
TEST(FrameTrace, SecretsAreMaskedAndEverythingElseShown) {
  auto line = [](bool out, std::uint8_t code, const char* payload) {
    return frameTraceLine(out, buildFrame(code, Bytes(payload), out ? kPcStart : kControllerStart)).toStdString();
  };
  EXPECT_EQ(line(true, 1, "8617"), "-> code   1: 54 01 04 ** ** ** ** 2F");
  EXPECT_EQ(line(true, 3, "1234"), "-> code   3: 54 03 04 ** ** ** ** 25");
  EXPECT_EQ(line(false, 4, "4321"), "<- code   4: 74 04 04 ** ** ** ** 46");
  EXPECT_EQ(line(true, 5, "4321"), "-> code   5: 54 05 04 ** ** ** ** 27");
  EXPECT_EQ(line(true, 5, ""), "-> code   5: 54 05 00 59");
  EXPECT_EQ(line(false, 1, "T1"), "<- code   1: 74 01 02 54 31 FC");
  EXPECT_EQ(line(true, 7, "+48501"), "-> code   7: 54 07 06 2B 34 38 35 30 31 8E");
}

// The parameter table's payloads, the notification matrix image, the response dispatcher, and
// parameter answers as a completed download shows them in a Form (no line).
#include <gtest/gtest.h>

#include "support/bytes.h"

#include <random>
#include <set>

#include "exchange/dispatcher.h"
#include "session/status.h"
#include "model/configuration.h"
#include "model/cp1250.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "ui/matrix.h"
#include "model/params.h"
#include "support/formsnapshot.h"
#include "support/testapp.h"

using namespace dovu;

namespace {

const auto bytes = dovu::test::bytesOf;

using Snapshot = dovu::test::FormSnapshot;

std::vector<std::string> checkedCells(const Form& f) {
  std::vector<std::string> out;
  for (const char* c : matrixCellsInImageOrder())
    if (f.checked(c)) out.push_back(c);
  return out;
}

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dovu::test::app();
    d.addStatusListener([this](const StatusRecord& r) { statuses.push_back(r); });
  }
  // A frame as the window meets it: a status record through the dispatcher; a parameter answer
  // decoded into the configuration the form shows and shown, as a completed download is, with the
  // parameter then held.  A block answer shorter than its layout is taken by nothing.
  void apply(std::uint8_t code, const Bytes& payload) {
    const ParamDef* p = code % 2 == 0 ? paramByCode(code) : nullptr;
    if (!p) return d.dispatch(code, payload);
    Configuration c = configurationOf(form);
    if (!decodeParameter(c, *p, payload)) return;
    showConfiguration(form, c);
    markParamHeld(form, *p);
  }
  Form form;
  Dispatcher d;
  std::vector<StatusRecord> statuses;
};

}  // namespace

// ---- matrix image ------------------------------------------------------------------------------

TEST_F(DispatchTest, MatrixImageLayout) {
  unpackMatrixImage(form, Bytes(22, '\xFF'));
  EXPECT_EQ(checkedCells(form).size(), 176u);
  unpackMatrixImage(form, Bytes(22, '\0'));
  EXPECT_TRUE(checkedCells(form).empty());

  Bytes one(22, '\0');
  one[0] = '\x80';
  unpackMatrixImage(form, one);
  EXPECT_EQ(checkedCells(form), std::vector<std::string>{"BoxIN1T1"});

  unpackMatrixImage(form, Bytes(22, '\0'));
  form.setChecked("BoxWS8", true);
  Bytes expect(22, '\0');
  expect[21] = '\x01';
  EXPECT_EQ(packMatrixImage(form), expect);

  // EX and DC come before T3 and humidity in the image.
  form.setChecked("BoxWS8", false);
  form.setChecked("BoxACT1", true);
  form.setChecked("BoxT3S2", true);
  expect = Bytes(22, '\0');
  expect[14] = '\x80';
  expect[19] = '\x40';
  EXPECT_EQ(packMatrixImage(form), expect);
}

TEST_F(DispatchTest, MatrixImageRoundTripsAndMarksOnlyChanges) {
  std::mt19937 rng(7);
  Bytes image(22, '\0');
  for (char& c : image) c = static_cast<char>(rng() & 0xFF);
  unpackMatrixImage(form, image);
  EXPECT_EQ(packMatrixImage(form), image);

  // A longer payload is unpacked from its first 22 bytes.
  markParamHeld(form, *paramByCode(52));
  Snapshot before(form);
  unpackMatrixImage(form, image + "\x12\x34");
  EXPECT_TRUE(before.diff(form).empty()) << "an equal image marks nothing";

  // A change marks the cell red (the voice cells of T3 and humidity carry no marker).
  Bytes other = image;
  other[0] = static_cast<char>(image[0] ^ 0x80);
  unpackMatrixImage(form, other);
  EXPECT_EQ(before.diff(form), std::vector<std::string>{"BoxIN1T1"});
  EXPECT_EQ(form.colour("BoxIN1T1"), kRed);

  // A shorter image covers only its own bytes.
  unpackMatrixImage(form, Bytes(1, '\0'));
  EXPECT_FALSE(form.checked("BoxIN1T1"));
  EXPECT_EQ(packMatrixImage(form).substr(1), other.substr(1));
}

// ---- parameter table ---------------------------------------------------------------------------

TEST_F(DispatchTest, TableCoversEveryCodeOnceWithKnownFields) {
  int n = 0;
  for (const ParamDef& p : paramTable()) {
    EXPECT_EQ(p.readCode, 4 + 2 * n++);
    EXPECT_EQ(paramByCode(p.readCode), &p);
    EXPECT_EQ(paramByCode(p.setCode()), &p);
    for (Form::Id id : paramFields(p)) EXPECT_NE(id, Form::kNoField) << int(p.readCode);
    if (p.kind == PayloadKind::Text) {
      // The window's field takes as many characters as the controller keeps.
      const char* shownIn = widgetNameOf(*configFieldNamed(QString::fromLatin1(p.field)));
      EXPECT_EQ(Form::def(Form::idOf(shownIn)).maxLength, p.limit) << p.field;
    }
  }
  EXPECT_EQ(paramByCode(3), nullptr);
  EXPECT_EQ(paramByCode(106), nullptr);
  EXPECT_EQ(paramByCode(253), nullptr);
  EXPECT_EQ(paramByCode(60)->setWait, 60);
  EXPECT_EQ(paramByCode(57)->setWait, 10);
}

TEST_F(DispatchTest, OutputBlockLayout) {
  form.setChecked("BoxOut1NC", true);    // offset 0 bit 7
  form.setChecked("BoxOut4Mono", true);  // offset 0 bit 0
  form.setText("Edit_LimitSMS", QStringLiteral("12"));
  form.setText("Edit_LimitVoice", QStringLiteral("3"));
  form.setText("Out1Czas", QStringLiteral("5"));
  form.setText("Out2Czas", QStringLiteral("99"));
  form.setText("Out3Czas", QString());                 // never left the field: goes out as 0
  form.setText("Out4Czas", QStringLiteral("x"));       // pasted nonsense: 0 as well
  form.setChecked("BoxCA", true);
  form.setChecked("BoxOut1sygn", true);
  form.setChecked("BoxAutoTest", true);
  form.setText("IleTest", QStringLiteral("24"));
  form.setIndex("ComboOut2", 8);
  form.setIndex("ComboOut3", 0);
  form.setChecked("IOsend", true);
  form.setChecked("T1send", true);
  // ComboOut1 and ComboOut4 were never picked: 255.
  EXPECT_EQ(buildPayload(form, *paramByCode(54)), bytes({0x81, 12, 3, 5, 99, 0, 0, 0x1A, 24, 255, 8, 0, 255, 0x41}));

  form.setText("EditT1opu", QStringLiteral("300"));  // low byte
  form.setText("EditT2opu", QStringLiteral("254"));
  form.setText("EditT3opu", QStringLiteral("0"));
  form.setText("EditWopu", QString());
  EXPECT_EQ(buildPayload(form, *paramByCode(104)), bytes({44, 254, 0, 0}));

  EXPECT_EQ(buildSensorBlock(SensorSettings::defaults()), bytes({130, 136, 130, 136, 0, 0, 150, 105, 130, 136, 0, 30, 80}));
  EXPECT_EQ(buildPayload(form, *paramByCode(81)), buildSensorBlock(form.sensors()));
  form.setText("Edit_IN1N", QStringLiteral("Zażółć"));
  EXPECT_EQ(buildPayload(form, *paramByCode(17)), Bytes("Za\xBF\xF3\xB3\xE6"));
}

// ---- answers: texts, operator ------------------------------------------------------

TEST_F(DispatchTest, TextAnswersTakeTheirFieldAndColour) {
  apply(16, Bytes("Drzwi zamkni\xEAte"));
  EXPECT_EQ(form.text("Edit_IN1N"), QStringLiteral("Drzwi zamknięte"));
  EXPECT_EQ(form.colour("Edit_IN1N"), kGreen);

  // An empty answer empties the field and still synchronises it.
  form.setText("Edit_Tel3", QStringLiteral("123"));
  ASSERT_EQ(form.colour("Edit_Tel3"), kRed);
  apply(12, Bytes());
  EXPECT_EQ(form.text("Edit_Tel3"), QString());
  EXPECT_EQ(form.colour("Edit_Tel3"), kYellow);

  // IN2..IN5 colours follow BoxCA at the moment the answer arrives; IN1 never does.
  form.setChecked("BoxCA", true);
  apply(18, Bytes("a"));
  apply(28, Bytes("b"));
  apply(26, Bytes("c"));
  EXPECT_EQ(form.colour("Edit_IN2N"), kOrange);
  EXPECT_EQ(form.colour("Edit_IN2A"), kGreen);
  EXPECT_EQ(form.colour("Edit_IN1A"), kOrange);
  form.setChecked("BoxCA", false);
  apply(18, Bytes("aa"));
  EXPECT_EQ(form.colour("Edit_IN2N"), kGreen);
  apply(90, Bytes("STAN"));
  EXPECT_EQ(form.colour("JakiStan"), kWindowColour);
}

TEST_F(DispatchTest, SmsCentrePicksTheOperator) {
  apply(6, Bytes("+48602951111"));
  EXPECT_EQ(form.index("Combo_operator"), 1);
  EXPECT_EQ(form.colour("Edit_operator"), kYellow);
  apply(6, Bytes("+48602951111 "));
  EXPECT_EQ(form.index("Combo_operator"), 4);
  apply(6, Bytes("+48790998250"));
  EXPECT_EQ(form.index("Combo_operator"), 3);
  apply(6, Bytes());
  EXPECT_EQ(form.text("Edit_operator"), QString());
  EXPECT_EQ(form.index("Combo_operator"), 4);
}

// ---- answers: blocks ------------------------------------------------------------------------

TEST_F(DispatchTest, OutputBlockAnswer) {
  form.setText("Edit_IN3N", QStringLiteral("edited"));
  ASSERT_EQ(form.colour("Edit_IN3N"), kRed);
  const Bytes block = bytes({0x81, 12, 3, 5, 99, 7, 8, 0x0B, 24, 255, 8, 9, 1, 0xC1});
  apply(54, block);
  EXPECT_TRUE(form.checked("BoxOut1NC"));
  EXPECT_TRUE(form.checked("BoxOut4Mono"));
  EXPECT_FALSE(form.checked("BoxOut2NC"));
  EXPECT_EQ(form.text("Edit_LimitSMS"), QStringLiteral("12"));
  EXPECT_EQ(form.text("Out4Czas"), QStringLiteral("8"));
  EXPECT_TRUE(form.checked("BoxPotw"));
  EXPECT_TRUE(form.state("EditPotw").enabled);  // the click rule of BoxPotw ran
  EXPECT_TRUE(form.checked("BoxAutoTest"));
  EXPECT_TRUE(form.state("EditAutotest").enabled);
  EXPECT_TRUE(form.checked("BoxCA"));
  EXPECT_TRUE(form.state("BoxOut1sygn").enabled);
  EXPECT_EQ(form.index("ComboOut1"), -1);  // 255: beyond the list
  EXPECT_EQ(form.index("ComboOut2"), 8);
  EXPECT_EQ(form.index("ComboOut3"), -1);  // 9: beyond the list
  EXPECT_TRUE(form.checked("T1send"));
  EXPECT_TRUE(form.checked("IOsend"));  // bit 6; bit 7 is ignored
  // BoxCA changed: its rule recoloured IN2..IN5 for the new state, but an edited text stays red.
  EXPECT_EQ(form.colour("Edit_IN3N"), kRed);
  EXPECT_EQ(form.colour("Edit_IN3A"), kGreen);
  // The window colour comes last, the limits keep yellow.
  for (Form::Id id : paramFields(*paramByCode(54))) {
    const std::string name = Form::def(id).name;
    EXPECT_EQ(form.state(id).colour, name.starts_with("Edit_Limit") ? kYellow : kWindowColour) << name;
  }
  // The set payload is the block again, with the lists beyond range as 255 and unused bits 0.
  EXPECT_EQ(buildPayload(form, *paramByCode(54)), bytes({0x81, 12, 3, 5, 99, 7, 8, 0x0B, 24, 255, 8, 255, 1, 0x41}));

  // The same BoxCA state again leaves the input colours alone.
  form.setText("Edit_IN3N", QStringLiteral("edited again"));
  apply(54, block);
  EXPECT_EQ(form.colour("Edit_IN3N"), kRed);
}

TEST_F(DispatchTest, OptionBitsApplyFromBitZeroUp) {
  form.setChecked("BoxCA", true);
  ASSERT_TRUE(form.state("BoxOut1sygn").enabled);
  Bytes block(14, '\0');
  block[7] = 0x10;  // BoxCA clear (disables and clears BoxOut1sygn), then bit 4 checks it again
  apply(54, block);
  EXPECT_FALSE(form.checked("BoxCA"));
  EXPECT_TRUE(form.checked("BoxOut1sygn"));
  EXPECT_FALSE(form.state("BoxOut1sygn").enabled);
  EXPECT_EQ(form.colour("Edit_IN2N"), kGreen);

  // Bits 5..7 change nothing.
  block[7] = static_cast<char>(0xE0 | 0x05);
  const Snapshot before(form);
  apply(54, block);
  const auto changed = before.diff(form);
  EXPECT_EQ(std::set<std::string>(changed.begin(), changed.end()),
            (std::set<std::string>{"BoxPotw", "EditPotw", "BoxWyslijStan", "BoxOut1sygn"}));
  EXPECT_TRUE(form.checked("BoxPotw"));
  EXPECT_TRUE(form.checked("BoxWyslijStan"));
  EXPECT_FALSE(form.checked("BoxOut1sygn"));
}

TEST_F(DispatchTest, SensorAndDelayBlocks) {
  for (const SensorInfo& s : sensorTable()) form.setColour(displayFieldOf(s), kRed);
  apply(80, bytes({0, 255, 128, 127, 6, 129, 105, 170, 130, 136, 254, 0, 100}));
  EXPECT_EQ(form.sensors()[SensorByte::T1Min], 0);
  EXPECT_EQ(form.text("Edit_T1Min"), QStringLiteral("-128"));
  EXPECT_EQ(form.text("Edit_T1Max"), QStringLiteral("+127"));
  EXPECT_EQ(form.text("Edit_T2Min"), QStringLiteral("+0"));
  EXPECT_EQ(form.text("Edit_T1Korekta"), QStringLiteral("+1,50"));
  EXPECT_EQ(form.text("Edit_T2Korekta"), QStringLiteral("-0,25"));
  EXPECT_EQ(form.text("Edit_ACnap"), QStringLiteral("10,5V"));
  EXPECT_EQ(form.text("Edit_DCnap"), QStringLiteral("17,0V"));
  EXPECT_EQ(form.text("Edit_T3Korekta"), QStringLiteral("-31,50"));
  EXPECT_EQ(form.text("Edit_WMax"), QStringLiteral("100"));
  for (const SensorInfo& s : sensorTable()) EXPECT_EQ(form.colour(displayFieldOf(s)), kWindowColour) << displayFieldOf(s);

  apply(104, bytes({5, 10, 0, 254}));
  EXPECT_EQ(form.text("EditT1opu"), QStringLiteral("5"));
  EXPECT_EQ(form.text("EditWopu"), QStringLiteral("254"));
  EXPECT_EQ(form.colour("EditT2opu"), kWindowColour);
}

TEST_F(DispatchTest, ShortAnswersAreIgnoredAndOddOrUnknownCodesChangeNothing) {
  const Snapshot before(form);
  apply(52, Bytes(21, '\xFF'));
  apply(54, Bytes(13, '\xFF'));
  apply(80, Bytes(12, '\x01'));
  apply(104, Bytes(3, '\x07'));
  apply(253, Bytes(17, '\xFF'));
  apply(1, bytes({0x54}));
  for (int code : {2, 3, 5, 17, 53, 55, 81, 105, 106, 200, 254, 255, 0}) apply(static_cast<std::uint8_t>(code), Bytes(30, '\x31'));
  EXPECT_EQ(before.diff(form), std::vector<std::string>{});
  EXPECT_TRUE(statuses.empty());
  apply(253, Bytes(18, '\0'));
  EXPECT_EQ(statuses.size(), 1u);

  // Longer than the layout: the extra bytes are ignored.
  apply(104, bytes({1, 2, 3, 4, 5}));
  EXPECT_EQ(form.text("EditWopu"), QStringLiteral("4"));
  apply(52, Bytes(23, '\xFF'));
  EXPECT_EQ(checkedCells(form).size(), 176u);
  for (const char* c : matrixCellsInImageOrder()) EXPECT_EQ(form.colour(c), kWindowColour) << c;
}

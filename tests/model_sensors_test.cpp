// Sensor encodings: the display of the thirteen threshold bytes, the live readings and the
// step-button rules.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "model/sensors.h"

using namespace dovu;

namespace {

std::string s(const QString& q) { return q.toStdString(); }

// The value a correction text stands for, in hundredths of a degree ("-0,25" -> -25).
int hundredths(const QString& t) {
  const int comma = t.indexOf(u',');
  const int whole = t.mid(1, comma - 1).toInt();
  const QString frac = t.mid(comma + 1);
  const int part = frac.size() == 1 ? frac.toInt() * 10 : frac.toInt();  // "0" is 0, "25" is 25
  const int v = whole * 100 + part;
  return t.startsWith(u'-') ? -v : v;
}

bool validCorrection(std::uint8_t k) { return k <= 127 || (k >= 129 && k <= 254); }

}  // namespace

TEST(SensorText, ThresholdEncodings) {
  EXPECT_EQ(s(degreesText(0)), "-128");
  EXPECT_EQ(s(degreesText(127)), "-1");
  EXPECT_EQ(s(degreesText(128)), "+0");
  EXPECT_EQ(s(degreesText(130)), "+2");
  EXPECT_EQ(s(degreesText(255)), "+127");

  EXPECT_EQ(s(correctionText(0)), "+0,0");
  EXPECT_EQ(s(correctionText(1)), "+0,25");
  EXPECT_EQ(s(correctionText(2)), "+0,50");
  EXPECT_EQ(s(correctionText(4)), "+1,0");
  EXPECT_EQ(s(correctionText(6)), "+1,50");
  EXPECT_EQ(s(correctionText(127)), "+31,75");
  EXPECT_EQ(s(correctionText(128)), "+0,0");
  EXPECT_EQ(s(correctionText(129)), "-0,25");
  EXPECT_EQ(s(correctionText(254)), "-31,50");
  EXPECT_EQ(s(correctionText(255)), "-31,75");

  EXPECT_EQ(s(voltsText(105)), "10,5V");
  EXPECT_EQ(s(voltsText(150)), "15,0V");
  EXPECT_EQ(s(voltsText(5)), "0,5V");
  EXPECT_EQ(s(voltsText(0)), "0,0V");
  EXPECT_EQ(s(voltsText(255)), "25,5V");

  EXPECT_EQ(s(percentText(80)), "80");
  EXPECT_EQ(s(percentText(0)), "0");
  EXPECT_EQ(s(sensorText(SensorEncoding::Percent, 30)), "30");
  EXPECT_EQ(s(sensorText(SensorEncoding::Degrees, 136)), "+8");
}

TEST(SensorText, LiveReadings) {
  EXPECT_EQ(s(analogTemperatureText(0)), "");
  EXPECT_EQ(s(analogTemperatureText(1)), "-49,8");
  EXPECT_EQ(s(analogTemperatureText(100)), "-25,6");
  EXPECT_EQ(s(analogTemperatureText(205)), "+0,0");
  EXPECT_EQ(s(analogTemperatureText(256)), "+12,5");
  EXPECT_EQ(s(analogTemperatureText(1023)), "+199,7");
  EXPECT_EQ(s(analogTemperatureText(65535)), "+15949,7");  // no overflow on a wild word

  EXPECT_EQ(s(signedTenthsText(65000)), "");
  EXPECT_EQ(s(signedTenthsText(65001)), "-3223,3");
  EXPECT_EQ(s(signedTenthsText(251)), "+25,1");
  EXPECT_EQ(s(signedTenthsText(32818)), "-5,0");
  EXPECT_EQ(s(signedTenthsText(32768)), "-0,0");
  EXPECT_EQ(s(signedTenthsText(0)), "+0,0");

  EXPECT_EQ(s(humidityText(565)), "56,5%");
  EXPECT_EQ(s(humidityText(0)), "0,0%");
  EXPECT_EQ(s(humidityText(64000)), "6400,0%");
  EXPECT_EQ(s(humidityText(64001)), "");
}

TEST(SensorSteps, ThresholdsStopAtTheirLimits) {
  using E = SensorEncoding;
  EXPECT_EQ(stepDown(E::Degrees, 0), 0);
  EXPECT_EQ(stepUp(E::Degrees, 255), 255);
  EXPECT_EQ(stepUp(E::Degrees, 127), 128);  // -1 to +0
  EXPECT_EQ(stepDown(E::Degrees, 130), 129);

  EXPECT_EQ(stepDown(E::Volts, 2), 2);
  EXPECT_EQ(stepDown(E::Volts, 3), 2);
  EXPECT_EQ(stepUp(E::Volts, 170), 170);
  EXPECT_EQ(stepUp(E::Volts, 169), 170);
  EXPECT_EQ(stepUp(E::Volts, 200), 200);    // beyond the range from the controller: no way up
  EXPECT_EQ(stepDown(E::Volts, 200), 199);  // but back down towards it

  EXPECT_EQ(stepUp(E::Percent, 100), 100);
  EXPECT_EQ(stepUp(E::Percent, 99), 100);
  EXPECT_EQ(stepDown(E::Percent, 0), 0);
}

TEST(SensorSteps, CorrectionsMoveByAQuarterDegreeAcrossZero) {
  using E = SensorEncoding;
  // Up from the bottom to the top: every press adds exactly 0,25 until +31,75, where it stays.
  std::uint8_t k = 254;
  EXPECT_EQ(s(correctionText(k)), "-31,50");
  for (int press = 0; press < 126 + 127; ++press) {
    const std::uint8_t next = stepUp(E::Correction, k);
    ASSERT_TRUE(validCorrection(next)) << int(k);
    ASSERT_EQ(hundredths(correctionText(next)), hundredths(correctionText(k)) + 25) << int(k);
    k = next;
  }
  EXPECT_EQ(k, 127);
  EXPECT_EQ(stepUp(E::Correction, 127), 127);

  // And back down to the bottom, where it stays.
  for (int press = 0; press < 126 + 127; ++press) {
    const std::uint8_t next = stepDown(E::Correction, k);
    ASSERT_TRUE(validCorrection(next)) << int(k);
    ASSERT_EQ(hundredths(correctionText(next)), hundredths(correctionText(k)) - 25) << int(k);
    k = next;
  }
  EXPECT_EQ(k, 254);
  EXPECT_EQ(stepDown(E::Correction, 254), 254);

  EXPECT_EQ(stepDown(E::Correction, 1), 0);
  EXPECT_EQ(stepDown(E::Correction, 0), 129);
  EXPECT_EQ(stepUp(E::Correction, 129), 0);
}

TEST(SensorSteps, CorrectionsFromBytesTheButtonsNeverProduce) {
  using E = SensorEncoding;
  // 128 shows +0,0 and 255 shows -31,75; one step from either lands on a value the buttons make.
  EXPECT_EQ(s(correctionText(stepUp(E::Correction, 128))), "+0,25");
  EXPECT_EQ(s(correctionText(stepDown(E::Correction, 128))), "-0,25");
  EXPECT_EQ(s(correctionText(stepUp(E::Correction, 255))), "-31,50");
  EXPECT_EQ(s(correctionText(stepDown(E::Correction, 255))), "-31,50");
  for (int b = 0; b < 256; ++b) {
    EXPECT_TRUE(validCorrection(stepUp(E::Correction, std::uint8_t(b)))) << b;
    EXPECT_TRUE(validCorrection(stepDown(E::Correction, std::uint8_t(b)))) << b;
  }
}

TEST(SensorSettingsTable, DefaultsAndNames) {
  const SensorSettings d = SensorSettings::defaults();
  const std::uint8_t expected[kSensorBytes] = {130, 136, 130, 136, 0, 0, 150, 105, 130, 136, 0, 30, 80};
  for (int i = 0; i < kSensorBytes; ++i) EXPECT_EQ(d.bytes[std::size_t(i)], expected[i]) << i;

  // The table is in block order and names each threshold once.
  std::set<std::string> names;
  for (int i = 0; i < kSensorBytes; ++i) {
    const SensorInfo& info = sensorTable()[std::size_t(i)];
    EXPECT_EQ(int(info.byte), i);
    names.insert(info.name);
    EXPECT_EQ(sensorNamed(QString::fromLatin1(info.name)), &info);
  }
  EXPECT_EQ(names.size(), 13u);
  EXPECT_EQ(sensorNamed(QStringLiteral("sensors.humidity.correction")), nullptr);
}

#include "model/sensors.h"


namespace dovu {

SensorSettings SensorSettings::defaults() {
  SensorSettings s;
  s[SensorByte::T1Min] = s[SensorByte::T2Min] = s[SensorByte::T3Min] = 130;  // +2
  s[SensorByte::T1Max] = s[SensorByte::T2Max] = s[SensorByte::T3Max] = 136;  // +8
  s[SensorByte::ACnap] = 150;                                                 // 15,0V
  s[SensorByte::DCnap] = 105;                                                 // 10,5V
  s[SensorByte::WMin] = 30;
  s[SensorByte::WMax] = 80;
  return s;  // corrections stay 0
}

const std::array<SensorInfo, kSensorBytes>& sensorTable() {
  using E = SensorEncoding;
  using B = SensorByte;
  static const std::array<SensorInfo, kSensorBytes> table = {{
      {B::T1Min, E::Degrees, "sensors.t1.min"},
      {B::T1Max, E::Degrees, "sensors.t1.max"},
      {B::T2Min, E::Degrees, "sensors.t2.min"},
      {B::T2Max, E::Degrees, "sensors.t2.max"},
      {B::T1Korekta, E::Correction, "sensors.t1.correction"},
      {B::T2Korekta, E::Correction, "sensors.t2.correction"},
      {B::ACnap, E::Volts, "ex.threshold"},
      {B::DCnap, E::Volts, "dc.threshold"},
      {B::T3Min, E::Degrees, "sensors.t3.min"},
      {B::T3Max, E::Degrees, "sensors.t3.max"},
      {B::T3Korekta, E::Correction, "sensors.t3.correction"},
      {B::WMin, E::Percent, "sensors.humidity.min"},
      {B::WMax, E::Percent, "sensors.humidity.max"},
  }};
  return table;
}

const SensorInfo* sensorNamed(const QString& name) {
  for (const SensorInfo& s : sensorTable())
    if (name == QLatin1String(s.name)) return &s;
  return nullptr;
}

namespace {

// sign, whole part, ",", fraction as a plain number
QString decimal(const char* sign, unsigned whole, unsigned fraction) {
  return QString::fromLatin1(sign) + QString::number(whole) + u',' + QString::number(fraction);
}

}  // namespace

QString degreesText(std::uint8_t b) {
  return b > 127 ? u'+' + QString::number(b - 128) : u'-' + QString::number(128 - b);
}

QString correctionText(std::uint8_t k) {
  const unsigned m = k <= 127 ? k : k - 128u;
  const unsigned h = m * 25;  // hundredths of a degree
  return decimal(k <= 128 ? "+" : "-", h / 100, h % 100);
}

QString voltsText(std::uint8_t v) { return decimal("", v / 10u, v % 10u) + u'V'; }

QString percentText(std::uint8_t p) { return QString::number(p); }

QString sensorText(SensorEncoding e, std::uint8_t b) {
  switch (e) {
    case SensorEncoding::Degrees: return degreesText(b);
    case SensorEncoding::Correction: return correctionText(b);
    case SensorEncoding::Volts: return voltsText(b);
    case SensorEncoding::Percent: return percentText(b);
  }
  return {};
}

std::optional<int> analogTemperatureTenths(std::uint16_t r) {
  if (r == 0) return std::nullopt;
  const int x = static_cast<int>(r) * 2500 / 1024;  // millivolts at a 2.5 V reference
  return x - 500;
}

std::optional<int> signedTenths(std::uint16_t w) {
  if (w == 65000) return std::nullopt;
  return w > 32767 ? -static_cast<int>(w - 32768u) : static_cast<int>(w);
}

std::optional<int> humidityTenths(std::uint16_t h) {
  if (h > 64000) return std::nullopt;
  return h;
}

namespace {
QString signedTenthsOf(std::optional<int> t) {
  if (!t) return {};
  return *t >= 0 ? decimal("+", unsigned(*t) / 10, unsigned(*t) % 10)
                 : decimal("-", unsigned(-*t) / 10, unsigned(-*t) % 10);
}
}  // namespace

QString analogTemperatureText(std::uint16_t r) { return signedTenthsOf(analogTemperatureTenths(r)); }

QString signedTenthsText(std::uint16_t w) {
  // Sign and magnitude: 0x8000 reads "-0,0", as the controller means it.
  if (w == 65000) return {};
  const bool negative = w > 32767;
  const unsigned m = negative ? w - 32768u : w;
  return decimal(negative ? "-" : "+", m / 10, m % 10);
}

QString humidityText(std::uint16_t h) {
  const auto t = humidityTenths(h);
  if (!t) return {};
  return decimal("", unsigned(*t) / 10, unsigned(*t) % 10) + u'%';
}

namespace {

// 128 (+0,0) and 255 (-31,75) only come from the controller or a file; a step treats 128 as
// 0 and takes 255 to the nearest value the buttons produce, -31,50.
std::uint8_t correctionUp(std::uint8_t k) {
  if (k == 255) return 254;
  if (k == 128) k = 0;
  if (k == 129) return 0;  // -0,25 -> +0,0
  int n = k;
  if (n < 128) ++n;
  if (n > 129) --n;
  if (n == 128) n = 127;  // +31,75 is the top
  return static_cast<std::uint8_t>(n);
}

std::uint8_t correctionDown(std::uint8_t k) {
  if (k == 255) return 254;
  if (k == 128) k = 0;
  if (k == 0) return 129;  // +0,0 -> -0,25
  int n = k;
  if (n < 128) --n;
  if (n > 128) ++n;
  if (n == 255) n = 254;  // -31,50 is the bottom
  return static_cast<std::uint8_t>(n);
}

}  // namespace

std::uint8_t stepUp(SensorEncoding e, std::uint8_t b) {
  switch (e) {
    case SensorEncoding::Degrees: return b < 255 ? b + 1 : b;
    case SensorEncoding::Volts: return b < 170 ? b + 1 : b;
    case SensorEncoding::Percent: return b < 100 ? b + 1 : b;
    case SensorEncoding::Correction: return correctionUp(b);
  }
  return b;
}

std::uint8_t stepDown(SensorEncoding e, std::uint8_t b) {
  switch (e) {
    case SensorEncoding::Degrees: return b > 0 ? b - 1 : b;
    case SensorEncoding::Volts: return b > 2 ? b - 1 : b;
    case SensorEncoding::Percent: return b > 0 ? b - 1 : b;
    case SensorEncoding::Correction: return correctionDown(b);
  }
  return b;
}

}  // namespace dovu

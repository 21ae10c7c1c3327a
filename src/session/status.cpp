#include "session/status.h"

#include <algorithm>

#include "model/sensors.h"

namespace dovu {

namespace {
std::uint16_t word(const Bytes& p, std::size_t at) {
  return static_cast<std::uint16_t>(byteAt(p, at) | (byteAt(p, at + 1) << 8));
}
}  // namespace

std::optional<StatusRecord> StatusRecord::decode(const Bytes& p) {
  if (p.size() < kStatusRecordSize) return std::nullopt;
  StatusRecord s;
  const std::uint8_t b0 = byteAt(p, 0), b1 = byteAt(p, 1), b12 = byteAt(p, 12);
  for (int i = 0; i < 5; ++i) s.input[i] = b0 & (1 << i);
  s.output[0] = b0 & 0x20;
  s.output[1] = b0 & 0x40;
  s.output[2] = b0 & 0x80;
  s.output[3] = b1 & 0x40;
  s.eventCount = b1 & 0x3F;
  s.flagF = b1 & 0x80;
  s.modemStage = byteAt(p, 2);
  s.rssi = byteAt(p, 3);
  s.smsUsed = byteAt(p, 4);
  s.voiceUsed = byteAt(p, 5);
  s.dcVolts = byteAt(p, 6);
  s.exVolts = byteAt(p, 7);
  s.t1Raw = word(p, 8);
  s.t2Raw = word(p, 10);
  s.t1State = (b12 >> 6) & 3;
  s.t2State = (b12 >> 4) & 3;
  s.exOk = b12 & 0x08;
  s.dcOk = b12 & 0x04;
  s.t3State = b12 & 3;
  s.humidity = word(p, 13);
  s.t3 = word(p, 15);
  s.humidityState = byteAt(p, 17) & 3;
  return s;
}

QString StatusRecord::impossibleValue() const {
  if (rssi > 31 && rssi != 99) return QStringLiteral("GSM signal level %1 (0 to 31, or 99)").arg(rssi);
  if (t1Raw > 1023) return QStringLiteral("T1 converter reading %1 (at most 1023)").arg(t1Raw);
  if (t2Raw > 1023) return QStringLiteral("T2 converter reading %1 (at most 1023)").arg(t2Raw);
  if (humidity > 1000 && humidity <= 64000) return QStringLiteral("humidity %1 tenths of a percent").arg(humidity);
  if (t3 != 65000) {
    const bool negative = t3 > 32767;
    const int tenths = negative ? t3 - 32768 : t3;
    if (tenths > (negative ? 400 : 1250))
      return QStringLiteral("T3 %1%2 tenths of a degree").arg(negative ? QStringLiteral("-") : QStringLiteral("+")).arg(tenths);
  }
  return {};
}

QString modemStageText(int stage) {
  if (stage <= 2) return QStringLiteral("Załączenie modemu GSM");
  if (stage <= 6) return QStringLiteral("Wykrywanie modemu GSM");
  if (stage <= 8) return QStringLiteral("Sprawdzenie karty SIM");
  if (stage <= 10) return QStringLiteral("Wprowadzanie PIN");
  if (stage == 11) return QStringLiteral("Logowanie do sieci GSM");
  if (stage == 12) return QStringLiteral("Kasowanie SMS");
  if (stage <= 14) return QStringLiteral("Konfiguracja SMS");
  if (stage <= 16) return QStringLiteral("Zapis SMSC");
  if (stage == 17) return QStringLiteral("Odczyt poziomu RSSI");
  if (stage <= 19) return QStringLiteral("Połączony z siecią GSM");
  if (stage == 100) return QStringLiteral("RESET modemu GSM");
  return {};
}

int rssiBarValue(int rssi) {
  if (rssi == 99) return 0;
  if (rssi > 22) return 20;
  return std::clamp(rssi, 0, 20);
}

}  // namespace dovu

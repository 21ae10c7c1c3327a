#pragma once
// The 18-byte status record that answers every status poll (code 253), decoded.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "base/bytes.h"

namespace dovu {

constexpr std::size_t kStatusRecordSize = 18;

struct StatusRecord {
  bool input[5]{};        // IN1..IN5 (set: active)
  bool output[4]{};       // OUT1..OUT4 (set: on)
  int eventCount = 0;     // 0..63
  bool flagF = false;     // the flag shown by PanelFab
  int modemStage = 0;
  int rssi = 0;           // 99: no level
  int smsUsed = 0;
  int voiceUsed = 0;
  std::uint8_t dcVolts = 0;  // tenths of a volt
  std::uint8_t exVolts = 0;
  std::uint16_t t1Raw = 0;   // analog temperature words; 0: no reading
  std::uint16_t t2Raw = 0;
  int t1State = 0, t2State = 0, t3State = 0, humidityState = 0;  // 0 grey, 1 green, 2 red, 3 blue
  bool exOk = false;         // EX supply indicator
  bool dcOk = false;         // DC supply indicator
  std::uint16_t humidity = 0;  // tenths of a percent; above 64000: no reading
  std::uint16_t t3 = 0;        // sign and magnitude in tenths; 65000: no reading

  // A record shorter than 18 bytes is not decoded at all.
  static std::optional<StatusRecord> decode(const Bytes& payload);
  // The first value no controller reports ("GSM signal level 156"), empty when every one could
  // be real: a signal level 0..31 or 99, temperature words of its 10-bit converter, a humidity of at
  // most 100 %, a T3 reading within its sensor's range (-40..+125 °C); each "no reading" mark.
  QString impossibleValue() const;
};

// The text of the status line for a modem stage ("" for unknown stages).
QString modemStageText(int stage);
// The signal gauge value 0..20 for a signal level (99: none -> 0, above 22 -> 20).
int rssiBarValue(int rssi);

}  // namespace dovu

#pragma once
// The thirteen sensor threshold, correction and supply threshold bytes, their encodings as shown
// to the user, the encodings of the live status readings, and the step-button rules.
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace dovu {

// In the order of the 13-byte block the controller exchanges for these settings.
enum class SensorByte : std::uint8_t {
  T1Min, T1Max, T2Min, T2Max, T1Korekta, T2Korekta, ACnap, DCnap,
  T3Min, T3Max, T3Korekta, WMin, WMax,
};
constexpr int kSensorBytes = 13;

struct SensorSettings {
  std::array<std::uint8_t, kSensorBytes> bytes{};
  std::uint8_t& operator[](SensorByte b) { return bytes[static_cast<std::size_t>(b)]; }
  std::uint8_t operator[](SensorByte b) const { return bytes[static_cast<std::size_t>(b)]; }
  static SensorSettings defaults();  // 130/136 thresholds, corrections 0, 150, 105, 30, 80
  bool operator==(const SensorSettings&) const = default;
};

enum class SensorEncoding : std::uint8_t { Degrees, Correction, Volts, Percent };

struct SensorInfo {
  SensorByte byte;
  SensorEncoding encoding;
  const char* name;  // the configuration field's stable name, e.g. "sensors.t1.min"
};
const std::array<SensorInfo, kSensorBytes>& sensorTable();  // in block order
const SensorInfo* sensorNamed(const QString& name);         // nullptr for any other name

// Display texts.
QString degreesText(std::uint8_t b);        // offset-128 whole degrees: 130 -> "+2", 127 -> "-1"
QString correctionText(std::uint8_t k);     // quarter degrees: 6 -> "+1,50", 129 -> "-0,25"
QString voltsText(std::uint8_t v);          // tenths of a volt: 105 -> "10,5V"
QString percentText(std::uint8_t p);        // whole percent: "80"
QString sensorText(SensorEncoding e, std::uint8_t b);

// Live status readings in tenths (of a degree, of a percent); nullopt means "no reading".
std::optional<int> analogTemperatureTenths(std::uint16_t r);
std::optional<int> signedTenths(std::uint16_t w);
std::optional<int> humidityTenths(std::uint16_t h);

// The same as texts; an empty text means "no reading".
QString analogTemperatureText(std::uint16_t r);  // 0 -> "", 256 -> "+12,5"
QString signedTenthsText(std::uint16_t w);       // 65000 -> "", 251 -> "+25,1"
QString humidityText(std::uint16_t h);           // > 64000 -> "", 565 -> "56,5%"

// Step buttons: the new byte after one press.
std::uint8_t stepUp(SensorEncoding e, std::uint8_t b);
std::uint8_t stepDown(SensorEncoding e, std::uint8_t b);

}  // namespace dovu

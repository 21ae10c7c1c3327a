#pragma once
// The configuration file (*.dvc): "dvc", 81 items in a fixed order and an XOR check byte.
//
// Items: texts with a length byte in front (Windows-1250, one byte per character), the
// notification matrix as a length byte 22 and its image, single bytes (numbers modulo 256, list
// indexes, raw sensor setting bytes) and flag bytes whose bits are check boxes.  With every text
// empty the file is 107 bytes long.
//
// A file is checked as a whole before any field is written, so a bad file changes nothing.
#include <QString>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "base/outcome.h"
#include "model/configuration.h"
#include "model/sensors.h"

namespace dovu {

constexpr std::size_t kConfigMinSize = 107;  // every text empty
constexpr int kConfigItems = 83;             // magic and check byte included

enum class ConfigItemForm : std::uint8_t {
  Magic,     // "dvc"
  Text,      // length byte, then the characters
  Matrix,    // length byte 22, then the matrix image
  Number,    // one byte: a digits field's value modulo 256
  Choice,    // one byte: the selected index of a list, 255 for none
  Flags,     // one byte: check boxes by bit
  Sensor,    // one raw SensorSettings byte
  Checksum,  // XOR of every byte before it
};

struct ConfigItem {
  int number;                   // 1..83, the position in the file
  ConfigItemForm form;
  const char* field;            // Text, Number, Choice, Sensor: the field's stable name (configFieldNamed)
  const char* description;      // what it is, in words
  std::array<const char*, 8> bits{};  // Flags: the flag field of each bit, bits[0] = bit 0; nullptr = always 0
  SensorByte sensor{};          // Sensor
};

// All 83 items in file order.
const std::vector<ConfigItem>& configItems();

// The contents of a file item by item: values[i] belongs to configItems()[i]; the magic and the
// check byte are kept too.  Texts without their length byte, the matrix without its length byte.
struct ConfigValues {
  std::vector<Bytes> values;
  bool operator==(const ConfigValues&) const = default;
};

// Takes the items from a configuration.  Fails (nullopt, reason in *error and, as a cause, in
// *why) when a number field holds no number.  A number is kept modulo 256, a list without a
// selection as 255.
std::optional<ConfigValues> configValuesOf(const Configuration& c, QString* error, Problem* why = nullptr);
// The configuration that checked items hold (without an origin).  A list index beyond its list is
// no selection.
Configuration configurationFrom(const ConfigValues& values);

// The file bytes of a set of items (length bytes, check byte computed afresh).
Bytes serializeConfig(const ConfigValues& values);

// Builds the whole file (configValuesOf + serializeConfig).
std::optional<Bytes> buildConfigFile(const Configuration& c, QString* error, Problem* why = nullptr);

// The full structural check: size, magic, check byte, every length within the data, matrix
// length 22, list indexes within their lists (or 255, no selection), nothing left over.  Touches
// nothing.  The reason goes to *error and, as a cause (the reason of a BadFormat), to *why.
std::optional<ConfigValues> parseConfigFile(const Bytes& file, QString* error, Problem* why = nullptr);

// Checks a file held in memory and gives its configuration: the magic and check byte notices,
// then BadFormat with the reason for a file that is wrong in any other way.
std::optional<Configuration> readConfigFile(const Bytes& file, Notices* notices = nullptr);

// The same, reading the file first (a file that cannot be read is a CannotRead notice).
std::optional<Configuration> readConfigFile(const QString& path, Notices* notices = nullptr);

// Builds the file and saves it atomically.  Every failure is a ConfigNotSaved notice with its
// reason (a number field without a number names the field); the previous file then stays as it
// was.  Adds nothing on success.
bool saveConfigFile(const Configuration& c, const QString& path, Notices* notices = nullptr);

inline const char* kConfigLoadedText = "Odczytano plik konfiguracji";

}  // namespace dovu

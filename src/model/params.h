#pragma once
// The parameter command table: for every configuration parameter its even read code (the set code
// is the next odd one), the field or fields it carries, the payload layout, the text limit and how
// long the upload waits for the acknowledgement.  The download order, the upload order, the payload
// builders, the dispatcher and the re-colouring all read this one table.
#include <array>
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "model/sensors.h"

namespace dovu {

enum class PayloadKind : std::uint8_t {
  Text,        // the field's text in Windows-1250, no terminator, no length prefix
  Matrix,      // the 22-byte notification matrix image
  OutputBlock, // the 14-byte block of output modes, limits and options
  SensorBlock, // the 13 SensorSettings bytes
  DelayBlock,  // the 4 alarm delays
};

struct ParamDef {
  std::uint8_t readCode;   // even; the set code is readCode + 1
  PayloadKind kind;
  const char* field;       // Text: the field's stable name (configFieldNamed); blocks: nullptr
  int limit;               // Text: longest text; blocks: their size
  std::uint16_t setWait;   // ticks the upload waits for the acknowledgement of one attempt
  constexpr std::uint8_t setCode() const { return static_cast<std::uint8_t>(readCode + 1); }
};

constexpr int kParamCount = 51;
constexpr std::size_t kMatrixImageSize = 22;
constexpr std::size_t kOutputBlockSize = 14;
constexpr std::size_t kSensorBlockSize = 13;
constexpr std::size_t kDelayBlockSize = 4;

// In ascending code order (4, 6, ..., 104): the order of both the download and the upload.
const std::array<ParamDef, kParamCount>& paramTable();
// The parameter whose read or set code this is; nullptr for any other code.
const ParamDef* paramByCode(std::uint8_t code);

// The stable names of the fields a parameter carries, in the order its payload holds them.
std::vector<const char*> parameterFieldNames(const ParamDef& p);
// The notification matrix's fields in the order of its 22-byte image: per event source (IN1..IN5,
// T1, T2, EX, DC, T3, humidity) an SMS byte and a voice byte, bit 7 telephone 1 ... bit 0
// telephone 8.
const std::vector<const char*>& matrixFieldsInImageOrder();

// The threshold block as the controller takes it.
Bytes buildSensorBlock(const SensorSettings& s);

}  // namespace dovu

#include "model/params.h"

#include <string>
#include <unordered_map>

#include "model/configuration.h"
#include "model/cp1250.h"

namespace dovu {

namespace {

using P = PayloadKind;

// Set waits in ticks: the long texts get six seconds, everything else one.
constexpr std::uint16_t kShort = 10;
constexpr std::uint16_t kLong = 60;

constexpr std::array<ParamDef, kParamCount> kTable = {{
    {4, P::Text, "pin", 4, kShort},
    {6, P::Text, "smsCentre", 13, kShort},
    {8, P::Text, "telephones[0]", 13, kShort},
    {10, P::Text, "telephones[1]", 13, kShort},
    {12, P::Text, "telephones[2]", 13, kShort},
    {14, P::Text, "telephones[3]", 13, kShort},
    {16, P::Text, "inputs[0].normalText", 30, kLong},
    {18, P::Text, "inputs[1].normalText", 30, kLong},
    {20, P::Text, "inputs[2].normalText", 30, kLong},
    {22, P::Text, "inputs[3].normalText", 30, kLong},
    {24, P::Text, "inputs[4].normalText", 30, kLong},
    {26, P::Text, "inputs[0].alarmText", 30, kLong},
    {28, P::Text, "inputs[1].alarmText", 30, kLong},
    {30, P::Text, "inputs[2].alarmText", 30, kLong},
    {32, P::Text, "inputs[3].alarmText", 30, kLong},
    {34, P::Text, "inputs[4].alarmText", 30, kLong},
    {36, P::Text, "outputs[0].onWord", 4, kShort},
    {38, P::Text, "outputs[1].onWord", 4, kShort},
    {40, P::Text, "outputs[0].offWord", 4, kShort},
    {42, P::Text, "outputs[1].offWord", 4, kShort},
    {44, P::Text, "outputs[2].onWord", 4, kShort},
    {46, P::Text, "outputs[2].offWord", 4, kShort},
    {48, P::Text, "outputs[3].onWord", 4, kShort},
    {50, P::Text, "outputs[3].offWord", 4, kShort},
    {52, P::Matrix, nullptr, static_cast<int>(kMatrixImageSize), kShort},
    {54, P::OutputBlock, nullptr, static_cast<int>(kOutputBlockSize), kShort},
    {56, P::Text, "confirmation.text", 15, kShort},
    {58, P::Text, "autoTest.text", 15, kShort},
    {60, P::Text, "ex.alarmText", 15, kLong},
    {62, P::Text, "ex.normalText", 15, kLong},
    {64, P::Text, "dc.alarmText", 15, kLong},
    {66, P::Text, "dc.normalText", 15, kLong},
    {68, P::Text, "sensors.t1.highText", 30, kLong},
    {70, P::Text, "sensors.t1.normalText", 30, kLong},
    {72, P::Text, "sensors.t1.lowText", 30, kLong},
    {74, P::Text, "sensors.t2.highText", 30, kLong},
    {76, P::Text, "sensors.t2.normalText", 30, kLong},
    {78, P::Text, "sensors.t2.lowText", 30, kLong},
    {80, P::SensorBlock, nullptr, static_cast<int>(kSensorBlockSize), kShort},
    {82, P::Text, "telephones[4]", 13, kShort},
    {84, P::Text, "telephones[5]", 13, kShort},
    {86, P::Text, "telephones[6]", 13, kShort},
    {88, P::Text, "telephones[7]", 13, kShort},
    {90, P::Text, "statusQuery.text", 4, kShort},
    {92, P::Text, "sensors.humidity.highText", 30, kLong},
    {94, P::Text, "sensors.humidity.normalText", 30, kLong},
    {96, P::Text, "sensors.humidity.lowText", 30, kLong},
    {98, P::Text, "sensors.t3.highText", 30, kLong},
    {100, P::Text, "sensors.t3.normalText", 30, kLong},
    {102, P::Text, "sensors.t3.lowText", 30, kLong},
    {104, P::DelayBlock, nullptr, static_cast<int>(kDelayBlockSize), kShort},
}};

constexpr bool tableIsOrdered() {
  for (std::size_t i = 0; i < kTable.size(); ++i)
    if (kTable[i].readCode != 4 + 2 * i) return false;
  return true;
}
static_assert(tableIsOrdered(), "one entry per even read code 4..104, ascending");

// One byte of a block: a group of flags (bit 0 first), a number, or the index of a list's item.
// Fields by their stable names.
enum class Entry : std::uint8_t { Bits, Number, Index };
struct BlockByte {
  Entry kind;
  std::array<const char*, 8> names;  // Bits: the flag of bit 0..7 (nullptr: bit not used)
};

constexpr std::array<BlockByte, kOutputBlockSize> kOutputBlock = {{
    {Entry::Bits, {"outputs[3].monostable", "outputs[2].monostable", "outputs[1].monostable", "outputs[0].monostable",
                   "outputs[3].normallyClosed", "outputs[2].normallyClosed", "outputs[1].normallyClosed",
                   "outputs[0].normallyClosed"}},
    {Entry::Number, {"limits.sms"}},
    {Entry::Number, {"limits.voice"}},
    {Entry::Number, {"outputs[0].time"}},
    {Entry::Number, {"outputs[1].time"}},
    {Entry::Number, {"outputs[2].time"}},
    {Entry::Number, {"outputs[3].time"}},
    // miniCa (bit 3) comes before out1Siren (bit 4): the window enables the siren box from it.
    {Entry::Bits, {"confirmation.enabled", "autoTest.enabled", "sendStateAtStart", "miniCa", "out1Siren"}},
    {Entry::Number, {"autoTest.hours"}},
    {Entry::Index, {"outputs[0].drivenBy"}},
    {Entry::Index, {"outputs[1].drivenBy"}},
    {Entry::Index, {"outputs[2].drivenBy"}},
    {Entry::Index, {"outputs[3].drivenBy"}},
    {Entry::Bits, {"statusQuery.reply.t1", "statusQuery.reply.t2", "statusQuery.reply.ex", "statusQuery.reply.dc",
                   "statusQuery.reply.t3", "statusQuery.reply.humidity", "statusQuery.reply.io"}},
}};

constexpr std::array<BlockByte, kDelayBlockSize> kDelayBlock = {{
    {Entry::Number, {"sensors.t1.delay"}},
    {Entry::Number, {"sensors.t2.delay"}},
    {Entry::Number, {"sensors.t3.delay"}},
    {Entry::Number, {"sensors.humidity.delay"}},
}};

template <std::size_t N>
void addBlockNames(std::vector<const char*>& out, const std::array<BlockByte, N>& block) {
  for (const BlockByte& b : block)
    for (const char* name : b.names)
      if (name) out.push_back(name);
}

// The configuration field of a stable name the tables here hold.
const ConfigField& fieldOf(const char* name) { return *configFieldNamed(QString::fromLatin1(name)); }

template <std::size_t N>
Bytes encodeBlock(const Configuration& c, const std::array<BlockByte, N>& block) {
  Bytes out;
  out.reserve(N);
  for (const BlockByte& b : block) {
    std::uint8_t v = 0;
    switch (b.kind) {
      case Entry::Bits:
        for (int bit = 0; bit < 8; ++bit)
          if (b.names[bit] && std::get<bool>(configValue(c, fieldOf(b.names[bit])))) v |= static_cast<std::uint8_t>(1u << bit);
        break;
      case Entry::Number:
      case Entry::Index: {
        // No number goes out as 0, no selection (-1) as 255.
        const int n = std::get<int>(configValue(c, fieldOf(b.names[0])));
        v = static_cast<std::uint8_t>(b.kind == Entry::Number && n < 0 ? 0 : n & 0xFF);
        break;
      }
    }
    out.push_back(static_cast<char>(v));
  }
  return out;
}

template <std::size_t N>
void decodeBlock(Configuration& c, const std::array<BlockByte, N>& block, const Bytes& payload) {
  for (std::size_t i = 0; i < N; ++i) {
    const BlockByte& b = block[i];
    const std::uint8_t v = byteAt(payload, i);
    switch (b.kind) {
      case Entry::Bits:
        for (int bit = 0; bit < 8; ++bit)
          if (b.names[bit]) setConfigValue(c, fieldOf(b.names[bit]), static_cast<bool>((v >> bit) & 1));
        break;
      case Entry::Number:
        setConfigValue(c, fieldOf(b.names[0]), static_cast<int>(v));
        break;
      case Entry::Index: {
        const ConfigField& f = fieldOf(b.names[0]);
        setConfigValue(c, f, v < f.limit ? static_cast<int>(v) : -1);  // beyond the list: no selection
        break;
      }
    }
  }
}

// Event sources in image order: EX and DC come before T3 and humidity, unlike the rows on screen.
constexpr const char* kImageSources[] = {"in1", "in2", "in3", "in4", "in5", "t1",
                                         "t2",  "ex",  "dc",  "t3",  "humidity"};
static_assert(std::size(kImageSources) * 2 == kMatrixImageSize);

}  // namespace

const std::array<ParamDef, kParamCount>& paramTable() { return kTable; }

const ParamDef* paramByCode(std::uint8_t code) {
  if (code < 4 || code > 105) return nullptr;
  return &kTable[static_cast<std::size_t>(code / 2 - 2)];
}

const std::vector<const char*>& matrixFieldsInImageOrder() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const char* source : kImageSources)
      for (const char* page : {"sms", "voice"})  // SMS byte, then voice byte
        for (int phone = 0; phone < 8; ++phone)
          n.push_back(std::string("matrix.") + page + '.' + source + '[' + std::to_string(phone) + ']');
    return n;
  }();
  static const std::vector<const char*> pointers = [] {
    std::vector<const char*> p;
    for (const std::string& n : names) p.push_back(n.c_str());
    return p;
  }();
  return pointers;
}

std::vector<const char*> parameterFieldNames(const ParamDef& p) {
  std::vector<const char*> names;
  switch (p.kind) {
    case PayloadKind::Text:
      names.push_back(p.field);
      break;
    case PayloadKind::Matrix:
      names = matrixFieldsInImageOrder();
      break;
    case PayloadKind::OutputBlock:
      addBlockNames(names, kOutputBlock);
      break;
    case PayloadKind::SensorBlock:
      for (const SensorInfo& s : sensorTable()) names.push_back(s.name);
      break;
    case PayloadKind::DelayBlock:
      addBlockNames(names, kDelayBlock);
      break;
  }
  return names;
}

std::vector<const ConfigField*> parameterFields(const ParamDef& p) {
  std::vector<const ConfigField*> out;
  for (const char* name : parameterFieldNames(p)) out.push_back(&fieldOf(name));
  return out;
}

const ParamDef* parameterOf(const ConfigField& f) {
  static const std::unordered_map<const ConfigField*, const ParamDef*> carriers = [] {
    std::unordered_map<const ConfigField*, const ParamDef*> m;
    for (const ParamDef& p : kTable)
      for (const ConfigField* field : parameterFields(p)) m.emplace(field, &p);
    return m;
  }();
  const auto it = carriers.find(&f);
  return it == carriers.end() ? nullptr : it->second;
}

bool differsForController(const Configuration& a, const Configuration& b, const ConfigField& f) {
  return differsForController(a, f, configValue(b, f));
}

bool differsForController(const Configuration& a, const ConfigField& f, const ConfigValue& v) {
  if (configValue(a, f) == v) return false;
  const ParamDef* p = parameterOf(f);
  if (!p) return true;
  // A text is its own payload: no copy of the whole configuration is needed to compare it.
  if (p->kind == PayloadKind::Text) {
    const QString* s = std::get_if<QString>(&v);
    return !s || toCp1250(*s) != toCp1250(std::get<QString>(configValue(a, f)));
  }
  Configuration other = a;
  setConfigValue(other, f, v);
  return encodeParameter(a, *p) != encodeParameter(other, *p);
}

Bytes encodeParameter(const Configuration& c, const ParamDef& p) {
  switch (p.kind) {
    case PayloadKind::Text:
      return toCp1250(std::get<QString>(configValue(c, fieldOf(p.field))));
    case PayloadKind::Matrix: {
      const auto& cells = matrixFieldsInImageOrder();
      Bytes image(kMatrixImageSize, '\0');
      for (std::size_t byte = 0; byte < kMatrixImageSize; ++byte) {
        unsigned v = 0;
        // Telephone 1 is shifted up to bit 7, telephone 8 stays in bit 0.
        for (std::size_t col = 0; col < 8; ++col)
          v = (v << 1) | (std::get<bool>(configValue(c, fieldOf(cells[byte * 8 + col]))) ? 1u : 0u);
        image[byte] = static_cast<char>(v);
      }
      return image;
    }
    case PayloadKind::OutputBlock:
      return encodeBlock(c, kOutputBlock);
    case PayloadKind::SensorBlock:
      return Bytes(reinterpret_cast<const char*>(c.thresholds.bytes.data()), c.thresholds.bytes.size());
    case PayloadKind::DelayBlock:
      return encodeBlock(c, kDelayBlock);
  }
  return {};
}

bool decodeParameter(Configuration& c, const ParamDef& p, const Bytes& payload) {
  if (p.kind != PayloadKind::Text && payload.size() < static_cast<std::size_t>(p.limit)) return false;
  switch (p.kind) {
    case PayloadKind::Text:
      setConfigValue(c, fieldOf(p.field), fromCp1250(payload));
      break;
    case PayloadKind::Matrix: {
      const auto& cells = matrixFieldsInImageOrder();
      for (std::size_t byte = 0; byte < kMatrixImageSize; ++byte)
        for (std::size_t col = 0; col < 8; ++col)
          setConfigValue(c, fieldOf(cells[byte * 8 + col]), static_cast<bool>((byteAt(payload, byte) >> (7 - col)) & 1));
      break;
    }
    case PayloadKind::OutputBlock:
      decodeBlock(c, kOutputBlock, payload);
      break;
    case PayloadKind::SensorBlock:
      for (std::size_t i = 0; i < kSensorBlockSize; ++i) c.thresholds.bytes[i] = byteAt(payload, i);
      break;
    case PayloadKind::DelayBlock:
      decodeBlock(c, kDelayBlock, payload);
      break;
  }
  return true;
}

Bytes buildSensorBlock(const SensorSettings& s) {
  return Bytes(reinterpret_cast<const char*>(s.bytes.data()), s.bytes.size());
}

}  // namespace dovu

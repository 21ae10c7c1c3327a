#include "model/params.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

#include "model/configuration.h"
#include "model/cp1250.h"
#include "model/matrix.h"

namespace dovu {

namespace {

using P = PayloadKind;

// Set waits in ticks: the long texts get six seconds, everything else one.
constexpr std::uint16_t kShort = 10;
constexpr std::uint16_t kLong = 60;

constexpr std::array<ParamDef, kParamCount> kTable = {{
    {4, P::Text, "Edit_pin", 4, kShort},
    {6, P::Text, "Edit_operator", 13, kShort},
    {8, P::Text, "Edit_Tel1", 13, kShort},
    {10, P::Text, "Edit_Tel2", 13, kShort},
    {12, P::Text, "Edit_Tel3", 13, kShort},
    {14, P::Text, "Edit_Tel4", 13, kShort},
    {16, P::Text, "Edit_IN1N", 30, kLong},
    {18, P::Text, "Edit_IN2N", 30, kLong},
    {20, P::Text, "Edit_IN3N", 30, kLong},
    {22, P::Text, "Edit_IN4N", 30, kLong},
    {24, P::Text, "Edit_IN5N", 30, kLong},
    {26, P::Text, "Edit_IN1A", 30, kLong},
    {28, P::Text, "Edit_IN2A", 30, kLong},
    {30, P::Text, "Edit_IN3A", 30, kLong},
    {32, P::Text, "Edit_IN4A", 30, kLong},
    {34, P::Text, "Edit_IN5A", 30, kLong},
    {36, P::Text, "Edit_Out1zal", 4, kShort},
    {38, P::Text, "Edit_Out2zal", 4, kShort},
    {40, P::Text, "Edit_Out1wyl", 4, kShort},
    {42, P::Text, "Edit_Out2wyl", 4, kShort},
    {44, P::Text, "Edit_OUT3Zal", 4, kShort},
    {46, P::Text, "Edit_Out3Wyl", 4, kShort},
    {48, P::Text, "Edit_OUT4Zal", 4, kShort},
    {50, P::Text, "Edit_Out4Wyl", 4, kShort},
    {52, P::Matrix, nullptr, static_cast<int>(kMatrixImageSize), kShort},
    {54, P::OutputBlock, nullptr, static_cast<int>(kOutputBlockSize), kShort},
    {56, P::Text, "EditPotw", 15, kShort},
    {58, P::Text, "EditAutotest", 15, kShort},
    {60, P::Text, "Edit_ACa", 15, kLong},
    {62, P::Text, "Edit_ACn", 15, kLong},
    {64, P::Text, "Edit_DCa", 15, kLong},
    {66, P::Text, "Edit_DCn", 15, kLong},
    {68, P::Text, "Edit_T1a", 30, kLong},
    {70, P::Text, "Edit_T1ok", 30, kLong},
    {72, P::Text, "Edit_T1n", 30, kLong},
    {74, P::Text, "Edit_T2a", 30, kLong},
    {76, P::Text, "Edit_T2ok", 30, kLong},
    {78, P::Text, "Edit_T2n", 30, kLong},
    {80, P::SensorBlock, nullptr, static_cast<int>(kSensorBlockSize), kShort},
    {82, P::Text, "Edit_Tel5", 13, kShort},
    {84, P::Text, "Edit_Tel6", 13, kShort},
    {86, P::Text, "Edit_Tel7", 13, kShort},
    {88, P::Text, "Edit_Tel8", 13, kShort},
    {90, P::Text, "JakiStan", 4, kShort},
    {92, P::Text, "Edit_Wa", 30, kLong},
    {94, P::Text, "Edit_Wok", 30, kLong},
    {96, P::Text, "Edit_Wn", 30, kLong},
    {98, P::Text, "Edit_T3a", 30, kLong},
    {100, P::Text, "Edit_T3ok", 30, kLong},
    {102, P::Text, "Edit_T3n", 30, kLong},
    {104, P::DelayBlock, nullptr, static_cast<int>(kDelayBlockSize), kShort},
}};

constexpr bool tableIsOrdered() {
  for (std::size_t i = 0; i < kTable.size(); ++i)
    if (kTable[i].readCode != 4 + 2 * i) return false;
  return true;
}
static_assert(tableIsOrdered(), "one entry per even read code 4..104, ascending");

// One byte of a block: a group of check boxes (bit 0 first), a number held as decimal text, or
// the selected index of a list.
enum class Entry : std::uint8_t { Bits, Number, Index };
struct BlockByte {
  Entry kind;
  std::array<const char*, 8> names;  // Bits: the box of bit 0..7 (nullptr: bit not used)
};

constexpr std::array<BlockByte, kOutputBlockSize> kOutputBlock = {{
    {Entry::Bits, {"BoxOut4Mono", "BoxOut3Mono", "BoxOut2Mono", "BoxOut1Mono", "BoxOut4NC", "BoxOut3NC",
                   "BoxOut2NC", "BoxOut1NC"}},
    {Entry::Number, {"Edit_LimitSMS"}},
    {Entry::Number, {"Edit_LimitVoice"}},
    {Entry::Number, {"Out1Czas"}},
    {Entry::Number, {"Out2Czas"}},
    {Entry::Number, {"Out3Czas"}},
    {Entry::Number, {"Out4Czas"}},
    // BoxCA (bit 3) is written before BoxOut1sygn (bit 4), whose availability it governs.
    {Entry::Bits, {"BoxPotw", "BoxAutoTest", "BoxWyslijStan", "BoxCA", "BoxOut1sygn"}},
    {Entry::Number, {"IleTest"}},
    {Entry::Index, {"ComboOut1"}},
    {Entry::Index, {"ComboOut2"}},
    {Entry::Index, {"ComboOut3"}},
    {Entry::Index, {"ComboOut4"}},
    {Entry::Bits, {"T1send", "T2send", "ACsend", "DCsend", "T3send", "Wilgsend", "IOsend"}},
}};

constexpr std::array<BlockByte, kDelayBlockSize> kDelayBlock = {{
    {Entry::Number, {"EditT1opu"}},
    {Entry::Number, {"EditT2opu"}},
    {Entry::Number, {"EditT3opu"}},
    {Entry::Number, {"EditWopu"}},
}};

template <std::size_t N>
void addBlockNames(std::vector<const char*>& out, const std::array<BlockByte, N>& block) {
  for (const BlockByte& b : block)
    for (const char* name : b.names)
      if (name) out.push_back(name);
}

// A number field goes out as the low byte of its value.  Text that is no whole number (an empty
// field that never lost the focus, pasted text) goes out as 0 rather than as garbage.
std::uint8_t numberByte(const Form& form, const char* field) {
  const int v = form.number(field);
  return static_cast<std::uint8_t>(v < 0 ? 0 : v & 0xFF);
}

template <std::size_t N>
Bytes buildBlock(const Form& form, const std::array<BlockByte, N>& block) {
  Bytes out;
  out.reserve(N);
  for (const BlockByte& b : block) {
    std::uint8_t v = 0;
    switch (b.kind) {
      case Entry::Bits:
        for (int bit = 0; bit < 8; ++bit)
          if (b.names[bit] && form.checked(b.names[bit])) v |= static_cast<std::uint8_t>(1u << bit);
        break;
      case Entry::Number:
        v = numberByte(form, b.names[0]);
        break;
      case Entry::Index:
        v = static_cast<std::uint8_t>(form.index(b.names[0]) & 0xFF);  // no selection (-1): 255
        break;
    }
    out.push_back(static_cast<char>(v));
  }
  return out;
}

// Writes the block's values in offset order, each group of boxes from bit 0 upwards.  A box whose
// state changes runs its click rules there and then.  Unused bits are ignored.
template <std::size_t N>
void applyBlock(Form& form, const std::array<BlockByte, N>& block, const Bytes& payload) {
  for (std::size_t i = 0; i < N; ++i) {
    const BlockByte& b = block[i];
    const std::uint8_t v = byteAt(payload, i);
    switch (b.kind) {
      case Entry::Bits:
        for (int bit = 0; bit < 8; ++bit)
          if (b.names[bit]) form.setChecked(b.names[bit], (v >> bit) & 1);
        break;
      case Entry::Number:
        form.setText(b.names[0], QString::number(v));
        break;
      case Entry::Index:
        form.setIndex(b.names[0], v);  // beyond the list: no selection
        break;
    }
  }
}

}  // namespace

const std::array<ParamDef, kParamCount>& paramTable() { return kTable; }

const ParamDef* paramByCode(std::uint8_t code) {
  if (code < 4 || code > 105) return nullptr;
  return &kTable[static_cast<std::size_t>(code / 2 - 2)];
}

std::vector<const char*> parameterFieldNames(const ParamDef& p) {
  std::vector<const char*> names;
  switch (p.kind) {
    case PayloadKind::Text:
      names.push_back(p.field);
      break;
    case PayloadKind::Matrix:
      names.assign(matrixCellsInImageOrder().begin(), matrixCellsInImageOrder().end());
      break;
    case PayloadKind::OutputBlock:
      addBlockNames(names, kOutputBlock);
      break;
    case PayloadKind::SensorBlock:
      for (const SensorInfo& s : sensorTable()) names.push_back(s.field);
      break;
    case PayloadKind::DelayBlock:
      addBlockNames(names, kDelayBlock);
      break;
  }
  return names;
}

std::vector<Form::Id> paramFields(const ParamDef& p) {
  std::vector<Form::Id> ids;
  for (const char* name : parameterFieldNames(p)) ids.push_back(Form::idOf(name));
  return ids;
}

const std::vector<Form::Id>& configurationFieldIds() {
  static const std::vector<Form::Id> ids = [] {
    std::vector<Form::Id> out;
    for (const ParamDef& p : kTable)
      for (Form::Id id : paramFields(p))
        if (std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
    return out;
  }();
  return ids;
}

Bytes buildOutputBlock(const Form& form) { return buildBlock(form, kOutputBlock); }

Bytes buildSensorBlock(const SensorSettings& s) {
  return Bytes(reinterpret_cast<const char*>(s.bytes.data()), s.bytes.size());
}

Bytes buildDelayBlock(const Form& form) { return buildBlock(form, kDelayBlock); }

Bytes buildPayload(const Form& form, const ParamDef& p) {
  switch (p.kind) {
    case PayloadKind::Text:
      return toCp1250(form.text(p.field));
    case PayloadKind::Matrix:
      return packMatrixImage(form);
    case PayloadKind::OutputBlock:
      return buildOutputBlock(form);
    case PayloadKind::SensorBlock:
      return buildSensorBlock(form.sensors());
    case PayloadKind::DelayBlock:
      return buildDelayBlock(form);
  }
  return {};
}

const ParamDef* textOverLimit(const Form& form) {
  for (const ParamDef& p : paramTable())
    if (p.kind == PayloadKind::Text && form.text(p.field).size() > p.limit) return &p;
  return nullptr;
}

void applyAnswer(Form& form, const ParamDef& p, const Bytes& payload) {
  // A block answer shorter than its layout is ignored as a whole: a value is never read past the
  // end of what arrived, and half a block is not taken for the controller's state.  Texts take any
  // length, an empty one included.
  if (p.kind != PayloadKind::Text && payload.size() < static_cast<std::size_t>(p.limit)) return;
  form.markConfigurationReceived();

  switch (p.kind) {
    case PayloadKind::Text: {
      const QString text = fromCp1250(payload);
      if (p.readCode == 6) form.setSmsCentre(text);
      else form.setText(p.field, text);
      break;
    }
    case PayloadKind::Matrix:
      unpackMatrixImage(form, payload);
      break;
    case PayloadKind::OutputBlock:
      applyBlock(form, kOutputBlock, payload);
      break;
    case PayloadKind::SensorBlock:
      for (std::size_t i = 0; i < kSensorBlockSize; ++i)
        form.setSensor(static_cast<SensorByte>(i), byteAt(payload, i));
      form.showAllSensors();
      break;
    case PayloadKind::DelayBlock:
      applyBlock(form, kDelayBlock, payload);
      break;
  }
  // The answer is what the controller holds.
  markParamHeld(form, p);
}

void markParamHeld(Form& form, const ParamDef& p) { form.markHeld(paramFields(p)); }

namespace {

// The configuration field a window name stands for.
const ConfigField& fieldOf(const char* key) { return *configFieldNamed(QString::fromLatin1(key)); }

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

}  // namespace

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
      const auto& cells = matrixCellsInImageOrder();
      Bytes image(kMatrixImageSize, '\0');
      for (std::size_t byte = 0; byte < kMatrixImageSize; ++byte) {
        unsigned v = 0;
        for (std::size_t col = 0; col < 8; ++col)
          v = (v << 1) | (std::get<bool>(configValue(c, fieldOf(cells[byte * 8 + col]))) ? 1u : 0u);
        image[byte] = static_cast<char>(v);
      }
      return image;
    }
    case PayloadKind::OutputBlock:
      return encodeBlock(c, kOutputBlock);
    case PayloadKind::SensorBlock:
      return buildSensorBlock(c.thresholds);
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
      const auto& cells = matrixCellsInImageOrder();
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

}  // namespace dovu

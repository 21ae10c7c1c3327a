#include "storage/configfile.h"

#include "base/plural.h"
#include "model/cp1250.h"
#include "storage/checkedfile.h"
#include "model/matrix.h"
#include "model/params.h"

namespace dovu {
namespace {

using F = ConfigItemForm;
using B = SensorByte;

std::vector<ConfigItem> makeItems() {
  std::vector<ConfigItem> v;
  auto add = [&](ConfigItemForm form, const char* field, const char* description) {
    ConfigItem it{};
    it.number = static_cast<int>(v.size()) + 1;
    it.form = form;
    it.field = field;
    it.description = description;
    v.push_back(it);
    return &v.back();
  };
  auto flags = [&](const char* description, std::array<const char*, 8> bits) {
    add(F::Flags, nullptr, description)->bits = bits;
  };
  auto sensor = [&](B b, const char* description) {
    ConfigItem* it = add(F::Sensor, sensorTable()[static_cast<std::size_t>(b)].field, description);
    it->sensor = b;
  };

  add(F::Magic, nullptr, "magic");
  add(F::Text, "Edit_haslo", "access password");
  add(F::Text, "Edit_pin", "SIM PIN");
  add(F::Text, "Edit_operator", "SMS centre number");
  add(F::Text, "Edit_Tel1", "telephone 1");
  add(F::Text, "Edit_Tel2", "telephone 2");
  add(F::Text, "Edit_Tel3", "telephone 3");
  add(F::Text, "Edit_Tel4", "telephone 4");
  add(F::Text, "Edit_IN1N", "input 1 switched off text");
  add(F::Text, "Edit_IN2N", "input 2 switched off text");
  add(F::Text, "Edit_IN3N", "input 3 switched off text");
  add(F::Text, "Edit_IN4N", "input 4 switched off text");
  add(F::Text, "Edit_IN5N", "input 5 switched off text");
  add(F::Text, "Edit_IN1A", "input 1 switched on text");
  add(F::Text, "Edit_IN2A", "input 2 switched on text");
  add(F::Text, "Edit_IN3A", "input 3 switched on text");
  add(F::Text, "Edit_IN4A", "input 4 switched on text");
  add(F::Text, "Edit_IN5A", "input 5 switched on text");
  add(F::Text, "Edit_Out1zal", "output 1 switch-on word");
  add(F::Text, "Edit_Out2zal", "output 2 switch-on word");
  add(F::Text, "Edit_OUT3Zal", "output 3 switch-on word");
  add(F::Text, "Edit_OUT4Zal", "output 4 switch-on word");
  add(F::Text, "Edit_Out1wyl", "output 1 switch-off word");
  add(F::Text, "Edit_Out2wyl", "output 2 switch-off word");
  add(F::Text, "Edit_Out3Wyl", "output 3 switch-off word");
  add(F::Text, "Edit_Out4Wyl", "output 4 switch-off word");
  add(F::Matrix, nullptr, "notification matrix");
  add(F::Number, "Out1Czas", "output 1 monostable time");
  add(F::Number, "Out2Czas", "output 2 monostable time");
  add(F::Number, "Out3Czas", "output 3 monostable time");
  add(F::Number, "Out4Czas", "output 4 monostable time");
  add(F::Number, "Edit_LimitSMS", "daily SMS limit");
  add(F::Number, "Edit_LimitVoice", "daily voice call limit");
  add(F::Number, "IleTest", "automatic test period, hours");
  flags("output flags 1", {"BoxPotw", "BoxOut3Mono", "BoxOut2Mono", "BoxOut1Mono", "BoxOut3NC",
                           "BoxOut2NC", "BoxOut1NC", nullptr});
  flags("output flags 2", {"BoxAutoTest", "BoxOut4Mono", "BoxOut4NC", "BoxWyslijStan", nullptr,
                           nullptr, nullptr, nullptr});
  add(F::Choice, "ComboOut1", "threshold driving output 1");
  add(F::Choice, "ComboOut2", "threshold driving output 2");
  add(F::Choice, "ComboOut3", "threshold driving output 3");
  add(F::Choice, "ComboOut4", "threshold driving output 4");
  flags("status reply selection", {"T1send", "T2send", "ACsend", "DCsend", "T3send", "Wilgsend",
                                   "IOsend", nullptr});
  add(F::Text, "EditPotw", "confirmation SMS text");
  add(F::Text, "EditAutotest", "automatic test SMS text");
  add(F::Text, "Edit_ACa", "EX supply present text");
  add(F::Text, "Edit_ACn", "EX supply missing text");
  add(F::Text, "Edit_DCa", "DC supply high text");
  add(F::Text, "Edit_DCn", "DC supply low text");
  add(F::Text, "Edit_T1a", "T1 high text");
  add(F::Text, "Edit_T1ok", "T1 normal text");
  add(F::Text, "Edit_T1n", "T1 low text");
  add(F::Text, "Edit_T2a", "T2 high text");
  add(F::Text, "Edit_T2ok", "T2 normal text");
  add(F::Text, "Edit_T2n", "T2 low text");
  add(F::Text, "Edit_T3a", "T3 high text");
  add(F::Text, "Edit_T3ok", "T3 normal text");
  add(F::Text, "Edit_T3n", "T3 low text");
  add(F::Text, "Edit_Wa", "humidity high text");
  add(F::Text, "Edit_Wok", "humidity normal text");
  add(F::Text, "Edit_Wn", "humidity low text");
  add(F::Text, "Edit_Tel5", "telephone 5");
  add(F::Text, "Edit_Tel6", "telephone 6");
  add(F::Text, "Edit_Tel7", "telephone 7");
  add(F::Text, "Edit_Tel8", "telephone 8");
  add(F::Text, "JakiStan", "status query text");
  sensor(B::T1Korekta, "T1 correction");
  sensor(B::T2Korekta, "T2 correction");
  sensor(B::T3Korekta, "T3 correction");
  sensor(B::T1Min, "T1 lower threshold");
  sensor(B::T2Min, "T2 lower threshold");
  sensor(B::T3Min, "T3 lower threshold");
  sensor(B::WMin, "humidity lower threshold");
  sensor(B::T1Max, "T1 upper threshold");
  sensor(B::T2Max, "T2 upper threshold");
  sensor(B::T3Max, "T3 upper threshold");
  sensor(B::WMax, "humidity upper threshold");
  sensor(B::ACnap, "EX supply voltage threshold");
  sensor(B::DCnap, "DC supply voltage threshold");
  flags("mode flags", {"BoxOut1sygn", "BoxCA", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
  add(F::Number, "EditT1opu", "T1 alarm delay, minutes");
  add(F::Number, "EditT2opu", "T2 alarm delay, minutes");
  add(F::Number, "EditT3opu", "T3 alarm delay, minutes");
  add(F::Number, "EditWopu", "humidity alarm delay, minutes");
  add(F::Checksum, nullptr, "check byte");
  return v;
}

// The parameter that carries the matrix image the file embeds.
constexpr std::uint8_t kMatrixReadCode = 52;

// The byte of a list without a selection; indexes beyond the list are refused.
constexpr int kNoChoiceByte = 255;

Bytes oneByte(int v) { return Bytes(1, static_cast<char>(static_cast<std::uint8_t>(v))); }

QString itemName(const ConfigItem& it) {
  return QStringLiteral("pozycja %1 (%2)").arg(it.number).arg(QString::fromUtf8(it.field ? it.field : it.description));
}

}  // namespace

const std::vector<ConfigItem>& configItems() {
  static const std::vector<ConfigItem> items = makeItems();
  return items;
}

std::optional<ConfigValues> configValuesOf(const Configuration& c, QString* error, Problem* why) {
  // The value of the field an item names.
  const auto value = [&c](const char* field) { return configValue(c, *configFieldNamed(QString::fromLatin1(field))); };
  ConfigValues out;
  out.values.reserve(kConfigItems);
  for (const ConfigItem& it : configItems()) {
    switch (it.form) {
      case F::Magic:
        out.values.emplace_back(kConfigMagic);
        break;
      case F::Text:
        out.values.push_back(toCp1250(std::get<QString>(value(it.field))));
        break;
      case F::Matrix:
        out.values.push_back(encodeParameter(c, *paramByCode(kMatrixReadCode)));
        break;
      case F::Number: {
        const int n = std::get<int>(value(it.field));
        if (n < 0) {
          if (error) *error = QStringLiteral("pole %1 nie zawiera liczby").arg(QString::fromUtf8(it.field));
          if (why) *why = Problem(Cause::None, Cause::NotANumber, {}, {QString::fromUtf8(it.field)});
          return std::nullopt;
        }
        out.values.push_back(oneByte(n % 256));  // a delay of 300 is kept as 44
        break;
      }
      case F::Choice: {
        // A list without a selection (the window starts that way) is kept as 255.
        const int i = std::get<int>(value(it.field));
        out.values.push_back(oneByte(i < 0 ? kNoChoiceByte : i));
        break;
      }
      case F::Flags: {
        int b = 0;
        for (int bit = 0; bit < 8; ++bit)
          if (const char* box = it.bits[static_cast<std::size_t>(bit)]; box && std::get<bool>(value(box))) b |= 1 << bit;
        out.values.push_back(oneByte(b));
        break;
      }
      case F::Sensor:
        out.values.push_back(oneByte(c.thresholds[it.sensor]));
        break;
      case F::Checksum:
        out.values.push_back(oneByte(0));  // computed by serializeConfig
        break;
    }
  }
  return out;
}

Configuration configurationFrom(const ConfigValues& values) {
  Configuration c = defaultConfiguration();
  const auto set = [&c](const char* field, const ConfigValue& v) {
    setConfigValue(c, *configFieldNamed(QString::fromLatin1(field)), v);
  };
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size() && i < values.values.size(); ++i) {
    const ConfigItem& it = items[i];
    const Bytes& v = values.values[i];
    switch (it.form) {
      case F::Magic:
      case F::Checksum:
        break;
      case F::Text:
        set(it.field, fromCp1250(v));
        break;
      case F::Matrix:
        decodeParameter(c, *paramByCode(kMatrixReadCode), v);
        break;
      case F::Number:
        set(it.field, static_cast<int>(byteAt(v, 0)));
        break;
      case F::Choice: {
        const int n = byteAt(v, 0);
        set(it.field, n < configFieldNamed(QString::fromLatin1(it.field))->limit ? n : -1);
        break;
      }
      case F::Flags:
        for (int bit = 7; bit >= 0; --bit)
          if (const char* box = it.bits[static_cast<std::size_t>(bit)]) set(box, static_cast<bool>((byteAt(v, 0) >> bit) & 1));
        break;
      case F::Sensor:
        c.thresholds[it.sensor] = byteAt(v, 0);
        break;
    }
  }
  c.firmware.clear();
  c.port.clear();
  return c;
}

std::optional<ConfigValues> configFromForm(const Form& form, QString* error, Problem* why) {
  return configValuesOf(configurationOf(form), error, why);
}

Bytes serializeConfig(const ConfigValues& values) {
  Bytes file;
  file.reserve(kConfigMinSize + 255);
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size() && i < values.values.size(); ++i) {
    const Bytes& v = values.values[i];
    switch (items[i].form) {
      case F::Text:
      case F::Matrix:
        file += oneByte(static_cast<int>(v.size()));
        file += v;
        break;
      case F::Checksum:
        file += oneByte(xorChecksum(file, file.size()));
        break;
      default:
        file += v;
        break;
    }
  }
  return file;
}

std::optional<Bytes> buildConfigFile(const Configuration& c, QString* error, Problem* why) {
  const auto values = configValuesOf(c, error, why);
  if (!values) return std::nullopt;
  return serializeConfig(*values);
}

std::optional<Bytes> buildConfigFile(const Form& form, QString* error, Problem* why) {
  return buildConfigFile(configurationOf(form), error, why);
}

std::optional<ConfigValues> parseConfigFile(const Bytes& file, QString* error, Problem* why) {
  auto fail = [&](const QString& text, Cause reason, QStringList args = {}) -> std::optional<ConfigValues> {
    if (error) *error = text;
    if (why) *why = Problem(Cause::None, reason, {}, std::move(args));
    return std::nullopt;
  };
  // The item's number and its field, as a reason names it.
  auto item = [](const ConfigItem& it) {
    return QStringList{QString::number(it.number), QString::fromUtf8(it.field ? it.field : it.description)};
  };
  const QString size = QString::number(file.size());
  if (file.size() < kConfigMinSize)
    return fail(QStringLiteral("plik ma %1, najmniej %2").arg(polishCount(static_cast<long long>(file.size()), "bajt", "bajty", "bajtów")).arg(kConfigMinSize),
                Cause::FileTooShort, {size, QString::number(kConfigMinSize)});
  if (file.size() > kFileBufferSize)
    return fail(QStringLiteral("plik ma %1, najwyżej %2").arg(polishCount(static_cast<long long>(file.size()), "bajt", "bajty", "bajtów")).arg(kFileBufferSize),
                Cause::FileTooLarge, {QString::number(kFileBufferSize)});
  if (std::string_view(file).substr(0, kMagicSize) != kConfigMagic)
    return fail(QStringLiteral("zły znacznik pliku"), Cause::WrongMark);
  if (xorChecksum(file, file.size() - 1) != byteAt(file, file.size() - 1))
    return fail(QStringLiteral("zła suma kontrolna"), Cause::WrongCheckByte);

  ConfigValues out;
  out.values.reserve(kConfigItems);
  std::size_t pos = 0;
  for (const ConfigItem& it : configItems()) {
    const std::size_t left = file.size() - pos;
    switch (it.form) {
      case F::Magic:
        out.values.push_back(file.substr(0, kMagicSize));
        pos = kMagicSize;
        break;
      case F::Text:
      case F::Matrix: {
        if (left < 1) return fail(QStringLiteral("plik kończy się przed: %1").arg(itemName(it)), Cause::FileEndsEarly, item(it));
        const std::size_t len = byteAt(file, pos);
        if (it.form == F::Matrix && len != kMatrixImageSize)
          return fail(QStringLiteral("%1 ma długość %2 zamiast %3").arg(itemName(it)).arg(len).arg(kMatrixImageSize),
                      Cause::MatrixLengthWrong, item(it) << QString::number(len) << QString::number(kMatrixImageSize));
        if (left - 1 < len)
          return fail(QStringLiteral("%1 sięga poza koniec pliku").arg(itemName(it)), Cause::ItemPastEnd, item(it));
        out.values.push_back(file.substr(pos + 1, len));
        pos += 1 + len;
        break;
      }
      case F::Choice: {
        if (left < 1) return fail(QStringLiteral("plik kończy się przed: %1").arg(itemName(it)), Cause::FileEndsEarly, item(it));
        // Any byte loads: one beyond the list leaves it without a selection, as an answer does.
        out.values.push_back(file.substr(pos, 1));
        ++pos;
        break;
      }
      case F::Checksum:
        if (left != 1)
          return left < 1 ? fail(QStringLiteral("plik kończy się przed sumą kontrolną"), Cause::FileEndsEarly)
                          : fail(QStringLiteral("%1 na końcu pliku").arg(polishCount(static_cast<long long>(left - 1), "zbędny bajt", "zbędne bajty", "zbędnych bajtów")),
                                 Cause::BytesLeftOver, {QString::number(left - 1)});
        out.values.push_back(file.substr(pos, 1));
        ++pos;
        break;
      default:
        if (left < 1) return fail(QStringLiteral("plik kończy się przed: %1").arg(itemName(it)), Cause::FileEndsEarly, item(it));
        out.values.push_back(file.substr(pos, 1));
        ++pos;
        break;
    }
  }
  return out;
}

void applyConfig(Form& form, const ConfigValues& values) { showConfiguration(form, configurationFrom(values)); }

std::optional<Configuration> readConfigFile(const Bytes& file, Notices* notices) {
  if (!readCheckedFile(file, kConfigMagic, notices)) return std::nullopt;
  Problem why;
  const auto values = parseConfigFile(file, nullptr, &why);
  if (!values) {
    why.cause = Cause::BadFormat;
    note(notices, MessageKind::Error, why);
    return std::nullopt;
  }
  return configurationFrom(*values);
}

bool loadConfigFile(Form& form, const Bytes& file, Notices* notices) {
  const auto c = readConfigFile(file, notices);
  if (!c) return false;
  showConfiguration(form, *c);
  return true;
}

bool loadConfigFile(Form& form, const QString& path, Notices* notices) {
  const auto file = readCheckedFile(path, kConfigMagic, notices);
  if (!file) return false;
  return loadConfigFile(form, *file, notices);
}

bool saveConfigFile(Form& form, const QString& path, Notices* notices) {
  form.commitEditing();
  QString text;
  Problem why;
  const auto file = buildConfigFile(form, &text, &why);
  if (!file || !saveFileAtomically(path, *file, &text, {}, &why)) {
    why.cause = Cause::ConfigNotSaved;
    note(notices, MessageKind::Error, why);
    return false;
  }
  return true;
}

}  // namespace dovu

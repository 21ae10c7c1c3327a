#include "storage/configfile.h"

#include "base/plural.h"
#include "model/cp1250.h"
#include "storage/checkedfile.h"
#include "model/params.h"
#include "storage/fieldnames.h"

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
  auto sensor = [&](B b, const char* field, const char* description) {
    ConfigItem* it = add(F::Sensor, field, description);
    it->sensor = b;
  };

  add(F::Magic, nullptr, "magic");
  add(F::Text, "password", "access password");
  add(F::Text, "pin", "SIM PIN");
  add(F::Text, "smsCentre", "SMS centre number");
  add(F::Text, "telephones[0]", "telephone 1");
  add(F::Text, "telephones[1]", "telephone 2");
  add(F::Text, "telephones[2]", "telephone 3");
  add(F::Text, "telephones[3]", "telephone 4");
  add(F::Text, "inputs[0].normalText", "input 1 switched off text");
  add(F::Text, "inputs[1].normalText", "input 2 switched off text");
  add(F::Text, "inputs[2].normalText", "input 3 switched off text");
  add(F::Text, "inputs[3].normalText", "input 4 switched off text");
  add(F::Text, "inputs[4].normalText", "input 5 switched off text");
  add(F::Text, "inputs[0].alarmText", "input 1 switched on text");
  add(F::Text, "inputs[1].alarmText", "input 2 switched on text");
  add(F::Text, "inputs[2].alarmText", "input 3 switched on text");
  add(F::Text, "inputs[3].alarmText", "input 4 switched on text");
  add(F::Text, "inputs[4].alarmText", "input 5 switched on text");
  add(F::Text, "outputs[0].onWord", "output 1 switch-on word");
  add(F::Text, "outputs[1].onWord", "output 2 switch-on word");
  add(F::Text, "outputs[2].onWord", "output 3 switch-on word");
  add(F::Text, "outputs[3].onWord", "output 4 switch-on word");
  add(F::Text, "outputs[0].offWord", "output 1 switch-off word");
  add(F::Text, "outputs[1].offWord", "output 2 switch-off word");
  add(F::Text, "outputs[2].offWord", "output 3 switch-off word");
  add(F::Text, "outputs[3].offWord", "output 4 switch-off word");
  add(F::Matrix, nullptr, "notification matrix");
  add(F::Number, "outputs[0].time", "output 1 monostable time");
  add(F::Number, "outputs[1].time", "output 2 monostable time");
  add(F::Number, "outputs[2].time", "output 3 monostable time");
  add(F::Number, "outputs[3].time", "output 4 monostable time");
  add(F::Number, "limits.sms", "daily SMS limit");
  add(F::Number, "limits.voice", "daily voice call limit");
  add(F::Number, "autoTest.hours", "automatic test period, hours");
  flags("output flags 1", {"confirmation.enabled", "outputs[2].monostable", "outputs[1].monostable",
                           "outputs[0].monostable", "outputs[2].normallyClosed", "outputs[1].normallyClosed",
                           "outputs[0].normallyClosed", nullptr});
  flags("output flags 2", {"autoTest.enabled", "outputs[3].monostable", "outputs[3].normallyClosed",
                           "sendStateAtStart", nullptr, nullptr, nullptr, nullptr});
  add(F::Choice, "outputs[0].drivenBy", "threshold driving output 1");
  add(F::Choice, "outputs[1].drivenBy", "threshold driving output 2");
  add(F::Choice, "outputs[2].drivenBy", "threshold driving output 3");
  add(F::Choice, "outputs[3].drivenBy", "threshold driving output 4");
  flags("status reply selection", {"statusQuery.reply.t1", "statusQuery.reply.t2", "statusQuery.reply.ex",
                                   "statusQuery.reply.dc", "statusQuery.reply.t3", "statusQuery.reply.humidity",
                                   "statusQuery.reply.io", nullptr});
  add(F::Text, "confirmation.text", "confirmation SMS text");
  add(F::Text, "autoTest.text", "automatic test SMS text");
  add(F::Text, "ex.alarmText", "EX supply present text");
  add(F::Text, "ex.normalText", "EX supply missing text");
  add(F::Text, "dc.alarmText", "DC supply high text");
  add(F::Text, "dc.normalText", "DC supply low text");
  add(F::Text, "sensors.t1.highText", "T1 high text");
  add(F::Text, "sensors.t1.normalText", "T1 normal text");
  add(F::Text, "sensors.t1.lowText", "T1 low text");
  add(F::Text, "sensors.t2.highText", "T2 high text");
  add(F::Text, "sensors.t2.normalText", "T2 normal text");
  add(F::Text, "sensors.t2.lowText", "T2 low text");
  add(F::Text, "sensors.t3.highText", "T3 high text");
  add(F::Text, "sensors.t3.normalText", "T3 normal text");
  add(F::Text, "sensors.t3.lowText", "T3 low text");
  add(F::Text, "sensors.humidity.highText", "humidity high text");
  add(F::Text, "sensors.humidity.normalText", "humidity normal text");
  add(F::Text, "sensors.humidity.lowText", "humidity low text");
  add(F::Text, "telephones[4]", "telephone 5");
  add(F::Text, "telephones[5]", "telephone 6");
  add(F::Text, "telephones[6]", "telephone 7");
  add(F::Text, "telephones[7]", "telephone 8");
  add(F::Text, "statusQuery.text", "status query text");
  sensor(B::T1Korekta, "sensors.t1.correction", "T1 correction");
  sensor(B::T2Korekta, "sensors.t2.correction", "T2 correction");
  sensor(B::T3Korekta, "sensors.t3.correction", "T3 correction");
  sensor(B::T1Min, "sensors.t1.min", "T1 lower threshold");
  sensor(B::T2Min, "sensors.t2.min", "T2 lower threshold");
  sensor(B::T3Min, "sensors.t3.min", "T3 lower threshold");
  sensor(B::WMin, "sensors.humidity.min", "humidity lower threshold");
  sensor(B::T1Max, "sensors.t1.max", "T1 upper threshold");
  sensor(B::T2Max, "sensors.t2.max", "T2 upper threshold");
  sensor(B::T3Max, "sensors.t3.max", "T3 upper threshold");
  sensor(B::WMax, "sensors.humidity.max", "humidity upper threshold");
  sensor(B::ACnap, "ex.threshold", "EX supply voltage threshold");
  sensor(B::DCnap, "dc.threshold", "DC supply voltage threshold");
  flags("mode flags", {"out1Siren", "miniCa", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr});
  add(F::Number, "sensors.t1.delay", "T1 alarm delay, minutes");
  add(F::Number, "sensors.t2.delay", "T2 alarm delay, minutes");
  add(F::Number, "sensors.t3.delay", "T3 alarm delay, minutes");
  add(F::Number, "sensors.humidity.delay", "humidity alarm delay, minutes");
  add(F::Checksum, nullptr, "check byte");
  return v;
}

// The parameter that carries the matrix image the file embeds.
constexpr std::uint8_t kMatrixReadCode = 52;

// The byte of a list without a selection; indexes beyond the list are refused.
constexpr int kNoChoiceByte = 255;

Bytes oneByte(int v) { return Bytes(1, static_cast<char>(static_cast<std::uint8_t>(v))); }

// An item's field as messages name it: by its format-1 name, else its description.
QString itemField(const ConfigItem& it) {
  return it.field ? formatOneName(QString::fromLatin1(it.field)) : QString::fromUtf8(it.description);
}

QString itemName(const ConfigItem& it) { return QStringLiteral("pozycja %1 (%2)").arg(it.number).arg(itemField(it)); }

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
          if (error) *error = QStringLiteral("pole %1 nie zawiera liczby").arg(itemField(it));
          if (why) *why = Problem(Cause::None, Cause::NotANumber, {}, {itemField(it)});
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

std::optional<ConfigValues> parseConfigFile(const Bytes& file, QString* error, Problem* why) {
  auto fail = [&](const QString& text, Cause reason, QStringList args = {}) -> std::optional<ConfigValues> {
    if (error) *error = text;
    if (why) *why = Problem(Cause::None, reason, {}, std::move(args));
    return std::nullopt;
  };
  // The item's number and its field, as a reason names it.
  auto item = [](const ConfigItem& it) {
    return QStringList{QString::number(it.number), itemField(it)};
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

std::optional<Configuration> readConfigFile(const QString& path, Notices* notices) {
  const auto file = readCheckedFile(path, kConfigMagic, notices);
  if (!file) return std::nullopt;
  return readConfigFile(*file, notices);
}

bool saveConfigFile(const Configuration& c, const QString& path, Notices* notices) {
  QString text;
  Problem why;
  const auto file = buildConfigFile(c, &text, &why);
  if (!file || !saveFileAtomically(path, *file, &text, {}, &why)) {
    why.cause = Cause::ConfigNotSaved;
    note(notices, MessageKind::Error, why);
    return false;
  }
  return true;
}

}  // namespace dovu

#include "model/configuration.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>

#include "model/captions.h"
#include "model/cp1250.h"
#include "model/params.h"

namespace dovu {

namespace {

using T = ConfigFieldType;

// Lower-case names of the event sources in the matrix's row order.
constexpr const char* kSourceNames[] = {"in1", "in2", "in3", "in4", "in5", "t1",
                                        "t2",  "t3",  "humidity", "ex", "dc"};
static_assert(std::size(kSourceNames) == Configuration::kSources);
static_assert(std::size(kSourceNames) == std::size(captions::kMatrixRowLabels));
constexpr const char* kSensorNames[] = {"t1", "t2", "t3", "humidity"};
static_assert(std::size(kSensorNames) == std::size(captions::kSensorPages));

struct Table {
  std::vector<ConfigField> fields;
  std::unordered_map<QString, std::size_t> byName;  // stable names

  template <class F>
  void add(QString name, T type, F member, ConfigValue initial, QString caption, int limit = 0) {
    fields.push_back({std::move(name), type, limit, std::move(initial), std::move(caption), TextChars::Any,
                      [member](Configuration& c) -> void* { return &member(c); }});
  }
  // The characters the text field added last takes, when not every Windows-1250 one.
  void takes(TextChars chars) { fields.back().chars = chars; }

  Table() {
    using namespace captions;
    const auto words = [](const char* a, const char* b, const char* sep = " ") {
      return QString::fromUtf8(a) + QLatin1String(sep) + QString::fromUtf8(b);
    };
    // The initial values are what a new window shows.
    const QString none;
    add("password", T::Text, [](Configuration& c) -> QString& { return c.password; },
        QString::fromLatin1(kDefaultPassword), QStringLiteral("HASŁO"));
    takes(TextChars::Digits);
    add("pin", T::Text, [](Configuration& c) -> QString& { return c.pin; }, QStringLiteral("8617"), QStringLiteral("PIN"));
    takes(TextChars::Digits);
    add("smsCentre", T::Text, [](Configuration& c) -> QString& { return c.smsCentre; },
        QString::fromLatin1(kDefaultSmsCentre), QStringLiteral("Centrum SMS"));
    takes(TextChars::Phone);
    for (std::size_t i = 0; i < 8; ++i) {
      add(QStringLiteral("telephones[%1]").arg(i), T::Text, [i](Configuration& c) -> QString& { return c.telephones[i]; },
          none, QStringLiteral("Telefon nr %1").arg(i + 1));
      takes(TextChars::Phone);
    }
    for (std::size_t i = 0; i < std::size(kInputLabels); ++i) {
      const QString in = QStringLiteral("inputs[%1].").arg(i);
      add(in + "alarmText", T::Text, [i](Configuration& c) -> QString& { return c.inputs[i].alarmText; }, none,
          words(kInputLabels[i], kActiveColumn, " - "));
      add(in + "normalText", T::Text, [i](Configuration& c) -> QString& { return c.inputs[i].normalText; }, none,
          words(kInputLabels[i], kInactiveColumn, " - "));
    }
    // kSupplyLabels: DC, then EX.
    add("dc.alarmText", T::Text, [](Configuration& c) -> QString& { return c.dc.alarmText; }, none,
        words(kSupplyLabels[0], kActiveColumn, " - "));
    add("dc.normalText", T::Text, [](Configuration& c) -> QString& { return c.dc.normalText; }, none,
        words(kSupplyLabels[0], kInactiveColumn, " - "));
    add("ex.alarmText", T::Text, [](Configuration& c) -> QString& { return c.ex.alarmText; }, none,
        words(kSupplyLabels[1], kActiveColumn, " - "));
    add("ex.normalText", T::Text, [](Configuration& c) -> QString& { return c.ex.normalText; }, none,
        words(kSupplyLabels[1], kInactiveColumn, " - "));
    for (std::size_t i = 0; i < std::size(kOutputLabels); ++i) {
      const QString out = QStringLiteral("outputs[%1].").arg(i);
      const char* o = kOutputLabels[i];
      add(out + "onWord", T::Text, [i](Configuration& c) -> QString& { return c.outputs[i].onWord; }, none,
          words(o, kOutputColumns[0]));
      takes(TextChars::NoSpace);
      add(out + "offWord", T::Text, [i](Configuration& c) -> QString& { return c.outputs[i].offWord; }, none,
          words(o, kOutputColumns[1]));
      takes(TextChars::NoSpace);
      add(out + "normallyClosed", T::Flag, [i](Configuration& c) -> bool& { return c.outputs[i].normallyClosed; },
          false, words(o, kOutputColumns[2]));
      add(out + "monostable", T::Flag, [i](Configuration& c) -> bool& { return c.outputs[i].monostable; }, false,
          words(o, kOutputColumns[3]));
      add(out + "time", T::Number, [i](Configuration& c) -> int& { return c.outputs[i].time; }, 5,
          words(o, kOutputColumns[4]));
      add(out + "drivenBy", T::Choice, [i](Configuration& c) -> int& { return c.outputs[i].drivenBy; }, -1,
          words(o, kOutputColumns[5]), static_cast<int>(std::size(kDrivenByItems)));
    }
    add("confirmation.enabled", T::Flag, [](Configuration& c) -> bool& { return c.confirm; }, false,
        QStringLiteral("Wyślij potwierdzenie"));
    add("confirmation.text", T::Text, [](Configuration& c) -> QString& { return c.confirmText; }, QStringLiteral("OK"),
        QStringLiteral("Treść potwierdzenia"));
    add("autoTest.enabled", T::Flag, [](Configuration& c) -> bool& { return c.autoTest; }, false,
        QStringLiteral("Automatyczny SMS na telefon nr 1"));
    add("autoTest.text", T::Text, [](Configuration& c) -> QString& { return c.autoTestText; }, none,
        QStringLiteral("Treść automatycznego SMS"));
    add("autoTest.hours", T::Number, [](Configuration& c) -> int& { return c.autoTestHours; }, 24,
        QStringLiteral("Automatyczny SMS co [h]"));
    add("sendStateAtStart", T::Flag, [](Configuration& c) -> bool& { return c.sendStateAtStart; }, false,
        QStringLiteral("Wyślij stan po starcie"));
    add("miniCa", T::Flag, [](Configuration& c) -> bool& { return c.miniCa; }, false, QStringLiteral("tryb mini CA"));
    add("out1Siren", T::Flag, [](Configuration& c) -> bool& { return c.out1Siren; }, false,
        QStringLiteral("OUT1 - sygnalizator"));
    add("limits.sms", T::Number, [](Configuration& c) -> int& { return c.smsLimit; }, 0, QStringLiteral("Limit SMS:"));
    add("limits.voice", T::Number, [](Configuration& c) -> int& { return c.voiceLimit; }, 0,
        QStringLiteral("Limit połączeń:"));
    const SensorSettings thresholds = SensorSettings::defaults();
    auto threshold = [&](const QString& name, QString caption) {
      const std::size_t b = static_cast<std::size_t>(sensorNamed(name)->byte);
      add(name, T::Byte, [b](Configuration& c) -> std::uint8_t& { return c.thresholds.bytes[b]; },
          static_cast<int>(thresholds.bytes[b]), std::move(caption));
    };
    for (std::size_t i = 0; i < std::size(kSensorNames); ++i) {
      const char* who = kSensorPages[i].who;
      const QString s = QStringLiteral("sensors.%1.").arg(QLatin1String(kSensorNames[i]));
      add(s + "highText", T::Text, [i](Configuration& c) -> QString& { return c.sensors[i].highText; }, none,
          words(who, kSensorHigh));
      add(s + "normalText", T::Text, [i](Configuration& c) -> QString& { return c.sensors[i].normalText; }, none,
          words(who, kSensorNormal));
      add(s + "lowText", T::Text, [i](Configuration& c) -> QString& { return c.sensors[i].lowText; }, none,
          words(who, kSensorLow));
      threshold(s + "max", words(who, kSensorMax));
      threshold(s + "min", words(who, kSensorMin));
      // The humidity sensor has no correction.
      if (sensorNamed(s + "correction")) threshold(s + "correction", words(who, kSensorCorrection));
      add(s + "delay", T::Number, [i](Configuration& c) -> int& { return c.sensors[i].delay; }, 0,
          words(who, kSensorDelay) + u' ' + QString::fromUtf8(kSensorDelayUnit));
    }
    threshold(QStringLiteral("dc.threshold"), words(kSupplyLabels[0], kThresholdCaption, " - "));
    threshold(QStringLiteral("ex.threshold"), words(kSupplyLabels[1], kThresholdCaption, " - "));
    add("statusQuery.text", T::Text, [](Configuration& c) -> QString& { return c.statusQuery; }, QStringLiteral("?"),
        QStringLiteral("Zapytanie o stan:"));
    using Reply = Configuration::Reply;
    constexpr bool Reply::*kReply[] = {&Reply::t1, &Reply::t2, &Reply::t3, &Reply::humidity,
                                       &Reply::dc, &Reply::ex, &Reply::io};
    constexpr const char* kReplyNames[] = {"t1", "t2", "t3", "humidity", "dc", "ex", "io"};
    static_assert(std::size(kReply) == std::size(kReplyLabels));
    for (std::size_t i = 0; i < std::size(kReply); ++i) {
      bool Reply::*m = kReply[i];
      add(QStringLiteral("statusQuery.reply.%1").arg(QLatin1String(kReplyNames[i])), T::Flag,
          [m](Configuration& c) -> bool& { return c.reply.*m; }, false, words(kReplyCaption, kReplyLabels[i]));
    }
    // kMatrixPages: SMS, then voice.
    for (std::size_t page = 0; page < std::size(captions::kMatrixPages); ++page) {
      const bool voice = page == 1;
      for (std::size_t r = 0; r < std::size(kSourceNames); ++r)
        for (std::size_t t = 0; t < 8; ++t)
          add(QStringLiteral("matrix.%1.%2[%3]")
                  .arg(QLatin1String(voice ? "voice" : "sms"), QLatin1String(kSourceNames[r]))
                  .arg(t),
              T::Flag, [voice, r, t](Configuration& c) -> bool& { return (voice ? c.matrix.voice : c.matrix.sms)[r][t]; },
              false, QStringLiteral("%1 tel. %2").arg(words(captions::kMatrixPages[page], kMatrixRowLabels[r])).arg(t + 1));
    }
    // The order: the password, then as the parameters carry the fields.
    std::unordered_map<QString, std::size_t> place{{QStringLiteral("password"), 0}};
    for (const ParamDef& p : paramTable())
      for (const char* name : parameterFieldNames(p)) place.emplace(QString::fromLatin1(name), place.size());
    std::stable_sort(fields.begin(), fields.end(),
                     [&](const ConfigField& a, const ConfigField& b) { return place.at(a.name) < place.at(b.name); });
    // The text limits the controller keeps.
    for (const ParamDef& p : paramTable())
      if (p.kind == PayloadKind::Text)
        for (ConfigField& f : fields)
          if (f.name == QLatin1String(p.field)) f.limit = p.limit;
    for (std::size_t i = 0; i < fields.size(); ++i) byName.emplace(fields[i].name, i);
  }
};

const Table& table() {
  static const Table t;
  return t;
}

template <class V>
V& ref(Configuration& c, const ConfigField& f) {
  return *static_cast<V*>(f.at(c));
}
template <class V>
const V& ref(const Configuration& c, const ConfigField& f) {
  return *static_cast<const V*>(f.at(const_cast<Configuration&>(c)));
}

}  // namespace

namespace {

constexpr const char* kOperatorNumbers[] = {kDefaultSmsCentre, "+48602951111", "+48601000310", "+48790998250"};
static_assert(std::size(kOperatorNumbers) == kOperatorOther);
static_assert(std::size(captions::kOperatorNames) == kOperatorOther + 1);

}  // namespace

QString operatorNumber(int index) {
  if (index < 0 || index >= kOperatorOther) return {};
  return QString::fromLatin1(kOperatorNumbers[index]);
}

int operatorIndexOf(const QString& number) {
  for (int i = 0; i < kOperatorOther; ++i)
    if (number == QLatin1String(kOperatorNumbers[i])) return i;
  return kOperatorOther;
}

bool takesChar(TextChars chars, QChar c) {
  if (c.category() == QChar::Other_Control) return false;
  const bool digit = c >= u'0' && c <= u'9';
  switch (chars) {
    case TextChars::Digits: return digit;
    case TextChars::Phone: return digit || c == u'+';
    case TextChars::NoSpace: return c != u' ' && inCp1250(c);
    case TextChars::Any: return inCp1250(c);
  }
  return false;
}

bool Configuration::operator==(const Configuration& o) const {
  for (const ConfigField& f : configFields())
    if (configValue(*this, f) != configValue(o, f)) return false;
  return true;
}

const std::vector<ConfigField>& configFields() { return table().fields; }

const ConfigField* configFieldNamed(const QString& name) {
  const auto& m = table().byName;
  const auto it = m.find(name);
  return it == m.end() ? nullptr : &table().fields[it->second];
}

ConfigValue configValue(const Configuration& c, const ConfigField& f) {
  switch (f.type) {
    case T::Text: return ref<QString>(c, f);
    case T::Number:
    case T::Choice: return ref<int>(c, f);
    case T::Flag: return ref<bool>(c, f);
    case T::Byte: return static_cast<int>(ref<std::uint8_t>(c, f));
  }
  return {};
}

void setConfigValue(Configuration& c, const ConfigField& f, const ConfigValue& v) {
  switch (f.type) {
    case T::Text:
      if (const auto* s = std::get_if<QString>(&v)) ref<QString>(c, f) = *s;
      break;
    case T::Number:
    case T::Choice:
      if (const auto* n = std::get_if<int>(&v)) ref<int>(c, f) = *n;
      break;
    case T::Flag:
      if (const auto* b = std::get_if<bool>(&v)) ref<bool>(c, f) = *b;
      break;
    case T::Byte:
      if (const auto* n = std::get_if<int>(&v)) ref<std::uint8_t>(c, f) = static_cast<std::uint8_t>(*n);
      break;
  }
}

Configuration defaultConfiguration() {
  static const Configuration c = [] {
    Configuration d;
    for (const ConfigField& f : configFields()) setConfigValue(d, f, f.initial);
    return d;
  }();
  return c;
}

const ParamDef* textOverLimit(const Configuration& c) {
  for (const ParamDef& p : paramTable())
    if (p.kind == PayloadKind::Text && ref<QString>(c, *configFieldNamed(QString::fromLatin1(p.field))).size() > p.limit)
      return &p;
  return nullptr;
}

}  // namespace dovu

#include "storage/fieldnames.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace dovu {

namespace {

struct Names {
  std::vector<std::string> byField;                    // by the field's place in configFields()
  std::unordered_map<QString, std::size_t> fieldOf;    // format-1 name -> place

  Names() {
    struct Pair {
      const char* stable;
      const char* old;
    };
    static constexpr Pair kPairs[] = {
    {"password", "Edit_haslo"},
    {"pin", "Edit_pin"},
    {"smsCentre", "Edit_operator"},
    {"telephones[0]", "Edit_Tel1"},
    {"telephones[1]", "Edit_Tel2"},
    {"telephones[2]", "Edit_Tel3"},
    {"telephones[3]", "Edit_Tel4"},
    {"inputs[0].normalText", "Edit_IN1N"},
    {"inputs[1].normalText", "Edit_IN2N"},
    {"inputs[2].normalText", "Edit_IN3N"},
    {"inputs[3].normalText", "Edit_IN4N"},
    {"inputs[4].normalText", "Edit_IN5N"},
    {"inputs[0].alarmText", "Edit_IN1A"},
    {"inputs[1].alarmText", "Edit_IN2A"},
    {"inputs[2].alarmText", "Edit_IN3A"},
    {"inputs[3].alarmText", "Edit_IN4A"},
    {"inputs[4].alarmText", "Edit_IN5A"},
    {"outputs[0].onWord", "Edit_Out1zal"},
    {"outputs[1].onWord", "Edit_Out2zal"},
    {"outputs[0].offWord", "Edit_Out1wyl"},
    {"outputs[1].offWord", "Edit_Out2wyl"},
    {"outputs[2].onWord", "Edit_OUT3Zal"},
    {"outputs[2].offWord", "Edit_Out3Wyl"},
    {"outputs[3].onWord", "Edit_OUT4Zal"},
    {"outputs[3].offWord", "Edit_Out4Wyl"},
    {"outputs[3].monostable", "BoxOut4Mono"},
    {"outputs[2].monostable", "BoxOut3Mono"},
    {"outputs[1].monostable", "BoxOut2Mono"},
    {"outputs[0].monostable", "BoxOut1Mono"},
    {"outputs[3].normallyClosed", "BoxOut4NC"},
    {"outputs[2].normallyClosed", "BoxOut3NC"},
    {"outputs[1].normallyClosed", "BoxOut2NC"},
    {"outputs[0].normallyClosed", "BoxOut1NC"},
    {"limits.sms", "Edit_LimitSMS"},
    {"limits.voice", "Edit_LimitVoice"},
    {"outputs[0].time", "Out1Czas"},
    {"outputs[1].time", "Out2Czas"},
    {"outputs[2].time", "Out3Czas"},
    {"outputs[3].time", "Out4Czas"},
    {"confirmation.enabled", "BoxPotw"},
    {"autoTest.enabled", "BoxAutoTest"},
    {"sendStateAtStart", "BoxWyslijStan"},
    {"miniCa", "BoxCA"},
    {"out1Siren", "BoxOut1sygn"},
    {"autoTest.hours", "IleTest"},
    {"outputs[0].drivenBy", "ComboOut1"},
    {"outputs[1].drivenBy", "ComboOut2"},
    {"outputs[2].drivenBy", "ComboOut3"},
    {"outputs[3].drivenBy", "ComboOut4"},
    {"statusQuery.reply.t1", "T1send"},
    {"statusQuery.reply.t2", "T2send"},
    {"statusQuery.reply.ex", "ACsend"},
    {"statusQuery.reply.dc", "DCsend"},
    {"statusQuery.reply.t3", "T3send"},
    {"statusQuery.reply.humidity", "Wilgsend"},
    {"statusQuery.reply.io", "IOsend"},
    {"confirmation.text", "EditPotw"},
    {"autoTest.text", "EditAutotest"},
    {"ex.alarmText", "Edit_ACa"},
    {"ex.normalText", "Edit_ACn"},
    {"dc.alarmText", "Edit_DCa"},
    {"dc.normalText", "Edit_DCn"},
    {"sensors.t1.highText", "Edit_T1a"},
    {"sensors.t1.normalText", "Edit_T1ok"},
    {"sensors.t1.lowText", "Edit_T1n"},
    {"sensors.t2.highText", "Edit_T2a"},
    {"sensors.t2.normalText", "Edit_T2ok"},
    {"sensors.t2.lowText", "Edit_T2n"},
    {"sensors.t1.min", "Edit_T1Min"},
    {"sensors.t1.max", "Edit_T1Max"},
    {"sensors.t2.min", "Edit_T2Min"},
    {"sensors.t2.max", "Edit_T2Max"},
    {"sensors.t1.correction", "Edit_T1Korekta"},
    {"sensors.t2.correction", "Edit_T2Korekta"},
    {"ex.threshold", "Edit_ACnap"},
    {"dc.threshold", "Edit_DCnap"},
    {"sensors.t3.min", "Edit_T3Min"},
    {"sensors.t3.max", "Edit_T3Max"},
    {"sensors.t3.correction", "Edit_T3Korekta"},
    {"sensors.humidity.min", "Edit_WMin"},
    {"sensors.humidity.max", "Edit_WMax"},
    {"telephones[4]", "Edit_Tel5"},
    {"telephones[5]", "Edit_Tel6"},
    {"telephones[6]", "Edit_Tel7"},
    {"telephones[7]", "Edit_Tel8"},
    {"statusQuery.text", "JakiStan"},
    {"sensors.humidity.highText", "Edit_Wa"},
    {"sensors.humidity.normalText", "Edit_Wok"},
    {"sensors.humidity.lowText", "Edit_Wn"},
    {"sensors.t3.highText", "Edit_T3a"},
    {"sensors.t3.normalText", "Edit_T3ok"},
    {"sensors.t3.lowText", "Edit_T3n"},
    {"sensors.t1.delay", "EditT1opu"},
    {"sensors.t2.delay", "EditT2opu"},
    {"sensors.t3.delay", "EditT3opu"},
    {"sensors.humidity.delay", "EditWopu"},
    };
    std::unordered_map<QString, std::string> old;
    for (const Pair& p : kPairs) old.emplace(QString::fromLatin1(p.stable), p.old);
    // The matrix cells: "Box", the source, 'T' (SMS) or 'S' (voice), the telephone 1..8.
    constexpr const char* kSources[][2] = {{"in1", "IN1"}, {"in2", "IN2"}, {"in3", "IN3"}, {"in4", "IN4"},
                                           {"in5", "IN5"}, {"t1", "T1"},   {"t2", "T2"},   {"t3", "T3"},
                                           {"humidity", "W"}, {"ex", "AC"}, {"dc", "DC"}};
    for (const auto& s : kSources)
      for (int t = 0; t < 8; ++t) {
        old.emplace(QStringLiteral("matrix.sms.%1[%2]").arg(QLatin1String(s[0])).arg(t),
                    std::string("Box") + s[1] + 'T' + std::to_string(t + 1));
        old.emplace(QStringLiteral("matrix.voice.%1[%2]").arg(QLatin1String(s[0])).arg(t),
                    std::string("Box") + s[1] + 'S' + std::to_string(t + 1));
      }
    const auto& fields = configFields();
    byField.reserve(fields.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const auto it = old.find(fields[i].name);
      byField.push_back(it == old.end() ? fields[i].name.toStdString() : it->second);
      fieldOf.emplace(QString::fromStdString(byField.back()), i);
    }
  }
};

const Names& names() {
  static const Names n;
  return n;
}

}  // namespace

const char* formatOneName(const ConfigField& f) {
  const auto& fields = configFields();
  return names().byField[static_cast<std::size_t>(&f - fields.data())].c_str();
}

QString formatOneName(const QString& stableName) {
  const ConfigField* f = configFieldNamed(stableName);
  return f ? QString::fromLatin1(formatOneName(*f)) : stableName;
}

const ConfigField* fieldOfFormatOneName(const QString& name) {
  const auto& m = names().fieldOf;
  const auto it = m.find(name);
  return it == m.end() ? nullptr : &configFields()[it->second];
}

const ConfigField* fieldCalled(const QString& name) {
  if (const ConfigField* f = fieldOfFormatOneName(name)) return f;
  return configFieldNamed(name);
}

}  // namespace dovu

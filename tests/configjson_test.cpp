// The JSON form of a configuration: what it holds, the round trip, and the refusal of anything
// malformed.
#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include "storage/configfile.h"
#include "storage/fieldnames.h"
#include "storage/configjson.h"
#include "support/jsonpath.h"
#include "support/testapp.h"

using namespace dovu;

namespace {

Configuration configured() {
  Configuration c = defaultConfiguration();
  c.inputs[0].alarmText = QStringLiteral("Włamanie – strefa 1");  // en dash: in Windows-1250
  c.telephones[7] = QString();
  c.smsCentre = QStringLiteral("+48790998250");
  c.outputs[1].time = 5;
  c.sensors[2].delay = 0;
  c.sensors[3].delay = 200;
  c.miniCa = true;
  c.out1Siren = true;
  c.matrix.voice[10][7] = true;  // DC, telephone 8
  c.matrix.voice[8][2] = true;   // humidity, telephone 3
  c.outputs[2].drivenBy = 6;
  c.thresholds[SensorByte::T3Korekta] = 255;
  c.thresholds[SensorByte::WMax] = 0;
  return c;
}

QJsonObject at(const QJsonObject& root, const char* path, const QJsonValue& v) {
  return dovu::test::withJsonAt(root, QString::fromLatin1(path), v);
}

}  // namespace

TEST(ConfigJson, HoldsEveryFieldByMeaningWithItsType) {
  dovu::test::app();
  Configuration c = configured();
  c.outputs[2].time = Configuration::kNoNumber;  // a field that holds no number
  const QJsonObject o = configToJson(c);
  EXPECT_EQ(o.value("format").toInt(), 2);
  EXPECT_EQ(o.value("password").toString(), QStringLiteral("8617"));
  EXPECT_EQ(o.value("pin").toString(), QStringLiteral("8617"));  // a PIN keeps its leading zeros
  const QJsonArray phones = o.value("telephones").toArray();
  ASSERT_EQ(phones.size(), 8);
  EXPECT_EQ(phones.at(7).toString("x"), QString());
  EXPECT_EQ(o.value("inputs").toArray().at(0).toObject().value("alarmText").toString(),
            QStringLiteral("Włamanie – strefa 1"));
  const QJsonArray outputs = o.value("outputs").toArray();
  ASSERT_EQ(outputs.size(), 4);
  EXPECT_TRUE(outputs.at(0).toObject().value("time").isDouble());
  EXPECT_EQ(outputs.at(1).toObject().value("time").toInt(), 5);
  EXPECT_TRUE(outputs.at(2).toObject().value("time").isNull());
  EXPECT_EQ(outputs.at(0).toObject().value("drivenBy").toInt(), -1);
  EXPECT_EQ(outputs.at(2).toObject().value("drivenBy").toInt(), 6);
  EXPECT_EQ(o.value("miniCa").toBool(), true);
  const QJsonObject sensors = o.value("sensors").toObject();
  EXPECT_EQ(sensors.value("t1").toObject().value("min").toInt(), 130);
  EXPECT_EQ(sensors.value("t3").toObject().value("correction").toInt(), 255);
  EXPECT_EQ(sensors.value("t3").toObject().value("delay").toInt(), 0);
  EXPECT_EQ(sensors.value("humidity").toObject().value("max").toInt(), 0);
  EXPECT_EQ(sensors.value("humidity").toObject().value("delay").toInt(), 200);
  EXPECT_FALSE(sensors.value("humidity").toObject().contains("correction"));
  const QJsonObject matrix = o.value("matrix").toObject();
  EXPECT_EQ(matrix.value("voice").toObject().value("dc").toArray().at(7).toBool(), true);   // BoxDCS8
  EXPECT_EQ(matrix.value("voice").toObject().value("humidity").toArray().at(2).toBool(), true);  // BoxWS3
  EXPECT_EQ(matrix.value("sms").toObject().value("in1").toArray().at(0).toBool(true), false);
  // Nothing of the window's own: the operator list, the threshold displays, widget names.
  for (const char* name : {"Combo_operator", "Edit_T1Min", "Edit_haslo", "SensorSettings", "meta"})
    EXPECT_FALSE(o.contains(name)) << name;
}

TEST(ConfigJson, FilesOfTheEarlierFormatStillLoad) {
  dovu::test::app();
  // Written by dovu-cli 1.42 from a simulated controller, with the .dvc it converted it to.
  auto read = [](const char* name) {
    QFile file(QStringLiteral(DOVU_TEST_DATA "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
  };
  const QByteArray old = read("config-format1.json");
  const QByteArray dvc = read("config-format1.dvc");
  QString error;
  const auto c = configFromJsonText(old, &error);
  ASSERT_TRUE(c) << error.toStdString();
  EXPECT_EQ(c->telephones[7], QStringLiteral("+420603123456"));
  EXPECT_EQ(c->inputs[3].alarmText, QStringLiteral("POŻAR! Czujnik dymu"));
  EXPECT_EQ(c->outputs[3].time, 120);
  EXPECT_EQ(c->thresholds[SensorByte::T2Korekta], 130);
  EXPECT_EQ(c->firmware, QString());  // format 1 takes nothing from meta
  const auto file = buildConfigFile(*c, &error);
  ASSERT_TRUE(file);
  EXPECT_EQ(QByteArray(file->data(), qsizetype(file->size())), dvc);

  // Format 2 gives back the same configuration, and the origin from its meta.
  const auto again = configFromJsonText(
      configToJsonText(*c, configMeta({QStringLiteral("DOVU v 1.1"), QStringLiteral("/dev/pts/2")})), &error);
  ASSERT_TRUE(again) << error.toStdString();
  EXPECT_EQ(*again, *c);
  EXPECT_EQ(again->firmware, QStringLiteral("DOVU v 1.1"));
  EXPECT_EQ(again->port, QStringLiteral("/dev/pts/2"));
}

TEST(ConfigJson, RoundTripsEveryValueAndTextsLongerThanTheirLimit) {
  dovu::test::app();
  Configuration a = configured();
  const QByteArray text = configToJsonText(a);
  QString error;
  const auto b = configFromJsonText(text, &error);
  ASSERT_TRUE(b) << error.toStdString();
  EXPECT_EQ(*b, a);
  EXPECT_EQ(configToJsonText(*b), text);

  // Texts longer than their field's limit (from a file or the controller) survive the round trip.
  a.pin = QStringLiteral("123456");
  a.inputs[0].alarmText = QString(40, QChar(0x0142));
  const auto c = configFromJsonText(configToJsonText(a), &error);
  ASSERT_TRUE(c) << error.toStdString();
  EXPECT_EQ(c->pin, QStringLiteral("123456"));
  EXPECT_EQ(c->inputs[0].alarmText, QString(40, QChar(0x0142)));
}

TEST(ConfigJson, MalformedInputIsRefused) {
  dovu::test::app();
  const Configuration source = defaultConfiguration();
  // The earlier format, as a file holds it.
  QFile format1(QStringLiteral(DOVU_TEST_DATA "/config-format1.json"));
  ASSERT_TRUE(format1.open(QIODevice::ReadOnly));
  const QJsonObject good = QJsonDocument::fromJson(format1.readAll()).object();
  auto with = [&](const char* key, const QJsonValue& v) {
    QJsonObject o = good;
    o.insert(QLatin1String(key), v);
    return o;
  };
  auto withSensor = [&](const char* key, const QJsonValue& v) {
    QJsonObject s = good.value("SensorSettings").toObject();
    s.insert(QLatin1String(key), v);
    return with("SensorSettings", s);
  };
  QJsonObject missing = good;
  missing.remove("BoxWS8");
  QJsonObject missingSensor = good;
  QJsonObject ms = good.value("SensorSettings").toObject();
  ms.remove("DCnap");
  missingSensor.insert("SensorSettings", ms);

  struct Case {
    const char* what;
    QJsonObject json;
    const char* mention;
  };
  const Case cases[] = {
      {"unknown field", with("Edit_Tel9", QStringLiteral("1")), "Edit_Tel9"},
      {"missing field", missing, "BoxWS8"},
      {"missing sensor byte", missingSensor, "DCnap"},
      {"unknown sensor byte", withSensor("T4Min", 1), "T4Min"},
      {"check box as string", with("BoxCA", QStringLiteral("true")), "BoxCA"},
      {"text as number", with("Edit_Tel1", 48601), "Edit_Tel1"},
      {"number above a byte", with("Edit_LimitSMS", 256), "Edit_LimitSMS"},
      {"negative number", with("IleTest", -1), "IleTest"},
      {"fraction", with("Out1Czas", 2.5), "Out1Czas"},
      {"number text above a byte", with("Edit_LimitSMS", QStringLiteral("300")), "Edit_LimitSMS"},
      {"number text far above a byte", with("EditT1opu", QStringLiteral("999999999")), "EditT1opu"},
      {"number text that is no number", with("IleTest", QStringLiteral("abc")), "IleTest"},
      {"empty number text", with("EditT3opu", QString()), "EditT3opu"},
      {"signed number text", with("Out4Czas", QStringLiteral("+5")), "Out4Czas"},
      {"index beyond the list", with("ComboOut2", 9), "ComboOut2"},
      {"index below -1", with("ComboOut2", -2), "ComboOut2"},
      {"sensor byte out of range", withSensor("T1Max", 300), "T1Max"},
      {"sensor byte as text", withSensor("T1Max", QStringLiteral("+8")), "T1Max"},
      {"text longer than a file item", with("Edit_IN1A", QString(256, QLatin1Char('x'))), "Edit_IN1A"},
      {"text outside Windows-1250", with("Edit_IN1A", QStringLiteral("Alarm ✓")), "Edit_IN1A"},
      {"null", with("Edit_IN1A", QJsonValue()), "Edit_IN1A"},
      {"array", with("BoxCA", QJsonArray{true}), "BoxCA"},
      {"meta that is no object", with("meta", QStringLiteral("DOVU v 2.3")), "meta"},
      {"meta as an array", with("meta", QJsonArray{}), "meta"},
      {"a format this program does not know", with("format", 3), "newer"},
      {"format as a string", with("format", QStringLiteral("2")), "format"},
  };

  for (const Case& c : cases) {
    QString error;
    EXPECT_FALSE(configFromJson(c.json, &error)) << c.what;
    EXPECT_TRUE(error.contains(QLatin1String(c.mention))) << c.what << ": " << error.toStdString();
  }
  // The same in format 2, named by path.
  const QJsonObject good2 = configToJson(source);
  const Case cases2[] = {
      {"unknown field", at(good2, "telefony", QStringLiteral("1")), "telefony"},
      {"a name of the earlier format", at(good2, "Edit_Tel1", QStringLiteral("1")), "Edit_Tel1"},
      {"unknown member", at(good2, "outputs[1].colour", 1), "outputs[1].colour"},
      {"a ninth telephone", at(good2, "telephones[8]", QString()), "telephones[8]"},
      {"missing field", at(good2, "pin", QJsonValue::Undefined), "pin is missing"},
      {"short matrix row", at(good2, "matrix.sms.in1", QJsonArray{true, false}), "matrix.sms.in1[2] is missing"},
      {"a group as a value", at(good2, "sensors.t1", 130), "sensors.t1.highText is missing"},
      {"switch as string", at(good2, "miniCa", QStringLiteral("true")), "miniCa"},
      {"number above a byte", at(good2, "limits.sms", 256), "limits.sms"},
      {"number as a string", at(good2, "autoTest.hours", QStringLiteral("24")), "autoTest.hours"},
      {"threshold that is none", at(good2, "sensors.t2.max", QJsonValue()), "sensors.t2.max"},
      {"index beyond the list", at(good2, "outputs[3].drivenBy", 9), "outputs[3].drivenBy"},
      {"text outside Windows-1250", at(good2, "inputs[4].normalText", QStringLiteral("✓")), "inputs[4].normalText"},
      {"null text", at(good2, "smsCentre", QJsonValue()), "smsCentre"},
      {"origin that is no text", at(good2, "meta.port", 5), "meta.port"},
  };
  for (const Case& c : cases2) {
    QString error;
    EXPECT_FALSE(configFromJson(c.json, &error)) << c.what;
    EXPECT_TRUE(error.contains(QLatin1String(c.mention))) << c.what << ": " << error.toStdString();
  }
  // A name given twice, also when spelt with an escape, at the top or inside a nested object.
  const QByteArray goodText = configToJsonText(source);
  QByteArray twiceTop = goodText;
  twiceTop.replace("{", "{\"p\\u0069n\": \"0000\", ");
  QByteArray twiceSensor = goodText;
  twiceSensor.replace("\"max\"", "\"max\": 1, \"max\"");
  for (const QByteArray& text : {twiceTop, twiceSensor}) {
    QString error;
    EXPECT_FALSE(configFromJsonText(text, &error));
    EXPECT_TRUE(error.contains(QLatin1String("twice"))) << error.toStdString();
  }
  for (const char* text : {"{", "[1, 2]", "", "{\"Edit_pin\": \"1234\""}) {
    QString error;
    EXPECT_FALSE(configFromJsonText(text, &error)) << text;
    EXPECT_FALSE(error.isEmpty());
  }
}

// The meta object says where a file came from and nothing else: a reader takes no field from it,
// even one named like a field, and a file without it loads as before.
TEST(ConfigJson, MetaSaysWhereTheFileCameFromAndIsIgnoredOnLoad) {
  dovu::test::app();
  const Configuration source = configured();
  const QDateTime when(QDate(2026, 12, 8), QTime(17, 50, 3), Qt::OffsetFromUTC, 3600);
  const QByteArray text =
      configToJsonText(source, configMeta({QStringLiteral("DOVU v 2.3"), QStringLiteral("/dev/ttyUSB0")}, when));
  const QJsonObject meta = QJsonDocument::fromJson(text).object().value("meta").toObject();
  EXPECT_EQ(meta.value("date").toString(), QStringLiteral("2026-12-08T17:50:03+01:00"));
  EXPECT_TRUE(meta.value("program").toString().startsWith(QLatin1String("dovu-konfig ")));
  EXPECT_EQ(meta.value("firmware").toString(), QStringLiteral("DOVU v 2.3"));
  EXPECT_EQ(meta.value("port").toString(), QStringLiteral("/dev/ttyUSB0"));
  // Not read from a controller: no firmware or port entry at all.
  const QJsonObject fileMeta = configMeta({}, when);
  EXPECT_FALSE(fileMeta.contains("firmware"));
  EXPECT_FALSE(fileMeta.contains("port"));

  QJsonObject withFieldNames = QJsonDocument::fromJson(text).object();
  withFieldNames.insert("meta", QJsonObject{{"Edit_Tel1", "+48111"}, {"BoxCA", false}, {"future", QJsonArray{1}}});
  for (const QJsonObject& o : {QJsonDocument::fromJson(text).object(), withFieldNames, configToJson(source)}) {
    QString error;
    const auto loaded = configFromJson(o, &error);
    ASSERT_TRUE(loaded) << error.toStdString();
    EXPECT_EQ(configToJson(*loaded), configToJson(source));
  }
}

// A name from a site table or the command line, in either format, and a text value for it.
TEST(ConfigJson, NamesResolveInEitherFormatAndTextsAreChecked) {
  auto keys = [](const QString& name) {
    std::vector<std::string> out;
    for (const ConfigField* f : configFieldsNamed(name)) out.emplace_back(formatOneName(*f));
    return out;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(keys("telephones[0]"), V{"Edit_Tel1"});
  EXPECT_EQ(keys(" Edit_Tel1 "), V{"Edit_Tel1"});
  EXPECT_EQ(keys("SensorSettings.T1Max"), V{"Edit_T1Max"});
  EXPECT_EQ(keys("inputs[2]"), (V{"Edit_IN3N", "Edit_IN3A"}));
  EXPECT_EQ(keys("telephones").size(), 8u);
  EXPECT_EQ(keys("matrix.voice").size(), 88u);
  for (const char* nothing : {"", "telephone", "inputs[2].alarm", "inputs[20]", "SensorSettings", "Combo_operator"})
    EXPECT_TRUE(keys(nothing).empty()) << nothing;

  struct Case {
    const char* field;
    const char* text;
    std::optional<ConfigValue> value;  // nullopt: refused
  };
  const Case cases[] = {
      {"telephones[0]", "+48601234567", QStringLiteral("+48601234567")},
      {"inputs[0].alarmText", "Włamanie – strefa 1", QStringLiteral("Włamanie – strefa 1")},
      {"inputs[0].alarmText", "Alarm ✓", std::nullopt},
      {"limits.sms", " 7", 7},
      {"limits.sms", "256", std::nullopt},
      {"limits.sms", "-1", std::nullopt},
      {"limits.sms", "", std::nullopt},
      {"sensors.t1.max", "255", 255},
      {"sensors.t1.max", "+2", std::nullopt},
      {"miniCa", "Yes", true},
      {"miniCa", "0", false},
      {"miniCa", "tak", std::nullopt},
      {"outputs[0].drivenBy", "-1", -1},
      {"outputs[0].drivenBy", "8", 8},
      {"outputs[0].drivenBy", "9", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto f = configFieldsNamed(QString::fromUtf8(c.field));
    ASSERT_EQ(f.size(), 1u) << c.field;
    QString error;
    const auto v = configValueFromText(*f.front(), QString::fromUtf8(c.text), &error);
    EXPECT_EQ(v, c.value) << c.field << " " << c.text;
    if (!v) {
      EXPECT_TRUE(error.contains(QString::fromUtf8(c.field))) << error.toStdString();
    }
  }
}

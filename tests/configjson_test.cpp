// The JSON form of a configuration: what it holds, the round trip, and the refusal of anything
// malformed without touching the form.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include "model/form.h"
#include "model/matrix.h"
#include "storage/configjson.h"
#include "support/formsnapshot.h"
#include "support/testapp.h"

using namespace dovu;

namespace {

void configure(Form& f) {
  f.setText("Edit_IN1A", QStringLiteral("Włamanie – strefa 1"));  // en dash: in Windows-1250
  f.setText("Edit_Tel8", QString());
  f.setText("Edit_operator", QStringLiteral("+48790998250"));
  f.setText("Out2Czas", QStringLiteral("05"));  // not the plain form of a number: stays a string
  f.setText("EditT3opu", QStringLiteral("000"));
  f.setText("EditWopu", QStringLiteral("200"));
  f.setChecked("BoxCA", true);
  f.setChecked("BoxOut1sygn", true);
  f.setChecked("BoxDCS8", true);
  f.setChecked("BoxWS3", true);
  f.setIndex("ComboOut3", 6);
  f.setSensor(SensorByte::T3Korekta, 255);
  f.setSensor(SensorByte::WMax, 0);
  f.showAllSensors();
}

}  // namespace

TEST(ConfigJson, HoldsEveryFieldByNameWithItsType) {
  dovu::test::app();
  Form f;
  configure(f);
  const QJsonObject o = configToJson(f);
  // Password, 47 texts, 176 cells, 31 entries of the output block, 4 delays, the sensor object.
  EXPECT_EQ(o.size(), 1 + 47 + 176 + 31 + 4 + 1);
  EXPECT_EQ(o.value("Edit_haslo").toString(), QStringLiteral("8617"));
  EXPECT_EQ(o.value("Edit_IN1A").toString(), QStringLiteral("Włamanie – strefa 1"));
  EXPECT_EQ(o.value("Edit_Tel8").toString(), QString());
  EXPECT_EQ(o.value("Edit_pin").toString(), QStringLiteral("8617"));  // a PIN keeps its leading zeros
  EXPECT_TRUE(o.value("Out1Czas").isDouble());
  EXPECT_EQ(o.value("Out1Czas").toInt(), 5);
  EXPECT_EQ(o.value("Out2Czas").toString(), QStringLiteral("05"));
  EXPECT_EQ(o.value("EditT3opu").toString(), QStringLiteral("000"));
  EXPECT_EQ(o.value("EditWopu").toInt(), 200);
  EXPECT_EQ(o.value("BoxCA").toBool(), true);
  EXPECT_EQ(o.value("BoxDCS8").toBool(), true);
  EXPECT_EQ(o.value("BoxIN1T1").toBool(false), false);
  EXPECT_EQ(o.value("ComboOut1").toInt(), -1);
  EXPECT_EQ(o.value("ComboOut3").toInt(), 6);
  const QJsonObject s = o.value("SensorSettings").toObject();
  EXPECT_EQ(s.size(), 13);
  EXPECT_EQ(s.value("T1Min").toInt(), 130);
  EXPECT_EQ(s.value("T3Korekta").toInt(), 255);
  EXPECT_EQ(s.value("WMax").toInt(), 0);
  EXPECT_FALSE(o.contains("Combo_operator"));
  EXPECT_FALSE(o.contains("Edit_T1Min"));
}

TEST(ConfigJson, LoadWritesThroughTheSettersAndRoundTrips) {
  dovu::test::app();
  Form a;
  configure(a);
  const QByteArray text = configToJsonText(a);

  Form b;
  QString error;
  ASSERT_TRUE(configFromJsonText(b, text, &error)) << error.toStdString();
  EXPECT_EQ(configToJsonText(b), text);
  EXPECT_EQ(packMatrixImage(b), packMatrixImage(a));
  EXPECT_EQ(b.sensors(), a.sensors());
  EXPECT_EQ(b.text("Edit_T3Korekta"), QStringLiteral("-31,75"));
  EXPECT_EQ(b.text("Out2Czas"), QStringLiteral("05"));
  // BoxCA comes before BoxOut1sygn, so the latter ends checked and enabled.
  EXPECT_TRUE(b.checked("BoxOut1sygn"));
  EXPECT_TRUE(b.state("BoxOut1sygn").enabled);
  EXPECT_EQ(b.index("Combo_operator"), 3);
  // Changed values carry the change marker; unchanged ones keep their colour.
  EXPECT_EQ(b.colour("Edit_IN1A"), kRed);
  EXPECT_EQ(b.colour("BoxDCS8"), kRed);
  EXPECT_EQ(b.colour("Edit_WMax"), kRed);
  EXPECT_EQ(b.colour("Edit_T1Min"), kWindowColour);
  EXPECT_EQ(b.colour("Edit_Tel1"), kYellow);

  // Loading the same again changes nothing.
  const dovu::test::FormSnapshot before(b);
  ASSERT_TRUE(configFromJsonText(b, text, &error));
  EXPECT_TRUE(before.diff(b).empty());

  // Texts longer than their field's limit (from a file or the controller) survive the round trip.
  a.setText("Edit_pin", QStringLiteral("123456"));
  a.setText("Edit_IN1A", QString(40, QChar(0x0142)));
  ASSERT_TRUE(configFromJsonText(b, configToJsonText(a), &error)) << error.toStdString();
  EXPECT_EQ(b.text("Edit_pin"), QStringLiteral("123456"));
  EXPECT_EQ(b.text("Edit_IN1A"), QString(40, QChar(0x0142)));
}

TEST(ConfigJson, MalformedInputIsRefusedWithoutChangingAnything) {
  dovu::test::app();
  Form source;
  const QJsonObject good = configToJson(source);
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
  };

  Form target;
  configure(target);
  const dovu::test::FormSnapshot before(target);
  for (const Case& c : cases) {
    QString error;
    EXPECT_FALSE(configFromJson(target, c.json, &error)) << c.what;
    EXPECT_TRUE(error.contains(QLatin1String(c.mention))) << c.what << ": " << error.toStdString();
  }
  // A name given twice, also when spelt with an escape, at the top or inside SensorSettings.
  const QByteArray goodText = configToJsonText(source);
  QByteArray twiceTop = goodText;
  twiceTop.replace("{", "{\"Edit_p\\u0069n\": \"0000\", ");
  QByteArray twiceSensor = goodText;
  twiceSensor.replace("\"WMax\"", "\"WMax\": 1, \"WMax\"");
  for (const QByteArray& text : {twiceTop, twiceSensor}) {
    QString error;
    EXPECT_FALSE(configFromJsonText(target, text, &error));
    EXPECT_TRUE(error.contains(QLatin1String("twice"))) << error.toStdString();
  }
  for (const char* text : {"{", "[1, 2]", "", "{\"Edit_pin\": \"1234\""}) {
    QString error;
    EXPECT_FALSE(configFromJsonText(target, text, &error)) << text;
    EXPECT_FALSE(error.isEmpty());
  }
  EXPECT_EQ(before.diff(target), std::vector<std::string>{});
}

// The meta object says where a file came from and nothing else: a reader takes no field from it,
// even one named like a field, and a file without it loads as before.
TEST(ConfigJson, MetaSaysWhereTheFileCameFromAndIsIgnoredOnLoad) {
  dovu::test::app();
  Form source;
  configure(source);
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
    Form loaded;
    QString error;
    ASSERT_TRUE(configFromJson(loaded, o, &error)) << error.toStdString();
    EXPECT_EQ(configToJson(loaded), configToJson(source));
  }
  // A fresh form shows no firmware version; a status record's version is taken as shown.
  Form f;
  EXPECT_EQ(firmwareShown(f), QString());
  f.setText("TextWersja", QStringLiteral("DOVU v 2.3"));
  EXPECT_EQ(firmwareShown(f), QStringLiteral("DOVU v 2.3"));
}

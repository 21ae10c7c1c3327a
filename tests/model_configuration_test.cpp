// The configuration as a value: its names, equality, the fields each parameter carries and the
// differences the controller can tell.
#include <gtest/gtest.h>

#include "model/configuration.h"
#include "model/params.h"

using namespace dovu;

TEST(ModelConfiguration, NamesAndEquality) {
  // Each field answers to its stable name.
  for (const ConfigField& f : configFields()) EXPECT_EQ(configFieldNamed(f.name), &f);
  EXPECT_EQ(configFieldNamed(QStringLiteral("telephones[8]")), nullptr);

  // Where a configuration came from is no part of its value; any field is.
  Configuration a = defaultConfiguration(), b = a;
  b.firmware = QStringLiteral("DOVU v 2.3");
  b.port = QStringLiteral("/dev/ttyUSB0");
  EXPECT_EQ(a, b);
  b.matrix.voice[10][7] = !b.matrix.voice[10][7];
  EXPECT_NE(a, b);
  EXPECT_EQ(a.password, QStringLiteral("8617"));
}

// The fields each parameter carries: every field but the access password, each in one parameter.
// Two values of a field differ for the controller exactly when they would go out differently.
TEST(ModelConfiguration, ParametersCarryEveryFieldOnceAndTellValuesApartAsTheyGoOut) {
  std::size_t carried = 0;
  for (const ParamDef& p : paramTable())
    for (const ConfigField* f : parameterFields(p)) {
      ++carried;
      EXPECT_EQ(parameterOf(*f), &p) << f->name.toStdString();
    }
  EXPECT_EQ(carried, configFields().size() - 1);
  EXPECT_EQ(parameterOf(*configFieldNamed(QStringLiteral("password"))), nullptr);
  EXPECT_EQ(parameterFields(*paramByCode(52)).size(), 176u);
  EXPECT_EQ(parameterFields(*paramByCode(80)).size(), 13u);

  const Configuration a = defaultConfiguration();
  auto differs = [&](const char* name, const ConfigValue& v) {
    return differsForController(a, *configFieldNamed(QString::fromLatin1(name)), v);
  };
  const QString tel = a.telephones[0];
  EXPECT_FALSE(differs("telephones[0]", tel));
  EXPECT_TRUE(differs("telephones[0]", tel + QLatin1Char('1')));
  // Characters without a byte in Windows-1250 all go out as '?'.
  Configuration q = a;
  q.pin = QStringLiteral("12\u2713");
  EXPECT_FALSE(differsForController(q, *configFieldNamed(QStringLiteral("pin")), QStringLiteral("12\u2714")));
  EXPECT_TRUE(differsForController(q, *configFieldNamed(QStringLiteral("pin")), QStringLiteral("12ą")));
  // No number goes out as 0, and a number as its low byte.
  Configuration n = a;
  n.smsLimit = 0;
  EXPECT_FALSE(differsForController(n, *configFieldNamed(QStringLiteral("limits.sms")), Configuration::kNoNumber));
  EXPECT_FALSE(differsForController(n, *configFieldNamed(QStringLiteral("limits.sms")), 256));
  EXPECT_TRUE(differsForController(n, *configFieldNamed(QStringLiteral("limits.sms")), 1));
  EXPECT_TRUE(differs("matrix.voice.ex[7]", !a.matrix.voice[9][7]));
  const int max = std::get<int>(configValue(a, *configFieldNamed(QStringLiteral("sensors.t1.max"))));
  EXPECT_TRUE(differs("sensors.t1.max", max ^ 1));
  EXPECT_FALSE(differs("sensors.t1.max", max));
  EXPECT_TRUE(differs("outputs[1].drivenBy", a.outputs[1].drivenBy == 2 ? 3 : 2));
  // The access password goes out with no parameter: any other value differs.
  EXPECT_TRUE(differs("password", QStringLiteral("1234")));
  // Between two configurations: only the field's own value counts.
  Configuration b = a;
  b.telephones[0] = tel + QLatin1Char('9');
  b.smsLimit = Configuration::kNoNumber;
  EXPECT_TRUE(differsForController(a, b, *configFieldNamed(QStringLiteral("telephones[0]"))));
  EXPECT_FALSE(differsForController(a, b, *configFieldNamed(QStringLiteral("telephones[1]"))));
  EXPECT_EQ(differsForController(a, b, *configFieldNamed(QStringLiteral("limits.sms"))), a.smsLimit > 0);
}

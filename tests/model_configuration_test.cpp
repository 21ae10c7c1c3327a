// The configuration as a value: its view in the window's form, and the 51 parameters' payloads
// built from it and read into it, checked against the form's own encoding with seeded random
// configurations and answers.
#include <gtest/gtest.h>

#include <random>

#include "model/configuration.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "model/params.h"

using namespace dovu;

namespace {

// A text of Windows-1250 characters, Polish letters among them.
QString randomText(std::mt19937& rng, int longest) {
  static const QString alphabet = QStringLiteral("abcXYZ 019+ąęłńóśźżĄŁŚ,.!-");
  QString t;
  const int n = std::uniform_int_distribution<int>(0, longest)(rng);
  for (int i = 0; i < n; ++i) t += alphabet[std::uniform_int_distribution<int>(0, int(alphabet.size()) - 1)(rng)];
  return t;
}

Configuration randomConfiguration(std::mt19937& rng) {
  Configuration c = defaultConfiguration();
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (const ConfigField& f : configFields()) {
    switch (f.type) {
      case ConfigFieldType::Text: setConfigValue(c, f, randomText(rng, 20)); break;
      case ConfigFieldType::Number: setConfigValue(c, f, pick(-1, 300)); break;  // beyond a byte too
      case ConfigFieldType::Choice: setConfigValue(c, f, pick(-1, f.limit - 1)); break;
      case ConfigFieldType::Flag: setConfigValue(c, f, pick(0, 1) == 1); break;
      case ConfigFieldType::Byte: setConfigValue(c, f, pick(0, 255)); break;
    }
  }
  return c;
}

Bytes randomPayload(std::mt19937& rng, const ParamDef& p) {
  // A block sometimes arrives short; a text any length.
  const int size = p.kind == PayloadKind::Text ? std::uniform_int_distribution<int>(0, 20)(rng)
                   : std::uniform_int_distribution<int>(0, 7)(rng) == 0 ? p.limit - 1
                                                                         : p.limit;
  Bytes b;
  for (int i = 0; i < size; ++i)
    b.push_back(static_cast<char>(p.kind == PayloadKind::Text ? std::uniform_int_distribution<int>(0x20, 0xFF)(rng)
                                                              : std::uniform_int_distribution<int>(0, 255)(rng)));
  return b;
}

}  // namespace

TEST(ModelConfiguration, FormViewAndPayloadsAgreeWithTheFormsEncoding) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    const Configuration c = randomConfiguration(rng);
    Form form;
    showConfiguration(form, c);
    ASSERT_EQ(configurationOf(form), c) << "seed " << seed;
    for (const ParamDef& p : paramTable())
      ASSERT_EQ(encodeParameter(c, p), buildPayload(form, p)) << "seed " << seed << " code " << int(p.readCode);
    EXPECT_EQ(textOverLimit(c), textOverLimit(form)) << "seed " << seed;
  }
}

TEST(ModelConfiguration, AnswersReadAsTheFormReadsThem) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 rng(seed);
    Configuration c = randomConfiguration(rng);
    Form form;
    showConfiguration(form, c);
    for (const ParamDef& p : paramTable()) {
      const Bytes payload = randomPayload(rng, p);
      const Configuration before = c;
      const bool taken = decodeParameter(c, p, payload);
      applyAnswer(form, p, payload);
      ASSERT_EQ(configurationOf(form), c) << "seed " << seed << " code " << int(p.readCode);
      // A short block changes nothing; what was taken goes out again as it came.
      if (!taken) {
        EXPECT_EQ(c, before);
      } else if (p.kind == PayloadKind::Text || p.kind == PayloadKind::SensorBlock || p.kind == PayloadKind::Matrix) {
        EXPECT_EQ(encodeParameter(c, p), payload) << "code " << int(p.readCode);
      }
    }
  }
}

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

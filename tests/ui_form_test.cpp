// The main window as data: catalogue, start state, change markers, click rules, exit checks,
// key filters, the operator choice and the sensor step buttons.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "model/cp1250.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "support/formfiles.h"
#include "support/formsnapshot.h"
#include "support/sim.h"
#include "support/testapp.h"

#include <QFile>
#include <QTemporaryDir>

using namespace dovu;

namespace {

std::string s(const QString& q) { return q.toStdString(); }

class FormTest : public ::testing::Test {
 protected:
  Form f;
  std::string txt(std::string_view name) const { return s(f.text(name)); }
  Form::Id id(std::string_view name) const { return Form::idOf(name); }
  // Sets a text the way a value from the controller does: text, then the agreed colour.
  void agree(std::string_view name, const QString& t) {
    f.setText(name, t);
    f.markHeld(name);
  }
  // The user's edit of a text, shown as agreed so that only the exit check can mark it.
  void typed(std::string_view name, const QString& t) {
    f.userEdited(id(name), t);
    f.markHeld(name);
  }
};

}  // namespace

TEST(Catalogue, NamesAreUniqueAndFamiliesComplete) {
  const auto& all = Form::catalogue();
  std::set<std::string> names;
  for (const FieldDef& d : all) EXPECT_TRUE(names.insert(d.name).second) << d.name;
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(Form::idOf(all[i].name), int(i));
  EXPECT_EQ(Form::idOf("NoSuchField"), Form::kNoField);

  int cells = 0;
  for (const char* row : kMatrixRows)
    for (const char* page : {"T", "S"})
      for (int tel = 1; tel <= kPhones; ++tel) {
        const std::string name = std::string("Box") + row + page + std::to_string(tel);
        ASSERT_NE(Form::idOf(name), Form::kNoField) << name;
        EXPECT_EQ(Form::def(Form::idOf(name)).kind, FieldKind::Check);
        ++cells;
      }
  EXPECT_EQ(cells, 176);
  EXPECT_STREQ(Form::def(Form::idOf("BoxACS8")).caption, "Połączenia EX tel. 8");
  EXPECT_STREQ(Form::def(Form::idOf("BoxIN1T1")).caption, "SMS IN1 tel. 1");

  for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 14})
    EXPECT_EQ(Form::def(Form::idOf("SpinButton" + std::to_string(n))).kind, FieldKind::Button) << n;
  EXPECT_EQ(Form::idOf("SpinButton12"), Form::kNoField);
  for (const SensorInfo& info : sensorTable())
    EXPECT_EQ(Form::def(Form::idOf(displayFieldOf(info))).kind, FieldKind::Spin) << displayFieldOf(info);

  // Each threshold has its display field and step buttons, each named once; the configuration's
  // fields are shown in the fields their format-1 names name.
  std::set<std::string> fields, spins;
  for (const SensorInfo& info : sensorTable()) {
    fields.insert(displayFieldOf(info));
    spins.insert(spinButtonOf(info));
    EXPECT_EQ(sensorBySpin(spinButtonOf(info)), &info);
    EXPECT_EQ(sensorByField(displayFieldOf(info)), &info);
  }
  EXPECT_EQ(fields.size(), 13u);
  EXPECT_EQ(spins.size(), 13u);
  EXPECT_STREQ(displayFieldOf(*sensorBySpin("SpinButton2")), "Edit_T1Min");
  EXPECT_STREQ(displayFieldOf(*sensorBySpin("SpinButton11")), "Edit_T3Max");
  EXPECT_STREQ(displayFieldOf(*sensorBySpin("SpinButton9")), "Edit_T3Korekta");
  EXPECT_EQ(sensorBySpin("SpinButton12"), nullptr);
  EXPECT_EQ(sensorBySpin(nullptr), nullptr);
  EXPECT_STREQ(widgetNameOf(*configFieldNamed(QStringLiteral("inputs[2].alarmText"))), "Edit_IN3A");
  EXPECT_STREQ(widgetNameOf(*configFieldNamed(QStringLiteral("matrix.voice.ex[7]"))), "BoxACS8");
  for (const ConfigField& f : configFields()) {
    EXPECT_NE(Form::idOf(widgetNameOf(f)), Form::kNoField) << widgetNameOf(f);
    EXPECT_EQ(configFieldShownIn(QString::fromLatin1(widgetNameOf(f))), &f) << widgetNameOf(f);
  }

  // Irregular names of the outputs.
  for (const char* n : {"Edit_Out1zal", "Edit_Out2wyl", "Edit_OUT3Zal", "Edit_Out3Wyl", "Edit_OUT4Zal",
                        "Edit_Out4Wyl", "Out4Czas", "ComboOut4", "BoxOut4Mono", "EditT3opu", "EditWopu"})
    EXPECT_NE(Form::idOf(n), Form::kNoField) << n;
}

TEST(Catalogue, LabelsLimitsAndItems) {
  auto d = [](const char* n) -> const FieldDef& { return Form::def(Form::idOf(n)); };
  EXPECT_STREQ(d("Edit_haslo").hint, "Hasło dostępu (4 cyfry)");
  EXPECT_STREQ(d("Button_rozlacz").hint, "Rozłącz od sterownika DOVU");
  EXPECT_STREQ(d("Edit_Tel8").caption, "Telefon nr 8");
  EXPECT_STREQ(d("Out1Czas").hint, "Czas aktywności wyjścia PK w trybie monostabilnym");
  EXPECT_STREQ(d("Edit_LimitVoice").hint, "Dobowy limit połączeń głosowych");

  EXPECT_EQ(d("Edit_IN3A").maxLength, 30);
  EXPECT_EQ(d("Edit_DCa").maxLength, 15);
  EXPECT_EQ(d("Edit_OUT3Zal").maxLength, 4);
  EXPECT_EQ(d("Edit_OUT3Zal").kind, FieldKind::NoSpaceText);
  EXPECT_EQ(d("Edit_operator").kind, FieldKind::PhoneDigits);
  EXPECT_EQ(d("Edit_Tel1").maxLength, 13);
  EXPECT_EQ(d("EditWopu").maxLength, 3);
  EXPECT_EQ(d("JakiStan").maxLength, 4);
  EXPECT_EQ(d("EditPotw").maxLength, 15);

  EXPECT_EQ(Form::items(Form::idOf("ComboOut2")),
            QStringList({"Brak", "T1 MIN", "T1 MAX", "T2 MIN", "T2 MAX", "T3 MIN", "T3 MAX",
                         "Wil MIN", "Wil MAX"}));
  EXPECT_EQ(Form::items(Form::idOf("Combo_operator")),
            QStringList({"ORANGE", "T-MOBILE", "PLUS", "PLAY", "inny"}));
  EXPECT_EQ(operatorIndexOf("+48602951111"), 1);
  EXPECT_EQ(operatorIndexOf("+48602951111 "), kOperatorOther);
  EXPECT_EQ(operatorIndexOf(""), kOperatorOther);
  EXPECT_EQ(s(operatorNumber(3)), "+48790998250");
  EXPECT_EQ(s(operatorNumber(4)), "");
}

TEST_F(FormTest, StartState) {
  EXPECT_EQ(txt("Edit_status"), "ROZŁĄCZONY");
  EXPECT_EQ(f.colour("Edit_status"), kRed);
  EXPECT_EQ(txt("Edit_logon"), "WYLOGOWANY");
  EXPECT_EQ(f.colour("Edit_logon"), kRed);
  EXPECT_EQ(txt("Edit_haslo"), "8617");
  EXPECT_EQ(txt("Edit_operator"), "+48501200777");
  EXPECT_EQ(txt("Out3Czas"), "5");
  EXPECT_EQ(txt("IleTest"), "24");
  EXPECT_EQ(txt("JakiStan"), "?");
  EXPECT_EQ(txt("EditPotw"), "OK");
  EXPECT_EQ(txt("TextWersja"), "DOVU v ...");
  EXPECT_EQ(f.state("TextWersja").textColour, kGrey);
  EXPECT_EQ(txt("LabelZd"), "Zd: 0");
  EXPECT_EQ(txt("LabelSMS"), "0 z");
  EXPECT_EQ(txt("Label_Bar"), "Pobieram konfigurację");
  EXPECT_EQ(f.index("Combo_operator"), 0);
  EXPECT_EQ(f.index("ComboOut1"), -1);
  EXPECT_EQ(txt("ComboOut1"), "Brak");
  EXPECT_FALSE(f.state("FormProgres").visible);
  EXPECT_FALSE(f.state("Panel_bar").visible);

  for (const char* n : {"Button_polacz", "Button_rozlacz", "Icon_get", "Icon_put", "Pobierz1", "Zapisz1",
                        "ButtonFirmware", "Button_zmiana_hasla", "ButtonRestart", "ButtonResetlimit",
                        "EditPotw", "EditAutotest", "BoxOut1sygn", "BoxT1S1", "BoxT2S4", "BoxT3S8",
                        "BoxWS5"})
    EXPECT_FALSE(f.state(n).enabled) << n;
  for (const char* n : {"ButtonCom", "SpeedButton1", "SpeedButton2", "Odczyt1", "Zapis1", "Oprogramie1",
                        "Edit_haslo", "BoxIN1S1", "BoxACS8", "BoxDCS1", "BoxWT1", "BoxT3T8", "SpinButton3"})
    EXPECT_TRUE(f.state(n).enabled) << n;

  // The thresholds come from the default bytes and show as agreed.
  EXPECT_EQ(f.sensors(), SensorSettings::defaults());
  EXPECT_EQ(txt("Edit_T1Min"), "+2");
  EXPECT_EQ(txt("Edit_T3Max"), "+8");
  EXPECT_EQ(txt("Edit_T2Korekta"), "+0,0");
  EXPECT_EQ(txt("Edit_WMax"), "80");
  EXPECT_EQ(txt("Edit_WMin"), "30");
  EXPECT_EQ(txt("Edit_ACnap"), "15,0V");
  EXPECT_EQ(txt("Edit_DCnap"), "10,5V");
  for (const SensorInfo& info : sensorTable()) EXPECT_EQ(f.colour(displayFieldOf(info)), kWindowColour) << displayFieldOf(info);
}

// A new window shows the configuration a controller leaves the factory with, field by field, and
// assumes the controller holds it.
TEST_F(FormTest, ANewWindowShowsTheDefaultConfiguration) {
  const Configuration shown = configurationOf(f);
  const Configuration defaults = defaultConfiguration();
  for (const ConfigField& field : configFields())
    EXPECT_TRUE(configValue(shown, field) == configValue(defaults, field)) << s(field.name);
  EXPECT_FALSE(f.hasUnsentEdits());
}

TEST_F(FormTest, BaseColoursAtStart) {
  for (const char* n : {"Edit_IN1A", "Edit_IN5A", "Edit_T2a", "Edit_Wa", "Edit_ACa", "Edit_DCa",
                        "Edit_Out1zal", "Edit_OUT4Zal"})
    EXPECT_EQ(f.colour(n), kOrange) << n;
  for (const char* n : {"Edit_IN1N", "Edit_IN4N", "Edit_T3ok", "Edit_Wok", "Edit_ACn", "Edit_DCn",
                        "Edit_Out2wyl", "Edit_Out4Wyl"})
    EXPECT_EQ(f.colour(n), kGreen) << n;
  for (const char* n : {"Edit_T1n", "Edit_T2n", "Edit_T3n", "Edit_Wn"}) EXPECT_EQ(f.colour(n), kSkyBlue) << n;
  for (const char* n : {"Edit_Tel1", "Edit_Tel8", "Combo_operator", "Edit_operator", "Edit_pin",
                        "Edit_LimitSMS", "Edit_LimitVoice"})
    EXPECT_EQ(f.colour(n), kYellow) << n;
  for (const char* n : {"Edit_haslo", "Out1Czas", "ComboOut3", "IleTest", "JakiStan", "BoxCA", "BoxIN2T3",
                        "EditT1opu"})
    EXPECT_EQ(f.colour(n), kDefaultColour) << n;
}

// A field is red exactly when what it would send differs from what the controller holds, whoever
// changed it: the program, the user, a step button; back to the value held, the red goes.
TEST_F(FormTest, RedIsExactlyADifferenceFromWhatTheControllerHolds) {
  int emitted = 0;
  int lastId = Form::kNoField;
  QObject::connect(&f, &Form::changed, [&](int i) { ++emitted; lastId = i; });
  EXPECT_FALSE(f.controllerKnown());
  EXPECT_FALSE(f.hasUnsentEdits());

  f.setText("Edit_Tel3", "+48123");
  EXPECT_EQ(f.colour("Edit_Tel3"), kRed);
  EXPECT_GT(emitted, 0);
  EXPECT_EQ(lastId, id("Edit_Tel3"));
  EXPECT_TRUE(f.hasUnsentEdits());
  f.setText("Edit_Tel3", "");  // the value held again
  EXPECT_EQ(f.colour("Edit_Tel3"), kYellow);
  EXPECT_FALSE(f.hasUnsentEdits());

  // Held: nothing changes, nothing is announced for an equal value.
  f.setText("Edit_Tel3", "+48123");
  f.markHeld("Edit_Tel3");
  EXPECT_EQ(f.colour("Edit_Tel3"), kYellow);
  emitted = 0;
  f.setText("Edit_Tel3", "+48123");
  f.setChecked("BoxCA", false);
  f.setIndex("ComboOut1", -1);
  EXPECT_EQ(emitted, 0);

  // The password and the operator list never turn red.
  f.setText("Edit_haslo", "1111");
  EXPECT_EQ(f.colour("Edit_haslo"), kDefaultColour);
  f.userPicked(id("Combo_operator"), 2);
  EXPECT_EQ(f.colour("Combo_operator"), kYellow);
  EXPECT_EQ(f.colour("Edit_operator"), kRed);  // its number is what differs

  // Lists, check boxes and numbers: by program or by user alike, and back.
  const int out2 = f.index("ComboOut2");
  f.setIndex("ComboOut2", 4);
  EXPECT_EQ(txt("ComboOut2"), "T2 MAX");
  EXPECT_EQ(f.colour("ComboOut2"), kRed);
  f.userPicked(id("ComboOut2"), out2);
  EXPECT_NE(f.colour("ComboOut2"), kRed);
  f.setIndex("ComboOut3", 9);  // beyond the list: no selection
  EXPECT_EQ(f.index("ComboOut3"), -1);
  for (const char* box : {"BoxOut3Mono", "BoxWyslijStan", "BoxCA", "BoxPotw", "BoxIN4T3", "IOsend", "BoxT1S2"}) {
    const bool was = f.checked(box);
    f.setChecked(box, !was);
    EXPECT_EQ(f.colour(box), kRed) << box;
    f.setChecked(box, was);
    EXPECT_EQ(f.colour(box), kWindowColour) << box;
  }
  // The voice rows T3 and W carry no mark at all.
  f.setChecked("BoxT3S1", true);
  EXPECT_EQ(f.colour("BoxT3S1"), kDefaultColour);
  // "7" and "07" are the same byte on the controller.
  f.setText("Out1Czas", QStringLiteral("0") + f.text("Out1Czas"));
  EXPECT_NE(f.colour("Out1Czas"), kRed);
  f.spinUp("SpinButton1");
  const char* stepped = displayFieldOf(*sensorBySpin("SpinButton1"));
  EXPECT_EQ(f.colour(stepped), kRed);
  f.spinDown("SpinButton1");
  EXPECT_EQ(f.colour(stepped), kWindowColour);

  // The user cannot change a disabled cell; the focus marks nothing.
  f.userToggled(id("BoxT2S5"), true);
  EXPECT_FALSE(f.checked("BoxT2S5"));

  // What was held comes back as a whole, and with it the red.
  const Form::Held before = f.held();
  f.setText("Edit_Tel4", "+48999");
  f.markHeld("Edit_Tel4");
  EXPECT_EQ(f.colour("Edit_Tel4"), kYellow);
  f.restoreHeld(before);
  EXPECT_EQ(f.colour("Edit_Tel4"), kRed);
}

// What the controller holds is a configuration: a parameter acknowledged takes the values that were
// sent, so a field edited meanwhile stays red, and one that now shows the sent value is agreed.
TEST_F(FormTest, HeldValuesComeFromTheConfigurationSent) {
  f.setText("Edit_Tel1", "+48111");
  f.setChecked("BoxIN1T1", true);
  Configuration sent = configurationOf(f);
  f.setText("Edit_Tel1", "+48222");  // edited while the upload ran
  const std::vector<Form::Id> tel1{id("Edit_Tel1")};
  f.markHeld(tel1, sent);
  EXPECT_EQ(f.colour("Edit_Tel1"), kRed);
  EXPECT_EQ(f.heldConfiguration().telephones[0], QStringLiteral("+48111"));
  f.setText("Edit_Tel1", "+48111");
  EXPECT_EQ(f.colour("Edit_Tel1"), kYellow);
  // Only the fields named are held: the matrix cell still differs from the defaults held.
  EXPECT_EQ(f.colour("BoxIN1T1"), kRed);
  f.markHeld(std::vector<Form::Id>{id("BoxIN1T1")}, sent);
  EXPECT_EQ(f.colour("BoxIN1T1"), kWindowColour);

  // A number the controller keeps as the same byte is no difference; one that is not, is.
  sent.outputs[0].time = 7;
  f.setText("Out1Czas", "07");
  f.markHeld(std::vector<Form::Id>{id("Out1Czas")}, sent);
  EXPECT_NE(f.colour("Out1Czas"), kRed);
  f.setText("Out1Czas", "263");
  EXPECT_NE(f.colour("Out1Czas"), kRed);
  f.setText("Out1Czas", "8");
  EXPECT_EQ(f.colour("Out1Czas"), kRed);

  // A whole configuration shown as the controller's: nothing red, known, the password kept.
  f.setText("Edit_haslo", "4321");
  Configuration read = configurationOf(f);
  read.password = QStringLiteral("8617");
  read.telephones[7] = QStringLiteral("+48999");
  showControllerConfiguration(f, read);
  EXPECT_TRUE(f.controllerKnown());
  EXPECT_FALSE(f.hasUnsentEdits());
  EXPECT_EQ(f.text("Edit_haslo"), QStringLiteral("4321"));
  EXPECT_EQ(f.text("Edit_Tel8"), QStringLiteral("+48999"));
  EXPECT_EQ(f.heldConfiguration().telephones[7], QStringLiteral("+48999"));
}

TEST_F(FormTest, PotwAndAutoTestEnableTheirTexts) {
  f.setChecked("BoxPotw", true);
  EXPECT_TRUE(f.state("EditPotw").enabled);
  f.setChecked("BoxPotw", false);
  EXPECT_FALSE(f.state("EditPotw").enabled);
  f.userToggled(id("BoxAutoTest"), true);
  EXPECT_TRUE(f.state("EditAutotest").enabled);
  f.userToggled(id("BoxAutoTest"), false);
  EXPECT_FALSE(f.state("EditAutotest").enabled);

  // Disabled texts take no typing.
  f.userEdited(id("EditPotw"), "xx");
  EXPECT_EQ(txt("EditPotw"), "OK");
}

TEST_F(FormTest, MiniCaModeSwapsInputColoursAndGatesTheSiren) {
  f.setText("Edit_IN2A", "alarm");
  f.setText("Edit_IN1N", "spokój");
  ASSERT_EQ(f.colour("Edit_IN2A"), kRed);

  // A red text keeps its mark through the swap: it still differs from the controller.
  f.userToggled(id("BoxCA"), true);
  EXPECT_EQ(f.colour("Edit_IN2A"), kRed);
  f.markHeld("Edit_IN2A");
  for (int n = 2; n <= 5; ++n) {
    EXPECT_EQ(f.colour("Edit_IN" + std::to_string(n) + "A"), kGreen) << n;
    EXPECT_EQ(f.colour("Edit_IN" + std::to_string(n) + "N"), kOrange) << n;
  }
  EXPECT_EQ(f.colour("Edit_IN1A"), kOrange);
  EXPECT_EQ(f.colour("Edit_IN1N"), kRed);  // IN1 is not part of the swap
  EXPECT_EQ(f.colour("BoxCA"), kRed);
  EXPECT_TRUE(f.state("BoxOut1sygn").enabled);
  EXPECT_EQ(f.syncColour(id("Edit_IN3N")), kOrange);
  EXPECT_EQ(f.syncColour(id("Edit_IN1N")), kGreen);

  f.userToggled(id("BoxOut1sygn"), true);
  EXPECT_TRUE(f.checked("BoxOut1sygn"));

  f.userToggled(id("BoxCA"), false);
  for (int n = 2; n <= 5; ++n) {
    EXPECT_EQ(f.colour("Edit_IN" + std::to_string(n) + "A"), kOrange) << n;
    EXPECT_EQ(f.colour("Edit_IN" + std::to_string(n) + "N"), kGreen) << n;
  }
  EXPECT_FALSE(f.checked("BoxOut1sygn"));
  EXPECT_FALSE(f.state("BoxOut1sygn").enabled);
  EXPECT_EQ(f.syncColour(id("Edit_IN3A")), kOrange);
}

TEST_F(FormTest, ExitChecksRepairTheText) {
  f.userEdited(id("Edit_pin"), "12");
  f.markHeld("Edit_pin");
  f.userExit(id("Edit_pin"));
  EXPECT_EQ(txt("Edit_pin"), "8617");
  EXPECT_EQ(f.colour("Edit_pin"), kRed);
  agree("Edit_pin", "1234");
  f.userExit(id("Edit_pin"));
  EXPECT_EQ(txt("Edit_pin"), "1234");
  EXPECT_EQ(f.colour("Edit_pin"), kYellow);

  f.userEdited(id("Edit_haslo"), "");
  f.userExit(id("Edit_haslo"));
  EXPECT_EQ(txt("Edit_haslo"), "8617");
  EXPECT_EQ(f.colour("Edit_haslo"), kDefaultColour);

  typed("Edit_LimitSMS", "");
  f.userExit(id("Edit_LimitSMS"));
  EXPECT_EQ(txt("Edit_LimitSMS"), "0");
  EXPECT_NE(f.colour("Edit_LimitSMS"), kRed);  // an empty limit went out as 0 too

  for (const char* bad : {"", "0", "00"}) {
    typed("Out3Czas", "7");
    typed("Out4Czas", bad);
    f.userExit(id("Out4Czas"));
    EXPECT_EQ(txt("Out4Czas"), "1") << bad;
    EXPECT_EQ(f.colour("Out4Czas"), kRed) << bad;
    EXPECT_EQ(txt("Out3Czas"), "7");
    EXPECT_EQ(f.colour("Out3Czas"), kWindowColour);
  }
  typed("IleTest", "00");
  f.userExit(id("IleTest"));
  EXPECT_EQ(txt("IleTest"), "1");
  typed("IleTest", "99");
  f.userExit(id("IleTest"));
  EXPECT_EQ(txt("IleTest"), "99");
  EXPECT_EQ(f.colour("IleTest"), kWindowColour);

  const std::pair<const char*, const char*> delays[] = {{"300", "254"}, {"254", "254"}, {"", "0"},
                                                        {"255", "254"}, {"007", "007"}};
  for (auto [in, out] : delays) {
    typed("EditT1opu", in);
    f.userExit(id("EditT1opu"));
    EXPECT_EQ(txt("EditT1opu"), out) << in;
  }
  typed("EditWopu", "999");
  f.userExit(id("EditWopu"));
  EXPECT_EQ(txt("EditWopu"), "254");

  // A value from the controller or a file is kept as it came, on leaving and on a save alike;
  // commitEditing runs the checks of the field being edited, before its value is taken.
  agree("EditT3opu", "255");
  f.setEditing(id("EditT3opu"));
  f.userExit(id("EditT3opu"));
  f.commitEditing();
  EXPECT_EQ(txt("EditT3opu"), "255");
  EXPECT_EQ(f.colour("EditT3opu"), kWindowColour);
  typed("EditT2opu", "");
  f.setEditing(id("EditT2opu"));
  f.commitEditing();
  EXPECT_EQ(txt("EditT2opu"), "0");
  f.setEditing(Form::kNoField);
  f.commitEditing();

  EXPECT_EQ(f.number("Out4Czas"), 1);
  EXPECT_EQ(Form::parseNumber("007"), 7);
  EXPECT_EQ(Form::parseNumber(""), -1);
  EXPECT_EQ(Form::parseNumber("1a"), -1);
  EXPECT_EQ(Form::parseNumber("+1"), -1);
  EXPECT_EQ(Form::parseNumber("99999999999"), -1);
}

TEST_F(FormTest, KeyFilters) {
  const Form::Id limit = id("Edit_LimitSMS"), tel = id("Edit_Tel1"), word = id("Edit_Out1zal"),
                 msg = id("Edit_IN1A"), spin = id("Edit_T1Min");
  for (QChar c : {QChar(u'\r'), QChar(u'\b')})
    for (Form::Id i : {limit, tel, word, msg}) EXPECT_TRUE(f.acceptsChar(i, c));
  EXPECT_TRUE(f.acceptsChar(limit, u'7'));
  EXPECT_FALSE(f.acceptsChar(limit, u'a'));
  EXPECT_FALSE(f.acceptsChar(limit, u'+'));
  EXPECT_FALSE(f.acceptsChar(limit, QChar(0x0663)));  // Arabic-Indic three is no decimal digit here
  EXPECT_TRUE(f.acceptsChar(tel, u'+'));
  EXPECT_FALSE(f.acceptsChar(tel, u' '));
  EXPECT_FALSE(f.acceptsChar(word, u' '));
  EXPECT_TRUE(f.acceptsChar(word, u'!'));
  EXPECT_TRUE(f.acceptsChar(word, u'ż'));
  EXPECT_TRUE(f.acceptsChar(msg, u' '));
  EXPECT_TRUE(f.acceptsChar(msg, QChar(0x20AC)));   // euro sign, byte 0x80
  EXPECT_FALSE(f.acceptsChar(msg, QChar(0x2713)));  // check mark
  EXPECT_FALSE(f.acceptsChar(msg, u'\t'));
  EXPECT_FALSE(f.acceptsChar(spin, u'1'));  // read-only

  // A site table checks a text against the configuration's rules: they are the window field's
  // key filter (typed keys aside) and length, and the caption is the window's.
  for (const ConfigField& c : configFields()) {
    const Form::Id shown = id(widgetNameOf(c));
    EXPECT_EQ(QString::fromUtf8(Form::def(shown).caption), c.caption) << widgetNameOf(c);
    if (c.type != ConfigFieldType::Text) continue;
    if (c.limit > 0) {
      EXPECT_EQ(Form::def(shown).maxLength, c.limit) << widgetNameOf(c);
    }
    for (QChar ch : QStringView(u"09+ aZż!\t\u20AC\u2713\u0663"))
      EXPECT_EQ(takesChar(c.chars, ch), f.acceptsChar(shown, ch)) << widgetNameOf(c) << " " << int(ch.unicode());
  }

  // Limits count Windows-1250 characters: 31 Polish letters give 30 characters and 30 bytes.
  const QString polish = QString(31, QChar(u'ł'));
  const Form::Edit pasted = f.filterEdit(msg, "", polish, 31);
  ASSERT_TRUE(pasted.accepted);
  EXPECT_EQ(pasted.text, QString(30, QChar(u'ł')));
  EXPECT_EQ(pasted.cursor, 30);
  f.userEdited(msg, pasted.text);
  EXPECT_EQ(toCp1250(f.text("Edit_IN1A")).size(), 30u);
  EXPECT_EQ(f.colour("Edit_IN1A"), kRed);
}

// What one edit of the user leaves in a field: only the inserted characters are filtered and
// counted against the limit.
TEST_F(FormTest, EditsFilterOnlyWhatIsInserted) {
  const Form::Id limit = id("Edit_LimitSMS"), tel = id("Edit_Tel1"), word = id("Edit_Out1zal"),
                 msg = id("Edit_IN1A"), pin = id("Edit_pin");
  struct Case {
    Form::Id field;
    const char16_t* before;
    const char16_t* after;
    int cursor;
    bool accepted;
    const char16_t* text;  // when accepted
    int cursorAfter;
  };
  const Case cases[] = {
      // Typed keys: taken, or swallowed.
      {limit, u"1", u"12", 2, true, u"12", 2},
      {limit, u"12", u"12a", 3, false, u"", 0},
      {limit, u"12", u"123", 3, false, u"", 0},       // full: a key past the limit does nothing
      {pin, u"8617", u"a", 1, false, u"", 0},         // a rejected key over a selection keeps it
      {pin, u"8617", u"5", 1, true, u"5", 1},
      {tel, u"", u"+", 1, true, u"+", 1},
      {word, u"ab", u"a b", 2, false, u"", 0},
      {word, u"ab", u"a!b", 2, true, u"a!b", 2},
      {msg, u"ab", u"a✓b", 2, false, u"", 0},   // no byte in Windows-1250
      // Pastes: the acceptable characters, as many as fit.
      {limit, u"", u"1a2b3", 5, true, u"12", 2},
      {tel, u"", u"+48 501-200-777", 15, true, u"+48501200777", 12},
      {msg, u"", u"Zażółć ✓ gęślą\r\njaźń", 20, true, u"Zażółć  gęśląjaźń", 17},
      {msg, u"", u"a😀b", 4, true, u"ab", 2},
      {pin, u"8617", u"9a8 7-65", 8, true, u"9876", 4},  // the paste replaced the selection
      {pin, u"8617", u"xyz", 3, false, u"", 0},          // nothing usable: the selection stays
      {pin, u"86", u"8x1y76", 5, true, u"8176", 3},      // pasted between the two digits
      // Text from the controller or a file: what was there stays, even past the limit or filter.
      {tel, u"+48 600 100 200", u"+48 600 100 20", 14, true, u"+48 600 100 20", 14},
      {tel, u"+48 600 100 200", u"+48 600 100 2001", 16, false, u"", 0},
      {tel, u"+48 600 100 200", u"+48600 100 200", 3, true, u"+48600 100 200", 3},
      {word, u"a b", u"a bc", 4, true, u"a bc", 4},
      {word, u"a b", u"a b ", 4, false, u"", 0},
      {limit, u"123", u"12", 2, true, u"12", 2},      // longer than the limit: deleting is fine
      {limit, u"123", u"1234", 4, false, u"", 0},
      {limit, u"123", u"193", 2, false, u"", 0},      // a replaced digit still leaves three
      {limit, u"123", u"93", 1, true, u"93", 1},      // two replaced by one: room for it
      // A character typed beside an equal one counts where the cursor says.
      {word, u"a b", u"a  b", 2, false, u"", 0},
      {tel, u"1 1", u"11 1", 1, true, u"11 1", 1},
  };
  for (const Case& c : cases) {
    const QString before = QString::fromUtf16(c.before), after = QString::fromUtf16(c.after);
    const Form::Edit e = f.filterEdit(c.field, before, after, c.cursor);
    const std::string what = s(Form::def(c.field).name) + " '" + s(before) + "' -> '" + s(after) + "'";
    EXPECT_EQ(e.accepted, c.accepted) << what;
    if (!e.accepted || !c.accepted) continue;
    EXPECT_EQ(s(e.text), s(QString::fromUtf16(c.text))) << what;
    EXPECT_EQ(e.cursor, c.cursorAfter) << what;
  }

  // The form takes what the widget passes: no key filter and no cut on the text already there.
  agree("Edit_Tel2", "+48 600 100 200 300");
  f.userEdited(id("Edit_Tel2"), "+48 600 100 200 30");
  EXPECT_EQ(txt("Edit_Tel2"), "+48 600 100 200 30");
  EXPECT_EQ(f.colour("Edit_Tel2"), kRed);
  agree("Edit_Out1zal", "a b");
  f.userEdited(id("Edit_Out1zal"), "a bc");
  EXPECT_EQ(txt("Edit_Out1zal"), "a bc");
  // Characters without a byte in Windows-1250 are dropped from what is new, as a last guard.
  f.userEdited(msg, QStringLiteral(u"Zażółć €✓"));
  EXPECT_EQ(f.text("Edit_IN1A"), QStringLiteral(u"Zażółć €"));
}

TEST_F(FormTest, OperatorChoiceFillsTheSmsCentre) {
  // Closing the list on the entry already shown rewrites the same number: no mark.
  f.operatorCloseUp();
  EXPECT_EQ(txt("Edit_operator"), "+48501200777");
  EXPECT_EQ(f.colour("Edit_operator"), kYellow);

  f.userPicked(id("Combo_operator"), 1);
  f.operatorCloseUp();
  EXPECT_EQ(txt("Edit_operator"), "+48602951111");
  EXPECT_EQ(f.colour("Edit_operator"), kRed);

  agree("Edit_operator", "+48602951111");
  f.userPicked(id("Combo_operator"), 4);
  f.operatorCloseUp();
  EXPECT_EQ(txt("Edit_operator"), "");
  EXPECT_EQ(f.colour("Edit_operator"), kRed);

  // Typed text is only text: the selection stays, even when the text spells an item.
  f.userEdited(id("Combo_operator"), "PLAY");
  EXPECT_EQ(txt("Combo_operator"), "PLAY");
  EXPECT_EQ(f.index("Combo_operator"), 4);
  // With no entry selected, closing the list leaves the number alone.
  agree("Edit_operator", "+48111");
  f.setIndex("Combo_operator", -1);
  f.userEdited(id("Combo_operator"), "Heyah");
  EXPECT_EQ(f.index("Combo_operator"), -1);
  f.operatorCloseUp();
  EXPECT_EQ(txt("Edit_operator"), "+48111");
  EXPECT_EQ(f.colour("Combo_operator"), kYellow);
  // A selection by the program shows its item again, also over typed text.
  f.setIndex("Combo_operator", 3);
  f.userEdited(id("Combo_operator"), "PLAYx");
  f.setIndex("Combo_operator", 3);
  EXPECT_EQ(txt("Combo_operator"), "PLAY");

  // Typing into the number never moves the list.
  f.userEdited(id("Edit_operator"), "+48601000310");
  EXPECT_EQ(f.index("Combo_operator"), 3);

  // An output list: typing neither selects nor marks; a pick does both.
  f.userEdited(id("ComboOut1"), "T1 MIN");
  EXPECT_EQ(f.index("ComboOut1"), -1);
  EXPECT_EQ(txt("ComboOut1"), "T1 MIN");
  EXPECT_EQ(f.colour("ComboOut1"), kDefaultColour);
  f.userPicked(id("ComboOut1"), 2);
  EXPECT_EQ(f.index("ComboOut1"), 2);
  EXPECT_EQ(txt("ComboOut1"), "T1 MAX");
  EXPECT_EQ(f.colour("ComboOut1"), kRed);
}

TEST_F(FormTest, StepButtons) {
  f.setSensor(SensorByte::T1Min, 0);
  f.showSensor(SensorByte::T1Min);
  EXPECT_EQ(txt("Edit_T1Min"), "-128");
  f.markHeld("Edit_T1Min");
  f.spinDown("SpinButton2");  // at the limit: same text, colour kept
  EXPECT_EQ(f.sensors()[SensorByte::T1Min], 0);
  EXPECT_EQ(f.colour("Edit_T1Min"), kWindowColour);
  f.spinUp("SpinButton2");
  EXPECT_EQ(txt("Edit_T1Min"), "-127");
  EXPECT_EQ(f.colour("Edit_T1Min"), kRed);

  f.spinUp("SpinButton1");  // T1Max is a separate byte
  EXPECT_EQ(txt("Edit_T1Max"), "+9");
  EXPECT_EQ(f.sensors()[SensorByte::T1Min], 1);

  f.setSensor(SensorByte::ACnap, 170);
  f.showSensor(SensorByte::ACnap);
  f.markHeld("Edit_ACnap");
  f.spinUp("SpinButton7");
  EXPECT_EQ(txt("Edit_ACnap"), "17,0V");
  EXPECT_EQ(f.colour("Edit_ACnap"), kWindowColour);
  f.spinDown("SpinButton8");
  EXPECT_EQ(txt("Edit_DCnap"), "10,4V");

  f.spinUp("SpinButton14");
  EXPECT_EQ(txt("Edit_WMax"), "81");

  // A correction button at its limit changes nothing, so nothing turns red.
  f.setSensor(SensorByte::T3Korekta, 127);
  f.showSensor(SensorByte::T3Korekta);
  f.markHeld("Edit_T3Korekta");
  f.spinUp("SpinButton9");
  EXPECT_EQ(txt("Edit_T3Korekta"), "+31,75");
  EXPECT_NE(f.colour("Edit_T3Korekta"), kRed);
  f.spinDown("SpinButton6");
  EXPECT_EQ(txt("Edit_T2Korekta"), "-0,25");
  EXPECT_EQ(f.sensors()[SensorByte::T2Korekta], 129);

  // Redrawing an unchanged byte leaves the agreed colour.
  f.markHeld("Edit_T2Korekta");
  f.showAllSensors();
  EXPECT_EQ(f.colour("Edit_T2Korekta"), kWindowColour);

  EXPECT_THROW(f.spinUp("SpinButton12"), std::invalid_argument);
  EXPECT_THROW(f.setText("NoSuchField", "x"), std::invalid_argument);
}

TEST_F(FormTest, GaugesClampToTheirRange) {
  f.setValue("BarRSSI", 23);
  EXPECT_EQ(f.state("BarRSSI").value, 20);
  f.setValue("BarRSSI", -1);
  EXPECT_EQ(f.state("BarRSSI").value, 0);
  f.setValue("Bar", 100);
  EXPECT_EQ(f.state("Bar").value, 100);
  f.setValue("Bar", 150);
  EXPECT_EQ(f.state("Bar").value, 100);
}

// A JSON file shown in the window goes through the setters, as typing would: the click rules run
// in table order, the operator follows the number, what differs from the controller turns red,
// and loading the same again changes nothing.  Either format leaves the window the same.
TEST(FormView, AFileShownInTheWindowRunsTheEditingRules) {
  dovu::test::app();
  Configuration c = defaultConfiguration();
  c.inputs[0].alarmText = QStringLiteral("Włamanie – strefa 1");
  c.smsCentre = QStringLiteral("+48790998250");
  c.outputs[1].time = 5;
  c.miniCa = true;
  c.out1Siren = true;
  c.matrix.voice[10][7] = true;
  c.thresholds[SensorByte::T3Korekta] = 255;
  c.thresholds[SensorByte::WMax] = 0;
  const QByteArray text = configToJsonText(c);
  Form b;
  QString error;
  ASSERT_TRUE(configFromJsonText(b, text, &error)) << error.toStdString();
  EXPECT_EQ(configurationOf(b), c);
  EXPECT_EQ(b.text("Edit_T3Korekta"), QStringLiteral("-31,75"));
  EXPECT_EQ(b.text("Out2Czas"), QStringLiteral("5"));
  // BoxCA comes before BoxOut1sygn, so the latter ends checked and enabled.
  EXPECT_TRUE(b.checked("BoxOut1sygn"));
  EXPECT_TRUE(b.state("BoxOut1sygn").enabled);
  EXPECT_EQ(b.index("Combo_operator"), 3);
  EXPECT_EQ(b.colour("Edit_IN1A"), kRed);
  EXPECT_EQ(b.colour("BoxDCS8"), kRed);
  EXPECT_EQ(b.colour("Edit_WMax"), kRed);
  EXPECT_EQ(b.colour("Edit_T1Min"), kWindowColour);
  EXPECT_EQ(b.colour("Edit_Tel1"), kYellow);
  const dovu::test::FormSnapshot before(b);
  ASSERT_TRUE(configFromJsonText(b, text, &error));
  EXPECT_TRUE(before.diff(b).empty());

  QFile format1(QStringLiteral(DOVU_TEST_DATA "/config-format1.json"));
  ASSERT_TRUE(format1.open(QIODevice::ReadOnly));
  Form one, two;
  ASSERT_TRUE(configFromJsonText(one, format1.readAll(), &error)) << error.toStdString();
  ASSERT_TRUE(configFromJsonText(two, configToJsonText(one), &error)) << error.toStdString();
  EXPECT_TRUE(dovu::test::FormSnapshot(one).diff(two).empty());
}

// A configuration file shown in the window: the threshold displays are drawn from its bytes, the
// operator follows its number, a box it checks ahead of the box that box enables ends checked and
// enabled, what differs from the controller turns red (no colour of the file's own), a second load
// changes nothing, and a save first repairs the field being edited.
TEST(FormView, AConfigurationFileShownInTheWindow) {
  dovu::test::app();
  test::RecordingNotifier n;
  QTemporaryDir dir;
  Configuration empty = defaultConfiguration();
  for (const ConfigField& f : configFields()) {
    if (f.type == ConfigFieldType::Text && f.name != QLatin1String("password")) setConfigValue(empty, f, QString());
    if (f.type == ConfigFieldType::Byte) setConfigValue(empty, f, 0);
  }
  QString why;
  Form form;
  ASSERT_TRUE(loadConfigFile(form, *buildConfigFile(empty, &why), n.collect())) << why.toStdString();
  EXPECT_EQ(form.text("Edit_T1Min"), QStringLiteral("-128"));
  EXPECT_EQ(form.text("Edit_T3Korekta"), QStringLiteral("+0,0"));
  EXPECT_EQ(form.text("Edit_ACnap"), QStringLiteral("0,0V"));
  EXPECT_EQ(form.text("Edit_WMax"), QStringLiteral("0"));
  EXPECT_EQ(form.index("Combo_operator"), kOperatorOther);

  const auto loadWith = [&](const QString& number) {
    form.setText("Edit_operator", number);
    const Bytes file = *buildConfigFile(form, &why);
    form.setText("Edit_operator", QString());
    form.setIndex("Combo_operator", 0);
    EXPECT_TRUE(loadConfigFile(form, file, n.collect()));
    return form.index("Combo_operator");
  };
  EXPECT_EQ(loadWith(QStringLiteral("+48602951111")), 1);
  EXPECT_EQ(loadWith(QStringLiteral("+48790998250")), 3);
  EXPECT_EQ(loadWith(QStringLiteral("+4860295111")), kOperatorOther);
  EXPECT_EQ(loadWith(QString()), kOperatorOther);

  Configuration c = defaultConfiguration();
  c.telephones[0] = QStringLiteral("+48601");
  c.matrix.sms[0][0] = true;
  c.miniCa = true;
  c.out1Siren = true;
  const Bytes file = *buildConfigFile(c, &why);
  Form shown;
  shown.setChecked("BoxCA", false);
  ASSERT_TRUE(loadConfigFile(shown, file, n.collect()));
  EXPECT_TRUE(shown.checked("BoxOut1sygn"));
  EXPECT_TRUE(shown.state("BoxOut1sygn").enabled);
  EXPECT_EQ(shown.colour("Edit_Tel1"), kRed);
  EXPECT_EQ(shown.colour("BoxIN1T1"), kRed);    // a matrix cell that changed
  EXPECT_NE(shown.colour("BoxIN1T2"), kRed);    // one that stayed clear
  EXPECT_NE(shown.colour("Edit_haslo"), kRed);  // has no marker
  const dovu::test::FormSnapshot first(shown);
  int changes = 0;
  QObject::connect(&shown, &Form::changed, [&] { ++changes; });
  ASSERT_TRUE(loadConfigFile(shown, file, n.collect()));
  EXPECT_EQ(changes, 0);
  EXPECT_TRUE(first.diff(shown).empty());

  Form edited;
  edited.userEdited(Form::idOf("Out2Czas"), QStringLiteral("0"));
  edited.setEditing(Form::idOf("Out2Czas"));
  const QString path = dir.filePath(QStringLiteral("c.dvc"));
  ASSERT_TRUE(saveConfigFile(edited, path, n.collect()));
  EXPECT_EQ(edited.text("Out2Czas"), QStringLiteral("1"));
  Form back;
  ASSERT_TRUE(loadConfigFile(back, path, n.collect()));
  EXPECT_EQ(back.text("Out2Czas"), QStringLiteral("1"));
}

// The window's view of a configuration, checked against the configuration's own encoding with
// seeded random configurations and answers.
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

TEST(FormView, ShowsAndTakesBackEveryConfiguration) {
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

TEST(FormView, AnswersReadAsTheConfigurationReadsThem) {
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


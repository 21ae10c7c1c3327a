// The catalogue of the main window: every configuration field, indicator, button, menu item and
// progress-dialog element, in window order.  Fixed entries are listed as data; the families of
// identical fields (inputs, outputs, telephones, the 176 matrix cells, the sensor pages) are
// expanded from their small tables once, at first use.
#include <deque>
#include <string>
#include <unordered_map>

#include "model/form.h"

namespace dovu {
namespace {

using K = FieldKind;
using M = Marker;
using S = SyncColour;

constexpr const char* kOutItems[] = {"Brak",   "T1 MIN", "T1 MAX",  "T2 MIN", "T2 MAX",
                                 "T3 MIN", "T3 MAX", "Wil MIN", "Wil MAX"};
constexpr const char* kOperatorItems[] = {"ORANGE", "T-MOBILE", "PLUS", "PLAY", "inny"};
constexpr const char* kOperatorNumbers[] = {"+48501200777", "+48602951111", "+48601000310",
                                        "+48790998250"};

// One entry, built by chaining the attributes that differ from a plain enabled field.
struct D {
  FieldDef f;
  constexpr D(K kind, const char* name, const char* caption, const char* hint = "")
      : f{name, kind, caption, hint, 0, "", false, -1, true, kDefaultColour, M::None, S::None} {}
  constexpr D& max(int n) { f.maxLength = n; return *this; }
  constexpr D& text(const char* t) { f.defaultText = t; return *this; }
  constexpr D& index(int i) { f.defaultIndex = i; return *this; }
  constexpr D& disabled() { f.defaultEnabled = false; return *this; }
  constexpr D& hidden() { f.defaultVisible = false; return *this; }
  constexpr D& base(Colour c) { f.base = c; return *this; }
  constexpr D& ink(Colour c) { f.defaultTextColour = c; return *this; }
  constexpr D& range(int top) { f.maxValue = top; return *this; }
  template <std::size_t N>
  constexpr D& items(const char* const (&list)[N]) { f.itemList = list; f.itemCount = int(N); return *this; }
  // A configuration field: marked red on change, back to its base colour when synchronised.
  constexpr D& config(M m, S s) { f.marker = m; f.sync = s; return *this; }
};

constexpr D text(const char* name, const char* caption, int limit, Colour base, S sync, const char* hint = "") {
  return D(K::Text, name, caption, hint).max(limit).base(base).config(M::OnChange, sync);
}
constexpr D digits(K kind, const char* name, const char* caption, int limit, const char* def, Colour base,
         S sync, const char* hint = "") {
  return D(kind, name, caption, hint).max(limit).text(def).base(base).config(M::OnChange, sync);
}
constexpr D check(const char* name, const char* caption, M marker, const char* hint = "") {
  return D(K::Check, name, caption, hint).config(marker, S::Window);
}
constexpr D spin(const char* name, const char* caption) {
  return D(K::Spin, name, caption).base(kWindowColour).config(M::OnChange, S::Window);
}
constexpr D button(const char* name, const char* caption, const char* hint = "") {
  return D(K::Button, name, caption, hint);
}

// Fixed entries, group by group.
constexpr D kMenu[] = {
    D(K::MenuItem, "Odczyt1", "Odczyt"),
    D(K::MenuItem, "Zapis1", "Zapis"),
    D(K::MenuItem, "Pobierz1", "Odczyt").disabled(),
    D(K::MenuItem, "Zapisz1", "Zapisz").disabled(),
    D(K::MenuItem, "Oprogramie1", "O programie"),
};
constexpr const char* kMenuGroups[] = {"Plik", "Plik", "Dane", "Dane", "Info"};

constexpr D kConnection[] = {
    D(K::Digits, "Edit_haslo", "HASŁO", "Hasło dostępu (4 cyfry)").max(4).text("8617"),
    button("Button_polacz", "POŁĄCZ", "Połącz do sterownika DOVU").disabled(),
    button("Button_rozlacz", "ROZŁĄCZ", "Rozłącz od sterownika  DOVU").disabled(),
    D(K::Readout, "Edit_status", "Stan połączenia").text("ROZŁĄCZONY").base(kRed),
    D(K::Readout, "Edit_logon", "Stan logowania").text("WYLOGOWANY").base(kRed),
    button("ButtonCom", "COM?"),
    button("SpeedButton2", "Otwórz konfiguracje z pliku", "Otwórz konfiguracje z pliku"),
    button("SpeedButton1", "Zapisz konfiguracje do pliku", "Zapisz konfiguracje do pliku"),
    button("Icon_get", "Odczytaj konfiguracje z DOVU", "Odczytaj konfiguracje z DOVU").disabled(),
    button("Icon_put", "Zapisz konfiguracje do DOVU", "Zapisz konfiguracje do DOVU").disabled(),
};

constexpr D kSupplies[] = {
    text("Edit_DCa", "DC - Wejście Załączone", 15, kOrange, S::Base),
    text("Edit_DCn", "DC - Wejście Wyłączone", 15, kGreen, S::Base),
    spin("Edit_DCnap", "DC - próg napięcia [V]"),
    button("SpinButton8", "DC - próg napięcia [V] - zmiana"),
    text("Edit_ACa", "EX - Wejście Załączone", 15, kOrange, S::Base),
    text("Edit_ACn", "EX - Wejście Wyłączone", 15, kGreen, S::Base),
    spin("Edit_ACnap", "EX - próg napięcia [V]"),
    button("SpinButton7", "EX - próg napięcia [V] - zmiana"),
};

constexpr D kOutputsShared[] = {
    check("BoxPotw", "Wyślij potwierdzenie", M::OnEnter,
          "Czy wysłać SMS z potwierdzeniem wykonania operacji na wyjściach"),
    text("EditPotw", "Treść potwierdzenia", 15, kDefaultColour, S::Window,
         "Treść SMSa potwierdzającego wykonania operacji na wyjściach")
        .text("OK")
        .disabled(),
};

constexpr D kDeviceOptions[] = {
    D(K::Choice, "Combo_operator", "Operator GSM").items(kOperatorItems).index(0).text("ORANGE").base(kYellow),
    digits(K::PhoneDigits, "Edit_operator", "Centrum SMS", 13, "+48501200777", kYellow, S::Base),
    digits(K::Digits, "Edit_pin", "PIN", 4, "8617", kYellow, S::Base, "PIN karty SIM (4 cyfry)"),
    button("Button_zmiana_hasla", "Zmiana hasła").disabled(),
    D(K::Label, "LabelSMS", "Wykorzystane SMS", "Ilość wykorzystanych SMS z limitu dobowego").text("0 z"),
    digits(K::Digits, "Edit_LimitSMS", "Limit SMS:", 2, "0", kYellow, S::Base, "Dobowy limit SMS"),
    D(K::Label, "LabelVoice", "Wykorzystane połączenia",
      "Ilość wykorzystanych połączeń głosowych z limitu dobowego")
        .text("0 z"),
    digits(K::Digits, "Edit_LimitVoice", "Limit Voice:", 2, "0", kYellow, S::Base,
           "Dobowy limit połączeń głosowych"),
    check("BoxWyslijStan", "Wyślij stan po starcie", M::OnEnter),
    check("BoxCA", "tryb mini CA", M::OnEnter),
    check("BoxOut1sygn", "Out1 - sygnalizator", M::OnEnter).disabled(),
    D(K::Label, "TextWersja", "Firmware versja:", "Wersja frimware w sterowniku DOVU")
        .text("DOVU v ...")
        .ink(kGrey),
    button("ButtonFirmware", "Aktualizacja").disabled(),
    button("ButtonRestart", "Restart DOVU").disabled(),
    button("ButtonResetlimit", "Zeruj liczniki", "Zeruje liczniki SMS i Voice").disabled(),
};

constexpr D kAutoTest[] = {
    check("BoxAutoTest", "Automatyczny SMS na telefon nr.1", M::OnEnter),
    text("EditAutotest", "Treść automatycznego SMS", 15, kDefaultColour, S::Window).disabled(),
    digits(K::Digits, "IleTest", "Automatyczny SMS co [H]", 2, "24", kDefaultColour, S::Window),
};

constexpr const char* kInputLampHint = "Stan wejść, kolor czerwony zwarte do masy";
constexpr D kStatus[] = {
    D(K::Lamp, "PanelIN1", "In1", kInputLampHint),
    D(K::Lamp, "PanelIN2", "In2", kInputLampHint),
    D(K::Lamp, "PanelIN3", "In3", kInputLampHint),
    D(K::Lamp, "PanelIN4", "In4", kInputLampHint),
    D(K::Lamp, "PanelIN5", "In5", kInputLampHint),
    D(K::Lamp, "PanelFab", "F"),
    D(K::Lamp, "PanelPK", "Out1"),
    D(K::Lamp, "PanelOut2", "Out2"),
    D(K::Lamp, "PanelOut3", "Out3"),
    D(K::Lamp, "PanelOut4", "Out4"),
    D(K::Gauge, "BarRSSI", "Syg. GSM:").range(20),
    D(K::Label, "LabelZd", "Zdarzenia", "Ilość zdarzeń do obsługi").text("Zd: 0"),
    D(K::StatusLine, "StatusBar", "Modemu GSM"),
    D(K::Readout, "Temp1", "T1"),
    D(K::Readout, "Temp2", "T2"),
    D(K::Readout, "Temp3", "T3"),
    D(K::Readout, "Wilg", "Wil."),
    D(K::Readout, "Udc", "DC"),
    D(K::Readout, "Uac", "EX"),
};

constexpr D kReply[] = {
    text("JakiStan", "Zapytanie o stan:", 4, kDefaultColour, S::Window).text("?"),
    check("T1send", "Wyślij odpowiedź: T1", M::OnClick),
    check("T2send", "Wyślij odpowiedź: T2", M::OnClick),
    check("T3send", "Wyślij odpowiedź: T3", M::OnClick),
    check("Wilgsend", "Wyślij odpowiedź: Wil", M::OnClick),
    check("DCsend", "Wyślij odpowiedź: DC", M::OnClick),
    check("ACsend", "Wyślij odpowiedź: EX", M::OnClick),
    check("IOsend", "Wyślij odpowiedź: I/O", M::OnClick),
};

constexpr D kProgress[] = {
    D(K::Container, "FormProgres", "").hidden(),
    D(K::Container, "Panel_bar", "").hidden(),
    D(K::Label, "Label_Bar", "Postęp").text("Pobieram konfiguracje"),
    D(K::Gauge, "Bar", "Postęp").range(100),
};

// Families.
struct OutputNames {
  const char* on;
  const char* off;
  const char* timeHint;
};
constexpr OutputNames kOutputs[] = {
    {"Edit_Out1zal", "Edit_Out1wyl", "Czas aktywności wyjścia PK w trybie monostabilnym"},
    {"Edit_Out2zal", "Edit_Out2wyl", "Czas aktywności wyjścia OUT2 w trybie monostabilnym"},
    {"Edit_OUT3Zal", "Edit_Out3Wyl", "Czas aktywności wyjścia OUT3 w trybie monostabilnym"},
    {"Edit_OUT4Zal", "Edit_Out4Wyl", ""},
};

// Row labels of the matrix, beside kMatrixRows.
constexpr const char* kMatrixRowLabels[] = {"IN1", "IN2", "IN3", "IN4", "IN5", "T1",
                                        "T2",  "T3",  "Wil.", "EX", "DC"};

struct SensorPage {
  const char* page;     // tab caption
  const char* who;      // accessible-name prefix
  const char* high;
  const char* normal;
  const char* low;
  const char* max;
  const char* maxSpin;
  const char* min;
  const char* minSpin;
  const char* correction;  // nullptr: the page has none
  const char* correctionSpin;
  const char* delay;
};
constexpr SensorPage kSensorPages[] = {
    {"Temp.1", "Temp.1", "Edit_T1a", "Edit_T1ok", "Edit_T1n", "Edit_T1Max", "SpinButton1",
     "Edit_T1Min", "SpinButton2", "Edit_T1Korekta", "SpinButton3", "EditT1opu"},
    {"Temp.2", "Temp.2", "Edit_T2a", "Edit_T2ok", "Edit_T2n", "Edit_T2Max", "SpinButton4",
     "Edit_T2Min", "SpinButton5", "Edit_T2Korekta", "SpinButton6", "EditT2opu"},
    {"Temp.3 [DHT22]", "Temp.3", "Edit_T3a", "Edit_T3ok", "Edit_T3n", "Edit_T3Max", "SpinButton11",
     "Edit_T3Min", "SpinButton10", "Edit_T3Korekta", "SpinButton9", "EditT3opu"},
    {"Wilgotność.[DHT22]", "Wilgotność", "Edit_Wa", "Edit_Wok", "Edit_Wn", "Edit_WMax",
     "SpinButton14", "Edit_WMin", "SpinButton13", nullptr, nullptr, "EditWopu"},
};

struct Catalogue {
  std::vector<FieldDef> defs;
  std::unordered_map<std::string_view, Form::Id> byName;
  std::deque<std::string> names;  // storage of generated names and captions; never moves

  const char* keep(std::string s) {
    names.push_back(std::move(s));
    return names.back().c_str();
  }

  void add(D d, const char* group, const char* page = "") {
    d.f.group = group;
    d.f.page = page;
    defs.push_back(d.f);
  }
  template <std::size_t N>
  void add(const D (&list)[N], const char* group) {
    for (const D& d : list) add(d, group);
  }

  Catalogue() {
    for (std::size_t i = 0; i < std::size(kMenu); ++i) add(kMenu[i], kMenuGroups[i]);
    add(kConnection, "");

    const char* inputs = "Wejścia";
    for (int n = 1; n <= 5; ++n) {
      const S a = n == 1 ? S::Base : S::InputA;  // IN2..IN5 swap colours in mini CA mode
      const S z = n == 1 ? S::Base : S::InputN;
      add(text(keep("Edit_IN" + std::to_string(n) + "A"),
               keep("IN" + std::to_string(n) + " - Wejście Załączone"), 30, kOrange, a),
          inputs);
      add(text(keep("Edit_IN" + std::to_string(n) + "N"),
               keep("IN" + std::to_string(n) + " - Wejście Wyłączone"), 30, kGreen, z),
          inputs);
    }
    add(kSupplies, inputs);

    const char* outputs = "Opcje wyjść";
    for (int n = 1; n <= 4; ++n) {
      const OutputNames& o = kOutputs[n - 1];
      const std::string out = "OUT" + std::to_string(n);
      const std::string num = std::to_string(n);
      add(D(K::NoSpaceText, o.on, keep(out + " Zal")).max(4).base(kOrange).config(M::OnChange, S::Base),
          outputs, keep(out));
      add(D(K::NoSpaceText, o.off, keep(out + " Wyl")).max(4).base(kGreen).config(M::OnChange, S::Base),
          outputs, keep(out));
      add(check(keep("BoxOut" + num + "NC"), keep(out + " NC"), M::OnEnter, "NC - zaznaczone"),
          outputs, keep(out));
      add(check(keep("BoxOut" + num + "Mono"), keep(out + " M/B"), M::OnEnter,
                "Monostabilny - zaznaczony"),
          outputs, keep(out));
      add(digits(K::Digits, keep("Out" + num + "Czas"), keep(out + " T [s]"), 2, "5", kDefaultColour,
                 S::Window, o.timeHint),
          outputs, keep(out));
      add(D(K::Choice, keep("ComboOut" + num), keep(out + " Temp. steruje"))
              .items(kOutItems)
              .text("Brak")
              .config(M::OnUserPick, S::Window),
          outputs, keep(out));
    }
    add(kOutputsShared, outputs);

    add(kDeviceOptions, "Opcje DOVU");

    for (int n = 1; n <= kPhones; ++n)
      add(digits(K::PhoneDigits, keep("Edit_Tel" + std::to_string(n)),
                 keep("Telefon nr. " + std::to_string(n)), 13, "", kYellow, S::Base),
          "Numery telefonów");

    const char* matrix = "Opcje wejść";
    for (const char* pageLetter : {"T", "S"}) {
      const bool voice = pageLetter[0] == 'S';
      const char* page = voice ? "Voice" : "SMS";
      for (std::size_t r = 0; r < kMatrixRows.size(); ++r) {
        const std::string row = kMatrixRows[r];
        // The voice page has no calls for the sensor rows; T3 and W there have no marker either.
        const bool sensorRow = row == "T1" || row == "T2" || row == "T3" || row == "W";
        const bool unmarked = voice && (row == "T3" || row == "W");
        for (int tel = 1; tel <= kPhones; ++tel) {
          D cell = check(keep("Box" + row + pageLetter + std::to_string(tel)),
                         keep(std::string(page) + " " + kMatrixRowLabels[r] + " tel. " +
                              std::to_string(tel)),
                         unmarked ? M::None : M::OnClick);
          if (voice && sensorRow) cell.disabled();
          add(cell, matrix, page);
        }
      }
    }
    add(kAutoTest, matrix);

    add(kStatus, "Stan");

    const char* sensors = "Czujniki";
    for (const SensorPage& p : kSensorPages) {
      const std::string who = p.who;
      add(text(p.high, keep(who + " Wysoka"), 30, kOrange, S::Base), sensors, p.page);
      add(text(p.normal, keep(who + " Norma"), 30, kGreen, S::Base), sensors, p.page);
      add(text(p.low, keep(who + " Niska"), 30, kSkyBlue, S::Base), sensors, p.page);
      add(spin(p.max, keep(who + " MAX")), sensors, p.page);
      add(button(p.maxSpin, keep(who + " MAX - zmiana")), sensors, p.page);
      add(spin(p.min, keep(who + " MIN")), sensors, p.page);
      add(button(p.minSpin, keep(who + " MIN - zmiana")), sensors, p.page);
      if (p.correction) {
        add(spin(p.correction, keep(who + " Korekta")), sensors, p.page);
        add(button(p.correctionSpin, keep(who + " Korekta - zmiana")), sensors, p.page);
      }
      add(digits(K::Digits, p.delay, keep(who + " Opóźnienie alarmowania [min]"), 3, "0",
                 kDefaultColour, S::Window),
          sensors, p.page);
    }
    add(kReply, sensors);

    add(kProgress, "FormProgres");

    for (std::size_t i = 0; i < defs.size(); ++i)
      byName.emplace(defs[i].name, static_cast<Form::Id>(i));
  }
};

const Catalogue& table() {
  static const Catalogue c;
  return c;
}

}  // namespace

const std::vector<FieldDef>& Form::catalogue() { return table().defs; }

Form::Id Form::idOf(std::string_view name) {
  const auto& m = table().byName;
  auto it = m.find(name);
  return it == m.end() ? kNoField : it->second;
}

const FieldDef& Form::def(Id id) { return table().defs.at(static_cast<std::size_t>(id)); }

QStringList Form::items(Id id) {
  QStringList list;
  const FieldDef& d = def(id);
  for (int i = 0; i < d.itemCount; ++i) list << QString::fromUtf8(d.itemList[i]);
  return list;
}

QString operatorNumber(int index) {
  if (index < 0 || index >= kOperatorOther) return {};
  return QString::fromLatin1(kOperatorNumbers[index]);
}

int operatorIndexOf(const QString& number) {
  for (int i = 0; i < kOperatorOther; ++i)
    if (number == QLatin1String(kOperatorNumbers[i])) return i;
  return kOperatorOther;
}

}  // namespace dovu

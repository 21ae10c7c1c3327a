// The catalogue of the main window: every configuration field, indicator, button, menu item and
// progress-dialog element, in window order.  Fixed entries are listed as data; the families of
// identical fields (inputs, outputs, telephones, the 176 matrix cells, the sensor pages, the
// lamps, readouts and reply boxes) are expanded once, at first use, from the window's layout
// tables.  A configuration field's caption is the one its entry in configFields() gives.
#include <deque>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>

#include "ui/form.h"
#include "ui/formview.h"
#include "ui/layout.h"

namespace dovu {
namespace {

using K = FieldKind;
using M = Marker;
using S = SyncColour;


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
    D(K::Digits, "Edit_haslo", "", "Hasło dostępu (4 cyfry)").max(4).text(kDefaultPassword),
    button("Button_polacz", "POŁĄCZ", "Połącz do sterownika DOVU").disabled(),
    button("Button_rozlacz", "ROZŁĄCZ", "Rozłącz od sterownika DOVU").disabled(),
    D(K::Readout, "Edit_status", "Stan połączenia").text("ROZŁĄCZONY").base(kRed),
    D(K::Readout, "Edit_logon", "Stan logowania").text("WYLOGOWANY").base(kRed),
    button("ButtonCom", "COM?"),
    button("SpeedButton2", "Otwórz konfigurację z pliku", "Otwórz konfigurację z pliku"),
    button("SpeedButton1", "Zapisz konfigurację do pliku", "Zapisz konfigurację do pliku"),
    button("Icon_get", "Odczytaj konfigurację z DOVU", "Odczytaj konfigurację z DOVU").disabled(),
    button("Icon_put", "Zapisz konfigurację do DOVU", "Zapisz konfigurację do DOVU").disabled(),
};

constexpr D kOutputsShared[] = {
    check("BoxPotw", "", M::OnEnter,
          "Czy wysłać SMS z potwierdzeniem wykonania operacji na wyjściach?"),
    text("EditPotw", "", 15, kDefaultColour, S::Window,
         "Treść SMS-a potwierdzającego wykonanie operacji na wyjściach")
        .text("OK")
        .disabled(),
};

constexpr D kDeviceOptions[] = {
    D(K::Choice, "Combo_operator", captions::kOperatorCaption).items(captions::kOperatorNames).index(0).text(captions::kOperatorNames[0]).base(kYellow),
    digits(K::PhoneDigits, "Edit_operator", "", 13, kDefaultSmsCentre, kYellow, S::Base),
    digits(K::Digits, "Edit_pin", "", 4, "8617", kYellow, S::Base, "PIN karty SIM (4 cyfry)"),
    button("Button_zmiana_hasla", "Zmiana hasła").disabled(),
    D(K::Label, "LabelSMS", "Wykorzystane SMS", "Liczba wykorzystanych SMS-ów z limitu dobowego").text("0 z"),
    digits(K::Digits, "Edit_LimitSMS", "", 2, "0", kYellow, S::Base, "Dobowy limit SMS"),
    D(K::Label, "LabelVoice", "Wykorzystane połączenia",
      "Liczba wykorzystanych połączeń głosowych z limitu dobowego")
        .text("0 z"),
    digits(K::Digits, "Edit_LimitVoice", "", 2, "0", kYellow, S::Base,
           "Dobowy limit połączeń głosowych"),
    check("BoxWyslijStan", "", M::OnEnter),
    check("BoxCA", "", M::OnEnter),
    check("BoxOut1sygn", "", M::OnEnter).disabled(),
    D(K::Label, "TextWersja", "Wersja firmware:", "Wersja firmware w sterowniku DOVU")
        .text("DOVU v ...")
        .ink(kGrey),
    button("ButtonFirmware", "Aktualizacja").disabled(),
    button("ButtonRestart", "Restart DOVU").disabled(),
    button("ButtonResetlimit", "Zeruj liczniki", "Zeruje liczniki SMS-ów i połączeń głosowych").disabled(),
};

constexpr D kAutoTest[] = {
    check("BoxAutoTest", "", M::OnEnter),
    text("EditAutotest", "", 15, kDefaultColour, S::Window).disabled(),
    digits(K::Digits, "IleTest", "", 2, "24", kDefaultColour, S::Window),
};

// Between the input lamps and the output lamps; the readouts follow.
constexpr D kFlagLamp = D(K::Lamp, "PanelFab", "F");
constexpr D kModem[] = {
    D(K::Gauge, "BarRSSI", "Syg. GSM:").range(20),
    D(K::Label, "LabelZd", "Zdarzenia", "Liczba zdarzeń do obsługi").text("Zd: 0"),
    D(K::StatusLine, "StatusBar", layout::kModemGroup.caption),
};

constexpr D kStatusQuery = text("JakiStan", "", 4, kDefaultColour, S::Window).text("?");

constexpr D kProgress[] = {
    D(K::Container, "FormProgres", "").hidden(),
    D(K::Container, "Panel_bar", "").hidden(),
    D(K::Label, "Label_Bar", "Postęp").text("Pobieram konfigurację"),
    D(K::Gauge, "Bar", "Postęp").range(100),
};

static_assert(std::size(layout::kMatrixRowLabels) == kMatrixRows.size());

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
    // A configuration field is labelled as the configuration's table captions it.
    if (const ConfigField* f = configFieldShownIn(QString::fromLatin1(d.f.name)))
      d.f.caption = keep(f->caption.toStdString());
    defs.push_back(d.f);
  }
  template <std::size_t N>
  void add(const D (&list)[N], const char* group) {
    for (const D& d : list) add(d, group);
  }

  // "<prefix> <caption>" (or with another separator), kept for the life of the catalogue.
  const char* join(std::string_view prefix, std::string_view caption, std::string_view sep = " ") {
    return keep(std::string(prefix).append(sep).append(caption));
  }

  // A threshold field and its step buttons (the pair sensorTable() gives it).
  void addSpin(const char* field, const char* group, const char* page = "") {
    add(spin(field, ""), group, page);
    add(button(spinButtonOf(*sensorByField(field)), join(defs.back().caption, "- zmiana")), group, page);
  }

  // A row of the inputs group: the texts sent when the input switches on and off.
  void addInputRow(const layout::InputRow& row, int limit, S active, S inactive, const char* group) {
    add(text(row.active, "", limit, kOrange, active), group);
    add(text(row.inactive, "", limit, kGreen, inactive), group);
  }

  Catalogue() {
    for (std::size_t i = 0; i < std::size(kMenu); ++i) add(kMenu[i], kMenuGroups[i]);
    add(kConnection, "");

    const char* inputs = layout::kInputsGroup.caption;
    for (const layout::InputRow& row : layout::kInputRows) {
      const bool first = &row == layout::kInputRows;  // IN2..IN5 swap colours in mini CA mode
      addInputRow(row, 30, first ? S::Base : S::InputA, first ? S::Base : S::InputN, inputs);
    }
    for (const layout::InputRow& row : layout::kSupplyRows) {
      addInputRow(row, 15, S::Base, S::Base, inputs);
      addSpin(row.threshold, inputs);
    }

    const char* outputs = layout::kOutputsGroup.caption;
    for (const layout::OutputGroup& o : layout::kOutputGroups) {
      const char* out = o.caption;
      add(D(K::NoSpaceText, o.on, "").max(4).base(kOrange).config(M::OnChange, S::Base), outputs, out);
      add(D(K::NoSpaceText, o.off, "").max(4).base(kGreen).config(M::OnChange, S::Base), outputs, out);
      add(check(o.nc, "", M::OnEnter, "NC - zaznaczone"), outputs, out);
      add(check(o.mono, "", M::OnEnter, "Monostabilny - zaznaczony"), outputs, out);
      add(digits(K::Digits, o.time, "", 2, "5", kDefaultColour, S::Window, o.timeHint), outputs, out);
      add(D(K::Choice, o.limit, "")
              .items(kDrivenByItems)
              .text("Brak")
              .config(M::OnUserPick, S::Window),
          outputs, out);
    }
    add(kOutputsShared, outputs);

    add(kDeviceOptions, layout::kDeviceGroup.caption);

    for (int n = 1; n <= kPhones; ++n)
      add(digits(K::PhoneDigits, keep("Edit_Tel" + std::to_string(n)), "", 13, "", kYellow, S::Base),
          layout::kPhonesGroup.caption);

    const char* matrix = layout::kMatrixGroup.caption;
    for (const layout::MatrixPage& p : layout::kMatrixPages) {
      const bool voice = p.letter == 'S';
      for (std::size_t r = 0; r < kMatrixRows.size(); ++r) {
        const std::string row = kMatrixRows[r];
        // The voice page has no calls for the sensor rows; T3 and W there have no marker either.
        const bool sensorRow = row == "T1" || row == "T2" || row == "T3" || row == "W";
        const bool unmarked = voice && (row == "T3" || row == "W");
        for (int tel = 1; tel <= kPhones; ++tel) {
          D cell = check(keep("Box" + row + p.letter + std::to_string(tel)), "", unmarked ? M::None : M::OnClick);
          if (voice && sensorRow) cell.disabled();
          add(cell, matrix, p.caption);
        }
      }
    }
    add(kAutoTest, matrix);

    const char* state = layout::kStateGroup.caption;
    for (const layout::Lamp& l : layout::kInputLamps)
      add(D(K::Lamp, l.name, l.caption, layout::kInputLampHint), state);
    add(kFlagLamp, state);
    for (const layout::Lamp& l : layout::kOutputLamps) add(D(K::Lamp, l.name, l.caption), state);
    add(kModem, state);
    for (const layout::Readout& r : layout::kReadouts) add(D(K::Readout, r.field, r.label), state);

    const char* sensors = layout::kSensorsGroup.caption;
    for (const layout::SensorPage& p : layout::kSensorPages) {
      add(text(p.high, "", 30, kOrange, S::Base), sensors, p.caption);
      add(text(p.normal, "", 30, kGreen, S::Base), sensors, p.caption);
      add(text(p.low, "", 30, kSkyBlue, S::Base), sensors, p.caption);
      addSpin(p.max, sensors, p.caption);
      addSpin(p.min, sensors, p.caption);
      if (p.correction) addSpin(p.correction, sensors, p.caption);
      add(digits(K::Digits, p.delay, "", 3, "0", kDefaultColour, S::Window), sensors, p.caption);
    }
    add(kStatusQuery, sensors);
    for (const layout::ReplyColumn& c : layout::kReplyColumns)
      add(check(c.box, "", M::OnClick), sensors);

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

}  // namespace dovu

#pragma once
// The state of the main window as data: every configuration field, indicator, button and menu item
// by its widget name, with its text, check state, selected index, gauge value, enabled and visible
// flags and colours.  A configuration is put into it and taken out of it through formview.h; the
// widgets only show it and report the user's actions back.
//
// The editing rules live here too: check-box click rules (dependent enabling), exit checks, key
// filters, the operator choice and the sensor step buttons.
//
// Red is a fact: the form keeps the configuration the controller is known to hold, and a
// configuration field is red exactly when its value differs from that one's as the controller
// tells values apart (what it would send differs), whatever changed it.  Until something has been read from (or wholly written to) the controller the form holds
// only an assumption (the defaults, or an earlier controller's values), and says so.
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "ui/colours.h"
#include "model/configuration.h"
#include "model/sensors.h"

namespace dovu {

enum class FieldKind : std::uint8_t {
  Text,        // free single-line text (Windows-1250 characters only)
  NoSpaceText, // text without spaces (output switching words)
  Digits,      // decimal digits only
  PhoneDigits, // decimal digits and '+'
  Check,       // check box
  Choice,      // drop-down list; value is the selected index, -1 for none
  Spin,        // read-only text drawn from one SensorSettings byte
  Readout,     // read-only text box filled by the live status or the session (Temp1, Edit_status, ...)
  Label,       // static or program-set label text (LabelZd, TextWersja, ...)
  Lamp,        // indicator panel (PanelIN1, ...): colour only
  Gauge,       // progress/level bar: value
  StatusLine,  // the one-panel status bar
  Button,      // push button / tool button: enabled only
  MenuItem,    // menu item: enabled only
  Container,   // dialog or panel whose visibility is program state (FormProgres, Panel_bar)
};

// Whether a field can turn red (it differs from the controller), and what kind of field it is.
enum class Marker : std::uint8_t {
  None,         // never red
  OnChange,     // texts, digits, spin values
  OnUserPick,   // ComboOut1..4
  OnClick,      // matrix cells and reply selection
  OnEnter,      // option boxes
};

// The colour a field takes once it agrees with the controller.
enum class SyncColour : std::uint8_t {
  None,         // never re-coloured (Combo_operator, Edit_haslo, non-configuration entries)
  Base,         // its base colour (texts of the colour groups)
  Window,       // the system window colour
  InputN,       // Edit_IN2N..Edit_IN5N: orange while BoxCA is checked, else green
  InputA,       // Edit_IN2A..Edit_IN5A: green while BoxCA is checked, else orange
};

struct FieldDef {
  const char* name;
  FieldKind kind;
  const char* caption;       // label / caption a person reads (also the accessible name)
  const char* hint;          // tool tip, may be empty
  int maxLength;             // characters; 0 = no limit
  const char* defaultText;   // initial text
  bool defaultChecked;
  int defaultIndex;          // Choice: initial selection (-1 none)
  bool defaultEnabled;
  Colour base;               // base colour (kDefaultColour when none)
  Marker marker;
  SyncColour sync;
  // Where the field sits: the caption of its group box (or menu), and of its tab page if any.
  const char* group = "";
  const char* page = "";
  Colour defaultTextColour = kDefaultColour;
  bool defaultVisible = true;
  int maxValue = 0;                      // Gauge: upper end of its range, the lower end is 0
  const char* const* itemList = nullptr; // Choice: its items
  int itemCount = 0;
};

// Row tokens of the notification matrix, in row order; a cell is "Box" + row + page letter
// ('T' for SMS, 'S' for voice) + telephone number 1..8.
inline constexpr std::array<const char*, 11> kMatrixRows = {
    "IN1", "IN2", "IN3", "IN4", "IN5", "T1", "T2", "T3", "W", "AC", "DC"};
constexpr int kPhones = 8;


struct FieldState {
  QString text;
  bool checked = false;
  int index = -1;
  int value = 0;
  bool enabled = true;
  bool visible = true;
  Colour colour = kDefaultColour;      // background
  Colour textColour = kDefaultColour;  // font colour (TextWersja)
  bool edited = false;  // the user changed the text since the program last set it
};

class Form : public QObject {
  Q_OBJECT
 public:
  using Id = int;
  static constexpr Id kNoField = -1;

  Form();

  // The catalogue (every entry, in window order).
  static const std::vector<FieldDef>& catalogue();
  static Id idOf(std::string_view name);  // kNoField when unknown
  static const FieldDef& def(Id id);
  static QStringList items(Id id);         // item list of a Choice
  int size() const { return static_cast<int>(state_.size()); }

  const FieldState& state(Id id) const { return state_.at(static_cast<std::size_t>(id)); }
  const FieldState& state(std::string_view name) const { return state(must(name)); }

  // Program changes.  Each runs the rules the change triggers: a changed text marks the field
  // (Marker::OnChange), a changed check state runs that box's click rules, an index set by the
  // program never marks.  Setting an equal value does nothing.
  void setText(std::string_view name, const QString& text);
  void setChecked(std::string_view name, bool on);
  void setIndex(std::string_view name, int index);
  void setValue(std::string_view name, int value);
  void setEnabled(std::string_view name, bool on);
  void setVisible(std::string_view name, bool on);
  void setColour(std::string_view name, Colour c);
  void setTextColour(std::string_view name, Colour c);
  void setText(Id id, const QString& text);
  void setChecked(Id id, bool on);
  void setIndex(Id id, int index);
  void setColour(Id id, Colour c);
  void setValue(Id id, int value);
  void setEnabled(Id id, bool on);
  void setVisible(Id id, bool on);
  void setTextColour(Id id, Colour c);

  QString text(std::string_view name) const { return state(name).text; }
  bool checked(std::string_view name) const { return state(name).checked; }
  int index(std::string_view name) const { return state(name).index; }
  Colour colour(std::string_view name) const { return state(name).colour; }

  // The SMS centre number, and the operator it belongs to ("inny" for any other number): how an
  // answer of the controller, a configuration file and the JSON form all set it.
  void setSmsCentre(const QString& number);

  // Whether the window holds a configuration from the controller or a file, not just its defaults.
  bool configurationReceived() const { return configurationReceived_; }
  void markConfigurationReceived() { configurationReceived_ = true; }
  // The values and colours of some fields, with the threshold bytes, to be put back as a whole
  // (a download that did not finish).
  struct Values {
    std::vector<std::pair<Id, FieldState>> fields;
    SensorSettings sensors{};
    bool configurationReceived = false;
  };
  Values values(const std::vector<Id>& ids) const;
  // Puts the values back as they were, without the editing rules, and draws the red from them;
  // whether a field is enabled or visible stays as it is now, except for the fields a check box
  // enables, which follow the box.
  void restore(const Values& v);
  // Whether any configuration field is red: a value the controller does not hold.
  bool hasUnsentEdits() const;
  // Whether a configuration field's value differs from what the controller is known to hold.
  bool differs(Id id) const;

  // What the controller holds.  markHeld: the controller now holds these fields as the window
  // shows them; with a configuration, as that one has them (a download read, a parameter of an
  // upload acknowledged).  Each field then takes its agreed colour, or red when the window shows
  // another value.  setControllerKnown(true) once the whole configuration was read or written;
  // false when another controller may be on the line (a new login): the held values are then
  // only the last ones known.
  void markHeld(const std::vector<Id>& ids);
  void markHeld(const std::vector<Id>& ids, const Configuration& held);
  void markHeld(Id id);
  void markHeld(std::string_view name) { markHeld(must(name)); }
  // What the controller is known (or, until controllerKnown(), assumed) to hold; its access
  // password is not kept.
  const Configuration& heldConfiguration() const { return held_; }
  bool controllerKnown() const { return controllerKnown_; }
  void setControllerKnown(bool known);
  struct Held {
    Configuration values;
    bool known = false;
  };
  Held held() const { return {held_, controllerKnown_}; }
  void restoreHeld(const Held& h);

  // The colour a field shows while it agrees with the controller (InputN/InputA follow BoxCA).
  Colour syncColour(Id id) const;

  // User actions reported by the widgets.
  // The user typed, pasted or deleted: `text` has been through filterEdit in the widget.  Only
  // characters Windows-1250 cannot hold are dropped here, and only from what is new; a list's
  // text is stored as typed and leaves its selection alone (only a pick selects).
  void userEdited(Id id, const QString& text);
  void userToggled(Id id, bool on);             // the user clicked a check box
  void userPicked(Id id, int index);            // the user picked a list item (an operator brings its number)
  // A field lost the focus: the exit checks of a text the user edited since the program last set
  // it (a value from the controller or a file is left as it is); a list whose typed text names
  // an item picks it, any other typed text gives way to the selected item's text.
  void userExit(Id id);
  void operatorCloseUp();                       // Combo_operator's list closed
  void spinUp(std::string_view spinButton);     // SpinButton1..14, up half
  void spinDown(std::string_view spinButton);   // down half

  // Key filter: whether a typed character goes into the field.
  bool acceptsChar(Id id, QChar c) const;

  // One edit of a field's text by the user.  `before` is the text the field held, `after` the
  // text the edit would leave, `cursor` where the cursor then stands (just after the inserted
  // characters; -1 when not known).  Only the inserted characters go through the key filter and
  // the length limit (in characters): what was there already stays as it is, even when a value
  // from the controller or a file is longer than the limit or holds characters the filter would
  // not take.  A deletion always goes through.  An insertion keeps its acceptable characters, as
  // many as fit; when none is left the edit is refused and the field keeps its text and its
  // selection (a rejected key is swallowed, a paste of nothing usable replaces nothing).
  struct Edit {
    bool accepted = false;
    QString text;    // the text after the edit (accepted only)
    int cursor = 0;  // the cursor after the edit (accepted only)
  };
  Edit filterEdit(Id id, const QString& before, const QString& after, int cursor) const;

  // Runs the exit checks of the field being edited (before an upload or a save takes values), if
  // the user has edited it.
  void commitEditing();
  void setEditing(Id id) { editing_ = id; }
  Id editing() const { return editing_; }

  // The thirteen threshold bytes; the spin fields are drawn from them.
  const SensorSettings& sensors() const { return sensors_; }
  void setSensor(SensorByte b, std::uint8_t v);  // stores only
  void showSensor(SensorByte b);                 // redraws its display field (marks it if it changed)
  void showAllSensors();                         // in the order the code-80 answer redraws them

  // Numbers held in digit fields; nullopt-like -1 when the text is not a whole number.
  int number(std::string_view name) const;
  static int parseNumber(const QString& text);  // the same for any text

 signals:
  // Anything about the field changed; widgets refresh from state(id).
  void changed(int id);
  // controllerKnown() changed.
  void knownChanged(bool known);

 private:
  Id must(std::string_view name) const;
  // Stores `value` in the field's `member`; emits changed() and returns true when it differed.
  template <class T>
  bool store(Id id, T FieldState::*member, const T& value);
  // One press of a step button: `step` gives the byte's new value.
  void spin(std::string_view spinButton, std::uint8_t (*step)(SensorEncoding, std::uint8_t));
  void onCheckChanged(Id id);
  // Draws the field's red from the comparison with what the controller holds.
  void refreshMark(Id id);
  // The configuration value the field shows; the field must be a configuration field.
  ConfigValue currentValue(Id id) const;
  // The configuration field a form field shows; nullptr for any other.
  static const ConfigField* configFieldOf(Id id);
  static bool markable(Id id);

  std::vector<FieldState> state_;
  Configuration held_;
  bool controllerKnown_ = false;
  SensorSettings sensors_{};
  Id editing_ = kNoField;
  bool configurationReceived_ = false;
};

}  // namespace dovu

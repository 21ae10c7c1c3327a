#pragma once
// The configuration of a DOVU controller as a plain value: what the controller keeps (the 51
// parameters), the access password that a configuration file keeps beside them, and where the
// values came from.  The window, the files, the backups, the transfers and the tool exchange it;
// the window's Form is one view of it.
//
// Every field is listed once, in configFields(), with its stable name (the JSON format-2 name,
// such as "telephones[0]", "inputs[2].alarmText", "sensors.t1.max").
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

#include "base/bytes.h"
#include "model/sensors.h"

namespace dovu {

// The access password a controller leaves the factory with: the default of the window's password
// field, of its password dialog and of the command-line tool.
inline constexpr const char* kDefaultPassword = "8617";
// The SMS centre a new configuration holds: the first GSM operator's.
inline constexpr const char* kDefaultSmsCentre = "+48501200777";
// The operators of captions::kOperatorNames by their SMS centre numbers; the last one ("inny")
// stands for any other number.
constexpr int kOperatorOther = 4;
QString operatorNumber(int index);            // empty for "inny" and out-of-range indexes
int operatorIndexOf(const QString& number);   // exact match, else kOperatorOther
// What may drive an output: nothing, or the low or high threshold of a sensor.  An output's
// drivenBy indexes this list.
inline constexpr const char* kDrivenByItems[] = {"Brak",   "T1 MIN", "T1 MAX",  "T2 MIN", "T2 MAX",
                                                 "T3 MIN", "T3 MAX", "Wil MIN", "Wil MAX"};

struct ParamDef;

struct Configuration {
  // Numbers a user typed are kept as numbers; kNoNumber stands for a field that held none (an
  // empty field that never lost the focus).  A list without a selection is -1.
  static constexpr int kNoNumber = -1;

  struct Input {
    QString alarmText;   // sent when the input switches on
    QString normalText;  // sent when it switches off
  };
  struct Output {
    QString onWord;   // the SMS word that switches the output on
    QString offWord;  // and off
    bool normallyClosed = false;
    bool monostable = false;
    int time = 5;        // seconds in monostable mode
    int drivenBy = -1;   // the threshold that drives it: index into the list "Brak", "T1 MIN", ...
  };
  struct Sensor {
    QString highText;
    QString normalText;
    QString lowText;
    int delay = 0;  // minutes before an alarm is sent
  };
  // Which telephones are told of one event source: [0] is telephone 1.
  using Told = std::array<bool, 8>;
  // Event sources in the window's row order: IN1..IN5, T1, T2, T3, humidity, EX, DC.
  static constexpr int kSources = 11;
  struct Matrix {
    std::array<Told, kSources> sms{};
    std::array<Told, kSources> voice{};
    bool operator==(const Matrix&) const = default;
  };
  // The readings the controller's reply to the status query includes.
  struct Reply {
    bool t1 = false, t2 = false, t3 = false, humidity = false, dc = false, ex = false, io = false;
    bool operator==(const Reply&) const = default;
  };

  QString password;
  QString pin;
  QString smsCentre;
  std::array<QString, 8> telephones;
  std::array<Input, 5> inputs;
  Input ex;  // the external supply: present, missing
  Input dc;  // the DC supply: high, low
  std::array<Output, 4> outputs;
  bool confirm = false;  // confirm output operations by SMS
  QString confirmText;
  bool autoTest = false;  // a periodic SMS to telephone 1
  QString autoTestText;
  int autoTestHours = 24;
  bool sendStateAtStart = false;
  bool miniCa = false;
  bool out1Siren = false;
  int smsLimit = 0;
  int voiceLimit = 0;
  std::array<Sensor, 4> sensors;  // T1, T2, T3, humidity
  SensorSettings thresholds{};    // the thirteen raw bytes
  QString statusQuery;
  Reply reply;
  Matrix matrix;

  // Where it came from: the controller's firmware version and the port, empty when the values were
  // not read from a controller.  Not part of the configuration's value.
  QString firmware;
  QString port;

  // Equal when every field is; the firmware and the port are not compared.
  bool operator==(const Configuration& other) const;
};

// ---- the field list --------------------------------------------------------------------------------

enum class ConfigFieldType : std::uint8_t {
  Text,    // QString
  Number,  // int, kNoNumber or 0.., travels as one byte
  Flag,    // bool
  Choice,  // int, -1 (no selection) or an index into the list
  Byte,    // one raw threshold byte 0..255
};

using ConfigValue = std::variant<QString, int, bool>;

// The characters a text field takes (the window's key filter, a site table's check).
enum class TextChars : std::uint8_t {
  Any,      // any Windows-1250 character
  NoSpace,  // any but the space (output switching words)
  Digits,   // decimal digits
  Phone,    // decimal digits and '+'
};
// Whether the character is one of them; control characters never are.
bool takesChar(TextChars chars, QChar c);

struct ConfigField {
  QString name;        // stable name, e.g. "outputs[0].onWord"
  ConfigFieldType type;
  int limit = 0;       // Text: longest text the controller keeps (0: no parameter); Choice: list size
  ConfigValue initial; // the value a new configuration holds (a threshold: its byte)
  QString caption;     // what a person reads for it, as the window labels it
  TextChars chars;     // Text: the characters it takes
  std::function<void*(Configuration&)> at;
};

// Every field: the access password first, then in the order of the parameter table (within a
// block in its byte order), each once.
const std::vector<ConfigField>& configFields();
// A field by its stable name; nullptr when there is none.
const ConfigField* configFieldNamed(const QString& name);

ConfigValue configValue(const Configuration& c, const ConfigField& f);
// Stores the value when it has the field's type (else nothing).
void setConfigValue(Configuration& c, const ConfigField& f, const ConfigValue& v);

// The configuration a controller leaves the factory with, as a new window shows it.
Configuration defaultConfiguration();

// ---- the parameters --------------------------------------------------------------------------------

// The set payload of a parameter.  A number that is none goes out as 0, a list without a selection
// as 255.
Bytes encodeParameter(const Configuration& c, const ParamDef& p);
// Takes a read answer into the configuration.  A block answer shorter than its layout is refused
// as a whole (false, nothing changed); a text takes any length.  A list index beyond its list
// becomes no selection.
bool decodeParameter(Configuration& c, const ParamDef& p, const Bytes& payload);

// The first text parameter whose text holds more characters than the controller keeps; nullptr
// when every text fits.
const ParamDef* textOverLimit(const Configuration& c);

// The fields a parameter carries, in the order its payload holds them (a field once).
std::vector<const ConfigField*> parameterFields(const ParamDef& p);
// The parameter that carries a field; nullptr for the access password.
const ParamDef* parameterOf(const ConfigField& f);
// Whether the controller could tell the field's value in a from its value in b: its parameter's
// payload changes when the field alone takes b's value (a text's Windows-1250 bytes, no number and
// 0, a list index beyond 255 all compare as they go out).  A field no parameter carries compares
// by value.
bool differsForController(const Configuration& a, const Configuration& b, const ConfigField& f);
// The same for the field taking the value v instead of its value in a.
bool differsForController(const Configuration& a, const ConfigField& f, const ConfigValue& v);

}  // namespace dovu

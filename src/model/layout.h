#pragma once
// How the families of fields sit in the main window: which fields make up each row, group and tab
// page, and the captions they share.  The catalogue expands these into field entries (a field's
// caption is built from the captions here), and the window lays its widgets out from the same
// tables, so a name or a caption is written down once.  Plain data, no widgets.
#include <cstddef>

namespace dovu::layout {

// The window's group boxes: the object name, and the caption that also files each field under
// its group in the catalogue.
struct Group {
  const char* name;
  const char* caption;
};
inline constexpr Group kInputsGroup{"GroupBox1", "Wejścia"};
inline constexpr Group kOutputsGroup{"GroupBox2", "Opcje wyjść"};
inline constexpr Group kDeviceGroup{"GroupBox3", "Opcje DOVU"};
inline constexpr Group kPhonesGroup{"GroupBox4", "Numery telefonów"};
inline constexpr Group kMatrixGroup{"GroupBox5", "Opcje wejść"};
inline constexpr Group kStateGroup{"GroupBox6", "Stan"};
inline constexpr Group kModemGroup{"GroupBox7", "Modem GSM"};
inline constexpr Group kSensorsGroup{"GroupBox9", "Czujniki"};

// ---- inputs (group "Wejścia") ---------------------------------------------------------------------

// Column captions; a field's caption is its row label, " - " and the column's caption.
inline constexpr const char* kActiveColumn = "Wejście załączone";
inline constexpr const char* kInactiveColumn = "Wejście wyłączone";
// Caption of a supply threshold after the row label, "DC - próg napięcia [V]".
inline constexpr const char* kThresholdCaption = "próg napięcia [V]";

struct InputRow {
  const char* label;      // "IN1", "DC"
  const char* active;     // left column
  const char* inactive;   // right column
  const char* threshold;  // supply threshold with its step buttons; nullptr on input rows
};
// IN2..IN5 swap their colours in mini CA mode, IN1 does not.
inline constexpr InputRow kInputRows[] = {
    {"IN1", "Edit_IN1A", "Edit_IN1N", nullptr}, {"IN2", "Edit_IN2A", "Edit_IN2N", nullptr},
    {"IN3", "Edit_IN3A", "Edit_IN3N", nullptr}, {"IN4", "Edit_IN4A", "Edit_IN4N", nullptr},
    {"IN5", "Edit_IN5A", "Edit_IN5N", nullptr},
};
inline constexpr InputRow kSupplyRows[] = {
    {"DC", "Edit_DCa", "Edit_DCn", "Edit_DCnap"},
    {"EX", "Edit_ACa", "Edit_ACn", "Edit_ACnap"},
};

// ---- outputs (group "Opcje wyjść") ----------------------------------------------------------------

// One sub-group per output; its fields in column order.
struct OutputGroup {
  const char* caption;   // "OUT1": the sub-group's title, and its fields' caption prefix
  const char* on;        // switching-on word
  const char* off;       // switching-off word
  const char* nc;        // normally closed
  const char* mono;      // monostable
  const char* time;      // monostable time
  const char* limit;     // the temperature that drives the output
  const char* timeHint;  // tool tip of the time field, may be empty
};
inline constexpr OutputGroup kOutputGroups[] = {
    {"OUT1", "Edit_Out1zal", "Edit_Out1wyl", "BoxOut1NC", "BoxOut1Mono", "Out1Czas", "ComboOut1",
     "Czas aktywności wyjścia PK w trybie monostabilnym"},
    {"OUT2", "Edit_Out2zal", "Edit_Out2wyl", "BoxOut2NC", "BoxOut2Mono", "Out2Czas", "ComboOut2",
     "Czas aktywności wyjścia OUT2 w trybie monostabilnym"},
    {"OUT3", "Edit_OUT3Zal", "Edit_Out3Wyl", "BoxOut3NC", "BoxOut3Mono", "Out3Czas", "ComboOut3",
     "Czas aktywności wyjścia OUT3 w trybie monostabilnym"},
    {"OUT4", "Edit_OUT4Zal", "Edit_Out4Wyl", "BoxOut4NC", "BoxOut4Mono", "Out4Czas", "ComboOut4", ""},
};
// Column captions of a sub-group, in field order; a field's caption is "OUT1 " and its column's.
inline constexpr const char* kOutputColumns[] = {"Zał.", "Wył.", "NC", "M/B", "T [s]", "Temp. steruje"};

// ---- notification matrix (group "Opcje wejść") ----------------------------------------------------

// Row labels beside the row tokens of the cell names (kMatrixRows), in row order.
inline constexpr const char* kMatrixRowLabels[] = {"IN1", "IN2", "IN3", "IN4", "IN5", "T1",
                                                   "T2",  "T3",  "Wil.", "EX", "DC"};
struct MatrixPage {
  const char* sheet;    // the tab page's object name
  const char* caption;  // the tab's caption, also the cells' caption prefix
  char letter;          // the page letter of its cell names
};
inline constexpr MatrixPage kMatrixPages[] = {{"TabSheet1", "SMS", 'T'}, {"TabSheet2", "Połączenia", 'S'}};

// ---- state (group "Stan") -------------------------------------------------------------------------

struct Lamp {
  const char* name;
  const char* caption;
};
// The input lamps share one panel and its hint.
inline constexpr const char* kInputLampHint = "Stan wejść, kolor czerwony zwarte do masy";
inline constexpr Lamp kInputLamps[] = {
    {"PanelIN1", "IN1"}, {"PanelIN2", "IN2"}, {"PanelIN3", "IN3"}, {"PanelIN4", "IN4"}, {"PanelIN5", "IN5"}};
inline constexpr Lamp kOutputLamps[] = {
    {"PanelPK", "OUT1"}, {"PanelOut2", "OUT2"}, {"PanelOut3", "OUT3"}, {"PanelOut4", "OUT4"}};

// The live readings under the lamps, left to right; the label is also the field's caption.
struct Readout {
  const char* label;
  const char* field;
};
inline constexpr Readout kReadouts[] = {{"T1", "Temp1"}, {"T2", "Temp2"}, {"T3", "Temp3"},
                                        {"Wil.", "Wilg"}, {"DC", "Udc"},  {"EX", "Uac"}};

// ---- sensors (group "Czujniki") -------------------------------------------------------------------

// Row captions of a sensor page; a field's caption is the page's `who`, a space and its row's.
inline constexpr const char* kSensorHigh = "Wysoka";
inline constexpr const char* kSensorNormal = "Norma";
inline constexpr const char* kSensorLow = "Niska";
inline constexpr const char* kSensorMax = "MAX";
inline constexpr const char* kSensorMin = "MIN";
inline constexpr const char* kSensorCorrection = "Korekta";
inline constexpr const char* kSensorDelay = "Opóźnienie alarmowania";
inline constexpr const char* kSensorDelayUnit = "[min]";

// The MAX, MIN and correction fields step with the buttons sensorTable() pairs them with.
struct SensorPage {
  const char* sheet;       // the tab page's object name
  const char* caption;     // the tab's caption
  const char* who;         // its fields' caption prefix
  const char* high;
  const char* normal;
  const char* low;
  const char* max;
  const char* min;
  const char* correction;  // nullptr: the page has none
  const char* delay;       // alarm delay in minutes
};
inline constexpr SensorPage kSensorPages[] = {
    {"TabSheet3", "Temp. 1", "Temp. 1", "Edit_T1a", "Edit_T1ok", "Edit_T1n", "Edit_T1Max", "Edit_T1Min",
     "Edit_T1Korekta", "EditT1opu"},
    {"TabSheet4", "Temp. 2", "Temp. 2", "Edit_T2a", "Edit_T2ok", "Edit_T2n", "Edit_T2Max", "Edit_T2Min",
     "Edit_T2Korekta", "EditT2opu"},
    {"TabSheet5", "Temp. 3 [DHT22]", "Temp. 3", "Edit_T3a", "Edit_T3ok", "Edit_T3n", "Edit_T3Max",
     "Edit_T3Min", "Edit_T3Korekta", "EditT3opu"},
    {"TabSheet6", "Wilgotność [DHT22]", "Wilgotność", "Edit_Wa", "Edit_Wok", "Edit_Wn", "Edit_WMax",
     "Edit_WMin", nullptr, "EditWopu"},
};

// The reply the controller sends to the status query: one check box per reading.  A box's
// caption is kReplyCaption, a space and its column's label.
inline constexpr const char* kReplyCaption = "Wyślij odpowiedź:";
struct ReplyColumn {
  const char* label;
  const char* box;
};
inline constexpr ReplyColumn kReplyColumns[] = {{"T1", "T1send"},   {"T2", "T2send"}, {"T3", "T3send"},
                                                {"Wil", "Wilgsend"}, {"DC", "DCsend"}, {"EX", "ACsend"},
                                                {"I/O", "IOsend"}};

}  // namespace dovu::layout

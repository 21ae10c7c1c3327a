#pragma once
// How the families of fields sit in the main window: which fields make up each row, group and tab
// page, with the captions (model/captions.h) they show.  The catalogue expands these into field
// entries, and the window lays its widgets out from the same tables, so a name is written down
// once.  Plain data, no widgets.
#include <cstddef>

#include "model/captions.h"

namespace dovu::layout {

// The window's group boxes: the object name, and the caption that also files each field under
// its group in the catalogue.
struct Group {
  const char* name;
  const char* caption;
};
inline constexpr Group kInputsGroup{"GroupBox1", captions::kInputsGroup};
inline constexpr Group kOutputsGroup{"GroupBox2", captions::kOutputsGroup};
inline constexpr Group kDeviceGroup{"GroupBox3", captions::kDeviceGroup};
inline constexpr Group kPhonesGroup{"GroupBox4", captions::kPhonesGroup};
inline constexpr Group kMatrixGroup{"GroupBox5", captions::kMatrixGroup};
inline constexpr Group kStateGroup{"GroupBox6", "Stan"};
inline constexpr Group kModemGroup{"GroupBox7", "Modem GSM"};
inline constexpr Group kSensorsGroup{"GroupBox9", captions::kSensorsGroup};

// ---- inputs (group "Wejścia") ---------------------------------------------------------------------

using captions::kActiveColumn;
using captions::kInactiveColumn;
using captions::kThresholdCaption;

struct InputRow {
  const char* label;      // "IN1", "DC"
  const char* active;     // left column
  const char* inactive;   // right column
  const char* threshold;  // supply threshold with its step buttons; nullptr on input rows
};
// IN2..IN5 swap their colours in mini CA mode, IN1 does not.
inline constexpr InputRow kInputRows[] = {
    {captions::kInputLabels[0], "Edit_IN1A", "Edit_IN1N", nullptr},
    {captions::kInputLabels[1], "Edit_IN2A", "Edit_IN2N", nullptr},
    {captions::kInputLabels[2], "Edit_IN3A", "Edit_IN3N", nullptr},
    {captions::kInputLabels[3], "Edit_IN4A", "Edit_IN4N", nullptr},
    {captions::kInputLabels[4], "Edit_IN5A", "Edit_IN5N", nullptr},
};
inline constexpr InputRow kSupplyRows[] = {
    {captions::kSupplyLabels[0], "Edit_DCa", "Edit_DCn", "Edit_DCnap"},
    {captions::kSupplyLabels[1], "Edit_ACa", "Edit_ACn", "Edit_ACnap"},
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
    {captions::kOutputLabels[0], "Edit_Out1zal", "Edit_Out1wyl", "BoxOut1NC", "BoxOut1Mono", "Out1Czas", "ComboOut1",
     "Czas aktywności wyjścia PK w trybie monostabilnym"},
    {captions::kOutputLabels[1], "Edit_Out2zal", "Edit_Out2wyl", "BoxOut2NC", "BoxOut2Mono", "Out2Czas", "ComboOut2",
     "Czas aktywności wyjścia OUT2 w trybie monostabilnym"},
    {captions::kOutputLabels[2], "Edit_OUT3Zal", "Edit_Out3Wyl", "BoxOut3NC", "BoxOut3Mono", "Out3Czas", "ComboOut3",
     "Czas aktywności wyjścia OUT3 w trybie monostabilnym"},
    {captions::kOutputLabels[3], "Edit_OUT4Zal", "Edit_Out4Wyl", "BoxOut4NC", "BoxOut4Mono", "Out4Czas", "ComboOut4", ""},
};
using captions::kOutputColumns;

// ---- notification matrix (group "Opcje wejść") ----------------------------------------------------

// Row labels beside the row tokens of the cell names (kMatrixRows), in row order.
using captions::kMatrixRowLabels;
struct MatrixPage {
  const char* sheet;    // the tab page's object name
  const char* caption;  // the tab's caption, also the cells' caption prefix
  char letter;          // the page letter of its cell names
};
inline constexpr MatrixPage kMatrixPages[] = {{"TabSheet1", captions::kMatrixPages[0], 'T'},
                                              {"TabSheet2", captions::kMatrixPages[1], 'S'}};

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

using captions::kSensorCorrection;
using captions::kSensorDelay;
using captions::kSensorDelayUnit;
using captions::kSensorHigh;
using captions::kSensorLow;
using captions::kSensorMax;
using captions::kSensorMin;
using captions::kSensorNormal;

// The step buttons of the thresholds, in the block order of sensorTable(); each sits beside its
// threshold's display field (widgetNameOf).
inline constexpr const char* kSpinButtons[] = {
    "SpinButton2", "SpinButton1", "SpinButton5",  "SpinButton4",  "SpinButton3",  "SpinButton6", "SpinButton7",
    "SpinButton8", "SpinButton10", "SpinButton11", "SpinButton9", "SpinButton13", "SpinButton14"};

// The MAX, MIN and correction fields step with the buttons kSpinButtons pairs them with.
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
    {"TabSheet3", captions::kSensorPages[0].caption, captions::kSensorPages[0].who, "Edit_T1a", "Edit_T1ok", "Edit_T1n", "Edit_T1Max", "Edit_T1Min",
     "Edit_T1Korekta", "EditT1opu"},
    {"TabSheet4", captions::kSensorPages[1].caption, captions::kSensorPages[1].who, "Edit_T2a", "Edit_T2ok", "Edit_T2n", "Edit_T2Max", "Edit_T2Min",
     "Edit_T2Korekta", "EditT2opu"},
    {"TabSheet5", captions::kSensorPages[2].caption, captions::kSensorPages[2].who, "Edit_T3a", "Edit_T3ok", "Edit_T3n", "Edit_T3Max",
     "Edit_T3Min", "Edit_T3Korekta", "EditT3opu"},
    {"TabSheet6", captions::kSensorPages[3].caption, captions::kSensorPages[3].who, "Edit_Wa", "Edit_Wok", "Edit_Wn", "Edit_WMax",
     "Edit_WMin", nullptr, "EditWopu"},
};

// The reply the controller sends to the status query: one check box per reading.
using captions::kReplyCaption;
struct ReplyColumn {
  const char* label;
  const char* box;
};
inline constexpr ReplyColumn kReplyColumns[] = {
    {captions::kReplyLabels[0], "T1send"}, {captions::kReplyLabels[1], "T2send"},
    {captions::kReplyLabels[2], "T3send"}, {captions::kReplyLabels[3], "Wilgsend"},
    {captions::kReplyLabels[4], "DCsend"}, {captions::kReplyLabels[5], "ACsend"},
    {captions::kReplyLabels[6], "IOsend"}};

}  // namespace dovu::layout

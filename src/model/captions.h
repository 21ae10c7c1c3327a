#pragma once
// The words a person reads for the configuration: the captions of its groups, rows and columns,
// the list items and the operators.  Each field's own caption is built from these in its entry of
// configFields(); the window, the configuration sheet and the text formats all read them here, so
// each caption is written down once.
#include <cstddef>

namespace dovu::captions {

// The groups the fields are filed under.
inline constexpr const char* kInputsGroup = "Wejścia";
inline constexpr const char* kOutputsGroup = "Opcje wyjść";
inline constexpr const char* kDeviceGroup = "Opcje DOVU";
inline constexpr const char* kPhonesGroup = "Numery telefonów";
inline constexpr const char* kMatrixGroup = "Opcje wejść";
inline constexpr const char* kSensorsGroup = "Czujniki";

// ---- inputs ----------------------------------------------------------------------------------------

// Column captions; a text's caption is its row label, " - " and the column's caption.
inline constexpr const char* kActiveColumn = "Wejście załączone";
inline constexpr const char* kInactiveColumn = "Wejście wyłączone";
// Caption of a supply threshold after the row label, "DC - próg napięcia [V]".
inline constexpr const char* kThresholdCaption = "próg napięcia [V]";
inline constexpr const char* kInputLabels[] = {"IN1", "IN2", "IN3", "IN4", "IN5"};
// The supplies: DC, then EX (the external supply).
inline constexpr const char* kSupplyLabels[] = {"DC", "EX"};

// ---- outputs ---------------------------------------------------------------------------------------

inline constexpr const char* kOutputLabels[] = {"OUT1", "OUT2", "OUT3", "OUT4"};
// Column captions, in field order; a field's caption is "OUT1 " and its column's.
inline constexpr const char* kOutputColumns[] = {"Zał.", "Wył.", "NC", "M/B", "T [s]", "Temp. steruje"};

// ---- notification matrix ---------------------------------------------------------------------------

// Row labels in the rows' order: IN1..IN5, T1, T2, T3, humidity, EX, DC.
inline constexpr const char* kMatrixRowLabels[] = {"IN1", "IN2", "IN3", "IN4", "IN5", "T1",
                                                   "T2",  "T3",  "Wil.", "EX", "DC"};
// The SMS page, then the voice page; also the cells' caption prefix.
inline constexpr const char* kMatrixPages[] = {"SMS", "Połączenia"};

// ---- sensors ---------------------------------------------------------------------------------------

// Row captions of a sensor page; a field's caption is the page's `who`, a space and its row's.
inline constexpr const char* kSensorHigh = "Wysoka";
inline constexpr const char* kSensorNormal = "Norma";
inline constexpr const char* kSensorLow = "Niska";
inline constexpr const char* kSensorMax = "MAX";
inline constexpr const char* kSensorMin = "MIN";
inline constexpr const char* kSensorCorrection = "Korekta";
inline constexpr const char* kSensorDelay = "Opóźnienie alarmowania";
inline constexpr const char* kSensorDelayUnit = "[min]";

struct SensorPage {
  const char* caption;  // the page's title
  const char* who;      // its fields' caption prefix
};
// T1, T2, T3, humidity.
inline constexpr SensorPage kSensorPages[] = {
    {"Temp. 1", "Temp. 1"}, {"Temp. 2", "Temp. 2"}, {"Temp. 3 [DHT22]", "Temp. 3"}, {"Wilgotność [DHT22]", "Wilgotność"}};

// The reply to the status query: a box's caption is kReplyCaption, a space and its label.
inline constexpr const char* kReplyCaption = "Wyślij odpowiedź:";
// T1, T2, T3, humidity, DC, EX, I/O.
inline constexpr const char* kReplyLabels[] = {"T1", "T2", "T3", "Wil", "DC", "EX", "I/O"};

// ---- the GSM operator --------------------------------------------------------------------------------

// The operator is no field of its own: the SMS centre number picks it.
inline constexpr const char* kOperatorCaption = "Operator GSM";
// The operators with a known SMS centre (kOperatorNumbers), then "inny" for any other number.
inline constexpr const char* kOperatorNames[] = {"ORANGE", "T-MOBILE", "PLUS", "PLAY", "inny"};

}  // namespace dovu::captions

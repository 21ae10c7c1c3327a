#pragma once
// The configuration as a JSON object, for the command-line tool and scripts: every field that the
// configuration file holds, by its field name.
//
//   texts                          "Edit_Tel1": "+48601234567"   (Unicode; Windows-1250 on the wire)
//   check boxes, matrix cells      "BoxCA": true, "BoxIN1T1": false   (all 176 cells by name)
//   number fields of the blocks    "Edit_LimitSMS": 5   (the byte they travel as, 0..255; a text
//     (limits, on-times, IleTest,                          that is not the plain decimal form stays
//      alarm delays)                                        a string of digits: "05")
//   choice lists ComboOut1..4      "ComboOut1": -1   (-1: no selection, else 0..8)
//   access password                "Edit_haslo": "8617"
//   sensor settings                "SensorSettings": {"T1Min": 130, ..., "WMax": 80}   (raw bytes)
//
// Combo_operator is not stored: loading picks it from Edit_operator, as the file load does.  The
// spin display fields are not stored either: they are drawn from SensorSettings.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include "model/form.h"

namespace dovu {

QJsonObject configToJson(const Form& form);

// Checks the whole object first: every field present, no unknown names, the right types, bytes and
// number fields (numbers or strings of digits) in 0..255, indexes in -1..8, texts within the 255
// characters of a file item and in Windows-1250; the text form also refuses a name given twice.  On any fault returns
// false with the reason in *error and leaves the form untouched.  Otherwise writes every field
// through the form's setters, the access password first and then in the order of the parameter
// table (so change markers and the BoxCA rule act as on a file load), and redraws the thirteen
// sensor displays.
bool configFromJson(Form& form, const QJsonObject& json, QString* error);

// The same on JSON text (indented, UTF-8).
QByteArray configToJsonText(const Form& form);
bool configFromJsonText(Form& form, const QByteArray& text, QString* error);

}  // namespace dovu

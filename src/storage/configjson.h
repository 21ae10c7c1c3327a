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
//
// A saved file also says where it came from, in an object that no reader takes any field from:
//   meta                           {"date": "2026-12-08T17:50:00+01:00", "program": "dovu-konfig 1.42",
//                                   "firmware": "DOVU v 2.3", "port": "/dev/ttyUSB0"}
// firmware and port only when the configuration was read from a controller.  Files without meta
// load as before; a meta that is not an object is refused like any field of the wrong type.
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include "model/form.h"

namespace dovu {

QJsonObject configToJson(const Form& form);

// Where a configuration came from: the controller's firmware version as its label shows it and the
// port, both empty when it was not read from a controller.
struct ConfigOrigin {
  QString firmware;
  QString port;
};
// The firmware version a form shows after a controller's status came in; empty before that.
QString firmwareShown(const Form& form);

// The meta object: the date (local time with its offset, to the second), "dovu-konfig" and the
// program's version, and the origin's non-empty entries.
QJsonObject configMeta(const ConfigOrigin& origin, const QDateTime& when = QDateTime::currentDateTime());

// Checks the whole object first: every field present, no unknown names, the right types, bytes and
// number fields (numbers or strings of digits) in 0..255, indexes in -1..8, texts within the 255
// characters of a file item and in Windows-1250; the text form also refuses a name given twice.  On any fault returns
// false with the reason in *error and leaves the form untouched.  Otherwise writes every field
// through the form's setters, the access password first and then in the order of the parameter
// table (so change markers and the BoxCA rule act as on a file load), and redraws the thirteen
// sensor displays.
bool configFromJson(Form& form, const QJsonObject& json, QString* error);

// The same on JSON text (indented, UTF-8); the first without meta, the second with the given one.
QByteArray configToJsonText(const Form& form);
QByteArray configToJsonText(const Form& form, const QJsonObject& meta);
bool configFromJsonText(Form& form, const QByteArray& text, QString* error);

}  // namespace dovu

#pragma once
// The configuration as a JSON object, for the command-line tool and scripts.
//
// Format 2 names every field by its meaning, nested as the name says, and carries "format": 2:
//   texts                "pin": "4821", "telephones": ["+48601234567", ...],
//                        "inputs": [{"alarmText": "...", "normalText": "..."}, ...]
//   switches             "miniCa": true, "outputs": [{"monostable": false, ...}, ...]
//   numbers              "limits": {"sms": 5, ...}   (0..255, the byte they travel as; null for a
//                                                     field that held no number)
//   lists                "outputs": [{"drivenBy": -1, ...}]   (-1: no selection, else 0..8)
//   thresholds           "sensors": {"t1": {"max": 136, ...}}, "dc": {"threshold": 105}   (raw bytes)
//   the matrix           "matrix": {"sms": {"in1": [true, false, ...8]}, "voice": {...}}
// The names are those of configFields() (model/configuration.h), the one list of them.
//
// Format 1 (the earlier files, without "format") named the fields after the window's fields
// ("Edit_Tel1", "BoxCA", "ComboOut1", "SensorSettings": {"T1Min": 130, ...}); it is still read.
//
// A saved file also says where it came from, in a meta object:
//   meta                 {"date": "2026-12-08T17:50:00+01:00", "program": "dovu-konfig 1.42",
//                         "firmware": "DOVU v 2.3", "port": "/dev/ttyUSB0"}
// firmware and port only when the configuration was read from a controller; a format-2 reader
// takes them as the configuration's origin, a format-1 reader takes nothing from meta.  Files
// without meta load as before; a meta that is not an object is refused like any field of the
// wrong type.
#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

#include "model/configuration.h"

namespace dovu {

// Format 2, "format" included, meta not.
QJsonObject configToJson(const Configuration& c);
// Format 2 or format 1, checked as a whole: every field present, no unknown names, the right
// types, bytes and numbers in 0..255 (format 1 also takes a number as a string of digits), indexes
// within their lists or -1, texts within the 255 characters of a file item and in Windows-1250.
// Nullopt with the reason in *error on any fault.
std::optional<Configuration> configFromJson(const QJsonObject& json, QString* error);
// The same on JSON text (indented, UTF-8); the text form also refuses a name given twice.  The
// meta object is written when not empty.
QByteArray configToJsonText(const Configuration& c, const QJsonObject& meta = {});
std::optional<Configuration> configFromJsonText(const QByteArray& text, QString* error);

// The fields a JSON name stands for, in either format: "telephones[0]" or "Edit_Tel1", a
// threshold also as "SensorSettings.T1Max" (as diff names it); a group ("telephones",
// "inputs[2]", "matrix.sms.in1") stands for every field under it.  Empty when it names nothing.
std::vector<const ConfigField*> configFieldsNamed(const QString& name);
// The value a text gives a field (a cell of a site table, say), checked as the JSON reader checks
// it: a text as it is, a number or threshold byte as decimal digits 0..255, a switch as
// true/false (also 1/0, yes/no), a list index as -1..its last item.  Nullopt with the reason.
std::optional<ConfigValue> configValueFromText(const ConfigField& f, const QString& text, QString* error);

// Where a configuration came from: the controller's firmware version as its label shows it and the
// port, both empty when it was not read from a controller.
struct ConfigOrigin {
  QString firmware;
  QString port;
};
// The meta object: the date (local time with its offset, to the second), "dovu-konfig" and the
// program's version, and the origin's non-empty entries.
QJsonObject configMeta(const ConfigOrigin& origin, const QDateTime& when = QDateTime::currentDateTime());

}  // namespace dovu

#pragma once
// The differences between two configurations field by field, in words, and the parameters that
// carry a chosen set of fields: what "dovu-cli diff" prints, what the window's compare dialog lists,
// and what a selective upload sends.
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "storage/configfile.h"
#include "storage/configtext.h"

namespace dovu {

struct FieldDifference {
  QString name;     // as diff prints it: the field's name, a matrix cell, "SensorSettings.X"
  QString field;    // the form field that holds it (for a sensor byte, its display field)
  QString caption;  // what a person reads: the field's label, or the item's description (by words)
  QString a;        // the value on each side in words
  QString b;
};

// Every field whose value differs, in file order; the magic and the check byte are not fields.
std::vector<FieldDifference> diffConfigs(const ConfigValues& a, const ConfigValues& b,
                                         const TextQuoter& quote = quotedText, const ConfigWords& words = {});

// Indexes into paramTable() of the parameters that hold the named fields, ascending (the upload's
// order), each once: a block goes whole when any of its fields is named.  Nullopt, with the reason,
// when a name is no field or a field the controller does not keep.
std::optional<std::vector<std::size_t>> paramsHolding(const QStringList& fields, QString* error);

// The fields that travel with a parameter (a block's every field), by name.
QStringList fieldsOfParam(std::size_t param);

}  // namespace dovu

#pragma once
// The names the first JSON format gave the fields, kept for good: format-1 files, the names
// "dovu-cli show" and "diff" print and the old names "upload --only" accepts.  One table, here;
// a threshold's name is the one its displayed value went by.
#include <QString>

#include "model/configuration.h"

namespace dovu {

// The format-1 name of a field (never null: every field has one).
const char* formatOneName(const ConfigField& f);
// The same by the field's stable name; the name itself when it names no field.
QString formatOneName(const QString& stableName);
// The field a format-1 name stands for; nullptr when none does.
const ConfigField* fieldOfFormatOneName(const QString& name);
// A field by its stable name or by its format-1 name; nullptr when there is none.
const ConfigField* fieldCalled(const QString& name);

}  // namespace dovu

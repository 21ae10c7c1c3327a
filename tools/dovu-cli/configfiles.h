#pragma once
// Configuration files of the command-line tool, by extension: .dvc (the window's binary file) and
// .json (the JSON form).  Reading leaves the form untouched on any fault; writing replaces the
// file atomically.  Failures come back as one line for stderr.
#include <QString>

#include "model/form.h"

namespace dovu::cli {

enum class ConfigFormat { Unknown, Dvc, Json };
ConfigFormat configFormatOf(const QString& path);
// "FILE: unsupported file type (expected .dvc or .json)"
QString unsupportedFormat(const QString& path);

bool readConfigAny(const QString& path, Form& form, QString* error);
bool writeConfigAny(const QString& path, const Form& form, QString* error);

}  // namespace dovu::cli

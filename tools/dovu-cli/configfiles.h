#pragma once
// Configuration files of the command-line tool, by extension: .dvc (the window's binary file) and
// .json (the JSON form).  Writing replaces the file atomically.  Failures come back as one line for
// stderr.
#include <QString>
#include <QStringList>
#include <optional>

#include "base/bytes.h"
#include "model/configuration.h"
#include "storage/configfile.h"
#include "storage/configjson.h"

namespace dovu::cli {

enum class ConfigFormat { Unknown, Dvc, Json };
ConfigFormat configFormatOf(const QString& path);
// "FILE: unsupported file type (expected .dvc or .json)"
QString unsupportedFormat(const QString& path);

// Paths are command-line arguments: a name that is not UTF-8 is opened by its own bytes
// (base/filename.h).
std::optional<Configuration> readConfigAny(const QString& path, QString* error);
// A .json file gets a meta object: the date, the program's version and the configuration's origin
// (read from a controller: its firmware version and port).
bool writeConfigAny(const QString& path, const Configuration& c, QString* error);

// What a .dvc file loses when it is read and written again, one line per item
// (list indexes beyond their list become "no selection", flag bits without a check box are
// cleared); empty when it comes back byte for byte.
QStringList configNormalisations(const Bytes& file, const Configuration& c);

// The file's items of a configuration; nullopt with the reason in English in *error.
std::optional<ConfigValues> fileItemsOf(const Configuration& c, QString* error);

}  // namespace dovu::cli

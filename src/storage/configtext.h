#pragma once
// A configuration in words, item by item in file order: what "dovu-cli show" prints and the window's
// backup dialog shows.
#include <QString>
#include <QStringList>
#include <functional>

#include "base/bytes.h"
#include "storage/configfile.h"

namespace dovu {

// How a text item is shown, quotes included.
using TextQuoter = std::function<QString(const Bytes&)>;
// The text in double quotes, as it is.
QString quotedText(const Bytes& text);

// The value of a one-value item (text, number, list choice, sensor byte) in words.
QString configValueText(const ConfigItem& item, const Bytes& value, const TextQuoter& quote = quotedText);

// One line per item (the matrix takes a line per event source); magic and check byte left out.
QStringList describeConfig(const ConfigValues& values, const TextQuoter& quote = quotedText);

}  // namespace dovu

#pragma once
// A configuration in words, item by item in file order: what "dovu-cli show" prints and the window's
// backup dialog shows.
#include <QString>
#include <QStringList>
#include <functional>

#include "base/bytes.h"
#include "storage/configfile.h"

namespace dovu {

// The few words a configuration is told in besides its values: English as the tool shows it by
// default; the window passes its Polish ones (ui/wording.h).
struct ConfigWords {
  QString on = QStringLiteral("yes");  // a check box or matrix cell that is on, or off
  QString off = QStringLiteral("no");
  QString none = QStringLiteral("none");  // a list choice out of the list's range
  QString telephonesTold = QStringLiteral("telephones told");
  QString voice = QStringLiteral("voice");
  QString humidity = QStringLiteral("humidity");
  QString noOutput = QStringLiteral("none");         // an output's list item "Brak"
  // Items are named by the window's captions of their fields rather than by the file's own
  // (English) descriptions.
  bool captions = false;
};

// How a text item is shown, quotes included.
using TextQuoter = std::function<QString(const Bytes&)>;
// The text in double quotes, as it is.
QString quotedText(const Bytes& text);

// The value of a one-value item (text, number, list choice, sensor byte) in words.
QString configValueText(const ConfigItem& item, const Bytes& value, const TextQuoter& quote = quotedText,
                        const ConfigWords& words = {});

// One line per item (the matrix takes a line per event source); magic and check byte left out.
QStringList describeConfig(const ConfigValues& values, const TextQuoter& quote = quotedText,
                           const ConfigWords& words = {});

// What a person reads for an item's field: the window's caption of the field when words.captions
// (the fallback, else the field's name, when it has none), else the fallback.
QString configCaption(const char* field, const char* fallback, const ConfigWords& words);

}  // namespace dovu

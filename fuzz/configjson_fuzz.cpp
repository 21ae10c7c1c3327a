// Reads arbitrary text as the JSON form of a configuration.  A refused text says why.  An accepted one must give a configuration file, and what the tool writes from it
// must read back to the same JSON and the same file bytes, and the file must hold the same values.
#include <cstdint>
#include <cstdlib>

#include <QJsonObject>

#include "storage/configfile.h"
#include "storage/configjson.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString why;
  const auto read = dovu::configFromJsonText(text, &why);
  if (!read) {
    if (why.isEmpty()) std::abort();
    return 0;
  }
  const dovu::Configuration& config = *read;
  // Every value the reader takes fits the file: nothing wraps, nothing is cut.
  const auto file = dovu::buildConfigFile(config, &why);
  if (!file) std::abort();

  // The file holds every value the JSON gave: a number field's byte is its number, not its low
  // byte, and every text is kept whole.
  const auto fromFile = dovu::readConfigFile(*file);
  if (!fromFile) std::abort();
  const QJsonObject given = dovu::configToJson(config), kept = dovu::configToJson(*fromFile);
  for (auto it = given.begin(); it != given.end(); ++it) {
    const QJsonValue k = kept.value(it.key());
    // A number given as digits ("05") comes back as the number itself.
    const bool digits = it.value().isString() && k.isDouble();
    if (digits ? it.value().toString().toInt() != k.toInt() : it.value() != k) std::abort();
  }

  // The tool writes a meta object beside the fields; reading takes nothing from it.
  const QJsonObject meta = dovu::configMeta({QStringLiteral("DOVU v 2.3"), QStringLiteral("/dev/ttyUSB0")},
                                            QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
  const QByteArray written = dovu::configToJsonText(config, meta);
  const auto again = dovu::configFromJsonText(written, &why);
  if (!again) std::abort();
  if (dovu::configToJsonText(*again, meta) != written) std::abort();
  if (dovu::buildConfigFile(*again, &why) != file) std::abort();
  return 0;
}

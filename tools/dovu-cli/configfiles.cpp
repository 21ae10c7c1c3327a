#include "configfiles.h"

#include <QFileInfo>

#include "cli.h"
#include "wording.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/configjson.h"
#include "storage/fieldnames.h"

namespace dovu::cli {

ConfigFormat configFormatOf(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toLower();
  if (ext == QLatin1String("dvc")) return ConfigFormat::Dvc;
  if (ext == QLatin1String("json")) return ConfigFormat::Json;
  return ConfigFormat::Unknown;
}

QString unsupportedFormat(const QString& path) {
  return QStringLiteral("%1: unsupported file type (expected .dvc or .json)").arg(displayName(path));
}

std::optional<Configuration> readConfigAny(const QString& path, QString* error) {
  const ConfigFormat format = configFormatOf(path);
  if (format == ConfigFormat::Unknown) {
    *error = unsupportedFormat(path);
    return std::nullopt;
  }
  QString why;
  bool tooLarge = false;
  Problem cause;
  const auto data = readWholeFile(path, nullptr, &tooLarge, &cause);
  if (!data) {
    *error = tooLarge ? englishLine(Problem{Cause::BadFormat, Cause::FileTooLarge, displayName(path),
                                            {QString::number(kFileBufferSize)}, {}})
                      : QStringLiteral("%1: %2").arg(englishText(Cause::CannotRead), englishFileReason(cause));
    return std::nullopt;
  }
  if (format == ConfigFormat::Dvc) {
    Notices notices;
    if (auto c = readConfigFile(*data, &notices)) return c;
    *error = QStringLiteral("%1: %2").arg(displayName(path), englishList(notices));
    return std::nullopt;
  }
  auto c = configFromJsonText(QByteArray(data->data(), static_cast<qsizetype>(data->size())), &why);
  if (!c) *error = QStringLiteral("%1: %2").arg(displayName(path), why);
  return c;
}

bool writeConfigAny(const QString& path, const Configuration& c, QString* error) {
  Bytes data;
  Problem why;
  switch (configFormatOf(path)) {
    case ConfigFormat::Dvc: {
      const auto file = buildConfigFile(c, nullptr, &why);
      if (!file) {
        *error = QStringLiteral("%1: %2").arg(displayName(path), englishReason(why));
        return false;
      }
      data = *file;
      break;
    }
    case ConfigFormat::Json: {
      const QByteArray text = configToJsonText(c, configMeta({c.firmware, c.port}));
      data.assign(text.constData(), static_cast<std::size_t>(text.size()));
      break;
    }
    case ConfigFormat::Unknown:
      *error = unsupportedFormat(path);
      return false;
  }
  if (saveFileAtomically(path, data, nullptr, {}, &why)) return true;
  *error = englishFileReason(why);
  return false;
}

std::optional<ConfigValues> fileItemsOf(const Configuration& c, QString* error) {
  Problem why;
  auto values = configValuesOf(c, nullptr, &why);
  if (!values && error) *error = englishReason(why);
  return values;
}

QStringList configNormalisations(const Bytes& file, const Configuration& c) {
  QString why;
  const auto original = parseConfigFile(file, &why);
  const auto rebuilt = configValuesOf(c, &why);
  QStringList lines;
  if (!original || !rebuilt) return lines;
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ConfigItem& it = items[i];
    const Bytes& was = original->values[i];
    const Bytes& now = rebuilt->values[i];
    if (was == now || it.form == ConfigItemForm::Checksum) continue;
    const unsigned before = was.empty() ? 0 : byteAt(was, 0);
    const unsigned after = now.empty() ? 0 : byteAt(now, 0);
    if (it.form == ConfigItemForm::Choice) {
      lines << QStringLiteral("item %1 (%2): list index %3 is beyond the list and becomes %4 (no selection)")
                   .arg(it.number).arg(formatOneName(QString::fromLatin1(it.field))).arg(before).arg(after);
    } else if (it.form == ConfigItemForm::Flags) {
      lines << QStringLiteral("item %1 (%2): bits without a check box (mask %3) are cleared")
                   .arg(it.number).arg(QString::fromUtf8(it.description))
                   .arg(QStringLiteral("%1").arg(before ^ after, 2, 16, QLatin1Char('0')).toUpper());
    } else {
      lines << QStringLiteral("item %1 (%2) is not kept as it was").arg(it.number).arg(QString::fromUtf8(it.description));
    }
  }
  return lines;
}

}  // namespace dovu::cli

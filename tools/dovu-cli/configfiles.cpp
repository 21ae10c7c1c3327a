#include "configfiles.h"

#include <QFileInfo>

#include "cli.h"
#include "wording.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/configjson.h"

namespace dovu::cli {

namespace {
// Collects what the file checks would have shown in boxes into one line.
class CollectingNotifier : public Notifier {
 public:
  void beep() override {}
  void message(MessageKind, const QString& text, const QString& detail) override {
    if (!line.isEmpty()) line += QStringLiteral("; ");
    line += text;
    if (!detail.isEmpty()) line += QStringLiteral(" (") + detail + QLatin1Char(')');
  }
  void report(MessageKind kind, const Problem& problem) override {
    message(kind, englishText(problem.cause), englishReason(problem));
  }
  QString line;
};

}  // namespace

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
  const auto data = readWholeFile(path, &why, &tooLarge);
  if (!data) {
    *error = tooLarge ? englishLine(Problem{Cause::BadFormat, Cause::FileTooLarge, displayName(path),
                                            {QString::number(kFileBufferSize)}, {}})
                      : QStringLiteral("%1: %2").arg(englishText(Cause::CannotRead), why);
    return std::nullopt;
  }
  if (format == ConfigFormat::Dvc) {
    CollectingNotifier n;
    if (auto c = readConfigFile(*data, n)) return c;
    *error = QStringLiteral("%1: %2").arg(displayName(path), n.line);
    return std::nullopt;
  }
  auto c = configFromJsonText(QByteArray(data->data(), static_cast<qsizetype>(data->size())), &why);
  if (!c) *error = QStringLiteral("%1: %2").arg(displayName(path), why);
  return c;
}

bool writeConfigAny(const QString& path, const Configuration& c, QString* error) {
  Bytes data;
  QString why;
  switch (configFormatOf(path)) {
    case ConfigFormat::Dvc: {
      const auto file = buildConfigFile(c, &why);
      if (!file) {
        *error = QStringLiteral("%1: %2").arg(displayName(path), why);
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
  return saveFileAtomically(path, data, error);
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
                   .arg(it.number).arg(QLatin1String(it.field)).arg(before).arg(after);
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

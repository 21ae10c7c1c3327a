#include "configfiles.h"

#include <QFileInfo>

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
  return QStringLiteral("%1: unsupported file type (expected .dvc or .json)").arg(path);
}

bool readConfigAny(const QString& path, Form& form, QString* error) {
  switch (configFormatOf(path)) {
    case ConfigFormat::Dvc: {
      CollectingNotifier n;
      if (loadConfigFile(form, path, n)) return true;
      *error = QStringLiteral("%1: %2").arg(path, n.line);
      return false;
    }
    case ConfigFormat::Json: {
      QString why;
      const auto data = readWholeFile(path, &why);
      if (!data) {
        *error = why;
        return false;
      }
      if (!configFromJsonText(form, QByteArray(data->data(), static_cast<qsizetype>(data->size())), &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
      }
      return true;
    }
    case ConfigFormat::Unknown:
      break;
  }
  *error = unsupportedFormat(path);
  return false;
}

bool writeConfigAny(const QString& path, const Form& form, QString* error) {
  Bytes data;
  QString why;
  switch (configFormatOf(path)) {
    case ConfigFormat::Dvc: {
      const auto file = buildConfigFile(form, &why);
      if (!file) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
      }
      data = *file;
      break;
    }
    case ConfigFormat::Json: {
      const QByteArray text = configToJsonText(form);
      data.assign(text.constData(), static_cast<std::size_t>(text.size()));
      break;
    }
    case ConfigFormat::Unknown:
      *error = unsupportedFormat(path);
      return false;
  }
  if (!saveFileAtomically(path, data, &why)) {
    *error = why;
    return false;
  }
  return true;
}

}  // namespace dovu::cli

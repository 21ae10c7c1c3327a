// show / convert / diff: configuration files (.dvc, .json) and controllers, item by item in the
// order of the configuration file.
#include <QFileInfo>
#include <cstdio>
#include <memory>

#include "cli.h"
#include "configfiles.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "model/cp1250.h"
#include "model/matrix.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/configjson.h"

namespace dovu::cli {

namespace {

using F = ConfigItemForm;

void out(const QString& line) { std::printf("%s\n", line.toUtf8().constData()); }

// Event sources of the matrix image, in image order (two bytes each: SMS, voice).
constexpr const char* kImageSources[] = {"IN1", "IN2", "IN3", "IN4", "IN5", "T1",
                                         "T2",  "EX",  "DC",  "T3",  "humidity"};

QString phonesOf(std::uint8_t mask) {
  QStringList p;
  for (int c = 1; c <= 8; ++c)
    if (mask & (0x80 >> (c - 1))) p << QString::number(c);
  return p.isEmpty() ? QStringLiteral("-") : p.join(QLatin1Char(' '));
}

QString quoted(const Bytes& text) { return QLatin1Char('"') + fromCp1250(text) + QLatin1Char('"'); }

QString choiceText(const char* field, std::uint8_t index) {
  const QStringList items = Form::items(Form::idOf(field));
  if (index < items.size()) return QStringLiteral("%1 (%2)").arg(index).arg(items.at(index));
  return QStringLiteral("none");
}

QString sensorValue(SensorByte b, std::uint8_t v) {
  const SensorInfo& s = sensorTable()[static_cast<std::size_t>(b)];
  return QStringLiteral("%1 (%2)").arg(v).arg(sensorText(s.encoding, v));
}

// The value of a one-value item in words.
QString valueText(const ConfigItem& it, const Bytes& v) {
  switch (it.form) {
    case F::Text: return quoted(v);
    case F::Number: return QString::number(byteAt(v, 0));
    case F::Choice: return choiceText(it.field, byteAt(v, 0));
    case F::Sensor: return sensorValue(it.sensor, byteAt(v, 0));
    default: return {};
  }
}

QString itemHead(const ConfigItem& it) {
  return QStringLiteral("%1  %2").arg(it.number, 2).arg(QString::fromUtf8(it.description), -30);
}

void describe(const ConfigValues& values) {
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ConfigItem& it = items[i];
    const Bytes& v = values.values[i];
    switch (it.form) {
      case F::Magic:
      case F::Checksum:
        break;
      case F::Matrix:
        out(itemHead(it).trimmed() + QStringLiteral(" (telephones told)"));
        for (std::size_t s = 0; s < std::size(kImageSources); ++s)
          out(QStringLiteral("      %1 %2 voice: %3")
                  .arg(QString::fromLatin1(kImageSources[s]), -9)
                  .arg(QStringLiteral("SMS: ") + phonesOf(byteAt(v, 2 * s)), -21)
                  .arg(phonesOf(byteAt(v, 2 * s + 1))));
        break;
      case F::Flags: {
        QStringList boxes;
        for (int bit = 7; bit >= 0; --bit)
          if (const char* box = it.bits[static_cast<std::size_t>(bit)])
            boxes << QStringLiteral("%1 %2").arg(QString::fromLatin1(box),
                                                  (byteAt(v, 0) >> bit) & 1 ? QStringLiteral("yes") : QStringLiteral("no"));
        out(itemHead(it) + QLatin1Char(' ') + boxes.join(QStringLiteral(", ")));
        break;
      }
      case F::Sensor:
        out(itemHead(it) + QStringLiteral(" %1 %2")
                               .arg(QStringLiteral("SensorSettings.") + QString::fromLatin1(it.field).mid(5), -26)
                               .arg(valueText(it, v)));
        break;
      default:
        out(itemHead(it) + QStringLiteral(" %1 %2").arg(QString::fromLatin1(it.field), -26).arg(valueText(it, v)));
        break;
    }
  }
}

// One side of a diff: a file, or "port:DEVICE" for the configuration a controller holds.
std::optional<ConfigValues> readSide(const QString& side, const QString& password, bool trace, QString* error) {
  if (!side.startsWith(QLatin1String("port:"))) {
    Form form;
    if (!readConfigAny(side, form, error)) return std::nullopt;
    return configFromForm(form, error);
  }
  const QString port = side.mid(5);
  Controller c(port, password, trace);
  Dispatcher dispatcher(c.form);
  dispatcher.attach(*c.link);
  if (!c.login()) {
    *error = QStringLiteral("%1: no configuration read").arg(port);
    return std::nullopt;
  }
  ConfigTransfer transfer(c.form, *c.link, *c.session);
  const bool ok = transfer.download();
  c.session->liveOff();
  if (!ok) {
    *error = QStringLiteral("%1: the download stopped, no answer from the controller").arg(port);
    return std::nullopt;
  }
  c.logout();
  return configFromForm(c.form, error);
}

}  // namespace

int cmdShow(Args& a) {
  const bool json = a.flag(QStringLiteral("--json"));
  if (a.rest().size() != 1 || a.unknownOption()) {
    err(QStringLiteral("usage: show FILE.dvc|FILE.json [--json]"));
    return kUsage;
  }
  Form form;
  QString why;
  if (!readConfigAny(a.rest().first(), form, &why)) {
    err(why);
    return kFailure;
  }
  if (json) {
    std::fputs(configToJsonText(form).constData(), stdout);
    return kOk;
  }
  const auto values = configFromForm(form, &why);
  if (!values) {
    err(why);
    return kFailure;
  }
  describe(*values);
  return kOk;
}

int cmdConvert(Args& a) {
  if (a.rest().size() != 2 || a.unknownOption()) {
    err(QStringLiteral("usage: convert IN OUT   (each .dvc or .json)"));
    return kUsage;
  }
  const QString in = a.rest().at(0), outPath = a.rest().at(1);
  if (configFormatOf(outPath) == ConfigFormat::Unknown) {
    err(unsupportedFormat(outPath));
    return kUsage;
  }
  Form form;
  QString why;
  if (!readConfigAny(in, form, &why)) {
    err(why);
    return kFailure;
  }
  // A .dvc file carries nothing beyond its fields, except bits without meaning in the flag bytes:
  // say so when the fields do not give the same bytes back.
  if (configFormatOf(in) == ConfigFormat::Dvc) {
    const auto original = readWholeFile(in, &why);
    const auto rebuilt = buildConfigFile(form, &why);
    if (original && rebuilt && *original != *rebuilt)
      err(QStringLiteral("%1: bits without meaning in the flag bytes are not kept").arg(in));
  }
  if (!writeConfigAny(outPath, form, &why)) {
    err(why);
    return kFailure;
  }
  return kOk;
}

int cmdDiff(Args& a) {
  const QString password = a.option(QStringLiteral("--password")).value_or(QStringLiteral("8617"));
  const bool trace = a.flag(QStringLiteral("--trace"));
  if (a.rest().size() != 2 || a.unknownOption()) {
    err(QStringLiteral("usage: diff A B [--password N]   (A, B: FILE.dvc, FILE.json or port:DEVICE)"));
    return kUsage;
  }
  QString why;
  const auto va = readSide(a.rest().at(0), password, trace, &why);
  const auto vb = va ? readSide(a.rest().at(1), password, trace, &why) : std::nullopt;
  if (!va || !vb) {
    err(why);
    return kUsage;  // trouble, as diff(1) has it
  }

  int differences = 0;
  auto line = [&](const QString& name, const QString& x, const QString& y) {
    out(QStringLiteral("%1: %2 | %3").arg(name, x, y));
    ++differences;
  };
  const auto yesNo = [](bool on) { return on ? QStringLiteral("yes") : QStringLiteral("no"); };
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ConfigItem& it = items[i];
    const Bytes& x = va->values[i];
    const Bytes& y = vb->values[i];
    if (x == y) continue;
    switch (it.form) {
      case F::Magic:
      case F::Checksum:
        break;
      case F::Matrix: {
        const auto& cells = matrixCellsInImageOrder();
        for (std::size_t c = 0; c < cells.size(); ++c) {
          const bool cx = (byteAt(x, c / 8) >> (7 - c % 8)) & 1;
          const bool cy = (byteAt(y, c / 8) >> (7 - c % 8)) & 1;
          if (cx != cy) line(QString::fromLatin1(cells[c]), yesNo(cx), yesNo(cy));
        }
        break;
      }
      case F::Flags:
        for (int bit = 7; bit >= 0; --bit) {
          const char* box = it.bits[static_cast<std::size_t>(bit)];
          const bool bx = (byteAt(x, 0) >> bit) & 1, by = (byteAt(y, 0) >> bit) & 1;
          if (box && bx != by) line(QString::fromLatin1(box), yesNo(bx), yesNo(by));
        }
        break;
      case F::Sensor:
        line(QStringLiteral("SensorSettings.") + QString::fromLatin1(it.field).mid(5), valueText(it, x), valueText(it, y));
        break;
      default:
        line(QString::fromLatin1(it.field), valueText(it, x), valueText(it, y));
        break;
    }
  }
  return differences ? kFailure : kOk;
}

}  // namespace dovu::cli

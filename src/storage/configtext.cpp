#include "storage/configtext.h"

#include "model/cp1250.h"
#include "model/configuration.h"
#include "model/sensors.h"
#include "storage/fieldnames.h"

namespace dovu {

namespace {

using F = ConfigItemForm;

// Event sources of the matrix image, in image order (two bytes each: SMS, voice).
constexpr const char* kImageSources[] = {"IN1", "IN2", "IN3", "IN4", "IN5", "T1",
                                         "T2",  "EX",  "DC",  "T3",  nullptr /* humidity */};

QString phonesOf(std::uint8_t mask) {
  QStringList p;
  for (int c = 1; c <= 8; ++c)
    if (mask & (0x80 >> (c - 1))) p << QString::number(c);
  return p.isEmpty() ? QStringLiteral("-") : p.join(QLatin1Char(' '));
}

// The item of the list an output's drivenBy indexes (the only list a configuration holds).
QString choiceText(std::uint8_t index, const ConfigWords& words) {
  if (index >= std::size(kDrivenByItems)) return words.none;
  // The list holds the window's words; the one that is a word rather than a name is told in words' own.
  const QString item = index == 0 ? words.noOutput : QString::fromUtf8(kDrivenByItems[index]);
  return QStringLiteral("%1 (%2)").arg(index).arg(item);
}

QString sensorValue(SensorByte b, std::uint8_t v) {
  const SensorInfo& s = sensorTable()[static_cast<std::size_t>(b)];
  return QStringLiteral("%1 (%2)").arg(v).arg(sensorText(s.encoding, v));
}

QString itemHead(const ConfigItem& it, const ConfigWords& words) {
  const QString name = words.captions && it.field && it.form != F::Flags && it.form != F::Matrix
                           ? configCaption(it.field, it.description, words)
                           : QString::fromUtf8(it.description);
  return QStringLiteral("%1  %2").arg(it.number, 2).arg(name, -30);
}

}  // namespace

QString configCaption(const char* field, const char* fallback, const ConfigWords& words) {
  if (words.captions && field) {
    const ConfigField* f = configFieldNamed(QString::fromLatin1(field));
    if (f && !f->caption.isEmpty()) return f->caption;
  }
  return fallback ? QString::fromUtf8(fallback) : formatOneName(QString::fromLatin1(field));
}

QString quotedText(const Bytes& text) { return QLatin1Char('"') + fromCp1250(text) + QLatin1Char('"'); }

QString configValueText(const ConfigItem& it, const Bytes& v, const TextQuoter& quote, const ConfigWords& words) {
  switch (it.form) {
    case F::Text: return quote(v);
    case F::Number: return QString::number(byteAt(v, 0));
    case F::Choice: return choiceText(byteAt(v, 0), words);
    case F::Sensor: return sensorValue(it.sensor, byteAt(v, 0));
    default: return {};
  }
}

QStringList describeConfig(const ConfigValues& values, const TextQuoter& quote, const ConfigWords& words) {
  QStringList lines;
  auto out = [&lines](const QString& line) { lines << line; };
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const ConfigItem& it = items[i];
    const Bytes& v = values.values[i];
    switch (it.form) {
      case F::Magic:
      case F::Checksum:
        break;
      case F::Matrix:
        out(itemHead(it, words).trimmed() + QStringLiteral(" (%1)").arg(words.telephonesTold));
        for (std::size_t s = 0; s < std::size(kImageSources); ++s)
          out(QStringLiteral("      %1 %2 %3: %4")
                  .arg(kImageSources[s] ? QString::fromLatin1(kImageSources[s]) : words.humidity, -9)
                  .arg(QStringLiteral("SMS: ") + phonesOf(byteAt(v, 2 * s)), -21)
                  .arg(words.voice, phonesOf(byteAt(v, 2 * s + 1))));
        break;
      case F::Flags: {
        QStringList boxes;
        for (int bit = 7; bit >= 0; --bit)
          if (const char* box = it.bits[static_cast<std::size_t>(bit)])
            boxes << QStringLiteral("%1 %2").arg(formatOneName(QString::fromLatin1(box)),
                                                  (byteAt(v, 0) >> bit) & 1 ? words.on : words.off);
        out(itemHead(it, words) + QLatin1Char(' ') + boxes.join(QStringLiteral(", ")));
        break;
      }
      case F::Sensor:
        out(itemHead(it, words) + QStringLiteral(" %1 %2")
                                      .arg(QStringLiteral("SensorSettings.") + formatOneName(QString::fromLatin1(it.field)).mid(5), -26)
                                      .arg(configValueText(it, v, quote, words)));
        break;
      default:
        out(itemHead(it, words) + QStringLiteral(" %1 %2")
                                      .arg(formatOneName(QString::fromLatin1(it.field)), -26)
                                      .arg(configValueText(it, v, quote, words)));
        break;
    }
  }
  return lines;
}

}  // namespace dovu

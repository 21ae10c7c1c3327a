#include "storage/configdiff.h"

#include <algorithm>

#include "model/params.h"
#include "storage/configjson.h"
#include "storage/fieldnames.h"

namespace dovu {

namespace {

using F = ConfigItemForm;

// A field's label where it has one; otherwise the item's description or the field's name.
QString captionOf(const char* field, const char* fallback) {
  ConfigWords captions;
  captions.captions = true;
  return configCaption(field, fallback, captions);
}

}  // namespace

std::vector<FieldDifference> diffConfigs(const ConfigValues& a, const ConfigValues& b, const TextQuoter& quote,
                                         const ConfigWords& words) {
  std::vector<FieldDifference> out;
  const auto onOff = [&](bool on) { return on ? words.on : words.off; };
  const auto& items = configItems();
  for (std::size_t i = 0; i < items.size() && i < a.values.size() && i < b.values.size(); ++i) {
    const ConfigItem& it = items[i];
    const Bytes& x = a.values[i];
    const Bytes& y = b.values[i];
    if (x == y) continue;
    switch (it.form) {
      case F::Magic:
      case F::Checksum:
        break;
      case F::Matrix: {
        const auto& cells = matrixFieldsInImageOrder();
        for (std::size_t c = 0; c < cells.size(); ++c) {
          const bool cx = (byteAt(x, c / 8) >> (7 - c % 8)) & 1;
          const bool cy = (byteAt(y, c / 8) >> (7 - c % 8)) & 1;
          if (cx != cy) {
            const QString name = formatOneName(QString::fromLatin1(cells[c]));
            out.push_back({name, name, captionOf(cells[c], it.description), onOff(cx), onOff(cy)});
          }
        }
        break;
      }
      case F::Flags:
        for (int bit = 7; bit >= 0; --bit) {
          const char* box = it.bits[static_cast<std::size_t>(bit)];
          const bool bx = (byteAt(x, 0) >> bit) & 1, by = (byteAt(y, 0) >> bit) & 1;
          if (box && bx != by) {
            const QString name = formatOneName(QString::fromLatin1(box));
            out.push_back({name, name, captionOf(box, it.description), onOff(bx), onOff(by)});
          }
        }
        break;
      case F::Sensor: {
        const QString name = formatOneName(QString::fromLatin1(it.field));
        out.push_back({QStringLiteral("SensorSettings.") + name.mid(5), name, configCaption(it.field, it.description, words),
                       configValueText(it, x, quote, words), configValueText(it, y, quote, words)});
        break;
      }
      default: {
        const QString name = formatOneName(QString::fromLatin1(it.field));
        out.push_back({name, name, captionOf(it.field, it.description), configValueText(it, x, quote, words),
                       configValueText(it, y, quote, words)});
        break;
      }
    }
  }
  return out;
}

std::optional<std::vector<std::size_t>> paramsHolding(const QStringList& fields, QString* error) {
  const auto& table = paramTable();
  std::vector<std::size_t> chosen;
  for (const QString& raw : fields) {
    // A field by its JSON name in either format (or a group of them), or as diff prints it.
    const std::vector<const ConfigField*> named = configFieldsNamed(raw);
    if (named.empty()) {
      if (error) *error = QStringLiteral("%1 is no field (see 'dovu-cli show' for the names)").arg(raw);
      return std::nullopt;
    }
    for (const ConfigField* f : named) {
      const ParamDef* p = parameterOf(*f);
      if (!p) {
        if (error) *error = QStringLiteral("%1 is not kept by the controller").arg(raw);
        return std::nullopt;
      }
      const auto k = static_cast<std::size_t>(p - table.data());
      if (std::find(chosen.begin(), chosen.end(), k) == chosen.end()) chosen.push_back(k);
    }
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

QStringList fieldsOfParam(std::size_t param) {
  QStringList names;
  if (param >= paramTable().size()) return names;
  for (const ConfigField* f : parameterFields(paramTable()[param])) names << QString::fromLatin1(formatOneName(*f));
  return names;
}

}  // namespace dovu

#include "storage/configjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QHash>
#include <QSet>
#include <cmath>
#include <variant>

#include "dovu/version.h"
#include "model/cp1250.h"
#include "storage/fieldnames.h"
#include "model/params.h"

namespace dovu {

namespace {

const QString kSensorKey = QStringLiteral("SensorSettings");
const QString kMetaKey = QStringLiteral("meta");
const QString kFormatKey = QStringLiteral("format");
constexpr int kFormat = 2;

enum class Type { String, Number, Bool, Index };

// A format-1 entry: the window's name of the field.
struct JsonField {
  const ConfigField* field;
  QString name;
  Type type;
};

Type typeOf(ConfigFieldType t) {
  switch (t) {
    case ConfigFieldType::Text: return Type::String;
    case ConfigFieldType::Number:
    case ConfigFieldType::Byte: return Type::Number;
    case ConfigFieldType::Flag: return Type::Bool;
    case ConfigFieldType::Choice: return Type::Index;
  }
  return Type::String;
}

// Every format-1 field outside SensorSettings, in load order: the access password, then the
// parameters in table order.
const std::vector<JsonField>& jsonFields() {
  static const std::vector<JsonField> fields = [] {
    std::vector<JsonField> f;
    for (const ConfigField& c : configFields())
      if (c.type != ConfigFieldType::Byte) f.push_back({&c, QString::fromLatin1(formatOneName(c)), typeOf(c.type)});
    return f;
  }();
  return fields;
}

// "Edit_T1Min" -> "T1Min", in block order.
QString sensorName(const SensorInfo& s) { return formatOneName(QString::fromLatin1(s.name)).mid(5); }

std::optional<int> wholeNumber(const QJsonValue& v, int min, int max) {
  if (!v.isDouble()) return std::nullopt;
  const double d = v.toDouble();
  if (d != std::floor(d) || d < min || d > max) return std::nullopt;
  return static_cast<int>(d);
}

QString typeName(const QJsonValue& v) {
  switch (v.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a boolean");
    case QJsonValue::Double: return QStringLiteral("the number %1").arg(v.toDouble());
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: break;
  }
  return QStringLiteral("nothing");
}

// A text the configuration file can hold: at most 255 characters, every one in Windows-1250.  A
// text longer than the field's own limit (it came from a file or the controller) is kept, so that
// every configuration file converts to JSON and back unchanged.
std::optional<QString> checkText(const QString& name, const QString& t) {
  constexpr int limit = 255;
  if (t.size() > limit)
    return QStringLiteral("%1: \"%2\" is longer than %3 characters").arg(name, t).arg(limit);
  for (QChar c : t)
    if (!inCp1250(c))
      return QStringLiteral("%1: the character U+%2 has no Windows-1250 byte")
          .arg(name)
          .arg(c.unicode(), 4, 16, QLatin1Char('0'));
  return std::nullopt;
}

// A number field travels as one byte: as a JSON number or as a string of decimal digits, its
// value must fit that byte, or the file would convert and upload as some other number.
std::optional<int> numberFromText(const QString& name, const QString& t, QString* why) {
  int n = t.isEmpty() || t.size() > 9 ? -1 : 0;
  for (const QChar c : t)
    if (n >= 0) n = c >= u'0' && c <= u'9' ? n * 10 + (c.unicode() - u'0') : -1;
  if (n < 0 || n > 255) {
    *why = QStringLiteral("%1: \"%2\" is not a whole number 0..255").arg(name, t);
    return std::nullopt;
  }
  return n;
}

// Qt's parser keeps the last of two equal names in an object; a file holding both says two things
// at once, so it is refused.  The text has parsed already, so strings and brackets are well formed.
std::optional<QString> firstDuplicateName(const QByteArray& text) {
  struct Level {
    bool object;
    bool expectName;
    QSet<QString> names;
  };
  std::vector<Level> stack;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text.at(i);
    if (c == '"') {
      qsizetype end = i + 1;
      while (end < text.size() && text.at(end) != '"') end += text.at(end) == '\\' ? 2 : 1;
      if (!stack.empty() && stack.back().object && stack.back().expectName) {
        // The parser decodes the escapes, so "\u0041" and "A" are the same name.
        const QByteArray raw = text.mid(i + 1, end - i - 1);
        const QString name = raw.contains('\\')
                                 ? QJsonDocument::fromJson('[' + text.mid(i, end - i + 1) + ']').array().at(0).toString()
                                 : QString::fromUtf8(raw);
        if (stack.back().names.contains(name)) return name;
        stack.back().names.insert(name);
        stack.back().expectName = false;
      }
      i = end;
    } else if (c == '{' || c == '[') {
      stack.push_back({c == '{', c == '{', {}});
    } else if (c == '}' || c == ']') {
      if (!stack.empty()) stack.pop_back();
    } else if (c == ',' && !stack.empty() && stack.back().object) {
      stack.back().expectName = true;
    }
  }
  return std::nullopt;
}

// ---- format 2 ----------------------------------------------------------------------------------------

// A name as its steps: an object's member, or an array's element.
using Step = std::variant<QString, int>;

std::vector<Step> stepsOf(const QString& name) {
  std::vector<Step> steps;
  for (const QString& part : name.split(QLatin1Char('.'))) {
    const qsizetype open = part.indexOf(QLatin1Char('['));
    steps.emplace_back(open < 0 ? part : part.left(open));
    if (open >= 0) steps.emplace_back(part.mid(open + 1, part.size() - open - 2).toInt());
  }
  return steps;
}

QJsonValue withValue(const QJsonValue& node, const std::vector<Step>& steps, std::size_t i, const QJsonValue& v) {
  if (i == steps.size()) return v;
  if (const auto* key = std::get_if<QString>(&steps[i])) {
    QJsonObject o = node.toObject();
    o.insert(*key, withValue(o.value(*key), steps, i + 1, v));
    return o;
  }
  const int index = std::get<int>(steps[i]);
  QJsonArray a = node.toArray();
  while (a.size() <= index) a.append(QJsonValue());
  a.replace(index, withValue(a.at(index), steps, i + 1, v));
  return a;
}

// Every value that is no object or array by its full name ("inputs[2].alarmText"), and every empty
// object or array, which holds no field either.
void flatten(const QJsonValue& v, const QString& name, QHash<QString, QJsonValue>& out) {
  if (v.isObject() && !v.toObject().isEmpty()) {
    const QJsonObject o = v.toObject();
    for (auto it = o.begin(); it != o.end(); ++it)
      flatten(it.value(), name.isEmpty() ? it.key() : name + QLatin1Char('.') + it.key(), out);
  } else if (v.isArray() && !v.toArray().isEmpty()) {
    const QJsonArray a = v.toArray();
    for (qsizetype i = 0; i < a.size(); ++i) flatten(a.at(i), QStringLiteral("%1[%2]").arg(name).arg(i), out);
  } else {
    out.insert(name, v);
  }
}

QJsonValue jsonValueOf(const Configuration& c, const ConfigField& f) {
  const ConfigValue v = configValue(c, f);
  switch (f.type) {
    case ConfigFieldType::Text: return std::get<QString>(v);
    case ConfigFieldType::Flag: return std::get<bool>(v);
    case ConfigFieldType::Number: {
      const int n = std::get<int>(v);
      return n < 0 ? QJsonValue() : QJsonValue(n);
    }
    case ConfigFieldType::Choice:
    case ConfigFieldType::Byte: return std::get<int>(v);
  }
  return {};
}

// The value of one field as format 2 gives it; nullopt with the reason.
std::optional<ConfigValue> fieldFromJson(const ConfigField& f, const QJsonValue& v, QString* why) {
  auto fail = [&](const QString& expected) -> std::optional<ConfigValue> {
    *why = QStringLiteral("%1: expected %2, got %3").arg(f.name, expected, typeName(v));
    return std::nullopt;
  };
  switch (f.type) {
    case ConfigFieldType::Text:
      if (!v.isString()) return fail(QStringLiteral("a string"));
      if (auto bad = checkText(f.name, v.toString())) {
        *why = *bad;
        return std::nullopt;
      }
      return v.toString();
    case ConfigFieldType::Flag:
      if (!v.isBool()) return fail(QStringLiteral("true or false"));
      return v.toBool();
    case ConfigFieldType::Number:
      if (v.isNull()) return Configuration::kNoNumber;
      [[fallthrough]];
    case ConfigFieldType::Byte:
      if (const auto n = wholeNumber(v, 0, 255)) return *n;
      return fail(f.type == ConfigFieldType::Number ? QStringLiteral("a whole number 0..255 or null")
                                                    : QStringLiteral("a byte 0..255"));
    case ConfigFieldType::Choice:
      if (const auto n = wholeNumber(v, -1, f.limit - 1)) return *n;
      return fail(QStringLiteral("a list index -1..%1").arg(f.limit - 1));
  }
  return std::nullopt;
}

std::optional<Configuration> fromFormat2(const QJsonObject& json, QString* error) {
  auto fail = [&](const QString& why) -> std::optional<Configuration> {
    if (error) *error = why;
    return std::nullopt;
  };
  QHash<QString, QJsonValue> values;
  for (auto it = json.begin(); it != json.end(); ++it)
    if (it.key() != kMetaKey && it.key() != kFormatKey) flatten(it.value(), it.key(), values);
  Configuration c;
  for (const ConfigField& f : configFields()) {
    const auto it = values.constFind(f.name);
    if (it == values.cend()) return fail(QStringLiteral("%1 is missing").arg(f.name));
    QString why;
    const auto v = fieldFromJson(f, *it, &why);
    if (!v) return fail(why);
    setConfigValue(c, f, *v);
    values.erase(it);
  }
  if (!values.isEmpty()) {
    QStringList unknown = values.keys();
    unknown.sort();
    return fail(QStringLiteral("unknown field %1").arg(unknown.first()));
  }
  const QJsonObject meta = json.value(kMetaKey).toObject();
  for (const auto& [key, member] : {std::pair{QStringLiteral("firmware"), &Configuration::firmware},
                                    std::pair{QStringLiteral("port"), &Configuration::port}}) {
    const QJsonValue v = meta.value(key);
    if (!v.isUndefined() && !v.isString())
      return fail(QStringLiteral("%1.%2: expected a string, got %3").arg(kMetaKey, key, typeName(v)));
    c.*member = v.toString();
  }
  return c;
}

// ---- format 1 ----------------------------------------------------------------------------------------

std::optional<Configuration> fromFormat1(const QJsonObject& json, QString* error) {
  auto fail = [&](const QString& why) -> std::optional<Configuration> {
    if (error) *error = why;
    return std::nullopt;
  };
  Configuration c;
  QStringList known;
  for (const JsonField& f : jsonFields()) {
    known << f.name;
    const QJsonValue v = json.value(f.name);
    if (v.isUndefined()) return fail(QStringLiteral("%1 is missing").arg(f.name));
    QString why;
    switch (f.type) {
      case Type::String:
        if (!v.isString()) return fail(QStringLiteral("%1: expected a string, got %2").arg(f.name, typeName(v)));
        if (auto bad = checkText(f.name, v.toString())) return fail(*bad);
        setConfigValue(c, *f.field, v.toString());
        break;
      case Type::Number:
        if (v.isString()) {
          const auto n = numberFromText(f.name, v.toString(), &why);
          if (!n) return fail(why);
          setConfigValue(c, *f.field, *n);
        } else if (v.isDouble()) {
          const auto n = wholeNumber(v, 0, 255);
          if (!n) return fail(QStringLiteral("%1: %2 is not a whole number 0..255").arg(f.name, typeName(v)));
          setConfigValue(c, *f.field, *n);
        } else {
          return fail(QStringLiteral("%1: expected a number or a string, got %2").arg(f.name, typeName(v)));
        }
        break;
      case Type::Bool:
        if (!v.isBool()) return fail(QStringLiteral("%1: expected true or false, got %2").arg(f.name, typeName(v)));
        setConfigValue(c, *f.field, v.toBool());
        break;
      case Type::Index: {
        const int top = f.field->limit - 1;
        const auto n = wholeNumber(v, -1, top);
        if (!n)
          return fail(QStringLiteral("%1: expected a list index -1..%2, got %3").arg(f.name).arg(top).arg(typeName(v)));
        setConfigValue(c, *f.field, *n);
        break;
      }
    }
  }

  const QJsonValue sv = json.value(kSensorKey);
  if (!sv.isObject()) return fail(QStringLiteral("%1: expected an object of 13 bytes, got %2").arg(kSensorKey, typeName(sv)));
  const QJsonObject so = sv.toObject();
  QStringList sensorNames;
  for (const SensorInfo& s : sensorTable()) {
    const QString name = sensorName(s);
    sensorNames << name;
    const QJsonValue v = so.value(name);
    if (v.isUndefined()) return fail(QStringLiteral("%1.%2 is missing").arg(kSensorKey, name));
    const auto n = wholeNumber(v, 0, 255);
    if (!n) return fail(QStringLiteral("%1.%2: %3 is not a byte 0..255").arg(kSensorKey, name, typeName(v)));
    c.thresholds[s.byte] = static_cast<std::uint8_t>(*n);
  }
  for (auto it = so.begin(); it != so.end(); ++it)
    if (!sensorNames.contains(it.key())) return fail(QStringLiteral("%1: unknown name %2").arg(kSensorKey, it.key()));
  known << kSensorKey << kMetaKey;
  for (auto it = json.begin(); it != json.end(); ++it)
    if (!known.contains(it.key())) return fail(QStringLiteral("unknown field %1").arg(it.key()));
  // Where the file came from says nothing about the configuration.
  return c;
}

}  // namespace

QJsonObject configToJson(const Configuration& c) {
  QJsonValue root = QJsonObject{{kFormatKey, kFormat}};
  for (const ConfigField& f : configFields()) root = withValue(root, stepsOf(f.name), 0, jsonValueOf(c, f));
  return root.toObject();
}

std::optional<Configuration> configFromJson(const QJsonObject& json, QString* error) {
  // Only its type is checked in format 1; format 2 takes the origin from it.
  if (const QJsonValue mv = json.value(kMetaKey); !mv.isUndefined() && !mv.isObject()) {
    if (error) *error = QStringLiteral("%1: expected an object, got %2").arg(kMetaKey, typeName(mv));
    return std::nullopt;
  }
  const QJsonValue format = json.value(kFormatKey);
  if (format.isUndefined()) return fromFormat1(json, error);
  if (wholeNumber(format, kFormat, kFormat)) return fromFormat2(json, error);
  if (error) {
    const auto n = wholeNumber(format, 1, 1000000);
    *error = n && *n > kFormat ? QStringLiteral("%1 %2 is newer than this program reads (%3)").arg(kFormatKey).arg(*n).arg(kFormat)
                               : QStringLiteral("%1: expected %2, got %3").arg(kFormatKey).arg(kFormat).arg(typeName(format));
  }
  return std::nullopt;
}

QByteArray configToJsonText(const Configuration& c, const QJsonObject& meta) {
  QJsonObject o = configToJson(c);
  if (!meta.isEmpty()) o.insert(kMetaKey, meta);
  return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<Configuration> configFromJsonText(const QByteArray& text, QString* error) {
  QJsonParseError pe;
  const QJsonDocument doc = QJsonDocument::fromJson(text, &pe);
  if (pe.error != QJsonParseError::NoError) {
    if (error) *error = QStringLiteral("not valid JSON at offset %1: %2").arg(pe.offset).arg(pe.errorString());
    return std::nullopt;
  }
  if (!doc.isObject()) {
    if (error) *error = QStringLiteral("expected a JSON object");
    return std::nullopt;
  }
  if (const auto name = firstDuplicateName(text)) {
    if (error) *error = QStringLiteral("the name %1 appears twice in one object").arg(*name);
    return std::nullopt;
  }
  return configFromJson(doc.object(), error);
}

std::vector<const ConfigField*> configFieldsNamed(const QString& raw) {
  QString name = raw.trimmed();
  // A threshold as format 1 and diff name it.
  if (name.startsWith(kSensorKey + QLatin1Char('.'))) name = QStringLiteral("Edit_") + name.mid(kSensorKey.size() + 1);
  if (const ConfigField* f = fieldCalled(name)) return {f};
  std::vector<const ConfigField*> group;
  if (name.isEmpty()) return group;
  for (const ConfigField& f : configFields())
    if (f.name.startsWith(name) && (f.name.size() == name.size() || f.name[name.size()] == QLatin1Char('.') ||
                                    f.name[name.size()] == QLatin1Char('[')))
      group.push_back(&f);
  return group;
}

std::optional<ConfigValue> configValueFromText(const ConfigField& f, const QString& text, QString* error) {
  QString why;
  auto fail = [&](const QString& expected) -> std::optional<ConfigValue> {
    if (error) *error = QStringLiteral("%1: \"%2\" is not %3").arg(f.name, text, expected);
    return std::nullopt;
  };
  switch (f.type) {
    case ConfigFieldType::Text:
      if (auto bad = checkText(f.name, text)) {
        if (error) *error = *bad;
        return std::nullopt;
      }
      return text;
    case ConfigFieldType::Number:
    case ConfigFieldType::Byte:
      if (const auto n = numberFromText(f.name, text.trimmed(), &why)) return *n;
      if (error) *error = why;
      return std::nullopt;
    case ConfigFieldType::Flag: {
      const QString t = text.trimmed().toLower();
      if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes")) return true;
      if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no")) return false;
      return fail(QStringLiteral("true or false"));
    }
    case ConfigFieldType::Choice: {
      bool ok = false;
      const int n = text.trimmed().toInt(&ok);
      if (ok && n >= -1 && n < f.limit) return n;
      return fail(QStringLiteral("a list index -1..%1").arg(f.limit - 1));
    }
  }
  return std::nullopt;
}

QJsonObject configMeta(const ConfigOrigin& origin, const QDateTime& when) {
  QJsonObject meta;
  meta.insert(QStringLiteral("date"), when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate));
  meta.insert(QStringLiteral("program"), QStringLiteral("dovu-konfig " DOVU_VERSION));
  if (!origin.firmware.isEmpty()) meta.insert(QStringLiteral("firmware"), origin.firmware);
  if (!origin.port.isEmpty()) meta.insert(QStringLiteral("port"), origin.port);
  return meta;
}

}  // namespace dovu

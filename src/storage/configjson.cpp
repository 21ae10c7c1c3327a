#include "storage/configjson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QSet>
#include <cmath>
#include <variant>

#include "dovu/version.h"
#include "model/cp1250.h"
#include "model/params.h"

namespace dovu {

namespace {

const QString kSensorKey = QStringLiteral("SensorSettings");
const QString kMetaKey = QStringLiteral("meta");

enum class Type { String, Number, Bool, Index };

struct JsonField {
  Form::Id id;
  QString name;
  Type type;
};

// Every stored field in load order: the access password, then the parameters in table order.
// The number fields are the digit fields that travel as bytes inside a block.
const std::vector<JsonField>& jsonFields() {
  static const std::vector<JsonField> fields = [] {
    std::vector<JsonField> f;
    auto add = [&](Form::Id id, bool inBlock) {
      const FieldDef& d = Form::def(id);
      Type t = Type::String;
      if (d.kind == FieldKind::Check) t = Type::Bool;
      else if (d.kind == FieldKind::Choice) t = Type::Index;
      else if (inBlock && d.kind == FieldKind::Digits) t = Type::Number;
      f.push_back({id, QString::fromUtf8(d.name), t});
    };
    add(Form::idOf("Edit_haslo"), false);
    for (const ParamDef& p : paramTable()) {
      if (p.kind == PayloadKind::SensorBlock) continue;  // stored as raw bytes
      for (Form::Id id : paramFields(p)) add(id, p.kind != PayloadKind::Text);
    }
    return f;
  }();
  return fields;
}

// "Edit_T1Min" -> "T1Min", in block order.
QString sensorName(const SensorInfo& s) { return QString::fromUtf8(s.field).mid(5); }

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
std::optional<QString> checkText(const JsonField& f, const QString& t) {
  constexpr int limit = 255;
  if (t.size() > limit)
    return QStringLiteral("%1: \"%2\" is longer than %3 characters").arg(f.name, t).arg(limit);
  for (QChar c : t)
    if (!inCp1250(c))
      return QStringLiteral("%1: the character U+%2 has no Windows-1250 byte")
          .arg(f.name)
          .arg(c.unicode(), 4, 16, QLatin1Char('0'));
  return std::nullopt;
}

using Value = std::variant<QString, bool, int>;

// A number field travels as one byte: as a JSON number or as a string of decimal digits, its
// value must fit that byte, or the file would convert and upload as some other number.
std::optional<QString> checkNumberText(const JsonField& f, const QString& t) {
  const int n = Form::parseNumber(t);
  if (n < 0 || n > 255) return QStringLiteral("%1: \"%2\" is not a whole number 0..255").arg(f.name, t);
  return std::nullopt;
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

}  // namespace

QJsonObject configToJson(const Form& form) {
  QJsonObject o;
  for (const JsonField& f : jsonFields()) {
    const FieldState& s = form.state(f.id);
    switch (f.type) {
      case Type::String:
        o.insert(f.name, s.text);
        break;
      case Type::Number: {
        const int n = Form::parseNumber(s.text);
        // Only the plain decimal form becomes a number, so the text comes back unchanged.
        if (n >= 0 && QString::number(n) == s.text) o.insert(f.name, n);
        else o.insert(f.name, s.text);
        break;
      }
      case Type::Bool:
        o.insert(f.name, s.checked);
        break;
      case Type::Index:
        o.insert(f.name, s.index);
        break;
    }
  }
  QJsonObject sensors;
  for (const SensorInfo& s : sensorTable()) sensors.insert(sensorName(s), form.sensors()[s.byte]);
  o.insert(kSensorKey, sensors);
  return o;
}

bool configFromJson(Form& form, const QJsonObject& json, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };

  // Everything is checked before the first field is written.
  std::vector<Value> values;
  values.reserve(jsonFields().size());
  QStringList known;
  for (const JsonField& f : jsonFields()) {
    known << f.name;
    const QJsonValue v = json.value(f.name);
    if (v.isUndefined()) return fail(QStringLiteral("%1 is missing").arg(f.name));
    switch (f.type) {
      case Type::String:
      case Type::Number:
        if (v.isString()) {
          if (auto why = f.type == Type::Number ? checkNumberText(f, v.toString()) : checkText(f, v.toString()))
            return fail(*why);
          values.emplace_back(v.toString());
        } else if (f.type == Type::Number && v.isDouble()) {
          const auto n = wholeNumber(v, 0, 255);
          if (!n) return fail(QStringLiteral("%1: %2 is not a whole number 0..255").arg(f.name, typeName(v)));
          values.emplace_back(QString::number(*n));
        } else {
          return fail(QStringLiteral("%1: expected %2, got %3")
                          .arg(f.name, f.type == Type::Number ? QStringLiteral("a number or a string")
                                                              : QStringLiteral("a string"),
                               typeName(v)));
        }
        break;
      case Type::Bool:
        if (!v.isBool()) return fail(QStringLiteral("%1: expected true or false, got %2").arg(f.name, typeName(v)));
        values.emplace_back(v.toBool());
        break;
      case Type::Index: {
        const int top = Form::def(f.id).itemCount - 1;
        const auto n = wholeNumber(v, -1, top);
        if (!n)
          return fail(QStringLiteral("%1: expected a list index -1..%2, got %3").arg(f.name).arg(top).arg(typeName(v)));
        values.emplace_back(*n);
        break;
      }
    }
  }

  const QJsonValue sv = json.value(kSensorKey);
  if (!sv.isObject()) return fail(QStringLiteral("%1: expected an object of 13 bytes, got %2").arg(kSensorKey, typeName(sv)));
  const QJsonObject so = sv.toObject();
  SensorSettings sensors;
  QStringList sensorNames;
  for (const SensorInfo& s : sensorTable()) {
    const QString name = sensorName(s);
    sensorNames << name;
    const QJsonValue v = so.value(name);
    if (v.isUndefined()) return fail(QStringLiteral("%1.%2 is missing").arg(kSensorKey, name));
    const auto n = wholeNumber(v, 0, 255);
    if (!n) return fail(QStringLiteral("%1.%2: %3 is not a byte 0..255").arg(kSensorKey, name, typeName(v)));
    sensors[s.byte] = static_cast<std::uint8_t>(*n);
  }
  for (auto it = so.begin(); it != so.end(); ++it)
    if (!sensorNames.contains(it.key())) return fail(QStringLiteral("%1: unknown name %2").arg(kSensorKey, it.key()));
  // Where the file came from says nothing about the configuration; only its type is checked.
  if (const QJsonValue mv = json.value(kMetaKey); !mv.isUndefined() && !mv.isObject())
    return fail(QStringLiteral("%1: expected an object, got %2").arg(kMetaKey, typeName(mv)));
  known << kSensorKey << kMetaKey;
  for (auto it = json.begin(); it != json.end(); ++it)
    if (!known.contains(it.key())) return fail(QStringLiteral("unknown field %1").arg(it.key()));

  // Now write, in load order.
  for (std::size_t i = 0; i < values.size(); ++i) {
    const JsonField& f = jsonFields()[i];
    const Value& v = values[i];
    switch (f.type) {
      case Type::String:
      case Type::Number:
        form.setText(f.id, std::get<QString>(v));
        if (f.name == QLatin1String("Edit_operator")) form.setSmsCentre(std::get<QString>(v));
        break;
      case Type::Bool:
        form.setChecked(f.id, std::get<bool>(v));
        break;
      case Type::Index:
        form.setIndex(f.id, std::get<int>(v));
        break;
    }
  }
  for (const SensorInfo& s : sensorTable()) form.setSensor(s.byte, sensors[s.byte]);
  form.showAllSensors();
  return true;
}

QString firmwareShown(const Form& form) {
  // The label holds its placeholder "DOVU v ..." until a status record gives the version.
  const QString shown = form.state("TextWersja").text;
  return shown == QString::fromUtf8(Form::def(Form::idOf("TextWersja")).defaultText) ? QString() : shown;
}

QJsonObject configMeta(const ConfigOrigin& origin, const QDateTime& when) {
  QJsonObject meta;
  meta.insert(QStringLiteral("date"), when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate));
  meta.insert(QStringLiteral("program"), QStringLiteral("dovu-konfig " DOVU_VERSION));
  if (!origin.firmware.isEmpty()) meta.insert(QStringLiteral("firmware"), origin.firmware);
  if (!origin.port.isEmpty()) meta.insert(QStringLiteral("port"), origin.port);
  return meta;
}

QByteArray configToJsonText(const Form& form) {
  return QJsonDocument(configToJson(form)).toJson(QJsonDocument::Indented);
}

QByteArray configToJsonText(const Form& form, const QJsonObject& meta) {
  QJsonObject o = configToJson(form);
  o.insert(kMetaKey, meta);
  return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool configFromJsonText(Form& form, const QByteArray& text, QString* error) {
  QJsonParseError pe;
  const QJsonDocument doc = QJsonDocument::fromJson(text, &pe);
  if (pe.error != QJsonParseError::NoError) {
    if (error) *error = QStringLiteral("not valid JSON at offset %1: %2").arg(pe.offset).arg(pe.errorString());
    return false;
  }
  if (!doc.isObject()) {
    if (error) *error = QStringLiteral("expected a JSON object");
    return false;
  }
  if (const auto name = firstDuplicateName(text)) {
    if (error) *error = QStringLiteral("the name %1 appears twice in one object").arg(*name);
    return false;
  }
  return configFromJson(form, doc.object(), error);
}

}  // namespace dovu

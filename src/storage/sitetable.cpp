#include "storage/sitetable.h"

#include <QHash>
#include <algorithm>
#include <QJsonValue>
#include <QSet>
#include <QStringDecoder>

#include "model/cp1250.h"
#include "model/form.h"
#include "model/params.h"
#include "model/sensors.h"
#include "storage/configjson.h"

namespace dovu {

namespace {

const QString kSiteColumn = QStringLiteral("site");
const QString kSensorPrefix = QStringLiteral("SensorSettings.");

// The stored fields by name, each with the kind its JSON value has.
const QHash<QString, SiteColumn>& storedFields() {
  static const QHash<QString, SiteColumn> fields = [] {
    QHash<QString, SiteColumn> f;
    const Form::Id password = Form::idOf("Edit_haslo");
    f.insert(QStringLiteral("Edit_haslo"), {QStringLiteral("Edit_haslo"), SiteColumn::Kind::Password, password});
    for (const ParamDef& p : paramTable()) {
      if (p.kind == PayloadKind::SensorBlock) continue;  // raw bytes, named under SensorSettings
      for (const Form::Id id : paramFields(p)) {
        const FieldDef& d = Form::def(id);
        SiteColumn c{QString::fromUtf8(d.name), SiteColumn::Kind::Text, id};
        if (d.kind == FieldKind::Check) c.kind = SiteColumn::Kind::Bool;
        else if (d.kind == FieldKind::Choice) c.kind = SiteColumn::Kind::Index;
        else if (p.kind != PayloadKind::Text && d.kind == FieldKind::Digits) c.kind = SiteColumn::Kind::Number;
        f.insert(c.key, c);
      }
    }
    return f;
  }();
  return fields;
}

std::optional<bool> parseBool(const QString& t) {
  const QString v = t.toLower();
  for (const char* yes : {"1", "true", "yes", "tak", "x"})
    if (v == QLatin1String(yes)) return true;
  for (const char* no : {"0", "false", "no", "nie"})
    if (v == QLatin1String(no)) return false;
  return std::nullopt;
}

std::optional<int> parseWhole(const QString& t, int min, int max) {
  bool ok = false;
  const int n = t.toInt(&ok);
  if (!ok || n < min || n > max || t.startsWith(QLatin1Char('+'))) return std::nullopt;
  return n;
}

// The cell as its field's JSON value, or the reason it cannot be one.
std::optional<QJsonValue> cellValue(const Form& rules, const SiteColumn& c, const QString& text, QString* why) {
  switch (c.kind) {
    case SiteColumn::Kind::Password: {
      bool digits = text.size() == 4;
      for (const QChar ch : text) digits = digits && ch >= u'0' && ch <= u'9';
      if (!digits) {
        *why = QStringLiteral("the access password must be exactly four digits");
        return std::nullopt;
      }
      return QJsonValue(text);
    }
    case SiteColumn::Kind::Text: {
      const FieldDef& d = Form::def(c.field);
      for (const QChar ch : text)
        if (!rules.acceptsChar(c.field, ch) || ch == u'\r' || ch == u'\b') {
          *why = inCp1250(ch) ? QStringLiteral("the character \"%1\" is not allowed in this field").arg(ch)
                              : QStringLiteral("the character U+%1 has no Windows-1250 byte")
                                    .arg(ch.unicode(), 4, 16, QLatin1Char('0'));
          return std::nullopt;
        }
      // The controller keeps no more than its field: the limit of the parameter that carries it.
      int limit = d.maxLength;
      for (const ParamDef& p : paramTable())
        if (p.kind == PayloadKind::Text && Form::idOf(p.field) == c.field && p.limit > 0)
          limit = limit > 0 ? std::min(limit, p.limit) : p.limit;
      if (limit > 0 && text.size() > limit) {
        *why = QStringLiteral("%1 characters, the field holds at most %2").arg(text.size()).arg(limit);
        return std::nullopt;
      }
      return QJsonValue(text);
    }
    case SiteColumn::Kind::Bool:
      if (const auto b = parseBool(text)) return QJsonValue(*b);
      *why = QStringLiteral("\"%1\" is not yes or no (1/0, true/false, tak/nie)").arg(text);
      return std::nullopt;
    case SiteColumn::Kind::Number:
      // A string of digits, as the JSON form keeps a number field ("05" stays "05").
      if (parseWhole(text, 0, 255) && !text.startsWith(QLatin1Char('-'))) return QJsonValue(text);
      *why = QStringLiteral("\"%1\" is not a whole number 0..255").arg(text);
      return std::nullopt;
    case SiteColumn::Kind::Sensor:
      if (const auto n = parseWhole(text, 0, 255)) return QJsonValue(*n);
      *why = QStringLiteral("\"%1\" is not a whole number 0..255").arg(text);
      return std::nullopt;
    case SiteColumn::Kind::Index: {
      const int last = Form::def(c.field).itemCount - 1;
      if (const auto n = parseWhole(text, -1, last)) return QJsonValue(*n);
      *why = QStringLiteral("\"%1\" is not a list position -1..%2 (-1: none)").arg(text).arg(last);
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<SiteColumn> resolveSiteColumn(const QString& name, QString* why) {
  if (name.startsWith(kSensorPrefix)) {
    const QString key = name.mid(kSensorPrefix.size());
    for (const SensorInfo& s : sensorTable())
      if (QString::fromUtf8(s.field).mid(5) == key) return SiteColumn{key, SiteColumn::Kind::Sensor, -1};
  } else if (const auto it = storedFields().constFind(name); it != storedFields().constEnd()) {
    return *it;
  }
  *why = QStringLiteral("no configuration field is named \"%1\"").arg(name);
  return std::nullopt;
}

std::optional<std::vector<CsvRow>> parseCsv(const QByteArray& bytes, QString* why) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8.decode(bytes);
  if (utf8.hasError()) {
    *why = QStringLiteral("the file is not UTF-8 text");
    return std::nullopt;
  }
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  // The separator: the first ';' or ',' outside quotes on the header line.
  QChar sep = u',';
  bool quoted = false;
  for (const QChar c : text) {
    if (c == u'"') quoted = !quoted;
    else if (!quoted && (c == u'\n' || c == u'\r')) break;
    else if (!quoted && (c == u';' || c == u',')) {
      sep = c;
      break;
    }
  }
  std::vector<CsvRow> rows;
  CsvRow row;
  QString cell;
  bool inQuotes = false, cellQuoted = false, rowStarted = false;
  int line = 1;
  row.line = 1;
  auto endCell = [&] {
    row.cells << cell;
    cell.clear();
    cellQuoted = false;
  };
  auto endRow = [&] {
    if (rowStarted) {
      endCell();
      rows.push_back(row);
    }
    row = CsvRow{};
    rowStarted = false;
  };
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (inQuotes) {
      if (c == u'"' && i + 1 < text.size() && text.at(i + 1) == u'"') {
        cell += c;
        ++i;
      } else if (c == u'"') {
        inQuotes = false;
      } else {
        if (c == u'\n') ++line;
        cell += c;
      }
      continue;
    }
    if (c == u'\r' || c == u'\n') {
      if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
      endRow();
      row.line = ++line;
      continue;
    }
    rowStarted = true;
    if (c == sep) {
      endCell();
    } else if (c == u'"' && cell.isEmpty() && !cellQuoted) {
      inQuotes = cellQuoted = true;
    } else {
      cell += c;
    }
  }
  if (inQuotes) {
    *why = QStringLiteral("line %1: a quote is not closed").arg(row.line);
    return std::nullopt;
  }
  endRow();
  return rows;
}

QString csvLine(const QStringList& cells) {
  QStringList out;
  for (QString c : cells) {
    if (c.contains(u',') || c.contains(u';') || c.contains(u'"') || c.contains(u'\n') || c.contains(u'\r') ||
        c != c.trimmed()) {
      c.replace(QStringLiteral("\""), QStringLiteral("\"\""));
      c = QLatin1Char('"') + c + QLatin1Char('"');
    }
    out << c;
  }
  return out.join(QLatin1Char(','));
}

std::optional<std::vector<Site>> readSiteTable(const QByteArray& bytes, const QJsonObject& templ, QStringList* faults) {
  QString why;
  const auto rows = parseCsv(bytes, &why);
  if (!rows) {
    *faults << why;
    return std::nullopt;
  }
  if (rows->empty()) {
    *faults << QStringLiteral("the table is empty");
    return std::nullopt;
  }
  const CsvRow& header = rows->front();
  int siteAt = -1;
  std::vector<std::optional<SiteColumn>> columns;
  QSet<QString> seen;
  for (int i = 0; i < header.cells.size(); ++i) {
    const QString name = header.cells[i].trimmed();
    columns.emplace_back();
    if (seen.contains(name)) {
      *faults << QStringLiteral("line 1, column %1: \"%2\" is named twice").arg(i + 1).arg(name);
      continue;
    }
    seen.insert(name);
    if (name == kSiteColumn) {
      siteAt = i;
    } else if (auto c = resolveSiteColumn(name, &why)) {
      columns.back() = c;
    } else {
      *faults << QStringLiteral("line 1, column %1: %2").arg(i + 1).arg(why);
    }
  }
  if (siteAt < 0) {
    *faults << QStringLiteral("line 1: no \"site\" column names the sites");
    return std::nullopt;
  }
  // A column whose name is wrong is skipped; the cells of the others are still checked, so that
  // one run names every fault.

  Form rules;
  std::vector<Site> sites;
  QSet<QString> names;
  for (std::size_t r = 1; r < rows->size(); ++r) {
    const CsvRow& row = (*rows)[r];
    // A line of separators alone, as a spreadsheet leaves below a table, is no site.
    if (std::all_of(row.cells.begin(), row.cells.end(), [](const QString& c) { return c.trimmed().isEmpty(); }))
      continue;
    const auto where = [&](int col) {
      return QStringLiteral("line %1, column %2").arg(row.line).arg(header.cells.value(col).trimmed());
    };
    if (row.cells.size() != header.cells.size()) {
      *faults << QStringLiteral("line %1: %2 cells, the header has %3").arg(row.line).arg(row.cells.size()).arg(header.cells.size());
      continue;
    }
    Site site;
    site.line = row.line;
    site.name = row.cells[siteAt].trimmed();
    bool bad = false;
    if (site.name.isEmpty()) {
      *faults << QStringLiteral("%1: the site has no name").arg(where(siteAt));
      bad = true;
    } else if (std::any_of(site.name.begin(), site.name.end(), [](QChar c) { return c.category() == QChar::Other_Control; })) {
      *faults << QStringLiteral("%1: the name holds a control character").arg(where(siteAt));
      bad = true;
    } else if (names.contains(site.name)) {
      *faults << QStringLiteral("%1: the site \"%2\" is named twice").arg(where(siteAt), site.name);
      bad = true;
    }
    names.insert(site.name);
    site.config = templ;
    QJsonObject sensors = templ.value(QStringLiteral("SensorSettings")).toObject();
    for (int i = 0; i < row.cells.size(); ++i) {
      if (i == siteAt || !columns[static_cast<std::size_t>(i)]) continue;
      const SiteColumn& c = *columns[static_cast<std::size_t>(i)];
      // Texts are taken as they are; a number or a choice may have spaces around it.
      const QString text = c.kind == SiteColumn::Kind::Text ? row.cells[i] : row.cells[i].trimmed();
      if (text.isEmpty()) continue;  // the template's value stays
      const auto value = cellValue(rules, c, text, &why);
      if (!value) {
        *faults << QStringLiteral("%1: %2").arg(where(i), why);
        bad = true;
        continue;
      }
      if (c.kind == SiteColumn::Kind::Sensor) sensors.insert(c.key, *value);
      else site.config.insert(c.key, *value);
      if (c.kind == SiteColumn::Kind::Password) site.password = text;
      site.overrides << QStringLiteral("%1=%2").arg(header.cells[i].trimmed(), text);
    }
    site.config.insert(QStringLiteral("SensorSettings"), sensors);
    // The whole configuration as the JSON form loads it: what a cell alone cannot show.
    if (!bad) {
      Form check;
      if (!configFromJson(check, site.config, &why)) {
        *faults << QStringLiteral("line %1: %2").arg(row.line).arg(why);
        bad = true;
      }
    }
    if (!bad) sites.push_back(site);
  }
  if (!faults->isEmpty()) return std::nullopt;
  if (sites.empty()) {
    *faults << QStringLiteral("the table names no site");
    return std::nullopt;
  }
  return sites;
}

}  // namespace dovu

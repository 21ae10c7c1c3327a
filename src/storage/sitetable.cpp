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

// The cell as its field's JSON value, or the fault that keeps it from being one.
std::optional<QJsonValue> cellValue(const Form& rules, const SiteColumn& c, const QString& text, SiteFault* why) {
  using K = SiteFault::Kind;
  switch (c.kind) {
    case SiteColumn::Kind::Password: {
      bool digits = text.size() == 4;
      for (const QChar ch : text) digits = digits && ch >= u'0' && ch <= u'9';
      if (!digits) {
        why->kind = K::BadPassword;
        return std::nullopt;
      }
      return QJsonValue(text);
    }
    case SiteColumn::Kind::Text: {
      const FieldDef& d = Form::def(c.field);
      for (const QChar ch : text)
        if (!rules.acceptsChar(c.field, ch) || ch == u'\r' || ch == u'\b') {
          why->kind = inCp1250(ch) ? K::CharNotAllowed : K::NotCp1250;
          why->args << (inCp1250(ch) ? QString(ch) : QStringLiteral("U+%1").arg(QString::number(ch.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
          return std::nullopt;
        }
      // The controller keeps no more than its field: the limit of the parameter that carries it.
      int limit = d.maxLength;
      for (const ParamDef& p : paramTable())
        if (p.kind == PayloadKind::Text && Form::idOf(p.field) == c.field && p.limit > 0)
          limit = limit > 0 ? std::min(limit, p.limit) : p.limit;
      if (limit > 0 && text.size() > limit) {
        why->kind = K::TooLong;
        why->args << QString::number(text.size()) << QString::number(limit);
        return std::nullopt;
      }
      return QJsonValue(text);
    }
    case SiteColumn::Kind::Bool:
      if (const auto b = parseBool(text)) return QJsonValue(*b);
      why->kind = K::NotYesNo;
      why->args << text;
      return std::nullopt;
    case SiteColumn::Kind::Number:
      // A string of digits, as the JSON form keeps a number field ("05" stays "05").
      if (parseWhole(text, 0, 255) && !text.startsWith(QLatin1Char('-'))) return QJsonValue(text);
      why->kind = K::NotByte;
      why->args << text;
      return std::nullopt;
    case SiteColumn::Kind::Sensor:
      if (const auto n = parseWhole(text, 0, 255)) return QJsonValue(*n);
      why->kind = K::NotByte;
      why->args << text;
      return std::nullopt;
    case SiteColumn::Kind::Index: {
      const int last = Form::def(c.field).itemCount - 1;
      if (const auto n = parseWhole(text, -1, last)) return QJsonValue(*n);
      why->kind = K::NotListPosition;
      why->args << text << QString::number(last);
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

std::optional<std::vector<CsvRow>> parseCsv(const QByteArray& bytes, QString* why, int* faultLine) {
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
    if (faultLine) *faultLine = row.line;
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

QString siteFaultText(const SiteFault& f) {
  using K = SiteFault::Kind;
  const QString a0 = f.args.value(0), a1 = f.args.value(1);
  QString why;
  switch (f.kind) {
    case K::NotUtf8: why = QStringLiteral("the file is not UTF-8 text"); break;
    case K::OpenQuote: why = QStringLiteral("a quote is not closed"); break;
    case K::Empty: why = QStringLiteral("the table is empty"); break;
    case K::NoSiteColumn: why = QStringLiteral("no \"site\" column names the sites"); break;
    case K::ColumnTwice: why = QStringLiteral("\"%1\" is named twice").arg(a0); break;
    case K::NoSuchField: why = QStringLiteral("no configuration field is named \"%1\"").arg(a0); break;
    case K::CellCount: why = QStringLiteral("%1 cells, the header has %2").arg(a0, a1); break;
    case K::NoName: why = QStringLiteral("the site has no name"); break;
    case K::ControlInName: why = QStringLiteral("the name holds a control character"); break;
    case K::NameTwice: why = QStringLiteral("the site \"%1\" is named twice").arg(a0); break;
    case K::CharNotAllowed: why = QStringLiteral("the character \"%1\" is not allowed in this field").arg(a0); break;
    case K::NotCp1250: why = QStringLiteral("the character %1 has no Windows-1250 byte").arg(a0); break;
    case K::TooLong: why = QStringLiteral("%1 characters, the field holds at most %2").arg(a0, a1); break;
    case K::NotYesNo: why = QStringLiteral("\"%1\" is not yes or no (1/0, true/false, tak/nie)").arg(a0); break;
    case K::NotByte: why = QStringLiteral("\"%1\" is not a whole number 0..255").arg(a0); break;
    case K::NotListPosition: why = QStringLiteral("\"%1\" is not a list position -1..%2 (-1: none)").arg(a0, a1); break;
    case K::BadPassword: why = QStringLiteral("the access password must be exactly four digits"); break;
    case K::Refused: why = a0; break;
    case K::NoSites: why = QStringLiteral("the table names no site"); break;
  }
  QString where;
  if (f.line > 0) where = QStringLiteral("line %1").arg(f.line);
  if (!f.column.isEmpty()) where += QStringLiteral(", column %1").arg(f.column);
  return where.isEmpty() ? why : where + QStringLiteral(": ") + why;
}

std::optional<std::vector<Site>> readSiteTable(const QByteArray& bytes, const QJsonObject& templ,
                                               std::vector<SiteFault>* faults) {
  using K = SiteFault::Kind;
  const auto fault = [&](K kind, int line, const QString& column = {}, const QStringList& args = {}) {
    faults->push_back(SiteFault{kind, line, column, args});
  };
  QString why;
  int line = 0;
  const auto rows = parseCsv(bytes, &why, &line);
  if (!rows) {
    fault(line > 0 ? K::OpenQuote : K::NotUtf8, line);
    return std::nullopt;
  }
  if (rows->empty()) {
    fault(K::Empty, 0);
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
      fault(K::ColumnTwice, 1, QString::number(i + 1), {name});
      continue;
    }
    seen.insert(name);
    if (name == kSiteColumn) {
      siteAt = i;
    } else if (auto c = resolveSiteColumn(name, &why)) {
      columns.back() = c;
    } else {
      fault(K::NoSuchField, 1, QString::number(i + 1), {name});
    }
  }
  if (siteAt < 0) {
    fault(K::NoSiteColumn, 1);
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
    const auto column = [&](int col) { return header.cells.value(col).trimmed(); };
    if (row.cells.size() != header.cells.size()) {
      fault(K::CellCount, row.line, {}, {QString::number(row.cells.size()), QString::number(header.cells.size())});
      continue;
    }
    Site site;
    site.line = row.line;
    site.name = row.cells[siteAt].trimmed();
    const std::size_t before = faults->size();
    if (site.name.isEmpty())
      fault(K::NoName, row.line, column(siteAt));
    else if (std::any_of(site.name.begin(), site.name.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
      fault(K::ControlInName, row.line, column(siteAt));
    else if (names.contains(site.name))
      fault(K::NameTwice, row.line, column(siteAt), {site.name});
    names.insert(site.name);
    site.config = templ;
    QJsonObject sensors = templ.value(QStringLiteral("SensorSettings")).toObject();
    for (int i = 0; i < row.cells.size(); ++i) {
      if (i == siteAt || !columns[static_cast<std::size_t>(i)]) continue;
      const SiteColumn& c = *columns[static_cast<std::size_t>(i)];
      // Texts are taken as they are; a number or a choice may have spaces around it.
      const QString text = c.kind == SiteColumn::Kind::Text ? row.cells[i] : row.cells[i].trimmed();
      if (text.isEmpty()) continue;  // the template's value stays
      SiteFault bad{K::Refused, row.line, column(i), {}};
      const auto value = cellValue(rules, c, text, &bad);
      if (!value) {
        faults->push_back(bad);
        continue;
      }
      if (c.kind == SiteColumn::Kind::Sensor) sensors.insert(c.key, *value);
      else site.config.insert(c.key, *value);
      if (c.kind == SiteColumn::Kind::Password) site.password = text;
      site.overrides << QStringLiteral("%1=%2").arg(column(i), text);
    }
    site.config.insert(QStringLiteral("SensorSettings"), sensors);
    if (faults->size() != before) continue;
    // The whole configuration as the JSON form loads it: what a cell alone cannot show.
    Form check;
    if (!configFromJson(check, site.config, &why)) {
      fault(K::Refused, row.line, {}, {why});
      continue;
    }
    sites.push_back(site);
  }
  if (!faults->empty()) return std::nullopt;
  if (sites.empty()) {
    fault(K::NoSites, 0);
    return std::nullopt;
  }
  return sites;
}

}  // namespace dovu

#include "storage/sitetable.h"

#include <QSet>
#include <QStringDecoder>
#include <algorithm>

#include "model/cp1250.h"
#include "model/configuration.h"
#include "storage/configjson.h"

namespace dovu {

namespace {

const QString kSiteColumn = QStringLiteral("site");
const QString kPasswordField = QStringLiteral("password");

std::optional<int> parseWhole(const QString& t, int min, int max) {
  bool ok = false;
  const int n = t.toInt(&ok);
  if (!ok || n < min || n > max || t.startsWith(QLatin1Char('+'))) return std::nullopt;
  return n;
}

// The cell's value for its field, or the fault that keeps it from being one.  The checks a table
// has always made come first (the window's characters and the controller's length for a text, no
// sign on a number, tak/nie for a switch); the JSON reader's own check follows.
std::optional<ConfigValue> cellValue(const ConfigField& f, const QString& cell, SiteFault* why) {
  using K = SiteFault::Kind;
  QString text = cell;
  switch (f.type) {
    case ConfigFieldType::Text: {
      if (f.name == kPasswordField) {
        bool digits = text.size() == 4;
        for (const QChar ch : text) digits = digits && ch >= u'0' && ch <= u'9';
        if (!digits) {
          why->kind = K::BadPassword;
          return std::nullopt;
        }
        break;
      }
      for (const QChar ch : text)
        if (!takesChar(f.chars, ch)) {
          why->kind = inCp1250(ch) ? K::CharNotAllowed : K::NotCp1250;
          why->args << (inCp1250(ch) ? QString(ch) : QStringLiteral("U+%1").arg(QString::number(ch.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'))));
          return std::nullopt;
        }
      // The controller keeps no more than its field, which the window's field matches.
      const int limit = f.limit;
      if (limit > 0 && text.size() > limit) {
        why->kind = K::TooLong;
        why->args << QString::number(text.size()) << QString::number(limit);
        return std::nullopt;
      }
      break;
    }
    case ConfigFieldType::Flag: {
      const QString t = text.toLower();
      if (t == QLatin1String("tak") || t == QLatin1String("x")) text = QStringLiteral("true");
      else if (t == QLatin1String("nie")) text = QStringLiteral("false");
      else if (t != QLatin1String("1") && t != QLatin1String("true") && t != QLatin1String("yes") &&
               t != QLatin1String("0") && t != QLatin1String("false") && t != QLatin1String("no")) {
        why->kind = K::NotYesNo;
        why->args << cell;
        return std::nullopt;
      }
      break;
    }
    case ConfigFieldType::Number:
    case ConfigFieldType::Byte:
      if (!parseWhole(text, 0, 255) || text.startsWith(QLatin1Char('-'))) {
        why->kind = K::NotByte;
        why->args << cell;
        return std::nullopt;
      }
      break;
    case ConfigFieldType::Choice:
      if (!parseWhole(text, -1, f.limit - 1)) {
        why->kind = K::NotListPosition;
        why->args << cell << QString::number(f.limit - 1);
        return std::nullopt;
      }
      break;
  }
  QString refused;
  if (auto v = configValueFromText(f, text, &refused)) return v;
  why->kind = K::Refused;
  why->args << refused;
  return std::nullopt;
}

}  // namespace

std::optional<SiteColumn> resolveSiteColumn(const QString& name, QString* why) {
  const std::vector<const ConfigField*> named = configFieldsNamed(name);
  if (named.size() == 1) return SiteColumn{named.front()};
  if (named.empty())
    *why = QStringLiteral("no configuration field is named \"%1\"").arg(name);
  else
    *why = QStringLiteral("\"%1\" names %2 fields, a column one (such as \"%3\")")
               .arg(name, QString::number(named.size()), named.front()->name);
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
    case K::NotOneField:
      why = QStringLiteral("\"%1\" names %2 fields, a column one (such as \"%3\")").arg(a0, a1, f.args.value(2));
      break;
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

std::optional<std::vector<Site>> readSiteTable(const QByteArray& bytes, const Configuration& templ,
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
      // Two names of one field ("telephones[0]" and "Edit_Tel1") would leave one cell unused.
      const auto same = std::find_if(columns.begin(), columns.end() - 1,
                                     [&](const std::optional<SiteColumn>& o) { return o && o->field == c->field; });
      if (same != columns.end() - 1) fault(K::ColumnTwice, 1, QString::number(i + 1), {name});
      else columns.back() = c;
    } else {
      const std::vector<const ConfigField*> group = configFieldsNamed(name);
      if (group.empty()) fault(K::NoSuchField, 1, QString::number(i + 1), {name});
      else fault(K::NotOneField, 1, QString::number(i + 1), {name, QString::number(group.size()), group.front()->name});
    }
  }
  if (siteAt < 0) {
    fault(K::NoSiteColumn, 1);
    return std::nullopt;
  }
  // A column whose name is wrong is skipped; the cells of the others are still checked, so that
  // one run names every fault.
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
    for (int i = 0; i < row.cells.size(); ++i) {
      if (i == siteAt || !columns[static_cast<std::size_t>(i)]) continue;
      const ConfigField& f = *columns[static_cast<std::size_t>(i)]->field;
      // Texts are taken as they are; a number, a switch or a choice may have spaces around it.
      const QString text = f.type == ConfigFieldType::Text ? row.cells[i] : row.cells[i].trimmed();
      if (text.isEmpty()) continue;  // the template's value stays
      SiteFault bad{K::Refused, row.line, column(i), {}};
      const auto value = cellValue(f, text, &bad);
      if (!value) {
        faults->push_back(bad);
        continue;
      }
      setConfigValue(site.config, f, *value);
      if (f.name == kPasswordField) site.password = text;
      site.overrides << QStringLiteral("%1=%2").arg(column(i), text);
    }
    if (faults->size() != before) continue;
    // The whole configuration as the JSON reader takes it: what a cell alone cannot show.
    if (!configFromJson(configToJson(site.config), &why)) {
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

#pragma once
// A site table: a CSV file (UTF-8, with or without a byte order mark, cells separated by ';' or ',')
// with one row a site.  The "site" column names it; every other column overrides one field of a
// template configuration for that site, named as the JSON form names the field ("Edit_Tel1",
// "BoxCA", "ComboOut1", "SensorSettings.T1Min").  An empty cell keeps the template's value.
//
// Every cell is checked against its field's rules before anything uses the table, so that a bad
// cell stops the whole series before any controller is touched.
#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace dovu {

// What a column header stands for.
struct SiteColumn {
  enum class Kind { Text, Bool, Number, Index, Sensor, Password };
  QString key;     // the JSON name ("Edit_Tel1"; a sensor byte: "T1Min" under SensorSettings)
  Kind kind = Kind::Text;
  int field = -1;  // Form::Id of the field whose rules a text follows; -1 for a sensor byte
};

// The one place that turns a column's name into the field it overrides.  Nullopt, with the reason,
// for a name that is no stored field.
std::optional<SiteColumn> resolveSiteColumn(const QString& name, QString* why);

struct Site {
  QString name;
  int line = 0;         // the row's line in the file (the header is line 1)
  QJsonObject config;   // the template with the row's overrides
  QString password;     // the row's access password for the login; empty: none given
  QStringList overrides;  // "Edit_Tel1=+48601234567", in column order
};

// Splits CSV text into rows of cells: ';' or ',' as the header line uses (the one outside quotes
// that comes first), double quotes around a cell that holds either or a line break, "" for a quote
// inside.  Lines that are empty are skipped; each row keeps the line it started on.  Nullopt, with
// the reason, for text that is not UTF-8 or a quote left open.
struct CsvRow {
  int line = 0;
  QStringList cells;
};
std::optional<std::vector<CsvRow>> parseCsv(const QByteArray& bytes, QString* why);
// One CSV line of cells joined by ',', each quoted when it needs it.
QString csvLine(const QStringList& cells);

// The sites of a table over a template (its JSON form).  Nullopt with every fault found, one a
// line, "line N, column NAME: reason", when any cell, header or site name is wrong: no site is
// then to be programmed.
std::optional<std::vector<Site>> readSiteTable(const QByteArray& bytes, const QJsonObject& templ, QStringList* faults);

}  // namespace dovu

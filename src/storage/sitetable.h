#pragma once
// A site table: a CSV file (UTF-8, with or without a byte order mark, cells separated by ';' or ',')
// with one row a site.  The "site" column names it; every other column overrides one field of a
// template configuration for that site, named as the JSON form names the field: the current names
// ("telephones[0]", "inputs[2].alarmText", "sensors.t1.max", "password") or the earlier ones
// ("Edit_Tel1", "BoxCA", "SensorSettings.T1Min").  An empty cell keeps the template's value.
//
// Every cell is checked against its field's rules before anything uses the table, so that a bad
// cell stops the whole series before any controller is touched.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "model/configuration.h"

namespace dovu {

// What a column header stands for: exactly one field of the configuration.
struct SiteColumn {
  const ConfigField* field = nullptr;
};

// The one place that turns a column's name into the field it overrides.  Nullopt, with the reason,
// for a name that is no field or that stands for a group of them ("telephones").
std::optional<SiteColumn> resolveSiteColumn(const QString& name, QString* why);

struct Site {
  QString name;
  int line = 0;           // the row's line in the file (the header is line 1)
  Configuration config;   // the template with the row's overrides
  QString password;       // the row's access password for the login; empty: none given
  QStringList overrides;  // "telephones[0]=+48601234567", as the header names it, in column order
};

// Splits CSV text into rows of cells: ';' or ',' as the header line uses (the one outside quotes
// that comes first), double quotes around a cell that holds either or a line break, "" for a quote
// inside.  Lines that are empty are skipped; each row keeps the line it started on.  Nullopt, with
// the reason, for text that is not UTF-8 or a quote left open.
struct CsvRow {
  int line = 0;
  QStringList cells;
};
// faultLine, when given, gets the line of a quote left open.
std::optional<std::vector<CsvRow>> parseCsv(const QByteArray& bytes, QString* why, int* faultLine = nullptr);
// One CSV line of cells joined by ',', each quoted when it needs it.
QString csvLine(const QStringList& cells);

// What is wrong with a table, where: each surface words it in its own language.
struct SiteFault {
  enum class Kind {
    NotUtf8,          // the file is not UTF-8 text
    OpenQuote,        // a quote is not closed
    Empty,            // no header line
    NoSiteColumn,     // no "site" column
    ColumnTwice,      // args {name}
    NoSuchField,      // args {name}
    NotOneField,      // a group of fields: args {name, how many fields, the first field's name}
    CellCount,        // args {cells, header's cells}
    NoName,           // the site's name is empty
    ControlInName,    // the site's name holds a control character
    NameTwice,        // args {name}
    CharNotAllowed,   // args {the character}
    NotCp1250,        // args {U+XXXX}
    TooLong,          // args {characters, limit}
    NotYesNo,         // args {text}
    NotByte,          // args {text}
    NotListPosition,  // args {text, last position}
    BadPassword,      // not four digits
    Refused,          // the value or the configuration as a whole: args {the JSON reader's reason, English}
    NoSites,          // the table names no site
  };
  Kind kind = Kind::Empty;
  int line = 0;      // the file's line; 0: the file as a whole
  QString column;    // the column's name, or its place when the name is wrong; empty: the row
  QStringList args;
};
// The fault in the tool's English, "line N, column C: reason".
QString siteFaultText(const SiteFault& fault);

// The sites of a table over a template.  Nullopt with every fault found when any cell, header or
// site name is wrong: no site is then to be programmed.
std::optional<std::vector<Site>> readSiteTable(const QByteArray& bytes, const Configuration& templ,
                                               std::vector<SiteFault>* faults);

}  // namespace dovu

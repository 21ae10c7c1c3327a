#pragma once
// Status records as CSV rows: a header row, then one row a record with its time (ISO 8601 with
// the UTC offset) and the readings in their units with a decimal point.  A reading the controller
// does not have (no sensor, no signal level) is an empty cell.  The command-line tool, the
// window's running log and the chart's export all write these rows.
#include <QDateTime>
#include <QString>

#include "exchange/status.h"

namespace dovu {

// One line each, without the line end.
QString statusCsvHeader();
QString statusCsvRow(const QDateTime& when, const StatusRecord& s);

}  // namespace dovu

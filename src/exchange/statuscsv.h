#pragma once
// Status records as CSV rows: a header row, then one row a record with its time (ISO 8601 with
// the UTC offset) and the readings in their units with a decimal point.  A reading the controller
// does not have (no sensor, no signal level) is an empty cell.  The command-line tool, the
// window's running log and the chart's export all write these rows.
#include <QDateTime>
#include <QFile>
#include <QString>

#include "exchange/status.h"

namespace dovu {

// One line each, without the line end.
QString statusCsvHeader();
QString statusCsvRow(const QDateTime& when, const StatusRecord& s);

// A CSV file that grows by a row with every record.  A new or empty file gets the header first;
// an existing one is appended to.  Each row is flushed as it is written, so that a crash or a
// pulled plug loses at most the row being written.
class StatusCsvLog {
 public:
  // False with the system's reason when the file cannot be opened for appending.
  bool open(const QString& path, QString* error);
  void close() { file_.close(); }
  bool isOpen() const { return file_.isOpen(); }
  QString path() const { return file_.fileName(); }
  // False with the reason (a full disk, say) when the row could not be written; the log is
  // closed then.
  bool append(const QDateTime& when, const StatusRecord& s, QString* error);

 private:
  bool write(const QString& line, QString* error);
  QFile file_;
};

}  // namespace dovu

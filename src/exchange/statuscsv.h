#pragma once
// Status records as CSV rows: a header row, then one row a record with its time (ISO 8601 with
// the UTC offset) and the readings in their units with a decimal point.  A reading the controller
// does not have (no sensor, no signal level) is an empty cell.  The command-line tool, the
// window's running log and the chart's export all write these rows.
#include <QDateTime>
#include <QFile>
#include <QString>

#include "session/status.h"

namespace dovu {

// One row, without the line end: the time, T1, T2, T3, humidity, EX, DC and the GSM signal level.
// The header that names the columns is worded by each surface (the window in Polish, the tool in
// English).
QString statusCsvRow(const QDateTime& when, const StatusRecord& s);

// A CSV file that grows by a row with every record.  A new or empty file gets the header row first;
// an existing one is appended to.  Each row is flushed as it is written, so that a crash or a
// pulled plug loses at most the row being written.
class StatusCsvLog {
 public:
  // False with the system's reason when the file cannot be opened for appending.  A symbolic link
  // or anything but a regular file is refused; a new file is created readable and writable by its
  // owner only, an existing one keeps its mode.
  bool open(const QString& path, const QString& header, QString* error);
  void close() { file_.close(); }
  bool isOpen() const { return file_.isOpen(); }
  QString path() const { return path_; }
  // False with the reason (a full disk, say) when the row could not be written; the log is
  // closed then.
  bool append(const QDateTime& when, const StatusRecord& s, QString* error);

 private:
  bool write(const QString& line, QString* error);
  QFile file_;
  QString path_;
};

}  // namespace dovu

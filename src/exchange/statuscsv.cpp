#include "exchange/statuscsv.h"

#include <QStringList>
#include <optional>

#include "model/sensors.h"

namespace dovu {

namespace {

// Tenths with a decimal point, whatever the locale: "-0.3", "25.0"; empty for no reading.
QString tenths(std::optional<int> t) {
  if (!t) return {};
  const int a = *t < 0 ? -*t : *t;
  return QStringLiteral("%1%2.%3").arg(*t < 0 ? QStringLiteral("-") : QString()).arg(a / 10).arg(a % 10);
}

}  // namespace

QString statusCsvHeader() {
  return QStringLiteral("czas,T1 [°C],T2 [°C],T3 [°C],wilgotność [%],AC [V],DC [V],sygnał GSM [0-31]");
}

QString statusCsvRow(const QDateTime& when, const StatusRecord& s) {
  // The offset is written out even for UTC, so that rows from different machines compare.
  const QDateTime t = when.toOffsetFromUtc(when.offsetFromUtc());
  const QStringList cells{
      t.toString(Qt::ISODate),
      tenths(analogTemperatureTenths(s.t1Raw)),
      tenths(analogTemperatureTenths(s.t2Raw)),
      tenths(signedTenths(s.t3)),
      tenths(humidityTenths(s.humidity)),
      tenths(s.exVolts),
      tenths(s.dcVolts),
      s.rssi == 99 ? QString() : QString::number(s.rssi),
  };
  return cells.join(QLatin1Char(','));
}

bool StatusCsvLog::open(const QString& path, QString* error) {
  file_.close();
  file_.setFileName(path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
    *error = QStringLiteral("%1: %2").arg(path, file_.errorString());
    return false;
  }
  return file_.size() > 0 || write(statusCsvHeader(), error);
}

bool StatusCsvLog::append(const QDateTime& when, const StatusRecord& s, QString* error) {
  return write(statusCsvRow(when, s), error);
}

bool StatusCsvLog::write(const QString& line, QString* error) {
  const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
  if (file_.write(bytes) == bytes.size() && file_.flush()) return true;
  *error = QStringLiteral("%1: %2").arg(file_.fileName(), file_.errorString());
  file_.close();
  return false;
}

}  // namespace dovu

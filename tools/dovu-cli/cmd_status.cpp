#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <csignal>
#include <cstdio>

#include "cli.h"
#include "exchange/dispatcher.h"
#include "session/status.h"
#include "exchange/statuscsv.h"
#include "link/portlist.h"
#include "model/sensors.h"

namespace dovu::cli {

namespace {

// The modem's stage in words, as the window's status line has it in Polish ("" for unknown stages).
QString modemStageWords(int stage) {
  if (stage <= 2) return QStringLiteral("switching the GSM modem on");
  if (stage <= 6) return QStringLiteral("detecting the GSM modem");
  if (stage <= 8) return QStringLiteral("checking the SIM card");
  if (stage <= 10) return QStringLiteral("entering the PIN");
  if (stage == 11) return QStringLiteral("logging in to the GSM network");
  if (stage == 12) return QStringLiteral("deleting SMS messages");
  if (stage <= 14) return QStringLiteral("setting up SMS");
  if (stage <= 16) return QStringLiteral("storing the SMS centre");
  if (stage == 17) return QStringLiteral("reading the signal level");
  if (stage <= 19) return QStringLiteral("connected to the GSM network");
  if (stage == 100) return QStringLiteral("resetting the GSM modem");
  return {};
}

// The record in words, one "name: value" line each, with a decimal point.
QStringList describeStatus(const StatusRecord& s) {
  static const char* kState[] = {"none", "normal", "alarm", "low"};
  auto yesNo = [](bool b) { return b ? QStringLiteral("yes") : QStringLiteral("no"); };
  auto reading = [](QString t) { return t.isEmpty() ? QStringLiteral("no reading") : t.replace(QLatin1Char(','), QLatin1Char('.')); };
  QStringList out;
  for (int i = 0; i < 5; ++i) out << QStringLiteral("IN%1: %2").arg(i + 1).arg(s.input[i] ? "active" : "inactive");
  for (int i = 0; i < 4; ++i) out << QStringLiteral("OUT%1: %2").arg(i + 1).arg(s.output[i] ? "on" : "off");
  out << QStringLiteral("F: %1").arg(yesNo(s.flagF));
  out << QStringLiteral("Events to handle: %1").arg(s.eventCount);
  out << QStringLiteral("GSM modem: %1 (stage %2)").arg(modemStageWords(s.modemStage)).arg(s.modemStage);
  out << QStringLiteral("GSM signal: %1").arg(s.rssi == 99 ? QStringLiteral("none") : QString::number(s.rssi));
  out << QStringLiteral("SMS used: %1").arg(s.smsUsed);
  out << QStringLiteral("Calls used: %1").arg(s.voiceUsed);
  out << QStringLiteral("DC: %1 (%2)").arg(reading(voltsText(s.dcVolts)), s.dcOk ? "normal" : "alarm");
  out << QStringLiteral("EX: %1 (%2)").arg(reading(voltsText(s.exVolts)), s.exOk ? "normal" : "alarm");
  out << QStringLiteral("T1: %1 (%2)").arg(reading(analogTemperatureText(s.t1Raw)), kState[s.t1State]);
  out << QStringLiteral("T2: %1 (%2)").arg(reading(analogTemperatureText(s.t2Raw)), kState[s.t2State]);
  out << QStringLiteral("T3: %1 (%2)").arg(reading(signedTenthsText(s.t3)), kState[s.t3State]);
  out << QStringLiteral("Humidity: %1 (%2)").arg(reading(humidityText(s.humidity)), kState[s.humidityState]);
  return out;
}

QJsonArray flags(const bool* b, int n) {
  QJsonArray a;
  for (int i = 0; i < n; ++i) a.append(b[i]);
  return a;
}

// The record as one JSON object: the raw values by their field names, and the same values in
// words under "text" (as the plain output prints them).
QJsonObject statusToJson(const StatusRecord& s) {
  QJsonObject text;
  for (const QString& line : describeStatus(s)) {
    const auto colon = line.indexOf(QStringLiteral(": "));
    text.insert(line.left(colon), line.mid(colon + 2));
  }
  return QJsonObject{
      {QStringLiteral("input"), flags(s.input, 5)},
      {QStringLiteral("output"), flags(s.output, 4)},
      {QStringLiteral("eventCount"), s.eventCount},
      {QStringLiteral("flagF"), s.flagF},
      {QStringLiteral("modemStage"), s.modemStage},
      {QStringLiteral("rssi"), s.rssi},
      {QStringLiteral("smsUsed"), s.smsUsed},
      {QStringLiteral("voiceUsed"), s.voiceUsed},
      {QStringLiteral("dcVolts"), s.dcVolts / 10.0},
      {QStringLiteral("exVolts"), s.exVolts / 10.0},
      {QStringLiteral("dcOk"), s.dcOk},
      {QStringLiteral("exOk"), s.exOk},
      {QStringLiteral("t1Raw"), s.t1Raw},
      {QStringLiteral("t2Raw"), s.t2Raw},
      {QStringLiteral("t3Raw"), s.t3},
      {QStringLiteral("humidityRaw"), s.humidity},
      {QStringLiteral("t1State"), s.t1State},
      {QStringLiteral("t2State"), s.t2State},
      {QStringLiteral("t3State"), s.t3State},
      {QStringLiteral("humidityState"), s.humidityState},
      {QStringLiteral("text"), text},
  };
}

enum class Poll { Done, Failed, ReaderGone };

enum class Format { Text, Json, Csv };

// One poll: the record on stdout, as text, as one line of JSON or as one CSV row.
Poll pollOnce(Controller& c, Format format) {
  Request status;
  status.code = kCodeStatus;
  status.payload = kStatusPayload;
  status.ticks = kSessionTicks;
  // The notifier reports a missing answer.
  if (runRequest(*c.link, std::move(status)) != Request::Outcome::Answered) return Poll::Failed;
  const auto s = StatusRecord::decode(c.link->rxPayload());
  if (!s) {
    err(QStringLiteral("short status record (%1 bytes)").arg(c.link->rxPayload().size()));
    return Poll::Failed;
  }
  // A record garbled on the line can still be 18 bytes: what no controller reports is not shown
  // as a reading.
  if (const QString impossible = s->impossibleValue(); !impossible.isEmpty()) {
    err(QStringLiteral("status record refused: %1 (%2)").arg(impossible, QString::fromStdString(toHex(c.link->rxPayload()))));
    return Poll::Failed;
  }
  if (format == Format::Json) {
    out(QString::fromUtf8(QJsonDocument(statusToJson(*s)).toJson(QJsonDocument::Compact)));
  } else if (format == Format::Csv) {
    out(statusCsvRow(QDateTime::currentDateTime(), *s));
  } else {
    for (const QString& line : describeStatus(*s)) out(line);
  }
  // A reader that is gone or a full disk ends the stream; main reports it.
  return checkOutput() ? Poll::Done : Poll::ReaderGone;
}

}  // namespace

int cmdPorts(const QStringList& args) {
  Command cmd("ports", "List the serial ports: port, tab, device name.");
  if (const auto exit = cmd.parse(args, 0, 0)) return *exit;
  auto source = systemPortSource();
  const auto ports = listComPorts(*source);
  if (!ports) {
    err(QStringLiteral("cannot read the system's port list"));
    return kFailure;
  }
  for (const PortEntry& p : *ports)
    out(printable(p.port) + QLatin1Char('\t') + printable(p.device));
  return kOk;
}

int cmdStatus(const QStringList& args) {
  Command cmd("status",
              "Log in, read the live status and log out.  The plain form prints the record once, one\n"
              "\"name: value\" line each.  --json prints one JSON object per line, once a second until\n"
              "SIGINT, SIGTERM or SIGHUP (or once with --once); --csv prints a header row, then one row\n"
              "per record the same way (time, T1, T2, T3, humidity, EX, DC, GSM signal; an empty cell\n"
              "for a missing reading).  A record with a value no controller reports is refused.");
  cmd.addLinkOptions();
  cmd.parser.addOption({QStringLiteral("json"), QStringLiteral("one JSON object per poll, one a line")});
  cmd.parser.addOption({QStringLiteral("csv"), QStringLiteral("a CSV header row, then one row per poll")});
  cmd.parser.addOption({QStringLiteral("once"), QStringLiteral("with --json or --csv: one record, then log out")});
  if (const auto exit = cmd.parse(args, 0, 0)) return *exit;
  const QString password = cmd.password().value_or(QLatin1String(kDefaultPassword));
  if (!checkPassword(password)) return kUsage;
  const bool json = cmd.parser.isSet(QStringLiteral("json")), csv = cmd.parser.isSet(QStringLiteral("csv"));
  if (json && csv) {
    err(QStringLiteral("--json and --csv exclude each other"));
    return kUsage;
  }
  const Format format = json ? Format::Json : csv ? Format::Csv : Format::Text;
  const bool stream = format != Format::Text && !cmd.parser.isSet(QStringLiteral("once"));

  // SIGINT, SIGTERM and SIGHUP end a running stream after the logout; a reader that goes away
  // (| head -1) ends it too.
  StopSignals stop;
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  Controller c(cmd.port(), password);
  // The same gate as everywhere: a frame no wait expects is dropped (and traced as such).
  Dispatcher dispatcher;
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;
  if (format == Format::Csv) out(QStringLiteral("time,T1 [°C],T2 [°C],T3 [°C],humidity [%],EX [V],DC [V],GSM signal [0-31]"));
  Poll poll = pollOnce(c, format);
  // A lost device has been reported and its port closed: nothing more to poll.
  while (poll == Poll::Done && stream && stop.wait(1000) && c.port.isOpen()) poll = pollOnce(c, format);
  // A failed logout fails the command even after good polls, and so does an output that could not
  // be written.
  const bool loggedOut = c.logout();
  if (stop.signal() == StopSignals::kTimeLimit) {
    err(QStringLiteral("status stopped by %1; logged out").arg(StopSignals::name(StopSignals::kTimeLimit)));
    return kFailure;
  }
  return loggedOut && poll == Poll::Done ? kOk : kFailure;
}

}  // namespace dovu::cli

#include "cli.h"

#include <cstdio>

#include "link/framecodec.h"
#include "link/portlist.h"

namespace dovu::cli {

std::optional<QString> Args::option(const QString& name) {
  const int i = args_.indexOf(name);
  if (i < 0 || i + 1 >= args_.size()) return std::nullopt;
  QString v = args_.at(i + 1);
  args_.remove(i, 2);
  return v;
}

bool Args::flag(const QString& name) { return args_.removeAll(name) > 0; }

std::optional<QString> Args::unknownOption() const {
  for (const QString& a : args_)
    if (a.startsWith(QLatin1String("--"))) return a;
  return std::nullopt;
}

void err(const QString& line) {
  std::fprintf(stderr, "dovu-cli: %s\n", line.toLocal8Bit().constData());
  std::fflush(stderr);
}

void StderrNotifier::message(MessageKind kind, const QString& text, const QString& detail) {
  if (kind == MessageKind::Error || kind == MessageKind::Warning) ++errors;
  lastText = text;
  lastDetail = detail;
  if (quiet) return;
  QString line = text;
  if (!detail.isEmpty()) line += QStringLiteral(": ") + QString(detail).replace(QLatin1Char('\n'), QLatin1Char(' '));
  err(line);
}

Controller::Controller(const QString& portName, const QString& password, bool trace) : trace_(trace) {
  port.setPort(portName);
  port.setBaudRate(4800);
  link = std::make_unique<Link>(&port, &notifier);
  session = std::make_unique<Session>(form, *link);
  form.setText("Edit_haslo", password);
  if (trace_) {
    link->trace = [](bool out, const Bytes& frame) {
      std::fprintf(stderr, "%s code %3u: %s\n", out ? "->" : "<-",
                   frame.size() > 1 ? static_cast<unsigned>(byteAt(frame, 1)) : 0u, toHex(frame).c_str());
    };
  }
}

Controller::~Controller() {
  if (port.isOpen()) port.close();
}

bool Controller::login() {
  if (!portExists(port.port())) {
    err(QStringLiteral("no such port: %1 (see 'dovu-cli ports')").arg(port.port()));
    return false;
  }
  // One line says what went wrong, in the tool's words.
  notifier.quiet = true;
  const Session::ConnectResult result = session->connectAndLogin();
  notifier.quiet = false;
  switch (result) {
    case Session::ConnectResult::LoggedIn:
      // The tool asks for the status itself; no background poll.
      session->liveOff();
      return true;
    case Session::ConnectResult::PortUnavailable:
      err(QStringLiteral("cannot open %1").arg(QString(notifier.lastDetail).replace(QLatin1Char('\n'), QLatin1Char(' '))));
      return false;
    case Session::ConnectResult::NoAnswer:
      err(QStringLiteral("no answer from the controller on %1").arg(port.port()));
      return false;
    case Session::ConnectResult::Refused:
      err(QStringLiteral("wrong password"));
      return false;
  }
  return false;
}

void Controller::logout() {
  if (!port.isOpen()) return;
  link->sendFrame(2, "W");
  link->waitForAnswer(kSessionTicks, 2);
  session->showLoggedOut();
  port.close();
}

}  // namespace dovu::cli

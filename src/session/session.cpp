#include "session/session.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStringList>
#include <cerrno>
#if defined(Q_OS_UNIX)
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#endif

namespace dovu {

Q_LOGGING_CATEGORY(lcSession, "dovu.session")

Session::Session(Link& link, QObject* parent) : QObject(parent), link_(link) {
  closeTimer_.setSingleShot(true);
  connect(&closeTimer_, &QTimer::timeout, this, [this] {
    if (!portOpen()) return;
    link_.port()->close();
    emit portClosed();
  });
  connect(&link_, &Link::noAnswer, this, [this] { showLoggedOut(); });
  connect(&link_, &Link::pollDue, this, [this] { poll(); });
  if (link_.port()) connect(link_.port(), &SerialPort::deviceLost, this, &Session::onDeviceLost);
}

bool Session::portOpen() const { return link_.port() && link_.port()->isOpen(); }

QString Session::versionOf(const Bytes& answer) {
  // Byte 1 carries the version as '0' + ten times the major less one plus the minor.
  if (answer.size() < 2) return {};
  const int v = byteAt(answer, 1);
  if (v < '0') return {};
  const int d = v - '0';
  return QStringLiteral("DOVU v %1.%2").arg(d / 10 + 1).arg(d % 10);
}

void Session::setFirmwareVersion(const QString& version) {
  firmwareVersion_ = version;
  emit firmwareVersionChanged(version);
}

void Session::takeStatus(const StatusRecord& record) {
  status_ = record;
  emit statusChanged(record);
}

Cause Session::portErrorCause(const SerialPortError& e) {
  qCWarning(lcSession, "%s", e.what());
  switch (e.fault()) {
    case SerialFault::NotFound: return Cause::PortNotFound;
    case SerialFault::DeviceLost: return Cause::PortDeviceLost;
    case SerialFault::PermissionDenied: return Cause::PortPermissionDenied;
    case SerialFault::InUse: return Cause::PortInUse;
    case SerialFault::InUseOrDenied: return Cause::PortInUseOrDenied;
    case SerialFault::WriteTimedOut: return Cause::PortWriteTimedOut;
    case SerialFault::NotASerialPort: return Cause::PortNotSerial;
    case SerialFault::SettingsRefused: return Cause::PortSettingsRefused;
    case SerialFault::NotOpen: return Cause::PortNotOpen;
    case SerialFault::Unknown: break;
  }
  switch (e.code()) {
    case kOpenFailed: return Cause::PortOpenFailed;
    case kWriteFailed: return Cause::PortWriteFailed;
    case kReadFailed:
    case kQueueStatusFailed: return Cause::PortReadFailed;
    case kNotOpen: return Cause::PortNotOpen;
    case kConfigureFailed:
    case kTimeoutsFailed:
    case kBuffersFailed: return Cause::PortSettingsFailed;
    default: return Cause::PortFailed;
  }
}

Problem Session::portProblem(const SerialPortError& e, const QString& port) {
  Problem p{Cause::PortUnavailable, portErrorCause(e), port, {}, {}};
  if (p.reason == Cause::PortFailed) p.args << QString::number(e.code());
#if defined(Q_OS_UNIX)
  struct stat st {};
  if (p.reason == Cause::PortPermissionDenied && ::stat(QFile::encodeName(port).constData(), &st) == 0) {
    auto groupName = [](gid_t gid) {
      const struct group* g = ::getgrgid(gid);
      return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
    };
    // Joining the device's own group is the usual remedy, and a safe one.  Joining root's group
    // (or any group without access) would not help, or would give away far more than the port:
    // the words then say who may open it instead.
    const bool groupMayOpen = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    const bool joinGroup = groupMayOpen && st.st_gid != 0;
    QString user;
    if (!joinGroup && (st.st_mode & (S_IRUSR | S_IWUSR)) == (S_IRUSR | S_IWUSR)) {
      const struct passwd* pw = ::getpwuid(st.st_uid);
      user = pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(st.st_uid);
    }
    p.args << (joinGroup ? groupName(st.st_gid) : QString()) << user
           << (!joinGroup && groupMayOpen ? groupName(st.st_gid) : QString());
  }
#endif
  return p;
}

bool Session::selectPort(const QString& name) {
  SerialPort* port = link_.port();
  if (!port || port->port() == name) return true;
  if (!port->isOpen()) {
    port->setPort(name);
    return true;
  }
  try {
    port->setPort(name);  // closes the old port and opens the new one
    port->setDtrLine(true);
    port->setRtsLine(true);
    return true;
  } catch (const SerialPortError& e) {
    // Nothing is open any more: say so, rather than leave the lamps lit over a dead line.
    showLoggedOut();
    showDisconnected();
    if (port->isOpen()) port->close();
    tell(MessageKind::Error, portProblem(e, name), true);
    return false;
  }
}

Session::ConnectResult Session::connectAndLogin() {
  closeTimer_.stop();  // the port stays open for this session
  SerialPort* port = link_.port();
  if (!port) return ConnectResult::PortUnavailable;
  if (!port->isOpen() && !port->port().isEmpty()) {
    try {
      port->open();
    } catch (const SerialPortError& e) {
      // Without this the click would end without a word.
      tell(MessageKind::Error, portProblem(e, port->port()), true);
      return ConnectResult::PortUnavailable;
    }
  }
  if (!port->isOpen()) return ConnectResult::PortUnavailable;

  link_.timer().start();
  showConnected();
  port->setDtrLine(true);
  port->setRtsLine(true);

  Request login;
  login.code = kCodeLogin;
  login.payload = password_.toLatin1().toStdString();
  login.ticks = kSessionTicks;
  login.pauseAfterMs = 0;
  login.done = [this](Request::Outcome outcome) {
    // A missing answer has been reported by the link, which logged the window out.
    if (outcome != Request::Outcome::Answered) return emit loginFinished(ConnectResult::NoAnswer);
    const Bytes& answer = link_.rxPayload();
    if (const QString v = versionOf(answer); !v.isEmpty()) setFirmwareVersion(v);
    if (!answer.empty() && byteAt(answer, 0) == kLoginAccepted) {
      showLoggedIn();
      return emit loginFinished(ConnectResult::LoggedIn);
    }
    tell(MessageKind::Error, Problem{Cause::WrongPassword}, true);
    emit loginFinished(ConnectResult::Refused);
  };
  link_.send(std::move(login));
  return ConnectResult::Started;
}

void Session::logoutAndDisconnect(bool quiet) {
  showDisconnected();
  showLoggedOut();
  auto after = [this] {
    liveOff();
    closePortDelayed();
    emit logoutFinished();
  };
  if (!portOpen()) return after();
  Request logout;
  logout.code = kCodeLogout;
  logout.payload = kLogoutPayload;
  logout.ticks = kSessionTicks;
  logout.pauseAfterMs = 0;
  logout.showNoAnswer = !quiet;
  logout.done = [this, after, quiet](Request::Outcome outcome) {
    if (outcome == Request::Outcome::Answered && !quiet)
      tell(MessageKind::Information, Problem{Cause::LoggedOut}, true);
    after();
  };
  link_.send(std::move(logout));
}

void Session::formClose() {
  showLoggedOut();
  liveOff();
  closePortDelayed();
}

bool Session::validPassword(const QString& p) {
  if (p.size() != 4) return false;
  for (QChar c : p)
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
  return true;
}

bool Session::changePassword(const QString& newPassword) {
  if (!validPassword(newPassword)) return false;
  Request change;
  change.code = kCodePassword;
  change.payload = newPassword.toLatin1().toStdString();
  change.ticks = kSessionTicks;
  change.pauseAfterMs = 0;
  change.done = [this, newPassword](Request::Outcome outcome) {
    if (outcome != Request::Outcome::Answered) return emit passwordChangeFinished(false);
    password_ = newPassword;
    emit passwordChanged(newPassword);
    tell(MessageKind::Information, Problem{Cause::PasswordChanged}, false);
    showLoggedIn();
    emit passwordChangeFinished(true);
  };
  link_.send(std::move(change));
  return true;
}

namespace {
// A request that is only written.
Request command(std::uint8_t code, const Bytes& payload) {
  Request r;
  r.code = code;
  r.payload = payload;
  r.awaits = Request::Awaits::Nothing;
  r.pauseAfterMs = 0;
  return r;
}
}  // namespace

void Session::restart() { link_.send(command(kCodeRestart, kRestartPayload)); }

void Session::restartDevice() {
  link_.send(command(kCodeRestart, kRestartPayload));
  // The controller forgets the login while it boots; only the poll brings it back.
  showLoggedOut();
  restartPolls_ = 0;
  emit restartingShown();
}

void Session::restartStep() {
  if (!portOpen()) {
    endRestart();
    return;
  }
  if (++restartPolls_ <= restartTiming.bootPolls) return;
  if (restartPolls_ > restartTiming.bootPolls + restartTiming.loginAttempts) {
    endRestart();
    showLoggedOut();
    return;
  }
  // A login attempt (three writes a second apart); its silence is expected while the controller
  // boots, so it shows no box.
  Request login;
  login.code = kCodeLogin;
  login.payload = password_.toLatin1().toStdString();
  login.ticks = kSessionTicks;
  login.showNoAnswer = false;
  login.done = [this](Request::Outcome outcome) {
    if (!restarting()) return;  // disconnected, or logged in by the user, meanwhile
    if (outcome != Request::Outcome::Answered) return emit restartingShown();
    endRestart();
    const Bytes& answer = link_.rxPayload();
    if (const QString v = versionOf(answer); !v.isEmpty()) setFirmwareVersion(v);
    if (!answer.empty() && byteAt(answer, 0) == kLoginAccepted) showLoggedIn();
    else showLoggedOut();
  };
  link_.send(std::move(login));
}

void Session::resetCounters() { link_.send(command(kCodeResetCounters, kResetCountersPayload)); }

void Session::poll() {
  if (restarting()) {
    if (!link_.busy() && !link_.aborted()) restartStep();
    return;
  }
  // Never inside another exchange, nor ahead of a press that waits for the line.
  if (loggedIn_ && liveDisplay_ && !link_.busy() && !link_.aborted()) {
    Request status;
    status.code = kCodeStatus;
    status.payload = kStatusPayload;
    status.ticks = kSessionTicks;
    link_.send(std::move(status));
  }
}

void Session::showConnected() {
  link_.sessionChanged();
  connected_ = true;
  emit connectedChanged(true);
}

void Session::showDisconnected() {
  link_.sessionChanged();
  endRestart();
  connected_ = false;
  emit connectedChanged(false);
}

void Session::showLoggedIn() {
  link_.sessionChanged();
  endRestart();
  link_.setPollTicks(0);
  loggedIn_ = true;
  emit loggedInChanged(true);
  liveOn();
}

void Session::showLoggedOut() {
  link_.sessionChanged();
  liveDisplay_ = false;
  loggedIn_ = false;
  status_.reset();
  emit loggedInChanged(false);
  liveOff();
  setFirmwareVersion(QString());
}

void Session::liveOn() {
  liveDisplay_ = true;
  emit liveDisplayChanged(true);
}

void Session::liveOff() {
  liveDisplay_ = false;
  emit liveDisplayChanged(false);
}

void Session::closePortDelayed() {
  // Lets the pending notifications drain for about a second before the port goes.
  if (portOpen()) closeTimer_.start(kClosePortDelayMs);
}

void Session::onDeviceLost(const QString& reason) {
  // The adapter was unplugged (or the line hung up): nothing more can be sent or received, so the
  // window says so at once rather than after a wait's three time-outs, and the port is closed so
  // that the user can connect again once the adapter is back.
  const QString port = link_.port() ? link_.port()->port() : QString();
  qCWarning(lcSession, "%s: %s", qPrintable(port), qPrintable(reason));
  showLoggedOut();
  showDisconnected();
  if (link_.port()) link_.port()->close();
  emit portClosed();
  tell(MessageKind::Error, Problem{Cause::PortUnavailable, Cause::PortDeviceLost, port, {}, {}}, true);
}

}  // namespace dovu

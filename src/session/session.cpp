#include "session/session.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#if defined(Q_OS_UNIX)
#include <grp.h>
#include <sys/stat.h>
#endif

namespace dovu {

namespace {
const char* kLampNames[] = {"PanelIN1", "PanelIN2", "PanelIN3", "PanelIN4", "PanelIN5",
                            "PanelPK",  "PanelOut2", "PanelOut3", "PanelOut4", "PanelFab"};
const char* kReadoutNames[] = {"Temp1", "Temp2", "Temp3", "Wilg", "Udc", "Uac"};
}  // namespace

Session::Session(Form& form, Link& link, QObject* parent) : QObject(parent), form_(form), link_(link) {
  link_.onNoAnswer = [this] { showLoggedOut(); };
  link_.onPollDue = [this] { poll(); };
  if (link_.port()) connect(link_.port(), &SerialPort::deviceLost, this, &Session::onDeviceLost);
}

bool Session::portOpen() const { return link_.port() && link_.port()->isOpen(); }

QString Session::portErrorDetail(int systemError, const QString& port) {
  if (systemError <= 0) return {};
  QString detail = QString::fromLocal8Bit(std::strerror(systemError));
#if defined(Q_OS_UNIX)
  if (systemError == EACCES || systemError == EPERM) {
    QString groupName = QStringLiteral("dialout");
    struct stat st {};
    if (::stat(QFile::encodeName(port).constData(), &st) == 0) {
      if (const struct group* g = ::getgrgid(st.st_gid)) groupName = QString::fromLocal8Bit(g->gr_name);
    }
    detail += QStringLiteral("\nDodaj użytkownika do grupy %1: sudo usermod -a -G %1 $USER "
                             "i zaloguj się ponownie.")
                  .arg(groupName);
  } else if (systemError == EBUSY) {
    detail += QStringLiteral("\nPort jest używany przez inny program.");
  }
#endif
  return detail;
}

Session::ConnectResult Session::connectAndLogin() {
  SerialPort* port = link_.port();
  if (!port) return ConnectResult::PortUnavailable;
  if (!port->isOpen() && !port->port().isEmpty()) {
    try {
      port->open();
    } catch (const SerialPortError& e) {
      // Without this the click would end without a word.
      if (Notifier* n = link_.notifier()) {
        n->beep();
        n->message(MessageKind::Error, QString::fromUtf8(kPortUnavailableText),
                   port->port() + QStringLiteral(": ") + portErrorDetail(e.systemError(), port->port()));
      }
      return ConnectResult::PortUnavailable;
    }
  }
  if (!port->isOpen()) return ConnectResult::PortUnavailable;

  link_.timer().start();
  showConnected();
  port->setDtrLine(true);
  port->setRtsLine(true);

  link_.sendFrame(kCodeLogin, form_.text("Edit_haslo").toLatin1().toStdString());
  if (!link_.waitForAnswer(kSessionTicks, kCodeLogin)) return ConnectResult::NoAnswer;
  const Bytes& answer = link_.rxPayload();
  if (!answer.empty() && byteAt(answer, 0) == kLoginAccepted) {
    showLoggedIn();
    return ConnectResult::LoggedIn;
  }
  if (Notifier* n = link_.notifier()) {
    n->beep();
    n->message(MessageKind::Error, QStringLiteral("Błędne hasło"));
  }
  Link::processPending();
  return ConnectResult::Refused;
}

void Session::logoutAndDisconnect() {
  showDisconnected();
  showLoggedOut();
  if (portOpen()) {
    link_.sendFrame(kCodeLogout, kLogoutPayload);
    if (link_.waitForAnswer(kSessionTicks, kCodeLogout)) {
      if (Notifier* n = link_.notifier()) {
        n->beep();
        n->message(MessageKind::Information, QStringLiteral("Wylogowano ze sterownika DOVU"));
      }
    }
  }
  liveOff();
  closePortDelayed();
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
  link_.sendFrame(kCodePassword, newPassword.toLatin1().toStdString());
  if (!link_.waitForAnswer(kSessionTicks, kCodePassword)) return false;
  form_.setText("Edit_haslo", newPassword);
  if (Notifier* n = link_.notifier()) n->message(MessageKind::Information, QStringLiteral("Hasło zmienione"));
  showLoggedIn();
  return true;
}

void Session::restart() { link_.sendFrame(kCodeRestart, kRestartPayload); }

void Session::resetCounters() { link_.sendFrame(kCodeResetCounters, kResetCountersPayload); }

void Session::poll() {
  if (loggedIn_ && liveDisplay_ && !link_.sending() && !link_.aborted())
    link_.sendAndWait(kCodeStatus, kStatusPayload, kSessionTicks);
}

void Session::showConnected() {
  form_.setText("Edit_status", QStringLiteral("POŁĄCZONY"));
  form_.setColour("Edit_status", kBrightGreen);
  form_.setEnabled("Button_rozlacz", true);
  form_.setEnabled("ButtonFirmware", true);
}

void Session::showDisconnected() {
  form_.setText("Edit_status", QStringLiteral("ROZŁĄCZONY"));
  form_.setColour("Edit_status", kRed);
  form_.setEnabled("Button_rozlacz", false);
  form_.setEnabled("ButtonFirmware", false);
}

void Session::showLoggedIn() {
  link_.setPollTicks(0);
  loggedIn_ = true;
  form_.setText("Edit_logon", QStringLiteral("ZALOGOWANY"));
  form_.setColour("Edit_logon", kBrightGreen);
  form_.setEnabled("Edit_haslo", false);
  for (const char* n : {"Button_zmiana_hasla", "ButtonRestart", "ButtonResetlimit", "Pobierz1", "Zapisz1"})
    form_.setEnabled(n, true);
  liveOn();
  form_.setEnabled("Button_polacz", false);
}

void Session::showLoggedOut() {
  liveDisplay_ = false;
  form_.setText("Edit_logon", QStringLiteral("WYLOGOWANY"));
  form_.setColour("Edit_logon", kRed);
  loggedIn_ = false;
  form_.setEnabled("Edit_haslo", true);
  form_.setEnabled("Button_zmiana_hasla", false);
  form_.setEnabled("ButtonRestart", false);
  form_.setEnabled("Button_polacz", true);
  for (const char* n : {"ButtonResetlimit", "Icon_get", "Icon_put", "Pobierz1", "Zapisz1"})
    form_.setEnabled(n, false);
  form_.setVisible("Panel_bar", false);
  liveOff();
  form_.setText("TextWersja", QStringLiteral("DOVU v ..."));
  form_.setTextColour("TextWersja", kGrey);
  form_.setValue("BarRSSI", 0);
}

void Session::liveOn() {
  liveDisplay_ = true;
  form_.setVisible("StatusBar", true);
  form_.setText("StatusBar", QString());
  form_.setText("LabelSMS", QString());
  form_.setText("LabelVoice", QString());
}

void Session::liveOff() {
  liveDisplay_ = false;
  form_.setVisible("StatusBar", false);
  for (const char* n : kLampNames) form_.setColour(n, kFaceColour);
  form_.setText("LabelSMS", QString());
  form_.setText("LabelVoice", QString());
  for (const char* n : kReadoutNames) form_.setColour(n, kGrey);
}

void Session::closePortDelayed() {
  // Lets the pending notifications drain for about a second before the port goes.
  for (int i = 0; i < 10; ++i) {
    Link::pauseMs(100);
    Link::processPending();
  }
  if (portOpen()) link_.port()->close();
}

void Session::onDeviceLost(const QString& reason) {
  // The adapter was unplugged (or the line hung up): nothing more can be sent or received, so the
  // window says so at once rather than after a wait's three time-outs, and the port is closed so
  // that the user can connect again once the adapter is back.
  const QString port = link_.port() ? link_.port()->port() : QString();
  showLoggedOut();
  showDisconnected();
  if (link_.port()) link_.port()->close();
  if (Notifier* n = link_.notifier()) {
    n->beep();
    n->message(MessageKind::Error, QString::fromUtf8(kPortUnavailableText),
               QStringLiteral("%1: urządzenie odłączone (%2)").arg(port, reason));
  }
}

}  // namespace dovu

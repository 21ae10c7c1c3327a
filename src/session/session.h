#pragma once
// The login session over the link: connect and log in, log out and disconnect, the once-a-second
// status poll, the password change, the one-shot restart and counter reset.  Its state (connected,
// logged in, the live display, the password, the firmware version, the last status record) is a
// set of values with a signal each; the window draws them.
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

#include "session/status.h"
#include "link/commands.h"
#include "link/link.h"

namespace dovu {

class Session : public QObject {
  Q_OBJECT
 public:
  explicit Session(Link& link, QObject* parent = nullptr);

  Link& link() { return link_; }

  // Whether a session is under way on an open port (POŁĄCZONY), and logged in (ZALOGOWANY).
  bool connected() const { return connected_; }
  bool loggedIn() const { return loggedIn_; }
  bool liveDisplay() const { return liveDisplay_; }
  bool portOpen() const;

  // The password every login sends (the window hands over what its password field holds before
  // POŁĄCZ); a successful change replaces it.
  const QString& password() const { return password_; }
  void setPassword(const QString& password) { password_ = password; }
  // The firmware version the controller gave with its login answer ("DOVU v 1.0"); empty while
  // logged out or when the answer carried none.
  const QString& firmwareVersion() const { return firmwareVersion_; }
  // The last whole status record since the login; nullopt before the first and after a logout.
  const std::optional<StatusRecord>& status() const { return status_; }
  // A status record came in (the dispatcher's status listener).
  void takeStatus(const StatusRecord& record);
  // The version byte of a login answer as the window shows it ("DOVU v 1.0"); empty when the
  // answer carries none.
  static QString versionOf(const Bytes& loginAnswer);

  enum class ConnectResult { PortUnavailable, NoAnswer, Refused, LoggedIn, Started };
  // POŁĄCZ: opens the port unless it is open, raises DTR and RTS and sends the login with
  // Edit_haslo.  A port that cannot be opened gives a PortUnavailable notice with the system's
  // reason and PortUnavailable; otherwise Started, and the outcome comes with loginFinished().
  ConnectResult connectAndLogin();
  // ROZŁĄCZ: logout request, a LoggedOut notice on its answer, port closed about a second later;
  // logoutFinished() once the request has ended.  quiet (closing the window): no notice, neither on
  // the answer nor on its absence.
  void logoutAndDisconnect(bool quiet = false);
  // Closing the main window once the logout (if any) has ended: port closed about a second later.
  void formClose();

  // "Zapisz" of the password dialog.  Only exactly four digits are sent (false otherwise, with
  // nothing sent): a longer or non-digit password could never be typed into the login box again.
  // The outcome comes with passwordChangeFinished().
  bool changePassword(const QString& newPassword);
  static bool validPassword(const QString& p);
  // The password and firmware dialogs switch the live display off while they are open.
  void dialogOpened() { liveDisplay_ = false; }
  void dialogClosed() { liveOn(); }

  void restart();        // 255 "B", no answer awaited
  // The restart the user asked for: 255 "B", then the poll rests while the controller boots and
  // the session logs in again once it answers; without an answer within the bound the window
  // shows logged out, without the no-answer notice.  Driven by the once-a-second poll.
  void restartDevice();
  bool restarting() const { return restartPolls_ >= 0; }
  // Seconds of silence while the controller boots, then login attempts (each up to three writes
  // a second apart) before the window gives up: about 22 s in all.
  struct RestartTiming {
    int bootPolls = 2;
    int loginAttempts = 5;
  } restartTiming;
  void resetCounters();  // 254 "G", no answer awaited

  void showLoggedIn();
  void showLoggedOut();
  void liveOn();
  void liveOff();
  void closePortDelayed();

  // Picks the port by name (ComCombo, a refresh).  While the port is open it is switched to the
  // new name; a port that then fails to open is reported like a failed POŁĄCZ and leaves the
  // window Disconnected.  False when the switch failed.
  bool selectPort(const QString& name);

  // A port error as a cause for the user ("the device was unplugged"), never the component's
  // numbered text, which goes to the log.
  static Cause portErrorCause(const SerialPortError& e);
  // Why the port failed to open, for the user: PortUnavailable with the port, the reason and, for
  // a refused permission, who may open it (the remedy the words give).
  static Problem portProblem(const SerialPortError& e, const QString& port);

 signals:
  // Each is emitted whenever the session states the value (also when it is unchanged), so that
  // the window redraws what goes with it.
  void connectedChanged(bool connected);
  void loggedInChanged(bool loggedIn);
  void liveDisplayChanged(bool on);
  // The restart the user asked for is under way: the controller boots, POŁĄCZ waits.
  void restartingShown();
  void passwordChanged(const QString& password);
  void firmwareVersionChanged(const QString& version);
  void statusChanged(const dovu::StatusRecord& record);

  void loginFinished(dovu::Session::ConnectResult result);
  void logoutFinished();
  // The port was closed (after a logout, a close or a lost device).
  void portClosed();
  void passwordChangeFinished(bool changed);
  // Something the user is to be told (a refused password, a port that failed, a logout answered),
  // emitted where it happened; the surface shows it once the step has ended.
  void notice(const dovu::Notice& notice);

 private:
  void showConnected();
  void showDisconnected();
  void poll();
  void restartStep();
  void endRestart() { restartPolls_ = -1; }
  void onDeviceLost(const QString& reason);
  void tell(MessageKind kind, const Problem& problem, bool beep) { emit notice(Notice{kind, problem, beep}); }

  void setFirmwareVersion(const QString& version);

  Link& link_;
  QString password_;
  QString firmwareVersion_;
  std::optional<StatusRecord> status_;
  bool connected_ = false;
  bool loggedIn_ = false;
  bool liveDisplay_ = false;
  int restartPolls_ = -1;  // seconds since the restart the user asked for; -1: none under way
  QTimer closeTimer_;      // closes the port a while after the session ended
};

// How long the port stays open after the session ended, for the pending notifications.
constexpr int kClosePortDelayMs = 1000;

}  // namespace dovu

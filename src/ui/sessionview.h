#pragma once
// Draws the session's state in the window's entries: the connection and login boxes, the buttons
// a session enables, the firmware label, the live status view (lamps, readouts, gauges) and the
// restart under way; and the progress of the transfers and reads.  None of them knows the window.
#include <QObject>

#include "exchange/controllercopy.h"
#include "exchange/transfer.h"
#include "ui/form.h"
#include "session/session.h"

namespace dovu::ui {

class SessionView : public QObject {
  Q_OBJECT
 public:
  SessionView(Session& session, Form& form, QObject* parent = nullptr);
  // The progress panel and the transfer buttons follow a transfer, and the bar a read.
  void watch(ConfigTransfer& transfer);
  void watch(ControllerRead& read);

  // The status record's lamps, readouts and gauges.
  static void showStatus(Form& form, const StatusRecord& s);

 private:
  void showConnected(bool connected);
  void showLoggedIn(bool loggedIn);
  void showLive(bool on);
  void showRestarting();
  void showVersion(const QString& version);
  void showProgress(bool on, const QString& label = {});

  Form& form_;
};

}  // namespace dovu::ui

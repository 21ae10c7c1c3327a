#pragma once
// The login session against the simulated controller: the simulator on its pseudo-terminal, a
// configuration the window holds, a link on the simulator's port at 4800 bit/s and the session over
// them, not yet connected.
#include <QStringList>
#include <memory>

#include "link/serialport.h"
#include "link/link.h"
#include "session/session.h"
#include "model/configuration.h"
#include "support/sim.h"

namespace dovu::test {

struct SimSession {
  explicit SimSession(QStringList simArgs = {});
  // Ends any wait still running and closes the port.
  ~SimSession();
  SimSession(const SimSession&) = delete;
  // The session's exchanges, each run to its end.
  Session::ConnectResult connect();
  bool changePassword(const QString& password);
  void logout();
  SimSession& operator=(const SimSession&) = delete;

  SimProcess sim;
  RecordingNotifier notifier;
  Configuration window = defaultConfiguration();
  SerialPort port;
  std::unique_ptr<Link> link;
  std::unique_ptr<Session> session;
};

}  // namespace dovu::test

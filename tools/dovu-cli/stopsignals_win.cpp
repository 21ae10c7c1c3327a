// Ctrl+C, Ctrl+Break and the console being closed on Windows.  The console's control handler runs
// on a thread of its own that the system starts; it records the stop as SIGINT (Ctrl+C) or SIGTERM
// (the others) and signals an event that the event loop watches through QWinEventNotifier, so the
// commands end in the same order as after a POSIX signal, without polling.
#include <QEventLoop>
#include <QTimer>
#include <QWinEventNotifier>
#include <atomic>
#include <csignal>
#include <windows.h>

#include "cli.h"

namespace dovu::cli {

QString StopSignals::name(int signal) {
  if (signal == kTimeLimit) return QStringLiteral("its time limit of %1 s").arg(limitSeconds());
  return signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
}

namespace {
std::atomic<int> pendingStop{0};
// Automatic reset: the notifier's wait consumes it, so a stop is reported once, never spun on.
HANDLE stopEvent = nullptr;
// Set once the command has ended in order, so that closing the console waits for the logout.
HANDLE endedEvent = nullptr;
// A stop that came before the first StopSignals watched is handed to it; once one has been made,
// each new one starts without a stop.
bool earlyTaken = false;

BOOL WINAPI onConsoleControl(DWORD type) {
  const int sig = type == CTRL_C_EVENT ? SIGINT : SIGTERM;
  int none = 0;
  pendingStop.compare_exchange_strong(none, sig);
  if (stopEvent) SetEvent(stopEvent);
  // The system ends the process as soon as the handler returns from these (at the latest after
  // about five seconds): give the command that time to log out and restore the line.
  if ((type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) && endedEvent)
    WaitForSingleObject(endedEvent, 4500);
  return TRUE;
}
}  // namespace

StopSignals::StopSignals() {
  armLimit();
  if (earlyTaken) pendingStop = 0;
  earlyTaken = true;
  // Made once: a handler of an earlier object may still hold them.
  if (!stopEvent) stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!endedEvent) endedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stopEvent) return;
  ResetEvent(stopEvent);
  if (endedEvent) ResetEvent(endedEvent);
  auto* notifier = new QWinEventNotifier(stopEvent);
  QObject::connect(notifier, &QWinEventNotifier::activated, [this] { take(); });
  platform_.reset(notifier);
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
  if (pendingStop.load()) SetEvent(stopEvent);
}

void StopSignals::catchEarly() { SetConsoleCtrlHandler(onConsoleControl, TRUE); }

void StopSignals::raiseUntaken() {
  // As the console's default handler would have ended it.
  if (!earlyTaken && pendingStop.load()) ExitProcess(STATUS_CONTROL_C_EXIT);
}

StopSignals::~StopSignals() {
  SetConsoleCtrlHandler(onConsoleControl, FALSE);
  platform_.reset();
  if (endedEvent) SetEvent(endedEvent);
}

void StopSignals::take() {
  const int sig = pendingStop.load();
  if (!sig || signal_) return;
  signal_ = sig;
  if (loop_) loop_->quit();
  if (onSignal) onSignal();
}

}  // namespace dovu::cli

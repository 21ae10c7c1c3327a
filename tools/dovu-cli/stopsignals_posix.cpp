// SIGINT, SIGTERM and SIGHUP on POSIX systems: the handler writes the signal's number to a pipe that the
// event loop watches.
#include <QEventLoop>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "cli.h"

namespace dovu::cli {

QString StopSignals::name(int signal) {
  if (signal == kTimeLimit) return QStringLiteral("its time limit of %1 s").arg(limitSeconds());
  switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("SIGTERM");
  }
}

namespace {
int stopPipe = -1;  // the write end, for the handler
volatile std::sig_atomic_t earlySignal = 0;  // came before any StopSignals watched
bool earlyTaken = false;

void onEarlySignal(int sig) {
  if (!earlySignal) earlySignal = sig;
}

void onStopSignal(int sig) {
  const int saved = errno;
  const char c = static_cast<char>(sig);
  [[maybe_unused]] const auto n = ::write(stopPipe, &c, 1);
  errno = saved;
}
}  // namespace

StopSignals::StopSignals() {
  armLimit();
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  stopPipe = pipe_[1];
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { take(); });
  struct sigaction sa {};
  sa.sa_handler = onStopSignal;
  // A closed terminal or a dropped remote session (SIGHUP) ends a command as an interrupt does.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
  // One that came before is handed over now; one after the handler's change goes to the pipe.
  if (const int early = earlySignal; early && !earlyTaken) {
    earlyTaken = true;
    onStopSignal(early);
  }
}

void StopSignals::catchEarly() {
  struct sigaction sa {};
  sa.sa_handler = onEarlySignal;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

void StopSignals::raiseUntaken() {
  if (const int early = earlySignal; early && !earlyTaken) {
    std::signal(early, SIG_DFL);
    std::raise(early);
  }
}

StopSignals::~StopSignals() {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
  notifier_.reset();
  stopPipe = -1;
  for (int& fd : pipe_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void StopSignals::take() {
  char c = 0;
  bool came = false;
  while (pipe_[0] >= 0 && ::read(pipe_[0], &c, 1) == 1) {
    if (!signal_) signal_ = static_cast<unsigned char>(c);
    came = true;
  }
  if (!came) return;
  if (loop_) loop_->quit();
  if (onSignal) onSignal();
}

}  // namespace dovu::cli

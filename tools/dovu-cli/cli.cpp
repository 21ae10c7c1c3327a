#include "cli.h"

#include <QEventLoop>

#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <limits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <termios.h>
#endif

#include "base/filename.h"
#include "firmware/bootloader.h"
#include "model/params.h"
#include "link/framecodec.h"
#include "link/portlist.h"
#include "wording.h"

namespace dovu::cli {

QStringList argumentsOf(int argc, char** argv) {
#ifdef Q_OS_WIN
  Q_UNUSED(argc);
  Q_UNUSED(argv);
  return QCoreApplication::arguments();  // already UTF-16 from the system
#else
  QStringList args;
  for (int i = 0; i < argc; ++i) args << fileNameFromNative(QByteArray(argv[i]));
  return args;
#endif
}

QByteArray nativeName(const QString& arg) { return nativeFileName(arg); }

QString displayName(const QString& arg) { return displayFileName(arg); }

namespace {
HeldErrors* heldErrors = nullptr;
}

HeldErrors::HeldErrors() : outer_(heldErrors) { heldErrors = this; }
HeldErrors::~HeldErrors() { heldErrors = outer_; }

QString printable(const QString& text) {
  QString shown;
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
      shown += QStringLiteral("\\x%1").arg(QString::number(u, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    else
      shown += c;
  }
  return shown;
}

void err(const QString& line) {
  if (heldErrors) {
    heldErrors->lines << line;
    return;
  }
  std::fprintf(stderr, "dovu-cli: %s\n", printable(line).toUtf8().constData());
  std::fflush(stderr);
}

namespace {
int outputErrno = 0;  // the first failed write to standard output
bool outputReported = false;
}  // namespace

void outBytes(const QByteArray& bytes) {
  if (bytes.isEmpty()) return;
  if (std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout) !=
          static_cast<std::size_t>(bytes.size()) &&
      !outputErrno)
    outputErrno = errno ? errno : EIO;
}

void out(const QString& line) { outBytes(line.toUtf8() + '\n'); }

bool checkOutput() {
  if (std::fflush(stdout) != 0 && !outputErrno) outputErrno = errno ? errno : EIO;
  if (!outputErrno && !std::ferror(stdout)) return true;
  if (!outputReported)
    err(QStringLiteral("the output could not be written to standard output: %1")
            .arg(QString::fromLocal8Bit(std::strerror(outputErrno ? outputErrno : EIO))));
  outputReported = true;
  return false;
}

Command::Command(const char* name, const char* summary, const char* syntax)
    : name_(QString::fromLatin1(name)), syntax_(QString::fromUtf8(syntax)) {
  parser.setApplicationDescription(QString::fromUtf8(summary));
  parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help")});
}

void Command::addPortOption() {
  needsPort_ = true;
  parser.addOption({QStringLiteral("port"),
                    QStringLiteral("serial port: a device such as /dev/ttyUSB0, or its bare name ttyUSB0"),
                    QStringLiteral("P")});
}

void Command::addPasswordOptions() {
  parser.addOption({QStringLiteral("password"),
                    QStringLiteral("access password, four digits (default %1).  Other users can read a "
                                   "command line in the process list: prefer %2 or --password-stdin.")
                        .arg(QLatin1String(kDefaultPassword), QLatin1String(kPasswordEnv)),
                    QStringLiteral("N")});
  parser.addOption({QStringLiteral("password-stdin"),
                    QStringLiteral("read the access password from the first line of standard input")});
}

void Command::addBackupOption() {
  parser.addOption({QStringLiteral("no-backup"),
                    QStringLiteral("do not keep what the controller holds in the backup history before writing")});
}

bool Command::backupSkipped() const {
  return parser.optionNames().contains(QStringLiteral("no-backup"));
}

void Command::addTimeLimitOption() {
  parser.addOption({QStringLiteral("time-limit"),
                    QStringLiteral("stop the command once it has run SECONDS, between two exchanges, with one line "
                                   "saying what the controller holds (exit status 1); without it the bound is "
                                   "the longest the command's exchanges take while none fails"),
                    QStringLiteral("SECONDS")});
}

void Command::addTraceOption() {
  parser.addOption({QStringLiteral("trace"),
                    QStringLiteral("print every frame on stderr in hex with its direction and command code; "
                                   "the bytes of the password and the PIN show as **")});
}

QString Command::helpText() const {
  // The usage line names the tool and the command, not the path the tool was started by.
  QString text = parser.helpText();
  const QString usage = QStringLiteral("Usage: ");
  const QString program = QCoreApplication::arguments().value(0);
  if (text.startsWith(usage + program))
    text.replace(usage.size(), program.size(), (QStringLiteral("dovu-cli ") + name_).trimmed());
  return text;
}

QString Command::detailText() const {
  // "dovu-cli status [options]:" as a heading, then the description (indented under it) and the
  // options but for --help.
  const QStringList lines = helpText().trimmed().split(QLatin1Char('\n'));
  QString text = lines.value(0).mid(7) + QStringLiteral(":\n");
  // The description as one line with single spaces, which a manual page sets as one paragraph.
  QString description;
  bool options = false, helpOption = false;
  for (const QString& line : lines.mid(1)) {
    if (line == QLatin1String("Options:")) {
      text += QStringLiteral("  ") + description.simplified() + QStringLiteral("\n\n");
      options = true;
    } else if (!options) {
      description += QLatin1Char(' ') + line;
    } else {
      if (line.startsWith(QLatin1String("  -"))) helpOption = line.startsWith(QLatin1String("  -h, --help"));
      if (!helpOption) text += line + QLatin1Char('\n');
    }
  }
  return text;
}

namespace {
bool detailHelp = false;
}

void showHelpAsDetail() { detailHelp = true; }

std::optional<int> Command::parse(const QStringList& args, int minPositional, int maxPositional) {
  if (!parser.parse(QStringList{QStringLiteral("dovu-cli")} + args)) {
    const QString command = name_.isEmpty() ? QString() : name_ + QLatin1Char(' ');
    err(command + parser.errorText());
    err(QStringLiteral("try 'dovu-cli %1--help'").arg(command));
    return kUsage;
  }
  if (parser.isSet(QStringLiteral("help"))) {
    std::fputs((detailHelp ? detailText() : helpText()).toUtf8().constData(), stdout);
    return kOk;
  }
  const auto n = parser.positionalArguments().size();
  if (n < minPositional || n > maxPositional) {
    err(QStringLiteral("usage: dovu-cli %1 [options] %2").arg(name_, syntax_).trimmed());
    return kUsage;
  }
  // An option that takes one value, given twice, is a mistake the tool cannot settle by guessing.
  for (const QString& name : {QStringLiteral("port"), QStringLiteral("password"), QStringLiteral("folder"),
                              QStringLiteral("site"), QStringLiteral("o"), QStringLiteral("time-limit")}) {
    if (repeatable_.contains(name)) continue;
    const bool output = name == QLatin1String("o");
    const auto given = parser.optionNames().count(name) + (output ? parser.optionNames().count(QStringLiteral("output")) : 0);
    if (given > 1) {
      err(QStringLiteral("%1: --%2 given more than once").arg(name_.isEmpty() ? QStringLiteral("dovu-cli") : name_,
                                                              output ? QStringLiteral("output") : name));
      return kUsage;
    }
  }
  if (needsPort_ && !parser.isSet(QStringLiteral("port"))) {
    err(QStringLiteral("%1 needs --port P").arg(name_));
    return kUsage;
  }
  if (parser.optionNames().contains(QStringLiteral("time-limit"))) {
    bool ok = false;
    const int seconds = parser.value(QStringLiteral("time-limit")).toInt(&ok);
    if (!ok || seconds < 1 || seconds > StopSignals::kMaxTimeLimitS) {
      err(QStringLiteral("%1: --time-limit takes whole seconds from 1 to %2").arg(name_).arg(StopSignals::kMaxTimeLimitS));
      return kUsage;
    }
    StopSignals::setTimeLimit(seconds);
  }
  if (parser.optionNames().contains(QStringLiteral("trace"))) enableTrace();
  return std::nullopt;
}

namespace {

#ifdef Q_OS_WIN
// While one lives, a console on standard input does not echo what is typed.
class EchoOff {
 public:
  EchoOff() {
    in_ = GetStdHandle(STD_INPUT_HANDLE);
    if (in_ != INVALID_HANDLE_VALUE && GetConsoleMode(in_, &mode_))
      on_ = SetConsoleMode(in_, mode_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
  }
  ~EchoOff() {
    if (on_) SetConsoleMode(in_, mode_);
  }
  bool active() const { return on_; }

 private:
  HANDLE in_ = INVALID_HANDLE_VALUE;
  DWORD mode_ = 0;
  bool on_ = false;
};
#else
// While one lives, a terminal on standard input does not echo what is typed.  A signal that ends
// the program meanwhile (Ctrl+C at the prompt) puts the terminal's settings back first; tcsetattr
// may be called from a handler.
termios savedTerminal;
constexpr int kEchoSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};
struct sigaction savedActions[std::size(kEchoSignals)];

void restoreTerminalAndRaise(int sig) {
  ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

class EchoOff {
 public:
  EchoOff() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0) return;
    struct sigaction sa {};
    sa.sa_handler = restoreTerminalAndRaise;
    for (std::size_t i = 0; i < std::size(kEchoSignals); ++i) ::sigaction(kEchoSignals[i], &sa, &savedActions[i]);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    on_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    if (!on_) restoreActions();
  }
  ~EchoOff() {
    if (!on_) return;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    restoreActions();
  }
  bool active() const { return on_; }

 private:
  static void restoreActions() {
    for (std::size_t i = 0; i < std::size(kEchoSignals); ++i) ::sigaction(kEchoSignals[i], &savedActions[i], nullptr);
  }
  bool on_ = false;
};
#endif

}  // namespace

std::optional<QString> Command::password() {
  if (parser.isSet(QStringLiteral("password"))) return parser.value(QStringLiteral("password"));
  if (parser.isSet(QStringLiteral("password-stdin"))) {
    // Typed at a terminal, the password is not shown.
    const EchoOff echoOff;
    if (echoOff.active()) {
      std::fputs("access password: ", stderr);
      std::fflush(stderr);
    }
    // At most a short line: a password is four digits, and standard input may be endless
    // (/dev/zero, a pipe from a runaway program).  Anything longer fails the password check.
    constexpr std::size_t kMaxLine = 64;
    std::string line;
    for (int c; line.size() < kMaxLine && (c = std::getchar()) != EOF && c != '\n';) line += static_cast<char>(c);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return QString::fromStdString(line);
  }
  if (qEnvironmentVariableIsSet(kPasswordEnv)) return qEnvironmentVariable(kPasswordEnv);
  return std::nullopt;
}

bool checkPassword(const QString& password) {
  const bool ok = Session::validPassword(password);
  if (!ok) err(QStringLiteral("the access password must be exactly four digits"));
  return ok;
}

bool checkPortExists(const QString& port) {
  if (portExists(port)) return true;
  err(QStringLiteral("no such port: %1 (see 'dovu-cli ports')").arg(port));
  return false;
}

namespace {
const auto toolStarted = std::chrono::steady_clock::now();
bool limitGiven = false;  // --time-limit
qint64 limitMs = 0;       // the bound in force, counted from the tool's start; 0: none

qint64 sinceStartMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - toolStarted).count();
}
}  // namespace

qint64 workBoundMs(int configRequests, int blocks) {
  // Each request: its time-outs but the last, then its answer; blocks the same at their shorter
  // time-out.  The login, the logout and the bootloader's waits and restart take the rest.
  constexpr qint64 kRequestMs = kRepetitions * kReadTicks * kTickMs + 2000;
  constexpr qint64 kBlockMs = kRepetitions * kBlockTicks * kTickMs + 1000;
  constexpr qint64 kRestMs = 30000;
  return kRestMs + configRequests * kRequestMs + blocks * kBlockMs;
}

int downloadRequests() { return 2 * static_cast<int>(paramTable().size()); }

void StopSignals::setTimeLimit(int seconds) {
  limitGiven = true;
  limitMs = seconds * 1000LL;
}

int StopSignals::limitSeconds() { return static_cast<int>((limitMs + 999) / 1000); }

void StopSignals::limitWork(qint64 ms) {
  if (limitGiven) return;
  limitMs = sinceStartMs() + ms;
  armLimit();
}

void StopSignals::armLimit() {
  if (limitMs <= 0) return;
  auto timer = std::make_unique<QTimer>();
  timer->setSingleShot(true);
  timer->setTimerType(Qt::CoarseTimer);
  QObject::connect(timer.get(), &QTimer::timeout, [this] { limitReached(); });
  timer->start(static_cast<int>(std::clamp<qint64>(limitMs - sinceStartMs(), 0, std::numeric_limits<int>::max())));
  limit_ = std::move(timer);
}

void StopSignals::limitReached() {
  if (signal_) return;
  signal_ = kTimeLimit;
  if (loop_) loop_->quit();
  if (onSignal) onSignal();
}

// The platform files say how a stop arrives (take()); waiting for one is the same everywhere.
int StopSignals::signal() {
  take();  // also when no event loop ran since
  // The limit holds also when its timer has not had its turn yet.
  if (!signal_ && limit_ && sinceStartMs() >= limitMs) signal_ = kTimeLimit;
  return signal_;
}

bool StopSignals::wait(int ms) {
  if (signal()) return false;
  QEventLoop l;
  loop_ = &l;
  QTimer::singleShot(ms, &l, &QEventLoop::quit);
  l.exec(QEventLoop::WaitForMoreEvents);
  loop_ = nullptr;
  return signal() == 0;
}

void enableTrace() { QLoggingCategory::setFilterRules(QStringLiteral("dovu.link.debug=true")); }

void StderrNotifier::message(MessageKind kind, const QString& text, const QString& detail) {
  if (kind == MessageKind::Error || kind == MessageKind::Warning) ++errors;
  lastText = text;
  lastDetail = detail;
  if (quiet || (quietErrors && kind == MessageKind::Error)) return;
  QString line = text;
  if (!detail.isEmpty()) line += QStringLiteral(": ") + QString(detail).replace(QLatin1Char('\n'), QLatin1Char(' '));
  // Only a warning or an error is a "dovu-cli:" line; news such as a finished update is a note.
  if (kind == MessageKind::Error || kind == MessageKind::Warning) {
    err(line);
  } else if (!heldErrors) {
    std::fprintf(stderr, "%s\n", printable(line).toUtf8().constData());
    std::fflush(stderr);
  }
}

void StderrNotifier::report(MessageKind kind, const Problem& problem) {
  message(kind, englishText(problem.cause), englishReason(problem));
}

Progress::Progress(const char* label, int total) : label_(label), total_(total), tty_(isatty(fileno(stderr))) {}

void Progress::show(int value) {
  if (tty_) {
    std::fputc('\r', stderr);
    draw(value);
    drawn_ = true;
    if (value >= total_) finish();
    return;
  }
  const int tenth = total_ > 0 ? value * 10 / total_ : 10;
  if (tenth == lastTenth_ && value < total_) return;
  lastTenth_ = tenth;
  draw(value);
  std::fputc('\n', stderr);
}

void Progress::finish() {
  if (drawn_) std::fputc('\n', stderr);
  drawn_ = false;
}

void Progress::draw(int value) {
  constexpr int kWidth = 40;
  const int filled = total_ > 0 ? std::clamp(value, 0, total_) * kWidth / total_ : kWidth;
  const std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                          std::string(static_cast<std::size_t>(kWidth - filled), '-');
  if (total_ == 100)
    std::fprintf(stderr, "%s: [%s] %3d%%", label_, bar.c_str(), value);
  else
    std::fprintf(stderr, "%s: [%s] %d/%d", label_, bar.c_str(), value, total_);
  std::fflush(stderr);
}

Controller::Controller(const QString& portName, const QString& password) {
  port.setPort(portName);
  port.setBaudRate(kLineBitsPerSecond);
  link = std::make_unique<Link>(&port);
  session = std::make_unique<Session>(*link);
  // The tool prints what happened at once: stderr opens no nested event loop.
  QObject::connect(link.get(), &Link::notice, [this](const Notice& n) { notifier.show(n); });
  QObject::connect(session.get(), &Session::notice, [this](const Notice& n) { notifier.show(n); });
  session->setPassword(password);
}

Controller::~Controller() {
  if (port.isOpen()) port.close();
}

bool Controller::login() {
  if (!checkPortExists(port.port())) return false;
  // One line says what went wrong, in the tool's words.
  notifier.quiet = true;
  Session::ConnectResult result = session->connectAndLogin();
  if (result == Session::ConnectResult::Started) {
    QEventLoop loop;
    QObject::connect(session.get(), &Session::loginFinished, &loop, [&](Session::ConnectResult r) {
      result = r;
      loop.quit();
    });
    loop.exec();
  }
  notifier.quiet = false;
  switch (result) {
    case Session::ConnectResult::LoggedIn:
      // The tool asks for the status itself; no background poll.
      session->liveOff();
      return true;
    case Session::ConnectResult::PortUnavailable:
      err(QStringLiteral("cannot open %1").arg(QString(notifier.lastDetail).replace(QLatin1Char('\n'), QLatin1Char(' '))));
      return false;
    case Session::ConnectResult::Started:  // ended above
    case Session::ConnectResult::NoAnswer:
      err(QStringLiteral("no answer from the controller on %1; check the port, the cable and the controller's power")
              .arg(port.port()));
      return false;
    case Session::ConnectResult::Refused: {
      // Only the controller's "N" says the password is wrong; anything else is a garbled answer.
      const Bytes& answer = link->rxPayload();
      if (!answer.empty() && byteAt(answer, 0) == kLoginRefused)
        err(QStringLiteral("wrong password; give the controller's access password (--password-stdin, %1 or "
                           "--password)")
                .arg(QLatin1String(kPasswordEnv)));
      else
        err(QStringLiteral("the controller's answer to the login was not understood (%1)")
                .arg(answer.empty() ? QStringLiteral("empty") : QString::fromStdString(toHex(answer))));
      return false;
    }
  }
  return false;
}

void Controller::logoutQuietly() {
  if (port.isOpen() && session->loggedIn()) {
    session->liveOff();
    notifier.quiet = true;
    Request request;
    request.code = kCodeLogout;
    request.payload = kLogoutPayload;
    request.ticks = kSessionTicks;
    request.pauseAfterMs = 0;
    runRequest(*link, std::move(request));
    notifier.quiet = false;
    session->showLoggedOut();
  }
  if (port.isOpen()) port.close();
}

bool Controller::logout() {
  if (!port.isOpen()) return false;
  Request logout;
  logout.code = kCodeLogout;
  logout.payload = kLogoutPayload;
  logout.ticks = kSessionTicks;
  logout.pauseAfterMs = 0;
  // The request's own message is replaced by the tool's line.
  notifier.quiet = true;
  const bool answered = runRequest(*link, std::move(logout)) == Request::Outcome::Answered;
  notifier.quiet = false;
  session->showLoggedOut();
  port.close();
  if (!answered) err(QStringLiteral("no answer to the logout on %1").arg(port.port()));
  return answered;
}

Request::Outcome runRequest(Link& link, Request request) {
  // An end that comes before the loop runs (a quit before exec() is lost) is not waited for.
  QEventLoop loop;
  auto outcome = Request::Outcome::Cancelled;
  bool ended = false;
  auto done = std::move(request.done);
  request.done = [&](Request::Outcome o) {
    outcome = o;
    ended = true;
    if (done) done(o);
    loop.quit();
  };
  link.send(std::move(request));
  if (!ended) loop.exec();
  return outcome;
}

bool runToEnd(ConfigTransfer& transfer, const Configuration* upload, const std::vector<std::size_t>& only) {
  QEventLoop loop;
  bool ok = false;
  // A stop already asked for ends the transfer inside its start, before the loop would wait.
  bool ended = false;
  const auto connection = QObject::connect(&transfer, &ConfigTransfer::finished, &loop, [&](bool result) {
    ok = result;
    ended = true;
    loop.quit();
  });
  if ((upload ? transfer.startUpload(*upload, only) : transfer.startDownload()) && !ended) loop.exec();
  QObject::disconnect(connection);
  if (!ok && transfer.portError()) throw *transfer.portError();
  return ok;
}

}  // namespace dovu::cli

#pragma once
// Shared plumbing of the command-line tool: argument parsing, file names as the system gives them,
// stderr messages, the progress reporter, and a logged-in link to a controller built on the same
// core as the window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QEventLoop>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>

#include "link/serialport.h"
#include "exchange/transfer.h"
#include "link/link.h"
#include "base/notifier.h"
#include "session/session.h"
#include "model/configuration.h"
#include "storage/backupstore.h"

namespace dovu::cli {

// Exit codes.
enum Exit : int { kOk = 0, kFailure = 1, kUsage = 2 };

constexpr const char* kPasswordEnv = "DOVU_PASSWORD";

// The arguments as the system gives them.  A byte that is not part of valid UTF-8 is kept as the
// lone surrogate U+DC00 + byte, so that nativeName() gives the same bytes back and a file whose
// name is not UTF-8 can still be opened.
QStringList argumentsOf(int argc, char** argv);
QByteArray nativeName(const QString& arg);
// The argument for messages: kept bytes show as U+FFFD.
QString displayName(const QString& arg);

// "dovu-cli: <line>" on stderr; control characters in it (a file or port name, a reason quoting
// a file) show as \xNN, so that no text can forge a line or reach the terminal as a command.
void err(const QString& line);

// Standard output.  Every command writes through these; a write that fails is remembered, and
// checkOutput() (which main runs after every command) reports it once and turns success into
// failure: a full disk or a closed reader never ends a command as if its output had arrived.
void out(const QString& line);  // the line and a newline
void outBytes(const QByteArray& bytes);
// Flushes standard output; false after reporting that a write to it failed.
bool checkOutput();
// Text for standard output with its control characters as \xNN: a port name or a file name from
// the backup index.
QString printable(const QString& text);

// While one lives, err() keeps its lines instead of printing them: for a step whose failure the
// caller folds into its own one line.
class HeldErrors {
 public:
  HeldErrors();
  ~HeldErrors();
  HeldErrors(const HeldErrors&) = delete;
  HeldErrors& operator=(const HeldErrors&) = delete;
  QStringList lines;

 private:
  HeldErrors* outer_;
};

// One subcommand's options.  parse() handles --help (stdout, exit 0) and reports a bad option or
// a wrong number of arguments (exit 2).
class Command {
 public:
  // syntax: the positional arguments as shown in the usage line ("FILE.dvf").
  Command(const char* name, const char* summary, const char* syntax = "");
  QCommandLineParser parser;
  // --port P, --password N / --password-stdin (and DOVU_PASSWORD), --trace: each alone, or all
  // three.
  void addPortOption();
  // An option that may be given more than once (each value counts).
  void allowRepeated(const QString& name) { repeatable_ << name; }
  // The port option stays, but parse() no longer asks for it.
  void portOptional() { needsPort_ = false; }
  void addPasswordOptions();
  void addTraceOption();
  // --no-backup: the write starts without keeping what the controller held.
  void addBackupOption();
  bool backupSkipped() const;
  // --time-limit SECONDS: the whole command's bound (StopSignals::setTimeLimit).
  void addTimeLimitOption();
  void addLinkOptions() {
    addPortOption();
    addPasswordOptions();
    addTraceOption();
    addTimeLimitOption();
  }
  // Nullopt to go on; otherwise the exit code to leave with.  positional: how many arguments.
  std::optional<int> parse(const QStringList& args, int minPositional, int maxPositional);
  // The password asked for by option, standard input or environment, in that order; nullopt when
  // none was given.  Reads standard input once.
  std::optional<QString> password();
  QString port() const { return parser.value(QStringLiteral("port")); }
  QStringList positional() const { return parser.positionalArguments(); }
  QString helpText() const;
  // The help as one section of the tool's whole help: a heading, the description, the options.
  QString detailText() const;

 private:
  QString name_;
  QString syntax_;
  bool needsPort_ = false;
  QStringList repeatable_;
};

// From now on --help prints detailText() (for the tool's --help-all).
void showHelpAsDetail();

// Exactly four ASCII digits, as the controller's login compares them.  Reports otherwise.
bool checkPassword(const QString& password);

// The device a port name stands for: a bare name such as "ttyUSB0" is a device under /dev, as the
// port opens it.  False after reporting a port that does not exist.
bool checkPortExists(const QString& port);

// Turns on the frame trace on stderr (the "dovu.link" logging category).
void enableTrace();

// SIGINT, SIGTERM and SIGHUP while an object lives: the handler only writes the signal's number to a
// pipe, which the event loop watches (the waits run it), so no work is done inside the handler.
// A command looks at signal() between frames and ends in order: the frame in flight finishes, the
// session logs out, the line is restored, and the exit status is 128 + the signal's number.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // The first signal that came, 0 while none did.
  int signal();
  // Waits in the event loop until the time is up or a signal came; false after a signal.
  bool wait(int ms);
  // Called from the event loop when a signal has come.
  std::function<void()> onSignal;
  // Exit status after a stop: 128 + the signal's number, 1 after the time limit.
  static int exitCode(int signal) { return signal == kTimeLimit ? 1 : 128 + signal; }
  // signal() when the command's time limit ended it: the command stops between two exchanges as
  // after a signal, and its one line says so.
  static constexpr int kTimeLimit = -1;
  static constexpr int kMaxTimeLimitS = 7 * 24 * 3600;
  // --time-limit SECONDS: the whole command, counted from the tool's start.
  static void setTimeLimit(int seconds);
  // A command's own bound, from its work; --time-limit, when given, takes its place.
  void limitWork(qint64 ms);
  // The bound in force, in whole seconds; 0 while none.
  static int limitSeconds();
  // Called first in main: a signal that comes before a command watches for one (a slow start on a
  // busy machine) is kept, and the first StopSignals takes it, so that it does not end the tool
  // without a word.
  static void catchEarly();
  // A kept signal that no command took ends the tool as the signal would have.
  static void raiseUntaken();
  // "SIGINT", "SIGTERM" or "SIGHUP", for the one line that says what the signal ended; after the
  // time limit "its time limit of N s".
  static QString name(int signal);

 private:
  void take();
  void armLimit();
  void limitReached();
  std::unique_ptr<QObject> limit_;  // the timer of the time limit
  int pipe_[2] = {-1, -1};
  int signal_ = 0;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<QObject> platform_;  // Windows: the notifier of the console's stop event
  QEventLoop* loop_ = nullptr;
};

class StderrNotifier : public Notifier {
 public:
  void beep() override {}
  void message(MessageKind kind, const QString& text, const QString& detail) override;
  // Worded in English (wording.h): lastText the headline, lastDetail the rest.
  void report(MessageKind kind, const Problem& problem) override;
  int errors = 0;
  // While quiet, messages are only kept (the caller words the one line itself); quietErrors keeps
  // back errors alone.
  bool quiet = false;
  bool quietErrors = false;
  QString lastText;
  QString lastDetail;
};

// Progress on stderr, "flash: [#####-----]  50%" or "upload: [##---] 12/51": redrawn in place on
// a terminal; elsewhere one line per tenth of the way, so that a log stays short.
class Progress {
 public:
  Progress(const char* label, int total);
  ~Progress() { finish(); }
  void show(int value);
  // Ends the line in place, so that the next message gets a line of its own.
  void finish();

 private:
  void draw(int value);
  const char* label_;
  int total_;
  bool tty_;
  bool drawn_ = false;
  int lastTenth_ = -1;
};

// A controller session for one command: port opened, DTR/RTS raised, logged in, live display off
// (the tool polls itself).  Errors are reported on stderr with a one-line reason.
class Controller {
 public:
  Controller(const QString& port, const QString& password);
  ~Controller();
  // Opens and logs in; false after reporting why.
  bool login();
  // Logs out (waits for the answer) and closes the port; false after reporting an unanswered
  // logout.
  bool logout();
  // After a command was interrupted or failed: logs out where the line still allows it, quietly
  // (the logout's own failure is then not the story), and closes the port.
  void logoutQuietly();

  // What downloadFromController read (without the firmware version and the port).
  Configuration config;
  StderrNotifier notifier;
  SerialPort port;
  std::unique_ptr<Link> link;
  std::unique_ptr<Session> session;
  std::shared_ptr<void> refuseFrames;  // the link's reader of last resort, when one is set
};

// The longest the exchanges of a command's work take while none of them fails, every request
// answered only at its last attempt: configRequests configuration reads or writes, blocks firmware
// blocks, with the login, the logout and the bootloader's waits.
qint64 workBoundMs(int configRequests, int blocks);
// A download's reads: a disturbed line has each parameter read twice.
int downloadRequests();

// Runs one request to its end in an event loop of the tool's own.
Request::Outcome runRequest(Link& link, Request request);

// Runs a download (upload null) or an upload of *upload to its end in an event loop of the tool's
// own; true when every parameter was answered.  A failure of the port is thrown as it came.
// only: an upload's chosen parameters (empty: all).
bool runToEnd(ConfigTransfer& transfer, const Configuration* upload, const std::vector<std::size_t>& only = {});

// Logs in to the controller on port, downloads its whole configuration into the returned
// controller's config and logs out.  Nullptr on failure: *error holds the reason, or is empty when
// it has been reported already.  *firmware, when given, gets the version the login reported.
// stop, when given, ends the download between two parameters when it returns true.
// A download that stop ended logs out first; *error then says it was stopped.
std::unique_ptr<Controller> downloadFromController(const QString& port, const QString& password, QString* error,
                                                  QString* firmware = nullptr,
                                                  const std::function<bool()>& stop = {});

// Before a write to the controller on port: downloads what it holds (a login of its own) and keeps
// it in the backup history.  False after reporting why, with "<verb> not started": the write must
// not start.  On success says on stderr which backup holds it.
// A signal (stop) ends the backup's download between two parameters; the line then says the write
// was interrupted before it started.
// store: the history that takes it.
bool backupBeforeWrite(const QString& port, const QString& password, BackupReason reason, const char* verb,
                       StopSignals& stop, BackupStore& store);

// Uploads a configuration file (or its chosen parameters, --only) to the controller, with the
// backup before it into store; what "upload" and "backups restore" run.  cmd has the link, backup
// and --only options parsed.
int uploadFile(Command& cmd, const QString& file, const char* verb, BackupStore& store);

// Commands: the arguments after the command's name.
int cmdPorts(const QStringList& args);     // cmd_status.cpp
int cmdStatus(const QStringList& args);    // cmd_status.cpp
int cmdDownload(const QStringList& args);  // cmd_transfer.cpp
int cmdUpload(const QStringList& args);    // cmd_transfer.cpp
int cmdShow(const QStringList& args);      // cmd_file.cpp
int cmdBackups(const QStringList& args);   // cmd_backups.cpp
// Every field of a .dvc or .json file in words (or its JSON form) on stdout: what "show" prints.
int showConfig(const QString& path, bool json);
int cmdConvert(const QStringList& args);   // cmd_file.cpp
int cmdDiff(const QStringList& args);      // cmd_file.cpp
int cmdFlash(const QStringList& args);     // cmd_flash.cpp
int cmdReport(const QStringList& args);    // cmd_report.cpp
int cmdProvision(const QStringList& args); // cmd_provision.cpp

}  // namespace dovu::cli

#pragma once
// Shared plumbing of the command-line tool: argument access, stderr messages, and a logged-in
// link to a controller built on the same core as the window.
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "link/serialport.h"
#include "link/link.h"
#include "base/notifier.h"
#include "session/session.h"
#include "model/form.h"

namespace dovu::cli {

// Exit codes.
enum Exit : int { kOk = 0, kFailure = 1, kUsage = 2 };

class Args {
 public:
  explicit Args(QStringList a) : args_(std::move(a)) {}
  // Removes "--name value" and returns the value.
  std::optional<QString> option(const QString& name);
  // Removes "--name" and returns whether it was there.
  bool flag(const QString& name);
  // What is left, in order (positional arguments).
  const QStringList& rest() const { return args_; }
  // Anything still starting with "--" is an unknown option.
  std::optional<QString> unknownOption() const;

 private:
  QStringList args_;
};

void err(const QString& line);  // "dovu-cli: <line>" on stderr

class StderrNotifier : public Notifier {
 public:
  void beep() override {}
  void message(MessageKind kind, const QString& text, const QString& detail) override;
  int errors = 0;
  // While quiet, messages are only kept (the caller words the one line itself).
  bool quiet = false;
  QString lastText;
  QString lastDetail;
};

// A controller session for one command: port opened, DTR/RTS raised, logged in, live display off
// (the tool polls itself).  Errors are reported on stderr with a one-line reason.
class Controller {
 public:
  Controller(const QString& port, const QString& password, bool trace);
  ~Controller();
  // Opens and logs in; false after reporting why.
  bool login();
  // Logs out (waits for the answer) and closes the port.
  void logout();

  Form form;
  StderrNotifier notifier;
  SerialPort port;
  std::unique_ptr<Link> link;
  std::unique_ptr<Session> session;

 private:
  bool trace_;
};

// Commands.
int cmdPorts(Args& a);     // cmd_status.cpp
int cmdStatus(Args& a);    // cmd_status.cpp
int cmdDownload(Args& a);  // cmd_transfer.cpp
int cmdUpload(Args& a);    // cmd_transfer.cpp
int cmdShow(Args& a);      // cmd_file.cpp
int cmdConvert(Args& a);   // cmd_file.cpp
int cmdDiff(Args& a);      // cmd_file.cpp
int cmdFlash(Args& a);     // cmd_flash.cpp

}  // namespace dovu::cli

#pragma once
// Test helpers shared by the end-to-end tests: a simulated controller in a child process, and a
// notifier that records messages instead of showing boxes.
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "base/bytes.h"
#include "base/notifier.h"

// A simulator's options print as their command line ("--drop-code 40:1"), so that a test run
// with them as its parameter has a readable name in the test listing.  Found by argument-dependent
// lookup, which looks in the namespace of QList: the global one.
inline void PrintTo(const QStringList& args, std::ostream* os) { *os << args.join(QLatin1Char(' ')).toStdString(); }

namespace dovu::test {

// One message or beep, as the user would have seen it.
struct Recorded {
  bool beep = false;
  MessageKind kind = MessageKind::Plain;
  QString text;
  QString detail;
  Problem problem;  // what the core reported; cause None for a message worded by the caller
};

class RecordingNotifier : public Notifier {
 public:
  void beep() override { events.push_back({true, MessageKind::Plain, {}, {}, {}}); }
  void message(MessageKind kind, const QString& text, const QString& detail) override {
    if (whenShown) whenShown();
    events.push_back({false, kind, text, detail, {}});
  }
  // Kept as the cause; the text is the cause's English words, for a readable failure.
  void report(MessageKind kind, const Problem& problem) override;
  // Records what a core object (the link, the session, a transfer, a backup) signals, as the
  // surface shows it.
  template <typename Sender>
  void listen(Sender* sender) {
    QObject::connect(sender, &Sender::notice, [this](const Notice& n) { show(n); });
  }
  // The notices a storage call hands back, recorded once the call has returned:
  // loadConfigFile(form, path, notifier.collect()).
  struct Collect {
    RecordingNotifier& to;
    Notices notices;
    ~Collect() { to.show(notices); }
    operator Notices*() { return &notices; }
  };
  Collect collect() { return Collect{*this, {}}; }
  // A callback that records a notice (the firmware update's onNotice).
  std::function<void(const Notice&)> shows() {
    return [this](const Notice& n) { show(n); };
  }
  int count(const QString& text) const;
  int count(Cause cause) const;
  int beeps() const;
  QStringList texts() const;
  std::vector<Recorded> events;
  // Called as each message is recorded, before it is kept: what the program looked like when the
  // user would have seen the box.
  std::function<void()> whenShown;
};

// A frame from the simulator's frame log.
struct LoggedFrame {
  bool fromPc = false;
  Bytes bytes;
  int code() const { return bytes.size() > 1 ? static_cast<unsigned char>(bytes[1]) : -1; }
};

// dovu-sim in a child process on a fresh pseudo-terminal, with its advertisement, frame log,
// parameter dump and firmware image in a temporary folder.
class SimProcess {
 public:
  explicit SimProcess(QStringList extraArgs = {});
  ~SimProcess();
  bool started() const { return !port_.isEmpty(); }
  const QString& port() const { return port_; }
  QString dir() const { return dir_.path(); }
  QString logPath() const { return dir_.filePath(QStringLiteral("frames.log")); }
  QString dumpPath() const { return dir_.filePath(QStringLiteral("dump.txt")); }
  QString imagePath() const { return dir_.filePath(QStringLiteral("image.bin")); }
  // The frames logged so far; fromPc selects the direction.
  std::vector<LoggedFrame> frames() const;
  std::vector<LoggedFrame> framesFromPc() const;
  // The parameters the simulator holds, by read code (from its dump file).
  std::vector<std::pair<int, Bytes>> dump() const;
  Bytes dumped(int readCode) const;
  void stop();
  QProcess& process() { return proc_; }

 private:
  QTemporaryDir dir_;
  QProcess proc_;
  QString port_;
};

}  // namespace dovu::test

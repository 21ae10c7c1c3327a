// The fault campaign: seeded, randomised cases that run the real dovu-cli against dovu-sim on a
// paced line while faults are injected (the simulator's failure modes, a stopped, continued or
// killed controller, a signal to the tool, a full disk), and check what the user was promised:
// - exit 0: the file equals the controller (download), the controller equals the file (upload),
//   the controller's image equals the firmware (flash), the saved file is the whole new one;
// - exit != 0: one line says what happened, the controller holds the old configuration, the new
//   one, or exactly the mix that line states, and a file is the old one or absent;
// - a controller written to (an upload that changed it, a flash that ended) had what it held kept
//   in the backup history first;
// - nothing runs past its bound or spins, and neither a port lock nor a temporary file is left;
// - the backup history (cases of their own: a history seeded with backups dated by a clock that
//   jumps forward and back, at its limit, other programs storing at once, a signal at any moment
//   including the logins, a restore of the oldest backup, standard output on a full disk): no run
//   outlives its bound after a signal, every announced backup exists afterwards, a configuration's
//   newest backup and the one being restored are never removed, and a failed output write never
//   ends with exit 0.
// Each case is a seed: --seed S --cases 1 replays it.  Seeds found failing are kept below.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <vector>
#include <random>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "firmware/bootloader.h"

#include "storage/backupstore.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "support/formfiles.h"
#include "storage/configjson.h"
#include "model/params.h"
#include "base/notifier.h"
#include "support/jsonpath.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "wording.h"

namespace {

using dovu::Bytes;
using dovu::test::SimProcess;
using Clock = std::chrono::steady_clock;

// The tool under test (--cli: another build of it, to see what the campaign finds there).
QByteArray toolPath = QByteArrayLiteral(DOVU_CLI_PATH);

// Set by the options: see main() and the campaign under load below.
int loadProcesses = 0;
bool stopTool = false;
QString recordDir;
bool recordAll = false;  // --record-all: passing cases are kept too
// --replay: the simulator plays this frame log back instead of answering by itself.
QString replayFrames;

// The simulator's options for a case: its modes, and the recording when one is replayed.
QStringList simArgs(QStringList modes) {
  if (!replayFrames.isEmpty()) modes << QStringLiteral("--replay") << replayFrames;
  return modes;
}

// Seeds that found a fault, run first in every slice.  Mended ones must pass; a case whose fault
// belongs to work still under way is listed with what it shows and counts as expected until it
// passes.
struct KnownCase {
  unsigned seed;
  const char* expected;  // nullptr: must pass
};
const std::vector<KnownCase> kKnownCases = {
#include "known_cases.inc"
};
// Seeds that failed only under load; they keep every draw (they are not kept cases above), and a
// run with --load runs them first.
const std::vector<unsigned> kLoadedCases = {
#include "loaded_cases.inc"
};

enum class Command { Download, Upload, Flash, Status, Save };
const char* nameOf(Command c) {
  switch (c) {
    case Command::Download: return "download";
    case Command::Upload: return "upload";
    case Command::Flash: return "flash";
    case Command::Status: return "status";
    case Command::Save: return "save";
  }
  return "?";
}

// What every case shares: the clean results the oracle compares with.
struct Reference {
  QTemporaryDir dir;
  QByteArray download;                        // a clean download of a fresh controller
  std::vector<std::pair<int, Bytes>> fresh;   // a fresh controller's parameters
  std::vector<QString> uploadFiles;           // files to upload
  std::vector<std::vector<std::pair<int, Bytes>>> uploaded;  // what each leaves in a fresh controller
  QString dvc;                                // a configuration file to save as JSON
  QByteArray saved;                           // its clean conversion
  std::vector<Bytes> firmware;                // whole .dvf files
  QString fullDir;                            // a small file system of its own (root only)
  ~Reference() {
    if (!fullDir.isEmpty()) std::system(("umount '" + QFile::encodeName(fullDir) + "'").constData());
  }
};

// Fills a small file system up to its last byte.
void fillUp(const QString& dir) {
  QFile filler(dir + QStringLiteral("/filler"));
  if (!filler.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
  const QByteArray block(4096, 'f');
  while (filler.write(block) == block.size() && filler.flush()) {
  }
  filler.close();
  // What no whole block filled.
  QFile rest(dir + QStringLiteral("/rest"));
  if (rest.open(QIODevice::WriteOnly | QIODevice::Truncate))
    while (rest.write("r", 1) == 1 && rest.flush()) {
    }
}

struct Run {
  int status = -1;  // exit code; -1 when killed by a signal or past its bound
  int signal = 0;   // the signal that ended it
  bool hung = false;
  double wallS = 0, cpuS = 0;
  QString out, err;
};

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A saved configuration without its meta object, which holds the time of the save; text that is
// no JSON object stays as it is.
QByteArray fieldsOnly(const QByteArray& text) {
  QJsonParseError pe;
  QJsonObject o = QJsonDocument::fromJson(text, &pe).object();
  if (pe.error != QJsonParseError::NoError || !o.contains(QStringLiteral("meta"))) return text;
  o.remove(QStringLiteral("meta"));
  return QJsonDocument(o).toJson();
}

bool writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// The tool's "dovu-cli:" lines, but for the flash's warning and its success message.
QStringList errorLines(const QString& err) {
  QStringList lines;
  for (const QString& l : err.split(QLatin1Char('\n')))
    if (l.startsWith(QLatin1String("dovu-cli:")) && !l.contains(dovu::cli::englishText(dovu::Cause::KeepPowered)) &&
        !l.contains(dovu::cli::englishText(dovu::Cause::FlashDone)))
      lines << l;
  return lines;
}

// A fault done to the controller or the tool at a moment of the run.
struct Event {
  enum Kind { StopController, KillController, SignalTool, StopTool } kind;
  int atMs;
  int forMs = 0;  // StopController, StopTool: how long it stays stopped
  int signal = 0;
};

class Campaign {
 public:
  explicit Campaign(Reference& ref) : ref_(ref) {}
  // Runs one case; empty when the oracle holds, else what broke.
  QString runCase(unsigned seed, QString* description);

 private:
  Run runTool(const QStringList& args, long fileLimit, const std::vector<Event>& events,
              SimProcess* sim, int boundMs);
  QString runHistoryCase(unsigned seed, QString* description);
  Reference& ref_;
  QByteArray stdoutPath_;  // when set, the tool's standard output goes there (a full disk: /dev/full)
};

int pick(std::mt19937& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool chance(std::mt19937& rng, double p) { return std::bernoulli_distribution(p)(rng); }

// Whether a process has a handler for a signal (its SigCgt in /proc).
bool catches(pid_t pid, int signal) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return true;  // gone: the signal changes nothing
  for (QByteArray line; !(line = status.readLine()).isEmpty();)
    if (line.startsWith("SigCgt:")) return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
  return true;
}

Run Campaign::runTool(const QStringList& args, long fileLimit,
                      const std::vector<Event>& events, SimProcess* sim, int boundMs) {
  Run r;
  std::vector<QByteArray> argv8{toolPath};
  for (const QString& a : args) argv8.push_back(a.toUtf8());
  std::vector<char*> argv;
  for (auto& a : argv8) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Pipes, not files: a file size limit of the case must not reach the tool's own output.
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return r;
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    ::dup2(in, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    if (!stdoutPath_.isEmpty()) ::dup2(::open(stdoutPath_.constData(), O_WRONLY), 1);
    if (fileLimit > 0) {
      struct rlimit l {static_cast<rlim_t>(fileLimit), static_cast<rlim_t>(fileLimit)};
      ::setrlimit(RLIMIT_FSIZE, &l);
    }
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    if (!recordDir.isEmpty()) {
      // The tool's own side: every frame it wrote or took, with its time since the tool started.
      ::setenv("QT_LOGGING_RULES", "dovu.link.debug=true", 1);
      ::setenv("QT_MESSAGE_PATTERN", "%{time process} %{message}", 1);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  ::fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
  ::fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
  QByteArray out, err;
  auto drain = [](int fd, QByteArray& into) {
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) into.append(buf, n);
  };
  const pid_t simPid = sim ? static_cast<pid_t>(sim->process().processId()) : 0;
  std::vector<bool> done(events.size(), false);
  int resumeAt = -1;
  int toolResumeAt = -1;
  int status = 0;
  struct rusage use {};
  for (;;) {
    drain(outPipe[0], out);
    drain(errPipe[0], err);
    const pid_t w = ::wait4(pid, &status, WNOHANG, &use);
    const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    if (w == pid) break;
    if (ms > boundMs) {
      r.hung = true;
      ::kill(pid, SIGKILL);
      ::wait4(pid, &status, 0, &use);
      break;
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (done[i] || ms < events[i].atMs) continue;
      done[i] = true;
      const Event& e = events[i];
      if (e.kind == Event::SignalTool) {
        // No program handles a signal before its start has put a handler in place: on a busy
        // machine loading the libraries alone may take longer than the moment drawn.
        if (!catches(pid, e.signal)) {
          done[i] = false;
          continue;
        }
        ::kill(pid, e.signal);
      } else if (simPid > 0 && e.kind == Event::StopController) {
        ::kill(simPid, SIGSTOP);
        resumeAt = ms + e.forMs;
      } else if (simPid > 0 && e.kind == Event::KillController) {
        ::kill(simPid, SIGKILL);
        ::kill(simPid, SIGCONT);
      } else if (e.kind == Event::StopTool) {
        ::kill(pid, SIGSTOP);
        toolResumeAt = ms + e.forMs;
      }
    }
    if (resumeAt >= 0 && ms >= resumeAt) {
      ::kill(simPid, SIGCONT);
      resumeAt = -1;
    }
    if (toolResumeAt >= 0 && ms >= toolResumeAt) {
      ::kill(pid, SIGCONT);
      toolResumeAt = -1;
    }
    ::usleep(2000);
  }
  if (simPid > 0) ::kill(simPid, SIGCONT);
  r.wallS = std::chrono::duration<double>(Clock::now() - start).count();
  r.cpuS = use.ru_utime.tv_sec + use.ru_utime.tv_usec / 1e6 + use.ru_stime.tv_sec + use.ru_stime.tv_usec / 1e6;
  if (!r.hung && WIFEXITED(status)) r.status = WEXITSTATUS(status);
  if (!r.hung && WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  drain(outPipe[0], out);
  drain(errPipe[0], err);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  r.out = QString::fromUtf8(out);
  r.err = QString::fromUtf8(err);
  return r;
}

// The simulator's failure modes a case may draw, for the codes the command uses.
// lostAnswers: how many answers the modes may lose, each of which costs the tool a whole wait.
QStringList drawModes(std::mt19937& rng, Command c, QString* text, int* lostAnswers) {
  *lostAnswers = 0;
  QStringList args{QStringLiteral("--baud-pace")};
  const int codeLo = c == Command::Upload ? 5 : 4;
  auto paramCode = [&] { return QString::number(codeLo + 2 * pick(rng, 0, 50)); };
  const int count = pick(rng, 0, 3);
  for (int i = 0; i < count; ++i) {
    switch (pick(rng, 0, 13)) {
      case 0: args << QStringLiteral("--split"); break;
      case 1: args << QStringLiteral("--noise"); break;
      case 2: args << QStringLiteral("--delay") << QString::number(pick(rng, 0, 150)); break;
      case 3:
        args << QStringLiteral("--delay-code")
             << QStringLiteral("%1:%2").arg(c == Command::Flash ? QStringLiteral("101") : paramCode()).arg(pick(rng, 200, 1400));
        break;
      case 4: {
        const int n = pick(rng, 1, 2);
        args << QStringLiteral("--drop-code") << QStringLiteral("%1:%2").arg(paramCode()).arg(n);
        *lostAnswers += n;
        break;
      }
      case 5: {
        const int every = pick(rng, 8, 30);
        args << QStringLiteral("--drop-every") << QString::number(every);
        // A disturbed line has a download read parameters twice: up to twice the answers to lose.
        *lostAnswers += 120 / every + 1;
        break;
      }
      case 6: args << QStringLiteral("--duplicate-every") << QString::number(pick(rng, 3, 15)); break;
      case 7: {
        // A text answered with half its characters is still a text: nobody could tell.  Only a
        // block or a status record has a length to check.
        static const char* const kBlocks[] = {"52", "54", "80", "104"};
        const QString code = c == Command::Status   ? QStringLiteral("253")
                             : c == Command::Upload ? paramCode()
                                                    : QLatin1String(kBlocks[pick(rng, 0, 3)]);
        args << QStringLiteral("--short-answer") << code + QStringLiteral(":1");
        break;
      }
      case 8: args << QStringLiteral("--garbled-answer") << QStringLiteral("%1:1").arg(pick(rng, 1, 2)); break;
      case 9: args << QStringLiteral("--unsolicited") << QString::number(4 + 2 * pick(rng, 0, 50)); break;
      case 10: args << QStringLiteral("--noisy-line"); break;
      case 11: args << QStringLiteral("--miss-ack") << QStringLiteral("%1:%2").arg(pick(rng, 0, 7)).arg(pick(rng, 1, 2)); break;
      case 12: args << QStringLiteral("--long-length") << paramCode(); break;
      case 13: args << QStringLiteral("--unplug-after") << QString::number(pick(rng, 2, 60)); break;
    }
  }
  *text += args.join(QLatin1Char(' '));
  return args;
}

// Faults added after the kept cases were found, drawn from a stream of their own so that every
// kept seed still runs exactly the case it was kept for: a frame nobody asked for right behind an
// answer, an acknowledgement that comes late, a block garbled on the line.
QStringList drawLaterModes(unsigned seed, Command c, QString* text) {
  if (std::any_of(kKnownCases.begin(), kKnownCases.end(), [seed](const KnownCase& k) { return k.seed == seed; }))
    return {};
  std::mt19937 rng(seed ^ 0x5bd1e995u);
  if (!chance(rng, 0.3)) return {};
  QStringList args;
  if (c == Command::Flash && chance(rng, 0.6)) {
    if (chance(rng, 0.5))
      args << QStringLiteral("--late-ack") << QStringLiteral("%1:%2").arg(pick(rng, 0, 7)).arg(pick(rng, 100, 2500));
    else
      args << QStringLiteral("--garble-block") << QString::number(pick(rng, 0, 7));
  } else {
    args << QStringLiteral("--unasked-at-once") << QString::number(4 + 2 * pick(rng, 0, 50));
  }
  *text += QLatin1Char(' ') + args.join(QLatin1Char(' '));
  return args;
}

// "parameters 1–25 written, 26 uncertain, 27–51 unchanged": per parameter, 'w', 'u' or 'o'.
std::optional<QString> statedMix(const QString& line) {
  const auto at = line.indexOf(QStringLiteral("holds parameters "));
  if (at < 0) return std::nullopt;
  QString mix(51, QLatin1Char('?'));
  static const QRegularExpression part(QStringLiteral("(\\d+)(?:–(\\d+))? (written|uncertain|unchanged)"));
  auto it = part.globalMatch(line.mid(at));
  while (it.hasNext()) {
    const auto m = it.next();
    const int from = m.captured(1).toInt(), to = m.captured(2).isEmpty() ? from : m.captured(2).toInt();
    const QChar mark = m.captured(3).at(0) == QLatin1Char('w') ? QLatin1Char('w') : m.captured(3).at(0) == QLatin1Char('u') ? QLatin1Char('u') : QLatin1Char('o');
    for (int i = from; i <= to && i <= 51; ++i) mix[i - 1] = mark;
  }
  if (mix.contains(QLatin1Char('?'))) return std::nullopt;
  return mix;
}

// Whether the port is free again: no lock, no exclusive mark.
bool portFree(const QString& port) {
  const int fd = ::open(QFile::encodeName(port).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno != EBUSY;
  int excl = 0;
  ::ioctl(fd, TIOCGEXCL, &excl);
  const bool unlocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return unlocked && !excl;
}

// Whether the tool left the simulator's port locked or exclusive.  A simulator that has ended or
// unplugged has no line left to check: its pseudo-terminal is gone, and the kernel gives its number
// to the next one opened, perhaps another slice's, locked by that slice's tool.  The unplug mark is
// read after the port was found taken, so an unplug during that check counts too (the mark is
// written before the line closes).
bool portLeftTaken(SimProcess& sim) {
  if (sim.process().state() != QProcess::Running || portFree(sim.port())) return false;
  QFile log(sim.logPath());
  return !(log.open(QIODevice::ReadOnly) && log.readAll().contains("# unplugged"));
}

// The newest backup the tool kept before a write, if it holds exactly what the controller's dump
// held; the reason otherwise.
QString newestBackupHolds(std::size_t before, const std::vector<std::pair<int, dovu::Bytes>>& dump) {
  QString why;
  const dovu::BackupStore store;
  const auto entries = store.list(&why);
  if (!entries) return why;
  if (entries->empty() || entries->front().number <= static_cast<int>(before)) return QStringLiteral("no backup was kept");
  const auto kept = dovu::readConfigFile(store.pathOf(entries->front()));
  if (!kept) return QStringLiteral("the backup cannot be read");
  if (dump.size() != dovu::paramTable().size()) return QStringLiteral("no parameter dump");
  for (std::size_t i = 0; i < dump.size(); ++i)
    if (dovu::encodeParameter(*kept, dovu::paramTable()[i]) != dump[i].second)
      return QStringLiteral("the backup's parameter %1 is not what the controller held").arg(i + 1);
  return {};
}

// The number of the newest backup, 0 when there is none.
std::size_t newestBackup() {
  QString why;
  const auto entries = dovu::BackupStore().list(&why);
  return entries && !entries->empty() ? static_cast<std::size_t>(entries->front().number) : 0;
}

bool drawsHistory(unsigned seed);

// After its time limit a command finishes the exchange under way (at most a configuration
// request's three attempts, 33 s) and logs out.
constexpr int kTimeLimitGraceMs = 40000;

// The campaign under load (--load N, --stop-tool): busy processes at the tool's own priority keep
// every core taken, and the tool is stopped for moments as a scheduler would, so that nothing the
// tool decides may depend on when it happens to run.  --record DIR keeps the controller side of
// each failing case (every frame each way with its time, from the simulator's log) and the case's
// fault schedule.
std::vector<pid_t> busyPids;

void startLoad(int n) {
  for (int i = 0; i < n; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      // Inherits the campaign's priority, which the tool inherits too; dies with the campaign.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      for (;;) __asm__ volatile("");
    }
    if (pid > 0) busyPids.push_back(pid);
  }
}

void stopLoad() {
  for (pid_t pid : busyPids) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  busyPids.clear();
}

// The tool stopped at random moments, drawn from a stream of its own so that a seed's other
// faults stay what they are without --stop-tool.
void addToolStops(unsigned seed, bool withController, std::vector<Event>& events, QString* text) {
  if (!stopTool || !withController) return;
  // A kept case runs exactly the case it was kept for.
  if (std::any_of(kKnownCases.begin(), kKnownCases.end(), [seed](const KnownCase& k) { return k.seed == seed; }))
    return;
  std::mt19937 rng(seed ^ 0x2545f491u);
  for (int i = 0, n = pick(rng, 1, 4); i < n; ++i) {
    const Event e{Event::StopTool, pick(rng, 50, 9000), pick(rng, 5, 700)};
    events.push_back(e);
    *text += QStringLiteral(", tool stopped at %1 ms for %2 ms").arg(e.atMs).arg(e.forMs);
  }
}

// With --record, keeps the simulator's frame log, the tool's frame trace (its stderr, each line
// with its time) and the case's description as DIR/seed-S.frames.log, DIR/seed-S.tool.log and
// DIR/seed-S.case; a case that passes has them removed again unless --record-all.
class CaseRecord {
 public:
  CaseRecord(unsigned seed, SimProcess* sim, const QString* description)
      : seed_(seed), sim_(sim), description_(description) {}
  ~CaseRecord() {
    if (recordDir.isEmpty()) return;
    const QString base = QStringLiteral("%1/seed-%2").arg(recordDir).arg(seed_);
    QFile::remove(base + QStringLiteral(".frames.log"));
    if (sim_) QFile::copy(sim_->logPath(), base + QStringLiteral(".frames.log"));
    writeFile(base + QStringLiteral(".tool.log"), toolLog.toUtf8());
    writeFile(base + QStringLiteral(".case"), description_->toUtf8() + '\n');
  }
  static void forget(unsigned seed) {
    if (recordDir.isEmpty() || recordAll) return;
    const QString base = QStringLiteral("%1/seed-%2").arg(recordDir).arg(seed);
    for (const char* ext : {".frames.log", ".tool.log", ".case"}) QFile::remove(base + QLatin1String(ext));
  }
  QString toolLog;

 private:
  unsigned seed_;
  SimProcess* sim_;
  const QString* description_;
};

QString Campaign::runCase(unsigned seed, QString* description) {
  if (drawsHistory(seed)) return runHistoryCase(seed, description);
  std::mt19937 rng(seed);
  const auto c = static_cast<Command>(pick(rng, 0, 4));
  QTemporaryDir work;
  QString text = QStringLiteral("%1: ").arg(QLatin1String(nameOf(c)));
  std::unique_ptr<SimProcess> sim;
  int lostAnswers = 0;
  int answerDelayMs = 0;  // what --delay adds to every answer
  if (c != Command::Save) {
    QStringList modes = drawModes(rng, c, &text, &lostAnswers);
    modes << drawLaterModes(seed, c, &text);
    for (qsizetype i = 0; i + 1 < modes.size(); ++i)
      if (modes[i] == QLatin1String("--delay")) answerDelayMs += modes[i + 1].toInt();
    sim = std::make_unique<SimProcess>(simArgs(modes));
    if (!sim->started()) return QStringLiteral("the simulator did not start");
  }
  // Faults done to the controller and the tool while the command runs.
  std::vector<Event> events;
  if (sim && chance(rng, 0.25)) events.push_back({Event::StopController, pick(rng, 100, 5000), pick(rng, 200, 2500)});
  if (sim && chance(rng, 0.1)) events.push_back({Event::KillController, pick(rng, 100, 6000)});
  if (chance(rng, 0.25)) events.push_back({Event::SignalTool, pick(rng, 150, 6000), 0, chance(rng, 0.5) ? SIGINT : SIGTERM});
  for (const Event& e : events)
    text += e.kind == Event::StopController ? QStringLiteral(", controller stopped at %1 ms for %2 ms").arg(e.atMs).arg(e.forMs)
            : e.kind == Event::KillController ? QStringLiteral(", controller killed at %1 ms").arg(e.atMs)
                                              : QStringLiteral(", %1 at %2 ms").arg(e.signal == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")).arg(e.atMs);
  addToolStops(seed, sim != nullptr, events, &text);
  CaseRecord record(seed, sim.get(), description);
  const bool fullDisk = (c == Command::Download || c == Command::Save) && chance(rng, 0.2);
  // A full disk is a file size limit, or (where a small file system could be mounted) a really
  // full one.
  const bool fullTmpfs = fullDisk && !ref_.fullDir.isEmpty() && chance(rng, 0.5);
  if (fullDisk) text += fullTmpfs ? QStringLiteral(", full file system") : QStringLiteral(", full disk");
  const bool oldFile = chance(rng, 0.5);
  *description = text;

  const QString folder = fullTmpfs ? ref_.fullDir : work.path();
  const QString target = folder + (c == Command::Save ? QStringLiteral("/saved.json") : QStringLiteral("/out.json"));
  const QByteArray old("{\"old\": true}\n");
  for (const QString& name : {QStringLiteral("/filler"), QStringLiteral("/rest")}) QFile::remove(folder + name);
  QFile::remove(target);
  if (oldFile) writeFile(target, old);
  if (fullTmpfs) fillUp(ref_.fullDir);
  const auto freshDump = sim ? sim->dump() : decltype(sim->dump()){};
  QStringList args;
  // A transfer on a clean paced line takes seconds; each lost answer costs a whole wait (11 s for a
  // configuration read), a stopped controller its pause.
  int bound = 60000 + 12000 * lostAnswers;
  for (const Event& e : events) bound += e.forMs;
  // A delayed controller delays every exchange: an upload's or a flash's backup read and its
  // re-reads on a disturbed line, then the writes, up to about 160 of them.
  bound += 160 * answerDelayMs;
  std::size_t variant = 0, firmware = 0;
  switch (c) {
    case Command::Download: args = {QStringLiteral("download"), QStringLiteral("--port"), sim->port(), QStringLiteral("-o"), target}; break;
    case Command::Upload:
      variant = static_cast<std::size_t>(pick(rng, 0, static_cast<int>(ref_.uploadFiles.size()) - 1));
      args = {QStringLiteral("upload"), QStringLiteral("--port"), sim->port(), ref_.uploadFiles[variant]};
      break;
    case Command::Flash:
      firmware = static_cast<std::size_t>(pick(rng, 0, static_cast<int>(ref_.firmware.size()) - 1));
      writeFile(work.filePath(QStringLiteral("fw.dvf")), QByteArray::fromStdString(ref_.firmware[firmware]));
      args = {QStringLiteral("flash"), QStringLiteral("--port"), sim->port(), work.filePath(QStringLiteral("fw.dvf"))};
      break;
    case Command::Status:
      args = {QStringLiteral("status"), QStringLiteral("--port"), sim->port(), QStringLiteral("--json"), QStringLiteral("--once")};
      bound = 30000 + 3000 * lostAnswers;
      break;
    case Command::Save:
      args = {QStringLiteral("convert"), ref_.dvc, target};
      bound = 10000;
      break;
  }
  // The tool is given the case's bound as its time limit; past it the command stops between two
  // exchanges, so the campaign ends it only once the exchange under way (a configuration request's
  // repetitions) and the logout have had their time too.
  int killAfter = bound;
  if (c != Command::Save) {
    args << QStringLiteral("--time-limit") << QString::number(bound / 1000);
    killAfter = bound + kTimeLimitGraceMs;
  }
  const std::size_t backupBefore = newestBackup();
  const Run r = runTool(args, fullDisk && !fullTmpfs ? 512 : 0, events, sim.get(), killAfter);
  record.toolLog = r.err;
  const bool signalled = std::any_of(events.begin(), events.end(), [](const Event& e) { return e.kind == Event::SignalTool; });
  const QStringList lines = errorLines(r.err);
  auto fail = [&](const QString& what) {
    return QStringLiteral("%1 (exit %2%3; stderr: %4)")
        .arg(what).arg(r.status).arg(r.signal ? QStringLiteral(", signal %1").arg(r.signal) : QString())
        .arg(lines.join(QStringLiteral(" / ")));
  };

  if (r.hung) return fail(QStringLiteral("still running after %1 s").arg(killAfter / 1000));
  // A command that ran into its time limit took longer than any case should, whatever it said.
  if (r.status == 1 && lines.value(0).contains(QStringLiteral("time limit of")))
    return fail(QStringLiteral("stopped by its time limit of %1 s").arg(bound / 1000));
  if (r.cpuS > 1.5 + 0.3 * r.wallS) return fail(QStringLiteral("spun: %1 s CPU in %2 s").arg(r.cpuS).arg(r.wallS));
  // A command that opens no port (convert) ends by the signal, once its save has ended whole or
  // not at all (checked below).
  const bool endsBySignal = c == Command::Save && signalled;
  if (r.signal && !endsBySignal) return fail(QStringLiteral("ended by signal %1 without a word").arg(r.signal));
  if (r.status != 0 && r.status != 1 && !(signalled && (r.status == 130 || r.status == 143)) && !r.signal)
    return fail(QStringLiteral("unexpected exit status"));
  if (r.status != 0 && !r.signal && lines.size() != 1) return fail(QStringLiteral("%1 error lines instead of one").arg(lines.size()));
  if (r.status == 0 && !lines.isEmpty()) return fail(QStringLiteral("error lines on success"));
  if (!QDir(folder).entryList({QStringLiteral(".dovu-save-*")}, QDir::Files | QDir::Hidden).isEmpty())
    return fail(QStringLiteral("a temporary file was left"));
  // A controller killed while the tool ran takes its line with it: its end is waited for, so that
  // the port is not checked while the killed simulator is still going.
  const bool killed = std::any_of(events.begin(), events.end(), [&r](const Event& e) {
    return e.kind == Event::KillController && e.atMs <= r.wallS * 1000;
  });
  if (sim && killed) sim->process().waitForFinished(3000);
  if (sim && portLeftTaken(*sim)) return fail(QStringLiteral("the port is still locked or exclusive"));

  switch (c) {
    case Command::Download:
    case Command::Save: {
      const QByteArray now = readFile(target);
      const QByteArray whole = c == Command::Download ? ref_.download : ref_.saved;
      if (r.status == 0 && fieldsOnly(now) != fieldsOnly(whole)) {
        return fail(QStringLiteral("exit 0 but the file differs from the controller"));
      }
      if (r.signal && !(oldFile ? now == old : !QFile::exists(target)) && fieldsOnly(now) != fieldsOnly(whole))
        return fail(QStringLiteral("ended by the signal with a file neither old nor whole"));
      if (r.status != 0 && !r.signal && !(oldFile ? now == old : !QFile::exists(target)))
        return fail(QStringLiteral("failed, and the file is no longer the old one"));
      break;
    }
    case Command::Upload: {
      const auto now = sim->dump();
      const auto& whole = ref_.uploaded[variant];
      if (now.size() != whole.size() || freshDump.size() != whole.size()) return fail(QStringLiteral("no parameter dump"));
      if (r.status == 0 && now != whole) return fail(QStringLiteral("exit 0 but the controller differs from the file"));
      // Nothing was written before what the controller held was kept.
      if (now != freshDump)
        if (const QString why = newestBackupHolds(backupBefore, freshDump); !why.isEmpty()) return fail(why);
      if (r.status != 0) {
        const auto mix = statedMix(lines.value(0));
        if (!mix) {
          if (now != whole && now != freshDump) return fail(QStringLiteral("a mix the line does not state"));
        } else {
          for (std::size_t i = 0; i < now.size(); ++i) {
            const QChar m = mix->at(static_cast<qsizetype>(i));
            const bool ok = m == QLatin1Char('w') ? now[i] == whole[i]
                            : m == QLatin1Char('o') ? now[i] == freshDump[i]
                                                    : now[i] == whole[i] || now[i] == freshDump[i];
            if (!ok) return fail(QStringLiteral("parameter %1 is not as the line states").arg(i + 1));
          }
        }
      }
      break;
    }
    case Command::Flash: {
      const Bytes& fw = ref_.firmware[firmware];
      Bytes expected = fw.substr(3, fw.size() - 4);
      expected.resize((expected.size() + 127) / 128 * 128, static_cast<char>(0xFF));
      if (r.status == 0) {
        const bool arrived = dovu::test::waitFor([&] { return QFile::exists(sim->imagePath()); }, 3000);
        if (!arrived || readFile(sim->imagePath()) != QByteArray::fromStdString(expected))
          return fail(QStringLiteral("exit 0 but the controller's image differs from the firmware"));
        if (const QString why = newestBackupHolds(backupBefore, freshDump); !why.isEmpty()) return fail(why);
      } else if (!lines.value(0).contains(QStringLiteral("bootloader")) &&
                 !lines.value(0).contains(QStringLiteral("still runs its firmware")) &&
                 // A tool that started only after the controller's port had gone touched nothing.
                 !lines.value(0).startsWith(QStringLiteral("dovu-cli: no such port"))) {
        return fail(QStringLiteral("a failed flash that does not say where the controller stands"));
      }
      break;
    }
    case Command::Status:
      if (r.status == 0 && !QJsonDocument::fromJson(r.out.toUtf8()).object().contains(QStringLiteral("rssi")))
        return fail(QStringLiteral("exit 0 without a status object"));
      break;
  }
  return {};
}

// ---- The backup history under faults ----

// History cases are drawn from a stream of their own, never for a seed kept before they were, so
// that every such seed still runs exactly the case it was kept for; a seed kept since runs its
// history case.
constexpr unsigned kHistoryStream = 0x68697374u;

bool drawsHistory(unsigned seed) {
  // 300153 was found as a flash on a split, noisy line and is kept as that case.
  static const unsigned kKeptBefore[] = {1, 12, 26, 38, 42, 50, 54, 2099, 3088, 300153};
  if (std::find(std::begin(kKeptBefore), std::end(kKeptBefore), seed) != std::end(kKeptBefore)) return false;
  std::mt19937 rng(seed ^ kHistoryStream);
  return chance(rng, 0.25);
}

// A configuration of the reference runs: 0 a fresh controller's, 1.. the upload files'.
// Its origin is left out, as a window that loaded the file would keep it.
std::shared_ptr<const dovu::Configuration> referenceConfiguration(const Reference& ref, std::size_t which) {
  QString why;
  const QByteArray text = which == 0 ? ref.download : readFile(ref.uploadFiles[which - 1]);
  auto c = dovu::configFromJsonText(text, &why);
  if (!c) return nullptr;
  c->firmware.clear();
  c->port.clear();
  return std::make_shared<const dovu::Configuration>(std::move(*c));
}

// The parameters a backup file holds, as the simulator's dump lists them; empty when unreadable.
std::vector<std::pair<int, Bytes>> payloadsOf(const QString& path) {
  std::vector<std::pair<int, Bytes>> payloads;
  const auto c = dovu::readConfigFile(path);
  if (!c) return payloads;
  for (const dovu::ParamDef& p : dovu::paramTable()) payloads.emplace_back(p.readCode, dovu::encodeParameter(*c, p));
  return payloads;
}

// Sets an environment variable for the tool of one case and puts it back afterwards.
struct CaseEnv {
  CaseEnv(const char* name, const QByteArray& value) : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    if (value.isNull()) qunsetenv(name);
    else qputenv(name, value);
  }
  ~CaseEnv() {
    if (had_) qputenv(name_, old_);
    else qunsetenv(name_);
  }
  const char* name_;
  QByteArray old_;
  bool had_;
};

// Another program storing backups while the tool runs: its stores, each at its moment.
struct Writer {
  std::vector<int> atMs;
  std::vector<std::shared_ptr<const dovu::Configuration>> configurations;
  std::vector<dovu::BackupEntry> stored;
  QString failed;
  Clock::time_point lastDone{};  // when its last store ended
};

QString Campaign::runHistoryCase(unsigned seed, QString* description) {
  std::mt19937 rng(seed ^ kHistoryStream);
  (void)chance(rng, 0.25);  // the draw that made this a history case
  enum Kind { Upload, Restore, Flash, Output };
  const auto kind = static_cast<Kind>(pick(rng, 0, 3));
  static const char* const kKindNames[] = {"upload", "restore of the oldest backup", "flash", "output to a full disk"};
  QString text = QStringLiteral("history: %1").arg(QLatin1String(kKindNames[kind]));
  QTemporaryDir home;  // the tool's data folder in this case
  const QString folder = home.path() + QStringLiteral("/dovu-konfig/backups");
  const int configurations = static_cast<int>(ref_.uploadFiles.size()) + 1;

  // The history so far: backups of the reference configurations, dated by a clock that jumps
  // forward and back by up to four years between them.
  const int seeded = pick(rng, kind == Restore ? 1 : 0, 5);
  dovu::BackupStore seeding(folder, 1000);
  const QDateTime now = QDateTime::currentDateTime();
  QString why;
  for (int i = 0; i < seeded; ++i) {
    const auto c = referenceConfiguration(ref_, static_cast<std::size_t>(pick(rng, 0, configurations - 1)));
    if (!c || !seeding.add(*c, dovu::BackupReason::BeforeUpload, QStringLiteral("campaign"), &why,
                              now.addDays(pick(rng, -1500, 1500))))
      return QStringLiteral("the history could not be seeded: %1").arg(why);
  }
  text += QStringLiteral(", %1 backups dated by a jumping clock").arg(seeded);
  const int limit = chance(rng, 0.6) ? std::max(1, seeded) : 0;
  if (limit) text += QStringLiteral(", limit %1").arg(limit);
  std::vector<Writer> writers(chance(rng, 0.4) ? static_cast<std::size_t>(pick(rng, 1, 4)) : 0);
  for (Writer& w : writers)
    for (int n = pick(rng, 1, 3); n > 0; --n) {
      w.atMs.push_back(pick(rng, 0, 6000));
      w.configurations.push_back(referenceConfiguration(ref_, static_cast<std::size_t>(pick(rng, 0, configurations - 1))));
    }
  if (!writers.empty()) text += QStringLiteral(", %1 other programs storing").arg(writers.size());
  // A signal at any moment from the tool's start on (its first 150 ms are the program's own start,
  // before any handler can be in place), the logins included.
  std::vector<Event> events;
  static const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  if (chance(rng, 0.5)) {
    const int sig = kSignals[pick(rng, 0, 2)];
    events.push_back({Event::SignalTool, pick(rng, 150, 8000), 0, sig});
  }
  QStringList modes{QStringLiteral("--baud-pace")};
  if (chance(rng, 0.5)) modes << QStringLiteral("--delay-code") << QStringLiteral("1:%1").arg(pick(rng, 100, 800));
  text += QLatin1String(", ") + modes.join(QLatin1Char(' '));

  SimProcess sim(simArgs(modes));
  if (!sim.started()) return QStringLiteral("the simulator did not start");
  const auto before = seeding.list(&why);
  if (!before) return QStringLiteral("the seeded history cannot be read: %1").arg(why);
  const int oldest = before->empty() ? 0 : before->back().number;
  const std::size_t variant = static_cast<std::size_t>(pick(rng, 0, configurations - 2));
  QStringList args;
  switch (kind) {
    case Upload: args = {QStringLiteral("upload"), QStringLiteral("--port"), sim.port(), ref_.uploadFiles[variant]}; break;
    case Restore:
      args = {QStringLiteral("backups"), QStringLiteral("restore"), QString::number(oldest), QStringLiteral("--folder"),
              folder, QStringLiteral("--port"), sim.port()};
      break;
    case Flash: {
      const QString fw = home.path() + QStringLiteral("/fw.dvf");
      writeFile(fw, QByteArray::fromStdString(ref_.firmware[static_cast<std::size_t>(pick(rng, 0, 1))]));
      args = {QStringLiteral("flash"), QStringLiteral("--port"), sim.port(), fw};
      break;
    }
    case Output: {
      const QList<QStringList> printing{{QStringLiteral("backups"), QStringLiteral("list"), QStringLiteral("--folder"), folder},
                                        {QStringLiteral("show"), ref_.dvc},
                                        {QStringLiteral("status"), QStringLiteral("--port"), sim.port()},
                                        {QStringLiteral("status"), QStringLiteral("--port"), sim.port(), QStringLiteral("--csv"), QStringLiteral("--once")}};
      args = printing[pick(rng, 0, static_cast<int>(printing.size()) - 1)];
      if (args.first() == QLatin1String("backups") && before->empty()) args = printing[1];
      text += QStringLiteral(" (%1)").arg(args.first());
      // Only a command that opens the port handles signals.
      if (args.first() != QLatin1String("status")) events.clear();
      break;
    }
  }
  for (const Event& e : events)
    text += QStringLiteral(", %1 at %2 ms")
                .arg(e.signal == SIGINT ? QStringLiteral("SIGINT") : e.signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGHUP"))
                .arg(e.atMs);
  *description = text;

  const auto freshDump = sim.dump();
  // What the restore puts back, taken before anything can touch the history.
  const auto restored = kind == Restore ? payloadsOf(seeding.pathOf(before->back())) : decltype(freshDump){};
  Run r;
  Clock::time_point toolEnded{};
  {
    const CaseEnv data("XDG_DATA_HOME", QFile::encodeName(home.path()));
    const CaseEnv limitEnv("DOVU_BACKUP_LIMIT", limit ? QByteArray::number(limit) : QByteArray());
    stdoutPath_ = kind == Output ? QByteArrayLiteral("/dev/full") : QByteArray();
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (Writer& w : writers)
      threads.emplace_back([&w, &folder, limit, start] {
        for (std::size_t i = 0; i < w.atMs.size(); ++i) {
          std::this_thread::sleep_until(start + std::chrono::milliseconds(w.atMs[i]));
          QString failure;
          dovu::BackupStore store(folder, limit ? limit : dovu::BackupStore::kDefaultLimit);
          if (!w.configurations[i]) {
            w.failed = QStringLiteral("no configuration");
          } else if (const auto e = store.add(*w.configurations[i], dovu::BackupReason::Manual, QStringLiteral("other"), &failure)) {
            w.stored.push_back(*e);
          } else if (w.failed.isEmpty()) {
            w.failed = failure;
          }
          w.lastDone = Clock::now();
        }
      });
    r = runTool(args, 0, events, &sim, 90000);
    toolEnded = Clock::now();
    for (std::thread& t : threads) t.join();
    stdoutPath_.clear();
  }
  const QStringList lines = errorLines(r.err);
  auto fail = [&](const QString& what) {
    return QStringLiteral("%1 (exit %2%3; stderr: %4)")
        .arg(what).arg(r.status).arg(r.signal ? QStringLiteral(", signal %1").arg(r.signal) : QString())
        .arg(lines.join(QStringLiteral(" / ")));
  };
  const int sig = events.empty() ? 0 : events.front().signal;
  if (r.hung) return fail(QStringLiteral("still running after 90 s"));
  if (r.signal) return fail(QStringLiteral("ended by signal %1 without a word").arg(r.signal));
  if (sig && r.wallS * 1000 > events.front().atMs + 20000)
    return fail(QStringLiteral("ran %1 s past the signal").arg(r.wallS - events.front().atMs / 1000.0));
  if (r.status != 0 && r.status != 1 && !(sig && r.status == 128 + sig)) return fail(QStringLiteral("unexpected exit status"));
  if (r.status != 0 && lines.size() != 1) return fail(QStringLiteral("%1 error lines instead of one").arg(lines.size()));
  if (r.status == 0 && !lines.isEmpty()) return fail(QStringLiteral("error lines on success"));
  if (kind == Output && r.status == 0) return fail(QStringLiteral("exit 0 although standard output could not be written"));
  for (const Writer& w : writers)
    if (!w.failed.isEmpty()) return fail(QStringLiteral("another program's backup failed: %1").arg(w.failed));

  // Every backup announced exists, under the name announced, unless another program's later store
  // rotated it out while a newer backup holds what it held.
  dovu::BackupStore store(folder, 1000);
  const auto after = store.list(&why);
  if (!after) return fail(QStringLiteral("the history cannot be read afterwards: %1").arg(why));
  std::map<int, QString> fileOf;
  for (const dovu::BackupEntry& e : *after) fileOf[e.number] = store.pathOf(e);
  const auto heldLater = [&](int number) {
    return std::any_of(after->begin(), after->end(),
                       [&](const dovu::BackupEntry& e) { return e.number > number && payloadsOf(store.pathOf(e)) == freshDump; });
  };
  static const QRegularExpression announced(QStringLiteral("backup (\\d+) keeps what the controller held: (.*)"));
  std::vector<int> announcedNumbers;
  for (auto it = announced.globalMatch(r.err); it.hasNext();) {
    const auto m = it.next();
    const int n = m.captured(1).toInt();
    announcedNumbers.push_back(n);
    if (!fileOf.count(n) && !writers.empty() && heldLater(n)) continue;
    if (!fileOf.count(n) || QDir::cleanPath(fileOf[n]) != QDir::cleanPath(m.captured(2).trimmed()) || !QFile::exists(fileOf[n]))
      return fail(QStringLiteral("backup %1 was announced but is gone").arg(n));
  }
  // A configuration's newest backup (of those before, the other programs' and the tool's) stays,
  // and so does the one being restored.
  std::map<QString, int> newestOf;
  auto note = [&](const dovu::BackupEntry& e) { newestOf[e.content] = std::max(newestOf[e.content], e.number); };
  for (const dovu::BackupEntry& e : *before) note(e);
  for (const Writer& w : writers)
    for (const dovu::BackupEntry& e : w.stored) note(e);
  for (const dovu::BackupEntry& e : *after)
    if (std::find(announcedNumbers.begin(), announcedNumbers.end(), e.number) != announcedNumbers.end()) note(e);
  for (const auto& [content, number] : newestOf)
    if (!fileOf.count(number)) return fail(QStringLiteral("backup %1, the newest of its configuration, was removed").arg(number));
  // Once the tool has ended its pin is gone, and another program's later store may rotate it out.
  const bool storedAfter = std::any_of(writers.begin(), writers.end(), [&](const Writer& w) {
    return w.lastDone > toolEnded - std::chrono::milliseconds(200);
  });
  if (kind == Restore && !storedAfter && !fileOf.count(oldest)) return fail(QStringLiteral("backup %1, being restored, was removed").arg(oldest));
  // Beyond the limit stay only backups that may not go: each configuration's newest, the restored.
  if (limit && static_cast<int>(after->size()) > limit + static_cast<int>(newestOf.size()) + 1)
    return fail(QStringLiteral("%1 backups kept beyond the limit of %2").arg(after->size()).arg(limit));

  // The controller: as the file or the backup, the old, or the mix the line states; and what it
  // held was kept before anything was written.
  const auto nowDump = sim.dump();
  const bool kept = std::any_of(announcedNumbers.begin(), announcedNumbers.end(), [&](int n) {
    return fileOf.count(n) ? payloadsOf(fileOf[n]) == freshDump : heldLater(n);
  });
  if (kind == Upload || kind == Restore) {
    const auto& whole = kind == Upload ? ref_.uploaded[variant] : restored;
    if (nowDump.size() != whole.size() || freshDump.size() != whole.size()) return fail(QStringLiteral("no parameter dump"));
    if (r.status == 0 && nowDump != whole) return fail(QStringLiteral("exit 0 but the controller differs from what was sent"));
    if (nowDump != freshDump && !kept) return fail(QStringLiteral("the controller was written without a backup of what it held"));
    if (r.status != 0 && nowDump != whole && nowDump != freshDump) {
      const auto mix = statedMix(lines.value(0));
      if (!mix) return fail(QStringLiteral("a mix the line does not state"));
      for (std::size_t i = 0; i < nowDump.size(); ++i) {
        const QChar m = mix->at(static_cast<qsizetype>(i));
        const bool ok = m == QLatin1Char('w') ? nowDump[i] == whole[i]
                        : m == QLatin1Char('o') ? nowDump[i] == freshDump[i]
                                                : nowDump[i] == whole[i] || nowDump[i] == freshDump[i];
        if (!ok) return fail(QStringLiteral("parameter %1 is not as the line states").arg(i + 1));
      }
    }
  } else if (kind == Flash) {
    if (r.status == 0 && !kept) return fail(QStringLiteral("flashed without a backup of what the controller held"));
    if (r.status != 0 && !lines.value(0).contains(QStringLiteral("bootloader")) &&
        !lines.value(0).contains(QStringLiteral("still runs its firmware")))
      return fail(QStringLiteral("a failed flash that does not say where the controller stands"));
  }
  if (portLeftTaken(sim)) return fail(QStringLiteral("the port is still locked or exclusive"));
  return {};
}

bool prepare(Reference& ref) {
  auto cli = [](const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(DOVU_CLI_PATH), args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  };
  SimProcess sim;
  const QString base = ref.dir.filePath(QStringLiteral("base.json"));
  if (!sim.started() || !cli({QStringLiteral("download"), QStringLiteral("--port"), sim.port(), QStringLiteral("-o"), base}))
    return false;
  ref.download = readFile(base);
  ref.fresh = sim.dump();
  ref.dvc = ref.dir.filePath(QStringLiteral("base.dvc"));
  const QString saved = ref.dir.filePath(QStringLiteral("saved.json"));
  if (!cli({QStringLiteral("convert"), base, ref.dvc}) || !cli({QStringLiteral("convert"), ref.dvc, saved})) return false;
  ref.saved = readFile(saved);
  // Three files to upload, each changing other parameters.
  const std::vector<std::vector<std::pair<const char*, QJsonValue>>> edits = {
      {{"telephones[0]", QStringLiteral("+48601000111")}, {"inputs[2].alarmText", QStringLiteral("Okno kuchnia")},
       {"limits.sms", 9}},
      {{"pin", QStringLiteral("4321")}, {"miniCa", true}, {"outputs[1].drivenBy", 4},
       {"telephones[7]", QStringLiteral("+48700800900")}},
      {{"inputs[0].alarmText", QStringLiteral("Drzwi wejściowe")}, {"telephones[3]", QStringLiteral("+48500400300")},
       {"limits.sms", 3}, {"outputs[3].drivenBy", 1}},
  };
  for (std::size_t i = 0; i < edits.size(); ++i) {
    QJsonObject json = QJsonDocument::fromJson(ref.download).object();
    for (const auto& [field, value] : edits[i]) json = dovu::test::withJsonAt(json, QLatin1String(field), value);
    const QByteArray text = QJsonDocument(json).toJson();
    const QString path = ref.dir.filePath(QStringLiteral("up%1.json").arg(i));
    writeFile(path, text);
    SimProcess clean;
    if (!clean.started() || !cli({QStringLiteral("upload"), QStringLiteral("--port"), clean.port(), path})) return false;
    ref.uploadFiles.push_back(path);
    ref.uploaded.push_back(clean.dump());
  }
  if (::geteuid() == 0) {
    const QString full = ref.dir.filePath(QStringLiteral("full"));
    QDir().mkdir(full);
    if (std::system(("mount -t tmpfs -o size=64k dovu-full '" + QFile::encodeName(full) + "' 2>/dev/null").constData()) == 0)
      ref.fullDir = full;
  }
  for (int size : {300, 1000}) {
    Bytes fw = "dvf";
    for (int i = 0; i < size; ++i) fw.push_back(static_cast<char>(i * 13 + size));
    fw.push_back(static_cast<char>(dovu::xorChecksum(fw, fw.size())));
    ref.firmware.push_back(fw);
  }
  return true;
}

// Runs recorded cases again: DIR/seed-S names the case (its seed draws the command, the file and
// the faults, the tool's stops included when it was recorded with them) and its frame log, which
// the simulator plays back.  A case whose draw no longer matches the recorded description is
// reported, since its recording then belongs to another case.
int replayCases(Reference& ref, const QStringList& bases) {
  Campaign campaign(ref);
  int failed = 0;
  for (const QString& base : bases) {
    static const QRegularExpression name(QStringLiteral("seed-(\\d+)$"));
    const auto m = name.match(base);
    const QByteArray recorded = readFile(base + QStringLiteral(".case")).trimmed();
    if (!m.hasMatch() || recorded.isEmpty() || !QFile::exists(base + QStringLiteral(".frames.log"))) {
      std::printf("FAIL  %s: not a recorded case (DIR/seed-S with .case and .frames.log)\n", qPrintable(base));
      ++failed;
      continue;
    }
    const unsigned seed = m.captured(1).toUInt();
    replayFrames = base + QStringLiteral(".frames.log");
    stopTool = recorded.contains("tool stopped");
    QString description;
    const auto t0 = Clock::now();
    const QString broke = campaign.runCase(seed, &description);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    if (description.toUtf8() != recorded) {
      std::printf("FAIL  replay of seed %u: the seed now draws \"%s\", the recording is of \"%s\"\n", seed,
                  qPrintable(description), recorded.constData());
      ++failed;
    } else if (broke.isEmpty()) {
      std::printf("ok    replay of seed %u (%.1f s) %s\n", seed, took, qPrintable(description));
    } else {
      std::printf("FAIL  replay of seed %u (%.1f s) %s\n      %s\n", seed, took, qPrintable(description), qPrintable(broke));
      ++failed;
    }
    std::fflush(stdout);
  }
  replayFrames.clear();
  std::printf("replay: %lld cases, %d failed\n", static_cast<long long>(bases.size()), failed);
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  unsigned seed = 1, cases = 20;
  int budgetS = 0;
  bool known = true;
  QStringList replays;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    const QString a = args[i];
    const QString v = args.value(i + 1);
    if (a == QLatin1String("--seed")) seed = v.toUInt(), ++i;
    else if (a == QLatin1String("--cases")) cases = v.toUInt(), ++i;
    else if (a == QLatin1String("--budget")) budgetS = v.toInt(), ++i;
    else if (a == QLatin1String("--no-known")) known = false;
    else if (a == QLatin1String("--cli")) toolPath = QFile::encodeName(v), ++i;
    else if (a == QLatin1String("--load")) loadProcesses = v.toInt(), ++i;
    else if (a == QLatin1String("--stop-tool")) stopTool = true;
    else if (a == QLatin1String("--record")) recordDir = v, ++i;
    else if (a == QLatin1String("--record-all")) recordDir = v, recordAll = true, ++i;
    else if (a == QLatin1String("--replay") && !v.isEmpty()) replays << v, ++i;
    else {
      std::fprintf(stderr,
                   "usage: fault_campaign [--seed S] [--cases N] [--budget SECONDS] [--no-known] [--cli PATH]\n"
                   "                      [--load N] [--stop-tool] [--record DIR | --record-all DIR]\n"
                   "       fault_campaign [--cli PATH] --replay DIR/seed-S ...\n"
                   "  runs the known cases, then seeds S, S+1, ... until N cases ran or the budget is spent;\n"
                   "  --cli tests another dovu-cli (the clean reference runs use this build's);\n"
                   "  --load N keeps N busy processes at the tool's priority (and runs the cases found\n"
                   "  under load first), --stop-tool stops the tool for moments; --record DIR keeps\n"
                   "  the frame logs of both sides and the fault schedule of each failing case (of every\n"
                   "  case with --record-all) in DIR; --replay runs a recorded case again against a\n"
                   "  simulator that plays its frame log back, with the same faults, and checks the same\n"
                   "  promises\n");
      return 2;
    }
  }
  Reference ref;
  if (!prepare(ref)) {
    std::fprintf(stderr, "fault_campaign: the clean reference runs failed\n");
    return 1;
  }
  if (!recordDir.isEmpty() && !QDir().mkpath(recordDir)) {
    std::fprintf(stderr, "fault_campaign: cannot make %s\n", qPrintable(recordDir));
    return 2;
  }
  if (!replays.isEmpty()) return replayCases(ref, replays);
  startLoad(loadProcesses);
  Campaign campaign(ref);
  const auto start = Clock::now();
  int ran = 0, failed = 0, expected = 0, fixedNow = 0;
  auto runOne = [&](unsigned s, const char* expectedFault) {
    QString description;
    const auto t0 = Clock::now();
    const QString broke = campaign.runCase(s, &description);
    const double took = std::chrono::duration<double>(Clock::now() - t0).count();
    ++ran;
    if (broke.isEmpty()) {
      CaseRecord::forget(s);
      std::printf("ok    seed %u (%.1f s) %s\n", s, took, qPrintable(description));
      if (expectedFault) {
        ++fixedNow;
        std::printf("      seed %u passes now: move it from the expected list to the mended ones\n", s);
      }
    } else if (expectedFault) {
      ++expected;
      std::printf("XFAIL seed %u (%.1f s) %s\n      %s\n      expected until mended: %s\n", s, took,
                  qPrintable(description), qPrintable(broke), expectedFault);
    } else {
      ++failed;
      std::printf("FAIL  seed %u (%.1f s) %s\n      %s\n      replay: fault_campaign --seed %u --cases 1 --no-known\n", s,
                  took, qPrintable(description), qPrintable(broke), s);
    }
    std::fflush(stdout);
  };
  if (known)
    for (const KnownCase& k : kKnownCases) runOne(k.seed, k.expected);
  if (known && loadProcesses > 0)
    for (unsigned s : kLoadedCases) runOne(s, nullptr);
  for (unsigned i = 0; i < cases; ++i) {
    if (budgetS > 0 && std::chrono::duration<double>(Clock::now() - start).count() > budgetS) break;
    runOne(seed + i, nullptr);
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("fault campaign: %d cases in %.0f s, %d failed, %d expected until mended, %d of those pass now\n", ran,
              total, failed, expected, fixedNow);
  stopLoad();
  return failed ? 1 : 0;
}

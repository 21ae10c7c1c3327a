#include "dovu-sim/ptyserver.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <QSaveFile>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "dovu-sim/replay.h"
#include "dovu-sim/simcontroller.h"
#include "link/framecodec.h"
#include "link/portlist.h"

namespace dovu::sim {

namespace {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;
using std::chrono::nanoseconds;

// One byte on a 4800 bit/s line with a start and a stop bit: 10 bits.
constexpr nanoseconds kByteTime{10LL * 1000000000LL / 4800};
// Long enough apart that the program's reads see the bytes one at a time.
constexpr nanoseconds kSplitGap = std::chrono::milliseconds(3);
constexpr nanoseconds kUnaskedGap = std::chrono::milliseconds(5);
// Before an unplug the program gets this long to read the last answer, checked this often.
constexpr nanoseconds kUnplugGrace = std::chrono::seconds(1);
constexpr nanoseconds kUnplugCheck = std::chrono::milliseconds(5);

bool writeFileAtomically(const std::string& path, const Bytes& content) {
  QSaveFile f(QString::fromLocal8Bit(path.c_str()));
  if (!f.open(QIODevice::WriteOnly)) return false;
  if (f.write(content.data(), static_cast<qint64>(content.size())) != static_cast<qint64>(content.size())) {
    f.cancelWriting();
    return false;
  }
  return f.commit();
}

class PtyServer {
 public:
  PtyServer(const ServerOptions& options, std::FILE* out)
      : opt_(options), out_(out), assembler_(kPcStart, 255), start_(SteadyClock::now()),
        controller_(options.controller) {
    assembler_.setHandler([this](std::uint8_t code, const Bytes& payload) { onRequest(code, payload); });
    controller_.setParametersChangedHandler([this] { writeDump(); });
    controller_.setImageHandler([this](const Bytes& image) { writeImage(image); });
  }

  ~PtyServer() {
    if (advertised_) withdrawSimulatorPort();
    for (int fd : {master_, slave_, signals_})
      if (fd >= 0) ::close(fd);
    if (log_) std::fclose(log_);
  }

  int run();

 private:
  // A piece of an answer, written with one write() at `due` or as soon after as possible.
  struct Chunk {
    TimePoint due;
    Bytes bytes;
    std::string log;           // log line text after "<ms> ", written with the chunk's first byte
    bool endsAnswers = false;  // last chunk of the answers to one request
    unsigned unasked = 0;      // frame number of a frame nobody asked for, else 0
  };

  bool setUp();
  bool openPty();
  void onBytes(const Bytes& chunk, TimePoint readAt);
  void onRequest(std::uint8_t code, const Bytes& payload);
  // Queues one frame's bytes from t on (paced or split as the options say); returns the time after it.
  TimePoint queueWire(TimePoint t, const Bytes& wire, const std::string& log, unsigned unasked);
  // Writes what is due; false when writing failed.
  bool writeDue();
  bool unplugDue() const;
  void unplug();
  void writeDump();
  void writeImage(const Bytes& image);
  void logLine(const std::string& text);
  static void warn(const std::string& what, int err = 0);

  ServerOptions opt_;
  std::FILE* out_;
  FrameAssembler assembler_;
  TimePoint start_;
  SimController controller_;
  std::optional<Recording> replay_;

  int master_ = -1;
  int slave_ = -1;  // kept open so that the master never sees a hang-up when the program closes
  int signals_ = -1;
  std::string slavePath_;
  bool advertised_ = false;
  std::FILE* log_ = nullptr;

  std::deque<Chunk> queue_;
  unsigned unaskedFrames_ = 0;
  bool waitWritable_ = false;
  TimePoint frameStart_{};   // when the start byte of the request being received went on the line
  TimePoint inLineFree_{};   // end of the last request on the line (paced input)
  TimePoint outLineFree_{};  // end of the last answer byte on the line (paced output)
  unsigned answeredFrames_ = 0;
  bool unplugPending_ = false;
  TimePoint unplugDeadline_{};
};

void PtyServer::warn(const std::string& what, int err) {
  if (err)
    std::fprintf(stderr, "dovu-sim: %s: %s\n", what.c_str(), std::strerror(err));
  else
    std::fprintf(stderr, "dovu-sim: %s\n", what.c_str());
}

void PtyServer::logLine(const std::string& text) {
  if (!log_) return;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start_).count();
  std::fprintf(log_, "%lld %s\n", static_cast<long long>(ms), text.c_str());
}

void PtyServer::writeDump() {
  if (!opt_.dumpFile.empty() && !writeFileAtomically(opt_.dumpFile, controller_.dump()))
    warn("cannot write " + opt_.dumpFile, errno);
}

void PtyServer::writeImage(const Bytes& image) {
  logLine("# transfer complete, " + std::to_string(image.size()) + " bytes");
  if (!opt_.imageOut.empty() && !writeFileAtomically(opt_.imageOut, image))
    warn("cannot write " + opt_.imageOut, errno);
}

bool PtyServer::openPty() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) {
    warn("posix_openpt", errno);
    return false;
  }
  char name[128];
  if (::fcntl(master_, F_SETFD, FD_CLOEXEC) < 0 || ::grantpt(master_) < 0 || ::unlockpt(master_) < 0 ||
      ::ptsname_r(master_, name, sizeof name) != 0) {
    warn("setting up the pseudo-terminal", errno);
    return false;
  }
  slavePath_ = name;
  // Our own slave descriptor: raw line settings for whoever opens it next, and no hang-up on the
  // master while the program has the port closed.
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave_ < 0) {
    warn("opening " + slavePath_, errno);
    return false;
  }
  termios tio{};
  if (::tcgetattr(slave_, &tio) < 0) {
    warn("tcgetattr", errno);
    return false;
  }
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B4800);
  ::cfsetospeed(&tio, B4800);
  if (::tcsetattr(slave_, TCSANOW, &tio) < 0) {
    warn("tcsetattr", errno);
    return false;
  }
  const int flags = ::fcntl(master_, F_GETFL);
  if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) < 0) {
    warn("fcntl", errno);
    return false;
  }
  return true;
}

bool PtyServer::setUp() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  // The signals arrive through the descriptor, so the poll loop ends cleanly and withdraws the advert.
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) < 0 || (signals_ = ::signalfd(-1, &set, SFD_CLOEXEC)) < 0) {
    warn("signalfd", errno);
    return false;
  }
  ::signal(SIGPIPE, SIG_IGN);

  if (!opt_.logFile.empty()) {
    log_ = std::fopen(opt_.logFile.c_str(), "w");
    if (!log_) {
      warn("cannot open " + opt_.logFile, errno);
      return false;
    }
    std::setvbuf(log_, nullptr, _IOLBF, 0);  // readable line by line while the simulator runs
  }
  if (!opt_.replayFile.empty()) {
    std::string error;
    replay_ = Recording::load(opt_.replayFile, &error);
    if (!replay_) {
      warn(error);
      return false;
    }
  }
  if (!openPty()) return false;
  if (!opt_.dumpFile.empty() && !writeFileAtomically(opt_.dumpFile, controller_.dump())) {
    warn("cannot write " + opt_.dumpFile, errno);
    return false;
  }
  if (opt_.advertise) {
    QString error;
    const QString device = QStringLiteral("DOVU simulator (dovu-sim pid %1)").arg(::getpid());
    advertised_ = advertiseSimulatorPort(QString::fromLocal8Bit(slavePath_.c_str()), device, &error);
    if (!advertised_) warn("cannot advertise the port: " + error.toStdString());
  }
  // Printed last, so that a reader of this line finds the port advertised and ready.
  std::fprintf(out_, "PORT %s\n", slavePath_.c_str());
  std::fflush(out_);
  return true;
}

void PtyServer::onBytes(const Bytes& chunk, TimePoint readAt) {
  // Byte by byte, as a controller's receive interrupt would: a request that follows another in the
  // same read is not lost, and noise ahead of a start byte is skipped.
  for (char c : chunk) {
    const bool collecting = assembler_.startFound();
    if (!collecting && static_cast<std::uint8_t>(c) == kPcStart) frameStart_ = std::max(readAt, inLineFree_);
    assembler_.feed(Bytes(1, c));
  }
}

void PtyServer::onRequest(std::uint8_t code, const Bytes& payload) {
  const Bytes request = buildFrame(code, payload, kPcStart);
  const std::string codeNote = "  code " + std::to_string(code);
  logLine("> " + toHex(request) + codeNote);

  // On a real line the request has not fully arrived before its last byte has.
  const TimePoint requestEnd = frameStart_ + kByteTime * static_cast<long long>(request.size());
  // A frame nobody asked for that has not started by the next request is not sent: chosen for the
  // request before, it could carry exactly the code the program now waits for.
  std::vector<unsigned> notStarted;
  for (const Chunk& c : queue_)
    if (c.unasked && !c.log.empty()) notStarted.push_back(c.unasked);
  std::erase_if(queue_, [&](const Chunk& c) {
    return c.unasked && std::find(notStarted.begin(), notStarted.end(), c.unasked) != notStarted.end();
  });
  inLineFree_ = requestEnd;
  TimePoint t = SteadyClock::now();
  if (opt_.baudPace) t = std::max(t, requestEnd);
  const TimePoint lineFree = t;
  t += std::chrono::milliseconds(opt_.delayMs);
  for (const auto& d : opt_.delayCode)
    if (d.code == code) t += std::chrono::milliseconds(d.ms);

  const std::size_t queuedBefore = queue_.size();
  const std::vector<Answer> answers = controller_.handle(code, payload);
  if (replay_) {
    // The controller keeps its state (what a set stores, a flashed image), but the line carries
    // what was recorded for this request, each frame at its recorded delay after the request.
    if (const RecordedRequest* rec = replay_->take(request)) {
      const TimePoint arrived = SteadyClock::now();
      for (const RecordedAnswer& a : rec->answers) {
        const TimePoint due = std::max(lineFree, arrived + std::chrono::milliseconds(a.delayMs));
        queueWire(due, a.wire, "< " + a.logText + " (replayed)", a.unasked ? ++unaskedFrames_ : 0);
      }
      if (queue_.size() > queuedBefore) queue_.back().endsAnswers = true;
      return;
    }
    logLine("# not in the recording: answered by the controller");
  }
  for (const Answer& a : answers) {
    // The bytes come first on a log line, so that a reader can take the hex up to the first word.
    std::string text = toHex(a.bytes) + codeNote;
    if (a.kind == Answer::Kind::Ack) text += " (acknowledgement)";
    if (a.lostBy) {
      logLine("x " + text + " lost by " + a.lostBy);
      continue;
    }
    t += std::chrono::milliseconds(a.delayMs);
    if (a.sentBy && !a.atOnce) {
      // Frames nobody asked for go out a little later in writes of their own, as a separate
      // event on the line, before the program's next request has arrived.
      t += kUnaskedGap;
    }
    if (a.sentBy) text += std::string(" unasked, by ") + a.sentBy;
    const std::string log = "< " + text + (a.noise.empty() ? "" : ", after noise " + toHex(a.noise));
    t = queueWire(t, a.wire(), log, a.sentBy ? ++unaskedFrames_ : 0);
  }
  if (queue_.size() > queuedBefore) queue_.back().endsAnswers = true;
}

TimePoint PtyServer::queueWire(TimePoint t, const Bytes& wire, const std::string& log, unsigned unasked) {
  if (!opt_.baudPace && !opt_.split) {
    queue_.push_back({t, wire, log, false, unasked});
    return t;
  }
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (opt_.baudPace) t = std::max(t, outLineFree_);
    queue_.push_back({t, Bytes(1, wire[i]), i == 0 ? log : std::string(), false, unasked});
    t += opt_.split ? std::max(kSplitGap, opt_.baudPace ? kByteTime : nanoseconds(0)) : kByteTime;
    if (opt_.baudPace) outLineFree_ = t;
  }
  return t;
}

bool PtyServer::writeDue() {
  while (!queue_.empty()) {
    Chunk& c = queue_.front();
    if (c.due > SteadyClock::now()) break;
    if (!c.log.empty()) {
      logLine(c.log);
      c.log.clear();
    }
    const ssize_t n = ::write(master_, c.bytes.data(), c.bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        waitWritable_ = true;  // the terminal's buffer is full: go on once it drains
        return true;
      }
      warn("writing to the pseudo-terminal", errno);
      return false;
    }
    waitWritable_ = false;
    c.bytes.erase(0, static_cast<std::size_t>(n));
    if (!c.bytes.empty()) {
      waitWritable_ = true;
      return true;
    }
    const bool ends = c.endsAnswers;
    queue_.pop_front();
    if (ends && opt_.unplugAfter && ++answeredFrames_ >= opt_.unplugAfter) {
      unplugPending_ = true;
      unplugDeadline_ = SteadyClock::now() + kUnplugGrace;
      queue_.clear();
      return true;
    }
  }
  return true;
}

bool PtyServer::unplugDue() const {
  // A hang-up throws away what the program has not read yet, so the last answer has to be read
  // first; a program that does not read is unplugged anyway once the grace time is over.
  int unread = 0;
  return ::ioctl(slave_, TIOCINQ, &unread) < 0 || unread == 0 || SteadyClock::now() >= unplugDeadline_;
}

void PtyServer::unplug() {
  // Closing the master hangs the slave up: the program sees what an unplugged USB adapter does.
  logLine("# unplugged");
  std::fprintf(stderr, "dovu-sim: unplugged after %u answered frames\n", answeredFrames_);
  ::close(master_);
  ::close(slave_);
  master_ = slave_ = -1;
}

int PtyServer::run() {
  if (!setUp()) return 1;
  Bytes buf(4096, '\0');
  for (;;) {
    // While an unplug waits for the program to read, nothing more is read or written.
    const short lineEvents = unplugPending_ ? 0 : static_cast<short>(POLLIN | (waitWritable_ ? POLLOUT : 0));
    pollfd fds[2] = {{master_, lineEvents, 0}, {signals_, POLLIN, 0}};
    timespec timeout{};
    timespec* tp = nullptr;
    auto waitAtMost = [&](nanoseconds wait) {
      wait = std::max(nanoseconds(0), wait);
      timeout.tv_sec = static_cast<time_t>(wait.count() / 1000000000LL);
      timeout.tv_nsec = static_cast<long>(wait.count() % 1000000000LL);
      tp = &timeout;
    };
    if (unplugPending_)
      waitAtMost(kUnplugCheck);
    else if (!queue_.empty() && !waitWritable_)
      waitAtMost(queue_.front().due - SteadyClock::now());
    if (::ppoll(fds, 2, tp, nullptr) < 0) {
      if (errno == EINTR) continue;
      warn("ppoll", errno);
      return 1;
    }
    if (fds[1].revents & POLLIN) {
      signalfd_siginfo si{};
      if (::read(signals_, &si, sizeof si) == static_cast<ssize_t>(sizeof si))
        std::fprintf(stderr, "dovu-sim: %s, exiting\n", strsignal(static_cast<int>(si.ssi_signo)));
      break;
    }
    if (unplugPending_) {
      if (unplugDue()) {
        unplug();
        break;
      }
      continue;
    }
    if (fds[0].revents & POLLIN) {
      const TimePoint readAt = SteadyClock::now();
      const ssize_t n = ::read(master_, buf.data(), buf.size());
      if (n > 0) {
        onBytes(buf.substr(0, static_cast<std::size_t>(n)), readAt);
      } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        warn("reading from the pseudo-terminal", errno);
        return 1;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // Our own slave descriptor should prevent this; stop rather than spin on it.
      warn("the pseudo-terminal hung up");
      return 1;
    }
    if (!writeDue()) return 1;
  }
  writeDump();
  if (replay_) logLine("# replayed " + std::to_string(replay_->used()) + " of " + std::to_string(replay_->size()) + " recorded requests");
  return 0;
}

}  // namespace

int runPtyServer(const ServerOptions& options, std::FILE* out) {
  PtyServer server(options, out);
  return server.run();
}

}  // namespace dovu::sim

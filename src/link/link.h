#pragma once
// The request-and-answer layer over the frame codec.  The link owns a queue of requests and runs
// one at a time as a state machine on the event loop: it waits for the line to fall quiet, writes
// the frame, counts the attempt's time-out in the 100 ms tick, writes it again or gives up, pauses
// after the answer, and then reports the outcome to the request's callback and starts the next.
// Nothing blocks: every wait is a state, every pause a timer, and a write is queued on the port,
// whose writer thread says when the bytes have left.
//
// A sequence of requests (a download, a firmware transfer) holds the line with hold() so that
// presses submitted meanwhile run after it, never between its requests.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/outcome.h"
#include "link/framecodec.h"
#include "link/serialport.h"

namespace dovu {

// Named time-outs, in 100 ms ticks.
constexpr std::uint16_t kSessionTicks = 10;   // login, logout, password, poll: one second per attempt
constexpr std::uint16_t kReadTicks = 110;     // configuration reads
constexpr int kRepetitions = 2;               // a request is written at most three times
constexpr int kPollEveryTicks = 10;           // the poll comes one second after the last send or answer
constexpr int kTickMs = 100;
constexpr std::uint8_t kNoAnswerSilentCode = 80;  // the threshold block read fails without a message
// A request goes out only after the line has been quiet this long: 3.5 character times at
// 4800 bit/s (7.3 ms), so that a frame still arriving ends before the request starts.  A request
// marked quietFirst = false skips the wait (a bootloader block right after an acknowledgement).
constexpr int kQuietLineMs = 8;
// A line that never falls quiet for that long (a stream of noise) is written to anyway after this.
constexpr int kQuietLineLimitMs = 500;
// lastRxChar() when the last read was not a single byte.
constexpr std::uint8_t kNoRxChar = 0x2E;  // "."
// The bootloader's acknowledgement of a block, a byte read by itself.
constexpr std::uint8_t kBlockAck = 0x21;  // "!"

// One request on the line and what answers it.
struct Request {
  enum class Awaits {
    Nothing,  // written, then done
    Answer,   // a frame with the request's code
    Ack,      // a lone "!" of the bootloader
  };
  enum class Outcome { Answered, NoAnswer, PortError, Cancelled };

  std::uint8_t code = 0;
  Bytes payload;
  Awaits awaits = Awaits::Answer;
  std::uint16_t ticks = 10;    // one attempt, in 100 ms ticks
  int repetitions = 2;         // further writes after a time-out
  bool write = true;           // false: only listens for the awaited acknowledgement
  bool showNoAnswer = true;      // a NoAnswer notice (with a beep) after the last attempt
  bool logOutOnNoAnswer = true;  // and noAnswer()
  int pauseBeforeMs = 0;       // before the first write
  int pauseAfterMs = 10;       // after the answer, before the next request
  // Waits for a quiet line before each write.  False where nothing can still be arriving: the
  // bootloader sends nothing but one acknowledgement per block, so the block after an
  // acknowledgement goes out at once.
  bool quietFirst = true;
  std::function<void(Outcome)> done;
};

class Link : public QObject {
  Q_OBJECT
 public:
  explicit Link(SerialPort* port, QObject* parent = nullptr);
  ~Link() override;

  SerialPort* port() const { return port_; }

  // Queues a request; it runs once those before it, and the exchange under way, are over.
  void send(Request request);
  // Reserves the line for a sequence of requests: while a token lives, presses submitted are
  // queued behind the sequence and the poll stays away.
  std::shared_ptr<void> hold();
  // A request is under way or queued.
  bool exchanging() const { return current_ || !requests_.empty(); }
  // The port's failure that ended the last request with PortError.
  const std::optional<SerialPortError>& lastError() const { return lastError_; }

  // Ends every running wait with failure and keeps new ones from starting (window closing); the
  // commands still queued are dropped.
  void abortWaits();
  bool aborted() const { return aborted_; }
  // A wait or a request is under way.
  bool waiting() const { return current_.has_value(); }

  // Every exchange the user starts (a press that sends a frame or changes the port) goes through
  // here, so that a wait is never disturbed by work nested inside it.  The command runs at once
  // when the line is idle; otherwise it is queued and runs once the exchange under way, and every
  // command queued before it, has finished.  A queued command is dropped, with `dropped` called,
  // when the session state changed meanwhile (the wait it waited for logged the window out, or a
  // disconnect came first), unless it is marked independent of the session (a port pick).
  enum class Queued { DropIfSessionChanged, Keep };
  void submit(std::function<void()> command, Queued queued = Queued::DropIfSessionChanged,
              std::function<void()> dropped = {});
  // True while a command or a wait runs: a new command would be queued.
  bool busy() const {
    return commandDepth_ > 0 || !queue_.empty() || holds_ > 0 || current_ || !requests_.empty();
  }
  // The session's state changed (logged in or out, connected or disconnected).
  void sessionChanged() { ++sessionEpoch_; }
  // Frees the line while a modal dialog that a command opened is shown: presses inside it run at
  // once, and the commands queued before it run now.
  void releaseWhile(const std::function<void()>& modal);

 signals:
  // Something the user is to be told: a request that went unanswered (showNoAnswer), emitted once
  // its last attempt has timed out and before its done callback runs.
  void notice(const dovu::Notice& notice);

 public:
  // Link state.
  const Bytes& txFrame() const { return txFrame_; }
  std::uint8_t rxCommand() const { return rxCommand_; }
  const Bytes& rxPayload() const { return rxPayload_; }
  bool sending() const { return sending_; }
  int pollTicks() const { return pollTicks_; }
  void setPollTicks(int t) { pollTicks_ = t; }
  std::uint8_t lastRxChar() const { return lastRxChar_; }
  std::uint16_t waitTicks() const { return waitTicks_; }
  // Counts what a line in order does not send: frames nobody waits for, frames that came before
  // their request, broken frames and bytes outside any frame.  A reader compares it before and after an exchange to know
  // whether the answer it took may have had a double on the line.
  std::uint64_t disturbances() const { return disturbances_; }
  // Milliseconds since the last byte was read (a large number when none was).
  qint64 quietForMs() const { return lastRead_.isValid() ? lastRead_.elapsed() : 1 << 20; }
  // The code the running wait still expects; kNothingAwaited when no wait runs or its answer came.
  static constexpr int kNothingAwaited = -1;
  int awaitedCode() const { return awaited_; }

  // The 100 ms tick runs from construction; start() enables it again after a stop.
  QTimer& timer() { return timer_; }

  // Who reads the controller's frames into a form: accept decides whether a good frame is taken
  // at all (unset: every frame is); a refused frame is no answer, is not handed on and is
  // reported as frameDropped.  take gets every frame taken.
  struct Reader {
    std::function<bool(std::uint8_t code, const Bytes& payload)> accept;
    std::function<void(std::uint8_t code, const Bytes& payload)> take;
  };
  // Subscribes a reader for as long as the returned token lives.  The latest reader still
  // subscribed alone decides and takes: one subscribed later (a read into a form of its own)
  // stands in front of the earlier ones until its token goes, and then the one before reads
  // again.  Without a reader every frame is taken and goes to nobody but frameTaken.
  [[nodiscard]] std::shared_ptr<void> addReader(Reader reader);

  // Bound to the port's characters-received notification.
  void portRxChar(int count);
  // The 100 ms tick: counts the request's time-out and the poll's second.
  void tick();

 signals:
  // Every frame taken, after the reader has had it.
  void frameTaken(std::uint8_t code, const Bytes& payload);
  // A good frame the reader refused, or one that came before its request.
  void frameDropped(std::uint8_t code, const Bytes& payload);
  // After the third time-out of a request that logs out on it (the session logs the window out).
  void noAnswer();
  // PollTicks reached 10 and no frame is being sent.
  void pollDue();
  // Every frame written or read, for --trace and the frame log.  outgoing = PC to controller.
  void frameTraced(bool outgoing, const Bytes& frame);

 private:
  // The request engine's states.
  void startNext();
  void beginAttempt();
  void whenQuiet();
  void writeRequest();
  void written(quint64 id);
  void writeFailed(quint64 id, const SerialPortError& error);
  void answered();
  void attemptTimedOut();
  void finish(Request::Outcome outcome);
  void writeNow(const Bytes& frame);
  void consume(const Bytes& chunk);
  // Decides what an assembled frame whose start byte lies at `start` is: dropped, the answer, or
  // a frame taken for the readers.
  void judge(std::uint8_t code, const Bytes& payload, std::uint64_t start);
  // Judges the frames held during the write, in their order.
  void judgeHeld();

  SerialPort* port_;
  QTimer timer_;
  FrameAssembler assembler_;
  // Frames are told from one another by their place in the byte stream read from the port, never
  // by the time they were read.  rxPos_ counts the bytes read so far; a frame whose start byte
  // lies before boundary_ arrived before the last request was written and answers nothing.
  std::uint64_t rxPos_ = 0;
  std::uint64_t boundary_ = 0;
  // The frame being assembled: where its start byte lies and its bytes so far, so that after a
  // broken frame the bytes behind its start byte are searched again for a frame.
  std::uint64_t frameStart_ = 0;
  Bytes frameBytes_;
  bool frameGood_ = false;  // the assembler's handler ran for the frame being fed
  std::uint64_t disturbances_ = 0;
  QElapsedTimer lastRead_;  // when bytes were last read

  Bytes txFrame_;
  std::uint8_t rxCommand_ = 0;
  Bytes rxPayload_;
  bool sending_ = false;
  int pollTicks_ = 0;
  std::uint8_t lastRxChar_ = kNoRxChar;
  std::uint16_t waitTicks_ = 0;
  int awaited_ = kNothingAwaited;
  bool aborted_ = false;

  void runCommand(const std::function<void()>& command);
  void scheduleQueue();
  void runQueued();
  struct QueuedCommand {
    std::function<void()> command;
    Queued queued;
    std::function<void()> dropped;
    unsigned epoch;
  };
  std::deque<QueuedCommand> queue_;
  int commandDepth_ = 0;
  unsigned sessionEpoch_ = 0;
  bool queueScheduled_ = false;

  std::deque<Request> requests_;
  std::optional<Request> current_;
  // Writing: the request's bytes are on their way out; its time-out counts from when they left.
  enum class Stage { Quiet, Writing, Waiting, Pausing } stage_ = Stage::Quiet;
  quint64 writeId_ = 0;  // the port's number of the request's write
  // Frames that came while the request's bytes were going out, judged once the port has said
  // where the input stood at the write; and where an acknowledgement byte read then lies.
  struct Held {
    std::uint8_t code;
    Bytes payload;
    std::uint64_t start;
  };
  std::deque<Held> heldInWrite_;
  std::optional<std::uint64_t> ackInWrite_;
  std::int64_t inputOffset_ = 0;  // this link's input position less the port's
  int attemptsLeft_ = 0;
  unsigned serial_ = 0;      // counts the requests started: a queued end knows whether its request still runs
  QTimer stageTimer_;        // the quiet line and the pause after an answer
  QElapsedTimer quietWait_;  // how long the current request has waited for a quiet line
  QElapsedTimer attemptClock_;  // since the attempt's write: its time-out holds however late ticks come
  int holds_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::vector<std::pair<unsigned, Reader>> readers_;  // in the order subscribed
  unsigned lastReader_ = 0;
  std::optional<SerialPortError> lastError_;
};

}  // namespace dovu

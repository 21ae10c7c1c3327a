#include "link/link.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <thread>

#include "link/frametrace.h"

namespace dovu {

namespace {
// Clears the sending flag however the write ends, so that a failed write cannot silence the poll
// for good.
struct SendingGuard {
  bool& flag;
  int& pollTicks;
  bool active = true;
  ~SendingGuard() {
    if (active) {
      flag = false;
      pollTicks = 0;
    }
  }
};
}  // namespace

Link::Link(SerialPort* port, Notifier* notifier, QObject* parent)
    : QObject(parent), port_(port), notifier_(notifier) {
  assembler_.setHandler([this](std::uint8_t code, const Bytes& payload) {
    if (trace || lcLink().isDebugEnabled()) {
      const Bytes frame = buildFrame(code, payload, kControllerStart);
      traceFrame(false, frame);
      if (trace) trace(false, frame);
    }
    if (preRequestFrame_ || (accept && !accept(code, payload))) {
      traceDropped(code);
      if (dropped) dropped(code);
      return;
    }
    // Only the first frame with the awaited code answers the wait; a repetition or a frame
    // nobody waits for is no answer.  The answer is recorded before it is dispatched, so a wait
    // that sees the code also sees the dispatcher's effects complete.
    if (code == awaited_) {
      awaited_ = kNothingAwaited;
      rxPayload_ = payload;
      rxCommand_ = code;
    }
    if (dispatch) {
      const Bytes copy = payload;
      dispatch(code, copy);
    }
  });
  if (port_) port_->onRxChar = [this](int count) { portRxChar(count); };
  timer_.setInterval(kTickMs);
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, &Link::tick);
  timer_.start();
}

Link::~Link() {
  if (port_) port_->onRxChar = nullptr;
}

void Link::waitForQuietLine() {
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    int waiting = 0;
    try {
      waiting = port_->waitingInputCount();
    } catch (const SerialPortError&) {
      return;  // the write reports the port's failure
    }
    if (waiting > 0) portRxChar(waiting);
    const qint64 quiet = lastRead_.isValid() ? lastRead_.elapsed() : kQuietLineMs;
    if (quiet >= kQuietLineMs || waited.elapsed() >= kQuietLineLimitMs) return;
    pauseMs(static_cast<int>(kQuietLineMs - quiet));
  }
}

void Link::writeFrame(const Bytes& frame) {
  if (!port_) {
    traceFrame(true, frame);
    if (trace) trace(true, frame);
    throw SerialPortError(kErrNotOpen);
  }
  // Bytes on their way in would collide with the request or pass for its answer: let them end
  // first.  What arrives meanwhile is assembled and, answering nothing asked yet, dropped.
  if (port_->isOpen()) waitForQuietLine();
  traceFrame(true, frame);
  if (trace) trace(true, frame);
  // A frame already begun, or an acknowledgement already read, was sent before this request saw
  // the line and cannot answer it.
  preRequestFrame_ = assembler_.startFound();
  lastRxChar_ = kNoRxChar;
  // What already waits was sent before this frame.  A failing count leaves the error to the write.
  try {
    staleBytes_ = static_cast<std::size_t>(std::max(port_->waitingInputCount(), 0));
  } catch (const SerialPortError&) {
    staleBytes_ = 0;
  }
  port_->write(frame);
}

void Link::sendFrame(std::uint8_t code, const Bytes& payload) {
  sending_ = true;
  SendingGuard guard{sending_, pollTicks_};
  txFrame_ = buildFrame(code, payload);
  // An earlier answer must not satisfy the next wait.
  rxCommand_ = 0;
  rxPayload_.clear();
  writeFrame(txFrame_);
}

void Link::resend() { writeFrame(txFrame_); }

void Link::processPending() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void Link::processUntilEvent() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

void Link::pauseMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void Link::abortWaits() {
  aborted_ = true;
  std::deque<QueuedCommand> dropped;
  dropped.swap(queue_);
  for (const QueuedCommand& q : dropped)
    if (q.dropped) q.dropped();
}

void Link::submit(std::function<void()> command, Queued queued, std::function<void()> dropped) {
  if (aborted_) {
    if (dropped) dropped();
    return;
  }
  if (!busy()) {
    runCommand(command);
    return;
  }
  queue_.push_back({std::move(command), queued, std::move(dropped), sessionEpoch_});
}

void Link::runCommand(const std::function<void()>& command) {
  struct Depth {
    Link& link;
    explicit Depth(Link& l) : link(l) { ++link.commandDepth_; }
    ~Depth() {
      --link.commandDepth_;
      link.scheduleQueue();
    }
  } depth(*this);
  command();
}

void Link::scheduleQueue() {
  // Run from the event loop, once the stack of the exchange that ended has unwound.
  if (queueScheduled_ || queue_.empty() || commandDepth_ > 0 || waitDepth_ > 0) return;
  queueScheduled_ = true;
  QMetaObject::invokeMethod(this, &Link::runQueued, Qt::QueuedConnection);
}

void Link::runQueued() {
  queueScheduled_ = false;
  while (!queue_.empty() && commandDepth_ == 0 && waitDepth_ == 0) {
    QueuedCommand next = std::move(queue_.front());
    queue_.pop_front();
    if (aborted_ || (next.queued == Queued::DropIfSessionChanged && next.epoch != sessionEpoch_)) {
      if (next.dropped) next.dropped();
      continue;
    }
    try {
      runCommand(next.command);
    } catch (const std::exception& e) {
      // Nobody called this one: what the press would have reported goes to the log rather than
      // through the event loop.
      qWarning("dovu: deferred command failed: %s", e.what());
    }
    return;  // runCommand schedules the rest
  }
}

void Link::releaseWhile(const std::function<void()>& modal) {
  const int commands = commandDepth_;
  commandDepth_ = 0;
  struct Restore {
    int& depth;
    int saved;
    ~Restore() { depth = saved; }
  } restore{commandDepth_, commands};
  scheduleQueue();
  modal();
}

bool Link::waitForAnswer(std::uint16_t ticks, std::uint8_t expected) {
  ++waitDepth_;
  SendingGuard guard{sending_, pollTicks_};
  // A nested wait (a dialog's exchange inside another wait) hands the outer expectation back.
  struct Depth {
    Link& link;
    int outer;
    ~Depth() {
      --link.waitDepth_;
      link.awaited_ = outer;
      link.scheduleQueue();
    }
  } depth{*this, awaited_};
  awaited_ = expected;

  waitTicks_ = ticks;
  int repetitions = kRepetitions;
  bool ok = false;
  for (;;) {
    processPending();
    if (rxCommand_ == expected) {
      ok = true;
      break;
    }
    // The window is closing, or the port went away under the wait (the owner reported that).
    if (aborted_ || !port_ || !port_->isOpen()) break;
    if (waitTicks_ == 0) {
      if (repetitions > 0) {
        --repetitions;
        waitTicks_ = ticks;
        resend();
        processPending();
        continue;
      }
      if (notifier_) {
        if (expected != kNoAnswerSilentCode) {
          notifier_->beep();
          notifier_->message(MessageKind::Error, QString::fromUtf8(kNoAnswerText));
        }
      }
      processPending();
      if (onNoAnswer && !aborted_) onNoAnswer();
      break;
    }
    // Nothing to do until the next receive notification or timer tick.
    processUntilEvent();
  }
  return ok;
}

bool Link::sendAndWait(std::uint8_t code, const Bytes& payload, std::uint16_t ticks) {
  sending_ = true;
  {
    SendingGuard guard{sending_, pollTicks_};
    txFrame_ = buildFrame(code, payload);
    rxCommand_ = 0;
    rxPayload_.clear();
    writeFrame(txFrame_);
    guard.active = false;  // the wait clears the flag when it ends
  }
  const bool ok = waitForAnswer(ticks, code);
  pauseMs(10);
  return ok;
}

void Link::portRxChar(int count) {
  lastRxChar_ = kNoRxChar;
  Bytes chunk;
  if (!port_) return;
  port_->read(chunk, count);
  if (chunk.empty()) return;
  lastRead_.start();
  // A read of exactly one byte is the bootloader's acknowledgement channel.
  if (chunk.size() == 1) lastRxChar_ = byteAt(chunk, 0);
  // Bytes that were waiting when the request went out were sent before it: whatever frame they
  // begin is no answer.  The assembler keeps one frame per buffer and drops what follows it, so
  // they are fed a byte at a time until that frame has ended, and the answer behind them in the
  // same read survives.
  const std::size_t stale = std::min(staleBytes_, chunk.size());
  staleBytes_ -= stale;
  std::size_t pos = 0;
  while (pos < chunk.size() && (pos < stale || preRequestFrame_)) {
    if (pos < stale && !assembler_.startFound()) preRequestFrame_ = true;
    assembler_.feed(chunk.substr(pos++, 1));
    if (!assembler_.startFound()) preRequestFrame_ = false;
  }
  if (pos < chunk.size()) assembler_.feed(chunk.substr(pos));
}

void Link::tick() {
  if (waitTicks_ > 0) --waitTicks_;
  if (++pollTicks_ >= kPollEveryTicks) {
    pollTicks_ = 0;
    // The poll waits for its answer; run it from the event loop rather than inside this tick,
    // because a timer's slot is not re-entered and its wait would never see another tick.
    if (!sending_ && onPollDue)
      QMetaObject::invokeMethod(
          this,
          [this] {
            if (!sending_ && onPollDue) onPollDue();
          },
          Qt::QueuedConnection);
  }
}

}  // namespace dovu

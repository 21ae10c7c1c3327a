#include "link/link.h"

#include <QMetaMethod>
#include <algorithm>

#include "link/frametrace.h"

namespace dovu {

Link::Link(SerialPort* port, QObject* parent) : QObject(parent), port_(port) {
  assembler_.setHandler([this](std::uint8_t code, const Bytes& payload) {
    frameGood_ = true;
    const bool traced = isSignalConnected(QMetaMethod::fromSignal(&Link::frameTraced));
    if (traced || lcLink().isDebugEnabled()) {
      const Bytes frame = buildFrame(code, payload, kControllerStart);
      traceFrame(false, frame);
      if (traced) emit frameTraced(false, frame);
    }
    // Until the port has said where the input stood when the request's bytes went out, a frame
    // that came during the write cannot be placed before or behind it: it waits for that word.
    if (current_ && stage_ == Stage::Writing) {
      heldInWrite_.push_back({code, payload, frameStart_});
      return;
    }
    judge(code, payload, frameStart_);
  });
  if (port_) {
    port_->onRxChar = [this](int count) { portRxChar(count); };
    connect(port_, &SerialPort::written, this, &Link::written);
    connect(port_, &SerialPort::writeFailed, this, &Link::writeFailed);
  }
  timer_.setInterval(kTickMs);
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, &Link::tick);
  timer_.start();
  stageTimer_.setSingleShot(true);
  stageTimer_.setTimerType(Qt::PreciseTimer);
  connect(&stageTimer_, &QTimer::timeout, this, [this] {
    if (!current_) return;
    if (stage_ == Stage::Quiet) whenQuiet();
    else if (stage_ == Stage::Pausing) finish(Request::Outcome::Answered);
  });
}

void Link::judge(std::uint8_t code, const Bytes& payload, std::uint64_t start) {
  // Copies: a reader may subscribe or unsubscribe readers while it runs.
  const Reader reader = readers_.empty() ? Reader{} : readers_.back().second;
  // A frame whose start byte was read, or on its way in, when the request was written was sent
  // before the request reached the controller: it answers nothing.
  const bool preRequest = start < boundary_;
  if (preRequest || (reader.accept && !reader.accept(code, payload))) {
    ++disturbances_;
    traceDropped(code);
    emit frameDropped(code, payload);
    return;
  }
  // Only the first frame with the awaited code answers the wait; a repetition or a frame
  // nobody waits for is no answer.  The answer is recorded before it is dispatched, so a wait
  // that sees the code also sees the dispatcher's effects complete.
  const bool answers = code == awaited_;
  if (answers) {
    awaited_ = kNothingAwaited;
    rxPayload_ = payload;
    rxCommand_ = code;
    if (current_ && current_->awaits == Request::Awaits::Answer && stage_ == Stage::Waiting) answered();
  } else {
    ++disturbances_;
  }
  const Bytes copy = payload;
  if (reader.take) reader.take(code, copy);
  emit frameTaken(code, copy);
}

void Link::judgeHeld() {
  const std::weak_ptr<bool> alive = alive_;
  while (!heldInWrite_.empty()) {
    const Held h = std::move(heldInWrite_.front());
    heldInWrite_.pop_front();
    judge(h.code, h.payload, h.start);
    if (alive.expired() || !*alive.lock()) return;  // a reader ended the link
  }
}

Link::~Link() {
  *alive_ = false;
  if (port_) port_->onRxChar = nullptr;
}

std::shared_ptr<void> Link::addReader(Reader reader) {
  const unsigned id = ++lastReader_;
  readers_.emplace_back(id, std::move(reader));
  std::weak_ptr<bool> alive = alive_;
  return std::shared_ptr<void>(nullptr, [this, alive, id](void*) {
    if (alive.expired() || !*alive.lock()) return;
    std::erase_if(readers_, [id](const auto& r) { return r.first == id; });
  });
}

void Link::writeNow(const Bytes& frame) {
  traceFrame(true, frame);
  emit frameTraced(true, frame);
  if (!port_) throw SerialPortError(kNotOpen);
  lastRxChar_ = kNoRxChar;
  // Where the request lies in the byte stream: every byte already waiting in the port was sent
  // before the request.  (Bytes that come during the write may already be the answer: a
  // controller without a real line behind it answers before the write has returned.)  A failing
  // count leaves the error to the write.
  try {
    boundary_ = rxPos_ + static_cast<std::uint64_t>(std::max(port_->waitingInputCount(), 0));
  } catch (const SerialPortError&) {
    boundary_ = rxPos_;
  }
  // The port counts its input from its open, this link what it has read since it began.
  inputOffset_ = static_cast<std::int64_t>(rxPos_) - static_cast<std::int64_t>(port_->inputPosition());
  ackInWrite_.reset();
  writeId_ = port_->queueWrite(frame);
}

void Link::abortWaits() {
  aborted_ = true;
  requests_.clear();
  if (current_) finish(Request::Outcome::Cancelled);
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
  if (queueScheduled_ || queue_.empty() || commandDepth_ > 0 || holds_ > 0 || current_ ||
      !requests_.empty())
    return;
  queueScheduled_ = true;
  QMetaObject::invokeMethod(this, &Link::runQueued, Qt::QueuedConnection);
}

void Link::runQueued() {
  queueScheduled_ = false;
  while (!queue_.empty() && commandDepth_ == 0 && holds_ == 0 && !current_ && requests_.empty()) {
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

void Link::send(Request request) {
  requests_.push_back(std::move(request));
  if (!current_) QMetaObject::invokeMethod(this, &Link::startNext, Qt::QueuedConnection);
}

std::shared_ptr<void> Link::hold() {
  ++holds_;
  std::weak_ptr<bool> alive = alive_;
  return std::shared_ptr<void>(nullptr, [this, alive](void*) {
    if (alive.expired() || !*alive.lock()) return;
    --holds_;
    scheduleQueue();
  });
}

void Link::startNext() {
  if (current_ || requests_.empty()) return;
  if (aborted_) {
    // The window is closing: nothing more goes out.
    std::deque<Request> dropped;
    dropped.swap(requests_);
    for (Request& r : dropped)
      if (r.done) r.done(Request::Outcome::Cancelled);
    return;
  }
  current_ = std::move(requests_.front());
  requests_.pop_front();
  ++serial_;
  attemptsLeft_ = current_->repetitions;
  txFrame_ = buildFrame(current_->code, current_->payload);
  lastError_.reset();
  if (current_->pauseBeforeMs > 0 && current_->write) {
    stage_ = Stage::Quiet;
    sending_ = true;
    quietWait_.start();
    stageTimer_.start(current_->pauseBeforeMs);
    return;
  }
  beginAttempt();
}

void Link::beginAttempt() {
  if (!current_->write) {
    // Listening only: an acknowledgement read before this point does not count.
    lastRxChar_ = kNoRxChar;
    stage_ = Stage::Waiting;
    waitTicks_ = current_->ticks;
    attemptClock_.start();
    return;
  }
  stage_ = Stage::Quiet;
  sending_ = true;
  quietWait_.start();
  whenQuiet();
}

void Link::whenQuiet() {
  // Bytes on their way in would collide with the request or pass for its answer: let them end
  // first.  What arrives meanwhile is assembled and, answering nothing asked yet, dropped.
  if (port_ && port_->isOpen()) {
    int waiting = 0;
    try {
      waiting = port_->waitingInputCount();
    } catch (const SerialPortError&) {
      waiting = 0;  // the write reports the port's failure
    }
    if (waiting > 0) portRxChar(waiting);
    if (!current_ || stage_ != Stage::Quiet) return;  // ended by what was read (a closing window)
    const qint64 quiet = lastRead_.isValid() ? lastRead_.elapsed() : kQuietLineMs;
    if (current_->quietFirst && quiet < kQuietLineMs && quietWait_.elapsed() < kQuietLineLimitMs) {
      stageTimer_.start(static_cast<int>(kQuietLineMs - quiet));
      return;
    }
  }
  writeRequest();
}

void Link::writeRequest() {
  // The port went away meanwhile, and its owner has said so: the request ends without a word.
  if (port_ && !port_->isOpen()) return finish(Request::Outcome::Cancelled);
  // An earlier answer must not satisfy this request.
  rxCommand_ = 0;
  rxPayload_.clear();
  awaited_ = current_->awaits == Request::Awaits::Answer ? current_->code : kNothingAwaited;
  stage_ = Stage::Writing;
  try {
    writeNow(txFrame_);
  } catch (const SerialPortError& e) {
    lastError_ = e;
    finish(Request::Outcome::PortError);
  }
  // Goes on in written() once the bytes have left, or in writeFailed().
}

void Link::writeFailed(quint64 id, const SerialPortError& error) {
  if (!current_ || stage_ != Stage::Writing || id != writeId_) return;
  // A port closed under the write (its owner has said so) ends the request without a word.
  if (error.code() == kNotOpen) return finish(Request::Outcome::Cancelled);
  lastError_ = error;
  finish(Request::Outcome::PortError);
}

void Link::written(quint64 id) {
  if (!current_ || stage_ != Stage::Writing || id != writeId_) return;
  // Where the input stood just before the bytes went to the driver: what lies before it was on
  // its way in before the request, though it may have been read only after the write was queued.
  if (port_) {
    const std::int64_t atWrite = static_cast<std::int64_t>(port_->inputPositionAtWrite()) + inputOffset_;
    boundary_ = std::max<std::uint64_t>(boundary_, static_cast<std::uint64_t>(std::max<std::int64_t>(atWrite, 0)));
  }
  // The request's pause and time-out count from here, as on the wire.
  if (current_->awaits == Request::Awaits::Nothing) {
    stage_ = Stage::Pausing;
    stageTimer_.start(current_->pauseAfterMs);
    return judgeHeld();
  }
  stage_ = Stage::Waiting;
  waitTicks_ = current_->ticks;
  attemptClock_.start();
  if (ackInWrite_ && *ackInWrite_ >= boundary_ && current_->awaits == Request::Awaits::Ack) {
    ackInWrite_.reset();
    return answered();
  }
  judgeHeld();
}

void Link::answered() {
  awaited_ = kNothingAwaited;
  waitTicks_ = 0;
  stage_ = Stage::Pausing;
  // The pause also lets the notification that brought the answer unwind before the next request.
  stageTimer_.start(current_->pauseAfterMs);
}

void Link::attemptTimedOut() {
  if (attemptsLeft_ > 0 && current_->write) {
    --attemptsLeft_;
    beginAttempt();
    return;
  }
  // The last attempt went unanswered.  The notice and the logout go out from the event loop, not
  // inside the tick.
  awaited_ = kNothingAwaited;
  stage_ = Stage::Pausing;
  const bool show = current_->showNoAnswer && current_->write;
  const bool logOut = current_->logOutOnNoAnswer && current_->write;
  QMetaObject::invokeMethod(
      this,
      [this, show, logOut, serial = serial_] {
        if (!current_ || serial != serial_) return;  // ended meanwhile (the window closing)
        if (show) emit notice(Notice{MessageKind::Error, Problem{Cause::NoAnswer}, true});
        if (logOut && !aborted_) emit noAnswer();
        // A listener may have ended it (a window that closes on the notice).
        if (current_ && serial == serial_) finish(Request::Outcome::NoAnswer);
      },
      Qt::QueuedConnection);
}

void Link::finish(Request::Outcome outcome) {
  stageTimer_.stop();
  Request done = std::move(*current_);
  current_.reset();
  awaited_ = kNothingAwaited;
  waitTicks_ = 0;
  sending_ = false;
  pollTicks_ = 0;
  ackInWrite_.reset();
  // Frames held through a write that failed answer nothing; they still go to the readers.
  const std::weak_ptr<bool> alive = alive_;
  judgeHeld();
  if (alive.expired() || !*alive.lock()) return;
  if (done.done) done.done(outcome);
  if (!current_) {
    if (!requests_.empty()) QMetaObject::invokeMethod(this, &Link::startNext, Qt::QueuedConnection);
    scheduleQueue();
  }
}

void Link::portRxChar(int count) {
  lastRxChar_ = kNoRxChar;
  Bytes chunk;
  if (!port_) return;
  port_->read(chunk, count);
  if (chunk.empty()) return;
  lastRead_.start();
  // A read of exactly one byte is the bootloader's acknowledgement channel.  It acknowledges the
  // block only when it lies behind the block's write in the byte stream: one that was waiting
  // when the block went out is an earlier copy's.
  if (chunk.size() == 1) {
    lastRxChar_ = byteAt(chunk, 0);
    const bool behindWrite = rxPos_ >= boundary_;
    if (lastRxChar_ == kBlockAck && behindWrite && current_ &&
        (stage_ == Stage::Waiting || stage_ == Stage::Writing) && current_->awaits == Request::Awaits::Ack) {
      // During the write it counts once the port has said the byte came behind the write's start.
      if (stage_ == Stage::Writing) ackInWrite_ = rxPos_;
      ++rxPos_;
      if (stage_ == Stage::Waiting) answered();
      return;
    }
  }
  const std::weak_ptr<bool> alive = alive_;
  consume(chunk);
  if (alive.expired()) return;  // a reader ended the link
  // The rest of a frame under way comes at the line's pace: the port may hand it over at once
  // rather than a byte at a time.  Not while a lone acknowledgement is awaited, which must be
  // read by itself.
  if (assembler_.startFound() && !(current_ && current_->awaits == Request::Awaits::Ack)) {
    // Command and length first; then the payload the length byte announces and the check byte.
    const std::size_t have = frameBytes_.size();
    const std::size_t whole = have < 3 ? 4 : 4 + static_cast<std::size_t>(byteAt(frameBytes_, 2));
    if (whole > have) port_->expectInput(static_cast<int>(whole - have));
  }
}

void Link::consume(const Bytes& chunk) {
  // Byte by byte, so that what is found does not depend on how the bytes were split into reads (a
  // busy machine reads seldom and much at once): a frame behind another in the same read is
  // assembled too, and after a broken frame the bytes behind its start byte are searched again.
  Bytes todo = chunk;
  std::uint64_t pos = rxPos_;  // of todo[0]
  rxPos_ += chunk.size();
  std::size_t i = 0;
  while (i < todo.size()) {
    const char b = todo[i];
    const std::uint64_t at = pos + i;
    ++i;
    if (!assembler_.startFound()) {
      if (static_cast<std::uint8_t>(b) != kControllerStart) {
        ++disturbances_;  // a byte outside any frame
        continue;
      }
      frameStart_ = at;
      frameBytes_.assign(1, b);
      assembler_.feed(frameBytes_);
      continue;
    }
    frameBytes_.push_back(b);
    frameGood_ = false;
    assembler_.feed(Bytes(1, b));
    if (assembler_.startFound() || frameGood_) continue;
    // A broken frame (a bad checksum, a length over the limit): its start byte was none.
    ++disturbances_;
    Bytes again = frameBytes_.substr(1) + todo.substr(i);
    pos = frameStart_ + 1;
    todo = std::move(again);
    i = 0;
    frameBytes_.clear();
  }
}

void Link::tick() {
  if (waitTicks_ > 0) {
    // A tick per tick, but never more ticks than the time that has passed holds: on a busy
    // machine ticks come late and seldom, and an attempt must still end within its time.
    const qint64 interval = std::max(timer_.interval(), 1);
    const qint64 byTime = current_ ? current_->ticks - attemptClock_.elapsed() / interval : 0;
    waitTicks_ = static_cast<std::uint16_t>(std::clamp<qint64>(std::min<qint64>(waitTicks_ - 1, byTime), 0, waitTicks_));
    if (waitTicks_ == 0 && current_ && stage_ == Stage::Waiting && port_ && port_->isOpen()) {
      // An answer that came while this process was not running is still in the port: read it
      // before the attempt is given up.  A port that fails here is left to its own loss report.
      try {
        if (const int waiting = port_->waitingInputCount(); waiting > 0) portRxChar(waiting);
      } catch (const SerialPortError&) {
      }
    }
    if (waitTicks_ == 0 && current_ && stage_ == Stage::Waiting) attemptTimedOut();
  }
  // The port went away under a request (the owner reported that): it ends without an answer.
  if (current_ && stage_ == Stage::Waiting && current_->write && (!port_ || !port_->isOpen()))
    finish(Request::Outcome::Cancelled);
  if (++pollTicks_ >= kPollEveryTicks) {
    pollTicks_ = 0;
    // The poll is a request of its own, queued from the event loop rather than inside this tick.
    if (!sending_)
      QMetaObject::invokeMethod(
          this,
          [this] {
            if (!sending_) emit pollDue();
          },
          Qt::QueuedConnection);
  }
}

}  // namespace dovu

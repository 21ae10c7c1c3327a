#include "firmware/bootloader.h"

#include <algorithm>

#include "base/filename.h"
#include "link/serialport.h"
#include "session/session.h"
#include "storage/checkedfile.h"

namespace dovu {

namespace {

void noteTooLarge(Notices* notices, std::size_t size) {
  note(notices, MessageKind::Error,
       Problem{Cause::FirmwareTooLarge, Cause::None, {}, {QString::number(size), QString::number(kMaxFirmwareFileSize)}, {}});
}

}  // namespace

std::optional<FirmwareFile> checkFirmwareFile(const Bytes& file, Notices* notices) {
  if (file.size() > kFileBufferSize) {
    noteTooLarge(notices, file.size());
    return std::nullopt;
  }
  if (!readCheckedFile(file, kFirmwareMagic, notices)) return std::nullopt;
  if (file.size() > kMaxFirmwareFileSize) {
    noteTooLarge(notices, file.size());
    return std::nullopt;
  }
  if (file.size() < kMinFirmwareFileSize) {
    note(notices, MessageKind::Error, Problem{Cause::FirmwareEmpty});
    return std::nullopt;
  }
  return FirmwareFile{file.substr(kMagicSize, file.size() - kMagicSize - 1), file.size()};
}

std::optional<FirmwareFile> readFirmwareFile(const QString& path, Notices* notices) {
  QString why;
  bool tooLarge = false;
  const auto data = readWholeFile(path, &why, &tooLarge);
  if (!data) {
    note(notices, MessageKind::Error,
         tooLarge ? Problem{Cause::FirmwareTooLarge, Cause::FileTooLarge, displayFileName(path),
                            {QString::number(kFileBufferSize)}, {}}
                  : Problem{Cause::CannotRead, Cause::None, {}, {}, why});
    return std::nullopt;
  }
  return checkFirmwareFile(*data, notices);
}

std::vector<Bytes> firmwareBlocks(const Bytes& image) {
  std::vector<Bytes> blocks;
  blocks.reserve((image.size() + kFirmwareBlockSize - 1) / kFirmwareBlockSize);
  for (std::size_t pos = 0, n = 0; pos < image.size(); pos += kFirmwareBlockSize, ++n) {
    Bytes payload(1, static_cast<char>(static_cast<std::uint8_t>(n)));
    payload += image.substr(pos, kFirmwareBlockSize);
    payload.resize(1 + kFirmwareBlockSize, static_cast<char>(kBlockFill));
    blocks.push_back(std::move(payload));
  }
  return blocks;
}

int firmwareBarValue(std::size_t bytesSent, std::size_t fileSize) {
  return fileSize ? static_cast<int>(bytesSent * 100 / fileSize) : 0;
}

FirmwareUpdate::FirmwareUpdate(Link& link, Session* session) : link_(link), session_(session) {
  pause_.setSingleShot(true);
  pause_.setTimerType(Qt::PreciseTimer);
}

FirmwareUpdate::~FirmwareUpdate() { *alive_ = false; }

void FirmwareUpdate::tell(MessageKind kind, const Problem& problem, bool beep) {
  if (onNotice) onNotice(Notice{kind, problem, beep});
}

void FirmwareUpdate::progress(int value) {
  if (onProgress) onProgress(value);
}

Request FirmwareUpdate::request(std::uint8_t code, const Bytes& payload, void (FirmwareUpdate::*then)(Request::Outcome)) {
  Request r;
  r.code = code;
  r.payload = payload;
  r.awaits = Request::Awaits::Ack;
  r.ticks = kBlockTicks;
  r.repetitions = 0;  // the transfer counts its repetitions itself
  r.showNoAnswer = false;
  r.logOutOnNoAnswer = false;
  r.pauseAfterMs = 0;
  std::weak_ptr<bool> alive = alive_;
  r.done = [this, alive, then](Request::Outcome o) {
    if (!alive.expired() && *alive.lock()) (this->*then)(o);
  };
  return r;
}

bool FirmwareUpdate::start(const FirmwareFile& file) {
  if (running_) return false;
  running_ = true;
  stop_ = false;
  hold_ = link_.hold();
  blocks_ = firmwareBlocks(file.image);
  index_ = 0;
  copies_ = 0;
  sent_ = 0;
  imageSize_ = file.image.size();
  fileSize_ = file.fileSize;
  repetitionsLeft_ = kBlockRepetitions;

  // The controller leaves the application: the window shows the logged-out state, without a
  // logout request.
  if (session_) session_->showLoggedOut();
  tell(MessageKind::Warning, Problem{Cause::KeepPowered}, true);
  progress(0);
  Request restart = request(kCodeRestart, kRestartPayload, &FirmwareUpdate::blockDone);
  restart.awaits = Request::Awaits::Nothing;
  restart.done = [this, alive = std::weak_ptr<bool>(alive_)](Request::Outcome o) {
    if (alive.expired() || !*alive.lock() || endedByPort(o)) return;
    if (stop_ || o == Request::Outcome::Cancelled) return finish(Result::Stopped);
    // The controller restarts into its bootloader meanwhile.
    pause_.disconnect();
    QObject::connect(&pause_, &QTimer::timeout, [this] { sendBlock(false); });
    pause_.start(kBootloaderStartMs);
  };
  link_.send(std::move(restart));
  return true;
}

void FirmwareUpdate::stop() {
  stop_ = true;
  // A pause ends at once; a request ends at its answer or time-out.
  if (running_ && pause_.isActive()) {
    pause_.stop();
    finish(Result::Stopped);
  }
}

bool FirmwareUpdate::endedByPort(Request::Outcome outcome) {
  if (outcome != Request::Outcome::PortError) return false;
  // The line is gone (adapter unplugged, port closed): not a missing answer, so say what it is.
  const auto& e = link_.lastError();
  Problem p{Cause::FlashPortFailed, e ? Session::portErrorCause(*e) : Cause::PortNotOpen,
            link_.port() ? link_.port()->port() : QString(), {}, {}};
  if (p.reason == Cause::PortFailed && e) p.args << QString::number(e->code());
  // Once "B" has gone out the controller sits in its bootloader; before that it may not.
  p.holds = index_ > 0 || copies_ > 0 ? Holds::Bootloader : Holds::NotSaid;
  tell(MessageKind::Error, p, true);
  finish(Result::PortError);
  return true;
}

void FirmwareUpdate::sendBlock(bool afterAck) {
  if (stop_) return finish(Result::Stopped);
  copies_ = 1;
  // Only an acknowledgement that arrives after this block went out counts for it (the write
  // forgets the one read before).  The bootloader sends nothing but one acknowledgement a block,
  // so behind an acknowledgement nothing is still arriving and the block goes out at once.
  Request block = request(kCodeBlock, blocks_[index_], &FirmwareUpdate::blockDone);
  block.quietFirst = !afterAck;
  link_.send(std::move(block));
}

void FirmwareUpdate::blockDone(Request::Outcome outcome) {
  if (endedByPort(outcome)) return;
  // Stopped by the dialog, or the window is closing.
  if (stop_ || outcome == Request::Outcome::Cancelled) return finish(Result::Stopped);
  if (outcome == Request::Outcome::Answered) {
    // Acknowledgements carry no block number: the one just taken may be a late one of an earlier
    // copy, and each copy may still be acknowledged.  Before the next block goes out, each
    // further acknowledgement is let in, or the line stays quiet for as long as it can take to
    // come, so that none can pass for the next block's.
    furtherAcks_ = copies_ - 1;
    return awaitFurtherAcks();
  }
  if (repetitionsLeft_ == 0) {
    Problem p{Cause::FlashFailed};
    p.holds = Holds::Bootloader;
    tell(MessageKind::Error, p, true);
    // The bar still counts the block that failed, as it stands during the last pause.
    progress(firmwareBarValue(std::min(sent_ + kFirmwareBlockSize, imageSize_), fileSize_));
    return finish(Result::NoAnswer);
  }
  --repetitionsLeft_;
  ++copies_;
  link_.send(request(kCodeBlock, blocks_[index_], &FirmwareUpdate::blockDone));
}

void FirmwareUpdate::awaitFurtherAcks() {
  if (furtherAcks_ <= 0) return nextBlock();
  --furtherAcks_;
  Request listen = request(kCodeBlock, {}, &FirmwareUpdate::blockDone);
  listen.write = false;
  listen.ticks = kLateAckTicks;
  listen.done = [this, alive = std::weak_ptr<bool>(alive_)](Request::Outcome o) {
    if (alive.expired() || !*alive.lock()) return;
    if (stop_ || o == Request::Outcome::Cancelled) return finish(Result::Stopped);
    if (o == Request::Outcome::Answered) return awaitFurtherAcks();
    nextBlock();  // the line stayed quiet: no further acknowledgement is coming
  };
  link_.send(std::move(listen));
}

void FirmwareUpdate::nextBlock() {
  sent_ = std::min(sent_ + kFirmwareBlockSize, imageSize_);
  progress(firmwareBarValue(sent_, fileSize_));
  if (stop_) return finish(Result::Stopped);
  if (++index_ < blocks_.size()) return sendBlock(true);
  progress(100);
  pause_.disconnect();
  QObject::connect(&pause_, &QTimer::timeout, [this] { sendEnd(); });
  pause_.start(kBeforeEndMs);
}

void FirmwareUpdate::sendEnd() {
  if (stop_) return finish(Result::Stopped);
  Request end = request(kCodeEndTransfer, kEndTransferPayload, &FirmwareUpdate::blockDone);
  end.awaits = Request::Awaits::Nothing;
  end.done = [this, alive = std::weak_ptr<bool>(alive_)](Request::Outcome o) {
    if (alive.expired() || !*alive.lock() || endedByPort(o)) return;
    if (o == Request::Outcome::Cancelled) return finish(Result::Stopped);
    tell(MessageKind::Information, Problem{Cause::FlashDone}, false);
    finish(Result::Done);
  };
  link_.send(std::move(end));
}

void FirmwareUpdate::finish(Result result) {
  pause_.stop();
  running_ = false;
  hold_.reset();
  if (onFinished) onFinished(result);
}

}  // namespace dovu

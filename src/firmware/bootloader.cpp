#include "firmware/bootloader.h"

#include <algorithm>

#include "link/serialport.h"
#include "session/session.h"
#include "storage/checkedfile.h"

namespace dovu {

namespace {

void reportTooLarge(Notifier& notifier, std::size_t size) {
  notifier.message(MessageKind::Error, QString::fromUtf8(kFirmwareTooLargeText),
                   QStringLiteral("Plik ma %1 bajtów, a może mieć najwyżej %2.").arg(size).arg(kMaxFirmwareFileSize));
}

// Clears a flag when the transfer ends, however it ends.
struct RunningGuard {
  bool& flag;
  ~RunningGuard() { flag = false; }
};

}  // namespace

std::optional<FirmwareFile> checkFirmwareFile(const Bytes& file, Notifier& notifier) {
  if (file.size() > kFileBufferSize) {
    reportTooLarge(notifier, file.size());
    return std::nullopt;
  }
  if (!readCheckedFile(file, kFirmwareMagic, notifier)) return std::nullopt;
  if (file.size() > kMaxFirmwareFileSize) {
    reportTooLarge(notifier, file.size());
    return std::nullopt;
  }
  if (file.size() < kMinFirmwareFileSize) {
    notifier.message(MessageKind::Error, QString::fromUtf8(kFirmwareEmptyText),
                     QStringLiteral("Plik ma tylko znacznik i bajt kontrolny."));
    return std::nullopt;
  }
  return FirmwareFile{file.substr(kMagicSize, file.size() - kMagicSize - 1), file.size()};
}

std::optional<FirmwareFile> readFirmwareFile(const QString& path, Notifier& notifier) {
  QString why;
  bool tooLarge = false;
  const auto data = readWholeFile(path, &why, &tooLarge);
  if (!data) {
    if (tooLarge)
      notifier.message(MessageKind::Error, QString::fromUtf8(kFirmwareTooLargeText), why);
    else
      notifier.message(MessageKind::Error, QString::fromUtf8(kCannotReadText), why);
    return std::nullopt;
  }
  return checkFirmwareFile(*data, notifier);
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

FirmwareUpdate::FirmwareUpdate(Link& link, Notifier& notifier, Session* session)
    : link_(link), notifier_(notifier), session_(session) {}

FirmwareUpdate::Result FirmwareUpdate::run(const FirmwareFile& file) {
  if (running_) return Result::Busy;
  running_ = true;
  stop_ = false;
  RunningGuard guard{running_};
  try {
    return transfer(file);
  } catch (const SerialPortError& e) {
    // The line is gone (adapter unplugged, port closed): not a missing answer, so say what it is.
    notifier_.beep();
    notifier_.message(MessageKind::Error, QString::fromUtf8(kPortUnavailableText),
                      QStringLiteral("Aktualizacja nieudana: %1").arg(Session::portErrorReason(e)));
    return Result::PortError;
  }
}

FirmwareUpdate::Result FirmwareUpdate::transfer(const FirmwareFile& file) {
  auto progress = [this](int v) {
    if (onProgress) onProgress(v);
  };

  // The controller leaves the application: the window shows the logged-out state, without a
  // logout request.
  if (session_) session_->showLoggedOut();
  notifier_.beep();
  notifier_.message(MessageKind::Warning, QString::fromUtf8(kKeepPoweredText));
  if (stop_) return Result::Stopped;
  progress(0);

  link_.sendFrame(kCodeRestart, kRestartPayload);
  Link::pauseMs(kBootloaderStartMs);

  const std::vector<Bytes> blocks = firmwareBlocks(file.image);
  int repetitionsLeft = kBlockRepetitions;
  std::size_t sent = 0;
  for (const Bytes& block : blocks) {
    // Only an acknowledgement that arrives after this block went out counts for it (the write
    // forgets the one read before).
    link_.sendFrame(kCodeBlock, block);
    link_.setWaitTicks(kBlockTicks);
    int copies = 1;
    for (;;) {
      Link::processPending();
      // Stopped by the dialog, or the window is closing.
      if (stop_ || link_.aborted()) return Result::Stopped;
      if (link_.lastRxChar() == kBlockAck) break;
      if (link_.waitTicks() == 0) {
        if (repetitionsLeft == 0) {
          notifier_.beep();
          notifier_.message(MessageKind::Error, QString::fromUtf8(kFlashFailedText));
          Link::processPending();
          // The bar still counts the block that failed, as it stands during the last pause.
          progress(firmwareBarValue(std::min(sent + kFirmwareBlockSize, file.image.size()), file.fileSize));
          return Result::NoAnswer;
        }
        --repetitionsLeft;
        ++copies;
        link_.sendFrame(kCodeBlock, block);
        link_.setWaitTicks(kBlockTicks);
        continue;
      }
      // Nothing to do until the acknowledgement or the next tick arrives.
      Link::processUntilEvent();
    }
    // Acknowledgements carry no block number: the one just taken may be a late one of an earlier
    // copy, and each copy may still be acknowledged.  Before the next block goes out, each further
    // acknowledgement is let in, or the line stays quiet for as long as it can take to come, so
    // that none can pass for the next block's.
    for (int echoes = copies - 1; echoes > 0; --echoes) {
      link_.setLastRxChar(kNoRxChar);
      link_.setWaitTicks(kLateAckTicks);
      while (link_.lastRxChar() != kBlockAck && link_.waitTicks() > 0) {
        Link::processUntilEvent();
        if (stop_ || link_.aborted()) return Result::Stopped;
      }
      if (link_.lastRxChar() != kBlockAck) break;
    }
    link_.setLastRxChar(kNoRxChar);
    sent = std::min(sent + kFirmwareBlockSize, file.image.size());
    progress(firmwareBarValue(sent, file.fileSize));
    Link::processPending();
    if (stop_) return Result::Stopped;
  }

  progress(100);
  Link::pauseMs(kBeforeEndMs);
  link_.sendFrame(kCodeEndTransfer, kEndTransferPayload);
  notifier_.message(MessageKind::Information, QString::fromUtf8(kFlashDoneText));
  return Result::Done;
}

}  // namespace dovu

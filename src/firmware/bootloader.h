#pragma once
// Firmware update through the controller's bootloader.
//
// A firmware file is "dvf", the image and an XOR check byte.  The transfer restarts the controller
// into its bootloader (255 "B"), waits 2000 ms, sends the image in numbered blocks of 128 bytes
// (code 101, the last block filled with 0xFF, numbers wrapping at 256), each acknowledged by a lone
// "!", then after another 2000 ms ends it with 102 "K".  Acknowledgements may be missed twice in
// the whole transfer; one attempt lasts 10 ticks.
#include <QString>
#include <QTimer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "link/commands.h"
#include "link/link.h"
#include "base/outcome.h"

namespace dovu {

class Session;

constexpr std::size_t kFirmwareBlockSize = 128;
constexpr std::uint8_t kBlockFill = 0xFF;
constexpr std::uint16_t kBlockTicks = 10;   // one attempt, about a second
// After a repeated block, how long the acknowledgement of a further copy may still take: the copies
// went out one attempt apart, and the acknowledgement taken may be the late one of the first copy.
constexpr std::uint16_t kLateAckTicks = 2 * kBlockTicks;
constexpr int kBlockRepetitions = 2;        // for the whole transfer, not per block
constexpr int kBootloaderStartMs = 2000;    // after "B", while the controller restarts
constexpr int kBeforeEndMs = 2000;          // after the last block, before "K"
constexpr int kCloseDelayMs = 1000;         // after the transfer, before the dialog closes
// The file size is a 16-bit number and the image must not be empty.
constexpr std::size_t kMaxFirmwareFileSize = 65535;
constexpr std::size_t kMinFirmwareFileSize = 5;


struct FirmwareFile {
  Bytes image;            // file bytes 3 .. S-2
  std::size_t fileSize;   // S, tag and check byte included
};

// Checks a firmware file: size limits first (too large, empty image), then the tag and the check
// byte with the notices of the shared file check.  nullopt, with notices saying why.
std::optional<FirmwareFile> checkFirmwareFile(const Bytes& file, Notices* notices = nullptr);
std::optional<FirmwareFile> readFirmwareFile(const QString& path, Notices* notices = nullptr);

// The payloads of the block frames: block number (modulo 256) and 128 bytes.
std::vector<Bytes> firmwareBlocks(const Bytes& image);
// BarBoot while the blocks go out: image bytes sent x 100 / file size (so it stays below 100).
int firmwareBarValue(std::size_t bytesSent, std::size_t fileSize);

class FirmwareUpdate {
 public:
  enum class Result {
    Done,       // every block acknowledged and "K" sent
    NoAnswer,   // acknowledgements missing; "K" not sent
    Stopped,    // stop() during the transfer; "K" not sent
    Busy,       // another transfer runs
    PortError,  // the port refused a write
  };

  // session may be null (no window states to switch).
  explicit FirmwareUpdate(Link& link, Session* session = nullptr);
  ~FirmwareUpdate();

  // Starts the whole transfer: the window logged out, the warning, "B", the blocks, and "K" on success,
  // as a sequence of the link's requests with timers for the pauses; it holds the line until it
  // ends and reports the outcome to onFinished.  False, with nothing done, while one runs.
  bool start(const FirmwareFile& file);
  bool running() const { return running_; }
  // Ends a running transfer at its next step, without "K" (the dialog is closing).
  void stop();

  // BarBoot: called with 0 when the bar appears, after each acknowledged block and with 100 at
  // the end.
  std::function<void(int value)> onProgress;
  std::function<void(Result)> onFinished;
  // What the user is to be told, as it happens: the warning to keep the controller powered as the
  // transfer begins, and how it ended (before onFinished).
  std::function<void(const Notice&)> onNotice;

 private:
  void progress(int value);
  // afterAck: the block follows an acknowledgement, and goes out without waiting for a quiet line.
  void sendBlock(bool afterAck);
  void blockDone(Request::Outcome outcome);
  void awaitFurtherAcks();
  void nextBlock();
  void sendEnd();
  void finish(Result result);
  void tell(MessageKind kind, const Problem& problem, bool beep);
  // Requests whose callbacks come back to this transfer while it still exists.
  Request request(std::uint8_t code, const Bytes& payload, void (FirmwareUpdate::*then)(Request::Outcome));
  // A request that failed on the port ends the transfer; true when it did.
  bool endedByPort(Request::Outcome outcome);

  Link& link_;
  Session* session_;
  bool running_ = false;
  bool stop_ = false;
  std::shared_ptr<void> hold_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  QTimer pause_;

  std::vector<Bytes> blocks_;
  std::size_t index_ = 0;      // the block being sent
  std::size_t sent_ = 0;       // image bytes acknowledged
  std::size_t imageSize_ = 0;
  std::size_t fileSize_ = 0;
  int repetitionsLeft_ = 0;    // for the whole transfer
  int copies_ = 0;             // of the block being sent
  int furtherAcks_ = 0;        // still to be let in before the next block
};

}  // namespace dovu

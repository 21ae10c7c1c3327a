#pragma once
// The simulated DOVU controller as pure logic: it takes the frames the program sends and returns
// what the controller writes back.  No I/O, no threads; time comes from an injectable clock, so
// tests drive it in-process and the pty server (ptyserver.h) drives it from a terminal.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dovu-sim/simoptions.h"
#include "base/bytes.h"

namespace dovu::sim {

// One configuration parameter as the controller holds it: read code N answers it, set code N + 1
// stores it.
struct ParameterLayout {
  std::uint8_t readCode;
  const char* field;  // the field's stable name, or the block's name
  bool text;          // text of at most `size` characters, else a block of exactly `size` bytes
  std::uint8_t size;
};

// All 51 parameters, read codes 4, 6, ..., 104 in order.
const std::vector<ParameterLayout>& parameterLayouts();
const ParameterLayout* findParameter(std::uint8_t readCode);

// The value the simulator starts with for a read code (empty for an unknown code).
Bytes initialParameterValue(std::uint8_t readCode);

// UTF-8 to the Windows-1250 bytes the controller keeps its texts in.  Covers ASCII and the Polish
// letters; any other character becomes "?".
Bytes toCp1250(std::string_view utf8);

// Size of a firmware block and of the block frame's payload (block number + block).
constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kBlockPayload = kBlockSize + 1;
constexpr std::uint8_t kAck = 0x21;  // "!"

constexpr std::size_t kStatusSize = 18;
constexpr std::uint8_t kLastModemStage = 19;

// One thing the controller sends in reply to a frame.
struct Answer {
  enum class Kind { Frame, Ack };
  Kind kind = Kind::Frame;
  std::uint8_t code = 0;       // code of the request it answers
  Bytes noise;                 // bytes sent just ahead of it (--noise)
  Bytes bytes;                 // the whole frame, or the single acknowledgement byte
  const char* lostBy = nullptr;  // option of the failure mode that loses it; nullptr: it is sent
  const char* sentBy = nullptr;  // option of the failure mode that adds it unasked
  bool atOnce = false;           // an unasked frame that follows the answer without a pause
  bool spoiled = false;          // sent, but no program takes it (too long, bad checksum, a short block)
  int delayMs = 0;               // held back this long (--late-ack)

  Bytes wire() const { return noise + bytes; }
};

class SimController {
 public:
  // Milliseconds on any steady time line; only differences are used.
  using Clock = std::function<std::chrono::milliseconds()>;

  explicit SimController(ControllerOptions options = {}, Clock clock = {});

  // Handles one good frame from the program and returns what goes back on the line, in order:
  // complete frames (start byte 0x74) and lone "!" acknowledgements, each to be written by itself.
  std::vector<Bytes> onFrame(std::uint8_t code, const Bytes& payload);

  // The same, with the answers that a failure mode lost still listed (lostBy set).
  std::vector<Answer> handle(std::uint8_t code, const Bytes& payload);

  // Stored value of a read code (empty for an unknown code).
  Bytes parameter(std::uint8_t readCode) const;
  // "<code> <hex bytes>" per read code, one line each; "<code>" alone for an empty value.
  std::string dump() const;

  const Bytes& password() const { return password_; }

  // The 18-byte record that answers 253 at this moment.
  Bytes statusRecord() const;
  std::uint8_t modemStage() const;

  bool inBootloader() const { return bootloader_; }
  // Blocks received since the last restart into the bootloader, in order, padding included.
  const Bytes& image() const { return image_; }
  unsigned completedTransfers() const { return completedTransfers_; }
  // Block frames refused: wrong size, or a number that is neither the next nor a repetition.
  unsigned rejectedBlocks() const { return rejectedBlocks_; }

  // Called after a set code has stored a value.
  void setParametersChangedHandler(std::function<void()> h) { parametersChanged_ = std::move(h); }
  // Called when "K" ends a transfer, with the received image.
  void setImageHandler(std::function<void(const Bytes&)> h) { imageReceived_ = std::move(h); }

 private:
  std::vector<Answer> answer(std::uint8_t code, const Bytes& payload);
  std::vector<Answer> bootloaderFrame(std::uint8_t code, const Bytes& payload);
  void applyFailures(std::uint8_t code, std::vector<Answer>& answers);
  // Frames nobody asked for that follow the answers to code (--unsolicited, --noisy-line).
  void addUnasked(std::uint8_t code, std::vector<Answer>& answers);
  unsigned nextNoise();
  Answer frame(std::uint8_t code, const Bytes& payload) const;
  long long now() const { return clock_().count(); }
  long long secondsSinceBoot() const { return (now() - bootAt_) / 1000; }
  void resetCounters(std::uint8_t sms, std::uint8_t voice);

  ControllerOptions opt_;
  Clock clock_;
  Bytes password_;
  std::vector<Bytes> params_;  // indexed by readCode / 2 - 2
  long long bootAt_ = 0;
  long long restartAt_ = 0;  // when 255 "B" sent the controller into its bootloader

  // Daily counters: the base value plus one SMS every 40 s and one call every 100 s since countersAt_.
  std::uint8_t smsBase_ = 0, voiceBase_ = 0;
  long long countersAt_ = 0;

  // Failure-mode state.
  bool silenced_ = false;
  unsigned answersMade_ = 0;
  std::vector<std::uint8_t> longLengthDone_;
  unsigned noiseSeed_ = 1;

  // Bootloader.
  bool bootloader_ = false;
  Bytes image_;
  bool haveBlock_ = false;
  std::uint8_t lastBlockNumber_ = 0;
  int missAckSeen_ = 0;
  bool garbled_ = false;
  unsigned completedTransfers_ = 0;
  unsigned rejectedBlocks_ = 0;

  std::function<void()> parametersChanged_;
  std::function<void(const Bytes&)> imageReceived_;
};

}  // namespace dovu::sim

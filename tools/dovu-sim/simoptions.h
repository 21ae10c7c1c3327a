#pragma once
// Settings of the simulated DOVU controller: what it answers, how it paces the line and the
// failure modes it can be told to show, so that the program's time-outs, repetitions and frame
// checks can be exercised against it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace dovu::sim {

// The password a controller leaves the factory with (the program's default too).
inline constexpr const char* kFactoryPassword = "8617";

// The enumerated failure modes.  Each is switched on by one command-line option; several may be
// combined.  The one-line descriptions are those of failureModes() (and of --help).
enum class FailureMode {
  Silent,          // never answers anything
  SilentFrom,      // stops answering anything once a frame with a given code has arrived
  DropCode,        // loses the next COUNT answers to one code (default: all of them)
  DropEvery,       // loses every Nth answer
  BadChecksum,     // corrupts the checksum of the answers to one code, or of all answers
  LongLength,      // answers one code once with a length byte over 100, then normally
  Noise,           // puts a few bytes without 0x74 in front of every answer frame
  RefusePassword,  // refuses every login, whatever the password
  MissAck,         // withholds the acknowledgement of transfer block K the first TIMES times
  NeverAck,        // the bootloader acknowledges no block
  Split,           // writes answers one byte per write, about 3 ms apart
  Delay,           // holds every answer back a number of milliseconds
  DelayCode,       // holds the answers to one code back a number of milliseconds
  UnplugAfter,     // after K answered frames closes the line (an unplugged adapter) and exits
  ShortAnswer,     // answers one code with half its payload, the next COUNT times
  Unsolicited,     // after every answer sends an answer to a given code that nobody asked for
  NoisyLine,       // after every answer sends random bytes with a well-formed frame among them
  GarbledAnswer,   // answers one code with every payload byte inverted, the next COUNT times
  DuplicateEvery,  // sends every Nth answer twice (acknowledgements included)
  UnaskedAtOnce,   // right behind every answer sends an answer to a given code, even the one asked next
  LateAck,         // acknowledges transfer block K a number of milliseconds late, every time
  GarbleBlock,     // takes the first copy of transfer block K as garbled on the line: not kept, not acknowledged
};

struct ServerOptions;

// Takes an option's value (empty for a switch) into the settings; false for a bad value.
using ApplyOption = bool (*)(ServerOptions& o, const std::string& value);

// One command-line option: its name, its value's name, the --help text (a "\n" starts a new
// line) and what it sets.
struct OptionInfo {
  const char* option;       // "--drop-code"
  const char* argument;     // "CODE[:COUNT]", or "" for a plain switch
  const char* description;
  ApplyOption apply;
};

struct FailureModeInfo : OptionInfo {
  FailureMode mode;
};

// Every failure mode once, in the order of the enum.
const std::vector<FailureModeInfo>& failureModes();
// The other options (password, firmware version, pacing, files), in --help order.
const std::vector<OptionInfo>& settingOptions();

// Marks "every code" in ControllerOptions::badChecksum.
constexpr int kAllCodes = -1;

// What the in-memory controller does.  The defaults are a healthy controller.
struct ControllerOptions {
  Bytes password = kFactoryPassword;
  char version = '1';  // second byte of the login answer

  struct CodeCount {
    std::uint8_t code;
    int count;  // answers still to lose; below 0: every answer
  };

  bool silent = false;
  std::optional<std::uint8_t> silentFrom;
  std::vector<CodeCount> dropCode;
  unsigned dropEvery = 0;             // 0: off
  std::vector<int> badChecksum;       // codes, or kAllCodes
  std::vector<std::uint8_t> longLength;
  bool noise = false;
  bool refusePassword = false;
  std::optional<std::size_t> missAckBlock;  // block index over the whole transfer, from 0
  int missAckTimes = 1;
  bool neverAck = false;
  // After 255 "B" the bootloader waits this long for a first block; until then, and until the
  // application has started again, nothing but firmware blocks is answered.
  int bootMs = 3000;
  std::vector<CodeCount> shortAnswer;
  std::optional<std::uint8_t> unsolicited;
  bool noisyLine = false;
  std::vector<CodeCount> garbledAnswer;
  unsigned duplicateEvery = 0;  // 0: off
  std::optional<std::uint8_t> unaskedAtOnce;
  std::optional<std::size_t> lateAckBlock;
  int lateAckMs = 0;
  std::optional<std::size_t> garbleBlock;
};

// What the pty server around it does.
struct ServerOptions {
  ControllerOptions controller;
  bool baudPace = false;
  bool split = false;
  int delayMs = 0;
  struct CodeDelay {
    std::uint8_t code;
    int ms;
  };
  std::vector<CodeDelay> delayCode;  // on top of delayMs
  unsigned unplugAfter = 0;  // 0: off
  bool advertise = true;
  std::string logFile;
  std::string imageOut;
  std::string dumpFile;
  std::string replayFile;  // a frame log whose answers are played back
};

struct ParseResult {
  std::optional<ServerOptions> options;  // empty on an error or after --help or --version
  bool help = false;
  bool version = false;
  std::string error;
};

// Parses the command-line arguments (without the program name).
ParseResult parseArguments(const std::vector<std::string>& args);

// The --help text, every option and failure mode included.
std::string usageText();

}  // namespace dovu::sim

#pragma once
// Settings of the simulated DOVU controller: what it answers, how it paces the line and the
// failure modes it can be told to show, so that the program's time-outs, repetitions and frame
// checks can be exercised against it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/bytes.h"

namespace dovu::sim {

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
  UnplugAfter,     // after K answered frames closes the line (an unplugged adapter) and exits
  ShortAnswer,     // answers one code with half its payload, the next COUNT times
  Unsolicited,     // after every answer sends an answer to a given code that nobody asked for
  NoisyLine,       // after every answer sends random bytes with a well-formed frame among them
};

struct FailureModeInfo {
  FailureMode mode;
  const char* option;       // "--drop-code"
  const char* argument;     // "CODE[:COUNT]", or "" for a plain switch
  const char* description;  // one line
};

// Every failure mode once, in the order of the enum.
const std::vector<FailureModeInfo>& failureModes();

// Marks "every code" in ControllerOptions::badChecksum.
constexpr int kAllCodes = -1;

// What the in-memory controller does.  The defaults are a healthy controller.
struct ControllerOptions {
  Bytes password = "8617";
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
  std::vector<CodeCount> shortAnswer;
  std::optional<std::uint8_t> unsolicited;
  bool noisyLine = false;
};

// What the pty server around it does.
struct ServerOptions {
  ControllerOptions controller;
  bool baudPace = false;
  bool split = false;
  int delayMs = 0;
  unsigned unplugAfter = 0;  // 0: off
  bool advertise = true;
  std::string logFile;
  std::string imageOut;
  std::string dumpFile;
};

struct ParseResult {
  std::optional<ServerOptions> options;  // empty on an error or after --help
  bool help = false;
  std::string error;
};

// Parses the command-line arguments (without the program name).
ParseResult parseArguments(const std::vector<std::string>& args);

// The --help text, failure modes included.
std::string usageText();

}  // namespace dovu::sim

#include "dovu-sim/simoptions.h"

#include <algorithm>
#include <charconv>

namespace dovu::sim {

const std::vector<FailureModeInfo>& failureModes() {
  static const std::vector<FailureModeInfo> modes = {
      {FailureMode::Silent, "--silent", "", "never answer anything"},
      {FailureMode::SilentFrom, "--silent-from", "CODE",
       "stop answering anything once a frame with CODE has arrived"},
      {FailureMode::DropCode, "--drop-code", "CODE[:COUNT]",
       "lose the next COUNT answers to CODE (default: all of them)"},
      {FailureMode::DropEvery, "--drop-every", "N", "lose every Nth answer (acknowledgements included)"},
      {FailureMode::BadChecksum, "--bad-checksum", "CODE|all", "corrupt the checksum of answers to CODE, or of all"},
      {FailureMode::LongLength, "--long-length", "CODE",
       "answer CODE once with a length byte over 100 (101 payload bytes), then normally"},
      {FailureMode::Noise, "--noise", "", "put 1 to 4 noise bytes (never 0x74) in front of every answer frame"},
      {FailureMode::RefusePassword, "--refuse-password", "", "refuse every login"},
      {FailureMode::MissAck, "--miss-ack", "K[:TIMES]",
       "do not acknowledge block K (the K-th block of the transfer, from 0, not its wrapped number) "
       "the first TIMES times it arrives (default 1)"},
      {FailureMode::NeverAck, "--never-ack", "", "the bootloader acknowledges no block"},
      {FailureMode::Split, "--split", "", "write answers one byte per write, about 3 ms apart"},
      {FailureMode::Delay, "--delay", "MS", "hold every answer back MS milliseconds"},
      {FailureMode::UnplugAfter, "--unplug-after", "K",
       "after answering K frames close the line (an unplugged adapter to the program) and exit"},
      {FailureMode::ShortAnswer, "--short-answer", "CODE[:COUNT]",
       "answer CODE with only the first half of its payload, the next COUNT times (default: always)"},
      {FailureMode::Unsolicited, "--unsolicited", "CODE",
       "after every answer, a frame of CODE that nobody asked for, holding a value unlike the stored "
       "one (not after an answer to CODE-2, where it would pass for the next answer)"},
      {FailureMode::NoisyLine, "--noisy-line", "",
       "after every answer, a burst of random bytes and a well-formed frame of a random parameter code "
       "(never the code asked next, where it would pass for the answer)"},
  };
  return modes;
}

namespace {

bool parseNumber(const std::string& text, long min, long max, long& out) {
  long v = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p != end || text.empty() || v < min || v > max) return false;
  out = v;
  return true;
}

// "A" or "A:B"; B keeps its default when absent.
bool parsePair(const std::string& text, long maxA, long& a, long maxB, long& b) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return parseNumber(text, 0, maxA, a);
  return parseNumber(text.substr(0, colon), 0, maxA, a) && parseNumber(text.substr(colon + 1), 1, maxB, b);
}

}  // namespace

ParseResult parseArguments(const std::vector<std::string>& args) {
  ParseResult r;
  ServerOptions o;
  auto fail = [&](const std::string& msg) {
    r.error = msg;
    return r;
  };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // Options that take a value read it from the next argument.
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    long n = 0, m = 0;
    if (a == "-h" || a == "--help") {
      r.help = true;
      return r;
    } else if (a == "--baud-pace") {
      o.baudPace = true;
    } else if (a == "--no-advertise") {
      o.advertise = false;
    } else if (a == "--split") {
      o.split = true;
    } else if (a == "--silent") {
      o.controller.silent = true;
    } else if (a == "--noise") {
      o.controller.noise = true;
    } else if (a == "--refuse-password") {
      o.controller.refusePassword = true;
    } else if (a == "--never-ack") {
      o.controller.neverAck = true;
    } else if (a == "--noisy-line") {
      o.controller.noisyLine = true;
    } else if (a == "--log" || a == "--image-out" || a == "--dump") {
      if (!value(v) || v.empty()) return fail(a + " needs a file name");
      (a == "--log" ? o.logFile : a == "--image-out" ? o.imageOut : o.dumpFile) = v;
    } else if (a == "--password") {
      if (!value(v)) return fail("--password needs a value");
      o.controller.password = v;
    } else if (a == "--version") {
      if (!value(v) || v.size() != 1) return fail("--version needs a single character");
      o.controller.version = v[0];
    } else if (a == "--silent-from") {
      if (!value(v) || !parseNumber(v, 0, 255, n)) return fail("--silent-from needs a code 0..255");
      o.controller.silentFrom = static_cast<std::uint8_t>(n);
    } else if (a == "--drop-code") {
      m = -1;
      if (!value(v) || !parsePair(v, 255, n, 1000000, m)) return fail("--drop-code needs CODE[:COUNT]");
      o.controller.dropCode.push_back({static_cast<std::uint8_t>(n), static_cast<int>(m)});
    } else if (a == "--short-answer") {
      m = -1;
      if (!value(v) || !parsePair(v, 255, n, 1000000, m)) return fail("--short-answer needs CODE[:COUNT]");
      o.controller.shortAnswer.push_back({static_cast<std::uint8_t>(n), static_cast<int>(m)});
    } else if (a == "--unsolicited") {
      if (!value(v) || !parseNumber(v, 0, 255, n)) return fail("--unsolicited needs a code 0..255");
      o.controller.unsolicited = static_cast<std::uint8_t>(n);
    } else if (a == "--drop-every") {
      if (!value(v) || !parseNumber(v, 1, 1000000, n)) return fail("--drop-every needs N >= 1");
      o.controller.dropEvery = static_cast<unsigned>(n);
    } else if (a == "--bad-checksum") {
      if (!value(v)) return fail("--bad-checksum needs CODE or all");
      if (v == "all") {
        o.controller.badChecksum.push_back(kAllCodes);
      } else {
        if (!parseNumber(v, 0, 255, n)) return fail("--bad-checksum needs CODE or all");
        o.controller.badChecksum.push_back(static_cast<int>(n));
      }
    } else if (a == "--long-length") {
      if (!value(v) || !parseNumber(v, 0, 255, n)) return fail("--long-length needs a code 0..255");
      o.controller.longLength.push_back(static_cast<std::uint8_t>(n));
    } else if (a == "--miss-ack") {
      m = 1;
      if (!value(v) || !parsePair(v, 1000000, n, 1000000, m)) return fail("--miss-ack needs K[:TIMES]");
      o.controller.missAckBlock = static_cast<std::size_t>(n);
      o.controller.missAckTimes = static_cast<int>(m);
    } else if (a == "--delay") {
      if (!value(v) || !parseNumber(v, 0, 600000, n)) return fail("--delay needs milliseconds 0..600000");
      o.delayMs = static_cast<int>(n);
    } else if (a == "--unplug-after") {
      if (!value(v) || !parseNumber(v, 1, 1000000, n)) return fail("--unplug-after needs K >= 1");
      o.unplugAfter = static_cast<unsigned>(n);
    } else {
      return fail("unknown option " + a);
    }
  }
  r.options = std::move(o);
  return r;
}

std::string usageText() {
  std::string s =
      "Usage: dovu-sim [options]\n"
      "\n"
      "A simulated DOVU controller on a pseudo-terminal.  The first line on standard output is\n"
      "\"PORT <path>\", the terminal to open in the program; the port is also advertised to the\n"
      "program's port list until the simulator exits (SIGINT or SIGTERM end it cleanly).\n"
      "\n"
      "Options:\n"
      "  --password NNNN     access password (default 8617; code 3 changes it)\n"
      "  --version C         firmware version character of the login answer (default 1)\n"
      "  --baud-pace         keep to a real 4800 bit/s line: answers start no earlier than the\n"
      "                      request took to arrive (2.083 ms a byte from its first byte) and go\n"
      "                      out byte by byte against absolute deadlines, 2.083 ms apart\n"
      "  --log FILE          frame log, one line per frame, flushed line by line:\n"
      "                        \"<ms since start> > 54 02 01 57 AE  code 2\" from the program,\n"
      "                        \"<ms> < 74 02 01 57 CE  code 2\" to the program (a block\n"
      "                        acknowledgement logs its single byte 21),\n"
      "                        \"<ms> x <hex>  code N lost by <option>\" for an answer a failure\n"
      "                        mode lost, \"<ms> # <note>\" for events; codes are decimal\n"
      "  --image-out FILE    where the bootloader writes the received image when \"K\" arrives\n"
      "  --dump FILE         rewritten at start, after every set code and at exit: one line per\n"
      "                      read code, \"<code> <hex bytes>\" (just \"<code>\" when empty)\n"
      "  --no-advertise      do not advertise the port\n"
      "  -h, --help          this text\n"
      "\n"
      "Failure modes (may be combined; codes are decimal):\n";
  constexpr std::size_t kIndent = 29, kWidth = 92;
  for (const auto& f : failureModes()) {
    std::string line = "  " + std::string(f.option) + (*f.argument ? std::string(" ") + f.argument : "");
    line.resize(std::max(line.size() + 1, kIndent), ' ');
    // Word-wrap the description under its own column.
    std::string word;
    const std::string text = std::string(f.description) + ' ';
    for (char c : text) {
      if (c != ' ') {
        word += c;
        continue;
      }
      if (line.size() + word.size() > kWidth && line.size() > kIndent) {
        line.pop_back();
        s += line + '\n';
        line.assign(kIndent, ' ');
      }
      line += word + ' ';
      word.clear();
    }
    line.pop_back();
    s += line + '\n';
  }
  s +=
      "\n"
      "Exit status: 0 after SIGINT, SIGTERM or --unplug-after; 1 when the pseudo-terminal or a\n"
      "file cannot be set up; 2 on a usage error.\n";
  return s;
}

}  // namespace dovu::sim

#include "dovu-sim/simoptions.h"

#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <charconv>

namespace dovu::sim {

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

bool parseCode(const std::string& text, std::uint8_t& code) {
  long n = 0;
  if (!parseNumber(text, 0, 255, n)) return false;
  code = static_cast<std::uint8_t>(n);
  return true;
}

ControllerOptions& ctl(ServerOptions& o) { return o.controller; }

}  // namespace

const std::vector<OptionInfo>& settingOptions() {
  static const std::vector<OptionInfo> options = {
      {"--password", "NNNN", "access password (default 8617; code 3 changes it)",
       [](ServerOptions& o, const std::string& v) {
         ctl(o).password = v;
         return true;
       }},
      {"--firmware-version", "C", "firmware version character of the login answer (default 1)",
       [](ServerOptions& o, const std::string& v) {
         if (v.size() != 1) return false;
         ctl(o).version = v[0];
         return true;
       }},
      {"--baud-pace", "",
       "keep to a real 4800 bit/s line: answers start no earlier than the request took to arrive "
       "(2.083 ms a byte from its first byte) and go out byte by byte against absolute deadlines, 2.083 ms apart",
       [](ServerOptions& o, const std::string&) { return o.baudPace = true; }},
      {"--log", "FILE",
       "frame log, one line per frame, flushed line by line:\n"
       "  \"<ms since start> > 54 02 01 57 AE  code 2\" from the program,\n"
       "  \"<ms> < 74 02 01 57 CE  code 2\" to the program (a block acknowledgement logs its single byte 21),\n"
       "  \"<ms> x <hex>  code N lost by <option>\" for an answer a failure mode lost, "
       "\"<ms> # <note>\" for events; codes are decimal",
       [](ServerOptions& o, const std::string& v) {
         o.logFile = v;
         return !v.empty();
       }},
      {"--image-out", "FILE", "where the bootloader writes the received image when \"K\" arrives",
       [](ServerOptions& o, const std::string& v) {
         o.imageOut = v;
         return !v.empty();
       }},
      {"--dump", "FILE",
       "rewritten at start, after every set code and at exit: one line per read code, "
       "\"<code> <hex bytes>\" (just \"<code>\" when empty)",
       [](ServerOptions& o, const std::string& v) {
         o.dumpFile = v;
         return !v.empty();
       }},
      {"--boot-ms", "MS",
       "after 255 \"B\" the bootloader waits MS for a first block and answers nothing else "
       "meanwhile; then the application runs again (default 3000)",
       [](ServerOptions& o, const std::string& v) {
         long n = 0;
         if (!parseNumber(v, 0, 600000, n)) return false;
         ctl(o).bootMs = static_cast<int>(n);
         return true;
       }},
      {"--replay", "FILE",
       "play a frame log (--log) back: each request is answered with what was recorded for the same "
       "request bytes, at the recorded delay, unasked and broken frames included; a request the "
       "log does not hold is answered as usual. The failure modes still decide what the controller "
       "stores",
       [](ServerOptions& o, const std::string& v) {
         o.replayFile = v;
         return !v.empty();
       }},
      {"--no-advertise", "", "do not advertise the port",
       [](ServerOptions& o, const std::string&) {
         o.advertise = false;
         return true;
       }},
  };
  return options;
}

const std::vector<FailureModeInfo>& failureModes() {
  static const std::vector<FailureModeInfo> modes = {
      {{"--silent", "", "never answer anything",
        [](ServerOptions& o, const std::string&) { return ctl(o).silent = true; }},
       FailureMode::Silent},
      {{"--silent-from", "CODE", "stop answering anything once a frame with CODE has arrived",
        [](ServerOptions& o, const std::string& v) {
          std::uint8_t code = 0;
          if (!parseCode(v, code)) return false;
          ctl(o).silentFrom = code;
          return true;
        }},
       FailureMode::SilentFrom},
      {{"--drop-code", "CODE[:COUNT]", "lose the next COUNT answers to CODE (default: all of them)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0, m = -1;
          if (!parsePair(v, 255, n, 1000000, m)) return false;
          ctl(o).dropCode.push_back({static_cast<std::uint8_t>(n), static_cast<int>(m)});
          return true;
        }},
       FailureMode::DropCode},
      {{"--drop-every", "N", "lose every Nth answer (acknowledgements included)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0;
          if (!parseNumber(v, 1, 1000000, n)) return false;
          ctl(o).dropEvery = static_cast<unsigned>(n);
          return true;
        }},
       FailureMode::DropEvery},
      {{"--bad-checksum", "CODE|all", "corrupt the checksum of answers to CODE, or of all",
        [](ServerOptions& o, const std::string& v) {
          std::uint8_t code = 0;
          if (v != "all" && !parseCode(v, code)) return false;
          ctl(o).badChecksum.push_back(v == "all" ? kAllCodes : code);
          return true;
        }},
       FailureMode::BadChecksum},
      {{"--long-length", "CODE", "answer CODE once with a length byte over 100 (101 payload bytes), then normally",
        [](ServerOptions& o, const std::string& v) {
          std::uint8_t code = 0;
          if (!parseCode(v, code)) return false;
          ctl(o).longLength.push_back(code);
          return true;
        }},
       FailureMode::LongLength},
      {{"--noise", "", "put 1 to 4 noise bytes (never 0x74) in front of every answer frame",
        [](ServerOptions& o, const std::string&) { return ctl(o).noise = true; }},
       FailureMode::Noise},
      {{"--refuse-password", "", "refuse every login",
        [](ServerOptions& o, const std::string&) { return ctl(o).refusePassword = true; }},
       FailureMode::RefusePassword},
      {{"--miss-ack", "K[:TIMES]",
        "do not acknowledge block K (the K-th block of the transfer, from 0, not its wrapped number) "
        "the first TIMES times it arrives (default 1)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0, m = 1;
          if (!parsePair(v, 1000000, n, 1000000, m)) return false;
          ctl(o).missAckBlock = static_cast<std::size_t>(n);
          ctl(o).missAckTimes = static_cast<int>(m);
          return true;
        }},
       FailureMode::MissAck},
      {{"--never-ack", "", "the bootloader acknowledges no block",
        [](ServerOptions& o, const std::string&) { return ctl(o).neverAck = true; }},
       FailureMode::NeverAck},
      {{"--split", "", "write answers one byte per write, about 3 ms apart",
        [](ServerOptions& o, const std::string&) { return o.split = true; }},
       FailureMode::Split},
      {{"--delay", "MS", "hold every answer back MS milliseconds (0 to 600000)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0;
          if (!parseNumber(v, 0, 600000, n)) return false;
          o.delayMs = static_cast<int>(n);
          return true;
        }},
       FailureMode::Delay},
      {{"--delay-code", "CODE:MS", "hold the answers to CODE back MS milliseconds (may be repeated, adds to --delay)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0, m = 0;
          if (v.find(':') == std::string::npos || !parsePair(v, 255, n, 600000, m)) return false;
          o.delayCode.push_back({static_cast<std::uint8_t>(n), static_cast<int>(m)});
          return true;
        }},
       FailureMode::DelayCode},
      {{"--unplug-after", "K", "after answering K frames close the line (an unplugged adapter to the program) and exit",
        [](ServerOptions& o, const std::string& v) {
          long n = 0;
          if (!parseNumber(v, 1, 1000000, n)) return false;
          o.unplugAfter = static_cast<unsigned>(n);
          return true;
        }},
       FailureMode::UnplugAfter},
      {{"--short-answer", "CODE[:COUNT]",
        "answer CODE with only the first half of its payload, the next COUNT times (default: always)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0, m = -1;
          if (!parsePair(v, 255, n, 1000000, m)) return false;
          ctl(o).shortAnswer.push_back({static_cast<std::uint8_t>(n), static_cast<int>(m)});
          return true;
        }},
       FailureMode::ShortAnswer},
      {{"--unsolicited", "CODE",
        "after every answer, a frame of CODE that nobody asked for, holding a value unlike the stored "
        "one (not after an answer to CODE-2, where it would pass for the next answer)",
        [](ServerOptions& o, const std::string& v) {
          std::uint8_t code = 0;
          if (!parseCode(v, code)) return false;
          ctl(o).unsolicited = code;
          return true;
        }},
       FailureMode::Unsolicited},
      {{"--noisy-line", "",
        "after every answer, a burst of random bytes and a well-formed frame of a random parameter code "
        "(never the code asked next, where it would pass for the answer)",
        [](ServerOptions& o, const std::string&) { return ctl(o).noisyLine = true; }},
       FailureMode::NoisyLine},
      {{"--garbled-answer", "CODE[:COUNT]",
        "answer CODE with every payload byte inverted in a well-formed frame, the next COUNT times "
        "(default: always)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0, m = -1;
          if (!parsePair(v, 255, n, 1000000, m)) return false;
          ctl(o).garbledAnswer.push_back({static_cast<std::uint8_t>(n), static_cast<int>(m)});
          return true;
        }},
       FailureMode::GarbledAnswer},
      {{"--duplicate-every", "N", "send every Nth answer twice, one right after the other (acknowledgements included)",
        [](ServerOptions& o, const std::string& v) {
          long n = 0;
          if (!parseNumber(v, 1, 1000000, n)) return false;
          ctl(o).duplicateEvery = static_cast<unsigned>(n);
          return true;
        }},
       FailureMode::DuplicateEvery},
      {{"--unasked-at-once", "CODE",
        "right behind every answer, with no pause, a frame of CODE that nobody asked for (also behind "
        "the answer to CODE-2: the program must not take it for the next answer)",
        [](ServerOptions& o, const std::string& v) {
          std::uint8_t code = 0;
          if (!parseCode(v, code)) return false;
          ctl(o).unaskedAtOnce = code;
          return true;
        }},
       FailureMode::UnaskedAtOnce},
      {{"--late-ack", "K:MS", "acknowledge block K (from 0) MS milliseconds late, every time it arrives",
        [](ServerOptions& o, const std::string& v) {
          long n = 0, m = 0;
          if (v.find(':') == std::string::npos || !parsePair(v, 1000000, n, 600000, m)) return false;
          ctl(o).lateAckBlock = static_cast<std::size_t>(n);
          ctl(o).lateAckMs = static_cast<int>(m);
          return true;
        }},
       FailureMode::LateAck},
      {{"--garble-block", "K", "the first copy of block K (from 0) is garbled on the line: neither kept nor acknowledged",
        [](ServerOptions& o, const std::string& v) {
          long n = 0;
          if (!parseNumber(v, 0, 1000000, n)) return false;
          ctl(o).garbleBlock = static_cast<std::size_t>(n);
          return true;
        }},
       FailureMode::GarbleBlock},
  };
  return modes;
}

ParseResult parseArguments(const std::vector<std::string>& args) {
  ParseResult r;
  // Every option of both tables, by its name without the dashes.
  std::vector<const OptionInfo*> all;
  for (const auto& o : settingOptions()) all.push_back(&o);
  for (const auto& f : failureModes()) all.push_back(&f);
  QCommandLineParser parser;
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringLiteral("version"));
  parser.addOption(help);
  parser.addOption(version);
  for (const OptionInfo* o : all) {
    const QString name = QString::fromLatin1(o->option).mid(2);
    if (*o->argument)
      parser.addOption(QCommandLineOption(name, QString(), QString::fromLatin1(o->argument)));
    else
      parser.addOption(QCommandLineOption(name));
  }
  QStringList list{QStringLiteral("dovu-sim")};
  for (const std::string& a : args) list << QString::fromStdString(a);
  if (!parser.parse(list)) {
    r.error = parser.errorText().toStdString();
    return r;
  }
  if (parser.isSet(help) || parser.isSet(version)) {
    r.help = parser.isSet(help);
    r.version = !r.help;
    return r;
  }
  if (!parser.positionalArguments().isEmpty()) {
    r.error = "unexpected argument " + parser.positionalArguments().first().toStdString();
    return r;
  }
  ServerOptions o;
  for (const OptionInfo* info : all) {
    const QString name = QString::fromLatin1(info->option).mid(2);
    if (!parser.isSet(name)) continue;
    // A switch applies once; an option with a value once per value given.
    const QStringList values = *info->argument ? parser.values(name) : QStringList{QString()};
    for (const QString& v : values) {
      if (!info->apply(o, v.toStdString())) {
        r.error = std::string(info->option) + " needs " + info->argument;
        return r;
      }
    }
  }
  r.options = std::move(o);
  return r;
}

namespace {

// "  --option ARG   description", the description word-wrapped in its own column; a "\n" in it
// starts a new line, whose leading spaces indent it and its continuation lines.
std::string optionHelp(const OptionInfo& o) {
  constexpr std::size_t kIndent = 29, kWidth = 92;
  std::string out;
  std::string line = "  " + std::string(o.option) + (*o.argument ? std::string(" ") + o.argument : "");
  line.resize(std::max(line.size() + 1, kIndent), ' ');
  std::string text = o.description;
  std::size_t start = 0;
  for (bool first = true;; first = false) {
    const std::size_t end = text.find('\n', start);
    const std::string para = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t lead = para.find_first_not_of(' ');
    const std::size_t indent = kIndent + (lead == std::string::npos ? 0 : lead);
    if (!first) line.assign(indent, ' ');
    std::string word;
    for (char c : para.substr(lead == std::string::npos ? para.size() : lead) + ' ') {
      if (c != ' ') {
        word += c;
        continue;
      }
      if (line.size() + word.size() > kWidth && line.size() > indent) {
        line.pop_back();
        out += line + '\n';
        line.assign(indent, ' ');
      }
      line += word + ' ';
      word.clear();
    }
    line.pop_back();
    out += line + '\n';
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string usageText() {
  std::string s =
      "Usage: dovu-sim [options]\n"
      "\n"
      "A simulated DOVU controller on a pseudo-terminal.  The first line on standard output is\n"
      "\"PORT <path>\", the terminal to open in the program; the port is also advertised to the\n"
      "program's port list until the simulator exits (SIGINT or SIGTERM end it cleanly).\n"
      "Options take their value as \"--option VALUE\" or \"--option=VALUE\"; \"--\" ends the options.\n"
      "\n"
      "Options:\n";
  for (const auto& o : settingOptions()) s += optionHelp(o);
  s +=
      "  -h, --help                 this text\n"
      "  --version                  the simulator's version\n"
      "\n"
      "Failure modes (may be combined; codes are decimal):\n";
  for (const auto& f : failureModes()) s += optionHelp(f);
  s +=
      "\n"
      "Exit status: 0 after SIGINT, SIGTERM or --unplug-after; 1 when the pseudo-terminal or a\n"
      "file cannot be set up; 2 on a usage error.\n";
  return s;
}

}  // namespace dovu::sim

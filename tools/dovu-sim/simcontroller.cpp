#include "dovu-sim/simcontroller.h"

#include <algorithm>

#include "link/commands.h"
#include "link/framecodec.h"

namespace dovu::sim {

namespace {

constexpr std::uint8_t kFirstReadCode = 4;
constexpr std::uint8_t kLastSetCode = 105;
constexpr std::size_t kLongLength = 101;  // one over what the program accepts

std::size_t slot(std::uint8_t readCode) { return readCode / 2 - 2; }

Bytes bytesOf(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<char>(v));
  return b;
}

// Triangle wave between -amp and +amp with the given period, in whole steps of t.
long long triangle(long long t, long long period, long long amp) {
  const long long half = period / 2;
  const long long p = t % period;
  return p < half ? -amp + 2 * amp * p / half : amp - 2 * amp * (p - half) / half;
}

// Sensor state of the status record: 1 normal, 2 above the upper threshold, 3 below the lower one.
std::uint8_t sensorState(long long value, long long min, long long max) {
  if (value > max) return 2;
  if (value < min) return 3;
  return 1;
}

// Tenths of a degree that an analog temperature reading stands for (2.5 V reference, 10 mV/degree,
// 500 mV at 0 degrees).
long long analogTenths(long long raw) { return raw * 2500 / 1024 - 500; }

// A threshold byte (offset 128, whole degrees) in tenths of a degree.
long long thresholdTenths(std::uint8_t b) { return (static_cast<long long>(b) - 128) * 10; }

struct Initial {
  std::uint8_t readCode;
  const char* utf8;  // text parameters; nullptr for the blocks below
};

// Texts a controller in a small house with a boiler room might hold; each is within its limit
// and all differ, so a value that lands in the wrong field shows.
const Initial kInitialTexts[] = {
    {4, "4821"},
    {6, "+48602951111"},
    {8, "+48601234567"},
    {10, "+48512345678"},
    {12, "+48698765432"},
    {14, "+48723456789"},
    {16, "Strefa 1 czuwa"},
    {18, "Drzwi zamknięte"},
    {20, "Okno w kuchni zamknięte"},
    {22, "Czujnik dymu w normie"},
    {24, "Piwnica sucha"},
    {26, "Włamanie strefa 1"},
    {28, "Alarm: otwarte drzwi do garażu"},
    {30, "Otwarte okno w kuchni"},
    {32, "POŻAR! Czujnik dymu"},
    {34, "Zalanie piwnicy"},
    {36, "ZAŁ1"},
    {38, "ZAŁ2"},
    {40, "WYŁ1"},
    {42, "WYŁ2"},
    {44, "ZAŁ3"},
    {46, "WYŁ3"},
    {48, "ZAŁ4"},
    {50, "WYŁ4"},
    {56, "Wykonałem"},
    {58, "Test łączności"},
    {60, "Brak 230V"},
    {62, "Powrót 230V"},
    {64, "Niskie napięcie"},
    {66, "Akumulator OK"},
    {68, "Temperatura za wysoka"},
    {70, "Temperatura w normie"},
    {72, "Temperatura za niska"},
    {74, "Kotłownia: za gorąco"},
    {76, "Kotłownia: temp. w normie"},
    {78, "Kotłownia: grozi zamarznięcie"},
    {82, "+48605111222"},
    {84, "+48790123456"},
    {86, "+48881234567"},
    {88, "+420603123456"},
    {90, "STAN"},
    {92, "Wilgotność za wysoka"},
    {94, "Wilgotność w normie"},
    {96, "Wilgotność za niska"},
    {98, "Na zewnątrz za ciepło"},
    {100, "Temp. zewnętrzna w normie"},
    {102, "Uwaga: MRÓZ na zewnątrz"},
};

// Block offsets used by the status record.
constexpr std::size_t kT1Min = 0, kT1Max = 1, kT2Min = 2, kT2Max = 3, kACnap = 6, kDCnap = 7, kT3Min = 8,
                      kT3Max = 9, kWMin = 11, kWMax = 12;

}  // namespace

const std::vector<ParameterLayout>& parameterLayouts() {
  static const std::vector<ParameterLayout> table = {
      {4, "pin", true, 4}, {6, "smsCentre", true, 13}, {8, "telephones[0]", true, 13},
      {10, "telephones[1]", true, 13}, {12, "telephones[2]", true, 13}, {14, "telephones[3]", true, 13},
      {16, "inputs[0].normalText", true, 30}, {18, "inputs[1].normalText", true, 30},
      {20, "inputs[2].normalText", true, 30}, {22, "inputs[3].normalText", true, 30},
      {24, "inputs[4].normalText", true, 30}, {26, "inputs[0].alarmText", true, 30},
      {28, "inputs[1].alarmText", true, 30}, {30, "inputs[2].alarmText", true, 30},
      {32, "inputs[3].alarmText", true, 30}, {34, "inputs[4].alarmText", true, 30},
      {36, "outputs[0].onWord", true, 4}, {38, "outputs[1].onWord", true, 4},
      {40, "outputs[0].offWord", true, 4}, {42, "outputs[1].offWord", true, 4},
      {44, "outputs[2].onWord", true, 4}, {46, "outputs[2].offWord", true, 4},
      {48, "outputs[3].onWord", true, 4}, {50, "outputs[3].offWord", true, 4}, {52, "matrix image", false, 22},
      {54, "outputs and options", false, 14}, {56, "confirmation.text", true, 15},
      {58, "autoTest.text", true, 15}, {60, "ex.alarmText", true, 15}, {62, "ex.normalText", true, 15},
      {64, "dc.alarmText", true, 15}, {66, "dc.normalText", true, 15}, {68, "sensors.t1.highText", true, 30},
      {70, "sensors.t1.normalText", true, 30}, {72, "sensors.t1.lowText", true, 30},
      {74, "sensors.t2.highText", true, 30}, {76, "sensors.t2.normalText", true, 30},
      {78, "sensors.t2.lowText", true, 30}, {80, "sensor thresholds", false, 13},
      {82, "telephones[4]", true, 13}, {84, "telephones[5]", true, 13}, {86, "telephones[6]", true, 13},
      {88, "telephones[7]", true, 13}, {90, "statusQuery.text", true, 4},
      {92, "sensors.humidity.highText", true, 30}, {94, "sensors.humidity.normalText", true, 30},
      {96, "sensors.humidity.lowText", true, 30}, {98, "sensors.t3.highText", true, 30},
      {100, "sensors.t3.normalText", true, 30}, {102, "sensors.t3.lowText", true, 30},
      {104, "alarm delays", false, 4},
  };
  return table;
}

const ParameterLayout* findParameter(std::uint8_t readCode) {
  if (readCode < kFirstReadCode || readCode > kLastSetCode - 1 || readCode % 2) return nullptr;
  return &parameterLayouts()[slot(readCode)];
}

Bytes toCp1250(std::string_view utf8) {
  struct Letter {
    char32_t cp;
    std::uint8_t byte;
  };
  static constexpr Letter kPolish[] = {
      {U'ą', 0xB9}, {U'ć', 0xE6}, {U'ę', 0xEA}, {U'ł', 0xB3}, {U'ń', 0xF1}, {U'ó', 0xF3},
      {U'ś', 0x9C}, {U'ź', 0x9F}, {U'ż', 0xBF}, {U'Ą', 0xA5}, {U'Ć', 0xC6}, {U'Ę', 0xCA},
      {U'Ł', 0xA3}, {U'Ń', 0xD1}, {U'Ó', 0xD3}, {U'Ś', 0x8C}, {U'Ź', 0x8F}, {U'Ż', 0xAF},
  };
  Bytes out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    std::size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (i + len > utf8.size()) len = utf8.size() - i;
    char32_t cp = len == 1 ? lead : lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3F);
    i += len;
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    const auto* it = std::find_if(std::begin(kPolish), std::end(kPolish), [cp](const Letter& l) { return l.cp == cp; });
    out.push_back(it != std::end(kPolish) ? static_cast<char>(it->byte) : '?');
  }
  return out;
}

Bytes initialParameterValue(std::uint8_t readCode) {
  switch (readCode) {
    case 52:  // notification matrix: SMS and voice masks of IN1..IN5, T1, T2, EX, DC, T3, humidity
      return bytesOf({0xC0, 0x80, 0xE0, 0x00, 0x90, 0x10, 0xFF, 0x81, 0x41, 0x00, 0x80,
                      0x00, 0x20, 0x04, 0xA5, 0x5A, 0x88, 0x00, 0x03, 0x02, 0x11, 0x01});
    case 54:  // OUT1 and OUT4 NC, OUT2 monostable; limits 10/5; on-times 3, 15, 60, 120 s;
              // confirmation, autotest, mini CA and OUT1 signaller on; autotest every 24 h;
              // OUT1..OUT4 driven by T1 MAX, none, T3 MIN, Wil MAX; T1, EX, DC, humidity and IO in replies
      return bytesOf({0x94, 10, 5, 3, 15, 60, 120, 0x1B, 24, 2, 0, 5, 8, 0x6D});
    case 80:  // T1 -3..+27, T2 +3..+22, corrections +0,50 and -0,50, EX 14,0V, DC 11,0V,
              // T3 -5..+15 with +1,25, humidity 25..85 %
      return bytesOf({125, 155, 131, 150, 2, 130, 140, 110, 123, 143, 5, 25, 85});
    case 104:  // alarm delays of T1, T2, T3 and humidity, minutes
      return bytesOf({5, 10, 0, 30});
    default:
      break;
  }
  for (const auto& t : kInitialTexts)
    if (t.readCode == readCode) return toCp1250(t.utf8);
  return {};
}

SimController::SimController(ControllerOptions options, Clock clock)
    : opt_(std::move(options)), clock_(std::move(clock)), password_(opt_.password) {
  if (!clock_) {
    const auto start = std::chrono::steady_clock::now();
    clock_ = [start] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    };
  }
  for (const auto& p : parameterLayouts()) params_.push_back(initialParameterValue(p.readCode));
  bootAt_ = now();
  // A controller that has been running today has used a few messages already.
  resetCounters(3, 1);
}

void SimController::resetCounters(std::uint8_t sms, std::uint8_t voice) {
  smsBase_ = sms;
  voiceBase_ = voice;
  countersAt_ = now();
}

std::vector<Bytes> SimController::onFrame(std::uint8_t code, const Bytes& payload) {
  std::vector<Bytes> out;
  for (const auto& a : handle(code, payload))
    if (!a.lostBy) out.push_back(a.wire());
  return out;
}

std::vector<Answer> SimController::handle(std::uint8_t code, const Bytes& payload) {
  if (opt_.silentFrom && code == *opt_.silentFrom) silenced_ = true;
  auto answers = bootloader_ ? bootloaderFrame(code, payload) : answer(code, payload);
  applyFailures(code, answers);
  addUnasked(code, answers);
  return answers;
}

unsigned SimController::nextNoise() {
  // A short linear congruential sequence: reproducible from run to run.
  noiseSeed_ = noiseSeed_ * 1103515245u + 12345u;
  return noiseSeed_ >> 16;
}

void SimController::addUnasked(std::uint8_t code, std::vector<Answer>& answers) {
  const bool answered = std::any_of(answers.begin(), answers.end(), [](const Answer& a) {
    return !a.lostBy && a.kind == Answer::Kind::Frame;
  });
  if (!answered) return;
  // A frame with the code the program asks next could not be told from its answer by anyone; nor
  // could one with the code just asked when its answer was spoiled, as the program still waits.
  const auto next = static_cast<std::uint8_t>(code + 2);
  const bool spoiled = std::any_of(answers.begin(), answers.end(), [](const Answer& a) { return a.spoiled; });
  const auto awaited = [&](std::uint8_t c) { return c == next || (spoiled && c == code); };
  // Every byte of the stored value changed, so a frame that lands in a field shows.
  auto unasked = [&](std::uint8_t c, const char* by, bool atOnce) {
    Bytes value = parameter(c & ~1);
    for (char& b : value) b = static_cast<char>(b ^ 0x01);
    if (value.empty()) value = "?";
    Answer a = frame(c, value);
    a.sentBy = by;
    a.atOnce = atOnce;
    answers.push_back(a);
  };
  if (opt_.unsolicited && !awaited(*opt_.unsolicited)) unasked(*opt_.unsolicited, "--unsolicited", false);
  if (opt_.unaskedAtOnce && !(spoiled && *opt_.unaskedAtOnce == code)) unasked(*opt_.unaskedAtOnce, "--unasked-at-once", true);
  if (opt_.noisyLine) {
    // Half the bursts repeat the code just answered with another value, half carry a random one.
    std::uint8_t c = code;
    if (nextNoise() % 2 || code < kFirstReadCode + 2 || code > kLastSetCode || spoiled) {
      do c = static_cast<std::uint8_t>(kFirstReadCode + 2 + nextNoise() % (kLastSetCode - kFirstReadCode - 1));
      while (awaited(c));
    }
    Bytes payload;
    for (unsigned i = 0, n = nextNoise() % 21; i < n; ++i) payload.push_back(static_cast<char>(nextNoise()));
    Answer a = frame(c, payload);
    for (unsigned i = 0, n = 1 + nextNoise() % 8; i < n; ++i) {
      const auto b = static_cast<std::uint8_t>(nextNoise());
      a.noise.push_back(static_cast<char>(b == kControllerStart ? 0 : b));
    }
    a.sentBy = "--noisy-line";
    answers.push_back(a);
  }
}

Answer SimController::frame(std::uint8_t code, const Bytes& payload) const {
  Answer a;
  a.code = code;
  a.bytes = buildFrame(code, payload, kControllerStart);
  return a;
}

std::vector<Answer> SimController::answer(std::uint8_t code, const Bytes& payload) {
  switch (code) {
    case kCodeLogin: {
      const bool ok = !opt_.refusePassword && payload == password_;
      return {frame(code, bytesOf({ok ? kLoginAccepted : kLoginRefused, static_cast<std::uint8_t>(opt_.version)}))};
    }
    case kCodeLogout:
      return {frame(code, kLogoutPayload)};
    case kCodePassword:
      password_ = payload;
      return {frame(code, "T")};
    case kCodeStatus:
      return {frame(code, statusRecord())};
    case kCodeResetCounters:
      resetCounters(0, 0);
      return {};
    case kCodeRestart:
      // The modem starts over and the bootloader waits for a transfer.
      bootAt_ = restartAt_ = now();
      bootloader_ = true;
      image_.clear();
      haveBlock_ = false;
      return {};
    default:
      break;
  }
  if (code < kFirstReadCode || code > kLastSetCode) return {};  // unknown codes get no answer
  const std::uint8_t readCode = code & ~1;
  const ParameterLayout& layout = parameterLayouts()[slot(readCode)];
  if (code == readCode) return {frame(code, params_[slot(readCode)])};
  // A set: the controller keeps no more than the field's limit or the block's size.
  params_[slot(readCode)] = payload.substr(0, layout.size);
  if (parametersChanged_) parametersChanged_();
  return {frame(code, "T")};
}

std::vector<Answer> SimController::bootloaderFrame(std::uint8_t code, const Bytes& payload) {
  if (code == kCodeEndTransfer) {
    bootloader_ = false;
    ++completedTransfers_;
    if (imageReceived_) imageReceived_(image_);
    return {};
  }
  if (code != kCodeBlock) {
    // Until the bootloader has given up waiting for a first block and the application has started,
    // nobody answers; during a transfer, anything else means the application runs again.
    if (!haveBlock_ && now() - restartAt_ < opt_.bootMs) return {};
    bootloader_ = false;
    return answer(code, payload);
  }
  if (!haveBlock_ && now() - restartAt_ >= opt_.bootMs) {
    // Too late: the application runs, and to it 101 is an ordinary set code.
    bootloader_ = false;
    return answer(code, payload);
  }
  if (payload.size() != kBlockPayload) {
    ++rejectedBlocks_;
    return {};
  }
  const std::uint8_t number = byteAt(payload, 0);
  const Bytes data = payload.substr(1);
  std::size_t index = 0;
  if (haveBlock_ && number == lastBlockNumber_) {
    // A repetition after a lost acknowledgement replaces the block it repeats.
    index = image_.size() / kBlockSize - 1;
    image_.replace(index * kBlockSize, kBlockSize, data);
  } else if (number == static_cast<std::uint8_t>(haveBlock_ ? lastBlockNumber_ + 1 : 0)) {
    index = image_.size() / kBlockSize;
    if (opt_.garbleBlock && index == *opt_.garbleBlock && !garbled_) {
      garbled_ = true;  // its checksum did not add up: the bootloader never saw it
      return {};
    }
    image_ += data;
    lastBlockNumber_ = number;
    haveBlock_ = true;
  } else {
    ++rejectedBlocks_;  // out of sequence: the program lost count
    return {};
  }
  if (opt_.neverAck) return {};
  if (opt_.missAckBlock && index == *opt_.missAckBlock && missAckSeen_ < opt_.missAckTimes) {
    ++missAckSeen_;
    return {};
  }
  Answer ack;
  ack.kind = Answer::Kind::Ack;
  ack.code = code;
  ack.bytes = Bytes(1, static_cast<char>(kAck));
  if (opt_.lateAckBlock && index == *opt_.lateAckBlock) ack.delayMs = opt_.lateAckMs;
  return {ack};
}

void SimController::applyFailures(std::uint8_t code, std::vector<Answer>& answers) {
  std::vector<std::size_t> twice;
  for (auto& a : answers) {
    ++answersMade_;
    if (opt_.duplicateEvery && answersMade_ % opt_.duplicateEvery == 0)
      twice.push_back(static_cast<std::size_t>(&a - answers.data()));
    if (opt_.silent) {
      a.lostBy = "--silent";
      continue;
    }
    if (silenced_) {
      a.lostBy = "--silent-from";
      continue;
    }
    if (opt_.dropEvery && answersMade_ % opt_.dropEvery == 0) {
      a.lostBy = "--drop-every";
      continue;
    }
    for (auto& d : opt_.dropCode) {
      if (d.code != code || d.count == 0) continue;
      if (d.count > 0) --d.count;
      a.lostBy = "--drop-code";
      break;
    }
    if (a.lostBy || a.kind != Answer::Kind::Frame) continue;

    const bool longOnce = std::find(opt_.longLength.begin(), opt_.longLength.end(), code) != opt_.longLength.end() &&
                          std::find(longLengthDone_.begin(), longLengthDone_.end(), code) == longLengthDone_.end();
    if (longOnce) {
      longLengthDone_.push_back(code);
      Bytes payload = a.bytes.substr(3, a.bytes.size() - 4);
      payload.resize(std::max(payload.size(), kLongLength), ' ');
      a.bytes = buildFrame(code, payload, kControllerStart);
      a.spoiled = true;
    }
    for (auto& d : opt_.shortAnswer) {
      if (d.code != code || d.count == 0) continue;
      if (d.count > 0) --d.count;
      a.bytes = buildFrame(code, a.bytes.substr(3, (a.bytes.size() - 4) / 2), kControllerStart);
      // A block or a status record cut short is refused; a text cut short is still a text.
      a.spoiled = code == 52 || code == 54 || code == 80 || code == 104 || code == 253;
      break;
    }
    for (auto& d : opt_.garbledAnswer) {
      if (d.code != code || d.count == 0) continue;
      if (d.count > 0) --d.count;
      Bytes payload = a.bytes.substr(3, a.bytes.size() - 4);
      for (char& c : payload) c = static_cast<char>(~c);
      a.bytes = buildFrame(code, payload, kControllerStart);
      break;
    }
    const bool corrupt = std::any_of(opt_.badChecksum.begin(), opt_.badChecksum.end(),
                                     [code](int c) { return c == kAllCodes || c == code; });
    if (corrupt) {
      a.bytes.back() = static_cast<char>(~byteAt(a.bytes, a.bytes.size() - 1));
      a.spoiled = true;
    }
    if (opt_.noise) {
      const unsigned count = 1 + nextNoise() % 4;
      for (unsigned i = 0; i < count; ++i) {
        auto b = static_cast<std::uint8_t>(nextNoise());
        if (b == kControllerStart) b = 0x00;
        a.noise.push_back(static_cast<char>(b));
      }
    }
  }
  // The copies go right after their originals, latest first so the indexes stay valid.
  for (auto i = twice.rbegin(); i != twice.rend(); ++i) {
    if (answers[*i].lostBy) continue;
    Answer copy = answers[*i];
    copy.sentBy = "--duplicate-every";
    answers.insert(answers.begin() + static_cast<std::ptrdiff_t>(*i) + 1, copy);
  }
}

Bytes SimController::parameter(std::uint8_t readCode) const {
  return findParameter(readCode) ? params_[slot(readCode)] : Bytes();
}

std::string SimController::dump() const {
  std::string out;
  for (const auto& p : parameterLayouts()) {
    const Bytes& v = params_[slot(p.readCode)];
    out += std::to_string(p.readCode);
    if (!v.empty()) out += ' ' + toHex(v);
    out += '\n';
  }
  return out;
}

std::uint8_t SimController::modemStage() const {
  return static_cast<std::uint8_t>(std::min<long long>(kLastModemStage, secondsSinceBoot()));
}

Bytes SimController::statusRecord() const {
  const long long t = secondsSinceBoot();
  const Bytes& limits = params_[slot(80)];
  auto limit = [&limits](std::size_t i, std::uint8_t fallback) {
    return i < limits.size() ? byteAt(limits, i) : fallback;
  };

  // Inputs read 1 while open; IN3 (a window) and IN5 are shorted to ground now and then.
  std::uint8_t inputs = 0x1F;
  if ((t / 20) % 2) inputs &= ~0x04;
  if ((t / 35) % 3 == 2) inputs &= ~0x10;
  const bool out1 = (t / 30) % 2, out2 = (t / 45) % 3 == 1, out3 = (t / 90) % 2, out4 = (t / 60) % 2;
  const auto events = static_cast<std::uint8_t>((t / 15) % 4);

  const std::uint8_t stage = modemStage();
  // The signal level is known only once the modem has asked for it.
  const std::uint8_t rssi = stage < 17 ? 99 : static_cast<std::uint8_t>(10 + (t * 7 + t / 5) % 16);

  const long long elapsed = (now() - countersAt_) / 1000;
  const auto sms = static_cast<std::uint8_t>(std::min<long long>(255, smsBase_ + elapsed / 40));
  const auto voice = static_cast<std::uint8_t>(std::min<long long>(255, voiceBase_ + elapsed / 100));

  const auto dc = static_cast<std::uint8_t>(132 + triangle(t, 80, 4));
  // The mains fail for 15 s every five minutes.
  const bool mainsDown = t % 300 >= 200 && t % 300 < 215;
  const auto ex = static_cast<std::uint8_t>(mainsDown ? 0 : 170 + triangle(t, 100, 5));
  const long long t1 = 250 + triangle(t, 120, 30), t2 = 230 + triangle(t, 180, 25);
  const long long humidity = 550 + triangle(t, 150, 80);  // tenths of a percent
  const long long t3 = 20 + triangle(t, 240, 90);         // tenths of a degree

  const std::uint8_t s1 = sensorState(analogTenths(t1), thresholdTenths(limit(kT1Min, 130)),
                                      thresholdTenths(limit(kT1Max, 136)));
  const std::uint8_t s2 = sensorState(analogTenths(t2), thresholdTenths(limit(kT2Min, 130)),
                                      thresholdTenths(limit(kT2Max, 136)));
  const std::uint8_t s3 = sensorState(t3, thresholdTenths(limit(kT3Min, 130)), thresholdTenths(limit(kT3Max, 136)));
  const std::uint8_t sw = sensorState(humidity, limit(kWMin, 30) * 10LL, limit(kWMax, 80) * 10LL);
  const bool exOk = ex >= limit(kACnap, 150), dcOk = dc >= limit(kDCnap, 105);

  const auto t3Word = static_cast<std::uint16_t>(t3 < 0 ? 0x8000 | -t3 : t3);
  Bytes r = bytesOf({
      inputs | out1 << 5 | out2 << 6 | out3 << 7,
      events | out4 << 6 | 0x80,
      stage,
      rssi,
      sms,
      voice,
      dc,
      ex,
      static_cast<int>(t1 & 0xFF),
      static_cast<int>(t1 >> 8),
      static_cast<int>(t2 & 0xFF),
      static_cast<int>(t2 >> 8),
      s1 << 6 | s2 << 4 | exOk << 3 | dcOk << 2 | s3,
      static_cast<int>(humidity & 0xFF),
      static_cast<int>(humidity >> 8),
      t3Word & 0xFF,
      t3Word >> 8,
      sw,
  });
  return r;
}

}  // namespace dovu::sim

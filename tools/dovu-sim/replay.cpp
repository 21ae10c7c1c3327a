#include "dovu-sim/replay.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace dovu::sim {

namespace {

// How far ahead a request is looked for: a program that repeats less than the recorded one did.
constexpr std::size_t kLookAhead = 8;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The two-digit hex words from `pos` on, up to the first other word; pos ends after them.
Bytes hexWords(const std::string& line, std::size_t& pos) {
  Bytes out;
  for (;;) {
    while (pos < line.size() && line[pos] == ' ') ++pos;
    const std::size_t end = line.find(' ', pos);
    const std::size_t len = (end == std::string::npos ? line.size() : end) - pos;
    if (len != 2 || hexDigit(line[pos]) < 0 || hexDigit(line[pos + 1]) < 0) return out;
    out.push_back(static_cast<char>(hexDigit(line[pos]) * 16 + hexDigit(line[pos + 1])));
    pos += 2;
  }
}

}  // namespace

std::optional<Recording> Recording::parse(const std::string& text, std::string* error) {
  Recording r;
  std::istringstream in(text);
  std::string line;
  long long requestAt = 0;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    char* end = nullptr;
    const long long ms = std::strtoll(line.c_str(), &end, 10);
    const std::size_t at = static_cast<std::size_t>(end - line.c_str());
    if (line.empty() || at == 0 || at + 2 > line.size() || line[at] != ' ') continue;
    const char dir = line[at + 1];
    if (dir != '>' && dir != '<') continue;  // a lost answer, a note
    std::size_t pos = at + 2;
    Bytes bytes = hexWords(line, pos);
    if (bytes.empty()) {
      *error = "line " + std::to_string(lineNo) + ": no frame bytes";
      return std::nullopt;
    }
    if (dir == '>') {
      r.requests_.push_back({bytes, {}});
      requestAt = ms;
      continue;
    }
    if (r.requests_.empty()) continue;  // nothing sent before the first request
    RecordedAnswer a;
    a.delayMs = ms - requestAt;
    a.logText = line.substr(at + 3);
    a.unasked = line.find("unasked", pos) != std::string::npos;
    const std::string noiseMark = ", after noise ";
    if (const auto n = line.find(noiseMark, pos); n != std::string::npos) {
      std::size_t npos = n + noiseMark.size();
      bytes = hexWords(line, npos) + bytes;
    }
    a.wire = bytes;
    r.requests_.back().answers.push_back(std::move(a));
  }
  // A recording without a request (a tool that ended before it sent one) is played back too:
  // every request is then answered by the controller.
  return r;
}

std::optional<Recording> Recording::load(const std::string& path, std::string* error) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  std::ostringstream text;
  text << f.rdbuf();
  auto r = parse(text.str(), error);
  if (!r) *error = path + ": " + *error;
  return r;
}

const RecordedRequest* Recording::take(const Bytes& request) {
  for (std::size_t i = next_; i < requests_.size() && i < next_ + kLookAhead; ++i) {
    if (requests_[i].bytes == request) {
      next_ = i + 1;
      return &requests_[i];
    }
  }
  return nullptr;
}

}  // namespace dovu::sim

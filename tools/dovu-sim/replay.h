#pragma once
// A recorded run of the simulator (its --log frame log) played back: each request the program
// sends is answered with the bytes recorded for the same request, at the recorded delay after it,
// unasked and broken frames included, so that a failing case can be run again without the timing
// luck that made it fail.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.h"

namespace dovu::sim {

struct RecordedAnswer {
  long long delayMs = 0;  // from the request's arrival to the first byte's write
  Bytes wire;             // noise and frame, or the lone acknowledgement byte
  bool unasked = false;   // a frame nobody asked for
  std::string logText;    // the log line after its time and direction
};

struct RecordedRequest {
  Bytes bytes;  // the whole request frame as it arrived
  std::vector<RecordedAnswer> answers;
};

class Recording {
 public:
  // Reads a frame log: "<ms> > HEX  code N" a request, "<ms> < HEX  code N ...[, after noise HEX]"
  // an answer (belonging to the request logged last before it), lost answers and notes skipped.
  // Empty with the reason when a frame line holds no bytes or the file cannot be read.
  static std::optional<Recording> parse(const std::string& text, std::string* error);
  static std::optional<Recording> load(const std::string& path, std::string* error);

  // The recorded exchange for a request with these bytes: the first unused one among the next few
  // recorded requests (a program that asks less often skips some), nullptr when the program asks
  // what the recording does not hold there.
  const RecordedRequest* take(const Bytes& request);

  std::size_t size() const { return requests_.size(); }
  std::size_t used() const { return next_; }

 private:
  std::vector<RecordedRequest> requests_;
  std::size_t next_ = 0;
};

}  // namespace dovu::sim

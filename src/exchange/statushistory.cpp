#include "exchange/statushistory.h"

namespace dovu {

void StatusHistory::add(qint64 msecs, const StatusRecord& record) {
  if (!entries_.empty() && msecs < entries_.back().msecs) entries_.clear();
  entries_.push_back({msecs, record});
  while (entries_.size() > capacity_ || entries_.front().msecs < msecs - span_) entries_.pop_front();
}

}  // namespace dovu

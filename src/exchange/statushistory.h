#pragma once
// The status records of the last 24 hours, oldest first, for the chart and its CSV export.  A
// ring: a record older than the span behind the newest one is dropped, and so is the oldest one
// past a fixed count, so memory stays bounded whatever the poll rate.
#include <QtGlobal>
#include <cstddef>
#include <deque>

#include "session/status.h"

namespace dovu {

class StatusHistory {
 public:
  struct Entry {
    qint64 msecs;  // since the epoch, UTC
    StatusRecord record;
  };
  static constexpr qint64 kDaySpan = 24LL * 3600 * 1000;
  // Two records a second for the whole span.
  static constexpr std::size_t kDefaultCapacity = 2 * 24 * 3600;

  explicit StatusHistory(qint64 spanMs = kDaySpan, std::size_t capacity = kDefaultCapacity)
      : span_(spanMs), capacity_(capacity) {}

  // A record received at msecs.  One older than the newest held (a clock set back) starts the
  // history anew, so that time on the chart never runs backwards.
  void add(qint64 msecs, const StatusRecord& record);
  void clear() { entries_.clear(); }
  const std::deque<Entry>& entries() const { return entries_; }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

 private:
  qint64 span_;
  std::size_t capacity_;
  std::deque<Entry> entries_;
};

}  // namespace dovu

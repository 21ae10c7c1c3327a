#pragma once
// DispatchResponse: every good frame from the controller ends here.  A whole status record (253)
// goes to the status listeners.  A parameter answer is the awaited answer of the request that
// asked for it: the transfer under way takes it from the link when its request ends.  The login
// answer (1) is the session's; odd and unknown codes change nothing.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/bytes.h"

namespace dovu {

class Link;
struct StatusRecord;

class Dispatcher {
 public:
  Dispatcher() = default;
  // Takes the link's frames for as long as this dispatcher lives (or until the next attach): only
  // those accepts() lets through reach dispatch().  A dispatcher attached later stands in front.
  void attach(Link& link);
  // Whether a frame from the controller is taken.  A whole status record (253) is drawn whenever
  // it arrives.  Any other frame only as the answer the running wait expects (awaited), and a block
  // answer (52, 54, 80, 104) only when it carries its whole layout: a short one is no answer, so
  // the request is repeated instead of half a block being taken.  Frames nobody asked
  // for, a corrupted or unsolicited one, never reach a transfer.
  static bool accepts(std::uint8_t code, const Bytes& payload, int awaited);
  // Acts on the code: a status record goes to the listeners.
  void dispatch(std::uint8_t code, const Bytes& payload);

  // Called with every whole status record, in the order they were added (the session's live
  // display, the chart, the CSV log).
  void addStatusListener(std::function<void(const StatusRecord&)> listener) {
    statusListeners_.push_back(std::move(listener));
  }

 private:
  std::shared_ptr<void> reading_;  // the link's subscription
  std::vector<std::function<void(const StatusRecord&)>> statusListeners_;
};

}  // namespace dovu

#pragma once
// DispatchResponse: every good frame from the controller ends here.  Parameter answers land in
// their fields with the synchronised colour, code 6 also picks the operator, and a whole status
// record (253) goes to the status listeners.  The login answer (1) is the session's; odd and
// unknown codes change nothing.
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/bytes.h"
#include "model/form.h"

namespace dovu {

class Link;
struct StatusRecord;

class Dispatcher {
 public:
  explicit Dispatcher(Form& form) : form_(form) {}
  // Takes the link's frames for as long as this dispatcher lives (or until the next attach): only
  // those accepts() lets through reach dispatch().  A dispatcher attached later stands in front.
  void attach(Link& link);
  // Whether a frame from the controller is taken.  A whole status record (253) is drawn whenever
  // it arrives.  Any other frame only as the answer the running wait expects (awaited), and a block
  // answer (52, 54, 80, 104) only when it carries its whole layout: a short one is no answer, so
  // the request is repeated instead of the fields keeping what they held.  Frames nobody asked
  // for, a corrupted or unsolicited one, never reach the fields.
  static bool accepts(std::uint8_t code, const Bytes& payload, int awaited);
  // Acts on the code.
  void dispatch(std::uint8_t code, const Bytes& payload);
  void apply(std::uint8_t code, const Bytes& payload);

  // Called with every whole status record, in the order they were added (the session's live
  // display, the chart, the CSV log).
  void addStatusListener(std::function<void(const StatusRecord&)> listener) {
    statusListeners_.push_back(std::move(listener));
  }

 private:
  Form& form_;
  std::shared_ptr<void> reading_;  // the link's subscription
  std::vector<std::function<void(const StatusRecord&)>> statusListeners_;
};

}  // namespace dovu

#pragma once
// DispatchResponse: every good frame from the controller ends here.  Parameter answers land in
// their fields with the synchronised colour, code 1 shows the firmware version, code 6 also picks
// the operator, and code 253 draws the live status view.  Odd and unknown codes change nothing.
#include <cstdint>

#include "base/bytes.h"
#include "model/form.h"

namespace dovu {

class Dispatcher {
 public:
  explicit Dispatcher(Form& form) : form_(form) {}
  // Lets pending events run once, then acts on the code.
  void dispatch(std::uint8_t code, const Bytes& payload);
  // The same without running events first (for callers outside an event loop, and tests).
  void apply(std::uint8_t code, const Bytes& payload);

 private:
  Form& form_;
};

}  // namespace dovu

#include "exchange/dispatcher.h"

#include "session/status.h"
#include "link/commands.h"
#include "link/link.h"
#include "model/params.h"

namespace dovu {

void Dispatcher::attach(Link& link) {
  reading_ = link.addReader({
      [&link](std::uint8_t code, const Bytes& payload) { return accepts(code, payload, link.awaitedCode()); },
      [this](std::uint8_t code, const Bytes& payload) { dispatch(code, payload); },
  });
}

bool Dispatcher::accepts(std::uint8_t code, const Bytes& payload, int awaited) {
  // A short status record is no answer either: the poll is repeated.
  if (code == kCodeStatus) return payload.size() >= kStatusRecordSize;
  if (code != awaited) return false;
  // Acknowledgements of set codes carry no value; only a read answer has a layout to fill.
  const ParamDef* p = code % 2 == 0 ? paramByCode(code) : nullptr;
  return !p || p->kind == PayloadKind::Text || payload.size() >= static_cast<std::size_t>(p->limit);
}

void Dispatcher::dispatch(std::uint8_t code, const Bytes& payload) {
  // Parameter answers and acknowledgements are the requests' own: the link keeps the payload for
  // the request that awaited it.
  if (code != kCodeStatus) return;
  // A record shorter than its 18 bytes is ignored as a whole, like every short block answer.
  if (const auto rec = StatusRecord::decode(payload))
    for (const auto& listener : statusListeners_) listener(*rec);
}

}  // namespace dovu

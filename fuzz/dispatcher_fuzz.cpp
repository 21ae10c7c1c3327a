// Feeds arbitrary frames to the response dispatch, each with the code a wait expects at that
// moment, in any state the earlier frames left.  Input: records of [awaited code, 0 for none]
// [code] [payload length] [payload].  A frame the dispatch refuses changes nothing; a taken one
// changes no parameter but its own.  Whatever the controller sent can be saved as a configuration
// file and as JSON and loaded again.
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "exchange/dispatcher.h"
#include "session/status.h"
#include "link/link.h"
#include "model/params.h"
#include "storage/configfile.h"
#include "storage/configjson.h"
#include "support/formfiles.h"
#include "support/formsnapshot.h"

namespace {

// Every parameter's set payload: what the fields say to the controller.
std::vector<dovu::Bytes> payloads(const dovu::Form& f) {
  std::vector<dovu::Bytes> out;
  for (const dovu::ParamDef& p : dovu::paramTable()) out.push_back(dovu::buildPayload(f, p));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dovu::Form form;
  dovu::Dispatcher dispatcher(form);
  const QString password = form.text("Edit_haslo");
  std::size_t i = 0;
  while (i + 3 <= size) {
    const int awaited = data[i] ? data[i] : dovu::Link::kNothingAwaited;
    const std::uint8_t code = data[i + 1];
    const std::size_t n = std::min<std::size_t>(data[i + 2], size - i - 3);
    const dovu::Bytes payload(reinterpret_cast<const char*>(data + i + 3), n);
    i += 3 + n;

    if (!dovu::Dispatcher::accepts(code, payload, awaited)) {
      // A refused frame never reaches the dispatch; make sure it is refused for the right reason:
      // not awaited, a block shorter than its layout, or a status record cut short.
      const dovu::ParamDef* p = code % 2 == 0 ? dovu::paramByCode(code) : nullptr;
      const bool shortBlock = p && p->kind != dovu::PayloadKind::Text && payload.size() < static_cast<std::size_t>(p->limit);
      const bool shortStatus = code == 253 && payload.size() < dovu::kStatusRecordSize;
      if ((code == 253 && !shortStatus) || (code == awaited && code != 253 && !shortBlock)) std::abort();
      continue;
    }
    if (code != 253 && code != awaited) std::abort();
    // Acknowledgements (odd codes but the version of 1 and the status of 253) change nothing at all.
    const bool inert = code % 2 && code != 1 && code != 253;
    std::optional<dovu::test::FormSnapshot> beforeAll;
    if (inert) beforeAll.emplace(form);
    const std::vector<dovu::Bytes> before = payloads(form);
    dispatcher.apply(code, payload);
    if (beforeAll && !beforeAll->diff(form).empty()) std::abort();
    // An answer changes no parameter but its own.
    const std::vector<dovu::Bytes> after = payloads(form);
    const dovu::ParamDef* own = code % 2 == 0 ? dovu::paramByCode(code) : nullptr;
    for (std::size_t k = 0; k < after.size(); ++k)
      if (&dovu::paramTable()[k] != own && after[k] != before[k]) std::abort();
    if (form.text("Edit_haslo") != password) std::abort();
  }

  // What the controller sent is a configuration like any other.
  QString why;
  const auto file = dovu::buildConfigFile(form, &why);
  if (!file) std::abort();
  dovu::Form loaded;
  if (!dovu::loadConfigFile(loaded, *file) || dovu::buildConfigFile(loaded, &why) != file) std::abort();
  dovu::Form fromJson;
  if (!dovu::configFromJsonText(fromJson, dovu::configToJsonText(form), &why)) std::abort();
  if (dovu::buildConfigFile(fromJson, &why) != file) std::abort();
  return 0;
}

// Feeds arbitrary frames to the response dispatch, each with the code a wait expects at that
// moment, and takes every parameter answer it lets through into a configuration as a download
// does, in any state the earlier frames left.  Input: records of [awaited code, 0 for none]
// [code] [payload length] [payload].  A frame the dispatch refuses changes nothing; a taken answer
// is taken whole and changes no parameter but its own.  Whatever the controller sent can be saved
// as a configuration file and as JSON and loaded again.
#include <cstdint>
#include <cstdlib>

#include "exchange/dispatcher.h"
#include "session/status.h"
#include "link/link.h"
#include "model/configuration.h"
#include "model/params.h"
#include "storage/configfile.h"
#include "storage/configjson.h"

namespace {

// Every parameter's set payload: what the configuration says to the controller.
std::vector<dovu::Bytes> payloads(const dovu::Configuration& c) {
  std::vector<dovu::Bytes> out;
  for (const dovu::ParamDef& p : dovu::paramTable()) out.push_back(dovu::encodeParameter(c, p));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  dovu::Configuration config = dovu::defaultConfiguration();
  dovu::Dispatcher dispatcher;
  int records = 0;
  dispatcher.addStatusListener([&records](const dovu::StatusRecord&) { ++records; });
  const QString password = config.password;
  std::size_t i = 0;
  while (i + 3 <= size) {
    const int awaited = data[i] ? data[i] : dovu::Link::kNothingAwaited;
    const std::uint8_t code = data[i + 1];
    const std::size_t n = std::min<std::size_t>(data[i + 2], size - i - 3);
    const dovu::Bytes payload(reinterpret_cast<const char*>(data + i + 3), n);
    i += 3 + n;

    const dovu::ParamDef* p = code % 2 == 0 ? dovu::paramByCode(code) : nullptr;
    if (!dovu::Dispatcher::accepts(code, payload, awaited)) {
      // A refused frame never reaches the dispatch; make sure it is refused for the right reason:
      // not awaited, a block shorter than its layout, or a status record cut short.
      const bool shortBlock = p && p->kind != dovu::PayloadKind::Text && payload.size() < static_cast<std::size_t>(p->limit);
      const bool shortStatus = code == 253 && payload.size() < dovu::kStatusRecordSize;
      if ((code == 253 && !shortStatus) || (code == awaited && code != 253 && !shortBlock)) std::abort();
      continue;
    }
    if (code != 253 && code != awaited) std::abort();
    // A whole status record reaches the listeners; nothing else does.
    const int recordsBefore = records;
    dispatcher.dispatch(code, payload);
    if (records - recordsBefore != (code == 253 ? 1 : 0)) std::abort();
    if (!p) continue;
    // An answer let through is a whole one, and changes no parameter but its own.
    const std::vector<dovu::Bytes> before = payloads(config);
    if (!dovu::decodeParameter(config, *p, payload)) std::abort();
    const std::vector<dovu::Bytes> after = payloads(config);
    for (std::size_t k = 0; k < after.size(); ++k)
      if (&dovu::paramTable()[k] != p && after[k] != before[k]) std::abort();
    if (config.password != password) std::abort();
  }

  // What the controller sent is a configuration like any other.
  QString why;
  const auto file = dovu::buildConfigFile(config, &why);
  if (!file) std::abort();
  const auto loaded = dovu::readConfigFile(*file);
  if (!loaded || dovu::buildConfigFile(*loaded, &why) != file) std::abort();
  const auto fromJson = dovu::configFromJsonText(dovu::configToJsonText(config), &why);
  if (!fromJson || dovu::buildConfigFile(*fromJson, &why) != file) std::abort();
  return 0;
}

// dovu-sim: a simulated DOVU controller on a pseudo-terminal, for trying the program without the
// hardware and for its end-to-end tests.  See --help.
#include <cstdio>
#include <string>
#include <vector>

#include "dovu-sim/ptyserver.h"
#include "dovu/version.h"
#include "dovu-sim/simoptions.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const auto parsed = dovu::sim::parseArguments(args);
  if (parsed.help) {
    std::fputs(dovu::sim::usageText().c_str(), stdout);
    return 0;
  }
  if (parsed.version) {
    std::printf("dovu-sim %s\n", DOVU_VERSION);
    return 0;
  }
  if (!parsed.options) {
    std::fprintf(stderr, "dovu-sim: %s\nTry dovu-sim --help.\n", parsed.error.c_str());
    return 2;
  }
  return dovu::sim::runPtyServer(*parsed.options);
}

#pragma once
// Runs the simulated controller on a pseudo-terminal: the program opens the terminal's slave side
// as if it were the controller's serial port.
#include <cstdio>

#include "dovu-sim/simoptions.h"

namespace dovu::sim {

// Creates the pseudo-terminal, prints "PORT <slave path>" as the first line on `out`, advertises
// the port (unless told not to) and answers frames until SIGINT, SIGTERM or SIGHUP arrives or
// --unplug-after closes the line.  Returns the process exit status (see usageText()).
int runPtyServer(const ServerOptions& options, std::FILE* out = stdout);

}  // namespace dovu::sim

#pragma once
// The tool's words for what the core reports: English, one line, with what to do next where the
// program knows it.
#include <QString>

#include "base/outcome.h"

namespace dovu::cli {

// The headline ("no answer from the controller"), or a reason ("the device was unplugged").
QString englishText(Cause cause);
// The whole problem on one line: the headline, then the subject and reason, the numbers and the
// remedy, separated by ": " and "; ".
QString englishLine(const Problem& problem);
// The reason alone ("/dev/ttyUSB0: permission denied; add ..."), for a line the caller words.
QString englishReason(const Problem& problem);
// Why a file was not read or saved: the reason in English, or the system's own text as it came (a
// control character in a file's name is escaped by the line that prints it, not here).
QString englishFileReason(const Problem& problem);
// Several notices of one check on one line: "headline (reason); headline (reason)".
QString englishList(const Notices& notices);

}  // namespace dovu::cli

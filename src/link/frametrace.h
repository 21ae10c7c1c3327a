#pragma once
// The frame trace: every frame written or read, in hex with its direction and command code.  The
// "dovu.link" logging category carries it (QT_LOGGING_RULES="dovu.link=true" turns it on in the
// window); the command-line tool's --trace switches on the same category.
#include <QLoggingCategory>
#include <QString>

#include "base/bytes.h"

namespace dovu {

Q_DECLARE_LOGGING_CATEGORY(lcLink)

// "-> code   2: 54 02 01 57 AE" (outgoing: PC to controller) or "<- code 253: 74 FD ...".  The
// password and the PIN (codes 1 and 3 sent, 4 and 5 either way) show as "**" a byte.
QString frameTraceLine(bool outgoing, const Bytes& frame);

// Logs the frame to "dovu.link" when its debug output is enabled.
void traceFrame(bool outgoing, const Bytes& frame);
// Logs that a received frame changed nothing: no wait expected it, or its block was short.
void traceDropped(std::uint8_t code);

}  // namespace dovu

#include "link/frametrace.h"

#include "link/commands.h"

namespace dovu {

// Off unless asked for: a frame a second is too much for a normal run's output.
Q_LOGGING_CATEGORY(lcLink, "dovu.link", QtInfoMsg)

namespace {

// Frames whose payload is the access password (log-in, password change) or the SIM card's PIN
// (its read answer and its set).  The login's answer says only accepted or refused and the
// firmware version, so it stays readable.
bool secretPayload(bool outgoing, std::uint8_t code) {
  switch (code) {
    case kCodeLogin: return outgoing;
    case kCodePassword:
    case kCodePinRead:
    case kCodePinRead + 1: return true;
    default: return false;
  }
}

}  // namespace

QString frameTraceLine(bool outgoing, const Bytes& frame) {
  const std::uint8_t code = frame.size() > 1 ? byteAt(frame, 1) : 0u;
  QString hex = QString::fromStdString(toHex(frame));
  // "54 01 04 38 36 31 37 2F": start, code, length, payload, check byte.  A secret's payload bytes
  // show as "**", so the trace keeps its length and check byte but not the digits.
  if (frame.size() > 4 && secretPayload(outgoing, code)) {
    for (std::size_t i = 3; i + 1 < frame.size(); ++i) hex.replace(static_cast<qsizetype>(i) * 3, 2, QStringLiteral("**"));
  }
  return QStringLiteral("%1 code %2: %3")
      .arg(outgoing ? QStringLiteral("->") : QStringLiteral("<-"))
      .arg(unsigned{code}, 3)
      .arg(hex);
}

void traceFrame(bool outgoing, const Bytes& frame) {
  if (lcLink().isDebugEnabled()) qCDebug(lcLink).noquote() << frameTraceLine(outgoing, frame);
}

void traceDropped(std::uint8_t code) {
  if (lcLink().isDebugEnabled())
    qCDebug(lcLink).noquote()
        << QStringLiteral("   code %1: dropped (not the awaited answer, or a short block)").arg(code, 3);
}

}  // namespace dovu

#include "link/frametrace.h"

namespace dovu {

// Off unless asked for: a frame a second is too much for a normal run's output.
Q_LOGGING_CATEGORY(lcLink, "dovu.link", QtInfoMsg)

QString frameTraceLine(bool outgoing, const Bytes& frame) {
  const unsigned code = frame.size() > 1 ? byteAt(frame, 1) : 0u;
  return QStringLiteral("%1 code %2: %3")
      .arg(outgoing ? QStringLiteral("->") : QStringLiteral("<-"))
      .arg(code, 3)
      .arg(QString::fromStdString(toHex(frame)));
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

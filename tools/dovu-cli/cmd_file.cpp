#include "cli.h"

namespace dovu::cli {
int cmdShow(Args&) {
  err(QStringLiteral("not built yet"));
  return kFailure;
}
int cmdConvert(Args&) {
  err(QStringLiteral("not built yet"));
  return kFailure;
}
int cmdDiff(Args&) {
  err(QStringLiteral("not built yet"));
  return kFailure;
}
}  // namespace dovu::cli

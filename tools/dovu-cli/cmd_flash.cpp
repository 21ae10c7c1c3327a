#include "cli.h"

namespace dovu::cli {
int cmdFlash(Args&) {
  err(QStringLiteral("not built yet"));
  return kFailure;
}
}  // namespace dovu::cli

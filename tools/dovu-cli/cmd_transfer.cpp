#include "cli.h"

namespace dovu::cli {
int cmdDownload(Args&) {
  err(QStringLiteral("not built yet"));
  return kFailure;
}
int cmdUpload(Args&) {
  err(QStringLiteral("not built yet"));
  return kFailure;
}
}  // namespace dovu::cli

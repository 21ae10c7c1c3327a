#include <cstdio>

#include "cli.h"
#include "exchange/status.h"
#include "link/portlist.h"

namespace dovu::cli {

int cmdPorts(Args&) {
  auto source = systemPortSource();
  const auto ports = listComPorts(*source);
  if (!ports) {
    err(QStringLiteral("cannot read the system's port list"));
    return kFailure;
  }
  for (const PortEntry& p : *ports)
    std::printf("%s\t%s\n", p.port.toLocal8Bit().constData(), p.device.toLocal8Bit().constData());
  return kOk;
}

int cmdStatus(Args& a) {
  const auto port = a.option(QStringLiteral("--port"));
  const QString password = a.option(QStringLiteral("--password")).value_or(QStringLiteral("8617"));
  const bool trace = a.flag(QStringLiteral("--trace"));
  if (!port || a.unknownOption() || !a.rest().isEmpty()) {
    err(QStringLiteral("usage: dovu-cli status --port P [--password N] [--trace]"));
    return kUsage;
  }
  Controller c(*port, password, trace);
  if (!c.login()) return kFailure;
  int rc = kOk;
  if (c.link->sendAndWait(kCodeStatus, kStatusPayload, kSessionTicks)) {
    if (const auto s = StatusRecord::decode(c.link->rxPayload())) {
      for (const QString& line : describeStatus(*s)) std::printf("%s\n", line.toUtf8().constData());
    } else {
      err(QStringLiteral("short status record (%1 bytes)").arg(c.link->rxPayload().size()));
      rc = kFailure;
    }
  } else {
    rc = kFailure;  // the notifier reported it
  }
  c.logout();
  return rc;
}

}  // namespace dovu::cli

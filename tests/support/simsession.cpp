#include "support/simsession.h"

#include "support/testapp.h"

namespace dovu::test {

SimSession::SimSession(QStringList simArgs) : sim(std::move(simArgs)) {
  app();
  port.setPort(sim.port());
  port.setBaudRate(4800);
  link = std::make_unique<Link>(&port, &notifier);
  session = std::make_unique<Session>(form, *link);
}

SimSession::~SimSession() {
  link->abortWaits();
  if (port.isOpen()) port.close();
}

}  // namespace dovu::test

#include "support/simsession.h"

#include <optional>

#include "support/testapp.h"

namespace dovu::test {

SimSession::SimSession(QStringList simArgs) : sim(std::move(simArgs)) {
  app();
  port.setPort(sim.port());
  port.setBaudRate(4800);
  link = std::make_unique<Link>(&port);
  session = std::make_unique<Session>(*link);
  session->setPassword(QString::fromLatin1(kDefaultPassword));
  notifier.listen(link.get());
  notifier.listen(session.get());
}

Session::ConnectResult SimSession::connect() {
  auto result = session->connectAndLogin();
  if (result != Session::ConnectResult::Started) return result;
  QObject context;
  QObject::connect(session.get(), &Session::loginFinished, &context, [&](Session::ConnectResult r) { result = r; });
  waitFor([&] { return result != Session::ConnectResult::Started; }, 30000);
  return result;
}

bool SimSession::changePassword(const QString& password) {
  std::optional<bool> changed;
  QObject context;
  QObject::connect(session.get(), &Session::passwordChangeFinished, &context, [&](bool c) { changed = c; });
  if (!session->changePassword(password)) return false;
  waitFor([&] { return changed.has_value(); }, 30000);
  return changed.value_or(false);
}

void SimSession::logout() {
  bool done = false;
  QObject context;
  QObject::connect(session.get(), &Session::logoutFinished, &context, [&] { done = true; });
  session->logoutAndDisconnect();
  waitFor([&] { return done; }, 30000);
}

SimSession::~SimSession() {
  link->abortWaits();
  if (port.isOpen()) port.close();
}

}  // namespace dovu::test

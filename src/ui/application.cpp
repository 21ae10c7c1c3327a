#include "ui/application.h"

#include <QtGlobal>

namespace dovu::ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

Application* Application::instance() {
  return qobject_cast<Application*>(QCoreApplication::instance());
}

void Application::handle(std::exception_ptr e) {
  if (handler_) {
    handler_(e);
    return;
  }
  try {
    std::rethrow_exception(e);
  } catch (const std::exception& x) {
    qWarning("dovu-konfig: dropped exception: %s", x.what());
  } catch (...) {
    qWarning("dovu-konfig: dropped exception");
  }
}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    handle(std::current_exception());
    return false;
  }
}

}  // namespace dovu::ui

#include "ui/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QtGlobal>

namespace dovu::ui {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
  // The interface is Polish, Qt's own texts included; without the translations they stay English.
  // Every text of Qt the window shows is in qtbase's catalogue (qt_pl.qm would pull in those of
  // modules the program does not have, and fails where they are not installed).
  const QLocale polish(QLocale::Polish, QLocale::Poland);
  QLocale::setDefault(polish);
  auto* qt = new QTranslator(this);
  if (qt->load(polish, QStringLiteral("qtbase"), QStringLiteral("_"),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    polish_ = installTranslator(qt);
  else
    delete qt;
}

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

#pragma once
// The application object of the window program.  Exceptions that reach the event loop end here:
// they are logged, and the event that raised it simply ends.
#include <QApplication>
#include <exception>
#include <functional>
#include <stdexcept>

namespace dovu::ui {

class Application : public QApplication {
  Q_OBJECT
 public:
  Application(int& argc, char** argv);

  // Installed by the main window when it is created; until then exceptions are dropped.
  using ExceptionHandler = std::function<void(std::exception_ptr)>;
  void setExceptionHandler(ExceptionHandler h) { handler_ = std::move(h); }
  void handle(std::exception_ptr e);

  bool notify(QObject* receiver, QEvent* event) override;

  // Whether Qt's own texts (file dialogs, standard buttons, the edit menu) speak Polish: the
  // translations come from the system's Qt (Debian's qt6-translations-l10n).
  bool polishInstalled() const { return polish_; }

  // The running Application, or nullptr under a plain QApplication.
  static Application* instance();

 private:
  ExceptionHandler handler_;
  bool polish_ = false;
};

// Runs a user action; an exception goes to the application's handler instead of unwinding through
// the toolkit's frames.
template <class F>
void guarded(F&& f) {
  try {
    f();
  } catch (...) {
    if (Application* app = Application::instance()) app->handle(std::current_exception());
  }
}

}  // namespace dovu::ui

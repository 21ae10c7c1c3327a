#pragma once
// Plumbing of the widget tests (header only: the support library itself does not link the
// widgets): the window program's application object, and a port list that stays as given.
#include <QFile>
#include <QTemporaryDir>
#include <optional>
#include <utility>
#include <vector>

#include "link/portlist.h"
#include "ui/application.h"

namespace dovu::test {

// Creates the window program's application once per process, on Qt's offscreen platform unless
// QT_QPA_PLATFORM says otherwise.  The simulator advert folder is a fresh one, so no simulator
// advertised by someone else turns up in the port lists.
inline ui::Application* uiApp(const char* programName) {
  static ui::Application* app = [programName] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static QTemporaryDir adverts;
    qputenv("DOVU_SIM_DIR", QFile::encodeName(adverts.path()));
    static QByteArray name(programName);
    static int argc = 1;
    static char* argv[] = {name.data(), nullptr};
    return new ui::Application(argc, argv);
  }();
  return app;
}

class FixedPorts : public PortSource {
 public:
  explicit FixedPorts(std::vector<PortEntry> p) : ports_(std::move(p)) {}
  std::optional<std::vector<PortEntry>> list() override { return ports_; }

 private:
  std::vector<PortEntry> ports_;
};

}  // namespace dovu::test

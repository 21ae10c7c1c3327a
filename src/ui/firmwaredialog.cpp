// The firmware dialog of the "Aktualizacja" button, made for one use.
#include "ui/bootdialog.h"
#include "ui/mainwindow.h"

namespace dovu::ui {

QDialog* createFirmwareDialog(Session& session, Link& link, Notifier& notifier, QWidget* parent) {
  return new FirmwareDialog(session, link, notifier, parent);
}

}  // namespace dovu::ui

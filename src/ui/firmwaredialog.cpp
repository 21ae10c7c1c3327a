// The firmware dialog.  Until the bootloader dialog is part of the window this is an empty dialog
// that switches the live display off while it is open, as the real one does.
#include <QDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/mainwindow.h"

namespace dovu::ui {

namespace {
class BootPlaceholder : public QDialog {
 public:
  BootPlaceholder(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
    setObjectName(QStringLiteral("Fboot"));
    setWindowTitle(QStringLiteral("Bootloader"));
    session_.link().timer().start();
    session_.dialogOpened();
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(QStringLiteral("Aktualizacja firmware"), this));
    resize(320, 120);
  }
  void done(int r) override {
    QDialog::done(r);
    session_.dialogClosed();
  }

 private:
  Session& session_;
};
}  // namespace

QDialog* createFirmwareDialog(Session& session, Link&, Notifier&, QWidget* parent) {
  return new BootPlaceholder(session, parent);
}

}  // namespace dovu::ui

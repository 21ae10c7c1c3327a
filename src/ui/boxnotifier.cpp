#include "ui/boxnotifier.h"

#include <QApplication>
#include <QMessageBox>

namespace dovu::ui {

void BoxNotifier::beep() { QApplication::beep(); }

void BoxNotifier::message(MessageKind kind, const QString& text, const QString& detail) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MessageKind::Plain: icon = QMessageBox::NoIcon; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
  }
  QMessageBox box(icon, QStringLiteral("DOVU Konfig"), text, QMessageBox::Ok, parent_);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.exec();
}

}  // namespace dovu::ui

#include "ui/boxnotifier.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "ui/wording.h"

namespace dovu::ui {

bool askYesNo(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("DOVU Konfigurator"), text, QMessageBox::Yes | QMessageBox::No,
                  parent);
  box.button(QMessageBox::Yes)->setText(QStringLiteral("Tak"));
  box.button(QMessageBox::No)->setText(QStringLiteral("Nie"));
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void BoxNotifier::beep() { QApplication::beep(); }

void BoxNotifier::message(MessageKind kind, const QString& text, const QString& detail) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (kind) {
    case MessageKind::Plain: icon = QMessageBox::NoIcon; break;
    case MessageKind::Information: icon = QMessageBox::Information; break;
    case MessageKind::Warning: icon = QMessageBox::Warning; break;
    case MessageKind::Error: icon = QMessageBox::Critical; break;
  }
  QMessageBox box(icon, QStringLiteral("DOVU Konfigurator"), text, QMessageBox::Ok, parent_);
  if (!detail.isEmpty()) box.setInformativeText(detail);
  box.exec();
}

void BoxNotifier::report(MessageKind kind, const Problem& problem) {
  message(kind, polishText(problem.cause), polishDetail(problem));
}

}  // namespace dovu::ui

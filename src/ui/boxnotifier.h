#pragma once
// Messages of the window program: a modal box with a single OK button, after the system beep.
#include <QPointer>
#include <QWidget>

#include "base/notifier.h"

namespace dovu::ui {

// A question with the buttons "Tak" and "Nie" ("Nie" the default); true for "Tak".
bool askYesNo(QWidget* parent, const QString& text);

class BoxNotifier : public Notifier {
 public:
  explicit BoxNotifier(QWidget* parent = nullptr) : parent_(parent) {}
  void beep() override;
  void message(MessageKind kind, const QString& text, const QString& detail = {}) override;
  void report(MessageKind kind, const Problem& problem) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace dovu::ui

#pragma once
// How messages and beeps reach the user: a message box in the window, stderr in the command-line
// tool, a recorder in tests.  Every box has a single OK button.
#include <QString>

namespace dovu {

enum class MessageKind { Plain, Information, Warning, Error };

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void beep() = 0;
  // Returns once the user has confirmed (a modal box) or at once (stderr, recorder).
  virtual void message(MessageKind kind, const QString& text, const QString& detail = {}) = 0;
};

// Drops everything: for code paths that run without a user.
class SilentNotifier : public Notifier {
 public:
  void beep() override {}
  void message(MessageKind, const QString&, const QString&) override {}
};

}  // namespace dovu

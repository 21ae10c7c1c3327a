#pragma once
// How messages and beeps reach the user: a message box in the window, stderr in the command-line
// tool, a recorder in tests.  Every box has a single OK button.  Only the surfaces (src/ui, the
// tool's front end) call it; the core hands back notices (base/outcome.h).
#include <QString>

#include "base/outcome.h"

namespace dovu {

class Notifier {
 public:
  virtual ~Notifier() = default;
  virtual void beep() = 0;
  // Returns once the user has confirmed (a modal box) or at once (stderr, recorder).
  virtual void message(MessageKind kind, const QString& text, const QString& detail = {}) = 0;
  // What the core has to say, as a cause: the surface words it in its own language and shows it
  // as message() does.
  virtual void report(MessageKind kind, const Problem& problem) = 0;
  // A notice the core handed back: its beep, then its message.
  void show(const Notice& n) {
    if (n.beep) beep();
    report(n.kind, n.problem);
  }
  void show(const Notices& ns) {
    for (const Notice& n : ns) show(n);
  }
};

// Drops everything: for code paths that run without a user.
class SilentNotifier : public Notifier {
 public:
  void beep() override {}
  void message(MessageKind, const QString&, const QString&) override {}
  void report(MessageKind, const Problem&) override {}
};

}  // namespace dovu

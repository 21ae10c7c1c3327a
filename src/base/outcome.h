#pragma once
// What the core tells the user, apart from its words and from how it is shown.  The link, the
// session, the transfers, the bootloader and storage hand these back (a signal, a callback, an
// out-parameter); the window words them in Polish and shows a box once the exchange step that
// raised them has ended, the command-line tool words them in English on stderr.
#include <QMetaType>
#include <vector>

#include "base/cause.h"

namespace dovu {

enum class MessageKind { Plain, Information, Warning, Error };

struct Notice {
  MessageKind kind = MessageKind::Error;
  Problem problem;
  bool beep = false;  // the event comes with the system's beep
};

// The notices of one step, in the order they happened.
using Notices = std::vector<Notice>;

// Appends to an optional collector.
inline void note(Notices* to, MessageKind kind, Problem problem, bool beep = false) {
  if (to) to->push_back(Notice{kind, std::move(problem), beep});
}

}  // namespace dovu

Q_DECLARE_METATYPE(dovu::Notice)

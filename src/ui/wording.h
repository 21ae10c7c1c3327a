#pragma once
// The window's words for what the core reports: Polish, with what to do next where the program
// knows it.
#include <QString>

#include "base/cause.h"
#include "storage/configtext.h"

namespace dovu::ui {

// The message's headline, as the window's box shows it.
QString polishText(Cause cause);
// The box's further text: the subject and the reason, the numbers the cause takes, and what to
// do next; empty when there is nothing more to say.
QString polishDetail(const Problem& problem);
// The subject, the reason and the detail on one line, for a sentence the caller words ("Nie
// zapisano kopii zapasowej: %1").
QString polishReason(const Problem& problem);
// A configuration told in the window's words: fields by their captions, "tak"/"nie".
ConfigWords polishConfigWords();

}  // namespace dovu::ui

#pragma once
// Windows-1250, the code page of the controller's texts and of the configuration file: one byte
// per character.  The five bytes the code page leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98)
// are carried as the C1 control characters of the same number, so that any text read from the
// controller goes back byte for byte.
#include <QChar>
#include <QString>

#include "base/bytes.h"

namespace dovu {

// Whether the character has a byte in the code page.
bool inCp1250(QChar c);

// One byte per character; a character without a byte becomes '?' (the key filters keep such
// characters out of the fields, so this only guards against texts from elsewhere).
Bytes toCp1250(const QString& text);

// Every byte is a character; the result survives toCp1250() unchanged.
QString fromCp1250(const Bytes& bytes);

}  // namespace dovu

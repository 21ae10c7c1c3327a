#pragma once
// File names as the system gives them.  On Linux a name is bytes and need not be UTF-8; a byte
// that is not part of valid UTF-8 is kept in a QString as the lone surrogate U+DC00 + byte, so
// that every file routine reaches the same file by the same path whatever the name's encoding.
#include <QByteArray>
#include <QString>

namespace dovu {

// The name's bytes, kept bytes included (Windows: Qt's own encoding).
QByteArray nativeFileName(const QString& name);
// The bytes as a QString, invalid UTF-8 kept byte by byte.
QString fileNameFromNative(const QByteArray& raw);
// The name for messages: kept bytes show as U+FFFD.
QString displayFileName(const QString& name);

}  // namespace dovu

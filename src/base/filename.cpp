#include "base/filename.h"

#include <QFile>

namespace dovu {
namespace {

constexpr char16_t kKeptByte = 0xDC00;

// Length of the valid UTF-8 sequence at raw[i], or 0 when the byte there does not start one.
[[maybe_unused]] int utf8SequenceAt(const QByteArray& raw, qsizetype i) {  // not on Windows
  const auto b = static_cast<unsigned char>(raw[i]);
  const int n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > raw.size()) return 0;
  if (n == 1) return 1;
  // The decoder refuses overlong forms, surrogates and values beyond U+10FFFF: a round trip tells.
  const QByteArray seq = raw.mid(i, n);
  const QString s = QString::fromUtf8(seq);
  return s.size() >= 1 && !s.contains(QChar::ReplacementCharacter) && s.toUtf8() == seq ? n : 0;
}

// A low surrogate with no high surrogate before it: a kept byte.
bool isKeptByte(const QString& s, qsizetype i) {
  return s[i].isLowSurrogate() && (i == 0 || !s[i - 1].isHighSurrogate());
}

}  // namespace

QByteArray nativeFileName(const QString& name) {
#ifdef Q_OS_WIN
  return QFile::encodeName(name);
#else
  QByteArray out;
  qsizetype start = 0;
  for (qsizetype i = 0; i < name.size(); ++i) {
    if (!isKeptByte(name, i)) continue;
    out += name.mid(start, i - start).toUtf8();
    out += static_cast<char>(name[i].unicode() - kKeptByte);
    start = i + 1;
  }
  return out + name.mid(start).toUtf8();
#endif
}

QString fileNameFromNative(const QByteArray& raw) {
#ifdef Q_OS_WIN
  return QFile::decodeName(raw);
#else
  const QString plain = QString::fromUtf8(raw);
  if (plain.toUtf8() == raw) return plain;
  QString out;
  for (qsizetype i = 0; i < raw.size();) {
    const int n = utf8SequenceAt(raw, i);
    if (n > 0) {
      out += QString::fromUtf8(raw.mid(i, n));
      i += n;
    } else {
      out += QChar(static_cast<char16_t>(kKeptByte + static_cast<unsigned char>(raw[i])));
      ++i;
    }
  }
  return out;
#endif
}

QString displayFileName(const QString& name) {
  QString out = name;
  for (qsizetype i = 0; i < out.size(); ++i)
    if (isKeptByte(out, i)) out[i] = QChar::ReplacementCharacter;
  return out;
}

}  // namespace dovu

#pragma once
// Polish plural forms of a count: "1 bajt", "2 bajty", "5 bajtów", "22 bajty", "25 bajtów".
#include <QString>

namespace dovu {

// The form for n: one for 1, few for 2–4 (but not 12–14) in the last digit, many otherwise.
inline const char* polishPluralForm(long long n, const char* one, const char* few, const char* many) {
  const long long a = n < 0 ? -n : n;
  if (a == 1) return one;
  const long long ten = a % 10, hundred = a % 100;
  return ten >= 2 && ten <= 4 && (hundred < 12 || hundred > 14) ? few : many;
}

// "%1 bajtów" worded for n: the number, a space and the form.
inline QString polishCount(long long n, const char* one, const char* few, const char* many) {
  return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(polishPluralForm(n, one, few, many)));
}

}  // namespace dovu

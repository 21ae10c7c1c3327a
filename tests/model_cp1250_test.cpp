// Windows-1250 conversion of the texts the controller and the configuration file carry.
#include <gtest/gtest.h>

#include <QStringDecoder>

#include "model/cp1250.h"

using namespace dovu;

TEST(Cp1250, EveryByteSurvivesARoundTrip) {
  Bytes all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const QString text = fromCp1250(all);
  ASSERT_EQ(text.size(), 256);
  for (QChar c : text) EXPECT_TRUE(inCp1250(c)) << int(c.unicode());
  EXPECT_EQ(toCp1250(text), all);
}

TEST(Cp1250, AgreesWithTheSystemCodec) {
  QStringDecoder system("windows-1250");
  if (!system.isValid()) GTEST_SKIP() << "Qt has no windows-1250 codec here";
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    const QString expected = system.decode(QByteArrayView(&byte, 1));
    EXPECT_EQ(fromCp1250(Bytes(1, byte)), expected) << "byte " << b;
  }
}

TEST(Cp1250, PolishLettersAndPunctuation) {
  const QString polish = QStringLiteral(u"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
  EXPECT_EQ(toCp1250(polish), Bytes("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF"
                                    "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF"));
  EXPECT_EQ(fromCp1250(toCp1250(polish)), polish);
  EXPECT_EQ(toCp1250(QStringLiteral(u"€„”–—…")), Bytes("\x80\x84\x94\x96\x97\x85"));
  EXPECT_EQ(fromCp1250(Bytes("\xA0\xFF")), QStringLiteral(u"\u00A0\u02D9"));
}

TEST(Cp1250, UndefinedBytesAndForeignCharacters) {
  // The five bytes without a character travel as the C1 controls of the same number.
  EXPECT_EQ(fromCp1250(Bytes("\x81\x83\x88\x90\x98")), QStringLiteral(u"\u0081\u0083\u0088\u0090\u0098"));
  EXPECT_TRUE(inCp1250(QChar(0x81)));
  EXPECT_FALSE(inCp1250(QChar(0x80)));  // 0x80 is the euro sign, not U+0080
  EXPECT_FALSE(inCp1250(QChar(0x9F)));
  EXPECT_FALSE(inCp1250(QChar(0x2713)));  // check mark
  EXPECT_FALSE(inCp1250(QChar(0x0451)));  // Cyrillic
  EXPECT_EQ(toCp1250(QStringLiteral(u"a✓b")), Bytes("a?b"));
  EXPECT_EQ(toCp1250(QStringLiteral(u"a😀b")), Bytes("a?b"));  // one '?' for a surrogate pair
  EXPECT_EQ(toCp1250(QString()), Bytes());
}

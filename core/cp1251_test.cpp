#include "core/cp1251.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qova {
namespace {

std::string Bytes(std::initializer_list<unsigned char> b) {
  return std::string(b.begin(), b.end());
}

TEST(Cp1251, KnownWordBytes) {
  EXPECT_EQ(Utf8ToCp1251("Ошибка"), Bytes({0xCE, 0xF8, 0xE8, 0xE1, 0xEA, 0xE0}));
  EXPECT_EQ(Utf8ToCp1251("ёЁ№"), Bytes({0xB8, 0xA8, 0xB9}));
  EXPECT_EQ(Utf8ToCp1251("АЯая"), Bytes({0xC0, 0xDF, 0xE0, 0xFF}));
  EXPECT_EQ(Utf8ToCp1251("x = 1;\r\n"), "x = 1;\r\n");
}

TEST(Cp1251, ProgramTextsRoundTrip) {
  for (const std::string text :
       {"Невозможно найти точки. Попробуйте изменить параметры.", "Статистика по яркости",
        "Ёлка, ёж, № 5 — «кавычки» € ™", "Файл plate07r.crd уже существует. Перезаписать?"}) {
    const std::string bytes = Utf8ToCp1251(text);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '?'),
              std::count(text.begin(), text.end(), '?'))
        << text;  // every character has a byte of its own
    EXPECT_EQ(Cp1251ToUtf8(bytes), text);
  }
  EXPECT_EQ(Utf8ToCp1251("Статистика").size(), 10u);  // one byte per letter
}

TEST(Cp1251, EveryAssignedByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    if (b == 0x98) continue;
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << "byte " << b;
  }
  EXPECT_EQ(Cp1251ToUtf8(Bytes({0x98})), "\xEF\xBF\xBD");  // unassigned: U+FFFD
}

TEST(Cp1251, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("日本"), "??");
  EXPECT_EQ(Utf8ToCp1251("a😀b"), "a?b");
  EXPECT_EQ(Utf8ToCp1251("Ä"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xEF\xBF\xBD"), "?");
}

TEST(Cp1251, MalformedUtf8NeverBecomesAscii) {
  // Truncated and stray bytes.
  EXPECT_EQ(Utf8ToCp1251("a\xD0"), "a?");
  EXPECT_EQ(Utf8ToCp1251("\x80z"), "?z");
  EXPECT_EQ(Utf8ToCp1251("\xD0z"), "?z");  // the byte after a broken lead is kept
  // Overlong forms of '.', 'A' and NUL, an out-of-range lead, a surrogate.
  EXPECT_EQ(Utf8ToCp1251("\xC0\xAE"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xC1\x81"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xE0\x80\x80"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xF0\x80\x80\xAE"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xF8\x80\x80\x80"), std::string("?\?\?\?"));
  EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "?");
  EXPECT_EQ(Utf8ToCp1251("\xF4\x90\x80\x80"), "?");  // beyond U+10FFFF
  // A 2-byte overlong Cyrillic-looking form must not map to a letter either.
  EXPECT_EQ(Utf8ToCp1251("\xE0\x90\x9E"), "?");  // overlong U+041E
}

}  // namespace
}  // namespace qova

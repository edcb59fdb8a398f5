#include "core/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace qova {
namespace {

std::string F(double v, char sep = '.') { return FormatGeneral(v, sep); }

TEST(FormatGeneral, ExamplesWithBothSeparators) {
  EXPECT_EQ(F(512.0), "512");
  EXPECT_EQ(F(384.0, ','), "384");
  EXPECT_EQ(F(123.456), "123.456");
  EXPECT_EQ(F(123.456, ','), "123,456");
  EXPECT_EQ(F(20.5, ','), "20,5");
  EXPECT_EQ(F(100.0 / 3), "33.3333333333333");
  EXPECT_EQ(F(100.0 / 3, ','), "33,3333333333333");
  EXPECT_EQ(F(0.1 + 0.2), "0.3");
  EXPECT_EQ(F(0.1 + 0.2, ','), "0,3");
  EXPECT_EQ(F(1234.56789012345678), "1234.56789012346");
  EXPECT_EQ(F(2.0 / 3), "0.666666666666667");  // rounded, not cut
}

TEST(FormatGeneral, FixedOrScientificByMagnitude) {
  EXPECT_EQ(F(0.0001), "0.0001");
  EXPECT_EQ(F(0.00012345), "0.00012345");
  EXPECT_EQ(F(0.00001), "1E-5");
  EXPECT_EQ(F(0.00001, ','), "1E-5");
  EXPECT_EQ(F(0.000015, ','), "1,5E-5");
  EXPECT_EQ(F(1.5e20), "1.5E20");
  EXPECT_EQ(F(1.5e20, ','), "1,5E20");
  EXPECT_EQ(F(123456789012345.0), "123456789012345");
  EXPECT_EQ(F(1234567890123456.0), "1.23456789012346E15");
  EXPECT_EQ(F(1e15), "1E15");
  // Rounding to 15 digits decides: 999999999999999.5 becomes 1E15.
  EXPECT_EQ(F(999999999999999.4), "999999999999999");
  EXPECT_EQ(F(999999999999999.5), "1E15");
  EXPECT_EQ(F(0.000099999999999999999), "0.0001");
  EXPECT_EQ(F(1e100), "1E100");
  EXPECT_EQ(F(1e-100), "1E-100");
}

TEST(FormatGeneral, SignsAndZero) {
  EXPECT_EQ(F(0.0), "0");
  EXPECT_EQ(F(-0.0), "0");
  EXPECT_EQ(F(-512.0), "-512");
  EXPECT_EQ(F(-20.5, ','), "-20,5");
  EXPECT_EQ(F(-0.25), "-0.25");
  EXPECT_EQ(F(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(F(-1.5e20), "-1.5E20");
}

TEST(FormatGeneral, RoundTripsThroughParseFloatAt15Digits) {
  for (double v : {0.0, 1.0, 123.456, 100.0 / 3, 1e-5, 7.25e19, -3.5, 4095.999999}) {
    for (char sep : {'.', ','}) {
      const auto back = ParseFloat(F(v, sep), sep);
      ASSERT_TRUE(back.has_value()) << F(v, sep);
      EXPECT_EQ(F(*back, sep), F(v, sep));
    }
  }
}

TEST(ParseFloat, AcceptsNumbersWithTheGivenSeparator) {
  EXPECT_EQ(ParseFloat("20.5", '.'), 20.5);
  EXPECT_EQ(ParseFloat("20,5", ','), 20.5);
  EXPECT_EQ(ParseFloat("-0,25", ','), -0.25);
  EXPECT_EQ(ParseFloat("+3", '.'), 3.0);
  EXPECT_EQ(ParseFloat("  7 ", '.'), 7.0);
  EXPECT_EQ(ParseFloat("1E-5", '.'), 1e-5);
  EXPECT_EQ(ParseFloat("1,5E20", ','), 1.5e20);
  EXPECT_EQ(ParseFloat("2e+3", '.'), 2000.0);
  EXPECT_EQ(ParseFloat("0", ','), 0.0);
}

TEST(ParseFloat, RejectsOtherSeparatorAndJunk) {
  EXPECT_EQ(ParseFloat("20,5", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("20.5", ','), std::nullopt);
  EXPECT_EQ(ParseFloat("abc", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("   ", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("5a", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("-", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat(".", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("1e", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("1e+", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("--1", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("1 2", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("0x10", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("inf", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("nan", '.'), std::nullopt);
  EXPECT_EQ(ParseFloat("1e400", '.'), std::nullopt);  // does not fit a double
}

TEST(ParseInt, DecimalAndHex) {
  EXPECT_EQ(ParseInt("2"), 2);
  EXPECT_EQ(ParseInt("-7"), -7);
  EXPECT_EQ(ParseInt("+7"), 7);
  EXPECT_EQ(ParseInt(" 16777215 "), 16777215);
  EXPECT_EQ(ParseInt("0x1"), 1);
  EXPECT_EQ(ParseInt("0X1f"), 31);
  EXPECT_EQ(ParseInt("-0x10"), -16);
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt("-2147483648"), -2147483647 - 1);
}

TEST(ParseInt, RejectsWhatIsNotA32BitInteger) {
  EXPECT_EQ(ParseInt("true"), std::nullopt);
  EXPECT_EQ(ParseInt("7.9"), std::nullopt);
  EXPECT_EQ(ParseInt("--5"), std::nullopt);
  EXPECT_EQ(ParseInt("+-5"), std::nullopt);
  EXPECT_EQ(ParseInt("-+5"), std::nullopt);
  EXPECT_EQ(ParseInt("0x-1"), std::nullopt);
  EXPECT_EQ(ParseInt("0x"), std::nullopt);
  EXPECT_EQ(ParseInt("0xg"), std::nullopt);
  EXPECT_EQ(ParseInt(""), std::nullopt);
  EXPECT_EQ(ParseInt("-"), std::nullopt);
  EXPECT_EQ(ParseInt("5a"), std::nullopt);
  EXPECT_EQ(ParseInt("2147483648"), std::nullopt);
  EXPECT_EQ(ParseInt("-2147483649"), std::nullopt);
  EXPECT_EQ(ParseInt("0x100000000"), std::nullopt);
  EXPECT_EQ(ParseInt("99999999999999999999999"), std::nullopt);
}

// Sets LC_ALL for one test and puts the old value back.
class LocaleDecimalSeparatorTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("LC_ALL");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
  }
  void TearDown() override {
    if (hadOld_)
      setenv("LC_ALL", old_.c_str(), 1);
    else
      unsetenv("LC_ALL");
  }
  static bool Installed(const char* name) {
    locale_t loc = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) return false;
    freelocale(loc);
    return true;
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

TEST_F(LocaleDecimalSeparatorTest, RussianUsesComma) {
  if (!Installed("ru_RU.UTF-8")) GTEST_SKIP() << "ru_RU.UTF-8 locale not installed";
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  EXPECT_EQ(LocaleDecimalSeparator(), ',');
}

TEST_F(LocaleDecimalSeparatorTest, CUsesPoint) {
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
}

TEST_F(LocaleDecimalSeparatorTest, UnknownLocaleFallsBackToPoint) {
  setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
}

TEST_F(LocaleDecimalSeparatorTest, ProcessLocaleIsLeftAlone) {
  if (!Installed("ru_RU.UTF-8")) GTEST_SKIP() << "ru_RU.UTF-8 locale not installed";
  setenv("LC_ALL", "ru_RU.UTF-8", 1);
  LocaleDecimalSeparator();
  EXPECT_STREQ(localeconv()->decimal_point, ".");  // still the "C" locale
}

}  // namespace
}  // namespace qova

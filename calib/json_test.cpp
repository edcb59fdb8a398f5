#include "calib/json.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace qova::calib {
namespace {

TEST(Json, EveryDoubleReadsBackBitForBit) {
  std::mt19937_64 random(5);
  std::vector<double> values = {0.0,
                                -0.0,
                                1.0,
                                0.1,
                                1e-300,
                                std::numeric_limits<double>::denorm_min(),
                                std::numeric_limits<double>::min(),
                                std::numeric_limits<double>::max(),
                                -std::numeric_limits<double>::max(),
                                123456789012345678.0,
                                2.0 / 3.0};
  for (int k = 0; k < 20000; ++k) {
    // Random bit patterns (finite ones): every exponent, every mantissa.
    const double v = std::bit_cast<double>(random());
    if (std::isfinite(v)) values.push_back(v);
  }
  const Json written = Json::Numbers(values);
  const Json read = Json::Parse(written.Write());
  ASSERT_EQ(read.Items().size(), values.size());
  for (size_t i = 0; i < values.size(); ++i)
    ASSERT_EQ(std::bit_cast<uint64_t>(read.Items()[i].AsNumber()),
              std::bit_cast<uint64_t>(values[i]))
        << ShortestNumber(values[i]);
}

TEST(Json, NumbersAreWrittenWithAPointWhateverTheLocale) {
  EXPECT_EQ(ShortestNumber(0.5), "0.5");
  EXPECT_EQ(ShortestNumber(-2), "-2");
  EXPECT_EQ(ShortestNumber(1e-7), "1e-07");
  EXPECT_EQ(Json::Numbers({NAN, INFINITY, 1}).Write(), "[null, null, 1]\n");
}

TEST(Json, ObjectsKeepTheirOrderAndStringsTheirText) {
  Json doc = Json::Object();
  doc.Set("b", 1);
  doc.Set("a", "line\nend \"quoted\" \\ \x01 Ж");
  doc.Set("list", Json::Array());
  Json nested = Json::Object();
  nested.Set("t", true);
  nested.Set("n", Json());
  doc.Set("nested", nested);
  const Json read = Json::Parse(doc.Write());
  ASSERT_EQ(read.Members().size(), 4u);
  EXPECT_EQ(read.Members()[0].first, "b");
  EXPECT_EQ(read.Find("a")->AsString(), "line\nend \"quoted\" \\ \x01 Ж");
  EXPECT_TRUE(read.Find("nested")->Find("t")->AsBool());
  EXPECT_TRUE(read.Find("nested")->Find("n")->IsNull());
  EXPECT_EQ(read.Write(), doc.Write());
  EXPECT_EQ(Json::Parse(R"("\u0416\ud83d\ude00")").AsString(), "Ж😀");
}

TEST(Json, TextThatIsNotJsonIsRefusedWithWhere) {
  for (const char* bad : {"",
                          " ",
                          "{",
                          "[1,]",
                          "[1 2]",
                          "{\"a\":1,}",
                          "{\"a\" 1}",
                          "{a:1}",
                          "01",
                          "1.",
                          ".5",
                          "+1",
                          "1e",
                          "-",
                          "tru",
                          "nul",
                          "\"open",
                          "\"\\x\"",
                          "\"\\ud800\"",
                          "\"\\udc00x\"",
                          "1e400",
                          "[1] 2",
                          "\"tab\there\"",
                          "\"\xff\"",
                          "\"\xc0\xaf\"",
                          "\"\xed\xa0\x80\"",
                          "NaN",
                          "Infinity",
                          "{\"a\":1,\"a\":2}"}) {
    EXPECT_THROW(Json::Parse(bad), JsonSyntaxError) << bad;
  }
  try {
    Json::Parse("[1, 2, x]");
    FAIL();
  } catch (const JsonSyntaxError& e) {
    EXPECT_EQ(e.offset(), 7u);
    EXPECT_NE(std::string(e.what()).find("byte 7"), std::string::npos);
  }
  // Deep nesting is refused, not a stack overflow.
  EXPECT_THROW(Json::Parse(std::string(100000, '[')), JsonSyntaxError);
  EXPECT_NO_THROW(Json::Parse(std::string(150, '[') + std::string(150, ']')));
  // Underflow reads as the nearest double.
  EXPECT_EQ(Json::Parse("1e-400").AsNumber(), 0.0);
}

}  // namespace
}  // namespace qova::calib

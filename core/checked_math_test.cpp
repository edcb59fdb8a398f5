#include "core/checked_math.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace qova {
namespace {

template <class F>
std::string ArithmeticText(F f) {
  try {
    f();
  } catch (const ArithmeticError& e) {
    return e.what();
  }
  return "(no error)";
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(CheckedMath, DivisionByZeroAndInvalidOperations) {
  EXPECT_EQ(ArithmeticText([] { Div(1, 0); }), "Floating point division by zero");
  EXPECT_EQ(ArithmeticText([] { Div(-1, -0.0); }), "Floating point division by zero");
  EXPECT_EQ(ArithmeticText([] { Div(0, 0); }), "Invalid floating point operation");
  EXPECT_EQ(ArithmeticText([] { Div(kNaN, 2); }), "Invalid floating point operation");
  EXPECT_EQ(ArithmeticText([] { Div(1e308, 1e-308); }), "Floating point overflow");
  EXPECT_EQ(Div(7, 2), 3.5);
  EXPECT_EQ(ArithmeticText([] { Sqrt(-1); }), "Invalid floating point operation");
  EXPECT_EQ(ArithmeticText([] { Sqrt(kNaN); }), "Invalid floating point operation");
  EXPECT_EQ(Sqrt(9), 3.0);
  EXPECT_EQ(Sqrt(0), 0.0);
}

TEST(CheckedMath, FiniteRejectsInfinityAndNaN) {
  EXPECT_EQ(ArithmeticText([] { Finite(kInf); }), "Floating point overflow");
  EXPECT_EQ(ArithmeticText([] { Finite(-kInf); }), "Floating point overflow");
  EXPECT_EQ(ArithmeticText([] { Finite(kNaN); }), "Invalid floating point operation");
  EXPECT_EQ(Finite(-2.5), -2.5);
}

TEST(CheckedMath, TruncTowardZeroWithinInt) {
  EXPECT_EQ(Trunc(-2.7), -2);
  EXPECT_EQ(Trunc(2.7), 2);
  EXPECT_EQ(Trunc(-0.9), 0);
  EXPECT_EQ(Trunc(2147483647.9), 2147483647);
  EXPECT_EQ(Trunc(-2147483648.9), -2147483647 - 1);
  EXPECT_EQ(ArithmeticText([] { Trunc(3e9); }), "Invalid floating point operation");
  EXPECT_THROW(Trunc(2147483648.0), ArithmeticError);
  EXPECT_THROW(Trunc(-2147483649.0), ArithmeticError);
  EXPECT_THROW(Trunc(kNaN), ArithmeticError);
  EXPECT_THROW(Trunc(-kInf), ArithmeticError);
}

TEST(CheckedMath, ErrorsAreQovaErrors) { EXPECT_THROW(Div(1, 0), QovaError); }

}  // namespace
}  // namespace qova

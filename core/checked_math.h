#pragma once
// Floating-point arithmetic that raises instead of producing an infinity or a
// NaN. The detection relies on degenerate input (a zero-width band, parallel
// lines, an empty region) ending in an error with a message, so every place
// where such a value can arise goes through these helpers.

#include <cmath>
#include <cstdint>
#include <limits>

#include "core/qova_error.h"

namespace qova {

inline constexpr const char* kZeroDivideText = "Floating point division by zero";
inline constexpr const char* kInvalidOpText = "Invalid floating point operation";
inline constexpr const char* kOverflowText = "Floating point overflow";

[[noreturn]] void ThrowZeroDivide();
[[noreturn]] void ThrowInvalidOp();
[[noreturn]] void ThrowOverflow();

// The result of an operation must be finite: NaN is an invalid operation,
// an infinity an overflow.
inline double Finite(double v) {
  if (std::isnan(v)) ThrowInvalidOp();
  if (std::isinf(v)) ThrowOverflow();
  return v;
}

// a / b; 0/0 is an invalid operation, x/0 a division by zero.
inline double Div(double a, double b) {
  if (b == 0.0) {
    if (a == 0.0 || std::isnan(a)) ThrowInvalidOp();
    ThrowZeroDivide();
  }
  return Finite(a / b);
}

// Square root; a negative argument is an invalid operation.
inline double Sqrt(double v) {
  if (v < 0.0 || std::isnan(v)) ThrowInvalidOp();
  return Finite(std::sqrt(v));
}

// Truncation toward zero to a 32-bit int; a value out of range is an error,
// never undefined behaviour.
inline int32_t Trunc(double v) {
  if (!(v > -2147483649.0 && v < 2147483648.0)) ThrowInvalidOp();
  return static_cast<int32_t>(v);
}

}  // namespace qova

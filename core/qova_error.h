#pragma once
// Errors are exceptions that carry the message the user will see.

#include <stdexcept>
#include <string>

namespace qova {

// Any error of the program; its what() is the user-facing text.
class QovaError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Division by zero, invalid operation or overflow in floating-point arithmetic,
// or a double that does not fit the integer it is converted to.
class ArithmeticError : public QovaError {
 public:
  using QovaError::QovaError;
};

// An index outside a list or an array.
class RangeError : public QovaError {
 public:
  using QovaError::QovaError;
};

// The user cancelled a detection run (Cancel, No); ends the run like an error.
class RunCancelled : public QovaError {
 public:
  RunCancelled() : QovaError("Operation cancelled") {}
};

}  // namespace qova
